// The per-user window station. A window of class C is a Unix datagram socket
// at <station>/windows/<c in lower case>, bound by the process that owns the
// window; other processes find it by connecting to that path and post
// messages to it as 20-byte datagrams. A socket file left behind by a process
// that ended without destroying its window refuses connections; whoever
// meets it first removes it.
#include "platform/winstation.h"
#include "platform/winstation_internal.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace plat {

// Makes `path` and any missing parents with mode 0700. On failure errno
// tells why.
bool MakeDirectories(const std::string& path) {
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos != path.size() && path[pos] != '/') continue;
    std::string prefix = path.substr(0, pos);
    if (mkdir(prefix.c_str(), 0700) == 0) continue;
    if (errno != EEXIST) return false;
    struct stat st;
    if (stat(prefix.c_str(), &st) < 0) return false;
    if (!S_ISDIR(st.st_mode)) {
      errno = ENOTDIR;
      return false;
    }
  }
  return true;
}

// Fills *addr for `path`; false with ENAMETOOLONG when it doesn't fit.
bool MakeUnixAddress(const std::string& path, sockaddr_un* addr) {
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  if (path.size() >= sizeof addr->sun_path) {
    errno = ENAMETOOLONG;
    return false;
  }
  std::memcpy(addr->sun_path, path.data(), path.size());
  return true;
}

namespace {

constexpr size_t kMessageSize = 20;

// The identity of a file, to tell whether a path still names the file we saw.
struct FileId {
  dev_t dev = 0;
  ino_t ino = 0;
  bool operator==(const FileId& o) const { return dev == o.dev && ino == o.ino; }
};

std::string ToLowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// A class name must make one file name of its own.
bool ValidClassName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name)
    if (c == '/' || c == '\0') return false;
  return true;
}

std::string WindowsDirectory() { return WinstationDirectory() + "/windows"; }

std::string WindowPath(std::string_view className) {
  return WindowsDirectory() + "/" + ToLowerAscii(className);
}

// True with its identity when `path` is a socket file.
bool SocketFileAt(const std::string& path, FileId* id) {
  struct stat st;
  if (lstat(path.c_str(), &st) < 0 || !S_ISSOCK(st.st_mode)) return false;
  id->dev = st.st_dev;
  id->ino = st.st_ino;
  return true;
}

// Removes the socket file at `path` only if it is still the file `id`, so
// that a window bound there since we looked is left alone.
void RemoveIfSame(const std::string& path, const FileId& id) {
  FileId now;
  if (SocketFileAt(path, &now) && now == id) unlink(path.c_str());
}

enum class Probe { Live, Stale, Missing };

// Connects a new datagram socket to the window at `path`. On Live the
// connected socket is stored in *fd (the caller closes it); a stale socket
// file is removed.
Probe Connect(const std::string& path, int* fd) {
  FileId id;
  if (!SocketFileAt(path, &id)) return Probe::Missing;
  sockaddr_un addr;
  if (!MakeUnixAddress(path, &addr)) return Probe::Missing;
  int s = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) return Probe::Missing;
  int rc;
  do {
    rc = connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  } while (rc < 0 && errno == EINTR);
  if (rc == 0) {
    *fd = s;
    return Probe::Live;
  }
  const int e = errno;
  close(s);
  if (e == ECONNREFUSED) {
    RemoveIfSame(path, id);
    return Probe::Stale;
  }
  return Probe::Missing;
}

void EncodeLE(uint64_t v, unsigned char* out, int bytes) {
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<unsigned char>(v >> (8 * i));
}

uint64_t DecodeLE(const unsigned char* in, int bytes) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= static_cast<uint64_t>(in[i]) << (8 * i);
  return v;
}

void Encode(const PostedMessage& m, unsigned char* out) {
  EncodeLE(m.message, out, 4);
  EncodeLE(static_cast<uint64_t>(m.wParam), out + 4, 8);
  EncodeLE(static_cast<uint64_t>(m.lParam), out + 12, 8);
}

