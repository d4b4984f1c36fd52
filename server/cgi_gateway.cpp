// The CGI gateway. A request for a script runs one child process on the
// client thread that serves it; the child's standard output and error go to
// a temporary file ("CGI...", unlinked at once, so it disappears with the
// connection), which is relayed once the child has ended. Several children
// may run at once, each with its own files.
#include "server/cgi_gateway.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/paths.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "platform/tempfile.h"
#include "server/ascii.h"
#include "server/response.h"
#include "server/server.h"
#include "server/server_config.h"

extern char** environ;

std::vector<FilterEntry> FilterTable;

namespace {

constexpr size_t kFilterPieceBytes = 254;
constexpr size_t kOutputBlockBytes = 1023;

// Stores one piece of "Filter.cfg" in the table when it is an entry.
void AddFilterPiece(std::string piece) {
  if (!piece.empty() && piece.back() == '\n') piece.pop_back();
  if (!piece.empty() && piece.back() == '\r') piece.pop_back();
  if (piece.empty() || piece[0] == '#') return;
  size_t eq = piece.find('=');
  if (eq == std::string::npos || eq + 1 == piece.size()) return;
  FilterTable.push_back(FilterEntry{piece.substr(0, eq), piece.substr(eq + 1)});
}

// The directory part of an absolute path, without a trailing "/" ("/" for a
// file in the file system's root).
std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return path.substr(0, slash);
}

void AppendHeaderVariable(std::vector<std::string>* env, const char* name,
                          const std::optional<std::string>& value) {
  if (value) env->push_back(std::string(name) + "=" + *value);
}

// Splits at runs of blanks.
std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') ++i;
    size_t start = i;
    while (i < text.size() && text[i] != ' ') ++i;
    if (i > start) words.push_back(text.substr(start, i - start));
  }
  return words;
}

// The limit of a program's run in milliseconds, or -1 for none.
int WaitLimitMs() {
  uint32_t limit = gServerConfig.cgiWaitTime;
  if (limit == 0xFFFFFFFFu) return -1;
  return limit > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(limit);
}

// The head of a program's output, as the relay merges it.
struct CgiHead {
  int status = 200;
  std::string passedOn;  // header lines, each ending in CR LF
  uint64_t bodyOffset = 0;
};

// Applies one header line of the program's head.
void TakeHeaderLine(const std::string& line, CgiHead* head, bool* badStatus) {
  size_t colon = line.find(':');
  if (colon == std::string::npos) return;  // not a header line: dropped
  std::string name = line.substr(0, colon);
  if (EqualNoCase(name, "Status")) {
    size_t start = line.find_first_not_of(' ', colon + 1);
    std::string word;
    if (start != std::string::npos) word = line.substr(start, line.find(' ', start) - start);
    char* end = nullptr;
    long code = word.empty() ? 0 : strtol(word.c_str(), &end, 10);
    bool numeric = !word.empty() && end && *end == '\0';
    *badStatus = !numeric || code < 100 || code > 999 || StatusText(static_cast<int>(code)) == nullptr;
    if (!*badStatus) head->status = static_cast<int>(code);
    return;
  }
  if (EqualNoCase(name, "Location")) {
    head->status = 302;
    *badStatus = false;
  }
  head->passedOn += line;
  head->passedOn += "\r\n";
}

// Reads the program's head from the start of the output file. False when
// there is no empty line within kMaxCgiHeadBytes or a status is unusable.
bool ReadCgiHead(plat::File& out, CgiHead* head) {
  if (!out.Seek(0)) return false;
  std::string line;
  bool badStatus = false;
  uint64_t offset = 0;
  char block[kOutputBlockBytes];
  for (;;) {
    size_t got = 0;
    if (!out.Read(block, sizeof block, &got) || got == 0) return false;
    for (size_t i = 0; i < got; ++i) {
      char ch = block[i];
      if (ch == '\r') continue;
      if (ch != '\n') {
        line += ch;
        continue;
      }
      if (line.empty()) {
        head->bodyOffset = offset + i + 1;
        return !badStatus;
      }
      TakeHeaderLine(line, head, &badStatus);
      line.clear();
    }
    offset += got;
    if (offset > kMaxCgiHeadBytes) return false;
  }
}

}  // namespace

void LoadFilterTable() {
  FilterTable.clear();
  std::string dir = gServerConfig.installDir;
  if (dir.empty() || dir.back() != '/') dir += '/';
  FILE* f = fopen((dir + "Filter.cfg").c_str(), "re");
  if (f == nullptr) return;
  char piece[kFilterPieceBytes + 1];
  while (fgets(piece, sizeof piece, f) != nullptr) AddFilterPiece(piece);
  fclose(f);
}

