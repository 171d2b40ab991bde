// The proposed name of the repaired file: directory + base + ".NNN" + extension.
#pragma once

#include <string>

namespace rv {

// True when the four characters are "." and three decimal digits.
bool IsNumberPart(const std::string& four);
// The name with its last three digits replaced by their value + 1 (at least three digits).
std::string IncrementNumber(const std::string& name);
// makeOutFN: the directory keeps its letter case (file systems here are case-sensitive), the
// file name is lower-cased; numbered on past existing files. A name without a directory goes
// into the program's directory, or the current one when that is not writable.
std::string makeOutFN(const std::string& source);

}  // namespace rv
