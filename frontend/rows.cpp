#include "rows.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qx316 {

namespace {

struct FormatInfo {
    const char *name;
    int samples;  // samples a pixel (halftoned formats: 1-bit planes)
    int bytes;    // bytes a sample; 0 for 1-bit formats
};

constexpr FormatInfo kFormats[kRowFormatCount] = {
    {"8-bit gray", 1, 1}, {"8-bit RGB", 3, 1}, {"8-bit CMYK", 4, 1}, {"16-bit gray", 1, 2},
    {"16-bit RGB", 3, 2}, {"16-bit CMYK", 4, 2}, {"1-bit K", 1, 0},  {"1-bit C, M, Y, K planes", 4, 0},
};

const FormatInfo &info(RowFormat f) { return kFormats[int(f)]; }

// True when every byte of [p, p + n) equals v: 64 bytes at a time in SSE2
// registers where the target has them, then words, then bytes.
bool allBytes(const uint8_t *p, size_t n, uint8_t v) {
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i want = _mm_set1_epi8(char(v));
    const auto same = [&](size_t at) {
        return _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p + at)), want);
    };
    for (; i + 64 <= n; i += 64) {
        const __m128i eq =
            _mm_and_si128(_mm_and_si128(same(i), same(i + 16)), _mm_and_si128(same(i + 32), same(i + 48)));
        if (_mm_movemask_epi8(eq) != 0xFFFF)
            return false;
    }
    for (; i + 16 <= n; i += 16)
        if (_mm_movemask_epi8(same(i)) != 0xFFFF)
            return false;
#endif
    uint64_t pattern;
    std::memset(&pattern, v, sizeof pattern);
    for (; i + 8 <= n; i += 8) {
        uint64_t x;
        std::memcpy(&x, p + i, sizeof x);
        if (x != pattern)
            return false;
    }
    for (; i < n; ++i)
        if (p[i] != v)
            return false;
    return true;
}

// dst[i] |= src[i] for n bytes, a word at a time.
void orBytes(uint8_t *dst, const uint8_t *src, size_t n) {
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t a, b;
        std::memcpy(&a, dst + i, 8);
        std::memcpy(&b, src + i, 8);
        a |= b;
        std::memcpy(dst + i, &a, 8);
    }
    for (; i < n; ++i)
        dst[i] |= src[i];
}

// The diffusion's weights and threshold modulation for a tone at fraction g
// of the way from one ladder rung to the next. Key tones at g = 0, 1/16,
// 2/16, ... 1 have their own set and tones between two keys blend them
// linearly. A tone below the half-way point and its mirror above it have
// separate keys: the same set does not serve both equally well once the
// threshold modulation and the serpentine scan are in play. The end keys
// serve tones within 1/16 of a rung, whose dots are sparse (or whose gaps
// are) and far apart.
// The sets were chosen for the least low-frequency energy (below 1/8 cycle a
// pixel) against Floyd-Steinberg's on the flat 1-bit, 2-bit and 4-bit paired
// patches each key serves: a scan of weights in steps of 1/16 (1/8 for the
// end keys) and modulations of up to 1/8 of a step either way, then single
// changes of 1/32 or 1/16 of a weight or of the modulation, kept where they
// lowered the excess over the baseline summed over all those patches. Sets
// that serve tones whose dots (or gaps) are sparse, where dots line up into
// worms, were admitted only with an isotropic texture: 1/16, 2/16, 14/16 and
// 15/16 of full ink on a 1-bit plane (g = 1/16, 2/16, 14/16, 15/16), 1/16
// and 15/16 on a 2-bit plane (g = 3/16, 13/16). A tone at one of the ordered
// matrix's patterns prints the pattern (latticeFor), so the keys at g = 4/16,
// 6/16, 8/16, 10/16 and 12/16 serve the tones a few codes beside one; the
// sets there were chosen on every code within 1/16 of the key on a 1-bit
// and a 2-bit plane, where sets that hold a lattice break into seams. The
// end keys serve tones just off a rung; sets sending 5/8 ahead came out
// lowest there. docs/tone.md has the measures.
struct ToneShape {
    int w[3];   // /256: to the next pixel, below behind, below ahead; below takes the rest
    int amp;    // the threshold moves by up to amp / 512 of a step either way, by noise
};

