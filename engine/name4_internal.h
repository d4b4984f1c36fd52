// File-name handling of the data side: full names of tables and their
// companion files, and comparing them.
#pragma once

#include <string>

namespace engine4 {

std::string toSlashes(const char* name);

// Makes `name` absolute against the current directory, adds `ext` (without
// the dot; null for none) unless the last component has an extension, and,
// when the file exists under another letter case, takes the existing name.
// False when the name is empty or too long (258 bytes with its NUL).
bool fullName(const char* name, const char* ext, std::string* out);

// The same name with its extension replaced by `ext`, found without regard
// to case when a file of that name exists.
std::string companionName(const std::string& full, const char* ext);

// Equal names (without regard to ASCII case when ignoreCase).
bool sameName(const std::string& a, const std::string& b, bool ignoreCase);

// File name without directory and extension.
std::string baseName(const std::string& full);

}  // namespace engine4
