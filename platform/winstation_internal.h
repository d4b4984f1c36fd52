// Helpers shared by the modules that keep sockets in the window station
// (windows and local RPC endpoints). Not for use outside platform/.
#pragma once

#include <string>

#include <sys/un.h>

namespace plat {

// Makes `path` and any missing parents with mode 0700. On failure errno
// tells why.
bool MakeDirectories(const std::string& path);

// Fills *addr for `path`; false with ENAMETOOLONG when it doesn't fit.
bool MakeUnixAddress(const std::string& path, sockaddr_un* addr);

}  // namespace plat
