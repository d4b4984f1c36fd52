// The running server over loopback: static files, the error answers, the
// containment of the root, conditional requests, the log lines of a start,
// a connection and a stop, port-free mode and the host window message.
#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <regex>
#include <thread>

#include "platform/winstation.h"
#include "server/host_notify.h"
#include "server/server.h"
#include "server/server_config.h"
#include "support/euckr.h"
#include "support/isolated_env.h"
#include "support/raw_http.h"

namespace {

using testsupport::EucKr;
using testsupport::Exchange;

const std::string kHead200Html = "HTTP/1.0 200 OK\r\nServer: Tavrel\r\nContent-Type: text/html\r\n\r\n";
const std::string kHead200Text = "HTTP/1.0 200 OK\r\nServer: Tavrel\r\nContent-Type: text/plain\r\n\r\n";
const std::string kHead200Octets =
    "HTTP/1.0 200 OK\r\nServer: Tavrel\r\nContent-Type: application/octet-stream\r\n\r\n";

std::string Closed(int code, const char* text) {
  return "HTTP/1.0 " + std::to_string(code) + " " + text + "\r\nServer: Tavrel\r\n\r\n\r\n";
}

class ServerHttpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gServerConfig = ServerConfig{};
    gServerConfig.installDir = env_.root();
    gServerConfig.rootDir = env_.path("www");
    gServerConfig.defaultHtml = "index.html";
    gServerConfig.port = 0;  // any free port
    gServerConfig.hostName = "www.portal.test";
    env_.WriteFile("www/page.html", "<html>page</html>");
    env_.WriteFile("www/index.html", "<html>index</html>");
    env_.WriteFile("www/my file.txt", "blank in name");
    env_.WriteFile("www/a+b.txt", "plus in name");
    env_.WriteFile("www/sub/Deep.TXT", "deep");
    env_.WriteFile("www/.hidden", "hidden");
    env_.WriteFile("www/.git/config", "secret config");
    env_.WriteFile("www/data.zzqx", "no type");
    env_.WriteFile("www/noext", "no extension");
    chmod(env_.WriteFile("www/run.cgi", "#!/bin/sh\nprintf 'Content-Type: text/plain\\n\\n%s' \"$*\"\n").c_str(),
          0755);
    env_.WriteFile("www/dir.d/file", "dot in directory");
    env_.WriteFile("secret.txt", "outside the root");
    env_.WriteFile("WWW/page.html", "sibling directory differing in case");
    mkfifo(env_.path("www/pipe.html").c_str(), 0600);
  }
  void TearDown() override {
    if (IsServerRunning()) StopServer();
  }
  void Start() {
    ASSERT_TRUE(StartServer(nullptr));
    port_ = ServerPort();
    ASSERT_GT(port_, 0);
  }
  std::string Get(const std::string& target) {
    return Exchange(port_, "GET " + target + " HTTP/1.0\r\n\r\n");
  }
  std::string Log() const { return testsupport::IsolatedEnv::ReadFile(env_.path("Tavrel.log")); }
  int CountInLog(const std::string& utf8) const {
    std::string log = Log(), needle = EucKr(utf8);
    int n = 0;
    for (size_t p = log.find(needle); p != std::string::npos; p = log.find(needle, p + 1)) ++n;
    return n;
  }

  testsupport::IsolatedEnv env_;
  int port_ = 0;
};

struct ExchangeCase {
  std::string request;
  std::string answer;
};

