// Record operations: moving between records, reading them into the record
// buffer, writing changed records back, appending, the record count and the
// header updates that keep other processes informed.
//
// Invariants:
//  1. A changed record is written before any movement, unlock or close, so a
//     change is never lost by moving (d4updateRecord).
//  2. The record count is trusted from memory only while this context holds
//     the append or file lock (or the file is exclusive); otherwise it is
//     re-read from bytes 4..7 of the header when a record number lies beyond
//     the counts already seen.
//  3. A record is written only while it is locked (d4write with its lock
//     flag); an append holds the append lock and the new record's lock while
//     it writes, and the header count is written before the append lock goes.
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "engine/data4.h"
#include "engine/error4_internal.h"
#include "engine/file4.h"
#include "engine/memo4.h"
#include "engine/table4_internal.h"

namespace {

using engine4::refused;

void BlankBuffer(TABLE4* t) {
  std::memcpy(t->record, t->recordBlank, t->dataFile->recordLen);
}

// Reads record n into `buf`; returns the bytes read (0 after an error).
unsigned ReadRecord(TABLE4* t, long n, char* buf) {
  TABLE4FILE* d = t->dataFile;
  return file4read(&d->file, engine4::recordPos(d, n), buf, d->recordLen);
}

bool InRange(TABLE4* t, long n) {
  TABLE4FILE* d = t->dataFile;
  if (n <= d->minCount) return true;
  if (d->recCount >= 0 && n <= d->recCount) return true;
  long count = engine4::recCount(t, true);
  return count >= 0 && n <= count;
}

}  // namespace

namespace engine4 {

void todayHeaderDate(unsigned char* yy, unsigned char* mm, unsigned char* dd) {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  *yy = static_cast<unsigned char>(tm.tm_year % 100);
  *mm = static_cast<unsigned char>(tm.tm_mon + 1);
  *dd = static_cast<unsigned char>(tm.tm_mday);
}

int writeHeader(TABLE4FILE* d, bool timeStamp, bool withCount) {
  unsigned char h[10];
  h[0] = d->version;
  h[1] = d->yy;
  h[2] = d->mm;
  h[3] = d->dd;
  bool count = withCount && d->recCount >= 0;
  uint32_t n = count ? static_cast<uint32_t>(d->recCount) : 0;
  for (int i = 0; i < 4; ++i) h[4 + i] = static_cast<unsigned char>(n >> (8 * i));
  h[8] = static_cast<unsigned char>(d->headerLen);
  h[9] = static_cast<unsigned char>(d->headerLen >> 8);
  int rc;
  if (timeStamp) {
    rc = file4write(&d->file, 0, h, count ? 10 : 4);
    d->doDate = true;
  } else {
    if (!count) return 0;
    rc = file4write(&d->file, 4, h + 4, 6);
  }
  if (rc < 0) return rc;
  if (count) d->minCount = d->recCount;
  d->hdrChanged = false;
  return 0;
}

long recCount(TABLE4* t, bool exact) {
  TABLE4FILE* d = t->dataFile;
  bool guarded = exclusive(t) || d->fileLockHolder != nullptr || d->appendLockHolder != nullptr;
  if (d->recCount >= 0) {
    if (exact || exclusive(t) || holdsFileLock(t) || holdsAppendLock(t)) return d->recCount;
    return d->minCount;
  }
  unsigned char b[4];
  if (file4read(&d->file, 4, b, 4) != 4) return -1;
  uint32_t n = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
  if (n > 0x7FFFFFFFu) return -1;
  d->minCount = static_cast<long>(n);
  if (guarded) d->recCount = static_cast<long>(n);
  return static_cast<long>(n);
}

}  // namespace engine4

long d4recCount(TABLE4* t) {
  if (t == nullptr) return error4report(nullptr, e4parmNull, LOC4d4recCount);
  if (refused(t->c4)) return -1;
  return engine4::recCount(t, true);
}

long d4recNo(TABLE4* t) { return t != nullptr ? t->recNum : -1; }
int d4eof(TABLE4* t) { return t != nullptr && t->eofFlag ? 1 : 0; }
int d4bof(TABLE4* t) { return t != nullptr && t->bofFlag ? 1 : 0; }
char* d4record(TABLE4* t) { return t != nullptr ? t->record : nullptr; }
int d4recWidth(TABLE4* t) { return t != nullptr ? t->dataFile->recordLen : 0; }

