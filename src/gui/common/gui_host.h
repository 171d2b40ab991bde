// The engine's host for the windows. Every call a task makes from the worker thread is carried
// to the window thread: questions and the stream-check prompts block the worker until the
// window has answered; progress is kept as the latest value and shown by a timer about thirty
// times a second, so that a task taking millions of steps is never slowed by the window;
// message-list and label changes and the end of a task are queued.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "base/host.h"

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
  // The window a question is shown over when no other window is active.
  void SetDialogOwner(QWidget* owner) { owner_ = owner; }

  // rv::Host
  void MessagesChanged() override;
  void LabelsChanged() override;
  bool Ask(const rv::Question& q) override;
  void CheckMessage(int code, int64_t value) override;
  void ShowProgress(const rv::Progress& p) override;
  void TaskDone(int code, int result) override;

  // Forwards the progress kept so far at once (window thread). The end of a task runs it
  // first, so that the last progress of a task never arrives after its end.
  void FlushProgress();
  // The worker was killed: calls of it still on their way to the window are dropped (a
  // question is answered "no", a completion is not handled).
  void WorkerKilled();

 Q_SIGNALS:
  // The message list or the block labels changed (coalesced).
  void messagesChanged();
  void labelsChanged();
  // A stream-check prompt or notice, on the window thread; the worker waits until every
  // receiver has returned (connect directly).
  void checkMessage(int code, qint64 value);
  // The latest progress of one target, at most about thirty times a second per target.
  void progress(const rv::Progress& p);
  // A task ended (completion code and result); its last progress has been shown.
  void taskDone(int code, int result);

 private:
  bool OnWindowThread() const;
  // Runs f on the window thread and waits for it; a direct call on the window thread.
  template <class F>
  void RunBlocking(F&& f);
  void ArmTimer();
  void OnTimer();

  QPointer<QWidget> owner_;
  QTimer timer_;

  // Bumped by each kill; a call that left the worker before the kill carries the old value.
  std::atomic<uint64_t> killEpoch_{0};
  std::atomic<bool> messagesQueued_{false};
  std::atomic<bool> labelsQueued_{false};
  std::atomic<bool> timerArmed_{false};

  // Latest progress per target, guarded by progressMutex_: the newest percentage, text and
  // count, each kept until a report carries a newer one.
  struct Latest {
    bool pending = false;
    rv::Progress p;
  };
  std::mutex progressMutex_;
  Latest latest_[3];
};

// The host installed by GuiHost::Install, or null.
GuiHost* ActiveGuiHost();
