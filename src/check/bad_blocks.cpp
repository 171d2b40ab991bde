#include "check/bad_blocks.h"

#include <algorithm>
#include <cstdio>

#include "base/file_context.h"
#include "riff/bytes.h"
#include "riff/source.h"

namespace rv {

const GridRow kGridHeader = {"",
                             "#",
                             "id",
                             "offset в файле",
                             "offset в потоке",
                             "заявл.размер",
                             "реальн.размер",
                             "дельта",
                             "max повтор"};

// Both records: the entry and the ID, the two offsets (w bytes each), then the sizes, the mark,
// the repeat byte, length and start.
static void Pack(const BadBlock& b, uint8_t* out, size_t w) {
  PutDWord(b.EntryIndex, out);
  PutDWord(b.ChunkID, out + 4);
  for (size_t i = 0; i < w; ++i) {
    out[8 + i] = uint8_t(b.FileOffset >> (8 * i));
    out[8 + w + i] = uint8_t(b.MoviOffset >> (8 * i));
  }
  out += 2 * w - 8;
  PutDWord(b.DeclaredSize, out + 16);
  PutDWord(b.RealSize, out + 20);
  out[24] = uint8_t(b.Mark);
  out[25] = b.RepeatByte;
  PutDWord(b.RepeatLength, out + 26);
  PutDWord(b.RepeatStart, out + 30);
}

static BadBlock Unpack(const uint8_t* in, size_t w) {
  BadBlock b;
  b.EntryIndex = LoadLE32(in);
  b.ChunkID = LoadLE32(in + 4);
  for (size_t i = w; i-- > 0;) {
    b.FileOffset = b.FileOffset << 8 | in[8 + i];
    b.MoviOffset = b.MoviOffset << 8 | in[8 + w + i];
  }
  in += 2 * w - 8;
  b.DeclaredSize = LoadLE32(in + 16);
  b.RealSize = LoadLE32(in + 20);
  b.Mark = char(in[24]);
  b.RepeatByte = in[25];
  b.RepeatLength = LoadLE32(in + 26);
  b.RepeatStart = LoadLE32(in + 30);
  return b;
}

void PackBadBlock(const BadBlock& b, uint8_t* out) { Pack(b, out, 4); }
BadBlock UnpackBadBlock(const uint8_t* in) { return Unpack(in, 4); }
void PackWideBadBlock(const BadBlock& b, uint8_t* out) { Pack(b, out, 8); }
BadBlock UnpackWideBadBlock(const uint8_t* in) { return Unpack(in, 8); }

namespace {
struct BadBlockList {
  std::vector<BadBlock> list;
};
struct CurrentBad {
  BadBlock block;
};
// The grid starts with its header row and one empty row.
struct InitialGrid {
  GridState grid{{kGridHeader, GridRow{}}};
};
}  // namespace

std::vector<BadBlock>& BadBlocks() { return Context().Get<BadBlockList>().list; }

BadBlock& CurrentBadBlock() { return Context().Get<CurrentBad>().block; }

GridState& Grid() { return Context().Get<InitialGrid>().grid; }

std::string RepeatText(const BadBlock& b) {
  char hex[4];
  std::snprintf(hex, sizeof hex, "%02X", b.RepeatByte);
  return std::to_string(b.RepeatLength) + "(" + hex + ") at " + std::to_string(b.RepeatStart);
}

GridRow BadBlockRow(const BadBlock& b, int row, bool complete) {
  GridRow r;
  r[0] = std::to_string(row);
  r[1] = std::to_string(b.EntryIndex);
  r[2] = cff(b.ChunkID);
  for (char& c : r[2])
    if (uint8_t(c) < 32 || uint8_t(c) > 126) c = '.';
  r[3] = std::to_string(b.FileOffset);
  r[4] = std::to_string(b.MoviOffset);
  r[5] = std::to_string(b.DeclaredSize);
  if (complete) {
    r[6] = std::to_string(b.RealSize);
    r[7] = std::to_string(b.Delta());
    r[8] = RepeatText(b);
  }
  return r;
}

int ShowCurrentBadBlock() {
  GridState& g = Grid();
  const BadBlock& cur = CurrentBadBlock();
  size_t rows = g.rows.size();
  size_t last = rows - 1;
  size_t row;
  const std::string& prev = g.rows[last][1];
  if (IsNumber(prev) && prev == std::to_string(cur.EntryIndex))
    row = last;  // the '*' record completes the row its '!' record opened
  else if (rows == 2 && g.rows[1][0].empty())
    row = 1;  // the blank first row is reused
  else
    row = rows;
  if (row >= g.rows.size()) g.rows.resize(row + 1);
  GridRow filled = BadBlockRow(cur, int(row), cur.Mark == '*');
  g.rows[row] = filled;
  if (cur.Mark == '*') BadBlocks().push_back(cur);
  g.lastTouchedRow = int(row);
  ++g.generation;
  return int(row);
}

void ResetGrid() {
  GridState& g = Grid();
  g.rows = {kGridHeader, GridRow{}};
  g.lastTouchedRow = -1;
  ++g.generation;
}

void Crashed2SG() {
  GridState& g = Grid();
  g.rows = {kGridHeader, GridRow{}};
  const auto& list = BadBlocks();
  for (size_t k = 0; k < list.size(); ++k) {
    if (k > 0) g.rows.emplace_back();
    g.rows[k + 1] = BadBlockRow(list[k], int(k + 1), true);
  }
  g.lastTouchedRow = -1;
  ++g.generation;
}

bool GridIsEmpty() {
  const GridState& g = Grid();
  return g.rows.size() == 2 && g.rows[1][0].empty();
}

void RunFinder::Feed(const uint8_t* data, size_t size, size_t firstIndex) {
  for (size_t j = 0; j < size; ++j) {
    const uint8_t b = data[j];
    if (b == curByte_) {
      if (++curLen_ > best_.length) best_ = {curByte_, curLen_, curStart_};
    } else {
      if (curLen_ > best_.length) best_ = {curByte_, curLen_, curStart_};
      curByte_ = b;
      curLen_ = 1;
      curStart_ = uint32_t(firstIndex + j);
    }
  }
}

RepeatRun LongestRun(const uint8_t* data, size_t size, size_t from) {
  RunFinder f{uint32_t(from)};
  if (from < size) f.Feed(data + from, size - from, from);
  return f.best();
}

void scanchunk(const std::string& sourceName, uint64_t p, uint32_t n, size_t k) {
  if (k >= BadBlocks().size()) return;
  if (!OpenSource(sourceName)) return;
  InvalidateReadCache();
  // The block is read in pieces of at most the read cache, as the writer copies it, so a block
  // larger than the cache is measured too. Only what the stream holds is read: past its end
  // the read gives zeros, which are no run of the block.
  const uint64_t streamEnd = StreamSize();
  const uint64_t end = std::min<uint64_t>(p + 8 + n, std::max<uint64_t>(streamEnd, p));
  RunFinder finder(8);
  Bytes piece;
  bool ok = true;
  for (uint64_t at = p; at < end && ok;) {
    const uint32_t count = uint32_t(std::min<uint64_t>(end - at, Cache().size));
    ok = ReadSource(at, count, piece);
    const uint64_t from = at - p;  // index of the piece's first byte, counted from the ID
    if (ok && from + count > 8) {
      const size_t skip = from < 8 ? size_t(8 - from) : 0;
      finder.Feed(piece.data() + skip, count - skip, size_t(from + skip));
    }
    at += count;
  }
  CloseSource();
  BadBlock& b = BadBlocks()[k];
  // A block that cannot be measured keeps no run: the old one, measured before the last cut,
  // would make the next cut take live data.
  const RepeatRun r = ok ? finder.best() : RepeatRun{};
  b.RepeatByte = r.byte;
  b.RepeatLength = r.length;
  b.RepeatStart = r.start;
}

uint64_t dorealoffset(uint64_t f, uint64_t r) {
  for (const Exclusion& e : Exclusions())
    if (f < e.offset && e.offset <= f + r) r += e.count;
  return r;
}

uint64_t dorelativeptr(uint64_t f) {
  // Every fragment that ends at or before f lies wholly in front of it.
  uint64_t s = f;
  for (const Exclusion& e : Exclusions()) {
    if (f < e.offset + e.count) break;
    s -= e.count;
  }
  return s;
}

}  // namespace rv
