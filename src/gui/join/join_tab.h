// The join tab "сборка": the list of files to join with its pop-up menu and drag-and-drop
// reordering, the output name with its proposal, the start and stop of the task "doJOIN",
// and the status line and gauge that follow the task.
#pragma once

#include <QListWidget>
#include <QObject>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <functional>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class PieGauge;
class PictureButton;
class TaskWindow;

// The join list. A drag takes the item under the mouse; a drop onto an item moves the dragged
// item to that place. The list itself only reports the two ends of the drag; the tab moves
// the items.
class JoinList : public QListWidget {
  Q_OBJECT

 public:
  // MIME type of the drag; its data is the source row in decimal.
  static constexpr const char* kMimeType = "application/x-rivetta-join-row";
  // Shown inside the list while it is empty.
  static constexpr const char* kEmptyHint =
      "список пуст.\nдобавьте файлы кнопкой «добавить файлы…»\nили через меню правой кнопки мыши";

  explicit JoinList(QWidget* parent = nullptr);

 Q_SIGNALS:
  // A drag started on row `source` (-1 when no item was under the mouse).
  void dragStarted(int source);
  // A drop onto row `target` (-1 when no item is under the drop point); `source` is the
  // widget the drag came from (null for a drag from another program).
  void dropped(QObject* source, int target);
  // Files dragged in from another program (a file manager), in the order given.
  void filesDropped(const QStringList& files);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void startDrag(Qt::DropActions supportedActions) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  QPoint pressPos_;
};

class JoinTab : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* kFileFilter = "*.avi (*.avi);;*.* (все файлы) (*)";
  // How often the status line and the gauge look at the running task, in milliseconds.
  static constexpr int kFollowPeriodMs = 40;

  // Builds the controls into `tab` (which must have no layout yet).
  JoinTab(TaskWindow& window, QWidget* tab);

  // ---- controls -------------------------------------------------------------------------
  JoinList* JList = nullptr;
  QMenu* PopupJO = nullptr;
  QAction* N1 = nullptr;  // "добавить в список"
  QAction* N2 = nullptr;  // "очистить список"
  QAction* N3 = nullptr;  // "удалить"
  QWidget* PanelSR = nullptr;
  QLabel* LabelJINFO = nullptr;
  QPushButton* BitBtnADD = nullptr;  // does what N1 does
  PictureButton* ImageSUM = nullptr;
  QLineEdit* EditSUM = nullptr;
  QPushButton* BitBtnSUM = nullptr;
  QLabel* LabelME = nullptr;
  PieGauge* GaugeZ = nullptr;
  PictureButton* ImageZ = nullptr;

  // The file choice of N1: given the starting directory, returns the chosen files (none
  // when cancelled). By default the open-file dialog; tests put their own in its place.
  using FileChooser = std::function<QStringList(const QString& dir)>;
  void SetFileChooser(FileChooser chooser);

  // The texts of JList, in order.
  QStringList Items() const;

 public Q_SLOTS:
  void TabSheetJOINShow();
  void N1Click();
  void N2Click();
  void N3Click();
  void JListStartDrag(int source);
  // Files chosen, dropped from a file manager or named on the command line go to the end of
  // the list.
  void JListFilesDropped(const QStringList& files);
  // The drop rule: only a drag that came from a list box moves anything.
  void JListDragDrop(QObject* source, int target);
  void ImageSUMClick();
  void BitBtnSUMClick();
  void ImageZClick();
  // The window's completion: a join that ended shows its last status.
  void TaskCompleted(int code, int result);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QStringList ChooseFiles(const QString& dir);
  // Shows the task's status and gauge when they changed.
  void Follow();
  // The list changed: old hints and errors go, and a first file proposes the output name.
  void ListChanged();

  TaskWindow& window_;
  QWidget* tab_;
  QTimer followTimer_;
  FileChooser chooser_;
  int dragSource_ = -1;
  QString proposedName_;  // the output name last proposed, replaced while the user keeps it
  uint64_t shownGeneration_ = 0;
};
