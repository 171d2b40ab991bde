// Header reconstruction on AVI images built in code: the byte search for header blocks at every
// stream position, the flat table under "ROOT" and the records read from it, the end of the
// search, the extended-format flag, the exclusion list, stopping, and a format block judged by
// the stream header found before it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "check/file_state.h"
#include "base/host.h"
#include "base/messages.h"
#include "base/options.h"
#include "base/questions.h"
#include "app/task_table.h"
#include "base/tasks.h"
#include "fixtures/avi_builder.h"
#include "output/reconstruction.h"
#include "riff/blocks.h"
#include "riff/header.h"
#include "riff/source.h"

namespace {

using rvt::Bytes;
using rvt::Chunk;
using rvt::Node;

const char* const kExtended =
    "• есть подозрение, что это Extended AVI format. будет предпринята попытка переделать его "
    "в стандартный вид";

// Records progress; stops the search on the first progress message or when a chosen message
// line is added.
class RecHost : public rv::Host {
 public:
  bool Ask(const rv::Question&) override { return false; }
  void ShowProgress(const rv::Progress& p) override {
    if (p.target == rv::ProgressTarget::kMain) {
      progress.push_back({5, p.percent});
      if (stopOnProgress) rv::RequestStop();
    }
  }
  void MessagesChanged() override {
    if (stopAfterLine.empty()) return;
    auto lines = rv::MessageLines();
    if (!lines.empty() && lines.back() == stopAfterLine) rv::RequestStop();
  }
  std::vector<std::pair<int64_t, int64_t>> progress;
  bool stopOnProgress = false;
  std::string stopAfterLine;
};

// The "• найден блок " lines, in order.
std::vector<std::string> Finds() {
  std::vector<std::string> out;
  for (const std::string& m : rv::MessageLines())
    if (m.rfind("• найден блок ", 0) == 0) out.push_back(m.substr(std::string("• найден блок ").size()));
  return out;
}

bool HasMessage(const std::string& text) {
  for (const std::string& m : rv::MessageLines())
    if (m == text) return true;
  return false;
}

// A header that does not come from the standard builder: avih, a video strl (by default a
// 40-byte bitmap header, "XVID"), extra nodes after the video strf, an audio strl with the
// given format.
Node Hdrl(const Bytes& audioFormat, std::vector<Node> afterVideoStrf = {},
          const Bytes& videoFormat = rvt::VideoStrf(320, 240, "XVID")) {
  rvt::AvihFields ah;
  ah.totalFrames = 3;
  rvt::StrhFields vs, as;
  as.rate = 16000;
  std::vector<Node> vstrl{Chunk("strh", rvt::StrhPayload("vids", "XVID", vs)),
                          Chunk("strf", videoFormat)};
  for (Node& n : afterVideoStrf) vstrl.push_back(std::move(n));
  return rvt::List("hdrl", {Chunk("avih", rvt::AvihPayload(ah)), rvt::List("strl", vstrl),
                            rvt::List("strl", {Chunk("strh", rvt::StrhPayload("auds", "", as)),
                                               Chunk("strf", audioFormat)})});
}

Node Movi() {
  return rvt::List("movi", {Chunk("00dc", rvt::Pattern(300, 1)), Chunk("01wb", rvt::Pattern(100, 2)),
                            Chunk("00dc", rvt::Pattern(301, 3))});
}

class ReconstructionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rv::InstallTaskRoutines();
    rv::ResetFileState();
    rv::Opt().Reset();
    rv::ClearScriptedAnswers();
    rv::ClearMessages();
    rv::ClearStop();
    rv::SetHost(&host_);
  }
  void TearDown() override {
    rv::SetHost(nullptr);
    rv::ClearStop();
    rv::ResetFileState();
  }
  // Writes the file and runs the task on it; true when the task's result was true.
  bool Run(const Bytes& bytes) {
    rv::InputFileName() = dir_.Write("in.avi", bytes);
    rv::ResetReadCache();  // as opening a file does: the cache may hold the last file's bytes
    const rv::Completion c = rv::Execute("reconstruction");
    EXPECT_EQ(c.code, 101);
    return c.result == 1;
  }
  // Children of the top-level tree line: block lines and field lines separately.
  static void RootChildren(std::vector<std::string>& blocks, int& fieldLines) {
    const rv::TreeModel& t = rv::Tree();
    blocks.clear();
    fieldLines = 0;
    for (const rv::TreeLine& l : t.lines)
      if (l.parent == 0) {
        if (l.block >= 0) blocks.push_back(l.text);
        else ++fieldLines;
      }
  }

  rvt::TempDir dir_{"recon"};
  RecHost host_;
};