int d4changed(TABLE4* t, int flag) {
  if (t == nullptr) return error4report(nullptr, e4parmNull, LOC4d4changed);
  int previous = t->recordChanged ? 1 : 0;
  if (flag > 0) {
    CODE4* c4 = t->c4;
    if (c4->requireRecordLock && t->recNum > 0 && d4lockTest(t, t->recNum) != 1)
      return error4report(c4, e4lock, LOC4d4changed, t->alias);
    t->recordChanged = true;
  } else if (flag == 0) {
    t->recordChanged = false;
  }
  return previous;
}

int d4blank(TABLE4* t) {
  if (t == nullptr) return error4report(nullptr, e4parmNull, LOC4d4blank);
  CODE4* c4 = t->c4;
  if (refused(c4)) return -1;
  if (c4->requireRecordLock && t->recNum > 0 && d4lockTest(t, t->recNum) != 1)
    return error4report(c4, e4lock, LOC4d4blank, t->alias);
  BlankBuffer(t);
  engine4::memoCellsFree(t);
  t->recordChanged = true;
  return 0;
}

int d4readOld(TABLE4* t, long recNo) {
  if (t == nullptr) return error4report(nullptr, e4parmNull, LOC4d4readOld);
  if (refused(t->c4)) return -1;
  TABLE4FILE* d = t->dataFile;
  if (recNo <= 0) {
    std::memcpy(t->recordOld, t->recordBlank, d->recordLen);
    t->recNumOld = recNo;
    return 0;
  }
  if (t->recNumOld == recNo) return 0;
  t->recNumOld = -1;
  unsigned got = ReadRecord(t, recNo, t->recordOld);
  if (t->c4->lastError < 0) return -1;
  if (got != d->recordLen) std::memcpy(t->recordOld, t->recordBlank, d->recordLen);
  t->recNumOld = recNo;
  return 0;
}

int d4go(TABLE4* t, long recNo) {
  if (t == nullptr) return error4report(nullptr, e4parmNull, LOC4d4go);
  CODE4* c4 = t->c4;
  if (refused(c4)) return -1;
  if (t->recordChanged) {
    int rc = d4updateRecord(t, 0, 1);
    if (rc < 0) return rc;
  } else {
    engine4::memoCellsReread(t);
  }
  TABLE4FILE* d = t->dataFile;
  if (recNo < 1 || !InRange(t, recNo)) {
    if (c4->lastError < 0) return c4->lastError;
    t->recNum = -1;
    t->memoValidated = false;
    BlankBuffer(t);
    if (c4->failGo) return error4report(c4, e4read, LOC4d4go, t->alias);
    return STAT4NORECORD;
  }
  bool lockedHere = false;
  if (c4->lockOnRead && d4lockTest(t, recNo) != 1) {
    int rc = d4lock(t, recNo);
    if (rc != 0) return rc;
    lockedHere = true;
  }
  unsigned got = ReadRecord(t, recNo, t->record);
  if (got != d->recordLen) {
    BlankBuffer(t);
    t->recNum = -1;
    t->memoValidated = false;
    if (lockedHere) engine4::releaseRecordLock(t, recNo);
    if (c4->lastError < 0) return c4->lastError;
    if (c4->failGo) return error4report(c4, e4read, LOC4d4go, d->file.name);
    return STAT4NORECORD;
  }
  t->recNum = recNo;
  t->eofFlag = false;
  t->bofFlag = false;
  if (d4lockTest(t, recNo) == 1) {
    std::memcpy(t->recordOld, t->record, d->recordLen);
    t->recNumOld = recNo;
    t->memoValidated = true;
  } else {
    t->memoValidated = false;
  }
  return 0;
}

