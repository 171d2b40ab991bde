#include "riff/header.h"

#include <algorithm>

#include "base/file_context.h"
#include "base/host.h"
#include "base/messages.h"
#include "riff/hexdump.h"
#include "riff/odml.h"
#include "riff/source.h"

namespace rv {

namespace {
// A hostile file of nothing but empty chunks would otherwise list millions of blocks.
constexpr size_t kMaxBlocks = 200000;

// The colours of the block labels; read by the window while a task changes them.
struct LabelSet {
  std::array<std::atomic<LabelColor>, kLabelCount> colour{};
  LabelSet() = default;
  LabelSet(const LabelSet& o) {
    for (size_t i = 0; i < colour.size(); ++i) colour[i] = o.colour[i].load();
  }
};
std::array<std::atomic<LabelColor>, kLabelCount>& Labels() {
  return Context().Get<LabelSet>().colour;
}

}  // namespace

std::string ShowChars(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c >= 32 && c < 127)
      out.push_back(char(c));
    else if (c >= 128)
      out += Cp1251ToUtf8(c);
    else
      out.push_back('.');
  }
  return out;
}

namespace {
std::string Dec(uint64_t v) { return std::to_string(v); }
}  // namespace

const std::array<const char*, kLabelCount> kLabelNames = {
    "LabelAVIH", "LabelVSTRH", "LabelVSTRF", "LabelASTRH", "LabelASTRF", "LabelMOVI", "LabelIDX1"};
const std::array<const char*, kLabelCount> kLabelCaptions = {"avih",   "v.strh", "v.strf", "a.strh",
                                                             "a.strf", "movi",   "idx1"};
const std::array<const char*, kLabelCount> kElementNames = {"avih",  "vstrh", "vstrf", "astrh",
                                                            "astrf", "movi",  "idx1"};

HeaderState& Header() { return Context().Get<HeaderState>(); }

void HeaderState::ResetRecords() {
  avih = {};
  vstrh = {};
  astrh = {};
  vstrf = {};
  astrf = {};
  moreAudio.clear();
  audioFirst = false;
}

LabelColor GetLabel(int id) { return Labels()[size_t(id)].load(); }

void SetLabel(int id, LabelColor c) {
  Labels()[size_t(id)].store(c);
  NotifyLabelsChanged();
}

void SignsOff() {
  for (auto& l : Labels()) l.store(LabelColor::Gray);
  NotifyLabelsChanged();
}

void SignsOn() {
  for (const BlockRecord& r : Blocks()) {
    if (r.Name == "avih") Labels()[kLabelAVIH] = LabelColor::Blue;
    if (r.Name == "strh") {
      if (r.TypeTag == "vids")
        Labels()[kLabelVSTRH] = LabelColor::Blue;
      else
        Labels()[kLabelASTRH] = LabelColor::Blue;
    }
    if (r.Name == "strf" && r.Kind == 'v') Labels()[kLabelVSTRF] = LabelColor::Blue;
    if (r.Name == "strf" && r.Kind == 'a') Labels()[kLabelASTRF] = LabelColor::Blue;
    if (r.TypeTag == "movi") Labels()[kLabelMOVI] = LabelColor::Maroon;
    if (r.Name == "idx1") Labels()[kLabelIDX1] = LabelColor::Maroon;
  }
  NotifyLabelsChanged();
}

void HighlightSign(const BlockRecord& r) {
  if (r.Name == "avih") {
    SetLabel(kLabelAVIH, LabelColor::Blue);
  } else if (r.Name == "strh" && r.TypeTag == "vids") {
    SetLabel(kLabelVSTRH, LabelColor::Blue);
  } else if (r.Name == "strh" && r.TypeTag == "auds") {
    SetLabel(kLabelASTRH, LabelColor::Blue);
  } else if (r.Name == "strf") {
    if (r.Size == 48 || r.Size == 54)
      SetLabel(kLabelVSTRF, LabelColor::Blue);
    else if (isCorrectSTRFAsize(r))
      SetLabel(kLabelASTRF, LabelColor::Blue);
  } else if (r.Name == "LIST" && r.TypeTag == "movi") {
    SetLabel(kLabelMOVI, LabelColor::Maroon);
  }
}

