// Engine context operations: start-up and shut-down of a CODE4, closing every
// table of a context, and the date picture setting. The record itself and the
// error model are in engine_core.h.
#pragma once

#include "engine/engine_core.h"

// Starts a context: checks the caller's version (S4VERSION) and record size
// (0 or sizeof(CODE4)), clears the record and sets every default. The
// pointer-size argument is ignored. Returns 0 or an error code.
int code4init(CODE4* c4, long ignored, int version, int structSize, char singleThread);

// Closes every table and ends the context; returns lastError after that.
int code4initUndo(CODE4* c4);

// d4close on every open table in open order; 0 or the negative lastError.
int code4closeAll(CODE4* c4);

// Always STAT4CDX (204 with a report for a null context).
int code4indexFormat(CODE4* c4);

// Date picture used by date formatting (at most 19 characters).
int code4dateFormatSet(CODE4* c4, const char* picture);
const char* code4dateFormat(CODE4* c4);

// d4unlock on every table of the context that holds a lock.
int code4unlock(CODE4* c4);

// Number of live contexts of the process.
int code4liveCount();
