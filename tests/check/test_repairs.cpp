// Repairs of bad blocks: the exclusion list they grow, the index entries they move and
// resize, the records they take out of the bad-block list, and the enabling of the per-row
// commands.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "check/bad_blocks.h"
#include "check/index.h"
#include "check/repairs.h"
#include "check/file_state.h"
#include "base/messages.h"
#include "base/options.h"
#include "base/questions.h"
#include "fixtures/avi_builder.h"
#include "riff/source.h"

namespace {

using Ex = std::pair<uint32_t, uint32_t>;

std::vector<Ex> Excl() {
  std::vector<Ex> out;
  for (const rv::Exclusion& e : rv::Exclusions()) out.emplace_back(e.offset, e.count);
  return out;
}

rv::BadBlock Bad(uint32_t entry, uint32_t fileOffset, uint32_t declared, uint32_t real,
                 uint8_t byte, uint32_t runLength, uint32_t runStart) {
  rv::BadBlock b;
  b.EntryIndex = entry;
  b.ChunkID = rv::fcc("00dc");
  b.FileOffset = fileOffset;
  b.MoviOffset = fileOffset - 100;
  b.DeclaredSize = declared;
  b.RealSize = real;
  b.Mark = '*';
  b.RepeatByte = byte;
  b.RepeatLength = runLength;
  b.RepeatStart = runStart;
  return b;
}

std::vector<uint32_t> Offsets() {
  std::vector<uint32_t> out;
  for (const rv::IndexEntry& e : rv::Index().entries) out.push_back(e.dwChunkOffset);
  return out;
}

uint32_t Length(size_t i) { return rv::Index().entries.at(i).dwChunkLength; }

class RepairsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rv::ResetFileState();
    rv::Opt().Reset();
    rv::ClearScriptedAnswers();
    rv::ClearMessages();
    // Six entries 10,000 bytes apart, each 1000 long.
    for (uint32_t i = 0; i < 6; ++i)
      rv::Index().entries.push_back({rv::fcc("00dc"), 0x10, 4 + 10000 * i, 1000});
    rv::Index().count = 6;
  }
  void TearDown() override { rv::ResetFileState(); }
  void Fresh() {
    rv::ResetFileState();
    SetUp();
  }

  static void SetLength(size_t i, uint32_t n) { rv::Index().entries.at(i).dwChunkLength = n; }
  static std::vector<uint32_t> Moved(std::vector<std::pair<size_t, uint32_t>> cuts) {
    std::vector<uint32_t> out;
    for (uint32_t i = 0; i < 6; ++i) {
      uint32_t o = 4 + 10000 * i;
      for (auto [after, n] : cuts)
        if (i > after) o -= n;
      out.push_back(o);
    }
    return out;
  }
  const rv::RepairOptions defaults_{};
};

TEST_F(RepairsTest, AddExclusionMergesIntoSortedDisjointFragments) {
  rv::AddExclusion(100, 10);
  rv::AddExclusion(110, 5);
  EXPECT_EQ(Excl(), (std::vector<Ex>{{100, 15}})) << "touching fragments merge";
  rv::AddExclusion(90, 50);
  EXPECT_EQ(Excl(), (std::vector<Ex>{{90, 50}}));
  rv::AddExclusion(95, 10);
  EXPECT_EQ(Excl(), (std::vector<Ex>{{90, 50}}));

  rv::AddExclusion(500, 10);
  rv::AddExclusion(300, 5);
  rv::AddExclusion(10, 5);
  rv::AddExclusion(200, 1);
  EXPECT_EQ(Excl(), (std::vector<Ex>{{10, 5}, {90, 50}, {200, 1}, {300, 5}, {500, 10}}));
  // One fragment over the end of one entry and the start of the next joins them.
  rv::AddExclusion(135, 70);
  EXPECT_EQ(Excl(), (std::vector<Ex>{{10, 5}, {90, 115}, {300, 5}, {500, 10}}));
  // One fragment covering several entries replaces them.
  rv::AddExclusion(0, 400);
  EXPECT_EQ(Excl(), (std::vector<Ex>{{0, 400}, {500, 10}}));
  // Extending an entry forward until it touches the next.
  rv::AddExclusion(395, 105);
  EXPECT_EQ(Excl(), (std::vector<Ex>{{0, 510}}));
}

