// OpenDML index chunks and dmlh: the exact bytes written, what is read back, hostile payloads,
// and the fixture's OpenDML files read through the engine's parser (each checks the other).
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

// Parses the payload of the whole index chunk at pos in b.
bool ParseAt(const Bytes& b, size_t pos, rv::OdmlIndex& ix) {
  const size_t n = rvt::ReadLE32(b, pos + 4);
  return pos + 8 + n <= b.size() && rv::ParseOdmlIndex(b.data() + pos + 8, n, ix);
}

TEST(OdmlIndex, SuperIndexBytesAndRoundTrip) {
  const std::vector<rv::SuperIndexEntry> entries{{0x1122334455667788, 0x20, 7}};
  const Bytes b = rv::SuperIndexChunk(rv::fcc("00dc"), entries, 2);
  EXPECT_EQ(b, Concat({Text("indx"),
                       {56, 0, 0, 0, 4, 0, 0, 0, 1, 0, 0, 0},
                       Text("00dc"),
                       Filled(12, 0),
                       {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11},
                       {0x20, 0, 0, 0, 7, 0, 0, 0},
                       Filled(16, 0)}));
  EXPECT_EQ(rv::SuperIndexChunkSize(2), b.size());
  rv::OdmlIndex ix;
  ASSERT_TRUE(ParseAt(b, 0, ix));
  EXPECT_EQ(ix.super, entries) << "the unused room is not read as entries";
  EXPECT_EQ(ix.indexType, rv::kIndexOfIndexes);
  EXPECT_TRUE(ix.chunks.empty());
  // A capacity below the entries is raised to them.
  const Bytes three = rv::SuperIndexChunk(rv::fcc("01wb"), {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, 1);
  ASSERT_EQ(three.size(), rv::SuperIndexChunkSize(3));
  ASSERT_TRUE(ParseAt(three, 0, ix));
  EXPECT_EQ(ix.super.size(), 3u);
  EXPECT_EQ(ix.super[2], (rv::SuperIndexEntry{7, 8, 9}));
}

TEST(OdmlIndex, StandardIndexBytesKeyframeBitAndRoundTrip) {
  const std::vector<rv::StdIndexEntry> entries{{0x10, 0x100, true}, {0x200, 0x30, false}};
  const Bytes b = rv::StdIndexChunk(rv::fcc("01wb"), 0x123456789, entries);
  EXPECT_EQ(b, Concat({Text("ix01"),
                       {40, 0, 0, 0, 2, 0, 0, 1, 2, 0, 0, 0},
                       Text("01wb"),
                       {0x89, 0x67, 0x45, 0x23, 1, 0, 0, 0, 0, 0, 0, 0},
                       {0x10, 0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0x30, 0, 0, 0x80}}));
  rv::OdmlIndex ix;
  ASSERT_TRUE(ParseAt(b, 0, ix));
  EXPECT_EQ(ix.chunks, entries);
  EXPECT_EQ(ix.base, 0x123456789u);
  EXPECT_EQ(ix.chunkId, rv::fcc("01wb"));
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

// The fixture's indx -> ix## -> chunk chain, read with the engine's parser, finds every stream
// chunk of every part, in order, with its size and keyframe flag.
TEST(OdmlIndex, FixtureIndexesFindEveryChunk) {
  const rvt::StandardAvi a = rvt::MakeOpenDmlAvi({.nVideo = 14, .nAudio = 11}, 4096);
  ASSERT_GE(a.parts.size(), 3u);
  for (size_t p = 0; p < a.parts.size(); ++p) {
    const uint32_t riff = a.parts[p].riff, size = rvt::ReadLE32(a.bytes, riff + 4);
    EXPECT_EQ(rv::GetChars(a.bytes, riff, 4) + rv::GetChars(a.bytes, riff + 8, 4) +
                  rv::GetChars(a.bytes, a.parts[p].movi + 8, 4),
              p == 0 ? "RIFFAVI movi" : "RIFFAVIXmovi");
    EXPECT_EQ(p + 1 < a.parts.size() ? a.parts[p + 1].riff : a.bytes.size(), riff + 8 + size);
  }
  uint32_t frames = 0;
  ASSERT_TRUE(rv::ParseDmlh(a.bytes.data() + a.dmlh + 8, 248, frames));
  EXPECT_EQ(frames, 14u);
  ASSERT_EQ(a.indx.size(), 2u);
  for (size_t s = 0; s < 2; ++s) {
    rv::OdmlIndex sup, std;
    ASSERT_TRUE(ParseAt(a.bytes, a.indx[s], sup));
    ASSERT_EQ(sup.super.size(), a.parts.size());
    std::vector<size_t> found;
    for (size_t p = 0; p < sup.super.size(); ++p) {
      EXPECT_EQ(sup.super[p].offset, a.parts[p].ix[s]);
      ASSERT_TRUE(ParseAt(a.bytes, sup.super[p].offset, std));
      EXPECT_EQ(std.chunkId, sup.chunkId);
      EXPECT_EQ(sup.super[p].size, 8 + 24 + 8 * std.chunks.size());
      for (const rv::StdIndexEntry& e : std.chunks) {
        const uint64_t at = std.base + e.offset - 8;
        for (size_t i = 0; i < a.chunks.size(); ++i)
          if (a.chunks[i].offset == at && a.chunks[i].size == e.size &&
              (a.index[i].flags == 0x10) == e.keyframe && rv::fcc(a.chunks[i].id) == std.chunkId)
            found.push_back(i);
      }
    }
    std::vector<size_t> want;
    for (size_t i = 0; i < a.chunks.size(); ++i)
      if (a.chunks[i].id == (s == 0 ? "00dc" : "01wb")) want.push_back(i);
    EXPECT_EQ(found, want) << "stream " << s;
  }
}

}  // namespace
