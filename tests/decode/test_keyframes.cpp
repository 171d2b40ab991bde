// The keyframe search on AVI files built in code from streams encoded here with libavcodec:
// the flags the search sets (MPEG-4 behind B-frames), its progress, a stop, unreadable
// chunks; loading the file's own index.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "decode/keyframes.h"
#include "fixtures/avi_builder.h"
#include "fixtures/engine_test.h"
#include "fixtures/test_encoder.h"

namespace {

using rvt::Bytes;
constexpr int kW = 176, kH = 144;

// An AVI of the packets as "00dc" chunks, each followed by a "01wb" chunk when withAudio; its
// index with every video flag set to videoFlags, audio flags 0x10.
struct CodedAvi {
  Bytes bytes;
  std::vector<rv::IndexEntry> index;
};
CodedAvi MakeCodedAvi(const rvt::Encoded& e, const std::string& tag, bool withAudio,
                      uint32_t videoFlags) {
  std::vector<std::pair<std::string, Bytes>> chunks;
  for (size_t i = 0; i < e.packets.size(); ++i) {
    chunks.push_back({"00dc", e.packets[i]});
    if (withAudio) chunks.push_back({"01wb", rvt::Pattern(100, uint32_t(i))});
  }
  const rvt::BuiltAvi a = rvt::MakeAvi(
      {rvt::List("hdrl", {rvt::Chunk("avih", rvt::AvihPayload({.width = kW, .height = kH})),
                          rvt::List("strl", {rvt::Chunk("strh", rvt::StrhPayload("vids", tag, {})),
                                             rvt::Chunk("strf", rvt::VideoStrf(kW, kH, tag))})})},
      chunks, false);
  CodedAvi out{a.img.bytes, rvt::Entries(a.index)};
  for (rv::IndexEntry& x : out.index) x.dwFlags = x.ckid == rv::fcc("00dc") ? videoFlags : 0x10;
  return out;
}

class KeyframeTest : public rvt::TaskTest {
 protected:
  void SetUp() override {
    TaskTest::SetUp();
    host_.onProgress = [this](const rv::Progress& p) {
      if (p.target == rv::ProgressTarget::kKeyframes && stopAt_ > 0 &&
          host_.Progress(rv::ProgressTarget::kKeyframes).size() >= stopAt_)
        rv::RequestStop();
    };
    rv::Keyframes().SetChoice("auto");
    rv::Keyframes().showKeyframes = rv::Keyframes().showAll = true;
  }
  void TearDown() override {
    rv::Keyframes().SetChoice("auto");
    TaskTest::TearDown();
  }
  // Runs the search; returns the result text.
  std::string Search() {
    host_.Clear();
    EXPECT_EQ(rv::Execute("findKK").code, 103);
    return rv::Keyframes().Text("LabelIO");
  }
  static std::vector<uint32_t> Flags() {
    std::vector<uint32_t> f;
    for (const rv::IndexEntry& e : rv::Index().entries) f.push_back(e.dwFlags);
    return f;
  }

  size_t stopAt_ = 0;
};

TEST_F(KeyframeTest, MpegFourKeyframesAreFoundAlsoBehindBFrames) {
  // With B-frames the running decoder hands each picture back chunks later than its own.
  const rvt::Encoded enc = rvt::Encode(AV_CODEC_ID_MPEG4, kW, kH, 12, 5, 2);
  ASSERT_EQ(enc.packets.size(), 12u);
  // Every video flag set (and another bit): the search must clear the wrong ones.
  const CodedAvi a = MakeCodedAvi(enc, "XVID", true, 0x110);
  Open(a.bytes, a.index);
  EXPECT_EQ(Search(), "поиск завершен");
  std::vector<uint32_t> want;
  for (bool key : enc.key) want.insert(want.end(), {key ? 0x110u : 0x100u, 0x10u});
  EXPECT_EQ(Flags(), want);
  const uint32_t keys = uint32_t(std::count(enc.key.begin(), enc.key.end(), true));
  EXPECT_GE(keys, 3u);
  // One progress message per entry, with the entries done and the keyframes so far.
  const auto progress = host_.Progress(rv::ProgressTarget::kKeyframes);
  ASSERT_EQ(progress.size(), a.index.size());
  for (size_t i = 0; i < progress.size(); ++i) EXPECT_EQ(std::stoul(progress[i].text), i + 1);
  EXPECT_EQ(progress.back().found, int64_t(keys));
}

TEST_F(KeyframeTest, AStopEndsWithItsTextAndLeavesLaterFlagsCleared) {
  const CodedAvi a =
      MakeCodedAvi(rvt::Encode(AV_CODEC_ID_MPEG4, kW, kH, 12, 5), "XVID", false, 0x10);
  std::vector<uint32_t> want(a.index.size(), 0);
  want[0] = 0x10;
  for (size_t at : {a.index.size(), size_t(3)}) {  // a stop during the last entry too
    Open(a.bytes, a.index);
    stopAt_ = at;
    EXPECT_EQ(Search(), "прервано пользователем");
    EXPECT_EQ(host_.Progress(rv::ProgressTarget::kKeyframes).size(), at);
  }
  EXPECT_EQ(Flags(), want);
}

TEST_F(KeyframeTest, AChunkThatCannotBeReadIsNotMarked) {
  CodedAvi a = MakeCodedAvi(rvt::Encode(AV_CODEC_ID_MJPEG, kW, kH, 3, 1), "MJPG", false, 0);
  // An entry beyond what 32-bit positions reach, and one whose length reaches past the end of
  // the file (it is neither read as zeros nor allocated: a damaged index may declare 4 GB).
  a.index.push_back({rv::fcc("00dc"), 0, 0xFFFFFF00u, a.index[1].dwChunkLength});
  a.index.push_back(
      {rv::fcc("00dc"), 0, a.index[2].dwChunkOffset, a.index[2].dwChunkLength + 4096});
  Open(a.bytes, a.index);
  EXPECT_EQ(Search(), "поиск завершен");
  EXPECT_EQ(Flags(), (std::vector<uint32_t>{0x10, 0x10, 0x10, 0, 0}));
}

// Whole idx1 entries only; an OpenDML file's indexes, every part.
TEST_F(KeyframeTest, OwnIndexLoadsWholeEntriesOnlyAndEveryPart) {
  const rvt::StandardAvi sa = rvt::MakeStandardAvi();
  // An idx1 of 3 whole entries and 5 bytes of a fourth.
  const Bytes idx =
      rvt::Concat({rvt::Idx1({sa.index[0], sa.index[1], sa.index[2]}), rvt::Filled(5, 7)});
  Bytes file =
      rvt::Concat({rvt::Truncated(sa.bytes, sa.idx1), rvt::Build(rvt::Chunk("idx1", idx)).bytes});
  rvt::OverwriteLE32(file, 4, uint32_t(file.size() - 8));
  Open(file, {});
  ASSERT_TRUE(rv::LoadOwnIndex(src_));
  EXPECT_EQ(rv::Index().entries, rvt::Entries({sa.index[0], sa.index[1], sa.index[2]}));
  const rvt::StandardAvi a = rvt::MakeOpenDmlAvi({.nVideo = 14, .nAudio = 11}, 4096);
  Open(a.bytes, {});
  ASSERT_TRUE(rv::LoadOwnIndex(src_));
  EXPECT_EQ(rv::Index().entries, rvt::Entries(a.index));
}

}  // namespace
