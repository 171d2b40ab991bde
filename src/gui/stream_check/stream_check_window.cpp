#include "gui/stream_check/stream_check_window.h"
#include "gui/stream_check/stream_check_grid.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QTimer>
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

constexpr int kSignPeriodMs = 33;  // the scanner's signs are looked at this often
constexpr qreal kFontPoints = 8.0;
constexpr int kScreenGap = 4;  // between the window and its anchor

const QColor kSilver(0xC0, 0xC0, 0xC0);

}  // namespace

using stream_check::HeaderWidth;
using stream_check::SetBaseColour;
using stream_check::SetHeaderRow;

// ---- construction -----------------------------------------------------------------------------

TFormMI::TFormMI(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("FormMI"));
  // "MS Sans Serif" 8 point, or the nearest narrow sans serif the system has: the grid's
  // columns are sized for a narrow face.
  QFont f = font();
  f.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                 QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                 QStringLiteral("Nimbus Sans"), QStringLiteral("Helvetica")});
  // The same size as the main window's, so that the two windows read alike.
  f.setPointSizeF(kFontPoints);
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
  LabelEND = new QLabel(this);
  LabelEND->setObjectName(QStringLiteral("LabelEND"));
  LabelEND->setWordWrap(true);
  LabelEND->hide();
  top->addWidget(LabelEND);
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

// ---- state ------------------------------------------------------------------------------------

bool TFormMI::VerificationMode() const { return windowTitle() == Q(kVerifyCaption); }

QString TFormMI::GoState() const { return ImageGO->property("state").toString(); }

void TFormMI::SetGoState(const char* state) {
  ImageGO->setProperty("state", Q(state));
  ImageGO->setToolTip(
      Q(state == std::string(kStateStop) ? "прервать проверку" : "начать или продолжить проверку"));
}

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

