// rivetta-cli as a script uses it: the exit code of every command line, what it says, which
// files it writes and which it leaves (--yes / --no, the input never), a check continued later
// and an interrupted join. The bytes of the files written are the engine's and the end-to-end
// tests' concern.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/common.h"
#include "cli/json.h"
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
  // The whole of stdout as one JSON document; a failure when it is not exactly that.
  QJsonDocument Json(const std::string& args, int* code = nullptr) {
    const rvt::CliOutcome o = Cli(args);
    if (code) *code = o.code;
    QJsonParseError e;
    QJsonDocument d = QJsonDocument::fromJson(QByteArray::fromStdString(o.out), &e);
    EXPECT_EQ(e.error, QJsonParseError::NoError) << args << "\n" << o.out;
    return d;
  }
  rvt::TempDir dir_{"cli"};
};

TEST_F(CliTest, ExitCodesMessagesAndTheFilesWritten) {
  ASSERT_EQ(Cli("make-sample s.avi").code, 0);
  const rvt::StandardAvi a = rvt::MakeStandardAvi({.nVideo = 4, .nAudio = 4});
  Bytes bad = a.bytes;
  for (size_t i = 0; i < a.index.size(); ++i)  // offsets as file positions
    rvt::OverwriteLE32(bad, a.idx1 + 8 + 16 * i + 8, a.index[i].offset + a.moviPos);
  const std::vector<std::pair<std::string, Bytes>> inputs = {
      {"a.avi", a.bytes},
      {"b.avi", a.bytes},
      {"bad.avi", bad},
      {"g.avi", rvt::Concat({rvt::Pattern(100, 3), a.bytes})},
      {"nomovi.avi", rvt::Concat({rvt::Pattern(100, 3), rvt::Truncated(a.bytes, a.movi)})},
      {"h.avi",
       rvt::Concat({rvt::Pattern(a.movi, 5), rvt::Slice(a.bytes, a.movi, a.bytes.size())})},
      {"noidx.avi", rvt::MakeStandardAvi({.withIdx1 = false}).bytes},
      {"riff.avi", rvt::Build(rvt::Riff("AVI ", {rvt::List("hdrl", {})})).bytes},
      {"text.avi", rvt::Text("this is not a RIFF file at all")},
      {"keep.avi", rvt::Text("keep")},
      {"keep.idx1", rvt::Text("keep")},
      {"keepj.avi", rvt::Text("keep")}};
  for (const auto& [name, bytes] : inputs) dir_.Write(name, bytes);
  std::filesystem::create_directory(dir_.File("d"));
  const Bytes sample = rvt::ReadFile(dir_.File("s.avi"));
  dir_.Write("t.avi", sample);

  // After the command: the file is absent ('-'), still "keep" ('k'), or written ('w').
  const struct Row {
    const char* args;
    int code;
    const char* says;
    const char* file;
    char state;
  } rows[] = {
      {"--help", 0, "usage", "", 0},
      {"check s.avi --help", 0, "--save-errors", "", 0},
      {"info missing.avi", 1, "", "", 0},
      {"info text.avi --json", 1, "\"movi_position\":null", "", 0},
      {"info s.avi --json", 0, "\"TimeBetweenFrames\":\"40000\"", "", 0},
      {"info --fields", 0, "vstrf.CodecSpecificData", "", 0},
      {"codecs", 0, "auto\n", "", 0},
      {"reconstruct g.avi", 0, "• найден блок LIST movi", "", 0},
      {"reconstruct nomovi.avi", 3, "• найден блок strh auds", "", 0},
      {"check riff.avi", 1, "не найден поток\n• repair восстановит заголовок", "", 0},
      {"verify h.avi", 1, "• repair восстановит заголовок", "", 0},
      {"check s.avi --load-errors missing.2fix", 1, "", "", 0},
      {"check s.avi --scan-to-eof --yes", 3, "проверка закончилась раньше конца потока", "", 0},
      {"check s.avi --bad-over 5", 0, "битых блоков: 4", "", 0},
      {"check s.avi --no --index-out keep.idx1", 0, "", "keep.idx1", 'k'},
      {"check s.avi --yes --index-out keep.idx1", 0, "", "keep.idx1", 'w'},
      {"check s.avi --save-errors s.2fix --list s.txt --index-out s.idx1", 0, "", "s.txt", 'w'},
      {"check s.avi --ask-search --no --save-errors e.2fix", 3,
       "битых блоков: 0, проверка закончилась раньше конца потока", "e.2fix", 'w'},
      {"check s.avi --load-errors e.2fix --continue", 0, "битых блоков: 2, поток проверен до конца",
       "", 0},
      {"check t.avi --load-errors s.2fix --continue", 1, "", "", 0},
      {"repair s.avi -o keep.avi", 1, "", "keep.avi", 'k'},
      {"repair s.avi -o keep.avi --yes", 0, "", "keep.avi", 'w'},
      {"repair s.avi", 0, "", "s.001.avi", 'w'},
      {"repair s.avi -o /dev/full --yes", 1,
       "• ошибка записи выходного файла\n/dev/full: файл записан не полностью", "", 0},
      {"repair a.avi -o r.avi --reconstruct", 0, "• реконструкция заголовка", "r.avi", 'w'},
      // No header and no codec the stream tells: only a donor's header will do.
      {"repair h.avi -o h1.avi", 1, "• формат видео не распознан", "h1.avi", '-'},
      {"repair h.avi -o h2.avi --donor text.avi", 1, "text.avi: это не файл AVI", "h2.avi", '-'},
      {"repair h.avi -o h3.avi --donor a.avi", 0, "• avih взят из донора a.avi", "h3.avi", 'w'},
      {"repair a.avi -o h4.avi --donor b.avi", 0, "• заголовок цел: донор не нужен", "", 0},
      {"check s.avi --no-key-00db --no-key-01wb --streams-01 --buffer 5", 0, "битых блоков: 2", "",
       0},
      {"join a.avi b.avi -o ./d/../b.avi --yes", 1, "выходной файл совпадает с одним из исходных",
       "", 0},
      {"keyframes a.avi --use-index --codec QQQQ -o k.avi", 1,
       "ошибка открытия декомпрессора для QQQQ", "k.avi", '-'},
      {"verify bad.avi", 3, "• ошибки в индексе", "", 0},
      {"join a.avi b.avi -o keepj.avi", 1, "", "keepj.avi", 'k'},
      {"join b.avi -o keepj.avi --yes", 0, "", "keepj.avi", 'w'},
      {"keyframes noidx.avi --use-index", 1, "в исходном файле индекс не найден", "", 0},
  };
  // Bad usage: exit 2 with a word on standard error, and no file written.
  const std::string usage =
      "|frobnicate s.avi|info|info s.avi s.avi|info --bogus s.avi|make-sample x.avi y.avi|"
      "check s.avi --bad-over|check s.avi --bad-over -5|check s.avi --buffer 0|codecs extra|"
      "join a.avi b.avi|repair a.avi -o x.avi --set avih.Nothing=1|repair a.avi -o x.avi --set "
      "avih.TimeBetweenFrames=abc|repair a.avi -o x.avi --set vstrf.biPlanes=-|";
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
    if (!r.state) continue;
    const char state = !std::filesystem::exists(dir_.File(r.file)) ? '-'
                       : Text(r.file) == "keep"                    ? 'k'
                                                                   : 'w';
    EXPECT_EQ(state, r.state) << r.args;
  }
  EXPECT_EQ(rvt::ReadFile(dir_.File("s.avi")), sample) << "the input was changed";
  for (const auto& [name, bytes] : inputs)
    EXPECT_TRUE(name.rfind("keep", 0) == 0 || rvt::ReadFile(dir_.File(name)) == bytes) << name;
}