constexpr int kKeys = 17;
constexpr ToneShape kKeyShapes[kKeys] = {
    {{160, 32, 32}, 0},  // g = 0
    {{128, 112, 16}, 2},  // g = 1/16
    {{112, 112, 16}, 8},  // g = 2/16
    {{96, 96, 0}, 0},  // g = 3/16
    {{64, 48, 0}, 0},  // g = 4/16
    {{64, 48, 0}, 0},  // g = 5/16
    {{104, 64, 0}, 8},  // g = 6/16
    {{96, 80, 0}, 4},  // g = 7/16
    {{104, 64, 0}, 16},  // g = 8/16
    {{96, 80, 0}, 4},  // g = 9/16
    {{104, 64, 0}, 8},  // g = 10/16
    {{64, 56, 0}, 0},  // g = 11/16
    {{64, 48, 0}, 0},  // g = 12/16
    {{96, 96, 0}, 0},  // g = 13/16
    {{112, 112, 16}, 8},  // g = 14/16
    {{128, 112, 16}, 4},  // g = 15/16
    {{160, 32, 32}, 0},  // g = 1
};

// Every set passes all of its error on, and each weight fits the byte a tone
// keeps it in.
constexpr bool shapesFit() {
    for (const ToneShape &k : kKeyShapes) {
        if (k.w[0] + k.w[1] + k.w[2] > 256 || k.amp < 0 || k.amp > 256)
            return false;
        for (int w : k.w)
            if (w < 0 || w > 255)
                return false;
    }
    return true;
}
static_assert(shapesFit());

ToneShape toneShape(double g) {
    const double at = std::clamp(g * (kKeys - 1), 0.0, double(kKeys - 1));
    const int k = std::min(int(at), kKeys - 2);
    const double f = at - k;
    const ToneShape &a = kKeyShapes[k], &b = kKeyShapes[k + 1];
    ToneShape t;
    for (int i = 0; i < 3; ++i)
        t.w[i] = int(std::lround(a.w[i] + (b.w[i] - a.w[i]) * f));
    t.amp = int(std::lround(a.amp + (b.amp - a.amp) * f));
    return t;
}

// An ink code stands for every ink within half a code of it. Where the rung
// below, the rung above, or the ordered matrix's pattern of the rung above
// on 2 to 6 eighths of the pixels prints an ink in that window (ties to the
// code above), the tone prints that pattern, exact and free of the seams
// that diffusion puts where the code and the pattern differ: returns the
// eighths of the pixels on the rung above, or -1 where no pattern is within
// half a code and the tone is diffused. The patterns on 1/8 and 7/8 are
// sparse dots (or gaps) on a regular grid, which shows in a highlight; those
// tones stay diffused. `above` is the ink over the rung below, `step` the
// ink between the two rungs.
int8_t latticeFor(int32_t above, int32_t step) {
    constexpr int32_t half = kFullInk / 255 / 2;
    for (int q = 0; q <= 8; ++q) {
        const int32_t off = 8 * above - q * step;  // in eighths of an ink unit
        if (q != 1 && q != 7 && off > -8 * half && off <= 8 * half)
            return int8_t(q);
    }
    return -1;
}

// A deterministic noise in -128 .. 127 per pixel, row and plane.
inline int noiseAt(uint32_t x, uint32_t y, uint32_t plane) {
    uint32_t h = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u * plane) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return int(h >> 24) - 128;
}

// The 8 x 8 ordered-dither matrix, ranks 0 .. 63: each rank's bits
// interleave the bits of x ^ y and y, so every 2 x 2, 4 x 4 and 8 x 8 tile
// holds its share of each range of ranks, and the pixels of rank below 8q
// form a pattern repeating every 4 pixels (every 2 for even q).
struct OrderMatrix {
    uint8_t rank[8][8];
};
constexpr OrderMatrix makeOrderMatrix() {
    OrderMatrix m{};
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            int rank = 0;
            for (int b = 0; b < 3; ++b)
                rank |= (((x >> b) ^ (y >> b)) & 1) << (5 - 2 * b) | ((y >> b) & 1) << (4 - 2 * b);
            m.rank[y][x] = uint8_t(rank);
        }
    return m;
}
constexpr OrderMatrix kOrder = makeOrderMatrix();
static_assert(kOrder.rank[0][0] == 0 && kOrder.rank[1][1] == 16 && kOrder.rank[0][1] == 32 && kOrder.rank[1][0] == 48);

