// Opening a file and reading its header: the block table, the tree lines, the header records,
// the size and structure messages and the seven block labels.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "check/file_state.h"
#include "base/messages.h"
#include "fixtures/avi_builder.h"
#include "fixtures/ffmpeg_sample.h"
#include "riff/blocks.h"
#include "riff/header.h"
#include "riff/source.h"

namespace {

using rv::Bytes;
using rv::LabelColor;
using rvt::Chunk;
using rvt::List;
using rvt::Node;
using rvt::Riff;

const char* const kMsgSmallerThanDeclared = "• размер файла меньше значения, указанного в заголовке";
const char* const kMsgLargerThanDeclared = "• размер файла больше значения, указанного в заголовке";
const char* const kMsgNoRiff = "• отсутствует сигнатура RIFF";
const char* const kMsgNoNextId =
    "• ожидался ID следующего блока и не нашёлся. вероятно нарушение в структуре файла";
const char* const kMsgOpenFailed = "• ошибка открытия файла";
const char* const kMsgExtended =
    "• есть подозрение, что это Extended AVI format. будет предпринята попытка переделать его в "
    "стандартный вид";
const char* const kMsgTooLarge = "• файл больше 4 ГБ не поддерживается";

std::string BlockTooShort(const std::string& name) {
  return "• размер блока " + name + " меньше  заявленного";
}
std::string NonStandard(const std::string& what) {
  return "• не стандартный размер блока " + what;
}

// Distinct values in every field, so a field read from the wrong place shows.
rvt::AvihFields DistinctAvih() {
  rvt::AvihFields f;
  f.usPerFrame = 40000;
  f.maxBytesPerSec = 123456;
  f.paddingGranularity = 512;
  f.flags = 0x910;
  f.totalFrames = 250;
  f.initialFrames = 3;
  f.streams = 2;
  f.suggestedBufferSize = 65536;
  f.width = 320;
  f.height = 240;
  f.reserved[0] = 7;
  f.reserved[1] = 8;
  f.reserved[2] = 9;
  f.reserved[3] = 10;
  return f;
}

rvt::StrhFields DistinctVideoStrh() {
  rvt::StrhFields f;
  f.flags = 0x00010002;
  f.priority = 0x00090001;
  f.initialFrames = 4;
  f.scale = 1;
  f.rate = 25;
  f.start = 5;
  f.length = 250;
  f.suggestedBufferSize = 60000;
  f.quality = 10000;
  f.sampleSize = 6;
  f.left = 1;
  f.top = 2;
  f.right = 320;
  f.bottom = 240;
  return f;
}

rvt::StrhFields AudioStrhFields() {
  rvt::StrhFields f;
  f.scale = 1;
  f.rate = 16000;
  f.length = 160000;
  f.sampleSize = 1;
  return f;
}

Node AvihChunk() { return Chunk("avih", rvt::AvihPayload(DistinctAvih())); }
Node VideoStrh() { return Chunk("strh", rvt::StrhPayload("vids", "XVID", DistinctVideoStrh())); }
Node VideoStrfChunk() { return Chunk("strf", rvt::VideoStrf(320, 240, "XVID")); }
Node AudioStrh() { return Chunk("strh", rvt::StrhPayload("auds", "", AudioStrhFields())); }
Node AudioStrfChunk() {
  return Chunk("strf", rvt::AudioStrf(0x55, 2, 44100, 0, rvt::Mp3CodecData(), true, 16000, 1));
}
Node VideoStrl() { return List("strl", {VideoStrh(), VideoStrfChunk()}); }
Node AudioStrl() { return List("strl", {AudioStrh(), AudioStrfChunk()}); }

// A complete small file around the given hdrl children: movi with two chunks, then idx1.
Bytes FileWith(std::vector<Node> hdrl, bool withIdx1 = true) {
  std::vector<Node> top{List("hdrl", std::move(hdrl)),
                        List("movi", {Chunk("00dc", rvt::Pattern(100, 1)),
                                      Chunk("01wb", rvt::Pattern(50, 2))})};
  if (withIdx1)
    top.push_back(Chunk("idx1", rvt::Idx1({{"00dc", 0x10, 4, 100}, {"01wb", 0x10, 112, 50}})));
  return rvt::Build(Riff("AVI ", std::move(top))).bytes;
}

std::vector<Node> StandardHdrl() { return {AvihChunk(), VideoStrl(), AudioStrl()}; }

class HeaderTest : public ::testing::Test {
 protected:
  void TearDown() override {
    rv::CloseSource();
    rv::ResetFileState();
  }

  // What the open-and-read button does: reset the previous file's state, then read.
  rv::OpenResult Open(const Bytes& bytes) {
    const std::string path = dir_.Write("input.avi", bytes);
    return OpenPath(path);
  }
  rv::OpenResult OpenPath(const std::string& path) {
    rv::ResetFileState();
    return rv::OpenAndReadHeader(path);
  }

