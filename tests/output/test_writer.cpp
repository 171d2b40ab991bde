// The repaired file writer on AVI images built in code: the output layout byte for byte in the
// three header modes, the stream copy (pad bytes, size fields, mismatching IDs, chunks larger
// than the read cache, chunks past the end of the source), the header options, an early end of
// the copy, and the guard against writing over the source.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "check/index.h"
#include "check/file_state.h"
#include "base/host.h"
#include "base/messages.h"
#include "base/options.h"
#include "base/questions.h"
#include "app/task_table.h"
#include "base/tasks.h"
#include "fixtures/avi_builder.h"
#include "output/writer.h"
#include "riff/bytes.h"
#include "riff/header.h"
#include "riff/source.h"

namespace {

using rvt::Bytes;
using rvt::Chunk;
using rvt::IdxEntry;
using rvt::Node;
using rvt::ReadLE32;

std::string Id(const Bytes& b, size_t pos) {
  return pos + 4 <= b.size() ? std::string(b.begin() + long(pos), b.begin() + long(pos) + 4)
                             : std::string("<eof>");
}

Bytes Slice(const Bytes& b, size_t from, size_t n) {
  if (from > b.size()) return {};
  n = std::min(n, b.size() - from);
  return Bytes(b.begin() + long(from), b.begin() + long(from + n));
}

bool HasMessage(const std::string& text) {
  for (const std::string& m : rv::MessageLines())
    if (m == text) return true;
  return false;
}

std::string AllMessages() {
  std::string s;
  for (const std::string& m : rv::MessageLines()) s += m + "\n";
  return s;
}

// Walks the chunks of [from, to): every chunk (and every list, recursively) must end inside
// the range with its pad byte, and the last one exactly at `to`. Empty when well formed.
std::string Tiles(const Bytes& b, size_t from, size_t to) {
  size_t p = from;
  while (p < to) {
    if (p + 8 > to) return "chunk header cut at " + std::to_string(p);
    const uint32_t size = ReadLE32(b, p + 4);
    const size_t end = p + 8 + size + (size & 1);
    if (end > to) return Id(b, p) + " at " + std::to_string(p) + " runs past " + std::to_string(to);
    const std::string id = Id(b, p);
    if (id == "LIST" || id == "RIFF") {
      std::string inner = Tiles(b, p + 12, p + 8 + size);
      if (!inner.empty()) return inner;
    }
    p = end;
  }
  return p == to ? std::string() : "range overrun at " + std::to_string(p);
}

// The layout a player relies on: RIFF size, a movi list whose chunks tile it, idx1 right after
// it whose every entry names the chunk at its offset with its size. Empty when all holds.
struct OutLayout {
  uint32_t H = 0;  // position of the movi list header
  std::vector<IdxEntry> idx;
  bool hasIdx1 = false;
};
std::string CheckWellFormed(const Bytes& out, OutLayout* layout = nullptr) {
  if (out.size() < 12 || Id(out, 0) != "RIFF" || Id(out, 8) != "AVI ") return "no RIFF AVI";
  if (ReadLE32(out, 4) != out.size() - 8) return "RIFF size is not length - 8";
  std::string t = Tiles(out, 12, out.size());
  if (!t.empty()) return t;
  size_t p = 12, H = 0;
  while (p + 12 <= out.size()) {
    if (Id(out, p) == "LIST" && Id(out, p + 8) == "movi") {
      H = p;
      break;
    }
    const uint32_t s = ReadLE32(out, p + 4);
    p += 8 + s + (s & 1);
  }
  if (H == 0) return "no movi list";
  const uint32_t moviEnd = uint32_t(H + 8 + ReadLE32(out, H + 4));
  OutLayout l;
  l.H = uint32_t(H);
  if (moviEnd + 8 <= out.size() && Id(out, moviEnd) == "idx1") {
    l.hasIdx1 = true;
    const uint32_t n = ReadLE32(out, moviEnd + 4);
    if (moviEnd + 8 + n != out.size()) return "idx1 does not end the file";
    for (uint32_t e = 0; e + 16 <= n; e += 16) {
      IdxEntry x{Id(out, moviEnd + 8 + e), ReadLE32(out, moviEnd + 12 + e),
                 ReadLE32(out, moviEnd + 16 + e), ReadLE32(out, moviEnd + 20 + e)};
      const size_t at = H + 8 + x.offset;
      if (at + 8 > moviEnd || Id(out, at) != x.ckid || ReadLE32(out, at + 4) != x.length)
        return "idx1 entry " + std::to_string(e / 16) + " does not name its chunk";
      l.idx.push_back(x);
    }
  }
  if (layout) *layout = l;
  return {};
}

// A stream chunk of the test files: ID and payload.
struct Stream {
  std::string id;
  Bytes payload;
};

std::vector<Stream> Interleaved(int nVideo, uint32_t videoSize, uint32_t audioSize) {
  std::vector<Stream> s;
  for (int i = 0; i < nVideo; ++i) {
    s.push_back({"00dc", rvt::Pattern(videoSize + uint32_t(i % 3), 100u + uint32_t(i))});
    s.push_back({"01wb", rvt::Pattern(audioSize, 900u + uint32_t(i))});
  }
  return s;
}

// A file: the top-level nodes given, then the movi list with the stream chunks, then idx1
// (offsets from the movi position, keyframe flag on every video chunk).
struct Avi {
  Bytes bytes;
  uint32_t moviList = 0, moviPos = 0;
  std::vector<IdxEntry> index;
  std::map<std::string, uint32_t> at;
};
Avi MakeAvi(const std::vector<Node>& head, const std::vector<Stream>& stream, bool idx1 = true) {
  std::vector<Node> movi;
  for (size_t i = 0; i < stream.size(); ++i)
    movi.push_back(Chunk(stream[i].id, stream[i].payload).Label("c" + std::to_string(i)));
  auto assemble = [&](const Bytes& idx) {
    std::vector<Node> top = head;
    top.push_back(rvt::List("movi", movi).Label("movi"));
    if (idx1) top.push_back(Chunk("idx1", idx).Label("idx1"));
    return rvt::Build(rvt::Riff("AVI ", top));
  };
  rvt::Image first = assemble(Bytes(16 * stream.size()));
  Avi a;
  a.moviList = first.Offset("movi");
  a.moviPos = a.moviList + 8;
  for (size_t i = 0; i < stream.size(); ++i)
    a.index.push_back({stream[i].id, stream[i].id == "00dc" ? 0x10u : 0u,
                       first.Offset("c" + std::to_string(i)) - a.moviPos,
                       uint32_t(stream[i].payload.size())});
  rvt::Image img = assemble(rvt::Idx1(a.index));
  a.bytes = img.bytes;
  a.at = img.at;
  return a;
}

// hdrl with avih, a video strl (40-byte bitmap header + videoExtra bytes of codec data) and an
// audio strl (MPEG layer 3 wave format, 38-byte block); extra nodes go between the two strl.
Node Hdrl(uint32_t flags = 0x910, const Bytes& videoExtra = {}, std::vector<Node> between = {}) {
  rvt::AvihFields ah;
  ah.flags = flags;
  ah.totalFrames = 7;
  rvt::StrhFields vs;
  vs.length = 7;
  rvt::StrhFields as;
  as.rate = 16000;
  std::vector<Node> kids{Chunk("avih", rvt::AvihPayload(ah)).Label("avih"),
                         rvt::List("strl", {Chunk("strh", rvt::StrhPayload("vids", "XVID", vs)),
                                            Chunk("strf", rvt::VideoStrf(320, 240, "XVID", 24,
                                                                         videoExtra))})
                             .Label("vstrl")};
  for (Node& n : between) kids.push_back(std::move(n));
  kids.push_back(rvt::List("strl", {Chunk("strh", rvt::StrhPayload("auds", "", as)),
                                    Chunk("strf", rvt::AudioStrf(0x55, 2, 44100, 0,
                                                                 rvt::Mp3CodecData(), true,
                                                                 16000, 1))})
                     .Label("astrl"));
  return rvt::List("hdrl", kids).Label("hdrl");
}

// Stops the copy once the progress reaches stopAt percent; records every progress message.
class ProgressHost : public rv::Host {
 public:
  bool Ask(const rv::Question&) override { return false; }
  void ShowProgress(const rv::Progress& p) override {
    if (p.target == rv::ProgressTarget::kMain) {
      percents.push_back(p.percent);
      if (stopAt >= 0 && p.percent >= stopAt) rv::RequestStop();
    }
  }
  std::vector<int64_t> percents;
  int64_t stopAt = -1;
};

class WriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rv::InstallTaskRoutines();
    rv::ResetFileState();
    rv::Opt().Reset();
    rv::ClearScriptedAnswers();
    rv::ClearMessages();
    rv::ClearStop();
    rv::SetCacheSize(rv::kDefaultCacheSize);
    rv::SetHost(&host_);
    out_ = dir_.File("out.avi");
  }
  void TearDown() override {
    // The source is only ever read.
    if (!src_.empty()) {
      EXPECT_EQ(rvt::ReadFile(src_), srcBytes_) << "the source was changed";
    }
    rv::SetHost(nullptr);
    rv::ClearStop();
    rv::SetCacheSize(rv::kDefaultCacheSize);
    rv::Opt().Reset();
    rv::ResetFileState();
  }

  // Writes the source, opens it as the open button does and puts `index` into memory.
  void Open(const Bytes& bytes, const std::vector<IdxEntry>& index) {
    srcBytes_ = bytes;
    src_ = dir_.Write("src.avi", bytes);
    rv::ResetFileState();
    rv::InputFileName() = src_;
    ASSERT_TRUE(rv::OpenAndReadHeader(src_).opened);
    rv::ClearMessages();
    SetIndex(index);
  }
  static void SetIndex(const std::vector<IdxEntry>& index) {
    rv::ClearIndex();
    for (const IdxEntry& e : index)
      rv::Index().entries.push_back({rv::fcc(e.ckid), e.flags, e.offset, e.length});
    rv::Index().count = index.size();
  }
  // Runs the task and returns the output file (empty when none was written).
  Bytes Save(const std::string& out = {}) {
    rv::OutputFileName() = out.empty() ? out_ : out;
    rv::Completion c = rv::Execute("saveOUT");
    EXPECT_EQ(c.code, 0);
    return rvt::ReadFile(rv::OutputFileName());
  }

  rvt::TempDir dir_{"writer"};
  ProgressHost host_;
  std::string src_, out_;
  Bytes srcBytes_;
};

