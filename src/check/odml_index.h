// The file's own OpenDML indexes read as index entries: each stream's super index ("indx" in
// its stream header list) names the standard indexes ("ix##" in the movi lists) that list the
// stream's chunks part by part.
#pragma once

#include <string>
#include <vector>

#include "check/index.h"

namespace rv {

// One standard index as read.
struct OdmlStdIndexRead {
  std::string name;  // its chunk ID ("ix01"; "indx" for a super index that lists chunks itself)
  int part = 1;      // the RIFF part (counted from 1) that holds the index chunk
  // The chunk is an index of chunks that holds every entry it claims, each of them behind the
  // first movi's "movi".
  bool sound = false;
  // Its chunks in its order: ckid the index's chunk ID, kKeyframeFlag unless the entry says
  // otherwise, offsets from the first movi's "movi" to the chunk's ID, payload sizes.
  std::vector<IndexEntry> entries;
};

struct OdmlIndexes {
  std::vector<OdmlStdIndexRead> indexes;  // streams in header order, each in its super index order
  // Every entry of every index, in file order.
  std::vector<IndexEntry> Merged() const;
};

// Reads every OpenDML index of the source (it must be open; the block table read). Positions
// in the indexes are stream positions (the file as its writer laid it out). Empty when no indx
// parses as an index. A standard index named again (by any super index) is not read again but
// listed as unsound; all index chunks read together never exceed the file's size, whatever
// counts they claim. Unused super index slots (all zeros) are skipped.
OdmlIndexes ReadOdmlIndexes();

}  // namespace rv
