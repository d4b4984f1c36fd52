// Data files: d4create, d4open, d4close and the field lookups.
//
// Data file layout (little-endian):
//
//   OFFSET  SIZE  MEANING
//   0       1     version: 0x30 (format level 30, null flags possible),
//                 0xF5 (classic with memo), 0x03 (classic)
//   1       3     date of last update: year % 100, month, day
//   4       4     record count
//   8       2     header length (offset of record 1)
//   10      2     record length, deletion flag included
//   12      16    zero
//   28      1     table flags: 0x01 production index, 0x02 memo file (0x30)
//   29      1     code page mark
//   30      2     zero
//   32      32×n  field descriptors:
//                   +0  11  name, upper case, NUL padded
//                   +11 1   type letter
//                   +12 4   offset of the field in the record
//                   +16 1   length (type C: low byte)
//                   +17 1   decimals (type C: high byte of the length)
//                   +18 1   flags: 0x01 system, 0x02 nullable, 0x04 binary
//                   +19 13  zero
//   ...     1     0x0D ends the descriptors; then 263 zero bytes (0x30) or
//                 the end-of-file mark 0x1A (classic)
//   hdrLen  recLen × count  records: deletion flag (" " or "*"), then fields
//   end     1     classic tables: 0x1A after the last record
//
// Version-0x30 tables with nullable fields carry a last descriptor
// "_NullFlags" (type "0", flags 0x05) with one bit per nullable field.
#include "engine/data4.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "engine/error4_internal.h"
#include "engine/file4.h"
#include "engine/memo4.h"
#include "engine/name4_internal.h"
#include "engine/table4_internal.h"

