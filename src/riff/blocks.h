// The block table filled by the header walk (and by the header reconstruction), the tree of
// lines that shows it, and the look-ups other subsystems use.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rv {

struct BlockRecord {
  std::string Name;     // chunk ID
  std::string TypeTag;  // for RIFF, LIST, strh: the four characters after the size
  int32_t Parent = -1;  // index of the enclosing record; -1 for the root
  uint64_t Offset = 0;  // stream position of the chunk's ID
  uint64_t Size = 0;    // declared payload size + 8
  int32_t Node = -1;    // the tree line that shows this block
  char Kind = 0;        // 'v' or 'a' for a strf read as a video or audio format
};

// One line of the block tree: a block's line or a field line under it.
struct TreeLine {
  std::string text;
  int32_t parent = -1;  // index of the parent line, -1 for a top-level line
  int32_t block = -1;   // index of the block record this line shows, -1 for field lines
};

struct TreeModel {
  std::vector<TreeLine> lines;
  int32_t expandedLine = -1;               // the line expanded one level after a rebuild
  uint64_t generation = 0;                 // bumped at every change, so a view knows when to redraw
  static constexpr int32_t kRemoved = -2;  // parent of a line taken out of the tree
  int32_t Add(std::string text, int32_t parent, int32_t block = -1);
  // Takes the child lines of a line out of the tree (they stay in the array, detached).
  void RemoveChildren(int32_t line);
  void Clear();
};

std::vector<BlockRecord>& Blocks();
TreeModel& Tree();

bool HasBlock(const std::string& name, const std::string& typeTag);
// Whether the file has an index of its own: an idx1, or the OpenDML indexes (indx).
bool HasOwnIndex();
int32_t FindBlock(const std::string& name, const std::string& typeTag);
int32_t FindBlockAt(int32_t node);
bool HasChildBlocks(int32_t index);
char StreamKindOf(const BlockRecord& r);

}  // namespace rv
