// Local RPC over Unix stream sockets in the window station. Both sides read
// with a deadline, so that a peer that stops half way can't hang the other.
#include "platform/localrpc.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/winstation.h"
#include "platform/winstation_internal.h"

namespace plat {

namespace {

using Clock = std::chrono::steady_clock;

// A server reads a request for at most this long once a client connected.
constexpr int kRequestTimeoutMs = 5000;

std::string EndpointDirectory() { return WinstationDirectory() + "/ncalrpc"; }

void Put(std::string* out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<char>(v >> (8 * i)));
}

uint64_t Get(const unsigned char* in, int bytes) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= static_cast<uint64_t>(in[i]) << (8 * i);
  return v;
}

void PutText(std::string* out, const std::optional<std::string>& text) {
  Put(out, text ? text->size() : kAbsentRpcText, 4);
  if (text) out->append(*text);
}

int MsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Reads exactly len bytes before the deadline (no deadline when it is
// Clock::time_point::max()).
bool ReadExact(int fd, void* buf, size_t len, Clock::time_point deadline) {
  char* p = static_cast<char*>(buf);
  while (len > 0) {
    pollfd pfd{fd, POLLIN, 0};
    int wait = deadline == Clock::time_point::max() ? -1 : MsLeft(deadline);
    int rc = poll(&pfd, 1, wait);
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0) return false;
    ssize_t n = recv(fd, p, len, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Reads a length-prefixed text (the length already read).
bool ReadText(int fd, uint32_t len, std::optional<std::string>* text, Clock::time_point deadline) {
  if (len == kAbsentRpcText) {
    text->reset();
    return true;
  }
  if (len > kMaxRpcTextBytes) return false;
  std::string bytes(len, '\0');
  if (len > 0 && !ReadExact(fd, bytes.data(), len, deadline)) return false;
  *text = std::move(bytes);
  return true;
}

int ConnectTo(const std::string& path) {
  sockaddr_un addr;
  if (!MakeUnixAddress(path, &addr)) return -1;
  int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return -1;
  int rc;
  do {
    rc = connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  } while (rc < 0 && errno == EINTR);
  if (rc == 0) return s;
  close(s);
  return -1;
}

}  // namespace

std::string RpcEndpointPath(std::string_view endpoint) {
  return EndpointDirectory() + "/" + std::string(endpoint);
}

bool RpcCall(std::string_view endpoint, uint16_t procedure, uint16_t code,
             const std::optional<std::string>& input, int timeoutMs, RpcReply* reply) {
  if (input && input->size() > kMaxRpcTextBytes) return false;
  int s = ConnectTo(RpcEndpointPath(endpoint));
  if (s < 0) return false;
  std::string request;
  Put(&request, procedure, 2);
  Put(&request, code, 2);
  PutText(&request, input);
  auto deadline = timeoutMs < 0 ? Clock::time_point::max()
                                : Clock::now() + std::chrono::milliseconds(timeoutMs);
  unsigned char head[8];
  bool ok = WriteAll(s, request) && ReadExact(s, head, sizeof head, deadline);
  if (ok) {
    reply->status = static_cast<uint32_t>(Get(head, 4));
    ok = ReadText(s, static_cast<uint32_t>(Get(head + 4, 4)), &reply->output, deadline);
  }
  close(s);
  return ok;
}

RpcServer::~RpcServer() { Close(); }

bool RpcServer::Listen(std::string_view endpoint, int* err) {
  auto fail = [&](int e) {
    if (err) *err = e;
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    return false;
  };
  if (fd_ >= 0) return fail(EBUSY);
  if (endpoint.empty() || endpoint.find('/') != std::string_view::npos || endpoint == "." ||
      endpoint == "..")
    return fail(EINVAL);
  std::string path = RpcEndpointPath(endpoint);
  sockaddr_un addr;
  if (!MakeUnixAddress(path, &addr)) return fail(ENAMETOOLONG);
  if (!MakeDirectories(EndpointDirectory())) return fail(errno);
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) {
    int probe = ConnectTo(path);
    if (probe >= 0) {
      close(probe);
      return fail(EEXIST);
    }
    if (S_ISSOCK(st.st_mode)) unlink(path.c_str());
  }
  fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return fail(errno);
  if (bind(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) < 0) return fail(errno);
  if (listen(fd_, 16) < 0) {
    int e = errno;
    unlink(path.c_str());
    return fail(e);
  }
  path_ = path;
  if (lstat(path.c_str(), &st) == 0) {
    dev_ = st.st_dev;
    ino_ = st.st_ino;
  }
  return true;
}

bool RpcServer::ServeOne(const RpcHandler& handler, int timeoutMs) {
  if (fd_ < 0) return false;
  pollfd pfd{fd_, POLLIN, 0};
  int rc;
  do {
    rc = poll(&pfd, 1, timeoutMs);
  } while (rc < 0 && errno == EINTR);
  if (rc <= 0) return false;
  int c;
  do {
    c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
  } while (c < 0 && errno == EINTR);
  if (c < 0) return false;
  auto deadline = Clock::now() + std::chrono::milliseconds(kRequestTimeoutMs);
  unsigned char head[8];
  std::optional<std::string> input;
  bool ok = ReadExact(c, head, sizeof head, deadline) &&
            ReadText(c, static_cast<uint32_t>(Get(head + 4, 4)), &input, deadline);
  if (ok) {
    std::optional<std::string> output;
    uint32_t status = handler(static_cast<uint16_t>(Get(head, 2)),
                              static_cast<uint16_t>(Get(head + 2, 2)), input, &output);
    if (output && output->size() > kMaxRpcTextBytes) output->resize(kMaxRpcTextBytes);
    std::string replyBytes;
    Put(&replyBytes, status, 4);
    PutText(&replyBytes, output);
    WriteAll(c, replyBytes);
  }
  close(c);
  return ok;
}

void RpcServer::Close() {
  if (fd_ < 0) return;
  close(fd_);
  fd_ = -1;
  // Remove the file only while it is still ours to remove: a later server
  // may have replaced it since.
  struct stat st;
  if (!path_.empty() && lstat(path_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_)
    unlink(path_.c_str());
  path_.clear();
}

}  // namespace plat