// Takes a 16-bit sample to 8 bits, rounding.
inline uint8_t to8(uint16_t v) { return uint8_t((uint32_t(v) * 255 + 32767) / 65535); }

} // namespace

size_t rowBytes(RowFormat f, int width) {
    if (width < 1 || width > 32767 || int(f) < 0 || int(f) >= kRowFormatCount)
        return 0;
    const FormatInfo &fi = info(f);
    if (fi.bytes == 0)
        return size_t(fi.samples) * ((size_t(width) + 7) / 8);
    return size_t(width) * size_t(fi.samples) * size_t(fi.bytes);
}

const char *rowFormatName(RowFormat f) {
    return int(f) >= 0 && int(f) < kRowFormatCount ? info(f).name : "unknown row format";
}

bool isHalftoned(RowFormat f) { return f == RowFormat::K1 || f == RowFormat::Cmyk1Planes; }

void separatePixel(const ModeInfo &mode, const uint8_t *px, int channels, uint8_t *ink) {
    const int r = px[0], g = channels == 3 ? px[1] : px[0], b = channels == 3 ? px[2] : px[0];
    if (mode.planeMode == 1) {
        ink[0] = uint8_t(255 - (r * 299 + g * 587 + b * 114 + 500) / 1000);
        return;
    }
    int c = 255 - r, m = 255 - g, y = 255 - b, k = 0;
    if (mode.kIndex >= 0) {
        // Full under-colour removal: the grey part of the colour goes to K.
        k = std::min(c, std::min(m, y));
        c -= k;
        m -= k;
        y -= k;
    }
    ink[0] = uint8_t(c);
    ink[1] = uint8_t(m);
    ink[2] = uint8_t(y);
    for (int p = 3; p < mode.inPlanes; ++p)
        ink[p] = 0;
    if (mode.kIndex == 3)
        ink[3] = uint8_t(k);
}

namespace {

// Inks of one CMYK pixel (0 none .. 255 full) in the input planes: K stays K
// where the mode has a K plane, joins C, M and Y where it has none, and a
// single-plane mode prints the pixel's darkness.
void separateCmyk(const ModeInfo &mode, const uint8_t *px, uint8_t *ink) {
    const int c = px[0], m = px[1], y = px[2], k = px[3];
    if (mode.planeMode == 1) {
        ink[0] = uint8_t(std::min(255, k + (c * 299 + m * 587 + y * 114 + 500) / 1000));
        return;
    }
    for (int p = 3; p < mode.inPlanes; ++p)
        ink[p] = 0;
    if (mode.kIndex >= 0) {
        ink[0] = uint8_t(c);
        ink[1] = uint8_t(m);
        ink[2] = uint8_t(y);
        ink[mode.kIndex] = uint8_t(k);
        return;
    }
    ink[0] = uint8_t(std::min(255, c + k));
    ink[1] = uint8_t(std::min(255, m + k));
    ink[2] = uint8_t(std::min(255, y + k));
}

} // namespace

