// Output files written front to back through a large buffer, with writes back at known
// positions for the sizes that are only known at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "riff/bytes.h"

namespace rv {

class OutFile {
 public:
  OutFile() = default;
  OutFile(const OutFile&) = delete;
  OutFile& operator=(const OutFile&) = delete;
  ~OutFile() { Close(); }
  // Creates the file anew (read and write access).
  bool Create(const std::string& path);
  void Write(const uint8_t* p, size_t n);
  void Write(const Bytes& b) { Write(b.data(), b.size()); }
  void Write(const char* s);
  // n bytes of the open file fd from position off, appended. Consecutive ranges of one file are
  // copied as one, by the kernel where it can (no pass through this process's memory).
  void CopyFrom(int fd, uint64_t off, uint64_t n);
  void WriteAt(uint64_t pos, const uint8_t* p, size_t n);
  void Put32At(uint64_t pos, uint32_t v);
  bool ReadAt(uint64_t pos, uint8_t* p, size_t n);
  void Flush();
  bool Close();
  uint64_t length() const { return length_; }
  // A write failed (a full disk, a removed medium): nothing more is written.
  bool error() const { return error_; }

 private:
  static constexpr size_t kBuffer = 4 << 20;
  void WriteAll(const uint8_t* p, size_t n, uint64_t pos);
  void CopyPending();
  int fd_ = -1;
  int copyFd_ = -1;  // the range CopyFrom has yet to copy, behind the buffer
  uint64_t copyOff_ = 0, copyLen_ = 0;
  Bytes buf_;
  uint64_t length_ = 0, flushed_ = 0;
  bool error_ = false;
};

}  // namespace rv
