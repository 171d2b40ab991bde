#include "gui/main_window/header_panels.h"

#include <QAction>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollBar>
#include <QSet>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

#include <algorithm>
#include <map>

#include "base/tasks.h"
#include "gui/common/task_window.h"
#include "gui/common/widgets.h"
#include "gui/main_window/repair_tab.h"
#include "riff/blocks.h"
#include "riff/header.h"
#include "riff/source.h"

namespace {

constexpr const char* kMIavih = "изменить параметры 'avih'";
constexpr const char* kMIstrh = "изменить параметры 'strh'";
constexpr const char* kMIvstrf = "изменить параметры 'strf' video";
constexpr const char* kMIastrf = "изменить параметры 'strf' audio";
constexpr const char* kMIread = "прочитать сколько есть";

// Looks of the codec-data field without codec data.
const QColor kSilver(192, 192, 192);
const QColor kGrayText(128, 128, 128);
// The title bar: a caption in white on navy, as a window's caption.
const QColor kTitleBack(0, 0, 128);

constexpr int kNumberWidth = 84;
constexpr int kCodecWidth = 260;
constexpr int kApplySize = 20;
constexpr int kCloseSize = 12;
// Part of a panel that always stays inside the window while it is moved, so that its title
// bar can be taken again.
constexpr int kKeepVisible = 40;

// The apply picture: a green tick.
QPixmap ApplyPicture() {
  QPixmap pm(kApplySize, kApplySize);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  QPainterPath tick;
  tick.moveTo(3.5, 10.5);
  tick.lineTo(8.0, 15.5);
  tick.lineTo(16.5, 4.5);
  p.setPen(QPen(QColor(0, 100, 0), 4.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPath(tick);
  p.setPen(QPen(QColor(40, 190, 40), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPath(tick);
  return pm;
}

// The close picture of a title bar: a white cross.
QPixmap ClosePicture() {
  QPixmap pm(kCloseSize, kCloseSize);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(2.5, 2.5), QPointF(kCloseSize - 2.5, kCloseSize - 2.5));
  p.drawLine(QPointF(kCloseSize - 2.5, 2.5), QPointF(2.5, kCloseSize - 2.5));
  return pm;
}

bool IsFormat(const std::string& record) { return record == "vstrf" || record == "astrf"; }

// "EditATBF" -> "LabelATBF": the caption of a field is named after its text field.
QString LabelName(const char* editName) {
  QString name = QString::fromLatin1(editName);
  if (name.startsWith(QLatin1String("Edit"))) name.remove(0, 4);
  return QLatin1String("Label") + name;
}

}  // namespace

// ---- key filters --------------------------------------------------------------------------------

namespace keyfilter {

const char* AcceptedBy(rv::FieldKind kind) {
  switch (kind) {
    case rv::FieldKind::Signed32:
    case rv::FieldKind::Low16:
    case rv::FieldKind::CbSize: return kDecimal;
    case rv::FieldKind::Hex32: return kHex;
    case rv::FieldKind::VideoCodec:
    case rv::FieldKind::AudioCodec: return kCodecData;
    case rv::FieldKind::Chars4: break;
  }
  return "";
}

bool Accepts(const QString& typed, const char* accepted) {
  if (!accepted || !*accepted) return true;
  const QString allowed = QString::fromLatin1(accepted);
  for (QChar c : typed) {
    if (c.unicode() < 32) continue;
    if (!allowed.contains(c)) return false;
  }
  return true;
}

}  // namespace keyfilter

// ---- one panel ----------------------------------------------------------------------------------

HeaderPanel::HeaderPanel(QWidget* parent, const char* name, const char* titleBarName,
                         const char* titleName, const QString& title, const char* applyName,
                         const char* closeName, const char* record)
    : QFrame(parent) {
  setObjectName(QString::fromLatin1(name));
  setFrameShape(QFrame::Panel);
  setFrameShadow(QFrame::Raised);
  setLineWidth(2);
  setAutoFillBackground(true);

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(3, 3, 3, 3);
  outer->setSpacing(3);

  titleBar_ = new QWidget(this);
  titleBar_->setObjectName(QString::fromLatin1(titleBarName));
  titleBar_->setAutoFillBackground(true);
  QPalette tp = titleBar_->palette();
  tp.setColor(QPalette::Window, kTitleBack);
  tp.setColor(QPalette::WindowText, Qt::white);
  titleBar_->setPalette(tp);
  titleBar_->setCursor(Qt::SizeAllCursor);
  auto* bar = new QHBoxLayout(titleBar_);
  bar->setContentsMargins(6, 2, 3, 2);
  bar->setSpacing(4);
  title_ = new QLabel(title, titleBar_);
  title_->setObjectName(QString::fromLatin1(titleName));
  QFont tf = title_->font();
  tf.setBold(true);
  title_->setFont(tf);
  title_->setPalette(tp);
  close_ = new PictureButton(titleBar_);
  close_->setObjectName(QString::fromLatin1(closeName));
  close_->SetPicture(ClosePicture(), QString::fromLatin1(closeName));
  close_->setToolTip(Q("закрыть"));
  bar->addWidget(title_, 1);
  bar->addWidget(close_);
  outer->addWidget(titleBar_);

  auto* grid = new QGridLayout;
  grid->setContentsMargins(4, 2, 4, 2);
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(2);
  int line = 0;
  for (const rv::FieldDef& f : rv::EditableFields()) {
    if (std::string(f.record) != record) continue;
    Row row;
    row.field = &f;
    row.label = new QLabel(Q(f.label), this);
    row.label->setObjectName(LabelName(f.edit));
    row.edit = new QLineEdit(this);
    row.edit->setObjectName(QString::fromLatin1(f.edit));
    row.edit->setProperty("acceptedChars", QString::fromLatin1(keyfilter::AcceptedBy(f.kind)));
    row.edit->installEventFilter(this);
    const bool codec = f.kind == rv::FieldKind::VideoCodec || f.kind == rv::FieldKind::AudioCodec;
    if (f.kind == rv::FieldKind::Chars4) row.edit->setMaxLength(4);
    // nBlockAlign takes at most four characters.
    if (std::string(f.edit) == "EditAFba") row.edit->setMaxLength(4);
    if (codec) {
      row.edit->setMinimumWidth(kCodecWidth);
      grid->addWidget(row.label, line++, 0, 1, 2);
      grid->addWidget(row.edit, line++, 0, 1, 2);
    } else {
      row.edit->setFixedWidth(kNumberWidth);
      grid->addWidget(row.label, line, 0);
      grid->addWidget(row.edit, line++, 1);
    }
    rows_.push_back(row);
  }
  grid->setColumnStretch(0, 1);
  outer->addLayout(grid);

  auto* bottom = new QHBoxLayout;
  bottom->setContentsMargins(0, 0, 2, 0);
  apply_ = new PictureButton(this);
  apply_->setObjectName(QString::fromLatin1(applyName));
  apply_->SetPicture(ApplyPicture(), QString::fromLatin1(applyName));
  apply_->setToolTip(Q("применить"));
  bottom->addStretch(1);
  bottom->addWidget(apply_);
  outer->addLayout(bottom);

  titleBar_->installEventFilter(this);
  title_->installEventFilter(this);
  connect(close_, &QToolButton::clicked, this, &QWidget::hide);
  hide();
}

QLineEdit* HeaderPanel::Edit(const char* editName) const {
  for (const Row& r : rows_)
    if (std::string(r.field->edit) == editName) return r.edit;
  return nullptr;
}

QLabel* HeaderPanel::LabelOf(const char* editName) const {
  for (const Row& r : rows_)
    if (std::string(r.field->edit) == editName) return r.label;
  return nullptr;
}

bool HeaderPanel::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    if (auto* edit = qobject_cast<QLineEdit*>(watched)) {
      // A refused character is dropped; keys without text (arrows, Delete) pass.
      const QString accepted = edit->property("acceptedChars").toString();
      const auto* key = static_cast<QKeyEvent*>(event);
      if (!keyfilter::Accepts(key->text(), accepted.toLatin1().constData())) return true;
    }
  }
  if (watched == titleBar_ || watched == title_) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    switch (event->type()) {
      case QEvent::MouseButtonPress:
        if (StartMove(mouse)) return true;
        break;
      case QEvent::MouseMove:
        if (MoveTo(mouse)) return true;
        break;
      case QEvent::MouseButtonRelease:
        if (moving_) {
          moving_ = false;
          return true;
        }
        break;
      default: break;
    }
  }
  return QFrame::eventFilter(watched, event);
}

