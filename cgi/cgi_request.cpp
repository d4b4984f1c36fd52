// Request decoding: the query string, URL-encoded and multipart bodies and
// the cookies, parsed on first use into two lists of name/value entries that
// qValue and qcValue search. Malformed input ends the process through qError
// with one fixed text per cause (the texts below are the library's own and
// may be matched by callers and tests).
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cgi/cgi.h"
#include "cgi/cgi_internal.h"

namespace {

const char kValueTooLong[] = "qValue(): Message is too long or invalid";
const char kCookieTooLong[] = "qcValue(): Message is too long or invalid";
const char kNonCompliantPost[] = "_get_query(): Your browser sent a non-HTTP compliant message.";
const char kQueryMemory[] = "_get_query(): Memory allocation fail.";
const char kBoundaryTooLong[] =
    "_parse_multipart_data(): The boundary string is too long. Stopping process.";
const char kNoBoundary[] = "_parse_multipart_data(): The boundary string is missing. Stopping process.";
const char kEmptyBody[] = "_parse_multipart_data(): Your browser sent a non-HTTP compliant message.";
const char kFormatInvalid[] = "_parse_multipart_data(): String format invalid.";
const char kEndedInsidePart[] = "_parse_multipart_data(): Internal bug at '%s'.";
const char kMultipartMemory[] = "_parse_multipart_data(): Memory allocation fail.";
const char kListMemory[] = "_parse_request(): Memory allocation fail.";

// Names asked of qValue and qcValue fit in this many bytes with their NUL.
constexpr size_t kNameLimit = 1024;
// A boundary text of this many characters or more is refused.
constexpr size_t kBoundaryLimit = 250;
// A multipart head line is read in pieces of at most this many bytes - 1.
constexpr size_t kHeadLine = 1024;
// Length of the fixed beginning Content-Disposition: form-data; name=" .
constexpr size_t kDispositionPrefix = 38;
constexpr size_t kValueStart = 16384;

FormEntry* gForm = nullptr;
FormEntry* gCookies = nullptr;
// The last entry appended and its list, so that appending many entries
// doesn't walk the list from its head each time.
struct TailCache {
  FormEntry** list;
  FormEntry* last;
};
TailCache gTail = {nullptr, nullptr};
bool gFormParsed = false;
bool gCookiesParsed = false;

bool isTrimmed(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

char upperAscii(unsigned char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : static_cast<char>(c); }

bool startsWithNoCase(const char* text, const char* prefix) {
  for (; *prefix != '\0'; ++text, ++prefix) {
    if (upperAscii(static_cast<unsigned char>(*text)) != upperAscii(static_cast<unsigned char>(*prefix)))
      return false;
  }
  return true;
}

// The hexadecimal value of one character as the decoder counts it: no
// validation, so "%zz" still yields some byte.
int hexValue(unsigned char c) {
  if (c < 'A') return c - '0';
  return static_cast<unsigned char>(upperAscii(c)) - 55;
}

char* copyBytes(const char* data, size_t len) {
  char* p = static_cast<char*>(std::malloc(len + 1));
  if (p == nullptr) return nullptr;
  if (len > 0) std::memcpy(p, data, len);
  p[len] = '\0';
  return p;
}

const FormEntry* findEntry(const FormEntry* list, const char* name) {
  for (; list != nullptr; list = list->next) {
    if (std::strcmp(list->name, name) == 0) return list;
  }
  return nullptr;
}

// Cuts one pair (name=value or a bare name) off the data, decodes both and
// appends the entry. For cookies the name loses blanks, tabs, CR and LF at
// both ends, which drops the blank that follows each ";".
bool appendPair(FormEntry** list, const char* pair, size_t len, bool trimName) {
  const char* eq = static_cast<const char*>(std::memchr(pair, '=', len));
  size_t nameLen = eq ? static_cast<size_t>(eq - pair) : len;
  char* name = copyBytes(pair, nameLen);
  char* value = eq ? copyBytes(eq + 1, len - nameLen - 1) : copyBytes("", 0);
  if (name == nullptr || value == nullptr) {
    std::free(name);
    std::free(value);
    return false;
  }
  size_t rawValueLen = eq ? len - nameLen - 1 : 0;
  cgi::urlDecode(name, nameLen);
  size_t valueLen = cgi::urlDecode(value, rawValueLen);
  if (trimName) {
    char* start = name;
    while (isTrimmed(*start)) ++start;
    size_t n = std::strlen(start);
    while (n > 0 && isTrimmed(start[n - 1])) --n;
    std::memmove(name, start, n);
    name[n] = '\0';
  }
  bool ok = cgi::appendEntryTaking(list, name, value, valueLen);
  std::free(name);
  return ok;
}

// Splits `len` bytes at `separator` into pairs and appends each; an empty
// text has no pairs, while empty pieces between separators give entries with
// an empty name and value.
int appendPairs(FormEntry** list, const char* data, size_t len, char separator, bool trimName) {
  if (len == 0) return 0;
  int added = 0;
  size_t start = 0;
  for (size_t i = 0; i <= len; ++i) {
    if (i < len && data[i] != separator) continue;
    if (!appendPair(list, data + start, i - start, trimName)) qError("%s", kListMemory);
    ++added;
    start = i + 1;
  }
  return added;
}

// The raw data of a source with its length (the body may hold zero bytes).
char* getQuery(const char* method, size_t* lenOut) {
  *lenOut = 0;
  if (std::strcmp(method, "GET") == 0) {
    const char* qs = std::getenv("QUERY_STRING");
    if (qs == nullptr) return nullptr;
    if (*qs == '\0') {
      const char* uri = std::getenv("REQUEST_URI");
      if (uri != nullptr) {
        const char* q = std::strchr(uri, '?');
        qs = q ? q + 1 : "";
      }
    }
    *lenOut = std::strlen(qs);
    char* copy = copyBytes(qs, *lenOut);
    if (copy == nullptr) qError("%s", kQueryMemory);
    return copy;
  }
  if (std::strcmp(method, "POST") != 0) return nullptr;
  const char* rm = std::getenv("REQUEST_METHOD");
  if (rm == nullptr || std::strcmp(rm, "POST") != 0) return nullptr;
  const char* cl = std::getenv("CONTENT_LENGTH");
  if (cl == nullptr) qError("%s", kNonCompliantPost);
  unsigned long long want = cgi::contentLengthValue(cl);
  // Grows with what actually arrives, so a large declared length with a
  // short body costs only what was sent.
  size_t cap = 4096, len = 0;
  char* buf = static_cast<char*>(std::malloc(cap + 1));
  if (buf == nullptr) qError("%s", kQueryMemory);
  while (len < want) {
    if (len == cap) {
      char* bigger = static_cast<char*>(std::realloc(buf, cap * 2 + 1));
      if (bigger == nullptr) {
        std::free(buf);
        qError("%s", kQueryMemory);
      }
      buf = bigger;
      cap *= 2;
    }
    size_t room = cap - len;
    if (room > want - len) room = static_cast<size_t>(want - len);
    size_t got = cgi::inputRead(buf + len, room);
    len += got;
    if (got < room) break;  // the body ended early
  }
  buf[len] = '\0';
  *lenOut = len;
  return buf;
}

int parseUrlencodedSource(const char* method) {
  size_t len = 0;
  char* data = getQuery(method, &len);
  if (data == nullptr) return 0;
  int added = appendPairs(&gForm, data, len, '&', false);
  std::free(data);
  return added;
}

// ---- Multipart -------------------------------------------------------------

struct Boundary {
  char text[kBoundaryLimit + 8];  // "--" and the boundary
  size_t len;
};

void readBoundary(Boundary* b) {
  const char* ct = std::getenv("CONTENT_TYPE");
  const char* at = ct ? std::strstr(ct, "boundary=") : nullptr;
  if (at == nullptr) qError("%s", kNoBoundary);
  at += std::strlen("boundary=");
  size_t n = std::strlen(at);
  if (n >= kBoundaryLimit) qError("%s", kBoundaryTooLong);
  while (n > 0 && isTrimmed(*at)) {
    ++at;
    --n;
  }
  while (n > 0 && isTrimmed(at[n - 1])) --n;
  if (n == 0) qError("%s", kNoBoundary);
  b->text[0] = '-';
  b->text[1] = '-';
  std::memcpy(b->text + 2, at, n);
  b->len = n + 2;
  b->text[b->len] = '\0';
}

bool endsWith(const char* data, size_t len, const char* a, size_t alen, const char* b, size_t blen,
              const char* c, size_t clen) {
  size_t total = alen + blen + clen;
  if (len < total) return false;
  const char* p = data + len - total;
  return std::memcmp(p, a, alen) == 0 && std::memcmp(p + alen, b, blen) == 0 &&
         std::memcmp(p + alen + blen, c, clen) == 0;
}

// The part's field name: from the 39th character of its Content-Disposition
// line to the next double quote (or the line end). The fixed beginning is
// not compared, but a line too short to hold it is refused.
void dispositionName(const char* line, size_t len, char* name) {
  if (len < kDispositionPrefix) qError("%s", kFormatInvalid);
  const char* start = line + kDispositionPrefix;
  size_t n = 0;
  while (start[n] != '\0' && start[n] != '"') ++n;
  while (n > 0 && (start[n - 1] == '\r' || start[n - 1] == '\n')) --n;
  std::memcpy(name, start, n);
  name[n] = '\0';
}

// The file name of a part with "; filename=" and a quote, without its
// directory (a browser on Windows may send the whole path), trimmed; empty
// when the line has none.
void dispositionFileName(const char* line, char* fileName) {
  fileName[0] = '\0';
  const char* at = std::strstr(line, "; filename=\"");
  if (at == nullptr) return;
  at += std::strlen("; filename=\"");
  size_t n = 0;
  while (at[n] != '\0' && at[n] != '"') ++n;
  size_t from = 0;
  for (size_t i = 0; i < n; ++i) {
    if (at[i] == '\\' || at[i] == '/') from = i + 1;
  }
  const char* s = at + from;
  n -= from;
  while (n > 0 && isTrimmed(*s)) {
    ++s;
    --n;
  }
  while (n > 0 && isTrimmed(s[n - 1])) --n;
  std::memcpy(fileName, s, n);
  fileName[n] = '\0';
}

// Reads one head line, keeping at most kHeadLine - 1 bytes of it; the rest
// of a longer line is passed over, so that its end can't be taken for the
// empty line that ends the head.
size_t headLine(char* line) {
  size_t n = cgi::inputLine(line, kHeadLine);
  if (n > 0 && line[n - 1] != '\n') {
    for (int c = cgi::inputByte(); c >= 0 && c != '\n'; c = cgi::inputByte()) {
    }
  }
  return n;
}

void skipPartHead(const char* name) {
  char line[kHeadLine];
  for (;;) {
    size_t n = headLine(line);
    if (n == 0) qError(kEndedInsidePart, name);
    if (n == 2 && line[0] == '\r' && line[1] == '\n') return;
  }
}

// Reads one part's value up to the next boundary. Returns the value (a
// malloc block, NUL-terminated) and its length; *last tells whether the end
// boundary closed it.
char* readPartValue(const Boundary& b, const char* name, size_t* lenOut, bool* last) {
  static const char kCrLf[] = "\r\n";
  static const char kDashes[] = "--";
  size_t cap = kValueStart, len = 0;
  char* data = static_cast<char*>(std::malloc(cap));
  if (data == nullptr) qError("%s", kMultipartMemory);
  for (;;) {
    int c = cgi::inputByte();
    if (c < 0) {
      std::free(data);
      qError(kEndedInsidePart, name);
    }
    if (len + 1 >= cap) {
      char* bigger = static_cast<char*>(std::realloc(data, cap * 2));
      if (bigger == nullptr) {
        std::free(data);
        qError("%s", kMultipartMemory);
      }
      data = bigger;
      cap *= 2;
    }
    data[len++] = static_cast<char>(c);
    if (c != '\n' && c != '-') continue;
    size_t valueLen = 0;
    if (endsWith(data, len, kCrLf, 2, b.text, b.len, kCrLf, 2)) {
      valueLen = len - (b.len + 4);
      *last = false;
    } else if (endsWith(data, len, kCrLf, 2, b.text, b.len, kDashes, 2)) {
      valueLen = len - (b.len + 4);
      *last = true;
    } else if (len == b.len + 2 && endsWith(data, len, "", 0, b.text, b.len, kCrLf, 2)) {
      *last = false;
    } else if (len == b.len + 2 && endsWith(data, len, "", 0, b.text, b.len, kDashes, 2)) {
      *last = true;
    } else {
      continue;
    }
    data[valueLen] = '\0';
    *lenOut = valueLen;
    return data;
  }
}

bool appendNamed(const char* name, const char* suffix, const char* value) {
  char full[kHeadLine + 16];
  std::snprintf(full, sizeof full, "%s%s", name, suffix);
  return cgi::appendEntry(&gForm, full, value, std::strlen(value));
}

// One part: its head, its value and the entries it gives. Returns the
// number of entries; *last tells whether it was the final part.
int parsePart(const Boundary& b, bool* last) {
  char line[kHeadLine];
  size_t n = headLine(line);
  char name[kHeadLine];
  char fileName[kHeadLine];
  dispositionName(line, n, name);
  dispositionFileName(line, fileName);
  skipPartHead(name);
  size_t valueLen = 0;
  char* value = readPartValue(b, name, &valueLen, last);
  if (!cgi::appendEntryTaking(&gForm, name, value, valueLen)) qError("%s", kMultipartMemory);
  if (fileName[0] == '\0') return 1;
  char length[32];
  std::snprintf(length, sizeof length, "%zu", valueLen);
  if (!appendNamed(name, ".length", length) || !appendNamed(name, ".filename", fileName))
    qError("%s", kMultipartMemory);
  return 3;
}

}  // namespace

namespace cgi {

FormEntry** formListHead() { return &gForm; }
FormEntry** cookieListHead() { return &gCookies; }

bool appendEntryTaking(FormEntry** list, const char* name, char* value, size_t length) {
  FormEntry* e = static_cast<FormEntry*>(std::malloc(sizeof(FormEntry)));
  char* nameCopy = copyBytes(name, std::strlen(name));
  if (e == nullptr || nameCopy == nullptr) {
    std::free(e);
    std::free(nameCopy);
    std::free(value);
    return false;
  }
  e->name = nameCopy;
  e->value = value;
  e->length = length;
  e->next = nullptr;
  FormEntry** at = (gTail.list == list && gTail.last != nullptr) ? &gTail.last->next : list;
  while (*at != nullptr) at = &(*at)->next;
  *at = e;
  gTail = {list, e};
  return true;
}

bool appendEntry(FormEntry** list, const char* name, const char* value, size_t length) {
  char* copy = copyBytes(value, length);
  if (copy == nullptr) return false;
  return appendEntryTaking(list, name, copy, length);
}

void freeEntries(FormEntry** list) {
  if (gTail.list == list) gTail = {nullptr, nullptr};
  FormEntry* e = *list;
  while (e != nullptr) {
    FormEntry* next = e->next;
    std::free(e->name);
    std::free(e->value);
    std::free(e);
    e = next;
  }
  *list = nullptr;
}

size_t urlDecode(char* text, size_t len) {
  size_t out = 0;
  for (size_t i = 0; i < len; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '+') {
      text[out++] = ' ';
    } else if (c == '%' && i + 2 < len) {
      int hi = hexValue(static_cast<unsigned char>(text[i + 1]));
      int lo = hexValue(static_cast<unsigned char>(text[i + 2]));
      text[out++] = static_cast<char>((hi * 16 + lo) & 0xFF);
      i += 2;
    } else {
      // Also a "%" with fewer than two characters after it: there is
      // nothing to decode, so it stays as it is.
      text[out++] = static_cast<char>(c);
    }
  }
  text[out] = '\0';
  return out;
}

char* _url_decode(char* text) {
  urlDecode(text, std::strlen(text));
  return text;
}

char* _get_query(const char* method) {
  size_t len = 0;
  return getQuery(method, &len);
}

int _parse_urlencoded() { return parseUrlencodedSource("GET") + parseUrlencodedSource("POST"); }

int _parse_multipart_data() {
  // Standard input is always read as bytes here, so there is no mode to
  // switch before reading the body.
  int added = parseUrlencodedSource("GET");
  Boundary b;
  readBoundary(&b);
  char line[kHeadLine];
  size_t n = headLine(line);
  if (n == 0) qError("%s", kEmptyBody);
  if (n == 2 && line[0] == '\r' && line[1] == '\n') n = headLine(line);
  if (n < b.len || std::memcmp(line, b.text, b.len) != 0) qError("%s", kFormatInvalid);
  // A form without any field is sent as the end boundary alone.
  const char* after = line + b.len;
  if (after[0] == '-' && after[1] == '-' &&
      (after[2] == '\0' || std::strcmp(after + 2, "\r\n") == 0 || std::strcmp(after + 2, "\n") == 0))
    return added;
  bool last = false;
  while (!last) added += parsePart(b, &last);
  return added;
}

int _parse_request() {
  if (gFormParsed) return 0;
  gFormParsed = true;
  const char* ct = std::getenv("CONTENT_TYPE");
  if (ct != nullptr && !startsWithNoCase(ct, "application/x-www-form-urlencoded") &&
      std::strncmp(ct, "multipart/form-data", std::strlen("multipart/form-data")) == 0)
    return _parse_multipart_data();
  return _parse_urlencoded();
}

int _parse_cookies() {
  const char* cookie = std::getenv("HTTP_COOKIE");
  if (cookie == nullptr) return 0;
  return appendPairs(&gCookies, cookie, std::strlen(cookie), ';', true);
}

void resetForTesting() {
  freeEntries(&gForm);
  freeEntries(&gCookies);
  gFormParsed = false;
  gCookiesParsed = false;
  resetInputForTesting();
  resetOutputForTesting();
}

}  // namespace cgi

