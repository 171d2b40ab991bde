// End to end: an FFmpeg-made AVI (MPEG-4 video, MPEG audio) damaged in the test, repaired by
// rivetta-cli, judged by FFmpeg's decoded frame hashes against the clean file's. Each damage is
// also given to `ffmpeg -c copy`, which the repair must match or beat.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
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

std::string Id(const Bytes& b, size_t pos) {
  return pos + 4 <= b.size() ? std::string(b.begin() + long(pos), b.begin() + long(pos) + 4)
                             : std::string("<eof>");
}

struct Entry {
  std::string id;
  uint32_t flags = 0, offset = 0, length = 0;
};

// The top-level movi list and idx1 of a file and the idx1 entries.
struct Layout {
  size_t moviList = 0, idx1 = 0;
  std::vector<Entry> idx;
  std::string error;  // empty when the file is well formed
};

// Well formed: RIFF size = length - 8, the top-level chunks tile the file, the movi list is
// followed by idx1, and every idx1 entry names the chunk at its offset with its size.
Layout Parse(const Bytes& b) {
  Layout l;
  if (b.size() < 12 || Id(b, 0) != "RIFF" || Id(b, 8) != "AVI ") return l.error = "no RIFF AVI", l;
  if (ReadLE32(b, 4) != b.size() - 8) l.error = "RIFF size is not length - 8";
  size_t p = 12;
  while (p + 8 <= b.size()) {
    const uint32_t s = ReadLE32(b, p + 4);
    if (Id(b, p) == "LIST" && Id(b, p + 8) == "movi") l.moviList = p;
    if (Id(b, p) == "idx1") l.idx1 = p;
    p += 8 + uint64_t(s) + (s & 1);
  }
  if (p != b.size() && l.error.empty()) l.error = "top-level chunks do not tile the file";
  if (l.moviList == 0 || l.idx1 == 0) {
    if (l.error.empty()) l.error = "no movi list or no idx1";
    return l;
  }
  const size_t moviPos = l.moviList + 8, moviEnd = moviPos + ReadLE32(b, l.moviList + 4);
  const uint32_t n = ReadLE32(b, l.idx1 + 4) / 16;
  for (uint32_t i = 0; i < n && l.idx1 + 8 + 16 * (i + 1) <= b.size(); ++i) {
    const size_t q = l.idx1 + 8 + 16 * i;
    Entry e{Id(b, q), ReadLE32(b, q + 4), ReadLE32(b, q + 8), ReadLE32(b, q + 12)};
    l.idx.push_back(e);
    const size_t at = moviPos + e.offset;
    if (l.error.empty() &&
        (at + 8 + e.length > moviEnd || Id(b, at) != e.id || ReadLE32(b, at + 4) != e.length))
      l.error = "idx1 entry " + std::to_string(i) + " does not name its chunk";
  }
  return l;
}

// A video chunk of the clean file.
struct Video {
  size_t pos = 0;  // file position of the ID
  uint32_t size = 0;
  bool key = false;
  std::string hash;  // decoded frame
};

struct Clean {
  std::unique_ptr<rvt::TempDir> dir;
  std::string path;
  Bytes bytes;
  Layout layout;
  std::vector<Video> video;
  std::vector<std::string> hashes;
  size_t audioChunks = 0;
};
Clean& C() {
  static Clean c;
  return c;
}

