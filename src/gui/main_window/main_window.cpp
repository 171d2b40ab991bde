#include "gui/main_window/main_window.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

#include "base/messages.h"
#include "base/options.h"
#include "base/questions.h"
#include "base/tasks.h"
#include "check/file_state.h"
#include "check/index.h"
#include "check/scanner.h"
#include "decode/stream_synth.h"
#include "gui/common/diagram_window.h"
#include "gui/common/dump_window.h"
#include "gui/common/gui_host.h"
#include "gui/common/widgets.h"
#include "gui/join/join_tab.h"
#include "gui/keyframes/keyframe_tab.h"
#include "gui/main_window/file_drop.h"
#include "gui/main_window/header_panels.h"
#include "gui/stream_check/stream_check_window.h"
#include "output/naming.h"
#include "output/reconstruction.h"
#include "output/writer.h"
#include "riff/blocks.h"
#include "riff/bytes.h"
#include "riff/header.h"
#include "riff/hexdump.h"
#include "riff/source.h"

namespace {

// Captions of the controls.
constexpr const char* kTabFix = "ремонт";
constexpr const char* kTabKK = "поиск опорных кадров";
constexpr const char* kTabJoin = "сборка";
constexpr const char* kTabCfg = "настройки";

constexpr int kPictureSize = 20;

QColor LabelColour(rv::LabelColor c) {
  switch (c) {
    case rv::LabelColor::Blue: return QColor(0, 0, 255);
    case rv::LabelColor::Maroon: return QColor(128, 0, 0);
    case rv::LabelColor::Gray: break;
  }
  return QColor(128, 128, 128);
}

}  // namespace

// ---- construction ---------------------------------------------------------------------------

TFormMain::TFormMain(QWidget* parent) : QMainWindow(parent) {
  setObjectName("FormMain");
  setWindowTitle(Q(kCaption));
  setMinimumSize(kMinWidth, kMinHeight);
  resize(kStartWidth, kStartHeight);
  QFont f = font();
  f.setPointSizeF(8.0);
  setFont(f);

  PageControl1 = Named(new QTabWidget(this), "PageControl1");
  PageControl1->setDocumentMode(false);
  setCentralWidget(PageControl1);

  TabSheetFIX = Named(new QWidget, "TabSheetFIX");
  TabSheetKK = Named(new QWidget, "TabSheetKK");
  TabSheetJOIN = Named(new QWidget, "TabSheetJOIN");
  TabSheetCFG = Named(new QWidget, "TabSheetCFG");
  PageControl1->addTab(TabSheetFIX, Q(kTabFix));
  PageControl1->addTab(TabSheetKK, Q(kTabKK));
  PageControl1->addTab(TabSheetJOIN, Q(kTabJoin));
  PageControl1->addTab(TabSheetCFG, Q(kTabCfg));

  BuildRepairTab(TabSheetFIX);
  ConnectRepairTab();
  BuildKeyframeTab();
  BuildJoinTab();
  BuildSettingsTab(TabSheetCFG, this);
  ConnectSettingsTab();
  BuildCorner();
  ConnectOptions();
  // Floating over the tabs, so made after them.
  headerPanels_ = new HeaderPanels(*this, *this);
  hooks_.openHeaderEditor = [this](int32_t b) { headerPanels_->OpenEditorOf(b); };
  // The blocks the panels were opened for go with the file they belong to.
  connect(this, &TFormMain::fileReset, headerPanels_, &HeaderPanels::HideAll);
  // A file dropped from a file manager is opened and read.
  AcceptFileDrops(*this);

  // Never lower than the right column of the repair tab needs at its fitted width, so that
  // no caption of the save area overlaps another and the buttons keep their height.
  setMinimumSize(kMinWidth, std::max(kMinHeight, LeastHeight()));
  // The pop-up menus in the window's font.
  PopupRIFF->setFont(font());

  // Centred on the screen.
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect avail = screen->availableGeometry();
    move(avail.left() + (avail.width() - kStartWidth) / 2,
         avail.top() + (avail.height() - kStartHeight) / 2);
  }

  FormCreate();
}

