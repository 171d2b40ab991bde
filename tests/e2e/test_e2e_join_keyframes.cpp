// End to end with FFmpeg as the judge: FFmpeg-made MPEG-4 files joined by rivetta-cli play as
// one, frame for frame; the keyframe search on files whose idx1 flags were all cleared sets
// in idx1 exactly the frames ffmpeg flagged in the clean file (MPEG-4, packed Xvid and H.264
// with GOP 25, with and without B-frames), or every frame (MJPEG).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "fixtures/avi_builder.h"
#include "fixtures/ffmpeg_sample.h"

namespace {

using rvt::Bytes;
using rvt::ReadLE32;
using rvt::ShellQuote;
using rvt::FrameHashes;
using Result = rvt::ShellResult;
inline Result Sh(const std::string& cmd) { return rvt::RunShell(cmd); }

Result Cli(const std::string& args) { return Sh(ShellQuote(RIVETTA_CLI_PATH) + " " + args + " 2>&1"); }

std::string DecodeErrors(const std::string& path) {
  return Sh("ffmpeg -nostdin -v error -i " + ShellQuote(path) + " -map 0 -f null - 2>&1").out;
}

// The keyframe flag of every video packet as ffprobe reports it (judged from the bitstream).
std::vector<bool> KeyFlags(const std::string& path) {
  const Result r = Sh("ffprobe -v error -select_streams v -show_entries packet=flags -of csv=p=0 " +
                      ShellQuote(path) + " 2>/dev/null");
  std::vector<bool> out;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) out.push_back(line[0] == 'K');
  return out;
}

std::string Id(const Bytes& b, size_t pos) {
  return pos + 4 <= b.size() ? std::string(b.begin() + long(pos), b.begin() + long(pos) + 4)
                             : std::string("<eof>");
}

// Position of the top-level idx1 chunk; 0 when there is none.
size_t Idx1At(const Bytes& b) {
  size_t p = 12;
  while (p + 8 <= b.size() && Id(b, p) != "idx1") p += 8 + ReadLE32(b, p + 4) + (ReadLE32(b, p + 4) & 1);
  return p + 8 <= b.size() ? p : 0;
}

// The keyframe flag of every video entry of a file's idx1.
std::vector<bool> IndexKeyFlags(const std::string& path) {
  const Bytes b = rvt::ReadFile(path);
  std::vector<bool> out;
  const size_t p = Idx1At(b);
  if (p == 0) return out;
  const uint32_t n = ReadLE32(b, p + 4);
  for (size_t q = p + 8; q + 16 <= p + 8 + n && q + 16 <= b.size(); q += 16)
    if (Id(b, q) == "00dc" || Id(b, q) == "00db") out.push_back((ReadLE32(b, q + 4) & 0x10) != 0);
  return out;
}

// The file with the keyframe flag of every idx1 entry cleared.
Bytes WithoutKeyFlags(Bytes b) {
  const size_t p = Idx1At(b);
  if (p == 0) return {};
  const uint32_t n = ReadLE32(b, p + 4);
  for (size_t q = p + 8; q + 16 <= p + 8 + n && q + 16 <= b.size(); q += 16)
    rvt::OverwriteLE32(b, q + 4, ReadLE32(b, q + 4) & ~0x10u);
  return b;
}

std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

struct Samples {
  std::unique_ptr<rvt::TempDir> dir;
  std::string part[3];
  std::vector<std::string> hashes[3];
  // 75 frames with GOP 25, named by how they were encoded.
  std::vector<std::pair<std::string, std::string>> coded;
  std::string mjpeg;
};
Samples& S() {
  static Samples s;
  return s;
}

class E2eJoinKeyframes : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!rvt::FfmpegAvailable() || S().dir) return;
    Samples& s = S();
    s.dir = std::make_unique<rvt::TempDir>("e2e-jk");
    // Three pieces of one kind whose pictures differ: plain, negated, upside down.
    const char* filters[] = {"", "-vf negate", "-vf vflip"};
    for (int i = 0; i < 3; ++i) {
      rvt::FfmpegSampleSettings shape;
      shape.seconds = 1.2;  // 30 frames each
      shape.extraArgs = filters[i];
      s.part[i] = rvt::MakeFfmpegAvi(s.dir->path(), shape, "part" + std::to_string(i + 1) + ".avi");
      if (!s.part[i].empty()) s.hashes[i] = FrameHashes(s.part[i]);
    }
    // Decoders hand the pictures of files with B-frames back late and out of order; libxvid
    // packs a B-frame into the chunk of the P-frame before it and leaves a tiny chunk behind.
    const std::pair<const char*, const char*> kinds[] = {
        {"mpeg4", ""},
        {"mpeg4 with B-frames", "-bf 2"},
        {"h264 with B-frames", "-c:v libx264 -bf 3 -vtag H264"},
        {"xvid with packed B-frames", "-c:v libxvid -bf 2"}};
    for (const auto& [name, args] : kinds) {
      rvt::FfmpegSampleSettings gop;
      gop.seconds = 3;
      gop.extraArgs = args;
      s.coded.emplace_back(name, rvt::MakeFfmpegAvi(s.dir->path(), gop, "coded" + std::to_string(s.coded.size()) + ".avi"));
    }
    s.mjpeg = s.dir->File("mjpeg.avi");
    if (Sh("ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc=size=320x240:rate=25 -t 1 "
           "-c:v mjpeg " + ShellQuote(s.mjpeg) + " >/dev/null 2>&1").rc != 0)
      s.mjpeg.clear();
  }
  static void TearDownTestSuite() { S().dir.reset(); }
  void SetUp() override { RVT_SKIP_WITHOUT_FFMPEG(); }

  rvt::TempDir dir_{"e2e-jk-case"};
};

