// The index check: a file's own idx1 loaded and checked entry by entry against its stream.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "check/index.h"
#include "check/scanner.h"
#include "check/file_state.h"
#include "base/host.h"
#include "base/messages.h"
#include "base/options.h"
#include "base/questions.h"
#include "app/task_table.h"
#include "base/tasks.h"
#include "fixtures/avi_builder.h"
#include "riff/bytes.h"
#include "riff/header.h"
#include "riff/source.h"

namespace {

using rvt::Bytes;
using Entry = std::tuple<std::string, uint32_t, uint32_t, uint32_t>;

std::vector<Entry> Entries() {
  std::vector<Entry> out;
  for (const rv::IndexEntry& e : rv::Index().entries)
    out.emplace_back(rv::cff(e.ckid), e.dwFlags, e.dwChunkOffset, e.dwChunkLength);
  return out;
}

std::vector<Entry> Expected(const std::vector<rvt::IdxEntry>& index) {
  std::vector<Entry> out;
  for (const rvt::IdxEntry& e : index) out.emplace_back(e.ckid, e.flags, e.offset, e.length);
  return out;
}

// Stops the check at its first progress message when asked to.
class StopHost : public rv::Host {
 public:
  bool Ask(const rv::Question&) override { return false; }
  void ShowProgress(const rv::Progress&) override {
    if (stop) rv::RequestStop();
  }
  bool stop = false;
};

class VerifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rv::InstallTaskRoutines();
    rv::ResetFileState();
    rv::Opt().Reset();
    rv::ClearScriptedAnswers();
    rv::ClearMessages();
    rv::ClearStop();
    rv::SetHost(&host_);
    shape_.nVideo = 2;
    shape_.nAudio = 1;  // 00dc, 01wb, 00dc
    avi_ = rvt::MakeStandardAvi(shape_);
  }
  void TearDown() override {
    if (!path_.empty()) {
      EXPECT_EQ(rvt::ReadFile(path_), bytes_) << "the file was changed";
    }
    rv::SetHost(nullptr);
    rv::ClearStop();
    rv::ResetFileState();
  }

  void Open(const Bytes& bytes) {
    bytes_ = bytes;
    path_ = dir_.Write("v.avi", bytes);
    rv::ResetFileState();
    rv::InputFileName() = path_;
    ASSERT_TRUE(rv::OpenAndReadHeader(path_).opened);
    rv::ClearMessages();
  }
  // The file with its idx1 payload replaced (same length).
  Bytes WithIndex(const std::vector<rvt::IdxEntry>& index) const {
    Bytes b = avi_.bytes;
    rvt::OverwriteAt(b, avi_.idx1 + 8, rvt::Idx1(index));
    return b;
  }
  bool Verify() {
    rv::CloseCheckWindowFlag() = 7;
    const rv::Completion c = rv::Execute("verifyIDX1");
    EXPECT_EQ(c.code, 100);
    return c.result == 1;
  }

  rvt::TempDir dir_{"verify"};
  StopHost host_;
  rvt::StandardAviShape shape_;
  rvt::StandardAvi avi_;
  std::string path_;
  Bytes bytes_;
};

TEST_F(VerifyTest, MatchingIndexIsLoadedWithItsFlags) {
  std::vector<rvt::IdxEntry> index = avi_.index;
  index[1].flags = 0xABCD0000;  // flags are neither checked nor changed
  index[2].flags = 0;
  Open(WithIndex(index));
  EXPECT_TRUE(Verify());
  EXPECT_EQ(rv::MessageLines(),
            std::vector<std::string>{"• ошибок в потоке не обнаружено. размер индекса: 3"});
  EXPECT_EQ(Entries(), Expected(index));
  EXPECT_EQ(rv::CloseCheckWindowFlag().load(), 1);
}

TEST_F(VerifyTest, GroupEntriesOfRecListsAreCheckedAndLeftOut) {
  rvt::StandardAviShape shape = shape_;
  shape.recGroups = true;
  const rvt::StandardAvi a = rvt::MakeStandardAvi(shape);
  Open(a.bytes);
  EXPECT_TRUE(Verify());
  EXPECT_EQ(rv::MessageLines(),
            std::vector<std::string>{"• ошибок в потоке не обнаружено. размер индекса: 3"});
  EXPECT_EQ(Entries(), Expected(a.index));
  // A group entry that does not name a list is an error like any other.
  Bytes b = a.bytes;
  rvt::OverwriteAt(b, a.groups[1], rvt::Text("JUNK"));
  Open(b);
  EXPECT_FALSE(Verify());
}

