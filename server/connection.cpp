// Connections: the client thread, receiving and sending with the stop event,
// and reading the request (request line, known headers, body file).
//
// Request reading, by parse state:
//   ReadRequestLine --accepted request line--> ReadHeaders   (ParseRequestLine)
//   ReadHeaders     --empty line-------------> ReadBody      (HandleConnection)
//   ReadBody        --Content-Length 0-------> RequestComplete
//   ReadBody        --body received reaches Content-Length--> RequestComplete (StoreBody)
// Every other way out (peer closed, receive failed, server stopped, 400)
// ends the connection without dispatching.
#include "server/connection.h"

#include <cctype>
#include <climits>
#include <cstring>
#include <new>
#include <vector>

#include "platform/socket.h"
#include "platform/tempfile.h"
#include "server/ascii.h"
#include "server/http_date.h"
#include "server/response.h"

namespace {

const char* const kMethodNames[] = {"OPTIONS", "GET", "HEAD", "POST", "PUT", "DELETE", "TRACE"};

int LookUpMethod(const std::string& word) {
  for (int i = 0; i < static_cast<int>(sizeof kMethodNames / sizeof kMethodNames[0]); ++i)
    if (EqualNoCase(word, kMethodNames[i])) return i;
  return MethodUnknown;
}

int HexDigit(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  return -1;
}

// A word of the request line and where it starts.
struct Word {
  size_t start;
  std::string text;
};

std::vector<Word> SplitAtBlanks(const std::string& line) {
  std::vector<Word> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    if (i == line.size()) break;
    size_t start = i;
    while (i < line.size() && line[i] != ' ') ++i;
    words.push_back(Word{start, line.substr(start, i - start)});
  }
  return words;
}

// Reads a Content-Length value the way atol reads a number: leading white
// space, an optional sign, digits; no digits give 0. Values that a 32-bit
// length can't hold, and negative ones, are marked bad.
void ReadContentLength(Connection& c, const std::string& value) {
  size_t i = 0;
  while (i < value.size() && isspace(static_cast<unsigned char>(value[i]))) ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == '+' || value[i] == '-')) negative = value[i++] == '-';
  long long n = 0;
  bool tooLarge = false;
  for (; i < value.size() && isdigit(static_cast<unsigned char>(value[i])); ++i) {
    n = n * 10 + (value[i] - '0');
    if (n > INT32_MAX) {
      tooLarge = true;
      break;
    }
  }
  c.badContentLength = tooLarge || (negative && n > 0);
  c.contentLength = c.badContentLength ? 0 : static_cast<int32_t>(n);
}

// Answers 400 with a closed head; the request is abandoned.
void AnswerBadRequest(Connection& c) { SendStatusLine(c, 400, true); }

// Appends body bytes to the body file, creating it on first use.
bool StoreBody(Connection& c, const char* bytes, size_t len) {
  if (len == 0) return true;
  if (!c.bodyFile.IsOpen()) {
    std::string name;
    if (!plat::CreateTempFile(plat::TempDirectory(), "CIN", true, &c.bodyFile, &name)) return false;
    c.bodyFileName = name;
  }
  if (!c.bodyFile.Write(bytes, len)) return false;
  uint64_t total = static_cast<uint64_t>(c.bodyReceived) + len;
  if (total >= static_cast<uint64_t>(c.contentLength)) {
    c.bodyReceived = static_cast<uint32_t>(c.contentLength);
    c.parseState = RequestComplete;
  } else {
    c.bodyReceived = static_cast<uint32_t>(total);
  }
  return true;
}

// The head has ended: decide whether a body follows.
bool EndOfHead(Connection& c) {
  if (c.badContentLength) return false;
  c.parseState = c.contentLength == 0 ? RequestComplete : ReadBody;
  return true;
}

}  // namespace

const char* MethodName(int method) {
  if (method >= 0 && method < static_cast<int>(sizeof kMethodNames / sizeof kMethodNames[0]))
    return kMethodNames[method];
  return "";
}

void ClientThread(Connection* c) {
  std::shared_ptr<ClientTracker> tracker = c->tracker;
  ClientEnter(*tracker);
  HandleConnection(*c);
  CloseConnection(*c);
  delete c;
  ClientLeave(*tracker);
}

bool RecvBlock(Connection& c, char* block, size_t* got) {
  memset(block, 0, kBlockBytes);
  int err = 0;
  switch (plat::ReceiveSome(c.socket, block, kBlockBytes, *c.stopEvent, got, &err)) {
    case plat::IoResult::Done:
      return true;
    case plat::IoResult::FailedAtOnce:
      WriteLog(c.owner, "WSARecv() 오류 : %s", err);
      return false;
    case plat::IoResult::Stopped:
    case plat::IoResult::FailedLater:
      return false;
  }
  return false;
}

