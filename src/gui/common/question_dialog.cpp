#include "gui/common/question_dialog.h"

#include <QEventLoop>

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

#include <algorithm>
#include <cstdint>

#include "base/questions.h"

namespace {

const QColor kSilver(0xC0, 0xC0, 0xC0);
const QColor kFrameLight(0xE0, 0xE0, 0xE0);
const QColor kFrameShadow(0x80, 0x80, 0x80);
// Dark text on the silver dialog, so that the question reads easily.
const QColor kTextGrey(0x20, 0x20, 0x20);

// Layout distances around the buttons.
constexpr int kButtonMargin = 16;  // buttons from the right edge, button panel left of the buttons
constexpr int kButtonGap = 8;      // between the two buttons, and between the text and the panel
constexpr int kButtonTop = 16;
constexpr int kTextLeft = 72;
constexpr int kTextTop = 8;
constexpr int kIconLeft = 16;

TFormYesNo::AutoAnswer& AutoAnswerHook() {
  static TFormYesNo::AutoAnswer hook;
  return hook;
}

// The area behind the buttons: the texture tiled from its top-left corner. It takes
// presses itself, so pressing there does not drag the window.
class TexturePaintBox : public QWidget {
 public:
  TexturePaintBox(const QLabel* source, QWidget* parent) : QWidget(parent), source_(source) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    const QPixmap tile = source_->pixmap();
    if (tile.isNull()) return;
    QPainter p(this);
    p.drawTiledPixmap(rect(), tile);
  }
  void mousePressEvent(QMouseEvent* event) override { event->accept(); }

 private:
  const QLabel* source_;
};

QString Caption(const QString& text) {
  QString escaped = text;
  return escaped.replace(QLatin1Char('&'), QLatin1String("&&"));  // no mnemonics in captions
}

QString DisplayText(const QString& text) {
  QString shown = text.isEmpty() ? QString::fromUtf8(rv::kDefaultQuestionText) : text;
  shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return shown;
}

QLabel* HiddenPicture(QWidget* parent, const char* name, const QPixmap& pixmap) {
  auto* label = new QLabel(parent);
  label->setObjectName(QLatin1String(name));
  label->setPixmap(pixmap);
  label->resize(pixmap.size());
  label->hide();
  return label;
}

}  // namespace

const char* const TFormYesNo::kRestText = "Вы действительно хотите удалить текущую запись?";

TFormYesNo::TFormYesNo(QWidget* parent) : QDialog(parent, Qt::FramelessWindowHint | Qt::Dialog) {
  setObjectName(QStringLiteral("FormYesNo"));
  QPalette pal = palette();
  pal.setColor(QPalette::Window, kSilver);
  setPalette(pal);

  imageQ_ = HiddenPicture(this, "ImageQ", IconPixmap('q'));
  imageR_ = HiddenPicture(this, "ImageR", IconPixmap('r'));
  imageB_ = HiddenPicture(this, "ImageB", IconPixmap('b'));
  imageY_ = HiddenPicture(this, "ImageY", IconPixmap('y'));
  imageGli_ = HiddenPicture(this, "ImageGLI", TexturePixmap());

  paintBoxR_ = new TexturePaintBox(imageGli_, this);
  paintBoxR_->setObjectName(QStringLiteral("PaintBoxR"));

  labelTxt_ = new QLabel(this);
  labelTxt_->setObjectName(QStringLiteral("LabelTXT"));
  labelTxt_->setTextFormat(Qt::PlainText);
  labelTxt_->setAlignment(Qt::AlignCenter);
  labelTxt_->setWordWrap(true);
  labelTxt_->setAutoFillBackground(false);
  QPalette textPal = labelTxt_->palette();
  textPal.setColor(QPalette::WindowText, kTextGrey);
  labelTxt_->setPalette(textPal);
  labelTxt_->installEventFilter(this);

  imageXX_ = new QLabel(this);
  imageXX_->setObjectName(QStringLiteral("ImageXX"));
  imageXX_->installEventFilter(this);

  QFont small = font();
  small.setPointSizeF(std::max(6.0, small.pointSizeF() * 0.85));
  bitBtnDa_ = new QPushButton(QStringLiteral("да"), this);
  bitBtnDa_->setObjectName(QStringLiteral("BitBtnDa"));
  bitBtnDa_->setFont(small);
  bitBtnNet_ = new QPushButton(QStringLiteral("нет"), this);
  bitBtnNet_->setObjectName(QStringLiteral("BitBtnNet"));
  bitBtnNet_->setFont(small);
  connect(bitBtnDa_, &QPushButton::clicked, this, &TFormYesNo::BitBtnDaClick);
  connect(bitBtnNet_, &QPushButton::clicked, this, &TFormYesNo::BitBtnNetClick);
  setTabOrder(bitBtnDa_, bitBtnNet_);

  RestoreStandardGeometry();
}

