#include "output/writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/file_context.h"
#include "base/host.h"
#include "base/messages.h"
#include "base/options.h"
#include "base/tasks.h"
#include "check/scanner.h"
#include "check/stream_facts.h"
#include "output/movi_out.h"
#include "riff/blocks.h"
#include "riff/out_file.h"
#include "riff/source.h"

namespace rv {

namespace {
struct OutputName {
  std::string name;
};
WriteSummary& LastWriteOfContext() { return Context().Get<WriteSummary>(); }
}  // namespace

std::string& OutputFileName() { return Context().Get<OutputName>().name; }

const WriteSummary& LastWrite() { return LastWriteOfContext(); }

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

uint32_t IndexFlagRule(uint32_t flags, bool noIdx1) {
  return noIdx1 ? (flags & ~0x30u) : (flags | 0x10u);
}

void ChunkTotals::Add(const IndexEntry& e) {
  const std::string id = cff(e.ckid);
  if (SameChunkType(id, "00dc") || SameChunkType(id, "00db")) ++frames;
  if (SameChunkType(id, "01wb")) audioBytes += e.dwChunkLength;
}

ChunkTotals TotalsOf(const std::vector<IndexEntry>& entries) {
  ChunkTotals t;
  for (const IndexEntry& e : entries) t.Add(e);
  return t;
}

void ApplyHeaderOptions(const HeaderOptionFlags& o, const ChunkTotals& totals) {
  HeaderState& h = Header();
  h.avih.Flags = IndexFlagRule(h.avih.Flags, o.noIdx1);
  if (o.totalFrames) {
    const uint32_t frames = totals.frames;
    h.avih.TotalNumberOfFrames = frames;
    h.vstrh.DataLength = frames;
  }
  // Without a frame time there is no rate to compute: both fields stay as they are.
  if (o.ratesFromTbf && h.avih.TimeBetweenFrames != 0) {
    h.avih.TimeScale = 100;
    h.avih.DataRate = 100000000u / h.avih.TimeBetweenFrames;
  }
  if (o.audioLength) {
    const uint32_t sum = totals.audioBytes;
    h.astrh.DataLength = sum;
    if (o.audioRate && h.avih.DataRate != 0) {
      uint32_t seconds =
          (h.avih.TotalNumberOfFrames * h.avih.TimeScale * 10u / h.avih.DataRate + 5u) / 10u;
      if (seconds != 0) {
        h.astrh.TimeScale = 1;
        h.astrh.DataRate = (sum * 10u / seconds + 5u) / 10u;
      }
    }
  }
}

namespace {

void PutFour(Bytes& b, const std::string& s) {
  uint8_t t[4];
  PutString(s, t, 4);
  b.insert(b.end(), t, t + 4);
}

// Records as chunks. The size fields are those of the bytes written, so that a header built
// from a record with a non-standard size field is still well formed.
Bytes AvihBytes(const AvihRecord& r) {
  Bytes b;
  PutFour(b, "avih");
  AppendDWord(b, 56);
  for (uint32_t v :
       {r.TimeBetweenFrames, r.MaximumDataRate, r.PaddingGranularity, r.Flags,
        r.TotalNumberOfFrames, r.NumberOfInitialFrames, r.NumberOfStreams, r.SuggestedBufferSize,
        r.Width, r.Height, r.TimeScale, r.DataRate, r.StartTime, r.DataLength})
    AppendDWord(b, v);
  return b;
}

Bytes StrhBytes(const StrhRecord& r) {
  Bytes b;
  PutFour(b, "strh");
  AppendDWord(b, 56);
  PutFour(b, r.DataType);
  PutFour(b, r.DeviceHandler);
  for (uint32_t v : {r.Flags, r.Priority, r.InitialFrames, r.TimeScale, r.DataRate, r.StartTime,
                     r.DataLength, r.SuggestedBufferSize, r.Quality, r.SampleSize, r.xz1, r.xz2})
    AppendDWord(b, v);
  return b;
}

// The video format: the 40-byte bitmap header and size - 40 bytes of codec data (zeros where
// the record holds fewer).
Bytes VideoStrfBytes(const VideoStrfRecord& r) {
  uint32_t extra = r.size > 40 ? r.size - 40 : 0;
  Bytes b;
  PutFour(b, "strf");
  AppendDWord(b, 40 + extra);
  for (uint32_t v : {r.biSize, r.biWidth, r.biHeight}) AppendDWord(b, v);
  AppendWord(b, r.biPlanes);
  AppendWord(b, r.biBitCount);
  PutFour(b, r.biCompression);
  for (uint32_t v :
       {r.biSizeImage, r.biXPelsPerMeter, r.biYPelsPerMeter, r.biClrUsed, r.biClrImportant})
    AppendDWord(b, v);
  size_t have = std::min<size_t>(r.codecData.size(), extra);
  b.insert(b.end(), r.codecData.begin(), r.codecData.begin() + long(have));
  b.resize(48 + extra, 0);
  return b;
}

// The audio format: the 18-byte wave format and cbSize bytes of codec data; bytes the record
// lacks are written as zeros so that the size and the bytes agree.
Bytes AudioStrfBytes(const AudioStrfRecord& r) {
  Bytes b;
  PutFour(b, "strf");
  AppendDWord(b, 18u + r.cbSize);
  AppendWord(b, r.wFormatTag);
  AppendWord(b, r.nChannels);
  AppendDWord(b, r.nSamplesPerSec);
  AppendDWord(b, r.nAvgBytesPerSec);
  AppendWord(b, r.nBlockAlign);
  AppendWord(b, r.wBitsPerSample);
  AppendWord(b, r.cbSize);
  size_t have = std::min<size_t>(r.codecData.size(), r.cbSize);
  b.insert(b.end(), r.codecData.begin(), r.codecData.begin() + long(have));
  b.resize(26u + r.cbSize, 0);
  return b;
}

void AppendList(Bytes& out, const char* type, const Bytes& content) {
  PutFour(out, "LIST");
  AppendDWord(out, uint32_t(content.size() + 4));
  PutFour(out, type);
  out.insert(out.end(), content.begin(), content.end());
}

// Copies count bytes of the source file from file position 0 (the copied header).
bool CopyFilePrefix(OutFile& out, uint64_t count) {
  Bytes piece;
  for (uint64_t done = 0; done < count;) {
    const uint32_t n = uint32_t(std::min<uint64_t>(count - done, 1 << 20));
    if (!ReadFileDirect(done, n, piece)) return false;
    out.Write(piece);
    done += n;
  }
  return true;
}

}  // namespace

Bytes JunkUpToMovi(uint64_t p, uint32_t& moviListPos) {
  uint64_t h = kMoviListPos;
  // The JUNK needs its 8-byte header; a header that does not leave room for it moves the movi
  // list so that the first stream chunk still starts on a multiple of 2048.
  while (p + 8 > h) h += 2048;
  moviListPos = uint32_t(h);
  Bytes junk;
  PutFour(junk, "JUNK");
  AppendDWord(junk, uint32_t(h - p - 8));
  junk.resize(size_t(h - p), 0);
  return junk;
}

Bytes BuildHeaderRegion(bool withAudioStrh, bool withAudioStrf, uint32_t& moviListPos,
                        const std::vector<StreamSlot>& streams) {
  const HeaderState& h = Header();
  // An odd-sized format chunk is followed by its pad byte, which the list sizes count.
  auto appendChunk = [](Bytes& list, const Bytes& chunk) {
    list.insert(list.end(), chunk.begin(), chunk.end());
    if (chunk.size() & 1) list.push_back(0);
  };
  auto videoStrl = [&] {
    Bytes vstrl = StrhBytes(h.vstrh);
    appendChunk(vstrl, VideoStrfBytes(h.vstrf));
    return vstrl;
  };
  auto audioStrl = [&] {
    Bytes astrl = StrhBytes(h.astrh);
    if (withAudioStrf) appendChunk(astrl, AudioStrfBytes(h.astrf));
    return astrl;
  };
  std::vector<Bytes> lists;
  if (streams.empty()) {
    lists.push_back(videoStrl());
    if (withAudioStrh) {
      lists.insert(h.audioFirst ? lists.begin() : lists.end(), audioStrl());
      // The further audio streams of a header made from the stream or a donor.
      for (const auto& [strh, strf] : h.moreAudio) {
        lists.push_back(StrhBytes(strh));
        appendChunk(lists.back(), AudioStrfBytes(strf));
      }
    }
  } else {
    for (const StreamSlot& s : streams)
      lists.push_back(s.kind == 'v' ? videoStrl() : s.kind == 'a' ? audioStrl() : s.content);
  }
  AvihRecord avih = h.avih;
  avih.NumberOfStreams = uint32_t(lists.size());  // the stream header lists written
  Bytes hdrl = AvihBytes(avih);
  for (const Bytes& l : lists) AppendList(hdrl, "strl", l);
  Bytes region;
  AppendList(region, "hdrl", hdrl);
  Bytes junk = JunkUpToMovi(12 + region.size(), moviListPos);
  region.insert(region.end(), junk.begin(), junk.end());
  return region;
}

std::vector<StreamSlot> SourceStreams(bool withAudio, int& videoStream, int& audioStream) {
  const auto& blocks = Blocks();
  videoStream = audioStream = -1;
  std::vector<StreamSlot> slots;
  const int32_t hdrl = FindBlock("LIST", "hdrl");
  if (hdrl < 0) return slots;
  Bytes piece;
  for (size_t i = 1; i < blocks.size(); ++i) {
    const BlockRecord& l = blocks[i];
    if (l.Parent != hdrl || l.Name != "LIST" || l.TypeTag != "strl") continue;
    StreamSlot slot;
    slot.kind = 'x';
    for (size_t j = i + 1; j < blocks.size(); ++j) {
      const BlockRecord& c = blocks[j];
      if (c.Parent != int32_t(i) || c.Name != "strh") continue;
      if (c.TypeTag == "vids" && videoStream < 0) {
        slot.kind = 'v';
        videoStream = int(slots.size());
      } else if (c.TypeTag == "auds" && audioStream < 0 && withAudio) {
        slot.kind = 'a';
        audioStream = int(slots.size());
      }
      break;
    }
    // The records stand for the video and audio lists; the others are copied as they are.
    for (size_t j = i + 1; j < blocks.size() && slot.kind == 'x'; ++j) {
      const BlockRecord& c = blocks[j];
      // Stale OpenDML indexes and filler do not go into a new header.
      if (c.Parent != int32_t(i) || c.Name == "JUNK" || c.Name == "indx") continue;
      const uint64_t avail = Source().size > c.Offset ? Source().size - c.Offset : 0;
      const uint32_t n = uint32_t(std::min<uint64_t>(c.Size, avail));
      if (n && ReadFileDirect(c.Offset, n, piece)) {
        slot.content.insert(slot.content.end(), piece.begin(), piece.end());
        if (n & 1) slot.content.push_back(0);
      }
    }
    slots.push_back(std::move(slot));
  }
  // Without a video stream list the records cannot be placed: the plain layout is used.
  if (videoStream < 0) {
    slots.clear();
    audioStream = -1;
  }
  return slots;
}

bool AssembleHeader(Bytes& out) {
  const auto& blocks = Blocks();
  // Refuse a table whose first top-level list with children is not a header list: the walk
  // would otherwise take the movi list itself into the header.
  bool hasList = false;
  for (size_t i = 1; i < blocks.size(); ++i)
    if (blocks[i].Parent == 0 && blocks[i].Name == "LIST" && HasChildBlocks(int32_t(i))) {
      hasList = blocks[i].TypeTag != "movi";
      break;
    }
  if (!hasList) return false;

  struct Open {
    size_t record;
    int32_t parent;
    size_t start;
  };
  std::vector<Open> stack;
  int32_t parent = 0;
  size_t listStart = 0;
  size_t i = 1;
  Bytes piece;
  for (;;) {
    while (i < blocks.size()) {
      const BlockRecord& r = blocks[i];
      // Filler, and the OpenDML indexes and frame count of the source, which would be stale.
      if (r.Parent == parent && r.Name != "JUNK" && r.Name != "indx" && r.TypeTag != "odml") {
        if (r.Name == "LIST" && HasChildBlocks(int32_t(i))) {
          stack.push_back({i, parent, listStart});
          listStart = out.size();
          parent = int32_t(i);
          PutFour(out, "LIST");
          AppendDWord(out, 0);
          PutFour(out, r.TypeTag);
        } else {
          // A block that runs past the end of the file contributes what the file holds.
          uint64_t avail = Source().size > r.Offset ? Source().size - r.Offset : 0;
          uint32_t n = uint32_t(std::min<uint64_t>(r.Size, avail));
          if (n && ReadFileDirect(r.Offset, n, piece))
            out.insert(out.end(), piece.begin(), piece.end());
        }
      }
      ++i;
    }
    if (stack.empty()) return true;
    if (out.size() & 1) out.push_back(0);
    PutDWord(uint32_t(out.size() - listStart - 8), out.data() + listStart + 4);
    Open top = stack.back();
    stack.pop_back();
    i = top.record + 1;
    parent = top.parent;
    listStart = top.start;
    if (stack.empty()) return true;
  }
}

namespace {

constexpr uint8_t kPadByte = 0;
// The bytes of a chunk read to check it and to tell a keyframe; the rest is copied unread when
// it can be.
constexpr uint64_t kHeadBytes = 64 << 10;
// A copied header is rewritten in memory up to this size.
constexpr uint64_t kHeaderInMemory = 64 << 20;
constexpr const char* kNoOdmlRoom =
    "• в заголовке нет места для индексов OpenDML: выходной файл записан одним блоком RIFF";

class Writer {
 public:
  bool Run();

