#include "join/join.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <thread>

#include "base/tasks.h"
#include "check/index.h"
#include "check/scanner.h"
#include "output/movi_out.h"
#include "output/writer.h"
#include "riff/bytes.h"
#include "riff/in_file.h"
#include "riff/movi_locator.h"
#include "riff/odml.h"
#include "riff/out_file.h"

namespace rv {

const char* const kJoinNotice =
    "перед запуском процесса сборки убедитесь, \r\n"
    "что все файлы исправны и имеют индексы. \r\n"
    "\r\n"
    "файлы Extended AVI (OpenDML) принимаются; \r\n"
    "выходной файл больше 1Gb записывается \r\n"
    "в формате OpenDML.";

void JoinState::SetStatus(const std::string& s) {
  if (CurrentWorkerAbandoned()) return;  // a killed join does not speak for the next one
  {
    std::lock_guard lock(mutex_);
    status_ = s;
  }
  ++generation;
}

std::string JoinState::Status() {
  std::lock_guard lock(mutex_);
  return status_;
}

JoinState& Join() {
  static JoinState j;
  return j;
}

std::string JoinedName(const std::string& first) {
  if (first.empty()) return {};
  size_t slash = first.find_last_of('/');
  std::string dir = slash == std::string::npos ? std::string() : first.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? first : first.substr(slash + 1);
  std::string ext;
  if (size_t dot = base.find_last_of('.'); dot != std::string::npos) ext = base.substr(dot);
  if (base != ext) base.erase(base.size() - ext.size());
  return dir + base + ".joined" + ext;
}

void MoveItem(std::vector<std::string>& items, int s, int t) {
  int n = int(items.size());
  if (s < 0 || t < 0 || s >= n || t >= n || s == t) return;
  std::string moved = items[size_t(s)];
  if (s < t)
    std::rotate(items.begin() + s, items.begin() + s + 1, items.begin() + t + 1);
  else
    std::rotate(items.begin() + t, items.begin() + s, items.begin() + s + 1);
  items[size_t(t)] = moved;
}

namespace {

// A header held in memory to be rewritten for the output or searched for super indexes; a
// larger one (no real file has it) is copied as it stands and its indexes are not used.
constexpr uint64_t kHeaderInMemory = 64 << 20;
// The most of a standard index that is read for its keyframe flags.
constexpr uint64_t kStdIndexRead = 16 << 20;

bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }
bool IsStreamChunk(const uint8_t* id) {
  return IsStreamChunkID(std::string(reinterpret_cast<const char*>(id), 4), false);
}
// A standard index ("ix##") or JUNK: not part of the stream, never copied.
bool IsIndexOrJunk(const uint8_t* id) {
  return (id[0] == 'i' && id[1] == 'x' && IsDigit(id[2]) && IsDigit(id[3])) ||
         std::memcmp(id, "JUNK", 4) == 0;
}

// What the standard indexes of the RIFF part [from, to) say of its chunks: payload positions
// with their keyframe flag, sorted. Together they read no more than the part holds.
std::vector<std::pair<uint64_t, bool>> PartKeyframes(InFile& f, const std::vector<uint64_t>& named,
                                                     uint64_t from, uint64_t to) {
  std::vector<std::pair<uint64_t, bool>> keys;
  uint64_t budget = to - from;
  for (auto it = std::lower_bound(named.begin(), named.end(), from);
       it != named.end() && *it + 8 <= to; ++it) {
    uint8_t h[8];
    if (!f.Read(*it, h, 8) || h[0] != 'i' || h[1] != 'x') continue;
    const uint64_t n = std::min<uint64_t>({LoadLE32(h + 4), to - *it - 8, kStdIndexRead, budget});
    Bytes payload(size_t(n), 0);
    OdmlIndex ix;
    if (n == 0 || !f.Read(*it + 8, payload.data(), payload.size()) ||
        !ParseOdmlIndex(payload.data(), payload.size(), ix) || ix.indexType != kIndexOfChunks)
      continue;
    budget -= n;
    for (const StdIndexEntry& e : ix.chunks) keys.push_back({ix.base + e.offset, e.keyframe});
  }
  std::sort(keys.begin(), keys.end());
  return keys;
}

// The first `n` bytes of a file (zeros where it has fewer).
Bytes ReadHead(InFile& f, uint64_t n) {
  Bytes head(size_t(n), 0);
  if (n && !f.Read(0, head.data(), head.size())) head.assign(size_t(n), 0);
  return head;
}

class Joiner {
 public:
  bool Run();

 private:
  enum class Outcome { Done, Stopped, Failed };
  Outcome CopyFile(size_t i);
  // The RIFF 'AVIX' parts that follow the file's first RIFF.
  Outcome CopyParts(InFile& f, const Bytes& head, const std::string& pos1);
  // "ошибка структуры файла N".
  static Outcome Fail(const std::string& pos1) {
    Join().SetStatus("ошибка структуры файла " + pos1);
    return Outcome::Failed;
  }
  // Copies the chunk at `at` (header h, bounds checked) and indexes it.
  Outcome CopyChunk(InFile& f, uint64_t at, const uint8_t* h, uint32_t flags);

