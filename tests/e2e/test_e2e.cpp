// End to end: FFmpeg-made AVI files, damaged in the test, through rivetta-cli, judged by FFmpeg.
// One table of cases: a sample, a damage, a command line, and what the result must hold (the
// clean file's decoded frames, every packet ffmpeg reads, the keyframe flags, what ffprobe
// reports); the input is never changed and a repaired file is always well formed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
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

// The samples' ffmpeg arguments: a moving test picture with a tone; MPEG-4 with a keyframe
// every 25 frames unless said otherwise.
const std::string kIn = "-f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i sine=f=440 ",
                  kMpeg4 = " -c:v mpeg4 -vtag XVID -g 25 -bf 0 ", kMp2 = " -c:a mp2 -b:a 128k",
                  kMp3 = " -c:a libmp3lame -b:a 128k";
const std::map<std::string, std::string> kSamples = {
    {"mp4", kIn + "-t 4" + kMpeg4 + kMp2},  // 100 frames
    {"pcm",                                 // 8-bit PCM in odd 441-byte chunks, MJPEG
     "-f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i "
     "sine=f=440:sample_rate=11025:samples_per_frame=441 -t 8 -c:v mjpeg -q:v 8 -c:a pcm_u8 -ac 1"},
    {"two", kIn + "-f lavfi -i sine=f=880 -map 0 -map 1 -map 2 -t 8" + kMpeg4 + kMp3},
    {"afirst", kIn + "-map 1 -map 0 -t 2" + kMpeg4 + kMp2},  // audio is stream 00
    {"raw", "-f lavfi -i testsrc=size=160x120:rate=25 -t 2 -c:v rawvideo -pix_fmt bgr24"},
    {"p1", kIn + "-t 1.2" + kMpeg4 + kMp2},
    {"p2", kIn + "-t 1.2 -vf negate" + kMpeg4 + kMp2},
    {"bf2", kIn + "-t 3" + kMpeg4 + "-bf 2" + kMp2},
    {"h264", kIn + "-t 3 -c:v libx264 -g 25 -bf 3 -vtag H264" + kMp2},
    {"xvid", kIn + "-t 3 -c:v libxvid -g 25 -bf 2" + kMp2},  // packs B-frames into P chunks
    {"mjpeg", "-f lavfi -i testsrc=size=320x240:rate=25 -t 1 -c:v mjpeg"}};

// Each sample made when a case first needs it, with its decoded frames.
struct Sample {
  std::string path;
  Bytes bytes;
  rvt::AviLayout layout;
  Hashes frames;
};
const Sample& S(const std::string& name) {
  static rvt::TempDir dir("e2e-samples");
  static std::map<std::string, Sample> made;
  Sample& s = made[name];
  if (s.path.empty() && rvt::FfmpegAvailable()) {
    // "odml": the mp4 sample rewritten as OpenDML in parts of 64 KiB (ffmpeg starts parts only
    // at 1 GiB); the layout check below follows its indexes independently.
    if (name == "odml")
      rvt::RunCli(dir, "repair " + ShellQuote(S("mp4").path) + " -o odml.avi --part-size 65536");
    s.path = name == "odml" ? dir.File("odml.avi")
                            : rvt::MakeFfmpegAvi(dir.path(), name + ".avi", kSamples.at(name));
    s.bytes = rvt::ReadFile(s.path);
    s.layout = rvt::ReadLayout(s.bytes);
    s.frames = rvt::FrameHashes(s.path);
  }
  return s;
}

