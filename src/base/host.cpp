#include "base/host.h"

#include <atomic>

#include "base/tasks.h"

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
void SendCheckMessage(int code, int64_t value) {
  if (!CurrentWorkerAbandoned()) CurrentHost().CheckMessage(code, value);
}
void ReportProgress(const Progress& p) {
  if (!CurrentWorkerAbandoned()) CurrentHost().ShowProgress(p);
}
void ReportProgress(ProgressTarget target, int percent) {
  Progress p;
  p.target = target;
  p.percent = percent;
  ReportProgress(p);
}
void ReportProgress(ProgressTarget target, int percent, std::string text) {
  Progress p;
  p.target = target;
  p.percent = percent;
  p.hasText = true;
  p.text = std::move(text);
  ReportProgress(p);
}

}  // namespace rv
