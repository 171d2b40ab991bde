// The stream-check window's wiring: a check started with ImageGO fills the grid, the second
// start asks continue or anew, the stop and close rules, the two modes, the hammer and the row
// menu.
#include "app/task_table.h"
#include "check/bad_blocks.h"
#include "check/index.h"
#include "check/scanner.h"
#include "gui/main_window/save_entry.h"
#include "gui/stream_check/stream_check_window.h"
#include "gui_fixture.h"
#include "riff/source.h"

namespace {

using rvt::U;

// A small AVI whose second video chunk (600 bytes) is followed by 100 zero bytes, so that its
// size does not lead to the next block; five chunks in its movi list.
struct Sample {
  std::string path;
  uint32_t moviPos = 0, badAt = 0;
};

Sample WriteSample(const rvt::TempDir& dir, const char* name, bool damaged) {
  using namespace rvt;
  Bytes unrepeated(600);
  for (size_t j = 0; j < unrepeated.size(); ++j) unrepeated[j] = uint8_t(j % 251 + 1);
  std::vector<Node> movi = {Chunk("00dc", Pattern(400, 1)), Chunk("01wb", Pattern(200, 2)),
                            Chunk("00dc", unrepeated).Label("bad")};
  if (damaged) movi.push_back(Raw(Filled(100, 0)));
  movi.push_back(Chunk("01wb", Pattern(200, 3)));
  movi.push_back(Chunk("00dc", Pattern(300, 4)));
  std::vector<Node> top = {
      List("hdrl", {Chunk("avih", AvihPayload({})),
                    List("strl", {Chunk("strh", StrhPayload("vids", "XVID", {})),
                                  Chunk("strf", VideoStrf(320, 240, "XVID"))})}),
      List("movi", std::move(movi)).Label("movi")};
  top.push_back(Chunk("idx1", Idx1({{"00dc", 0x10, 4, 400}})));
  const Image img = Build(Riff("AVI ", std::move(top)));
  return {dir.Write(name, img.bytes), img.Offset("movi") + 8, img.Offset("bad")};
}

QStringList Row(int row) {
  QStringList cells;
  for (int c = 0; c < 9; ++c)
    cells << (FormMI().StringER->item(row, c) ? FormMI().StringER->item(row, c)->text()
                                              : QString("<none>"));
  return cells;
}

bool CheckEnded() { return !rv::WorkerExists() && FormMI().GoState() == TFormMI::kStateStart; }

}  // namespace

class TestStreamCheck : public QObject {
  Q_OBJECT
  rvt::GuiFixture fx_{"gui_check"};
  Sample damaged_;
  TFormMain* w_ = nullptr;

  QStringList BadRow() const {
    return {"1",
            "2",
            "00dc",
            QString::number(damaged_.badAt),
            QString::number(damaged_.badAt - damaged_.moviPos),
            "600",
            "700",
            "100",
            "100(00) at 608"};
  }
  // Reads the damaged sample, opens the window in the creation mode and runs a check to its end.
  void RunCheck() {
    fx_.Open(damaged_.path);
    w_->BitBtnIDX1->click();
    FormMI().ImageGO->click();
    QTRY_VERIFY_WITH_TIMEOUT(CheckEnded(), 20000);
  }

 private Q_SLOTS:
  void initTestCase() { damaged_ = WriteSample(fx_.Dir(), "damaged.avi", true); }
  void init() {
    fx_.Reset();
    w_ = &fx_.NewWindow();
    w_->AttachStreamCheckWindow(FormMI());
    w_->CheckFI->setChecked(true);
    rv::CloseCheckWindowFlag() = 0;
  }
  void cleanup() {
    QVERIFY(fx_.StopAndWait());
    FormMI().PanelEX->hide();
    FormMI().hide();
    FormMI().setWindowTitle(QString());
    FormDU().hide();
    rv::ClearExclusions();
    QCOMPARE(fx_.dialogsShown, 0);
  }

