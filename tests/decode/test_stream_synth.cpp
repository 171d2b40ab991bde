// The formats recognised in the first chunks of FFmpeg-made files: what a header made from the
// stream alone gets for its video and audio formats, and where a donor disagrees.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "decode/stream_synth.h"
#include "fixtures/avi_layout.h"
#include "fixtures/ffmpeg_sample.h"

namespace {

struct Want {
  std::string name, args;
  std::string fourcc;  // empty: no video format recognised
  uint32_t width, height, rateNum, rateDen;
  uint16_t audioTag;  // 0: no audio format recognised
  uint32_t sampleRate, byteRate;
  uint16_t channels;
  bool framePerChunk;
};

// Payloads of the first chunks of stream n (up to 64).
std::vector<rv::Bytes> Payloads(const rvt::Bytes& b, const rvt::AviLayout& l, char n) {
  std::vector<rv::Bytes> out;
  for (const rvt::ChunkLoc& c : l.chunks)
    if (c.id[1] == n && out.size() < 64) out.push_back(rvt::Slice(b, c.offset + 8, c.size));
  return out;
}

TEST(StreamSynth, RecognisesTheFormatsOfEncoderOutput) {
  RVT_REQUIRE_FFMPEG();
  const std::string src = "-f lavfi -i testsrc=size=176x144:rate=";
  const std::string tone = " -f lavfi -i sine=f=440:sample_rate=";
  // clang-format off
  const std::vector<Want> cases = {
      // ffmpeg's MPEG-4 writes no fixed VOP rate: the rate comes from the VOP times.
      {"xvid_mp3", src + "25" + tone + "44100 -t 2 -c:v mpeg4 -vtag XVID -bf 2 -c:a libmp3lame -b:a 64k",
       "XVID", 176, 144, 25, 1, 0x55, 44100, 8000, 1, true},
      {"h264_mp2", src + "30000/1001" + tone + "48000 -t 2 -c:v libx264 -c:a mp2 -ac 2 -b:a 192k",
       "H264", 176, 144, 30000, 1001, 0x50, 48000, 24000, 2, true},
      {"mjpeg_pcm", src + "25" + tone + "22050 -t 1 -c:v mjpeg -c:a pcm_s16le",
       "MJPG", 176, 144, 0, 0, 0, 0, 0, 0, false},
      // A group of VOPs at each keyframe restarts the VOP seconds at its time code.
      {"mpeg4_ac3", src + "30000/1001" + tone + "48000 -t 2 -c:v mpeg4 -g 30 -c:a ac3 -b:a 96k",
       "XVID", 176, 144, 30000, 1001, 0x2000, 48000, 12000, 1, true},
      {"dv", "-f lavfi -i testsrc=size=720x576:rate=25 -t 0.2 -c:v dvvideo -pix_fmt yuv420p",
       "dvsd", 720, 576, 25, 1, 0, 0, 0, 0, false},
  };
  // clang-format on
  rvt::TempDir dir("synth");
  for (const Want& w : cases) {
    SCOPED_TRACE(w.name);
    const std::string path = rvt::MakeFfmpegAvi(dir.path(), w.name + ".avi", w.args);
    ASSERT_FALSE(path.empty());
    const rvt::Bytes b = rvt::ReadFile(path);
    const rvt::AviLayout l = rvt::ReadLayout(b);
    const rv::VideoGuess v = rv::RecogniseVideo(Payloads(b, l, '0'));
    EXPECT_EQ(v.fourcc, w.fourcc);
    EXPECT_EQ(v.width, w.width);
    EXPECT_EQ(v.height, w.height);
    EXPECT_EQ(v.rateNum, w.rateNum);
    EXPECT_EQ(v.rateDen, w.rateDen);
    const rv::AudioGuess a = rv::RecogniseAudio(Payloads(b, l, '1'));
    EXPECT_EQ(a.formatTag, w.audioTag);
    EXPECT_EQ(a.sampleRate, w.sampleRate);
    EXPECT_EQ(a.channels, w.channels);
    EXPECT_EQ(a.framePerChunk, w.framePerChunk);
    EXPECT_EQ(a.byteRate, w.byteRate);
    if (w.name == "xvid_mp3") {  // an encoder that names itself DivX in the user data
      std::vector<rv::Bytes> p = Payloads(b, l, '0');
      const uint8_t lavc[] = {0, 0, 1, 0xB2, 'L', 'a', 'v', 'c'};
      auto at = std::search(p[0].begin(), p[0].end(), std::begin(lavc), std::end(lavc));
      ASSERT_NE(at, p[0].end());
      std::copy_n("DivX", 4, at + 4);
      EXPECT_EQ(rv::RecogniseVideo(p).fourcc, "DIVX");
    }
  }
}

TEST(StreamSynth, DonorMismatchesNameCodecSizeAndAudioFormat) {
  rv::HeaderPlan p;
  p.withDonor = true;
  p.donor.vstrf.biCompression = "DX50";
  p.donor.vstrf.biWidth = 320, p.donor.vstrf.biHeight = 240;
  p.donor.audio = true;
  p.donor.astrf.wFormatTag = 0x55, p.donor.astrf.nSamplesPerSec = 44100;
  p.donor.astrf.nChannels = 2;
  p.video.fourcc = "XVID", p.video.width = 320, p.video.height = 240;  // one codec, two codes
  p.audio.formatTag = 0x55, p.audio.sampleRate = 44100, p.audio.channels = 2;
  EXPECT_TRUE(rv::DonorMismatches(p).empty());
  p.video.fourcc = "H264", p.video.height = 200, p.audio.formatTag = 0x2000;
  EXPECT_EQ(rv::DonorMismatches(p).size(), 3u);
  p.video = {}, p.audio = {};  // what the stream does not tell is not held against the donor
  EXPECT_TRUE(rv::DonorMismatches(p).empty());
}

TEST(StreamSynth, RatesSnapToTheCommonOnes) {
  uint32_t n = 0, d = 0;
  for (auto [num, den, wn, wd] :
       {std::tuple{2997u, 100u, 30000u, 1001u}, {251u, 10u, 25u, 1u}, {18u, 1u, 18000u, 1000u}}) {
    rv::SnapRate(num, den, n, d);
    EXPECT_EQ(n, wn);
    EXPECT_EQ(d, wd);
  }
}

// A donor's audio streams all come over, the first for the panels and the rest in order, each
// 16-byte PCM format with its sample size.
TEST(StreamSynth, DonorKeepsEveryAudioStreamAnd16BytePcm) {
  using namespace rvt;
  auto audio = [](uint32_t rate) {
    return List("strl",
                {Chunk("strh", StrhPayload("auds", "", {.rate = rate * 2, .sampleSize = 2})),
                 Chunk("strf", AudioStrf(1, 1, rate, 16, {}, false, rate * 2, 2))});
  };
  const Image img = Build(
      Riff("AVI ", {List("hdrl", {Chunk("avih", AvihPayload({})),
                                  List("strl", {Chunk("strh", StrhPayload("vids", "MJPG", {})),
                                                Chunk("strf", VideoStrf(320, 240, "MJPG"))}),
                                  audio(44100), audio(22050)})}));
  TempDir dir("donor");
  rv::DonorHeader d;
  std::string error;
  ASSERT_TRUE(rv::ReadDonorHeader(dir.Write("d.avi", img.bytes), d, error)) << error;
  EXPECT_EQ(d.astrf.nSamplesPerSec, 44100u);
  EXPECT_EQ(d.astrf.wBitsPerSample, 16);
  ASSERT_EQ(d.moreAudio.size(), 1u);
  EXPECT_EQ(d.moreAudio[0].second.nSamplesPerSec, 22050u);
  EXPECT_EQ(d.moreAudio[0].second.wBitsPerSample, 16);
}

}  // namespace