RowQuantiser::RowQuantiser(const ModeInfo &mode, RowFormat format, int width, int leftOffset, bool fillAll,
                           Diffusion diffusion, const InkConverter *converter)
    : mode_(mode), converter_(converter), format_(format), width_(width), leftOffset_(leftOffset), fillAll_(fillAll),
      diffusion_(diffusion) {
    const size_t n = size_t(mode.inPlanes), w = size_t(width);
    const FormatInfo &fi = info(format);
    if (fi.bytes == 2)
        px_.resize(w * size_t(fi.samples));
    if (converter_ && (fi.samples == 4 || isHalftoned(format) || mode.planeMode == 1))
        converter_ = nullptr;
    if (converter_)
        cmyk_.resize(w * 4);
    levels_.assign(n, std::vector<uint8_t>(w));
    packed_.resize(n);
    for (size_t p = 0; p < n; ++p) {
        packed_[p].assign((size_t(leftOffset + width) * size_t(mode.bits[p]) + 7) / 8, 0);
        line_[p] = packed_[p].data();
    }
    if (!isHalftoned(format)) {
        ink_.assign(n, std::vector<uint8_t>(w));
        err_.assign(n, std::vector<int>(w + 2));
        errNext_.assign(n, std::vector<int>(w + 2));
        if (diffusion_ == Diffusion::BlueNoise) {
            ladders_.resize(n);
            tones_.assign(n, std::vector<Tone>(256));
            for (size_t p = 0; p < n; ++p) {
                const InkLadder &lad = ladders_[p] = inkLadder(mode.bits[p], mode.tgl[p], pairedPlane(mode, int(p)) >= 0);
                for (int v = 0; v < 256; ++v) {
                    const int32_t t = v * (kFullInk / 255);
                    int r = 0;
                    while (r + 2 < lad.count && lad.ink[r + 1] <= t)
                        ++r;
                    const int32_t step = lad.ink[r + 1] - lad.ink[r];
                    const ToneShape shape = toneShape(double(t - lad.ink[r]) / step);
                    Tone &tone = tones_[p][size_t(v)];
                    tone.rung = uint8_t(r);
                    for (int i = 0; i < 3; ++i)
                        tone.w[i] = uint8_t(shape.w[i]);
                    tone.mid = lad.ink[r] + step / 2;
                    tone.lattice = latticeFor(t - lad.ink[r], step);
                    tone.amp = step * shape.amp / 256;
                }
            }
        }
        return;
    }
    // Which source planes ink each input plane: K stays K where the mode
    // has a K plane and joins C, M and Y where it has none; a single-plane
    // mode takes every ink.
    const bool k1 = format == RowFormat::K1;
    const unsigned kBit = k1 ? 1u : 8u;
    if (mode.planeMode == 1) {
        sources_[0] = k1 ? 1u : 15u;
    } else {
        for (int d = 0; d < 3 && d < mode.inPlanes; ++d)
            sources_[d] = (k1 ? 0u : 1u << d) | (mode.kIndex < 0 ? kBit : 0u);
        if (mode.kIndex >= 0)
            sources_[mode.kIndex] = kBit;
    }
    for (int d = 0; d < mode.inPlanes; ++d)
        if (sources_[d] != 0)
            sourced_[sourcedCount_++] = d;
    bitLine_.assign((size_t(leftOffset + width) + 7) / 8 + 1, 0);
    scratch_.assign((size_t(width) + 7) / 8, 0);
    expand_.resize(n);
    for (size_t p = 0; p < n; ++p) {
        const int bits = mode.bits[p];
        if (bits == 1)
            continue;
        // A set bit prints the plane's full level, most significant pixel first.
        const uint32_t top = uint32_t(maxLevel(bits, mode.tgl[p]));
        expand_[p].resize(256);
        for (unsigned b = 0; b < 256; ++b) {
            uint32_t v = 0;
            for (int i = 0; i < 8; ++i)
                v = v << bits | ((b >> (7 - i)) & 1 ? top : 0);
            expand_[p][b] = v;
        }
    }
}

void RowQuantiser::blank() {
    // A white row quantises to no ink and passes no error on.
    ++row_;
    if (errDirty_) {
        for (auto &e : err_)
            std::fill(e.begin(), e.end(), 0);
        errDirty_ = false;
    }
}

void RowQuantiser::zero() {
    std::fill(std::begin(inked_), std::end(inked_), false);
    std::fill(std::begin(packedDirty_), std::end(packedDirty_), false);
    for (size_t p = 0; p < packed_.size(); ++p) {
        std::fill(packed_[p].begin(), packed_[p].end(), 0);
        line_[p] = packed_[p].data();
    }
    for (auto &l : levels_)
        std::fill(l.begin(), l.end(), 0);
}

bool RowQuantiser::next(const uint8_t *row) {
    // Halftoned rows find their ink plane by plane, a white row in one pass.
    if (isHalftoned(format_))
        return halftonedRow(row);
    const size_t n = rowBytes(format_, width_);
    const bool white = format_ == RowFormat::Gray8 || format_ == RowFormat::Rgb8 || format_ == RowFormat::Gray16 ||
                       format_ == RowFormat::Rgb16;
    if (allBytes(row, n, white ? 0xFF : 0x00)) {
        blank();
        return false;
    }
    return inkRow(row);
}

