// Resetting the state that describes the open file, as opening a file does.
#pragma once

#include <functional>

namespace rv {

// Subsystems that own per-file state register a reset here; ResetFileState runs them all.
void RegisterFileStateReset(std::function<void()> reset);
void ResetFileState();

}  // namespace rv