 private:
  bool CopyStream();
  void Finish();
  void PrepareStreamFacts();
  bool IsVideoChunk(uint32_t ckid) const;
  void SetKeyframe(IndexEntry& e, uint64_t filePos, const uint8_t* payload, size_t n);
  bool CopyFromOwnIndex(uint64_t gapStart, uint64_t gapEnd);
  void FillCounts(std::vector<StreamSlot>& streams);
  uint64_t EstimateOutput(uint64_t headerSize) const;
  void WriteHeader(char mode, const Bytes& assembled, const std::vector<StreamSlot>& streams,
                   bool withAstrh, bool withAstrf, uint32_t capacity);

  OutFile out;
  WriteSummary& summary = LastWriteOfContext();
  OwnIndex own;
  bool ownAgrees = false;         // the file's own idx1 names most of the chunks where they are
  std::vector<uint64_t> indexed;  // file positions of every entry, skipped ones included
  IntraRule intra = IntraRule::Unknown;
  int videoStream = 0, audioStream = 1;
  uint64_t H = 0;  // file position of the output's first movi list
  uint64_t M = 0;
  uint64_t partSize = 0;  // 0: one RIFF; else the size of the OpenDML parts
  OdmlHeaderLayout layout;
  std::unique_ptr<MoviOut> mo;
  // What was written: chunks and bytes per stream number, the header options' totals.
  std::vector<uint64_t> chunksPer = std::vector<uint64_t>(100),
                        bytesPer = std::vector<uint64_t>(100);
  ChunkTotals totals;
  void Written(const IndexEntry& e);
  size_t skipped = 0;  // entries past the end of the source
  bool complete = false;
};

void Writer::PrepareStreamFacts() {
  own = LoadOwnIndex();
  size_t considered = 0, matched = 0;
  // An index judged over the stretch it covers: the first part's idx1 of a file in parts whose
  // standard indexes are lost covers that part only.
  const uint64_t covered = own.items.empty() ? 0 : own.items.back().filePos;
  for (const IndexEntry& e : Index().entries) {
    const uint64_t filePos = StreamToFile(M + e.dwChunkOffset);
    indexed.push_back(filePos);
    if (cff(e.ckid)[0] == '?' || filePos > covered) continue;
    ++considered;
    if (own.At(filePos, e.ckid)) ++matched;
  }
  std::sort(indexed.begin(), indexed.end());
  // An index that disagrees with most of the stream (another file's, or shifted) is not used.
  ownAgrees = matched > 0 && matched * 2 >= considered;
  intra = IntraRuleOf(fcc(Header().vstrf.biCompression), Header().vstrh.DeviceHandler);
}

// The stream number of a chunk ID that IsStreamChunkID accepts.
int StreamNumber(const std::string& id) { return (id[0] - '0') * 10 + (id[1] - '0'); }

bool Writer::IsVideoChunk(uint32_t ckid) const {
  const std::string id = cff(ckid);
  if (!SameChunkType(id, "00dc") && !SameChunkType(id, "00db")) return false;
  return StreamNumber(id) == videoStream;
}

// A video chunk's keyframe flag: the file's own index where it names this chunk, else what
// the picture's own bytes say; a codec whose pictures do not say keeps the check's flag.
void Writer::SetKeyframe(IndexEntry& e, uint64_t filePos, const uint8_t* payload, size_t n) {
  if (!IsVideoChunk(e.ckid)) return;
  if (Index().keyflagsDecided) return;
  int key = -1;
  if (ownAgrees)
    if (const OwnIndex::Item* it = own.At(filePos, e.ckid))
      key = (it->flags & kKeyframeFlag) ? 1 : 0;
  if (key < 0) key = PictureIsIntra(intra, payload, n);
  if (key >= 0) e.dwFlags = key ? (e.dwFlags | kKeyframeFlag) : (e.dwFlags & ~kKeyframeFlag);
}

// Chunks that the file's own index places between two chunks of the stream (their headers
// destroyed, e.g. by a run of zeros) are copied with the ID and size the index gives, so the
// streams keep their timing. Only chunks that lie wholly in the gap and outside every cut
// fragment are taken.
bool Writer::CopyFromOwnIndex(uint64_t gapStart, uint64_t gapEnd) {
  if (!ownAgrees || gapEnd <= gapStart + 8) return true;
  Bytes piece;
  uint64_t at = gapStart;
  for (size_t k = own.LowerBound(gapStart); k < own.items.size(); ++k) {
    const OwnIndex::Item& it = own.items[k];
    const uint64_t end = it.filePos + 8 + it.length + (it.length & 1);
    if (it.filePos + 8 + it.length > gapEnd) break;
    if (it.filePos < at) continue;
    // A chunk the index in memory holds, even as one to skip, is its business.
    if (std::binary_search(indexed.begin(), indexed.end(), it.filePos)) continue;
    bool cut = false;
    for (const Exclusion& x : Exclusions())
      if (uint64_t(x.offset) < it.filePos + 8 + it.length &&
          uint64_t(x.offset) + x.count > it.filePos)
        cut = true;
    if (cut) continue;
    const uint64_t bytes = 8 + uint64_t(it.length) + (it.length & 1);
    mo->BeforeChunk(bytes);
    if (!mo->Fits(bytes)) continue;
    IndexEntry e{it.ckid, it.flags, mo->NextOffset(), it.length};
    Bytes head;
    PutFour(head, cff(it.ckid));
    AppendDWord(head, it.length);
    out.Write(head);
    for (uint64_t done = 0; done < it.length;) {
      const uint32_t n = uint32_t(std::min<uint64_t>(it.length - done, 1 << 20));
      if (!ReadFileDirect(it.filePos + 8 + done, n, piece)) {
        AddMessage("• ошибка чтения исходного файла");
        return false;
      }
      out.Write(piece);
      done += n;
    }
    if (it.length & 1) out.Write(&kPadByte, 1);
    Written(e);
    ++summary.fromOwnIndex;
    at = end;
  }
  return true;
}

void Writer::Written(const IndexEntry& e) {
  mo->Add(e);
  totals.Add(e);
  ++summary.chunksWritten;
  const std::string id = cff(e.ckid);
  if (!IsStreamChunkID(id, false)) return;
  ++chunksPer[size_t(StreamNumber(id))];
  bytesPer[size_t(StreamNumber(id))] += e.dwChunkLength;
}

void Writer::FillCounts(std::vector<StreamSlot>& streams) {
  const std::vector<uint64_t>& chunks = chunksPer;
  const std::vector<uint64_t>& bytes = bytesPer;
  auto unset = [](uint32_t v) { return v == 0 || v == 0xFFFFFFFFu; };
  auto length = [&](int stream, uint32_t sampleSize) -> uint32_t {
    if (stream < 0 || stream >= 100) return 0;
    const uint64_t v = sampleSize ? bytes[size_t(stream)] / sampleSize : chunks[size_t(stream)];
    return uint32_t(std::min<uint64_t>(v, 0xFFFFFFFFu));
  };
  HeaderState& h = Header();
  if (unset(h.avih.TotalNumberOfFrames)) h.avih.TotalNumberOfFrames = length(videoStream, 0);
  if (unset(h.vstrh.DataLength)) h.vstrh.DataLength = length(videoStream, 0);
  if (unset(h.astrh.DataLength)) h.astrh.DataLength = length(audioStream, h.astrh.SampleSize);
  for (size_t k = 0; k < streams.size(); ++k) {
    Bytes& c = streams[k].content;
    if (streams[k].kind != 'x' || c.size() < 8 + 48 || LoadLE32(c.data()) != fcc("strh")) continue;
    if (unset(LoadLE32(&c[8 + 32]))) PutDWord(length(int(k), LoadLE32(&c[8 + 44])), &c[8 + 32]);
  }
}

// Whether a chunk of payload size L at stream position pos lies in the file as it is to be
// written: in one piece (no cut fragment inside it) and, when L is odd, followed by a zero pad
// byte inside the stream.
bool LiesAsWritten(uint64_t pos, uint64_t filePos, uint32_t L, uint64_t streamEnd) {
  const uint64_t n = 8 + uint64_t(L) + (L & 1);
  if (pos + n > streamEnd) return false;
  if (!Exclusions().empty() && StreamToFile(pos + n - 1) != filePos + n - 1) return false;
  uint8_t pad = 0;
  return (L & 1) == 0 || (ReadSource(pos + n - 1, 1, &pad) && pad == 0);
}

bool Writer::CopyStream() {
  IndexState& ix = Index();
  const size_t count = ix.entries.size();
  const uint64_t streamEnd = StreamSize();
  const bool fixSizes = !Opt().noFixSize;
  Bytes chunk;
  uint64_t gapStart = StreamToFile(M) + 4;
  size_t last = count;  // the last entry that is written at all
  for (size_t i = count; i-- > 0;)
    if (cff(ix.entries[i].ckid)[0] != '?') {
      last = i;
      break;
    }
  for (size_t i = 0; i < count; ++i) {
    // A copy: the index in memory keeps referring to the source.
    IndexEntry e = ix.entries[i];
    std::string id = cff(e.ckid);
    if (id[0] != '?') {
      uint32_t L = e.dwChunkLength;
      const uint64_t pos = M + e.dwChunkOffset;
      if (pos + 8 + L > streamEnd) {
        if (i == last && pos + 8 < streamEnd) {
          // The last chunk of a recording that was cut off: what the file holds of it is
          // kept, with the size that it has.
          const uint32_t held = uint32_t(streamEnd - pos - 8);
          AddMessage("• блок " + std::to_string(i) + " обрезан концом файла: записано " +
                     std::to_string(held) + " байт из " + std::to_string(L));
          L = held;
          e.dwChunkLength = held;
        } else {
          // One chunk past the end does not end the copy: later chunks may be readable.
          AddMessage("• блок " + std::to_string(i) + " выходит за конец исходного файла");
          ++skipped;
          continue;
        }
      }
      const uint64_t Lp = uint64_t(L) + (L & 1);
      const uint64_t filePos = StreamToFile(pos);
      if (!CopyFromOwnIndex(gapStart, filePos)) return false;
      mo->BeforeChunk(8 + Lp);
      // Past 4 GiB the 32-bit sizes of a RIFF would wrap.
      if (!mo->Fits(8 + Lp)) {
        AddMessage("• выходной файл превысил бы 4 ГБ");
        return false;
      }
      const uint64_t newOffset = mo->NextOffset();
      // The header and the start of the payload are read: the ID is compared, the size fixed,
      // and a picture's first bytes tell whether it is a keyframe.
      const uint32_t head =
          uint32_t(std::min<uint64_t>({uint64_t(L) + 8, kHeadBytes, Cache().size}));
      chunk.resize(head);
      if (!ReadSource(pos, head, chunk.data())) {
        AddMessage("• ошибка чтения исходного файла");
        return false;
      }
      std::string found(reinterpret_cast<const char*>(chunk.data()), 4);
      if (found != id)
        AddMessage("error idx1(" + std::to_string(i) + ") " + ShowChars(id) + " <> " +
                   ShowChars(found));
      const bool sizeAsFound = !fixSizes || LoadLE32(chunk.data() + 4) == L;
      if (fixSizes) PutDWord(L, chunk.data() + 4);
      SetKeyframe(e, filePos, chunk.data() + 8, head - 8);
      if (sizeAsFound && LiesAsWritten(pos, filePos, L, streamEnd)) {
        // The chunk goes from file to file as it stands, pad byte included.
        out.CopyFrom(Source().fd, filePos, 8 + Lp);
      } else {
        out.Write(chunk.data(), head);
        // The rest in pieces of at most the read cache; the pad byte is written as a zero.
        const uint32_t piece = Cache().size;
        for (uint64_t done = head; done < uint64_t(L) + 8;) {
          const uint32_t n = uint32_t(std::min<uint64_t>(uint64_t(L) + 8 - done, piece));
          chunk.resize(n);
          if (!ReadSource(pos + done, n, chunk.data())) {
            AddMessage("• ошибка чтения исходного файла");
            return false;
          }
          out.Write(chunk.data(), n);
          done += n;
        }
        if (L & 1) out.Write(&kPadByte, 1);
      }
      if (out.error()) return false;  // said once, when the file is closed
      e.dwChunkOffset = newOffset;
      Written(e);
      gapStart = StreamToFile(pos + 8 + Lp);
    }
    ReportProgress(ProgressTarget::kMain, int((i + 1) * 100 / count));
    if (StopRequested()) return false;
    if (!Opt().highPriorityMain) YieldStep(false);
  }
  return skipped == 0;
}

void Writer::Finish() {
  const bool noIdx1 = Opt().noIdx1;
  mo->Finish();
  uint8_t head[24];
  if (out.ReadAt(24, head, 24) && std::memcmp(head, "avih", 4) == 0)
    out.Put32At(44, IndexFlagRule(LoadLE32(head + 20), noIdx1));
}

uint64_t Writer::EstimateOutput(uint64_t headerSize) const {
  const uint64_t streamEnd = StreamSize();
  uint64_t n = headerSize + 12 + 8;
  for (const IndexEntry& e : Index().entries) {
    const uint64_t pos = M + e.dwChunkOffset;
    if ((e.ckid & 0xFF) == '?' || pos + 8 >= streamEnd) continue;
    const uint64_t L = std::min<uint64_t>(e.dwChunkLength, streamEnd - pos - 8);
    n += 8 + L + (L & 1) + 16;
  }
  // Chunks the file's own index may add where the stream lost their headers.
  if (ownAgrees)
    for (const OwnIndex::Item& it : own.items)
      if (!std::binary_search(indexed.begin(), indexed.end(), it.filePos))
        n += 8 + uint64_t(it.length) + (it.length & 1) + 16;
  return n;
}

// The output's bytes up to its first movi list: built from the records, assembled from the
// source's header blocks, or copied from the source; made ready for the OpenDML indexes when
// the output is written in parts.
void Writer::WriteHeader(char mode, const Bytes& assembled, const std::vector<StreamSlot>& streams,
                         bool withAstrh, bool withAstrf, uint32_t capacity) {
  Bytes head;
  if (mode == 'O') {
    const uint64_t moviAt = Blocks()[size_t(FindBlock("LIST", "movi"))].Offset;
    // A header taken whole from the source is rewritten only when it must be: for the OpenDML
    // indexes, or to blank the source's own stale ones.
    const bool rewrite = (partSize != 0 || HasBlock("indx", "")) && moviAt <= kHeaderInMemory;
    if (!rewrite || !ReadFileDirect(0, uint32_t(moviAt), head)) {
      if (partSize) AddMessage(kNoOdmlRoom);
      partSize = 0;
      H = moviAt;
      if (!CopyFilePrefix(out, H)) AddMessage("• ошибка чтения исходного файла");
      return;
    }
  } else {
    head = {'R', 'I', 'F', 'F', '.', '.', '.', '.', 'A', 'V', 'I', ' '};
    uint32_t moviListPos = 0;
    const Bytes rest = mode == 'M' ? BuildHeaderRegion(withAstrh, withAstrf, moviListPos, streams)
                                   : JunkUpToMovi(12 + assembled.size(), moviListPos);
    if (mode != 'M') head.insert(head.end(), assembled.begin(), assembled.end());
    head.insert(head.end(), rest.begin(), rest.end());
  }
  if (partSize && !MakeOdmlRoom(head, capacity, layout)) {
    AddMessage(kNoOdmlRoom);
    partSize = 0;
  }
  if (!partSize) BlankStaleIndexes(head);
  H = head.size();
  out.Write(head);
}

bool Writer::Run() {
  const char mode = Opt().headerMode;
  if (mode == 'M') {
    if (!IFpresent("avih")) return AddMessage("• нет блока AVIH"), false;
    if (!IFpresent("vstrh")) return AddMessage("• нет блока STRH для видео"), false;
    if (!IFpresent("vstrf")) return AddMessage("• нет блока STRF для видео"), false;
  }
  const std::string& source = InputFileName();
  if (!OpenSource(source)) return AddMessage("• ошибка открытия исходного файла"), false;
  struct Closer {
    ~Closer() { CloseSource(); }
  } closer;
  if (SameFile(source, OutputFileName()))
    return AddMessage("• выходной файл совпадает с исходным"), false;

  int32_t movi = FindBlock("LIST", "movi");
  Bytes header;
  HeaderOptionFlags opts{Opt().noIdx1, Opt().totalFrames, Opt().ratesFromTbf, Opt().audioLength,
                         Opt().audioLength && Opt().audioRate};
  if (mode == 'O' && movi < 0)
    return AddMessage("• нет блока movi для копирования заголовка"), false;
  if (mode == 'I' && !AssembleHeader(header))
    return AddMessage("• нет блока hdrl для сборки заголовка"), false;
  if (movi >= 0) M = uint64_t(Blocks()[size_t(movi)].Offset) + 8;
  // A file without a single stream chunk is no repair: nothing is created.
  if (std::none_of(Index().entries.begin(), Index().entries.end(),
                   [](const IndexEntry& e) { return cff(e.ckid)[0] != '?'; }))
    return AddMessage("• в индексе нет ни одного блока потока: выходной файл не создан"), false;
  PrepareStreamFacts();
  std::vector<StreamSlot> streams;
  if (mode == 'M') {
    streams = SourceStreams(IFpresent("astrh"), videoStream, audioStream);
    if (streams.empty())
      videoStream = Header().audioFirst ? 1 : 0, audioStream = Header().audioFirst ? 0 : 1;
  } else {
    int v = -1, a = -1;
    SourceStreams(true, v, a);
    videoStream = v < 0 ? 0 : v;
  }

  if (!out.Create(OutputFileName())) return AddMessage("• ошибка создания выходного файла"), false;
  summary.written = true;

  // The records before the options, so that they can be applied again over the entries
  // actually written when the copy ends early.
  const AvihRecord avihBefore = Header().avih;
  const StrhRecord vstrhBefore = Header().vstrh, astrhBefore = Header().astrh;
  ApplyHeaderOptions(opts, TotalsOf(Index().entries));

  bool withAstrh = true, withAstrf = true;
  if (mode == 'M') {
    withAstrh = IFpresent("astrh");
    withAstrf = IFpresent("astrf");
    if (!withAstrh) AddMessage("• Внимание! нет блока STRH для звука");
    if (!withAstrf) AddMessage("• Внимание! нет блока STRF для звука");
  }
  // An output larger than a RIFF part is written as OpenDML.
  const uint64_t estimate = EstimateOutput(mode == 'O' ? M : kMoviListPos);
  if (OdmlPartSize() != 0 && estimate > OdmlPartSize()) partSize = OdmlPartSize();
  WriteHeader(mode, header, streams, withAstrh, withAstrf, SuperIndexCapacity(estimate, partSize));
  out.Write("LIST....movi");
  mo = std::make_unique<MoviOut>(out, H, partSize, layout.capacity, Opt().noIdx1);
  ReportProgress(ProgressTarget::kMain, 0);
  complete = CopyStream();
  Finish();
  if (mode == 'M') {
    HeaderState& h = Header();
    if (!complete) {
      // The frame counts and lengths of the header options count the chunks written.
      h.avih = avihBefore;
      h.vstrh = vstrhBefore;
      h.astrh = astrhBefore;
      ApplyHeaderOptions(opts, totals);
    }
    // Counts the source left at 0 or at a placeholder come from the chunks written, in the
    // file only: the records keep what the source says.
    const AvihRecord avihKept = h.avih;
    const StrhRecord vstrhKept = h.vstrh, astrhKept = h.astrh;
    FillCounts(streams);
    uint32_t sameH = 0;
    Bytes again = BuildHeaderRegion(withAstrh, withAstrf, sameH, streams);
    if (partSize) {
      // The same room as before: the indexes are written into it below.
      OdmlHeaderLayout same;
      again.insert(again.begin(), 12, 0);
      PutDWord(fcc("RIFF"), again.data());
      MakeOdmlRoom(again, layout.capacity, same);
      again.erase(again.begin(), again.begin() + 12);
    }
    out.WriteAt(12, again.data(), again.size());
    h.avih = avihKept;
    h.vstrh = vstrhKept;
    h.astrh = astrhKept;
  }
  if (partSize) {
    mo->PatchHeader(layout);
    AddMessage("• выходной файл записан в формате OpenDML: частей RIFF " +
               std::to_string(mo->parts()));
  }
  if (summary.fromOwnIndex)
    AddMessage("• по индексу файла восстановлено блоков с разрушенными заголовками: " +
               std::to_string(summary.fromOwnIndex));
  summary.moviListPos = H;
  summary.bytes = out.length();
  bool closed = out.Close();
  if (!closed || out.error()) {
    AddMessage("• ошибка записи выходного файла");
    complete = false;
    summary.writeError = true;
  }
  summary.complete = complete;
  ReportProgress(ProgressTarget::kMain, 100);
  return complete;
}

}  // namespace

bool saveOUT() {
  LastWriteOfContext() = {};
  if (!InputIsLoadedFile()) return false;
  Writer w;
  return w.Run();
}

}  // namespace rv
