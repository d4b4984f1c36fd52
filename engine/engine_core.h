// Core records and codes of the table engine: the engine context CODE4 with
// all of its settings, the open-file object DISK4, the data file objects
// TABLE4FILE, TABLE4 and COLUMN4, the memo objects, the descriptions passed to
// d4create, the shared status codes, the error codes and location numbers,
// and the error-reporting functions. Every other header of the engine builds
// on this one; programs include engine/engine.h instead.
//
// Records here are plain: the engine allocates and frees them itself (CODE4
// excepted, which the caller owns). Members are only ever added to this
// header, never renamed, because every area of the engine depends on them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/file.h"

// ---------------------------------------------------------------------------
// Shared status codes: 0 success, positive statuses, negative errors.

enum : int {
  STAT4OK = 0,
  STAT4AFTER = 2,
  STAT4EOF = 3,
  STAT4BOF = 4,
  STAT4NORECORD = 5,
  STAT4DESCEND = 10,
  STAT4UNIQUE = 20,
  STAT4UNIQUECONT = 25,
  STAT4LOCKED = 50,
  STAT4NOCREATE = 60,
  STAT4NOOPEN = 70,
  STAT4NOTAG = 80,
  STAT4NULLABLE = 190,
  STAT4CDX = 200,
};

// Short aliases of the statuses, for code that prefers the r4 spelling.
enum : int {
  r4success = STAT4OK,
  r4after = STAT4AFTER,
  r4eof = STAT4EOF,
  r4bof = STAT4BOF,
  r4entry = STAT4NORECORD,
  r4descending = STAT4DESCEND,
  r4unique = STAT4UNIQUE,
  r4uniqueContinue = STAT4UNIQUECONT,
  r4locked = STAT4LOCKED,
  r4noCreate = STAT4NOCREATE,
  r4noOpen = STAT4NOOPEN,
  r4noTag = STAT4NOTAG,
  r4null = STAT4NULLABLE,
  r4cdx = STAT4CDX,
};

// lockTries value: retry until the lock is obtained.
constexpr int WAIT4EVER = -1;

// Engine version checked by code4init.
constexpr int S4VERSION = 6501;

// Error codes; each has a fixed message (error4text).
enum : int {
  e4close = -10,
  e4create = -20,
  e4len = -30,
  e4lenSet = -40,
  e4lock = -50,
  e4open = -60,
  e4permiss = -61,
  e4access = -62,
  e4numFiles = -63,
  e4fileFind = -64,
  e4instance = -69,
  e4read = -70,
  e4remove = -80,
  e4rename = -90,
  e4unlock = -110,
  e4write = -120,
  e4data = -200,
  e4fieldName = -210,
  e4fieldType = -220,
  e4recordLen = -230,
  e4append = -240,
  e4seek = -250,
  e4entry = -300,
  e4index = -310,
  e4tagName = -330,
  e4unique = -340,
  e4tagInfo = -350,
  e4candidate = -360,
  e4commaExpected = -400,
  e4complete = -410,
  e4dataName = -420,
  e4lengthErr = -422,
  e4notConstant = -425,
  e4numParms = -430,
  e4overflow = -440,
  e4rightMissing = -450,
  e4typeSub = -460,
  e4unrecFunction = -470,
  e4unrecOperator = -480,
  e4unrecValue = -490,
  e4unterminated = -500,
  e4tagExpr = -510,
  e4opt = -610,
  e4optSuspend = -620,
  e4optFlush = -630,
  e4relate = -710,
  e4lookupErr = -720,
  e4relateRefer = -730,
  e4report = -810,
  e4info = -910,
  e4memory = -920,
  e4parm = -930,
  e4parmNull = -935,
  e4result = -950,
  e4verify = -960,
  e4struct = -970,
  e4notIndex = -1010,
  e4notMemo = -1020,
  e4notRename = -1030,
  e4notWrite = -1040,
  e4notClipper = -1050,
  e4notLockHook = -1060,
  e4notSupported = -1090,
  e4version = -1095,
  e4memoCorrupt = -1110,
  e4memoCreate = -1120,
  e4transViolation = -1200,
  e4trans = -1210,
  e4rollback = -1220,
  e4commit = -1230,
  e4transAppend = -1240,
  e4transStatus = -1250,
  e4name = -1420,
};

