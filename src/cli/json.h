// A minimal JSON writer for the command line's --json output.
#pragma once

#include <cstdint>
#include <string>

namespace rv::cli {

std::string JsonString(const std::string& s);

}  // namespace rv::cli
