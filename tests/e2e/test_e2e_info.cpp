// rivetta-cli info on AVI files made by ffmpeg (MPEG-4 video tagged XVID, MPEG audio layer 2
// or 3): a well-formed file reads without a message and lights all seven block labels.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "fixtures/avi_builder.h"
#include "fixtures/cli_run.h"
#include "fixtures/ffmpeg_sample.h"

namespace {

using Outcome = rvt::CliOutcome;
Outcome Cli(const rvt::TempDir& dir, const std::string& args) { return rvt::RunCli(dir, args); }

class E2eInfoTest : public ::testing::TestWithParam<const char*> {
 protected:
  rvt::TempDir dir_{"e2e-info"};
};

TEST_P(E2eInfoTest, FfmpegFileReadsCleanWithAllLabelsLit) {
  RVT_SKIP_WITHOUT_FFMPEG();
  rvt::FfmpegSampleSettings shape;
  shape.extraArgs = GetParam();
  const std::string file = rvt::MakeFfmpegAvi(dir_.path(), shape, "clip.avi");
  if (file.empty()) GTEST_SKIP() << "ffmpeg could not encode with '" << GetParam() << "'";

  const Outcome json = Cli(dir_, "info clip.avi --json");
  ASSERT_EQ(json.code, 0);
  for (const char* key :
       {"\"messages\":[]",
        "\"labels\":{\"avih\":\"blue\",\"vstrh\":\"blue\",\"vstrf\":\"blue\",\"astrh\":\"blue\","
        "\"astrf\":\"blue\",\"movi\":\"maroon\",\"idx1\":\"maroon\"}",
        "\"biCompression\":\"XVID\"", "\"DeviceHandler\":\"XVID\"", "\"DataType\":\"auds\"",
        "\"Width\":\"320\"", "\"Height\":\"240\"", "\"extended\":false"})
    EXPECT_NE(json.out.find(key), std::string::npos) << key << "\n" << json.out.substr(0, 600);

  // The text form: an empty message list right under its caption.
  const Outcome text = Cli(dir_, "info clip.avi");
  ASSERT_EQ(text.code, 0);
  EXPECT_EQ(text.out.rfind("сообщения:\n\nблоки:\n", 0), 0u) << text.out.substr(0, 300);
  EXPECT_EQ(text.out.find("• "), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Audio, E2eInfoTest, ::testing::Values("", "-c:a libmp3lame"),
                         [](const auto& info) { return info.index == 0 ? "Mp2" : "Mp3"; });

}  // namespace