  // Texts of the lines directly under a line.
  static std::vector<std::string> ChildLines(int32_t line) {
    std::vector<std::string> out;
    const auto& lines = rv::Tree().lines;
    for (const rv::TreeLine& l : lines)
      if (l.parent == line) out.push_back(l.text);
    return out;
  }
  static std::vector<std::string> FieldLines(int block) {
    return ChildLines(rv::Blocks().at(block).Node);
  }
  static std::string BlockLine(int block) {
    return rv::Tree().lines.at(rv::Blocks().at(block).Node).text;
  }
  // "Name TypeTag parent offset size" per record, for compact whole-table comparisons.
  static std::vector<std::string> Table() {
    std::vector<std::string> out;
    for (const rv::BlockRecord& r : rv::Blocks())
      out.push_back(r.Name + " " + r.TypeTag + " " + std::to_string(r.Parent) + " " +
                    std::to_string(r.Offset) + " " + std::to_string(r.Size));
    return out;
  }
  static std::vector<LabelColor> Labels() {
    std::vector<LabelColor> out;
    for (int i = 0; i < rv::kLabelCount; ++i) out.push_back(rv::GetLabel(i));
    return out;
  }
  static int Find(const std::string& name, const std::string& tag = "", int skip = 0) {
    for (size_t i = 0; i < rv::Blocks().size(); ++i)
      if (rv::Blocks()[i].Name == name && rv::Blocks()[i].TypeTag == tag &&
          skip-- == 0)
        return int(i);
    return -1;
  }

