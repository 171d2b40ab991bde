#include "riff/bytes.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace rv {

uint32_t LoadLE32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t LoadLE16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

bool GetDWord(const Bytes& buf, uint64_t pos, uint32_t& value) {
  if (pos > buf.size() || buf.size() - pos < 4) return false;
  value = LoadLE32(buf.data() + pos);
  return true;
}

bool GetWord(const Bytes& buf, uint64_t pos, uint16_t& value) {
  if (pos > buf.size() || buf.size() - pos < 2) return false;
  value = LoadLE16(buf.data() + pos);
  return true;
}

void PutDWord(uint32_t value, uint8_t* dest) {
  dest[0] = uint8_t(value);
  dest[1] = uint8_t(value >> 8);
  dest[2] = uint8_t(value >> 16);
  dest[3] = uint8_t(value >> 24);
}

void PutDWord(uint32_t value, Bytes& buf, uint64_t pos) { PutDWord(value, buf.data() + pos); }

void AppendDWord(Bytes& buf, uint32_t value) {
  uint8_t t[4];
  PutDWord(value, t);
  buf.insert(buf.end(), t, t + 4);
}

void AppendWord(Bytes& buf, uint16_t value) {
  buf.push_back(uint8_t(value));
  buf.push_back(uint8_t(value >> 8));
}

std::string GetChars(const Bytes& buf, uint64_t pos, uint64_t count) {
  if (pos >= buf.size()) return {};
  uint64_t n = std::min<uint64_t>(count, buf.size() - pos);
  return std::string(reinterpret_cast<const char*>(buf.data() + pos), size_t(n));
}

void PutString(std::string_view text, uint8_t* dest, size_t count) {
  size_t n = std::min(text.size(), count);
  std::memcpy(dest, text.data(), n);
  std::memset(dest + n, 0, count - n);
}

void CopyBytes(const uint8_t* src, uint8_t* dst, size_t srcPos, size_t count, size_t dstPos) {
  std::memmove(dst + dstPos, src + srcPos, count);
}

uint32_t fcc(std::string_view text) {
  if (text.size() < 4) return 0;
  return uint32_t(uint8_t(text[0])) | uint32_t(uint8_t(text[1])) << 8 |
         uint32_t(uint8_t(text[2])) << 16 | uint32_t(uint8_t(text[3])) << 24;
}

std::string cff(uint32_t value) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = char((value >> (8 * i)) & 0xFF);
  return s;
}

bool IsChunkID(std::string_view id) {
  static constexpr std::string_view kIds[] = {"RIFF", "LIST", "JUNK", "avih", "strh",
                                              "strf", "strn", "strd", "indx", "idx1"};
  return std::find(std::begin(kIds), std::end(kIds), id) != std::end(kIds);
}

bool IsTypedChunkID(std::string_view id) { return id == "RIFF" || id == "LIST" || id == "strh"; }

static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool SameChunkType(std::string_view a, std::string_view b) {
  if (a.size() != 4 || !IsDigit(a[0]) || !IsDigit(a[1])) return false;
  if (b.size() < 4) return false;
  return a[2] == b[2] && a[3] == b[3];
}

std::string BytesToHex(const Bytes& bytes, size_t pos, size_t count) {
  static const char* kDigits = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < count && pos + i < bytes.size(); ++i) {
    if (i) out.push_back(',');
    uint8_t b = bytes[pos + i];
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

}  // namespace rv
