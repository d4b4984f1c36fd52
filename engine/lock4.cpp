// Table locks: record, append and file locks of an open table, the lock
// tests, the unlock operations and automatic unlocking.
//
// Lock byte positions (one byte each unless said; far beyond the data, so a
// lock never blocks reading or writing real bytes):
//
//   LOCK              TABLES WITH VERSION 0x30 OR A          OTHER TABLES
//                     PRODUCTION INDEX
//   record n          0x7FFFFFFE - n                         0x40000000 + header length
//                                                            + (n - 1) × record length
//   append            0x7FFFFFFE                             0x40000000
//   whole file        0x3FFFFFFF bytes from 0x40000000       same
//   memo file         0x40000000 of the memo file            same
//
// Invariants:
//  1. A handle's lock list holds exactly the record bytes it has locked.
//  2. The TABLE4FILE names the one handle that holds the file lock and the
//     one that holds the append lock; handles of one data file share one
//     descriptor, so their conflicts are decided here, never by the system.
//  3. d4unlock writes a changed record before any lock goes.
//  4. Releasing the append or file lock makes the cached record count unknown.
#include <cstdlib>
#include <cstring>

#include "engine/code4.h"
#include "engine/data4.h"
#include "engine/error4_internal.h"
#include "engine/file4.h"
#include "engine/memo4.h"
#include "engine/table4_internal.h"

namespace {

using engine4::refused;

bool FoxLayout(const TABLE4FILE* d) { return (d->flags & 0x01) != 0 || engine4::version30(d->version); }

// Another handle of the same data file holds the file lock or record n
// (n 0: only the file lock is asked about).
bool OtherHolds(const TABLE4* t, long recNo) {
  const TABLE4FILE* d = t->dataFile;
  if (d->fileLockHolder != nullptr && d->fileLockHolder != t) return true;
  if (recNo <= 0) return false;
  for (const TABLE4* h = d->handles; h != nullptr; h = h->fileNext)
    if (h != t && engine4::holdsRecordLock(h, recNo)) return true;
  return false;
}

// The answer to a conflict with another handle of this context when
// autoUnlock cannot release it: waiting would never end.
int OwnConflict(TABLE4* t, long location) {
  CODE4* c4 = t->c4;
  if (c4->lockTries == WAIT4EVER)
    return error4reportAt(c4, e4lock, location, "WAIT4EVER lock conflicts with own local impeding lock",
                          t->alias);
  return STAT4LOCKED;
}

int ReleaseIndexLocks(TABLE4* /*t*/) { return 0; }  // index side not built

int ReleaseMemoLock(TABLE4* t) {
  TABLE4FILE* d = t->dataFile;
  if (!d->hasMemo || !d->memoFile.fileLock) return 0;
  return memo4fileUnlock(&d->memoFile);
}

// Forget the lock holder and the count; refresh the header date when a
// header with time stamp went out since the last release.
void AfterHeaderLockRelease(TABLE4FILE* d) {
  if (d->doDate) {
    engine4::todayHeaderDate(&d->yy, &d->mm, &d->dd);
    d->doDate = false;
  }
  d->recCount = -1;
}

}  // namespace

