// The frame size diagram: which columns the index gives (grouping, scale, video entries
// only, the right edge) and what the window paints from the index in memory.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QScreen>
#include <QTest>

#include <string>
#include <vector>

#include "check/index.h"
#include "riff/bytes.h"
#include "gui/common/diagram_window.h"

namespace {

rv::IndexEntry Entry(const char* id, uint32_t length, uint32_t offset = 4) {
  rv::IndexEntry e;
  e.ckid = rv::fcc(id);
  e.dwChunkOffset = offset;
  e.dwChunkLength = length;
  return e;
}

std::vector<rv::IndexEntry> Videos(const std::vector<uint32_t>& lengths, const char* id = "00dc") {
  std::vector<rv::IndexEntry> v;
  for (uint32_t n : lengths) v.push_back(Entry(id, n));
  return v;
}

// Painted on a transparent image, so that every pixel the painting misses stands out.
QImage Paint(const QSize& client, const std::vector<rv::IndexEntry>& entries) {
  QImage image(client, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  PaintFrameSizeDiagram(painter, client, entries);
  painter.end();
  return image;
}

int CountPixels(const QImage& image, QRgb colour) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixel(x, y) == colour) ++n;
  return n;
}

// Height of the navy line in column x of the plot (pixels counted upwards from its base).
int ColumnPixels(const QImage& image, int x) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    if (image.pixel(x + 8, y) == TFormDIAG::kColumn) ++n;
  return n;
}

}  // namespace

