// Installs the routines of the tasks that exist behind their names in the dispatch.
#pragma once

namespace rv {

void InstallTaskRoutines();

}  // namespace rv