TFormYesNo::~TFormYesNo() = default;

void TFormYesNo::SetAutoAnswer(AutoAnswer hook) { AutoAnswerHook() = std::move(hook); }

// ------------------------------------------------------------------ questions

// A question that comes while another is open (a worker's question during a question of the
// window, or the other way round) is shown when that one has been answered.
bool TFormYesNo::AskYesNo(const QString& text, QWidget* owner) {
  WaitUntilClosed();
  openedByChoice_ = false;
  return Open(text, owner);
}

bool TFormYesNo::AskChoice(const QString& text, const QString& upper, const QString& lower,
                           char defaultAnswer, QWidget* owner) {
  WaitUntilClosed();
  rv::QuestionDialogState& state = rv::Dialog();
  state.defaultAnswer = defaultAnswer == 'y' ? 'y' : 'n';
  state.upper = upper.toStdString();
  state.lower = lower.toStdString();
  bitBtnDa_->setText(Caption(upper));
  bitBtnNet_->setText(Caption(lower));
  openedByChoice_ = true;
  return Open(text, owner);
}

void TFormYesNo::WaitUntilClosed() {
  while (isVisible()) {
    QEventLoop wait;
    connect(this, &QDialog::finished, &wait, &QEventLoop::quit);
    wait.exec();
  }
}

bool TFormYesNo::Open(const QString& text, QWidget* owner) {
  if (owner && owner->window() == this) owner = nullptr;
  PlaceOver(owner);
  labelTxt_->setText(DisplayText(text));

  // Keep the dialog above its owner where the window system supports it.
  create();
  if (QWindow* handle = windowHandle())
    handle->setTransientParent(
        owner && owner->window()->windowHandle() ? owner->window()->windowHandle() : nullptr);

  // The answer of this question, taken when it closes: a question shown after it (while
  // its modal loop is still on the stack) must not change it.
  bool answered = false, answer = false;
  const QMetaObject::Connection taken = connect(this, &QDialog::finished, this, [&](int) {
    if (answered) return;
    answered = true;
    answer = rv::Dialog().lastAnswer.load() != 0;
  });
  const AutoAnswer& hook = AutoAnswerHook();
  if (hook) {
    show();
    const int hookAnswer = hook(*this);
    if (isVisible()) {
      if (hookAnswer == 1) {
        BitBtnDaClick();
      } else if (hookAnswer == 0) {
        BitBtnNetClick();
      } else {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(this, &escape);
        if (isVisible()) reject();
      }
    }
  } else {
    // A modal loop of its own rather than exec(): exec() refuses to run again while an
    // earlier run of it is still on the stack, which a queued question needs.
    setModal(true);
    show();
    QEventLoop modal;
    connect(this, &QDialog::finished, &modal, &QEventLoop::quit);
    if (isVisible()) modal.exec();
  }
  disconnect(taken);
  rv::Dialog().lastAnswer = answer ? 1 : 0;
  return answer;
}

void TFormYesNo::PlaceOver(QWidget* owner) {
  // Centred over the owner's window; without one, over the screen from a zero origin.
  // Integer division truncates toward zero, also for an owner smaller than the dialog.
  int left = 0, top = 0, areaWidth = 0, areaHeight = 0;
  if (owner) {
    const QRect g = owner->window()->frameGeometry();
    left = g.x();
    top = g.y();
    areaWidth = g.width();
    areaHeight = g.height();
  } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
    areaWidth = screen->geometry().width();
    areaHeight = screen->geometry().height();
  }
  move(left + (areaWidth - width()) / 2, top + (areaHeight - height()) / 2);
}

// ------------------------------------------------------------------ opening and closing

void TFormYesNo::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormShow();
}

void TFormYesNo::FormShow() {
  rv::QuestionDialogState& state = rv::Dialog();
  state.lastAnswer = 0;
  if (!openedByChoice_) {
    state.upper = "да";
    state.lower = "нет";
    bitBtnDa_->setText(QStringLiteral("да"));
    bitBtnNet_->setText(QStringLiteral("нет"));
  }
  openedByChoice_ = false;
  (state.defaultAnswer == 'y' ? bitBtnDa_ : bitBtnNet_)->setFocus(Qt::OtherFocusReason);
  ShowIcon();
}

