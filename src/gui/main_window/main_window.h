// The main window: the repair tab with the file, the message list, the block tree, the task
// buttons, the block labels and the save area; the keyframe and join tabs; the settings tab
// with the options kept in the configuration file and the kill button.
//
// Controls carry their names as objectName and are reachable as members, so that the windows
// and tools added around the main window can connect to them.
#pragma once

#include <QMainWindow>
#include <QString>

#include <cstdint>
#include <functional>
#include <string>

#include "base/config.h"
#include "base/host.h"
#include "gui/common/task_window.h"
#include "gui/main_window/repair_tab.h"
#include "gui/main_window/settings_tab.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QAction;
class QPushButton;
class QRadioButton;
class QSplitter;
class QTabWidget;
class GuiHost;
class QTextEdit;
class QPlainTextEdit;
class QTreeWidget;
class QTreeWidgetItem;
class QFrame;
class JoinTab;
class KeyframeTab;
class PieGauge;
class PictureButton;
class TFormMI;
class HeaderPanels;

// Entry points that other parts of the program plug into the main window. Each may be left
// empty; the window then does what is said beside it.
struct MainWindowHooks {
  // Opens the header editor of block record `block`. Empty: the blocks that have editors
  // (avih, strh, strf) do nothing on a double-click.
  std::function<void(int32_t block)> openHeaderEditor;
};

class TFormMain : public QMainWindow, public TaskWindow, public RepairTab, public SettingsTab {
  Q_OBJECT

 public:
  static constexpr int kStartWidth = 627;
  static constexpr int kStartHeight = 443;
  static constexpr int kMinWidth = 627;
  static constexpr int kMinHeight = 300;
  // Width of the right column of the repair tab while the panels are fitted automatically.
  static constexpr int kRightColumnWidth = 305;
  // Blocks larger than this ask before they are dumped.
  static constexpr uint32_t kDumpAskSize = 100000;
  static constexpr const char* kCaption = "AVI Rivetta    Alpha 0.87.a";
  static constexpr const char* kWebAddress = "https://ffmpeg.org/";
  static constexpr const char* kNoFileName = "сюда надо положить имя файла";
  static constexpr const char* kStopQuestion = "прервать обработку?";
  static constexpr const char* kBusyClose =
      "• программа не закрывается, пока идёт обработка: дождитесь её конца или прервите её";
  // Said after reading a file whose header lacks what a repair needs.
  static constexpr const char* kRebuildHint =
      "• в заголовке нет avih, видео strh или списка movi: «реконструкция заголовка» "
      "восстановит его по блокам, найденным в файле, и по данным потока; «реконструкция с "
      "донором...» возьмёт заголовок у исправного файла";
  static constexpr const char* kBigDumpQuestion =
      "а может не надо?\r\nразмер блока больше 100кБ.\r\nпродолжить?";

  // Builds the window and runs FormCreate (configuration, read cache).
  explicit TFormMain(QWidget* parent = nullptr);
  ~TFormMain() override;

  MainWindowHooks& Hooks() { return hooks_; }
  // The keyframe tab and the join tab, built into TabSheetKK and TabSheetJOIN.
  KeyframeTab* KeyframePage() const { return keyframeTab_; }
  JoinTab* JoinPage() const { return joinTab_; }
  // Joins the stream-check window to this window: BitBtnIDX1 and BitBtnIDX open it in its
  // two modes, and it follows the file reset and the completions.
  void AttachStreamCheckWindow(TFormMI& window);
  // The four header edit panels floating over the tabs and the header items of PopupRIFF.
  HeaderPanels* Panels() const { return headerPanels_; }

  // ---- controls -------------------------------------------------------------------------
  QTabWidget* PageControl1 = nullptr;
  QWidget* TabSheetFIX = nullptr;
  QWidget* TabSheetKK = nullptr;
  QWidget* TabSheetJOIN = nullptr;
  QWidget* TabSheetCFG = nullptr;
  QWidget* PanelWD = nullptr;
  PictureButton* ImageWD = nullptr;

