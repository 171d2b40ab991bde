#include "gui/join/join_tab.h"

#include <QAction>
#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include <string>
#include <vector>

#include "base/config.h"
#include "base/questions.h"
#include "base/tasks.h"
#include "check/side_files.h"
#include "gui/common/task_window.h"
#include "gui/common/widgets.h"
#include "join/join.h"

namespace {

constexpr const char* kTaskName = "doJOIN";
constexpr const char* kCaptionClear = "очистить список";
constexpr const char* kCaptionAdd = "добавить в список";
constexpr const char* kCaptionRemove = "удалить";
constexpr const char* kCaptionJoin = "склеить";
constexpr const char* kNameHint = "сгенерить имя выходного файла";
constexpr const char* kMenuHint = "правая кнопка мыши в левом окне - вызов меню";
constexpr const char* kNothingToJoin = "нечего клеить. добавьте файлы в список";
constexpr const char* kOverwrite = "файл с таким именем уже существует. перезаписать?";
constexpr const char* kNoOutputName =
    "укажите имя выходного файла (кнопка слева от поля предложит его)";
constexpr const char* kCaptionAddButton = "добавить файлы…";

constexpr int kPictureSize = 20;

// The picture of ImageSUM: a sheet with a folded corner and a pen writing a name on it.
QPixmap NamePicture(int size) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  QPolygonF sheet({QPointF(s * 0.15, s * 0.08), QPointF(s * 0.60, s * 0.08),
                   QPointF(s * 0.80, s * 0.28), QPointF(s * 0.80, s * 0.92),
                   QPointF(s * 0.15, s * 0.92)});
  p.setPen(QPen(QColor(70, 70, 70), 1));
  p.setBrush(Qt::white);
  p.drawPolygon(sheet);
  p.drawPolyline(QPolygonF(
      {QPointF(s * 0.60, s * 0.08), QPointF(s * 0.60, s * 0.28), QPointF(s * 0.80, s * 0.28)}));
  p.setPen(QPen(QColor(0, 0, 160), 1.2));
  for (qreal y : {0.42, 0.56, 0.70}) p.drawLine(QPointF(s * 0.26, s * y), QPointF(s * 0.58, s * y));
  // The pen across the lower right corner.
  p.setPen(QPen(QColor(120, 60, 0), s * 0.13, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(s * 0.55, s * 0.85), QPointF(s * 0.93, s * 0.45));
  p.setPen(QPen(QColor(230, 190, 40), s * 0.08, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(s * 0.60, s * 0.80), QPointF(s * 0.90, s * 0.48));
  return pm;
}

}  // namespace

// ---- the list ---------------------------------------------------------------------------------

JoinList::JoinList(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setDragEnabled(true);
  setAcceptDrops(true);
  viewport()->setAcceptDrops(true);
  setDropIndicatorShown(false);
  setDragDropMode(QAbstractItemView::DragDrop);
  setDefaultDropAction(Qt::MoveAction);
}

void JoinList::mousePressEvent(QMouseEvent* event) {
  pressPos_ = event->position().toPoint();
  QListWidget::mousePressEvent(event);
}

void JoinList::startDrag(Qt::DropActions) {
  // The drag carries the row under the mouse when it was pressed; the items stay where they
  // are until the drop moves one of them.
  const int source = indexAt(pressPos_).row();
  Q_EMIT dragStarted(source);
  auto* mime = new QMimeData;
  mime->setData(QLatin1String(kMimeType), QByteArray::number(source));
  auto* drag = new QDrag(this);
  drag->setMimeData(mime);
  drag->exec(Qt::MoveAction, Qt::MoveAction);
}

void JoinList::paintEvent(QPaintEvent* event) {
  QListWidget::paintEvent(event);
  if (count() > 0) return;
  QPainter p(viewport());
  p.setPen(palette().color(QPalette::Disabled, QPalette::Text));
  p.drawText(viewport()->rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap,
             QString::fromUtf8(kEmptyHint));
}

void JoinList::dragEnterEvent(QDragEnterEvent* event) { event->acceptProposedAction(); }

void JoinList::dragMoveEvent(QDragMoveEvent* event) { event->acceptProposedAction(); }

void JoinList::dropEvent(QDropEvent* event) {
  const QMimeData* mime = event->mimeData();
  if (!mime->hasFormat(QLatin1String(kMimeType)) && mime->hasUrls()) {
    QStringList files;
    for (const QUrl& url : mime->urls())
      if (url.isLocalFile()) files << QFileInfo(url.toLocalFile()).absoluteFilePath();
    event->setDropAction(Qt::CopyAction);
    event->accept();
    if (!files.isEmpty()) Q_EMIT filesDropped(files);
    return;
  }
  const int target = indexAt(event->position().toPoint()).row();
  // Accepted as a copy, so that nothing on the dragging side removes an item.
  event->setDropAction(Qt::CopyAction);
  event->accept();
  Q_EMIT dropped(event->source(), target);
}

// ---- the tab ----------------------------------------------------------------------------------

JoinTab::JoinTab(TaskWindow& window, QWidget* tab) : QObject(tab), window_(window), tab_(tab) {
  setObjectName("JoinTab");

  auto* tabLayout = new QHBoxLayout(tab_);
  tabLayout->setContentsMargins(3, 3, 3, 3);
  tabLayout->setSpacing(4);

  JList = Named(new JoinList(tab_), "JList");
  JList->setContextMenuPolicy(Qt::CustomContextMenu);
  PopupJO = Named(new QMenu(JList), "PopupJO");
  N2 = Named(new QAction(Q(kCaptionClear), PopupJO), "N2");
  N1 = Named(new QAction(Q(kCaptionAdd), PopupJO), "N1");
  N3 = Named(new QAction(Q(kCaptionRemove), PopupJO), "N3");
  PopupJO->addAction(N2);
  PopupJO->addAction(N1);
  PopupJO->addAction(N3);
  PopupJO->setFont(tab_->font());
  tabLayout->addWidget(JList, 1);

  // The right side: the notice at the top, the output name, the start button, the status.
  PanelSR = Named(new QWidget(tab_), "PanelSR");
  auto* sr = new QVBoxLayout(PanelSR);
  sr->setContentsMargins(4, 4, 2, 2);
  sr->setSpacing(4);

  LabelJINFO = Named(new QLabel(PanelSR), "LabelJINFO");
  LabelJINFO->setAlignment(Qt::AlignCenter);
  QFont infoFont = LabelJINFO->font();
  infoFont.setBold(true);
  LabelJINFO->setFont(infoFont);
  // The notice is there from the start, so that the panel is made wide enough for it.
  LabelJINFO->setText(QString::fromUtf8(rv::kJoinNotice));
  sr->addWidget(LabelJINFO, 0, Qt::AlignHCenter);
  BitBtnADD = Named(new QPushButton(Q(kCaptionAddButton), PanelSR), "BitBtnADD");
  sr->addWidget(BitBtnADD, 0, Qt::AlignLeft);
  sr->addStretch(1);

  auto* nameRow = new QHBoxLayout;
  nameRow->setSpacing(2);
  ImageSUM = Named(new PictureButton(PanelSR), "ImageSUM");
  ImageSUM->SetPicture(NamePicture(kPictureSize), QStringLiteral("ImageSUM"));
  ImageSUM->setToolTip(Q(kNameHint));
  EditSUM = Named(new QLineEdit(PanelSR), "EditSUM");
  nameRow->addWidget(ImageSUM);
  nameRow->addWidget(EditSUM, 1);
  sr->addLayout(nameRow);

  auto* startRow = new QHBoxLayout;
  startRow->setSpacing(3);
  BitBtnSUM = Named(new QPushButton(Q(kCaptionJoin), PanelSR), "BitBtnSUM");
  BitBtnSUM->setMinimumWidth(100);
  GaugeZ = Named(new PieGauge(PanelSR), "GaugeZ");
  GaugeZ->setFixedSize(kPictureSize + 6, kPictureSize + 6);
  KeepPlace(GaugeZ);
  GaugeZ->hide();
  ImageZ = Named(new PictureButton(PanelSR), "ImageZ");
  ImageZ->SetPicture(pictures::Draw(pictures::Kind::Stop, kPictureSize), QStringLiteral("ImageZ"));
  ImageZ->setToolTip(Q("прервать"));
  KeepPlace(ImageZ);
  ImageZ->hide();
  startRow->addWidget(BitBtnSUM);
  startRow->addStretch(1);
  startRow->addWidget(GaugeZ);
  startRow->addWidget(ImageZ);
  sr->addLayout(startRow);

  LabelME = Named(new QLabel(PanelSR), "LabelME");
  LabelME->setWordWrap(true);
  LabelME->setMinimumHeight(LabelME->fontMetrics().height() * 2 + 4);
  LabelME->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  sr->addWidget(LabelME);
  // The panel keeps the width its notice needs; the list takes the rest.
  tabLayout->addWidget(PanelSR, 0);

  followTimer_.setInterval(kFollowPeriodMs);
  connect(&followTimer_, &QTimer::timeout, this, &JoinTab::Follow);

  connect(JList, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { PopupJO->popup(JList->viewport()->mapToGlobal(pos)); });
  connect(N1, &QAction::triggered, this, &JoinTab::N1Click);
  connect(BitBtnADD, &QPushButton::clicked, this, &JoinTab::N1Click);
  connect(N2, &QAction::triggered, this, &JoinTab::N2Click);
  connect(N3, &QAction::triggered, this, &JoinTab::N3Click);
  connect(JList, &JoinList::dragStarted, this, &JoinTab::JListStartDrag);
  connect(JList, &JoinList::dropped, this, &JoinTab::JListDragDrop);
  connect(JList, &JoinList::filesDropped, this, &JoinTab::JListFilesDropped);
  connect(ImageSUM, &QToolButton::clicked, this, &JoinTab::ImageSUMClick);
  connect(BitBtnSUM, &QPushButton::clicked, this, &JoinTab::BitBtnSUMClick);
  connect(ImageZ, &QToolButton::clicked, this, &JoinTab::ImageZClick);
  tab_->installEventFilter(this);
}

void JoinTab::SetFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }

