// The two small text-file writers: one line appended, and the bad-block grid as a table.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace rv {

using GridRow = std::array<std::string, 9>;

// Appends line to the file (created when missing), with CR LF before it unless the file is
// empty; the file never ends with a line break. Does nothing when the file cannot be opened.
void AppendTextLine(const std::string& line, const std::string& fileName);
// One line per row: cells 0-2 padded or cut to 5 characters, cells 3-8 to 10, joined by
// " | ". With headerGap 'y' a blank line follows row 0. Appends to the file.
// With cutCells false a longer cell is kept whole and widens its line.
void WriteGridText(const std::vector<GridRow>& grid, const std::string& fileName, char headerGap,
                   bool cutCells = true);
// The line WriteGridText writes for one row.
std::string GridTextLine(const GridRow& row, bool cutCells = true);

}  // namespace rv
