// The index check: a file's own idx1 loaded and checked entry by entry against its stream;
// and what a picture's own bytes say about being intra-coded, per codec.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdint>
#include <string>
#include <vector>

#include "check/index.h"
#include "check/scanner.h"
#include "check/stream_facts.h"
#include "fixtures/engine_dump.h"
#include "fixtures/engine_test.h"
#include "riff/bytes.h"

namespace {

using rvt::Bytes;
using Index = std::vector<rvt::IdxEntry>;

class VerifyTest : public rvt::EngineTest {
 protected:
  // Opens the bytes, optionally with an exclusion, runs the check; its result, then the
  // messages and the dump of the index it left. The file must stay as it was.
  std::string Verify(const Bytes& bytes, std::vector<rv::Exclusion> excluded = {}) {
    EXPECT_TRUE(Open(bytes).opened);
    rv::ClearMessages();
    rv::Exclusions() = std::move(excluded);
    rv::ResetReadCache();  // as every repair that adds an exclusion does
    rv::Index().entries = {{1, 2, 3, 4}};
    rv::CloseCheckWindowFlag() = 7;
    const rv::Completion c = rv::Execute("verifyIDX1");
    EXPECT_EQ(rvt::ReadFile(rv::InputFileName()), bytes) << "the file was changed";
    std::string s = "end " + std::to_string(c.result) + "\n";
    for (const std::string& m : rv::MessageLines()) s += m + "\n";
    return s + rvt::ScanDump();
  }
  const rvt::StandardAvi avi_ = rvt::MakeStandardAvi({.nVideo = 2, .nAudio = 1});
  // The file with its idx1 payload replaced (same length).
  Bytes WithIndex(const Index& index) const {
    Bytes b = avi_.bytes;
    rvt::OverwriteAt(b, avi_.idx1 + 8, rvt::Idx1(index));
    return b;
  }
};

const std::string kLoaded = "end 1\n• ошибок в потоке не обнаружено. размер индекса: 3\n";
const std::string kErrors = "end 0\n• ошибки в индексе\n";
const std::string kShort =
    "end 0\n• размер индексного блока меньше заявленного\n• ошибки в индексе\n";

TEST_F(VerifyTest, AnIndexThatNamesTheStreamIsLoadedAnyOtherIsEmptied) {
  // (The command line refuses an index of absolute file positions.)
  Index flags = avi_.index, more = avi_.index, id = avi_.index, far = avi_.index;
  flags[1].flags = 0xABCD0000;  // flags are neither checked nor changed
  more[1].length += 1;
  id[2].ckid = "01wb";
  far[2].offset = 0xFFFFFF00;  // beyond 4 GiB from the movi position
  EXPECT_EQ(Verify(WithIndex(flags)),
            kLoaded + "00dc K 4 1000\n01wb abcd0000 1012 418\n00dc - 1438 1001\n");
  for (const Index& bad : {more, id, far}) EXPECT_EQ(Verify(WithIndex(bad)), kErrors);
  Bytes hostile = avi_.bytes;
  rvt::OverwriteLE32(hostile, avi_.idx1 + 4, 0xFFFFFFF0);  // far more entries than it holds
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  EXPECT_EQ(Verify(hostile), kShort);
  getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 256L * 1024) << "peak grew by kilobytes";
  // A stop ends the check with an empty index and the window open.
  host_.onProgress = [](const rv::Progress&) { rv::RequestStop(); };
  EXPECT_EQ(Verify(avi_.bytes), kErrors + "grid 0 close 0\n");
}

TEST_F(VerifyTest, GroupEntriesExclusionsAndMissingIndexes) {
  const rvt::StandardAvi rec = rvt::MakeStandardAvi({.nVideo = 2, .nAudio = 1, .recGroups = true});
  // (The end-to-end test of a file in groups sees its index loaded.)
  Bytes noList = rec.bytes;
  rvt::OverwriteAt(noList, rec.groups[1], rvt::Text("JUNK"));
  EXPECT_EQ(Verify(noList), kErrors) << "a group entry must name a list";

  // 500 foreign bytes in front of the second chunk, counted in the list sizes: the stream
  // without them is the clean file.
  Bytes b = avi_.bytes;
  const uint32_t at = avi_.chunks[1].offset;
  rvt::InsertAt(b, at, rvt::Filled(500, 0));
  rvt::OverwriteLE32(b, 4, rvt::ReadLE32(b, 4) + 500);
  rvt::OverwriteLE32(b, avi_.movi + 4, rvt::ReadLE32(b, avi_.movi + 4) + 500);
  EXPECT_EQ(Verify(b), kErrors);
  EXPECT_EQ(Verify(b, {{at, 500}}), Verify(avi_.bytes));

  // No idx1, or an empty one: the check fails without a message and loads nothing.
  const rvt::StandardAvi none = rvt::MakeStandardAvi({.nVideo = 2, .nAudio = 1, .withIdx1 = false});
  Bytes empty = rvt::Concat({none.bytes, rvt::Text("idx1"), Bytes(4, 0)});
  rvt::OverwriteLE32(empty, 4, uint32_t(empty.size() - 8));
  EXPECT_EQ(Verify(none.bytes), std::string("end 0\n\1\0\0\0 2 3 4\ngrid 0 close 7\n", 32));
  EXPECT_EQ(Verify(empty), Verify(none.bytes));
}