TFormMain::~TFormMain() = default;

int TFormMain::LeastHeight() const {
  QLayout* column = PanelIDX1->layout();
  const int columnHeight = column->hasHeightForWidth() ? column->heightForWidth(kRightColumnWidth)
                                                       : column->minimumSize().height();
  // The tab bar, the page's frame and the tab's own margins around the column.
  const int around = PageControl1->tabBar()->sizeHint().height() +
                     2 * PageControl1->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) +
                     TabSheetFIX->layout()->contentsMargins().top() +
                     TabSheetFIX->layout()->contentsMargins().bottom() + 4;
  return columnHeight + around;
}

void TFormMain::AttachHost(GuiHost* host) {
  if (!host) return;
  host->SetDialogOwner(this);
  const auto unique = Qt::UniqueConnection;
  connect(host, &GuiHost::messagesChanged, this, &TFormMain::RefreshMessages, unique);
  connect(host, &GuiHost::labelsChanged, this, &TFormMain::RefreshLabels, unique);
  connect(host, &GuiHost::progress, this, &TFormMain::ShowProgress, unique);
  connect(host, &GuiHost::taskDone, this, &TFormMain::TaskCompleted, unique);
}

void TFormMain::FormCreate() {
  PageControl1->setCurrentWidget(TabSheetFIX);
  ControlsFromConfig(rv::ConfigValues{});
  LoadConfig();
  rv::ResetReadCache();
  lastDir_.clear();
  SyncOptions();
  RefreshLabels();
  RefreshMessages();
}

void TFormMain::BuildCorner() {
  PanelWD = Named(new QWidget, "PanelWD");
  auto* l = new QHBoxLayout(PanelWD);
  l->setContentsMargins(0, 0, 4, 0);
  ImageWD = Named(new PictureButton(PanelWD), "ImageWD");
  ImageWD->SetPicture(pictures::Draw(pictures::Kind::Web, 18), QStringLiteral("ImageWDG"));
  ImageWD->SetHoverPicture(pictures::Draw(pictures::Kind::WebHover, 18));
  ImageWD->setToolTip(Q("открыть сайт программы в браузере"));
  l->addWidget(ImageWD);
  PageControl1->setCornerWidget(PanelWD, Qt::TopRightCorner);
  connect(ImageWD, &QToolButton::clicked, this, &TFormMain::ImageWDClick);
}

void TFormMain::ConnectRepairTab() {
  connect(ImageFI, &QToolButton::clicked, this, &TFormMain::ImageFIClick);
  connect(BitBtnGO, &QPushButton::clicked, this, &TFormMain::BitBtnGOClick);
  connect(BitBtnREC, &QPushButton::clicked, this, &TFormMain::BitBtnRECClick);
  connect(BitBtnDonor, &QPushButton::clicked, this, &TFormMain::BitBtnDonorClick);
  connect(BitBtnFSD, &QPushButton::clicked, this, &TFormMain::BitBtnFSDClick);
  connect(ImageX, &QToolButton::clicked, this, &TFormMain::ImageXClick);
  connect(ImageSA, &QToolButton::clicked, this, &TFormMain::ImageSAClick);
  connect(CheckSAID, &QCheckBox::toggled, this, &TFormMain::CheckSAIDClick);
  connect(Image1, &QToolButton::clicked, this, &TFormMain::Image1Click);
  connect(MIdump, &QAction::triggered, this, &TFormMain::MIdumpClick);
  connect(TreeRIFF, &QTreeWidget::itemDoubleClicked, this, [this] { TreeRIFFDblClick(); });
  connect(TreeRIFF, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    if (QTreeWidgetItem* item = TreeRIFF->itemAt(pos)) TreeRIFF->setCurrentItem(item);
    PopupRIFF->popup(TreeRIFF->viewport()->mapToGlobal(pos));
  });
  // Moving a splitter by hand ends the automatic fitting until Image1 is clicked.
  connect(SplitterL, &QSplitter::splitterMoved, this, [this] {
    if (!fitting_) autoFit_ = false;
  });
  connect(SplitterST, &QSplitter::splitterMoved, this, [this] {
    if (!fitting_) autoFit_ = false;
  });
  SplitterL->installEventFilter(this);
  SplitterST->installEventFilter(this);
  // The tasks open the file named here; it follows the field while no task runs (a starter
  // sets it again before it starts one).
  connect(EditIN, &QLineEdit::textChanged, this, [](const QString& text) {
    if (!rv::WorkerExists()) rv::InputFileName() = text.toStdString();
  });
  connect(EditOUT, &QLineEdit::textChanged, this, [](const QString& text) {
    if (!rv::WorkerExists()) rv::OutputFileName() = text.toStdString();
  });
  connect(EditIN, &QLineEdit::returnPressed, this, &TFormMain::ProposeOutputName);
}

