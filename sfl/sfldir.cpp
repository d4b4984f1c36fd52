// Directory functions: creation along a path, removal, existence tests,
// listings with their sort, and name patterns. Existing paths are looked up
// without regard to name case through the platform layer.
#include "sfl/sfldir.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fileattr.h"
#include "platform/paths.h"

namespace {

constexpr size_t kPathLimit = 2048;
const char kUser[] = "user";

char foldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// The existing path that `path` names, its names matched without regard to
// case when it doesn't exist as written; false when nothing exists there.
bool findExisting(const std::string& path, std::string* found) {
  uint32_t attrs = 0;
  if (plat::GetFileAttributes(path, &attrs)) {
    *found = path;
    return true;
  }
  std::string full;
  if (!plat::FullPath(path, kPathLimit * 2, &full)) return false;
  return plat::ResolvePathCase(full, found);
}

bool isDirectory(const std::string& path, std::string* found) {
  std::string existing;
  uint32_t attrs = 0;
  if (!findExisting(path, &existing) || !plat::GetFileAttributes(existing, &attrs)) return false;
  if ((attrs & plat::kAttrDirectory) == 0) return false;
  if (found) *found = existing;
  return true;
}

// "/" separators, and no trailing "/" unless the path is the root.
std::string normalisedDirectory(const char* path) {
  std::string p = plat::ToSlashes(path);
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

char* copyText(const char* text, size_t len) {
  char* p = static_cast<char*>(sflAlloc(len + 1));
  if (p == nullptr) return nullptr;
  std::memcpy(p, text, len);
  p[len] = '\0';
  return p;
}

int compareNoCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    unsigned char ca = static_cast<unsigned char>(foldAscii(*a));
    unsigned char cb = static_cast<unsigned char>(foldAscii(*b));
    if (ca != cb || ca == '\0') return ca - cb;
  }
}

// Key "f": directories before files, then by full name without regard to
// case. Every entry of one listing has the same directory path, so the full
// names compare as the names do.
bool outOfOrder(const DirEntry* a, const DirEntry* b) {
  if (a->directory != b->directory) return !a->directory;
  return compareNoCase(a->name, b->name) > 0;
}

// Comb sort: the gap shrinks by 10/13 per pass; passes go on while the gap
// was above 1 or the last pass swapped. The entries' places are found in a
// table of pointers, then the ring is relinked in the new order.
void combSort(DirList* list) {
  std::vector<DirEntry*> v;
  for (DirEntry* e = list->head.next; e != &list->head; e = e->next) v.push_back(e);
  size_t gap = v.size();
  bool swapped = false;
  do {
    gap = (gap * 10 + 3) / 13;
    if (gap == 0) gap = 1;
    swapped = false;
    for (size_t i = 0; i + gap < v.size(); ++i) {
      if (outOfOrder(v[i], v[i + gap])) {
        std::swap(v[i], v[i + gap]);
        swapped = true;
      }
    }
  } while (gap > 1 || swapped);
  DirEntry* prev = &list->head;
  for (DirEntry* e : v) {
    prev->next = e;
    e->prev = prev;
    prev = e;
  }
  prev->next = &list->head;
  list->head.prev = prev;
}

void append(DirList* list, DirEntry* e) {
  e->prev = list->head.prev;
  e->next = &list->head;
  list->head.prev->next = e;
  list->head.prev = e;
  ++list->count;
}

// Fills one entry from the file's status; an entry whose status can't be
// read (a dangling link) is listed as an empty regular file.
bool fillEntry(DirEntry* e, const std::string& dir, const char* dirText, const char* name) {
  e->name = copyText(name, std::strlen(name));
  if (e->name == nullptr) return false;
  e->path = const_cast<char*>(dirText);
  std::string full = dir + "/" + name;
  uint32_t attrs = 0;
  plat::FileStatus st;
  bool known = plat::GetFileAttributes(full, &attrs) && plat::GetFileStatus(full, &st);
  e->directory = known && (attrs & plat::kAttrDirectory) != 0;
  e->size = (known && !e->directory) ? st.size : 0;
  e->modified = known ? st.modified : 0;
  e->mode = (e->directory ? kDirModeDirectory : kDirModeRegular) | kDirModeRead;
  if (!known || (attrs & plat::kAttrReadOnly) == 0) e->mode |= kDirModeWrite;
  e->owner = kUser;
  e->group = kUser;
  return true;
}

