// Side files of a check: the ".2fix" image of the bad-block list and the index, its reader
// (name check, truncated and hostile files), the ".errors.txt" table and the ".idx1" chunk.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "check/bad_blocks.h"
#include "check/index.h"
#include "check/side_files.h"
#include "check/file_state.h"
#include "base/messages.h"
#include "base/options.h"
#include "base/questions.h"
#include "fixtures/avi_builder.h"
#include "fixtures/engine_dump.h"
#include "riff/blocks.h"
#include "riff/header.h"

namespace {

using Bytes = rvt::Bytes;

rv::BadBlock Bad(uint32_t k) {
  return {10 * k + 1, rv::fcc(k % 2 ? "01wb" : "00dc"), 2000 + 300 * k, 1000 + 300 * k, 100 + k,
          200 + k, '*', uint8_t(0xA0 + k), 50 + k, 8 + k};
}
std::vector<rvt::IdxEntry> IdxEntries(size_t n) {
  std::vector<rvt::IdxEntry> v;
  for (size_t i = 0; i < n; ++i)
    v.push_back({i % 2 ? "01wb" : "00dc", i % 5 == 0 ? 0x10u : 0u, uint32_t(4 + 100 * i), uint32_t(92 + i % 7)});
  return v;
}
void SetIndex(const std::vector<rvt::IdxEntry>& v) {
  rv::Index().entries.clear();
  for (const rvt::IdxEntry& e : v) rv::Index().entries.push_back({rv::fcc(e.ckid), e.flags, e.offset, e.length});
  rv::Index().count = v.size();
}
// A ".2fix" image written by hand: "2fix", the name's length and the name, the bad-block
// records' size and the 34-byte records, the index's size and its 16-byte entries.
Bytes TwoFix(const std::string& name, const std::vector<rv::BadBlock>& bad, const std::vector<rvt::IdxEntry>& idx) {
  Bytes b = rvt::Text("2fix");
  rvt::AppendLE32(b, uint32_t(name.size()));
  rvt::AppendBytes(b, rvt::Text(name));
  rvt::AppendLE32(b, uint32_t(bad.size() * 34));
  for (const rv::BadBlock& r : bad) {
    b.resize(b.size() + 34);
    rv::PackBadBlock(r, b.data() + b.size() - 34);
  }
  rvt::AppendLE32(b, uint32_t(idx.size() * 16));
  rvt::AppendBytes(b, rvt::Idx1(idx));
  return b;
}
// What was loaded: "bad 1 11 | idx 3" (the entries of the records, the index length).
std::string Loaded() {
  std::string s = "bad";
  for (const rv::BadBlock& b : rv::BadBlocks()) s += " " + std::to_string(b.EntryIndex);
  return s + " | idx " + std::to_string(rv::Index().entries.size()) + "/" + std::to_string(rv::Index().count);
}

class SideFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rv::Opt().Reset();
    rv::ClearScriptedAnswers();
    rv::ResetFileState();
  }
  void TearDown() override {
    rv::ClearScriptedAnswers();
    rv::ResetFileState();
  }
  // Lists that a load which changes nothing leaves behind: "bad 91 | idx 1/1".
  static void Sentinel() {
    rv::BadBlocks() = {Bad(9)};
    SetIndex(IdxEntries(1));
  }
  rvt::TempDir dir_{"sidefiles"};
};

TEST_F(SideFilesTest, TwoFixIsWrittenAsLaidOutAndAsksBeforeReplacing) {
  rv::BadBlocks() = {Bad(0), Bad(1), Bad(2)};
  SetIndex(IdxEntries(1000));
  const std::string path = dir_.Write("out.2fix", rvt::Text("old"));
  rv::PushScriptedAnswer(false);
  EXPECT_EQ(rv::SaveCrashedBlo(path, "/some/dir/Film.avi"), rv::SaveOutcome::Declined);
  EXPECT_EQ(rvt::ReadFile(path), rvt::Text("old"));
  rv::PushScriptedAnswer(true);
  ASSERT_EQ(rv::SaveCrashedBlo(path, "/some/dir/Film.avi"), rv::SaveOutcome::Written);
  EXPECT_EQ(rvt::ReadFile(path), TwoFix("Film.avi", {Bad(0), Bad(1), Bad(2)}, IdxEntries(1000)));
  EXPECT_EQ(rv::AskedQuestions().at(0), "файл уже существует. перезаписать?");
  rv::BadBlocks().clear();
  SetIndex(IdxEntries(2));
  EXPECT_EQ(rv::Make2fix("/x/clip.avi"), TwoFix("clip.avi", {}, IdxEntries(2)));
}

