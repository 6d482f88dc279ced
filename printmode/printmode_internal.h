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


// The lookups for callers inside the library: plain values in, no job record.
// A head index outside 0..2 or a plane outside 0..6 gives 0.
int bitDepth(int qualityCode, int mediaCode, int colorMode, int plane, int compositeMode, int head);
int patternType(int qualityCode, int mediaCode, int colorMode, int plane, int compositeMode, int head);
// 8 on banner paper, for the two lowest qualities on plain media and for
// doubled pattern types on plane 0; else 16.
int16_t bandHeight(int qualityCode, int mediaCode, bool bannerPaper, int firstPatternType);

// What a job is set up with, for one set of print parameters.
struct ModeDescription {
    int16_t head;
    int16_t planeMode;  // 0: no mode prints these parameters
    int8_t in, out, base;
    int8_t bits[kPlanes];         // per output plane
    int8_t patternType[kPlanes];  // per output plane
    int16_t bandHeight;
};
ModeDescription describe(const PrintParams &params);

}  // namespace qx::printmode
