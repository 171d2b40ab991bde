// The configuration file: reading single values, the read-as rules and defaults, the exact
// text written, and the round trip through a file.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>

#include "base/config.h"
#include "fixtures/avi_builder.h"

namespace {

const std::string kDefaultText =
    "r.00db: y\r\nr.01wb: y\r\nr.fi: y\r\ncfg.iobmx: 2\r\ncfg.kr: n\r\ncfg.of: y\r\n"
    "cfg.hb: n\r\ncfg.hbsz: 500\r\ncfg.lf: n\r\ncfg.tt: n\r\ncfg.ppsi: n\r\ncfg.tnf: n\r\n"
    "cfg.drts: n\r\ncfg.adl: n\r\ncfg.atd: n\r\n";

TEST(ConfigValue, TakesTheRestOfTheLineAfterTheFirstOccurrenceTrimmed) {
  EXPECT_EQ(rv::GetConfigValue("cfg.hbsz:   750\r\n", "cfg.hbsz:"), "750");
  EXPECT_EQ(rv::GetConfigValue("cfg.kr: y", "cfg.kr:"), "y") << "value at the end of the text";
  EXPECT_EQ(rv::GetConfigValue("cfg.kr: y  \t\r\ncfg.of: n\r\n", "cfg.kr:"), "y");
  EXPECT_EQ(rv::GetConfigValue("a: 1\ncfg.lf:\tn\nb: 2", "cfg.lf:"), "n") << "LF alone ends a line";
  EXPECT_EQ(rv::GetConfigValue("cfg.kr:\r\ncfg.of: n", "cfg.kr:"), "") << "nothing after the key";
  EXPECT_EQ(rv::GetConfigValue("cfg.kr:", "cfg.kr:"), "");
  EXPECT_EQ(rv::GetConfigValue("cfg.of: n\r\n", "cfg.kr:"), "") << "missing key";
  EXPECT_EQ(rv::GetConfigValue("", "cfg.kr:"), "");
  EXPECT_EQ(rv::GetConfigValue("CFG.KR: y", "cfg.kr:"), "") << "keys are case-sensitive";
  EXPECT_EQ(rv::GetConfigValue("junk cfg.kr: y", "cfg.kr:"), "y")
      << "the key need not stand at the start of a line";
  EXPECT_EQ(rv::GetConfigValue("cfg.kr: n\r\ncfg.kr: y\r\n", "cfg.kr:"), "n") << "first wins";
  EXPECT_EQ(rv::GetConfigValue("cfg.kr: two words \r\n", "cfg.kr:"), "two words");
  EXPECT_EQ(rv::GetConfigValue("cfg.hb: y\r\ncfg.hbsz: 9", "cfg.hb:"), "y");
}

TEST(ConfigParse, MissingOrEmptyTextGivesTheDefaults) {
  const rv::ConfigValues defaults;
  EXPECT_TRUE(defaults.r00db && defaults.r01wb && defaults.rfi && defaults.of);
  EXPECT_FALSE(defaults.kr || defaults.hb || defaults.lf || defaults.tt || defaults.ppsi ||
               defaults.tnf || defaults.drts || defaults.adl || defaults.atd ||
               defaults.atdEnabled);
  EXPECT_EQ(defaults.iobmx, "2");
  EXPECT_EQ(defaults.hbsz, "500");
  EXPECT_EQ(rv::ParseConfig(""), defaults);
  EXPECT_EQ(rv::ParseConfig("nothing useful here\r\n"), defaults);
}

TEST(ConfigParse, BooleansFollowTheirReadAsRules) {
  // Checked-by-default options need "n" to turn off; the others need "y" to turn on; any
  // other value behaves like a missing key.
  rv::ConfigValues v = rv::ParseConfig(
      "r.00db: n\r\nr.01wb: x\r\nr.fi: Y\r\ncfg.of: no\r\ncfg.kr: y\r\ncfg.hb: yes\r\n"
      "cfg.lf: Y\r\ncfg.tt: y\r\ncfg.ppsi: y\r\ncfg.tnf: y\r\ncfg.drts: y\r\n");
  EXPECT_FALSE(v.r00db);
  EXPECT_TRUE(v.r01wb);
  EXPECT_TRUE(v.rfi);
  EXPECT_TRUE(v.of);
  EXPECT_TRUE(v.kr);
  EXPECT_FALSE(v.hb);
  EXPECT_FALSE(v.lf);
  EXPECT_TRUE(v.tt && v.ppsi && v.tnf && v.drts);

  v = rv::ParseConfig("r.00db: n\r\nr.01wb: n\r\nr.fi: n\r\ncfg.of: n\r\n");
  EXPECT_FALSE(v.r00db || v.r01wb || v.rfi || v.of);
}

TEST(ConfigParse, AudioRateOptionFollowsAudioLength) {
  rv::ConfigValues v = rv::ParseConfig("cfg.adl: y");
  EXPECT_TRUE(v.adl);
  EXPECT_TRUE(v.atdEnabled);
  EXPECT_FALSE(v.atd);
  rv::ConfigValues rest = v;
  rest.adl = false;
  rest.atdEnabled = false;
  EXPECT_EQ(rest, rv::ConfigValues{}) << "every other option keeps its fall-back";

  v = rv::ParseConfig("cfg.atd: y\r\ncfg.adl: n\r\n");
  EXPECT_FALSE(v.atd);
  EXPECT_FALSE(v.atdEnabled);
  v = rv::ParseConfig("cfg.atd: y\r\n");
  EXPECT_FALSE(v.atd) << "without ADL the rate option is unchecked";
  v = rv::ParseConfig("cfg.atd: y\r\ncfg.adl: y\r\n");
  EXPECT_TRUE(v.atd);
  EXPECT_TRUE(v.atdEnabled);

  rv::ConfigValues w;
  w.adl = true;
  w.atd = true;
  rv::ApplyAdlRule(w);
  EXPECT_TRUE(w.atdEnabled);
  EXPECT_TRUE(w.atd) << "enabling keeps the checked state";
  w.adl = false;
  rv::ApplyAdlRule(w);
  EXPECT_FALSE(w.atdEnabled);
  EXPECT_FALSE(w.atd);
}

TEST(ConfigParse, NumbersFallBackWhenNotNumbers) {
  EXPECT_EQ(rv::ParseConfig("cfg.iobmx: abc\r\n").iobmx, "2");
  EXPECT_EQ(rv::ParseConfig("cfg.iobmx: 10\r\n").iobmx, "10");
  EXPECT_EQ(rv::ParseConfig("cfg.iobmx:\r\n").iobmx, "2");
  EXPECT_EQ(rv::ParseConfig("cfg.iobmx: 1 0\r\n").iobmx, "2");
  EXPECT_EQ(rv::ParseConfig("cfg.hbsz:   750\r\n").hbsz, "750");
  EXPECT_EQ(rv::ParseConfig("cfg.hbsz: 5k\r\n").hbsz, "500");
  EXPECT_EQ(rv::ParseConfig("cfg.hbsz: \r\n").hbsz, "500");
}

TEST(ConfigText, DefaultsAreWrittenExactlyWithCrLfLines) {
  EXPECT_EQ(rv::ConfigText(rv::ConfigValues{}), kDefaultText);
  rv::ConfigValues v;
  v.iobmx = "50";
  v.hbsz = "1234";
  v.kr = true;
  v.r00db = false;
  const std::string text = rv::ConfigText(v);
  EXPECT_NE(text.find("r.00db: n\r\n"), std::string::npos);
  EXPECT_NE(text.find("cfg.iobmx: 50\r\n"), std::string::npos);
  EXPECT_NE(text.find("cfg.hbsz: 1234\r\n"), std::string::npos);
  EXPECT_NE(text.find("cfg.kr: y\r\n"), std::string::npos);
}

TEST(ConfigText, WrittenTextReadsBackToTheSameValues) {
  rv::ConfigValues all;
  all.r00db = all.r01wb = all.rfi = all.of = false;
  all.kr = all.hb = all.lf = all.tt = all.ppsi = all.tnf = all.drts = all.adl = all.atd = true;
  all.atdEnabled = true;
  all.iobmx = "100";
  all.hbsz = "750";

  rv::ConfigValues adlOnly;
  adlOnly.adl = true;
  adlOnly.atdEnabled = true;
  adlOnly.iobmx = "5";

  rv::ConfigValues mixed;
  mixed.rfi = false;
  mixed.hb = true;
  mixed.hbsz = "1";
  mixed.tt = true;

  for (const rv::ConfigValues& v : {rv::ConfigValues{}, all, adlOnly, mixed})
    EXPECT_EQ(rv::ParseConfig(rv::ConfigText(v)), v) << rv::ConfigText(v);
}

class ConfigFileTest : public ::testing::Test {
 protected:
  void TearDown() override { rv::SetConfigPathOverride(""); }
  rvt::TempDir dir_{"config"};
};

TEST_F(ConfigFileTest, SaveWritesTheTextAndLoadReadsItBack) {
  const std::string path = dir_.File(rv::kConfigFileName);
  rv::SetConfigPathOverride(path);
  EXPECT_EQ(rv::ConfigPath(), path);

  rv::ConfigValues v;
  v.adl = true;
  v.atd = true;
  v.atdEnabled = true;
  v.iobmx = "10";
  v.of = false;
  rv::ConfigValues loaded;
  EXPECT_FALSE(rv::LoadConfigFile(loaded)) << "no file yet";
  EXPECT_EQ(loaded, rv::ConfigValues{}) << "a missing file leaves the defaults";

  // An old, longer file is replaced as a whole.
  rvt::WriteFile(path, rvt::Filled(4096, 'x'));
  ASSERT_TRUE(rv::SaveConfigFile(v));
  const rvt::Bytes written = rvt::ReadFile(path);
  EXPECT_EQ(std::string(written.begin(), written.end()), rv::ConfigText(v));

  ASSERT_TRUE(rv::LoadConfigFile(loaded));
  EXPECT_EQ(loaded, v);
}

TEST_F(ConfigFileTest, LoadAppliesTheReadAsRulesToAHandWrittenFile) {
  const std::string path = dir_.File("hand.ini");
  rv::SetConfigPathOverride(path);
  rvt::WriteFile(path, rvt::Text("cfg.adl: y\n"));
  rv::ConfigValues v;
  v.kr = true;  // stale values must not survive a load
  ASSERT_TRUE(rv::LoadConfigFile(v));
  EXPECT_TRUE(v.adl);
  EXPECT_TRUE(v.atdEnabled);
  EXPECT_FALSE(v.atd);
  EXPECT_FALSE(v.kr);
  EXPECT_EQ(v.iobmx, "2");
}

TEST_F(ConfigFileTest, SavingWhereNoFileCanBeCreatedFailsSilently) {
  // A path below a regular file, and a path that is a directory.
  const std::string blocker = dir_.Write("plain-file", rvt::Text("x"));
  for (const std::string& path : {blocker + "/avi.rivetta.cfg.ini", dir_.path()}) {
    rv::SetConfigPathOverride(path);
    EXPECT_FALSE(rv::SaveConfigFile(rv::ConfigValues{})) << path;
  }
  rv::SetConfigPathOverride(blocker + "/avi.rivetta.cfg.ini");
  rv::ConfigValues v;
  v.kr = true;
  EXPECT_FALSE(rv::LoadConfigFile(v));
  EXPECT_TRUE(v.kr) << "a failed load leaves the values alone";
  EXPECT_EQ(rvt::ReadFile(blocker), rvt::Text("x"));
}

TEST(ConfigLocation, BesideTheProgramUnlessOverridden) {
  EXPECT_STREQ(rv::kConfigFileName, "avi.rivetta.cfg.ini");
  rv::SetConfigPathOverride("");
  const std::string path = rv::ConfigPath();
  const std::string name = "/avi.rivetta.cfg.ini";
  ASSERT_GE(path.size(), name.size());
  EXPECT_EQ(path.substr(path.size() - name.size()), name);
  const std::string dir = rv::ProgramDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '/');
  struct stat st {};
  EXPECT_EQ(::stat(dir.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

}  // namespace