// The packets ffmpeg reads from a file: stream, timestamp, size and (unless timing) MD5.
std::set<std::string> Packets(const std::string& path, bool timing = false) {
  std::set<std::string> out;
  for (const auto& f : rvt::FramemdRows(path, "-map 0 -c copy"))
    if (f.size() >= 6) out.insert(f[0] + "," + f[2] + "," + f[4] + (timing ? "" : "," + f[5]));
  return out;
}
rvt::AviLayout Layout(const std::string& path) { return rvt::ReadLayout(rvt::ReadFile(path)); }
std::string Sh(const std::string& cmd) { return rvt::RunShell(cmd + " 2>&1").out; }
std::vector<rvt::ChunkLoc> Chunks(const rvt::AviLayout& l, const char* id) {
  std::vector<rvt::ChunkLoc> v;
  for (const rvt::ChunkLoc& c : l.chunks)
    if (c.id == id) v.push_back(c);
  return v;
}
// The video keyframe flags of a file's idx1: K a keyframe, - another frame.
std::string VideoKeys(const std::string& path) {
  std::string k = Layout(path).Keys();
  k.erase(std::remove(k.begin(), k.end(), 'a'), k.end());
  return k;
}
size_t Count(const std::string& s, char c) { return size_t(std::count(s.begin(), s.end(), c)); }
// What a case's checks see.
struct Outcome {
  const Sample& s;
  std::string in, out;  // the damaged input, the output
  rvt::CliOutcome r;
};
using Check = std::function<void(const Outcome&)>;
using Damage = std::function<void(Bytes&, const rvt::AviLayout&)>;

// ---- checks ---------------------------------------------------------------------------------

void Frames(const Outcome& o) { EXPECT_EQ(rvt::FrameHashes(o.out), o.s.frames); }
Check FirstFrames(size_t n) {
  return [n](const Outcome& o) {
    const Hashes h = rvt::FrameHashes(o.out);
    ASSERT_GE(h.size(), n);
    EXPECT_EQ(Hashes(h.begin(), h.begin() + long(n)),
              Hashes(o.s.frames.begin(), o.s.frames.begin() + long(n)));
  };
}
Check SamePackets(bool timing = false) {
  return
      [timing](const Outcome& o) { EXPECT_EQ(Packets(o.out, timing), Packets(o.s.path, timing)); };
}
void SameKeys(const Outcome& o) { EXPECT_EQ(Layout(o.out).Keys(), o.s.layout.Keys()); }
Check Probe(std::string entries, std::string want) {
  return [entries, want](const Outcome& o) {
    EXPECT_EQ(Sh("ffprobe -v error -select_streams v:0 -show_entries stream=" + entries +
                 " -of csv=p=0 " + ShellQuote(o.out)),
              want);
  };
}
// Decodes without a word from ffmpeg, sound included, which is the clean file's.
void PlaysClean(const Outcome& o) {
  EXPECT_EQ(Sh("ffmpeg -nostdin -v error -i " + ShellQuote(o.out) + " -map 0 -f null -"), "");
  const std::string md5 = " -map 0:a -f md5 -";
  EXPECT_EQ(Sh("ffmpeg -nostdin -v quiet -i " + ShellQuote(o.out) + md5),
            Sh("ffmpeg -nostdin -v quiet -i " + ShellQuote(o.s.path) + md5));
}
// The check and the verification find nothing wrong with the input.
void InputIsHealthy(const Outcome& o) {
  const std::string dir = o.in.substr(0, o.in.rfind('/'));
  EXPECT_EQ(rvt::RunCli(dir, "verify " + ShellQuote(o.in)).code, 0);
  EXPECT_NE(rvt::RunCli(dir, "check " + ShellQuote(o.in)).out.find("битых блоков: 0"),
            std::string::npos);
}

// ---- damage ---------------------------------------------------------------------------------

