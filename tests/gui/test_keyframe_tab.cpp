// The keyframe tab: its controls and defaults, the picture area taken at start-up, loading the
// source's own index with its two questions, a search on an ffmpeg-made MPEG-4 file run from
// BitBtnPL to its end with pictures in EKRAN, CheckKK wiping EKRAN, the codec choice with its
// list built on the first drop-down, and Label42.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "check/index.h"
#include "core/config.h"
#include "gui/common/gui_host.h"
#include "gui/main_window/main_window.h"
#include "gui/common/widgets.h"
#include "core/questions.h"
#include "core/task_routines.h"
#include "core/tasks.h"
#include "gui/keyframes/keyframe_tab.h"
#include "decode/keyframes.h"
#include "fixtures/avi_builder.h"
#include "fixtures/ffmpeg_sample.h"
#include "gui/common/question_dialog.h"

namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

const QRgb kGrey = qRgb(0xA0, 0xA0, 0xA0);

// How many pixels of the widget's look differ from the grey of an empty EKRAN.
int NonGreyPixels(QWidget* w) {
  const QImage image = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if ((image.pixel(x, y) & 0xFFFFFF) != (kGrey & 0xFFFFFF)) ++n;
  return n;
}

}  // namespace

class TestKeyframeTab : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<rvt::TempDir> dir_;
  GuiHost host_;
  std::unique_ptr<TFormMain> window_;
  int dialogsShown_ = 0;
  std::string sample_;  // an MPEG-4 file of 25 frames, a keyframe every 5

  TFormMain& NewWindow() {
    window_.reset();
    window_ = std::make_unique<TFormMain>();
    window_->AttachHost(&host_);
    return *window_;
  }

  static KeyframeTab& Tab(TFormMain& w) {
    KeyframeTab* tab = w.KeyframePage();
    if (!tab) qFatal("the main window has no keyframe tab");
    return *tab;
  }

  static void Open(TFormMain& w, const std::string& path) {
    w.EditIN->setText(QString::fromStdString(path));
    QTest::mouseClick(w.BitBtnGO, Qt::LeftButton);
  }

  void ShowOnKeyframeTab(TFormMain& w) {
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.PageControl1->setCurrentWidget(w.TabSheetKK);
    QCoreApplication::processEvents();
  }

 private Q_SLOTS:
  void initTestCase() {
    dir_ = std::make_unique<rvt::TempDir>("gui_kk");
    rv::SetConfigPathOverride(dir_->File("avi.rivetta.cfg.ini"));
    host_.Install();
    rv::InstallTaskRoutines();
    TFormYesNo::SetAutoAnswer([this](TFormYesNo&) {
      ++dialogsShown_;
      return 0;
    });
    if (rvt::FfmpegAvailable()) {
      rvt::FfmpegSampleSettings shape;
      shape.seconds = 1;
      shape.width = 160;
      shape.height = 120;
      shape.audio = false;
      shape.gop = 5;
      sample_ = rvt::MakeFfmpegAvi(dir_->path(), shape, "kk.avi");
    }
  }

  void init() {
    rv::ClearScriptedAnswers();
    rv::AskedQuestions().clear();
    rv::ClearStop();
    rv::ClearIndex();
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

  void hasItsControlsWithTheirCaptionsAndDefaults() {
    TFormMain& w = NewWindow();
    QWidget* tab = w.TabSheetKK;
    auto* ekran = tab->findChild<EkranPanel*>("EKRAN");
    QVERIFY(ekran);
    QCOMPARE(tab->findChild<QPushButton*>("BitBtnLI")->text(),
             U("загрузить индекс из исходного файла"));
    QCOMPARE(tab->findChild<QPushButton*>("BitBtnPL")->text(), U("го"));
    QVERIFY(tab->findChild<PictureButton*>("ImageStop")->isHidden());
    QVERIFY(tab->findChild<PieGauge*>("GaugeKS")->isHidden());
    QCOMPARE(tab->findChild<QLabel*>("LabelKKP")->text(), QString(" "));
    QCOMPARE(tab->findChild<QLabel*>("Label42")->text(), U("кодек:"));
    auto* combo = tab->findChild<QComboBox*>("ComboKK");
    QVERIFY(combo->isEditable());
    QCOMPARE(combo->currentText(), QString("auto"));
    QCOMPARE(combo->count(), 0);
    QCOMPARE(tab->findChild<QLabel*>("LabelKK")->text(), U("в заголовке указан кодек:"));
    QCOMPARE(tab->findChild<QLabel*>("LabelPR")->text(), U("в заголовке указано сжатие:"));
    QCOMPARE(tab->findChild<QLabel*>("LabelKA")->text(), U("в работе кодек:"));
    QCOMPARE(tab->findChild<QLabel*>("LabelIO")->text(), U("индекс отсутствует"));
    auto* kk = tab->findChild<QCheckBox*>("CheckKK");
    auto* sh = tab->findChild<QCheckBox*>("CheckSH");
    QCOMPARE(kk->text(), U("показывать опорные кадры в процессе поиска"));
    QCOMPARE(sh->text(), U("отображать процесс поиска целиком"));
    QVERIFY(kk->isChecked() && sh->isChecked());
    QVERIFY(rv::Keyframes().showKeyframes && rv::Keyframes().showAll);
    // Everything but EKRAN sits on PanelLL.
    auto* panel = tab->findChild<QFrame*>("PanelLL");
    for (const char* name : {"BitBtnLI", "BitBtnPL", "ImageStop", "LabelKKP", "GaugeKS",
                             "Label42", "ComboKK", "LabelKK", "LabelPR", "LabelKA", "LabelIO",
                             "CheckKK", "CheckSH"})
      QVERIFY2(panel->findChild<QWidget*>(name), name);
    QCOMPARE(ekran->parentWidget(), tab);
  }

  void ekranFillsThePictureAreaTakenAtStartUp() {
    rv::Keyframes().areaWidth = 0;
    rv::Keyframes().areaHeight = 0;
    TFormMain& w = NewWindow();
    KeyframeTab& tab = Tab(w);
    ShowOnKeyframeTab(w);
    const int tabWidth = w.TabSheetKK->width();
    const int panelTop = w.PanelLL->geometry().top();
    QVERIFY(panelTop > 100);
    QCOMPARE(rv::Keyframes().areaWidth.load(), tabWidth - 16);
    QCOMPARE(rv::Keyframes().areaHeight.load(), panelTop - 16);
    QCOMPARE(tab.EKRAN->geometry(), QRect(8, 8, tabWidth - 16, panelTop - 16));
    QCOMPARE(tab.EKRAN->toolTip(), U("масштаб: 100%"));
    // Empty, the panel is plain grey.
    QCOMPARE(NonGreyPixels(tab.EKRAN), 0);

    // A picture area larger than the tab is reduced, aspect kept, and centred.
    rv::Keyframes().areaWidth = 4 * tabWidth;
    rv::Keyframes().areaHeight = tabWidth;
    tab.ResizeEkran();
    const rv::EkranGeometry g = rv::ResizeEkran(tabWidth, panelTop, 4 * tabWidth, tabWidth);
    QCOMPARE(tab.EKRAN->geometry(), QRect(g.left, g.top, g.width, g.height));
    QVERIFY(g.width < tabWidth - 15);
    QCOMPARE(tab.EKRAN->toolTip(), QString::fromStdString(g.hint));
    // A larger window refits it.
    w.resize(w.width() + 200, w.height() + 100);
    QTRY_VERIFY(w.TabSheetKK->width() == tabWidth + 200);
    const rv::EkranGeometry g2 = rv::ResizeEkran(w.TabSheetKK->width(),
                                                 w.PanelLL->geometry().top(), 4 * tabWidth,
                                                 tabWidth);
    QTRY_COMPARE(tab.EKRAN->geometry(), QRect(g2.left, g2.top, g2.width, g2.height));
  }

  void aPictureIsShownTopRowFirst() {
    // A 2 × 2 picture: bottom row blue, green; top row red, white (rows padded to 8 bytes).
    rv::BitmapInfo format;
    format.biWidth = 2;
    format.biHeight = 2;
    format.biBitCount = 24;
    rv::Bytes bytes = {255, 0, 0, 0, 255, 0, 0, 0,  0, 0, 255, 255, 255, 255, 0, 0};
    const QImage image = PictureImage(format, bytes);
    QCOMPARE(image.size(), QSize(2, 2));
    QCOMPARE(image.pixel(0, 0) & 0xFFFFFF, QRgb(0xFF0000));
    QCOMPARE(image.pixel(1, 0) & 0xFFFFFF, QRgb(0xFFFFFF));
    QCOMPARE(image.pixel(0, 1) & 0xFFFFFF, QRgb(0x0000FF));
    QCOMPARE(image.pixel(1, 1) & 0xFFFFFF, QRgb(0x00FF00));
    bytes.pop_back();
    QVERIFY(PictureImage(format, bytes).isNull());
  }

  // ---- the index --------------------------------------------------------------------------

  void loadsTheOwnIndexAndAsksWhenOneIsLoaded() {
    if (sample_.empty()) QSKIP("ffmpeg is not on PATH");
    TFormMain& w = NewWindow();
    KeyframeTab& tab = Tab(w);
    Open(w, sample_);
    QCOMPARE(rv::Index().count, size_t(0));
    w.LabelIO->setText("x");
    QTest::mouseClick(tab.BitBtnLI, Qt::LeftButton);
    QCOMPARE(rv::AskedQuestions().size(), size_t(0));
    QCOMPARE(rv::Index().count, size_t(25));
    QCOMPARE(w.LabelIO->text(), QString());
    const std::vector<rv::IndexEntry> loaded = rv::Index().entries;
    QCOMPARE(loaded.size(), size_t(25));
    QCOMPARE(loaded[0].dwFlags & rv::kKeyframeFlag, rv::kKeyframeFlag);
    QCOMPARE(loaded[1].dwFlags & rv::kKeyframeFlag, 0u);

    // Loaded already: "no" keeps the index in memory as it is.
    rv::Index().entries[1].dwFlags = 0xABC;
    rv::PushScriptedAnswer(false);
    QTest::mouseClick(tab.BitBtnLI, Qt::LeftButton);
    QCOMPARE(rv::AskedQuestions().size(), size_t(1));
    QCOMPARE(rv::AskedQuestions().back(),
             std::string("индекс размером [25] уже загружен. продолжить?"));
    QCOMPARE(rv::Index().entries[1].dwFlags, 0xABCu);
    // "yes" reads it again.
    rv::PushScriptedAnswer(true);
    QTest::mouseClick(tab.BitBtnLI, Qt::LeftButton);
    QCOMPARE(rv::AskedQuestions().size(), size_t(2));
    QVERIFY(rv::Index().entries == loaded);
    QCOMPARE(dialogsShown_, 0);
  }

  void aFileWithoutIdx1SaysSo() {
    TFormMain& w = NewWindow();
    KeyframeTab& tab = Tab(w);
    rvt::StandardAviShape noIndex;
    noIndex.withIdx1 = false;
    Open(w, dir_->Write("noidx.avi", rvt::MakeStandardAvi(noIndex).bytes));
    rv::PushScriptedAnswer(true);
    QTest::mouseClick(tab.BitBtnLI, Qt::LeftButton);
    QCOMPARE(rv::AskedQuestions().size(), size_t(1));
    QCOMPARE(rv::AskedQuestions().front(), std::string("в исходном файле индекс не найден"));
    QCOMPARE(rv::Index().count, size_t(0));
    QCOMPARE(w.LabelIO->text(), U("индекс отсутствует"));
  }

  // ---- the search -------------------------------------------------------------------------

  void searchesToTheEndAndShowsPictures() {
    if (sample_.empty()) QSKIP("ffmpeg is not on PATH");
    TFormMain& w = NewWindow();
    KeyframeTab& tab = Tab(w);
    QSignalSpy done(&w, &TFormMain::taskCompleted);
    ShowOnKeyframeTab(w);
    Open(w, sample_);
    // Shown again: the header's codec and compression.
    w.PageControl1->setCurrentWidget(w.TabSheetFIX);
    w.PageControl1->setCurrentWidget(w.TabSheetKK);
    QCOMPARE(tab.LabelKK->text(), U("в заголовке указан кодек: XVID"));
    QCOMPARE(tab.LabelPR->text(), U("в заголовке указано сжатие: XVID"));
    QCOMPARE(tab.LabelKA->text(), U("в работе кодек: "));
    QCOMPARE(w.LabelIO->text(), U("индекс отсутствует"));
    QTest::mouseClick(tab.BitBtnLI, Qt::LeftButton);
    QCOMPARE(rv::Index().count, size_t(25));
    QCOMPARE(NonGreyPixels(tab.EKRAN), 0);

    QTest::mouseClick(tab.BitBtnPL, Qt::LeftButton);
    QVERIFY(!tab.ImageStop->isHidden());
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 30000);
    QCOMPARE(done.at(0).at(0).toInt(), 103);
    QCOMPARE(w.LabelIO->text(), U("поиск завершен"));
    QCOMPARE(rv::Keyframes().keyframes.load(), 5u);
    QVERIFY(tab.ImageStop->isHidden());
    QVERIFY(w.GaugeKS->isHidden());
    QCOMPARE(w.LabelKKP->text(), QString());
    QVERIFY(tab.LabelKA->text().startsWith(U("в работе кодек: ")));
    QVERIFY(tab.LabelKA->text().size() > U("в работе кодек: ").size());
    for (size_t i = 0; i < 25; ++i)
      QCOMPARE(rv::Index().entries[i].dwFlags & rv::kKeyframeFlag,
               i % 5 == 0 ? rv::kKeyframeFlag : 0u);
    // EKRAN is sized for the picture, centred above PanelLL, and shows it.
    QCOMPARE(tab.EKRAN->size(), QSize(160, 120));
    QCOMPARE(tab.EKRAN->x(), (w.TabSheetKK->width() - 160) / 2);
    QCOMPARE(tab.EKRAN->y(), (w.PanelLL->geometry().top() - 120) / 2);
    QCOMPARE(tab.EKRAN->toolTip(), U("масштаб: 100%"));
    QVERIFY(NonGreyPixels(tab.EKRAN) > 160 * 120 / 2);
    // A look at the tab after a search, when asked for.
    if (qEnvironmentVariableIsSet("RIVETTA_SCREENSHOT"))
      w.grab().save(qEnvironmentVariable("RIVETTA_SCREENSHOT"));

    // Unchecking CheckKK wipes EKRAN, unchecks CheckSH, and nothing is drawn any more.
    QTest::mouseClick(tab.CheckKK, Qt::LeftButton);
    QVERIFY(!tab.CheckKK->isChecked());
    QVERIFY(!tab.CheckSH->isChecked());
    QVERIFY(!rv::Keyframes().showKeyframes);
    QVERIFY(!rv::Keyframes().showAll);
    QCOMPARE(NonGreyPixels(tab.EKRAN), 0);
    QTest::mouseClick(tab.BitBtnPL, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 2, 30000);
    // The end texts replace what the progress wrote, also when they read as before.
    QCOMPARE(w.LabelIO->text(), U("поиск завершен"));
    QCOMPARE(w.LabelKKP->text(), QString());
    QCOMPARE(NonGreyPixels(tab.EKRAN), 0);
    tab.CheckKK->setChecked(true);
    QVERIFY(rv::Keyframes().showKeyframes);
    QVERIFY(!tab.CheckSH->isChecked());  // checking CheckKK changes nothing else

    // The codec choice goes to the search.
    tab.ComboKK->setEditText("ZZZZ");
    QTest::mouseClick(tab.BitBtnPL, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 3, 30000);
    QCOMPARE(rv::Keyframes().Choice(), std::string("ZZZZ"));
    QCOMPARE(w.LabelIO->text(), U("ошибка открытия декомпрессора для ZZZZ"));
    QCOMPARE(dialogsShown_, 0);
  }

  void theStopPictureStopsTheSearchWithoutAQuestion() {
    TFormMain& w = NewWindow();
    KeyframeTab& tab = Tab(w);
    QSignalSpy done(&w, &TFormMain::taskCompleted);
    std::atomic<bool> running{false};
    rv::SetTaskRoutine("findKK", [&] {
      rv::Keyframes().SetText("LabelIO", "подготовка к работе");
      running = true;
      while (!rv::StopRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      rv::Keyframes().SetText("LabelIO", "прервано пользователем");
      return true;
    });
    QTest::mouseClick(tab.BitBtnPL, Qt::LeftButton);
    QTRY_VERIFY(running.load());
    QTRY_COMPARE(w.LabelIO->text(), U("подготовка к работе"));
    QVERIFY(!tab.ImageStop->isHidden());
    QTest::mouseClick(tab.ImageStop, Qt::LeftButton);
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(w.LabelIO->text(), U("прервано пользователем"));
    QVERIFY(tab.ImageStop->isHidden());
    QCOMPARE(rv::AskedQuestions().size(), size_t(0));
    QCOMPARE(dialogsShown_, 0);
    rv::InstallTaskRoutines();
  }

  // ---- the codec choice -------------------------------------------------------------------

  void theCodecListIsBuiltOnTheFirstDropDownOnly() {
    TFormMain& w = NewWindow();
    KeyframeTab& tab = Tab(w);
    QCOMPARE(tab.ComboKK->count(), 0);
    tab.ComboKKDropDown();
    QVERIFY(tab.ComboKK->count() > 1);
    QCOMPARE(tab.ComboKK->itemText(0), QString("auto"));
    QCOMPARE(tab.ComboKK->currentText(), QString("auto"));
    const QRegularExpression entry("^.{4} \\(.*\\)$");
    for (int i = 1; i < tab.ComboKK->count(); ++i)
      QVERIFY2(entry.match(tab.ComboKK->itemText(i)).hasMatch(),
               qPrintable(tab.ComboKK->itemText(i)));
    const int count = tab.ComboKK->count();
    tab.ComboKK->setItemText(1, "marker");
    tab.ComboKKDropDown();
    QCOMPARE(tab.ComboKK->count(), count);
    QCOMPARE(tab.ComboKK->itemText(1), QString("marker"));

    // The real drop-down builds it too.
    TFormMain& w2 = NewWindow();
    KeyframeTab& tab2 = Tab(w2);
    ShowOnKeyframeTab(w2);
    tab2.ComboKK->showPopup();
    QCOMPARE(tab2.ComboKK->count(), count);
    tab2.ComboKK->hidePopup();
  }

  void label42PutsBackAuto() {
    TFormMain& w = NewWindow();
    KeyframeTab& tab = Tab(w);
    tab.ComboKK->setEditText("XVID (some decoder)");
    QTest::mouseClick(tab.Label42, Qt::LeftButton);
    QCOMPARE(tab.ComboKK->currentText(), QString("auto"));
  }
};

QTEST_MAIN(TestKeyframeTab)
#include "test_keyframe_tab.moc"
