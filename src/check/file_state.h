// Resetting the state that describes the open file, as opening a file does: the source and
// its read cache, the exclusion list, the block table and header records, the index, the bad
// blocks and the grid.
#pragma once

namespace rv {

void ResetFileState();

}  // namespace rv
