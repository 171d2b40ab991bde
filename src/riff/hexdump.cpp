// Text of the hexadecimal dump. One line per n bytes:
//   "AAAAAAAA " + per byte "HH " (+ "| " after every fourth byte), blank-padded to the
//   hex width, then one character per byte.
// The character column must stay one code point per byte so that it lines up in a
// fixed-pitch font; every byte therefore maps to exactly one visible code point.
#include "riff/hexdump.h"

#include <algorithm>
#include <array>

namespace rv {
namespace {

// Windows-1251, bytes 0x80..0xFF. 0x98 has no character in that code page; it gets
// U+FFFD, the replacement character, which every fixed-pitch font carries.
constexpr std::array<char32_t, 128> kCp1251High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  // C0
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,  // C8
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,  // D0
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,  // D8
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  // E0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,  // E8
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,  // F0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,  // F8
};

// Control bytes 1..31 (0, 9, 10 and 13 are shown as "." and never reach this table).
// These are the glyphs DOS code pages drew for control codes, which every common
// fixed-pitch font carries (the Unicode "Control Pictures" block is missing from most
// of them). Three of those glyphs (bullet, pilcrow, section sign) are also Windows-1251
// characters; bytes 7, 20 and 21 take the otherwise unused glyphs of 9, 13 and 10
// instead, so that no control byte reads like a printable one.
constexpr std::array<char32_t, 32> kControlGlyphs = {
    0x0000, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x25CB,  // 00
    0x25D8, 0x0000, 0x0000, 0x2642, 0x2640, 0x0000, 0x266B, 0x263C,  // 08
    0x25BA, 0x25C4, 0x2195, 0x203C, 0x266A, 0x25D9, 0x25AC, 0x21A8,  // 10
    0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC,  // 18
};
constexpr char32_t kDeleteGlyph = 0x2302;      // byte 127, the DOS "house"
constexpr char32_t kSoftHyphenGlyph = 0x2010;  // 0xAD is invisible when drawn; show a hyphen

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

char32_t DumpCodePoint(uint8_t b) {
  if (b == 0 || b == 9 || b == 10 || b == 13) return U'.';
  if (b < 32) return kControlGlyphs[b];
  if (b == 127) return kDeleteGlyph;
  if (b < 128) return b;
  if (b == 0xAD) return kSoftHyphenGlyph;
  return kCp1251High[b - 128];
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendHex(std::string& out, uint64_t value, int digits) {
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
    out += kHexDigits[(value >> shift) & 0xF];
}

}  // namespace

std::string Cp1251ToUtf8(uint8_t b) {
  std::string out;
  AppendUtf8(out, b < 128 ? char32_t{b} : kCp1251High[b - 128]);
  return out;
}

std::string DumpChar(uint8_t b) {
  std::string out;
  AppendUtf8(out, DumpCodePoint(b));
  return out;
}

size_t DumpHexWidth(int n) {
  // 3n + 2(n/4 - 1) + 11: the address (9), the bytes (3n), "| " after each complete
  // group of four and two blanks of margin before the characters.
  return static_cast<size_t>(3 * n + 2 * (n / 4 - 1) + 11);
}

DumpParts DumpPartsOf(uint32_t size) {
  if (uint64_t(size) <= uint64_t(kDumpHeadBytes) + kDumpTailBytes) return {size, 0, 0};
  return {kDumpHeadBytes, size - kDumpHeadBytes - kDumpTailBytes, kDumpTailBytes};
}

std::string DumpSkippedLine(uint32_t skipped) {
  return "... пропущено байт: " + FormatThousands(skipped) + " ...";
}

std::vector<std::string> MakeDumpLines(const Bytes& bytes, uint32_t count, uint64_t base, int n,
                                       uint32_t gapAt, uint32_t skipped) {
  std::vector<std::string> lines;
  if (n <= 0) return lines;
  const uint64_t total = std::min<uint64_t>(count, bytes.size());
  const uint64_t step = static_cast<uint64_t>(n);
  // Eight address digits, ten in a dump that reaches past 4 GiB.
  const int digits = base + total + skipped > 0xFFFFFFFFu ? 10 : 8;
  const size_t hexWidth = DumpHexWidth(n) + size_t(digits - 8);
  lines.reserve(static_cast<size_t>((total + step - 1) / step) + 1);
  // Lines of bytes [from, to), the first addressed at.
  auto dump = [&](uint64_t from, uint64_t to, uint64_t at) {
    for (uint64_t o = from; o < to; o += step) {
      const uint64_t inLine = std::min(step, to - o);
      std::string line;
      line.reserve(hexWidth + inLine * 3);
      AppendHex(line, at + (o - from), digits);
      line += ' ';
      for (uint64_t k = 0; k < inLine; ++k) {
        AppendHex(line, bytes[o + k], 2);
        line += ' ';
        if (k % 4 == 3) line += "| ";
      }
      // The hex part is pure ASCII, so its byte length is its width in characters.
      if (line.size() < hexWidth) line.append(hexWidth - line.size(), ' ');
      for (uint64_t k = 0; k < inLine; ++k) AppendUtf8(line, DumpCodePoint(bytes[o + k]));
      lines.push_back(std::move(line));
    }
  };
  if (skipped == 0 || gapAt >= total) {
    dump(0, total, base);
  } else {
    dump(0, gapAt, base);
    lines.push_back(DumpSkippedLine(skipped));
    dump(gapAt, total, base + gapAt + skipped);
  }
  return lines;
}

}  // namespace rv
