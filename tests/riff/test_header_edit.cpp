// Editing the header records: the texts the edit panels show and the rules by which a text is
// stored back, the refreshed tree lines, reading a rejected format block as far as it goes,
// and the edited records in the built header.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "check/file_state.h"
#include "base/messages.h"
#include "base/options.h"
#include "base/questions.h"
#include "fixtures/avi_builder.h"
#include "fixtures/engine_dump.h"
#include "output/writer.h"
#include "riff/blocks.h"
#include "riff/bytes.h"
#include "riff/header.h"
#include "riff/header_edit.h"
#include "riff/source.h"

namespace {

using rv::Bytes;
using rvt::Chunk;
using rvt::List;

// Every field of a record as its panel shows it: "name=text name=text ...".
std::string Panel(const std::string& record) {
  std::string s;
  for (const rv::FieldDef& f : rv::EditableFields())
    if (record == f.record) s += std::string(s.empty() ? "" : " ") + f.name + "=" + rv::FieldText(f);
  return s;
}

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

// The chunks of a built header region, one a line, indented inside their lists, with the
// payload in hex for the chunks named in hexOf; fails when a size runs past its list.
std::string RegionLayout(const Bytes& r, const std::string& hexOf) {
  std::string out;
  std::function<void(size_t, size_t, int)> walk = [&](size_t p, size_t end, int depth) {
    for (; p + 8 <= end; ) {
      const std::string id(r.begin() + long(p), r.begin() + long(p) + 4);
      const uint32_t size = rvt::ReadLE32(r, p + 4);
      if (p + 8 + size > end) ADD_FAILURE() << id << " at " << p << " runs past its list";
      out += std::string(2 * size_t(depth), ' ') + id + " " + std::to_string(size);
      if (id == "LIST") out += " " + std::string(r.begin() + long(p) + 8, r.begin() + long(p) + 12);
      if (id != "LIST" && id != "JUNK")  // the whole payload, or its first 12 bytes
        out += " " + rv::BytesToHex(r, p + 8, hexOf.find(id) != std::string::npos ? size : 12);
      out += "\n";
      if (id == "LIST") walk(p + 12, std::min(end, p + 8 + size), depth + 1);
      p += 8 + size + (size & 1);
    }
  };
  walk(0, r.size(), 0);
  return out;
}

class HeaderEditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rv::ResetFileState();
    rv::Opt().Reset();
    rv::ClearScriptedAnswers();
    rv::ClearMessages();
    rv::Header().ResetRecords();
  }
  void TearDown() override {
    rv::CloseSource();
    rv::Header().ResetRecords();
    rv::ResetFileState();
  }
  // Writes and opens a file as the open button does; the source stays closed.
  void Open(const Bytes& bytes) {
    path_ = dir_.Write("in.avi", bytes);
    rv::InputFileName() = path_;
    ASSERT_TRUE(rv::OpenAndReadHeader(path_).opened);
  }
  rvt::TempDir dir_{"hdredit"};
  std::string path_;
};

