// The repaired file writer: a header (built from the records, assembled from the source's
// header blocks, or copied), the indexed stream chunks through the exclusion list, and a new
// idx1.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "check/index.h"
#include "riff/bytes.h"
#include "riff/header.h"

namespace rv {

// The file named in EditOUT.
std::string& OutputFileName();

constexpr uint32_t kMoviListPos = 2036;  // movi list header of built and assembled headers

struct WriteSummary {
  bool written = false;     // an output file was produced
  bool complete = false;    // every entry was copied
  bool writeError = false;  // writing the output failed: the file is incomplete
  size_t chunksWritten = 0;
  size_t fromOwnIndex = 0;   // chunks taken from the file's own idx1 (headers destroyed)
  uint32_t moviListPos = 0;  // H
  uint64_t bytes = 0;
};
const WriteSummary& LastWrite();

// The task routine "saveOUT".
bool saveOUT();

// The header options applied to the records in memory, over the entries given.
struct HeaderOptionFlags {
  bool noIdx1 = false, totalFrames = false, ratesFromTbf = false, audioLength = false,
       audioRate = false;
};
// The frame count and audio bytes of the header options: chunks of type dc/db, bytes of the
// chunks of type wb (32-bit, as the header fields).
struct ChunkTotals {
  uint32_t frames = 0, audioBytes = 0;
  void Add(const IndexEntry& e);
};
ChunkTotals TotalsOf(const std::vector<IndexEntry>& entries);
void ApplyHeaderOptions(const HeaderOptionFlags& o, const ChunkTotals& totals);
uint32_t IndexFlagRule(uint32_t flags, bool noIdx1);

// One stream of the built header, in stream-number order: the video or the audio records,
// or the content of the source's own stream header list for a stream the records do not hold.
struct StreamSlot {
  char kind = 'v';  // 'v', 'a' or 'x'
  Bytes content;    // 'x': the strl list's content after "strl"
};

// The header region of the built mode (from position 12, up to and including the JUNK that
// fills it to the movi list header) and the movi list position it leads to. Without streams
// it holds the video stream and, as asked, the audio stream; with them, one strl per slot.
Bytes BuildHeaderRegion(bool withAudioStrh, bool withAudioStrf, uint32_t& moviListPos,
                        const std::vector<StreamSlot>& streams = {});

// The source's streams in stream-number order, from the stream header lists of its header
// list; empty when the block table has none (a reconstructed header). The source must be
// open. videoStream / audioStream: numbers of the streams the records hold (-1: none).
std::vector<StreamSlot> SourceStreams(bool withAudio, int& videoStream, int& audioStream);
// The assembled header lists (without the JUNK); false when the table has no top-level list
// with child blocks. The source must be open.
bool AssembleHeader(Bytes& out);
// A JUNK chunk from output position p up to the movi list; moves the list to the next place
// where the first chunk starts on a multiple of 2048 when the header does not fit.
Bytes JunkUpToMovi(uint64_t p, uint32_t& moviListPos);

// True when both names refer to the same file (whatever the spelling of the paths).
bool SameFile(const std::string& a, const std::string& b);

}  // namespace rv
