// Bad blocks: the packed record, the grid rows and their texts, the code 4 handling that opens
// and completes a row, the rebuild from the list, the longest repeat run (measured by the
// scanner's search and again by scanchunk), and the stream/file position conversions.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "check/bad_blocks.h"
#include "check/index.h"
#include "check/scanner.h"
#include "check/file_state.h"
#include "base/host.h"
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
using Bytes = rvt::Bytes;

Bytes Letters(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t('a' + i % 26);
  return b;
}

rv::BadBlock Record(uint32_t entry, uint32_t movi, uint32_t declared, uint32_t real, char mark) {
  rv::BadBlock b;
  b.EntryIndex = entry;
  b.ChunkID = rv::fcc("00dc");
  b.FileOffset = 1000 + movi;
  b.MoviOffset = movi;
  b.DeclaredSize = declared;
  b.RealSize = real;
  b.Mark = mark;
  b.RepeatByte = 0xAB;
  b.RepeatLength = 77;
  b.RepeatStart = 9;
  return b;
}

class BadBlockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rv::InstallTaskRoutines();
    rv::Opt().Reset();
    rv::ClearScriptedAnswers();
    rv::ClearStop();
    rv::SetHost(nullptr);
    rv::ResetFileState();
  }
  void TearDown() override {
    rv::ClearScriptedAnswers();
    rv::Opt().Reset();
    rv::ResetFileState();
  }

  // The text of grid column 8 for a bad block whose payload is the given bytes: declared 10
  // bytes, so the scan lands inside the payload and searches it up to the next block.
  std::string RepeatByScan(const Bytes& payload) {
    Image({Chunk("00dc", payload).Size(10), Chunk("01wb", Letters(20))});
    EXPECT_TRUE(rv::Execute("createIDX1").result == 1);
    if (rv::BadBlocks().size() != 1) return "bad blocks: " + std::to_string(rv::BadBlocks().size());
    EXPECT_EQ(rv::BadBlocks()[0].RealSize, payload.size() + payload.size() % 2);
    EXPECT_EQ(rv::Grid().rows.at(1).at(8), rv::RepeatText(rv::BadBlocks()[0]));
    return rv::RepeatText(rv::BadBlocks()[0]);
  }

  void Image(std::vector<Node> movi) {
    rvt::Image img =
        rvt::Build(rvt::Riff("AVI ", {rvt::List("hdrl", {Chunk("avih", rvt::AvihPayload({}))}),
                                      rvt::List("movi", movi)}));
    std::string path = dir_.Write("bad.avi", img.bytes);
    rv::ResetFileState();
    rv::InputFileName() = path;
    ASSERT_TRUE(rv::OpenAndReadHeader(path).opened);
  }

  rvt::TempDir dir_{"badblocks"};
};

TEST_F(BadBlockTest, RecordIsPacked34BytesLittleEndian) {
  rv::BadBlock b = Record(0x01020304, 0x21222324, 0x31323334, 0x41424344, '*');
  b.ChunkID = rv::fcc("01wb");
  b.FileOffset = 0x11121314;
  b.RepeatByte = 0x5A;
  b.RepeatLength = 0x51525354;
  b.RepeatStart = 0x61626364;
  uint8_t out[rv::kBadBlockRecordSize + 1];
  out[34] = 0xEE;  // the record ends at 34 bytes
  rv::PackBadBlock(b, out);
  const Bytes want{0x04, 0x03, 0x02, 0x01, '0',  '1',  'w',  'b',  0x14, 0x13, 0x12, 0x11,
                   0x24, 0x23, 0x22, 0x21, 0x34, 0x33, 0x32, 0x31, 0x44, 0x43, 0x42, 0x41,
                   '*',  0x5A, 0x54, 0x53, 0x52, 0x51, 0x64, 0x63, 0x62, 0x61, 0xEE};
  EXPECT_EQ(Bytes(out, out + 35), want);
  EXPECT_EQ(rv::UnpackBadBlock(out), b);
}

