// File layer: DISK4 over the platform's files and byte-range locks, and the
// sequential reader and writer. Reads and writes go straight to the system
// (the block cache and its worker threads are not part of this build), so
// every process sees the others' changes at once.
#include "engine/file4.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <string>

#include <unistd.h>

#include "engine/error4_internal.h"
#include "engine/name4_internal.h"
#include "platform/fileattr.h"
#include "platform/filelock.h"
#include "platform/sharelock.h"
#include "platform/sync.h"

namespace {

const char* NameOf(const DISK4* f) { return f->name != nullptr ? f->name : ""; }

void SetName(DISK4* f, const char* name, int copyName) {
  if (f->nameAllocated) std::free(f->name);
  f->name = nullptr;
  f->nameAllocated = false;
  if (name == nullptr) return;
  if (copyName) {
    f->name = strdup(name);
    f->nameAllocated = f->name != nullptr;
  } else {
    f->name = const_cast<char*>(name);
  }
}

void ResetDisk(DISK4* f) {
  f->file.Close();
  SetName(f, nullptr, 0);
  f->valid = false;
  f->readOnly = false;
  f->canLock = false;
  f->isTemp = false;
  f->shareMode = 0;
  f->writeThrough = false;
}

// System error of an open → the engine's error code.
int OpenErrorCode(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ENXIO:
    case ENODEV:
      return e4fileFind;
    case EMFILE:
    case ENFILE:
      return e4numFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
    case EBUSY:
      return e4permiss;
    case ENOSPC:
    case EDQUOT:
      return e4write;
    default:
      return e4open;
  }
}

// A failed open: the quiet 70 when failOpen is off, else a report.
int OpenFailed(CODE4* c4, int code, const char* name) {
  if (!c4->failOpen) {
    c4->lastError = STAT4NOOPEN;
    return STAT4NOOPEN;
  }
  return error4report(c4, code, LOC4file4open, name);
}

// A failed create: 60, reported as -20 when failCreate is on.
int CreateFailed(CODE4* c4, const char* name) {
  if (c4->failCreate) return error4report(c4, e4create, LOC4file4create, name);
  c4->lastError = STAT4NOCREATE;
  return STAT4NOCREATE;
}

// Takes and drops a lock over every byte: fails while any other open file
// holds a lock on the file, among them the mark every open of the engine
// holds (see MarkOpen), so nobody else is using it.
bool NobodyLocks(int fd) {
  int err = 0;
  if (plat::LockRange(fd, 0, UINT64_MAX, &err) != plat::LockResult::Locked) return false;
  plat::UnlockRange(fd, 0, UINT64_MAX);
  return true;
}

// Sharing of an open file, kept as locks on two bytes far beyond every lock
// position of the table layouts: every open holds a shared lock on the first,
// every open that may write one on the second. An exclusive open (shareMode
// 1) locks both bytes exclusively, "others may only read" (shareMode 2) the
// second; a conflict is the sharing violation of an open.
constexpr uint64_t kInUse = 1ull << 62;
constexpr uint64_t kInUseForWriting = kInUse + 1;

bool Refused(plat::LockResult r) { return r == plat::LockResult::Violation; }

bool MarkOpen(DISK4* f) {
  int fd = f->file.fd();
  switch (f->shareMode) {
    case 1:
      return !f->canLock || !Refused(plat::LockRange(fd, kInUse, 2));
    case 2:
      if (Refused(plat::LockRangeShared(fd, kInUse, 1))) return false;
      return !f->canLock || !Refused(plat::LockRange(fd, kInUseForWriting, 1));
    default:
      if (Refused(plat::LockRangeShared(fd, kInUse, 1))) return false;
      return f->readOnly || !Refused(plat::LockRangeShared(fd, kInUseForWriting, 1));
  }
}

}  // namespace