  rvt::TempDir dir_{"header"};
};

constexpr LabelColor B = LabelColor::Blue, M = LabelColor::Maroon, G = LabelColor::Gray;

std::string Rec(const std::string& name, const std::string& tag, int parent, uint32_t offset,
                uint32_t size) {
  return name + " " + tag + " " + std::to_string(parent) + " " + std::to_string(offset) + " " +
         std::to_string(size);
}

TEST_F(HeaderTest, WellFormedFileGivesTheFullTableTreeRecordsAndLabels) {
  rvt::StandardAvi a = rvt::MakeStandardAvi();
  rvt::OverwriteAt(a.bytes, a.avih + 8, rvt::AvihPayload(DistinctAvih()));
  rvt::OverwriteAt(a.bytes, a.vstrh + 8, rvt::StrhPayload("vids", "XVID", DistinctVideoStrh()));
  const Bytes& f = a.bytes;
  const auto size = [&](uint32_t at) { return rvt::ReadLE32(f, at + 4) + 8; };

  const rv::OpenResult res = Open(f);
  EXPECT_TRUE(res.opened);
  EXPECT_TRUE(res.hasIdx1);
  EXPECT_TRUE(rv::MessageLines().empty()) << rv::MessageLines().front();

  // Top level first, then the children of each list in table order.
  const uint32_t fileSize = static_cast<uint32_t>(f.size());
  EXPECT_EQ(Table(), (std::vector<std::string>{
                         Rec("RIFF", "AVI ", -1, 0, fileSize),
                         Rec("LIST", "hdrl", 0, a.hdrl, size(a.hdrl)),
                         Rec("LIST", "movi", 0, a.movi, size(a.movi)),
                         Rec("idx1", "", 0, a.idx1, 16 * 20 + 8),
                         Rec("avih", "", 1, a.avih, 64),
                         Rec("LIST", "strl", 1, a.vstrl, size(a.vstrl)),
                         Rec("LIST", "strl", 1, a.astrl, size(a.astrl)),
                         Rec("strh", "vids", 5, a.vstrh, 64),
                         Rec("strf", "", 5, a.vstrf, 48),
                         Rec("strh", "auds", 6, a.astrh, 64),
                         Rec("strf", "", 6, a.astrf, 38),
                     }));
  for (size_t i = 0; i < rv::Blocks().size(); ++i) {
    const char expectKind = i == 8 ? 'v' : i == 10 ? 'a' : 0;
    EXPECT_EQ(rv::Blocks()[i].Kind, expectKind) << i;
  }

  // Block lines, hung under their parents' lines.
  EXPECT_EQ(BlockLine(0), "'RIFF' " + std::to_string(fileSize) + " 'AVI '");
  EXPECT_EQ(BlockLine(1), "'LIST' " + std::to_string(size(a.hdrl)) + " 'hdrl'");
  EXPECT_EQ(BlockLine(3), "'idx1' 328");
  EXPECT_EQ(BlockLine(4), "'avih' 64");
  EXPECT_EQ(BlockLine(7), "'strh' 64 'vids'");
  EXPECT_EQ(BlockLine(8), "'strf' 48");
  EXPECT_EQ(BlockLine(10), "'strf' 38");
  for (size_t i = 0; i < rv::Blocks().size(); ++i) {
    const rv::BlockRecord& r = rv::Blocks()[i];
    const rv::TreeLine& line = rv::Tree().lines.at(r.Node);
    EXPECT_EQ(line.parent, r.Parent < 0 ? -1 : rv::Blocks()[r.Parent].Node) << i;
    EXPECT_EQ(line.block, static_cast<int32_t>(i));
  }
  EXPECT_EQ(rv::Tree().expandedLine, rv::Blocks()[0].Node);
  EXPECT_EQ(ChildLines(rv::Blocks()[0].Node),
            (std::vector<std::string>{BlockLine(1), BlockLine(2), BlockLine(3)}));
  EXPECT_EQ(ChildLines(rv::Blocks()[1].Node),
            (std::vector<std::string>{"'avih' 64", BlockLine(5), BlockLine(6)}));

  // Field lines of the four header records.
  EXPECT_EQ(FieldLines(4), (std::vector<std::string>{
                               "TimeBetweenFrames = 40000", "MaximumDataRate = 123456",
                               "PaddingGranularity = 512", "Flags = 00000910(h)",
                               "TotalNumberOfFrames = 250", "NumberOfInitialFrames = 3",
                               "NumberOfStreams = 2", "SuggestedBufferSize = 65536",
                               "Width = 320", "Height = 240", "TimeScale = 7", "DataRate = 8",
                               "StartTime = 9", "DataLength = 10"}));
  EXPECT_EQ(FieldLines(7), (std::vector<std::string>{
                               "DataType = vids", "DeviceHandler = XVID", "Flags = 00010002(h)",
                               "Priority = 589825", "InitialFrames = 4", "TimeScale = 1",
                               "DataRate = 25", "StartTime = 5", "DataLength = 250",
                               "SuggestedBufferSize = 60000", "Quality = 00002710(h)",
                               "SampleSize = 6", "xz1 = 00020001(h)", "xz2 = 00F00140(h)"}));
  EXPECT_EQ(FieldLines(8), (std::vector<std::string>{
                               "biSize = 40", "biWidth = 320", "biHeight = 240",
                               "biPlanes = 1", "biBitCount = 24", "biCompression = XVID",
                               "biSizeImage = 230400", "biXPelsPerMeter = 0",
                               "biYPelsPerMeter = 0", "biClrUsed = 0", "biClrImportant = 0"}));
  EXPECT_EQ(FieldLines(10), (std::vector<std::string>{
                                "wFormatTag = 85", "nChannels = 2", "nSamplesPerSec = 44100",
                                "nAvgBytesPerSec = 16000", "nBlockAlign = 1",
                                "wBitsPerSample = 0", "cbSize = 12",
                                "CodecSpecificData = 01,00,02,00,00,00,A1,01,01,00,71,05"}));
  EXPECT_TRUE(FieldLines(2).empty()) << "the stream chunks are not blocks of the table";

  // Records.
  const rv::HeaderState& h = rv::Header();
  EXPECT_EQ(h.avih.signature, "avih");
  EXPECT_EQ(h.avih.size, 56u);
  EXPECT_EQ(h.avih.DataLength, 10u);
  EXPECT_EQ(h.vstrh.DeviceHandler, "XVID");
  EXPECT_EQ(h.vstrh.xz2, 0x00F00140u);
  EXPECT_EQ(h.astrh.DataType, "auds");
  EXPECT_EQ(h.astrh.DataLength, a.astrhFields.length);
  EXPECT_EQ(h.vstrf.biCompression, "XVID");
  EXPECT_TRUE(h.vstrf.codecData.empty());
  EXPECT_EQ(h.astrf.wFormatTag, 0x55);
  EXPECT_EQ(h.astrf.codecData, rvt::Mp3CodecData());
  EXPECT_EQ(h.moviPos, a.moviPos);
  EXPECT_EQ(h.extended, 0);

  // Header labels blue, stream and index maroon; only blue counts as present.
  EXPECT_EQ(Labels(), (std::vector<LabelColor>{B, B, B, B, B, M, M}));
  for (const char* e : {"avih", "vstrh", "vstrf", "astrh", "astrf"}) EXPECT_TRUE(rv::IFpresent(e));
  EXPECT_FALSE(rv::IFpresent("movi"));
  EXPECT_FALSE(rv::IFpresent("idx1"));
  EXPECT_FALSE(rv::IFpresent("AVIH"));
  EXPECT_FALSE(rv::IFpresent(""));
  EXPECT_TRUE(rv::ReadyToSave());
  EXPECT_FALSE(rv::SourceIsOpen()) << "the header read closes the source";
}

TEST_F(HeaderTest, BlockLookUpsOnAReadTable) {
  const rvt::StandardAvi a = rvt::MakeStandardAvi();
  ASSERT_TRUE(Open(a.bytes).opened);
  ASSERT_EQ(rv::Blocks().size(), 11u);

  EXPECT_TRUE(rv::HasBlock("idx1", ""));
  EXPECT_TRUE(rv::HasBlock("LIST", "movi"));
  EXPECT_FALSE(rv::HasBlock("idx1", "x"));
  EXPECT_FALSE(rv::HasBlock("LIST", "")) << "an empty tag matches only records without one";
  EXPECT_FALSE(rv::HasBlock("indx", ""));
  EXPECT_EQ(rv::FindBlock("strh", "auds"), 9);
  EXPECT_EQ(rv::FindBlock("strf", ""), 8) << "the first in table order";
  EXPECT_EQ(rv::FindBlock("LIST", "strl"), 5);
  EXPECT_EQ(rv::FindBlock("00dc", ""), -1);

  EXPECT_EQ(rv::FindBlockAt(rv::Blocks()[7].Node), 7);
  EXPECT_EQ(rv::FindBlockAt(rv::Blocks()[0].Node), 0);
  int32_t someField = -1;
  for (size_t i = 0; i < rv::Tree().lines.size(); ++i)
    if (rv::Tree().lines[i].block < 0) someField = static_cast<int32_t>(i);
  ASSERT_GE(someField, 0);
  EXPECT_EQ(rv::FindBlockAt(someField), -1);
  EXPECT_EQ(rv::FindBlockAt(-1), -1);
  EXPECT_EQ(rv::FindBlockAt(100000), -1);

  EXPECT_TRUE(rv::HasChildBlocks(0));
  EXPECT_TRUE(rv::HasChildBlocks(1));
  EXPECT_FALSE(rv::HasChildBlocks(2)) << "movi holds stream chunks only";
  EXPECT_FALSE(rv::HasChildBlocks(4));
  EXPECT_TRUE(rv::HasChildBlocks(6));
  EXPECT_FALSE(rv::HasChildBlocks(10));

  EXPECT_EQ(rv::StreamKindOf(rv::Blocks()[8]), 'v');
  EXPECT_EQ(rv::StreamKindOf(rv::Blocks()[10]), 'a');
  EXPECT_EQ(rv::StreamKindOf(rv::Blocks()[7]), 'v') << "the strh itself shares the strl";
  EXPECT_EQ(rv::StreamKindOf(rv::Blocks()[4]), '?') << "avih is not inside a strl";
  EXPECT_EQ(rv::StreamKindOf(rv::Blocks()[0]), '?');
  rv::BlockRecord stray = rv::Blocks()[8];
  stray.Parent = 999;
  EXPECT_EQ(rv::StreamKindOf(stray), '?');
}

TEST_F(HeaderTest, FileCutInsideMoviReportsBothSizesAndLosesTheIndex) {
  const rvt::StandardAvi a = rvt::MakeStandardAvi();
  const rv::OpenResult res = Open(rvt::Truncated(a.bytes, a.chunks[7].offset + 100));
  EXPECT_TRUE(res.opened);
  EXPECT_FALSE(res.hasIdx1);
  EXPECT_EQ(rv::MessageLines(),
            (std::vector<std::string>{kMsgSmallerThanDeclared, BlockTooShort("movi")}));
  EXPECT_EQ(Find("idx1"), -1);
  EXPECT_EQ(Find("LIST", "movi"), 2);
  EXPECT_EQ(rv::Header().moviPos, a.moviPos);
  EXPECT_EQ(Labels(), (std::vector<LabelColor>{B, B, B, B, B, M, G}));
  EXPECT_FALSE(rv::ReadyToSave());
}

TEST_F(HeaderTest, DataAfterTheRiffIsWalkedAtTheTopLevel) {
  const rvt::StandardAvi a = rvt::MakeStandardAvi();
  const uint32_t end = static_cast<uint32_t>(a.bytes.size());

  // A known chunk after the RIFF: only the size message; the chunk joins the root.
  Bytes f = a.bytes;
  rvt::AppendBytes(f, rvt::Build(Chunk("JUNK", rvt::Filled(16, 0))).bytes);
  EXPECT_TRUE(Open(f).hasIdx1);
  EXPECT_EQ(rv::MessageLines(), (std::vector<std::string>{kMsgLargerThanDeclared}));
  ASSERT_EQ(Find("JUNK"), 4);
  EXPECT_EQ(Table()[4], Rec("JUNK", "", 0, end, 24));

  // A second RIFF becomes a child of the root and is not descended.
  f = a.bytes;
  rvt::AppendBytes(f, rvt::Build(Riff("AVIX", {List("movi", {Chunk("idx1", rvt::Filled(16, 1))})}))
                          .bytes);
  Open(f);
  EXPECT_EQ(rv::MessageLines(), (std::vector<std::string>{kMsgLargerThanDeclared}));
  const int avix = Find("RIFF", "AVIX");
  ASSERT_GT(avix, 0);
  EXPECT_EQ(rv::Blocks()[avix].Parent, 0);
  EXPECT_EQ(rv::Blocks()[avix].Offset, end);
  EXPECT_FALSE(rv::HasChildBlocks(avix));
  EXPECT_EQ(rv::Blocks().size(), 12u);

  // Bytes that are no chunk ID end the walk with a message; what came before stays.
  f = a.bytes;
  rvt::AppendBytes(f, rvt::Text("garbage and more garbage"));
  EXPECT_TRUE(Open(f).hasIdx1);
  EXPECT_EQ(rv::MessageLines(),
            (std::vector<std::string>{kMsgLargerThanDeclared, kMsgNoNextId}));
  EXPECT_EQ(rv::Blocks().size(), 11u);
  EXPECT_EQ(Labels(), (std::vector<LabelColor>{B, B, B, B, B, M, M}));
}

TEST_F(HeaderTest, FileWithoutRiffSignatureGivesOneMessageAndNothingElse) {
  // First a good file, so that stale state would show.
  ASSERT_TRUE(Open(FileWith(StandardHdrl())).hasIdx1);
  ASSERT_FALSE(rv::Tree().lines.empty());

  Bytes f = FileWith(StandardHdrl());
  rvt::OverwriteAt(f, 0, rvt::Text("RIFX"));
  const rv::OpenResult res = Open(f);
  EXPECT_TRUE(res.opened);
  EXPECT_FALSE(res.hasIdx1);
  EXPECT_EQ(rv::MessageLines(), (std::vector<std::string>{kMsgNoRiff}));
  EXPECT_TRUE(rv::Blocks().empty());
  EXPECT_TRUE(rv::Tree().lines.empty());
  EXPECT_EQ(Labels(), std::vector<LabelColor>(rv::kLabelCount, G));
  EXPECT_EQ(rv::Header().avih.Width, 0u) << "the records of the previous file were not reset";
  EXPECT_FALSE(rv::IFpresent("avih"));
  EXPECT_FALSE(rv::ReadyToSave());

  Open(Bytes{});
  EXPECT_EQ(rv::MessageLines(), (std::vector<std::string>{kMsgNoRiff})) << "an empty file";
  Open(rvt::Text("RI"));
  EXPECT_EQ(rv::MessageLines(), (std::vector<std::string>{kMsgNoRiff})) << "a 2-byte file";
}

TEST_F(HeaderTest, MissingFileIsReportedAndReadsNothing) {
  ASSERT_TRUE(Open(FileWith(StandardHdrl())).opened);
  rv::ClearMessages();
  const rv::OpenResult res = OpenPath(dir_.File("no-such-file.avi"));
  EXPECT_FALSE(res.opened);
  EXPECT_FALSE(res.hasIdx1);
  EXPECT_EQ(rv::MessageLines(), (std::vector<std::string>{kMsgOpenFailed}));
  EXPECT_TRUE(rv::Tree().lines.empty());
  EXPECT_FALSE(rv::IFpresent("avih"));
  EXPECT_EQ(Labels(), std::vector<LabelColor>(rv::kLabelCount, G));
}

TEST_F(HeaderTest, IndxBlockMarksTheExtendedFormat) {
  std::vector<Node> hdrl{AvihChunk(),
                         List("strl", {VideoStrh(), VideoStrfChunk(),
                                       Chunk("indx", rvt::Filled(24 + 16, 0))}),
                         AudioStrl()};
  EXPECT_TRUE(Open(FileWith(hdrl)).hasIdx1);
  EXPECT_EQ(rv::MessageLines(), (std::vector<std::string>{kMsgExtended}));
  EXPECT_EQ(rv::Header().extended, 'y');
  EXPECT_EQ(Find("indx"), 9);
  EXPECT_EQ(Labels(), (std::vector<LabelColor>{B, B, B, B, B, M, M}));

  // In addition to other findings, and last.
  Bytes cut = FileWith(hdrl, false);
  rvt::Truncate(cut, cut.size() - 10);
  Open(cut);
  EXPECT_EQ(rv::MessageLines(), (std::vector<std::string>{kMsgSmallerThanDeclared,
                                                          BlockTooShort("movi"), kMsgExtended}));
  EXPECT_EQ(rv::Header().extended, 'y');

  // The next file without indx clears the flag.
  Open(FileWith(StandardHdrl()));
  EXPECT_EQ(rv::Header().extended, 0);
  EXPECT_TRUE(rv::MessageLines().empty());
}

TEST_F(HeaderTest, NonStandardStreamHeaderSizesAreReportedAndReadAsFarAsTheyGo) {
  Bytes shortStrh = rvt::StrhPayload("vids", "XVID", DistinctVideoStrh());
  shortStrh.resize(48);  // a 56-byte block: no frame rectangle
  Bytes longStrh = rvt::StrhPayload("auds", "", AudioStrhFields());
  rvt::AppendBytes(longStrh, rvt::Filled(4, 0xAB));  // a 68-byte block
  Bytes longAvih = rvt::AvihPayload(DistinctAvih());
  rvt::AppendBytes(longAvih, rvt::Filled(8, 0xCD));

  Open(FileWith({Chunk("avih", longAvih),
                 List("strl", {Chunk("strh", shortStrh), VideoStrfChunk()}),
                 List("strl", {Chunk("strh", longStrh), AudioStrfChunk()})}));
  EXPECT_EQ(rv::MessageLines(),
            (std::vector<std::string>{NonStandard("avih"), NonStandard("video strh"),
                                      NonStandard("audio strh")}));
  const rv::HeaderState& h = rv::Header();
  EXPECT_EQ(h.avih.DataLength, 10u) << "a longer avih is still read";
  EXPECT_EQ(h.vstrh.SampleSize, 6u);
  EXPECT_EQ(h.vstrh.xz1, 0u) << "bytes after the short strh belong to the next block";
  EXPECT_EQ(h.vstrh.xz2, 0u);
  EXPECT_EQ(h.astrh.size, 60u);
  EXPECT_EQ(h.astrh.DataLength, 160000u);
  const std::vector<std::string> lines = FieldLines(Find("strh", "vids"));
  ASSERT_EQ(lines.size(), 14u);
  EXPECT_EQ(lines[12], "xz1 = 00000000(h)");
  EXPECT_EQ(lines[13], "xz2 = 00000000(h)");
  EXPECT_EQ(BlockLine(Find("strh", "vids")), "'strh' 56 'vids'");
  // The short strh does not throw the list walk off: the strf after it is found and read.
  EXPECT_EQ(Labels(), (std::vector<LabelColor>{B, B, B, B, B, M, M}));
}

TEST_F(HeaderTest, AudioFormatSizeMustMatchItsCbSize) {
  // 16-byte wave format without cbSize: reported, not read, label gray.
  Open(FileWith({AvihChunk(), VideoStrl(),
                 List("strl", {AudioStrh(), Chunk("strf", rvt::AudioStrf(1, 2, 48000, 16, {},
                                                                          false))})}));
  EXPECT_EQ(rv::MessageLines(), (std::vector<std::string>{NonStandard("audio strf")}));
  ASSERT_EQ(rv::Blocks().size(), 11u);
  int strf = 10;
  ASSERT_EQ(rv::Blocks()[strf].Name, "strf");
  EXPECT_EQ(rv::Blocks()[strf].Size, 24u);
  EXPECT_EQ(rv::Blocks()[strf].Kind, 0);
  EXPECT_TRUE(FieldLines(strf).empty());
  EXPECT_EQ(rv::Header().astrf.nSamplesPerSec, 0u);
  EXPECT_EQ(rv::GetLabel(rv::kLabelASTRF), G);
  EXPECT_EQ(rv::GetLabel(rv::kLabelASTRH), B);

  // cbSize that promises more than the block holds.
  Bytes lying = rvt::AudioStrf(1, 2, 48000, 16);
  lying[16] = 2;
  Open(FileWith({AvihChunk(), VideoStrl(), List("strl", {AudioStrh(), Chunk("strf", lying)})}));
  EXPECT_EQ(rv::MessageLines(), (std::vector<std::string>{NonStandard("audio strf")}));
  EXPECT_EQ(rv::GetLabel(rv::kLabelASTRF), G);

  // 26-byte PCM with cbSize 0: read, no codec-data line. Tag above 255 and 24 bits whole.
  Open(FileWith({AvihChunk(), VideoStrl(),
                 List("strl", {AudioStrh(), Chunk("strf", rvt::AudioStrf(8192, 6, 48000, 24))})}));
  EXPECT_TRUE(rv::MessageLines().empty());
  strf = static_cast<int>(rv::Blocks().size()) - 1;
  EXPECT_EQ(rv::Blocks()[strf].Kind, 'a');
  EXPECT_EQ(FieldLines(strf),
            (std::vector<std::string>{"wFormatTag = 8192", "nChannels = 6",
                                      "nSamplesPerSec = 48000", "nAvgBytesPerSec = 864000",
                                      "nBlockAlign = 18", "wBitsPerSample = 24", "cbSize = 0"}));
  EXPECT_EQ(rv::Header().astrf.wFormatTag, 8192);
  EXPECT_EQ(rv::Header().astrf.wBitsPerSample, 24);
  EXPECT_TRUE(rv::Header().astrf.codecData.empty());
  EXPECT_EQ(rv::GetLabel(rv::kLabelASTRF), B);
}

TEST_F(HeaderTest, VideoFormatNeedsABitmapCodeOrAFourcc) {
  // Uncompressed, RLE and bitfield formats (codes 0-5, palettes or masks after the 40 bytes)
  // and FOURCCs padded with blanks are read; other codes are not.
  const struct {
    std::string_view code;
    Bytes extra;
    bool read;
  } kCases[] = {{"", {}, true},
                {"", rvt::Filled(1024, 7), true},
                {std::string_view("\x03\0\0\0", 4), rvt::Filled(12, 0xFF), true},
                {"DIB ", {}, true},
                {"a bc", {}, false},
                {" abc", {}, false},
                {std::string_view("\x06\0\0\0", 4), {}, false}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.code) + " extra " + std::to_string(c.extra.size()));
    Open(FileWith({AvihChunk(),
                   List("strl", {VideoStrh(), Chunk("strf", rvt::VideoStrf(320, 240, c.code, 8, c.extra))}),
                   AudioStrl()}));
    EXPECT_EQ(rv::MessageLines(), c.read ? std::vector<std::string>{}
                                         : std::vector<std::string>{NonStandard("video strf")});
    EXPECT_EQ(rv::GetLabel(rv::kLabelVSTRF), c.read ? B : G);
    EXPECT_EQ(rv::Header().vstrf.biWidth, c.read ? 320u : 0u);
    EXPECT_EQ(rv::Header().vstrf.codecData, c.read ? c.extra : Bytes{});
    EXPECT_EQ(FieldLines(Find("strf")).empty(), !c.read);
  }

  Open(FileWith({AvihChunk(),
                 List("strl", {VideoStrh(), Chunk("strf", rvt::VideoStrf(640, 480, "H264", 24,
                                                                         {0, 0, 1, 0xB0, 1, 0}))}),
                 AudioStrl()}));
  EXPECT_TRUE(rv::MessageLines().empty());
  const int strf = Find("strf");
  EXPECT_EQ(rv::Blocks()[strf].Size, 54u);
  const std::vector<std::string> lines = FieldLines(strf);
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_EQ(lines[0], "biSize = 46");
  EXPECT_EQ(lines[11], "CodecSpecificData = 00,00,01,B0,01,00");
  EXPECT_EQ(rv::Header().vstrf.codecData, (Bytes{0, 0, 1, 0xB0, 1, 0}));
}

