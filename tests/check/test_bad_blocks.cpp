// Bad blocks: the packed record, a row's delta for a hostile size, the longest repeat run
// (measured by the search and again by scanchunk), and the stream/file position conversions.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "check/bad_blocks.h"
#include "check/index.h"
#include "fixtures/engine_dump.h"
#include "fixtures/engine_test.h"
#include "riff/bytes.h"

namespace {

using rvt::Bytes;
using rvt::Chunk;
using rvt::Letters;

Bytes Cat(std::initializer_list<Bytes> parts) { return rvt::Concat(parts); }
rv::BadBlock Record(uint32_t entry, uint32_t movi, uint32_t declared, uint32_t real, char mark) {
  return {entry, rv::fcc("00dc"), 1000 + movi, movi, declared, real, mark, 0xAB, 77, 9};
}

using BadBlockTest = rvt::EngineTest;

TEST_F(BadBlockTest, RecordsArePackedLittleEndian) {
  const rv::BadBlock b{0x01020304, rv::fcc("01wb"), 0x11121314, 0x21222324,
                       0x31323334, 0x41424344,      '*',        0x5A,
                       0x51525354, 0x61626364};
  uint8_t out[rv::kBadBlockRecordSize + 1];
  out[34] = 0xEE;
  rv::PackBadBlock(b, out);
  EXPECT_EQ(rv::BytesToHex(Bytes(out, out + 35), 0, 35),
            "04,03,02,01,30,31,77,62,14,13,12,11,24,23,22,21,34,33,32,31,44,43,42,41,2A,5A,"
            "54,53,52,51,64,63,62,61,EE");
  EXPECT_EQ(rv::UnpackBadBlock(out), b);
  // The wide record of a file past 4 GiB: 64-bit offsets, 42 bytes.
  rv::BadBlock w = b;
  w.FileOffset += 0x1718191A00000000, w.MoviOffset += 0x2728292A00000000;
  uint8_t wide[rv::kWideBadBlockRecordSize];
  rv::PackWideBadBlock(w, wide);
  EXPECT_EQ(rv::BytesToHex(Bytes(wide, wide + 42), 0, 42),
            "04,03,02,01,30,31,77,62,14,13,12,11,1A,19,18,17,24,23,22,21,2A,29,28,27,34,33,32,31,"
            "44,43,42,41,2A,5A,54,53,52,51,64,63,62,61");
  EXPECT_EQ(rv::UnpackWideBadBlock(wide), w);
  // A hostile declared size: the delta stays negative, never the 32-bit wrap (the window's
  // tests compare a whole row).
  const rv::BadBlock r{12, rv::fcc("00dc"), 0, 700, 0xFFFFFFF8u, 4000, '*', 0xAF, 4096, 8};
  EXPECT_EQ(rv::BadBlockRow(r, 1, true)[7], "-4294963288");
}

TEST_F(BadBlockTest, LongestRunIsMeasuredAlikeInMemoryAndByTheSearch) {
  // Scans a movi list of the given chunks; the dump of what the scan left.
  const auto scan = [&](std::vector<rvt::Node> movi) {
    EXPECT_TRUE(Open(rvt::Build(rvt::Riff("AVI ", {rvt::List("movi", movi)})).bytes).opened);
    EXPECT_EQ(rv::Execute("createIDX1").result, 1);
    return rvt::ScanDump();
  };
  const struct {
    Bytes payload;
    const char* run;
  } cases[] = {
      {Cat({Letters(20), Bytes(1000, 0), Letters(10)}), "1000(00) at 28"},
      {Cat({Bytes(50, 0), Letters(30), Bytes(49, 0x33), rvt::Text("u")}), "50(00) at 8"},
      {Cat({Letters(5), Bytes(3, 0x44), Letters(5), Bytes(4, 0x44), rvt::Text("u")}),
       "4(44) at 21"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.run);
    const Bytes block = Cat({rvt::Text("00dc"), Bytes(4, 0), c.payload});
    const rv::RepeatRun r = rv::LongestRun(block.data(), block.size(), 8);
    EXPECT_EQ(rv::RepeatText({0, 0, 0, 0, 0, 0, '*', r.byte, r.length, r.start}), c.run);
    // Declared 10 bytes: the scan lands inside the payload and searches up to the next block.
    const std::string dump = scan({Chunk("00dc", c.payload).Size(10), Chunk("01wb", Letters(20))});
    const size_t real = c.payload.size() + c.payload.size() % 2;
    EXPECT_NE(dump.find("10->" + std::to_string(real) + " " + c.run), std::string::npos) << dump;
  }
  // A search that feeds no byte: its run must not carry over from the block before.
  EXPECT_EQ(scan({Chunk("00dc", Cat({Letters(20), Bytes(100, 0)})).Size(10),
                  Chunk("00dc", {}).Size(20), Chunk("01wb", Letters(40))}),
            "00dc K 4 10\n00dc - 132 20\n01wb K 140 40\nbad 00dc #0 @4 file 24 10->120 100(00) "
            "at 28\nbad 00dc #1 @132 file 152 20->0 0(00) at 8\n");
}

TEST_F(BadBlockTest, ScanchunkMeasuresAgainFromTheSource) {
  const auto fileWith = [&](const Bytes& payload, const std::string& name) {
    return dir_.Write(name,
                      Cat({Letters(100), rvt::Text("00dc"), Bytes(4, 0), payload, Letters(50)}));
  };
  const std::string one = fileWith(Cat({Letters(20), Bytes(1000, 0), Letters(10)}), "one");
  const std::string two = fileWith(Cat({Letters(3), Bytes(1027, 0xFF)}), "two");
  const std::string big = fileWith(Cat({Letters(300), Bytes(700, 0x5A), Letters(30)}), "big");
  rv::BadBlocks() = {Record(0, 96, 1030, 1030, '*'), Record(1, 500, 40, 40, '*')};
  const rv::BadBlock untouched = rv::BadBlocks()[1];
  const struct {
    std::string file;
    uint32_t size, cache;
    size_t k;
    const char* run;
  } cases[] = {
      // clang-format off
      {one, 1030, 0, 0, "1000(00) at 28"},
      {two, 1030, 0, 0, "1027(FF) at 11"},  // same positions, another file: nothing carried over
      {dir_.File("missing"), 1030, 0, 0, "1027(FF) at 11"},  // nothing changes
      {one, 1030, 0, 7, "1027(FF) at 11"},  // no record 7
      // A chunk larger than the cache: the run goes on across its pieces.
      {big, 1030, 256, 0, "700(5A) at 308"},
      {one, 1030 + 5000, 256, 0, "1000(00) at 28"},  // bytes past the end are no run
      // clang-format on
  };
  for (const auto& c : cases) {
    rv::SetCacheSize(c.cache ? c.cache : rv::kDefaultCacheSize);
    rv::scanchunk(c.file, 100, c.size, c.k);
    EXPECT_EQ(rv::RepeatText(rv::BadBlocks()[0]), c.run) << c.file << " " << c.size;
    EXPECT_TRUE(rv::BadBlocks()[1] == untouched && !rv::SourceIsOpen());
  }
}

TEST_F(BadBlockTest, StreamAndFilePositionConversions) {
  // Offsets counted from f: reaching 100 adds 10, then 130 adds 5; fragments before f do not
  // count.
  rv::Exclusions() = {{100, 10}, {130, 5}};
  std::string got;
  for (auto [f, r] : {std::pair{50u, 70u}, {50u, 49u}, {50u, 50u}, {100u, 35u}, {200u, 1000u}})
    got += std::to_string(rv::dorealoffset(f, r)) + " ";
  rv::Exclusions() = {{100, 10}, {300, 5}};
  for (uint32_t f : {200u, 50u, 110u, 305u, 304u})
    got += std::to_string(rv::dorelativeptr(f)) + " ";
  EXPECT_EQ(got, "85 49 60 40 1000 190 50 100 290 294 ");
}

}  // namespace