int file4open(DISK4* f, CODE4* c4, const char* name, int copyName) {
  if (f == nullptr || c4 == nullptr || name == nullptr)
    return error4report(nullptr, e4parmNull, LOC4file4open);
  if (engine4::refused(c4)) return -1;
  ResetDisk(f);
  if (c4->shareMode < 0 || c4->shareMode > 2) return OpenFailed(c4, e4open, name);
  uint32_t attrs = 0;
  int err = 0;
  if (!plat::GetFileAttributes(name, &attrs, &err)) return OpenFailed(c4, OpenErrorCode(err), name);
  // Pipes, sockets and devices could block an open or a read forever.
  if (attrs & (plat::kAttrDevice | plat::kAttrDirectory)) return OpenFailed(c4, e4open, name);
  bool attrReadOnly = (attrs & plat::kAttrReadOnly) != 0;
  bool opened = false;
  if (!attrReadOnly) {
    // Read-write also for openReadOnly: locks need a descriptor open for
    // writing; the engine refuses the writes itself.
    opened = f->file.Open(name, plat::OpenMode::ReadWrite, &err);
    f->canLock = opened;
  }
  if (!opened) {
    if (!attrReadOnly && !c4->openReadOnly) return OpenFailed(c4, OpenErrorCode(err), name);
    if (!f->file.Open(name, plat::OpenMode::Read, &err))
      return OpenFailed(c4, OpenErrorCode(err), name);
    attrReadOnly = true;
  }
  SetName(f, name, copyName);
  f->c4 = c4;
  f->readOnly = attrReadOnly || c4->openReadOnly != 0;
  f->shareMode = c4->shareMode;
  f->writeThrough = c4->writeThrough != 0;
  if (!MarkOpen(f)) {
    ResetDisk(f);
    return OpenFailed(c4, e4permiss, name);
  }
  f->valid = true;
  return 0;
}

int file4create(DISK4* f, CODE4* c4, const char* name, int copyName) {
  if (f == nullptr || c4 == nullptr) return error4report(nullptr, e4parmNull, LOC4file4create);
  if (engine4::refused(c4)) return -1;
  if (name == nullptr) return file4temp(f, c4, 1, 1, nullptr);
  ResetDisk(f);
  if (c4->shareMode < 0 || c4->shareMode > 2) return CreateFailed(c4, name);
  int err = 0;
  if (c4->keepExisting) {
    if (!f->file.Open(name, plat::OpenMode::CreateNew, &err)) return CreateFailed(c4, name);
  } else {
    uint32_t attrs = 0;
    if (plat::GetFileAttributes(name, &attrs)) {
      if (attrs & (plat::kAttrDevice | plat::kAttrDirectory)) return CreateFailed(c4, name);
      plat::File probe;
      if (!probe.Open(name, plat::OpenMode::ReadWrite, &err) || !NobodyLocks(probe.fd()))
        return CreateFailed(c4, name);
    }
    if (!f->file.Open(name, plat::OpenMode::CreateAlways, &err)) return CreateFailed(c4, name);
  }
  SetName(f, name, copyName);
  f->c4 = c4;
  f->canLock = true;
  f->shareMode = c4->shareMode;
  f->writeThrough = c4->writeThrough != 0;
  if (!MarkOpen(f)) {
    ResetDisk(f);
    return CreateFailed(c4, name);
  }
  f->valid = true;
  return 0;
}

namespace {

int TempFile(DISK4* f, CODE4* c4, int removeOnClose, int useTempDir, const char* ext) {
  if (f == nullptr || c4 == nullptr) return error4report(nullptr, e4parmNull, LOC4file4temp);
  if (engine4::refused(c4)) return -1;
  std::string dir;
  if (useTempDir) {
    const char* env = std::getenv("TEMP");
    if (env == nullptr || env[0] == '\0') env = std::getenv("TMP");
    if (env != nullptr && env[0] != '\0') dir = engine4::toSlashes(env);
  }
  if (dir.empty()) dir.assign(1, '.');
  if (dir.back() != '/') dir += '/';
  std::string extension = ext != nullptr && ext[0] != '\0' ? ext : "TMP";
  if (extension[0] == '.') extension.erase(0, 1);

  char savedShare = c4->shareMode;
  int savedFailCreate = c4->failCreate;
  c4->shareMode = 1;
  c4->failCreate = 0;
  int rc = STAT4NOCREATE;
  for (int attempt = 1; attempt <= 100; ++attempt) {
    auto now = std::chrono::system_clock::now().time_since_epoch();
    long ms = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count() % 10000);
    char base[16];
    std::snprintf(base, sizeof base, "TEMP%04ld", ms);
    std::string path = dir + base + "." + extension;
    bool companion = false;
    if (extension == "dbf" || extension == "DBF") {
      std::string stem = dir + base;
      uint32_t a;
      companion = plat::GetFileAttributes(stem + ".cdx", &a) || plat::GetFileAttributes(stem + ".fpt", &a);
    }
    if (!companion) {
      std::string full;
      if (!engine4::fullName(path.c_str(), nullptr, &full)) full = path;
      rc = file4create(f, c4, full.c_str(), 1);
      if (rc == 0) break;
      if (rc != STAT4NOCREATE) break;
      c4->lastError = 0;
    }
    if (attempt >= 10) plat::SleepMs(attempt * 10);
    else plat::SleepMs(1);  // the next name needs the clock to move
  }
  c4->shareMode = savedShare;
  c4->failCreate = savedFailCreate;
  if (rc == STAT4NOCREATE) {
    c4->lastError = 0;
    return error4reportAt(c4, e4create, LOC4file4temp, "error creating temporary working file");
  }
  if (rc != 0) return rc;
  f->shareMode = 1;
  if (removeOnClose) f->isTemp = true;
  return 0;
}

}  // namespace

