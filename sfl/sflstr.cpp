// Text helpers. White space is tested by hand rather than with the C
// library's classification, whose answer for bytes above 0x7F depends on
// the locale; Korean text must never lose a byte.
#include "sfl/sflstr.h"

#include <cstring>

namespace {

bool isWhite(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

}  // namespace

char* trimSpace(char* text) {
  char* start = text;
  while (isWhite(*start)) ++start;
  size_t n = std::strlen(start);
  if (start != text) std::memmove(text, start, n + 1);
  while (n > 0 && isWhite(text[n - 1])) --n;
  text[n] = '\0';
  return text;
}