int TFormMI::DfxLeastClientWidth(const std::array<int, 9>& current,
                                 const std::array<int, 9>& least) {
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

void TFormMI::PlaceBesideAnchor() {
  if (!anchor_) return;
  const QRect a = anchor_->frameGeometry();
  QScreen* screen = anchor_->screen();
  if (!screen) return;
  const QRect area = screen->availableGeometry();
  const QSize own = frameGeometry().size().expandedTo(size());
  const int top =
      std::clamp(a.top(), area.top(), std::max(area.top(), area.bottom() - own.height()));
  if (a.right() + kScreenGap + own.width() <= area.right())
    move(a.right() + kScreenGap, top);
  else if (a.left() - kScreenGap - own.width() >= area.left())
    move(a.left() - kScreenGap - own.width(), top);
  else
    // No room on either side: at the screen's left edge it covers the left of the anchor
    // (the message list and the tree), not its buttons, labels and save area on the right.
    move(area.left(), top);
}

void TFormMI::OpenCreationMode() {
  if (isVisible()) {
    RestoreAndRaise();
    return;
  }
  if (rv::WorkerExists()) return;
  setWindowTitle(Q(kCreateCaption));
  EnableControls();
  PlaceBesideAnchor();
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
  PlaceBesideAnchor();
  show();
  RestoreAndRaise();
}

void TFormMI::EnableControls() {
  for (QWidget* w : std::initializer_list<QWidget*>{CheckSA, CheckRE, CheckLI, EditSE, RadioEQ,
                                                    RadioREIS, RadioRENO, RadioRERE, RadioISME,
                                                    RadioISALL, CheckDP, CheckZR, LabelMS, EditMS})
    w->setEnabled(true);
  SetBaseColour(EditSE, Qt::white);
  SetBaseColour(EditMS, Qt::white);
  ImageSE->show();
  ImageHAMMER->show();
}

void TFormMI::DisableControls() {
  for (QWidget* w : std::initializer_list<QWidget*>{CheckSA, CheckRE, CheckLI, EditSE, RadioEQ,
                                                    RadioREIS, RadioRENO, RadioRERE, RadioISME,
                                                    RadioISALL, CheckDP, CheckZR, LabelMS, EditMS})
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

// ---- start, stop, completion
// ---------------------------------------------------------------------

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
      } else if (verify && !rv::HasOwnIndex()) {
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
  LabelEND->hide();
  rv::TaskCommand() = command;
  if (!rv::threadIDX1Start()) return false;
  startedCheck_ = true;
  SetGoPicture(GoPicture::Stop);
  SetGoState(kStateStop);
  signTimer_->start();
  return true;
}

void TFormMI::CheckCompleted(int /*result*/) {
  startedCheck_ = false;
  SetGoPicture(rv::Index().entries.empty() ? GoPicture::Start : GoPicture::Continue);
  SetGoState(kStateStart);
  rv::Crashed2SG();
  MirrorGrid();
  dfx();
  ApplyScanSigns(true);
  FinishContinuation();
  // The index check says itself what it found; the stream check says it here and in the
  // main window's message list, also when its window closes because the grid is empty.
  if (rv::TaskCommand() == "createIDX1") {
    const QString outcome = CheckOutcomeText();
    for (const QString& line : outcome.split(QLatin1Char('\n')))
      rv::AddMessage("• " + line.toStdString());
    LabelEND->setText(outcome);
    LabelEND->show();
  }
}

QString TFormMI::CheckOutcomeText() {
  const rv::ScanSummary& last = rv::LastScan();
  QString found = Q("записей в индексе: ") + QString::number(rv::Index().entries.size()) +
                  Q(", битых блоков: ") + QString::number(rv::BadBlocks().size());
  if (last.reachedEnd && last.sizeBroken)
    return Q("поток проверен до конца файла (размер потока в заголовке не сходится с файлом: "
             "файл обрезан?); ") +
           found;
  if (last.reachedEnd) return Q("поток проверен до конца; ") + found;
  QString why = last.stopped     ? Q("проверка прервана")
                : last.fileEnded ? Q("проверка закончилась раньше конца потока: файл обрывается "
                                     "раньше, чем указано в заголовке (обрезан?)")
                                 : Q("проверка закончилась раньше конца потока (по ответу "
                                     "на вопрос или на структуре, которую не удалось разобрать)");
  return why + Q("; ") + found +
         Q("\nможно продолжить проверку (кнопка пуска в окне проверки) или сохранить "
           "найденное: отметьте «типа.. . я знаю, что делаю» и нажмите «сохранить»");
}

void TFormMI::TaskCompleted(int code, int /*result*/) {
  // A check whose task is not there ends as any other text (code 0); ImageGO must not stay
  // at "stop" for a task that no longer runs.
  if (code != 100 && startedCheck_ && !rv::WorkerExists()) {
    startedCheck_ = false;
    SetGoPicture(rv::Index().entries.empty() ? GoPicture::Start : GoPicture::Continue);
    SetGoState(kStateStart);
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
    case rv::kAskIdx1Found: rv::AskYesNo(rv::CheckQuestionText(code)); break;
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

// ---- the grid
// ------------------------------------------------------------------------------------

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
  std::array<int, 9> w = DfxWidths(StringER->viewport()->width(), current, HeaderWidths());
  // The repeat column shows its longest value whole; the grid scrolls sideways for it.
  const QFontMetrics fm(StringER->font());
  for (int r = 0; r < StringER->rowCount(); ++r)
    if (const QTableWidgetItem* item = StringER->item(r, 8))
      w[8] = std::max(w[8], fm.horizontalAdvance(item->text()) + 2 * fm.averageCharWidth());
  for (int c = 0; c < 9; ++c)
    if (StringER->columnWidth(c) != w[size_t(c)]) StringER->setColumnWidth(c, w[size_t(c)]);
}

void TFormMI::FitGridToHeaders() {
  const int client = DfxLeastClientWidth(kDesignWidths, HeaderWidths());
  const int width =
      client + 2 * StringER->frameWidth() + StringER->verticalScrollBar()->sizeHint().width();
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
  LabelEND->clear();
  LabelEND->hide();
  continuingAfterCuts_ = false;
  LabelPTR->clear();
  LabelPTR->hide();
  SetGoPicture(GoPicture::Start);
  SetGoState(kStateStart);
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
    ImageSE->setToolTip(Q("сохранить ошибки и индекс в файл"));
  } else if (chosen == CheckRE) {
    EditSE->setText(source + QStringLiteral(".2fix"));
    ImageSE->SetPicture(ImageDU->pixmap(), QStringLiteral("ImageDU"));
    ImageSE->setToolTip(Q("загрузить ошибки и индекс из файла"));
  } else {
    EditSE->setText(source + QStringLiteral(".errors.txt"));
    ImageSE->SetPicture(ImageFG->pixmap(), QStringLiteral("ImageFG"));
    ImageSE->setToolTip(Q(kSaveListHint));
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
  const int chosen =
      int(CheckSA->isChecked()) + int(CheckRE->isChecked()) + int(CheckLI->isChecked());
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

// ---- layout and mouse
// ----------------------------------------------------------------------------

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
  if (watched == LabelMS &&
      (event->type() == QEvent::Resize || event->type() == QEvent::FontChange))
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
