// Bad blocks: the 34-byte record, the list of completed ones, the grid that shows them,
// the repeat-run measurement and the stream/file position conversions of the repairs.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/text_files.h"

namespace rv {

constexpr size_t kBadBlockRecordSize = 34;
// The record of a ".2fix" of a file past 4 GiB: the two offsets are 64-bit.
constexpr size_t kWideBadBlockRecordSize = 42;

struct BadBlock {
  uint32_t EntryIndex = 0;
  uint32_t ChunkID = 0;  // FOURCC
  uint64_t FileOffset = 0;
  uint64_t MoviOffset = 0;
  uint32_t DeclaredSize = 0;
  uint32_t RealSize = 0;
  char Mark = 0;  // '!' while searching, '*' when the search ended
  uint8_t RepeatByte = 0;
  uint32_t RepeatLength = 0;
  uint32_t RepeatStart = 0;  // counted from the block's ID; the first payload byte is 8
  bool operator==(const BadBlock&) const = default;
  // RealSize - DeclaredSize, 64-bit so that a hostile declared size cannot wrap it.
  int64_t Delta() const { return int64_t(RealSize) - int64_t(DeclaredSize); }
};

void PackBadBlock(const BadBlock& b, uint8_t* out);  // 34 bytes; the offsets must fit 32 bits
BadBlock UnpackBadBlock(const uint8_t* in);
void PackWideBadBlock(const BadBlock& b, uint8_t* out);  // 42 bytes
BadBlock UnpackWideBadBlock(const uint8_t* in);

std::vector<BadBlock>& BadBlocks();
BadBlock& CurrentBadBlock();

// The grid StringER as text: row 0 is the header; an empty grid has 2 rows, row 1 blank.
struct GridState {
  std::vector<GridRow> rows;
  int lastTouchedRow = -1;  // the row the last bad-block message filled
  uint64_t generation = 0;
};
GridState& Grid();
extern const GridRow kGridHeader;

// Cells of grid row r for a record; columns 6-8 only when complete is true.
GridRow BadBlockRow(const BadBlock& b, int row, bool complete);
// The text of column 8: "4096(00) at 8".
std::string RepeatText(const BadBlock& b);

// The handling of stream-check message 4: shows the current bad block in the grid (a '*'
// record completes the row its '!' record opened) and appends a completed one to the list.
// Returns the row that was filled.
int ShowCurrentBadBlock();
// Rebuilds the grid from the list.
void Crashed2SG();
// Empties the grid: 2 rows, row 1 blank.
void ResetGrid();
// True when the grid shows no bad block (2 rows, cell (0,1) empty).
bool GridIsEmpty();

// Measures the longest repeat run of bad block k again from the source (stream position p,
// real size n), in pieces of at most the read cache. The source file is opened by name and
// closed again; a missing file changes nothing, a read that fails clears the run.
void scanchunk(const std::string& sourceName, uint64_t p, uint32_t n, size_t k);
// The repeat run of bytes[from..]: the same rule as the scanner's tracker.
struct RepeatRun {
  uint8_t byte = 0;
  uint32_t length = 0;
  uint32_t start = 0;
};
RepeatRun LongestRun(const uint8_t* data, size_t size, size_t from);
// The same measurement fed piece by piece; firstIndex is the index of data[0]. A run that
// starts with zeros counts from the index given to the constructor.
class RunFinder {
 public:
  explicit RunFinder(uint32_t start) : curStart_(start) {}
  void Feed(const uint8_t* data, size_t size, size_t firstIndex);
  RepeatRun best() const { return best_; }

 private:
  uint8_t curByte_ = 0;
  uint32_t curLen_ = 0, curStart_ = 0;
  RepeatRun best_;
};

// An offset r counted in stream bytes from file position f, as an offset in file bytes.
uint64_t dorealoffset(uint64_t f, uint64_t r);
// The stream position of file position f.
uint64_t dorelativeptr(uint64_t f);

}  // namespace rv