constexpr uint32_t kV = 48, kA = 38;  // video and audio strf blocks of Hdrl()

TEST_F(WriterTest, BuiltHeaderLayoutByteForByte) {
  rvt::StandardAviShape shape;
  shape.nVideo = 6;
  shape.nAudio = 6;
  const rvt::StandardAvi a = rvt::MakeStandardAvi(shape);
  Open(a.bytes, a.index);
  const std::vector<rv::IndexEntry> before = rv::Index().entries;
  const Bytes out = Save();
  ASSERT_FALSE(out.empty()) << AllMessages();

  EXPECT_EQ(Id(out, 0), "RIFF");
  EXPECT_EQ(ReadLE32(out, 4), out.size() - 8);
  EXPECT_EQ(Id(out, 8), "AVI ");
  EXPECT_EQ(Id(out, 12), "LIST");
  EXPECT_EQ(ReadLE32(out, 16), kV + 144 + 76 + kA);
  EXPECT_EQ(Id(out, 20), "hdrl");
  EXPECT_EQ(Id(out, 24), "avih");
  EXPECT_NE(ReadLE32(out, 44) & 0x10, 0u);
  // The source's hdrl holds exactly the records the built header writes.
  const uint32_t hdrlLen = 8 + ReadLE32(a.bytes, a.hdrl + 4);
  EXPECT_EQ(Slice(out, 12, hdrlLen), Slice(a.bytes, a.hdrl, hdrlLen));
  const uint32_t junk = 12 + hdrlLen;
  EXPECT_EQ(Id(out, junk), "JUNK");
  EXPECT_EQ(ReadLE32(out, junk + 4), 2036 - junk - 8);
  EXPECT_EQ(Slice(out, junk + 8, 2036 - junk - 8), Bytes(2036 - junk - 8, 0));

  EXPECT_EQ(Id(out, 2036), "LIST");
  EXPECT_EQ(Id(out, 2044), "movi");
  const uint32_t moviSize = ReadLE32(a.bytes, a.movi + 4);
  EXPECT_EQ(ReadLE32(out, 2040), moviSize);
  EXPECT_EQ(Slice(out, 2048, moviSize - 4), Slice(a.bytes, a.moviPos + 4, moviSize - 4));
  // The stream is contiguous in both files, so the offsets from "movi" are the source's.
  const size_t idx = 2044 + moviSize;
  EXPECT_EQ(Id(out, idx), "idx1");
  EXPECT_EQ(ReadLE32(out, idx + 4), 16 * a.index.size());
  EXPECT_EQ(ReadLE32(out, idx + 16), 4u);
  EXPECT_EQ(Slice(out, idx + 8, out.size()), rvt::Idx1(a.index));
  EXPECT_EQ(CheckWellFormed(out), "");

  EXPECT_EQ(rv::Index().entries, before) << "the index in memory refers to the source again";
  EXPECT_TRUE(rv::LastWrite().complete);
  EXPECT_EQ(rv::LastWrite().chunksWritten, a.index.size());
  EXPECT_FALSE(host_.percents.empty());
  EXPECT_EQ(host_.percents.back(), 100);
}