Damage InsertZeros(std::vector<size_t> chunks) {  // back to front
  return [chunks](Bytes& b, const rvt::AviLayout& l) {
    for (size_t v : chunks) {  // in the middle of the payload, between two non-zero bytes
      size_t p = Chunks(l, "00dc")[v].offset + 8 + Chunks(l, "00dc")[v].size / 2;
      while (b[p - 1] == 0 || b[p] == 0) ++p;
      rvt::InsertAt(b, p, Bytes(4096, 0));
    }
  };
}
Damage Overwrite(size_t at, Bytes what) {
  return [=](Bytes& b, const rvt::AviLayout&) { rvt::OverwriteAt(b, at, what); };
}
Damage Prepend(Bytes front) {
  return [front](Bytes& b, const rvt::AviLayout&) { b = rvt::Concat({front, b}); };
}
// Bytes written over a chunk from `at` bytes past its ID on.
Damage AtChunk(const char* id, size_t chunk, size_t at, Bytes what) {
  return [=](Bytes& b, const rvt::AviLayout& l) {
    rvt::OverwriteAt(b, Chunks(l, id)[chunk].offset + at, what);
  };
}
// An interrupted recording: cut at 60 %, no idx1, the RIFF and movi sizes, the frame count and
// the stream lengths 0.
const Damage kInterrupted = [](Bytes& b, const rvt::AviLayout& l) {
  rvt::Truncate(b, b.size() * 6 / 10);
  for (size_t at : {size_t(4), l.moviList + 4, l.Find("avih") + 8 + 16})
    rvt::OverwriteLE32(b, at, 0);
  for (int i = 0; l.Find("strh", i); ++i) rvt::OverwriteLE32(b, l.Find("strh", i) + 8 + 32, 0);
};
// The same file with movi as LIST 'rec ' groups (a video chunk and the chunks after it) and an
// idx1 that lists each group (flag 0x1) before its chunks.
void RecGroups(Bytes& b, const rvt::AviLayout& l) {
  Bytes movi = rvt::Text("movi"), idx;
  for (size_t i = 0, j; i < l.chunks.size(); i = j) {
    Bytes body;
    std::vector<rvt::IdxEntry> inner;
    for (j = i; j < l.chunks.size() && (j == i || l.chunks[j].id != "00dc"); ++j) {
      const rvt::ChunkLoc& c = l.chunks[j];
      inner.push_back({c.id, l.index[j].flags, uint32_t(movi.size() + 12 + body.size()), c.size});
      rvt::AppendBytes(body, rvt::Slice(b, c.offset, 8 + c.size + (c.size & 1)));
    }
    rvt::AppendBytes(idx,
                     rvt::Idx1({{"rec ", 1, uint32_t(movi.size()), uint32_t(body.size() + 4)}}));
    rvt::AppendBytes(idx, rvt::Idx1(inner));
    rvt::AppendBytes(movi, rvt::Build(rvt::List("rec ", {rvt::Raw(body)})).bytes);
  }
  b = rvt::Concat(
      {rvt::Truncated(b, l.moviList),
       rvt::Build(rvt::List("movi", {rvt::Raw(rvt::Slice(movi, 4, movi.size()))})).bytes,
       rvt::Build(rvt::Chunk("idx1", idx)).bytes});
  rvt::OverwriteLE32(b, 4, uint32_t(b.size() - 8));
}

