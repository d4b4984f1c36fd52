// Helpers shared by the engine's own source files (not part of the public
// interface): context shut-down, pending-error checks and allocation that
// reports -920.
#pragma once

#include <cstddef>

#include "engine/engine_core.h"

namespace engine4 {

// Shut-down steps of code4initUndo; closeTables false on the fatal path.
int code4shutDown(CODE4* c4, bool closeTables);

// True when the context refuses work because an error is pending.
inline bool refused(const CODE4* c4) { return c4 == nullptr || c4->lastError < 0; }

// Zeroed heap block, or null after reporting -920 (fatal) at `location`.
void* allocOrFail(CODE4* c4, size_t size, long location);

}  // namespace engine4