class E2eRepair : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!rvt::FfmpegAvailable() || !C().path.empty()) return;
    Clean& c = C();
    c.dir = std::make_unique<rvt::TempDir>("e2e-repair");
    rvt::FfmpegSampleSettings shape;
    shape.seconds = 4;  // 100 frames, a keyframe every 25
    c.path = rvt::MakeFfmpegAvi(c.dir->path(), shape, "clean.avi");
    c.bytes = rvt::ReadFile(c.path);
    c.layout = Parse(c.bytes);
    c.hashes = FrameHashes(c.path);
    for (const Entry& e : c.layout.idx) {
      if (e.id == "00dc")
        c.video.push_back({c.layout.moviList + 8 + e.offset, e.length, (e.flags & 0x10) != 0, {}});
      if (e.id == "01wb") ++c.audioChunks;
    }
    for (size_t i = 0; i < c.video.size() && i < c.hashes.size(); ++i) c.video[i].hash = c.hashes[i];
  }
  static void TearDownTestSuite() { C().dir.reset(); }

  void SetUp() override {
    RVT_SKIP_WITHOUT_FFMPEG();
    const Clean& c = C();
    ASSERT_FALSE(c.bytes.empty()) << "ffmpeg made no sample";
    ASSERT_EQ(c.layout.error, "");
    ASSERT_EQ(c.video.size(), 100u);
    ASSERT_EQ(c.hashes.size(), 100u);
    ASSERT_EQ(std::set<std::string>(c.hashes.begin(), c.hashes.end()).size(), 100u)
        << "every frame of the test picture differs";
  }

  std::string File(const std::string& name) const { return dir_.File(name); }

  // Writes the damaged file, repairs it and returns the output's frame hashes; the damaged
  // file must be unchanged and the output well formed.
  std::vector<std::string> Repair(const std::string& name, const Bytes& damaged,
                                  const std::string& extra = {}, Bytes* output = nullptr) {
    const std::string in = dir_.Write(name + ".avi", damaged);
    const std::string out = File(name + ".out.avi");
    const Result r = Sh(ShellQuote(RIVETTA_CLI_PATH) + " repair " + ShellQuote(in) + " -o " +
                        ShellQuote(out) + " --yes " + extra + " 2>&1");
    EXPECT_NE(r.rc, 1) << r.out;
    EXPECT_EQ(rvt::ReadFile(in), damaged) << "the damaged file was changed";
    const Bytes written = rvt::ReadFile(out);
    EXPECT_EQ(Parse(written).error, "") << r.out;
    if (output) *output = written;
    return FrameHashes(out);
  }
  // What `ffmpeg -c copy` makes of the damaged file, as frame hashes.
  std::vector<std::string> Remux(const std::string& name, const Bytes& damaged) {
    const std::string in = dir_.Write(name + ".remux-in.avi", damaged);
    const std::string out = File(name + ".remux.avi");
    Sh("ffmpeg -nostdin -v quiet -y -i " + ShellQuote(in) + " -map 0 -c copy " + ShellQuote(out) +
       " >/dev/null 2>&1");
    EXPECT_EQ(rvt::ReadFile(in), damaged);
    return std::filesystem::exists(out) ? FrameHashes(out) : std::vector<std::string>{};
  }
  static size_t Identical(const std::vector<std::string>& hashes) {
    const std::set<std::string> clean(C().hashes.begin(), C().hashes.end());
    return size_t(std::count_if(hashes.begin(), hashes.end(),
                                [&](const std::string& h) { return clean.count(h) != 0; }));
  }
  // The default repair recovers at least as many intact frames as ffmpeg's copy.
  void ExpectAtLeastRemux(const std::string& name, const Bytes& damaged,
                          const std::vector<std::string>& repaired) {
    const std::vector<std::string> remuxed = Remux(name, damaged);
    EXPECT_GE(Identical(repaired), Identical(remuxed))
        << "repair " << repaired.size() << " frames, ffmpeg -c copy " << remuxed.size();
  }
  // A place in the middle of video chunk v's payload with non-zero bytes on both sides, so an
  // inserted run of zeros is exactly as long as the bytes inserted.
  static size_t InsertPoint(const Video& v) {
    const Bytes& b = C().bytes;
    for (size_t k = v.size / 2; k + 1 < v.size; ++k) {
      const size_t p = v.pos + 8 + k;
      if (b[p - 1] != 0 && b[p] != 0) return p;
    }
    ADD_FAILURE() << "no insertion point";
    return v.pos + 8;
  }

  rvt::TempDir dir_{"e2e-case"};
};

