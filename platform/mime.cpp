// MIME types of file extensions from a MIME database file: lines
// "type ext1 ext2 ..." with fields separated by blanks or tabs, "#" comment
// lines and empty lines. The first type that lists an extension wins. The
// system database is parsed once per process and kept, because the server
// looks a type up for every file it sends; other files are read on each call.
#include "platform/mime.h"

#include <cerrno>
#include <exception>
#include <unordered_map>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace plat {

namespace {

using MimeTable = std::unordered_map<std::string, std::string>;  // extension -> type

constexpr const char* kSystemDatabase = "/etc/mime.types";

std::string ToLowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// On success stores the whole content of `path` and returns true.
bool ReadWholeFile(const std::string& path, std::string* out) {
  int fd;
  do {
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  out->clear();
  char buf[8192];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      out->append(buf, static_cast<size_t>(n));
      continue;
    }
    if (n == 0) break;
    if (errno == EINTR) continue;
    close(fd);
    return false;
  }
  close(fd);
  return true;
}

// Splits one line into its fields; a field beginning with "#" ends the line.
std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i == line.size() || line[i] == '#') break;
    size_t start = i;
    while (i < line.size() && !IsBlank(line[i])) ++i;
    fields.push_back(line.substr(start, i - start));
  }
  return fields;
}

// Adds the extensions of one line; an extension already listed keeps its
// earlier type.
void AddLine(std::string_view line, MimeTable* table) {
  std::vector<std::string_view> fields = Fields(line);
  for (size_t i = 1; i < fields.size(); ++i)
    table->emplace(ToLowerAscii(fields[i]), std::string(fields[0]));
}

MimeTable Parse(std::string_view text) {
  MimeTable table;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    AddLine(text.substr(start, end - start), &table);
    start = end + 1;
  }
  return table;
}

bool Find(const MimeTable& table, std::string_view extension, std::string* type) {
  if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
  if (extension.empty()) return false;
  auto it = table.find(ToLowerAscii(extension));
  if (it == table.end()) return false;
  *type = it->second;
  return true;
}

// The system database, loaded on first use; an unreadable file gives an
// empty table. Initialising a function-local static is thread-safe.
const MimeTable& SystemTable() {
  static const MimeTable table = [] {
    std::string text;
    return ReadWholeFile(kSystemDatabase, &text) ? Parse(text) : MimeTable();
  }();
  return table;
}

}  // namespace

bool LookupMimeType(std::string_view extension, std::string* type) {
  try {
    return Find(SystemTable(), extension, type);
  } catch (const std::exception&) {
    return false;  // out of memory while loading or copying
  }
}

bool LookupMimeTypeIn(const std::string& databasePath, std::string_view extension,
                      std::string* type) {
  try {
    std::string text;
    if (!ReadWholeFile(databasePath, &text)) return false;
    return Find(Parse(text), extension, type);
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace plat
