// The decompressor layer over streams encoded here with libavcodec: the list of decoders, the
// opening for the keyframe search with its fallbacks and failure texts, the decoding sequence
// (pictures tagged with their chunks, also behind B-frames; a keyframe alone gives the picture
// of the sequence, a predicted frame alone does not), and the picture as a bottom-up 24-bit DIB
// of the declared size.
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "decode/decompressor.h"
#include "riff/bytes.h"
#include "riff/header.h"

namespace {

using rv::Bytes;

struct Encoded {
  std::vector<Bytes> packets;
  std::vector<bool> key;
};

// n frames encoded one packet per frame, in decoding order. paint(frame, i) fills frame i.
template <typename Paint>
Encoded Encode(AVCodecID id, int w, int h, int n, int gop, Paint paint, int bframes = 0) {
  av_log_set_level(AV_LOG_QUIET);
  Encoded out;
  const AVCodec* codec = avcodec_find_encoder(id);
  if (!codec) return out;
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  ctx->width = w;
  ctx->height = h;
  ctx->time_base = {1, 25};
  ctx->framerate = {25, 1};
  ctx->pix_fmt = id == AV_CODEC_ID_MJPEG ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
  ctx->gop_size = gop;
  ctx->max_b_frames = bframes;
  ctx->thread_count = 1;
  ctx->bit_rate = 400000;
  AVFrame* f = av_frame_alloc();
  AVPacket* p = av_packet_alloc();
  if (avcodec_open2(ctx, codec, nullptr) == 0) {
    f->format = ctx->pix_fmt;
    f->width = w;
    f->height = h;
    av_frame_get_buffer(f, 0);
    auto drain = [&] {
      while (avcodec_receive_packet(ctx, p) == 0) {
        out.packets.emplace_back(p->data, p->data + p->size);
        out.key.push_back(p->flags & AV_PKT_FLAG_KEY);
        av_packet_unref(p);
      }
    };
    for (int i = 0; i < n; ++i) {
      av_frame_make_writable(f);
      paint(f, i);
      f->pts = i;
      avcodec_send_frame(ctx, f);
      drain();
    }
    avcodec_send_frame(ctx, nullptr);
    drain();
  }
  av_packet_free(&p);
  av_frame_free(&f);
  avcodec_free_context(&ctx);
  return out;
}

void Moving(AVFrame* f, int i) {
  for (int y = 0; y < f->height; ++y)
    for (int x = 0; x < f->width; ++x) f->data[0][y * f->linesize[0] + x] = uint8_t((x * 3 + y + i * 7) & 0xFF);
  for (int y = 0; y < f->height / 2; ++y)
    for (int x = 0; x < f->width / 2; ++x) {
      f->data[1][y * f->linesize[1] + x] = uint8_t(100 + ((x + i) & 63));
      f->data[2][y * f->linesize[2] + x] = uint8_t(150 - ((y + i) & 63));
    }
}

// White upper half, black lower half, no colour.
void UpperWhite(AVFrame* f, int) {
  for (int y = 0; y < f->height; ++y)
    for (int x = 0; x < f->width; ++x) f->data[0][y * f->linesize[0] + x] = y < f->height / 2 ? 255 : 0;
  for (int p = 1; p <= 2; ++p)
    for (int y = 0; y < f->height / 2; ++y)
      for (int x = 0; x < f->width / 2; ++x) f->data[p][y * f->linesize[p] + x] = 128;
}

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
  ASSERT_GE(choices.size(), 3u);
  EXPECT_EQ(choices[0], "auto");
  bool mpeg4 = false, mjpeg = false;
  for (size_t i = 1; i < choices.size(); ++i) {
    const std::string& c = choices[i];
    ASSERT_GT(c.size(), 7u) << c;
    EXPECT_EQ(c.substr(4, 2), " (") << c;
    EXPECT_EQ(c.back(), ')') << c;
    for (const char* t : {"XVID (", "FMP4 (", "DIVX (", "DX50 (", "MP4V ("})
      if (c.rfind(t, 0) == 0) mpeg4 = true;
    if (c.rfind("MJPG (", 0) == 0) mjpeg = true;
  }
  EXPECT_TRUE(mpeg4);
  EXPECT_TRUE(mjpeg);
  const std::vector<rv::DecoderEntry> installed = rv::InstalledDecoders();
  EXPECT_EQ(installed.size() + 1, choices.size());
  for (const rv::DecoderEntry& d : installed) {
    EXPECT_EQ(d.fourcc.size(), 4u);
    EXPECT_FALSE(d.description.empty()) << d.fourcc;
  }
}

class OpenForSearchTest : public ::testing::Test {
 protected:
  void TearDown() override { rv::Header().ResetRecords(); }
  static rv::SearchDecoders Open(const std::string& choice, const std::string& deviceHandler,
                                 const char* compression) {
    rv::Header().vstrh.DeviceHandler = deviceHandler;
    return rv::OpenForSearch(choice, Format(64, 48, compression), {});
  }
};

