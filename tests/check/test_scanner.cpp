// The stream check on small AVI images built in code: the index it builds, the bad blocks it
// finds behind broken size fields, its questions, the keyframe flags, stop and continue.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "check/bad_blocks.h"
#include "check/index.h"
#include "check/scanner.h"
#include "check/file_state.h"
#include "base/host.h"
#include "base/messages.h"
#include "base/options.h"
#include "base/questions.h"
#include "app/task_table.h"
#include "base/tasks.h"
#include "fixtures/avi_builder.h"
#include "riff/bytes.h"
#include "riff/header.h"
#include "riff/source.h"

namespace {

using rvt::Chunk;
using rvt::Node;
using rvt::Raw;
using Bytes = rvt::Bytes;
// (ckid, dwFlags, dwChunkOffset, dwChunkLength): printable when an expectation fails.
using Entry = std::tuple<std::string, uint32_t, uint32_t, uint32_t>;

const std::string kQ1 = "отсутствует метка первого блока в потоке. искать?";
const std::string kQ2 = "кривая ссылка в потоке. искать следующий блок побайтно?";
const std::string kQ7 = "найдена последовательность 'IDX1'. прервать поиск?";

// Lower-case letters only: no run of two equal bytes and never a valid stream chunk ID
// (those begin with two digits).
Bytes Letters(size_t n, size_t from = 0) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t('a' + (from + i) % 26);
  return b;
}

Node C(const std::string& id, size_t n, const std::string& label = {}) {
  Node c = Chunk(id, Letters(n));
  if (!label.empty()) c.Label(label);
  return c;
}

std::vector<Entry> Entries() {
  std::vector<Entry> out;
  for (const rv::IndexEntry& e : rv::Index().entries)
    out.emplace_back(rv::cff(e.ckid), e.dwFlags, e.dwChunkOffset, e.dwChunkLength);
  return out;
}

std::vector<std::string> Asked() {
  std::vector<std::string> out;
  for (const std::string& q : rv::AskedQuestions()) out.push_back(q.substr(0, q.find("\r\n")));
  return out;
}

// Records every blocking stream-check message; can request a stop at a bad-block message.
// Stops a scan that runs away (a position that wraps back accepts the same block forever), so
// that such a fault fails the test instead of hanging it.
class ScriptHost : public rv::Host {
 public:
  bool Ask(const rv::Question&) override {
    if (stopAtQuestion) rv::RequestStop();
    return true;
  }
  void ShowProgress(const rv::Progress& p) override {
    if (rv::Index().count > 100000) rv::RequestStop();
    lastPercent = p.percent;
    lastText = p.text;
  }
  void CheckMessage(int code, int64_t) override {
    if (rv::Index().count > 100000) rv::RequestStop();
    if (code != rv::kShowBadBlock) return;
    char mark = rv::CurrentBadBlock().Mark;
    marks += mark;
    rowsAtMessage.push_back(rv::Grid().rows.size());
    if (mark == stopAtMark) rv::RequestStop();
  }
  std::string marks;
  std::vector<size_t> rowsAtMessage;
  char stopAtMark = 0;
  bool stopAtQuestion = false;
  int64_t lastPercent = -1;
  std::string lastText;
};

class ScannerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rv::InstallTaskRoutines();
    rv::Opt().Reset();
    rv::ClearScriptedAnswers();
    rv::ClearStop();
    rv::SetHost(&host_);
    rv::ResetFileState();
  }
  void TearDown() override {
    rv::SetHost(nullptr);
    rv::ClearScriptedAnswers();
    rv::ClearStop();
    rv::Opt().Reset();
    rv::ResetFileState();
  }

  // RIFF AVI: hdrl (avih; a strl with an indx chunk when extended), movi with the given
  // children, then the nodes of after. Written and opened as the open button does.
  void Open(std::vector<Node> movi, std::vector<Node> after = {}, bool extended = false) {
    std::vector<Node> hdrl{Chunk("avih", rvt::AvihPayload({}))};
    if (extended)
      hdrl.push_back(rvt::List("strl", {Chunk("strh", rvt::StrhPayload("vids", "XVID", {})),
                                        Chunk("indx", Letters(24))}));
    std::vector<Node> top{rvt::List("hdrl", hdrl),
                          rvt::List("movi", std::move(movi)).Label("movi")};
    for (Node& n : after) top.push_back(std::move(n));
    OpenImage(rvt::Build(rvt::Riff("AVI ", std::move(top))));
    ASSERT_EQ(rv::Header().extended == 'y', extended);
  }

  void OpenImage(rvt::Image img) {
    img_ = std::move(img);
    moviPos_ = img_.Offset("movi") + 8;
    path_ = dir_.Write("scan.avi", img_.bytes);
    rv::ResetFileState();
    rv::InputFileName() = path_;
    ASSERT_TRUE(rv::OpenAndReadHeader(path_).opened);
  }

  // Runs the task; true when it reports that the scan reached the end.
  bool Scan() {
    rv::CloseCheckWindowFlag() = 7;
    rv::Completion c = rv::Execute("createIDX1");
    EXPECT_EQ(c.code, 100);
    return c.result == 1;
  }

  // Movi offset of a labelled node.
  uint32_t Off(const std::string& label) const { return img_.Offset(label) - moviPos_; }

  std::string Cell(size_t row, size_t col) const { return rv::Grid().rows.at(row).at(col); }

  rvt::TempDir dir_{"scanner"};
  rvt::Image img_;
  uint32_t moviPos_ = 0;
  std::string path_;
  ScriptHost host_;
};