int d4goEof(TABLE4* t) {
  if (t == nullptr) return error4report(nullptr, e4parmNull, LOC4d4goEof);
  CODE4* c4 = t->c4;
  if (refused(c4)) return -1;
  if (t->recordChanged) {
    int rc = d4updateRecord(t, 0, 1);
    if (rc < 0) return rc;
  }
  long count = engine4::recCount(t, true);
  if (count < 0) return c4->lastError < 0 ? c4->lastError : -1;
  t->eofFlag = true;
  if (count == 0) t->bofFlag = true;
  t->recNum = count + 1;
  BlankBuffer(t);
  engine4::memoCellsReset(t);
  t->memoValidated = false;
  return STAT4EOF;
}

namespace {

// d4go with failGo switched off for the call.
int GoQuiet(TABLE4* t, long recNo) {
  CODE4* c4 = t->c4;
  int saved = c4->failGo;
  c4->failGo = 0;
  int rc = d4go(t, recNo);
  c4->failGo = saved;
  return rc;
}

}  // namespace

int d4top(TABLE4* t) {
  if (t == nullptr) return error4report(nullptr, e4parmNull, LOC4d4top);
  if (refused(t->c4)) return -1;
  long count = engine4::recCount(t, true);
  if (count < 0) return -1;
  if (count > 0) return GoQuiet(t, 1);
  t->bofFlag = true;
  return d4goEof(t);
}

int d4bottom(TABLE4* t) {
  if (t == nullptr) return error4report(nullptr, e4parmNull, LOC4d4bottom);
  if (refused(t->c4)) return -1;
  long count = engine4::recCount(t, true);
  if (count < 0) return -1;
  if (count > 0) return d4go(t, count);
  t->bofFlag = true;
  return d4goEof(t);
}

int d4skip(TABLE4* t, long n) {
  if (t == nullptr) return error4report(nullptr, e4parmNull, LOC4d4skip);
  CODE4* c4 = t->c4;
  if (c4->lastError < 0) return c4->lastError;
  if (t->recNum <= 0) {
    if (c4->failSkip)
      return error4reportAt(c4, e4info, LOC4d4skip, "skip must be made from valid record number");
    return e4info;
  }
  t->bofFlag = false;
  long target = t->recNum + n;
  if (target > 0) {
    int rc = GoQuiet(t, target);
    if (rc == 0 || (rc > 0 && rc != STAT4NORECORD)) return rc;
    if (rc < 0) return rc;
  }
  long count = engine4::recCount(t, true);
  if (count < 0) return -1;
  if (count == 0) {
    d4goEof(t);
    t->bofFlag = true;
    return n >= 0 ? STAT4EOF : STAT4BOF;
  }
  if (target <= 0) {
    bool eof = t->eofFlag;
    int rc = GoQuiet(t, 1);
    t->eofFlag = eof;
    t->bofFlag = true;
    return rc < 0 ? rc : STAT4BOF;
  }
  if (n >= 0) return d4goEof(t);
  t->bofFlag = true;
  return STAT4BOF;
}

int d4updateRecord(TABLE4* t, int unlock, int lock) {
  if (t == nullptr) return error4report(nullptr, e4parmNull, LOC4d4update);
  CODE4* c4 = t->c4;
  if (refused(c4)) return -1;
  if (t->recNum <= 0 || t->eofFlag) {
    t->recordChanged = false;
    engine4::memoCellsReset(t);
    return 0;
  }
  if (t->recordChanged) {
    int rc = d4write(t, t->recNum, unlock, lock);
    if (rc != 0) return rc;
    engine4::memoCellsReset(t);
    return 0;
  }
  engine4::memoCellsReread(t);
  if (unlock && c4->autoUnlock != 0 && !engine4::holdsFileLock(t)) return d4unlock(t);
  return 0;
}

