#include "output/naming.h"

#include <unistd.h>

#include "base/config.h"
#include "check/side_files.h"

namespace rv {

bool IsNumberPart(const std::string& four) {
  if (four.size() != 4 || four[0] != '.') return false;
  for (size_t i = 1; i < 4; ++i)
    if (four[i] < '0' || four[i] > '9') return false;
  return true;
}

std::string IncrementNumber(const std::string& name) {
  if (name.size() < 3) return name;
  int n = std::stoi(name.substr(name.size() - 3)) + 1;
  std::string digits = std::to_string(n);
  if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
  return name.substr(0, name.size() - 3) + digits;
}

std::string makeOutFN(const std::string& source) {
  size_t slash = source.find_last_of('/');
  std::string dir = slash == std::string::npos ? std::string() : source.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? source : source.substr(slash + 1);
  if (dir.empty()) {
    dir = ProgramDir();
    if (::access(dir.c_str(), W_OK) != 0) dir = "./";
  }
  if (dir.back() != '/') dir += '/';
  std::string ext;
  if (size_t dot = base.find_last_of('.'); dot != std::string::npos) {
    ext = base.substr(dot);
    base.erase(dot);
  }
  if (!(base.size() > 4 && IsNumberPart(base.substr(base.size() - 4)))) base += ".001";
  auto candidate = [&] { return dir + LowerLatinCyrillic(base + ext); };
  for (int guard = 0; FileExists(candidate()) && guard < 100000; ++guard)
    base = IncrementNumber(base);
  return candidate();
}

}  // namespace rv