namespace engine4 {

FILE4LONG recordLockPos(const TABLE4FILE* d, long recNo) {
  if (FoxLayout(d)) return 0x7FFFFFFEll - recNo;
  return 0x40000000ll + d->headerLen + static_cast<FILE4LONG>(recNo - 1) * d->recordLen;
}

FILE4LONG appendLockPos(const TABLE4FILE* d) { return FoxLayout(d) ? 0x7FFFFFFEll : 0x40000000ll; }

bool holdsRecordLock(const TABLE4* t, long recNo) {
  for (int i = 0; i < t->nLocks; ++i)
    if (t->locks[i] == recNo) return true;
  return false;
}

bool holdsAnyLock(const TABLE4* t) {
  const TABLE4FILE* d = t->dataFile;
  return t->nLocks > 0 || d->fileLockHolder == t || d->appendLockHolder == t ||
         (d->hasMemo && d->memoFile.fileLock);
}

int addLockEntry(TABLE4* t, long recNo) {
  if (t->nLocks == t->locksMax) {
    int more = t->locksMax == 0 ? 8 : t->locksMax * 2;
    void* p = std::realloc(t->locks, sizeof(long) * more);
    if (p == nullptr) return error4report(t->c4, e4memory, LOC4d4lock);
    t->locks = static_cast<long*>(p);
    t->locksMax = more;
  }
  t->locks[t->nLocks++] = recNo;
  return 0;
}

int releaseFileLock(TABLE4* t) {
  TABLE4FILE* d = t->dataFile;
  if (d->fileLockHolder != t) return 0;
  if (exclusive(t) && d->hdrChanged) {
    int rc = writeHeader(d, true, true);
    if (rc < 0) return rc;
  }
  int rc = file4unlock(&d->file, kFileLockPos, kFileLockLen);
  d->fileLockHolder = nullptr;
  AfterHeaderLockRelease(d);
  return rc;
}

int releaseAppendLock(TABLE4* t) {
  TABLE4FILE* d = t->dataFile;
  if (d->appendLockHolder != t) return 0;
  if (exclusive(t) && d->hdrChanged) {
    int rc = writeHeader(d, true, true);
    if (rc < 0) return rc;
  }
  int rc = file4unlock(&d->file, appendLockPos(d), 1);
  d->appendLockHolder = nullptr;
  AfterHeaderLockRelease(d);
  return rc;
}

int releaseRecordLock(TABLE4* t, long recNo) {
  for (int i = 0; i < t->nLocks; ++i) {
    if (t->locks[i] != recNo) continue;
    t->locks[i] = t->locks[--t->nLocks];
    if (t->recNum == recNo) t->memoValidated = false;
    return file4unlock(&t->dataFile->file, recordLockPos(t->dataFile, recNo), 1);
  }
  return 0;
}

int releaseRecordLocks(TABLE4* t) {
  int first = 0;
  while (t->nLocks > 0) {
    long n = t->locks[t->nLocks - 1];
    int rc = releaseRecordLock(t, n);
    if (first == 0 && rc < 0) first = rc;
  }
  t->memoValidated = false;
  return first;
}

int autoRelease(TABLE4* t, bool keepFileLock) {
  CODE4* c4 = t->c4;
  if (c4->autoUnlock == 1) return code4unlock(c4);
  if (c4->autoUnlock == 2) {
    int rc = ReleaseIndexLocks(t);
    if (rc >= 0) rc = releaseRecordLocks(t);
    if (rc >= 0) rc = releaseAppendLock(t);
    if (rc >= 0 && !keepFileLock) rc = releaseFileLock(t);
    return rc < 0 ? rc : 0;
  }
  return 0;
}

}  // namespace engine4

int d4lockTest(TABLE4* t, long recNo) {
  if (t == nullptr) return error4report(nullptr, e4parmNull, LOC4d4lock);
  if (engine4::exclusive(t) || engine4::holdsFileLock(t) || engine4::holdsRecordLock(t, recNo))
    return 1;
  if (OtherHolds(t, recNo)) return STAT4LOCKED;
  return 0;
}

int d4lockTestAppend(TABLE4* t) {
  if (t == nullptr) return error4report(nullptr, e4parmNull, LOC4d4lockAppend);
  return engine4::exclusive(t) || engine4::holdsAppendLock(t) || engine4::holdsFileLock(t) ? 1 : 0;
}

int d4lockTestFile(TABLE4* t) {
  if (t == nullptr) return error4report(nullptr, e4parmNull, LOC4d4lockFile);
  return engine4::exclusive(t) || engine4::holdsFileLock(t) ? 1 : 0;
}

int d4lock(TABLE4* t, long recNo) {
  if (t == nullptr) return error4report(nullptr, e4parmNull, LOC4d4lock);
  CODE4* c4 = t->c4;
  if (refused(c4)) return -1;
  if (recNo <= 0) return error4report(c4, e4parm, LOC4d4lock, t->alias);
  if (engine4::holdsRecordLock(t, recNo) || engine4::holdsFileLock(t)) return 0;
  if (OtherHolds(t, recNo) && c4->autoUnlock != 1) return OwnConflict(t, LOC4d4lock);
  int rc = engine4::autoRelease(t, false);
  if (rc < 0) return rc;
  TABLE4FILE* d = t->dataFile;
  rc = file4lock(&d->file, engine4::recordLockPos(d, recNo), 1);
  if (rc != 0) return rc;
  rc = engine4::addLockEntry(t, recNo);
  if (rc < 0) {
    file4unlock(&d->file, engine4::recordLockPos(d, recNo), 1);
    return rc;
  }
  return 0;
}

int d4lockAppend(TABLE4* t) {
  if (t == nullptr) return error4report(nullptr, e4parmNull, LOC4d4lockAppend);
  CODE4* c4 = t->c4;
  if (refused(c4)) return -1;
  TABLE4FILE* d = t->dataFile;
  if (engine4::holdsAppendLock(t) || engine4::holdsFileLock(t)) return 0;
  bool other = (d->appendLockHolder != nullptr && d->appendLockHolder != t) || OtherHolds(t, 0);
  if (other && c4->autoUnlock != 1) return OwnConflict(t, LOC4d4lockAppend);
  int rc = 0;
  if (c4->autoUnlock == 1) {
    rc = code4unlock(c4);
  } else if (c4->autoUnlock == 2) {
    rc = ReleaseIndexLocks(t);
    if (rc >= 0) rc = engine4::releaseRecordLocks(t);
    if (rc < 0) rc = error4report(c4, e4unlock, LOC4d4lockAppend, t->alias);
  }
  if (rc < 0) return rc;
  rc = file4lock(&d->file, engine4::appendLockPos(d), 1);
  if (rc != 0) return rc;
  d->appendLockHolder = t;
  return 0;
}

