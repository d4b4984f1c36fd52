// The host link's RPC query: answers of a completed call, and the exception
// rule (an empty text for codes below 128 and for 0x8081, none otherwise).
#include "server/host_notify.h"

#include <thread>

#include <gtest/gtest.h>

#include "platform/localrpc.h"
#include "support/isolated_env.h"

namespace {

// Serves one call with a fixed status and answer.
class OneCallHost {
 public:
  OneCallHost(uint32_t status, std::optional<std::string> answer) {
    listening_ = server_.Listen(kHostRpcEndpoint);
    if (!listening_) return;
    thread_ = std::thread([this, status, answer] {
      server_.ServeOne(
          [&](uint16_t, uint16_t code, const std::optional<std::string>&,
              std::optional<std::string>* out) {
            code_ = code;
            *out = answer;
            return status;
          },
          5000);
    });
  }
  ~OneCallHost() {
    if (thread_.joinable()) thread_.join();
  }
  bool listening() const { return listening_; }
  int code() {
    if (thread_.joinable()) thread_.join();
    return code_;
  }

 private:
  plat::RpcServer server_;
  std::thread thread_;
  bool listening_ = false;
  int code_ = -1;
};

TEST(QueryHost, CompletedCalls) {
  struct Case {
    std::optional<std::string> answer;
    std::optional<std::string> result;
  } cases[] = {
      {std::string("www"), std::string("www")},
      {std::string("1"), std::string("1")},
      {std::string(""), std::nullopt},
      {std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    testsupport::IsolatedEnv env;
    OneCallHost host(0, c.answer);
    ASSERT_TRUE(host.listening());
    EXPECT_EQ(QueryHost(kHostNameCode), c.result);
    EXPECT_EQ(host.code(), kHostNameCode);
  }
}

TEST(QueryHost, ExceptionRule) {
  const struct {
    uint16_t code;
    std::optional<std::string> result;
  } cases[] = {
      {2, std::string()},    {0, std::string()},      {127, std::string()},
      {0x8081, std::string()}, {128, std::nullopt},   {130, std::nullopt},
      {131, std::nullopt},   {0x8080, std::nullopt},
  };
  {
    // No RPC server at all.
    testsupport::IsolatedEnv env;
    for (const auto& c : cases) EXPECT_EQ(QueryHost(c.code), c.result) << c.code;
  }
  for (const auto& c : cases) {
    // The host raises an exception (a nonzero status), answer text or not.
    testsupport::IsolatedEnv env;
    OneCallHost host(1783, std::string("ignored"));
    ASSERT_TRUE(host.listening());
    EXPECT_EQ(QueryHost(c.code), c.result) << c.code;
  }
}

}  // namespace