TEST_F(RepairsTest, FixEqDeltaCutsRunsThatHoldTheDelta) {
  {
    SCOPED_TRACE("even declared size, run = delta");
    SetLength(2, 4000);
    rv::BadBlocks() = {Bad(2, 50000, 4000, 5000, 0, 1000, 3008)};
    rv::FixEQDelta(defaults_);
    EXPECT_EQ(Excl(), (std::vector<Ex>{{53008, 1000}}));
    EXPECT_EQ(Offsets(), Moved({{2, 1000}}));
    EXPECT_EQ(Length(2), 4000u) << "the length now equals the real size";
    EXPECT_TRUE(rv::BadBlocks().empty());
  }
  Fresh();
  {
    SCOPED_TRACE("odd declared size, run = delta - 1");
    rv::BadBlocks() = {Bad(1, 20000, 4001, 5002, 0, 1000, 208)};
    rv::FixEQDelta(defaults_);
    EXPECT_EQ(Excl(), (std::vector<Ex>{{20208, 1000}}));
    EXPECT_EQ(Offsets(), Moved({{1, 1000}}));
    EXPECT_TRUE(rv::BadBlocks().empty());
  }
  Fresh();
  {
    // Inserted zeros next to zeros of the chunk: the excess is cut from the run's start.
    SCOPED_TRACE("runs a few bytes longer than the excess");
    // And an odd real size next to an odd declared one: the check left the pad byte out, so
    // the excess is the whole delta.
    rv::BadBlocks() = {Bad(1, 20000, 4000, 5000, 0, 1005, 208),
                       Bad(3, 40000, 4001, 5002, 0, 1016, 308),
                       Bad(4, 50000, 4001, 5001, 0, 1000, 8)};
    rv::FixEQDelta(defaults_);
    EXPECT_EQ(Excl(), (std::vector<Ex>{{20208, 1000}, {40308, 1000}, {50008, 1000}}));
    EXPECT_EQ(Offsets(), Moved({{1, 1000}, {3, 1000}, {4, 1000}}));
    EXPECT_TRUE(rv::BadBlocks().empty());
  }
  Fresh();
  {
    SCOPED_TRACE("runs that do not fit the delta stay");
    const std::vector<rv::BadBlock> keep{Bad(1, 20000, 4001, 5002, 0, 999, 8),  // odd, < excess
                                         Bad(2, 30000, 4000, 5001, 0, 1000, 8),  // even, < delta
                                         Bad(3, 40000, 4000, 5000, 0, 999, 8),
                                         Bad(4, 50000, 5000, 4000, 0, 1000, 8),  // negative
                                         Bad(5, 60000, 4000, 5000, 0, 1017, 8),  // the chunk's own
                                         Bad(0, 10, 4000, 4050, 0, 52, 8)};  // excess < min run
    rv::BadBlocks() = keep;
    rv::FixEQDelta(defaults_);
    EXPECT_EQ(rv::BadBlocks(), keep);
    EXPECT_TRUE(Excl().empty());
    EXPECT_EQ(Offsets(), Moved({}));
  }
}

