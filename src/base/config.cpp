#include "base/config.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "base/text.h"

namespace rv {

const char* const kConfigFileName = "avi.rivetta.cfg.ini";

namespace {
std::string g_override;

bool IsBlankOrControl(unsigned char c) { return c <= ' '; }

std::string YesNo(bool b) { return b ? "y" : "n"; }
}  // namespace

std::string GetConfigValue(const std::string& text, const std::string& key) {
  size_t p = text.find(key);
  if (p == std::string::npos) return {};
  p += key.size();
  size_t e = text.find_first_of("\r\n", p);
  std::string v = text.substr(p, e == std::string::npos ? std::string::npos : e - p);
  size_t b = 0;
  while (b < v.size() && IsBlankOrControl(uint8_t(v[b]))) ++b;
  size_t end = v.size();
  while (end > b && IsBlankOrControl(uint8_t(v[end - 1]))) --end;
  return v.substr(b, end - b);
}

std::string ConfigText(const ConfigValues& v) {
  std::string t;
  auto line = [&](const char* key, const std::string& value) {
    t += key;
    t += ' ';
    t += value;
    t += "\r\n";
  };
  line("r.00db:", YesNo(v.r00db));
  line("r.01wb:", YesNo(v.r01wb));
  line("r.fi:", YesNo(v.rfi));
  line("cfg.iobmx:", v.iobmx);
  line("cfg.kr:", YesNo(v.kr));
  line("cfg.of:", YesNo(v.of));
  line("cfg.hb:", YesNo(v.hb));
  line("cfg.hbsz:", v.hbsz);
  line("cfg.lf:", YesNo(v.lf));
  line("cfg.tt:", YesNo(v.tt));
  line("cfg.ppsi:", YesNo(v.ppsi));
  line("cfg.tnf:", YesNo(v.tnf));
  line("cfg.drts:", YesNo(v.drts));
  line("cfg.adl:", YesNo(v.adl));
  line("cfg.atd:", YesNo(v.atd));
  return t;
}

void ApplyAdlRule(ConfigValues& v) {
  if (!v.adl) {
    v.atdEnabled = false;
    v.atd = false;
  } else {
    v.atdEnabled = true;
  }
}

ConfigValues ParseConfig(const std::string& text) {
  ConfigValues v;
  auto unlessNo = [&](const char* key) { return GetConfigValue(text, key) != "n"; };
  auto onlyYes = [&](const char* key) { return GetConfigValue(text, key) == "y"; };
  auto number = [&](const char* key, const char* fallback) {
    std::string s = GetConfigValue(text, key);
    return IsNumber(s) ? s : std::string(fallback);
  };
  // Read in this order: cfg.atd before cfg.adl, so the ADL rule below settles ATD.
  v.r00db = unlessNo("r.00db:");
  v.r01wb = unlessNo("r.01wb:");
  v.rfi = unlessNo("r.fi:");
  v.iobmx = number("cfg.iobmx:", "2");
  v.kr = onlyYes("cfg.kr:");
  v.of = unlessNo("cfg.of:");
  v.hb = onlyYes("cfg.hb:");
  v.hbsz = number("cfg.hbsz:", "500");
  v.lf = onlyYes("cfg.lf:");
  v.tt = onlyYes("cfg.tt:");
  v.ppsi = onlyYes("cfg.ppsi:");
  v.tnf = onlyYes("cfg.tnf:");
  v.drts = onlyYes("cfg.drts:");
  v.atd = onlyYes("cfg.atd:");
  v.adl = onlyYes("cfg.adl:");
  ApplyAdlRule(v);
  return v;
}

std::string ProgramDir() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "./";
  std::string path(buf, size_t(n));
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
}

void SetConfigPathOverride(const std::string& path) { g_override = path; }

std::string ConfigPath() {
  if (!g_override.empty()) return g_override;
  std::string dir = ProgramDir();
  if (::access(dir.c_str(), W_OK) == 0) return dir + kConfigFileName;
  std::string base;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) {
    base = x;
  } else if (const char* h = std::getenv("HOME"); h && *h) {
    base = std::string(h) + "/.config";
  } else {
    return dir + kConfigFileName;
  }
  if (base.back() != '/') base += '/';
  return base + kConfigFileName;
}

bool LoadConfigFile(ConfigValues& v) {
  std::ifstream in(ConfigPath(), std::ios::binary);
  if (!in) return false;
  std::stringstream ss;
  ss << in.rdbuf();
  v = ParseConfig(ss.str());
  return true;
}

bool SaveConfigFile(const ConfigValues& v) {
  std::string path = ConfigPath();
  if (size_t slash = path.rfind('/'); slash != std::string::npos) {
    // The fall-back directory (~/.config) may not exist yet.
    std::string dir = path.substr(0, slash);
    if (::access(dir.c_str(), F_OK) != 0) {
      for (size_t i = 1; i <= dir.size(); ++i)
        if (i == dir.size() || dir[i] == '/') ::mkdir(dir.substr(0, i).c_str(), 0755);
    }
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out << ConfigText(v);
  return bool(out);
}

}  // namespace rv
