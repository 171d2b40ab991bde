// rivetta-cli check on an AVI made by ffmpeg: the clean file gives no bad block and an index
// equal to the file's own idx1; with 4096 zero bytes inserted inside one video chunk the check
// finds exactly that chunk, 4096 bytes longer than it claims, filled by a 4096-byte zero run.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "fixtures/avi_builder.h"
#include "fixtures/cli_run.h"
#include "fixtures/ffmpeg_sample.h"

namespace {

using Bytes = rvt::Bytes;

using Outcome = rvt::CliOutcome;
Outcome Cli(const rvt::TempDir& dir, const std::string& args) { return rvt::RunCli(dir, args); }

struct Entry {
  std::string id;
  uint32_t flags = 0, offset = 0, length = 0;
};

std::vector<Entry> ParseEntries(const Bytes& b, size_t from, size_t size) {
  std::vector<Entry> v;
  for (size_t p = from; p + 16 <= from + size && p + 16 <= b.size(); p += 16)
    v.push_back({std::string(b.begin() + long(p), b.begin() + long(p) + 4), rvt::ReadLE32(b, p + 4),
                 rvt::ReadLE32(b, p + 8), rvt::ReadLE32(b, p + 12)});
  return v;
}

// The file's top-level layout read independently of the program: positions of the movi
// list's size field, the four bytes "movi", and the entries of idx1.
struct Layout {
  size_t moviSizeField = 0, moviPos = 0;
  std::vector<Entry> idx1;
};

Layout ReadLayout(const Bytes& b) {
  Layout l;
  for (size_t p = 12; p + 8 <= b.size();) {
    const std::string id(b.begin() + long(p), b.begin() + long(p) + 4);
    const uint32_t size = rvt::ReadLE32(b, p + 4);
    if (id == "LIST" && std::string(b.begin() + long(p) + 8, b.begin() + long(p) + 12) == "movi") {
      l.moviSizeField = p + 4;
      l.moviPos = p + 8;
    }
    if (id == "idx1") l.idx1 = ParseEntries(b, p + 8, size);
    p += 8 + size + (size & 1);
  }
  return l;
}

std::vector<std::string> Split(const std::string& s, const std::string& sep) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (size_t at; (at = s.find(sep, from)) != std::string::npos; from = at + sep.size())
    parts.push_back(s.substr(from, at - from));
  parts.push_back(s.substr(from));
  return parts;
}

// Bad-block rows of the printed grid, cells trimmed.
std::vector<std::vector<std::string>> Rows(const std::string& out) {
  std::vector<std::vector<std::string>> rows;
  for (const std::string& line : Split(out, "\n")) {
    std::vector<std::string> cells = Split(line, " | ");
    if (cells.size() != 9) continue;
    for (std::string& c : cells) {
      const size_t a = c.find_first_not_of(' '), z = c.find_last_not_of(' ');
      c = a == std::string::npos ? "" : c.substr(a, z - a + 1);
    }
    if (!cells[0].empty() && cells[1] != "#") rows.push_back(cells);
  }
  return rows;
}

class E2eCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RVT_SKIP_WITHOUT_FFMPEG();
    file_ = rvt::MakeFfmpegAvi(dir_.path(), {}, "clip.avi");
    ASSERT_FALSE(file_.empty()) << "ffmpeg failed";
    bytes_ = rvt::ReadFile(file_);
    layout_ = ReadLayout(bytes_);
    ASSERT_GT(layout_.moviPos, 0u);
    ASSERT_GT(layout_.idx1.size(), 50u);
  }
  rvt::TempDir dir_{"e2e-check"};
  std::string file_;
  Bytes bytes_;
  Layout layout_;
};

