// The stream-check window: starts, stops and watches the stream check ("createIDX1") and the
// index check ("verifyIDX1"), shows the bad blocks the checks find, holds the repair options
// and runs the side-file actions (".2fix" save and load, ".errors.txt" list).
//
// It runs in one of two modes, remembered in its caption: the creation mode (any caption but
// the verification caption) and the verification mode. It is created once, shown and hidden
// many times, and is not modal. The grid StringER mirrors the engine's grid model
// (rv::Grid()): table row r shows grid row r, row 0 being the header row, which stays hidden
// in the table and is shown by the table's own horizontal header instead.
#pragma once

#include <QPoint>
#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>

#include "base/host.h"

class QAction;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QRadioButton;
class QTableWidget;
class QTimer;
class GuiHost;
class PictureButton;
class PieGauge;

class TFormMI : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kStandardWidth = 625;
  static constexpr int kStandardHeight = 413;
  static constexpr const char* kCreateCaption = "проверка потока и создание индекса";
  static constexpr const char* kVerifyCaption = "проверка потока по индексу";
  static constexpr const char* kNoStream = "не найден поток";
  static constexpr const char* kNoIndex = "не найден индекс";
  static constexpr const char* kStopFirst = "сперва прервите обработку";
  static constexpr const char* kContinueQuestion = "продолжить проверку\r\nили начать сначала?";
  static constexpr const char* kContinueButton = "продолжить";
  static constexpr const char* kAnewButton = "сначала";
  static constexpr const char* kStopQuestion = "прервать обработку?";
  // The check that goes on by itself after a repair cut fragments out: the caption while it
  // runs, the main window's message line, and what LabelPTR says when it has ended.
  static constexpr const char* kContinuingAfterCuts = "фрагменты вырезаны: проверка продолжается";
  static constexpr const char* kContinuingMessage =
      "• фрагменты вырезаны: проверка потока продолжается";
  static constexpr const char* kContinuedAfterCuts = "после вырезания поток проверен";
  static constexpr const char* kNotContinuedAfterCuts = "после вырезания поток не проверен";
  // What the hammer did, in the main window's message list.
  static constexpr const char* kHammerDone = "• молоток: исправлено блоков: ";
  static constexpr const char* kHammerNothing =
      "• молоток: выбранный способ ремонта не подходит ни к одному блоку списка, ничего не "
      "изменено (посмотрите на дельту и на отметки под способами)";
  static constexpr const char* kSaveListHint = "сохранить список битых блоков в текстовый файл";
  // The state texts of ImageGO.
  static constexpr const char* kStateStart = "start";
  static constexpr const char* kStateStop = "stop";
  // Design widths of the columns of StringER.
  static constexpr std::array<int, 9> kDesignWidths = {31, 47, 50, 76, 85, 82, 82, 42, 93};
  static constexpr int kRowHeight = 17;

  explicit TFormMI(QWidget* parent = nullptr);
  ~TFormMI() override;

  // ---- controls -------------------------------------------------------------------------
  QFrame* Panel1 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* LabelPTR = nullptr;
  QCheckBox* CheckHI = nullptr;
  QLabel* ImageFF = nullptr;
  PictureButton* ImageEX = nullptr;
  QTableWidget* StringER = nullptr;
  // Under the grid: how the last stream check ended and what the user can do next.
  QLabel* LabelEND = nullptr;
  QMenu* PopupER = nullptr;
  QAction* MIdump = nullptr;
  QAction* MIremofix = nullptr;
  QAction* MIremonofix = nullptr;
  QAction* MIremoscan = nullptr;
  QAction* MIfix = nullptr;
  QAction* MIleave = nullptr;
  QFrame* PanelBB = nullptr;
  PictureButton* ImageGO = nullptr;
  PieGauge* GaugeIDX1 = nullptr;
  QLineEdit* EditSE = nullptr;
  PictureButton* ImageSE = nullptr;
  QCheckBox* CheckSA = nullptr;
  QCheckBox* CheckRE = nullptr;
  QCheckBox* CheckLI = nullptr;
  QLabel* ImageGG = nullptr;
  QFrame* BevelH = nullptr;
  QLabel* Label2 = nullptr;
  QRadioButton* RadioEQ = nullptr;
  QRadioButton* RadioREIS = nullptr;
  QRadioButton* RadioRENO = nullptr;
  QRadioButton* RadioRERE = nullptr;
  QRadioButton* RadioISME = nullptr;
  QRadioButton* RadioISALL = nullptr;
  QCheckBox* CheckDP = nullptr;
  QCheckBox* CheckZR = nullptr;
  QLabel* LabelMS = nullptr;
  QLineEdit* EditMS = nullptr;
  PictureButton* ImageHAMMER = nullptr;
  QLabel* ImageWA = nullptr;
  QFrame* PanelEX = nullptr;
  QFrame* PanelEH = nullptr;
  QLabel* Label3 = nullptr;
  PictureButton* ImageEXX = nullptr;
  QTableWidget* StringEX = nullptr;
  // Hidden pictures that the buttons take their pictures from.
  QLabel* ImageST = nullptr;   // start
  QLabel* ImageST2 = nullptr;  // continue
  QLabel* ImageXX = nullptr;   // stop
  QLabel* ImageFR = nullptr;   // save errors
  QLabel* ImageDU = nullptr;   // load errors
  QLabel* ImageFG = nullptr;   // save the list
  QLabel* ImageRG = nullptr;   // done
  QLabel* ImageAT = nullptr;   // working

  // ---- state --------------------------------------------------------------------------------
  // Any caption but the verification caption is the creation mode.
  bool VerificationMode() const;
  // "start" or "stop": the state of ImageGO (its hint says it in Russian).
  QString GoState() const;
  // 1 from the creation of the window until the first click on ImageGO.
  uint8_t FirstShowFlag() const { return firstShow_; }
  void SetFirstShowFlag(uint8_t value) { firstShow_ = value; }

  // Where the name of the source file (the main window's EditIN) comes from; without a
  // source the name of the file the tasks open (rv::InputFileName()).
  void SetInputNameSource(std::function<QString()> source) { inputName_ = std::move(source); }
  // The window it opens beside (the main window), where the screen leaves room for it.
  void SetAnchor(QWidget* anchor) { anchor_ = anchor; }
  // What the last stream check found: the index entries, the bad blocks, whether it reached
  // the end of the stream, and when it did not, why and what the user can do next.
  static QString CheckOutcomeText();
  QString InputName() const;

  // Receives the GUI host's stream-check prompts (codes 1, 2, 4, 7) and progress.
  // Connecting twice connects once.
  void AttachHost(GuiHost* host);

  // The dfx rule: the widths of the nine columns of StringER for a client width, given the
  // current widths. Columns 0 to 2 keep theirs, columns 3 to 7 share a sixth of the rest each
  // and column 8 takes what remains less 9.
  // No column is made narrower than its entry in least (the width its header text needs).
  // A column among 3 to 7 whose header is wider than the share keeps its header's width and
  // the share of the others shrinks until all of them, column 8 at its least width and the
  // 9 pixels included, fit; when even a share of nothing does not fit, every column takes
  // its least width and the grid scrolls.
  static std::array<int, 9> DfxWidths(int clientWidth, const std::array<int, 9>& current,
                                      const std::array<int, 9>& least = {});
  // The narrowest client width at which DfxWidths fits every column at its least width
  // and still leaves the 9 pixels at the right.
  static int DfxLeastClientWidth(const std::array<int, 9>& current,
                                 const std::array<int, 9>& least);
  // The width each column of StringER needs to show its header text whole, margins included.
  std::array<int, 9> HeaderWidths() const;

 public Q_SLOTS:
  // Opening from the main window (BitBtnIDX1, BitBtnIDX); the main window checks EditIN.
  // A visible window is only restored and brought to the front; otherwise the window opens
  // in its mode, and only while no task runs.
  void OpenCreationMode();
  void OpenVerificationMode();

  void EnableControls();
  void DisableControls();

  // Start, continue or stop, after the state text of ImageGO.
  void ImageGOClick();

  // Message 1033 (WM_USER+9): 1, 2, 7 questions; 4 the current bad block.
  void CheckMessage(int code, qint64 value);
  // The check's progress: GaugeIDX1 and the position text in LabelPTR.
  void ShowProgress(const rv::Progress& p);

  // Completion code 100 of a check: ImageGO back to its start or continue picture, the grid
  // rebuilt from the bad-block list.
  void CheckCompleted(int result);
  // Every completion: the window closes when the close-check-window flag is set.
  void TaskCompleted(int code, int result);

  // A file is being opened: start picture, save-errors enabled, EditSE emptied, resetMI.
  void FileReset();
  // Empties the grid; with EditSE empty it first selects the text-list action.
  void resetMI();
  // Shows the engine's grid model in StringER.
  void MirrorGrid();
  // Recomputes the column widths of StringER for its client width.
  void dfx();

  // The file action chosen with CheckSA, CheckRE and CheckLI.
  void ImageSEClick();
  void CheckSAClick();
  void CheckREClick();
  void CheckLIClick();

  // The exclusion-list panel.
  void ImageEXClick();
  void ImageEXXClick();

  // Dump of the bad block of the selected row (double click on StringER, PopupER).
  void MIdumpClick();
  // The pop-up menu opens: the per-row commands on a row with a bad block while no task runs.
  void PopupERPopup();

  // Repairs: the bulk action of the checked radio button, and the per-row commands.
  // Starts the check task ("createIDX1" or "verifyIDX1"); false while a worker exists.
  bool StartCheck(const char* command);
  void ImageHAMMERClick();
  void MIremofixClick();
  void MIremonofixClick();
  void MIremoscanClick();
  void MIfixClick();
  void MIleaveClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  enum class GoPicture { Start, Continue, Stop };
  enum class ResultSign { None, Working, Done };

  void BuildTopArea();
  void BuildLowerPanel();
  void BuildExclusionPanel();
  void BuildPictures();
  void SetGoPicture(GoPicture picture);
  void SetGoState(const char* state);
  void SetResultSign(ResultSign sign);
  void SelectFileAction(QCheckBox* chosen);
  void ShowBadBlockMessage();
  void SetCell(QTableWidget* table, int row, int column, const QString& text);
  void ApplyScanSigns(bool force);
  void PlaceEditMS();
  // StringER never gets narrower than its headers need, so that the window grows instead.
  void FitGridToHeaders();
  void FitExclusionColumns();
  void RestoreAndRaise();
  // Beside the anchor: right of it, else left of it, else where it is.
  void PlaceBesideAnchor();
  // The list index of the bad block of the selected row, -1 when the row holds none.
  int SelectedBadBlock() const;
  // After a repair: grid, exclusion sign, and saving errors disabled; when the repair cut
  // fragments out (more bytes excluded than `excludedBefore`), the check goes on by itself.
  void AfterRepair(int selectRow, uint64_t excludedBefore);
  // Continues the check from the last index entry, as "продолжить" does, so that chunks that
  // the cuts pulled inside the stream are indexed; says so in the caption and the messages.
  void ContinueAfterCuts();
  // The continued check has ended: the caption back, LabelPTR tells whether it got through.
  void FinishContinuation();

  uint8_t firstShow_ = 0;
  bool startedCheck_ = false;         // the running task was started by ImageGO
  bool continuingAfterCuts_ = false;  // the running check was started by a repair's cuts
  uint64_t mirroredGeneration_ = 0;
  std::function<QString()> inputName_;
  QWidget* anchor_ = nullptr;
  QTimer* signTimer_ = nullptr;
  // The last shown state of the scanner's signs, so that only changes are applied.
  int gaugeShown_ = -1, pointerShown_ = -1, firstSearchShown_ = -1;
  // Moving the exclusion panel with the mouse.
  bool draggingPanel_ = false;
  QPoint dragOffset_;
};

// The single stream-check window, created on first use (a QApplication must exist).
TFormMI& FormMI();
