// Memo file and memo fields. The record keeps a block number; the text lives
// in the table's memo file. Texts are read lazily, once per record visit,
// and written when the record is written or appended.
//
// Memo file layout (numbers big-endian):
//
//   OFFSET    SIZE  MEANING
//   0         4     next free block number
//   4         2     zero
//   6         2     block size in bytes
//   8         504   zero
//   n × size        block n: a memo starts at a block:
//     +0      4       type (1 = text)
//     +4      4       length of the text in bytes
//     +8      len     the text; the memo fills ceil((len + 8) / size) blocks
//
// Block numbers in the record: 4-byte little-endian integer (version 0x30),
// else 10 characters of right-aligned decimal text; 0 or blanks = no memo.
//
// Invariants:
//  1. Blocks are allocated only at the next free block, under the memo file
//     lock, and never reused: a block number read from a record never leads
//     to another record's text.
//  2. A text is rewritten in place only when it fits the blocks its own
//     record already owns.
//  3. Every write covers whole blocks (the text is padded with zero bytes to
//     the block end), so the file length stays a multiple of the block size.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/data4.h"
#include "engine/error4_internal.h"
#include "engine/field4.h"
#include "engine/file4.h"
#include "engine/memo4.h"
#include "engine/table4_internal.h"

namespace {

using engine4::refused;

// Shared empty text of cells without a buffer.
char kEmpty[2] = {0, 0};

constexpr unsigned kMaxMemo = 0xFFFFFF80u;

uint32_t GetBe32(const unsigned char* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}
void PutBe32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

int Corrupt(MEMOFILE4* m, const char* where) {
  return error4reportAt(m->file.c4, e4memoCorrupt, LOC4memo4fileRead, where,
                        m->file.name != nullptr ? m->file.name : "");
}

void CellEmpty(MEMOCELL4* cell) {
  if (cell->lenMax > 0) std::free(cell->contents);
  cell->contents = kEmpty;
  cell->len = 0;
  cell->lenMax = 0;
}

CODE4* CodeOf(COLUMN4* f) { return f->data->c4; }

}  // namespace

// ---------------------------------------------------------------------------
// Memo file.

int memo4fileCreate(MEMOFILE4* m, CODE4* c4, TABLE4FILE* data, const char* name) {
  if (m == nullptr || c4 == nullptr || name == nullptr)
    return error4report(nullptr, e4parmNull, LOC4memo4fileCreate);
  if (refused(c4)) return -1;
  unsigned bs = c4->memSizeBlock;
  if (bs == 0) return error4reportAt(c4, e4memoCreate, LOC4memo4fileCreate, "memo block size 0", name);
  int rc = file4create(&m->file, c4, name, 1);
  if (rc != 0) return rc;
  unsigned char h[512] = {};
  PutBe32(h, bs <= 512 ? 512 / bs : 1);
  h[6] = static_cast<unsigned char>(bs >> 8);
  h[7] = static_cast<unsigned char>(bs);
  rc = file4write(&m->file, 0, h, sizeof h);
  if (rc < 0) {
    m->file.isTemp = true;
    int saved = c4->lastError;
    c4->lastError = 0;
    file4close(&m->file);
    c4->lastError = saved;
    return rc;
  }
  m->blockSize = static_cast<int>(bs);
  m->data = data;
  m->fileLock = false;
  return 0;
}

int memo4fileOpen(MEMOFILE4* m, TABLE4FILE* data, const char* name) {
  CODE4* c4 = data->c4;
  int rc = file4open(&m->file, c4, name, 1);
  if (rc != 0) return rc;
  unsigned char h[8];
  unsigned got = file4read(&m->file, 0, h, sizeof h);
  int bs = (h[6] << 8) | h[7];
  if (c4->lastError < 0 || got < sizeof h || bs == 0) {
    rc = c4->lastError < 0 ? c4->lastError : Corrupt(m, "memo file header invalid");
    int saved = c4->lastError;
    c4->lastError = 0;
    file4close(&m->file);
    c4->lastError = saved;
    return rc;
  }
  m->blockSize = bs;
  m->data = data;
  m->fileLock = false;
  return 0;
}

