// Handles for callers inside the library. A handle is the address of its
// zero-filled block, so locking yields the handle itself and unlocking does
// nothing; inside the library both compile to nothing at all. The exported
// QXVSLockHNDL and QXVSUnlockHNDL are these same two.
#pragma once

#include "qxdro316.h"

namespace qxvs {

inline void *lock(QXVSHandle h) { return h; }
inline void unlock(QXVSHandle) {}

}  // namespace qxvs