int file4temp(DISK4* f, CODE4* c4, int removeOnClose, int useTempDir, const char* ext) {
  try {
    return TempFile(f, c4, removeOnClose, useTempDir, ext);
  } catch (const std::exception&) {
    return error4report(c4, e4memory, LOC4file4temp);
  }
}

int file4close(DISK4* f) {
  if (f == nullptr) return error4report(nullptr, e4parmNull, LOC4file4close);
  if (!f->valid && !f->file.IsOpen()) {
    ResetDisk(f);
    return 0;
  }
  int rc = 0;
  int fd = f->file.Release();
  if (fd >= 0 && ::close(fd) != 0 && errno != EINTR)
    rc = error4report(f->c4, e4close, LOC4file4close, NameOf(f));
  if (f->isTemp && f->name != nullptr && std::remove(f->name) != 0 && rc == 0)
    rc = error4report(f->c4, e4remove, LOC4file4close, NameOf(f));
  ResetDisk(f);
  return rc;
}

unsigned file4read(DISK4* f, FILE4LONG pos, void* buf, unsigned len) {
  if (f == nullptr || buf == nullptr) {
    error4report(nullptr, e4parmNull, LOC4file4read);
    return 0;
  }
  if (engine4::refused(f->c4) || !f->valid || pos < 0) return 0;
  size_t got = 0;
  if (!f->file.ReadAt(static_cast<uint64_t>(pos), buf, len, &got)) {
    char where[48];
    std::snprintf(where, sizeof where, "%19lld %19u", static_cast<long long>(pos), len);
    error4report(f->c4, e4read, LOC4file4read, NameOf(f), where, "file4read");
    return 0;
  }
  return static_cast<unsigned>(got);
}

int file4readAll(DISK4* f, FILE4LONG pos, void* buf, unsigned len) {
  if (f == nullptr || buf == nullptr) return error4report(nullptr, e4parmNull, LOC4file4read);
  if (engine4::refused(f->c4)) return -1;
  unsigned got = file4read(f, pos, buf, len);
  if (f->c4->lastError < 0) return f->c4->lastError;
  if (got != len) {
    char where[48];
    std::snprintf(where, sizeof where, "%19lld %19u", static_cast<long long>(pos), len);
    return error4report(f->c4, e4read, LOC4file4read, NameOf(f), where, "file4readAll");
  }
  return 0;
}

int file4write(DISK4* f, FILE4LONG pos, const void* buf, unsigned len) {
  if (f == nullptr) return error4report(nullptr, e4parmNull, LOC4file4write);
  if (engine4::refused(f->c4)) return -1;
  if ((buf == nullptr && len > 0) || !f->valid || pos < 0)
    return error4report(f->c4, e4parm, LOC4file4write, NameOf(f));
  if (f->readOnly)
    return error4reportAt(f->c4, e4write, LOC4file4write,
                          "attempt to write to a read-only file", NameOf(f));
  if (len == 0) return 0;
  if (!f->file.WriteAt(static_cast<uint64_t>(pos), buf, len))
    return error4report(f->c4, e4write, LOC4file4write, NameOf(f));
  if (f->writeThrough) return file4flush(f);
  return 0;
}

