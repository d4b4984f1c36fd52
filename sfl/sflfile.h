// File helpers of the utility library: copying a file that isn't there yet,
// and the diagnostic line on the standard error stream.
#pragma once

// Copies `source` to `destination` unless the destination exists. `mode` is
// the open mode's kind ("b" binary, "t" text); files are bytes on this
// system, so both copy the bytes unchanged. Returns 0 when copied, 1 when
// the destination already exists (nothing done), -1 when a file can't be
// opened, the buffer can't be allocated or a read or write fails; a failed
// copy removes the partial destination, so a later call tries again.
int copyFileIfAbsent(const char* destination, const char* source, const char* mode);

// Writes `text` (at most 1023 bytes of it) and a line feed to the standard
// error stream. Never writes to standard output, which carries a CGI
// program's response.
void writeDiagnostic(const char* text);
