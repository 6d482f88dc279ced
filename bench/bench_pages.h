// A4 pages at 600 dpi for the peer benchmark and the instruction-count
// driver, generated deterministically (same bytes in every run and tree):
//   text    1 bit per pixel, lines of word-like black runs with white gaps
//   photo   4 bits per pixel, levels 0..8: smooth gradients with mild noise
//   random  random bytes, as many per line as a 4-bit line
// Blank pages need no generator: zero-filled lines of the same widths.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "qxdro316_inner.h"

namespace qxbench {

constexpr int kPageWidth = 4961;  // pixels: 210 mm at 600 dpi
constexpr int kPageLines = 7016;  // raster lines: 297 mm at 600 dpi
constexpr int kBytes1 = (kPageWidth + 7) / 8;  // 621 bytes per 1-bit line
constexpr int kBytes4 = (kPageWidth + 1) / 2;  // 2481 bytes per 4-bit line

// The plane modes measured and the print parameters that select them.
constexpr int kMode1Quality = 10, kMode1Media = 7, kMode1Color = 1;  // one 1-bit K plane
constexpr int kMode9Quality = 5, kMode9Media = 0, kMode9Color = 0;   // C, M, Y 4-bit levels + K 1-bit

inline PrintParams params(int quality, int media, int colorMode) {
    PrintParams p{};
    p.printQuality = static_cast<int16_t>(quality);
    p.mediaType = static_cast<int16_t>(media);
    p.colorMode = static_cast<int16_t>(colorMode);
    return p;
}

struct Rng {
    uint64_t s;
    explicit Rng(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint32_t next() {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(s >> 33);
    }
    int below(int n) { return static_cast<int>(next() % static_cast<uint32_t>(n)); }
};

struct Page {
    int bytesPerLine = 0;
    int lines = 0;
    std::vector<uint8_t> bytes;
    const uint8_t *line(int y) const { return bytes.data() + static_cast<size_t>(y) * static_cast<size_t>(bytesPerLine); }
    uint8_t *line(int y) { return bytes.data() + static_cast<size_t>(y) * static_cast<size_t>(bytesPerLine); }
    size_t size() const { return bytes.size(); }
};

inline Page emptyPage(int bytesPerLine, int lines) {
    Page p;
    p.bytesPerLine = bytesPerLine;
    p.lines = lines;
    p.bytes.assign(static_cast<size_t>(bytesPerLine) * static_cast<size_t>(lines), 0);
    return p;
}

inline void setPixel1(uint8_t *row, int x) { row[x >> 3] = static_cast<uint8_t>(row[x >> 3] | (0x80 >> (x & 7))); }

// Text: 1-inch margins, 12-point lines (100 raster lines: 70 of glyph rows,
// 30 of leading), words of 2..9 characters 24..44 pixels wide, paragraphs of
// 4..9 lines with a short last line and a blank line after. Each character
// has 1..3 vertical strokes 3..8 pixels wide that change every 6 rows, so the
// runs look like glyph rows rather than noise.
inline Page textPage(int lines = kPageLines) {
    Page page = emptyPage(kBytes1, lines);
    constexpr int kMargin = 600, kPitch = 100, kGlyphRows = 70, kSpace = 30;
    Rng layout(1);
    int paragraphLeft = 4 + layout.below(6);
    for (int top = kMargin; top + kPitch <= lines - kMargin; top += kPitch) {
        if (paragraphLeft-- == 0) {  // blank line between paragraphs
            paragraphLeft = 4 + layout.below(6);
            continue;
        }
        const int right = paragraphLeft == 0 ? kMargin + 800 + layout.below(2400) : kPageWidth - kMargin;
        struct Glyph {
            int x, width, id;
        };
        std::vector<Glyph> glyphs;
        for (int x = kMargin; x < right;) {
            const int chars = 2 + layout.below(8);
            for (int c = 0; c < chars && x < right; ++c) {
                const int w = 24 + layout.below(21);
                if (x + w > right) break;
                glyphs.push_back({x, w, static_cast<int>(layout.next())});
                x += w + 4;
            }
            x += kSpace;
        }
        for (int r = 0; r < kGlyphRows; ++r) {
            uint8_t *row = page.line(top + r);
            const bool xHeight = r >= 20 && r < 58;
            for (const Glyph &g : glyphs) {
                Rng stroke(static_cast<uint64_t>(g.id) * 131 + static_cast<uint64_t>(r / 6));
                // Ascenders and descenders: only some glyphs reach those rows.
                if (!xHeight && stroke.below(4) != 0) continue;
                const int strokes = 1 + stroke.below(3);
                for (int s = 0; s < strokes; ++s) {
                    const int w = 3 + stroke.below(6);
                    const int at = g.x + stroke.below(g.width - w);
                    for (int x = at; x < at + w; ++x) setPixel1(row, x);
                }
            }
        }
    }
    return page;
}

// Photo: 5 mm white margins, then levels 0..8 from two slow waves whose
// phases differ per plane, with one pixel in four moved a level up or down.
// Fewer lines than a page give the top of the A4 page.
inline Page photoPage(int plane, int lines = kPageLines) {
    Page page = emptyPage(kBytes4, lines);
    constexpr int kMargin = 118;
    Rng noise(100 + static_cast<uint64_t>(plane));
    const double phase = 2.1 * plane;
    // v = 0.5 + 0.3 sin(0.0011 x + 0.0007 y + phase) + 0.2 cos(0.0031 x - 0.0023 y + phase / 2),
    // each wave split into a product of x and y terms (cheap under valgrind).
    std::vector<double> s1(kPageWidth), c1(kPageWidth), s2(kPageWidth), c2(kPageWidth);
    for (int x = 0; x < kPageWidth; ++x) {
        s1[x] = std::sin(x * 0.0011);
        c1[x] = std::cos(x * 0.0011);
        s2[x] = std::sin(x * 0.0031);
        c2[x] = std::cos(x * 0.0031);
    }
    for (int y = kMargin; y < lines && y < kPageLines - kMargin; ++y) {
        uint8_t *row = page.line(y);
        const double a = y * 0.0007 + phase, b = y * 0.0023 - 0.5 * phase;
        const double sa = 0.3 * std::sin(a), ca = 0.3 * std::cos(a), sb = 0.2 * std::sin(b), cb = 0.2 * std::cos(b);
        for (int x = kMargin; x < kPageWidth - kMargin; ++x) {
            const double v = 0.5 + s1[x] * ca + c1[x] * sa + c2[x] * cb + s2[x] * sb;
            int level = static_cast<int>(v * 8.0 + 0.5);
            const uint32_t n = noise.next();
            if ((n & 3) == 0) level += (n & 4) ? 1 : -1;
            level = level < 0 ? 0 : level > 8 ? 8 : level;
            row[x >> 1] = static_cast<uint8_t>(row[x >> 1] | ((x & 1) ? level : level << 4));
        }
    }
    return page;
}

inline Page randomPage(int lines = kPageLines) {
    Page page = emptyPage(kBytes4, lines);
    Rng rng(7);
    for (auto &b : page.bytes) b = static_cast<uint8_t>(rng.next());
    return page;
}

// Non-zero 4-bit pixels: the levels the dot patterns draw.
inline int64_t nonZeroNibbles(const Page &page) {
    int64_t n = 0;
    for (uint8_t b : page.bytes) n += ((b >> 4) != 0) + ((b & 0x0F) != 0);
    return n;
}

// One page through the job calls as a front end drives them: every line is
// handed over with its data (null for a plane without a page), every
// returned chunk list is read (its lengths summed, as if written), and the
// page ends with OutputFlush unless `flush` is false. `around(y, call)` wraps
// each line's OutputProduceTwo + OutputComplete pair. Returns the bytes of
// the printer stream, or -1 when a call failed.
struct JobPlanes {
    const Page *page[QXDRO_MAX_PLANES] = {};
    int16_t width[QXDRO_MAX_PLANES] = {};
};

struct NoWrap {
    template <class F>
    void operator()(int, F &&call) const { call(); }
};

// The four input planes of a mode 9 job: C, M, Y at 4 bits, K at 1 bit.
inline JobPlanes mode9Planes(const Page *c, const Page *m, const Page *y, const Page *k) {
    JobPlanes j;
    j.page[0] = c;
    j.page[1] = m;
    j.page[2] = y;
    j.page[3] = k;
    for (int p = 0; p < 4; ++p) j.width[p] = kPageWidth;
    return j;
}

template <class Around = NoWrap>
int64_t runJob(const PrintParams &pp, const JobPlanes &planes, int lines, bool flush = true, Around around = {}) {
    QXVSHandle h = nullptr, list = nullptr;
    int64_t out = 0;
    bool ok = OutputOpen(&h) == QXDRO_OPENED && OutputInitTwo(&h, &pp, QXDRO_MODEL_CODE) == 0 &&
              OutputInitPart(&h, &pp) == 0;
    RasterLineRecord rec{};
    for (int p = 0; p < QXDRO_MAX_PLANES; ++p) rec.planes[p].width = planes.width[p];
    auto sum = [&] {
        const OutputList *l = static_cast<const OutputList *>(list);
        for (int i = 0; i < l->count; ++i) out += l->items[i].length;
    };
    for (int y = 0; ok && y < lines; ++y) {
        rec.lineNumber = y;
        for (int p = 0; p < QXDRO_MAX_PLANES; ++p)
            rec.planes[p].data = planes.page[p] ? planes.page[p]->line(y % planes.page[p]->lines) : nullptr;
        around(y, [&] {
            ok = OutputProduceTwo(&h, &rec, &list) == 0;
            if (ok) sum();
            ok = ok && OutputComplete(&h) == 0;
        });
    }
    if (ok && flush) {
        ok = OutputFlush(&h, &list) == 0;
        if (ok) sum();
        ok = ok && OutputComplete(&h) == 0;
    }
    OutputClose(&h);
    return ok ? out : -1;
}

}  // namespace qxbench
