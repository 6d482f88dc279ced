#include "alloc_seam.h"

#include <cstdlib>
#include <unordered_set>

extern "C" void *__real_calloc(size_t count, size_t size);
extern "C" void __real_free(void *p);

namespace {

struct SeamState {
    long failAt = 0;
    long calls = 0;
    std::unordered_set<void *> live;  // grows through operator new, not calloc
};

SeamState &state() {
    static SeamState s;
    return s;
}

}  // namespace

extern "C" void *__wrap_calloc(size_t count, size_t size) {
    SeamState &s = state();
    ++s.calls;
    if (s.failAt != 0 && s.calls == s.failAt) return nullptr;
    void *p = __real_calloc(count, size);
    if (p) s.live.insert(p);
    return p;
}

extern "C" void __wrap_free(void *p) {
    if (p) state().live.erase(p);
    __real_free(p);
}

namespace qxtest {

void armAllocFailure(long failAt) {
    state().failAt = failAt;
    state().calls = 0;
}

void disarmAllocFailure() { state().failAt = 0; }

long allocCalls() { return state().calls; }

long liveBlocks() { return static_cast<long>(state().live.size()); }

}  // namespace qxtest
