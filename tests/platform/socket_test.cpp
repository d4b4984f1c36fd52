// Tests of the IPv4 socket layer on the loopback interface: error-code
// mapping, binding, accept/receive/send and how each wait ends when the stop
// event is set or the socket is shut down. Every listener binds port 0 and
// asks BoundPort which port it got, so runs never collide.
#include "platform/socket.h"

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

const uint32_t kLoopback = htonl(INADDR_LOOPBACK);

TEST(WinSockErrorTest, MapsErrnoToTableCodes) {
  struct Case {
    int errnoValue;
    int code;
  };
  const std::vector<Case> cases = {
      {EINTR, 10004},       {EBADF, 10009},        {EACCES, 10013},      {EINVAL, 10022},
      {EMFILE, 10024},      {EAGAIN, 10035},       {EWOULDBLOCK, 10035}, {EINPROGRESS, 10036},
      {ENOTSOCK, 10038},    {EMSGSIZE, 10040},     {EOPNOTSUPP, 10045},  {EAFNOSUPPORT, 10047},
      {EADDRINUSE, 10048},  {EADDRNOTAVAIL, 10049}, {ENETUNREACH, 10051}, {ECONNABORTED, 10053},
      {ECONNRESET, 10054},  {EPIPE, 10054},        {ENOBUFS, 10055},     {ENOTCONN, 10057},
      {ESHUTDOWN, 10058},   {ETIMEDOUT, 10060},    {ECONNREFUSED, 10061}, {ENAMETOOLONG, 10063},
      {EHOSTUNREACH, 10065}, {ENOTEMPTY, 10066},   {EUSERS, 10068},      {EDQUOT, 10069},
      {ESTALE, 10070},      {EREMOTE, 10071},
      // No counterpart: passed through unchanged.
      {0, 0},               {EPERM, EPERM},        {ENOENT, ENOENT},     {ENOSPC, ENOSPC},
      {12345, 12345},
  };
  for (const Case& c : cases)
    EXPECT_EQ(plat::WinSockError(c.errnoValue), c.code) << "errno " << c.errnoValue;
}

class SocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::IgnoreSigpipe();
    stop_ = plat::Event::Create(false);
    ASSERT_NE(stop_, nullptr);
  }
  void TearDown() override {
    for (int fd : fds_) close(fd);
  }

  int Track(int fd) {
    fds_.push_back(fd);
    return fd;
  }

  // A listening socket on an ephemeral port; *port receives the port.
  int Listener(uint16_t* port) {
    int fd = -1, err = 0;
    EXPECT_TRUE(plat::CreateTcpSocket(&fd, &err)) << err;
    if (fd < 0) return -1;
    Track(fd);
    EXPECT_TRUE(plat::BindAnyAddress(fd, 0, plat::AddressReuse::Allow, &err)) << err;
    EXPECT_TRUE(plat::ListenSocket(fd, 16, &err)) << err;
    *port = plat::BoundPort(fd);
    EXPECT_NE(*port, 0);
    return fd;
  }

  // A plain blocking client connected to 127.0.0.1:port.
  int Client(uint16_t port) {
    int fd = Track(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = kLoopback;
    addr.sin_port = htons(port);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << errno;
    return fd;
  }

  // Accepts the connection the client opened; the server end of it.
  int Accept(int listenFd, uint32_t* peer = nullptr) {
    int fd = -1, err = 0;
    uint32_t addr = 0;
    EXPECT_EQ(plat::AcceptConnection(listenFd, *stop_, &fd, &addr, &err), plat::IoResult::Done)
        << err;
    if (peer) *peer = addr;
    return fd < 0 ? -1 : Track(fd);
  }

  // A connected pair: *server is the accepted end.
  void Pair(int* client, int* server) {
    uint16_t port = 0;
    int l = Listener(&port);
    *client = Client(port);
    *server = Accept(l);
  }

  // Sets the stop event from another thread after `ms`.
  std::thread StopAfter(int ms) {
    auto stop = stop_;
    return std::thread([stop, ms] {
      plat::SleepMs(ms);
      stop->Set();
    });
  }

  std::shared_ptr<plat::Event> stop_;
  std::vector<int> fds_;
};

TEST_F(SocketTest, NewSocketIsCloseOnExecAndNonBlocking) {
  int fd = -1, err = 0;
  ASSERT_TRUE(plat::CreateTcpSocket(&fd, &err));
  Track(fd);
  EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
  EXPECT_TRUE(fcntl(fd, F_GETFL) & O_NONBLOCK);
}