int memo4fileClose(MEMOFILE4* m) {
  if (m == nullptr) return 0;
  if (m->fileLock) memo4fileUnlock(m);
  return file4close(&m->file);
}

int memo4fileLock(MEMOFILE4* m) {
  if (m->fileLock) return 0;
  CODE4* c4 = m->file.c4;
  int savedTries = c4->lockTries;
  c4->lockTries = WAIT4EVER;
  int rc = file4lock(&m->file, engine4::kMemoLockPos, 1);
  c4->lockTries = savedTries;
  if (rc != 0) return rc;
  m->fileLock = true;
  file4refresh(&m->file);
  return 0;
}

int memo4fileUnlock(MEMOFILE4* m) {
  if (!m->fileLock) return 0;
  m->fileLock = false;
  return file4unlock(&m->file, engine4::kMemoLockPos, 1);
}

int memo4fileRead(MEMOFILE4* m, long blockNo, char** buf, unsigned* bufLen, unsigned* len) {
  *len = 0;
  if (blockNo <= 0) return 0;
  CODE4* c4 = m->file.c4;
  if (refused(c4)) return -1;
  FILE4LONG pos = static_cast<FILE4LONG>(blockNo) * m->blockSize;
  // The block header and the start of the text in one read: a memo that
  // fits its first 512 bytes needs no second read.
  unsigned char first[512];
  unsigned got = file4read(&m->file, pos, first, sizeof first);
  if (c4->lastError < 0) return c4->lastError;
  if (got < 8) return Corrupt(m, "memo block beyond the end of the memo file");
  const unsigned char* h = first;
  uint32_t length = GetBe32(h + 4);
  if (length >= kMaxMemo) return Corrupt(m, "memo length invalid");
  // A length beyond the file is corrupt; checked before allocating for it.
  if (length > 65536) {
    FILE4LONG fileLen = file4len(&m->file);
    if (fileLen < 0) return c4->lastError;
    if (pos + 8 + static_cast<FILE4LONG>(length) > fileLen)
      return Corrupt(m, "memo text runs past the end of the memo file");
  }
  if (*bufLen < length + 2) {
    char* p = static_cast<char*>(std::malloc(length + 2));
    if (p == nullptr) return error4report(c4, e4memory, LOC4memo4fileRead);
    if (*bufLen > 0) std::free(*buf);
    *buf = p;
    *bufLen = length + 2;
  }
  if (length <= got - 8) {
    std::memcpy(*buf, first + 8, length);
  } else {
    got = file4read(&m->file, pos + 8, *buf, length);
    if (c4->lastError < 0) return c4->lastError;
    if (got < length) return Corrupt(m, "memo text runs past the end of the memo file");
  }
  (*buf)[length] = 0;
  (*buf)[length + 1] = 0;
  *len = length;
  return 0;
}

