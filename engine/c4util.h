// Small utilities of the table engine: number <-> text conversions used by
// the numeric fields and the expression engine, file-name handling (absolute
// names, extensions, name pieces) on Linux paths, bounded string copies, the
// allocation routines and the circular object lists.
//
// Paths use "/" as separator; every routine that takes a name also accepts
// "\" as separator. Names are made absolute without touching the disk; the
// file layer matches existing names without regard to case when it opens them.
//
// Text writers that fill a fixed width (c4itoaRight, c4dtoa45) write exactly
// `width` characters and no terminating zero byte, because they write into
// record buffers.
#pragma once

#include <cstddef>

#include "engine/engine_core.h"

// ---------------------------------------------------------------------------
// Numbers.

// Decimal value of at most 127 bytes of `text` (len bytes, or up to a zero
// byte when len is negative), read as the C library reads a decimal integer:
// leading blanks and a sign allowed, stops at the first other character, no
// digits give 0. Values beyond the result type give its limit.
int c4textToInt(const char* text, int len);
long c4textToLong(const char* text, int len);

// Decimal value of at most 49 bytes, read as the C library reads a decimal
// number (no hexadecimal forms).
double c4textToReal(const char* text, int len);

// Right-aligned decimal text of `value` in |width| characters: blanks on the
// left, "-" before the first digit of a negative value. A negative width pads
// with "0" instead of blanks (a negative value then does not fit). A value
// that does not fit fills the width with "*".
void c4itoaRight(long value, char* dest, int width);

// Fixed-point text of `value` in `width` characters with `decimals` decimals
// (at most 15 and at most width - 1; none when decimals <= 0), rounded as the
// C library rounds, right-aligned, "-" before the first digit of a negative
// value. Returns 0, or e4overflow (-440, not reported) after filling the
// width with "*" when the value does not fit.
int c4dtoa45(double value, char* dest, int width, int decimals);

// Ends the text (within `size` bytes) before its trailing blanks by
// overwriting them with zero bytes; returns the remaining length.
int c4trimEnd(char* text, int size);

// ---------------------------------------------------------------------------
// Strings and names. Sizes count the terminating zero byte.

// Copies at most size - 1 characters of `src` and always ends `dest` with a
// zero byte; returns the characters copied. Size 0 is error -930.
unsigned u4ncpy(char* dest, const char* src, unsigned size);

// Makes `name` absolute against the current directory (no disk access, "."
// and ".." resolved, "\" taken as "/") into `dest`. Returns 0, or -930
// (reported) when the name is empty or the result does not fit `size` bytes.
int u4nameCurrent(char* dest, int size, const char* name);

// Removes "../" and "./" steps from `name` in place. Returns 0, or -1420
// (reported, name unchanged) for a ".." that has no directory to remove.
int u4nameFix(char* name);

// Gives `name` (a buffer of `size` bytes) the extension `ext` (with or
// without its leading "."). Trailing blanks are removed first. An extension
// already present in the last component stays unless `replace` is set.
// Returns 0, or -930 (reported, name unchanged) when the result does not fit.
int u4nameExt(char* name, int size, const char* ext, int replace);

// The file name of `name` without its directory (unless keepPath) and
// without its extension (unless keepExt), cut to size - 1 characters.
// Returns 0, or -930 for size 0.
int u4namePiece(char* dest, unsigned size, const char* name, int keepPath, int keepExt);

// The extension of `name` (the characters after the last "." of its last
// component), cut to size - 1 characters; returns its length.
int u4nameRetExt(char* dest, int size, const char* name);

// Joins a directory and a file name with one "/" between them. A name that
// starts with a separator is used unchanged. Linux paths have no drive
// letters, so `drive` is accepted for the interface and ignored. Returns 0,
// or -930 (reported) when the result does not fit `size` bytes.
int u4nameJoin(char* dest, int size, const char* drive, const char* directory, const char* name);

// Compares two names: -1, 0 or 1; without regard to ASCII letter case when
// ignoreCase is set (the context's nameIgnoreCase), else byte by byte.
int u4nameCompare(const char* a, const char* b, int ignoreCase);

// Value of an environment variable or null. A missing required variable is
// error -910 (fatal) "expected environment variable not set to a valid value".
const char* u4environ(const char* name, int required);

// Deletes a file ("\" accepted; an existing file is found without regard to
// case). Returns 0 or -1.
int u4remove(const char* name);

// ---------------------------------------------------------------------------
// Memory. Blocks come from the C heap (malloc family), so u4freeDefault and
// free() are interchangeable.

// Zeroed block of `size` bytes, or null.
void* u4allocFree(CODE4* c4, size_t size);
// The same, but a failure is reported as -920 (fatal).
void* u4allocErDefault(CODE4* c4, size_t size);
// Grows *ptr (of *size bytes) to newSize bytes keeping its contents and
// zeroing the new bytes; a block that is big enough is left alone. Returns 0,
// -930 (reported) for a null *ptr with a non-zero *size, or -920 (not
// reported; the old block stays valid) when memory runs out.
int u4allocAgainDefault(CODE4* c4, char** ptr, unsigned* size, unsigned newSize);
// Frees a block; null is allowed.
void u4freeDefault(void* ptr);

// ---------------------------------------------------------------------------
// Lists: circular doubly linked lists with a count. An object that goes into
// a list starts with a LINK4.

struct LINK4 {
  LINK4* n = nullptr;  // next
  LINK4* p = nullptr;  // previous
};

struct LIST4 {
  LINK4* lastNode = nullptr;  // null for an empty list
  LINK4* selected = nullptr;
  long nLink = 0;
};

// Appends `item` (not in any list) at the end.
void l4add(LIST4* list, void* item);
// Inserts `item` before / after `anchor` (a member of the list).
void l4addBefore(LIST4* list, void* anchor, void* item);
void l4addAfter(LIST4* list, void* anchor, void* item);
// Removes `item` (a member) from the list; clears its links.
void l4remove(LIST4* list, void* item);
// First / last member or null for an empty list.
void* l4first(const LIST4* list);
void* l4last(const LIST4* list);
// Member after / before `item`; null at the end. A null item gives the first
// (l4next) or the last (l4prev) member.
void* l4next(const LIST4* list, const void* item);
void* l4prev(const LIST4* list, const void* item);
// Removes and returns the last member, or null.
void* l4pop(LIST4* list);
long l4numNodes(const LIST4* list);
