// The CGI environment record: the variables a program of this system may
// look at, read straight from the process environment, and the local time.
#include <cstdlib>
#include <ctime>

#include "cgi/cgi.h"

void qGetCgiEnv(CgiEnv* env) {
  env->AUTH_TYPE = std::getenv("AUTH_TYPE");
  env->CONTENT_LENGTH = std::getenv("CONTENT_LENGTH");
  env->CONTENT_TYPE = std::getenv("CONTENT_TYPE");
  env->DOCUMENT_ROOT = std::getenv("DOCUMENT_ROOT");
  env->GATEWAY_INTERFACE = std::getenv("GATEWAY_INTERFACE");
  env->HTTP_ACCEPT = std::getenv("HTTP_ACCEPT");
  env->HTTP_ACCEPT_ENCODING = std::getenv("HTTP_ACCEPT_ENCODING");
  env->HTTP_ACCEPT_LANGUAGE = std::getenv("HTTP_ACCEPT_LANGUAGE");
  env->HTTP_CONNECTION = std::getenv("HTTP_CONNECTION");
  env->HTTP_COOKIE = std::getenv("HTTP_COOKIE");
  env->HTTP_HOST = std::getenv("HTTP_HOST");
  env->HTTP_REFERER = std::getenv("HTTP_REFERER");
  env->HTTP_USER_AGENT = std::getenv("HTTP_USER_AGENT");
  env->QUERY_STRING = std::getenv("QUERY_STRING");
  env->REMOTE_ADDR = std::getenv("REMOTE_ADDR");
  // The web server doesn't resolve client names, so the address stands in.
  env->REMOTE_HOST = std::getenv("REMOTE_HOST");
  if (env->REMOTE_HOST == nullptr) env->REMOTE_HOST = env->REMOTE_ADDR;
  env->REMOTE_PORT = std::getenv("REMOTE_PORT");
  env->REMOTE_USER = std::getenv("REMOTE_USER");
  env->REQUEST_METHOD = std::getenv("REQUEST_METHOD");
  env->REQUEST_URI = std::getenv("REQUEST_URI");
  env->SCRIPT_FILENAME = std::getenv("SCRIPT_FILENAME");
  env->SCRIPT_NAME = std::getenv("SCRIPT_NAME");
  env->SERVER_ADMIN = std::getenv("SERVER_ADMIN");
  env->SERVER_NAME = std::getenv("SERVER_NAME");
  env->SERVER_PORT = std::getenv("SERVER_PORT");
  env->SERVER_PROTOCOL = std::getenv("SERVER_PROTOCOL");
  env->SERVER_SOFTWARE = std::getenv("SERVER_SOFTWARE");
  env->SERVER_SIGNATURE = std::getenv("SERVER_SIGNATURE");
  env->UNIQUE_ID = std::getenv("UNIQUE_ID");

  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  env->year = local.tm_year + 1900;
  env->mon = local.tm_mon + 1;
  env->day = local.tm_mday;
  env->hour = local.tm_hour;
  env->min = local.tm_min;
  env->sec = local.tm_sec;
}
