// IPv4 TCP sockets for the server. Every wait on a socket polls the socket
// and the stop event's descriptor together, so that setting the stop event
// ends any receive, send or accept at once. Errors leave this file as the
// numbers of the server log's error table, mapped from errno in one place.
#include "platform/socket.h"

#include <cerrno>
#include <csignal>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace plat {

int WinSockError(int e) {
  switch (e) {
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE: return 10024;
    case EAGAIN: return 10035;
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK: return 10035;
#endif
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case ECONNRESET: return 10054;
    // A send to a peer that has gone: the table has no broken-pipe code,
    // and the peer resetting the connection is what happened.
    case EPIPE: return 10054;
    case ENOBUFS: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN: return 10058;
    case ETOOMANYREFS: return 10059;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case ELOOP: return 10062;
    case ENAMETOOLONG: return 10063;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    case ENOTEMPTY: return 10066;
    case EUSERS: return 10068;
    case EDQUOT: return 10069;
    case ESTALE: return 10070;
    case EREMOTE: return 10071;
    default: return e;
  }
}

void IgnoreSigpipe() {
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = SIG_IGN;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGPIPE, &sa, nullptr);
}

namespace {

// Stores the mapped code of the current errno and returns false.
bool Fail(int* wsaErr) {
  if (wsaErr) *wsaErr = WinSockError(errno);
  return false;
}

IoResult FailWith(IoResult how, int errnoValue, int* wsaErr) {
  if (wsaErr) *wsaErr = WinSockError(errnoValue);
  return how;
}

enum class Ready { Socket, Stop, Error };

// Waits without a time limit until `fd` has one of `events` (or an error or
// hang-up condition) or the stop event is set. The stop event wins when both
// are ready, so a stop is never lost behind a stream of data. On Error errno
// tells why poll failed.
Ready WaitReady(int fd, short events, const Event& stop) {
  for (;;) {
    pollfd p[2] = {{fd, events, 0}, {stop.fd(), POLLIN, 0}};
    int n = poll(p, 2, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Ready::Error;
    }
    if (p[1].revents & POLLIN) return Ready::Stop;
    if (p[0].revents != 0) return Ready::Socket;
  }
}

}  // namespace

bool CreateTcpSocket(int* fd, int* wsaErr) {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (s < 0) return Fail(wsaErr);
  *fd = s;
  return true;
}

bool BindAnyAddress(int fd, uint16_t port, AddressReuse reuse, int* wsaErr) {
  // Reuse lets a restarted server take its port while connections of the
  // earlier run linger in TIME_WAIT; a second live listener is still refused.
  const int on = 1;
  if (reuse == AddressReuse::Allow &&
      setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) < 0)
    return Fail(wsaErr);
  sockaddr_in addr;
  std::memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_ANY);
  addr.sin_port = htons(port);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) < 0) return Fail(wsaErr);
  return true;
}

bool ListenSocket(int fd, int backlog, int* wsaErr) {
  if (backlog > SOMAXCONN) backlog = SOMAXCONN;
  if (backlog < 0) backlog = 0;
  if (listen(fd, backlog) < 0) return Fail(wsaErr);
  return true;
}

uint16_t BoundPort(int fd) {
  sockaddr_in addr;
  socklen_t len = sizeof addr;
  std::memset(&addr, 0, sizeof addr);
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) < 0) return 0;
  if (addr.sin_family != AF_INET) return 0;
  return ntohs(addr.sin_port);
}

IoResult AcceptConnection(int listenFd, const Event& stop, int* clientFd, uint32_t* peerAddress,
                          int* wsaErr) {
  for (;;) {
    Ready r = WaitReady(listenFd, POLLIN, stop);
    if (r == Ready::Stop) return IoResult::Stopped;
    if (r == Ready::Error) return FailWith(IoResult::FailedLater, errno, wsaErr);
    sockaddr_in addr;
    socklen_t len = sizeof addr;
    std::memset(&addr, 0, sizeof addr);
    int s = accept4(listenFd, reinterpret_cast<sockaddr*>(&addr), &len,
                    SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (s >= 0) {
      *clientFd = s;
      if (peerAddress) *peerAddress = addr.sin_addr.s_addr;
      return IoResult::Done;
    }
    // Another waiter took the connection, or the client gave up (EPROTO is
    // how the system reports some of those) before we took it: wait again.
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNABORTED || errno == EPROTO ||
        errno == EINTR)
      continue;
    // A socket shut down by ShutdownSocket lands here with EINVAL.
    return FailWith(IoResult::FailedLater, errno, wsaErr);
  }
}

namespace {

// One receive that never blocks; the result of recv, restarted after a signal.
ssize_t RecvNow(int fd, char* buf, size_t len) {
  for (;;) {
    ssize_t n = recv(fd, buf, len, MSG_DONTWAIT);
    if (n >= 0 || errno != EINTR) return n;
  }
}

// One send that never blocks and never raises SIGPIPE.
ssize_t SendNow(int fd, const char* buf, size_t len) {
  for (;;) {
    ssize_t n = send(fd, buf, len, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n >= 0 || errno != EINTR) return n;
  }
}

bool WouldBlock(int e) { return e == EAGAIN || e == EWOULDBLOCK; }

}  // namespace

IoResult ReceiveSome(int fd, char* buf, size_t len, const Event& stop, size_t* got, int* wsaErr) {
  ssize_t n = RecvNow(fd, buf, len);
  if (n < 0 && !WouldBlock(errno)) return FailWith(IoResult::FailedAtOnce, errno, wsaErr);
  while (n < 0) {
    Ready r = WaitReady(fd, POLLIN, stop);
    if (r == Ready::Stop) return IoResult::Stopped;
    if (r == Ready::Error) return FailWith(IoResult::FailedLater, errno, wsaErr);
    n = RecvNow(fd, buf, len);
    if (n < 0 && !WouldBlock(errno)) return FailWith(IoResult::FailedLater, errno, wsaErr);
  }
  *got = static_cast<size_t>(n);
  return IoResult::Done;
}

IoResult SendAll(int fd, const char* buf, size_t len, const Event& stop, int* wsaErr) {
  size_t sent = 0;
  // Only the very first send can be refused "at once"; once anything went
  // out or we waited, the operation was pending.
  bool pending = false;
  while (sent < len) {
    ssize_t n = SendNow(fd, buf + sent, len - sent);
    if (n >= 0) {
      sent += static_cast<size_t>(n);
      pending = true;
      continue;
    }
    if (!WouldBlock(errno))
      return FailWith(pending ? IoResult::FailedLater : IoResult::FailedAtOnce, errno, wsaErr);
    pending = true;
    Ready r = WaitReady(fd, POLLOUT, stop);
    if (r == Ready::Stop) return IoResult::Stopped;
    if (r == Ready::Error) return FailWith(IoResult::FailedLater, errno, wsaErr);
  }
  return IoResult::Done;
}

void ShutdownSocket(int fd) {
  if (fd >= 0) shutdown(fd, SHUT_RDWR);
}

void CloseSocket(int fd) {
  // close is not retried after EINTR: the descriptor is released anyway.
  if (fd >= 0) close(fd);
}

std::string DottedAddress(uint32_t netOrderAddress) {
  in_addr a;
  a.s_addr = netOrderAddress;
  char text[INET_ADDRSTRLEN];
  if (inet_ntop(AF_INET, &a, text, sizeof text) == nullptr) return std::string();
  return text;
}

}  // namespace plat