TEST_F(CliTest, JsonOfEveryCommandHasItsDocumentedKeys) {
  ASSERT_EQ(Cli("make-sample s.avi").code, 0);
  dir_.Write("a.avi", rvt::MakeStandardAvi({.nVideo = 4, .nAudio = 4}).bytes);
  const struct {
    const char* args;
    const char* keys;
  } rows[] = {
      {"info s.avi --json", "file messages blocks labels movi_position extended"},
      {"check s.avi --json", "file exit_status complete index_entries bad_blocks messages"},
      {"verify a.avi --json", "file exit_status index_matches messages"},
      {"repair s.avi -o r.avi --json",
       "file exit_status summary output written complete chunks_written chunks_total "
       "from_own_index bytes_written bad_blocks_found bad_blocks fragments_cut rounds messages"},
      {"reconstruct a.avi --json", "file exit_status complete blocks labels messages"},
      {"keyframes a.avi --use-index --json",
       "file exit_status complete status decoder header_codec keyframes index_entries output "
       "messages"},
      {"join a.avi a.avi -o j.avi --json", "files output exit_status complete status"},
  };
  for (const auto& r : rows) {
    int code = -1;
    const QJsonObject j = Json(r.args, &code).object();
    for (const QString& key : QString(r.keys).split(' '))
      EXPECT_TRUE(j.contains(key)) << r.args << ": " << key.toStdString();
    EXPECT_EQ(j["exit_status"].toInt(code), code) << r.args;
    EXPECT_EQ(j["complete"].toBool(true), code == 0) << r.args;
  }
  // The sample's first bad block: 4096 inserted zeros are its delta and its repeat run.
  const QJsonObject b = Json("check s.avi --json")["bad_blocks"][0].toObject();
  EXPECT_EQ(b.keys().join(' '),
            "declared_size delta file_offset id index real_size repeat row "
            "stream_offset");
  EXPECT_EQ(b["row"].toInt(), 1);
  EXPECT_EQ(b["id"].toString(), "00dc");
  EXPECT_EQ(b["delta"].toInt(), 4096);
  EXPECT_EQ(b["real_size"].toInt() - b["declared_size"].toInt(), 4096);
  const QJsonObject run = b["repeat"].toObject();
  EXPECT_EQ(run["length"].toInt() * 1000 + run["byte"].toInt(), 4096 * 1000);
  EXPECT_TRUE(run.contains("at"));
}

