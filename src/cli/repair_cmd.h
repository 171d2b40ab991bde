// rivetta-cli verify and repair.
#pragma once

#include <string>
#include <vector>

namespace rv::cli {

int Verify(const std::vector<std::string>& args);
int Repair(const std::vector<std::string>& args);

}  // namespace rv::cli