TEST_F(WriterTest, NoIdx1LeavesOutTheIndexAndClearsBothIndexFlags) {
  rvt::StandardAviShape shape;
  shape.nVideo = 3;
  shape.nAudio = 3;
  rvt::StandardAvi a = rvt::MakeStandardAvi(shape);
  rvt::OverwriteLE32(a.bytes, a.avih + 8 + 12, 0x930);  // has-index and must-use-index
  Open(a.bytes, a.index);
  rv::Opt().noIdx1 = true;
  const Bytes out = Save();
  const uint32_t moviSize = ReadLE32(a.bytes, a.movi + 4);
  ASSERT_EQ(out.size(), 2044u + moviSize) << "nothing follows the movi list";
  EXPECT_EQ(ReadLE32(out, 44), 0x900u);
  EXPECT_EQ(rv::Header().avih.Flags, 0x900u);
  EXPECT_EQ(CheckWellFormed(out), "");
}

TEST_F(WriterTest, OddChunkGetsAZeroPadByteAndTheNextChunkAnEvenPosition) {
  for (bool sourcePads : {true, false}) {
    SCOPED_TRACE(sourcePads ? "source pads" : "source without pad bytes");
    rvt::StandardAviShape shape;
    shape.nVideo = 3;
    shape.nAudio = 3;
    shape.videoChunkSize = 4096;  // video payloads 4096, 4097, 4098
    shape.padOdd = sourcePads;
    rvt::StandardAvi a = rvt::MakeStandardAvi(shape);
    ASSERT_EQ(a.chunks[2].size, 4097u);
    if (sourcePads) a.bytes[a.chunks[2].offset + 8 + 4097] = 0xEE;  // a dirty pad byte
    Open(a.bytes, a.index);
    const Bytes out = Save();
    OutLayout l;
    ASSERT_EQ(CheckWellFormed(out, &l), "");
    ASSERT_EQ(l.idx.size(), a.index.size());
    const size_t p = 2044 + l.idx[2].offset;
    EXPECT_EQ(ReadLE32(out, p + 4), 4097u);
    EXPECT_EQ(Slice(out, p + 8, 4097), Slice(a.bytes, a.chunks[2].offset + 8, 4097));
    EXPECT_EQ(out[p + 8 + 4097], 0);
    const size_t next = 2044 + l.idx[3].offset;
    EXPECT_EQ(next, p + 4097 + 8 + 1);
    EXPECT_EQ(next % 2, 0u);
    EXPECT_EQ(Id(out, next), "01wb");
    EXPECT_EQ(Slice(out, next + 8, a.chunks[3].size), Slice(a.bytes, a.chunks[3].offset + 8, a.chunks[3].size));
    rv::ResetFileState();
  }
}

TEST_F(WriterTest, WrongStreamSizeFieldIsFixedUnlessKeepSizesAndBytesFollowTheIndex) {
  rvt::StandardAviShape shape;
  shape.nVideo = 4;
  shape.nAudio = 4;
  rvt::StandardAvi a = rvt::MakeStandardAvi(shape);
  const rvt::ChunkLoc bad = a.chunks[2];
  rvt::OverwriteLE32(a.bytes, bad.offset + 4, 77777);
  Open(a.bytes, a.index);
  const Bytes fixedOut = Save();
  OutLayout l;
  ASSERT_EQ(CheckWellFormed(fixedOut, &l), "");
  const size_t p = 2044 + l.idx[2].offset;
  EXPECT_EQ(ReadLE32(fixedOut, p + 4), bad.size);

  rv::Opt().noFixSize = true;
  const Bytes keptOut = Save(dir_.File("kept.avi"));
  ASSERT_EQ(keptOut.size(), fixedOut.size()) << "the bytes copied follow the index length";
  EXPECT_EQ(ReadLE32(keptOut, p + 4), 77777u);
  Bytes patched = keptOut;
  rvt::OverwriteLE32(patched, p + 4, bad.size);
  EXPECT_EQ(patched, fixedOut) << "only the size field differs";
}

TEST_F(WriterTest, IndexIdThatDiffersFromTheStreamIsReportedAndTheChunkStillWritten) {
  rvt::StandardAviShape shape;
  shape.nVideo = 3;
  shape.nAudio = 3;
  const rvt::StandardAvi a = rvt::MakeStandardAvi(shape);
  std::vector<IdxEntry> index = a.index;
  ASSERT_EQ(index[1].ckid, "01wb");
  index[1].ckid = "00dc";
  Open(a.bytes, index);
  const Bytes out = Save();
  EXPECT_TRUE(HasMessage("error idx1(1) 00dc <> 01wb")) << AllMessages();
  EXPECT_EQ(rv::LastWrite().chunksWritten, index.size());
  const uint32_t moviSize = ReadLE32(a.bytes, a.movi + 4);
  ASSERT_EQ(out.size(), 2044u + moviSize + 8 + 16 * index.size());
  EXPECT_EQ(Slice(out, 2048, moviSize - 4), Slice(a.bytes, a.moviPos + 4, moviSize - 4));
  EXPECT_EQ(Id(out, 2044 + moviSize + 8 + 16), "00dc") << "the index keeps its own ID";
}

