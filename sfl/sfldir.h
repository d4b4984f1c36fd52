// sfldir: the utility library's directory functions, and the chief header
// of the library (it brings the allocator, text and file helpers along).
//
// Paths may be written with "\" or "/"; "\" is turned into "/" first. An
// existing path is found without regard to the case of its names (the
// portal's other programs write names in any case); new directories are
// created with the names as given.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sfl/sflfile.h"
#include "sfl/sflmem.h"
#include "sfl/sflstr.h"

// One entry of a listing. Listings are circular lists headed by the
// sentinel of their DirList; all of it comes from the tracked allocator and
// is released by trackedFreeAll.
struct DirEntry {
  DirEntry* next;
  DirEntry* prev;
  char* name;
  char* path;          // the listed directory, "/" separators, no trailing "/"
  bool directory;
  int64_t size;
  int64_t modified;    // last write, seconds since 1970
  unsigned mode;       // kDirModeDirectory or kDirModeRegular, plus the permission bits below
  const char* owner;   // "user"
  const char* group;   // "user"
};

enum : unsigned {
  kDirModeDirectory = 0040000,
  kDirModeRegular = 0100000,
  kDirModeRead = 0444,
  kDirModeWrite = 0222,  // missing when the entry is read-only
};

struct DirList {
  DirEntry head;  // sentinel: head.next is the first entry, &head ends the walk
  size_t count;
};

// Creates every missing directory along `path`. 0 when the whole path is a
// directory afterwards, -1 when one can't be created.
int makeDirPath(const char* path);
// Removes an empty directory. -1 when the path isn't a directory or the
// removal fails; the system's message for a failed removal goes to
// writeDiagnostic.
int removeDirectory(const char* path);
// True when the path names an existing file or directory.
bool pathExists(const char* path);
// True when the path (trailing "/" ignored) names an existing directory.
bool isDirectoryPath(const char* path);
// Lists the directory without "." and "..". `sortKey` "f" sorts
// directories first, then by name without regard to letter case; null or
// any other key keeps the system's order. An unreadable directory gives an
// empty list; null only when memory runs out.
DirList* listDirectory(const char* path, const char* sortKey);
// Matches a name against a pattern of "?" (any one character), "*" (skips
// up to the next pattern character, no backtracking) and characters
// compared without regard to letter case.
bool nameMatches(const char* name, const char* pattern);
