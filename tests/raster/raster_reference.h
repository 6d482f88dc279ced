// Plain reference models for the raster coders, shared by the raster tests
// and the fuzz targets: a byte-at-a-time PackBits coder, an independent
// PackBits reader, and pixel-by-pixel oracles for the blank-edge search.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qxref {

// The coder written step by step, one run at a time, no word tricks.
inline std::vector<uint8_t> packbits_reference(const uint8_t *src, int count)
{
    std::vector<uint8_t> out;
    const int n = static_cast<int16_t>(count);
    bool open = false;
    size_t lit = 0;
    int i = 0;
    while (i < n) {
        const uint8_t v = src[i];
        int r = 1;
        while (i + r < n && src[i + r] == v)
            ++r;
        i += r;
        if (open) {
            if (r == 1) {
                const uint8_t c = out[lit];
                out[lit] = static_cast<uint8_t>(c + 1);
                out.push_back(v);
                if (c == 0x7E)
                    open = false;
                continue;
            }
            if (r == 2) {
                if (out[lit] + 1 <= 125) {
                    out[lit] = static_cast<uint8_t>(out[lit] + 2);
                    out.push_back(v);
                    out.push_back(v);
                } else {
                    lit = out.size();
                    out.push_back(0x01);
                    out.push_back(v);
                    out.push_back(v);
                }
                continue;
            }
            open = false;
        }
        while (r > 128) {
            out.push_back(0x81);
            out.push_back(v);
            r -= 128;
        }
        if (r == 1) {
            lit = out.size();
            out.push_back(0x00);
            out.push_back(v);
            open = true;
        } else {
            out.push_back(static_cast<uint8_t>(1 - r));
            out.push_back(v);
        }
    }
    return out;
}

struct Decoded {
    bool ok = false;         // every item complete, none starting with 0x80
    std::vector<uint8_t> bytes;
};

// Walks a whole item stream by the control-byte rules alone.
inline Decoded packbits_decode(const uint8_t *in, size_t len)
{
    Decoded d;
    size_t i = 0;
    while (i < len) {
        const int c = static_cast<int8_t>(in[i++]);
        if (c == -128)
            return d;
        if (c >= 0) {
            const size_t n = static_cast<size_t>(c) + 1;
            if (len - i < n)
                return d;
            d.bytes.insert(d.bytes.end(), in + i, in + i + n);
            i += n;
        } else {
            if (i >= len)
                return d;
            d.bytes.insert(d.bytes.end(), static_cast<size_t>(1 - c), in[i++]);
        }
    }
    d.ok = true;
    return d;
}

inline size_t packbits_bound(int count) { return count <= 0 ? 0 : static_cast<size_t>(count + 1 + (count - 1) / 126); }

// Pixel p of a line of b-bit pixels, leftmost in the high bits.
inline bool pixel_inked(const uint8_t *data, int b, int p)
{
    const int n = 8 / b;
    const int shift = 8 - b * (p % n + 1);
    return ((data[p / n] >> shift) & ((1 << b) - 1)) != 0;
}

struct EdgeResult {
    int result;
    int32_t left;
    int32_t right;
};

// What the blank-edge search must answer, from first principles: whole-byte
// scan for the byte span, pixel-by-pixel test for the verdict.
inline EdgeResult is_null_color_oracle(const uint8_t *data, int width, int leftOffset, int rightMargin, int shift)
{
    if (data == nullptr || leftOffset == width)
        return {1, 0, 0};
    if (leftOffset < 0)
        return {-1, 0, 0};
    const int lo = leftOffset >> shift;
    const int hi = (width - rightMargin - 1) >> shift;
    int first = -1;
    int last = -1;
    for (int i = lo; i <= hi; ++i) {
        if (data[i] != 0) {
            if (first < 0)
                first = i;
            last = i;
        }
    }
    if (first < 0)
        return {1, 0, 0};
    const int count = static_cast<int16_t>(width - leftOffset - rightMargin);
    if (count < 0 || static_cast<int16_t>(leftOffset + count) < 0)
        return {-1, first, last};
    const int b = 8 >> shift;
    for (int p = leftOffset; p < leftOffset + count; ++p)
        if (pixel_inked(data, b, p))
            return {0, first, last};
    return {1, 0, 0};
}

}  // namespace qxref
