// Joining AVI files built in code: the output layout byte for byte (the first file's header,
// the streams one after the other with their pad bytes, a new idx1 with continuing offsets and
// each file's own flags), the failures with their partial outputs, a stop, the movi locator,
// the drag moves of the list and the proposed output name.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "check/index.h"
#include "check/file_state.h"
#include "base/messages.h"
#include "base/options.h"
#include "base/questions.h"
#include "app/task_table.h"
#include "base/tasks.h"
#include "fixtures/avi_builder.h"
#include "join/join.h"
#include "riff/movi_locator.h"
#include "riff/blocks.h"
#include "riff/bytes.h"

namespace {

using rvt::Bytes;
using rvt::ReadLE32;

std::string Id(const Bytes& b, size_t pos) {
  return pos + 4 <= b.size() ? std::string(b.begin() + long(pos), b.begin() + long(pos) + 4)
                             : std::string("<eof>");
}

Bytes Slice(const Bytes& b, size_t from, size_t to) {
  to = std::min(to, b.size());
  from = std::min(from, to);
  return Bytes(b.begin() + long(from), b.begin() + long(to));
}

struct Entry {
  std::string id;
  uint32_t flags = 0, offset = 0, length = 0;
  bool operator==(const Entry&) const = default;
};

struct Chunk {
  std::string id;
  Bytes payload;
  uint32_t flags = 0;
};

struct Options {
  uint32_t avihUsPerFrame = 40000;  // tells the headers of different files apart
  uint8_t padValue = 0;             // the pad byte after an odd payload
  bool junkBeforeIdx1 = false;      // a JUNK chunk between the movi list and idx1
  bool recListFirst = false;        // a LIST rec holding the first chunk
  int indexShortBy = 0;             // entries left out of the end of idx1
};

// A file: RIFF AVI, hdrl, movi with the chunks, idx1 with the chunks' flags.
struct File {
  Bytes bytes;
  uint32_t moviList = 0;   // position of the LIST movi header
  uint32_t streamBytes = 0;  // bytes of the chunks (headers, payloads and pad bytes)
  std::vector<Entry> index;  // as written (before any shortening)
};

File MakeFile(const std::vector<Chunk>& chunks, const Options& o = {}) {
  rvt::AvihFields ah;
  ah.usPerFrame = o.avihUsPerFrame;
  ah.totalFrames = uint32_t(chunks.size());
  const Bytes hdrl =
      rvt::Build(rvt::List("hdrl", {rvt::Chunk("avih", rvt::AvihPayload(ah)),
                                    rvt::List("strl", {rvt::Chunk("strh", rvt::StrhPayload("vids", "XVID", {})),
                                                       rvt::Chunk("strf", rvt::VideoStrf(320, 240, "XVID"))})}))
          .bytes;
  File f;
  Bytes movi = rvt::Text("movi");
  size_t first = 0;
  if (o.recListFirst && !chunks.empty()) {
    const Chunk& c = chunks[0];
    Bytes rec = rvt::Text("LIST");
    rvt::AppendLE32(rec, uint32_t(4 + 8 + c.payload.size()));
    rvt::AppendBytes(rec, rvt::Text("rec "));
    rvt::AppendBytes(rec, rvt::Text(c.id));
    rvt::AppendLE32(rec, uint32_t(c.payload.size()));
    rvt::AppendBytes(rec, c.payload);
    f.index.push_back({c.id, c.flags, uint32_t(movi.size() + 12), uint32_t(c.payload.size())});
    rvt::AppendBytes(movi, rec);
    first = 1;
  }
  for (size_t i = first; i < chunks.size(); ++i) {
    const Chunk& c = chunks[i];
    f.index.push_back({c.id, c.flags, uint32_t(movi.size()), uint32_t(c.payload.size())});
    rvt::AppendBytes(movi, rvt::Text(c.id));
    rvt::AppendLE32(movi, uint32_t(c.payload.size()));
    rvt::AppendBytes(movi, c.payload);
    if (c.payload.size() % 2) movi.push_back(o.padValue);
  }
  f.streamBytes = uint32_t(movi.size() - 4);
  Bytes& b = f.bytes;
  b = rvt::Text("RIFF");
  rvt::AppendLE32(b, 0);
  rvt::AppendBytes(b, rvt::Text("AVI "));
  rvt::AppendBytes(b, hdrl);
  f.moviList = uint32_t(b.size());
  rvt::AppendBytes(b, rvt::Text("LIST"));
  rvt::AppendLE32(b, uint32_t(movi.size()));
  rvt::AppendBytes(b, movi);
  if (o.junkBeforeIdx1) rvt::AppendBytes(b, rvt::Build(rvt::Chunk("JUNK", rvt::Filled(16, 0))).bytes);
  std::vector<rvt::IdxEntry> idx;
  for (size_t i = 0; i + size_t(o.indexShortBy) < f.index.size(); ++i)
    idx.push_back({f.index[i].id, f.index[i].flags, f.index[i].offset, f.index[i].length});
  rvt::AppendBytes(b, rvt::Build(rvt::Chunk("idx1", rvt::Idx1(idx))).bytes);
  rvt::OverwriteLE32(b, 4, uint32_t(b.size() - 8));
  return f;
}

// n interleaved video and audio chunks of varied (odd and even) sizes; flags by the rule given.
std::vector<Chunk> Interleaved(int n, uint32_t seed, int keyEvery) {
  std::vector<Chunk> c;
  for (int i = 0; i < n; ++i) {
    if (i % 2 == 0)
      c.push_back({"00dc", rvt::Pattern(200 + size_t(i % 7), seed + uint32_t(i)),
                   (i / 2) % keyEvery == 0 ? 0x10u : 0u});
    else
      c.push_back({"01wb", rvt::Pattern(96 + size_t(i % 3), seed + uint32_t(i)), 0x10u});
  }
  return c;
}

// The joined file's parts; empty error when it is finished and well formed.
struct Joined {
  std::string error;
  uint32_t moviSize = 0;
  std::vector<Entry> index;
};
Joined ReadJoined(const Bytes& out, uint32_t P) {
  Joined j;
  if (out.size() < P + 12 || Id(out, P) != "LIST" || Id(out, P + 8) != "movi")
    return j.error = "no movi list at P", j;
  if (ReadLE32(out, 4) != out.size() - 8) j.error = "RIFF size is not length - 8";
  j.moviSize = ReadLE32(out, P + 4);
  const size_t idx = size_t(P) + 8 + j.moviSize;
  if (idx + 8 > out.size() || Id(out, idx) != "idx1") return j.error = "no idx1 after movi", j;
  const uint32_t n = ReadLE32(out, idx + 4);
  if (idx + 8 + n != out.size()) return j.error = "idx1 does not end the file", j;
  for (uint32_t e = 0; e + 16 <= n; e += 16) {
    const size_t q = idx + 8 + e;
    Entry x{Id(out, q), ReadLE32(out, q + 4), ReadLE32(out, q + 8), ReadLE32(out, q + 12)};
    const size_t at = size_t(P) + 8 + x.offset;
    if (j.error.empty() && (Id(out, at) != x.id || ReadLE32(out, at + 4) != x.length))
      j.error = "entry " + std::to_string(e / 16) + " does not name its chunk";
    j.index.push_back(x);
  }
  return j;
}

class JoinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rv::InstallTaskRoutines();
    rv::ResetFileState();
    rv::Opt().Reset();
    rv::ClearScriptedAnswers();
    rv::ClearMessages();
    rv::ClearStop();
    rv::Join().files.clear();
    rv::Join().SetStatus("");
    out_ = dir_.File("joined.avi");
  }
  void TearDown() override {
    for (size_t i = 0; i < inputs_.size(); ++i)
      EXPECT_EQ(rvt::ReadFile(paths_[i]), inputs_[i]) << "input " << i + 1 << " was changed";
    rv::ClearStop();
    rv::Join().files.clear();
    rv::ResetFileState();
  }
  // Writes the files, lists them and runs the task; returns the status line.
  std::string RunJoin(const std::vector<File>& files) {
    rv::Join().files.clear();
    for (const File& f : files) {
      paths_.push_back(dir_.Write("in" + std::to_string(paths_.size() + 1) + ".avi", f.bytes));
      inputs_.push_back(f.bytes);
      rv::Join().files.push_back(paths_.back());
    }
    rv::Join().output = out_;
    const rv::Completion c = rv::Execute("doJOIN");
    EXPECT_EQ(c.code, 0);
    return rv::Join().Status();
  }

  rvt::TempDir dir_{"join"};
  std::string out_;
  std::vector<std::string> paths_;
  std::vector<Bytes> inputs_;
};