TEST_F(SideFilesTest, LoadsOnlyForTheSameFileNameWhateverTheDirectoryAndLetterCase) {
  const struct {
    const char *saved, *loaded;
    bool loads;
  } cases[] = {{"/d1/Film.AVI", "/d2/film.avi", true}, {"/d1/Фильм.AVI", "/d2/фильм.avi", true},
               {"Ёлка ЖЭЯ.avi", "/tmp/ёлка жэя.AVI", true}, {"/a/фильм.avi", "ФИЛЬМ.avi", true},
               {"Film.avi", "/d/Fil.avi", false}, {"Film.avi", "/d/Filn.avi", false},
               {"Film.avi", "/d/Film.avi.avi", false}, {"Film.avi", "/d/фильм.avi", false}};
  for (const auto& c : cases) {
    const std::string path = dir_.Write("x.2fix", TwoFix(rv::FileNamePart(c.saved), {Bad(0), Bad(1)}, IdxEntries(7)));
    Sentinel();
    EXPECT_EQ(rv::RestoreCrashedBlo(path, c.loaded), c.loads) << c.saved << " -> " << c.loaded;
    EXPECT_EQ(Loaded(), c.loads ? "bad 1 11 | idx 7/7" : "bad 91 | idx 1/1");
  }
  Bytes magic = TwoFix("Film.avi", {Bad(0)}, IdxEntries(3));
  magic[1] = 'F';
  Sentinel();
  EXPECT_FALSE(rv::RestoreCrashedBlo(dir_.Write("m.2fix", magic), "/d/Film.avi"));
  EXPECT_FALSE(rv::RestoreCrashedBlo(dir_.File("missing.2fix"), "/d/Film.avi"));
  EXPECT_EQ(Loaded(), "bad 91 | idx 1/1");
}

TEST_F(SideFilesTest, TruncatedOrHostileFilesLoadOnlyTheWholeRecordsTheyHold) {
  const Bytes full = TwoFix("clip.avi", {Bad(0), Bad(1), Bad(2)}, IdxEntries(5));
  const std::string path = dir_.File("cut.2fix");
  const size_t n = 8, b3 = 3 * 34;  // the name's and the records' sizes
  for (size_t t = 0; t <= full.size(); ++t) {
    rvt::WriteFile(path, rvt::Truncated(full, t));
    Sentinel();
    // Until the name is whole it is no file of this source; then every whole record counts.
    const size_t records = t >= 12 + n ? std::min<size_t>(3, (t - 12 - n) / 34) : 0;
    const size_t held = t >= 16 + n + b3 ? std::min<size_t>(5, (t - 16 - n - b3) / 16) : 0;
    std::string want = "bad";
    for (size_t k = 0; k < records; ++k) want += " " + std::to_string(10 * k + 1);
    want += " | idx " + std::to_string(held) + "/" + std::to_string(held);
    EXPECT_EQ(rv::RestoreCrashedBlo(path, "clip.avi"), t >= 8 + n) << t;
    EXPECT_EQ(Loaded(), t >= 8 + n ? want : "bad 91 | idx 1/1") << "cut at " << t;
  }
  // Size fields that claim gigabytes: only what follows is loaded, nothing allocated for them.
  Bytes b = TwoFix("a.av", {Bad(0), Bad(1)}, {});
  rvt::OverwriteLE32(b, 12, 0xFFFFFFFEu);  // 126 million records
  b.resize(b.size() - 4);
  EXPECT_TRUE(rv::RestoreCrashedBlo(dir_.Write("h1.2fix", b), "a.av"));
  EXPECT_EQ(Loaded(), "bad 1 11 | idx 0/0");
  EXPECT_LE(rv::BadBlocks().capacity(), 1024u);
  b = TwoFix("a.av", {}, IdxEntries(3));
  rvt::OverwriteLE32(b, 16, 0xFFFFFFF0u);  // 268 million entries
  EXPECT_TRUE(rv::RestoreCrashedBlo(dir_.Write("h2.2fix", b), "a.av"));
  EXPECT_EQ(Loaded(), "bad | idx 3/3");
  EXPECT_LE(rv::Index().entries.capacity(), 1024u);
  rvt::OverwriteLE32(b, 4, 0xFFFFFFFFu);  // a name of 4 GiB
  Sentinel();
  EXPECT_FALSE(rv::RestoreCrashedBlo(dir_.Write("h3.2fix", b), "a.av"));
  EXPECT_EQ(Loaded(), "bad 91 | idx 1/1");
}

