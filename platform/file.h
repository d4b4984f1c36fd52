// An open file: a descriptor owned by the object, closed by Close or the
// destructor. Every descriptor is close-on-exec; a child process receives
// files only as its standard input, output and error. Reads and writes retry
// on EINTR and on short transfers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace plat {

enum class OpenMode {
  Read,         // existing file, reading only
  ReadWrite,    // existing file, reading and writing
  CreateNew,    // new file, reading and writing; fails when it exists
  CreateAlways, // file created or truncated, reading and writing
  Append,       // file created when missing, writing only, every write goes to its end
};

class File {
 public:
  File() = default;
  explicit File(int fd) : fd_(fd) {}
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  ~File();

  // On success opens `path` (with "\" accepted as separator) and returns
  // true; on failure stores errno in *err when not null and returns false.
  // New files get mode 0666 less the umask. A file already open in this
  // object is closed first, so after a failure IsOpen() is false. The name is
  // taken as written (no case folding; see ResolvePathCase in paths.h).
  bool Open(std::string_view path, OpenMode mode, int* err = nullptr);
  bool IsOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // Gives up ownership of the descriptor.
  int Release();
  void Close();

  // Reads up to `len` bytes at the current position, fewer only at the end of
  // the file (or of a pipe's data); stores the number read (0 at the end) and
  // returns true, or returns false with errno.
  bool Read(void* buf, size_t len, size_t* got, int* err = nullptr);
  // Reads up to `len` bytes at `offset` without moving the position.
  bool ReadAt(uint64_t offset, void* buf, size_t len, size_t* got, int* err = nullptr);
  // Writes all `len` bytes at the current position (at the end for Append)
  // in as few system calls as the system allows; false with errno otherwise.
  bool Write(const void* buf, size_t len, int* err = nullptr);
  // Writes all `len` bytes at `offset` without moving the position; on an
  // Append file the system puts them at the end instead.
  bool WriteAt(uint64_t offset, const void* buf, size_t len, int* err = nullptr);
  // Moves the position to `offset` bytes from the start. Offsets above
  // INT64_MAX fail with EINVAL here and in ReadAt, WriteAt and Truncate.
  bool Seek(uint64_t offset, int* err = nullptr);
  bool Size(uint64_t* size, int* err = nullptr);
  bool Truncate(uint64_t size, int* err = nullptr);
  // Durable flush (fsync).
  bool Sync(int* err = nullptr);

 private:
  int fd_ = -1;
};

}  // namespace plat