TEST_F(RepairsTest, BulkWalkStaysOnTheSlotOfARemovedRecordAndMovesLaterEntriesByEveryRun) {
  rv::BadBlocks() = {Bad(1, 10000, 4000, 4300, 0, 300, 8), Bad(3, 30000, 2000, 2200, 0, 200, 8),
                     Bad(4, 40000, 2000, 2200, 0xFF, 200, 8)};
  static std::vector<std::pair<size_t, size_t>> seen;
  seen.clear();
  rv::FixEQDelta(defaults_, [](size_t k, size_t total) { seen.emplace_back(k, total); });
  EXPECT_EQ(seen, (std::vector<std::pair<size_t, size_t>>{{0, 3}, {0, 2}, {0, 1}}));
  EXPECT_EQ(Excl(), (std::vector<Ex>{{10008, 300}, {30008, 200}}));
  EXPECT_EQ(Offsets(), Moved({{1, 300}, {3, 200}}));
  ASSERT_EQ(rv::BadBlocks().size(), 1u);
  EXPECT_EQ(rv::BadBlocks()[0].RepeatByte, 0xFF);
}

TEST_F(RepairsTest, RunOfOtherBytesIsLeftToThePerRowCommand) {
  const rv::BadBlock ff = Bad(2, 50000, 4000, 5000, 0xFF, 1000, 3008);
  rv::BadBlocks() = {ff};
  rv::FixEQDelta(defaults_);
  rv::RemoveAllZblocks(defaults_, 'y');
  rv::RemoveAllZblocks(defaults_, 'n');
  rv::RemoveAndRescan(defaults_, "/nonexistent");
  EXPECT_EQ(rv::BadBlocks(), std::vector<rv::BadBlock>{ff});
  EXPECT_TRUE(Excl().empty());

  SetLength(2, 4000);
  rv::Block2Exclude(0, 'y');
  EXPECT_EQ(Excl(), (std::vector<Ex>{{53008, 1000}}));
  EXPECT_EQ(Offsets(), Moved({{2, 1000}}));
  EXPECT_EQ(Length(2), 4000u) << "run = delta: the declared size is right again";
  EXPECT_TRUE(rv::BadBlocks().empty());

  // Without the zeros-only option the bulk action takes it too.
  Fresh();
  rv::BadBlocks() = {ff};
  rv::RepairOptions any;
  any.zeroRunsOnly = false;
  rv::FixEQDelta(any);
  EXPECT_EQ(Excl(), (std::vector<Ex>{{53008, 1000}}));
}

TEST_F(RepairsTest, Block2ExcludeFixesTheSizeOnlyWhenAskedAndTheRunIsNotTheDelta) {
  rv::BadBlocks() = {Bad(2, 50000, 4000, 6000, 0xFF, 1000, 3008),
                     Bad(4, 70000, 4000, 6000, 0, 500, 108)};
  SetLength(2, 4000);
  SetLength(4, 4000);
  rv::Block2Exclude(1, 'n');
  EXPECT_EQ(Length(4), 4000u);
  rv::Block2Exclude(0, 'y');
  EXPECT_EQ(Length(2), 5000u) << "real - run";
  EXPECT_EQ(Excl(), (std::vector<Ex>{{53008, 1000}, {70108, 500}}));
  EXPECT_EQ(Offsets(), Moved({{2, 1000}, {4, 500}}));
  EXPECT_TRUE(rv::BadBlocks().empty());
  rv::Block2Exclude(0, 'y');  // no record: nothing happens
  EXPECT_EQ(Excl().size(), 2u);
}

TEST_F(RepairsTest, RemoveAllZblocksSetsTheLengthToRealMinusRun) {
  struct Case {
    char mode;
    uint32_t length, expected;
  };
  for (const Case c : {Case{'n', 3000, 3000}, Case{'n', 4500, 4000}, Case{'y', 3000, 4000},
                       Case{'y', 4500, 4000}}) {
    SCOPED_TRACE(std::string(1, c.mode) + " " + std::to_string(c.length));
    Fresh();
    SetLength(3, c.length);
    rv::BadBlocks() = {Bad(3, 30000, c.length, 5000, 0, 1000, 1008)};
    rv::RemoveAllZblocks(defaults_, c.mode);
    EXPECT_EQ(Length(3), c.expected);
    EXPECT_EQ(Excl(), (std::vector<Ex>{{31008, 1000}}));
    EXPECT_EQ(Offsets(), Moved({{3, 1000}}));
    EXPECT_TRUE(rv::BadBlocks().empty());
  }
}

