#include "check/repairs.h"

#include <algorithm>
#include <vector>

#include "check/bad_blocks.h"
#include "check/index.h"
#include "riff/bytes.h"
#include "riff/source.h"

namespace rv {

void AddExclusion(uint64_t o, uint64_t n) {
  if (n > 0) Index().cutAfterScan = true;
  auto& list = Exclusions();
  const uint64_t e = o + n;
  bool placed = false;
  for (Exclusion& x : list) {
    const uint64_t xe = x.offset + x.count;
    if (x.offset <= o && xe >= e) return;  // already excluded
    if (o <= x.offset && xe <= e) {
      x = {o, n};
      placed = true;
    } else if (o <= x.offset && x.offset <= e && xe >= e) {
      x = {o, xe - o};
      placed = true;
    } else if (x.offset <= o && o <= xe && xe <= e) {
      x = {x.offset, e - x.offset};
      placed = true;
    }
    if (placed) break;
  }
  if (!placed) {
    auto it =
        std::find_if(list.begin(), list.end(), [&](const Exclusion& x) { return x.offset > o; });
    list.insert(it, {o, n});
  }
  // Merge neighbours that now overlap or touch.
  for (size_t i = 0; i + 1 < list.size();) {
    uint64_t end = list[i].offset + list[i].count;
    if (end < list[i + 1].offset) {
      ++i;
      continue;
    }
    uint64_t nextEnd = list[i + 1].offset + list[i + 1].count;
    list[i].count = std::max(end, nextEnd) - list[i].offset;
    list.erase(list.begin() + long(i) + 1);
  }
}

bool MinRunFromText(const std::string& text, uint32_t& minRun) {
  if (!IsNumber(text) || text.size() > 11) return false;
  long long v = std::stoll(text);
  minRun = uint32_t(v);  // unsigned: a negative number lets no run qualify
  return true;
}

namespace {

// Cuts B's repeat run out of the stream and moves every later entry. RepeatStart counts
// stream bytes from the block's ID: after a remove-and-rescan of the block, fragments already
// cut out of it lie in front of the run, and a run that joined up across such a fragment has
// its file bytes on both sides of it. Every piece is cut where it lies in the file, so that
// exactly RepeatLength bytes of the run leave the stream, and no byte around it.
void RemoveRun(const BadBlock& b) {
  uint64_t at = b.FileOffset + dorealoffset(b.FileOffset, b.RepeatStart);
  uint64_t left = b.RepeatLength;
  std::vector<Exclusion> pieces;
  for (const Exclusion& x : Exclusions()) {
    const uint64_t xEnd = x.offset + x.count;
    if (left == 0) break;
    if (xEnd <= at) continue;
    if (x.offset > at) {
      const uint64_t n = std::min<uint64_t>(left, x.offset - at);
      pieces.push_back({at, n});
      left -= n;
    }
    at = xEnd;
  }
  if (left > 0) pieces.push_back({at, left});
  for (const Exclusion& piece : pieces) AddExclusion(piece.offset, piece.count);
  auto& entries = Index().entries;
  for (size_t i = size_t(b.EntryIndex) + 1; i < entries.size(); ++i)
    entries[i].dwChunkOffset -= b.RepeatLength;
}

IndexEntry* EntryOf(const BadBlock& b) {
  auto& entries = Index().entries;
  return b.EntryIndex < entries.size() ? &entries[b.EntryIndex] : nullptr;
}

// The bytes the block holds beyond its declared size: the delta, less the pad byte that the
// distance to the next block counts after an odd-sized chunk. An odd real size counts no pad
// byte (the check leaves it out where the stream shows the chunk's size without it).
int64_t Excess(const BadBlock& b) {
  return b.DeclaredSize % 2 == 1 && b.RealSize % 2 == 0 ? b.Delta() - 1 : b.Delta();
}

bool RunEqualsDelta(const BadBlock& b) { return int64_t(b.RepeatLength) == Excess(b); }

// Inserted bytes that meet bytes of the same value in the chunk make a run a few bytes longer
// than the excess. Cutting the excess from anywhere in such a run leaves exactly the bytes the
// chunk had. Only a run of at least the minimum length, and at most this much longer than the
// excess, is taken for one: a longer run is the chunk's own (silence, a black picture), and
// cutting it would cut live data.
constexpr uint32_t kRunSlack = 16;

// The bytes to cut from B's run by "eq": the whole run when it is the excess, the excess from
// a run slightly longer; 0 when the run does not hold the excess.
uint32_t EqCut(const BadBlock& b, const RepairOptions& o) {
  if (RunEqualsDelta(b)) return b.RepeatLength;
  const int64_t excess = Excess(b);
  if (excess < int64_t(std::max<uint32_t>(o.minRun, 1))) return 0;
  if (b.RepeatLength < excess || b.RepeatLength > excess + kRunSlack) return 0;
  return uint32_t(excess);
}

bool Qualifies(const BadBlock& b, const RepairOptions& o) {
  if (o.positiveDeltaOnly && b.Delta() < 1) return false;
  if (b.RepeatLength < o.minRun) return false;
  if (o.zeroRunsOnly && b.RepeatByte != 0) return false;
  return true;
}

void Erase(size_t k) { BadBlocks().erase(BadBlocks().begin() + long(k)); }

}  // namespace

void FixEQDelta(const RepairOptions& o, RepairProgress progress) {
  auto& list = BadBlocks();
  for (size_t k = 0; k < list.size();) {
    if (progress) progress(k, list.size());
    BadBlock b = list[k];
    const uint32_t cut = EqCut(b, o);
    if ((o.zeroRunsOnly && b.RepeatByte != 0) || cut == 0) {
      ++k;
      continue;
    }
    b.RepeatLength = cut;  // the run's bytes are all alike: its first bytes are cut
    RemoveRun(b);
    Erase(k);
  }
}

void RemoveAllZblocks(const RepairOptions& o, char mode, RepairProgress progress) {
  auto& list = BadBlocks();
  for (size_t k = 0; k < list.size();) {
    if (progress) progress(k, list.size());
    const BadBlock b = list[k];
    if (!Qualifies(b, o)) {
      ++k;
      continue;
    }
    RemoveRun(b);
    if (IndexEntry* e = EntryOf(b)) {
      uint32_t fitted = b.RealSize - b.RepeatLength;
      if (mode == 'y' || e->dwChunkLength > fitted) e->dwChunkLength = fitted;
    }
    Erase(k);
  }
}

void RemoveAndRescanOne(size_t k, const std::string& sourceName) {
  auto& list = BadBlocks();
  if (k >= list.size()) return;
  BadBlock& b = list[k];
  RemoveRun(b);
  b.RealSize -= b.RepeatLength;
  const uint64_t streamPos = dorelativeptr(b.FileOffset);
  const uint32_t realSize = b.RealSize;
  scanchunk(sourceName, streamPos, realSize, k);
}

void RemoveAndRescan(const RepairOptions& o, const std::string& sourceName,
                     RepairProgress progress) {
  auto& list = BadBlocks();
  for (size_t k = 0; k < list.size(); ++k) {
    if (progress) progress(k, list.size());
    if (Qualifies(list[k], o)) RemoveAndRescanOne(k, sourceName);
  }
}

bool DeclaredEndInHole(const BadBlock& b) {
  if (b.DeclaredSize >= b.RealSize || b.RepeatLength < kHoleMinRun) return false;
  // Positions from the chunk's ID, as RepeatStart counts them.
  const uint64_t declaredEnd = 8 + uint64_t(b.DeclaredSize);
  const uint64_t runStart = b.RepeatStart, runEnd = runStart + b.RepeatLength;
  const uint64_t excess = uint64_t(b.RealSize) - b.DeclaredSize;
  return runStart <= declaredEnd + 1 && runEnd >= declaredEnd &&
         2 * uint64_t(b.RepeatLength) >= excess;
}

void FixSizes(char mode, RepairProgress progress) {
  auto& list = BadBlocks();
  while (!list.empty()) {
    if (progress) progress(0, list.size());
    const BadBlock b = list.front();
    if (IndexEntry* e = EntryOf(b)) {
      // A chunk whose declared end lies in a hole (a long run that overwrote what followed
      // it) has the right size: taking the distance to the next chunk would add the hole to
      // it, and shift every later sample of its stream.
      if (DeclaredEndInHole(b)) {
      } else if (mode == 'n' || !(b.DeclaredSize < b.RealSize)) {
        e->dwChunkLength = b.RealSize;
      }
    }
    Erase(0);
  }
}

bool RunBulkAction(const std::string& radio, const RepairOptions& o, const std::string& sourceName,
                   RepairProgress progress) {
  if (radio == "RadioEQ")
    FixEQDelta(o, progress);
  else if (radio == "RadioREIS")
    RemoveAllZblocks(o, 'y', progress);
  else if (radio == "RadioRENO")
    RemoveAllZblocks(o, 'n', progress);
  else if (radio == "RadioRERE")
    RemoveAndRescan(o, sourceName, progress);
  else if (radio == "RadioISME")
    FixSizes('y', progress);
  else if (radio == "RadioISALL")
    FixSizes('n', progress);
  else
    return false;
  ResetReadCache();
  Crashed2SG();
  return true;
}

void Block2Exclude(size_t k, char mode) {
  auto& list = BadBlocks();
  if (k >= list.size()) return;
  const BadBlock b = list[k];
  RemoveRun(b);
  if (mode == 'y' && !RunEqualsDelta(b))
    if (IndexEntry* e = EntryOf(b)) e->dwChunkLength = b.RealSize - b.RepeatLength;
  Erase(k);
  ResetReadCache();
  Crashed2SG();
}

void FixOne(size_t k) {
  auto& list = BadBlocks();
  if (k >= list.size()) return;
  if (IndexEntry* e = EntryOf(list[k])) e->dwChunkLength = list[k].RealSize;
  Erase(k);
  Crashed2SG();
}

void LeaveOne(size_t k) {
  if (k >= BadBlocks().size()) return;
  Erase(k);
  Crashed2SG();
}

RowMenuState PopupERState(const std::string& cell1, bool taskRunning) {
  // Every per-row command changes the index a running task is using.
  if (taskRunning) return {false, false, false, false, false, false};
  bool row = !cell1.empty();
  return {row, row, row, true, true, true};
}

}  // namespace rv