TEST_F(BadBlockTest, RowTextsAndSignedDelta) {
  EXPECT_EQ(rv::Grid().rows.at(0),
            (rv::GridRow{"", "#", "id", "offset в файле", "offset в потоке", "заявл.размер",
                         "реальн.размер", "дельта", "max повтор"}));
  rv::BadBlock b = Record(12, 700, 5000, 4000, '*');
  b.RepeatByte = 0;
  b.RepeatLength = 4096;
  b.RepeatStart = 8;
  EXPECT_EQ(rv::BadBlockRow(b, 3, true), (rv::GridRow{"3", "12", "00dc", "1700", "700", "5000",
                                                      "4000", "-1000", "4096(00) at 8"}));
  EXPECT_EQ(rv::BadBlockRow(b, 3, false),
            (rv::GridRow{"3", "12", "00dc", "1700", "700", "5000", "", "", ""}));
  b.RepeatByte = 0xAF;
  EXPECT_EQ(rv::RepeatText(b), "4096(AF) at 8");
  // Hostile declared sizes: the delta stays negative, never the 32-bit wrap to a positive one.
  struct Case {
    uint32_t declared, real;
    const char* delta;
  };
  for (const Case& c :
       {Case{0xFFFFFFF8u, 4000, "-4294963288"}, Case{0xF0000000u, 100, "-4026531740"},
        Case{0x80000001u, 0, "-2147483649"}, Case{0, 0xFFFFFFFFu, "4294967295"}}) {
    b.DeclaredSize = c.declared;
    b.RealSize = c.real;
    EXPECT_EQ(rv::BadBlockRow(b, 1, true)[7], c.delta) << c.declared << " " << c.real;
    EXPECT_EQ(std::to_string(b.Delta()), c.delta);
  }
  // Numbers are plain decimal and unsigned.
  b.FileOffset = 0xFFFFFFFFu;
  EXPECT_EQ(rv::BadBlockRow(b, 1, true)[3], "4294967295");
}

TEST_F(BadBlockTest, SearchRowIsCompletedInPlaceAndListGrowsByOne) {
  rv::CurrentBadBlock() = Record(5, 100, 50, 0, '!');
  EXPECT_EQ(rv::ShowCurrentBadBlock(), 1);  // the blank first row is reused
  ASSERT_EQ(rv::Grid().rows.size(), 2u);
  EXPECT_EQ(rv::Grid().rows[1], rv::BadBlockRow(rv::CurrentBadBlock(), 1, false));
  EXPECT_TRUE(rv::BadBlocks().empty());
  EXPECT_FALSE(rv::GridIsEmpty());

  rv::CurrentBadBlock() = Record(5, 100, 50, 80, '*');
  EXPECT_EQ(rv::ShowCurrentBadBlock(), 1);
  ASSERT_EQ(rv::Grid().rows.size(), 2u);
  EXPECT_EQ(rv::Grid().rows[1][6], "80");
  ASSERT_EQ(rv::BadBlocks().size(), 1u);
  EXPECT_EQ(rv::BadBlocks()[0], rv::CurrentBadBlock());

  rv::CurrentBadBlock() = Record(9, 300, 40, 0, '!');
  EXPECT_EQ(rv::ShowCurrentBadBlock(), 2);
  rv::CurrentBadBlock() = Record(9, 300, 40, 60, '*');
  EXPECT_EQ(rv::ShowCurrentBadBlock(), 2);
  ASSERT_EQ(rv::Grid().rows.size(), 3u);
  EXPECT_EQ(rv::Grid().rows[2], rv::BadBlockRow(rv::CurrentBadBlock(), 2, true));
  EXPECT_EQ(rv::BadBlocks().size(), 2u);

  // A search that never ended leaves a '!' row outside the list; the rebuild drops it.
  rv::CurrentBadBlock() = Record(14, 500, 40, 0, '!');
  EXPECT_EQ(rv::ShowCurrentBadBlock(), 3);
  EXPECT_EQ(rv::Grid().rows.size(), 4u);
  rv::Crashed2SG();
  ASSERT_EQ(rv::Grid().rows.size(), 3u);
  EXPECT_EQ(rv::Grid().rows[1], rv::BadBlockRow(rv::BadBlocks()[0], 1, true));
  EXPECT_EQ(rv::Grid().rows[2], rv::BadBlockRow(rv::BadBlocks()[1], 2, true));

  rv::BadBlocks().clear();
  rv::Crashed2SG();
  EXPECT_TRUE(rv::GridIsEmpty());
  EXPECT_EQ(rv::Grid().rows.size(), 2u);
}