TEST_F(ServerHttpTest, RequestsAndTheirAnswers) {
  Start();
  const std::string notFound = Closed(404, "Not Found");
  const std::string forbidden = Closed(403, "Forbidden");
  const std::string notImplemented = Closed(501, "Not Implemented");
  const ExchangeCase cases[] = {
      {"GET /page.html HTTP/1.0\r\n\r\n", kHead200Html + "<html>page</html>"},
      {"get /page.html HTTP/1.0\r\n\r\n", kHead200Html + "<html>page</html>"},
      {"GET /page.html HTTP/1.1\r\nHost: x\r\nUser-Agent: t\r\n\r\n", kHead200Html + "<html>page</html>"},
      {"HEAD /page.html HTTP/1.0\r\n\r\n", kHead200Html},
      {"GET /page.html?x=1 HTTP/1.0\r\n\r\n", kHead200Html + "<html>page</html>"},
      {"GET /my%20file.txt HTTP/1.0\r\n\r\n", kHead200Text + "blank in name"},
      {"GET /a+b.txt HTTP/1.0\r\n\r\n", kHead200Text + "plus in name"},
      // Names below the root may differ in case from the disk.
      {"GET /PAGE.HTML HTTP/1.0\r\n\r\n", kHead200Html + "<html>page</html>"},
      {"GET /SUB/deep.txt HTTP/1.0\r\n\r\n", kHead200Text + "deep"},
      {"GET /sub/./../page.html HTTP/1.0\r\n\r\n", kHead200Html + "<html>page</html>"},
      // Without a registered type the file goes out as plain bytes.
      {"GET /data.zzqx HTTP/1.0\r\n\r\n", kHead200Octets + "no type"},
      {"GET /noext HTTP/1.0\r\n\r\n", kHead200Octets + "no extension"},
      {"GET /dir.d/file HTTP/1.0\r\n\r\n", kHead200Octets + "dot in directory"},
      // Missing files, and everything outside the root.
      {"GET /missing.html HTTP/1.0\r\n\r\n", notFound},
      {"GET /../secret.txt HTTP/1.0\r\n\r\n", notFound},
      {"GET /sub/../../secret.txt HTTP/1.0\r\n\r\n", notFound},
      {"GET /..%2fsecret.txt HTTP/1.0\r\n\r\n", notFound},
      {"GET /..\\secret.txt HTTP/1.0\r\n\r\n", notFound},
      {"GET /%2e%2e/secret.txt HTTP/1.0\r\n\r\n", notFound},
      {"GET /../WWW/page.html HTTP/1.0\r\n\r\n", notFound},
      {"GET /../www/page.html HTTP/1.0\r\n\r\n", kHead200Html + "<html>page</html>"},
      {"GET page.html HTTP/1.0\r\n\r\n", notFound},
      {"GET /page.html%00.txt HTTP/1.0\r\n\r\n", notFound},
      {"GET /page.html/ HTTP/1.0\r\n\r\n", notFound},
      {"GET /" + std::string(300, 'x') + " HTTP/1.0\r\n\r\n", notFound},
      // A named pipe would block the reader: only regular files are served.
      {"GET /pipe.html HTTP/1.0\r\n\r\n", notFound},
      // Directories redirect to their default document, or have none.
      {"GET / HTTP/1.0\r\n\r\n", "HTTP/1.0 302 Redirection\r\nServer: Tavrel\r\nLocation: http://www.portal.test:" +
                                       std::to_string(port_) + "/index.html\r\n\r\n"},
      {"GET /sub HTTP/1.0\r\n\r\n", notFound},
      {"GET /sub/ HTTP/1.0\r\n\r\n", notFound},
      // Hidden files, and files inside hidden directories.
      {"GET /.hidden HTTP/1.0\r\n\r\n", forbidden},
      {"GET /.git/config HTTP/1.0\r\n\r\n", forbidden},
      // Methods and bodies the server doesn't serve.
      {"POST /page.html HTTP/1.0\r\nContent-Length: 3\r\n\r\nabc", notImplemented},
      {"POST /page.html HTTP/1.0\r\n\r\n", notImplemented},
      {"HEAD /page.html HTTP/1.0\r\nContent-Length: 3\r\n\r\nabc", notImplemented},
      {"PUT /page.html HTTP/1.0\r\nContent-Length: 3\r\n\r\nabc", notImplemented},
      {"DELETE /page.html HTTP/1.0\r\n\r\n", notImplemented},
      {"OPTIONS /page.html HTTP/1.0\r\n\r\n", notImplemented},
      {"TRACE /page.html HTTP/1.0\r\n\r\n", notImplemented},
      {"GET /run.cgi HTTP/1.0\r\n\r\n", kHead200Text},
      {"GET /RUN.CGI?a+b HTTP/1.0\r\n\r\n", kHead200Text + "a b"},
      {"POST /run.cgi HTTP/1.0\r\n\r\n", notImplemented},
      {"GET /page.html\r\n\r\n", notImplemented},  // no version
      // Malformed requests.
      {"BREW /pot HTTP/1.0\r\n\r\n", Closed(400, "Bad Request")},
      {"GET\r\n\r\n", Closed(400, "Bad Request")},
      {"\r\n", Closed(400, "Bad Request")},
  };
  for (const ExchangeCase& c : cases) EXPECT_EQ(Exchange(port_, c.request), c.answer) << c.request;
}

TEST_F(ServerHttpTest, LargeFileArrivesWhole) {
  std::string bytes;
  srand(7);
  for (int i = 0; i < 300000; ++i) bytes += static_cast<char>(rand() & 0xFF);
  env_.WriteFile("www/big.bin", bytes);
  Start();
  EXPECT_EQ(Get("/big.bin"), kHead200Octets + bytes);
}

