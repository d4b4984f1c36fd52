// Responses: the status table, the path-to-file mapping with its containment
// test, and static files.
#include "server/response.h"

#include <cctype>
#include <cstring>
#include <string>

#include "platform/mime.h"
#include "platform/paths.h"
#include "server/ascii.h"
#include "server/cgi_gateway.h"
#include "server/default_document.h"
#include "server/server_config.h"

namespace {

const char* const kStatusTable[] = {
    "200 OK",
    "201 Created",
    "202 Accepted",
    "204 No Content",
    "301 Moved Permanently",
    "302 Redirection",
    "304 Not Modified",
    "400 Bad Request",
    "401 Unauthorized",
    "403 Forbidden",
    "404 Not Found",
    "413 This server cannot handle your request",
    "500 Internal Server Error",
    "501 Not Implemented",
    "502 Bad Gateway",
    "503 Service Unavailable",
};

constexpr size_t kMaxPathBytes = 260;
constexpr size_t kFilePieceBytes = 1023;

// Answers `code` with a closed head.
void Answer(Connection& c, int code) { SendStatusLine(c, code, true); }

// True when `path` is the root or lies below it. Names compare exactly, as
// the file system does: a case-folded match could reach a sibling directory
// that differs from the root only in case.
bool InsideRoot(const std::string& root, const std::string& path) {
  if (root.empty()) return false;
  if (path.compare(0, root.size(), root) != 0) return false;
  if (path.size() == root.size()) return true;
  return root.back() == '/' || path[root.size()] == '/';
}

// True when a name below the root begins with "." (hidden files, and
// everything inside hidden directories).
bool HiddenBelowRoot(const std::string& root, const std::string& path) {
  for (size_t i = root.size(); i < path.size(); ++i)
    if (path[i] == '.' && i > 0 && path[i - 1] == '/') return true;
  return false;
}

}  // namespace

std::string FileExtension(const std::string& path) {
  size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return path.substr(dot);
}

const char* StatusText(int code) {
  for (const char* entry : kStatusTable)
    if (atoi(entry) == code) return entry;
  return nullptr;
}

std::string OpenHead(int code) {
  const char* entry = StatusText(code);
  if (entry == nullptr) return "";
  return std::string("HTTP/1.0 ") + entry + "\r\nServer: Tavrel\r\n";
}

bool SendStatusLine(Connection& c, int code, bool closeHead) {
  std::string head = OpenHead(code);
  if (head.empty()) return false;
  if (closeHead) head += "\r\n\r\n";
  return SendBlock(c, head);
}

bool ResolveTarget(Connection& c) {
  const std::string& root = gServerConfig.rootDir;
  // A decoded zero byte would cut the name short in every file-system call.
  if (c.path.find('\0') != std::string::npos) {
    Answer(c, 404);
    return false;
  }
  std::string full;
  if (!plat::FullPath(root + c.path, kMaxPathBytes, &full) || !InsideRoot(root, full)) {
    Answer(c, 404);
    return false;
  }
  // Names below the root may differ in case from the disk; the root may not.
  std::string existing;
  if (!plat::ResolvePathCase(full, root, &existing) ||
      !plat::GetFileAttributes(existing, &c.attributes)) {
    Answer(c, 404);
    return false;
  }
  if (existing.size() > 1 && existing.back() == '/') existing.pop_back();
  c.path = existing;
  if (c.attributes & plat::kAttrDirectory) {
    if (!RedirectToDefaultDocument(c)) Answer(c, 404);
    return false;
  }
  // A pipe or device node would block the reader or never end; only regular
  // files are served.
  if (c.attributes & plat::kAttrDevice) {
    Answer(c, 404);
    return false;
  }
  if ((c.attributes & plat::kAttrHidden) || HiddenBelowRoot(root, c.path)) {
    Answer(c, 403);
    return false;
  }
  if (!plat::GetFileStatus(c.path, &c.fileStatus)) {
    Answer(c, 500);
    return false;
  }
  return true;
}

void DispatchRequest(Connection& c) {
  // A request without a version (the oldest protocol form) isn't served.
  if (c.simpleRequest) return Answer(c, 501);
  if (!ResolveTarget(c)) return;
  c.scriptKind = ScriptKindOf(c.path);
  bool isScript = c.scriptKind >= 0;
  bool served = c.method == MethodGet || (c.method == MethodHead && c.contentLength == 0) ||
                (isScript && c.method == MethodPost && c.contentLength > 0);
  if (!served) return Answer(c, 501);
  if (isScript) {
    RunCgi(c);
    return;
  }
  if (SendResponseHead(c) && c.method == MethodGet) SendFileBody(c);
}

bool SendResponseHead(Connection& c) {
  if (!c.file.Open(c.path, plat::OpenMode::Read)) {
    Answer(c, 503);
    return false;
  }
  if (c.ifModifiedSince != -1 && c.ifModifiedSince == c.fileStatus.modified) {
    Answer(c, 304);
    return false;
  }
  return SendStatusLine(c, 200, false) && SendContentType(c, true);
}

bool SendContentType(Connection& c, bool closeHead) {
  std::string type;
  if (!plat::LookupMimeType(FileExtension(c.path), &type)) type = "application/octet-stream";
  std::string line = "Content-Type: " + type + "\r\n";
  if (closeHead) line += "\r\n";
  return SendBlock(c, line);
}

bool SendFileBody(Connection& c) {
  char piece[kFilePieceBytes];
  for (;;) {
    size_t got = 0;
    if (!c.file.Read(piece, sizeof piece, &got)) return false;
    if (got == 0) return true;
    if (!SendBlock(c, piece, got)) return false;
  }
}
