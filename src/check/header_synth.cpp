#include "check/header_synth.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <tuple>

#include "base/messages.h"
#include "base/text.h"
#include "check/scanner.h"
#include "riff/blocks.h"
#include "riff/odml.h"
#include "riff/source.h"

namespace rv {

namespace {

constexpr size_t kVideoChunks = 300, kAudioChunks = 32;
constexpr uint64_t kVideoBytes = 8 << 20, kAudioBytes = 512 << 10;
constexpr uint32_t kLargestRead = 16 << 20;  // a chunk read for a sample

bool ChunkHead(uint64_t pos, uint64_t end, std::string& id, uint32_t& size) {
  uint8_t h[8];
  if (pos + 8 > end || !ReadSource(pos, 8, h)) return false;
  id.assign(reinterpret_cast<const char*>(h), 4);
  size = LoadLE32(h + 4);
  return true;
}

uint64_t After(uint64_t pos, uint32_t size) { return pos + 8 + size + (size & 1); }

// A stream chunk at pos that fits before end, followed by two more (or by an idx1, a list, or
// the end): random bytes seldom chain like that.
bool ChainsAt(uint64_t pos, uint64_t end) {
  for (int k = 0; k < 3; ++k) {
    std::string id;
    uint32_t size = 0;
    if (k > 0 && pos == end) return true;
    if (!ChunkHead(pos, end, id, size)) return false;
    if (k > 0 && (id == "idx1" || id == "LIST" || id == "JUNK")) return true;
    if (!IsStreamChunkID(id, false) || After(pos, size) > end) return false;
    pos = After(pos, size);
  }
  return true;
}

// The first position at or after from where a chain of stream chunks starts; end when none.
uint64_t FindChain(uint64_t from, uint64_t end) {
  constexpr uint32_t kWindow = 1 << 16;
  Bytes win;
  for (uint64_t p = from; p + 8 <= end; p += kWindow) {
    const uint32_t len = uint32_t(std::min<uint64_t>(kWindow + 3, end - p));
    if (!ReadSource(p, len, win)) break;
    for (uint32_t i = 0; i + 4 <= len && i < kWindow; ++i) {
      const uint8_t* b = win.data() + i;
      if (b[0] < '0' || b[0] > '9' || b[1] < '0' || b[1] > '9') continue;
      if (IsStreamChunkID(std::string(reinterpret_cast<const char*>(b), 4), false) &&
          ChainsAt(p + i, end))
        return p + i;
    }
  }
  return end;
}

// Where the "movi" of the list that idx1 counts from stood: the base that puts an entry with
// the ID and size of the chunk at first on it, and the entry after it on the chunk after that.
// 0 when no entry agrees.
uint64_t IndexBase(uint64_t idx1, uint32_t size, uint64_t first) {
  std::string id0, id1;
  uint32_t n0 = 0, n1 = 0;
  if (!ChunkHead(first, StreamSize(), id0, n0) ||
      !ChunkHead(After(first, n0), StreamSize(), id1, n1))
    return 0;
  Bytes e;
  const uint32_t entries = std::min<uint32_t>(size / 16, 1u << 16);
  if (entries < 2 || !ReadSource(idx1 + 8, entries * 16, e)) return 0;
  for (uint32_t i = 0; i + 1 < entries; ++i) {
    const uint8_t* a = e.data() + 16 * i;
    const uint32_t off = LoadLE32(a + 8);
    if (std::memcmp(a, id0.data(), 4) != 0 || LoadLE32(a + 12) != n0 || off < 4 || off > first)
      continue;
    const uint64_t base = first - off;
    if (base >= 4 && std::memcmp(a + 16, id1.data(), 4) == 0 &&
        base + LoadLE32(a + 24) == After(first, n0))
      return base;
  }
  return 0;
}

char KindOf(const std::string& id) {
  const std::string t = id.substr(2);
  return t == "dc" || t == "db" ? 'v' : t == "wb" ? 'a' : '?';
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = char(c - 32);
  return s;
}

// Codes that name one bitstream format.
std::string CodecFamily(const std::string& fourcc) {
  static const std::vector<std::pair<const char*, std::vector<std::string>>> kFamilies = {
      {"MPEG-4 Part 2", {"XVID", "DIVX", "DX50", "FMP4", "MP4V", "M4S2", "3IV2"}},
      {"H.264", {"H264", "X264", "AVC1", "DAVC"}},
      {"MJPEG", {"MJPG", "AVRN", "LJPG", "JPGL"}},
      {"DV", {"DVSD", "DV25", "CDVC", "DVSL"}}};
  const std::string u = Upper(fourcc.substr(0, 4));
  for (const auto& [name, codes] : kFamilies)
    if (std::find(codes.begin(), codes.end(), u) != codes.end()) return name;
  return u;
}

std::string Size(uint32_t w, uint32_t h) { return std::to_string(w) + "x" + std::to_string(h); }

std::string RateText(uint32_t num, uint32_t den) {
  char t[32];
  std::snprintf(t, sizeof t, "%.3f", den ? double(num) / den : 0.0);
  std::string s = t;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s;
}

std::string AudioText(const AudioStrfRecord& a) {
  char tag[8];
  std::snprintf(tag, sizeof tag, "%04X", unsigned(a.wFormatTag));
  return std::string("формат 0x") + tag + ", " + std::to_string(a.nSamplesPerSec) +
         " Гц, каналов " + std::to_string(a.nChannels);
}

// A block of the made header, which the file does not hold: a line in the tree so that its
// panel opens on it like on a block found in the file.
int32_t AddMadeBlock(const std::string& name, const std::string& tag, int32_t parent, uint64_t size,
                     char kind, const char* note = " (составлен)") {
  auto& blocks = Blocks();
  const int32_t line = size_t(parent) < blocks.size() ? blocks[size_t(parent)].Node : -1;
  BlockRecord r{name, tag, parent, 0, size, -1, kind};
  std::string text = "'" + name + "' " + std::to_string(size);
  if (!tag.empty()) text += " '" + tag + "'";
  r.Node = Tree().Add(text + note, line, int32_t(blocks.size()));
  blocks.push_back(r);
  return int32_t(blocks.size() - 1);
}

// kind 'v' or 'a' for the records the panels edit; 'A' for a further audio stream, whose format
// has no panel.
void ShowMadeStream(char kind, const StrhRecord& strhRecord, uint64_t strfSize) {
  const int32_t list = AddMadeBlock("LIST", "strl", 0, 0, 0);
  const int32_t strh = AddMadeBlock("strh", kind == 'v' ? "vids" : "auds", list, 64, 0);
  strh2TV(Blocks()[size_t(strh)].Node, strhRecord);
  const int32_t strf = AddMadeBlock("strf", "", list, strfSize, kind == 'A' ? 0 : kind);
  if (kind != 'A') strf2TV(Blocks()[size_t(strf)].Node, kind);
}

// The stream header and wave format of an audio stream from what its frames tell.
void AudioRecords(const AudioGuess& a, StrhRecord& strh, AudioStrfRecord& strf) {
  strf = AudioStrfRecord{};
  strf.signature = "strf";
  strf.wFormatTag = a.formatTag;
  strf.nChannels = a.channels;
  strf.nSamplesPerSec = a.sampleRate;
  strf.nAvgBytesPerSec = a.byteRate;
  strf.nBlockAlign = a.blockAlign;
  strf.wBitsPerSample = a.bitsPerSample;
  strf.cbSize = uint16_t(a.extra.size());
  strf.codecData = a.extra;
  strf.size = 18 + strf.cbSize;
  strh = StrhRecord{};
  strh.signature = "strh";
  strh.size = 56;
  strh.DataType = "auds";
  strh.Quality = 0xFFFFFFFFu;
  strh.TimeScale = a.framePerChunk ? a.frameSamples : std::max<uint32_t>(a.blockAlign, 1);
  strh.DataRate = a.framePerChunk ? a.sampleRate : a.byteRate;
  strh.SampleSize = a.framePerChunk ? 0 : std::max<uint32_t>(a.blockAlign, 1);
}

std::string AudioGuessText(const AudioGuess& a) {
  return a.codec + ", " + std::to_string(a.sampleRate) + " Гц, каналов " +
         std::to_string(a.channels) + ", " + std::to_string(a.byteRate * 8 / 1000) +
         " кбит/с, по заголовкам его кадров" + (a.framePerChunk ? "; кадр в каждом блоке" : "");
}

}  // namespace

const StreamSample* MoviSample::Find(char kind) const {
  for (const StreamSample& s : streams)
    if (s.kind == kind) return &s;
  return nullptr;
}

MoviSample SampleMovi() {
  MoviSample s;
  const uint64_t size = StreamSize();
  const int32_t movi = FindBlock("LIST", "movi");
  s.fromList = movi >= 0;
  uint64_t p = s.fromList ? Blocks()[size_t(movi)].Offset + 12 : FindChain(0, size);
  // The movi list found may be a later part's, when the first part's list header was hit too:
  // chunks that chain before it start the stream.
  if (s.fromList && FindChain(0, p) < p) s.fromList = false, p = FindChain(0, p);
  if (s.fromList && !ChainsAt(p, size)) p = FindChain(p, size);
  if (p >= size) return s;
  s.found = true;
  s.first = p;
  s.end = size;
  int video = -1, audio = -1;
  std::string id;
  uint32_t n = 0;
  while (ChunkHead(p, size, id, n)) {
    // An idx1 ends the stream unless a further RIFF part follows it; standard indexes and
    // filler between the chunks are stepped over.
    std::string next;
    uint32_t nextSize = 0;
    if (id == "idx1" && !s.idx1) s.idx1 = p, s.idx1Size = n;
    if (id == "idx1" && !(ChunkHead(After(p, n), size, next, nextSize) && next == "RIFF")) {
      s.end = p;
      break;
    }
    if (id == "LIST" || id == "RIFF") {  // a 'rec ' group, or the next part of the file
      p += 12;
      continue;
    }
    if ((id == "idx1" || id == "JUNK" || IsStdIndexId(id)) && After(p, n) <= size) {
      p = After(p, n);
      continue;
    }
    if (!IsStreamChunkID(id, false) || After(p, n) > size) {
      p = FindChain(p + 1, size);
      continue;
    }
    const int number = (id[0] - '0') * 10 + (id[1] - '0');
    auto it = std::find_if(s.streams.begin(), s.streams.end(),
                           [&](const StreamSample& x) { return x.number == number; });
    if (it == s.streams.end()) {
      s.streams.push_back(StreamSample{number, KindOf(id), id, 0, 0, 0, {}});
      it = s.streams.end() - 1;
    }
    StreamSample& st = *it;
    const bool v = st.kind == 'v', a = st.kind == 'a';
    if (v && video < 0) video = number;
    if (a && audio < 0) audio = number;
    if (number == video) ++s.videoChunks;
    if (number == audio) s.audioBytes += n;
    const size_t maxChunks = v ? kVideoChunks : a ? kAudioChunks : 0;
    if (st.payloads.size() < maxChunks && st.bytes < (v ? kVideoBytes : kAudioBytes) &&
        n <= kLargestRead) {
      Bytes b;
      if (ReadSource(p + 8, n, b)) st.payloads.push_back(std::move(b));
    }
    ++st.chunks;
    st.bytes += n;
    st.largest = std::max(st.largest, n);
    p = After(p, n);
  }
  std::sort(s.streams.begin(), s.streams.end(),
            [](const StreamSample& x, const StreamSample& y) { return x.number < y.number; });
  if (!s.fromList && s.idx1) s.indexBase = IndexBase(s.idx1, s.idx1Size, s.first);
  return s;
}

bool ReadDonorHeader(const std::string& file, DonorHeader& d, std::string& error) {
  d = DonorHeader{};
  d.file = file;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(file.c_str(), "rb"), std::fclose);
  if (!f) return error = "файл не открывается", false;
  auto readAt = [&](uint64_t pos, size_t n, Bytes& b) {
    b.resize(n);
    return fseeko(f.get(), off_t(pos), SEEK_SET) == 0 && std::fread(b.data(), 1, n, f.get()) == n;
  };
  Bytes head;
  if (!readAt(0, 12, head) || GetChars(head, 0, 4) != "RIFF" || GetChars(head, 8, 4) != "AVI ")
    return error = "это не файл AVI", false;
  // The header list among the first top-level chunks.
  Bytes hdrl;
  uint64_t pos = 12;
  for (int k = 0; k < 16 && hdrl.empty() && readAt(pos, 12, head); ++k) {
    const uint32_t size = LoadLE32(head.data() + 4);
    if (GetChars(head, 0, 4) == "LIST" && GetChars(head, 8, 4) == "hdrl") {
      if (size < 4 || size > (16u << 20) || !readAt(pos + 12, size - 4, hdrl)) break;
    }
    pos = After(pos, size);
  }
  if (hdrl.empty()) return error = "в нём нет списка hdrl", false;
  // The chunks of a list's payload [from, to), lists entered (hdrl holds strl, which holds
  // no more lists that matter).
  char kind = '?';
  StrhRecord more;  // the stream header of an audio stream after the first
  auto walk = [&](auto&& self, size_t from, size_t to, int depth) -> void {
    while (from + 8 <= to) {
      const std::string id = GetChars(hdrl, from, 4);
      const uint32_t n = LoadLE32(hdrl.data() + from + 4);
      if (n > to - from - 8) return;
      Bytes chunk(hdrl.begin() + long(from), hdrl.begin() + long(from + 8 + n));
      // A 16-byte PCM wave format ends before wBitsPerSample's word pair: zeros stand for the
      // cbSize it does not have.
      if (chunk.size() < 26) chunk.resize(26, 0);
      if (id == "LIST" && n >= 4) {
        if (depth < 2) self(self, from + 12, from + 8 + n, depth + 1);
      } else if (id == "avih") {
        readAVIH(chunk, d.avih);
      } else if (id == "strh" && n >= 4) {
        kind = GetChars(hdrl, from + 8, 4) == "vids"   ? 'v'
               : GetChars(hdrl, from + 8, 4) == "auds" ? 'a'
                                                       : '?';
        if (kind == 'v' && !d.video) readSTRH(chunk, d.vstrh);
        if (kind == 'a' && !d.audio) readSTRH(chunk, d.astrh);
        if (kind == 'a' && d.audio) readSTRH(chunk, more), kind = 'A';
      } else if (id == "strf" && kind == 'v' && !d.video && n >= 40) {
        d.video = readVideoSTRF(chunk, d.vstrf);
        kind = '?';
      } else if (id == "strf" && kind == 'a' && !d.audio && n >= 16) {
        d.audio = readAudioSTRF(chunk, d.astrf);
        kind = '?';
      } else if (id == "strf" && kind == 'A' && n >= 16) {
        AudioStrfRecord format;
        if (readAudioSTRF(chunk, format)) d.moreAudio.emplace_back(more, format);
        kind = '?';
      }
      from += 8 + n + (n & 1);
    }
  };
  walk(walk, 0, hdrl.size(), 0);
  if (d.avih.signature.empty() || !d.video)
    return error = "в нём нет avih или формата видео", false;
  return true;
}

