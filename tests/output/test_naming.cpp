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

class NamingTest : public ::testing::Test {
 protected:
  // A directory with upper-case letters in its name; files are created in it on demand.
  void SetUp() override {
    dir_ = tmp_.path() + "/MixedDir";
    std::filesystem::create_directory(dir_);
  }
  std::string In(const std::string& name) const { return dir_ + "/" + name; }
  void Touch(const std::string& name) const { rvt::WriteFile(In(name), {1}); }

  rvt::TempDir tmp_{"naming"};
  std::string dir_;
};

TEST_F(NamingTest, FileNameIsLowerCasedAndNumberedTheDirectoryKeepsItsCase) {
  EXPECT_EQ(rv::makeOutFN(In("Clip.AVI")), In("clip.001.avi"));
  EXPECT_EQ(rv::makeOutFN(In("КЛИП.Avi")), In("клип.001.avi"));
  // A dot in the directory and none in the file name: no extension.
  const std::string dotted = tmp_.path() + "/a.b";
  std::filesystem::create_directory(dotted);
  EXPECT_EQ(rv::makeOutFN(dotted + "/film"), dotted + "/film.001");
  EXPECT_EQ(rv::makeOutFN(dotted + "/Film."), dotted + "/film.001.");
}

TEST_F(NamingTest, NumberGoesPastExistingFiles) {
  Touch("clip.001.avi");
  EXPECT_EQ(rv::makeOutFN(In("Clip.AVI")), In("clip.002.avi"));
  Touch("clip.002.avi");
  EXPECT_EQ(rv::makeOutFN(In("Clip.AVI")), In("clip.003.avi"));
  // A numbered source counts up from its own number; the source itself exists.
  Touch("clip.005.avi");
  EXPECT_EQ(rv::makeOutFN(In("clip.005.avi")), In("clip.006.avi"));
  // Past 999 the number grows to four digits and goes on from there.
  Touch("clip.999.avi");
  EXPECT_EQ(rv::makeOutFN(In("clip.999.avi")), In("clip.1000.avi"));
  Touch("clip.1000.avi");
  EXPECT_EQ(rv::makeOutFN(In("clip.999.avi")), In("clip.1001.avi"));
  // A four-digit number is not a number part: the source name gets one of its own.
  EXPECT_EQ(rv::makeOutFN(In("clip.1000.avi")), In("clip.1000.001.avi"));
}

TEST_F(NamingTest, ExistenceIsTestedOnTheNameProposed) {
  // On a case-sensitive file system an upper-case file does not take the lower-case name.
  Touch("Clip.001.AVI");
  EXPECT_EQ(rv::makeOutFN(In("Clip.AVI")), In("clip.001.avi"));
}

TEST_F(NamingTest, FourCharacterBaseThatLooksLikeANumberIsNotOne) {
  EXPECT_EQ(rv::makeOutFN(In(".001.avi")), In(".001.001.avi"));
  EXPECT_EQ(rv::makeOutFN(In("a.001.avi")), In("a.001.avi"))
      << "a numbered name that does not exist yet keeps its number";
  EXPECT_EQ(rv::makeOutFN(In("x.01a.avi")), In("x.01a.001.avi"));
}

TEST_F(NamingTest, NameWithoutDirectoryGoesIntoTheProgramsDirectory) {
  std::string dir = rv::ProgramDir();
  if (dir.back() != '/') dir += '/';
  if (::access(dir.c_str(), W_OK) != 0) dir = "./";
  const std::string proposed = rv::makeOutFN("Zz-Naming-Probe.AVI");
  EXPECT_EQ(proposed, dir + "zz-naming-probe.001.avi");
  EXPECT_EQ(rv::makeOutFN(""), dir + ".001");
}

TEST_F(NamingTest, NumberTestAndIncrement) {
  EXPECT_TRUE(rv::IsNumberPart(".000"));
  EXPECT_TRUE(rv::IsNumberPart(".999"));
  EXPECT_FALSE(rv::IsNumberPart("0001"));
  EXPECT_FALSE(rv::IsNumberPart(".12"));
  EXPECT_FALSE(rv::IsNumberPart(".1a2"));
  EXPECT_FALSE(rv::IsNumberPart(".1234"));

  EXPECT_EQ(rv::IncrementNumber("x.001"), "x.002");
  EXPECT_EQ(rv::IncrementNumber("x.009"), "x.010");
  EXPECT_EQ(rv::IncrementNumber("x.099"), "x.100");
  EXPECT_EQ(rv::IncrementNumber("x.999"), "x.1000");
  EXPECT_EQ(rv::IncrementNumber("x.1000"), "x.1001");
  EXPECT_EQ(rv::IncrementNumber("x.1999"), "x.11000") << "only the last three digits count";
}

}  // namespace
