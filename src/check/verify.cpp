#include "check/verify.h"

#include <algorithm>

#include "base/host.h"
#include "base/messages.h"
#include "base/options.h"
#include "base/tasks.h"
#include "check/bad_blocks.h"
#include "check/index.h"
#include "check/scanner.h"
#include "riff/blocks.h"
#include "riff/bytes.h"
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
  if (k < 0 || !OpenSource(InputFileName())) return false;
  const BlockRecord idx = Blocks()[size_t(k)];
  // Only the bytes the file holds are read; a declared size past the end gives zero entries
  // there, and one of them is enough to make the check fail where the file ends.
  const uint64_t avail = Source().size > idx.Offset ? Source().size - idx.Offset : 0;
  const uint32_t held = uint32_t(std::min<uint64_t>(idx.Size, avail));
  Bytes buf;
  bool ok = held > 0 && ReadFileDirect(idx.Offset, held, buf);
  if (!ok) buf.clear();
  CloseSource();
  if (buf.size() < idx.Size) {
    AddMessage("• размер индексного блока меньше заявленного");
    uint64_t keep = std::min<uint64_t>(idx.Size, uint64_t(buf.size()) + 24);
    buf.resize(size_t(std::max<uint64_t>(keep, 9)), 0);
  }
  if (buf.size() <= 8 || GetChars(buf, 0, 4) != "idx1") return false;

  IndexState& ix = Index();
  ix.entries.clear();
  ix.keyflagsDecided = false;
  for (size_t off = 8; off == 8 || off + 16 <= buf.size(); off += 16) {
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
  const uint64_t T = Blocks()[size_t(movi)].Size;
  if (!OpenSource(InputFileName())) return false;
  ScanUi().percent = 0;
  ScanUi().gaugeVisible = true;
  ScanUi().pointerVisible = true;
  ReportProgress(ProgressTarget::kStreamCheck, 0, "ptr: 4  >>  " + FormatThousands(T));
  ResetGrid();

  const size_t n = ix.entries.size();
  size_t i = 0;
  uint8_t head[8];
  // Entries of list groups ('rec ', flag 0x1) name a LIST in the stream; they are checked
  // and left out of the index in memory, which holds the chunks inside the groups.
  std::vector<IndexEntry> chunks;
  chunks.reserve(n);
  while (i < n) {
    const IndexEntry& e = ix.entries[i];
    uint64_t pos = B + e.dwChunkOffset;
    if (!ReadSource(pos, 8, head)) break;
    const bool group = (e.dwFlags & kListFlag) || e.ckid == fcc("rec ") || e.ckid == fcc("LIST");
    if (group) {
      if (LoadLE32(head) != fcc("LIST")) break;
    } else {
      if (LoadLE32(head) != e.ckid || LoadLE32(head + 4) != e.dwChunkLength) break;
      chunks.push_back(e);
    }
    ++i;
    if ((i & 255) == 0 || i == n) {
      uint64_t next = ix.entries[std::min(i, n - 1)].dwChunkOffset;
      ScanUi().percent = int(i * 100 / n);
      ReportProgress(ProgressTarget::kStreamCheck, int(i * 100 / n), Pointer(next, T));
    }
    if (StopRequested()) break;
    if (!Opt().highPriorityCheck) YieldStep(false);
  }
  bool success = i == n;
  if (success) {
    ix.entries = std::move(chunks);
    ix.count = ix.entries.size();
    AddMessage("• ошибок в потоке не обнаружено. размер индекса: " + std::to_string(ix.count));
  } else {
    AddMessage("• ошибки в индексе");
    ClearIndex();
  }
  CloseSource();
  ScanUi().gaugeVisible = false;
  ScanUi().pointerVisible = false;
  CloseCheckWindowFlag() = (!StopRequested() && GridIsEmpty()) ? 1 : 0;
  return success;
}

}  // namespace rv
