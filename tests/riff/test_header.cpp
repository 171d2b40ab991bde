// Opening a file and reading its header: the block table, the tree lines, the header records,
// the size and structure messages and the seven block labels.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check/file_state.h"
#include "base/messages.h"
#include "fixtures/avi_builder.h"
#include "fixtures/engine_dump.h"
#include "fixtures/ffmpeg_sample.h"
#include "riff/blocks.h"
#include "riff/header.h"
#include "riff/source.h"

namespace {

using rv::Bytes;
using rvt::Chunk;
using rvt::List;
using rvt::Node;
using rvt::Riff;

// Distinct values in every field, so that a field read from the wrong place shows.
const rvt::AvihFields kAvih{.maxBytesPerSec = 123456, .paddingGranularity = 512,
                            .totalFrames = 250, .initialFrames = 3,
                            .suggestedBufferSize = 65536, .reserved = {7, 8, 9, 10}};
const rvt::StrhFields kVstrh{.flags = 0x00010002, .priority = 0x00090001, .initialFrames = 4,
                             .start = 5, .length = 250, .suggestedBufferSize = 60000,
                             .quality = 10000, .sampleSize = 6, .left = 1, .top = 2,
                             .right = 320, .bottom = 240};
const rvt::StrhFields kAstrh{.rate = 16000, .length = 160000, .sampleSize = 1};

Node Avih() { return Chunk("avih", rvt::AvihPayload(kAvih)); }
Node VideoStrl(Bytes strf = rvt::VideoStrf(320, 240, "XVID")) {
  return List("strl", {Chunk("strh", rvt::StrhPayload("vids", "XVID", kVstrh)), Chunk("strf", strf)});
}
Node AudioStrl(Bytes strf = rvt::AudioStrf(0x55, 2, 44100, 0, rvt::Mp3CodecData(), true, 16000, 1)) {
  return List("strl", {Chunk("strh", rvt::StrhPayload("auds", "", kAstrh)), Chunk("strf", strf)});
}
std::vector<Node> Hdrl() { return {Avih(), VideoStrl(), AudioStrl()}; }

// A small file around the given hdrl children: movi with two chunks, then idx1.
Bytes FileWith(std::vector<Node> hdrl, bool withIdx1 = true) {
  std::vector<Node> top{List("hdrl", std::move(hdrl)),
                        List("movi", {Chunk("00dc", rvt::Pattern(100, 1)),
                                      Chunk("01wb", rvt::Pattern(50, 2))})};
  if (withIdx1)
    top.push_back(Chunk("idx1", rvt::Idx1({{"00dc", 0x10, 4, 100}, {"01wb", 0x10, 112, 50}})));
  return rvt::Build(Riff("AVI ", std::move(top))).bytes;
}
Bytes Append(Bytes a, const Bytes& b) { return rvt::Concat({a, b}); }

// One line: the messages, short where the text is exactly a known one; the labels; the block
// table in its order (a list by its type, a typed chunk with '/', a read format with its kind).
std::string Summary() {
  static const std::pair<const char*, const char*> kKnown[] = {
      {"• размер файла меньше значения, указанного в заголовке", "smaller"},
      {"• размер файла больше значения, указанного в заголовке", "larger"},
      {"• отсутствует сигнатура RIFF", "noRIFF"},
      {"• ожидался ID следующего блока и не нашёлся. вероятно нарушение в структуре файла", "noNext"},
      {"• ошибка открытия файла", "openFailed"},
      {"• файл больше 4 ГБ не поддерживается", "tooLarge"},
      {"• есть подозрение, что это Extended AVI format. будет предпринята попытка переделать его "
       "в стандартный вид", "extended"}};
  std::string s;
  for (std::string m : rv::MessageLines()) {
    for (auto [text, key] : kKnown)
      if (m == text) m = key;
    const std::string shortPre = "• размер блока ", shortPost = " меньше  заявленного",
                      nonstdPre = "• не стандартный размер блока ";
    if (m.rfind(shortPre, 0) == 0 && m.size() > shortPre.size() + shortPost.size() &&
        m.substr(m.size() - shortPost.size()) == shortPost)
      m = "short " + m.substr(shortPre.size(), m.size() - shortPre.size() - shortPost.size());
    if (m.rfind(nonstdPre, 0) == 0) m = "nonstd " + m.substr(nonstdPre.size());
    s += m + "; ";
  }
  s += "| ";
  for (int i = 0; i < rv::kLabelCount; ++i) s += "-BM"[int(rv::GetLabel(i))];
  s += " |";
  for (const rv::BlockRecord& r : rv::Blocks()) {
    s += ' ' + (r.Name == "LIST" ? r.TypeTag : r.Name + (r.TypeTag.empty() ? "" : "/" + r.TypeTag));
    if (r.Kind) s += std::string(".") + r.Kind;
  }
  return s;
}

class HeaderTest : public ::testing::Test {
 protected:
  void TearDown() override {
    rv::CloseSource();
    rv::ResetFileState();
  }
  // What the open-and-read button does: reset the previous file's state, then read.
  rv::OpenResult Open(const Bytes& bytes) { return OpenPath(dir_.Write("input.avi", bytes)); }
  static rv::OpenResult OpenPath(const std::string& path) {
    rv::ResetFileState();
    return rv::OpenAndReadHeader(path);
  }
  rvt::TempDir dir_{"header"};
};

constexpr const char* kStandard =
    " hdrl movi idx1 avih strl strl strh/vids strf.v strh/auds strf.a";

TEST_F(HeaderTest, WellFormedFileGivesTheTableTreeFieldLinesAndLabels) {
  const rv::OpenResult res = Open(FileWith(Hdrl()));
  EXPECT_TRUE(res.opened && res.hasIdx1);
  EXPECT_EQ(rvt::HeaderDump(true),
            "labels BBBBBMM\n"
            "'RIFF' 544 'AVI ' @0\n"
            "  'LIST' 314 'hdrl' @12\n"
            "    'avih' 64 @24\n"
            "      TimeBetweenFrames = 40000\n      MaximumDataRate = 123456\n"
            "      PaddingGranularity = 512\n      Flags = 00000910(h)\n"
            "      TotalNumberOfFrames = 250\n      NumberOfInitialFrames = 3\n"
            "      NumberOfStreams = 2\n      SuggestedBufferSize = 65536\n      Width = 320\n"
            "      Height = 240\n      TimeScale = 7\n      DataRate = 8\n      StartTime = 9\n"
            "      DataLength = 10\n"
            "    'LIST' 124 'strl' @88\n"
            "      'strh' 64 'vids' @100\n"
            "        DataType = vids\n        DeviceHandler = XVID\n        Flags = 00010002(h)\n"
            "        Priority = 589825\n        InitialFrames = 4\n        TimeScale = 1\n"
            "        DataRate = 25\n        StartTime = 5\n        DataLength = 250\n"
            "        SuggestedBufferSize = 60000\n        Quality = 00002710(h)\n"
            "        SampleSize = 6\n        xz1 = 00020001(h)\n        xz2 = 00F00140(h)\n"
            "      'strf' 48 @164 v\n"
            "        biSize = 40\n        biWidth = 320\n        biHeight = 240\n"
            "        biPlanes = 1\n        biBitCount = 24\n        biCompression = XVID\n"
            "        biSizeImage = 230400\n        biXPelsPerMeter = 0\n"
            "        biYPelsPerMeter = 0\n        biClrUsed = 0\n        biClrImportant = 0\n"
            "    'LIST' 114 'strl' @212\n"
            "      'strh' 64 'auds' @224\n"
            "        DataType = auds\n        DeviceHandler = ....\n        Flags = 00000000(h)\n"
            "        Priority = 0\n        InitialFrames = 0\n        TimeScale = 1\n"
            "        DataRate = 16000\n        StartTime = 0\n        DataLength = 160000\n"
            "        SuggestedBufferSize = 0\n        Quality = FFFFFFFF(h)\n"
            "        SampleSize = 1\n        xz1 = 00000000(h)\n        xz2 = 00000000(h)\n"
            "      'strf' 38 @288 a\n"
            "        wFormatTag = 85\n        nChannels = 2\n        nSamplesPerSec = 44100\n"
            "        nAvgBytesPerSec = 16000\n        nBlockAlign = 1\n        wBitsPerSample = 0\n"
            "        cbSize = 12\n"
            "        CodecSpecificData = 01,00,02,00,00,00,A1,01,01,00,71,05\n"
            "  'LIST' 178 'movi' @326\n"
            "  'idx1' 40 @504\n");
  EXPECT_EQ(Summary(), std::string("| BBBBBMM | RIFF/AVI ") + kStandard);
  const rv::HeaderState& h = rv::Header();
  EXPECT_EQ(h.avih.DataLength, 10u);
  EXPECT_EQ(h.vstrh.xz2, 0x00F00140u);
  EXPECT_EQ(h.astrf.codecData, rvt::Mp3CodecData());
  EXPECT_EQ(h.moviPos, 334u);
  EXPECT_EQ(rv::Tree().expandedLine, rv::Blocks()[0].Node);
  for (const char* e : {"avih", "vstrh", "vstrf", "astrh", "astrf"}) EXPECT_TRUE(rv::IFpresent(e));
  for (const char* e : {"movi", "idx1", "AVIH", ""}) EXPECT_FALSE(rv::IFpresent(e)) << e;
  EXPECT_TRUE(rv::ReadyToSave());
  EXPECT_FALSE(rv::SourceIsOpen()) << "the header read closes the source";

  // Look-ups on the table.
  EXPECT_TRUE(rv::HasBlock("LIST", "movi"));
  EXPECT_FALSE(rv::HasBlock("LIST", "")) << "an empty tag matches only records without one";
  EXPECT_FALSE(rv::HasBlock("idx1", "x"));
  EXPECT_EQ(rv::FindBlock("strh", "auds"), 9);
  EXPECT_EQ(rv::FindBlock("strf", ""), 8) << "the first in table order";
  EXPECT_EQ(rv::FindBlock("00dc", ""), -1);
  EXPECT_EQ(rv::FindBlockAt(rv::Blocks()[7].Node), 7);
  EXPECT_EQ(rv::FindBlockAt(int32_t(rv::Tree().lines.size()) - 1), -1) << "a field line";
  EXPECT_EQ(rv::FindBlockAt(100000), -1);
  std::string children, kinds;
  for (int32_t i = 0; i < 11; ++i) children += rv::HasChildBlocks(i) ? 'y' : '-';
  for (const rv::BlockRecord& r : rv::Blocks()) kinds += rv::StreamKindOf(r);
  EXPECT_EQ(children, "yy---yy----") << "movi holds stream chunks only";
  EXPECT_EQ(kinds, "???????vvaa");
  rv::BlockRecord stray = rv::Blocks()[8];
  stray.Parent = 999;
  EXPECT_EQ(rv::StreamKindOf(stray), '?');
}

TEST_F(HeaderTest, DamagedAndUnusualFilesGiveTheirMessagesLabelsAndTable) {
  const Bytes good = FileWith(Hdrl());
  const std::string rest = kStandard;
  Bytes noRiff = good, longList = rvt::Build(Riff("AVI ", {List("hdrl", Hdrl()),
      List("movi", {Chunk("00dc", rvt::Pattern(10, 1))}).Size(100000)})).bytes;
  noRiff[3] = 'X';
  rvt::OverwriteLE32(longList, 4, 100000);
  Bytes shortStrh = rvt::StrhPayload("vids", "XVID", kVstrh), longStrh = rvt::StrhPayload("auds", "", kAstrh);
  shortStrh.resize(48);  // no frame rectangle
  rvt::AppendBytes(longStrh, rvt::Filled(4, 0xAB));
  Bytes lyingCbSize = rvt::AudioStrf(1, 2, 48000, 16);
  lyingCbSize[16] = 2;
  const std::vector<Node> withIndx{Avih(), List("strl", {Chunk("strh", rvt::StrhPayload("vids", "XVID", kVstrh)),
      Chunk("strf", rvt::VideoStrf(320, 240, "XVID")), Chunk("indx", rvt::Filled(40, 0))}), AudioStrl()};
  const Bytes cutIndx = rvt::Truncated(FileWith(withIndx, false), 400);
  const Node strn = Chunk("strn", rvt::Text("abcde"));
  const struct {
    const char* what;
    Bytes file;
    std::string summary;
  } cases[] = {
      {"cut inside movi", rvt::Truncated(good, 400), "smaller; short movi; | BBBBBM- | RIFF/AVI "
       " hdrl movi avih strl strl strh/vids strf.v strh/auds strf.a"},
      {"a chunk after the RIFF joins the root", Append(good, rvt::Build(Chunk("JUNK", rvt::Filled(16, 0))).bytes),
       "larger; | BBBBBMM | RIFF/AVI  hdrl movi idx1 JUNK" + rest.substr(15)},
      {"a second RIFF is not descended", Append(good, rvt::Build(Riff("AVIX", {List("movi", {})})).bytes),
       "larger; | BBBBBMM | RIFF/AVI  hdrl movi idx1 RIFF/AVIX" + rest.substr(15)},
      {"garbage after the RIFF", Append(good, rvt::Text("garbage and more garbage")),
       "larger; noNext; | BBBBBMM | RIFF/AVI " + rest},
      {"no RIFF signature", noRiff, "noRIFF; | ------- |"},
      {"empty file", {}, "noRIFF; | ------- |"},
      {"two bytes", rvt::Text("RI"), "noRIFF; | ------- |"},
      {"list size beyond the file", longList, "smaller; short movi; | BBBBBM- | RIFF/AVI "
       " hdrl movi avih strl strl strh/vids strf.v strh/auds strf.a"},
      {"indx: extended format, said last", cutIndx, "smaller; short movi; extended; | BBBBBM- | "
       "RIFF/AVI  hdrl movi avih strl strl strh/vids strf.v indx strh/auds strf.a"},
      {"non-standard header sizes", FileWith({Chunk("avih", Append(rvt::AvihPayload(kAvih), rvt::Filled(8, 0))),
       List("strl", {Chunk("strh", shortStrh), Chunk("strf", rvt::VideoStrf(320, 240, "XVID"))}),
       List("strl", {Chunk("strh", longStrh), AudioStrl().children[1]})}),
       "nonstd avih; nonstd video strh; nonstd audio strh; | BBBBBMM | RIFF/AVI " + rest},
      {"16-byte wave format", FileWith({Avih(), VideoStrl(), AudioStrl(rvt::AudioStrf(1, 2, 48000, 16, {}, false))}),
       "nonstd audio strf; | BBBB-MM | RIFF/AVI " + rest.substr(0, rest.size() - 2)},
      {"cbSize past the block", FileWith({Avih(), VideoStrl(), AudioStrl(lyingCbSize)}),
       "nonstd audio strf; | BBBB-MM | RIFF/AVI " + rest.substr(0, rest.size() - 2)},
      {"PCM with cbSize 0", FileWith({Avih(), VideoStrl(), AudioStrl(rvt::AudioStrf(8192, 6, 48000, 24))}),
       "| BBBBBMM | RIFF/AVI " + rest},
      {"formats without stream headers go by size",
       FileWith({Avih(), List("strl", {Chunk("strf", rvt::VideoStrf(176, 144, ""))}),
                 List("strl", {Chunk("strf", rvt::VideoStrf(352, 288, "", 24, rvt::Filled(6, 1)))}),
                 List("strl", {Chunk("strf", rvt::AudioStrf(1, 1, 8000, 8))}),
                 List("strl", {Chunk("strf", rvt::AudioStrf(0x55, 2, 22050, 0, rvt::Mp3CodecData()))}),
                 List("strl", {Chunk("strf", rvt::Filled(32, 0x41))})}),
       "| B-B-BMM | RIFF/AVI  hdrl movi idx1 avih strl strl strl strl strl strf.v strf.v strf.a strf.a strf"},
      {"first of several streams kept, a text stream shown",
       FileWith({Avih(), VideoStrl(), AudioStrl(), VideoStrl(rvt::VideoStrf(640, 480, "DIVX")),
                 List("strl", {Chunk("strh", rvt::StrhPayload("txts", "", {})), Chunk("strf", rvt::Filled(20, 0))})}),
       "| BBBBBMM | RIFF/AVI  hdrl movi idx1 avih strl strl strl strl strh/vids strf.v strh/auds "
       "strf.a strh/vids strf strh/txts strf"},
      {"any other stream header lights the audio one",
       FileWith({Avih(), VideoStrl(), List("strl", {Chunk("strh", rvt::StrhPayload("txts", "", {}))})}),
       "| BBBB-MM | RIFF/AVI  hdrl movi idx1 avih strl strl strh/vids strf.v strh/txts"},
      {"odd block padded inside a list: the list ends early",
       FileWith({Avih(), List("strl", {Chunk("strh", rvt::StrhPayload("vids", "XVID", kVstrh)), strn,
                                       Chunk("strf", rvt::VideoStrf(320, 240, "XVID"))}), AudioStrl()}),
       "| BB-BBMM | RIFF/AVI  hdrl movi idx1 avih strl strl strh/vids strn strh/auds strf.a"},
      {"odd block without its pad byte",
       FileWith({Avih(), List("strl", {Chunk("strh", rvt::StrhPayload("vids", "XVID", kVstrh)), Node(strn).NoPad(),
                                       Chunk("strf", rvt::VideoStrf(320, 240, "XVID"))}), AudioStrl()}),
       "| BBBBBMM | RIFF/AVI  hdrl movi idx1 avih strl strl strh/vids strn strf.v strh/auds strf.a"},
      {"odd block at the top level", rvt::Build(Riff("AVI ", {List("hdrl", Hdrl()), Chunk("JUNK", rvt::Filled(3, 0)),
       List("movi", {Chunk("00dc", rvt::Pattern(10, 1))})})).bytes,
       "noNext; | BBBBB-- | RIFF/AVI  hdrl JUNK avih strl strl strh/vids strf.v strh/auds strf.a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Open(good);  // first a good file, so that stale state would show
    Open(c.file);
    EXPECT_EQ(Summary(), c.summary);
    EXPECT_EQ(rv::ReadyToSave(), c.summary.find("BBBBBMM") != std::string::npos);
  }

  // What was read of the records in some of these.
  Open(cases[9].file);
  EXPECT_EQ(rv::Header().avih.DataLength, 10u) << "a longer avih is still read";
  EXPECT_EQ(rv::Header().vstrh.SampleSize, 6u);
  EXPECT_EQ(rv::Header().vstrh.xz1, 0u) << "bytes after a short strh belong to the next block";
  EXPECT_EQ(rv::Header().astrh.DataLength, 160000u);
  Open(cases[12].file);
  EXPECT_EQ(rv::Header().astrf.wFormatTag, 8192);
  EXPECT_EQ(rv::Header().astrf.nBlockAlign, 18);
  EXPECT_TRUE(rv::Header().astrf.codecData.empty());
  Open(cases[13].file);
  EXPECT_EQ(rv::Header().vstrf.biWidth, 352u) << "the last of the formats without a header";
  EXPECT_EQ(rv::Header().astrf.nSamplesPerSec, 22050u);
  Open(cases[14].file);
  EXPECT_EQ(rv::Header().vstrf.biWidth, 320u) << "the first stream of each kind";
  Open(cases[8].file);
  EXPECT_EQ(rv::Header().extended, 'y');
  Open(good);
  EXPECT_EQ(rv::Header().extended, 0) << "the next file clears the flag";
  EXPECT_EQ(rv::Header().avih.Width, 320u);
  Open(noRiff);
  EXPECT_EQ(rv::Header().avih.Width, 0u) << "the records of the previous file were not reset";
  rv::ClearMessages();
  EXPECT_FALSE(OpenPath(dir_.File("missing.avi")).opened);
  EXPECT_EQ(Summary(), "openFailed; | ------- |");
}

TEST_F(HeaderTest, VideoFormatNeedsABitmapCodeOrAFourcc) {
  const struct {
    std::string_view code;
    Bytes extra;
    bool read;
  } cases[] = {{"", {}, true},
               {"", rvt::Filled(1024, 7), true},  // a palette
               {std::string_view("\x03\0\0\0", 4), rvt::Filled(12, 0xFF), true},  // bit masks
               {"DIB ", {}, true},
               {"H264", {0, 0, 1, 0xB0, 1, 0}, true},
               {"a bc", {}, false},
               {" abc", {}, false},
               {std::string_view("\x06\0\0\0", 4), {}, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.code) + " extra " + std::to_string(c.extra.size()));
    Open(FileWith({Avih(), VideoStrl(rvt::VideoStrf(320, 240, c.code, 8, c.extra)), AudioStrl()}));
    EXPECT_EQ(Summary(), c.read ? "| BBBBBMM | RIFF/AVI " + std::string(kStandard)
                                : "nonstd video strf; | BB-BBMM | RIFF/AVI  hdrl movi idx1 avih "
                                  "strl strl strh/vids strf strh/auds strf.a");
    EXPECT_EQ(rv::Header().vstrf.codecData, c.read ? c.extra : Bytes{});
  }
}

TEST_F(HeaderTest, HostileSizesEndTheWalkInsteadOfWrappingRound) {
  // 8 + 0xFFFFFFF8 brings a 32-bit position back to where it was.
  for (uint32_t hostile : {0xFFFFFFF8u, 0xFFFFFFF0u, 0xFFFFFFFFu, 0x7FFFFFFFu}) {
    SCOPED_TRACE(hostile);
    Open(rvt::Build(Riff("AVI ", {List("hdrl", Hdrl()), Chunk("JUNK", rvt::Filled(8, 0)).Size(hostile),
                                  List("movi", {Chunk("00dc", rvt::Pattern(10, 1))})})).bytes);
    EXPECT_EQ(Summary(), "short JUNK; | BBBBB-- | RIFF/AVI  hdrl JUNK avih "
                         "strl strl strh/vids strf.v strh/auds strf.a");
    // Inside a list the list ends without a message of its own.
    Open(FileWith({Avih(), List("strl", {Chunk("JUNK", rvt::Filled(8, 0)).Size(hostile)}), AudioStrl()}));
    EXPECT_EQ(Summary(), "| B--BBMM | RIFF/AVI  hdrl movi idx1 avih strl strl JUNK strh/auds strf.a");
  }
}

TEST_F(HeaderTest, FilesOfFourGibibytesAreRefusedWithAMessage) {
  const std::string path = dir_.Write("huge.avi", FileWith(Hdrl()));
  const int fd = ::open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  const bool grown = ::ftruncate(fd, off_t{0x100000001}) == 0;
  ::close(fd);
  if (!grown) GTEST_SKIP() << "the file system refuses a sparse file of 4 GiB";
  EXPECT_FALSE(OpenPath(path).opened);
  EXPECT_TRUE(rv::Source().tooLarge);
  EXPECT_EQ(Summary(), "tooLarge; | ------- |");
  EXPECT_TRUE(rv::Tree().lines.empty());
}

TEST_F(HeaderTest, FileWrittenByFfmpegReadsQuietlyWithEveryLabelLit) {
  ASSERT_TRUE(rvt::FfmpegAvailable()) << "ffmpeg is needed on PATH";
  const std::string path = rvt::MakeFfmpegAvi(dir_.path());
  ASSERT_FALSE(path.empty()) << "ffmpeg could not write the sample";
  const Bytes f = rvt::ReadFile(path);
  EXPECT_TRUE(OpenPath(path).hasIdx1);
  // JUNK and vprp in the strl lists, a LIST INFO and padding JUNK are passed over quietly.
  EXPECT_EQ(Summary().substr(0, 12), "| BBBBBMM | ");
  const rv::HeaderState& h = rv::Header();
  EXPECT_EQ(h.avih.TotalNumberOfFrames, 50u);
  EXPECT_EQ(h.vstrf.biCompression, "XVID");
  EXPECT_EQ(h.astrf.wFormatTag, 0x50) << "MPEG layer 2";
  EXPECT_EQ(h.astrf.codecData.size(), 22u);
  const std::string text(f.begin(), f.end());
  EXPECT_EQ(h.moviPos, text.find("movi")) << "the movi position agrees with a plain search";
  EXPECT_EQ(rv::Blocks()[0].Size, f.size());
  const rv::BlockRecord& idx1 = rv::Blocks().at(size_t(rv::FindBlock("idx1", "")));
  EXPECT_EQ(idx1.Offset + idx1.Size, f.size());
}

TEST(HeaderRecordReaders, SignatureAndLengthAreCheckedBeforeTheFields) {
  rv::AvihRecord r;
  r.Width = 77;
  const Bytes avih = rvt::Build(Chunk("avih", rvt::AvihPayload(kAvih))).bytes;
  Bytes wrong = avih;
  wrong[0] = 'A';
  EXPECT_FALSE(rv::readAVIH(wrong, r) || rv::readAVIH(rvt::Truncated(avih, 63), r));
  EXPECT_EQ(r.Width, 77u);
  EXPECT_TRUE(rv::readAVIH(avih, r));
  EXPECT_EQ(r.TimeScale, 7u);
  rv::StrhRecord s;
  EXPECT_FALSE(rv::readSTRH(avih, s)) << "an avih is no strh";
  // Audio codec data is cut at the end of the block when cbSize promises more.
  Bytes wave = rvt::AudioStrf(0x55, 2, 44100, 0, {1, 2, 3, 4});
  wave[16] = 12;
  rv::AudioStrfRecord a;
  EXPECT_TRUE(rv::readAudioSTRF(rvt::Build(Chunk("strf", wave)).bytes, a));
  EXPECT_EQ(a.cbSize, 12);
  EXPECT_EQ(a.codecData, (Bytes{1, 2, 3, 4}));
  rv::VideoStrfRecord v;
  const Bytes strf = rvt::Build(Chunk("strf", rvt::VideoStrf(8, 8, "MJPG", 24, {9, 8, 7}))).bytes;
  EXPECT_TRUE(rv::readVideoSTRF(strf, v));
  EXPECT_EQ(v.codecData, (Bytes{9, 8, 7}));
  EXPECT_FALSE(rv::readVideoSTRF(rvt::Truncated(strf, 47), v));
}

}  // namespace