void TFormYesNo::BitBtnDaClick() {
  rv::Dialog().lastAnswer = 1;
  accept();
}

void TFormYesNo::BitBtnNetClick() {
  rv::Dialog().lastAnswer = 0;
  reject();
}

void TFormYesNo::done(int result) {
  dragging_ = false;
  QDialog::done(result);
  RestoreStandardGeometry();
}

void TFormYesNo::RestoreStandardGeometry() {
  resize(kClientWidth, kClientHeight);
  Relayout();  // a hidden window gets its resize event only when shown again
  labelTxt_->setText(QString::fromUtf8(kRestText));
  ShowIcon();
}

// ------------------------------------------------------------------ icon

void TFormYesNo::ShowIcon() {
  QLabel* source = imageQ_;
  switch (rv::Dialog().iconLetter) {
    case 'r': source = imageR_; break;
    case 'b': source = imageB_; break;
    case 'y': source = imageY_; break;
    default: break;
  }
  imageXX_->setPixmap(source->pixmap());
}

void TFormYesNo::ImageXXDblClick() {
  rv::QuestionDialogState& state = rv::Dialog();
  state.iconLetter = rv::NextIcon(state.iconLetter);
  ShowIcon();
}

// ------------------------------------------------------------------ layout and painting

void TFormYesNo::Relayout() {
  const int w = width();
  const int h = height();
  const int buttonLeft = w - kButtonWidth - kButtonMargin;
  bitBtnDa_->setGeometry(buttonLeft, kButtonTop, kButtonWidth, kButtonHeight);
  bitBtnNet_->setGeometry(buttonLeft, kButtonTop + kButtonHeight + kButtonGap, kButtonWidth,
                          kButtonHeight);
  const int panelLeft = buttonLeft - kButtonMargin;
  paintBoxR_->setGeometry(panelLeft, 2, std::max(0, w - panelLeft - 2), std::max(0, h - 4));
  labelTxt_->setGeometry(kTextLeft, kTextTop, std::max(0, panelLeft - kButtonGap - kTextLeft),
                         std::max(0, h - 2 * kTextTop));
  imageXX_->setGeometry(kIconLeft, (h - kIconSize) / 2, kIconSize, kIconSize);
}

void TFormYesNo::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  Relayout();
}

void TFormYesNo::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const int w = width();
  const int h = height();
  p.fillRect(rect(), kSilver);
  if (w < 4 || h < 4) return;
  // Two-line raised frame: light lines left and top, dark lines right and bottom; the
  // dark lines are drawn last so they own the corners they share.
  p.fillRect(0, 0, w, 1, kFrameLight);  // outer
  p.fillRect(0, 0, 1, h, kFrameLight);
  p.fillRect(1, 1, w - 2, 1, Qt::white);  // inner
  p.fillRect(1, 1, 1, h - 2, Qt::white);
  p.fillRect(w - 2, 1, 1, h - 2, kFrameShadow);
  p.fillRect(1, h - 2, w - 2, 1, kFrameShadow);
  p.fillRect(w - 1, 0, 1, h, Qt::black);
  p.fillRect(0, h - 1, w, 1, Qt::black);
}

// ------------------------------------------------------------------ dragging

void TFormYesNo::StartDrag(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  if (QWindow* handle = windowHandle(); handle && handle->startSystemMove()) return;
  dragging_ = true;
  dragOffset_ = event->globalPosition().toPoint() - pos();
}

void TFormYesNo::DragTo(QMouseEvent* event) {
  if (dragging_ && (event->buttons() & Qt::LeftButton))
    move(event->globalPosition().toPoint() - dragOffset_);
}

void TFormYesNo::mousePressEvent(QMouseEvent* event) {
  StartDrag(event);
  event->accept();
}

void TFormYesNo::mouseMoveEvent(QMouseEvent* event) { DragTo(event); }

void TFormYesNo::mouseReleaseEvent(QMouseEvent* event) { dragging_ = false; }

bool TFormYesNo::eventFilter(QObject* watched, QEvent* event) {
  if (watched == labelTxt_) {
    switch (event->type()) {
      case QEvent::MouseButtonPress: StartDrag(static_cast<QMouseEvent*>(event)); return true;
      case QEvent::MouseMove: DragTo(static_cast<QMouseEvent*>(event)); return true;
      case QEvent::MouseButtonRelease: dragging_ = false; return true;
      default: break;
    }
  } else if (watched == imageXX_) {
    switch (event->type()) {
      case QEvent::MouseButtonDblClick: ImageXXDblClick(); return true;
      case QEvent::MouseButtonPress:  // the icon is no handle for dragging
        return true;
      default: break;
    }
  }
  return QDialog::eventFilter(watched, event);
}

