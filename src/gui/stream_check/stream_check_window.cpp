#include "gui/stream_check/stream_check_window.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionHeader>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <string>

#include "check/bad_blocks.h"
#include "check/index.h"
#include "check/repairs.h"
#include "check/scanner.h"
#include "check/side_files.h"
#include "gui/common/gui_host.h"
#include "gui/common/widgets.h"
#include "core/messages.h"
#include "core/options.h"
#include "core/questions.h"
#include "core/tasks.h"
#include "riff/blocks.h"
#include "riff/bytes.h"
#include "riff/source.h"
#include "gui/common/dump_window.h"

namespace {

constexpr int kGoSize = 36;       // ImageGO and the hammer
constexpr int kActionSize = 28;   // ImageSE
constexpr int kSignSize = 16;     // ImageFF, ImageEX, ImageGG, ImageWA, ImageEXX
constexpr int kSignPeriodMs = 33;  // the scanner's signs are looked at this often

const QColor kSilver(0xC0, 0xC0, 0xC0);


// ---- pictures -------------------------------------------------------------------------------

enum class Pic { Start, Continue, Stop, SaveErrors, LoadErrors, SaveList, Done, Working,
                 Hammer, Busy, FirstSearch, Exclusions, Close };

QPixmap NewPixmap(int size) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  return pm;
}

// A sheet of paper with a folded corner, in the rectangle r.
void DrawSheet(QPainter& p, const QRectF& r) {
  const qreal fold = r.width() * 0.3;
  QPainterPath sheet;
  sheet.moveTo(r.left(), r.top());
  sheet.lineTo(r.right() - fold, r.top());
  sheet.lineTo(r.right(), r.top() + fold);
  sheet.lineTo(r.right(), r.bottom());
  sheet.lineTo(r.left(), r.bottom());
  sheet.closeSubpath();
  p.setPen(QPen(QColor(70, 70, 70), 1));
  p.setBrush(Qt::white);
  p.drawPath(sheet);
}

// A floppy disk in the rectangle r.
void DrawDisk(QPainter& p, const QRectF& r) {
  p.setPen(QPen(QColor(20, 30, 70), 1));
  p.setBrush(QColor(40, 70, 150));
  p.drawRoundedRect(r, 2, 2);
  p.setBrush(QColor(235, 235, 235));
  p.drawRect(QRectF(r.left() + r.width() * 0.2, r.top(), r.width() * 0.55, r.height() * 0.35));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(r.left() + r.width() * 0.15, r.top() + r.height() * 0.55, r.width() * 0.7,
                    r.height() * 0.45));
}