TEST_F(HeaderEditTest, EachKindOfFieldStoresItsTextByItsRule) {
  const struct {
    const char *record, *field, *text, *shown;  // shown: nullptr when the text is refused
  } cases[] = {
      {"astrh", "Quality", "910", "00000910"},  // hex: the first eight characters
      {"astrh", "Quality", "123456789", "12345678"}, {"astrh", "Quality", "zz10", "00000010"},
      {"astrh", "Quality", "", "00000000"}, {"astrh", "Quality", "AbCdEf01", "ABCDEF01"},
      {"avih", "DataRate", "4294967295", "-1"},  // signed 32 bits
      {"avih", "DataRate", "-2147483648", "-2147483648"}, {"avih", "DataRate", "40000", "40000"},
      {"avih", "DataRate", "000000000000025", "25"}, {"avih", "DataRate", "-000000000000001", "-1"},
      {"avih", "Flags", "-1", "-1"},
      {"avih", "DataRate", "abc", nullptr}, {"avih", "DataRate", "", nullptr},
      {"avih", "DataRate", "-", nullptr}, {"avih", "DataRate", "12x", nullptr},
      {"avih", "DataRate", "4294967296", nullptr}, {"avih", "DataRate", "-2147483649", nullptr},
      {"vstrf", "biPlanes", "65537", "1"},  // 16 bits: the low ones
      {"vstrf", "biBitCount", "-1", "65535"}, {"astrf", "nBlockAlign", "70000", "4464"},
      {"vstrf", "biPlanes", "abc", nullptr}, {"vstrf", "biPlanes", "4294967296", nullptr},
      {"astrf", "cbSize", "65538", "2"}, {"astrf", "cbSize", "0000000000003", "3"},
      {"astrf", "cbSize", "abc", "0"},  // not a number counts as 0
      {"vstrh", "DeviceHandler", "ab", "ab"}, {"vstrf", "biCompression", "DIVX50", "DIVX"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.record) + "." + c.field + " '" + c.text + "'");
    const rv::FieldDef* f = rv::FindField(c.record, c.field);
    ASSERT_NE(f, nullptr);
    std::string error;
    const std::string before = rv::FieldText(*f);
    EXPECT_EQ(rv::ApplyField(*f, c.text, error), c.shown != nullptr);
    EXPECT_EQ(rv::FieldText(*f), c.shown ? c.shown : before);
    if (!c.shown) {
      EXPECT_NE(error.find(*c.text ? c.text : "'"), std::string::npos) << error;
    }
  }
  EXPECT_EQ(rv::Header().vstrh.DeviceHandler, std::string("ab\0\0", 4)) << "four bytes, zero-filled";
  rv::Header().vstrh.Flags = 0x910;
  EXPECT_EQ(rv::FieldText(*rv::FindField("vstrh", "Flags")), "00000910");
}

TEST_F(HeaderEditTest, CodecDataFollowsItsRulesAndSetsTheFormatSize) {
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
      {"vstrf", {{"CodecSpecificData", ""}}, "", 40},
      // Audio: exactly cbSize bytes, a bad or missing one as 0.
      {"astrf", {{"cbSize", "3"}, {"CodecSpecificData", "01,zz"}}, "01,00,00", 21},
      {"astrf", {{"cbSize", "2"}, {"CodecSpecificData", "0a,0B,0c,0d"}}, "0A,0B", 20},
      {"astrf", {{"cbSize", "-"}, {"CodecSpecificData", "01,02"}}, "", 18},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.codec);
    ApplyPanel(c.record, c.typed);
    EXPECT_EQ(rv::FieldText(*rv::FindField(c.record, "CodecSpecificData")), c.codec);
    EXPECT_EQ(std::string(c.record) == "vstrf" ? rv::Header().vstrf.size : a.size, c.size);
  }
  // Bytes that cbSize promises but the record lacks show as "??" and are applied as zeros.
  a.cbSize = 4;
  a.codecData = {0xAB, 0x01};
  EXPECT_EQ(rv::AudioCodecText(a), "AB,01,??,??");
  ApplyPanel("astrf", {});
  EXPECT_EQ(a.codecData, (Bytes{0xAB, 0x01, 0x00, 0x00}));
  a.cbSize = 1;
  a.codecData = {0x10, 0x20, 0x30};
  EXPECT_EQ(rv::AudioCodecText(a), "10") << "never more than cbSize bytes";
}

TEST_F(HeaderEditTest, ApplyingRefreshesTheBlockLineAndItsFieldLines) {
  Open(rvt::MakeStandardAvi().bytes);
  ApplyPanel("avih", {{"TimeBetweenFrames", "33367"}, {"Flags", "-1"}});
  rv::RefreshBlockLines(rv::FindBlock("avih", ""), "avih");
  ApplyPanel("vstrh", {{"DataType", "vidz"}, {"Flags", "910"}});
  rv::RefreshBlockLines(rv::FindBlock("strh", "vids"), "vstrh");
  ApplyPanel("vstrf", {{"CodecSpecificData", "01,0A,FF"}});
  rv::RefreshBlockLines(8, "vstrf");
  const std::string dump = rvt::HeaderDump(true);
  // The block's size is the table's, which an edit does not change.
  for (const char* line : {"    'avih' 64 @24\n      TimeBetweenFrames = 33367\n",
                           "      Flags = FFFFFFFF(h)\n", "      'strh' 64 'vidz' @100\n",
                           "        Flags = 00000910(h)\n", "      'strf' 48 @164 v\n",
                           "        biClrImportant = 0\n        CodecSpecificData = 01,0A,FF\n"})
    EXPECT_NE(dump.find(line), std::string::npos) << line << dump;
  EXPECT_EQ(dump.find("TimeBetweenFrames = 40000"), std::string::npos) << "the old line stays";
}