bool IFpresent(const std::string& element) {
  for (int i = 0; i < kLabelCount; ++i)
    if (element == kElementNames[size_t(i)]) return GetLabel(i) == LabelColor::Blue;
  return false;
}

bool ReadyToSave() {
  for (int i = 0; i < kLabelCount; ++i)
    if (GetLabel(i) == LabelColor::Gray) return false;
  return true;
}

// ---- the walk ----

namespace {
// Reads 12 bytes at pos into the shared buffer; id and size out.
void ReadHead(uint64_t pos, std::string& id, uint32_t& size, std::string& tag) {
  Bytes& b = Header().shared;
  if (!ReadSource(pos, 12, b)) b.assign(12, 0);
  id = GetChars(b, 0, 4);
  size = 0;
  GetDWord(b, 4, size);
  tag = GetChars(b, 8, 4);
}

void AppendRecord(const std::string& id, uint32_t size, const std::string& tag, int32_t parent,
                  uint64_t offset) {
  BlockRecord r;
  r.Name = id;
  r.TypeTag = IsTypedChunkID(id) ? tag : std::string();
  r.Parent = parent;
  r.Offset = offset;
  r.Size = uint64_t(size) + 8;
  Blocks().push_back(std::move(r));
  Header().lastIndex = int32_t(Blocks().size() - 1);
}

// The end of the RIFF parts that follow one another from firstEnd: an OpenDML file continues
// with 'AVIX' parts after its first RIFF.
uint64_t EndOfRiffParts(uint64_t firstEnd, uint64_t fileSize) {
  uint64_t pos = firstEnd;
  std::string id, tag;
  uint32_t size = 0;
  while (pos + 12 <= fileSize) {
    ReadHead(pos, id, size, tag);
    if (id != "RIFF" || tag != "AVIX" || size < 4) break;
    pos += 8 + uint64_t(size);
  }
  return pos;
}

// The index chunks ("ix##") that the super indexes name lie at the ends of the movi lists,
// behind every stream chunk, where the walk does not go: they are added as blocks of the movi
// list that holds them.
void AddStandardIndexBlocks() {
  auto& blocks = Blocks();
  const size_t walked = blocks.size();
  Bytes payload;
  std::string id, tag;
  uint32_t size = 0;
  // The movi lists by position, so that each entry finds its list in a few steps whatever a
  // hostile file holds.
  std::vector<size_t> movis;
  for (size_t k = 0; k < walked; ++k)
    if (blocks[k].Name == "LIST" && blocks[k].TypeTag == "movi") movis.push_back(k);
  std::stable_sort(movis.begin(), movis.end(),
                   [&](size_t x, size_t y) { return blocks[x].Offset < blocks[y].Offset; });
  for (size_t i = 0; i < walked; ++i) {
    if (blocks[i].Name != "indx" || blocks[i].Size < 8 + kIndexHeaderSize) continue;
    const uint32_t n = uint32_t(std::min<uint64_t>(blocks[i].Size - 8, 1 << 20));
    OdmlIndex ix;
    if (!ReadFileDirect(StreamToFile(blocks[i].Offset) + 8, n, payload) ||
        !ParseOdmlIndex(payload.data(), payload.size(), ix) || ix.indexType != kIndexOfIndexes)
      continue;
    for (const SuperIndexEntry& e : ix.super) {
      if (blocks.size() >= kMaxBlocks) return;
      // The last movi list that starts before the entry, if the entry lies inside it.
      const auto after = std::partition_point(
          movis.begin(), movis.end(), [&](size_t k) { return blocks[k].Offset < e.offset; });
      if (after == movis.begin()) continue;
      const size_t movi = *(after - 1);
      if (e.offset >= blocks[movi].Offset + blocks[movi].Size || e.offset + 8 > Source().size)
        continue;
      ReadHead(e.offset, id, size, tag);
      if (IsStdIndexId(id)) AppendRecord(id, size, tag, int32_t(movi), e.offset);
    }
  }
}
}  // namespace

