// Damaged input for the stream check: every truncation of a small valid file and thousands of
// seeded mutations must end without a crash or a hang, never accept a block twice, and leave
// an index, a bad-block list and a grid that agree with one another.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "check/bad_blocks.h"
#include "check/index.h"
#include "check/scanner.h"
#include "fixtures/engine_dump.h"
#include "fixtures/engine_test.h"
#include "riff/blocks.h"
#include "riff/bytes.h"

namespace {

using rvt::Bytes;

// Odd video sizes with pad bytes.
const rvt::StandardAvi kSmall =
    rvt::MakeStandardAvi({.nVideo = 5, .nAudio = 4, .videoChunkSize = 21, .audioChunkSize = 12});

class ScannerRobustnessTest : public rvt::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    // Stops a scan that runs away, so that a hang shows as a failure: a small file's scan
    // sends only a few reports and builds a few dozen entries.
    host_.onCheck = [this](int, int64_t) {
      if (++reports_ > 200 || rv::Index().count > 100000) fired_ = true, rv::RequestStop();
    };
    host_.onProgress = [this](const rv::Progress&) { host_.onCheck(0, 0); };
  }
  // Opens the bytes, applies the exclusions, scans with every question answered yes; empty
  // when everything left behind is consistent, else what is wrong.
  std::string ScanAndCheck(const Bytes& bytes, std::vector<rv::Exclusion> exclusions = {}) {
    if (!Open(bytes).opened) return "not opened";
    rv::SetAlwaysAnswer(1);
    // A window of one page holds these files whole and costs next to nothing to allocate
    // again for each of the thousands of scans.
    rv::SetCacheSize(4096);
    rv::Exclusions() = std::move(exclusions);
    rv::InvalidateReadCache();
    const int32_t movi = rv::FindBlock("LIST", "movi");
    reports_ = 0, fired_ = false;
    const rv::Completion c = rv::Execute("createIDX1");
    const auto& entries = rv::Index().entries;
    const auto& bad = rv::BadBlocks();
    if (fired_ || rv::SourceIsOpen()) return "the scan ran away, or left the source open";
    if (movi < 0) return c.result == 0 && entries.empty() ? "" : "a scan without a movi list";
    const rv::BlockRecord& mr = rv::Blocks()[size_t(movi)];
    const uint64_t M = uint64_t(mr.Offset) + 8;
    // A broken movi size (0, a placeholder, past the end) makes the scan run to the file's end.
    const bool toEof = rv::Opt().scanToEof || rv::LastScan().sizeBroken;
    const uint64_t E = toEof ? uint64_t(bytes.size()) : uint64_t(mr.Offset) + mr.Size;
    if (rv::Index().count != entries.size() || rv::LastScan().steps > 4 * bytes.size() + 100)
      return "count differs from the entries, or too many steps";
    for (size_t i = 0; i < entries.size(); ++i) {
      const rv::IndexEntry& e = entries[i];
      if (!rv::IsStreamChunkID(rv::cff(e.ckid), rv::Opt().streams01) ||
          (i > 0 && e.dwChunkOffset <= entries[i - 1].dwChunkOffset) ||
          e.dwChunkOffset + uint64_t(8) > E - M || M + e.dwChunkOffset + 4 > rv::StreamSize() ||
          (e.dwFlags != 0 && e.dwFlags != rv::kKeyframeFlag))
        return "entry " + std::to_string(i) + ": a foreign ID, out of order or place, or flags";
    }
    for (size_t k = 0; k < bad.size(); ++k) {
      const rv::BadBlock& b = bad[k];
      const std::string at = "bad block " + std::to_string(k);
      if (b.Mark != '*' || (k > 0 && b.MoviOffset <= bad[k - 1].MoviOffset) ||
          b.EntryIndex + size_t(1) >= entries.size() ||
          entries[b.EntryIndex].dwChunkOffset != b.MoviOffset ||
          entries[b.EntryIndex].dwChunkLength != b.DeclaredSize ||
          b.FileOffset != rv::StreamToFile(uint32_t(M + b.MoviOffset)))
        return at + ": open, out of order, or not its entry's offset, size or file position";
      // The next entry follows the real size, after the pad byte of an odd size and/or the
      // 12-byte header of a list group.
      const int64_t gap = int64_t(entries[b.EntryIndex + 1].dwChunkOffset) -
                          int64_t(uint64_t(b.MoviOffset) + 8 + b.RealSize);
      if (gap != 0 && gap != 12 && !((gap == 1 || gap == 13) && b.RealSize % 2 == 1))
        return at + ": real size does not lead to the next entry";
      if (b.RepeatStart < 8 || uint64_t(b.RepeatStart) + b.RepeatLength > uint64_t(b.RealSize) + 8)
        return at + ": repeat run outside the block: " + rv::RepeatText(b);
    }
    // A search stopped by a question leaves one open row more.
    const std::string grid = rvt::ScanDump();
    if (grid.find("grid") != std::string::npos &&
        grid.find("grid " + std::to_string(bad.size() + 1) + " close 0") == std::string::npos)
      return "the grid and the close flag disagree with the bad blocks: " + grid;
    return {};
  }

  int reports_ = 0;
  bool fired_ = false;
};

TEST_F(ScannerRobustnessTest, EveryTruncation) {
  ASSERT_EQ(ScanAndCheck(kSmall.bytes), "");
  ASSERT_EQ(rv::Index().entries.size(), kSmall.index.size());
  ASSERT_TRUE(rv::BadBlocks().empty());
  for (size_t t = 0; t <= kSmall.bytes.size(); ++t) {
    rv::Opt().scanToEof = t % 2 == 1;
    ASSERT_EQ(ScanAndCheck(rvt::Truncated(kSmall.bytes, t)), "") << "cut at " << t;
  }
}

TEST_F(ScannerRobustnessTest, SeededMutations) {
  std::vector<uint32_t> heads{kSmall.movi};
  for (const rvt::ChunkLoc& c : kSmall.chunks) heads.push_back(c.offset);
  int withBadBlocks = 0;
  for (uint32_t seed = 0; seed < 3000; ++seed) {
    Bytes b = kSmall.bytes;
    const std::string how = rvt::Mutate(b, seed, heads, kSmall.movi + 12, kSmall.idx1);
    std::mt19937 rng(seed);
    rv::Options& o = rv::Opt();
    o.Reset();
    o.scanToEof = rng() % 4 == 0;
    o.beyondEof = rng() % 4 != 0;
    o.streams01 = rng() % 5 == 0;
    o.bigIsBad = rng() % 5 == 0;
    o.bigLimitBytes = rv::SizeLimitFromText(rng() % 2 ? "0" : "1");
    std::vector<rv::Exclusion> ex;
    if (rng() % 8 == 0)
      ex.push_back({kSmall.movi + 12 + uint32_t(rng() % 100), 1 + uint32_t(rng() % 20)});
    ASSERT_EQ(ScanAndCheck(b, ex), "") << "seed " << seed << how;
    withBadBlocks += !rv::BadBlocks().empty();
  }
  // The mutations do reach the search: over a third of them leave bad blocks.
  EXPECT_GT(withBadBlocks, 1000);
}

}  // namespace