namespace {

using engine4::refused;

constexpr char kCorrupt[] = "database corruption detected";

// One descriptor as d4create writes it.
struct FieldOut {
  char name[11];
  char type;
  uint32_t offset;
  uint16_t len;
  unsigned char dec;
  unsigned char flags;
};

struct Layout {
  std::vector<FieldOut> fields;  // null-flags field included
  uint32_t recordLen = 1;
  uint32_t headerLen = 0;
  bool hasMemo = false;
  bool level30 = false;
};

void PutLe16(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
void PutLe32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
uint32_t GetLe16(const unsigned char* p) { return p[0] | (p[1] << 8); }
uint32_t GetLe32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Field name for a descriptor: trailing blanks removed, upper case, 1 to 10
// characters (a longer name is refused rather than cut, so that two names
// never collapse into one).
bool FieldName(const char* in, char out[11]) {
  std::string s = in;
  while (!s.empty() && s.back() == ' ') s.pop_back();
  if (s.empty() || s.size() > 10) return false;
  std::memset(out, 0, 11);
  for (size_t i = 0; i < s.size(); ++i)
    out[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(s[i])));
  return true;
}

int Illegal(CODE4* c4, const char* what) {
  return error4reportAt(c4, e4data, LOC4d4create, "illegal field data", what);
}

// Descriptor of one field description; 0 or an error code.
int DescribeField(CODE4* c4, const FIELDSPEC4& desc, bool level30, FieldOut* out) {
  if (!FieldName(desc.name, out->name))
    return error4reportAt(c4, e4fieldName, LOC4d4create,
                          "field name empty or longer than 10 characters", desc.name);
  char type = static_cast<char>(std::toupper(static_cast<unsigned char>(desc.type)));
  out->dec = 0;
  out->flags = 0;
  switch (type) {
    case 'C':
    case 'Z':
      if (type == 'Z' && !level30) return Illegal(c4, desc.name);
      if (desc.len == 0) return Illegal(c4, desc.name);
      out->type = 'C';
      out->len = desc.len;
      out->dec = static_cast<unsigned char>(desc.len >> 8);
      if (type == 'Z') out->flags = 0x04;
      break;
    case 'N':
    case 'F':
      if (desc.len == 0 || desc.len > 255 || desc.dec > 255) return Illegal(c4, desc.name);
      out->type = type;
      out->len = desc.len;
      out->dec = static_cast<unsigned char>(desc.dec);
      break;
    case 'D':
      out->type = 'D';
      out->len = 8;
      break;
    case 'L':
      out->type = 'L';
      out->len = 1;
      break;
    case 'M':
    case 'G':
      out->type = type;
      out->len = level30 ? 4 : 10;
      break;
    case 'X':
      if (!level30) return Illegal(c4, desc.name);
      out->type = 'M';
      out->len = 4;
      out->flags = 0x04;
      break;
    case 'I':
    case 'B':
    case 'T':
    case 'Y':
      if (!level30) return Illegal(c4, desc.name);
      out->type = type;
      out->len = type == 'I' ? 4 : 8;
      out->dec = type == 'B' ? static_cast<unsigned char>(desc.dec) : type == 'Y' ? 4 : 0;
      out->flags = 0x04;
      break;
    default:
      return error4reportAt(c4, e4fieldType, LOC4d4create, "unknown field type", desc.name);
  }
  if (level30 && desc.nulls == STAT4NULLABLE) out->flags |= 0x02;
  return 0;
}

int BuildLayout(CODE4* c4, const FIELDSPEC4* specs, Layout* lay) {
  lay->level30 = c4->formatLevel == 30;
  int nullable = 0;
  for (const FIELDSPEC4* s = specs; s->name != nullptr; ++s) {
    FieldOut f{};
    int rc = DescribeField(c4, *s, lay->level30, &f);
    if (rc < 0) return rc;
    f.offset = lay->recordLen;
    lay->recordLen += f.len;
    if (lay->recordLen >= 65535)
      return error4report(c4, e4recordLen, LOC4d4create, s->name);
    if (f.flags & 0x02) ++nullable;
    if (f.type == 'M' || f.type == 'G') lay->hasMemo = true;
    lay->fields.push_back(f);
  }
  if (lay->fields.empty()) return Illegal(c4, "no fields");
  if (nullable > 0) {
    FieldOut nf{};
    std::memcpy(nf.name, "_NullFlags", 10);
    nf.type = '0';
    nf.offset = lay->recordLen;
    nf.len = static_cast<uint16_t>((nullable + 7) / 8);
    nf.flags = 0x05;
    lay->recordLen += nf.len;
    lay->fields.push_back(nf);
  }
  if (lay->recordLen >= 65535) return error4report(c4, e4recordLen, LOC4d4create);
  uint32_t headerLen = 32 * static_cast<uint32_t>(lay->fields.size() + 1) + (lay->level30 ? 264 : 1);
  if (headerLen >= 65535) return error4report(c4, e4recordLen, LOC4d4create);
  lay->headerLen = headerLen;
  return 0;
}

// Header, descriptors and terminator through the sequential writer.
int WriteNewHeader(CODE4* c4, DISK4* disk, const Layout& lay) {
  char buffer[2048];
  FILE4SEQ_WRITE seq;
  file4seqWriteInit(&seq, disk, 0, buffer, sizeof buffer);
  unsigned char h[32] = {};
  h[0] = lay.level30 ? 0x30 : (lay.hasMemo ? 0xF5 : 0x03);
  engine4::todayHeaderDate(&h[1], &h[2], &h[3]);
  PutLe16(h + 8, lay.headerLen);
  PutLe16(h + 10, lay.recordLen);
  h[28] = (lay.level30 && lay.hasMemo) ? 0x02 : 0x00;
  h[29] = c4->codePageMark;
  int rc = file4seqWrite(&seq, h, sizeof h);
  for (const FieldOut& f : lay.fields) {
    if (rc < 0) break;
    unsigned char d[32] = {};
    std::memcpy(d, f.name, 11);
    d[11] = static_cast<unsigned char>(f.type);
    PutLe32(d + 12, f.offset);
    d[16] = static_cast<unsigned char>(f.len);
    d[17] = f.dec;
    d[18] = f.flags;
    rc = file4seqWrite(&seq, d, sizeof d);
  }
  if (rc >= 0) {
    if (lay.level30) {
      rc = file4seqWrite(&seq, "\x0D", 1);
      if (rc >= 0) rc = file4seqWriteRepeat(&seq, 263, 0);
    } else {
      rc = file4seqWrite(&seq, "\x0D\x1A", 2);
    }
  }
  if (rc >= 0) rc = file4seqWriteFlush(&seq);
  return rc < 0 ? rc : 0;
}

TABLE4FILE* FindOpenFile(CODE4* c4, const std::string& full) {
  for (TABLE4FILE* d = c4->dataFiles; d != nullptr; d = d->next)
    if (d->file.name != nullptr && engine4::sameName(d->file.name, full, c4->nameIgnoreCase != 0))
      return d;
  return nullptr;
}

void LinkFile(CODE4* c4, TABLE4FILE* d) {
  d->next = c4->dataFiles;
  d->prev = nullptr;
  if (c4->dataFiles != nullptr) c4->dataFiles->prev = d;
  c4->dataFiles = d;
}

void UnlinkFile(CODE4* c4, TABLE4FILE* d) {
  if (d->prev != nullptr) d->prev->next = d->next;
  else if (c4->dataFiles == d) c4->dataFiles = d->next;
  if (d->next != nullptr) d->next->prev = d->prev;
  d->next = d->prev = nullptr;
}

void LinkTable(CODE4* c4, TABLE4* t) {
  t->next = nullptr;
  t->prev = nullptr;
  if (c4->tables == nullptr) {
    c4->tables = t;
    return;
  }
  TABLE4* last = c4->tables;
  while (last->next != nullptr && last->next != last) last = last->next;
  last->next = t;
  t->prev = last;
}

int Corrupt(CODE4* c4, const char* where, const char* name) {
  return error4reportAt(c4, e4data, LOC4d4open, where, name);
}

// Reads and checks the header and the descriptor area of an open data file.
int ReadHeader(CODE4* c4, TABLE4FILE* d) {
  const char* name = d->file.name;
  unsigned char h[32];
  unsigned got = file4read(&d->file, 0, h, sizeof h);
  if (c4->lastError < 0) return c4->lastError;
  if (got < sizeof h) return Corrupt(c4, kCorrupt, name);
  d->version = h[0];
  d->yy = h[1];
  d->mm = h[2];
  d->dd = h[3];
  uint32_t count = GetLe32(h + 4);
  d->headerLen = static_cast<uint16_t>(GetLe16(h + 8));
  d->recordLen = static_cast<uint16_t>(GetLe16(h + 10));
  d->flags = h[28];
  d->codePage = h[29];
  if (d->recordLen == 0) return Corrupt(c4, kCorrupt, name);
  if (count == 0xFFFFFFFFu) return Corrupt(c4, kCorrupt, name);
  FILE4LONG len = file4len(&d->file);
  if (len < 0) return c4->lastError < 0 ? c4->lastError : Corrupt(c4, kCorrupt, name);
  FILE4LONG stored = len >= d->headerLen ? (len - d->headerLen) / d->recordLen : 0;
  if (stored > 0xFFFFFFFFll) return Corrupt(c4, kCorrupt, name);
  if ((d->file.shareMode == 1 || d->file.shareMode == 2) && stored != count)
    return Corrupt(c4, kCorrupt, name);
  if (d->headerLen <= 32) return Corrupt(c4, kCorrupt, name);
  d->infoLen = d->headerLen - 32;
  d->info = static_cast<char*>(engine4::allocOrFail(c4, d->infoLen, LOC4d4open));
  if (d->info == nullptr) return e4memory;
  got = file4read(&d->file, 32, d->info, d->infoLen);
  if (c4->lastError < 0) return c4->lastError;
  if (got < static_cast<unsigned>(d->infoLen))
    return Corrupt(c4, "data file shorter than required header length (corrupt or invalid)", name);
  d->recCount = -1;
  d->minCount = 0;
  d->maxRecords = static_cast<long>((0xFFFFFFFFll - d->headerLen) / d->recordLen - 10);
  return 0;
}

// Length and decimals of a descriptor by type, and whether the type may be
// stored in this file; false for a type the file format refuses.
struct TypeRule {
  bool known;
  bool allowed;
  uint16_t len;
  uint16_t dec;
};

TypeRule RuleFor(const unsigned char* desc, bool v30) {
  unsigned char type = desc[11];
  uint16_t b16 = desc[16], b17 = desc[17];
  uint16_t wide = static_cast<uint16_t>(b16 + 256 * b17);
  switch (type) {
    case '1': case '2': case '3': case '4': case '5':
    case 'P': case 'Q': case 'R': case 'V':
    case 'D': case 'I': case 'L': case 'M': case 'G':
      return {true, true, b16, 0};
    case 'F': case 'N':
      return {true, true, b16, b17};
    case 'T': case 'Y':
      return {true, v30, b16, b17};
    case 'B':
      return {true, v30, b16, b17};
    case 'C': case 'O': case 'W':
      return {true, true, wide, 0};
    case '0':
      return {true, v30 && std::memcmp(desc, "_NullFlags", 10) == 0 && desc[10] == 0, b16, 0};
    default:
      return {false, false, 0, 0};
  }
}

// Counts the descriptors up to the 0x0D marker; -1 when the marker is missing
// inside the header.
int CountDescriptors(const TABLE4FILE* d) {
  int n = 0;
  for (int pos = 0; pos < d->infoLen; pos += 32) {
    if (static_cast<unsigned char>(d->info[pos]) == 0x0D) return n;
    if (pos + 32 > d->infoLen) return -1;
    ++n;
  }
  return -1;
}

int CheckDescriptors(CODE4* c4, TABLE4FILE* d) {
  const char* name = d->file.name;
  int n = CountDescriptors(d);
  if (n < 0) return Corrupt(c4, kCorrupt, name);
  bool v30 = engine4::version30(d->version);
  uint32_t sum = 1;
  int memos = 0;
  for (int i = 0; i < n; ++i) {
    const unsigned char* desc = reinterpret_cast<const unsigned char*>(d->info) + 32 * i;
    TypeRule r = RuleFor(desc, v30);
    if (!r.known)
      return error4reportAt(c4, e4fieldType, LOC4d4open, "unknown field type", name);
    if (!r.allowed) return Corrupt(c4, "invalid field type", name);
    if (desc[11] == 'M' || desc[11] == 'G') ++memos;
    sum += r.len;
  }
  if (sum != d->recordLen) return Corrupt(c4, kCorrupt, name);
  d->nFields = n;
  d->nMemoFields = memos;
  d->formatLevel = v30 ? 30 : (c4->formatLevel == 30 ? 25 : c4->formatLevel);
  return 0;
}

void CloseFileObject(TABLE4FILE* d) {
  if (d->hasMemo) memo4fileClose(&d->memoFile);
  file4close(&d->file);
  std::free(d->info);
  delete d;
}

// Opens the data file (and its memo file) of `full` into a new TABLE4FILE.
TABLE4FILE* OpenFile(CODE4* c4, const std::string& full) {
  TABLE4FILE* d = new (std::nothrow) TABLE4FILE;
  if (d == nullptr) {
    error4report(c4, e4memory, LOC4d4open);
    return nullptr;
  }
  d->c4 = c4;
  d->openReadOnly = c4->openReadOnly;
  if (file4open(&d->file, c4, full.c_str(), 1) != 0) {
    delete d;
    return nullptr;
  }
  int rc = ReadHeader(c4, d);
  if (rc == 0) rc = CheckDescriptors(c4, d);
  if (rc == 0) {
    // Some writers leave the memo flag out although the table has memo
    // fields; their memo file is opened all the same.
    bool memo = engine4::version30(d->version) ? (d->flags & 0x02) != 0 : (d->version & 0x80) != 0;
    if (d->nMemoFields > 0) memo = true;
    if (memo) {
      std::string memoName = engine4::companionName(full, "fpt");
      rc = memo4fileOpen(&d->memoFile, d, memoName.c_str());
      if (rc == 0) d->hasMemo = true;
    }
  }
  if (rc != 0 || c4->lastError < 0) {
    CloseFileObject(d);
    return nullptr;
  }
  return d;
}

void BuildColumns(TABLE4* t) {
  TABLE4FILE* d = t->dataFile;
  bool v30 = engine4::version30(d->version);
  int offset = 1, nullBit = 0, memo = 0;
  for (int i = 0; i < d->nFields; ++i) {
    const unsigned char* desc = reinterpret_cast<const unsigned char*>(d->info) + 32 * i;
    COLUMN4* f = &t->fields[i];
    std::memset(f, 0, sizeof *f);
    std::memcpy(f->name, desc, 10);
    f->name[10] = 0;
    TypeRule r = RuleFor(desc, v30);
    f->type = desc[11];
    f->len = r.len;
    f->dec = r.dec;
    f->offset = offset;
    offset += r.len;
    f->data = t;
    f->number = i + 1;
    if (v30 && (desc[18] & 0x02)) {
      f->null = 1;
      f->nullBit = static_cast<uint16_t>(nullBit++);
    }
    if (v30) f->binary = (desc[18] & 0x04) ? 1 : (f->type == 'M' || f->type == 'G') ? 2 : 0;
    else if (f->type == 'I') f->binary = 1;  // stored as binary whatever the version
    if (f->type == 'M' || f->type == 'G') {
      MEMOCELL4* cell = &t->memoFields[memo++];
      cell->field = f;
      f->memo = cell;
    }
    if (f->type == '0') t->nullFlags = f;
  }
  t->nFieldsUser = t->nFields - (t->nullFlags != nullptr ? 1 : 0);
}

// Nullable fields need a null-flags field with a bit for each.
bool NullBitsFit(const TABLE4* t) {
  int nullable = 0;
  for (int i = 0; i < t->nFields; ++i) nullable += t->fields[i].null;
  if (nullable == 0) return true;
  return t->nullFlags != nullptr && nullable <= t->nullFlags->len * 8;
}

TABLE4* NewTable(CODE4* c4, TABLE4FILE* d, const std::string& full) {
  TABLE4* t = new (std::nothrow) TABLE4;
  if (t == nullptr) {
    error4report(c4, e4memory, LOC4d4open);
    return nullptr;
  }
  t->c4 = c4;
  t->dataFile = d;
  std::string alias = engine4::baseName(full).substr(0, 32);
  for (char& ch : alias)
    if (ch == ' ') ch = '_';
  std::memcpy(t->alias, alias.c_str(), alias.size() + 1);
  size_t recSize = static_cast<size_t>(d->recordLen) + 1;
  t->record = static_cast<char*>(std::calloc(1, recSize));
  t->recordOld = static_cast<char*>(std::calloc(1, recSize));
  t->recordBlank = static_cast<char*>(std::calloc(1, recSize));
  t->nFields = d->nFields;
  t->fields = new (std::nothrow) COLUMN4[d->nFields > 0 ? d->nFields : 1];
  t->nMemoFields = d->nMemoFields;
  t->memoFields = new (std::nothrow) MEMOCELL4[d->nMemoFields > 0 ? d->nMemoFields : 1];
  if (t->record == nullptr || t->recordOld == nullptr || t->recordBlank == nullptr ||
      t->fields == nullptr || t->memoFields == nullptr) {
    engine4::freeTable(t);
    error4report(c4, e4memory, LOC4d4open);
    return nullptr;
  }
  BuildColumns(t);
  if (!NullBitsFit(t)) {
    Corrupt(c4, "nullable fields without room in the null flags", full.c_str());
    engine4::freeTable(t);
    return nullptr;
  }
  t->recordBlank[0] = ' ';
  for (int i = 0; i < t->nFields; ++i) engine4::blankField(&t->fields[i], t->recordBlank);
  std::memcpy(t->record, t->recordBlank, recSize);
  std::memcpy(t->recordOld, t->recordBlank, recSize);
  t->recNum = -1;
  t->recNumOld = -1;
  t->readOnly = d->file.readOnly;
  return t;
}

void AttachHandle(TABLE4FILE* d, TABLE4* t) {
  t->fileNext = d->handles;
  d->handles = t;
  ++d->userCount;
}

void DetachHandle(TABLE4FILE* d, TABLE4* t) {
  for (TABLE4** p = &d->handles; *p != nullptr; p = &(*p)->fileNext) {
    if (*p == t) {
      *p = t->fileNext;
      --d->userCount;
      break;
    }
  }
  t->fileNext = nullptr;
}

void RemoveCreated(const std::string& dataName, const std::string& memoName, bool memo) {
  std::remove(dataName.c_str());
  if (memo) std::remove(memoName.c_str());
}

}  // namespace