TEST_F(HeaderTest, FormatWithoutStreamHeaderIsJudgedBySizeAlone) {
  // No strh in these strl lists: 48 or 54 bytes read as video (even uncompressed), 26 or 38
  // as audio, any other size is shown but not read.
  Open(FileWith({AvihChunk(), List("strl", {Chunk("strf", rvt::VideoStrf(176, 144, ""))}),
                 List("strl", {Chunk("strf", rvt::VideoStrf(352, 288, "", 24, rvt::Filled(6, 1)))}),
                 List("strl", {Chunk("strf", rvt::AudioStrf(1, 1, 8000, 8))}),
                 List("strl", {Chunk("strf", rvt::AudioStrf(0x55, 2, 22050, 0,
                                                            rvt::Mp3CodecData()))}),
                 List("strl", {Chunk("strf", rvt::Filled(32, 0x41))})}));
  EXPECT_TRUE(rv::MessageLines().empty());
  ASSERT_EQ(rv::Blocks().size(), 15u);
  std::string kinds;
  for (int i = 10; i < 15; ++i) kinds += rv::Blocks()[i].Kind ? rv::Blocks()[i].Kind : '-';
  EXPECT_EQ(kinds, "vvaa-");
  EXPECT_EQ(FieldLines(10).size(), 11u);
  EXPECT_EQ(FieldLines(11).size(), 12u) << "with its codec-data line";
  EXPECT_EQ(FieldLines(13).size(), 8u);
  EXPECT_TRUE(FieldLines(14).empty());
  EXPECT_EQ(rv::Header().vstrf.biWidth, 352u) << "the last video format is kept";
  EXPECT_EQ(rv::Header().astrf.nSamplesPerSec, 22050u);
  EXPECT_EQ(Labels(), (std::vector<LabelColor>{B, G, B, G, B, M, M}));
}