std::vector<std::string> DonorMismatches(const HeaderPlan& plan) {
  std::vector<std::string> out;
  if (!plan.withDonor) return out;
  const DonorHeader& d = plan.donor;
  const VideoGuess& v = plan.video;
  if (v.ok()) {
    const std::string dc = CodecFamily(d.vstrf.biCompression), sc = CodecFamily(v.fourcc);
    if (dc != sc) out.push_back("кодек видео донора " + dc + ", в потоке " + sc);
    const uint32_t dh = uint32_t(std::abs(int32_t(d.vstrf.biHeight)));
    if (d.vstrf.biWidth != v.width || dh != v.height)
      out.push_back("кадр донора " + Size(d.vstrf.biWidth, dh) + ", в потоке " +
                    Size(v.width, v.height));
  }
  const AudioGuess& a = plan.audio;
  if (a.ok() && d.audio &&
      (d.astrf.wFormatTag != a.formatTag || d.astrf.nSamplesPerSec != a.sampleRate ||
       d.astrf.nChannels != a.channels)) {
    AudioStrfRecord s;
    s.wFormatTag = a.formatTag, s.nSamplesPerSec = a.sampleRate, s.nChannels = a.channels;
    out.push_back("звук донора: " + AudioText(d.astrf) + "; в потоке: " + AudioText(s));
  }
  return out;
}

