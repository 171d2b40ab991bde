#include "riff/out_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace rv {

bool OutFile::Create(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  buf_.reserve(kBuffer);
  return fd_ >= 0;
}

void OutFile::Write(const uint8_t* p, size_t n) {
  if (error_) return;
  length_ += n;
  if (buf_.size() + n > kBuffer) Flush();
  if (n >= kBuffer) {
    WriteAll(p, n, flushed_);
    flushed_ += n;
  } else {
    buf_.insert(buf_.end(), p, p + n);
  }
}

void OutFile::Write(const char* s) { Write(reinterpret_cast<const uint8_t*>(s), std::strlen(s)); }

void OutFile::WriteAt(uint64_t pos, const uint8_t* p, size_t n) {
  Flush();
  WriteAll(p, n, pos);
}

void OutFile::Put32At(uint64_t pos, uint32_t v) {
  uint8_t t[4];
  PutDWord(v, t);
  WriteAt(pos, t, 4);
}

bool OutFile::ReadAt(uint64_t pos, uint8_t* p, size_t n) {
  Flush();
  return ::pread(fd_, p, n, off_t(pos)) == ssize_t(n);
}

void OutFile::Flush() {
  if (!buf_.empty()) WriteAll(buf_.data(), buf_.size(), flushed_);
  flushed_ += buf_.size();
  buf_.clear();
}

bool OutFile::Close() {
  if (fd_ < 0) return !error_;
  Flush();
  if (::close(fd_) != 0) error_ = true;
  fd_ = -1;
  return !error_;
}

void OutFile::WriteAll(const uint8_t* p, size_t n, uint64_t pos) {
  while (n && !error_) {
    ssize_t w = ::pwrite(fd_, p, n, off_t(pos));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      error_ = true;
      break;
    }
    p += w;
    n -= size_t(w);
    pos += uint64_t(w);
  }
}

}  // namespace rv
