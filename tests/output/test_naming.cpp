// The proposed name of the repaired file: numbered past existing files, the file name
// lower-cased, the directory kept as it is.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "fixtures/avi_builder.h"
#include "output/naming.h"

namespace {

TEST(Naming, ProposedNamesInADirectoryWithUpperCaseLetters) {
  rvt::TempDir tmp("naming");
  const std::string dir = tmp.path() + "/Mixed.Dir/";
  std::filesystem::create_directory(dir);
  // Files created before the name is proposed ("" none), the source's name, the proposal.
  const struct {
    const char *touch, *source, *proposed;
  } cases[] = {
      {"", "Clip.AVI", "clip.001.avi"},
      {"", "КЛИП.Avi", "клип.001.avi"},
      {"", "film", "film.001"},                      // a dot in the directory only: no extension
      {"Clip.001.AVI", "Clip.AVI", "clip.001.avi"},  // the name proposed is the one tested
      {"clip.001.avi", "Clip.AVI", "clip.002.avi"},
      {"clip.005.avi", "clip.005.avi", "clip.006.avi"},  // a numbered source counts on
      {"clip.999.avi", "clip.999.avi", "clip.1000.avi"},
      {"", "clip.1000.avi", "clip.1000.001.avi"},  // four digits are no number part
      {"", "a.001.avi", "a.001.avi"},              // a numbered name not there yet keeps its number
  };
  for (const auto& c : cases) {
    if (*c.touch) rvt::WriteFile(dir + c.touch, {1});
    EXPECT_EQ(rv::makeOutFN(dir + c.source), dir + c.proposed) << c.touch << " " << c.source;
  }
}

}  // namespace
