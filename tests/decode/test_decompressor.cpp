// The decompressor's picture over a stream encoded here with libavcodec: a bottom-up 24-bit DIB;
// a chunk that is no picture gives none. The choice of decoder is seen by the keyframe search's
// tests and the end-to-end cases.
#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "decode/decompressor.h"
#include "fixtures/test_encoder.h"
#include "riff/bytes.h"
#include "riff/header.h"

namespace {

using rv::Bytes;

// White upper half, black lower half, no colour.
void UpperWhite(AVFrame* f, int) {
  for (int p = 0; p < 3; ++p)
    for (int y = 0; y < (p ? f->height / 2 : f->height); ++y)
      for (int x = 0; x < (p ? f->width / 2 : f->width); ++x)
        f->data[p][y * f->linesize[p] + x] = p ? 128 : (y < f->height / 2 ? 255 : 0);
}

TEST(DecompressorPicture, IsABottomUpTwentyFourBitDibWhateverTheDeclaredBitCount) {
  const int w = 90, h = 64;  // rows of 270 bytes padded to 272
  const rvt::Encoded enc = rvt::Encode(AV_CODEC_ID_MJPEG, w, h, 1, 1, 0, UpperWhite);
  ASSERT_EQ(enc.packets.size(), 1u);
  for (uint16_t bits : {uint16_t(24), uint16_t(12), uint16_t(0)}) {
    SCOPED_TRACE(bits);
    rv::BitmapInfo in;
    in.biWidth = w, in.biHeight = h, in.biPlanes = 1, in.biBitCount = bits;
    in.biCompression = rv::fcc("MJPG");
    in.biSizeImage = 100;  // what a strf may declare for another bit count
    const rv::BitmapInfo out = rv::OutputFormatFor(in);
    EXPECT_EQ(out.biCompression, 0u);
    EXPECT_EQ(rv::PictureStride(out), 272u);
    auto d = rv::Decompressor::Locate(rv::fcc("MJPG"), in, {});
    ASSERT_TRUE(d);
    ASSERT_EQ(d->Begin(), 0);
    Bytes pic;
    ASSERT_EQ(d->DecodeAlone(enc.packets[0].data(), enc.packets[0].size(), pic), 0);
    d->End();
    ASSERT_EQ(pic.size(), 272u * 64u);
    // The first stored row is the bottom of the picture (black), the last the top (white).
    auto rowMean = [&](int row) {
      return std::accumulate(pic.begin() + row * 272, pic.begin() + row * 272 + w * 3, 0u) /
             (w * 3);
    };
    EXPECT_LT(rowMean(0), 40u);
    EXPECT_GT(rowMean(h - 1), 215u);
    // A chunk that is no picture gives none.
    const Bytes noise(300, 0x5A);
    ASSERT_EQ(d->Begin(), 0);
    EXPECT_NE(d->DecodeAlone(noise.data(), noise.size(), pic), 0);
    d->End();
  }
}

}  // namespace
