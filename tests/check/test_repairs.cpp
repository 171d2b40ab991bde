// Repairs of bad blocks: the exclusion list they grow, the index entries they move and
// resize, the records they take out of the bad-block list, and the per-row commands.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "check/bad_blocks.h"
#include "check/index.h"
#include "check/repairs.h"
#include "fixtures/engine_test.h"
#include "riff/bytes.h"

namespace {

rv::BadBlock Bad(uint32_t entry, uint32_t fileOffset, uint32_t declared, uint32_t real,
                 uint8_t byte, uint32_t runLength, uint32_t runStart) {
  return {entry, rv::fcc("00dc"), fileOffset, fileOffset - 100, declared, real, '*',
          byte,  runLength,       runStart};
}

// Six entries 10,000 bytes apart, 1000 long; the entry of each bad block as long as it
// declares. The lengths are kept for the dump.
std::vector<uint32_t> gLengths;
void SetSixEntries(const std::vector<rv::BadBlock>& bad = {}) {
  gLengths.assign(6, 1000);
  for (const rv::BadBlock& b : bad) gLengths.at(b.EntryIndex) = b.DeclaredSize;
  rv::Index().entries.clear();
  for (uint32_t i = 0; i < 6; ++i)
    rv::Index().entries.push_back({rv::fcc("00dc"), 0x10, 4 + 10000 * i, gLengths[i]});
  rv::Index().count = 6;
}

// "x 53008+1000 | off 3-1000 | len 2=4000 | bad 4": the exclusions, how far each entry moved
// from where it was, the lengths that changed, the entries of the records still listed.
std::string Dump() {
  std::string s = "x";
  for (const rv::Exclusion& e : rv::Exclusions())
    s += " " + std::to_string(e.offset) + "+" + std::to_string(e.count);
  std::string off = " | off", len = " | len";
  const auto& entries = rv::Index().entries;
  for (uint32_t i = 0; i < entries.size(); ++i) {
    const int64_t moved = int64_t(entries[i].dwChunkOffset) - (4 + 10000 * i);
    if (moved) off += " " + std::to_string(i) + std::to_string(moved);
    if (entries[i].dwChunkLength != gLengths[i])
      len += " " + std::to_string(i) + "=" + std::to_string(entries[i].dwChunkLength);
  }
  s += off + len + " | bad";
  for (const rv::BadBlock& b : rv::BadBlocks()) s += " " + std::to_string(b.EntryIndex);
  return s;
}

class RepairsTest : public rvt::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    SetSixEntries();
  }
  const rv::RepairOptions defaults_{};
};

TEST_F(RepairsTest, AddExclusionMergesIntoSortedDisjointFragments) {
  // Touching fragments merge; one inside another changes nothing; one over the end of one
  // and the start of the next joins them, and so does one that ends where the next starts.
  std::string got;
  std::istringstream adds("100 10 110 5 90 50 95 10 500 10 10 5 200 1 135 70 200 300");
  for (uint32_t o, n; adds >> o >> n;) {
    rv::AddExclusion(o, n);
    got += Dump().substr(1, Dump().find(" |") - 1) + ";";
  }
  EXPECT_EQ(got,
            " 100+10; 100+15; 90+50; 90+50; 90+50 500+10; 10+5 90+50 500+10; 10+5 90+50 200+1 "
            "500+10; 10+5 90+115 500+10; 10+5 90+420;");
}

