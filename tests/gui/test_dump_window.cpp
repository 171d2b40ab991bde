// The dump window: its controls, filling MemoH from stored bytes, switching the line
// width with the radio buttons, and the resize rule.
#include <QFontInfo>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScreen>
#include <QTest>

#include "gui/common/dump_window.h"

namespace {

QPlainTextEdit* Memo() { return FormDU().findChild<QPlainTextEdit*>(QStringLiteral("MemoH")); }
QRadioButton* Radio(const char* name) { return FormDU().findChild<QRadioButton*>(QLatin1String(name)); }
QStringList MemoLines() {
  const QString text = Memo()->toPlainText();
  return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

rv::Bytes Sequence(size_t count, uint8_t first = 0) {
  rv::Bytes b(count);
  for (size_t i = 0; i < count; ++i) b[i] = static_cast<uint8_t>(first + i);
  return b;
}

void Click(const char* radio) { QTest::mouseClick(Radio(radio), Qt::LeftButton); }

}  // namespace

class TestDumpWindow : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void init() {
    Click("Radio16");
    FormDU().SetBase(0);
  }

  void createdWithItsControls() {
    TFormDU& w = FormDU();
    QCOMPARE(&FormDU(), &w);
    QCOMPARE(w.windowTitle(), QStringLiteral("dump"));
    QCOMPARE(w.size(), QSize(450, 256));
    QVERIFY(w.isWindow());
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QCOMPARE(w.pos(), QPoint(screen.x() + (screen.width() - 450) / 2, screen.y() + (screen.height() - 256) / 2));

    QVERIFY(Radio("Radio16")->isChecked());
    QVERIFY(!Radio("Radio24")->isChecked());
    QVERIFY(!Radio("Radio32")->isChecked());
    QCOMPARE(Radio("Radio24")->text(), QStringLiteral("24"));

    QPlainTextEdit* memo = Memo();
    QVERIFY(memo->isReadOnly());
    QCOMPARE(memo->lineWrapMode(), QPlainTextEdit::NoWrap);
    QVERIFY(memo->horizontalScrollBarPolicy() != Qt::ScrollBarAlwaysOff);
    QVERIFY(memo->verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff);
    QCOMPARE(memo->palette().color(QPalette::Base), QColor(70, 70, 90));
    QVERIFY(memo->palette().color(QPalette::Text).lightness() > 160);
    QVERIFY(memo->font().fixedPitch());
    QCOMPARE(memo->font().pointSize(), 10);
    // The platform may have no fonts at all: fontconfig still names its generic families
    // ("Monospace", ...), but they stand for no font and the font resolves to no family.
    const QFontInfo shown(memo->font());
    if (!shown.family().isEmpty()) QVERIFY2(shown.fixedPitch(), qPrintable(shown.family()));
    QVERIFY(memo->toPlainText().isEmpty());
    QVERIFY(memo->geometry().bottom() > Radio("Radio16")->geometry().bottom());
  }

  void dumpFillsMemoFromTheBaseAddress() {
    FormDU().SetBase(0x00ABCDEF);
    FormDU().MakeDump(Sequence(40, 0x41), 40);
    const QStringList lines = MemoLines();
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0], QStringLiteral("00ABCDEF 41 42 43 44 | 45 46 47 48 | 49 4A 4B 4C | 4D 4E 4F 50 | "
                                      "ABCDEFGHIJKLMNOP"));
    QVERIFY(lines[1].startsWith(QStringLiteral("00ABCDFF 51 ")));
    QVERIFY(lines[2].startsWith(QStringLiteral("00ABCE0F 61 ")));
    QCOMPARE(FormDU().Base(), 0x00ABCDEFu);
    QCOMPARE(FormDU().Count(), 40u);
  }

  void russianBytesReadAsRussian() {
    FormDU().MakeDump(rv::Bytes{0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2}, 6);
    const QStringList lines = MemoLines();
    QCOMPARE(lines.size(), 1);
    QCOMPARE(lines[0].mid(65), QStringLiteral("Привет"));
  }

  void radioButtonsRebuildInTheirWidth() {
    FormDU().MakeDump(Sequence(64), 64);
    QCOMPARE(MemoLines().size(), 4);
    const QString first16 = MemoLines().first();

    Click("Radio32");
    QCOMPARE(FormDU().BytesPerLine(), 32);
    QCOMPARE(MemoLines().size(), 2);
    // The same bytes, twice as many per line.
    QCOMPARE(MemoLines().first().left(65), first16.left(65));
    QVERIFY(MemoLines().last().startsWith(QStringLiteral("00000020 20 21 22 23 | ")));

    Click("Radio24");
    QCOMPARE(FormDU().BytesPerLine(), 24);
    QCOMPARE(MemoLines().size(), 3);
    QVERIFY(MemoLines().at(1).startsWith(QStringLiteral("00000018 18 19 1A 1B | ")));

    Click("Radio16");
    QCOMPARE(MemoLines().size(), 4);
    QCOMPARE(MemoLines().first(), first16);
  }

  void keepsItsOwnCopyOfTheBytes() {
    {
      rv::Bytes bytes = Sequence(48, 0x61);
      FormDU().MakeDump(bytes, 48);
      bytes.assign(48, 0xEE);  // the caller reuses its buffer
    }
    Click("Radio32");
    const QStringList lines = MemoLines();
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines[0].startsWith(QStringLiteral("00000000 61 62 63 64 | ")));
    QVERIFY(!Memo()->toPlainText().contains(QStringLiteral("EE")));
  }

  void onlyCountBytesAreShown() {
    FormDU().MakeDump(Sequence(100), 20);
    QCOMPARE(MemoLines().size(), 2);
    Click("Radio32");
    QCOMPARE(MemoLines().size(), 1);
    QVERIFY(MemoLines().first().contains(QStringLiteral("10 11 12 13 | ")));
    QVERIFY(!MemoLines().first().contains(QStringLiteral(" 14 ")));
  }

  void countZeroEmptiesTheMemo() {
    FormDU().MakeDump(Sequence(64), 64);
    QVERIFY(!Memo()->toPlainText().isEmpty());
    FormDU().MakeDump(Sequence(64), 0);
    QVERIFY(Memo()->toPlainText().isEmpty());
    Click("Radio24");
    QVERIFY(Memo()->toPlainText().isEmpty());
  }

  void memoFillsTheWindowWhenResized() {
    TFormDU& w = FormDU();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QPoint topLeft = Memo()->pos();
    for (QSize size : {QSize(700, 500), QSize(300, 200)}) {
      w.resize(size);
      QTRY_COMPARE(w.size(), size);
      QCOMPARE(Memo()->geometry(),
               QRect(topLeft.x(), topLeft.y(), size.width() - 2 * topLeft.x(), size.height() - topLeft.y()));
    }
    w.resize(450, 256);
    w.hide();
  }
};

QTEST_MAIN(TestDumpWindow)
#include "test_dump_window.moc"
