#include "riff/out_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
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
  if (copyLen_) Flush();
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

void OutFile::CopyFrom(int fd, uint64_t off, uint64_t n) {
  if (error_ || n == 0) return;
  length_ += n;
  if (copyLen_ && fd == copyFd_ && off == copyOff_ + copyLen_) {
    copyLen_ += n;
    return;
  }
  Flush();
  copyFd_ = fd;
  copyOff_ = off;
  copyLen_ = n;
}

void OutFile::Flush() {
  if (!buf_.empty()) WriteAll(buf_.data(), buf_.size(), flushed_);
  flushed_ += buf_.size();
  buf_.clear();
  CopyPending();
}

void OutFile::CopyPending() {
  if (copyLen_ == 0) return;
  loff_t in = loff_t(copyOff_), outPos = loff_t(flushed_);
  uint64_t left = copyLen_;
  flushed_ += copyLen_;
  copyLen_ = 0;
  while (left && !error_) {
    const ssize_t c =
        ::copy_file_range(copyFd_, &in, fd_, &outPos, size_t(std::min<uint64_t>(left, 1 << 30)), 0);
    if (c < 0 && errno == EINTR) continue;
    if (c > 0) {
      left -= uint64_t(c);
      continue;
    }
    // Where the kernel cannot copy between these files, or the source ended: through memory.
    Bytes piece(size_t(std::min<uint64_t>(left, 1 << 20)));
    while (left && !error_) {
      const size_t n = size_t(std::min<uint64_t>(left, piece.size()));
      const ssize_t r = ::pread(copyFd_, piece.data(), n, off_t(in));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) {
        error_ = true;
        break;
      }
      WriteAll(piece.data(), size_t(r), uint64_t(outPos));
      in += r;
      outPos += r;
      left -= uint64_t(r);
    }
  }
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
