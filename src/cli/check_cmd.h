// rivetta-cli check: the stream check with its options, shared with the commands built on it.
#pragma once

#include <string>
#include <vector>

namespace rv::cli {

struct CheckArgs {
  std::string file;
  std::string saveErrors, loadErrors, listFile, indexOut;
  bool continueCheck = false;
};

// Parses the options of the stream check that also other commands accept (--no-key-00db,
// --yes, --buffer MB, ...) into the engine's options. Returns false with a message on a bad
// value; consumed arguments are removed from args.
bool ParseCheckOptions(std::vector<std::string>& args, std::string& error);
extern const char* const kCheckOptionsHelp;

// Opens the file and reads its header as "info" does; false (with the messages printed) when
// the file could not be read.
// opened (when given) tells whether the file itself could be opened.
bool OpenForCheck(const std::string& file, bool* opened = nullptr);
// Runs the stream check with a progress bar and Ctrl-C as stop; true when it reached the end.
bool RunStreamCheck();
void PrintGrid();
// The bad-block list as a JSON array (the keys of the README).
std::string BadBlocksJson();

int Check(const std::vector<std::string>& args);

}  // namespace rv::cli
