// The auth-token tool: the cookie values it prints, once URL-decoded as the
// CGI library decodes cookies, pass the sign-in check with the fields given;
// fields it can't carry are refused with exit status 2.
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "admin/signin_token.h"
#include "cgi/cgi_internal.h"
#include "sfl/sflmem.h"

namespace {

struct ToolRun {
  int status;
  std::string out;
};

ToolRun RunTool(const std::string& args) {
  std::string command = std::string(AUTH_TOKEN_PATH) + " " + args + " 2>/dev/null";
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return {-1, ""};
  std::string out;
  char buf[512];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  int status = pclose(p);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

class AuthTokenTool : public ::testing::Test {
 protected:
  void TearDown() override { trackedFreeAll(); }
};

TEST_F(AuthTokenTool, PrintedValuesPassTheCheckAfterCookieDecoding) {
  struct Case {
    std::string args;
    const char* address;
    int result;
    std::string name;
    int number;
  };
  const Case cases[] = {
      {"--address 127.0.0.1 --user admin --kind a --name Boss", "127.0.0.1", 2, "Boss", 0},
      {"--address 192.168.10.20 --user kim --kind u --name Kim --number 42 --rest r1", "192.168.10.20", 1, "Kim",
       42},
      {"--address 127.0.0.1 --user admin --kind a --utf8 --name '관리자'", "127.0.0.1", 2,
       "\xB0\xFC\xB8\xAE\xC0\xDA", 0},
      {"--address 10.1.2.3 --user admin --kind a", "10.1.2.3", 2, "", 0},
      {"--address 127.0.0.1 --user admin --kind a --name Boss", "127.0.0.2", -1, "", 0},
  };
  for (const Case& c : cases) {
    ToolRun r = RunTool(c.args);
    ASSERT_EQ(r.status, 0) << c.args;
    ASSERT_FALSE(r.out.empty());
    ASSERT_EQ(r.out.back(), '\n');
    std::string value = r.out.substr(0, r.out.size() - 1);
    EXPECT_EQ(value.find_first_of("+/= ;"), std::string::npos) << value;
    size_t n = cgi::urlDecode(value.data(), value.size());
    value.resize(n);
    ToolRun raw = RunTool(c.args + " --raw");
    EXPECT_EQ(value + "\n", raw.out) << "decoding the cookie value gives the token text";
    SignInToken t;
    EXPECT_EQ(checkSignIn(&t, value.c_str(), c.address), c.result) << c.args;
    if (c.result > 0) {
      EXPECT_EQ(std::string(t.name), c.name);
      EXPECT_EQ(t.number, c.number);
    }
  }
}

TEST_F(AuthTokenTool, RefusesWhatATokenCannotCarry) {
  const char* bad[] = {
      "--address 127.0.0.1 --user admin --kind a --name a:b",
      "--address 127.0.0.1 --user admin --kind a --rest r",  // a rest needs a name
      "--address 127.0.0.1 --kind a",
      "--user admin --kind a",
      "--address 127.0.0.1 --user admin --kind a --number 12x",
      "--address 127.0.0.1 --user admin --kind a extra",
  };
  for (const char* args : bad) {
    ToolRun r = RunTool(args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_EQ(r.out, "") << args;
  }
}

}  // namespace
