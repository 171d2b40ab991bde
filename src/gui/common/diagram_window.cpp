#include "gui/common/diagram_window.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPointer>
#include <QScreen>

#include <algorithm>
#include <string>

#include "base/tasks.h"
#include "riff/bytes.h"

namespace {

constexpr int kMargin = 8;

bool IsVideoEntry(const rv::IndexEntry& e) {
  const std::string id = rv::cff(e.ckid);
  return rv::SameChunkType(id, "00db") || rv::SameChunkType(id, "00dc");
}

// The index is rebuilt by the checks on the worker thread; while one of them runs the
// window leaves it alone and shows an empty plot.
bool IndexBeingBuilt() {
  if (!rv::WorkerExists()) return false;
  const std::string& command = rv::TaskCommand();
  return command == "createIDX1" || command == "verifyIDX1";
}

}  // namespace

QSize FramePlotSize(const QSize& client) {
  return {client.width() - 2 * kMargin, client.height() - 38};
}

std::vector<int> FrameSizeColumns(const std::vector<rv::IndexEntry>& entries, int w, int h) {
  std::vector<int> columns;
  if (w <= 0 || h - 10 <= 0) return columns;

  // First pass: number of video entries and the largest length.
  int64_t count = 0;
  int32_t largest = 0;
  for (const rv::IndexEntry& e : entries) {
    if (!IsVideoEntry(e)) continue;
    ++count;
    largest = std::max(largest, static_cast<int32_t>(e.dwChunkLength));
  }
  const int32_t scale = std::max<int32_t>(1, largest / (h - 10));
  const int64_t perColumn = std::max<int64_t>(1, count / w);

  // Second pass: one column per full group, showing the group's largest length.
  int x = 0;
  int64_t inGroup = 0;
  int32_t groupMax = 0;
  for (const rv::IndexEntry& e : entries) {
    if (!IsVideoEntry(e)) continue;
    groupMax = std::max(groupMax, static_cast<int32_t>(e.dwChunkLength));
    if (++inGroup < perColumn) continue;
    columns.push_back(groupMax / scale);
    ++x;
    if (x > w) break;
    inGroup = 0;
    groupMax = 0;
  }
  return columns;
}

void PaintFrameSizeDiagram(QPainter& painter, const QSize& client,
                           const std::vector<rv::IndexEntry>& entries) {
  painter.fillRect(QRect(QPoint(0, 0), client), QColor::fromRgb(TFormDIAG::kBackground));
  const QSize plot = FramePlotSize(client);
  if (plot.width() <= 0 || plot.height() <= 0) return;
  painter.fillRect(QRect(kMargin, kMargin, plot.width(), plot.height()),
                   QColor::fromRgb(TFormDIAG::kPlot));

  const std::vector<int> columns = FrameSizeColumns(entries, plot.width(), plot.height());
  if (columns.empty()) return;
  painter.setPen(QPen(QColor::fromRgb(TFormDIAG::kColumn), 0));
  const int base = plot.height() + kMargin;
  for (size_t x = 0; x < columns.size(); ++x) {
    const int left = static_cast<int>(x) + kMargin;
    painter.drawLine(left, base, left, base - columns[x]);
  }
}

TFormDIAG::TFormDIAG(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("FormDIAG"));
  setWindowTitle(QStringLiteral("размеры кадров"));
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(kStandardWidth, kStandardHeight);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->geometry();
    move(area.x() + (area.width() - kStandardWidth) / 2,
         area.y() + (area.height() - kStandardHeight) / 2);
  }
}

TFormDIAG::~TFormDIAG() = default;

void TFormDIAG::DrawFrameSizeDiagram() { update(); }

void TFormDIAG::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  static const std::vector<rv::IndexEntry> kNone;
  PaintFrameSizeDiagram(painter, size(), IndexBeingBuilt() ? kNone : rv::Index().entries);
}

void TFormDIAG::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  DrawFrameSizeDiagram();
}

void TFormDIAG::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  DrawFrameSizeDiagram();
}

TFormDIAG& FormDIAG() {
  static QPointer<TFormDIAG> window;
  if (!window) window = new TFormDIAG;
  return *window;
}
