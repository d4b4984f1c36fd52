// Temporary files. The system's temporary directory is TMPDIR, else /tmp.
#pragma once

#include <string>
#include <string_view>

#include "platform/file.h"

namespace plat {

// TMPDIR when set and not empty, else "/tmp"; never with a trailing "/"
// (a TMPDIR of only separators gives "/").
std::string TempDirectory();

// Creates a new file with a unique name "<dir>/<prefix><unique>" (created
// anew, never an existing file, mode 0600), open for reading and writing,
// close-on-exec. An empty `dir` means TempDirectory(); "\" in `dir` is taken
// as "/"; a `prefix` holding "/", "\" or a NUL byte fails with EINVAL.
// A file already open in *file is closed first.
// With deleteOnClose the name is unlinked as soon as the file is open, so the
// file disappears when its last descriptor closes; the name is still
// reported. On success opens *file, stores the name in *name (when not null)
// and returns true; on failure stores errno in *err when not null and returns
// false.
bool CreateTempFile(std::string_view dir, std::string_view prefix, bool deleteOnClose,
                    File* file, std::string* name, int* err = nullptr);

}  // namespace plat
