// The repair tab's controls and their layout: the file name row, the message list beside the
// block tree, the task buttons, the options of the check, the block labels and the save area.
// The main window builds it into its first tab and connects the controls to its handlers.
#pragma once

class QAction;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSplitter;
class QTreeWidget;
class QWidget;
class PictureButton;
class PieGauge;

class RepairTab {
 public:
  QSplitter* SplitterL = nullptr;
  QWidget* PanelL = nullptr;
  QWidget* PanelHDR = nullptr;
  PictureButton* ImageFI = nullptr;
  QLineEdit* EditIN = nullptr;
  QSplitter* SplitterST = nullptr;
  QPlainTextEdit* MemoST = nullptr;
  QTreeWidget* TreeRIFF = nullptr;
  QMenu* PopupRIFF = nullptr;
  QAction* MIdump = nullptr;
  QWidget* PanelIDX1 = nullptr;
  QPushButton* BitBtnGO = nullptr;
  QLabel* ImageWO = nullptr;
  QPushButton* BitBtnIDX1 = nullptr;
  QPushButton* BitBtnFSD = nullptr;
  QPushButton* BitBtnIDX = nullptr;
  QPushButton* BitBtnREC = nullptr;
  QPushButton* BitBtnDonor = nullptr;  // the reconstruction with a donor file's header
  PictureButton* Image1 = nullptr;
  QCheckBox* Check00db = nullptr;
  QCheckBox* Check01wb = nullptr;
  QCheckBox* CheckFI = nullptr;
  QCheckBox* CheckHI = nullptr;
  QFrame* PanelHH = nullptr;
  QLabel* LabelAVIH = nullptr;
  QLabel* LabelVSTRH = nullptr;
  QLabel* LabelVSTRF = nullptr;
  QLabel* LabelASTRH = nullptr;
  QLabel* LabelASTRF = nullptr;
  QLabel* LabelMOVI = nullptr;
  QLabel* LabelIDX1 = nullptr;
  QLabel* LabelPTR = nullptr;
  QFrame* PanelTLS = nullptr;
  QLineEdit* EditOUT = nullptr;
  PictureButton* ImageSA = nullptr;
  QLabel* ImageGF = nullptr;  // hidden: the ready picture
  QLabel* ImageRF = nullptr;  // hidden: the not-ready picture
  PictureButton* ImageX = nullptr;
  PieGauge* GaugeSA = nullptr;
  QCheckBox* CheckNoIDX1 = nullptr;
  QRadioButton* RadioZM = nullptr;
  QRadioButton* RadioZO = nullptr;
  QRadioButton* RadioZI = nullptr;
  QCheckBox* CheckNoFixSz = nullptr;
  QCheckBox* CheckSAID = nullptr;
  QCheckBox* CheckSavePart = nullptr;

 protected:
  // Builds the controls into `tab`, which must have no layout yet.
  void BuildRepairTab(QWidget* tab);
  // ImageSA shows the ready picture (ImageGF) or the not-ready one (ImageRF).
  void SetSavePicture(bool ready);
};
