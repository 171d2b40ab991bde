// End to end with FFmpeg-made files and FFmpeg as the judge: info reads them clean, the check
// rebuilds their own index and finds inserted zeros, a header that cannot be walked is rebuilt,
// header edits change what ffprobe reports, joined files play as one, and the keyframe search
// sets exactly the keyframes of the clean file (MPEG-4, packed Xvid and H.264, with and
// without B-frames) or every frame (MJPEG).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "fixtures/avi_builder.h"
#include "fixtures/avi_layout.h"
#include "fixtures/cli_run.h"
#include "fixtures/ffmpeg_sample.h"

namespace {

using rvt::Bytes;
using rvt::ShellQuote;
using Hashes = std::vector<std::string>;

std::string Sh(const std::string& cmd) { return rvt::RunShell(cmd + " 2>&1").out; }

std::string Probe(const std::string& path, const std::string& entry) {
  return Sh("ffprobe -v error -select_streams v:0 -show_entries stream=" + entry + " -of csv=p=0 " +
            ShellQuote(path));
}

// The video keyframe flags of a file's idx1: K a keyframe, - another frame.
std::string VideoKeys(const std::string& path) {
  std::string k = rvt::ReadLayout(rvt::ReadFile(path)).Keys();
  k.erase(std::remove(k.begin(), k.end(), 'a'), k.end());
  return k;
}

class E2e : public ::testing::Test {
 protected:
  void SetUp() override { RVT_REQUIRE_FFMPEG(); }
  // An ffmpeg-made MPEG-4 (XVID) / MPEG audio file of the given length and extra arguments.
  std::string Make(const std::string& name, double seconds, const std::string& extra = {}) {
    rvt::FfmpegSampleSettings shape;
    shape.seconds = seconds;
    shape.extraArgs = extra;
    const std::string path = rvt::MakeFfmpegAvi(dir_.path(), shape, name);
    EXPECT_FALSE(path.empty()) << "ffmpeg made no " << name << " with '" << extra << "'";
    return path;
  }
  rvt::CliOutcome Cli(const std::string& args) { return rvt::RunCli(dir_, args); }
  rvt::TempDir dir_{"e2e"};
};

TEST_F(E2e, InfoReadsFfmpegFilesCleanWithAllLabelsLit) {
  for (const char* audio : {"", "-c:a libmp3lame"}) {
    ASSERT_FALSE(Make("clip.avi", 1, audio).empty());
    const rvt::CliOutcome json = Cli("info clip.avi --json"), text = Cli("info clip.avi");
    ASSERT_EQ(json.code, 0);
    for (const char* key :
         {"\"messages\":[]", "\"biCompression\":\"XVID\"", "\"DataType\":\"auds\"",
          "\"Width\":\"320\"",
          "\"labels\":{\"avih\":\"blue\",\"vstrh\":\"blue\",\"vstrf\":\"blue\",\"astrh\":\"blue\","
          "\"astrf\":\"blue\",\"movi\":\"maroon\",\"idx1\":\"maroon\"}"})
      EXPECT_NE(json.out.find(key), std::string::npos) << audio << key << "\n"
                                                       << json.out.substr(0, 600);
    EXPECT_EQ(text.out.rfind("сообщения:\n\nблоки:\n", 0), 0u) << text.out.substr(0, 300);
  }
}

TEST_F(E2e, CheckGivesTheFilesOwnIndexAndFindsInsertedZerosInTheirChunk) {
  const Bytes clean = rvt::ReadFile(Make("clip.avi", 2));
  const rvt::AviLayout l = rvt::ReadLayout(clean);
  ASSERT_GT(l.index.size(), 50u);
  // The same entries, flags by design: the first video chunk and every audio chunk marked.
  std::vector<rvt::IdxEntry> want = l.index;
  for (size_t i = 0; i < want.size(); ++i)
    want[i].flags = (i == 0 || want[i].ckid == "01wb") ? 0x10 : 0;
  const rvt::CliOutcome r = Cli("check clip.avi --index-out clip.idx1");
  EXPECT_NE(r.out.find("записей в индексе: " + std::to_string(want.size()) +
                       ", битых блоков: 0, поток проверен до конца"),
            std::string::npos)
      << r.out;
  const Bytes idx = rvt::ReadFile(dir_.File("clip.idx1"));
  EXPECT_EQ(idx, rvt::Build(rvt::Chunk("idx1", rvt::Idx1(want))).bytes);

  // 4096 zeros inside a video chunk of even size in the middle, the list and file sizes grown
  // with them: the only damage is the chunk's own size field.
  size_t k = want.size() / 2;
  while (l.index[k].ckid != "00dc" || l.index[k].length < 200 || l.index[k].length % 2) ++k;
  const size_t payload = l.MoviPos() + l.index[k].offset + 8;
  size_t cut = l.index[k].length / 2;
  while (clean[payload + cut - 1] == 0 || clean[payload + cut] == 0) ++cut;
  Bytes damaged = clean;
  rvt::InsertAt(damaged, payload + cut, Bytes(4096, 0));
  rvt::OverwriteLE32(damaged, 4, rvt::ReadLE32(damaged, 4) + 4096);
  rvt::OverwriteLE32(damaged, l.moviList + 4, rvt::ReadLE32(damaged, l.moviList + 4) + 4096);
  dir_.Write("damaged.avi", damaged);
  const rvt::CliOutcome d = Cli("check damaged.avi --index-out damaged.idx1");
  ASSERT_EQ(d.code, 0) << d.out;
  const uint32_t off = l.index[k].offset, len = l.index[k].length;
  char row[200];
  std::snprintf(
      row, sizeof row,
      "\n1     | %-5zu | 00dc  | %-10zu | %-10u | %-10u | %-10u | 4096       | 4096(00) at %zu\n",
      k, l.MoviPos() + off, off, len, len + 4096, 8 + cut);
  EXPECT_NE(d.out.find(row), std::string::npos) << row << d.out;
  EXPECT_NE(d.out.find("битых блоков: 1,"), std::string::npos) << d.out;
  // Every entry behind the damaged chunk lies 4096 bytes further on.
  for (size_t i = k + 1; i < want.size(); ++i) want[i].offset += 4096;
  EXPECT_EQ(rvt::ReadFile(dir_.File("damaged.idx1")),
            rvt::Build(rvt::Chunk("idx1", rvt::Idx1(want))).bytes);
}

TEST_F(E2e, AHeaderThatCannotBeWalkedIsRebuiltAndEditsReachFfprobe) {
  const std::string clean = Make("clean.avi", 2);  // 50 frames, keyframes at 0 and 25
  const Hashes frames = rvt::FrameHashes(clean);
  const std::string audio =
      Sh("ffmpeg -nostdin -v quiet -i " + ShellQuote(clean) + " -map 0:a -f md5 -");
  ASSERT_EQ(frames.size(), 50u);
  Bytes overwritten = rvt::ReadFile(clean);
  rvt::OverwriteAt(overwritten, 0, rvt::Pattern(24, 43));
  dir_.Write("front.avi", rvt::Concat({rvt::Pattern(100, 42), rvt::ReadFile(clean)}));
  dir_.Write("over.avi", overwritten);
  for (const char* name : {"front", "over"}) {
    const std::string out = dir_.File(std::string(name) + ".out.avi");
    const rvt::CliOutcome r = Cli(std::string("repair ") + name + ".avi -o " + ShellQuote(out));
    ASSERT_EQ(r.code, 0) << r.all();
    // The header was rebuilt from the blocks found, the audio stream included.
    EXPECT_NE(r.out.find("• найден блок strh auds"), std::string::npos) << r.out;
    EXPECT_EQ(Sh("ffmpeg -nostdin -v error -i " + ShellQuote(out) + " -map 0 -f null -"), "")
        << name;
    EXPECT_EQ(rvt::FrameHashes(out), frames) << name;
    EXPECT_EQ(Sh("ffmpeg -nostdin -v quiet -i " + ShellQuote(out) + " -map 0:a -f md5 -"), audio)
        << name;
    EXPECT_EQ(Probe(out, "width,height"), "320,240\n");
  }
  ASSERT_EQ(Probe(clean, "avg_frame_rate"), "25/1\n");
  ASSERT_EQ(
      Cli("repair clean.avi -o rate.avi --set avih.TimeBetweenFrames=20000 --set vstrh.DataRate=50 "
          "--set vstrh.TimeScale=1")
          .code,
      0);
  EXPECT_EQ(Probe(dir_.File("rate.avi"), "avg_frame_rate"), "50/1\n");
  EXPECT_EQ(rvt::FrameHashes(dir_.File("rate.avi")), frames);
}

TEST_F(E2e, JoinedFilesPlayAsOneFrameForFrameWithEachFilesFlags) {
  // Three pieces whose pictures differ: plain, negated, upside down; 30 frames each.
  const std::string part[] = {Make("p1.avi", 1.2), Make("p2.avi", 1.2, "-vf negate"),
                              Make("p3.avi", 1.2, "-vf vflip")};
  Hashes want;
  std::string keys;
  for (const std::string& p : part) {
    const Hashes h = rvt::FrameHashes(p);
    ASSERT_EQ(h.size(), 30u);
    want.insert(want.end(), h.begin(), h.end());
    keys += VideoKeys(p);
    if (&p == &part[1]) {
      ASSERT_EQ(Cli("join p1.avi p2.avi -o two.avi").code, 0);
      EXPECT_EQ(rvt::FrameHashes(dir_.File("two.avi")), want);
    }
  }
  ASSERT_NE(want[0], want[30]);
  const rvt::CliOutcome r = Cli("join p1.avi p2.avi p3.avi -o three.avi");
  ASSERT_EQ(r.code, 0) << r.all();
  EXPECT_EQ(
      Sh("ffmpeg -nostdin -v error -i " + ShellQuote(dir_.File("three.avi")) + " -map 0 -f null -"),
      "");
  EXPECT_EQ(rvt::FrameHashes(dir_.File("three.avi")), want);
  EXPECT_EQ(VideoKeys(dir_.File("three.avi")), keys);
}

TEST_F(E2e, TheKeyframeSearchSetsExactlyTheKeyframesOfTheCleanFile) {
  // Decoders hand the pictures of files with B-frames back late and out of order; libxvid
  // packs a B-frame into the chunk of the P-frame before it and leaves a tiny chunk behind.
  ASSERT_EQ(
      rvt::RunShell(
          "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=320x240:rate=25 -t 1 -c:v mjpeg " +
          ShellQuote(dir_.File("mjpeg.avi")))
          .rc,
      0);
  for (const char* args :
       {"", "-bf 2", "-c:v libx264 -bf 3 -vtag H264", "-c:v libxvid -bf 2", "mjpeg"}) {
    SCOPED_TRACE(args);
    const std::string path =
        std::string(args) == "mjpeg" ? dir_.File("mjpeg.avi") : Make("coded.avi", 3, args);
    const std::string clean = VideoKeys(path);  // packed files hold fewer chunks than frames
    ASSERT_GE(clean.size(), 25u);
    ASSERT_GE(std::count(clean.begin(), clean.end(), 'K'), 3);
    // The file with every keyframe flag of idx1 cleared.
    Bytes cleared = rvt::ReadFile(path);
    const rvt::AviLayout l = rvt::ReadLayout(cleared);
    for (size_t i = 0; i < l.index.size(); ++i)
      rvt::OverwriteLE32(cleared, l.idx1 + 12 + 16 * i, l.index[i].flags & ~0x10u);
    dir_.Write("cleared.avi", cleared);
    ASSERT_EQ(VideoKeys(dir_.File("cleared.avi")), std::string(clean.size(), '-'));
    // With the file's own index, and with the index of a stream check.
    for (const char* index : {"--use-index", ""}) {
      const rvt::CliOutcome r =
          Cli(std::string("keyframes cleared.avi --yes -o found.avi ") + index);
      ASSERT_EQ(r.code, 0) << r.all();
      EXPECT_NE(r.out.find("опорных кадров: " +
                           std::to_string(std::count(clean.begin(), clean.end(), 'K'))),
                std::string::npos)
          << r.out;
      EXPECT_EQ(VideoKeys(dir_.File("found.avi")), clean) << index;
    }
    EXPECT_EQ(rvt::FrameHashes(dir_.File("found.avi")), rvt::FrameHashes(path));
    if (std::string(args) == "mjpeg") {
      EXPECT_EQ(clean, std::string(25, 'K'));
      const std::string flags =
          Sh("ffprobe -v error -select_streams v -show_entries packet=flags -of csv=p=0 " +
             ShellQuote(dir_.File("found.avi")));
      EXPECT_EQ(std::count(flags.begin(), flags.end(), 'K'), 25) << flags;
      EXPECT_EQ(std::count(flags.begin(), flags.end(), '\n'), 25) << flags;
    }
  }
}

}  // namespace