void TFormMain::BuildKeyframeTab() {
  keyframeTab_ = new KeyframeTab(*this, TabSheetKK);
  connect(this, &TFormMain::taskCompleted, keyframeTab_, &KeyframeTab::TaskCompleted);
  connect(this, &TFormMain::fileReset, keyframeTab_, &KeyframeTab::FileReset);
}

void TFormMain::BuildJoinTab() {
  joinTab_ = new JoinTab(*this, TabSheetJOIN);
  connect(this, &TFormMain::taskCompleted, joinTab_, &JoinTab::TaskCompleted);
}

void TFormMain::ConnectSettingsTab() {
  connect(ComboIOBMX, &QComboBox::currentTextChanged, this,
          [this](const QString& text) { ComboIOBMXChange(text); });
  connect(CheckADL, &QCheckBox::toggled, this, [this] { CheckADLClick(); });
  connect(BitBtnKT, &QPushButton::clicked, this, &TFormMain::BitBtnKTClick);
}

void TFormMain::ConnectOptions() {
  for (QCheckBox* c : {Check00db, Check01wb, CheckFI, CheckHI, CheckKR, CheckOF, CheckHB, CheckLF,
                       CheckTT, CheckPPSI, CheckTNF, CheckDRTS, CheckADL, CheckATD, CheckNoIDX1,
                       CheckNoFixSz, CheckSAID, CheckSavePart})
    connect(c, &QCheckBox::toggled, this, &TFormMain::SyncOptions);
  for (QRadioButton* r : {RadioZM, RadioZI, RadioZO})
    connect(r, &QRadioButton::toggled, this, &TFormMain::SyncOptions);
  connect(EditHB, &QLineEdit::textChanged, this, &TFormMain::SyncOptions);
}

void TFormMain::SyncOptions() {
  rv::Options& o = rv::Opt();
  o.key00db = Check00db->isChecked();
  o.key01wb = Check01wb->isChecked();
  o.searchNext = CheckFI->isChecked();
  o.highPriorityMain = CheckHI->isChecked();
  o.scanToEof = CheckKR->isChecked();
  o.beyondEof = CheckOF->isChecked();
  o.bigIsBad = CheckHB->isChecked();
  o.bigLimitBytes = rv::SizeLimitFromText(EditHB->text().toStdString());
  o.followErrors = CheckLF->isChecked();
  o.streams01 = CheckTT->isChecked();
  o.autostart = CheckPPSI->isChecked();
  o.totalFrames = CheckTNF->isChecked();
  o.ratesFromTbf = CheckDRTS->isChecked();
  o.audioLength = CheckADL->isChecked();
  o.audioRate = CheckATD->isChecked();
  o.noIdx1 = CheckNoIDX1->isChecked();
  o.noFixSize = CheckNoFixSz->isChecked();
  o.savePart = CheckSavePart->isChecked();
  o.saveIndexOnly = CheckSAID->isChecked();
  o.headerMode = RadioZI->isChecked() ? 'I' : RadioZO->isChecked() ? 'O' : 'M';
}

