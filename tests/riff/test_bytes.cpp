// Bounded byte reads and the chunk-ID tests; writes and FOURCC conversions show in every
// layout dump of a written file.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <sstream>
#include <string>

#include "riff/bytes.h"

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
    EXPECT_EQ(d + w, 0xDEADBEEFu + 0xBEEF) << "a failed read leaves the value, at " << pos;
  }
  EXPECT_EQ(rv::GetChars({'a', 'b', 0, 'c'}, 1, 10), std::string("b\0c", 3));
  EXPECT_EQ(rv::GetChars({'a'}, top - 1, 4), "");
}

TEST(ChunkIds, KnownTypedAndSameType) {
  std::string got;
  for (const char* id : {"RIFF", "LIST", "JUNK", "avih", "strh", "strf", "strn", "strd", "indx",
                         "idx1", "riff", "AVIH", "00dc", "movi", "LIS", "LISTX", "", "ix00"})
    got += std::string(id) + (rv::IsChunkID(id) ? "+" : "") + (rv::IsTypedChunkID(id) ? "T " : " ");
  EXPECT_EQ(got,
            "RIFF+T LIST+T JUNK+ avih+ strh+T strf+ strn+ strd+ indx+ idx1+ riff AVIH 00dc "
            "movi LIS LISTX  ix00 ");
  // The first ID needs two digits; the second needs only characters 3-4.
  std::string same;
  std::istringstream pairs("00dc 01dc 99db xxdb ab12 ab12 0adc 00dc 00dc 00wb 00dcx 00dc 00dc dc");
  for (std::string a, b; pairs >> a >> b;) same += rv::SameChunkType(a, b) ? 'y' : '-';
  EXPECT_EQ(same, "yy-----");
}

}  // namespace
