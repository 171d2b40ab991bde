// Header reconstruction: a byte search of the whole stream for the header blocks a repair
// needs, into a flat block table under "ROOT".
#pragma once

namespace rv {

// The task routine "reconstruction": true when the search ended before the end of the file
// (everything needed was found, or it was stopped).
bool reconstruction();
// What the window does when the task succeeded: the tree and the records from the new table.
// Opens the source for the format checks and closes it again.
void FinishReconstruction();

}  // namespace rv
