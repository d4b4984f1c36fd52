// Test support: a raw HTTP client over loopback. It sends the request bytes
// as given (optionally in several pieces with pauses, to split them over
// TCP segments) and reads everything until the server closes.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// Connects to 127.0.0.1:port; -1 on failure.
inline int ConnectLoopback(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

inline bool SendText(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Reads until the peer closes or `timeoutMs` passes without data. Sets
// *closed to whether the peer closed.
inline std::string ReadAll(int fd, int timeoutMs = 5000, bool* closed = nullptr) {
  std::string out;
  char buf[4096];
  if (closed) *closed = false;
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    int r = poll(&p, 1, timeoutMs);
    if (r <= 0) return out;
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) {
      if (closed) *closed = true;
      return out;
    }
    out.append(buf, static_cast<size_t>(n));
  }
}

// Sends the pieces one by one with a pause between them, then reads the
// whole answer.
inline std::string Exchange(int port, const std::vector<std::string>& pieces, int pauseMs = 0) {
  int fd = ConnectLoopback(port);
  if (fd < 0) return "<no connection>";
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (i > 0 && pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    SendText(fd, pieces[i]);
  }
  std::string answer = ReadAll(fd);
  close(fd);
  return answer;
}

inline std::string Exchange(int port, const std::string& request) {
  return Exchange(port, std::vector<std::string>{request});
}

}  // namespace testsupport
