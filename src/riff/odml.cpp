#include "riff/odml.h"

#include <algorithm>

#include "riff/header.h"

namespace rv {

namespace {

constexpr size_t kSuperEntrySize = 16;
constexpr size_t kStdEntrySize = 8;
constexpr uint32_t kDmlhSize = 248;

void Put64(Bytes& b, uint64_t v) {
  AppendDWord(b, uint32_t(v));
  AppendDWord(b, uint32_t(v >> 32));
}

uint64_t LoadLE64(const uint8_t* p) { return LoadLE32(p) | uint64_t(LoadLE32(p + 4)) << 32; }

// The 8-byte chunk header and the first 12 bytes of the index header, which both kinds share.
Bytes IndexStart(uint32_t id, size_t payloadSize, uint16_t longsPerEntry, uint8_t indexType,
                 uint32_t entriesInUse, uint32_t chunkId) {
  Bytes b;
  b.reserve(8 + payloadSize);
  AppendDWord(b, id);
  AppendDWord(b, uint32_t(payloadSize));
  AppendWord(b, longsPerEntry);
  b.push_back(0);  // bIndexSubType: plain (not field) index
  b.push_back(indexType);
  AppendDWord(b, entriesInUse);
  AppendDWord(b, chunkId);
  return b;
}

}  // namespace

bool ParseOdmlIndex(const uint8_t* payload, size_t n, OdmlIndex& out) {
  if (payload == nullptr || n < kIndexHeaderSize) return false;
  OdmlIndex ix;
  ix.longsPerEntry = LoadLE16(payload);
  ix.indexSubType = payload[2];
  ix.indexType = payload[3];
  ix.entriesInUse = LoadLE32(payload + 4);
  ix.chunkId = LoadLE32(payload + 8);
  const uint8_t* p = payload + kIndexHeaderSize;
  const size_t room = n - kIndexHeaderSize;
  // The count is bounded by the payload before anything is reserved or read.
  if (ix.indexType == kIndexOfIndexes && ix.longsPerEntry == kSuperEntrySize / 4) {
    const size_t count = std::min<size_t>(ix.entriesInUse, room / kSuperEntrySize);
    ix.super.reserve(count);
    for (size_t i = 0; i < count; ++i, p += kSuperEntrySize)
      ix.super.push_back({LoadLE64(p), LoadLE32(p + 8), LoadLE32(p + 12)});
  } else if (ix.indexType == kIndexOfChunks && ix.longsPerEntry == kStdEntrySize / 4) {
    ix.base = LoadLE64(payload + 12);
    const size_t count = std::min<size_t>(ix.entriesInUse, room / kStdEntrySize);
    ix.chunks.reserve(count);
    for (size_t i = 0; i < count; ++i, p += kStdEntrySize) {
      const uint32_t size = LoadLE32(p + 4);
      ix.chunks.push_back({LoadLE32(p), size & ~kNotKeyframeBit, (size & kNotKeyframeBit) == 0});
    }
  } else {
    return false;
  }
  out = std::move(ix);
  return true;
}

size_t SuperIndexChunkSize(uint32_t capacity) {
  return 8 + kIndexHeaderSize + kSuperEntrySize * size_t(capacity);
}

Bytes SuperIndexChunk(uint32_t chunkId, const std::vector<SuperIndexEntry>& entries,
                      uint32_t capacity) {
  const uint32_t used = uint32_t(entries.size());
  const size_t total = SuperIndexChunkSize(std::max(capacity, used));
  Bytes b = IndexStart(fcc("indx"), total - 8, kSuperEntrySize / 4, kIndexOfIndexes, used, chunkId);
  b.resize(b.size() + 12, 0);  // dwReserved[3]
  for (const SuperIndexEntry& e : entries) {
    Put64(b, e.offset);
    AppendDWord(b, e.size);
    AppendDWord(b, e.duration);
  }
  b.resize(total, 0);  // the unused room, for entries added when the file grows
  return b;
}

Bytes StdIndexChunk(uint32_t chunkId, uint64_t base, const std::vector<StdIndexEntry>& entries) {
  const size_t payload = kIndexHeaderSize + kStdEntrySize * entries.size();
  Bytes b = IndexStart(StdIndexId(chunkId), payload, kStdEntrySize / 4, kIndexOfChunks,
                       uint32_t(entries.size()), chunkId);
  Put64(b, base);
  AppendDWord(b, 0);  // dwReserved3
  for (const StdIndexEntry& e : entries) {
    AppendDWord(b, e.offset);
    AppendDWord(b, (e.size & ~kNotKeyframeBit) | (e.keyframe ? 0 : kNotKeyframeBit));
  }
  return b;
}

// "ix" in the low two bytes, the chunk ID's first two characters (the stream digits) above.
uint32_t StdIndexId(uint32_t chunkId) {
  return uint32_t('i') | 'x' << 8 | (chunkId & 0xFFFFu) << 16;
}

bool IsStdIndexId(std::string_view id) {
  return id.size() == 4 && id.substr(0, 2) == "ix" && IsNumber(id.substr(2));
}

Bytes OdmlList(uint32_t totalFrames) {
  Bytes b;
  b.reserve(12 + 8 + kDmlhSize);
  AppendDWord(b, fcc("LIST"));
  AppendDWord(b, 4 + 8 + kDmlhSize);
  AppendDWord(b, fcc("odml"));
  AppendDWord(b, fcc("dmlh"));
  AppendDWord(b, kDmlhSize);
  AppendDWord(b, totalFrames);
  b.resize(12 + 8 + kDmlhSize, 0);
  return b;
}

bool ParseDmlh(const uint8_t* payload, size_t n, uint32_t& totalFrames) {
  if (payload == nullptr || n < 4) return false;
  totalFrames = LoadLE32(payload);
  return true;
}

std::vector<std::string> OdmlIndexLines(const OdmlIndex& ix) {
  std::string kind = ix.indexType == kIndexOfIndexes ? "индекс индексов (super index)"
                     : ix.indexType == kIndexOfChunks ? "индекс блоков (standard index)"
                                                      : std::to_string(ix.indexType);
  std::vector<std::string> lines{"IndexType = " + kind,
                                 "LongsPerEntry = " + std::to_string(ix.longsPerEntry),
                                 "EntriesInUse = " + std::to_string(ix.entriesInUse),
                                 "ChunkId = " + ShowChars(cff(ix.chunkId))};
  if (ix.indexType == kIndexOfChunks) lines.push_back("BaseOffset = " + std::to_string(ix.base));
  return lines;
}

}  // namespace rv
