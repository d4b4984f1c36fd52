// Default documents of directories and the redirect to them.
#include "server/default_document.h"

#include <string>
#include <vector>

#include "platform/fileattr.h"
#include "platform/paths.h"
#include "server/response.h"
#include "server/server.h"
#include "server/server_config.h"

namespace {

constexpr size_t kMaxCandidateBytes = 259;

std::vector<std::string> DefaultNames(const std::string& list) {
  std::vector<std::string> names;
  std::string name;
  for (char ch : list + " ") {
    if (ch == ' ' || ch == ',' || ch == ';') {
      if (!name.empty()) names.push_back(name);
      name.clear();
    } else {
      name += ch;
    }
  }
  return names;
}

// True when `candidate` names an existing file that is not a directory.
// Names below the root may differ in case from the disk, as everywhere.
bool IsDocument(const std::string& candidate) {
  if (candidate.size() > kMaxCandidateBytes) return false;
  std::string existing;
  uint32_t attributes = 0;
  if (!plat::ResolvePathCase(candidate, gServerConfig.rootDir, &existing) ||
      !plat::GetFileAttributes(existing, &attributes))
    return false;
  return !(attributes & plat::kAttrDirectory);
}

// Percent-encodes the bytes that can't stand in the path of an address
// (blanks, controls, "%", "?", "#" and bytes above 127), so that a name like
// "my docs/index.html" reaches the browser as one working address.
std::string EncodeAddressPath(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char ch : path) {
    if (ch <= 0x20 || ch >= 0x7F || ch == '%' || ch == '?' || ch == '#') {
      out += '%';
      out += kHex[ch >> 4];
      out += kHex[ch & 15];
    } else {
      out += static_cast<char>(ch);
    }
  }
  return out;
}

}  // namespace

std::string DefaultDocumentLocation(const std::string& addressPath, bool portFree, int port,
                                    const std::string& hostName) {
  std::string line = "Location: http://";
  if (portFree) line += "portfree-";
  line += hostName;
  if (portFree || port != 80) line += ":" + std::to_string(port);
  line += EncodeAddressPath(addressPath);
  line += "\r\n\r\n";
  return line;
}

bool RedirectToDefaultDocument(Connection& c) {
  const std::string& root = gServerConfig.rootDir;
  std::string found;
  for (const std::string& name : DefaultNames(gServerConfig.defaultHtml)) {
    std::string candidate = c.path + (c.path == "/" ? "" : "/") + name;
    if (IsDocument(candidate)) {
      found = candidate;
      break;
    }
  }
  if (found.empty()) return false;
  std::string addressPath = root == "/" ? found : found.substr(root.size());
  c.path = DefaultDocumentLocation(addressPath, gServerConfig.portFree, ServerPort(),
                                   gServerConfig.hostName);
  if (SendStatusLine(c, 302, false)) SendBlock(c, c.path);
  return true;
}
