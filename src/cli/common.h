// Pieces every command shares: help and usage texts, option values, tasks run with Ctrl-C as
// their stop request, and the message lines printed as they come.
#pragma once

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "base/tasks.h"

namespace rv::cli {

// --part-size: the OpenDML part size of the writer and the join; false when not a number.
bool ParsePartSize(const std::string& text);

// Prints the texts on stdout when args ask for help ("--help" or "-h"); then true.
bool ShowHelp(const std::vector<std::string>& args, std::initializer_list<const char*> texts);
// Prints the texts on stderr and gives the exit code of bad usage.
int Usage(std::initializer_list<const char*> texts);
// The argument after args[i] into value, i moved onto it; false when there is none.
bool NextValue(const std::vector<std::string>& args, size_t& i, std::string& value);

// While one lives, Ctrl-C requests a stop of the running task instead of ending the program.
class InterruptAsStop {
 public:
  InterruptAsStop();
  ~InterruptAsStop();
  InterruptAsStop(const InterruptAsStop&) = delete;
  InterruptAsStop& operator=(const InterruptAsStop&) = delete;

 private:
  void (*old_)(int);
};

// True once Ctrl-C was pressed while an InterruptAsStop lived: a batch ends after its file.
bool Interrupted();

// Runs the task on the calling thread with Ctrl-C as its stop request, then clears the
// progress bar so that what follows starts on a clean line.
Completion RunTask(const std::string& name);
// Runs the task on a thread of its own with Ctrl-C as its stop request, calling poll every
// 100 ms on the calling thread until it ends, then clears the progress bar.
Completion RunTaskPolled(const std::string& name, const std::function<void()>& poll);
// Draws the progress bar of the console host: percent and a text beside it.
void DrawProgress(int percent, const std::string& text);
// Clears the progress bar of the console host.
void EndProgress();
// Prints the message lines added since shown and moves shown past them.
void PrintNewMessages(size_t& shown);
// For a file that was read but has no header or stream to work on: what `repair` can do.
void PrintRepairRebuildsHint();
// The message list as a JSON array of strings.
std::string MessagesJson();

// The exit status of a batch: an error (1) outweighs an early end (3), which outweighs
// success (0); bad usage (2) outweighs all.
int WorseStatus(int a, int b);
// Works on each file in turn (one gives its status, its summary line and its JSON object),
// goes on after a file that fails and ends after Ctrl-C. Then, for several files, a line per
// file ("FILE: text"); with json, the one document on stdout (an object, or an array of them
// for several files). The worst status.
int RunBatch(
    const std::vector<std::string>& files, bool json,
    const std::function<int(const std::string& file, std::string& text, std::string& object)>& one);

}  // namespace rv::cli
