// Shared byte-range locks over open-file-description read locks.
#include "platform/sharelock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace plat {

LockResult LockRangeShared(int fd, uint64_t offset, uint64_t length, int* err) {
  if (length == 0) return LockResult::Locked;
  constexpr uint64_t kLastByte = static_cast<uint64_t>(INT64_MAX);
  if (offset > kLastByte) {
    if (err != nullptr) *err = EINVAL;
    return LockResult::Error;
  }
  struct flock range = {};
  range.l_type = F_RDLCK;
  range.l_whence = SEEK_SET;
  range.l_start = static_cast<off_t>(offset);
  // Length 0 for the system means "to the largest offset": the same cut as
  // LockRange makes for ranges running past it.
  range.l_len = (length - 1 >= kLastByte - offset) ? 0 : static_cast<off_t>(length);
  range.l_pid = 0;  // required for open-file-description locks
  int rc;
  do {
    rc = fcntl(fd, F_OFD_SETLK, &range);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return LockResult::Locked;
  if (errno == EAGAIN || errno == EACCES) return LockResult::Violation;
  if (err != nullptr) *err = errno;
  return LockResult::Error;
}

}  // namespace plat
