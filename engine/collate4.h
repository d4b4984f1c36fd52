// Collation and key conversion: how a value of each expression type becomes
// an index key that sorts correctly under plain unsigned byte comparison.
//
// A tag chooses one KEY4FORM when it is created or its header is read: the
// key-building routine for its expression's result type, the conversions of
// a seek text and of a seek number into a key, the comparison used to
// re-check a found entry, and the pad byte of leaf compression. Character
// keys are either the bytes themselves (machine collation) or weights of a
// table-driven collation (the built-in "GENERAL" collations 2 and 3, or
// collation 4 loaded from the "coll4inf", "collate4" and "compres4" tables).
//
// Key forms (key length without the null-indicator byte):
//   C machine      result length   the bytes; pad 0x20
//   C general      2 x length      primary weights, secondary weights, zeros
//   W, O machine   result length   16-bit units high byte first
//   W, O general   (factor+1) x length  wide weights
//   L              1               "T" or "F"
//   n N d D        8               IEEE double big-endian; >= 0: top bit set,
//                                  < 0: every byte inverted
//   T              8               day + ms / 86400000 as n
//   Y, 1           8               64-bit integer big-endian, top bit flipped
//   I, Q           4               32-bit integer big-endian, top bit flipped
//   P, R           4               32-bit unsigned big-endian
//   2, 3           6               three 16-bit values big-endian
//   4              16              seven 16-bit values big-endian, 2 zeros
//
// Caveats
// -------
// * The collation table is process-wide. Collation 4 is loaded from the
//   tables in the current directory on first use and never changes after.
// * Negative zero is keyed as zero (its raw form would sort below every
//   negative number).
#pragma once

#include <cstdint>

#include "engine/engine_core.h"

struct EXPR4;

// Collation kinds (COLLATE4::type).
enum : int {
  COLLATE4machine = 0,   // the bytes themselves
  COLLATE4simple = 1,    // translation only (refused for keys)
  COLLATE4subSort = 2,   // translation and secondary weights (refused)
  COLLATE4compress = 4,  // translation and expansions (refused)
  COLLATE4full = 6,      // primary and secondary weights with expansions
  COLLATE4load = 16,     // to be loaded from the collation tables
};

// Kinds of an expansion-list entry.
enum : unsigned char {
  COLLATE4expandEntry = 1,    // one character sorts as two
  COLLATE4compressEntry = 2,  // two characters sort as one (not supported)
  COLLATE4endEntry = 3,       // ends the list
};

// Collation numbers.
enum : int {
  COLLATE4numMachine = 1,
  COLLATE4numGeneral = 2,     // "GENERAL", Windows ANSI (code page marks 0, 3)
  COLLATE4numGeneralDos = 3,  // "GENERAL", MS-DOS US (code page mark 1)
  COLLATE4numLoaded = 4,      // "CB00004", loaded from the collation tables
  COLLATE4numMax = 4,
};

struct COLLATE4EXPAND {
  unsigned char kind;        // COLLATE4expandEntry, ...
  unsigned char first;       // character codes whose weights are output
  unsigned char second;
  unsigned char subSortMod;  // read from compres4, not used
};

struct COLLATE4 {
  int type;                          // COLLATE4machine ... COLLATE4load
  const unsigned char* weights;      // 256 x (primary, secondary)
  const uint16_t* wideWeights;       // 65536 x (primary, secondary), built on first use
  const COLLATE4EXPAND* expansions;  // ended by a COLLATE4endEntry
  int keyFactor;                     // 1: keys carry secondary weights
  unsigned char expandMarker;        // primary weight meaning "expand"
  unsigned char noTailMarker;        // secondary weight meaning "none"
  int lossy;                         // different texts may give equal keys
};

// Collation `number` (1-4). A type-16 entry is loaded first (through c4,
// which may be null for the built-in entries); the wide table is built when
// `wide` is set. Null with -1090 ("unsupported collating sequence") reported
// for a number outside 1-4 or a table that cannot be loaded or used.
const COLLATE4* collate4get(CODE4* c4, int number, int wide = 0);

