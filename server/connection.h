// One accepted connection: its record, the client thread that serves it, the
// two socket primitives every response uses, and the reading and parsing of
// the HTTP/1.0 request (request line, the headers the server knows, the body
// stored in a temporary file). One request per connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/fileattr.h"
#include "platform/file.h"
#include "platform/sync.h"
#include "server/server.h"

enum ParseState {
  ReadRequestLine = 0,
  ReadHeaders = 1,
  ReadBody = 2,
  RequestComplete = 3,
};

// Indices of the method table; they are what REQUEST_METHOD reports.
enum Method {
  MethodOptions = 0,
  MethodGet = 1,
  MethodHead = 2,
  MethodPost = 3,
  MethodPut = 4,
  MethodDelete = 5,
  MethodTrace = 6,
  MethodUnknown = 99,
};

// The method's name, or "" for MethodUnknown.
const char* MethodName(int method);

// A received block, and a request line or header line without its line end,
// are at most this long.
constexpr size_t kBlockBytes = 2048;
constexpr size_t kMaxLineBytes = 2048;

struct Connection {
  int socket = -1;
  uint32_t clientAddress = 0;  // IPv4, network byte order
  std::shared_ptr<plat::Event> stopEvent;
  plat::File file;      // the static file being sent, or a CGI program's output
  plat::File bodyFile;  // the request body
  int scriptKind = -1;  // -1 static file, 0 CGI program, >0 script map entry
  uint32_t attributes = 0;
  bool closed = false;
  plat::FileStatus fileStatus;
  int32_t ifModifiedSince = -1;
  int32_t contentLength = 0;
  uint32_t bodyReceived = 0;
  ParseState parseState = ReadRequestLine;
  int method = MethodUnknown;
  std::optional<std::string> accept;
  std::optional<std::string> acceptEncoding;
  std::string path;  // decoded request path, later the absolute file path
  std::optional<std::string> query;
  std::optional<std::string> bodyFileName;
  std::optional<std::string> cookie;
  std::optional<std::string> referer;
  std::optional<std::string> contentType;

  // Request-reading details that the server needs besides the fields above.
  bool simpleRequest = false;      // request line without a version word
  bool badContentLength = false;   // Content-Length negative or beyond 32 bits
  OwnerWindow owner = nullptr;
  std::shared_ptr<ClientTracker> tracker;
};

// Serves the connection and then frees it: ClientEnter, HandleConnection,
// CloseConnection, delete, ClientLeave.
void ClientThread(Connection* c);

// Receives up to kBlockBytes bytes into `block` (cleared first). On success
// stores the number received (0 when the peer has closed) and returns true;
// false when the receive fails or the server stops.
bool RecvBlock(Connection& c, char* block, size_t* got);

// Sends all bytes. False when the send fails or the server stops. Every byte
// the server sends goes through here.
bool SendBlock(Connection& c, const char* bytes, size_t len);
bool SendBlock(Connection& c, const std::string& bytes);

// Takes the next line from block[*pos, len): the bytes up to the next LF,
// without the LF and without any CR. Advances *pos past the LF. Returns
// whether the line was complete (false when the block ended first).
bool NextLine(const char* block, size_t len, size_t* pos, std::string* line);

// Reads and parses the request and answers it with DispatchRequest once it
// is complete. Answers 400 to a malformed request line, a line longer than
// kMaxLineBytes, an empty line before any request line and a bad
// Content-Length; closes without an answer when the peer goes first.
void HandleConnection(Connection& c);

// Parses the request line into method, path, query and version. Returns false
// when it must be answered with 400.
bool ParseRequestLine(Connection& c, const std::string& line);

// Stores the value of a known header; other lines are ignored.
void ParseHeaderLine(Connection& c, const std::string& line);

// Closes the socket and the files, frees the texts. A second call does
// nothing.
void CloseConnection(Connection& c);

// Replaces every "%" followed by two hexadecimal digits by the byte they
// give; everything else stays, "+" included.
void DecodeUrlPath(std::string& text);