TEST_F(RepairsTest, EachActionCutsTheRunsItTakesAndMovesTheEntriesBehindThem) {
  const rv::RepairOptions anyByte{true, false, 100}, loose{false, true, 50};
  using Action = std::function<void()>;
  const Action eq = [&] { rv::FixEQDelta(defaults_); };
  const Action zeros = [&] { rv::RemoveAllZblocks(defaults_, 'y'); };
  const Action zerosNo = [&] { rv::RemoveAllZblocks(defaults_, 'n'); };
  const Action rescan = [&] { rv::RemoveAndRescan(defaults_, "/nonexistent"); };
  const auto row = [](size_t k, char mode) { return [=] { rv::Block2Exclude(k, mode); }; };
  const rv::BadBlock other = Bad(2, 50000, 4000, 5000, 0xFF, 1000, 3008);
  const std::vector<rv::BadBlock> shortRuns{Bad(1, 10000, 3000, 5000, 0, 99, 8),
                                            Bad(3, 30000, 5000, 4000, 0, 200, 8)};
  const struct {
    const char* what;
    std::vector<rv::BadBlock> bad;
    std::vector<Action> actions;
    const char* dump;
  } cases[] = {
      // clang-format off
      // Inserted zeros next to zeros of the chunk: the excess is cut from the run's start; an
      // odd real size next to an odd declared one has no pad byte left out.
      {"runs a few bytes longer than the excess", {Bad(1, 20000, 4000, 5000, 0, 1005, 208),
       Bad(3, 40000, 4001, 5002, 0, 1016, 308), Bad(4, 50000, 4001, 5001, 0, 1000, 8)}, {eq},
       "x 20208+1000 40308+1000 50008+1000 | off 2-1000 3-1000 4-2000 5-3000 | len | bad"},
      {"runs that do not fit the delta stay", {Bad(1, 20000, 4001, 5002, 0, 999, 8),
       Bad(2, 30000, 4000, 5001, 0, 1000, 8), Bad(3, 40000, 4000, 5000, 0, 999, 8),
       Bad(4, 50000, 5000, 4000, 0, 1000, 8), Bad(5, 60000, 4000, 5000, 0, 1017, 8),
       Bad(0, 10, 4000, 4050, 0, 52, 8)}, {eq}, "x | off | len | bad 1 2 3 4 5 0"},
      {"the bulk walk stays on the slot of a removed record", {Bad(1, 10000, 4000, 4300, 0, 300, 8),
       Bad(3, 30000, 2000, 2200, 0, 200, 8), Bad(4, 40000, 2000, 2200, 0xFF, 200, 8)}, {eq},
       "x 10008+300 30008+200 | off 2-300 3-300 4-500 5-500 | len | bad 4"},
      {"a run of other bytes is left to the per-row command", {other},
       {eq, zeros, zerosNo, rescan}, "x | off | len | bad 2"},
      {"unless zeros-only is off", {other}, {[&] { rv::FixEQDelta(anyByte); }},
       "x 53008+1000 | off 3-1000 4-1000 5-1000 | len | bad"},
      {"remove all, n, declared < real - run", {Bad(3, 30000, 3000, 5000, 0, 1000, 1008)},
       {zerosNo}, "x 31008+1000 | off 4-1000 5-1000 | len | bad"},
      {"remove all, n, declared > real - run", {Bad(3, 30000, 4500, 5000, 0, 1000, 1008)},
       {zerosNo}, "x 31008+1000 | off 4-1000 5-1000 | len 3=4000 | bad"},
      {"remove all, y: real - run", {Bad(3, 30000, 3000, 5000, 0, 1000, 1008)}, {zeros},
       "x 31008+1000 | off 4-1000 5-1000 | len 3=4000 | bad"},
      {"short runs and negative deltas stay", shortRuns, {zeros, rescan, eq},
       "x | off | len | bad 1 3"},
      {"unless the options allow them", shortRuns, {[&] { rv::RemoveAllZblocks(loose, 'y'); }},
       "x 10008+99 30008+200 | off 2-99 3-99 4-299 5-299 | len 1=4901 3=3800 | bad"},
      {"a row: the size follows only with y", {Bad(2, 50000, 4000, 6000, 0xFF, 1000, 3008),
       Bad(4, 70000, 4000, 6000, 0, 500, 108)}, {row(1, 'n'), row(0, 'y'), row(0, 'y')},
       "x 53008+1000 70108+500 | off 3-1000 4-1000 5-1500 | len 2=5000 | bad"},
      {"fix one, leave one", {Bad(1, 10000, 3000, 5000, 0, 1000, 8), Bad(2, 20000, 3000, 4000, 0,
       10, 8)}, {[] { rv::FixOne(1); }, [] { rv::LeaveOne(0); }, [] { rv::FixOne(0); }},
       "x | off | len 2=4000 | bad"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    rv::Exclusions().clear();
    SetSixEntries(c.bad);
    rv::BadBlocks() = c.bad;
    for (const Action& a : c.actions) a();
    EXPECT_EQ(Dump(), c.dump);
  }
}

TEST_F(RepairsTest, FixSizesKeepsADeclaredEndThatLiesInAHole) {
  // A 441-byte audio chunk overwritten from its byte 100 on by 65536 zeros that ran past its
  // end: the next chunk is found 66926 bytes on. The declared size is the right one.
  const struct {
    uint32_t declared, real, run, start, expected;
  } cases[] = {
      // clang-format off
      {441, 66926, 65536, 8 + 442, 441},    // begins right at the pad byte
      {441, 66926, 65536, 8 + 443, 66926},  // begins after the declared end: not a hole
      {441, 66926, 300, 8 + 100, 66926},    // too short a part of the excess
      {441, 500, 63, 8 + 440, 500}, {441, 500, 64, 8 + 440, 441},  // the shortest hole
      {5000, 3000, 2500, 8, 3000},  // declared beyond the real end
      // clang-format on
  };
  for (const auto& c : cases)
    for (char mode : {'n', 'y'}) {
      rv::BadBlocks() = {Bad(1, 10000, c.declared, c.real, 0, c.run, c.start)};
      SetSixEntries(rv::BadBlocks());
      rv::FixSizes(mode);
      EXPECT_EQ(rv::Index().entries[1].dwChunkLength,
                mode == 'y' && c.declared < c.real ? c.declared : c.expected)
          << c.declared << " " << c.start << " " << mode;
    }
}

TEST_F(RepairsTest, RemoveAndRescanCutsOneRunPerPressAndLaterCutsFindItInTheFile) {
  // A block at file position 1000 whose payload of 3000 letters holds 300 zeros at payload
  // offset 100 and 200 zeros at payload offset 1000.
  rvt::Bytes file(6000, 'x');
  rvt::OverwriteAt(file, 1000, rvt::Letters(3008));
  std::fill(file.begin() + 1108, file.begin() + 1408, 0);
  std::fill(file.begin() + 2008, file.begin() + 2208, 0);
  const std::string path = dir_.Write("r.avi", file);
  const auto start = [&](const std::string& from) {
    rv::Exclusions().clear();
    SetSixEntries();
    rv::BadBlocks() = {Bad(0, 1000, 2500, 3000, 0, 300, 108)};
    rv::RemoveAndRescan(defaults_, from);
  };
  // The block stays in the list, measured again in the shortened stream.
  start(path);
  EXPECT_EQ(rv::RepeatText(rv::BadBlocks().at(0)) + " " +
                std::to_string(rv::BadBlocks()[0].RealSize) + " " + Dump(),
            "200(00) at 708 2700 x 1108+300 | off 1-300 2-300 3-300 4-300 5-300 | len | bad 0");
  rv::RemoveAndRescan(defaults_, path);
  EXPECT_EQ(std::to_string(rv::BadBlocks()[0].RealSize) + " " + Dump(),
            "2500 x 1108+300 2008+200 | off 1-500 2-500 3-500 4-500 5-500 | len | bad 0");
  EXPECT_EQ(rvt::ReadFile(path), file);
  // After one press a later cut takes the 200 zeros at 2008, not the letters 300 bytes in
  // front of them.
  start(path);
  rv::Block2Exclude(0, 'n');
  EXPECT_EQ(Dump().substr(0, 24), "x 1108+300 2008+200 | of");
  // A run that joins up across the fragment cut before: 100 bytes 0xFF, the 300 zeros cut
  // out, 160 bytes 0xFF. All 260 are cut, and nothing else.
  std::fill(file.begin() + 1008, file.begin() + 1108, 0xFF);
  std::fill(file.begin() + 1408, file.begin() + 1568, 0xFF);
  start(dir_.Write("j.avi", file));
  ASSERT_EQ(rv::RepeatText(rv::BadBlocks().at(0)), "260(FF) at 8");
  rv::Block2Exclude(0, 'n');
  EXPECT_EQ(Dump(), "x 1008+560 | off 1-560 2-560 3-560 4-560 5-560 | len | bad");
}

}  // namespace
