// Opening a file and reading its header: the block table, the tree lines, the header records,
// the size and structure messages and the seven block labels; and editing the records: the
// rules by which a text is stored back and the header built from them.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "fixtures/engine_dump.h"
#include "fixtures/engine_test.h"
#include "output/writer.h"
#include "riff/blocks.h"
#include "riff/header_edit.h"

namespace {

using rv::Bytes;
using rvt::Chunk;
using rvt::List;
using rvt::Node;
using rvt::Riff;

// Distinct values in every field, so that a field read from the wrong place shows.
// clang-format off
const rvt::AvihFields kAvih{.maxBytesPerSec = 123456, .paddingGranularity = 512,
                            .totalFrames = 250, .initialFrames = 3, .suggestedBufferSize = 65536,
                            .reserved = {7, 8, 9, 10}};
const rvt::StrhFields kVstrh{.flags = 0x00010002, .priority = 0x00090001, .initialFrames = 4,
                             .start = 5, .length = 250, .suggestedBufferSize = 60000,
                             .quality = 10000, .sampleSize = 6, .left = 1, .top = 2, .right = 320,
                             .bottom = 240};
// clang-format on
const rvt::StrhFields kAstrh{.rate = 16000, .length = 160000, .sampleSize = 1};

Node Avih() { return Chunk("avih", rvt::AvihPayload(kAvih)); }
Node Vstrh() { return Chunk("strh", rvt::StrhPayload("vids", "XVID", kVstrh)); }
Node VideoStrl(Bytes strf = rvt::VideoStrf(320, 240, "XVID")) {
  return List("strl", {Vstrh(), Chunk("strf", strf)});
}
Node AudioStrl(Bytes strf = rvt::AudioStrf(0x55, 2, 44100, 0, rvt::Mp3CodecData(), true, 16000,
                                           1)) {
  return List("strl", {Chunk("strh", rvt::StrhPayload("auds", "", kAstrh)), Chunk("strf", strf)});
}
std::vector<Node> Hdrl() { return {Avih(), VideoStrl(), AudioStrl()}; }

// A small file around the given hdrl children: movi with two chunks, then idx1.
Bytes FileWith(std::vector<Node> hdrl, bool withIdx1 = true) {
  std::vector<Node> top{
      List("hdrl", std::move(hdrl)),
      List("movi", {Chunk("00dc", rvt::Pattern(100, 1)), Chunk("01wb", rvt::Pattern(50, 2))})};
  if (withIdx1)
    top.push_back(Chunk("idx1", rvt::Idx1({{"00dc", 0x10, 4, 100}, {"01wb", 0x10, 112, 50}})));
  return rvt::Build(Riff("AVI ", std::move(top))).bytes;
}

// The messages in full, a line each; the labels; the block table in its order (a list by its
// type, a typed chunk with '/', a read format with its kind).
std::string Summary() {
  std::string s;
  for (const std::string& m : rv::MessageLines()) s += m + "\n";
  for (int i = 0; i < rv::kLabelCount; ++i) s += "-BM"[int(rv::GetLabel(i))];
  s += " |";
  for (const rv::BlockRecord& r : rv::Blocks()) {
    s += ' ' + (r.Name == "LIST" ? r.TypeTag : r.Name + (r.TypeTag.empty() ? "" : "/" + r.TypeTag));
    if (r.Kind) s += std::string(".") + r.Kind;
  }
  return s;
}
const std::string kSmaller = "• размер файла меньше значения, указанного в заголовке\n";
const std::string kExtended =
    "• есть подозрение, что это Extended AVI format. будет предпринята попытка переделать его в "
    "стандартный вид\n";
const std::string kLarger = "• размер файла больше значения, указанного в заголовке\n";
const std::string kNoNext =
    "• ожидался ID следующего блока и не нашёлся. вероятно нарушение в структуре файла\n";
std::string Nonstd(const char* block) {
  return "• не стандартный размер блока " + std::string(block) + "\n";
}
std::string Short(const char* block) {
  return "• размер блока " + std::string(block) + " меньше  заявленного\n";
}

using HeaderTest = rvt::EngineTest;

const std::string kStandard = " hdrl movi idx1 avih strl strl strh/vids strf.v strh/auds strf.a";

TEST_F(HeaderTest, WellFormedFileGivesTheTableTreeFieldLinesAndLabels) {
  const rv::OpenResult res = Open(FileWith(Hdrl()));
  EXPECT_TRUE(res.opened && res.hasIdx1);
  EXPECT_EQ(rvt::HeaderDump(true),
            "labels BBBBBMM\n'RIFF' 544 'AVI ' @0\n  'LIST' 314 'hdrl' @12\n    'avih' 64 @24\n"
            "      = 40000 123456 512 00000910(h) 250 3 2 65536 320 240 7 8 9 10\n"
            "    'LIST' 124 'strl' @88\n      'strh' 64 'vids' @100\n"
            "        = vids XVID 00010002(h) 589825 4 1 25 5 250 60000 00002710(h) 6 "
            "00020001(h) 00F00140(h)\n"
            "      'strf' 48 @164 v\n        = 40 320 240 1 24 XVID 230400 0 0 0 0\n"
            "    'LIST' 114 'strl' @212\n      'strh' 64 'auds' @224\n"
            "        = auds .... 00000000(h) 0 0 1 16000 0 160000 0 FFFFFFFF(h) 1 00000000(h) "
            "00000000(h)\n"
            "      'strf' 38 @288 a\n"
            "        = 85 2 44100 16000 1 0 12 01,00,02,00,00,00,A1,01,01,00,71,05\n"
            "  'LIST' 178 'movi' @326\n  'idx1' 40 @504\n");
  EXPECT_TRUE(rv::IFpresent("astrf") && !rv::IFpresent("movi") && rv::ReadyToSave());
}

TEST_F(HeaderTest, DamagedAndUnusualFilesGiveTheirMessagesLabelsAndTable) {
  const Bytes good = FileWith(Hdrl());
  const std::string rest = kStandard.substr(15), noIdx1 = " hdrl movi" + rest,
                    noAstrf = kStandard.substr(0, kStandard.size() - 2);
  Bytes noRiff = good, longStrh = rvt::StrhPayload("auds", "", kAstrh),
        shortStrh = rvt::StrhPayload("vids", "XVID", kVstrh),
        longList =
            rvt::Build(
                Riff("AVI ", {List("hdrl", Hdrl()),
                              List("movi", {Chunk("00dc", rvt::Pattern(10, 1))}).Size(100000)}))
                .bytes;
  noRiff[3] = 'X';
  rvt::OverwriteLE32(longList, 4, 100000);
  shortStrh.resize(48);  // no frame rectangle
  rvt::AppendBytes(longStrh, rvt::Filled(4, 0xAB));
  const Node strn = Chunk("strn", rvt::Text("abcde")),
             vstrf = Chunk("strf", rvt::VideoStrf(320, 240, "XVID")),
             movi = List("movi", {Chunk("00dc", rvt::Pattern(10, 1))});
  const Node hostile = Chunk("JUNK", rvt::Filled(8, 0)).Size(0xFFFFFFF8u);  // 8 + size wraps round
  const auto video = [](std::string_view code, Bytes extra) {
    return FileWith({Avih(), VideoStrl(rvt::VideoStrf(320, 240, code, 8, extra)), AudioStrl()});
  };
  const auto audio = [](Bytes strf) { return FileWith({Avih(), VideoStrl(), AudioStrl(strf)}); };
  const auto after = [&](const Bytes& more) { return rvt::Concat({good, more}); };
  const auto top = [&](Node middle) {
    return rvt::Build(Riff("AVI ", {List("hdrl", Hdrl()), middle, movi})).bytes;
  };
  const std::string hdrl =
                        "BBBBB-- | RIFF/AVI  hdrl JUNK avih strl strl strh/vids strf.v strh/auds "
                        "strf.a",
                    all = "BBBBBMM | RIFF/AVI " + kStandard;
  const Bytes text = rvt::StrhPayload("txts", "", {}), mp3 = rvt::Mp3CodecData();
  // clang-format off
  const struct { const char* what; Bytes file; std::string summary; } cases[] = {
      {"a chunk after the RIFF joins the root", after(rvt::Build(Chunk("JUNK", Bytes(16))).bytes),
       kLarger + "BBBBBMM | RIFF/AVI  hdrl movi idx1 JUNK" + rest},
      {"no RIFF signature", noRiff, "• отсутствует сигнатура RIFF\n------- |"},
      {"list size beyond the file", longList,
       kSmaller + Short("movi") + "BBBBBM- | RIFF/AVI " + noIdx1},
      {"indx: extended format, said last", rvt::Truncated(FileWith({Avih(), List("strl", {Vstrh(),
       vstrf, Chunk("indx", rvt::Filled(40, 0))}), AudioStrl()}, false), 400), kSmaller +
       Short("movi") + "• есть подозрение, что это Extended AVI format. будет предпринята попытка "
       "переделать его в стандартный вид\nBBBBBM- | RIFF/AVI  hdrl movi avih strl strl strh/vids "
       "strf.v indx strh/auds strf.a"},
      {"non-standard header sizes", FileWith({Chunk("avih", rvt::Concat({rvt::AvihPayload(kAvih),
       rvt::Filled(8, 0)})), List("strl", {Chunk("strh", shortStrh), vstrf}),
       List("strl", {Chunk("strh", longStrh), AudioStrl().children[1]})}),
       Nonstd("avih") + Nonstd("video strh") + Nonstd("audio strh") + all},
      {"a 16-byte wave format", audio(rvt::AudioStrf(1, 2, 48000, 16, {}, false)),
       Nonstd("audio strf") + "BBBB-MM | RIFF/AVI " + noAstrf},
      {"a code neither bitmap nor FOURCC", video("a bc", {}), Nonstd("video strf") +
       "BB-BBMM | RIFF/AVI  hdrl movi idx1 avih strl strl strh/vids strf strh/auds strf.a"},
      {"formats without stream headers go by size",
       FileWith({Avih(), List("strl", {Chunk("strf", rvt::VideoStrf(176, 144, ""))}),
                 List("strl", {Chunk("strf", rvt::VideoStrf(352, 288, "", 24, rvt::Filled(6, 1)))}),
                 List("strl", {Chunk("strf", rvt::AudioStrf(1, 1, 8000, 8))}),
                 List("strl", {Chunk("strf", rvt::AudioStrf(0x55, 2, 22050, 0, mp3))}),
                 List("strl", {Chunk("strf", rvt::Filled(32, 0x41))})}),
       "B-B-BMM | RIFF/AVI  hdrl movi idx1 avih strl strl strl strl strl strf.v strf.v strf.a "
       "strf.a strf"},
      {"first of several streams kept, a text stream shown",
       FileWith({Avih(), VideoStrl(), AudioStrl(), VideoStrl(rvt::VideoStrf(640, 480, "DIVX")),
                 List("strl", {Chunk("strh", text), Chunk("strf", Bytes(20))})}),
       "BBBBBMM | RIFF/AVI  hdrl movi idx1 avih strl strl strl strl strh/vids strf.v strh/auds "
       "strf.a strh/vids strf strh/txts strf"},
      {"odd block padded inside a list: the list ends early",
       FileWith({Avih(), List("strl", {Vstrh(), strn, vstrf}), AudioStrl()}),
       "BB-BBMM | RIFF/AVI  hdrl movi idx1 avih strl strl strh/vids strn strh/auds strf.a"},
      {"odd block without its pad byte",
       FileWith({Avih(), List("strl", {Vstrh(), Node(strn).NoPad(), vstrf}), AudioStrl()}),
       "BBBBBMM | RIFF/AVI  hdrl movi idx1 avih strl strl strh/vids strn strf.v strh/auds strf.a"},
      {"a hostile size at the top level ends the walk", top(hostile), Short("JUNK") + hdrl},
      {"a hostile size inside a list ends the list quietly",
       FileWith({Avih(), List("strl", {hostile}), AudioStrl()}),
       "B--BBMM | RIFF/AVI  hdrl movi idx1 avih strl strl JUNK strh/auds strf.a"},
      {"OpenDML: dmlh, and the ix## of each part that the super indexes name",
       rvt::MakeOpenDmlAvi({.nVideo = 3, .nAudio = 3}, 600).bytes, kExtended + "BBBBBMM | "
       "RIFF/AVI  hdrl movi idx1 RIFF/AVIX movi RIFF/AVIX movi RIFF/AVIX movi RIFF/AVIX movi avih "
       "strl strl odml strh/vids strf.v indx strh/auds strf.a indx dmlh ix00 ix00 ix00 ix00 ix00 "
       "ix01 ix01 ix01 ix01 ix01"},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Open(good);  // first a good file, so that stale state would show
    Open(c.file);
    EXPECT_EQ(Summary(), c.summary);
    EXPECT_EQ(rv::ReadyToSave(), c.summary.find("BBBBBMM") != std::string::npos);
  }
  // What was read of the records in some of these.
  const auto read = [&](size_t k) -> const rv::HeaderState& {
    Open(cases[k].file);
    return rv::Header();
  };
  EXPECT_EQ(read(4).vstrh.xz1, 0u) << "bytes after a short strh belong to the next block";
  rv::ClearMessages();
  EXPECT_FALSE(OpenPath(dir_.File("missing.avi")).opened);
  EXPECT_EQ(Summary(), "• ошибка открытия файла\n------- |");
}

// Audio codec data is cut at the end of the block when cbSize promises more.
TEST(HeaderRecordReaders, CodecDataStopsAtTheBlockEnd) {
  Bytes wave = rvt::AudioStrf(0x55, 2, 44100, 0, {1, 2, 3, 4});
  wave[16] = 12;
  rv::AudioStrfRecord a;
  EXPECT_TRUE(rv::readAudioSTRF(rvt::Build(Chunk("strf", wave)).bytes, a));
  EXPECT_EQ(a.codecData, (Bytes{1, 2, 3, 4}));
}

// ---- editing -------------------------------------------------------------------------------

// What a panel does on apply: every field in panel order, the shown text unless a new one is
// typed, then the size fields of a format record.
void ApplyPanel(const std::string& record, const std::map<std::string, std::string>& typed) {
  for (const rv::FieldDef& f : rv::EditableFields()) {
    if (record != f.record) continue;
    const auto it = typed.find(f.name);
    std::string error;
    EXPECT_TRUE(rv::ApplyField(f, it != typed.end() ? it->second : rv::FieldText(f), error))
        << f.name << " " << error;
  }
  rv::FinishFormatEdit(record);
}
std::string FieldText(const char* record, const char* name) {
  return rv::FieldText(*rv::FindField(record, name));
}

TEST_F(HeaderTest, EachKindOfFieldStoresItsTextByItsRule) {
  // shown: nullptr when the text is refused
  const struct {
    const char *record, *field, *text, *shown;
  } cases[] = {
      // clang-format off
      // Hex: the first eight characters, upper case, a non-hex digit as 0.
      {"astrh", "Quality", "123456789", "12345678"}, {"astrh", "Quality", "zz10", "00000010"},
      {"astrh", "Quality", "AbCdEf01", "ABCDEF01"},
      // Signed 32 bits: an unsigned value wraps; leading zeros; anything else is refused.
      {"avih", "DataRate", "4294967295", "-1"}, {"avih", "DataRate", "-000000000000001", "-1"},
      {"avih", "DataRate", "-2147483648", "-2147483648"}, {"avih", "DataRate", "", nullptr},
      {"avih", "DataRate", "4294967296", nullptr}, {"avih", "DataRate", "-2147483649", nullptr},
      // 16 bits: the low ones of a 32-bit value.
      {"vstrf", "biPlanes", "65537", "1"}, {"vstrf", "biBitCount", "-1", "65535"},
      {"vstrf", "biPlanes", "4294967296", nullptr}, {"astrf", "cbSize", "abc", "0"},
      // FOURCCs: cut to four characters, zero-filled.
      {"vstrh", "DeviceHandler", "ab", "ab"}, {"vstrf", "biCompression", "DIVX50", "DIVX"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.record) + "." + c.field + " '" + c.text + "'");
    const std::string before = FieldText(c.record, c.field);
    std::string error;
    EXPECT_EQ(rv::ApplyField(*rv::FindField(c.record, c.field), c.text, error), c.shown != nullptr);
    EXPECT_EQ(FieldText(c.record, c.field), c.shown ? c.shown : before);
  }
  EXPECT_EQ(rv::Header().vstrh.DeviceHandler, std::string("ab\0\0", 4)) << "zero-filled";
}