TEST_F(E2eRepair, ZerosInsertedIntoVideoChunksAreCutOut) {
  const std::vector<std::vector<size_t>> cases{{40}, {10, 35, 70}};
  for (const auto& chunks : cases) {
    SCOPED_TRACE(std::to_string(chunks.size()) + " chunks");
    Bytes damaged = C().bytes;
    for (auto v = chunks.rbegin(); v != chunks.rend(); ++v)  // back to front: positions hold
      rvt::InsertAt(damaged, InsertPoint(C().video[*v]), Bytes(4096, 0));
    const std::string name = "inserted" + std::to_string(chunks.size());
    const std::vector<std::string> repaired = Repair(name, damaged);
    EXPECT_EQ(repaired, C().hashes);
    ExpectAtLeastRemux(name, damaged, repaired);
  }
}

TEST_F(E2eRepair, FileCutShortKeepsEveryWholeFrame) {
  {
    SCOPED_TRACE("cut before idx1");
    const Bytes damaged = rvt::Truncated(C().bytes, C().layout.idx1);
    const std::vector<std::string> repaired = Repair("cut-idx1", damaged);
    EXPECT_EQ(repaired, C().hashes);
    ExpectAtLeastRemux("cut-idx1", damaged, repaired);
  }
  {
    SCOPED_TRACE("cut inside video chunk 50");
    const Video& v = C().video[50];
    const Bytes damaged = rvt::Truncated(C().bytes, v.pos + 8 + v.size / 2);
    const std::vector<std::string> repaired = Repair("cut-movi", damaged);
    ASSERT_GE(repaired.size(), 50u);
    EXPECT_EQ(std::vector<std::string>(repaired.begin(), repaired.begin() + 50),
              std::vector<std::string>(C().hashes.begin(), C().hashes.begin() + 50));
    ExpectAtLeastRemux("cut-movi", damaged, repaired);
  }
}

TEST_F(E2eRepair, RunOfZerosOverTheMiddleOfMoviLosesOnlyWhatItCovers) {
  const size_t h0 = (C().layout.moviList + C().layout.idx1) / 2, h1 = h0 + 65536;
  Bytes damaged = C().bytes;
  std::fill(damaged.begin() + long(h0), damaged.begin() + long(h1), 0);
  Bytes out;
  const std::vector<std::string> repaired = Repair("hole", damaged, {}, &out);

  // Every video chunk wholly outside the hole is in the output, byte for byte.
  const Layout l = Parse(out);
  std::set<Bytes> payloads;
  for (const Entry& e : l.idx)
    if (e.id == "00dc") {
      const size_t at = l.moviList + 16 + e.offset;
      payloads.insert(Bytes(out.begin() + long(at), out.begin() + long(at + e.length)));
    }
  // Frames that decode as in the clean file: those before the hole, and those after it from
  // the first keyframe on.
  std::set<std::string> got(repaired.begin(), repaired.end());
  bool afterKey = false;
  size_t nBefore = 0, nAfter = 0;
  for (size_t i = 0; i < C().video.size(); ++i) {
    const Video& v = C().video[i];
    const bool before = v.pos + 8 + v.size <= h0, after = v.pos >= h1;
    if (!before && !after) continue;
    ++(before ? nBefore : nAfter);
    const Bytes payload(C().bytes.begin() + long(v.pos + 8),
                        C().bytes.begin() + long(v.pos + 8 + v.size));
    EXPECT_EQ(payloads.count(payload), 1u) << "video chunk " << i << " is missing";
    afterKey = afterKey || (after && v.key);
    if (before || afterKey) {
      EXPECT_EQ(got.count(v.hash), 1u) << "frame " << i;
    }
  }
  EXPECT_GT(nBefore, 10u);
  EXPECT_GT(nAfter, 10u);
  ExpectAtLeastRemux("hole", damaged, repaired);
}

TEST_F(E2eRepair, BrokenSizeFieldsAreSetToTheRealSizes) {
  Bytes damaged = C().bytes;
  const std::pair<size_t, uint32_t> broken[] = {
      {20, 0x00ABCDEF}, {45, 17}, {80, 0x7FFFFFF0}, {90, C().video[90].size + 1001}};
  for (const auto& [v, value] : broken) rvt::OverwriteLE32(damaged, C().video[v].pos + 4, value);
  EXPECT_EQ(Repair("sizes-isall", damaged, "--fix eq,isall"), C().hashes);
  ExpectAtLeastRemux("sizes", damaged, Repair("sizes", damaged));
}

