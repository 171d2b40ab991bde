// The decompressor layer: FFmpeg's decoders behind the operations the keyframe search needs
// (list the decoders, locate one for a format, begin / decompress / end, pictures as
// uncompressed bottom-up 24-bit DIBs of the declared size).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "riff/bytes.h"

namespace rv {

// A BITMAPINFOHEADER as the decoder is given it.
struct BitmapInfo {
  uint32_t biSize = 40;
  int32_t biWidth = 0, biHeight = 0;
  uint16_t biPlanes = 0, biBitCount = 0;
  uint32_t biCompression = 0;  // FOURCC; 0 for uncompressed RGB
  uint32_t biSizeImage = 0;
  uint32_t biXPelsPerMeter = 0, biYPelsPerMeter = 0, biClrUsed = 0, biClrImportant = 0;
};

// The input format from the video strf record; the output format: the same, uncompressed.
BitmapInfo InputFormatFromHeader();
BitmapInfo OutputFormatFor(const BitmapInfo& in);
// Bytes of a picture in the output format: 24-bit rows padded to 4 bytes, whatever the
// declared bit count (the picture is always delivered as 24-bit).
size_t PictureSize(const BitmapInfo& out);
size_t PictureStride(const BitmapInfo& out);

struct DecoderEntry {
  std::string fourcc;       // as the AVI FOURCC tables name it
  std::string description;  // the decoder's long name
};
// One entry per installed video decoder that has an AVI FOURCC.
std::vector<DecoderEntry> InstalledDecoders();
// "auto", then "FOURCC (description)" per decoder: the list of the codec choice.
std::vector<std::string> DecompressorChoices();

class Decompressor {
 public:
  ~Decompressor();
  // A decoder for handler (preferred) or, failing that, for the format's compression.
  static std::unique_ptr<Decompressor> Locate(uint32_t handler, const BitmapInfo& in,
                                              const Bytes& extradata);
  // The decoder named by handler alone; null when there is none.
  static std::unique_ptr<Decompressor> Open(uint32_t handler, const BitmapInfo& in,
                                            const Bytes& extradata);
  // Whether it decodes the input format.
  bool Query() const;
  int Begin();  // 0 when decoding may begin
  // Hands one chunk to the decoder, tagged so that the picture it produces can be told
  // apart from the pictures of other chunks: decoders that reorder frames (B-frames) hand
  // pictures back later than the chunk that carries them, and not in chunk order. alone
  // marks a chunk decoded without its predecessors. 0 when the decoder took the chunk.
  int Send(const uint8_t* data, size_t size, int64_t tag, bool alone);
  // Ends the sequence: the pictures the decoder still holds come out by Receive.
  void Drain();
  // The next picture the decoder has ready and the tag of the chunk that produced it; false
  // when none is ready (more chunks are needed, or the sequence is drained).
  bool Receive(int64_t& tag, Bytes& picture);
  // Decodes one chunk alone on a decoder just begun and drained: 0 when picture holds the
  // picture of this chunk.
  int DecodeAlone(const uint8_t* data, size_t size, Bytes& picture);
  void End();
  std::string Handler() const;  // FOURCC of the decoder in use
  std::string Description() const;

 private:
  struct Impl;
  explicit Decompressor(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

struct SearchDecoders {
  std::unique_ptr<Decompressor> running, probe;
  std::string error;  // the failure text when the decoders could not be had
  std::string handlerName;
};
// Opening for the keyframe search: choice is the codec choice's text ("auto" or starting
// with a FOURCC).
SearchDecoders OpenForSearch(const std::string& choice, const BitmapInfo& in,
                             const Bytes& extradata);

}  // namespace rv
