#include "app/task_table.h"

#include "base/tasks.h"
#include "check/scanner.h"
#include "check/verify.h"
#include "decode/keyframes.h"
#include "join/join.h"
#include "output/reconstruction.h"
#include "output/writer.h"

namespace rv {

void InstallTaskRoutines() {
  SetTaskRoutine("createIDX1", createIDX1);
  SetTaskRoutine("verifyIDX1", verifyIDX1);
  SetTaskRoutine("saveOUT", saveOUT);
  SetTaskRoutine("reconstruction", reconstruction);
  SetTaskRoutine("findKK", FindKK);
  SetTaskRoutine("doJOIN", doJOIN);
}

}  // namespace rv