TEST_F(SocketTest, SecondBindOfListeningPortFailsWithAddressInUse) {
  uint16_t port = 0;
  Listener(&port);
  int fd = -1, err = 0;
  ASSERT_TRUE(plat::CreateTcpSocket(&fd, &err));
  Track(fd);
  EXPECT_FALSE(plat::BindAnyAddress(fd, port, plat::AddressReuse::Allow, &err));
  EXPECT_EQ(err, 10048);
}

// Without reuse, a port that another socket has bound but not yet put to
// listening is refused at bind, so two racing binds can't both succeed.
TEST_F(SocketTest, BindWithoutReuseRefusesABoundPort) {
  int first = -1, second = -1, err = 0;
  ASSERT_TRUE(plat::CreateTcpSocket(&first, &err));
  Track(first);
  ASSERT_TRUE(plat::BindAnyAddress(first, 0, plat::AddressReuse::Allow, &err)) << err;
  uint16_t port = plat::BoundPort(first);
  ASSERT_TRUE(plat::CreateTcpSocket(&second, &err));
  Track(second);
  EXPECT_FALSE(plat::BindAnyAddress(second, port, plat::AddressReuse::Refuse, &err));
  EXPECT_EQ(err, 10048);
}

// The server end closing first leaves its side in TIME_WAIT; a restarted
// listener must still get the port.
TEST_F(SocketTest, PortCanBeBoundAgainWhileOldConnectionWaits) {
  uint16_t port = 0;
  int l = Listener(&port);
  int c = Client(port);
  int s = Accept(l);
  ASSERT_GE(s, 0);
  plat::ShutdownSocket(s);
  char b;
  ASSERT_EQ(recv(c, &b, 1, 0), 0);  // the client saw the server's end
  close(c);
  plat::SleepMs(20);

  for (int fd : {s, l}) {
    close(fd);
    fds_.erase(std::find(fds_.begin(), fds_.end(), fd));
  }
  int again = -1, err = 0;
  ASSERT_TRUE(plat::CreateTcpSocket(&again, &err));
  Track(again);
  EXPECT_TRUE(plat::BindAnyAddress(again, port, plat::AddressReuse::Allow, &err)) << err;
  EXPECT_TRUE(plat::ListenSocket(again, 16, &err)) << err;
  EXPECT_EQ(plat::BoundPort(again), port);
}

