// Damaged input for the stream check: every truncation of a small valid file and thousands of
// seeded mutations must end without a crash or a hang, never accept a block twice, and leave
// an index, a bad-block list and a grid that agree with one another.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
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
#include "fixtures/engine_dump.h"
#include "fixtures/test_host.h"
#include "riff/blocks.h"
#include "riff/bytes.h"
#include "riff/header.h"
#include "riff/source.h"

namespace {

using Bytes = rvt::Bytes;

rvt::StandardAvi SmallFile() {  // odd video sizes with pad bytes
  return rvt::MakeStandardAvi({.nVideo = 5, .nAudio = 4, .videoChunkSize = 21, .audioChunkSize = 12});
}

class ScannerRobustnessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rv::InstallTaskRoutines();
    // Stops a scan that runs away, so that a hang shows as a failure: a small file's scan
    // sends only a few reports and builds a few dozen entries.
    host_.onCheck = [this](int, int64_t) {
      if (++reports_ > 200 || rv::Index().count > 100000) fired_ = true, rv::RequestStop();
    };
    host_.onProgress = [this](const rv::Progress&) { host_.onCheck(0, 0); };
    rv::SetHost(&host_);
    rv::ClearStop();
    rv::Opt().Reset();
    rv::ClearScriptedAnswers();
    rv::SetAlwaysAnswer(1);  // every question yes, so that searches run
    // A read cache of one page holds these small files whole and, unlike the default 2 MB,
    // costs next to nothing to allocate again for each of the thousands of scans.
    rv::SetCacheSize(4096);
    rv::ResetFileState();
  }
  void TearDown() override {
    rv::SetCacheSize(rv::kDefaultCacheSize);
    rv::SetHost(nullptr);
    rv::ClearScriptedAnswers();
    rv::Opt().Reset();
    rv::ResetFileState();
  }

  // Opens the bytes as a file, applies the exclusions, scans; empty when everything left
  // behind is consistent, else what is wrong.
  std::string ScanAndCheck(const Bytes& bytes, std::vector<rv::Exclusion> exclusions = {}) {
    const std::string path = dir_.Write("fuzz.avi", bytes);
    rv::ResetFileState();
    rv::InputFileName() = path;
    if (!rv::OpenAndReadHeader(path).opened) return "not opened";
    const int32_t movi = rv::FindBlock("LIST", "movi");
    if (!exclusions.empty()) {
      rv::Exclusions() = std::move(exclusions);
      rv::InvalidateReadCache();
    }
    reports_ = 0;
    fired_ = false;
    const rv::Completion c = rv::Execute("createIDX1");
    if (fired_) return "the scan ran away and was stopped";
    if (rv::SourceIsOpen()) return "source left open";
    const auto& entries = rv::Index().entries;
    const auto& bad = rv::BadBlocks();
    if (movi < 0) {
      if (c.result != 0 || !entries.empty()) return "a scan without a movi list";
      return {};
    }
    const rv::BlockRecord& mr = rv::Blocks()[size_t(movi)];
    const uint64_t M = uint64_t(mr.Offset) + 8;
    const uint64_t fileSize = rv::StreamSize();
    // A broken movi size (0, a placeholder, past the end) makes the scan run to the file's end.
    const bool toEof = rv::Opt().scanToEof || rv::LastScan().sizeBroken;
    const uint64_t E = toEof ? uint64_t(bytes.size()) : uint64_t(mr.Offset) + mr.Size;
    if (rv::Index().count != entries.size()) return "count differs from the entries";
    if (rv::LastScan().steps > 4 * bytes.size() + 100)
      return "too many steps: " + std::to_string(rv::LastScan().steps);
    for (size_t i = 0; i < entries.size(); ++i) {
      const rv::IndexEntry& e = entries[i];
      const std::string at = "entry " + std::to_string(i);
      if (!rv::IsStreamChunkID(rv::cff(e.ckid), rv::Opt().streams01))
        return at + ": not a stream ID";
      if (i > 0 && e.dwChunkOffset <= entries[i - 1].dwChunkOffset)
        return at + ": offset " + std::to_string(e.dwChunkOffset) + " not beyond the one before";
      if (e.dwChunkOffset + uint64_t(8) > E - M) return at + ": past the scan end";
      if (M + e.dwChunkOffset + 4 > fileSize) return at + ": ID past the end of the file";
      if (e.dwFlags != 0 && e.dwFlags != rv::kKeyframeFlag) return at + ": flags";
    }
    for (size_t k = 0; k < bad.size(); ++k) {
      const rv::BadBlock& b = bad[k];
      const std::string at = "bad block " + std::to_string(k);
      if (b.Mark != '*') return at + ": not complete";
      if (k > 0 && b.MoviOffset <= bad[k - 1].MoviOffset) return at + ": out of order";
      if (b.EntryIndex + size_t(1) >= entries.size()) return at + ": no entry behind it";
      if (entries[b.EntryIndex].dwChunkOffset != b.MoviOffset) return at + ": entry offset";
      if (entries[b.EntryIndex].dwChunkLength != b.DeclaredSize) return at + ": declared size";
      // The next entry follows the real size, after the pad byte of an odd size or after the
      // 12-byte header of a list group.
      const int64_t gap = int64_t(entries[b.EntryIndex + 1].dwChunkOffset) -
                          int64_t(uint64_t(b.MoviOffset) + 8 + b.RealSize);
      if (gap != 0 && !(gap == 1 && b.RealSize % 2 == 1) && gap != 12 &&
          !(gap == 13 && b.RealSize % 2 == 1))
        return at + ": real size does not lead to the next entry";
      if (b.RepeatStart < 8 || uint64_t(b.RepeatStart) + b.RepeatLength > uint64_t(b.RealSize) + 8)
        return at + ": repeat run outside the block: " + rv::RepeatText(b);
      if (b.FileOffset != rv::StreamToFile(uint32_t(M + b.MoviOffset))) return at + ": file offset";
    }
    const size_t rows = rv::GridIsEmpty() ? 0 : rv::Grid().rows.size() - 1;
    if (rows != bad.size() && rows != bad.size() + 1)
      return std::to_string(rows) + " grid rows for " + std::to_string(bad.size()) + " bad blocks";
    if (rv::CloseCheckWindowFlag().load() != (rows == 0 ? 1 : 0)) return "close flag";
    return {};
  }

  rvt::TempDir dir_{"scanfuzz"};
  rvt::RecordingHost host_;
  int reports_ = 0;
  bool fired_ = false;
};

