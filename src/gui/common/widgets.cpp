#include "gui/common/widgets.h"

#include <QDir>
#include <QEnterEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QTreeView>

#include <algorithm>
#include <cmath>
#include <type_traits>

// ---- PieGauge -------------------------------------------------------------------------------

PieGauge::PieGauge(QWidget* parent) : QWidget(parent) { setMinimumSize(20, 20); }

void PieGauge::SetProgress(int percent) {
  percent = std::clamp(percent, 0, 100);
  if (percent == progress_) return;
  progress_ = percent;
  update();
}

QSize PieGauge::sizeHint() const { return {26, 26}; }

void PieGauge::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  int side = std::min(width(), height()) - 2;
  QRectF r((width() - side) / 2.0, (height() - side) / 2.0, side, side);
  p.setPen(QPen(QColor(80, 80, 80), 1));
  p.setBrush(Qt::white);
  p.drawEllipse(r);
  if (progress_ > 0) {
    p.setBrush(QColor(0, 0, 128));
    // Qt angles are in 1/16 degree, counter-clockwise from three o'clock.
    p.drawPie(r, 90 * 16, -progress_ * 360 * 16 / 100);
  }
  QFont f = font();
  f.setPixelSize(std::max(7, side / 3));
  p.setFont(f);
  QString text = QString::number(progress_) + QLatin1Char('%');
  p.setPen(progress_ >= 50 ? Qt::white : Qt::black);
  if (progress_ > 30 && progress_ < 70) p.setPen(QColor(200, 0, 0));
  p.drawText(r, Qt::AlignCenter, text);
}

// ---- PictureButton --------------------------------------------------------------------------

PictureButton::PictureButton(QWidget* parent) : QToolButton(parent) {
  setAutoRaise(true);
  setFocusPolicy(Qt::NoFocus);
  setCursor(Qt::PointingHandCursor);
}

void PictureButton::SetPicture(const QPixmap& pixmap, const QString& name) {
  normal_ = pixmap;
  pictureName_ = name;
  setIcon(QIcon(pixmap));
  setIconSize(pixmap.size() / pixmap.devicePixelRatio());
}

void PictureButton::SetHoverPicture(const QPixmap& pixmap) { hover_ = pixmap; }

void PictureButton::enterEvent(QEnterEvent* event) {
  if (!hover_.isNull()) setIcon(QIcon(hover_));
  QToolButton::enterEvent(event);
}

void PictureButton::leaveEvent(QEvent* event) {
  if (!hover_.isNull()) setIcon(QIcon(normal_));
  QToolButton::leaveEvent(event);
}

// ---- file dialogs -----------------------------------------------------------------------------

