// End to end: FFmpeg-made AVI files damaged in the test and repaired by rivetta-cli, judged by
// FFmpeg: the decoded frame hashes against the clean file's (and against what `ffmpeg -c copy`
// makes of the damage, which the repair must match or beat), or the packets ffmpeg reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>
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

// Made once: a 100-frame MPEG-4 / MPEG audio file (a keyframe every 25), and 8-second files
// with MP3, with 8-bit PCM in odd 441-byte chunks, with two audio streams, and raw video.
struct Samples {
  std::unique_ptr<rvt::TempDir> dir;
  std::string clean, mp3, pcm, two, raw;
  Bytes bytes;
  rvt::AviLayout layout;
  Hashes hashes;
};
Samples& S() {
  static Samples s;
  if (s.dir || !rvt::FfmpegAvailable()) return s;
  s.dir = std::make_unique<rvt::TempDir>("e2e-repair");
  rvt::FfmpegSampleSettings shape;
  shape.seconds = 4;
  s.clean = rvt::MakeFfmpegAvi(s.dir->path(), shape, "clean.avi");
  s.bytes = rvt::ReadFile(s.clean);
  s.layout = rvt::ReadLayout(s.bytes);
  s.hashes = rvt::FrameHashes(s.clean);
  const std::string video = " -f lavfi -i testsrc=size=320x240:rate=25:duration=8";
  auto make = [&](const std::string& name, const std::string& args) {
    const std::string out = s.dir->File(name);
    rvt::RunShell("ffmpeg -nostdin -v error -y" + args + " " + ShellQuote(out) +
                  " >/dev/null 2>&1");
    return out;
  };
  s.mp3 = make("mp3.avi", video +
                              " -f lavfi -i sine=f=440:duration=8 -c:v mpeg4 -vtag XVID -g 25 -c:a "
                              "libmp3lame -b:a 128k");
  s.pcm = make("pcm.avi",
               video +
                   " -f lavfi -i sine=f=440:duration=8:sample_rate=11025:samples_per_frame=441 "
                   "-c:v mjpeg -q:v 8 -c:a pcm_u8 -ac 1");
  s.two = make("two.avi",
               video +
                   " -f lavfi -i sine=f=440:duration=8 -f lavfi -i sine=f=880:duration=8 -map 0 "
                   "-map 1 -map 2 -c:v mpeg4 -vtag XVID -g 25 -c:a libmp3lame");
  s.raw = make("raw.avi",
               " -f lavfi -i testsrc=size=160x120:rate=25:duration=2 -c:v rawvideo -pix_fmt bgr24");
  return s;
}

// The packets ffmpeg reads from a file: stream, timestamp, size, MD5.
std::set<std::string> Packets(const std::string& path) {
  std::set<std::string> out;
  for (const auto& f : rvt::FramemdRows(path, "-map 0 -c copy"))
    if (f.size() >= 6) out.insert(f[0] + "," + f[2] + "," + f[4] + "," + f[5]);
  return out;
}

// The video chunks of the clean file: their positions and whether they are keyframes.
std::vector<rvt::ChunkLoc> Video(const rvt::AviLayout& l) {
  std::vector<rvt::ChunkLoc> v;
  for (const rvt::ChunkLoc& c : l.chunks)
    if (c.id == "00dc") v.push_back(c);
  return v;
}

