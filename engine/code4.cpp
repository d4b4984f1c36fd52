// The engine context: start-up with the defaults of every setting, shut-down,
// closing every table of a context, and the date picture. Objects are taken
// from the ordinary heap; an allocation failure is reported as -920 "Out of
// Memory", which is fatal, exactly as an exhausted pool would be.
#include "engine/code4.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/data4.h"
#include "engine/error4_internal.h"

namespace {

std::atomic<int> liveContexts{0};

void SetDefaults(CODE4* c4) {
  c4->autoOpen = 1;
  c4->tempCreate = 0;
  c4->errDefaultUnique = STAT4UNIQUECONT;
  c4->failFieldName = 1;
  c4->errorsSilent = 0;
  c4->failOpen = 1;
  c4->keepExisting = 1;
  c4->formatLevel = 25;
  c4->codePageMark = 0;
  c4->failCreate = 1;
  c4->openReadOnly = 0;
  c4->shareMode = 0;
  c4->lockRetryDelay = 100;
  c4->lockTries = WAIT4EVER;
  c4->writeThrough = 0;
  c4->lockOnRead = 0;
  c4->readCache = -1;
  c4->failTagName = 1;
  c4->failGo = 1;
  c4->failSkip = 1;
  c4->requireRecordLock = 0;
  c4->autoUnlock = 1;
  c4->singleOpen = 1;
  c4->nameIgnoreCase = 1;
  c4->failExpression = 1;
  c4->memSizeBlock = 512;
  c4->indexBlockSize = 512;
  c4->indexPositionUnit = 1;
  c4->verifyIndexBlocks = 1;
  c4->memoExprLength = 1024;
  c4->generalCollation = 0;
  c4->collateChar = 0;
  c4->collateWide = 1;
  c4->sortPoolSize = 61440;
  c4->sortBufferSize = 32768;
  std::strcpy(c4->dateFormat, "MM/DD/YY");
}

}  // namespace

namespace engine4 {

void* allocOrFail(CODE4* c4, size_t size, long location) {
  void* p = std::calloc(1, size == 0 ? 1 : size);
  if (p == nullptr) error4report(c4, e4memory, location);
  return p;
}

int code4shutDown(CODE4* c4, bool closeTables) {
  c4->lastError = 0;
  if (closeTables) code4closeAll(c4);
  if (c4->exprDataFree != nullptr) c4->exprDataFree(c4);
  c4->exprData = nullptr;
  if (c4->indexDataFree != nullptr) c4->indexDataFree(c4);
  c4->indexData = nullptr;
  std::free(c4->fieldBuffer);
  c4->fieldBuffer = nullptr;
  c4->fieldBufferLen = 0;
  c4->initialized = 0;
  liveContexts.fetch_sub(1);
  return c4->lastError;
}

}  // namespace engine4

int code4init(CODE4* c4, long /*ignored*/, int version, int structSize, char singleThread) {
  if (c4 == nullptr) return error4report(nullptr, e4parmNull, LOC4code4init);
  if (version != S4VERSION) {
    char lib[48], hdr[48];
    std::snprintf(lib, sizeof lib, "Library: %ld", static_cast<long>(S4VERSION));
    std::snprintf(hdr, sizeof hdr, "Headers: %ld", static_cast<long>(version));
    return error4report(nullptr, e4version, LOC4code4init, lib, hdr);
  }
  if (structSize != 0 && structSize != static_cast<int>(sizeof(CODE4))) {
    char lib[64], hdr[64];
    std::snprintf(lib, sizeof lib, "Library struct size: %ld", static_cast<long>(sizeof(CODE4)));
    std::snprintf(hdr, sizeof hdr, "Header struct size: %ld", static_cast<long>(structSize));
    return error4reportAt(nullptr, e4verify, LOC4code4init, "structure size mismatch", lib, hdr);
  }
  std::memset(static_cast<void*>(c4), 0, sizeof(CODE4));
  liveContexts.fetch_add(1);
  SetDefaults(c4);
  c4->singleThread = singleThread;
  c4->seqNext = 1;
  // The worker threads of the file layer are not started: the block cache
  // they serve is never switched on, and sequential buffers go straight to
  // the file at their flush.
  c4->initialized = 1;
  return 0;
}

int code4initUndo(CODE4* c4) {
  if (c4 == nullptr) return e4parmNull;
  if (!c4->initialized) return 0;
  return engine4::code4shutDown(c4, true);
}

int code4closeAll(CODE4* c4) {
  if (c4 == nullptr) return error4report(nullptr, e4parmNull, LOC4code4closeAll);
  while (c4->tables != nullptr) {
    TABLE4* t = c4->tables;
    if (t->next == t) return -1;  // corrupt list: the walk would never end
    d4close(t);
    if (c4->tables == t) return -1;  // the table could not be unlinked
  }
  return c4->lastError < 0 ? c4->lastError : 0;
}

int code4indexFormat(CODE4* c4) {
  if (c4 == nullptr) {
    error4report(nullptr, e4parmNull, LOC4code4indexFormat);
    return 204;
  }
  return STAT4CDX;
}

int code4dateFormatSet(CODE4* c4, const char* picture) {
  if (c4 == nullptr || picture == nullptr)
    return error4report(nullptr, e4parmNull, LOC4code4dateFormatSet);
  if (std::strlen(picture) >= sizeof c4->dateFormat)
    return error4report(c4, e4parm, LOC4code4dateFormatSet, picture);
  std::strcpy(c4->dateFormat, picture);
  return 0;
}

const char* code4dateFormat(CODE4* c4) {
  if (c4 == nullptr) {
    error4report(nullptr, e4parmNull, LOC4code4dateFormatSet);
    return nullptr;
  }
  return c4->dateFormat;
}

int code4liveCount() { return liveContexts.load(); }
