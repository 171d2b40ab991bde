// Recognising a stream's format from its first chunks with FFmpeg's decoders and parsers, and
// the plan of a header from the stream (and a donor) that check/header_synth.h applies.
#pragma once

#include <string>
#include <vector>

#include "check/header_synth.h"

namespace rv {

// MPEG-4 Part 2, H.264 (Annex B), MJPEG, DV; an empty fourcc when none fits.
VideoGuess RecogniseVideo(const std::vector<Bytes>& payloads);
// MPEG audio layers 1-3, AC-3; an empty codec when none fits.
AudioGuess RecogniseAudio(const std::vector<Bytes>& payloads);

// The open source's movi chunks and what their first payloads are; with donorFile, the
// donor's header. False, with a message, when the donor cannot be read.
bool PlanHeader(const std::string& donorFile, HeaderPlan& plan);

}  // namespace rv