QPixmap Draw(Pic kind, int size) {
  QPixmap pm = NewPixmap(size);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  switch (kind) {
    case Pic::Start:
    case Pic::Continue: {
      p.setPen(QPen(QColor(20, 90, 20), 1.5));
      p.setBrush(QColor(60, 170, 60));
      p.drawEllipse(QRectF(1, 1, s - 2, s - 2));
      QPainterPath tri;
      const qreal left = kind == Pic::Start ? s * 0.38 : s * 0.45;
      tri.moveTo(left, s * 0.27);
      tri.lineTo(left + s * 0.34, s * 0.5);
      tri.lineTo(left, s * 0.73);
      tri.closeSubpath();
      p.setPen(Qt::NoPen);
      p.setBrush(Qt::white);
      p.drawPath(tri);
      // Continue: a bar before the arrow, "go on from here".
      if (kind == Pic::Continue) p.drawRect(QRectF(s * 0.27, s * 0.27, s * 0.1, s * 0.46));
      break;
    }
    case Pic::Stop:
      p.setPen(QPen(QColor(110, 10, 10), 1.5));
      p.setBrush(QColor(200, 40, 40));
      p.drawEllipse(QRectF(1, 1, s - 2, s - 2));
      p.setPen(Qt::NoPen);
      p.setBrush(Qt::white);
      p.drawRect(QRectF(s * 0.32, s * 0.32, s * 0.36, s * 0.36));
      break;
    case Pic::SaveErrors:
      DrawDisk(p, QRectF(1, 1, s - 2, s - 2));
      p.setPen(QPen(QColor(200, 0, 0), s / 10));
      p.drawLine(QPointF(s * 0.3, s * 0.62), QPointF(s * 0.7, s * 0.92));
      p.drawLine(QPointF(s * 0.7, s * 0.62), QPointF(s * 0.3, s * 0.92));
      break;
    case Pic::LoadErrors: {
      p.setPen(QPen(QColor(120, 90, 20), 1));
      p.setBrush(QColor(240, 200, 90));
      p.drawRect(QRectF(1, s * 0.3, s - 2, s * 0.65));
      p.drawRect(QRectF(1, s * 0.2, s * 0.4, s * 0.12));
      p.setPen(QPen(QColor(0, 100, 0), s / 9, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(s * 0.5, s * 0.4), QPointF(s * 0.5, s * 0.85));
      p.drawLine(QPointF(s * 0.32, s * 0.62), QPointF(s * 0.5, s * 0.85));
      p.drawLine(QPointF(s * 0.68, s * 0.62), QPointF(s * 0.5, s * 0.85));
      break;
    }
    case Pic::SaveList:
      DrawSheet(p, QRectF(s * 0.15, 1, s * 0.7, s - 2));
      p.setPen(QPen(QColor(40, 40, 160), 1));
      for (int i = 0; i < 5; ++i) {
        const qreal y = s * (0.3 + 0.13 * i);
        p.drawLine(QPointF(s * 0.25, y), QPointF(s * 0.75, y));
      }
      break;
    case Pic::Done:
      p.setPen(QPen(QColor(0, 140, 0), s / 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.drawPolyline(QPolygonF({QPointF(s * 0.15, s * 0.55), QPointF(s * 0.4, s * 0.8),
                                QPointF(s * 0.85, s * 0.2)}));
      break;
    case Pic::Working:
    case Pic::Busy: {
      // An hourglass.
      QPainterPath glass;
      glass.moveTo(s * 0.2, s * 0.08);
      glass.lineTo(s * 0.8, s * 0.08);
      glass.lineTo(s * 0.52, s * 0.5);
      glass.lineTo(s * 0.8, s * 0.92);
      glass.lineTo(s * 0.2, s * 0.92);
      glass.lineTo(s * 0.48, s * 0.5);
      glass.closeSubpath();
      p.setPen(QPen(QColor(90, 60, 20), 1));
      p.setBrush(kind == Pic::Busy ? QColor(250, 230, 150) : QColor(255, 210, 80));
      p.drawPath(glass);
      break;
    }
    case Pic::Hammer: {
      p.translate(s / 2, s / 2);
      p.rotate(-40);
      p.setPen(QPen(QColor(90, 50, 20), 1));
      p.setBrush(QColor(170, 110, 50));
      p.drawRoundedRect(QRectF(-s * 0.06, -s * 0.2, s * 0.12, s * 0.62), 2, 2);
      p.setPen(QPen(QColor(40, 40, 40), 1));
      p.setBrush(QColor(120, 125, 135));
      p.drawRoundedRect(QRectF(-s * 0.3, -s * 0.38, s * 0.6, s * 0.2), 2, 2);
      break;
    }
    case Pic::FirstSearch:
      p.setPen(QPen(QColor(30, 30, 30), s / 8));
      p.setBrush(QColor(200, 230, 255));
      p.drawEllipse(QRectF(s * 0.1, s * 0.1, s * 0.5, s * 0.5));
      p.drawLine(QPointF(s * 0.55, s * 0.55), QPointF(s * 0.9, s * 0.9));
      break;
    case Pic::Exclusions:
      // A strip of bytes with a piece cut out of it.
      p.setPen(QPen(QColor(60, 60, 60), 1));
      p.setBrush(QColor(120, 160, 220));
      p.drawRect(QRectF(1, s * 0.35, s * 0.32, s * 0.3));
      p.drawRect(QRectF(s * 0.67, s * 0.35, s * 0.32 - 1, s * 0.3));
      p.setPen(QPen(QColor(200, 0, 0), 1.5, Qt::DashLine));
      p.setBrush(Qt::NoBrush);
      p.drawRect(QRectF(s * 0.36, s * 0.3, s * 0.28, s * 0.4));
      break;
    case Pic::Close:
      // Drawn on the navy title bar of the exclusion panel.
      p.setPen(QPen(Qt::white, s / 7, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(s * 0.25, s * 0.25), QPointF(s * 0.75, s * 0.75));
      p.drawLine(QPointF(s * 0.75, s * 0.25), QPointF(s * 0.25, s * 0.75));
      break;
  }
  return pm;
}

QLabel* PictureLabel(QWidget* parent, const char* name, const QPixmap& pm) {
  auto* label = new QLabel(parent);
  label->setObjectName(Q(name));
  label->setPixmap(pm);
  label->setFixedSize(pm.size());
  return label;
}

PictureButton* MakePictureButton(QWidget* parent, const char* name, int size) {
  auto* button = new PictureButton(parent);
  button->setObjectName(Q(name));
  button->setFixedSize(size + 4, size + 4);
  return button;
}

QCheckBox* MakeCheck(QWidget* parent, const char* name, const char* caption, bool checked) {
  auto* box = new QCheckBox(Q(caption), parent);
  box->setObjectName(Q(name));
  box->setChecked(checked);
  return box;
}

QRadioButton* MakeRadio(QWidget* parent, const char* name, const char* caption,
                        const char* hint = nullptr) {
  auto* radio = new QRadioButton(Q(caption), parent);
  radio->setObjectName(Q(name));
  if (hint) radio->setToolTip(Q(hint));
  return radio;
}

void SetBaseColour(QLineEdit* edit, const QColor& colour) {
  QPalette pal = edit->palette();
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
    pal.setColor(group, QPalette::Base, colour);
  edit->setPalette(pal);
}


QTableWidget* MakeGrid(QWidget* parent, const char* name, int columns) {
  auto* grid = new QTableWidget(parent);
  grid->setObjectName(Q(name));
  grid->setColumnCount(columns);
  grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid->setSelectionMode(QAbstractItemView::SingleSelection);
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  grid->setWordWrap(false);
  grid->verticalHeader()->hide();
  grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  // The design's row height, or more when a line of the font is taller.
  const int rowHeight = std::max(TFormMI::kRowHeight, grid->fontMetrics().height() + 2);
  grid->verticalHeader()->setMinimumSectionSize(rowHeight);
  grid->verticalHeader()->setDefaultSectionSize(rowHeight);
  grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  grid->horizontalHeader()->setHighlightSections(false);
  grid->horizontalHeader()->setMinimumSectionSize(0);
  grid->horizontalHeader()->setFixedHeight(rowHeight + 2);
  grid->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  return grid;
}

// The width a column needs to show its header text whole, margins included. Asked of the
// style with the header's own font: the header view's size hint measures a bold face, which
// these headers never show.
int HeaderWidth(const QTableWidget* grid, int column) {
  const QHeaderView* header = grid->horizontalHeader();
  const QTableWidgetItem* item = grid->horizontalHeaderItem(column);
  QStyleOptionHeader opt;
  opt.initFrom(header);
  opt.orientation = Qt::Horizontal;
  opt.section = column;
  opt.fontMetrics = header->fontMetrics();
  opt.text = item ? item->text() : QString();
  return header->style()->sizeFromContents(QStyle::CT_HeaderSection, &opt, QSize(), header).width();
}

// The header row of a grid: kept as row 0 (hidden) and shown by the horizontal header.
void SetHeaderRow(QTableWidget* grid, const QStringList& cells) {
  for (int c = 0; c < cells.size(); ++c) {
    QTableWidgetItem* h = grid->horizontalHeaderItem(c);
    if (!h) {
      h = new QTableWidgetItem;
      grid->setHorizontalHeaderItem(c, h);
    }
    if (h->text() != cells[c]) h->setText(cells[c]);
  }
  grid->setRowHidden(0, true);
}

}  // namespace

// ---- construction -----------------------------------------------------------------------------

TFormMI::TFormMI(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("FormMI"));
  // "MS Sans Serif" 8 point, or the nearest narrow sans serif the system has: the grid's
  // columns are sized for a narrow face.
  QFont f = font();
  f.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                 QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                 QStringLiteral("Nimbus Sans"), QStringLiteral("Helvetica")});
  f.setPointSize(8);
  setFont(f);

  BuildPictures();
  BuildTopArea();
  BuildLowerPanel();
  BuildExclusionPanel();

  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(0, 0, 0, 0);
  root->setSpacing(0);
  auto* top = new QVBoxLayout;
  top->setContentsMargins(8, 2, 8, 4);
  top->setSpacing(2);
  top->addWidget(Panel1);
  top->addWidget(StringER, 1);
  root->addLayout(top, 1);
  root->addWidget(PanelBB);

  signTimer_ = new QTimer(this);
  signTimer_->setInterval(kSignPeriodMs);
  connect(signTimer_, &QTimer::timeout, this, [this] { ApplyScanSigns(false); });

  // FormCreate: centred, the empty grid, no result sign, first-show flag 1.
  for (int c = 0; c < 9; ++c) StringER->setColumnWidth(c, kDesignWidths[size_t(c)]);
  MirrorGrid();
  // The design size, grown where the controls do not fit in it with this font.
  resize(QSize(kStandardWidth, kStandardHeight).expandedTo(minimumSizeHint()));
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    // A window larger than the screen keeps its top left corner on it.
    const QRect area = screen->geometry();
    move(std::max(area.x(), area.x() + (area.width() - width()) / 2),
         std::max(area.y(), area.y() + (area.height() - height()) / 2));
  }
  SetResultSign(ResultSign::None);
  firstShow_ = 1;

  if (GuiHost* host = ActiveGuiHost()) AttachHost(host);
}

TFormMI::~TFormMI() = default;

