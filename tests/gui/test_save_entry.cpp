// The save entry of the repair tab: ImageSA with its checks (a task running, the index-only
// choice, the stream check first, the source never overwritten, the overwrite question),
// CheckSAID switching the output name, and a whole repair through the windows: open a
// damaged file, check its stream in the stream-check window, save, read what was written.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "check/bad_blocks.h"
#include "gui/stream_check/stream_check_window.h"
#include "check/index.h"
#include "check/side_files.h"
#include "gui/main_window/save_entry.h"
#include "check/scanner.h"
#include "check/repairs.h"
#include "core/config.h"
#include "gui/common/gui_host.h"
#include "gui/main_window/main_window.h"
#include "gui/common/widgets.h"
#include "core/messages.h"
#include "core/options.h"
#include "core/questions.h"
#include "core/task_routines.h"
#include "core/tasks.h"
#include "fixtures/avi_builder.h"
#include "output/naming.h"
#include "output/writer.h"
#include "riff/header.h"
#include "riff/source.h"
#include "gui/common/question_dialog.h"

namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

const char* const kCheckFirst = "• проведите проверку потока";
const char* const kSameFile = "• выходной файл совпадает с исходным";
const char* const kOverwrite = "файл с таким именем уже существует. перезаписать?";

QStringList MemoLines(const TFormMain& w) {
  QString text = w.MemoST->toPlainText();
  return text.isEmpty() ? QStringList() : text.split('\n');
}

std::string Fourcc(const rvt::Bytes& b, size_t pos) {
  return pos + 4 <= b.size() ? std::string(reinterpret_cast<const char*>(&b[pos]), 4) : "";
}

}  // namespace

