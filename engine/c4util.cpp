// Number conversions, name handling, bounded copies, allocation and lists
// shared by every area of the engine. Name routines work on "/" paths and
// accept "\" as a separator; making a name absolute goes through the platform
// layer's FullPath, which never touches the disk.
#include "engine/c4util.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/paths.h"

namespace {

constexpr long kLocU4ncpy = 96201;
constexpr long kLocU4nameCurrent = 96202;
constexpr long kLocU4nameFix = 96203;
constexpr long kLocU4nameExt = 96204;
constexpr long kLocU4namePiece = 96205;
constexpr long kLocU4nameJoin = 96206;
constexpr long kLocU4environ = 96207;
constexpr long kLocU4allocEr = 96208;
constexpr long kLocU4allocAgain = 96209;

bool isSep(char c) { return c == '/' || c == '\\'; }

// Copies at most `limit` bytes of text (len bytes, or up to a zero byte when
// len is negative) into a terminated buffer of limit + 1 bytes.
void boundedText(const char* text, int len, char* buf, size_t limit) {
  size_t n = 0;
  if (text) {
    if (len < 0) {
      while (n < limit && text[n]) ++n;
    } else {
      n = static_cast<size_t>(len) < limit ? static_cast<size_t>(len) : limit;
    }
    memcpy(buf, text, n);
  }
  buf[n] = 0;
}

// Index just past the last separator (0 when there is none).
size_t fileStart(const std::string& s) {
  for (size_t i = s.size(); i > 0; --i)
    if (isSep(s[i - 1])) return i;
  return 0;
}

// Index of the extension's "." in the last component, or npos.
size_t extensionDot(const std::string& s) {
  size_t start = fileStart(s);
  size_t dot = s.rfind('.');
  if (dot == std::string::npos || dot < start) return std::string::npos;
  return dot;
}

std::string trimmedEnd(const char* s) {
  std::string out(s);
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

int fitOrRefuse(const std::string& value, char* dest, size_t size, long location,
                const char* where, const char* name) {
  if (value.size() + 1 > size)
    return error4reportAt(nullptr, e4parm, location, where, name);
  memcpy(dest, value.c_str(), value.size() + 1);
  return 0;
}

LINK4* asLink(void* item) { return static_cast<LINK4*>(item); }

}  // namespace

// ---------------------------------------------------------------------------
// Numbers.

long c4textToLong(const char* text, int len) {
  char buf[128];
  boundedText(text, len, buf, 127);
  errno = 0;
  return strtol(buf, nullptr, 10);  // saturates at LONG_MIN / LONG_MAX
}

int c4textToInt(const char* text, int len) {
  long v = c4textToLong(text, len);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

double c4textToReal(const char* text, int len) {
  char buf[50];
  boundedText(text, len, buf, 49);
  // Only decimal forms: strtod would also read "0x..." as hexadecimal.
  size_t p = 0;
  while (buf[p] == ' ' || buf[p] == '\t') ++p;
  if (buf[p] == '+' || buf[p] == '-') ++p;
  if (buf[p] == '0' && (buf[p + 1] == 'x' || buf[p + 1] == 'X')) buf[p + 1] = 0;
  return strtod(buf, nullptr);
}

void c4itoaRight(long value, char* dest, int width) {
  if (!dest || width == 0) return;
  bool zeroPad = width < 0;
  int w = zeroPad ? -width : width;
  auto stars = [&] { memset(dest, '*', static_cast<size_t>(w)); };
  unsigned long mag = value < 0 ? 0UL - static_cast<unsigned long>(value)
                                : static_cast<unsigned long>(value);
  for (int i = w - 1; i >= 0; --i) {
    dest[i] = static_cast<char>('0' + mag % 10);
    mag /= 10;
  }
  if (mag != 0) return stars();
  if (zeroPad) {
    if (value < 0) stars();
    return;
  }
  int first = 0;
  while (first < w - 1 && dest[first] == '0') dest[first++] = ' ';
  if (value < 0) {
    if (first == 0) return stars();
    dest[first - 1] = '-';
  }
}

int c4dtoa45(double value, char* dest, int width, int decimals) {
  if (!dest || width <= 0) return 0;
  int dec = decimals <= 0 ? 0 : decimals;
  if (dec > 15) dec = 15;
  if (dec > width - 1) dec = width - 1;
  int intPos = dec > 0 ? width - dec - 1 : width;
  memset(dest, '0', static_cast<size_t>(width));
  if (dec > 0) dest[intPos] = '.';
  auto overflow = [&] {
    memset(dest, '*', static_cast<size_t>(width));
    return e4overflow;
  };
  if (!std::isfinite(value)) return overflow();

  char buf[400];
  int n = snprintf(buf, sizeof buf, "%.*f", dec, std::fabs(value));
  if (n <= 0 || n >= static_cast<int>(sizeof buf)) return overflow();
  const char* point = strchr(buf, '.');
  size_t intLen = point ? static_cast<size_t>(point - buf) : strlen(buf);
  const char* decDigits = point ? point + 1 : "";
  // A lone "0" before the point is the empty integer part of |x| < 1.
  if (intLen == 1 && buf[0] == '0') intLen = 0;
  bool anyDigit = strspn(buf, "0.") != strlen(buf);
  // A value that rounds to zero is shown without a sign.
  bool negative = std::signbit(value) && anyDigit;

  int nInt = static_cast<int>(intLen);
  if (nInt > intPos) return overflow();
  if (negative && (nInt == 0 ? intPos == 0 : nInt >= intPos)) return overflow();

  int blanksEnd = nInt > 0 ? intPos - nInt : intPos - 1;
  for (int i = 0; i < blanksEnd; ++i) dest[i] = ' ';
  memcpy(dest + intPos - nInt, buf, intLen);
  if (negative) {
    if (nInt > 0)
      dest[intPos - nInt - 1] = '-';
    else if (intPos >= 2)
      dest[intPos - 2] = '-';
    else
      dest[0] = '-';  // a single integer position: "-" takes the "0"'s place
  }
  for (int i = 0; i < dec && decDigits[i]; ++i) dest[intPos + 1 + i] = decDigits[i];
  return 0;
}

int c4trimEnd(char* text, int size) {
  if (!text || size <= 0) return 0;
  int len = 0;
  while (len < size && text[len]) ++len;
  while (len > 0 && text[len - 1] == ' ') text[--len] = 0;
  return len;
}

// ---------------------------------------------------------------------------
// Strings and names.

unsigned u4ncpy(char* dest, const char* src, unsigned size) {
  if (size == 0 || !dest) {
    error4reportAt(nullptr, size == 0 ? e4parm : e4parmNull, kLocU4ncpy, "u4ncpy");
    return 0;
  }
  if (!src) {
    dest[0] = 0;
    error4reportAt(nullptr, e4parmNull, kLocU4ncpy, "u4ncpy");
    return 0;
  }
  unsigned n = 0;
  while (n + 1 < size && src[n]) {
    dest[n] = src[n];
    ++n;
  }
  dest[n] = 0;
  return n;
}

int u4nameCurrent(char* dest, int size, const char* name) {
  if (!dest || !name) return error4reportAt(nullptr, e4parmNull, kLocU4nameCurrent, "u4nameCurrent");
  std::string full;
  if (size <= 0 || !plat::FullPath(trimmedEnd(name), static_cast<size_t>(size), &full))
    return error4reportAt(nullptr, e4parm, kLocU4nameCurrent, "u4nameCurrent", name);
  memcpy(dest, full.c_str(), full.size() + 1);
  return 0;
}

int u4nameFix(char* name) {
  if (!name) return error4reportAt(nullptr, e4parmNull, kLocU4nameFix, "u4nameFix");
  std::string s = plat::ToSlashes(name);
  bool absolute = !s.empty() && s[0] == '/';
  bool trailingSep = s.size() > 1 && s.back() == '/';
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= s.size()) {
    size_t j = s.find('/', i);
    if (j == std::string::npos) j = s.size();
    std::string part = s.substr(i, j - i);
    i = j + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty() && parts.back() != "..") {
        parts.pop_back();
      } else if (!absolute) {
        return error4reportAt(nullptr, e4name, kLocU4nameFix, "u4nameFix", name);
      }
      // ".." at the root stays at the root.
      continue;
    }
    parts.push_back(part);
  }
  std::string out = absolute ? "/" : "";
  for (size_t k = 0; k < parts.size(); ++k) {
    if (k) out += '/';
    out += parts[k];
  }
  if (trailingSep && !parts.empty()) out += '/';
  // The result is never longer than the input, so it fits in place.
  memcpy(name, out.c_str(), out.size() + 1);
  return 0;
}

