// One worker at a time runs a named task; the dispatch table and its completion codes.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace rv {

// The six task names, in the order the dispatch compares them.
inline constexpr const char* kTaskNames[] = {"createIDX1",     "verifyIDX1", "saveOUT",
                                             "reconstruction", "findKK",     "doJOIN"};

struct Completion {
  int code = 0;    // wParam of message 1032
  int result = 0;  // lParam
};

// A task routine returns its success; the dispatch turns it into the completion.
using TaskRoutine = std::function<bool()>;
// Installs (or, with an empty routine, removes) the routine behind one of the six names.
void SetTaskRoutine(const std::string& name, TaskRoutine routine);
// The completion for a command without running anything: code by the table, result 0.
Completion CompletionFor(const std::string& command, bool success);
// Runs the task named by command on the calling thread (stop flag cleared first) and
// returns its completion. An unknown name, or one whose routine is not installed, runs
// nothing and gives 0, 0.
Completion Execute(const std::string& command);

std::string& TaskCommand();
// Starts the worker for TaskCommand(); does nothing and returns false while a worker exists.
// When the task ends the worker calls Host::TaskDone(code, result).
bool threadIDX1Start();
bool WorkerExists();
// Completion step 1: wait for the ended worker, free it, clear the stop flag.
void FinishWorker();
// Kill: the worker is abandoned at once; its later host calls are dropped and its stop
// checks answer yes, so it ends at its next step. No completion follows.
void KillWorker();

// The stop flag. Tasks call StopRequested() after every step.
void RequestStop();
void ClearStop();
bool StopRequested();
// True on the thread of an abandoned worker.
bool CurrentWorkerAbandoned();

// Yielding between steps when the high-priority box is unchecked.
void YieldStep(bool highPriority);

}  // namespace rv