namespace {

// Formats the name that qValue and qcValue look up; a name that doesn't fit
// ends the program with `tooLong`.
void FormatName(char (&name)[kNameLimit], const char* tooLong, const char* format, va_list ap) {
  int n = std::vsnprintf(name, sizeof name, format, ap);
  if (n < 0 || static_cast<size_t>(n) >= sizeof name) qError("%s", tooLong);
}

}  // namespace

const char* qValue(const char* format, ...) {
  char name[kNameLimit];
  va_list ap;
  va_start(ap, format);
  FormatName(name, kValueTooLong, format, ap);
  va_end(ap);
  cgi::_parse_request();
  const FormEntry* e = findEntry(gForm, name);
  return e ? e->value : nullptr;
}

const char* qcValue(const char* format, ...) {
  char name[kNameLimit];
  va_list ap;
  va_start(ap, format);
  FormatName(name, kCookieTooLong, format, ap);
  va_end(ap);
  const FormEntry* e = findEntry(qcCookieList(), name);
  return e ? e->value : nullptr;
}

const FormEntry* qFormList() {
  cgi::_parse_request();
  return gForm;
}

const FormEntry* qcCookieList() {
  if (!gCookiesParsed) {
    gCookiesParsed = true;
    cgi::_parse_cookies();
  }
  return gCookies;
}

void qFreeForm() {
  cgi::freeEntries(&gForm);
  gFormParsed = false;
}

void qcFreeCookies() {
  cgi::freeEntries(&gCookies);
  gCookiesParsed = false;
}