// Every packet ffmpeg reads of the damaged file is kept, with the clean file's flags; avih
// counts the video chunks written.
void KeepsWhatFfmpegReads(const Outcome& o) {
  const std::set<std::string> read = Packets(o.in), kept = Packets(o.out);
  ASSERT_GT(read.size(), 100u);
  EXPECT_TRUE(std::includes(kept.begin(), kept.end(), read.begin(), read.end()));
  const rvt::AviLayout l = Layout(o.out);
  const std::string keys = l.Keys();
  EXPECT_EQ(keys, o.s.layout.Keys().substr(0, keys.size()));
  EXPECT_EQ(rvt::ReadLE32(rvt::ReadFile(o.out), l.Find("avih") + 8 + 16),
            keys.size() - Count(keys, 'a'));
}
// The samples p1 and p2 joined play as one, frame for frame (the join's own tests compare the
// keyframe flags).
void Joined(const Outcome& o) {
  Hashes want = S("p1").frames;
  want.insert(want.end(), S("p2").frames.begin(), S("p2").frames.end());
  ASSERT_TRUE(want.size() == 60 && want[0] != want[30]);
  EXPECT_EQ(Sh("ffmpeg -nostdin -v error -i " + ShellQuote(o.out) + " -map 0 -f null -"), "");
  EXPECT_EQ(rvt::FrameHashes(o.out), want);
}
// The keyframe search sets exactly the clean file's keyframes (every frame of MJPEG).
void FoundKeys(const Outcome& o) {
  const std::string clean = VideoKeys(o.s.path);  // packed files hold fewer chunks than frames
  ASSERT_GE(Count(clean, 'K'), 2u);
  EXPECT_EQ(VideoKeys(o.in), std::string(clean.size(), '-'));
  EXPECT_EQ(VideoKeys(o.out), clean);
  EXPECT_EQ(rvt::FrameHashes(o.out), o.s.frames);
}
// The file's own index decides the keyframe flags, over what the pictures say.
void KeysAsIndexed(const Outcome& o) { EXPECT_EQ(VideoKeys(o.out), VideoKeys(o.in)); }
const Damage kClearKeys = [](Bytes& b, const rvt::AviLayout& l) {
  for (size_t i = 0; i < l.index.size(); ++i)
    rvt::OverwriteLE32(b, l.idx1 + 12 + 16 * i, l.index[i].flags & ~0x10u);
};

// ---- the cases ------------------------------------------------------------------------------

struct Case {
  std::string name, sample;
  Damage damage;     // none: the sample as it is
  std::string args;  // {in} the damaged file, {out} the output, {p2} the sample p2
  std::vector<Check> checks;
};

// A 64 KiB hole in the middle of movi.
const Damage kHole = [](Bytes& b, const rvt::AviLayout& l) {
  std::fill_n(b.begin() + long(l.moviList + l.idx1) / 2, 65536, 0);
};
const Damage kCutBeforeIdx1 = [](Bytes& b, const rvt::AviLayout& l) { rvt::Truncate(b, l.idx1); };
const Damage kCutInChunk50 = [](Bytes& b, const rvt::AviLayout& l) {
  rvt::Truncate(b, Chunks(l, "00dc")[50].offset + 8 + Chunks(l, "00dc")[50].size / 2);
};
const Damage kSizes = [](Bytes& b, const rvt::AviLayout& l) {
  const std::vector<rvt::ChunkLoc> v = Chunks(l, "00dc");
  for (auto [i, value] :
       {std::pair{20, 0x00ABCDEFu}, {45, 17u}, {80, 0x7FFFFFF0u}, {90, v[90].size + 1001}})
    rvt::OverwriteLE32(b, v[size_t(i)].offset + 4, value);
};
// idx1 offsets as file positions, and a few wrong sizes.
const Damage kAbsolute = [](Bytes& b, const rvt::AviLayout& l) {
  for (size_t i = 0; i < l.index.size(); ++i) {
    rvt::OverwriteLE32(b, l.idx1 + 16 + 16 * i, l.index[i].offset + uint32_t(l.moviList + 8));
    if (i % 50 == 3) rvt::OverwriteLE32(b, l.idx1 + 20 + 16 * i, l.index[i].length + 5);
  }
};
// Every byte before the movi list overwritten (and the list's own header with it): no header
// block is left for the reconstruction to find.
Damage NoHeader(size_t more) {
  return [more](Bytes& b, const rvt::AviLayout& l) {
    rvt::OverwriteAt(b, 0, rvt::Pattern(l.moviList + more, 7));
  };
}
const Check kSameIndexSize = [](const Outcome& o) {
  EXPECT_EQ(Layout(o.out).index.size(), o.s.layout.index.size());
};