void TFormMI::BuildPictures() {
  ImageST = PictureLabel(this, "ImageST", Draw(Pic::Start, kGoSize));
  ImageST2 = PictureLabel(this, "ImageST2", Draw(Pic::Continue, kGoSize));
  ImageXX = PictureLabel(this, "ImageXX", Draw(Pic::Stop, kGoSize));
  ImageFR = PictureLabel(this, "ImageFR", Draw(Pic::SaveErrors, kActionSize));
  ImageDU = PictureLabel(this, "ImageDU", Draw(Pic::LoadErrors, kActionSize));
  ImageFG = PictureLabel(this, "ImageFG", Draw(Pic::SaveList, kActionSize));
  ImageRG = PictureLabel(this, "ImageRG", Draw(Pic::Done, kSignSize));
  ImageAT = PictureLabel(this, "ImageAT", Draw(Pic::Working, kSignSize));
  for (QLabel* l : {ImageST, ImageST2, ImageXX, ImageFR, ImageDU, ImageFG, ImageRG, ImageAT})
    l->hide();
}

void TFormMI::BuildTopArea() {
  Panel1 = new QFrame(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  auto* row = new QHBoxLayout(Panel1);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(6);

  Label1 = new QLabel(Q("список кривых блоков"), Panel1);
  Label1->setObjectName(QStringLiteral("Label1"));
  QPalette grey = Label1->palette();
  grey.setColor(QPalette::WindowText, QColor(0x80, 0x80, 0x80));
  Label1->setPalette(grey);

  ImageFF = PictureLabel(Panel1, "ImageFF", Draw(Pic::FirstSearch, kSignSize));
  ImageFF->setToolTip(Q("поиск первого блока"));
  ImageFF->hide();
  KeepPlace(ImageFF);

  ImageEX = MakePictureButton(Panel1, "ImageEX", kSignSize);
  ImageEX->SetPicture(Draw(Pic::Exclusions, kSignSize), QStringLiteral("ImageEX"));
  ImageEX->setToolTip(Q("список исключённых фрагментов"));
  ImageEX->hide();
  KeepPlace(ImageEX);
  connect(ImageEX, &QToolButton::clicked, this, &TFormMI::ImageEXClick);

  LabelPTR = new QLabel(QStringLiteral("ptr:"), Panel1);
  LabelPTR->setObjectName(QStringLiteral("LabelPTR"));
  LabelPTR->setMinimumWidth(40);
  LabelPTR->hide();
  KeepPlace(LabelPTR);

  CheckHI = MakeCheck(Panel1, "CheckHI", "высокий приоритет задачи", true);
  rv::Opt().highPriorityCheck = true;
  connect(CheckHI, &QCheckBox::toggled, this, [](bool on) { rv::Opt().highPriorityCheck = on; });

  row->addWidget(Label1);
  row->addWidget(ImageFF);
  row->addWidget(ImageEX);
  row->addSpacing(6);
  row->addWidget(LabelPTR, 1);
  row->addWidget(CheckHI);

  StringER = MakeGrid(this, "StringER", 9);
  StringER->setContextMenuPolicy(Qt::CustomContextMenu);
  StringER->viewport()->installEventFilter(this);
  PopupER = new QMenu(StringER);
  PopupER->setObjectName(QStringLiteral("PopupER"));
  MIdump = PopupER->addAction(Q("посмотреть dump"));
  MIdump->setObjectName(QStringLiteral("MIdump"));
  connect(MIdump, &QAction::triggered, this, &TFormMI::MIdumpClick);
  PopupER->addSeparator();
  auto item = [this](QAction*& action, const char* name, const char* caption,
                     void (TFormMI::*slot)()) {
    action = PopupER->addAction(Q(caption));
    action->setObjectName(QString::fromLatin1(name));
    connect(action, &QAction::triggered, this, slot);
  };
  item(MIremofix, "MIremofix", "убрать область повторов и исправить размер",
       &TFormMI::MIremofixClick);
  item(MIremonofix, "MIremonofix", "убрать область повторов, размер не исправлять",
       &TFormMI::MIremonofixClick);
  item(MIremoscan, "MIremoscan", "убрать область повторов и пересканировать chunk",
       &TFormMI::MIremoscanClick);
  item(MIfix, "MIfix", "исправить размер", &TFormMI::MIfixClick);
  item(MIleave, "MIleave", "оставить блок, как он есть", &TFormMI::MIleaveClick);
  connect(PopupER, &QMenu::aboutToShow, this, &TFormMI::PopupERPopup);
  connect(StringER, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    if (QTableWidgetItem* cell = StringER->itemAt(pos)) StringER->selectRow(cell->row());
    PopupER->popup(StringER->viewport()->mapToGlobal(pos));
  });
  connect(StringER, &QTableWidget::cellDoubleClicked, this, [this](int, int) { MIdumpClick(); });
}