// File positions and lengths are 64-bit.
typedef int64_t FILE4LONG;

// ---------------------------------------------------------------------------
// Location numbers of the public operations (error4report prints the
// operation's name for them). Deeper checks use error4reportAt, which takes
// the diagnostic sentence directly.

enum : long {
  LOC4code4init = 91001,
  LOC4code4initUndo = 91002,
  LOC4code4closeAll = 91003,
  LOC4code4indexFormat = 91004,
  LOC4code4dateFormatSet = 91005,
  LOC4d4create = 91401,
  LOC4d4open = 94301,
  LOC4d4close = 91302,
  LOC4d4field = 94001,
  LOC4d4fieldJ = 94002,
  LOC4d4fieldNumber = 94003,
  LOC4d4append = 91103,
  LOC4d4appendStart = 91107,
  LOC4d4go = 93101,
  LOC4d4goEof = 93103,
  LOC4d4top = 92301,
  LOC4d4bottom = 91201,
  LOC4d4skip = 94802,
  LOC4d4write = 92601,
  LOC4d4flush = 94102,
  LOC4d4update = 94109,
  LOC4d4changed = 94101,
  LOC4d4recCount = 93312,
  LOC4d4lock = 92701,
  LOC4d4lockAppend = 92708,
  LOC4d4lockFile = 92709,
  LOC4d4lockAll = 92710,
  LOC4d4unlock = 92801,
  LOC4code4unlock = 92807,
  LOC4d4blank = 94110,
  LOC4d4readOld = 94111,
  LOC4f4assign = 90533,
  LOC4f4assignN = 90534,
  LOC4f4ncpy = 90535,
  LOC4f4str = 90536,
  LOC4f4blank = 90508,
  LOC4f4len = 90511,
  LOC4f4true = 90537,
  LOC4f4assignInt = 90514,
  LOC4f4int = 90515,
  LOC4f4assignLong = 90516,
  LOC4f4long = 90517,
  LOC4f4assignChar = 90502,
  LOC4f4dateTime = 90543,
  LOC4f4memoAssign = 90518,
  LOC4f4memoLen = 90522,
  LOC4f4memoStr = 90529,
  LOC4file4open = 90615,
  LOC4file4create = 90602,
  LOC4file4read = 90607,
  LOC4file4write = 90619,
  LOC4file4lock = 90613,
  LOC4file4unlock = 90614,
  LOC4file4close = 90601,
  LOC4file4len = 90608,
  LOC4file4lenSet = 90609,
  LOC4file4flush = 90606,
  LOC4file4temp = 90617,
  LOC4file4seqWrite = 90620,
  LOC4file4seqRead = 90621,
  LOC4memo4fileCreate = 95101,
  LOC4memo4fileRead = 95102,
  LOC4memo4fileWrite = 95103,
};

// ---------------------------------------------------------------------------
// Records.

struct CODE4;
struct TABLE4;
struct TABLE4FILE;
struct COLUMN4;
struct MEMOCELL4;
struct TAG4;        // index side (tags of an open table)
struct INDEX4;      // index side (an index handle of an open table)
struct INDEX4FILE;  // index side (an open index file)

// An open file of the engine (data, memo, index or temporary file).
struct DISK4 {
  plat::File file;        // the descriptor; not open = no file
  char* name = nullptr;   // full file name (owned when nameAllocated)
  bool nameAllocated = false;
  CODE4* c4 = nullptr;
  bool readOnly = false;  // read-only attribute or openReadOnly: writes refused
  bool canLock = false;   // the descriptor is open for writing (needed to lock)
  char shareMode = 0;     // 1 = exclusive: no byte-range locks are taken
  bool isTemp = false;    // removed when closed
  bool valid = false;     // from a successful open or create to file4close
  bool writeThrough = false;
};