int u4nameExt(char* name, int size, const char* ext, int replace) {
  if (!name) return error4reportAt(nullptr, e4parmNull, kLocU4nameExt, "u4nameExt");
  std::string s = plat::ToSlashes(trimmedEnd(name));
  std::string e = ext ? ext : "";
  if (!e.empty() && e[0] == '.') e.erase(0, 1);
  size_t dot = extensionDot(s);
  if (dot == std::string::npos) {
    if (!e.empty()) s += "." + e;
  } else if (replace) {
    s.erase(dot);
    if (!e.empty()) s += "." + e;
  }
  if (size <= 0) return error4reportAt(nullptr, e4parm, kLocU4nameExt, "u4nameExt", name);
  return fitOrRefuse(s, name, static_cast<size_t>(size), kLocU4nameExt, "u4nameExt", name);
}

int u4namePiece(char* dest, unsigned size, const char* name, int keepPath, int keepExt) {
  if (!dest || !name) return error4reportAt(nullptr, e4parmNull, kLocU4namePiece, "u4namePiece");
  if (size == 0) return error4reportAt(nullptr, e4parm, kLocU4namePiece, "u4namePiece");
  std::string s = plat::ToSlashes(name);
  size_t start = keepPath ? 0 : fileStart(s);
  size_t end = s.size();
  size_t dot = extensionDot(s);
  if (!keepExt && dot != std::string::npos) end = dot;
  std::string piece = s.substr(start, end - start);
  u4ncpy(dest, piece.c_str(), size);
  return 0;
}