int d4write(TABLE4* t, long recNo, int unlock, int lock) {
  if (t == nullptr) return error4report(nullptr, e4parmNull, LOC4d4write);
  CODE4* c4 = t->c4;
  if (refused(c4)) return -1;
  if (recNo == -1) recNo = t->recNum;
  if (recNo <= 0) return error4report(c4, e4parm, LOC4d4write, t->alias);
  if (t->readOnly)
    return error4reportAt(c4, e4write, LOC4d4write, "attempt to write to a read-only file", t->alias);
  bool changed = t->recordChanged;
  t->recordChanged = false;
  if (lock) {
    int rc = d4lock(t, recNo);
    if (rc != 0) {
      t->recordChanged = changed;
      return rc;
    }
  }
  // Only the end-of-file position is refused: beginning-of-file is also
  // flagged on a valid record 1 after a skip backwards past it.
  if (t->eofFlag) {
    t->recordChanged = changed;
    return error4reportAt(c4, e4write, LOC4d4write,
                          "attempt to d4write record to a non-existant record", t->alias);
  }
  if (t->nMemoFields > 0 && recNo == t->recNum) {
    int rc = d4validateMemoIds(t);
    if (rc != 0) {
      t->recordChanged = changed;
      return rc;
    }
    rc = engine4::memoCellsFlush(t);
    if (rc < 0) {
      t->recordChanged = changed;
      return rc;
    }
  }
  TABLE4FILE* d = t->dataFile;
  int rc = file4write(&d->file, engine4::recordPos(d, recNo), t->record, d->recordLen);
  if (rc < 0) {
    t->recordChanged = changed;
    return rc;
  }
  d->hdrChanged = true;
  t->recordChanged = false;
  if (unlock && c4->autoUnlock != 0 && !engine4::holdsFileLock(t) && !engine4::exclusive(t))
    return d4unlock(t);
  std::memcpy(t->recordOld, t->record, d->recordLen);
  t->recNumOld = recNo;
  t->memoValidated = recNo == t->recNum;
  return 0;
}

int d4update(TABLE4* t) {
  if (t == nullptr) return error4report(nullptr, e4parmNull, LOC4d4update);
  if (refused(t->c4)) return -1;
  int rc = d4updateRecord(t, 0, 1);
  if (rc != 0) return rc;
  TABLE4FILE* d = t->dataFile;
  if (d->hdrChanged &&
      (engine4::holdsAppendLock(t) || engine4::holdsFileLock(t) || engine4::exclusive(t)))
    return engine4::writeHeader(d, true, true);
  return 0;
}

int d4flushData(TABLE4* t) {
  if (t == nullptr) return error4report(nullptr, e4parmNull, LOC4d4flush);
  int rc = d4update(t);
  if (rc != 0) return rc;
  TABLE4FILE* d = t->dataFile;
  if (engine4::exclusive(t) && d->recCount >= 0) {
    rc = engine4::writeHeader(d, true, true);
    if (rc < 0) return rc;
  }
  rc = file4flush(&d->file);
  if (rc < 0) return rc;
  if (d->hasMemo) return file4flush(&d->memoFile.file);
  return 0;
}

int d4flush(TABLE4* t) { return d4flushData(t); }

int d4appendStart(TABLE4* t, int useMemoEntries) {
  if (t == nullptr) return error4report(nullptr, e4parmNull, LOC4d4appendStart);
  CODE4* c4 = t->c4;
  if (refused(c4)) return -1;
  int rc = d4updateRecord(t, 1, 1);
  if (rc < 0) return rc;
  engine4::memoCellsReset(t);
  if (useMemoEntries == 1 && t->nMemoFields > 0 && t->recNum > 0 && !t->eofFlag) {
    rc = d4lock(t, t->recNum);
    if (rc != 0) return rc;
    for (int i = 0; i < t->nMemoFields; ++i) {
      COLUMN4* f = t->memoFields[i].field;
      if (f4memoRead(f) < 0) return -1;
      t->memoFields[i].reread = false;
      t->memoFields[i].changed = true;
    }
  }
  for (int i = 0; i < t->nMemoFields; ++i)
    engine4::memoBlockNoSet(t->memoFields[i].field, t->record, 0);
  t->recNum = 0;
  t->memoValidated = false;
  if (!engine4::holdsFileLock(t) && !engine4::exclusive(t) && c4->autoUnlock != 0) {
    rc = engine4::releaseFileLock(t);
    if (rc >= 0) rc = engine4::releaseAppendLock(t);
    if (rc >= 0) rc = engine4::releaseRecordLocks(t);
    if (rc < 0) return rc;
  }
  return 0;
}

