// The text of the hexadecimal dump: line layout, padding of the last line, the
// character column and the addresses.
#include "riff/hexdump.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace rv {
namespace {

// Code points of a UTF-8 text, counted here rather than with the engine's helper so a
// fault there cannot hide one in the dump.
size_t CodePoints(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

Bytes Sequence(size_t count, uint8_t first = 0x41) {
  Bytes b(count);
  for (size_t i = 0; i < count; ++i) b[i] = static_cast<uint8_t>(first + i);
  return b;
}

// ---------------------------------------------------------------- line layout

TEST(DumpLayout, HexWidthPerLineWidth) {
  EXPECT_EQ(DumpHexWidth(16), 65u);
  EXPECT_EQ(DumpHexWidth(24), 93u);
  EXPECT_EQ(DumpHexWidth(32), 121u);
}

TEST(DumpLayout, FullLineOfSixteen) {
  const auto lines = MakeDumpLines(Sequence(16), 16, 0, 16);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0],
            "00000000 41 42 43 44 | 45 46 47 48 | 49 4A 4B 4C | 4D 4E 4F 50 | "
            "ABCDEFGHIJKLMNOP");
}

TEST(DumpLayout, FullLineOfTwentyFour) {
  const auto lines = MakeDumpLines(Sequence(24, 0x61), 24, 0x10, 24);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0],
            "00000010 61 62 63 64 | 65 66 67 68 | 69 6A 6B 6C | 6D 6E 6F 70 | "
            "71 72 73 74 | 75 76 77 78 | abcdefghijklmnopqrstuvwx");
  EXPECT_EQ(lines[0].find("abc"), 93u);
}

TEST(DumpLayout, FullLineOfThirtyTwo) {
  const auto lines = MakeDumpLines(Sequence(32, 0x30), 32, 0, 32);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(0, 121),
            "00000000 30 31 32 33 | 34 35 36 37 | 38 39 3A 3B | 3C 3D 3E 3F | "
            "40 41 42 43 | 44 45 46 47 | 48 49 4A 4B | 4C 4D 4E 4F | ");
  EXPECT_EQ(lines[0].substr(121), "0123456789:;<=>?@ABCDEFGHIJKLMNO");
}

TEST(DumpLayout, HexDigitsAreUpperCase) {
  const auto lines = MakeDumpLines(Bytes{0xAB, 0xCD, 0xEF, 0xFA}, 4, 0xABCDEF12, 16);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(0, 23), "ABCDEF12 AB CD EF FA | ");
}

TEST(DumpLayout, ShortLastLineIsPaddedToTheCharacterColumn) {
  const auto lines = MakeDumpLines(Sequence(21), 21, 0, 16);
  ASSERT_EQ(lines.size(), 2u);
  // Five bytes: one complete group with its "|", then a lone byte without one.
  EXPECT_EQ(lines[1], "00000010 51 52 53 54 | 55 " + std::string(65 - 26, ' ') + "QRSTU");
  EXPECT_EQ(lines[1].find("QRSTU"), lines[0].find("ABCD"));
}

TEST(DumpLayout, IncompleteGroupHasNoBar) {
  const auto lines = MakeDumpLines(Sequence(7), 7, 0, 16);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(0, 33), "00000000 41 42 43 44 | 45 46 47  ");
  EXPECT_EQ(lines[0].find('|', 22), std::string::npos);
}

TEST(DumpLayout, CharacterColumnAlignsInCodePointsWithNonAsciiBytes) {
  // Bytes above 127 and control bytes become multi-byte UTF-8; the column must still
  // start at the same character on every line, for each line width.
  Bytes bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<uint8_t>(255 - i));
  bytes.resize(250);
  for (int n : {16, 24, 32}) {
    SCOPED_TRACE(n);
    const auto lines = MakeDumpLines(bytes, static_cast<uint32_t>(bytes.size()), 0, n);
    ASSERT_EQ(lines.size(), (bytes.size() + n - 1) / n);
    for (size_t i = 0; i < lines.size(); ++i) {
      const size_t inLine = std::min<size_t>(n, bytes.size() - i * n);
      EXPECT_EQ(CodePoints(lines[i]), DumpHexWidth(n) + inLine) << "line " << i;
    }
  }
}

