// The keyframe search on AVI files built in code from streams encoded here with libavcodec:
// the flag reset, the flags the search sets (MPEG-4 with a known GOP, with and without B-frames,
// intra-only MJPEG), what it leaves alone, its texts, progress and pictures, a stop, unreadable
// chunks; loading the file's own index; the size of the picture area.
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "check/index.h"
#include "check/file_state.h"
#include "base/host.h"
#include "base/messages.h"
#include "base/options.h"
#include "base/questions.h"
#include "app/task_table.h"
#include "base/tasks.h"
#include "decode/keyframes.h"
#include "fixtures/avi_builder.h"
#include "riff/blocks.h"
#include "riff/bytes.h"
#include "riff/header.h"
#include "riff/source.h"

namespace {

using rvt::Bytes;

// ---- streams encoded in the test -------------------------------------------------------------

struct Encoded {
  std::vector<Bytes> packets;
  std::vector<bool> key;
};

// n frames of a moving picture, encoded one packet per frame, in decoding order.
Encoded Encode(AVCodecID id, int w, int h, int n, int gop, int bframes = 0) {
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
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) f->data[0][y * f->linesize[0] + x] = uint8_t((x * 2 + y + i * 5) & 0xFF);
      for (int y = 0; y < h / 2; ++y)
        for (int x = 0; x < w / 2; ++x) {
          f->data[1][y * f->linesize[1] + x] = uint8_t(128 + ((x + i) & 31));
          f->data[2][y * f->linesize[2] + x] = uint8_t(128 - ((y + i) & 31));
        }
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

// An AVI of the packets as "00dc" chunks, each followed by a "01wb" chunk when withAudio; the
// index in the order of the stream, every video flag set to videoFlags, audio flags 0x10.
struct CodedAvi {
  Bytes bytes;
  std::vector<rv::IndexEntry> index;
};
CodedAvi MakeCodedAvi(const Encoded& e, const std::string& handler, const std::string& compression,
                      int w, int h, bool withAudio, uint32_t videoFlags, uint16_t bitCount = 24) {
  rvt::AvihFields ah;
  ah.width = uint32_t(w);
  ah.height = uint32_t(h);
  ah.totalFrames = uint32_t(e.packets.size());
  const Bytes hdrl =
      rvt::Build(rvt::List("hdrl", {rvt::Chunk("avih", rvt::AvihPayload(ah)),
                                    rvt::List("strl", {rvt::Chunk("strh", rvt::StrhPayload("vids", handler, {})),
                                                       rvt::Chunk("strf", rvt::VideoStrf(uint32_t(w), uint32_t(h),
                                                                                         compression, bitCount))})}))
          .bytes;
  CodedAvi a;
  Bytes movi = rvt::Text("movi");
  auto add = [&](const std::string& id, const Bytes& payload, uint32_t flags) {
    a.index.push_back({rv::fcc(id), flags, uint32_t(movi.size()), uint32_t(payload.size())});
    rvt::AppendBytes(movi, rvt::Text(id));
    rvt::AppendLE32(movi, uint32_t(payload.size()));
    rvt::AppendBytes(movi, payload);
    if (payload.size() % 2) movi.push_back(0);
  };
  for (size_t i = 0; i < e.packets.size(); ++i) {
    add("00dc", e.packets[i], videoFlags);
    if (withAudio) add("01wb", rvt::Pattern(100, uint32_t(i)), 0x10);
  }
  Bytes& b = a.bytes;
  b = rvt::Text("RIFF");
  rvt::AppendLE32(b, 0);
  rvt::AppendBytes(b, rvt::Text("AVI "));
  rvt::AppendBytes(b, hdrl);
  rvt::AppendBytes(b, rvt::Text("LIST"));
  rvt::AppendLE32(b, uint32_t(movi.size()));
  rvt::AppendBytes(b, movi);
  rvt::AppendBytes(b, rvt::Text("idx1"));
  rvt::AppendLE32(b, uint32_t(16 * a.index.size()));
  for (const rv::IndexEntry& x : a.index) rv::AppendEntryBytes(x, b);
  rvt::OverwriteLE32(b, 4, uint32_t(b.size() - 8));
  return a;
}

// ---- the task --------------------------------------------------------------------------------

class KkHost : public rv::Host {
 public:
  bool Ask(const rv::Question&) override { return false; }
  void ShowProgress(const rv::Progress& p) override {
    if (p.target != rv::ProgressTarget::kKeyframes) return;
    progress.push_back({std::stoll(p.text), p.found});
    if (stopAt > 0 && int64_t(progress.size()) >= stopAt) rv::RequestStop();
  }
  std::vector<std::pair<int64_t, int64_t>> progress;
  int64_t stopAt = 0;
};

constexpr int kW = 176, kH = 144;

class KeyframeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rv::InstallTaskRoutines();
    rv::ResetFileState();
    rv::Opt().Reset();
    rv::ClearScriptedAnswers();
    rv::ClearMessages();
    rv::ClearStop();
    rv::SetCacheSize(rv::kDefaultCacheSize);
    rv::SetHost(&host_);
    rv::KeyframeState& k = rv::Keyframes();
    k.SetChoice("auto");
    k.showKeyframes = true;
    k.showAll = true;
  }
  void TearDown() override {
    rv::SetHost(nullptr);
    rv::ClearStop();
    rv::Keyframes().SetChoice("auto");
    rv::SetCacheSize(rv::kDefaultCacheSize);
    rv::ResetFileState();
  }
  // Opens the file as the open button does and puts the index into memory.
  void Open(const Bytes& bytes, const std::vector<rv::IndexEntry>& index) {
    path_ = dir_.Write("in.avi", bytes);
    rv::ResetFileState();
    rv::InputFileName() = path_;
    ASSERT_TRUE(rv::OpenAndReadHeader(path_).opened);
    rv::Index().entries = index;
    rv::Index().count = index.size();
  }
  // Runs the search; returns the result text.
  std::string Search() {
    host_.progress.clear();
    const rv::Completion c = rv::Execute("findKK");
    EXPECT_EQ(c.code, 103);
    return rv::Keyframes().Text("LabelIO");
  }
  static std::vector<uint32_t> Flags() {
    std::vector<uint32_t> f;
    for (const rv::IndexEntry& e : rv::Index().entries) f.push_back(e.dwFlags);
    return f;
  }

  rvt::TempDir dir_{"kk"};
  std::string path_;
  KkHost host_;
};

