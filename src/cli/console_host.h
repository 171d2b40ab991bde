// The command line's host: questions answered from --yes/--no or at the terminal, progress
// drawn as a bar on stderr when it is a terminal.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

#include "core/host.h"

namespace rv::cli {

class ConsoleHost : public Host {
 public:
  ConsoleHost();
  bool Ask(const Question& q) override;
  void CheckMessage(int code, int64_t value, const std::string& text) override;
  void MainProgress(int message, int64_t wParam, int64_t lParam) override;
  void TaskDone(int code, int result) override;
  // Clears the progress line before other output.
  void EndProgress();
  bool interactive() const { return interactive_; }

 private:
  void DrawBar(int percent, const std::string& text);
  bool interactive_ = false;  // stdin and stderr are terminals
  bool barTerminal_ = false;  // stderr is a terminal: progress is drawn
  bool barShown_ = false;
  std::mutex mutex_;
  std::chrono::steady_clock::time_point lastDraw_{};
};

// Text of a question for the terminal: "\r\n" becomes a newline.
std::string QuestionText(const Question& q);

}  // namespace rv::cli