void HeaderPanel::mousePressEvent(QMouseEvent* event) {
  if (!StartMove(event)) QFrame::mousePressEvent(event);
}

void HeaderPanel::mouseMoveEvent(QMouseEvent* event) {
  if (!MoveTo(event)) QFrame::mouseMoveEvent(event);
}

void HeaderPanel::mouseReleaseEvent(QMouseEvent* event) {
  moving_ = false;
  QFrame::mouseReleaseEvent(event);
}

bool HeaderPanel::StartMove(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return false;
  moving_ = true;
  grab_ = mapFromGlobal(event->globalPosition().toPoint());
  raise();
  return true;
}

bool HeaderPanel::MoveTo(QMouseEvent* event) {
  if (!moving_ || !(event->buttons() & Qt::LeftButton)) return false;
  QWidget* host = parentWidget();
  QPoint p = host->mapFromGlobal(event->globalPosition().toPoint()) - grab_;
  // The title bar stays within reach.
  p.setX(std::clamp(p.x(), kKeepVisible - width(), std::max(0, host->width() - kKeepVisible)));
  p.setY(std::clamp(p.y(), 0, std::max(0, host->height() - titleBar_->height())));
  move(p);
  return true;
}

// ---- the four panels --------------------------------------------------------------------------

HeaderPanels::HeaderPanels(TaskWindow& window, RepairTab& repairTab)
    : QObject(window.DialogParent()), window_(window), repairTab_(repairTab) {
  setObjectName("HeaderPanels");
  QWidget* over = window.DialogParent();
  PanelAVIH = new HeaderPanel(over, "PanelAVIH", "PanelAAV", "LabelTitleAVIH", Q(kAvihTitle),
                              "ImageAAS", "ImageAAX", "avih");
  PanelSTRH = new HeaderPanel(over, "PanelSTRH", "Panel2", "LabelSTRH", Q(kVideoStrhTitle),
                              "ImageSSS", "ImageSSX", "vstrh");
  LabelSTRH = PanelSTRH->Title();
  PanelVSTRF = new HeaderPanel(over, "PanelVSTRF", "Panel3", "LabelTitleVSTRF", Q(kVideoStrfTitle),
                               "ImageVFS", "Image2", "vstrf");
  PanelASTRF = new HeaderPanel(over, "PanelASTRF", "Panel4", "LabelTitleASTRF", Q(kAudioStrfTitle),
                               "ImageAFS", "Image3", "astrf");

  connect(PanelAVIH->ApplyButton(), &QToolButton::clicked, this, [this] { ImageAASClick(); });
  connect(PanelSTRH->ApplyButton(), &QToolButton::clicked, this, [this] { ImageSSSClick(); });
  connect(PanelVSTRF->ApplyButton(), &QToolButton::clicked, this, [this] { ImageVFSClick(); });
  connect(PanelASTRF->ApplyButton(), &QToolButton::clicked, this, [this] { ImageAFSClick(); });

  // The header items stand before the dump item of the tree's pop-up menu.
  QMenu* menu = repairTab.PopupRIFF;
  auto item = [&](const char* caption, const char* name) {
    auto* a = new QAction(Q(caption), menu);
    a->setObjectName(QString::fromLatin1(name));
    a->setVisible(false);
    menu->insertAction(repairTab.MIdump, a);
    return a;
  };
  MIavih = item(kMIavih, "MIavih");
  MIstrh = item(kMIstrh, "MIstrh");
  MIvstrf = item(kMIvstrf, "MIvstrf");
  MIastrf = item(kMIastrf, "MIastrf");
  MIread = item(kMIread, "MIread");
  connect(menu, &QMenu::aboutToShow, this, &HeaderPanels::PopupRIFFPopup);
  connect(MIavih, &QAction::triggered, this, &HeaderPanels::MIavihClick);
  connect(MIstrh, &QAction::triggered, this, &HeaderPanels::MIstrhClick);
  connect(MIvstrf, &QAction::triggered, this, &HeaderPanels::MIvstrfClick);
  connect(MIastrf, &QAction::triggered, this, &HeaderPanels::MIastrfClick);
  connect(MIread, &QAction::triggered, this, &HeaderPanels::MIreadClick);

  // The blocks the panels were opened for go with the table they belong to.
  connect(repairTab.BitBtnREC, &QPushButton::clicked, this, &HeaderPanels::HideAll);
}