QStringList ChooseFilesToOpen(QWidget* parent, const QString& dir, const QString& filter,
                              bool several, const QString& caption) {
  QFileDialog dialog(parent, caption, dir, filter);
  dialog.setFileMode(several ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
  dialog.setViewMode(QFileDialog::Detail);
  QSize size(760, 480);
  if (QScreen* screen = parent ? parent->screen() : nullptr)
    size = size.boundedTo(screen->availableGeometry().size() * 9 / 10);
  dialog.resize(size);
  // Sizes, types and dates whole; the names take the rest.
  if (auto* view = dialog.findChild<QTreeView*>(QStringLiteral("treeView"))) {
    view->header()->setStretchLastSection(false);
    view->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    view->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  }
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles();
}

QString DialogFolder(const QString& current, const QString& fallback) {
  const QFileInfo info(current);
  if (!current.isEmpty() && info.isAbsolute()) {
    if (info.isDir()) return info.absoluteFilePath();
    if (info.absoluteDir().exists()) return info.absolutePath();
  }
  return fallback;
}

// ---- WrappingButton -------------------------------------------------------------------------

namespace {
template <class Base>
constexpr bool kIsRadio = std::is_same_v<Base, QRadioButton>;

template <class Base>
QStyle::PixelMetric IndicatorWidthMetric() {
  return kIsRadio<Base> ? QStyle::PM_ExclusiveIndicatorWidth : QStyle::PM_IndicatorWidth;
}
template <class Base>
QStyle::PixelMetric IndicatorHeightMetric() {
  return kIsRadio<Base> ? QStyle::PM_ExclusiveIndicatorHeight : QStyle::PM_IndicatorHeight;
}
template <class Base>
QStyle::PixelMetric SpacingMetric() {
  return kIsRadio<Base> ? QStyle::PM_RadioButtonLabelSpacing : QStyle::PM_CheckBoxLabelSpacing;
}
constexpr int kTextFlags = Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignVCenter;
}  // namespace

template <class Base>
WrappingButton<Base>::WrappingButton(const QString& text, QWidget* parent) : Base(text, parent) {
  QSizePolicy sp(QSizePolicy::Preferred, QSizePolicy::Preferred);
  sp.setHeightForWidth(true);
  this->setSizePolicy(sp);
}

template <class Base>
int WrappingButton<Base>::IndicatorSpace() const {
  // Where the style starts the caption of a one-line button, so that wrapped and one-line
  // captions line up.
  QStyleOptionButton opt;
  opt.initFrom(this);
  opt.rect = QRect(0, 0, 1000, 20);
  const QStyle::SubElement contents =
      kIsRadio<Base> ? QStyle::SE_RadioButtonContents : QStyle::SE_CheckBoxContents;
  int left = this->style()->subElementRect(contents, &opt, this).left();
  if (left > 0) return left;
  const QStyle* s = this->style();
  return s->pixelMetric(IndicatorWidthMetric<Base>(), nullptr, this) +
         s->pixelMetric(SpacingMetric<Base>(), nullptr, this);
}

template <class Base>
int WrappingButton<Base>::heightForWidth(int width) const {
  int textWidth = std::max(20, width - IndicatorSpace());
  QRect r =
      this->fontMetrics().boundingRect(QRect(0, 0, textWidth, 10000), kTextFlags, this->text());
  int indicator = this->style()->pixelMetric(IndicatorHeightMetric<Base>(), nullptr, this);
  return std::max(indicator, r.height()) + 2;
}

template <class Base>
QSize WrappingButton<Base>::sizeHint() const {
  // Asks for the width of the caption on one line; the layout may give less, and the
  // caption then wraps.
  int w = IndicatorSpace() + this->fontMetrics().horizontalAdvance(this->text()) + 2;
  return {w, heightForWidth(w)};
}

template <class Base>
QSize WrappingButton<Base>::minimumSizeHint() const {
  int w = IndicatorSpace() + this->fontMetrics().horizontalAdvance(QStringLiteral("WWWWWWWW"));
  return {w, heightForWidth(w)};
}

template <class Base>
void WrappingButton<Base>::paintEvent(QPaintEvent*) {
  QStylePainter p(this);
  QStyleOptionButton opt;
  this->initStyleOption(&opt);
  opt.text.clear();
  const QStyle::ControlElement element =
      kIsRadio<Base> ? QStyle::CE_RadioButton : QStyle::CE_CheckBox;
  // The indicator centred on the first line of text, as a single-line button would draw it.
  int indicatorHeight = this->style()->pixelMetric(IndicatorHeightMetric<Base>(), nullptr, this);
  int firstLine = std::max(indicatorHeight, this->fontMetrics().height());
  QRect textRect(IndicatorSpace(), 0, this->width() - IndicatorSpace(), this->height());
  QRect used = this->fontMetrics().boundingRect(textRect, kTextFlags, this->text());
  opt.rect =
      QRect(0, used.top() + (firstLine - indicatorHeight) / 2 - 1, IndicatorSpace(), firstLine);
  opt.state &= ~QStyle::State_HasFocus;
  p.drawControl(element, opt);
  p.setPen(this->palette().color(this->isEnabled() ? QPalette::Active : QPalette::Disabled,
                                 QPalette::WindowText));
  p.drawText(textRect, kTextFlags, this->text());
  if (this->hasFocus()) {
    QStyleOptionFocusRect fr;
    fr.initFrom(this);
    fr.rect = used.adjusted(-1, 0, 1, 0);
    p.drawPrimitive(QStyle::PE_FrameFocusRect, fr);
  }
}

template <class Base>
bool WrappingButton<Base>::hitButton(const QPoint& pos) const {
  return this->rect().contains(pos);
}

template class WrappingButton<QCheckBox>;
template class WrappingButton<QRadioButton>;

// ---- pictures -------------------------------------------------------------------------------

namespace pictures {

namespace {

void DrawFolder(QPainter& p, double s) {
  p.setPen(QPen(QColor(120, 90, 20), s / 20));
  p.setBrush(QColor(240, 200, 90));
  QPainterPath back;
  back.moveTo(s * 0.08, s * 0.25);
  back.lineTo(s * 0.38, s * 0.25);
  back.lineTo(s * 0.45, s * 0.33);
  back.lineTo(s * 0.88, s * 0.33);
  back.lineTo(s * 0.88, s * 0.82);
  back.lineTo(s * 0.08, s * 0.82);
  back.closeSubpath();
  p.drawPath(back);
  p.setBrush(QColor(252, 222, 130));
  QPainterPath front;
  front.moveTo(s * 0.08, s * 0.82);
  front.lineTo(s * 0.2, s * 0.45);
  front.lineTo(s * 0.98, s * 0.45);
  front.lineTo(s * 0.88, s * 0.82);
  front.closeSubpath();
  p.drawPath(front);
}

void DrawDisk(QPainter& p, double s, QColor mark, bool tick) {
  p.setPen(QPen(QColor(30, 30, 60), s / 20));
  p.setBrush(QColor(70, 90, 160));
  QRectF body(s * 0.1, s * 0.1, s * 0.8, s * 0.8);
  p.drawRoundedRect(body, s * 0.06, s * 0.06);
  p.setBrush(QColor(235, 235, 235));
  p.drawRect(QRectF(s * 0.25, s * 0.1, s * 0.5, s * 0.3));
  p.setBrush(mark);
  p.setPen(QPen(mark.darker(160), s / 20));
  p.drawEllipse(QRectF(s * 0.42, s * 0.48, s * 0.5, s * 0.5));
  p.setPen(QPen(Qt::white, s / 10, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  if (tick) {
    p.drawPolyline(QPolygonF(
        {QPointF(s * 0.53, s * 0.73), QPointF(s * 0.64, s * 0.84), QPointF(s * 0.82, s * 0.6)}));
  } else {
    p.drawLine(QPointF(s * 0.56, s * 0.62), QPointF(s * 0.78, s * 0.84));
    p.drawLine(QPointF(s * 0.78, s * 0.62), QPointF(s * 0.56, s * 0.84));
  }
}

void DrawStop(QPainter& p, double s) {
  QPolygonF oct;
  for (int i = 0; i < 8; ++i) {
    double a = (22.5 + 45.0 * i) * M_PI / 180.0;
    oct << QPointF(s / 2 + s * 0.45 * std::cos(a), s / 2 + s * 0.45 * std::sin(a));
  }
  p.setPen(QPen(QColor(110, 0, 0), s / 20));
  p.setBrush(QColor(210, 30, 30));
  p.drawPolygon(oct);
  p.setPen(QPen(Qt::white, s / 8, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(s * 0.33, s * 0.33), QPointF(s * 0.67, s * 0.67));
  p.drawLine(QPointF(s * 0.67, s * 0.33), QPointF(s * 0.33, s * 0.67));
}

void DrawHourglass(QPainter& p, double s) {
  p.setPen(QPen(QColor(90, 60, 20), s / 16));
  p.drawLine(QPointF(s * 0.2, s * 0.1), QPointF(s * 0.8, s * 0.1));
  p.drawLine(QPointF(s * 0.2, s * 0.9), QPointF(s * 0.8, s * 0.9));
  p.setPen(QPen(QColor(60, 60, 90), s / 24));
  p.setBrush(QColor(200, 225, 250));
  QPolygonF glass({QPointF(s * 0.27, s * 0.14), QPointF(s * 0.73, s * 0.14),
                   QPointF(s * 0.53, s * 0.5), QPointF(s * 0.73, s * 0.86),
                   QPointF(s * 0.27, s * 0.86), QPointF(s * 0.47, s * 0.5)});
  p.drawPolygon(glass);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(220, 170, 60));
  p.drawPolygon(QPolygonF(
      {QPointF(s * 0.36, s * 0.3), QPointF(s * 0.64, s * 0.3), QPointF(s * 0.5, s * 0.48)}));
  p.drawPolygon(QPolygonF(
      {QPointF(s * 0.5, s * 0.66), QPointF(s * 0.68, s * 0.84), QPointF(s * 0.32, s * 0.84)}));
}

void DrawGlobe(QPainter& p, double s, bool lit) {
  QColor sea = lit ? QColor(60, 150, 255) : QColor(40, 100, 190);
  p.setPen(QPen(sea.darker(170), s / 20));
  p.setBrush(sea);
  QRectF r(s * 0.08, s * 0.08, s * 0.84, s * 0.84);
  p.drawEllipse(r);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(lit ? QColor(255, 255, 200) : QColor(210, 230, 255), s / 22));
  p.drawEllipse(QRectF(s * 0.3, s * 0.08, s * 0.4, s * 0.84));
  p.drawLine(QPointF(s * 0.5, s * 0.08), QPointF(s * 0.5, s * 0.92));
  p.drawLine(QPointF(s * 0.08, s * 0.5), QPointF(s * 0.92, s * 0.5));
  p.drawLine(QPointF(s * 0.16, s * 0.3), QPointF(s * 0.84, s * 0.3));
  p.drawLine(QPointF(s * 0.16, s * 0.7), QPointF(s * 0.84, s * 0.7));
}

void DrawAutoFit(QPainter& p, double s) {
  p.setPen(QPen(QColor(40, 40, 40), s / 12, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawLine(QPointF(s * 0.1, s * 0.5), QPointF(s * 0.9, s * 0.5));
  p.drawPolyline(QPolygonF(
      {QPointF(s * 0.28, s * 0.3), QPointF(s * 0.1, s * 0.5), QPointF(s * 0.28, s * 0.7)}));
  p.drawPolyline(QPolygonF(
      {QPointF(s * 0.72, s * 0.3), QPointF(s * 0.9, s * 0.5), QPointF(s * 0.72, s * 0.7)}));
  p.setPen(QPen(QColor(120, 120, 120), s / 14));
  p.drawLine(QPointF(s * 0.5, s * 0.12), QPointF(s * 0.5, s * 0.88));
}

void DrawBars(QPainter& p, double s) {
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(160, 160, 160));
  p.drawRect(QRectF(s * 0.08, s * 0.08, s * 0.84, s * 0.84));
  p.setBrush(QColor(0, 0, 128));
  const double h[] = {0.5, 0.3, 0.65, 0.4, 0.75, 0.35, 0.55};
  for (int i = 0; i < 7; ++i)
    p.drawRect(QRectF(s * (0.14 + i * 0.105), s * (0.88 - h[i]), s * 0.07, s * h[i]));
}

void DrawKill(QPainter& p, double s) {
  p.setPen(QPen(QColor(60, 60, 60), s / 12, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(s * 0.1, s * 0.5), QPointF(s * 0.38, s * 0.5));
  p.drawLine(QPointF(s * 0.62, s * 0.5), QPointF(s * 0.9, s * 0.5));
  p.setPen(QPen(QColor(200, 0, 0), s / 9, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(s * 0.3, s * 0.2), QPointF(s * 0.7, s * 0.8));
  p.drawLine(QPointF(s * 0.7, s * 0.2), QPointF(s * 0.3, s * 0.8));
}

// A sheet of paper with a folded corner, in the rectangle r.
void DrawSheet(QPainter& p, const QRectF& r) {
  const qreal fold = r.width() * 0.3;
  QPainterPath sheet;
  sheet.moveTo(r.left(), r.top());
  sheet.lineTo(r.right() - fold, r.top());
  sheet.lineTo(r.right(), r.top() + fold);
  sheet.lineTo(r.right(), r.bottom());
  sheet.lineTo(r.left(), r.bottom());
  sheet.closeSubpath();
  p.setPen(QPen(QColor(70, 70, 70), 1));
  p.setBrush(Qt::white);
  p.drawPath(sheet);
}

// A floppy disk in the rectangle r.
void DrawFloppy(QPainter& p, const QRectF& r) {
  p.setPen(QPen(QColor(20, 30, 70), 1));
  p.setBrush(QColor(40, 70, 150));
  p.drawRoundedRect(r, 2, 2);
  p.setBrush(QColor(235, 235, 235));
  p.drawRect(QRectF(r.left() + r.width() * 0.2, r.top(), r.width() * 0.55, r.height() * 0.35));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(r.left() + r.width() * 0.15, r.top() + r.height() * 0.55, r.width() * 0.7,
                    r.height() * 0.45));
}

// The pictures of the stream-check window.
void DrawCheckPicture(QPainter& p, Kind kind, qreal s) {
  switch (kind) {
    case Kind::CheckStart:
    case Kind::CheckContinue: {
      p.setPen(QPen(QColor(20, 90, 20), 1.5));
      p.setBrush(QColor(60, 170, 60));
      p.drawEllipse(QRectF(1, 1, s - 2, s - 2));
      QPainterPath tri;
      const qreal left = kind == Kind::CheckStart ? s * 0.38 : s * 0.45;
      tri.moveTo(left, s * 0.27);
      tri.lineTo(left + s * 0.34, s * 0.5);
      tri.lineTo(left, s * 0.73);
      tri.closeSubpath();
      p.setPen(Qt::NoPen);
      p.setBrush(Qt::white);
      p.drawPath(tri);
      // Continue: a bar before the arrow, "go on from here".
      if (kind == Kind::CheckContinue) p.drawRect(QRectF(s * 0.27, s * 0.27, s * 0.1, s * 0.46));
      break;
    }
    case Kind::CheckStop:
      p.setPen(QPen(QColor(110, 10, 10), 1.5));
      p.setBrush(QColor(200, 40, 40));
      p.drawEllipse(QRectF(1, 1, s - 2, s - 2));
      p.setPen(Qt::NoPen);
      p.setBrush(Qt::white);
      p.drawRect(QRectF(s * 0.32, s * 0.32, s * 0.36, s * 0.36));
      break;
    case Kind::SaveErrors:
      DrawFloppy(p, QRectF(1, 1, s - 2, s - 2));
      p.setPen(QPen(QColor(200, 0, 0), s / 10));
      p.drawLine(QPointF(s * 0.3, s * 0.62), QPointF(s * 0.7, s * 0.92));
      p.drawLine(QPointF(s * 0.7, s * 0.62), QPointF(s * 0.3, s * 0.92));
      break;
    case Kind::LoadErrors: {
      p.setPen(QPen(QColor(120, 90, 20), 1));
      p.setBrush(QColor(240, 200, 90));
      p.drawRect(QRectF(1, s * 0.3, s - 2, s * 0.65));
      p.drawRect(QRectF(1, s * 0.2, s * 0.4, s * 0.12));
      p.setPen(QPen(QColor(0, 100, 0), s / 9, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(s * 0.5, s * 0.4), QPointF(s * 0.5, s * 0.85));
      p.drawLine(QPointF(s * 0.32, s * 0.62), QPointF(s * 0.5, s * 0.85));
      p.drawLine(QPointF(s * 0.68, s * 0.62), QPointF(s * 0.5, s * 0.85));
      break;
    }
    case Kind::SaveList:
      DrawSheet(p, QRectF(s * 0.15, 1, s * 0.7, s - 2));
      p.setPen(QPen(QColor(40, 40, 160), 1));
      for (int i = 0; i < 5; ++i) {
        const qreal y = s * (0.3 + 0.13 * i);
        p.drawLine(QPointF(s * 0.25, y), QPointF(s * 0.75, y));
      }
      break;
    case Kind::Done:
      p.setPen(QPen(QColor(0, 140, 0), s / 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.drawPolyline(QPolygonF(
          {QPointF(s * 0.15, s * 0.55), QPointF(s * 0.4, s * 0.8), QPointF(s * 0.85, s * 0.2)}));
      break;
    case Kind::Working:
    case Kind::CheckBusy: {
      // An hourglass.
      QPainterPath glass;
      glass.moveTo(s * 0.2, s * 0.08);
      glass.lineTo(s * 0.8, s * 0.08);
      glass.lineTo(s * 0.52, s * 0.5);
      glass.lineTo(s * 0.8, s * 0.92);
      glass.lineTo(s * 0.2, s * 0.92);
      glass.lineTo(s * 0.48, s * 0.5);
      glass.closeSubpath();
      p.setPen(QPen(QColor(90, 60, 20), 1));
      p.setBrush(kind == Kind::CheckBusy ? QColor(250, 230, 150) : QColor(255, 210, 80));
      p.drawPath(glass);
      break;
    }
    case Kind::Hammer: {
      p.translate(s / 2, s / 2);
      p.rotate(-40);
      p.setPen(QPen(QColor(90, 50, 20), 1));
      p.setBrush(QColor(170, 110, 50));
      p.drawRoundedRect(QRectF(-s * 0.06, -s * 0.2, s * 0.12, s * 0.62), 2, 2);
      p.setPen(QPen(QColor(40, 40, 40), 1));
      p.setBrush(QColor(120, 125, 135));
      p.drawRoundedRect(QRectF(-s * 0.3, -s * 0.38, s * 0.6, s * 0.2), 2, 2);
      break;
    }
    case Kind::FirstSearch:
      p.setPen(QPen(QColor(30, 30, 30), s / 8));
      p.setBrush(QColor(200, 230, 255));
      p.drawEllipse(QRectF(s * 0.1, s * 0.1, s * 0.5, s * 0.5));
      p.drawLine(QPointF(s * 0.55, s * 0.55), QPointF(s * 0.9, s * 0.9));
      break;
    case Kind::Exclusions:
      // A strip of bytes with a piece cut out of it.
      p.setPen(QPen(QColor(60, 60, 60), 1));
      p.setBrush(QColor(120, 160, 220));
      p.drawRect(QRectF(1, s * 0.35, s * 0.32, s * 0.3));
      p.drawRect(QRectF(s * 0.67, s * 0.35, s * 0.32 - 1, s * 0.3));
      p.setPen(QPen(QColor(200, 0, 0), 1.5, Qt::DashLine));
      p.setBrush(Qt::NoBrush);
      p.drawRect(QRectF(s * 0.36, s * 0.3, s * 0.28, s * 0.4));
      break;
    case Kind::Close:
      // Drawn on the navy title bar of the exclusion panel.
      p.setPen(QPen(Qt::white, s / 7, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(s * 0.25, s * 0.25), QPointF(s * 0.75, s * 0.75));
      p.drawLine(QPointF(s * 0.75, s * 0.25), QPointF(s * 0.25, s * 0.75));
      break;
    default: break;
  }
}

}  // namespace

QPixmap Draw(Kind kind, int size) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  double s = size;
  switch (kind) {
    case Kind::OpenFile: DrawFolder(p, s); break;
    case Kind::Ready: DrawDisk(p, s, QColor(30, 170, 40), true); break;
    case Kind::NotReady: DrawDisk(p, s, QColor(200, 40, 30), false); break;
    case Kind::Stop: DrawStop(p, s); break;
    case Kind::Busy: DrawHourglass(p, s); break;
    case Kind::Web: DrawGlobe(p, s, false); break;
    case Kind::WebHover: DrawGlobe(p, s, true); break;
    case Kind::AutoFit: DrawAutoFit(p, s); break;
    case Kind::Diagram: DrawBars(p, s); break;
    case Kind::Kill: DrawKill(p, s); break;
    default: DrawCheckPicture(p, kind, s); break;
  }
  return pm;
}

}  // namespace pictures