// ------------------------------------------------------------------ pictures

QPixmap TFormYesNo::IconPixmap(char letter) {
  QPixmap pm(kIconSize, kIconSize);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  QFont glyphFont(QStringLiteral("DejaVu Sans"));
  glyphFont.setBold(true);
  glyphFont.setPixelSize(26);
  p.setFont(glyphFont);
  const QRectF disc(2.5, 2.5, 35, 35);

  switch (letter) {
    case 'r': {  // warning: white "!" on a red disc
      p.setPen(QPen(QColor(0x70, 0x00, 0x00), 1.5));
      p.setBrush(QColor(0xD0, 0x20, 0x20));
      p.drawEllipse(disc);
      p.setPen(Qt::white);
      p.drawText(disc, Qt::AlignCenter, QStringLiteral("!"));
      break;
    }
    case 'b': {  // information: white "i" on a blue disc
      p.setPen(QPen(QColor(0x00, 0x20, 0x70), 1.5));
      p.setBrush(QColor(0x20, 0x50, 0xC0));
      p.drawEllipse(disc);
      p.setPen(Qt::white);
      QFont serif(QStringLiteral("DejaVu Serif"));
      serif.setBold(true);
      serif.setPixelSize(26);
      p.setFont(serif);
      p.drawText(disc, Qt::AlignCenter, QStringLiteral("i"));
      break;
    }
    case 'y': {  // caution: black "!" in a yellow triangle
      QPainterPath triangle;
      triangle.moveTo(20, 2.5);
      triangle.lineTo(38, 36.5);
      triangle.lineTo(2, 36.5);
      triangle.closeSubpath();
      p.setPen(QPen(QColor(0x60, 0x50, 0x00), 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.setBrush(QColor(0xF8, 0xD8, 0x20));
      p.drawPath(triangle);
      p.setPen(Qt::black);
      glyphFont.setPixelSize(22);
      p.setFont(glyphFont);
      p.drawText(QRectF(2, 10, 36, 26), Qt::AlignCenter, QStringLiteral("!"));
      break;
    }
    default: {  // question: blue "?" on a white disc
      p.setPen(QPen(QColor(0x20, 0x40, 0x90), 2));
      p.setBrush(Qt::white);
      p.drawEllipse(disc);
      p.setPen(QColor(0x20, 0x40, 0xA0));
      p.drawText(disc, Qt::AlignCenter, QStringLiteral("?"));
      break;
    }
  }
  return pm;
}

QPixmap TFormYesNo::TexturePixmap() {
  // Brushed steel: a fixed pseudo-random grain over horizontal streaks, so the picture is
  // the same on every run. The grain is per pixel and the streaks are per row, so
  // neighbouring tiles meet without a visible seam.
  QImage img(kTextureWidth, kTextureHeight, QImage::Format_RGB32);
  uint32_t seed = 0x2F6B1D37u;
  auto next = [&seed]() {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 24) & 0xFF;
  };
  int rowShade[kTextureHeight];
  for (int y = 0; y < kTextureHeight; ++y) rowShade[y] = static_cast<int>(next() % 17) - 8;
  for (int y = 0; y < kTextureHeight; ++y) {
    for (int x = 0; x < kTextureWidth; ++x) {
      const int grain = static_cast<int>(next() % 11) - 5;
      const int v = std::clamp(0xB4 + rowShade[y] + grain, 0, 255);
      img.setPixel(x, y, qRgb(v - 4, v, v + 8 > 255 ? 255 : v + 8));
    }
  }
  return QPixmap::fromImage(img);
}

// ------------------------------------------------------------------ single instance

TFormYesNo& FormYesNo() {
  static QPointer<TFormYesNo> form;
  if (!form) form = new TFormYesNo;
  return *form;
}

bool ShowQuestion(const rv::Question& q, QWidget* owner) {
  const QString text = QString::fromStdString(q.text);
  if (q.choice)
    return FormYesNo().AskChoice(text, QString::fromStdString(q.upper),
                                 QString::fromStdString(q.lower), q.defaultAnswer, owner);
  return FormYesNo().AskYesNo(text, owner);
}
