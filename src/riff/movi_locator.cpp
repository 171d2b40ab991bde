#include "riff/movi_locator.h"

#include <cstring>

#include "riff/bytes.h"
#include "riff/in_file.h"

namespace rv {

int64_t GetMoviPtr(const std::string& file, std::string* status) {
  InFile f(file);
  uint8_t b[12] = {};
  if (!f.ok() || !f.Read(0, b, 12) || std::memcmp(b, "RIFF", 4) != 0) {
    if (status) *status = "отсутствует сигнатура RIFF";
    return -1;
  }
  uint64_t pos = 12;
  while (pos < f.size()) {
    std::memset(b, 0, sizeof b);
    f.Read(pos, b, 12);
    if (!IsChunkID(std::string(reinterpret_cast<char*>(b), 4))) {
      if (status) *status = "ошибки в структуре файла или неизвестный формат";
      return -1;
    }
    if (std::memcmp(b, "LIST", 4) == 0 && std::memcmp(b + 8, "movi", 4) == 0) break;
    pos += 8 + uint64_t(LoadLE32(b + 4));
  }
  return pos < f.size() ? int64_t(pos) : -1;
}

}  // namespace rv