void ReadStruct() {
  HeaderState& h = Header();
  ClearMessages();
  h.ResetRecords();
  Blocks().clear();
  h.lastIndex = -1;
  h.parsePos = 0;
  const uint64_t fileSize = Source().size;

  std::string id, tag;
  uint32_t size = 0;
  ReadHead(0, id, size, tag);
  h.parsePos = 12;
  if (id != "RIFF") {
    AddMessage("• отсутствует сигнатура RIFF");
    return;
  }
  // A file of several RIFF parts (OpenDML) ends where its last part does.
  const uint64_t riffEnd = EndOfRiffParts(uint64_t(size) + 8, fileSize);
  if (riffEnd > fileSize)
    AddMessage("• размер файла меньше значения, указанного в заголовке");
  else if (riffEnd < fileSize)
    AddMessage("• размер файла больше значения, указанного в заголовке");
  {
    BlockRecord root;
    root.Name = "RIFF";
    root.TypeTag = tag;
    root.Parent = -1;
    root.Offset = 0;
    root.Size = uint64_t(size) + 8;
    Blocks().push_back(root);
    h.lastIndex = 0;
  }

  uint64_t pos = 12;
  int32_t part = 0;  // the RIFF part whose blocks the walk is reading
  while (pos < fileSize && Blocks().size() < kMaxBlocks) {
    ReadHead(pos, id, size, tag);
    if (!IsChunkID(id)) {
      AddMessage(
          "• ожидался ID следующего блока и не нашёлся. вероятно нарушение в структуре файла");
      break;
    }
    if (id == "RIFF" && pos >= Blocks()[0].Size) {
      // A further RIFF part ('AVIX'): a top-level block whose lists follow its 12-byte header.
      AppendRecord(id, size, tag, -1, pos);
      part = int32_t(Blocks().size() - 1);
      pos += 12;
      h.parsePos = pos;
      continue;
    }
    AppendRecord(id, size, tag, part, pos);
    pos += 8 + uint64_t(size);
    h.parsePos = pos;
    if (pos > fileSize) {
      const BlockRecord& r = Blocks().back();
      AddMessage("• размер блока " + ShowChars(r.Name == "LIST" ? r.TypeTag : r.Name) +
                 " меньше  заявленного");
    }
  }

  for (size_t k = 1; k < Blocks().size() && Blocks().size() < kMaxBlocks; ++k) {
    if (Blocks()[k].Name != "LIST") continue;
    uint64_t p = uint64_t(Blocks()[k].Offset) + 12;
    const uint64_t end = uint64_t(Blocks()[k].Offset) + Blocks()[k].Size;
    while (p < end && Blocks().size() < kMaxBlocks) {
      ReadHead(p, id, size, tag);
      if (!IsChunkID(id) && id != "dmlh") break;
      AppendRecord(id, size, tag, int32_t(k), p);
      p += 8 + uint64_t(size);
    }
  }
  AddStandardIndexBlocks();

  Chunks2TV();
  lista2struct();
}

static std::string BlockLine(const BlockRecord& r) {
  std::string s = "'" + ShowChars(r.Name) + "' " + Dec(r.Size);
  if (!r.TypeTag.empty()) s += " '" + ShowChars(r.TypeTag) + "'";
  return s;
}

void Chunks2TV() {
  TreeModel& t = Tree();
  t.Clear();
  auto& blocks = Blocks();
  for (size_t i = 0; i < blocks.size(); ++i) {
    BlockRecord& r = blocks[i];
    int32_t parentLine = -1;
    if (r.Parent >= 0 && size_t(r.Parent) < i) parentLine = blocks[size_t(r.Parent)].Node;
    r.Node = t.Add(BlockLine(r), parentLine, int32_t(i));
  }
  if (!blocks.empty()) t.expandedLine = blocks[0].Node;
}

