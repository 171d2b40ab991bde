#include "riff/source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/file_context.h"
#include "base/messages.h"

namespace rv {

namespace {
struct InputName {
  std::string name;
};
struct LoadedName {
  std::string name;
};
struct ExclusionList {
  std::vector<Exclusion> list;
};
}  // namespace

SourceState& Source() { return Context().Get<SourceState>(); }

std::string& InputFileName() { return Context().Get<InputName>().name; }

std::string& LoadedFileName() { return Context().Get<LoadedName>().name; }

bool SameSourceFile(const std::string& a, const std::string& b) {
  if (a == b) return true;
  struct stat sa {
  }, sb{};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

const char* const kOtherFileMessage =
    "• в памяти данные другого файла: откройте и прочитайте заголовок этого файла";

bool InputIsLoadedFile() {
  if (LoadedFileName().empty() || SameSourceFile(InputFileName(), LoadedFileName())) return true;
  AddMessage(kOtherFileMessage);
  return false;
}

ReadCacheState& Cache() { return Context().Get<ReadCacheState>(); }

std::vector<Exclusion>& Exclusions() { return Context().Get<ExclusionList>().list; }

bool OpenSource(const std::string& name) {
  SourceState& s = Source();
  CloseSource();
  int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return false;
  }
  s.fd = fd;
  s.size = uint64_t(st.st_size);
  s.name = name;
  return true;
}

void CloseSource() {
  SourceState& s = Source();
  if (s.fd >= 0) ::close(s.fd);
  s.fd = -1;
}

bool SourceIsOpen() { return Source().fd >= 0; }

// Reads up to count bytes at file position off; returns the bytes delivered (a read error
// counts as the end of the file).
static uint32_t ReadAt(uint64_t off, uint8_t* dst, uint32_t count) {
  ReadCacheState& c = Cache();
  uint32_t done = 0;
  while (done < count) {
    ++c.fileReads;
    ssize_t r = ::pread(Source().fd, dst + done, count - done, off_t(off + done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += uint32_t(r);
  }
  return done;
}

// Maps stream position p to its file position; next is the first exclusion entry that lies
// after it (entries.size() when none does).
static uint64_t MapStreamPos(uint64_t p, size_t& next) {
  const std::vector<Exclusion>& ex = Exclusions();
  next = ex.size();
  if (ex.empty()) return p;
  int64_t s = 0;
  int64_t f = p;
  for (size_t i = 0; i < ex.size(); ++i) {
    if (i == 0)
      s = ex[0].offset;
    else
      s += int64_t(ex[i].offset) - (int64_t(ex[i - 1].offset) + int64_t(ex[i - 1].count));
    f = int64_t(ex[i].offset) + int64_t(ex[i].count) + (int64_t(p) - s);
    if (int64_t(p) < s) {
      f = (i == 0) ? int64_t(p) : int64_t(ex[i].offset) - (s - int64_t(p));
      next = i;
      break;
    }
  }
  return uint64_t(std::max<int64_t>(f, 0));
}

uint64_t StreamToFile(uint64_t streamPos) {
  size_t next = 0;
  return MapStreamPos(streamPos, next);
}

uint64_t StreamSize() {
  uint64_t size = Source().size;
  uint64_t excluded = 0;
  for (const Exclusion& e : Exclusions()) {
    if (e.offset >= size) break;
    excluded += std::min<uint64_t>(e.count, size - e.offset);
  }
  return size - std::min(size, excluded);
}

static bool Refill(uint64_t p) {
  ReadCacheState& c = Cache();
  if (c.buffer.size() != c.size) c.buffer.assign(c.size, 0);
  c.length = c.size;
  c.start = p;
  c.cursor = 0;
  uint32_t filled = 0;
  size_t next = 0;
  uint64_t f = MapStreamPos(p, next);
  const std::vector<Exclusion>& ex = Exclusions();
  for (size_t i = next; i < ex.size(); ++i) {
    if (ex[i].offset >= uint64_t(c.length - filled) + f) break;
    uint32_t k = ex[i].offset > f ? uint32_t(ex[i].offset - f) : 0;
    uint32_t got = ReadAt(f, c.buffer.data() + c.cursor, k);
    if (got < k) {
      // The file ended inside a gap: the window ends here.
      filled += got;
      c.length = filled;
      return true;
    }
    filled += k;
    c.cursor += k;
    f = std::max<uint64_t>(f + k, ex[i].offset + ex[i].count);
  }
  filled += ReadAt(f, c.buffer.data() + c.cursor, c.length - filled);
  if (filled < c.length) c.length = filled;
  return true;
}

bool ReadSource(uint64_t p, uint32_t n, uint8_t* out) {
  ReadCacheState& c = Cache();
  if (n > c.size) return false;
  bool hit = p >= c.start && p - c.start <= c.length && c.length - (p - c.start) >= n;
  if (!hit) {
    if (Source().fd < 0) return false;
    if (!Refill(p)) return false;
  }
  c.cursor = uint32_t(p - c.start);
  uint32_t avail = c.length > c.cursor ? c.length - c.cursor : 0;
  uint32_t take = std::min(n, avail);
  if (take) std::memcpy(out, c.buffer.data() + c.cursor, take);
  // Past the end of the stream the result is zeros, never stale buffer contents.
  if (take < n) std::memset(out + take, 0, n - take);
  c.cursor += take;
  return true;
}

bool ReadSource(uint64_t p, uint32_t n, Bytes& out) {
  ReadCacheState& c = Cache();
  if (n > c.size) return false;
  bool hit = p >= c.start && p - c.start <= c.length && c.length - (p - c.start) >= n;
  if (!hit && Source().fd < 0) return false;
  out.resize(n);
  return ReadSource(p, n, out.data());
}

void ResetReadCache() {
  ReadCacheState& c = Cache();
  Bytes().swap(c.buffer);
  c.start = c.cursor = c.length = 0;
}

void InvalidateReadCache() {
  ReadCacheState& c = Cache();
  c.start = c.cursor = c.length = 0;
}

void ClearExclusions() { Exclusions().clear(); }

void SetCacheSize(uint32_t bytes) {
  Cache().size = bytes;
  ResetReadCache();
}

bool ReadFileDirect(uint64_t offset, uint32_t count, Bytes& out) {
  // A block that runs past the end cannot be read whole; refuse before allocating for it.
  if (Source().fd < 0 || offset + count > Source().size) return false;
  Bytes tmp(count);
  uint32_t got = 0;
  while (got < count) {
    ssize_t r = ::pread(Source().fd, tmp.data() + got, count - got, off_t(offset + got));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += uint32_t(r);
  }
  if (got < count) return false;
  out.swap(tmp);
  return true;
}

}  // namespace rv