bool SendBlock(Connection& c, const char* bytes, size_t len) {
  int err = 0;
  switch (plat::SendAll(c.socket, bytes, len, *c.stopEvent, &err)) {
    case plat::IoResult::Done:
      return true;
    case plat::IoResult::FailedAtOnce:
      WriteLog(c.owner, "WSASend() 오류 : %s", err);
      return false;
    case plat::IoResult::Stopped:
      return false;
    case plat::IoResult::FailedLater:
      WriteLog(c.owner, "WSAGetOverlappedResult() 오류 : %s", err);
      return false;
  }
  return false;
}

bool SendBlock(Connection& c, const std::string& bytes) { return SendBlock(c, bytes.data(), bytes.size()); }

bool NextLine(const char* block, size_t len, size_t* pos, std::string* line) {
  line->clear();
  while (*pos < len) {
    char ch = block[(*pos)++];
    if (ch == '\n') return true;
    if (ch != '\r') *line += ch;
  }
  return false;
}

void HandleConnection(Connection& c) {
  std::vector<char> block(kBlockBytes);
  std::string held;  // a line whose end hasn't arrived yet
  while (c.parseState != RequestComplete) {
    size_t got = 0;
    if (!RecvBlock(c, block.data(), &got) || got == 0) return;
    size_t pos = 0;
    while ((c.parseState == ReadRequestLine || c.parseState == ReadHeaders) && pos < got) {
      std::string piece;
      bool complete = NextLine(block.data(), got, &pos, &piece);
      held += piece;
      if (held.size() > kMaxLineBytes) return AnswerBadRequest(c);
      if (!complete) break;
      std::string line;
      line.swap(held);
      if (line.empty()) {
        // A head without a request line has nothing to dispatch.
        if (c.parseState == ReadRequestLine || !EndOfHead(c)) return AnswerBadRequest(c);
      } else if (c.parseState == ReadRequestLine) {
        if (!ParseRequestLine(c, line)) return AnswerBadRequest(c);
      } else {
        ParseHeaderLine(c, line);
      }
    }
    if (c.parseState == ReadBody && pos < got) {
      if (!StoreBody(c, block.data() + pos, got - pos)) {
        // Without its body the request can't be served; say so rather than
        // leave the client waiting.
        SendStatusLine(c, 500, true);
        return;
      }
    }
  }
  DispatchRequest(c);
}

bool ParseRequestLine(Connection& c, const std::string& line) {
  size_t blank = line.find(' ');
  if (blank == std::string::npos) return false;
  std::string text = line;
  size_t mark = text.find('?', blank);
  if (mark != std::string::npos) text[mark] = ' ';
  std::vector<Word> words = SplitAtBlanks(text);
  if (words.empty()) return false;
  if (mark != std::string::npos) {
    // A "?" at the end of the path, or followed by a blank, leaves an empty
    // query; the word after it is still the version.
    bool queryWord = false;
    for (const Word& w : words) queryWord |= w.start == mark + 1;
    if (!queryWord && words.size() >= 2)
      words.insert(words.begin() + 2, Word{mark + 1, std::string()});
  }
  c.method = LookUpMethod(words[0].text);
  if (c.method == MethodUnknown || words.size() < 2) return false;
  c.path = words[1].text;
  size_t next = 2;
  if (mark != std::string::npos && words.size() > 2) c.query = words[next++].text;
  // The version has no effect beyond telling a simple request (no version)
  // from a full one: the answer is always HTTP/1.0.
  c.simpleRequest = words.size() <= next;
  DecodeUrlPath(c.path);
  c.parseState = ReadHeaders;
  return true;
}

void ParseHeaderLine(Connection& c, const std::string& line) {
  size_t colon = line.find(':');
  if (colon == std::string::npos) return;
  std::string name = line.substr(0, colon);
  size_t start = colon + 1;
  while (start < line.size() && line[start] == ' ') ++start;
  std::string value = line.substr(start);
  if (EqualNoCase(name, "Host")) {
    // Recognised; redirects name the public host instead.
  } else if (EqualNoCase(name, "Content-Length")) {
    ReadContentLength(c, value);
  } else if (EqualNoCase(name, "Cookie")) {
    c.cookie = value;
  } else if (EqualNoCase(name, "Referer")) {
    c.referer = value;
  } else if (EqualNoCase(name, "Content-Type")) {
    c.contentType = value;
  } else if (EqualNoCase(name, "Accept")) {
    c.accept = value;
  } else if (EqualNoCase(name, "Accept-Encoding")) {
    c.acceptEncoding = value;
  } else if (EqualNoCase(name, "If-Modified-Since")) {
    c.ifModifiedSince = ParseHttpDate(value.c_str());
  }
}

void CloseConnection(Connection& c) {
  if (c.closed) return;
  if (c.socket >= 0) plat::CloseSocket(c.socket);
  c.socket = -1;
  c.file.Close();
  c.bodyFile.Close();
  c.closed = true;
  c.accept.reset();
  c.acceptEncoding.reset();
  c.path.clear();
  c.query.reset();
  c.bodyFileName.reset();
  c.cookie.reset();
  c.referer.reset();
  c.contentType.reset();
}

void DecodeUrlPath(std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() &&
        HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  text.swap(out);
}
