// The frameset page's fixed text. The lines are printf formats without
// arguments, so "%%" prints as one "%". The page has no closing head tag and
// no body: the frameset follows the opening head tag directly, as browsers
// have always accepted.
#include "frameset/frameset_page.h"

#include "cgi/cgi.h"

void writeFramesetPage() {
  qPrintContentType("text/html");
  qPrintf("<html>\n");
  qPrintf("<head>\n");
  qPrintf("<FRAMESET cols='30%%,*' BORDER=0 FRAMEBORDER=1 FRAMESPACING=1>\n");
  qPrintf("<FRAME src='folders.cgi'   name='FRM_LEFT' >\n");
  qPrintf("<FRAME src='empty.html' name='FRM_RIGHT'>\n");
  qPrintf("</FRAMESET>\n");
  qPrintf("</html>\n");
}