TEST_F(ReconstructionTest, GarbageBeforeANormalHeaderGivesSixFlatBlocksAndTheRecords) {
  const rvt::StandardAvi sa = rvt::MakeStandardAvi();
  const uint32_t g = 100;
  Bytes file = rvt::Concat({rvt::Pattern(g, 77), sa.bytes});
  // Header signatures behind the movi list are never reached: the search ends at the movi list.
  rvt::AppendBytes(file, rvt::Build(Chunk("JUNK", rvt::Concat({rvt::Text("avihstrhstrf"),
                                                              rvt::Filled(8, 0)})))
                             .bytes);
  rv::Header().extended = 'y';

  ASSERT_TRUE(Run(file));
  EXPECT_EQ(Finds(), (std::vector<std::string>{"avih ", "strh vids", "strf ", "strh auds",
                                               "strf ", "LIST movi"}));
  EXPECT_EQ(rv::MessageLines().front(), "• реконструкция заголовка");
  EXPECT_FALSE(HasMessage(kExtended));
  EXPECT_EQ(rv::Header().extended, 0);

  // The flat table: every block a child of the root, offsets and sizes as found.
  const auto& b = rv::Blocks();
  ASSERT_EQ(b.size(), 7u);
  EXPECT_EQ(b[0].Name, "ROOT");
  EXPECT_EQ(b[0].TypeTag, "AVI ");
  EXPECT_EQ(b[0].Parent, -1);
  struct Want {
    const char* name;
    const char* tag;
    uint32_t offset, size;
  };
  const uint32_t moviSize = rvt::ReadLE32(sa.bytes, sa.movi + 4) + 8;
  const Want want[] = {{"avih", "", sa.avih, 64},       {"strh", "vids", sa.vstrh, 64},
                       {"strf", "", sa.vstrf, 48},      {"strh", "auds", sa.astrh, 64},
                       {"strf", "", sa.astrf, 38},      {"LIST", "movi", sa.movi, moviSize}};
  for (size_t i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(b[i + 1].Name, want[i].name);
    EXPECT_EQ(b[i + 1].TypeTag, want[i].tag);
    EXPECT_EQ(b[i + 1].Parent, 0);
    EXPECT_EQ(b[i + 1].Offset, g + want[i].offset);
    EXPECT_EQ(b[i + 1].Size, want[i].size);
  }
  // The task itself builds no tree; progress is code 5 with a percentage that never falls.
  EXPECT_TRUE(rv::Tree().lines.empty());
  int64_t last = 0;
  for (auto [code, percent] : host_.progress) {
    EXPECT_EQ(code, 5);
    EXPECT_GE(percent, last);
    EXPECT_LE(percent, 100);
    last = percent;
  }

  rv::FinishReconstruction();
  const rv::TreeModel& t = rv::Tree();
  ASSERT_FALSE(t.lines.empty());
  EXPECT_EQ(t.lines[0].text, "'ROOT' 0 'AVI '");
  std::vector<std::string> children;
  int fields = 0;
  RootChildren(children, fields);
  EXPECT_EQ(children, (std::vector<std::string>{"'avih' 64", "'strh' 64 'vids'", "'strf' 48",
                                                "'strh' 64 'auds'", "'strf' 38",
                                                "'LIST' " + std::to_string(moviSize) + " 'movi'"}));
  EXPECT_EQ(fields, 0);
  // No block line lies deeper than the root's children.
  for (const rv::TreeLine& l : t.lines)
    if (l.block > 0) {
      EXPECT_EQ(l.parent, 0) << l.text;
    }

  const rv::HeaderState& h = rv::Header();
  EXPECT_EQ(h.avih.TimeBetweenFrames, 40000u);
  EXPECT_EQ(h.avih.Width, 320u);
  EXPECT_EQ(h.vstrh.DeviceHandler, "XVID");
  EXPECT_EQ(h.vstrf.biCompression, "XVID");
  EXPECT_EQ(h.vstrf.biWidth, 320u);
  EXPECT_EQ(h.astrh.DataType, "auds");
  EXPECT_EQ(h.astrf.wFormatTag, 0x55);
  EXPECT_EQ(h.astrf.cbSize, 12);
  EXPECT_EQ(h.astrf.codecData, rvt::Mp3CodecData());
  EXPECT_EQ(h.moviPos, g + sa.moviPos);
  for (const char* e : {"avih", "vstrh", "vstrf", "astrh", "astrf"}) EXPECT_TRUE(rv::IFpresent(e)) << e;
  EXPECT_EQ(rv::GetLabel(rv::kLabelMOVI), rv::LabelColor::Maroon);
}