// Reads a whole block into the shared buffer; an unreadable block leaves it empty.
static void ReadBlock(const BlockRecord& r) {
  Bytes& b = Header().shared;
  if (r.Size > 0xFFFFFFFFu || !ReadSource(r.Offset, uint32_t(r.Size), b)) b.clear();
}

// The field lines of an OpenDML block: an index (its header; a standard index is read only
// that far) or the extended header's frame count.
static void OdmlBlock2TV(const BlockRecord& r) {
  if (r.Size < 8) return;
  const bool index = r.Name == "indx" || IsStdIndexId(r.Name);
  const uint64_t want = index && r.Name != "indx" ? 8 + kIndexHeaderSize : r.Size;
  Bytes b;
  if (!ReadFileDirect(StreamToFile(r.Offset), uint32_t(std::min<uint64_t>(want, 1 << 20)), b))
    return;
  if (index) {
    OdmlIndex ix;
    if (ParseOdmlIndex(b.data() + 8, b.size() - 8, ix))
      for (const std::string& line : OdmlIndexLines(ix)) Tree().Add(line, r.Node);
  } else {
    uint32_t frames = 0;
    if (ParseDmlh(b.data() + 8, b.size() - 8, frames))
      Tree().Add("TotalFrames = " + Dec(frames), r.Node);
  }
}

void lista2struct() {
  HeaderState& h = Header();
  auto& blocks = Blocks();
  // The records hold the first video and the first audio stream (the streams players take by
  // default); the header blocks of further streams are shown in the tree but leave the records
  // alone. `strhFirst` says whether the nearest stream header before a format was the first of
  // its kind, so that a format is only read into the records together with its own header.
  bool haveVideo = false, haveAudio = false, strhFirst = true, haveMovi = false;
  for (size_t i = 0; i < blocks.size(); ++i) {
    BlockRecord& r = blocks[i];
    if (r.Name == "avih") {
      if (r.Size != 64) AddMessage("• не стандартный размер блока avih");
      ReadBlock(r);
      readAVIH(h.shared, h.avih);
      avih2TV(r.Node, h.avih);
    } else if (r.Name == "strh") {
      ReadBlock(r);
      strhFirst = true;
      if (r.TypeTag == "vids" || r.TypeTag == "auds") {
        const bool video = r.TypeTag == "vids";
        if (r.Size != 64)
          AddMessage(video ? "• не стандартный размер блока video strh"
                           : "• не стандартный размер блока audio strh");
        bool& have = video ? haveVideo : haveAudio;
        strhFirst = !have;
        StrhRecord other;
        StrhRecord& into = strhFirst ? (video ? h.vstrh : h.astrh) : other;
        readSTRH(h.shared, into);
        strh2TV(r.Node, into);
        have = true;
      }
    } else if (r.Name == "strf") {
      ReadBlock(r);
      char kind = FormatStreamKind(i);
      if (kind == '?') {
        if (r.Size == 48 || r.Size == 54)
          kind = 'v';
        else if (r.Size == 26 || r.Size == 38)
          kind = 'a';
      } else if (kind == 'a' && !isCorrectSTRFAsize(r)) {
        AddMessage("• не стандартный размер блока audio strf");
        kind = 0;
      } else if (kind == 'v' && !supposeSTRFV(r)) {
        AddMessage("• не стандартный размер блока video strf");
        kind = 0;
      }
      if (kind == 'a' || kind == 'v') {
        if (strhFirst) {
          r.Kind = kind;
          readSTRF(h.shared, kind);
          strf2TV(r.Node, kind);
        } else {
          // A further stream's format: its lines from a record read aside.
          const VideoStrfRecord v = h.vstrf;
          const AudioStrfRecord a = h.astrf;
          readSTRF(h.shared, kind);
          strf2TV(r.Node, kind);
          h.vstrf = v;
          h.astrf = a;
        }
      }
    } else if (r.Name == "LIST" && r.TypeTag == "movi" && !haveMovi) {
      // The first movi list: the later ones belong to further RIFF parts.
      h.moviPos = r.Offset + 8;
      haveMovi = true;
    } else if (r.Name == "indx" || r.Name == "dmlh" || IsStdIndexId(r.Name)) {
      OdmlBlock2TV(r);
    }
  }
}

