// Tests of the window station: finding windows by class, posting messages
// (and their 20-byte wire form), stale socket files left by processes that
// ended without destroying their window, and one window per class. Every
// test runs in its own runtime directory (IsolatedEnv); windows owned by
// another process are made in forked children.
#include "platform/winstation.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/isolated_env.h"

namespace {

using Clock = std::chrono::steady_clock;

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

bool IsSocket(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

sockaddr_un Address(const std::string& path) {
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
  return a;
}

TEST(WinstationDirectoryTest, FollowsRuntimeDirectory) {
  testsupport::IsolatedEnv env;
  EXPECT_EQ(plat::WinstationDirectory(), env.path("run") + "/winstation");
  const std::string fallback = "/tmp/runtime-" + std::to_string(getuid()) + "/winstation";
  setenv("XDG_RUNTIME_DIR", "", 1);
  EXPECT_EQ(plat::WinstationDirectory(), fallback);
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(plat::WinstationDirectory(), fallback);
}

class WinstationTest : public ::testing::Test {
 protected:
  std::string WindowFile(const std::string& lowerName) {
    return plat::WinstationDirectory() + "/windows/" + lowerName;
  }

  // Leaves a stale socket file for the class: a child process creates the
  // window and ends without destroying it.
  void LeaveStaleWindow(const std::string& className) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      auto* w = new plat::Window;  // never destroyed: the process just ends
      _exit(w->Create(className) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  testsupport::IsolatedEnv env_;
};

TEST_F(WinstationTest, EmptyStationHasNoWindows) {
  EXPECT_FALSE(plat::FindWindowByClass("TavrelMain"));
  EXPECT_FALSE(plat::PostMessageToClass("TavrelMain", {1, 2, 3}));
  EXPECT_FALSE(Exists(plat::WinstationDirectory()));  // looking creates nothing
}

TEST_F(WinstationTest, WindowIsFoundByClassInAnyCase) {
  plat::Window w;
  int err = 0;
  ASSERT_TRUE(w.Create("TavrelMain", &err)) << err;
  EXPECT_TRUE(w.IsOpen());
  EXPECT_EQ(w.className(), "TavrelMain");
  EXPECT_TRUE(IsSocket(WindowFile("tavrelmain")));

  for (const char* name : {"TavrelMain", "tavrelmain", "TAVRELMAIN", "tAvReLmAiN"})
    EXPECT_TRUE(plat::FindWindowByClass(name)) << name;
  EXPECT_FALSE(plat::FindWindowByClass("TavrelMai"));
  EXPECT_FALSE(plat::FindWindowByClass("Other"));
}

// The runtime directory need not exist yet; what Create makes is private.
TEST_F(WinstationTest, CreateMakesMissingDirectoriesPrivate) {
  const std::string runtime = env_.path("fresh/run");
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  plat::Window w;
  int err = 0;
  ASSERT_TRUE(w.Create("Private", &err)) << err;
  EXPECT_TRUE(IsSocket(runtime + "/winstation/windows/private"));
  for (const std::string& dir : {env_.path("fresh"), runtime, runtime + "/winstation",
                                 runtime + "/winstation/windows"}) {
    struct stat st;
    ASSERT_EQ(stat(dir.c_str(), &st), 0) << dir;
    EXPECT_TRUE(S_ISDIR(st.st_mode)) << dir;
    EXPECT_EQ(st.st_mode & 0777, 0700u) << dir;
  }
}

TEST_F(WinstationTest, PostedMessagesArriveWithTheirFields) {
  plat::Window w;
  ASSERT_TRUE(w.Create("Receiver"));
  const std::vector<plat::PostedMessage> messages = {
      {0x0401, -1, 0},
      {0xFFFFFFFFu, INT64_MIN, INT64_MAX},
      {16, 0x0102030405060708LL, -2},
      {0, 0, 0},
  };
  for (const auto& m : messages) ASSERT_TRUE(plat::PostMessageToClass("RECEIVER", m));
  for (const auto& m : messages) {
    plat::PostedMessage got;
    ASSERT_TRUE(w.Receive(&got, 5000));
    EXPECT_EQ(got.message, m.message);
    EXPECT_EQ(got.wParam, m.wParam);
    EXPECT_EQ(got.lParam, m.lParam);
  }
  const auto start = Clock::now();
  plat::PostedMessage none;
  EXPECT_FALSE(w.Receive(&none, 50));
  EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(),
            40);
}

// Other programs read these datagrams, so their bytes are fixed: uint32
// message, int64 wParam, int64 lParam, little-endian, nothing in between.
TEST_F(WinstationTest, MessageWireFormatIsTwentyBytesLittleEndian) {
  plat::Window dirMaker;
  ASSERT_TRUE(dirMaker.Create("dirmaker"));
  const std::string path = WindowFile("raw");
  int s = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(s, 0);
  sockaddr_un a = Address(path);
  ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);

  ASSERT_TRUE(plat::PostMessageToClass("Raw", {0x11223344u, -1, 0x0102030405060708LL}));
  unsigned char buf[64];
  ssize_t n = recv(s, buf, sizeof buf, 0);
  close(s);
  ASSERT_EQ(n, 20);
  const unsigned char expected[20] = {0x44, 0x33, 0x22, 0x11, 0xFF, 0xFF, 0xFF,
                                      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x08, 0x07,
                                      0x06, 0x05, 0x04, 0x03, 0x02, 0x01};
  EXPECT_EQ(std::memcmp(buf, expected, sizeof expected), 0);
}

TEST_F(WinstationTest, ReceiveSkipsDatagramsOfOtherSizes) {
  plat::Window w;
  ASSERT_TRUE(w.Create("Picky"));
  int s = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(s, 0);
  sockaddr_un a = Address(WindowFile("picky"));
  const std::string junk(64, '\x7f');
  for (size_t len : {19u, 21u, 1u, 40u})
    ASSERT_EQ(sendto(s, junk.data(), len, 0, reinterpret_cast<sockaddr*>(&a), sizeof a),
              static_cast<ssize_t>(len));
  close(s);
  ASSERT_TRUE(plat::PostMessageToClass("Picky", {7, 8, 9}));
  plat::PostedMessage got;
  ASSERT_TRUE(w.Receive(&got, 5000));
  EXPECT_EQ(got.message, 7u);
  EXPECT_EQ(got.wParam, 8);
  EXPECT_EQ(got.lParam, 9);
}

// Each operation that meets the file of a window whose process has ended
// treats it as no window and removes it (Create then takes the class).
TEST_F(WinstationTest, StaleSocketFileIsRemoved) {
  enum class Op { Find, Post, Create };
  for (Op op : {Op::Find, Op::Post, Op::Create}) {
    SCOPED_TRACE(static_cast<int>(op));
    LeaveStaleWindow("Ghost");
    const std::string path = WindowFile("ghost");
    ASSERT_TRUE(IsSocket(path));
    if (op == Op::Find) {
      EXPECT_FALSE(plat::FindWindowByClass("GHOST"));
      EXPECT_FALSE(Exists(path));
    } else if (op == Op::Post) {
      EXPECT_FALSE(plat::PostMessageToClass("ghost", {1, 1, 1}));
      EXPECT_FALSE(Exists(path));
    } else {
      plat::Window w;
      int err = 0;
      ASSERT_TRUE(w.Create("Ghost", &err)) << err;
      EXPECT_TRUE(plat::FindWindowByClass("Ghost"));
      w.Destroy();
    }
  }
}

TEST_F(WinstationTest, FileThatIsNotASocketIsLeftAlone) {
  plat::Window dirMaker;
  ASSERT_TRUE(dirMaker.Create("dirmaker"));
  const std::string path = WindowFile("plain");
  env_.WriteFile(path.substr(env_.root().size() + 1), "not a socket");
  EXPECT_FALSE(plat::FindWindowByClass("Plain"));
  EXPECT_FALSE(plat::PostMessageToClass("Plain", {1, 2, 3}));
  plat::Window w;
  int err = 0;
  EXPECT_FALSE(w.Create("Plain", &err));
  EXPECT_EQ(err, EEXIST);
  EXPECT_EQ(testsupport::IsolatedEnv::ReadFile(path), "not a socket");
}

TEST_F(WinstationTest, SecondWindowOfClassIsRefused) {
  plat::Window first, second;
  ASSERT_TRUE(first.Create("Tavrel"));
  int err = 0;
  EXPECT_FALSE(second.Create("TAVREL", &err));
  EXPECT_EQ(err, EEXIST);
  EXPECT_FALSE(second.IsOpen());
  // The refused attempt must not have disturbed the first window.
  ASSERT_TRUE(plat::PostMessageToClass("tavrel", {5, 6, 7}));
  plat::PostedMessage got;
  ASSERT_TRUE(first.Receive(&got, 5000));
  EXPECT_EQ(got.message, 5u);

  err = 0;
  EXPECT_FALSE(first.Create("Another", &err));  // one window per object
  EXPECT_EQ(err, EBUSY);
}

// A window owned by another live process: found, not taken over, and
// messages posted to it reach that process.
TEST_F(WinstationTest, WindowOfAnotherProcessReceivesPosts) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(ready[0]);
    plat::Window w;
    if (!w.Create("Remote")) _exit(100);
    (void)!write(ready[1], "r", 1);
    plat::PostedMessage m;
    if (!w.Receive(&m, 10000)) _exit(101);
    _exit(m.wParam == -1 && m.lParam == 77 ? static_cast<int>(m.message) : 102);
  }
  close(ready[1]);
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  close(ready[0]);

  EXPECT_TRUE(plat::FindWindowByClass("remote"));
  plat::Window mine;
  int err = 0;
  EXPECT_FALSE(mine.Create("REMOTE", &err));
  EXPECT_EQ(err, EEXIST);
  EXPECT_TRUE(plat::PostMessageToClass("Remote", {42, -1, 77}));

  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 42);
}