TEST_F(ReconstructionTest, WithoutAMoviListTheSearchRunsToTheEnd) {
  const Bytes file = rvt::Concat(
      {rvt::Pattern(100, 5), rvt::Build(rvt::Riff("AVI ", {Hdrl(rvt::AudioStrf(1, 2, 44100))})).bytes,
       rvt::Pattern(5000, 6)});
  EXPECT_FALSE(Run(file));
  EXPECT_EQ(Finds(), (std::vector<std::string>{"avih ", "strh vids", "strf ", "strh auds", "strf "}));
  EXPECT_EQ(rv::Blocks().size(), 6u);
  EXPECT_TRUE(rv::Tree().lines.empty());
  EXPECT_FALSE(rv::HasBlock("LIST", "movi"));
}

TEST_F(ReconstructionTest, SignaturesAreFoundAtEveryStreamPosition) {
  const rvt::StandardAvi sa = rvt::MakeStandardAvi();
  // Header blocks across the boundaries of whatever pieces the search reads the stream in:
  // "avih", "strh" and "LIST" at the piece sizes a search may use, and "movi" in bytes 8 to 11.
  std::vector<uint32_t> gaps;
  for (uint32_t edge : {4096u, 65536u, 1024000u})
    for (uint32_t at : {sa.avih + 2, sa.vstrh + 1, sa.movi + 10, sa.movi + 2})
      gaps.push_back(edge - at);
  for (uint32_t g : gaps) {
    SCOPED_TRACE(g);
    rv::ClearMessages();
    ASSERT_TRUE(Run(rvt::Concat({rvt::Filled(g, 0x20), sa.bytes})));
    EXPECT_EQ(Finds(), (std::vector<std::string>{"avih ", "strh vids", "strf ", "strh auds",
                                                 "strf ", "LIST movi"}));
    ASSERT_EQ(rv::Blocks().size(), 7u);
    EXPECT_EQ(rv::Blocks()[1].Offset, g + sa.avih);
    EXPECT_EQ(rv::Blocks()[6].Offset, g + sa.movi);
  }
}

TEST_F(ReconstructionTest, AfterAFindTheSearchGoesOnTwelveBytesFurther) {
  // Signatures within the 12 bytes passed over after a find are not found, those after them
  // are; so is a signature in the last four bytes of the file (the bytes past the end read as
  // zeros).
  const Bytes file = rvt::Concat({rvt::Text("avih"), rvt::Filled(4, 0), rvt::Text("strf"),  // 0
                                  rvt::Text("strf"), rvt::Filled(4, 0), rvt::Text("avih"),  // 12
                                  rvt::Text("strh"), rvt::Filled(4, 0), rvt::Text("xxxx"),  // 24
                                  rvt::Filled(40, 0x20), rvt::Text("strh")});               // 36, 76
  EXPECT_FALSE(Run(file));
  const std::vector<std::string> finds = Finds();
  ASSERT_EQ(finds.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(finds.begin(), finds.begin() + 3),
            (std::vector<std::string>{"avih ", "strf ", "strh xxxx"}));
  const auto& b = rv::Blocks();
  ASSERT_EQ(b.size(), 5u);
  EXPECT_EQ(b[2].Offset, 12u);
  EXPECT_EQ(b[3].Offset, 24u);
  EXPECT_EQ(b[4].Offset, 76u);
  EXPECT_EQ(b[4].Name, "strh");
  EXPECT_EQ(b[4].TypeTag, std::string(4, '\0'));
  EXPECT_EQ(b[4].Size, 8u);
}

