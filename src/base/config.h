// The configuration file "avi.rivetta.cfg.ini": option values, their defaults, the file text.
#pragma once

#include <string>

namespace rv {

extern const char* const kConfigFileName;

// The option values as the controls hold them.
struct ConfigValues {
  bool r00db = true, r01wb = true, rfi = true;
  std::string iobmx = "2";
  bool kr = false, of = true, hb = false;
  std::string hbsz = "500";
  bool lf = false, tt = false, ppsi = false, tnf = false, drts = false, adl = false, atd = false;
  bool atdEnabled = false;  // CheckATD follows CheckADL
  bool operator==(const ConfigValues&) const = default;
};

// The value after the first occurrence of key (colon included) up to CR, LF or the end,
// trimmed of blanks and control characters; empty when the key is missing.
std::string GetConfigValue(const std::string& text, const std::string& key);
// The file text, one "key value" line per option, each ended by CR LF.
std::string ConfigText(const ConfigValues& v);
// Controls from a file text, by the read-as rules; ends with the CheckADL dependency.
ConfigValues ParseConfig(const std::string& text);
// CheckADLClick: unchecked ADL disables and unchecks ATD; checked enables it.
void ApplyAdlRule(ConfigValues& v);

// Beside the program; when that directory is not writable, $XDG_CONFIG_HOME (default
// ~/.config). An override (tests) replaces both.
std::string ConfigPath();
void SetConfigPathOverride(const std::string& path);
bool LoadConfigFile(ConfigValues& v);        // false when the file cannot be read
bool SaveConfigFile(const ConfigValues& v);  // false (silently) when it cannot be written

// The directory of the running program, ending in "/".
std::string ProgramDir();

}  // namespace rv
