#include "riff/in_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

namespace rv {

InFile::InFile(const std::string& name) {
  fd_ = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ >= 0) size_ = uint64_t(::lseek(fd_, 0, SEEK_END));
}

InFile::~InFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool InFile::Read(uint64_t pos, void* out, size_t n) {
  if (n > kWindow) return ReadDirect(pos, out, n);
  if (pos < start_ || pos + n > start_ + have_) {
    window_.resize(kWindow);
    start_ = pos;
    have_ = 0;
    while (have_ < kWindow) {
      ssize_t r = ::pread(fd_, window_.data() + have_, kWindow - have_, off_t(pos + have_));
      if (r <= 0) break;
      have_ += size_t(r);
    }
    if (n > have_) return false;
  }
  std::memcpy(out, window_.data() + (pos - start_), n);
  return true;
}

bool InFile::ReadDirect(uint64_t pos, void* out, size_t n) const {
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::pread(fd_, static_cast<char*>(out) + done, n - done, off_t(pos + done));
    if (r <= 0) return false;
    done += size_t(r);
  }
  return true;
}

}  // namespace rv
