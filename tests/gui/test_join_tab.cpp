// The join tab: a join of two ffmpeg-made files started from the tab, the messages of an empty
// list and of the name proposal, the drag rule, the overwrite question, the list menu, the
// notice, and the status line and gauge following a running task that is stopped by ImageZ.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "core/config.h"
#include "gui/common/gui_host.h"
#include "gui/main_window/main_window.h"
#include "gui/common/widgets.h"
#include "core/questions.h"
#include "core/task_routines.h"
#include "core/tasks.h"
#include "fixtures/avi_builder.h"
#include "fixtures/ffmpeg_sample.h"
#include "gui/join/join_tab.h"
#include "join/join.h"
#include "gui/common/question_dialog.h"

namespace {

using namespace std::chrono_literals;

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// The number of video frames ffprobe reads from a file; -1 when it cannot tell.
int VideoFrames(const std::string& path) {
  const std::string cmd = "ffprobe -v error -select_streams v:0 -count_packets -show_entries "
                          "stream=nb_read_packets -of csv=p=0 " +
                          rvt::ShellQuote(path) + " 2>/dev/null";
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return -1;
  char buf[64] = {};
  const bool got = std::fgets(buf, sizeof buf, p) != nullptr;
  ::pclose(p);
  return got ? std::atoi(buf) : -1;
}

}  // namespace

