// The settings tab's controls and their layout: the buffer size, the options of the checks and
// of the save kept in the configuration file, and the kill button. The buffer size and the
// big-block size sit in the gaps of their captions. The main window builds it into its last
// tab and connects the controls.
#pragma once

class QCheckBox;
class QComboBox;
class QEvent;
class QLabel;
class QLineEdit;
class QObject;
class QPushButton;
class QString;
class QWidget;

class SettingsTab {
 public:
  QLabel* LabelIOBMX = nullptr;
  QComboBox* ComboIOBMX = nullptr;
  QCheckBox* CheckKR = nullptr;
  QCheckBox* CheckOF = nullptr;
  QCheckBox* CheckHB = nullptr;
  QLineEdit* EditHB = nullptr;
  QCheckBox* CheckLF = nullptr;
  QCheckBox* CheckTT = nullptr;
  QCheckBox* CheckPPSI = nullptr;
  QLabel* LabelSave = nullptr;
  QCheckBox* CheckTNF = nullptr;
  QCheckBox* CheckDRTS = nullptr;
  QCheckBox* CheckADL = nullptr;
  QCheckBox* CheckATD = nullptr;
  QPushButton* BitBtnKT = nullptr;
  QLabel* LabelKT = nullptr;

  // A buffer size chosen in ComboIOBMX takes effect while no task runs; otherwise, or for a
  // text that is no size, the size in use is shown again.
  void ComboIOBMXChange(const QString& text);
  // CheckATD is only available with CheckADL.
  void CheckADLClick();

 protected:
  // Builds the controls into `tab` (which must have no layout yet); `filter` gets the events
  // that FilterSettingsEvent handles.
  void BuildSettingsTab(QWidget* tab, QObject* filter);
  // Keys typed into ComboIOBMX are dropped (true: the event is consumed); a resize or show
  // of CheckHB or LabelIOBMX places the controls in their gaps again.
  bool FilterSettingsEvent(QObject* watched, QEvent* event);
  // Puts text into a combo box: its list item when there is one, else the edit text.
  static void SetComboText(QComboBox* combo, const QString& text);

 private:
  void PlaceGapControls();
};
