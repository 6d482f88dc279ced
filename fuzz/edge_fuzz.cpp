// Blank-edge search against the pixel-by-pixel oracle. Input: one byte of bit
// depth and flags, three 16-bit span fields, then the line's bytes. Spans are
// folded into what the descriptor promises (the line holds every byte up to
// the last printable pixel), apart from a negative leftOffset, which must be
// refused without a read.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_check.h"
#include "qxdro316_inner.h"
#include "raster_reference.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 7)
        return 0;
    const int shift = 1 + data[0] % 3;  // 4, 2 or 1 bits per pixel
    const bool negativeOffset = (data[0] & 0x10) != 0 && (data[0] & 0x20) != 0;
    const bool negativeMargin = (data[0] & 0x40) != 0;
    const unsigned rawWidth = static_cast<unsigned>(data[1] << 8 | data[2]);
    const unsigned rawOffset = static_cast<unsigned>(data[3] << 8 | data[4]);
    const unsigned rawMargin = static_cast<unsigned>(data[5] << 8 | data[6]);
    const size_t m = size - 7 > 4000 ? 4000 : size - 7;
    const int total = static_cast<int>(m) << shift;

    const int width = static_cast<int>(rawWidth % static_cast<unsigned>(total + 1));
    const int leftOffset = negativeOffset ? -1 - static_cast<int>(rawOffset % 200)
                                          : static_cast<int>(rawOffset % static_cast<unsigned>(width + 1));
    const int room = width - (leftOffset < 0 ? 0 : leftOffset);
    const int rightMargin = negativeMargin ? -static_cast<int>(rawMargin % static_cast<unsigned>(total - width + 1))
                                           : static_cast<int>(rawMargin % static_cast<unsigned>(room + 1));

    // Exactly the line's bytes, so any read past them is a heap overflow.
    uint8_t *line = m > 0 ? static_cast<uint8_t *>(std::malloc(m)) : nullptr;
    if (line)
        std::memcpy(line, data + 7, m);

    PlaneRaster r{};
    r.data = line;
    r.width = static_cast<int16_t>(width);
    r.leftOffset = static_cast<int16_t>(leftOffset);
    r.rightMargin = static_cast<int16_t>(rightMargin);
    int32_t left = -5, right = -5;
    const int got = isNullColor(&r, static_cast<int16_t>(shift), &left, &right);
    const qxref::EdgeResult want = qxref::is_null_color_oracle(line, width, leftOffset, rightMargin, shift);
    FUZZ_CHECK(got == want.result && left == want.left && right == want.right,
               "isNullColor(width %d, offset %d, margin %d, shift %d) = %d [%d, %d], oracle %d [%d, %d]", width,
               leftOffset, rightMargin, shift, got, left, right, want.result, want.left, want.right);

    // search_edge on the printable span, against a pixel scan.
    if (line && leftOffset >= 0 && rightMargin >= 0) {
        const int b = 8 >> shift;
        const int end = width - rightMargin;
        int16_t first = static_cast<int16_t>(leftOffset), count = static_cast<int16_t>(end - leftOffset);
        int wantFirst = leftOffset, wantCount = 0;
        for (int p = leftOffset, last = -1; p < end; ++p) {
            if (qxref::pixel_inked(line, b, p)) {
                if (last < 0)
                    wantFirst = p;
                last = p;
                wantCount = last - wantFirst + 1;
            }
        }
        const int res = search_edge(line, static_cast<int16_t>(b), &first, &count);
        FUZZ_CHECK(res == 0 && first == wantFirst && count == wantCount,
                   "search_edge(first %d, count %d, b %d) = %d [%d, %d], oracle [%d, %d]", leftOffset,
                   end - leftOffset, b, res, first, count, wantFirst, wantCount);
    }
    std::free(line);
    return 0;
}