TEST_F(RepairsTest, RemoveAllZblocksHonoursMinimumRunAndPositiveDelta) {
  const rv::BadBlock shortRun = Bad(1, 10000, 3000, 5000, 0, 99, 8);
  const rv::BadBlock negative = Bad(3, 30000, 5000, 4000, 0, 200, 8);
  rv::BadBlocks() = {shortRun, negative};
  rv::RemoveAllZblocks(defaults_, 'y');
  rv::RemoveAndRescan(defaults_, "/nonexistent");
  rv::FixEQDelta(defaults_);
  EXPECT_EQ(rv::BadBlocks(), (std::vector<rv::BadBlock>{shortRun, negative}));
  EXPECT_TRUE(Excl().empty());

  rv::RepairOptions o;
  o.positiveDeltaOnly = false;
  o.minRun = 50;
  rv::RemoveAllZblocks(o, 'y');
  EXPECT_EQ(Excl(), (std::vector<Ex>{{10008, 99}, {30008, 200}}));
  EXPECT_EQ(Length(3), 3800u);
  EXPECT_EQ(Offsets(), Moved({{1, 99}, {3, 200}}));
  EXPECT_TRUE(rv::BadBlocks().empty());
}

TEST_F(RepairsTest, MinimumRunFromText) {
  uint32_t m = 7;
  EXPECT_FALSE(rv::MinRunFromText("abc", m));
  EXPECT_FALSE(rv::MinRunFromText("", m));
  EXPECT_EQ(m, 7u);
  ASSERT_TRUE(rv::MinRunFromText("250", m));
  EXPECT_EQ(m, 250u);
  // Compared unsigned: a negative number lets no run qualify.
  ASSERT_TRUE(rv::MinRunFromText("-1", m));
  rv::RepairOptions o;
  o.minRun = m;
  rv::BadBlocks() = {Bad(1, 10000, 3000, 50000, 0, 47000, 8)};
  rv::RemoveAllZblocks(o, 'y');
  EXPECT_EQ(rv::BadBlocks().size(), 1u);
}

TEST_F(RepairsTest, FixSizesEmptiesTheListWithoutExcluding) {
  rv::BadBlocks() = {Bad(1, 10000, 3000, 5000, 0, 1000, 8), Bad(2, 20000, 6000, 5000, 0, 10, 8)};
  SetLength(1, 3000);
  SetLength(2, 6000);
  rv::FixSizes('y');
  EXPECT_EQ(Length(1), 3000u) << "declared < real: taken as right";
  EXPECT_EQ(Length(2), 5000u);
  EXPECT_TRUE(rv::BadBlocks().empty());
  EXPECT_TRUE(Excl().empty());
  EXPECT_EQ(Offsets(), Moved({}));

  rv::BadBlocks() = {Bad(1, 10000, 3000, 5000, 0, 1000, 8)};
  rv::FixSizes('n');
  EXPECT_EQ(Length(1), 5000u);
  EXPECT_TRUE(rv::BadBlocks().empty());
}

TEST_F(RepairsTest, FixSizesKeepsADeclaredEndThatLiesInAHole) {
  // A 441-byte audio chunk overwritten from its byte 100 on by 65536 zeros that ran past its
  // end: the next chunk is found 66926 bytes on. The declared size is the right one.
  struct Case {
    uint32_t declared, real, run, start;
    uint32_t expected;
  };
  const Case cases[] = {
      {441, 66926, 65536, 8 + 100, 441},  // the hole covers the declared end
      {441, 66926, 65536, 8 + 442, 441},  // begins right at the pad byte
      {441, 66926, 65536, 8 + 443, 66926},  // begins after the declared end: not a hole
      {441, 66926, 300, 8 + 100, 66926},    // too short a part of the excess
      {441, 66926, 60, 8 + 400, 66926},     // too short a run
      {5000, 3000, 2500, 8, 3000},          // declared beyond the real end
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.declared) + " " + std::to_string(c.start));
    for (char mode : {'n', 'y'}) {
      rv::BadBlocks() = {Bad(1, 10000, c.declared, c.real, 0, c.run, c.start)};
      SetLength(1, c.declared);
      rv::FixSizes(mode);
      const uint32_t want = mode == 'y' && c.declared < c.real ? c.declared : c.expected;
      EXPECT_EQ(Length(1), want) << mode;
    }
  }
}

