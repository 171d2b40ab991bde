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
// n index entries, their offsets from base on.
std::vector<rv::IndexEntry> Entries(size_t n, uint64_t base = 0) {
  std::vector<rv::IndexEntry> v;
  for (uint32_t i = 0; i < n; ++i)
    v.push_back(
        {rv::fcc(i % 2 ? "01wb" : "00dc"), i % 5 ? 0u : 0x10u, base + 4 + 100 * i, 92 + i % 7});
  return v;
}
// A ".2fix" image written by hand: "2fix", the name's length and the name, the bad-block
// records' size and the 34-byte records, the index's size and its 16-byte entries. The wide
// form: "2fx8", 64-bit sizes, 42-byte records and 20-byte entries (64-bit offsets).
Bytes TwoFix(const std::string& name, const std::vector<rv::BadBlock>& bad, size_t entries,
             bool wide = false, uint64_t base = 0) {
  Bytes b = rvt::Text(wide ? "2fx8" : "2fix");
  const auto size = [&](uint64_t v) {
    rvt::AppendLE32(b, uint32_t(v));
    if (wide) rvt::AppendLE32(b, uint32_t(v >> 32));
  };
  rvt::AppendLE32(b, uint32_t(name.size()));
  rvt::AppendBytes(b, rvt::Text(name));
  const size_t rec = wide ? 42 : 34;
  size(bad.size() * rec);
  for (const rv::BadBlock& r : bad) {
    b.resize(b.size() + rec);
    (wide ? rv::PackWideBadBlock : rv::PackBadBlock)(r, b.data() + b.size() - rec);
  }
  size(entries * (wide ? 20 : 16));
  for (const rv::IndexEntry& e : Entries(entries, base)) {
    for (uint32_t v : {e.ckid, e.dwFlags, uint32_t(e.dwChunkOffset)}) rvt::AppendLE32(b, v);
    if (wide) rvt::AppendLE32(b, uint32_t(e.dwChunkOffset >> 32));
    rvt::AppendLE32(b, e.dwChunkLength);
  }
  return b;
}

class SideFilesTest : public rvt::EngineTest {
 protected:
  // Loads a ".2fix" image over lists that a load which changes nothing leaves behind; what
  // was loaded: "y bad 1 11 | idx 3/3" (the result, the entries of the records, the index).
  std::string Load(const Bytes& image, const std::string& sourceName) {
    rv::BadBlocks() = {Bad(9)};
    SetIndex(Entries(1));
    std::string s =
        rv::RestoreCrashedBlo(dir_.Write("x.2fix", image), sourceName) ? "y bad" : "n bad";
    for (const rv::BadBlock& b : rv::BadBlocks()) s += " " + std::to_string(b.EntryIndex);
    return s + " | idx " + std::to_string(rv::Index().entries.size()) + "/" +
           std::to_string(rv::Index().count);
  }
};

TEST_F(SideFilesTest, TwoFixIsWrittenAsLaidOutAndLoadedOnlyForTheSameFileName) {
  rv::BadBlocks() = {Bad(0), Bad(1), Bad(2)};
  SetIndex(Entries(1000));
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

// Past 4 GiB (a bad block's or an entry's offset) the ".2fix" is the wide one; the index
// alone has no room for such offsets.
TEST_F(SideFilesTest, OffsetsPast4GiBMakeTheWideTwoFixAndNoIdx1) {
  rv::BadBlock far = Bad(1);
  far.FileOffset = 0x100000000;
  const std::string idx1 = dir_.File("out.idx1");
  for (auto [bad, base] : {std::pair{std::vector{Bad(0), far}, uint64_t{0}},
                           {std::vector{Bad(0)}, uint64_t{0xFFFFFF00}}}) {
    rv::BadBlocks() = bad;
    SetIndex(Entries(5, base));
    const std::string path = dir_.File(std::to_string(base) + ".2fix");
    ASSERT_EQ(rv::SaveCrashedBlo(path, "/d/Film.avi"), rv::SaveOutcome::Written);
    EXPECT_EQ(rvt::ReadFile(path), TwoFix("Film.avi", bad, 5, true, base));
    Load(rvt::ReadFile(path), "Film.avi");
    EXPECT_EQ(rv::BadBlocks(), bad);
    EXPECT_EQ(rv::Index().entries, Entries(5, base));
  }
  rv::ClearMessages();
  EXPECT_EQ(rv::SaveIndexOnly(idx1), rv::SaveOutcome::Failed);
  EXPECT_EQ(rv::MessageLines().size(), 1u);
  EXPECT_FALSE(rv::FileExists(idx1));
}

TEST_F(SideFilesTest, TruncatedOrHostileFilesLoadOnlyTheWholeRecordsTheyHold) {
  for (bool wide : {false, true}) {
    const Bytes full = TwoFix("clip.avi", {Bad(0), Bad(1), Bad(2)}, 5, wide);
    // The name's, a size field's, a record's and an entry's sizes.
    const size_t n = 8, z = wide ? 8 : 4, r = wide ? 42 : 34, e = wide ? 20 : 16;
    for (size_t t = 0; t <= full.size(); ++t) {
      // Until the name is whole it is no file of this source; then every whole record counts.
      const size_t records = t >= 8 + n + z ? std::min<size_t>(3, (t - 8 - n - z) / r) : 0;
      const size_t at = 8 + n + 2 * z + 3 * r;  // the first entry
      const size_t held = t >= at ? std::min<size_t>(5, (t - at) / e) : 0;
      std::string want = "y bad";
      for (size_t k = 0; k < records; ++k) want += " " + std::to_string(10 * k + 1);
      want += " | idx " + std::to_string(held) + "/" + std::to_string(held);
      EXPECT_EQ(Load(rvt::Truncated(full, t), "clip.avi"), t >= 8 + n ? want : "n bad 91 | idx 1/1")
          << "cut at " << t << (wide ? " wide" : "");
    }
    // Size fields that claim gigabytes (or exabytes): only what follows is loaded, nothing
    // allocated for them.
    Bytes b = TwoFix("a.av", {Bad(0), Bad(1)}, 0, wide);
    rvt::OverwriteAt(b, 12, Bytes(z, 0xFE));
    b.resize(b.size() - z);
    EXPECT_EQ(Load(b, "a.av"), "y bad 1 11 | idx 0/0");
    EXPECT_LE(rv::BadBlocks().capacity(), 1024u);
    b = TwoFix("a.av", {}, 3, wide);
    rvt::OverwriteAt(b, 12 + z, Bytes(z, 0xF0));
    EXPECT_EQ(Load(b, "a.av"), "y bad | idx 3/3");
    EXPECT_LE(rv::Index().entries.capacity(), 1024u);
    rvt::OverwriteLE32(b, 4, 0xFFFFFFFFu);  // a name of 4 GiB
    EXPECT_EQ(Load(b, "a.av"), "n bad 91 | idx 1/1");
  }
}

}  // namespace