  void aCheckFillsTheGridAndAsksContinueOrAnewTheSecondTime() {
    RunCheck();
    TFormMI& mi = FormMI();
    QCOMPARE(mi.windowTitle(), U(TFormMI::kCreateCaption));
    QCOMPARE(mi.ImageGO->PictureName(), QStringLiteral("ImageST2"));
    QCOMPARE(mi.StringER->rowCount(), 2);
    QCOMPARE(Row(1), BadRow());
    QVERIFY(mi.isVisible() && w_->BitBtnFSD->isEnabled());
    QVERIFY(rv::AskedQuestions().empty());

    rv::PushScriptedAnswer(false);  // "сначала": the lists start anew
    rv::BadBlocks().push_back(rv::BadBlocks().front());
    mi.ImageGO->click();
    QCOMPARE(rv::AskedQuestions().back(), std::string(TFormMI::kContinueQuestion));
    QCOMPARE(rv::Dialog().defaultAnswer, 'n');
    QTRY_VERIFY_WITH_TIMEOUT(CheckEnded(), 20000);
    QCOMPARE(rv::BadBlocks().size(), size_t(1));
    rv::PushScriptedAnswer(true);  // "продолжить": from the last entry on
    mi.ImageGO->click();
    QCOMPARE(rv::Index().continueCheck, 'y');
    QTRY_VERIFY_WITH_TIMEOUT(CheckEnded(), 20000);
    QCOMPARE(Row(1), BadRow());
  }

  void stopAndCloseRules() {
    fx_.Open(damaged_.path);
    std::atomic<int> steps{0};
    rv::SetTaskRoutine("createIDX1", [&] {
      for (; !rv::StopRequested(); ++steps)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      return false;
    });
    w_->BitBtnIDX1->click();
    TFormMI& mi = FormMI();
    mi.ImageGO->click();
    QCOMPARE(mi.GoState(), QString(TFormMI::kStateStop));
    mi.close();  // refused while the task runs, and says so
    QVERIFY(mi.isVisible());
    QCOMPARE(mi.windowTitle(), U(TFormMI::kStopFirst));
    rv::PushScriptedAnswer(false);
    mi.ImageGO->click();
    QCOMPARE(rv::AskedQuestions().back(), std::string(TFormMI::kStopQuestion));
    const int before = steps;
    QTRY_VERIFY(steps > before + 5);
    rv::PushScriptedAnswer(true);
    mi.ImageGO->click();
    QTRY_VERIFY_WITH_TIMEOUT(CheckEnded(), 20000);
    QVERIFY(mi.isVisible());
    QVERIFY(mi.close());

    // A check that finds nothing closes the window by itself.
    fx_.Reset();
    fx_.Open(WriteSample(fx_.Dir(), "clean.avi", false).path);
    w_->BitBtnIDX1->click();
    mi.ImageGO->click();
    QTRY_VERIFY_WITH_TIMEOUT(!mi.isVisible(), 20000);
  }

  void theModesAndWhatTheyRefuse() {
    fx_.Open(damaged_.path);
    rv::SetTaskRoutine("verifyIDX1", [] { return true; });
    w_->BitBtnIDX->click();  // the verification starts at once, without the repairs
    TFormMI& mi = FormMI();
    QCOMPARE(mi.windowTitle(), U(TFormMI::kVerifyCaption));
    QCOMPARE(rv::TaskCommand(), std::string("verifyIDX1"));
    for (QWidget* c :
         std::initializer_list<QWidget*>{mi.CheckSA, mi.EditSE, mi.RadioEQ, mi.CheckZR, mi.EditMS})
      QVERIFY2(!c->isEnabled(), qPrintable(c->objectName()));
    QVERIFY(mi.ImageHAMMER->isHidden());
    QTRY_VERIFY_WITH_TIMEOUT(CheckEnded(), 20000);
    mi.close();
    w_->BitBtnIDX1->click();
    QVERIFY(!mi.ImageHAMMER->isHidden() && mi.EditSE->isEnabled());
    mi.close();

    fx_.Open(fx_.Dir().Write("nomovi.avi",
                             rvt::Build(rvt::Riff("AVI ", {rvt::List("hdrl", {})})).bytes));
    w_->BitBtnIDX1->click();
    mi.ImageGO->click();
    QCOMPARE(mi.windowTitle(), U(TFormMI::kNoStream));
    QVERIFY(!rv::WorkerExists());
  }

