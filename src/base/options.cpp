#include "base/options.h"

#include "base/text.h"

namespace rv {

Options& Opt() {
  static Options o;
  return o;
}

void Options::Reset() {
  key00db = true;
  key01wb = true;
  searchNext = true;
  scanToEof = false;
  beyondEof = true;
  bigIsBad = false;
  bigLimitBytes = 500000;
  followErrors = false;
  streams01 = false;
  autostart = false;
  totalFrames = false;
  ratesFromTbf = false;
  audioLength = false;
  audioRate = false;
  highPriorityCheck = true;
  highPriorityMain = true;
  noIdx1 = false;
  noFixSize = false;
  savePart = false;
  saveIndexOnly = false;
  headerMode = 'M';
}

}  // namespace rv

namespace rv {

uint32_t SizeLimitFromText(const std::string& text) {
  if (!IsNumber(text)) return 0xFFFFFFFFu;
  if (text[0] == '-') return 0;
  if (text.size() > 12) return 0xFFFFFFFFu;
  uint64_t v = std::stoull(text) * 1000;
  return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(v);
}

}  // namespace rv