TEST_F(JoinTest, TwoFilesGiveOneStreamWithContinuingOffsetsAndEachFilesFlags) {
  Options o2;
  o2.avihUsPerFrame = 33367;
  const File f1 = MakeFile(Interleaved(100, 1000, 5));
  const File f2 = MakeFile(Interleaved(50, 5000, 3), o2);
  // The repair tab's file state is not the join's: it stays as it was.
  rv::Index().entries = {{rv::fcc("00dc"), 0x10, 4, 10}};
  rv::Index().count = 1;
  rv::Blocks().push_back(rv::BlockRecord{"RIFF", "AVI ", -1, 0, 100, -1, 0});
  ASSERT_EQ(RunJoin({f1, f2}), "операция завершена");
  EXPECT_EQ(rv::Index().entries, (std::vector<rv::IndexEntry>{{rv::fcc("00dc"), 0x10, 4, 10}}));
  ASSERT_EQ(rv::Blocks().size(), 1u);
  EXPECT_EQ(rv::Blocks()[0].Size, 100u);

  const Bytes out = rvt::ReadFile(out_);
  const uint32_t P = f1.moviList;
  const Joined j = ReadJoined(out, P);
  ASSERT_EQ(j.error, "");
  // The first file's header, unchanged but for the RIFF size.
  EXPECT_EQ(Slice(out, 0, 4), rvt::Text("RIFF"));
  EXPECT_EQ(Slice(out, 8, P), Slice(f1.bytes, 8, P));
  // The streams, byte for byte, one after the other.
  EXPECT_EQ(j.moviSize, 4 + f1.streamBytes + f2.streamBytes);
  EXPECT_EQ(Slice(out, P + 12, P + 12 + f1.streamBytes),
            Slice(f1.bytes, f1.moviList + 12, f1.moviList + 12 + f1.streamBytes));
  EXPECT_EQ(Slice(out, P + 12 + f1.streamBytes, P + 12 + f1.streamBytes + f2.streamBytes),
            Slice(f2.bytes, f2.moviList + 12, f2.moviList + 12 + f2.streamBytes));
  // The index: 150 entries, file 2's offsets continuing after file 1's stream.
  ASSERT_EQ(j.index.size(), 150u);
  for (size_t i = 0; i < 100; ++i) EXPECT_EQ(j.index[i], f1.index[i]) << i;
  EXPECT_EQ(j.index[100].offset, 4 + f1.streamBytes);
  for (size_t i = 0; i < 50; ++i) {
    Entry want = f2.index[i];
    want.offset += f1.streamBytes;
    EXPECT_EQ(j.index[100 + i], want) << 100 + i;
  }
}

