// Damaged input for the header read and the stream check: every truncation of a small valid
// file and thousands of seeded mutations must end without a crash or a hang. The header read
// must leave a consistent block table, tree and label state; the check must never accept a
// block twice and must leave an index, a bad-block list and a grid that agree.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
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

// A small but complete file: every header block, stream chunks of odd sizes (padded), an index.
const rvt::StandardAvi kSmall =
    rvt::MakeStandardAvi({.nVideo = 5, .nAudio = 4, .videoChunkSize = 21, .audioChunkSize = 12});

// Empty when the state after a header read of a file of fileSize bytes is consistent;
// otherwise what is wrong.
std::string HeaderFault(const rv::OpenResult& res, uint64_t fileSize) {
  if (!res.opened || rv::SourceIsOpen()) return "not opened, or the source left open";
  const std::vector<rv::BlockRecord>& blocks = rv::Blocks();
  const std::vector<rv::TreeLine>& lines = rv::Tree().lines;
  std::map<int32_t, uint64_t> nextChild;  // parent -> where its next child must start
  std::string want = "-------";           // the labels the table asks for
  uint32_t moviPos = 0;
  for (size_t i = 0; i < blocks.size(); ++i) {
    const rv::BlockRecord& r = blocks[i];
    const std::string what =
        "record " + std::to_string(i) + " '" + r.Name + "' at " + std::to_string(r.Offset) + ": ";
    const rv::BlockRecord* p = r.Parent >= 0 ? &blocks.at(size_t(r.Parent)) : nullptr;
    // The standard indexes are added where the super indexes put them, out of walk order.
    const bool stdIndex = r.Name.size() == 4 && r.Name.compare(0, 2, "ix") == 0;
    if ((!rv::IsChunkID(r.Name) && r.Name != "dmlh" && !stdIndex) || (i == 0 && r.Parent != -1) ||
        (r.Parent == -1 && i > 0 && r.Name != "RIFF") || r.Parent >= int32_t(i))
      return what + "not a chunk ID, or its parent does not stand earlier";
    // The walk steps by 8 + declared size inside the list's declared size; the size field of
    // the last block may lie past the end (read as zeros), not its ID.
    if (p && ((p->Name != "RIFF" && p->Name != "LIST") || r.Offset < p->Offset + 12 ||
              (r.Parent > 0 && p->Parent >= 0 && r.Offset >= uint64_t{p->Offset} + p->Size) ||
              r.Offset + uint64_t{4} > fileSize))
      return what + "outside its list or the file";
    if (!stdIndex && r.Parent >= 0 && nextChild.count(r.Parent) && nextChild[r.Parent] != r.Offset)
      return what + "does not start where its previous sibling ends";
    if (!stdIndex) nextChild[r.Parent] = uint64_t{r.Offset} + r.Size;
    if (r.Node < 0 || size_t(r.Node) >= lines.size() || lines[r.Node].block != int32_t(i) ||
        lines[r.Node].parent != (p ? p->Node : -1))
      return what + "its tree line shows another block or hangs elsewhere";
    if (r.Name == "avih") want[0] = 'B';
    if (r.Name == "strh") want[r.TypeTag == "vids" ? 1 : 3] = 'B';
    if (r.Kind) want[r.Kind == 'v' ? 2 : 4] = 'B';
    if (r.TypeTag == "movi") want[5] = 'M';
    if (r.Name == "idx1") want[6] = 'M';
    if (r.Name == "LIST" && r.TypeTag == "movi" && !moviPos) moviPos = r.Offset + 8;
  }
  if (moviPos && rv::Header().moviPos != moviPos) return "not the first movi list's position";
  std::string got;
  for (int i = 0; i < rv::kLabelCount; ++i) got += "-BM"[int(rv::GetLabel(i))];
  if (got != want) return "labels " + got + " do not follow the table: " + want;
  if (res.hasIdx1 != (want[6] == 'M' || rv::FindBlock("indx", "") >= 0))
    return "the index button disagrees with the table";
  if (rv::Header().extended != (rv::FindBlock("indx", "") >= 0 ? 'y' : 0)) return "extended";
  if (rv::Header().astrf.codecData.size() > rv::Header().astrf.cbSize) return "codec data";
  return {};
}

