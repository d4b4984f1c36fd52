// The current user's registry, kept in one text file in the REGEDIT4 format:
//   ${XDG_CONFIG_HOME:-$HOME/.config}/registry/HKEY_CURRENT_USER.reg
// A "[HKEY_CURRENT_USER\A\B]" line opens key A\B; "Name"="text" (with \\ and \"
// escapes) is a string value and "Name"=dword:0000abcd a 32-bit number. Bytes are
// stored as they are (EUC-KR). Lines end with CR LF or LF. Key paths and value
// names compare without regard to ASCII case. A missing file means no keys.
//
// Key paths given to these functions are below HKEY_CURRENT_USER and use "\" as
// separator, e.g. "SOFTWARE\\Quorval\\Tavrel"; leading, trailing and doubled
// separators are ignored. The empty value name (or "@") is the key's default
// value, written @="..." in the file. When a value appears more than once in a
// key, the last line wins.
//
// Sharing: one writer and several readers, in this process or others, may use
// the file at once. A writer takes an exclusive lock on the companion file
// "HKEY_CURRENT_USER.reg.lock", rereads the file, changes it and replaces it
// atomically (temporary file, rename), so a reader sees either the old or the
// new file, never a mixture. Lines the module does not understand are kept.
//
// Caveats:
// - Every call reads the whole file; every change rewrites it and waits for
//   the disk (fsync). Fine for settings, not for data that changes often.
// - Lines of other types (hex:, hex(N):, "Name"=-), sections of other roots
//   and deletion sections "[-...]" are kept byte for byte. A hex value reads
//   as WrongType; "Name"=- reads as an absent value.
// - Writers wait for each other without a time limit.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace plat {

enum class RegStatus {
  Ok,         // done
  NoKey,      // the key does not exist
  NoValue,    // the key exists, the value does not
  WrongType,  // the value exists with another type
  IoError,    // the file could not be read, locked or replaced
};

// The path of the registry file for the current environment: below
// XDG_CONFIG_HOME when set and not empty, else below $HOME/.config (the user
// database's home when HOME is unset). Empty when no directory is known.
std::string RegistryFilePath();

// On success stores the string value and returns Ok; otherwise leaves *value
// alone and says why.
RegStatus RegGetString(std::string_view key, std::string_view name, std::string* value);
// On success stores the number and returns Ok; otherwise leaves *value alone.
RegStatus RegGetDword(std::string_view key, std::string_view name, uint32_t* value);

// True when the key exists (its own line, or a line of one of its subkeys).
bool RegKeyExists(std::string_view key);
// Creates the key (and so its parents) if missing. Ok also when it existed.
// On failure IoError: the file could not be replaced, or the key cannot be
// written in this format (it contains CR, LF or NUL, or ends with "]").
RegStatus RegCreateKey(std::string_view key);

// Set a value of an existing key. On success returns Ok: an existing value is
// changed where it stands (whatever its type was), a new one is added at the
// end of its key's section. On failure NoKey when the key does not exist, or
// IoError when the file could not be replaced. A string value or a name
// containing CR, LF or NUL cannot be stored in this format: IoError, and the
// file is left as it was.
RegStatus RegSetString(std::string_view key, std::string_view name, std::string_view value);
RegStatus RegSetDword(std::string_view key, std::string_view name, uint32_t value);
// Removes a value (every line of it); NoKey or NoValue when there is nothing
// to remove, IoError when the file could not be replaced.
RegStatus RegDeleteValue(std::string_view key, std::string_view name);

}  // namespace plat