// ---- configuration --------------------------------------------------------------------------

rv::ConfigValues TFormMain::ConfigFromControls() const {
  rv::ConfigValues v;
  v.r00db = Check00db->isChecked();
  v.r01wb = Check01wb->isChecked();
  v.rfi = CheckFI->isChecked();
  v.iobmx = ComboIOBMX->currentText().toStdString();
  v.kr = CheckKR->isChecked();
  v.of = CheckOF->isChecked();
  v.hb = CheckHB->isChecked();
  v.hbsz = EditHB->text().toStdString();
  v.lf = CheckLF->isChecked();
  v.tt = CheckTT->isChecked();
  v.ppsi = CheckPPSI->isChecked();
  v.tnf = CheckTNF->isChecked();
  v.drts = CheckDRTS->isChecked();
  v.adl = CheckADL->isChecked();
  v.atd = CheckATD->isChecked();
  v.atdEnabled = CheckATD->isEnabled();
  return v;
}

void TFormMain::ControlsFromConfig(const rv::ConfigValues& v) {
  Check00db->setChecked(v.r00db);
  Check01wb->setChecked(v.r01wb);
  CheckFI->setChecked(v.rfi);
  SetComboText(ComboIOBMX, QString::fromStdString(v.iobmx));
  CheckKR->setChecked(v.kr);
  CheckOF->setChecked(v.of);
  CheckHB->setChecked(v.hb);
  EditHB->setText(QString::fromStdString(v.hbsz));
  CheckLF->setChecked(v.lf);
  CheckTT->setChecked(v.tt);
  CheckPPSI->setChecked(v.ppsi);
  CheckTNF->setChecked(v.tnf);
  CheckDRTS->setChecked(v.drts);
  CheckADL->setChecked(v.adl);
  CheckATD->setChecked(v.atd);
  CheckADLClick();
  SyncOptions();
}

bool TFormMain::LoadConfig() {
  rv::ConfigValues v;
  if (!rv::LoadConfigFile(v)) return false;
  ControlsFromConfig(v);
  // The loaded buffer size takes effect at once, also when the combo box already showed it.
  ComboIOBMXChange(ComboIOBMX->currentText());
  return true;
}

void TFormMain::SaveConfig() { rv::SaveConfigFile(ConfigFromControls()); }

// ---- engine state shown -----------------------------------------------------------------------

void TFormMain::RefreshMessages() {
  std::vector<std::string> lines = rv::MessageLines();
  QStringList list;
  list.reserve(int(lines.size()));
  for (const std::string& s : lines) list << QString::fromStdString(s);
  QString text = list.join(QLatin1Char('\n'));
  if (text == MemoST->toPlainText()) return;
  MemoST->setPlainText(text);
  MemoST->verticalScrollBar()->setValue(MemoST->verticalScrollBar()->maximum());
}

void TFormMain::RefreshLabels() {
  QLabel* labels[rv::kLabelCount] = {LabelAVIH,  LabelVSTRH, LabelVSTRF, LabelASTRH,
                                     LabelASTRF, LabelMOVI,  LabelIDX1};
  for (int i = 0; i < rv::kLabelCount; ++i) {
    QPalette pal = labels[i]->palette();
    QColor c = LabelColour(rv::GetLabel(i));
    if (pal.color(QPalette::WindowText) == c) continue;
    pal.setColor(QPalette::WindowText, c);
    labels[i]->setPalette(pal);
  }
}