int memo4fileWrite(MEMOFILE4* m, long* blockNo, const char* text, unsigned len) {
  CODE4* c4 = m->file.c4;
  if (refused(c4)) return -1;
  if (len == 0) {
    *blockNo = 0;
    return 0;
  }
  const uint64_t bs = static_cast<uint64_t>(m->blockSize);
  const uint64_t need = (bs + len + 7) / bs;
  long block = *blockNo;
  bool inPlace = false;
  if (block > 0) {
    unsigned char h[8];
    unsigned got = file4read(&m->file, static_cast<FILE4LONG>(block) * m->blockSize, h, sizeof h);
    if (c4->lastError < 0) return c4->lastError;
    if (got == sizeof h) {
      uint64_t have = (bs + GetBe32(h + 4) + 7) / bs;
      inPlace = have >= need;
    }
  }
  if (!inPlace) {
    bool lockedHere = !m->fileLock;
    int rc = memo4fileLock(m);
    if (rc != 0) return rc;
    unsigned char h[8];
    unsigned got = file4read(&m->file, 0, h, sizeof h);
    if (c4->lastError < 0 || got < sizeof h) {
      if (lockedHere) memo4fileUnlock(m);
      return c4->lastError < 0 ? c4->lastError : Corrupt(m, "memo file header invalid");
    }
    uint64_t next = GetBe32(h);
    if (next == 0 || next + need > 0xFFFFFFFFull) {
      if (lockedHere) memo4fileUnlock(m);
      return Corrupt(m, "memo file full or next free block invalid");
    }
    PutBe32(h, static_cast<uint32_t>(next + need));
    rc = file4write(&m->file, 0, h, 4);
    if (lockedHere) memo4fileUnlock(m);
    if (rc < 0) return rc;
    block = static_cast<long>(next);
  }
  // Block header, text and zero padding to the end of the last block: one write.
  size_t total = static_cast<size_t>(need * bs);
  char* out = static_cast<char*>(std::calloc(1, total));
  if (out == nullptr) return error4report(c4, e4memory, LOC4memo4fileWrite);
  unsigned char h[8];
  PutBe32(h, 1);
  PutBe32(h + 4, len);
  std::memcpy(out, h, 8);
  std::memcpy(out + 8, text, len);
  size_t writeLen = inPlace ? 8 + len : total;
  int rc = file4write(&m->file, static_cast<FILE4LONG>(block) * m->blockSize, out,
                      static_cast<unsigned>(writeLen));
  std::free(out);
  if (rc < 0) return rc;
  *blockNo = block;
  return 0;
}

// ---------------------------------------------------------------------------
// Memo cells of a table.

namespace engine4 {

long memoBlockNo(const COLUMN4* f, const char* record) {
  const char* p = record + f->offset;
  if (f->len == 4) {
    const unsigned char* u = reinterpret_cast<const unsigned char*>(p);
    return static_cast<long>(static_cast<int32_t>(u[0] | (u[1] << 8) | (u[2] << 16) |
                                                  (static_cast<uint32_t>(u[3]) << 24)));
  }
  char text[32];
  unsigned n = f->len < sizeof text - 1 ? f->len : sizeof text - 1;
  std::memcpy(text, p, n);
  text[n] = 0;
  return std::strtol(text, nullptr, 10);
}

void memoBlockNoSet(const COLUMN4* f, char* record, long blockNo) {
  char* p = record + f->offset;
  if (f->len == 4) {
    uint32_t v = static_cast<uint32_t>(blockNo);
    for (int i = 0; i < 4; ++i) p[i] = static_cast<char>(v >> (8 * i));
    return;
  }
  std::memset(p, ' ', f->len);
  if (blockNo <= 0) return;
  char text[32];
  int n = std::snprintf(text, sizeof text, "%ld", blockNo);
  if (n > f->len) n = f->len;
  std::memcpy(p + f->len - n, text, static_cast<size_t>(n));
}

void memoCellsReread(TABLE4* t) {
  for (int i = 0; i < t->nMemoFields; ++i) {
    t->memoFields[i].reread = true;
    t->memoFields[i].changed = false;
  }
}

void memoCellsReset(TABLE4* t) {
  for (int i = 0; i < t->nMemoFields; ++i) f4memoReset(t->memoFields[i].field);
}

void memoCellsFree(TABLE4* t) {
  for (int i = 0; i < t->nMemoFields; ++i) f4memoFree(t->memoFields[i].field);
}

int memoCellsFlush(TABLE4* t) {
  int result = 0;
  for (int i = 0; i < t->nMemoFields; ++i) {
    int rc = f4memoFlush(t->memoFields[i].field);
    if (rc < 0) return rc;
    if (rc > 0 && result == 0) result = rc;
  }
  return result;
}

void blankField(const COLUMN4* f, char* record) {
  std::memset(record + f->offset, f->binary != 0 ? 0 : ' ', f->len);
}

}  // namespace engine4

