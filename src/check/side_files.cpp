#include "check/side_files.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>

#include "base/messages.h"
#include "base/questions.h"
#include "check/bad_blocks.h"
#include "check/index.h"

namespace rv {

namespace {
constexpr const char* kReplaceQuestion = "файл уже существует. перезаписать?";
constexpr const char* kReplaceNamedQuestion = "файл с таким именем уже существует. перезаписать?";
constexpr const char* kIndexPast4GiB =
    "• блоки дальше 4 ГБ от начала потока не помещаются в idx1: сохраните результаты проверки "
    "(.2fix)";
// A wide ".2fix" index entry: ID, flags, the 64-bit offset, length.
constexpr size_t kWideEntrySize = 20;

bool WriteWhole(const std::string& path, const Bytes& data) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = data.empty() || std::fwrite(data.data(), 1, data.size(), f) == data.size();
  return std::fclose(f) == 0 && ok;
}

// Writes data to path, asking question first when the file exists.
SaveOutcome SaveAsking(const std::string& path, const Bytes& data, const char* question) {
  if (FileExists(path) && !AskYesNo(question)) return SaveOutcome::Declined;
  return WriteWhole(path, data) ? SaveOutcome::Written : SaveOutcome::Failed;
}
}  // namespace

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

std::string FileNamePart(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string LowerLatinCyrillic(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = uint8_t(s[i]);
    if (c >= 'A' && c <= 'Z') {
      out.push_back(char(c + 32));
    } else if ((c == 0xD0) && i + 1 < s.size()) {
      // Cyrillic capitals: U+0400-U+040F (D0 80-8F), U+0410-U+042F (D0 90-AF).
      unsigned char d = uint8_t(s[i + 1]);
      uint32_t cp = ((c & 0x1Fu) << 6) | (d & 0x3Fu);
      if (cp >= 0x400 && cp <= 0x40F)
        cp += 0x50;
      else if (cp >= 0x410 && cp <= 0x42F)
        cp += 0x20;
      out.push_back(char(0xC0 | (cp >> 6)));
      out.push_back(char(0x80 | (cp & 0x3F)));
      ++i;
    } else {
      out.push_back(char(c));
    }
  }
  return out;
}

bool NeedsWide2fix() {
  for (const BadBlock& r : BadBlocks())
    if (r.FileOffset > 0xFFFFFFFFu || r.MoviOffset > 0xFFFFFFFFu) return true;
  for (const IndexEntry& e : Index().entries)
    if (e.dwChunkOffset > 0xFFFFFFFFu) return true;
  return false;
}

Bytes Make2fix(const std::string& sourceName) {
  const bool wide = NeedsWide2fix();
  // Sizes are 32-bit in the plain form, 64-bit in the wide one.
  auto putSize = [&](Bytes& b, uint64_t v) {
    AppendDWord(b, uint32_t(v));
    if (wide) AppendDWord(b, uint32_t(v >> 32));
  };
  std::string name = FileNamePart(sourceName);
  Bytes b = wide ? Bytes{'2', 'f', 'x', '8'} : Bytes{'2', 'f', 'i', 'x'};
  AppendDWord(b, uint32_t(name.size()));
  b.insert(b.end(), name.begin(), name.end());
  const auto& bad = BadBlocks();
  const size_t recordSize = wide ? kWideBadBlockRecordSize : kBadBlockRecordSize;
  putSize(b, bad.size() * recordSize);
  for (const BadBlock& r : bad) {
    uint8_t rec[kWideBadBlockRecordSize];
    wide ? PackWideBadBlock(r, rec) : PackBadBlock(r, rec);
    b.insert(b.end(), rec, rec + recordSize);
  }
  const auto& entries = Index().entries;
  putSize(b, entries.size() * (wide ? kWideEntrySize : 16));
  for (const IndexEntry& e : entries) {
    if (!wide) {
      AppendEntryBytes(e, b);
      continue;
    }
    for (uint32_t v : {e.ckid, e.dwFlags, uint32_t(e.dwChunkOffset),
                       uint32_t(e.dwChunkOffset >> 32), e.dwChunkLength})
      AppendDWord(b, v);
  }
  return b;
}

