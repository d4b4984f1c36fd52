// auth-token: issues the value of an AUTH cookie that the admin program's
// sign-in check accepts, for tests, the demo and administrators.
//
//   auth-token --address 127.0.0.1 --user admin --kind a [--name NAME]
//              [--number N] [--rest TEXT] [--utf8] [--raw]
//
// Prints the value ready for a Cookie header: the library URL-decodes
// cookie values, so "+", "/", "=" and every other byte that isn't plainly
// safe are percent-encoded. --raw prints the token text itself. --utf8
// converts the user ID, name and rest from UTF-8 to EUC-KR, the portal's
// code page; without it their bytes are taken as given.
#include <getopt.h>
#include <iconv.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "admin/signin_token.h"

namespace {

void usage() {
  std::fprintf(stderr,
               "usage: auth-token --address ADDR --user ID --kind a|u [--name NAME] [--number N]\n"
               "                  [--rest TEXT] [--utf8] [--raw]\n");
}

bool toEucKr(std::string* text) {
  iconv_t cd = iconv_open("EUC-KR", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string out(text->size() * 2 + 8, '\0');
  char* in = text->data();
  size_t inLeft = text->size();
  char* dst = out.data();
  size_t outLeft = out.size();
  size_t r = iconv(cd, &in, &inLeft, &dst, &outLeft);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1)) return false;
  out.resize(out.size() - outLeft);
  *text = out;
  return true;
}

bool safeInCookie(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         std::strchr("-_.:!~*'()", c) != nullptr;
}

std::string cookieEscape(const std::string& token) {
  std::string out;
  for (unsigned char c : token) {
    if (c != '\0' && safeInCookie(c)) {
      out += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned>(c));
      out += hex;
    }
  }
  return out;
}

bool parseNumber(const char* text, int* out) {
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (*text == '\0' || *end != '\0' || v < -2147483647L || v > 2147483647L) return false;
  *out = static_cast<int>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  static const option kOptions[] = {
      {"address", required_argument, nullptr, 'a'}, {"user", required_argument, nullptr, 'u'},
      {"kind", required_argument, nullptr, 'k'},    {"name", required_argument, nullptr, 'n'},
      {"number", required_argument, nullptr, 'N'},  {"rest", required_argument, nullptr, 'r'},
      {"utf8", no_argument, nullptr, '8'},          {"raw", no_argument, nullptr, 'R'},
      {"help", no_argument, nullptr, 'h'},          {nullptr, 0, nullptr, 0},
  };
  SignInFields f;
  bool utf8 = false, raw = false;
  for (int c; (c = getopt_long(argc, argv, "", kOptions, nullptr)) != -1;) {
    switch (c) {
      case 'a': f.address = optarg; break;
      case 'u': f.userId = optarg; break;
      case 'k': f.kind = optarg; break;
      case 'n': f.name = optarg; break;
      case 'r': f.rest = optarg; break;
      case '8': utf8 = true; break;
      case 'R': raw = true; break;
      case 'N':
        if (!parseNumber(optarg, &f.number)) {
          std::fprintf(stderr, "auth-token: --number needs a decimal number\n");
          return 2;
        }
        break;
      case 'h': usage(); return 0;
      default: usage(); return 2;
    }
  }
  if (optind != argc || f.address.empty() || f.userId.empty() || f.kind.empty()) {
    usage();
    return 2;
  }
  if (utf8 && (!toEucKr(&f.userId) || !toEucKr(&f.name) || !toEucKr(&f.rest))) {
    std::fprintf(stderr, "auth-token: a text is not valid UTF-8 or has no EUC-KR form\n");
    return 2;
  }
  std::string token;
  if (!issueSignInToken(f, &token)) {
    std::fprintf(stderr,
                 "auth-token: fields may not hold \":\" or be empty (a rest needs a name)\n");
    return 2;
  }
  std::printf("%s\n", raw ? token.c_str() : cookieEscape(token).c_str());
  return 0;
}
