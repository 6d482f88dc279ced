#include "alloc_seam.h"

#include <cstdlib>
#include <mutex>
#include <unordered_set>

extern "C" void *__real_calloc(size_t count, size_t size);
extern "C" void __real_free(void *p);

namespace {

struct SeamState {
    std::mutex lock;  // jobs on several threads allocate at once
    long failAt = 0;
    bool lasting = false;
    long calls = 0;
    long failed = 0;
    std::unordered_set<void *> live;  // grows through operator new, not calloc
};

// Never destroyed: frees made while the program exits still find it.
SeamState &state() {
    static SeamState *s = new SeamState;
    return *s;
}

bool failsNow(SeamState &s) {
    std::lock_guard<std::mutex> g(s.lock);
    ++s.calls;
    const bool fail = s.failAt != 0 && (s.calls == s.failAt || (s.lasting && s.calls > s.failAt));
    if (fail) ++s.failed;
    return fail;
}

}  // namespace

extern "C" void *__wrap_calloc(size_t count, size_t size) {
    SeamState &s = state();
    if (failsNow(s)) return nullptr;
    void *p = __real_calloc(count, size);
    if (p) {
        std::lock_guard<std::mutex> g(s.lock);
        s.live.insert(p);
    }
    return p;
}

extern "C" void __wrap_free(void *p) {
    if (p) {
        // Forgotten before it is freed, so an address calloc hands out again
        // on another thread is never erased by this call.
        SeamState &s = state();
        std::lock_guard<std::mutex> g(s.lock);
        s.live.erase(p);
    }
    __real_free(p);
}

namespace qxtest {

void armAllocFailure(long failAt, bool lasting) {
    SeamState &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    s.failAt = failAt;
    s.lasting = lasting;
    s.calls = 0;
    s.failed = 0;
}

void disarmAllocFailure() {
    SeamState &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    s.failAt = 0;
    s.lasting = false;
}

long allocCalls() {
    SeamState &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    return s.calls;
}

long failedAllocs() {
    SeamState &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    return s.failed;
}

long liveBlocks() {
    SeamState &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    return static_cast<long>(s.live.size());
}

}  // namespace qxtest