TEST_F(HeaderEditTest, ARejectedFormatIsReadAsFarAsItGoesAndBuildsAConsistentHeader) {
  // A bitmap header whose code is neither a bitmap code nor a FOURCC, and a 16-byte wave
  // format without cbSize: both fail the format checks.
  Open(rvt::Build(rvt::Riff("AVI ", {
      List("hdrl", {Chunk("avih", rvt::AvihPayload({})),
                    List("strl", {Chunk("strh", rvt::StrhPayload("vids", "", {})),
                                  Chunk("strf", rvt::VideoStrf(320, 240, "a bc"))}),
                    List("strl", {Chunk("strh", rvt::StrhPayload("auds", "", {})),
                                  Chunk("strf", rvt::AudioStrf(1, 2, 44100, 16, {}, false))})}),
      List("movi", {Chunk("00db", rvt::Pattern(100, 1))})})).bytes);
  ASSERT_FALSE(rv::IFpresent("vstrf") || rv::IFpresent("astrf"));
  const size_t blocks = rv::Blocks().size();
  rv::Header().vstrf.codecData = {1, 2, 3, 4, 5};
  rv::Header().vstrf.biClrUsed = 99;
  rv::Header().astrf.cbSize = 12;
  rv::Header().astrf.codecData = rvt::Mp3CodecData();
  ASSERT_TRUE(rv::OpenSource(path_));
  ASSERT_EQ(rv::Blocks()[7].Name + rv::Blocks()[9].Name, "strfstrf");
  EXPECT_TRUE(rv::MIread(7, 'v') && rv::MIread(9, 'a'));
  rv::CloseSource();
  EXPECT_EQ(Panel("vstrf"), "signature=strf biSize=40 biWidth=320 biHeight=240 biPlanes=1 biBitCount=24 "
                            "biCompression=a bc biSizeImage=230400 biXPelsPerMeter=0 "
                            "biYPelsPerMeter=0 biClrUsed=0 biClrImportant=0 "
                            "CodecSpecificData=00,00,00,00");
  EXPECT_EQ(Panel("astrf"), "signature=strf wFormatTag=1 nChannels=2 nSamplesPerSec=44100 "
                            "nAvgBytesPerSec=176400 nBlockAlign=4 wBitsPerSample=16 cbSize=0 "
                            "CodecSpecificData=");
  EXPECT_EQ(rv::Header().vstrf.size, 44u);
  EXPECT_EQ(rv::Header().astrf.size, 18u);
  EXPECT_NE(rvt::HeaderDump().find("labels BBBBBM-\n"), std::string::npos);
  EXPECT_EQ(rv::Blocks().size(), blocks);

  // The header built from these records, after a few edits: every list's size covers exactly
  // what it holds, and the edits are in it.
  ApplyPanel("avih", {{"TimeBetweenFrames", "33367"}});
  ApplyPanel("vstrh", {{"DeviceHandler", "DIVX"}, {"Flags", "00000910"}});
  ApplyPanel("vstrf", {{"CodecSpecificData", "01,0A,FF"}});
  uint32_t moviList = 0;
  const std::string layout = RegionLayout(rv::BuildHeaderRegion(true, true, moviList), "strf");
  EXPECT_EQ(layout,
            "LIST 298 hdrl\n  avih 56 57,82,00,00,00,00,00,00,00,00,00,00\n  LIST 120 strl\n"
            "    strh 56 76,69,64,73,44,49,56,58,10,09,00,00\n"
            "    strf 43 28,00,00,00,40,01,00,00,F0,00,00,00,01,00,18,00,61,20,62,63,00,84,03,00,"
            "00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,01,0A,FF\n"
            "  LIST 94 strl\n    strh 56 61,75,64,73,00,00,00,00,00,00,00,00\n"
            "    strf 18 01,00,02,00,44,AC,00,00,10,B1,02,00,04,00,10,00,00,00\n"
            "JUNK 1710\n");
}

}  // namespace