TEST(KeyframeFlags, ResetMarksTheFirstVideoEntryAndClearsTheOtherVideoEntries) {
  rv::ClearIndex();
  auto& e = rv::Index().entries;
  const char* ids[] = {"01wb", "00dc", "00dc", "00db", "01wb", "02dc", "00db"};
  const uint32_t flags[] = {0x10, 0x100, 0x110, 0x10, 0x10, 0x10, 0x1};
  for (size_t i = 0; i < 7; ++i) e.push_back({rv::fcc(ids[i]), flags[i], uint32_t(4 + 16 * i), 8});
  rv::ResetKeyframeFlags();
  const uint32_t want[] = {0x10, 0x110, 0x100, 0x0, 0x10, 0x10, 0x1};
  for (size_t i = 0; i < 7; ++i) EXPECT_EQ(e[i].dwFlags, want[i]) << i << " " << ids[i];
  rv::ClearIndex();
}

TEST_F(KeyframeTest, MpegFourKeyframesAreFoundAlsoBehindBFrames) {
  // With B-frames the running decoder hands each picture back chunks later than its own.
  const struct {
    const char* tag;
    int bframes;
  } kCases[] = {{"XVID", 0}, {"FMP4", 0}, {"XVID", 2}};
  for (const auto& c : kCases) {
    const char* tag = c.tag;
    SCOPED_TRACE(std::string(tag) + " B-frames " + std::to_string(c.bframes));
    const Encoded enc = Encode(AV_CODEC_ID_MPEG4, kW, kH, 12, 5, c.bframes);
    ASSERT_EQ(enc.packets.size(), 12u);
    // Every video flag set (and another bit): the search must clear the wrong ones.
    const CodedAvi a = MakeCodedAvi(enc, tag, tag, kW, kH, true, 0x110);
    Open(a.bytes, a.index);
    EXPECT_EQ(Search(), "поиск завершен");
    const std::vector<uint32_t> got = Flags();
    size_t keys = 0;
    for (size_t i = 0; i < enc.packets.size(); ++i) {
      EXPECT_EQ(got[2 * i], enc.key[i] ? 0x110u : 0x100u) << "video " << i;
      EXPECT_EQ(got[2 * i + 1], 0x10u) << "audio " << i;
      keys += enc.key[i];
    }
    EXPECT_GE(keys, 3u);
    EXPECT_EQ(rv::Keyframes().keyframes.load(), keys);
    EXPECT_EQ(rv::Keyframes().Text("LabelKK"), std::string("в заголовке указан кодек: ") + tag);
    EXPECT_EQ(rv::Keyframes().Text("LabelPR"), std::string("в заголовке указано сжатие: ") + tag);
    EXPECT_EQ(rv::Keyframes().Text("LabelKA").rfind("в работе кодек: ", 0), 0u);
    EXPECT_GT(rv::Keyframes().Text("LabelKA").size(), std::string("в работе кодек: ").size());
    EXPECT_EQ(rv::Keyframes().Text("LabelKKP"), "");
    EXPECT_FALSE(rv::Keyframes().gaugeVisible.load());
    EXPECT_EQ(rv::Keyframes().areaWidth.load(), kW);
    EXPECT_EQ(rv::Keyframes().areaHeight.load(), kH);
    // One progress message per entry, with the entries done and the keyframes so far.
    ASSERT_EQ(host_.progress.size(), a.index.size());
    for (size_t i = 0; i < host_.progress.size(); ++i) EXPECT_EQ(host_.progress[i].first, int64_t(i + 1));
    EXPECT_EQ(host_.progress.back().second, int64_t(keys));
  }
}