TEST_F(E2eCheckTest, CleanFileGivesTheFilesOwnIndex) {
  const Outcome r = Cli(dir_, "check clip.avi --index-out new.idx1");
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_TRUE(Rows(r.out).empty()) << r.out;
  EXPECT_NE(r.out.find("битых блоков: 0, поток проверен до конца"), std::string::npos);

  const Bytes idx = rvt::ReadFile(dir_.File("new.idx1"));
  ASSERT_GE(idx.size(), 8u);
  const std::vector<Entry> got = ParseEntries(idx, 8, rvt::ReadLE32(idx, 4));
  const std::vector<Entry>& own = layout_.idx1;
  ASSERT_EQ(got.size(), own.size());
  bool firstVideo = true;
  for (size_t i = 0; i < own.size(); ++i) {
    SCOPED_TRACE("entry " + std::to_string(i) + " " + own[i].id);
    EXPECT_EQ(got[i].id, own[i].id);
    EXPECT_EQ(got[i].offset, own[i].offset);
    EXPECT_EQ(got[i].length, own[i].length);
    // Flags by design: the first video chunk and every audio chunk are marked.
    if (own[i].id == "01wb") {
      EXPECT_EQ(got[i].flags, 0x10u);
    } else {
      EXPECT_EQ(got[i].flags, firstVideo ? 0x10u : 0u);
      firstVideo = false;
    }
  }
}

TEST_F(E2eCheckTest, InsertedZerosAreFoundInTheirChunk) {
  // A video chunk from the middle of the file's own index (of even size: no pad byte), and a
  // place inside its payload with non-zero bytes on both sides, so that the zero run is
  // exactly the inserted one.
  const std::vector<Entry>& own = layout_.idx1;
  size_t k = own.size() / 2;
  while (k < own.size() && (own[k].id != "00dc" || own[k].length < 200 || own[k].length % 2)) ++k;
  ASSERT_LT(k, own.size());
  const size_t payload = layout_.moviPos + own[k].offset + 8;
  size_t cut = own[k].length / 2;
  while (cut < own[k].length - 1 && (bytes_[payload + cut - 1] == 0 || bytes_[payload + cut] == 0))
    ++cut;
  ASSERT_LT(cut, own[k].length - 1);

  Bytes damaged = bytes_;
  rvt::InsertAt(damaged, payload + cut, Bytes(4096, 0));
  // The list and file sizes grow with it: the only damage is the chunk's own size field.
  rvt::OverwriteLE32(damaged, 4, rvt::ReadLE32(damaged, 4) + 4096);
  rvt::OverwriteLE32(damaged, layout_.moviSizeField,
                     rvt::ReadLE32(damaged, layout_.moviSizeField) + 4096);
  dir_.Write("damaged.avi", damaged);

  const Outcome r = Cli(dir_, "check damaged.avi --index-out new.idx1");
  ASSERT_EQ(r.code, 0) << r.out;
  const auto rows = Rows(r.out);
  ASSERT_EQ(rows.size(), 1u) << r.out;
  const std::vector<std::string> want{"1",
                                      std::to_string(k),
                                      "00dc",
                                      std::to_string(layout_.moviPos + own[k].offset),
                                      std::to_string(own[k].offset),
                                      std::to_string(own[k].length),
                                      std::to_string(own[k].length + 4096),
                                      "4096",
                                      "4096(00) at " + std::to_string(8 + cut)};
  EXPECT_EQ(rows[0], want);

  // Every entry behind the damaged chunk lies 4096 bytes further on.
  const Bytes idx = rvt::ReadFile(dir_.File("new.idx1"));
  const std::vector<Entry> got = ParseEntries(idx, 8, rvt::ReadLE32(idx, 4));
  ASSERT_EQ(got.size(), own.size());
  for (size_t i = 0; i < own.size(); ++i) {
    EXPECT_EQ(got[i].id, own[i].id) << i;
    EXPECT_EQ(got[i].offset, own[i].offset + (i > k ? 4096 : 0)) << i;
    EXPECT_EQ(got[i].length, own[i].length) << i;
  }
}

}  // namespace
