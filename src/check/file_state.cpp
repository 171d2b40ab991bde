#include "check/file_state.h"

#include "base/tasks.h"
#include "check/bad_blocks.h"
#include "check/index.h"
#include "riff/blocks.h"
#include "riff/header.h"
#include "riff/source.h"

namespace rv {

void ResetFileState() {
  SignsOff();
  Tree().Clear();
  Blocks().clear();
  ClearExclusions();
  ClearIndex();
  Index().continueCheck = 0;
  BadBlocks().clear();
  ResetGrid();
  ResetReadCache();
  LoadedFileName().clear();
}

}  // namespace rv
