// Path handling of the platform layer: separator conversion, lexical full
// paths and the case-insensitive lookup of existing names. The portal's other
// programs write file names in any case, so a name that does not exist as
// written is matched against its directory's entries without regard to ASCII
// case before the caller gives up on it.
#include "platform/paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace plat {
namespace {

bool HasNul(std::string_view s) { return s.find('\0') != std::string_view::npos; }

// The parts between separators, empty parts (from "//" or the ends) dropped.
std::vector<std::string_view> SplitComponents(std::string_view path) {
  std::vector<std::string_view> parts;
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t slash = path.find('/', pos);
    if (slash == std::string_view::npos) slash = path.size();
    if (slash > pos) parts.push_back(path.substr(pos, slash - pos));
    pos = slash + 1;
  }
  return parts;
}

// Resolves "." and ".." of an absolute path; ".." at the root stays at the root.
std::string NormalizeAbsolute(std::string_view absolute, bool keepTrailingSlash) {
  std::vector<std::string_view> kept;
  for (std::string_view part : SplitComponents(absolute)) {
    if (part == ".") continue;
    if (part == "..") {
      if (!kept.empty()) kept.pop_back();
      continue;
    }
    kept.push_back(part);
  }
  std::string result;
  for (std::string_view part : kept) {
    result += '/';
    result += part;
  }
  if (result.empty() || keepTrailingSlash) result += '/';
  return result;
}

bool EntryExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// `dir` joined with one more component; an empty `dir` means the current
// directory and leaves the path relative.
std::string Join(const std::string& dir, std::string_view name) {
  std::string joined = dir;
  if (!joined.empty() && joined.back() != '/') joined += '/';
  joined += name;
  return joined;
}

// Only the letters A-Z and a-z are folded; every other byte, in particular
// the bytes of EUC-KR names (0x80 and above), compares exactly.
char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

// Among the entries of `dir`, the one equal to `name` without regard to case
// that comes first in byte order. False when none matches or the directory
// can't be listed.
bool FindFoldedEntry(const std::string& dir, std::string_view name, std::string* found) {
  int fd = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  DIR* listing = fdopendir(fd);
  if (listing == nullptr) {
    close(fd);
    return false;
  }
  bool matched = false;
  bool failed = false;
  for (;;) {
    errno = 0;
    struct dirent* entry = readdir(listing);
    if (entry == nullptr) {
      failed = errno != 0;
      break;
    }
    std::string_view entryName(entry->d_name);
    if (!EqualIgnoringAsciiCase(entryName, name)) continue;
    // std::string compares like memcmp, i.e. in unsigned byte order.
    if (!matched || entryName < std::string_view(*found)) {
      found->assign(entryName);
      matched = true;
    }
  }
  closedir(listing);  // also closes fd
  return matched && !failed;
}

// The name of `name` inside `dir` as it exists on disk: the name itself when
// it exists as written, else the first case-insensitive match.
bool MatchComponent(const std::string& dir, std::string_view name, std::string* onDisk) {
  if (name == "." || name == ".." || EntryExists(Join(dir, name))) {
    onDisk->assign(name);
    return true;
  }
  return FindFoldedEntry(dir, name, onDisk);
}

// Where the part of `path` after `prefix` starts; false when `prefix` is not
// a leading part of `path` that ends at a component boundary.
bool PrefixLength(const std::string& path, const std::string& prefix, size_t* length) {
  if (path.compare(0, prefix.size(), prefix) != 0) return false;
  bool atBoundary = prefix.empty() || prefix.back() == '/' || path.size() == prefix.size() ||
                    path[prefix.size()] == '/';
  if (!atBoundary) return false;
  *length = prefix.size();
  return true;
}

// The directory the walk starts from: the prefix without trailing
// separators, "/" for an absolute path with an empty or root prefix.
std::string StartDirectory(const std::string& path, size_t prefixLength) {
  std::string start = path.substr(0, prefixLength);
  while (start.size() > 1 && start.back() == '/') start.pop_back();
  if (start.empty() && !path.empty() && path[0] == '/') start = "/";
  return start;
}

}  // namespace

std::string ToSlashes(std::string_view path) {
  std::string converted(path);
  for (char& c : converted) {
    if (c == '\\') c = '/';
  }
  return converted;
}

std::string CurrentDirectory() {
  std::string buffer(256, '\0');
  for (;;) {
    if (getcwd(buffer.data(), buffer.size()) != nullptr) {
      buffer.resize(buffer.find('\0'));
      return buffer;
    }
    if (errno != ERANGE) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}

bool FullPath(std::string_view path, size_t maxBytes, std::string* out) {
  if (path.empty() || HasNul(path)) return false;
  std::string slashed = ToSlashes(path);
  std::string absolute;
  if (slashed[0] == '/') {
    absolute = std::move(slashed);
  } else {
    std::string cwd = CurrentDirectory();
    if (cwd.empty()) return false;
    absolute = Join(cwd, slashed);
  }
  std::string result = NormalizeAbsolute(absolute, absolute.back() == '/');
  if (result.size() + 1 > maxBytes) return false;
  *out = std::move(result);
  return true;
}

bool ResolvePathCase(std::string_view path, std::string_view exactPrefix, std::string* out) {
  if (path.empty() || HasNul(path) || HasNul(exactPrefix)) return false;
  std::string slashed = ToSlashes(path);
  if (EntryExists(slashed)) {
    *out = std::move(slashed);
    return true;
  }
  size_t prefixLength = 0;
  if (!PrefixLength(slashed, ToSlashes(exactPrefix), &prefixLength)) return false;

  std::string resolved = StartDirectory(slashed, prefixLength);
  std::string onDisk;
  for (std::string_view name : SplitComponents(std::string_view(slashed).substr(prefixLength))) {
    if (!MatchComponent(resolved, name, &onDisk)) return false;
    resolved = Join(resolved, onDisk);
  }
  if (slashed.back() == '/' && (resolved.empty() || resolved.back() != '/')) resolved += '/';
  // A folded match may still not be what the path asks for (a file where a
  // trailing "/" wants a directory); only an existing result counts.
  if (resolved.empty() || !EntryExists(resolved)) return false;
  *out = std::move(resolved);
  return true;
}

bool ResolvePathCase(std::string_view path, std::string* out) {
  return ResolvePathCase(path, std::string_view(), out);
}

}  // namespace plat