TEST_F(OpenForSearchTest, AutoTakesTheStreamHeadersHandlerOrAnyDecoderOfTheFormat) {
  rv::SearchDecoders d = Open("auto", "XVID", "XVID");
  ASSERT_EQ(d.error, "");
  ASSERT_TRUE(d.running && d.probe);
  EXPECT_NE(d.running.get(), d.probe.get());
  EXPECT_EQ(d.running->Handler(), "XVID");
  EXPECT_EQ(d.handlerName, "XVID");

  // A handler of four NUL bytes, or one no decoder knows: the format's compression decides.
  for (const std::string& handler : {std::string(4, '\0'), std::string("ZZZZ")}) {
    d = Open("auto", handler, "MJPG");
    ASSERT_EQ(d.error, "");
    ASSERT_TRUE(d.running && d.probe);
    EXPECT_EQ(d.running->Handler(), "MJPG");
  }
  d = Open("auto", "ZZZZ", "ZZZZ");
  EXPECT_EQ(d.error, "ошибка открытия декомпрессора для ZZZZ");
  EXPECT_FALSE(d.running || d.probe);
}

TEST_F(OpenForSearchTest, ANamedDecoderMustExistAndAcceptTheFormat) {
  rv::SearchDecoders d = Open("XVID (MPEG-4 part 2)", "DIVX", "XVID");
  ASSERT_EQ(d.error, "");
  EXPECT_EQ(d.handlerName, "XVID");
  d = Open("QQQQ (nothing)", "XVID", "XVID");
  EXPECT_EQ(d.error, "ошибка открытия декомпрессора для QQQQ");
  EXPECT_FALSE(d.running || d.probe);
  d = Open("MJPG (Motion JPEG)", "XVID", "XVID");
  EXPECT_EQ(d.error, "декомпрессор MJPG отказался это распаковывать");
  EXPECT_FALSE(d.running || d.probe);
}

TEST(DecompressorSequence, PicturesComeBackTaggedWithTheirChunkAndOnlyKeyframesDecodeAlone) {
  const int w = 96, h = 64;
  // With B-frames the decoder hands pictures back later than their chunks, out of order.
  for (int bframes : {0, 2}) {
    SCOPED_TRACE(bframes);
    const Encoded enc = Encode(AV_CODEC_ID_MPEG4, w, h, 12, 6, Moving, bframes);
    ASSERT_EQ(enc.packets.size(), 12u);
    const rv::BitmapInfo in = Format(w, h, "FMP4");
    const rv::BitmapInfo out = rv::OutputFormatFor(in);
    EXPECT_EQ(out.biCompression, 0u);
    EXPECT_EQ(out.biWidth, w);
    auto running = rv::Decompressor::Locate(rv::fcc("FMP4"), in, {});
    auto probe = rv::Decompressor::Locate(rv::fcc("FMP4"), in, {});
    ASSERT_TRUE(running && probe);
    ASSERT_TRUE(running->Query());
    ASSERT_EQ(running->Begin(), 0);
    std::vector<Bytes> inSequence(enc.packets.size());
    std::vector<int64_t> order;
    int64_t tag = -1;
    Bytes a, b;
    for (size_t i = 0; i < enc.packets.size(); ++i) {
      ASSERT_EQ(running->Send(enc.packets[i].data(), enc.packets[i].size(), int64_t(i), false), 0);
      while (running->Receive(tag, a)) order.push_back(tag), inSequence[size_t(tag)] = a;
    }
    running->Drain();
    while (running->Receive(tag, a)) order.push_back(tag), inSequence[size_t(tag)] = a;
    running->End();
    ASSERT_EQ(order.size(), enc.packets.size());
    EXPECT_EQ(std::is_sorted(order.begin(), order.end()), bframes == 0);
    size_t keys = 0;
    for (size_t i = 0; i < enc.packets.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(inSequence[i].size(), rv::PictureSize(out));
      ASSERT_EQ(probe->Begin(), 0);
      const bool same = probe->DecodeAlone(enc.packets[i].data(), enc.packets[i].size(), b) == 0 &&
                        b == inSequence[i];
      probe->End();
      EXPECT_EQ(same, bool(enc.key[i]));
      keys += enc.key[i];
    }
    EXPECT_GE(keys, 2u);
  }
  // A chunk that is no picture gives none.
  auto probe = rv::Decompressor::Locate(rv::fcc("FMP4"), Format(w, h, "FMP4"), {});
  const Bytes noise(300, 0x5A);
  Bytes b;
  ASSERT_EQ(probe->Begin(), 0);
  EXPECT_NE(probe->DecodeAlone(noise.data(), noise.size(), b), 0);
  probe->End();
}

TEST(DecompressorPicture, IsABottomUpTwentyFourBitDibWhateverTheDeclaredBitCount) {
  // 90 pixels: rows of 270 bytes padded to 272.
  const int w = 90, h = 64;
  const Encoded enc = Encode(AV_CODEC_ID_MJPEG, w, h, 1, 1, UpperWhite);
  ASSERT_EQ(enc.packets.size(), 1u);
  for (uint16_t bits : {uint16_t(24), uint16_t(12), uint16_t(0)}) {
    SCOPED_TRACE(bits);
    rv::BitmapInfo in = Format(w, h, "MJPG", bits);
    in.biSizeImage = 100;  // what a strf may declare for another bit count
    const rv::BitmapInfo out = rv::OutputFormatFor(in);
    EXPECT_EQ(rv::PictureStride(out), 272u);
    EXPECT_EQ(rv::PictureSize(out), 272u * 64u);
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
    EXPECT_LT(rowMean(20), 40u);
    EXPECT_GT(rowMean(h - 1), 215u);
    EXPECT_GT(rowMean(h - 20), 215u);
  }
}

}  // namespace
