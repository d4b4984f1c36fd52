// File attributes and status for the platform layer. The portal's programs ask
// for "hidden", "read-only" and "directory" bits; here hidden is a leading
// "." of the name, read-only is the process lacking write permission, and the
// status times are whole seconds since 1970.
#include "platform/fileattr.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/paths.h"

namespace plat {
namespace {

void StoreError(int* err, int value) {
  if (err != nullptr) *err = value;
}

// The path as the system takes it; false when a NUL byte would cut it short.
bool NativePath(std::string_view path, std::string* native) {
  if (path.find('\0') != std::string_view::npos) return false;
  *native = ToSlashes(path);
  return true;
}

// The last component, trailing separators ignored.
std::string_view LastComponent(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// "." and ".." refer to directories by position rather than naming them, so
// they are not hidden names.
bool IsHiddenName(std::string_view name) {
  return !name.empty() && name[0] == '.' && name != "." && name != "..";
}

// Uses the effective IDs, which is what an open for writing is checked
// against. EPERM comes from immutable files, which can't be written either.
bool IsReadOnly(const std::string& path) {
  if (faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0) return false;
  return errno == EACCES || errno == EROFS || errno == EPERM;
}

void FillStatus(const struct stat& st, FileStatus* status) {
  status->size = static_cast<int64_t>(st.st_size);
  status->modified = static_cast<int64_t>(st.st_mtim.tv_sec);
  status->accessed = static_cast<int64_t>(st.st_atim.tv_sec);
  status->changed = static_cast<int64_t>(st.st_ctim.tv_sec);
}

// stat of the path with "\" turned into "/"; a NUL in the path is EINVAL.
bool StatPath(std::string_view path, std::string* native, struct stat* st, int* err) {
  if (!NativePath(path, native)) {
    StoreError(err, EINVAL);
    return false;
  }
  if (stat(native->c_str(), st) != 0) {
    StoreError(err, errno);
    return false;
  }
  return true;
}

}  // namespace

bool GetFileAttributes(std::string_view path, uint32_t* attrs, int* err) {
  std::string native;
  struct stat st;
  if (!StatPath(path, &native, &st, err)) return false;
  uint32_t bits = 0;
  if (S_ISDIR(st.st_mode)) bits |= kAttrDirectory;
  else if (!S_ISREG(st.st_mode)) bits |= kAttrDevice;
  if (IsHiddenName(LastComponent(native))) bits |= kAttrHidden;
  if (IsReadOnly(native)) bits |= kAttrReadOnly;
  *attrs = bits;
  return true;
}

bool GetFileStatus(std::string_view path, FileStatus* status, int* err) {
  std::string native;
  struct stat st;
  if (!StatPath(path, &native, &st, err)) return false;
  FillStatus(st, status);
  return true;
}

bool GetFileStatus(int fd, FileStatus* status, int* err) {
  struct stat st;
  if (fstat(fd, &st) != 0) {
    StoreError(err, errno);
    return false;
  }
  FillStatus(st, status);
  return true;
}

}  // namespace plat
