// Local RPC: the wire format both ways, absent and empty texts, exceptions
// of the transport, and a stale endpoint.
#include "platform/localrpc.h"

#include <chrono>
#include <thread>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/winstation_internal.h"
#include "support/isolated_env.h"

namespace {

constexpr char kEndpoint[] = "Test Rpc 0001";

// Answers one call on a thread with a handler that echoes what it got.
struct EchoServer {
  plat::RpcServer server;
  std::thread thread;
  uint16_t gotProcedure = 0, gotCode = 0;
  std::optional<std::string> gotInput;

  bool Start(uint32_t status, std::optional<std::string> answer) {
    if (!server.Listen(kEndpoint)) return false;
    thread = std::thread([this, status, answer] {
      server.ServeOne(
          [&](uint16_t p, uint16_t c, const std::optional<std::string>& in,
              std::optional<std::string>* out) {
            gotProcedure = p;
            gotCode = c;
            gotInput = in;
            *out = answer;
            return status;
          },
          5000);
    });
    return true;
  }
  ~EchoServer() {
    if (thread.joinable()) thread.join();
  }
};

TEST(LocalRpc, CallCarriesCodeTextsAndStatusBothWays) {
  struct Case {
    std::optional<std::string> input;
    uint32_t status;
    std::optional<std::string> output;
  } cases[] = {
      {std::nullopt, 0, std::string("host")},
      {std::string(""), 0, std::string("")},
      {std::string("in\0put", 6), 0, std::nullopt},
      {std::nullopt, 1722, std::nullopt},
  };
  for (const Case& c : cases) {
    testsupport::IsolatedEnv env;
    EchoServer server;
    ASSERT_TRUE(server.Start(c.status, c.output));
    plat::RpcReply reply;
    ASSERT_TRUE(plat::RpcCall(kEndpoint, 0, 130, c.input, 2000, &reply));
    server.thread.join();
    EXPECT_EQ(server.gotProcedure, 0);
    EXPECT_EQ(server.gotCode, 130);
    EXPECT_EQ(server.gotInput, c.input);
    EXPECT_EQ(reply.status, c.status);
    EXPECT_EQ(reply.output, c.output);
  }
}

TEST(LocalRpc, NoServerIsAnException) {
  testsupport::IsolatedEnv env;
  plat::RpcReply reply;
  EXPECT_FALSE(plat::RpcCall(kEndpoint, 0, 2, std::nullopt, 1000, &reply));
}

// A socket bound at the endpoint's path by hand (-1 when that failed).
int BindAtEndpoint() {
  std::string path = plat::RpcEndpointPath(kEndpoint);
  sockaddr_un addr;
  if (!plat::MakeDirectories(path.substr(0, path.rfind('/'))) || !plat::MakeUnixAddress(path, &addr))
    return -1;
  int s = socket(AF_UNIX, SOCK_STREAM, 0);
  if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(s);
    return -1;
  }
  return s;
}

TEST(LocalRpc, ServerThatNeverAnswersTimesOut) {
  testsupport::IsolatedEnv env;
  // A listening socket that accepts nothing and never replies.
  int s = BindAtEndpoint();
  ASSERT_GE(s, 0);
  ASSERT_EQ(listen(s, 4), 0);
  auto start = std::chrono::steady_clock::now();
  plat::RpcReply reply;
  EXPECT_FALSE(plat::RpcCall(kEndpoint, 0, 2, std::nullopt, 300, &reply));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  close(s);
}

TEST(LocalRpc, StaleEndpointIsReplacedLiveOneRefused) {
  testsupport::IsolatedEnv env;
  // A socket file left behind by a server that ended without closing.
  int stale = BindAtEndpoint();
  ASSERT_GE(stale, 0);
  close(stale);
  plat::RpcServer first;
  ASSERT_TRUE(first.Listen(kEndpoint));
  plat::RpcServer second;
  int err = 0;
  EXPECT_FALSE(second.Listen(kEndpoint, &err));
  EXPECT_EQ(err, EEXIST);
  first.Close();
  EXPECT_NE(access(plat::RpcEndpointPath(kEndpoint).c_str(), F_OK), 0);
}

TEST(LocalRpc, MalformedRequestGetsNoReplyAndServerGoesOn) {
  testsupport::IsolatedEnv env;
  plat::RpcServer server;
  ASSERT_TRUE(server.Listen(kEndpoint));
  std::thread client([] {
    // A request that announces an input longer than any text allowed.
    sockaddr_un addr;
    plat::MakeUnixAddress(plat::RpcEndpointPath(kEndpoint), &addr);
    int s = socket(AF_UNIX, SOCK_STREAM, 0);
    connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    unsigned char bad[8] = {0, 0, 2, 0, 0xFE, 0xFF, 0xFF, 0x7F};
    send(s, bad, sizeof bad, MSG_NOSIGNAL);
    char buf[8];
    EXPECT_EQ(recv(s, buf, sizeof buf, 0), 0);  // closed without a reply
    close(s);
  });
  bool called = false;
  auto handler = [&](uint16_t, uint16_t, const std::optional<std::string>&,
                     std::optional<std::string>*) {
    called = true;
    return 0u;
  };
  EXPECT_FALSE(server.ServeOne(handler, 5000));
  client.join();
  EXPECT_FALSE(called);
}

}  // namespace