TEST_F(HeaderTest, FirstOfSeveralStreamListsIsKeptAndTheOthersShown) {
  rvt::StrhFields second = DistinctVideoStrh();
  second.length = 999;
  Open(FileWith({AvihChunk(), VideoStrl(), AudioStrl(),
                 List("strl", {Chunk("strh", rvt::StrhPayload("vids", "DIVX", second)),
                               Chunk("strf", rvt::VideoStrf(640, 480, "DIVX"))}),
                 List("strl", {Chunk("strh", rvt::StrhPayload("txts", "", {})),
                               Chunk("strf", rvt::Filled(20, 0))})}));
  EXPECT_TRUE(rv::MessageLines().empty());
  // The records hold the first stream of each kind, the one players take by default.
  EXPECT_EQ(rv::Header().vstrh.DeviceHandler, "XVID");
  EXPECT_EQ(rv::Header().vstrh.DataLength, DistinctVideoStrh().length);
  EXPECT_EQ(rv::Header().vstrf.biWidth, 320u);
  const int divx = Find("strh", "vids", 1);
  ASSERT_GE(divx, 0);
  EXPECT_EQ(FieldLines(divx)[8], "DataLength = 999") << "the second video stream is shown";
  EXPECT_EQ(FieldLines(divx + 1)[1], "biWidth = 640");
  EXPECT_EQ(rv::Header().astrf.wFormatTag, 0x55) << "the one audio strl";
  // A text stream is shown in the tree only; its strf belongs to no known kind.
  const int txts = Find("strh", "txts");
  ASSERT_GE(txts, 0);
  EXPECT_TRUE(FieldLines(txts).empty());
  EXPECT_EQ(rv::Blocks().back().Kind, 0);
  EXPECT_TRUE(FieldLines(static_cast<int>(rv::Blocks().size()) - 1).empty());
  EXPECT_EQ(Labels(), (std::vector<LabelColor>{B, B, B, B, B, M, M}));

  // Any stream header that is not video lights the audio strh label, but no audio format.
  Open(FileWith({AvihChunk(), VideoStrl(),
                 List("strl", {Chunk("strh", rvt::StrhPayload("txts", "", {}))})}));
  EXPECT_EQ(Labels(), (std::vector<LabelColor>{B, B, B, B, G, M, M}));
}