void TFormMI::BuildLowerPanel() {
  PanelBB = new QFrame(this);
  PanelBB->setObjectName(QStringLiteral("PanelBB"));
  PanelBB->setFrameShape(QFrame::StyledPanel);
  PanelBB->setFrameShadow(QFrame::Raised);
  auto* panel = new QVBoxLayout(PanelBB);
  panel->setContentsMargins(8, 4, 8, 6);
  panel->setSpacing(3);

  // Start / stop, the gauge, the file action.
  ImageGO = MakePictureButton(PanelBB, "ImageGO", kGoSize);
  SetGoPicture(GoPicture::Start);
  ImageGO->setToolTip(Q(kStateStart));
  connect(ImageGO, &QToolButton::clicked, this, &TFormMI::ImageGOClick);

  GaugeIDX1 = new PieGauge(PanelBB);
  GaugeIDX1->setObjectName(QStringLiteral("GaugeIDX1"));
  GaugeIDX1->setFixedSize(kGoSize + 4, kGoSize + 4);
  GaugeIDX1->hide();
  KeepPlace(GaugeIDX1);

  CheckSA = MakeCheck(PanelBB, "CheckSA", "сохранить ошибки", false);
  CheckRE = MakeCheck(PanelBB, "CheckRE", "загрузить ошибки", false);
  CheckLI = MakeCheck(PanelBB, "CheckLI", "сохранить в виде списка", true);
  connect(CheckSA, &QCheckBox::clicked, this, &TFormMI::CheckSAClick);
  connect(CheckRE, &QCheckBox::clicked, this, &TFormMI::CheckREClick);
  connect(CheckLI, &QCheckBox::clicked, this, &TFormMI::CheckLIClick);

  ImageGG = new QLabel(PanelBB);
  ImageGG->setObjectName(QStringLiteral("ImageGG"));
  ImageGG->setFixedSize(kSignSize, kSignSize);

  EditSE = new QLineEdit(PanelBB);
  EditSE->setObjectName(QStringLiteral("EditSE"));

  ImageSE = MakePictureButton(PanelBB, "ImageSE", kActionSize);
  ImageSE->SetPicture(ImageFG->pixmap(), QStringLiteral("ImageFG"));
  connect(ImageSE, &QToolButton::clicked, this, &TFormMI::ImageSEClick);

  auto* actions = new QVBoxLayout;
  actions->setSpacing(0);
  actions->addWidget(CheckSA);
  actions->addWidget(CheckRE);
  actions->addWidget(CheckLI);
  auto* rowA = new QHBoxLayout;
  rowA->setSpacing(4);
  rowA->addWidget(ImageGO);
  rowA->addWidget(GaugeIDX1);
  rowA->addSpacing(8);
  rowA->addLayout(actions);
  rowA->addSpacing(8);
  rowA->addWidget(ImageGG);
  rowA->addWidget(EditSE, 1);
  rowA->addSpacing(12 - 4);
  rowA->addWidget(ImageSE);
  panel->addLayout(rowA);

  BevelH = new QFrame(PanelBB);
  BevelH->setObjectName(QStringLiteral("BevelH"));
  BevelH->setFrameShape(QFrame::HLine);
  BevelH->setFrameShadow(QFrame::Sunken);
  panel->addWidget(BevelH);

  // Repairs of the bad blocks.
  Label2 = new QLabel(Q("правим индекс"), PanelBB);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->setEnabled(false);

  RadioEQ = MakeRadio(PanelBB, "RadioEQ", "убрать области повторов, там где их размеры равны дельте",
                      "исправлять ничего не надо, ибо заявленный размер станет равен реальному.");
  RadioREIS = MakeRadio(PanelBB, "RadioREIS", "убрать области повторов и исправить размер",
                        "сделать размер равным реальному размеру - дельта.");
  RadioRENO = MakeRadio(PanelBB, "RadioRENO", "убрать области повторов, размеры считать правильными",
                        "да, но при условии, что заявленный размер <= (реальный - дельта). в "
                        "противном случае размер будет исправлен.");
  RadioRERE = MakeRadio(PanelBB, "RadioRERE", "убрать области повторов и пересканировать chunk-и");
  RadioISME = MakeRadio(PanelBB, "RadioISME",
                        "если заявленный размер < реального - считать его правильным, иначе - исправить");
  RadioISALL = MakeRadio(PanelBB, "RadioISALL", "исправить размеры кривых блоков");
  RadioEQ->setChecked(true);

  CheckDP = MakeCheck(PanelBB, "CheckDP", "если дельта положительна", true);
  CheckZR = MakeCheck(PanelBB, "CheckZR", "только повторы нулей", true);
  LabelMS = new QLabel(Q("размеры повторов не менее               байт"), PanelBB);
  LabelMS->setObjectName(QStringLiteral("LabelMS"));
  EditMS = new QLineEdit(QStringLiteral("100"), LabelMS);
  EditMS->setObjectName(QStringLiteral("EditMS"));
  EditMS->setMaxLength(4);
  EditMS->setAlignment(Qt::AlignRight);
  EditMS->setTextMargins(0, 0, 0, 0);
  LabelMS->installEventFilter(this);
  PlaceEditMS();

  ImageHAMMER = MakePictureButton(PanelBB, "ImageHAMMER", kGoSize);
  ImageHAMMER->SetPicture(Draw(Pic::Hammer, kGoSize), QStringLiteral("ImageHAMMER"));
  ImageHAMMER->setToolTip(Q("править"));
  connect(ImageHAMMER, &QToolButton::clicked, this, &TFormMI::ImageHAMMERClick);
  ImageWA = PictureLabel(PanelBB, "ImageWA", Draw(Pic::Busy, kSignSize + 8));
  ImageWA->hide();
  KeepPlace(ImageWA);

  auto* options = new QHBoxLayout;
  options->setSpacing(12);
  options->addWidget(CheckDP);
  options->addWidget(CheckZR);
  options->addWidget(LabelMS);
  options->addStretch(1);

  // The choice of repair on the left, the hammer at the right beside it, the options of the
  // repairs below both.
  auto* hammer = new QVBoxLayout;
  hammer->setSpacing(4);
  hammer->addStretch(1);
  hammer->addWidget(ImageWA, 0, Qt::AlignHCenter);
  hammer->addWidget(ImageHAMMER, 0, Qt::AlignHCenter);
  hammer->addStretch(1);

  auto* repairs = new QGridLayout;
  repairs->setHorizontalSpacing(8);
  repairs->setVerticalSpacing(1);
  repairs->addWidget(Label2, 0, 0);
  int row = 1;
  for (QRadioButton* r : {RadioEQ, RadioREIS, RadioRENO, RadioRERE, RadioISME, RadioISALL})
    repairs->addWidget(r, row++, 0);
  repairs->addLayout(hammer, 1, 1, 6, 1);
  repairs->addItem(new QSpacerItem(16 - 8, 0), 1, 2);
  repairs->addLayout(options, row, 0, 1, 3);
  repairs->setColumnStretch(0, 1);
  panel->addLayout(repairs);

  // Rows as close as the design's, so that the grid keeps most of the height.
  const int rowHeight = std::max(fontMetrics().height() + 1, kRowHeight);
  for (QWidget* w : std::initializer_list<QWidget*>{Label2, RadioEQ, RadioREIS, RadioRENO, RadioRERE,
                                                    RadioISME, RadioISALL, CheckDP, CheckZR, CheckSA,
                                                    CheckRE, CheckLI})
    w->setFixedHeight(rowHeight);

}

void TFormMI::BuildExclusionPanel() {
  PanelEX = new QFrame(this);
  PanelEX->setObjectName(QStringLiteral("PanelEX"));
  PanelEX->setFrameShape(QFrame::Box);
  PanelEX->setFrameShadow(QFrame::Raised);
  PanelEX->setLineWidth(1);
  PanelEX->setAutoFillBackground(true);
  PanelEX->resize(320, 200);

  PanelEH = new QFrame(PanelEX);
  PanelEH->setObjectName(QStringLiteral("PanelEH"));
  PanelEH->setAutoFillBackground(true);
  QPalette title = PanelEH->palette();
  title.setColor(QPalette::Window, QColor(0, 0, 128));
  title.setColor(QPalette::WindowText, Qt::white);
  PanelEH->setPalette(title);
  Label3 = new QLabel(Q("список исключённых фрагментов"), PanelEH);
  Label3->setObjectName(QStringLiteral("Label3"));
  ImageEXX = MakePictureButton(PanelEH, "ImageEXX", kSignSize - 4);
  ImageEXX->SetPicture(Draw(Pic::Close, kSignSize - 4), QStringLiteral("ImageEXX"));
  connect(ImageEXX, &QToolButton::clicked, this, &TFormMI::ImageEXXClick);
  auto* titleRow = new QHBoxLayout(PanelEH);
  titleRow->setContentsMargins(6, 1, 2, 1);
  titleRow->addWidget(Label3, 1);
  titleRow->addWidget(ImageEXX);

  StringEX = MakeGrid(PanelEX, "StringEX", 4);
  StringEX->setRowCount(2);
  SetHeaderRow(StringEX, {QString(), QStringLiteral("#"), Q("offset в файле"), Q("количество байт")});
  for (int c = 0; c < 4; ++c) SetCell(StringEX, 0, c, StringEX->horizontalHeaderItem(c)->text());
  StringEX->setColumnWidth(0, 12);
  StringEX->setColumnWidth(1, std::max(40, HeaderWidth(StringEX, 1)));
  StringEX->setColumnWidth(2, std::max(110, HeaderWidth(StringEX, 2)));

  auto* layout = new QVBoxLayout(PanelEX);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->setSpacing(2);
  layout->addWidget(PanelEH);
  layout->addWidget(StringEX, 1);

  // Pressing the mouse on the panel, its title or the grid moves the panel.
  for (QObject* o : std::initializer_list<QObject*>{PanelEX, PanelEH, Label3, StringEX->viewport()})
    o->installEventFilter(this);
  // Wider than its design when its title or the last header does not fit in it.
  const int columns = StringEX->columnWidth(0) + StringEX->columnWidth(1) + StringEX->columnWidth(2) +
                      HeaderWidth(StringEX, 3) + 4;
  const int around = 2 * PanelEX->frameWidth() + layout->contentsMargins().left() +
                     layout->contentsMargins().right() + 2 * StringEX->frameWidth() +
                     StringEX->verticalScrollBar()->sizeHint().width();
  PanelEX->resize(PanelEX->size().expandedTo(PanelEX->minimumSizeHint()).expandedTo({columns + around, 0}));
  PanelEX->hide();
}

