#include "gui/common/gui_host.h"

#include <QApplication>
#include <QMetaObject>
#include <QThread>
#include <QWidget>

#include "base/tasks.h"
#include "gui/common/question_dialog.h"

namespace {
GuiHost* g_active = nullptr;
}  // namespace

GuiHost* ActiveGuiHost() { return g_active; }

GuiHost::GuiHost(QObject* parent) : QObject(parent) {
  timer_.setSingleShot(true);
  timer_.setInterval(kProgressPeriodMs);
  connect(&timer_, &QTimer::timeout, this, &GuiHost::OnTimer);
}

GuiHost::~GuiHost() {
  if (g_active == this) {
    rv::SetHost(nullptr);
    g_active = nullptr;
  }
}

void GuiHost::Install() {
  g_active = this;
  rv::SetHost(this);
}

bool GuiHost::OnWindowThread() const { return QThread::currentThread() == thread(); }

template <class F>
void GuiHost::RunBlocking(F&& f) {
  if (OnWindowThread()) {
    f();
    return;
  }
  // The epoch is taken before the abandonment is looked at: a kill sets the abandonment
  // first and bumps the epoch after, so a call that passes the check below carries an epoch
  // that the kill will have changed by the time the window runs it.
  uint64_t epoch = killEpoch_.load();
  if (rv::CurrentWorkerAbandoned()) return;
  QMetaObject::invokeMethod(
      this,
      [this, epoch, &f] {
        if (epoch != killEpoch_.load()) return;
        f();
      },
      Qt::BlockingQueuedConnection);
}

void GuiHost::MessagesChanged() {
  if (messagesQueued_.exchange(true)) return;
  QMetaObject::invokeMethod(
      this,
      [this] {
        messagesQueued_ = false;
        Q_EMIT messagesChanged();
      },
      Qt::QueuedConnection);
}

void GuiHost::LabelsChanged() {
  if (labelsQueued_.exchange(true)) return;
  QMetaObject::invokeMethod(
      this,
      [this] {
        labelsQueued_ = false;
        Q_EMIT labelsChanged();
      },
      Qt::QueuedConnection);
}

bool GuiHost::Ask(const rv::Question& q) {
  bool answer = false;
  const uint64_t epoch = killEpoch_.load();
  RunBlocking([&] {
    // Behind a question that is open now; a worker killed meanwhile asks nothing.
    FormYesNo().WaitUntilClosed();
    if (epoch != killEpoch_.load()) return;
    QWidget* owner = QApplication::activeModalWidget();
    if (!owner) owner = QApplication::activeWindow();
    if (!owner) owner = owner_;
    answer = ShowQuestion(q, owner);
  });
  return answer;
}

void GuiHost::CheckMessage(int code, int64_t value) {
  RunBlocking([&] {
    FlushProgress();
    Q_EMIT checkMessage(code, qint64(value));
  });
}

void GuiHost::ShowProgress(const rv::Progress& p) {
  {
    std::lock_guard lock(progressMutex_);
    Latest& l = latest_[size_t(p.target)];
    if (!l.pending) {
      l.p = rv::Progress();
      l.p.target = p.target;
    }
    l.pending = true;
    if (p.percent >= 0) l.p.percent = p.percent;
    if (p.hasText) {
      l.p.hasText = true;
      l.p.text = p.text;
    }
    if (p.found >= 0) l.p.found = p.found;
  }
  ArmTimer();
}

void GuiHost::TaskDone(int code, int result) {
  uint64_t epoch = killEpoch_.load();
  QMetaObject::invokeMethod(
      this,
      [this, epoch, code, result] {
        if (epoch != killEpoch_.load()) return;  // the task was killed: no completion
        FlushProgress();
        Q_EMIT taskDone(code, result);
      },
      Qt::QueuedConnection);
}

void GuiHost::WorkerKilled() { ++killEpoch_; }

void GuiHost::ArmTimer() {
  if (timerArmed_.exchange(true)) return;
  QMetaObject::invokeMethod(
      this, [this] { timer_.start(); }, Qt::QueuedConnection);
}

void GuiHost::OnTimer() {
  timerArmed_ = false;
  FlushProgress();
}

void GuiHost::FlushProgress() {
  Latest taken[3];
  {
    std::lock_guard lock(progressMutex_);
    for (size_t i = 0; i < 3; ++i) std::swap(taken[i], latest_[i]);
  }
  for (const Latest& l : taken)
    if (l.pending) Q_EMIT progress(l.p);
}
