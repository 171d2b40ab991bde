// The stream check: walks the movi list block by block, builds the index in memory and
// finds bad blocks, searching byte by byte behind broken size fields.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "riff/source.h"

namespace rv {

// Four characters: two digits then "dc", "wb", "db" or "pc"; with streams01 the digits must
// be "00" or "01".
bool IsStreamChunkID(const std::string& id, bool streams01);

// Codes of the stream-check window's prompts and notices (its progress goes through
// ReportProgress).
constexpr int kAskFirstBlock = 1;
constexpr int kAskBrokenLink = 2;
constexpr int kShowBadBlock = 4;
constexpr int kAskIdx1Found = 7;
// The texts of questions 1, 2 and 7.
const char* CheckQuestionText(int code);

// What the stream-check window shows while a scan runs, read by the window on its timer.
struct ScanUiState {
  std::atomic<bool> gaugeVisible{false};
  std::atomic<bool> pointerVisible{false};
  std::atomic<bool> firstSearchSign{false};  // ImageFF
  std::atomic<int> percent{0};
};
ScanUiState& ScanUi();

// The close-check-window flag: set by the checks when they found nothing to show.
std::atomic<uint8_t>& CloseCheckWindowFlag();

// InputFileName() (riff/source.h) names the file the scan opens.

struct ScanSummary {
  bool reachedEnd = false;  // the task's result
  bool stopped = false;     // ended by the stop flag
  bool sizeBroken = false;  // the movi or RIFF size was broken: the scan ran to the file's end
  bool fileEnded = false;   // the file ended before the stream its header declares
  uint64_t steps = 0;
};
// The task routine "createIDX1". True when the scan reached the scan end.
bool createIDX1();
const ScanSummary& LastScan();

}  // namespace rv
