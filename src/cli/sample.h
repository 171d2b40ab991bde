// A small AVI with the typical damage of a broken download or a bad sector, so that a new
// user sees the tool work at once.
#pragma once

#include <string>

#include "riff/bytes.h"

namespace rv::cli {

struct SampleInfo {
  int videoChunks = 0;
  int audioChunks = 0;
  int zeroRunChunk = -1;     // the video chunk (0-based) into which zeros were inserted
  int brokenSizeChunk = -1;  // the video chunk whose size field was overwritten
};

// Builds the sample: hdrl (avih, video and audio strl), movi with 00dc and 01wb chunks,
// idx1; then 4096 zero bytes inserted into one video chunk and one size field broken.
Bytes MakeSample(SampleInfo* info = nullptr);
bool WriteSample(const std::string& path, SampleInfo* info = nullptr);

}  // namespace rv::cli
