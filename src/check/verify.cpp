#include "check/verify.h"

#include <algorithm>

#include "base/host.h"
#include "base/messages.h"
#include "base/options.h"
#include "base/tasks.h"
#include "check/bad_blocks.h"
#include "check/index.h"
#include "check/odml_index.h"
#include "check/scanner.h"
#include "riff/blocks.h"
#include "riff/bytes.h"
#include "riff/header.h"
#include "riff/source.h"

namespace rv {

namespace {
std::string Pointer(uint64_t pos, uint64_t total) {
  return "ptr: " + FormatThousands(pos) + "  >>  " + FormatThousands(total);
}
}  // namespace

bool verifyIDX1() {
  if (!InputIsLoadedFile()) return false;
  int32_t k = -1;
  for (size_t i = 0; i < Blocks().size(); ++i)
    if (Blocks()[i].Name == "idx1") {
      k = int32_t(i);
      break;
    }
  if ((k < 0 && !HasBlock("indx", "")) || !OpenSource(InputFileName())) return false;
  const OdmlIndexes odml = ReadOdmlIndexes();
  Bytes buf;
  if (k >= 0) {
    const BlockRecord idx = Blocks()[size_t(k)];
    // Only the bytes the file holds are read; a declared size past the end gives zero entries
    // there, and one of them is enough to make the check fail where the file ends.
    const uint64_t avail = Source().size > idx.Offset ? Source().size - idx.Offset : 0;
    const uint32_t held = uint32_t(std::min<uint64_t>(idx.Size, avail));
    if (held == 0 || !ReadFileDirect(idx.Offset, held, buf)) buf.clear();
    if (buf.size() < idx.Size) {
      AddMessage("• размер индексного блока меньше заявленного");
      uint64_t keep = std::min<uint64_t>(idx.Size, uint64_t(buf.size()) + 24);
      buf.resize(size_t(std::max<uint64_t>(keep, 9)), 0);
    }
  }
  CloseSource();
  // A file with OpenDML indexes is checked against them also without a usable idx1.
  const bool hasIdx1 = buf.size() > 8 && GetChars(buf, 0, 4) == "idx1";
  if (!hasIdx1 && odml.indexes.empty()) return false;

  IndexState& ix = Index();
  ix.entries.clear();
  ix.keyflagsDecided = false;
  for (size_t off = 8; hasIdx1 && (off == 8 || off + 16 <= buf.size()); off += 16) {
    IndexEntry e;
    GetDWord(buf, off, e.ckid);
    GetDWord(buf, off + 4, e.dwFlags);
    uint32_t offset = 0;
    GetDWord(buf, off + 8, offset);
    e.dwChunkOffset = offset;
    GetDWord(buf, off + 12, e.dwChunkLength);
    ix.entries.push_back(e);
  }
  ix.count = ix.entries.size();

  int32_t movi = FindBlock("LIST", "movi");
  if (movi < 0) return false;
  const uint64_t B = uint64_t(Blocks()[size_t(movi)].Offset) + 8;
  // The OpenDML indexes reach into every part: the pointer counts to the end of the stream.
  const uint64_t T = odml.indexes.empty() ? Blocks()[size_t(movi)].Size : StreamSize() - B;
  if (!OpenSource(InputFileName())) return false;
  ScanUi().percent = 0;
  ScanUi().gaugeVisible = true;
  ScanUi().pointerVisible = true;
  ReportProgress(ProgressTarget::kStreamCheck, 0, "ptr: 4  >>  " + FormatThousands(T));
  ResetGrid();

  size_t total = ix.entries.size(), done = 0;
  for (const OdmlStdIndexRead& r : odml.indexes) total += r.entries.size();
  uint8_t head[8];
  // Whether the stream holds the block an entry names where it says. Entries of list groups
  // ('rec ', flag 0x1) name a LIST.
  auto holds = [&](const IndexEntry& e) {
    if (!ReadSource(B + e.dwChunkOffset, 8, head)) return false;
    if ((e.dwFlags & kListFlag) || e.ckid == fcc("rec ") || e.ckid == fcc("LIST"))
      return LoadLE32(head) == fcc("LIST");
    return LoadLE32(head) == e.ckid && LoadLE32(head + 4) == e.dwChunkLength;
  };
  // After an entry that holds: the progress, pointing at the next one; false on a stop.
  auto step = [&](uint64_t next) {
    ++done;
    if ((done & 255) == 0 || done == total) {
      ScanUi().percent = int(done * 100 / total);
      ReportProgress(ProgressTarget::kStreamCheck, ScanUi().percent, Pointer(next, T));
    }
    if (StopRequested()) return false;
    if (!Opt().highPriorityCheck) YieldStep(false);
    return true;
  };

  // The idx1 entries of groups are checked and left out of the index in memory, which holds
  // the chunks inside the groups.
  const size_t n = ix.entries.size();
  size_t i = 0;
  std::vector<IndexEntry> chunks;
  chunks.reserve(n);
  bool stopped = false;
  while (i < n && !stopped) {
    const IndexEntry& e = ix.entries[i];
    if (!holds(e)) break;
    if (!((e.dwFlags & kListFlag) || e.ckid == fcc("rec ") || e.ckid == fcc("LIST")))
      chunks.push_back(e);
    ++i;
    stopped = !step(ix.entries[std::min(i, n - 1)].dwChunkOffset);
  }
  const bool idx1Failed = i < n;
  // Each standard index must be whole and name the stream's chunks; the first that does not
  // (or that a stop leaves unchecked) is named with the part that holds it.
  std::string odmlFailed;
  for (size_t s = 0; s < odml.indexes.size() && odmlFailed.empty() && !(idx1Failed && stopped);
       ++s) {
    const OdmlStdIndexRead& r = odml.indexes[s];
    size_t j = 0;
    while (r.sound && !stopped && j < r.entries.size() && holds(r.entries[j])) {
      ++j;
      stopped = !step(r.entries[std::min(j, r.entries.size() - 1)].dwChunkOffset);
    }
    if (!r.sound || j < r.entries.size())
      odmlFailed = ShowChars(r.name) + ", часть " + std::to_string(r.part);
  }
  const bool success = !idx1Failed && odmlFailed.empty();
  if (success) {
    ix.entries = odml.indexes.empty() ? std::move(chunks) : odml.Merged();
    ix.count = ix.entries.size();
    AddMessage("• ошибок в потоке не обнаружено. размер индекса: " + std::to_string(ix.count));
  } else {
    if (idx1Failed) AddMessage("• ошибки в индексе");
    if (!odmlFailed.empty()) AddMessage("• ошибки в индексе OpenDML: " + odmlFailed);
    ClearIndex();
  }
  CloseSource();
  ScanUi().gaugeVisible = false;
  ScanUi().pointerVisible = false;
  CloseCheckWindowFlag() = (!StopRequested() && GridIsEmpty()) ? 1 : 0;
  return success;
}

}  // namespace rv