class E2eRepair : public ::testing::Test {
 protected:
  void SetUp() override {
    RVT_REQUIRE_FFMPEG();
    for (const std::string* f : {&S().clean, &S().mp3, &S().pcm, &S().two, &S().raw})
      ASSERT_FALSE(rvt::ReadFile(*f).empty()) << "ffmpeg made no " << *f;
    ASSERT_EQ(S().layout.problems, "");
    ASSERT_EQ(S().hashes.size(), 100u);
    ASSERT_EQ(std::set<std::string>(S().hashes.begin(), S().hashes.end()).size(), 100u)
        << "every frame of the test picture differs";
  }
  // Writes the damaged file, repairs it and returns the output's path; the damaged file must
  // be unchanged and the output well formed.
  std::string Repair(const std::string& name, const Bytes& damaged, const std::string& extra = {}) {
    dir_.Write(name + ".avi", damaged);
    const rvt::CliOutcome r =
        rvt::RunCli(dir_, "repair " + name + ".avi -o " + name + ".out.avi --yes " + extra);
    EXPECT_EQ(r.code, 0) << r.all();
    EXPECT_EQ(rvt::ReadFile(dir_.File(name + ".avi")), damaged) << "the damaged file was changed";
    EXPECT_EQ(rvt::ReadLayout(rvt::ReadFile(dir_.File(name + ".out.avi"))).problems, "") << r.all();
    return dir_.File(name + ".out.avi");
  }
  // The repair's frames; the default repair recovers at least as many intact frames as
  // ffmpeg's copy of the damaged file.
  Hashes RepairFrames(const std::string& name, const Bytes& damaged,
                      const std::string& extra = {}) {
    const Hashes repaired = rvt::FrameHashes(Repair(name, damaged, extra));
    const std::string remuxed = dir_.File(name + ".remux.avi");
    rvt::RunShell("ffmpeg -nostdin -v quiet -y -i " + ShellQuote(dir_.File(name + ".avi")) +
                  " -map 0 -c copy " + ShellQuote(remuxed) + " >/dev/null 2>&1");
    const Hashes copied = std::filesystem::exists(remuxed) ? rvt::FrameHashes(remuxed) : Hashes{};
    EXPECT_GE(Intact(repaired), Intact(copied))
        << "repair " << repaired.size() << " frames, ffmpeg -c copy " << copied.size();
    return repaired;
  }
  static size_t Intact(const Hashes& h) {
    return size_t(std::count_if(h.begin(), h.end(), [](const std::string& x) {
      return std::find(S().hashes.begin(), S().hashes.end(), x) != S().hashes.end();
    }));
  }
  // A place in the middle of a chunk's payload with non-zero bytes on both sides, so an
  // inserted run of zeros is exactly as long as the bytes inserted.
  static size_t InsertPoint(const rvt::ChunkLoc& v) {
    size_t p = v.offset + 8 + v.size / 2;
    while (S().bytes[p - 1] == 0 || S().bytes[p] == 0) ++p;
    return p;
  }

  rvt::TempDir dir_{"e2e-case"};
};

TEST_F(E2eRepair, ZerosInsertedIntoVideoChunksAreCutOut) {
  for (const std::vector<size_t>& chunks :
       {std::vector<size_t>{40}, {70, 35, 10}}) {  // back to front
    Bytes damaged = S().bytes;
    for (size_t v : chunks)
      rvt::InsertAt(damaged, InsertPoint(Video(S().layout)[v]), Bytes(4096, 0));
    EXPECT_EQ(RepairFrames("inserted" + std::to_string(chunks.size()), damaged), S().hashes);
  }
}

TEST_F(E2eRepair, FileCutShortKeepsEveryWholeFrame) {
  EXPECT_EQ(RepairFrames("cut-idx1", rvt::Truncated(S().bytes, S().layout.idx1)), S().hashes);
  const rvt::ChunkLoc v = Video(S().layout)[50];
  const Hashes cut = RepairFrames("cut-movi", rvt::Truncated(S().bytes, v.offset + 8 + v.size / 2));
  ASSERT_GE(cut.size(), 50u);
  EXPECT_EQ(Hashes(cut.begin(), cut.begin() + 50),
            Hashes(S().hashes.begin(), S().hashes.begin() + 50));
}

