// rivetta-cli join, codecs and keyframes.
#pragma once

#include <string>
#include <vector>

namespace rv::cli {

int JoinCmd(const std::vector<std::string>& args);
int Codecs(const std::vector<std::string>& args);
int KeyframesCmd(const std::vector<std::string>& args);

}  // namespace rv::cli
