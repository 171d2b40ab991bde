// The decompressor layer over streams encoded here with libavcodec: the list of decoders, the
// opening for the keyframe search with its fallbacks and failure texts, the decoding sequence
// (pictures tagged with their chunks, also behind B-frames; a keyframe alone gives the picture
// of the sequence, a predicted frame alone does not), and the picture as a bottom-up 24-bit DIB.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "decode/decompressor.h"
#include "fixtures/test_encoder.h"
#include "riff/bytes.h"
#include "riff/header.h"

namespace {

using rv::Bytes;

rv::BitmapInfo Format(int w, int h, const char* compression, uint16_t bitCount = 24) {
  rv::BitmapInfo b;
  b.biWidth = w;
  b.biHeight = h;
  b.biPlanes = 1;
  b.biBitCount = bitCount;
  b.biCompression = rv::fcc(compression);
  b.biSizeImage = uint32_t(w * h * 3);
  return b;
}

TEST(DecompressorList, StartsWithAutoAndNamesEachDecoderByItsFourcc) {
  const std::vector<std::string> choices = rv::DecompressorChoices();
  ASSERT_EQ(choices.size(), rv::InstalledDecoders().size() + 1);
  EXPECT_EQ(choices[0], "auto");
  std::string tags;
  for (size_t i = 1; i < choices.size(); ++i) {
    EXPECT_EQ(choices[i].substr(4, 2), " (") << choices[i];
    EXPECT_EQ(choices[i].back(), ')') << choices[i];
    tags += choices[i].substr(0, 4) + " ";
  }
  EXPECT_NE(tags.find("FMP4 "), std::string::npos) << tags;
  EXPECT_NE(tags.find("MJPG "), std::string::npos) << tags;
}

TEST(DecompressorOpen, AutoTakesTheHandlerOrAnyDecoderOfTheFormatANamedOneMustFit) {
  struct Case {
    const char *choice, *handler, *compression, *error, *running;
  } cases[] = {
      {"auto", "XVID", "XVID", "", "XVID"},
      {"auto", "\0\0\0\0", "MJPG", "", "MJPG"},  // no handler: the compression decides
      {"auto", "ZZZZ", "MJPG", "", "MJPG"},
      {"auto", "ZZZZ", "ZZZZ", "ошибка открытия декомпрессора для ZZZZ", ""},
      {"XVID (MPEG-4 part 2)", "DIVX", "XVID", "", "XVID"},
      {"QQQQ (nothing)", "XVID", "XVID", "ошибка открытия декомпрессора для QQQQ", ""},
      {"MJPG (Motion JPEG)", "XVID", "XVID", "декомпрессор MJPG отказался это распаковывать", ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.choice) + " " + c.handler);
    rv::Header().vstrh.DeviceHandler = std::string(c.handler, 4);
    const rv::SearchDecoders d = rv::OpenForSearch(c.choice, Format(64, 48, c.compression), {});
    EXPECT_EQ(d.error, c.error);
    EXPECT_EQ(d.running ? d.running->Handler() : "", c.running);
    EXPECT_EQ(bool(d.probe), *c.running != 0);
    if (*c.running) {
      EXPECT_EQ(d.handlerName == "XVID", std::string(c.running) == "XVID") << d.handlerName;
      EXPECT_NE(d.running.get(), d.probe.get());
    }
  }
  rv::Header().ResetRecords();
}

TEST(DecompressorSequence, PicturesComeBackTaggedWithTheirChunkAndOnlyKeyframesDecodeAlone) {
  const int w = 96, h = 64;
  // With B-frames the decoder hands pictures back later than their chunks, out of order.
  for (int bframes : {0, 2}) {
    SCOPED_TRACE(bframes);
    const rvt::Encoded enc = rvt::Encode(AV_CODEC_ID_MPEG4, w, h, 12, 6, bframes);
    ASSERT_EQ(enc.packets.size(), 12u);
    const rv::BitmapInfo in = Format(w, h, "FMP4"), out = rv::OutputFormatFor(in);
    auto running = rv::Decompressor::Locate(rv::fcc("FMP4"), in, {});
    auto probe = rv::Decompressor::Locate(rv::fcc("FMP4"), in, {});
    ASSERT_TRUE(running && probe && running->Query());
    ASSERT_EQ(running->Begin(), 0);
    std::vector<Bytes> inSequence(12);
    std::vector<int64_t> order;
    int64_t tag = -1;
    Bytes a, b;
    for (size_t i = 0; i <= 12; ++i) {
      if (i < 12)
        ASSERT_EQ(running->Send(enc.packets[i].data(), enc.packets[i].size(), int64_t(i), false),
                  0);
      else
        running->Drain();
      while (running->Receive(tag, a)) order.push_back(tag), inSequence[size_t(tag)] = a;
    }
    running->End();
    ASSERT_EQ(order.size(), 12u);
    EXPECT_EQ(std::is_sorted(order.begin(), order.end()), bframes == 0);
    std::string alone, keys;  // K: decodes alone to the picture of the sequence
    for (size_t i = 0; i < 12; ++i) {
      EXPECT_EQ(inSequence[i].size(), rv::PictureSize(out));
      ASSERT_EQ(probe->Begin(), 0);
      const bool same = probe->DecodeAlone(enc.packets[i].data(), enc.packets[i].size(), b) == 0 &&
                        b == inSequence[i];
      probe->End();
      alone += same ? 'K' : '-';
      keys += enc.key[i] ? 'K' : '-';
    }
    EXPECT_EQ(alone, keys);
    EXPECT_GE(std::count(keys.begin(), keys.end(), 'K'), 2);
  }
  // A chunk that is no picture gives none.
  auto probe = rv::Decompressor::Locate(rv::fcc("FMP4"), Format(w, h, "FMP4"), {});
  const Bytes noise(300, 0x5A);
  Bytes b;
  ASSERT_EQ(probe->Begin(), 0);
  EXPECT_NE(probe->DecodeAlone(noise.data(), noise.size(), b), 0);
  probe->End();
}

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
    rv::BitmapInfo in = Format(w, h, "MJPG", bits);
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
      unsigned sum = 0;
      for (int x = 0; x < w * 3; ++x) sum += pic[size_t(row) * 272 + size_t(x)];
      return sum / unsigned(w * 3);
    };
    EXPECT_LT(rowMean(0), 40u);
    EXPECT_GT(rowMean(h - 1), 215u);
  }
}

}  // namespace
