// Recognising a stream's format from its first chunks with FFmpeg's decoders and parsers, and
// the plan of a header from the stream (and a donor) that check/header_synth.h applies.
#pragma once

#include <functional>
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

// The header made from the open source's stream, and from donorFile when one is named, for a
// reconstruction that could not finish: planned, each difference of the donor from the stream
// said, a donor that differs taken only when takeDifferentDonor(question) agrees (else said,
// with refusalHint after), and applied. Every step is a message. False when no header was made.
bool MakeHeader(const std::string& donorFile,
                const std::function<bool(const std::string& question)>& takeDifferentDonor,
                const std::string& refusalHint);

}  // namespace rv