void HeaderPanels::HideAll() {
  for (HeaderPanel* p : {PanelAVIH, PanelSTRH, PanelVSTRF, PanelASTRF}) p->hide();
}

int32_t HeaderPanels::SelectedBlock() const {
  QTreeWidgetItem* item = repairTab_.TreeRIFF->currentItem();
  if (!item) return -1;
  const int32_t b = rv::FindBlockAt(item->data(0, Qt::UserRole).toInt());
  if (b < 0 || size_t(b) >= rv::Blocks().size()) return -1;
  return b;
}

HeaderPanels::Opened& HeaderPanels::OpenedFor(const HeaderPanel* panel) {
  if (panel == PanelAVIH) return avih_;
  if (panel == PanelSTRH) return strh_;
  if (panel == PanelVSTRF) return vstrf_;
  return astrf_;
}

const HeaderPanels::Opened* HeaderPanels::OpenedFor(const HeaderPanel* panel) const {
  return &const_cast<HeaderPanels*>(this)->OpenedFor(panel);
}

std::string HeaderPanels::RecordOf(const HeaderPanel* panel) const {
  return OpenedFor(panel)->record;
}

int32_t HeaderPanels::BlockOf(const HeaderPanel* panel) const { return OpenedFor(panel)->block; }

// ---- the pop-up menu and the double-click
// ---------------------------------------------------------

