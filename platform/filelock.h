// Byte-range locks with the meaning of the portal's other programs: exclusive,
// advisory (they never block reads or writes), owned by the open file (not by
// the process), never waiting. Two open files of one process conflict with
// each other exactly like two processes do. Implemented with open-file-
// description locks, so closing one descriptor never drops the locks of
// another.
#pragma once

#include <cstdint>

namespace plat {

enum class LockResult {
  Locked,     // the range is now locked by this open file
  Violation,  // another open file holds an overlapping range
  Error,      // the call failed for another reason (see *err)
};

// Locks `length` bytes from `offset` (offsets up to 0x7FFFFFFE and beyond are
// allowed; the range need not lie inside the file). `fd` must be open for
// writing (else Error with EBADF). A length of 0 locks nothing and returns
// Locked. A range running past INT64_MAX is cut at that byte (no file reaches
// it); an offset above INT64_MAX is an Error with EINVAL. Locking a range again
// through the same open file succeeds: its ranges merge. Returns Locked,
// Violation, or Error with errno stored in *err when not null.
LockResult LockRange(int fd, uint64_t offset, uint64_t length, int* err = nullptr);

// Unlocks a range locked before by this open file (ranges are cut the same
// way; a length of 0 unlocks nothing). On success returns true; on failure
// stores errno in *err when not null and returns false.
bool UnlockRange(int fd, uint64_t offset, uint64_t length, int* err = nullptr);

}  // namespace plat