// ---- record readers ----

namespace {
bool SignatureAndSize(const Bytes& buf, const char* sig, std::string& signature, uint32_t& size) {
  if (GetChars(buf, 0, 4) != sig) return false;
  signature = sig;
  GetDWord(buf, 4, size);
  return buf.size() >= uint64_t(size) + 8;
}
}  // namespace

bool readAVIH(const Bytes& buf, AvihRecord& r) {
  if (!SignatureAndSize(buf, "avih", r.signature, r.size)) return false;
  uint32_t* fields[] = {&r.TimeBetweenFrames,
                        &r.MaximumDataRate,
                        &r.PaddingGranularity,
                        &r.Flags,
                        &r.TotalNumberOfFrames,
                        &r.NumberOfInitialFrames,
                        &r.NumberOfStreams,
                        &r.SuggestedBufferSize,
                        &r.Width,
                        &r.Height,
                        &r.TimeScale,
                        &r.DataRate,
                        &r.StartTime,
                        &r.DataLength};
  for (size_t i = 0; i < 14; ++i) GetDWord(buf, 8 + 4 * i, *fields[i]);
  return true;
}

bool readSTRH(const Bytes& buf, StrhRecord& r) {
  if (!SignatureAndSize(buf, "strh", r.signature, r.size)) return false;
  r.DataType = GetChars(buf, 8, 4);
  r.DeviceHandler = GetChars(buf, 12, 4);
  uint32_t* fields[] = {&r.Flags,    &r.Priority,   &r.InitialFrames, &r.TimeScale,
                        &r.DataRate, &r.StartTime,  &r.DataLength,    &r.SuggestedBufferSize,
                        &r.Quality,  &r.SampleSize, &r.xz1,           &r.xz2};
  for (size_t i = 0; i < 12; ++i) GetDWord(buf, 16 + 4 * i, *fields[i]);
  return true;
}

bool readVideoSTRF(const Bytes& buf, VideoStrfRecord& r) {
  if (!SignatureAndSize(buf, "strf", r.signature, r.size)) return false;
  GetDWord(buf, 8, r.biSize);
  GetDWord(buf, 12, r.biWidth);
  GetDWord(buf, 16, r.biHeight);
  uint32_t v = 0;
  if (GetDWord(buf, 20, v)) {
    r.biPlanes = uint16_t(v);
    r.biBitCount = uint16_t(v >> 16);
  }
  r.biCompression = GetChars(buf, 24, 4);
  GetDWord(buf, 28, r.biSizeImage);
  GetDWord(buf, 32, r.biXPelsPerMeter);
  GetDWord(buf, 36, r.biYPelsPerMeter);
  GetDWord(buf, 40, r.biClrUsed);
  GetDWord(buf, 44, r.biClrImportant);
  r.codecData.clear();
  uint64_t chunk = uint64_t(r.size) + 8;
  if (chunk > 48) r.codecData.assign(buf.begin() + 48, buf.begin() + ptrdiff_t(chunk));
  return true;
}

bool readAudioSTRF(const Bytes& buf, AudioStrfRecord& r) {
  if (!SignatureAndSize(buf, "strf", r.signature, r.size)) return false;
  uint32_t v = 0;
  if (GetDWord(buf, 8, v)) {
    r.wFormatTag = uint16_t(v);
    r.nChannels = uint16_t(v >> 16);
  }
  GetDWord(buf, 12, r.nSamplesPerSec);
  GetDWord(buf, 16, r.nAvgBytesPerSec);
  if (GetDWord(buf, 20, v)) r.nBlockAlign = uint16_t(v);
  if (GetDWord(buf, 22, v)) {
    r.wBitsPerSample = uint16_t(v);
    r.cbSize = uint16_t(v >> 16);
  }
  r.codecData.clear();
  uint64_t chunk = uint64_t(r.size) + 8;
  if (r.cbSize > 0 && chunk > 26) {
    uint64_t end = std::min<uint64_t>(26 + uint64_t(r.cbSize), chunk);
    r.codecData.assign(buf.begin() + 26, buf.begin() + ptrdiff_t(end));
  }
  return true;
}

