// The library's one way to give up: qError prints a page that shows the
// message in a browser alert and goes back, frees the lists and ends the
// process. The message may carry request data (a multipart field name), so
// it is escaped for the title and for the script string: the page shows the
// message as written and nothing in it can run.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "cgi/cgi.h"
#include "cgi/cgi_internal.h"

namespace cgi {

std::string htmlEscape(const char* text) {
  std::string out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != '\0'; ++p) {
    switch (*p) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default:
        if (*p < 0x20 || *p == 0x7F) {
          char ref[8];
          std::snprintf(ref, sizeof ref, "&#%u;", static_cast<unsigned>(*p));
          out += ref;
        } else {
          out += static_cast<char>(*p);
        }
    }
  }
  return out;
}

std::string scriptStringEscape(const char* text) {
  std::string out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != '\0'; ++p) {
    switch (*p) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\'': out += "\\'"; break;
      default:
        if (*p < 0x20 || *p == 0x7F || *p == '<' || *p == '>' || *p == '&') {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\x%02X", static_cast<unsigned>(*p));
          out += esc;
        } else {
          out += static_cast<char>(*p);
        }
    }
  }
  return out;
}

}  // namespace cgi

namespace {

[[noreturn]] void endProcess() {
  qFreeForm();
  qcFreeCookies();
  qFlush();
  std::exit(1);
}

// The page itself. std::string may throw only when memory runs out; the
// error page is then reduced to its fixed lines.
void printPage(const char* message) {
  std::string title, alert;
  try {
    title = cgi::htmlEscape(message);
    alert = cgi::scriptStringEscape(message);
  } catch (...) {
    title.clear();
    alert.clear();
  }
  qPrintContentType("text/html");
  qPuts("<html>\n");
  qPuts("<head>\n");
  qPrintf("<title>Error: %s</title>\n", title.c_str());
  qPuts("<script language='JavaScript'>\n");
  qPrintf("  alert(\"%s\");\n", alert.c_str());
  qPuts("  history.back();\n");
  qPuts("</script>\n");
  qPuts("</head>\n");
  qPuts("</html>\n");
}

}  // namespace

void qError(const char* format, ...) {
  char message[1024];
  va_list ap;
  va_start(ap, format);
  int n = std::vsnprintf(message, sizeof message, format, ap);
  va_end(ap);
  if (n < 0 || static_cast<size_t>(n) >= sizeof message) {
    qPuts("qError(): Message is too long or invalid");
    endProcess();
  }
  if (std::getenv("REMOTE_ADDR") == nullptr) {
    qPrintf("Error: %s\n", message);
  } else {
    printPage(message);
  }
  endProcess();
}
