// rivetta-cli as a script uses it: the exit code of every command line, what it says, which
// files it writes and which it leaves (--yes / --no, the input never), the printed grid and JSON,
// a check continued later, an interrupted join and the progress line. The bytes of
// the files written are the engine's and the end-to-end tests' concern.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/console_host.h"
#include "fixtures/avi_builder.h"
#include "fixtures/avi_layout.h"
#include "fixtures/cli_run.h"

namespace {

using rvt::Bytes;

class CliTest : public ::testing::Test {
 protected:
  rvt::CliOutcome Cli(const std::string& args) { return rvt::RunCli(dir_, args); }
  std::string Text(const std::string& name) {
    const Bytes b = rvt::ReadFile(dir_.File(name));
    return std::string(b.begin(), b.end());
  }
  rvt::TempDir dir_{"cli"};
};

// The lines of the printed grid (header and bad blocks) and the summary line.
std::string Grid(const std::string& out) {
  std::string grid;
  for (size_t from = 0, to; (to = out.find('\n', from)) != std::string::npos; from = to + 1) {
    const std::string line = out.substr(from, to - from);
    if (line.find(" | ") != std::string::npos || line.rfind("записей в индексе", 0) == 0)
      grid += line + "\n";
  }
  return grid;
}

// True when text is one JSON object whose brackets balance outside strings, without a control
// character inside a string.
bool JsonShaped(const std::string& t) {
  std::string open;
  bool inString = false;
  for (size_t i = t.find_first_not_of(" \n"); i < t.size(); ++i) {
    const char c = t[i];
    if (inString) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        inString = false;
      else if (uint8_t(c) < 0x20)
        return false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '{' || c == '[') {
      open += c;
    } else if (c == '}' || c == ']') {
      if (open.empty() || open.back() != (c == '}' ? '{' : '[')) return false;
      open.pop_back();
      if (open.empty()) return t.find_first_not_of(" \n", i + 1) == std::string::npos;
    } else if (open.empty()) {
      return false;
    }
  }
  return false;
}

