#include "check/scanner.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>

#include "base/file_context.h"
#include "base/host.h"
#include "base/messages.h"
#include "base/options.h"
#include "base/questions.h"
#include "base/tasks.h"
#include "check/bad_blocks.h"
#include "check/index.h"
#include "check/stream_facts.h"
#include "riff/blocks.h"
#include "riff/bytes.h"
#include "riff/header.h"
#include "riff/odml.h"
#include "riff/source.h"

namespace rv {

bool IsStreamChunkID(const std::string& id, bool streams01) {
  if (id.size() != 4) return false;
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (!digit(id[0]) || !digit(id[1])) return false;
  std::string_view t(id.data() + 2, 2);
  if (t != "dc" && t != "wb" && t != "db" && t != "pc") return false;
  if (streams01 && id[0] != '0') return false;
  if (streams01 && id[1] != '0' && id[1] != '1') return false;
  return true;
}

const char* CheckQuestionText(int code) {
  switch (code) {
    case kAskFirstBlock:
      return "отсутствует метка первого блока в потоке. искать?\r\n(очень долго)";
    case kAskBrokenLink:
      return "кривая ссылка в потоке. искать следующий блок побайтно?\r\n(очень долго)";
    case kAskIdx1Found: return "найдена последовательность 'IDX1'. прервать поиск?";
    default: return "";
  }
}

ScanUiState& ScanUi() {
  static ScanUiState s;
  return s;
}

std::atomic<uint8_t>& CloseCheckWindowFlag() {
  static std::atomic<uint8_t> f{0};
  return f;
}

static ScanSummary& LastScanOfContext() { return Context().Get<ScanSummary>(); }
const ScanSummary& LastScan() { return LastScanOfContext(); }

namespace {

enum class ScanState { Normal, SkippedOne, Searching, FirstSearch };

std::string ProgressText(uint64_t pos, uint64_t end) {
  return "ptr: " + FormatThousands(pos) + "  >>  " + FormatThousands(end);
}

// The longest run of one byte value met during a search.
struct RepeatTracker {
  uint8_t curByte = 0, bestByte = 0;
  uint32_t curLen = 0, bestLen = 0;
  uint64_t curStart = 0, bestStart = 0;
  void Begin(uint64_t start) {
    curByte = bestByte = 0;
    curLen = bestLen = 0;
    curStart = bestStart = start;
  }
  void Feed(uint8_t b, uint64_t q) {
    if (b == curByte) {
      if (++curLen > bestLen) Take();
    } else {
      if (curLen > bestLen) Take();
      curByte = b;
      curLen = 1;
      curStart = q;
    }
  }
  void Take() {
    bestByte = curByte;
    bestLen = curLen;
    bestStart = curStart;
  }
};

// Whether a chunk of this ID holds `size` bytes, the distance to the next block less a pad
// byte. The file's own index decides where it names the chunk. Else the stream shows it: an
// earlier chunk of the same ID has that size and none has one byte more (MPEG audio frames
// come in two sizes a byte apart, so either could be this one, and a byte of a frame is worth
// more than a stray pad byte), or the chunk is PCM audio whose block alignment fits that size
// and not one more.
bool PadByteEvidence(uint32_t ckid, uint32_t size, uint32_t entryIndex, const OwnIndex::Item* own) {
  if (own) return own->length == size;
  const auto& entries = Index().entries;
  const size_t end = std::min<size_t>(entryIndex, entries.size());
  const size_t begin = end > 4000 ? end - 4000 : 0;
  bool same = false, oneMore = false;
  for (size_t i = begin; i < end; ++i) {
    if (entries[i].ckid != ckid) continue;
    same |= entries[i].dwChunkLength == size;
    oneMore |= entries[i].dwChunkLength == size + 1;
  }
  if (same || oneMore) return same && !oneMore;
  const AudioStrfRecord& a = Header().astrf;
  if (SameChunkType(cff(ckid), "01wb") && a.wFormatTag == 1 && a.nBlockAlign > 1)
    return size % a.nBlockAlign == 0 && (size + 1) % a.nBlockAlign != 0;
  return false;
}

class Scanner {
 public:
  bool Run();