void SnapRate(uint64_t num, uint64_t den, uint32_t& outNum, uint32_t& outDen) {
  static const std::pair<uint32_t, uint32_t> kRates[] = {
      {24000, 1001}, {24, 1}, {25, 1}, {30000, 1001}, {30, 1}, {50, 1},
      {60000, 1001}, {60, 1}, {25, 2}, {15, 1},       {10, 1}, {20, 1}};
  const double fps = den ? double(num) / double(den) : 0;
  for (const auto& [n, d] : kRates)
    if (std::fabs(fps * d / n - 1.0) < 0.01) {
      outNum = n, outDen = d;
      return;
    }
  outNum = uint32_t(std::llround(fps * 1000)), outDen = 1000;
}

bool ApplyHeaderPlan(const HeaderPlan& plan) {
  HeaderState& h = Header();
  const MoviSample& m = plan.movi;
  if (!m.found) return AddMessage("• в файле не найдены блоки потока"), false;
  AddMessage(m.fromList ? "• блоки потока найдены по сигнатуре LIST movi"
                        : "• сигнатура LIST movi не найдена: блоки потока найдены по их "
                          "идентификаторам с позиции " +
                              FormatThousands(m.first));
  std::string list = "• блоки потока:";
  for (const StreamSample& s : m.streams) list += " " + s.id + " " + std::to_string(s.chunks) + ",";
  list.pop_back();
  AddMessage(list);
  const StreamSample* vs = m.Find('v');
  const StreamSample* as = m.Find('a');
  if (!vs) return AddMessage("• в потоке нет блоков видео"), false;
  // Video 00 and audio 01, or the other way round; other numbers are not rewritten.
  const bool swapped = as && vs->number == 1 && as->number == 0;
  if (!swapped && (vs->number != 0 || (as && as->number != 1)))
    AddMessage("• видео ожидается в потоке 00, звук в 01: номера блоков не меняются");
  const DonorHeader* donor = plan.withDonor ? &plan.donor : nullptr;
  const std::string from = donor ? "из донора " + donor->file : "";

  // Video.
  bool videoRateKnown = true, madeVideo = true, madeAudio = true, madeAvih = true;
  if (donor) {
    h.vstrh = donor->vstrh;
    h.vstrf = donor->vstrf;
    AddMessage("• strh/strf видео взяты " + from);
  } else if (IFpresent("vstrh") && IFpresent("vstrf")) {
    madeVideo = false;
    AddMessage("• strh/strf видео взяты из найденных в файле");
  } else if (plan.video.ok()) {
    const VideoGuess& v = plan.video;
    h.vstrf = VideoStrfRecord{};
    h.vstrf.signature = "strf";
    h.vstrf.size = 40;
    h.vstrf.biSize = 40;
    h.vstrf.biWidth = v.width;
    h.vstrf.biHeight = v.height;
    h.vstrf.biPlanes = 1;
    h.vstrf.biBitCount = v.bitCount;
    h.vstrf.biCompression = v.fourcc;
    h.vstrf.biSizeImage = v.width * v.height * v.bitCount / 8;
    h.vstrh = StrhRecord{};
    h.vstrh.signature = "strh";
    h.vstrh.size = 56;
    h.vstrh.DataType = "vids";
    h.vstrh.DeviceHandler = v.fourcc;
    h.vstrh.Quality = 0xFFFFFFFFu;
    h.vstrh.xz2 = (v.width & 0xFFFF) | (v.height << 16);
    videoRateKnown = v.rateNum && v.rateDen;
    h.vstrh.TimeScale = v.rateDen;
    h.vstrh.DataRate = v.rateNum;
    AddMessage("• видео: " + v.codec + " (" + v.fourcc + "), " + Size(v.width, v.height) +
               ", по данным первых кадров");
    if (videoRateKnown)
      AddMessage("• частота кадров " + RateText(v.rateNum, v.rateDen) + " по " + v.rateFrom);
  } else {
    AddMessage("• формат видео не распознан по данным потока: нужен файл-донор (--donor)");
    return false;
  }

  // Audio.
  bool audio = true;
  if (donor && donor->audio) {
    h.astrh = donor->astrh;
    h.astrf = donor->astrf;
    AddMessage("• strh/strf звука взяты " + from);
  } else if (IFpresent("astrh") && IFpresent("astrf")) {
    madeAudio = false;
    AddMessage("• strh/strf звука взяты из найденных в файле");
  } else if (as && plan.audio.ok()) {
    AudioRecords(plan.audio, h.astrh, h.astrf);
    AddMessage("• звук: " + AudioGuessText(plan.audio));
  } else {
    audio = madeAudio = false;
    if (as)
      AddMessage(
          "• формат звука не распознан (PCM себя не описывает): нужен файл-донор; "
          "без него звук не войдёт в заголовок");
  }
  if (donor && !donor->audio && as && audio)
    AddMessage("• у донора нет звука: звук описан по данным потока");

  // Further audio streams numbered on from the first (02wb, 03wb...): the donor's further audio
  // headers in turn, else what their frames tell. Their lengths are counted here; the chunks of
  // any stream left out are still written, and the user is told so.
  h.audioFirst = swapped && audio;
  if (swapped && !audio)
    AddMessage(
        "• видео в потоке 01, а заголовок звука потока 00 не составлен: без него видео "
        "не будет прочитано");
  bool numberedOn = audio && as && ((vs->number == 0 && as->number == 1) || swapped);
  for (const StreamSample& s : m.streams) {
    if (&s == vs || &s == as) continue;
    const size_t k = h.moreAudio.size();
    const bool next = numberedOn && s.kind == 'a' && s.number == int(2 + k);
    StrhRecord strh;
    AudioStrfRecord strf;
    if (next && donor && k < donor->moreAudio.size()) {
      std::tie(strh, strf) = donor->moreAudio[k];
      AddMessage("• strh/strf звука " + s.id + " взяты " + from);
    } else if (next && k < plan.moreAudio.size() && plan.moreAudio[k].ok()) {
      AudioRecords(plan.moreAudio[k], strh, strf);
      AddMessage("• звук " + s.id + ": " + AudioGuessText(plan.moreAudio[k]));
    } else {
      AddMessage("• блоки " + s.id + " записываются без заголовка потока: " +
                 (next ? "формат не распознан (нужен файл-донор)"
                       : "их номер не следует за номерами видео и звука"));
      numberedOn = false;  // a later stream would take this one's place in the header
      continue;
    }
    strh.SuggestedBufferSize = s.largest;
    strh.DataLength = uint32_t(strh.SampleSize ? s.bytes / strh.SampleSize : s.chunks);
    h.moreAudio.emplace_back(strh, strf);
  }

  // The frame rate the stream did not tell: the interleave with the audio, else 25.
  if (!videoRateKnown) {
    const uint32_t byteRate = audio ? h.astrf.nAvgBytesPerSec : 0;
    if (byteRate && m.audioBytes && m.videoChunks) {
      SnapRate(m.videoChunks * uint64_t(byteRate), m.audioBytes, h.vstrh.DataRate,
               h.vstrh.TimeScale);
      AddMessage("• частота кадров " + RateText(h.vstrh.DataRate, h.vstrh.TimeScale) +
                 " по чередованию со звуком (байт звука на кадр / байт звука в секунду)");
    } else {
      h.vstrh.DataRate = 25, h.vstrh.TimeScale = 1;
      AddMessage(
          "• частота кадров не определена: взято 25 кадров/с; её можно изменить в "
          "панели заголовка или --set vstrh.DataRate=");
    }
  }

  // avih.
  if (donor) {
    h.avih = donor->avih;
    AddMessage("• avih взят " + from);
  } else if (IFpresent("avih")) {
    madeAvih = false;
    AddMessage("• avih взят из найденного в файле");
  } else {
    h.avih = AvihRecord{};
    h.avih.signature = "avih";
    h.avih.size = 56;
    h.avih.Flags = 0x110;  // has an index, interleaved
    h.avih.Width = h.vstrf.biWidth;
    h.avih.Height = uint32_t(std::abs(int32_t(h.vstrf.biHeight)));
    if (h.vstrh.DataRate)
      h.avih.TimeBetweenFrames =
          uint32_t(std::llround(1e6 * h.vstrh.TimeScale / double(h.vstrh.DataRate)));
    AddMessage("• avih составлен по формату видео");
  }
  // The counts, lengths and buffer sizes are the damaged stream's own: the writer counts the
  // chunks written into the zeroed ones.
  h.avih.TotalNumberOfFrames = 0;
  h.vstrh.DataLength = 0;
  h.astrh.DataLength = 0;
  h.avih.NumberOfStreams = uint32_t((audio ? 2 : 1) + h.moreAudio.size());
  h.vstrh.SuggestedBufferSize = vs->largest;
  if (as && audio) h.astrh.SuggestedBufferSize = as->largest;
  h.avih.SuggestedBufferSize = std::max(vs->largest, as && audio ? as->largest : 0u);

  if (Blocks().empty()) Blocks().push_back(BlockRecord{"ROOT", "AVI ", -1, 0, 0, -1, 0});
  // A movi list for the chunks found without their list header. When a later part's movi
  // list was found, that block starts the stream at the first chunk instead, so that the check
  // and the copy begin there.
  if (!m.fromList && m.first >= 12) {
    // By the file's own idx1 where it tells, else just before the first chunk found.
    const uint64_t at = m.indexBase >= 8 ? m.indexBase - 8 : m.first - 12;
    const int32_t found = FindBlock("LIST", "movi");
    const int32_t movi = found >= 0 ? found : AddMadeBlock("LIST", "movi", 0, m.end - at, 0);
    BlockRecord& r = Blocks()[size_t(movi)];
    if (found >= 0) r.Size = std::max(r.Offset + r.Size, m.first) - at;
    r.Offset = at;
    h.moviPos = at + 8;
    if (m.indexBase >= 8 && m.indexBase + 4 < m.first)
      AddMessage(
          "• начало списка movi взято по индексу idx1 файла: блоки потока до первого "
          "найденного (" +
          FormatThousands(m.first - m.indexBase - 4) +
          " байт) будут "
          "проверены");
  }
  // The file's own idx1, met on the walk: keyframe flags, and chunks whose headers were
  // destroyed, come from it as from the idx1 of a file that could be read.
  if (m.idx1 && FindBlock("idx1", "") < 0) {
    Blocks()[size_t(AddMadeBlock("idx1", "", 0, uint64_t(m.idx1Size) + 8, 0, " (найден)"))].Offset =
        m.idx1;
    SetLabel(kLabelIDX1, LabelColor::Blue);
  }
  if (madeAvih) avih2TV(Blocks()[size_t(AddMadeBlock("avih", "", 0, 64, 0))].Node, h.avih);
  if (madeVideo) ShowMadeStream('v', h.vstrh, 48 + h.vstrf.codecData.size());
  if (madeAudio) ShowMadeStream('a', h.astrh, 26 + h.astrf.cbSize);
  for (const auto& [strh, strf] : h.moreAudio) ShowMadeStream('A', strh, 18 + strf.cbSize);
  for (int id : {kLabelAVIH, kLabelVSTRH, kLabelVSTRF}) SetLabel(id, LabelColor::Blue);
  SetLabel(kLabelASTRH, audio ? LabelColor::Blue : LabelColor::Gray);
  SetLabel(kLabelASTRF, audio ? LabelColor::Blue : LabelColor::Gray);
  if (HasBlock("LIST", "movi")) SetLabel(kLabelMOVI, LabelColor::Maroon);
  AddMessage("• заголовок составлен: его поля можно изменить до записи");
  return true;
}

}  // namespace rv