TEST_F(CliTest, ExitCodesMessagesAndTheFilesWritten) {
  ASSERT_EQ(Cli("make-sample s.avi").code, 0);
  const rvt::StandardAvi a = rvt::MakeStandardAvi({.nVideo = 4, .nAudio = 4});
  Bytes bad = a.bytes, junk = rvt::Truncated(a.bytes, a.idx1);
  for (size_t i = 0; i < a.index.size(); ++i)  // offsets as file positions
    rvt::OverwriteLE32(bad, a.idx1 + 8 + 16 * i + 8, a.index[i].offset + a.moviPos);
  rvt::AppendBytes(junk, rvt::Concat({rvt::Build(rvt::Chunk("JUNK", Bytes(8, 0))).bytes,
                                      rvt::Slice(a.bytes, a.idx1, a.bytes.size())}));
  rvt::OverwriteLE32(junk, 4, uint32_t(junk.size() - 8));
  const std::vector<std::pair<std::string, Bytes>> inputs = {
      {"a.avi", a.bytes},
      {"b.avi", a.bytes},
      {"bad.avi", bad},
      {"junk.avi", junk},
      {"g.avi", rvt::Concat({rvt::Pattern(100, 3), a.bytes})},
      {"nomovi.avi", rvt::Concat({rvt::Pattern(100, 3), rvt::Truncated(a.bytes, a.movi)})},
      {"noidx.avi", rvt::MakeStandardAvi({.withIdx1 = false}).bytes},
      {"riff.avi", rvt::Build(rvt::Riff("AVI ", {rvt::List("hdrl", {})})).bytes},
      {"text.avi", rvt::Text("this is not a RIFF file at all")},
      {"empty.avi", {}},
      {"keep.avi", rvt::Text("keep")},
      {"keep.idx1", rvt::Text("keep")},
      {"keepj.avi", rvt::Text("keep")}};
  for (const auto& [name, bytes] : inputs) dir_.Write(name, bytes);
  std::filesystem::create_directory(dir_.File("d"));
  const Bytes sample = rvt::ReadFile(dir_.File("s.avi"));

  // After the command: the file is absent ('-'), still "keep" ('k'), or written ('w').
  const struct Row {
    const char* args;
    int code;
    const char* says;
    const char* file;
    char state;
  } rows[] = {
      {"--help", 0, "usage", "", 0},
      {"-h", 0, "usage", "", 0},
      {"help", 0, "usage", "", 0},
      {"info --help", 0, "usage", "", 0},
      {"check s.avi --help", 0, "--save-errors", "", 0},
      {"make-sample --help", 0, "usage", "", 0},
      {"keyframes --help", 0, "usage: rivetta-cli keyframes", "", 0},
      {"info s.avi", 0, "• размер файла больше значения, указанного в заголовке", "", 0},
      {"info missing.avi", 1, "", "", 0},
      {"info text.avi", 1, "", "", 0},
      {"info empty.avi", 1, "", "", 0},
      {"info --fields", 0, "vstrf.CodecSpecificData", "", 0},
      {"codecs", 0, "auto\n", "", 0},
      {"reconstruct g.avi", 0, "• найден блок LIST movi", "", 0},
      {"reconstruct nomovi.avi", 3, "• найден блок strh auds", "", 0},
      {"reconstruct missing.avi", 1, "• ошибка открытия файла", "", 0},
      {"check missing.avi", 1, "", "", 0},
      {"check riff.avi", 1, "не найден поток", "", 0},
      {"check s.avi --load-errors missing.2fix", 1, "", "", 0},
      {"check s.avi --save-errors no/such/dir/x.2fix", 1, "", "", 0},
      {"check s.avi --index-out no/such/dir/x.idx1", 1, "", "", 0},
      {"check s.avi --scan-to-eof --yes", 3, "проверка закончилась раньше конца потока", "", 0},
      {"check s.avi --bad-over 5", 0, "битых блоков: 4", "", 0},
      {"check s.avi --no --index-out keep.idx1", 0, "", "keep.idx1", 'k'},
      {"check s.avi --yes --index-out keep.idx1", 0, "", "keep.idx1", 'w'},
      {"check s.avi --save-errors s.2fix --list s.txt --index-out s.idx1", 0, "", "s.txt", 'w'},
      {"repair s.avi -o keep.avi", 1, "", "keep.avi", 'k'},
      {"repair s.avi -o keep.avi --yes", 0, "", "keep.avi", 'w'},
      {"repair s.avi", 0, "", "s.001.avi", 'w'},
      {"repair s.avi", 0, "", "s.002.avi", 'w'},
      {"repair s.avi -o /dev/full --yes", 1, "/dev/full: файл записан не полностью", "", 0},
      {"repair g.avi -o g.out.avi", 0, "• найден блок LIST movi", "g.out.avi", 'w'},
      {"repair a.avi -o r.avi --reconstruct", 0, "• реконструкция заголовка", "r.avi", 'w'},
      {"repair a.avi -o x.avi --set avih.TimeBetweenFrames=abc", 2, "avih.TimeBetweenFrames: 'abc'",
       "x.avi", '-'},
      {"info a.avi --fields", 0,
       "avih.TimeBetweenFrames         signed decimal               40000", "", 0},
      {"check s.avi --no-key-00db --no-key-01wb --streams-01 --buffer 5", 0, "битых блоков: 2", "",
       0},
      {"join a.avi b.avi -o ./d/../b.avi --yes", 1, "выходной файл совпадает с одним из исходных",
       "", 0},
      {"keyframes a.avi --use-index --codec QQQQ -o k.avi", 1,
       "ошибка открытия декомпрессора для QQQQ", "k.avi", '-'},
      {"verify a.avi", 0, "• ошибок в потоке не обнаружено. размер индекса: 8", "", 0},
      {"verify bad.avi", 3, "• ошибки в индексе", "", 0},
      {"join a.avi b.avi -o ab.avi", 0, "операция завершена", "ab.avi", 'w'},
      {"join a.avi junk.avi -o aj.avi", 1, "ошибка чтения индекса файла 2", "", 0},
      {"join a.avi b.avi -o keepj.avi", 1, "", "keepj.avi", 'k'},
      {"join b.avi -o keepj.avi --yes", 0, "", "keepj.avi", 'w'},
      {"keyframes noidx.avi --use-index", 1, "в исходном файле индекс не найден", "", 0},
  };
  // Bad usage: exit 2 with a word on standard error, and no file written.
  const std::string usage =
      "|frobnicate s.avi|info|info s.avi s.avi|info --bogus s.avi|info s.avi -x|make-sample|"
      "make-sample x.avi y.avi|check|check s.avi --bogus|check s.avi s.avi|check s.avi --bad-over|"
      "check s.avi --bad-over abc|check s.avi --bad-over -5|check s.avi --buffer 0|"
      "check s.avi --save-errors|reconstruct|codecs extra|keyframes|join a.avi b.avi|join -o x.avi|"
      "repair a.avi -o x.avi --set avih.Nothing=1|repair a.avi -o x.avi --set "
      "avih.TimeBetweenFrames|repair a.avi -o x.avi --set nope.Flags=1|"
      "repair a.avi -o x.avi --set vstrf.biPlanes=-|";
  for (size_t from = 0, to; (to = usage.find('|', from)) != std::string::npos; from = to + 1) {
    const std::string args = usage.substr(from, to - from);
    const rvt::CliOutcome o = Cli(args);
    EXPECT_EQ(o.code, 2) << args;
    EXPECT_FALSE(o.err.empty()) << args;
  }
  EXPECT_FALSE(std::filesystem::exists(dir_.File("x.avi")));
  for (const Row& r : rows) {
    const rvt::CliOutcome o = Cli(r.args);
    EXPECT_EQ(o.code, r.code) << r.args << "\n" << o.all();
    EXPECT_NE(o.all().find(r.says), std::string::npos) << r.args << ": " << r.says << "\n"
                                                       << o.all();
    const bool exists = std::filesystem::exists(dir_.File(r.file));
    if (r.state) {
      EXPECT_EQ(exists ? (Text(r.file) == "keep" ? 'k' : 'w') : '-', r.state) << r.args;
    }
  }
  EXPECT_TRUE(Cli("check s.avi").err.empty()) << "no progress bar without a terminal";
  EXPECT_EQ(rvt::ReadFile(dir_.File("s.avi")), sample) << "the input was changed";
  for (const auto& [name, bytes] : inputs)
    if (name.rfind("keep", 0) != 0) {
      EXPECT_EQ(rvt::ReadFile(dir_.File(name)), bytes) << name;
    }
}