void HeaderPanels::PopupRIFFPopup() {
  for (QAction* a : {MIavih, MIstrh, MIvstrf, MIastrf, MIread}) a->setVisible(false);
  repairTab_.MIdump->setVisible(true);
  const int32_t b = SelectedBlock();
  if (b < 0) return;
  const auto& blocks = rv::Blocks();
  const rv::BlockRecord& r = blocks[size_t(b)];
  if (r.Name == "avih") {
    MIavih->setVisible(true);
  } else if (r.Name == "strh") {
    MIstrh->setVisible(true);
  } else if (r.Name == "strf") {
    const std::string& first = blocks.front().Name;
    if (first == "ROOT" || first == "RIFF") {
      // The stream the format belongs to; in a reconstructed table, which has no stream
      // lists, the stream header found before it.
      const char kind = rv::FormatStreamKind(size_t(b));
      if (kind == 'v') {
        MIvstrf->setVisible(true);
        MIread->setVisible(first == "RIFF" && !rv::IFpresent("vstrf"));
      } else if (kind == 'a') {
        MIastrf->setVisible(true);
        MIread->setVisible(first == "RIFF" && !rv::IFpresent("astrf"));
      }
    }
  }
}

void HeaderPanels::OpenEditorOf(int32_t b) {
  if (b < 0 || size_t(b) >= rv::Blocks().size()) return;
  const rv::BlockRecord& r = rv::Blocks()[size_t(b)];
  if (r.Name == "avih") {
    OpenAvih(b);
  } else if (r.Name == "strh") {
    OpenStrh(b);
  } else if (r.Name == "strf") {
    const char kind = rv::FormatStreamKind(size_t(b));
    if (kind == 'v')
      OpenVideoFormat(b);
    else if (kind == 'a')
      OpenAudioFormat(b);
  }
}

void HeaderPanels::MIavihClick() {
  const int32_t b = SelectedBlock();
  if (b >= 0 && rv::Blocks()[size_t(b)].Name == "avih") OpenAvih(b);
}