namespace {

// Append locks: the append lock and the lock of the new record. Returns 0,
// STAT4LOCKED or an error; the count under the lock is in recCount.
int LockForAppend(TABLE4* t) {
  CODE4* c4 = t->c4;
  TABLE4FILE* d = t->dataFile;
  if (engine4::holdsFileLock(t) || engine4::exclusive(t)) {
    if (d->recCount < 0 && engine4::recCount(t, true) < 0) return -1;
    return 0;
  }
  if (engine4::holdsAppendLock(t) && d->recCount >= 0 &&
      engine4::holdsRecordLock(t, d->recCount + 1))
    return 0;
  int rc = engine4::autoRelease(t, false);
  if (rc < 0) return rc;
  int16_t savedAuto = c4->autoUnlock;
  c4->autoUnlock = 0;
  if (!engine4::holdsAppendLock(t)) {
    rc = d4lockAppend(t);
    if (rc == 0) d->recCount = -1;
  }
  long count = -1;
  if (rc == 0) {
    count = engine4::recCount(t, true);
    if (count < 0) rc = c4->lastError < 0 ? c4->lastError : e4data;
  }
  if (rc == 0) rc = d4lock(t, count + 1);
  c4->autoUnlock = savedAuto;
  if (rc != 0 && c4->autoUnlock != 0) {
    int saved = c4->lastError;
    if (saved < 0) c4->lastError = 0;
    engine4::releaseFileLock(t);
    engine4::releaseAppendLock(t);
    engine4::releaseRecordLocks(t);
    if (saved < 0) c4->lastError = saved;
  }
  return rc;
}

// Memo fields of the new record: texts become new memos; empty cells store
// block number 0 (version 0x30) or blanks (classic).
int AppendMemos(TABLE4* t) {
  for (int i = 0; i < t->nMemoFields; ++i) {
    MEMOCELL4* cell = &t->memoFields[i];
    COLUMN4* f = cell->field;
    long block = 0;
    if (cell->len > 0 && !cell->reread) {
      int rc = memo4fileWrite(&t->dataFile->memoFile, &block, cell->contents, cell->len);
      if (rc < 0) return rc;
      engine4::memoBlockNoSet(f, t->record, block);
    } else {
      engine4::memoBlockNoSet(f, t->record, 0);
    }
    cell->changed = false;
  }
  return 0;
}

}  // namespace

int d4append(TABLE4* t) {
  if (t == nullptr) return error4report(nullptr, e4parmNull, LOC4d4append);
  CODE4* c4 = t->c4;
  if (refused(c4)) return -1;
  if (t->readOnly)
    return error4reportAt(c4, e4write, LOC4d4append, "attempt to write to a read-only file", t->alias);
  long before = t->recNum;
  int rc = LockForAppend(t);
  if (rc != 0) return rc;
  TABLE4FILE* d = t->dataFile;
  t->eofFlag = false;
  t->bofFlag = false;
  t->recordChanged = false;
  long n = d->recCount + 1;
  if (n > d->maxRecords) rc = error4report(c4, e4append, LOC4d4append, t->alias);
  if (rc == 0 && d->hasMemo) rc = AppendMemos(t);
  if (rc == 0) {
    // The record and, for classic tables, the end mark in one write.
    t->record[d->recordLen] = 0x1A;
    bool mark = !engine4::version30(d->version);
    rc = file4write(&d->file, engine4::recordPos(d, n), t->record, d->recordLen + (mark ? 1 : 0));
    t->record[d->recordLen] = 0;
  }
  if (rc == 0) {
    d->recCount = n;
    d->minCount = n;
    d->hdrChanged = true;
    if (!engine4::exclusive(t)) rc = engine4::writeHeader(d, true, true);
  }
  if (rc == 0) {
    t->recNum = n;
    std::memcpy(t->recordOld, t->record, d->recordLen);
    t->recNumOld = n;
    t->memoValidated = true;
    engine4::memoCellsReset(t);
    if (c4->autoUnlock != 0) rc = engine4::releaseAppendLock(t);
    return rc;
  }
  t->recNum = before;
  int saved = c4->lastError;
  if (saved < 0) c4->lastError = 0;
  if (c4->autoUnlock != 0) {
    engine4::releaseAppendLock(t);
    engine4::releaseRecordLock(t, n);
  }
  if (saved < 0) c4->lastError = saved;
  return rc;
}
