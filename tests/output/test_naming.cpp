// The proposed name of the repaired file: numbered past existing files, the file name
// lower-cased, the directory kept as it is.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "base/config.h"
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
      {"clip.1000.avi", "clip.999.avi", "clip.1001.avi"},
      {"", "clip.1000.avi", "clip.1000.001.avi"},  // four digits are no number part
      {"", "a.001.avi", "a.001.avi"},              // a numbered name not there yet keeps its number
      {"", "x.01a.avi", "x.01a.001.avi"},
  };
  for (const auto& c : cases) {
    if (*c.touch) rvt::WriteFile(dir + c.touch, {1});
    EXPECT_EQ(rv::makeOutFN(dir + c.source), dir + c.proposed) << c.touch << " " << c.source;
  }
}

TEST(Naming, NameWithoutDirectoryGoesIntoTheProgramsDirectory) {
  std::string dir = rv::ProgramDir();
  if (dir.back() != '/') dir += '/';
  if (::access(dir.c_str(), W_OK) != 0) dir = "./";
  EXPECT_EQ(rv::makeOutFN("Zz-Naming-Probe.AVI"), dir + "zz-naming-probe.001.avi");
  EXPECT_EQ(rv::makeOutFN(""), dir + ".001");
}

TEST(Naming, NumberTestAndIncrement) {
  for (const char* yes : {".000", ".999"}) EXPECT_TRUE(rv::IsNumberPart(yes)) << yes;
  for (const char* no : {"0001", ".12", ".1a2", ".1234"}) EXPECT_FALSE(rv::IsNumberPart(no)) << no;
  const std::pair<const char*, const char*> steps[] = {
      {"x.009", "x.010"},
      {"x.099", "x.100"},
      {"x.999", "x.1000"},
      {"x.1000", "x.1001"},
      {"x.1999", "x.11000"}};  // the last three digits
  for (auto [from, to] : steps) EXPECT_EQ(rv::IncrementNumber(from), to);
}

}  // namespace