void HeaderPanels::MIstrhClick() {
  const int32_t b = SelectedBlock();
  if (b >= 0 && rv::Blocks()[size_t(b)].Name == "strh") OpenStrh(b);
}

void HeaderPanels::MIvstrfClick() {
  const int32_t b = SelectedBlock();
  if (b >= 0 && rv::Blocks()[size_t(b)].Name == "strf") OpenVideoFormat(b);
}

void HeaderPanels::MIastrfClick() {
  const int32_t b = SelectedBlock();
  if (b >= 0 && rv::Blocks()[size_t(b)].Name == "strf") OpenAudioFormat(b);
}

void HeaderPanels::MIreadClick() {
  // The source belongs to a running task.
  if (rv::WorkerExists()) return;
  const int32_t b = SelectedBlock();
  if (b < 0) return;
  const rv::BlockRecord r = rv::Blocks()[size_t(b)];
  if (r.Name != "strf") return;
  if (!rv::OpenSource(window_.InputName().toStdString())) return;
  const bool read = rv::MIread(b, rv::FormatStreamKind(size_t(b)) == 'v' ? 'v' : 'a');
  rv::CloseSource();
  if (!read) return;
  RefreshTreeKeepingView(r.Node);
  window_.RefreshLabels();
}

// ---- opening
// ----------------------------------------------------------------------------------------

void HeaderPanels::OpenAvih(int32_t b) { Open(PanelAVIH, "avih", b); }

void HeaderPanels::OpenStrh(int32_t b) {
  // The audio record only for the first audio stream header itself.
  const bool audio = b >= 0 && rv::FindBlock("strh", "auds") == b;
  LabelSTRH->setText(Q(audio ? kAudioStrhTitle : kVideoStrhTitle));
  Open(PanelSTRH, audio ? "astrh" : "vstrh", b);
}

void HeaderPanels::OpenVideoFormat(int32_t b) { Open(PanelVSTRF, "vstrf", b); }

void HeaderPanels::OpenAudioFormat(int32_t b) { Open(PanelASTRF, "astrf", b); }

void HeaderPanels::Open(HeaderPanel* panel, const std::string& record, int32_t b) {
  Opened& o = OpenedFor(panel);
  o = Opened{};
  o.record = record;
  o.block = b;
  if (b >= 0 && size_t(b) < rv::Blocks().size()) {
    const rv::BlockRecord& r = rv::Blocks()[size_t(b)];
    o.name = r.Name;
    o.offset = r.Offset;
    o.node = r.Node;
  }
  for (const HeaderPanel::Row& row : panel->Rows()) {
    const rv::FieldDef* f = rv::FindField(record, row.field->name);
    row.edit->setText(f ? QString::fromStdString(rv::FieldText(*f)) : QString());
    row.edit->setCursorPosition(0);
  }
  if (IsFormat(record)) FillCodecField(panel, record);

  panel->adjustSize();
  // In the middle of the window; a panel taller or wider than the window keeps its title bar
  // inside it.
  const int left = std::max(0, (window_.DialogParent()->width() - panel->width()) / 2);
  const int top = std::max(0, (window_.DialogParent()->height() - panel->height()) / 2);
  panel->move(left, top);
  panel->show();
  panel->raise();
}

void HeaderPanels::FillCodecField(HeaderPanel* panel, const std::string& record) {
  const rv::HeaderState& h = rv::Header();
  const bool video = record == "vstrf";
  QLineEdit* edit = panel->Edit(video ? "EditVFcsd" : "EditAFcsd");
  QLabel* label = panel->LabelOf(video ? "EditVFcsd" : "EditAFcsd");
  if (!edit || !label) return;
  const bool held = video ? !h.vstrf.codecData.empty() : h.astrf.cbSize != 0;
  QPalette ep = edit->palette();
  QPalette lp = label->palette();
  const QPalette standard = window_.DialogParent()->palette();
  if (held) {
    ep.setColor(QPalette::Base, Qt::white);
    lp.setColor(QPalette::WindowText, standard.color(QPalette::Active, QPalette::WindowText));
    edit->setEnabled(true);
    label->setEnabled(true);
  } else {
    edit->clear();
    edit->setEnabled(false);
    if (video) {
      ep.setColor(QPalette::Base, kSilver);
      lp.setColor(QPalette::WindowText, kGrayText);
    } else {
      ep.setColor(QPalette::Base, standard.color(QPalette::Active, QPalette::Window));
      label->setEnabled(false);
    }
  }
  edit->setPalette(ep);
  label->setPalette(lp);
}

