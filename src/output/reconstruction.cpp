#include "output/reconstruction.h"

#include <chrono>
#include <cstring>

#include "core/host.h"
#include "core/messages.h"
#include "core/options.h"
#include "core/tasks.h"
#include "riff/blocks.h"
#include "riff/bytes.h"
#include "riff/header.h"
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
  uint8_t b[12];
  auto lastShown = std::chrono::steady_clock::now();
  uint32_t sinceCheck = 0;
  bool found = false;
  SendMainProgress(kMsgMainProgress, 5, 0);
  while (p < size) {
    if (!ReadSource(uint32_t(p), 12, b)) break;
    const bool sig = std::memcmp(b, "avih", 4) == 0 || std::memcmp(b, "strh", 4) == 0 ||
                     std::memcmp(b, "strf", 4) == 0 || std::memcmp(b, "indx", 4) == 0 ||
                     std::memcmp(b + 8, "movi", 4) == 0;
    if (sig) {
      BlockRecord r;
      r.Name.assign(reinterpret_cast<const char*>(b), 4);
      if (IsTypedChunkID(r.Name)) r.TypeTag.assign(reinterpret_cast<const char*>(b + 8), 4);
      r.Parent = 0;
      r.Offset = uint32_t(p);
      r.Size = LoadLE32(b + 4) + 8;
      const char kind = LastStreamKind();
      blocks.push_back(r);
      Header().lastIndex = int32_t(blocks.size() - 1);
      AddMessage("• найден блок " + ShowChars(r.Name) + " " + ShowChars(r.TypeTag));
      Highlight(blocks.back(), kind);
      p += 12;
      found = HasBlock("LIST", "movi") && IFpresent("avih") && IFpresent("vstrh") &&
              IFpresent("vstrf");
    } else {
      p += 1;
    }
    // Progress is shown a few dozen times a second; per byte it would cost more than the
    // search itself.
    if (found || ++sinceCheck >= 4096) {
      sinceCheck = 0;
      auto now = std::chrono::steady_clock::now();
      if (found || now - lastShown >= std::chrono::milliseconds(30)) {
        lastShown = now;
        SendMainProgress(kMsgMainProgress, 5, int64_t(p * 100 / size));
        SendCheckMessage(6, 0, "ptr: " + FormatThousands(p) + "  >>  " + FormatThousands(size));
      }
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
  if (opened) CloseSource();
  SignsOn();
}

}  // namespace rv