void TFormMain::RefreshTree() {
  const rv::TreeModel& model = rv::Tree();
  TreeRIFF->setUpdatesEnabled(false);
  TreeRIFF->clear();
  std::vector<QTreeWidgetItem*> items;
  items.reserve(model.lines.size());
  QList<QTreeWidgetItem*> top;
  for (size_t i = 0; i < model.lines.size(); ++i) {
    const rv::TreeLine& line = model.lines[i];
    // Lines taken out of the tree (the old field lines of an edited block) are not shown,
    // nor anything under them.
    QTreeWidgetItem* parent = nullptr;
    const bool child = line.parent >= 0 && size_t(line.parent) < i;
    if (line.parent == rv::TreeModel::kRemoved || (child && !items[size_t(line.parent)])) {
      items.push_back(nullptr);
      continue;
    }
    if (child) parent = items[size_t(line.parent)];
    auto* item = new QTreeWidgetItem(QStringList{QString::fromStdString(line.text)});
    item->setToolTip(0, item->text(0));  // the whole line, also where the column cuts it
    item->setData(0, Qt::UserRole, int(i));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    if (parent)
      parent->addChild(item);
    else
      top.push_back(item);
    items.push_back(item);
  }
  TreeRIFF->addTopLevelItems(top);
  if (model.expandedLine >= 0 && size_t(model.expandedLine) < items.size() &&
      items[size_t(model.expandedLine)])
    items[size_t(model.expandedLine)]->setExpanded(true);
  TreeRIFF->setUpdatesEnabled(true);
}

void TFormMain::ShowTaskControls(bool show, bool withPointer) {
  if (show) GaugeSA->SetProgress(0);
  ImageX->setVisible(show);
  GaugeSA->setVisible(show);
  LabelPTR->setVisible(show && withPointer);
  if (!show) LabelPTR->clear();
}

// ---- tasks ------------------------------------------------------------------------------------

bool TFormMain::StartTask(const QString& command) {
  if (rv::WorkerExists()) return false;
  const bool showsGauge =
      command == QLatin1String("saveOUT") || command == QLatin1String("reconstruction");
  rv::InputFileName() = EditIN->text().toStdString();
  rv::OutputFileName() = EditOUT->text().toStdString();
  rv::TaskCommand() = command.toStdString();
  if (showsGauge) ShowTaskControls(true, command == QLatin1String("reconstruction"));
  if (!rv::threadIDX1Start()) {
    if (showsGauge) ShowTaskControls(false, false);
    return false;
  }
  return true;
}

void TFormMain::TaskCompleted(int code, int result) {
  // 1. The worker has ended: free it. From here on a new task may start.
  if (rv::WorkerExists()) rv::FinishWorker();
  ShowTaskControls(false, false);
  if (code == 100) {
    // 2. A stream check or an index check.
    if (result == 1) {
      rv::SetLabel(rv::kLabelMOVI, rv::LabelColor::Blue);
      rv::SetLabel(rv::kLabelIDX1, rv::LabelColor::Blue);
    }
    BitBtnFSD->setEnabled(true);
    RefreshLabels();
    SetSavePicture(rv::ReadyToSave());
    Q_EMIT checkFinished(result);
  } else if (code == 101 && result == 1) {
    // 3. A successful reconstruction: the tree and the header records from the new table.
    rv::FinishReconstruction();
    if (!donorFile_.isEmpty()) rv::AddMessage("• реконструкция нашла заголовок: донор не нужен");
    donorFile_.clear();
    RefreshTree();
  } else if (code == 101) {
    SynthesizeHeader();
    RefreshTree();
  } else if (code == 0 && rv::TaskCommand() == "saveOUT") {
    ReportSave();
  }
  RefreshLabels();
  RefreshMessages();
  // The stream check checks CheckFI itself when the user agrees to a byte search.
  {
    QSignalBlocker block(CheckFI);
    CheckFI->setChecked(rv::Opt().searchNext);
  }
  Q_EMIT taskCompleted(code, result);
}

