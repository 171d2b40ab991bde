// The question window: texts, captions, focus, answers, the icon, placement, layout,
// painting and dragging. All questions go through the one process-wide window, as in
// the program, so state carried from one question to the next is part of what is tested.
// The functions run in declaration order; the first one relies on the untouched state.
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "core/questions.h"
#include "gui/common/question_dialog.h"

namespace {

const QString kDefaultShown = QStringLiteral("Вы действительно хотите\nудалить текущую запись?");
const QString kRest = QStringLiteral("Вы действительно хотите удалить текущую запись?");

// What the window showed while a question was open.
struct Seen {
  bool visible = false;
  QString text, upper, lower, focus;
  int lastAnswerAtOpen = -1;
  QPoint pos;
  QImage icon;
};

QLabel* Label(TFormYesNo& d, const char* name) { return d.findChild<QLabel*>(QLatin1String(name)); }
QPushButton* Button(TFormYesNo& d, const char* name) { return d.findChild<QPushButton*>(QLatin1String(name)); }
QWidget* Widget(TFormYesNo& d, const char* name) { return d.findChild<QWidget*>(QLatin1String(name)); }

Seen Observe(TFormYesNo& d) {
  Seen s;
  s.visible = d.isVisible();
  s.text = Label(d, "LabelTXT")->text();
  s.upper = Button(d, "BitBtnDa")->text();
  s.lower = Button(d, "BitBtnNet")->text();
  s.focus = d.focusWidget() ? d.focusWidget()->objectName() : QString();
  s.lastAnswerAtOpen = rv::Dialog().lastAnswer.load();
  s.pos = d.pos();
  s.icon = Label(d, "ImageXX")->pixmap().toImage();
  return s;
}

// A hook that records what was shown and then answers.
TFormYesNo::AutoAnswer RecordAndAnswer(Seen& seen, int answer) {
  return [&seen, answer](TFormYesNo& d) {
    seen = Observe(d);
    return answer;
  };
}

QImage Picture(TFormYesNo& d, const char* name) { return Label(d, name)->pixmap().toImage(); }

}  // namespace

