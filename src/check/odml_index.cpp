#include "check/odml_index.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <set>

#include "riff/blocks.h"
#include "riff/bytes.h"
#include "riff/odml.h"
#include "riff/source.h"

namespace rv {

namespace {

// Reads the bytes of [pos, pos + n) of the stream that the file holds, taking them from the
// budget; false when none are held or the budget is spent.
bool ReadHeld(uint64_t pos, uint64_t n, uint64_t& budget, Bytes& out) {
  const uint64_t at = StreamToFile(pos), size = Source().size;
  if (at >= size) return false;
  n = std::min(n, size - at);
  if (n > budget || n > std::numeric_limits<uint32_t>::max()) return false;
  budget -= n;
  return ReadFileDirect(at, uint32_t(n), out);
}

// The entries of an index of chunks. whole: its payload was read as far as its size says.
void AddChunks(const OdmlIndex& ix, uint64_t movi, bool whole, OdmlStdIndexRead& r) {
  r.sound = whole && ix.indexType == kIndexOfChunks && ix.chunks.size() == ix.entriesInUse;
  r.entries.reserve(ix.chunks.size());
  for (const StdIndexEntry& c : ix.chunks) {
    // The entry points at the payload: the chunk's ID lies 8 bytes before it, and no chunk
    // lies before the first block of the first movi.
    if (ix.base > std::numeric_limits<uint64_t>::max() - c.offset ||
        ix.base + c.offset < movi + 4 + 8) {
      r.sound = false;
      continue;
    }
    const uint64_t at = ix.base + c.offset - 8;
    r.entries.push_back({ix.chunkId, c.keyframe ? kKeyframeFlag : 0u, at - movi, c.size});
  }
}

}  // namespace

std::vector<IndexEntry> OdmlIndexes::Merged() const {
  size_t n = 0;
  for (const OdmlStdIndexRead& r : indexes) n += r.entries.size();
  std::vector<IndexEntry> all;
  all.reserve(n);
  for (const OdmlStdIndexRead& r : indexes)
    all.insert(all.end(), r.entries.begin(), r.entries.end());
  std::stable_sort(all.begin(), all.end(), [](const IndexEntry& a, const IndexEntry& b) {
    return a.dwChunkOffset < b.dwChunkOffset;
  });
  return all;
}

OdmlIndexes ReadOdmlIndexes() {
  OdmlIndexes out;
  const int32_t firstMovi = FindBlock("LIST", "movi");
  if (firstMovi < 0) return out;
  const uint64_t movi = Blocks()[size_t(firstMovi)].Offset + 8;
  // The RIFF parts: the first and the further ones, all top-level blocks.
  std::vector<uint64_t> parts;
  for (const BlockRecord& b : Blocks())
    if (b.Parent < 0 && b.Name == "RIFF") parts.push_back(b.Offset);
  std::sort(parts.begin(), parts.end());
  auto partAt = [&](uint64_t pos) {
    return std::max(1, int(std::upper_bound(parts.begin(), parts.end(), pos) - parts.begin()));
  };

  uint64_t budget = Source().size;
  std::set<uint64_t> seen;  // standard indexes read
  Bytes buf, head;
  OdmlIndex super, chunks;
  for (const BlockRecord& b : Blocks()) {
    if (b.Name != "indx" || b.Size < 8 + kIndexHeaderSize) continue;
    if (!ReadHeld(b.Offset + 8, b.Size - 8, budget, buf) ||
        !ParseOdmlIndex(buf.data(), buf.size(), super))
      continue;
    if (super.indexType == kIndexOfChunks) {  // the stream's only standard index
      OdmlStdIndexRead& r = out.indexes.emplace_back();
      r.name = "indx";
      r.part = partAt(b.Offset);
      AddChunks(super, movi, buf.size() == b.Size - 8, r);
      continue;
    }
    if (super.indexType != kIndexOfIndexes) continue;
    for (const SuperIndexEntry& e : super.super) {
      if (e.offset == 0 && e.size == 0) continue;  // an unused slot
      OdmlStdIndexRead& r = out.indexes.emplace_back();
      r.name = cff(StdIndexId(super.chunkId));
      r.part = partAt(e.offset);
      // A standard index named again is read once: the repeat stays unsound and empty.
      if (!seen.insert(e.offset).second || !ReadHeld(e.offset, 8, budget, head) || head.size() < 8)
        continue;
      r.name = GetChars(head, 0, 4);
      const uint32_t size = LoadLE32(head.data() + 4);
      if (ReadHeld(e.offset + 8, size, budget, buf) &&
          ParseOdmlIndex(buf.data(), buf.size(), chunks))
        AddChunks(chunks, movi, buf.size() == size, r);
    }
  }
  return out;
}

}  // namespace rv
