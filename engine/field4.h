// Field operations: reading and changing one field of the current record
// buffer of an open table (a COLUMN4 from d4field or d4fieldJ). They never
// touch the file; a change reaches the disk when the record is written.
//
// Storage per type: C text, right-padded (zero bytes for a C field with the
// binary flag, created as Z); N, F right-aligned decimal text; D "CCYYMMDD";
// L one character; I 32-bit little-endian integer; B 64-bit double; Y 64-bit
// integer = value x 10000; T 32-bit Julian day then 32-bit milliseconds;
// M, G memo block number (4-byte binary or 10-character text).
//
// Common rules:
// * A null COLUMN4 is error -935 (reported); the result is 0, -1 or null.
// * While the context's lastError is negative a changing operation does
//   nothing and returns -1 (f4assignPtr and f4dateTimeAssign excepted).
// * With requireRecordLock on and a current record, a changing operation
//   (f4assignPtr and f4dateTimeAssign excepted) needs this handle to hold
//   that record's lock, else error -50 "Locking File" and nothing changes.
// * A type that the operation does not support is error -930 with the text
//   "field function not supported for given field type".
// * f4str, f4currency and f4dateTime return text in one scratch buffer of the
//   context, valid until the next of these calls on any field of the context.
//
// Memo field operations (f4memo...) are in memo4.h.
#pragma once

#include <cstdint>

#include "engine/engine_core.h"

// ---------------------------------------------------------------------------
// Changing operations. Results: 0 on success, negative on failure.

// Pointer to the field's bytes after marking the record changed and clearing
// the field's null bit; null for a null COLUMN4.
char* f4assignPtr(COLUMN4* f);

// Zero bytes for binary fields, blanks for the others.
int f4blank(COLUMN4* f);

// N and F: the text right-aligned (cut to the field length); other types as
// f4assignN with the text's length.
int f4assign(COLUMN4* f, const char* text);

// Copies the first field-length bytes, or blanks the field and copies the
// bytes to its start.
int f4assignN(COLUMN4* f, const char* bytes, unsigned len);

// Blanks the field and stores the character in its first byte.
int f4assignChar(COLUMN4* f, int ch);

int f4assignInt(COLUMN4* f, int value);
int f4assignLong(COLUMN4* f, long value);
// -440 (not reported) when the value does not fit a text field, which is
// then filled with "*".
int f4assignDouble(COLUMN4* f, double value);

// Y fields: parses "[-]digits[.dddd]" (at most 4 decimals, at most 16 digits
// before the point, within the 64-bit range); -1 (not reported, field
// unchanged) for a text outside these limits.
int f4assignCurrency(COLUMN4* f, const char* text);

// T fields: "CCYYMMDD" followed by hh:mm:ss, optionally .ttt.
int f4dateTimeAssign(COLUMN4* f, const char* text);

// ---------------------------------------------------------------------------
// Reading operations.

// Pointer to the field's bytes in the current record buffer.
char* f4ptr(COLUMN4* f);
unsigned f4len(COLUMN4* f);
int f4decimals(COLUMN4* f);
// 1-based position of the field in its table.
int f4number(COLUMN4* f);
// Field name as stored (NUL padded to 11 bytes).
const char* f4name(COLUMN4* f);
// Reported type: C with the binary flag as 'Z', F as 'N', M with the binary
// flag as 'X', every other type as stored; -935 for a null COLUMN4.
int f4type(COLUMN4* f);

// Copies min(field length, size - 1) bytes and a zero byte; returns the
// bytes copied (0 for size 0).
unsigned f4ncpy(COLUMN4* f, char* dest, unsigned size);

// The field's bytes followed by two zero bytes, in the scratch buffer.
char* f4str(COLUMN4* f);

// 1 when the first byte, in upper case, is "Y" or "T". A field whose
// reported type is not L reports the type error and still answers.
int f4true(COLUMN4* f);

int f4int(COLUMN4* f);      // -1 with a type error
long f4long(COLUMN4* f);    // -1 with a type error
double f4double(COLUMN4* f);  // -1 with a type error

// Y fields: the value with `decimals` (0-4) decimals, cut, not rounded.
char* f4currency(COLUMN4* f, int decimals);

// T fields: "CCYYMMDDhh:mm:ss.ttt" (blanks for no date), trailing blanks
// removed.
char* f4dateTime(COLUMN4* f);

// 1 when the field may hold null and its null bit is set, else 0.
int f4null(COLUMN4* f);
