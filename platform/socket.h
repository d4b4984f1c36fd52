// IPv4 TCP sockets. A receive, send or accept waits together with a stop
// event and gives up as soon as the event is set. Error codes are reported as
// the numbers of the server log's error table (WinSockError maps errno to
// them in one place). Sockets are close-on-exec; SIGPIPE must be ignored by
// the program (IgnoreSigpipe) so that a send to a closed peer fails instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/sync.h"

namespace plat {

// The code of the error table for an errno value (EADDRINUSE -> 10048, ...);
// a value with no counterpart is returned unchanged.
int WinSockError(int errnoValue);

void IgnoreSigpipe();

// How a socket operation ended.
enum class IoResult {
  Done,         // completed
  FailedAtOnce, // refused when started (*wsaErr tells why)
  Stopped,      // the stop event was set while the operation waited
  FailedLater,  // failed while it was pending (*wsaErr tells why)
};

// On success stores a new IPv4 stream socket in *fd and returns true;
// otherwise stores the error code and returns false.
bool CreateTcpSocket(int* fd, int* wsaErr);
// Binds to all local addresses (INADDR_ANY) and `port`.
//  - AddressReuse::Allow: the port may be taken again at once after an
//    earlier listener on it has gone (its connections linger in TIME_WAIT).
//    Two sockets bound this way at the same moment may both bind, and the
//    second then fails to listen.
//  - AddressReuse::Refuse: a port that any other socket holds, lingering or
//    bound but not yet listening, is refused with 10048 at bind.
enum class AddressReuse { Allow, Refuse };
bool BindAnyAddress(int fd, uint16_t port, AddressReuse reuse, int* wsaErr);
// Listens with `backlog` (clamped to what the system allows).
bool ListenSocket(int fd, int backlog, int* wsaErr);
// The port the socket is bound to, or 0.
uint16_t BoundPort(int fd);

// Accepts one connection, waiting until one arrives, the stop event is set
// or the socket is shut down (ShutdownSocket). On Done stores the new socket
// and the peer's IPv4 address in network byte order.
IoResult AcceptConnection(int listenFd, const Event& stop, int* clientFd,
                          uint32_t* peerAddress, int* wsaErr);

// Receives up to `len` bytes. On Done stores the number received, 0 when the
// peer has closed the connection.
IoResult ReceiveSome(int fd, char* buf, size_t len, const Event& stop, size_t* got,
                     int* wsaErr);
// Sends all `len` bytes.
IoResult SendAll(int fd, const char* buf, size_t len, const Event& stop, int* wsaErr);

// Ends both directions of the socket; wakes an AcceptConnection waiting on it.
void ShutdownSocket(int fd);
void CloseSocket(int fd);

// "a.b.c.d" for an IPv4 address in network byte order.
std::string DottedAddress(uint32_t netOrderAddress);

}  // namespace plat
