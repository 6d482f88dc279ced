// The ink each quantised level of a plane lays, read from the library's
// dot-pattern tables, and the ladder of levels the quantiser chooses from so
// that the ink a plane delivers grows in step with the ink asked for.
//
// Ink model: one dot of a plane lays one unit of that plane's ink; a plain
// multi-bit dot of value v lays v units; a dot on the paired plane fed by a
// pattern-type-4 plane lays half a unit of the main plane's ink
// (kPairDotInk). With it, the nine levels of a paired plane lay 0, 1, ... 8
// half-units: equal steps. A level with several candidate patterns lays the
// mean of its candidates (the library draws among them evenly).
#ifndef QX316_FRONTEND_TONE_H
#define QX316_FRONTEND_TONE_H

#include "mode.h"

#include <cstdint>

namespace qx316 {

constexpr double kPairDotInk = 0.5;

// Ink units of a full pixel in the quantiser: 16 x 255, so that an 8-bit
// ink v is exactly 16 v units and every ladder used here (1, 2, 3, 4, 8 or
// 15 steps) has whole steps.
constexpr int kFullInk = 16 * 255;

// Mean ink of one pixel at `level` of a plane, in dots of the plane's own
// ink. paired: the plane's pattern type also fills a paired plane.
double levelInk(int bits, int tgl, bool paired, int level);

// The levels the quantiser prints, in increasing ink: level 0 (no ink)
// first, the plane's top level (maxLevel, what full ink prints) last, and
// between them every level whose ink lies strictly between its neighbours'.
// A level that lays no more ink than a lower one (a stall), or more than the
// top level, is left out.
struct InkLadder {
    int count = 0;           // rungs, 2 .. 16
    uint8_t level[16] = {};  // level printed at each rung
    int32_t ink[16] = {};    // its ink, 0 .. kFullInk
};

InkLadder inkLadder(int bits, int tgl, bool paired);

} // namespace qx316

#endif
