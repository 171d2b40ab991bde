// The command line's host: questions answered from --yes/--no or at the terminal, progress
// drawn as a bar on stderr when it is a terminal.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

#include "base/host.h"

namespace rv::cli {

class ConsoleHost : public Host {
 public:
  // The bar goes to stderr when it is a terminal, or to the stream given.
  explicit ConsoleHost(std::FILE* bar = nullptr);
  bool Ask(const Question& q) override;
  void ShowProgress(const Progress& p) override;
  void TaskDone(int code, int result) override;
  // Draws the bar for a task that reports no progress of its own.
  void Draw(int percent, const std::string& text);
  // Clears the progress line before other output.
  void EndProgress();
  bool interactive() const { return interactive_; }

 private:
  void DrawBar(int percent, const std::string& text);
  bool interactive_ = false;  // stdin and stderr are terminals
  std::FILE* bar_ = nullptr;  // where progress is drawn; none when stderr is no terminal
  bool barShown_ = false;
  std::mutex mutex_;
  std::chrono::steady_clock::time_point lastDraw_{};
};

// Text of a question for the terminal: "\r\n" becomes a newline.
std::string QuestionText(const Question& q);

}  // namespace rv::cli