TEST_F(VerifyTest, IndexThatDoesNotNameTheStreamIsEmptied) {
  struct Case {
    const char* what;
    std::vector<rvt::IdxEntry> index;
  };
  std::vector<Case> cases;
  {
    std::vector<rvt::IdxEntry> abs = avi_.index;
    for (auto& e : abs) e.offset += avi_.moviPos;  // absolute file positions
    cases.push_back({"absolute offsets", abs});
  }
  for (int d : {1, -1}) {
    std::vector<rvt::IdxEntry> size = avi_.index;
    size[1].length += uint32_t(d);
    cases.push_back({d > 0 ? "size one more" : "size one less", size});
  }
  {
    std::vector<rvt::IdxEntry> id = avi_.index;
    id[2].ckid = "01wb";
    cases.push_back({"wrong ID", id});
  }
  {
    std::vector<rvt::IdxEntry> far = avi_.index;
    far[2].offset = 0xFFFFFF00;  // beyond 4 GiB from the movi position
    cases.push_back({"offset beyond the file", far});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Open(WithIndex(c.index));
    rv::Index().entries = {{1, 2, 3, 4}};
    EXPECT_FALSE(Verify());
    EXPECT_EQ(rv::MessageLines(), std::vector<std::string>{"• ошибки в индексе"});
    EXPECT_TRUE(rv::Index().entries.empty());
    EXPECT_EQ(rv::CloseCheckWindowFlag().load(), 1) << "an unstopped check closes the window";
  }
}

TEST_F(VerifyTest, ShortIndexBlockWarnsThenFails) {
  Bytes b = avi_.bytes;
  rvt::OverwriteLE32(b, avi_.idx1 + 4, 3 * 16 + 32);  // two entries more than the file holds
  Open(b);
  EXPECT_FALSE(Verify());
  EXPECT_EQ(rv::MessageLines(),
            (std::vector<std::string>{"• размер индексного блока меньше заявленного",
                                      "• ошибки в индексе"}));
  EXPECT_TRUE(rv::Index().entries.empty());
}

TEST_F(VerifyTest, EmptyIndexBlockFailsSilentlyAndKeepsTheIndex) {
  rvt::StandardAviShape shape = shape_;
  shape.withIdx1 = false;
  rvt::StandardAvi a = rvt::MakeStandardAvi(shape);
  Bytes b = a.bytes;
  rvt::AppendFourcc(b, "idx1");
  rvt::AppendLE32(b, 0);
  rvt::OverwriteLE32(b, 4, uint32_t(b.size() - 8));
  Open(b);
  ASSERT_TRUE(rv::HasBlock("idx1", ""));
  rv::Index().entries = {{1, 2, 3, 4}};
  EXPECT_FALSE(Verify());
  EXPECT_TRUE(rv::MessageLines().empty());
  EXPECT_EQ(rv::Index().entries.size(), 1u) << "nothing was loaded";
}

TEST_F(VerifyTest, HostileIndexSizeNeverAllocatesForIt) {
  Bytes b = avi_.bytes;
  rvt::OverwriteLE32(b, avi_.idx1 + 4, 0xFFFFFFF0);
  Open(b);
  struct rusage before {}, after {};
  getrusage(RUSAGE_SELF, &before);
  EXPECT_FALSE(Verify());
  getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 256L * 1024) << "peak grew by kilobytes";
  EXPECT_EQ(rv::MessageLines(),
            (std::vector<std::string>{"• размер индексного блока меньше заявленного",
                                      "• ошибки в индексе"}));
}

TEST_F(VerifyTest, StopEndsTheCheckWithAnEmptyIndexAndTheWindowOpen) {
  Open(avi_.bytes);
  host_.stop = true;
  EXPECT_FALSE(Verify());
  EXPECT_EQ(rv::MessageLines(), std::vector<std::string>{"• ошибки в индексе"});
  EXPECT_TRUE(rv::Index().entries.empty());
  EXPECT_EQ(rv::CloseCheckWindowFlag().load(), 0);
}

TEST_F(VerifyTest, ReadsThroughTheExclusionList) {
  // 500 foreign bytes in front of the second chunk, counted in the list sizes so that the
  // header walk still finds idx1; the stream without them is the clean file.
  Bytes b = avi_.bytes;
  const uint32_t at = avi_.chunks[1].offset;
  rvt::InsertAt(b, at, rvt::Filled(500, 0));
  rvt::OverwriteLE32(b, 4, rvt::ReadLE32(b, 4) + 500);
  rvt::OverwriteLE32(b, avi_.movi + 4, rvt::ReadLE32(b, avi_.movi + 4) + 500);
  Open(b);
  EXPECT_FALSE(Verify()) << "the index does not fit the file as it is";
  Open(b);
  rv::Exclusions() = {{at, 500}};
  rv::ResetReadCache();  // as every repair that adds an exclusion does
  EXPECT_TRUE(Verify());
  EXPECT_EQ(Entries(), Expected(avi_.index));
}

TEST_F(VerifyTest, NoIndexBlockFailsWithoutMessage) {
  rvt::StandardAviShape shape = shape_;
  shape.withIdx1 = false;
  Open(rvt::MakeStandardAvi(shape).bytes);
  EXPECT_FALSE(Verify());
  EXPECT_TRUE(rv::MessageLines().empty());
}

}  // namespace
