// The source file: opened read-only, read by stream position through the read cache,
// with the fragments of the exclusion list left out of the stream.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "riff/bytes.h"

namespace rv {

struct Exclusion {
  uint64_t offset = 0;  // file position of the first left-out byte
  uint64_t count = 0;   // bytes left out
  bool operator==(const Exclusion&) const = default;
};

constexpr uint32_t kCacheUnit = 1024000;
constexpr uint32_t kDefaultCacheSize = 2 * kCacheUnit;

struct SourceState {
  SourceState() = default;
  // A copy has no file open: the handle stays with the original, which closes it.
  SourceState(const SourceState& o) : size(o.size), name(o.name) {}
  SourceState& operator=(const SourceState&) = delete;

  int fd = -1;
  uint64_t size = 0;
  std::string name;
};

struct ReadCacheState {
  ReadCacheState() = default;
  // A copy starts empty, with the same size: the cached bytes belong to the reads of the
  // original, which a task may be refilling at that very moment.
  ReadCacheState(const ReadCacheState& o) : size(o.size) {}
  ReadCacheState& operator=(const ReadCacheState&) = delete;

  Bytes buffer;
  uint32_t size = kDefaultCacheSize;
  uint64_t start = 0;  // stream position of the buffer's first byte
  uint32_t cursor = 0;
  uint32_t length = 0;
  uint64_t fileReads = 0;  // read calls made on the source file (for benchmarks)
};

SourceState& Source();
// The file named in EditIN: the source the tasks open.
std::string& InputFileName();
// The file whose header, index and bad blocks the state in memory describes: set when its
// header is read (or rebuilt), emptied by the file reset.
std::string& LoadedFileName();
// Whether two names lead to the same file (the same text, or the same file on disk).
bool SameSourceFile(const std::string& a, const std::string& b);
// A task that works on the state in memory runs only on the file that state was read from:
// true when InputFileName() is that file or nothing was read yet; otherwise the message
// kOtherFileMessage is added and the result is false.
extern const char* const kOtherFileMessage;
bool InputIsLoadedFile();
ReadCacheState& Cache();
std::vector<Exclusion>& Exclusions();

// Opens read-only; false when the file cannot be opened. On failure the handle is invalid, the
// size unchanged.
bool OpenSource(const std::string& name);
void CloseSource();
bool SourceIsOpen();

// Exactly n bytes of the stream from stream position p into out. False, out untouched,
// when n exceeds the cache size or a seek fails. Bytes past the end of the stream are zeros.
bool ReadSource(uint64_t p, uint32_t n, Bytes& out);
// Same, into caller memory of at least n bytes.
bool ReadSource(uint64_t p, uint32_t n, uint8_t* out);

void ResetReadCache();
void InvalidateReadCache();
void ClearExclusions();
void SetCacheSize(uint32_t bytes);

// Stream position -> file position through the exclusion list.
uint64_t StreamToFile(uint64_t streamPos);
// Stream length of the source: file size minus every excluded byte that lies inside it.
uint64_t StreamSize();

// Reads count bytes at file position offset straight from an already open source (no cache,
// no exclusions). False when fewer bytes can be read.
bool ReadFileDirect(uint64_t offset, uint32_t count, Bytes& out);

}  // namespace rv
