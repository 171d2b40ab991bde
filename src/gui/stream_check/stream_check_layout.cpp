// The stream-check window's controls: built once, with their pictures, captions and layout.
#include "gui/stream_check/stream_check_grid.h"
#include "gui/stream_check/stream_check_window.h"

#include <QAction>
#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionHeader>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <string>

#include "base/messages.h"
#include "base/options.h"
#include "base/questions.h"
#include "base/tasks.h"
#include "check/bad_blocks.h"
#include "check/index.h"
#include "check/repairs.h"
#include "check/scanner.h"
#include "check/side_files.h"
#include "gui/common/dump_window.h"
#include "gui/common/gui_host.h"
#include "gui/common/widgets.h"
#include "riff/blocks.h"
#include "riff/bytes.h"
#include "riff/source.h"

namespace {

constexpr int kGoSize = 36;      // ImageGO and the hammer
constexpr int kActionSize = 28;  // ImageSE
constexpr int kSignSize = 16;    // ImageFF, ImageEX, ImageGG, ImageWA, ImageEXX

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

}  // namespace

namespace stream_check {

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

void SetBaseColour(QLineEdit* edit, const QColor& colour) {
  QPalette pal = edit->palette();
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
    pal.setColor(group, QPalette::Base, colour);
  edit->setPalette(pal);
}

}  // namespace stream_check

using stream_check::HeaderWidth;
using stream_check::SetHeaderRow;

void TFormMI::BuildPictures() {
  ImageST = PictureLabel(this, "ImageST", pictures::Draw(pictures::Kind::CheckStart, kGoSize));
  ImageST2 = PictureLabel(this, "ImageST2", pictures::Draw(pictures::Kind::CheckContinue, kGoSize));
  ImageXX = PictureLabel(this, "ImageXX", pictures::Draw(pictures::Kind::CheckStop, kGoSize));
  ImageFR = PictureLabel(this, "ImageFR", pictures::Draw(pictures::Kind::SaveErrors, kActionSize));
  ImageDU = PictureLabel(this, "ImageDU", pictures::Draw(pictures::Kind::LoadErrors, kActionSize));
  ImageFG = PictureLabel(this, "ImageFG", pictures::Draw(pictures::Kind::SaveList, kActionSize));
  ImageRG = PictureLabel(this, "ImageRG", pictures::Draw(pictures::Kind::Done, kSignSize));
  ImageAT = PictureLabel(this, "ImageAT", pictures::Draw(pictures::Kind::Working, kSignSize));
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

  ImageFF = PictureLabel(Panel1, "ImageFF", pictures::Draw(pictures::Kind::FirstSearch, kSignSize));
  ImageFF->setToolTip(Q("поиск первого блока"));
  ImageFF->hide();
  KeepPlace(ImageFF);

  ImageEX = MakePictureButton(Panel1, "ImageEX", kSignSize);
  ImageEX->SetPicture(pictures::Draw(pictures::Kind::Exclusions, kSignSize),
                      QStringLiteral("ImageEX"));
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
  PopupER->setFont(font());  // the window's size, not the menus' default
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
  SetGoState(kStateStart);
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
  ImageSE->setToolTip(Q(kSaveListHint));
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

  RadioEQ =
      MakeRadio(PanelBB, "RadioEQ", "убрать области повторов, там где их размеры равны дельте",
                "исправлять ничего не надо, ибо заявленный размер станет равен реальному.");
  RadioREIS = MakeRadio(PanelBB, "RadioREIS", "убрать области повторов и исправить размер",
                        "сделать размер равным реальному размеру - дельта.");
  RadioRENO =
      MakeRadio(PanelBB, "RadioRENO", "убрать области повторов, размеры считать правильными",
                "да, но при условии, что заявленный размер <= (реальный - дельта). в "
                "противном случае размер будет исправлен.");
  RadioRERE = MakeRadio(PanelBB, "RadioRERE", "убрать области повторов и пересканировать chunk-и");
  RadioISME =
      MakeRadio(PanelBB, "RadioISME",
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
  ImageHAMMER->SetPicture(pictures::Draw(pictures::Kind::Hammer, kGoSize),
                          QStringLiteral("ImageHAMMER"));
  ImageHAMMER->setToolTip(Q("править"));
  connect(ImageHAMMER, &QToolButton::clicked, this, &TFormMI::ImageHAMMERClick);
  ImageWA =
      PictureLabel(PanelBB, "ImageWA", pictures::Draw(pictures::Kind::CheckBusy, kSignSize + 8));
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
  for (QWidget* w :
       std::initializer_list<QWidget*>{Label2, RadioEQ, RadioREIS, RadioRENO, RadioRERE, RadioISME,
                                       RadioISALL, CheckDP, CheckZR, CheckSA, CheckRE, CheckLI})
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
  ImageEXX->setToolTip(Q("закрыть"));
  ImageEXX->SetPicture(pictures::Draw(pictures::Kind::Close, kSignSize - 4),
                       QStringLiteral("ImageEXX"));
  connect(ImageEXX, &QToolButton::clicked, this, &TFormMI::ImageEXXClick);
  auto* titleRow = new QHBoxLayout(PanelEH);
  titleRow->setContentsMargins(6, 1, 2, 1);
  titleRow->addWidget(Label3, 1);
  titleRow->addWidget(ImageEXX);

  StringEX = MakeGrid(PanelEX, "StringEX", 4);
  StringEX->setRowCount(2);
  SetHeaderRow(StringEX,
               {QString(), QStringLiteral("#"), Q("offset в файле"), Q("количество байт")});
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
  const int columns = StringEX->columnWidth(0) + StringEX->columnWidth(1) +
                      StringEX->columnWidth(2) + HeaderWidth(StringEX, 3) + 4;
  const int around = 2 * PanelEX->frameWidth() + layout->contentsMargins().left() +
                     layout->contentsMargins().right() + 2 * StringEX->frameWidth() +
                     StringEX->verticalScrollBar()->sizeHint().width();
  PanelEX->resize(
      PanelEX->size().expandedTo(PanelEX->minimumSizeHint()).expandedTo({columns + around, 0}));
  PanelEX->hide();
}