class TestQuestionDialog : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void init() {
    // A question never blocks a test: without a hook of its own it is closed by Escape.
    TFormYesNo::SetAutoAnswer([](TFormYesNo&) { return -1; });
  }
  void cleanup() { TFormYesNo::SetAutoAnswer({}); }

  // ------------------------------------------------------------ first use

  void beforeAnyChoiceFocusIsOnLowerButton() {
    Seen seen;
    TFormYesNo::SetAutoAnswer(RecordAndAnswer(seen, 1));
    QVERIFY(FormYesNo().AskYesNo(QStringLiteral("прервать обработку?"), nullptr));
    QVERIFY(seen.visible);
    QCOMPARE(seen.focus, QStringLiteral("BitBtnNet"));
    QCOMPARE(seen.upper, QStringLiteral("да"));
    QCOMPARE(seen.lower, QStringLiteral("нет"));
    QCOMPARE(seen.text, QStringLiteral("прервать обработку?"));
  }

  void singleBorderlessInstance() {
    TFormYesNo& d = FormYesNo();
    QCOMPARE(&FormYesNo(), &d);
    QCOMPARE(d.objectName(), QStringLiteral("FormYesNo"));
    QVERIFY(d.windowFlags().testFlag(Qt::FramelessWindowHint));
    QVERIFY(!d.isVisible());
  }

  // ------------------------------------------------------------ texts

  void emptyTextShowsDefaultText() {
    Seen yesNo, choice;
    TFormYesNo::SetAutoAnswer(RecordAndAnswer(yesNo, 0));
    FormYesNo().AskYesNo(QString(), nullptr);
    TFormYesNo::SetAutoAnswer(RecordAndAnswer(choice, 0));
    FormYesNo().AskChoice(QString(), QStringLiteral("ясно"), QStringLiteral("понятно"), 'n', nullptr);
    QCOMPARE(yesNo.text, kDefaultShown);
    QCOMPARE(choice.text, kDefaultShown);
  }

  void carriageReturnLineFeedBreaksTheLine() {
    Seen seen;
    TFormYesNo::SetAutoAnswer(RecordAndAnswer(seen, 0));
    FormYesNo().AskYesNo(QStringLiteral("а может не надо?\r\nразмер блока больше 100кБ.\r\nпродолжить?"), nullptr);
    QCOMPARE(seen.text, QStringLiteral("а может не надо?\nразмер блока больше 100кБ.\nпродолжить?"));
  }

  void markupInTheQuestionIsShownAsText() {
    Seen seen;
    TFormYesNo::SetAutoAnswer(RecordAndAnswer(seen, 0));
    FormYesNo().AskYesNo(QStringLiteral("<b>IDX1</b>"), nullptr);
    QCOMPARE(seen.text, QStringLiteral("<b>IDX1</b>"));
    QCOMPARE(Label(FormYesNo(), "LabelTXT")->textFormat(), Qt::PlainText);
  }

  // ------------------------------------------------------------ answers

  void upperButtonAnswersTrueLowerFalse() {
    TFormYesNo::SetAutoAnswer([](TFormYesNo& d) {
      QTest::mouseClick(Button(d, "BitBtnDa"), Qt::LeftButton);
      return 0;  // ignored: the click has closed the window
    });
    QVERIFY(FormYesNo().AskYesNo(QStringLiteral("q"), nullptr));
    QCOMPARE(int(rv::Dialog().lastAnswer.load()), 1);
    QVERIFY(!FormYesNo().isVisible());

    TFormYesNo::SetAutoAnswer([](TFormYesNo& d) {
      QTest::mouseClick(Button(d, "BitBtnNet"), Qt::LeftButton);
      return 1;
    });
    QVERIFY(!FormYesNo().AskYesNo(QStringLiteral("q"), nullptr));
    QCOMPARE(int(rv::Dialog().lastAnswer.load()), 0);
  }

  void keyboardPressesTheFocusedButton() {
    rv::Dialog().defaultAnswer = 'n';
    TFormYesNo::SetAutoAnswer([](TFormYesNo& d) {
      QTest::keyClick(d.focusWidget(), Qt::Key_Space);
      return 1;
    });
    QVERIFY(!FormYesNo().AskYesNo(QStringLiteral("q"), nullptr));
    TFormYesNo::SetAutoAnswer([](TFormYesNo& d) {
      QTest::keyClick(d.focusWidget(), Qt::Key_Space);
      return 0;
    });
    QVERIFY(FormYesNo().AskChoice(QStringLiteral("q"), QStringLiteral("продолжить"), QStringLiteral("сначала"), 'y',
                                  nullptr));
  }

  void lastAnswerIsResetWhenTheWindowOpens() {
    rv::Dialog().lastAnswer = 1;
    Seen seen;
    TFormYesNo::SetAutoAnswer(RecordAndAnswer(seen, -1));
    FormYesNo().AskYesNo(QStringLiteral("q"), nullptr);
    QCOMPARE(seen.lastAnswerAtOpen, 0);
  }

  void escapeAnswersFalse() {
    rv::Dialog().defaultAnswer = 'y';  // even with the focus on the upper button
    rv::Dialog().lastAnswer = 1;
    TFormYesNo::SetAutoAnswer([](TFormYesNo& d) {
      QTest::keyClick(&d, Qt::Key_Escape);
      return 1;  // ignored: Escape has closed the window
    });
    QVERIFY(!FormYesNo().AskYesNo(QStringLiteral("q"), nullptr));
    QCOMPARE(int(rv::Dialog().lastAnswer.load()), 0);
    QVERIFY(!FormYesNo().isVisible());

    TFormYesNo::SetAutoAnswer([](TFormYesNo&) { return -1; });
    QVERIFY(!FormYesNo().AskChoice(QStringLiteral("q"), QStringLiteral("a"), QStringLiteral("b"), 'y', nullptr));
  }

  void closingTheWindowAnswersFalse() {
    TFormYesNo::SetAutoAnswer([](TFormYesNo& d) {
      d.close();
      return 1;
    });
    QVERIFY(!FormYesNo().AskYesNo(QStringLiteral("q"), nullptr));
    QVERIFY(!FormYesNo().isVisible());
  }

  // ------------------------------------------------------------ captions and focus

  void yesNoAfterChoiceRestoresCaptionsButKeepsItsFocus() {
    Seen choice, yesNo;
    TFormYesNo::SetAutoAnswer(RecordAndAnswer(choice, 0));
    FormYesNo().AskChoice(QStringLiteral("продолжить проверку\r\nили начать сначала?"), QStringLiteral("продолжить"),
                          QStringLiteral("сначала"), 'y', nullptr);
    TFormYesNo::SetAutoAnswer(RecordAndAnswer(yesNo, 0));
    FormYesNo().AskYesNo(QStringLiteral("прервать обработку?"), nullptr);

    QCOMPARE(choice.upper, QStringLiteral("продолжить"));
    QCOMPARE(choice.lower, QStringLiteral("сначала"));
    QCOMPARE(choice.focus, QStringLiteral("BitBtnDa"));
    QCOMPARE(yesNo.upper, QStringLiteral("да"));
    QCOMPARE(yesNo.lower, QStringLiteral("нет"));
    QCOMPARE(yesNo.focus, QStringLiteral("BitBtnDa"));
    QCOMPARE(rv::Dialog().defaultAnswer, 'y');
  }

  void choiceDefaultOtherThanYFocusesLowerButton() {
    for (char given : {'n', 'x', '\0', 'Y'}) {
      Seen choice, yesNo;
      rv::Dialog().defaultAnswer = 'y';
      TFormYesNo::SetAutoAnswer(RecordAndAnswer(choice, 0));
      FormYesNo().AskChoice(QStringLiteral("q"), QStringLiteral("a"), QStringLiteral("b"), given, nullptr);
      TFormYesNo::SetAutoAnswer(RecordAndAnswer(yesNo, 0));
      FormYesNo().AskYesNo(QStringLiteral("q"), nullptr);
      QCOMPARE(rv::Dialog().defaultAnswer, 'n');
      QCOMPARE(choice.focus, QStringLiteral("BitBtnNet"));
      QCOMPARE(yesNo.focus, QStringLiteral("BitBtnNet"));
    }
  }

  void choiceCaptionsStayUntilTheNextYesNo() {
    TFormYesNo::SetAutoAnswer([](TFormYesNo&) { return 1; });
    QVERIFY(FormYesNo().AskChoice(QStringLiteral("в исходном файле индекс не найден"), QStringLiteral("ясно"),
                                  QStringLiteral("понятно"), 'y', nullptr));
    TFormYesNo& d = FormYesNo();
    QCOMPARE(Button(d, "BitBtnDa")->text(), QStringLiteral("ясно"));
    QCOMPARE(Button(d, "BitBtnNet")->text(), QStringLiteral("понятно"));
    QCOMPARE(rv::Dialog().upper, std::string("ясно"));

    Seen seen;
    TFormYesNo::SetAutoAnswer(RecordAndAnswer(seen, 0));
    d.AskYesNo(QStringLiteral("q"), nullptr);
    QCOMPARE(seen.upper, QStringLiteral("да"));
    QCOMPARE(rv::Dialog().lower, std::string("нет"));
  }

  void engineQuestionsOpenTheMatchingOperation() {
    rv::Question choice;
    choice.text = "в исходном файле индекс не найден";
    choice.choice = true;
    choice.upper = "ясно";
    choice.lower = "понятно";
    choice.defaultAnswer = 'y';
    rv::Dialog().defaultAnswer = 'n';
    Seen seen;
    TFormYesNo::SetAutoAnswer(RecordAndAnswer(seen, 1));
    QVERIFY(ShowQuestion(choice, nullptr));
    QCOMPARE(seen.text, QStringLiteral("в исходном файле индекс не найден"));
    QCOMPARE(seen.upper, QStringLiteral("ясно"));
    QCOMPARE(seen.lower, QStringLiteral("понятно"));
    QCOMPARE(seen.focus, QStringLiteral("BitBtnDa"));

    rv::Question plain;
    plain.text = "файл уже существует. перезаписать?";
    plain.defaultAnswer = 'n';  // not a choice: must not touch the stored default
    TFormYesNo::SetAutoAnswer(RecordAndAnswer(seen, 0));
    QVERIFY(!ShowQuestion(plain, nullptr));
    QCOMPARE(seen.upper, QStringLiteral("да"));
    QCOMPARE(seen.focus, QStringLiteral("BitBtnDa"));
    QCOMPARE(rv::Dialog().defaultAnswer, 'y');
  }

  void aQuestionWhileAnotherIsOpenWaitsForIt() {
    // The real modal loop: "прервать обработку?" is open when the scan's question arrives
    // (as the worker's call does, on the window thread inside that loop).
    TFormYesNo::SetAutoAnswer({});
    TFormYesNo& d = FormYesNo();
    rv::Question link;
    link.text = "кривая ссылка в потоке";
    QStringList shown;
    bool linkAnswer = true;
    bool linkReturned = false;
    auto showing = [&] { return Label(d, "LabelTXT")->text(); };
    QTimer::singleShot(20, &d, [&] {
      shown << showing();
      QTimer::singleShot(20, &d, [&] {
        // Still the first question, with the second waiting behind it.
        shown << showing();
        QVERIFY(!linkReturned);
        Button(d, "BitBtnDa")->click();
        QTimer::singleShot(20, &d, [&] {
          shown << (d.isVisible() ? showing() : QString());
          Button(d, "BitBtnNet")->click();
        });
      });
      linkAnswer = ShowQuestion(link, nullptr);
      linkReturned = true;
    });
    const bool stopAnswer = d.AskYesNo(QStringLiteral("прервать обработку?"), nullptr);
    QVERIFY(linkReturned);
    QCOMPARE(shown, (QStringList{"прервать обработку?", "прервать обработку?", "кривая ссылка в потоке"}));
    // Each question keeps its own answer.
    QVERIFY(stopAnswer);
    QVERIFY(!linkAnswer);
    QVERIFY(!d.isVisible());
  }

  // ------------------------------------------------------------ icon

  void iconsAreDistinctPictures() {
    TFormYesNo& d = FormYesNo();
    const QImage q = Picture(d, "ImageQ"), r = Picture(d, "ImageR"), b = Picture(d, "ImageB"),
                 y = Picture(d, "ImageY");
    for (const QImage& icon : {q, r, b, y}) QCOMPARE(icon.size(), QSize(40, 40));
    QVERIFY(q != r && q != b && q != y && r != b && r != y && b != y);
    for (const char* name : {"ImageQ", "ImageR", "ImageB", "ImageY", "ImageGLI"})
      QVERIFY2(Label(d, name)->isHidden(), name);
    QCOMPARE(Picture(d, "ImageGLI").size(), QSize(60, 40));
  }

  void doubleClickedIconStaysForLaterQuestions() {
    TFormYesNo& d = FormYesNo();
    rv::Dialog().iconLetter = 'q';
    Seen first, second;
    TFormYesNo::SetAutoAnswer([&first](TFormYesNo& dlg) {
      QTest::mouseDClick(Label(dlg, "ImageXX"), Qt::LeftButton);
      first = Observe(dlg);
      return 0;
    });
    d.AskYesNo(QStringLiteral("q"), nullptr);
    QCOMPARE(rv::Dialog().iconLetter, 'r');
    QCOMPARE(first.icon, Picture(d, "ImageR"));

    TFormYesNo::SetAutoAnswer(RecordAndAnswer(second, 0));
    d.AskChoice(QStringLiteral("q"), QStringLiteral("a"), QStringLiteral("b"), 'n', nullptr);
    QCOMPARE(second.icon, Picture(d, "ImageR"));
    QCOMPARE(Label(d, "ImageXX")->pixmap().toImage(), Picture(d, "ImageR"));  // also while closed
  }

  void doubleClicksCycleThroughTheFourIcons() {
    TFormYesNo& d = FormYesNo();
    rv::Dialog().iconLetter = 'q';
    QString letters;
    QList<QImage> shown;
    TFormYesNo::SetAutoAnswer([&](TFormYesNo& dlg) {
      for (int i = 0; i < 4; ++i) {
        QTest::mouseDClick(Label(dlg, "ImageXX"), Qt::LeftButton);
        letters += QLatin1Char(rv::Dialog().iconLetter);
        shown.append(Label(dlg, "ImageXX")->pixmap().toImage());
      }
      return 0;
    });
    d.AskYesNo(QStringLiteral("q"), nullptr);
    QCOMPARE(letters, QStringLiteral("rbyq"));
    QCOMPARE(shown.size(), 4);
    QCOMPARE(shown[0], Picture(d, "ImageR"));
    QCOMPARE(shown[1], Picture(d, "ImageB"));
    QCOMPARE(shown[2], Picture(d, "ImageY"));
    QCOMPARE(shown[3], Picture(d, "ImageQ"));
  }

  void iconLetterIsShownWhenTheWindowOpens() {
    rv::Dialog().iconLetter = 'y';  // changed behind the window's back
    Seen seen;
    TFormYesNo::SetAutoAnswer(RecordAndAnswer(seen, 0));
    FormYesNo().AskYesNo(QStringLiteral("q"), nullptr);
    QCOMPARE(seen.icon, Picture(FormYesNo(), "ImageY"));
    rv::Dialog().iconLetter = 'q';
  }

  // ------------------------------------------------------------ placement

  void centredOverTheOwnersWindow_data() {
    QTest::addColumn<QRect>("owner");
    QTest::addColumn<QPoint>("expected");
    QTest::newRow("larger owner") << QRect(100, 100, 600, 400) << QPoint(210, 256);
    QTest::newRow("odd difference") << QRect(0, 0, 501, 301) << QPoint(60, 106);
    // Smaller than the dialog: the halves round toward zero, not down.
    QTest::newRow("smaller owner") << QRect(0, 0, 101, 51) << QPoint(-139, -18);
  }
  void centredOverTheOwnersWindow() {
    QFETCH(QRect, owner);
    QFETCH(QPoint, expected);
    QWidget window(nullptr, Qt::FramelessWindowHint);
    window.setGeometry(owner);
    auto* child = new QWidget(&window);  // a control of the owner stands for its window
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.frameGeometry(), owner);

    Seen seen;
    TFormYesNo::SetAutoAnswer(RecordAndAnswer(seen, 0));
    FormYesNo().AskYesNo(QStringLiteral("q"), child);
    QCOMPARE(seen.pos, expected);
  }

  void centredOnTheScreenWithoutOwner() {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    Seen seen;
    TFormYesNo::SetAutoAnswer(RecordAndAnswer(seen, 0));
    FormYesNo().AskYesNo(QStringLiteral("q"), nullptr);
    QCOMPARE(seen.pos, QPoint((screen.width() - 380) / 2, (screen.height() - 88) / 2));
  }

  // ------------------------------------------------------------ layout

  void standardGeometry() {
    TFormYesNo& d = FormYesNo();
    QCOMPARE(d.size(), QSize(380, 88));
    QCOMPARE(Widget(d, "BitBtnDa")->geometry(), QRect(267, 16, 97, 25));
    QCOMPARE(Widget(d, "BitBtnNet")->geometry(), QRect(267, 49, 97, 25));
    QCOMPARE(Widget(d, "PaintBoxR")->geometry(), QRect(251, 2, 127, 84));
    QCOMPARE(Widget(d, "LabelTXT")->geometry(), QRect(72, 8, 171, 72));
    QCOMPARE(Widget(d, "ImageXX")->geometry(), QRect(16, 24, 40, 40));
    QCOMPARE(Label(d, "LabelTXT")->text(), kRest);
  }

  void resizeRelaysAndClosingRestores() {
    TFormYesNo& d = FormYesNo();
    QRect da, net, box, text, icon;
    TFormYesNo::SetAutoAnswer([&](TFormYesNo& dlg) {
      dlg.resize(500, 120);
      da = Widget(dlg, "BitBtnDa")->geometry();
      net = Widget(dlg, "BitBtnNet")->geometry();
      box = Widget(dlg, "PaintBoxR")->geometry();
      text = Widget(dlg, "LabelTXT")->geometry();
      icon = Widget(dlg, "ImageXX")->geometry();
      return 0;
    });
    d.AskYesNo(QStringLiteral("вопрос"), nullptr);
    QCOMPARE(da, QRect(387, 16, 97, 25));
    QCOMPARE(net, QRect(387, 49, 97, 25));
    QCOMPARE(box, QRect(371, 2, 127, 116));
    QCOMPARE(text, QRect(72, 8, 291, 104));
    QCOMPARE(icon, QRect(16, 40, 40, 40));

    standardGeometry();  // everything back after closing, the text included
  }

  // ------------------------------------------------------------ painting

  void raisedFrameAndTiledTexture() {
    TFormYesNo& d = FormYesNo();
    QImage shot;
    TFormYesNo::SetAutoAnswer([&shot](TFormYesNo& dlg) {
      shot = dlg.grab().toImage();
      return 0;
    });
    d.AskYesNo(QStringLiteral("q"), nullptr);
    QCOMPARE(shot.size(), QSize(380, 88));
    const int w = shot.width(), h = shot.height();
    auto at = [&shot](int x, int y) { return QColor(shot.pixel(x, y)).rgb() & 0xFFFFFF; };
    // outer line: light grey left and top, black right and bottom
    QCOMPARE(at(w / 2, 0), 0xE0E0E0u);
    QCOMPARE(at(0, h / 2), 0xE0E0E0u);
    QCOMPARE(at(w - 1, h / 2), 0x000000u);
    QCOMPARE(at(w / 2, h - 1), 0x000000u);
    // inner line: white left and top, grey right and bottom
    QCOMPARE(at(w / 3, 1), 0xFFFFFFu);
    QCOMPARE(at(1, h / 2), 0xFFFFFFu);
    QCOMPARE(at(w - 2, h / 2), 0x808080u);
    QCOMPARE(at(w / 3, h - 2), 0x808080u);
    // silver inside
    QCOMPARE(at(4, 4), 0xC0C0C0u);

    // PaintBoxR (left 251, top 2) repeats the texture every 60 pixels across and 40 down.
    const QImage tile = Picture(d, "ImageGLI");
    for (QPoint p : {QPoint(0, 0), QPoint(5, 3), QPoint(59, 13)}) {
      const QRgb expected = tile.pixel(p) & 0xFFFFFF;
      QCOMPARE(at(251 + p.x(), 2 + p.y()), expected);
      QCOMPARE(at(251 + 60 + p.x(), 2 + p.y()), expected);
      QCOMPARE(at(251 + p.x() % 16, 2 + 40 + p.y()), tile.pixel(p.x() % 16, p.y()) & 0xFFFFFF);
    }
  }

  // ------------------------------------------------------------ dragging

  void pressingTextOrBackgroundDragsTheWindow() {
    TFormYesNo& d = FormYesNo();
    QPoint before, afterText, afterBackground, afterIcon;
    TFormYesNo::SetAutoAnswer([&](TFormYesNo& dlg) {
      before = dlg.pos();
      QLabel* text = Label(dlg, "LabelTXT");
      QTest::mousePress(text, Qt::LeftButton, {}, QPoint(10, 10));
      QTest::mouseMove(text, QPoint(40, 30));
      QTest::mouseRelease(text, Qt::LeftButton, {}, QPoint(40, 30));
      afterText = dlg.pos();

      QTest::mousePress(&dlg, Qt::LeftButton, {}, QPoint(5, 5));
      QTest::mouseMove(&dlg, QPoint(0, 15));
      QTest::mouseRelease(&dlg, Qt::LeftButton, {}, QPoint(0, 15));
      afterBackground = dlg.pos();

      QLabel* icon = Label(dlg, "ImageXX");
      QTest::mousePress(icon, Qt::LeftButton, {}, QPoint(5, 5));
      QTest::mouseMove(icon, QPoint(30, 30));
      QTest::mouseRelease(icon, Qt::LeftButton, {}, QPoint(30, 30));
      afterIcon = dlg.pos();
      return 0;
    });
    d.AskYesNo(QStringLiteral("q"), nullptr);
    QCOMPARE(afterText, before + QPoint(30, 20));
    QCOMPARE(afterBackground, afterText + QPoint(-5, 10));
    QCOMPARE(afterIcon, afterBackground);
  }
};

QTEST_MAIN(TestQuestionDialog)
#include "test_question_dialog.moc"
