// The command paths of the save entry, the join and keyframe tabs and the header panels: each
// reaches the engine with what its controls hold and shows what the task reports back.
#include "check/bad_blocks.h"
#include "check/index.h"
#include "check/side_files.h"
#include "decode/keyframes.h"
#include "gui/join/join_tab.h"
#include "gui/keyframes/keyframe_tab.h"
#include "gui/main_window/header_panels.h"
#include "gui/main_window/save_entry.h"
#include "gui_fixture.h"
#include "join/join.h"
#include "output/naming.h"
#include "output/writer.h"
#include "riff/header.h"
#include "riff/source.h"

using rvt::Find;
using rvt::U;

class TestTabs : public QObject {
  Q_OBJECT
  rvt::GuiFixture fx_{"gui_tabs"};

 private Q_SLOTS:
  void init() { fx_.Reset(); }
  void cleanup() {
    QVERIFY(fx_.StopAndWait());
    FormMI().hide();
    QCOMPARE(fx_.dialogsShown, 0);
  }

  // 300 zero bytes inside three video chunks: the save waits for a check, the hammer cuts the
  // zeros, the check goes on by itself, and the save writes every chunk.
  void aRepairThroughTheWindows() {
    const rvt::StandardAvi avi = rvt::MakeStandardAvi();
    rvt::Bytes damaged = avi.bytes;
    for (size_t k : {14, 8, 2})
      rvt::InsertAt(damaged, avi.chunks[k].offset + 108, rvt::Filled(300, 0));
    const std::string src = fx_.Dir().Write("damaged.avi", damaged), out = rv::makeOutFN(src);
    TFormMain& w = fx_.NewWindow();
    w.AttachStreamCheckWindow(FormMI());
    w.FileChosen(QString::fromStdString(src));
    w.BitBtnGO->click();
    w.ImageSA->click();
    QCOMPARE(rvt::Lines(w.MemoST->toPlainText()).last(), U(save_entry::kCheckStreamFirst));
    QVERIFY(!rv::FileExists(out));

    QSignalSpy checked(&w, &TFormMain::checkFinished);
    rv::SetAlwaysAnswer(1);
    w.BitBtnIDX1->click();
    FormMI().ImageGO->click();
    QTRY_VERIFY_WITH_TIMEOUT(checked.count() == 1 && !rv::WorkerExists(), 20000);
    QCOMPARE(rv::BadBlocks().size(), size_t(3));
    FormMI().ImageHAMMER->click();
    QCOMPARE(FormMI().windowTitle(), U(TFormMI::kContinuingAfterCuts));
    QTRY_VERIFY_WITH_TIMEOUT(checked.count() == 2 && !rv::WorkerExists(), 20000);
    rv::SetAlwaysAnswer(-1);
    QCOMPARE(FormMI().LabelPTR->text(), U(TFormMI::kContinuedAfterCuts));
    QCOMPARE(w.ImageSA->PictureName(), QString("ImageGF"));

    QSignalSpy done(&w, &TFormMain::taskCompleted);
    w.ImageSA->click();
    QTRY_VERIFY_WITH_TIMEOUT(done.count() == 1, 20000);
    QVERIFY(rv::AskedQuestions().empty());  // a new file: no question
    QVERIFY(rv::LastWrite().complete);
    QCOMPARE(rv::LastWrite().chunksWritten, avi.chunks.size());
    QCOMPARE(rvt::Lines(w.MemoST->toPlainText()).last(),
             U("• сохранено: ") + QString::fromStdString(out) +
                 QString(", записано блоков %1 из %1").arg(avi.chunks.size()));
    QCOMPARE(rvt::ReadFile(src), damaged);  // the source untouched
    rv::PushScriptedAnswer(false);          // an existing output is replaced only after "yes"
    w.ImageSA->click();
    QCOMPARE(rv::AskedQuestions().back(), std::string(save_entry::kOverwriteQuestion));
    QVERIFY(!rv::WorkerExists());
  }

  void theJoinTabStartsFollowsAndStopsTheJoin() {
    TFormMain& w = fx_.NewWindow();
    JoinTab& tab = *w.JoinPage();
    tab.SetFileChooser([](const QString&) { return QStringList{"/d/a.avi", "/d/b.avi"}; });
    tab.BitBtnSUM->click();
    QCOMPARE(tab.LabelME->text(), U("нечего клеить. добавьте файлы в список"));
    tab.BitBtnADD->click();  // as N1: the first file proposes the output name, old hints go
    QCOMPARE(w.LastDir(), QString("/d"));
    QCOMPARE(tab.EditSUM->text().toStdString(), rv::JoinedName("/d/a.avi"));
    QVERIFY(tab.LabelME->text().isEmpty());
    tab.EditSUM->clear();
    tab.BitBtnSUM->click();
    QVERIFY(tab.LabelME->text().startsWith(U("укажите имя выходного файла")));
    tab.EditSUM->setText(QString::fromStdString(fx_.Dir().File("joined.avi")));
    std::atomic<bool> running{false};
    std::vector<std::string> files;
    rv::SetTaskRoutine("doJOIN", [&] {
      files = rv::Join().files;
      rv::Join().SetStatus("файл 1 из 2");
      rv::Join().gaugeVisible = true;
      for (running = true; !rv::StopRequested();) std::this_thread::sleep_for(1ms);
      rv::Join().gaugeVisible = false;
      rv::Join().SetStatus("прервано пользователем");
      return false;
    });
    QSignalSpy done(&w, &TFormMain::taskCompleted);
    tab.BitBtnSUM->click();
    QTRY_COMPARE(tab.LabelME->text(), U("файл 1 из 2"));
    QTRY_VERIFY(!tab.GaugeZ->isHidden() && !tab.ImageZ->isHidden());
    QCOMPARE(files, (std::vector<std::string>{"/d/a.avi", "/d/b.avi"}));
    tab.ImageZ->click();  // no question
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(tab.LabelME->text(), U("прервано пользователем"));
    QVERIFY(tab.ImageZ->isHidden() && tab.GaugeZ->isHidden() && rv::AskedQuestions().empty());
  }