TEST_F(ReconstructionTest, AnIndxBlockMarksTheFileExtended) {
  const Bytes indx = rvt::Concat({rvt::Filled(8, 0), rvt::Text("00dc"), rvt::Filled(12, 0)});
  const Bytes file = rvt::Build(rvt::Riff(
                                    "AVI ", {Hdrl(rvt::AudioStrf(1, 2, 44100), {Chunk("indx", indx)}),
                                             Movi()}))
                         .bytes;
  ASSERT_TRUE(Run(file));
  EXPECT_EQ(Finds(), (std::vector<std::string>{"avih ", "strh vids", "strf ", "indx ", "strh auds",
                                               "strf ", "LIST movi"}));
  EXPECT_TRUE(HasMessage(kExtended));
  EXPECT_EQ(rv::MessageLines().back(), kExtended);
  EXPECT_EQ(rv::Header().extended, 'y');
}

TEST_F(ReconstructionTest, ExcludedFragmentsAreSkippedAndOffsetsAreStreamPositions) {
  const rvt::StandardAvi sa = rvt::MakeStandardAvi();
  // 100 bytes in front and 40 bytes in front of avih, both with signatures, both excluded.
  const Bytes front = rvt::Concat({rvt::Text("avih"), rvt::Pattern(46, 8), rvt::Text("strh"),
                                   rvt::Pattern(46, 9)});
  const Bytes inner = rvt::Concat({rvt::Text("strf"), rvt::Pattern(24, 10), rvt::Text("LIST"),
                                   rvt::Filled(4, 0), rvt::Text("movi")});
  Bytes file = sa.bytes;
  rvt::InsertAt(file, sa.avih, inner);
  rvt::InsertAt(file, 0, front);
  rv::Exclusions() = {{0, 100}, {100 + sa.avih, 40}};

  ASSERT_TRUE(Run(file));
  EXPECT_EQ(Finds(), (std::vector<std::string>{"avih ", "strh vids", "strf ", "strh auds",
                                               "strf ", "LIST movi"}));
  const auto& b = rv::Blocks();
  ASSERT_EQ(b.size(), 7u);
  const uint32_t at[] = {sa.avih, sa.vstrh, sa.vstrf, sa.astrh, sa.astrf, sa.movi};
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(b[i + 1].Offset, at[i]) << b[i + 1].Name;

  rv::FinishReconstruction();
  const rv::HeaderState& h = rv::Header();
  EXPECT_EQ(h.moviPos, sa.moviPos);
  EXPECT_EQ(h.avih.TimeBetweenFrames, 40000u);
  EXPECT_EQ(h.vstrf.biCompression, "XVID");
  EXPECT_EQ(h.vstrf.biWidth, 320u);
  EXPECT_EQ(h.astrf.wFormatTag, 0x55);
  EXPECT_TRUE(rv::IFpresent("vstrf"));
  EXPECT_TRUE(rv::IFpresent("astrf"));
}

TEST_F(ReconstructionTest, AStopEndsWithTrueAndTheTreeHoldsWhatWasFound) {
  const rvt::StandardAvi sa = rvt::MakeStandardAvi();
  // 300 kB without signatures before the header: far more than the search does between two
  // looks at the stop flag.
  const Bytes filler = rvt::Pattern(300000, 11);
  host_.stopOnProgress = true;
  EXPECT_TRUE(Run(rvt::Concat({filler, sa.bytes})));
  EXPECT_TRUE(Finds().empty());
  EXPECT_EQ(rv::Blocks().size(), 1u);

  rv::ClearMessages();
  host_.stopOnProgress = false;
  host_.stopAfterLine = "• найден блок avih ";
  rvt::AvihFields ah;
  ah.usPerFrame = 33367;
  const Bytes avih = rvt::Build(Chunk("avih", rvt::AvihPayload(ah))).bytes;
  EXPECT_TRUE(Run(rvt::Concat({avih, filler, sa.bytes})));
  EXPECT_EQ(Finds(), (std::vector<std::string>{"avih "}));
  rv::FinishReconstruction();
  std::vector<std::string> children;
  int fields = 0;
  RootChildren(children, fields);
  EXPECT_EQ(children, (std::vector<std::string>{"'avih' 64"}));
  EXPECT_EQ(rv::Header().avih.TimeBetweenFrames, 33367u);
  EXPECT_TRUE(rv::IFpresent("avih"));
  EXPECT_FALSE(rv::IFpresent("vstrh"));
}

