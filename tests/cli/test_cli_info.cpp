// rivetta-cli as a program: "info" with its exit codes and JSON output, the help of every
// command, and the usage errors.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "fixtures/avi_builder.h"
#include "fixtures/cli_run.h"
#include "fixtures/ffmpeg_sample.h"

namespace {

using Outcome = rvt::CliOutcome;
Outcome Cli(const rvt::TempDir& dir, const std::string& args) { return rvt::RunCli(dir, args); }

// True when text is one JSON value whose brackets balance outside strings.
bool JsonShaped(const std::string& text) {
  std::string stack;
  bool inString = false;
  size_t i = text.find_first_not_of(" \n");
  if (i == std::string::npos || text[i] != '{') return false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        inString = false;
      else if (uint8_t(c) < 0x20)
        return false;
      continue;
    }
    if (c == '"')
      inString = true;
    else if (c == '{' || c == '[')
      stack.push_back(c);
    else if (c == '}' || c == ']') {
      if (stack.empty() || stack.back() != (c == '}' ? '{' : '[')) return false;
      stack.pop_back();
      if (stack.empty()) return text.find_first_not_of(" \n", i + 1) == std::string::npos;
    }
  }
  return false;
}

class CliInfoTest : public ::testing::Test {
 protected:
  rvt::TempDir dir_{"cli-info"};
};

TEST_F(CliInfoTest, ExitCodes) {
  ASSERT_EQ(Cli(dir_, "make-sample s.avi").code, 0);
  EXPECT_EQ(Cli(dir_, "info s.avi").code, 0);  // its messages are not errors
  EXPECT_EQ(Cli(dir_, "info missing.avi").code, 1);
  dir_.Write("text.avi", rvt::Text("this is not a RIFF file at all"));
  EXPECT_EQ(Cli(dir_, "info text.avi").code, 1);
  dir_.Write("empty.avi", {});
  EXPECT_EQ(Cli(dir_, "info empty.avi").code, 1);
  for (const char* args : {"info", "info s.avi s.avi", "info --bogus s.avi", "info s.avi -x", "",
                           "frobnicate s.avi", "make-sample", "make-sample a.avi b.avi"}) {
    const Outcome r = Cli(dir_, args);
    EXPECT_EQ(r.code, 2) << "'" << args << "'";
    EXPECT_FALSE(r.err.empty()) << "'" << args << "'";
  }
}

TEST_F(CliInfoTest, HelpOfEveryCommandExitsZero) {
  for (const char* args : {"--help", "-h", "help", "info --help", "check --help",
                           "make-sample --help", "info s.avi --help", "check s.avi --help"}) {
    const Outcome r = Cli(dir_, args);
    EXPECT_EQ(r.code, 0) << args;
    EXPECT_NE(r.out.find("usage"), std::string::npos) << args;
  }
  EXPECT_NE(Cli(dir_, "check --help").out.find("--save-errors"), std::string::npos);
}

TEST_F(CliInfoTest, TextAndJson) {
  ASSERT_EQ(Cli(dir_, "make-sample s.avi").code, 0);
  const Outcome text = Cli(dir_, "info s.avi");
  EXPECT_NE(text.out.find("'LIST' "), std::string::npos);
  EXPECT_NE(text.out.find("'movi'"), std::string::npos);
  // The sample carries 4096 inserted bytes that no size field counts.
  EXPECT_NE(text.out.find("• размер файла больше значения, указанного в заголовке"),
            std::string::npos);

  // The movi size does not count the inserted bytes either, so the walk behind the list lands
  // inside it and never meets idx1.
  const Outcome json = Cli(dir_, "info s.avi --json");
  ASSERT_EQ(json.code, 0);
  EXPECT_TRUE(JsonShaped(json.out)) << json.out.substr(0, 400);
  for (const char* key :
       {"\"file\":\"s.avi\"", "\"messages\":[\"• размер файла больше", "\"blocks\":[",
        "\"name\":\"RIFF\"", "\"type\":\"movi\"", "\"TimeBetweenFrames\":\"40000\"",
        "\"labels\":{\"avih\":\"blue\",\"vstrh\":\"blue\",\"vstrf\":\"blue\",\"astrh\":\"blue\","
        "\"astrf\":\"blue\",\"movi\":\"maroon\",\"idx1\":\"gray\"}",
        "\"moviPosition\":", "\"extended\":false"})
    EXPECT_NE(json.out.find(key), std::string::npos) << key;
  // The movi position is the position of the four bytes "movi": the list's offset + 8.
  auto numberAfter = [&](const std::string& key, size_t from) {
    const size_t at = json.out.find(key, from);
    return at == std::string::npos ? -1L : std::atol(json.out.c_str() + at + key.size());
  };
  const long listOffset = numberAfter("\"offset\":", json.out.find("\"type\":\"movi\""));
  EXPECT_GT(listOffset, 0);
  EXPECT_EQ(numberAfter("\"moviPosition\":", 0), listOffset + 8);

  // A file without any block: the document still parses, with gray labels.
  dir_.Write("text.avi", rvt::Text("not a RIFF"));
  const Outcome none = Cli(dir_, "info text.avi --json");
  EXPECT_EQ(none.code, 1);
  EXPECT_TRUE(JsonShaped(none.out)) << none.out;
  EXPECT_NE(none.out.find("\"movi\":\"gray\""), std::string::npos);
  EXPECT_NE(none.out.find("\"moviPosition\":null"), std::string::npos);
}

}  // namespace
