// A minimal JSON writer for the command line's --json output, and the switch that keeps
// stdout for the one JSON document.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rv::cli {

std::string JsonString(const std::string& s);
// A JSON array of the values given (each already JSON).
std::string JsonArray(const std::vector<std::string>& values);
// A JSON array of strings.
std::string JsonStrings(const std::vector<std::string>& strings);

// One JSON object built key by key, in the order added.
class JsonObject {
 public:
  JsonObject& Raw(const char* key, const std::string& json);
  JsonObject& Str(const char* key, const std::string& s) { return Raw(key, JsonString(s)); }
  JsonObject& Num(const char* key, int64_t v) { return Raw(key, std::to_string(v)); }
  JsonObject& Bool(const char* key, bool v) { return Raw(key, v ? "true" : "false"); }
  std::string Text() const { return "{" + body_ + "}"; }

 private:
  std::string body_;
};

// While one lives with on = true, whatever the commands print on stdout goes to /dev/null;
// Emit writes the JSON document on the real stdout. With on = false it does nothing.
class JsonStdout {
 public:
  explicit JsonStdout(bool on);
  ~JsonStdout();
  JsonStdout(const JsonStdout&) = delete;
  JsonStdout& operator=(const JsonStdout&) = delete;
  bool on() const { return saved_ >= 0; }
  void Emit(const std::string& document);

 private:
  int saved_ = -1;  // the real stdout, duplicated
};

}  // namespace rv::cli
