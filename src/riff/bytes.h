// Byte-buffer accessors, FOURCC conversions, chunk-ID tests. The number and hex text helpers
// come with it from base/text.h.
// Everything here is little-endian and bounds-checked where a caller could hand in short data.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"

namespace rv {

using Bytes = std::vector<uint8_t>;

// False, value untouched, when pos + 4 (pos + 2) runs past the buffer.
bool GetDWord(const Bytes& buf, uint64_t pos, uint32_t& value);
bool GetWord(const Bytes& buf, uint64_t pos, uint16_t& value);
// The caller guarantees pos + 4 <= buf.size().
void PutDWord(uint32_t value, Bytes& buf, uint64_t pos);
void PutDWord(uint32_t value, uint8_t* dest);
// Appended to the end of buf.
void AppendDWord(Bytes& buf, uint32_t value);
void AppendWord(Bytes& buf, uint16_t value);
uint32_t LoadLE32(const uint8_t* p);
uint16_t LoadLE16(const uint8_t* p);
// count bytes from pos, one character per byte (zeros included); stops at the buffer's end.
std::string GetChars(const Bytes& buf, uint64_t pos, uint64_t count);
// Exactly count bytes: the text's characters, then zeros; a longer text is cut.
void PutString(std::string_view text, uint8_t* dest, size_t count);
void CopyBytes(const uint8_t* src, uint8_t* dst, size_t srcPos, size_t count, size_t dstPos);

// FOURCC: first character in the low byte. fcc of a text shorter than 4 is 0.
uint32_t fcc(std::string_view text);
std::string cff(uint32_t value);

bool IsChunkID(std::string_view id);
bool IsTypedChunkID(std::string_view id);
// a has 4 characters, its first two are digits, characters 3-4 of a equal those of b.
bool SameChunkType(std::string_view a, std::string_view b);

// "0A,FF,01": each byte two upper-case digits, separated by ",".
std::string BytesToHex(const Bytes& bytes, size_t pos, size_t count);
}  // namespace rv
