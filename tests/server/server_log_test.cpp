// The server log: line layout, EUC-KR bytes, error texts by code, and whole
// lines from threads that log at once.
#include "server/server_log.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "server/server_config.h"
#include "support/euckr.h"
#include "support/isolated_env.h"

namespace {

using testsupport::EucKr;

class ServerLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gServerConfig = ServerConfig{};
    gServerConfig.installDir = env_.root();
  }
  std::string Log() const { return testsupport::IsolatedEnv::ReadFile(env_.path("Tavrel.log")); }
  // The log's lines without their date and time prefix; fails the test when
  // a line lacks the prefix or its CR LF.
  std::vector<std::string> Messages() const {
    std::vector<std::string> out;
    std::string log = Log();
    static const std::regex prefix("^[01][0-9]/[0-3][0-9]/[0-9]{2} [0-2][0-9]:[0-5][0-9]:[0-6][0-9] ");
    size_t pos = 0;
    while (pos < log.size()) {
      size_t end = log.find("\r\n", pos);
      EXPECT_NE(end, std::string::npos) << "line without CR LF";
      if (end == std::string::npos) break;
      std::string line = log.substr(pos, end - pos);
      EXPECT_TRUE(std::regex_search(line, prefix)) << line;
      out.push_back(line.size() >= 18 ? line.substr(18) : line);
      pos = end + 2;
    }
    return out;
  }
  testsupport::IsolatedEnv env_;
};

// The server's own messages are EUC-KR bytes in its program; the tests hand
// the same bytes in and expect them unchanged in the file.
TEST_F(ServerLogTest, PlainAndFormattedLines) {
  WriteLog(nullptr, EucKr("Tavrel 종료").c_str(), 0);
  WriteLogf(nullptr, EucKr("Port %d에서 HTTP가 시작되었습니다.").c_str(), 8080);
  WriteLogf(nullptr, EucKr("접속 주소 : %s, 소켓 : %d").c_str(), "127.0.0.1", 7);
  std::vector<std::string> m = Messages();
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0], EucKr("Tavrel 종료"));
  EXPECT_EQ(m[1], EucKr("Port 8080에서 HTTP가 시작되었습니다."));
  EXPECT_EQ(m[2], EucKr("접속 주소 : 127.0.0.1, 소켓 : 7"));
}

TEST_F(ServerLogTest, PrefixIsTheLocalDateAndTime) {
  time_t before = time(nullptr);
  WriteLog(nullptr, "x", 0);
  time_t after = time(nullptr);
  std::string log = Log();
  char expectBefore[32], expectAfter[32];
  struct tm tb {}, ta {};
  localtime_r(&before, &tb);
  localtime_r(&after, &ta);
  strftime(expectBefore, sizeof expectBefore, "%m/%d/%y %H:%M:%S x\r\n", &tb);
  strftime(expectAfter, sizeof expectAfter, "%m/%d/%y %H:%M:%S x\r\n", &ta);
  EXPECT_TRUE(log == expectBefore || log == expectAfter) << log;
}

TEST_F(ServerLogTest, ErrorCodeLines) {
  struct {
    const char* format;
    int code;
    const char* message;
  } cases[] = {
      {"bind 오류 : %s", 10048, "bind 오류 : WSAEADDRINUSE: Address already in use (10048)"},
      {"WSARecv() 오류 : %s", 10054, "WSARecv() 오류 : WSAECONNRESET: Connection reset by peer (10054)"},
      {"listen 오류 : %s", 11004,
       "listen 오류 : WSANO_DATA: Valid name no data record of requested type (11004)"},
      {"소켓 생성 오류 : %s", 10093,
       "소켓 생성 오류 : WSANOTINITIALISED: Successful WSAStartup() not yet performed (10093)"},
      // A code without a text (a system error code) leaves the place empty.
      {"Listen thread 오류 : %s", 11, "Listen thread 오류 :  (11)"},
      {"bind 오류 : %s", 10000, "bind 오류 :  (10000)"},
  };
  for (const auto& c : cases) WriteLog(nullptr, EucKr(c.format).c_str(), c.code);
  std::vector<std::string> m = Messages();
  ASSERT_EQ(m.size(), std::size(cases));
  for (size_t i = 0; i < m.size(); ++i) EXPECT_EQ(m[i], EucKr(cases[i].message));
}

TEST_F(ServerLogTest, ErrorTextTableEnds) {
  EXPECT_STREQ(LogErrorText(10004), "WSAEINTR: Interrupted function call");
  EXPECT_STREQ(LogErrorText(10101), "WSAEDISCON: Graceful shutdown in progress");
  EXPECT_STREQ(LogErrorText(10003), "");
  EXPECT_STREQ(LogErrorText(0), "");
}

TEST_F(ServerLogTest, MessageEndingInLineBreakLeavesAnEmptyLine) {
  WriteLog(nullptr, EucKr("Client thread들을 정상 종료하지 못했습니다.\n").c_str(), 0);
  std::string log = Log();
  std::string tail = EucKr("Client thread들을 정상 종료하지 못했습니다.\n") + "\r\n";
  ASSERT_GE(log.size(), tail.size());
  EXPECT_EQ(log.substr(18), tail);
}

TEST_F(ServerLogTest, FormattedMessagesAreCutAt255Bytes) {
  std::string longText(400, 'a');
  WriteLogf(nullptr, "%s", longText.c_str());
  std::vector<std::string> m = Messages();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0], std::string(255, 'a'));
}

TEST_F(ServerLogTest, AppendsToAnExistingLog) {
  env_.WriteFile("Tavrel.log", "01/02/03 04:05:06 old\r\n");
  WriteLog(nullptr, "new", 0);
  std::vector<std::string> m = Messages();
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0], "old");
  EXPECT_EQ(m[1], "new");
}

TEST_F(ServerLogTest, InstallDirWithTrailingSlashStillFindsTheFile) {
  gServerConfig.installDir = env_.root() + "/";
  WriteLog(nullptr, "x", 0);
  EXPECT_EQ(Messages().size(), 1u);
}

TEST_F(ServerLogTest, MissingDirectoryLosesTheLineQuietly) {
  gServerConfig.installDir = env_.path("no/such/dir");
  WriteLog(nullptr, "lost", 0);
  WriteLog(nullptr, "lost %s", 10048);
  EXPECT_FALSE(std::filesystem::exists(env_.path("no/such/dir/Tavrel.log")));
}

TEST_F(ServerLogTest, ConcurrentWritersProduceWholeLines) {
  constexpr int kThreads = 4;
  constexpr int kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      std::string payload(100 + t * 30, static_cast<char>('a' + t));
      for (int i = 0; i < kLines; ++i) WriteLogf(nullptr, "%d %s", t, payload.c_str());
    });
  }
  for (std::thread& th : threads) th.join();
  std::vector<std::string> m = Messages();
  ASSERT_EQ(m.size(), static_cast<size_t>(kThreads * kLines));
  int perThread[kThreads] = {};
  for (const std::string& line : m) {
    int t = line[0] - '0';
    ASSERT_TRUE(t >= 0 && t < kThreads) << line;
    EXPECT_EQ(line, std::to_string(t) + " " + std::string(100 + t * 30, static_cast<char>('a' + t)));
    ++perThread[t];
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(perThread[t], kLines);
}

}  // namespace
