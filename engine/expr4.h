// The expression engine: tag keys and filters are xBase expressions over the
// fields of one data file ("NAME", "BID + UID", "UPPER(NAME) + DTOS(BORN)").
// expr4parse compiles a text once into a postfix program; expr4vary runs it
// against the current record of the data handle and returns the result,
// expr4true a logical result, expr4key the result in index-key form
// (collate4.h).
//
// Value types: C character, L logical (4-byte 0/1), n number (double), N the
// text of an N/F field, D the CCYYMMDD text of a D field, d a date as a day
// number (double, 0 = blank), I, Y, T, P, Q, R, 1-4 field values, W and O
// wide text. D, N, I and Y become d or n where an operation needs them.
//
// Caveats
// -------
// * Evaluation is serialised by one process-wide lock. Each compiled
//   expression has its own work area: the pointer expr4vary and expr4key
//   hand out stays valid until the next evaluation of the same expression
//   (or points into the record buffer when the expression is a single
//   field).
// * Variable-length results (TRIM, LTRIM, ALLTRIM) keep their fixed length
//   and end at their first zero byte.
// * An expression is bound to one data file. expr4context moves it to another
//   handle of the same file; field steps then read that handle's record
//   buffer. Field steps read the handle's `record` pointer at evaluation, so
//   a caller may evaluate against another buffer by pointing `record` at it
//   for the duration of the call.
// * Results longer than 65535 bytes and nesting deeper than 64 levels are
//   refused with -440.
#pragma once

#include "engine/engine_core.h"

struct KEY4FORM;

namespace engine4 {
struct E4PROGRAM;
}

// A compiled expression. Owned by whoever parsed it; freed with expr4free.
struct EXPR4 {
  char* source;           // private copy of the text
  TABLE4* data;           // data handle evaluated
  TABLE4FILE* dataFile;   // the data file it belongs to
  const void* tag;        // the tag it was parsed for, or null
  CODE4* c4;
  char type;              // result type
  int len;                // result length
  int varLength;          // TRIM, LTRIM or ALLTRIM used
  int nullable;           // uses a field that may hold null
  int pureChar;           // every step is character (collation choice)
  TABLE4* bound;          // handle the field steps point at now
  engine4::E4PROGRAM* program;
};

// Location numbers of the expression operations.
enum : long {
  LOC4expr4parse = 90901,
  LOC4expr4vary = 90902,
  LOC4expr4true = 90903,
  LOC4expr4key = 90904,
  LOC4expr4context = 90905,
  LOC4expr4keyLen = 90906,
};

// Compiles `text` for the data handle. Null on failure: the error is
// reported with the text as description when the context's failExpression
// is on (the code is then in lastError); otherwise nothing is reported.
EXPR4* expr4parse(TABLE4* data, const char* text);

// The same for a tag's key or filter: `tag` is the tag (any non-null
// pointer); an alias naming another data handle is then -510, and a memo
// field contributes at most 240 bytes (239 when it may hold null). When
// errOut is given it receives 0 or the error code, also when nothing is
// reported.
EXPR4* expr4parseTag(TABLE4* data, const char* text, const void* tag, int* errOut = nullptr);

void expr4free(EXPR4* e);

// Evaluates against the current record: result length (the fixed length,
// also for variable-length results), *out the result. -1 without evaluating
// while the context holds an error; -935 for null arguments.
int expr4vary(EXPR4* e, char** out);

// 1 or 0 for a logical expression; -950 "expecting logical result" for any
// other result type.
int expr4true(EXPR4* e);

// Evaluates and converts to key form: the key length (null-indicator byte
// included) and *out the key, in the expression's key buffer. form null means
// the machine-collated key form of the result type without null byte. A null
// expression or out pointer is -935.
int expr4key(EXPR4* e, char** out, const KEY4FORM* form);

// Key length under machine collation (no null byte): the result length for
// character results; -910 for a result type without a key form.
int expr4keyLen(EXPR4* e);

// Fills a key form for this expression's result under collation number
// `collation` (0 machine) with or without the null-indicator byte.
int expr4keyForm(EXPR4* e, KEY4FORM* form, int collation, int nullByte);

// Moves the expression to another handle of the same data file: 0, or -930
// for a handle of another file.
int expr4context(EXPR4* e, TABLE4* data);

const char* expr4source(const EXPR4* e);
char expr4type(const EXPR4* e);
int expr4len(const EXPR4* e);
int expr4nullable(const EXPR4* e);

// 1 when any nullable field of the expression holds null in the current
// record (keys then get the all-null form).
int expr4isNull(EXPR4* e);

// The page counter PAGENO() reads (0 unless set); per engine context.
long expr4pageNo(CODE4* c4);
int expr4pageNoSet(CODE4* c4, long page);
