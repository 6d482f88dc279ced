// Allocation-failure seam for test programs. The library's objects are linked
// statically into each test program with calloc and free wrapped, so a test
// can count the blocks a call allocates, make the n-th one fail, and check
// that every block was given back.
#pragma once

#include <cstddef>

namespace qxtest {

// Counts calloc calls from now on; the call numbered failAt (1-based) returns
// null. failAt 0 fails nothing.
void armAllocFailure(long failAt);
void disarmAllocFailure();
// calloc calls since the last arm (failed ones included).
long allocCalls();
// Blocks obtained through calloc and not yet freed.
long liveBlocks();

// Arms the seam for its lifetime.
class AllocFailure {
public:
    explicit AllocFailure(long failAt) { armAllocFailure(failAt); }
    ~AllocFailure() { disarmAllocFailure(); }
    AllocFailure(const AllocFailure &) = delete;
    AllocFailure &operator=(const AllocFailure &) = delete;
};

}  // namespace qxtest
