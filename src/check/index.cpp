#include "check/index.h"

#include "base/file_context.h"
#include "riff/bytes.h"

namespace rv {

IndexState& Index() { return Context().Get<IndexState>(); }

void SetIndexCount(size_t n) {
  IndexState& s = Index();
  if (n > s.entries.size()) s.entries.resize(s.entries.size() + 1000);
  s.count = n;
}

void TrimIndex() {
  IndexState& s = Index();
  s.entries.resize(s.count);
}

void ClearIndex() {
  IndexState& s = Index();
  s.entries.clear();
  s.keyflagsDecided = false;
  s.cutAfterScan = false;
  s.count = 0;
}

void AppendEntryBytes(const IndexEntry& e, std::vector<uint8_t>& out) {
  uint8_t b[16];
  PutDWord(e.ckid, b);
  PutDWord(e.dwFlags, b + 4);
  PutDWord(uint32_t(e.dwChunkOffset), b + 8);  // idx1 offsets are 32-bit
  PutDWord(e.dwChunkLength, b + 12);
  out.insert(out.end(), b, b + 16);
}

IndexEntry EntryFromBytes(const uint8_t* p) {
  return {LoadLE32(p), LoadLE32(p + 4), LoadLE32(p + 8), LoadLE32(p + 12)};
}

}  // namespace rv
