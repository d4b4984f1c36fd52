// File attributes and status. Hidden means the last component of the path
// begins with "." (the names "." and ".." themselves are not hidden);
// read-only means the process, by its effective IDs, may not write the file
// (no permission, a read-only file system, or an immutable file); directory as
// usual, following symbolic links; device: neither a directory nor a regular
// file (a pipe, socket or device node), which no reader should open blindly.
// Paths accept "\" as separator.
#pragma once

#include <cstdint>
#include <string_view>

namespace plat {

enum : uint32_t {
  kAttrReadOnly = 0x01,
  kAttrHidden = 0x02,
  kAttrDirectory = 0x10,
  kAttrDevice = 0x40,
};

struct FileStatus {
  int64_t size = 0;
  int64_t modified = 0;  // seconds since 1970-01-01 00:00:00 GMT
  int64_t accessed = 0;
  int64_t changed = 0;
};

// On success stores the attribute bits of the existing path and returns true;
// on failure (the path doesn't exist, or can't be examined) stores errno in
// *err when err is not null and returns false.
bool GetFileAttributes(std::string_view path, uint32_t* attrs, int* err = nullptr);

// On success fills *status (times in whole seconds, symbolic links followed)
// and returns true; on failure stores errno in *err when not null and returns
// false.
bool GetFileStatus(std::string_view path, FileStatus* status, int* err = nullptr);
bool GetFileStatus(int fd, FileStatus* status, int* err = nullptr);

}  // namespace plat
