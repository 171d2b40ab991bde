// The repaired file writer on AVI images built in code: the three header modes (the built one as
// a layout dump, the others against the file they must give), the stream copy (pad bytes, size
// fields, IDs, chunks larger than the read cache or past the end, lost chunk headers), the
// header options, a stop and the refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "fixtures/avi_builder.h"
#include "fixtures/avi_layout.h"
#include "fixtures/engine_dump.h"
#include "fixtures/engine_test.h"
#include "output/movi_out.h"
#include "output/writer.h"

namespace {

using rvt::Bytes;
using rvt::Chunk;
using rvt::IdxEntry;
using rvt::Node;
using rvt::ReadLE32;
using rvt::Slice;

// hdrl with avih, a video strl (bitmap header + videoExtra bytes of codec data) and an audio
// strl (MPEG layer 3 wave format); extra nodes go between the two strl.
Node Hdrl(const Bytes& videoExtra = {}, std::vector<Node> between = {}) {
  rvt::StrhFields vs, as;
  vs.length = 7;
  as.rate = 16000;
  std::vector<Node> kids{
      Chunk("avih", rvt::AvihPayload({.totalFrames = 7})).Label("avih"),
      rvt::List("strl", {Chunk("strh", rvt::StrhPayload("vids", "XVID", vs)),
                         Chunk("strf", rvt::VideoStrf(320, 240, "XVID", 24, videoExtra))})};
  for (Node& n : between) kids.push_back(std::move(n));
  kids.push_back(rvt::List(
      "strl",
      {Chunk("strh", rvt::StrhPayload("auds", "", as)),
       Chunk("strf", rvt::AudioStrf(0x55, 2, 44100, 0, rvt::Mp3CodecData(), true, 16000, 1))}));
  return rvt::List("hdrl", kids);
}

// A file: the nodes given, a movi list of the chunks given and n video/audio pairs (video i:
// videoSize + i % 3 bytes), an idx1 with the keyframe flag on every video chunk when withIdx1.
using Avi = rvt::BuiltAvi;
Avi MakeAvi(const std::vector<Node>& head, int n, uint32_t videoSize, uint32_t audioSize,
            bool withIdx1 = true, std::vector<std::pair<std::string, Bytes>> chunks = {}) {
  for (int i = 0; i < n; ++i) {
    chunks.push_back({"00dc", rvt::Pattern(videoSize + uint32_t(i % 3), 100u + uint32_t(i))});
    chunks.push_back({"01wb", rvt::Pattern(audioSize, 900u + uint32_t(i))});
  }
  return rvt::MakeAvi(head, chunks, withIdx1);
}

rvt::StandardAvi Standard(int n, uint32_t videoSize = 1000, bool padOdd = true) {
  return rvt::MakeStandardAvi(
      {.nVideo = n, .nAudio = n, .videoChunkSize = videoSize, .padOdd = padOdd});
}

class WriterTest : public rvt::TaskTest {
 protected:
  void SetUp() override {
    TaskTest::SetUp();
    host_.onProgress = [this](const rv::Progress& p) {
      if (p.target == rv::ProgressTarget::kMain && stopAt_ >= 0 && p.percent >= stopAt_)
        rv::RequestStop();
    };
  }
  using TaskTest::Open;
  void Open(const Bytes& bytes, const std::vector<IdxEntry>& index) {
    TaskTest::Open(bytes, rvt::Entries(index));
  }
  // Runs the task into a fresh output and returns its bytes (empty when none was written).
  Bytes Save(const std::string& name = "out.avi") {
    rv::OutputFileName() = dir_.File(name);
    std::filesystem::remove(rv::OutputFileName());
    EXPECT_EQ(rv::Execute("saveOUT").code, 0);
    return rvt::ReadFile(rv::OutputFileName());
  }
  // The output's layout, which must be well formed.
  rvt::AviLayout Layout(const Bytes& out) {
    rvt::AviLayout l = rvt::ReadLayout(out);
    EXPECT_EQ(l.problems, "") << Messages();
    return l;
  }