FILE4LONG file4len(DISK4* f) {
  if (f == nullptr) {
    error4report(nullptr, e4parmNull, LOC4file4len);
    return -1;
  }
  if (engine4::refused(f->c4)) return -1;
  uint64_t size = 0;
  if (!f->valid || !f->file.Size(&size)) {
    error4report(f->c4, e4len, LOC4file4len, NameOf(f));
    return -1;
  }
  if (size > 0x7FFFFFFFull && f->shareMode != 0) {
    error4report(f->c4, e4len, LOC4file4len, NameOf(f));
    return -1;
  }
  return static_cast<FILE4LONG>(size);
}

int file4lenSet(DISK4* f, FILE4LONG len) {
  if (f == nullptr) return error4report(nullptr, e4parmNull, LOC4file4lenSet);
  if (engine4::refused(f->c4)) return -1;
  if (f->readOnly)
    return error4reportAt(f->c4, e4parm, LOC4file4lenSet,
                          "attempt to change file length of a read-only file", NameOf(f));
  if (!f->valid || len < 0 || !f->file.Truncate(static_cast<uint64_t>(len)))
    return error4report(f->c4, e4lenSet, LOC4file4lenSet, NameOf(f));
  return 0;
}

int file4flush(DISK4* f) {
  if (f == nullptr) return error4report(nullptr, e4parmNull, LOC4file4flush);
  if (!f->valid || f->readOnly) return 0;
  if (!f->file.Sync()) return error4report(f->c4, e4optFlush, LOC4file4flush, NameOf(f));
  return 0;
}

int file4refresh(DISK4* f) {
  // Nothing is cached: every read goes to the system.
  (void)f;
  return 0;
}

int file4lock(DISK4* f, FILE4LONG pos, FILE4LONG len) {
  if (f == nullptr) return error4report(nullptr, e4parmNull, LOC4file4lock);
  CODE4* c4 = f->c4;
  if (engine4::refused(c4)) return -1;
  if (len == 0 || f->shareMode == 1) return 0;
  if (!f->valid || pos < 0 || len < 0)
    return error4reportAt(c4, e4parm, LOC4file4lock, "attempt to lock an unopened file", NameOf(f));
  if (!f->canLock)
    return error4reportAt(c4, e4lock, LOC4file4lock,
                          "attempt to lock a file opened without write access", NameOf(f));
  int tries = c4->lockTries == 0 ? 1 : c4->lockTries;
  for (;;) {
    int err = 0;
    plat::LockResult r = plat::LockRange(f->file.fd(), static_cast<uint64_t>(pos),
                                         static_cast<uint64_t>(len), &err);
    if (r == plat::LockResult::Locked) return 0;
    if (r == plat::LockResult::Error) {
      if (err == 0) return 0;
      return error4report(c4, e4lock, LOC4file4lock, NameOf(f));
    }
    if (tries == 1) return STAT4LOCKED;
    plat::SleepMs(c4->lockRetryDelay * 10);
    if (tries > 1) --tries;
  }
}

int file4unlock(DISK4* f, FILE4LONG pos, FILE4LONG len) {
  if (f == nullptr) return error4report(nullptr, e4parmNull, LOC4file4unlock);
  if (len == 0 || f->shareMode == 1 || !f->valid || !f->canLock) return 0;
  if (!plat::UnlockRange(f->file.fd(), static_cast<uint64_t>(pos), static_cast<uint64_t>(len)))
    return error4report(f->c4, e4unlock, LOC4file4unlock, NameOf(f));
  return 0;
}

// ---------------------------------------------------------------------------
// Sequential writer. Without the delayed-write thread only one half of the
// buffer is used: when it is full it is written at once.

int file4seqWriteInit(FILE4SEQ_WRITE* s, DISK4* f, FILE4LONG startPos, void* buffer,
                      unsigned bufferLen) {
  if (s == nullptr || f == nullptr) return error4report(nullptr, e4parmNull, LOC4file4seqWrite);
  *s = FILE4SEQ_WRITE{};
  s->file = f;
  s->pos = startPos;
  unsigned half = (bufferLen / 2) / 512 * 512;
  if (half > 32256) half = 32256;
  if (buffer == nullptr || bufferLen < 1024 || half == 0) return 0;  // unbuffered
  s->buffer = static_cast<char*>(buffer);
  s->total = half;
  unsigned offset = static_cast<unsigned>(startPos % 1024);
  s->working = offset < half ? half - offset : half;
  return 0;
}