TEST_F(ScannerTest, CleanStreamGivesOneEntryPerBlockAndNoBadBlock) {
  Open({C("00dc", 100), C("01wb", 50), C("00dc", 30), C("01wb", 50)});
  for (int run = 0; run < 2; ++run) {  // a second new scan starts from nothing again
    EXPECT_TRUE(Scan());
    EXPECT_EQ(Entries(), (std::vector<Entry>{{"00dc", 0x10, 4, 100},
                                             {"01wb", 0x10, 112, 50},
                                             {"00dc", 0, 170, 30},
                                             {"01wb", 0x10, 208, 50}}));
    EXPECT_EQ(rv::Index().count, 4u);
    EXPECT_TRUE(rv::BadBlocks().empty());
    EXPECT_TRUE(rv::GridIsEmpty());
    EXPECT_EQ(rv::CloseCheckWindowFlag().load(), 1);
    EXPECT_TRUE(rv::AskedQuestions().empty());
    EXPECT_TRUE(host_.marks.empty());
  }
  EXPECT_FALSE(rv::SourceIsOpen());
  EXPECT_FALSE(rv::ScanUi().gaugeVisible);
  EXPECT_FALSE(rv::ScanUi().pointerVisible);
}

TEST_F(ScannerTest, PadByteAfterOddBlockPassesSilently) {
  Open({C("00dc", 101), C("01wb", 51), C("00dc", 20), C("01wb", 21)});
  EXPECT_TRUE(Scan());
  EXPECT_EQ(Entries(), (std::vector<Entry>{{"00dc", 0x10, 4, 101},
                                           {"01wb", 0x10, 114, 51},
                                           {"00dc", 0, 174, 20},
                                           {"01wb", 0x10, 202, 21}}));
  EXPECT_TRUE(rv::BadBlocks().empty());
  EXPECT_TRUE(rv::GridIsEmpty());
  EXPECT_EQ(rv::CloseCheckWindowFlag().load(), 1);
}

TEST_F(ScannerTest, GarbageAfterBlockMakesItBadAndNextBlockKeepsItsTrueOffset) {
  Open({C("00dc", 100, "a"), Raw(rvt::Text("zzzzz")), C("01wb", 40, "b"), C("00dc", 30)});
  EXPECT_TRUE(Scan());
  ASSERT_EQ(Off("b"), 117u);
  EXPECT_EQ(Entries(), (std::vector<Entry>{
                           {"00dc", 0x10, 4, 100}, {"01wb", 0x10, 117, 40}, {"00dc", 0, 165, 30}}));
  ASSERT_EQ(rv::BadBlocks().size(), 1u);
  const rv::BadBlock& b = rv::BadBlocks()[0];
  EXPECT_EQ(b.EntryIndex, 0u);
  EXPECT_EQ(rv::cff(b.ChunkID), "00dc");
  EXPECT_EQ(b.FileOffset, img_.Offset("a"));
  EXPECT_EQ(b.MoviOffset, 4u);
  EXPECT_EQ(b.DeclaredSize, 100u);
  EXPECT_EQ(b.RealSize, 105u);
  EXPECT_EQ(b.Mark, '*');
  // The payload's letters never repeat; the five 'z' of the garbage are the longest run.
  EXPECT_EQ(rv::RepeatText(b), "5(7A) at 108");
  // '!' opened the row, '*' completed the same row.
  EXPECT_EQ(host_.marks, "!*");
  ASSERT_EQ(rv::Grid().rows.size(), 2u);
  EXPECT_EQ(rv::Grid().rows[1], (rv::GridRow{"1", "0", "00dc", std::to_string(img_.Offset("a")),
                                             "4", "100", "105", "5", "5(7A) at 108"}));
  EXPECT_EQ(rv::CloseCheckWindowFlag().load(), 0);
  EXPECT_TRUE(rv::AskedQuestions().empty());
}

TEST_F(ScannerTest, BrokenLinkAsksBeforeSearchingWhenSearchIsNotPreset) {
  Open({C("00dc", 100), Raw(rvt::Text("zzzzz")), C("01wb", 40), C("00dc", 30)});
  rv::Opt().searchNext = false;
  rv::PushScriptedAnswer(true);
  EXPECT_TRUE(Scan());
  EXPECT_EQ(Asked(), std::vector<std::string>{kQ2});
  EXPECT_TRUE(rv::Opt().searchNext);  // agreed once: not asked again
  EXPECT_EQ(rv::BadBlocks().size(), 1u);
  EXPECT_EQ(rv::Index().entries.size(), 3u);

  rv::Opt().searchNext = false;
  rv::ClearScriptedAnswers();
  rv::PushScriptedAnswer(false);
  EXPECT_FALSE(Scan());
  EXPECT_EQ(Asked(), std::vector<std::string>{kQ2});
  EXPECT_EQ(Entries(), (std::vector<Entry>{{"00dc", 0x10, 4, 100}}));
  EXPECT_TRUE(rv::BadBlocks().empty());
}

