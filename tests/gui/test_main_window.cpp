// The main window's wiring: reading a file into the tree and the labels, the configuration
// file through the controls, the options reaching the engine, the block dump, and the rules only
// the windows have: a task's stop, kill, questions, coalesced progress, closing and the buffer
// size while a task runs.

#include "base/config.h"
#include "fixtures/ffmpeg_sample.h"
#include "gui/join/join_tab.h"
#include "gui/keyframes/keyframe_tab.h"
#include "gui/main_window/header_panels.h"
#include "gui_fixture.h"
#include "output/naming.h"
#include "output/writer.h"
#include "riff/blocks.h"
#include "riff/header.h"
#include "riff/source.h"

namespace {

using rvt::U;
using rvt::UntilStopped;

// The seven block labels as letters: B blue, M maroon, G gray.
QString LabelColours(const TFormMain& w) {
  QString s;
  for (QLabel* l : {w.LabelAVIH, w.LabelVSTRH, w.LabelVSTRF, w.LabelASTRH, w.LabelASTRF,
                    w.LabelMOVI, w.LabelIDX1}) {
    const QColor c = l->palette().color(QPalette::WindowText);
    s += c == QColor(0, 0, 255)       ? 'B'
         : c == QColor(128, 0, 0)     ? 'M'
         : c == QColor(128, 128, 128) ? 'G'
                                      : '?';
  }
  return s;
}

}  // namespace

class TestMainWindow : public QObject {
  Q_OBJECT
  rvt::GuiFixture fx_{"gui_main"};

 private Q_SLOTS:
  void init() { fx_.Reset(); }
  void cleanup() {
    QVERIFY(fx_.StopAndWait());
    QCOMPARE(fx_.dialogsShown, 0);
  }

  void readingAFileFillsTheTreeAndTheLabels() {
    TFormMain& w = fx_.NewWindow();
    const std::string path = fx_.Dir().Write("good.avi", rvt::MakeStandardAvi().bytes);
    w.EditIN->setText(QString::fromStdString(path));
    QTest::keyClick(w.EditIN, Qt::Key_Return);  // proposes the output name
    QCOMPARE(w.EditOUT->text().toStdString(), rv::makeOutFN(path));
    QCOMPARE(rv::OutputFileName(), rv::makeOutFN(path));
    w.BitBtnGO->click();
    QCOMPARE(w.TreeRIFF->topLevelItemCount(), 1);
    QVERIFY(rvt::TreeLine(w.TreeRIFF, "TimeBetweenFrames = 40000"));
    QCOMPARE(LabelColours(w), QString("BBBBBMM"));
    QVERIFY(w.BitBtnIDX->isEnabled() && !w.BitBtnFSD->isEnabled());
    QCOMPARE(w.ImageSA->PictureName(), QString("ImageRF"));

    fx_.Open(fx_.Dir().Write("junk.avi", rvt::Filled(100, 'x')));
    QCOMPARE(rvt::Lines(w.MemoST->toPlainText()),
             (QStringList{U("• отсутствует сигнатура RIFF"), U(TFormMain::kRebuildHint)}));
    QCOMPARE(LabelColours(w) + QString::number(w.TreeRIFF->topLevelItemCount()),
             QString("GGGGGGG0"));

    // Without a name BitBtnGO and BitBtnREC ask for one and do nothing else.
    for (QPushButton* button : {w.BitBtnGO, w.BitBtnREC}) {
      w.EditIN->clear();
      button->click();
      QCOMPARE(w.EditIN->text(), U(TFormMain::kNoFileName));
      QVERIFY(!rv::WorkerExists());
    }
  }

