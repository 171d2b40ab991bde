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

// Where a progress report is shown: the stream-check window's bar and pointer label, the main
// window's save gauge and pointer label, the keyframe tab's gauge and counters.
enum class ProgressTarget { kStreamCheck, kMain, kKeyframes };

struct Progress {
  ProgressTarget target = ProgressTarget::kMain;
  int percent = -1;  // 0..100; -1 leaves the bar as it is
  bool hasText = false;
  std::string text;    // the position line beside the bar, when hasText
  int64_t found = -1;  // keyframes found so far (kKeyframes); -1 when not counted
};

class Host {
 public:
  virtual ~Host() = default;
  // The message list or the block labels changed (queued; the view re-reads engine state).
  virtual void MessagesChanged() {}
  virtual void LabelsChanged() {}
  // A question; blocks until answered. Returns the answer (the dialog's last answer).
  virtual bool Ask(const Question& q) = 0;
  // A stream-check prompt or bad-block notice (codes of the scanner); blocks until the window
  // has handled it.
  virtual void CheckMessage(int code, int64_t value) {}
  // Progress of the running task; only the latest report per target needs to be shown.
  virtual void ShowProgress(const Progress& p) {}
  // Message 1032, posted when a task ends.
  virtual void TaskDone(int code, int result) {}
};

// The host in use; a silent one that answers "no" until a front end installs its own.
Host& CurrentHost();
void SetHost(Host* host);

// Calls that go through the host; from an abandoned (killed) worker they are dropped.
void NotifyMessagesChanged();
void NotifyLabelsChanged();
void SendCheckMessage(int code, int64_t value = 0);
void ReportProgress(const Progress& p);
// Shorthands: a percentage alone, and a percentage with its position line.
void ReportProgress(ProgressTarget target, int percent);
void ReportProgress(ProgressTarget target, int percent, std::string text);

}  // namespace rv