namespace engine4 {

void freeTable(TABLE4* t) {
  CODE4* c4 = t->c4;
  if (c4 != nullptr) {
    if (t->prev != nullptr) t->prev->next = t->next;
    else if (c4->tables == t) c4->tables = t->next;
    if (t->next != nullptr && t->next != t) t->next->prev = t->prev;
  }
  std::free(t->record);
  std::free(t->recordOld);
  std::free(t->recordBlank);
  std::free(t->locks);
  delete[] t->fields;
  delete[] t->memoFields;
  delete t;
}

}  // namespace engine4

namespace {

TABLE4* OpenTable(CODE4* c4, const char* name) {
  if (c4 == nullptr || name == nullptr) {
    error4report(nullptr, e4parmNull, LOC4d4open);
    return nullptr;
  }
  if (refused(c4)) return nullptr;
  if (c4->formatLevel != 25 && c4->formatLevel != 26 && c4->formatLevel != 30) {
    error4reportAt(c4, e4open, LOC4d4open, "formatLevel must be 25, 26 or 30", name);
    return nullptr;
  }
  std::string full;
  if (!engine4::fullName(name, "dbf", &full)) {
    if (!c4->failOpen) c4->lastError = STAT4NOOPEN;
    else error4reportAt(c4, e4open, LOC4d4open, "file name empty or too long", name);
    return nullptr;
  }
  TABLE4FILE* d = FindOpenFile(c4, full);
  bool shared = false;
  if (d != nullptr) {
    bool agree = d->file.shareMode == c4->shareMode && d->openReadOnly == c4->openReadOnly;
    if (c4->singleOpen || !agree) {
      error4report(c4, e4instance, LOC4d4open, full.c_str());
      return nullptr;
    }
    shared = true;
  } else {
    d = OpenFile(c4, full);
    if (d == nullptr) return nullptr;
  }
  TABLE4* t = NewTable(c4, d, full);
  if (t == nullptr) {
    if (!shared) CloseFileObject(d);
    return nullptr;
  }
  if ((d->flags & 0x01) && c4->autoOpen) {
    // A production index is announced but this build has no index side.
    // Refused loudly even with failOpen off: a quiet failure would make the
    // application create the table anew over its data.
    error4reportAt(c4, e4notIndex, LOC4d4open,
                   "the table has a production index: index support is not built", full.c_str());
    engine4::freeTable(t);
    if (!shared) CloseFileObject(d);
    return nullptr;
  }
  if (!shared) LinkFile(c4, d);
  AttachHandle(d, t);
  LinkTable(c4, t);
  t->seqNo = c4->seqNext++;
  return t;
}

}  // namespace