  int64_t stopAt_ = -1;
};

TEST_F(WriterTest, BuiltHeaderKeepsEveryStreamAndFillsCountsTheSourceLeftOpen) {
  // A third stream (audio, with a name and a JUNK) and counts left at 0 by an interrupted
  // writer: avih's frame count, the third stream's length.
  rvt::StrhFields as2{.rate = 16000, .length = 0xFFFFFFFF, .sampleSize = 4};
  Node hdrl = Hdrl();
  hdrl.children[0] = Chunk("avih", rvt::AvihPayload({.streams = 3}));
  hdrl.children.push_back(
      rvt::List("strl", {Chunk("strh", rvt::StrhPayload("auds", "", as2)),
                         Chunk("strf", rvt::AudioStrf(1, 2, 8000, 16)),
                         Chunk("strn", rvt::Text("second")), Chunk("JUNK", Bytes(10))}));
  std::vector<std::pair<std::string, Bytes>> third;
  for (int i = 0; i < 3; ++i) third.push_back({"02wb", rvt::Pattern(64, 77u + uint32_t(i))});
  const Avi a = MakeAvi({hdrl}, 3, 100, 40, true, third);
  Open(a.img.bytes, a.index);
  const std::vector<rv::IndexEntry> before = rv::Index().entries;
  const Bytes out = Save();
  const rvt::AviLayout l = Layout(out);
  // The third strl is the source's own without its JUNK; its length is filled in from its
  // chunks (sample size 4: 3 x 64 bytes / 4); avih counts the video chunks and the streams.
  EXPECT_EQ(l.dump, R"(RIFF AVI  @0 +2880
  LIST hdrl @12 +422
    avih @24 +56
    LIST strl @88 +116
      strh @100 +56
      strf @164 +40
    LIST strl @212 +106
      strh @224 +56
      strf @288 +30
    LIST strl @326 +108
      strh @338 +56
      strf @402 +18
      strn @428 +6
  JUNK @442 +1586
  LIST movi @2036 +692: 02wb*3 00dc*3 01wb*3
  idx1 @2736 +144: 9 entries
)");
  // The video strl and the index are the source's.
  EXPECT_EQ(Slice(out, 88, 124), Slice(a.img.bytes, 88, 124));
  EXPECT_EQ(l.index, a.index);
  EXPECT_EQ(ReadLE32(out, l.Find("strh", 2) + 8 + 32), 48u);
  EXPECT_EQ(Slice(out, l.Find("avih") + 8 + 16, 12), (Bytes{3, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0}));
  EXPECT_EQ(rv::Index().entries, before) << "the index in memory refers to the source again";
}

TEST_F(WriterTest, AssembledAndCopiedHeadersKeepTheSourcesBytes) {
  // Assembled: the source's hdrl without the JUNK inside it, a JUNK up to the movi list at 2036.
  const uint32_t headLen = 12 + 8 + ReadLE32(MakeAvi({Hdrl()}, 0, 0, 0).img.bytes, 16);
  auto file = [&](std::vector<Node> head, uint32_t moviAt) {
    head.push_back(Chunk("JUNK", Bytes(moviAt - headLen - 8, 0)));
    return MakeAvi(head, 4, 700, 300);
  };
  const Avi junky =
      MakeAvi({Hdrl({}, {Chunk("JUNK", Bytes(100, 0))}), Chunk("JUNK", Bytes(300))}, 4, 700, 300);
  Open(junky.img.bytes, junky.index);
  rv::Opt().headerMode = 'I';
  EXPECT_EQ(Save(), file({Hdrl()}, 2036).img.bytes);
  // Copied: everything before the movi list, wherever it is, with only the index flag set.
  for (uint32_t moviAt : {2036u, 4084u}) {
    Avi a = file({Hdrl()}, moviAt);
    rvt::OverwriteLE32(a.img.bytes, 44, 0x900);
    Open(a.img.bytes, a.index);
    rv::Opt().headerMode = 'O';
    rvt::OverwriteLE32(a.img.bytes, 44, 0x910);
    EXPECT_EQ(Save(), a.img.bytes) << moviAt;
  }
}

// An output past the part size is OpenDML in every header mode: the layout check follows every
// super index to its standard indexes and those to every chunk. Up to the part size it is one
// RIFF without the source's stale indx.
TEST_F(WriterTest, OutputsPastThePartSizeAreOpenDmlInEveryHeaderMode) {
  const rvt::StandardAvi src = rvt::MakeOpenDmlAvi({.nVideo = 14, .nAudio = 14}, 4096);
  const rvt::AviLayout in = rvt::ReadLayout(src.bytes);
  for (uint64_t part : {uint64_t{6000}, rv::kOdmlPartSize})
    for (char mode : {'M', 'I', 'O'}) {
      SCOPED_TRACE(std::string(1, mode) + " " + std::to_string(part));
      Open(src.bytes, src.index);
      rv::Opt().headerMode = mode;
      rv::OdmlPartSize() = part;
      const Bytes out = Save();
      const rvt::AviLayout l = Layout(out);
      ASSERT_EQ(l.chunks.size(), src.chunks.size());
      for (size_t i = 0; i < l.chunks.size(); ++i)
        ASSERT_EQ(Slice(out, l.chunks[i].offset, 8 + l.chunks[i].size),
                  Slice(src.bytes, src.chunks[i].offset, 8 + src.chunks[i].size));
      EXPECT_EQ(l.Keys(), in.Keys());
      if (part == rv::kOdmlPartSize) {
        EXPECT_EQ(l.Find("AVIX") + l.Find("indx") + l.odmlIndex.size(), 0u);
        EXPECT_EQ(l.index.size(), src.chunks.size());
        continue;
      }
      EXPECT_NE(l.Find("AVIX", 2), 0u) << "several parts";
      EXPECT_EQ(l.odmlIndex.size(), src.chunks.size());
      EXPECT_LT(l.index.size(), src.chunks.size()) << "idx1 lists the first part only";
      EXPECT_EQ(
          ReadLE32(out, l.Find("avih") + 8 + 16),
          std::count_if(l.index.begin(), l.index.end(), [](auto& e) { return e.ckid == "00dc"; }));
      EXPECT_EQ(ReadLE32(out, l.Find("dmlh") + 8), 14u);
    }
}

// Chunks behind a JUNK of 4 GiB (a hole in a sparse file), movi and RIFF sizes 0: the check
// indexes them and a bad block among them at 64-bit offsets, the writer copies them.
TEST_F(WriterTest, ChunksPast4GiBAreCheckedAndCopied) {
  const auto c = [](const char* id, uint32_t n) { return Chunk(id, rvt::Pattern(n, n)); };
  Node movi = rvt::List(
      "movi", {c("00dc", 40), c("01wb", 20), Chunk("JUNK", {}).Size(0xFFFFFFF0u).Label("junk"),
               c("00dc", 41), c("01wb", 60).Size(30), c("00dc", 30)});
  rvt::Image img = rvt::Build(rvt::Riff("AVI ", {Hdrl(), movi.Label("movi")}));
  for (uint32_t at : {4u, img.Offset("movi") + 4}) rvt::OverwriteLE32(img.bytes, at, 0);
  const size_t cut = img.Offset("junk") + 8;
  const std::string path = dir_.File("big.avi");
  rvt::WriteFile(path, Slice(img.bytes, 0, cut));
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(std::streamoff(cut + 0xFFFFFFF0u));
  f.write(reinterpret_cast<const char*>(&img.bytes[cut]), std::streamsize(img.bytes.size() - cut));
  f.close();
  if (!f) GTEST_SKIP() << "this file system holds no sparse file of 4 GiB";
  ASSERT_TRUE(OpenPath(path).opened);
  ASSERT_EQ(rv::Execute("createIDX1").result, 1) << Messages();
  const uint64_t t = 0x100000048u, m = img.Offset("movi") + 8;  // behind the JUNK at 80
  const std::string at = std::to_string(t + 50), want = "00dc K 4 40\n01wb K 52 20\n00dc - " +
                                                        std::to_string(t) + " 41\n01wb K " + at +
                                                        " 30\n00dc - " + std::to_string(t + 118) +
                                                        " 30\nbad 01wb #3 @" + at + " file " +
                                                        std::to_string(m + t + 50) + " 30->60 ";
  EXPECT_EQ(rvt::ScanDump().substr(0, want.size()), want);
  const Bytes out = Save();
  const rvt::AviLayout l = Layout(out);
  const uint32_t sizes[] = {40, 20, 41, 60, 30};  // the bad block is copied at its index size
  ASSERT_EQ(l.chunks.size(), 5u);
  for (size_t i = 0; i < 5; ++i)
    EXPECT_EQ(Slice(out, l.chunks[i].offset + 8, l.chunks[i].size),
              Slice(rvt::Pattern(sizes[i], sizes[i]), 0, i == 3 ? 30 : sizes[i]))
        << i;
}

TEST_F(WriterTest, StreamCopyPadsOddChunksWithZerosAndFixesSizeFields) {
  // Whether the source pads or not, the stream written is the padded file's (pad bytes zero).
  const rvt::StandardAvi padded = Standard(3, 4096);  // chunk 2 has 4097 bytes
  const Bytes stream = Slice(padded.bytes, padded.moviPos + 4, padded.idx1 - padded.moviPos - 4);
  const size_t size4 = 2048 + padded.chunks[4].offset - padded.moviPos - 4 + 4;
  for (bool sourcePads : {true, false}) {
    rvt::StandardAvi a = Standard(3, 4096, sourcePads);
    if (sourcePads) a.bytes[a.chunks[2].offset + 8 + 4097] = 0xEE;  // a dirty pad byte
    rvt::OverwriteLE32(a.bytes, a.chunks[4].offset + 4, 77777);     // a wrong size field
    Open(a.bytes, a.index);
    const Bytes out = Save();
    EXPECT_EQ(Slice(out, 2048, stream.size()), stream) << sourcePads;
    EXPECT_EQ(Layout(out).index, padded.index) << sourcePads;
    // With the sizes kept, only the size field differs.
    rv::Opt().noFixSize = true;
    Bytes kept = Save("kept.avi");
    EXPECT_EQ(ReadLE32(kept, size4), 77777u);
    rvt::OverwriteLE32(kept, size4, padded.chunks[4].size);
    EXPECT_EQ(kept, out);
    rv::Opt().noFixSize = false;
  }
}

TEST_F(WriterTest, IndexEntriesDecideWhatIsCopied) {
  // An ID that differs from the stream's is reported and the chunk written under the index's
  // ID; an entry marked with '?' is neither copied nor indexed.
  const rvt::StandardAvi a = Standard(3);
  std::vector<IdxEntry> index = a.index;
  index[1].ckid = "00dc";
  index[2].ckid = "?0dc";
  Open(a.bytes, index);
  const rvt::AviLayout l = rvt::ReadLayout(Save());
  EXPECT_TRUE(Said("error idx1(1) 00dc <> 01wb")) << Messages();
  EXPECT_EQ(l.problems, "idx1 entry 1 00dc does not name its chunk\n");
  EXPECT_EQ(l.Keys() + std::to_string(l.chunks.size()), "KKa-a5");
}

TEST_F(WriterTest, ChunksLargerThanTheReadCacheAreCopiedWholeThroughExclusions) {
  const Avi clean = MakeAvi({Hdrl()}, 4, 9000, 3001);
  Open(clean.img.bytes, clean.index);
  const Bytes reference = Save("reference.avi");
  // 700 foreign bytes inside the third video chunk, left out by the exclusion list.
  Bytes damaged = clean.img.bytes;
  const uint32_t at = clean.img.Offset("c4") + 8 + 5000;
  rvt::InsertAt(damaged, at, rvt::Filled(700, 0));
  Open(damaged, clean.index);
  rv::Exclusions() = {{at, 700}};
  rv::SetCacheSize(4096);
  EXPECT_EQ(Save(), reference);
}

TEST_F(WriterTest, EntriesRunningPastTheEndOfTheSourceAreSkipped) {
  const rvt::StandardAvi a = Standard(5);
  for (int variant = 0; variant < 2; ++variant) {
    std::vector<IdxEntry> index = a.index;
    (variant == 0 ? index[5].length : index[5].offset) =
        variant == 0 ? 0x7FFFFFF0u : uint32_t(a.bytes.size());
    Open(a.bytes, index);
    const rvt::AviLayout l = Layout(Save());
    EXPECT_TRUE(Said("• блок 5 выходит за конец исходного файла")) << variant;
    // Moved past the end, the entry no longer names the chunk that the file's own index
    // places there: that one is copied from the file's index instead.
    EXPECT_EQ(l.index.size() * 10 + rv::LastWrite().fromOwnIndex, variant == 0 ? 90u : 101u);
    EXPECT_FALSE(rv::LastWrite().complete);
  }
  // The last chunk, odd and without its pad byte at the end of the file, is still whole.
  Avi b = MakeAvi({Hdrl()}, 0, 0, 0, false,
                  {{"00dc", rvt::Pattern(600, 1)}, {"01wb", rvt::Pattern(301, 2)}});
  b.img.bytes.pop_back();
  Open(b.img.bytes, b.index);
  EXPECT_EQ(Layout(Save()).index.size(), 2u) << Messages();
}

TEST_F(WriterTest, HeaderTooLargeMovesTheMoviListToTheNext2048Boundary) {
  // Hdrl() leaves 326 + codec data bytes before the JUNK.
  for (auto [extra, moviAt] : {std::pair{1702u, 2036u}, {1704u, 4084u}, {3760u, 6132u}}) {
    const Avi a = MakeAvi({Hdrl(rvt::Pattern(extra, 3))}, 2, 300, 100);
    Open(a.img.bytes, a.index);
    const Bytes out = Save();
    const rvt::AviLayout l = Layout(out);
    EXPECT_EQ(l.moviList, moviAt) << extra;
    EXPECT_EQ(l.index.at(0).offset, 4u) << extra;
    EXPECT_EQ(Slice(out, 212, extra), rvt::Pattern(extra, 3)) << extra;
  }
}

TEST_F(WriterTest, HeaderOptionArithmetic) {
  std::vector<rv::IndexEntry> entries;
  for (auto [id, n, len] : {std::tuple{"00dc", 1500, 5000u},
                            {"00db", 20, 5000u},
                            {"01wb", 1520, 6400u}})  // 9,728,000 audio bytes
    entries.insert(entries.end(), size_t(n), {rv::fcc(id), 0, 4, len});
  rv::HeaderState& h = rv::Header();
  h.avih = {};
  h.vstrh = {};
  h.astrh = {};
  h.avih.TimeBetweenFrames = 40000;
  h.astrh.TimeScale = 7;
  h.astrh.DataRate = 8;
  auto fields = [&](rv::HeaderOptionFlags o, const std::vector<rv::IndexEntry>& e) {
    rv::ApplyHeaderOptions(o, rv::TotalsOf(e));
    return std::vector<uint32_t>{
        h.avih.TotalNumberOfFrames, h.vstrh.DataLength, h.avih.TimeScale, h.avih.DataRate,
        h.astrh.DataLength,         h.astrh.TimeScale,  h.astrh.DataRate};
  };
  using V = std::vector<uint32_t>;
  EXPECT_EQ(fields({false, true, true, true, false}, entries),
            (V{1520, 1520, 100, 2500, 9728000, 7, 8}))
      << "audio rate only on its own";
  // 1520 frames at 100/2500: 60.8 s, rounded to 61.
  EXPECT_EQ(fields({false, false, false, true, true}, entries),
            (V{1520, 1520, 100, 2500, 9728000, 1, 159475}));
  // No frame time: the rates stay as they were. Other stream numbers count by their type.
  h.avih.TimeBetweenFrames = 0;
  h.avih.TimeScale = 33;
  h.avih.DataRate = 44;
  EXPECT_EQ(fields({false, true, true, true, false}, {{rv::fcc("01dc"), 0, 4, 1},
                                                      {rv::fcc("02wb"), 0, 4, 10},
                                                      {rv::fcc("01wb"), 0, 4, 5},
                                                      {rv::fcc("ix00"), 0, 4, 99}}),
            (V{1, 1, 33, 44, 15, 1, 159475}));
  EXPECT_EQ(rv::IndexFlagRule(0x920, false) * 0x1000 + rv::IndexFlagRule(0x930, true), 0x930900u);
}

TEST_F(WriterTest, StopDuringTheCopyFinishesASmallerFileWithTheOptionsOverTheChunksWritten) {
  rvt::StandardAvi a = Standard(10);                  // 20 entries: 5 % each
  rvt::OverwriteLE32(a.bytes, a.avih + 8 + 16, 999);  // a wrong TotalNumberOfFrames
  Open(a.bytes, a.index);
  rv::Opt().totalFrames = rv::Opt().ratesFromTbf = rv::Opt().audioLength = true;
  stopAt_ = 15;  // after the third entry
  const Bytes out = Save();
  const rvt::AviLayout l = Layout(out);
  EXPECT_FALSE(rv::LastWrite().complete);
  EXPECT_EQ(l.index, std::vector<IdxEntry>(a.index.begin(), a.index.begin() + 3));
  const uint32_t copied = a.index[3].offset - 4;
  EXPECT_EQ(Slice(out, 2048, copied), Slice(a.bytes, a.moviPos + 4, copied));
  // Frames, rates from the frame time and the audio length count the chunks written.
  const size_t avih = l.Find("avih") + 8, vstrh = l.Find("strh") + 8, astrh = l.Find("strh", 1) + 8;
  EXPECT_EQ((std::vector<uint32_t>{ReadLE32(out, avih + 16), ReadLE32(out, avih + 40),
                                   ReadLE32(out, avih + 44), ReadLE32(out, vstrh + 32),
                                   ReadLE32(out, astrh + 32)}),
            (std::vector<uint32_t>{2, 100, 2500, 2, 418}));
}

TEST_F(WriterTest, RefusalsSayWhyAndCreateNoFile) {
  const rvt::StandardAvi a = Standard(3);
  const Node noHdrl = rvt::List("hdrl", {rvt::Raw(Bytes(64, 0xFF))}),
             junk = Chunk("JUNK", Bytes(32));
  const Bytes noHdrlFile = MakeAvi({noHdrl, junk}, 3, 500, 200).img.bytes,
              noMovi = rvt::Build(rvt::Riff("AVI ", {Hdrl(), Chunk("JUNK", Bytes(40, 0))})).bytes;
  auto gray = [](int label) { return [label] { rv::SetLabel(label, rv::LabelColor::Gray); }; };
  auto mode = [](char m) { return [m] { rv::Opt().headerMode = m; }; };
  auto index = [](std::vector<rv::IndexEntry> e) { return [e] { SetIndex(e); }; };
  const std::string noHdrlText = "• нет блока hdrl для сборки заголовка",
                    noStream = "• в индексе нет ни одного блока потока: выходной файл не создан",
                    same = "• выходной файл совпадает с исходным";
  const struct {
    const Bytes* file;
    std::function<void()> setup;
    std::string out, message;  // the output's name in the test directory
  } cases[] = {
      {&a.bytes, gray(rv::kLabelAVIH), "out.avi", "• нет блока AVIH"},
      {&noHdrlFile, mode('I'), "out.avi", noHdrlText},
      {&noMovi, mode('O'), "out.avi", "• нет блока movi для копирования заголовка"},
      {&a.bytes, index({}), "out.avi", noStream},
      {&a.bytes, [] {}, "src.avi", same},
      {&a.bytes, [] {}, "link.avi", same},
      {&a.bytes, [] {}, "no/such/dir/out.avi", "• ошибка создания выходного файла"},
  };
  std::filesystem::create_symlink(dir_.File("src.avi"), dir_.File("link.avi"));
  for (const auto& c : cases) {
    Open(*c.file, rvt::Entries(a.index));
    c.setup();
    rv::OutputFileName() = dir_.File(c.out);
    rv::Execute("saveOUT");
    EXPECT_TRUE(Said(c.message)) << c.message << " " << c.out << "\n" << Messages();
    EXPECT_FALSE(rv::LastWrite().written || std::filesystem::exists(dir_.File("out.avi")))
        << c.message;
  }
}

TEST_F(WriterTest, ChunksWhoseHeadersWereDestroyedAreTakenFromTheFilesIndex) {
  // Zeros over chunks 2 to 4 and into chunk 5's payload: the check finds chunk 1 as a bad
  // block and chunk 5 is lost at its header. The file's idx1 still knows them.
  const Avi a = MakeAvi({Hdrl()}, 5, 100, 40);
  Bytes b = a.img.bytes;
  std::fill(b.begin() + a.img.Offset("c1") + 8 + 20, b.begin() + a.img.Offset("c5") + 30, 0);
  std::vector<IdxEntry> found = {a.index[0], a.index[1]};
  found.insert(found.end(), a.index.begin() + 6, a.index.end());
  Open(b, found);
  EXPECT_EQ(Layout(Save()).index.size(), a.index.size());
  EXPECT_TRUE(Said("• по индексу файла восстановлено блоков с разрушенными заголовками: 4"));
  // A file's index that does not name the stream's chunks (shifted by 2) is not used.
  std::vector<IdxEntry> wrong = a.index;
  for (IdxEntry& e : wrong) e.offset += 2;
  rvt::OverwriteAt(b, a.img.Offset("idx1") + 8, rvt::Idx1(wrong));
  Open(b, found);
  EXPECT_EQ(Layout(Save()).index.size(), found.size());
}

}  // namespace