QStringList JoinTab::Items() const {
  QStringList items;
  for (int i = 0; i < JList->count(); ++i) items << JList->item(i)->text();
  return items;
}

bool JoinTab::eventFilter(QObject* watched, QEvent* event) {
  if (watched == tab_ && event->type() == QEvent::Show && !event->spontaneous()) TabSheetJOINShow();
  return QObject::eventFilter(watched, event);
}

void JoinTab::TabSheetJOINShow() {
  LabelME->clear();
  LabelJINFO->setText(QString::fromUtf8(rv::kJoinNotice));
}

QStringList JoinTab::ChooseFiles(const QString& dir) {
  if (chooser_) return chooser_(dir);
  return ChooseFilesToOpen(window_.DialogParent(), dir, Q(kFileFilter), true);
}

void JoinTab::N1Click() {
  // The directory is the one the repair tab's file choice uses too.
  // The folder of the last file in the list, else of the repair tab's file.
  QString dir = window_.LastDir();
  if (dir.isEmpty()) dir = QString::fromStdString(rv::ProgramDir());
  dir = DialogFolder(window_.InputName(), dir);
  if (JList->count() > 0) dir = DialogFolder(JList->item(JList->count() - 1)->text(), dir);
  JListFilesDropped(ChooseFiles(dir));
}