TEST_F(JoinTest, APadByteIsCopiedAndTheNextOffsetIsEven) {
  Options o;
  o.padValue = 0xAB;
  const File f1 = MakeFile({{"00dc", rvt::Pattern(7, 1), 0x10}, {"01wb", rvt::Pattern(10, 2), 0},
                            {"00dc", rvt::Pattern(9, 3), 0}},
                           o);
  const File f2 = MakeFile({{"00dc", rvt::Pattern(5, 4), 0x10}}, o);
  ASSERT_EQ(RunJoin({f1, f2}), "операция завершена");
  const Bytes out = rvt::ReadFile(out_);
  const uint32_t P = f1.moviList;
  const Joined j = ReadJoined(out, P);
  ASSERT_EQ(j.error, "");
  ASSERT_EQ(j.index.size(), 4u);
  EXPECT_EQ(out[P + 12 + 8 + 7], 0xAB);
  EXPECT_EQ(j.index[0].length, 7u);
  EXPECT_EQ(j.index[1].offset, 4u + 16u);
  EXPECT_EQ(j.index[2].offset, 4u + 16u + 18u);
  EXPECT_EQ(j.index[3].offset, 4u + 16u + 18u + 18u);
  EXPECT_EQ(j.index[3].length, 5u);
  for (const Entry& e : j.index) EXPECT_EQ(e.offset % 2, 0u);
  EXPECT_EQ(out[P + 8 + j.index[2].offset + 8 + 9], 0xAB);
  EXPECT_EQ(out[P + 8 + j.index[3].offset + 8 + 5], 0xAB);
}

