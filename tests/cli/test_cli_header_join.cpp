// rivetta-cli's header and joining commands as a script uses them: reconstruct, info --fields,
// repair --reconstruct / --set (edits reach the written file, a bad value writes nothing),
// join with its exit codes (an interrupt included), codecs and keyframes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/avi_builder.h"
#include "fixtures/ffmpeg_sample.h"

extern char** environ;

namespace {

using rvt::Bytes;
using rvt::ReadLE32;
using rvt::ShellQuote;

struct Result {
  int rc = -1;
  std::string out;  // stdout and stderr
};

Result Cli(const std::string& args) {
  const std::string cmd = ShellQuote(RIVETTA_CLI_PATH) + " " + args + " </dev/null 2>&1";
  Result r;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
  const int status = ::pclose(p);
  r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

bool Has(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

std::vector<std::string> Lines(const std::string& s) {
  std::vector<std::string> out;
  std::istringstream in(s);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

std::string Id(const Bytes& b, size_t pos) {
  return pos + 4 <= b.size() ? std::string(b.begin() + long(pos), b.begin() + long(pos) + 4)
                             : std::string("<eof>");
}

// Every chunk and list of [from, to) ends inside it with its pad byte, the last exactly at to.
std::string Tiles(const Bytes& b, size_t from, size_t to) {
  size_t p = from;
  while (p < to) {
    if (p + 8 > to) return "chunk header cut at " + std::to_string(p);
    const uint32_t size = ReadLE32(b, p + 4);
    const size_t end = p + 8 + size + (size & 1);
    if (end > to) return Id(b, p) + " at " + std::to_string(p) + " runs past " + std::to_string(to);
    if (Id(b, p) == "LIST" || Id(b, p) == "RIFF") {
      std::string inner = Tiles(b, p + 12, p + 8 + size);
      if (!inner.empty()) return inner;
    }
    p = end;
  }
  return p == to ? std::string() : "overrun at " + std::to_string(p);
}

// Position of the nth chunk with this ID in file order, walking into lists; npos when none.
void Walk(const Bytes& b, size_t from, size_t to, std::vector<std::pair<std::string, size_t>>& out) {
  for (size_t p = from; p + 8 <= to;) {
    const uint32_t size = ReadLE32(b, p + 4);
    out.push_back({Id(b, p), p});
    if (Id(b, p) == "LIST" || Id(b, p) == "RIFF") Walk(b, p + 12, std::min(to, p + 8 + size), out);
    p += 8 + uint64_t(size) + (size & 1);
  }
}
size_t FindChunk(const Bytes& b, const std::string& id, int nth = 0) {
  std::vector<std::pair<std::string, size_t>> all;
  Walk(b, 0, b.size(), all);
  for (const auto& [name, pos] : all)
    if (name == id && nth-- == 0) return pos;
  return std::string::npos;
}

// The idx1 entries of a joined or repaired file whose movi list is at P.
struct Idx {
  std::string error;
  size_t entries = 0;
};
Idx ReadIdx(const Bytes& b) {
  Idx r;
  if (b.size() < 12 || Id(b, 0) != "RIFF" || ReadLE32(b, 4) != b.size() - 8) return r.error = "RIFF", r;
  if (std::string t = Tiles(b, 12, b.size()); !t.empty()) return r.error = t, r;
  size_t P = 12;
  while (P + 12 <= b.size() && !(Id(b, P) == "LIST" && Id(b, P + 8) == "movi"))
    P += 8 + ReadLE32(b, P + 4) + (ReadLE32(b, P + 4) & 1);
  if (P + 12 > b.size()) return r.error = "no movi", r;
  const size_t idx = P + 8 + ReadLE32(b, P + 4);
  if (Id(b, idx) != "idx1") return r.error = "no idx1 after movi", r;
  r.entries = ReadLE32(b, idx + 4) / 16;
  for (size_t e = 0; e < r.entries; ++e) {
    const size_t q = idx + 8 + 16 * e;
    const size_t at = P + 8 + ReadLE32(b, q + 8);
    if (Id(b, at) != Id(b, q) || ReadLE32(b, at + 4) != ReadLE32(b, q + 12))
      return r.error = "entry " + std::to_string(e) + " does not name its chunk", r;
  }
  return r;
}

class CliHeaderJoinTest : public ::testing::Test {
 protected:
  std::string Q(const std::string& name) const { return ShellQuote(dir_.File(name)); }
  std::string Write(const std::string& name, const Bytes& b) { return dir_.Write(name, b); }
  rvt::TempDir dir_{"cli-hj"};
};

// ---- reconstruct, info --fields ---------------------------------------------------------------

TEST_F(CliHeaderJoinTest, ReconstructPrintsTheFoundBlocksAndTheFlatTree) {
  const rvt::StandardAvi sa = rvt::MakeStandardAvi();
  Write("g.avi", rvt::Concat({rvt::Pattern(100, 3), sa.bytes}));
  const Result r = Cli("reconstruct " + Q("g.avi"));
  EXPECT_EQ(r.rc, 0) << r.out;
  for (const char* line : {"• найден блок avih ", "• найден блок strh vids", "• найден блок strf ",
                           "• найден блок strh auds", "• найден блок LIST movi", "'ROOT' 0 'AVI '",
                           "TimeBetweenFrames = 40000", "biCompression = XVID"})
    EXPECT_TRUE(Has(r.out, line)) << line << "\n" << r.out;
  EXPECT_LT(r.out.find("• найден блок avih "), r.out.find("• найден блок LIST movi"));

  // Without a movi list the search runs to the end: no tree.
  Write("n.avi", rvt::Concat({rvt::Pattern(100, 3), Bytes(sa.bytes.begin(), sa.bytes.begin() + long(sa.movi))}));
  const Result n = Cli("reconstruct " + Q("n.avi"));
  EXPECT_EQ(n.rc, 3) << n.out;
  EXPECT_TRUE(Has(n.out, "• найден блок strh auds")) << n.out;
  EXPECT_FALSE(Has(n.out, "'ROOT'")) << n.out;

  const Result m = Cli("reconstruct " + Q("missing.avi"));
  EXPECT_EQ(m.rc, 1) << m.out;
  EXPECT_TRUE(Has(m.out, "• ошибка открытия файла")) << m.out;
  EXPECT_EQ(Cli("reconstruct").rc, 2);
}

TEST_F(CliHeaderJoinTest, InfoFieldsListsEveryEditableFieldAndWithAFileItsValue) {
  const Result r = Cli("info --fields");
  ASSERT_EQ(r.rc, 0) << r.out;
  const std::vector<std::string> lines = Lines(r.out);
  EXPECT_EQ(lines.size(), 15u + 15u + 15u + 13u + 9u) << r.out;
  for (const char* f : {"avih.TimeBetweenFrames", "avih.signature", "vstrh.DeviceHandler", "vstrh.Flags",
                        "astrh.DataRate", "vstrf.CodecSpecificData", "vstrf.biPlanes", "astrf.cbSize",
                        "astrf.CodecSpecificData"}) {
    bool found = false;
    for (const std::string& l : lines) found |= l.rfind(std::string(f) + " ", 0) == 0;
    EXPECT_TRUE(found) << f << "\n" << r.out;
  }
  Write("a.avi", rvt::MakeStandardAvi().bytes);
  const Result v = Cli("info " + Q("a.avi") + " --fields");
  ASSERT_EQ(v.rc, 0) << v.out;
  bool tbf = false, flags = false;
  for (const std::string& l : Lines(v.out)) {
    if (l.rfind("avih.TimeBetweenFrames ", 0) == 0) tbf = l.size() > 5 && l.substr(l.size() - 5) == "40000";
    if (l.rfind("avih.Flags ", 0) == 0) flags = l.substr(l.size() - 4) == "2320";  // 0x910
  }
  EXPECT_TRUE(tbf) << v.out;
  EXPECT_TRUE(flags) << v.out;
}

// ---- repair --set, --reconstruct ---------------------------------------------------------------

TEST_F(CliHeaderJoinTest, ABadFieldValueIsAnErrorNamingTheFieldAndWritesNothing) {
  Write("a.avi", rvt::MakeStandardAvi().bytes);
  const Result r = Cli("repair " + Q("a.avi") + " -o " + Q("out.avi") + " --set avih.TimeBetweenFrames=abc");
  EXPECT_NE(r.rc, 0) << r.out;
  EXPECT_TRUE(Has(r.out, "avih.TimeBetweenFrames")) << r.out;
  EXPECT_TRUE(Has(r.out, "abc")) << r.out;
  EXPECT_FALSE(std::filesystem::exists(dir_.File("out.avi")));
  for (const char* bad : {"avih.Nothing=1", "avih.TimeBetweenFrames", "nope.Flags=1", "vstrf.biPlanes=-"}) {
    const Result b = Cli("repair " + Q("a.avi") + " -o " + Q("out.avi") + " --set " + ShellQuote(bad));
    EXPECT_NE(b.rc, 0) << bad << "\n" << b.out;
    EXPECT_FALSE(std::filesystem::exists(dir_.File("out.avi"))) << bad;
  }
}

TEST_F(CliHeaderJoinTest, FieldEditsReachTheWrittenHeader) {
  Write("a.avi", rvt::MakeStandardAvi().bytes);
  const Result r = Cli("repair " + Q("a.avi") + " -o " + Q("out.avi") +
                       " --set avih.TimeBetweenFrames=33367 --set vstrh.DeviceHandler=DIVX"
                       " --set vstrh.Flags=00000910 --set vstrf.CodecSpecificData=01,0A,FF,7e"
                       " --set astrf.cbSize=4 --set astrf.CodecSpecificData=01,zz");
  ASSERT_EQ(r.rc, 0) << r.out;
  const Bytes out = rvt::ReadFile(dir_.File("out.avi"));
  const Idx idx = ReadIdx(out);
  ASSERT_EQ(idx.error, "");
  const size_t avih = FindChunk(out, "avih");
  ASSERT_NE(avih, std::string::npos);
  EXPECT_EQ(ReadLE32(out, avih + 8), 33367u);
  const size_t vstrh = FindChunk(out, "strh");
  ASSERT_NE(vstrh, std::string::npos);
  EXPECT_EQ(Id(out, vstrh + 12), "DIVX");
  EXPECT_EQ(ReadLE32(out, vstrh + 16), 0x910u);
  const size_t vstrf = FindChunk(out, "strf");
  ASSERT_NE(vstrf, std::string::npos);
  EXPECT_EQ(ReadLE32(out, vstrf + 4), 44u);
  EXPECT_EQ(Bytes(out.begin() + long(vstrf) + 48, out.begin() + long(vstrf) + 52),
            (Bytes{0x01, 0x0A, 0xFF, 0x7E}));
  const size_t astrf = FindChunk(out, "strf", 1);
  ASSERT_NE(astrf, std::string::npos);
  EXPECT_EQ(ReadLE32(out, astrf + 4), 22u);
  EXPECT_EQ(Bytes(out.begin() + long(astrf) + 24, out.begin() + long(astrf) + 30),
            (Bytes{0x04, 0x00, 0x01, 0x00, 0x00, 0x00}));
  EXPECT_EQ(Cli("verify " + Q("out.avi")).rc, 0);

  // An odd number of codec bytes: the size field follows the bytes typed.
  const Result odd = Cli("repair " + Q("a.avi") + " -o " + Q("odd.avi") +
                         " --set vstrf.CodecSpecificData=01,0A,FF");
  ASSERT_EQ(odd.rc, 0) << odd.out;
  const Bytes o = rvt::ReadFile(dir_.File("odd.avi"));
  const size_t f = FindChunk(o, "strf");
  ASSERT_NE(f, std::string::npos);
  EXPECT_EQ(ReadLE32(o, f + 4), 43u);
  EXPECT_EQ(Bytes(o.begin() + long(f) + 48, o.begin() + long(f) + 51), (Bytes{0x01, 0x0A, 0xFF}));
  EXPECT_EQ(Cli("verify " + Q("odd.avi")).rc, 0);
}

TEST_F(CliHeaderJoinTest, RepairRebuildsAHeaderItCannotReadAndOnRequest) {
  const rvt::StandardAvi sa = rvt::MakeStandardAvi();
  Write("g.avi", rvt::Concat({rvt::Pattern(100, 5), sa.bytes}));
  const Result g = Cli("repair " + Q("g.avi") + " -o " + Q("g.out.avi"));
  ASSERT_EQ(g.rc, 0) << g.out;
  EXPECT_TRUE(Has(g.out, "• найден блок LIST movi")) << g.out;
  const Bytes gout = rvt::ReadFile(dir_.File("g.out.avi"));
  const Idx gi = ReadIdx(gout);
  EXPECT_EQ(gi.error, "");
  EXPECT_EQ(gi.entries, sa.index.size());

  Write("a.avi", sa.bytes);
  const Result a = Cli("repair " + Q("a.avi") + " -o " + Q("a.out.avi") + " --reconstruct");
  ASSERT_EQ(a.rc, 0) << a.out;
  EXPECT_TRUE(Has(a.out, "• реконструкция заголовка")) << a.out;
  EXPECT_EQ(rvt::ReadFile(dir_.File("a.out.avi")), gout) << "the same stream under the same built header";
  EXPECT_EQ(Cli("verify " + Q("a.out.avi")).rc, 0);
}

TEST_F(CliHeaderJoinTest, RepairReadsARejectedFormatAsItIsAndKeepsItsStream) {
  // A 16-byte PCM wave format (a 24-byte block) fails the audio size check.
  rvt::StrhFields as;
  as.rate = 176400;
  as.sampleSize = 4;
  std::vector<rvt::Node> movi;
  std::vector<rvt::IdxEntry> idx;
  uint32_t off = 4;
  for (int i = 0; i < 6; ++i) {
    const bool video = i % 2 == 0;
    const rvt::Bytes payload = rvt::Pattern(video ? 300 : 400, uint32_t(i));
    movi.push_back(rvt::Chunk(video ? "00dc" : "01wb", payload));
    idx.push_back({video ? "00dc" : "01wb", 0x10, off, uint32_t(payload.size())});
    off += 8 + uint32_t(payload.size());
  }
  const Bytes file =
      rvt::Build(rvt::Riff(
                     "AVI ",
                     {rvt::List("hdrl",
                                {rvt::Chunk("avih", rvt::AvihPayload({})),
                                 rvt::List("strl", {rvt::Chunk("strh", rvt::StrhPayload("vids", "XVID", {})),
                                                    rvt::Chunk("strf", rvt::VideoStrf(320, 240, "XVID"))}),
                                 rvt::List("strl", {rvt::Chunk("strh", rvt::StrhPayload("auds", "", as)),
                                                    rvt::Chunk("strf", rvt::AudioStrf(1, 2, 44100, 16, {},
                                                                                      false))})}),
                      rvt::List("movi", movi), rvt::Chunk("idx1", rvt::Idx1(idx))}))
          .bytes;
  Write("pcm.avi", file);
  const Result r = Cli("repair " + Q("pcm.avi") + " -o " + Q("out.avi"));
  ASSERT_EQ(r.rc, 0) << r.out;
  const Bytes out = rvt::ReadFile(dir_.File("out.avi"));
  EXPECT_EQ(ReadIdx(out).error, "");
  EXPECT_EQ(ReadIdx(out).entries, 6u);
  const size_t astrf = FindChunk(out, "strf", 1);
  ASSERT_NE(astrf, std::string::npos) << "the audio stream lost its format";
  EXPECT_EQ(ReadLE32(out, astrf + 4), 18u);
  EXPECT_EQ(ReadLE32(out, astrf + 8), 0x00020001u);  // PCM, two channels
  EXPECT_EQ(ReadLE32(out, astrf + 12), 44100u);
  EXPECT_EQ(Cli("verify " + Q("out.avi")).rc, 0);
}

// ---- join --------------------------------------------------------------------------------------

TEST_F(CliHeaderJoinTest, JoinExitCodes) {
  const rvt::StandardAvi sa = rvt::MakeStandardAvi();
  const std::string a = Write("a.avi", sa.bytes), b = Write("b.avi", sa.bytes);
  Bytes junk(sa.bytes.begin(), sa.bytes.begin() + long(sa.idx1));
  rvt::AppendBytes(junk, rvt::Build(rvt::Chunk("JUNK", rvt::Filled(8, 0))).bytes);
  rvt::AppendBytes(junk, Bytes(sa.bytes.begin() + long(sa.idx1), sa.bytes.end()));
  rvt::OverwriteLE32(junk, 4, uint32_t(junk.size() - 8));
  const std::string c = Write("c.avi", junk);

  Result r = Cli("join " + Q("a.avi") + " " + Q("b.avi") + " -o " + Q("ab.avi"));
  EXPECT_EQ(r.rc, 0) << r.out;
  EXPECT_TRUE(Has(r.out, "операция завершена")) << r.out;
  const Bytes ab = rvt::ReadFile(dir_.File("ab.avi"));
  const Idx idx = ReadIdx(ab);
  EXPECT_EQ(idx.error, "");
  EXPECT_EQ(idx.entries, 2 * sa.index.size());

  r = Cli("join " + Q("a.avi") + " " + Q("c.avi") + " -o " + Q("ac.avi"));
  EXPECT_EQ(r.rc, 1) << r.out;
  EXPECT_TRUE(Has(r.out, "ошибка чтения индекса файла 2")) << r.out;

  // An existing output is replaced only with --yes.
  r = Cli("join " + Q("a.avi") + " " + Q("a.avi") + " -o " + Q("ab.avi"));
  EXPECT_EQ(r.rc, 1) << r.out;
  EXPECT_EQ(rvt::ReadFile(dir_.File("ab.avi")), ab);
  r = Cli("join " + Q("b.avi") + " -o " + Q("ab.avi") + " --yes");
  EXPECT_EQ(r.rc, 0) << r.out;
  EXPECT_EQ(ReadIdx(rvt::ReadFile(dir_.File("ab.avi"))).entries, sa.index.size());

  // The output is never one of the inputs, however it is spelled.
  r = Cli("join " + Q("a.avi") + " " + Q("b.avi") + " -o " + ShellQuote(dir_.path() + "/./b.avi") + " --yes");
  EXPECT_EQ(r.rc, 1) << r.out;
  EXPECT_TRUE(Has(r.out, "выходной файл совпадает с одним из исходных")) << r.out;
  EXPECT_EQ(rvt::ReadFile(b), sa.bytes);
  EXPECT_EQ(rvt::ReadFile(a), sa.bytes);

  EXPECT_EQ(Cli("join " + Q("a.avi") + " " + Q("b.avi")).rc, 2);
  EXPECT_EQ(Cli("join -o " + Q("x.avi")).rc, 2);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("x.avi")));
}

TEST_F(CliHeaderJoinTest, AnInterruptedJoinExitsThreeWithAFinishedFile) {
  // 100,000 tiny chunks, joined four times: the copy takes long enough to be interrupted.
  const uint32_t n = 100000;
  Bytes movi = rvt::Text("movi"), idx1;
  for (uint32_t i = 0; i < n; ++i) {
    rvt::AppendBytes(idx1, rvt::Idx1({{"00dc", i % 25 == 0 ? 0x10u : 0u, uint32_t(movi.size()), 8}}));
    rvt::AppendBytes(movi, rvt::Text("00dc"));
    rvt::AppendLE32(movi, 8);
    rvt::AppendBytes(movi, Bytes(8, uint8_t(i)));
  }
  Bytes file = rvt::Build(rvt::Riff("AVI ", {rvt::List("hdrl", {rvt::Chunk("avih", rvt::AvihPayload({}))})}))
                   .bytes;
  rvt::AppendBytes(file, rvt::Text("LIST"));
  rvt::AppendLE32(file, uint32_t(movi.size()));
  rvt::AppendBytes(file, movi);
  rvt::AppendBytes(file, rvt::Text("idx1"));
  rvt::AppendLE32(file, uint32_t(idx1.size()));
  rvt::AppendBytes(file, idx1);
  rvt::OverwriteLE32(file, 4, uint32_t(file.size() - 8));
  const std::string a = Write("a.avi", file);
  const std::string out = dir_.File("out.avi"), log = dir_.File("log.txt");

  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  std::vector<std::string> args{RIVETTA_CLI_PATH, "join", a, a, a, a, "-o", out};
  std::vector<char*> argv;
  for (std::string& s : args) argv.push_back(s.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, RIVETTA_CLI_PATH, &fa, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&fa);
  // The output is created by the running task, after the interrupt handler is in place.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  std::error_code ec;
  while (!std::filesystem::exists(out, ec) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ::kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  const Bytes logBytes = rvt::ReadFile(log);
  const std::string text(logBytes.begin(), logBytes.end());
  ASSERT_TRUE(WIFEXITED(status)) << text;
  EXPECT_EQ(WEXITSTATUS(status), 3) << text;
  EXPECT_TRUE(Has(text, "прервано пользователем")) << text;
  const Idx idx = ReadIdx(rvt::ReadFile(out));
  EXPECT_EQ(idx.error, "");
  EXPECT_GT(idx.entries, 0u);
  EXPECT_LT(idx.entries, 4 * n);
}

// ---- codecs, keyframes -------------------------------------------------------------------------

TEST_F(CliHeaderJoinTest, CodecsListsAutoFirstThenTheDecoders) {
  const Result r = Cli("codecs");
  ASSERT_EQ(r.rc, 0) << r.out;
  const std::vector<std::string> lines = Lines(r.out);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "auto");
  bool mjpg = false;
  for (const std::string& l : lines) mjpg |= l.rfind("MJPG (", 0) == 0;
  EXPECT_TRUE(mjpg) << r.out;
  EXPECT_EQ(Cli("codecs extra").rc, 2);
}

TEST_F(CliHeaderJoinTest, KeyframesUsageAndFailures) {
  const Result h = Cli("keyframes --help");
  EXPECT_EQ(h.rc, 0);
  EXPECT_TRUE(Has(h.out, "usage: rivetta-cli keyframes")) << h.out;
  EXPECT_EQ(Cli("keyframes").rc, 2);

  rvt::StandardAviShape noIdx;
  noIdx.withIdx1 = false;
  Write("n.avi", rvt::MakeStandardAvi(noIdx).bytes);
  const Result n = Cli("keyframes " + Q("n.avi") + " --use-index");
  EXPECT_EQ(n.rc, 1) << n.out;
  EXPECT_TRUE(Has(n.out, "в исходном файле индекс не найден")) << n.out;

  Write("a.avi", rvt::MakeStandardAvi().bytes);
  const Result q = Cli("keyframes " + Q("a.avi") + " --use-index --codec QQQQ -o " + Q("out.avi"));
  EXPECT_EQ(q.rc, 1) << q.out;
  EXPECT_TRUE(Has(q.out, "ошибка открытия декомпрессора для QQQQ")) << q.out;
  EXPECT_FALSE(std::filesystem::exists(dir_.File("out.avi")));
}

}  // namespace