  void theKeyframeTabLoadsTheIndexAndRunsTheSearch() {
    TFormMain& w = fx_.NewWindow();
    KeyframeTab& tab = *w.KeyframePage();
    QLabel* io = Find<QLabel>(&w, "LabelIO");
    fx_.Open(fx_.Dir().Write("kk.avi", rvt::MakeStandardAvi().bytes));
    tab.BitBtnPL->click();  // no index yet: says one is needed, starts nothing
    QVERIFY(io->text().startsWith(U("для поиска нужен индекс")) && !rv::WorkerExists());
    tab.BitBtnLI->click();
    QCOMPARE(rv::Index().count, rvt::MakeStandardAvi().index.size());
    QCOMPARE(io->text(), U("загружено записей индекса: %1").arg(rv::Index().count));
    std::atomic<bool> running{false};
    rv::SetTaskRoutine("findKK", [&] {
      rv::Keyframes().SetText("LabelIO", "подготовка к работе");
      for (running = true; !rv::StopRequested();) std::this_thread::sleep_for(1ms);
      rv::Keyframes().SetText("LabelIO", "прервано пользователем");
      rv::Keyframes().keyframes = 3;
      return true;
    });
    QSignalSpy done(&w, &TFormMain::taskCompleted);
    tab.ComboKK->setEditText("ZZZZ");
    tab.BitBtnPL->click();
    QTRY_COMPARE(io->text(), U("подготовка к работе"));
    QCOMPARE(rv::Keyframes().Choice(), std::string("ZZZZ"));
    tab.ImageStop->click();  // no question
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(done.at(0).at(0).toInt(), 103);
    QCOMPARE(io->text(), U("прервано пользователем. найдено опорных кадров: 3"));  // kept
    QVERIFY(tab.ImageStop->isHidden() && rv::AskedQuestions().empty());
  }

  void aHeaderPanelAppliesItsFieldsOnlyWithoutATask() {
    TFormMain& w = fx_.NewWindow();
    fx_.Open(fx_.Dir().Write("hdr.avi", rvt::MakeStandardAvi().bytes));
    HeaderPanels& panels = *w.Panels();
    w.TreeRIFF->setCurrentItem(rvt::TreeLine(w.TreeRIFF, "'avih'"));
    panels.MIavih->trigger();
    HeaderPanel* p = panels.PanelAVIH;
    QVERIFY(!p->isHidden());
    QCOMPARE(p->Edit("EditATBF")->text(), QString("40000"));
    p->Edit("EditATBF")->setText("20000");
    std::atomic<bool> running{false};
    rv::SetTaskRoutine("createIDX1", rvt::UntilStopped(running, false));
    QVERIFY(w.StartTask("createIDX1"));
    QVERIFY(!panels.ImageAASClick());  // refused while a task runs
    QCOMPARE(rv::Header().avih.TimeBetweenFrames, 40000u);
    QVERIFY(fx_.StopTask());
    p->ApplyButton()->click();
    QVERIFY(p->isHidden());
    QCOMPARE(rv::Header().avih.TimeBetweenFrames, 20000u);
    QCOMPARE(w.TreeRIFF->findItems("TimeBetweenFrames = ", Qt::MatchStartsWith | Qt::MatchRecursive)
                 .size(),
             1);
    QVERIFY(rvt::TreeLine(w.TreeRIFF, "TimeBetweenFrames = 20000"));
    w.TreeRIFF->setCurrentItem(rvt::TreeLine(w.TreeRIFF, "'avih'"));
    w.TreeRIFFDblClick();  // a double-click on the line of a record opens its editor
    QVERIFY(!p->isHidden());

    // After a reconstruction the format blocks open the panel of their stream's kind.
    QSignalSpy done(&w, &TFormMain::taskCompleted);
    w.BitBtnREC->click();
    QTRY_VERIFY_WITH_TIMEOUT(done.count() == 1, 20000);
    const auto formats = w.TreeRIFF->findItems("'strf'", Qt::MatchStartsWith | Qt::MatchRecursive);
    QCOMPARE(formats.size(), 2);
    for (int i = 0; i < 2; ++i) {
      w.TreeRIFF->setCurrentItem(formats[i]);
      panels.PopupRIFFPopup();
      QCOMPARE(panels.MIvstrf->isVisible() + 2 * panels.MIastrf->isVisible(), i + 1);
    }
  }
};

QTEST_MAIN(TestTabs)
#include "test_tabs.moc"