TEST_F(E2eRepair, RunOfZerosOverTheMiddleOfMoviLosesOnlyWhatItCovers) {
  const size_t h0 = (S().layout.moviList + S().layout.idx1) / 2, h1 = h0 + 65536;
  Bytes damaged = S().bytes;
  std::fill(damaged.begin() + long(h0), damaged.begin() + long(h1), 0);
  const Hashes repaired = RepairFrames("hole", damaged);
  const std::set<std::string> got(repaired.begin(), repaired.end());
  const Bytes out = rvt::ReadFile(dir_.File("hole.out.avi"));
  auto text = [](const Bytes& b) { return std::string(b.begin(), b.end()); };
  std::set<std::string> payloads;
  for (const rvt::ChunkLoc& c : rvt::ReadLayout(out).chunks)
    payloads.insert(text(rvt::Slice(out, c.offset + 8, c.size)));
  // Every video chunk wholly outside the hole is in the output; its frame decodes as in the
  // clean file before the hole, and after it from the first keyframe on.
  const std::vector<rvt::ChunkLoc> video = Video(S().layout);
  std::string keys = S().layout.Keys(), lost;
  keys.erase(std::remove(keys.begin(), keys.end(), 'a'), keys.end());
  size_t before = 0, after = 0;
  bool afterKey = false;
  for (size_t i = 0; i < video.size(); ++i) {
    const rvt::ChunkLoc& v = video[i];
    if (v.offset + 8 + v.size > h0 && v.offset < h1) continue;
    const bool isBefore = v.offset < h0;
    ++(isBefore ? before : after);
    afterKey = afterKey || (!isBefore && keys[i] == 'K');
    if (!payloads.count(text(rvt::Slice(S().bytes, v.offset + 8, v.size))))
      lost += "chunk " + std::to_string(i) + " ";
    if ((isBefore || afterKey) && !got.count(S().hashes[i]))
      lost += "frame " + std::to_string(i) + " ";
  }
  EXPECT_EQ(lost, "");
  EXPECT_GT(before, 10u);
  EXPECT_GT(after, 10u);
}

TEST_F(E2eRepair, BrokenSizeFieldsAreSetToTheRealSizes) {
  Bytes damaged = S().bytes;
  const std::vector<rvt::ChunkLoc> video = Video(S().layout);
  for (auto [v, value] :
       {std::pair{20, 0x00ABCDEFu}, {45, 17u}, {80, 0x7FFFFFF0u}, {90, video[90].size + 1001}})
    rvt::OverwriteLE32(damaged, video[size_t(v)].offset + 4, value);
  EXPECT_EQ(rvt::FrameHashes(Repair("sizes-isall", damaged, "--fix eq,isall")), S().hashes);
  RepairFrames("sizes", damaged);
}

TEST_F(E2eRepair, IndexWithAbsoluteOffsetsAndWrongSizesIsRebuilt) {
  Bytes damaged = S().bytes;
  const rvt::AviLayout& l = S().layout;
  for (size_t i = 0; i < l.index.size(); ++i) {
    rvt::OverwriteLE32(damaged, l.idx1 + 16 + 16 * i, l.index[i].offset + uint32_t(l.MoviPos()));
    if (i % 50 == 3) rvt::OverwriteLE32(damaged, l.idx1 + 20 + 16 * i, l.index[i].length + 5);
  }
  EXPECT_EQ(RepairFrames("absolute", damaged), S().hashes);
  const std::string out = Repair("absolute-use", damaged, "--use-index");
  EXPECT_EQ(rvt::FrameHashes(out), S().hashes);
  EXPECT_EQ(rvt::ReadLayout(rvt::ReadFile(out)).index.size(), l.index.size());
}