// ---- state ------------------------------------------------------------------------------------

bool TFormMI::VerificationMode() const { return windowTitle() == Q(kVerifyCaption); }

QString TFormMI::GoState() const { return ImageGO->toolTip(); }

QString TFormMI::InputName() const {
  if (inputName_) return inputName_();
  return Q(rv::InputFileName());
}

void TFormMI::AttachHost(GuiHost* host) {
  if (!host) return;
  connect(host, &GuiHost::checkMessage, this, &TFormMI::CheckMessage,
          Qt::ConnectionType(Qt::DirectConnection | Qt::UniqueConnection));
  connect(host, &GuiHost::progress, this, &TFormMI::ShowProgress,
          Qt::ConnectionType(Qt::DirectConnection | Qt::UniqueConnection));
}

std::array<int, 9> TFormMI::DfxWidths(int clientWidth, const std::array<int, 9>& current,
                                      const std::array<int, 9>& least) {
  std::array<int, 9> w = current;
  for (size_t c = 0; c <= 2; ++c) w[c] = std::max(w[c], least[c]);
  const int rest = clientWidth - w[0] - w[1] - w[2];
  // Columns 3 to 7 for a share s: the share, or a wider header's own width.
  const auto middle = [&least](int s) {
    int sum = 0;
    for (size_t c = 3; c <= 7; ++c) sum += std::max(s, least[c]);
    return sum;
  };
  // Some header does not fit in its column with the share s.
  const auto cramped = [&](int s) {
    return middle(s) > 5 * s || least[8] > std::max(0, rest - 5 * s - 9);
  };
  int share = std::max(0, rest / 6);
  while (share > 0 && cramped(share) && middle(share) + least[8] + 9 > rest) --share;
  for (size_t c = 3; c <= 7; ++c) w[c] = std::max(share, least[c]);
  w[8] = std::max(least[8], rest - middle(share) - 9);
  return w;
}

int TFormMI::DfxLeastClientWidth(const std::array<int, 9>& current, const std::array<int, 9>& least) {
  int width = 9;
  for (size_t c = 0; c <= 2; ++c) width += std::max(current[c], least[c]);
  for (size_t c = 3; c <= 8; ++c) width += least[c];
  return width;
}

std::array<int, 9> TFormMI::HeaderWidths() const {
  std::array<int, 9> w{};
  for (int c = 0; c < 9; ++c) w[size_t(c)] = HeaderWidth(StringER, c);
  return w;
}

void TFormMI::SetGoPicture(GoPicture picture) {
  switch (picture) {
    case GoPicture::Start: ImageGO->SetPicture(ImageST->pixmap(), QStringLiteral("ImageST")); break;
    case GoPicture::Continue:
      ImageGO->SetPicture(ImageST2->pixmap(), QStringLiteral("ImageST2"));
      break;
    case GoPicture::Stop: ImageGO->SetPicture(ImageXX->pixmap(), QStringLiteral("ImageXX")); break;
  }
}

void TFormMI::SetResultSign(ResultSign sign) {
  switch (sign) {
    case ResultSign::None:
      ImageGG->clear();
      ImageGG->setProperty("picture", QString());
      break;
    case ResultSign::Working:
      ImageGG->setPixmap(ImageAT->pixmap());
      ImageGG->setProperty("picture", QStringLiteral("ImageAT"));
      break;
    case ResultSign::Done:
      ImageGG->setPixmap(ImageRG->pixmap());
      ImageGG->setProperty("picture", QStringLiteral("ImageRG"));
      break;
  }
}

// ---- opening, showing, closing -----------------------------------------------------------------

void TFormMI::RestoreAndRaise() {
  if (isMinimized()) showNormal();
  raise();
  activateWindow();
}

void TFormMI::OpenCreationMode() {
  if (isVisible()) {
    RestoreAndRaise();
    return;
  }
  if (rv::WorkerExists()) return;
  setWindowTitle(Q(kCreateCaption));
  EnableControls();
  show();
  RestoreAndRaise();
}

void TFormMI::OpenVerificationMode() {
  if (isVisible()) {
    RestoreAndRaise();
    return;
  }
  if (rv::WorkerExists()) return;
  setWindowTitle(Q(kVerifyCaption));
  DisableControls();
  show();
  RestoreAndRaise();
}

void TFormMI::EnableControls() {
  for (QWidget* w : std::initializer_list<QWidget*>{CheckSA, CheckRE, CheckLI, EditSE, RadioEQ, RadioREIS,
                                                    RadioRENO, RadioRERE, RadioISME, RadioISALL,
                                                    CheckDP, CheckZR, LabelMS, EditMS})
    w->setEnabled(true);
  SetBaseColour(EditSE, Qt::white);
  SetBaseColour(EditMS, Qt::white);
  ImageSE->show();
  ImageHAMMER->show();
}

void TFormMI::DisableControls() {
  for (QWidget* w : std::initializer_list<QWidget*>{CheckSA, CheckRE, CheckLI, EditSE, RadioEQ, RadioREIS,
                                                    RadioRENO, RadioRERE, RadioISME, RadioISALL,
                                                    CheckDP, CheckZR, LabelMS, EditMS})
    w->setEnabled(false);
  SetBaseColour(EditSE, kSilver);
  SetBaseColour(EditMS, kSilver);
  ImageSE->hide();
  ImageHAMMER->hide();
}

void TFormMI::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  PlaceEditMS();
  dfx();
  ApplyScanSigns(true);
  signTimer_->start();
  if (event->spontaneous()) return;
  // FormShow.
  ImageEX->setVisible(!rv::Exclusions().empty());
  if (VerificationMode())
    ImageGOClick();
  else if (firstShow_ == 1 && rv::Opt().autostart)
    ImageGOClick();
}

void TFormMI::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  if (!event->spontaneous()) signTimer_->stop();
}

void TFormMI::closeEvent(QCloseEvent* event) {
  if (rv::WorkerExists()) {
    setWindowTitle(Q(kStopFirst));
    event->ignore();
    return;
  }
  setWindowTitle(QString());
  PanelEX->hide();
  event->accept();
}