void JoinTab::N2Click() {
  JList->clear();
  ListChanged();
}

void JoinTab::N3Click() {
  for (int i = JList->count() - 1; i >= 0; --i)
    if (JList->item(i)->isSelected()) delete JList->takeItem(i);
  ListChanged();
}

void JoinTab::ListChanged() {
  LabelME->clear();
  LabelJINFO->setText(QString::fromUtf8(rv::kJoinNotice));
  if (JList->count() == 0 || rv::WorkerExists()) return;
  // A name the user typed stays; an empty or proposed one follows the first file.
  if (EditSUM->text().isEmpty() || EditSUM->text() == proposedName_) {
    proposedName_ = QString::fromStdString(rv::JoinedName(JList->item(0)->text().toStdString()));
    EditSUM->setText(proposedName_);
  }
}

void JoinTab::JListStartDrag(int source) { dragSource_ = source; }

void JoinTab::JListFilesDropped(const QStringList& files) {
  if (files.isEmpty()) return;
  JList->addItems(files);
  window_.SetLastDir(QFileInfo(files.first()).absolutePath());
  ListChanged();
}

void JoinTab::JListDragDrop(QObject* source, int target) {
  // Both ends of the drag must be list boxes.
  if (!qobject_cast<QListWidget*>(source)) return;
  const int s = dragSource_;
  const int n = JList->count();
  if (s < 0 || target < 0 || s >= n || target >= n || s == target) return;
  std::vector<std::string> items;
  items.reserve(size_t(n));
  for (int i = 0; i < n; ++i) items.push_back(JList->item(i)->text().toStdString());
  rv::MoveItem(items, s, target);
  for (int i = 0; i < n; ++i) JList->item(i)->setText(QString::fromStdString(items[size_t(i)]));
  JList->setCurrentRow(target, QItemSelectionModel::ClearAndSelect);
  ListChanged();
}

