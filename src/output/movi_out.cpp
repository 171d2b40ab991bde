#include "output/movi_out.h"

#include <algorithm>
#include <cstring>

#include "base/file_context.h"

namespace rv {

namespace {
struct PartSizeSetting {
  uint64_t bytes = kOdmlPartSize;
};
}  // namespace

uint64_t& OdmlPartSize() { return Context().Get<PartSizeSetting>().bytes; }

uint32_t SuperIndexCapacity(uint64_t bytes, uint64_t partSize) {
  const uint64_t parts = partSize ? bytes / partSize + 1 : 1;
  return uint32_t(std::clamp<uint64_t>(2 * parts + 4, 16, 100000));
}

namespace {

// One chunk of a header as it stands in the bytes: its ID, its type when a list, and where
// its payload lies (clipped to the bytes there are).
struct Piece {
  uint32_t id = 0, type = 0;
  size_t at = 0, payload = 0, end = 0;  // ID position, payload position, one past its pad byte
};

// The chunks from position `from` up to `to`.
std::vector<Piece> Pieces(const Bytes& b, size_t from, size_t to) {
  std::vector<Piece> out;
  for (size_t p = from; p + 8 <= to;) {
    Piece c;
    c.id = LoadLE32(&b[p]);
    const uint64_t size = LoadLE32(&b[p + 4]);
    c.at = p;
    c.payload = p + 8;
    c.end = size_t(std::min<uint64_t>(p + 8 + size + (size & 1), to));
    if (c.id == fcc("LIST") && size >= 4 && p + 12 <= to) c.type = LoadLE32(&b[p + 8]);
    out.push_back(c);
    p = c.end;
  }
  return out;
}

Bytes ListOf(uint32_t type, const Bytes& content) {
  Bytes l;
  AppendDWord(l, fcc("LIST"));
  AppendDWord(l, uint32_t(content.size() + 4));
  AppendDWord(l, type);
  l.insert(l.end(), content.begin(), content.end());
  return l;
}

}  // namespace

bool MakeOdmlRoom(Bytes& header, uint32_t capacity, OdmlHeaderLayout& layout) {
  if (header.size() < 12 || LoadLE32(header.data()) != fcc("RIFF")) return false;
  const std::vector<Piece> top = Pieces(header, 12, header.size());
  auto hdrl =
      std::find_if(top.begin(), top.end(), [](const Piece& c) { return c.type == fcc("hdrl"); });
  if (hdrl == top.end()) return false;

  OdmlHeaderLayout l;
  l.capacity = capacity;
  const size_t base = hdrl->at + 12;  // where the header list's content will start
  Bytes content;
  for (const Piece& c : Pieces(header, hdrl->payload + 4, hdrl->end)) {
    if (c.type == fcc("odml")) continue;  // replaced by a new one at the end
    if (c.id == fcc("avih")) l.avihAt = base + content.size();
    if (c.type != fcc("strl")) {
      content.insert(content.end(), header.begin() + long(c.at), header.begin() + long(c.end));
      continue;
    }
    Bytes strl;
    uint32_t sampleSize = 0;
    size_t indxAt = SIZE_MAX;  // the indx goes right after the format, where writers put it
    for (const Piece& s : Pieces(header, c.payload + 4, c.end)) {
      if (s.id == fcc("strh") && s.payload + 48 <= s.end) {
        sampleSize = LoadLE32(&header[s.payload + 44]);
        if (LoadLE32(&header[s.payload]) == fcc("vids") && l.videoStream < 0)
          l.videoStream = int(l.indxAt.size());
      }
      if (s.id != fcc("indx"))
        strl.insert(strl.end(), header.begin() + long(s.at), header.begin() + long(s.end));
      if (s.id == fcc("strf") && indxAt == SIZE_MAX) indxAt = strl.size();
    }
    if (indxAt == SIZE_MAX) indxAt = strl.size();
    l.sampleSizes.push_back(sampleSize);
    // It is written whole at the end; here it is room.
    l.indxAt.push_back(base + content.size() + 12 + indxAt);
    const Bytes room = SuperIndexChunk(0, {}, capacity);
    strl.insert(strl.begin() + long(indxAt), room.begin(), room.end());
    const Bytes list = ListOf(fcc("strl"), strl);
    content.insert(content.end(), list.begin(), list.end());
  }
  l.dmlhAt = base + content.size() + 12;
  const Bytes odml = OdmlList(0);
  content.insert(content.end(), odml.begin(), odml.end());

  Bytes rebuilt(header.begin(), header.begin() + long(hdrl->at));
  const Bytes list = ListOf(fcc("hdrl"), content);
  rebuilt.insert(rebuilt.end(), list.begin(), list.end());
  size_t rest = hdrl->end;
  // A JUNK right behind the header list gives up what the list gained, so that the movi list
  // stays where it was.
  const auto next = hdrl + 1;
  const int64_t grown = int64_t(list.size()) - int64_t(hdrl->end - hdrl->at);
  if (next != top.end() && next->id == fcc("JUNK") &&
      int64_t(next->end - next->payload) - grown >= 0) {
    Bytes junk;
    AppendDWord(junk, fcc("JUNK"));
    AppendDWord(junk, uint32_t(int64_t(next->end - next->payload) - grown));
    junk.resize(junk.size() + size_t(int64_t(next->end - next->payload) - grown), 0);
    rebuilt.insert(rebuilt.end(), junk.begin(), junk.end());
    rest = next->end;
  }
  rebuilt.insert(rebuilt.end(), header.begin() + long(rest), header.end());
  header.swap(rebuilt);
  layout = l;
  return true;
}

namespace {
// The indx chunks in the stream header lists of a header's header list.
std::vector<Piece> IndxPieces(const Bytes& header) {
  std::vector<Piece> found;
  for (const Piece& c : Pieces(header, 12, header.size()))
    if (c.type == fcc("hdrl"))
      for (const Piece& s : Pieces(header, c.payload + 4, c.end))
        if (s.type == fcc("strl"))
          for (const Piece& x : Pieces(header, s.payload + 4, s.end))
            if (x.id == fcc("indx")) found.push_back(x);
  return found;
}
}  // namespace

void BlankStaleIndexes(Bytes& header) {
  for (const Piece& x : IndxPieces(header)) {
    PutDWord(fcc("JUNK"), &header[x.at]);
    std::fill(header.begin() + long(x.payload), header.begin() + long(x.end), 0);
  }
}

std::vector<uint64_t> NamedStdIndexes(const Bytes& header) {
  std::vector<uint64_t> named;
  for (const Piece& x : IndxPieces(header)) {
    OdmlIndex ix;
    if (ParseOdmlIndex(&header[x.payload], x.end - x.payload, ix) &&
        ix.indexType == kIndexOfIndexes)
      for (const SuperIndexEntry& e : ix.super) named.push_back(e.offset);
  }
  std::sort(named.begin(), named.end());
  named.erase(std::unique(named.begin(), named.end()), named.end());
  return named;
}

MoviOut::MoviOut(OutFile& out, uint64_t moviListPos, uint64_t partSize, uint32_t superCapacity,
                 bool noIdx1)
    : out_(out),
      moviPos_(moviListPos + 8),
      partSize_(partSize),
      capacity_(superCapacity),
      noIdx1_(noIdx1) {
  Part first;
  first.riffAt = 0;
  first.moviAt = moviListPos;
  parts_.push_back(std::move(first));
}

// The stream number of a chunk ID ("01wb" -> 1), -1 for other IDs.
static int StreamOf(uint32_t ckid) {
  const int a = int(ckid & 0xFF) - '0', b = int((ckid >> 8) & 0xFF) - '0';
  return a >= 0 && a <= 9 && b >= 0 && b <= 9 ? a * 10 + b : -1;
}

bool MoviOut::Fits(uint64_t bytes) const {
  const Part& p = parts_.back();
  // A RIFF's sizes are 32-bit: the part with its indexes and the new chunk's entries.
  return out_.length() - p.riffAt + bytes + p.indexBytes + 8 + 16 + 8 + 32 <= 0xFFFFFFFFull;
}

void MoviOut::BeforeChunk(uint64_t bytes) {
  if (partSize_ == 0 || parts_.back().empty || parts_.size() >= capacity_) return;
  const Part& p = parts_.back();
  if (out_.length() - p.riffAt + bytes + p.indexBytes <= partSize_) return;
  ClosePart();
  OpenPart();
}

void MoviOut::Add(const IndexEntry& e) {
  Part& p = parts_.back();
  p.empty = false;
  if (parts_.size() == 1 && !noIdx1_) {
    AppendEntryBytes(e, idx1_);
    p.indexBytes += 16;
  }
  const int s = StreamOf(e.ckid);
  if (s < 0) return;
  if (partSize_ != 0) {
    // Its standard index entry, and the index's headers with the stream's first chunk.
    std::vector<StdIndexEntry>& ix = p.ix[size_t(s)];
    p.indexBytes += 8 + (ix.empty() ? 8 + kIndexHeaderSize : 0);
    const uint64_t payload = moviPos_ + e.dwChunkOffset + 8;
    ix.push_back(
        {uint32_t(payload - (p.moviAt + 8)), e.dwChunkLength, (e.dwFlags & kKeyframeFlag) != 0});
    p.ixBytes[size_t(s)] += e.dwChunkLength;
  }
  if (!ids_[size_t(s)]) ids_[size_t(s)] = e.ckid;
  ++all_[size_t(s)];
  if (parts_.size() == 1) ++first_[size_t(s)];
}

void MoviOut::OpenPart() {
  Part p;
  p.riffAt = out_.length();
  p.moviAt = p.riffAt + 12;
  out_.Write("RIFF....AVIXLIST....movi");
  parts_.push_back(std::move(p));
}

void MoviOut::ClosePart() {
  Part& p = parts_.back();
  if (partSize_ != 0) {
    // The standard index of every stream with chunks in this part, at the end of its movi list.
    for (size_t s = 0; s < 100; ++s) {
      if (p.ix[s].empty()) continue;
      const Bytes ix = StdIndexChunk(ids_[s], p.moviAt + 8, p.ix[s]);
      super_[s].push_back({out_.length(), uint32_t(ix.size()), uint32_t(p.ix[s].size())});
      bytes_[s].push_back(p.ixBytes[s]);
      out_.Write(ix);
      std::vector<StdIndexEntry>().swap(p.ix[s]);
    }
  }
  out_.Put32At(p.moviAt + 4, uint32_t(out_.length() - p.moviAt - 8));
  if (parts_.size() == 1 && !noIdx1_) {
    Bytes head = {'i', 'd', 'x', '1'};
    AppendDWord(head, uint32_t(idx1_.size()));
    out_.Write(head);
    out_.Write(idx1_);
    Bytes().swap(idx1_);
  }
  out_.Put32At(p.riffAt + 4, uint32_t(out_.length() - p.riffAt - 8));
}

void MoviOut::PatchHeader(const OdmlHeaderLayout& layout) {
  const std::vector<uint32_t>& sampleSizes = layout.sampleSizes;
  const int videoStream = layout.videoStream;
  for (size_t s = 0; s < layout.indxAt.size() && s < 100; ++s) {
    std::vector<SuperIndexEntry> entries = super_[s];
    // Audio of a fixed sample size counts its duration in samples, not chunks.
    const uint32_t sampleSize = s < sampleSizes.size() ? sampleSizes[s] : 0;
    if (sampleSize)
      for (size_t k = 0; k < entries.size(); ++k)
        entries[k].duration = uint32_t(bytes_[s][k] / sampleSize);
    const Bytes indx = SuperIndexChunk(ids_[s], entries, layout.capacity);
    out_.WriteAt(layout.indxAt[s], indx.data(), indx.size());
  }
  const size_t v = size_t(std::clamp(videoStream, 0, 99));
  if (layout.dmlhAt) out_.Put32At(layout.dmlhAt + 8, all_[v]);
  // The main header counts the frames of the first part only.
  if (layout.avihAt) out_.Put32At(layout.avihAt + 8 + 16, first_[v]);
}

}  // namespace rv