TEST_F(WriterTest, EntriesMarkedWithAQuestionMarkAreNeitherCopiedNorIndexed) {
  rvt::StandardAviShape shape;
  shape.nVideo = 3;
  shape.nAudio = 3;
  const rvt::StandardAvi a = rvt::MakeStandardAvi(shape);
  std::vector<IdxEntry> index = a.index;
  index[2].ckid = "?0dc";
  Open(a.bytes, index);
  const Bytes out = Save();
  OutLayout l;
  ASSERT_EQ(CheckWellFormed(out, &l), "");
  ASSERT_EQ(l.idx.size(), index.size() - 1);
  EXPECT_EQ(l.idx[2].ckid, "01wb");
  EXPECT_EQ(Slice(out, 2044 + l.idx[2].offset, 8 + a.chunks[3].size),
            Slice(a.bytes, a.chunks[3].offset, 8 + a.chunks[3].size));
  const uint32_t skipped = 8 + a.chunks[2].size + (a.chunks[2].size & 1);
  EXPECT_EQ(ReadLE32(out, 2040), ReadLE32(a.bytes, a.movi + 4) - skipped)
      << "the movi list holds every chunk but the skipped one";
}

TEST_F(WriterTest, BuiltHeaderWithoutAudioPartsWarnsAndLeavesThemOut) {
  {
    SCOPED_TRACE("no audio stream at all");
    rvt::StandardAviShape shape;
    shape.withAudio = false;
    shape.nVideo = 3;
    const rvt::StandardAvi a = rvt::MakeStandardAvi(shape);
    Open(a.bytes, a.index);
    const Bytes out = Save();
    EXPECT_TRUE(HasMessage("• Внимание! нет блока STRH для звука")) << AllMessages();
    EXPECT_TRUE(HasMessage("• Внимание! нет блока STRF для звука"));
    EXPECT_EQ(ReadLE32(out, 16), kV + 144);
    EXPECT_EQ(Id(out, 12 + 8 + kV + 144), "JUNK") << "no second strl";
    EXPECT_EQ(CheckWellFormed(out), "");
  }
  {
    SCOPED_TRACE("audio strh without a usable audio strf");
    const rvt::StandardAvi a = rvt::MakeStandardAvi();
    Open(a.bytes, a.index);
    rv::SetLabel(rv::kLabelASTRF, rv::LabelColor::Gray);
    const Bytes out = Save(dir_.File("out2.avi"));
    EXPECT_FALSE(HasMessage("• Внимание! нет блока STRH для звука"));
    EXPECT_TRUE(HasMessage("• Внимание! нет блока STRF для звука")) << AllMessages();
    EXPECT_EQ(ReadLE32(out, 16), kV + 144 + 76);
    const size_t astrl = 12 + 12 + 64 + 12 + 64 + kV;
    EXPECT_EQ(Id(out, astrl), "LIST");
    EXPECT_EQ(ReadLE32(out, astrl + 4), 68u);
    EXPECT_EQ(Id(out, astrl + 12), "strh");
    EXPECT_EQ(Id(out, astrl + 76), "JUNK");
    EXPECT_EQ(CheckWellFormed(out), "");
  }
}

TEST_F(WriterTest, BuiltHeaderRefusesWithoutAvihOrVideoStreamHeaderOrFormat) {
  const rvt::StandardAvi a = rvt::MakeStandardAvi();
  const std::pair<int, const char*> cases[] = {{rv::kLabelAVIH, "• нет блока AVIH"},
                                               {rv::kLabelVSTRH, "• нет блока STRH для видео"},
                                               {rv::kLabelVSTRF, "• нет блока STRF для видео"}};
  for (const auto& [label, text] : cases) {
    SCOPED_TRACE(text);
    Open(a.bytes, a.index);
    rv::SetLabel(label, rv::LabelColor::Gray);
    EXPECT_TRUE(Save().empty());
    EXPECT_FALSE(std::filesystem::exists(out_)) << "no file is created";
    EXPECT_TRUE(HasMessage(text)) << AllMessages();
  }
}

TEST_F(WriterTest, AssembledHeaderLeavesOutJunkMoviAndIdx1) {
  const Avi a = MakeAvi({Hdrl(0x910, {}, {Chunk("JUNK", Bytes(100, 0)).Label("innerjunk")}),
                         Chunk("JUNK", Bytes(300, 0))},
                        Interleaved(3, 1000, 400));
  Open(a.bytes, a.index);
  rv::Opt().headerMode = 'I';
  const Bytes out = Save();
  ASSERT_FALSE(out.empty()) << AllMessages();
  const uint32_t srcHdrl = ReadLE32(a.bytes, a.at.at("hdrl") + 4);
  EXPECT_EQ(ReadLE32(out, 16), srcHdrl - 108) << "the inner JUNK and its header are left out";
  // The hdrl content is the source's with the inner JUNK cut out.
  const uint32_t avih = a.at.at("avih"), junk = a.at.at("innerjunk"), astrl = a.at.at("astrl");
  const uint32_t hdrlEnd = a.at.at("hdrl") + 8 + srcHdrl;
  Bytes expected = Slice(a.bytes, a.at.at("hdrl"), 12);
  rvt::OverwriteLE32(expected, 4, srcHdrl - 108);
  rvt::AppendBytes(expected, Slice(a.bytes, avih, junk - avih));
  rvt::AppendBytes(expected, Slice(a.bytes, astrl, hdrlEnd - astrl));
  EXPECT_EQ(Slice(out, 12, expected.size()), expected);
  EXPECT_EQ(Id(out, 12 + expected.size()), "JUNK");
  const std::string header(out.begin() + 12, out.begin() + 2036);
  EXPECT_EQ(header.find("movi"), std::string::npos);
  EXPECT_EQ(header.find("idx1"), std::string::npos);
  EXPECT_EQ(Id(out, 2036), "LIST");
  EXPECT_EQ(Id(out, 2044), "movi");
  OutLayout l;
  ASSERT_EQ(CheckWellFormed(out, &l), "");
  ASSERT_EQ(l.idx.size(), a.index.size());
  EXPECT_EQ(l.idx[0].offset, 4u);
}