void TFormMain::ReportSave() {
  const rv::WriteSummary& w = rv::LastWrite();
  const std::string out = rv::OutputFileName();
  if (!w.written) {
    rv::AddMessage("• файл не записан: " + out);
  } else if (w.writeError) {
    rv::AddMessage("• файл записан не полностью (ошибка записи): " + out);
  } else {
    std::string line = "• сохранено: " + out + ", записано блоков " +
                       std::to_string(w.chunksWritten - w.fromOwnIndex) + " из " +
                       std::to_string(rv::Index().entries.size());
    if (w.fromOwnIndex) line += ", взято из индекса файла " + std::to_string(w.fromOwnIndex);
    if (!w.complete) line += " (не все блоки индекса записаны)";
    rv::AddMessage(line);
  }
  RefreshMessages();
}

void TFormMain::ShowProgress(const rv::Progress& p) {
  if (p.target == rv::ProgressTarget::kMain) {
    if (p.percent >= 0) GaugeSA->SetProgress(std::clamp(p.percent, 0, 100));
    if (p.hasText && rv::WorkerExists() && rv::TaskCommand() == "reconstruction")
      LabelPTR->setText(Q(p.text));
  } else if (p.target == rv::ProgressTarget::kKeyframes) {
    keyframeTab_->ShowProgress(p);
  }
}

void TFormMain::ImageXClick() {
  if (rv::AskYesNo(kStopQuestion)) rv::RequestStop();
}

void TFormMain::BitBtnKTClick() {
  if (!rv::WorkerExists()) return;
  rv::KillWorker();
  // After the kill: calls of the killed worker still on their way are dropped.
  if (GuiHost* host = ActiveGuiHost()) host->WorkerKilled();
}

void TFormMain::BitBtnRECClick() {
  if (rv::WorkerExists()) return;
  if (EditIN->text().isEmpty()) {
    EditIN->setText(Q(kNoFileName));
    return;
  }
  // A header rebuilt for another file starts from nothing of the old one.
  if (!rv::LoadedFileName().empty() &&
      !rv::SameSourceFile(EditIN->text().toStdString(), rv::LoadedFileName()))
    ResetShownFile();
  rv::LoadedFileName() = EditIN->text().toStdString();
  rv::ClearMessages();
  TreeRIFF->clear();
  rv::Tree().Clear();
  rv::SignsOff();
  BitBtnIDX->setEnabled(false);
  BitBtnFSD->setEnabled(false);
  SetSavePicture(false);
  // After a reconstruction only the built header can be written; opening a file again
  // offers the other two.
  RadioZM->setChecked(true);
  RadioZI->setEnabled(false);
  RadioZO->setEnabled(false);
  RefreshMessages();
  RefreshLabels();
  StartTask(QStringLiteral("reconstruction"));
}

void TFormMain::BitBtnDonorClick() {
  if (rv::WorkerExists()) return;
  const QString dir = DialogFolder(
      EditIN->text(), lastDir_.isEmpty() ? QString::fromStdString(rv::ProgramDir()) : lastDir_);
  const QStringList names =
      ChooseFilesToOpen(this, dir, Q("*.avi (*.avi);;*.* (*)"), false, Q("файл-донор"));
  if (names.isEmpty()) return;
  donorFile_ = names.first();
  BitBtnRECClick();
  if (!rv::WorkerExists()) donorFile_.clear();
}

void TFormMain::SynthesizeHeader() {
  const std::string donor = donorFile_.toStdString();
  donorFile_.clear();
  rv::AddMessage("• реконструкция не нашла всех нужных блоков");
  // What the search found is read into the records: a surviving audio header is kept.
  rv::FinishReconstruction();
  if (!rv::OpenSource(rv::InputFileName())) return;
  rv::MakeHeader(
      donor, [](const std::string& question) { return rv::AskYesNo(question); }, "");
  rv::CloseSource();
}

