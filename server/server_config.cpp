// Loading and saving the server's settings in the registry.
#include "server/server_config.h"

#include "platform/paths.h"
#include "platform/registry.h"

const char* const kServerKey = "SOFTWARE\\Quorval\\Tavrel";

ServerConfig gServerConfig;

namespace {

// A string value that fits in `limit` bytes with its NUL, else `fallback`.
std::string ReadString(const char* name, size_t limit, const std::string& fallback) {
  std::string value;
  if (plat::RegGetString(kServerKey, name, &value) != plat::RegStatus::Ok) return fallback;
  if (value.size() + 1 > limit) return fallback;
  return value;
}

// The same for a directory: an empty value names no directory at all (the
// log would land in "/"), so it counts as missing.
std::string ReadDirectory(const char* name, const std::string& fallback) {
  std::string value = ReadString(name, kPathValueBytes, fallback);
  return value.empty() ? fallback : value;
}

uint32_t ReadNumber(const char* name, uint32_t fallback) {
  uint32_t value = 0;
  if (plat::RegGetDword(kServerKey, name, &value) != plat::RegStatus::Ok) return fallback;
  return value;
}

}  // namespace

void LoadConfig() {
  ServerConfig& c = gServerConfig;
  c.installDir = plat::ToSlashes(ReadDirectory("InstallDir", plat::CurrentDirectory()));
  std::string root = ReadDirectory("RootDir", c.installDir);
  std::string full;
  // A root that can't be normalised stays as given; every request below it
  // then fails the containment test and gets 404.
  c.rootDir = plat::FullPath(root, kPathValueBytes, &full) ? full : plat::ToSlashes(root);
  // A trailing separator would make the containment test refuse everything
  // below the root; "/" itself stays as it is.
  while (c.rootDir.size() > 1 && c.rootDir.back() == '/') c.rootDir.pop_back();
  c.defaultHtml = ReadString("DefaultHTML", kDefaultHtmlBytes, "index.html");
  c.cgiWaitTime = ReadNumber("CgiWaitTime", 0xFFFFFFFF);
  c.port = static_cast<int>(ReadNumber("Port", 80));
  c.portFree = ReadNumber("PortFree", 0) != 0;
  if (c.portFree) c.port = 0;
}

bool SaveConfig() {
  const ServerConfig& c = gServerConfig;
  if (!plat::RegKeyExists(kServerKey) && plat::RegCreateKey(kServerKey) != plat::RegStatus::Ok)
    return false;
  plat::RegStatus last = plat::RegSetString(kServerKey, "RootDir", c.rootDir);
  last = plat::RegSetString(kServerKey, "DefaultHTML", c.defaultHtml);
  last = plat::RegSetDword(kServerKey, "CgiWaitTime", c.cgiWaitTime);
  if (!c.portFree) last = plat::RegSetDword(kServerKey, "Port", static_cast<uint32_t>(c.port));
  last = plat::RegSetDword(kServerKey, "PortFree", c.portFree ? 1 : 0);
  return last == plat::RegStatus::Ok;
}
