#include "join/join.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "base/tasks.h"
#include "check/index.h"
#include "output/writer.h"
#include "riff/bytes.h"
#include "riff/in_file.h"
#include "riff/movi_locator.h"
#include "riff/out_file.h"

namespace rv {

const char* const kJoinNotice =
    "перед запуском процесса сборки убедитесь, \r\n"
    "что все файлы исправны и имеют индексы. \r\n"
    "\r\n"
    "формат Extended AVI не поддерживается. \r\n"
    "Следите, чтобы размер выходного файла \r\n"
    "не превышал 2Gb.";

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

class Joiner {
 public:
  bool Run();

 private:
  enum class Outcome { Done, Stopped, Failed };
  Outcome CopyFile(size_t i);

  OutFile out;
  uint32_t outOffset = 4;
  std::vector<IndexEntry> index;
  bool tooLarge = false;
};

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

  Bytes chunk;
  uint32_t k = 0;
  uint64_t pos = 4;
  while (pos < M) {
    uint8_t h[8];
    bool ok = f.Read(uint64_t(p) + 8 + pos, h, 8);
    if (!ok || uint64_t(k) * 16 + 16 > own.size() || std::memcmp(h, own.data() + 16 * k, 4) != 0) {
      j.SetStatus("ошибка структуры файла " + pos1);
      return Outcome::Failed;
    }
    const uint32_t size = LoadLE32(h + 4);
    const uint64_t L = uint64_t(size) + (size & 1);
    if (uint64_t(p) + 8 + pos + 8 + L > f.size() + (size & 1)) {
      j.SetStatus("ошибка структуры файла " + pos1);
      return Outcome::Failed;
    }
    if (out.length() + L + 8 + 8 + 16 * (index.size() + 1) > 0xFFFFFFFFull) {
      tooLarge = true;
      return Outcome::Stopped;
    }
    // The chunk, its pad byte included, copied as it stands, in pieces of at most 1 MB.
    for (uint64_t done = 0; done < L + 8;) {
      size_t n = size_t(std::min<uint64_t>(L + 8 - done, 1 << 20));
      chunk.resize(n);
      if (!f.Read(uint64_t(p) + 8 + pos + done, chunk.data(), n)) {
        // Only a last pad byte can be missing at the end of the file: it is written as 0.
        std::memset(chunk.data(), 0, n);
        f.Read(uint64_t(p) + 8 + pos + done, chunk.data(), n - 1);
      }
      out.Write(chunk.data(), n);
      done += n;
    }
    if (out.error()) return Outcome::Failed;
    index.push_back({LoadLE32(h), LoadLE32(own.data() + 16 * k + 4), outOffset, size});
    pos += L + 8;
    outOffset += uint32_t(L + 8);
    ++k;
    j.gauge = int(std::min<uint64_t>(pos * 100 / M, 100));
    if (StopRequested()) return Outcome::Stopped;
    std::this_thread::yield();
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
  {
    InFile first(files[0]);
    Bytes head;
    for (uint64_t done = 0; done < uint64_t(P);) {
      size_t n = size_t(std::min<uint64_t>(uint64_t(P) - done, 1 << 20));
      head.assign(n, 0);
      first.Read(done, head.data(), n);
      out.Write(head);
      done += n;
    }
  }
  out.Write("LIST....movi");
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
  out.Put32At(uint64_t(P) + 4, uint32_t(out.length() - uint64_t(P) - 8));
  Bytes idx = {'i', 'd', 'x', '1'};
  uint8_t t[4];
  PutDWord(uint32_t(index.size() * 16), t);
  idx.insert(idx.end(), t, t + 4);
  for (const IndexEntry& e : index) AppendEntryBytes(e, idx);
  out.Write(idx);
  out.Put32At(4, uint32_t(out.length() - 8));
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
