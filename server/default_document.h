// Requests for a directory: never a listing, but a redirect to the
// directory's first existing default document, addressed by the server's
// public host name (with the "portfree-" prefix and the port in port-free
// mode).
#pragma once

#include "server/connection.h"

// The connection's path is the absolute path of a directory without a
// trailing "/". Tries the names of DefaultHTML (separated by blanks, commas
// and semicolons) in order; the first one that exists and is not a directory
// is the default document, and "302 Redirection" with its Location line is
// sent. Returns true when the redirect was sent (or its send failed), false
// when the directory has none of the default documents (nothing was sent).
bool RedirectToDefaultDocument(Connection& c);

// The Location line (with the "\r\n\r\n" that ends the head) for an address
// path that begins with "/": the public host name, "portfree-" and ":port"
// by the port-free setting and the port.
std::string DefaultDocumentLocation(const std::string& addressPath, bool portFree, int port,
                                    const std::string& hostName);