TEST_F(E2eRepair, EachHeaderModeGivesAFileFfprobeReadsWhole) {
  const size_t audio = S().layout.chunks.size() - 100;
  for (const char* mode : {"built", "assembled", "copied"}) {
    const std::string out = Repair(mode, S().bytes, std::string("--header ") + mode);
    const rvt::ShellResult probe = rvt::RunShell(
        "ffprobe -v error -count_frames -show_entries "
        "stream=codec_type,width,height,nb_frames,nb_read_frames"
        ":format=nb_streams -of csv=p=0 " +
        ShellQuote(out) + " 2>&1");
    EXPECT_EQ(probe.out, "video,320,240,100,100\naudio," + std::to_string(audio) + "," +
                             std::to_string(audio) + "\n2\n")
        << mode;
  }
}

// An interrupted recording: cut at 60 %, RIFF and movi sizes `size`, no idx1, the frame count
// and stream lengths 0. Every packet ffmpeg reads of it is kept, with the clean file's flags.
TEST_F(E2eRepair, InterruptedRecordingsKeepEveryPacketFfmpegReads) {
  for (auto [file, size] : {std::pair{&S().mp3, 0u}, {&S().mp3, 0xFFFFFFFFu}, {&S().pcm, 0u}}) {
    SCOPED_TRACE(*file + " " + std::to_string(size));
    const Bytes clean = rvt::ReadFile(*file);
    const rvt::AviLayout cl = rvt::ReadLayout(clean);
    Bytes damaged = rvt::Truncated(clean, clean.size() * 6 / 10);
    rvt::OverwriteLE32(damaged, 4, size);
    rvt::OverwriteLE32(damaged, cl.moviList + 4, size);
    rvt::OverwriteLE32(damaged, cl.Find("avih") + 8 + 16, 0);
    for (int i = 0; cl.Find("strh", i); ++i)
      rvt::OverwriteLE32(damaged, cl.Find("strh", i) + 8 + 32, 0);
    const std::set<std::string> read = Packets(dir_.Write("as-is.avi", damaged));
    ASSERT_GT(read.size(), 100u);
    const std::string out = Repair("interrupted", damaged);
    const std::set<std::string> kept = Packets(out);
    EXPECT_TRUE(std::includes(kept.begin(), kept.end(), read.begin(), read.end()));
    const rvt::AviLayout l = rvt::ReadLayout(rvt::ReadFile(out));
    EXPECT_EQ(l.Keys(), cl.Keys().substr(0, l.Keys().size()));
    const std::string keys = l.Keys();
    EXPECT_EQ(rvt::ReadLE32(rvt::ReadFile(out), l.Find("avih") + 8 + 16),
              uint32_t(keys.size() - size_t(std::count(keys.begin(), keys.end(), 'a'))))
        << "avih frame count";
  }
}

// The same file with movi as LIST 'rec ' groups (a video chunk and the chunks after it) and an
// idx1 that lists each group (flag 0x1) before its chunks.
Bytes RecGroups(const Bytes& clean) {
  const rvt::AviLayout l = rvt::ReadLayout(clean);
  Bytes movi = rvt::Text("movi"), idx;
  for (size_t i = 0, j; i < l.chunks.size(); i = j) {
    Bytes body;
    std::vector<rvt::IdxEntry> inner;
    for (j = i; j < l.chunks.size() && (j == i || l.chunks[j].id != "00dc"); ++j) {
      const rvt::ChunkLoc& c = l.chunks[j];
      inner.push_back({c.id, l.index[j].flags, uint32_t(movi.size() + 12 + body.size()), c.size});
      rvt::AppendBytes(body, rvt::Slice(clean, c.offset, 8 + c.size + (c.size & 1)));
    }
    rvt::AppendBytes(idx,
                     rvt::Idx1({{"rec ", 1, uint32_t(movi.size()), uint32_t(body.size() + 4)}}));
    rvt::AppendBytes(idx, rvt::Idx1(inner));
    rvt::AppendBytes(movi, rvt::Build(rvt::List("rec ", {rvt::Raw(body)})).bytes);
  }
  Bytes b = rvt::Concat(
      {rvt::Truncated(clean, l.moviList),
       rvt::Build(rvt::List("movi", {rvt::Raw(rvt::Slice(movi, 4, movi.size()))})).bytes,
       rvt::Build(rvt::Chunk("idx1", idx)).bytes});
  rvt::OverwriteLE32(b, 4, uint32_t(b.size() - 8));
  return b;
}