bool readSTRF(const Bytes& buf, char kind) {
  if (kind == 'v') return readVideoSTRF(buf, Header().vstrf);
  if (kind == 'a') return readAudioSTRF(buf, Header().astrf);
  return false;
}

// ---- field lines ----

void avih2TV(int32_t node, const AvihRecord& r) {
  TreeModel& t = Tree();
  t.Add("TimeBetweenFrames = " + Dec(r.TimeBetweenFrames), node);
  t.Add("MaximumDataRate = " + Dec(r.MaximumDataRate), node);
  t.Add("PaddingGranularity = " + Dec(r.PaddingGranularity), node);
  t.Add("Flags = " + HexFlags(r.Flags), node);
  t.Add("TotalNumberOfFrames = " + Dec(r.TotalNumberOfFrames), node);
  t.Add("NumberOfInitialFrames = " + Dec(r.NumberOfInitialFrames), node);
  t.Add("NumberOfStreams = " + Dec(r.NumberOfStreams), node);
  t.Add("SuggestedBufferSize = " + Dec(r.SuggestedBufferSize), node);
  t.Add("Width = " + Dec(r.Width), node);
  t.Add("Height = " + Dec(r.Height), node);
  t.Add("TimeScale = " + Dec(r.TimeScale), node);
  t.Add("DataRate = " + Dec(r.DataRate), node);
  t.Add("StartTime = " + Dec(r.StartTime), node);
  t.Add("DataLength = " + Dec(r.DataLength), node);
}

void strh2TV(int32_t node, const StrhRecord& r) {
  TreeModel& t = Tree();
  t.Add("DataType = " + ShowChars(r.DataType), node);
  t.Add("DeviceHandler = " + ShowChars(r.DeviceHandler), node);
  t.Add("Flags = " + HexFlags(r.Flags), node);
  t.Add("Priority = " + Dec(r.Priority), node);
  t.Add("InitialFrames = " + Dec(r.InitialFrames), node);
  t.Add("TimeScale = " + Dec(r.TimeScale), node);
  t.Add("DataRate = " + Dec(r.DataRate), node);
  t.Add("StartTime = " + Dec(r.StartTime), node);
  t.Add("DataLength = " + Dec(r.DataLength), node);
  t.Add("SuggestedBufferSize = " + Dec(r.SuggestedBufferSize), node);
  t.Add("Quality = " + HexFlags(r.Quality), node);
  t.Add("SampleSize = " + Dec(r.SampleSize), node);
  t.Add("xz1 = " + HexFlags(r.xz1), node);
  t.Add("xz2 = " + HexFlags(r.xz2), node);
}

