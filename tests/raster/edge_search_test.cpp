// Blank-edge search: pixel-exact verdict, whole-byte span.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "hex.h"
#include "line_data.h"
#include "qxdro316_inner.h"
#include "raster_reference.h"

namespace {

using qxtest::bytes;
using qxtest::hex;

struct SearchCase {
    const char *data;
    int b;
    int16_t first, count;
    int result;
    int16_t wantFirst, wantCount;
};

TEST(SearchEdge, DocumentedCases)
{
    const SearchCase cases[] = {
        {"00 3C 00", 1, 0, 24, 0, 10, 4},
        {"80 01", 1, 1, 14, 0, 1, 0},       // ink only outside the span
        {"FF", 1, 3, 0, 0, 3, 0},           // empty span
        {"01", 1, 7, 1, 0, 7, 1},           // last pixel of a byte
        {"00 00 00 00 00 00 00 00 00 00 01", 1, 0, 88, 0, 87, 1},
        {"0F 00", 4, 0, 4, 0, 1, 1},        // 4 bits: pixel 1 of byte 0
        {"30 00 0C", 2, 1, 10, 0, 1, 10},   // 2 bits: pixels 1 and 10
        {"30 00 0C", 2, 1, 9, 0, 1, 1},     // pixel 10 just past the span
        {"FF", 8, 0, 1, 0, 0, 1},
    };
    for (const SearchCase &c : cases) {
        const std::vector<uint8_t> d = bytes(c.data);
        int16_t first = c.first, count = c.count;
        EXPECT_EQ(c.result, search_edge(d.data(), static_cast<int16_t>(c.b), &first, &count)) << c.data;
        EXPECT_EQ(c.wantFirst, first) << c.data << " b=" << c.b;
        EXPECT_EQ(c.wantCount, count) << c.data << " b=" << c.b;
    }
}

TEST(SearchEdge, RejectsBadSpansAndLeavesOutputs)
{
    const uint8_t d[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    struct Bad {
        const uint8_t *data;
        int b;
        int16_t first, count;
    } const cases[] = {
        {nullptr, 1, 0, 8}, {d, 3, 0, 8}, {d, 0, 0, 8}, {d, -2, 0, 8}, {d, 16, 0, 8},
        {d, 1, -1, 8},      {d, 1, 0, -1}, {d, 1, 32767, 1}, {d, 1, 20000, 20000},
    };
    for (const Bad &c : cases) {
        int16_t first = c.first, count = c.count;
        EXPECT_EQ(-1, search_edge(c.data, static_cast<int16_t>(c.b), &first, &count)) << "b=" << c.b;
        EXPECT_EQ(c.first, first);
        EXPECT_EQ(c.count, count);
    }
}

struct ByteSpanCase {
    const char *data;
    int b;
    int16_t first, count;
    int16_t wantFirst, wantCount;
    const char *edge;
};

TEST(PixelRaster2ByteRaster, DocumentedCases)
{
    const ByteSpanCase cases[] = {
        {"FF 00 81", 1, 3, 18, 0, 1, "1F 80"},
        {"3C", 1, 1, 4, 0, 0, "38 00"},
        {"0C 00 30", 2, 2, 8, 0, 1, "0C 30"},
        {"12 34", 4, 1, 2, 0, 0, "02 30"},
        {"00 00", 1, 0, 16, 0, 0, "00 00"},   // no ink
        {"00 FF 00", 1, 8, 8, 1, 0, "FF 00"}, // ends on a byte boundary
        {"00 0F F0 00", 1, 4, 24, 1, 0, "0F F0"},
    };
    for (const ByteSpanCase &c : cases) {
        const std::vector<uint8_t> d = bytes(c.data);
        int16_t first = c.first, count = c.count;
        uint8_t edge[2] = {0xEE, 0xEE};
        EXPECT_EQ(0, PixelRaster2ByteRaster(d.data(), static_cast<int16_t>(c.b), &first, &count, edge)) << c.data;
        EXPECT_EQ(c.wantFirst, first) << c.data;
        EXPECT_EQ(c.wantCount, count) << c.data;
        EXPECT_EQ(c.edge, hex(edge, 2)) << c.data;
    }
}

TEST(PixelRaster2ByteRaster, FailuresClearEdgeOnlyWhenItExists)
{
    const uint8_t d[2] = {0xFF, 0xFF};
    int16_t first = 0, count = 16;
    uint8_t edge[2] = {0xEE, 0xEE};
    EXPECT_EQ(-1, PixelRaster2ByteRaster(nullptr, 1, &first, &count, edge));
    EXPECT_EQ("EE EE", hex(edge, 2));  // a null argument writes nothing
    EXPECT_EQ(-1, PixelRaster2ByteRaster(d, 1, &first, &count, nullptr));
    count = -3;
    EXPECT_EQ(-1, PixelRaster2ByteRaster(d, 1, &first, &count, edge));
    EXPECT_EQ("00 00", hex(edge, 2));
    EXPECT_EQ(0, first);
    EXPECT_EQ(-3, count);
}

struct LineCase {
    const char *data;
    int shift, width, leftOffset, rightMargin;
    int result, left, right;
};

PlaneRaster plane(const uint8_t *data, int width, int leftOffset, int rightMargin)
{
    PlaneRaster r{};
    r.data = data;
    r.width = static_cast<int16_t>(width);
    r.leftOffset = static_cast<int16_t>(leftOffset);
    r.rightMargin = static_cast<int16_t>(rightMargin);
    return r;
}

TEST(IsNullColor, DocumentedCases)
{
    const LineCase cases[] = {
        {"00 3C 00", 3, 24, 12, 0, 0, 1, 1},
        {"00 3C 00", 3, 24, 14, 0, 1, 0, 0},  // set bits lie before pixel 14
        {"00 00 00", 3, 24, 0, 0, 1, 0, 0},
        {"80 00 01", 3, 24, 0, 0, 0, 0, 2},
        {"80 00 01", 3, 24, 1, 1, 1, 0, 0},   // ink only just outside both ends
        {"81 00 01", 3, 24, 1, 0, 0, 0, 2},   // byte 0 counts though its ink pixel is outside
        {"00 00 00", 3, 24, 24, 0, 1, 0, 0},  // leftOffset == width
        {"FF FF", 3, 16, 4, 12, 1, 0, 0},     // no printable pixel
        {"0F 00 F0", 1, 6, 1, 0, 0, 0, 2},    // 4 bits per pixel
        {"40 00 01", 2, 12, 0, 0, 0, 0, 2},   // 2 bits per pixel
    };
    for (const LineCase &c : cases) {
        const std::vector<uint8_t> d = bytes(c.data);
        const PlaneRaster r = plane(d.data(), c.width, c.leftOffset, c.rightMargin);
        int32_t left = -7, right = -7;
        EXPECT_EQ(c.result, isNullColor(&r, static_cast<int16_t>(c.shift), &left, &right)) << c.data;
        EXPECT_EQ(c.left, left) << c.data << " leftOffset " << c.leftOffset;
        EXPECT_EQ(c.right, right) << c.data << " leftOffset " << c.leftOffset;
    }
}

TEST(IsNullColor, NullDataIsBlank)
{
    const PlaneRaster r = plane(nullptr, 100, 0, 0);
    int32_t left = 5, right = 5;
    EXPECT_EQ(1, isNullColor(&r, 3, &left, &right));
    EXPECT_EQ(0, left);
    EXPECT_EQ(0, right);
}

TEST(IsNullColor, NegativeLeftOffsetIsAnErrorAndReadsNothing)
{
    // The data pointer names no readable bytes: any read would fault under ASan.
    std::vector<uint8_t> owner(4, 0xFF);
    const uint8_t *gone = owner.data() + owner.size();
    const PlaneRaster r = plane(gone, 32, -8, 0);
    int32_t left = 5, right = 5;
    EXPECT_EQ(-1, isNullColor(&r, 3, &left, &right));
    EXPECT_EQ(0, left);
    EXPECT_EQ(0, right);
}

TEST(IsNullColor, BadPixelCountReportsByteScan)
{
    // width - rightMargin - 1 lies past the offset but the 16-bit span end wraps.
    std::vector<uint8_t> d(6000, 0);
    d[10] = 0x01;
    const PlaneRaster r = plane(d.data(), 30000, 8, -10000);
    int32_t left = 0, right = 0;
    ASSERT_GE(d.size(), static_cast<size_t>((30000 + 10000 - 1) >> 3) + 1);
    EXPECT_EQ(-1, isNullColor(&r, 3, &left, &right));
    EXPECT_EQ(10, left);
    EXPECT_EQ(10, right);
}

// Random lines against the pixel oracle: every bit depth, every phase of
// leftOffset and of the span's end inside a byte, ink often only outside.
TEST(IsNullColor, MatchesPixelOracleOnRandomLines)
{
    qxtest::Lcg rng(11);
    int inked = 0, blank = 0;
    for (int iter = 0; iter < 20000; ++iter) {
        const int shift = 1 + iter % 3;  // 1, 2, 4 bits per pixel
        const int ppb = 1 << shift;
        const int width = 1 + rng.below(400);
        const int leftOffset = rng.below(width + 1);
        const int rightMargin = rng.below(width - leftOffset + 1);
        const size_t nbytes = static_cast<size_t>((width + ppb - 1) / ppb);
        std::vector<uint8_t> d(nbytes, 0);
        switch (rng.below(4)) {
        case 0:  // sparse ink anywhere
            for (int k = rng.below(4); k > 0; --k)
                d[static_cast<size_t>(rng.below(static_cast<int>(nbytes)))] = static_cast<uint8_t>(1 + rng.below(255));
            break;
        case 1:  // ink only in pixels outside the printable span
            for (int p = 0; p < width; ++p)
                if ((p < leftOffset || p >= width - rightMargin) && rng.below(3) == 0)
                    d[static_cast<size_t>(p / ppb)] |= static_cast<uint8_t>(((1 << (8 >> shift)) - 1)
                                                                          << (8 - (8 >> shift) * (p % ppb + 1)));
            break;
        case 2:  // one inked pixel
            if (width > 0) {
                const int p = rng.below(width);
                d[static_cast<size_t>(p / ppb)] |= static_cast<uint8_t>(1 << (8 - (8 >> shift) * (p % ppb + 1)));
            }
            break;
        default:  // dense
            for (auto &v : d)
                v = rng.below(3) == 0 ? static_cast<uint8_t>(rng.next()) : 0;
        }
        const PlaneRaster r = plane(d.data(), width, leftOffset, rightMargin);
        int32_t left = -9, right = -9;
        const int got = isNullColor(&r, static_cast<int16_t>(shift), &left, &right);
        const qxref::EdgeResult want = qxref::is_null_color_oracle(d.data(), width, leftOffset, rightMargin, shift);
        ASSERT_EQ(want.result, got) << "width " << width << " offset " << leftOffset << " margin " << rightMargin
                                    << " shift " << shift << " data " << hex(d);
        ASSERT_EQ(want.left, left) << hex(d);
        ASSERT_EQ(want.right, right) << hex(d);
        (got == 0 ? inked : blank)++;
    }
    EXPECT_GT(inked, 1000);  // both verdicts well exercised
    EXPECT_GT(blank, 1000);
}

// Every printable span of a three-byte line at every bit depth, with one
// inked pixel at each position (and none): covers every phase of leftOffset
// and of the span's end inside a byte, and ink just outside either end.
TEST(IsNullColor, EverySpanPhaseWithOneInkedPixel)
{
    for (int shift = 1; shift <= 3; ++shift) {
        const int b = 8 >> shift;
        const int total = 3 << shift;
        for (int ink = -1; ink < total; ++ink) {
            uint8_t d[3] = {0, 0, 0};
            if (ink >= 0)
                d[ink >> shift] = static_cast<uint8_t>(((1 << b) - 1) << (8 - b * ((ink & ((1 << shift) - 1)) + 1)));
            for (int lo = 0; lo <= total; ++lo) {
                for (int rm = 0; rm <= total - lo; ++rm) {
                    const PlaneRaster r = plane(d, total, lo, rm);
                    int32_t left = -9, right = -9;
                    const int got = isNullColor(&r, static_cast<int16_t>(shift), &left, &right);
                    const qxref::EdgeResult want = qxref::is_null_color_oracle(d, total, lo, rm, shift);
                    const bool inside = ink >= lo && ink < total - rm;
                    ASSERT_EQ(inside ? 0 : 1, want.result);  // the oracle itself
                    ASSERT_EQ(want.result, got) << "shift " << shift << " ink " << ink << " lo " << lo << " rm " << rm;
                    ASSERT_EQ(want.left, left) << "shift " << shift << " ink " << ink << " lo " << lo << " rm " << rm;
                    ASSERT_EQ(want.right, right) << "shift " << shift << " ink " << ink << " lo " << lo << " rm " << rm;
                }
            }
        }
    }
}

// search_edge against a pixel-by-pixel scan, every span phase.
TEST(SearchEdge, MatchesPixelOracle)
{
    qxtest::Lcg rng(5);
    for (int iter = 0; iter < 20000; ++iter) {
        const int b = 1 << (iter % 4);  // 1, 2, 4, 8
        const int n = 8 / b;
        const int nbytes = 1 + rng.below(12);
        std::vector<uint8_t> d(static_cast<size_t>(nbytes));
        for (auto &v : d)
            v = rng.below(4) == 0 ? static_cast<uint8_t>(rng.next()) : 0;
        const int total = nbytes * n;
        const int f = rng.below(total + 1);
        const int c = rng.below(total - f + 1);
        int wantFirst = f, wantCount = 0;
        for (int p = f, last = -1; p < f + c; ++p) {
            if (qxref::pixel_inked(d.data(), b, p)) {
                if (last < 0)
                    wantFirst = p;
                last = p;
                wantCount = last - wantFirst + 1;
            }
        }
        // Bytes past the span must not be read: the routine gets a buffer that
        // ends with the span's last byte, and bytes before the span's first
        // byte are solid ink there, so reading them would show.
        const size_t size = c == 0 ? static_cast<size_t>(f / n) : static_cast<size_t>((f + c - 1) / n + 1);
        std::vector<uint8_t> exact(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(size));
        std::fill(exact.begin(), exact.begin() + (f / n), 0xFF);
        if (exact.empty())
            exact.push_back(0xFF);  // count 0: nothing is read
        int16_t first = static_cast<int16_t>(f), count = static_cast<int16_t>(c);
        ASSERT_EQ(0, search_edge(exact.data(), static_cast<int16_t>(b), &first, &count));
        ASSERT_EQ(wantFirst, first) << "b " << b << " f " << f << " c " << c << " data " << hex(d);
        ASSERT_EQ(wantCount, count) << "b " << b << " f " << f << " c " << c << " data " << hex(d);
    }
}

// The word-at-a-time byte scans against a byte loop: 8 bits per pixel makes
// the scanned bytes exactly the span, so every start phase and length shows.
TEST(IsNullColor, WordScanMatchesByteLoop)
{
    std::vector<uint8_t> d(160);
    for (int lo = 0; lo < 24; ++lo) {
        for (int len = 1; len <= 120; ++len) {
            const int hi = lo + len - 1;
            for (int pattern = 0; pattern < 4; ++pattern) {
                std::fill(d.begin(), d.end(), 0);
                // Noise just outside the scanned range must never count.
                if (lo > 0)
                    d[static_cast<size_t>(lo - 1)] = 0xFF;
                d[static_cast<size_t>(hi + 1)] = 0xFF;
                const int a = lo + (len * pattern) / 4;
                const int z = hi - (len * pattern) / 5;
                if (pattern != 3) {
                    d[static_cast<size_t>(a)] = 0x10;
                    d[static_cast<size_t>(z)] = 0x01;
                }
                int first = -1, last = -1;
                for (int i = lo; i <= hi; ++i)
                    if (d[static_cast<size_t>(i)] != 0) {
                        if (first < 0)
                            first = i;
                        last = i;
                    }
                const PlaneRaster r = plane(d.data(), hi + 1, lo, 0);
                int32_t left = -1, right = -1;
                const int got = isNullColor(&r, 0, &left, &right);
                if (first < 0) {
                    EXPECT_EQ(1, got) << "lo " << lo << " len " << len;
                    continue;
                }
                ASSERT_EQ(0, got) << "lo " << lo << " len " << len << " pattern " << pattern;
                ASSERT_EQ(first, left) << "lo " << lo << " len " << len << " pattern " << pattern;
                ASSERT_EQ(last, right) << "lo " << lo << " len " << len << " pattern " << pattern;
            }
        }
    }
}

}  // namespace