  // ---- state shown by the window ----------------------------------------------------------
  bool AutoFit() const { return autoFit_; }
  // The directory of the last file chosen in this run (empty at first), shared by the
  // file choices of the repair tab and the join list.
  QString LastDir() const override { return lastDir_; }
  void SetLastDir(const QString& dir) override { lastDir_ = dir; }
  // EditIN's text.
  QString InputName() const override;
  QWidget* DialogParent() override { return this; }
  // The options of the controls, as the configuration file keeps them.
  rv::ConfigValues ConfigFromControls() const;
  void ControlsFromConfig(const rv::ConfigValues& v);

 public Q_SLOTS:
  // Re-read the engine's message list into MemoST, the label colours into the seven labels,
  // the tree model into TreeRIFF.
  void RefreshMessages();
  void RefreshLabels() override;
  void RefreshTree() override;

  // Message 1032: a task ended with a completion code and result.
  void TaskCompleted(int code, int result);
  // Progress of the save and the reconstruction (GaugeSA, and the reconstruction's position
  // in LabelPTR); the keyframe search's goes to its tab.
  void ShowProgress(const rv::Progress& p);
  // Takes the host's messages, progress and completions; questions are shown over this window.
  void AttachHost(GuiHost* host);
  // Message 1036: fit the panels to the window again.
  void Refit();

  // Sets the task command and starts the worker; false (nothing done) while one runs.
  // "saveOUT" and "reconstruction" show the stop picture and the gauge until they end.
  bool StartTask(const QString& command) override;

  // Handlers named after their control and event.
  void ImageFIClick();
  // A file chosen with ImageFI: another file than the one read resets the window's file
  // state; the name goes to EditIN and the output name is proposed.
  void FileChosen(const QString& name);
  void BitBtnGOClick();
  void BitBtnRECClick();
  // A donor file chosen, then the reconstruction: what it does not find comes from the donor.
  void BitBtnDonorClick();
  // After a reconstruction that did not find everything: the header from the stream (and the
  // donor), each decision a message; a donor that differs from the stream only when confirmed.
  void SynthesizeHeader();
  void BitBtnFSDClick();
  void ImageXClick();
  // The save entry (save_entry.cpp).
  void ImageSAClick();
  void CheckSAIDClick();
  void BitBtnKTClick();
  void MIdumpClick();
  void TreeRIFFDblClick();
  void ImageWDClick();
  void Image1Click();
  bool LoadConfig();
  void SaveConfig();

 Q_SIGNALS:
  // A file is about to be read (BitBtnGO): the stream-check window resets itself.
  void fileReset();
  // Completion code 100 (stream check or index check): the stream-check window refreshes
  // its start picture and the bad-block grid. result is the completion's lParam.
  void checkFinished(int result);
  // Every completion, after the main window has handled it (the stream-check window closes
  // here when the checks set its close flag).
  void taskCompleted(int code, int result);
  // The window closed (FormClose allowed it); the program ends.
  void closed();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 public:
  // EditOUT := the output name proposed from EditIN (Enter in EditIN, a file chosen).
  void ProposeOutputName();

 private:
  void FormCreate();
  void ConnectRepairTab();
  void BuildKeyframeTab();
  void BuildJoinTab();
  void ConnectSettingsTab();
  void BuildCorner();
  void ConnectOptions();
  void SyncOptions();
  // The height at which the repair tab's right column shows every control whole.
  int LeastHeight() const;
  // The window's part of the file reset: the engine's file state, the tree, the save sign,
  // the buttons that need a read file, and the stream-check window (fileReset).
  void ResetShownFile();
  void ShowTaskControls(bool show, bool withPointer);
  // The message list says where the save went and how many chunks it holds.
  void ReportSave();
  int SelectedBlock() const;

  MainWindowHooks hooks_;
  HeaderPanels* headerPanels_ = nullptr;
  bool autoFit_ = true;
  bool fitting_ = false;  // the window itself is moving the splitters
  QString lastDir_;       // directory of the last file chosen in this run
  QString donorFile_;     // the donor of the reconstruction under way
  QString proposedFrom_;  // the EditIN text EditOUT was last proposed from
  KeyframeTab* keyframeTab_ = nullptr;
  JoinTab* joinTab_ = nullptr;
};
