// The task table: the routine behind each task name of the dispatch. The only engine code
// that knows every subsystem; each program installs it at start.
#pragma once

namespace rv {

void InstallTaskRoutines();

}  // namespace rv
