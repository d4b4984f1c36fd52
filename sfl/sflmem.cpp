// The tracked allocator's blocks: a header in front of the caller's area,
// linked into one circular list headed by a sentinel.
#include "sfl/sflmem.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr uint16_t kLiveTag = 0xA55A;
constexpr uint16_t kFreedTag = 0x5AA5;
constexpr int kMaxHandlers = 16;

struct alignas(std::max_align_t) BlockHeader {
  BlockHeader* next;
  BlockHeader* prev;
  uint16_t tag;
  size_t size;
  const char* file;
  int line;
};

BlockHeader gHead = {&gHead, &gHead, 0, 0, nullptr, 0};
TrackedStats gStats = {0, 0, 0};
void (*gHandlers[kMaxHandlers])() = {};
int gHandlerCount = 0;

BlockHeader* headerOf(void* block) { return static_cast<BlockHeader*>(block) - 1; }

void unlinkAndRelease(BlockHeader* h) {
  h->tag = kFreedTag;
  gStats.bytesInUse -= h->size;
  ++gStats.frees;
  h->prev->next = h->next;
  h->next->prev = h->prev;
  std::free(h);
}

}  // namespace

void* trackedAlloc(size_t size, const char* file, int line) {
  if (size > SIZE_MAX - sizeof(BlockHeader)) return nullptr;
  void* raw = std::malloc(sizeof(BlockHeader) + size);
  if (raw == nullptr) {
    for (int i = 0; i < gHandlerCount; ++i) gHandlers[i]();
    raw = std::malloc(sizeof(BlockHeader) + size);
    if (raw == nullptr) return nullptr;
  }
  BlockHeader* h = static_cast<BlockHeader*>(raw);
  h->tag = kLiveTag;
  h->size = size;
  h->file = file;
  h->line = line;
  h->prev = gHead.prev;
  h->next = &gHead;
  gHead.prev->next = h;
  gHead.prev = h;
  gStats.bytesInUse += size;
  ++gStats.allocations;
  return h + 1;
}

void trackedFree(void* block, const char* file, int line) {
  if (block == nullptr) return;
  BlockHeader* h = headerOf(block);
  if (h->tag != kLiveTag) {
    std::printf("Memory tag error - %p - %s (%d)\n", block, file ? file : "<Unknown>", line);
    std::fflush(stdout);
    std::abort();
  }
  unlinkAndRelease(h);
}

void trackedFreeAll() {
  while (gHead.next != &gHead) unlinkAndRelease(gHead.next);
}

TrackedStats trackedStats() { return gStats; }

bool trackedAddLowMemoryHandler(void (*handler)()) {
  if (gHandlerCount == kMaxHandlers) return false;
  gHandlers[gHandlerCount++] = handler;
  return true;
}
