// Shared byte-range locks, the read-lock counterpart of filelock.h: any
// number of open files may hold a shared lock on the same bytes, while an
// exclusive lock (LockRange of filelock.h) on them conflicts with every
// shared one and the other way round. Like those locks they are owned by the
// open file, advisory and never waiting. The table engine uses them to mark
// a file as open, so that "open with no sharing" and "others may only read"
// are refused while another open file uses the file.
#pragma once

#include <cstdint>

#include "platform/filelock.h"

namespace plat {

// Locks `length` bytes from `offset` for shared use. `fd` must be open for
// reading (else Error with EBADF). Ranges are cut as in LockRange; a length
// of 0 locks nothing and returns Locked. An exclusive lock of the same open
// file on these bytes is turned into a shared one. Returns Locked,
// Violation (another open file holds an exclusive lock there), or Error with
// errno stored in *err when not null. Unlock with UnlockRange.
LockResult LockRangeShared(int fd, uint64_t offset, uint64_t length, int* err = nullptr);

}  // namespace plat