TEST_F(CliTest, CheckPrintsTheGridAndAContinuedCheckEqualsAFullOne) {
  ASSERT_EQ(Cli("make-sample s.avi").code, 0);
  const rvt::CliOutcome full = Cli("check s.avi --save-errors full.2fix --list full.txt");
  ASSERT_EQ(full.code, 0);
  EXPECT_EQ(Grid(full.out),
            "      | #     | id    | offset в файле | offset в потоке | заявл.размер | "
            "реальн.размер | дельта     | max повтор\n"
            "1     | 20    | 00dc  | 44720      | 42676      | 3830       | 7926       | 4096      "
            " | 4096(00) at 708\n"
            "2     | 60    | 00dc  | 132732     | 130688     | 2050694144 | 3490       | "
            "-2050690654 | 2(8A) at 110\n"
            "записей в индексе: 98, битых блоков: 2, поток проверен до конца\n");
  // The text list is the printed grid with a blank line after the header, CR LF between lines.
  std::string list = Grid(full.out);
  list = list.substr(0, list.rfind("записей"));
  list.insert(list.find('\n') + 1, "\n");
  for (size_t at = 0; (at = list.find('\n', at)) != std::string::npos; at += 2)
    list.insert(at, "\r");
  EXPECT_EQ(Text("full.txt") + "\r\n", list);

  // Refusing the byte search ends the check at the first broken link, before any bad block.
  const rvt::CliOutcome early = Cli("check s.avi --ask-search --no --save-errors early.2fix");
  EXPECT_EQ(early.code, 3);
  EXPECT_NE(Grid(early.out).find("битых блоков: 0, проверка закончилась раньше конца потока"),
            std::string::npos)
      << early.out;
  // Continued, or checked anew without --continue, or a finished check continued: the same.
  for (const char* args :
       {"check s.avi --load-errors early.2fix --continue --save-errors cont.2fix",
        "check s.avi --load-errors early.2fix", "check s.avi --load-errors full.2fix --continue"}) {
    const rvt::CliOutcome r = Cli(args);
    EXPECT_EQ(r.code, 0) << args;
    EXPECT_EQ(Grid(r.out), Grid(full.out)) << args;
  }
  EXPECT_EQ(rvt::ReadFile(dir_.File("cont.2fix")), rvt::ReadFile(dir_.File("full.2fix")));
  // A saved check of another file is refused; the same name elsewhere in other letters is not.
  dir_.Write("t.avi", rvt::ReadFile(dir_.File("s.avi")));
  EXPECT_EQ(Cli("check t.avi --load-errors full.2fix --continue").code, 1);
  std::filesystem::create_directory(dir_.File("sub"));
  dir_.Write("sub/S.AVI", rvt::ReadFile(dir_.File("s.avi")));
  EXPECT_EQ(Cli("check sub/S.AVI --load-errors full.2fix --continue").code, 0);
}

