// The text of a hexadecimal dump: address, bytes in groups of four, the bytes as characters.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "riff/bytes.h"

namespace rv {

// A block longer than kDumpHeadBytes + kDumpTailBytes is dumped as its first kDumpHeadBytes and
// its last kDumpTailBytes, so that a RIFF or movi list of gigabytes neither fills the memory
// nor stalls the window. Both are whole lines at every width (multiples of 96).
constexpr uint32_t kDumpHeadBytes = 96 * 10240;
constexpr uint32_t kDumpTailBytes = 96 * 2560;
struct DumpParts {
  uint32_t head = 0;     // bytes from the block's start
  uint32_t skipped = 0;  // bytes left out after them
  uint32_t tail = 0;     // bytes up to the block's end
};
DumpParts DumpPartsOf(uint32_t size);
// The line that stands for the bytes left out.
std::string DumpSkippedLine(uint32_t skipped);

// Lines of a dump of the first count bytes of bytes, n bytes per line (16, 24 or 32),
// the first line addressed base. With skipped > 0 the bytes from index gapAt on lie skipped
// bytes further in the file: a line says so, and their addresses go on from there. The character
// column shows bytes 0, 9, 10 and 13 as ".", bytes of 128 and above as their Windows-1251
// characters and other control bytes as visible one-character substitutes, so the column stays
// aligned. UTF-8.
std::vector<std::string> MakeDumpLines(const Bytes& bytes, uint32_t count, uint64_t base, int n,
                                       uint32_t gapAt = 0, uint32_t skipped = 0);
// The width of the hex part of a line: 3n + 2(n/4 - 1) + 11.
size_t DumpHexWidth(int n);
// One byte of the character column, as UTF-8.
std::string DumpChar(uint8_t b);
// Windows-1251 byte to UTF-8 (bytes below 128 unchanged).
std::string Cp1251ToUtf8(uint8_t b);

}  // namespace rv
