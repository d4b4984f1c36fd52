// Dates of the If-Modified-Since header.
#pragma once

#include <cstdint>

// Reads an HTTP date in one of the forms browsers send (with full or short,
// any-case month and weekday names, two- or four-digit years, "GMT" optional
// at the end) and returns the seconds since 1970-01-01 00:00:00 GMT, or -1
// when no form fits or the moment can't be held in 32 bits.
int32_t ParseHttpDate(const char* text);