std::vector<Case> Cases() {
  const std::string R = "repair {in} -o {out} --yes";
  const std::vector<Check> healthy{InputIsHealthy, SamePackets(), SameKeys};
  const std::vector<Check> rebuilt{Frames, PlaysClean};
  // Uncompressed video has a numeric code and ffmpeg's PCM a 16-byte wave format, which the
  // format checks would turn down when the header is rebuilt (raw, pcm).
  // clang-format off
  std::vector<Case> c = {
      {"HoleInMovi", "mp4", kHole, R, {FirstFrames(40)}},
      {"HoleOverPcmSound", "pcm", AtChunk("01wb", 80, 108, Bytes(65536, 0)), R, {SamePackets(true)}},
      {"JoinTwo", "p1", nullptr, "join {in} {p2} -o {out}", {Joined}},
      {"InsertedZerosInThreeVideoChunks", "mp4", InsertZeros({70, 35, 10}), R, {Frames}},
      {"CutBeforeIdx1", "mp4", kCutBeforeIdx1, R, {Frames}},
      {"CutInsideChunk50", "mp4", kCutInChunk50, R, {FirstFrames(50)}},
      {"BrokenSizeFieldsIsall", "mp4", kSizes, R + " --fix eq,isall", {Frames}},
      {"BrokenSizeFields", "mp4", kSizes, R, {FirstFrames(20)}},
      {"AbsoluteIndex", "mp4", kAbsolute, R, {Frames, SameKeys}},
      {"AbsoluteIndexUsed", "mp4", kAbsolute, R + " --use-index", {Frames, kSameIndexSize}},
      {"InterruptedPcm", "pcm", kInterrupted, R, {KeepsWhatFfmpegReads}},
      {"HealthyRecGroupsPcm", "pcm", RecGroups, R, healthy},
      {"HealthyTwoAudioStreams", "two", nullptr, R, healthy},
      {"HealthyRaw", "raw", nullptr, R, healthy},
      {"KeysAsTheFilesIndexSays", "mjpeg", kClearKeys, R, {KeysAsIndexed}},
      {"RawHeaderOverwritten", "raw", Overwrite(0, Bytes(24, 0xAA)), R, {SamePackets()}},
      {"PcmRiffZeroed", "pcm", Overwrite(0, Bytes(12, 0)), R, {SamePackets()}},
      {"PcmPushedBack", "pcm", Prepend(rvt::Filled(5000, 0x11)), R, {SamePackets()}},
      {"PcmLargeSize", "pcm", AtChunk("01wb", 120, 4, {0xF7, 0xC1, 0xA3, 0x05}), R, {SamePackets()}},
      {"GarbageInFront", "mp4", Prepend(rvt::Pattern(100, 42)), "repair {in} -o {out}", rebuilt},
      {"HeaderOverwritten", "mp4", Overwrite(0, rvt::Pattern(24, 43)), "repair {in} -o {out}", rebuilt},
      {"OpenDmlOutput", "mp4", nullptr, R + " --part-size 65536",
       {Frames, SamePackets(), SameKeys, PlaysClean}},
      {"OpenDmlHealthy", "odml", nullptr, R, healthy},
      {"OpenDmlZerosInLaterParts", "odml", InsertZeros({70, 35}), R, {Frames}},
      {"HeaderFromTheStream", "mp4", NoHeader(0), R, {Frames, SamePackets()}},
      {"HeaderFromTheStreamNoMoviList", "h264", NoHeader(12), R, {Frames, SamePackets()}},
      {"HeaderFromTheStreamTwoAudio", "two", NoHeader(0), R, {Frames, SamePackets()}},
      {"HeaderFromTheStreamAudioFirst", "afirst", NoHeader(0), R, {Frames, SamePackets()}},
      // The first chunk's header is gone too: the file's own idx1 places it and gives it back.
      {"HeaderFromTheStreamFirstChunkHit", "mp4", NoHeader(20), R, {Frames, SamePackets()}},
      // The search finds only the later parts' movi lists, and idx1 covers the first part
      // only: every part is read, and the first chunk given back.
      {"HeaderFromTheStreamInParts", "odml", NoHeader(20), R, {Frames, SamePackets()}},
      {"HeaderFromADonorPcm", "pcm", NoHeader(12), R + " --donor {clean}", {Frames, SamePackets()}},
      {"FrameRateEdited", "mp4", nullptr, "repair {in} -o {out} --set avih.TimeBetweenFrames=20000 "
       "--set vstrh.DataRate=50 --set vstrh.TimeScale=1", {Probe("avg_frame_rate", "50/1\n"), Frames}},
  };
  // clang-format on
  // The keyframe search with every keyframe flag of idx1 cleared, with the file's own index and
  // (the packed file) with the index of a stream check; decoders hand the pictures of files with
  // B-frames back late and out of order.
  for (auto [sample, own] :
       {std::pair{"bf2", true}, {"h264", true}, {"xvid", true}, {"mjpeg", true}, {"xvid", false}})
    c.push_back({std::string("Keyframes") + (own ? "UseIndex" : "CheckIndex") + sample,
                 sample,
                 kClearKeys,
                 std::string("keyframes {in} --yes -o {out}") + (own ? " --use-index" : ""),
                 {FoundKeys}});
  return c;
}