TEST_F(HeaderTest, OddSizesAreFollowedWithoutAPadByte) {
  // Inside a list: a padded odd block puts the next ID one byte early; the list ends quietly.
  Open(FileWith({AvihChunk(), List("strl", {VideoStrh(), Chunk("strn", rvt::Text("abcde")),
                                            VideoStrfChunk()}),
                 AudioStrl()}));
  EXPECT_TRUE(rv::MessageLines().empty());
  EXPECT_EQ(rv::GetLabel(rv::kLabelVSTRF), G);
  EXPECT_EQ(rv::GetLabel(rv::kLabelASTRF), B);

  // Without the pad byte the strf is found.
  Open(FileWith({AvihChunk(), List("strl", {VideoStrh(), Chunk("strn", rvt::Text("abcde")).NoPad(),
                                            VideoStrfChunk()}),
                 AudioStrl()}));
  EXPECT_TRUE(rv::MessageLines().empty());
  EXPECT_EQ(rv::GetLabel(rv::kLabelVSTRF), B);

  // At the top level the early ID is reported and the walk ends before movi.
  Bytes f = rvt::Build(Riff("AVI ", {List("hdrl", StandardHdrl()), Chunk("JUNK", rvt::Filled(3, 0)),
                                     List("movi", {Chunk("00dc", rvt::Pattern(10, 1))})}))
                .bytes;
  EXPECT_FALSE(Open(f).hasIdx1);
  EXPECT_EQ(rv::MessageLines(), (std::vector<std::string>{kMsgNoNextId}));
  EXPECT_EQ(Find("LIST", "movi"), -1);
  EXPECT_EQ(rv::GetLabel(rv::kLabelMOVI), G);
  EXPECT_EQ(rv::GetLabel(rv::kLabelAVIH), B);
}