TEST_F(JoinTest, AFaultInALaterFileStopsWithItsPositionAndAPartialOutput) {
  const File f1 = MakeFile(Interleaved(10, 100, 5));
  Options junk, rec, shortIdx;
  junk.junkBeforeIdx1 = true;
  rec.recListFirst = true;
  shortIdx.indexShortBy = 1;
  File noMovi = f1;
  noMovi.bytes = rvt::Build(rvt::Riff("AVI ", {rvt::Chunk("JUNK", rvt::Filled(20, 0))})).bytes;
  const File shorter = MakeFile(Interleaved(4, 400, 2), shortIdx);
  struct Case {
    const char* name;
    File second;
    std::string status;
    uint32_t copiedOfSecond;  // stream bytes of file 2 copied before the fault shows
  } cases[] = {
      {"junk before idx1", MakeFile(Interleaved(4, 200, 2), junk), "ошибка чтения индекса файла 2", 0},
      {"LIST rec in movi", MakeFile(Interleaved(4, 300, 2), rec), "ошибка структуры файла 2", 0},
      {"index shorter than the stream", shorter, "ошибка структуры файла 2",
       shorter.index.back().offset - 4},
      {"no movi list", noMovi, "ошибка. не найден поток в файле 2", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RunJoin({f1, c.second}), c.status);
    // Left as far as it was written: the header and the chunks copied before the fault
    // showed; no sizes patched, no idx1.
    const Bytes out = rvt::ReadFile(out_);
    const uint32_t P = f1.moviList;
    EXPECT_EQ(out.size(), P + 12 + f1.streamBytes + c.copiedOfSecond);
    EXPECT_EQ(Slice(out, 0, P), Slice(f1.bytes, 0, P));
    EXPECT_EQ(Id(out, P + 8), "movi");
    EXPECT_NE(out.size() >= P + 8 ? ReadLE32(out, P + 4) : 0u, out.size() - P - 8);
  }
  // The same faults in the first file name position 1.
  EXPECT_EQ(RunJoin({MakeFile(Interleaved(4, 300, 2), rec), f1}), "ошибка структуры файла 1");
  EXPECT_EQ(RunJoin({MakeFile(Interleaved(4, 300, 2), junk), f1}), "ошибка чтения индекса файла 1");
}

TEST_F(JoinTest, AFirstFileWithoutAHeaderWritesAnEmptyOutput) {
  File bad = MakeFile(Interleaved(4, 1, 2));
  rvt::OverwriteAt(bad.bytes, 12, Bytes{0x01, 0x02, 0x03, 0x04});
  EXPECT_EQ(RunJoin({bad, MakeFile(Interleaved(4, 2, 2))}), "ошибка извлечения заголовка первого файла");
  EXPECT_TRUE(std::filesystem::exists(out_));
  EXPECT_TRUE(rvt::ReadFile(out_).empty());

  File noRiff = MakeFile(Interleaved(4, 1, 2));
  rvt::OverwriteAt(noRiff.bytes, 0, rvt::Text("RIFX"));
  EXPECT_EQ(RunJoin({noRiff}), "ошибка извлечения заголовка первого файла");
  EXPECT_TRUE(rvt::ReadFile(out_).empty());
}

TEST_F(JoinTest, AnOutputThatCannotBeCreatedOrWrittenIsNamed) {
  const File f = MakeFile(Interleaved(6, 1, 2));
  out_ = dir_.path() + "/no-such-dir/out.avi";
  EXPECT_EQ(RunJoin({f}), "ошибка создания выходного файла");
  EXPECT_FALSE(std::filesystem::exists(out_));
  out_ = "/dev/full";
  EXPECT_EQ(RunJoin({f}), "ошибка записи выходного файла");
}

TEST_F(JoinTest, AnOutputThatIsOneOfTheInputsIsRefusedAndNothingIsWritten) {
  const File f1 = MakeFile(Interleaved(6, 1, 2));
  const File f2 = MakeFile(Interleaved(6, 2, 2));
  paths_ = {dir_.Write("a.avi", f1.bytes), dir_.Write("b.avi", f2.bytes)};
  inputs_ = {f1.bytes, f2.bytes};
  rv::Join().files = paths_;
  rv::Join().output = dir_.path() + "/./b.avi";
  rv::Execute("doJOIN");
  EXPECT_EQ(rv::Join().Status(), "выходной файл совпадает с одним из исходных");
  // TearDown checks that both inputs are unchanged.
}