TEST_F(ScannerTest, SizeLimitIsKilobytesOfThousandBytes) {
  EXPECT_EQ(rv::SizeLimitFromText("500"), 500000u);
  EXPECT_EQ(rv::SizeLimitFromText("abc"), 0xFFFFFFFFu);
  struct Case {
    uint32_t declared;
    std::string limit;
    bool bad;
  };
  for (const Case& c :
       {Case{500001, "500", true}, Case{500000, "500", false}, Case{500001, "abc", false}}) {
    SCOPED_TRACE(std::to_string(c.declared) + " with limit " + c.limit);
    // The real payload is short: without the limit the scan jumps past the end of movi.
    Open({C("00dc", 100).Size(c.declared), C("01wb", 40), C("00dc", 30)});
    rv::Opt().beyondEof = false;
    rv::Opt().bigIsBad = true;
    rv::Opt().bigLimitBytes = rv::SizeLimitFromText(c.limit);
    EXPECT_TRUE(Scan());
    if (c.bad) {
      EXPECT_EQ(Entries(),
                (std::vector<Entry>{
                    {"00dc", 0x10, 4, c.declared}, {"01wb", 0x10, 112, 40}, {"00dc", 0, 160, 30}}));
      ASSERT_EQ(rv::BadBlocks().size(), 1u);
      EXPECT_EQ(rv::BadBlocks()[0].RealSize, 100u);
      EXPECT_EQ(Cell(1, 7), "-499901");
    } else {
      EXPECT_EQ(Entries(), (std::vector<Entry>{{"00dc", 0x10, 4, c.declared}}));
      EXPECT_TRUE(rv::BadBlocks().empty());
      EXPECT_TRUE(rv::GridIsEmpty());
    }
  }
}

TEST_F(ScannerTest, SizeFieldThatWrapsTo32BitsNeverTakesTheScanBack) {
  const uint32_t kHuge = 0xFFFFFFF8u;  // p + 8 + size is p again in 32 bits
  for (bool beyondEof : {true, false}) {
    SCOPED_TRACE(beyondEof ? "beyond-eof search on" : "beyond-eof search off");
    Open({C("00dc", 40), C("01wb", 60).Size(kHuge), C("00dc", 30)});
    rv::Opt().beyondEof = beyondEof;
    EXPECT_TRUE(Scan());
    if (beyondEof) {
      EXPECT_EQ(Entries(),
                (std::vector<Entry>{
                    {"00dc", 0x10, 4, 40}, {"01wb", 0x10, 52, kHuge}, {"00dc", 0, 120, 30}}));
      ASSERT_EQ(rv::BadBlocks().size(), 1u);
      EXPECT_EQ(rv::BadBlocks()[0].EntryIndex, 1u);
      EXPECT_EQ(rv::BadBlocks()[0].RealSize, 60u);
      // 60 - 4294967288: negative, never the 32-bit wrap (+68).
      EXPECT_EQ(Cell(1, 7), "-4294967228");
    } else {
      EXPECT_EQ(Entries(), (std::vector<Entry>{{"00dc", 0x10, 4, 40}, {"01wb", 0x10, 52, kHuge}}));
      EXPECT_TRUE(rv::BadBlocks().empty());
      EXPECT_TRUE(rv::GridIsEmpty());
    }
  }
}

TEST_F(ScannerTest, StreamWithoutValidFirstIdAsksOnceThenSearches) {
  for (bool yes : {true, false}) {
    SCOPED_TRACE(yes ? "yes" : "no");
    Open({Raw(Letters(13)), C("00dc", 40, "a"), C("01wb", 20)});
    rv::ClearScriptedAnswers();
    rv::PushScriptedAnswer(yes);
    EXPECT_EQ(Scan(), yes);
    EXPECT_EQ(Asked(), std::vector<std::string>{kQ1});
    EXPECT_TRUE(rv::BadBlocks().empty());
    EXPECT_TRUE(rv::GridIsEmpty());
    EXPECT_FALSE(rv::ScanUi().firstSearchSign);
    if (yes)
      EXPECT_EQ(Entries(), (std::vector<Entry>{{"00dc", 0x10, 17, 40}, {"01wb", 0x10, 65, 20}}));
    else
      EXPECT_TRUE(Entries().empty());
  }
  EXPECT_NE(rv::AskedQuestions().front().find("(очень долго)"), std::string::npos);
}

TEST_F(ScannerTest, JunkThenGarbageAtStartIsAFirstBlockSearch) {
  for (bool yes : {true, false}) {
    SCOPED_TRACE(yes ? "yes" : "no");
    Open({Chunk("JUNK", Letters(16)), Raw(Letters(7)), C("00dc", 40, "a")});
    rv::ClearScriptedAnswers();
    rv::PushScriptedAnswer(yes);
    EXPECT_EQ(Scan(), yes);
    EXPECT_EQ(Asked(), std::vector<std::string>{kQ1});
    EXPECT_TRUE(rv::BadBlocks().empty());
    EXPECT_TRUE(rv::GridIsEmpty());
    if (yes)
      EXPECT_EQ(Entries(), (std::vector<Entry>{{"00dc", 0x10, Off("a"), 40}}));
    else
      EXPECT_TRUE(Entries().empty());
  }
}

