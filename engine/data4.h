// Tables: create, open and close, field lookup, record movement, reading and
// writing records, appending, and the table lock operations.
#pragma once

#include "engine/engine_core.h"

// Create, open, close.
TABLE4* d4create(CODE4* c4, const char* name, const FIELDSPEC4* fields, const TAGSPEC4* tags);
TABLE4* d4open(CODE4* c4, const char* name);
int d4close(TABLE4* t);

// Fields.
COLUMN4* d4field(TABLE4* t, const char* name);
COLUMN4* d4fieldJ(TABLE4* t, int number);
int d4fieldNumber(TABLE4* t, const char* name);
int d4numFields(TABLE4* t);
const char* d4alias(TABLE4* t);
CODE4* d4codeBase(TABLE4* t);

// Records.
int d4go(TABLE4* t, long recNo);
int d4goEof(TABLE4* t);
int d4top(TABLE4* t);
int d4bottom(TABLE4* t);
int d4skip(TABLE4* t, long n);
long d4recNo(TABLE4* t);
long d4recCount(TABLE4* t);
int d4eof(TABLE4* t);
int d4bof(TABLE4* t);
char* d4record(TABLE4* t);
int d4recWidth(TABLE4* t);
int d4changed(TABLE4* t, int flag);
int d4blank(TABLE4* t);
int d4readOld(TABLE4* t, long recNo);
int d4write(TABLE4* t, long recNo, int unlock, int lock);
int d4updateRecord(TABLE4* t, int unlock, int lock);
int d4update(TABLE4* t);
int d4flushData(TABLE4* t);
int d4flush(TABLE4* t);
int d4appendStart(TABLE4* t, int useMemoEntries);
int d4append(TABLE4* t);

// Locks.
int d4lock(TABLE4* t, long recNo);
int d4lockAppend(TABLE4* t);
int d4lockFile(TABLE4* t);
int d4lockAll(TABLE4* t);
int d4lockTest(TABLE4* t, long recNo);
int d4lockTestAppend(TABLE4* t);
int d4lockTestFile(TABLE4* t);
int d4unlock(TABLE4* t);
int d4unlockData(TABLE4* t);
int d4unlockFile(TABLE4* t);
int d4unlockAppend(TABLE4* t);
int d4unlockRecords(TABLE4* t);
int d4unlockRecord(TABLE4* t, long recNo);