// Empty when the index, bad blocks and grid a check of a file of fileSize bytes left agree.
std::string ScanFault(uint64_t fileSize, const rv::Completion& c, int32_t movi) {
  const auto& entries = rv::Index().entries;
  const auto& bad = rv::BadBlocks();
  if (movi < 0) return c.result == 0 && entries.empty() ? "" : "a scan without a movi list";
  const rv::BlockRecord& mr = rv::Blocks()[size_t(movi)];
  const uint64_t M = uint64_t(mr.Offset) + 8;
  // A broken movi size (0, a placeholder, past the end) makes the scan run to the file's end,
  // as OpenDML indexes do.
  const bool toEof =
      rv::Opt().scanToEof || rv::LastScan().sizeBroken || rv::Header().extended == 'y';
  const uint64_t E = toEof ? fileSize : uint64_t(mr.Offset) + mr.Size;
  if (rv::Index().count != entries.size() || rv::LastScan().steps > 4 * fileSize + 100)
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

class RobustnessTest : public rvt::EngineTest {
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
  // Reads the header through a read window of the given size, then applies the exclusions
  // and scans with every question answered yes; empty when both leave a consistent state,
  // else what is wrong. With firstMessage, the read's first message must be it and every
  // block one of the whole file's.
  std::string Check(const Bytes& bytes, uint32_t window, std::vector<rv::Exclusion> ex = {},
                    const std::string& firstMessage = "") {
    rv::SetCacheSize(window);
    std::string why = HeaderFault(Open(bytes), bytes.size());
    if (!firstMessage.empty() &&
        (rv::MessageLines().empty() || rv::MessageLines()[0] != firstMessage))
      why += " first message is not: " + firstMessage;
    for (const rv::BlockRecord& r : rv::Blocks())
      if (!known_.empty() && !known_.count({r.Name, r.Offset})) why += " an invented block";
    if (!why.empty()) return "header read: " + why;
    rv::SetAlwaysAnswer(1);
    // A window of one page holds these files whole and costs next to nothing to allocate
    // again for each of the thousands of scans.
    rv::SetCacheSize(4096);
    rv::Exclusions() = std::move(ex);
    rv::InvalidateReadCache();
    reports_ = 0, fired_ = false;
    const rv::Completion c = rv::Execute("createIDX1");
    if (fired_ || rv::SourceIsOpen()) return "the scan ran away, or left the source open";
    why = ScanFault(bytes.size(), c, rv::FindBlock("LIST", "movi"));
    return why.empty() ? why : "check: " + why;
  }

  std::set<std::pair<std::string, uint32_t>> known_;  // the whole file's blocks
  int reports_ = 0;
  bool fired_ = false;
};

TEST_F(RobustnessTest, EveryTruncation) {
  ASSERT_EQ(Check(kSmall.bytes, 4096), "");
  ASSERT_TRUE(rv::MessageLines().empty());
  ASSERT_EQ(rv::Index().entries.size(), kSmall.index.size());
  for (const rv::BlockRecord& r : rv::Blocks()) known_.emplace(r.Name, r.Offset);
  for (size_t n = 0; n < kSmall.bytes.size(); ++n) {
    rv::Opt().scanToEof = n % 2 == 1;
    const std::string first = n < 4 ? "• отсутствует сигнатура RIFF"
                                    : "• размер файла меньше значения, указанного в заголовке";
    ASSERT_EQ(Check(rvt::Truncated(kSmall.bytes, n), 4096, {}, first), "") << "cut at " << n;
  }
}

TEST_F(RobustnessTest, SeededMutations) {
  // The header walk's kind edits every block of the file; the check's kind, the stream.
  const rvt::StandardAvi& k = kSmall;
  std::vector<uint32_t> all{0,       k.hdrl,  k.avih,  k.vstrl, k.vstrh, k.vstrf,
                            k.astrl, k.astrh, k.astrf, k.movi,  k.idx1};
  std::vector<uint32_t> stream{kSmall.movi};
  for (const rvt::ChunkLoc& c : kSmall.chunks) all.push_back(c.offset), stream.push_back(c.offset);
  int withBadBlocks = 0;
  for (uint32_t seed = 0; seed < 3000; ++seed) {
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
    // Mostly small windows (64 bytes cannot hold a whole strf or strl); the default window
    // now and then: its 2 MB allocation per read dominates the time under the sanitizers.
    const uint32_t window = seed % 10 == 0 ? rv::kDefaultCacheSize : seed % 2 ? 4096u : 64u;
    Bytes f = kSmall.bytes;
    std::string how = rvt::Mutate(f, seed, all, 0, f.size());
    ASSERT_EQ(Check(f, window, ex), "") << "seed " << seed << " (" << how << " )";
    f = kSmall.bytes;
    how = rvt::Mutate(f, seed, stream, kSmall.movi + 12, kSmall.idx1);
    ASSERT_EQ(Check(f, window, ex), "") << "seed " << seed << " in the stream (" << how << " )";
    withBadBlocks += !rv::BadBlocks().empty();
  }
  // The mutations do reach the search: over a third of them leave bad blocks.
  EXPECT_GT(withBadBlocks, 1000);
}

}  // namespace