TEST_F(ScannerTest, FirstVideoFrameOfTheFirstTwoEntriesIsKey) {
  Open({C("01wb", 20), C("00dc", 40), C("00dc", 40), C("01wb", 20), C("00dc", 30)});
  EXPECT_TRUE(Scan());
  std::vector<uint32_t> flags;
  for (const Entry& e : Entries()) flags.push_back(std::get<1>(e));
  EXPECT_EQ(flags, (std::vector<uint32_t>{0x10, 0x10, 0, 0x10, 0}));

  rv::Opt().key01wb = false;
  EXPECT_TRUE(Scan());
  flags.clear();
  for (const Entry& e : Entries()) flags.push_back(std::get<1>(e));
  EXPECT_EQ(flags, (std::vector<uint32_t>{0, 0x10, 0, 0, 0}));

  // The look stops at entry 1: a first video frame at entry 2 is not marked.
  Open({C("01wb", 20), C("01wb", 20), C("00dc", 40)});
  rv::Opt().key01wb = false;
  EXPECT_TRUE(Scan());
  flags.clear();
  for (const Entry& e : Entries()) flags.push_back(std::get<1>(e));
  EXPECT_EQ(flags, (std::vector<uint32_t>{0, 0, 0}));
}

TEST_F(ScannerTest, KeyframeOptionsMarkEveryDbAndWbEntry) {
  Open({C("00dc", 20), C("02db", 20), C("01wb", 20), C("00dc", 20), C("03wb", 20), C("00db", 20),
        C("00pc", 20)});
  struct Case {
    bool db, wb;
    std::vector<uint32_t> flags;
  };
  for (const Case& c : {Case{true, true, {0x10, 0x10, 0x10, 0, 0x10, 0x10, 0}},
                        Case{false, true, {0x10, 0, 0x10, 0, 0x10, 0, 0}},
                        Case{true, false, {0x10, 0x10, 0, 0, 0, 0x10, 0}},
                        Case{false, false, {0x10, 0, 0, 0, 0, 0, 0}}}) {
    SCOPED_TRACE(std::string("db ") + (c.db ? "on" : "off") + ", wb " + (c.wb ? "on" : "off"));
    rv::Opt().key00db = c.db;
    rv::Opt().key01wb = c.wb;
    EXPECT_TRUE(Scan());
    std::vector<uint32_t> flags;
    for (const Entry& e : Entries()) flags.push_back(std::get<1>(e));
    EXPECT_EQ(flags, c.flags);
  }
}

TEST_F(ScannerTest, ChunkIdClassification) {
  for (const char* id : {"00dc", "01wb", "99db", "42pc"})
    EXPECT_TRUE(rv::IsStreamChunkID(id, false)) << id;
  for (const char* id : {"00DC", "0adc", "a0dc", "00xx", "00d", "00dcx", "idx1", "JUNK", ""})
    EXPECT_FALSE(rv::IsStreamChunkID(id, false)) << id;
  EXPECT_TRUE(rv::IsStreamChunkID("01pc", true));
  for (const char* id : {"02wb", "10dc", "11db"}) EXPECT_FALSE(rv::IsStreamChunkID(id, true)) << id;

  // Narrowed to streams 00 and 01, a "02wb" block is garbage behind the block before it.
  Open({C("00dc", 40), C("02wb", 20), C("01wb", 20)});
  rv::Opt().streams01 = true;
  EXPECT_TRUE(Scan());
  EXPECT_EQ(Entries(), (std::vector<Entry>{{"00dc", 0x10, 4, 40}, {"01wb", 0x10, 80, 20}}));
  ASSERT_EQ(rv::BadBlocks().size(), 1u);
  EXPECT_EQ(rv::BadBlocks()[0].RealSize, 68u);
}

TEST_F(ScannerTest, ExtendedFileStepsOverIndexAndJunkBlocks) {
  Open({Chunk("ix00", Letters(24)), C("00dc", 40, "v0"), Chunk("JUNK", Letters(10)),
        C("01wb", 20, "a0"), Chunk("ix01", Letters(16)), C("00dc", 30, "v1")},
       {}, /*extended=*/true);
  EXPECT_TRUE(Scan());
  EXPECT_EQ(Entries(), (std::vector<Entry>{{"00dc", 0x10, Off("v0"), 40},
                                           {"01wb", 0x10, Off("a0"), 20},
                                           {"00dc", 0, Off("v1"), 30}}));
  EXPECT_TRUE(rv::AskedQuestions().empty());
  EXPECT_TRUE(rv::BadBlocks().empty());
  EXPECT_TRUE(rv::GridIsEmpty());

  // Without the extended format an ix## block is garbage (JUNK is stepped over anyway).
  Open({C("00dc", 40), Chunk("JUNK", Letters(10)), C("01wb", 20), Chunk("ix01", Letters(16)),
        C("00dc", 30)});
  EXPECT_TRUE(Scan());
  EXPECT_EQ(rv::Index().entries.size(), 3u);
  ASSERT_EQ(rv::BadBlocks().size(), 1u);
  EXPECT_EQ(rv::BadBlocks()[0].EntryIndex, 1u);
  EXPECT_EQ(rv::BadBlocks()[0].RealSize, 20u + 8 + 16);
}

