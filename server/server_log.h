// The server's own log, "Tavrel.log" in the install directory. It is the only
// place where the server reports errors. Every line is
//   MM/DD/YY HH:MM:SS message CR LF
// in local time, as EUC-KR bytes, and reaches the file in one write: the file
// is opened for appending, written once and closed again for every line, so
// any thread may log at any time without a lock.
#pragma once

#include <string>

#include "platform/winstation.h"

// The window whose module owns the string table of error texts. The server's
// texts live in one table compiled into the program, so the owner only says
// on whose behalf a line is written; it may be null.
using OwnerWindow = plat::Window*;

// The error text for a WinSock code, or "" when the table has none.
const char* LogErrorText(int code);

// The log file's name: the install directory followed by "/Tavrel.log".
std::string LogFilePath();

// Writes `text` as a plain line when `code` is 0; otherwise `text` is a
// format with one "%s" that receives the error text of `code`, followed by
// one blank and the code in decimal between parentheses. A line that can't
// be written is lost without a report.
void WriteLog(OwnerWindow owner, const char* text, int code);

// Formats a message printf-style (at most 255 bytes) and writes it as a
// plain line.
void WriteLogf(OwnerWindow owner, const char* format, ...) __attribute__((format(printf, 2, 3)));
