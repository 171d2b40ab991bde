// The program's own question window: a small borderless modal dialog with a question,
// an icon and two buttons. One instance lives for the whole run and is reused for every
// question; the default answer, the icon and (until the next yes/no question) the button
// captions carry over from one question to the next. That state is rv::Dialog().
#pragma once

#include <QDialog>
#include <QPixmap>
#include <QPoint>

#include <functional>

#include "base/host.h"

class QLabel;
class QPushButton;
class QMouseEvent;

class TFormYesNo : public QDialog {
  Q_OBJECT

 public:
  // Standard client size, button size and icon size.
  static constexpr int kClientWidth = 380;
  static constexpr int kClientHeight = 88;
  static constexpr int kButtonWidth = 97;
  static constexpr int kButtonHeight = 25;
  static constexpr int kIconSize = 40;
  static constexpr int kTextureWidth = 60;
  static constexpr int kTextureHeight = 40;
  // Label text while the window rests closed.
  static const char* const kRestText;

  explicit TFormYesNo(QWidget* parent = nullptr);
  ~TFormYesNo() override;

  // "да" / "нет". True when "да" was pressed. Leaves the default answer unchanged.
  bool AskYesNo(const QString& text, QWidget* owner);
  // Custom captions; defaultAnswer 'y' focuses the upper button, anything else the lower.
  // True when the upper button was pressed. The captions stay until the next AskYesNo.
  bool AskChoice(const QString& text, const QString& upper, const QString& lower,
                 char defaultAnswer, QWidget* owner);

  // Test hook: when set, a question runs no modal loop. The dialog is shown, the hook is
  // called with it, and the question then ends as the hook says: 1 presses the upper
  // button, 0 the lower one, -1 presses Escape. When the hook has closed the dialog itself
  // (clicked a button, sent a key), its return value is ignored. An empty function
  // restores normal modal operation.
  using AutoAnswer = std::function<int(TFormYesNo&)>;
  static void SetAutoAnswer(AutoAnswer hook);

  // The icon drawn for a letter of "qrby" (any other letter draws the 'q' icon).
  static QPixmap IconPixmap(char letter);
  // The texture tiled behind the buttons.
  static QPixmap TexturePixmap();

  // Lays the controls out for the current size (run on every resize).
  void Relayout();
  // Back to the standard size and layout, the resting label text and the current icon.
  void RestoreStandardGeometry();

  // Returns once no question is open (at once when none is).
  void WaitUntilClosed();

  // Closing by any way ends here: hides the window and restores its standard geometry.
  void done(int result) override;

 public Q_SLOTS:
  void BitBtnDaClick();
  void BitBtnNetClick();
  void ImageXXDblClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormShow();
  void ShowIcon();
  bool Open(const QString& text, QWidget* owner);
  void PlaceOver(QWidget* owner);
  void StartDrag(QMouseEvent* event);
  void DragTo(QMouseEvent* event);

  QLabel* labelTxt_ = nullptr;
  QLabel* imageXX_ = nullptr;
  QLabel* imageQ_ = nullptr;
  QLabel* imageR_ = nullptr;
  QLabel* imageB_ = nullptr;
  QLabel* imageY_ = nullptr;
  QLabel* imageGli_ = nullptr;
  QWidget* paintBoxR_ = nullptr;
  QPushButton* bitBtnDa_ = nullptr;
  QPushButton* bitBtnNet_ = nullptr;

  bool openedByChoice_ = false;  // set by AskChoice so that opening keeps its captions
  bool dragging_ = false;        // manual move where the platform offers no system move
  QPoint dragOffset_;
};

// The single question window, created on first use (a QApplication must exist).
TFormYesNo& FormYesNo();

// Asks an engine question through the question window: AskChoice when q.choice, else
// AskYesNo. Returns the answer, which also stays in rv::Dialog().lastAnswer.
bool ShowQuestion(const rv::Question& q, QWidget* owner);