TEST_F(SocketTest, AcceptReceiveSendRoundTrip) {
  uint16_t port = 0;
  int l = Listener(&port);
  int c = Client(port);
  uint32_t peer = 0;
  int s = Accept(l, &peer);
  ASSERT_GE(s, 0);
  EXPECT_EQ(plat::DottedAddress(peer), "127.0.0.1");
  EXPECT_TRUE(fcntl(s, F_GETFD) & FD_CLOEXEC);
  EXPECT_TRUE(fcntl(s, F_GETFL) & O_NONBLOCK);

  const std::string request = "GET / HTTP/1.0\r\n\r\n";
  ASSERT_EQ(send(c, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
  std::string got;
  while (got.size() < request.size()) {
    char buf[64];
    size_t n = 0;
    int err = 0;
    ASSERT_EQ(plat::ReceiveSome(s, buf, sizeof buf, *stop_, &n, &err), plat::IoResult::Done)
        << err;
    ASSERT_GT(n, 0u);
    got.append(buf, n);
  }
  EXPECT_EQ(got, request);

  const std::string reply = "HTTP/1.0 200 OK\r\n\r\nbody";
  int err = 0;
  ASSERT_EQ(plat::SendAll(s, reply.data(), reply.size(), *stop_, &err), plat::IoResult::Done)
      << err;
  std::string back(reply.size(), '\0');
  ASSERT_EQ(recv(c, back.data(), back.size(), MSG_WAITALL), static_cast<ssize_t>(back.size()));
  EXPECT_EQ(back, reply);
}

TEST_F(SocketTest, ReceiveReturnsZeroWhenPeerCloses) {
  int c = -1, s = -1;
  Pair(&c, &s);
  ASSERT_GE(s, 0);
  // The close happens while the receive waits, so the wake-up path is used.
  std::thread closer([c] {
    plat::SleepMs(50);
    shutdown(c, SHUT_WR);
  });
  char buf[16];
  size_t n = 99;
  int err = 0;
  EXPECT_EQ(plat::ReceiveSome(s, buf, sizeof buf, *stop_, &n, &err), plat::IoResult::Done);
  EXPECT_EQ(n, 0u);
  closer.join();
}

TEST_F(SocketTest, ReceiveOnUnconnectedSocketFailsAtOnce) {
  int fd = -1, err = 0;
  ASSERT_TRUE(plat::CreateTcpSocket(&fd, &err));
  Track(fd);
  char buf[4];
  size_t n = 0;
  EXPECT_EQ(plat::ReceiveSome(fd, buf, sizeof buf, *stop_, &n, &err),
            plat::IoResult::FailedAtOnce);
  EXPECT_EQ(err, 10057);
}

TEST_F(SocketTest, WaitingReceiveEndsWhenStopIsSet) {
  int c = -1, s = -1;
  Pair(&c, &s);
  ASSERT_GE(s, 0);
  const auto start = Clock::now();
  std::thread stopper = StopAfter(50);
  char buf[16];
  size_t n = 0;
  int err = 0;
  EXPECT_EQ(plat::ReceiveSome(s, buf, sizeof buf, *stop_, &n, &err), plat::IoResult::Stopped);
  EXPECT_LT(MsSince(start), 5000);
  stopper.join();
}

// The peer never reads, so the send fills both socket buffers and waits
// until the stop event ends it.
TEST_F(SocketTest, BlockedSendEndsWhenStopIsSet) {
  int c = -1, s = -1;
  Pair(&c, &s);
  ASSERT_GE(s, 0);
  const std::vector<char> data(48 * 1024 * 1024, 'x');
  const auto start = Clock::now();
  std::thread stopper = StopAfter(150);
  int err = 0;
  EXPECT_EQ(plat::SendAll(s, data.data(), data.size(), *stop_, &err), plat::IoResult::Stopped);
  const long long took = MsSince(start);
  EXPECT_GE(took, 100);  // it really waited for the stop
  EXPECT_LT(took, 10000);
  stopper.join();
}

// A peer that closes with a zero linger time resets the connection; both a
// receive and a send on our end then report the reset code.
TEST_F(SocketTest, OperationsOnResetConnectionReportReset) {
  for (bool sending : {true, false}) {
    SCOPED_TRACE(sending ? "send" : "receive");
    int c = -1, s = -1;
    Pair(&c, &s);
    ASSERT_GE(s, 0);
    linger lg{1, 0};
    ASSERT_EQ(setsockopt(c, SOL_SOCKET, SO_LINGER, &lg, sizeof lg), 0);
    close(c);
    fds_.erase(std::find(fds_.begin(), fds_.end(), c));
    pollfd p{s, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 5000), 1);  // the reset has arrived

    int err = 0;
    plat::IoResult r;
    if (sending) {
      const std::string data(4096, 'y');
      r = plat::SendAll(s, data.data(), data.size(), *stop_, &err);
    } else {
      char buf[16];
      size_t n = 0;
      r = plat::ReceiveSome(s, buf, sizeof buf, *stop_, &n, &err);
    }
    EXPECT_TRUE(r == plat::IoResult::FailedAtOnce || r == plat::IoResult::FailedLater)
        << static_cast<int>(r);
    EXPECT_EQ(err, 10054);
  }
}

TEST_F(SocketTest, AcceptEndsWhenListenerIsShutDown) {
  uint16_t port = 0;
  int l = Listener(&port);
  std::thread shutter([l] {
    plat::SleepMs(50);
    plat::ShutdownSocket(l);
  });
  const auto start = Clock::now();
  int fd = -1, err = 0;
  uint32_t peer = 0;
  EXPECT_EQ(plat::AcceptConnection(l, *stop_, &fd, &peer, &err), plat::IoResult::FailedLater);
  EXPECT_EQ(err, 10022);
  EXPECT_EQ(fd, -1);
  EXPECT_LT(MsSince(start), 5000);
  shutter.join();
}

TEST_F(SocketTest, AcceptEndsWhenStopIsSet) {
  uint16_t port = 0;
  int l = Listener(&port);
  std::thread stopper = StopAfter(50);
  const auto start = Clock::now();
  int fd = -1, err = 0;
  uint32_t peer = 0;
  EXPECT_EQ(plat::AcceptConnection(l, *stop_, &fd, &peer, &err), plat::IoResult::Stopped);
  EXPECT_EQ(fd, -1);
  EXPECT_LT(MsSince(start), 5000);
  stopper.join();
}

TEST(DottedAddressTest, FormatsNetworkOrderAddresses) {
  struct Case {
    uint32_t hostOrder;
    const char* text;
  };
  const std::vector<Case> cases = {
      {0x7F000001u, "127.0.0.1"},
      {0x00000000u, "0.0.0.0"},
      {0xC0A80A01u, "192.168.10.1"},
      {0xFFFFFFFFu, "255.255.255.255"},
      {0x0A000102u, "10.0.1.2"},
  };
  for (const Case& c : cases) EXPECT_EQ(plat::DottedAddress(htonl(c.hostOrder)), c.text);
}

}  // namespace
