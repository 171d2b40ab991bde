// Side files of a check: the ".2fix" image of the bad-block list and the index, its reader
// (name check, truncated and hostile files), the ".errors.txt" table and the ".idx1" chunk.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "check/bad_blocks.h"
#include "check/index.h"
#include "check/scanner.h"
#include "check/side_files.h"
#include "check/file_state.h"
#include "base/messages.h"
#include "base/options.h"
#include "base/questions.h"
#include "app/task_table.h"
#include "base/tasks.h"
#include "fixtures/avi_builder.h"
#include "riff/blocks.h"
#include "riff/bytes.h"
#include "riff/header.h"

namespace {

using Bytes = rvt::Bytes;

const char* kReplace = "файл уже существует. перезаписать?";
const char* kReplaceNamed = "файл с таким именем уже существует. перезаписать?";

rv::BadBlock Bad(uint32_t k) {
  rv::BadBlock b;
  b.EntryIndex = 10 * k + 1;
  b.ChunkID = rv::fcc(k % 2 ? "01wb" : "00dc");
  b.FileOffset = 2000 + 300 * k;
  b.MoviOffset = 1000 + 300 * k;
  b.DeclaredSize = 100 + k;
  b.RealSize = 200 + k;
  b.Mark = '*';
  b.RepeatByte = uint8_t(0xA0 + k);
  b.RepeatLength = 50 + k;
  b.RepeatStart = 8 + k;
  return b;
}

std::vector<rvt::IdxEntry> IdxEntries(size_t n) {
  std::vector<rvt::IdxEntry> v;
  for (size_t i = 0; i < n; ++i)
    v.push_back({i % 2 ? "01wb" : "00dc", i % 5 == 0 ? 0x10u : 0u, uint32_t(4 + 100 * i),
                 uint32_t(92 + i % 7)});
  return v;
}

// The index in memory holding the given entries.
void SetIndex(const std::vector<rvt::IdxEntry>& v) {
  rv::Index().entries.clear();
  for (const rvt::IdxEntry& e : v)
    rv::Index().entries.push_back({rv::fcc(e.ckid), e.flags, e.offset, e.length});
  rv::Index().count = v.size();
}

Bytes PackAll(const std::vector<rv::BadBlock>& list) {
  Bytes out;
  for (const rv::BadBlock& b : list) {
    uint8_t rec[rv::kBadBlockRecordSize];
    rv::PackBadBlock(b, rec);
    out.insert(out.end(), rec, rec + rv::kBadBlockRecordSize);
  }
  return out;
}

// A ".2fix" image written by hand from the documented layout.
Bytes TwoFix(const std::string& name, const std::vector<rv::BadBlock>& bad,
             const std::vector<rvt::IdxEntry>& idx) {
  Bytes b = rvt::Text("2fix");
  rvt::AppendLE32(b, uint32_t(name.size()));
  rvt::AppendBytes(b, rvt::Text(name));
  rvt::AppendLE32(b, uint32_t(bad.size() * 34));
  rvt::AppendBytes(b, PackAll(bad));
  rvt::AppendLE32(b, uint32_t(idx.size() * 16));
  rvt::AppendBytes(b, rvt::Idx1(idx));
  return b;
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
  // Lists that a load which changes nothing leaves behind.
  void Sentinel() {
    rv::BadBlocks() = {Bad(9)};
    SetIndex(IdxEntries(1));
  }
  bool IsSentinel() {
    return rv::BadBlocks() == std::vector<rv::BadBlock>{Bad(9)} && rv::Index().entries.size() == 1;
  }

  rvt::TempDir dir_{"sidefiles"};
};

TEST_F(SideFilesTest, TwoFixLayoutAndSize) {
  rv::BadBlocks() = {Bad(0), Bad(1), Bad(2)};
  SetIndex(IdxEntries(1000));
  const std::string path = dir_.File("out.2fix");
  ASSERT_EQ(rv::SaveCrashedBlo(path, "/some/dir/Film.avi"), rv::SaveOutcome::Written);
  const Bytes file = rvt::ReadFile(path);
  EXPECT_EQ(file.size(), 16u + 8 + 3 * 34 + 1000 * 16);
  EXPECT_EQ(file, TwoFix("Film.avi", {Bad(0), Bad(1), Bad(2)}, IdxEntries(1000)));
  EXPECT_EQ(rv::Make2fix("/some/dir/Film.avi"), file);

  // No bad blocks: I stands at 12 + N, the entries begin at 16 + N.
  rv::BadBlocks().clear();
  SetIndex(IdxEntries(2));
  const Bytes empty = rv::Make2fix("/x/clip.avi");
  ASSERT_EQ(empty.size(), 16u + 8 + 32);
  EXPECT_EQ(rvt::ReadLE32(empty, 4), 8u);
  EXPECT_EQ(rvt::ReadLE32(empty, 8 + 8), 0u);
  EXPECT_EQ(rvt::ReadLE32(empty, 12 + 8), 32u);
  EXPECT_EQ(Bytes(empty.begin() + 16 + 8, empty.end()), rvt::Idx1(IdxEntries(2)));
}

TEST_F(SideFilesTest, SavingOverAnExistingFileAsksFirst) {
  rv::BadBlocks() = {Bad(0)};
  SetIndex(IdxEntries(3));
  const std::string path = dir_.Write("out.2fix", rvt::Text("old"));
  rv::PushScriptedAnswer(false);
  EXPECT_EQ(rv::SaveCrashedBlo(path, "a.avi"), rv::SaveOutcome::Declined);
  EXPECT_EQ(rvt::ReadFile(path), rvt::Text("old"));
  rv::PushScriptedAnswer(true);
  EXPECT_EQ(rv::SaveCrashedBlo(path, "a.avi"), rv::SaveOutcome::Written);
  EXPECT_EQ(rvt::ReadFile(path), rv::Make2fix("a.avi"));
  ASSERT_EQ(rv::AskedQuestions().size(), 2u);
  EXPECT_EQ(rv::AskedQuestions()[0], kReplace);
}

TEST_F(SideFilesTest, LoadsForTheSameNameInAnotherDirectoryAndLetterCase) {
  struct Case {
    const char* saved;
    const char* loaded;
  };
  for (const Case& c :
       {Case{"/d1/Film.AVI", "/d2/film.avi"}, Case{"/d1/Фильм.AVI", "/d2/фильм.avi"},
        Case{"Ёлка ЖЭЯ.avi", "/tmp/ёлка жэя.AVI"}, Case{"/a/фильм.avi", "ФИЛЬМ.avi"}}) {
    SCOPED_TRACE(std::string(c.saved) + " -> " + c.loaded);
    rv::BadBlocks() = {Bad(0), Bad(1)};
    SetIndex(IdxEntries(7));
    const std::vector<rv::IndexEntry> entries = rv::Index().entries;
    const std::string path = dir_.File("x.2fix");
    rv::SetAlwaysAnswer(1);
    ASSERT_EQ(rv::SaveCrashedBlo(path, c.saved), rv::SaveOutcome::Written);
    rv::ResetFileState();
    EXPECT_TRUE(rv::RestoreCrashedBlo(path, c.loaded));
    EXPECT_EQ(rv::BadBlocks(), (std::vector<rv::BadBlock>{Bad(0), Bad(1)}));
    EXPECT_EQ(rv::Index().entries, entries);
    EXPECT_EQ(rv::Index().count, entries.size());
  }
}

TEST_F(SideFilesTest, WrongMagicOrAnotherSourceLoadsNothing) {
  const std::string good = dir_.Write("good.2fix", TwoFix("Film.avi", {Bad(0)}, IdxEntries(3)));
  Bytes magic = rvt::ReadFile(good);
  magic[1] = 'F';
  const std::string badMagic = dir_.Write("magic.2fix", magic);
  for (const char* source :
       {"/d/Fil.avi", "/d/Filn.avi", "/d/other.avi", "/d/Film.avi.avi", "/d/фильм.avi"}) {
    Sentinel();
    EXPECT_FALSE(rv::RestoreCrashedBlo(good, source)) << source;
    EXPECT_TRUE(IsSentinel()) << source;
  }
  Sentinel();
  EXPECT_FALSE(rv::RestoreCrashedBlo(badMagic, "/d/Film.avi"));
  EXPECT_FALSE(rv::RestoreCrashedBlo(dir_.File("missing.2fix"), "/d/Film.avi"));
  EXPECT_TRUE(IsSentinel());
  EXPECT_TRUE(rv::RestoreCrashedBlo(good, "/d/Film.avi"));
  EXPECT_EQ(rv::BadBlocks().size(), 1u);
}

TEST_F(SideFilesTest, TruncatedFileLoadsOnlyWholeRecordsItHolds) {
  const std::vector<rv::BadBlock> bad{Bad(0), Bad(1), Bad(2)};
  const std::vector<rvt::IdxEntry> idx = IdxEntries(5);
  const Bytes full = TwoFix("clip.avi", bad, idx);
  SetIndex(idx);
  const std::vector<rv::IndexEntry> entries = rv::Index().entries;
  const size_t n = 8, b = 3 * 34;
  ASSERT_EQ(full.size(), 16 + n + b + 5 * 16);
  const std::string path = dir_.File("cut.2fix");
  for (size_t t = 0; t <= full.size(); ++t) {
    SCOPED_TRACE("cut at " + std::to_string(t));
    rvt::WriteFile(path, rvt::Truncated(full, t));
    Sentinel();
    const bool loaded = rv::RestoreCrashedBlo(path, "clip.avi");
    if (t < 8 + n) {  // the name is not all there: not a file of this source
      EXPECT_FALSE(loaded);
      EXPECT_TRUE(IsSentinel());
      continue;
    }
    EXPECT_TRUE(loaded);
    const size_t records = t >= 12 + n ? std::min<size_t>(3, (t - 12 - n) / 34) : 0;
    const size_t held = t >= 16 + n + b ? std::min<size_t>(5, (t - 16 - n - b) / 16) : 0;
    EXPECT_EQ(rv::BadBlocks(), std::vector<rv::BadBlock>(bad.begin(), bad.begin() + long(records)));
    EXPECT_EQ(rv::Index().entries,
              std::vector<rv::IndexEntry>(entries.begin(), entries.begin() + long(held)));
    EXPECT_EQ(rv::Index().count, held);
  }
}

TEST_F(SideFilesTest, HostileSizeFieldsNeverDriveAnAllocation) {
  const std::string path = dir_.File("hostile.2fix");
  // B claims 0xFFFFFFFE bytes (126 million records); two records follow, then the file ends.
  Bytes b = rvt::Text("2fix");
  rvt::AppendLE32(b, 4);
  rvt::AppendBytes(b, rvt::Text("a.av"));
  rvt::AppendLE32(b, 0xFFFFFFFEu);
  rvt::AppendBytes(b, PackAll({Bad(0), Bad(1)}));
  rvt::WriteFile(path, b);
  EXPECT_TRUE(rv::RestoreCrashedBlo(path, "a.av"));
  EXPECT_EQ(rv::BadBlocks(), (std::vector<rv::BadBlock>{Bad(0), Bad(1)}));
  EXPECT_TRUE(rv::Index().entries.empty());
  EXPECT_LE(rv::BadBlocks().capacity(), 1024u);

  // I claims 0xFFFFFFF0 bytes (268 million entries); three follow.
  b = TwoFix("a.av", {}, IdxEntries(3));
  rvt::OverwriteLE32(b, 16, 0xFFFFFFF0u);
  rvt::WriteFile(path, b);
  EXPECT_TRUE(rv::RestoreCrashedBlo(path, "a.av"));
  EXPECT_TRUE(rv::BadBlocks().empty());
  ASSERT_EQ(rv::Index().entries.size(), 3u);
  EXPECT_EQ(rv::Index().entries[2].dwChunkOffset, 204u);
  EXPECT_LE(rv::Index().entries.capacity(), 1024u);

  // A name length of 4 GiB.
  b = TwoFix("a.av", {}, IdxEntries(3));
  rvt::OverwriteLE32(b, 4, 0xFFFFFFFFu);
  rvt::WriteFile(path, b);
  Sentinel();
  EXPECT_FALSE(rv::RestoreCrashedBlo(path, "a.av"));
  EXPECT_TRUE(IsSentinel());
}

TEST_F(SideFilesTest, ErrorsListExactBytes) {
  rv::BadBlock r;
  r.EntryIndex = 10;
  r.ChunkID = rv::fcc("00dc");
  r.FileOffset = 2756;
  r.MoviOffset = 700;
  r.DeclaredSize = 5000;
  r.RealSize = 9096;
  r.Mark = '*';
  r.RepeatByte = 0;
  r.RepeatLength = 4096;
  r.RepeatStart = 708;
  rv::BadBlocks() = {r};
  rv::Crashed2SG();
  const std::string want =
      "      | #     | id    | offset в файле | offset в потоке | заявл.размер | реальн.размер | "
      "дельта     | max повтор\r\n"
      "\r\n"
      "1     | 10    | 00dc  | 2756       | 700        | 5000       | 9096       | 4096       | "
      "4096(00) at 708";
  const std::string path = dir_.Write("list.errors.txt", rvt::Text("an older list\r\n"));
  rv::PushScriptedAnswer(false);
  EXPECT_EQ(rv::SaveErrorsList(path), rv::SaveOutcome::Declined);
  EXPECT_EQ(rvt::ReadFile(path), rvt::Text("an older list\r\n"));
  rv::PushScriptedAnswer(true);
  EXPECT_EQ(rv::SaveErrorsList(path), rv::SaveOutcome::Written);
  const Bytes got = rvt::ReadFile(path);
  EXPECT_EQ(std::string(got.begin(), got.end()), want);
  ASSERT_EQ(rv::AskedQuestions().size(), 2u);
  EXPECT_EQ(rv::AskedQuestions()[1], kReplace);

  // An empty grid: the header, the blank line and one blank row.
  rv::BadBlocks().clear();
  rv::Crashed2SG();
  const std::string empty = dir_.File("empty.errors.txt");
  EXPECT_EQ(rv::SaveErrorsList(empty), rv::SaveOutcome::Written);
  const Bytes e = rvt::ReadFile(empty);
  const std::string s(e.begin(), e.end());
  EXPECT_EQ(s.find("\r\n\r\n"), want.find("\r\n\r\n"));
  const std::string last = s.substr(s.rfind("\r\n") + 2);
  EXPECT_EQ(last.rfind("     ", 0), 0u);
  EXPECT_EQ(last.find_first_not_of(" |"), std::string::npos) << last;
}

TEST_F(SideFilesTest, Idx1FileIsAnIdx1ChunkThatARiffCanTake) {
  rvt::StandardAviShape shape;
  shape.nVideo = 4;
  shape.nAudio = 3;
  shape.withIdx1 = false;
  const rvt::StandardAvi avi = rvt::MakeStandardAvi(shape);
  SetIndex(avi.index);
  const std::string idxPath = dir_.File("x.idx1");
  ASSERT_EQ(rv::SaveIndexOnly(idxPath), rv::SaveOutcome::Written);
  const Bytes chunk = rvt::ReadFile(idxPath);
  EXPECT_EQ(chunk, rvt::Concat({rvt::Text("idx1"), Bytes{112, 0, 0, 0}, rvt::Idx1(avi.index)}));
  EXPECT_EQ(rv::MakeIdx1Chunk(), chunk);

  rv::PushScriptedAnswer(false);
  SetIndex({});
  EXPECT_EQ(rv::SaveIndexOnly(idxPath), rv::SaveOutcome::Declined);
  EXPECT_EQ(rvt::ReadFile(idxPath), chunk);
  EXPECT_EQ(rv::AskedQuestions().back(), kReplaceNamed);

  Bytes file = rvt::Concat({avi.bytes, chunk});
  rvt::OverwriteLE32(file, 4, uint32_t(file.size() - 8));
  const std::string aviPath = dir_.Write("with.avi", file);
  rv::ResetFileState();
  rv::ClearMessages();
  const rv::OpenResult r = rv::OpenAndReadHeader(aviPath);
  EXPECT_TRUE(r.hasIdx1);
  EXPECT_TRUE(rv::MessageLines().empty());
  const int32_t k = rv::FindBlock("idx1", "");
  ASSERT_GE(k, 0);
  EXPECT_EQ(rv::Blocks()[size_t(k)].Offset, avi.bytes.size());
  EXPECT_EQ(rv::Blocks()[size_t(k)].Size, 112u + 8);
  EXPECT_EQ(rv::GetLabel(rv::kLabelIDX1), rv::LabelColor::Maroon);
}

}  // namespace