int u4nameRetExt(char* dest, int size, const char* name) {
  if (!dest || !name || size <= 0) return 0;
  std::string s = trimmedEnd(name);
  size_t dot = extensionDot(s);
  std::string e = dot == std::string::npos ? "" : s.substr(dot + 1);
  return static_cast<int>(u4ncpy(dest, e.c_str(), static_cast<unsigned>(size)));
}

int u4nameJoin(char* dest, int size, const char* drive, const char* directory, const char* name) {
  (void)drive;  // no drive letters on Linux
  if (!dest || !name) return error4reportAt(nullptr, e4parmNull, kLocU4nameJoin, "u4nameJoin");
  std::string n = plat::ToSlashes(name);
  std::string out;
  if (!n.empty() && n[0] == '/') {
    out = n;
  } else {
    std::string d = directory ? plat::ToSlashes(directory) : "";
    while (d.size() > 1 && d.back() == '/') d.pop_back();
    if (d.empty())
      out = n;
    else if (d == "/")
      out = "/" + n;
    else
      out = d + "/" + n;
  }
  if (size <= 0) return error4reportAt(nullptr, e4parm, kLocU4nameJoin, "u4nameJoin", name);
  return fitOrRefuse(out, dest, static_cast<size_t>(size), kLocU4nameJoin, "u4nameJoin", name);
}

int u4nameCompare(const char* a, const char* b, int ignoreCase) {
  const unsigned char* x = reinterpret_cast<const unsigned char*>(a ? a : "");
  const unsigned char* y = reinterpret_cast<const unsigned char*>(b ? b : "");
  for (;; ++x, ++y) {
    unsigned cx = *x, cy = *y;
    if (ignoreCase) {
      if (cx >= 'a' && cx <= 'z') cx -= 'a' - 'A';
      if (cy >= 'a' && cy <= 'z') cy -= 'a' - 'A';
    }
    if (cx != cy) return cx < cy ? -1 : 1;
    if (cx == 0) return 0;
  }
}

const char* u4environ(const char* name, int required) {
  const char* value = name ? getenv(name) : nullptr;
  if (required && (!value || !*value)) {
    error4reportAt(nullptr, e4info, kLocU4environ,
                   "expected environment variable not set to a valid value", name);
    return nullptr;
  }
  return value;
}

