// Header reconstruction on AVI images built in code: the byte search for header blocks at every
// stream position, the flat table under "ROOT" as a dump and the records read from it, the end
// of the search, the extended-format flag, the exclusion list and stopping.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "fixtures/avi_builder.h"
#include "fixtures/engine_test.h"
#include "output/reconstruction.h"
#include "riff/blocks.h"

namespace {

using rvt::Bytes;
using rvt::Chunk;
using rvt::Node;

// The flat table: one line per block after the root, "name tag @offset +size", and a mark
// for a block that is not the root's child.
std::string Table() {
  std::string t;
  for (size_t i = 1; i < rv::Blocks().size(); ++i) {
    const rv::BlockRecord& b = rv::Blocks()[i];
    t += b.Name + " " + b.TypeTag + " @" + std::to_string(b.Offset) + " +" +
         std::to_string(b.Size) + (b.Parent == 0 ? "\n" : " not flat\n");
  }
  return t;
}

// The table a standard file gives when its bytes start at g.
std::string Standard(const rvt::StandardAvi& sa, uint32_t g) {
  auto line = [&](const char* what, uint32_t at, uint32_t size) {
    return std::string(what) + " @" + std::to_string(g + at) + " +" + std::to_string(size) + "\n";
  };
  return line("avih ", sa.avih, 64) + line("strh vids", sa.vstrh, 64) +
         line("strf ", sa.vstrf, 48) + line("strh auds", sa.astrh, 64) +
         line("strf ", sa.astrf, 38) +
         line("LIST movi", sa.movi, rvt::ReadLE32(sa.bytes, sa.movi + 4) + 8);
}

// The records the finished reconstruction holds, as one line.
std::string Records() {
  rv::FinishReconstruction();
  const rv::HeaderState& h = rv::Header();
  std::ostringstream r;
  r << h.avih.TimeBetweenFrames << ' ' << h.vstrh.DeviceHandler << ' ' << h.vstrf.biCompression
    << ' ' << h.vstrf.biWidth << 'x' << h.vstrf.biHeight << '+' << h.vstrf.codecData.size() << ' '
    << h.astrh.DataType << ' ' << h.astrf.wFormatTag << '/' << h.astrf.nChannels << '/'
    << h.astrf.wBitsPerSample << '+' << h.astrf.codecData.size() << " movi " << h.moviPos;
  return r.str();
}

// avih, a video strl with extra nodes after its strf, a PCM audio strl; 100 bytes in front, a
// movi list after it when withMovi.
Bytes File(std::vector<Node> afterVideoStrf, bool withMovi = true) {
  std::vector<Node> vstrl{Chunk("strh", rvt::StrhPayload("vids", "XVID", {})),
                          Chunk("strf", rvt::VideoStrf(320, 240, "XVID"))};
  for (Node& n : afterVideoStrf) vstrl.push_back(std::move(n));
  std::vector<Node> top{rvt::List(
      "hdrl", {Chunk("avih", rvt::AvihPayload({})), rvt::List("strl", vstrl),
               rvt::List("strl", {Chunk("strh", rvt::StrhPayload("auds", "", {.rate = 16000})),
                                  Chunk("strf", rvt::AudioStrf(1, 2, 44100))})})};
  if (withMovi)
    top.push_back(rvt::List(
        "movi", {Chunk("00dc", rvt::Pattern(300, 1)), Chunk("01wb", rvt::Pattern(101, 2))}));
  return rvt::Concat({rvt::Pattern(100, 12), rvt::Build(rvt::Riff("AVI ", top)).bytes});
}

class ReconstructionTest : public rvt::TaskTest {
 protected:
  void SetUp() override {
    TaskTest::SetUp();
    host_.onMessages = [this] {
      const std::vector<std::string> lines = rv::MessageLines();
      if (!stopAfterLine_.empty() && !lines.empty() && lines.back() == stopAfterLine_)
        rv::RequestStop();
    };
  }
  // Writes the file and runs the task on it; true when the task's result was true.
  bool Run(const Bytes& bytes) {
    rv::ClearMessages();
    srcBytes_ = bytes;
    rv::InputFileName() = dir_.Write("src.avi", bytes);
    rv::ResetReadCache();  // as opening a file does: the cache may hold the last file's bytes
    const rv::Completion c = rv::Execute("reconstruction");
    EXPECT_EQ(c.code, 101);
    return c.result == 1;
  }
  std::string stopAfterLine_;
};

TEST_F(ReconstructionTest, SignaturesAreFoundAtEveryStreamPosition) {
  const rvt::StandardAvi sa = rvt::MakeStandardAvi();
  // Header blocks across the boundaries of whatever pieces the search reads the stream in:
  // "avih", "strh" and "LIST" at the piece sizes a search may use, and "movi" in bytes 8 to 11.
  for (uint32_t edge : {4096u, 65536u, 1024000u})
    for (uint32_t at : {sa.avih + 2, sa.vstrh + 1, sa.movi + 10, sa.movi + 2}) {
      ASSERT_TRUE(Run(rvt::Concat({rvt::Filled(edge - at, 0x20), sa.bytes})));
      EXPECT_EQ(Table(), Standard(sa, edge - at)) << edge << " " << at;
    }
}

TEST_F(ReconstructionTest, WhereTheSearchLooksAndWhereItEnds) {
  // Without a movi list the search runs to the end, and there is no tree.
  EXPECT_FALSE(Run(rvt::Concat({File({}, false), rvt::Pattern(5000, 6)})));
  EXPECT_EQ(
      Table(),
      "avih  @124 +64\nstrh vids @200 +64\nstrf  @264 +48\nstrh auds @324 +64\nstrf  @388 +26\n");
  EXPECT_TRUE(rv::Tree().lines.empty());
  // Signatures within the 12 bytes passed over after a find are not found, those after them
  // are; so is one in the last four bytes of the file (past the end reads as zeros).
  EXPECT_FALSE(Run(rvt::Concat({rvt::Text("avih"), Bytes(4, 0), rvt::Text("strf"),  // 0
                                rvt::Text("strf"), Bytes(4, 0), rvt::Text("avih"),  // 12
                                rvt::Text("strh"), Bytes(4, 0), rvt::Text("xxxx"),  // 24
                                rvt::Filled(40, 0x20), rvt::Text("strh")})));       // 36, 76
  EXPECT_EQ(Table(), "avih  @0 +8\nstrf  @12 +8\nstrh xxxx @24 +8\nstrh " + std::string(4, '\0') +
                         " @76 +8\n");
  // An indx block marks the file extended.
  const Bytes indx = rvt::Concat({Bytes(8, 0), rvt::Text("00dc"), Bytes(12, 0)});
  ASSERT_TRUE(Run(File({Chunk("indx", indx)})));
  EXPECT_EQ(Table(),
            "avih  @124 +64\nstrh vids @200 +64\nstrf  @264 +48\nindx  @312 +32\n"
            "strh auds @356 +64\nstrf  @420 +26\nLIST movi @446 +430\n");
  EXPECT_EQ(rv::MessageLines().back(),
            "• есть подозрение, что это Extended AVI format. будет предпринята попытка переделать "
            "его в стандартный вид");
  EXPECT_EQ(rv::Header().extended, 'y');
}

TEST_F(ReconstructionTest, ExcludedFragmentsAreSkippedAndOffsetsAreStreamPositions) {
  const rvt::StandardAvi sa = rvt::MakeStandardAvi();
  // 100 bytes in front and 40 bytes in front of avih, both with signatures, both excluded; header
  // signatures behind the movi list are never reached: the search ends at the movi list.
  Bytes file = rvt::Concat(
      {sa.bytes,
       rvt::Build(Chunk("JUNK", rvt::Concat({rvt::Text("avihstrhstrf"), Bytes(8, 0)}))).bytes});
  rvt::InsertAt(file, sa.avih,
                rvt::Concat({rvt::Text("strf"), rvt::Pattern(24, 10), rvt::Text("LIST"),
                             Bytes(4, 0), rvt::Text("movi")}));
  rvt::InsertAt(file, 0,
                rvt::Concat({rvt::Text("avih"), rvt::Pattern(46, 8), rvt::Text("strh"),
                             rvt::Pattern(46, 9)}));
  rv::Exclusions() = {{0, 100}, {100 + sa.avih, 40}};
  rv::Header().extended = 'y';
  ASSERT_TRUE(Run(file));
  EXPECT_EQ(Table(), Standard(sa, 0));
  EXPECT_EQ(rv::Header().extended, 0);
  EXPECT_TRUE(rv::Tree().lines.empty()) << "the task itself builds no tree";
  EXPECT_EQ(Records(),
            "40000 XVID XVID 320x240+0 auds 85/2/0+12 movi " + std::to_string(sa.moviPos));
  EXPECT_EQ(rv::GetLabel(rv::kLabelMOVI), rv::LabelColor::Maroon);
}

TEST_F(ReconstructionTest, AStopEndsWithTrueAndKeepsWhatWasFound) {
  const rvt::StandardAvi sa = rvt::MakeStandardAvi();
  // 300 kB without signatures after avih: far more than the search does between two looks at
  // the flag.
  const Bytes filler = rvt::Pattern(300000, 11);
  stopAfterLine_ = "• найден блок avih ";
  EXPECT_TRUE(
      Run(rvt::Concat({rvt::Build(Chunk("avih", rvt::AvihPayload({.usPerFrame = 33367}))).bytes,
                       filler, sa.bytes})));
  EXPECT_EQ(Table(), "avih  @0 +64\n");
  rv::FinishReconstruction();
  EXPECT_EQ(rv::Header().avih.TimeBetweenFrames, 33367u);
  EXPECT_FALSE(rv::IFpresent("vstrh"));
}

}  // namespace