// ---------------------------------------------------------------- character column

TEST(DumpCharacters, OnlyZeroTabLineFeedAndReturnBecomeDots) {
  for (int b = 0; b < 256; ++b) {
    const bool dot = b == 0 || b == 9 || b == 10 || b == 13 || b == '.';
    EXPECT_EQ(DumpChar(static_cast<uint8_t>(b)) == ".", dot) << "byte " << b;
  }
  EXPECT_EQ(DumpChar('.'), ".");
}

TEST(DumpCharacters, PrintableAsciiIsItself) {
  for (int b = 32; b < 127; ++b) EXPECT_EQ(DumpChar(static_cast<uint8_t>(b)), std::string(1, static_cast<char>(b)));
}

TEST(DumpCharacters, EveryByteIsOneVisibleCodePoint) {
  for (int b = 0; b < 256; ++b) {
    const std::string c = DumpChar(static_cast<uint8_t>(b));
    ASSERT_EQ(CodePoints(c), 1u) << "byte " << b;
    const unsigned char first = static_cast<unsigned char>(c[0]);
    EXPECT_FALSE(first < 0x20 || first == 0x7F) << "raw control character for byte " << b;
    EXPECT_NE(c, "\xC2\xAD") << "invisible soft hyphen for byte " << b;
  }
}

TEST(DumpCharacters, ControlBytesAreDistinctFromEachOtherAndFromPrintableBytes) {
  std::set<std::string> printable;
  for (int b = 32; b < 256; ++b)
    if (b != 127) printable.insert(DumpChar(static_cast<uint8_t>(b)));
  std::set<std::string> controls;
  for (int b : {1, 2, 3, 4, 5, 6, 7, 8, 11, 12, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26,
                27, 28, 29, 30, 31, 127}) {
    const std::string c = DumpChar(static_cast<uint8_t>(b));
    EXPECT_TRUE(controls.insert(c).second) << "byte " << b << " repeats a glyph";
    EXPECT_EQ(printable.count(c), 0u) << "byte " << b << " reads like a printable byte";
  }
}

TEST(DumpCharacters, Windows1251BytesReadAsRussian) {
  const Bytes privet{0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2};  // "Привет" in Windows-1251
  const auto lines = MakeDumpLines(privet, 6, 0, 16);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(65), "Привет");
  EXPECT_EQ(DumpChar(0xC0), "А");
  EXPECT_EQ(DumpChar(0xDF), "Я");
  EXPECT_EQ(DumpChar(0xE0), "а");
  EXPECT_EQ(DumpChar(0xFF), "я");
  EXPECT_EQ(DumpChar(0xA8), "Ё");
  EXPECT_EQ(DumpChar(0xB8), "ё");
  EXPECT_EQ(DumpChar(0xB9), "№");
}

TEST(Cp1251, HighHalfMatchesTheCodePage) {
  EXPECT_EQ(Cp1251ToUtf8(0x80), "Ђ");
  EXPECT_EQ(Cp1251ToUtf8(0x88), "€");
  EXPECT_EQ(Cp1251ToUtf8(0x96), "–");
  EXPECT_EQ(Cp1251ToUtf8(0x99), "™");
  EXPECT_EQ(Cp1251ToUtf8(0xA5), "Ґ");
  EXPECT_EQ(Cp1251ToUtf8(0xB4), "ґ");
  EXPECT_EQ(Cp1251ToUtf8(0xAA), "Є");
  EXPECT_EQ(Cp1251ToUtf8(0xBF), "ї");
  EXPECT_EQ(Cp1251ToUtf8(0xAD), "\xC2\xAD");  // the conversion keeps the real soft hyphen
  EXPECT_EQ(Cp1251ToUtf8(0x98), "\xEF\xBF\xBD");  // undefined in the code page
}