// Reads the directory's entries into the list; false when memory runs out.
bool readEntries(DirList* list, const std::string& dir, const char* dirText) {
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return true;
  bool ok = true;
  for (;;) {
    errno = 0;
    struct dirent* de = ::readdir(d);
    if (de == nullptr) break;
    if (std::strcmp(de->d_name, ".") == 0 || std::strcmp(de->d_name, "..") == 0) continue;
    DirEntry* e = static_cast<DirEntry*>(sflAlloc(sizeof(DirEntry)));
    if (e == nullptr || !fillEntry(e, dir, dirText, de->d_name)) {
      ok = false;
      break;
    }
    append(list, e);
  }
  ::closedir(d);
  return ok;
}

// The components of a "/" path, without empty ones.
std::vector<std::string> components(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

int makeDirs(const std::string& path) {
  std::string sofar = (!path.empty() && path[0] == '/') ? "/" : "";
  for (const std::string& part : components(path)) {
    std::string next = sofar.empty() ? part : (sofar.back() == '/' ? sofar + part : sofar + "/" + part);
    std::string existing;
    if (isDirectory(next, &existing)) {
      // Continue below the name as it exists, whatever its case.
      sofar = existing;
      continue;
    }
    if (::mkdir(next.c_str(), 0777) != 0 && !(errno == EEXIST && isDirectory(next, nullptr))) return -1;
    sofar = next;
  }
  return 0;
}

}  // namespace

int makeDirPath(const char* path) {
  if (path == nullptr || *path == '\0') return -1;
  try {
    return makeDirs(plat::ToSlashes(path));
  } catch (...) {
    return -1;
  }
}

int removeDirectory(const char* path) {
  std::string existing;
  try {
    if (!isDirectory(normalisedDirectory(path), &existing)) return -1;
  } catch (...) {
    return -1;
  }
  if (::rmdir(existing.c_str()) == 0) return 0;
  char buf[256];
  writeDiagnostic(strerror_r(errno, buf, sizeof buf));
  return -1;
}

bool pathExists(const char* path) {
  std::string found;
  try {
    return *path != '\0' && findExisting(plat::ToSlashes(path), &found);
  } catch (...) {
    return false;
  }
}

bool isDirectoryPath(const char* path) {
  if (std::strlen(path) > kPathLimit || *path == '\0') return false;
  try {
    return isDirectory(normalisedDirectory(path), nullptr);
  } catch (...) {
    return false;
  }
}

DirList* listDirectory(const char* path, const char* sortKey) {
  DirList* list = static_cast<DirList*>(sflAlloc(sizeof(DirList)));
  if (list == nullptr) return nullptr;
  list->head = DirEntry{};
  list->head.next = &list->head;
  list->head.prev = &list->head;
  list->count = 0;
  try {
    std::string dirText = normalisedDirectory(path);
    char* shared = copyText(dirText.data(), dirText.size());
    if (shared == nullptr) return nullptr;
    std::string existing;
    if (!isDirectory(dirText, &existing)) return list;
    if (!readEntries(list, existing, shared)) return nullptr;
    if (list->count > 1 && sortKey != nullptr && std::strcmp(sortKey, "f") == 0) combSort(list);
  } catch (...) {
    return nullptr;
  }
  return list;
}

bool nameMatches(const char* name, const char* pattern) {
  while (*pattern != '\0') {
    if (*name == '\0') return false;  // the name ended first, even before a final "*"
    if (*pattern == '*') {
      while (pattern[1] == '*') ++pattern;
      char next = pattern[1];
      if (next == '\0') return true;  // a final "*" takes the rest of the name
      ++pattern;
      if (next != '?') {
        while (*name != '\0' && foldAscii(*name) != foldAscii(next)) ++name;
        if (*name == '\0') return false;
      }
      continue;
    }
    if (*pattern != '?' && foldAscii(*pattern) != foldAscii(*name)) return false;
    ++pattern;
    ++name;
  }
  return *name == '\0';
}
