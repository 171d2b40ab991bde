// The engine's host for the windows. Every call a task makes from the worker thread is carried
// to the window thread: questions and the stream-check prompts block the worker until the
// window has answered; progress is kept as the latest value and shown by a timer about thirty
// times a second, so that a task taking millions of steps is never slowed by the window;
// message-list and label changes and the end of a task are queued.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "core/host.h"

class TFormMain;

class GuiHost : public QObject, public rv::Host {
  Q_OBJECT

 public:
  // Forwarding period of the progress timer, in milliseconds.
  static constexpr int kProgressPeriodMs = 33;

  // Lives on the thread that creates it, which must be the window thread.
  explicit GuiHost(QObject* parent = nullptr);
  ~GuiHost() override;

  // Makes this the engine's host (rv::SetHost) and the one ActiveGuiHost() returns.
  void Install();
  // The main window that shows the message list, the labels, progress and completions.
  void SetMainWindow(TFormMain* window);
  TFormMain* MainWindow() const { return window_; }

  // rv::Host
  void MessagesChanged() override;
  void LabelsChanged() override;
  bool Ask(const rv::Question& q) override;
  void CheckMessage(int code, int64_t value, const std::string& text) override;
  void MainProgress(int message, int64_t wParam, int64_t lParam) override;
  void TaskDone(int code, int result) override;

  // Forwards the progress kept so far at once (window thread). The completion handler runs
  // it first, so that the last progress of a task never arrives after its end.
  void FlushProgress();
  // The worker was killed: calls of it still on their way to the window are dropped (a
  // question is answered "no", a completion is not handled).
  void WorkerKilled();

 Q_SIGNALS:
  // Stream-check window message 1033 with a code other than 5 and 6, on the window thread;
  // the worker waits until every receiver has returned (connect directly).
  void checkMessage(int code, qint64 value, const QString& text);
  // Codes 5 and 6 of message 1033: the latest value and text of each, at most about thirty
  // times a second.
  void checkProgress(int code, qint64 value, const QString& text);

 private:
  bool OnWindowThread() const;
  // Runs f on the window thread and waits for it; a direct call on the window thread.
  template <class F>
  void RunBlocking(F&& f);
  void ArmTimer();
  void OnTimer();

  TFormMain* window_ = nullptr;
  QTimer timer_;

  // Bumped by each kill; a call that left the worker before the kill carries the old value.
  std::atomic<uint64_t> killEpoch_{0};
  std::atomic<bool> messagesQueued_{false};
  std::atomic<bool> labelsQueued_{false};
  std::atomic<bool> timerArmed_{false};

  // Latest progress, guarded by progressMutex_.
  struct Latest {
    bool pending = false;
    int64_t a = 0, b = 0;
    std::string text;
  };
  std::mutex progressMutex_;
  Latest check5_, check6_, main1034_, main1035_;
};

// The host installed by GuiHost::Install, or null.
GuiHost* ActiveGuiHost();
