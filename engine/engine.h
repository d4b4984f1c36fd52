// The table engine's public interface. Programs include this header only.
//
// The engine keeps xBase tables: data files ("dbf") with fixed-length
// records, memo files ("fpt") for texts of any length and (added by the index
// side) compound index files ("cdx"). Every operation works in an engine
// context, CODE4, started with code4init and ended with code4closeAll and
// code4initUndo. Results: 0 success, positive statuses (STAT4EOF, STAT4LOCKED,
// ...), negative errors; operations returning pointers return null and leave
// the code in the context's lastError. While lastError is negative almost
// every operation refuses work with -1: the caller clears it by storing 0.
//
// Caveats
// -------
// * Locks are byte-range locks owned by the open file (not the process) at
//   positions far beyond the data (the shared layout of the portal's other
//   programs): record n at 0x7FFFFFFE - n, the append lock at 0x7FFFFFFE, the
//   file lock over 0x40000000..0x7FFFFFFE, the memo lock at 0x40000000 of the
//   memo file. They are advisory: a program that writes without locking is
//   not stopped. Two handles of one context on one file share one descriptor,
//   so their conflicts are decided by the engine, not the system.
// * Locking needs a descriptor open for writing. A table opened with
//   openReadOnly set is still opened for reading and writing when the file
//   permits it (the engine itself refuses every write), so its locks work. A
//   file without write permission is opened for reading only; locking it is
//   error -50 "Locking File" with the location text "attempt to lock a file
//   opened without write access", never a silent success.
// * Sharing modes are kept by the engine itself (the system has none): every
//   open marks the file with shared locks on two bytes at 2^62, which an
//   exclusive open (shareMode 1) or an open that lets others only read
//   (shareMode 2) must lock exclusively; a conflict is error -61 "Permission
//   Error Opening File" (or the quiet 70 with failOpen 0). Only programs
//   built on this engine take these marks. A table opened with shareMode 1
//   takes no record, append or file locks and keeps its count in memory.
// * Replacing an existing file (keepExisting 0) is refused with 60 while any
//   other open file holds a lock or an open mark on it.
// * lockTries defaults to WAIT4EVER: a lock held by another process is retried
//   every lockRetryDelay hundredths of a second without end. Set lockTries to
//   a positive count to give up with STAT4LOCKED.
// * With autoUnlock 1 (the default) taking any new lock first releases every
//   lock of the context (after writing changed records), and d4append leaves
//   only the new record locked.
// * Record counts are re-read from the file header whenever this handle does
//   not hold the append or file lock, so appends of other processes are seen.
// * Fatal errors (-910, -920, -950, -970) end the process with the error code
//   as exit status; reports go to the standard error stream, never to the
//   standard output.
// * Index files are not supported yet: d4create with tag descriptions fails
//   with -1010, and d4open of a table whose header announces a production
//   index fails with -1010 while autoOpen is on (even with failOpen 0, so
//   that a caller never mistakes the table for a missing one and creates it
//   anew). With autoOpen 0 such a table opens for its data; do not change
//   the rows of an indexed table this way, since its index is not updated.
// * A context is used by one thread at a time.
#pragma once

#include "engine/engine_core.h"
#include "engine/date4.h"
#include "engine/c4util.h"
#include "engine/field4.h"
#include "engine/code4.h"
#include "engine/file4.h"
#include "engine/data4.h"
#include "engine/memo4.h"
#include "engine/expr4.h"
#include "engine/collate4.h"
