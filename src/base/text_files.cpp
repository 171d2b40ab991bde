#include "base/text_files.h"

#include <cstdio>

#include "base/text.h"

namespace rv {

void AppendTextLine(const std::string& line, const std::string& fileName) {
  std::FILE* f = std::fopen(fileName.c_str(), "r+b");
  if (!f) f = std::fopen(fileName.c_str(), "w+b");
  if (!f) return;
  std::fseek(f, 0, SEEK_END);
  if (std::ftell(f) > 0) std::fwrite("\r\n", 1, 2, f);
  std::fwrite(line.data(), 1, line.size(), f);
  std::fclose(f);
}

std::string GridTextLine(const GridRow& row, bool cutCells) {
  std::string line;
  for (size_t i = 0; i < row.size(); ++i) {
    if (i) line += " | ";
    size_t width = i < 3 ? 5 : 10;
    if (cutCells || Utf8Length(row[i]) <= width)
      line += PadOrCut(row[i], width);
    else
      line += row[i];
  }
  return line;
}

void WriteGridText(const std::vector<GridRow>& grid, const std::string& fileName, char headerGap,
                   bool cutCells) {
  for (size_t r = 0; r < grid.size(); ++r) {
    AppendTextLine(GridTextLine(grid[r], cutCells), fileName);
    if (r == 0 && headerGap == 'y') AppendTextLine("", fileName);
  }
}

}  // namespace rv
