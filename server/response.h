// Answering a complete request: the status line every response starts with,
// mapping the request path to a file under the root directory, and the whole
// response for static files (304 for a matching If-Modified-Since, the
// content type, the file's bytes). The server never sends Date,
// Content-Length or Last-Modified: a body ends when the connection closes.
#pragma once

#include <string>

#include "server/connection.h"

// The extension of the file's own name, dot included ("" without a dot); a
// dot in a directory name above the file doesn't count.
std::string FileExtension(const std::string& path);

// The status text for a code ("404 Not Found"), or nullptr when the status
// table has no entry for it.
const char* StatusText(int code);

// "HTTP/1.0 <status>\r\nServer: Tavrel\r\n", the start of every head; ""
// for a code the table doesn't have.
std::string OpenHead(int code);

// Sends "HTTP/1.0 <status>\r\nServer: Tavrel\r\n" and, when `closeHead`,
// "\r\n\r\n" (the end of the head and a body of CR LF). Sends nothing and
// fails for a code the table doesn't have.
bool SendStatusLine(Connection& c, int code, bool closeHead);

// Answers the request and returns when everything has been sent or a send
// has failed. The caller closes the connection.
void DispatchRequest(Connection& c);

// Maps the request path to an existing file under the root directory and
// stores its absolute path, attributes and status in the connection. Returns
// true for a servable file; otherwise the answer has been sent: the redirect
// to a directory's default document; 404 outside the root, missing, a zero
// byte in the path, not a regular file, a directory without a default
// document; 403 hidden; 500 status unreadable.
bool ResolveTarget(Connection& c);

// Opens the static file and sends its head (200 with the content type, or
// 304). Returns whether a body may follow.
bool SendResponseHead(Connection& c);

// Sends the Content-Type line for the file's extension (application/
// octet-stream when no type is registered) and, with `closeHead`, the empty
// line that ends the head.
bool SendContentType(Connection& c, bool closeHead);

// Sends the file from its current position to its end, in pieces of at most
// 1023 bytes; stops at the first failed send.
bool SendFileBody(Connection& c);