bool RowQuantiser::inkRow(const uint8_t *row) {
    const FormatInfo &fi = info(format_);
    const uint8_t *src = row;
    if (fi.bytes == 2) {
        uint16_t v;
        for (size_t i = 0; i < px_.size(); ++i) {
            std::memcpy(&v, row + 2 * i, 2);
            px_[i] = to8(v);
        }
        src = px_.data();
    }
    uint8_t ink[QXDRO_MAX_PLANES];
    const size_t step = size_t(fi.samples);
    if (converter_) {
        // The whole row through the colour transform, then its C, M, Y, K
        // into the planes as CMYK rows go; white stays without ink.
        uint8_t *q = cmyk_.data();
        converter_->convert(src, fi.samples, q, size_t(width_));
        // A white pixel's ink is masked to none.
        const auto inkMask = [&](int x) {
            const uint8_t *px = src + size_t(x) * step;
            return (px[0] & px[step / 2] & px[step - 1]) == 255 ? uint8_t(0) : uint8_t(0xFF);
        };
        if (mode_.kIndex == 3 && mode_.inPlanes == 4) {
            // C, M, Y, K planes: the ink as it comes.
            uint8_t *c = ink_[0].data(), *m = ink_[1].data(), *y = ink_[2].data(), *k = ink_[3].data();
            for (int x = 0; x < width_; ++x, q += 4) {
                const uint8_t keep = inkMask(x);
                c[x] = q[0] & keep;
                m[x] = q[1] & keep;
                y[x] = q[2] & keep;
                k[x] = q[3] & keep;
            }
        } else {
            for (int x = 0; x < width_; ++x, q += 4) {
                const uint8_t keep = inkMask(x);
                const uint8_t masked[4] = {uint8_t(q[0] & keep), uint8_t(q[1] & keep), uint8_t(q[2] & keep),
                                           uint8_t(q[3] & keep)};
                separateCmyk(mode_, masked, ink);
                for (int p = 0; p < mode_.inPlanes; ++p)
                    ink_[size_t(p)][size_t(x)] = ink[p];
            }
        }
    }
    for (int x = 0; x < width_ && !converter_; ++x) {
        const uint8_t *px = src + size_t(x) * step;
        if (fi.samples == 4)
            separateCmyk(mode_, px, ink);
        else
            separatePixel(mode_, px, fi.samples, ink);
        for (int p = 0; p < mode_.inPlanes; ++p)
            ink_[size_t(p)][size_t(x)] = ink[p];
    }
    bool inked = false;
    for (int p = 0; p < mode_.inPlanes; ++p) {
        diffuse(p);
        pack(p);
        const std::vector<uint8_t> &out = packed_[size_t(p)];
        inked_[p] = !allBytes(out.data(), out.size(), 0);
        inked = inked || inked_[p];
    }
    errDirty_ = true;
    ++row_;
    return inked;
}