int file4seqWriteFlush(FILE4SEQ_WRITE* s) {
  if (s == nullptr || s->file == nullptr) return error4report(nullptr, e4parmNull, LOC4file4seqWrite);
  if (s->avail == 0) return 0;
  int rc = file4write(s->file, s->pos, s->buffer, s->avail);
  if (rc < 0) return rc;
  s->pos += s->avail;
  s->avail = 0;
  s->working = s->total;
  return 0;
}

int file4seqWrite(FILE4SEQ_WRITE* s, const void* bytes, unsigned len) {
  if (s == nullptr || s->file == nullptr || (bytes == nullptr && len > 0))
    return error4report(nullptr, e4parmNull, LOC4file4seqWrite);
  if (engine4::refused(s->file->c4)) return -1;
  const char* p = static_cast<const char*>(bytes);
  if (s->buffer == nullptr) {
    int rc = file4write(s->file, s->pos, p, len);
    if (rc < 0) return rc;
    s->pos += len;
    return 0;
  }
  while (len > 0) {
    unsigned room = s->working - s->avail;
    unsigned take = len < room ? len : room;
    std::memcpy(s->buffer + s->avail, p, take);
    s->avail += take;
    p += take;
    len -= take;
    if (s->avail == s->working) {
      int rc = file4seqWriteFlush(s);
      if (rc < 0) return rc;
    }
  }
  return 0;
}

int file4seqWriteRepeat(FILE4SEQ_WRITE* s, long count, char ch) {
  char piece[512];
  std::memset(piece, ch, sizeof piece);
  while (count > 0) {
    unsigned n = count > 512 ? 512 : static_cast<unsigned>(count);
    int rc = file4seqWrite(s, piece, n);
    if (rc < 0) return rc;
    count -= n;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Sequential reader.

int file4seqReadInit(FILE4SEQ_READ* s, DISK4* f, FILE4LONG startPos, void* buffer,
                     unsigned bufferLen) {
  if (s == nullptr || f == nullptr) return error4report(nullptr, e4parmNull, LOC4file4seqRead);
  *s = FILE4SEQ_READ{};
  s->file = f;
  s->pos = startPos;
  if (buffer != nullptr && bufferLen >= 512) {
    s->buffer = static_cast<char*>(buffer);
    s->total = bufferLen;
  }
  return 0;
}

unsigned file4seqRead(FILE4SEQ_READ* s, void* buf, unsigned len) {
  if (s == nullptr || s->file == nullptr || buf == nullptr) {
    error4report(nullptr, e4parmNull, LOC4file4seqRead);
    return 0;
  }
  char* out = static_cast<char*>(buf);
  unsigned done = 0;
  while (done < len) {
    if (s->at < s->len) {
      unsigned take = s->len - s->at;
      if (take > len - done) take = len - done;
      std::memcpy(out + done, s->buffer + s->at, take);
      s->at += take;
      done += take;
      continue;
    }
    if (s->buffer == nullptr || len - done >= s->total) {
      unsigned got = file4read(s->file, s->pos, out + done, len - done);
      s->pos += got;
      done += got;
      break;
    }
    unsigned got = file4read(s->file, s->pos, s->buffer, s->total);
    s->pos += got;
    s->len = got;
    s->at = 0;
    if (got == 0) break;
  }
  return done;
}

int file4seqReadAll(FILE4SEQ_READ* s, void* buf, unsigned len) {
  unsigned got = file4seqRead(s, buf, len);
  if (s == nullptr || s->file == nullptr) return e4parmNull;
  CODE4* c4 = s->file->c4;
  if (c4 != nullptr && c4->lastError < 0) return c4->lastError;
  if (got != len)
    return error4reportAt(c4, e4read, LOC4file4seqRead, "file4seqReadAll",
                          s->file->name != nullptr ? s->file->name : "");
  return 0;
}
