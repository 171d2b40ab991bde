#include "cli/console_host.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "base/questions.h"

namespace rv::cli {

ConsoleHost::ConsoleHost(std::FILE* bar) {
  const bool terminal = ::isatty(2);
  bar_ = bar ? bar : terminal ? stderr : nullptr;
  interactive_ = ::isatty(0) && terminal;
}

std::string QuestionText(const Question& q) {
  std::string t = q.text.empty() ? std::string(kDefaultQuestionText) : q.text;
  std::string out;
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i] == '\r' && i + 1 < t.size() && t[i + 1] == '\n') continue;
    out.push_back(t[i]);
  }
  return out;
}

bool ConsoleHost::Ask(const Question& q) {
  // Without a terminal nobody can answer: the answer is "no", as closing the dialog gives.
  if (!interactive_) return false;
  std::lock_guard lock(mutex_);
  if (barShown_) {
    std::fputs("\r\033[K", bar_);
    std::fflush(bar_);
    barShown_ = false;
  }
  std::string upper = q.choice ? q.upper : "да";
  std::string lower = q.choice ? q.lower : "нет";
  for (;;) {
    std::fprintf(stderr, "%s\n  [1] %s  [2] %s > ", QuestionText(q).c_str(), upper.c_str(),
                 lower.c_str());
    std::fflush(stderr);
    std::string line;
    if (!std::getline(std::cin, line)) return false;
    if (line == "1" || line == "y" || line == "д" || line == upper) return true;
    if (line == "2" || line == "n" || line == "н" || line == lower) return false;
    if (line.empty()) return q.choice && q.defaultAnswer == 'y';
  }
}

void ConsoleHost::DrawBar(int percent, const std::string& text) {
  if (!bar_) return;
  auto now = std::chrono::steady_clock::now();
  if (barShown_ && now - lastDraw_ < std::chrono::milliseconds(100) && percent < 100) return;
  lastDraw_ = now;
  if (percent < 0) percent = 0;
  if (percent > 100) percent = 100;
  constexpr int kWidth = 30;
  std::string bar(size_t(percent * kWidth / 100), '#');
  bar.resize(kWidth, '.');
  std::fprintf(bar_, "\r\033[K[%s] %3d%% %s", bar.c_str(), percent, text.c_str());
  std::fflush(bar_);
  barShown_ = true;
}

void ConsoleHost::ShowProgress(const Progress& p) {
  std::lock_guard lock(mutex_);
  if (p.percent < 0) return;
  switch (p.target) {
    case ProgressTarget::kStreamCheck: DrawBar(p.percent, p.text); break;
    case ProgressTarget::kMain: DrawBar(p.percent, {}); break;
    case ProgressTarget::kKeyframes:
      DrawBar(p.percent, p.text + "  опорных кадров: " + std::to_string(p.found));
      break;
  }
}

void ConsoleHost::Draw(int percent, const std::string& text) {
  std::lock_guard lock(mutex_);
  DrawBar(percent, text);
}

void ConsoleHost::TaskDone(int, int) {}

void ConsoleHost::EndProgress() {
  std::lock_guard lock(mutex_);
  if (barShown_) {
    std::fputs("\r\033[K", bar_);
    std::fflush(bar_);
    barShown_ = false;
  }
}

}  // namespace rv::cli