TEST_F(HeaderTest, HostileSizesEndTheWalkInsteadOfWrappingRound) {
  // 8 + 0xFFFFFFF8 brings a 32-bit position back to where it was.
  for (uint32_t hostile : {0xFFFFFFF8u, 0xFFFFFFF0u, 0xFFFFFFFFu, 0x7FFFFFFFu}) {
    SCOPED_TRACE(hostile);
    Bytes f = rvt::Build(Riff("AVI ", {List("hdrl", StandardHdrl()),
                                       Chunk("JUNK", rvt::Filled(8, 0)).Size(hostile),
                                       List("movi", {Chunk("00dc", rvt::Pattern(10, 1))})}))
                  .bytes;
    Open(f);
    EXPECT_EQ(rv::MessageLines(), (std::vector<std::string>{BlockTooShort("JUNK")}));
    EXPECT_EQ(Find("LIST", "movi"), -1);
    EXPECT_EQ(rv::Blocks().size(), 10u);

    // Inside a list the list ends without a message of its own.
    f = FileWith({AvihChunk(),
                  List("strl", {Chunk("JUNK", rvt::Filled(8, 0)).Size(hostile), VideoStrh(),
                                VideoStrfChunk()}),
                  AudioStrl()});
    Open(f);
    EXPECT_TRUE(rv::MessageLines().empty());
    EXPECT_EQ(Find("strh", "vids"), -1);
    EXPECT_EQ(rv::GetLabel(rv::kLabelASTRH), B);
    EXPECT_LT(rv::Blocks().size(), 20u);
  }
}

TEST_F(HeaderTest, DeclaredListSizeBeyondTheFileIsReportedWithTheListType) {
  Bytes f = rvt::Build(Riff("AVI ", {List("hdrl", StandardHdrl()),
                                     List("movi", {Chunk("00dc", rvt::Pattern(10, 1))})
                                         .Size(100000)}))
                .bytes;
  rvt::OverwriteLE32(f, 4, 100000);
  Open(f);
  EXPECT_EQ(rv::MessageLines(),
            (std::vector<std::string>{kMsgSmallerThanDeclared, BlockTooShort("movi")}));
}

