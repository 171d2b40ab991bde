// Byte accessors, FOURCC conversions, chunk-ID tests and the number and hex text helpers.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "fixtures/avi_builder.h"
#include "riff/bytes.h"
#include "base/text_files.h"

namespace {

using rv::Bytes;

TEST(ByteAccess, WordAndDWordStopAtTheBufferEnd) {
  Bytes buf(26);
  for (size_t i = 0; i < buf.size(); ++i) buf[i] = static_cast<uint8_t>(i + 1);

  uint16_t w = 0xBEEF;
  EXPECT_TRUE(rv::GetWord(buf, 24, w));
  EXPECT_EQ(w, 0x1A19);  // bytes 25, 26: low byte first
  w = 0xBEEF;
  EXPECT_FALSE(rv::GetWord(buf, 25, w));
  EXPECT_EQ(w, 0xBEEF) << "a failed read must leave the value untouched";

  uint32_t d = 0xDEADBEEF;
  EXPECT_TRUE(rv::GetDWord(buf, 22, d));
  EXPECT_EQ(d, 0x1A191817u);
  d = 0xDEADBEEF;
  EXPECT_FALSE(rv::GetDWord(buf, 23, d));
  EXPECT_EQ(d, 0xDEADBEEFu);
  EXPECT_FALSE(rv::GetDWord(Bytes{}, 0, d));
  EXPECT_FALSE(rv::GetWord(Bytes{1}, 0, w));

  // Positions near the top of the range must not wrap round into the buffer.
  const uint64_t huge = std::numeric_limits<uint64_t>::max();
  for (uint64_t pos : {huge, huge - 1, huge - 3, uint64_t{0xFFFFFFFF}, uint64_t{0xFFFFFFFE}}) {
    EXPECT_FALSE(rv::GetDWord(buf, pos, d)) << pos;
    EXPECT_FALSE(rv::GetWord(buf, pos, w)) << pos;
  }
  EXPECT_EQ(d, 0xDEADBEEFu);
  EXPECT_EQ(w, 0xBEEF);
}

TEST(ByteAccess, PutDWordWritesLowByteFirstAndLoadsBack) {
  Bytes buf(8, 0xAA);
  rv::PutDWord(0x11223344u, buf, 2);
  EXPECT_EQ(buf, (Bytes{0xAA, 0xAA, 0x44, 0x33, 0x22, 0x11, 0xAA, 0xAA}));
  EXPECT_EQ(rv::LoadLE32(buf.data() + 2), 0x11223344u);
  EXPECT_EQ(rv::LoadLE16(buf.data() + 3), 0x2233);
  uint8_t raw[4];
  rv::PutDWord(0xFFFFFFFEu, raw);
  EXPECT_EQ(rv::LoadLE32(raw), 0xFFFFFFFEu);
}

TEST(ByteAccess, GetCharsKeepsZerosAndStopsAtTheEnd) {
  const Bytes buf{'a', 'b', 0, 'c'};
  EXPECT_EQ(rv::GetChars(buf, 0, 4), std::string("ab\0c", 4));
  EXPECT_EQ(rv::GetChars(buf, 1, 10), std::string("b\0c", 3));
  EXPECT_EQ(rv::GetChars(buf, 4, 2), "");
  EXPECT_EQ(rv::GetChars(buf, 100, 2), "");
}

TEST(ByteAccess, PutStringPadsWithZerosOrCuts) {
  uint8_t dest[6];
  std::fill(std::begin(dest), std::end(dest), 0xEE);
  rv::PutString("ab", dest, 4);
  EXPECT_EQ(Bytes(dest, dest + 6), (Bytes{'a', 'b', 0, 0, 0xEE, 0xEE}));
  rv::PutString("wxyz12", dest, 4);
  EXPECT_EQ(Bytes(dest, dest + 6), (Bytes{'w', 'x', 'y', 'z', 0xEE, 0xEE}));
}

TEST(ByteAccess, CopyBytesMovesTheRequestedRange) {
  const Bytes src{1, 2, 3, 4, 5};
  Bytes dst(5, 0);
  rv::CopyBytes(src.data(), dst.data(), 1, 3, 2);
  EXPECT_EQ(dst, (Bytes{0, 0, 2, 3, 4}));
}

TEST(Fourcc, PacksFirstCharacterIntoTheLowByte) {
  EXPECT_EQ(rv::fcc("AVI "), 0x20495641u);
  EXPECT_EQ(rv::fcc("RIFF"), 0x46464952u);
  EXPECT_EQ(rv::fcc("00dcXYZ"), rv::fcc("00dc")) << "only the first four characters count";
  EXPECT_EQ(rv::fcc("abc"), 0u);
  EXPECT_EQ(rv::fcc(""), 0u);
  EXPECT_EQ(rv::cff(0x20495641u), "AVI ");
  EXPECT_EQ(rv::cff(0), std::string(4, '\0'));
  EXPECT_EQ(rv::cff(0x00630064u), std::string("d\0c\0", 4));
}

TEST(Fourcc, CffThenFccGivesTheValueBack) {
  for (uint32_t v : {0u, 1u, 0x80u, 0xFFu, 0x7F00FF01u, 0x80808080u, 0xFFFFFFFFu, 0x63643030u,
                     0x12345678u, 0xFEDCBA98u}) {
    const std::string s = rv::cff(v);
    ASSERT_EQ(s.size(), 4u);
    EXPECT_EQ(rv::fcc(s), v) << std::hex << v;
  }
}

TEST(ChunkIds, TheTenKnownIdsExactlyAndTheTypedOnes) {
  for (const char* id :
       {"RIFF", "LIST", "JUNK", "avih", "strh", "strf", "strn", "strd", "indx", "idx1"})
    EXPECT_TRUE(rv::IsChunkID(id)) << id;
  for (const char* id : {"riff", "list", "AVIH", "00dc", "01wb", "movi", "hdrl", "LIS", "LISTX",
                         "", "ix00", "vprp"})
    EXPECT_FALSE(rv::IsChunkID(id)) << id;
  EXPECT_FALSE(rv::IsChunkID(std::string("LIST\0", 5)));

  for (const char* id : {"RIFF", "LIST", "strh"}) EXPECT_TRUE(rv::IsTypedChunkID(id)) << id;
  for (const char* id : {"strf", "avih", "JUNK", "idx1", "indx", "list"})
    EXPECT_FALSE(rv::IsTypedChunkID(id)) << id;
}

TEST(ChunkIds, SameChunkTypeNeedsTwoDigitsInTheFirstId) {
  EXPECT_TRUE(rv::SameChunkType("00dc", "01dc"));
  EXPECT_TRUE(rv::SameChunkType("01wb", "01wb"));
  EXPECT_TRUE(rv::SameChunkType("99db", "xxdb")) << "the second ID needs nothing but 3-4";
  EXPECT_FALSE(rv::SameChunkType("ab12", "ab12"));
  EXPECT_FALSE(rv::SameChunkType("0adc", "00dc"));
  EXPECT_FALSE(rv::SameChunkType("00dc", "00wb"));
  EXPECT_FALSE(rv::SameChunkType("00dc", "00db"));
  EXPECT_FALSE(rv::SameChunkType("0dc", "00dc"));
  EXPECT_FALSE(rv::SameChunkType("00dcx", "00dc"));
  EXPECT_FALSE(rv::SameChunkType("00dc", "dc")) << "a short second ID has no characters 3-4";
  EXPECT_FALSE(rv::SameChunkType("", ""));
}

TEST(Numbers, FormatThousandsGroupsByThreeFromTheRight) {
  EXPECT_EQ(rv::FormatThousands("0"), "0");
  EXPECT_EQ(rv::FormatThousands("999"), "999");
  EXPECT_EQ(rv::FormatThousands("1000"), "1'000");
  EXPECT_EQ(rv::FormatThousands("123456"), "123'456");
  EXPECT_EQ(rv::FormatThousands("2048000"), "2'048'000");
  EXPECT_EQ(rv::FormatThousands("-123"), "-'123") << "a minus sign is grouped like a digit";
  EXPECT_EQ(rv::FormatThousands(""), "");
  EXPECT_EQ(rv::FormatThousands(uint64_t{0}), "0");
  EXPECT_EQ(rv::FormatThousands(uint64_t{4294967295u}), "4'294'967'295");
  EXPECT_EQ(rv::FormatThousands(uint64_t{102400000}), "102'400'000");
}

TEST(Numbers, IsNumberAcceptsOptionalMinusAndDigitsOnly) {
  for (const char* t : {"0", "42", "-7", "0007", "4294967296"}) EXPECT_TRUE(rv::IsNumber(t)) << t;
  for (const char* t : {"", "-", "4a", "+5", " 5", "5 ", "--5", "1-", "1.5", "٣"})
    EXPECT_FALSE(rv::IsNumber(t)) << t;
}

TEST(Text, PadOrCutCountsCharactersNotBytes) {
  EXPECT_EQ(rv::PadOrCut("abc", 5), "abc  ");
  EXPECT_EQ(rv::PadOrCut("abcdef", 3), "abc");
  EXPECT_EQ(rv::PadOrCut("abc", 3), "abc");
  EXPECT_EQ(rv::PadOrCut("", 2), "  ");
  EXPECT_EQ(rv::PadOrCut("abc", 0), "");
  EXPECT_EQ(rv::PadOrCut("да", 4), "да  ");
  EXPECT_EQ(rv::PadOrCut("привет", 3), "при");
  EXPECT_EQ(rv::PadOrCut("ёж и кот", 4), "ёж и");
  EXPECT_EQ(rv::Utf8Length("привет"), 6u);
  EXPECT_EQ(rv::Utf8Length("a•b"), 3u);
  EXPECT_EQ(rv::Utf8Length(""), 0u);
}

TEST(Text, CharInAndCutToken) {
  EXPECT_TRUE(rv::CharIn(',', "a,b"));
  EXPECT_FALSE(rv::CharIn(';', "a,b"));
  EXPECT_FALSE(rv::CharIn('a', ""));

  std::string text = "0A,FF;01";
  EXPECT_EQ(rv::CutToken(text, ",;"), "0A");
  EXPECT_EQ(text, "FF;01");
  EXPECT_EQ(rv::CutToken(text, ",;"), "FF");
  EXPECT_EQ(text, "01");
  EXPECT_EQ(rv::CutToken(text, ",;"), "01") << "no delimiter: the whole rest is the token";
  EXPECT_EQ(text, "");
  EXPECT_EQ(rv::CutToken(text, ",;"), "");
  EXPECT_EQ(text, "");

  text = ",x";
  EXPECT_EQ(rv::CutToken(text, ","), "");
  EXPECT_EQ(text, "x");
  text = "a,,b";
  EXPECT_EQ(rv::CutToken(text, ","), "a");
  EXPECT_EQ(rv::CutToken(text, ","), "");
  EXPECT_EQ(text, "b");
}

TEST(Hex, IsHexByteNormalisesBlanksAndLeadingZeros) {
  for (const char* t : {"0F", "00f", " a0 ", "ff", "00", "000F", "  7c"})
    EXPECT_TRUE(rv::IsHexByte(t)) << '"' << t << '"';
  for (const char* t : {"F", "100", "0G", "", "  ", "1FF", "g0", "0x1"})
    EXPECT_FALSE(rv::IsHexByte(t)) << '"' << t << '"';
}

TEST(Hex, ByteDigitAndWordValues) {
  EXPECT_EQ(rv::HexByteValue("0F"), 15u);
  EXPECT_EQ(rv::HexByteValue("ff"), 255u);
  EXPECT_EQ(rv::HexByteValue("00f"), 15u);
  EXPECT_EQ(rv::HexByteValue(" a0 "), 160u);
  EXPECT_EQ(rv::HexByteValue("A"), 10u) << "one digit gives its own value";
  EXPECT_EQ(rv::HexByteValue("100"), 0u) << "more than two characters give 0";

  EXPECT_EQ(rv::HexDigitValue('0'), 0u);
  EXPECT_EQ(rv::HexDigitValue('9'), 9u);
  EXPECT_EQ(rv::HexDigitValue('a'), 10u);
  EXPECT_EQ(rv::HexDigitValue('F'), 15u);
  EXPECT_EQ(rv::HexDigitValue('g'), 0u);
  EXPECT_EQ(rv::HexDigitValue(' '), 0u);

  EXPECT_EQ(rv::HexToInt("1A"), 26u);
  EXPECT_EQ(rv::HexToInt("123456789"), 0x12345678u) << "only the first eight digits count";
  EXPECT_EQ(rv::HexToInt("ffffffff"), 0xFFFFFFFFu);
  EXPECT_EQ(rv::HexToInt("1G"), 0x10u) << "a non-hex character counts as digit 0";
  EXPECT_EQ(rv::HexToInt(""), 0u);
  EXPECT_EQ(rv::HexToInt("00000910"), 0x910u);
}

TEST(Hex, BytesToHexAndFlags) {
  const Bytes b{0x0A, 0xFF, 0x01, 0x5c};
  EXPECT_EQ(rv::BytesToHex(b, 0, 4), "0A,FF,01,5C");
  EXPECT_EQ(rv::BytesToHex(b, 1, 2), "FF,01");
  EXPECT_EQ(rv::BytesToHex(b, 3, 1), "5C");
  EXPECT_EQ(rv::BytesToHex(b, 0, 0), "");

  EXPECT_EQ(rv::HexFlags(0x910), "00000910(h)");
  EXPECT_EQ(rv::HexFlags(0), "00000000(h)");
  EXPECT_EQ(rv::HexFlags(0xFFFFFFFF), "FFFFFFFF(h)");
  EXPECT_EQ(rv::HexFlags(0x00F00140), "00F00140(h)");
}

std::string FileText(const std::string& path) {
  const rvt::Bytes b = rvt::ReadFile(path);
  return std::string(b.begin(), b.end());
}

TEST(TextFiles, AppendTextLinePutsCrLfBetweenLinesNeverAtTheEnd) {
  rvt::TempDir dir("textfiles");
  const std::string path = dir.File("list.txt");
  rv::AppendTextLine("first", path);
  EXPECT_EQ(FileText(path), "first");
  rv::AppendTextLine("второй", path);
  EXPECT_EQ(FileText(path), "first\r\nвторой");
  rv::AppendTextLine("", path);
  EXPECT_EQ(FileText(path), "first\r\nвторой\r\n") << "an empty line is a bare CR LF";
  rv::AppendTextLine("last", path);
  EXPECT_EQ(FileText(path), "first\r\nвторой\r\n\r\nlast");

  // An empty existing file gets no leading line break.
  const std::string empty = dir.Write("empty.txt", {});
  rv::AppendTextLine("only", empty);
  EXPECT_EQ(FileText(empty), "only");

  // Nowhere to write: nothing happens.
  const std::string blocker = dir.Write("plain", rvt::Text("x"));
  rv::AppendTextLine("lost", blocker + "/list.txt");
  EXPECT_EQ(FileText(blocker), "x");
}

TEST(TextFiles, GridRowsBecomeFixedWidthColumns) {
  rvt::TempDir dir("grid");
  const rv::GridRow header{"N", "тип", "ок", "позиция", "размер", "до", "после", "повтор", "x"};
  const rv::GridRow row{"123456", "2", "3", "4", "12345678901", "6", "7", "8", "9"};
  const std::string sep = " | ";
  const std::string headerLine = "N    " + sep + "тип  " + sep + "ок   " + sep + "позиция   " +
                                 sep + "размер    " + sep + "до        " + sep + "после     " +
                                 sep + "повтор    " + sep + "x         ";
  const std::string rowLine = "12345" + sep + "2    " + sep + "3    " + sep + "4         " + sep +
                              "1234567890" + sep + "6         " + sep + "7         " + sep +
                              "8         " + sep + "9         ";
  EXPECT_EQ(rv::GridTextLine(header), headerLine);
  EXPECT_EQ(rv::GridTextLine(row), rowLine);
  EXPECT_EQ(rv::GridTextLine(row, false).substr(0, 6), "123456") << "uncut cells stay whole";

  const std::string gap = dir.File("gap.txt");
  rv::WriteGridText({header, row}, gap, 'y');
  EXPECT_EQ(FileText(gap), headerLine + "\r\n\r\n" + rowLine);

  // Without the flag no blank line; the file is appended to, not replaced.
  const std::string plain = dir.Write("plain.txt", rvt::Text("old"));
  rv::WriteGridText({header, row}, plain, 'n');
  EXPECT_EQ(FileText(plain), "old\r\n" + headerLine + "\r\n" + rowLine);
}

}  // namespace