// ---- start, stop, completion ---------------------------------------------------------------------

void TFormMI::ImageGOClick() {
  const QString state = GoState();
  if (state == Q(kStateStart)) {
    // Like every starter, nothing while a worker exists, whatever the picture says.
    if (!rv::WorkerExists()) {
      const bool verify = VerificationMode();
      bool ready = true;
      if (!rv::HasBlock("LIST", "movi")) {
        setWindowTitle(Q(kNoStream));
        ready = false;
      } else if (verify && !rv::HasBlock("idx1", "")) {
        setWindowTitle(Q(kNoIndex));
        ready = false;
      }
      if (ready) {
        if (!verify) {
          rv::IndexState& ix = rv::Index();
          if (!ix.entries.empty())
            ix.continueCheck =
                rv::AskChoice(kContinueQuestion, kContinueButton, kAnewButton, 'n') ? 'y' : 0;
          // A new scan starts from an empty grid; show it so at once rather than when the
          // first bad block arrives.
          if (ix.continueCheck != 'y' || ix.entries.empty()) {
            rv::ResetGrid();
            MirrorGrid();
          }
        }
        StartCheck(verify ? "verifyIDX1" : "createIDX1");
      }
    }
  } else if (state == Q(kStateStop)) {
    if (rv::AskYesNo(kStopQuestion)) rv::RequestStop();
  }
  firstShow_ = 0;
}

bool TFormMI::StartCheck(const char* command) {
  rv::Opt().highPriorityCheck = CheckHI->isChecked();
  rv::TaskCommand() = command;
  if (!rv::threadIDX1Start()) return false;
  startedCheck_ = true;
  SetGoPicture(GoPicture::Stop);
  ImageGO->setToolTip(Q(kStateStop));
  signTimer_->start();
  return true;
}

void TFormMI::CheckCompleted(int /*result*/) {
  startedCheck_ = false;
  SetGoPicture(rv::Index().entries.empty() ? GoPicture::Start : GoPicture::Continue);
  ImageGO->setToolTip(Q(kStateStart));
  rv::Crashed2SG();
  MirrorGrid();
  dfx();
  ApplyScanSigns(true);
  FinishContinuation();
}

void TFormMI::TaskCompleted(int code, int /*result*/) {
  // A check whose task is not there ends as any other text (code 0); ImageGO must not stay
  // at "stop" for a task that no longer runs.
  if (code != 100 && startedCheck_ && !rv::WorkerExists()) {
    startedCheck_ = false;
    SetGoPicture(rv::Index().entries.empty() ? GoPicture::Start : GoPicture::Continue);
    ImageGO->setToolTip(Q(kStateStart));
    ApplyScanSigns(true);
    FinishContinuation();
  }
  if (rv::CloseCheckWindowFlag() && isVisible()) close();
}

void TFormMI::ContinueAfterCuts() {
  if (VerificationMode() || rv::WorkerExists() || rv::Index().entries.empty() ||
      !rv::HasBlock("LIST", "movi"))
    return;
  rv::Index().continueCheck = 'y';
  rv::AddMessage(kContinuingMessage);
  if (!StartCheck("createIDX1")) return;
  continuingAfterCuts_ = true;
  setWindowTitle(Q(kContinuingAfterCuts));
}

void TFormMI::FinishContinuation() {
  if (!continuingAfterCuts_) return;
  continuingAfterCuts_ = false;
  // The user pressed the hammer in this window: it stays open to show how the check ended,
  // also when it found nothing more.
  rv::CloseCheckWindowFlag() = 0;
  if (windowTitle() == Q(kContinuingAfterCuts)) setWindowTitle(Q(kCreateCaption));
  // A check that got to the end has indexed what the cuts moved; otherwise the save waits.
  LabelPTR->setText(Q(rv::Index().cutAfterScan ? kNotContinuedAfterCuts : kContinuedAfterCuts));
  LabelPTR->show();
}

// ---- worker messages ---------------------------------------------------------------------------

void TFormMI::ShowProgress(const rv::Progress& p) {
  if (p.target != rv::ProgressTarget::kStreamCheck) return;
  if (p.percent >= 0) GaugeIDX1->SetProgress(p.percent);
  if (p.hasText) LabelPTR->setText(Q(p.text));
}

void TFormMI::CheckMessage(int code, qint64) {
  switch (code) {
    case rv::kAskFirstBlock:
    case rv::kAskBrokenLink:
    case rv::kAskIdx1Found:
      rv::AskYesNo(rv::CheckQuestionText(code));
      break;
    case rv::kShowBadBlock: ShowBadBlockMessage(); break;
    default: break;
  }
}

// The scanner has already put the current bad block into the grid model (the worker waits
// while this runs); the table follows the model.
void TFormMI::ShowBadBlockMessage() {
  const rv::GridState& g = rv::Grid();
  const int row = g.lastTouchedRow;
  const int rows = int(g.rows.size());
  if (g.generation == mirroredGeneration_ + 1 && row > 0 && row < rows &&
      StringER->rowCount() >= rows - 1) {
    StringER->setRowCount(rows);
    for (int c = 0; c < 9; ++c) SetCell(StringER, row, c, Q(g.rows[size_t(row)][size_t(c)]));
    mirroredGeneration_ = g.generation;
  } else {
    MirrorGrid();
  }
  if (rv::Opt().followErrors && row > 0 && row < StringER->rowCount()) {
    StringER->selectRow(row);
    StringER->scrollToItem(StringER->item(row, 0));
  }
  dfx();
}

void TFormMI::ApplyScanSigns(bool force) {
  const rv::ScanUiState& ui = rv::ScanUi();
  const int gauge = ui.gaugeVisible ? 1 : 0;
  const int pointer = ui.pointerVisible ? 1 : 0;
  const int first = ui.firstSearchSign ? 1 : 0;
  if (force || gauge != gaugeShown_) GaugeIDX1->setVisible(gauge);
  if (force || pointer != pointerShown_) LabelPTR->setVisible(pointer);
  if (force || first != firstSearchShown_) ImageFF->setVisible(first);
  gaugeShown_ = gauge;
  pointerShown_ = pointer;
  firstSearchShown_ = first;
  if (!rv::WorkerExists() && !isVisible()) signTimer_->stop();
}

// ---- the grid ------------------------------------------------------------------------------------

void TFormMI::SetCell(QTableWidget* table, int row, int column, const QString& text) {
  QTableWidgetItem* item = table->item(row, column);
  if (!item) {
    item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    table->setItem(row, column, item);
  } else if (item->text() != text) {
    item->setText(text);
  }
  // The narrow last column often cuts its text; the full text shows on hovering.
  if (column == table->columnCount() - 1 && item->toolTip() != text) item->setToolTip(text);
}

void TFormMI::MirrorGrid() {
  const rv::GridState& g = rv::Grid();
  const int rows = int(g.rows.size());
  StringER->setRowCount(rows);
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < 9; ++c) SetCell(StringER, r, c, Q(g.rows[size_t(r)][size_t(c)]));
  QStringList header;
  for (const std::string& cell : g.rows[0]) header << Q(cell);
  SetHeaderRow(StringER, header);
  FitGridToHeaders();
  mirroredGeneration_ = g.generation;
}