void RowQuantiser::diffuse(int p) {
    if (diffusion_ == Diffusion::FloydSteinberg) {
        diffuseFloydSteinberg(p);
        return;
    }
    const InkLadder &lad = ladders_[size_t(p)];
    const Tone *tones = tones_[size_t(p)].data();
    const uint8_t top = lad.level[lad.count - 1];
    std::vector<int> &eRow = err_[size_t(p)], &enRow = errNext_[size_t(p)];
    std::fill(enRow.begin(), enRow.end(), 0);
    // Pixel x's error is at index x + 1: both neighbours of every pixel exist.
    int *e = eRow.data() + 1, *en = enRow.data() + 1;
    const uint8_t *in = ink_[size_t(p)].data();
    uint8_t *lv = levels_[size_t(p)].data();
    // Odd rows run right to left.
    const bool back = row_ & 1;
    const int dir = back ? -1 : 1;
    int x = back ? width_ - 1 : 0;
    const uint32_t plane = uint32_t(p);
    // Each plane reads the ordered matrix at its own offset, so the patterns
    // of different inks are shifted against each other, not dot on dot.
    const uint8_t *order = kOrder.rank[(row_ + 5 * plane) & 7];
    const int orderShift = leftOffset_ + 3 * p;
    for (int i = 0; i < width_; ++i, x += dir) {
        const int v0 = in[x];
        // Paper white and full ink print exactly and pass no error on, so
        // blank areas stay blank.
        if (v0 == 0 || v0 == 255) {
            lv[x] = v0 ? top : 0;
            continue;
        }
        const Tone &t = tones[v0];
        // A tone that a level or a pattern of two prints within half a code
        // prints it and passes no error on, as paper white and full ink do:
        // flat areas at such a tone are one level throughout, or a perfect
        // pattern of two.
        if (t.lattice >= 0) {
            lv[x] = lad.level[t.rung + (order[(orderShift + x) & 7] < t.lattice * 8)];
            continue;
        }
        const int v = v0 * (kFullInk / 255) + e[x];
        int q = t.rung;
        if (v < lad.ink[q + 1] && v >= lad.ink[q]) {
            q += v > t.mid + ((noiseAt(uint32_t(leftOffset_ + x), row_, plane) * t.amp) >> 8);
        } else {
            // Error carried in from a different tone has passed the rungs
            // that bracket this one: the nearest rung prints.
            while (q + 1 < lad.count && 2 * v > lad.ink[q] + lad.ink[q + 1])
                ++q;
            while (q > 0 && 2 * v < lad.ink[q - 1] + lad.ink[q])
                --q;
        }
        lv[x] = lad.level[q];
        const int d = v - lad.ink[q];
        const int ahead = d * t.w[0] / 256, behindBelow = d * t.w[1] / 256, aheadBelow = d * t.w[2] / 256;
        e[x + dir] += ahead;
        en[x - dir] += behindBelow;
        en[x + dir] += aheadBelow;
        en[x] += d - ahead - behindBelow - aheadBelow;
    }
    std::swap(eRow, enRow);
}

void RowQuantiser::diffuseFloydSteinberg(int p) {
    const int top = maxLevel(mode_.bits[p], mode_.tgl[p]);
    std::vector<int> &e = err_[size_t(p)], &en = errNext_[size_t(p)];
    std::fill(en.begin(), en.end(), 0);
    const std::vector<uint8_t> &in = ink_[size_t(p)];
    std::vector<uint8_t> &lv = levels_[size_t(p)];
    // Floyd-Steinberg in units of 1/255 level; paper white and full ink stay
    // exact and pass no error on, so blank areas stay blank.
    for (int x = 0; x < width_; ++x) {
        const int v0 = in[size_t(x)];
        int q;
        if (v0 == 0) {
            q = 0;
        } else if (v0 == 255) {
            q = top;
        } else {
            const int v = v0 * top + e[size_t(x) + 1];
            q = std::clamp((v + 127) / 255, 0, top);
            const int d = v - q * 255;
            e[size_t(x) + 2] += d * 7 / 16;
            en[size_t(x)] += d * 3 / 16;
            en[size_t(x) + 1] += d * 5 / 16;
            en[size_t(x) + 2] += d / 16;
        }
        lv[size_t(x)] = uint8_t(q);
    }
    std::swap(e, en);
}

template <int Bits> void RowQuantiser::packBits(int p) {
    constexpr int perByte = 8 / Bits;
    const uint8_t *lv = levels_[size_t(p)].data();
    uint8_t *out = packed_[size_t(p)].data();
    std::fill(out, out + packed_[size_t(p)].size(), 0);
    for (int x = 0; x < width_; ++x) {
        const unsigned at = unsigned(leftOffset_ + x);
        out[at / perByte] |= uint8_t(lv[x] << (8 - Bits * (at % perByte + 1)));
    }
}

void RowQuantiser::pack(int p) {
    switch (mode_.bits[p]) {
    case 1: packBits<1>(p); break;
    case 2: packBits<2>(p); break;
    default: packBits<4>(p); break;
    }
}

// Whether source plane s of a halftoned row has ink; each plane is searched
// once a row. Bits right of the row's last pixel are padding and never print.
bool RowQuantiser::sourceInked(const uint8_t *row, unsigned s) {
    const unsigned bit = 1u << s;
    if (!(searched_ & bit)) {
        const size_t planeBytes = (size_t(width_) + 7) / 8;
        const uint8_t tailMask = uint8_t(0xFF << ((8 - width_ % 8) % 8));
        const uint8_t *p = row + s * planeBytes;
        searched_ |= bit;
        if ((p[planeBytes - 1] & tailMask) != 0 || !allBytes(p, planeBytes - 1, 0))
            sourceInk_ |= bit;
    }
    return sourceInk_ & bit;
}

