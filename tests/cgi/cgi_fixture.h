// Test support for the CGI library: a fixture that gives each test a clean
// CGI environment, a request body on standard input, and a way to run code
// in a child process (a death-test child) with its standard output caught
// in a file, for everything that prints or ends the process.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "cgi/cgi.h"
#include "cgi/cgi_internal.h"
#include "support/isolated_env.h"

namespace cgitest {

inline const char* const kCgiVariables[] = {
    "AUTH_TYPE",       "CONTENT_LENGTH",  "CONTENT_TYPE",    "DOCUMENT_ROOT",     "GATEWAY_INTERFACE",
    "HTTP_ACCEPT",     "HTTP_ACCEPT_ENCODING", "HTTP_ACCEPT_LANGUAGE", "HTTP_CONNECTION", "HTTP_COOKIE",
    "HTTP_HOST",       "HTTP_REFERER",    "HTTP_USER_AGENT", "QUERY_STRING",      "REMOTE_ADDR",
    "REMOTE_HOST",     "REMOTE_PORT",     "REMOTE_USER",     "REQUEST_METHOD",    "REQUEST_URI",
    "SCRIPT_FILENAME", "SCRIPT_NAME",     "SERVER_ADMIN",    "SERVER_NAME",       "SERVER_PORT",
    "SERVER_PROTOCOL", "SERVER_SOFTWARE", "SERVER_SIGNATURE", "UNIQUE_ID",
};

using Entries = std::vector<std::pair<std::string, std::string>>;

inline Entries ListOf(const FormEntry* e) {
  Entries out;
  for (; e != nullptr; e = e->next) out.emplace_back(e->name, std::string(e->value, e->length));
  return out;
}

class CgiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* v : kCgiVariables) unsetenv(v);
    cgi::resetForTesting();
    savedStdin_ = dup(STDIN_FILENO);
    Body("");
  }
  void TearDown() override {
    cgi::resetForTesting();
    dup2(savedStdin_, STDIN_FILENO);
    close(savedStdin_);
    for (const char* v : kCgiVariables) unsetenv(v);
  }

  static void Set(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }

  // Puts `bytes` on standard input, as the server's body file would be.
  void Body(const std::string& bytes) {
    std::string path = env_.WriteFile("body-" + std::to_string(bodies_++), bytes);
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    dup2(fd, STDIN_FILENO);
    close(fd);
    cgi::resetInputForTesting();
  }

  // A POST of `body` with its content type and a matching CONTENT_LENGTH.
  void Post(const std::string& contentType, const std::string& body) {
    Set("REQUEST_METHOD", "POST");
    Set("CONTENT_TYPE", contentType);
    Set("CONTENT_LENGTH", std::to_string(body.size()));
    Body(body);
  }

  // Runs `fn` in a child whose standard output goes to a file, expects it
  // to end with `code` (fn returning counts as 0), and returns the bytes it
  // wrote.
  template <class F>
  std::string RunChild(int code, F fn) {
    std::string out = env_.path("stdout-" + std::to_string(children_++));
    EXPECT_EXIT(
        {
          int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
          dup2(fd, STDOUT_FILENO);
          close(fd);
          fn();
          qFlush();
          std::exit(0);
        },
        ::testing::ExitedWithCode(code), "");
    return testsupport::IsolatedEnv::ReadFile(out);
  }

  testsupport::IsolatedEnv env_;

 private:
  int savedStdin_ = -1;
  int bodies_ = 0;
  int children_ = 0;
};

// The error page qError prints under a web server, for a message already
// escaped as the page shows it.
inline std::string ErrorPage(const std::string& title, const std::string& alert) {
  return "Content-Type: text/html\r\n\r\n<html>\r\n<head>\r\n<title>Error: " + title +
         "</title>\r\n<script language='JavaScript'>\r\n  alert(\"" + alert +
         "\");\r\n  history.back();\r\n</script>\r\n</head>\r\n</html>\r\n";
}

}  // namespace cgitest
