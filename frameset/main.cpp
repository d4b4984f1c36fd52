// tree-frameset.cgi: writes the frameset page whatever the request; it reads
// no query, form, cookie or environment variable.
#include "cgi/cgi.h"
#include "frameset/frameset_page.h"

int main() {
  writeFramesetPage();
  qFlush();
  return 0;
}