SaveOutcome SaveCrashedBlo(const std::string& fileName, const std::string& sourceName) {
  return SaveAsking(fileName, Make2fix(sourceName), kReplaceQuestion);
}

bool RestoreCrashedBlo(const std::string& fileName, const std::string& sourceName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return false;
  auto read32 = [&](uint32_t& v) {
    uint8_t t[4];
    if (!in.read(reinterpret_cast<char*>(t), 4)) return false;
    v = LoadLE32(t);
    return true;
  };
  char magic[4];
  if (!in.read(magic, 4)) return false;
  const std::string m(magic, 4);
  if (m != "2fix" && m != "2fx8") return false;
  const bool wide = m == "2fx8";
  auto readSize = [&](uint64_t& v) {
    uint32_t lo = 0, hi = 0;
    if (!read32(lo) || (wide && !read32(hi))) return false;
    v = uint64_t(hi) << 32 | lo;
    return true;
  };
  uint32_t n = 0;
  if (!read32(n)) return false;
  std::string name = LowerLatinCyrillic(FileNamePart(sourceName));
  // A name longer than ours cannot match; never allocate by a size field.
  if (n != name.size()) return false;
  std::string stored(n, '\0');
  if (n && !in.read(stored.data(), n)) return false;
  if (LowerLatinCyrillic(stored) != name) return false;

  // Records and entries are read one at a time: a size field larger than the file loads only
  // what the file holds.
  uint64_t bsize = 0;
  std::vector<BadBlock> bad;
  const size_t recordSize = wide ? kWideBadBlockRecordSize : kBadBlockRecordSize;
  if (readSize(bsize)) {
    uint8_t rec[kWideBadBlockRecordSize];
    for (uint64_t k = 0; k < bsize / recordSize; ++k) {
      if (!in.read(reinterpret_cast<char*>(rec), std::streamsize(recordSize))) break;
      bad.push_back(wide ? UnpackWideBadBlock(rec) : UnpackBadBlock(rec));
    }
  }
  std::vector<IndexEntry> entries;
  uint64_t isize = 0;
  const size_t entrySize = wide ? kWideEntrySize : 16;
  if (in && readSize(isize)) {
    uint8_t e[kWideEntrySize];
    for (uint64_t k = 0; k < isize / entrySize; ++k) {
      if (!in.read(reinterpret_cast<char*>(e), std::streamsize(entrySize))) break;
      IndexEntry x = EntryFromBytes(e);
      if (wide) {
        x.dwChunkOffset |= uint64_t(LoadLE32(e + 12)) << 32;
        x.dwChunkLength = LoadLE32(e + 16);
      }
      entries.push_back(x);
    }
  }
  BadBlocks() = std::move(bad);
  Index().entries = std::move(entries);
  Index().keyflagsDecided = false;
  Index().cutAfterScan = false;
  Index().count = Index().entries.size();
  return true;
}

SaveOutcome SaveErrorsList(const std::string& fileName) {
  if (FileExists(fileName)) {
    if (!AskYesNo(kReplaceQuestion)) return SaveOutcome::Declined;
    std::remove(fileName.c_str());
  }
  WriteGridText(Grid().rows, fileName, 'y', /*cutCells=*/false);
  return FileExists(fileName) ? SaveOutcome::Written : SaveOutcome::Failed;
}

Bytes MakeIdx1Chunk() {
  const auto& entries = Index().entries;
  Bytes b = {'i', 'd', 'x', '1'};
  AppendDWord(b, uint32_t(entries.size() * 16));
  b.reserve(b.size() + entries.size() * 16);
  for (const IndexEntry& e : entries) AppendEntryBytes(e, b);
  return b;
}

SaveOutcome SaveIndexOnly(const std::string& fileName) {
  for (const IndexEntry& e : Index().entries)
    if (e.dwChunkOffset > 0xFFFFFFFFu) {
      AddMessage(kIndexPast4GiB);
      return SaveOutcome::Failed;
    }
  return SaveAsking(fileName, MakeIdx1Chunk(), kReplaceNamedQuestion);
}

}  // namespace rv