class TestDiagram : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void cleanup() { rv::ClearIndex(); }

  void plotAreaLeavesMarginsAroundIt() {
    QCOMPARE(FramePlotSize(QSize(433, 239)), QSize(417, 201));
    QCOMPARE(FramePlotSize(QSize(16, 38)), QSize(0, 0));
  }

  void fewChunksGiveOneColumnEach() {
    // 201 - 10 = 191 pixels of scale; the largest length 150 gives a scale of 1.
    const auto columns = FrameSizeColumns(Videos({100, 150, 20, 0}), 417, 201);
    QCOMPARE(columns, (std::vector<int>{100, 150, 20, 0}));
  }

  void onlyVideoEntriesCount() {
    std::vector<rv::IndexEntry> entries = {Entry("00dc", 40), Entry("01wb", 100000), Entry("00db", 60),
                                           Entry("02dc", 70), Entry("01pc", 90000), Entry("idx1", 90000),
                                           Entry("0xdc", 90000)};
    // The audio, palette and foreign entries neither draw nor set the scale.
    QCOMPARE(FrameSizeColumns(entries, 417, 201), (std::vector<int>{40, 60, 70}));
  }

  void theLargestChunkSetsTheScale() {
    // 10000 div 191 = 52: the big chunk reaches 192 pixels, the others stay short.
    const auto columns = FrameSizeColumns(Videos({300, 10000, 1000, 51}), 417, 201);
    QCOMPARE(columns, (std::vector<int>{300 / 52, 10000 / 52, 1000 / 52, 0}));
    QCOMPARE(columns[1], 192);
  }

  void smallLengthsKeepScaleOne() {
    // A largest length below the plot height still scales by 1, never by 0.
    QCOMPARE(FrameSizeColumns(Videos({5, 9}), 417, 201), (std::vector<int>{5, 9}));
  }

  void lengthsAreSigned() {
    // 0xFFFFFF00 is -256: it neither becomes the scale nor makes a tall column.
    const auto columns = FrameSizeColumns(Videos({0xFFFFFF00u, 382, 191}), 417, 201);
    QCOMPARE(columns, (std::vector<int>{0, 382 / 2, 191 / 2}));
  }

  void moreChunksThanPixelsAreGrouped() {
    // 9 chunks on 4 pixels: 2 per column, each column the larger of its pair; the ninth chunk
    // does not fill a group and is not drawn.
    const auto columns = FrameSizeColumns(Videos({1, 7, 3, 2, 5, 5, 0, 4, 190}), 4, 201);
    QCOMPARE(columns, (std::vector<int>{7, 3, 5, 4}));
  }

  void columnsStopPastTheRightEdge() {
    // 7 chunks on 4 pixels: one per column; columns 0 to 4 are drawn, then x exceeds 4.
    const auto columns = FrameSizeColumns(Videos({1, 2, 3, 4, 5, 6, 7}), 4, 201);
    QCOMPARE(columns, (std::vector<int>{1, 2, 3, 4, 5}));
  }

  void noScaleNoColumns() {
    const auto entries = Videos({100, 200});
    QVERIFY(FrameSizeColumns(entries, 417, 10).empty());
    QVERIFY(FrameSizeColumns(entries, 417, 0).empty());
    QVERIFY(FrameSizeColumns(entries, 0, 201).empty());
    QVERIFY(FrameSizeColumns(entries, -5, -20).empty());
    QCOMPARE(FrameSizeColumns(entries, 1, 11), (std::vector<int>{1}));  // 2 chunks on 1 pixel, scale 200
  }

  void emptyIndexPaintsOnlyTheBackground() {
    const QImage image = Paint(QSize(433, 239), {});
    QCOMPARE(image.pixel(0, 0), TFormDIAG::kBackground);
    QCOMPARE(image.pixel(432, 238), TFormDIAG::kBackground);
    QCOMPARE(image.pixel(7, 7), TFormDIAG::kBackground);
    QCOMPARE(image.pixel(8, 8), TFormDIAG::kPlot);
    QCOMPARE(image.pixel(8 + 416, 8 + 200), TFormDIAG::kPlot);
    QCOMPARE(image.pixel(8 + 417, 8 + 201), TFormDIAG::kBackground);
    QCOMPARE(CountPixels(image, TFormDIAG::kPlot), 417 * 201);
    QCOMPARE(CountPixels(image, TFormDIAG::kBackground), 433 * 239 - 417 * 201);
  }

  void columnsArePaintedUpFromTheBase() {
    const QImage image = Paint(QSize(433, 239), Videos({100, 150, 0, 20}));
    const int base = 8 + 201;
    QCOMPARE(image.pixel(8, base - 1), TFormDIAG::kColumn);
    QCOMPARE(image.pixel(8, base - 100), TFormDIAG::kColumn);
    QCOMPARE(image.pixel(8, base - 101), TFormDIAG::kPlot);
    QCOMPARE(image.pixel(9, base - 150), TFormDIAG::kColumn);
    QCOMPARE(image.pixel(9, base - 151), TFormDIAG::kPlot);
    QCOMPARE(image.pixel(10, base - 1), TFormDIAG::kPlot);
    QCOMPARE(image.pixel(11, base - 20), TFormDIAG::kColumn);
    // The chart ends before the right edge: nothing beyond the fourth column.
    for (int x = 12; x < 433; ++x) QCOMPARE(ColumnPixels(image, x - 8), 0);
    QVERIFY(ColumnPixels(image, 1) > ColumnPixels(image, 0));
  }

  void tinyClientAreasPaintOnlyTheBackground() {
    for (const QSize client : {QSize(10, 200), QSize(300, 30), QSize(300, 48), QSize(1, 1)}) {
      const QImage image = Paint(client, Videos({100, 200, 300}));
      QCOMPARE(CountPixels(image, TFormDIAG::kColumn), 0);
      QCOMPARE(image.pixel(0, 0), TFormDIAG::kBackground);
    }
  }

  void windowIsCreatedCentred() {
    TFormDIAG& w = FormDIAG();
    QCOMPARE(&FormDIAG(), &w);
    QCOMPARE(w.objectName(), QStringLiteral("FormDIAG"));
    QVERIFY(w.isWindow());
    QVERIFY(!w.isVisible());
    QCOMPARE(w.size(), QSize(433, 239));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QCOMPARE(w.pos(), QPoint(screen.x() + (screen.width() - 433) / 2,
                             screen.y() + (screen.height() - 239) / 2));
  }

  void windowPaintsTheIndexInMemory() {
    rv::Index().entries = Videos({100, 50});
    rv::Index().entries.push_back(Entry("01wb", 150));
    rv::Index().count = rv::Index().entries.size();
    TFormDIAG& w = FormDIAG();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QImage image = w.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(image.size(), QSize(433, 239));
    QCOMPARE(ColumnPixels(image, 0), 101);  // from the base line up to 100 pixels above it
    QCOMPARE(ColumnPixels(image, 1), 51);
    QCOMPARE(ColumnPixels(image, 2), 0);

    // Emptying the index and resizing repaint from the new state.
    rv::ClearIndex();
    w.resize(300, 150);
    image = w.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(image.size(), QSize(300, 150));
    QCOMPARE(CountPixels(image, TFormDIAG::kColumn), 0);
    QCOMPARE(image.pixel(8, 8), TFormDIAG::kPlot);
    w.hide();
    w.resize(433, 239);
  }
};

QTEST_MAIN(TestDiagram)
#include "test_diagram.moc"
