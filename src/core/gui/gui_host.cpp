#include "core/gui/gui_host.h"

#include <QApplication>
#include <QMetaObject>
#include <QThread>
#include <QWidget>

#include "core/gui/main_window.h"
#include "core/tasks.h"
#include "ui/question_dialog.h"

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

void GuiHost::SetMainWindow(TFormMain* window) {
  if (window_) disconnect(this, nullptr, window_, nullptr);
  window_ = window;
  if (window_) connect(this, &GuiHost::checkProgress, window_, &TFormMain::CheckProgress);
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
        if (window_) window_->RefreshMessages();
      },
      Qt::QueuedConnection);
}

void GuiHost::LabelsChanged() {
  if (labelsQueued_.exchange(true)) return;
  QMetaObject::invokeMethod(
      this,
      [this] {
        labelsQueued_ = false;
        if (window_) window_->RefreshLabels();
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
    if (!owner) owner = window_;
    answer = ShowQuestion(q, owner);
  });
  return answer;
}

void GuiHost::CheckMessage(int code, int64_t value, const std::string& text) {
  if (code == 5 || code == 6) {
    {
      std::lock_guard lock(progressMutex_);
      Latest& l = code == 5 ? check5_ : check6_;
      l.pending = true;
      l.a = value;
      l.text = text;
    }
    ArmTimer();
    return;
  }
  RunBlocking([&] {
    FlushProgress();
    Q_EMIT checkMessage(code, qint64(value), QString::fromStdString(text));
  });
}

void GuiHost::MainProgress(int message, int64_t wParam, int64_t lParam) {
  {
    std::lock_guard lock(progressMutex_);
    Latest* l = nullptr;
    if (message == rv::kMsgMainProgress && wParam == 5)
      l = &main1034_;
    else if (message == rv::kMsgKeyframeProgress)
      l = &main1035_;
    if (!l) return;
    l->pending = true;
    l->a = wParam;
    l->b = lParam;
  }
  ArmTimer();
}

void GuiHost::TaskDone(int code, int result) {
  uint64_t epoch = killEpoch_.load();
  QMetaObject::invokeMethod(
      this,
      [this, epoch, code, result] {
        if (epoch != killEpoch_.load()) return;  // the task was killed: no completion
        if (window_) window_->TaskCompleted(code, result);
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
  Latest c5, c6, m4, m5;
  {
    std::lock_guard lock(progressMutex_);
    std::swap(c5, check5_);
    std::swap(c6, check6_);
    std::swap(m4, main1034_);
    std::swap(m5, main1035_);
  }
  if (c5.pending) Q_EMIT checkProgress(5, qint64(c5.a), QString::fromStdString(c5.text));
  if (c6.pending) Q_EMIT checkProgress(6, qint64(c6.a), QString::fromStdString(c6.text));
  if (window_) {
    if (m4.pending) window_->MainProgressMessage(rv::kMsgMainProgress, m4.a, m4.b);
    if (m5.pending) window_->MainProgressMessage(rv::kMsgKeyframeProgress, m5.a, m5.b);
  }
}
