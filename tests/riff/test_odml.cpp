// OpenDML index chunks and dmlh: the exact bytes written, the field lines of what is read
// back, hostile payloads. (The index check reads the fixture's OpenDML files through the
// parser; the layout reader follows the indexes the writer writes.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures/avi_builder.h"
#include "riff/bytes.h"
#include "riff/odml.h"

namespace {

using rv::Bytes;
using rvt::Concat;
using rvt::Filled;
using rvt::Text;

TEST(OdmlIndex, SuperIndexBytesWithRoomForMore) {
  const Bytes b = rv::SuperIndexChunk(rv::fcc("00dc"), {{0x1122334455667788, 0x20, 7}}, 2);
  EXPECT_EQ(b, Concat({Text("indx"),
                       {56, 0, 0, 0, 4, 0, 0, 0, 1, 0, 0, 0},
                       Text("00dc"),
                       Filled(12, 0),
                       {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11},
                       {0x20, 0, 0, 0, 7, 0, 0, 0},
                       Filled(16, 0)}));
  EXPECT_EQ(rv::SuperIndexChunkSize(2), b.size());
  // A capacity below the entries is raised to them.
  EXPECT_EQ(rv::SuperIndexChunk(rv::fcc("01wb"), {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, 1).size(),
            rv::SuperIndexChunkSize(3));
}

TEST(OdmlIndex, StandardIndexBytesKeyframeBitAndFieldLines) {
  const std::vector<rv::StdIndexEntry> entries{{0x10, 0x100, true}, {0x200, 0x30, false}};
  const Bytes b = rv::StdIndexChunk(rv::fcc("01wb"), 0x123456789, entries);
  EXPECT_EQ(b, Concat({Text("ix01"),
                       {40, 0, 0, 0, 2, 0, 0, 1, 2, 0, 0, 0},
                       Text("01wb"),
                       {0x89, 0x67, 0x45, 0x23, 1, 0, 0, 0, 0, 0, 0, 0},
                       {0x10, 0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0x30, 0, 0, 0x80}}));
  rv::OdmlIndex ix;
  ASSERT_TRUE(rv::ParseOdmlIndex(b.data() + 8, b.size() - 8, ix));
  EXPECT_EQ(
      rv::OdmlIndexLines(ix),
      (std::vector<std::string>{"IndexType = индекс блоков (standard index)", "LongsPerEntry = 2",
                                "EntriesInUse = 2", "ChunkId = 01wb", "BaseOffset = 4886718345"}));
  for (auto [id, ix_id] : {std::pair{"00dc", "ix00"}, {"01wb", "ix01"}, {"12tx", "ix12"}})
    EXPECT_EQ(rv::cff(rv::StdIndexId(rv::fcc(id))), ix_id);
}

TEST(OdmlIndex, HostilePayloadsNeverReadPastTheirEnd) {
  const Bytes std2 = rv::StdIndexChunk(rv::fcc("00dc"), 0, {{8, 10, true}, {30, 12, false}});
  const Bytes sup1 = rv::SuperIndexChunk(rv::fcc("00dc"), {{1, 2, 3}}, 1);
  auto with = [](Bytes b, size_t pos, Bytes what) { return rvt::OverwriteAt(b, pos, what), b; };
  struct Case {
    const char* name;
    Bytes chunk;  // whole chunk; the payload is everything after its 8 bytes
    bool ok;
    size_t entries;
  } cases[] = {
      {"header one byte short", Bytes(std2.begin(), std2.begin() + 8 + 23), false, 0},
      {"bare header", Bytes(std2.begin(), std2.begin() + 8 + 24), true, 0},
      {"chunks with 4 longs", with(std2, 8, {4, 0}), false, 0},
      {"indexes with 2 longs", with(sup1, 8, {2, 0}), false, 0},
      {"field index (3 longs)", with(std2, 8, {3, 0}), false, 0},
      {"data index type", with(std2, 11, {0x80}), false, 0},
      {"huge count, chunks", with(std2, 12, {0xFF, 0xFF, 0xFF, 0xFF}), true, 2},
      {"huge count, indexes", with(sup1, 12, {0xFF, 0xFF, 0xFF, 0x7F}), true, 1},
      {"last entry truncated", Bytes(std2.begin(), std2.end() - 1), true, 1},
      {"unused room", rv::SuperIndexChunk(rv::fcc("00dc"), {{1, 2, 3}}, 4), true, 1},
  };
  for (const Case& c : cases) {
    // An exact-size heap copy, so that a read past the end shows under a sanitizer.
    const Bytes payload(c.chunk.begin() + 8, c.chunk.end());
    rv::OdmlIndex ix;
    EXPECT_EQ(rv::ParseOdmlIndex(payload.data(), payload.size(), ix), c.ok) << c.name;
    EXPECT_EQ(ix.chunks.size() + ix.super.size(), c.entries) << c.name;
  }
}

TEST(OdmlIndex, DmlhHoldsTheTotalFrameCount) {
  const Bytes b = rv::OdmlList(0x01020304);
  EXPECT_EQ(b, Concat({Text("LIST"),
                       {4, 1, 0, 0},
                       Text("odmldmlh"),
                       {248, 0, 0, 0, 4, 3, 2, 1},
                       Filled(244, 0)}));
  uint32_t frames = 0;
  EXPECT_TRUE(rv::ParseDmlh(b.data() + 20, 4, frames));
  EXPECT_EQ(frames, 0x01020304u);
  EXPECT_FALSE(rv::ParseDmlh(b.data() + 20, 3, frames));
}

}  // namespace
