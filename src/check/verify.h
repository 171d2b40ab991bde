// The index check: loads the file's own idx1 and checks each entry against the stream.
#pragma once

namespace rv {

// The task routine "verifyIDX1": true when every entry names the block at its offset.
bool verifyIDX1();

}  // namespace rv
