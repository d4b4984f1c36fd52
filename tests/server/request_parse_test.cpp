// Reading requests: the request line, the header table, percent-decoding,
// line splitting, and HandleConnection fed through a socket pair in pieces
// (split lines, bodies over several segments, the 400 answers).
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "server/connection.h"
#include "server/server_config.h"
#include "support/isolated_env.h"
#include "support/raw_http.h"

namespace {

struct RequestLineCase {
  const char* line;
  bool accepted;
  int method;
  const char* path;
  const char* query;  // nullptr: no query
  bool simple;
};

const RequestLineCase kRequestLines[] = {
    {"GET /index.html HTTP/1.0", true, MethodGet, "/index.html", nullptr, false},
    {"get /index.html HTTP/1.0", true, MethodGet, "/index.html", nullptr, false},
    {"HeAd / HTTP/1.1", true, MethodHead, "/", nullptr, false},
    {"OPTIONS * HTTP/1.0", true, MethodOptions, "*", nullptr, false},
    {"POST /a.cgi HTTP/1.0", true, MethodPost, "/a.cgi", nullptr, false},
    {"PUT /x HTTP/1.0", true, MethodPut, "/x", nullptr, false},
    {"DELETE /x HTTP/1.0", true, MethodDelete, "/x", nullptr, false},
    {"TRACE /x HTTP/1.0", true, MethodTrace, "/x", nullptr, false},
    // Runs of blanks count as one; further words are ignored.
    {"GET   /a    HTTP/1.0   extra", true, MethodGet, "/a", nullptr, false},
    // The query is kept exactly as sent; the path is decoded, "+" kept.
    {"GET /a.cgi?x=1&y=%41+b HTTP/1.0", true, MethodGet, "/a.cgi", "x=1&y=%41+b", false},
    {"GET /my%20file+1.html HTTP/1.0", true, MethodGet, "/my file+1.html", nullptr, false},
    {"GET /a?b?c HTTP/1.0", true, MethodGet, "/a", "b?c", false},
    // An empty query: the version is still the version.
    {"GET /a? HTTP/1.0", true, MethodGet, "/a", "", false},
    {"GET /a?", true, MethodGet, "/a", "", true},
    // No version: a simple request.
    {"GET /a", true, MethodGet, "/a", nullptr, true},
    {"GET /a?q", true, MethodGet, "/a", "q", true},
    // Refused with 400.
    {"GET", false, 0, "", nullptr, false},
    {"BREW /pot HTTP/1.0", false, 0, "", nullptr, false},
    {"GETS /a HTTP/1.0", false, 0, "", nullptr, false},
    {" ", false, 0, "", nullptr, false},
    {"   GET", false, 0, "", nullptr, false},
    {"GET ", false, 0, "", nullptr, false},
};

TEST(ParseRequestLine, Table) {
  for (const RequestLineCase& t : kRequestLines) {
    Connection c;
    bool ok = ParseRequestLine(c, t.line);
    EXPECT_EQ(ok, t.accepted) << t.line;
    if (!ok || !t.accepted) continue;
    EXPECT_EQ(c.method, t.method) << t.line;
    EXPECT_EQ(c.path, t.path) << t.line;
    EXPECT_EQ(c.query.has_value(), t.query != nullptr) << t.line;
    if (t.query && c.query) {
      EXPECT_EQ(*c.query, t.query) << t.line;
    }
    EXPECT_EQ(c.simpleRequest, t.simple) << t.line;
    EXPECT_EQ(c.parseState, ReadHeaders) << t.line;
  }
}

TEST(ParseHeaderLine, KnownHeadersAnyCase) {
  Connection c;
  ParseHeaderLine(c, "content-length: 42");
  ParseHeaderLine(c, "COOKIE: AUTH=abc; x=y");
  ParseHeaderLine(c, "Referer:http://a/b");
  ParseHeaderLine(c, "Content-Type: application/x-www-form-urlencoded");
  ParseHeaderLine(c, "Accept: text/html  ");  // trailing blanks are kept
  ParseHeaderLine(c, "accept-encoding: gzip");
  ParseHeaderLine(c, "If-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT");
  ParseHeaderLine(c, "Host: example");
  EXPECT_EQ(c.contentLength, 42);
  EXPECT_EQ(c.cookie.value_or("-"), "AUTH=abc; x=y");
  EXPECT_EQ(c.referer.value_or("-"), "http://a/b");
  EXPECT_EQ(c.contentType.value_or("-"), "application/x-www-form-urlencoded");
  EXPECT_EQ(c.accept.value_or("-"), "text/html  ");
  EXPECT_EQ(c.acceptEncoding.value_or("-"), "gzip");
  EXPECT_EQ(c.ifModifiedSince, 784111777);
}

TEST(ParseHeaderLine, UnknownAndMalformedLinesAreIgnored) {
  Connection c;
  ParseHeaderLine(c, "Content-Length : 42");  // blank before the colon: another name
  ParseHeaderLine(c, "Cookie-Extra: x");
  ParseHeaderLine(c, "Cookie x");
  ParseHeaderLine(c, "If-Modified-Since: yesterday");
  EXPECT_EQ(c.contentLength, 0);
  EXPECT_FALSE(c.cookie.has_value());
  EXPECT_EQ(c.ifModifiedSince, -1);
}

TEST(ParseHeaderLine, LaterHeaderWins) {
  Connection c;
  ParseHeaderLine(c, "Cookie: a=1");
  ParseHeaderLine(c, "Cookie: b=2");
  ParseHeaderLine(c, "Content-Length: -5");
  EXPECT_TRUE(c.badContentLength);
  ParseHeaderLine(c, "Content-Length: 7");
  EXPECT_EQ(*c.cookie, "b=2");
  EXPECT_EQ(c.contentLength, 7);
  EXPECT_FALSE(c.badContentLength);
}

TEST(ParseHeaderLine, ContentLengthReadLikeAtol) {
  struct {
    const char* value;
    int32_t length;
    bool bad;
  } cases[] = {
      {"12", 12, false},      {"  12", 12, false},   {"+12", 12, false},  {"12abc", 12, false},
      {"abc", 0, false},      {"", 0, false},        {"-0", 0, false},    {"-1", 0, true},
      {"2147483647", 2147483647, false},             {"2147483648", 0, true},
      {"99999999999999999999999", 0, true},
  };
  for (const auto& t : cases) {
    Connection c;
    ParseHeaderLine(c, std::string("Content-Length: ") + t.value);
    EXPECT_EQ(c.contentLength, t.length) << t.value;
    EXPECT_EQ(c.badContentLength, t.bad) << t.value;
  }
}

TEST(DecodeUrlPath, Table) {
  struct {
    const char* in;
    std::string out;
  } cases[] = {
      {"/a%20b", "/a b"},   {"/%41%62%6a%6A%4a", "/AbjjJ"}, {"/a+b", "/a+b"},   {"/100%", "/100%"},
      {"/%4", "/%4"},       {"/%zz", "/%zz"},           {"/%%41", "/%A"},   {"/%C7%D1", "/\xC7\xD1"},
      {"/a%00b", std::string("/a\0b", 4)},              {"", ""},
  };
  for (const auto& t : cases) {
    std::string s = t.in;
    DecodeUrlPath(s);
    EXPECT_EQ(s, t.out) << t.in;
  }
}

TEST(NextLine, DropsCarriageReturnsAndReportsIncompleteLines) {
  const std::string block = "GET / HTTP/1.0\r\nA:\rb\r\n\r\ntail";
  size_t pos = 0;
  std::string line;
  EXPECT_TRUE(NextLine(block.data(), block.size(), &pos, &line));
  EXPECT_EQ(line, "GET / HTTP/1.0");
  EXPECT_TRUE(NextLine(block.data(), block.size(), &pos, &line));
  EXPECT_EQ(line, "A:b");
  EXPECT_TRUE(NextLine(block.data(), block.size(), &pos, &line));
  EXPECT_EQ(line, "");
  EXPECT_FALSE(NextLine(block.data(), block.size(), &pos, &line));
  EXPECT_EQ(line, "tail");
  EXPECT_EQ(pos, block.size());
}

// A connection on one end of a socket pair; the test plays the client on
// the other end.
struct PairedConnection {
  Connection conn;
  int peer = -1;

