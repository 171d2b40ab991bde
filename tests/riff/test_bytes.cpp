// Byte accessors, FOURCC conversions, chunk-ID tests, the number and hex text helpers and the
// text files of the grid.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>

#include "fixtures/avi_builder.h"
#include "riff/bytes.h"
#include "base/text_files.h"

namespace {

using rv::Bytes;

TEST(ByteAccess, ReadsStopAtTheBufferEndEvenNearTwoToTheSixtyFour) {
  Bytes buf(26);
  for (size_t i = 0; i < buf.size(); ++i) buf[i] = uint8_t(i + 1);
  uint16_t w = 0;
  uint32_t d = 0;
  ASSERT_TRUE(rv::GetWord(buf, 24, w) && rv::GetDWord(buf, 22, d));
  EXPECT_EQ(w, 0x1A19);
  EXPECT_EQ(d, 0x1A191817u);
  const uint64_t top = std::numeric_limits<uint64_t>::max();
  for (uint64_t pos : {uint64_t{25}, uint64_t{23}, top, top - 1, top - 3, uint64_t{0xFFFFFFFF}}) {
    w = 0xBEEF, d = 0xDEADBEEF;
    EXPECT_FALSE(rv::GetDWord(buf, pos, d) || (pos != 23 && rv::GetWord(buf, pos, w))) << pos;
    EXPECT_EQ(d, 0xDEADBEEFu) << "a failed read leaves the value, at " << pos;
    EXPECT_EQ(w, 0xBEEF) << pos;
  }
  EXPECT_EQ(rv::GetChars({'a', 'b', 0, 'c'}, 1, 10), std::string("b\0c", 3));
  EXPECT_EQ(rv::GetChars({'a'}, top - 1, 4), "");
}

TEST(ByteAccess, WritesAreLittleEndianAndSized) {
  Bytes buf(8, 0xAA);
  rv::PutDWord(0x11223344u, buf, 2);
  EXPECT_EQ(buf, (Bytes{0xAA, 0xAA, 0x44, 0x33, 0x22, 0x11, 0xAA, 0xAA}));
  EXPECT_EQ(rv::LoadLE16(buf.data() + 3), 0x2233);
  uint8_t dest[6] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  rv::PutString("ab", dest, 4);
  EXPECT_EQ(Bytes(dest, dest + 6), (Bytes{'a', 'b', 0, 0, 0xEE, 0xEE}));
  rv::PutString("wxyz12", dest, 4);
  EXPECT_EQ(Bytes(dest, dest + 6), (Bytes{'w', 'x', 'y', 'z', 0xEE, 0xEE}));
  rv::CopyBytes(buf.data(), dest, 2, 3, 1);
  EXPECT_EQ(Bytes(dest, dest + 6), (Bytes{'w', 0x44, 0x33, 0x22, 0xEE, 0xEE}));
  for (uint32_t v : {0u, 0x80u, 0x7F00FF01u, 0x80808080u, 0xFFFFFFFFu, 0x20495641u}) {
    EXPECT_EQ(rv::fcc(rv::cff(v)), v) << std::hex << v;
    rv::PutDWord(v, dest);
    EXPECT_EQ(rv::LoadLE32(dest), v);
  }
  EXPECT_EQ(rv::cff(0x20495641u), "AVI ");
  EXPECT_EQ(rv::fcc("00dcXYZ"), rv::fcc("00dc")) << "only the first four characters count";
  EXPECT_EQ(rv::fcc("abc"), 0u);
}

TEST(ChunkIds, KnownTypedAndSameType) {
  std::string got;
  for (const char* id : {"RIFF", "LIST", "JUNK", "avih", "strh", "strf", "strn", "strd", "indx",
                         "idx1", "riff", "AVIH", "00dc", "movi", "LIS", "LISTX", "", "ix00"})
    got += std::string(id) + (rv::IsChunkID(id) ? "+" : "") + (rv::IsTypedChunkID(id) ? "T " : " ");
  EXPECT_EQ(got, "RIFF+T LIST+T JUNK+ avih+ strh+T strf+ strn+ strd+ indx+ idx1+ riff AVIH 00dc "
                 "movi LIS LISTX  ix00 ");
  EXPECT_FALSE(rv::IsChunkID(std::string("LIST\0", 5)));
  // The first ID needs two digits; the second needs only characters 3-4.
  const std::pair<const char*, const char*> same[] = {{"00dc", "01dc"}, {"99db", "xxdb"}};
  const std::pair<const char*, const char*> other[] = {
      {"ab12", "ab12"}, {"0adc", "00dc"}, {"00dc", "00wb"}, {"0dc", "00dc"},
      {"00dcx", "00dc"}, {"00dc", "dc"}, {"", ""}};
  for (auto [a, b] : same) EXPECT_TRUE(rv::SameChunkType(a, b)) << a << " " << b;
  for (auto [a, b] : other) EXPECT_FALSE(rv::SameChunkType(a, b)) << a << " " << b;
}

TEST(TextHelpers, EachFunctionOnItsCases) {
  using Fn = std::function<std::string(const std::string&)>;
  const auto yes = [](bool b) { return std::string(b ? "yes" : "no"); };
  const std::map<std::string, Fn> fn = {
      {"thousands", [](const std::string& t) { return rv::FormatThousands(t); }},
      {"thousands64", [](const std::string& t) { return rv::FormatThousands(std::stoull(t)); }},
      {"number", [&](const std::string& t) { return yes(rv::IsNumber(t)); }},
      {"pad4", [](const std::string& t) { return rv::PadOrCut(t, 4) + "|"; }},
      {"length", [](const std::string& t) { return std::to_string(rv::Utf8Length(t)); }},
      {"hexbyte", [&](const std::string& t) { return yes(rv::IsHexByte(t)); }},
      {"hexvalue", [](const std::string& t) { return std::to_string(rv::HexByteValue(t)); }},
      {"digit", [](const std::string& t) { return std::to_string(rv::HexDigitValue(t[0])); }},
      {"hex", [](const std::string& t) { return std::to_string(rv::HexToInt(t)); }},
      {"flags", [](const std::string& t) { return rv::HexFlags(uint32_t(std::stoul(t, nullptr, 16))); }},
      {"tokens", [](std::string t) {
         std::string out;
         while (!t.empty()) out += "[" + rv::CutToken(t, ",;") + "]";
         return out;
       }},
  };
  const struct {
    const char *f, *in, *out;
  } cases[] = {
      // clang-format off
      {"thousands", "999", "999"}, {"thousands", "2048000", "2'048'000"}, {"thousands", "-123", "-'123"},
      {"thousands", "", ""}, {"thousands64", "4294967295", "4'294'967'295"},
      {"number", "-7", "yes"}, {"number", "4294967296", "yes"}, {"number", "", "no"}, {"number", "-", "no"},
      {"number", "+5", "no"}, {"number", " 5", "no"}, {"number", "1-", "no"}, {"number", "٣", "no"},
      {"pad4", "ab", "ab  |"}, {"pad4", "abcdef", "abcd|"}, {"pad4", "да", "да  |"}, {"pad4", "ёж и кот", "ёж и|"},
      {"length", "a•b", "3"}, {"hexbyte", "00f", "yes"}, {"hexbyte", " a0 ", "yes"}, {"hexbyte", "F", "no"},
      {"hexbyte", "100", "no"}, {"hexbyte", "0G", "no"}, {"hexbyte", "0x1", "no"},
      {"hexvalue", " a0 ", "160"}, {"hexvalue", "100", "0"}, {"digit", "a", "10"}, {"digit", "F", "15"},
      {"digit", "g", "0"}, {"hex", "ffffffff", "4294967295"}, {"hex", "1G", "16"}, {"hex", "", "0"},
      {"flags", "910", "00000910(h)"}, {"tokens", ",x", "[][x]"}, {"tokens", "a,;b", "[a][][b]"},
      // clang-format on
  };
  for (const auto& c : cases) EXPECT_EQ(fn.at(c.f)(c.in), c.out) << c.f << "(" << c.in << ")";
  EXPECT_TRUE(rv::CharIn(',', "a,b") && !rv::CharIn('a', ""));
  EXPECT_EQ(rv::BytesToHex({0x0A, 0xFF, 0x01, 0x5c}, 1, 3), "FF,01,5C");
}

std::string FileText(const std::string& path) {
  const Bytes b = rvt::ReadFile(path);
  return std::string(b.begin(), b.end());
}

TEST(TextFiles, LinesAreJoinedByCrLfAndGridCellsCutToTheirColumns) {
  rvt::TempDir dir("textfiles");
  const std::string path = dir.File("list.txt");
  for (const char* line : {"first", "второй", "", "last"}) rv::AppendTextLine(line, path);
  EXPECT_EQ(FileText(path), "first\r\nвторой\r\n\r\nlast");
  const std::string blocker = dir.Write("plain", rvt::Text("x"));
  rv::AppendTextLine("lost", blocker + "/list.txt");  // nowhere to write: nothing happens

  const rv::GridRow header{"N", "тип", "ок", "позиция", "размер", "до", "после", "повтор", "x"};
  const rv::GridRow row{"123456", "2", "3", "4", "12345678901", "6", "7", "8", "9"};
  const std::string headerLine = "N     | тип   | ок    | позиция    | размер     | до         | "
                                 "после      | повтор     | x         ";
  const std::string rowLine = "12345 | 2     | 3     | 4          | 1234567890 | 6          | "
                              "7          | 8          | 9         ";
  EXPECT_EQ(rv::GridTextLine(row, false).substr(0, 6), "123456") << "uncut cells stay whole";
  const std::string gap = dir.File("gap.txt");
  rv::WriteGridText({header, row}, gap, 'y');
  EXPECT_EQ(FileText(gap), headerLine + "\r\n\r\n" + rowLine);
  const std::string old = dir.Write("old.txt", rvt::Text("old"));
  rv::WriteGridText({header, row}, old, 'n');
  EXPECT_EQ(FileText(old), "old\r\n" + headerLine + "\r\n" + rowLine);
}

}  // namespace
