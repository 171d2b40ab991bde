// The stream part of an output file. Chunks go one after another into the movi list of one
// RIFF, followed by an idx1; or, for an output larger than a RIFF part may be, into OpenDML
// parts: the first RIFF 'AVI ' with an idx1 of its own chunks, then RIFF 'AVIX' parts. Each
// part's movi list ends with a standard index (ix##) per stream, and the header gets a super
// index (indx) per stream and the total frame count (dmlh) in room made for them beforehand.
#pragma once

#include <cstdint>
#include <vector>

#include "check/index.h"
#include "riff/bytes.h"
#include "riff/odml.h"
#include "riff/out_file.h"

namespace rv {

// The size an OpenDML part grows to before the next one begins.
constexpr uint64_t kOdmlPartSize = uint64_t(1) << 30;
// The part size the writer and the join use: an output larger than this is written as
// OpenDML (tests set a few KB, to make parts of tiny files). 0 writes one RIFF always.
uint64_t& OdmlPartSize();
// The room each super index gets: enough for the parts an output of `bytes` bytes makes,
// with some to spare.
uint32_t SuperIndexCapacity(uint64_t bytes, uint64_t partSize);

// Where the OpenDML blocks lie in a header made ready for them (file positions).
struct OdmlHeaderLayout {
  std::vector<uint64_t> indxAt;  // per stream header list, in stream order: its indx chunk
  uint64_t dmlhAt = 0;           // the dmlh chunk
  uint64_t avihAt = 0;           // the avih chunk (0: none)
  uint32_t capacity = 0;         // entries each indx has room for
  // Per stream header list: the stream's sample size (0: a chunk is a sample).
  std::vector<uint32_t> sampleSizes;
  int videoStream = -1;  // the first video stream
};

// Rewrites a header (the file's bytes from position 0 up to its first movi list) for an
// OpenDML output: every stream header list gets an indx with room for `capacity` entries in
// place of any old one, and the header list a new LIST 'odml' in place of any old one; the
// JUNK that follows the header list gives up the room where it can, so the movi list stays
// where it was. False, the header unchanged, when it has no header list to put them in.
bool MakeOdmlRoom(Bytes& header, uint32_t capacity, OdmlHeaderLayout& layout);
// For an output of one RIFF: the indx chunks of a header taken from an OpenDML file would
// name standard indexes the output does not have; they become JUNK of the same size.
void BlankStaleIndexes(Bytes& header);
// The file positions of the standard indexes that the super indexes (indx) of a header name,
// sorted, each once.
std::vector<uint64_t> NamedStdIndexes(const Bytes& header);

class MoviOut {
 public:
  // The caller has written the header and "LIST....movi" at moviListPos. partSize 0 writes
  // one RIFF whatever its size; otherwise OpenDML parts of about that size, at most
  // superCapacity of them. noIdx1 leaves out the first part's idx1.
  MoviOut(OutFile& out, uint64_t moviListPos, uint64_t partSize, uint32_t superCapacity,
          bool noIdx1);

  // Before a chunk of `bytes` bytes (header and pad byte included) is written: closes the part
  // when the chunk would take it past the part size and starts the next one.
  void BeforeChunk(uint64_t bytes);
  // Whether a chunk of `bytes` bytes still fits the 32-bit sizes of the current RIFF (call
  // after BeforeChunk).
  bool Fits(uint64_t bytes) const;
  // The chunk just written; its offset counts from the first movi list's "movi".
  void Add(const IndexEntry& e);
  // The offset the next chunk gets.
  uint64_t NextOffset() const { return out_.length() - moviPos_; }

  // Closes the last part: its ix## chunks, its sizes, and the first part's idx1.
  void Finish() { ClosePart(); }

  size_t parts() const { return parts_.size(); }
  // Writes the super indexes, the frame count of dmlh and the first part's frame count in
  // avih into the header laid out by MakeOdmlRoom.
  void PatchHeader(const OdmlHeaderLayout& layout);

 private:
  struct Part {
    uint64_t riffAt = 0, moviAt = 0;  // file positions of its "RIFF" and its movi "LIST"
    uint64_t indexBytes = 0;          // the size of its standard indexes (and idx1) so far
    bool empty = true;
    // By stream number: the standard index entries of its chunks and their bytes.
    std::vector<std::vector<StdIndexEntry>> ix = std::vector<std::vector<StdIndexEntry>>(100);
    std::vector<uint64_t> ixBytes = std::vector<uint64_t>(100);
  };
  void ClosePart();
  void OpenPart();

  OutFile& out_;
  uint64_t moviPos_;  // file position of the first movi list's "movi"
  uint64_t partSize_;
  uint32_t capacity_;
  std::vector<Part> parts_;
  std::vector<std::vector<SuperIndexEntry>> super_ = std::vector<std::vector<SuperIndexEntry>>(100);
  std::vector<uint32_t> first_ = std::vector<uint32_t>(100), all_ = std::vector<uint32_t>(100);
  std::vector<uint32_t> ids_ = std::vector<uint32_t>(100);
  std::vector<std::vector<uint64_t>> bytes_ = std::vector<std::vector<uint64_t>>(100);
  bool noIdx1_ = false;
  Bytes idx1_;  // the first part's idx1 entries, as they are written
};

}  // namespace rv
