// File layer: DISK4 operations over the platform file and lock services, and
// the sequential reader and writer. Every byte the engine reads or writes
// passes through here. Errors are reported through error4report with the file
// name as text. Byte-range locks follow the portal's shared layout (see
// lock4.cpp for the positions of the table locks).
#pragma once

#include "engine/engine_core.h"

// Opens an existing file (read/write unless it is read-only or openReadOnly
// is set). copyName: 1 makes an owned copy of the name, 0 borrows it.
// Returns 0, the quiet STAT4NOOPEN (failOpen 0) or an error code.
int file4open(DISK4* f, CODE4* c4, const char* name, int copyName);

// Creates a file (a temporary file when name is null). Returns 0,
// STAT4NOCREATE (quiet with failCreate 0) or an error code.
int file4create(DISK4* f, CODE4* c4, const char* name, int copyName);

// Creates a temporary file "TEMPnnnn.ext" in TEMP, TMP or the current
// directory; ext null means "TMP".
int file4temp(DISK4* f, CODE4* c4, int removeOnClose, int useTempDir, const char* ext);

int file4close(DISK4* f);

// Bytes read (short at end of file); 0 after an error.
unsigned file4read(DISK4* f, FILE4LONG pos, void* buf, unsigned len);
// 0, or -70 when fewer bytes arrive.
int file4readAll(DISK4* f, FILE4LONG pos, void* buf, unsigned len);
int file4write(DISK4* f, FILE4LONG pos, const void* buf, unsigned len);
FILE4LONG file4len(DISK4* f);
int file4lenSet(DISK4* f, FILE4LONG len);
int file4flush(DISK4* f);
int file4refresh(DISK4* f);

// Locks len bytes at pos, trying lockTries times; 0, STAT4LOCKED or error.
int file4lock(DISK4* f, FILE4LONG pos, FILE4LONG len);
int file4unlock(DISK4* f, FILE4LONG pos, FILE4LONG len);

// Sequential writer: the buffer is split in two halves (size / 2 rounded down
// to 512, at most 32256); below 1024 bytes every write goes to the file.
int file4seqWriteInit(FILE4SEQ_WRITE* s, DISK4* f, FILE4LONG startPos, void* buffer,
                      unsigned bufferLen);
int file4seqWrite(FILE4SEQ_WRITE* s, const void* bytes, unsigned len);
int file4seqWriteRepeat(FILE4SEQ_WRITE* s, long count, char ch);
int file4seqWriteFlush(FILE4SEQ_WRITE* s);

int file4seqReadInit(FILE4SEQ_READ* s, DISK4* f, FILE4LONG startPos, void* buffer,
                     unsigned bufferLen);
unsigned file4seqRead(FILE4SEQ_READ* s, void* buf, unsigned len);
int file4seqReadAll(FILE4SEQ_READ* s, void* buf, unsigned len);