// The standard library's allocation failures end here as the engine's own.
TABLE4* d4open(CODE4* c4, const char* name) {
  try {
    return OpenTable(c4, name);
  } catch (const std::exception&) {
    error4report(c4, e4memory, LOC4d4open);
    return nullptr;
  }
}

namespace {

TABLE4* CreateTable(CODE4* c4, const char* name, const FIELDSPEC4* fields, const TAGSPEC4* tags) {
  if (c4 == nullptr || fields == nullptr || (name == nullptr && !c4->tempCreate)) {
    error4report(nullptr, e4parmNull, LOC4d4create);
    return nullptr;
  }
  if (refused(c4)) return nullptr;
  if (tags != nullptr && tags[0].name != nullptr) {
    error4reportAt(c4, e4notIndex, LOC4d4create,
                   "tag descriptions given: index support is not built", name != nullptr ? name : "");
    return nullptr;
  }
  std::string full;
  if (name != nullptr) {
    if (!engine4::fullName(name, "dbf", &full)) {
      error4reportAt(c4, e4parm, LOC4d4create, "file name empty or too long", name);
      return nullptr;
    }
    if (FindOpenFile(c4, full) != nullptr) {
      if (c4->failCreate)
        error4reportAt(c4, e4create, LOC4d4create,
                       "attempt to create file which is opened by another client", full.c_str());
      else
        c4->lastError = STAT4NOCREATE;
      return nullptr;
    }
  }
  Layout lay;
  if (BuildLayout(c4, fields, &lay) < 0) return nullptr;

  int savedReadOnly = c4->openReadOnly;
  c4->openReadOnly = 0;
  DISK4 disk;
  int rc = name != nullptr ? file4create(&disk, c4, full.c_str(), 1)
                           : file4temp(&disk, c4, 0, 1, "dbf");
  if (rc != 0) {
    c4->openReadOnly = savedReadOnly;
    return nullptr;
  }
  full = disk.name;
  rc = WriteNewHeader(c4, &disk, lay);
  if (rc < 0) {
    int saved = c4->lastError;
    c4->lastError = 0;
    disk.isTemp = true;
    file4close(&disk);
    c4->lastError = saved;
    c4->openReadOnly = savedReadOnly;
    return nullptr;
  }
  file4close(&disk);

  std::string memoName = engine4::companionName(full, "fpt");
  if (lay.hasMemo) {
    MEMOFILE4 memo;
    rc = memo4fileCreate(&memo, c4, nullptr, memoName.c_str());
    if (rc == 0) rc = memo4fileClose(&memo);
    if (rc != 0) {
      RemoveCreated(full, memoName, false);
      c4->openReadOnly = savedReadOnly;
      return nullptr;
    }
  }

  // The new table is opened once exclusively, which checks what was written.
  char savedShare = c4->shareMode;
  int savedAutoOpen = c4->autoOpen;
  c4->shareMode = 1;
  c4->autoOpen = 0;
  TABLE4* t = d4open(c4, full.c_str());
  c4->shareMode = savedShare;
  if (t == nullptr) {
    c4->autoOpen = savedAutoOpen;
    c4->openReadOnly = savedReadOnly;
    RemoveCreated(full, memoName, lay.hasMemo);
    return nullptr;
  }
  if (name == nullptr) {
    t->dataFile->file.isTemp = true;
    if (t->dataFile->hasMemo) t->dataFile->memoFile.file.isTemp = true;
    c4->autoOpen = savedAutoOpen;
    c4->openReadOnly = savedReadOnly;
    return t;
  }
  d4close(t);
  c4->openReadOnly = savedReadOnly;
  t = c4->lastError < 0 ? nullptr : d4open(c4, full.c_str());
  c4->autoOpen = savedAutoOpen;
  return t;
}

}  // namespace