TEST_F(ScannerTest, Idx1MetDuringSearchAsksWhetherToStop) {
  // Declared 50, really 100 bytes holding "idx1" at payload offset 70: met only by the search.
  Bytes payload = Letters(100);
  rvt::OverwriteAt(payload, 70, rvt::Text("idx1"));
  for (bool stop : {false, true}) {
    SCOPED_TRACE(stop ? "yes: stop" : "no: go on");
    Open({Chunk("00dc", payload).Size(50), C("01wb", 20), C("00dc", 30)});
    rv::ClearScriptedAnswers();
    rv::PushScriptedAnswer(stop);
    EXPECT_EQ(Scan(), !stop);
    EXPECT_EQ(Asked(), std::vector<std::string>{kQ7});
    if (!stop) {
      EXPECT_EQ(Entries(),
                (std::vector<Entry>{
                    {"00dc", 0x10, 4, 50}, {"01wb", 0x10, 112, 20}, {"00dc", 0, 140, 30}}));
      ASSERT_EQ(rv::BadBlocks().size(), 1u);
      EXPECT_EQ(rv::BadBlocks()[0].RealSize, 100u);
    } else {
      // The search never ended: the row stays open and the list stays empty.
      EXPECT_EQ(Entries(), (std::vector<Entry>{{"00dc", 0x10, 4, 50}}));
      EXPECT_TRUE(rv::BadBlocks().empty());
      EXPECT_EQ(Cell(1, 1), "0");
      EXPECT_EQ(Cell(1, 6), "");
      EXPECT_EQ(rv::CloseCheckWindowFlag().load(), 0);
    }
  }
}

TEST_F(ScannerTest, ScanToEndOfFileMeetsTheFilesOwnIdx1) {
  Bytes idx = rvt::Idx1({{"00dc", 0x10, 4, 40}, {"01wb", 0x10, 52, 20}});
  Open({C("00dc", 40), C("01wb", 20)}, {Chunk("idx1", idx)});
  const std::vector<Entry> all{{"00dc", 0x10, 4, 40}, {"01wb", 0x10, 52, 20}};
  EXPECT_TRUE(Scan());  // the movi list alone: idx1 is never reached
  EXPECT_TRUE(rv::AskedQuestions().empty());
  EXPECT_EQ(Entries(), all);

  rv::Opt().scanToEof = true;
  rv::PushScriptedAnswer(true);
  EXPECT_FALSE(Scan());
  EXPECT_EQ(Asked(), std::vector<std::string>{kQ7});
  EXPECT_EQ(Entries(), all);
  EXPECT_TRUE(rv::BadBlocks().empty());
  EXPECT_TRUE(rv::GridIsEmpty());
}

TEST_F(ScannerTest, ContinueResumesBehindTheLastEntryOrItsBadBlock) {
  const std::vector<Entry> expected{
      {"00dc", 0x10, 4, 50}, {"01wb", 0x10, 112, 20}, {"00dc", 0, 140, 30}};
  for (bool viaBadBlock : {true, false}) {
    SCOPED_TRACE(viaBadBlock ? "last entry is a completed bad block" : "plain last entry");
    // Block 0 declares 50 bytes but holds 100.
    Open({C("00dc", 100).Size(50), C("01wb", 20), C("00dc", 30)});
    rv::BadBlock bad;
    bad.EntryIndex = 0;
    bad.ChunkID = rv::fcc("00dc");
    bad.FileOffset = moviPos_ + 4;
    bad.MoviOffset = 4;
    bad.DeclaredSize = 50;
    bad.RealSize = 100;
    bad.Mark = '*';
    if (viaBadBlock) {
      rv::Index().entries = {{rv::fcc("00dc"), 0x10, 4, 50}};
      rv::BadBlocks() = {bad};
    } else {
      rv::Index().entries = {{rv::fcc("00dc"), 0x10, 4, 100}};
    }
    rv::Index().count = 1;
    rv::Index().continueCheck = 'y';
    rv::Crashed2SG();
    const std::vector<rv::GridRow> gridBefore = rv::Grid().rows;
    EXPECT_TRUE(Scan());
    std::vector<Entry> want = expected;
    if (!viaBadBlock) std::get<3>(want[0]) = 100;
    EXPECT_EQ(Entries(), want);
    EXPECT_EQ(rv::BadBlocks().size(), viaBadBlock ? 1u : 0u);
    EXPECT_EQ(rv::Grid().rows, gridBefore);
    EXPECT_TRUE(host_.marks.empty());
  }
}

TEST_F(ScannerTest, StopDuringSearchDropsTheBadBlocksEntry) {
  Open({C("01wb", 20), C("00dc", 100), Raw(rvt::Text("zzzzz")), C("01wb", 40), C("00dc", 30)});
  host_.stopAtMark = '!';
  EXPECT_FALSE(Scan());
  EXPECT_EQ(Entries(), (std::vector<Entry>{{"01wb", 0x10, 4, 20}}));
  EXPECT_TRUE(rv::BadBlocks().empty());
  ASSERT_EQ(rv::Grid().rows.size(), 2u);  // the '!' row stays until the grid is rebuilt
  EXPECT_EQ(Cell(1, 1), "1");
  EXPECT_EQ(Cell(1, 6), "");
  EXPECT_EQ(rv::CloseCheckWindowFlag().load(), 0);
  EXPECT_FALSE(rv::ScanUi().firstSearchSign);

  // A stop right after the search ended keeps every confirmed entry.
  host_.marks.clear();
  host_.stopAtMark = '*';
  EXPECT_FALSE(Scan());
  EXPECT_EQ(host_.marks, "!*");
  EXPECT_EQ(rv::Index().entries.size(), 3u);
  EXPECT_EQ(rv::BadBlocks().size(), 1u);
  EXPECT_EQ(rv::CloseCheckWindowFlag().load(), 0);

  // Stopped with nothing in the grid (during the first-block search): the window stays open.
  Open({rvt::Raw(Letters(9)), C("00dc", 40)});
  host_.stopAtMark = 0;
  host_.stopAtQuestion = true;
  EXPECT_FALSE(Scan());
  EXPECT_TRUE(rv::GridIsEmpty());
  EXPECT_TRUE(rv::Index().entries.empty());
  EXPECT_EQ(rv::CloseCheckWindowFlag().load(), 0);
  EXPECT_FALSE(rv::ScanUi().firstSearchSign);
}