  PairedConnection() {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return;
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    conn.socket = fds[0];
    peer = fds[1];
    conn.stopEvent = plat::Event::Create(false);
  }
  ~PairedConnection() {
    CloseConnection(conn);
    if (peer >= 0) close(peer);
  }

  // Runs HandleConnection on a thread while the pieces are sent with pauses
  // (so each arrives as a block of its own); returns what the server
  // answered.
  std::string Run(const std::vector<std::string>& pieces, bool closeAfter = false) {
    std::thread server([this] {
      HandleConnection(conn);
      shutdown(conn.socket, SHUT_RDWR);  // the end of the answer
    });
    for (const std::string& p : pieces) {
      testsupport::SendText(peer, p);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (closeAfter) shutdown(peer, SHUT_WR);
    server.join();
    return testsupport::ReadAll(peer, 1000);
  }

  std::string BodyFileContents() {
    if (!conn.bodyFile.IsOpen()) return "<no body file>";
    std::string out(4096, '\0');
    size_t got = 0;
    conn.bodyFile.ReadAt(0, out.data(), out.size(), &got);
    out.resize(got);
    return out;
  }
};

class HandleConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gServerConfig = ServerConfig{};
    gServerConfig.installDir = env_.root();
    gServerConfig.rootDir = env_.path("www");
    env_.WriteFile("www/page.html", "<p>hi</p>");
  }
  testsupport::IsolatedEnv env_;
  PairedConnection pair_;
  Connection& conn_ = pair_.conn;
  std::string Run(const std::vector<std::string>& pieces, bool closeAfter = false) {
    return pair_.Run(pieces, closeAfter);
  }
};