void JoinTab::ImageSUMClick() {
  if (JList->count() == 0) {
    LabelME->setText(Q(kMenuHint));
    return;
  }
  proposedName_ = QString::fromStdString(rv::JoinedName(JList->item(0)->text().toStdString()));
  EditSUM->setText(proposedName_);
}

void JoinTab::BitBtnSUMClick() {
  if (rv::WorkerExists()) return;
  if (JList->count() == 0) {
    LabelME->setText(Q(kNothingToJoin));
    return;
  }
  if (EditSUM->text().trimmed().isEmpty()) {
    LabelME->setText(Q(kNoOutputName));
    return;
  }
  const std::string output = EditSUM->text().toStdString();
  if (rv::FileExists(output) && !rv::AskYesNo(kOverwrite)) return;

  rv::JoinState& j = rv::Join();
  j.files.clear();
  for (int i = 0; i < JList->count(); ++i) j.files.push_back(JList->item(i)->text().toStdString());
  j.output = output;
  j.gauge = 0;
  j.gaugeVisible = false;
  // Only what this run says is shown from here on.
  shownGeneration_ = j.generation.load();
  ImageZ->show();
  if (!window_.StartTask(QLatin1String(kTaskName))) {
    ImageZ->hide();
    return;
  }
  followTimer_.start();
}

void JoinTab::ImageZClick() { rv::RequestStop(); }

void JoinTab::Follow() {
  rv::JoinState& j = rv::Join();
  const uint64_t generation = j.generation.load();
  if (generation != shownGeneration_) {
    shownGeneration_ = generation;
    LabelME->setText(QString::fromStdString(j.Status()));
  }
  const bool gaugeVisible = j.gaugeVisible.load();
  if (gaugeVisible) GaugeZ->SetProgress(j.gauge.load());
  if (GaugeZ->isHidden() == gaugeVisible) GaugeZ->setVisible(gaugeVisible);
  // A killed task has no completion: nothing is left to follow.
  if (!rv::WorkerExists()) followTimer_.stop();
}

void JoinTab::TaskCompleted(int, int) {
  if (rv::TaskCommand() != kTaskName) return;
  followTimer_.stop();
  Follow();
  GaugeZ->hide();
  ImageZ->hide();
}
