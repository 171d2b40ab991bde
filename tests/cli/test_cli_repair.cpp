// rivetta-cli repair and verify as a script uses them: exit codes, the output file, the
// refusal to replace a file without --yes or to write over the input.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "fixtures/avi_builder.h"
#include "fixtures/ffmpeg_sample.h"

namespace {

using rvt::Bytes;
using rvt::ShellQuote;

struct Result {
  int rc = -1;
  std::string out;  // stdout and stderr
};

// Runs rivetta-cli with the arguments (already quoted) in the directory given (the current
// one when empty); stdin is not a terminal.
Result Cli(const std::string& args, const std::string& cwd = {}) {
  std::string cmd = ShellQuote(RIVETTA_CLI_PATH) + " " + args + " </dev/null 2>&1";
  if (!cwd.empty()) cmd = "cd " + ShellQuote(cwd) + " && " + cmd;
  Result r;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
  const int status = ::pclose(p);
  r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

bool Contains(const std::string& s, const std::string& part) {
  return s.find(part) != std::string::npos;
}

class CliRepairTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sample_ = dir_.File("sample.avi");
    ASSERT_EQ(Cli("make-sample " + ShellQuote(sample_)).rc, 0);
    sampleBytes_ = rvt::ReadFile(sample_);
    ASSERT_FALSE(sampleBytes_.empty());
  }
  void TearDown() override {
    EXPECT_EQ(rvt::ReadFile(sample_), sampleBytes_) << "the input was changed";
  }
  std::string Q(const std::string& name) const { return ShellQuote(dir_.File(name)); }

  rvt::TempDir dir_{"cli-repair"};
  std::string sample_;
  Bytes sampleBytes_;
};

TEST_F(CliRepairTest, RepairedSampleVerifies) {
  const Result r = Cli("repair " + ShellQuote(sample_) + " -o " + Q("fixed.avi"));
  ASSERT_EQ(r.rc, 0) << r.out;
  const Result v = Cli("verify " + Q("fixed.avi"));
  EXPECT_EQ(v.rc, 0) << v.out;
  EXPECT_TRUE(Contains(v.out, "• ошибок в потоке не обнаружено. размер индекса: 100")) << v.out;
}

TEST_F(CliRepairTest, DefaultOutputNameIsNumberedBesideTheInput) {
  ASSERT_EQ(Cli("repair " + ShellQuote(sample_)).rc, 0);
  EXPECT_TRUE(std::filesystem::exists(dir_.File("sample.001.avi")));
  ASSERT_EQ(Cli("repair " + ShellQuote(sample_)).rc, 0);
  EXPECT_TRUE(std::filesystem::exists(dir_.File("sample.002.avi"))) << "never replaces";
  EXPECT_EQ(rvt::ReadFile(dir_.File("sample.001.avi")), rvt::ReadFile(dir_.File("sample.002.avi")));
}

TEST_F(CliRepairTest, ExistingOutputIsReplacedOnlyWithYes) {
  const std::string out = dir_.File("out.avi");
  rvt::WriteFile(out, rvt::Text("keep"));
  const Result no = Cli("repair " + ShellQuote(sample_) + " -o " + ShellQuote(out));
  EXPECT_EQ(no.rc, 1) << no.out;
  EXPECT_EQ(rvt::ReadFile(out), rvt::Text("keep"));

  const Result yes = Cli("repair " + ShellQuote(sample_) + " -o " + ShellQuote(out) + " --yes");
  EXPECT_EQ(yes.rc, 0) << yes.out;
  EXPECT_EQ(Cli("verify " + ShellQuote(out)).rc, 0);
}

TEST_F(CliRepairTest, OutputThatIsTheInputIsRefused) {
  std::filesystem::create_directory(dir_.File("d"));
  for (const std::string& out :
       {sample_, dir_.path() + "/./d/../sample.avi", std::string("sample.avi")}) {
    SCOPED_TRACE(out);
    // The last spelling is relative to the working directory.
    const Result r =
        Cli("repair " + ShellQuote(sample_) + " -o " + ShellQuote(out) + " --yes", dir_.path());
    EXPECT_NE(r.rc, 0) << r.out;
    EXPECT_TRUE(Contains(r.out, "• выходной файл совпадает с исходным")) << r.out;
    EXPECT_EQ(rvt::ReadFile(sample_), sampleBytes_);
  }
}