const char kNotImplemented[] = "HTTP/1.0 501 Not Implemented\r\nServer: Tavrel\r\n\r\n\r\n";
const char kBadRequest[] = "HTTP/1.0 400 Bad Request\r\nServer: Tavrel\r\n\r\n\r\n";

TEST_F(HandleConnectionTest, HeadSplitAnywhereGivesTheSameRequest) {
  std::string answer = Run({"GE", "T /pa", "ge.html HT", "TP/1.0\r", "\nCook", "ie: a=", "1\r\nAcc",
                            "ept: */*\r\n", "\r", "\n"});
  EXPECT_EQ(conn_.method, MethodGet);
  EXPECT_EQ(conn_.cookie.value_or("-"), "a=1");
  EXPECT_EQ(conn_.accept.value_or("-"), "*/*");
  EXPECT_EQ(answer.substr(0, 17), "HTTP/1.0 200 OK\r\n");
  EXPECT_NE(answer.find("<p>hi</p>"), std::string::npos);
}

TEST_F(HandleConnectionTest, BodyOverSeveralSegmentsIsStoredWhole) {
  std::string answer = Run({"POST /page.html HTTP/1.0\r\nContent-Length: 26\r\n\r\nabcdefghij", "klmnop",
                            "qrstuvwxyz"});
  EXPECT_EQ(conn_.parseState, RequestComplete);
  EXPECT_EQ(conn_.bodyReceived, 26u);
  EXPECT_EQ(pair_.BodyFileContents(), "abcdefghijklmnopqrstuvwxyz");
  ASSERT_TRUE(conn_.bodyFileName.has_value());
  EXPECT_NE(conn_.bodyFileName->find("/CIN"), std::string::npos);
  EXPECT_EQ(conn_.bodyFileName->rfind(env_.path("tmp/CIN"), 0), 0u) << *conn_.bodyFileName;
  EXPECT_EQ(answer, kNotImplemented);  // a POST to a static file
}

