// Blank-edge search: does a plane line carry ink inside its printable pixels,
// and which bytes hold it. The verdict is exact to the pixel; the byte span
// comes from a whole-byte scan and may include set bits just outside the
// printable pixels of a partial edge byte.
#include <cstdint>

#include "qxdro316_inner.h"
#include "raster_words.h"

namespace {

using qxraster::Word;
using qxraster::load_word;

constexpr int kWord = static_cast<int>(sizeof(Word));

// Pixels sit in a byte from the high bits down; index = bits per pixel.
constexpr uint8_t FirstPixelMask[9] = {0x00, 0x80, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC, 0xFE, 0xFF};
constexpr uint8_t LastPixelMask[9] = {0x00, 0x01, 0x03, 0x07, 0x0F, 0x1F, 0x3F, 0x7F, 0xFF};

constexpr bool masks_follow_rule()
{
    for (int b = 0; b <= 8; ++b) {
        const int last = (1 << b) - 1;
        if (LastPixelMask[b] != last || FirstPixelMask[b] != ((last << (8 - b)) & 0xFF))
            return false;
    }
    return true;
}
static_assert(masks_follow_rule(), "pixel masks are 2^b - 1 and its shift to the top");

// First non-zero byte of data[lo..hi], or hi + 1 when there is none.
int32_t first_nonzero(const uint8_t *data, int32_t lo, int32_t hi)
{
    int32_t i = lo;
    const int32_t end = hi + 1;
    // Four words per step while the line is blank, then the word that hit.
    while (end - i >= 4 * kWord) {
        const Word any = load_word(data + i) | load_word(data + i + kWord) | load_word(data + i + 2 * kWord) |
                         load_word(data + i + 3 * kWord);
        if (any != 0)
            break;
        i += 4 * kWord;
    }
    while (end - i >= kWord) {
        const Word w = load_word(data + i);
        if (w != 0)
            return i + qxraster::lowest_set_byte(w);
        i += kWord;
    }
    for (; i < end; ++i)
        if (data[i] != 0)
            return i;
    return end;
}

// Last non-zero byte of data[lo..hi], or lo - 1 when there is none.
int32_t last_nonzero(const uint8_t *data, int32_t lo, int32_t hi)
{
    int32_t end = hi + 1;  // bytes lo..end-1 are still unscanned
    while (end - lo >= 4 * kWord) {
        const int32_t at = end - 4 * kWord;
        const Word any = load_word(data + at) | load_word(data + at + kWord) | load_word(data + at + 2 * kWord) |
                         load_word(data + at + 3 * kWord);
        if (any != 0)
            break;
        end = at;
    }
    while (end - lo >= kWord) {
        const Word w = load_word(data + end - kWord);
        if (w != 0)
            return end - kWord + qxraster::highest_set_byte(w);
        end -= kWord;
    }
    for (int32_t i = end - 1; i >= lo; --i)
        if (data[i] != 0)
            return i;
    return lo - 1;
}

// First inked pixel among pixels [from, to) of byte `byte`, which holds pixels
// byte * n .. byte * n + n - 1; -1 if none.
int first_inked_in_byte(uint8_t value, int b, int n, int byte, int from, int to)
{
    const int base = byte * n;
    uint8_t mask = static_cast<uint8_t>(FirstPixelMask[b] >> ((from - base) * b));
    for (int p = from; p < to && p < base + n; ++p) {
        if (value & mask)
            return p;
        mask = static_cast<uint8_t>(mask >> b);
    }
    return -1;
}

}  // namespace

