// Pieces of the CGI request library shared between its source files and its
// tests: the byte reader over standard input, the list helpers, the escapes
// of the error page and the resets that let a test run several requests in
// one process.
#pragma once

#include <cstddef>
#include <string>

#include "cgi/cgi.h"

namespace cgi {

// ---- Standard input, as bytes ----------------------------------------------
// The reader never goes past CONTENT_LENGTH bytes when that variable is set
// (the body is exactly that long); without it, it reads to the end of input.

// The next byte, or -1 at the end of input.
int inputByte();
// Reads up to `len` bytes; returns how many (fewer only at the end).
size_t inputRead(char* buf, size_t len);
// Reads one line like a line reader with a buffer of `cap` bytes: up to and
// including the next LF, or `cap` - 1 bytes, whichever comes first. Stores a
// terminating NUL and returns the number of bytes read (0 at the end).
size_t inputLine(char* buf, size_t cap);

// CONTENT_LENGTH read as a decimal number: leading digits only, 0 when
// there are none, clamped to a large bound instead of overflowing.
unsigned long long contentLengthValue(const char* text);

// ---- Lists -----------------------------------------------------------------

// Appends a copy of name and of the `length` value bytes to the list whose
// head is *list; returns false (appending nothing) when memory runs out.
bool appendEntry(FormEntry** list, const char* name, const char* value, size_t length);
// Appends an entry that takes ownership of `value` (a malloc block of at
// least length + 1 bytes, NUL-terminated); frees it on failure.
bool appendEntryTaking(FormEntry** list, const char* name, char* value, size_t length);
void freeEntries(FormEntry** list);
FormEntry** formListHead();
FormEntry** cookieListHead();

// Decodes the `len` bytes at `text` in place like _url_decode, stores a NUL
// after the result and returns its length (which counts bytes after a
// decoded "%00" too).
size_t urlDecode(char* text, size_t len);

// ---- Error page escapes ----------------------------------------------------

// The text for the inside of an HTML element: & < > " ' and control
// characters as character references; other bytes (Korean text) unchanged.
std::string htmlEscape(const char* text);
// The text for the inside of a double- or single-quoted script string:
// quotes, backslash, < > & and control characters as escapes, so that the
// literal holds exactly the message and can't close the script element.
std::string scriptStringEscape(const char* text);

// ---- Test support ----------------------------------------------------------

// Forgets the input reader's state (so standard input may be replaced), the
// Content-Type flag, both lists and any buffered output. For tests that run
// several requests in one process.
void resetForTesting();
void resetOutputForTesting();
void resetInputForTesting();

}  // namespace cgi
