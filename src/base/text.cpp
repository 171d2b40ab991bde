#include "base/text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace rv {

static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string FormatThousands(std::string_view digits) {
  std::string out;
  out.reserve(digits.size() + digits.size() / 3);
  size_t taken = 0;
  for (size_t i = digits.size(); i-- > 0;) {
    out.push_back(digits[i]);
    if (++taken % 3 == 0 && i > 0) out.push_back('\'');
  }
  std::reverse(out.begin(), out.end());
  return out;
}

std::string FormatThousands(uint64_t value) { return FormatThousands(std::to_string(value)); }

bool IsNumber(std::string_view text) {
  if (!text.empty() && text[0] == '-') text.remove_prefix(1);
  if (text.empty()) return false;
  return std::all_of(text.begin(), text.end(), IsDigit);
}

size_t Utf8Length(std::string_view text) {
  size_t n = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

std::string PadOrCut(std::string_view text, size_t width) {
  size_t chars = 0, i = 0;
  for (; i < text.size(); ++i) {
    if ((uint8_t(text[i]) & 0xC0) != 0x80) {
      if (chars == width) break;
      ++chars;
    }
  }
  std::string out(text.substr(0, i));
  if (chars < width) out.append(width - chars, ' ');
  return out;
}

bool CharIn(char c, std::string_view text) { return text.find(c) != std::string_view::npos; }

std::string CutToken(std::string& text, std::string_view delimiters) {
  size_t p = text.find_first_of(delimiters);
  if (p == std::string::npos) {
    std::string token = std::move(text);
    text.clear();
    return token;
  }
  std::string token = text.substr(0, p);
  text.erase(0, p + 1);
  return token;
}

// Trims blanks, then drops leading zeros while three or more characters remain.
static std::string NormaliseHex(std::string_view text) {
  size_t b = text.find_first_not_of(' ');
  if (b == std::string_view::npos) return {};
  size_t e = text.find_last_not_of(' ');
  std::string s(text.substr(b, e - b + 1));
  while (s.size() >= 3 && s[0] == '0') s.erase(0, 1);
  return s;
}

static bool IsHexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

bool IsHexByte(std::string_view text) {
  std::string s = NormaliseHex(text);
  return s.size() == 2 && IsHexDigit(s[0]) && IsHexDigit(s[1]);
}

uint32_t HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return uint32_t(c - '0');
  if (c >= 'a' && c <= 'f') return uint32_t(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return uint32_t(c - 'A' + 10);
  return 0;
}

uint32_t HexByteValue(std::string_view text) {
  std::string s = NormaliseHex(text);
  if (s.size() == 1) return HexDigitValue(s[0]);
  if (s.size() == 2) {
    uint32_t v = HexDigitValue(s[0]) * 16;
    if (IsHexDigit(s[1])) v += HexDigitValue(s[1]);
    return v;
  }
  return 0;
}

uint32_t HexToInt(std::string_view text) {
  uint32_t v = 0;
  for (size_t i = 0; i < text.size() && i < 8; ++i) v = v * 16 + HexDigitValue(text[i]);
  return v;
}

std::string HexFlags(uint32_t value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08X(h)", value);
  return buf;
}

}  // namespace rv
