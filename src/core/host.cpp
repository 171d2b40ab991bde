#include "core/host.h"

#include <atomic>

#include "core/tasks.h"

namespace rv {

namespace {
// Until a front end installs its own host, questions are answered "no" and nothing is shown.
class SilentHost : public Host {
 public:
  bool Ask(const Question&) override { return false; }
};
SilentHost g_silent;
std::atomic<Host*> g_host{&g_silent};
}  // namespace

Host& CurrentHost() { return *g_host.load(); }
void SetHost(Host* host) { g_host.store(host ? host : &g_silent); }

void NotifyMessagesChanged() {
  if (!CurrentWorkerAbandoned()) CurrentHost().MessagesChanged();
}
void NotifyLabelsChanged() {
  if (!CurrentWorkerAbandoned()) CurrentHost().LabelsChanged();
}
void SendCheckMessage(int code, int64_t value, const std::string& text) {
  if (!CurrentWorkerAbandoned()) CurrentHost().CheckMessage(code, value, text);
}
void SendMainProgress(int message, int64_t wParam, int64_t lParam) {
  if (!CurrentWorkerAbandoned()) CurrentHost().MainProgress(message, wParam, lParam);
}

}  // namespace rv
