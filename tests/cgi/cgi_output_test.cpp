// The output layer (text mode), the response heads, the error page and the
// CGI environment record.
#include <ctime>
#include <string>

#include <gtest/gtest.h>

#include "tests/cgi/cgi_fixture.h"

namespace {

using cgitest::CgiTest;
using cgitest::ErrorPage;

TEST_F(CgiTest, TextModeTurnsEveryLineFeedIntoCrLf) {
  struct Case {
    std::string written;
    std::string sent;
  };
  const Case cases[] = {
      {"", ""},
      {"no line end", "no line end"},
      {"a\nb\n", "a\r\nb\r\n"},
      {"\n\n", "\r\n\r\n"},
      {"already\r\n", "already\r\r\n"},  // text mode adds a CR before each LF, whatever precedes it
      {std::string("z\0\n\xC7\xD1", 5), std::string("z\0\r\n\xC7\xD1", 6)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RunChild(0, [&] { qWrite(c.written.data(), c.written.size()); }), c.sent);
  }
}

TEST_F(CgiTest, OutputLargerThanTheBufferKeepsEveryByteInOrder) {
  std::string written, sent;
  for (int i = 0; i < 30000; ++i) {
    std::string line = std::to_string(i) + (i % 3 ? "\n" : "-");
    written += line;
    for (char ch : line) sent += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
  }
  std::string big(5000, 'x');
  EXPECT_EQ(RunChild(0, [&] {
              qWrite(written.data(), written.size());
              qPrintf("%s\n", big.c_str());  // longer than the formatter's first buffer
              qPuts("end\n");
            }),
            sent + big + "\r\nend\r\n");
}

TEST_F(CgiTest, OutputIsFlushedAtExitWithoutAnExplicitFlush) {
  EXPECT_EQ(RunChild(3, [] {
              qPuts("pending\n");
              std::exit(3);
            }),
            "pending\r\n");
}

TEST_F(CgiTest, ContentTypeHeadGoesOutOnce) {
  EXPECT_EQ(RunChild(0, [] {
              qPrintContentType("text/html");
              qPrintContentType("text/plain");
              qPuts("<p>\n");
            }),
            "Content-Type: text/html\r\n\r\n<p>\r\n");
}

TEST_F(CgiTest, LocationHeadLeavesTheContentTypeFlagAlone) {
  EXPECT_EQ(RunChild(0, [] {
              qPrintLocation("gatein.cgi?SRC=/a&DST=/b");
              qPrintContentType("text/html");
            }),
            "Location: gatein.cgi?SRC=/a&DST=/b\r\n\r\nContent-Type: text/html\r\n\r\n");
}

TEST_F(CgiTest, ErrorPageShowsTheMessageEscaped) {
  struct Case {
    std::string message;
    std::string title;
    std::string alert;
  };
  const Case cases[] = {
      {"plain text", "plain text", "plain text"},
      {"say \"hi\"", "say &quot;hi&quot;", "say \\\"hi\\\""},
      {"it's", "it&#39;s", "it\\'s"},
      {"back\\slash", "back\\slash", "back\\\\slash"},
      {"</title><script>x()</script>", "&lt;/title&gt;&lt;script&gt;x()&lt;/script&gt;",
       "\\x3C/title\\x3E\\x3Cscript\\x3Ex()\\x3C/script\\x3E"},
      {"a & b", "a &amp; b", "a \\x26 b"},
      {"two\nlines\ttab\x7f", "two&#10;lines&#9;tab&#127;", "two\\x0Alines\\x09tab\\x7F"},
      {"\xC7\xD1\xB1\xDB \xBF\xC0\xB7\xF9", "\xC7\xD1\xB1\xDB \xBF\xC0\xB7\xF9", "\xC7\xD1\xB1\xDB \xBF\xC0\xB7\xF9"},
  };
  Set("REMOTE_ADDR", "127.0.0.1");
  for (const Case& c : cases) {
    EXPECT_EQ(RunChild(1, [&] { qError("%s", c.message.c_str()); }), ErrorPage(c.title, c.alert)) << c.message;
  }
}

TEST_F(CgiTest, ErrorAfterAHeadPrintsNoSecondHead) {
  Set("REMOTE_ADDR", "127.0.0.1");
  std::string out = RunChild(1, [] {
    qPrintContentType("text/html");
    qPuts("<html><body>partial\n");
    qError("stop %d", 7);
  });
  std::string page = ErrorPage("stop 7", "stop 7");
  EXPECT_EQ(out, "Content-Type: text/html\r\n\r\n<html><body>partial\r\n" +
                     page.substr(std::string("Content-Type: text/html\r\n\r\n").size()));
}

TEST_F(CgiTest, ErrorOutsideAWebServerIsOneLine) {
  EXPECT_EQ(RunChild(1, [] { qError("bad %s <x>", "thing"); }), "Error: bad thing <x>\r\n");
}

TEST_F(CgiTest, ErrorWithAMessageTooLong) {
  Set("REMOTE_ADDR", "127.0.0.1");
  std::string fits(1023 - 2, 'm');
  EXPECT_EQ(RunChild(1, [&] { qError("%s", std::string(1024, 'm').c_str()); }),
            "qError(): Message is too long or invalid");
  EXPECT_EQ(RunChild(1, [&] { qError("%s!!", fits.c_str()); }), ErrorPage(fits + "!!", fits + "!!"));
}

TEST_F(CgiTest, ErrorFreesTheListsBeforeEnding) {
  // Under the leak checker a list left behind at exit is reported; here the
  // lists hold entries when qError runs.
  Set("REMOTE_ADDR", "127.0.0.1");
  Set("QUERY_STRING", "a=1");
  Set("HTTP_COOKIE", "c=2");
  std::string out = RunChild(1, [] {
    qValue("a");
    qcValue("c");
    qError("done");
  });
  EXPECT_EQ(out, ErrorPage("done", "done"));
}

TEST_F(CgiTest, EnvironmentRecord) {
  Set("REMOTE_ADDR", "192.168.0.7");
  Set("SERVER_SOFTWARE", "Tavrel");
  Set("SCRIPT_NAME", "\\admin\\x.cgi");
  Set("CONTENT_LENGTH", "0");
  Set("HTTP_COOKIE", "a=b");
  std::time_t before = std::time(nullptr);
  CgiEnv env;
  qGetCgiEnv(&env);
  std::time_t after = std::time(nullptr);
  EXPECT_STREQ(env.REMOTE_ADDR, "192.168.0.7");
  EXPECT_EQ(env.REMOTE_ADDR, getenv("REMOTE_ADDR"));  // the environment's own text
  EXPECT_STREQ(env.REMOTE_HOST, "192.168.0.7");      // falls back to the address
  EXPECT_STREQ(env.SERVER_SOFTWARE, "Tavrel");
  EXPECT_STREQ(env.SCRIPT_NAME, "\\admin\\x.cgi");
  EXPECT_STREQ(env.CONTENT_LENGTH, "0");
  EXPECT_STREQ(env.HTTP_COOKIE, "a=b");
  EXPECT_EQ(env.QUERY_STRING, nullptr);
  EXPECT_EQ(env.AUTH_TYPE, nullptr);
  EXPECT_EQ(env.UNIQUE_ID, nullptr);

  std::tm local{};
  local.tm_year = env.year - 1900;
  local.tm_mon = env.mon - 1;
  local.tm_mday = env.day;
  local.tm_hour = env.hour;
  local.tm_min = env.min;
  local.tm_sec = env.sec;
  local.tm_isdst = -1;
  std::time_t recorded = std::mktime(&local);
  EXPECT_GE(recorded, before - 1);
  EXPECT_LE(recorded, after + 1);

  Set("REMOTE_HOST", "client.example");
  qGetCgiEnv(&env);
  EXPECT_STREQ(env.REMOTE_HOST, "client.example");
}

}  // namespace