bool RowQuantiser::halftonedRow(const uint8_t *row) {
    const size_t planeBytes = (size_t(width_) + 7) / 8;
    const uint8_t tailMask = uint8_t(0xFF << ((8 - width_ % 8) % 8));
    const size_t first = size_t(leftOffset_) / 8;
    const unsigned shift = unsigned(leftOffset_) % 8;
    searched_ = sourceInk_ = 0;
    bool inked = false;
    for (int i = 0; i < sourcedCount_; ++i) {
        const int d = sourced_[i];
        std::vector<uint8_t> &out = packed_[size_t(d)];
        line_[d] = out.data();
        inked_[d] = false;
        // The plane's inked sources; a plane without any is all zero.
        unsigned from = 0;
        for (unsigned m = sources_[d]; m != 0; m &= m - 1)
            if (sourceInked(row, unsigned(std::countr_zero(m))))
                from |= m & -m;
        if (from == 0) {
            if (packedDirty_[d])
                std::fill(out.begin(), out.end(), 0);
            packedDirty_[d] = false;
            if (fillAll_)
                std::fill(levels_[size_t(d)].begin(), levels_[size_t(d)].end(), 0);
            continue;
        }
        inked = true;
        inked_[d] = true;
        const int pbits = mode_.bits[d];
        const bool single = (from & (from - 1)) == 0;
        const uint8_t *only = single ? row + size_t(std::countr_zero(from)) * planeBytes : nullptr;
        if (!fillAll_ && single && pbits == 1 && leftOffset_ == 0 && (only[planeBytes - 1] & ~tailMask) == 0) {
            // The source plane is the packed line as it stands.
            line_[d] = only;
            continue;
        }
        // The plane's source bits, ORed, at their pixel positions on the line.
        uint8_t *bits = bitLine_.data();
        uint8_t *at = bits + first;
        std::fill(at, bits + bitLine_.size(), 0);
        uint8_t *comb = shift ? scratch_.data() : at;
        if (shift)
            std::fill(comb, comb + planeBytes, 0);
        for (unsigned s = 0; s < 4; ++s)
            if (from & (1u << s))
                orBytes(comb, row + s * planeBytes, planeBytes);
        comb[planeBytes - 1] &= tailMask;
        if (shift) {
            at[0] = uint8_t(comb[0] >> shift);
            for (size_t i = 1; i < planeBytes; ++i)
                at[i] = uint8_t(comb[i] >> shift | comb[i - 1] << (8 - shift));
            at[planeBytes] = uint8_t(comb[planeBytes - 1] << (8 - shift));
        }
        packedDirty_[d] = true;
        const size_t lineBytes = out.size();
        if (pbits == 1) {
            std::copy_n(bits, lineBytes, out.begin());
        } else {
            // 8 pixels of the bit line are pbits bytes of the plane.
            std::fill(out.begin(), out.end(), 0);
            const uint32_t *table = expand_[size_t(d)].data();
            for (size_t i = first; i < bitLine_.size() && size_t(pbits) * i < lineBytes; ++i) {
                if (!bits[i])
                    continue;
                const uint32_t v = table[bits[i]];
                for (int k = 0; k < pbits && size_t(pbits) * i + size_t(k) < lineBytes; ++k)
                    out[size_t(pbits) * i + size_t(k)] = uint8_t(v >> (8 * (pbits - 1 - k)));
            }
        }
        if (fillAll_) {
            const uint8_t top = uint8_t(maxLevel(mode_.bits[d], mode_.tgl[d]));
            std::vector<uint8_t> &lv = levels_[size_t(d)];
            for (int x = 0; x < width_; ++x) {
                const unsigned at = unsigned(leftOffset_ + x);
                lv[size_t(x)] = (bits[at / 8] >> (7 - at % 8)) & 1 ? top : 0;
            }
        }
    }
    return inked;
}

} // namespace qx316
