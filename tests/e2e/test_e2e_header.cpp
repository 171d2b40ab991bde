// End to end: an FFmpeg-made AVI (MPEG-4 video tagged XVID, MPEG layer 2 audio) whose header
// cannot be walked is repaired by rivetta-cli with a header rebuilt from the blocks found in the
// file; FFmpeg decodes the result completely with every frame and the audio as in the clean
// file. Header edits on the command line change what ffprobe reports.
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
using rvt::ShellQuote;
using rvt::FrameHashes;
using Result = rvt::ShellResult;
inline Result Sh(const std::string& cmd) { return rvt::RunShell(cmd); }

// MD5 of the whole decoded audio; empty when the file has none.
std::string AudioHash(const std::string& path) {
  const Result r = Sh("ffmpeg -nostdin -v quiet -i " + ShellQuote(path) +
                      " -map 0:a -f md5 - 2>/dev/null");
  return r.rc == 0 ? r.out : std::string();
}

// What FFmpeg complains about while decoding the whole file (empty when nothing).
std::string DecodeErrors(const std::string& path) {
  return Sh("ffmpeg -nostdin -v error -i " + ShellQuote(path) + " -map 0 -f null - 2>&1").out;
}

std::string Probe(const std::string& path, const std::string& entry) {
  Result r = Sh("ffprobe -v error -select_streams v:0 -show_entries stream=" + entry +
                " -of default=nw=1:nk=1 " + ShellQuote(path) + " 2>&1");
  while (!r.out.empty() && (r.out.back() == '\n' || r.out.back() == '\r')) r.out.pop_back();
  return r.out;
}

struct Clean {
  std::unique_ptr<rvt::TempDir> dir;
  std::string path;
  Bytes bytes;
  std::vector<std::string> hashes;
  std::string audio;
};
Clean& C() {
  static Clean c;
  return c;
}

class E2eHeader : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!rvt::FfmpegAvailable() || !C().path.empty()) return;
    Clean& c = C();
    c.dir = std::make_unique<rvt::TempDir>("e2e-header");
    rvt::FfmpegSampleSettings shape;
    shape.seconds = 2;  // 50 frames, keyframes at 0 and 25
    c.path = rvt::MakeFfmpegAvi(c.dir->path(), shape, "clean.avi");
    c.bytes = rvt::ReadFile(c.path);
    c.hashes = FrameHashes(c.path);
    c.audio = AudioHash(c.path);
  }
  static void TearDownTestSuite() { C().dir.reset(); }

  void SetUp() override {
    RVT_SKIP_WITHOUT_FFMPEG();
    ASSERT_FALSE(C().bytes.empty()) << "ffmpeg made no sample";
    ASSERT_EQ(C().hashes.size(), 50u);
    ASSERT_EQ(std::set<std::string>(C().hashes.begin(), C().hashes.end()).size(), 50u);
    ASSERT_FALSE(C().audio.empty());
  }

  // Repairs the file; returns the output path (the input must stay unchanged).
  std::string Repair(const std::string& name, const Bytes& in, const std::string& extra, Result* r) {
    const std::string src = dir_.Write(name + ".avi", in), out = dir_.File(name + ".out.avi");
    *r = Sh(ShellQuote(RIVETTA_CLI_PATH) + " repair " + ShellQuote(src) + " -o " + ShellQuote(out) +
            " " + extra + " 2>&1");
    EXPECT_EQ(rvt::ReadFile(src), in) << "the input was changed";
    return out;
  }

  rvt::TempDir dir_{"e2e-hdr-case"};
};

TEST_F(E2eHeader, AFileWhoseHeaderCannotBeWalkedIsRepairedWithARebuiltHeader) {
  Bytes prefixed = rvt::Concat({rvt::Pattern(100, 42), C().bytes});
  Bytes overwritten = C().bytes;
  rvt::OverwriteAt(overwritten, 0, rvt::Pattern(24, 43));
  const struct {
    const char* name;
    const Bytes& bytes;
  } cases[] = {{"garbage-in-front", prefixed}, {"first-24-overwritten", overwritten}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Result r;
    const std::string out = Repair(c.name, c.bytes, "", &r);
    ASSERT_EQ(r.rc, 0) << r.out;
    // The header was rebuilt from the blocks found, the audio stream included.
    for (const char* line : {"• найден блок avih ", "• найден блок strh vids", "• найден блок strh auds",
                             "• найден блок LIST movi"})
      EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    EXPECT_EQ(DecodeErrors(out), "");
    EXPECT_EQ(FrameHashes(out), C().hashes);
    EXPECT_EQ(AudioHash(out), C().audio);
    EXPECT_EQ(Probe(out, "width,height"), "320\n240");
  }
}

TEST_F(E2eHeader, EditedRatesChangeTheFrameRateFfprobeReports) {
  ASSERT_EQ(Probe(C().path, "avg_frame_rate"), "25/1");
  Result r;
  const std::string out = Repair("rate", C().bytes,
                                  "--set avih.TimeBetweenFrames=20000 --set vstrh.DataRate=50 "
                                  "--set vstrh.TimeScale=1",
                                  &r);
  ASSERT_EQ(r.rc, 0) << r.out;
  EXPECT_EQ(Probe(out, "avg_frame_rate"), "50/1");
  EXPECT_EQ(FrameHashes(out), C().hashes);
  EXPECT_EQ(AudioHash(out), C().audio);
}

}  // namespace