int u4remove(const char* name) {
  if (!name || !*name) return -1;
  std::string path = plat::ToSlashes(name);
  if (access(path.c_str(), F_OK) != 0) {
    std::string full, found;
    if (plat::FullPath(path, PATH_MAX, &full) && plat::ResolvePathCase(full, &found)) path = found;
  }
  return unlink(path.c_str()) == 0 ? 0 : -1;
}

// ---------------------------------------------------------------------------
// Memory.

void* u4allocFree(CODE4* c4, size_t size) {
  (void)c4;
  return calloc(1, size ? size : 1);
}

void* u4allocErDefault(CODE4* c4, size_t size) {
  void* p = u4allocFree(c4, size);
  if (!p) error4reportAt(c4, e4memory, kLocU4allocEr, "u4allocErDefault");
  return p;
}

int u4allocAgainDefault(CODE4* c4, char** ptr, unsigned* size, unsigned newSize) {
  if (!ptr || !size) return error4reportAt(c4, e4parmNull, kLocU4allocAgain, "u4allocAgainDefault");
  if (!*ptr && *size != 0) return error4reportAt(c4, e4parm, kLocU4allocAgain, "u4allocAgainDefault");
  if (*ptr && newSize <= *size) return 0;
  void* grown = realloc(*ptr, newSize ? newSize : 1);
  if (!grown) return e4memory;
  unsigned old = *ptr ? *size : 0;
  memset(static_cast<char*>(grown) + old, 0, newSize - old);
  *ptr = static_cast<char*>(grown);
  *size = newSize;
  return 0;
}

void u4freeDefault(void* ptr) { free(ptr); }

// ---------------------------------------------------------------------------
// Lists.

void l4addAfter(LIST4* list, void* anchor, void* item) {
  if (!list || !item) return;
  LINK4* link = asLink(item);
  if (!list->lastNode) {
    link->n = link->p = link;
    list->lastNode = link;
  } else {
    LINK4* a = anchor ? asLink(anchor) : list->lastNode;
    link->p = a;
    link->n = a->n;
    a->n->p = link;
    a->n = link;
    if (a == list->lastNode) list->lastNode = link;
  }
  ++list->nLink;
}

void l4add(LIST4* list, void* item) { l4addAfter(list, list ? list->lastNode : nullptr, item); }

void l4addBefore(LIST4* list, void* anchor, void* item) {
  if (!list || !item) return;
  if (!list->lastNode || !anchor) return l4add(list, item);
  LINK4* a = asLink(anchor);
  LINK4* link = asLink(item);
  link->n = a;
  link->p = a->p;
  a->p->n = link;
  a->p = link;
  ++list->nLink;
}

void l4remove(LIST4* list, void* item) {
  if (!list || !item || !list->lastNode) return;
  LINK4* link = asLink(item);
  if (!link->n) return;  // not linked
  if (list->selected == link) list->selected = nullptr;
  if (link->n == link) {
    list->lastNode = nullptr;
  } else {
    link->p->n = link->n;
    link->n->p = link->p;
    if (list->lastNode == link) list->lastNode = link->p;
  }
  link->n = link->p = nullptr;
  --list->nLink;
}

void* l4first(const LIST4* list) { return list && list->lastNode ? list->lastNode->n : nullptr; }

void* l4last(const LIST4* list) { return list ? list->lastNode : nullptr; }

void* l4next(const LIST4* list, const void* item) {
  if (!list || !list->lastNode) return nullptr;
  if (!item) return l4first(list);
  const LINK4* link = static_cast<const LINK4*>(item);
  return link == list->lastNode ? nullptr : link->n;
}

void* l4prev(const LIST4* list, const void* item) {
  if (!list || !list->lastNode) return nullptr;
  if (!item) return list->lastNode;
  const LINK4* link = static_cast<const LINK4*>(item);
  return link == list->lastNode->n ? nullptr : link->p;
}

void* l4pop(LIST4* list) {
  void* last = l4last(list);
  if (last) l4remove(list, last);
  return last;
}

long l4numNodes(const LIST4* list) { return list ? list->nLink : 0; }