TEST_F(RepairsTest, PerRowFixAndLeave) {
  rv::BadBlocks() = {Bad(1, 10000, 3000, 5000, 0, 1000, 8), Bad(2, 20000, 3000, 4000, 0, 10, 8)};
  SetLength(1, 3000);
  SetLength(2, 3000);
  rv::FixOne(1);
  EXPECT_EQ(Length(2), 4000u);
  rv::LeaveOne(0);
  EXPECT_EQ(Length(1), 3000u) << "left as it is";
  EXPECT_TRUE(rv::BadBlocks().empty());
  EXPECT_TRUE(rv::GridIsEmpty());
  rv::FixOne(0);
  rv::LeaveOne(0);
  EXPECT_EQ(Offsets(), Moved({}));
}

TEST_F(RepairsTest, RunBulkActionByRadioNameRebuildsTheGrid) {
  rv::BadBlocks() = {Bad(1, 10000, 3000, 5000, 0, 1000, 8), Bad(2, 20000, 6000, 5000, 0, 10, 8)};
  rv::Crashed2SG();
  ASSERT_EQ(rv::Grid().rows.size(), 3u);
  EXPECT_FALSE(rv::RunBulkAction("RadioXX", defaults_, ""));
  EXPECT_EQ(rv::BadBlocks().size(), 2u);
  EXPECT_TRUE(rv::RunBulkAction("RadioISALL", defaults_, ""));
  EXPECT_EQ(Length(1), 5000u);
  EXPECT_EQ(Length(2), 5000u);
  EXPECT_TRUE(rv::GridIsEmpty());
}

// A block at file position 1000 whose payload of 3000 letters holds 300 zeros at payload
// offset 100 and 200 zeros at payload offset 1000.
rvt::Bytes TwoRunBlock() {
  rvt::Bytes file(6000, 'x');
  for (size_t i = 0; i < 3008; ++i) file[1000 + i] = uint8_t('a' + i % 26);
  std::fill(file.begin() + 1000 + 8 + 100, file.begin() + 1000 + 8 + 400, 0);
  std::fill(file.begin() + 1000 + 8 + 1000, file.begin() + 1000 + 8 + 1200, 0);
  return file;
}

TEST_F(RepairsTest, RemoveAndRescanCutsOneRunPerPressAndMeasuresAgain) {
  rvt::Bytes file = TwoRunBlock();
  rvt::TempDir dir("rescan");
  const std::string path = dir.Write("r.avi", file);
  rv::BadBlocks() = {Bad(0, 1000, 2500, 3000, 0, 300, 108)};

  rv::RemoveAndRescan(defaults_, path);
  EXPECT_EQ(Excl(), (std::vector<Ex>{{1108, 300}}));
  ASSERT_EQ(rv::BadBlocks().size(), 1u) << "the block stays in the list";
  EXPECT_EQ(rv::BadBlocks()[0].RealSize, 2700u);
  EXPECT_EQ(rv::BadBlocks()[0].RepeatLength, 200u);
  EXPECT_EQ(rv::BadBlocks()[0].RepeatStart, 708u) << "measured in the shortened stream";
  EXPECT_EQ(Offsets(), Moved({{0, 300}}));

  rv::RemoveAndRescan(defaults_, path);
  EXPECT_EQ(Excl(), (std::vector<Ex>{{1108, 300}, {2008, 200}}));
  EXPECT_EQ(rv::BadBlocks()[0].RealSize, 2500u);
  EXPECT_LT(rv::BadBlocks()[0].RepeatLength, 100u);
  EXPECT_EQ(Offsets(), Moved({{0, 500}}));
  EXPECT_EQ(Length(0), 1000u) << "the index length is not changed";
  EXPECT_EQ(rvt::ReadFile(path), file);
}

