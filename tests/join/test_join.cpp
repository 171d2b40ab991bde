// Joining AVI files built in code: the output byte for byte (the first file's header, the
// streams one after the other with their pad bytes, a new idx1 with continuing offsets and each
// file's own flags), the faults with their partial outputs and the proposed output name.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fixtures/avi_builder.h"
#include "fixtures/avi_layout.h"
#include "fixtures/engine_test.h"
#include "join/join.h"
#include "output/movi_out.h"

namespace {

using rvt::Bytes;
using rvt::ReadLE32;
using rvt::Slice;

// n video/audio pairs, video chunks of videoSize + i % 3 bytes (odd ones padded with 0xAB).
rvt::StandardAvi File(int n, uint32_t videoSize = 200, int keyEvery = 5) {
  rvt::StandardAvi a = rvt::MakeStandardAvi(
      {.nVideo = n, .nAudio = n, .videoChunkSize = videoSize, .keyframeInterval = keyEvery});
  for (const rvt::ChunkLoc& c : a.chunks)
    if (c.size % 2) a.bytes[c.offset + 8 + c.size] = 0xAB;
  return a;
}

// The stream of a file: the chunks of its movi list.
Bytes Stream(const rvt::StandardAvi& a) {
  return Slice(a.bytes, a.moviPos + 4, ReadLE32(a.bytes, a.movi + 4) - 4);
}

// The stream chunks of a file as they stand, pad bytes included, in file order.
Bytes Chunks(const rvt::StandardAvi& a) {
  Bytes s;
  for (const rvt::ChunkLoc& c : a.chunks)
    rvt::AppendBytes(s, Slice(a.bytes, c.offset, 8 + c.size + c.size % 2));
  return s;
}

class JoinTest : public rvt::TaskTest {
 protected:
  void SetUp() override {
    TaskTest::SetUp();
    rv::Join().SetStatus("");
  }
  void TearDown() override {
    for (size_t i = 0; i < inputs_.size(); ++i)
      EXPECT_EQ(rvt::ReadFile(dir_.File(Name(i))), inputs_[i]) << "input " << i + 1 << " changed";
    rv::Join().files.clear();
    TaskTest::TearDown();
  }
  static std::string Name(size_t i) { return "in" + std::to_string(i + 1) + ".avi"; }
  // Writes the files and lists them for the task.
  void List(const std::vector<Bytes>& files) {
    rv::Join().files.clear();
    for (const Bytes& f : files) {
      rv::Join().files.push_back(dir_.Write(Name(inputs_.size()), f));
      inputs_.push_back(f);
    }
    rv::Join().output = out_;
  }
  // Runs the task on the files; returns the status line.
  std::string RunJoin(const std::vector<Bytes>& files) {
    List(files);
    EXPECT_EQ(rv::Execute("doJOIN").code, 0);
    return rv::Join().Status();
  }

