// The four floating edit panels of the header records (avih, a stream header, the video and
// the audio stream format), the header items of the tree's pop-up menu PopupRIFF and the
// editors the double-click on a tree line opens.
//
// The panels are children of the main window that float over its tabs: not modal, moved
// with the mouse by their title bars, centred in the window when opened. A panel shows the
// fields of its record as rv::EditableFields() lists them (each text field is named after its
// field, each caption is a label beside it) and stores them back through rv::ApplyField.
#pragma once

#include <QFrame>
#include <QObject>
#include <QPoint>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

#include "riff/header_edit.h"

class QAction;
class QLabel;
class QLineEdit;
class QTreeWidgetItem;
class PictureButton;
class RepairTab;
class TaskWindow;

// The characters a key filter lets through. Characters below code 32 (backspace, the
// clipboard shortcuts) always pass.
namespace keyfilter {
inline constexpr const char* kDecimal = "0123456789-";
inline constexpr const char* kHex = "0123456789abcdefABCDEF";
inline constexpr const char* kCodecData = "0123456789ABCDEFabcdef,";
// The characters accepted by the text field of a field kind; empty: everything passes.
const char* AcceptedBy(rv::FieldKind kind);
// True when the typed text may go into a field that accepts `accepted` (empty: anything).
bool Accepts(const QString& typed, const char* accepted);
}  // namespace keyfilter

// One panel: a title bar with its title and close picture, a caption and a text field per
// record field, the apply picture at the bottom.
class HeaderPanel : public QFrame {
  Q_OBJECT

 public:
  struct Row {
    const rv::FieldDef* field = nullptr;  // the field as the panel's own record lists it
    QLabel* label = nullptr;
    QLineEdit* edit = nullptr;
  };

  HeaderPanel(QWidget* parent, const char* name, const char* titleBarName, const char* titleName,
              const QString& title, const char* applyName, const char* closeName,
              const char* record);

  QWidget* TitleBar() const { return titleBar_; }
  QLabel* Title() const { return title_; }
  PictureButton* ApplyButton() const { return apply_; }
  PictureButton* CloseButton() const { return close_; }
  const std::vector<Row>& Rows() const { return rows_; }
  QLineEdit* Edit(const char* editName) const;
  QLabel* LabelOf(const char* editName) const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool StartMove(QMouseEvent* event);
  bool MoveTo(QMouseEvent* event);

  QWidget* titleBar_ = nullptr;
  QLabel* title_ = nullptr;
  PictureButton* apply_ = nullptr;
  PictureButton* close_ = nullptr;
  std::vector<Row> rows_;
  bool moving_ = false;
  QPoint grab_;  // where the mouse holds the panel, in panel coordinates
};

class HeaderPanels : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* kAvihTitle = "A V I H";
  static constexpr const char* kVideoStrhTitle = "V . S T R H";
  static constexpr const char* kAudioStrhTitle = "A . S T R H";
  static constexpr const char* kVideoStrfTitle = "V . S T R F";
  static constexpr const char* kAudioStrfTitle = "A . S T R F";

  // Builds the panels (hidden) over the window and adds the header items to the repair tab's
  // PopupRIFF; BitBtnREC hides them. The window hides them too when it resets its file, and
  // opens the editors of a double-clicked line through OpenEditorOf.
  HeaderPanels(TaskWindow& window, RepairTab& repairTab);

  HeaderPanel* PanelAVIH = nullptr;
  HeaderPanel* PanelSTRH = nullptr;
  HeaderPanel* PanelVSTRF = nullptr;
  HeaderPanel* PanelASTRF = nullptr;
  QLabel* LabelSTRH = nullptr;
  QAction* MIavih = nullptr;
  QAction* MIstrh = nullptr;
  QAction* MIvstrf = nullptr;
  QAction* MIastrf = nullptr;
  QAction* MIread = nullptr;

  // The record a panel was last opened for ("avih", "vstrh", "astrh", "vstrf", "astrf") and
  // its block; -1 before the first opening.
  std::string RecordOf(const HeaderPanel* panel) const;
  int32_t BlockOf(const HeaderPanel* panel) const;

 public Q_SLOTS:
  // The pop-up menu opens: the items that fit the block of the selected line.
  void PopupRIFFPopup();
  void MIavihClick();
  void MIstrhClick();
  void MIvstrfClick();
  void MIastrfClick();
  void MIreadClick();
  // The editor of block b, as the double-click on its line opens it.
  void OpenEditorOf(int32_t b);

  // Opening a panel for block b: fill it from the record, centre it, show it in front.
  void OpenAvih(int32_t b);
  void OpenStrh(int32_t b);
  void OpenVideoFormat(int32_t b);
  void OpenAudioFormat(int32_t b);

  // The apply pictures: store the fields, refresh the block's lines, hide the panel. False
  // (the panel stays open) when a number field holds no number, after the error box, or
  // while a task runs.
  bool ImageAASClick();
  bool ImageSSSClick();
  bool ImageVFSClick();
  bool ImageAFSClick();
  // Every panel is hidden (a file is being opened: the blocks they were opened for go).
  void HideAll();

 private:
  struct Opened {
    std::string record;
    int32_t block = -1;
    // What the block was when the panel opened, so that an apply after the table changed
    // leaves the tree alone.
    std::string name;
    uint64_t offset = 0;
    int32_t node = -1;
  };

  int32_t SelectedBlock() const;
  void Open(HeaderPanel* panel, const std::string& record, int32_t b);
  void FillCodecField(HeaderPanel* panel, const std::string& record);
  bool Apply(HeaderPanel* panel);
  bool StillTheSameBlock(const Opened& o) const;
  // Rebuilds TreeRIFF from the tree model keeping the expanded lines and the selection.
  void RefreshTreeKeepingView(int32_t blockLine);
  Opened& OpenedFor(const HeaderPanel* panel);
  const Opened* OpenedFor(const HeaderPanel* panel) const;

  TaskWindow& window_;
  RepairTab& repairTab_;
  Opened avih_, strh_, vstrf_, astrf_;
};
