// cgi-echo.cgi: a diagnostic CGI program. It answers text/plain with what
// the CGI library sees of the request, one item a line, fields separated by
// tabs:
//   env    NAME   value          for each CgiEnv text that is set
//   time   YYYY-MM-DD HH:MM:SS   the record's local time
//   form   name   length  value  for each form entry, in list order
//   cookie name   length  value  for each cookie, in list order
// Lengths count the value's bytes. Names and values show bytes outside
// printable ASCII as \xHH and a backslash as \\, so tabs, line ends, zero
// bytes and Korean text are all visible and unambiguous. Malformed input
// gets the library's error page instead.
#include <cstddef>
#include <cstring>
#include <string>

#include "cgi/cgi.h"

namespace {

struct EnvField {
  const char* name;
  const char* CgiEnv::*member;
};

const EnvField kFields[] = {
    {"AUTH_TYPE", &CgiEnv::AUTH_TYPE},
    {"CONTENT_LENGTH", &CgiEnv::CONTENT_LENGTH},
    {"CONTENT_TYPE", &CgiEnv::CONTENT_TYPE},
    {"DOCUMENT_ROOT", &CgiEnv::DOCUMENT_ROOT},
    {"GATEWAY_INTERFACE", &CgiEnv::GATEWAY_INTERFACE},
    {"HTTP_ACCEPT", &CgiEnv::HTTP_ACCEPT},
    {"HTTP_ACCEPT_ENCODING", &CgiEnv::HTTP_ACCEPT_ENCODING},
    {"HTTP_ACCEPT_LANGUAGE", &CgiEnv::HTTP_ACCEPT_LANGUAGE},
    {"HTTP_CONNECTION", &CgiEnv::HTTP_CONNECTION},
    {"HTTP_COOKIE", &CgiEnv::HTTP_COOKIE},
    {"HTTP_HOST", &CgiEnv::HTTP_HOST},
    {"HTTP_REFERER", &CgiEnv::HTTP_REFERER},
    {"HTTP_USER_AGENT", &CgiEnv::HTTP_USER_AGENT},
    {"QUERY_STRING", &CgiEnv::QUERY_STRING},
    {"REMOTE_ADDR", &CgiEnv::REMOTE_ADDR},
    {"REMOTE_HOST", &CgiEnv::REMOTE_HOST},
    {"REMOTE_PORT", &CgiEnv::REMOTE_PORT},
    {"REMOTE_USER", &CgiEnv::REMOTE_USER},
    {"REQUEST_METHOD", &CgiEnv::REQUEST_METHOD},
    {"REQUEST_URI", &CgiEnv::REQUEST_URI},
    {"SCRIPT_FILENAME", &CgiEnv::SCRIPT_FILENAME},
    {"SCRIPT_NAME", &CgiEnv::SCRIPT_NAME},
    {"SERVER_ADMIN", &CgiEnv::SERVER_ADMIN},
    {"SERVER_NAME", &CgiEnv::SERVER_NAME},
    {"SERVER_PORT", &CgiEnv::SERVER_PORT},
    {"SERVER_PROTOCOL", &CgiEnv::SERVER_PROTOCOL},
    {"SERVER_SOFTWARE", &CgiEnv::SERVER_SOFTWARE},
    {"SERVER_SIGNATURE", &CgiEnv::SERVER_SIGNATURE},
    {"UNIQUE_ID", &CgiEnv::UNIQUE_ID},
};

// Writes the bytes with everything outside printable ASCII escaped.
void writeEscaped(const char* data, size_t len) {
  for (size_t i = 0; i < len; ++i) {
    unsigned char c = static_cast<unsigned char>(data[i]);
    if (c == '\\') {
      qWrite("\\\\", 2);
    } else if (c < 0x20 || c > 0x7E) {
      qPrintf("\\x%02X", static_cast<unsigned>(c));
    } else {
      qWrite(reinterpret_cast<const char*>(&c), 1);
    }
  }
}

void writeEntries(const char* kind, const FormEntry* e) {
  for (; e != nullptr; e = e->next) {
    qPrintf("%s\t", kind);
    writeEscaped(e->name, std::strlen(e->name));
    qPrintf("\t%zu\t", e->length);
    writeEscaped(e->value, e->length);
    qPuts("\n");
  }
}

}  // namespace

int main() {
  CgiEnv env;
  qGetCgiEnv(&env);
  // Parse before the head goes out, so malformed input gets a whole error page.
  const FormEntry* form = qFormList();
  const FormEntry* cookies = qcCookieList();
  qPrintContentType("text/plain");
  for (const EnvField& f : kFields) {
    const char* value = env.*f.member;
    if (value == nullptr) continue;
    qPrintf("env\t%s\t", f.name);
    writeEscaped(value, std::strlen(value));
    qPuts("\n");
  }
  qPrintf("time\t%04d-%02d-%02d %02d:%02d:%02d\n", env.year, env.mon, env.day, env.hour, env.min, env.sec);
  writeEntries("form", form);
  writeEntries("cookie", cookies);
  qFreeForm();
  qcFreeCookies();
  qFlush();
  return 0;
}
