#include "core/task_routines.h"

#include "check/scanner.h"
#include "core/tasks.h"

namespace rv {

void InstallTaskRoutines() { SetTaskRoutine("createIDX1", createIDX1); }

}  // namespace rv
