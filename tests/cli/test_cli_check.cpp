// rivetta-cli check as a program: the grid and summary it prints for the sample, its exit
// codes, the side files it writes, and a check saved early and continued later.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "check/index.h"
#include "check/scanner.h"
#include "cli/console_host.h"
#include "base/host.h"
#include "fixtures/avi_builder.h"
#include "fixtures/cli_run.h"
#include "fixtures/ffmpeg_sample.h"

namespace {

using Outcome = rvt::CliOutcome;
Outcome Cli(const rvt::TempDir& dir, const std::string& args) { return rvt::RunCli(dir, args); }

std::vector<std::string> Split(const std::string& s, const std::string& sep) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (size_t at; (at = s.find(sep, from)) != std::string::npos; from = at + sep.size())
    parts.push_back(s.substr(from, at - from));
  parts.push_back(s.substr(from));
  return parts;
}

std::string Trim(const std::string& s) {
  const size_t a = s.find_first_not_of(' '), b = s.find_last_not_of(' ');
  return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

// The grid's header line and bad-block rows as printed: lines of nine " | "-separated cells.
std::vector<std::string> GridLines(const std::string& out) {
  std::vector<std::string> lines;
  for (const std::string& l : Split(out, "\n"))
    if (Split(l, " | ").size() == 9) lines.push_back(l);
  return lines;
}

// The bad-block rows, cells trimmed.
std::vector<std::vector<std::string>> Rows(const std::string& out) {
  std::vector<std::vector<std::string>> rows;
  for (const std::string& l : GridLines(out)) {
    std::vector<std::string> cells = Split(l, " | ");
    for (std::string& c : cells) c = Trim(c);
    if (!cells[0].empty() && cells[0] != "#" && cells[1] != "#") rows.push_back(cells);
  }
  return rows;
}

std::string Summary(const std::string& out) {
  for (const std::string& l : Split(out, "\n"))
    if (l.rfind("записей в индексе: ", 0) == 0) return l;
  return "(no summary)";
}

class CliCheckTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(Cli(dir_, "make-sample s.avi").code, 0); }
  rvt::TempDir dir_{"cli-check"};
};

TEST_F(CliCheckTest, SampleShowsTheZeroRunBlock) {
  const Outcome r = Cli(dir_, "check s.avi");
  ASSERT_EQ(r.code, 0) << r.err;
  const auto rows = Rows(r.out);
  ASSERT_EQ(rows.size(), 2u) << r.out;
  // Row 1: the video chunk with 4096 zeros inserted 700 bytes into its payload.
  EXPECT_EQ(rows[0][0], "1");
  EXPECT_EQ(rows[0][2], "00dc");
  EXPECT_EQ(rows[0][7], "4096");
  EXPECT_EQ(rows[0][8], "4096(00) at 708");
  EXPECT_EQ(std::stol(rows[0][6]) - std::stol(rows[0][5]), 4096);
  // Row 2: the broken size field, a large negative delta.
  EXPECT_EQ(rows[1][0], "2");
  EXPECT_EQ(rows[1][7][0], '-');
  EXPECT_EQ(std::stoll(rows[1][7]), std::stoll(rows[1][6]) - std::stoll(rows[1][5]));
  EXPECT_LT(std::stoll(rows[1][4]), std::stoll(rows[1][3]));
  EXPECT_EQ(std::stoll(rows[0][3]) - std::stoll(rows[0][4]),
            std::stoll(rows[1][3]) - std::stoll(rows[1][4]));  // both: the movi position
  EXPECT_NE(Summary(r.out).find("битых блоков: 2, поток проверен до конца"), std::string::npos)
      << Summary(r.out);
  EXPECT_TRUE(r.err.empty()) << r.err;  // no progress bar without a terminal
}

