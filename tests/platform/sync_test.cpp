// Tests of the manual-reset events and threads with time-limited joins.
// Threads that must outlive their Thread object wait on events the test owns
// and report their end through another event, so no test leaves a thread
// running behind it.
#include "platform/sync.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

bool FdReadable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

TEST(EventTest, InitialStateFollowsCreate) {
  for (bool signalled : {false, true}) {
    SCOPED_TRACE(signalled ? "created set" : "created clear");
    auto e = plat::Event::Create(signalled);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->IsSet(), signalled);
    EXPECT_EQ(e->Wait(0), signalled);
    EXPECT_EQ(FdReadable(e->fd()), signalled);
  }
}

TEST(EventTest, DescriptorIsCloseOnExec) {
  auto e = plat::Event::Create(false);
  ASSERT_NE(e, nullptr);
  int flags = fcntl(e->fd(), F_GETFD);
  ASSERT_GE(flags, 0);
  EXPECT_TRUE(flags & FD_CLOEXEC);
}

// Waiting must not consume the signal, and repeated Sets must be undone by
// one Reset (the descriptor is readable exactly while set).
TEST(EventTest, StaysSetUntilResetAndFdFollows) {
  auto e = plat::Event::Create(false);
  ASSERT_NE(e, nullptr);
  e->Set();
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(e->Wait(0));
    EXPECT_TRUE(e->Wait(1000));
    EXPECT_TRUE(FdReadable(e->fd()));
  }
  EXPECT_TRUE(e->IsSet());
  e->Reset();
  EXPECT_FALSE(e->IsSet());
  EXPECT_FALSE(FdReadable(e->fd()));

  e->Set();
  e->Set();
  e->Set();
  EXPECT_TRUE(FdReadable(e->fd()));
  e->Reset();
  EXPECT_FALSE(e->IsSet());
  EXPECT_FALSE(FdReadable(e->fd()));

  e->Reset();  // resetting a clear event keeps it clear
  EXPECT_FALSE(e->IsSet());
}

TEST(EventTest, SetWakesEveryWaiter) {
  auto e = plat::Event::Create(false);
  ASSERT_NE(e, nullptr);
  constexpr int kWaiters = 4;
  std::atomic<int> waiting{0};
  std::vector<int> woke(kWaiters, -1);
  std::vector<std::thread> threads;
  for (int i = 0; i < kWaiters; ++i)
    threads.emplace_back([&, i] {
      ++waiting;
      woke[i] = e->Wait(10000) ? 1 : 0;
    });
  while (waiting.load() < kWaiters) std::this_thread::yield();
  plat::SleepMs(20);  // let them get into the wait
  const auto start = Clock::now();
  e->Set();
  for (auto& t : threads) t.join();
  EXPECT_LT(MsSince(start), 5000);
  for (int i = 0; i < kWaiters; ++i) EXPECT_EQ(woke[i], 1) << "waiter " << i;
  EXPECT_TRUE(e->IsSet());
}

TEST(EventTest, WaitTimesOutWhenNotSet) {
  auto e = plat::Event::Create(false);
  ASSERT_NE(e, nullptr);
  const auto start = Clock::now();
  EXPECT_FALSE(e->Wait(100));
  const long long took = MsSince(start);
  EXPECT_GE(took, 90);
  EXPECT_LT(took, 5000);
}

TEST(ThreadTest, JoinWithTimeoutWaitsForTheBody) {
  auto release = plat::Event::Create(false);
  ASSERT_NE(release, nullptr);
  std::atomic<bool> finished{false};
  plat::Thread t;
  EXPECT_FALSE(t.Started());
  int err = 0;
  ASSERT_TRUE(t.Start(
      [release, &finished] {
        release->Wait(-1);
        finished = true;
      },
      &err));
  EXPECT_TRUE(t.Started());
  const auto start = Clock::now();
  EXPECT_FALSE(t.Join(50));
  EXPECT_GE(MsSince(start), 40);
  EXPECT_FALSE(finished.load());

  release->Set();
  EXPECT_TRUE(t.Join(10000));
  EXPECT_TRUE(finished.load());
  EXPECT_TRUE(t.Join(0));  // joining again reports the same end
}

TEST(ThreadTest, JoinWithoutThreadReturnsAtOnce) {
  plat::Thread t;
  EXPECT_TRUE(t.Join(0));
  EXPECT_TRUE(t.Join(-1));
}

TEST(ThreadTest, StartRefusedWhileRunningAllowedAfterEnd) {
  auto release = plat::Event::Create(false);
  ASSERT_NE(release, nullptr);
  plat::Thread t;
  ASSERT_TRUE(t.Start([release] { release->Wait(-1); }));
  int err = 0;
  std::atomic<bool> secondRan{false};
  EXPECT_FALSE(t.Start([&secondRan] { secondRan = true; }, &err));
  EXPECT_EQ(err, EBUSY);
  release->Set();
  ASSERT_TRUE(t.Join(10000));

  ASSERT_TRUE(t.Start([&secondRan] { secondRan = true; }));
  ASSERT_TRUE(t.Join(10000));
  EXPECT_TRUE(secondRan.load());
}

// A Thread object that goes away (or is detached) while its body runs must
// return at once and leave the body running to its end.
TEST(ThreadTest, DetachAndDestructorDoNotWaitForTheBody) {
  for (bool detachFirst : {true, false}) {
    SCOPED_TRACE(detachFirst ? "Detach" : "destructor");
    auto release = plat::Event::Create(false);
    auto ended = plat::Event::Create(false);
    ASSERT_NE(release, nullptr);
    ASSERT_NE(ended, nullptr);
    const auto start = Clock::now();
    {
      plat::Thread t;
      // The body's wait has a limit so that a destructor that wrongly joins
      // shows as a failure, not a hang.
      ASSERT_TRUE(t.Start([release, ended] {
        release->Wait(5000);
        ended->Set();
      }));
      if (detachFirst) t.Detach();
    }
    EXPECT_LT(MsSince(start), 2000);
    EXPECT_FALSE(ended->IsSet());
    release->Set();
    EXPECT_TRUE(ended->Wait(10000));
  }
}

TEST(ThreadTest, JoinAfterDetachStillSeesTheEnd) {
  auto release = plat::Event::Create(false);
  ASSERT_NE(release, nullptr);
  plat::Thread t;
  ASSERT_TRUE(t.Start([release] { release->Wait(-1); }));
  t.Detach();
  EXPECT_FALSE(t.Join(20));
  release->Set();
  EXPECT_TRUE(t.Join(10000));
}

TEST(ThreadTest, StartDetachedThreadRunsBody) {
  auto ran = plat::Event::Create(false);
  ASSERT_NE(ran, nullptr);
  int err = 0;
  ASSERT_TRUE(plat::StartDetachedThread([ran] { ran->Set(); }, &err));
  EXPECT_TRUE(ran->Wait(10000));
}

TEST(SleepTest, SleepsAtLeastTheTime) {
  const auto start = Clock::now();
  plat::SleepMs(60);
  const long long took = MsSince(start);
  EXPECT_GE(took, 59);
  EXPECT_LT(took, 5000);
}

}  // namespace