TEST_F(WriterTest, AssembledHeaderWithoutAHeaderListWritesNothing) {
  // The hdrl list holds no chunk the walk can read: only the movi list has children.
  const Avi damaged = MakeAvi({rvt::List("hdrl", {rvt::Raw(Bytes(64, 0xFF))}),
                               Chunk("JUNK", Bytes(32, 0))},
                              Interleaved(3, 500, 200));
  // The same with a movi list that opens with a JUNK chunk, so that it has a child block.
  std::vector<Stream> withJunk = Interleaved(3, 500, 200);
  withJunk.insert(withJunk.begin(), Stream{"JUNK", Bytes(100, 0)});
  const Avi junkFirst = MakeAvi({rvt::List("hdrl", {rvt::Raw(Bytes(64, 0xFF))})}, withJunk);
  // No list before the stream.
  const Avi bare = MakeAvi({Chunk("JUNK", Bytes(32, 0))}, Interleaved(3, 500, 200));
  // No list with children anywhere: the movi list is empty too.
  const Avi empty = MakeAvi({Chunk("JUNK", Bytes(32, 0))}, {});
  const std::pair<const Avi*, const char*> cases[] = {{&damaged, "hdrl without children"},
                                                      {&junkFirst, "movi opening with JUNK"},
                                                      {&bare, "no hdrl"},
                                                      {&empty, "no lists"}};
  for (const auto& [a, what] : cases) {
    SCOPED_TRACE(what);
    Open(a->bytes, a->index);
    rv::Opt().headerMode = 'I';
    const Bytes out = Save();
    EXPECT_TRUE(HasMessage("• нет блока hdrl для сборки заголовка")) << AllMessages();
    EXPECT_FALSE(std::filesystem::exists(out_)) << "the movi list never becomes the header";
    std::filesystem::remove(out_);
  }
}

TEST_F(WriterTest, CopiedHeaderIsTheSourcePrefixWithOnlyTheIndexFlagChanged) {
  for (uint32_t moviAt : {2036u, 4084u}) {
    SCOPED_TRACE("movi list at " + std::to_string(moviAt));
    // Sized by a first build without the padding JUNK.
    const uint32_t headLen = 12 + 8 + ReadLE32(MakeAvi({Hdrl(0x900)}, {}).bytes, 16);
    const Avi a = MakeAvi({Hdrl(0x900), Chunk("JUNK", Bytes(moviAt - headLen - 8, 0))},
                          Interleaved(4, 700, 300));
    ASSERT_EQ(a.moviList, moviAt);
    Open(a.bytes, a.index);
    rv::Opt().headerMode = 'O';
    const Bytes out = Save();
    ASSERT_EQ(out.size(), a.bytes.size()) << AllMessages();
    EXPECT_EQ(ReadLE32(out, 44), 0x910u);
    EXPECT_EQ(ReadLE32(out, moviAt + 4), ReadLE32(a.bytes, moviAt + 4));
    EXPECT_EQ(Id(out, moviAt + 12), "00dc");
    OutLayout l;
    ASSERT_EQ(CheckWellFormed(out, &l), "");
    EXPECT_EQ(l.H, moviAt);
    EXPECT_EQ(l.idx[0].offset, 4u);
    Bytes expected = a.bytes;
    rvt::OverwriteLE32(expected, 44, 0x910);
    EXPECT_EQ(out, expected);
    std::filesystem::remove(out_);
  }
}

// Without a movi list there is no header to copy: the save says so and creates no file,
// rather than leaving an empty file behind with no word.
TEST_F(WriterTest, CopiedHeaderWithoutAMoviListIsRefused) {
  const Bytes noMovi = rvt::Build(rvt::Riff("AVI ", {Hdrl(), Chunk("JUNK", Bytes(40, 0))})).bytes;
  Open(noMovi, {});
  rv::Opt().headerMode = 'O';
  rv::OutputFileName() = out_;
  rv::Execute("saveOUT");
  EXPECT_FALSE(std::filesystem::exists(out_));
  EXPECT_EQ(rv::MessageLines(), std::vector<std::string>{"• нет блока movi для копирования заголовка"})
      << AllMessages();
}

TEST_F(WriterTest, HeaderOptionArithmetic) {
  std::vector<rv::IndexEntry> entries;
  auto add = [&](const char* id, int n, uint32_t len) {
    for (int i = 0; i < n; ++i) entries.push_back({rv::fcc(id), 0, 4, len});
  };
  add("00dc", 1500, 5000);
  add("00db", 20, 5000);
  add("01wb", 1520, 6400);  // 9,728,000 audio bytes
  rv::HeaderState& h = rv::Header();

  h.avih = {};
  h.vstrh = {};
  h.astrh = {};
  h.avih.TimeBetweenFrames = 40000;
  h.astrh.TimeScale = 7;
  h.astrh.DataRate = 8;
  rv::ApplyHeaderOptions({false, true, true, true, false}, entries);
  EXPECT_EQ(h.avih.TotalNumberOfFrames, 1520u);
  EXPECT_EQ(h.vstrh.DataLength, 1520u);
  EXPECT_EQ(h.avih.TimeScale, 100u);
  EXPECT_EQ(h.avih.DataRate, 2500u);
  EXPECT_EQ(h.astrh.DataLength, 9728000u);
  EXPECT_EQ(h.astrh.TimeScale, 7u) << "the audio rate only with its own option";
  EXPECT_EQ(h.astrh.DataRate, 8u);

  // 1520 frames at 100/2500: 60.8 s, rounded to 61.
  rv::ApplyHeaderOptions({false, false, false, true, true}, entries);
  EXPECT_EQ(h.astrh.TimeScale, 1u);
  EXPECT_EQ(h.astrh.DataRate, 159475u);

  // No frame time: the rates stay as they were.
  h.avih.TimeBetweenFrames = 0;
  h.avih.TimeScale = 33;
  h.avih.DataRate = 44;
  rv::ApplyHeaderOptions({false, false, true, false, false}, entries);
  EXPECT_EQ(h.avih.TimeScale, 33u);
  EXPECT_EQ(h.avih.DataRate, 44u);

  // Other stream numbers count by their type; 02wb is audio too.
  std::vector<rv::IndexEntry> other{{rv::fcc("01dc"), 0, 4, 1}, {rv::fcc("02wb"), 0, 4, 10},
                                    {rv::fcc("01wb"), 0, 4, 5}, {rv::fcc("ix00"), 0, 4, 99}};
  rv::ApplyHeaderOptions({false, true, false, true, false}, other);
  EXPECT_EQ(h.avih.TotalNumberOfFrames, 1u);
  EXPECT_EQ(h.astrh.DataLength, 15u);

  EXPECT_EQ(rv::IndexFlagRule(0x920, false), 0x930u);
  EXPECT_EQ(rv::IndexFlagRule(0x930, true), 0x900u);
}

