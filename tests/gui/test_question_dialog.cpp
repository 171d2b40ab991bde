// The question dialog: which button answers what, and a question that arrives while another
// is open waits for it and keeps its own answer.
#include "gui_fixture.h"

using rvt::Find;

class TestQuestionDialog : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void cleanup() { TFormYesNo::SetAutoAnswer({}); }

  void eachWayOfClosingGivesItsAnswer() {
    struct Case {
      const char* name;
      std::function<void(TFormYesNo&)> act;
      bool answer;
    };
    const Case cases[] = {
        {"upper button", [](TFormYesNo& d) { Find<QPushButton>(&d, "BitBtnDa")->click(); }, true},
        {"lower button", [](TFormYesNo& d) { Find<QPushButton>(&d, "BitBtnNet")->click(); }, false},
        {"space on the focused button",
         [](TFormYesNo& d) { QTest::keyClick(d.focusWidget(), Qt::Key_Space); }, true},
        {"escape", [](TFormYesNo& d) { QTest::keyClick(&d, Qt::Key_Escape); }, false},
        {"closing the window", [](TFormYesNo& d) { d.close(); }, false},
    };
    for (const Case& c : cases) {
      rv::Dialog().defaultAnswer = 'y';
      TFormYesNo::SetAutoAnswer([&c](TFormYesNo& d) {
        c.act(d);
        return c.answer ? 0 : 1;  // ignored: the action has closed the window
      });
      QVERIFY2(FormYesNo().AskYesNo(QStringLiteral("q"), nullptr) == c.answer, c.name);
      QVERIFY2(rv::Dialog().lastAnswer.load() == int(c.answer), c.name);
      QVERIFY(!FormYesNo().isVisible());
    }
  }

  void aQuestionWhileAnotherIsOpenWaitsForIt() {
    // The real modal loop: "прервать обработку?" is open when the scan's question arrives (as
    // the worker's call does, on the window thread inside that loop).
    TFormYesNo& d = FormYesNo();
    auto showing = [&] { return d.isVisible() ? Find<QLabel>(&d, "LabelTXT")->text() : QString(); };
    rv::Question link;
    link.text = "кривая ссылка в потоке";
    QStringList shown;
    bool linkAnswer = true, linkReturned = false;
    QTimer::singleShot(20, &d, [&] {
      shown << showing();
      QTimer::singleShot(20, &d, [&] {
        shown << showing();  // still the first question, the second waiting behind it
        QVERIFY(!linkReturned);
        Find<QPushButton>(&d, "BitBtnDa")->click();
        QTimer::singleShot(20, &d, [&] {
          shown << showing();
          Find<QPushButton>(&d, "BitBtnNet")->click();
        });
      });
      linkAnswer = ShowQuestion(link, nullptr);
      linkReturned = true;
    });
    const bool stopAnswer = d.AskYesNo(QStringLiteral("прервать обработку?"), nullptr);
    QVERIFY(linkReturned);
    QCOMPARE(shown,
             (QStringList{"прервать обработку?", "прервать обработку?", "кривая ссылка в потоке"}));
    QVERIFY(stopAnswer && !linkAnswer && !d.isVisible());
  }
};

QTEST_MAIN(TestQuestionDialog)
#include "test_question_dialog.moc"
