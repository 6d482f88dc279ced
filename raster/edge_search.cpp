// Blank-edge search: does a plane line carry ink inside its printable pixels,
// and which bytes hold it. The verdict is exact to the pixel; the byte span
// comes from a whole-byte scan and may include set bits just outside the
// printable pixels of a partial edge byte.
#include <cstdint>

#include "qxdro316_inner.h"
#include "raster_internal.h"

namespace {

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

using qxraster::first_nonzero;
using qxraster::last_nonzero;

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

// The verdict once the first non-zero byte i of the printable bytes lo..hi
// is known: the last one, found from the right end, and whether either
// holds ink inside the printable pixels; the bytes between them are read
// again only when both edge bytes hold ink outside the printable pixels
// alone.
int qxraster::line_ink_edges(const uint8_t *data, int32_t width, int32_t leftOffset, int32_t rightMargin,
                             int pixelShift, int32_t lo, int32_t hi, int32_t i, int32_t *left, int32_t *right)
{
    const int level = simd_level();
    const int32_t j = last_nonzero_at(level, data, i, hi);
    *left = i;
    *right = j;

    // The printable pixels [leftOffset, end), counted in 16 bits as the
    // pixel search takes them: a count that does not fit names no span.
    const int count = static_cast<int16_t>(width - leftOffset - rightMargin);
    if (count < 0 || static_cast<int16_t>(leftOffset + count) < 0)
        return -1;
    if (count > 0) {
        // Here end - 1 lies in byte hi. Edge bytes keep their printable pixels.
        const int end = leftOffset + count;
        const int b = 8 >> pixelShift;
        const int perByte = 1 << pixelShift;
        const uint8_t loMask = static_cast<uint8_t>(0xFF >> ((leftOffset & (perByte - 1)) * b));
        const int tail = end & (perByte - 1);
        const uint8_t hiMask = tail == 0 ? 0xFF : static_cast<uint8_t>(0xFF << (8 - tail * b));
        auto printable = [&](int32_t k) {
            uint8_t v = data[k];
            if (k == lo)
                v = static_cast<uint8_t>(v & loMask);
            if (k == hi)
                v = static_cast<uint8_t>(v & hiMask);
            return v != 0;
        };
        // A non-zero byte strictly inside (lo, hi) is all printable pixels.
        if (printable(i) || printable(j))
            return 0;
        if (i == lo && j == hi && hi - lo >= 2 && first_nonzero_at(level, data, lo + 1, hi - 1) < hi)
            return 0;
    }
    *left = 0;
    *right = 0;
    return 1;
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
    if (leftOffset == width)
        return 1;
    // A span that starts before the line, or a bit depth other than 1, 2, 4
    // or 8 bits, names no bytes that can be read.
    if (leftOffset < 0 || pixelShift < 0 || pixelShift > 3)
        return -1;
    return qxraster::line_ink_span(raster->data, width, leftOffset, raster->rightMargin, pixelShift, left, right);
}
