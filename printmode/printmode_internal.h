// Print-mode configuration internals: table geometry and the plane
// counts of each plane mode, shared by the lookups and the table checks.
#pragma once

#include <cstdint>

#include "qxdro316_inner.h"

namespace qx::printmode {

inline constexpr int kHeads = 3;      // print head index 0..2
inline constexpr int kQualities = 5;  // quality index 0..4
inline constexpr int kMedia = 13;     // media class 0..12
inline constexpr int kPlanes = QXDRO_MAX_PLANES;  // output plane index 0..6

constexpr int modeIndex(int h, int q, int m) { return h * 65 + q * 13 + m; }
constexpr int bitIndex(int h, int q, int m, int p) { return h * 455 + q * 91 + m * 7 + p; }

struct PlaneCounts {
    int in, out, base;
};

// Input and output plane counts and base plane of a plane mode; 0 and any
// unknown mode count as one plane.
constexpr PlaneCounts planeCounts(int16_t mode) {
    switch (mode) {
        case 2: case 3: case 4: return {3, 3, 0};
        case 5: return {4, 4, 3};
        case 6: return {6, 6, 0};
        case 7: return {3, 6, 0};
        case 8: return {7, 7, 3};
        case 9: return {4, 7, 3};
        default: return {1, 1, 0};  // 1, 0 and any other
    }
}

}  // namespace qx::printmode
