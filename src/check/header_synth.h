// A header from the stream itself, or from a donor file, when the reconstruction found no
// avih or video strh/strf: where the movi chunks are and what their first payloads hold, the
// formats recognised in them, and the header records filled from all that.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "riff/bytes.h"
#include "riff/header.h"

namespace rv {

// The chunks of one stream number.
struct StreamSample {
  int number = 0;
  char kind = '?';  // 'v' for ##dc / ##db, 'a' for ##wb, '?' otherwise
  std::string id;   // the first chunk's ID
  uint64_t chunks = 0, bytes = 0;
  uint32_t largest = 0;
  std::vector<Bytes> payloads;  // the first chunks' payloads (a few MiB at most)
};

struct MoviSample {
  bool found = false;
  bool fromList = false;  // the LIST movi header was there
  uint64_t first = 0;     // file position of the first chunk's ID
  uint64_t end = 0;       // where the chunks end: an idx1, or the end of the file
  // Where the movi list's "movi" stood by the file's own idx1 (0: not known): chunks before
  // `first` whose headers were destroyed keep their places, and the idx1 its meaning.
  uint64_t indexBase = 0;
  uint64_t idx1 = 0;  // file position of the first idx1 met (0: none), and its payload size
  uint32_t idx1Size = 0;
  // Video chunks and audio bytes counted over the same stretch of the stream, for the rate
  // that the interleave gives.
  uint64_t videoChunks = 0, audioBytes = 0;
  std::vector<StreamSample> streams;
  const StreamSample* Find(char kind) const;  // the first stream of a kind, or null
};

// Walks the movi chunks (from the LIST movi of the block table, else from the first chain of
// stream chunk IDs), stepping over damage by a search for the next chain. The source must be
// open.
MoviSample SampleMovi();

// What a video stream's first payloads say.
struct VideoGuess {
  std::string codec;   // for the messages, e.g. "MPEG-4 Part 2"
  std::string fourcc;  // biCompression and the stream handler; empty: not recognised
  uint32_t width = 0, height = 0;
  uint16_t bitCount = 24;
  uint32_t rateNum = 0, rateDen = 0;  // frames per second num / den; 0 when the stream is silent
  std::string rateFrom;               // what gave the rate, for the messages
  bool ok() const { return !fourcc.empty() && width && height; }
};

// What an audio stream's first payloads say.
struct AudioGuess {
  std::string codec;  // for the messages; empty: not recognised
  uint16_t formatTag = 0, channels = 0, blockAlign = 0, bitsPerSample = 0;
  uint32_t sampleRate = 0, byteRate = 0;
  uint32_t frameSamples = 0;   // samples per frame of a framed format
  bool framePerChunk = false;  // every chunk starts a frame: the stream is timed in frames
  Bytes extra;                 // the codec data after cbSize
  bool ok() const { return formatTag != 0 && sampleRate && channels; }
};

// The header records of a healthy file (its first video and audio streams).
struct DonorHeader {
  std::string file;
  AvihRecord avih;
  StrhRecord vstrh, astrh;
  VideoStrfRecord vstrf;
  AudioStrfRecord astrf;
  bool video = false, audio = false;
  std::vector<std::pair<StrhRecord, AudioStrfRecord>> moreAudio;  // its further audio streams
};

// Reads a donor's header list. False with the reason in error.
bool ReadDonorHeader(const std::string& file, DonorHeader& d, std::string& error);

struct HeaderPlan {
  MoviSample movi;
  VideoGuess video;
  AudioGuess audio;
  std::vector<AudioGuess> moreAudio;  // the audio streams after the first, in stream order
  bool withDonor = false;
  DonorHeader donor;
};

// Where the donor's formats disagree with what the stream shows (codec, picture size, audio
// format), one text each; nothing for what the stream does not tell.
std::vector<std::string> DonorMismatches(const HeaderPlan& plan);

// Fills the header records, their labels and the block table from the plan, keeping any
// record the reconstruction found; each decision is one message. False, with a message,
// when no video format could be had.
bool ApplyHeaderPlan(const HeaderPlan& plan);

// A frame rate num / den snapped to the nearest common rate within 1%.
void SnapRate(uint64_t num, uint64_t den, uint32_t& outNum, uint32_t& outDen);

}  // namespace rv
