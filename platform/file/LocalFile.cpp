#include "file/LocalFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace Orca {
namespace File {

CLocalFile::~CLocalFile() { Close(); }

CLocalFile::CLocalFile(CLocalFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), last_error_(other.last_error_) {}

CLocalFile& CLocalFile::operator=(CLocalFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    last_error_ = other.last_error_;
  }
  return *this;
}

bool CLocalFile::Fail() {
  last_error_ = errno;
  return false;
}

bool CLocalFile::Open(const std::string& path, Access access, Disposition disposition) {
  Close();
  int flags = O_CLOEXEC | (access == Access::kRead ? O_RDONLY : O_RDWR);
  if (disposition == Disposition::kOpenAlways) {
    flags |= O_CREAT;
  }
  int fd = -1;
  do {
    fd = ::open(path.c_str(), flags, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    return Fail();
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    last_error_ = S_ISDIR(st.st_mode) ? EISDIR : errno;
    ::close(fd);
    return false;
  }
  // Advisory locks stand in for exclusive sharing: readers share, a writer
  // excludes everyone else.
  const int lock = (access == Access::kRead ? LOCK_SH : LOCK_EX) | LOCK_NB;
  if (::flock(fd, lock) != 0) {
    last_error_ = errno;
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void CLocalFile::Close() {
  if (fd_ >= 0) {
    ::close(fd_);  // also releases the lock
    fd_ = -1;
  }
}

bool CLocalFile::Size(uint64_t& size) {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    return Fail();
  }
  size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool CLocalFile::Read(void* buffer, uint32_t size, uint32_t& done) {
  done = 0;
  auto* out = static_cast<char*>(buffer);
  while (done < size) {
    const ssize_t n = ::read(fd_, out + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail();
    }
    if (n == 0) break;
    done += static_cast<uint32_t>(n);
  }
  return true;
}

bool CLocalFile::Write(const void* data, uint32_t size, uint32_t& done) {
  done = 0;
  const auto* in = static_cast<const char*>(data);
  while (done < size) {
    const ssize_t n = ::write(fd_, in + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail();
    }
    done += static_cast<uint32_t>(n);
  }
  return true;
}

bool CLocalFile::WriteAt(uint64_t offset, const void* data, uint32_t size, uint32_t& done) {
  done = 0;
  const auto* in = static_cast<const char*>(data);
  while (done < size) {
    const ssize_t n = ::pwrite(fd_, in + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail();
    }
    done += static_cast<uint32_t>(n);
  }
  return true;
}

bool CLocalFile::Truncate(uint64_t size) {
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
    return Fail();
  }
  return true;
}

}  // namespace File
}  // namespace Orca
