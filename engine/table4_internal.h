// Helpers shared by the data-side source files (data4, record4, lock4,
// memo4); not part of the public interface.
#pragma once

#include "engine/engine_core.h"

namespace engine4 {

// Lock byte positions (see lock4.cpp for the layout).
FILE4LONG recordLockPos(const TABLE4FILE* d, long recNo);
FILE4LONG appendLockPos(const TABLE4FILE* d);
constexpr FILE4LONG kFileLockPos = 0x40000000;
constexpr FILE4LONG kFileLockLen = 0x3FFFFFFF;
constexpr FILE4LONG kMemoLockPos = 0x40000000;

// Version 0x30 and its variant 0x31 (tables with auto-increment fields)
// share the layout with null flags, binary fields and no end mark.
inline bool version30(unsigned char version) { return version == 0x30 || version == 0x31; }

inline bool exclusive(const TABLE4* t) { return t->dataFile->file.shareMode == 1; }
inline bool holdsFileLock(const TABLE4* t) { return t->dataFile->fileLockHolder == t; }
inline bool holdsAppendLock(const TABLE4* t) { return t->dataFile->appendLockHolder == t; }
bool holdsRecordLock(const TABLE4* t, long recNo);
bool holdsAnyLock(const TABLE4* t);

// File position of record n.
inline FILE4LONG recordPos(const TABLE4FILE* d, long recNo) {
  return static_cast<FILE4LONG>(d->headerLen) + static_cast<FILE4LONG>(recNo - 1) * d->recordLen;
}

// Writes the header: with the time stamp bytes 0..9 (0..3 when the count is
// unknown or not wanted), else bytes 4..9.
int writeHeader(TABLE4FILE* d, bool timeStamp, bool withCount);

// Today's local date as stored in a header (year % 100, month, day).
void todayHeaderDate(unsigned char* yy, unsigned char* mm, unsigned char* dd);

// Record count: exact re-reads the header when the copy is not guaranteed.
long recCount(TABLE4* t, bool exact);

// Stores the blank value of the field into `record` (blanks for text,
// zero bytes for binary fields), without marking anything changed.
void blankField(const COLUMN4* f, char* record);

// Unlock rules of d4unlock for the file, append, record and memo locks.
int releaseFileLock(TABLE4* t);
int releaseAppendLock(TABLE4* t);
int releaseRecordLocks(TABLE4* t);
int releaseRecordLock(TABLE4* t, long recNo);
int addLockEntry(TABLE4* t, long recNo);
// Locks taken before a new lock per autoUnlock (1: whole context, 2: table).
int autoRelease(TABLE4* t, bool keepFileLock);

// Memo cells of a table.
void memoCellsReread(TABLE4* t);   // re-read needed (moved to another record)
void memoCellsReset(TABLE4* t);    // forget texts and changes
void memoCellsFree(TABLE4* t);     // release buffers
int memoCellsFlush(TABLE4* t);     // write every changed memo
// Block number stored in a memo field of `record`.
long memoBlockNo(const COLUMN4* f, const char* record);
void memoBlockNoSet(const COLUMN4* f, char* record, long blockNo);

// Unlinks and frees a table handle's memory (the file side is done).
void freeTable(TABLE4* t);

}  // namespace engine4
