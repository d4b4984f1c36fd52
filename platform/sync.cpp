// Threads and manual-reset events. An event is an eventfd whose counter is
// non-zero exactly while the event is set, so the descriptor is readable
// while set and socket waits can poll on it next to their socket. A Thread
// keeps its "done" event in state shared with the running body, so the
// Thread object may go away (detaching) while the body runs on.
#include "platform/sync.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <new>
#include <system_error>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace plat {

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until `deadline`, never below 0.
int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Polls `fd` for readability for up to `timeoutMs` (-1: no limit), restarting
// after a signal with the time that is left. True when readable.
bool PollReadable(int fd, int timeoutMs) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  int wait = timeoutMs;
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    int n = poll(&p, 1, wait);
    if (n > 0) return (p.revents & POLLIN) != 0;
    if (n == 0) return false;
    if (errno != EINTR) return false;
    if (timeoutMs >= 0) wait = RemainingMs(deadline);
  }
}

}  // namespace

// ---- Event ----

std::shared_ptr<Event> Event::Create(bool signalled) {
  int fd = eventfd(signalled ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (fd < 0) return nullptr;
  // The constructor is private, so make_shared can't reach it.
  Event* raw = new (std::nothrow) Event(fd);
  if (raw == nullptr) {
    close(fd);
    errno = ENOMEM;
    return nullptr;
  }
  return std::shared_ptr<Event>(raw);
}

Event::~Event() { close(fd_); }

void Event::Set() {
  // Adding to a counter that is already non-zero keeps it set; EAGAIN only
  // comes when the counter is near its limit, and then it is set anyway.
  const uint64_t one = 1;
  while (write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void Event::Reset() {
  // One read returns the whole counter and makes it zero; EAGAIN means it
  // was zero already.
  uint64_t value = 0;
  while (read(fd_, &value, sizeof value) < 0 && errno == EINTR) {
  }
}

bool Event::IsSet() const { return PollReadable(fd_, 0); }

bool Event::Wait(int timeoutMs) const { return PollReadable(fd_, timeoutMs < 0 ? -1 : timeoutMs); }

// ---- Thread ----

struct Thread::State {
  std::shared_ptr<Event> done;
};

Thread::~Thread() {
  if (thread_ && thread_->joinable()) thread_->detach();
}

bool Thread::Start(std::function<void()> body, int* err) {
  // A Thread object can start again once its earlier thread has ended.
  if (thread_) {
    if (!state_->done->IsSet()) {
      if (err) *err = EBUSY;
      return false;
    }
    Join(-1);
  }
  auto done = Event::Create(false);
  if (!done) {
    if (err) *err = errno;
    return false;
  }
  try {
    auto state = std::make_shared<State>();
    state->done = std::move(done);
    // The body sees only the shared state, never this object, which may be
    // gone by the time the body ends.
    auto run = [state, body = std::move(body)]() {
      body();
      state->done->Set();
    };
    auto thread = std::make_unique<std::thread>(std::move(run));
    state_ = std::move(state);
    thread_ = std::move(thread);
  } catch (const std::system_error& e) {
    if (err) *err = e.code().value();
    return false;
  } catch (const std::bad_alloc&) {
    if (err) *err = ENOMEM;
    return false;
  }
  return true;
}

bool Thread::Join(int timeoutMs) {
  // With no thread there is nothing to wait for.
  if (!thread_) return true;
  if (!state_->done->Wait(timeoutMs)) return false;
  // The body has returned; what is left of the thread ends at once.
  if (thread_->joinable()) {
    try {
      thread_->join();
    } catch (const std::system_error&) {
      return false;
    }
  }
  return true;
}

void Thread::Detach() {
  if (thread_ && thread_->joinable()) thread_->detach();
}

bool StartDetachedThread(std::function<void()> body, int* err) {
  try {
    std::thread(std::move(body)).detach();
  } catch (const std::system_error& e) {
    if (err) *err = e.code().value();
    return false;
  } catch (const std::bad_alloc&) {
    if (err) *err = ENOMEM;
    return false;
  }
  return true;
}

void SleepMs(int ms) {
  if (ms <= 0) return;
  timespec left{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  // nanosleep stores what is left when a signal cuts it short.
  while (nanosleep(&left, &left) < 0 && errno == EINTR) {
  }
}

}  // namespace plat
