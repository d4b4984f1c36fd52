// The server log: the error-text table, the date and time prefix and the
// one-write-per-line append.
#include "server/server_log.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "platform/file.h"
#include "server/server_config.h"

namespace {

struct ErrorText {
  int code;
  const char* text;
};

// Texts for the WinSock codes the log may report. Codes not listed have no
// text.
const ErrorText kErrorTexts[] = {
    {10004, "WSAEINTR: Interrupted function call"},
    {10009, "WSAEBADF: Bad file number"},
    {10013, "WSAEACCES: Permission denied"},
    {10014, "WSAEFAULT: Address fault"},
    {10022, "WSAEINVAL: Invalid argument"},
    {10024, "WSAEMFILE: Too many open files"},
    {10035, "WSAEWOULDBLOCK: Resource temporarily unavailable (Would block)"},
    {10036, "WSAEINPROGRESS: Operation now in progress"},
    {10037, "WSAEALREADY: Operation already in progress"},
    {10038, "WSAENOTSOCK: Socket operation on non-socket"},
    {10039, "WSAEDESTADDRREQ: Destination address required"},
    {10040, "WSAEMSGSIZE: Message too long"},
    {10041, "WSAEPROTOTYPE: Protocol wrong type for socket"},
    {10042, "WSAENOPROTOOPT: Bad protocol option"},
    {10043, "WSAEPROTONOSUPPORT: Protocol not supported"},
    {10044, "WSAESOCKTNOSUPPORT: Socket type not supported"},
    {10045, "WSAEOPNOTSUPP: Operation not supported"},
    {10046, "WSAEPFNOSUPPORT: Protocol family not supported"},
    {10047, "WSAEAFNOSUPPORT: Address family not supported by protocol family"},
    {10048, "WSAEADDRINUSE: Address already in use"},
    {10049, "WSAEADDRNOTAVAIL: Cannot assign requested address"},
    {10050, "WSAENETDOWN: Network is down"},
    {10051, "WSAENETUNREACH: Network is unreachable"},
    {10052, "WSAENETRESET: Network dropped connection on reset"},
    {10053, "WSAECONNABORTED: Software caused connection abort"},
    {10054, "WSAECONNRESET: Connection reset by peer"},
    {10055, "WSAENOBUFS: No buffer space available"},
    {10056, "WSAEISCONN: Socket is already connected"},
    {10057, "WSAENOTCONN: Socket is not connected"},
    {10058, "WSAESHUTDOWN: Cannot send after socket shutdown"},
    {10059, "WSAETOOMANYREFS: Too many references"},
    {10060, "WSAETIMEDOUT: Connection timed out"},
    {10061, "WSAECONNREFUSED: Connection refused"},
    {10062, "WSAELOOP: Loop"},
    {10063, "WSAENAMETOOLONG: Name too long"},
    {10064, "WSAEHOSTDOWN: Host is down"},
    {10065, "WSAEHOSTUNREACH: No route to host"},
    {10066, "WSAENOTEMPTY: Directory not empty"},
    {10067, "WSAEPROCLIM: Too many processes"},
    {10068, "WSAEUSERS: Too many users"},
    {10069, "WSAEDQUOT: Disk quota"},
    {10070, "WSAESTALE: Stale"},
    {10071, "WSAEREMOTE: Remote"},
    {10091, "WSASYSNOTREADY: Network subsystem is unavailable"},
    {10092, "WSAVERNOTSUPPORTED: WINSOCK.DLL version out of range"},
    {10093, "WSANOTINITIALISED: Successful WSAStartup() not yet performed"},
    {10101, "WSAEDISCON: Graceful shutdown in progress"},
    {11001, "WSAHOST_NOT_FOUND: Host not found"},
    {11002, "WSATRY_AGAIN: Non-authoritative host not found"},
    {11003, "WSANO_RECOVERY: Non-recoverable error"},
    {11004, "WSANO_DATA: Valid name no data record of requested type"},
};

// "MM/DD/YY HH:MM:SS " in local time.
std::string DateTimePrefix() {
  time_t now = time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  char buf[32];
  size_t n = strftime(buf, sizeof buf, "%m/%d/%y %H:%M:%S ", &local);
  return std::string(buf, n);
}

// Appends one whole line (prefix, message, CR LF) in a single write.
void AppendLine(const std::string& message) {
  std::string line = DateTimePrefix();
  line += message;
  line += "\r\n";
  plat::File file;
  if (!file.Open(LogFilePath(), plat::OpenMode::Append)) return;
  file.Write(line.data(), line.size());
}

}  // namespace

const char* LogErrorText(int code) {
  for (const ErrorText& e : kErrorTexts)
    if (e.code == code) return e.text;
  return "";
}

std::string LogFilePath() { return gServerConfig.installDir + "/Tavrel.log"; }

void WriteLog(OwnerWindow owner, const char* text, int code) {
  if (code == 0) {
    AppendLine(text);
    return;
  }
  // The format is one of the server's own messages with a single "%s".
  char message[512];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  int n = snprintf(message, sizeof message, text, LogErrorText(code));
#pragma GCC diagnostic pop
  if (n < 0) return;
  std::string line(message, static_cast<size_t>(n) < sizeof message ? n : sizeof message - 1);
  line += " (" + std::to_string(code) + ")";
  AppendLine(line);
}

void WriteLogf(OwnerWindow owner, const char* format, ...) {
  char message[256];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(message, sizeof message, format, args);
  va_end(args);
  if (n < 0) return;
  AppendLine(message);
}