TEST_F(HeaderTest, CodecDataFollowsItsRulesAndSetsTheFormatSize) {
  rv::AudioStrfRecord& a = rv::Header().astrf;
  const struct {
    const char* record;
    std::map<std::string, std::string> typed;
    const char* codec;
    uint32_t size;
  } cases[] = {
      // Video: the accepted bytes, whatever else is typed between them.
      {"vstrf", {{"CodecSpecificData", "01, 2, zz, 0a , , FF"}}, "01,0A,FF", 43},
      {"vstrf", {{"CodecSpecificData", "  00f,100,0G,A,a0 "}}, "0F,A0", 42},
      // Audio: exactly cbSize bytes, a bad or missing one as 0.
      {"astrf", {{"cbSize", "3"}, {"CodecSpecificData", "01,zz"}}, "01,00,00", 21},
      {"astrf", {{"cbSize", "2"}, {"CodecSpecificData", "0a,0B,0c,0d"}}, "0A,0B", 20},
      {"astrf", {{"cbSize", "-"}, {"CodecSpecificData", "01,02"}}, "", 18},
  };
  for (const auto& c : cases) {
    ApplyPanel(c.record, c.typed);
    EXPECT_EQ(FieldText(c.record, "CodecSpecificData"), c.codec);
    EXPECT_EQ(std::string(c.record) == "vstrf" ? rv::Header().vstrf.size : a.size, c.size);
  }
  // Bytes that cbSize promises but the record lacks show as "??" and are applied as zeros.
  a.cbSize = 4;
  a.codecData = {0xAB, 0x01};
  EXPECT_EQ(rv::AudioCodecText(a), "AB,01,??,??");
  ApplyPanel("astrf", {});
  EXPECT_EQ(a.codecData, (Bytes{0xAB, 0x01, 0x00, 0x00}));
}

