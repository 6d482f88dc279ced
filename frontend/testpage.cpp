#include "testpage.h"

#include <algorithm>
#include <cstring>

namespace qx316 {

namespace {

struct Rgb { uint8_t r, g, b; };

void paint(uint8_t *row, int from, int to, Rgb c) {
    for (int x = from; x < to; ++x) {
        row[3 * x] = c.r;
        row[3 * x + 1] = c.g;
        row[3 * x + 2] = c.b;
    }
}

// Ink amount t (0..255) of one colour: C, M, Y, K, R, G, B.
Rgb inkColour(int which, int t) {
    const uint8_t v = uint8_t(255 - t);
    switch (which) {
    case 0: return {v, 255, 255};
    case 1: return {255, v, 255};
    case 2: return {255, 255, v};
    case 3: return {v, v, v};
    case 4: return {255, v, v};
    case 5: return {v, 255, v};
    default: return {v, v, 255};
    }
}

// A small deterministic hash for the text-like block.
uint32_t mix(uint32_t a) {
    a ^= a >> 16;
    a *= 0x7feb352d;
    a ^= a >> 15;
    a *= 0x846ca68b;
    a ^= a >> 16;
    return a;
}

} // namespace

TestPage::TestPage(int dpi) : dpi_(dpi), width_(in(8.27)), height_(in(11.69)) {
    blankFrom_ = in(4.6);
    blankTo_ = in(6.0);
    // Line 15 of a 16-line band is also line 7 of an 8-line band.
    lateStart_ = (blankTo_ + 15) / 16 * 16 + 15;
}

void TestPage::row(int y, uint8_t *out) const {
    std::memset(out, 255, size_t(width_) * 3);
    const int left = in(0.3), right = width_ - in(0.3);
    const int span = std::max(1, right - left);

    // Seven gradient strips, no ink at the left to full ink at the right.
    if (y >= in(0.5) && y < in(1.5)) {
        const int strip = (y - in(0.5)) * 7 / std::max(1, in(1.0));
        for (int x = left; x < right; ++x)
            paint(out, x, x + 1, inkColour(strip, (x - left) * 255 / span));
        return;
    }
    // Solid patches: every ink alone, the mixes, mid grey, rich black.
    if (y >= in(1.6) && y < in(2.2)) {
        const int w = std::max(1, (right - left) / 9);
        for (int i = 0; i < 7; ++i)
            paint(out, left + i * w, left + (i + 1) * w - in(0.05), inkColour(i, 255));
        paint(out, left + 7 * w, left + 8 * w - in(0.05), inkColour(3, 128));
        paint(out, left + 8 * w, left + 9 * w - in(0.05), {20, 20, 20});
        return;
    }
    // Fine lines on byte edges for 1, 2 and 4 bits per pixel: a one-pixel
    // column each side of every 64-pixel boundary, and single pixels
    // walking across a byte.
    if (y >= in(2.3) && y < in(2.8)) {
        for (int x = 64; x < width_; x += 64) {
            paint(out, x - 1, x, inkColour(3, 255));
            if (x < width_)
                paint(out, x, x + 1, inkColour((x / 64) % 3, 255));
        }
        const int k = y - in(2.3);
        const int x = left + (k % 64) * 9 + k % 8;
        if (x < width_)
            paint(out, x, x + 1, inkColour(3, 255));
        return;
    }
    // Text-like block: lines of word-sized black boxes.
    if (y >= in(3.0) && y < in(4.5)) {
        const int pitch = std::max(2, in(0.1)), glyph = std::max(1, in(0.06));
        const int lineNo = (y - in(3.0)) / pitch;
        if ((y - in(3.0)) % pitch >= glyph)
            return;
        int x = left;
        for (uint32_t word = 0; x < right; ++word) {
            const uint32_t h = mix(uint32_t(lineNo) * 1000003u + word);
            const int len = in(0.05) * int(1 + h % 8);
            const int gap = std::max(1, in(0.04));
            for (int c = 0; c < len && x < right; c += std::max(1, in(0.05))) {
                paint(out, x, std::min(right, x + std::max(1, in(0.04))), inkColour(3, 255));
                x += std::max(1, in(0.05));
            }
            x += gap;
        }
        return;
    }
    // y in [blankFrom_, blankTo_) stays white.
    // Ink starting late in a band and late in the line.
    if (y >= lateStart_ && y < lateStart_ + in(0.5)) {
        paint(out, width_ / 2 + 3, right, inkColour(1, 255));
        paint(out, width_ / 2 + 3 + in(0.5), width_ / 2 + 3 + in(1.0), inkColour(3, 200));
        return;
    }
    // Two-dimensional gradient: cyan across, yellow down.
    const int top = in(7.0), bottom = in(9.8);
    if (y >= top && y < bottom) {
        const int t = (y - top) * 255 / std::max(1, bottom - top);
        for (int x = left; x < right; ++x) {
            const int c = (x - left) * 255 / span;
            paint(out, x, x + 1, {uint8_t(255 - c), 255, uint8_t(255 - t)});
        }
    }
}

} // namespace qx316
