#include "base/messages.h"

#include <mutex>

#include "base/host.h"
#include "base/tasks.h"

namespace rv {

namespace {
struct MessageLog {
  std::mutex mutex;
  std::vector<std::string> lines;
  uint64_t generation = 0;
};
MessageLog& Log() {
  static MessageLog log;
  return log;
}
}  // namespace

void AddMessage(const std::string& text) {
  if (CurrentWorkerAbandoned()) return;
  {
    std::lock_guard lock(Log().mutex);
    auto& lines = Log().lines;
    if (lines.size() >= kMaxMessageLines) lines.clear();
    lines.push_back(text);
    ++Log().generation;
  }
  NotifyMessagesChanged();
}

void ClearMessages() {
  if (CurrentWorkerAbandoned()) return;
  {
    std::lock_guard lock(Log().mutex);
    Log().lines.clear();
    ++Log().generation;
  }
  NotifyMessagesChanged();
}

std::vector<std::string> MessageLines() {
  std::lock_guard lock(Log().mutex);
  return Log().lines;
}

uint64_t MessagesGeneration() {
  std::lock_guard lock(Log().mutex);
  return Log().generation;
}

}  // namespace rv