// ---- the file -----------------------------------------------------------------------------------

void TFormMain::ImageFIClick() {
  const QString dir = DialogFolder(
      EditIN->text(), lastDir_.isEmpty() ? QString::fromStdString(rv::ProgramDir()) : lastDir_);
  const QStringList names = ChooseFilesToOpen(this, dir, Q("*.avi (*.avi);;*.* (*)"), false);
  if (names.isEmpty()) return;
  FileChosen(names.first());
}

void TFormMain::FileChosen(const QString& name) {
  // Another file: what the window holds of the old one (tree, labels, index, bad blocks,
  // the save sign) goes, so that nothing of it is ever applied to the new file's bytes.
  if (!rv::WorkerExists() && !rv::LoadedFileName().empty() &&
      !rv::SameSourceFile(name.toStdString(), rv::LoadedFileName()))
    ResetShownFile();
  EditIN->setText(name);
  lastDir_ = QFileInfo(name).absolutePath();
  ProposeOutputName();
}

QString TFormMain::InputName() const { return EditIN->text(); }

void TFormMain::ProposeOutputName() {
  if (EditIN->text().isEmpty()) return;
  proposedFrom_ = EditIN->text();
  EditOUT->setText(QString::fromStdString(rv::makeOutFN(EditIN->text().toStdString())));
}

void TFormMain::ResetShownFile() {
  rv::ResetFileState();
  TreeRIFF->clear();
  SetSavePicture(false);
  BitBtnFSD->setEnabled(false);
  BitBtnIDX->setEnabled(false);
  RadioZI->setEnabled(true);
  RadioZO->setEnabled(true);
  // The one-shot choices of the save area belong to the old file; the options stay.
  {
    QSignalBlocker block(CheckSAID);
    CheckSAID->setChecked(false);
  }
  CheckSavePart->setChecked(false);
  ShowTaskControls(false, false);
  RefreshLabels();
  Q_EMIT fileReset();
}

void TFormMain::BitBtnGOClick() {
  if (EditIN->text().isEmpty()) {
    EditIN->setText(Q(kNoFileName));
    return;
  }
  // The state of the open file belongs to a running task.
  if (rv::WorkerExists()) return;
  ImageWO->show();
  repaint();

  // A name typed into EditIN and read without Enter gets its output name too.
  if (EditIN->text() != proposedFrom_) ProposeOutputName();
  ResetShownFile();
  const std::string name = EditIN->text().toStdString();
  rv::InputFileName() = name;
  rv::OpenResult res = rv::OpenAndReadHeader(name);
  BitBtnIDX->setEnabled(res.opened && res.hasIdx1);
  if (res.opened &&
      (!rv::HasBlock("LIST", "movi") || !rv::IFpresent("avih") || !rv::IFpresent("vstrh")))
    rv::AddMessage(kRebuildHint);
  RefreshTree();
  RefreshMessages();
  RefreshLabels();
  ImageWO->hide();
}

int TFormMain::SelectedBlock() const {
  QTreeWidgetItem* item = TreeRIFF->currentItem();
  if (!item) return -1;
  return rv::FindBlockAt(item->data(0, Qt::UserRole).toInt());
}

