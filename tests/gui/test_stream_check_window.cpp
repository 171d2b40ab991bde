// The stream-check window driven through the main window: opening in its two modes, starting,
// continuing and stopping a check, the bad-block grid, closing rules, autostart, the file
// actions, the exclusion-list panel and the dump of a bad block.
#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QTableWidget>
#include <QTest>

#include <atomic>
#include <chrono>
#include <numeric>
#include <thread>

#include "check/bad_blocks.h"
#include "gui/stream_check/stream_check_window.h"
#include "check/index.h"
#include "check/scanner.h"
#include "gui/common/gui_host.h"
#include "gui/main_window/main_window.h"
#include "gui/common/widgets.h"
#include "core/options.h"
#include "core/questions.h"
#include "core/task_routines.h"
#include "core/tasks.h"
#include "fixtures/avi_builder.h"
#include "riff/blocks.h"
#include "riff/header.h"
#include "riff/source.h"
#include "gui/common/dump_window.h"
#include "gui/common/question_dialog.h"

namespace {

constexpr int kWaitMs = 20000;


// A small AVI whose second video chunk (600 bytes, declared correctly) is followed by 100 zero
// bytes, so its size field does not lead to the next block.
struct Sample {
  std::string path;
  uint32_t moviPos = 0;   // file position of the four bytes "movi"
  uint32_t badAt = 0;     // file position of the bad chunk's ID
  uint32_t badSize = 600;
  size_t chunks = 0;      // stream chunks in the movi list
};

rvt::Bytes NoRepeats(size_t n) {
  rvt::Bytes b(n);
  for (size_t j = 0; j < n; ++j) b[j] = uint8_t(j % 251 + 1);  // no two equal bytes in a row
  return b;
}

std::vector<rvt::Node> Hdrl() {
  using namespace rvt;
  return {List("hdrl", {Chunk("avih", AvihPayload({})),
                        List("strl", {Chunk("strh", StrhPayload("vids", "XVID", {})),
                                      Chunk("strf", VideoStrf(320, 240, "XVID"))})})};
}

Sample WriteSample(const rvt::TempDir& dir, const char* name, bool damaged, bool withIdx1 = true) {
  using namespace rvt;
  std::vector<Node> movi = {Chunk("00dc", Pattern(400, 1)), Chunk("01wb", Pattern(200, 2)),
                            Chunk("00dc", NoRepeats(600)).Label("bad")};
  if (damaged) movi.push_back(Raw(Filled(100, 0)));
  movi.push_back(Chunk("01wb", Pattern(200, 3)));
  movi.push_back(Chunk("00dc", Pattern(300, 4)));
  const size_t chunks = 5;
  std::vector<Node> top = Hdrl();
  top.push_back(List("movi", std::move(movi)).Label("movi"));
  if (withIdx1) top.push_back(Chunk("idx1", Idx1({{"00dc", 0x10, 4, 400}})));
  const Image img = Build(Riff("AVI ", std::move(top)));
  Sample s;
  s.path = dir.Write(name, img.bytes);
  s.moviPos = img.Offset("movi") + 8;
  s.badAt = img.Offset("bad");
  s.chunks = chunks;
  return s;
}

std::string WriteNoMovi(const rvt::TempDir& dir) {
  using namespace rvt;
  return dir.Write("nomovi.avi", Build(Riff("AVI ", Hdrl())).bytes);
}

template <class T>
T* Find(QObject* parent, const char* name) {
  T* w = parent->findChild<T*>(Q(name));
  if (!w) qWarning("no control %s", name);
  return w;
}

QString PictureOf(QObject* o) { return o->property("picture").toString(); }

QString Cell(int row, int column) {
  QTableWidgetItem* item = FormMI().StringER->item(row, column);
  return item ? item->text() : QStringLiteral("<none>");
}

QStringList Row(int row) {
  QStringList cells;
  for (int c = 0; c < 9; ++c) cells << Cell(row, c);
  return cells;
}

std::array<int, 9> ColumnWidths(const QTableWidget* grid) {
  std::array<int, 9> w{};
  for (int c = 0; c < 9; ++c) w[size_t(c)] = grid->columnWidth(c);
  return w;
}

// The width the header text of a column takes, with the style's margin on either side.
int HeaderTextWidth(const QTableWidget* grid, int column) {
  const QHeaderView* header = grid->horizontalHeader();
  const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
  return header->fontMetrics().horizontalAdvance(grid->horizontalHeaderItem(column)->text()) + 2 * margin;
}

// The header texts of a grid that are cut: the column is narrower than the text, or the
// header lower than a line of its font.
QStringList ClippedHeaders(const QTableWidget* grid) {
  QStringList clipped;
  for (int c = 0; c < grid->columnCount(); ++c)
    if (grid->columnWidth(c) < HeaderTextWidth(grid, c) ||
        grid->horizontalHeader()->height() < grid->horizontalHeader()->fontMetrics().height())
      clipped << grid->horizontalHeaderItem(c)->text();
  return clipped;
}

// The visible captions of a window that its layout left narrower or lower than their text.
QStringList ClippedCaptions(QWidget* window) {
  QStringList clipped;
  for (QAbstractButton* b : window->findChildren<QAbstractButton*>())
    if (b->isVisibleTo(window) && !b->text().isEmpty() &&
        (b->width() < b->sizeHint().width() || b->height() < b->fontMetrics().height()))
      clipped << b->objectName();
  for (QLabel* l : window->findChildren<QLabel*>())
    if (l->isVisibleTo(window) && !l->text().isEmpty() &&
        (l->width() < l->fontMetrics().horizontalAdvance(l->text()) ||
         l->height() < l->fontMetrics().height()))
      clipped << l->objectName();
  return clipped;
}

}  // namespace

class TestStreamCheckWindow : public QObject {
  Q_OBJECT

  rvt::TempDir dir_{"scw"};
  GuiHost* host_ = nullptr;
  TFormMain* main_ = nullptr;
  Sample damaged_, clean_;

  void OpenFile(const std::string& path) {
    main_->EditIN->setText(QString::fromStdString(path));
    main_->BitBtnGO->click();
    QVERIFY(rv::HasBlock("RIFF", "AVI ") || path.empty());
  }

  // Opens the window in the creation mode and runs one check to its end.
  void RunCheck() {
    main_->BitBtnIDX1->click();
    QVERIFY(FormMI().isVisible());
    FormMI().ImageGO->click();
    QTRY_VERIFY_WITH_TIMEOUT(!rv::WorkerExists() && FormMI().GoState() == "start", kWaitMs);
  }

