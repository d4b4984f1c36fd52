// The script map, script kinds, the command line and the redirect's Location
// line: the parts of the gateway and the redirect that need no socket.
#include "server/cgi_gateway.h"

#include <arpa/inet.h>

#include <gtest/gtest.h>

#include "server/default_document.h"
#include "server/server_config.h"
#include "support/isolated_env.h"

namespace {

class FilterTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gServerConfig = ServerConfig{};
    gServerConfig.installDir = env_.root();
  }
  void Load(const std::string& text) {
    env_.WriteFile("Filter.cfg", text);
    LoadFilterTable();
  }
  testsupport::IsolatedEnv env_;
};

TEST_F(FilterTableTest, ReadsEntriesAndSkipsWhatIsNotOne) {
  Load("# comment=/not/this\r\n"
       ".pl=/usr/bin/perl -w\r\n"
       "no equals sign\n"
       ".empty=\n"
       ".php=/usr/bin/php-cgi -d a=b\n"
       "=/no/extension\n"
       ".PL=/second/perl\n"
       ".last=/no/line/end");
  std::vector<std::pair<std::string, std::string>> got;
  for (const FilterEntry& e : FilterTable) got.emplace_back(e.extension, e.command);
  std::vector<std::pair<std::string, std::string>> want = {
      {".pl", "/usr/bin/perl -w"},
      {".php", "/usr/bin/php-cgi -d a=b"},
      {"", "/no/extension"},
      {".PL", "/second/perl"},
      {".last", "/no/line/end"},
  };
  EXPECT_EQ(got, want);
}

TEST_F(FilterTableTest, LongLinesAreReadInPiecesOf254) {
  std::string command(300, 'c');
  Load(".long=" + command + "\n");
  // The first piece holds ".long=" and 248 characters; the rest, without
  // "=", is ignored.
  ASSERT_EQ(FilterTable.size(), 1u);
  EXPECT_EQ(FilterTable[0].command, std::string(248, 'c'));
  // A comment of 254 characters ends its piece; what follows on the same
  // line is read as a piece of its own.
  Load("#" + std::string(253, 'x') + ".sh=/bin/sh\n");
  ASSERT_EQ(FilterTable.size(), 1u);
  EXPECT_EQ(FilterTable[0].extension, ".sh");
  EXPECT_EQ(FilterTable[0].command, "/bin/sh");
}

TEST_F(FilterTableTest, MissingFileMeansNoMap) {
  Load(".pl=/usr/bin/perl\n");
  ASSERT_EQ(FilterTable.size(), 1u);
  gServerConfig.installDir = env_.path("elsewhere");
  LoadFilterTable();
  EXPECT_TRUE(FilterTable.empty());
}

TEST_F(FilterTableTest, ScriptKinds) {
  Load(".pl=/usr/bin/perl\n.sh=/bin/sh\n.PL=/other\n");
  struct Case {
    const char* path;
    int kind;
  } cases[] = {
      {"/www/a.cgi", 0},    {"/www/A.CGI", 0},       {"/www/x.pl", 1},  {"/www/X.PL", 1},
      {"/www/run.sh", 2},   {"/www/page.html", -1},  {"/www/noext", -1}, {"/www/d.pl/file", -1},
      {"/www/a.cgi.txt", -1}, {"/www/.cgi", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(ScriptKindOf(c.path), c.kind) << c.path;
}

TEST_F(FilterTableTest, CommandLines) {
  Load(".pl=/usr/bin/perl  -w -T\n");
  struct Case {
    int kind;
    std::optional<std::string> query;
    std::vector<std::string> argv;
  } cases[] = {
      {0, std::nullopt, {"/www/a b.cgi"}},
      {1, std::nullopt, {"/usr/bin/perl", "-w", "-T", "/www/a b.cgi"}},
      {0, std::string("a+b"), {"/www/a b.cgi", "a", "b"}},
      {0, std::string("+%41%2B++x%"), {"/www/a b.cgi", "A+", "x%"}},
      {0, std::string("a=b+c"), {"/www/a b.cgi"}},
      {0, std::string(""), {"/www/a b.cgi"}},
      {1, std::string("w"), {"/usr/bin/perl", "-w", "-T", "/www/a b.cgi", "w"}},
  };
  for (const Case& c : cases) {
    Connection conn;
    conn.path = "/www/a b.cgi";
    conn.scriptKind = c.kind;
    conn.query = c.query;
    EXPECT_EQ(BuildCgiCommandLine(conn), c.argv) << c.kind << " " << c.query.value_or("-");
  }
}

TEST(CgiEnvironment, OrderAndPresence) {
  gServerConfig = ServerConfig{};
  gServerConfig.rootDir = "/srv/www";
  Connection c;
  c.path = "/srv/www/admin/x.cgi";
  c.method = MethodPost;
  c.clientAddress = htonl(0x0A000102);
  c.contentLength = 12;
  c.cookie = "AUTH=1";
  c.contentType = "text/plain";
  std::vector<std::string> env = BuildCgiEnvironment(c);
  std::vector<std::string> head(env.begin(), env.begin() + 11);
  std::vector<std::string> want = {
      "SERVER_SOFTWARE=Tavrel",     "GATEWAY_INTERFACE=CGI/1.1",
      "SERVER_PORT=0",              "REQUEST_METHOD=POST",
      "PATH_TRANSLATED=/srv/www/admin/x.cgi", "SCRIPT_NAME=/admin/x.cgi",
      "SCRIPT_PATH=/srv/www/admin", "REMOTE_ADDR=10.0.1.2",
      "HTTP_COOKIE=AUTH=1",         "CONTENT_TYPE=text/plain",
      "CONTENT_LENGTH=12",
  };
  EXPECT_EQ(head, want);
  EXPECT_EQ(env[11], "HTTP_CONTENT_LENGTH=12");
}

TEST(DefaultDocument, LocationLines) {
  struct Case {
    bool portFree;
    int port;
    const char* path;
    const char* line;
  } cases[] = {
      {false, 80, "/index.html", "Location: http://www.portal.example/index.html\r\n\r\n"},
      {false, 8080, "/index.html", "Location: http://www.portal.example:8080/index.html\r\n\r\n"},
      {true, 12345, "/index.html",
       "Location: http://portfree-www.portal.example:12345/index.html\r\n\r\n"},
      {true, 80, "/sub/index.html", "Location: http://portfree-www.portal.example:80/sub/index.html\r\n\r\n"},
      {false, 80, "/a b/%?#\xB0\xA1.html",
       "Location: http://www.portal.example/a%20b/%25%3F%23%B0%A1.html\r\n\r\n"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(DefaultDocumentLocation(c.path, c.portFree, c.port, "www.portal.example"), c.line)
        << c.path;
}

}  // namespace