class TestJoinTab : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<rvt::TempDir> dir_;
  GuiHost host_;
  std::unique_ptr<TFormMain> window_;
  int dialogsShown_ = 0;

  TFormMain& NewWindow() {
    window_.reset();
    window_ = std::make_unique<TFormMain>();
    window_->AttachHost(&host_);
    return *window_;
  }

  static JoinTab& Tab(TFormMain& w) {
    JoinTab* tab = w.JoinPage();
    if (!tab) qFatal("the main window has no join tab");
    return *tab;
  }

  static void Fill(JoinTab& tab, const QStringList& items) {
    tab.JList->clear();
    tab.JList->addItems(items);
  }

 private Q_SLOTS:
  void initTestCase() {
    dir_ = std::make_unique<rvt::TempDir>("gui_join");
    rv::SetConfigPathOverride(dir_->File("avi.rivetta.cfg.ini"));
    host_.Install();
    // No question may wait for a person: a dialog that opens is counted and answered "no".
    TFormYesNo::SetAutoAnswer([this](TFormYesNo&) {
      ++dialogsShown_;
      return 0;
    });
  }

  void init() {
    rv::InstallTaskRoutines();
    rv::ClearScriptedAnswers();
    rv::AskedQuestions().clear();
    rv::ClearStop();
    dialogsShown_ = 0;
  }

  void cleanup() {
    for (int i = 0; i < 1000 && rv::WorkerExists(); ++i) {
      rv::RequestStop();
      QTest::qWait(10);
    }
    QVERIFY(!rv::WorkerExists());
    window_.reset();
    QCoreApplication::processEvents();
  }

  void cleanupTestCase() {
    for (const char* name : rv::kTaskNames) rv::SetTaskRoutine(name, {});
    TFormYesNo::SetAutoAnswer({});
    rv::SetConfigPathOverride("");
  }

  // ---- the controls -----------------------------------------------------------------------

  void hasItsControlsWithTheirCaptions() {
    TFormMain& w = NewWindow();
    auto* tab = w.findChild<QWidget*>("TabSheetJOIN");
    QVERIFY(tab);
    auto* list = tab->findChild<QListWidget*>("JList");
    QVERIFY(list);
    QCOMPARE(list->selectionMode(), QAbstractItemView::ExtendedSelection);
    auto* menu = w.findChild<QMenu*>("PopupJO");
    QVERIFY(menu);
    QCOMPARE(menu->findChild<QAction*>("N2")->text(), U("очистить список"));
    QCOMPARE(menu->findChild<QAction*>("N1")->text(), U("добавить в список"));
    QCOMPARE(menu->findChild<QAction*>("N3")->text(), U("удалить"));
    QCOMPARE(tab->findChild<QPushButton*>("BitBtnSUM")->text(), U("склеить"));
    QCOMPARE(tab->findChild<PictureButton*>("ImageSUM")->toolTip(),
             U("сгенерить имя выходного файла"));
    QVERIFY(tab->findChild<QLineEdit*>("EditSUM"));
    QVERIFY(tab->findChild<QLabel*>("LabelJINFO"));
    QVERIFY(tab->findChild<QLabel*>("LabelME"));
    QVERIFY(tab->findChild<QWidget*>("PanelSR"));
    QVERIFY(tab->findChild<PieGauge*>("GaugeZ")->isHidden());
    QVERIFY(tab->findChild<PictureButton*>("ImageZ")->isHidden());
  }

  void showingTheTabPutsUpTheNoticeAndClearsTheStatus() {
    TFormMain& w = NewWindow();
    JoinTab& tab = Tab(w);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    tab.LabelME->setText("старое");
    tab.LabelJINFO->setText("x");
    w.PageControl1->setCurrentWidget(w.TabSheetJOIN);
    QCOMPARE(tab.LabelME->text(), QString());
    QCOMPARE(tab.LabelJINFO->text(), QString::fromUtf8(rv::kJoinNotice));
    QVERIFY(tab.LabelJINFO->text().startsWith(U("перед запуском процесса сборки убедитесь, ")));
    // The notice is centred over the right panel and is not cut.
    QTRY_VERIFY(tab.LabelJINFO->width() >= tab.LabelJINFO->sizeHint().width());
    QVERIFY(std::abs(tab.LabelJINFO->geometry().center().x() - tab.PanelSR->width() / 2) <= 2);
    QVERIFY(tab.LabelJINFO->geometry().left() >= 0);
    QVERIFY(tab.LabelJINFO->geometry().right() < tab.PanelSR->width());
    // The name field and the status line take the panel's width.
    QVERIFY(tab.EditSUM->width() > tab.PanelSR->width() - tab.ImageSUM->width() - 20);
    QVERIFY(tab.LabelME->width() > tab.PanelSR->width() - 20);
  }

  // ---- the list ---------------------------------------------------------------------------

  void dragsMoveAnItemOntoTheTargetsPlace() {
    TFormMain& w = NewWindow();
    JoinTab& tab = Tab(w);
    Fill(tab, {"a", "b", "c", "d"});
    tab.JListStartDrag(0);
    tab.JListDragDrop(tab.JList, 2);
    QCOMPARE(tab.Items(), QStringList({"b", "c", "a", "d"}));
    QCOMPARE(tab.JList->currentRow(), 2);
    QCOMPARE(tab.JList->selectedItems().size(), 1);
    QCOMPARE(tab.JList->selectedItems().first()->text(), QString("a"));

    Fill(tab, {"a", "b", "c", "d"});
    tab.JListStartDrag(3);
    tab.JListDragDrop(tab.JList, 1);
    QCOMPARE(tab.Items(), QStringList({"a", "d", "b", "c"}));
    QCOMPARE(tab.JList->currentRow(), 1);

    // A drop below the items, a drag that began on no item, a drop onto the source itself,
    // and a drag that did not come from a list box move nothing.
    Fill(tab, {"a", "b", "c", "d"});
    tab.JListStartDrag(0);
    tab.JListDragDrop(tab.JList, -1);
    tab.JListStartDrag(-1);
    tab.JListDragDrop(tab.JList, 2);
    tab.JListStartDrag(2);
    tab.JListDragDrop(tab.JList, 2);
    tab.JListStartDrag(0);
    tab.JListDragDrop(tab.EditSUM, 3);
    tab.JListDragDrop(nullptr, 3);
    QCOMPARE(tab.Items(), QStringList({"a", "b", "c", "d"}));
  }

  void theMenuAddsClearsAndRemoves() {
    TFormMain& w = NewWindow();
    JoinTab& tab = Tab(w);
    QStringList dirsAsked;
    QStringList answer = {QString::fromStdString(dir_->File("one.avi")),
                          QString::fromStdString(dir_->File("two.avi"))};
    tab.SetFileChooser([&](const QString& dir) {
      dirsAsked << dir;
      return answer;
    });
    // The first choice starts in the program's directory, the next in the one last used,
    // which the repair tab's file choice shares.
    tab.N1->trigger();
    QCOMPARE(tab.Items(), answer);
    QCOMPARE(dirsAsked.value(0), QString::fromStdString(rv::ProgramDir()));
    QCOMPARE(w.LastDir(), QString::fromStdString(dir_->path()));
    answer = {"/elsewhere/three.avi"};
    tab.N1->trigger();
    QCOMPARE(dirsAsked.value(1), QString::fromStdString(dir_->path()));
    QCOMPARE(tab.Items().size(), 3);
    QCOMPARE(tab.Items().last(), QString("/elsewhere/three.avi"));
    QCOMPARE(w.LastDir(), QString("/elsewhere"));
    // A cancelled dialog changes nothing.
    answer = {};
    tab.N1->trigger();
    QCOMPARE(tab.Items().size(), 3);
    QCOMPARE(w.LastDir(), QString("/elsewhere"));

    Fill(tab, {"a", "b", "c", "d", "e"});
    tab.JList->item(1)->setSelected(true);
    tab.JList->item(2)->setSelected(true);
    tab.JList->item(4)->setSelected(true);
    tab.N3->trigger();
    QCOMPARE(tab.Items(), QStringList({"a", "d"}));
    tab.N2->trigger();
    QCOMPARE(tab.JList->count(), 0);
  }

  // ---- the output name ----------------------------------------------------------------------

  void imageSUMProposesTheJoinedName() {
    TFormMain& w = NewWindow();
    JoinTab& tab = Tab(w);
    tab.EditSUM->setText("kept");
    QTest::mouseClick(tab.ImageSUM, Qt::LeftButton);
    QCOMPARE(tab.LabelME->text(), U("правая кнопка мыши в левом окне - вызов меню"));
    QCOMPARE(tab.EditSUM->text(), QString("kept"));

    Fill(tab, {"/rec/Part1.AVI", "/rec/part2.avi"});
    QTest::mouseClick(tab.ImageSUM, Qt::LeftButton);
    QCOMPARE(tab.EditSUM->text(), QString("/rec/Part1.joined.AVI"));
    Fill(tab, {"/rec/noext"});
    QTest::mouseClick(tab.ImageSUM, Qt::LeftButton);
    QCOMPARE(tab.EditSUM->text(), QString("/rec/noext.joined"));
  }

  // ---- the start ----------------------------------------------------------------------------

  void anEmptyListHasNothingToJoin() {
    TFormMain& w = NewWindow();
    JoinTab& tab = Tab(w);
    std::atomic<int> runs{0};
    rv::SetTaskRoutine("doJOIN", [&] {
      ++runs;
      return true;
    });
    const std::string out = dir_->File("empty.joined.avi");
    tab.EditSUM->setText(QString::fromStdString(out));
    QTest::mouseClick(tab.BitBtnSUM, Qt::LeftButton);
    QCOMPARE(tab.LabelME->text(), U("нечего клеить. добавьте файлы в список"));
    QVERIFY(!rv::WorkerExists());
    QTest::qWait(50);
    QCOMPARE(runs.load(), 0);
    QVERIFY(!std::filesystem::exists(out));
    QVERIFY(tab.ImageZ->isHidden());
  }

  void anExistingOutputIsKeptWhenTheAnswerIsNo() {
    TFormMain& w = NewWindow();
    JoinTab& tab = Tab(w);
    QSignalSpy done(&w, &TFormMain::taskCompleted);
    const std::string out = dir_->Write("exists.avi", rvt::Text("keep me"));
    Fill(tab, {QString::fromStdString(dir_->Write("in.avi", rvt::Text("not an avi")))});
    tab.EditSUM->setText(QString::fromStdString(out));

    rv::PushScriptedAnswer(false);
    QTest::mouseClick(tab.BitBtnSUM, Qt::LeftButton);
    QCOMPARE(rv::AskedQuestions().size(), size_t(1));
    QCOMPARE(rv::AskedQuestions().front(), std::string("файл с таким именем уже существует. перезаписать?"));
    QVERIFY(!rv::WorkerExists());
    QTest::qWait(50);
    QCOMPARE(done.count(), 0);
    QCOMPARE(rvt::ReadFile(out), rvt::Text("keep me"));

    // Yes: the join runs and overwrites (here it fails on the input, which is no AVI).
    rv::PushScriptedAnswer(true);
    QTest::mouseClick(tab.BitBtnSUM, Qt::LeftButton);
    QCOMPARE(rv::AskedQuestions().size(), size_t(2));
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(tab.LabelME->text(), U("ошибка извлечения заголовка первого файла"));
    QVERIFY(rvt::ReadFile(out).empty());
    QCOMPARE(dialogsShown_, 0);
  }

  void joinsTwoFilesFromTheTab() {
    if (!rvt::FfmpegAvailable()) QSKIP("ffmpeg is not on PATH");
    rvt::FfmpegSampleSettings shape;
    shape.seconds = 1;
    shape.width = 160;
    shape.height = 120;
    shape.audio = false;
    const std::string a = rvt::MakeFfmpegAvi(dir_->path(), shape, "part1.avi");
    const std::string b = rvt::MakeFfmpegAvi(dir_->path(), shape, "part2.avi");
    QVERIFY(!a.empty() && !b.empty());
    const int framesA = VideoFrames(a), framesB = VideoFrames(b);
    QVERIFY(framesA > 0 && framesB > 0);

    TFormMain& w = NewWindow();
    JoinTab& tab = Tab(w);
    QSignalSpy done(&w, &TFormMain::taskCompleted);
    Fill(tab, {QString::fromStdString(a), QString::fromStdString(b)});
    QTest::mouseClick(tab.ImageSUM, Qt::LeftButton);
    const std::string out = dir_->File("part1.joined.avi");
    QCOMPARE(tab.EditSUM->text(), QString::fromStdString(out));
    std::filesystem::remove(out);

    QTest::mouseClick(tab.BitBtnSUM, Qt::LeftButton);
    // The stop picture shows at once; the completion can only arrive through the event loop.
    QVERIFY(!tab.ImageZ->isHidden());
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 20000);
    QCOMPARE(tab.LabelME->text(), U("операция завершена"));
    QVERIFY(tab.ImageZ->isHidden());
    QVERIFY(tab.GaugeZ->isHidden());
    QCOMPARE(rv::AskedQuestions().size(), size_t(0));  // the output did not exist
    QVERIFY(std::filesystem::exists(out));
    QCOMPARE(rv::Join().files, (std::vector<std::string>{a, b}));
    QCOMPARE(rv::Join().output, out);
    // A player reads every frame of both files from the joined one.
    QCOMPARE(VideoFrames(out), framesA + framesB);
    // A look at the tab after the join, when asked for.
    if (qEnvironmentVariableIsSet("RIVETTA_SCREENSHOT")) {
      w.show();
      QVERIFY(QTest::qWaitForWindowExposed(&w));
      w.PageControl1->setCurrentWidget(w.TabSheetJOIN);
      tab.LabelME->setText(U("операция завершена"));
      QTest::qWait(100);
      w.grab().save(qEnvironmentVariable("RIVETTA_SCREENSHOT"));
    }
    QCOMPARE(dialogsShown_, 0);
  }

  void theStatusAndGaugeFollowTheTaskUntilImageZStopsIt() {
    TFormMain& w = NewWindow();
    JoinTab& tab = Tab(w);
    QSignalSpy done(&w, &TFormMain::taskCompleted);
    std::atomic<bool> running{false};
    rv::SetTaskRoutine("doJOIN", [&] {
      rv::JoinState& j = rv::Join();
      j.SetStatus("файл 1 из 2");
      j.gauge = 40;
      j.gaugeVisible = true;
      running = true;
      while (!rv::StopRequested()) std::this_thread::sleep_for(1ms);
      j.gaugeVisible = false;
      j.SetStatus("прервано пользователем");
      return false;
    });
    Fill(tab, {"a.avi"});
    tab.EditSUM->setText(QString::fromStdString(dir_->File("follow.avi")));
    QTest::mouseClick(tab.BitBtnSUM, Qt::LeftButton);
    QTRY_VERIFY(running.load());
    QTRY_COMPARE(tab.LabelME->text(), U("файл 1 из 2"));
    QTRY_VERIFY(!tab.GaugeZ->isHidden());
    QCOMPARE(tab.GaugeZ->Progress(), 40);
    QVERIFY(!tab.ImageZ->isHidden());

    // A second start while the task runs does nothing.
    QTest::mouseClick(tab.BitBtnSUM, Qt::LeftButton);
    QCOMPARE(rv::AskedQuestions().size(), size_t(0));

    QTest::mouseClick(tab.ImageZ, Qt::LeftButton);  // no question
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(tab.LabelME->text(), U("прервано пользователем"));
    QVERIFY(tab.ImageZ->isHidden());
    QVERIFY(tab.GaugeZ->isHidden());
    QCOMPARE(rv::AskedQuestions().size(), size_t(0));
    QCOMPARE(dialogsShown_, 0);
  }
};

QTEST_MAIN(TestJoinTab)
#include "test_join_tab.moc"
