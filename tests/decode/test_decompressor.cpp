// The decompressor layer over streams encoded here with libavcodec: the list of decoders, the
// opening for the keyframe search with its fallbacks and failure texts, the begin / decompress
// / end sequence (a keyframe alone gives the picture of the sequence, a predicted frame alone
// does not), and the picture as a bottom-up 24-bit DIB of the declared size.
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

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

// n frames encoded one packet per frame (no B-frames). paint(frame, i) fills frame i.
template <typename Paint>
Encoded Encode(AVCodecID id, int w, int h, int n, int gop, Paint paint) {
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
  ctx->max_b_frames = 0;
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

TEST(DecompressorSequence, AKeyframeAloneGivesThePictureOfTheSequenceAndAPredictedFrameDoesNot) {
  const int w = 96, h = 64;
  const Encoded enc = Encode(AV_CODEC_ID_MPEG4, w, h, 8, 4, Moving);
  ASSERT_EQ(enc.packets.size(), 8u);
  const rv::BitmapInfo in = Format(w, h, "FMP4");
  const rv::BitmapInfo out = rv::OutputFormatFor(in);
  EXPECT_EQ(out.biCompression, 0u);
  EXPECT_EQ(out.biWidth, w);
  auto running = rv::Decompressor::Locate(rv::fcc("FMP4"), in, {});
  auto probe = rv::Decompressor::Locate(rv::fcc("FMP4"), in, {});
  ASSERT_TRUE(running && probe);
  ASSERT_TRUE(running->Query());
  ASSERT_EQ(running->Begin(), 0);
  Bytes a, b;
  for (size_t i = 0; i < enc.packets.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(running->Decompress(rv::kNotKeyframe, enc.packets[i].data(), enc.packets[i].size(), a), 0);
    EXPECT_EQ(a.size(), rv::PictureSize(out));
    int r2 = probe->Begin();
    if (r2 == 0) {
      r2 = probe->Decompress(0, enc.packets[i].data(), enc.packets[i].size(), b);
      probe->End();
    }
    const bool same = r2 == 0 && a == b;
    EXPECT_EQ(same, bool(enc.key[i]));
  }
  running->End();
  // A handle runs a second sequence after the first; a chunk that is no picture fails.
  ASSERT_EQ(running->Begin(), 0);
  EXPECT_EQ(running->Decompress(rv::kNotKeyframe, enc.packets[0].data(), enc.packets[0].size(), a), 0);
  const Bytes noise(300, 0x5A);
  ASSERT_EQ(probe->Begin(), 0);
  EXPECT_NE(probe->Decompress(0, noise.data(), noise.size(), b), 0);
  probe->End();
  running->End();
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
    ASSERT_EQ(d->Decompress(0, enc.packets[0].data(), enc.packets[0].size(), pic), 0);
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