int d4validateMemoIds(TABLE4* t) {
  if (t == nullptr) return error4report(nullptr, e4parmNull, LOC4d4write);
  if (refused(t->c4)) return -1;
  if (t->memoValidated && t->recNumOld == t->recNum) return 0;
  if (t->recNum > 0) {
    int rc = d4lock(t, t->recNum);
    if (rc != 0) return rc;
  }
  t->recNumOld = -1;
  if (d4readOld(t, t->recNum) < 0) return -1;
  if (!t->recordChanged) {
    for (int i = 0; i < t->nMemoFields; ++i) {
      MEMOCELL4* cell = &t->memoFields[i];
      if (cell->changed) continue;
      COLUMN4* f = cell->field;
      std::memcpy(t->record + f->offset, t->recordOld + f->offset, f->len);
    }
  }
  t->memoValidated = true;
  return 0;
}

int f4memoReadLow(COLUMN4* f) {
  MEMOCELL4* cell = f->memo;
  TABLE4* t = f->data;
  TABLE4FILE* d = t->dataFile;
  if (cell->contents == nullptr) cell->contents = kEmpty;
  long block = engine4::memoBlockNo(f, t->record);
  if (block <= 0 || !d->hasMemo) {
    cell->len = 0;
    if (cell->lenMax > 0) cell->contents[0] = cell->contents[1] = 0;
    return 0;
  }
  if (cell->lenMax == 0) cell->contents = nullptr;
  unsigned cap = cell->lenMax > 0 ? cell->lenMax + 2 : 0;
  unsigned len = 0;
  int rc = memo4fileRead(&d->memoFile, block, &cell->contents, &cap, &len);
  if (rc < 0) {
    if (cap == 0) cell->contents = kEmpty;
    cell->len = 0;
    if (cap > 0) cell->lenMax = cap - 2;
    return rc;
  }
  if (cap == 0) {
    cell->contents = kEmpty;
    cell->lenMax = 0;
  } else {
    cell->lenMax = cap - 2;
  }
  cell->len = len;
  return 0;
}

int f4memoRead(COLUMN4* f) {
  if (f == nullptr) return error4report(nullptr, e4parmNull, LOC4f4memoLen);
  if (f->memo == nullptr) return 0;
  CODE4* c4 = CodeOf(f);
  if (refused(c4)) return -1;
  MEMOCELL4* cell = f->memo;
  cell->changed = false;
  TABLE4* t = f->data;
  if (t->recNum < 0) {
    cell->len = 0;
    return 0;
  }
  if (c4->lockOnRead) {
    int rc = d4validateMemoIds(t);
    if (rc != 0) return rc;
  }
  return f4memoReadLow(f);
}

namespace {

// Makes sure the cell holds the current record's text.
bool Loaded(COLUMN4* f) {
  MEMOCELL4* cell = f->memo;
  if (!cell->reread) return true;
  if (f4memoRead(f) != 0) return false;
  cell->reread = false;
  return true;
}

}  // namespace

unsigned f4memoLen(COLUMN4* f) {
  if (f == nullptr) {
    error4report(nullptr, e4parmNull, LOC4f4memoLen);
    return 0;
  }
  if (f->memo == nullptr) return f->len;
  return Loaded(f) ? f->memo->len : 0;
}

char* f4memoPtr(COLUMN4* f) {
  if (f == nullptr) {
    error4report(nullptr, e4parmNull, LOC4f4memoStr);
    return nullptr;
  }
  if (f->memo == nullptr) return f4ptr(f);
  return Loaded(f) ? f->memo->contents : nullptr;
}

const char* f4memoStr(COLUMN4* f) {
  if (f == nullptr) {
    error4report(nullptr, e4parmNull, LOC4f4memoStr);
    return nullptr;
  }
  if (f->memo == nullptr) return f4str(f);
  return f4memoPtr(f);
}

