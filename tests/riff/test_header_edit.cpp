// Editing the header records: the texts the edit panels show and the rules by which a text is
// stored back (signed decimal, hex, 16-bit, four characters, the two codec-data rules), the
// refreshed tree lines, reading a rejected format block as far as it goes, and the edited
// records in the built header.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "check/file_state.h"
#include "base/messages.h"
#include "base/options.h"
#include "base/questions.h"
#include "fixtures/avi_builder.h"
#include "output/writer.h"
#include "riff/blocks.h"
#include "riff/header.h"
#include "riff/header_edit.h"
#include "riff/source.h"

namespace {

using rv::Bytes;
using rvt::Chunk;
using rvt::Node;

const rv::FieldDef& F(const std::string& record, const std::string& name) {
  const rv::FieldDef* f = rv::FindField(record, name);
  if (!f) throw std::runtime_error("no field " + record + "." + name);
  return *f;
}

// Stores a text, expecting success.
void Set(const std::string& record, const std::string& name, const std::string& text) {
  std::string error;
  EXPECT_TRUE(rv::ApplyField(F(record, name), text, error)) << record << "." << name << " " << error;
}

// What a panel does on apply: every field of the record in panel order, the shown text unless
// a new one is given, then the size fields of a format record.
void ApplyPanel(const std::string& record, const std::map<std::string, std::string>& typed) {
  for (const rv::FieldDef& f : rv::EditableFields()) {
    if (record != f.record) continue;
    auto it = typed.find(f.name);
    Set(record, f.name, it != typed.end() ? it->second : rv::FieldText(f));
  }
  rv::FinishFormatEdit(record);
}

// Texts of the lines directly under a tree line.
std::vector<std::string> ChildTexts(int32_t line) {
  std::vector<std::string> out;
  for (const rv::TreeLine& l : rv::Tree().lines)
    if (l.parent == line) out.push_back(l.text);
  return out;
}

bool Contains(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
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

TEST_F(HeaderEditTest, HexFieldsShowEightDigitsAndReadTheFirstEightCharacters) {
  const rv::FieldDef& flags = F("vstrh", "Flags");
  rv::Header().vstrh.Flags = 0x910;
  EXPECT_EQ(rv::FieldText(flags), "00000910");
  ApplyPanel("vstrh", {});
  EXPECT_EQ(rv::Header().vstrh.Flags, 0x910u);

  const std::pair<const char*, uint32_t> cases[] = {
      {"910", 0x910},          {"ffffffff", 0xFFFFFFFF}, {"123456789", 0x12345678},
      {"zz10", 0x10},          {"", 0},                  {"AbCdEf01", 0xABCDEF01}};
  for (auto [text, want] : cases) {
    Set("astrh", "Quality", text);
    EXPECT_EQ(rv::Header().astrh.Quality, want) << text;
  }
  rv::Header().astrh.xz2 = 0xABCDEF01;
  EXPECT_EQ(rv::FieldText(F("astrh", "xz2")), "ABCDEF01");
}

TEST_F(HeaderEditTest, SignedFieldsShowTheSignedPatternAndStoreItBack) {
  rv::AvihRecord& a = rv::Header().avih;
  a.TimeBetweenFrames = 4294967295u;
  const rv::FieldDef& tbf = F("avih", "TimeBetweenFrames");
  EXPECT_EQ(rv::FieldText(tbf), "-1");
  ApplyPanel("avih", {});
  EXPECT_EQ(a.TimeBetweenFrames, 4294967295u);
  Set("avih", "TimeBetweenFrames", "4294967295");
  EXPECT_EQ(a.TimeBetweenFrames, 4294967295u);
  a.DataRate = 0x80000000u;
  EXPECT_EQ(rv::FieldText(F("avih", "DataRate")), "-2147483648");
  Set("avih", "DataRate", "-2147483648");
  EXPECT_EQ(a.DataRate, 0x80000000u);
  Set("avih", "DataRate", "40000");
  EXPECT_EQ(a.DataRate, 40000u);
  // Leading zeros make no other number.
  Set("avih", "DataRate", "000000000000025");
  EXPECT_EQ(a.DataRate, 25u);
  Set("avih", "DataRate", "-000000000000001");
  EXPECT_EQ(a.DataRate, 4294967295u);
}

TEST_F(HeaderEditTest, ABadNumberFailsNamingTheValueAndLeavesTheField) {
  rv::Header().avih.TimeBetweenFrames = 40000;
  rv::Header().vstrf.biPlanes = 1;
  for (const char* bad : {"abc", "", "-", "12x", "4294967296", "-2147483649"}) {
    std::string error;
    EXPECT_FALSE(rv::ApplyField(F("avih", "TimeBetweenFrames"), bad, error)) << "'" << bad << "'";
    if (*bad) {
      EXPECT_NE(error.find(bad), std::string::npos) << error;
    }
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(rv::Header().avih.TimeBetweenFrames, 40000u) << bad;
    error.clear();
    EXPECT_FALSE(rv::ApplyField(F("vstrf", "biPlanes"), bad, error)) << "'" << bad << "'";
    EXPECT_EQ(rv::Header().vstrf.biPlanes, 1) << bad;
  }
}

TEST_F(HeaderEditTest, SixteenBitFieldsStoreTheLowBitsAndCharacterFieldsFourBytes) {
  Set("vstrf", "biPlanes", "65537");
  EXPECT_EQ(rv::Header().vstrf.biPlanes, 1);
  Set("vstrf", "biBitCount", "-1");
  EXPECT_EQ(rv::Header().vstrf.biBitCount, 0xFFFF);
  EXPECT_EQ(rv::FieldText(F("vstrf", "biBitCount")), "65535");
  Set("astrf", "nBlockAlign", "70000");
  EXPECT_EQ(rv::Header().astrf.nBlockAlign, 70000 & 0xFFFF);

  Set("vstrh", "DeviceHandler", "ab");
  EXPECT_EQ(rv::Header().vstrh.DeviceHandler, std::string("ab\0\0", 4));
  EXPECT_EQ(rv::FieldText(F("vstrh", "DeviceHandler")), "ab");
  Set("vstrf", "biCompression", "DIVX50");
  EXPECT_EQ(rv::Header().vstrf.biCompression, "DIVX");
  Set("avih", "signature", "");
  EXPECT_EQ(rv::Header().avih.signature, std::string(4, '\0'));
}

TEST_F(HeaderEditTest, VideoCodecDataTakesTheAcceptedBytesAndSetsTheSize) {
  rv::Header().vstrf.codecData = {1, 2, 3, 4, 5, 6};
  ApplyPanel("vstrf", {{"CodecSpecificData", "01, 2, zz, 0a , , FF"}});
  EXPECT_EQ(rv::Header().vstrf.codecData, (Bytes{0x01, 0x0A, 0xFF}));
  EXPECT_EQ(rv::Header().vstrf.size, 43u);
  EXPECT_EQ(rv::FieldText(F("vstrf", "CodecSpecificData")), "01,0A,FF");

  ApplyPanel("vstrf", {{"CodecSpecificData", "  00f,100,0G,A,a0 "}});
  EXPECT_EQ(rv::Header().vstrf.codecData, (Bytes{0x0F, 0xA0}));
  EXPECT_EQ(rv::Header().vstrf.size, 42u);

  ApplyPanel("vstrf", {{"CodecSpecificData", ""}});
  EXPECT_TRUE(rv::Header().vstrf.codecData.empty());
  EXPECT_EQ(rv::Header().vstrf.size, 40u);
}

TEST_F(HeaderEditTest, AudioCodecDataTakesCbSizeBytesAndSetsTheSize) {
  rv::AudioStrfRecord& a = rv::Header().astrf;
  ApplyPanel("astrf", {{"cbSize", "3"}, {"CodecSpecificData", "01,zz"}});
  EXPECT_EQ(a.cbSize, 3);
  EXPECT_EQ(a.codecData, (Bytes{0x01, 0x00, 0x00}));
  EXPECT_EQ(a.size, 21u);

  ApplyPanel("astrf", {{"cbSize", "2"}, {"CodecSpecificData", "0a,0B,0c,0d"}});
  EXPECT_EQ(a.codecData, (Bytes{0x0A, 0x0B}));
  EXPECT_EQ(a.size, 20u);

  for (const char* none : {"-", "", "abc"}) {
    a.cbSize = 12;
    a.codecData = rvt::Mp3CodecData();
    ApplyPanel("astrf", {{"cbSize", none}, {"CodecSpecificData", "01,02"}});
    EXPECT_EQ(a.cbSize, 0) << "'" << none << "'";
    EXPECT_TRUE(a.codecData.empty()) << "'" << none << "'";
    EXPECT_EQ(a.size, 18u) << "'" << none << "'";
  }
  Set("astrf", "cbSize", "65538");
  EXPECT_EQ(a.cbSize, 2);
  Set("astrf", "cbSize", "0000000000003");
  EXPECT_EQ(a.cbSize, 3);
}

TEST_F(HeaderEditTest, MissingAudioCodecBytesShowAsQuestionMarksAndApplyAsZero) {
  rv::AudioStrfRecord& a = rv::Header().astrf;
  a.cbSize = 4;
  a.codecData = {0xAB, 0x01};
  EXPECT_EQ(rv::AudioCodecText(a), "AB,01,??,??");
  EXPECT_EQ(rv::FieldText(F("astrf", "CodecSpecificData")), "AB,01,??,??");
  ApplyPanel("astrf", {});
  EXPECT_EQ(a.codecData, (Bytes{0xAB, 0x01, 0x00, 0x00}));
  EXPECT_EQ(a.size, 22u);

  a.cbSize = 2;
  a.codecData.clear();
  EXPECT_EQ(rv::FieldText(F("astrf", "CodecSpecificData")), "??,??");
  // Never more than cbSize bytes are shown.
  a.cbSize = 1;
  a.codecData = {0x10, 0x20, 0x30};
  EXPECT_EQ(rv::AudioCodecText(a), "10");
  a.cbSize = 0;
  EXPECT_EQ(rv::AudioCodecText(a), "");
}

TEST_F(HeaderEditTest, ApplyingRefreshesTheBlockLineAndItsFieldLines) {
  const rvt::StandardAvi sa = rvt::MakeStandardAvi();
  Open(sa.bytes);
  const int32_t avih = rv::FindBlock("avih", "");
  const int32_t vstrh = rv::FindBlock("strh", "vids");
  const int32_t vstrf = [] {
    for (size_t i = 0; i < rv::Blocks().size(); ++i)
      if (rv::Blocks()[i].Name == "strf" && rv::Blocks()[i].Kind == 'v') return int32_t(i);
    return int32_t(-1);
  }();
  ASSERT_GE(avih, 0);
  ASSERT_GE(vstrh, 0);
  ASSERT_GE(vstrf, 0);

  ApplyPanel("avih", {{"TimeBetweenFrames", "33367"}, {"Flags", "-1"}});
  rv::RefreshBlockLines(avih, "avih");
  const int32_t an = rv::Blocks()[size_t(avih)].Node;
  EXPECT_EQ(rv::Tree().lines[size_t(an)].text, "'avih' 64");
  std::vector<std::string> lines = ChildTexts(an);
  EXPECT_EQ(lines.size(), 14u);
  EXPECT_TRUE(Contains(lines, "TimeBetweenFrames = 33367"));
  EXPECT_TRUE(Contains(lines, "Flags = FFFFFFFF(h)"));
  EXPECT_FALSE(Contains(lines, "TimeBetweenFrames = 40000"));

  ApplyPanel("vstrh", {{"DataType", "vidz"}, {"Flags", "910"}});
  rv::RefreshBlockLines(vstrh, "vstrh");
  const int32_t sn = rv::Blocks()[size_t(vstrh)].Node;
  EXPECT_EQ(rv::Tree().lines[size_t(sn)].text, "'strh' 64 'vidz'");
  lines = ChildTexts(sn);
  EXPECT_EQ(lines.size(), 14u);
  EXPECT_TRUE(Contains(lines, "Flags = 00000910(h)"));

  ApplyPanel("vstrf", {{"CodecSpecificData", "01,0A,FF"}});
  rv::RefreshBlockLines(vstrf, "vstrf");
  const int32_t fn = rv::Blocks()[size_t(vstrf)].Node;
  // The block's size is the table's, which an edit does not change.
  EXPECT_EQ(rv::Tree().lines[size_t(fn)].text, "'strf' 48");
  lines = ChildTexts(fn);
  EXPECT_EQ(lines.size(), 12u);
  EXPECT_TRUE(Contains(lines, "CodecSpecificData = 01,0A,FF"));
}

TEST_F(HeaderEditTest, ReadingARejectedVideoFormatTakesWhatTheBlockHolds) {
  // A bitmap header whose code is neither a bitmap code nor a FOURCC fails the format check.
  Open(rvt::Build(rvt::Riff(
                      "AVI ", {rvt::List("hdrl", {Chunk("avih", rvt::AvihPayload({})),
                                                  rvt::List("strl", {Chunk("strh", rvt::StrhPayload(
                                                                                       "vids", "", {})),
                                                                     Chunk("strf", rvt::VideoStrf(
                                                                                       320, 240, "a bc"))})}),
                               rvt::List("movi", {Chunk("00db", rvt::Pattern(100, 1))})}))
           .bytes);
  ASSERT_FALSE(rv::IFpresent("vstrf"));
  const int32_t b = rv::FindBlock("strf", "");
  ASSERT_GE(b, 0);
  ASSERT_EQ(rv::Blocks()[size_t(b)].Size, 48u);
  const size_t blocks = rv::Blocks().size();
  rv::VideoStrfRecord& v = rv::Header().vstrf;
  v.codecData = {1, 2, 3, 4, 5};
  v.biClrUsed = 99;

  ASSERT_TRUE(rv::OpenSource(path_));
  EXPECT_TRUE(rv::MIread(b, 'v'));
  rv::CloseSource();
  EXPECT_EQ(v.signature, "strf");
  EXPECT_EQ(v.size, 44u);
  EXPECT_EQ(v.biSize, 40u);
  EXPECT_EQ(v.biWidth, 320u);
  EXPECT_EQ(v.biHeight, 240u);
  EXPECT_EQ(v.biPlanes, 1);
  EXPECT_EQ(v.biBitCount, 24);
  EXPECT_EQ(v.biCompression, "a bc");
  EXPECT_EQ(v.biSizeImage, 320u * 240u * 3u);
  EXPECT_EQ(v.biClrUsed, 0u);
  EXPECT_EQ(v.codecData, (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(rv::GetLabel(rv::kLabelVSTRF), rv::LabelColor::Blue);
  EXPECT_EQ(rv::Blocks().size(), blocks);
  const std::vector<std::string> lines = ChildTexts(rv::Blocks()[size_t(b)].Node);
  EXPECT_TRUE(Contains(lines, "biWidth = 320"));
  EXPECT_TRUE(Contains(lines, "CodecSpecificData = 00,00,00,00"));
}

TEST_F(HeaderEditTest, ReadingARejectedAudioFormatGivesSizeEighteenAndAConsistentHeader) {
  // A 16-byte PCM wave format (a 24-byte block, no cbSize) fails the size check.
  const rvt::AvihFields ah;
  Open(rvt::Build(rvt::Riff(
                      "AVI ",
                      {rvt::List("hdrl",
                                 {Chunk("avih", rvt::AvihPayload(ah)),
                                  rvt::List("strl", {Chunk("strh", rvt::StrhPayload("vids", "XVID", {})),
                                                     Chunk("strf", rvt::VideoStrf(320, 240, "XVID"))}),
                                  rvt::List("strl", {Chunk("strh", rvt::StrhPayload("auds", "", {})),
                                                     Chunk("strf", rvt::AudioStrf(1, 2, 44100, 16, {},
                                                                                  false))})}),
                       rvt::List("movi", {Chunk("00dc", rvt::Pattern(100, 1))})}))
           .bytes);
  ASSERT_FALSE(rv::IFpresent("astrf"));
  int32_t b = -1;
  for (size_t i = 0; i < rv::Blocks().size(); ++i)
    if (rv::Blocks()[i].Name == "strf" && rv::Blocks()[i].Size == 24) b = int32_t(i);
  ASSERT_GE(b, 0);
  rv::AudioStrfRecord& a = rv::Header().astrf;
  a.cbSize = 12;
  a.codecData = rvt::Mp3CodecData();

  ASSERT_TRUE(rv::OpenSource(path_));
  EXPECT_TRUE(rv::MIread(b, 'a'));
  rv::CloseSource();
  EXPECT_EQ(a.size, 18u);
  EXPECT_EQ(a.cbSize, 0);
  EXPECT_TRUE(a.codecData.empty());
  EXPECT_EQ(a.wFormatTag, 1);
  EXPECT_EQ(a.nChannels, 2);
  EXPECT_EQ(a.nSamplesPerSec, 44100u);
  EXPECT_EQ(a.nAvgBytesPerSec, 176400u);
  EXPECT_EQ(a.nBlockAlign, 4);
  EXPECT_EQ(a.wBitsPerSample, 16);
  EXPECT_EQ(rv::GetLabel(rv::kLabelASTRF), rv::LabelColor::Blue);

  // The built header from these records: every list's size covers exactly what it holds.
  uint32_t moviList = 0;
  const Bytes region = rv::BuildHeaderRegion(true, true, moviList);
  ASSERT_GE(region.size(), 12u);
  ASSERT_EQ(std::string(region.begin(), region.begin() + 4), "LIST");
  const uint32_t hdrlEnd = 8 + rvt::ReadLE32(region, 4);
  std::vector<std::string> seen;
  std::function<void(size_t, size_t)> walk = [&](size_t p, size_t end) {
    while (p < end) {
      ASSERT_LE(p + 8, end) << "a chunk header is cut at " << p;
      const std::string id(region.begin() + long(p), region.begin() + long(p) + 4);
      const uint32_t size = rvt::ReadLE32(region, p + 4);
      ASSERT_LE(p + 8 + size, end) << id << " at " << p << " runs past its list";
      if (id == "LIST") {
        seen.push_back("LIST " + std::string(region.begin() + long(p) + 8, region.begin() + long(p) + 12));
        walk(p + 12, p + 8 + size);
      } else {
        seen.push_back(id + " " + std::to_string(size));
      }
      p += 8 + size + (size & 1);
    }
    EXPECT_EQ(p, end) << "the list's size does not end at its last chunk";
  };
  walk(12, hdrlEnd);
  EXPECT_TRUE(Contains(seen, "strf 18")) << ::testing::PrintToString(seen);
  EXPECT_EQ(std::count(seen.begin(), seen.end(), "LIST strl"), 2);
}

TEST_F(HeaderEditTest, EditedRecordsReachTheBuiltHeader) {
  Open(rvt::MakeStandardAvi().bytes);
  ApplyPanel("avih", {{"TimeBetweenFrames", "33367"}});
  ApplyPanel("vstrh", {{"DeviceHandler", "DIVX"}, {"Flags", "00000910"}});
  ApplyPanel("vstrf", {{"CodecSpecificData", "01,0A,FF"}});
  ApplyPanel("astrf", {{"cbSize", "3"}, {"CodecSpecificData", "01,zz"}});
  uint32_t moviList = 0;
  const Bytes r = rv::BuildHeaderRegion(true, true, moviList);
  auto find = [&](const std::string& id, size_t from = 0) {
    for (size_t p = from; p + 4 <= r.size(); ++p)
      if (std::equal(id.begin(), id.end(), r.begin() + long(p))) return p;
    return r.size();
  };
  const size_t avih = find("avih");
  ASSERT_LT(avih + 12, r.size());
  EXPECT_EQ(rvt::ReadLE32(r, avih + 8), 33367u);
  const size_t strh = find("strh");
  ASSERT_LT(strh + 24, r.size());
  EXPECT_EQ(std::string(r.begin() + long(strh) + 12, r.begin() + long(strh) + 16), "DIVX");
  EXPECT_EQ(rvt::ReadLE32(r, strh + 16), 0x910u);
  const size_t vstrf = find("strf");
  ASSERT_LT(vstrf + 51, r.size());
  EXPECT_EQ(rvt::ReadLE32(r, vstrf + 4), 43u);
  EXPECT_EQ(Bytes(r.begin() + long(vstrf) + 48, r.begin() + long(vstrf) + 51), (Bytes{0x01, 0x0A, 0xFF}));
  const size_t astrf = find("strf", vstrf + 8);
  ASSERT_LT(astrf + 29, r.size());
  EXPECT_EQ(rvt::ReadLE32(r, astrf + 4), 21u);
  EXPECT_EQ(Bytes(r.begin() + long(astrf) + 24, r.begin() + long(astrf) + 29),
            (Bytes{0x03, 0x00, 0x01, 0x00, 0x00}));
}

}  // namespace
