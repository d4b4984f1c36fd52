// The File class of the platform layer: one owned, close-on-exec descriptor
// with whole-buffer reads and writes. Callers treat a write as done or failed,
// never partly done, so short transfers and EINTR are retried here.
#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>

#include "platform/paths.h"

namespace plat {
namespace {

void StoreError(int* err, int value) {
  if (err != nullptr) *err = value;
}

int OpenFlags(OpenMode mode) {
  switch (mode) {
    case OpenMode::Read:
      return O_RDONLY;
    case OpenMode::ReadWrite:
      return O_RDWR;
    case OpenMode::CreateNew:
      return O_RDWR | O_CREAT | O_EXCL;
    case OpenMode::CreateAlways:
      return O_RDWR | O_CREAT | O_TRUNC;
    case OpenMode::Append:
      return O_WRONLY | O_APPEND | O_CREAT;
  }
  return O_RDONLY;
}

// Offsets above the largest off_t can't name a byte of any file.
bool ToOffset(uint64_t offset, off_t* out) {
  if (offset > static_cast<uint64_t>(INT64_MAX)) return false;
  *out = static_cast<off_t>(offset);
  return true;
}

// A write that moves nothing would loop forever; the system reports no
// reason, so it is taken as an I/O error.
constexpr int kNoProgress = EIO;

// Repeats `step` (given the bytes moved so far, it returns what one read or
// write call returned) until `len` bytes have moved, retrying EINTR. A step
// that moves nothing ends a read (the end of the file) and fails a write.
template <typename Step>
bool Transfer(size_t len, bool isRead, Step step, size_t* moved, int* err) {
  size_t done = 0;
  while (done < len) {
    ssize_t n = step(done);
    if (n < 0) {
      if (errno == EINTR) continue;
      StoreError(err, errno);
      return false;
    }
    if (n == 0) {
      if (isRead) break;
      StoreError(err, kNoProgress);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  if (moved != nullptr) *moved = done;
  return true;
}

}  // namespace

File::File(File&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

File::~File() { Close(); }

bool File::Open(std::string_view path, OpenMode mode, int* err) {
  Close();
  if (path.find('\0') != std::string_view::npos) {
    StoreError(err, EINVAL);
    return false;
  }
  std::string native = ToSlashes(path);
  int fd;
  do {
    fd = open(native.c_str(), OpenFlags(mode) | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    StoreError(err, errno);
    return false;
  }
  fd_ = fd;
  return true;
}

int File::Release() { return std::exchange(fd_, -1); }

void File::Close() {
  // No retry on EINTR: the descriptor is gone either way on this system, and
  // a retry could close a descriptor another thread just opened.
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool File::Read(void* buf, size_t len, size_t* got, int* err) {
  char* at = static_cast<char*>(buf);
  return Transfer(len, true, [&](size_t done) { return read(fd_, at + done, len - done); }, got, err);
}

bool File::ReadAt(uint64_t offset, void* buf, size_t len, size_t* got, int* err) {
  off_t start;
  if (!ToOffset(offset, &start)) {
    StoreError(err, EINVAL);
    return false;
  }
  char* at = static_cast<char*>(buf);
  return Transfer(
      len, true,
      [&](size_t done) { return pread(fd_, at + done, len - done, start + static_cast<off_t>(done)); },
      got, err);
}

bool File::Write(const void* buf, size_t len, int* err) {
  const char* at = static_cast<const char*>(buf);
  return Transfer(len, false, [&](size_t done) { return write(fd_, at + done, len - done); }, nullptr,
                  err);
}

bool File::WriteAt(uint64_t offset, const void* buf, size_t len, int* err) {
  off_t start;
  if (!ToOffset(offset, &start)) {
    StoreError(err, EINVAL);
    return false;
  }
  const char* at = static_cast<const char*>(buf);
  return Transfer(
      len, false,
      [&](size_t done) { return pwrite(fd_, at + done, len - done, start + static_cast<off_t>(done)); },
      nullptr, err);
}

bool File::Seek(uint64_t offset, int* err) {
  off_t target;
  if (!ToOffset(offset, &target)) {
    StoreError(err, EINVAL);
    return false;
  }
  if (lseek(fd_, target, SEEK_SET) < 0) {
    StoreError(err, errno);
    return false;
  }
  return true;
}

bool File::Size(uint64_t* size, int* err) {
  struct stat st;
  if (fstat(fd_, &st) != 0) {
    StoreError(err, errno);
    return false;
  }
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool File::Truncate(uint64_t size, int* err) {
  off_t length;
  if (!ToOffset(size, &length)) {
    StoreError(err, EINVAL);
    return false;
  }
  int rc;
  do {
    rc = ftruncate(fd_, length);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    StoreError(err, errno);
    return false;
  }
  return true;
}

bool File::Sync(int* err) {
  int rc;
  do {
    rc = fsync(fd_);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    StoreError(err, errno);
    return false;
  }
  return true;
}

}  // namespace plat
