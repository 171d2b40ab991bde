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
#include "riff/blocks.h"
#include "riff/bytes.h"
#include "riff/header.h"
#include "riff/source.h"

namespace {

using Bytes = rvt::Bytes;

rvt::StandardAvi SmallFile() {
  rvt::StandardAviShape shape;
  shape.nVideo = 5;
  shape.nAudio = 4;
  shape.videoChunkSize = 21;  // odd sizes with pad bytes
  shape.audioChunkSize = 12;
  return rvt::MakeStandardAvi(shape);
}

// Stops a scan that runs away, so that a hang shows as a failure: a small file's scan sends
// only a few progress messages and builds a few dozen entries.
class Watchdog : public rv::Host {
 public:
  bool Ask(const rv::Question&) override { return false; }
  void ShowProgress(const rv::Progress&) override { CheckMessage(0, 0); }
  void CheckMessage(int, int64_t) override {
    if (++messages > 200 || rv::Index().count > 100000) {
      fired = true;
      rv::RequestStop();
    }
  }
  int messages = 0;
  bool fired = false;
};

class ScannerRobustnessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rv::InstallTaskRoutines();
    rv::SetHost(&watchdog_);
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
    watchdog_ = Watchdog{};
    const rv::Completion c = rv::Execute("createIDX1");
    if (watchdog_.fired) return "the scan ran away and was stopped";
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
  Watchdog watchdog_;
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
  const uint32_t moviStart = avi.movi, moviEnd = avi.idx1;
  std::vector<uint32_t> sizeFields{avi.movi + 4};
  for (const rvt::ChunkLoc& c : avi.chunks) sizeFields.push_back(c.offset + 4);
  const uint32_t hostile[] = {0,          1,          7,          8,          0x7FFFFFFF,
                              0x80000000, 0xFFFFFFF0, 0xFFFFFFF8, 0xFFFFFFFF, 500001};
  const char* ids[] = {"idx1", "JUNK", "ix00", "00db", "01wb", "99pc", "LIST", "RIFF"};
  int withBadBlocks = 0;
  for (uint32_t seed = 0; seed < 3000; ++seed) {
    std::mt19937 rng(seed);
    auto pick = [&](uint32_t lo, uint32_t hi) {  // inclusive
      return std::uniform_int_distribution<uint32_t>(lo, hi)(rng);
    };
    Bytes b = avi.bytes;
    const int edits = int(pick(1, 3));
    for (int k = 0; k < edits; ++k) {
      switch (pick(0, 4)) {
        case 0:  // random bytes anywhere in the movi list
          for (uint32_t n = pick(1, 4); n > 0; --n)
            b[pick(moviStart, std::min<uint32_t>(moviEnd, uint32_t(b.size())) - 1)] =
                uint8_t(pick(0, 255));
          break;
        case 1:  // a hostile size field
          rvt::OverwriteLE32(b, sizeFields[pick(0, uint32_t(sizeFields.size() - 1))],
                             pick(0, 3) ? hostile[pick(0, 9)] : pick(0, 0xFFFFFFFFu));
          break;
        case 2: {  // bytes inserted inside the list
          Bytes ins(pick(1, 40));
          const uint8_t fill = uint8_t(pick(0, 255));
          for (uint8_t& x : ins) x = pick(0, 1) ? fill : uint8_t(pick(0, 255));
          rvt::InsertAt(b, pick(moviStart + 12, moviEnd), ins);
          break;
        }
        case 3: {  // bytes cut out of the list
          const uint32_t at = pick(moviStart + 12, moviEnd - 1);
          const uint32_t n = std::min<uint32_t>(pick(1, 30), uint32_t(b.size()) - at);
          b.erase(b.begin() + at, b.begin() + at + n);
          break;
        }
        default:  // a chunk ID replaced
          rvt::OverwriteAt(b, avi.chunks[pick(0, uint32_t(avi.chunks.size() - 1))].offset,
                           rvt::Text(ids[pick(0, 7)]));
      }
    }
    rv::Opt().Reset();
    rv::Opt().scanToEof = pick(0, 3) == 0;
    rv::Opt().beyondEof = pick(0, 3) != 0;
    rv::Opt().streams01 = pick(0, 4) == 0;
    rv::Opt().bigIsBad = pick(0, 4) == 0;
    rv::Opt().bigLimitBytes = rv::SizeLimitFromText(pick(0, 1) ? "0" : "1");
    std::vector<rv::Exclusion> ex;
    if (pick(0, 7) == 0) ex.push_back({pick(moviStart + 12, moviEnd), pick(1, 20)});
    const std::string problem = ScanAndCheck(b, ex);
    ASSERT_EQ(problem, "") << "seed " << seed;
    withBadBlocks += !rv::BadBlocks().empty();
  }
  // The mutations do reach the search: most of them leave bad blocks behind.
  EXPECT_GT(withBadBlocks, 1000);
}

}  // namespace