void TFormMain::MIdumpClick() {
  const int index = SelectedBlock();
  if (index < 0) return;
  const rv::BlockRecord r = rv::Blocks()[size_t(index)];
  if (r.Size > kDumpAskSize && !rv::AskYesNo(kBigDumpQuestion)) return;
  QFile file(EditIN->text());
  if (!file.open(QIODevice::ReadOnly)) return;
  // A block that runs past the end of the file shows what the file holds; a long one its
  // start and its end.
  const qint64 fileSize = file.size();
  const qint64 available = std::max<qint64>(0, fileSize - qint64(r.Offset));
  const rv::DumpParts parts =
      rv::DumpPartsOf(uint32_t(std::min<qint64>({qint64(r.Size), available, 0xFFFFFFFF})));
  rv::Bytes bytes;
  auto read = [&](qint64 at, uint32_t count) {
    if (count == 0 || !file.seek(at)) return;
    const size_t had = bytes.size();
    bytes.resize(had + count);
    const qint64 got = file.read(reinterpret_cast<char*>(bytes.data() + had), qint64(count));
    bytes.resize(had + size_t(std::max<qint64>(got, 0)));
  };
  read(qint64(r.Offset), parts.head);
  const uint32_t gapAt = uint32_t(bytes.size());
  read(qint64(r.Offset) + parts.head + parts.skipped, parts.tail);
  file.close();
  TFormDU& du = FormDU();
  du.SetBase(r.Offset);
  du.MakeDump(bytes, uint32_t(bytes.size()), gapAt, parts.tail ? parts.skipped : 0);
  du.show();
  du.raise();
  du.activateWindow();
}

void TFormMain::TreeRIFFDblClick() {
  const int index = SelectedBlock();
  if (index < 0) return;
  const rv::BlockRecord& r = rv::Blocks()[size_t(index)];
  if (r.Name == "avih" || r.Name == "strh" || r.Name == "strf") {
    if (hooks_.openHeaderEditor) hooks_.openHeaderEditor(index);
    return;
  }
  MIdumpClick();
}

void TFormMain::AttachStreamCheckWindow(TFormMI& window) {
  window.SetInputNameSource([this] { return EditIN->text(); });
  window.SetAnchor(this);
  connect(this, &TFormMain::fileReset, &window, &TFormMI::FileReset);
  connect(this, &TFormMain::checkFinished, &window, &TFormMI::CheckCompleted);
  connect(this, &TFormMain::taskCompleted, &window, &TFormMI::TaskCompleted);
  // Nothing happens while EditIN is empty.
  connect(BitBtnIDX1, &QPushButton::clicked, &window, [this, &window] {
    if (!EditIN->text().isEmpty()) window.OpenCreationMode();
  });
  connect(BitBtnIDX, &QPushButton::clicked, &window, [this, &window] {
    if (!EditIN->text().isEmpty()) window.OpenVerificationMode();
  });
}

void TFormMain::BitBtnFSDClick() {
  TFormDIAG& diag = FormDIAG();
  diag.show();
  diag.raise();
  diag.activateWindow();
}

// ---- window -----------------------------------------------------------------------------------

void TFormMain::ImageWDClick() { QDesktopServices::openUrl(QUrl(Q(kWebAddress))); }

void TFormMain::Image1Click() {
  autoFit_ = true;
  Refit();
}

void TFormMain::Refit() {
  if (!autoFit_) return;
  fitting_ = true;
  const int total = SplitterL->width() - SplitterL->handleWidth();
  if (total > 0) {
    const int rightWidth = std::min(kRightColumnWidth, total - 50);
    SplitterL->setSizes({total - rightWidth, rightWidth});
  }
  const int st = SplitterST->width() - SplitterST->handleWidth();
  if (st > 0) SplitterST->setSizes({st / 2, st - st / 2});
  fitting_ = false;
}

void TFormMain::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  Refit();
}

bool TFormMain::eventFilter(QObject* watched, QEvent* event) {
  if (FilterSettingsEvent(watched, event)) return true;
  if ((event->type() == QEvent::Resize || event->type() == QEvent::Show) &&
      (watched == SplitterL || watched == SplitterST) && autoFit_ && !fitting_)
    Refit();
  return QMainWindow::eventFilter(watched, event);
}

void TFormMain::closeEvent(QCloseEvent* event) {
  // While a task runs the window stays open, and says why.
  if (rv::WorkerExists()) {
    rv::AddMessage(kBusyClose);
    RefreshMessages();
    event->ignore();
    return;
  }
  SaveConfig();
  event->accept();
  Q_EMIT closed();
}
