// The server's settings: one process-wide record, loaded from the current
// user's registry key "SOFTWARE\Quorval\Tavrel" at program start and saved
// back by the Properties dialog. Client threads read it without a lock; it
// changes only while the server is stopped.
#pragma once

#include <cstdint>
#include <string>

// Registry key of the server's settings.
extern const char* const kServerKey;

struct ServerConfig {
  std::string installDir;   // InstallDir: holds Tavrel.log and Filter.cfg
  std::string rootDir;      // RootDir: absolute, normalised; all served files lie under it
  std::string defaultHtml;  // DefaultHTML: default documents, blank/comma/semicolon separated
  uint32_t cgiWaitTime = 0xFFFFFFFF;  // CgiWaitTime: stored and written back only
  int port = 80;            // Port; in port-free mode the port of the current start
  bool portFree = false;    // PortFree: a random port from 10000 to 19999 at every start
  std::string hostName;     // public host name, supplied by the host program
};

extern ServerConfig gServerConfig;

// Limits of the stored strings, terminating NUL included: a longer value
// can't be read and takes its default.
constexpr size_t kPathValueBytes = 260;
constexpr size_t kDefaultHtmlBytes = 513;

// Reads InstallDir, RootDir, DefaultHTML, CgiWaitTime, Port and PortFree in
// that order into gServerConfig. A value that can't be read (missing key or
// value, wrong type, too long; an empty directory) takes its default: the
// current directory, the install directory, "index.html", 0xFFFFFFFF, 80, 0. The root directory is
// made absolute and normalised. In port-free mode the port becomes 0.
void LoadConfig();

// Writes RootDir, DefaultHTML, CgiWaitTime, Port (only when port-free mode is
// off) and PortFree, creating the key when it doesn't exist. InstallDir is
// never written. Returns the result of the last write.
bool SaveConfig();