TEST_F(E2eRepair, IndexWithAbsoluteOffsetsAndWrongSizesIsRebuilt) {
  Bytes damaged = C().bytes;
  const size_t idx = C().layout.idx1, moviPos = C().layout.moviList + 8;
  for (size_t i = 0; i < C().layout.idx.size(); ++i) {
    const size_t q = idx + 8 + 16 * i;
    rvt::OverwriteLE32(damaged, q + 8, C().layout.idx[i].offset + uint32_t(moviPos));
    if (i % 50 == 3) rvt::OverwriteLE32(damaged, q + 12, C().layout.idx[i].length + 5);
  }
  for (const char* extra : {"", "--use-index"}) {
    SCOPED_TRACE(extra);
    Bytes out;
    const std::vector<std::string> repaired =
        Repair(std::string("absolute") + (*extra ? "-use" : ""), damaged, extra, &out);
    EXPECT_EQ(repaired, C().hashes);
    EXPECT_EQ(Parse(out).idx.size(), C().layout.idx.size());
    if (!*extra) ExpectAtLeastRemux("absolute", damaged, repaired);
  }
}

TEST_F(E2eRepair, EachHeaderModeGivesAFileFfprobeReads) {
  for (const char* mode : {"built", "assembled", "copied"}) {
    SCOPED_TRACE(mode);
    const std::string in = dir_.Write(std::string(mode) + ".avi", C().bytes);
    const std::string out = File(std::string(mode) + ".out.avi");
    const Result r = Sh(ShellQuote(RIVETTA_CLI_PATH) + " repair " + ShellQuote(in) + " -o " +
                        ShellQuote(out) + " --header " + mode + " 2>&1");
    ASSERT_EQ(r.rc, 0) << r.out;
    EXPECT_EQ(rvt::ReadFile(in), C().bytes);
    EXPECT_EQ(Parse(rvt::ReadFile(out)).error, "");
    const Result probe =
        Sh("ffprobe -v error -count_frames -show_entries "
           "stream=codec_type,width,height,nb_frames,nb_read_frames:format=size,nb_streams "
           "-of default=nw=1 " + ShellQuote(out) + " 2>&1");
    ASSERT_EQ(probe.rc, 0) << probe.out;
    std::multimap<std::string, std::string> kv;
    std::istringstream lines(probe.out);
    for (std::string line; std::getline(lines, line);)
      if (size_t eq = line.find('='); eq != std::string::npos)
        kv.emplace(line.substr(0, eq), line.substr(eq + 1));
    auto one = [&](const std::string& key) {
      auto it = kv.find(key);
      return it == kv.end() ? std::string("<none>") : it->second;
    };
    EXPECT_EQ(one("nb_streams"), "2") << probe.out;
    EXPECT_EQ(one("size"), std::to_string(std::filesystem::file_size(out)));
    EXPECT_EQ(one("width"), "320");
    EXPECT_EQ(one("height"), "240");
    std::vector<std::string> read;
    for (auto [it, end] = kv.equal_range("nb_read_frames"); it != end; ++it)
      read.push_back(it->second);
    EXPECT_EQ(read, (std::vector<std::string>{"100", std::to_string(C().audioChunks)}))
        << probe.out;
    EXPECT_EQ(one("nb_frames"), "100") << "the header's video frame count";
  }
}

}  // namespace

