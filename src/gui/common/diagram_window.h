// The frame size diagram: the lengths of the video chunks of the index in memory as a bar
// chart, one vertical line per group of chunks. Not modal; one instance stays for the whole
// run and repaints from the index whenever it is shown or resized.
#pragma once

#include <QColor>
#include <QSize>
#include <QWidget>

#include <vector>

#include "check/index.h"

class QPainter;

// Plot area of a client area: width = client width - 16, height = client height - 38.
QSize FramePlotSize(const QSize& client);

// The heights in pixels of the columns drawn for the video entries ("..db" and "..dc") of
// entries in a plot of width w and height h, from left to right. Lengths count as signed
// 32-bit numbers; the largest one sets the scale (length div (h - 10), at least 1); every
// column stands for (number of video entries div w, at least 1) entries and shows the largest
// of them; a last group that is not full is left out, and so is everything past column w.
// Empty when the plot leaves no room for a scale (w <= 0 or h <= 10).
std::vector<int> FrameSizeColumns(const std::vector<rv::IndexEntry>& entries, int w, int h);

// Paints the diagram of entries on a client area of the given size: silver background,
// grey plot area at (8, 8), navy columns standing on its bottom edge.
void PaintFrameSizeDiagram(QPainter& painter, const QSize& client,
                           const std::vector<rv::IndexEntry>& entries);

class TFormDIAG : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kStandardWidth = 433;
  static constexpr int kStandardHeight = 239;
  static constexpr QRgb kBackground = 0xFFC0C0C0;  // silver
  static constexpr QRgb kPlot = 0xFFA0A0A0;        // grey
  static constexpr QRgb kColumn = 0xFF000080;      // navy

  explicit TFormDIAG(QWidget* parent = nullptr);
  ~TFormDIAG() override;

  // Repaints the whole window from the current index in memory.
  void DrawFrameSizeDiagram();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
};

// The single diagram window, created on first use (a QApplication must exist).
TFormDIAG& FormDIAG();