TEST_F(CliRepairTest, VerifyExitsThreeWhenTheIndexDoesNotFitTheStream) {
  rvt::StandardAviShape shape;
  shape.nVideo = 4;
  shape.nAudio = 4;
  rvt::StandardAvi a = rvt::MakeStandardAvi(shape);
  const std::string good = dir_.Write("good.avi", a.bytes);
  const Result ok = Cli("verify " + ShellQuote(good));
  EXPECT_EQ(ok.rc, 0) << ok.out;
  EXPECT_TRUE(Contains(ok.out, "• ошибок в потоке не обнаружено. размер индекса: 8")) << ok.out;

  // Offsets as absolute file positions instead of offsets from "movi".
  for (size_t i = 0; i < a.index.size(); ++i)
    rvt::OverwriteLE32(a.bytes, a.idx1 + 8 + 16 * i + 8, a.index[i].offset + a.moviPos);
  const std::string bad = dir_.Write("bad.avi", a.bytes);
  const Result r = Cli("verify " + ShellQuote(bad));
  EXPECT_EQ(r.rc, 3) << r.out;
  EXPECT_TRUE(Contains(r.out, "• ошибки в индексе")) << r.out;
  EXPECT_EQ(rvt::ReadFile(bad), a.bytes);

  // repair rebuilds the index from the stream; with --use-index it tries the file's own first.
  for (const char* extra : {"", " --use-index"}) {
    SCOPED_TRACE(extra);
    const Result rep = Cli("repair " + ShellQuote(bad) + " -o " + Q("rebuilt.avi") + " --yes" + extra);
    EXPECT_EQ(rep.rc, 0) << rep.out;
    EXPECT_EQ(Cli("verify " + Q("rebuilt.avi")).rc, 0);
  }
}

TEST_F(CliRepairTest, FileCutShortKeepsWhatItHoldsOfItsLastChunk) {
  rvt::StandardAviShape shape;
  shape.nVideo = 6;
  shape.nAudio = 6;
  const rvt::StandardAvi a = rvt::MakeStandardAvi(shape);
  const rvt::ChunkLoc& last = a.chunks[7];
  const std::string cut = dir_.Write("cut.avi", rvt::Truncated(a.bytes, last.offset + 8 + 100));

  // The movi size reaches past the end: the check runs to the end of the file, which is then
  // the end of the stream, so even --strict saves.
  const Result r = Cli("repair " + ShellQuote(cut) + " -o " + Q("saved.avi") + " --strict");
  EXPECT_EQ(r.rc, 0) << r.out;
  EXPECT_TRUE(Contains(r.out, "• размер блока movi")) << r.out;
  EXPECT_TRUE(Contains(r.out, "• блок 7 обрезан концом файла: записано 100 байт из " +
                                  std::to_string(last.size)))
      << r.out;
  const Result v = Cli("verify " + Q("saved.avi"));
  EXPECT_EQ(v.rc, 0) << v.out;
  EXPECT_TRUE(Contains(v.out, "размер индекса: 8")) << "seven whole chunks and the cut one\n" << v.out;
}

TEST_F(CliRepairTest, ZerosCountedByTheListSizesAreCutAndTheRepairIsComplete) {
  // 400 zeros inside the fourth chunk, written as part of the file: the RIFF and movi sizes and
  // the file's own index count them. Once they are cut, the check through the cut meets the
  // file's index before the movi list's old end; the repair is still complete.
  rvt::StandardAvi a = rvt::MakeStandardAvi();
  const uint32_t at = a.chunks[3].offset + 8 + 100;
  rvt::InsertAt(a.bytes, at, rvt::Filled(400, 0));
  rvt::OverwriteLE32(a.bytes, 4, rvt::ReadLE32(a.bytes, 4) + 400);
  rvt::OverwriteLE32(a.bytes, a.movi + 4, rvt::ReadLE32(a.bytes, a.movi + 4) + 400);
  for (size_t i = 4; i < a.index.size(); ++i) {
    const size_t field = a.idx1 + 400 + 8 + 16 * i + 8;
    rvt::OverwriteLE32(a.bytes, field, rvt::ReadLE32(a.bytes, field) + 400);
  }
  const std::string damaged = dir_.Write("zeros.avi", a.bytes);
  const Result r = Cli("repair " + ShellQuote(damaged) + " -o " + Q("fixed.avi") + " --strict");
  EXPECT_EQ(r.rc, 0) << r.out;
  EXPECT_TRUE(Contains(r.out, "записано блоков 20 из 20")) << r.out;
  const Result v = Cli("verify " + Q("fixed.avi"));
  EXPECT_EQ(v.rc, 0) << v.out;
}

TEST_F(CliRepairTest, WriteErrorIsAnIncompleteFileAndExitsOne) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const Result r = Cli("repair " + ShellQuote(sample_) + " -o /dev/full --yes");
  EXPECT_EQ(r.rc, 1) << r.out;
  EXPECT_TRUE(Contains(r.out, "• ошибка записи выходного файла")) << r.out;
  EXPECT_TRUE(Contains(r.out, "/dev/full: файл записан не полностью")) << r.out;
  EXPECT_FALSE(Contains(r.out, "записано блоков")) << r.out;
}

}  // namespace
