// The stream check on small AVI images built in code: the index it builds, the bad blocks it
// finds behind broken size fields, its questions, the keyframe flags, stop and continue.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "check/bad_blocks.h"
#include "check/index.h"
#include "check/scanner.h"
#include "fixtures/engine_dump.h"
#include "fixtures/engine_test.h"
#include "riff/bytes.h"

namespace {

using rvt::Bytes;
using rvt::Chunk;
using rvt::Letters;
using rvt::Node;
using rvt::Raw;

Node C(const std::string& id, size_t n) { return Chunk(id, Letters(n)); }
Node Sized(Node n, uint32_t declared) { return n.Size(declared); }
Bytes Z(size_t n = 5) { return Bytes(n, 'z'); }

class ScannerTest : public rvt::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    // Records the bad-block notices ('!' opens a row, '*' completes it), stops at a chosen
    // one, and stops a scan that runs away instead of hanging the test.
    host_.onCheck = [this](int code, int64_t) {
      if (rv::Index().count > 100000 || marks_.size() > 100000) rv::RequestStop();
      if (code != rv::kShowBadBlock) return;
      marks_ += rv::CurrentBadBlock().Mark + std::to_string(rv::Grid().rows.size());
      if (rv::CurrentBadBlock().Mark == stopAtMark_) rv::RequestStop();
    };
  }
  // RIFF AVI: hdrl (avih; a strl with an indx chunk when extended), movi with the given
  // children, then the nodes of after.
  void OpenMovi(std::vector<Node> movi, std::vector<Node> after = {}, bool extended = false) {
    std::vector<Node> hdrl{Chunk("avih", rvt::AvihPayload({}))};
    if (extended)
      hdrl.push_back(rvt::List("strl", {Chunk("strh", rvt::StrhPayload("vids", "XVID", {})),
                                        Chunk("indx", Letters(24))}));
    std::vector<Node> top{rvt::List("hdrl", hdrl), rvt::List("movi", movi).Label("movi")};
    top.insert(top.end(), after.begin(), after.end());
    OpenImage(rvt::Build(rvt::Riff("AVI ", top)));
  }
  void OpenImage(rvt::Image img) {
    img_ = std::move(img);
    moviPos_ = img_.Offset("movi") + 8;
    ASSERT_TRUE(Open(img_.bytes).opened);
  }
  // Runs the task: "end 1" when the scan reached the end, then the dump of what it left.
  std::string Scan() {
    rv::CloseCheckWindowFlag() = 7;
    rv::AskedQuestions().clear();
    const rv::Completion c = rv::Execute("createIDX1");
    EXPECT_EQ(c.code, 100);
    return "end " + std::to_string(c.result) + "\n" + rvt::ScanDump();
  }

  rvt::Image img_;
  uint32_t moviPos_ = 0;
  std::string marks_;
  char stopAtMark_ = 0;
};

