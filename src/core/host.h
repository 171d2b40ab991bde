// The engine's view of the windows: a narrow interface through which tasks report.
// The GUI marshals each call to the window thread (blocking where the window must answer
// before the task goes on, queued otherwise); the command line prints; tests script it.
#pragma once

#include <cstdint>
#include <string>

namespace rv {

struct Question {
  std::string text;          // "\r\n" separates lines
  bool choice = false;       // AskChoice: captions and default answer below apply
  std::string upper = "да";  // caption of the button that answers true
  std::string lower = "нет";
  char defaultAnswer = 'n';
};

// Main-window progress messages.
constexpr int kMsgTaskDone = 1032;        // posted: completion code, result
constexpr int kMsgCheckProgress = 1033;   // stream-check window: code, value
constexpr int kMsgMainProgress = 1034;    // writer / reconstruction: 5, percent
constexpr int kMsgKeyframeProgress = 1035;  // entries done, keyframes found
constexpr int kMsgRefit = 1036;

class Host {
 public:
  virtual ~Host() = default;
  // The message list or the block labels changed (queued; the view re-reads engine state).
  virtual void MessagesChanged() {}
  virtual void LabelsChanged() {}
  // A question; blocks until answered. Returns the answer (the dialog's last answer).
  virtual bool Ask(const Question& q) = 0;
  // Stream-check window message 1033. Codes 5 and 6 are progress and may be coalesced;
  // every other code blocks until the window has handled it. text goes with codes 5/6.
  virtual void CheckMessage(int code, int64_t value, const std::string& text) {}
  // Main-window progress (1034, 1035); may be coalesced.
  virtual void MainProgress(int message, int64_t wParam, int64_t lParam) {}
  // Message 1032, posted when a task ends.
  virtual void TaskDone(int code, int result) {}
};

// The host in use; a silent one that answers "no" until a front end installs its own.
Host& CurrentHost();
void SetHost(Host* host);

// Calls that go through the host; from an abandoned (killed) worker they are dropped.
void NotifyMessagesChanged();
void NotifyLabelsChanged();
void SendCheckMessage(int code, int64_t value, const std::string& text = {});
void SendMainProgress(int message, int64_t wParam, int64_t lParam);

}  // namespace rv