void strf2TV(int32_t node, char kind) {
  TreeModel& t = Tree();
  if (kind == 'v') {
    const VideoStrfRecord& r = Header().vstrf;
    t.Add("biSize = " + Dec(r.biSize), node);
    t.Add("biWidth = " + Dec(r.biWidth), node);
    t.Add("biHeight = " + Dec(r.biHeight), node);
    t.Add("biPlanes = " + Dec(r.biPlanes), node);
    t.Add("biBitCount = " + Dec(r.biBitCount), node);
    t.Add("biCompression = " + ShowChars(r.biCompression), node);
    t.Add("biSizeImage = " + Dec(r.biSizeImage), node);
    t.Add("biXPelsPerMeter = " + Dec(r.biXPelsPerMeter), node);
    t.Add("biYPelsPerMeter = " + Dec(r.biYPelsPerMeter), node);
    t.Add("biClrUsed = " + Dec(r.biClrUsed), node);
    t.Add("biClrImportant = " + Dec(r.biClrImportant), node);
    if (!r.codecData.empty())
      t.Add("CodecSpecificData = " + BytesToHex(r.codecData, 0, r.codecData.size()), node);
  } else if (kind == 'a') {
    const AudioStrfRecord& r = Header().astrf;
    t.Add("wFormatTag = " + Dec(r.wFormatTag), node);
    t.Add("nChannels = " + Dec(r.nChannels), node);
    t.Add("nSamplesPerSec = " + Dec(r.nSamplesPerSec), node);
    t.Add("nAvgBytesPerSec = " + Dec(r.nAvgBytesPerSec), node);
    t.Add("nBlockAlign = " + Dec(r.nBlockAlign), node);
    t.Add("wBitsPerSample = " + Dec(r.wBitsPerSample), node);
    t.Add("cbSize = " + Dec(r.cbSize), node);
    if (r.cbSize != 0)
      t.Add("CodecSpecificData = " + BytesToHex(r.codecData, 0, r.codecData.size()), node);
  }
}

// ---- format checks: read straight from the open source file ----

// Offsets are stream positions; the checks read the file itself, at the file position.
static bool ReadBlockDirect(const BlockRecord& r, Bytes& b) {
  return r.Size <= 0xFFFFFFFFu && ReadFileDirect(StreamToFile(r.Offset), uint32_t(r.Size), b);
}

bool isCorrectSTRFAsize(const BlockRecord& r) {
  Bytes b;
  if (!ReadBlockDirect(r, b)) return false;
  uint16_t cb = 0;
  if (r.Size < 26 || !GetWord(b, 24, cb)) return false;
  return uint32_t(cb) + 26 == r.Size;
}

bool supposeSTRFV(const BlockRecord& r) {
  static const std::string kAllowed =
      "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklnmopqrstuvwxyz";
  if (r.Size < 48) return false;
  Bytes b;
  if (!ReadBlockDirect(r, b)) return false;
  // The bitmap codes that are numbers, not letters: uncompressed (0), RLE8 (1), RLE4 (2),
  // bitfields (3), JPEG (4), PNG (5). Their formats carry palettes or masks after the 40
  // bytes, so their sizes vary.
  if (LoadLE32(b.data() + 24) <= 5) return true;
  // A FOURCC: letters and digits, padded with blanks at the end ("DIB ", "Y8  ").
  bool blank = false;
  for (size_t i = 24; i < 28; ++i) {
    if (b[i] == ' ' && i > 24)
      blank = true;
    else if (blank || kAllowed.find(char(b[i])) == std::string::npos)
      return false;
  }
  return true;
}

char FormatStreamKind(size_t i) {
  const auto& blocks = Blocks();
  if (i >= blocks.size()) return '?';
  char kind = StreamKindOf(blocks[i]);
  if (kind == '?' && blocks[0].Name == "ROOT") {
    // A flat table from the header reconstruction: the format belongs to the stream header
    // found before it (an audio format may have the size of a video one).
    for (size_t j = i; j-- > 1;)
      if (blocks[j].Name == "strh") {
        const char t = blocks[j].TypeTag.empty() ? '?' : char(blocks[j].TypeTag[0] | 0x20);
        return t == 'v' || t == 'a' ? t : kind;
      }
  }
  return kind;
}

void SetExtendedFlag() {
  if (HasBlock("indx", "")) {
    AddMessage(
        "• есть подозрение, что это Extended AVI format. будет предпринята попытка переделать его "
        "в стандартный вид");
    Header().extended = 'y';
  } else {
    Header().extended = 0;
  }
}

OpenResult OpenAndReadHeader(const std::string& fileName) {
  OpenResult res;
  if (!OpenSource(fileName)) {
    AddMessage("• ошибка открытия файла");
    return res;
  }
  res.opened = true;
  LoadedFileName() = fileName;
  ReadStruct();
  CloseSource();
  res.hasIdx1 = HasOwnIndex();
  SetExtendedFlag();
  SignsOn();
  return res;
}

}  // namespace rv
