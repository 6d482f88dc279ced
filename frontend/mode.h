// What the library makes of a set of print options, asked once through its
// exported print-mode functions: nothing else in the project derives plane
// modes, planes, bits, pattern types or band heights.
#ifndef QX316_FRONTEND_MODE_H
#define QX316_FRONTEND_MODE_H

#include "options.h"

#include <cstdint>
#include <string>

namespace qx316 {

// Input plane d is output plane d; modes 7 and 9 print more planes than the
// host supplies (the library feeds the paired planes).
struct ModeInfo {
    int planeMode = 0;
    int inPlanes = 0;
    int outPlanes = 0;
    int basePlane = 0;
    int bandHeight = 0;
    int bits[QXDRO_MAX_PLANES] = {};  // bits per pixel of each output plane
    int tgl[QXDRO_MAX_PLANES] = {};   // pattern type of each output plane
    uint8_t letters[QXDRO_MAX_PLANES] = {}; // colour-select letters ('C', ..., 0xC3, 0xCD, 0xD9)
    int kIndex = -1;                  // input plane that carries K, -1 = none
    int maxWidth = 0;                 // widest line in pixels (left offset included) the mode accepts
    std::string problem;              // empty when the library accepts the options
};

ModeInfo queryMode(const PrintOptions &o);

// The library's media class (0 to 12) of a media code: codes of one class
// print alike.
int mediaClass(int mediaCode);

// Whether the options print with the black plane alone (plane mode 1): what
// a black-only request must get, or else be refused or offered no longer.
inline bool printsBlackOnly(const ModeInfo &m) { return m.problem.empty() && m.planeMode == 1; }

// The output plane that input plane d's patterns also fill (pattern type 4
// in a mode with paired planes), or -1.
int pairedPlane(const ModeInfo &m, int d);

// Largest value a quantised pixel of a plane takes.
int maxLevel(int bits, int tgl);
// Stream bits per input pixel of a plane, and bits per printed dot: pattern
// planes send one bit per dot, plain planes their pixels as they are.
int streamBitsPerPixel(int bits, int tgl);
int bitsPerDot(int bits, int tgl);

// Printable name of a colour-select letter: "C", "M", "Y", "K", "C3", "CD", "D9".
std::string planeLabel(uint8_t letter);
// "plane mode 9: C M Y 4-bit paired, K 1-bit, 16-line bands"
std::string describeMode(const ModeInfo &m);

} // namespace qx316

#endif