TEST_F(WriterTest, HeaderOptionsReachTheBuiltHeader) {
  rvt::StandardAviShape shape;
  shape.nVideo = 5;
  shape.nAudio = 4;
  shape.usPerFrame = 40000;
  rvt::StandardAvi a = rvt::MakeStandardAvi(shape);
  rvt::OverwriteLE32(a.bytes, a.avih + 8 + 16, 999);  // a wrong TotalNumberOfFrames
  Open(a.bytes, a.index);
  rv::Opt().totalFrames = true;
  rv::Opt().ratesFromTbf = true;
  rv::Opt().audioLength = true;
  const Bytes out = Save();
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(ReadLE32(out, 24 + 8 + 16), 5u) << "avih TotalNumberOfFrames";
  EXPECT_EQ(ReadLE32(out, 24 + 8 + 40), 100u) << "avih TimeScale";
  EXPECT_EQ(ReadLE32(out, 24 + 8 + 44), 2500u) << "avih DataRate";
  const size_t vstrh = 12 + 12 + 64 + 12;
  EXPECT_EQ(ReadLE32(out, vstrh + 8 + 32), 5u) << "video strh DataLength";
  const size_t astrh = vstrh + 64 + kV + 12;
  EXPECT_EQ(Id(out, astrh), "strh");
  EXPECT_EQ(ReadLE32(out, astrh + 8 + 32), 4u * shape.audioChunkSize) << "audio strh DataLength";
}

TEST_F(WriterTest, StopDuringTheCopyFinishesASmallerFileOverTheChunksWritten) {
  rvt::StandardAviShape shape;
  shape.nVideo = 10;
  shape.nAudio = 10;  // 20 entries: 5 % each
  const rvt::StandardAvi a = rvt::MakeStandardAvi(shape);
  Open(a.bytes, a.index);
  const std::vector<rv::IndexEntry> before = rv::Index().entries;
  rv::Opt().totalFrames = true;
  host_.stopAt = 15;  // after the third entry
  const Bytes out = Save();
  OutLayout l;
  ASSERT_EQ(CheckWellFormed(out, &l), "");
  ASSERT_EQ(rv::LastWrite().chunksWritten, 3u);
  EXPECT_FALSE(rv::LastWrite().complete);
  uint32_t chunkBytes = 0;
  for (int i = 0; i < 3; ++i) chunkBytes += 8 + a.chunks[i].size + (a.chunks[i].size & 1);
  EXPECT_EQ(ReadLE32(out, 2040), 4 + chunkBytes);
  EXPECT_EQ(Slice(out, 2048, chunkBytes), Slice(a.bytes, a.moviPos + 4, chunkBytes));
  ASSERT_TRUE(l.hasIdx1);
  ASSERT_EQ(l.idx.size(), 3u) << "only the chunks written are indexed";
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(l.idx[i].offset, a.index[i].offset);
  EXPECT_EQ(ReadLE32(out, 24 + 8 + 16), 2u) << "the frame count counts the chunks written";
  EXPECT_EQ(rv::Index().entries, before);
}

TEST_F(WriterTest, OutputNamingTheSourceWritesNothing) {
  const rvt::StandardAvi a = rvt::MakeStandardAvi();
  Open(a.bytes, a.index);
  std::filesystem::create_directory(dir_.File("sub"));
  const std::string link = dir_.File("link.avi");
  std::filesystem::create_symlink(src_, link);
  const std::string dotted = dir_.path() + "/./sub/../src.avi";
  for (const std::string& out : {src_, dotted, link}) {
    SCOPED_TRACE(out);
    rv::ClearMessages();
    rv::OutputFileName() = out;
    rv::Execute("saveOUT");
    EXPECT_TRUE(HasMessage("• выходной файл совпадает с исходным")) << AllMessages();
    EXPECT_FALSE(rv::LastWrite().written);
    EXPECT_EQ(rvt::ReadFile(src_), srcBytes_);
  }
}

TEST_F(WriterTest, ChunksLargerThanTheReadCacheAreCopiedWholeThroughExclusions) {
  const std::vector<Stream> stream = Interleaved(4, 9000, 3001);
  const Avi clean = MakeAvi({Hdrl()}, stream);
  Open(clean.bytes, clean.index);
  const Bytes reference = Save(dir_.File("reference.avi"));
  ASSERT_EQ(CheckWellFormed(reference), "");

  // 700 foreign bytes inside the third video chunk, left out by the exclusion list; the index
  // counts stream positions, so it is the clean file's.
  Bytes damaged = clean.bytes;
  const uint32_t at = clean.at.at("c4") + 8 + 5000;
  rvt::InsertAt(damaged, at, rvt::Filled(700, 0));
  Open(damaged, clean.index);
  rv::Exclusions() = {{at, 700}};
  rv::SetCacheSize(4096);
  const Bytes out = Save();
  EXPECT_EQ(rv::LastWrite().chunksWritten, stream.size()) << AllMessages();
  EXPECT_EQ(out, reference);
}

TEST_F(WriterTest, EntryRunningPastTheEndOfTheSourceIsSkippedAndTheRestCopied) {
  rvt::StandardAviShape shape;
  shape.nVideo = 5;
  shape.nAudio = 5;
  const rvt::StandardAvi a = rvt::MakeStandardAvi(shape);
  for (int variant = 0; variant < 2; ++variant) {
    SCOPED_TRACE(variant == 0 ? "hostile length" : "offset past the end");
    std::vector<IdxEntry> index = a.index;
    if (variant == 0)
      index[5].length = 0x7FFFFFF0;
    else
      index[5].offset = uint32_t(a.bytes.size());
    Open(a.bytes, index);
    const Bytes out = Save();
    EXPECT_TRUE(HasMessage("• блок 5 выходит за конец исходного файла")) << AllMessages();
    OutLayout l;
    ASSERT_EQ(CheckWellFormed(out, &l), "");
    // Moved past the end, the entry no longer names the chunk that the file's own index
    // places there: that one is copied from the file's index instead.
    const size_t expected = variant == 0 ? 9 : 10;
    EXPECT_EQ(l.idx.size(), expected);
    EXPECT_EQ(rv::LastWrite().chunksWritten, expected);
    EXPECT_EQ(rv::LastWrite().fromOwnIndex, expected - 9);
    EXPECT_FALSE(rv::LastWrite().complete);
    std::filesystem::remove(out_);
  }
}

TEST_F(WriterTest, LastOddChunkWithoutPadAtTheEndOfTheFileIsStillWhole) {
  Avi a = MakeAvi({Hdrl()}, {{"00dc", rvt::Pattern(600, 1)}, {"01wb", rvt::Pattern(301, 2)}},
                  false);
  ASSERT_EQ(a.bytes.back(), 0);  // the pad byte of the last chunk
  a.bytes.pop_back();
  Open(a.bytes, a.index);
  const Bytes out = Save();
  OutLayout l;
  ASSERT_EQ(CheckWellFormed(out, &l), "");
  EXPECT_EQ(l.idx.size(), 2u) << AllMessages();
}

