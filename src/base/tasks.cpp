#include "base/tasks.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "base/file_context.h"
#include "base/host.h"

namespace rv {

namespace {

struct TaskEntry {
  const char* name;
  int code;
  bool resultIsSuccess;  // lParam is 1 on success; otherwise always 0
};
constexpr TaskEntry kTable[] = {
    {"createIDX1", 100, true},     {"verifyIDX1", 100, true}, {"saveOUT", 0, false},
    {"reconstruction", 101, true}, {"findKK", 103, false},    {"doJOIN", 0, false},
};

std::mutex g_routinesMutex;
std::map<std::string, TaskRoutine>& Routines() {
  static std::map<std::string, TaskRoutine> r;
  return r;
}

std::atomic<uint8_t> g_stop{0};
// Orders a kill against the completion: once a run is abandoned it posts no completion.
std::mutex g_killMutex;

// One run of the worker. A killed run is abandoned: its thread is detached and every host
// call and stop check on that thread sees the flag.
struct WorkerRun {
  std::thread thread;
  std::atomic<bool> abandoned{false};
  std::mutex doneMutex;
  std::condition_variable doneCv;
  bool done = false;
};
std::shared_ptr<WorkerRun> g_worker;  // touched by the window thread only
thread_local WorkerRun* t_run = nullptr;

const TaskEntry* FindEntry(const std::string& command) {
  for (const TaskEntry& e : kTable)
    if (command == e.name) return &e;
  return nullptr;
}

}  // namespace

void SetTaskRoutine(const std::string& name, TaskRoutine routine) {
  std::lock_guard lock(g_routinesMutex);
  if (routine)
    Routines()[name] = std::move(routine);
  else
    Routines().erase(name);
}

Completion CompletionFor(const std::string& command, bool success) {
  const TaskEntry* e = FindEntry(command);
  if (!e) return {};
  return {e->code, e->resultIsSuccess && success ? 1 : 0};
}

Completion Execute(const std::string& command) {
  const TaskEntry* e = FindEntry(command);
  TaskRoutine routine;
  if (e) {
    std::lock_guard lock(g_routinesMutex);
    auto it = Routines().find(command);
    if (it != Routines().end()) routine = it->second;
  }
  if (!routine) return {};  // a task that is not there behaves as any other text
  g_stop = 0;
  bool ok = routine();
  return CompletionFor(command, ok);
}

std::string& TaskCommand() {
  static std::string c;
  return c;
}

bool threadIDX1Start() {
  if (g_worker) return false;
  auto run = std::make_shared<WorkerRun>();
  std::string command = TaskCommand();
  run->thread = std::thread([run, command, context = WindowContext()] {
    t_run = run.get();
    // The task works on the context it was started on, whatever the window does after a kill.
    BindThreadContext(context);
    Completion c = Execute(command);
    {
      std::lock_guard lock(run->doneMutex);
      run->done = true;
    }
    run->doneCv.notify_all();
    std::lock_guard lock(g_killMutex);
    if (!run->abandoned) CurrentHost().TaskDone(c.code, c.result);
    t_run = nullptr;
  });
  g_worker = run;
  return true;
}

bool WorkerExists() { return g_worker != nullptr; }

void FinishWorker() {
  if (g_worker) {
    if (g_worker->thread.joinable()) g_worker->thread.join();
    g_worker.reset();
  }
  g_stop = 0;
}

void KillWorker() {
  if (!g_worker) return;
  std::shared_ptr<WorkerRun> run = std::move(g_worker);
  {
    std::lock_guard lock(g_killMutex);
    run->abandoned = true;
  }
  // Give the task a moment to reach its next step, so it is gone before the user starts over;
  // a task blocked elsewhere (a read that hangs) is left behind detached with the file state
  // it works on, and ends when it next looks. The window goes on with a copy of that state.
  bool done = false;
  {
    std::unique_lock lock(run->doneMutex);
    done = run->doneCv.wait_for(lock, std::chrono::milliseconds(500), [&] { return run->done; });
  }
  if (!done) DetachWindowContext();
  if (run->thread.joinable()) run->thread.detach();
}

void RequestStop() { g_stop = 1; }
void ClearStop() { g_stop = 0; }

bool CurrentWorkerAbandoned() { return t_run && t_run->abandoned.load(); }

bool StopRequested() { return g_stop.load() == 1 || CurrentWorkerAbandoned(); }

void YieldStep(bool highPriority) {
  if (!highPriority) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

}  // namespace rv
