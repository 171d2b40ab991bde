// The text of a hexadecimal dump: address, bytes in groups of four, the bytes as characters.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "riff/bytes.h"

namespace rv {

// Lines of a dump of the first count bytes of bytes, n bytes per line (16, 24 or 32),
// the first line addressed base. The character column shows bytes 0, 9, 10 and 13 as ".",
// bytes of 128 and above as their Windows-1251 characters and other control bytes as
// visible one-character substitutes, so the column stays aligned. UTF-8.
std::vector<std::string> MakeDumpLines(const Bytes& bytes, uint32_t count, uint32_t base, int n);
// The width of the hex part of a line: 3n + 2(n/4 - 1) + 11.
size_t DumpHexWidth(int n);
// One byte of the character column, as UTF-8.
std::string DumpChar(uint8_t b);
// Windows-1251 byte to UTF-8 (bytes below 128 unchanged).
std::string Cp1251ToUtf8(uint8_t b);

}  // namespace rv
