// Paths and file-name case. The native separator is "/"; functions that take
// paths accept "\" as well and turn it into "/" first.
//
// File names of the portal's other programs may be written in any case, so an
// existing path that does not exist as written is looked up component by
// component without regard to ASCII case (the first match in byte order wins).
// New files are always created with the name as given.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace plat {

// Every "\" turned into "/".
std::string ToSlashes(std::string_view path);

// The process's current directory; empty on failure.
std::string CurrentDirectory();

// Makes `path` absolute against the current directory and resolves "." and
// ".." and repeated separators without touching the disk ("/.." stays "/").
// A trailing separator is kept ("/a/b/" stays "/a/b/"); a trailing "." or ".."
// names a directory without adding one ("/a/b/." is "/a/b", "/a/b/.." is "/a").
// On success stores the result and returns true; fails (leaving *out as it
// was) when the path is empty or holds a NUL byte, when the result (plus its
// terminating NUL) would not fit in `maxBytes` bytes, or when the current
// directory is needed and can't be read.
bool FullPath(std::string_view path, size_t maxBytes, std::string* out);

// Finds an existing file or directory for the absolute path `path`. When the
// path exists as written it is returned unchanged. Otherwise every component
// after the directory `exactPrefix` (which must be a leading part of `path`
// ending at a component boundary; may be empty or "/" for the whole path) is
// matched without regard to case against its directory's entries. The
// components inside `exactPrefix` are never case-folded. A component that
// exists as written is taken as it is; otherwise the entry equal to it without
// regard to ASCII case (A-Z only; other bytes compare exactly) that comes first
// in byte order is taken. A trailing "/" is kept. On success stores the
// existing path and returns true; false when nothing matches, when
// `exactPrefix` is not a leading part of `path`, or when a NUL byte is inside.
bool ResolvePathCase(std::string_view path, std::string_view exactPrefix, std::string* out);

// The same for the whole path: every component may be case-folded.
bool ResolvePathCase(std::string_view path, std::string* out);

}  // namespace plat