  QStringList ExpectedBadRow() const {
    const uint32_t movi = damaged_.badAt - damaged_.moviPos;
    return {"1", "2", "00dc", QString::number(damaged_.badAt), QString::number(movi), "600", "700",
            "100", "100(00) at 608"};
  }

 private Q_SLOTS:
  void initTestCase() {
    // A question that no test scripted must not hang the run: it is answered "no".
    TFormYesNo::SetAutoAnswer([](TFormYesNo&) { return 0; });
    rv::InstallTaskRoutines();
    host_ = new GuiHost;
    host_->Install();
    main_ = new TFormMain;
    main_->AttachHost(host_);
    main_->AttachStreamCheckWindow(FormMI());
    main_->show();
    damaged_ = WriteSample(dir_, "damaged.avi", true);
    clean_ = WriteSample(dir_, "clean.avi", false);
  }

  void cleanupTestCase() {
    FormMI().hide();
    delete main_;
    delete host_;
  }

  void init() {
    rv::ClearScriptedAnswers();
    main_->CheckFI->setChecked(true);
    main_->CheckLF->setChecked(false);
    main_->CheckPPSI->setChecked(false);
    rv::CloseCheckWindowFlag() = 0;
  }

  void cleanup() {
    if (rv::WorkerExists()) {
      rv::RequestStop();
      QTRY_VERIFY_WITH_TIMEOUT(!rv::WorkerExists(), kWaitMs);
    }
    rv::InstallTaskRoutines();
    FormMI().PanelEX->hide();
    FormMI().hide();
    FormMI().setWindowTitle(QString());
    FormDU().hide();
    rv::ClearExclusions();
  }

  // ---- the window as created ------------------------------------------------------------------

