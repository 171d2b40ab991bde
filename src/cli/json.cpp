#include "cli/json.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace rv::cli {

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out.push_back(char(c));
        }
    }
  }
  out += "\"";
  return out;
}

std::string JsonArray(const std::vector<std::string>& values) {
  std::string out = "[";
  for (size_t i = 0; i < values.size(); ++i) out += (i ? "," : "") + values[i];
  return out + "]";
}

std::string JsonStrings(const std::vector<std::string>& strings) {
  std::vector<std::string> values;
  values.reserve(strings.size());
  for (const auto& s : strings) values.push_back(JsonString(s));
  return JsonArray(values);
}

JsonObject& JsonObject::Raw(const char* key, const std::string& json) {
  if (!body_.empty()) body_ += ",";
  body_ += JsonString(key) + ":" + json;
  return *this;
}

JsonStdout::JsonStdout(bool on) {
  if (!on) return;
  std::fflush(stdout);
  saved_ = ::dup(1);
  const int null = ::open("/dev/null", O_WRONLY);
  if (saved_ < 0 || null < 0) {
    // Without /dev/null the text stays on stdout; the document still follows it.
    if (null >= 0) ::close(null);
    return;
  }
  ::dup2(null, 1);
  ::close(null);
}

JsonStdout::~JsonStdout() {
  if (saved_ < 0) return;
  std::fflush(stdout);
  ::dup2(saved_, 1);
  ::close(saved_);
}

void JsonStdout::Emit(const std::string& document) {
  std::fflush(stdout);
  const std::string text = document + "\n";
  const int fd = saved_ >= 0 ? saved_ : 1;
  for (size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += size_t(n);
  }
}

}  // namespace rv::cli
