// Finding the LIST movi header of a file on disk without opening it as the source.
#pragma once

#include <cstdint>
#include <string>

namespace rv {

// The file position of the LIST movi header of a file on disk (top-level walk), or -1.
// A failure that has a text puts it into status (LabelME).
int64_t GetMoviPtr(const std::string& file, std::string* status = nullptr);

}  // namespace rv
