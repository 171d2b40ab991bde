#include "output/reconstruction.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "base/host.h"
#include "base/messages.h"
#include "base/options.h"
#include "base/tasks.h"
#include "riff/blocks.h"
#include "riff/bytes.h"
#include "riff/header.h"
#include "riff/header_edit.h"
#include "riff/source.h"

namespace rv {

namespace {

// The stream type of the stream header found last, so that a format block is judged as the
// format of that stream (an audio format may have the size of a video one).
char LastStreamKind() {
  const auto& b = Blocks();
  for (size_t i = b.size(); i-- > 1;)
    if (b[i].Name == "strh") return b[i].TypeTag.empty() ? '?' : char(b[i].TypeTag[0] | 0x20);
  return '?';
}

void Highlight(const BlockRecord& r, char streamKind) {
  if (r.Name == "strf" && streamKind == 'a') {
    if (isCorrectSTRFAsize(r)) SetLabel(kLabelASTRF, LabelColor::Blue);
    return;
  }
  if (r.Name == "strf" && streamKind == 'v') {
    if (supposeSTRFV(r)) SetLabel(kLabelVSTRF, LabelColor::Blue);
    return;
  }
  HighlightSign(r);
}

}  // namespace

bool reconstruction() {
  ResetReadCache();  // the cache may still hold another file's bytes
  if (!OpenSource(InputFileName())) {
    AddMessage("• ошибка открытия файла");
    return false;
  }
  AddMessage("• реконструкция заголовка");
  auto& blocks = Blocks();
  blocks.clear();
  blocks.push_back(BlockRecord{"ROOT", "AVI ", -1, 0, 0, -1, 0});
  Header().lastIndex = 0;
  const uint64_t size = StreamSize();
  uint64_t p = 0;
  bool found = false;
  ReportProgress(ProgressTarget::kMain, 0);
  // The stream is searched a window at a time straight in memory; a step that compares
  // through the read cache for every byte would make the search slower than the disk.
  constexpr uint32_t kWindow = 1 << 16;
  Bytes win;
  auto lastShown = std::chrono::steady_clock::now();
  while (p < size && !StopRequested()) {
    const uint32_t len = uint32_t(std::min<uint64_t>(kWindow, size - p));
    if (!ReadSource(p, len + 11, win)) break;
    uint64_t i = 0;
    while (i < len) {
      const uint8_t* b = win.data() + i;
      const bool sig = (b[0] == 'a' || b[0] == 's' || b[0] == 'i' || b[8] == 'm') &&
                       (std::memcmp(b, "avih", 4) == 0 || std::memcmp(b, "strh", 4) == 0 ||
                        std::memcmp(b, "strf", 4) == 0 || std::memcmp(b, "indx", 4) == 0 ||
                        std::memcmp(b + 8, "movi", 4) == 0);
      if (!sig) {
        ++i;
        continue;
      }
      BlockRecord r;
      r.Name.assign(reinterpret_cast<const char*>(b), 4);
      if (IsTypedChunkID(r.Name)) r.TypeTag.assign(reinterpret_cast<const char*>(b + 8), 4);
      r.Parent = 0;
      r.Offset = p + i;
      r.Size = uint64_t(LoadLE32(b + 4)) + 8;
      const char kind = LastStreamKind();
      blocks.push_back(r);
      Header().lastIndex = int32_t(blocks.size() - 1);
      AddMessage("• найден блок " + ShowChars(r.Name) + " " + ShowChars(r.TypeTag));
      Highlight(blocks.back(), kind);
      i += 12;
      found =
          HasBlock("LIST", "movi") && IFpresent("avih") && IFpresent("vstrh") && IFpresent("vstrf");
      if (found || StopRequested()) break;
    }
    p += i;
    auto now = std::chrono::steady_clock::now();
    if (found || p >= size || now - lastShown >= std::chrono::milliseconds(30)) {
      lastShown = now;
      ReportProgress(ProgressTarget::kMain, int(std::min(p, size) * 100 / size),
                     "ptr: " + FormatThousands(p) + "  >>  " + FormatThousands(size));
    }
    if (found || StopRequested()) break;
    if (!Opt().highPriorityMain) YieldStep(false);
  }
  const bool result = p < size;
  SetExtendedFlag();
  CloseSource();
  return result;
}

void FinishReconstruction() {
  bool opened = OpenSource(InputFileName());
  Chunks2TV();
  lista2struct();
  SignsOn();
  // A format the size checks rejected is read as it stands, as for a header that could be
  // walked: otherwise a file with a 16-byte PCM format is rebuilt without its sound.
  if (opened) {
    ReadRejectedFormats();
    CloseSource();
  }
}

}  // namespace rv
