#include "tone.h"

#include "pattern_types.h"
#include "qxdro316_inner.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace qx316 {

namespace {

// Mean dots of a table row's candidates. Columns past a level's candidates
// hold 00, so the candidates are the row's non-zero patterns (a row of none
// prints no dots). second: the paired plane's row of the same draw, or null.
template <size_t C>
double meanDots(const uint8_t (&row)[C], const uint8_t (*second)[C] = nullptr, double secondInk = 0) {
    int candidates = 0;
    double dots = 0;
    for (size_t c = 0; c < C; ++c) {
        const unsigned a = row[c], b = second ? (*second)[c] : 0u;
        if (a == 0 && b == 0)
            continue;
        ++candidates;
        dots += std::popcount(a) + secondInk * std::popcount(b);
    }
    return candidates ? dots / candidates : 0.0;
}

} // namespace

double levelInk(int bits, int tgl, bool paired, int level) {
    if (level < 0 || level > maxLevel(bits, tgl))
        return 0;
    switch (qxraster::patternType(tgl).table) {
    case qxraster::DotTable::kNone: return level; // plain dots: the level is the dot
    // A 2-bit pixel is the right half of a table row whose left pixel is 0.
    case qxraster::DotTable::kPtr2bit3_2: return meanDots(Ptr2bit3_2[level]);
    case qxraster::DotTable::kPtr4bit5_1: return meanDots(Ptr4bit5_1[level]);
    case qxraster::DotTable::kPtr4bit5_2: return meanDots(Ptr4bit5_2[level]);
    case qxraster::DotTable::kPtr44bit9_1:
        // Without a paired plane the second pattern is not printed.
        return meanDots(Ptr44bit9_1_5p[level], &Ptr44bit9_1_2p[level], paired ? kPairDotInk : 0.0);
    case qxraster::DotTable::kPtr8bit9_1: return meanDots(Ptr8bit9_1[level]);
    case qxraster::DotTable::kTable8bit9: return meanDots(Table8bit9[level]);
    }
    return 0;
}

InkLadder inkLadder(int bits, int tgl, bool paired) {
    const int top = maxLevel(bits, tgl);
    const double full = levelInk(bits, tgl, paired, top);
    struct Rung { double ink; int level; };
    Rung rungs[16];
    int n = 0;
    for (int l = 1; l < top && l < 16; ++l) {
        const double ink = levelInk(bits, tgl, paired, l);
        if (ink > 0 && ink < full)
            rungs[n++] = {ink, l};
    }
    std::sort(rungs, rungs + n, [](const Rung &a, const Rung &b) { return a.ink < b.ink || (a.ink == b.ink && a.level < b.level); });
    InkLadder lad;
    lad.level[0] = 0;
    lad.ink[0] = 0;
    lad.count = 1;
    for (int i = 0; i < n; ++i) {
        const int32_t ink = int32_t(std::lround(rungs[i].ink / full * kFullInk));
        if (ink > lad.ink[lad.count - 1] && ink < kFullInk) {
            lad.level[lad.count] = uint8_t(rungs[i].level);
            lad.ink[lad.count++] = ink;
        }
    }
    lad.level[lad.count] = uint8_t(top);
    lad.ink[lad.count++] = kFullInk;
    return lad;
}

} // namespace qx316