TEST_F(RepairsTest, CutsAfterARescanTakeTheRunWhereItLiesInTheFile) {
  // The block of the test above after one press of "remove and rescan": its second run (200
  // zeros at file position 2008) is measured at 708 in the shortened stream. Every later cut
  // must take those zeros, not the letters 300 bytes in front of them.
  rvt::Bytes file = TwoRunBlock();
  rvt::TempDir dir("rescan-cut");
  const std::string path = dir.Write("r.avi", file);
  const std::vector<std::pair<const char*, void (*)(const rv::RepairOptions&)>> actions = {
      {"FixEQDelta", [](const rv::RepairOptions& o) { rv::FixEQDelta(o); }},
      {"RemoveAllZblocks", [](const rv::RepairOptions& o) { rv::RemoveAllZblocks(o, 'n'); }},
      {"Block2Exclude", [](const rv::RepairOptions&) { rv::Block2Exclude(0, 'n'); }},
  };
  for (const auto& [name, action] : actions) {
    SCOPED_TRACE(name);
    Fresh();
    rv::BadBlocks() = {Bad(0, 1000, 2500, 3000, 0, 300, 108)};
    rv::RemoveAndRescan(defaults_, path);
    ASSERT_EQ(rv::BadBlocks().at(0).RepeatStart, 708u);
    action(defaults_);
    EXPECT_EQ(Excl(), (std::vector<Ex>{{1108, 300}, {2008, 200}}));
    EXPECT_EQ(Offsets(), Moved({{0, 500}}));
  }

  // A run that joins up across the fragment cut before: 100 bytes 0xFF, the 300 zeros cut out,
  // 160 bytes 0xFF. Its 260 bytes lie on both sides of the fragment; all of them are cut, and
  // nothing else.
  std::fill(file.begin() + 1000 + 8, file.begin() + 1000 + 8 + 100, 0xFF);
  std::fill(file.begin() + 1000 + 8 + 400, file.begin() + 1000 + 8 + 560, 0xFF);
  const std::string joined = dir.Write("j.avi", file);
  Fresh();
  rv::BadBlocks() = {Bad(0, 1000, 2500, 3000, 0, 300, 108)};
  rv::RemoveAndRescan(defaults_, joined);
  ASSERT_EQ(rv::RepeatText(rv::BadBlocks().at(0)), "260(FF) at 8");
  rv::Block2Exclude(0, 'n');
  EXPECT_EQ(Excl(), (std::vector<Ex>{{1008, 560}}));
  EXPECT_EQ(Offsets(), Moved({{0, 560}}));
}

TEST_F(RepairsTest, PerRowCommandsAreAllDisabledWhileATaskRuns) {
  const rv::RowMenuState none = rv::PopupERState("1", true);
  EXPECT_FALSE(none.dump || none.remofix || none.remonofix || none.remoscan || none.fix ||
               none.leave);
  const rv::RowMenuState blankBusy = rv::PopupERState("", true);
  EXPECT_FALSE(blankBusy.dump || blankBusy.remofix || blankBusy.remonofix ||
               blankBusy.remoscan || blankBusy.fix || blankBusy.leave);
  const rv::RowMenuState row = rv::PopupERState("1", false);
  EXPECT_TRUE(row.dump && row.remofix && row.remonofix && row.remoscan && row.fix && row.leave);
  const rv::RowMenuState blank = rv::PopupERState("", false);
  EXPECT_FALSE(blank.dump || blank.remofix || blank.remonofix);
  EXPECT_TRUE(blank.remoscan && blank.fix && blank.leave);
}

}  // namespace
