#include "core/options.h"

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
  bigLimitKb = 500;
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
