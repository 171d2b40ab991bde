#include "core/file_state.h"

#include <vector>

#include "check/bad_blocks.h"
#include "check/index.h"
#include "core/tasks.h"
#include "riff/blocks.h"
#include "riff/header.h"
#include "riff/source.h"

namespace rv {

static std::vector<std::function<void()>>& Resets() {
  static std::vector<std::function<void()>> r;
  return r;
}

void RegisterFileStateReset(std::function<void()> reset) { Resets().push_back(std::move(reset)); }

void ResetFileState() {
  SignsOff();
  Tree().Clear();
  Blocks().clear();
  ClearExclusions();
  ClearIndex();
  Index().continueCheck = 0;
  BadBlocks().clear();
  ResetGrid();
  for (auto& r : Resets()) r();
  ResetReadCache();
  LoadedFileName().clear();
}

}  // namespace rv