TEST_F(HeaderTest, FilesOfFourGibibytesAreRefusedWithAMessage) {
  const std::string path = dir_.File("huge.avi");
  {
    const Bytes head = FileWith(StandardHdrl());
    rvt::WriteFile(path, head);
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    const bool grown = ::ftruncate(fd, off_t{0x100000001}) == 0;
    ::close(fd);
    if (!grown) GTEST_SKIP() << "the file system refuses a sparse file of 4 GiB";
  }
  rv::ClearMessages();
  const rv::OpenResult res = OpenPath(path);
  EXPECT_FALSE(res.opened);
  EXPECT_TRUE(rv::Source().tooLarge);
  const std::vector<std::string> msgs = rv::MessageLines();
  EXPECT_NE(std::find(msgs.begin(), msgs.end(), kMsgTooLarge), msgs.end())
      << (msgs.empty() ? std::string("no message") : msgs.front());
  EXPECT_TRUE(rv::Blocks().empty());
  EXPECT_TRUE(rv::Tree().lines.empty());
  EXPECT_EQ(Labels(), std::vector<LabelColor>(rv::kLabelCount, G));
}

TEST_F(HeaderTest, FileWrittenByFfmpegReadsQuietlyWithEveryLabelLit) {
  RVT_SKIP_WITHOUT_FFMPEG();
  const std::string path = rvt::MakeFfmpegAvi(dir_.path());
  ASSERT_FALSE(path.empty()) << "ffmpeg could not write the sample";
  const Bytes f = rvt::ReadFile(path);

  const rv::OpenResult res = OpenPath(path);
  EXPECT_TRUE(res.opened);
  EXPECT_TRUE(res.hasIdx1);
  // JUNK and vprp in the strl lists, a LIST INFO and padding JUNK are passed over quietly.
  EXPECT_TRUE(rv::MessageLines().empty()) << rv::MessageLines().front();
  EXPECT_EQ(Labels(), (std::vector<LabelColor>{B, B, B, B, B, M, M}));
  EXPECT_EQ(rv::Blocks()[0].Size, f.size());

  const rv::HeaderState& h = rv::Header();
  EXPECT_EQ(h.avih.TimeBetweenFrames, 40000u);
  EXPECT_EQ(h.avih.TotalNumberOfFrames, 50u);
  EXPECT_EQ(h.avih.Width, 320u);
  EXPECT_EQ(h.avih.Height, 240u);
  EXPECT_EQ(h.vstrh.DeviceHandler, "XVID");
  EXPECT_EQ(h.vstrf.biCompression, "XVID");
  EXPECT_EQ(h.vstrf.biWidth, 320u);
  EXPECT_EQ(h.astrf.wFormatTag, 0x50) << "MPEG layer 2";
  EXPECT_EQ(h.astrf.nSamplesPerSec, 44100u);
  EXPECT_EQ(h.astrf.cbSize, 22);
  EXPECT_EQ(h.astrf.codecData.size(), 22u);

  // The movi position agrees with a plain search for the list in the bytes.
  const std::string text(f.begin(), f.end());
  const size_t movi = text.find("movi");
  ASSERT_NE(movi, std::string::npos);
  ASSERT_EQ(text.substr(movi - 8, 4), "LIST");
  EXPECT_EQ(h.moviPos, movi);
  const int idx1 = Find("idx1");
  ASSERT_GE(idx1, 0);
  EXPECT_EQ(rv::Blocks()[idx1].Offset + rv::Blocks()[idx1].Size, f.size());
}

TEST(HeaderRecordReaders, SignatureAndLengthAreCheckedBeforeTheFields) {
  rv::AvihRecord r;
  r.Width = 77;
  Bytes chunk = rvt::Build(Chunk("avih", rvt::AvihPayload(DistinctAvih()))).bytes;
  Bytes wrong = chunk;
  wrong[0] = 'A';
  EXPECT_FALSE(rv::readAVIH(wrong, r));
  EXPECT_EQ(r.Width, 77u);
  EXPECT_FALSE(rv::readAVIH(rvt::Truncated(chunk, 63), r));
  EXPECT_EQ(r.Width, 77u);
  EXPECT_TRUE(rv::readAVIH(chunk, r));
  EXPECT_EQ(r.Width, 320u);
  EXPECT_EQ(r.TimeScale, 7u);

  rv::StrhRecord s;
  EXPECT_FALSE(rv::readSTRH(chunk, s)) << "an avih is no strh";
  EXPECT_TRUE(rv::readSTRH(rvt::Build(Chunk("strh", rvt::StrhPayload("auds", "\x55", {})))
                               .bytes,
                           s));
  EXPECT_EQ(s.DataType, "auds");
  EXPECT_EQ(s.DeviceHandler, std::string("\x55\0\0\0", 4));

  // Audio codec data is cut at the end of the block when cbSize promises more.
  Bytes wave = rvt::AudioStrf(0x55, 2, 44100, 0, {1, 2, 3, 4});
  wave[16] = 12;
  rv::AudioStrfRecord a;
  EXPECT_TRUE(rv::readAudioSTRF(rvt::Build(Chunk("strf", wave)).bytes, a));
  EXPECT_EQ(a.cbSize, 12);
  EXPECT_EQ(a.codecData, (Bytes{1, 2, 3, 4}));

  rv::VideoStrfRecord v;
  EXPECT_TRUE(rv::readVideoSTRF(
      rvt::Build(Chunk("strf", rvt::VideoStrf(8, 8, "MJPG", 24, {9, 8, 7}))).bytes, v));
  EXPECT_EQ(v.codecData, (Bytes{9, 8, 7}));
  EXPECT_EQ(v.biPlanes, 1);
  EXPECT_EQ(v.biBitCount, 24);
  EXPECT_FALSE(rv::readVideoSTRF(
      rvt::Truncated(rvt::Build(Chunk("strf", rvt::VideoStrf(8, 8, "MJPG"))).bytes, 47), v));
}

}  // namespace