TEST_F(ScannerTest, BadBlockRowOpensAtSearchStartAndCompletesInPlace) {
  Open({C("00dc", 100), Raw(rvt::Text("zzzzz")), C("01wb", 40), C("00dc", 30).Size(10),
        C("01wb", 20)});
  EXPECT_TRUE(Scan());
  EXPECT_EQ(host_.marks, "!*!*");
  // The first row reuses the blank row; the second search adds row 2.
  EXPECT_EQ(host_.rowsAtMessage, (std::vector<size_t>{2, 2, 3, 3}));
  ASSERT_EQ(rv::BadBlocks().size(), 2u);
  EXPECT_EQ(rv::BadBlocks()[1].EntryIndex, 2u);
  EXPECT_EQ(rv::BadBlocks()[1].RealSize, 30u);
  EXPECT_EQ(rv::BadBlocks()[1].DeclaredSize, 10u);
  EXPECT_EQ(Cell(2, 0), "2");
  EXPECT_EQ(Cell(2, 7), "20");
}

TEST_F(ScannerTest, BadBlockFoundBehindAnExclusionGetsItsFilePosition) {
  // Block 0 holds 16 extra bytes at payload offset 50 that the exclusion leaves out; block 1
  // declares 30 bytes but holds 60.
  Bytes a = rvt::Concat({Letters(50), rvt::Filled(16, 'X'), Letters(50, 50)});
  Open({Chunk("00dc", a).Size(100).Label("a"), C("01wb", 60, "b").Size(30), C("00dc", 40)});
  rv::Exclusions() = {{img_.Offset("a") + 8 + 50, 16}};
  rv::InvalidateReadCache();
  EXPECT_TRUE(Scan());
  EXPECT_EQ(Entries(), (std::vector<Entry>{
                           {"00dc", 0x10, 4, 100}, {"01wb", 0x10, 112, 30}, {"00dc", 0, 180, 40}}));
  ASSERT_EQ(rv::BadBlocks().size(), 1u);
  const rv::BadBlock& b = rv::BadBlocks()[0];
  EXPECT_EQ(b.MoviOffset, 112u);
  EXPECT_EQ(b.FileOffset, img_.Offset("b"));  // not moviPos + 112, which is 16 bytes short
  EXPECT_EQ(b.RealSize, 60u);
  EXPECT_EQ(Cell(1, 3), std::to_string(img_.Offset("b")));
}

TEST_F(ScannerTest, NothingHappensWithoutMoviListOrSourceFile) {
  OpenImage(rvt::Build(rvt::Riff("AVI ", {rvt::List("hdrl", {Chunk("avih", rvt::AvihPayload({}))}),
                                          rvt::List("movj", {C("00dc", 20)}).Label("movi")})));
  rv::Index().entries = {{rv::fcc("00dc"), 0, 4, 20}};
  rv::Index().count = 1;
  rv::BadBlocks() = {rv::BadBlock{}};
  EXPECT_FALSE(Scan());
  EXPECT_EQ(rv::Index().entries.size(), 1u);
  EXPECT_EQ(rv::BadBlocks().size(), 1u);

  Open({C("00dc", 20)});
  rv::InputFileName() = dir_.File("gone.avi");
  rv::BadBlocks() = {rv::BadBlock{}};
  EXPECT_FALSE(Scan());
  EXPECT_EQ(rv::BadBlocks().size(), 1u);
  EXPECT_TRUE(host_.marks.empty());
}

TEST_F(ScannerTest, ProgressReachesTheEndEvenBelowHundredBytes) {
  // The movi list ends at file position 52: E / 100 is 0.
  OpenImage(rvt::Build(rvt::Riff("AVI ", {rvt::List("movi", {C("00dc", 20)}).Label("movi")})));
  EXPECT_TRUE(Scan());
  EXPECT_EQ(rv::Index().entries.size(), 1u);
  EXPECT_TRUE(rv::GridIsEmpty());  // a block that ends exactly at the end of the file is sound
  EXPECT_EQ(host_.lastPercent, 100);
  EXPECT_EQ(host_.lastText, "ptr: 52  >>  52");

  OpenImage(
      rvt::Build(rvt::Riff("AVI ", {rvt::List("movi", {rvt::Raw(Letters(20))}).Label("movi")})));
  rv::PushScriptedAnswer(false);
  EXPECT_FALSE(Scan());
  EXPECT_EQ(host_.lastPercent, 0);

  Open({C("00dc", 2000), C("01wb", 1000)});
  EXPECT_TRUE(Scan());
  EXPECT_EQ(host_.lastPercent, 100);
  const std::string end = rv::FormatThousands(img_.bytes.size());
  EXPECT_EQ(host_.lastText, "ptr: " + end + "  >>  " + end);
  EXPECT_NE(end.find('\''), std::string::npos);
}

