#include "cli/sample.h"

#include <cstddef>
#include <cstdio>

namespace rv::cli {

namespace {

void PutId(Bytes& b, const char* id) { b.insert(b.end(), id, id + 4); }

Bytes Chunk(const char* id, const Bytes& payload) {
  Bytes b;
  PutId(b, id);
  AppendDWord(b, uint32_t(payload.size()));
  b.insert(b.end(), payload.begin(), payload.end());
  if (payload.size() & 1) b.push_back(0);
  return b;
}

Bytes List(const char* type, const char* listType, const Bytes& content) {
  Bytes b;
  PutId(b, type);
  AppendDWord(b, uint32_t(content.size() + 4));
  PutId(b, listType);
  b.insert(b.end(), content.begin(), content.end());
  return b;
}

void Append(Bytes& a, const Bytes& b) { a.insert(a.end(), b.begin(), b.end()); }

// Deterministic filler that looks like compressed data (no long runs).
Bytes Payload(uint32_t size, uint32_t seed, uint8_t first) {
  Bytes b(size);
  uint32_t x = seed * 2654435761u + 1;
  for (uint32_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b[i] = uint8_t(x);
  }
  if (size) b[0] = first;
  return b;
}

}  // namespace

Bytes MakeSample(SampleInfo* info) {
  constexpr int kFrames = 50;
  constexpr uint32_t kWidth = 320, kHeight = 240;
  constexpr uint32_t kAudioChunk = 1152;

  Bytes avih;
  for (uint32_t v : {40000u, 250000u, 0u, 0x910u, uint32_t(kFrames), 0u, 2u, 65536u, kWidth,
                     kHeight, 0u, 0u, 0u, 0u})
    AppendDWord(avih, v);

  Bytes vstrh;
  PutId(vstrh, "vids");
  PutId(vstrh, "XVID");
  for (uint32_t v : {0u, 0u, 0u, 1u, 25u, 0u, uint32_t(kFrames), 65536u, 0xFFFFFFFFu, 0u})
    AppendDWord(vstrh, v);
  AppendWord(vstrh, 0), AppendWord(vstrh, 0), AppendWord(vstrh, uint16_t(kWidth)),
      AppendWord(vstrh, uint16_t(kHeight));
  Bytes vstrf;
  for (uint32_t v : {40u, kWidth, kHeight}) AppendDWord(vstrf, v);
  AppendWord(vstrf, 1), AppendWord(vstrf, 24);
  PutId(vstrf, "XVID");
  for (uint32_t v : {kWidth * kHeight * 3, 0u, 0u, 0u, 0u}) AppendDWord(vstrf, v);

  Bytes astrh;
  PutId(astrh, "auds");
  AppendDWord(astrh, 0);
  for (uint32_t v : {0u, 0u, 0u, 1u, 16000u, 0u, uint32_t(kFrames * kAudioChunk), 12288u,
                     0xFFFFFFFFu, 1u, 0u, 0u})
    AppendDWord(astrh, v);
  Bytes astrf;  // 18-byte wave format, MPEG layer 2, cbSize 0
  AppendWord(astrf, 0x50), AppendWord(astrf, 2);
  AppendDWord(astrf, 44100), AppendDWord(astrf, 16000);
  AppendWord(astrf, 1), AppendWord(astrf, 0), AppendWord(astrf, 0);

  Bytes vstrl = Chunk("strh", vstrh);
  Append(vstrl, Chunk("strf", vstrf));
  Bytes astrl = Chunk("strh", astrh);
  Append(astrl, Chunk("strf", astrf));
  Bytes hdrl = Chunk("avih", avih);
  Append(hdrl, List("LIST", "strl", vstrl));
  Append(hdrl, List("LIST", "strl", astrl));

  struct Entry {
    const char* id;
    uint32_t flags, offset, size;
  };
  std::vector<Entry> index;
  std::vector<size_t> videoStart;  // offset of each video chunk inside movi content
  Bytes movi;
  for (int f = 0; f < kFrames; ++f) {
    uint32_t size = (f % 25 == 0) ? 7001 : 1500 + uint32_t((f * 733) % 2500);
    videoStart.push_back(movi.size());
    index.push_back({"00dc", f % 25 == 0 ? 0x10u : 0u, uint32_t(movi.size() + 4), size});
    Append(movi, Chunk("00dc", Payload(size, uint32_t(f), 0)));
    index.push_back({"01wb", 0x10u, uint32_t(movi.size() + 4), kAudioChunk});
    Append(movi, Chunk("01wb", Payload(kAudioChunk, uint32_t(1000 + f), 0xFF)));
  }
  Bytes idx1;
  for (const Entry& e : index) {
    PutId(idx1, e.id);
    AppendDWord(idx1, e.flags), AppendDWord(idx1, e.offset), AppendDWord(idx1, e.size);
  }

  Bytes junk(2048 - 12 - (8 + 4 + hdrl.size()) - 8 - 12, 0);
  Bytes riff = List("LIST", "hdrl", hdrl);
  Append(riff, Chunk("JUNK", junk));
  size_t moviHeader = 12 + riff.size();
  Append(riff, List("LIST", "movi", movi));
  Append(riff, Chunk("idx1", idx1));
  Bytes file = List("RIFF", "AVI ", riff);

  // Damage: a broken size field in video chunk 30, and 4096 zeros inserted into chunk 10
  // (in that order, so the earlier offsets stay valid).
  const int kBroken = 30, kZeros = 10;
  size_t brokenAt = moviHeader + 12 + videoStart[kBroken] + 4;
  PutDWord(0x7A3B1C00u, file.data() + brokenAt);
  size_t zerosAt = moviHeader + 12 + videoStart[kZeros] + 8 + 700;
  file.insert(file.begin() + std::ptrdiff_t(zerosAt), 4096, 0);

  if (info) {
    info->videoChunks = kFrames;
    info->audioChunks = kFrames;
    info->zeroRunChunk = kZeros;
    info->brokenSizeChunk = kBroken;
  }
  return file;
}

bool WriteSample(const std::string& path, SampleInfo* info) {
  Bytes b = MakeSample(info);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace rv::cli