TEST_F(ScannerRobustnessTest, EveryTruncation) {
  const rvt::StandardAvi avi = SmallFile();
  ASSERT_EQ(ScanAndCheck(avi.bytes), "");
  ASSERT_EQ(rv::Index().entries.size(), avi.index.size());
  ASSERT_TRUE(rv::BadBlocks().empty());
  for (size_t t = 0; t <= avi.bytes.size(); ++t) {
    rv::Opt().scanToEof = t % 2 == 1;
    ASSERT_EQ(ScanAndCheck(rvt::Truncated(avi.bytes, t)), "") << "cut at " << t;
  }
}

TEST_F(ScannerRobustnessTest, SeededMutations) {
  const rvt::StandardAvi avi = SmallFile();
  std::vector<uint32_t> heads{avi.movi};
  for (const rvt::ChunkLoc& c : avi.chunks) heads.push_back(c.offset);
  int withBadBlocks = 0;
  for (uint32_t seed = 0; seed < 3000; ++seed) {
    Bytes b = avi.bytes;
    const std::string how = rvt::Mutate(b, seed, heads, avi.movi + 12, avi.idx1);
    std::mt19937 rng(seed);
    rv::Opt().Reset();
    rv::Opt().scanToEof = rng() % 4 == 0;
    rv::Opt().beyondEof = rng() % 4 != 0;
    rv::Opt().streams01 = rng() % 5 == 0;
    rv::Opt().bigIsBad = rng() % 5 == 0;
    rv::Opt().bigLimitBytes = rv::SizeLimitFromText(rng() % 2 ? "0" : "1");
    std::vector<rv::Exclusion> ex;
    if (rng() % 8 == 0) ex.push_back({avi.movi + 12 + uint32_t(rng() % 100), 1 + uint32_t(rng() % 20)});
    ASSERT_EQ(ScanAndCheck(b, ex), "") << "seed " << seed << how;
    withBadBlocks += !rv::BadBlocks().empty();
  }
  // The mutations do reach the search: over a third of them leave bad blocks.
  EXPECT_GT(withBadBlocks, 1000);
}

}  // namespace