namespace {

// ---- a repair keeps everything the file had ----------------------------------------------------
// FFmpeg-made files with MP3, 8-bit PCM in odd 441-byte chunks, and two audio streams; the
// judge is the list of packets ffmpeg reads (stream, timestamp, size, MD5).

struct Made {
  std::unique_ptr<rvt::TempDir> dir;
  std::string mp3, pcm, two, raw;
};
Made& M() {
  static Made m;
  return m;
}

std::set<std::string> Packets(const std::string& path) {
  std::set<std::string> out;
  for (const auto& f : rvt::FramemdRows(path, "-map 0 -c copy"))
    if (f.size() >= 6) out.insert(f[0] + "," + f[2] + "," + f[4] + "," + f[5]);
  return out;
}
size_t Common(const std::set<std::string>& a, const std::set<std::string>& b) {
  size_t n = 0;
  for (const std::string& p : a) n += b.count(p);
  return n;
}

// The file's chunks in movi order: position of the ID, ID, size.
std::vector<std::tuple<size_t, std::string, uint32_t>> MoviChunks(const Bytes& b) {
  const Layout l = Parse(b);
  std::vector<std::tuple<size_t, std::string, uint32_t>> out;
  const size_t end = l.moviList + 8 + ReadLE32(b, l.moviList + 4);
  for (size_t p = l.moviList + 12; p + 8 <= end;) {
    const uint32_t n = ReadLE32(b, p + 4);
    out.emplace_back(p, Id(b, p), n);
    p += 8 + n + (n & 1);
  }
  return out;
}

// Video keyframe flags of a file's idx1, in order.
std::vector<bool> VideoKeys(const Bytes& b) {
  std::vector<bool> k;
  for (const Entry& e : Parse(b).idx)
    if (e.id == "00dc") k.push_back(e.flags & 0x10);
  return k;
}

// An interrupted recording: cut at `fraction`, RIFF and movi sizes `size`, no idx1 (cut off),
// the frame count and stream lengths 0.
Bytes Interrupted(const Bytes& clean, double fraction, uint32_t size) {
  const Layout l = Parse(clean);
  Bytes b = rvt::Truncated(clean, size_t(double(clean.size()) * fraction));
  rvt::OverwriteLE32(b, 4, size);
  rvt::OverwriteLE32(b, l.moviList + 4, size);
  for (size_t p = 12; p + 4 < l.moviList; ++p) {
    if (Id(b, p) == "avih") rvt::OverwriteLE32(b, p + 8 + 16, 0);
    if (Id(b, p) == "strh") rvt::OverwriteLE32(b, p + 8 + 32, 0);
  }
  return b;
}

// The same file with movi as LIST 'rec ' groups (a video chunk and the chunks after it) and an
// idx1 that lists each group (flag 0x1) before its chunks.
Bytes RecGroups(const Bytes& clean) {
  const Layout l = Parse(clean);
  const auto chunks = MoviChunks(clean);
  Bytes movi = rvt::Text("movi"), idx;
  size_t i = 0;
  while (i < chunks.size()) {
    size_t j = i + 1;
    while (j < chunks.size() && std::get<1>(chunks[j]) != "00dc") ++j;
    Bytes body;
    std::vector<rvt::IdxEntry> inner;
    for (size_t k = i; k < j; ++k) {
      const auto& [pos, id, n] = chunks[k];
      inner.push_back({id, l.idx[k].flags, uint32_t(movi.size() + 12 + body.size()), n});
      body.insert(body.end(), clean.begin() + long(pos), clean.begin() + long(pos + 8 + n + (n & 1)));
    }
    rvt::AppendBytes(idx, rvt::Idx1({{"rec ", 1, uint32_t(movi.size()), uint32_t(body.size() + 4)}}));
    rvt::AppendBytes(idx, rvt::Idx1(inner));
    rvt::AppendFourcc(movi, "LIST");
    rvt::AppendLE32(movi, uint32_t(body.size() + 4));
    rvt::AppendFourcc(movi, "rec ");
    rvt::AppendBytes(movi, body);
    i = j;
  }
  Bytes b(clean.begin(), clean.begin() + long(l.moviList));
  rvt::AppendFourcc(b, "LIST");
  rvt::AppendLE32(b, uint32_t(movi.size()));
  rvt::AppendBytes(b, movi);
  rvt::AppendFourcc(b, "idx1");
  rvt::AppendLE32(b, uint32_t(idx.size()));
  rvt::AppendBytes(b, idx);
  rvt::OverwriteLE32(b, 4, uint32_t(b.size() - 8));
  return b;
}

class E2eKeepsEverything : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!rvt::FfmpegAvailable() || M().dir) return;
    M().dir = std::make_unique<rvt::TempDir>("e2e-keep");
    const std::string d = M().dir->path() + "/";
    const std::string video = " -f lavfi -i testsrc=size=320x240:rate=25:duration=8";
    auto make = [&](const std::string& name, const std::string& args) {
      const std::string out = d + name;
      Sh("ffmpeg -nostdin -v error -y" + args + " " + ShellQuote(out) + " >/dev/null 2>&1");
      return out;
    };
    M().mp3 = make("mp3.avi", video + " -f lavfi -i sine=f=440:duration=8 -c:v mpeg4 -vtag XVID"
                                      " -g 25 -c:a libmp3lame -b:a 128k");
    M().pcm = make("pcm.avi", video + " -f lavfi -i sine=f=440:duration=8:sample_rate=11025:"
                                      "samples_per_frame=441 -c:v mjpeg -q:v 8 -c:a pcm_u8 -ac 1");
    M().two = make("two.avi", video + " -f lavfi -i sine=f=440:duration=8 -f lavfi -i "
                                      "sine=f=880:duration=8 -map 0 -map 1 -map 2 -c:v mpeg4 "
                                      "-vtag XVID -g 25 -c:a libmp3lame");
    M().raw = make("raw.avi", " -f lavfi -i testsrc=size=160x120:rate=25:duration=2"
                              " -c:v rawvideo -pix_fmt bgr24");
  }
  void SetUp() override {
    RVT_SKIP_WITHOUT_FFMPEG();
    for (const std::string* f : {&M().mp3, &M().pcm, &M().two, &M().raw})
      ASSERT_FALSE(rvt::ReadFile(*f).empty()) << "ffmpeg made no " << *f;
  }
  // Repairs the damaged bytes by default; the output's path.
  std::string Repair(const std::string& name, const Bytes& damaged, int expectRc = 0) {
    const std::string in = dir_.Write(name + ".avi", damaged);
    const std::string out = dir_.File(name + ".out.avi");
    const Result r = Sh(ShellQuote(RIVETTA_CLI_PATH) + " repair " + ShellQuote(in) + " -o " +
                        ShellQuote(out) + " --yes 2>&1");
    EXPECT_EQ(r.rc, expectRc) << r.out;
    EXPECT_EQ(Parse(rvt::ReadFile(out)).error, "") << r.out;
    return out;
  }
  rvt::TempDir dir_{"e2e-keep-case"};
};