TEST_F(JoinTest, AStopFinishesTheOutputWithTheChunksCopiedSoFar) {
  // Many small chunks, so that the copy of the first file lasts long enough to be stopped.
  std::vector<Chunk> many;
  for (int i = 0; i < 60000; ++i) many.push_back({"00dc", Bytes(8, uint8_t(i)), i % 10 == 0 ? 0x10u : 0u});
  const File f1 = MakeFile(many);
  const File f2 = MakeFile(Interleaved(10, 7, 2));
  paths_ = {dir_.Write("a.avi", f1.bytes), dir_.Write("b.avi", f2.bytes)};
  inputs_ = {f1.bytes, f2.bytes};
  rv::Join().files = paths_;
  rv::Join().output = out_;
  std::thread worker([] { rv::Execute("doJOIN"); });
  // The first status is set after the stop flag was cleared for the task.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (rv::Join().Status().empty() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  rv::RequestStop();
  worker.join();
  ASSERT_EQ(rv::Join().Status(), "прервано пользователем");

  const Bytes out = rvt::ReadFile(out_);
  const Joined j = ReadJoined(out, f1.moviList);
  ASSERT_EQ(j.error, "");
  EXPECT_GT(j.index.size(), 0u);
  EXPECT_LT(j.index.size(), many.size());
  for (size_t i = 0; i < j.index.size(); ++i) ASSERT_EQ(j.index[i], f1.index[i]) << i;
  EXPECT_EQ(j.moviSize, 4 + 16 * j.index.size());
}

TEST(JoinMoviLocator, FindsTheMoviListByATopLevelWalk) {
  rvt::TempDir dir("movi-ptr");
  const File f = MakeFile(Interleaved(4, 1, 2));
  std::string status = "unchanged";
  EXPECT_EQ(rv::GetMoviPtr(dir.Write("a.avi", f.bytes), &status), int64_t(f.moviList));
  EXPECT_EQ(status, "unchanged");

  Bytes noRiff = f.bytes;
  rvt::OverwriteAt(noRiff, 0, rvt::Text("RIFX"));
  EXPECT_EQ(rv::GetMoviPtr(dir.Write("b.avi", noRiff), &status), -1);
  EXPECT_EQ(status, "отсутствует сигнатура RIFF");
  status = "unchanged";
  EXPECT_EQ(rv::GetMoviPtr(dir.File("missing.avi"), &status), -1);
  EXPECT_EQ(status, "отсутствует сигнатура RIFF");

  Bytes garbage = f.bytes;
  rvt::OverwriteAt(garbage, 12, Bytes{0x01, 0x02, 0x03, 0x04});
  EXPECT_EQ(rv::GetMoviPtr(dir.Write("c.avi", garbage), &status), -1);
  EXPECT_EQ(status, "ошибки в структуре файла или неизвестный формат");

  status = "unchanged";
  const Bytes noMovi = rvt::Build(rvt::Riff("AVI ", {rvt::Chunk("JUNK", rvt::Filled(20, 0))})).bytes;
  EXPECT_EQ(rv::GetMoviPtr(dir.Write("d.avi", noMovi), &status), -1);
  EXPECT_EQ(status, "unchanged");
}

TEST(JoinList, DragMovesAnItemAndShiftsTheOthers) {
  using V = std::vector<std::string>;
  V items{"a", "b", "c", "d"};
  rv::MoveItem(items, 0, 2);
  EXPECT_EQ(items, (V{"b", "c", "a", "d"}));
  items = {"a", "b", "c", "d"};
  rv::MoveItem(items, 3, 1);
  EXPECT_EQ(items, (V{"a", "d", "b", "c"}));
  items = {"a", "b", "c", "d"};
  rv::MoveItem(items, 0, 3);
  EXPECT_EQ(items, (V{"b", "c", "d", "a"}));
  for (auto [s, t] : {std::pair{1, 1}, {-1, 2}, {2, 4}, {4, 0}}) {
    items = {"a", "b", "c", "d"};
    rv::MoveItem(items, s, t);
    EXPECT_EQ(items, (V{"a", "b", "c", "d"})) << s << "->" << t;
  }
}

TEST(JoinList, ProposedNameHasJoinedBeforeTheExtension) {
  EXPECT_EQ(rv::JoinedName("/x/part1.avi"), "/x/part1.joined.avi");
  EXPECT_EQ(rv::JoinedName("/x/Part1.AVI"), "/x/Part1.joined.AVI");
  EXPECT_EQ(rv::JoinedName("/x/a.b.avi"), "/x/a.b.joined.avi");
  EXPECT_EQ(rv::JoinedName("/x.d/clip"), "/x.d/clip.joined");
  EXPECT_EQ(rv::JoinedName("/x/.avi"), "/x/.avi.joined.avi");
  EXPECT_EQ(rv::JoinedName("part2.avi"), "part2.joined.avi");
  EXPECT_EQ(rv::JoinedName(""), "");
}

}  // namespace
