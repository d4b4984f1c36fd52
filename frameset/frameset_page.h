// The frameset page: a two-frame HTML page whose narrow left frame loads the
// sibling page "folders.cgi" and whose right frame loads "empty.html", both
// relative to the frameset program's own directory.
#pragma once

// Writes the Content-Type head and the page through the CGI output layer.
void writeFramesetPage();
