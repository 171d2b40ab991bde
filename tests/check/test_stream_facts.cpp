// What a picture's own bytes say about being intra-coded, per codec.
#include <gtest/gtest.h>

#include <vector>

#include "check/stream_facts.h"
#include "riff/bytes.h"

namespace {

using rv::IntraRule;

TEST(StreamFacts, CodecRulesFromTheFormat) {
  EXPECT_EQ(rv::IntraRuleOf(rv::fcc("XVID"), ""), IntraRule::Mpeg4Visual);
  EXPECT_EQ(rv::IntraRuleOf(rv::fcc("divx"), ""), IntraRule::Mpeg4Visual);
  EXPECT_EQ(rv::IntraRuleOf(rv::fcc("H264"), ""), IntraRule::H264);
  EXPECT_EQ(rv::IntraRuleOf(rv::fcc("MJPG"), ""), IntraRule::AllIntra);
  EXPECT_EQ(rv::IntraRuleOf(0, "xxxx"), IntraRule::AllIntra) << "uncompressed RGB";
  EXPECT_EQ(rv::IntraRuleOf(1, "XVID"), IntraRule::Unknown) << "RLE may hold deltas";
  EXPECT_EQ(rv::IntraRuleOf(rv::fcc("ABCD"), "XVID"), IntraRule::Mpeg4Visual) << "the handler";
  EXPECT_EQ(rv::IntraRuleOf(rv::fcc("ABCD"), "ABCD"), IntraRule::Unknown);
}

TEST(StreamFacts, PicturesSayWhetherTheyAreIntra) {
  struct Case {
    IntraRule rule;
    std::vector<uint8_t> bytes;
    int expected;
  };
  const Case cases[] = {
      // MPEG-4: a VOL header, then an I-VOP; a P-VOP; a B-VOP; no start code at all; empty.
      {IntraRule::Mpeg4Visual, {0, 0, 1, 0x20, 9, 9, 0, 0, 1, 0xB6, 0x10, 1, 7, 7, 7, 7, 7, 7}, 1},
      // A placeholder that packed B-frames leave: an I-VOP header with nothing coded.
      {IntraRule::Mpeg4Visual, {0, 0, 1, 0xB6, 0x12, 0xCF}, 0},
      {IntraRule::Mpeg4Visual, {0, 0, 1, 0xB6, 0x50, 1}, 0},
      {IntraRule::Mpeg4Visual, {0, 0, 1, 0xB6, 0x90, 1}, 0},
      {IntraRule::Mpeg4Visual, {1, 2, 3, 4, 5, 6}, -1},
      {IntraRule::Mpeg4Visual, {}, 0},
      // H.264 Annex B: SPS, PPS, IDR slice; a non-IDR slice; a recovery point SEI.
      {IntraRule::H264, {0, 0, 0, 1, 0x67, 1, 0, 0, 1, 0x68, 1, 0, 0, 1, 0x65, 0x88}, 1},
      {IntraRule::H264, {0, 0, 0, 1, 0x09, 0x10, 0, 0, 1, 0x41, 0x9A}, 0},
      {IntraRule::H264, {0, 0, 1, 0x06, 0x06, 1, 0x80, 0, 0, 1, 0x41}, 1},
      {IntraRule::AllIntra, {1}, 1},
      {IntraRule::Unknown, {0, 0, 1, 0xB6, 0}, -1},
  };
  for (size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(rv::PictureIsIntra(cases[i].rule, cases[i].bytes.data(), cases[i].bytes.size()),
              cases[i].expected)
        << "case " << i;
}

}  // namespace