TEST_F(CliCheckTest, SideFilesMatchThePrintedResult) {
  const Outcome r =
      Cli(dir_, "check s.avi --save-errors s.2fix --list s.errors.txt --index-out s.idx1");
  ASSERT_EQ(r.code, 0) << r.err;
  const size_t entries =
      std::stoul(Summary(r.out).substr(std::string("записей в индексе: ").size()));
  ASSERT_GT(entries, 0u);

  const rvt::Bytes idx = rvt::ReadFile(dir_.File("s.idx1"));
  ASSERT_EQ(idx.size(), 8 + 16 * entries);
  EXPECT_EQ(std::string(idx.begin(), idx.begin() + 4), "idx1");
  EXPECT_EQ(rvt::ReadLE32(idx, 4), 16 * entries);

  const rvt::Bytes fix = rvt::ReadFile(dir_.File("s.2fix"));
  ASSERT_EQ(fix.size(), 16 + 5 + 2 * 34 + 16 * entries);
  EXPECT_EQ(std::string(fix.begin(), fix.begin() + 13), std::string("2fix\5\0\0\0s.avi", 13));
  EXPECT_EQ(rvt::Bytes(fix.end() - 16 * entries, fix.end()),
            rvt::Bytes(idx.begin() + 8, idx.end()));

  // The text list is the printed grid with a blank line after the header, CR LF between lines.
  const rvt::Bytes list = rvt::ReadFile(dir_.File("s.errors.txt"));
  std::vector<std::string> printed = GridLines(r.out);
  ASSERT_EQ(printed.size(), 3u);
  printed.insert(printed.begin() + 1, "");
  EXPECT_EQ(Split(std::string(list.begin(), list.end()), "\r\n"), printed);

  // Existing side files are not replaced without a yes.
  const Outcome again = Cli(dir_, "check s.avi --no --index-out s.idx1 --save-errors s.2fix");
  EXPECT_EQ(again.code, 0);
  dir_.Write("s.idx1", rvt::Text("keep"));
  EXPECT_EQ(Cli(dir_, "check s.avi --no --index-out s.idx1").code, 0);
  EXPECT_EQ(rvt::ReadFile(dir_.File("s.idx1")), rvt::Text("keep"));
  EXPECT_EQ(Cli(dir_, "check s.avi --yes --index-out s.idx1").code, 0);
  EXPECT_EQ(rvt::ReadFile(dir_.File("s.idx1")), idx);
}

TEST_F(CliCheckTest, CheckSavedEarlyAndContinuedEqualsAFullCheck) {
  const Outcome full = Cli(dir_, "check s.avi --save-errors full.2fix");
  ASSERT_EQ(full.code, 0);

  // Refusing the byte search ends the check at the first broken link, before any bad block.
  const Outcome early = Cli(dir_, "check s.avi --ask-search --no --save-errors early.2fix");
  ASSERT_EQ(early.code, 3) << early.out;
  EXPECT_TRUE(Rows(early.out).empty());
  EXPECT_NE(Summary(early.out).find("битых блоков: 0, проверка закончилась раньше конца потока"),
            std::string::npos)
      << Summary(early.out);

  const Outcome cont =
      Cli(dir_, "check s.avi --load-errors early.2fix --continue --save-errors cont.2fix");
  ASSERT_EQ(cont.code, 0) << cont.err;
  EXPECT_EQ(GridLines(cont.out), GridLines(full.out));
  EXPECT_EQ(Summary(cont.out), Summary(full.out));
  EXPECT_EQ(rvt::ReadFile(dir_.File("cont.2fix")), rvt::ReadFile(dir_.File("full.2fix")));

  // Continuing a check that already reached the end changes nothing.
  const Outcome done = Cli(dir_, "check s.avi --load-errors full.2fix --continue");
  EXPECT_EQ(done.code, 0);
  EXPECT_EQ(GridLines(done.out), GridLines(full.out));
  EXPECT_EQ(Summary(done.out), Summary(full.out));

  // Without --continue the loaded check is started anew.
  const Outcome anew = Cli(dir_, "check s.avi --load-errors early.2fix");
  EXPECT_EQ(anew.code, 0);
  EXPECT_EQ(GridLines(anew.out), GridLines(full.out));

  // A saved check of another file is refused.
  rvt::WriteFile(dir_.File("t.avi"), rvt::ReadFile(dir_.File("s.avi")));
  EXPECT_EQ(Cli(dir_, "check t.avi --load-errors full.2fix --continue").code, 1);
  // Same name in another directory, other letter case: accepted.
  ASSERT_EQ(std::system(("mkdir " + rvt::ShellQuote(dir_.File("sub"))).c_str()), 0);
  rvt::WriteFile(dir_.File("sub/S.AVI"), rvt::ReadFile(dir_.File("s.avi")));
  EXPECT_EQ(Cli(dir_, "check sub/S.AVI --load-errors full.2fix --continue").code, 0);
}

