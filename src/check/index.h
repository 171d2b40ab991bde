// The index in memory: idx1 entries in stream order, built by the stream check.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rv {

constexpr uint32_t kKeyframeFlag = 0x10;
constexpr uint32_t kListFlag = 0x01;  // an idx1 entry that names a LIST group ('rec ')

struct IndexEntry {
  uint32_t ckid = 0;  // FOURCC, first character in the low byte
  uint32_t dwFlags = 0;
  // From the movi position: the first block has offset 4. 64-bit in memory: in a file of
  // several RIFF parts the chunks of the later parts lie further than 4 GiB from it.
  uint64_t dwChunkOffset = 0;
  uint32_t dwChunkLength = 0;  // the size field as read
  bool operator==(const IndexEntry&) const = default;
};

struct IndexState {
  std::vector<IndexEntry> entries;  // while a scan runs, only the first `count` are valid
  size_t count = 0;
  char continueCheck = 0;  // 'y' when the next scan continues the previous one
  // The keyframe flags were decided by decoding (the keyframe search): a writer keeps them.
  bool keyflagsDecided = false;
  // Fragments were cut out after the last scan: chunks that lay behind the end of the stream
  // may have moved inside it, and only a continued scan finds them.
  bool cutAfterScan = false;
};
IndexState& Index();

// Sets the count; lengthens the array by 1000 entries when n exceeds its length.
void SetIndexCount(size_t n);
// Cuts the array to the count, so that its length is the number of entries.
void TrimIndex();
void ClearIndex();

// Serialised as in an idx1 chunk: 16 bytes per entry, little-endian.
void AppendEntryBytes(const IndexEntry& e, std::vector<uint8_t>& out);
IndexEntry EntryFromBytes(const uint8_t* p);

}  // namespace rv