TEST_F(HeaderTest, ARejectedFormatIsReadAsFarAsItGoesAndEditsBuildAConsistentHeader) {
  // A bitmap header whose code is neither a bitmap code nor a FOURCC, and a 16-byte wave
  // format without cbSize: both fail the format checks.
  Open(FileWith({Chunk("avih", rvt::AvihPayload({})),
                 List("strl", {Chunk("strh", rvt::StrhPayload("vids", "", {})),
                               Chunk("strf", rvt::VideoStrf(320, 240, "a bc"))}),
                 List("strl", {Chunk("strh", rvt::StrhPayload("auds", "", {})),
                               Chunk("strf", rvt::AudioStrf(1, 2, 44100, 16, {}, false))})}));
  rv::Header().vstrf.codecData = {1, 2, 3, 4, 5};
  rv::Header().astrf.codecData = rvt::Mp3CodecData();
  ASSERT_TRUE(rv::OpenSource(rv::InputFileName()));
  const int32_t vstrf = rv::FindBlock("strf", ""), astrf = vstrf + 2;
  EXPECT_TRUE(rv::MIread(vstrf, 'v') && rv::MIread(astrf, 'a'));
  rv::CloseSource();
  EXPECT_NE(rvt::HeaderDump().find("labels BBBBBMM\n"), std::string::npos) << "formats read";
  // The header built from the records after edits, read back: every list holds exactly its
  // blocks, the rejected formats are read ones now, the edits are in it, movi starts at 2048.
  ApplyPanel("avih", {{"TimeBetweenFrames", "33367"}, {"Flags", "-1"}});
  ApplyPanel("vstrh", {{"DeviceHandler", "DIVX"}});
  ApplyPanel("vstrf", {{"biCompression", "DIVX"}, {"CodecSpecificData", "01,0A,FF"}});
  uint32_t moviList = 0;
  const Bytes region = rv::BuildHeaderRegion(true, true, moviList);
  Bytes built = rvt::Concat({rvt::Text("RIFF"), Bytes(4, 0), rvt::Text("AVI "), region,
                             rvt::Build(List("movi", {})).bytes});
  rvt::OverwriteLE32(built, 4, uint32_t(built.size() - 8));
  Open(built);
  EXPECT_EQ(
      rvt::HeaderDump(true),
      "labels BBBBBM-\n'RIFF' 2048 'AVI ' @0\n  'LIST' 306 'hdrl' @12\n    'avih' 64 @24\n"
      "      = 33367 0 0 FFFFFFFF(h) 0 0 2 0 320 240 0 0 0 0\n    'LIST' 128 'strl' @88\n"
      "      'strh' 64 'vids' @100\n        = vids DIVX 00000000(h) 0 0 1 25 0 0 0 FFFFFFFF(h) 0 "
      "00000000(h) 00000000(h)\n      'strf' 51 @164 v\n"
      "        = 40 320 240 1 24 DIVX 230400 0 0 0 0 01,0A,FF\n    'LIST' 102 'strl' @216\n"
      "      'strh' 64 'auds' @228\n        = auds .... 00000000(h) 0 0 1 25 0 0 0 FFFFFFFF(h) 0 "
      "00000000(h) 00000000(h)\n      'strf' 26 @292 a\n        = 1 2 44100 176400 4 16 0\n"
      "  'JUNK' 1718 @318\n  'LIST' 12 'movi' @2036\n");
}

}  // namespace
