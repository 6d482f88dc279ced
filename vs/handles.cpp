// Handles and memory blocks. A handle is the address of a
// zero-filled calloc block; locking yields the handle itself. calloc and free
// are the only platform calls of the library (tests wrap exactly these two).
#include "qxdro316.h"
#include "vs_internal.h"

#include <cstdlib>

namespace {

// Zero-filled block of size bytes, or null for size <= 0 or exhausted memory.
void *newBlock(int32_t size) {
    if (size <= 0) return nullptr;
    return std::calloc(static_cast<size_t>(size), 1);
}

}  // namespace

extern "C" {

QXVSHandle QXVSNewHNDL(int32_t size) { return newBlock(size); }

void QXVSDisposeHNDL(QXVSHandle *handleVar) {
    if (handleVar == nullptr || *handleVar == nullptr) return;
    std::free(*handleVar);
    *handleVar = nullptr;
}

void *QXVSLockHNDL(QXVSHandle h) { return qxvs::lock(h); }

void QXVSUnlockHNDL(QXVSHandle h) { qxvs::unlock(h); }

void *QXVSNewPTR(int32_t size) { return newBlock(size); }

void QXVSDisposePTR(void *p) {
    if (p != nullptr) std::free(p);
}

int32_t QXVSGetSystemInfo(int32_t query, int32_t *result) {
    if (result == nullptr) return QXDRO_ERR_ARGUMENT;
    *result = 0;
    if (query != 1) return QXDRO_ERR_ARGUMENT;
    *result = 3;
    return 0;
}

}  // extern "C"