TEST_F(E2eRepair, HealthyFilesComeBackWhole) {
  // rec groups, a second audio stream, plain files: every packet, every keyframe flag; the
  // check and the verification find nothing wrong.
  for (auto [name, clean, bytes] : {std::tuple{"rec", S().pcm, RecGroups(rvt::ReadFile(S().pcm))},
                                    {"rec-mp3", S().mp3, RecGroups(rvt::ReadFile(S().mp3))},
                                    {"two", S().two, rvt::ReadFile(S().two)},
                                    {"mp3", S().mp3, rvt::ReadFile(S().mp3)},
                                    {"raw", S().raw, rvt::ReadFile(S().raw)}}) {
    SCOPED_TRACE(name);
    dir_.Write("in.avi", bytes);
    EXPECT_EQ(rvt::RunCli(dir_, "verify in.avi").code, 0);
    EXPECT_NE(rvt::RunCli(dir_, "check in.avi").out.find("битых блоков: 0"), std::string::npos);
    const std::string out = Repair(name, bytes);
    EXPECT_EQ(Packets(out), Packets(clean));
    EXPECT_EQ(rvt::ReadLayout(rvt::ReadFile(out)).Keys(),
              rvt::ReadLayout(rvt::ReadFile(clean)).Keys());
  }
}

TEST_F(E2eRepair, RebuiltHeadersKeepUncompressedVideoAndPcmSound) {
  // Uncompressed video has a numeric code and ffmpeg's PCM a 16-byte wave format, which the
  // format checks would turn down.
  Bytes raw = rvt::ReadFile(S().raw), pcm = rvt::ReadFile(S().pcm);
  const Bytes pushed = rvt::Concat({rvt::Filled(5000, 0x11), pcm});
  std::fill(raw.begin(), raw.begin() + 24, 0xAA);
  std::fill(pcm.begin(), pcm.begin() + 12, 0);
  EXPECT_EQ(Packets(Repair("raw-head", raw)), Packets(S().raw));
  EXPECT_EQ(Packets(Repair("pcm-riff", pcm)), Packets(S().pcm));
  EXPECT_EQ(Packets(Repair("pcm-pushed", pushed)), Packets(S().pcm));
}

TEST_F(E2eRepair, PcmSoundStaysInSyncThroughHolesAndBrokenSizes) {
  const Bytes clean = rvt::ReadFile(S().pcm);
  std::vector<size_t> audio;
  for (const rvt::ChunkLoc& c : rvt::ReadLayout(clean).chunks)
    if (c.id == "01wb") audio.push_back(c.offset);
  ASSERT_GT(audio.size(), 150u);
  const std::set<std::string> all = Packets(S().pcm);
  // A 64 KiB run of zeros from inside an audio chunk over the chunks after it: every packet
  // keeps its stream, timestamp and size.
  Bytes hole = clean;
  std::fill(hole.begin() + long(audio[80] + 108), hole.begin() + long(audio[80] + 108 + 65536), 0);
  auto timing = [](const std::set<std::string>& packets) {
    std::set<std::string> t;
    for (const std::string& p : packets) t.insert(p.substr(0, p.rfind(',')));
    return t;
  };
  EXPECT_EQ(timing(Packets(Repair("hole", hole))), timing(all));
  // Random size fields on odd audio chunks: one larger than the file, one too small.
  for (uint32_t size : {0x05A3C1F7u, 200u}) {
    Bytes broken = clean;
    rvt::OverwriteLE32(broken, audio[120] + 4, size);
    EXPECT_EQ(Packets(Repair("size", broken)), all) << size;
  }
}

}  // namespace
