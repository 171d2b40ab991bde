// What a stream's own bytes and the file's own index say about its chunks: which video
// pictures are intra-coded (for the keyframe flags of a written index), and where the file's
// own indexes (idx1, OpenDML) put chunks whose headers were destroyed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rv {

// How a codec's pictures tell whether they are intra-coded.
enum class IntraRule { Unknown, AllIntra, Mpeg4Visual, H264 };

// From the video format's compression code (biCompression as its four bytes) and the stream
// header's handler. biCompression 0 (uncompressed RGB) is all intra.
IntraRule IntraRuleOf(uint32_t biCompression, const std::string& handler);

// 1 when the picture at the start of payload is intra-coded, 0 when it is not, -1 when its
// bytes do not say (no picture start found).
int PictureIsIntra(IntraRule rule, const uint8_t* payload, size_t n);

// The file's own idx1 and OpenDML standard indexes, by file position of each chunk's ID. Only
// stream chunk entries are kept ('rec ' entries and other lists left out).
struct OwnIndex {
  struct Item {
    uint64_t filePos = 0;
    uint32_t ckid = 0, flags = 0, length = 0;
  };
  std::vector<Item> items;  // sorted by filePos
  // The item of a chunk whose ID is at filePos, or null.
  const Item* At(uint64_t filePos, uint32_t ckid) const;
  // Index of the first item at or after filePos.
  size_t LowerBound(uint64_t filePos) const;
};

// Reads the source's idx1 (the source must be open). Its offsets may count from the movi
// list's "movi" or from the file's start: the first stream chunk entry decides; no item when
// neither base names a chunk. Then the chunks of the OpenDML standard indexes (every part)
// that idx1 does not list at the same position.
OwnIndex LoadOwnIndex();

}  // namespace rv