TEST_F(HandleConnectionTest, BodyBytesBeyondContentLengthInTheLastBlockAreKept) {
  Run({"POST /page.html HTTP/1.0\r\nContent-Length: 3\r\n\r\nabcdef"});
  EXPECT_EQ(conn_.bodyReceived, 3u);
  EXPECT_EQ(pair_.BodyFileContents(), "abcdef");
}

TEST_F(HandleConnectionTest, NoBodyFileWithoutContentLength) {
  Run({"GET /page.html HTTP/1.0\r\n\r\n"});
  EXPECT_FALSE(conn_.bodyFile.IsOpen());
  EXPECT_FALSE(conn_.bodyFileName.has_value());
}

TEST_F(HandleConnectionTest, BadRequestsGet400) {
  const std::string longLine(kMaxLineBytes + 1, 'a');
  const std::vector<std::vector<std::string>> cases = {
      {"\r\n"},                                                      // empty line before a request line
      {"\r\nGET /page.html HTTP/1.0\r\n\r\n"},
      {"BREW /pot HTTP/1.0\r\n\r\n"},                                // unknown method
      {"GET\r\n\r\n"},                                               // one word
      {"POST /page.html HTTP/1.0\r\nContent-Length: -1\r\n\r\nx"},   // negative length
      {"POST /page.html HTTP/1.0\r\nContent-Length: 4294967296\r\n\r\nx"},
      {"GET /" + longLine + " HTTP/1.0\r\n\r\n"},                    // request line too long
      {"GET /page.html HTTP/1.0\r\nX: " + longLine + "\r\n\r\n"},    // header line too long
      {"GET /page.html HTTP/1.0\r\nX: " + longLine.substr(0, 1500), longLine.substr(0, 1500) + "\r\n\r\n"},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    PairedConnection fresh;
    EXPECT_EQ(fresh.Run(cases[i]), kBadRequest) << "case " << i;
  }
}

TEST_F(HandleConnectionTest, LineOfExactlyTheLimitIsAccepted) {
  std::string value(kMaxLineBytes - 3, 'v');  // "X: " + value = 2048 bytes
  std::string answer = Run({"GET /page.html HTTP/1.0\r\nX: " + value + "\r\n\r\n"});
  EXPECT_EQ(answer.substr(0, 17), "HTTP/1.0 200 OK\r\n");
}

TEST_F(HandleConnectionTest, PeerClosingBeforeTheEndGetsNoAnswer) {
  EXPECT_EQ(Run({"GET /page.html HTTP/1.0\r\n"}, true), "");
  EXPECT_NE(conn_.parseState, RequestComplete);
}

TEST_F(HandleConnectionTest, PeerClosingInsideTheBodyGetsNoAnswer) {
  EXPECT_EQ(Run({"POST /page.html HTTP/1.0\r\nContent-Length: 10\r\n\r\nabc"}, true), "");
  EXPECT_EQ(conn_.parseState, ReadBody);
  EXPECT_EQ(conn_.bodyReceived, 3u);
}

TEST_F(HandleConnectionTest, StopEndsAPendingReceive) {
  std::thread server([this] { HandleConnection(conn_); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  conn_.stopEvent->Set();
  server.join();  // returns instead of waiting for the client forever
  EXPECT_EQ(conn_.parseState, ReadRequestLine);
}

TEST_F(HandleConnectionTest, CloseConnectionTwiceIsHarmless) {
  Run({"GET /page.html HTTP/1.0\r\n\r\n"});
  CloseConnection(conn_);
  EXPECT_TRUE(conn_.closed);
  EXPECT_EQ(conn_.socket, -1);
  EXPECT_FALSE(conn_.file.IsOpen());
  CloseConnection(conn_);
  EXPECT_TRUE(conn_.closed);
}

}  // namespace
