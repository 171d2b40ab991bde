#include "check/stream_facts.h"

#include <algorithm>
#include <cctype>

#include "check/odml_index.h"
#include "check/scanner.h"
#include "riff/blocks.h"
#include "riff/bytes.h"
#include "riff/source.h"

namespace rv {

namespace {

std::string Upper(std::string s) {
  for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool OneOf(const std::string& code, std::initializer_list<const char*> names) {
  for (const char* n : names)
    if (code == n) return true;
  return false;
}

IntraRule RuleOfCode(const std::string& code) {
  const std::string c = Upper(code);
  if (OneOf(c, {"XVID", "DIVX", "DX50", "FMP4", "MP4V", "MP4S", "M4S2", "3IV2", "DIV5", "DIV6",
                "RMP4", "UMP4", "SEDG", "BLZ0", "DXGM", "EM4A", "M4CC", "XVIX", "GEOX"}))
    return IntraRule::Mpeg4Visual;
  if (OneOf(c, {"H264", "X264", "AVC1", "DAVC", "VSSH", "AVC ", "Q264", "V264"}))
    return IntraRule::H264;
  if (OneOf(c, {"MJPG", "AVRN", "LJPG", "JPEG", "DMB1", "MJLS", "JPGL", "DVSD", "DV25", "DV50",
                "DVHD", "DVSL", "CDVC", "CDVH", "HFYU", "FFVH", "UYVY", "YUY2", "YUYV", "YV12",
                "I420", "IYUV", "Y800", "Y8  ", "GREY", "V210", "R210", "MJ2C", "CLLC", "PNG ",
                "MPNG", "UTVD", "ULRG", "ULRA", "ULY0", "ULY2", "MAGY", "LAGS", "CVID0"}))
    return IntraRule::AllIntra;
  return IntraRule::Unknown;
}

}  // namespace

IntraRule IntraRuleOf(uint32_t biCompression, const std::string& handler) {
  if (biCompression == 0) return IntraRule::AllIntra;  // uncompressed RGB
  if (biCompression < 4) return IntraRule::Unknown;    // RLE, bit fields: may hold deltas
  IntraRule r = RuleOfCode(cff(biCompression));
  return r != IntraRule::Unknown ? r : RuleOfCode(handler);
}

int PictureIsIntra(IntraRule rule, const uint8_t* p, size_t n) {
  switch (rule) {
    case IntraRule::Unknown: return -1;
    case IntraRule::AllIntra: return n > 0 ? 1 : 0;
    case IntraRule::Mpeg4Visual:
      // The first VOP start code: vop_coding_type 0 is an I-VOP. Three bytes or fewer after
      // the start code hold only the VOP header: a VOP with nothing coded, as packed B-frames
      // leave in the chunk after the one that carries them. A coded picture needs more.
      for (size_t i = 0; i + 4 < n; ++i)
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && p[i + 3] == 0xB6)
          return (p[i + 4] >> 6) == 0 && n - (i + 4) > 3 ? 1 : 0;
      return n == 0 ? 0 : -1;
    case IntraRule::H264:
      // The first coded slice decides: an IDR slice, or a recovery point that precedes it.
      for (size_t i = 0; i + 3 < n; ++i) {
        if (!(p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1)) continue;
        const uint8_t type = p[i + 3] & 0x1F;
        if (type == 5) return 1;
        if (type == 1) return 0;
        if (type == 6 && i + 4 < n && p[i + 4] == 6) return 1;  // SEI: recovery point
        i += 2;
      }
      return n == 0 ? 0 : -1;
  }
  return -1;
}

const OwnIndex::Item* OwnIndex::At(uint64_t filePos, uint32_t ckid) const {
  size_t k = LowerBound(filePos);
  if (k < items.size() && items[k].filePos == filePos && items[k].ckid == ckid) return &items[k];
  return nullptr;
}

size_t OwnIndex::LowerBound(uint64_t filePos) const {
  return size_t(std::lower_bound(items.begin(), items.end(), filePos,
                                 [](const Item& a, uint64_t f) { return a.filePos < f; }) -
                items.begin());
}

namespace {

// The items of the idx1 (the source open): empty when there is none or neither base of its
// offsets names a chunk.
std::vector<OwnIndex::Item> Idx1Items(int32_t movi) {
  std::vector<OwnIndex::Item> items;
  const int32_t k = FindBlock("idx1", "");
  if (k < 0) return items;
  const BlockRecord& r = Blocks()[size_t(k)];
  const uint64_t fileSize = Source().size;
  if (r.Offset >= fileSize || r.Size < 8) return items;
  const uint32_t held = uint32_t(std::min<uint64_t>({r.Size, fileSize - r.Offset, 0xFFFFFFFFu}));
  Bytes buf;
  if (!ReadFileDirect(r.Offset, held, buf)) return items;
  const uint64_t moviPos = StreamToFile(Blocks()[size_t(movi)].Offset) + 8;

  for (size_t off = 8; off + 16 <= buf.size(); off += 16) {
    OwnIndex::Item it;
    it.ckid = LoadLE32(&buf[off]);
    it.flags = LoadLE32(&buf[off + 4]);
    it.filePos = LoadLE32(&buf[off + 8]);
    it.length = LoadLE32(&buf[off + 12]);
    if (IsStreamChunkID(cff(it.ckid), false)) items.push_back(it);
  }
  // The base: the first entries whose chunk is where one of the bases puts it.
  for (size_t i = 0; i < items.size() && i < 16; ++i)
    for (uint64_t b : {moviPos, uint64_t(0)}) {
      Bytes id;
      const uint64_t at = b + items[i].filePos;
      if (at + 8 <= fileSize && ReadFileDirect(at, 4, id) && LoadLE32(id.data()) == items[i].ckid) {
        for (auto& it : items) it.filePos += b;
        return items;
      }
    }
  return {};
}

}  // namespace

OwnIndex LoadOwnIndex() {
  OwnIndex own;
  const int32_t movi = FindBlock("LIST", "movi");
  if (movi < 0) return own;
  std::vector<OwnIndex::Item> items = Idx1Items(movi);
  // The OpenDML standard indexes cover the later parts too; where they list a chunk idx1
  // lists as well, the idx1 item stays.
  const uint64_t moviPos = Blocks()[size_t(movi)].Offset + 8;
  auto byPos = [](const OwnIndex::Item& x, const OwnIndex::Item& y) {
    return x.filePos < y.filePos;
  };
  std::stable_sort(items.begin(), items.end(), byPos);
  // Each standard index is taken over and let go at once, so that a file of millions of chunks
  // is not held twice over.
  OdmlIndexes odml = ReadOdmlIndexes();
  std::vector<OwnIndex::Item> more;
  size_t total = 0;
  for (const OdmlStdIndexRead& ix : odml.indexes) total += ix.entries.size();
  more.reserve(total);
  for (OdmlStdIndexRead& ix : odml.indexes) {
    for (const IndexEntry& e : ix.entries) {
      const uint64_t at = StreamToFile(moviPos + e.dwChunkOffset);
      if (at + 8 <= Source().size && IsStreamChunkID(cff(e.ckid), false))
        more.push_back({at, e.ckid, e.dwFlags, e.dwChunkLength});
    }
    std::vector<IndexEntry>().swap(ix.entries);
  }
  if (!more.empty()) {
    std::sort(more.begin(), more.end(), byPos);
    // Where both list a chunk the idx1 item stays; one item per position.
    std::vector<OwnIndex::Item> merged;
    merged.reserve(items.size() + more.size());
    size_t i = 0;
    for (const OwnIndex::Item& m : more) {
      while (i < items.size() && items[i].filePos <= m.filePos) merged.push_back(items[i++]);
      if (merged.empty() || merged.back().filePos != m.filePos) merged.push_back(m);
    }
    merged.insert(merged.end(), items.begin() + long(i), items.end());
    merged.erase(std::unique(merged.begin(), merged.end(),
                             [](const OwnIndex::Item& x, const OwnIndex::Item& y) {
                               return x.filePos == y.filePos;
                             }),
                 merged.end());
    items.swap(merged);
  }
  own.items = std::move(items);
  return own;
}

}  // namespace rv