TABLE4* d4create(CODE4* c4, const char* name, const FIELDSPEC4* fields, const TAGSPEC4* tags) {
  try {
    return CreateTable(c4, name, fields, tags);
  } catch (const std::exception&) {
    error4report(c4, e4memory, LOC4d4create);
    return nullptr;
  }
}

int d4close(TABLE4* t) {
  if (t == nullptr) return error4report(nullptr, e4parmNull, LOC4d4close);
  CODE4* c4 = t->c4;
  if (c4->lastError == e4unique) t->recordChanged = false;
  int saved = c4->lastError < 0 ? c4->lastError : 0;
  if (saved < 0) c4->lastError = 0;
  int first = d4update(t);
  int rc = d4unlock(t);
  if (first >= 0 && rc < 0) first = rc;
  engine4::memoCellsFree(t);
  TABLE4FILE* d = t->dataFile;
  DetachHandle(d, t);
  if (d->userCount == 0) {
    if (d->hdrChanged && !d->file.isTemp && !d->file.readOnly) {
      engine4::todayHeaderDate(&d->yy, &d->mm, &d->dd);
      rc = engine4::writeHeader(d, true, engine4::exclusive(t));
      if (first >= 0 && rc < 0) first = rc;
    }
    UnlinkFile(c4, d);
    if (d->hasMemo) {
      rc = memo4fileClose(&d->memoFile);
      if (first >= 0 && rc < 0) first = rc;
      d->hasMemo = false;
    }
    rc = file4close(&d->file);
    if (first >= 0 && rc < 0) first = rc;
    std::free(d->info);
    delete d;
  }
  engine4::freeTable(t);
  if (first < 0) return first;
  if (saved < 0) {
    c4->lastError = saved;
    return saved;
  }
  return 0;
}