TEST_F(CliCheckTest, ExitCodes) {
  for (const char* args :
       {"check", "check s.avi --bogus", "check s.avi s.avi", "check s.avi --bad-over",
        "check s.avi --bad-over abc", "check s.avi --bad-over -5", "check s.avi --buffer 0",
        "check s.avi --save-errors"}) {
    const Outcome r = Cli(dir_, args);
    EXPECT_EQ(r.code, 2) << args;
    EXPECT_FALSE(r.err.empty()) << args;
  }
  EXPECT_EQ(Cli(dir_, "check missing.avi").code, 1);
  // A RIFF without a movi list.
  dir_.Write(
      "nomovi.avi",
      rvt::Build(rvt::Riff("AVI ", {rvt::List("hdrl", {rvt::Chunk("avih", rvt::AvihPayload({}))})}))
          .bytes);
  const Outcome nomovi = Cli(dir_, "check nomovi.avi");
  EXPECT_EQ(nomovi.code, 1);
  EXPECT_NE(nomovi.out.find("не найден поток"), std::string::npos);
  EXPECT_EQ(Cli(dir_, "check s.avi --load-errors missing.2fix").code, 1);
  // A side file that cannot be written is an error, though the check itself went through.
  const Outcome unwritable = Cli(dir_, "check s.avi --save-errors no/such/dir/x.2fix");
  EXPECT_EQ(unwritable.code, 1);
  EXPECT_FALSE(unwritable.err.empty());
  EXPECT_EQ(Cli(dir_, "check s.avi --index-out no/such/dir/x.idx1").code, 1);
  // Scanning on to the end of the file meets idx1; a yes to the question stops the check early.
  const Outcome eof = Cli(dir_, "check s.avi --scan-to-eof --yes");
  EXPECT_EQ(eof.code, 3);
  EXPECT_NE(Summary(eof.out).find("проверка закончилась раньше конца потока"), std::string::npos);
  // Options that change nothing for this file still parse.
  EXPECT_EQ(Cli(dir_, "check s.avi --no-key-00db --no-key-01wb --streams-01 --buffer 5").code, 0);
  // With sizes over 1 kB bad, the 7001-byte chunks become bad blocks as well.
  const Outcome big = Cli(dir_, "check s.avi --bad-over 5");
  EXPECT_EQ(big.code, 0);
  EXPECT_GT(Rows(big.out).size(), 2u);
}

// The progress line on a terminal: the stream check sends its position apart from its
// percentage, the keyframe search sends entries done and keyframes found.
TEST(ConsoleProgressTest, BarShowsTheCheckPositionAndTheKeyframeSearch) {
  auto drawn = [](auto send) {
    std::FILE* f = std::tmpfile();
    if (!f) return std::string("(no temporary file)");
    {
      rv::cli::ConsoleHost host(f);
      send(host);
    }
    std::string text(size_t(std::ftell(f)), '\0');
    std::rewind(f);
    text.resize(std::fread(text.data(), 1, text.size(), f));
    std::fclose(f);
    return text;
  };
  const std::string check = drawn([](rv::cli::ConsoleHost& h) {
    h.ShowProgress({rv::ProgressTarget::kStreamCheck, 25, true, "ptr: 1 000  >>  4 000"});
  });
  EXPECT_NE(check.find("]  25% ptr: 1 000  >>  4 000"), std::string::npos) << check;

  const std::string keyframes = drawn([](rv::cli::ConsoleHost& h) {
    h.ShowProgress({rv::ProgressTarget::kKeyframes, 25, true, "2 >> 8", 1});
  });
  EXPECT_NE(keyframes.find("[#######.......................]  25% 2 >> 8  опорных кадров: 1"),
            std::string::npos)
      << keyframes;
}

}  // namespace
