// A file other than the source, read front to back through a window, so that chunk headers
// and payloads do not each cost a read call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "riff/bytes.h"

namespace rv {

class InFile {
 public:
  explicit InFile(const std::string& name);
  ~InFile();
  InFile(const InFile&) = delete;
  InFile& operator=(const InFile&) = delete;
  bool ok() const { return fd_ >= 0; }
  uint64_t size() const { return size_; }
  // Reads exactly n bytes at pos; false when the file holds fewer.
  bool Read(uint64_t pos, void* out, size_t n);

 private:
  static constexpr size_t kWindow = 4 << 20;
  bool ReadDirect(uint64_t pos, void* out, size_t n) const;
  int fd_ = -1;
  uint64_t size_ = 0;
  Bytes window_;
  uint64_t start_ = 0;
  size_t have_ = 0;
};

}  // namespace rv
