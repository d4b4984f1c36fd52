// Byte-range locks of the platform layer, built on open-file-description
// locks: they belong to the open file rather than to the process, so two
// opens in one process conflict and closing one descriptor leaves the locks
// of the others alone. Locks are exclusive and never wait; a conflict is
// reported at once as a violation.
#include "platform/filelock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace plat {
namespace {

void StoreError(int* err, int value) {
  if (err != nullptr) *err = value;
}

constexpr uint64_t kLastByte = static_cast<uint64_t>(INT64_MAX);

// Fills the system's range for `length` bytes from `offset`. A range running
// past the largest file offset is cut there: no file has bytes beyond it, and
// a lock and its unlock are cut alike. The system's length 0 means "up to the
// largest offset", which is exactly such a cut range.
bool ToSystemRange(uint64_t offset, uint64_t length, struct flock* range) {
  if (offset > kLastByte) return false;
  range->l_whence = SEEK_SET;
  range->l_start = static_cast<off_t>(offset);
  range->l_len = (length - 1 >= kLastByte - offset) ? 0 : static_cast<off_t>(length);
  range->l_pid = 0;  // required for open-file-description locks
  return true;
}

int SetLock(int fd, struct flock* range) {
  int rc;
  do {
    rc = fcntl(fd, F_OFD_SETLK, range);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

}  // namespace

LockResult LockRange(int fd, uint64_t offset, uint64_t length, int* err) {
  if (length == 0) return LockResult::Locked;
  struct flock range = {};
  if (!ToSystemRange(offset, length, &range)) {
    StoreError(err, EINVAL);
    return LockResult::Error;
  }
  range.l_type = F_WRLCK;
  if (SetLock(fd, &range) == 0) return LockResult::Locked;
  if (errno == EAGAIN || errno == EACCES) return LockResult::Violation;
  StoreError(err, errno);
  return LockResult::Error;
}

bool UnlockRange(int fd, uint64_t offset, uint64_t length, int* err) {
  if (length == 0) return true;
  struct flock range = {};
  if (!ToSystemRange(offset, length, &range)) {
    StoreError(err, EINVAL);
    return false;
  }
  range.l_type = F_UNLCK;
  if (SetLock(fd, &range) == 0) return true;
  StoreError(err, errno);
  return false;
}

}  // namespace plat