TEST_F(SideFilesTest, ErrorsListIsTheGridAsText) {
  rv::BadBlocks() = {{10, rv::fcc("00dc"), 2756, 700, 5000, 9096, '*', 0, 4096, 708}};
  rv::Crashed2SG();
  const std::string path = dir_.Write("list.errors.txt", rvt::Text("an older list\r\n"));
  rv::PushScriptedAnswer(false);
  EXPECT_EQ(rv::SaveErrorsList(path), rv::SaveOutcome::Declined);
  EXPECT_EQ(rvt::ReadFile(path), rvt::Text("an older list\r\n"));
  rv::PushScriptedAnswer(true);
  EXPECT_EQ(rv::SaveErrorsList(path), rv::SaveOutcome::Written);
  const std::string head = "      | #     | id    | offset в файле | offset в потоке | заявл.размер | "
                           "реальн.размер | дельта     | max повтор\r\n\r\n";
  EXPECT_EQ(rvt::ReadFile(path), rvt::Text(head + "1     | 10    | 00dc  | 2756       | 700        | "
                                                  "5000       | 9096       | 4096       | 4096(00) at 708"));
  rv::BadBlocks().clear();
  rv::Crashed2SG();
  EXPECT_EQ(rv::SaveErrorsList(dir_.File("empty.errors.txt")), rv::SaveOutcome::Written);
  EXPECT_EQ(rvt::ReadFile(dir_.File("empty.errors.txt")),
            rvt::Text(head + "      |       |       |            |            |            |      "
                             "      |            |           "));
}

TEST_F(SideFilesTest, Idx1FileIsAnIdx1ChunkThatARiffCanTake) {
  const rvt::StandardAvi avi = rvt::MakeStandardAvi({.nVideo = 4, .nAudio = 3, .withIdx1 = false});
  SetIndex(avi.index);
  const std::string idxPath = dir_.File("x.idx1");
  ASSERT_EQ(rv::SaveIndexOnly(idxPath), rv::SaveOutcome::Written);
  const Bytes chunk = rvt::ReadFile(idxPath);
  EXPECT_EQ(chunk, rvt::Concat({rvt::Text("idx1"), Bytes{112, 0, 0, 0}, rvt::Idx1(avi.index)}));
  rv::PushScriptedAnswer(false);
  EXPECT_EQ(rv::SaveIndexOnly(idxPath), rv::SaveOutcome::Declined);
  EXPECT_EQ(rv::AskedQuestions().back(), "файл с таким именем уже существует. перезаписать?");
  Bytes file = rvt::Concat({avi.bytes, chunk});
  rvt::OverwriteLE32(file, 4, uint32_t(file.size() - 8));
  rv::ResetFileState();
  rv::ClearMessages();
  EXPECT_TRUE(rv::OpenAndReadHeader(dir_.Write("with.avi", file)).hasIdx1);
  const std::string dump = rvt::HeaderDump();
  EXPECT_EQ(dump.substr(0, 15), "labels BBBBBMM\n");
  EXPECT_NE(dump.find("  'idx1' 120 @" + std::to_string(avi.bytes.size()) + "\n"), std::string::npos) << dump;
}

}  // namespace