TEST_F(KeyframeTest, EveryFrameOfAnIntraOnlyStreamIsMarked) {
  const Encoded enc = Encode(AV_CODEC_ID_MJPEG, kW, kH, 6, 1);
  ASSERT_EQ(enc.packets.size(), 6u);
  // The declared bit count does not limit the picture: it is always decoded as 24-bit.
  for (uint16_t bits : {uint16_t(24), uint16_t(16), uint16_t(8)}) {
    SCOPED_TRACE(bits);
    const CodedAvi a = MakeCodedAvi(enc, "MJPG", "MJPG", kW, kH, false, 0, bits);
    Open(a.bytes, a.index);
    EXPECT_EQ(Search(), "поиск завершен");
    for (uint32_t f : Flags()) EXPECT_EQ(f, 0x10u);
    EXPECT_EQ(rv::Keyframes().keyframes.load(), 6u);
  }
}

TEST_F(KeyframeTest, PicturesAreShownByTheTwoCheckBoxes) {
  const Encoded enc = Encode(AV_CODEC_ID_MPEG4, kW, kH, 10, 5);
  const CodedAvi a = MakeCodedAvi(enc, "FMP4", "FMP4", kW, kH, false, 0);
  rv::KeyframeState& k = rv::Keyframes();
  const uint64_t keys = uint64_t(std::count(enc.key.begin(), enc.key.end(), true));
  ASSERT_EQ(keys, 2u);
  struct Case {
    bool kk, sh;
    uint64_t pictures;
  } cases[] = {{true, true, 10}, {true, false, keys}, {false, true, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.kk) + std::to_string(c.sh));
    Open(a.bytes, a.index);
    k.showKeyframes = c.kk;
    k.showAll = c.sh;
    const uint64_t before = k.pictureGeneration.load();
    EXPECT_EQ(Search(), "поиск завершен");
    EXPECT_EQ(k.pictureGeneration.load() - before, c.pictures);
  }
  rv::BitmapInfo format;
  Bytes picture;
  ASSERT_TRUE(k.Picture(format, picture));
  EXPECT_EQ(format.biWidth, kW);
  EXPECT_EQ(format.biHeight, kH);
  EXPECT_EQ(format.biCompression, 0u);
  EXPECT_EQ(picture.size(), size_t(kW * 3) * kH);
}

