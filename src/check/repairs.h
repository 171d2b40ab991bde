// Repairs of bad blocks: fragments of repeated bytes go into the exclusion list, the index
// entries behind them move down, sizes in the index are corrected, records leave the list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace rv {

// Adds [o, o + n) to the exclusion list, keeping it sorted, disjoint and non-adjacent.
void AddExclusion(uint64_t o, uint64_t n);

struct RepairOptions {
  bool positiveDeltaOnly = true;  // CheckDP
  bool zeroRunsOnly = true;       // CheckZR
  uint32_t minRun = 100;          // EditMS
};
// EditMS's text as the minimum run; false when it is not a number (the caller shows "100").
bool MinRunFromText(const std::string& text, uint32_t& minRun);

// The bulk actions over the whole bad-block list. progress(k, total) is called before each
// record (LabelPTR).
using RepairProgress = void (*)(size_t k, size_t total);
void FixEQDelta(const RepairOptions& o, RepairProgress progress = nullptr);
void RemoveAllZblocks(const RepairOptions& o, char mode, RepairProgress progress = nullptr);
void RemoveAndRescan(const RepairOptions& o, const std::string& sourceName,
                     RepairProgress progress = nullptr);
// With 'n' every bad block gets its real size, with 'y' only one whose declared size is not
// below it; with both, a block whose declared end lies in a hole keeps its declared size.
void FixSizes(char mode, RepairProgress progress = nullptr);
// A hole: a run of at least kHoleMinRun bytes that covers the block's declared end and makes
// up at least half of the bytes between the declared and the real end.
constexpr uint32_t kHoleMinRun = 64;
struct BadBlock;
bool DeclaredEndInHole(const BadBlock& b);

// The bulk action chosen by its radio button name: "RadioEQ", "RadioREIS", "RadioRENO",
// "RadioRERE", "RadioISME", "RadioISALL". False for an unknown name.
bool RunBulkAction(const std::string& radio, const RepairOptions& o, const std::string& sourceName,
                   RepairProgress progress = nullptr);

// Per-row commands on bad-block record k.
void Block2Exclude(size_t k, char mode);
void RemoveAndRescanOne(size_t k, const std::string& sourceName);
void FixOne(size_t k);
void LeaveOne(size_t k);

// Which per-row commands the grid's menu enables for the row whose cell 1 is given.
struct RowMenuState {
  bool dump, remofix, remonofix, remoscan, fix, leave;
};
RowMenuState PopupERState(const std::string& cell1, bool taskRunning);

}  // namespace rv