// An OpenDML file: every standard index checked against the stream and the first that
// disagrees named with the part that holds it; when all hold, the index in memory and the
// items of the file's own index hold every chunk of every part.
TEST_F(VerifyTest, OpenDmlIndexesAreCheckedAndCoverEveryPart) {
  for (bool withIdx1 : {true, false}) {
    const auto a = rvt::MakeOpenDmlAvi({.nVideo = 14, .nAudio = 11, .withIdx1 = withIdx1}, 4096);
    ASSERT_GE(a.parts.size(), 3u);
    EXPECT_EQ(
        Verify(a.bytes).rfind("end 1\n• ошибок в потоке не обнаружено. размер индекса: 25\n", 0),
        0u);
    EXPECT_EQ(rv::Index().entries, rvt::Entries(a.index)) << withIdx1;
    ASSERT_TRUE(rv::OpenSource(rv::InputFileName()));
    const rv::OwnIndex own = rv::LoadOwnIndex();
    rv::CloseSource();
    ASSERT_EQ(own.items.size(), a.chunks.size());
    for (size_t i = 0; i < a.chunks.size(); ++i) {
      EXPECT_EQ(own.items[i].filePos, a.chunks[i].offset) << i;
      EXPECT_EQ(own.items[i].flags, a.index[i].flags) << i;
    }
  }
  const auto a = rvt::MakeOpenDmlAvi({.nVideo = 14, .nAudio = 11}, 4096);
  size_t audio2 = a.parts[1].firstChunk;  // the second part's first audio chunk
  while (a.chunks[audio2].id != "01wb") ++audio2;
  ASSERT_LT(audio2, a.parts[2].firstChunk);
  const uint32_t vsuper = a.indx[0] + 8 + 24;  // the video super index's entries
  const auto odml = [](std::string what) { return "• ошибки в индексе OpenDML: " + what + "\n"; };
  const struct {
    size_t at;
    Bytes what;
    std::string want;
  } cases[] = {
      {a.chunks[audio2].offset + 4, {1, 2}, odml("ix01, часть 2")},
      {a.chunks[0].offset, rvt::Text("00db"), "• ошибки в индексе\n" + odml("ix00, часть 1")},
      {vsuper + 16, {0, 0, 0, 0, 0xFF}, odml("ix00, часть " + std::to_string(a.parts.size()))},
      {vsuper + 16, Bytes(a.bytes.begin() + vsuper, a.bytes.begin() + vsuper + 16),
       odml("ix00, часть 1")},  // the first standard index named twice
      {a.parts[1].ix[1] + 12, {0xF0, 0xFF, 0xFF, 0xFF}, odml("ix01, часть 2")},  // its count
      {a.indx[0] + 12, {0xFF, 0xFF, 0xFF, 0xFF}, ""},  // unused slots of the super index
  };
  for (const auto& c : cases) {
    Bytes b = a.bytes;
    rvt::OverwriteAt(b, c.at, c.what);
    const std::string got = Verify(b);
    if (c.want.empty())
      EXPECT_EQ(rv::Index().entries, rvt::Entries(a.index)) << got;
    else
      EXPECT_EQ(got, "end 0\n" + c.want) << c.at;
  }
}

// What the end-to-end keyframe search cannot show on the encoders' own output: a placeholder
// I-VOP, a recovery point, bytes without a start code.
TEST(StreamFacts, WhatPicturesSay) {
  using R = rv::IntraRule;
  std::string got;
  const struct {
    R rule;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {R::Mpeg4Visual, {0, 0, 1, 0xB6, 0x12, 0xCF}},  // an I-VOP with nothing coded
      {R::Mpeg4Visual, {1, 2, 3, 4, 5, 6}},
      {R::Mpeg4Visual, {}},
      {R::H264, {0, 0, 1, 0x06, 0x06, 1, 0x80, 0, 0, 1, 0x41}},  // a recovery point SEI
      {R::AllIntra, {1}},
      {R::Unknown, {0, 0, 1, 0xB6, 0}},
  };
  for (const auto& c : cases)
    got += std::to_string(rv::PictureIsIntra(c.rule, c.bytes.data(), c.bytes.size())) + " ";
  EXPECT_EQ(got, "0 -1 0 1 1 -1 ");
}

}  // namespace
