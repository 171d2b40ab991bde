// The text of the hexadecimal dump: line layout, padding of the last line, the character
// column, the addresses and the gap of a long block.
#include "riff/hexdump.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rv {
namespace {

Bytes Sequence(size_t count, uint8_t first = 0x41) {
  Bytes b(count);
  for (size_t i = 0; i < count; ++i) b[i] = uint8_t(first + i);
  return b;
}

std::string Dump(const Bytes& b, uint32_t count, uint32_t base, int n) {
  std::string out;
  for (const std::string& l : MakeDumpLines(b, count, base, n)) out += l + "\n";
  return out;
}

TEST(HexDump, LinesOfEachWidthWithTheCharacterColumnAligned) {
  // Only the first count bytes; a count past the buffer; addresses past 4 GiB; Windows-1251.
  EXPECT_EQ(Dump(Sequence(40), 21, 0xFFFFFFF8, 16) + Dump(Sequence(24, 0x61), 1000, 0x10, 24) +
                Dump(Bytes{0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2, 0, 9}, 8, 0, 16) +
                Dump(Sequence(40), 0, 0, 16),
            "00FFFFFFF8 41 42 43 44 | 45 46 47 48 | 49 4A 4B 4C | 4D 4E 4F 50 | ABCDEFGHIJKLMNOP\n"
            "0100000008 51 52 53 54 | 55" +
                std::string(40, ' ') +
                "QRSTU\n"
                "00000010 61 62 63 64 | 65 66 67 68 | 69 6A 6B 6C | 6D 6E 6F 70 | 71 72 73 74 | "
                "75 76 77 78 | abcdefghijklmnopqrstuvwx\n"
                "00000000 CF F0 E8 E2 | E5 F2 00 09 | " +
                std::string(28, ' ') + "Привет..\n");
}

TEST(HexDump, ALongBlockIsItsStartAndItsEndWithTheGapSaid) {
  const DumpParts big = DumpPartsOf(0xFFFFFFFF);
  EXPECT_EQ(uint64_t(big.head) + big.skipped + big.tail, 0xFFFFFFFFull);
  // 32 bytes from 0x100, 1000 left out, 16 more: their addresses go on behind the gap.
  const auto lines = MakeDumpLines(Sequence(48, 0), 48, 0x100, 16, 32, 1000);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2], DumpSkippedLine(1000));
  EXPECT_EQ(lines[3].substr(0, 11), "00000508 20");
}

}  // namespace
}  // namespace rv
