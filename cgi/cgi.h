// The CGI request library, shared by every CGI program of the portal.
//
// A CGI program runs once per request. This library gives it the request's
// form fields (query string, URL-encoded or multipart body) and cookies by
// name, the CGI environment record, the two response heads it writes, and one
// way to give up: qError, which prints an error page and ends the process.
//
// Input: standard input is read as bytes, never translated. Output: every
// byte a program sends to the server goes through the output layer below,
// which works in text mode: each LF written reaches the server as CR LF.
// Programs must not write to standard output by any other way, or the two
// streams interleave out of order.
//
// Lifetime: the form list is built at the first qValue (or qFormList), the
// cookie list at the first qcValue (or qcCookieList); both live until freed
// or until the process ends. qError frees both before it ends the process.
// Nothing here is thread-safe: a CGI program reads its request on one thread.
#pragma once

#include <cstddef>

// One form field or cookie. Names and values are owned by their list; both
// are NUL-terminated, and `length` is the value's size in bytes (an uploaded
// file or a decoded "%00" may hold zero bytes, so strlen can be shorter).
struct FormEntry {
  char* name;
  char* value;
  size_t length;
  FormEntry* next;
};

// The request's CGI environment and the local time of the qGetCgiEnv call.
// The texts point into the process environment (not copies) and are null
// when the variable isn't set; REMOTE_HOST falls back to REMOTE_ADDR.
struct CgiEnv {
  const char* AUTH_TYPE;
  const char* CONTENT_LENGTH;
  const char* CONTENT_TYPE;
  const char* DOCUMENT_ROOT;
  const char* GATEWAY_INTERFACE;
  const char* HTTP_ACCEPT;
  const char* HTTP_ACCEPT_ENCODING;
  const char* HTTP_ACCEPT_LANGUAGE;
  const char* HTTP_CONNECTION;
  const char* HTTP_COOKIE;
  const char* HTTP_HOST;
  const char* HTTP_REFERER;
  const char* HTTP_USER_AGENT;
  const char* QUERY_STRING;
  const char* REMOTE_ADDR;
  const char* REMOTE_HOST;
  const char* REMOTE_PORT;
  const char* REMOTE_USER;
  const char* REQUEST_METHOD;
  const char* REQUEST_URI;
  const char* SCRIPT_FILENAME;
  const char* SCRIPT_NAME;
  const char* SERVER_ADMIN;
  const char* SERVER_NAME;
  const char* SERVER_PORT;
  const char* SERVER_PROTOCOL;
  const char* SERVER_SOFTWARE;
  const char* SERVER_SIGNATURE;
  const char* UNIQUE_ID;
  int year;  // four digits
  int mon;   // 1 to 12
  int day;   // 1 to 31
  int hour;  // 0 to 23
  int min;
  int sec;
};

// ---- Form fields and cookies ----------------------------------------------

// The value of the first form field whose name (formatted printf-style) is
// exactly the given one, or null. Parses the form on first use. A formatted
// name that doesn't fit in 1024 bytes ends the process through qError.
const char* qValue(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The same for cookies.
const char* qcValue(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The whole form list or cookie list in input order (parsed on first use);
// null when it holds no entry. For programs that list every field.
const FormEntry* qFormList();
const FormEntry* qcCookieList();

// Frees the form list; a later qValue parses again (the body, already read,
// is then empty).
void qFreeForm();
// Frees the cookie list.
void qcFreeCookies();

// ---- Environment record and response heads --------------------------------

void qGetCgiEnv(CgiEnv* env);

// Prints "Content-Type: <type>" and an empty line, once per process; later
// calls print nothing.
void qPrintContentType(const char* mimeType);
// Prints "Location: <address>" and an empty line: a complete redirect head.
// Doesn't look at or set the Content-Type flag and doesn't end the process.
void qPrintLocation(const char* address);

// Prints the error page with the message (formatted printf-style), frees
// both lists and ends the process with exit status 1. Without REMOTE_ADDR
// (not under a web server) prints "Error: <message>" on one line instead.
[[noreturn]] void qError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// ---- Output layer (text mode) ---------------------------------------------

// Formats printf-style and writes the result; returns the number of bytes
// formatted (before line-end translation), or -1 when formatting fails.
int qPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Writes `len` bytes; each LF among them goes out as CR LF.
void qWrite(const char* data, size_t len);
// Writes a NUL-terminated text.
void qPuts(const char* text);
// Hands everything buffered to the server. Also runs at process exit.
void qFlush();

// ---- Parsers (called by the functions above; public for programs and tests
// that drive the parsing themselves) ----------------------------------------

namespace cgi {

// A new heap text (free with free) with the raw data of the source "GET"
// (the query string) or "POST" (the request body), or null when the source
// has none. A POST without CONTENT_LENGTH ends the process through qError.
char* _get_query(const char* method);
// Builds the form list unless it has been built; returns the number of
// entries it added.
int _parse_request();
// Appends the fields of the query string and then of a URL-encoded body.
int _parse_urlencoded();
// Appends the fields of the query string and then of a multipart body read
// from standard input.
int _parse_multipart_data();
// Appends the cookies of HTTP_COOKIE to the cookie list.
int _parse_cookies();
// Decodes "+" and "%XX" in place; returns `text`.
char* _url_decode(char* text);

}  // namespace cgi