// The collation number named by a tag header's 8-byte collation field:
// 0 for machine collation (8 zero bytes), 2 or 3 for "GENERAL" by the data
// file's code page mark, the number of "CBnnnnn". -310 with the description
// "unsupported collating sequence" for anything else or a number above 4.
int collate4fromName(CODE4* c4, const char* name8, unsigned char codePageMark);

// The collation a new tag over keyExpr gets from the context's settings
// (collateChar, collateWide, generalCollation) and the data file's code
// page mark; writes the 8-byte header name into name8. Returns 0 (machine)
// or 2-4, or a negative error when a collation cannot be loaded.
int collate4forNewTag(CODE4* c4, const EXPR4* keyExpr, unsigned char codePageMark, char* name8);

// The weight form of a character text under a type-6 collation: len bytes of
// text become 2 x len bytes. Returns 0 or -1090 (expansion entry of another
// kind than 1).
int collate4charKey(const COLLATE4* coll, const char* text, int len, char* out);

// The same for wide text (len bytes of little-endian 16-bit units) into
// (keyFactor + 1) x len bytes.
int collate4wideKey(const COLLATE4* coll, const char* text, int len, char* out);

// ---------------------------------------------------------------------------
// Key forms.

struct KEY4FORM {
  char type;             // expression result type
  int valueLen;          // expression result length
  int keyLen;            // key length without the null-indicator byte
  int collation;         // 0 machine, 2-4 table-driven
  const COLLATE4* coll;  // null for machine collation
  int nullByte;          // 1: every key starts with the null-indicator byte
  int varLen;            // 1: trailing zero bytes of a C value become blanks
  unsigned char pad;     // leaf-compression pad byte: 0x20 machine C, else 0

  // value (valueLen bytes as the expression engine holds it) -> key
  // (keyLen bytes); returns keyLen or a negative error.
  int (*fromValue)(const KEY4FORM* f, const char* value, char* key);
  // seek text -> key; returns the converted length.
  int (*fromText)(const KEY4FORM* f, const char* text, int len, char* key);
  // seek number -> key (keyLen bytes); null for C, W, O, L, T, 3 and 4.
  int (*fromDouble)(const KEY4FORM* f, double v, char* key);
  // <0, 0, >0 of a stored key against a search key over len bytes.
  int (*compare)(const KEY4FORM* f, const void* stored, const void* search, int len);
};

// Fills a key form for a result of `type` and `valueLen` under collation
// number `collation` (0 or 1 machine; ignored for types other than C, W, O).
// Returns 0; -910 ("invalid key type in index file", not reported: the
// caller reports it with its own description) for a type without a key
// form; -1090 (reported) for a collation that character keys cannot use.
int key4formInit(KEY4FORM* f, CODE4* c4, char type, int valueLen, int collation, int nullByte,
                 int varLen);

// Key length of a result of this type and length (without null byte);
// -910 for a type without a key form. coll null means machine collation.
int key4len(char type, int valueLen, const COLLATE4* coll);

// Key length with the null-indicator byte when the form has one.
int key4formKeyLen(const KEY4FORM* f);

// Wrappers of the routines: key4fromDouble returns -250 when the form has no
// number conversion.
int key4fromValue(const KEY4FORM* f, const char* value, char* key);
int key4fromText(const KEY4FORM* f, const char* text, int len, char* key);
int key4fromDouble(const KEY4FORM* f, double v, char* key);
int key4compare(const KEY4FORM* f, const void* stored, const void* search, int len);

// The elementary forms, shared by the routines above and by ASCEND().
void key4double(double v, char* out8);     // n form
void key4int32(int32_t v, char* out4);     // I form
void key4uint32(uint32_t v, char* out4);   // P form
void key4int64(int64_t v, char* out8);     // Y and 1 forms
void key4dateTime(const char* value8, char* out8);  // T form of a stored T value

// ASCEND(x) / DESCEND(x): length of the key-like string of a value of this
// type and length, and the string itself (DESCEND complements it).
int collate4ascendLen(char type, int valueLen);
void collate4ascend(char type, const char* value, int valueLen, char* out);