  void theHammerCutsTheRunAndTheCheckGoesOn() {
    RunCheck();
    TFormMI& mi = FormMI();
    const rv::BadBlock b = rv::BadBlocks()[0];
    QVERIFY(mi.RadioEQ->isChecked());
    rv::SetTaskRoutine("createIDX1", [] { return false; });  // the check after the cut gets nowhere
    mi.ImageHAMMER->click();
    QVERIFY(rv::BadBlocks().empty());
    QCOMPARE(rv::Exclusions().size(), size_t(1));
    QCOMPARE(rv::Exclusions()[0].offset, b.FileOffset + b.RepeatStart);
    QVERIFY(!mi.ImageEX->isHidden() && !mi.CheckSA->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(CheckEnded(), 20000);
    QCOMPARE(mi.LabelPTR->text(), U(TFormMI::kNotContinuedAfterCuts));
    mi.ImageEX->click();  // the exclusion list
    QCOMPARE(mi.StringEX->rowCount(), 2);
    QCOMPARE(mi.StringEX->item(1, 2)->text(), QString::number(b.FileOffset + b.RepeatStart));
  }

  // Both windows say what the check found and the main window what the hammer did; a check
  // that ends early says why and what next, and so does the save after it.
  void theCheckAndTheHammerSayWhatTheyDid() {
    RunCheck();
    TFormMI& mi = FormMI();
    const QString found = U("поток проверен до конца; записей в индексе: 5, битых блоков: 1");
    QCOMPARE(mi.LabelEND->text(), found);
    QVERIFY(!mi.LabelEND->isHidden());
    QTRY_COMPARE(rvt::Lines(w_->MemoST->toPlainText()).last(), U("• ") + found);
    rv::SetTaskRoutine("createIDX1", [] { return false; });
    for (const char* minRun : {"1000", "100"}) {
      mi.EditMS->setText(minRun);  // runs of 1000 bytes: none, so nothing to do
      mi.ImageHAMMER->click();
      QTRY_VERIFY_WITH_TIMEOUT(CheckEnded(), 20000);
    }
    QTRY_VERIFY(rvt::Lines(w_->MemoST->toPlainText()).contains(U(TFormMI::kHammerNothing)));
    QVERIFY(rvt::Lines(w_->MemoST->toPlainText())
                .contains(U(TFormMI::kHammerDone) +
                          U("1, вырезано фрагментов: 1, осталось в списке: 0")));

    rv::InstallTaskRoutines();
    fx_.Open(damaged_.path);
    QVERIFY(mi.LabelEND->isHidden());  // nothing of the old check stays
    mi.CheckHI->setChecked(false);     // slow enough to be stopped on the way
    mi.ImageGO->click();
    QVERIFY(fx_.StopTask());
    QTRY_VERIFY_WITH_TIMEOUT(CheckEnded(), 20000);
    QVERIFY(mi.LabelEND->text().startsWith(U("проверка прервана; записей в индексе: ")));
    QVERIFY(mi.LabelEND->text().contains(U("можно продолжить проверку")));
    w_->ImageSA->click();
    QCOMPARE(rvt::Lines(w_->MemoST->toPlainText()).last(), U(save_entry::kCheckEndedEarly));
    mi.CheckHI->setChecked(true);
  }

  void theRowMenuFollowsTheRowAndTheTask() {
    RunCheck();
    TFormMI& mi = FormMI();
    const QList<QAction*> commands = {mi.MIdump,     mi.MIremofix, mi.MIremonofix,
                                      mi.MIremoscan, mi.MIfix,     mi.MIleave};
    mi.StringER->selectRow(1);
    mi.PopupERPopup();
    for (QAction* a : commands) QVERIFY2(a->isEnabled(), qPrintable(a->objectName()));
    mi.MIdump->trigger();
    QCOMPARE(FormDU().Base(), damaged_.badAt);

    std::atomic<bool> running{false};
    rv::SetTaskRoutine("findKK", rvt::UntilStopped(running));
    QVERIFY(w_->StartTask("findKK"));
    mi.PopupERPopup();
    for (QAction* a : commands) QVERIFY2(!a->isEnabled(), qPrintable(a->objectName()));
    mi.MIfixClick();  // refused while a task runs
    QCOMPARE(rv::BadBlocks().size(), size_t(1));
    QVERIFY(fx_.StopTask());

    const rv::BadBlock b = rv::BadBlocks()[0];
    mi.StringER->selectRow(1);
    mi.MIfixClick();  // the index entry takes the real size; nothing is cut
    QVERIFY(rv::BadBlocks().empty() && rv::Exclusions().empty());
    QCOMPARE(rv::Index().entries[b.EntryIndex].dwChunkLength, b.RealSize);
  }
};

QTEST_MAIN(TestStreamCheck)
#include "test_stream_check.moc"
