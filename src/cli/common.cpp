#include "cli/common.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include "base/host.h"
#include "base/messages.h"
#include "base/text.h"
#include "cli/cli.h"
#include "cli/console_host.h"
#include "cli/json.h"
#include "output/movi_out.h"

namespace rv::cli {

bool ParsePartSize(const std::string& text) {
  if (!IsNumber(text) || text.size() > 15) return false;
  OdmlPartSize() = std::stoull(text);
  return true;
}

namespace {
std::atomic<bool> g_interrupted{false};
void OnInterrupt(int) {
  g_interrupted = true;
  RequestStop();
}
}  // namespace

bool ShowHelp(const std::vector<std::string>& args, std::initializer_list<const char*> texts) {
  if (std::find(args.begin(), args.end(), "--help") == args.end() &&
      std::find(args.begin(), args.end(), "-h") == args.end())
    return false;
  for (const char* t : texts) std::fputs(t, stdout);
  return true;
}

int Usage(std::initializer_list<const char*> texts) {
  for (const char* t : texts) std::fputs(t, stderr);
  return kExitUsage;
}

bool NextValue(const std::vector<std::string>& args, size_t& i, std::string& value) {
  if (i + 1 >= args.size()) return false;
  value = args[++i];
  return true;
}

InterruptAsStop::InterruptAsStop() : old_(std::signal(SIGINT, OnInterrupt)) {}
InterruptAsStop::~InterruptAsStop() { std::signal(SIGINT, old_); }

Completion RunTask(const std::string& name) {
  Completion c;
  {
    InterruptAsStop interrupt;
    c = Execute(name);
  }
  EndProgress();
  return c;
}

Completion RunTaskPolled(const std::string& name, const std::function<void()>& poll) {
  Completion c;
  {
    InterruptAsStop interrupt;
    std::atomic<bool> done{false};
    std::thread task([&] {
      c = Execute(name);
      done = true;
    });
    while (!done) {
      poll();
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    task.join();
  }
  EndProgress();
  return c;
}

void DrawProgress(int percent, const std::string& text) {
  if (auto* h = dynamic_cast<ConsoleHost*>(&CurrentHost())) h->Draw(percent, text);
}

void EndProgress() {
  if (auto* h = dynamic_cast<ConsoleHost*>(&CurrentHost())) h->EndProgress();
}

void PrintNewMessages(size_t& shown) {
  auto lines = MessageLines();
  if (shown > lines.size()) shown = 0;  // the list restarted after 500 lines
  for (; shown < lines.size(); ++shown) std::printf("%s\n", lines[shown].c_str());
}

void PrintRepairRebuildsHint() {
  std::printf(
      "• repair восстановит заголовок по блокам, найденным в файле, по данным потока или по "
      "файлу-донору (--donor)\n");
}

bool Interrupted() { return g_interrupted; }

std::string MessagesJson() { return JsonStrings(MessageLines()); }

int WorseStatus(int a, int b) {
  auto weight = [](int s) {
    return s == kExitUsage ? 3 : s == kExitError ? 2 : s == kExitOk ? 0 : 1;
  };
  return weight(b) > weight(a) ? b : a;
}

int RunBatch(const std::vector<std::string>& files, bool json,
             const std::function<int(const std::string& file, std::string& text,
                                     std::string& object)>& one) {
  JsonStdout out(json);
  std::vector<std::string> texts, objects;
  int rc = kExitOk;
  for (const std::string& f : files) {
    texts.emplace_back();
    objects.emplace_back();
    rc = WorseStatus(rc, one(f, texts.back(), objects.back()));
    if (Interrupted()) break;  // Ctrl-C ends the batch too
  }
  if (files.size() > 1) {
    std::printf("\nитог:\n");
    for (size_t i = 0; i < texts.size(); ++i)
      std::printf("%s: %s\n", files[i].c_str(), texts[i].c_str());
  }
  if (json) out.Emit(files.size() > 1 ? JsonArray(objects) : objects.front());
  return rc;
}

}  // namespace rv::cli
