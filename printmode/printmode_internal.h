// Print-mode configuration internals: table geometry, shared by the lookups
// and the table checks.
#pragma once

#include <cstdint>

#include "plane_modes.h"
#include "qxdro316_inner.h"

namespace qx::printmode {

inline constexpr int kHeads = 3;      // print head index 0..2
inline constexpr int kQualities = 5;  // quality index 0..4
inline constexpr int kMedia = 13;     // media class 0..12
inline constexpr int kPlanes = QXDRO_MAX_PLANES;  // output plane index 0..6

constexpr int modeIndex(int h, int q, int m) { return h * 65 + q * 13 + m; }
constexpr int bitIndex(int h, int q, int m, int p) { return h * 455 + q * 91 + m * 7 + p; }


}  // namespace qx::printmode