  void createdWithItsControls() {
    TFormMI& w = FormMI();
    QCOMPARE(&FormMI(), &w);
    QCOMPARE(w.objectName(), QStringLiteral("FormMI"));
    QVERIFY(w.isWindow());
    QVERIFY(!w.isModal());
    QCOMPARE(w.FirstShowFlag(), uint8_t(1));
    // The design size, grown only where the controls do not fit in it with this font.
    QCOMPARE(w.size(), QSize(625, 413).expandedTo(w.minimumSizeHint()));
    // Centred; a window larger than the screen keeps its top left corner on it.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QCOMPARE(w.pos(), QPoint(std::max(screen.x(), screen.x() + (screen.width() - w.width()) / 2),
                             std::max(screen.y(), screen.y() + (screen.height() - w.height()) / 2)));

    QCOMPARE(Find<QLabel>(&w, "Label1")->text(), Q("список кривых блоков"));
    QVERIFY(Find<QWidget>(&w, "Panel1"));
    auto* ptr = Find<QLabel>(&w, "LabelPTR");
    QCOMPARE(ptr->text(), QStringLiteral("ptr:"));
    QVERIFY(ptr->isHidden());
    QVERIFY(w.Panel1->isAncestorOf(ptr));
    auto* hi = Find<QCheckBox>(&w, "CheckHI");
    QCOMPARE(hi->text(), Q("высокий приоритет задачи"));
    QVERIFY(hi->isChecked());
    QVERIFY(Find<QWidget>(&w, "ImageFF")->isHidden());
    QVERIFY(Find<QWidget>(&w, "ImageEX")->isHidden());
    QVERIFY(Find<QWidget>(&w, "PanelBB"));

    auto* go = Find<PictureButton>(&w, "ImageGO");
    QCOMPARE(go->toolTip(), QStringLiteral("start"));
    QCOMPARE(go->PictureName(), QStringLiteral("ImageST"));
    QVERIFY(Find<PieGauge>(&w, "GaugeIDX1")->isHidden());
    QVERIFY(Find<QLineEdit>(&w, "EditSE"));
    QVERIFY(Find<PictureButton>(&w, "ImageSE"));
    QCOMPARE(Find<QCheckBox>(&w, "CheckSA")->text(), Q("сохранить ошибки"));
    QCOMPARE(Find<QCheckBox>(&w, "CheckRE")->text(), Q("загрузить ошибки"));
    QCOMPARE(Find<QCheckBox>(&w, "CheckLI")->text(), Q("сохранить в виде списка"));
    QVERIFY(w.CheckLI->isChecked());
    QVERIFY(!w.CheckSA->isChecked());
    QVERIFY(!w.CheckRE->isChecked());
    QVERIFY(PictureOf(Find<QLabel>(&w, "ImageGG")).isEmpty());
    auto* label2 = Find<QLabel>(&w, "Label2");
    QCOMPARE(label2->text(), Q("правим индекс"));
    QVERIFY(!label2->isEnabled());

    const std::pair<const char*, const char*> radios[] = {
        {"RadioEQ", "убрать области повторов, там где их размеры равны дельте"},
        {"RadioREIS", "убрать области повторов и исправить размер"},
        {"RadioRENO", "убрать области повторов, размеры считать правильными"},
        {"RadioRERE", "убрать области повторов и пересканировать chunk-и"},
        {"RadioISME", "если заявленный размер < реального - считать его правильным, иначе - исправить"},
        {"RadioISALL", "исправить размеры кривых блоков"}};
    for (const auto& [name, caption] : radios) QCOMPARE(Find<QRadioButton>(&w, name)->text(), Q(caption));
    QVERIFY(w.RadioEQ->isChecked());
    QCOMPARE(w.RadioEQ->toolTip(), Q("исправлять ничего не надо, ибо заявленный размер станет равен реальному."));
    QCOMPARE(w.RadioREIS->toolTip(), Q("сделать размер равным реальному размеру - дельта."));
    QCOMPARE(Find<QCheckBox>(&w, "CheckDP")->text(), Q("если дельта положительна"));
    QCOMPARE(Find<QCheckBox>(&w, "CheckZR")->text(), Q("только повторы нулей"));
    QVERIFY(w.CheckDP->isChecked() && w.CheckZR->isChecked());
    QCOMPARE(Find<QLabel>(&w, "LabelMS")->text(), Q("размеры повторов не менее               байт"));
    auto* ms = Find<QLineEdit>(&w, "EditMS");
    QCOMPARE(ms->text(), QStringLiteral("100"));
    QCOMPARE(ms->maxLength(), 4);
    QVERIFY(Find<PictureButton>(&w, "ImageHAMMER"));
    QVERIFY(Find<QWidget>(&w, "ImageWA")->isHidden());
    QVERIFY(Find<QWidget>(&w, "PanelEX")->isHidden());
    QVERIFY(Find<PictureButton>(&w, "ImageEXX"));
    QVERIFY(Find<QTableWidget>(&w, "StringEX"));

    auto* grid = Find<QTableWidget>(&w, "StringER");
    QCOMPARE(grid->columnCount(), 9);
    QCOMPARE(grid->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(grid->rowCount(), 2);
    const QStringList header = {"", "#", "id", Q("offset в файле"), Q("offset в потоке"),
                                Q("заявл.размер"), Q("реальн.размер"), Q("дельта"), Q("max повтор")};
    QCOMPARE(Row(0), header);
    for (int c = 0; c < 9; ++c) QCOMPARE(grid->horizontalHeaderItem(c)->text(), header[c]);
    QCOMPARE(Row(1), QStringList(9, QString()));
    auto* popup = Find<QMenu>(&w, "PopupER");
    QCOMPARE(Find<QAction>(popup, "MIdump")->text(), Q("посмотреть dump"));
  }

  void highPriorityBoxDrivesTheOption() {
    FormMI().CheckHI->click();
    QVERIFY(!rv::Opt().highPriorityCheck);
    FormMI().CheckHI->click();
    QVERIFY(rv::Opt().highPriorityCheck);
  }

  void columnWidthsFollowTheClientWidth() {
    const auto w = TFormMI::DfxWidths(600, TFormMI::kDesignWidths);
    // (600 - 31 - 47 - 50) / 6 = 78; the last column takes the rest less 9.
    QCOMPARE(w, (std::array<int, 9>{31, 47, 50, 78, 78, 78, 78, 78, 73}));
    const auto narrow = TFormMI::DfxWidths(200, {20, 30, 40, 1, 1, 1, 1, 1, 1});
    QCOMPARE(narrow, (std::array<int, 9>{20, 30, 40, 18, 18, 18, 18, 18, 11}));
  }

  void columnsAreNeverNarrowerThanTheirHeaders() {
    const auto& design = TFormMI::kDesignWidths;
    // Headers that fit in their columns change nothing.
    QCOMPARE(TFormMI::DfxWidths(600, design, {20, 40, 50, 78, 60, 78, 70, 40, 73}),
             (std::array<int, 9>{31, 47, 50, 78, 78, 78, 78, 78, 73}));
    // A header wider than its sixth keeps its width; the other shares shrink so that the last
    // header fits too and 9 pixels stay free: 4 * 73 + 90 + 81 = 600 - 128 - 9.
    QCOMPARE(TFormMI::DfxWidths(600, design, {0, 0, 0, 0, 0, 0, 90, 0, 80}),
             (std::array<int, 9>{31, 47, 50, 73, 73, 73, 90, 73, 81}));
    // A last header wider than what remains takes from the shares.
    QCOMPARE(TFormMI::DfxWidths(600, design, {0, 0, 0, 0, 0, 0, 0, 0, 100}),
             (std::array<int, 9>{31, 47, 50, 72, 72, 72, 72, 72, 103}));
    // Columns 0 to 2 grow to their headers too.
    QCOMPARE(TFormMI::DfxWidths(600, design, {40, 0, 0, 0, 0, 0, 0, 0, 0}),
             (std::array<int, 9>{40, 47, 50, 77, 77, 77, 77, 77, 69}));
    // Too narrow for the headers: each column at its header's width, the grid scrolls.
    QCOMPARE(TFormMI::DfxWidths(300, design, {0, 0, 0, 100, 100, 100, 100, 100, 100}),
             (std::array<int, 9>{31, 47, 50, 100, 100, 100, 100, 100, 100}));

    // The narrowest client width that fits every header and the 9 free pixels.
    const std::array<int, 9> least = {0, 0, 60, 90, 93, 86, 94, 49, 76};
    const int narrowest = TFormMI::DfxLeastClientWidth(design, least);
    QCOMPARE(narrowest, 31 + 47 + 60 + 90 + 93 + 86 + 94 + 49 + 76 + 9);
    auto sum = [](const std::array<int, 9>& w) { return std::accumulate(w.begin(), w.end(), 0); };
    for (int client : {narrowest, narrowest + 1, narrowest + 5, narrowest + 100}) {
      const auto fit = TFormMI::DfxWidths(client, design, least);
      QCOMPARE(sum(fit), client - 9);
      for (size_t c = 0; c < 9; ++c) QVERIFY(fit[c] >= least[c]);
    }
    QVERIFY(sum(TFormMI::DfxWidths(narrowest - 1, design, least)) > narrowest - 1 - 9);
  }

  void gridColumnsFollowTheClientWidth() {
    OpenFile(clean_.path);
    main_->BitBtnIDX1->click();
    TFormMI& mi = FormMI();
    QTableWidget* grid = mi.StringER;
    const auto& design = TFormMI::kDesignWidths;
    // A width at which every header fits in an even sixth.
    int widest = 0;
    for (int c = 3; c < 9; ++c) widest = std::max(widest, HeaderTextWidth(grid, c));
    const int roomy = mi.width() - grid->viewport()->width() + design[0] + design[1] + design[2] +
                      6 * (widest + 9);
    // 1: as narrow as the window lets itself be made.
    for (int width : {1, 625, 800, 700, roomy}) {
      mi.resize(width, 413);
      QTRY_COMPARE(ColumnWidths(grid), TFormMI::DfxWidths(grid->viewport()->width(), design, mi.HeaderWidths()));
      QVERIFY2(ClippedHeaders(grid).isEmpty(), qPrintable(ClippedHeaders(grid).join(", ")));
      // All of them leave 9 pixels at the right: the window is never so narrow that the grid
      // has to scroll.
      const auto w = ColumnWidths(grid);
      QCOMPARE(std::accumulate(w.begin(), w.end(), 0), grid->viewport()->width() - 9);
      for (int c = 0; c < 3; ++c) QCOMPARE(w[size_t(c)], std::max(design[size_t(c)], HeaderTextWidth(grid, c)));
    }
    // With room for every header, columns 3 to 7 share the rest evenly.
    QCOMPARE(mi.width(), roomy);
    QCOMPARE(ColumnWidths(grid), TFormMI::DfxWidths(grid->viewport()->width(), design));
    for (int c = 4; c <= 7; ++c) QCOMPARE(grid->columnWidth(c), grid->columnWidth(3));
    mi.resize(625, 413);
  }

  // ---- opening -------------------------------------------------------------------------------

  void nothingOpensWithoutAFileName() {
    main_->EditIN->clear();
    main_->BitBtnIDX1->click();
    QVERIFY(!FormMI().isVisible());
  }

  void openingAFileResetsTheWindow() {
    TFormMI& mi = FormMI();
    mi.EditSE->setText("leftover");
    mi.CheckSA->setEnabled(false);
    OpenFile(damaged_.path);
    QCOMPARE(mi.GoState(), QStringLiteral("start"));
    QCOMPARE(mi.ImageGO->PictureName(), QStringLiteral("ImageST"));
    QVERIFY(mi.CheckSA->isEnabled());
    QCOMPARE(mi.EditSE->text(), QString::fromStdString(damaged_.path) + ".errors.txt");
    QVERIFY(mi.CheckLI->isChecked());
    QCOMPARE(mi.StringER->rowCount(), 2);
    QCOMPARE(Row(1), QStringList(9, QString()));
    QCOMPARE(QString::fromStdString(rv::InputFileName()), main_->EditIN->text());
  }

  void fileActionsActAsOneChoice() {
    OpenFile(damaged_.path);
    TFormMI& mi = FormMI();
    const QString base = QString::fromStdString(damaged_.path);
    struct Step {
      QCheckBox* box;
      const char* suffix;
      const char* picture;
    } steps[] = {{mi.CheckSA, ".2fix", "ImageFR"}, {mi.CheckSA, ".2fix", "ImageFR"},
                 {mi.CheckRE, ".2fix", "ImageDU"}, {mi.CheckLI, ".errors.txt", "ImageFG"}};
    for (const Step& s : steps) {
      mi.EditSE->setText("typed");
      s.box->click();
      for (QCheckBox* b : {mi.CheckSA, mi.CheckRE, mi.CheckLI}) QCOMPARE(b->isChecked(), b == s.box);
      QCOMPARE(mi.EditSE->text(), base + s.suffix);
      QCOMPARE(mi.ImageSE->PictureName(), Q(s.picture));
      QVERIFY(PictureOf(mi.ImageGG).isEmpty());
    }
  }

  // ---- a check -------------------------------------------------------------------------------

  void scanShowsTheBadBlock() {
    OpenFile(damaged_.path);
    main_->BitBtnIDX1->click();
    TFormMI& mi = FormMI();
    QVERIFY(mi.isVisible());
    QCOMPARE(mi.windowTitle(), Q("проверка потока и создание индекса"));
    QVERIFY(!mi.ImageSE->isHidden() && !mi.ImageHAMMER->isHidden());
    QVERIFY(mi.EditSE->isEnabled() && mi.RadioISALL->isEnabled() && mi.EditMS->isEnabled());
    QCOMPARE(mi.EditSE->palette().color(QPalette::Base), QColor(Qt::white));

    mi.ImageGO->click();
    QCOMPARE(mi.FirstShowFlag(), uint8_t(0));
    QTRY_VERIFY_WITH_TIMEOUT(!rv::WorkerExists() && mi.GoState() == "start", kWaitMs);
    QCOMPARE(mi.ImageGO->PictureName(), QStringLiteral("ImageST2"));
    QCOMPARE(rv::Index().entries.size(), damaged_.chunks);
    QCOMPARE(rv::BadBlocks().size(), size_t(1));
    QCOMPARE(mi.StringER->rowCount(), 2);
    QCOMPARE(Row(1), ExpectedBadRow());
    QVERIFY(mi.isVisible());  // a check that found something leaves the window open
    QCOMPARE(mi.size(), QSize(625, 413).expandedTo(mi.minimumSizeHint()));
    QVERIFY2(ClippedHeaders(mi.StringER).isEmpty(), qPrintable(ClippedHeaders(mi.StringER).join(", ")));
    QVERIFY2(ClippedCaptions(&mi).isEmpty(), qPrintable(ClippedCaptions(&mi).join(", ")));
    QTRY_VERIFY(mi.GaugeIDX1->isHidden() && mi.LabelPTR->isHidden());
    QVERIFY(main_->BitBtnFSD->isEnabled());

    if (qEnvironmentVariableIsSet("RIVETTA_SCREENSHOT"))
      mi.grab().save(qEnvironmentVariable("RIVETTA_SCREENSHOT"));
  }

  void stopStateStartsNothingWhileAWorkerRuns() {
    // A second starter is refused while a task runs, whatever ImageGO shows.
    OpenFile(damaged_.path);
    static std::atomic<bool> release;
    release = false;
    rv::SetTaskRoutine("saveOUT", [] {
      while (!release && !rv::StopRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
      return true;
    });
    main_->BitBtnIDX1->click();
    QVERIFY(main_->StartTask("saveOUT"));
    FormMI().ImageGO->click();
    QCOMPARE(FormMI().GoState(), QStringLiteral("start"));
    QCOMPARE(QString::fromStdString(rv::TaskCommand()), QStringLiteral("saveOUT"));
    release = true;
    QTRY_VERIFY_WITH_TIMEOUT(!rv::WorkerExists(), kWaitMs);
    rv::SetTaskRoutine("saveOUT", {});
  }

  void secondStartAsksContinueOrAnew() {
    OpenFile(damaged_.path);
    RunCheck();
    TFormMI& mi = FormMI();
    const QStringList expected = ExpectedBadRow();

    // A record that only an earlier scan could have left: a new scan drops it.
    rv::BadBlock extra = rv::BadBlocks().front();
    extra.EntryIndex = 4;
    extra.MoviOffset = 1;
    rv::BadBlocks().push_back(extra);
    rv::Crashed2SG();
    mi.MirrorGrid();
    QCOMPARE(mi.StringER->rowCount(), 3);
    rv::Index().entries.pop_back();  // and an index that a new scan rebuilds in full

    rv::ClearScriptedAnswers();
    rv::PushScriptedAnswer(false);  // "сначала"
    mi.ImageGO->click();
    QCOMPARE(rv::AskedQuestions().size(), size_t(1));
    QCOMPARE(QString::fromStdString(rv::AskedQuestions().front()), Q("продолжить проверку\r\nили начать сначала?"));
    QCOMPARE(rv::Dialog().defaultAnswer, 'n');
    QCOMPARE(rv::Index().continueCheck, char(0));
    QTRY_VERIFY_WITH_TIMEOUT(!rv::WorkerExists() && mi.GoState() == "start", kWaitMs);
    QCOMPARE(rv::BadBlocks().size(), size_t(1));
    QCOMPARE(mi.StringER->rowCount(), 2);
    QCOMPARE(Row(1), expected);
    QCOMPARE(rv::Index().entries.size(), damaged_.chunks);
    QCOMPARE(rv::Index().entries.front().dwChunkOffset, 4u);

    // "продолжить" keeps both lists and goes on after the last entry: nothing is left there.
    rv::BadBlocks().push_back(extra);
    rv::Crashed2SG();
    mi.MirrorGrid();
    rv::ClearScriptedAnswers();
    rv::PushScriptedAnswer(true);
    mi.ImageGO->click();
    QCOMPARE(rv::AskedQuestions().size(), size_t(1));
    QCOMPARE(rv::Index().continueCheck, 'y');
    QTRY_VERIFY_WITH_TIMEOUT(!rv::WorkerExists() && mi.GoState() == "start", kWaitMs);
    QCOMPARE(rv::BadBlocks().size(), size_t(2));
    QCOMPARE(mi.StringER->rowCount(), 3);
    QCOMPARE(Row(1), expected);
    QCOMPARE(Cell(2, 1), QStringLiteral("4"));
    QCOMPARE(rv::Index().entries.size(), damaged_.chunks);
  }

  void noQuestionOnAnEmptyIndex() {
    OpenFile(damaged_.path);
    rv::ClearScriptedAnswers();
    RunCheck();
    QVERIFY(rv::AskedQuestions().empty());
  }

  void brokenLinkQuestionChecksCheckFI() {
    OpenFile(damaged_.path);
    main_->CheckFI->setChecked(false);
    QVERIFY(!rv::Opt().searchNext);
    rv::PushScriptedAnswer(true);  // search byte by byte
    RunCheck();
    QCOMPARE(rv::AskedQuestions().size(), size_t(1));
    QVERIFY(QString::fromStdString(rv::AskedQuestions().front()).startsWith(Q("кривая ссылка в потоке")));
    QCOMPARE(Row(1), ExpectedBadRow());
    QVERIFY(main_->CheckFI->isChecked());
  }

  void stopAnsweredNoLetsTheCheckRunOn() {
    OpenFile(damaged_.path);
    static std::atomic<int> steps;
    steps = 0;
    rv::SetTaskRoutine("createIDX1", [] {
      rv::CloseCheckWindowFlag() = 0;
      while (!rv::StopRequested()) {
        ++steps;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      return false;
    });
    main_->BitBtnIDX1->click();
    TFormMI& mi = FormMI();
    mi.ImageGO->click();
    QVERIFY(rv::WorkerExists());
    QCOMPARE(mi.GoState(), QStringLiteral("stop"));
    QCOMPARE(mi.ImageGO->PictureName(), QStringLiteral("ImageXX"));

    // Closing is refused while the task runs.
    mi.close();
    QVERIFY(mi.isVisible());
    QCOMPARE(mi.windowTitle(), Q("сперва прервите обработку"));

    rv::ClearScriptedAnswers();
    rv::PushScriptedAnswer(false);
    mi.ImageGO->click();
    QCOMPARE(QString::fromStdString(rv::AskedQuestions().back()), Q("прервать обработку?"));
    const int before = steps;
    QTRY_VERIFY(steps > before + 5);
    QVERIFY(rv::WorkerExists());
    QCOMPARE(mi.GoState(), QStringLiteral("stop"));

    rv::PushScriptedAnswer(true);
    mi.ImageGO->click();
    QTRY_VERIFY_WITH_TIMEOUT(!rv::WorkerExists() && mi.GoState() == "start", kWaitMs);
    QVERIFY(mi.isVisible());
    mi.close();
    QVERIFY(!mi.isVisible());
    QVERIFY(mi.windowTitle().isEmpty());
  }

  void cleanCheckClosesTheWindow() {
    OpenFile(clean_.path);
    main_->BitBtnIDX1->click();
    TFormMI& mi = FormMI();
    QVERIFY(mi.isVisible());
    mi.ImageGO->click();
    QTRY_VERIFY_WITH_TIMEOUT(!mi.isVisible(), kWaitMs);
    QVERIFY(!rv::WorkerExists());
    QCOMPARE(rv::CloseCheckWindowFlag().load(), uint8_t(1));
    QCOMPARE(rv::Index().entries.size(), clean_.chunks);
    QVERIFY(mi.windowTitle().isEmpty());
    QCOMPARE(mi.GoState(), QStringLiteral("start"));
  }

  void fileWithoutStreamIsRefused() {
    OpenFile(WriteNoMovi(dir_));
    main_->BitBtnIDX1->click();
    TFormMI& mi = FormMI();
    QVERIFY(mi.isVisible());
    mi.ImageGO->click();
    QCOMPARE(mi.windowTitle(), Q("не найден поток"));
    QVERIFY(!rv::WorkerExists());
    QCOMPARE(mi.GoState(), QStringLiteral("start"));
    QCOMPARE(mi.ImageGO->PictureName(), QStringLiteral("ImageST"));
  }

  void autostartOnlyOnTheFirstShow() {
    TFormMI& mi = FormMI();
    OpenFile(damaged_.path);
    // Without CheckPPSI the first show starts nothing.
    mi.SetFirstShowFlag(1);
    main_->BitBtnIDX1->click();
    QVERIFY(mi.isVisible());
    QVERIFY(!rv::WorkerExists());
    QCOMPARE(mi.GoState(), QStringLiteral("start"));
    mi.close();

    main_->CheckPPSI->setChecked(true);
    QVERIFY(rv::Opt().autostart);
    main_->BitBtnIDX1->click();
    QTRY_COMPARE(rv::BadBlocks().size(), size_t(1));  // started at once
    QTRY_VERIFY_WITH_TIMEOUT(!rv::WorkerExists() && mi.GoState() == "start", kWaitMs);
    QCOMPARE(mi.FirstShowFlag(), uint8_t(0));
    QCOMPARE(Row(1), ExpectedBadRow());
    mi.close();

    // Later openings do not start.
    OpenFile(damaged_.path);
    main_->BitBtnIDX1->click();
    QVERIFY(mi.isVisible());
    QVERIFY(!rv::WorkerExists());
    QCOMPARE(mi.GoState(), QStringLiteral("start"));
    QVERIFY(rv::Index().entries.empty());
  }

  void visibleWindowIsOnlyBroughtForward() {
    OpenFile(damaged_.path);
    main_->BitBtnIDX1->click();
    TFormMI& mi = FormMI();
    mi.setWindowTitle(Q("не найден поток"));
    main_->BitBtnIDX1->click();
    QCOMPARE(mi.windowTitle(), Q("не найден поток"));
    QVERIFY(mi.isVisible());
  }

  void verificationModeStartsAtOnce() {
    OpenFile(damaged_.path);
    QVERIFY(main_->BitBtnIDX->isEnabled());
    rv::SetTaskRoutine("verifyIDX1", [] {
      rv::CloseCheckWindowFlag() = 0;
      return true;
    });
    main_->BitBtnIDX->click();
    TFormMI& mi = FormMI();
    QVERIFY(mi.isVisible());
    QCOMPARE(mi.windowTitle(), Q("проверка потока по индексу"));
    QVERIFY(mi.ImageSE->isHidden() && mi.ImageHAMMER->isHidden());
    for (QWidget* w : std::initializer_list<QWidget*>{mi.CheckSA, mi.CheckRE, mi.CheckLI, mi.EditSE, mi.RadioEQ,
                                                      mi.RadioREIS, mi.RadioRENO, mi.RadioRERE, mi.RadioISME,
                                                      mi.RadioISALL, mi.CheckDP, mi.CheckZR, mi.LabelMS, mi.EditMS})
      QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
    QCOMPARE(mi.EditSE->palette().color(QPalette::Base), QColor(0xC0, 0xC0, 0xC0));
    QCOMPARE(mi.EditMS->palette().color(QPalette::Base), QColor(0xC0, 0xC0, 0xC0));
    QCOMPARE(QString::fromStdString(rv::TaskCommand()), QStringLiteral("verifyIDX1"));
    QTRY_VERIFY_WITH_TIMEOUT(!rv::WorkerExists() && mi.GoState() == "start", kWaitMs);
    mi.close();

    // The creation mode enables them again.
    main_->BitBtnIDX1->click();
    QVERIFY(!mi.ImageSE->isHidden() && mi.EditSE->isEnabled() && mi.CheckDP->isEnabled());
    mi.close();

    // Without idx1 the verification is refused in the caption.
    OpenFile(WriteSample(dir_, "noidx.avi", true, false).path);
    QVERIFY(!main_->BitBtnIDX->isEnabled());
    mi.OpenVerificationMode();
    QCOMPARE(mi.windowTitle(), Q("не найден индекс"));
    QVERIFY(!rv::WorkerExists());
  }

  void checkWithoutItsTaskEndsAtOnce() {
    // A check whose routine is not installed ends as any other task (completion code 0);
    // ImageGO does not stay at "stop".
    OpenFile(damaged_.path);
    rv::SetTaskRoutine("verifyIDX1", {});
    main_->BitBtnIDX->click();
    TFormMI& mi = FormMI();
    QCOMPARE(mi.windowTitle(), Q("проверка потока по индексу"));
    QTRY_VERIFY_WITH_TIMEOUT(!rv::WorkerExists() && mi.GoState() == "start", kWaitMs);
    QCOMPARE(mi.ImageGO->PictureName(), QStringLiteral("ImageST"));
  }

  void indexCheckRunsToItsEnd() {
    OpenFile(damaged_.path);
    main_->BitBtnIDX->click();
    TFormMI& mi = FormMI();
    QCOMPARE(QString::fromStdString(rv::TaskCommand()), QStringLiteral("verifyIDX1"));
    QTRY_VERIFY_WITH_TIMEOUT(!rv::WorkerExists() && mi.GoState() == "start", kWaitMs);
    QTRY_VERIFY(mi.GaugeIDX1->isHidden());
    // The grid shows what the check left in the bad-block list.
    QCOMPARE(mi.StringER->rowCount(), int(std::max<size_t>(2, rv::BadBlocks().size() + 1)));
  }

  // ---- messages of the worker ------------------------------------------------------------------

  void badBlockMessagesMirrorTheGridModel() {
    OpenFile(damaged_.path);
    main_->BitBtnIDX1->click();
    TFormMI& mi = FormMI();
    rv::BadBlock& b = rv::CurrentBadBlock();
    b = {};
    b.EntryIndex = 7;
    b.ChunkID = 0x63643030;  // "00dc"
    b.FileOffset = 1000;
    b.MoviOffset = 800;
    b.DeclaredSize = 5000;
    b.Mark = '!';
    rv::ShowCurrentBadBlock();
    mi.CheckMessage(rv::kShowBadBlock, 0);
    QCOMPARE(mi.StringER->rowCount(), 2);
    QCOMPARE(Row(1), (QStringList{"1", "7", "00dc", "1000", "800", "5000", "", "", ""}));
    QVERIFY(mi.StringER->selectedItems().isEmpty());  // CheckLF unchecked

    main_->CheckLF->setChecked(true);
    QVERIFY(rv::Opt().followErrors);
    b.RealSize = 4000;
    b.RepeatLength = 1000;
    b.RepeatStart = 28;
    b.Mark = '*';
    rv::ShowCurrentBadBlock();
    mi.CheckMessage(rv::kShowBadBlock, 0);
    QCOMPARE(mi.StringER->rowCount(), 2);
    QCOMPARE(Row(1), (QStringList{"1", "7", "00dc", "1000", "800", "5000", "4000", "-1000", "1000(00) at 28"}));
    QCOMPARE(mi.StringER->currentRow(), 1);

    b.EntryIndex = 9;
    b.Mark = '!';
    rv::ShowCurrentBadBlock();
    mi.CheckMessage(rv::kShowBadBlock, 0);
    QCOMPARE(mi.StringER->rowCount(), 3);
    QCOMPARE(Cell(2, 0), QStringLiteral("2"));
    QCOMPARE(Cell(2, 1), QStringLiteral("9"));
    QCOMPARE(mi.StringER->currentRow(), 2);

    // A model changed behind the window's back is mirrored whole at the next message.
    rv::ResetGrid();
    rv::ShowCurrentBadBlock();
    mi.CheckMessage(rv::kShowBadBlock, 0);
    QCOMPARE(mi.StringER->rowCount(), 2);
    QCOMPARE(Cell(1, 1), QStringLiteral("9"));
    rv::BadBlocks().clear();
  }

  void progressMessagesAndSigns() {
    OpenFile(damaged_.path);
    main_->BitBtnIDX1->click();
    TFormMI& mi = FormMI();
    // The host carries the percentage and the position from the worker thread.
    std::thread worker([] {
      rv::ReportProgress(rv::ProgressTarget::kStreamCheck, 77, "ptr: 5  >>  6");
    });
    worker.join();
    QTRY_COMPARE(mi.GaugeIDX1->Progress(), 77);
    QTRY_COMPARE(mi.LabelPTR->text(), QStringLiteral("ptr: 5  >>  6"));

    rv::ScanUi().gaugeVisible = true;
    rv::ScanUi().pointerVisible = true;
    rv::ScanUi().firstSearchSign = true;
    QTRY_VERIFY(mi.GaugeIDX1->isVisible() && mi.LabelPTR->isVisible() && mi.ImageFF->isVisible());
    rv::ScanUi().gaugeVisible = false;
    rv::ScanUi().pointerVisible = false;
    rv::ScanUi().firstSearchSign = false;
    QTRY_VERIFY(mi.GaugeIDX1->isHidden() && mi.LabelPTR->isHidden() && mi.ImageFF->isHidden());
  }

  // ---- file actions ----------------------------------------------------------------------------

  void savedListAndErrorsComeBack() {
    OpenFile(damaged_.path);
    RunCheck();
    TFormMI& mi = FormMI();
    const QString list = QString::fromStdString(damaged_.path) + ".errors.txt";
    QFile::remove(list);
    mi.CheckLI->click();
    mi.ImageSE->click();
    QCOMPARE(PictureOf(mi.ImageGG), QStringLiteral("ImageRG"));
    QFile f(list);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    f.close();
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines[0].startsWith("      | #     | id    | offset в "));
    QVERIFY(lines[2].startsWith("1     | 2     | 00dc  | "));

    // An existing list: the question, and "нет" leaves it.
    rv::PushScriptedAnswer(false);
    mi.ImageSE->click();
    QCOMPARE(QString::fromStdString(rv::AskedQuestions().back()), Q("файл уже существует. перезаписать?"));
    QCOMPARE(PictureOf(mi.ImageGG), QStringLiteral("ImageAT"));

    // Errors saved, the state lost, the errors loaded again.
    const QString fix = QString::fromStdString(damaged_.path) + ".2fix";
    QFile::remove(fix);
    mi.CheckSA->click();
    mi.ImageSE->click();
    QCOMPARE(PictureOf(mi.ImageGG), QStringLiteral("ImageRG"));
    QVERIFY(QFile::exists(fix));

    rv::BadBlocks().clear();
    rv::ClearIndex();
    mi.FileReset();  // start picture, empty grid
    QCOMPARE(mi.StringER->rowCount(), 2);
    QCOMPARE(mi.ImageGO->PictureName(), QStringLiteral("ImageST"));
    rv::Exclusions().push_back({100, 10});
    mi.ImageEX->show();
    mi.CheckSA->setEnabled(false);  // as after a repair
    mi.CheckRE->click();
    QCOMPARE(mi.EditSE->text(), fix);
    mi.ImageSE->click();
    QCOMPARE(PictureOf(mi.ImageGG), QStringLiteral("ImageRG"));
    QCOMPARE(rv::BadBlocks().size(), size_t(1));
    QCOMPARE(rv::Index().entries.size(), damaged_.chunks);
    QVERIFY(rv::Exclusions().empty());
    QVERIFY(mi.ImageEX->isHidden());
    QVERIFY(mi.CheckSA->isEnabled());
    QCOMPARE(mi.ImageGO->PictureName(), QStringLiteral("ImageST2"));
    QCOMPARE(Row(1), ExpectedBadRow());

    // A file that is not there loads nothing and changes nothing.
    rv::Exclusions().push_back({100, 10});
    mi.EditSE->setText(QString::fromStdString(dir_.File("missing.2fix")));
    mi.ImageSE->click();
    QCOMPARE(PictureOf(mi.ImageGG), QStringLiteral("ImageAT"));
    QCOMPARE(rv::Exclusions().size(), size_t(1));
    QCOMPARE(rv::BadBlocks().size(), size_t(1));
  }

  void exclusionPanelListsTheFragments() {
    OpenFile(damaged_.path);
    rv::Exclusions() = {{100, 10}, {300, 5}};
    main_->BitBtnIDX1->click();
    TFormMI& mi = FormMI();
    QVERIFY(mi.ImageEX->isVisible());
    mi.ImageEX->click();
    QVERIFY(mi.PanelEX->isVisible());
    QCOMPARE(mi.Label3->text(), Q("список исключённых фрагментов"));
    QTableWidget* g = mi.StringEX;
    QCOMPARE(g->columnCount(), 4);
    QCOMPARE(g->rowCount(), 3);
    auto cell = [g](int r, int c) { return g->item(r, c) ? g->item(r, c)->text() : QString(); };
    QCOMPARE(cell(0, 1), QStringLiteral("#"));
    QCOMPARE(cell(0, 2), Q("offset в файле"));
    QCOMPARE(cell(0, 3), Q("количество байт"));
    QCOMPARE(g->horizontalHeaderItem(3)->text(), Q("количество байт"));
    QCOMPARE((QStringList{cell(1, 1), cell(1, 2), cell(1, 3)}), (QStringList{"1", "100", "10"}));
    QCOMPARE((QStringList{cell(2, 1), cell(2, 2), cell(2, 3)}), (QStringList{"2", "300", "5"}));
    // Its title and headers whole, its columns inside the grid.
    QVERIFY2(ClippedHeaders(g).isEmpty(), qPrintable(ClippedHeaders(g).join(", ")));
    QVERIFY2(ClippedCaptions(mi.PanelEX).isEmpty(), qPrintable(ClippedCaptions(mi.PanelEX).join(", ")));
    QVERIFY(g->columnWidth(0) + g->columnWidth(1) + g->columnWidth(2) + g->columnWidth(3) <= g->viewport()->width());
    const QPoint centre((mi.width() - mi.PanelEX->width()) / 2, (mi.height() - mi.PanelEX->height()) / 2);
    QCOMPARE(mi.PanelEX->pos(), centre);
    mi.ImageEXX->click();
    QVERIFY(mi.PanelEX->isHidden());

    // Shown again with an empty list, the sign goes.
    mi.close();
    rv::ClearExclusions();
    main_->BitBtnIDX1->click();
    QVERIFY(mi.ImageEX->isHidden());
  }

  void doubleClickDumpsTheBadBlock() {
    OpenFile(damaged_.path);
    RunCheck();
    TFormMI& mi = FormMI();
    FormDU().hide();
    mi.StringER->selectRow(1);
    mi.PopupERPopup();
    QVERIFY(mi.MIdump->isEnabled());
    mi.MIdumpClick();
    TFormDU& du = FormDU();
    QVERIFY(du.isVisible());
    QCOMPARE(du.Base(), damaged_.badAt);
    QCOMPARE(du.Count(), 700u);  // the larger of the declared and the real size
    QCOMPARE(du.DumpedBytes().size(), size_t(700));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(du.DumpedBytes().data()), 4), QByteArray("00dc"));

    // Nothing on a row without a bad block.
    du.hide();
    rv::BadBlocks().clear();
    mi.resetMI();
    mi.StringER->setCurrentCell(1, 0);
    mi.PopupERPopup();
    QVERIFY(!mi.MIdump->isEnabled());
    mi.MIdumpClick();
    QVERIFY(!du.isVisible());
  }

  // ---- repairs -------------------------------------------------------------------------------

  void hammerCutsTheRunThatEqualsTheDelta() {
    OpenFile(damaged_.path);
    RunCheck();
    TFormMI& mi = FormMI();
    QCOMPARE(rv::BadBlocks().size(), size_t(1));
    const rv::BadBlock b = rv::BadBlocks()[0];
    const uint32_t nextOffset = rv::Index().entries[b.EntryIndex + 1].dwChunkOffset;
    mi.CheckSA->click();
    QVERIFY(mi.RadioEQ->isChecked());
    // The check that goes on after the cut is stopped before it gets anywhere.
    rv::SetTaskRoutine("createIDX1", [] { return false; });
    mi.ImageHAMMER->click();
    QVERIFY(rv::BadBlocks().empty());
    QCOMPARE(rv::Exclusions().size(), size_t(1));
    QCOMPARE(rv::Exclusions()[0].offset, b.FileOffset + b.RepeatStart);
    QCOMPARE(rv::Exclusions()[0].count, b.RepeatLength);
    QCOMPARE(rv::Index().entries[b.EntryIndex + 1].dwChunkOffset, nextOffset - b.RepeatLength);
    QVERIFY(!mi.ImageEX->isHidden());
    QVERIFY(!mi.CheckSA->isEnabled());
    QVERIFY(mi.CheckRE->isChecked());
    QVERIFY(Row(1)[0].isEmpty());  // the grid holds no bad block any more
    QVERIFY(mi.LabelPTR->isHidden() && mi.ImageWA->isHidden());
    // The window stays open and says that the check did not get through; the save waits.
    QTRY_VERIFY_WITH_TIMEOUT(!rv::WorkerExists() && mi.GoState() == "start", kWaitMs);
    QVERIFY(mi.isVisible());
    QCOMPARE(mi.windowTitle(), Q(TFormMI::kCreateCaption));
    QCOMPARE(mi.LabelPTR->text(), Q(TFormMI::kNotContinuedAfterCuts));
    QVERIFY(mi.LabelPTR->isVisible());
    QVERIFY(rv::Index().cutAfterScan);
  }

  void hammerLeavesRunsOfOtherBytesWithOnlyZeros() {
    OpenFile(damaged_.path);
    RunCheck();
    TFormMI& mi = FormMI();
    rv::BadBlocks()[0].RepeatByte = 0xFF;
    mi.CheckZR->setChecked(true);
    mi.ImageHAMMER->click();
    QCOMPARE(rv::BadBlocks().size(), size_t(1));
    QVERIFY(rv::Exclusions().empty());
    mi.EditMS->setText(QStringLiteral("abc"));
    mi.RadioREIS->setChecked(true);
    mi.ImageHAMMER->click();
    QCOMPARE(mi.EditMS->text(), QStringLiteral("100"));
  }

  void rowCommandsFollowTheRowAndTheTask() {
    OpenFile(damaged_.path);
    RunCheck();
    TFormMI& mi = FormMI();
    mi.StringER->selectRow(1);
    mi.PopupERPopup();
    for (QAction* a : {mi.MIdump, mi.MIremofix, mi.MIremonofix, mi.MIremoscan, mi.MIfix, mi.MIleave})
      QVERIFY2(a->isEnabled(), qPrintable(a->objectName()));

    // While a task runs every per-row command is off: they change the index the task uses.
    std::atomic<bool> release{false};
    rv::SetTaskRoutine("findKK", [&] {
      while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      return true;
    });
    rv::TaskCommand() = "findKK";
    QVERIFY(rv::threadIDX1Start());
    mi.PopupERPopup();
    for (QAction* a : {mi.MIdump, mi.MIremofix, mi.MIremonofix, mi.MIremoscan, mi.MIfix, mi.MIleave})
      QVERIFY2(!a->isEnabled(), qPrintable(a->objectName()));
    mi.MIfixClick();  // refused while the task runs
    QCOMPARE(rv::BadBlocks().size(), size_t(1));
    release = true;
    QTRY_VERIFY_WITH_TIMEOUT(!rv::WorkerExists(), kWaitMs);
    rv::SetTaskRoutine("findKK", {});

    // MIremofix on the row: the run is cut and the size left alone when run = delta.
    const rv::BadBlock b = rv::BadBlocks()[0];
    const uint32_t declared = rv::Index().entries[b.EntryIndex].dwChunkLength;
    mi.StringER->selectRow(1);
    mi.MIremofixClick();
    QVERIFY(rv::BadBlocks().empty());
    QCOMPARE(rv::Index().entries[b.EntryIndex].dwChunkLength, declared);
    QCOMPARE(rv::Exclusions().size(), size_t(1));
    // The cut makes the check go on by itself from the last entry; the commands wait for it.
    QCOMPARE(mi.GoState(), QString(TFormMI::kStateStop));
    QCOMPARE(rv::Index().continueCheck, 'y');
    QTRY_VERIFY_WITH_TIMEOUT(!rv::WorkerExists() && mi.GoState() == "start", kWaitMs);
    QVERIFY(!rv::Index().cutAfterScan);

    // On the blank row of an empty grid only MIremoscan, MIfix and MIleave stay on.
    mi.StringER->selectRow(1);
    mi.PopupERPopup();
    QVERIFY(!mi.MIdump->isEnabled() && !mi.MIremofix->isEnabled() && !mi.MIremonofix->isEnabled());
    QVERIFY(mi.MIremoscan->isEnabled() && mi.MIfix->isEnabled() && mi.MIleave->isEnabled());
  }

  void fixAndLeaveTouchOnlyTheIndex() {
    OpenFile(damaged_.path);
    RunCheck();
    TFormMI& mi = FormMI();
    const rv::BadBlock b = rv::BadBlocks()[0];
    mi.StringER->selectRow(1);
    mi.MIfixClick();
    QVERIFY(rv::BadBlocks().empty());
    QCOMPARE(rv::Index().entries[b.EntryIndex].dwChunkLength, b.RealSize);
    QVERIFY(rv::Exclusions().empty());

    rv::PushScriptedAnswer(false);  // "сначала": a new check
    RunCheck();
    QCOMPARE(rv::BadBlocks().size(), size_t(1));
    const uint32_t declared = rv::Index().entries[rv::BadBlocks()[0].EntryIndex].dwChunkLength;
    mi.StringER->selectRow(1);
    mi.MIleaveClick();
    QVERIFY(rv::BadBlocks().empty());
    QCOMPARE(rv::Index().entries[b.EntryIndex].dwChunkLength, declared);
  }
};

QTEST_MAIN(TestStreamCheckWindow)
#include "test_stream_check_window.moc"