TEST_F(BadBlockTest, LongestRunRules) {
  auto run = [](const Bytes& payload) {
    Bytes block = rvt::Concat({rvt::Text("00dc"), Bytes(4, 0), payload});
    rv::RepeatRun r = rv::LongestRun(block.data(), block.size(), 8);
    rv::BadBlock b;
    b.RepeatByte = r.byte;
    b.RepeatLength = r.length;
    b.RepeatStart = r.start;
    return rv::RepeatText(b);
  };
  EXPECT_EQ(run(rvt::Concat({Letters(20), Bytes(1000, 0), Letters(10)})), "1000(00) at 28");
  EXPECT_EQ(run(Bytes(300, 0xFF)), "300(FF) at 8");
  EXPECT_EQ(run(rvt::Concat({rvt::Text("qr"), Bytes(40, 0x11), rvt::Text("s"), Bytes(40, 0x22)})),
            "40(11) at 10");
  EXPECT_EQ(run(rvt::Concat({Bytes(50, 0), Letters(30), Bytes(49, 0x33)})), "50(00) at 8");
  EXPECT_EQ(run(rvt::Concat({Letters(5), Bytes(3, 0x44), Letters(5), Bytes(4, 0x44)})),
            "4(44) at 21");
  EXPECT_EQ(run({}), "0(00) at 0");  // a block without payload
}

TEST_F(BadBlockTest, ScannerMeasuresTheSameRunWhileSearching) {
  EXPECT_EQ(RepeatByScan(rvt::Concat({Letters(20), Bytes(1000, 0), Letters(10)})),
            "1000(00) at 28");
  EXPECT_EQ(RepeatByScan(Bytes(200, 0xFF)), "200(FF) at 8");
  EXPECT_EQ(RepeatByScan(rvt::Concat({rvt::Text("qr"), Bytes(40, 0x11), rvt::Text("s"),
                                      Bytes(40, 0x22), rvt::Text("t")})),
            "40(11) at 10");
  EXPECT_EQ(RepeatByScan(rvt::Concat({Bytes(50, 0), Letters(30)})), "50(00) at 8");
}

TEST_F(BadBlockTest, SearchThatFeedsNoByteReportsStartEight) {
  // Block 1 has a long run; block 2 declares 20 bytes but has none, so its search meets the
  // next block at once: its run must not carry over from block 1.
  Image({Chunk("00dc", rvt::Concat({Letters(20), Bytes(100, 0)})).Size(10),
         Chunk("00dc", {}).Size(20), Chunk("01wb", Letters(40)), Chunk("00dc", Letters(30))});
  EXPECT_EQ(rv::Execute("createIDX1").result, 1);
  ASSERT_EQ(rv::BadBlocks().size(), 2u);
  EXPECT_EQ(rv::RepeatText(rv::BadBlocks()[0]), "100(00) at 28");
  EXPECT_EQ(rv::BadBlocks()[1].RealSize, 0u);
  EXPECT_EQ(rv::RepeatText(rv::BadBlocks()[1]), "0(00) at 8");
  EXPECT_EQ(rv::Grid().rows.at(2).at(7), "-20");
  EXPECT_EQ(rv::Grid().rows.at(2).at(8), "0(00) at 8");
}

