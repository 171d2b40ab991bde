// The main window: its frame and controls, reading a file into the tree and the labels, the
// configuration file through the controls, the buffer size, the block dump, and the worker
// tasks seen from the window (progress, questions, stop, kill, completion, closing).
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSplitter>
#include <QTabWidget>
#include <QTest>
#include <QThread>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "gui/stream_check/stream_check_window.h"
#include "check/index.h"
#include "check/scanner.h"
#include "core/config.h"
#include "gui/common/gui_host.h"
#include "gui/main_window/main_window.h"
#include "gui/common/widgets.h"
#include "core/host.h"
#include "core/messages.h"
#include "core/options.h"
#include "core/questions.h"
#include "core/tasks.h"
#include "fixtures/avi_builder.h"
#include "output/naming.h"
#include "output/reconstruction.h"
#include "output/writer.h"
#include "riff/blocks.h"
#include "riff/header.h"
#include "riff/hexdump.h"
#include "riff/source.h"
#include "gui/common/dump_window.h"
#include "gui/common/question_dialog.h"

namespace {

using namespace std::chrono_literals;

const QColor kGray(128, 128, 128);
const QColor kBlue(0, 0, 255);
const QColor kMaroon(128, 0, 0);

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

QColor Colour(const QLabel* label) { return label->palette().color(QPalette::WindowText); }

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

QStringList TreeTexts(QTreeWidget* tree) {
  QStringList texts;
  for (QTreeWidgetItemIterator it(tree); *it; ++it) texts << (*it)->text(0);
  return texts;
}

QTreeWidgetItem* FindLine(QTreeWidget* tree, const QString& prefix) {
  for (QTreeWidgetItemIterator it(tree); *it; ++it)
    if ((*it)->text(0).startsWith(prefix)) return *it;
  return nullptr;
}

QStringList MemoLines(const TFormMain& w) {
  QString text = w.MemoST->toPlainText();
  return text.isEmpty() ? QStringList() : text.split('\n');
}

QString ComboText(const TFormMain& w) { return w.ComboIOBMX->currentText(); }

}  // namespace

