#include "riff/blocks.h"

#include <cctype>

#include "base/file_context.h"

namespace rv {

namespace {
struct BlockTable {
  std::vector<BlockRecord> blocks;
};
}  // namespace

std::vector<BlockRecord>& Blocks() { return Context().Get<BlockTable>().blocks; }

TreeModel& Tree() { return Context().Get<TreeModel>(); }

int32_t TreeModel::Add(std::string text, int32_t parent, int32_t block) {
  lines.push_back(TreeLine{std::move(text), parent, block});
  ++generation;
  return int32_t(lines.size() - 1);
}

void TreeModel::RemoveChildren(int32_t line) {
  for (TreeLine& l : lines)
    if (l.parent == line && line >= 0) l.parent = kRemoved;
  ++generation;
}

void TreeModel::Clear() {
  lines.clear();
  expandedLine = -1;
  ++generation;
}

int32_t FindBlock(const std::string& name, const std::string& typeTag) {
  const auto& b = Blocks();
  for (size_t i = 0; i < b.size(); ++i)
    if (b[i].Name == name && b[i].TypeTag == typeTag) return int32_t(i);
  return -1;
}

bool HasOwnIndex() { return HasBlock("idx1", "") || HasBlock("indx", ""); }

bool HasBlock(const std::string& name, const std::string& typeTag) {
  return FindBlock(name, typeTag) >= 0;
}

int32_t FindBlockAt(int32_t node) {
  if (node < 0) return -1;
  const auto& b = Blocks();
  for (size_t i = 0; i < b.size(); ++i)
    if (b[i].Node == node) return int32_t(i);
  return -1;
}

bool HasChildBlocks(int32_t index) {
  const auto& b = Blocks();
  for (size_t i = size_t(index) + 1; i < b.size(); ++i)
    if (b[i].Parent == index) return true;
  return false;
}

char StreamKindOf(const BlockRecord& r) {
  const auto& b = Blocks();
  int32_t q = r.Parent;
  if (q < 0 || size_t(q) >= b.size()) return '?';
  for (const BlockRecord& x : b) {
    if (x.Parent == q && x.Name == "strh") {
      if (b[q].Name == "LIST" && b[q].TypeTag == "strl" && !x.TypeTag.empty())
        return char(std::tolower(static_cast<unsigned char>(x.TypeTag[0])));
      return '?';
    }
  }
  return '?';
}

}  // namespace rv
