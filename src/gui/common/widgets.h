// Small widgets of the main window: the pie gauge, the picture button, check boxes and radio
// buttons whose long captions wrap, and the pictures drawn for the picture buttons.
#pragma once

#include <QCheckBox>
#include <QPixmap>
#include <QRadioButton>
#include <QString>
#include <QStringList>
#include <QToolButton>
#include <QWidget>

#include <string>

// Texts of the interface are UTF-8 in the sources.
inline QString Q(const char* utf8) { return QString::fromUtf8(utf8); }
inline QString Q(const std::string& utf8) { return QString::fromStdString(utf8); }

// Gives a control the name the rest of the code and the tests know it by.
template <class W>
W* Named(W* w, const char* name) {
  w->setObjectName(QString::fromUtf8(name));
  return w;
}

// Keeps a control's place in the layout while it is hidden, so nothing jumps when it shows.
inline void KeepPlace(QWidget* w) {
  QSizePolicy sp = w->sizePolicy();
  sp.setRetainSizeWhenHidden(true);
  w->setSizePolicy(sp);
}

// The open-file dialogs: in the folder `dir`, in the detailed view (names, sizes and dates),
// large enough to show them. Empty when cancelled.
QStringList ChooseFilesToOpen(QWidget* parent, const QString& dir, const QString& filter,
                              bool several, const QString& caption = QString());
// The folder a file dialog opens in: the folder of the file named by the full path `current`
// when that folder exists, else `fallback`.
QString DialogFolder(const QString& current, const QString& fallback);

// A round gauge: a pie filled clockwise from twelve o'clock in proportion to the progress
// (0 to 100), with the percentage written in the middle.
class PieGauge : public QWidget {
  Q_OBJECT
  Q_PROPERTY(int progress READ Progress WRITE SetProgress)

 public:
  explicit PieGauge(QWidget* parent = nullptr);
  int Progress() const { return progress_; }
  // Values outside 0..100 are clamped.
  void SetProgress(int percent);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int progress_ = 0;
};

// A flat button that shows a picture and draws a raised frame while the mouse is over it.
// The name of the picture it shows is kept in the property "picture", so that a caller (or a
// test) can tell which of several pictures is on it. An optional second picture is shown
// while the mouse is over the button.
class PictureButton : public QToolButton {
  Q_OBJECT
  Q_PROPERTY(QString picture READ PictureName)

 public:
  explicit PictureButton(QWidget* parent = nullptr);
  void SetPicture(const QPixmap& pixmap, const QString& name);
  void SetHoverPicture(const QPixmap& pixmap);
  QString PictureName() const { return pictureName_; }

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  QPixmap normal_, hover_;
  QString pictureName_;
};

// Check box and radio button whose caption wraps to the width they are given. text() stays
// the caption; only the drawing and the size follow the wrapped text. A click anywhere on
// the control toggles it.
template <class Base>
class WrappingButton : public Base {
 public:
  explicit WrappingButton(const QString& text, QWidget* parent = nullptr);
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool hitButton(const QPoint& pos) const override;

 private:
  int IndicatorSpace() const;
};
using WrapCheckBox = WrappingButton<QCheckBox>;
using WrapRadioButton = WrappingButton<QRadioButton>;

// The pictures of the program's picture buttons, drawn in code.
namespace pictures {
enum class Kind {
  OpenFile,  // a folder: choose the file
  Ready,     // save: the file is ready to be saved
  NotReady,  // save: not ready yet
  Stop,      // stop the running task
  Busy,      // an hourglass: reading
  Web,       // a globe: the web page
  WebHover,  // the globe lit while the mouse is over it
  AutoFit,   // arrows: lay the panels out again
  Diagram,   // bars: the frame size diagram
  Kill,      // a cut thread: kill the task
  // The stream-check window's.
  CheckStart,     // start the check
  CheckContinue,  // continue the check
  CheckStop,      // stop the check
  SaveErrors,     // save the bad blocks (.2fix)
  LoadErrors,     // load them back
  SaveList,       // save the text list
  Done,           // a tick: the file action is done
  Working,        // an hourglass: the file action runs
  Hammer,         // the bulk repair
  CheckBusy,      // an hourglass: a repair runs
  FirstSearch,    // a magnifier: the first search for the stream
  Exclusions,     // a strip with a piece cut out: the exclusion list
  Close,          // a white cross on the title bar of the exclusion panel
};
QPixmap Draw(Kind kind, int size);
}  // namespace pictures