void TFormMI::dfx() {
  std::array<int, 9> current;
  for (int c = 0; c < 9; ++c) current[size_t(c)] = StringER->columnWidth(c);
  const std::array<int, 9> w = DfxWidths(StringER->viewport()->width(), current, HeaderWidths());
  for (int c = 0; c < 9; ++c)
    if (StringER->columnWidth(c) != w[size_t(c)]) StringER->setColumnWidth(c, w[size_t(c)]);
}

void TFormMI::FitGridToHeaders() {
  const int client = DfxLeastClientWidth(kDesignWidths, HeaderWidths());
  const int width = client + 2 * StringER->frameWidth() + StringER->verticalScrollBar()->sizeHint().width();
  if (StringER->minimumWidth() != width) StringER->setMinimumWidth(width);
}

void TFormMI::resetMI() {
  if (EditSE->text().isEmpty()) CheckLIClick();
  rv::ResetGrid();
  MirrorGrid();
  dfx();
}

void TFormMI::FileReset() {
  startedCheck_ = false;
  continuingAfterCuts_ = false;
  LabelPTR->clear();
  LabelPTR->hide();
  SetGoPicture(GoPicture::Start);
  ImageGO->setToolTip(Q(kStateStart));
  CheckSA->setEnabled(true);
  EditSE->clear();
  resetMI();
}

// ---- file actions ------------------------------------------------------------------------------

void TFormMI::SelectFileAction(QCheckBox* chosen) {
  for (QCheckBox* box : {CheckSA, CheckRE, CheckLI}) {
    const QSignalBlocker block(box);
    box->setChecked(box == chosen);
  }
  const QString source = InputName();
  if (chosen == CheckSA) {
    EditSE->setText(source + QStringLiteral(".2fix"));
    ImageSE->SetPicture(ImageFR->pixmap(), QStringLiteral("ImageFR"));
  } else if (chosen == CheckRE) {
    EditSE->setText(source + QStringLiteral(".2fix"));
    ImageSE->SetPicture(ImageDU->pixmap(), QStringLiteral("ImageDU"));
  } else {
    EditSE->setText(source + QStringLiteral(".errors.txt"));
    ImageSE->SetPicture(ImageFG->pixmap(), QStringLiteral("ImageFG"));
  }
  SetResultSign(ResultSign::None);
}

void TFormMI::CheckSAClick() { SelectFileAction(CheckSA); }
void TFormMI::CheckREClick() { SelectFileAction(CheckRE); }
void TFormMI::CheckLIClick() { SelectFileAction(CheckLI); }

void TFormMI::ImageSEClick() {
  if (rv::WorkerExists()) return;
  const std::string target = EditSE->text().toStdString();
  const std::string source = InputName().toStdString();
  const int chosen = int(CheckSA->isChecked()) + int(CheckRE->isChecked()) + int(CheckLI->isChecked());
  if (chosen != 1) return;
  SetResultSign(ResultSign::Working);
  ImageGG->repaint();
  if (CheckSA->isChecked()) {
    if (rv::SaveCrashedBlo(target, source) == rv::SaveOutcome::Written)
      SetResultSign(ResultSign::Done);
  } else if (CheckRE->isChecked()) {
    // A file that is missing, not a ".2fix" or of another source loads nothing and changes
    // nothing; the working sign stays.
    if (!rv::RestoreCrashedBlo(target, source)) return;
    SetResultSign(ResultSign::Done);
    rv::ClearExclusions();
    CheckSA->setEnabled(true);
    ImageEX->hide();
    SetGoPicture(GoPicture::Continue);
    rv::Crashed2SG();
    MirrorGrid();
    dfx();
    rv::ResetReadCache();
  } else {
    if (rv::SaveErrorsList(target) == rv::SaveOutcome::Written) SetResultSign(ResultSign::Done);
  }
}

// ---- the exclusion-list panel ------------------------------------------------------------------

void TFormMI::ImageEXClick() {
  const auto& list = rv::Exclusions();
  StringEX->setRowCount(std::max<int>(2, int(list.size()) + 1));
  for (int c = 0; c < 4; ++c) SetCell(StringEX, 1, c, QString());
  for (size_t i = 0; i < list.size(); ++i) {
    const int r = int(i) + 1;
    SetCell(StringEX, r, 0, QString());
    SetCell(StringEX, r, 1, QString::number(r));
    SetCell(StringEX, r, 2, QString::number(list[i].offset));
    SetCell(StringEX, r, 3, QString::number(list[i].count));
  }
  for (int r = 1; r < StringEX->rowCount(); ++r)
    if (QTableWidgetItem* item = StringEX->item(r, 0)) item->setBackground(palette().button());
  PanelEX->move((width() - PanelEX->width()) / 2, (height() - PanelEX->height()) / 2);
  PanelEX->show();
  PanelEX->raise();
  FitExclusionColumns();
}

void TFormMI::FitExclusionColumns() {
  const int rest = StringEX->viewport()->width() - StringEX->columnWidth(0) -
                   StringEX->columnWidth(1) - StringEX->columnWidth(2) - 4;
  StringEX->setColumnWidth(3, std::max(HeaderWidth(StringEX, 3), rest));
}

void TFormMI::ImageEXXClick() { PanelEX->hide(); }

// ---- dump and pop-up menu ----------------------------------------------------------------------

void TFormMI::PopupERPopup() {
  const int row = StringER->currentRow();
  const rv::GridState& g = rv::Grid();
  const std::string cell1 = row > 0 && row < int(g.rows.size()) ? g.rows[size_t(row)][1] : "";
  const rv::RowMenuState m = rv::PopupERState(cell1, rv::WorkerExists());
  MIdump->setEnabled(m.dump);
  MIremofix->setEnabled(m.remofix);
  MIremonofix->setEnabled(m.remonofix);
  MIremoscan->setEnabled(m.remoscan);
  MIfix->setEnabled(m.fix);
  MIleave->setEnabled(m.leave);
}

// ---- repairs ------------------------------------------------------------------------------------

namespace {
uint64_t ExcludedBytes() {
  uint64_t n = 0;
  for (const rv::Exclusion& x : rv::Exclusions()) n += x.count;
  return n;
}
}  // namespace

int TFormMI::SelectedBadBlock() const {
  const int k = StringER->currentRow() - 1;
  return k >= 0 && size_t(k) < rv::BadBlocks().size() ? k : -1;
}

void TFormMI::AfterRepair(int selectRow, uint64_t excludedBefore) {
  MirrorGrid();
  ImageEX->setVisible(!rv::Exclusions().empty());
  // The saved errors describe the state straight after a check: after a repair only loading
  // them makes sense.
  if (CheckSA->isChecked()) SelectFileAction(CheckRE);
  CheckSA->setEnabled(false);
  if (selectRow > 0 && selectRow < StringER->rowCount()) StringER->selectRow(selectRow);
  // Cuts pull the chunks behind them closer: chunks that lay past the end of the stream when
  // it was checked may now lie inside it, and only a continued check indexes them.
  if (ExcludedBytes() > excludedBefore) ContinueAfterCuts();
}

