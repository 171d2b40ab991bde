// The RIFF walk into the block table, the header records, their field lines in the tree,
// the format checks and the seven block labels.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "riff/blocks.h"
#include "riff/bytes.h"

namespace rv {

struct AvihRecord {
  std::string signature;
  uint32_t size = 0;
  uint32_t TimeBetweenFrames = 0, MaximumDataRate = 0, PaddingGranularity = 0, Flags = 0,
           TotalNumberOfFrames = 0, NumberOfInitialFrames = 0, NumberOfStreams = 0,
           SuggestedBufferSize = 0, Width = 0, Height = 0, TimeScale = 0, DataRate = 0,
           StartTime = 0, DataLength = 0;
};

struct StrhRecord {
  std::string signature;
  uint32_t size = 0;
  std::string DataType, DeviceHandler;
  uint32_t Flags = 0, Priority = 0, InitialFrames = 0, TimeScale = 0, DataRate = 0, StartTime = 0,
           DataLength = 0, SuggestedBufferSize = 0, Quality = 0, SampleSize = 0, xz1 = 0, xz2 = 0;
};

struct VideoStrfRecord {
  std::string signature;
  uint32_t size = 0;
  uint32_t biSize = 0, biWidth = 0, biHeight = 0;
  uint16_t biPlanes = 0, biBitCount = 0;
  std::string biCompression;
  uint32_t biSizeImage = 0, biXPelsPerMeter = 0, biYPelsPerMeter = 0, biClrUsed = 0,
           biClrImportant = 0;
  Bytes codecData;
};

struct AudioStrfRecord {
  std::string signature;
  uint32_t size = 0;
  uint16_t wFormatTag = 0, nChannels = 0;
  uint32_t nSamplesPerSec = 0, nAvgBytesPerSec = 0;
  uint16_t nBlockAlign = 0, wBitsPerSample = 0, cbSize = 0;
  Bytes codecData;
};

struct HeaderState {
  AvihRecord avih;
  StrhRecord vstrh, astrh;
  VideoStrfRecord vstrf;
  AudioStrfRecord astrf;
  // The audio streams after the first of a header made from the stream or a donor (numbered on
  // from it), written after the first audio stream's list.
  std::vector<std::pair<StrhRecord, AudioStrfRecord>> moreAudio;
  bool audioFirst = false;  // a made header's audio stream is stream 00, its video stream 01
  uint64_t parsePos = 0;
  int32_t lastIndex = -1;
  uint64_t moviPos = 0;  // stream position of the four bytes "movi"
  char extended = 0;     // 'y' when an indx block was found
  Bytes shared;          // the shared buffer whole chunks are read into
  void ResetRecords();
};
HeaderState& Header();

// The seven block labels and their colours.
enum class LabelColor : uint8_t { Gray, Blue, Maroon };
enum LabelId : int {
  kLabelAVIH,
  kLabelVSTRH,
  kLabelVSTRF,
  kLabelASTRH,
  kLabelASTRF,
  kLabelMOVI,
  kLabelIDX1,
  kLabelCount
};
extern const std::array<const char*, kLabelCount> kLabelNames;     // "LabelAVIH", ...
extern const std::array<const char*, kLabelCount> kLabelCaptions;  // "avih", "v.strh", ...
extern const std::array<const char*, kLabelCount> kElementNames;   // "avih", "vstrh", ...
LabelColor GetLabel(int id);
void SetLabel(int id, LabelColor c);  // notifies the host so the labels repaint

void SignsOff();
void SignsOn();
void HighlightSign(const BlockRecord& r);
bool IFpresent(const std::string& element);
bool ReadyToSave();

// ID characters as display text: printable ASCII as is, high bytes as Windows-1251, other
// bytes as ".".
std::string ShowChars(const std::string& s);

// The walk: block table, tree, records. The source must be open.
void ReadStruct();
void Chunks2TV();
void lista2struct();

bool readAVIH(const Bytes& buf, AvihRecord& r);
bool readSTRH(const Bytes& buf, StrhRecord& r);
bool readSTRF(const Bytes& buf, char kind);  // into the video or audio record of Header()
bool readVideoSTRF(const Bytes& buf, VideoStrfRecord& r);
bool readAudioSTRF(const Bytes& buf, AudioStrfRecord& r);

void avih2TV(int32_t node, const AvihRecord& r);
void strh2TV(int32_t node, const StrhRecord& r);
void strf2TV(int32_t node, char kind);

bool isCorrectSTRFAsize(const BlockRecord& r);
bool supposeSTRFV(const BlockRecord& r);
// The stream kind ('v', 'a' or '?') of the strf block at index i of the block table: that of
// the stream header in its strl list, or, in the flat table of a reconstruction, of the
// stream header found last before it.
char FormatStreamKind(size_t i);

// The extended-format flag from the block table: 'y', with its message, when an indx block is
// there.
void SetExtendedFlag();

// What BitBtnGO does after the reset of the previous file's state: open, walk, close,
// the extended-format flag. Returns false when the file could not be opened.
struct OpenResult {
  bool opened = false;
  bool hasIdx1 = false;  // an idx1 or OpenDML indexes: BitBtnIDX is enabled exactly then
};
OpenResult OpenAndReadHeader(const std::string& fileName);

}  // namespace rv