TEST_F(WriterTest, HeaderTooLargeMovesTheMoviListToTheNext2048Boundary) {
  // Hdrl() leaves p = 326 + codec data bytes before the JUNK.
  struct Case {
    uint32_t extra, H;
  };
  for (const Case c : {Case{1702, 2036}, Case{1704, 4084}, Case{3000, 4084}, Case{3760, 6132}}) {
    SCOPED_TRACE("codec data " + std::to_string(c.extra));
    const Avi a = MakeAvi({Hdrl(0x910, rvt::Pattern(c.extra, 3))}, Interleaved(2, 300, 100));
    Open(a.bytes, a.index);
    const Bytes out = Save();
    OutLayout l;
    ASSERT_EQ(CheckWellFormed(out, &l), "") << AllMessages();
    EXPECT_EQ(l.H, c.H);
    EXPECT_EQ((l.H + 12) % 2048, 0u) << "the first chunk starts on a multiple of 2048";
    const uint32_t junk = 12 + 8 + ReadLE32(out, 16);
    EXPECT_EQ(Id(out, junk), "JUNK");
    EXPECT_EQ(junk + 8 + ReadLE32(out, junk + 4), c.H);
    EXPECT_EQ(Slice(out, 12 + 8 + 4 + 64 + 12 + 64 + 48, c.extra), rvt::Pattern(c.extra, 3))
        << "the video codec data";
    ASSERT_FALSE(l.idx.empty());
    EXPECT_EQ(l.idx[0].offset, 4u);
    std::filesystem::remove(out_);
  }
}

TEST_F(WriterTest, AudioCodecDataShorterThanCbSizeIsFilledWithZeros) {
  const rvt::StandardAvi a = rvt::MakeStandardAvi();
  Open(a.bytes, a.index);
  ASSERT_EQ(rv::Header().astrf.codecData.size(), 12u);
  rv::Header().astrf.cbSize = 20;
  const Bytes out = Save();
  ASSERT_EQ(CheckWellFormed(out), "");
  EXPECT_EQ(ReadLE32(out, 16), kV + 144 + 76 + 18 + 20 + 8);
  const size_t astrf = 12 + 12 + 64 + 12 + 64 + kV + 12 + 64;
  EXPECT_EQ(Id(out, astrf), "strf");
  EXPECT_EQ(ReadLE32(out, astrf + 4), 38u);
  EXPECT_EQ(rvt::ReadLE32(out, astrf + 24) & 0xFFFF, 20u) << "cbSize";
  EXPECT_EQ(Slice(out, astrf + 26, 12), rvt::Mp3CodecData());
  EXPECT_EQ(Slice(out, astrf + 38, 8), Bytes(8, 0));
  EXPECT_EQ(Id(out, astrf + 46), "JUNK");
}

TEST_F(WriterTest, WriteErrorIsReportedAndTheOutputNeverComplete) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const rvt::StandardAvi a = rvt::MakeStandardAvi();
  Open(a.bytes, a.index);
  rv::OutputFileName() = "/dev/full";
  const rv::Completion c = rv::Execute("saveOUT");
  EXPECT_EQ(c.code, 0);
  EXPECT_TRUE(HasMessage("• ошибка записи выходного файла")) << AllMessages();
  EXPECT_FALSE(rv::LastWrite().complete);
  EXPECT_TRUE(rv::LastWrite().writeError);
}

TEST_F(WriterTest, SourceThatCannotBeOpenedOrOutputThatCannotBeCreated) {
  const rvt::StandardAvi a = rvt::MakeStandardAvi();
  Open(a.bytes, a.index);
  rv::ClearMessages();
  rv::OutputFileName() = dir_.File("no/such/dir/out.avi");
  rv::Execute("saveOUT");
  EXPECT_TRUE(HasMessage("• ошибка создания выходного файла")) << AllMessages();

  // The file read is gone by the time of the save.
  rv::ClearMessages();
  rv::InputFileName() = rv::LoadedFileName() = dir_.File("missing.avi");
  rv::OutputFileName() = dir_.File("other.avi");
  rv::Execute("saveOUT");
  EXPECT_TRUE(HasMessage("• ошибка открытия исходного файла")) << AllMessages();
  EXPECT_FALSE(std::filesystem::exists(dir_.File("other.avi")));
}

}  // namespace

