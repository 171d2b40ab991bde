// The command-line front end: rivetta-cli COMMAND [options] over the same engine as the GUI.
#pragma once

namespace rv::cli {

// Exit codes a script can rely on.
constexpr int kExitOk = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitIncomplete = 3;

int Main(int argc, char** argv);

}  // namespace rv::cli