PostedMessage Decode(const unsigned char* in) {
  PostedMessage m;
  m.message = static_cast<uint32_t>(DecodeLE(in, 4));
  m.wParam = static_cast<int64_t>(DecodeLE(in + 4, 8));
  m.lParam = static_cast<int64_t>(DecodeLE(in + 12, 8));
  return m;
}

}  // namespace

std::string WinstationDirectory() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string base = (runtime && *runtime) ? runtime
                                           : "/tmp/runtime-" + std::to_string(getuid());
  return base + "/winstation";
}

bool FindWindowByClass(std::string_view className) {
  if (!ValidClassName(className)) return false;
  int fd = -1;
  if (Connect(WindowPath(className), &fd) != Probe::Live) return false;
  close(fd);
  return true;
}

bool PostMessageToClass(std::string_view className, const PostedMessage& msg) {
  if (!ValidClassName(className)) return false;
  const std::string path = WindowPath(className);
  int fd = -1;
  if (Connect(path, &fd) != Probe::Live) return false;
  unsigned char buf[kMessageSize];
  Encode(msg, buf);
  ssize_t n;
  do {
    // Never wait on a window that doesn't read its queue: a full queue
    // (EAGAIN) is a failed post.
    n = send(fd, buf, sizeof buf, MSG_DONTWAIT | MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  const int e = errno;
  close(fd);
  if (n == static_cast<ssize_t>(sizeof buf)) return true;
  // The owner went away between connect and send: probing again removes
  // the file it left behind.
  if (n < 0 && e == ECONNREFUSED && Connect(path, &fd) == Probe::Live) close(fd);
  return false;
}

Window::~Window() { Destroy(); }

bool Window::Create(std::string_view className, int* err) {
  auto fail = [err](int e) {
    if (err) *err = e;
    return false;
  };
  if (fd_ >= 0) return fail(EBUSY);
  if (!ValidClassName(className)) return fail(EINVAL);
  const std::string path = WindowPath(className);
  sockaddr_un addr;
  if (!MakeUnixAddress(path, &addr)) return fail(ENAMETOOLONG);
  if (!MakeDirectories(WindowsDirectory())) return fail(errno);

  int s = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) return fail(errno);
  // A stale file is removed and the bind tried again; a few rounds allow for
  // another process racing us for the same class.
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (bind(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
      // Remember which file we bound, for Destroy.
      FileId id;
      if (!SocketFileAt(path, &id)) {
        close(s);
        return fail(ENOENT);
      }
      fd_ = s;
      className_ = std::string(className);
      path_ = path;
      pathDev_ = id.dev;
      pathIno_ = id.ino;
      return true;
    }
    const int e = errno;
    if (e != EADDRINUSE) {
      close(s);
      return fail(e);
    }
    int probe = -1;
    Probe p = Connect(path, &probe);
    if (p == Probe::Live) {
      close(probe);
      close(s);
      return fail(EEXIST);
    }
    // Something that is not a socket holds the name: leave it alone.
    FileId id;
    if (p == Probe::Missing && access(path.c_str(), F_OK) == 0 && !SocketFileAt(path, &id)) {
      close(s);
      return fail(EEXIST);
    }
  }
  close(s);
  return fail(EEXIST);
}

void Window::Destroy() {
  if (fd_ < 0) return;
  // Unlink before closing, so nobody meets a stale file of ours; and only if
  // the path still names the socket we bound.
  RemoveIfSame(path_, FileId{static_cast<dev_t>(pathDev_), static_cast<ino_t>(pathIno_)});
  close(fd_);
  fd_ = -1;
  className_.clear();
  path_.clear();
}

bool Window::Receive(PostedMessage* msg, int timeoutMs) {
  if (fd_ < 0) return false;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int wait = -1;
    if (timeoutMs >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      wait = left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }
    pollfd p{fd_, POLLIN, 0};
    int n = poll(&p, 1, wait);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    // One byte more than a message, so that a longer datagram shows.
    unsigned char buf[kMessageSize + 1];
    ssize_t got = recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      return false;
    }
    if (got != static_cast<ssize_t>(kMessageSize)) continue;  // not a message: skip it
    *msg = Decode(buf);
    return true;
  }
}

}  // namespace plat