int d4lockFile(TABLE4* t) {
  if (t == nullptr) return error4report(nullptr, e4parmNull, LOC4d4lockFile);
  CODE4* c4 = t->c4;
  if (refused(c4)) return -1;
  TABLE4FILE* d = t->dataFile;
  if (engine4::holdsFileLock(t)) return 0;
  if (OtherHolds(t, 0) && c4->autoUnlock != 1) return OwnConflict(t, LOC4d4lockFile);
  int rc = 0;
  if (c4->autoUnlock == 1) rc = code4unlock(c4);
  else if (c4->autoUnlock == 2) rc = d4unlock(t);
  if (rc < 0) return rc;
  rc = file4lock(&d->file, engine4::kFileLockPos, engine4::kFileLockLen);
  if (rc != 0) return rc;
  d->fileLockHolder = t;
  file4refresh(&d->file);
  return 0;
}

int d4lockAll(TABLE4* t) {
  if (t == nullptr) return error4report(nullptr, e4parmNull, LOC4d4lockAll);
  CODE4* c4 = t->c4;
  if (refused(c4)) return -1;
  int rc = d4lockFile(t);
  if (rc == 0 && t->dataFile->hasMemo && t->nMemoFields > 0)
    rc = memo4fileLock(&t->dataFile->memoFile);
  if (rc != 0) {
    int saved = c4->lastError;
    if (saved < 0) c4->lastError = 0;
    if (c4->autoUnlock == 1) code4unlock(c4);
    else if (c4->autoUnlock == 2) d4unlock(t);
    if (saved < 0) c4->lastError = saved;
  }
  return rc;
}

int d4unlock(TABLE4* t) {
  if (t == nullptr) return error4report(nullptr, e4parmNull, LOC4d4unlock);
  CODE4* c4 = t->c4;
  int first = d4update(t);
  if (!engine4::holdsAnyLock(t)) return first < 0 ? first : 0;
  int16_t savedAuto = c4->autoUnlock;
  c4->autoUnlock = 1;
  int rcs[5] = {engine4::releaseFileLock(t), engine4::releaseAppendLock(t),
                engine4::releaseRecordLocks(t), ReleaseMemoLock(t), ReleaseIndexLocks(t)};
  c4->autoUnlock = savedAuto;
  for (int rc : rcs)
    if (first >= 0 && rc < 0) first = rc;
  return first < 0 ? first : 0;
}

int d4unlockData(TABLE4* t) {
  if (t == nullptr) return error4report(nullptr, e4parmNull, LOC4d4unlock);
  if (t->c4->autoUnlock == 0) return 0;
  int rc = d4update(t);
  if (rc < 0) return rc;
  int a = engine4::releaseFileLock(t);
  int b = engine4::releaseAppendLock(t);
  int c = engine4::releaseRecordLocks(t);
  return a < 0 ? a : b < 0 ? b : c < 0 ? c : 0;
}

int d4unlockFile(TABLE4* t) {
  if (t == nullptr) return error4report(nullptr, e4parmNull, LOC4d4unlock);
  if (t->c4->autoUnlock == 0) return 0;
  int rc = d4update(t);
  return rc < 0 ? rc : engine4::releaseFileLock(t);
}

int d4unlockAppend(TABLE4* t) {
  if (t == nullptr) return error4report(nullptr, e4parmNull, LOC4d4unlock);
  if (t->c4->autoUnlock == 0) return 0;
  int rc = d4update(t);
  return rc < 0 ? rc : engine4::releaseAppendLock(t);
}

int d4unlockRecords(TABLE4* t) {
  if (t == nullptr) return error4report(nullptr, e4parmNull, LOC4d4unlock);
  if (t->c4->autoUnlock == 0) return 0;
  int rc = d4update(t);
  return rc < 0 ? rc : engine4::releaseRecordLocks(t);
}

int d4unlockRecord(TABLE4* t, long recNo) {
  if (t == nullptr) return error4report(nullptr, e4parmNull, LOC4d4unlock);
  if (t->c4->autoUnlock == 0) return 0;
  if (t->recNum == recNo) {
    int rc = d4update(t);
    if (rc < 0) return rc;
  }
  return engine4::releaseRecordLock(t, recNo);
}

int code4unlock(CODE4* c4) {
  if (c4 == nullptr) return error4report(nullptr, e4parmNull, LOC4code4unlock);
  for (TABLE4* t = c4->tables; t != nullptr; t = t->next) {
    if (engine4::holdsAnyLock(t)) d4unlock(t);
    if (t->next == t) break;
  }
  return c4->lastError < 0 ? c4->lastError : 0;
}
