// The configuration file: reading single values, the read-as rules and defaults, the exact
// text written, and the round trip through a file.
#include <gtest/gtest.h>

#include <string>

#include "base/config.h"
#include "fixtures/avi_builder.h"

namespace {

const std::string kDefaultText =
    "r.00db: y\r\nr.01wb: y\r\nr.fi: y\r\ncfg.iobmx: 2\r\ncfg.kr: n\r\ncfg.of: y\r\n"
    "cfg.hb: n\r\ncfg.hbsz: 500\r\ncfg.lf: n\r\ncfg.tt: n\r\ncfg.ppsi: n\r\ncfg.tnf: n\r\n"
    "cfg.drts: n\r\ncfg.adl: n\r\ncfg.atd: n\r\n";

// The lines of the written text that differ from the defaults, and whether the audio-rate
// option may be changed: a short readable summary of a set of values.
std::string Changes(const rv::ConfigValues& v) {
  std::string text = rv::ConfigText(v), out;
  for (size_t at = 0, d = 0; at < text.size();) {
    const size_t end = text.find("\r\n", at), dend = kDefaultText.find("\r\n", d);
    const std::string line = text.substr(at, end - at);
    if (line != kDefaultText.substr(d, dend - d)) out += line + "; ";
    at = end + 2;
    d = dend + 2;
  }
  return out + (v.atdEnabled ? "atd enabled" : "");
}

TEST(Config, ValueIsTheTrimmedRestOfTheLineAfterTheFirstOccurrence) {
  const struct {
    const char *text, *key, *value;
  } cases[] = {
      {"cfg.hbsz:   750\r\n", "cfg.hbsz:", "750"},
      {"cfg.kr: y", "cfg.kr:", "y"},
      {"cfg.kr: y  \t\r\ncfg.of: n\r\n", "cfg.kr:", "y"},
      {"a: 1\ncfg.lf:\tn\nb: 2", "cfg.lf:", "n"},  // LF alone ends a line
      {"cfg.kr:\r\ncfg.of: n", "cfg.kr:", ""},
      {"cfg.of: n\r\n", "cfg.kr:", ""},
      {"CFG.KR: y", "cfg.kr:", ""},  // keys are case-sensitive
      {"junk cfg.kr: y", "cfg.kr:", "y"},
      {"cfg.kr: n\r\ncfg.kr: y\r\n", "cfg.kr:", "n"},
      {"cfg.kr: two words \r\n", "cfg.kr:", "two words"},
  };
  for (const auto& c : cases) EXPECT_EQ(rv::GetConfigValue(c.text, c.key), c.value) << c.text;
}

TEST(Config, ReadAsRulesAndFallBacks) {
  // Checked-by-default options need "n" to turn off, the others "y" to turn on; any other
  // value, and a number that is no number, behaves like a missing key.
  const struct {
    const char *text, *changes;
  } cases[] = {
      {"", ""},
      {"nothing useful here\r\n", ""},
      {"r.00db: n\r\nr.01wb: x\r\nr.fi: Y\r\ncfg.of: no\r\ncfg.kr: y\r\ncfg.hb: yes\r\n"
       "cfg.lf: Y\r\ncfg.tt: y\r\ncfg.ppsi: y\r\ncfg.tnf: y\r\ncfg.drts: y\r\n",
       "r.00db: n; cfg.kr: y; cfg.tt: y; cfg.ppsi: y; cfg.tnf: y; cfg.drts: y; "},
      {"cfg.iobmx: 10\r\ncfg.hbsz:   750\r\n", "cfg.iobmx: 10; cfg.hbsz: 750; "},
      {"cfg.iobmx: abc\r\ncfg.hbsz: 5k\r\n", ""},
      {"cfg.iobmx: 1 0\r\ncfg.hbsz: \r\n", ""},
      // The audio-rate option follows the audio-length option.
      {"cfg.adl: y", "cfg.adl: y; atd enabled"},
      {"cfg.atd: y\r\n", ""},
      {"cfg.atd: y\r\ncfg.adl: n\r\n", ""},
      {"cfg.atd: y\r\ncfg.adl: y\r\n", "cfg.adl: y; cfg.atd: y; atd enabled"},
  };
  for (const auto& c : cases) EXPECT_EQ(Changes(rv::ParseConfig(c.text)), c.changes) << c.text;
}

TEST(Config, TextIsExactAndReadsBackToTheSameValues) {
  EXPECT_EQ(rv::ConfigText(rv::ConfigValues{}), kDefaultText);
  rv::ConfigValues all;
  all.r00db = all.r01wb = all.rfi = all.of = false;
  all.kr = all.hb = all.lf = all.tt = all.ppsi = all.tnf = all.drts = all.adl = all.atd = true;
  all.atdEnabled = true;
  all.iobmx = "100";
  all.hbsz = "750";
  rv::ConfigValues mixed;
  mixed.rfi = false;
  mixed.hb = mixed.tt = true;
  mixed.hbsz = "1";
  for (const rv::ConfigValues& v : {rv::ConfigValues{}, all, mixed})
    EXPECT_EQ(rv::ParseConfig(rv::ConfigText(v)), v) << rv::ConfigText(v);
}

TEST(Config, FileRoundTripAndFailures) {
  rvt::TempDir dir{"config"};
  const std::string path = dir.File(rv::kConfigFileName);
  rv::SetConfigPathOverride(path);
  EXPECT_EQ(rv::ConfigPath(), path);
  rv::ConfigValues loaded;
  const rv::ConfigValues v = rv::ParseConfig("cfg.iobmx: 10\r\ncfg.adl: y\r\ncfg.atd: y\r\n");
  EXPECT_FALSE(rv::LoadConfigFile(loaded)) << "no file yet";
  EXPECT_EQ(loaded, rv::ConfigValues{}) << "a missing file leaves the defaults";
  rvt::WriteFile(path, rvt::Filled(4096, 'x'));  // an old, longer file is replaced whole
  ASSERT_TRUE(rv::SaveConfigFile(v));
  EXPECT_EQ(rvt::ReadFile(path), rvt::Text(rv::ConfigText(v)));
  ASSERT_TRUE(rv::LoadConfigFile(loaded));
  EXPECT_EQ(loaded, v);

  // A hand-written file goes through the read-as rules; stale values do not survive.
  rvt::WriteFile(path, rvt::Text("cfg.adl: y\n"));
  loaded.kr = true;
  ASSERT_TRUE(rv::LoadConfigFile(loaded));
  EXPECT_EQ(Changes(loaded), "cfg.adl: y; atd enabled");

  // Where no file can be made: a path below a regular file, a directory.
  const std::string blocker = dir.Write("plain-file", rvt::Text("x"));
  for (const std::string& p : {dir.path(), blocker + "/avi.rivetta.cfg.ini"}) {
    rv::SetConfigPathOverride(p);
    EXPECT_FALSE(rv::SaveConfigFile(rv::ConfigValues{})) << p;
  }
  loaded.kr = true;
  EXPECT_FALSE(rv::LoadConfigFile(loaded));
  EXPECT_TRUE(loaded.kr) << "a failed load leaves the values alone";
  EXPECT_EQ(rvt::ReadFile(blocker), rvt::Text("x"));

  // Without an override the file lies beside the program.
  rv::SetConfigPathOverride("");
  EXPECT_EQ(rv::ConfigPath(), rv::ProgramDir() + rv::kConfigFileName);
  EXPECT_EQ(rv::ProgramDir().back(), '/');
}

}  // namespace
