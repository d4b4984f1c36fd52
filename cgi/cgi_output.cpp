// The output layer of every CGI program: a buffer in front of standard
// output that works in text mode, so each LF the program writes reaches the
// server as CR LF (the server and the browsers expect the line ends of the
// system's text-mode output). Also the two response heads, which decide
// whether a Content-Type line has already gone out.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include "cgi/cgi.h"
#include "cgi/cgi_internal.h"

namespace {

constexpr size_t kBufferSize = 8192;

char gBuffer[kBufferSize];
size_t gUsed = 0;
bool gFlushAtExit = false;
bool gContentTypePrinted = false;
// Once the server's end of standard output is gone, nothing can reach it;
// further output is dropped instead of retried.
bool gOutputBroken = false;

void writeAll(const char* data, size_t len) {
  while (len > 0 && !gOutputBroken) {
    ssize_t n = ::write(STDOUT_FILENO, data, len);
    if (n < 0) {
      if (errno == EINTR) continue;
      gOutputBroken = true;
      return;
    }
    data += n;
    len -= static_cast<size_t>(n);
  }
}

void flushAtExit() { qFlush(); }

void putByte(char c) {
  if (gUsed == kBufferSize) qFlush();
  gBuffer[gUsed++] = c;
}

}  // namespace

void qFlush() {
  writeAll(gBuffer, gUsed);
  gUsed = 0;
}

void qWrite(const char* data, size_t len) {
  if (!gFlushAtExit) {
    gFlushAtExit = true;
    std::atexit(flushAtExit);
  }
  for (size_t i = 0; i < len; ++i) {
    if (data[i] == '\n') putByte('\r');
    putByte(data[i]);
  }
}

void qPuts(const char* text) { qWrite(text, std::strlen(text)); }

int qPrintf(const char* format, ...) {
  char small[1024];
  va_list ap;
  va_start(ap, format);
  va_list again;
  va_copy(again, ap);
  int n = std::vsnprintf(small, sizeof small, format, ap);
  va_end(ap);
  if (n < 0) {
    va_end(again);
    return -1;
  }
  if (static_cast<size_t>(n) < sizeof small) {
    va_end(again);
    qWrite(small, static_cast<size_t>(n));
    return n;
  }
  char* big = static_cast<char*>(std::malloc(static_cast<size_t>(n) + 1));
  if (big == nullptr) {
    va_end(again);
    return -1;
  }
  std::vsnprintf(big, static_cast<size_t>(n) + 1, format, again);
  va_end(again);
  qWrite(big, static_cast<size_t>(n));
  std::free(big);
  return n;
}

void qPrintContentType(const char* mimeType) {
  if (gContentTypePrinted) return;
  qPrintf("Content-Type: %s%c%c", mimeType, '\n', '\n');
  gContentTypePrinted = true;
}

void qPrintLocation(const char* address) { qPrintf("Location: %s\n\n", address); }

namespace cgi {

void resetOutputForTesting() {
  gUsed = 0;
  gContentTypePrinted = false;
  gOutputBroken = false;
}

}  // namespace cgi
