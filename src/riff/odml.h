// OpenDML index chunks: the super index ("indx" in a stream header list) that lists the
// standard indexes of a stream, the standard index ("ix##" in a movi list) that lists the
// stream's chunks of one RIFF part, and the extended header ("dmlh" in LIST 'odml') that holds
// the frame count of the whole file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "riff/bytes.h"

namespace rv {

// bIndexType of an index chunk.
constexpr uint8_t kIndexOfIndexes = 0x00;
constexpr uint8_t kIndexOfChunks = 0x01;
// Bytes of an index chunk's own header after its 8-byte chunk header.
constexpr size_t kIndexHeaderSize = 24;
// A standard index entry's size field has this bit set for a chunk that is not a keyframe.
constexpr uint32_t kNotKeyframeBit = 0x80000000u;

struct SuperIndexEntry {
  uint64_t offset = 0;    // file position of the standard index chunk's ID
  uint32_t size = 0;      // that chunk's size, its 8-byte header included
  uint32_t duration = 0;  // frames (video) or stream ticks the standard index covers
  bool operator==(const SuperIndexEntry&) const = default;
};

struct StdIndexEntry {
  uint32_t offset = 0;  // from the base to the chunk's payload (8 bytes past its ID)
  uint32_t size = 0;    // payload size, without the keyframe bit
  bool keyframe = true;
  bool operator==(const StdIndexEntry&) const = default;
};

// An index chunk's payload as read or to be written. indexType tells which entry list is in
// use: kIndexOfIndexes fills `super`, kIndexOfChunks fills `chunks` and `base`.
struct OdmlIndex {
  uint16_t longsPerEntry = 0;
  uint8_t indexSubType = 0;
  uint8_t indexType = 0;
  uint32_t entriesInUse = 0;  // as the chunk says (entries lists only what the payload holds)
  uint32_t chunkId = 0;       // FOURCC of the stream's chunks, first character in the low byte
  uint64_t base = 0;          // index of chunks: file position the entry offsets count from
  std::vector<SuperIndexEntry> super;
  std::vector<StdIndexEntry> chunks;
};

// Reads an index chunk's payload (the bytes after its 8-byte chunk header): an index of
// indexes (4 longs per entry) or an index of chunks (2 longs per entry). False when the payload
// is shorter than the index header or the entry size does not fit the index type. Entries are
// read up to entriesInUse or the end of the payload, whichever comes first, so a hostile count
// never reads past the payload.
bool ParseOdmlIndex(const uint8_t* payload, size_t n, OdmlIndex& out);

// A whole "indx" chunk (header included) that lists `entries` and has room for `capacity`
// entries in all (capacity below entries.size() is raised to it); unused room is zeros.
Bytes SuperIndexChunk(uint32_t chunkId, const std::vector<SuperIndexEntry>& entries,
                      uint32_t capacity);
// Its size, header included, for a given capacity: 8 + 24 + 16 * capacity.
size_t SuperIndexChunkSize(uint32_t capacity);

// A whole standard index chunk (header included) with the ID "ix" + the stream number's two
// digits, for the chunks of one stream in one RIFF part.
Bytes StdIndexChunk(uint32_t chunkId, uint64_t base, const std::vector<StdIndexEntry>& entries);
// The ID of the standard index chunk of the stream whose chunk ID is chunkId ("00dc" -> "ix00").
uint32_t StdIndexId(uint32_t chunkId);
// Whether a chunk ID is that of a standard index: "ix" and two characters that form a number.
bool IsStdIndexId(std::string_view id);

// LIST 'odml' holding a 248-byte dmlh whose first field is the total frame count.
Bytes OdmlList(uint32_t totalFrames);
// The total frame count of a dmlh payload; false when it is shorter than 4 bytes.
bool ParseDmlh(const uint8_t* payload, size_t n, uint32_t& totalFrames);

// The field lines the block tree shows for an index chunk: kind, entries in use, chunk ID,
// and for a standard index its base.
std::vector<std::string> OdmlIndexLines(const OdmlIndex& ix);

}  // namespace rv
