// Damaged input for the header read: every truncation of a small valid file and thousands of
// seeded mutations must neither crash nor hang, and must leave a consistent block table,
// tree and label state behind.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "check/file_state.h"
#include "base/messages.h"
#include "fixtures/avi_builder.h"
#include "fixtures/engine_dump.h"
#include "riff/blocks.h"
#include "riff/bytes.h"
#include "riff/header.h"
#include "riff/source.h"

namespace {

using rv::Bytes;

// A small but complete file: every header block, a few stream chunks, an index.
rvt::StandardAvi SmallFile() {  // odd video sizes, padded
  return rvt::MakeStandardAvi({.nVideo = 4, .nAudio = 3, .videoChunkSize = 21, .audioChunkSize = 12});
}

// Positions of every chunk header of the file (ID at p, size at p + 4).
std::vector<uint32_t> HeaderPositions(const rvt::StandardAvi& a) {
  std::vector<uint32_t> p{0,       a.hdrl,  a.avih,  a.vstrl, a.vstrh, a.vstrf,
                          a.astrl, a.astrh, a.astrf, a.movi,  a.idx1};
  for (const rvt::ChunkLoc& c : a.chunks) p.push_back(c.offset);
  return p;
}

std::string Describe(const rv::BlockRecord& r, size_t i) {
  std::ostringstream s;
  s << "record " << i << " '" << r.Name << "' tag '" << r.TypeTag << "' parent " << r.Parent
    << " offset " << r.Offset << " size " << r.Size << " node " << r.Node;
  return s.str();
}

// Empty when the state after a header read of a file of fileSize bytes is consistent;
// otherwise what is wrong.
std::string Inconsistency(const rv::OpenResult& res, uint64_t fileSize) {
  if (!res.opened) return "the file was not opened";
  if (rv::SourceIsOpen()) return "the source stays open after the header read";
  const std::vector<rv::BlockRecord>& blocks = rv::Blocks();
  const std::vector<rv::TreeLine>& lines = rv::Tree().lines;

  for (const std::string& m : rv::MessageLines())
    if (m.rfind("• ", 0) != 0) return "message without bullet: " + m;

  if (blocks.empty() != lines.empty()) return "block table and tree disagree about emptiness";
  if (blocks.size() > fileSize / 4 + 1)
    return "more records than the file has room for: " + std::to_string(blocks.size());

  std::map<int32_t, size_t> lastChild;  // parent index -> its latest child so far
  for (size_t i = 0; i < blocks.size(); ++i) {
    const rv::BlockRecord& r = blocks[i];
    const std::string what = Describe(r, i);
    if (!rv::IsChunkID(r.Name)) return what + ": not a chunk ID";
    if (i == 0) {
      if (r.Name != "RIFF" || r.Parent != -1 || r.Offset != 0) return what + ": bad root";
    } else {
      if (r.Parent < 0 || static_cast<size_t>(r.Parent) >= i)
        return what + ": parent does not stand earlier";
      const rv::BlockRecord& p = blocks[r.Parent];
      if (r.Parent != 0 && p.Name != "LIST") return what + ": parent is not a list";
      if (uint64_t{r.Offset} < uint64_t{p.Offset} + 12) return what + ": inside its parent's head";
      // The ID was read from the file; its size field may lie past the end (read as zeros).
      if (uint64_t{r.Offset} + 4 > fileSize) return what + ": ID lies past the end";
    }
    if (i > 0 && r.Parent > 0) {
      // Inside a list: the header starts before the list's declared end.
      const rv::BlockRecord& p = blocks[r.Parent];
      if (uint64_t{r.Offset} >= uint64_t{p.Offset} + p.Size)
        return what + ": outside its list's declared size";
    }
    if (i > 0) {
      // The walk steps by 8 + declared size: a block starts where its previous sibling ends.
      auto prev = lastChild.find(r.Parent);
      if (prev != lastChild.end()) {
        const rv::BlockRecord& q = blocks[prev->second];
        if (uint64_t{r.Offset} != uint64_t{q.Offset} + q.Size)
          return what + ": does not start where " + Describe(q, prev->second) + " ends";
      }
      lastChild[r.Parent] = i;
    }
    const bool typed = rv::IsTypedChunkID(r.Name);
    if (typed ? r.TypeTag.size() != 4 : !r.TypeTag.empty()) return what + ": type tag";
    if (r.Kind != 0 && !((r.Kind == 'v' || r.Kind == 'a') && r.Name == "strf"))
      return what + ": kind";
    if (r.Node < 0 || static_cast<size_t>(r.Node) >= lines.size()) return what + ": no line";
    const rv::TreeLine& line = lines[r.Node];
    if (line.block != static_cast<int32_t>(i)) return what + ": its line shows another block";
    const int32_t parentLine = r.Parent < 0 ? -1 : blocks[r.Parent].Node;
    if (line.parent != parentLine) return what + ": its line hangs under the wrong line";
  }
  for (size_t i = 0; i < lines.size(); ++i) {
    const rv::TreeLine& l = lines[i];
    if (l.parent < -1 || l.parent >= static_cast<int32_t>(i))
      return "tree line " + std::to_string(i) + " has a parent that does not stand earlier";
    if (l.block >= static_cast<int32_t>(blocks.size()) || l.block < -1)
      return "tree line " + std::to_string(i) + " names no block";
    if (l.block >= 0 && blocks[l.block].Node != static_cast<int32_t>(i))
      return "tree line " + std::to_string(i) + " and its block disagree";
  }

  // The labels follow the table (letters as in the header dump: B blue, M maroon, - gray).
  std::string want = "-------", got;
  bool indx = false;
  int32_t lastMovi = -1;
  for (size_t i = 0; i < blocks.size(); ++i) {
    const rv::BlockRecord& r = blocks[i];
    if (r.Name == "avih") want[0] = 'B';
    if (r.Name == "strh") want[r.TypeTag == "vids" ? 1 : 3] = 'B';
    if (r.Kind) want[r.Kind == 'v' ? 2 : 4] = 'B';
    if (r.TypeTag == "movi") want[5] = 'M';
    if (r.Name == "idx1") want[6] = 'M';
    indx |= r.Name == "indx";
    if (r.Name == "LIST" && r.TypeTag == "movi") lastMovi = int32_t(i);
  }
  for (int i = 0; i < rv::kLabelCount; ++i) got += "-BM"[int(rv::GetLabel(i))];
  if (got != want) return "labels " + got + " do not follow the table: " + want;
  if (res.hasIdx1 != (want[6] == 'M')) return "the index button disagrees with the table";
  if (rv::Header().extended != (indx ? 'y' : 0)) return "extended-format flag";
  if (lastMovi >= 0 && rv::Header().moviPos != blocks[size_t(lastMovi)].Offset + 8)
    return "movi position is not that of the last movi list";
  if (rv::Header().astrf.codecData.size() > rv::Header().astrf.cbSize)
    return "more audio codec data than cbSize";
  if (rv::Header().vstrf.codecData.size() > fileSize) return "video codec data";
  return {};
}

class RobustnessTest : public ::testing::Test {
 protected:
  void TearDown() override {
    rv::CloseSource();
    rv::SetCacheSize(rv::kDefaultCacheSize);
    rv::ResetFileState();
  }

