// Byte accessors, FOURCC conversions and the chunk-ID tests.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
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

TEST(ByteAccess, WritesAreLittleEndianAndSized) {
  Bytes buf(8, 0xAA);
  rv::PutDWord(0x11223344u, buf, 2);
  EXPECT_EQ(buf, (Bytes{0xAA, 0xAA, 0x44, 0x33, 0x22, 0x11, 0xAA, 0xAA}));
  EXPECT_EQ(rv::LoadLE16(buf.data() + 3), 0x2233);
  uint8_t dest[6] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  rv::PutString("ab", dest, 4);
  EXPECT_EQ(Bytes(dest, dest + 6), (Bytes{'a', 'b', 0, 0, 0xEE, 0xEE}));
  rv::PutString("wxyz12", dest, 4);
  rv::CopyBytes(buf.data(), dest, 2, 2, 1);
  EXPECT_EQ(Bytes(dest, dest + 6), (Bytes{'w', 0x44, 0x33, 'z', 0xEE, 0xEE}));
  for (uint32_t v : {0u, 0x80u, 0x7F00FF01u, 0xFFFFFFFFu}) EXPECT_EQ(rv::fcc(rv::cff(v)), v) << v;
  EXPECT_EQ(rv::cff(0x20495641u), "AVI ");
  EXPECT_EQ(rv::fcc("00dcXYZ"), rv::fcc("00dc")) << "only the first four characters count";
  EXPECT_EQ(rv::fcc("abc"), 0u);
}

TEST(ChunkIds, KnownTypedAndSameType) {
  std::string got;
  for (const char* id : {"RIFF", "LIST", "JUNK", "avih", "strh", "strf", "strn", "strd", "indx",
                         "idx1", "riff", "AVIH", "00dc", "movi", "LIS", "LISTX", "", "ix00"})
    got += std::string(id) + (rv::IsChunkID(id) ? "+" : "") + (rv::IsTypedChunkID(id) ? "T " : " ");
  EXPECT_EQ(got,
            "RIFF+T LIST+T JUNK+ avih+ strh+T strf+ strn+ strd+ indx+ idx1+ riff AVIH 00dc "
            "movi LIS LISTX  ix00 ");
  EXPECT_FALSE(rv::IsChunkID(std::string("LIST\0", 5)));
  // The first ID needs two digits; the second needs only characters 3-4.
  std::string same;
  for (auto [a, b] : {std::pair{"00dc", "01dc"},
                      {"99db", "xxdb"},
                      {"ab12", "ab12"},
                      {"0adc", "00dc"},
                      {"00dc", "00wb"},
                      {"00dcx", "00dc"},
                      {"00dc", "dc"}})
    same += rv::SameChunkType(a, b) ? 'y' : '-';
  EXPECT_EQ(same, "yy-----");
}

}  // namespace