TEST_F(BadBlockTest, ScanchunkMeasuresAgainFromTheSource) {
  auto fileWith = [&](const Bytes& payload, const std::string& name) {
    Bytes f = rvt::Concat({Letters(100), rvt::Text("00dc"), Bytes(4, 0), payload, Letters(50)});
    return dir_.Write(name, f);
  };
  const std::string one = fileWith(rvt::Concat({Letters(20), Bytes(1000, 0), Letters(10)}), "one");
  const std::string two = fileWith(rvt::Concat({Letters(3), Bytes(1027, 0xFF)}), "two");
  rv::BadBlocks() = {Record(0, 96, 1030, 1030, '*'), Record(1, 500, 40, 40, '*')};
  const rv::BadBlock untouched = rv::BadBlocks()[1];

  rv::scanchunk(one, 100, 1030, 0);
  EXPECT_EQ(rv::RepeatText(rv::BadBlocks()[0]), "1000(00) at 28");
  // Same positions in another file: nothing may come from the previous read.
  rv::scanchunk(two, 100, 1030, 0);
  EXPECT_EQ(rv::RepeatText(rv::BadBlocks()[0]), "1027(FF) at 11");
  EXPECT_EQ(rv::BadBlocks()[1], untouched);
  EXPECT_FALSE(rv::SourceIsOpen());

  rv::scanchunk(one, 100, 0, 0);  // no payload
  EXPECT_EQ(rv::RepeatText(rv::BadBlocks()[0]), "0(00) at 0");

  // Nothing changes for a missing file or no record k.
  rv::BadBlocks()[0] = untouched;
  rv::scanchunk(dir_.File("missing"), 100, 1030, 0);
  rv::scanchunk(one, 100, 1030, 7);
  EXPECT_EQ(rv::BadBlocks()[0], untouched);
  EXPECT_EQ(rv::BadBlocks().size(), 2u);

  // A block larger than the read cache is measured in pieces: a run across the pieces' seams
  // is one run, and bytes past the end of the file are none.
  const std::string big = fileWith(rvt::Concat({Letters(300), Bytes(700, 0x5A), Letters(30)}), "big");
  rv::SetCacheSize(256);
  rv::scanchunk(big, 100, 1030, 0);
  EXPECT_EQ(rv::RepeatText(rv::BadBlocks()[0]), "700(5A) at 308");
  rv::scanchunk(one, 100, 1030 + 5000, 0);
  EXPECT_EQ(rv::RepeatText(rv::BadBlocks()[0]), "1000(00) at 28");
  rv::SetCacheSize(rv::kDefaultCacheSize);
}

TEST_F(BadBlockTest, StreamAndFilePositionConversions) {
  rv::Exclusions() = {{100, 10}, {130, 5}};
  EXPECT_EQ(rv::dorealoffset(50, 70), 85u);   // 50 + 70 reaches 100: +10; then 130: +5
  EXPECT_EQ(rv::dorealoffset(50, 49), 49u);   // ends before the first fragment
  EXPECT_EQ(rv::dorealoffset(50, 50), 60u);   // reaches its first byte
  EXPECT_EQ(rv::dorealoffset(100, 35), 40u);  // only fragments that start after f count
  EXPECT_EQ(rv::dorealoffset(200, 1000), 1000u);

  rv::Exclusions() = {{100, 10}, {300, 5}};
  EXPECT_EQ(rv::dorelativeptr(200), 190u);
  EXPECT_EQ(rv::dorelativeptr(50), 50u);
  EXPECT_EQ(rv::dorelativeptr(110), 100u);  // the fragment ends exactly here: subtracted
  EXPECT_EQ(rv::dorelativeptr(305), 290u);
  EXPECT_EQ(rv::dorelativeptr(304), 294u);  // inside the second fragment: only the first counts
  rv::Exclusions().clear();
  EXPECT_EQ(rv::dorelativeptr(123), 123u);
  EXPECT_EQ(rv::dorealoffset(5, 123), 123u);
}

}  // namespace