TEST_F(ReconstructionTest, EveryFormatIsReadAsTheFormatOfItsStream) {
  // MPEG layer 2 wave format with 22 bytes of extra data: a 48-byte block like a video format.
  const Bytes mp2Extra = rvt::Concat({Bytes{0x02, 0x00, 0x00, 0xF4, 0x01, 0x00, 0x01, 0x00},
                                      rvt::Filled(14, 0)});
  const Bytes mp2 = rvt::AudioStrf(0x50, 2, 44100, 0, mp2Extra, true, 16000, 1);
  ASSERT_EQ(mp2.size() + 8, 48u);
  // Uncompressed 8-bit video with its palette, and a 16-byte PCM wave format that the size
  // check turns down: both must reach the records, or the rebuilt file has no picture or no
  // sound.
  const Bytes palette = rvt::Filled(1024, 0x33);
  const Bytes raw = rvt::VideoStrf(320, 240, "", 8, palette);
  const Bytes pcm16 = rvt::AudioStrf(1, 2, 44100, 16, {}, false);
  const struct {
    Bytes video, audio;
  } kCases[] = {{rvt::VideoStrf(320, 240, "XVID"), mp2}, {raw, pcm16}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.video.size());
    rv::ClearMessages();
    rv::SignsOff();  // as the start button does
    const Bytes file = rvt::Concat(
        {rvt::Pattern(100, 12), rvt::Build(rvt::Riff("AVI ", {Hdrl(c.audio, {}, c.video), Movi()})).bytes});
    ASSERT_TRUE(Run(file));
    EXPECT_EQ(Finds(), (std::vector<std::string>{"avih ", "strh vids", "strf ", "strh auds",
                                                 "strf ", "LIST movi"}));
    rv::FinishReconstruction();
    const rv::HeaderState& h = rv::Header();
    EXPECT_TRUE(rv::IFpresent("vstrf"));
    EXPECT_TRUE(rv::IFpresent("astrf"));
    EXPECT_EQ(h.vstrf.biWidth, 320u);
    EXPECT_EQ(h.vstrf.biHeight, 240u);
    EXPECT_EQ(h.astrf.nChannels, 2);
    EXPECT_EQ(h.astrf.nSamplesPerSec, 44100u);
    if (&c == &kCases[0]) {
      EXPECT_EQ(h.astrf.wFormatTag, 0x50);
      EXPECT_EQ(h.astrf.cbSize, 22);
      EXPECT_EQ(h.astrf.codecData, mp2Extra);
      // The video format keeps the video block's values.
      EXPECT_EQ(h.vstrf.biCompression, "XVID");
      EXPECT_TRUE(h.vstrf.codecData.empty());
    } else {
      EXPECT_EQ(h.vstrf.biCompression, std::string(4, '\0'));
      EXPECT_EQ(h.vstrf.codecData, palette);
      EXPECT_EQ(h.astrf.wFormatTag, 1);
      EXPECT_EQ(h.astrf.wBitsPerSample, 16);
      EXPECT_TRUE(HasMessage("• блок strf звука не прошёл проверку размера и прочитан как есть"));
    }
  }
}

TEST_F(ReconstructionTest, AMissingFileIsAnOpeningErrorAndKeepsTheTable) {
  rv::Blocks().push_back(rv::BlockRecord{"RIFF", "AVI ", -1, 0, 100, -1, 0});
  rv::InputFileName() = dir_.File("missing.avi");
  rv::Header().extended = 'y';
  const rv::Completion c = rv::Execute("reconstruction");
  EXPECT_EQ(c.code, 101);
  EXPECT_EQ(c.result, 0);
  EXPECT_EQ(rv::MessageLines(), std::vector<std::string>{"• ошибка открытия файла"});
  ASSERT_EQ(rv::Blocks().size(), 1u);
  EXPECT_EQ(rv::Blocks()[0].Name, "RIFF");
  EXPECT_EQ(rv::Header().extended, 'y');
}

}  // namespace