TEST_F(KeyframeTest, AnEmptyIndexFinishesWithoutProgress) {
  const rvt::StandardAvi sa = rvt::MakeStandardAvi();
  Open(sa.bytes, {});
  EXPECT_EQ(Search(), "поиск завершен");
  EXPECT_TRUE(host_.progress.empty());
  EXPECT_EQ(rv::Keyframes().keyframes.load(), 0u);
  EXPECT_TRUE(rv::Index().entries.empty());
}

TEST_F(KeyframeTest, AnIndexWithoutVideoEntriesKeepsEveryFlag) {
  const rvt::StandardAvi sa = rvt::MakeStandardAvi();
  std::vector<rv::IndexEntry> index;
  const char* ids[] = {"01wb", "01wb", "02dc", "00wb", "01dc"};
  const uint32_t flags[] = {0x10, 0, 0x10, 0x1, 0};
  for (size_t i = 0; i < 5; ++i)
    index.push_back({rv::fcc(ids[i]), flags[i], sa.index[i].offset, sa.index[i].length});
  Open(sa.bytes, index);
  EXPECT_EQ(Search(), "поиск завершен");
  EXPECT_EQ(Flags(), (std::vector<uint32_t>{0x10, 0, 0x10, 0x1, 0}));
  EXPECT_EQ(rv::Keyframes().keyframes.load(), 0u);
}

TEST_F(KeyframeTest, AStopEndsWithItsTextAndLeavesLaterFlagsCleared) {
  const Encoded enc = Encode(AV_CODEC_ID_MPEG4, kW, kH, 12, 5);
  const CodedAvi a = MakeCodedAvi(enc, "XVID", "XVID", kW, kH, false, 0x10);
  Open(a.bytes, a.index);
  host_.stopAt = 3;
  EXPECT_EQ(Search(), "прервано пользователем");
  EXPECT_EQ(host_.progress.size(), 3u);
  const std::vector<uint32_t> got = Flags();
  EXPECT_EQ(got[0], 0x10u);
  for (size_t i = 1; i < got.size(); ++i) EXPECT_EQ(got[i], 0u) << i;

  // A stop during the last entry ends the same way.
  Open(a.bytes, a.index);
  host_.stopAt = int64_t(a.index.size());
  EXPECT_EQ(Search(), "прервано пользователем");
}

TEST_F(KeyframeTest, AChunkThatCannotBeReadIsNotMarked) {
  const Encoded enc = Encode(AV_CODEC_ID_MJPEG, kW, kH, 3, 1);
  CodedAvi a = MakeCodedAvi(enc, "MJPG", "MJPG", kW, kH, false, 0);
  // An entry that lies beyond what 32-bit positions can reach, and one whose declared length
  // reaches past the end of the file (it is not read as zeros, nor allocated: a damaged
  // index may declare 4 GB).
  a.index.push_back({rv::fcc("00dc"), 0, 0xFFFFFF00u, a.index[1].dwChunkLength});
  a.index.push_back({rv::fcc("00dc"), 0, a.index[2].dwChunkOffset, a.index[2].dwChunkLength + 4096});
  Open(a.bytes, a.index);
  EXPECT_EQ(Search(), "поиск завершен");
  EXPECT_EQ(Flags(), (std::vector<uint32_t>{0x10, 0x10, 0x10, 0, 0}));
  EXPECT_EQ(rv::Keyframes().keyframes.load(), 3u);
}