TEST_F(ServerHttpTest, IfModifiedSince) {
  const std::string file = env_.path("www/page.html");
  timespec times[2] = {{784111777, 0}, {784111777, 0}};  // Sun, 06 Nov 1994 08:49:37 GMT
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  Start();
  const std::string full = kHead200Html + "<html>page</html>";
  const ExchangeCase cases[] = {
      {"GET /page.html HTTP/1.0\r\nIf-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT\r\n\r\n",
       Closed(304, "Not Modified")},
      {"GET /page.html HTTP/1.0\r\nif-modified-since: Sunday, 06-Nov-94 08:49:37 GMT\r\n\r\n",
       Closed(304, "Not Modified")},
      {"HEAD /page.html HTTP/1.0\r\nIf-Modified-Since: 06 Nov 1994 08:49:37\r\n\r\n", Closed(304, "Not Modified")},
      {"GET /page.html HTTP/1.0\r\nIf-Modified-Since: Sun, 06 Nov 1994 08:49:36 GMT\r\n\r\n", full},
      {"GET /page.html HTTP/1.0\r\nIf-Modified-Since: Sun, 06 Nov 1994 08:49:38 GMT\r\n\r\n", full},
      {"GET /page.html HTTP/1.0\r\nIf-Modified-Since: garbage\r\n\r\n", full},
  };
  for (const ExchangeCase& c : cases) EXPECT_EQ(Exchange(port_, c.request), c.answer) << c.request;
}

TEST_F(ServerHttpTest, HeadAndBodySplitOverSegments) {
  Start();
  EXPECT_EQ(Exchange(port_, {"GET /pa", "ge.html HTTP/1.0\r", "\nAccept: */*\r\n\r", "\n"}, 30),
            kHead200Html + "<html>page</html>");
  EXPECT_EQ(Exchange(port_, {"POST /page.html HTTP/1.0\r\nContent-Length: 10\r\n\r\nab", "cdefgh", "ij"}, 30),
            Closed(501, "Not Implemented"));
}

TEST_F(ServerHttpTest, ClientThatClosesEarlyGetsNoAnswer) {
  Start();
  int fd = testsupport::ConnectLoopback(port_);
  ASSERT_GE(fd, 0);
  testsupport::SendText(fd, "GET /page.html HTTP/1.0\r\n");
  shutdown(fd, SHUT_WR);
  bool closed = false;
  EXPECT_EQ(testsupport::ReadAll(fd, 5000, &closed), "");
  EXPECT_TRUE(closed);
  close(fd);
}

TEST_F(ServerHttpTest, ManyClientsAtOnce) {
  Start();
  constexpr int kClients = 24;
  std::vector<std::string> answers(kClients);
  std::vector<std::thread> threads;
  for (int i = 0; i < kClients; ++i)
    threads.emplace_back([&, i] { answers[i] = Get(i % 2 ? "/page.html" : "/index.html"); });
  for (std::thread& t : threads) t.join();
  for (int i = 0; i < kClients; ++i)
    EXPECT_EQ(answers[i], kHead200Html + (i % 2 ? "<html>page</html>" : "<html>index</html>")) << i;
}

TEST_F(ServerHttpTest, LogOfStartConnectionAndStop) {
  Start();
  Get("/page.html");
  StopServer();
  EXPECT_EQ(CountInLog("Port " + std::to_string(port_) + "에서 HTTP가 시작되었습니다.\r\n"), 1);
  std::string log = Log();
  std::regex accepted(EucKr("접속 주소 : 127\\.0\\.0\\.1, 소켓 : [0-9]+\r\n"));
  EXPECT_TRUE(std::regex_search(log, accepted)) << log;
  EXPECT_EQ(CountInLog("Tavrel 종료\r\n"), 1);
  EXPECT_EQ(CountInLog("시간내 종료 실패"), 0);
  EXPECT_EQ(CountInLog("정상 종료하지 못했습니다"), 0);
}

TEST_F(ServerHttpTest, SecondStartChangesNothing) {
  Start();
  EXPECT_TRUE(StartServer(nullptr));
  EXPECT_EQ(ServerPort(), port_);
  EXPECT_EQ(CountInLog("에서 HTTP가 시작되었습니다."), 1);
  EXPECT_EQ(Get("/page.html"), kHead200Html + "<html>page</html>");
}

TEST_F(ServerHttpTest, StopEndsAClientBlockedOnReceive) {
  Start();
  int fd = testsupport::ConnectLoopback(port_);
  ASSERT_GE(fd, 0);
  testsupport::SendText(fd, "GET /page.html HTTP/1.0\r\n");  // and never the empty line
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  auto begin = std::chrono::steady_clock::now();
  StopServer();
  auto took = std::chrono::steady_clock::now() - begin;
  EXPECT_LT(took, std::chrono::seconds(3));
  bool closed = false;
  EXPECT_EQ(testsupport::ReadAll(fd, 3000, &closed), "");
  EXPECT_TRUE(closed);
  close(fd);
  EXPECT_EQ(CountInLog("정상 종료하지 못했습니다"), 0);
  EXPECT_FALSE(IsServerRunning());
  EXPECT_LT(testsupport::ConnectLoopback(port_), 0);  // nobody listens any more
}

