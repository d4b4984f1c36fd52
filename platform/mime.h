// MIME types of file extensions, from the system's MIME database
// (/etc/mime.types): the first type that lists the extension, compared without
// regard to ASCII case.
#pragma once

#include <string>
#include <string_view>

namespace plat {

// `extension` may be given with or without its leading dot. On success stores
// the type and returns true; false when no type lists the extension or the
// database can't be read.
bool LookupMimeType(std::string_view extension, std::string* type);

// The same against the database file `databasePath`.
bool LookupMimeTypeIn(const std::string& databasePath, std::string_view extension,
                      std::string* type);

}  // namespace plat