class TestMainWindow : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<rvt::TempDir> dir_;
  GuiHost host_;
  std::unique_ptr<TFormMain> window_;
  int dialogsShown_ = 0;

  std::string ConfigFile() const { return dir_->File("avi.rivetta.cfg.ini"); }

  // A fresh main window (it reads the configuration file while it is made).
  TFormMain& NewWindow() {
    window_.reset();
    window_ = std::make_unique<TFormMain>();
    window_->AttachHost(&host_);
    return *window_;
  }

  // A well-formed file: hdrl with avih and a video and an audio strl, movi, idx1.
  std::string StandardFile(const char* name, rvt::StandardAvi* out = nullptr) {
    rvt::StandardAvi avi = rvt::MakeStandardAvi();
    std::string path = dir_->Write(name, avi.bytes);
    if (out) *out = avi;
    return path;
  }

  void Open(TFormMain& w, const std::string& path) {
    w.EditIN->setText(QString::fromStdString(path));
    QTest::mouseClick(w.BitBtnGO, Qt::LeftButton);
  }

  static void WaitNoWorker() { QTRY_VERIFY_WITH_TIMEOUT(!rv::WorkerExists(), 10000); }

 private Q_SLOTS:
  void initTestCase() {
    dir_ = std::make_unique<rvt::TempDir>("gui_main");
    rv::SetConfigPathOverride(ConfigFile());
    host_.Install();
    // No question may ever wait for a person: a dialog that opens counts and answers "no".
    TFormYesNo::SetAutoAnswer([this](TFormYesNo&) {
      ++dialogsShown_;
      return 0;
    });
  }

  void init() {
    std::remove(ConfigFile().c_str());
    rv::ClearScriptedAnswers();
    rv::ClearMessages();
    rv::ClearStop();
    dialogsShown_ = 0;
  }

  void cleanup() {
    // A stop asked before the task has started is cleared by its start: ask until it ends.
    for (int i = 0; i < 1000 && rv::WorkerExists(); ++i) {
      rv::RequestStop();
      QTest::qWait(10);
    }
    QVERIFY(!rv::WorkerExists());
    for (const char* name : rv::kTaskNames) rv::SetTaskRoutine(name, {});
    window_.reset();
    QCoreApplication::processEvents();
  }

  void cleanupTestCase() {
    TFormYesNo::SetAutoAnswer({});
    rv::SetConfigPathOverride("");
  }

  // ---- the frame ------------------------------------------------------------------------------

  void startsWithItsFrameAndDefaults() {
    QCOMPARE(rv::Cache().size, rv::kDefaultCacheSize);  // no file: the default buffer
    TFormMain& w = NewWindow();
    QCOMPARE(w.objectName(), QString("FormMain"));
    QCOMPARE(w.windowTitle(), QString("AVI Rivetta    Alpha 0.87.a"));
    QCOMPARE(w.size(), QSize(627, 443));
    QCOMPARE(w.minimumSize(), QSize(627, 300));

    auto* tabs = w.findChild<QTabWidget*>("PageControl1");
    QVERIFY(tabs);
    QCOMPARE(tabs->count(), 4);
    const char* names[] = {"TabSheetFIX", "TabSheetKK", "TabSheetJOIN", "TabSheetCFG"};
    const char* captions[] = {"ремонт", "поиск опорных кадров", "сборка", "настройки"};
    for (int i = 0; i < 4; ++i) {
      QCOMPARE(tabs->widget(i)->objectName(), QString(names[i]));
      QCOMPARE(tabs->tabText(i), U(captions[i]));
    }
    QCOMPARE(tabs->currentWidget()->objectName(), QString("TabSheetFIX"));
    QVERIFY(w.findChild<QWidget*>("ImageWD"));
    QVERIFY(w.findChild<QWidget*>("PanelWD"));

    QCOMPARE(w.findChild<QPushButton*>("BitBtnGO")->text(), U("открыть и прочитать заголовок"));
    QCOMPARE(w.findChild<QPushButton*>("BitBtnIDX1")->text(),
             U("проверка потока и создание индекса"));
    QCOMPARE(w.findChild<QPushButton*>("BitBtnIDX")->text(), U("проверить поток по индексу"));
    QCOMPARE(w.findChild<QPushButton*>("BitBtnREC")->text(), U("реконструкция заголовка"));
    QVERIFY(!w.findChild<QPushButton*>("BitBtnIDX")->isEnabled());
    QVERIFY(!w.findChild<QPushButton*>("BitBtnFSD")->isEnabled());
    QCOMPARE(w.findChild<QCheckBox*>("CheckHI")->text(), U("высокий приоритет задачи"));
    QVERIFY(w.findChild<QCheckBox*>("CheckHI")->isChecked());
    QVERIFY(w.findChild<QRadioButton*>("RadioZM")->isChecked());
    QVERIFY(!w.findChild<QRadioButton*>("RadioZI")->isChecked());
    QVERIFY(!w.findChild<QRadioButton*>("RadioZO")->isChecked());
    for (const char* name : {"CheckNoIDX1", "CheckNoFixSz", "CheckSAID", "CheckSavePart"})
      QVERIFY2(!w.findChild<QCheckBox*>(name)->isChecked(), name);
    QVERIFY(w.findChild<QPlainTextEdit*>("MemoST")->isReadOnly());
    QCOMPARE(w.findChild<QAction*>("MIdump")->text(), U("посмотреть dump"));
    QCOMPARE(w.findChild<QPushButton*>("BitBtnKT")->toolTip(), QString("kill thread"));
    QCOMPARE(w.findChild<QLabel*>("LabelIO")->text(), U("индекс отсутствует"));
    QCOMPARE(w.findChild<PictureButton*>("ImageSA")->PictureName(), QString("ImageRF"));
    QVERIFY(w.findChild<PictureButton*>("ImageX")->isHidden());
    QVERIFY(w.findChild<PieGauge*>("GaugeSA")->isHidden());

    // The block labels: captions and gray.
    const char* labelCaptions[] = {"avih", "v.strh", "v.strf", "a.strh", "a.strf", "movi", "idx1"};
    for (int i = 0; i < rv::kLabelCount; ++i) {
      auto* label = w.findChild<QLabel*>(rv::kLabelNames[size_t(i)]);
      QVERIFY2(label, rv::kLabelNames[size_t(i)]);
      QCOMPARE(label->text(), QString(labelCaptions[i]));
      QCOMPARE(Colour(label), kGray);
    }

    // The options without a configuration file.
    for (const char* name : {"Check00db", "Check01wb", "CheckFI", "CheckOF"})
      QVERIFY2(w.findChild<QCheckBox*>(name)->isChecked(), name);
    for (const char* name : {"CheckKR", "CheckHB", "CheckLF", "CheckTT", "CheckPPSI", "CheckTNF",
                             "CheckDRTS", "CheckADL", "CheckATD"})
      QVERIFY2(!w.findChild<QCheckBox*>(name)->isChecked(), name);
    QVERIFY(!w.CheckATD->isEnabled());
    QCOMPARE(ComboText(w), QString("2"));
    QCOMPARE(w.findChild<QLineEdit*>("EditHB")->text(), QString("500"));
    QCOMPARE(rv::Cache().size, rv::kDefaultCacheSize);
    QCOMPARE(w.ConfigFromControls(), rv::ConfigValues{});
  }

  void captionsOfTheOptions() {
    TFormMain& w = NewWindow();
    struct {
      const char* name;
      const char* caption;
    } const boxes[] = {
        {"Check00db", "считать 00db опорными кадрами"},
        {"Check01wb", "считать 01wb опорными кадрами"},
        {"CheckFI", "при битых ссылках искать следующий блок побайтно"},
        {"CheckKR", "размер в блоке movi считать кривым и сканировать поток до конца файла."},
        {"CheckOF", "если размер блока указывает за пределы файла - включать поиск"},
        {"CheckHB", "блоки размером больше              kb считать битыми и включать поиск"},
        {"CheckLF", "курсор бежит вниз по мере добавления ошибок в список"},
        {"CheckTT", "номер в метках ??db, ??dc и ??wb может быть только 00 или 01."},
        {"CheckPPSI", "автостарт при первом нажатии на кнопку \"создать индекс\""},
        {"CheckTNF", "положить кол-во кадров видео в поля AVIH.TotalNumberOfFrames и "
                     "V.STRH.DataLength"},
        {"CheckDRTS", "рассчитать и положить в AVIH и V.STRH поля DataRate и TimeScale по "
                      "значению AVIH.TimeBetweenFrames"},
        {"CheckADL", "просуммировать размеры звуковых кадров и положить в поле "
                     "A.STRH.DataLength"},
        {"CheckATD", "A.STRH.TimeScale = 1, A.STRH.DataRate = A.STRH.DataLength / "
                     "(продолжительность видео потока [сек])"},
        {"CheckNoIDX1", "не сохранять индексный блок в файле"},
        {"CheckNoFixSz", "не исправлять размеры блоков в потоке"},
        {"CheckSAID", "сохранить только индекс"},
        {"CheckSavePart", "типа.. . я знаю, что делаю"},
    };
    for (const auto& b : boxes) {
      auto* box = w.findChild<QCheckBox*>(b.name);
      QVERIFY2(box, b.name);
      QCOMPARE(box->text(), U(b.caption));
    }
    QCOMPARE(w.RadioZM->text(), U("создать заголовок с минимально необходимым количеством данных"));
    QCOMPARE(w.RadioZI->text(), U("заголовок собирается из блоков исходного файла"));
    QCOMPARE(w.RadioZO->text(),
             U("всю шапку с заголовками переложить из старого файла без изменений"));
    QCOMPARE(w.findChild<QLabel*>("LabelIOBMX")->text(), U("размер буфера:                     Mb"));
    QCOMPARE(w.findChild<QLabel*>("LabelSave")->text(), U("при сохранении:"));
    QCOMPARE(w.findChild<QLabel*>("LabelKT")->text(),
             U("<<< нажмите сюда, если 'нитка' повисла, а вы хотите попробовать сохранить "
               "перекееный индекс"));
    QStringList items;
    for (int i = 0; i < w.ComboIOBMX->count(); ++i) items << w.ComboIOBMX->itemText(i);
    QCOMPARE(items, QStringList({"2", "5", "10", "50", "100"}));

    // EditHB and ComboIOBMX stand inside the gaps of their captions.
    w.PageControl1->setCurrentWidget(w.TabSheetCFG);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.EditHB->parentWidget(), static_cast<QWidget*>(w.CheckHB));
    const int gapStart = w.CheckHB->fontMetrics().horizontalAdvance(U("блоки размером больше "));
    QVERIFY(w.EditHB->x() >= gapStart);
    QVERIFY(w.EditHB->geometry().right() < w.CheckHB->width());
    QVERIFY(w.EditHB->width() > 20);
    QCOMPARE(w.ComboIOBMX->parentWidget(), static_cast<QWidget*>(w.LabelIOBMX));
    QVERIFY(w.ComboIOBMX->x() >= w.LabelIOBMX->fontMetrics().horizontalAdvance(U("размер буфера: ")));
    QVERIFY(w.ComboIOBMX->width() > 30);
  }

  // ---- reading a file -----------------------------------------------------------------------

  void readsAWellFormedFile() {
    TFormMain& w = NewWindow();
    rvt::StandardAvi avi;
    std::string path = StandardFile("good.avi", &avi);
    Open(w, path);

    QStringList lines = TreeTexts(w.TreeRIFF);
    QCOMPARE(w.TreeRIFF->topLevelItemCount(), 1);
    QTreeWidgetItem* root = w.TreeRIFF->topLevelItem(0);
    QCOMPARE(root->text(0), QString("'RIFF' %1 'AVI '").arg(avi.bytes.size()));
    QVERIFY(root->isExpanded());
    QStringList children;
    for (int i = 0; i < root->childCount(); ++i) children << root->child(i)->text(0);
    QCOMPARE(children.size(), 3);
    QVERIFY(children[0].startsWith("'LIST' ") && children[0].endsWith(" 'hdrl'"));
    QVERIFY(children[1].startsWith("'LIST' ") && children[1].endsWith(" 'movi'"));
    QVERIFY(children[2].startsWith("'idx1' "));
    QVERIFY(!root->child(0)->isExpanded());
    QVERIFY(lines.contains("TimeBetweenFrames = 40000"));
    QVERIFY(lines.contains("Flags = 00000910(h)"));
    QVERIFY(lines.contains("DataType = vids"));
    QVERIFY(lines.contains("DataType = auds"));
    QVERIFY(lines.contains("biWidth = 320"));
    // Field lines sit under their block.
    QTreeWidgetItem* field = FindLine(w.TreeRIFF, "TimeBetweenFrames = ");
    QVERIFY(field->parent()->text(0).startsWith("'avih' 64"));
    // Lines cannot be edited.
    QVERIFY(!(field->flags() & Qt::ItemIsEditable));

    QVERIFY(MemoLines(w).isEmpty());
    for (QLabel* l : {w.LabelAVIH, w.LabelVSTRH, w.LabelVSTRF, w.LabelASTRH, w.LabelASTRF})
      QCOMPARE(Colour(l), kBlue);
    QCOMPARE(Colour(w.LabelMOVI), kMaroon);
    QCOMPARE(Colour(w.LabelIDX1), kMaroon);
    QVERIFY(w.BitBtnIDX->isEnabled());
    QVERIFY(!w.BitBtnFSD->isEnabled());
    QVERIFY(w.ImageWO->isHidden());
    QCOMPARE(w.ImageSA->PictureName(), QString("ImageRF"));
    QCOMPARE(rv::InputFileName(), path);

    // A file cut in the middle of movi: two messages, no idx1, no index check.
    rvt::Bytes cut = rvt::Truncated(avi.bytes, avi.movi + 200);
    Open(w, dir_->Write("cut.avi", cut));
    QStringList memo = MemoLines(w);
    QVERIFY(memo.contains(U("• размер файла меньше значения, указанного в заголовке")));
    QVERIFY(memo.contains(U("• размер блока movi меньше  заявленного")));
    QCOMPARE(Colour(w.LabelIDX1), kGray);
    QCOMPARE(Colour(w.LabelMOVI), kMaroon);
    QVERIFY(!w.BitBtnIDX->isEnabled());
    QVERIFY(!FindLine(w.TreeRIFF, "'idx1'"));

    // Not a RIFF file: one message, an empty tree, all labels gray.
    Open(w, dir_->Write("junk.avi", rvt::Filled(100, 'x')));
    QCOMPARE(MemoLines(w), QStringList{U("• отсутствует сигнатура RIFF")});
    QCOMPARE(w.TreeRIFF->topLevelItemCount(), 0);
    for (QLabel* l : {w.LabelAVIH, w.LabelMOVI, w.LabelIDX1}) QCOMPARE(Colour(l), kGray);
    QVERIFY(!w.BitBtnIDX->isEnabled());

    // A file that is not there.
    Open(w, dir_->File("missing.avi"));
    QVERIFY(MemoLines(w).contains(U("• ошибка открытия файла")));
    QCOMPARE(w.TreeRIFF->topLevelItemCount(), 0);
    QVERIFY(w.ImageWO->isHidden());
  }

  void anEmptyFileNameAsksForOne() {
    TFormMain& w = NewWindow();
    Open(w, StandardFile("a.avi"));
    const int lines = TreeTexts(w.TreeRIFF).size();
    w.EditIN->clear();
    QTest::mouseClick(w.BitBtnGO, Qt::LeftButton);
    QCOMPARE(w.EditIN->text(), U("сюда надо положить имя файла"));
    QCOMPARE(TreeTexts(w.TreeRIFF).size(), lines);  // nothing was read or reset
    QCOMPARE(Colour(w.LabelAVIH), kBlue);

    rv::SetTaskRoutine("reconstruction", [] { return true; });
    w.EditIN->clear();
    QTest::mouseClick(w.BitBtnREC, Qt::LeftButton);
    QCOMPARE(w.EditIN->text(), U("сюда надо положить имя файла"));
    QVERIFY(!rv::WorkerExists());
    QCOMPARE(TreeTexts(w.TreeRIFF).size(), lines);
  }

  void enterInTheFileNameProposesTheOutputName() {
    TFormMain& w = NewWindow();
    const std::string in = dir_->File("Clip.AVI");
    w.EditIN->setText(QString::fromStdString(in));
    QVERIFY(w.EditOUT->text().isEmpty());
    QTest::keyClick(w.EditIN, Qt::Key_Return);
    QCOMPARE(w.EditOUT->text().toStdString(), rv::makeOutFN(in));
    QVERIFY(w.EditOUT->text() != w.EditIN->text());
    // The tasks open the files named in the two fields.
    QCOMPARE(rv::InputFileName(), in);
    QCOMPARE(rv::OutputFileName(), rv::makeOutFN(in));
    w.EditIN->clear();
    w.EditOUT->setText("x");
    QTest::keyClick(w.EditIN, Qt::Key_Return);
    QCOMPARE(w.EditOUT->text(), QString("x"));  // nothing to propose from
  }

  // ---- configuration --------------------------------------------------------------------------

  void loadsTheConfigurationIntoTheControls() {
    WriteText(ConfigFile(),
              "r.00db: n\r\nr.01wb: y\r\nr.fi: n\r\ncfg.iobmx: 10\r\ncfg.kr: y\r\ncfg.of: n\r\n"
              "cfg.hb: y\r\ncfg.hbsz:   750\r\ncfg.lf: y\r\ncfg.tt: y\r\ncfg.ppsi: y\r\n"
              "cfg.tnf: y\r\ncfg.drts: y\r\ncfg.adl: y\r\ncfg.atd: y\r\n");
    TFormMain& w = NewWindow();
    QVERIFY(!w.Check00db->isChecked());
    QVERIFY(w.Check01wb->isChecked());
    QVERIFY(!w.CheckFI->isChecked());
    QCOMPARE(ComboText(w), QString("10"));
    QVERIFY(w.CheckKR->isChecked());
    QVERIFY(!w.CheckOF->isChecked());
    QVERIFY(w.CheckHB->isChecked());
    QCOMPARE(w.EditHB->text(), QString("750"));
    for (QCheckBox* c : {w.CheckLF, w.CheckTT, w.CheckPPSI, w.CheckTNF, w.CheckDRTS, w.CheckADL,
                         w.CheckATD})
      QVERIFY2(c->isChecked(), qPrintable(c->objectName()));
    QVERIFY(w.CheckATD->isEnabled());
    // The loaded buffer size takes effect at start-up.
    QCOMPARE(rv::Cache().size, 10u * rv::kCacheUnit);
    // The engine's options follow the controls.
    QVERIFY(!rv::Opt().key00db);
    QVERIFY(!rv::Opt().searchNext);
    QVERIFY(rv::Opt().bigIsBad);
    QCOMPARE(rv::Opt().bigLimitBytes.load(), 750000u);
    QVERIFY(rv::Opt().audioRate);
    QVERIFY(!rv::Opt().beyondEof);

    // Only cfg.adl: everything else at its fall-back, ATD enabled and unchecked.
    WriteText(ConfigFile(), "cfg.adl: y\r\n");
    NewWindow();
    rv::ConfigValues expected;
    expected.adl = true;
    expected.atdEnabled = true;
    QCOMPARE(window_->ConfigFromControls(), expected);
    QCOMPARE(rv::Cache().size, rv::kDefaultCacheSize);

    // ATD without ADL stays unchecked and disabled; a buffer size that is no number shows 2.
    WriteText(ConfigFile(), "cfg.atd: y\r\ncfg.adl: n\r\ncfg.iobmx: abc\r\n");
    TFormMain& w3 = NewWindow();
    QVERIFY(!w3.CheckATD->isChecked());
    QVERIFY(!w3.CheckATD->isEnabled());
    QCOMPARE(ComboText(w3), QString("2"));
  }

  void savesTheConfigurationWhenClosing() {
    TFormMain& w = NewWindow();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(w.close());
    QCOMPARE(ReadText(ConfigFile()),
             std::string("r.00db: y\r\nr.01wb: y\r\nr.fi: y\r\ncfg.iobmx: 2\r\ncfg.kr: n\r\n"
                         "cfg.of: y\r\ncfg.hb: n\r\ncfg.hbsz: 500\r\ncfg.lf: n\r\ncfg.tt: n\r\n"
                         "cfg.ppsi: n\r\ncfg.tnf: n\r\ncfg.drts: n\r\ncfg.adl: n\r\ncfg.atd: n\r\n"));

    // Changed controls come back the same after a save and a load.
    TFormMain& w2 = NewWindow();
    w2.Check01wb->setChecked(false);
    w2.CheckKR->setChecked(true);
    w2.CheckHB->setChecked(true);
    w2.EditHB->setText("1234");
    w2.CheckADL->setChecked(true);
    w2.CheckATD->setChecked(true);
    w2.CheckPPSI->setChecked(true);
    w2.ComboIOBMX->setCurrentText("5");
    const rv::ConfigValues before = w2.ConfigFromControls();
    QCOMPARE(before.iobmx, std::string("5"));
    w2.show();
    QVERIFY(w2.close());
    const std::string text = ReadText(ConfigFile());
    QVERIFY(text.find("r.01wb: n\r\n") != std::string::npos);
    QVERIFY(text.find("cfg.hbsz: 1234\r\n") != std::string::npos);
    QVERIFY(text.find("cfg.atd: y\r\n") != std::string::npos);
    QCOMPARE(NewWindow().ConfigFromControls(), before);
    QCOMPARE(rv::Cache().size, 5u * rv::kCacheUnit);
    window_->ComboIOBMX->setCurrentText("2");
  }

  void audioRateFollowsAudioLength() {
    TFormMain& w = NewWindow();
    w.PageControl1->setCurrentWidget(w.TabSheetCFG);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(!w.CheckATD->isEnabled());
    QTest::mouseClick(w.CheckADL, Qt::LeftButton, {}, QPoint(5, w.CheckADL->height() / 2));
    QVERIFY(w.CheckADL->isChecked());
    QVERIFY(w.CheckATD->isEnabled());
    QVERIFY(!w.CheckATD->isChecked());
    QTest::mouseClick(w.CheckATD, Qt::LeftButton, {}, QPoint(5, w.CheckATD->height() / 2));
    QVERIFY(w.CheckATD->isChecked());
    QVERIFY(rv::Opt().audioLength);
    QVERIFY(rv::Opt().audioRate);
    w.CheckADL->setChecked(false);
    QVERIFY(!w.CheckATD->isChecked());
    QVERIFY(!w.CheckATD->isEnabled());
    QVERIFY(!rv::Opt().audioRate);
    w.CheckADL->setChecked(true);
    QVERIFY(w.CheckATD->isEnabled());
    QVERIFY(!w.CheckATD->isChecked());  // stays as it was
  }

  void optionsOfTheRepairTabReachTheEngine() {
    TFormMain& w = NewWindow();
    w.Check00db->setChecked(false);
    QVERIFY(!rv::Opt().key00db);
    w.CheckHI->setChecked(false);
    QVERIFY(!rv::Opt().highPriorityMain);
    w.CheckNoIDX1->setChecked(true);
    QVERIFY(rv::Opt().noIdx1);
    w.CheckNoFixSz->setChecked(true);
    QVERIFY(rv::Opt().noFixSize);
    w.CheckSavePart->setChecked(true);
    QVERIFY(rv::Opt().savePart);
    w.RadioZO->setChecked(true);
    QCOMPARE(rv::Opt().headerMode.load(), 'O');
    w.RadioZI->setChecked(true);
    QCOMPARE(rv::Opt().headerMode.load(), 'I');
    w.RadioZM->setChecked(true);
    QCOMPARE(rv::Opt().headerMode.load(), 'M');
    w.CheckHB->setChecked(true);
    w.EditHB->setText("abc");
    QCOMPARE(rv::Opt().bigLimitBytes.load(), rv::SizeLimitFromText("abc"));
    w.EditHB->setText("20");
    QCOMPARE(rv::Opt().bigLimitBytes.load(), 20000u);
    w.CheckHB->setChecked(false);
    w.CheckHI->setChecked(true);
    w.Check00db->setChecked(true);
    w.CheckNoIDX1->setChecked(false);
    w.CheckNoFixSz->setChecked(false);
    w.CheckSavePart->setChecked(false);
  }

  void bufferSizeChangesOnlyWithoutATask() {
    TFormMain& w = NewWindow();
    w.ComboIOBMX->setCurrentIndex(w.ComboIOBMX->findText("50"));
    QCOMPARE(rv::Cache().size, 51200000u);
    QCOMPARE(ComboText(w), QString("50"));

    // Keys typed into it are discarded.
    QTest::keyClicks(w.ComboIOBMX, "7");
    QTest::keyClicks(w.ComboIOBMX->lineEdit(), "9");
    QCOMPARE(ComboText(w), QString("50"));
    QCOMPARE(rv::Cache().size, 51200000u);

    // While a task runs the old value comes back.
    std::atomic<bool> running{false};
    rv::SetTaskRoutine("reconstruction", [&] {
      running = true;
      while (!rv::StopRequested()) std::this_thread::sleep_for(1ms);
      return false;
    });
    QVERIFY(w.StartTask("reconstruction"));
    QVERIFY(rv::WorkerExists());
    QTRY_VERIFY(running.load());
    w.ComboIOBMX->setCurrentIndex(w.ComboIOBMX->findText("100"));
    QCOMPARE(ComboText(w), QString("50"));
    QCOMPARE(rv::Cache().size, 51200000u);
    rv::RequestStop();
    WaitNoWorker();

    w.ComboIOBMX->setCurrentIndex(w.ComboIOBMX->findText("2"));
    QCOMPARE(rv::Cache().size, rv::kDefaultCacheSize);
  }

  // ---- the dump of a block --------------------------------------------------------------------

  void dumpsTheSelectedBlock() {
    TFormMain& w = NewWindow();
    rvt::StandardAvi avi;
    Open(w, StandardFile("dump.avi", &avi));
    QTreeWidgetItem* idx1 = FindLine(w.TreeRIFF, "'idx1' ");
    QVERIFY(idx1);
    w.TreeRIFF->setCurrentItem(idx1);
    FormDU().SetBase(0);
    w.MIdump->trigger();
    const uint32_t size = rvt::ReadLE32(avi.bytes, avi.idx1 + 4) + 8;
    QCOMPARE(FormDU().Base(), avi.idx1);
    QCOMPARE(FormDU().Count(), size);
    QCOMPARE(FormDU().DumpedBytes()[0], uint8_t('i'));
    QCOMPARE(FormDU().DumpedBytes()[3], uint8_t('1'));
    QVERIFY(FormDU().isVisible());
    QVERIFY(rv::AskedQuestions().empty());

    // A field line belongs to no block: nothing happens.
    FormDU().SetBase(7);
    w.TreeRIFF->setCurrentItem(FindLine(w.TreeRIFF, "TimeBetweenFrames = "));
    w.MIdump->trigger();
    QCOMPARE(FormDU().Base(), 7u);

    // A double-click on a block without an editor is its dump; one with an editor opens it.
    int edited = -1;
    w.Hooks().openHeaderEditor = [&](int32_t block) { edited = block; };
    QTreeWidgetItem* movi = nullptr;
    for (QTreeWidgetItemIterator it(w.TreeRIFF); *it; ++it)
      if ((*it)->text(0).endsWith("'movi'")) movi = *it;
    QVERIFY(movi);
    w.TreeRIFF->setCurrentItem(movi);
    w.TreeRIFFDblClick();
    QCOMPARE(FormDU().Base(), avi.movi);
    QVERIFY(rv::AskedQuestions().empty());  // the movi list is smaller than 100,000 bytes
    FormDU().SetBase(7);
    w.TreeRIFF->setCurrentItem(FindLine(w.TreeRIFF, "'avih' "));
    w.TreeRIFFDblClick();
    QCOMPARE(FormDU().Base(), 7u);
    QVERIFY(edited >= 0);
    QCOMPARE(rv::Blocks()[size_t(edited)].Name, std::string("avih"));
    FormDU().hide();
  }

  void aBigBlockAsksBeforeItsDump() {
    TFormMain& w = NewWindow();
    // Blocks of 100,000 and 100,001 bytes (payload + 8).
    rvt::Image img = rvt::Build(rvt::Riff(
        "AVI ", {rvt::Chunk("JUNK", rvt::Filled(100000 - 8, 1)).Label("a"),
                 rvt::Chunk("JUNK", rvt::Filled(100001 - 8, 2)).NoPad().Label("b")}));
    Open(w, dir_->Write("big.avi", img.bytes));
    QTreeWidgetItem* a = FindLine(w.TreeRIFF, "'JUNK' 100000");
    QTreeWidgetItem* b = FindLine(w.TreeRIFF, "'JUNK' 100001");
    QVERIFY(a && b);

    w.TreeRIFF->setCurrentItem(a);
    w.MIdump->trigger();
    QVERIFY(rv::AskedQuestions().empty());
    QCOMPARE(FormDU().Count(), 100000u);

    w.TreeRIFF->setCurrentItem(b);
    rv::PushScriptedAnswer(false);
    w.MIdump->trigger();
    QCOMPARE(rv::AskedQuestions().size(), size_t(1));
    QCOMPARE(QString::fromStdString(rv::AskedQuestions().front()),
             U("а может не надо?\r\nразмер блока больше 100кБ.\r\nпродолжить?"));
    QCOMPARE(FormDU().Base(), img.Offset("a"));  // "no": nothing dumped

    rv::PushScriptedAnswer(true);
    w.MIdump->trigger();
    QCOMPARE(FormDU().Base(), img.Offset("b"));
    QCOMPARE(FormDU().Count(), 100001u);
    QCOMPARE(FormDU().DumpedBytes().back(), uint8_t(2));
    QCOMPARE(dialogsShown_, 0);

    // A RIFF list that claims 4 GB: its start and the end of what the file holds, never the
    // whole of it.
    rvt::Bytes huge = rvt::Build(rvt::Riff("AVI ", {rvt::Chunk("JUNK", rvt::Pattern(3000000, 7))})).bytes;
    rvt::OverwriteLE32(huge, 4, 0xFFFFFFF0);
    Open(w, dir_->Write("huge.avi", huge));
    w.TreeRIFF->setCurrentItem(w.TreeRIFF->topLevelItem(0));
    rv::PushScriptedAnswer(true);
    w.MIdump->trigger();
    QCOMPARE(FormDU().Base(), 0u);
    QCOMPARE(FormDU().Count(), rv::kDumpHeadBytes + rv::kDumpTailBytes);
    QCOMPARE(FormDU().DumpedBytes().front(), uint8_t('R'));
    QCOMPARE(FormDU().DumpedBytes().back(), huge.back());
    const QString text = FormDU().findChild<QPlainTextEdit*>("MemoH")->toPlainText();
    QVERIFY(text.contains(QString::fromStdString(rv::DumpSkippedLine(
        uint32_t(huge.size()) - rv::kDumpHeadBytes - rv::kDumpTailBytes))));
    FormDU().hide();
  }

  void aBlockPastTheEndShowsWhatIsThere() {
    TFormMain& w = NewWindow();
    rvt::StandardAvi avi;
    Open(w, StandardFile("whole.avi", &avi));
    // The tree stays from the whole file; the file on disk is then cut inside idx1.
    QTreeWidgetItem* idx1 = FindLine(w.TreeRIFF, "'idx1' ");
    rvt::WriteFile(w.EditIN->text().toStdString(), rvt::Truncated(avi.bytes, avi.idx1 + 20));
    w.TreeRIFF->setCurrentItem(idx1);
    w.MIdump->trigger();
    QCOMPARE(FormDU().Base(), avi.idx1);
    QCOMPARE(FormDU().Count(), 20u);
    FormDU().hide();
  }

  // ---- tasks ------------------------------------------------------------------------------------

  void aTaskRunsStopsAndCompletes() {
    TFormMain& w = NewWindow();
    rvt::StandardAvi avi;
    std::string path = StandardFile("rec.avi", &avi);
    Open(w, path);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QSignalSpy done(&w, &TFormMain::taskCompleted);
    // A reconstruction stand-in: a flat table under a root, progress until it is stopped.
    std::atomic<int> steps{0};
    rv::SetTaskRoutine("reconstruction", [&] {
      rv::Blocks().clear();
      rv::Blocks().push_back({"ROOT", "AVI ", -1, 0, 0});
      rv::BlockRecord avih{"avih", "", 0, avi.avih, 64};
      rv::Blocks().push_back(avih);
      rv::AddMessage("• реконструкция заголовка");
      while (!rv::StopRequested()) {
        rv::ReportProgress(rv::ProgressTarget::kMain, 42, "ptr: 1'024  >>  2'048");
        ++steps;
        std::this_thread::sleep_for(1ms);
      }
      return true;
    });
    QTest::mouseClick(w.BitBtnREC, Qt::LeftButton);
    QVERIFY(rv::WorkerExists());
    QCOMPARE(w.TreeRIFF->topLevelItemCount(), 0);
    QCOMPARE(Colour(w.LabelAVIH), kGray);
    QVERIFY(w.RadioZM->isChecked());
    QVERIFY(!w.RadioZI->isEnabled());
    QVERIFY(!w.RadioZO->isEnabled());
    QVERIFY(!w.BitBtnIDX->isEnabled());
    QVERIFY(w.ImageX->isVisible());
    QVERIFY(w.GaugeSA->isVisible());
    QVERIFY(w.LabelPTR->isVisible());
    QTRY_COMPARE(w.GaugeSA->Progress(), 42);
    QTRY_COMPARE(w.LabelPTR->text(), QString("ptr: 1'024  >>  2'048"));
    QTRY_VERIFY(MemoLines(w).contains(U("• реконструкция заголовка")));

    // A second task is refused while this one runs, and so are reading and closing.
    QVERIFY(!w.StartTask("saveOUT"));
    QTest::mouseClick(w.BitBtnREC, Qt::LeftButton);
    Open(w, path);
    QCOMPARE(w.TreeRIFF->topLevelItemCount(), 0);
    QVERIFY(!w.close());
    QVERIFY(w.isVisible());
    QVERIFY(!QFile::exists(QString::fromStdString(ConfigFile())));

    // Stop, answered "no": the task goes on.
    rv::PushScriptedAnswer(false);
    QTest::mouseClick(w.ImageX, Qt::LeftButton);
    QCOMPARE(QString::fromStdString(rv::AskedQuestions().back()), U("прервать обработку?"));
    const int before = steps;
    QTRY_VERIFY(steps > before + 5);
    QVERIFY(rv::WorkerExists());
    QCOMPARE(done.count(), 0);

    // Stop, answered "yes": the task ends and its completion runs.
    rv::PushScriptedAnswer(true);
    QTest::mouseClick(w.ImageX, Qt::LeftButton);
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(done.at(0).at(0).toInt(), 101);
    QCOMPARE(done.at(0).at(1).toInt(), 1);
    QVERIFY(!rv::WorkerExists());
    QVERIFY(!rv::StopRequested());
    QVERIFY(w.ImageX->isHidden());
    QVERIFY(w.GaugeSA->isHidden());
    QVERIFY(w.LabelPTR->isHidden());
    // Code 101 with success: the tree and the records from the new table.
    QCOMPARE(w.TreeRIFF->topLevelItemCount(), 1);
    QCOMPARE(w.TreeRIFF->topLevelItem(0)->text(0), QString("'ROOT' 0 'AVI '"));
    QVERIFY(TreeTexts(w.TreeRIFF).contains("TimeBetweenFrames = 40000"));
    QCOMPARE(rv::Header().avih.TimeBetweenFrames, 40000u);
    QCOMPARE(Colour(w.LabelAVIH), kBlue);
    QCOMPARE(dialogsShown_, 0);

    // Now the window closes and writes the configuration.
    QVERIFY(w.close());
    QVERIFY(QFile::exists(QString::fromStdString(ConfigFile())));
  }

  void theReconstructionRebuildsTheTreeFromWhatItFound() {
    TFormMain& w = NewWindow();
    QSignalSpy done(&w, &TFormMain::taskCompleted);
    rv::SetTaskRoutine("reconstruction", rv::reconstruction);
    rvt::Bytes bytes = rvt::Filled(100, 0x5A);
    rvt::AppendBytes(bytes, rvt::MakeStandardAvi().bytes);
    w.EditIN->setText(QString::fromStdString(dir_->Write("garbage.avi", bytes)));
    QTest::mouseClick(w.BitBtnREC, Qt::LeftButton);
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(done.at(0).at(1).toInt(), 1);
    QCOMPARE(w.TreeRIFF->topLevelItemCount(), 1);
    QTreeWidgetItem* root = w.TreeRIFF->topLevelItem(0);
    QCOMPARE(root->text(0), QString("'ROOT' 0 'AVI '"));
    QCOMPARE(root->childCount(), 6);
    QVERIFY(root->child(0)->text(0).startsWith("'avih' 64"));
    QVERIFY(root->child(5)->text(0).endsWith("'movi'"));
    QVERIFY(TreeTexts(w.TreeRIFF).contains("TimeBetweenFrames = 40000"));
    QVERIFY(MemoLines(w).contains(U("• реконструкция заголовка")));
    QVERIFY(!w.RadioZI->isEnabled());
    QVERIFY(w.ImageX->isHidden());
  }

  void aFailedReconstructionLeavesTheTree() {
    TFormMain& w = NewWindow();
    Open(w, StandardFile("rec2.avi"));
    QSignalSpy done(&w, &TFormMain::taskCompleted);
    rv::SetTaskRoutine("reconstruction", [] {
      rv::Blocks().clear();
      rv::Blocks().push_back({"ROOT", "AVI ", -1, 0, 0});
      return false;
    });
    QTest::mouseClick(w.BitBtnREC, Qt::LeftButton);
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(done.at(0).at(0).toInt(), 101);
    QCOMPARE(done.at(0).at(1).toInt(), 0);
    QCOMPARE(w.TreeRIFF->topLevelItemCount(), 0);
  }

  void aStreamCheckCompletion() {
    TFormMain& w = NewWindow();
    // Without idx1 its label stays gray, so the file is not ready to be saved until a check
    // has succeeded.
    rvt::StandardAviShape withoutIdx1;
    withoutIdx1.withIdx1 = false;
    Open(w, dir_->Write("chk.avi", rvt::MakeStandardAvi(withoutIdx1).bytes));
    QSignalSpy finished(&w, &TFormMain::checkFinished);
    QSignalSpy done(&w, &TFormMain::taskCompleted);

    // Without success: the labels keep their colours, the diagram button is enabled.
    rv::SetTaskRoutine("createIDX1", [] { return false; });
    QVERIFY(w.StartTask("createIDX1"));
    QVERIFY(w.ImageX->isHidden());  // the check has its own window
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toInt(), 0);
    QCOMPARE(Colour(w.LabelMOVI), kMaroon);
    QCOMPARE(Colour(w.LabelIDX1), kGray);
    QVERIFY(w.BitBtnFSD->isEnabled());
    QCOMPARE(w.ImageSA->PictureName(), QString("ImageRF"));

    // With success: movi and idx1 turn blue and the file is ready to be saved.
    rv::SetTaskRoutine("createIDX1", [] { return true; });
    QVERIFY(w.StartTask("createIDX1"));
    QTRY_COMPARE(done.count(), 2);
    QCOMPARE(finished.at(1).at(0).toInt(), 1);
    QCOMPARE(done.at(1).at(0).toInt(), 100);
    QCOMPARE(Colour(w.LabelMOVI), kBlue);
    QCOMPARE(Colour(w.LabelIDX1), kBlue);
    QCOMPARE(w.ImageSA->PictureName(), QString("ImageGF"));

    // Reading the file again puts everything back.
    QTest::mouseClick(w.BitBtnGO, Qt::LeftButton);
    QCOMPARE(Colour(w.LabelMOVI), kMaroon);
    QVERIFY(!w.BitBtnFSD->isEnabled());
    QCOMPARE(w.ImageSA->PictureName(), QString("ImageRF"));

    // A task that is not there completes with 0, 0.
    QVERIFY(w.StartTask("findKK"));
    QTRY_COMPARE(done.count(), 3);
    QCOMPARE(done.at(2).at(0).toInt(), 0);
    QCOMPARE(finished.count(), 2);
  }

  void theCheckButtonsOpenTheStreamCheckWindow() {
    TFormMain& w = NewWindow();
    w.AttachStreamCheckWindow(FormMI());
    FormMI().hide();
    QTest::mouseClick(w.BitBtnIDX1, Qt::LeftButton);
    QVERIFY(!FormMI().isVisible());  // no file name: nothing happens
    Open(w, StandardFile("mi.avi"));
    QTest::mouseClick(w.BitBtnIDX1, Qt::LeftButton);
    QVERIFY(FormMI().isVisible());
    QCOMPARE(FormMI().windowTitle(), U("проверка потока и создание индекса"));
    FormMI().hide();
    QTest::mouseClick(w.BitBtnIDX, Qt::LeftButton);
    QVERIFY(FormMI().isVisible());
    QCOMPARE(FormMI().windowTitle(), U("проверка потока по индексу"));
    QCOMPARE(FormMI().InputName(), w.EditIN->text());
    FormMI().hide();
  }

  void aCheckThatAgreedToAByteSearchChecksCheckFI() {
    TFormMain& w = NewWindow();
    QSignalSpy done(&w, &TFormMain::taskCompleted);
    w.CheckFI->setChecked(false);
    QVERIFY(!rv::Opt().searchNext);
    rv::SetTaskRoutine("createIDX1", [] {
      rv::Opt().searchNext = true;  // the user said yes to the search
      return true;
    });
    QVERIFY(w.StartTask("createIDX1"));
    QTRY_COMPARE(done.count(), 1);
    QVERIFY(w.CheckFI->isChecked());
  }

  void killLeavesTheProgramUsable() {
    TFormMain& w = NewWindow();
    std::string path = StandardFile("kill.avi");
    Open(w, path);
    QSignalSpy done(&w, &TFormMain::taskCompleted);
    w.BitBtnKTClick();  // no task: nothing happens
    QCOMPARE(done.count(), 0);

    std::atomic<bool> running{false};
    rv::SetTaskRoutine("saveOUT", [&] {
      running = true;
      while (!rv::StopRequested()) std::this_thread::sleep_for(1ms);
      return true;
    });
    QVERIFY(w.StartTask("saveOUT"));
    QTRY_VERIFY(running.load());
    QTest::mouseClick(w.BitBtnKT, Qt::LeftButton);
    QVERIFY(!rv::WorkerExists());
    QTest::qWait(100);
    QCOMPARE(done.count(), 0);  // a kill has no completion...
    QVERIFY(!w.ImageX->isHidden());  // ...so the window stays as the task left it

    // The program reads a file again.
    w.TreeRIFF->clear();
    Open(w, path);
    QVERIFY(w.TreeRIFF->topLevelItemCount() == 1);
    QVERIFY(w.BitBtnIDX->isEnabled());
    QVERIFY(w.StartTask("findKK"));
    QTRY_COMPARE(done.count(), 1);
  }

  void aKilledTasksQuestionIsNeverShown() {
    TFormMain& w = NewWindow();
    QSignalSpy done(&w, &TFormMain::taskCompleted);
    std::atomic<bool> asking{false};
    std::atomic<int> answer{-1};
    rv::SetTaskRoutine("saveOUT", [&] {
      asking = true;
      answer = rv::AskYesNo("вопрос задачи") ? 1 : 0;
      return true;
    });
    QVERIFY(w.StartTask("saveOUT"));
    // Wait, without handling window events, until the question is on its way.
    for (int i = 0; i < 2000 && !asking; ++i) std::this_thread::sleep_for(1ms);
    QVERIFY(asking.load());
    std::this_thread::sleep_for(50ms);
    w.BitBtnKTClick();
    QVERIFY(!rv::WorkerExists());
    QTRY_COMPARE(answer.load(), 0);
    QTest::qWait(50);
    QCOMPARE(dialogsShown_, 0);
    QCOMPARE(done.count(), 0);
  }

  void questionsOfTheWorkerGoThroughTheDialog() {
    TFormMain& w = NewWindow();
    QSignalSpy done(&w, &TFormMain::taskCompleted);
    QThread* dialogThread = nullptr;
    QString shownText;
    TFormYesNo::SetAutoAnswer([&](TFormYesNo& dialog) {
      ++dialogsShown_;
      dialogThread = QThread::currentThread();
      if (auto* label = dialog.findChild<QLabel*>("LabelTXT")) shownText = label->text();
      return 1;
    });
    std::atomic<int> first{-1}, second{-1};
    rv::SetTaskRoutine("saveOUT", [&] {
      first = rv::AskYesNo("продолжить?") ? 1 : 0;
      second = rv::AskYesNo("ещё раз?") ? 1 : 0;
      return true;
    });
    // Scripted answers are taken in order and never reach the dialog.
    rv::PushScriptedAnswer(true);
    rv::PushScriptedAnswer(false);
    QVERIFY(w.StartTask("saveOUT"));
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(first.load(), 1);
    QCOMPARE(second.load(), 0);
    QCOMPARE(dialogsShown_, 0);

    // Without a script the question goes to the dialog on the window thread, and the task
    // waits for its answer.
    rv::SetTaskRoutine("saveOUT", [&] {
      first = rv::AskYesNo("продолжить?") ? 1 : 0;
      return true;
    });
    QVERIFY(w.StartTask("saveOUT"));
    QTRY_COMPARE(done.count(), 2);
    QCOMPARE(first.load(), 1);
    QCOMPARE(dialogsShown_, 1);
    QCOMPARE(dialogThread, QThread::currentThread());
    QVERIFY(shownText.contains(U("продолжить?")));
    QVERIFY(rv::LastAnswer());
    TFormYesNo::SetAutoAnswer([this](TFormYesNo&) {
      ++dialogsShown_;
      return 0;
    });
  }

  void streamCheckMessagesAreCarriedToTheWindow() {
    TFormMain& w = NewWindow();
    QSignalSpy done(&w, &TFormMain::taskCompleted);
    std::atomic<bool> passed{false};
    bool passedWhenShown = true;
    int shownCode = 0;
    qint64 shownValue = 0;
    int progressSignals = 0;
    qint64 lastPercent = -1;
    qint64 percentWhenShown = -1;
    connect(&host_, &GuiHost::checkMessage, &w, [&](int code, qint64 value) {
      shownCode = code;
      shownValue = value;
      passedWhenShown = passed;
      percentWhenShown = lastPercent;
    });
    QString lastText;
    connect(&host_, &GuiHost::progress, &w, [&](const rv::Progress& p) {
      ++progressSignals;
      lastPercent = p.percent;
      lastText = QString::fromStdString(p.text);
    });
    constexpr int kSteps = 200000;
    rv::SetTaskRoutine("createIDX1", [&] {
      for (int i = 0; i < kSteps; ++i) {
        rv::ReportProgress(rv::ProgressTarget::kStreamCheck, i * 100 / kSteps,
                           "ptr: " + std::to_string(i));
      }
      rv::SendCheckMessage(4, 7);  // blocks until the window has handled it
      passed = true;
      return true;
    });
    QVERIFY(w.StartTask("createIDX1"));
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(shownCode, 4);
    QCOMPARE(shownValue, qint64(7));
    QVERIFY(!passedWhenShown);
    // The progress arrived coalesced, and its latest value before the prompt.
    QCOMPARE(percentWhenShown, qint64(99));
    QVERIFY2(progressSignals < kSteps / 10, qPrintable(QString::number(progressSignals)));
    QCOMPARE(lastPercent, qint64(99));
    QCOMPARE(lastText, QString("ptr: %1").arg(kSteps - 1));
  }

  void keyframeProgress() {
    TFormMain& w = NewWindow();
    w.GaugeSA->SetProgress(10);
    host_.ShowProgress({rv::ProgressTarget::kKeyframes, 25, true, "50 >> 200", 7});
    QTRY_COMPARE(w.GaugeKS->Progress(), 25);
    QCOMPARE(w.LabelKKP->text(), QString("50 >> 200"));
    QCOMPARE(w.LabelIO->text(), U("найдено опорных кадров: 7"));
    QCOMPARE(w.GaugeSA->Progress(), 10);  // another target's gauge stays
  }

  void messagesAndLabelsFromTheWorkerReachTheWindow() {
    TFormMain& w = NewWindow();
    QSignalSpy done(&w, &TFormMain::taskCompleted);
    rv::SignsOff();
    w.RefreshLabels();
    rv::SetTaskRoutine("saveOUT", [] {
      rv::AddMessage("• из задачи");
      rv::SetLabel(rv::kLabelASTRF, rv::LabelColor::Blue);
      rv::SetLabel(rv::kLabelMOVI, rv::LabelColor::Maroon);
      return true;
    });
    QVERIFY(w.StartTask("saveOUT"));
    QTRY_COMPARE(done.count(), 1);
    QTRY_COMPARE(MemoLines(w), QStringList{U("• из задачи")});
    QCOMPARE(Colour(w.LabelASTRF), kBlue);
    QCOMPARE(Colour(w.LabelMOVI), kMaroon);
    QCOMPARE(Colour(w.LabelAVIH), kGray);
    rv::SignsOff();
  }

  // ---- layout -----------------------------------------------------------------------------------

  void panelsFitTheWindowUntilASplitterIsMoved() {
    TFormMain& w = NewWindow();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto laidOut = [&] {
      QList<int> s = w.SplitterL->sizes();
      return s.value(0) + s.value(1) + w.SplitterL->handleWidth() == w.SplitterL->width();
    };
    QTRY_VERIFY(laidOut());
    QCOMPARE(w.SplitterL->sizes().value(1), TFormMain::kRightColumnWidth);
    w.resize(900, 500);
    QTRY_VERIFY(w.SplitterL->width() > 850 && laidOut());
    QCOMPARE(w.SplitterL->sizes().value(1), TFormMain::kRightColumnWidth);
    QList<int> st = w.SplitterST->sizes();
    QVERIFY(std::abs(st.value(0) - st.value(1)) <= 1);

    // Dragged by hand: the window leaves the panels alone until Image1 is clicked.
    QSplitterHandle* handle = w.SplitterL->handle(1);
    const QPoint grip(handle->width() / 2, handle->height() / 2);
    QTest::mousePress(handle, Qt::LeftButton, {}, grip);
    QTest::mouseMove(handle, grip - QPoint(60, 0));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, grip - QPoint(60, 0));
    QVERIFY(!w.AutoFit());
    QTRY_VERIFY(laidOut());
    const int dragged = w.SplitterL->sizes().value(1);
    QVERIFY2(dragged > TFormMain::kRightColumnWidth + 30, qPrintable(QString::number(dragged)));
    w.resize(1000, 500);
    QTRY_VERIFY(w.SplitterL->width() > 950 && laidOut());
    QCOMPARE(w.SplitterL->sizes().value(1), dragged);
    QTest::mouseClick(w.Image1, Qt::LeftButton);
    QVERIFY(w.AutoFit());
    QCOMPARE(w.SplitterL->sizes().value(1), TFormMain::kRightColumnWidth);
  }
};

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
