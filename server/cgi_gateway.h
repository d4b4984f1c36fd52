// The CGI gateway: the script map "Filter.cfg", and running a CGI program for
// a request: its environment, its command line, the child process with the
// request body as standard input and a temporary file as standard output and
// error, and the relay of that output (header lines merged into the
// server's head, the rest sent as the body).
#pragma once

#include <string>
#include <vector>

#include "server/connection.h"

// One line of the script map: files with this extension (dot included,
// compared without regard to case) run through this interpreter command
// (a program path, possibly followed by options separated by blanks).
// The head of a program's output (everything before its empty line) is read
// whole before anything is sent; output without an empty line this early is
// not a CGI answer.
constexpr size_t kMaxCgiHeadBytes = 64 * 1024;

struct FilterEntry {
  std::string extension;
  std::string command;
};

// The script map, in file order. Loaded once at program start; read without
// a lock while the server runs.
extern std::vector<FilterEntry> FilterTable;

// Reads "Filter.cfg" from the install directory into FilterTable (empty when
// the file doesn't exist). Lines are read in pieces of at most 254
// characters; a piece without "=", a comment ("#" first) and a piece with
// nothing after the "=" are ignored. A CR before the line end is dropped.
void LoadFilterTable();

// The script kind of a file: 0 for ".cgi", the 1-based position of the first
// script map entry with the file's extension, else -1 (a static file).
int ScriptKindOf(const std::string& path);

// Runs the script of the connection (script kind 0 or more) and sends the
// whole response: the program's answer, or "500 Internal Server Error" when
// the output file can't be made, the program can't be started, it outlives
// CgiWaitTime (milliseconds; 0xFFFFFFFF waits without a limit), or its
// output has no complete head. Returns whether the program's answer was
// relayed.
bool RunCgi(Connection& c);

// The CGI/1.1 variables as "NAME=value", in the fixed order, followed by the
// server's own environment.
std::vector<std::string> BuildCgiEnvironment(const Connection& c);

// The program's arguments: the script's path (kind 0), or the interpreter
// command's words and then the script's path; then, for a query without
// "=", its non-empty "+"-separated words, percent-decoded.
std::vector<std::string> BuildCgiCommandLine(const Connection& c);

// Sends the response from the program's output in the connection's file:
// the status line (200, the code of a "Status" line, or 302 after a
// "Location" line), the passed-on header lines, an empty line, and the body
// unless the method is HEAD. Returns false, having sent nothing, when the
// output has no empty line ending its head (no output at all included), the
// head is beyond all reason (kMaxCgiHeadBytes) or the status code isn't one
// the server can send; the caller then answers 500. Returns true otherwise,
// also when a send failed part way (the response ends there).
bool RelayCgiOutput(Connection& c);
