// Memo file and memo fields: creating, reading and writing memo blocks, and
// the f4memo operations on the memo cells of an open table.
#pragma once

#include "engine/engine_core.h"

int memo4fileCreate(MEMOFILE4* m, CODE4* c4, TABLE4FILE* data, const char* name);
int memo4fileOpen(MEMOFILE4* m, TABLE4FILE* data, const char* name);
int memo4fileClose(MEMOFILE4* m);
// Reads the memo at blockNo into *buf (grown as needed); *len gets its length.
int memo4fileRead(MEMOFILE4* m, long blockNo, char** buf, unsigned* bufLen, unsigned* len);
// Writes a memo text; *blockNo in: current block (0 none), out: new block.
int memo4fileWrite(MEMOFILE4* m, long* blockNo, const char* text, unsigned len);
int memo4fileLock(MEMOFILE4* m);
int memo4fileUnlock(MEMOFILE4* m);

int f4memoAssign(COLUMN4* f, const char* text);
int f4memoAssignN(COLUMN4* f, const char* bytes, unsigned len);
int f4memoSetLen(COLUMN4* f, unsigned len);
unsigned f4memoLen(COLUMN4* f);
char* f4memoPtr(COLUMN4* f);
const char* f4memoStr(COLUMN4* f);
int f4memoRead(COLUMN4* f);
int f4memoReadLow(COLUMN4* f);
void f4memoFree(COLUMN4* f);
void f4memoReset(COLUMN4* f);
int f4memoFlush(COLUMN4* f);
int f4memoWrite(COLUMN4* f);
int d4validateMemoIds(TABLE4* t);
