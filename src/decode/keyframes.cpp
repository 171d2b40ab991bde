#include "decode/keyframes.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "base/host.h"
#include "base/tasks.h"
#include "check/index.h"
#include "check/odml_index.h"
#include "riff/blocks.h"
#include "riff/header.h"
#include "riff/movi_locator.h"
#include "riff/source.h"

namespace rv {

void KeyframeState::SetChoice(const std::string& s) {
  std::lock_guard lock(mutex_);
  choice_ = s;
}

std::string KeyframeState::Choice() {
  std::lock_guard lock(mutex_);
  return choice_;
}

void KeyframeState::SetText(const std::string& label, const std::string& text) {
  if (CurrentWorkerAbandoned()) return;  // a killed search does not speak for the next one
  {
    std::lock_guard lock(mutex_);
    if (label == "LabelIO")
      io_ = text;
    else if (label == "LabelKK")
      kk_ = text;
    else if (label == "LabelPR")
      pr_ = text;
    else if (label == "LabelKA")
      ka_ = text;
    else if (label == "LabelKKP")
      kkp_ = text;
  }
  ++generation;
}

std::string KeyframeState::Text(const std::string& label) {
  std::lock_guard lock(mutex_);
  if (label == "LabelIO") return io_;
  if (label == "LabelKK") return kk_;
  if (label == "LabelPR") return pr_;
  if (label == "LabelKA") return ka_;
  if (label == "LabelKKP") return kkp_;
  return {};
}

void KeyframeState::SetPicture(const BitmapInfo& format, const Bytes& picture) {
  if (CurrentWorkerAbandoned()) return;
  {
    std::lock_guard lock(mutex_);
    format_ = format;
    picture_ = picture;
  }
  ++pictureGeneration;
}

bool KeyframeState::Picture(BitmapInfo& format, Bytes& picture) {
  std::lock_guard lock(mutex_);
  if (picture_.empty()) return false;
  format = format_;
  picture = picture_;
  return true;
}

KeyframeState& Keyframes() {
  static KeyframeState k;
  return k;
}

bool IsVideoFrameId(uint32_t ckid) { return ckid == fcc("00dc") || ckid == fcc("00db"); }

void ResetKeyframeFlags() {
  bool first = true;
  for (IndexEntry& e : Index().entries) {
    if (!IsVideoFrameId(e.ckid)) continue;
    if (first)
      e.dwFlags |= kKeyframeFlag;
    else
      e.dwFlags &= ~kKeyframeFlag;
    first = false;
  }
}

namespace {

// Reads a chunk's payload through the read cache, in pieces when it is larger than the
// cache. False when it cannot be read, or reaches past streamEnd (a damaged index may declare
// up to 4 GB): nothing is decoded from stale bytes.
bool ReadChunk(uint64_t pos, uint32_t length, uint64_t streamEnd, Bytes& out) {
  if (pos + length > streamEnd) return false;
  out.resize(length);
  const uint32_t piece = Cache().size;
  for (uint32_t done = 0; done < length;) {
    uint32_t n = std::min(length - done, piece);
    if (!ReadSource(pos + done, n, out.data() + done)) return false;
    done += n;
  }
  return true;
}

// A picture's fingerprint: 128 bits over every byte, so that the pictures of chunks still
// waiting for the running decoder need not be kept whole (a decoder may hold a dozen
// reordered pictures).
struct Fingerprint {
  uint64_t a = 0, b = 0;
  size_t size = 0;
  bool operator==(const Fingerprint&) const = default;
};

Fingerprint FingerprintOf(const Bytes& p) {
  Fingerprint f;
  f.size = p.size();
  uint64_t a = 0x9E3779B97F4A7C15ull, b = 0xC2B2AE3D27D4EB4Full;
  auto mix = [&](uint64_t w) {
    a = (a ^ w) * 0xFF51AFD7ED558CCDull;
    a ^= a >> 32;
    b = (b + w) * 0xC4CEB9FE1A85EC53ull;
    b ^= b >> 29;
    b += a;
  };
  size_t i = 0;
  for (; i + 8 <= p.size(); i += 8) {
    uint64_t w;
    std::memcpy(&w, p.data() + i, 8);
    mix(w);
  }
  uint64_t tail = 0;
  std::memcpy(&tail, p.data() + i, p.size() - i);
  mix(tail ^ (uint64_t(p.size()) << 3));
  f.a = a;
  f.b = b;
  return f;
}

// The general procedure. Every video chunk is fed to the running decoder tagged with its
// entry number, and decoded alone on the probe. A decoder that reorders frames hands the
// picture of a chunk back later, so the probe's fingerprint waits under the chunk's tag
// until the running decoder returns that tag's picture; the two are compared then.
// 0 finished, -1 the running decoder could not begin, -2 stopped.
constexpr size_t kMaxWaiting = 4096;

int Search(Decompressor& running, Decompressor& probe, const BitmapInfo& out, uint64_t moviPtr) {
  KeyframeState& k = Keyframes();
  if (running.Begin() != 0) return -1;
  auto& entries = Index().entries;
  const size_t n = entries.size();
  Bytes chunk, a(PictureSize(out), 0), b(PictureSize(out), 0);
  std::map<int64_t, Fingerprint> waiting;  // tag -> the probe's picture
  const uint64_t streamEnd = StreamSize();

  auto take = [&] {
    int64_t tag = 0;
    while (running.Receive(tag, a)) {
      if (tag < 0 || size_t(tag) >= n) continue;
      IndexEntry& e = entries[size_t(tag)];
      auto w = waiting.find(tag);
      if (w != waiting.end() && w->second == FingerprintOf(a)) {
        e.dwFlags |= kKeyframeFlag;
        ++k.keyframes;
      }
      if (w != waiting.end()) waiting.erase(w);
      if (k.showKeyframes && ((e.dwFlags & kKeyframeFlag) || k.showAll)) k.SetPicture(out, a);
    }
  };

  for (size_t i = 0; i < n;) {
    IndexEntry& e = entries[i];
    if (IsVideoFrameId(e.ckid)) {
      const uint64_t pos = moviPtr + 8 + e.dwChunkOffset + 8;
      if (ReadChunk(pos, e.dwChunkLength, streamEnd, chunk) &&
          running.Send(chunk.data(), chunk.size(), int64_t(i), false) == 0) {
        if (probe.Begin() == 0) {
          if (probe.DecodeAlone(chunk.data(), chunk.size(), b) == 0)
            waiting[int64_t(i)] = FingerprintOf(b);
          probe.End();
        }
        take();
      }
      // A probe whose chunk the running decoder dropped would wait for ever.
      if (waiting.size() > kMaxWaiting) waiting.erase(waiting.begin());
    }
    ++i;
    // The pictures the running decoder still holds come out before the last report, so
    // that it carries the final count.
    if (i == n && !StopRequested()) {
      running.Drain();
      take();
    }
    if (StopRequested()) break;
    k.gauge = int(i * 100 / n);
    Progress p;
    p.target = ProgressTarget::kKeyframes;
    p.percent = k.gauge;
    p.hasText = true;
    p.text = std::to_string(i) + " >> " + std::to_string(n);
    p.found = int64_t(k.keyframes.load());
    ReportProgress(p);
  }
  running.End();
  return StopRequested() ? -2 : 0;
}

}  // namespace

bool FindKK() {
  KeyframeState& k = Keyframes();
  if (!InputIsLoadedFile()) {
    k.SetText("LabelIO", "в памяти данные другого файла");
    return true;
  }
  k.SetText("LabelIO", "подготовка к работе");
  const std::string source = InputFileName();
  const int64_t moviPtr = GetMoviPtr(source);
  ResetReadCache();
  auto finish = [&](const std::string& text) {
    CloseSource();
    k.SetText("LabelKKP", "");
    k.SetText("LabelIO", text);
    k.gaugeVisible = false;
    return true;
  };
  if (!OpenSource(source)) return finish("ошибка открытия файла");
  if (moviPtr < 0) return finish("не найден поток");
  const BitmapInfo in = InputFormatFromHeader();
  const BitmapInfo out = OutputFormatFor(in);
  k.SetText("LabelKK", "в заголовке указан кодек: " + ShowChars(Header().vstrh.DeviceHandler));
  k.SetText("LabelPR", "в заголовке указано сжатие: " + ShowChars(Header().vstrf.biCompression));
  SearchDecoders d = OpenForSearch(k.Choice(), in, Header().vstrf.codecData);
  if (!d.error.empty()) return finish(d.error);
  k.SetText("LabelKA", "в работе кодек: " + d.running->Description());
  k.areaWidth = std::abs(out.biWidth);
  k.areaHeight = std::abs(out.biHeight);
  ResetKeyframeFlags();
  Index().keyflagsDecided = true;
  k.gauge = 0;
  k.gaugeVisible = true;
  k.keyframes = 0;
  int r = Search(*d.running, *d.probe, out, uint64_t(moviPtr));
  return finish(r == 0    ? "поиск завершен"
                : r == -1 ? "ошибка декомпрессора"
                          : "прервано пользователем");
}

bool LoadOwnIndex(const std::string& fileName) {
  // The OpenDML indexes cover every part of the file; idx1 only the first.
  if (HasBlock("indx", "")) {
    if (!OpenSource(fileName)) return false;
    std::vector<IndexEntry> all = ReadOdmlIndexes().Merged();
    CloseSource();
    if (!all.empty()) {
      Index().entries = std::move(all);
      Index().keyflagsDecided = false;
      Index().count = Index().entries.size();
      return true;
    }
  }
  int32_t b = FindBlock("idx1", "");
  if (b < 0) return false;
  const BlockRecord& r = Blocks()[size_t(b)];
  const uint64_t entries = r.Size >= 8 ? (r.Size - 8) / 16 : 0;
  if (!OpenSource(fileName)) return false;
  // Only the entries the file holds; the old index stays when nothing can be read.
  const uint64_t avail = Source().size > r.Offset + 8 ? Source().size - r.Offset - 8 : 0;
  const uint32_t n = uint32_t(std::min<uint64_t>(entries, avail / 16));
  Bytes raw;
  bool ok = n == 0 || ReadFileDirect(r.Offset + 8, n * 16, raw);
  CloseSource();
  if (!ok) return false;
  std::vector<IndexEntry> loaded;
  loaded.reserve(n);
  for (uint32_t i = 0; i < n; ++i) loaded.push_back(EntryFromBytes(raw.data() + 16 * i));
  Index().entries = std::move(loaded);
  Index().keyflagsDecided = false;
  Index().count = Index().entries.size();
  return true;
}

EkranGeometry ResizeEkran(int tabWidth, int panelTop, int areaWidth, int areaHeight) {
  EkranGeometry g;
  const int availW = tabWidth - 16, availH = panelTop - 16;
  if (areaWidth <= 0 || areaHeight <= 0 || availW <= 0 || availH <= 0) return g;
  double kx = availW >= areaWidth ? 1.0 : double(areaWidth) / availW;
  double ky = availH >= areaHeight ? 1.0 : double(areaHeight) / availH;
  double k = std::max(kx, ky);
  g.width = int(areaWidth / k);
  g.height = int(areaHeight / k);
  g.left = (tabWidth - g.width) / 2;
  g.top = (panelTop - g.height) / 2;
  g.hint = "масштаб: " + std::to_string(int(100 / k)) + "%";
  return g;
}

}  // namespace rv