// ---- applying
// ----------------------------------------------------------------------------------------

bool HeaderPanels::ImageAASClick() { return Apply(PanelAVIH); }
bool HeaderPanels::ImageSSSClick() { return Apply(PanelSTRH); }
bool HeaderPanels::ImageVFSClick() { return Apply(PanelVSTRF); }
bool HeaderPanels::ImageAFSClick() { return Apply(PanelASTRF); }

bool HeaderPanels::StillTheSameBlock(const Opened& o) const {
  const auto& blocks = rv::Blocks();
  if (o.block < 0 || size_t(o.block) >= blocks.size()) return false;
  const rv::BlockRecord& r = blocks[size_t(o.block)];
  const auto& lines = rv::Tree().lines;
  return r.Name == o.name && r.Offset == o.offset && r.Node == o.node && r.Node >= 0 &&
         size_t(r.Node) < lines.size() && lines[size_t(r.Node)].block == o.block;
}

bool HeaderPanels::Apply(HeaderPanel* panel) {
  // The writer reads the records while it runs.
  if (rv::WorkerExists()) return false;
  const Opened& o = OpenedFor(panel);
  if (o.record.empty()) return false;
  for (const HeaderPanel::Row& row : panel->Rows()) {
    const rv::FieldDef* f = rv::FindField(o.record, row.field->name);
    if (!f) continue;
    std::string error;
    if (!rv::ApplyField(*f, row.edit->text().toStdString(), error)) {
      // The fields before this one keep their new values; the panel stays open.
      QWidget* over = window_.DialogParent();
      QMessageBox::warning(over, over->windowTitle(), QString::fromStdString(error));
      row.edit->setFocus();
      row.edit->selectAll();
      return false;
    }
  }
  if (IsFormat(o.record)) rv::FinishFormatEdit(o.record);
  // The lines of the block the panel was opened for, wherever the selection is now.
  if (StillTheSameBlock(o)) {
    rv::RefreshBlockLines(o.block, o.record);
    RefreshTreeKeepingView(o.node);
  }
  panel->hide();
  return true;
}

void HeaderPanels::RefreshTreeKeepingView(int32_t blockLine) {
  QTreeWidget* tree = repairTab_.TreeRIFF;
  QSet<int> expanded;
  int current = -1;
  if (QTreeWidgetItem* item = tree->currentItem()) current = item->data(0, Qt::UserRole).toInt();
  for (QTreeWidgetItemIterator it(tree); *it; ++it)
    if ((*it)->isExpanded()) expanded.insert((*it)->data(0, Qt::UserRole).toInt());
  const int scroll = tree->verticalScrollBar() ? tree->verticalScrollBar()->value() : 0;

  window_.RefreshTree();

  std::map<int, QTreeWidgetItem*> byLine;
  for (QTreeWidgetItemIterator it(tree); *it; ++it)
    byLine[(*it)->data(0, Qt::UserRole).toInt()] = *it;
  for (int line : expanded)
    if (auto f = byLine.find(line); f != byLine.end()) f->second->setExpanded(true);
  // The refreshed block shows its new values.
  QTreeWidgetItem* blockItem = nullptr;
  if (auto f = byLine.find(blockLine); f != byLine.end()) {
    blockItem = f->second;
    blockItem->setExpanded(true);
  }
  if (auto f = byLine.find(current); f != byLine.end())
    tree->setCurrentItem(f->second);
  else if (blockItem)
    tree->setCurrentItem(blockItem);
  if (tree->verticalScrollBar()) tree->verticalScrollBar()->setValue(scroll);
}