namespace {

// ---- keeping everything the file had -----------------------------------------------------------

TEST_F(WriterTest, NoStreamChunkMeansNoFile) {
  const Avi a = MakeAvi({Hdrl()}, Interleaved(2, 100, 40));
  for (const auto& index : {std::vector<IdxEntry>{}, std::vector<IdxEntry>{{"?0dc", 0, 4, 100}}}) {
    Open(a.bytes, index);
    EXPECT_TRUE(Save().empty());
    EXPECT_FALSE(std::filesystem::exists(out_));
    EXPECT_FALSE(rv::LastWrite().written);
    EXPECT_TRUE(HasMessage("• в индексе нет ни одного блока потока: выходной файл не создан"))
        << AllMessages();
  }
}

TEST_F(WriterTest, BuiltHeaderKeepsEveryStreamAndFillsCountsTheSourceLeftOpen) {
  // A second audio stream (a second language) and counts left at 0 by an interrupted writer.
  rvt::AvihFields ah;
  ah.totalFrames = 0;
  ah.streams = 3;
  rvt::StrhFields vs, as, as2;
  as.rate = as2.rate = 16000;
  as2.length = 0xFFFFFFFF;
  as2.sampleSize = 4;
  const Node strl2 = rvt::List("strl", {Chunk("strh", rvt::StrhPayload("auds", "", as2)),
                                        Chunk("strf", rvt::AudioStrf(1, 2, 8000, 16)),
                                        Chunk("strn", rvt::Text("second")), Chunk("JUNK", Bytes(10))});
  const Node hdrl = rvt::List(
      "hdrl", {Chunk("avih", rvt::AvihPayload(ah)),
               rvt::List("strl", {Chunk("strh", rvt::StrhPayload("vids", "XVID", vs)),
                                  Chunk("strf", rvt::VideoStrf(320, 240, "XVID"))}),
               rvt::List("strl", {Chunk("strh", rvt::StrhPayload("auds", "", as)),
                                  Chunk("strf", rvt::AudioStrf(0x55, 2, 44100, 0, rvt::Mp3CodecData(),
                                                               true, 16000, 1))}),
               strl2});
  std::vector<Stream> s = Interleaved(3, 100, 40);
  for (int i = 0; i < 3; ++i) s.push_back({"02wb", rvt::Pattern(64, 77u + uint32_t(i))});
  const Avi a = MakeAvi({hdrl}, s);
  Open(a.bytes, a.index);
  const Bytes out = Save();
  OutLayout l;
  ASSERT_EQ(CheckWellFormed(out, &l), "");
  EXPECT_EQ(l.idx.size(), s.size());
  EXPECT_EQ(ReadLE32(out, 24 + 8 + 16), 3u) << "avih frames: the video chunks written";
  EXPECT_EQ(ReadLE32(out, 24 + 8 + 24), 3u) << "avih streams: the stream lists written";
  // Three strl lists; the third is the source's own, without its JUNK, with its length filled
  // in from its chunks (sample size 4: 3 x 64 bytes / 4).
  std::vector<size_t> strl;
  for (size_t p = 12 + 12 + 64; p + 12 <= 2036 && Id(out, p) == "LIST"; p += 8 + ReadLE32(out, p + 4))
    strl.push_back(p);
  ASSERT_EQ(strl.size(), 3u);
  EXPECT_EQ(Id(out, strl[2] + 12), "strh");
  EXPECT_EQ(Id(out, strl[2] + 12 + 8), "auds");
  EXPECT_EQ(ReadLE32(out, strl[2] + 12 + 8 + 32), 48u);
  const Bytes third = Slice(out, strl[2], 8 + ReadLE32(out, strl[2] + 4));
  EXPECT_NE(std::search(third.begin(), third.end(), std::begin("second"), std::end("second") - 1),
            third.end());
  EXPECT_EQ(std::search(third.begin(), third.end(), std::begin("JUNK"), std::end("JUNK") - 1),
            third.end());
  // The records in memory keep what the source says.
  EXPECT_EQ(rv::Header().avih.TotalNumberOfFrames, 0u);
}

TEST_F(WriterTest, KeyframeFlagsComeFromTheFilesIndexElseFromThePictures) {
  // MPEG-4 pictures: I-VOPs at chunks 0 and 2, a P-VOP at 1, a B-VOP at 3.
  auto vop = [](uint8_t type) {
    Bytes b{0, 0, 1, 0xB6, uint8_t(type << 6)};
    rvt::AppendBytes(b, rvt::Pattern(60, type + 5u));
    return b;
  };
  std::vector<Stream> s = {{"00dc", vop(0)}, {"01wb", rvt::Pattern(40, 1)}, {"00dc", vop(1)},
                           {"00dc", vop(0)}, {"00dc", vop(2)}};
  const Avi a = MakeAvi({Hdrl()}, s, /*idx1=*/false);
  std::vector<IdxEntry> scanned = a.index;
  for (IdxEntry& e : scanned) e.flags = e.ckid == "01wb" ? 0x10 : 0;  // as a check leaves them
  // K a video keyframe, - another video chunk, a audio.
  auto keys = [](const OutLayout& l) {
    std::string k;
    for (const IdxEntry& e : l.idx) k += e.ckid == "00dc" ? ((e.flags & 0x10) ? 'K' : '-') : 'a';
    return k;
  };
  Open(a.bytes, scanned);
  OutLayout l;
  ASSERT_EQ(CheckWellFormed(Save(), &l), "");
  EXPECT_EQ(keys(l), "Ka-K-");

  // The file's own index, where it names the chunks, decides.
  Avi own = MakeAvi({Hdrl()}, s);
  std::vector<IdxEntry> ownIndex = own.index;
  for (IdxEntry& e : ownIndex) e.flags = e.ckid == "00dc" ? 0x10 : 0;
  rvt::OverwriteAt(own.bytes, own.at.at("idx1") + 8, rvt::Idx1(ownIndex));
  Open(own.bytes, scanned);
  ASSERT_EQ(CheckWellFormed(Save(), &l), "");
  EXPECT_EQ(keys(l), "KaKKK");
  // Flags decided by the keyframe search are written as they are.
  SetIndex(scanned);
  rv::Index().keyflagsDecided = true;
  ASSERT_EQ(CheckWellFormed(Save(), &l), "");
  EXPECT_EQ(l.idx[3].flags & 0x10, 0u);
}

TEST_F(WriterTest, ChunksWhoseHeadersWereDestroyedAreTakenFromTheFilesIndex) {
  // Zeros over chunks 2 to 4 (headers and all) and into chunk 5's payload: the check finds
  // chunk 1 as a bad block and chunk 5 is lost at its header. The file's idx1 still knows them.
  const Avi a = MakeAvi({Hdrl()}, Interleaved(5, 100, 40));
  Bytes b = a.bytes;
  const uint32_t from = a.at.at("c1") + 8 + 20, to = a.at.at("c5") + 30;
  std::fill(b.begin() + from, b.begin() + to, 0);
  std::vector<IdxEntry> found = {a.index[0], a.index[1]};
  for (size_t i = 6; i < a.index.size(); ++i) found.push_back(a.index[i]);
  Open(b, found);
  OutLayout l;
  ASSERT_EQ(CheckWellFormed(Save(), &l), "");
  ASSERT_EQ(l.idx.size(), a.index.size());
  for (size_t i = 0; i < l.idx.size(); ++i) {
    EXPECT_EQ(l.idx[i].ckid, a.index[i].ckid) << i;
    EXPECT_EQ(l.idx[i].length, a.index[i].length) << i;
  }
  EXPECT_EQ(rv::LastWrite().fromOwnIndex, 4u);
  EXPECT_TRUE(HasMessage("• по индексу файла восстановлено блоков с разрушенными заголовками: 4"))
      << AllMessages();
  // A file's index that does not name the stream's chunks (shifted by 2) is not used.
  Bytes shifted = b;
  std::vector<IdxEntry> wrong = a.index;
  for (IdxEntry& e : wrong) e.offset += 2;
  rvt::OverwriteAt(shifted, a.at.at("idx1") + 8, rvt::Idx1(wrong));
  Open(shifted, found);
  ASSERT_EQ(CheckWellFormed(Save(), &l), "");
  EXPECT_EQ(l.idx.size(), found.size());
}

}  // namespace
