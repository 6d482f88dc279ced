// Allocation-failure seam for test programs. The library's objects are linked
// statically into each test program with calloc and free wrapped, so a test
// can count the blocks a call allocates, make the n-th one fail (once, or
// from then on, as memory that stays exhausted), and check that every block
// was given back. The seam may be used from several threads at once.
#pragma once

#include <cstddef>

namespace qxtest {

// Counts calloc calls from now on; the call numbered failAt (1-based) returns
// null, and with `lasting` every later call too until the seam is disarmed.
// failAt 0 fails nothing.
void armAllocFailure(long failAt, bool lasting = false);
// Memory returns: nothing fails any more; the count goes on.
void disarmAllocFailure();
// calloc calls since the last arm (failed ones included).
long allocCalls();
// calloc calls that returned null since the last arm.
long failedAllocs();
// Blocks obtained through calloc and not yet freed.
long liveBlocks();

// Arms the seam for its lifetime.
class AllocFailure {
public:
    explicit AllocFailure(long failAt, bool lasting = false) { armAllocFailure(failAt, lasting); }
    ~AllocFailure() { disarmAllocFailure(); }
    AllocFailure(const AllocFailure &) = delete;
    AllocFailure &operator=(const AllocFailure &) = delete;
};

}  // namespace qxtest