class TestSaveEntry : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<rvt::TempDir> dir_;
  GuiHost host_;
  std::unique_ptr<TFormMain> window_;
  int dialogsShown_ = 0;

  TFormMain& W() { return *window_; }

  std::string Standard(const char* name, rvt::StandardAvi* out = nullptr) {
    rvt::StandardAvi avi = rvt::MakeStandardAvi();
    if (out) *out = avi;
    return dir_->Write(name, avi.bytes);
  }

  void Open(const std::string& path) {
    W().EditIN->setText(QString::fromStdString(path));
    QTest::mouseClick(W().BitBtnGO, Qt::LeftButton);
    // Choosing a file proposes the output name; here the test names it.
    W().EditOUT->setText(QString::fromStdString(rv::makeOutFN(path)));
  }

  void ClickSave() { QTest::mouseClick(W().ImageSA, Qt::LeftButton); }

  // The file's chunks in the index in memory, as a check of the stream leaves them.
  static void IndexOf(const rvt::StandardAvi& avi) {
    rv::ClearIndex();
    for (const rvt::IdxEntry& e : avi.index)
      rv::Index().entries.push_back({rv::fcc(e.ckid), e.flags, e.offset, e.length});
    rv::Index().count = avi.index.size();
  }

 private Q_SLOTS:
  void initTestCase() {
    dir_ = std::make_unique<rvt::TempDir>("gui_save");
    rv::SetConfigPathOverride(dir_->File("avi.rivetta.cfg.ini"));
    host_.Install();
    // A question nobody scripted is counted and answered "no"; none may wait for a person.
    TFormYesNo::SetAutoAnswer([this](TFormYesNo&) {
      ++dialogsShown_;
      return 0;
    });
  }

  void init() {
    rv::InstallTaskRoutines();
    rv::ClearScriptedAnswers();
    rv::ClearMessages();
    rv::ClearStop();
    dialogsShown_ = 0;
    window_ = std::make_unique<TFormMain>();
    window_->AttachHost(&host_);
  }

  void cleanup() {
    for (int i = 0; i < 1000 && rv::WorkerExists(); ++i) {
      rv::RequestStop();
      QTest::qWait(10);
    }
    QVERIFY(!rv::WorkerExists());
    rv::ClearScriptedAnswers();
    FormMI().SetInputNameSource({});
    FormMI().hide();
    window_.reset();
    QCOMPARE(dialogsShown_, 0);
  }

  void cleanupTestCase() {
    for (const char* name : rv::kTaskNames) rv::SetTaskRoutine(name, {});
    TFormYesNo::SetAutoAnswer({});
    rv::SetConfigPathOverride("");
  }

  // ---- the checks before the writer ------------------------------------------------------------

  void withoutAStreamCheckNothingIsWritten() {
    const std::string src = Standard("nocheck.avi");
    Open(src);
    QVERIFY(!rv::IFpresent("movi"));  // found by the walk (maroon), not confirmed
    const std::string out = W().EditOUT->text().toStdString();
    QSignalSpy done(&W(), &TFormMain::taskCompleted);
    ClickSave();
    QVERIFY(!rv::WorkerExists());
    QCOMPARE(MemoLines(W()).last(), U(kCheckFirst));
    QTest::qWait(50);
    QCOMPARE(done.count(), 0);
    QVERIFY(!rv::FileExists(out));
    QVERIFY(rv::AskedQuestions().empty());
  }

  void checkSavePartLetsTheWriterStart() {
    rvt::StandardAvi avi;
    const std::string src = Standard("part.avi", &avi);
    Open(src);
    const std::string out = W().EditOUT->text().toStdString();
    W().CheckSavePart->setChecked(true);
    QVERIFY(rv::Opt().savePart);
    QSignalSpy done(&W(), &TFormMain::taskCompleted);
    ClickSave();
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(done.at(0).at(0).toInt(), 0);
    QVERIFY(!MemoLines(W()).contains(U(kCheckFirst)));
    // Without a check the index is empty: the writer starts and refuses to write a file
    // without a single stream chunk.
    QVERIFY(!rv::LastWrite().written);
    QVERIFY(!rv::FileExists(out));
    QVERIFY(MemoLines(W()).contains(U("• в индексе нет ни одного блока потока: выходной файл не создан")));
    IndexOf(avi);
    ClickSave();
    QTRY_COMPARE(done.count(), 2);
    QVERIFY(rv::LastWrite().written);
    const rvt::Bytes bytes = rvt::ReadFile(out);
    QCOMPARE(Fourcc(bytes, 0), std::string("RIFF"));
    QCOMPARE(Fourcc(bytes, 8), std::string("AVI "));
    QCOMPARE(Fourcc(bytes, rv::kMoviListPos), std::string("LIST"));
    QCOMPARE(Fourcc(bytes, rv::kMoviListPos + 8), std::string("movi"));
    // The source is untouched.
    QCOMPARE(rvt::ReadFile(src), avi.bytes);
  }

  void theHeaderChoicesReachTheWriter() {
    rvt::StandardAvi avi;
    const std::string src = Standard("copied.avi", &avi);
    Open(src);
    IndexOf(avi);
    const std::string out = W().EditOUT->text().toStdString();
    W().CheckSavePart->setChecked(true);
    // The copied header keeps the source's bytes before its movi list; no index at the end.
    W().RadioZO->setChecked(true);
    W().CheckNoIDX1->setChecked(true);
    QCOMPARE(rv::Opt().headerMode.load(), 'O');
    QSignalSpy done(&W(), &TFormMain::taskCompleted);
    ClickSave();
    QTRY_COMPARE(done.count(), 1);
    const rvt::Bytes bytes = rvt::ReadFile(out);
    QVERIFY(bytes.size() > avi.movi);
    // avih's flags aside (no index: its flag is cleared), the header is the source's.
    const uint32_t flagsAt = avi.avih + 8 + 12;
    QVERIFY(std::equal(bytes.begin() + 12, bytes.begin() + flagsAt, avi.bytes.begin() + 12));
    QVERIFY(std::equal(bytes.begin() + flagsAt + 4, bytes.begin() + avi.movi,
                       avi.bytes.begin() + flagsAt + 4));
    QCOMPARE(rvt::ReadLE32(bytes, flagsAt), 0x910u & ~0x30u);
    QCOMPARE(Fourcc(bytes, avi.movi + 8), std::string("movi"));
    const size_t moviEnd = avi.movi + 8 + rvt::ReadLE32(bytes, avi.movi + 4);
    QCOMPARE(bytes.size(), moviEnd);  // nothing after the movi list
    W().RadioZM->setChecked(true);
    W().CheckNoIDX1->setChecked(false);
  }

  void theIndexGoesOnlyToTheFileItWasBuiltFrom() {
    rvt::StandardAvi avi;
    const std::string first = Standard("first.avi", &avi);
    rvt::StandardAviShape other;
    other.videoChunkSize = 1500;
    const rvt::Bytes secondBytes = rvt::MakeStandardAvi(other).bytes;
    const std::string second = dir_->Write("second.avi", secondBytes);
    // The first file checked: its index in memory, its labels blue.
    Open(first);
    IndexOf(avi);
    rv::SetLabel(rv::kLabelMOVI, rv::LabelColor::Blue);
    rv::SetLabel(rv::kLabelIDX1, rv::LabelColor::Blue);
    const std::string out = dir_->File("second.out.avi");
    const std::string indexOut = dir_->File("second.avi.idx1");
    QSignalSpy done(&W(), &TFormMain::taskCompleted);

    // The second file's name typed in: neither save applies the first file's index to it.
    W().EditIN->setText(QString::fromStdString(second));
    for (bool indexOnly : {false, true}) {
      rv::ClearMessages();
      W().CheckSAID->setChecked(indexOnly);
      W().EditOUT->setText(QString::fromStdString(indexOnly ? indexOut : out));
      ClickSave();
      QVERIFY(!rv::WorkerExists());
      QCOMPARE(MemoLines(W()), QStringList{QString::fromUtf8(rv::kOtherFileMessage)});
    }
    W().CheckSAID->setChecked(false);
    // Nor does a task that works on the state in memory.
    rv::ClearMessages();
    rv::InputFileName() = second;
    rv::OutputFileName() = out;
    QVERIFY(!rv::saveOUT());
    QCOMPARE(rv::MessageLines(), std::vector<std::string>{rv::kOtherFileMessage});
    QTest::qWait(50);
    QCOMPARE(done.count(), 0);
    QVERIFY(!rv::FileExists(out) && !rv::FileExists(indexOut));

    // The first file's name again: its index saves as before.
    W().EditIN->setText(QString::fromStdString(first));
    QVERIFY(rv::InputIsLoadedFile());

    // The second file chosen with the folder button: what belonged to the first goes.
    W().FileChosen(QString::fromStdString(second));
    QCOMPARE(W().EditIN->text().toStdString(), second);
    QCOMPARE(W().TreeRIFF->topLevelItemCount(), 0);
    QVERIFY(rv::Index().entries.empty());
    QVERIFY(!rv::IFpresent("avih") && !rv::IFpresent("movi") && !rv::IFpresent("idx1"));
    QCOMPARE(W().ImageSA->PictureName(), QString("ImageRF"));
    rv::ClearMessages();
    W().EditOUT->setText(QString::fromStdString(out));
    ClickSave();
    QCOMPARE(MemoLines(W()), QStringList{U(kCheckFirst)});
    QVERIFY(!rv::FileExists(out));
    QCOMPARE(rvt::ReadFile(second), secondBytes);
  }

  void cutsAfterTheCheckAskForItToGoOn() {
    // A checked file whose index ends before its last two chunks, as a check that stopped at
    // the declared end of the movi list leaves it when inserted bytes pushed them past it.
    rvt::StandardAvi avi;
    const std::string src = Standard("cut.avi", &avi);
    Open(src);
    IndexOf(avi);
    rv::Index().entries.resize(avi.index.size() - 2);
    rv::Index().count = rv::Index().entries.size();
    rv::SetLabel(rv::kLabelMOVI, rv::LabelColor::Blue);
    rv::SetLabel(rv::kLabelIDX1, rv::LabelColor::Blue);
    const std::string out = W().EditOUT->text().toStdString();
    // A repair cuts a fragment out: the save waits for the check to go on.
    rv::AddExclusion(avi.chunks[3].offset + 8, 0);
    QVERIFY(!rv::Index().cutAfterScan);  // nothing cut
    rv::AddExclusion(avi.chunks[3].offset + 8, 1);
    rv::Index().entries[4].dwChunkOffset -= 1;  // as the repair shifts the entries behind
    rv::ClearMessages();
    ClickSave();
    QVERIFY(!rv::WorkerExists());
    QCOMPARE(MemoLines(W()), QStringList{U(save_entry::kContinueCheckFirst)});
    QVERIFY(!rv::FileExists(out));

    // The check continued to the end finds the rest, and the save goes ahead.
    rv::ClearExclusions();
    rv::Index().entries[4].dwChunkOffset += 1;
    rv::Index().continueCheck = 'y';
    rv::InputFileName() = src;
    QVERIFY(rv::createIDX1());
    QVERIFY(!rv::Index().cutAfterScan);
    QCOMPARE(rv::Index().entries.size(), avi.index.size());
    QSignalSpy done(&W(), &TFormMain::taskCompleted);
    ClickSave();
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(rv::LastWrite().chunksWritten, avi.index.size());
  }

  void afterAReconstructionOnlyTheBuiltHeaderUntilAFileIsOpened() {
    const std::string src = Standard("rec.avi");
    Open(src);
    W().RadioZO->setChecked(true);
    QSignalSpy done(&W(), &TFormMain::taskCompleted);
    rv::SetTaskRoutine("reconstruction", [] { return false; });
    QTest::mouseClick(W().BitBtnREC, Qt::LeftButton);
    QVERIFY(W().RadioZM->isChecked());
    QCOMPARE(rv::Opt().headerMode.load(), 'M');
    QVERIFY(!W().RadioZI->isEnabled());
    QVERIFY(!W().RadioZO->isEnabled());
    QCOMPARE(W().ImageSA->PictureName(), QString("ImageRF"));
    QTRY_COMPARE(done.count(), 1);
    QVERIFY(!W().RadioZI->isEnabled());
    QVERIFY(!W().RadioZO->isEnabled());
    QTest::mouseClick(W().BitBtnGO, Qt::LeftButton);
    QVERIFY(W().RadioZI->isEnabled());
    QVERIFY(W().RadioZO->isEnabled());
    QVERIFY(W().RadioZM->isChecked());
  }

  void anExistingOutputIsReplacedOnlyAfterYes() {
    rvt::StandardAvi avi;
    const std::string src = Standard("exists.avi", &avi);
    Open(src);
    IndexOf(avi);
    W().CheckSavePart->setChecked(true);
    const std::string out = dir_->Write("exists.out.avi", rvt::Text("keep me"));
    W().EditOUT->setText(QString::fromStdString(out));
    QSignalSpy done(&W(), &TFormMain::taskCompleted);

    rv::PushScriptedAnswer(false);
    ClickSave();
    QCOMPARE(int(rv::AskedQuestions().size()), 1);
    QCOMPARE(QString::fromStdString(rv::AskedQuestions().back()), U(kOverwrite));
    QVERIFY(!rv::WorkerExists());
    QTest::qWait(50);
    QCOMPARE(done.count(), 0);
    QCOMPARE(rvt::ReadFile(out), rvt::Text("keep me"));

    rv::PushScriptedAnswer(true);
    ClickSave();
    QCOMPARE(int(rv::AskedQuestions().size()), 2);
    QTRY_COMPARE(done.count(), 1);
    const rvt::Bytes bytes = rvt::ReadFile(out);
    QCOMPARE(Fourcc(bytes, 0), std::string("RIFF"));
    QVERIFY(bytes.size() > 2048);
  }

  void theSourceIsNeverTheOutput() {
    rvt::StandardAvi avi;
    const std::string src = Standard("self.avi", &avi);
    Open(src);
    W().CheckSavePart->setChecked(true);
    // The same file by another spelling of its path, and by a link.
    const std::filesystem::path p(src);
    const std::string dotted = (p.parent_path() / "." / p.filename()).string();
    const std::string link = dir_->File("self-link.avi");
    std::filesystem::create_symlink(p, link);
    QSignalSpy done(&W(), &TFormMain::taskCompleted);
    for (const std::string& out : {src, dotted, link}) {
      rv::ClearMessages();
      W().EditOUT->setText(QString::fromStdString(out));
      ClickSave();
      QVERIFY(!rv::WorkerExists());
      QCOMPARE(MemoLines(W()), QStringList{U(kSameFile)});
    }
    QVERIFY(rv::AskedQuestions().empty());  // not even asked whether to overwrite
    QTest::qWait(50);
    QCOMPARE(done.count(), 0);

    // The index alone is not written over the source either.
    rv::ClearMessages();
    W().CheckSAID->setChecked(true);
    W().EditOUT->setText(QString::fromStdString(dotted));
    ClickSave();
    QCOMPARE(MemoLines(W()), QStringList{U(kSameFile)});
    QVERIFY(rv::AskedQuestions().empty());
    QCOMPARE(rvt::ReadFile(src), avi.bytes);
  }

  void aClickWhileATaskRunsDoesNothing() {
    const std::string src = Standard("busy.avi");
    Open(src);
    W().CheckSavePart->setChecked(true);
    const std::string out = dir_->Write("busy.out.avi", rvt::Text("old"));
    W().EditOUT->setText(QString::fromStdString(out));
    std::atomic<int> runs{0};
    rv::SetTaskRoutine("saveOUT", [&] {
      ++runs;
      rv::ReportProgress(rv::ProgressTarget::kMain, 30);
      while (!rv::StopRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      return true;
    });
    QSignalSpy done(&W(), &TFormMain::taskCompleted);
    rv::PushScriptedAnswer(true);  // replace "old"
    ClickSave();
    QVERIFY(rv::WorkerExists());
    QTRY_COMPARE(runs.load(), 1);
    // The stop picture and the gauge show while the writer runs.
    QVERIFY(!W().ImageX->isHidden());
    QVERIFY(!W().GaugeSA->isHidden());
    QTRY_COMPARE(W().GaugeSA->Progress(), 30);

    const size_t asked = rv::AskedQuestions().size();
    const int lines = MemoLines(W()).size();
    ClickSave();  // an existing output, yet no question: nothing at all happens
    W().CheckSavePart->setChecked(false);
    ClickSave();  // nor the stream-check message
    W().CheckSAID->setChecked(true);
    ClickSave();  // nor the index-only save
    QCOMPARE(rv::AskedQuestions().size(), asked);
    QCOMPARE(MemoLines(W()).size(), lines);
    QVERIFY(W().CheckSAID->isChecked());
    QCOMPARE(runs.load(), 1);

    // ImageX asks before it stops the writer.
    rv::PushScriptedAnswer(true);
    QTest::mouseClick(W().ImageX, Qt::LeftButton);
    QCOMPARE(QString::fromStdString(rv::AskedQuestions().back()), U("прервать обработку?"));
    QTRY_COMPARE(done.count(), 1);
    QVERIFY(W().ImageX->isHidden());
    QVERIFY(W().GaugeSA->isHidden());
  }

  // ---- the index alone ----------------------------------------------------------------------------

  void checkSAIDSwitchesTheOutputName() {
    const std::string src = dir_->File("Clip.avi");
    rvt::WriteFile(dir_->File("clip.001.avi"), rvt::Text("x"));
    W().EditIN->setText(QString::fromStdString(src));
    W().CheckSAID->setChecked(true);
    QCOMPARE(W().EditOUT->text(), QString::fromStdString(src + ".idx1"));
    QVERIFY(rv::Opt().saveIndexOnly);
    W().CheckSAID->setChecked(false);
    QCOMPARE(W().EditOUT->text(), QString::fromStdString(dir_->File("clip.002.avi")));
    QVERIFY(!rv::Opt().saveIndexOnly);
    // A click on the box itself does the same.
    QTest::mouseClick(W().CheckSAID, Qt::LeftButton);
    QVERIFY(W().CheckSAID->isChecked());
    QCOMPARE(W().EditOUT->text(), QString::fromStdString(src + ".idx1"));
  }

  void theIndexAloneIsSavedAndTheChoiceCleared() {
    const std::string src = Standard("idx.avi");
    Open(src);
    // No stream check needed for the index alone.
    QVERIFY(!rv::IFpresent("movi"));
    rv::Index().entries = {{0x63643030, 0x10, 4, 1000}, {0x62773130, 0, 1012, 418}};
    rv::Index().count = 2;
    W().CheckSAID->setChecked(true);
    const std::string out = src + ".idx1";
    QCOMPARE(W().EditOUT->text().toStdString(), out);
    ClickSave();
    QVERIFY(!rv::WorkerExists());
    rvt::Bytes bytes = rvt::ReadFile(out);
    QCOMPARE(bytes.size(), size_t(8 + 32));
    QCOMPARE(Fourcc(bytes, 0), std::string("idx1"));
    QCOMPARE(rvt::ReadLE32(bytes, 4), 32u);
    QCOMPARE(Fourcc(bytes, 8), std::string("00dc"));
    QCOMPARE(rvt::ReadLE32(bytes, 8 + 16 + 8), 1012u);
    QVERIFY(!MemoLines(W()).contains(U(kCheckFirst)));
    // One-shot: cleared, and the output name is the repaired file's again.
    QVERIFY(!W().CheckSAID->isChecked());
    QCOMPARE(W().EditOUT->text().toStdString(), rv::makeOutFN(src));

    // Saving it again asks before replacing the file; "no" keeps it, and the choice is
    // cleared all the same.
    rv::Index().entries.resize(1);
    rv::Index().count = 1;
    W().CheckSAID->setChecked(true);
    rv::PushScriptedAnswer(false);
    ClickSave();
    QCOMPARE(QString::fromStdString(rv::AskedQuestions().back()), U(kOverwrite));
    QCOMPARE(rvt::ReadFile(out), bytes);
    QVERIFY(!W().CheckSAID->isChecked());
    W().CheckSAID->setChecked(true);
    rv::PushScriptedAnswer(true);
    ClickSave();
    QCOMPARE(rvt::ReadFile(out).size(), size_t(8 + 16));
  }

  // ---- a whole repair through the windows -----------------------------------------------------

  void repairADamagedFileThroughTheWindows_data() {
    QTest::addColumn<bool>("hammer");
    // 4096 zero bytes inside video chunk 4 and no index at the end; the check is told to go
    // on to the end of the file.
    QTest::newRow("check to the end of the file") << false;
    // 300 zero bytes inside three video chunks, the file's own idx1 behind the movi list: the
    // check ends at the declared end, before the last chunk. The hammer cuts the zeros, and
    // the check that then goes on by itself finds the chunk that the cuts pulled inside.
    QTest::newRow("hammer, then the check goes on") << true;
  }

  void repairADamagedFileThroughTheWindows() {
    QFETCH(bool, hammer);
    rvt::StandardAviShape shape;
    shape.withIdx1 = hammer;
    rvt::StandardAvi avi = rvt::MakeStandardAvi(shape);
    rvt::Bytes damaged = avi.bytes;
    std::vector<size_t> hits = hammer ? std::vector<size_t>{14, 8, 2} : std::vector<size_t>{8};
    for (size_t k : hits) {  // from the back, so that the positions in front stay valid
      const rvt::ChunkLoc hit = avi.chunks[k];
      QCOMPARE(hit.id, std::string("00dc"));
      rvt::InsertAt(damaged, hit.offset + 8 + 100, rvt::Filled(hammer ? 300 : 4096, 0));
    }
    const std::string src = dir_->Write("damaged.avi", damaged);

    TFormMain& w = W();
    w.AttachStreamCheckWindow(FormMI());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.EditIN->setText(QString::fromStdString(src));
    QTest::keyClick(w.EditIN, Qt::Key_Return);  // proposes the output name
    const std::string out = rv::makeOutFN(src);
    QCOMPARE(w.EditOUT->text().toStdString(), out);
    QTest::mouseClick(w.BitBtnGO, Qt::LeftButton);
    QCOMPARE(w.ImageSA->PictureName(), QString("ImageRF"));

    // Saving before the check is refused.
    ClickSave();
    QCOMPARE(MemoLines(w).last(), U(kCheckFirst));
    QVERIFY(!rv::FileExists(out));

    // The stream check, started in the stream-check window; every search is agreed to. The
    // inserted bytes pushed the last chunks past the declared end of the movi list.
    w.CheckKR->setChecked(!hammer);
    rv::SetAlwaysAnswer(1);
    QTest::mouseClick(w.BitBtnIDX1, Qt::LeftButton);
    TFormMI& mi = FormMI();
    QVERIFY(mi.isVisible());
    QSignalSpy checked(&w, &TFormMain::checkFinished);
    mi.ImageGO->click();
    QTRY_VERIFY_WITH_TIMEOUT(checked.count() == 1 && !rv::WorkerExists(), 20000);
    QCOMPARE(checked.at(0).at(0).toInt(), 1);
    if (hammer) {
      QCOMPARE(rv::Index().entries.size(), avi.chunks.size() - 1);
      QCOMPARE(rv::BadBlocks().size(), hits.size());
      QVERIFY(mi.RadioEQ->isChecked());
      mi.ImageHAMMER->click();
      QCOMPARE(rv::Exclusions().size(), hits.size());
      // The check goes on by itself, says so, and can be stopped as any other.
      QCOMPARE(mi.windowTitle(), U(TFormMI::kContinuingAfterCuts));
      QCOMPARE(mi.GoState(), QString(TFormMI::kStateStop));
      QTRY_VERIFY_WITH_TIMEOUT(checked.count() == 2 && !rv::WorkerExists(), 20000);
      QCOMPARE(checked.at(1).at(0).toInt(), 1);
      QVERIFY(MemoLines(w).contains(U(TFormMI::kContinuingMessage)));
      QVERIFY(mi.isVisible());
      QCOMPARE(mi.windowTitle(), U(TFormMI::kCreateCaption));
      QVERIFY(mi.LabelPTR->isVisible());
      QCOMPARE(mi.LabelPTR->text(), U(TFormMI::kContinuedAfterCuts));
    }
    rv::SetAlwaysAnswer(-1);
    QVERIFY(rv::IFpresent("movi"));
    QVERIFY(rv::IFpresent("idx1"));
    QCOMPARE(w.ImageSA->PictureName(), QString("ImageGF"));
    const size_t entries = rv::Index().entries.size();
    QCOMPARE(entries, avi.chunks.size());
    mi.hide();

    // The save.
    QSignalSpy done(&w, &TFormMain::taskCompleted);
    rv::ClearScriptedAnswers();
    ClickSave();
    QVERIFY(rv::AskedQuestions().empty());  // a new file: no question
    QTRY_VERIFY_WITH_TIMEOUT(done.count() == 1, 20000);
    QCOMPARE(done.at(0).at(0).toInt(), 0);
    QVERIFY(rv::LastWrite().complete);
    QCOMPARE(rv::LastWrite().chunksWritten, entries);
    QVERIFY(w.ImageX->isHidden());

    // What was written: RIFF "AVI ", the movi list at 2036, an idx1 behind it whose every
    // entry points at a chunk with its ID and size, the chunks outside the damage unchanged.
    const rvt::Bytes bytes = rvt::ReadFile(out);
    QCOMPARE(Fourcc(bytes, 0), std::string("RIFF"));
    QCOMPARE(size_t(rvt::ReadLE32(bytes, 4)), bytes.size() - 8);
    QCOMPARE(Fourcc(bytes, 8), std::string("AVI "));
    QCOMPARE(Fourcc(bytes, 12), std::string("LIST"));
    QCOMPARE(Fourcc(bytes, 20), std::string("hdrl"));
    const size_t moviList = rv::kMoviListPos;
    QCOMPARE(Fourcc(bytes, moviList), std::string("LIST"));
    QCOMPARE(Fourcc(bytes, moviList + 8), std::string("movi"));
    const size_t moviPos = moviList + 8;
    const size_t idx1 = moviPos + rvt::ReadLE32(bytes, moviList + 4);
    QCOMPARE(Fourcc(bytes, idx1), std::string("idx1"));
    const uint32_t idxSize = rvt::ReadLE32(bytes, idx1 + 4);
    QCOMPARE(size_t(idxSize), 16 * entries);
    QCOMPARE(idx1 + 8 + idxSize, bytes.size());
    for (size_t i = 0; i < entries; ++i) {
      const size_t e = idx1 + 8 + 16 * i;
      const std::string id = Fourcc(bytes, e);
      const size_t at = moviPos + rvt::ReadLE32(bytes, e + 8);
      const uint32_t length = rvt::ReadLE32(bytes, e + 12);
      QCOMPARE(id, avi.chunks[i].id);
      QCOMPARE(Fourcc(bytes, at), id);
      QCOMPARE(rvt::ReadLE32(bytes, at + 4), length);
      if (!hammer && i == 8) continue;  // the damaged chunk; the hammer cut the zeros out
      QCOMPARE(length, avi.chunks[i].size);
      QVERIFY2(std::memcmp(&bytes[at + 8], &avi.bytes[avi.chunks[i].offset + 8], length) == 0,
               avi.chunks[i].id.c_str());
    }
    // The source is untouched.
    QCOMPARE(rvt::ReadFile(src), damaged);
  }
};

QTEST_MAIN(TestSaveEntry)
#include "test_save_entry.moc"
