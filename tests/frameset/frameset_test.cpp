// The frameset page, byte for byte, as the server receives it (text mode:
// every line ends in CR LF), whatever the request holds.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "cgi/cgi.h"
#include "frameset/frameset_page.h"
#include "support/isolated_env.h"

namespace {

const char kPage[] =
    "Content-Type: text/html\r\n"
    "\r\n"
    "<html>\r\n"
    "<head>\r\n"
    "<FRAMESET cols='30%,*' BORDER=0 FRAMEBORDER=1 FRAMESPACING=1>\r\n"
    "<FRAME src='folders.cgi'   name='FRM_LEFT' >\r\n"
    "<FRAME src='empty.html' name='FRM_RIGHT'>\r\n"
    "</FRAMESET>\r\n"
    "</html>\r\n";

std::string PageFor(const testsupport::IsolatedEnv& env, const char* method, const char* query, const char* cookie) {
  std::string out = env.path(std::string("page-") + method);
  EXPECT_EXIT(
      {
        setenv("REQUEST_METHOD", method, 1);
        if (query) setenv("QUERY_STRING", query, 1);
        if (cookie) setenv("HTTP_COOKIE", cookie, 1);
        int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, STDOUT_FILENO);
        close(fd);
        writeFramesetPage();
        qFlush();
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  return testsupport::IsolatedEnv::ReadFile(out);
}

TEST(Frameset, SamePageForEveryRequest) {
  testsupport::IsolatedEnv env;
  EXPECT_EQ(PageFor(env, "GET", nullptr, nullptr), kPage);
  EXPECT_EQ(PageFor(env, "POST", "a=1&b=%41", "AUTH=x"), kPage);
  EXPECT_EQ(PageFor(env, "HEAD", "x", nullptr), kPage);
}

}  // namespace