// Sequential writer over a running file position. Without the worker threads
// a full buffer goes straight to the file.
struct FILE4SEQ_WRITE {
  DISK4* file = nullptr;
  FILE4LONG pos = 0;       // file position of buffer[0]
  char* buffer = nullptr;  // caller's buffer; null = unbuffered
  unsigned total = 0;      // usable bytes of the buffer (one half)
  unsigned working = 0;    // bytes wanted before the next flush
  unsigned avail = 0;      // bytes collected
};

// Sequential reader over a running file position.
struct FILE4SEQ_READ {
  DISK4* file = nullptr;
  FILE4LONG pos = 0;       // file position of the next buffer fill
  char* buffer = nullptr;
  unsigned total = 0;      // buffer size
  unsigned len = 0;        // bytes in the buffer
  unsigned at = 0;         // bytes of the buffer already handed out
};

// The memo file of a data file.
struct MEMOFILE4 {
  DISK4 file;
  int blockSize = 0;
  bool fileLock = false;  // this process holds the memo file lock
  TABLE4FILE* data = nullptr;
};

// The memo text of one memo field of one open table.
struct MEMOCELL4 {
  bool changed = false;
  bool reread = true;    // text must be read from the memo file before use
  char* contents = nullptr;  // text followed by two zero bytes
  unsigned len = 0;
  unsigned lenMax = 0;   // capacity without the two zero bytes; 0 = shared empty text
  COLUMN4* field = nullptr;
};

// A field of an open table, built from its descriptor.
struct COLUMN4 {
  char name[11];         // as stored in the file, NUL padded
  uint16_t len;
  uint16_t dec;
  uint16_t type;         // type letter as stored
  int32_t offset;        // position in the record (1 = first field)
  TABLE4* data;
  unsigned char null;    // nullable (version-0x30 files only)
  uint16_t nullBit;      // bit number in the null-flags field
  unsigned char binary;  // 0 text, 1 binary, 2 memo
  MEMOCELL4* memo;       // memo fields only
  int number;            // 1-based position in the table
};

// The shared object behind all handles of one physical data file.
struct TABLE4FILE {
  CODE4* c4 = nullptr;
  TABLE4FILE* next = nullptr;  // context's list of open data files
  TABLE4FILE* prev = nullptr;
  int userCount = 0;           // handles using the file
  TABLE4* handles = nullptr;   // first handle (linked through TABLE4::fileNext)

  DISK4 file;

  // Header copy.
  unsigned char version = 0;
  unsigned char yy = 0, mm = 0, dd = 0;
  long recCount = -1;          // -1 = unknown, read from disk when needed
  uint16_t headerLen = 0;
  unsigned char flags = 0;     // table flags byte (offset 28)
  unsigned char codePage = 0;  // offset 29

  uint16_t recordLen = 0;
  int nFields = 0;             // descriptors, null-flags field included
  char* info = nullptr;        // raw descriptor area (headerLen - 32 bytes)
  int infoLen = 0;
  int nMemoFields = 0;
  int formatLevel = 0;         // 30 for version 0x30, else 25 or 26
  long maxRecords = 0;         // largest count that fits 32-bit positions

  long minCount = 0;           // the count last seen on disk or written
  bool doDate = false;         // store today's date at the next release
  bool hdrChanged = false;     // header needs writing
  TABLE4* fileLockHolder = nullptr;
  TABLE4* appendLockHolder = nullptr;

  bool hasMemo = false;
  MEMOFILE4 memoFile;

  INDEX4FILE* indexFiles = nullptr;  // index side

  int openReadOnly = 0;        // openReadOnly of the context when opened
};

// One open handle of a table.
struct TABLE4 {
  CODE4* c4 = nullptr;
  TABLE4* next = nullptr;      // context's list of open tables
  TABLE4* prev = nullptr;
  TABLE4* fileNext = nullptr;  // next handle of the same data file
  TABLE4FILE* dataFile = nullptr;
  long seqNo = 0;
  char alias[33] = {};

  char* record = nullptr;       // current record, recordLen + 1 bytes
  char* recordOld = nullptr;    // last record read while locked
  char* recordBlank = nullptr;  // blank record