TEST_F(ScannerTest, JunkInsideASearchIsSteppedOverAndNotMeasured) {
  // The bad block's payload holds a JUNK chunk of 30 zero bytes: the search jumps over it, so
  // the zeros are no repeat run; the bytes around it are letters without runs.
  Bytes payload =
      rvt::Concat({Letters(10), rvt::Text("JUNK"), Bytes{30, 0, 0, 0}, Bytes(30, 0), Letters(20)});
  Open({Chunk("00dc", payload).Size(10), C("01wb", 20)});
  EXPECT_TRUE(Scan());
  ASSERT_EQ(rv::BadBlocks().size(), 1u);
  EXPECT_EQ(rv::BadBlocks()[0].RealSize, 68u);
  EXPECT_EQ(rv::RepeatText(rv::BadBlocks()[0]), "1(61) at 8");
  EXPECT_EQ(Entries().size(), 2u);
}

TEST_F(ScannerTest, LowPriorityScanSleepsAfterEveryStep) {
  Open({C("00dc", 20), C("01wb", 20), C("00dc", 20), C("01wb", 20)});
  rv::Opt().highPriorityCheck = false;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(Scan());
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
  EXPECT_EQ(rv::Index().entries.size(), 4u);
}

TEST_F(ScannerTest, IndexGrowsByAThousandEntries) {
  rv::ClearIndex();
  rv::SetIndexCount(1);
  EXPECT_EQ(rv::Index().entries.size(), 1000u);
  rv::SetIndexCount(1000);
  EXPECT_EQ(rv::Index().entries.size(), 1000u);
  rv::SetIndexCount(1001);
  EXPECT_EQ(rv::Index().entries.size(), 2000u);
  EXPECT_EQ(rv::Index().count, 1001u);
  rv::SetIndexCount(3);
  rv::TrimIndex();
  EXPECT_EQ(rv::Index().entries.size(), 3u);
}

}  // namespace