int f4memoSetLen(COLUMN4* f, unsigned len) {
  if (f == nullptr || f->memo == nullptr) return error4report(nullptr, e4parmNull, LOC4f4memoAssign);
  MEMOCELL4* cell = f->memo;
  if (cell->lenMax < len) {
    CellEmpty(cell);
    char* p = static_cast<char*>(std::malloc(static_cast<size_t>(len) + 2));
    if (p == nullptr) {
      cell->reread = true;
      return error4report(CodeOf(f), e4memory, LOC4f4memoAssign);
    }
    cell->contents = p;
    cell->lenMax = len;
  }
  cell->len = len;
  cell->contents[len] = 0;
  cell->contents[len + 1] = 0;
  cell->reread = false;
  cell->changed = true;
  f->data->recordChanged = true;
  return 0;
}

int f4memoAssignN(COLUMN4* f, const char* bytes, unsigned len) {
  if (f == nullptr) return error4report(nullptr, e4parmNull, LOC4f4memoAssign);
  if (f->memo == nullptr) return f4assignN(f, bytes, len);
  CODE4* c4 = CodeOf(f);
  if (refused(c4)) return -1;
  TABLE4* t = f->data;
  if (c4->requireRecordLock && t->recNum > 0 && d4lockTest(t, t->recNum) != 1)
    return error4report(c4, e4lock, LOC4f4memoAssign, t->alias);
  if (len >= kMaxMemo)
    return error4reportAt(c4, e4memory, LOC4f4memoAssign,
                          "invalid memo size (too small or too large for operating system)");
  if (bytes == nullptr && len > 0) return error4report(nullptr, e4parmNull, LOC4f4memoAssign);
  if (f->null && t->nullFlags != nullptr) {
    char* flags = t->record + t->nullFlags->offset;
    flags[f->nullBit / 8] = static_cast<char>(flags[f->nullBit / 8] & ~(1 << (f->nullBit % 8)));
  }
  int rc = f4memoSetLen(f, len);
  if (rc < 0) return rc;
  if (len > 0) std::memcpy(f->memo->contents, bytes, len);
  return 0;
}

int f4memoAssign(COLUMN4* f, const char* text) {
  return f4memoAssignN(f, text, text != nullptr ? static_cast<unsigned>(std::strlen(text)) : 0);
}

void f4memoFree(COLUMN4* f) {
  if (f == nullptr || f->memo == nullptr) return;
  CellEmpty(f->memo);
  f->memo->reread = true;
  f->memo->changed = false;
}

void f4memoReset(COLUMN4* f) {
  if (f == nullptr || f->memo == nullptr) return;
  MEMOCELL4* cell = f->memo;
  if (cell->contents == nullptr) cell->contents = kEmpty;
  cell->len = 0;
  cell->reread = true;
  cell->changed = false;
}

int f4memoWrite(COLUMN4* f) {
  if (f == nullptr || f->memo == nullptr) return error4report(nullptr, e4parmNull, LOC4f4memoAssign);
  TABLE4* t = f->data;
  int rc = d4validateMemoIds(t);
  if (rc != 0) return rc;
  TABLE4FILE* d = t->dataFile;
  if (!d->hasMemo) return error4reportAt(t->c4, e4memoCorrupt, LOC4memo4fileWrite,
                                         "table has memo fields but no memo file", t->alias);
  MEMOCELL4* cell = f->memo;
  long block = engine4::memoBlockNo(f, t->record);
  long before = block;
  rc = memo4fileWrite(&d->memoFile, &block, cell->contents, cell->len);
  if (rc < 0) return rc;
  if (block != before) engine4::memoBlockNoSet(f, t->record, block);
  cell->changed = false;
  return 0;
}

int f4memoFlush(COLUMN4* f) {
  if (f == nullptr || f->memo == nullptr) return 0;
  return f->memo->changed ? f4memoWrite(f) : 0;
}
