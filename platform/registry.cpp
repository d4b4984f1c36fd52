// The current user's registry on Linux: one REGEDIT4 text file read and
// rewritten whole. This file holds the parser that turns the file into a list
// of units (one per line, or several lines for a continued value), the
// queries and edits on that list, and the file protocol that lets one writer
// and any number of readers share the file:
//
//   writer: lock HKEY_CURRENT_USER.reg.lock (exclusive, blocking)
//           -> reread the file -> apply the change in memory
//           -> write a temporary file in the same directory -> fsync
//           -> rename it over the file -> unlock
//   reader: open, read everything, close; no lock.
//
// Invariants the protocol keeps:
//   1. The file is only ever replaced by rename, never written in place, so a
//      reader that opened it sees one complete version, old or new.
//   2. Every change is made on the content read while holding the lock, so two
//      writers cannot both start from the same version and lose an update.
//   3. The lock file is never removed: removing it would let a writer lock a
//      fresh lock file while another still holds the old one.
//   4. Lines the module does not change are written back byte for byte,
//      line ends included.
#include "platform/registry.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {
namespace {

constexpr char kFileName[] = "HKEY_CURRENT_USER.reg";
constexpr char kLockSuffix[] = ".lock";
constexpr char kRootName[] = "HKEY_CURRENT_USER";
constexpr char kLineEnd[] = "\r\n";
// The default value of a key is named "@" in the file; the empty name given by
// a caller means it too.
constexpr char kDefaultName[] = "@";

// ---------------------------------------------------------------------------
// Bytes and case

// Only ASCII letters fold; bytes >= 0x80 (EUC-KR) compare exactly.
char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Fold(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = FoldAscii(c);
  return out;
}

bool EqualsFolded(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  return true;
}

bool StartsWithFolded(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsFolded(s.substr(0, prefix.size()), prefix);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

size_t SkipBlanks(std::string_view s, size_t pos) {
  while (pos < s.size() && IsBlank(s[pos])) ++pos;
  return pos;
}

// The file format has no way to write these bytes inside a line.
bool HasLineBreakOrNul(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// ---------------------------------------------------------------------------
// Key paths and value names

// Drops empty components, so leading, trailing and doubled "\" do not matter.
std::string NormalizeKeyPath(std::string_view key) {
  std::string out;
  size_t pos = 0;
  while (pos <= key.size()) {
    size_t end = key.find('\\', pos);
    if (end == std::string_view::npos) end = key.size();
    if (end > pos) {
      if (!out.empty()) out += '\\';
      out.append(key.substr(pos, end - pos));
    }
    pos = end + 1;
  }
  return out;
}

// A key ending in "]" would end its section line early for other readers.
bool IsStorableKey(std::string_view normalized) {
  return !HasLineBreakOrNul(normalized) && (normalized.empty() || normalized.back() != ']');
}

std::string NormalizeName(std::string_view name) {
  return name.empty() ? std::string(kDefaultName) : std::string(name);
}

std::string Quote(std::string_view raw) {
  std::string out = "\"";
  for (char c : raw) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

std::string FormatName(std::string_view normalizedName) {
  return normalizedName == kDefaultName ? std::string(kDefaultName) : Quote(normalizedName);
}

std::string FormatDword(uint32_t value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(value));
  return buf;
}

// ---------------------------------------------------------------------------
// The file as a list of units

enum class UnitKind { Other, Section, Value };
enum class ValueKind { String, Dword, Hex, Deleted, Unreadable };

struct Unit {
  std::string text;  // the line(s) without the final line end
  std::string eol;   // "\r\n", "\n", or "" for a last line without line end
  UnitKind kind = UnitKind::Other;
  // Section: true for sections of HKEY_CURRENT_USER (not other roots, not
  // deletions); keyFolded is then the normalized path in folded case.
  bool currentUser = false;
  std::string keyFolded;
  // Value: the section it belongs to (-1 when none), its name in folded case,
  // where its data starts in `text`, and what the data is.
  int section = -1;
  std::string nameFolded;
  size_t dataStart = 0;
  ValueKind valueKind = ValueKind::Unreadable;
  std::string str;
  uint32_t dword = 0;
};

using Units = std::vector<Unit>;

Unit MakeLine(std::string text) {
  Unit u;
  u.text = std::move(text);
  u.eol = kLineEnd;
  return u;
}

bool IsBlankUnit(const Unit& u) { return TrimBlanks(u.text).empty(); }

// Reads a quoted string at `pos` (which holds the opening quote). Only \\ and
// \" are escapes; a backslash before any other byte is kept as it is.
bool ParseQuoted(std::string_view s, size_t* pos, std::string* out) {
  size_t i = *pos + 1;
  out->clear();
  while (i < s.size()) {
    char c = s[i];
    if (c == '"') {
      *pos = i + 1;
      return true;
    }
    if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
      out->push_back(s[i + 1]);
      i += 2;
      continue;
    }
    out->push_back(c);
    ++i;
  }
  return false;
}

// Reads `"Name"=` or `@=` (blanks allowed around the name and "="). On
// success stores the name and the offset where the data begins.
bool ParseValueName(std::string_view line, std::string* name, size_t* dataStart) {
  size_t pos = SkipBlanks(line, 0);
  if (pos >= line.size()) return false;
  if (line[pos] == '@') {
    *name = kDefaultName;
    ++pos;
  } else if (line[pos] == '"') {
    if (!ParseQuoted(line, &pos, name)) return false;
    if (name->empty()) *name = kDefaultName;
  } else {
    return false;
  }
  pos = SkipBlanks(line, pos);
  if (pos >= line.size() || line[pos] != '=') return false;
  *dataStart = SkipBlanks(line, pos + 1);
  return true;
}

bool ParseHexDigits(std::string_view digits, uint32_t* value) {
  if (digits.empty() || digits.size() > 8) return false;
  uint32_t v = 0;
  for (char c : digits) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    v = (v << 4) | static_cast<uint32_t>(d);
  }
  *value = v;
  return true;
}

// Classifies the data part of a value unit; anything not understood is
// Unreadable, which still names a value (it reads as WrongType).
void ParseValueData(Unit* u) {
  std::string_view data = std::string_view(u->text).substr(u->dataStart);
  if (!data.empty() && data.front() == '"') {
    size_t pos = 0;
    std::string s;
    if (ParseQuoted(data, &pos, &s) && TrimBlanks(data.substr(pos)).empty()) {
      u->valueKind = ValueKind::String;
      u->str = std::move(s);
    }
    return;
  }
  if (StartsWithFolded(data, "dword:")) {
    if (ParseHexDigits(TrimBlanks(data.substr(6)), &u->dword)) u->valueKind = ValueKind::Dword;
    return;
  }
  if (StartsWithFolded(data, "hex:") || StartsWithFolded(data, "hex(")) {
    u->valueKind = ValueKind::Hex;
    return;
  }
  if (TrimBlanks(data) == "-") u->valueKind = ValueKind::Deleted;
}

// Recognizes "[...]". Sections of other roots and "[-...]" deletions stay
// Section units (they end the previous key) but never match a key.
bool ParseSectionLine(Unit* u) {
  std::string_view line = TrimBlanks(u->text);
  if (line.size() < 2 || line.front() != '[' || line.back() != ']') return false;
  u->kind = UnitKind::Section;
  std::string_view inner = line.substr(1, line.size() - 2);
  if (!inner.empty() && inner.front() == '-') return true;
  size_t sep = inner.find('\\');
  std::string_view first = inner.substr(0, sep);
  if (EqualsFolded(first, kRootName)) {
    inner = sep == std::string_view::npos ? std::string_view() : inner.substr(sep + 1);
  } else if (StartsWithFolded(first, "HKEY_")) {
    return true;
  }
  u->currentUser = true;
  u->keyFolded = Fold(NormalizeKeyPath(inner));
  return true;
}

struct RawLine {
  std::string_view text;
  std::string_view eol;
};

std::vector<RawLine> SplitLines(std::string_view content) {
  std::vector<RawLine> lines;
  size_t pos = 0;
  while (pos < content.size()) {
    size_t nl = content.find('\n', pos);
    if (nl == std::string_view::npos) {
      lines.push_back({content.substr(pos), {}});
      break;
    }
    size_t end = (nl > pos && content[nl - 1] == '\r') ? nl - 1 : nl;
    lines.push_back({content.substr(pos, end - pos), content.substr(end, nl + 1 - end)});
    pos = nl + 1;
  }
  return lines;
}

// A value whose data is not a quoted string (hex data) continues on the next
// line while a line ends with "\"; the lines stay one unit.
void AbsorbContinuation(const std::vector<RawLine>& lines, size_t* i, Unit* u) {
  if (u->dataStart < u->text.size() && u->text[u->dataStart] == '"') return;
  while (!u->text.empty() && u->text.back() == '\\' && !u->eol.empty() && *i + 1 < lines.size()) {
    ++*i;
    u->text.append(u->eol);
    u->text.append(lines[*i].text);
    u->eol = std::string(lines[*i].eol);
  }
}

Units Parse(std::string_view content) {
  std::vector<RawLine> lines = SplitLines(content);
  Units units;
  int currentSection = -1;
  for (size_t i = 0; i < lines.size(); ++i) {
    Unit u;
    u.text = std::string(lines[i].text);
    u.eol = std::string(lines[i].eol);
    std::string name;
    if (ParseSectionLine(&u)) {
      currentSection = u.currentUser ? static_cast<int>(units.size()) : -1;
    } else if (ParseValueName(u.text, &name, &u.dataStart)) {
      u.kind = UnitKind::Value;
      u.section = currentSection;
      u.nameFolded = Fold(name);
      AbsorbContinuation(lines, &i, &u);
      ParseValueData(&u);
    }
    units.push_back(std::move(u));
  }
  return units;
}

std::string Serialize(const Units& units) {
  std::string out;
  for (size_t i = 0; i < units.size(); ++i) {
    out += units[i].text;
    // A last line without line end gets one when something now follows it.
    if (units[i].eol.empty() && i + 1 < units.size())
      out += kLineEnd;
    else
      out += units[i].eol;
  }
  return out;
}

// ---------------------------------------------------------------------------
// Queries and edits on the units. Keys and names passed here are normalized
// and folded.

bool IsSectionOf(const Unit& u, std::string_view keyFolded) {
  return u.kind == UnitKind::Section && u.currentUser && u.keyFolded == keyFolded;
}

// True when the key has its own section or a subkey has one.
bool KeyExists(const Units& units, std::string_view keyFolded) {
  for (const Unit& u : units) {
    if (u.kind != UnitKind::Section || !u.currentUser) continue;
    if (keyFolded.empty() || u.keyFolded == keyFolded) return true;
    if (u.keyFolded.size() > keyFolded.size() && u.keyFolded.compare(0, keyFolded.size(), keyFolded) == 0 &&
        u.keyFolded[keyFolded.size()] == '\\')
      return true;
  }
  return false;
}

int LastSectionOf(const Units& units, std::string_view keyFolded) {
  for (size_t i = units.size(); i-- > 0;)
    if (IsSectionOf(units[i], keyFolded)) return static_cast<int>(i);
  return -1;
}

bool IsValueOf(const Units& units, const Unit& u, std::string_view keyFolded, std::string_view nameFolded) {
  return u.kind == UnitKind::Value && u.section >= 0 && u.nameFolded == nameFolded &&
         IsSectionOf(units[static_cast<size_t>(u.section)], keyFolded);
}

// The last line naming the value wins, as when the file is read top to bottom
// and each line overrides the ones before.
int FindValue(const Units& units, std::string_view keyFolded, std::string_view nameFolded) {
  for (size_t i = units.size(); i-- > 0;)
    if (IsValueOf(units, units[i], keyFolded, nameFolded)) return static_cast<int>(i);
  return -1;
}

// Adds "[HKEY_CURRENT_USER\key]" and an empty line at the end of the file
// (after the REGEDIT4 header when the file is new); returns its index.
int AppendSection(Units* units, std::string_view key) {
  if (units->empty()) {
    units->push_back(MakeLine("REGEDIT4"));
    units->push_back(MakeLine(""));
  } else if (!IsBlankUnit(units->back())) {
    units->push_back(MakeLine(""));
  }
  std::string line = "[";
  line += kRootName;
  if (!key.empty()) line += "\\" + std::string(key);
  line += "]";
  Unit u = MakeLine(std::move(line));
  u.kind = UnitKind::Section;
  units->push_back(std::move(u));
  units->push_back(MakeLine(""));
  return static_cast<int>(units->size()) - 2;
}

// New values go after the last non-blank line of the section, so the empty
// line that separates it from the next section stays last.
void InsertIntoSection(Units* units, int section, Unit line) {
  size_t insertAt = static_cast<size_t>(section) + 1;
  for (size_t i = insertAt; i < units->size() && (*units)[i].kind != UnitKind::Section; ++i)
    if (!IsBlankUnit((*units)[i])) insertAt = i + 1;
  Unit& before = (*units)[insertAt - 1];
  if (before.eol.empty()) before.eol = kLineEnd;
  units->insert(units->begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(line));
}

// Changes the value where it stands (keeping how its name is written), or
// appends it to the key's last section, giving the key its own section when
// it exists only through a subkey. NoKey when the key does not exist.
RegStatus SetValue(Units* units, std::string_view key, std::string_view name, const std::string& data,
                   bool* changed) {
  std::string keyNorm = NormalizeKeyPath(key);
  std::string keyFolded = Fold(keyNorm);
  std::string nameNorm = NormalizeName(name);
  if (!KeyExists(*units, keyFolded)) return RegStatus::NoKey;
  int found = FindValue(*units, keyFolded, Fold(nameNorm));
  if (found >= 0) {
    Unit& u = (*units)[static_cast<size_t>(found)];
    std::string text = u.text.substr(0, u.dataStart) + data;
    if (text == u.text) return RegStatus::Ok;
    u.text = std::move(text);
    u.eol = kLineEnd;
    *changed = true;
    return RegStatus::Ok;
  }
  int section = LastSectionOf(*units, keyFolded);
  if (section < 0) {
    if (!IsStorableKey(keyNorm)) return RegStatus::IoError;
    section = AppendSection(units, keyNorm);
  }
  InsertIntoSection(units, section, MakeLine(FormatName(nameNorm) + "=" + data));
  *changed = true;
  return RegStatus::Ok;
}

// Removes every line of the value in every section of the key.
RegStatus DeleteValue(Units* units, std::string_view key, std::string_view name, bool* changed) {
  std::string keyFolded = Fold(NormalizeKeyPath(key));
  std::string nameFolded = Fold(NormalizeName(name));
  if (!KeyExists(*units, keyFolded)) return RegStatus::NoKey;
  int found = FindValue(*units, keyFolded, nameFolded);
  if (found < 0 || (*units)[static_cast<size_t>(found)].valueKind == ValueKind::Deleted) return RegStatus::NoValue;
  // Decide first, then move: the test looks at the owning section, which an
  // earlier move would have emptied. The section indexes of the kept values
  // go stale, which is fine because the result is only serialized.
  std::vector<bool> drop(units->size());
  for (size_t i = 0; i < units->size(); ++i) drop[i] = IsValueOf(*units, (*units)[i], keyFolded, nameFolded);
  Units kept;
  kept.reserve(units->size());
  for (size_t i = 0; i < units->size(); ++i)
    if (!drop[i]) kept.push_back(std::move((*units)[i]));
  *units = std::move(kept);
  *changed = true;
  return RegStatus::Ok;
}

// ---------------------------------------------------------------------------
// Files

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { Close(); }
  int get() const { return fd_; }
  // Closes now; false when close reported an error.
  bool Close() {
    if (fd_ < 0) return true;
    int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0 || errno == EINTR;
  }