namespace {

// ---- interrupted recordings, list groups, pad bytes ------------------------------------------

TEST_F(ScannerTest, BrokenMoviOrRiffSizeMakesTheCheckRunToTheEndOfTheFile) {
  // The writer of an interrupted recording leaves 0 or 0xFFFFFFFF in the sizes it meant to
  // fill in last; a movi size can also fall short of the chunks that follow it.
  struct Case {
    const char* name;
    uint32_t riff;  // 0: keep
    uint32_t movi;  // 0xFFFFFFFE: keep
    const char* message;
  };
  const Case cases[] = {
      {"movi 0", 0, 0, "• размер блока movi (0) неверен"},
      {"movi placeholder", 0, 0xFFFFFFFF, "• размер блока movi (4294967295) неверен"},
      {"movi short", 0, 4 + 108, "• размер блока movi (112) неверен"},
      {"RIFF 0", 1, 0xFFFFFFFE, "• размер блока RIFF (0) неверен"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rvt::Image img = rvt::Build(rvt::Riff(
        "AVI ", {rvt::List("hdrl", {Chunk("avih", rvt::AvihPayload({}))}),
                 rvt::List("movi", {C("00dc", 100), C("01wb", 50), C("00dc", 30)}).Label("movi")}));
    if (c.riff) rvt::OverwriteLE32(img.bytes, 4, 0);
    if (c.movi != 0xFFFFFFFE) rvt::OverwriteLE32(img.bytes, img.Offset("movi") + 4, c.movi);
    OpenImage(img);
    rv::ClearMessages();
    EXPECT_TRUE(Scan());
    EXPECT_EQ(rv::Index().entries.size(), 3u);
    EXPECT_TRUE(rv::BadBlocks().empty());
    EXPECT_TRUE(rv::LastScan().sizeBroken);
    bool said = false;
    for (const std::string& m : rv::MessageLines()) said |= m.rfind(c.message, 0) == 0;
    EXPECT_TRUE(said) << c.message;
  }
  // A sound movi size is kept: what follows the list is not the stream's.
  Open({C("00dc", 100)}, {Chunk("JUNK", Letters(30))});
  EXPECT_TRUE(Scan());
  EXPECT_EQ(rv::Index().entries.size(), 1u);
  EXPECT_FALSE(rv::LastScan().sizeBroken);
}

TEST_F(ScannerTest, ScanToTheEndStopsQuietlyAtTheFilesOwnIndexWhenTheSizeWasBroken) {
  rvt::Image img = rvt::Build(rvt::Riff(
      "AVI ", {rvt::List("hdrl", {Chunk("avih", rvt::AvihPayload({}))}),
               rvt::List("movi", {C("00dc", 100), C("01wb", 50)}).Label("movi"),
               Chunk("idx1", rvt::Idx1({{"00dc", 0x10, 4, 100}, {"01wb", 0x10, 112, 50}}))}));
  rvt::OverwriteLE32(img.bytes, img.Offset("movi") + 4, 0);
  OpenImage(img);
  EXPECT_TRUE(Scan()) << "the stream ends where the index begins";
  EXPECT_EQ(rv::Index().entries.size(), 2u);
  EXPECT_TRUE(rv::AskedQuestions().empty());
}

TEST_F(ScannerTest, ScanThroughCutFragmentsEndsWhereTheShortenedStreamEnds) {
  // 16 bytes cut out of the first chunk, counted by the movi size: the stream ends 16 bytes
  // before the movi list's end in the file, at the file's own index or at the end of the file.
  for (bool withIdx1 : {true, false}) {
    SCOPED_TRACE(withIdx1 ? "idx1 after movi" : "movi at the end of the file");
    Bytes a = rvt::Concat({Letters(50), rvt::Filled(16, 'X'), Letters(50, 50)});
    std::vector<Node> after;
    if (withIdx1) after.push_back(Chunk("idx1", rvt::Idx1({{"00dc", 0x10, 4, 100}})));
    Open({Chunk("00dc", a).Size(100).Label("a"), C("01wb", 60), C("00dc", 40)}, after);
    rv::Exclusions() = {{img_.Offset("a") + 8 + 50, 16}};
    rv::InvalidateReadCache();
    EXPECT_TRUE(Scan());
    EXPECT_TRUE(rv::AskedQuestions().empty());
    EXPECT_EQ(Entries(), (std::vector<Entry>{
                             {"00dc", 0x10, 4, 100}, {"01wb", 0x10, 112, 60}, {"00dc", 0, 180, 40}}));
    EXPECT_TRUE(rv::GridIsEmpty());
  }
}

TEST_F(ScannerTest, ChunksInsideListGroupsAreIndexedAtTheirOwnOffsets) {
  Open({rvt::List("rec ", {C("00dc", 100, "v0"), C("01wb", 51, "a0")}),
        rvt::List("rec ", {C("00dc", 30, "v1"), C("01wb", 20, "a1")})});
  EXPECT_TRUE(Scan());
  EXPECT_EQ(Entries(), (std::vector<Entry>{{"00dc", 0x10, Off("v0"), 100},
                                           {"01wb", 0x10, Off("a0"), 51},
                                           {"00dc", 0, Off("v1"), 30},
                                           {"01wb", 0x10, Off("a1"), 20}}));
  EXPECT_TRUE(rv::BadBlocks().empty());
  EXPECT_EQ(rv::CloseCheckWindowFlag().load(), 1);

  // Garbage inside a group: the chunk before it is the bad block; the search ends at the next
  // group, whose chunks keep their offsets.
  Open({rvt::List("rec ", {C("00dc", 100, "v0"), Raw(rvt::Text("zzzzzz"))}),
        rvt::List("rec ", {C("00dc", 30, "v1")}).Label("g1")});
  EXPECT_TRUE(Scan());
  EXPECT_EQ(Entries(), (std::vector<Entry>{{"00dc", 0x10, Off("v0"), 100},
                                           {"00dc", 0, Off("v1"), 30}}));
  ASSERT_EQ(rv::BadBlocks().size(), 1u);
  EXPECT_EQ(rv::BadBlocks()[0].RealSize, Off("g1") - Off("v0") - 8);
}

TEST_F(ScannerTest, RealSizeLeavesOutThePadByteTheStreamShows) {
  // Audio chunks of 41 bytes; the third one's size field is broken. The distance to the next
  // chunk is 42 with the pad byte; the stream shows the size as 41.
  Open({C("01wb", 41), C("00dc", 20), C("01wb", 41, "bad"), C("00dc", 20), C("01wb", 41)});
  rvt::OverwriteLE32(img_.bytes, img_.Offset("bad") + 4, 7);
  OpenImage(img_);
  EXPECT_TRUE(Scan());
  ASSERT_EQ(rv::BadBlocks().size(), 1u);
  EXPECT_EQ(rv::BadBlocks()[0].RealSize, 41u);
  // Without such evidence (a size no other chunk has) the distance stands.
  Open({C("01wb", 41), C("00dc", 20), C("01wb", 43, "bad"), C("00dc", 20)});
  rvt::OverwriteLE32(img_.bytes, img_.Offset("bad") + 4, 7);
  OpenImage(img_);
  EXPECT_TRUE(Scan());
  ASSERT_EQ(rv::BadBlocks().size(), 1u);
  EXPECT_EQ(rv::BadBlocks()[0].RealSize, 44u);

  // Two sizes a byte apart, as MPEG audio frames have: a broken chunk of 42 bytes whose last
  // byte is zero could be either, and keeps its last byte.
  const std::vector<Node> twoSizes = {C("01wb", 41), C("01wb", 42), C("00dc", 20),
                                      C("01wb", 42, "bad"), C("00dc", 20, "next")};
  Open(twoSizes);
  img_.bytes[img_.Offset("bad") + 8 + 41] = 0;
  rvt::OverwriteLE32(img_.bytes, img_.Offset("bad") + 4, 7);
  OpenImage(img_);
  EXPECT_TRUE(Scan());
  ASSERT_EQ(rv::BadBlocks().size(), 1u);
  EXPECT_EQ(rv::BadBlocks()[0].RealSize, 42u);
  // The file's own idx1 names it: 41 bytes and the pad byte, or 42 bytes.
  for (uint32_t named : {41u, 42u}) {
    Open(twoSizes, {Chunk("idx1", rvt::Filled(16, 0))});
    img_.bytes[img_.Offset("bad") + 8 + 41] = 0;
    rvt::OverwriteLE32(img_.bytes, img_.Offset("bad") + 4, 7);
    const size_t idx = img_.bytes.size() - 16;
    rvt::OverwriteAt(img_.bytes, idx, rvt::Text("01wb"));
    rvt::OverwriteLE32(img_.bytes, idx + 8, uint32_t(img_.Offset("bad") - moviPos_));
    rvt::OverwriteLE32(img_.bytes, idx + 12, named);
    OpenImage(img_);
    EXPECT_TRUE(Scan());
    ASSERT_EQ(rv::BadBlocks().size(), 1u);
    EXPECT_EQ(rv::BadBlocks()[0].RealSize, named);
  }
}

}  // namespace
