// The tracked allocator: every block handed out hangs on one process-wide
// list, so a program can release all of them on its single exit path
// (trackedFreeAll) instead of freeing each one where it was used. A tag in
// each block's header catches frees of pointers that aren't live blocks.
//
// Not thread-safe: a CGI program allocates on one thread.
#pragma once

#include <cstddef>

// The caller's area (aligned for any type) of a new block of `size` bytes,
// or null when memory runs out even after every low-memory handler has run
// once. `file` and `line` name the allocating call for the tag-error
// report; `file` may be null.
void* trackedAlloc(size_t size, const char* file, int line);
// Frees one block; null does nothing. A pointer that isn't a live block
// (its tag is wrong) is a programming error: the report "Memory tag error -
// <address> - <file> (<line>)" goes to standard output and the process
// aborts.
void trackedFree(void* block, const char* file, int line);
// Frees every block still on the list.
void trackedFreeAll();

// The allocator's counters.
struct TrackedStats {
  size_t bytesInUse;   // sizes of the live blocks
  size_t allocations;  // blocks handed out since the start
  size_t frees;        // blocks freed since the start
};
TrackedStats trackedStats();

// Registers a callback that may release memory; run once each when an
// allocation fails, before the one retry. Returns false when the table (16
// handlers) is full.
bool trackedAddLowMemoryHandler(void (*handler)());

#define sflAlloc(size) trackedAlloc((size), __FILE__, __LINE__)
#define sflFree(block) trackedFree((block), __FILE__, __LINE__)