int ScriptKindOf(const std::string& path) {
  std::string ext = FileExtension(path);
  if (ext.empty()) return -1;
  if (EqualNoCase(ext, ".cgi")) return 0;
  for (size_t i = 0; i < FilterTable.size(); ++i)
    if (EqualNoCase(ext, FilterTable[i].extension)) return static_cast<int>(i) + 1;
  return -1;
}

std::vector<std::string> BuildCgiEnvironment(const Connection& c) {
  std::vector<std::string> env;
  const std::string& root = gServerConfig.rootDir;
  std::string scriptName = c.path.substr(root == "/" ? 0 : root.size());
  env.push_back("SERVER_SOFTWARE=Tavrel");
  env.push_back("GATEWAY_INTERFACE=CGI/1.1");
  env.push_back("SERVER_PORT=" + std::to_string(ServerPort()));
  env.push_back(std::string("REQUEST_METHOD=") + MethodName(c.method));
  env.push_back("PATH_TRANSLATED=" + c.path);
  env.push_back("SCRIPT_NAME=" + scriptName);
  env.push_back("SCRIPT_PATH=" + DirectoryOf(c.path));
  AppendHeaderVariable(&env, "QUERY_STRING", c.query);
  env.push_back("REMOTE_ADDR=" + plat::DottedAddress(c.clientAddress));
  AppendHeaderVariable(&env, "HTTP_REFERER", c.referer);
  AppendHeaderVariable(&env, "HTTP_ACCEPT", c.accept);
  AppendHeaderVariable(&env, "HTTP_ACCEPT_ENCODING", c.acceptEncoding);
  AppendHeaderVariable(&env, "HTTP_COOKIE", c.cookie);
  AppendHeaderVariable(&env, "CONTENT_TYPE", c.contentType);
  env.push_back("CONTENT_LENGTH=" + std::to_string(c.contentLength));
  env.push_back("HTTP_CONTENT_LENGTH=" + std::to_string(c.contentLength));
  if (const char* tz = getenv("TZ")) env.push_back(std::string("TZ=") + tz);
  for (char** e = environ; e && *e; ++e) env.push_back(*e);
  return env;
}

std::vector<std::string> BuildCgiCommandLine(const Connection& c) {
  std::vector<std::string> args;
  if (c.scriptKind > 0 && static_cast<size_t>(c.scriptKind) <= FilterTable.size())
    args = Words(FilterTable[c.scriptKind - 1].command);
  args.push_back(c.path);
  if (c.query && c.query->find('=') == std::string::npos) {
    size_t start = 0;
    const std::string& q = *c.query;
    while (start <= q.size()) {
      size_t plus = q.find('+', start);
      if (plus == std::string::npos) plus = q.size();
      std::string word = q.substr(start, plus - start);
      if (!word.empty()) {
        DecodeUrlPath(word);
        args.push_back(word);
      }
      start = plus + 1;
    }
  }
  return args;
}

bool RelayCgiOutput(Connection& c) {
  CgiHead head;
  if (!ReadCgiHead(c.file, &head) || !c.file.Seek(head.bodyOffset)) return false;
  // The status line, the Server line and the program's lines go out in one
  // send: the client sees the same bytes, with one system call less.
  std::string whole = OpenHead(head.status) + head.passedOn + "\r\n";
  if (!SendBlock(c, whole)) return true;
  if (c.method != MethodHead) SendFileBody(c);
  return true;
}

bool RunCgi(Connection& c) {
  if (!plat::CreateTempFile(plat::TempDirectory(), "CGI", true, &c.file, nullptr)) {
    SendStatusLine(c, 500, true);
    return false;
  }
  plat::ProcessOptions options;
  options.environment = BuildCgiEnvironment(c);
  options.argv = BuildCgiCommandLine(c);
  options.directory = DirectoryOf(c.path);
  bool hasBody = c.bodyFile.IsOpen() && c.bodyFile.Seek(0);
  options.stdinFd = hasBody ? c.bodyFile.fd() : -1;
  options.stdoutFd = c.file.fd();
  options.stderrFd = c.file.fd();

  bool relayed = false;
  plat::Process child;
  if (child.Start(options) && child.Wait(WaitLimitMs())) relayed = RelayCgiOutput(c);
  // The body has served its purpose once the program has ended.
  c.bodyFile.Close();
  if (!relayed) SendStatusLine(c, 500, true);
  return relayed;
}
