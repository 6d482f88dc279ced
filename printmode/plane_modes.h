// The plane modes: for each, the input and output planes, the plane band
// positions follow, the plane that holds K, the output planes fed twice by
// an input plane, and the colour-select letters that name the planes to the
// printer. Everything else that depends on a plane mode is worked out from
// this table.
#pragma once

#include <cstdint>

namespace qx::printmode {

struct PlaneMode {
    int8_t in;          // input planes handed over per line
    int8_t out;         // output planes the printer receives
    int8_t base;        // the plane whose band positions the job follows
    int8_t kPlane;      // output plane holding K, or -1
    int8_t pairOffset;  // input plane p (pattern type 4) also feeds output plane p + pairOffset; 0: none
    char letters[8];    // colour-select letters of all output planes, in plane order
};

// C M Y K as the printer names them; c m y (light inks) have the high bit set.
constexpr char kC = 'C', kM = 'M', kY = 'Y', kK = 'K';
constexpr char kLightC = static_cast<char>(0xC3), kLightM = static_cast<char>(0xCD), kLightY = static_cast<char>(0xD9);

// Modes 0..9; 0 and any unknown mode count as one plane and name none.
constexpr PlaneMode kPlaneModes[10] = {
    {1, 1, 0, -1, 0, {}},                                          // 0: no mode
    {1, 1, 0, 0, 0, {kK}},                                         // 1: K
    {3, 3, 0, -1, 0, {kC, kM, kY}},                                // 2: C M Y
    {3, 3, 0, -1, 0, {kLightC, kLightM, kLightY}},                 // 3: c m y
    {3, 3, 0, -1, 0, {kLightC, kLightM, kLightY}},                 // 4: c m y
    {4, 4, 3, 3, 0, {kC, kM, kY, kK}},                             // 5: C M Y K
    {6, 6, 0, -1, 0, {kC, kM, kY, kLightC, kLightM, kLightY}},     // 6: C M Y c m y
    {3, 6, 0, -1, 3, {kC, kM, kY, kLightC, kLightM, kLightY}},     // 7: C M Y, paired c m y
    {7, 7, 3, 3, 0, {kC, kM, kY, kK, kLightC, kLightM, kLightY}},  // 8: C M Y K c m y
    {4, 7, 3, 3, 4, {kC, kM, kY, kK, kLightC, kLightM, kLightY}},  // 9: C M Y K, paired c m y
};

constexpr const PlaneMode &modeInfo(int mode) { return kPlaneModes[mode >= 1 && mode <= 9 ? mode : 0]; }

constexpr int letterCount(const PlaneMode &m) {
    int n = 0;
    while (n < 8 && m.letters[n] != 0) ++n;
    return n;
}

constexpr bool modesAreConsistent() {
    for (int mode = 1; mode <= 9; ++mode) {
        const PlaneMode &m = kPlaneModes[mode];
        if (letterCount(m) != m.out || m.in > m.out || m.base >= m.in) return false;
        if (m.kPlane >= 0 && m.letters[m.kPlane] != kK) return false;
        if ((m.pairOffset != 0) != (m.in < m.out) || (m.pairOffset != 0 && m.in + m.pairOffset > m.out + 1))
            return false;
    }
    return true;
}
static_assert(modesAreConsistent(), "planes, K plane, pairs and letters of every plane mode agree");

}  // namespace qx::printmode