TEST_F(E2eJoinKeyframes, JoinedFilesPlayAsOneFrameForFrame) {
  const Samples& s = S();
  for (int i = 0; i < 3; ++i) {
    ASSERT_FALSE(s.part[i].empty());
    ASSERT_EQ(s.hashes[i].size(), 30u);
  }
  ASSERT_NE(s.hashes[0][0], s.hashes[1][0]);
  const std::string two = dir_.File("two.avi"), three = dir_.File("three.avi");
  Result r = Cli("join " + ShellQuote(s.part[0]) + " " + ShellQuote(s.part[1]) + " -o " + ShellQuote(two));
  ASSERT_EQ(r.rc, 0) << r.out;
  EXPECT_EQ(DecodeErrors(two), "");
  EXPECT_EQ(FrameHashes(two), Concat({s.hashes[0], s.hashes[1]}));

  r = Cli("join " + ShellQuote(s.part[0]) + " " + ShellQuote(s.part[1]) + " " + ShellQuote(s.part[2]) +
          " -o " + ShellQuote(three));
  ASSERT_EQ(r.rc, 0) << r.out;
  EXPECT_EQ(DecodeErrors(three), "");
  EXPECT_EQ(FrameHashes(three), Concat({s.hashes[0], s.hashes[1], s.hashes[2]}));
  // The index keeps each piece's own keyframe flags.
  std::vector<bool> want;
  for (int i = 0; i < 3; ++i) {
    const std::vector<bool> k = IndexKeyFlags(s.part[i]);
    ASSERT_EQ(k.size(), 30u);
    want.insert(want.end(), k.begin(), k.end());
  }
  EXPECT_EQ(IndexKeyFlags(three), want);
}

TEST_F(E2eJoinKeyframes, TheSearchSetsExactlyTheKeyframesOfTheCleanFile) {
  for (const auto& [name, path] : S().coded) {
    SCOPED_TRACE(name);
    ASSERT_FALSE(path.empty());
    // The flags the encoder gave, as ffmpeg wrote them into idx1 (packed files hold fewer
    // chunks than frames).
    const std::vector<bool> clean = IndexKeyFlags(path);
    ASSERT_GE(clean.size(), 73u);
    size_t keys = 0;
    for (bool k : clean) keys += k;
    ASSERT_GE(keys, 3u);

    const std::string cleared = dir_.Write("cleared.avi", WithoutKeyFlags(rvt::ReadFile(path)));
    ASSERT_EQ(IndexKeyFlags(cleared), std::vector<bool>(clean.size(), false));
    const std::string out = dir_.File("found.avi");
    const Result r = Cli("keyframes " + ShellQuote(cleared) + " --use-index --yes -o " + ShellQuote(out));
    ASSERT_EQ(r.rc, 0) << r.out;
    EXPECT_NE(r.out.find("поиск завершен"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("опорных кадров: " + std::to_string(keys)), std::string::npos) << r.out;
    EXPECT_EQ(IndexKeyFlags(out), clean);
    EXPECT_EQ(FrameHashes(out), FrameHashes(path));

    // With the index of a stream check instead of the file's own.
    const std::string checked = dir_.File("checked.avi");
    const Result c = Cli("keyframes " + ShellQuote(cleared) + " --yes -o " + ShellQuote(checked));
    ASSERT_EQ(c.rc, 0) << c.out;
    EXPECT_EQ(IndexKeyFlags(checked), clean);
  }
}

TEST_F(E2eJoinKeyframes, EveryFrameOfAnMjpegFileIsAKeyframe) {
  const Samples& s = S();
  ASSERT_FALSE(s.mjpeg.empty());
  const std::string cleared = dir_.Write("cleared.avi", WithoutKeyFlags(rvt::ReadFile(s.mjpeg)));
  ASSERT_EQ(IndexKeyFlags(cleared), std::vector<bool>(25, false));
  const std::string out = dir_.File("found.avi");
  const Result r = Cli("keyframes " + ShellQuote(cleared) + " --use-index -o " + ShellQuote(out));
  ASSERT_EQ(r.rc, 0) << r.out;
  EXPECT_NE(r.out.find("опорных кадров: 25"), std::string::npos) << r.out;
  EXPECT_EQ(IndexKeyFlags(out), std::vector<bool>(25, true));
  EXPECT_EQ(KeyFlags(out), std::vector<bool>(25, true));
}

}  // namespace