TEST_F(WinstationTest, DestroyRemovesTheWindow) {
  const std::string path = WindowFile("gone");
  {
    plat::Window w;
    ASSERT_TRUE(w.Create("Gone"));
    w.Destroy();
    EXPECT_FALSE(w.IsOpen());
    EXPECT_FALSE(Exists(path));
    EXPECT_FALSE(plat::FindWindowByClass("Gone"));
    w.Destroy();  // a second Destroy does nothing

    ASSERT_TRUE(w.Create("Gone"));  // the object can make a window again
    EXPECT_TRUE(plat::FindWindowByClass("Gone"));
  }
  EXPECT_FALSE(Exists(path));  // the destructor destroyed it
}

// A window whose file was replaced by another window's must not remove the
// newer file when destroyed.
TEST_F(WinstationTest, DestroyLeavesAFileThatIsNoLongerOurs) {
  plat::Window old;
  ASSERT_TRUE(old.Create("Shared"));
  const std::string path = WindowFile("shared");
  ASSERT_EQ(unlink(path.c_str()), 0);
  plat::Window newer;
  ASSERT_TRUE(newer.Create("Shared"));
  old.Destroy();
  EXPECT_TRUE(IsSocket(path));
  EXPECT_TRUE(plat::FindWindowByClass("Shared"));
}

