// Threads and manual-reset events. An event carries a pollable descriptor, so
// that socket waits can wait on it too (see socket.h).
#pragma once

#include <functional>
#include <memory>
#include <thread>

namespace plat {

// Manual-reset event: once set it stays set, waking every waiter, until Reset.
class Event {
 public:
  // On success returns a new event in the given state; nullptr on failure.
  static std::shared_ptr<Event> Create(bool signalled);
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  ~Event();

  void Set();
  void Reset();
  bool IsSet() const;
  // Waits until the event is set or `timeoutMs` milliseconds have passed
  // (-1: no limit). Returns true when the event is set.
  bool Wait(int timeoutMs) const;
  // Readable exactly while the event is set; for poll.
  int fd() const { return fd_; }

 private:
  explicit Event(int fd) : fd_(fd) {}
  int fd_;
};

// A thread whose end can be waited for with a time limit. A thread that is
// neither joined nor finished when the object goes goes on running detached.
class Thread {
 public:
  Thread() = default;
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  ~Thread();

  // On success starts `body` on a new thread and returns true; on failure
  // stores the system error code in *err when not null and returns false.
  bool Start(std::function<void()> body, int* err = nullptr);
  // Waits until the thread has ended or `timeoutMs` has passed (-1: no
  // limit). Returns true when it has ended; then the thread is joined.
  bool Join(int timeoutMs);
  // Lets the thread run on by itself.
  void Detach();
  bool Started() const { return thread_ != nullptr; }

 private:
  struct State;
  std::shared_ptr<State> state_;
  std::unique_ptr<std::thread> thread_;
};

// Starts `body` on a thread that nobody waits for. Returns false with the
// system error code in *err when the thread can't be started.
bool StartDetachedThread(std::function<void()> body, int* err = nullptr);

void SleepMs(int ms);

}  // namespace plat