  rv::OpenResult Read(const Bytes& bytes) {
    rvt::WriteFile(path_, bytes);
    rv::ResetFileState();
    return rv::OpenAndReadHeader(path_);
  }

  rvt::TempDir dir_{"robust"};
  std::string path_ = dir_.File("damaged.avi");
};

TEST_F(RobustnessTest, EveryTruncationReadsConsistentlyAndInventsNoBlocks) {
  const rvt::StandardAvi a = SmallFile();
  ASSERT_LT(a.bytes.size(), 2000u);

  rv::OpenResult full = Read(a.bytes);
  ASSERT_EQ(Inconsistency(full, a.bytes.size()), "");
  ASSERT_TRUE(rv::MessageLines().empty());
  std::set<std::pair<std::string, uint32_t>> known;
  for (const rv::BlockRecord& r : rv::Blocks()) known.emplace(r.Name, r.Offset);
  ASSERT_EQ(known.size(), 11u);

  // A small window: every read refills, and the run stays fast under the sanitizers.
  rv::SetCacheSize(4096);
  int failures = 0;
  for (size_t n = 0; n < a.bytes.size() && failures < 5; ++n) {
    const rv::OpenResult res = Read(rvt::Truncated(a.bytes, n));
    std::string why = Inconsistency(res, n);
    const std::vector<std::string> msgs = rv::MessageLines();
    const char* first = n < 4 ? "• отсутствует сигнатура RIFF"
                              : "• размер файла меньше значения, указанного в заголовке";
    if (why.empty() && (msgs.empty() || msgs.front() != first))
      why = "first message is not: " + std::string(first);
    for (const rv::BlockRecord& r : rv::Blocks())
      if (why.empty() && !known.count({r.Name, r.Offset}))
        why = "a block the whole file does not have: " + r.Name + " at " +
              std::to_string(r.Offset);
    if (!why.empty()) {
      ADD_FAILURE() << "prefix of " << n << " bytes: " << why;
      ++failures;
    }
  }
}

TEST_F(RobustnessTest, SeededMutationsNeverBreakTheTable) {
  const rvt::StandardAvi a = SmallFile();
  const std::vector<uint32_t> heads = HeaderPositions(a);
  int failures = 0;
  for (uint32_t seed = 1; seed <= 3000 && failures < 5; ++seed) {
    Bytes f = a.bytes;
    const std::string how = rvt::Mutate(f, seed, heads, 0, f.size());
    // Mostly small windows (64 bytes cannot hold a whole strf or strl); the default window
    // now and then: its 2 MB allocation per read dominates the time under the sanitizers.
    const uint32_t cache = seed % 10 == 0 ? rv::kDefaultCacheSize : seed % 2 ? 4096u : 64u;
    rv::SetCacheSize(cache);
    rv::ResetReadCache();
    const rv::OpenResult res = Read(f);
    const std::string why = Inconsistency(res, f.size());
    if (!why.empty()) {
      ADD_FAILURE() << "seed " << seed << " (" << how << " ) cache " << cache << ": " << why;
      ++failures;
    }
  }
}

}  // namespace
