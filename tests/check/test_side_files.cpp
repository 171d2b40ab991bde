// Side files of a check: the ".2fix" image of the bad-block list and the index, its reader
// (name check, truncated and hostile files). The command line tests see it written, refused
// for another file and continued from; the end-to-end tests compare the ".idx1" file.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "check/bad_blocks.h"
#include "check/index.h"
#include "check/side_files.h"
#include "fixtures/engine_dump.h"
#include "fixtures/engine_test.h"
#include "riff/bytes.h"

namespace {

using rvt::Bytes;

rv::BadBlock Bad(uint32_t k) {
  // clang-format off
  return {10 * k + 1, rv::fcc(k % 2 ? "01wb" : "00dc"), 2000 + 300 * k, 1000 + 300 * k, 100 + k,
          200 + k, '*', uint8_t(0xA0 + k), 50 + k, 8 + k};
  // clang-format on
}
std::vector<rvt::IdxEntry> IdxEntries(size_t n) {
  std::vector<rvt::IdxEntry> v;
  for (uint32_t i = 0; i < n; ++i)
    v.push_back({i % 2 ? "01wb" : "00dc", i % 5 ? 0u : 0x10u, 4 + 100 * i, 92 + i % 7});
  return v;
}
void SetIndex(const std::vector<rvt::IdxEntry>& v) {
  rv::Index().entries.clear();
  for (const rvt::IdxEntry& e : v)
    rv::Index().entries.push_back({rv::fcc(e.ckid), e.flags, e.offset, e.length});
  rv::Index().count = v.size();
}
// A ".2fix" image written by hand: "2fix", the name's length and the name, the bad-block
// records' size and the 34-byte records, the index's size and its 16-byte entries.
Bytes TwoFix(const std::string& name, const std::vector<rv::BadBlock>& bad, size_t entries) {
  Bytes b = rvt::Text("2fix");
  rvt::AppendLE32(b, uint32_t(name.size()));
  rvt::AppendBytes(b, rvt::Text(name));
  rvt::AppendLE32(b, uint32_t(bad.size() * 34));
  for (const rv::BadBlock& r : bad) {
    b.resize(b.size() + 34);
    rv::PackBadBlock(r, b.data() + b.size() - 34);
  }
  rvt::AppendLE32(b, uint32_t(entries * 16));
  rvt::AppendBytes(b, rvt::Idx1(IdxEntries(entries)));
  return b;
}

class SideFilesTest : public rvt::EngineTest {
 protected:
  // Loads a ".2fix" image over lists that a load which changes nothing leaves behind; what
  // was loaded: "y bad 1 11 | idx 3/3" (the result, the entries of the records, the index).
  std::string Load(const Bytes& image, const std::string& sourceName) {
    rv::BadBlocks() = {Bad(9)};
    SetIndex(IdxEntries(1));
    std::string s =
        rv::RestoreCrashedBlo(dir_.Write("x.2fix", image), sourceName) ? "y bad" : "n bad";
    for (const rv::BadBlock& b : rv::BadBlocks()) s += " " + std::to_string(b.EntryIndex);
    return s + " | idx " + std::to_string(rv::Index().entries.size()) + "/" +
           std::to_string(rv::Index().count);
  }
};

TEST_F(SideFilesTest, TwoFixIsWrittenAsLaidOutAndLoadedOnlyForTheSameFileName) {
  rv::BadBlocks() = {Bad(0), Bad(1), Bad(2)};
  SetIndex(IdxEntries(1000));
  const std::string path = dir_.File("out.2fix");
  ASSERT_EQ(rv::SaveCrashedBlo(path, "/some/dir/Film.avi"), rv::SaveOutcome::Written);
  EXPECT_EQ(rvt::ReadFile(path), TwoFix("Film.avi", {Bad(0), Bad(1), Bad(2)}, 1000));
  // Whatever the directory and the letter case, Cyrillic ones too.
  const struct {
    const char *saved, *loaded;
    bool loads;
  } cases[] = {{"Фильм.AVI", "/d2/фильм.avi", true},
               {"Ёлка ЖЭЯ.avi", "/ёлка жэя.AVI", true},
               {"Film.avi", "/d/Fil.avi", false},
               {"Film.avi", "/d/фильм.avi", false}};
  for (const auto& c : cases)
    EXPECT_EQ(Load(TwoFix(c.saved, {Bad(0), Bad(1)}, 7), c.loaded),
              c.loads ? "y bad 1 11 | idx 7/7" : "n bad 91 | idx 1/1")
        << c.saved << " -> " << c.loaded;
  Bytes magic = TwoFix("Film.avi", {Bad(0)}, 3);
  magic[1] = 'F';
  EXPECT_EQ(Load(magic, "/d/Film.avi"), "n bad 91 | idx 1/1");
}

TEST_F(SideFilesTest, TruncatedOrHostileFilesLoadOnlyTheWholeRecordsTheyHold) {
  const Bytes full = TwoFix("clip.avi", {Bad(0), Bad(1), Bad(2)}, 5);
  const size_t n = 8, b3 = 3 * 34;  // the name's and the records' sizes
  for (size_t t = 0; t <= full.size(); ++t) {
    // Until the name is whole it is no file of this source; then every whole record counts.
    const size_t records = t >= 12 + n ? std::min<size_t>(3, (t - 12 - n) / 34) : 0;
    const size_t held = t >= 16 + n + b3 ? std::min<size_t>(5, (t - 16 - n - b3) / 16) : 0;
    std::string want = "y bad";
    for (size_t k = 0; k < records; ++k) want += " " + std::to_string(10 * k + 1);
    want += " | idx " + std::to_string(held) + "/" + std::to_string(held);
    EXPECT_EQ(Load(rvt::Truncated(full, t), "clip.avi"), t >= 8 + n ? want : "n bad 91 | idx 1/1")
        << "cut at " << t;
  }
  // Size fields that claim gigabytes: only what follows is loaded, nothing allocated for them.
  Bytes b = TwoFix("a.av", {Bad(0), Bad(1)}, 0);
  rvt::OverwriteLE32(b, 12, 0xFFFFFFFEu);  // 126 million records
  b.resize(b.size() - 4);
  EXPECT_EQ(Load(b, "a.av"), "y bad 1 11 | idx 0/0");
  EXPECT_LE(rv::BadBlocks().capacity(), 1024u);
  b = TwoFix("a.av", {}, 3);
  rvt::OverwriteLE32(b, 16, 0xFFFFFFF0u);  // 268 million entries
  EXPECT_EQ(Load(b, "a.av"), "y bad | idx 3/3");
  EXPECT_LE(rv::Index().entries.capacity(), 1024u);
  rvt::OverwriteLE32(b, 4, 0xFFFFFFFFu);  // a name of 4 GiB
  EXPECT_EQ(Load(b, "a.av"), "n bad 91 | idx 1/1");
}

}  // namespace
