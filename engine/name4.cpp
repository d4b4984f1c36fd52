// File-name handling of the data side over the platform's path services:
// names are made absolute against the current directory ("\" accepted), get
// their default extension, and are matched without regard to case against
// existing files, so "REGISTRY.dbf" finds "REGISTRY.DBF".
#include <cstring>
#include <string>

#include "engine/name4_internal.h"
#include "platform/paths.h"

namespace engine4 {

namespace {

constexpr size_t kMaxName = 258;

size_t LastSlash(const std::string& s) {
  size_t p = s.rfind('/');
  return p == std::string::npos ? 0 : p + 1;
}

bool HasExtension(const std::string& s) {
  return s.find('.', LastSlash(s)) != std::string::npos;
}

std::string ExistingCase(const std::string& path) {
  std::string found;
  if (plat::ResolvePathCase(path, &found)) return found;
  return path;
}

}  // namespace

std::string toSlashes(const char* name) { return plat::ToSlashes(name != nullptr ? name : ""); }

bool fullName(const char* name, const char* ext, std::string* out) {
  if (name == nullptr) return false;
  std::string s = toSlashes(name);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  if (s.empty() || s.back() == '/') return false;
  std::string abs;
  if (!plat::FullPath(s, kMaxName, &abs)) return false;
  if (ext != nullptr && !HasExtension(abs)) abs += std::string(".") + ext;
  if (abs.size() + 1 > kMaxName) return false;
  *out = ExistingCase(abs);
  return true;
}

std::string companionName(const std::string& full, const char* ext) {
  std::string s = full;
  size_t dot = s.find('.', LastSlash(s));
  if (dot != std::string::npos) {
    size_t last = s.rfind('.');
    s.erase(last);
  }
  s += std::string(".") + ext;
  return ExistingCase(s);
}

bool sameName(const std::string& a, const std::string& b, bool ignoreCase) {
  if (a.size() != b.size()) return false;
  if (!ignoreCase) return a == b;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

std::string baseName(const std::string& full) {
  std::string s = full.substr(LastSlash(full));
  size_t dot = s.rfind('.');
  if (dot != std::string::npos) s.erase(dot);
  return s;
}

}  // namespace engine4