  COLUMN4* fields = nullptr;    // one per descriptor
  int nFields = 0;              // descriptors, null-flags field included
  int nFieldsUser = 0;          // without the null-flags field
  MEMOCELL4* memoFields = nullptr;
  int nMemoFields = 0;
  COLUMN4* nullFlags = nullptr; // the null-flags field, if any

  long recNum = -1;             // -1 none, 0 append in preparation
  long recNumOld = -1;          // record held by recordOld
  bool memoValidated = false;   // recordOld holds the disk version of recNum
  bool recordChanged = false;
  bool eofFlag = false;
  bool bofFlag = false;
  bool readOnly = false;

  long* locks = nullptr;        // record numbers locked by this handle
  int nLocks = 0;
  int locksMax = 0;

  TAG4* tagSelected = nullptr;  // index side
  INDEX4* indexes = nullptr;    // index side
};

// The engine context: settings, error state, open tables and files.
// Declared by the caller (often as static storage); code4init clears it.
struct CODE4 {
  // Settings (defaults are set by code4init).
  int autoOpen;
  int tempCreate;
  int16_t errDefaultUnique;
  int failFieldName;
  int errorsSilent;
  int failOpen;
  char keepExisting;
  int16_t formatLevel;
  unsigned char codePageMark;
  int failCreate;
  int openReadOnly;
  char shareMode;
  int lockRetryDelay;
  int lockTries;
  int writeThrough;
  char lockOnRead;
  int readCache;
  int failTagName;
  int failGo;
  int failSkip;
  int requireRecordLock;
  int16_t autoUnlock;
  int16_t singleOpen;
  int16_t nameIgnoreCase;
  int failExpression;
  uint16_t memSizeBlock;
  int indexBlockSize;
  int indexPositionUnit;
  int verifyIndexBlocks;
  int memoExprLength;
  int16_t generalCollation;
  int collateChar;
  int collateWide;
  int sortPoolSize;
  int sortBufferSize;
  char dateFormat[20];

  // Error state.
  int lastError;
  long lastErrorLocation;

  // Lists.
  TABLE4* tables;          // open tables, in open order
  TABLE4FILE* dataFiles;   // open data files
  long seqNext;            // sequence number of the next open table

  // Scratch text of f4str, f4currency and f4dateTime.
  char* fieldBuffer;
  unsigned fieldBufferLen;

  // Private data of the expression and index areas, released by
  // code4initUndo through the given routine when not null.
  void* exprData;
  void (*exprDataFree)(CODE4*);
  void* indexData;
  void (*indexDataFree)(CODE4*);

  char singleThread;
  int initialized;
};

// Field description for d4create; an array ends with a null name.
struct FIELDSPEC4 {
  const char* name;
  int16_t type;
  uint16_t len;
  uint16_t dec;
  uint16_t nulls;  // STAT4NULLABLE: the field may hold null
};

// Tag description for d4create; an array ends with a null name.
struct TAGSPEC4 {
  const char* name;
  const char* expression;
  const char* filter;
  int16_t unique;       // 0, STAT4UNIQUE or STAT4UNIQUECONT
  uint16_t descending;  // 0 or STAT4DESCEND
};

// ---------------------------------------------------------------------------
// Error model.

// Reports an error: stores it in the context (when given), prints the report
// on the standard error stream unless errorsSilent, and ends the process for
// the fatal codes -910, -920, -950 and -970. The location's text comes from
// the table of public operations. Returns errCode.
int error4report(CODE4* c4, int errCode, long location, const char* s1 = nullptr,
                 const char* s2 = nullptr, const char* s3 = nullptr);

// The same with the location text given directly (the diagnostic sentence
// of a check inside the engine).
int error4reportAt(CODE4* c4, int errCode, long location, const char* locationText,
                   const char* s1 = nullptr, const char* s2 = nullptr, const char* s3 = nullptr);

// Message of an error code ("Invalid or Unknown Error Code" when unknown).
const char* error4text(int errCode);

// Text of a location number ("Invalid or Unknown Error Code" when unknown).
const char* error4locationText(long location);

// Pending error of a context, 0 for a null context.
int error4code(CODE4* c4);

// Clears the pending error; returns the previous code.
int error4set(CODE4* c4, int newCode);
