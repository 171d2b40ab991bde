#include "riff/movi_locator.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "riff/bytes.h"

namespace rv {

namespace {
// Exactly n bytes at pos, or false (out untouched) when the file holds fewer.
bool ReadExactly(int fd, uint64_t pos, uint8_t* out, size_t n) {
  uint8_t b[16];
  size_t have = 0;
  while (have < n) {
    const ssize_t r = ::pread(fd, b + have, n - have, off_t(pos + have));
    if (r <= 0) return false;
    have += size_t(r);
  }
  std::memcpy(out, b, n);
  return true;
}
}  // namespace

int64_t GetMoviPtr(const std::string& file, std::string* status) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  uint8_t b[12] = {};
  if (fd < 0 || !ReadExactly(fd, 0, b, 12) || std::memcmp(b, "RIFF", 4) != 0) {
    if (fd >= 0) ::close(fd);
    if (status) *status = "отсутствует сигнатура RIFF";
    return -1;
  }
  const uint64_t size = uint64_t(::lseek(fd, 0, SEEK_END));
  uint64_t pos = 12;
  while (pos < size) {
    std::memset(b, 0, sizeof b);
    ReadExactly(fd, pos, b, 12);
    if (!IsChunkID(std::string(reinterpret_cast<char*>(b), 4))) {
      ::close(fd);
      if (status) *status = "ошибки в структуре файла или неизвестный формат";
      return -1;
    }
    if (std::memcmp(b, "LIST", 4) == 0 && std::memcmp(b + 8, "movi", 4) == 0) break;
    pos += 8 + uint64_t(LoadLE32(b + 4));
  }
  ::close(fd);
  return pos < size ? int64_t(pos) : -1;
}

}  // namespace rv