TEST_F(KeyframeTest, FailuresBeforeTheSearchAreNamedInTheResultText) {
  const rvt::StandardAvi sa = rvt::MakeStandardAvi();
  // Flags the reset would change: a failure before the search must leave them.
  const std::vector<rv::IndexEntry> one{{rv::fcc("00dc"), 0, sa.index[0].offset, sa.index[0].length},
                                        {rv::fcc("00dc"), 0x10, sa.index[2].offset, sa.index[2].length}};

  // The file read is gone by the time of the search; a file other than the one read is refused.
  Open(sa.bytes, one);
  rv::InputFileName() = rv::LoadedFileName() = dir_.File("missing.avi");
  EXPECT_EQ(Search(), "ошибка открытия файла");
  Open(sa.bytes, one);
  rv::InputFileName() = dir_.File("other.avi");
  EXPECT_EQ(Search(), "в памяти данные другого файла");

  Open(sa.bytes, one);
  rv::Keyframes().SetChoice("ZZZZ (nothing)");
  EXPECT_EQ(Search(), "ошибка открытия декомпрессора для ZZZZ");
  rv::Keyframes().SetChoice("MJPG (Motion JPEG)");
  EXPECT_EQ(Search(), "декомпрессор MJPG отказался это распаковывать");
  EXPECT_EQ(Flags(), (std::vector<uint32_t>{0, 0x10}));
  rv::Keyframes().SetChoice("auto");

  // A file without a movi list.
  Open(rvt::Build(rvt::Riff("AVI ", {rvt::List("hdrl", {rvt::Chunk("avih", rvt::AvihPayload({}))}),
                                     rvt::Chunk("JUNK", rvt::Filled(10, 0))}))
           .bytes,
       one);
  EXPECT_EQ(Search(), "не найден поток");
  EXPECT_TRUE(host_.progress.empty());
}

// ---- loading the file's own index ------------------------------------------------------------

TEST_F(KeyframeTest, OwnIndexLoadsWholeEntriesOnlyAndKeepsTheOldOneWhenUnreadable) {
  rvt::StandardAvi sa = rvt::MakeStandardAvi();
  // Cut 5 bytes into a fourth entry: an idx1 of 3 whole entries and a piece.
  const Bytes idx = rvt::Concat({rvt::Idx1({sa.index[0], sa.index[1], sa.index[2]}), rvt::Filled(5, 7)});
  Bytes file(sa.bytes.begin(), sa.bytes.begin() + long(sa.idx1));
  rvt::AppendBytes(file, rvt::Build(rvt::Chunk("idx1", idx)).bytes);
  rvt::OverwriteLE32(file, 4, uint32_t(file.size() - 8));
  Open(file, {});
  ASSERT_TRUE(rv::LoadOwnIndex(path_));
  ASSERT_EQ(rv::Index().entries.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    const rv::IndexEntry& e = rv::Index().entries[i];
    EXPECT_EQ(rv::cff(e.ckid), sa.index[i].ckid);
    EXPECT_EQ(e.dwFlags, sa.index[i].flags);
    EXPECT_EQ(e.dwChunkOffset, sa.index[i].offset);
    EXPECT_EQ(e.dwChunkLength, sa.index[i].length);
  }

  const std::vector<rv::IndexEntry> old{{rv::fcc("00dc"), 0x10, 4, 100}, {rv::fcc("01wb"), 0, 112, 50}};
  rv::Index().entries = old;
  rv::Index().count = old.size();
  std::filesystem::remove(path_);
  EXPECT_FALSE(rv::LoadOwnIndex(path_));
  EXPECT_EQ(rv::Index().entries, old);
}

// ---- the picture area ------------------------------------------------------------------------

TEST(KeyframeEkran, PicturesAreOnlyReducedAndKeepTheirAspect) {
  // Available: 640 x 480 (tab width 656, top of the bottom panel 496).
  struct Case {
    int w, h;
    rv::EkranGeometry want;
  } cases[] = {
      {320, 240, {320, 240, 168, 128, "масштаб: 100%"}},
      {640, 480, {640, 480, 8, 8, "масштаб: 100%"}},
      {1280, 960, {640, 480, 8, 8, "масштаб: 50%"}},
      {1280, 480, {640, 240, 8, 128, "масштаб: 50%"}},
      {320, 960, {160, 480, 248, 8, "масштаб: 50%"}},
      {1920, 1440, {640, 480, 8, 8, "масштаб: 33%"}},
      {100, 50, {100, 50, 278, 223, "масштаб: 100%"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
    const rv::EkranGeometry g = rv::ResizeEkran(656, 496, c.w, c.h);
    EXPECT_EQ(g.width, c.want.width);
    EXPECT_EQ(g.height, c.want.height);
    EXPECT_EQ(g.left, c.want.left);
    EXPECT_EQ(g.top, c.want.top);
    EXPECT_EQ(g.hint, c.want.hint);
  }
}

}  // namespace