TEST(Cp1251, LowHalfIsUnchangedAndHighHalfIsOneToOne) {
  for (int b = 0; b < 128; ++b) EXPECT_EQ(Cp1251ToUtf8(static_cast<uint8_t>(b)), std::string(1, static_cast<char>(b)));
  std::set<std::string> seen;
  for (int b = 128; b < 256; ++b) {
    const std::string c = Cp1251ToUtf8(static_cast<uint8_t>(b));
    EXPECT_EQ(CodePoints(c), 1u) << "byte " << b;
    EXPECT_GT(static_cast<unsigned char>(c[0]), 0x7F) << "byte " << b;
    EXPECT_TRUE(seen.insert(c).second) << "byte " << b;
  }
}

// ---------------------------------------------------------------- count and addresses

TEST(DumpRange, CountZeroGivesNoLines) {
  EXPECT_TRUE(MakeDumpLines(Sequence(40), 0, 0, 16).empty());
  EXPECT_TRUE(MakeDumpLines(Bytes{}, 0, 0x100, 32).empty());
}

TEST(DumpRange, OnlyTheFirstCountBytesAreShown) {
  const auto lines = MakeDumpLines(Sequence(40), 17, 0, 16);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "00000010 51" + std::string(65 - 11, ' ') + "Q");
}

TEST(DumpRange, CountBeyondTheBufferStopsAtItsEnd) {
  const auto lines = MakeDumpLines(Sequence(20), 1000, 0, 16);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(CodePoints(lines[1]), 65u + 4u);
}

TEST(DumpRange, LineCountFollowsTheLineWidth) {
  const Bytes bytes = Sequence(64, 0);
  EXPECT_EQ(MakeDumpLines(bytes, 64, 0, 16).size(), 4u);
  EXPECT_EQ(MakeDumpLines(bytes, 64, 0, 24).size(), 3u);
  EXPECT_EQ(MakeDumpLines(bytes, 64, 0, 32).size(), 2u);
  EXPECT_EQ(MakeDumpLines(bytes, 65, 0, 32).size(), 2u);
}

TEST(DumpRange, AddressIsBasePlusOffset) {
  const auto lines = MakeDumpLines(Sequence(72, 0), 72, 0x12345678, 24);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].substr(0, 9), "12345678 ");
  EXPECT_EQ(lines[1].substr(0, 9), "12345690 ");
  EXPECT_EQ(lines[2].substr(0, 9), "123456A8 ");
  EXPECT_EQ(lines[1].substr(9, 2), "18");  // the first byte of the second line is byte 24
}

TEST(DumpRange, ALongBlockIsItsStartAndItsEndWithTheGapSaid) {
  const DumpParts whole = DumpPartsOf(kDumpHeadBytes + kDumpTailBytes);
  EXPECT_EQ(whole.head, kDumpHeadBytes + kDumpTailBytes);
  EXPECT_EQ(whole.skipped + whole.tail, 0u);
  const DumpParts big = DumpPartsOf(0xFFFFFFFF);
  EXPECT_EQ(big.head, kDumpHeadBytes);
  EXPECT_EQ(big.tail, kDumpTailBytes);
  EXPECT_EQ(uint64_t(big.head) + big.skipped + big.tail, 0xFFFFFFFFull);
  for (int n : {16, 24, 32}) EXPECT_EQ((kDumpHeadBytes % n) + (kDumpTailBytes % n), 0u) << n;

  // 32 bytes from 0x100, 1000 left out, 16 more: their addresses go on behind the gap.
  const auto lines = MakeDumpLines(Sequence(48, 0), 48, 0x100, 16, 32, 1000);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1].substr(0, 11), "00000110 10");
  EXPECT_EQ(lines[2], DumpSkippedLine(1000));
  EXPECT_NE(lines[2].find("1'000"), std::string::npos);
  EXPECT_EQ(lines[3].substr(0, 11), "00000508 20");
}

TEST(DumpRange, AddressWrapsAtThirtyTwoBits) {
  const auto lines = MakeDumpLines(Sequence(32), 32, 0xFFFFFFF8, 16);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(0, 8), "FFFFFFF8");
  EXPECT_EQ(lines[1].substr(0, 8), "00000008");
}

}  // namespace
}  // namespace rv