TEST_F(E2eKeepsEverything, InterruptedRecordingsKeepEveryPacketFfmpegReads) {
  struct Case {
    const std::string* file;
    uint32_t size;
  };
  for (const Case& c : {Case{&M().mp3, 0}, Case{&M().mp3, 0xFFFFFFFF}, Case{&M().pcm, 0}}) {
    SCOPED_TRACE(*c.file + " " + std::to_string(c.size));
    const Bytes clean = rvt::ReadFile(*c.file);
    const Bytes damaged = Interrupted(clean, 0.6, c.size);
    const std::string asIs = dir_.Write("as-is.avi", damaged);
    const std::set<std::string> read = Packets(asIs);
    ASSERT_GT(read.size(), 100u);
    const std::string out = Repair("interrupted", damaged);
    const std::set<std::string> kept = Packets(out);
    EXPECT_EQ(Common(read, kept), read.size()) << "of " << read.size() << " packets";
    // Keyframe flags as ffmpeg wrote them for the clean file; counts for players.
    const Bytes o = rvt::ReadFile(out);
    const std::vector<bool> keys = VideoKeys(o), cleanKeys = VideoKeys(clean);
    ASSERT_LE(keys.size(), cleanKeys.size());
    EXPECT_EQ(keys, std::vector<bool>(cleanKeys.begin(), cleanKeys.begin() + long(keys.size())));
    EXPECT_EQ(ReadLE32(o, 24 + 8 + 16), keys.size()) << "avih frame count";
  }
}