  OutFile out;
  std::unique_ptr<MoviOut> mo;
  bool tooLarge = false;
};

Joiner::Outcome Joiner::CopyChunk(InFile& f, uint64_t at, const uint8_t* h, uint32_t flags) {
  const uint32_t size = LoadLE32(h + 4);
  const uint64_t L = uint64_t(size) + (size & 1);
  mo->BeforeChunk(L + 8);
  if (!mo->Fits(L + 8)) {
    tooLarge = true;
    return Outcome::Stopped;
  }
  const uint64_t offset = mo->NextOffset();
  // The chunk, its pad byte included, copied as it stands, in pieces of at most 1 MB.
  Bytes chunk;
  for (uint64_t done = 0; done < L + 8;) {
    size_t n = size_t(std::min<uint64_t>(L + 8 - done, 1 << 20));
    chunk.resize(n);
    if (!f.Read(at + done, chunk.data(), n)) {
      // Only a last pad byte can be missing at the end of the file: it is written as 0.
      std::memset(chunk.data(), 0, n);
      f.Read(at + done, chunk.data(), n - 1);
    }
    out.Write(chunk.data(), n);
    done += n;
  }
  if (out.error()) return Outcome::Failed;
  mo->Add({LoadLE32(h), flags, offset, size});
  Join().gauge = int(std::min<uint64_t>((at + 8 + L) * 100 / std::max<uint64_t>(f.size(), 1), 100));
  if (StopRequested()) return Outcome::Stopped;
  std::this_thread::yield();
  return Outcome::Done;
}

Joiner::Outcome Joiner::CopyFile(size_t i) {
  JoinState& j = Join();
  const std::string& name = j.files[i];
  const std::string pos1 = std::to_string(i + 1);
  const int64_t p = GetMoviPtr(name);
  if (p < 0) {
    j.SetStatus("ошибка. не найден поток в файле " + pos1);
    return Outcome::Failed;
  }
  InFile f(name);
  uint8_t b[12];
  if (!f.ok() || !f.Read(uint64_t(p) + 4, b, 4)) {
    j.SetStatus("ошибка. не найден поток в файле " + pos1);
    return Outcome::Failed;
  }
  const uint32_t M = LoadLE32(b);
  const uint64_t idxAt = uint64_t(p) + 8 + M;
  if (!f.Read(idxAt, b, 12) || std::memcmp(b, "idx1", 4) != 0) {
    j.SetStatus("ошибка чтения индекса файла " + pos1);
    return Outcome::Failed;
  }
  // The index is held whole; a size field larger than the file holds reads what is there.
  const uint32_t S = LoadLE32(b + 4);
  const uint64_t held = std::min<uint64_t>(S, f.size() > idxAt + 8 ? f.size() - idxAt - 8 : 0);
  Bytes own;
  own.resize(size_t(held / 16 * 16));
  if (!own.empty() && !f.Read(idxAt + 8, own.data(), own.size())) own.clear();

  // The first movi list, chunk by chunk against idx1.
  uint32_t k = 0;
  uint64_t pos = 4;
  while (pos < M) {
    uint8_t h[8];
    const bool ok = f.Read(uint64_t(p) + 8 + pos, h, 8);
    const bool listed =
        ok && uint64_t(k) * 16 + 16 <= own.size() && std::memcmp(h, own.data() + 16 * k, 4) == 0;
    const uint32_t size = LoadLE32(h + 4);
    const uint64_t L = uint64_t(size) + (size & 1);
    // The standard indexes of an OpenDML file end its movi lists; idx1 does not list them.
    if (ok && !listed && IsIndexOrJunk(h)) {
      pos += L + 8;
      continue;
    }
    if (!ok || !listed || uint64_t(p) + 8 + pos + 8 + L > f.size() + (size & 1)) return Fail(pos1);
    const Outcome o = CopyChunk(f, uint64_t(p) + 8 + pos, h, LoadLE32(own.data() + 16 * k + 4));
    if (o != Outcome::Done) return o;
    pos += L + 8;
    ++k;
  }
  return CopyParts(f, ReadHead(f, std::min<uint64_t>(uint64_t(p), kHeaderInMemory)), pos1);
}

Joiner::Outcome Joiner::CopyParts(InFile& f, const Bytes& head, const std::string& pos1) {
  const std::vector<uint64_t> named = NamedStdIndexes(head);
  uint8_t r[12];
  // The parts follow one another from the end of the first RIFF, each "RIFF" size "AVIX".
  for (uint64_t at = head.size() >= 8 ? 8 + uint64_t(LoadLE32(&head[4])) : f.size();
       f.Read(at, r, 12) && std::memcmp(r, "RIFF", 4) == 0 && std::memcmp(r + 8, "AVIX", 4) == 0 &&
       LoadLE32(r + 4) >= 4;) {
    const uint64_t end = at + 8 + LoadLE32(r + 4), limit = std::min(end, f.size());
    const std::vector<std::pair<uint64_t, bool>> keys = PartKeyframes(f, named, at, end);
    // Its chunks by their sizes: into its movi list, over index and JUNK chunks.
    for (uint64_t c = at + 12; c < end;) {
      uint8_t h[12];
      if (c + 8 > limit || !f.Read(c, h, 8)) return Fail(pos1);
      const uint32_t size = LoadLE32(h + 4);
      const uint64_t L = uint64_t(size) + (size & 1);
      if (std::memcmp(h, "LIST", 4) == 0 && c + 12 <= limit && f.Read(c, h, 12) &&
          std::memcmp(h + 8, "movi", 4) == 0) {
        c += 12;
        continue;
      }
      if (IsIndexOrJunk(h)) {
        c += 8 + L;
        continue;
      }
      if (!IsStreamChunk(h) || c + 8 + L > limit + (size & 1)) return Fail(pos1);
      // The keyframe flag as the part's standard index gives it, else as idx1 would.
      auto key = std::lower_bound(keys.begin(), keys.end(), std::make_pair(c + 8, false));
      const bool listed = key != keys.end() && key->first == c + 8;
      const bool video = h[2] == 'd';
      const Outcome o = CopyChunk(f, c, h, (listed ? key->second : video) ? kKeyframeFlag : 0);
      if (o != Outcome::Done) return o;
      c += 8 + L;
    }
    at = end;
  }
  return Outcome::Done;
}
bool Joiner::Run() {
  JoinState& j = Join();
  const std::vector<std::string> files = j.files;
  for (const std::string& f : files)
    if (SameFile(f, j.output)) {
      j.SetStatus("выходной файл совпадает с одним из исходных");
      return false;
    }
  if (!out.Create(j.output)) {
    j.SetStatus("ошибка создания выходного файла");
    return false;
  }

  std::string status;
  const int64_t P = files.empty() ? -1 : GetMoviPtr(files[0], &status);
  if (P < 0) {
    j.SetStatus("ошибка извлечения заголовка первого файла");
    return false;
  }
  // The output is about as large as the first header and the inputs from their movi lists
  // on; past the part size it is written as OpenDML.
  uint64_t estimate = uint64_t(P);
  for (const std::string& name : files) {
    const int64_t q = GetMoviPtr(name);
    InFile in(name);
    if (q >= 0 && in.size() > uint64_t(q)) estimate += in.size() - uint64_t(q);
  }
  uint64_t partSize = OdmlPartSize() != 0 && estimate > OdmlPartSize() ? OdmlPartSize() : 0;
  const uint32_t capacity = SuperIndexCapacity(estimate, partSize);
  OdmlHeaderLayout layout;
  uint64_t H = uint64_t(P);
  {
    InFile first(files[0]);
    if (uint64_t(P) <= kHeaderInMemory) {
      // Room for the OpenDML indexes, or the first file's own indexes blanked: one RIFF does
      // not have the standard indexes they name.
      Bytes head = ReadHead(first, uint64_t(P));
      if (partSize && !MakeOdmlRoom(head, capacity, layout)) partSize = 0;
      if (!partSize) BlankStaleIndexes(head);
      H = head.size();
      out.Write(head);
    } else {
      partSize = 0;
      Bytes head;
      for (uint64_t done = 0; done < uint64_t(P);) {
        size_t n = size_t(std::min<uint64_t>(uint64_t(P) - done, 1 << 20));
        head.assign(n, 0);
        first.Read(done, head.data(), n);
        out.Write(head);
        done += n;
      }
    }
  }
  out.Write("LIST....movi");
  mo = std::make_unique<MoviOut>(out, H, partSize, capacity, false);
  const std::string count = std::to_string(files.size());
  j.SetStatus("файл 1 из " + count);
  j.gauge = 0;
  j.gaugeVisible = true;

  bool stopped = false;
  for (size_t i = 0; i < files.size(); ++i) {
    Outcome o = CopyFile(i);
    if (o == Outcome::Failed) {
      if (out.error()) j.SetStatus("ошибка записи выходного файла");
      j.gaugeVisible = false;
      return false;
    }
    j.SetStatus("файл " + std::to_string(i + 2) + " из " + count);
    j.gauge = 0;
    if (o == Outcome::Stopped || StopRequested()) {
      stopped = true;
      break;
    }
    std::this_thread::yield();
  }
  mo->Finish();
  if (partSize) mo->PatchHeader(layout);
  j.gaugeVisible = false;
  if (!out.Close()) {
    j.SetStatus("ошибка записи выходного файла");
    return false;
  }
  if (tooLarge)
    j.SetStatus("размер выходного файла превысил бы 4 Гб");
  else
    j.SetStatus(stopped ? "прервано пользователем" : "операция завершена");
  return !stopped && !tooLarge;
}

}  // namespace

bool doJOIN() {
  Joiner joiner;
  return joiner.Run();
}

}  // namespace rv