TEST_F(ServerHttpTest, StopWithoutStartStillLogs) {
  StopServer();
  EXPECT_EQ(CountInLog("Tavrel 종료\r\n"), 1);
  EXPECT_FALSE(IsServerRunning());
}

TEST_F(ServerHttpTest, RestartServesAgain) {
  Start();
  StopServer();
  Start();
  EXPECT_EQ(Get("/page.html"), kHead200Html + "<html>page</html>");
  EXPECT_EQ(CountInLog("에서 HTTP가 시작되었습니다."), 2);
}

// A socket listening on `port` of all addresses, or -1. The address may be
// reused, so that connections of earlier tests in TIME_WAIT don't stand in
// the way.
int Occupy(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_ANY);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 1) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

TEST_F(ServerHttpTest, TakenPortFailsTheStart) {
  int blocker = Occupy(0);
  ASSERT_GE(blocker, 0);
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  getsockname(blocker, reinterpret_cast<sockaddr*>(&addr), &len);
  gServerConfig.port = ntohs(addr.sin_port);
  EXPECT_FALSE(StartServer(nullptr));
  EXPECT_FALSE(IsServerRunning());
  EXPECT_EQ(CountInLog("bind 오류 : WSAEADDRINUSE: Address already in use (10048)\r\n"), 1);
  EXPECT_EQ(CountInLog("에서 HTTP가 시작되었습니다."), 0);
  close(blocker);
}

TEST_F(ServerHttpTest, HostWindowIsToldThePortOnlyInPortFreeMode) {
  plat::Window host;
  ASSERT_TRUE(host.Create(kHostWindowClass));
  Start();
  plat::PostedMessage msg;
  ASSERT_TRUE(host.Receive(&msg, 2000));
  EXPECT_EQ(msg.message, kHostNotifyMessage);
  EXPECT_EQ(msg.wParam, 0);
  EXPECT_EQ(msg.lParam, 0);
  StopServer();

  gServerConfig.portFree = true;
  Start();
  EXPECT_GE(port_, 10000);
  EXPECT_LE(port_, 19999);
  EXPECT_EQ(gServerConfig.port, port_);
  ASSERT_TRUE(host.Receive(&msg, 2000));
  EXPECT_EQ(msg.message, kHostNotifyMessage);
  EXPECT_EQ(msg.wParam, port_);
  EXPECT_EQ(msg.lParam, 0);
  EXPECT_EQ(Get("/page.html"), kHead200Html + "<html>page</html>");
  EXPECT_FALSE(host.Receive(&msg, 100));  // one message per start
}

TEST_F(ServerHttpTest, PortFreeModeMovesOnFromATakenPort) {
  // The server seeds its generator with the current second, as the test does
  // here, so its first candidate is taken unless the clock moves on between.
  srand(static_cast<unsigned>(time(nullptr)));
  int firstCandidate = rand() % 10000 + 10000;
  // Occupy fails only when the port is held already (connections of an
  // earlier test lingering on it), which takes it for the server just as well.
  int blocker = Occupy(firstCandidate);
  gServerConfig.portFree = true;
  Start();
  EXPECT_NE(port_, firstCandidate);
  EXPECT_GE(port_, 10000);
  EXPECT_LE(port_, 19999);
  EXPECT_EQ(CountInLog("bind 오류"), 0);
  EXPECT_EQ(Get("/page.html"), kHead200Html + "<html>page</html>");
  if (blocker >= 0) close(blocker);
}

}  // namespace

namespace {

// The idle event follows the count of running client threads, and a leave
// without an enter (a thread that outlived an earlier listener) never wraps
// the count around.
TEST(ClientTracker, IdleEventFollowsTheCount) {
  ClientTracker t;
  t.idle = plat::Event::Create(true);
  ClientEnter(t);
  ClientEnter(t);
  EXPECT_FALSE(t.idle->IsSet());
  ClientLeave(t);
  EXPECT_FALSE(t.idle->IsSet());
  ClientLeave(t);
  EXPECT_TRUE(t.idle->IsSet());
  ClientLeave(t);
  EXPECT_EQ(t.count, 0u);
  EXPECT_TRUE(t.idle->IsSet());
  ClientEnter(t);
  EXPECT_EQ(t.count, 1u);
  EXPECT_FALSE(t.idle->IsSet());
}

}  // namespace
