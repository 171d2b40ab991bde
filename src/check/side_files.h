// Side files of a check: ".2fix" (bad-block list and index), ".idx1" (index alone) and
// ".errors.txt" (the bad-block grid as a text table).
#pragma once

#include <string>

#include "riff/bytes.h"

namespace rv {

enum class SaveOutcome { Written, Declined, Failed };

// The ".2fix" image of the current bad-block list and index for a source named sourceName
// (the name is stored without its directory).
Bytes Make2fix(const std::string& sourceName);
// SaveCrashedBlo: asks before replacing an existing file.
SaveOutcome SaveCrashedBlo(const std::string& fileName, const std::string& sourceName);
// RestoreCrashedBlo: replaces the bad-block list and the index when the file is a ".2fix"
// of a source with the same file name (letter case aside, Cyrillic included). Loads only the
// records the file holds, whatever its size fields claim. False when nothing was loaded.
bool RestoreCrashedBlo(const std::string& fileName, const std::string& sourceName);
// The grid as ".errors.txt"; asks before replacing an existing file.
SaveOutcome SaveErrorsList(const std::string& fileName);
// The index alone as an idx1 chunk; asks before replacing an existing file.
SaveOutcome SaveIndexOnly(const std::string& fileName);
Bytes MakeIdx1Chunk();

// Lower case for Latin and Cyrillic letters of a UTF-8 text.
std::string LowerLatinCyrillic(const std::string& s);
// The file name part of a path.
std::string FileNamePart(const std::string& path);
bool FileExists(const std::string& path);

}  // namespace rv