  void droppedFilesAreReadOrJoined() {
    TFormMain& w = fx_.NewWindow();
    const QString path =
        QString::fromStdString(fx_.Dir().Write("good.avi", rvt::MakeStandardAvi().bytes));
    QMimeData web, files;
    web.setUrls({QUrl("https://example.org/x.avi")});
    files.setUrls({QUrl("https://example.org/x.avi"), QUrl::fromLocalFile(path)});
    files.setText(QUrl::fromLocalFile(path).toString());  // as file managers also give it
    for (QMimeData* mime : {&web, &files}) {
      QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(&w, &enter);
      QCOMPARE(enter.isAccepted(), mime == &files);
    }
    w.PageControl1->setCurrentWidget(w.TabSheetJOIN);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &drop);
    QCOMPARE(w.EditIN->text(), path);
    // Onto the file-name field: the file, not its URL as text.
    w.EditIN->clear();
    QDragEnterEvent onField(QPoint(5, 5), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w.EditIN, &onField);  // a drop goes where the drag entered
    QApplication::sendEvent(w.EditIN, &drop);
    QCOMPARE(w.EditIN->text(), path);
    QCOMPARE(w.PageControl1->currentWidget(), w.TabSheetFIX);
    QVERIFY(rvt::TreeLine(w.TreeRIFF, "TimeBetweenFrames = 40000"));
    // On the join list the local files go to the end of the list.
    QWidget* list = w.JoinPage()->JList->viewport();
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list, &enter);  // a drop goes where the drag entered
    QDropEvent onList(QPointF(5, 5), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list, &onList);
    QCOMPARE(w.JoinPage()->Items(), QStringList{path});
    QVERIFY(!w.JoinPage()->EditSUM->text().isEmpty());  // the output name follows the list
  }

  // Another file takes nothing of the old one but the options: not the keyframe picture, not
  // the save area's one-shot choices, not the output name (also for a name read without Enter).
  void anotherFileLeavesOnlyTheOptions() {
    TFormMain& w = fx_.NewWindow();
    const std::string a = fx_.Dir().Write("a.avi", rvt::MakeStandardAvi().bytes);
    const std::string b = fx_.Dir().Write("b.avi", rvt::MakeStandardAvi().bytes);
    w.EditIN->setText(QString::fromStdString(a));
    w.BitBtnGO->click();
    QCOMPARE(w.EditOUT->text().toStdString(), rv::makeOutFN(a));
    QVERIFY(rvt::TreeLine(w.TreeRIFF, "'RIFF'")->toolTip(0).startsWith("'RIFF'"));
    QImage picture(4, 4, QImage::Format_RGB32);
    picture.fill(Qt::red);
    w.KeyframePage()->EKRAN->SetPicture(picture);
    w.CheckSavePart->setChecked(true);
    w.CheckNoIDX1->setChecked(true);
    w.FileChosen(QString::fromStdString(b));
    QVERIFY(w.KeyframePage()->EKRAN->Picture().isNull());
    QVERIFY(!w.CheckSavePart->isChecked() && w.CheckNoIDX1->isChecked());
    QCOMPARE(w.EditOUT->text().toStdString(), rv::makeOutFN(b));
  }

  // Hints are Russian, and at the least height the save area's controls neither overlap nor
  // shrink below their own height.
  void hintsAreRussianAndTheSaveAreaFits() {
    TFormMain& w = fx_.NewWindow();
    for (QObject* root : {static_cast<QObject*>(&w), static_cast<QObject*>(&FormMI())})
      for (PictureButton* b : root->findChildren<PictureButton*>())
        QVERIFY2(b->toolTip().contains(QRegularExpression("[а-я]")), qPrintable(b->objectName()));
    w.resize(w.minimumSize());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCoreApplication::processEvents();
    QWidget* previous = nullptr;
    for (QWidget* c : {static_cast<QWidget*>(w.EditOUT), static_cast<QWidget*>(w.CheckSAID),
                       static_cast<QWidget*>(w.CheckSavePart), static_cast<QWidget*>(w.CheckNoIDX1),
                       static_cast<QWidget*>(w.CheckNoFixSz), static_cast<QWidget*>(w.RadioZM),
                       static_cast<QWidget*>(w.RadioZI), static_cast<QWidget*>(w.RadioZO)}) {
      const int need =
          c->hasHeightForWidth() ? c->heightForWidth(c->width()) : c->minimumSizeHint().height();
      QVERIFY2(c->height() >= need, qPrintable(c->objectName()));
      if (previous)
        QVERIFY2(c->y() >= previous->y() + previous->height(), qPrintable(c->objectName()));
      previous = c;
    }
    QVERIFY(w.ImageSA->height() >= w.ImageSA->sizeHint().height());
  }

  void configurationComesInAndGoesOutWhenClosing() {
    const std::string text =
        "r.00db: n\r\nr.01wb: y\r\nr.fi: n\r\ncfg.iobmx: 10\r\ncfg.kr: y\r\ncfg.of: n\r\n"
        "cfg.hb: y\r\ncfg.hbsz:   750\r\ncfg.lf: y\r\ncfg.tt: y\r\ncfg.ppsi: y\r\n"
        "cfg.tnf: y\r\ncfg.drts: y\r\ncfg.adl: y\r\ncfg.atd: y\r\n";
    rvt::WriteFile(fx_.ConfigFile(), rvt::Text(text));
    TFormMain& w = fx_.NewWindow();
    QCOMPARE(rv::Cache().size, 10u * rv::kCacheUnit);  // the loaded buffer size takes effect
    QCOMPARE(rv::Opt().bigLimitBytes.load(), 750000u);
    QVERIFY(!rv::Opt().key00db && !rv::Opt().searchNext && rv::Opt().audioRate);
    w.ComboIOBMX->setCurrentText("2");
    w.EditHB->setText("500");
    w.show();
    QVERIFY(w.close());  // writes what the controls hold (first occurrences win when read)
    QCOMPARE(rvt::ReadFile(fx_.ConfigFile()),
             rvt::Text(rv::ConfigText(rv::ParseConfig("cfg.iobmx: 2\ncfg.hbsz: 500\n" + text))));

    // ATD follows ADL: without it, unchecked and disabled.
    rvt::WriteFile(fx_.ConfigFile(), rvt::Text("cfg.atd: y\r\ncfg.adl: n\r\n"));
    TFormMain& w2 = fx_.NewWindow();
    QVERIFY(!w2.CheckATD->isChecked() && !w2.CheckATD->isEnabled());
    w2.CheckADL->setChecked(true);
    QVERIFY(w2.CheckATD->isEnabled() && !w2.CheckATD->isChecked());
  }

  void optionsReachTheEngine() {
    TFormMain& w = fx_.NewWindow();
    using O = rv::Options;
    const std::pair<QCheckBox*, std::atomic<bool> O::*> cases[] = {
        {w.Check00db, &O::key00db},      {w.Check01wb, &O::key01wb},
        {w.CheckFI, &O::searchNext},     {w.CheckHI, &O::highPriorityMain},
        {w.CheckKR, &O::scanToEof},      {w.CheckOF, &O::beyondEof},
        {w.CheckHB, &O::bigIsBad},       {w.CheckLF, &O::followErrors},
        {w.CheckTT, &O::streams01},      {w.CheckPPSI, &O::autostart},
        {w.CheckTNF, &O::totalFrames},   {w.CheckDRTS, &O::ratesFromTbf},
        {w.CheckADL, &O::audioLength},   {w.CheckNoIDX1, &O::noIdx1},
        {w.CheckNoFixSz, &O::noFixSize}, {w.CheckSavePart, &O::savePart},
        {w.CheckSAID, &O::saveIndexOnly}};
    for (auto [box, option] : cases)
      for (bool on : {true, false, true}) {
        box->setChecked(on);
        QVERIFY2((rv::Opt().*option).load() == on, qPrintable(box->objectName()));
      }
    w.EditHB->setText("20");
    QCOMPARE(rv::Opt().bigLimitBytes.load(), 20000u);
    for (auto [radio, mode] : {std::pair{w.RadioZO, 'O'}, {w.RadioZI, 'I'}, {w.RadioZM, 'M'}}) {
      radio->setChecked(true);
      QCOMPARE(rv::Opt().headerMode.load(), mode);
    }
  }

  void bufferSizeChangesOnlyWithoutATask() {
    TFormMain& w = fx_.NewWindow();
    w.ComboIOBMX->setCurrentText("50");
    QCOMPARE(rv::Cache().size, 50u * rv::kCacheUnit);
    QTest::keyClicks(w.ComboIOBMX->lineEdit(), "9");  // typing is discarded
    QCOMPARE(w.ComboIOBMX->currentText(), QString("50"));
    std::atomic<bool> running{false};
    rv::SetTaskRoutine("reconstruction", UntilStopped(running));
    QVERIFY(w.StartTask("reconstruction"));
    QTRY_VERIFY(running.load());
    w.ComboIOBMX->setCurrentText("100");
    QCOMPARE(w.ComboIOBMX->currentText(), QString("50"));  // the size in use comes back
    QCOMPARE(rv::Cache().size, 50u * rv::kCacheUnit);
    QVERIFY(fx_.StopTask());
  }

  void dumpsTheSelectedBlockAndAsksForABigOne() {
    TFormMain& w = fx_.NewWindow();
    const rvt::Image img = rvt::Build(
        rvt::Riff("AVI ", {rvt::Chunk("JUNK", rvt::Filled(100000 - 8, 1)).Label("a"),
                           rvt::Chunk("JUNK", rvt::Filled(100001 - 8, 2)).NoPad().Label("b")}));
    fx_.Open(fx_.Dir().Write("big.avi", img.bytes));
    w.TreeRIFF->setCurrentItem(rvt::TreeLine(w.TreeRIFF, "'JUNK' 100000"));
    w.MIdump->trigger();
    QVERIFY(rv::AskedQuestions().empty());
    QCOMPARE(FormDU().Base(), img.Offset("a"));
    QCOMPARE(FormDU().Count(), 100000u);
    w.TreeRIFF->setCurrentItem(rvt::TreeLine(w.TreeRIFF, "'JUNK' 100001"));
    rv::PushScriptedAnswer(false);
    w.MIdump->trigger();
    QCOMPARE(rv::AskedQuestions().size(), size_t(1));
    QCOMPARE(rv::AskedQuestions().back(), std::string(TFormMain::kBigDumpQuestion));
    QCOMPARE(FormDU().Base(), img.Offset("a"));  // "no": nothing dumped
    rv::PushScriptedAnswer(true);
    w.TreeRIFFDblClick();  // a block without an editor: its dump
    QCOMPARE(FormDU().Base(), img.Offset("b"));
    QCOMPARE(FormDU().DumpedBytes().back(), uint8_t(2));
    FormDU().hide();
  }

  void aTaskShowsItsProgressStopsAndCompletes() {
    TFormMain& w = fx_.NewWindow();
    const rvt::StandardAvi avi = rvt::MakeStandardAvi();
    fx_.Open(fx_.Dir().Write("rec.avi", avi.bytes));
    w.show();
    QSignalSpy done(&w, &TFormMain::taskCompleted);
    // A reconstruction stand-in: a flat table under a root, progress until it is stopped.
    std::atomic<int> steps{0};
    rv::SetTaskRoutine("reconstruction", [&] {
      rv::Blocks() = {{"ROOT", "AVI ", -1, 0, 0}, {"avih", "", 0, avi.avih, 64}};
      rv::AddMessage("• реконструкция заголовка");
      for (; !rv::StopRequested(); ++steps, std::this_thread::sleep_for(1ms))
        rv::ReportProgress(rv::ProgressTarget::kMain, 42, "ptr: 1'024  >>  2'048");
      return true;
    });
    w.BitBtnREC->click();
    QVERIFY(!w.RadioZI->isEnabled() && !w.RadioZO->isEnabled() && w.RadioZM->isChecked());
    QVERIFY(w.ImageX->isVisible() && w.GaugeSA->isVisible() && w.LabelPTR->isVisible());
    QTRY_COMPARE(w.GaugeSA->Progress(), 42);
    QTRY_COMPARE(w.LabelPTR->text(), QString("ptr: 1'024  >>  2'048"));
    QTRY_VERIFY(rvt::Lines(w.MemoST->toPlainText()).contains(U("• реконструкция заголовка")));

    // While it runs: no second task, no reading, no closing (and no configuration written).
    QVERIFY(!w.StartTask("saveOUT"));
    fx_.Open(fx_.Dir().File("rec.avi"));
    QCOMPARE(w.TreeRIFF->topLevelItemCount(), 0);
    QVERIFY(!w.close());
    QVERIFY(w.isVisible() && !QFile::exists(QString::fromStdString(fx_.ConfigFile())));
    QCOMPARE(rvt::Lines(w.MemoST->toPlainText()).last(), U(TFormMain::kBusyClose));

    rv::PushScriptedAnswer(false);  // stop? "no": it goes on
    w.ImageX->click();
    QCOMPARE(rv::AskedQuestions().back(), std::string(TFormMain::kStopQuestion));
    const int before = steps;
    QTRY_VERIFY(steps > before + 5);
    QCOMPARE(done.count(), 0);
    rv::PushScriptedAnswer(true);
    w.ImageX->click();
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(done.at(0), (QList<QVariant>{101, 1}));
    QVERIFY(w.ImageX->isHidden() && w.GaugeSA->isHidden() && w.LabelPTR->isHidden());
    QCOMPARE(w.TreeRIFF->topLevelItem(0)->text(0), QString("'ROOT' 0 'AVI '"));
    QCOMPARE(LabelColours(w).at(0), QChar('B'));
    QVERIFY(w.close());
    QVERIFY(QFile::exists(QString::fromStdString(fx_.ConfigFile())));
  }

  // A file whose header was overwritten: the search finds no avih or video format, so the
  // header is made from the stream, said in the list, shown in the tree, and its video format
  // opens in the video format panel like one read from a file.
  void aHeaderMadeFromTheStreamIsShownAndEditable() {
    QVERIFY(rvt::FfmpegAvailable());
    TFormMain& w = fx_.NewWindow();
    rvt::Bytes b = rvt::ReadFile(
        rvt::MakeFfmpegAvi(fx_.Dir().path(), "s.avi",
                           "-f lavfi -i testsrc=size=176x144:rate=25 -t 1 -c:v mpeg4 -vtag XVID"));
    QVERIFY(b.size() > 4096);
    std::fill(b.begin(), b.begin() + 4096, uint8_t(0x5A));
    fx_.Open(fx_.Dir().Write("hit.avi", b));
    QSignalSpy done(&w, &TFormMain::taskCompleted);
    w.BitBtnREC->click();
    QTRY_COMPARE(done.count(), 1);
    const QStringList lines = rvt::Lines(w.MemoST->toPlainText());
    QVERIFY(lines.contains(U("• видео: MPEG-4 Part 2 (XVID), 176x144, по данным первых кадров")));
    QVERIFY(lines.contains(U("• заголовок составлен: его поля можно изменить до записи")));
    QTreeWidgetItem* strf = rvt::TreeLine(w.TreeRIFF, "'strf' 48 (составлен)");
    QVERIFY(strf);
    w.TreeRIFF->setCurrentItem(strf);
    w.Panels()->PopupRIFFPopup();
    QVERIFY(w.Panels()->MIvstrf->isVisible());
  }

  void aStreamCheckCompletion() {
    TFormMain& w = fx_.NewWindow();
    w.AttachStreamCheckWindow(FormMI());
    rvt::StandardAviShape noIdx1;
    noIdx1.withIdx1 = false;
    fx_.Open(fx_.Dir().Write("chk.avi", rvt::MakeStandardAvi(noIdx1).bytes));
    QSignalSpy finished(&w, &TFormMain::checkFinished);
    QSignalSpy done(&w, &TFormMain::taskCompleted);
    w.CheckFI->setChecked(false);
    rv::SetTaskRoutine("createIDX1", [] {
      rv::Opt().searchNext = true;  // the user agreed to a byte search
      return true;
    });
    QVERIFY(w.StartTask("createIDX1"));
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(finished.at(0).at(0).toInt(), 1);
    QCOMPARE(LabelColours(w), QString("BBBBBBB"));
    QVERIFY(w.BitBtnFSD->isEnabled() && w.CheckFI->isChecked());
    QCOMPARE(w.ImageSA->PictureName(), QString("ImageGF"));
    w.BitBtnGO->click();  // reading again puts it back
    QCOMPARE(w.ImageSA->PictureName(), QString("ImageRF"));
    w.EditIN->clear();
    w.BitBtnIDX1->click();
    QVERIFY(!FormMI().isVisible());  // no file name: the check window stays shut
  }

  void killLeavesTheProgramUsableAndDropsTheKilledTasksQuestion() {
    TFormMain& w = fx_.NewWindow();
    const std::string path = fx_.Dir().Write("kill.avi", rvt::MakeStandardAvi().bytes);
    fx_.Open(path);
    QSignalSpy done(&w, &TFormMain::taskCompleted);
    std::atomic<bool> asking{false};
    std::atomic<int> answer{-1};
    rv::SetTaskRoutine("saveOUT", [&] {
      asking = true;
      answer = rv::AskYesNo("вопрос задачи") ? 1 : 0;
      return true;
    });
    QVERIFY(w.StartTask("saveOUT"));
    // Without handling window events, until the question is on its way.
    for (int i = 0; i < 2000 && !asking; ++i) std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(50ms);
    w.BitBtnKT->click();
    QVERIFY(!rv::WorkerExists());
    QTRY_COMPARE(answer.load(), 0);
    QTest::qWait(50);
    QCOMPARE(fx_.dialogsShown, 0);  // the killed task's question is never shown
    QCOMPARE(done.count(), 0);      // and a kill has no completion
    fx_.Open(path);                 // the program reads a file and runs a task again
    QCOMPARE(w.TreeRIFF->topLevelItemCount(), 1);
    QVERIFY(w.StartTask("findKK"));
    QTRY_COMPARE(done.count(), 1);
  }

  void questionsGoToTheDialogOnTheWindowThread() {
    TFormMain& w = fx_.NewWindow();
    QSignalSpy done(&w, &TFormMain::taskCompleted);
    QThread* dialogThread = nullptr;
    QString shown;
    TFormYesNo::SetAutoAnswer([&](TFormYesNo& dialog) {
      dialogThread = QThread::currentThread();
      shown = rvt::Find<QLabel>(&dialog, "LabelTXT")->text();
      return 1;
    });
    std::atomic<int> first{-1}, second{-1};
    rv::SetTaskRoutine("saveOUT", [&] {
      first = rv::AskYesNo("продолжить?") ? 1 : 0;
      second = rv::AskYesNo("ещё раз?") ? 1 : 0;
      return true;
    });
    rv::PushScriptedAnswer(false);  // a scripted answer never reaches the dialog
    QVERIFY(w.StartTask("saveOUT"));
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(first.load(), 0);
    QCOMPARE(second.load(), 1);
    QCOMPARE(dialogThread, QThread::currentThread());
    QCOMPARE(shown, U("ещё раз?"));
  }

  void progressArrivesCoalescedAndPerTarget() {
    TFormMain& w = fx_.NewWindow();
    QSignalSpy done(&w, &TFormMain::taskCompleted);
    int signals = 0;
    qint64 lastPercent = -1, percentAtPrompt = -1;
    std::atomic<bool> passed{false};
    bool passedAtPrompt = true;
    connect(&fx_.Host(), &GuiHost::progress, &w, [&](const rv::Progress& p) {
      ++signals;
      lastPercent = p.percent;
    });
    connect(&fx_.Host(), &GuiHost::checkMessage, &w, [&](int, qint64) {
      percentAtPrompt = lastPercent;
      passedAtPrompt = passed;
    });
    constexpr int kSteps = 200000;
    rv::SetTaskRoutine("createIDX1", [&] {
      for (int i = 0; i < kSteps; ++i)
        rv::ReportProgress(rv::ProgressTarget::kStreamCheck, i * 100 / kSteps,
                           "ptr: " + std::to_string(i));
      rv::SendCheckMessage(4, 7);  // blocks until the window has handled it
      passed = true;
      return true;
    });
    QVERIFY(w.StartTask("createIDX1"));
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(percentAtPrompt, qint64(99));  // the latest progress comes before the prompt
    QVERIFY(!passedAtPrompt);
    QVERIFY2(signals < kSteps / 10, qPrintable(QString::number(signals)));

    // The keyframe search's progress goes to its own gauge, not to the save gauge.
    w.GaugeSA->SetProgress(10);
    fx_.Host().ShowProgress({rv::ProgressTarget::kKeyframes, 25, true, "50 >> 200", 7});
    QTRY_COMPARE(rvt::Find<PieGauge>(&w, "GaugeKS")->Progress(), 25);
    QCOMPARE(rvt::Find<QLabel>(&w, "LabelIO")->text(), U("найдено опорных кадров: 7"));
    QCOMPARE(w.GaugeSA->Progress(), 10);
  }
};

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