TEST_F(CliTest, InfoAsJson) {
  ASSERT_EQ(Cli("make-sample s.avi").code, 0);
  dir_.Write("text.avi", rvt::Text("not a RIFF"));
  const rvt::CliOutcome json = Cli("info s.avi --json"), none = Cli("info text.avi --json");
  ASSERT_EQ(json.code, 0);
  EXPECT_TRUE(JsonShaped(json.out)) << json.out;
  EXPECT_TRUE(JsonShaped(none.out)) << none.out;
  EXPECT_FALSE(JsonShaped("{\"a\":[1}")) << "the shape check itself";
  for (const char* key :
       {"{\"file\":\"s.avi\",\"messages\":[\"• размер файла больше", "\"blocks\":[",
        "\"name\":\"RIFF\"", "\"TimeBetweenFrames\":\"40000\"", "\"extended\":false",
        "\"labels\":{\"avih\":\"blue\",\"vstrh\":\"blue\",\"vstrf\":\"blue\",\"astrh\":\"blue\","
        "\"astrf\":\"blue\",\"movi\":\"maroon\",\"idx1\":\"gray\"}"})
    EXPECT_NE(json.out.find(key), std::string::npos) << key;
  // The movi position is the position of the four bytes "movi": the list's offset + 8.
  auto after = [&](const std::string& key, size_t from) {
    return std::atol(json.out.c_str() + json.out.find(key, from) + key.size());
  };
  EXPECT_EQ(after("\"moviPosition\":", 0),
            after("\"offset\":", json.out.find("\"type\":\"movi\"")) + 8);
  // A file without any block: gray labels, no position.
  EXPECT_EQ(none.code, 1);
  EXPECT_NE(none.out.find("\"movi\":\"gray\""), std::string::npos) << none.out;
  EXPECT_NE(none.out.find("\"moviPosition\":null"), std::string::npos) << none.out;
}

TEST_F(CliTest, AnInterruptedJoinExitsThreeWithAFinishedFile) {
  // 100,000 tiny chunks, joined four times: the copy takes long enough to be interrupted. The
  // output is created by the running task, after the interrupt handler is in place.
  const rvt::StandardAvi a =
      rvt::MakeStandardAvi({.nVideo = 100000, .withAudio = false, .videoChunkSize = 8});
  dir_.Write("a.avi", a.bytes);
  const rvt::ShellResult r = rvt::RunShell(
      "cd " + rvt::ShellQuote(dir_.path()) + " && { " + rvt::ShellQuote(RIVETTA_CLI_PATH) +
      " join a.avi a.avi a.avi a.avi -o out.avi >log.txt 2>&1 & p=$!; while [ ! -e out.avi ]; do "
      "sleep 0.001; done; kill -INT $p; wait $p; echo $?; }");
  EXPECT_EQ(r.out, "3\n") << Text("log.txt");
  EXPECT_NE(Text("log.txt").find("прервано пользователем"), std::string::npos) << Text("log.txt");
  const rvt::AviLayout l = rvt::ReadLayout(rvt::ReadFile(dir_.File("out.avi")));
  EXPECT_EQ(l.problems, "");
  EXPECT_GT(l.index.size(), 0u);
  EXPECT_LT(l.index.size(), 4 * a.index.size());
}

// The progress line on a terminal: the stream check sends its position apart from its
// percentage, the keyframe search sends entries done and keyframes found.
TEST(ConsoleProgressTest, BarShowsTheCheckPositionAndTheKeyframeSearch) {
  const struct {
    rv::Progress p;
    const char* drawn;
  } cases[] = {{{rv::ProgressTarget::kStreamCheck, 25, true, "ptr: 1 000  >>  4 000"},
                "]  25% ptr: 1 000  >>  4 000"},
               {{rv::ProgressTarget::kKeyframes, 25, true, "2 >> 8", 1},
                "[#######.......................]  25% 2 >> 8  опорных кадров: 1"}};
  for (const auto& c : cases) {
    std::FILE* f = std::tmpfile();
    ASSERT_TRUE(f);
    rv::cli::ConsoleHost(f).ShowProgress(c.p);
    std::string text(size_t(std::ftell(f)), '\0');
    std::rewind(f);
    text.resize(std::fread(text.data(), 1, text.size(), f));
    std::fclose(f);
    EXPECT_NE(text.find(c.drawn), std::string::npos) << text;
  }
}

}  // namespace
