// The per-user window station: top-level windows found by class name and the
// messages posted to them.
//
//   ${XDG_RUNTIME_DIR:-/tmp/runtime-$UID}/winstation/windows/<class in lower case>
//
// is a Unix datagram socket bound by the program that owns a window of that
// class. Finding a window means that socket exists and accepts a datagram; a
// stale socket file (nobody bound) is removed. A posted message is one
// datagram of 20 bytes: message (uint32), wParam (int64), lParam (int64),
// little-endian.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace plat {

struct PostedMessage {
  uint32_t message = 0;
  int64_t wParam = 0;
  int64_t lParam = 0;
};

// The window station's directory for the current environment.
std::string WinstationDirectory();

// True when a window of the class exists (class names compare without regard
// to ASCII case).
bool FindWindowByClass(std::string_view className);

// Posts a message to the window of the class; true when it was delivered to
// its queue, false when there is no such window or its queue is full.
bool PostMessageToClass(std::string_view className, const PostedMessage& msg);

// A top-level window owned by this process: the socket that receives its
// posted messages. Destroying it removes the window.
class Window {
 public:
  Window() = default;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;
  ~Window();

  // Creates the window of the class. Fails (false, errno in *err) when the
  // directory can't be made or a live window of that class already exists
  // (EEXIST), the socket path is too long (ENAMETOOLONG), the name is not
  // one file name (EINVAL: empty, ".", "..", or with "/"), or this object
  // already holds a window (EBUSY). A stale socket file is replaced.
  bool Create(std::string_view className, int* err = nullptr);
  // Closes the window and removes its socket file if the path still names
  // the file this window bound. Does nothing when no window is open.
  void Destroy();
  bool IsOpen() const { return fd_ >= 0; }
  const std::string& className() const { return className_; }

  // Waits up to `timeoutMs` (-1: no limit) for the next posted message.
  // True with the message; false when none arrived in time.
  bool Receive(PostedMessage* msg, int timeoutMs);
  // Readable while a message is queued; for poll.
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  std::string className_;
  std::string path_;
  // The identity (device, inode) of the socket file bound at path_, so that
  // Destroy removes the file only while it is still this window's.
  uint64_t pathDev_ = 0;
  uint64_t pathIno_ = 0;
};

}  // namespace plat