// Narrows the pixel span (*first, *count) to its first and last inked pixel.
// Reads only bytes that hold pixels of the span; outputs untouched on -1.
extern "C" int search_edge(const uint8_t *data, int16_t bitsPerPixel, int16_t *first, int16_t *count)
{
    const int b = bitsPerPixel;
    if (data == nullptr || first == nullptr || count == nullptr)
        return -1;
    if (b <= 0 || b > 8 || 8 % b != 0)
        return -1;
    const int f = *first;
    const int c = *count;
    if (f < 0 || c < 0 || static_cast<int16_t>(f + c) < 0)
        return -1;
    const int end = f + c;
    if (c == 0) {
        *count = 0;
        return 0;
    }
    const int n = 8 / b;
    const int endByte = end / n;

    // Forward: the partial first byte pixel by pixel, then whole zero bytes,
    // then the pixels of the byte that stopped the skip.
    int inkFirst = -1;
    int byte = f / n;
    if (f % n != 0) {
        inkFirst = first_inked_in_byte(data[byte], b, n, byte, f, end);
        ++byte;
    }
    if (inkFirst < 0) {
        if (byte < endByte)
            byte = first_nonzero(data, byte, endByte - 1);
        if (byte < endByte || (byte == endByte && end % n != 0 && byte * n < end))
            inkFirst = first_inked_in_byte(data[byte], b, n, byte, byte * n, end);
    }
    if (inkFirst < 0) {
        *count = 0;
        return 0;
    }

    // Backward: the partial byte that holds end - 1, then whole bytes down
    // to the first non-zero one, its pixels from the rightmost.
    int inkLast = -1;
    if (end % n != 0) {
        const int value = data[endByte];
        uint8_t mask = static_cast<uint8_t>(FirstPixelMask[b] >> ((end % n - 1) * b));
        for (int p = end - 1; p >= endByte * n; --p) {
            if (value & mask) {
                inkLast = p;
                break;
            }
            mask = static_cast<uint8_t>(mask << b);
        }
    }
    if (inkLast < 0) {
        // The byte of inkFirst is non-zero, so the scan stops there at the latest.
        const int back = last_nonzero(data, inkFirst / n, endByte - 1);
        const int value = data[back];
        uint8_t mask = LastPixelMask[b];
        for (int p = back * n + n - 1;; --p) {
            if (value & mask) {
                inkLast = p;
                break;
            }
            mask = static_cast<uint8_t>(mask << b);
        }
    }

    *first = static_cast<int16_t>(inkFirst);
    *count = static_cast<int16_t>(inkLast - inkFirst + 1);
    return 0;
}

// Turns a pixel span into the byte span strictly between its inked edge bytes:
// *first = byte of the first inked pixel, *count = whole bytes after it and
// before the byte of the pixel past the last inked one; edge = those edge
// bytes with pixels outside the inked span cleared.
extern "C" int PixelRaster2ByteRaster(const uint8_t *data, int16_t bitsPerPixel, int16_t *first, int16_t *count,
                                      uint8_t *edge)
{
    if (data == nullptr || first == nullptr || count == nullptr || edge == nullptr)
        return -1;
    edge[0] = 0;
    edge[1] = 0;
    if (static_cast<int16_t>(search_edge(data, bitsPerPixel, first, count)) != 0)
        return -1;
    if (*count == 0) {
        *first = 0;
        return 0;
    }
    const int b = bitsPerPixel;  // valid: search_edge accepted it
    const int n = 8 / b;
    const int f = *first;
    const int e = static_cast<int16_t>(f + *count);

    *first = static_cast<int16_t>(f / n);
    *count = static_cast<int16_t>(e / n - f / n - 1);
    edge[0] = data[f / n];
    if (f % n != 0)
        edge[0] = static_cast<uint8_t>(edge[0] & (0xFF >> ((f % n) * b)));
    if (e % n != 0)
        edge[1] = static_cast<uint8_t>(data[e / n] & (0xFF << (8 - (e % n) * b)));
    if (*count < 0) {
        // First and last inked pixel share a byte that runs on past the last.
        *count = 0;
        edge[0] = static_cast<uint8_t>(edge[0] & edge[1]);
        edge[1] = 0;
    }
    return 0;
}

// 1 blank, 0 inked, -1 bad span. On 0, *left and *right are the first and last
// non-zero byte within the bytes that hold printable pixels. Relies on data
// holding the bytes up to (width - rightMargin - 1) >> pixelShift.
extern "C" int isNullColor(const PlaneRaster *raster, int16_t pixelShift, int32_t *left, int32_t *right)
{
    *left = 0;
    *right = 0;
    if (raster->data == nullptr)
        return 1;
    const int32_t width = raster->width;
    const int32_t leftOffset = raster->leftOffset;
    const int32_t rightMargin = raster->rightMargin;
    if (leftOffset == width)
        return 1;
    // A span that starts before the line, or a bit depth other than 1, 2, 4
    // or 8 bits, names no bytes that can be read.
    if (leftOffset < 0 || pixelShift < 0 || pixelShift > 3)
        return -1;

    const uint8_t *data = raster->data;
    const int32_t lo = leftOffset >> pixelShift;
    const int32_t hi = (width - rightMargin - 1) >> pixelShift;
    *left = lo;
    *right = hi;
    const int32_t i = (hi < lo) ? hi + 1 : first_nonzero(data, lo, hi);
    if (i > hi) {
        *left = 0;
        *right = 0;
        return 1;
    }
    *left = i;
    *right = last_nonzero(data, i, hi);

    int16_t first = static_cast<int16_t>(leftOffset);
    int16_t count = static_cast<int16_t>(width - leftOffset - rightMargin);
    uint8_t edge[2];
    const int r = PixelRaster2ByteRaster(data, static_cast<int16_t>(8 >> pixelShift), &first, &count, edge);
    if (r != 0)
        return r;
    if (edge[0] != 0)
        return 0;
    *left = 0;
    *right = 0;
    return 1;
}