TEST_F(ScannerTest, IndexBadBlocksAndQuestionsPerCase) {
  Bytes idx1At70 = Letters(100);
  rvt::OverwriteAt(idx1At70, 70, rvt::Text("idx1"));
  // A JUNK chunk of 30 zeros inside a bad block: stepped over, so no repeat run.
  const Bytes junkInside =
      rvt::Concat({Letters(10), rvt::Text("JUNK"), Bytes{30, 0, 0, 0}, Bytes(30, 0), Letters(20)});
  const Node wraps = Sized(C("01wb", 60), 0xFFFFFFF8u), idx1Inside = Chunk("00dc", idx1At70);
  const auto rec = [](std::vector<Node> children) { return rvt::List("rec ", children); };
  // set: the answers ("yes", "no") and settings away from the defaults, by name.
  const struct {
    const char* what;
    std::vector<Node> movi;
    std::string set, dump;
  } cases[] = {
      // clang-format off
      {"pad bytes after odd blocks", {C("00dc", 101), C("01wb", 51), C("00dc", 20)}, "",
       "end 1\n00dc K 4 101\n01wb K 114 51\n00dc - 174 20\n"},
      {"a size at the limit is no bad block", {Sized(C("00dc", 100), 500000), C("01wb", 40)},
       "limit-500 in-file", "end 1\n00dc K 4 500000\n"},
      {"a size wrapping to 32 bits, searched beyond the end", {C("00dc", 40), wraps, C("00dc", 30)},
       "", "end 1\n00dc K 4 40\n01wb K 52 4294967288\n00dc - 120 30\n"
       "bad 01wb #1 @52 file 148 4294967288->60 1(61) at 8\n"},
      {"key flags: the first video of entries 0-1, every wb and db", {C("01wb", 20), C("00dc", 40),
       C("00dc", 40), C("02db", 20), C("00pc", 20)}, "",
       "end 1\n01wb K 4 20\n00dc K 32 40\n00dc - 80 40\n02db K 128 20\n00pc - 156 20\n"},
      {"streams 00 and 01 only: 02wb is garbage", {C("00dc", 40), C("02wb", 20), C("01wb", 20)},
       "streams01", "end 1\n00dc K 4 40\n01wb K 80 20\n"
       "bad 00dc #0 @4 file 100 40->68 3(00) at 53\n"},
      {"without the extended format ix## is garbage", {C("00dc", 40), Chunk("JUNK", Letters(10)),
       C("01wb", 20), Chunk("ix01", Letters(16)), C("00dc", 30)}, "",
       "end 1\n00dc K 4 40\n01wb K 70 20\n00dc - 122 30\n"
       "bad 01wb #1 @70 file 166 20->44 3(00) at 33\n"},
      {"with it ix## and JUNK are stepped over", {Chunk("ix00", Letters(24)), C("00dc", 40),
       Chunk("JUNK", Letters(10)), C("01wb", 20), Chunk("ix01", Letters(16)), C("00dc", 30)},
       "extended", "end 1\n00dc K 36 40\n01wb K 102 20\n00dc - 154 30\n"},
      {"idx1 met during a search: go on", {Sized(idx1Inside, 50), C("01wb", 20)}, "no",
       "end 1\n00dc K 4 50\n01wb K 112 20\nbad 00dc #0 @4 file 100 50->100 1(61) at 8\nask 7\n"},
      {"idx1 met during a search: stop, the row stays open", {Sized(idx1Inside, 50),
       C("01wb", 20)}, "yes", "end 0\n00dc K 4 50\nask 7\ngrid 1 close 0\n"},
      {"JUNK inside a search is stepped over and not measured", {Sized(Chunk("00dc", junkInside),
       10), C("01wb", 20)}, "", "end 1\n00dc K 4 10\n01wb K 80 20\n"
       "bad 00dc #0 @4 file 100 10->68 1(61) at 8\n"},
      {"garbage in a group: the search ends at the next group", {rec({C("00dc", 100), Raw(Z(6))}),
       rec({C("00dc", 30)})}, "", "end 1\n00dc K 16 100\n00dc - 142 30\n"
       "bad 00dc #0 @16 file 112 100->106 6(7A) at 108\n"},
      {"a sound movi size: what follows the list is not the stream's", {C("00dc", 100)},
       "junk-after", "end 1\n00dc K 4 100\n"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto has = [&](const char* word) { return c.set.find(word) != std::string::npos; };
    OpenMovi(c.movi,
             has("junk-after") ? std::vector{Chunk("JUNK", Letters(30))} : std::vector<Node>{},
             has("extended"));
    rv::Opt().Reset();
    rv::Options& o = rv::Opt();
    o.beyondEof = !has("in-file"), o.streams01 = has("streams01");
    if (has("limit-500")) o.bigIsBad = true, o.bigLimitBytes = rv::SizeLimitFromText("500");
    if (has("yes") || has("no")) rv::PushScriptedAnswer(has("yes"));
    EXPECT_EQ(Scan(), c.dump);
  }
  EXPECT_EQ(Scan(), cases[std::size(cases) - 1].dump) << "a new scan starts from nothing again";
  EXPECT_FALSE(rv::SourceIsOpen() || rv::ScanUi().gaugeVisible || rv::ScanUi().pointerVisible);
}

TEST_F(ScannerTest, BrokenMoviOrRiffSizeMakesTheCheckRunToTheEndOfTheFile) {
  // The writer of an interrupted recording leaves 0 or 0xFFFFFFFF in the sizes it meant to
  // fill in last; a movi size can also fall short of the chunks that follow it.
  const struct {
    bool movi;
    uint32_t value;
  } cases[] = {{true, 0}, {true, 0xFFFFFFFF}, {true, 112}, {false, 0}};
  for (const auto& c : cases) {
    OpenMovi({C("00dc", 100), C("01wb", 50), C("00dc", 30)},
             {Chunk("idx1", rvt::Idx1({{"00dc", 0x10, 4, 100}}))});
    rvt::OverwriteLE32(img_.bytes, c.movi ? img_.Offset("movi") + 4 : 4, c.value);
    OpenImage(img_);
    rv::ClearMessages();
    // The stream ends quietly where the file's own index begins.
    const std::string dump = Scan();
    ASSERT_FALSE(rv::MessageLines().empty());
    EXPECT_EQ(dump + rv::MessageLines().back(),
              "end 1\n00dc K 4 100\n01wb K 112 50\n00dc - 170 30\n• размер блока " +
                  std::string(c.movi ? "movi" : "RIFF") + " (" + std::to_string(c.value) +
                  ") неверен: поток проверяется до конца файла");
  }
}

// A file in RIFF parts is checked through every part's movi list; bytes inserted into a chunk
// of the last part make a bad block there, and the chunks after it are still found.
TEST_F(ScannerTest, AFileInPartsIsCheckedThroughEveryPart) {
  rvt::StandardAvi a = rvt::MakeOpenDmlAvi({.nVideo = 9, .nAudio = 9}, 4096);
  std::string want = "end 1\n";
  for (size_t i = 0; i < a.index.size(); ++i)
    want += a.index[i].ckid + (a.index[i].ckid == "00dc" && i > 0 ? " - " : " K ") +
            std::to_string(a.index[i].offset) + " " + std::to_string(a.index[i].length) + "\n";
  ASSERT_TRUE(Open(a.bytes).opened);
  EXPECT_EQ(Scan(), want);
  const size_t k = a.parts.back().firstChunk;
  rvt::InsertAt(a.bytes, a.chunks[k].offset + 8 + 10, rvt::Filled(16, 'X'));
  ASSERT_TRUE(Open(a.bytes).opened);
  const std::string dump = Scan();
  EXPECT_EQ(size_t(std::count(dump.begin(), dump.end(), '\n')), a.index.size() + 2) << dump;
  EXPECT_NE(dump.find("bad " + a.chunks[k].id + " #" + std::to_string(k) + " @"), std::string::npos)
      << dump;
  // A broken ID right behind a part's headers: its bytes are stepped over (a search from the
  // part before would only come back to them), and every other chunk is found.
  rvt::OverwriteAt(a.bytes, a.chunks[a.parts[1].firstChunk].offset, rvt::Text("xxxx"));
  ASSERT_TRUE(Open(a.bytes).opened);
  const std::string end = Scan().substr(0, 6);
  EXPECT_EQ(end + std::to_string(rv::Index().entries.size()),
            "end 1\n" + std::to_string(a.index.size() - 1));
}

TEST_F(ScannerTest, ExcludedBytesLeaveTheStreamAndBadBlocksGetTheirFilePosition) {
  // Block 0 holds 16 bytes the exclusion leaves out; block 1 declares 30 bytes but holds 60.
  const Bytes withInsert = rvt::Concat({Letters(50), rvt::Filled(16, 'X'), Letters(50)});
  OpenMovi({Sized(Chunk("00dc", withInsert), 100), Sized(C("01wb", 60), 30), C("00dc", 40)},
           {Chunk("idx1", rvt::Idx1({{"00dc", 0x10, 4, 100}}))});
  rv::Exclusions() = {{moviPos_ + 4 + 8 + 50, 16}};
  rv::InvalidateReadCache();
  // 224 = moviPos + 112 + 16: not moviPos + 112, which is 16 bytes short.
  EXPECT_EQ(Scan(),
            "end 1\n00dc K 4 100\n01wb K 112 30\n00dc - 180 40\n"
            "bad 01wb #1 @112 file 224 30->60 1(61) at 8\n");
}

TEST_F(ScannerTest, RealSizeLeavesOutThePadByteOnlyWithEvidence) {
  // The broken chunk (declared 7) lies 42 bytes before the next: 41 and its pad byte, or 42.
  // Two sizes a byte apart, as MPEG audio frames have, and a last byte of zero: the file's idx1
  // decides.
  const Node zeroEnd = Sized(Chunk("01wb", rvt::Concat({Letters(41), Bytes(1, 0)})), 7);
  const struct {
    std::vector<Node> movi;
    uint32_t idx1Names;  // the size the file's own idx1 gives the broken chunk; 0: no idx1
    uint32_t real;
  } cases[] = {
      {{C("01wb", 41), C("00dc", 20), Sized(C("01wb", 41), 7), C("00dc", 20)}, 0, 41},
      {{C("01wb", 41), C("00dc", 20), Sized(C("01wb", 43), 7), C("00dc", 20)}, 0, 44},
      {{C("01wb", 41), C("01wb", 42), C("00dc", 20), zeroEnd, C("00dc", 20)}, 0, 42},
      {{C("01wb", 41), C("01wb", 42), C("00dc", 20), zeroEnd, C("00dc", 20)}, 41, 41},
  };
  for (const auto& c : cases) {
    OpenMovi(c.movi, c.idx1Names
                         ? std::vector{Chunk("idx1", rvt::Idx1({{"01wb", 0, 132, c.idx1Names}}))}
                         : std::vector<Node>{});
    Scan();
    ASSERT_EQ(rv::BadBlocks().size(), 1u);
    EXPECT_EQ(rv::BadBlocks()[0].RealSize, c.real) << &c - cases;
  }
}

// Continued from a saved check whose last entry is a bad block: the search is not run again
// (the command line compares a check continued from a plain entry with a full one).
TEST_F(ScannerTest, ContinueResumesBehindTheBadBlockOfTheLastEntry) {
  OpenMovi({Sized(C("00dc", 100), 50), C("01wb", 20), C("00dc", 30)});
  rv::Index().entries = {{rv::fcc("00dc"), 0x10, 4, 50}};
  rv::Index().count = 1;
  rv::Index().continueCheck = 'y';
  rv::BadBlocks() = {{0, rv::fcc("00dc"), moviPos_ + 4, 4, 50, 100, '*', 0, 1, 8}};
  rv::Crashed2SG();
  EXPECT_EQ(Scan(),
            "end 1\n00dc K 4 50\n01wb K 112 20\n00dc - 140 30\n"
            "bad 00dc #0 @4 file 100 50->100 1(00) at 8\n");
  EXPECT_EQ(marks_, "") << "no search ran again";
}

TEST_F(ScannerTest, StopsAndRowsOfTheGrid) {
  OpenMovi({C("00dc", 100), Raw(Z()), C("01wb", 40), Sized(C("00dc", 30), 10), C("01wb", 20)});
  Scan();
  // The first row reuses the blank row; the second search adds row 2.
  EXPECT_EQ(marks_, "!2*2!3*3");
  stopAtMark_ = '!';  // a stop during the search drops the bad block's entry
  EXPECT_EQ(Scan(), "end 0\ngrid 1 close 0\n");
  stopAtMark_ = '*';  // a stop right after it keeps every confirmed entry
  EXPECT_EQ(Scan(),
            "end 0\n00dc K 4 100\n01wb K 117 40\nbad 00dc #0 @4 file 100 100->105 5(7A) at 108\n");
  // Stopped with nothing in the grid (in the first-block search): the window stays open.
  OpenMovi({Raw(Letters(9)), C("00dc", 40)});
  host_.onAsk = [](const rv::Question&) { return rv::RequestStop(), true; };
  EXPECT_EQ(Scan(), "end 0\nask 1\ngrid 0 close 0\n");
}

}  // namespace
