// The text helpers that numbers, grid cells and typed hex bytes go through, and the grid's
// text file.
#include "base/text.h"

#include <gtest/gtest.h>

#include "base/text_files.h"
#include "fixtures/avi_builder.h"

namespace {

TEST(TextHelpers, ThousandsMarksUtf8WidthsAndHostileHexText) {
  using rv::FormatThousands;
  EXPECT_EQ(FormatThousands("999") + " " + FormatThousands("2048000") + " " +
                FormatThousands(uint64_t{4294967295}) + " " + FormatThousands("-123"),
            "999 2'048'000 4'294'967'295 -'123");
  std::string numbers;
  for (const char* t : {"-7", "4294967296", "", "-", "+5", " 5", "1-", "٣"})
    numbers += rv::IsNumber(t) ? 'y' : '-';
  EXPECT_EQ(numbers, "yy------");
  EXPECT_EQ(rv::PadOrCut("да", 4) + "|" + rv::PadOrCut("ёж и кот", 4) + "|", "да  |ёж и|");
  EXPECT_EQ(rv::Utf8Length("a•b"), 3u);
  // Typed bytes: blanks and leading zeros go, then exactly two hex digits.
  std::string bytes;
  for (const char* t : {"00f", " a0 ", "F", "100", "0G", "0x1"})
    bytes += rv::IsHexByte(t) ? std::to_string(rv::HexByteValue(t)) + " " : "- ";
  EXPECT_EQ(bytes, "15 160 - - - - ");
  EXPECT_EQ(rv::HexToInt("ffffffff"), 0xFFFFFFFFu);
  EXPECT_EQ(rv::HexToInt("1G") + rv::HexToInt("") + rv::HexDigitValue('g'), 16u);
  EXPECT_EQ(rv::HexFlags(0x910), "00000910(h)");
  std::string text = "a,;b", tokens;
  while (!text.empty()) tokens += "[" + rv::CutToken(text, ",;") + "]";
  EXPECT_EQ(tokens, "[a][][b]");
}

TEST(TextFiles, LinesAreJoinedByCrLfAndGridCellsCutToTheirColumns) {
  rvt::TempDir dir("textfiles");
  const std::string path = dir.File("list.txt");
  for (const char* line : {"first", "второй", "", "last"}) rv::AppendTextLine(line, path);
  EXPECT_EQ(rvt::ReadFile(path), rvt::Text("first\r\nвторой\r\n\r\nlast"));
  rv::AppendTextLine("lost", dir.Write("plain", rvt::Text("x")) + "/list.txt");  // no crash
  const rv::GridRow row{"123456", "тип", "3", "4", "12345678901", "6", "7", "8", "9"};
  const std::string line =
      "12345 | тип   | 3     | 4          | 1234567890 | 6          | 7          | 8          "
      "| 9         ";
  EXPECT_EQ(rv::GridTextLine(row, false).substr(0, 6), "123456") << "uncut cells stay whole";
  const std::string old = dir.Write("old.txt", rvt::Text("old"));
  rv::WriteGridText({row, row}, old,
                    'n');  // appended; the command line sees the gap after the header
  EXPECT_EQ(rvt::ReadFile(old), rvt::Text("old\r\n" + line + "\r\n" + line));
}

}  // namespace