 private:
  void Accept(const std::string& id, uint32_t size);
  void FinishBadBlock(uint64_t nextOffset);
  bool EnterList(uint32_t size);
  void BeginSearch();
  bool SizeBroken(const BlockRecord& movi, bool say);
  uint64_t PartStructure(const std::string& id, uint32_t size);
  bool PartHeaderAt(uint64_t q);
  void Progress(bool force);
  bool Ask(int code) { return AskYesNo(CheckQuestionText(code)); }

  uint64_t M = 0, E = 0, p = 4, fileSize = 0;
  uint64_t moviEndInFile = 0;   // file position one past the last movi list as declared
  bool multiPart = false;       // the file has further RIFF parts (OpenDML)
  bool openEnded = false;       // the scan runs to the file's end or the end of the last part
  bool afterStructure = false;  // a list header or part structure was stepped over since the
                                // last chunk
  uint32_t limit = 0xFFFFFFFFu;
  ScanState state = ScanState::Normal;
  bool sizeBroken = false;  // the movi or RIFF size was found broken: scan to the file's end
  bool endedAtIndex = false;
  RepeatTracker rt;
  // The file's own idx1, read when a bad block first needs it.
  std::optional<OwnIndex> own;
  std::chrono::steady_clock::time_point lastShown{};
  uint32_t sinceCheck = 0;
};

void Scanner::Progress(bool force) {
  // Progress is shown a few dozen times a second; building and sending it per byte of a
  // search would cost more than the search.
  if (!force && ++sinceCheck < 256) return;
  sinceCheck = 0;
  auto now = std::chrono::steady_clock::now();
  if (!force && now - lastShown < std::chrono::milliseconds(30)) return;
  lastShown = now;
  uint64_t pos = M + p;
  int percent;
  if (E / 100 == 0)
    percent = pos >= E ? 100 : 0;
  else
    percent = int(std::min<uint64_t>(pos / (E / 100), 100));
  ScanUi().percent = percent;
  ReportProgress(ProgressTarget::kStreamCheck, percent, ProgressText(pos, E));
}

void Scanner::Accept(const std::string& id, uint32_t size) {
  IndexState& ix = Index();
  afterStructure = false;
  size_t i = ix.count;
  SetIndexCount(i + 1);
  IndexEntry& e = ix.entries[i];
  e.ckid = fcc(id);
  e.dwFlags = 0;
  if (Opt().key00db && SameChunkType(id, "00db"))
    e.dwFlags = kKeyframeFlag;
  else if (Opt().key01wb && SameChunkType(id, "01wb"))
    e.dwFlags = kKeyframeFlag;
  e.dwChunkOffset = p;
  e.dwChunkLength = size;
  p += 8 + uint64_t(size);
  if (state == ScanState::FirstSearch) ScanUi().firstSearchSign = false;
  if (state == ScanState::Searching) FinishBadBlock(e.dwChunkOffset);
  state = ScanState::Normal;
  if ((Opt().bigIsBad && size > limit) || (Opt().beyondEof && M + p > fileSize)) BeginSearch();
}

// The search found the next block at movi offset nextOffset: the bad block ends there.
void Scanner::FinishBadBlock(uint64_t nextOffset) {
  BadBlock& b = CurrentBadBlock();
  // A chunk size is 32-bit: a search that ran further than that ends the block there.
  uint32_t real = uint32_t(std::min<uint64_t>(nextOffset - b.MoviOffset - 8, 0xFFFFFFFEu));
  // The distance to the next block counts the pad byte of an odd-sized chunk; where the
  // stream shows the size without it, the pad byte is not part of the real size.
  uint8_t last = 1;
  if (real > 0 && real % 2 == 0 && ReadSource(M + b.MoviOffset + 8 + real - 1, 1, &last) &&
      last == 0) {
    if (!own) own = LoadOwnIndex();
    const OwnIndex::Item* named = own->At(StreamToFile(M + b.MoviOffset), b.ChunkID);
    if (named && named->length != real && named->length != real - 1) named = nullptr;
    if (PadByteEvidence(b.ChunkID, real - 1, b.EntryIndex, named)) real -= 1;
  }
  b.RealSize = real;
  b.RepeatLength = rt.bestLen;
  b.RepeatByte = rt.bestByte;
  b.RepeatStart = uint32_t(std::min<uint64_t>(rt.bestStart - b.MoviOffset, 0xFFFFFFFFu));
  // A run that went on into the dropped pad byte ends with the block.
  if (uint64_t(b.RepeatStart) + b.RepeatLength > uint64_t(real) + 8)
    b.RepeatLength =
        uint32_t(uint64_t(real) + 8 - std::min<uint64_t>(b.RepeatStart, uint64_t(real) + 8));
  b.Mark = '*';
  ShowCurrentBadBlock();
  SendCheckMessage(kShowBadBlock, 0);
}

// A LIST group inside movi ('rec ' and any other type): its header is stepped over and the
// chunks inside are indexed at their own offsets. The group's size is not trusted: a chunk
// that breaks inside it is found as any broken chunk. False when the bytes at p do not look
// like a list header.
bool Scanner::EnterList(uint32_t size) {
  if (size < 4 || E - M - p < 12) return false;
  uint8_t type[4];
  if (!ReadSource(M + p + 8, 4, type)) return false;
  for (uint8_t c : type)
    if (c < 32 || c > 126) return false;
  if (state == ScanState::Searching) FinishBadBlock(p);
  if (state == ScanState::FirstSearch) ScanUi().firstSearchSign = false;
  state = ScanState::Normal;
  p += 12;
  afterStructure = true;
  return true;
}

// An interrupted recording leaves the sizes its writer meant to fill in at the end: 0 or
// 0xFFFFFFFF in RIFF and movi. Such a size, or one that reaches past the file's end, or a
// movi size after which stream chunks go on, makes the scan run to the end of the file.
bool Scanner::SizeBroken(const BlockRecord& movi, bool say) {
  bool broken = false;
  const uint64_t moviSize = movi.Size - 8;
  const uint64_t moviEnd = movi.Offset + 8 + moviSize;
  bool chunksAfter = false;
  uint8_t next[4];
  for (uint64_t at : {moviEnd, moviEnd + 1})
    if (at + 8 <= fileSize && ReadSource(at, 4, next) &&
        IsStreamChunkID(std::string(reinterpret_cast<char*>(next), 4), false))
      chunksAfter = true;
  if (moviSize == 0 || moviSize == 0xFFFFFFFFu || moviEnd > fileSize || chunksAfter) {
    if (say)
      AddMessage("• размер блока movi (" + std::to_string(moviSize) +
                 ") неверен: поток проверяется до конца файла");
    broken = true;
  }
  // The RIFF part that holds the movi list.
  int32_t riff = movi.Parent;
  while (riff >= 0 && Blocks()[size_t(riff)].Parent >= 0) riff = Blocks()[size_t(riff)].Parent;
  if (riff >= 0 && Blocks()[size_t(riff)].Name == "RIFF") {
    const BlockRecord& r = Blocks()[size_t(riff)];
    const uint64_t riffSize = r.Size - 8;
    if (riffSize == 0 || r.Offset + r.Size > fileSize) {
      if (say)
        AddMessage("• размер блока RIFF (" + std::to_string(riffSize) +
                   ") неверен: поток проверяется до конца файла");
      broken = true;
    }
  }
  return broken;
}

// Whether the next RIFF part's header ("RIFF" size "AVIX") is at stream position M + q.
bool Scanner::PartHeaderAt(uint64_t q) {
  uint8_t h[12];
  return M + q + 12 <= fileSize && ReadSource(M + q, 12, h) && std::memcmp(h, "RIFF", 4) == 0 &&
         std::memcmp(h + 8, "AVIX", 4) == 0;
}

// The blocks an OpenDML file has between the chunks of its movi lists: a further part's RIFF
// header, the first part's idx1 before it, and the standard indexes (ix##) at the end of each
// movi list. Returns the bytes to step over at p, 0 when the block is none of these.
uint64_t Scanner::PartStructure(const std::string& id, uint32_t size) {
  if (id == "RIFF" && PartHeaderAt(p)) return 12;
  if (!multiPart && Header().extended != 'y') return 0;
  if (id == "idx1" && PartHeaderAt(p + 8 + uint64_t(size))) return 8 + uint64_t(size);
  if (IsStdIndexId(id)) return 8 + uint64_t(size) + (size & 1);
  return 0;
}

void Scanner::BeginSearch() {
  IndexState& ix = Index();
  state = ScanState::Searching;
  size_t n = ix.count;
  const IndexEntry& L = ix.entries[n - 1];
  p = uint64_t(L.dwChunkOffset) + 8;
  rt.Begin(p);
  BadBlock& b = CurrentBadBlock();
  b = BadBlock{};
  b.EntryIndex = uint32_t(n - 1);
  b.ChunkID = L.ckid;
  // With fragments already excluded the stream position differs from the file position;
  // the repairs cut bytes by file position.
  b.FileOffset = StreamToFile(M + L.dwChunkOffset);
  b.MoviOffset = L.dwChunkOffset;
  b.DeclaredSize = L.dwChunkLength;
  b.Mark = '!';
  ShowCurrentBadBlock();
  SendCheckMessage(kShowBadBlock, 0);
}

bool Scanner::Run() {
  limit = Opt().bigLimitBytes;
  int32_t movi = FindBlock("LIST", "movi");
  if (movi < 0) return false;
  if (!OpenSource(InputFileName())) return false;
  fileSize = Source().size;
  IndexState& ix = Index();
  M = Blocks()[size_t(movi)].Offset + 8;
  // The scan runs from the first movi list to the end of the last one: in a file of several
  // RIFF parts the chunks go on in the movi list of each part. A reconstruction's flat table
  // (under "ROOT") holds the movi lists of all parts it found side by side.
  int32_t lastMovi = movi;
  for (size_t k = size_t(movi) + 1; k < Blocks().size(); ++k) {
    const BlockRecord& r = Blocks()[k];
    if (r.Name == "LIST" && r.TypeTag == "movi" && r.Parent >= 0 &&
        (Blocks()[size_t(r.Parent)].TypeTag == "AVIX" || Blocks()[size_t(r.Parent)].Name == "ROOT"))
      lastMovi = int32_t(k);
  }
  // A reconstruction's table may have lost the first part's movi list header, and with it any
  // sign of the parts: its stream is followed like that of a file in parts.
  multiPart = lastMovi != movi || Blocks().front().Name == "ROOT";
  const BlockRecord& mr = Blocks()[size_t(lastMovi)];
  E = mr.Offset + mr.Size;
  moviEndInFile = E;
  // Bytes inserted into one part put the parts after it out of the walk's reach: the chunks
  // of a file in parts, or with OpenDML indexes, are followed to the file's end, which an idx1
  // or RIFF that starts no further part ends sooner.
  openEnded = multiPart || Header().extended == 'y';
  if (openEnded) E = fileSize;
  if (Opt().scanToEof) {
    E = fileSize;
  } else if (SizeBroken(mr, ix.continueCheck != 'y')) {
    E = fileSize;
    sizeBroken = true;
  }
  // Positions are stream positions: with fragments cut out the stream is shorter than the
  // file, and it ends where it ends, not where the file's movi list did.
  E = std::min<uint64_t>(E, StreamSize());
  state = ScanState::Normal;
  rt = RepeatTracker{};

  if (ix.continueCheck == 'y' && !ix.entries.empty()) {
    ix.count = ix.entries.size();
    const IndexEntry& L = ix.entries.back();
    p = uint64_t(L.dwChunkOffset) + L.dwChunkLength + 8;
    const auto& bad = BadBlocks();
    if (!bad.empty() && bad.back().MoviOffset == L.dwChunkOffset)
      p = uint64_t(bad.back().MoviOffset) + bad.back().RealSize + 8;
  } else {
    SetIndexCount(0);
    ix.keyflagsDecided = false;
    BadBlocks().clear();
    ResetGrid();
    p = 4;
  }
  ScanUi().gaugeVisible = true;
  ScanUi().pointerVisible = true;
  Progress(true);

  int64_t R = 0;
  uint8_t head[8];
  uint64_t steps = 0;
  for (;;) {
    ++steps;
    R = int64_t(E) - int64_t(M) - int64_t(p);
    if (R < 8 || M + p > fileSize) break;
    if (!ReadSource(M + p, 8, head)) break;
    std::string id(reinterpret_cast<const char*>(head), 4);
    uint32_t S = LoadLE32(head + 4);
    bool stopByQuestion = false;
    // With a broken movi size the stream ends where the file's own index or the next RIFF
    // part begins at a block boundary.
    const bool atBoundary = state == ScanState::Normal || state == ScanState::SkippedOne;
    if (const uint64_t step = PartStructure(id, S)) {
      // A search for the end of a broken chunk ends at the part's structure too.
      if (state == ScanState::Searching) FinishBadBlock(p);
      if (state == ScanState::FirstSearch) ScanUi().firstSearchSign = false;
      state = ScanState::Normal;
      p += step;
      afterStructure = true;
      Progress(false);
      if (StopRequested()) break;
      continue;
    }
    if ((sizeBroken || openEnded) && atBoundary && (id == "idx1" || id == "RIFF")) {
      endedAtIndex = true;
      break;
    }
    // The file's own index where the movi list ends in the file, moved closer by the cuts:
    // the stream ends there.
    if (atBoundary && id == "idx1" && M + p < moviEndInFile &&
        StreamToFile(M + p) >= moviEndInFile) {
      endedAtIndex = true;
      break;
    }
    if (id == "idx1" && Ask(kAskIdx1Found)) break;
    if (IsStreamChunkID(id, Opt().streams01)) {
      Accept(id, S);
    } else if (id == "LIST" && EnterList(S)) {
    } else if (id == "JUNK") {
      p += 8 + uint64_t(S);
    } else if (afterStructure && state != ScanState::Searching) {
      // Bytes between a list header or a part's structure and the next chunk belong to no
      // chunk: they are stepped over. A search from the last chunk would only come back here.
      p += 1;
    } else if (ix.count == 0) {
      // Nothing accepted yet: there is no last block to take as the bad one, so this is a
      // search for the first block.
      if (state != ScanState::FirstSearch) {
        if (!Ask(kAskFirstBlock)) {
          stopByQuestion = true;
        } else {
          state = ScanState::FirstSearch;
          ScanUi().firstSearchSign = true;
        }
      }
      if (stopByQuestion) break;
      p += 1;
    } else if (state == ScanState::Searching) {
      rt.Feed(head[0], p);
      p += 1;
    } else if (state == ScanState::Normal) {
      state = ScanState::SkippedOne;
      p += 1;
    } else {  // SkippedOne: a broken link
      if (!Opt().searchNext) {
        if (!Ask(kAskBrokenLink)) break;
        Opt().searchNext = true;
      }
      BeginSearch();
    }
    Progress(false);
    if (StopRequested()) {
      if ((state == ScanState::SkippedOne || state == ScanState::Searching) && ix.count > 0)
        ix.count -= 1;
      ScanUi().firstSearchSign = false;
      break;
    }
    if (!Opt().highPriorityCheck) YieldStep(false);
  }

  CloseSource();
  TrimIndex();
  for (size_t i = 0; i < 2 && i < ix.entries.size(); ++i) {
    std::string id = cff(ix.entries[i].ckid);
    if (SameChunkType(id, "00dc") || SameChunkType(id, "00db")) {
      ix.entries[i].dwFlags = kKeyframeFlag;
      break;
    }
  }
  Progress(true);
  ScanUi().gaugeVisible = false;
  ScanUi().pointerVisible = false;
  ScanUi().firstSearchSign = false;
  CloseCheckWindowFlag() = (!StopRequested() && GridIsEmpty()) ? 1 : 0;
  ScanSummary& last = LastScanOfContext();
  last.sizeBroken = sizeBroken;
  last.steps = steps;
  last.stopped = StopRequested();
  last.reachedEnd = R < 8 || endedAtIndex;
  last.fileEnded = !last.reachedEnd && !last.stopped && M + p + 8 > fileSize;
  if (last.reachedEnd) ix.cutAfterScan = false;
  return last.reachedEnd;
}

}  // namespace

bool createIDX1() {
  LastScanOfContext() = {};
  if (!InputIsLoadedFile()) return false;
  Scanner s;
  return s.Run();
}

}  // namespace rv
