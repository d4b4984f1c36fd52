// Temporary files of the platform layer: the system's temporary directory and
// uniquely named new files in it. The portal's programs recognise their own
// temporary files by a short prefix ("CIN", "CGI"), so the prefix is kept as
// given and only a unique tail is added.
#include "platform/tempfile.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "platform/paths.h"

namespace plat {
namespace {

void StoreError(int* err, int value) {
  if (err != nullptr) *err = value;
}

// A prefix with a separator would put the file into another directory, and a
// NUL byte would cut the name short.
bool ValidPrefix(std::string_view prefix) {
  return prefix.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

// "<dir>/<prefix>XXXXXX", the tail for the system to fill in.
std::string NameTemplate(std::string_view dir, std::string_view prefix) {
  std::string name = dir.empty() ? TempDirectory() : ToSlashes(dir);
  if (name.empty() || name.back() != '/') name += '/';
  name += prefix;
  name += "XXXXXX";
  return name;
}

}  // namespace

std::string TempDirectory() {
  const char* fromEnv = std::getenv("TMPDIR");
  if (fromEnv == nullptr || fromEnv[0] == '\0') return "/tmp";
  std::string dir(fromEnv);
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

bool CreateTempFile(std::string_view dir, std::string_view prefix, bool deleteOnClose,
                    File* file, std::string* name, int* err) {
  file->Close();
  if (!ValidPrefix(prefix) || dir.find('\0') != std::string_view::npos) {
    StoreError(err, EINVAL);
    return false;
  }
  std::string path = NameTemplate(dir, prefix);
  // Created with O_CREAT | O_EXCL and mode 0600 by the system; a name taken
  // meanwhile by someone else is retried with another tail.
  int fd = mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) {
    StoreError(err, errno);
    return false;
  }
  if (deleteOnClose && unlink(path.c_str()) != 0) {
    int saved = errno;
    close(fd);
    StoreError(err, saved);
    return false;
  }
  *file = File(fd);
  if (name != nullptr) *name = std::move(path);
  return true;
}

}  // namespace plat