int d4fieldNumber(TABLE4* t, const char* name) {
  if (t == nullptr || name == nullptr) return error4report(nullptr, e4parmNull, LOC4d4fieldNumber);
  char given[256], want[256];
  std::snprintf(given, sizeof given, "%s", name);
  size_t n = std::strlen(given);
  while (n > 0 && given[n - 1] == ' ') given[--n] = 0;
  for (size_t i = 0; i <= n; ++i)
    want[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(given[i])));
  if (n <= 10) {
    for (int i = 0; i < t->nFields; ++i)
      if (std::strcmp(t->fields[i].name, want) == 0) return i + 1;
    // The null-flags field keeps its mixed-case name; it is found as written.
    for (int i = 0; i < t->nFields; ++i)
      if (t->fields[i].type == '0' && std::strcmp(t->fields[i].name, given) == 0) return i + 1;
  }
  if (t->c4->failFieldName) error4report(t->c4, e4fieldName, LOC4d4field, name);
  return e4fieldName;
}

COLUMN4* d4field(TABLE4* t, const char* name) {
  if (t == nullptr || name == nullptr) {
    error4report(nullptr, e4parmNull, LOC4d4field);
    return nullptr;
  }
  int n = d4fieldNumber(t, name);
  return n > 0 ? &t->fields[n - 1] : nullptr;
}

COLUMN4* d4fieldJ(TABLE4* t, int number) {
  if (t == nullptr) {
    error4report(nullptr, e4parmNull, LOC4d4fieldJ);
    return nullptr;
  }
  if (number < 1 || number > t->nFields) {
    error4report(t->c4, e4parm, LOC4d4fieldJ);
    return nullptr;
  }
  return &t->fields[number - 1];
}

int d4numFields(TABLE4* t) {
  if (t == nullptr) return error4report(nullptr, e4parmNull, LOC4d4field);
  return t->nFieldsUser;
}

const char* d4alias(TABLE4* t) {
  if (t == nullptr) {
    error4report(nullptr, e4parmNull, LOC4d4field);
    return nullptr;
  }
  return t->alias;
}

CODE4* d4codeBase(TABLE4* t) { return t != nullptr ? t->c4 : nullptr; }