namespace {
TFormMI* g_hammerWindow = nullptr;
void HammerProgress(size_t k, size_t total) {
  if (!g_hammerWindow) return;
  g_hammerWindow->LabelPTR->setText(
      QStringLiteral("ptr: %1 >> %2").arg(qulonglong(k)).arg(qulonglong(total)));
  g_hammerWindow->LabelPTR->repaint();
}
}  // namespace

void TFormMI::ImageHAMMERClick() {
  if (rv::WorkerExists()) return;
  LabelPTR->show();
  ImageWA->show();
  repaint();
  rv::RepairOptions o;
  o.positiveDeltaOnly = CheckDP->isChecked();
  o.zeroRunsOnly = CheckZR->isChecked();
  if (!rv::MinRunFromText(EditMS->text().toStdString(), o.minRun)) {
    EditMS->setText(QStringLiteral("100"));
    o.minRun = 100;
  }
  std::string radio;
  for (QRadioButton* r : {RadioEQ, RadioREIS, RadioRENO, RadioRERE, RadioISME, RadioISALL})
    if (r->isChecked()) radio = r->objectName().toStdString();
  const uint64_t excluded = ExcludedBytes();
  g_hammerWindow = this;
  rv::RunBulkAction(radio, o, InputName().toStdString(), HammerProgress);
  g_hammerWindow = nullptr;
  LabelPTR->clear();
  LabelPTR->hide();
  ImageWA->hide();
  AfterRepair(-1, excluded);
}

void TFormMI::MIremofixClick() {
  const int k = SelectedBadBlock();
  if (k < 0 || rv::WorkerExists()) return;
  const uint64_t excluded = ExcludedBytes();
  ImageWA->show();
  ImageWA->repaint();
  rv::Block2Exclude(size_t(k), 'y');
  ImageWA->hide();
  AfterRepair(k + 1, excluded);
}

void TFormMI::MIremonofixClick() {
  const int k = SelectedBadBlock();
  if (k < 0 || rv::WorkerExists()) return;
  const uint64_t excluded = ExcludedBytes();
  ImageWA->show();
  ImageWA->repaint();
  rv::Block2Exclude(size_t(k), 'n');
  ImageWA->hide();
  AfterRepair(k + 1, excluded);
}

void TFormMI::MIremoscanClick() {
  const int k = SelectedBadBlock();
  if (k < 0 || rv::WorkerExists()) return;
  const uint64_t excluded = ExcludedBytes();
  ImageWA->show();
  ImageWA->repaint();
  rv::RemoveAndRescanOne(size_t(k), InputName().toStdString());
  rv::ResetReadCache();
  rv::Crashed2SG();
  ImageWA->hide();
  AfterRepair(k + 1, excluded);
}

void TFormMI::MIfixClick() {
  const int k = SelectedBadBlock();
  if (k < 0 || rv::WorkerExists()) return;
  const uint64_t excluded = ExcludedBytes();
  rv::FixOne(size_t(k));
  AfterRepair(k + 1, excluded);
}

void TFormMI::MIleaveClick() {
  const int k = SelectedBadBlock();
  if (k < 0 || rv::WorkerExists()) return;
  const uint64_t excluded = ExcludedBytes();
  rv::LeaveOne(size_t(k));
  AfterRepair(k + 1, excluded);
}

void TFormMI::MIdumpClick() {
  if (rv::WorkerExists()) return;
  const int row = StringER->currentRow();
  const rv::GridState& g = rv::Grid();
  if (row <= 0 || row >= int(g.rows.size())) return;
  const rv::GridRow& cells = g.rows[size_t(row)];
  if (!rv::IsNumber(cells[1])) return;
  const unsigned long long entry = std::stoull(cells[1]);
  const auto& entries = rv::Index().entries;
  if (entry >= entries.size()) return;
  const int32_t movi = rv::FindBlock("LIST", "movi");
  if (movi < 0) return;
  const uint64_t moviPos = uint64_t(rv::Blocks()[size_t(movi)].Offset) + 8;
  const uint64_t pos = moviPos + entries[size_t(entry)].dwChunkOffset;
  auto number = [](const std::string& s) -> uint64_t { return rv::IsNumber(s) ? std::stoull(s) : 0; };
  const uint64_t count = std::max(number(cells[5]), number(cells[6]));
  if (pos > 0xFFFFFFFFull || count > 0xFFFFFFFFull) return;
  if (!rv::OpenSource(InputName().toStdString())) return;
  rv::Bytes bytes;
  const bool read = rv::ReadSource(uint32_t(pos), uint32_t(count), bytes);
  rv::CloseSource();
  if (!read) return;
  TFormDU& dump = FormDU();
  dump.SetBase(uint32_t(pos));
  dump.MakeDump(bytes, uint32_t(count));
  dump.show();
  dump.raise();
  dump.activateWindow();
}

// ---- layout and mouse ----------------------------------------------------------------------------

// EditMS stands in the gap of blanks in the caption of LabelMS.
void TFormMI::PlaceEditMS() {
  const QString caption = LabelMS->text();
  const int gapStart = caption.indexOf(QStringLiteral("  "));
  if (gapStart < 0) return;
  const int gapEnd = caption.lastIndexOf(QStringLiteral("  ")) + 2;  // one past the last blank
  const QFontMetrics fm(LabelMS->font());
  // One blank stays on each side of the box.
  const int left = fm.horizontalAdvance(caption.left(gapStart + 1));
  const int width = fm.horizontalAdvance(caption.mid(gapStart + 1, gapEnd - gapStart - 2));
  const int height = fm.height() + 4;
  LabelMS->setMinimumSize(fm.horizontalAdvance(caption) + 2, height);
  EditMS->setGeometry(left, (LabelMS->height() - height) / 2, width, height);
}

bool TFormMI::eventFilter(QObject* watched, QEvent* event) {
  if (watched == StringER->viewport() && event->type() == QEvent::Resize) {
    dfx();
    return false;
  }
  if (watched == StringEX->viewport() && event->type() == QEvent::Resize) FitExclusionColumns();
  if (watched == LabelMS && (event->type() == QEvent::Resize || event->type() == QEvent::FontChange))
    PlaceEditMS();

  const bool onPanel = watched == PanelEX || watched == PanelEH || watched == Label3 ||
                       watched == StringEX->viewport();
  if (onPanel) {
    switch (event->type()) {
      case QEvent::MouseButtonPress: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton) {
          draggingPanel_ = true;
          dragOffset_ = mouse->globalPosition().toPoint() - PanelEX->pos();
        }
        break;
      }
      case QEvent::MouseMove: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (draggingPanel_ && (mouse->buttons() & Qt::LeftButton)) {
          PanelEX->move(mouse->globalPosition().toPoint() - dragOffset_);
          return true;
        }
        break;
      }
      case QEvent::MouseButtonRelease: draggingPanel_ = false; break;
      default: break;
    }
  }
  return QWidget::eventFilter(watched, event);
}

TFormMI& FormMI() {
  static QPointer<TFormMI> window;
  if (!window) window = new TFormMI;
  return *window;
}