  std::string out_ = dir_.File("joined.avi");
  std::vector<Bytes> inputs_;
};

TEST_F(JoinTest, TwoFilesGiveOneStreamWithContinuingOffsetsAndEachFilesFlags) {
  const rvt::StandardAvi f1 = File(50, 201, 5), f2 = File(25, 301, 3);
  ASSERT_EQ(RunJoin({f1.bytes, f2.bytes}), "операция завершена");
  // The first file's header, the two streams, an idx1 of both files' entries.
  const Bytes s1 = Stream(f1), s2 = Stream(f2);
  std::vector<rvt::IdxEntry> index = f1.index;
  for (rvt::IdxEntry e : f2.index)
    index.push_back({e.ckid, e.flags, e.offset + uint32_t(s1.size()), e.length});
  Bytes want = rvt::Concat({Slice(f1.bytes, 0, f1.moviPos + 4), s1, s2,
                            rvt::Build(rvt::Chunk("idx1", rvt::Idx1(index))).bytes});
  rvt::OverwriteLE32(want, 4, uint32_t(want.size() - 8));
  rvt::OverwriteLE32(want, f1.movi + 4, uint32_t(4 + s1.size() + s2.size()));
  EXPECT_EQ(rvt::ReadFile(out_), want);
}

TEST_F(JoinTest, OpenDmlInputsGiveEveryChunkOfEveryPartAndLargeOutputsAreOpenDml) {
  const rvt::StandardAvi a = rvt::MakeOpenDmlAvi({.nVideo = 20, .nAudio = 15}, 4096),
                         b = rvt::MakeOpenDmlAvi({.nVideo = 12,
                                                  .nAudio = 12,
                                                  .videoChunkSize = 301,
                                                  .keyframeInterval = 3},
                                                 3000);
  ASSERT_GE(std::min(a.parts.size(), b.parts.size()), 3u);
  // Every chunk of both in order, flags as the inputs' indexes give them, offsets continuing.
  const Bytes stream = rvt::Concat({Chunks(a), Chunks(b)});
  std::vector<rvt::IdxEntry> want;
  uint32_t offset = 4;
  for (const rvt::StandardAvi* f : {&a, &b})
    for (size_t k = 0; k < f->chunks.size(); ++k) {
      want.push_back({f->chunks[k].id, f->index[k].flags, offset, f->chunks[k].size});
      offset += 8 + f->chunks[k].size + f->chunks[k].size % 2;
    }
  // One RIFF: the first header with its stale indx chunks blanked, the stream, an idx1 of it.
  ASSERT_EQ(RunJoin({a.bytes, b.bytes}), "операция завершена");
  Bytes out = rvt::ReadFile(out_);
  const rvt::AviLayout one = rvt::ReadLayout(out);
  EXPECT_EQ(one.problems + std::to_string(one.Find("indx")), "0");
  EXPECT_EQ(Slice(out, a.moviPos + 4, stream.size()), stream);
  EXPECT_EQ(one.index, want);
  // In a later part, a chunk that runs past the part or is no stream chunk is a fault.
  const uint32_t c = b.chunks[b.parts[1].firstChunk].offset;
  Bytes longer = b.bytes, unknown = b.bytes;
  rvt::OverwriteLE32(longer, c + 4, 1 << 20);
  rvt::OverwriteAt(unknown, c, rvt::Text("abcd"));
  for (const Bytes* bad : {&longer, &unknown})
    EXPECT_EQ(RunJoin({a.bytes, *bad}), "ошибка структуры файла 2");
  // Past a small part size: OpenDML parts whose indexes list every chunk with its flags.
  rv::OdmlPartSize() = 4096;
  ASSERT_EQ(RunJoin({a.bytes, b.bytes}), "операция завершена");
  out = rvt::ReadFile(out_);
  const rvt::AviLayout l = rvt::ReadLayout(out);
  EXPECT_EQ(l.problems, "");
  EXPECT_NE(l.Find("AVIX", 2), 0u) << "three parts at least";
  ASSERT_EQ(l.odmlIndex.size(), want.size());
  for (size_t k = 0, at = 0; k < want.size(); at += 8 + want[k].length + want[k].length % 2, ++k) {
    EXPECT_EQ(l.odmlIndex[k].ckid + std::to_string(l.odmlIndex[k].flags),
              want[k].ckid + std::to_string(want[k].flags))
        << k;
    EXPECT_EQ(Slice(out, l.chunks[k].offset, 8 + want[k].length),
              Slice(stream, at, 8 + want[k].length))
        << k;
  }
}

TEST_F(JoinTest, AFaultStopsWithItsPositionAndAPartialOutput) {
  const rvt::StandardAvi f1 = File(5), j = File(2);
  Bytes junk = j.bytes, shortIdx = j.bytes;
  rvt::InsertAt(junk, j.idx1, rvt::Build(rvt::Chunk("JUNK", Bytes(16, 0))).bytes);
  const Bytes rec = rvt::MakeStandardAvi({.recGroups = true}).bytes;
  // An index one entry shorter than the stream: the last chunk is copied before it shows.
  rvt::OverwriteLE32(shortIdx, j.idx1 + 4, 16 * 3);
  shortIdx.resize(shortIdx.size() - 16);
  const Bytes noMovi = rvt::Build(rvt::Riff("AVI ", {rvt::Chunk("JUNK", Bytes(20, 0))})).bytes;
  const struct {
    const Bytes* second;
    std::string status;
    size_t copiedOfSecond;  // stream bytes of file 2 copied before the fault shows
  } cases[] = {{&junk, "ошибка чтения индекса файла 2", 0},
               {&rec, "ошибка структуры файла 2", 0},
               {&shortIdx, "ошибка структуры файла 2", j.index[3].offset - 4},
               {&noMovi, "ошибка. не найден поток в файле 2", 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(RunJoin({f1.bytes, *c.second}), c.status);
    // Left as far as it was written: the header and the chunks copied; no sizes, no idx1.
    Bytes out = rvt::ReadFile(out_);
    ASSERT_GE(out.size(), f1.moviPos);
    EXPECT_NE(ReadLE32(out, f1.movi + 4), out.size() - f1.moviPos) << "no size patched";
    rvt::OverwriteLE32(out, f1.movi + 4, ReadLE32(f1.bytes, f1.movi + 4));
    EXPECT_EQ(out, rvt::Concat({Slice(f1.bytes, 0, f1.moviPos + 4), Stream(f1),
                                Slice(j.bytes, j.moviPos + 4, c.copiedOfSecond)}))
        << c.status;
  }
  // The same fault in the first file names position 1.
  EXPECT_EQ(RunJoin({rec, f1.bytes}), "ошибка структуры файла 1");
}

TEST_F(JoinTest, FaultsOfTheOutputAndTheFirstHeader) {
  const Bytes f = File(3).bytes;
  Bytes noHeader = f;
  rvt::OverwriteAt(noHeader, 12, Bytes{1, 2, 3, 4});
  EXPECT_EQ(RunJoin({noHeader, f}), "ошибка извлечения заголовка первого файла");
  EXPECT_TRUE(std::filesystem::exists(out_) && rvt::ReadFile(out_).empty());
  out_ = dir_.path() + "/no-such-dir/out.avi";
  EXPECT_EQ(RunJoin({f}), "ошибка создания выходного файла");
  out_ = "/dev/full";
  EXPECT_EQ(RunJoin({f}), "ошибка записи выходного файла");
}

TEST(JoinList, ProposedNames) {
  // The proposed output name has "joined" before the extension.
  const std::pair<const char*, const char*> names[] = {
      {"/x/part1.avi", "/x/part1.joined.avi"}, {"/x.d/clip", "/x.d/clip.joined"}, {"", ""}};
  for (auto [in, out] : names) EXPECT_EQ(rv::JoinedName(in), out);
}

}  // namespace
