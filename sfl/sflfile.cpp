// File copy and the diagnostic line.
#include "sfl/sflfile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

#include "platform/file.h"
#include "platform/paths.h"
#include "sfl/sfldir.h"

namespace {

constexpr size_t kCopyPiece = 32767;
constexpr size_t kDiagnosticLimit = 1023;

// The existing file for `path` (name case ignored as the portal's other
// programs expect), or the path as written when nothing matches.
std::string existingPath(const std::string& path) {
  std::string full, found;
  if (plat::FullPath(path, 4096, &full) && plat::ResolvePathCase(full, &found)) return found;
  return path;
}

bool copyBytes(plat::File& from, plat::File& to, char* buf) {
  for (;;) {
    size_t got = 0;
    if (!from.Read(buf, kCopyPiece, &got)) return false;
    if (got == 0) return true;
    if (!to.Write(buf, got)) return false;
  }
}

}  // namespace

int copyFileIfAbsent(const char* destination, const char* source, const char* mode) {
  (void)mode;
  if (pathExists(destination)) return 1;
  std::string dest = plat::ToSlashes(destination);
  plat::File from;
  if (!from.Open(existingPath(plat::ToSlashes(source)), plat::OpenMode::Read)) return -1;
  char* buf = static_cast<char*>(std::malloc(kCopyPiece));
  if (buf == nullptr) return -1;
  plat::File to;
  int err = 0;
  if (!to.Open(dest, plat::OpenMode::CreateNew, &err)) {
    std::free(buf);
    // Made by someone else since the test above: it exists now.
    return err == EEXIST ? 1 : -1;
  }
  bool ok = copyBytes(from, to, buf);
  std::free(buf);
  to.Close();
  if (!ok) {
    ::unlink(dest.c_str());
    return -1;
  }
  return 0;
}

void writeDiagnostic(const char* text) {
  char line[kDiagnosticLimit + 1];
  size_t n = std::strlen(text);
  if (n > kDiagnosticLimit) n = kDiagnosticLimit;
  std::memcpy(line, text, n);
  line[n++] = '\n';
  const char* p = line;
  while (n > 0) {
    ssize_t w = ::write(STDERR_FILENO, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
}