 private:
  int fd_;
};

int OpenRetry(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

std::string ConfigDirectory() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && *xdg != '\0') return xdg;
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return std::string(home) + "/.config";
  // No HOME at all: the account's home directory from the user database.
  std::vector<char> buf(16384);
  passwd pw;
  passwd* result = nullptr;
  if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &result) == 0 && result != nullptr &&
      result->pw_dir != nullptr && *result->pw_dir != '\0')
    return std::string(result->pw_dir) + "/.config";
  return "";
}

std::string RegistryDirectory() {
  std::string base = ConfigDirectory();
  if (base.empty()) return "";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  if (base != "/") base += '/';
  return base + "registry";
}

// Creates `dir` and its missing parents.
bool MakeDirectories(const std::string& dir) {
  for (size_t pos = 1; pos <= dir.size(); ++pos) {
    if (pos < dir.size() && dir[pos] != '/') continue;
    std::string part = dir.substr(0, pos);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st;
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

struct FileContent {
  bool missing = true;
  std::string bytes;
  mode_t mode = 0600;
};

bool ReadAll(int fd, std::string* out) {
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    out->append(buf, static_cast<size_t>(n));
  }
}

// Reads the whole registry file in one go. A missing file (or directory) is
// success with `missing` set.
bool ReadRegistryFile(const std::string& path, FileContent* content) {
  *content = FileContent();
  Fd fd(OpenRetry(path.c_str(), O_RDONLY));
  if (fd.get() < 0) return errno == ENOENT || errno == ENOTDIR;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || !ReadAll(fd.get(), &content->bytes)) return false;
  content->missing = false;
  content->mode = st.st_mode & 07777;
  return true;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool FsyncRetry(int fd) {
  int rc;
  do {
    rc = ::fsync(fd);
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

// Makes the rename itself durable; a failure here does not undo the
// replacement, so it is not reported.
void SyncDirectory(const std::string& dir) {
  Fd fd(OpenRetry(dir.c_str(), O_RDONLY | O_DIRECTORY));
  if (fd.get() >= 0) FsyncRetry(fd.get());
}

// Writes `bytes` to a new temporary file beside `path`, flushes it and
// renames it over `path`. On failure the temporary file is removed.
bool ReplaceFile(const std::string& dir, const std::string& path, std::string_view bytes, mode_t mode) {
  std::string tmp = path + ".XXXXXX";
  Fd fd(::mkostemp(tmp.data(), O_CLOEXEC));
  if (fd.get() < 0) return false;
  bool ok = ::fchmod(fd.get(), mode) == 0 && WriteAll(fd.get(), bytes) && FsyncRetry(fd.get());
  ok = fd.Close() && ok;
  if (ok) ok = ::rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(tmp.c_str());
    return false;
  }
  SyncDirectory(dir);
  return true;
}

// Takes the writer lock, waiting for it. An open-file-description lock
// excludes other descriptions in this process as well as other processes;
// kernels without it get flock, which behaves the same way.
bool LockExclusive(int fd) {
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  int rc;
  do {
    rc = ::fcntl(fd, F_OFD_SETLKW, &fl);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return true;
  if (errno != EINVAL) return false;
  do {
    rc = ::flock(fd, LOCK_EX);
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

using Edit = std::function<RegStatus(Units*, bool* changed)>;

// One writer step under the lock: reread, edit, replace when changed. The
// lock goes with the lock file's descriptor when `lock` is closed.
RegStatus UpdateRegistry(const Edit& edit) {
  std::string dir = RegistryDirectory();
  if (dir.empty() || !MakeDirectories(dir)) return RegStatus::IoError;
  std::string path = dir + "/" + kFileName;
  Fd lock(OpenRetry((path + kLockSuffix).c_str(), O_RDWR | O_CREAT, 0600));
  if (lock.get() < 0 || !LockExclusive(lock.get())) return RegStatus::IoError;
  FileContent content;
  if (!ReadRegistryFile(path, &content)) return RegStatus::IoError;
  Units units = Parse(content.bytes);
  bool changed = false;
  RegStatus status = edit(&units, &changed);
  if (status != RegStatus::Ok || !changed) return status;
  if (!ReplaceFile(dir, path, Serialize(units), content.mode)) return RegStatus::IoError;
  return RegStatus::Ok;
}

// Reads and parses the file without locking; false on I/O errors.
bool LoadRegistry(Units* units) {
  std::string dir = RegistryDirectory();
  if (dir.empty()) return false;
  FileContent content;
  if (!ReadRegistryFile(dir + "/" + kFileName, &content)) return false;
  *units = Parse(content.bytes);
  return true;
}

// Finds the value for a reader: the unit, or the status that says why not.
RegStatus LookUp(const Units& units, std::string_view key, std::string_view name, const Unit** found) {
  std::string keyFolded = Fold(NormalizeKeyPath(key));
  if (!KeyExists(units, keyFolded)) return RegStatus::NoKey;
  int i = FindValue(units, keyFolded, Fold(NormalizeName(name)));
  if (i < 0 || units[static_cast<size_t>(i)].valueKind == ValueKind::Deleted) return RegStatus::NoValue;
  *found = &units[static_cast<size_t>(i)];
  return RegStatus::Ok;
}

RegStatus SetData(std::string_view key, std::string_view name, const std::string& data) {
  if (HasLineBreakOrNul(name)) return RegStatus::IoError;
  return UpdateRegistry([&](Units* units, bool* changed) { return SetValue(units, key, name, data, changed); });
}

}  // namespace

std::string RegistryFilePath() {
  try {
    std::string dir = RegistryDirectory();
    return dir.empty() ? std::string() : dir + "/" + kFileName;
  } catch (...) {
    return std::string();
  }
}

namespace {

// Reads the value `name` of `key` and, when it has the kind `want`, hands it
// to `store`.
template <typename Store>
RegStatus GetValue(std::string_view key, std::string_view name, ValueKind want, Store store) {
  try {
    Units units;
    if (!LoadRegistry(&units)) return RegStatus::IoError;
    const Unit* u = nullptr;
    RegStatus status = LookUp(units, key, name, &u);
    if (status != RegStatus::Ok) return status;
    if (u->valueKind != want) return RegStatus::WrongType;
    store(*u);
    return RegStatus::Ok;
  } catch (...) {
    return RegStatus::IoError;
  }
}

}  // namespace

RegStatus RegGetString(std::string_view key, std::string_view name, std::string* value) {
  return GetValue(key, name, ValueKind::String, [value](const Unit& u) { *value = u.str; });
}

RegStatus RegGetDword(std::string_view key, std::string_view name, uint32_t* value) {
  return GetValue(key, name, ValueKind::Dword, [value](const Unit& u) { *value = u.dword; });
}

bool RegKeyExists(std::string_view key) {
  try {
    Units units;
    return LoadRegistry(&units) && KeyExists(units, Fold(NormalizeKeyPath(key)));
  } catch (...) {
    return false;
  }
}

RegStatus RegCreateKey(std::string_view key) {
  try {
    std::string keyNorm = NormalizeKeyPath(key);
    if (!IsStorableKey(keyNorm)) return RegStatus::IoError;
    return UpdateRegistry([&](Units* units, bool* changed) {
      if (!KeyExists(*units, Fold(keyNorm))) {
        AppendSection(units, keyNorm);
        *changed = true;
      }
      return RegStatus::Ok;
    });
  } catch (...) {
    return RegStatus::IoError;
  }
}

RegStatus RegSetString(std::string_view key, std::string_view name, std::string_view value) {
  try {
    if (HasLineBreakOrNul(value)) return RegStatus::IoError;
    return SetData(key, name, Quote(value));
  } catch (...) {
    return RegStatus::IoError;
  }
}

RegStatus RegSetDword(std::string_view key, std::string_view name, uint32_t value) {
  try {
    return SetData(key, name, FormatDword(value));
  } catch (...) {
    return RegStatus::IoError;
  }
}

RegStatus RegDeleteValue(std::string_view key, std::string_view name) {
  try {
    return UpdateRegistry([&](Units* units, bool* changed) { return DeleteValue(units, key, name, changed); });
  } catch (...) {
    return RegStatus::IoError;
  }
}

}  // namespace plat