TEST_F(WinstationTest, PostFailsWhenQueueIsFull) {
  plat::Window w;
  ASSERT_TRUE(w.Create("Busy"));
  int delivered = 0;
  while (delivered < 100000 &&
         plat::PostMessageToClass("Busy", {static_cast<uint32_t>(delivered), delivered, 0}))
    ++delivered;
  ASSERT_LT(delivered, 100000) << "the queue never filled";
  ASSERT_GT(delivered, 0);
  for (int i = 0; i < delivered; ++i) {
    plat::PostedMessage got;
    ASSERT_TRUE(w.Receive(&got, 5000));
    EXPECT_EQ(got.message, static_cast<uint32_t>(i));
  }
  EXPECT_TRUE(plat::PostMessageToClass("Busy", {1, 2, 3}));  // room again
}

TEST_F(WinstationTest, BadClassNamesAreRefused) {
  struct Case {
    std::string name;
    int err;
  };
  const std::vector<Case> cases = {
      {std::string(200, 'w'), ENAMETOOLONG},
      {"", EINVAL},
      {"..", EINVAL},
      {"a/b", EINVAL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    plat::Window w;
    int err = 0;
    EXPECT_FALSE(w.Create(c.name, &err));
    EXPECT_EQ(err, c.err);
    EXPECT_FALSE(w.IsOpen());
    EXPECT_FALSE(plat::FindWindowByClass(c.name));
  }
}

}  // namespace
