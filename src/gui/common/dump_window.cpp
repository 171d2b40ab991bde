#include "gui/common/dump_window.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPointer>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextDocument>

#include <algorithm>

#include "riff/hexdump.h"

namespace {

constexpr int kMemoLeft = 2;
constexpr int kMemoTop = 26;
constexpr int kRadioTop = 4;
constexpr int kRadioWidth = 48;
constexpr int kRadioHeight = 20;

QRadioButton* MakeRadio(QWidget* parent, const char* name, const char* caption, int left) {
  auto* radio = new QRadioButton(QString::fromLatin1(caption), parent);
  radio->setObjectName(QLatin1String(name));
  radio->setGeometry(left, kRadioTop, kRadioWidth, kRadioHeight);
  return radio;
}

// The platform's fixed-pitch font, size 10. Some platforms name a "monospace" font that
// is not strictly fixed pitch; then the first strictly fixed-pitch font of a short list
// is taken. DejaVu Sans Mono comes first because it also carries the glyphs the dump
// uses for control bytes.
QFont DumpFont() {
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setStyleHint(QFont::Monospace);
  font.setFixedPitch(true);
  font.setPointSize(10);
  if (QFontInfo(font).fixedPitch()) return font;
  for (const char* family : {"DejaVu Sans Mono", "Liberation Mono", "Noto Mono", "Courier New"}) {
    const QString name = QString::fromLatin1(family);
    if (QFontDatabase::hasFamily(name) && QFontDatabase::isFixedPitch(name)) {
      font.setFamily(name);
      break;
    }
  }
  return font;
}

}  // namespace

TFormDU::TFormDU(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("FormDU"));
  setWindowTitle(QStringLiteral("dump"));
  resize(kStandardWidth, kStandardHeight);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->geometry();
    move(area.x() + (area.width() - kStandardWidth) / 2,
         area.y() + (area.height() - kStandardHeight) / 2);
  }

  // The three buttons share this parent, so they are mutually exclusive.
  radio16_ = MakeRadio(this, "Radio16", "16", 8);
  radio24_ = MakeRadio(this, "Radio24", "24", 8 + kRadioWidth + 8);
  radio32_ = MakeRadio(this, "Radio32", "32", 8 + 2 * (kRadioWidth + 8));
  radio16_->setChecked(true);
  for (QRadioButton* radio : {radio16_, radio24_, radio32_})
    connect(radio, &QRadioButton::clicked, this, &TFormDU::Radio16Click);

  memoH_ = new QPlainTextEdit(this);
  memoH_->setObjectName(QStringLiteral("MemoH"));
  memoH_->setReadOnly(true);
  memoH_->setLineWrapMode(QPlainTextEdit::NoWrap);
  memoH_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memoH_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memoH_->setUndoRedoEnabled(false);
  QPalette pal = memoH_->palette();
  pal.setColor(QPalette::Base, QColor(70, 70, 90));
  pal.setColor(QPalette::Text, QColor(0xE8, 0xE8, 0xD8));
  memoH_->setPalette(pal);
  memoH_->setFont(DumpFont());
  memoH_->setGeometry(kMemoLeft, kMemoTop, width() - 2 * kMemoLeft, height() - kMemoTop);
}

TFormDU::~TFormDU() = default;

void TFormDU::SetBase(uint64_t base) { base_ = base; }

int TFormDU::BytesPerLine() const {
  if (radio16_->isChecked()) return 16;
  if (radio24_->isChecked()) return 24;
  return 32;
}

void TFormDU::MakeDump(const rv::Bytes& bytes, uint32_t count, uint32_t gapAt, uint32_t skipped) {
  if (&bytes != &bytes_) bytes_ = bytes;
  count_ = count;
  gapAt_ = gapAt;
  skipped_ = skipped;
  const std::vector<std::string> lines =
      rv::MakeDumpLines(bytes_, count_, base_, BytesPerLine(), gapAt_, skipped_);
  size_t total = 0;
  for (const std::string& line : lines) total += line.size() + 1;
  std::string text;
  text.reserve(total);
  for (const std::string& line : lines) {
    if (!text.empty()) text += '\n';
    text += line;
  }
  memoH_->setPlainText(QString::fromStdString(text));
  WidenForLines(lines);
}

void TFormDU::WidenForLines(const std::vector<std::string>& lines) {
  // Wide enough for the hexadecimal and the character columns of the longest line, as far
  // as the screen allows.
  const QFontMetrics fm(memoH_->font());
  int longest = 0;
  for (const std::string& line : lines)
    longest = std::max(longest, fm.horizontalAdvance(QString::fromStdString(line)));
  const int need = longest + 2 * memoH_->pos().x() + 2 * memoH_->frameWidth() +
                   memoH_->verticalScrollBar()->sizeHint().width() +
                   2 * int(memoH_->document()->documentMargin()) + fm.averageCharWidth();
  int limit = need;
  if (QScreen* s = screen()) limit = s->availableGeometry().width();
  const int target = std::min(need, limit);
  if (target > width()) resize(target, height());
}

void TFormDU::Radio16Click() { MakeDump(bytes_, count_, gapAt_, skipped_); }

void TFormDU::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // MemoH keeps its left and top and fills the rest.
  const QPoint at = memoH_->pos();
  memoH_->setGeometry(at.x(), at.y(), std::max(0, width() - 2 * at.x()),
                      std::max(0, height() - at.y()));
}

TFormDU& FormDU() {
  static QPointer<TFormDU> form;
  if (!form) form = new TFormDU;
  return *form;
}