void PrintTo(const Case& c, std::ostream* os) { *os << c.name << ": " << c.args; }

class E2e : public ::testing::TestWithParam<Case> {};

TEST_P(E2e, Case) {
  RVT_REQUIRE_FFMPEG();
  const Case& c = GetParam();
  const Sample& s = S(c.sample);
  ASSERT_FALSE(s.bytes.empty()) << "ffmpeg made no " << c.sample;
  ASSERT_EQ(s.layout.problems, "");
  rvt::TempDir dir("e2e");
  Bytes damaged = s.bytes;
  if (c.damage) c.damage(damaged, s.layout);
  Outcome o{s, dir.Write("in.avi", damaged), dir.File("out.avi"), {}};
  std::string args = c.args;
  auto put = [&](const std::string& key, const std::string& value) {
    for (size_t at; (at = args.find(key)) != std::string::npos;)
      args.replace(at, key.size(), value);
  };
  put("{in}", "in.avi");
  put("{out}", "out.avi");
  if (args.find("{p2}") != std::string::npos) put("{p2}", ShellQuote(S("p2").path));
  put("{clean}", ShellQuote(s.path));
  o.r = rvt::RunCli(dir, args);
  EXPECT_EQ(o.r.code, 0) << args << "\n" << o.r.all();
  EXPECT_EQ(rvt::ReadFile(o.in), damaged) << "the input was changed";
  if (args.rfind("repair", 0) == 0) {
    EXPECT_EQ(Layout(o.out).problems, "") << o.r.all();
  }
  for (const Check& check : c.checks) check(o);
}

INSTANTIATE_TEST_SUITE_P(All, E2e, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& i) { return i.param.name; });

// A donor whose codec and sound differ from the stream is never taken silently: without --yes
// the repair stops and says why; with it the donor's header is written.
TEST(E2eDonor, AMismatchedDonorNeedsYes) {
  RVT_REQUIRE_FFMPEG();
  rvt::TempDir dir("e2e");
  Bytes damaged = S("mp4").bytes;
  NoHeader(0)(damaged, S("mp4").layout);
  dir.Write("in.avi", damaged);
  const std::string args = "repair in.avi -o out.avi --donor " + ShellQuote(S("h264").path);
  const rvt::CliOutcome no = rvt::RunCli(dir, args);
  EXPECT_EQ(no.code, 1);
  EXPECT_NE(no.out.find("кодек видео донора H.264, в потоке MPEG-4 Part 2"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir.File("out.avi")));
  EXPECT_EQ(rvt::RunCli(dir, args + " --yes").code, 0);
  EXPECT_EQ(rvt::RunShell("ffprobe -v quiet -show_entries stream=codec_name -of csv=p=0 " +
                          ShellQuote(dir.File("out.avi")))
                .out,
            "h264\nmp2\n");
}

}  // namespace
