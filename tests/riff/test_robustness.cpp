// Damaged input for the header read: every truncation of a small valid file and thousands of
// seeded mutations must neither crash nor hang, and must leave a consistent block table,
// tree and label state behind.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fixtures/engine_dump.h"
#include "fixtures/engine_test.h"
#include "riff/blocks.h"

namespace {

using rv::Bytes;

// A small but complete file: every header block, a few stream chunks (odd sizes, padded),
// an index.
const rvt::StandardAvi kSmall =
    rvt::MakeStandardAvi({.nVideo = 4, .nAudio = 3, .videoChunkSize = 21, .audioChunkSize = 12});

// Empty when the state after a header read of a file of fileSize bytes is consistent;
// otherwise what is wrong.
std::string Inconsistency(const rv::OpenResult& res, uint64_t fileSize) {
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
    const rv::BlockRecord* p = i ? &blocks.at(size_t(std::max(r.Parent, 0))) : nullptr;
    if (!rv::IsChunkID(r.Name) || (i == 0) != (r.Parent == -1) || r.Parent >= int32_t(i))
      return what + "not a chunk ID, or its parent does not stand earlier";
    // The walk steps by 8 + declared size inside the list's declared size; the size field of
    // the last block may lie past the end (read as zeros), not its ID.
    if (p && ((p->Name != "RIFF" && p->Name != "LIST") || r.Offset < p->Offset + 12 ||
              (r.Parent > 0 && r.Offset >= uint64_t{p->Offset} + p->Size) ||
              r.Offset + uint64_t{4} > fileSize))
      return what + "outside its list or the file";
    if (nextChild.count(r.Parent) && nextChild[r.Parent] != r.Offset)
      return what + "does not start where its previous sibling ends";
    nextChild[r.Parent] = uint64_t{r.Offset} + r.Size;
    if (r.Node < 0 || size_t(r.Node) >= lines.size() || lines[r.Node].block != int32_t(i) ||
        lines[r.Node].parent != (p ? p->Node : -1))
      return what + "its tree line shows another block or hangs elsewhere";
    if (r.Name == "avih") want[0] = 'B';
    if (r.Name == "strh") want[r.TypeTag == "vids" ? 1 : 3] = 'B';
    if (r.Kind) want[r.Kind == 'v' ? 2 : 4] = 'B';
    if (r.TypeTag == "movi") want[5] = 'M';
    if (r.Name == "idx1") want[6] = 'M';
    if (r.Name == "LIST" && r.TypeTag == "movi") moviPos = r.Offset + 8;
  }
  if (moviPos && rv::Header().moviPos != moviPos) return "not the last movi list's position";
  std::string got;
  for (int i = 0; i < rv::kLabelCount; ++i) got += "-BM"[int(rv::GetLabel(i))];
  if (got != want) return "labels " + got + " do not follow the table: " + want;
  if (res.hasIdx1 != (want[6] == 'M')) return "the index button disagrees with the table";
  if (rv::Header().extended != (rv::FindBlock("indx", "") >= 0 ? 'y' : 0)) return "extended";
  if (rv::Header().astrf.codecData.size() > rv::Header().astrf.cbSize) return "codec data";
  return {};
}

class RobustnessTest : public rvt::EngineTest {
 protected:
  std::string ReadAndCheck(const Bytes& bytes) { return Inconsistency(Open(bytes), bytes.size()); }
};

TEST_F(RobustnessTest, EveryTruncationReadsConsistentlyAndInventsNoBlocks) {
  ASSERT_EQ(ReadAndCheck(kSmall.bytes), "");
  ASSERT_TRUE(rv::MessageLines().empty());
  std::set<std::pair<std::string, uint32_t>> known;
  for (const rv::BlockRecord& r : rv::Blocks()) known.emplace(r.Name, r.Offset);
  ASSERT_EQ(known.size(), 11u);
  rv::SetCacheSize(4096);  // every read refills, and the run stays fast under the sanitizers
  for (size_t n = 0; n < kSmall.bytes.size(); ++n) {
    std::string why = ReadAndCheck(rvt::Truncated(kSmall.bytes, n));
    const std::string first = n < 4 ? "• отсутствует сигнатура RIFF"
                                    : "• размер файла меньше значения, указанного в заголовке";
    if (rv::MessageLines().empty() || rv::MessageLines().front() != first)
      why += " first message is not: " + first;
    for (const rv::BlockRecord& r : rv::Blocks())
      if (!known.count({r.Name, r.Offset})) why += " a block the whole file does not have";
    ASSERT_EQ(why, "") << "prefix of " << n << " bytes";
  }
}

TEST_F(RobustnessTest, SeededMutationsNeverBreakTheTable) {
  std::vector<uint32_t> heads{0,
                              kSmall.hdrl,
                              kSmall.avih,
                              kSmall.vstrl,
                              kSmall.vstrh,
                              kSmall.vstrf,
                              kSmall.astrl,
                              kSmall.astrh,
                              kSmall.astrf,
                              kSmall.movi,
                              kSmall.idx1};
  for (const rvt::ChunkLoc& c : kSmall.chunks) heads.push_back(c.offset);
  for (uint32_t seed = 1; seed <= 3000; ++seed) {
    Bytes f = kSmall.bytes;
    const std::string how = rvt::Mutate(f, seed, heads, 0, f.size());
    // Mostly small windows (64 bytes cannot hold a whole strf or strl); the default window
    // now and then: its 2 MB allocation per read dominates the time under the sanitizers.
    rv::SetCacheSize(seed % 10 == 0 ? rv::kDefaultCacheSize : seed % 2 ? 4096u : 64u);
    ASSERT_EQ(ReadAndCheck(f), "") << "seed " << seed << " (" << how << " )";
  }
}

}  // namespace