TEST_F(CliTest, ABatchGoesOnAfterAFailureAndExitsWithTheWorstStatus) {
  dir_.Write("a.avi", rvt::MakeStandardAvi({.nVideo = 4, .nAudio = 4}).bytes);
  dir_.Write("b.avi", rvt::MakeStandardAvi({.nVideo = 6, .nAudio = 6}).bytes);
  dir_.Write("u.avi", rvt::Text("this is not a RIFF file at all"));
  std::filesystem::create_directory(dir_.File("out"));
  const rvt::CliOutcome o = Cli("repair a.avi u.avi b.avi -d out");
  EXPECT_EQ(o.code, 1) << o.all();
  EXPECT_TRUE(std::filesystem::exists(dir_.File("out/a.avi")));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("out/u.avi")));
  EXPECT_TRUE(std::filesystem::exists(dir_.File("out/b.avi")));
  const size_t summary = o.out.rfind("итог:\n");
  ASSERT_NE(summary, std::string::npos) << o.out;
  EXPECT_EQ(std::count(o.out.begin() + long(summary), o.out.end(), '\n'), 4) << o.out;
  for (const char* line : {"\na.avi: записано блоков 8 из 8", "\nu.avi: ", "\nb.avi: записано"})
    EXPECT_NE(o.out.find(line, summary), std::string::npos) << line;
  int code = -1;
  const QJsonArray all = Json("check a.avi u.avi b.avi --json", &code).array();
  EXPECT_EQ(code, 1);
  ASSERT_EQ(all.size(), 3);
  EXPECT_EQ(all[1]["exit_status"].toInt() * 10 + all[2]["exit_status"].toInt(), 10);
  EXPECT_EQ(all[2]["index_entries"].toInt(), 12);
}

TEST(CliBatch, TheWorstStatusIsAnErrorThenAnEarlyEnd) {
  using namespace rv::cli;
  const int table[][3] = {{kExitOk, kExitOk, kExitOk},
                          {kExitOk, kExitIncomplete, kExitIncomplete},
                          {kExitIncomplete, kExitOk, kExitIncomplete},
                          {kExitIncomplete, kExitError, kExitError},
                          {kExitError, kExitIncomplete, kExitError},
                          {kExitError, kExitUsage, kExitUsage}};
  for (const auto& t : table) EXPECT_EQ(WorseStatus(t[0], t[1]), t[2]) << t[0] << " " << t[1];
}

TEST(CliJson, StringsAreQuotedAndEscaped) {
  EXPECT_EQ(rv::cli::JsonString("a\"b\\c\n\r\t\x01 \xd0\xb0"),
            "\"a\\\"b\\\\c\\n\\r\\t\\u0001 \xd0\xb0\"");
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

}  // namespace