TEST_F(E2eKeepsEverything, HealthyFilesComeBackWhole) {
  // rec groups, a second audio stream, and plain files: every packet, every keyframe flag.
  struct Case {
    const char* name;
    Bytes bytes;
    const std::string* clean;
  };
  const Case cases[] = {{"rec", RecGroups(rvt::ReadFile(M().pcm)), &M().pcm},
                        {"rec-mp3", RecGroups(rvt::ReadFile(M().mp3)), &M().mp3},
                        {"two", rvt::ReadFile(M().two), &M().two},
                        {"mp3", rvt::ReadFile(M().mp3), &M().mp3},
                        {"uncompressed", rvt::ReadFile(M().raw), &M().raw}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string in = dir_.Write(std::string(c.name) + ".in.avi", c.bytes);
    const Result v = Sh(ShellQuote(RIVETTA_CLI_PATH) + " verify " + ShellQuote(in) + " 2>&1");
    EXPECT_EQ(v.rc, 0) << v.out;
    const Result ch = Sh(ShellQuote(RIVETTA_CLI_PATH) + " check " + ShellQuote(in) + " 2>&1");
    EXPECT_NE(ch.out.find("битых блоков: 0"), std::string::npos) << ch.out;
    const std::string out = Repair(c.name, c.bytes);
    const std::set<std::string> clean = Packets(*c.clean);
    EXPECT_EQ(Packets(out), clean);
    EXPECT_EQ(VideoKeys(rvt::ReadFile(out)), VideoKeys(rvt::ReadFile(*c.clean)));
  }
}

TEST_F(E2eKeepsEverything, RebuiltHeadersKeepUncompressedVideoAndPcmSound) {
  // The header is rebuilt from the blocks found; uncompressed video has a numeric code and
  // ffmpeg's PCM a 16-byte wave format, which the format checks would turn down.
  struct Case {
    const char* name;
    const std::string* clean;
    Bytes damaged;
  };
  Bytes raw = rvt::ReadFile(M().raw), pcm = rvt::ReadFile(M().pcm);
  Bytes rawHead = raw, pcmRiff = pcm;
  std::fill(rawHead.begin(), rawHead.begin() + 24, 0xAA);
  std::fill(pcmRiff.begin(), pcmRiff.begin() + 12, 0);
  const Case cases[] = {{"raw-head", &M().raw, rawHead},
                        {"pcm-riff", &M().pcm, pcmRiff},
                        {"pcm-pushed", &M().pcm, rvt::Concat({rvt::Filled(5000, 0x11), pcm})}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Packets(Repair(c.name, c.damaged)), Packets(*c.clean));
  }
}

TEST_F(E2eKeepsEverything, PcmSoundStaysInSyncThroughHolesAndBrokenSizes) {
  const Bytes clean = rvt::ReadFile(M().pcm);
  std::vector<size_t> audio;
  for (const auto& [pos, id, n] : MoviChunks(clean))
    if (id == "01wb") audio.push_back(pos);
  ASSERT_GT(audio.size(), 150u);
  const std::set<std::string> all = Packets(M().pcm);
  // A 64 KiB run of zeros from inside an audio chunk over the chunks after it.
  Bytes hole = clean;
  std::fill(hole.begin() + long(audio[80] + 8 + 100), hole.begin() + long(audio[80] + 8 + 100 + 65536), 0);
  std::set<std::string> timing;  // stream, timestamp and size of every packet
  for (const std::string& p : all) timing.insert(p.substr(0, p.rfind(',')));
  std::set<std::string> got;
  for (const std::string& p : Packets(Repair("hole", hole))) got.insert(p.substr(0, p.rfind(',')));
  EXPECT_EQ(got, timing) << "every packet in its place";
  // Random size fields on odd audio chunks: one larger than the file, one too small.
  for (uint32_t size : {0x05A3C1F7u, 200u}) {
    Bytes broken = clean;
    rvt::OverwriteLE32(broken, audio[120] + 4, size);
    EXPECT_EQ(Packets(Repair("size", broken)), all) << size;
  }
}

}  // namespace
