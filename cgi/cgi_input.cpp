// The request body as bytes: a buffered reader over standard input that
// stops at CONTENT_LENGTH when the server gave one, so a parser never waits
// for, or takes, bytes beyond the declared body.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include "cgi/cgi_internal.h"

namespace cgi {
namespace {

constexpr size_t kChunk = 65536;
// Far above any body the server accepts, and small enough for sums of sizes.
constexpr unsigned long long kLengthBound = 1ULL << 60;

struct Reader {
  bool started = false;
  bool limited = false;
  unsigned long long remaining = 0;  // bytes still allowed when limited
  bool atEnd = false;
  char buf[kChunk];
  size_t pos = 0;
  size_t len = 0;
};

Reader gIn;

void start() {
  if (gIn.started) return;
  gIn.started = true;
  const char* cl = std::getenv("CONTENT_LENGTH");
  if (cl != nullptr) {
    gIn.limited = true;
    gIn.remaining = contentLengthValue(cl);
  }
}

// Refills the buffer; false at the end of input (or of the declared body).
bool refill() {
  start();
  if (gIn.atEnd) return false;
  size_t want = kChunk;
  if (gIn.limited && gIn.remaining < want) want = static_cast<size_t>(gIn.remaining);
  if (want == 0) {
    gIn.atEnd = true;
    return false;
  }
  for (;;) {
    ssize_t n = ::read(STDIN_FILENO, gIn.buf, want);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      gIn.atEnd = true;
      return false;
    }
    gIn.pos = 0;
    gIn.len = static_cast<size_t>(n);
    if (gIn.limited) gIn.remaining -= static_cast<unsigned long long>(n);
    return true;
  }
}

}  // namespace

unsigned long long contentLengthValue(const char* text) {
  unsigned long long v = 0;
  while (*text == ' ' || *text == '\t') ++text;
  for (; *text >= '0' && *text <= '9'; ++text) {
    v = v * 10 + static_cast<unsigned>(*text - '0');
    if (v > kLengthBound) return kLengthBound;
  }
  return v;
}

int inputByte() {
  if (gIn.pos == gIn.len && !refill()) return -1;
  return static_cast<unsigned char>(gIn.buf[gIn.pos++]);
}

size_t inputRead(char* out, size_t len) {
  size_t done = 0;
  while (done < len) {
    if (gIn.pos == gIn.len && !refill()) break;
    size_t take = gIn.len - gIn.pos;
    if (take > len - done) take = len - done;
    std::memcpy(out + done, gIn.buf + gIn.pos, take);
    gIn.pos += take;
    done += take;
  }
  return done;
}

size_t inputLine(char* out, size_t cap) {
  size_t n = 0;
  while (n + 1 < cap) {
    int c = inputByte();
    if (c < 0) break;
    out[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  if (cap > 0) out[n] = '\0';
  return n;
}

void resetInputForTesting() {
  gIn.started = false;
  gIn.limited = false;
  gIn.remaining = 0;
  gIn.atEnd = false;
  gIn.pos = 0;
  gIn.len = 0;
}

}  // namespace cgi
