// Tests of the print-mode configuration. The expected values come
// from an independent restatement of the rules in this file: the plane-mode table as
// per-quality rules, the non-zero plane bytes as a compact row list,
// the override rules and the band-height rules. Every combination of head,
// quality, media, colour and composite codes is swept against it.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "alloc_seam.h"
#include "qxdro316_inner.h"

namespace {

// ---- The rules, restated independently ---------------------------------------------------------

int refQuality(int code) {
    switch (static_cast<int16_t>(code)) {
        case 0: return 4;
        case 5: return 3;
        case 10: return 2;
        case 15: return 1;
        default: return 0;
    }
}

int refMedia(int code) {
    const int16_t c = static_cast<int16_t>(code);
    struct { int16_t code; int cls; } const map[] = {
        {1, 2}, {7, 1}, {8, 1}, {15, 4}, {22, 4}, {24, 4}, {16, 5}, {18, 3},
        {26, 7}, {27, 6}, {28, 8}, {29, 9}, {36, 10}, {37, 11}, {50, 12},
    };
    for (const auto &e : map) {
        if (e.code == c) return e.cls;
    }
    return 0;
}

int refHead(int16_t code) { return code == 1 ? 1 : code == 2 ? 2 : 0; }

bool in(int v, std::initializer_list<int> set) {
    for (int s : set) {
        if (s == v) return true;
    }
    return false;
}

// PrintModeTable as rules per quality index; h 1 uses the three-plane variant
// of modes 5 (-> 2) and 9 (-> 7); h 2 supports nothing.
int refTableMode(int h, int q, int m) {
    if (h == 2) return 0;
    const int cmyk = h == 0 ? 5 : 2;
    switch (q) {
        case 0: return m == 0 ? cmyk : 0;
        case 1: return in(m, {0, 1}) ? cmyk : m == 9 ? 2 : 0;
        case 2: return m == 10 ? 0 : in(m, {5, 6, 8}) ? 7 : in(m, {0, 1, 2}) ? cmyk : 2;
        case 3: return in(m, {0, 1}) ? (h == 0 ? 9 : 7) : m == 2 ? cmyk : m == 3 ? 0 : 4;
        case 4: return m == 7 ? 4 : 0;
    }
    return -1;
}

// The non-zero ColorBitTable rows: (h, q, media classes, bytes).
struct BitRow {
    int h, q;
    std::vector<int> media;
    std::vector<uint8_t> bytes;  // the non-zero leading bytes
};
const std::vector<BitRow> kBitRows = {
    {0, 0, {0}, {0x01, 0x01, 0x01, 0x01}},
    {0, 1, {0}, {0x01, 0x01, 0x01, 0x01}},
    {0, 1, {1}, {0x02, 0x02, 0x01, 0x01}},
    {0, 1, {9}, {0x34, 0x34, 0x34}},
    {0, 2, {0}, {0x02, 0x02, 0x01, 0x01}},
    {0, 2, {1, 2}, {0x12, 0x12, 0x01, 0x01}},
    {0, 2, {3}, {0x24, 0x24, 0x24}},
    {0, 2, {4, 7, 9, 11, 12}, {0x02, 0x02, 0x02}},
    {0, 2, {5, 6, 8}, {0x44, 0x44, 0x44, 0x44, 0x44, 0x44}},
    {0, 3, {0, 1}, {0x44, 0x44, 0x44, 0x01, 0x44, 0x44, 0x44}},
    {0, 3, {2}, {0x02, 0x02, 0x02, 0x12}},
    {0, 3, {4, 5, 6, 7, 8, 9, 10, 11, 12}, {0x74, 0x74, 0x74}},
    {0, 4, {7}, {0x12, 0x12, 0x12}},
    {1, 0, {0}, {0x01, 0x01, 0x01}},
    {1, 1, {0}, {0x01, 0x01, 0x01}},
    {1, 1, {1}, {0x02, 0x02, 0x01}},
    {1, 1, {9}, {0x34, 0x34, 0x34}},
    {1, 2, {0}, {0x02, 0x02, 0x01}},
    {1, 2, {1}, {0x34, 0x34, 0x34}},
    {1, 2, {2}, {0x12, 0x12, 0x01}},
    {1, 2, {3}, {0x24, 0x24, 0x24}},
    {1, 2, {4, 7, 9, 11, 12}, {0x02, 0x02, 0x02}},
    {1, 2, {5, 6, 8}, {0x44, 0x44, 0x44, 0x44, 0x44, 0x44}},
    {1, 3, {0, 1}, {0x44, 0x44, 0x44, 0x44, 0x44, 0x44}},
    {1, 3, {2}, {0x02, 0x02, 0x02}},
    {1, 3, {4, 5, 6, 7, 8, 9, 10, 11, 12}, {0x74, 0x74, 0x74}},
    {1, 4, {7}, {0x12, 0x12, 0x12}},
};

std::array<uint8_t, 7> refBytes(int h, int q, int m) {
    std::array<uint8_t, 7> out{};
    for (const BitRow &r : kBitRows) {
        if (r.h != h || r.q != q) continue;
        for (int mm : r.media) {
            if (mm == m) std::copy(r.bytes.begin(), r.bytes.end(), out.begin());
        }
    }
    return out;
}

struct Counts {
    int in, out, base;
};
Counts refCounts(int mode) {
    switch (static_cast<int16_t>(mode)) {
        case 1: return {1, 1, 0};
        case 2: return {3, 3, 0};
        case 3: return {3, 3, 0};
        case 4: return {3, 3, 0};
        case 5: return {4, 4, 3};
        case 6: return {6, 6, 0};
        case 7: return {3, 6, 0};
        case 8: return {7, 7, 3};
        case 9: return {4, 7, 3};
        default: return {1, 1, 0};
    }
}

bool refComposite(int compositeMode) { return static_cast<int16_t>(compositeMode) == 1; }
bool refSingle(int colorMode, int compositeMode, int h, int m) {
    const int16_t c = static_cast<int16_t>(colorMode);
    return !refComposite(compositeMode) && (c == 1 || c == 2) && h != 1 && in(m, {0, 1, 5});
}

int refMode(int quality, int media, int color, int composite, int h) {
    const int q = refQuality(quality), m = refMedia(media);
    if (refComposite(composite)) {
        if (m == 0) return 2;
        if (m == 1) return q == 3 ? 7 : 2;
        return refTableMode(h, q, m);
    }
    if (refSingle(color, composite, h, m)) return 1;
    return refTableMode(h, q, m);
}

// (bit depth, pattern type) of plane p.
std::pair<int, int> refPlane(int quality, int media, int color, int p, int composite, int h) {
    const int q = refQuality(quality), m = refMedia(media);
    const uint8_t b = refBytes(h, q, m)[static_cast<size_t>(p)];
    if (refComposite(composite)) {
        if (m == 1 && q == 2) return {4, 3};
        return {b & 15, b >> 4};
    }
    if (refSingle(color, composite, h, m)) return {1, 0};
    return {b & 15, b >> 4};
}

std::unique_ptr<OutputContext> context(int16_t head) {
    auto ctx = std::make_unique<OutputContext>();
    ctx->printHead = head;
    return ctx;
}

// ---- Code arguments swept ---------------------------------------------------------

const std::vector<int16_t> kHeadCodes = {0, 1, 2, 3, -1, 100, INT16_MIN, INT16_MAX};
const std::vector<int> kQualityCodes = {0, 5, 10, 15, 1, 3, 4, 6, 20, -5, 32767, -32768,
                                        0x10005, 0x1000A, 0x10000, 0x2000F};
const std::vector<int> kMediaCodes = {1,  7,  8,  15, 22, 24, 16, 18, 26, 27,  28,      29,      36,
                                      37, 50, 0,  2,  6,  9,  14, 17, 23, 25,  30,      35,      38,
                                      49, 51, 100, -1, -7, -50, 32767, -32768, 0x10007, 0x10032, 0x1001A};
const std::vector<int> kColorModes = {0, 1, 2, 3, -1, 0x10001, 0x10002};
const std::vector<int> kCompositeModes = {0, 1, 2, -1, 0x10001};

// ---- Code mappings -------------------------------------------------------------------

TEST(PrintModeCodes, PrintHead) {
    for (int16_t code : kHeadCodes) {
        PrintParams p{};
        p.headCode = code;
        EXPECT_EQ(getPrintHead(&p), refHead(code)) << code;
    }
    EXPECT_EQ(getPrintHead(nullptr), 0);
}

TEST(PrintModeCodes, QualityIndex) {
    for (int code = -70000; code <= 70000; ++code) {
        ASSERT_EQ(GetIndexPrintQuality(code), refQuality(code)) << code;
    }
    EXPECT_EQ(GetIndexPrintQuality(0), 4);
    EXPECT_EQ(GetIndexPrintQuality(5), 3);
    EXPECT_EQ(GetIndexPrintQuality(10), 2);
    EXPECT_EQ(GetIndexPrintQuality(15), 1);
    EXPECT_EQ(GetIndexPrintQuality(3), 0);
    EXPECT_EQ(GetIndexPrintQuality(65536 + 10), 2);  // compared as int16
}

TEST(PrintModeCodes, MediaClass) {
    for (int code = -70000; code <= 70000; ++code) {
        ASSERT_EQ(GetIndexMediaType(code), refMedia(code)) << code;
    }
    EXPECT_EQ(GetIndexMediaType(26), 7);
    EXPECT_EQ(GetIndexMediaType(51), 0);
    EXPECT_EQ(GetIndexMediaType(-1), 0);
    EXPECT_EQ(GetIndexMediaType(65536 + 50), 12);
}

TEST(PrintModeCodes, PlaneCounts) {
    for (int mode : {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 15, 255, 0x10005, 0x10009, INT32_MIN}) {
        const Counts c = refCounts(mode);
        EXPECT_EQ(getInPlaneNum(mode), c.in) << mode;
        EXPECT_EQ(getOutPlaneNum(mode), c.out) << mode;
        EXPECT_EQ(getBaseClrPos(mode), c.base) << mode;
    }
}

// ---- The whole sweep -------------------------------------------------------------------

TEST(PrintModeSweep, EveryCombination) {
    long checked = 0;
    for (int16_t headCode : kHeadCodes) {
        PrintParams params{};
        params.headCode = headCode;
        const int h = getPrintHead(&params);
        auto ctx = context(static_cast<int16_t>(h));
        for (int quality : kQualityCodes) {
            for (int media : kMediaCodes) {
                for (int color : kColorModes) {
                    for (int composite : kCompositeModes) {
                        const int mode = getPlaneMode(quality, media, color, composite, h);
                        ASSERT_EQ(mode, refMode(quality, media, color, composite, h))
                            << "head " << h << " quality " << quality << " media " << media << " color "
                            << color << " composite " << composite;
                        for (int p = 0; p < 7; ++p) {
                            const auto [depth, type] = refPlane(quality, media, color, p, composite, h);
                            ASSERT_EQ(GetBitDepth(quality, media, color, p, composite, ctx.get()), depth)
                                << "head " << h << " quality " << quality << " media " << media << " color "
                                << color << " composite " << composite << " plane " << p;
                            ASSERT_EQ(IsTglType(quality, media, color, p, composite, ctx.get()), type)
                                << "head " << h << " quality " << quality << " media " << media << " color "
                                << color << " composite " << composite << " plane " << p;
                            ++checked;
                        }
                    }
                }
            }
        }
    }
    EXPECT_GT(checked, 100000);
}

// ---- Rules derived from the exported tables ------------------------------------------------

TEST(PrintModeTables, DerivedProperties) {
    for (int h = 0; h < 3; ++h) {
        for (int q = 0; q < 5; ++q) {
            for (int m = 0; m < 13; ++m) {
                const uint8_t t = PrintModeTable[h * 65 + q * 13 + m];
                EXPECT_EQ(t & 0xF0, 0);
                EXPECT_EQ(t, refTableMode(h, q, m)) << h << " " << q << " " << m;
                const int out = t == 0 ? 0 : refCounts(t).out;
                const auto want = refBytes(h, q, m);
                for (int p = 0; p < 7; ++p) {
                    const uint8_t b = ColorBitTable[h * 455 + q * 91 + m * 7 + p];
                    char msg[64];
                    std::snprintf(msg, sizeof msg, "h %d q %d m %d p %d: %02x", h, q, m, p, b);
                    EXPECT_EQ(b != 0, p < out) << msg;  // exactly the first outPlaneCount bytes
                    EXPECT_EQ(b, want[static_cast<size_t>(p)]) << msg;
                    if (b != 0) {
                        EXPECT_TRUE(in(b & 15, {1, 2, 4})) << msg;
                        EXPECT_LE(b >> 4, 7) << msg;
                    }
                }
            }
        }
    }
}

// ---- Out-of-range indices: no table read, 0 -----------------------------------------------

TEST(PrintModeGuards, HeadAndPlaneIndexOutOfRange) {
    for (int h : {3, -1, 65, 100, INT32_MAX, INT32_MIN, 0x10000, 0x10001}) {
        for (int composite : {0, 1}) {
            EXPECT_EQ(getPlaneMode(5, 0, 0, composite, h), 0) << h;
            EXPECT_EQ(getPlaneMode(10, 7, 1, composite, h), 0) << h;
        }
    }
    for (int16_t h : {3, -1, 100, INT16_MIN, INT16_MAX}) {
        auto ctx = context(h);
        for (int p = 0; p < 7; ++p) {
            EXPECT_EQ(GetBitDepth(5, 0, 0, p, 0, ctx.get()), 0) << h;
            EXPECT_EQ(IsTglType(5, 0, 0, p, 0, ctx.get()), 0) << h;
            EXPECT_EQ(GetBitDepth(10, 7, 0, p, 1, ctx.get()), 0) << h;
            EXPECT_EQ(GetBitDepth(10, 0, 1, p, 0, ctx.get()), 0) << h;
        }
    }
    auto ctx = context(0);
    for (int p : {-1, 7, 8, 100, -455, INT32_MAX, INT32_MIN}) {
        EXPECT_EQ(GetBitDepth(5, 0, 0, p, 0, ctx.get()), 0) << p;
        EXPECT_EQ(IsTglType(5, 0, 0, p, 0, ctx.get()), 0) << p;
        EXPECT_EQ(GetBitDepth(10, 7, 0, p, 1, ctx.get()), 0) << p;
        EXPECT_EQ(GetBitDepth(10, 0, 1, p, 0, ctx.get()), 0) << p;
    }
    EXPECT_EQ(GetBitDepth(5, 0, 0, 0, 0, nullptr), 0);
    EXPECT_EQ(IsTglType(5, 0, 0, 0, 0, nullptr), 0);
}

// ---- Edge cases --------------------------------------------------------------------

std::string depths(int quality, int media, int color, int composite, const OutputContext *ctx, int n) {
    std::string s;
    for (int p = 0; p < n; ++p) s += std::to_string(GetBitDepth(quality, media, color, p, composite, ctx));
    return s;
}
std::string types(int quality, int media, int color, int composite, const OutputContext *ctx, int n) {
    std::string s;
    for (int p = 0; p < n; ++p) s += std::to_string(IsTglType(quality, media, color, p, composite, ctx));
    return s;
}

TEST(PrintModeEdges, TextExamples) {
    auto h0 = context(0), h1 = context(1), h2 = context(2);
    EXPECT_EQ(getPlaneMode(5, 0, 0, 0, 0), 9);
    EXPECT_EQ(depths(5, 0, 0, 0, h0.get(), 7), "4441444");
    EXPECT_EQ(types(5, 0, 0, 0, h0.get(), 7), "4440444");
    EXPECT_EQ(getPlaneMode(5, 0, 0, 0, 1), 7);
    EXPECT_EQ(depths(5, 0, 0, 0, h1.get(), 7), "4444440");
    EXPECT_EQ(types(5, 0, 0, 0, h1.get(), 6), "444444");
    EXPECT_EQ(getPlaneMode(5, 26, 0, 0, 0), 4);
    EXPECT_EQ(depths(5, 26, 0, 0, h0.get(), 4), "4440");
    EXPECT_EQ(types(5, 26, 0, 0, h0.get(), 3), "777");
    for (int head : {0, 1}) {
        auto ctx = context(static_cast<int16_t>(head));
        EXPECT_EQ(getPlaneMode(0, 26, 0, 0, head), 4);
        EXPECT_EQ(depths(0, 26, 0, 0, ctx.get(), 4), "2220");
        EXPECT_EQ(types(0, 26, 0, 0, ctx.get(), 3), "111");
        for (int media : {0, 1, 7, 16, 18, 50, 99}) EXPECT_EQ(getPlaneMode(0, media, 0, 0, head), 0) << media;
    }
    EXPECT_EQ(getPlaneMode(3, 0, 0, 0, 0), 5);
    EXPECT_EQ(depths(3, 0, 0, 0, h0.get(), 5), "11110");
    EXPECT_EQ(getPlaneMode(10, 16, 2, 0, 0), 1);  // table says 7
    EXPECT_EQ(depths(10, 16, 2, 0, h0.get(), 7), "1111111");
    EXPECT_EQ(types(10, 16, 2, 0, h0.get(), 7), "0000000");
    EXPECT_EQ(getPlaneMode(10, 16, 1, 0, 1), 7);  // head 1: the table decides
    EXPECT_EQ(getPlaneMode(10, 7, 0, 1, 0), 2);
    EXPECT_EQ(depths(10, 7, 0, 1, h0.get(), 7), "4444444");
    EXPECT_EQ(types(10, 7, 0, 1, h0.get(), 7), "3333333");
    EXPECT_EQ(getPlaneMode(5, 7, 0, 1, 0), 7);  // composite, q 3, class 1
    EXPECT_EQ(depths(5, 7, 0, 1, h0.get(), 6), "444144");
    EXPECT_EQ(types(5, 7, 0, 1, h0.get(), 6), "444044");
    EXPECT_EQ(getPlaneMode(0, 0, 0, 1, 0), 2);  // composite, class 0, q 4 ...
    EXPECT_EQ(depths(0, 0, 0, 1, h0.get(), 3), "000");  // ... but no bit depth
    for (int q : kQualityCodes) {
        for (int m : kMediaCodes) {
            EXPECT_EQ(getPlaneMode(q, m, 0, 0, 2), 0);
        }
    }
    for (int media : {7, 8}) {
        EXPECT_EQ(getPlaneMode(10, media, 0, 1, 2), 2);
        EXPECT_EQ(depths(10, media, 0, 1, h2.get(), 3), "444");
        EXPECT_EQ(types(10, media, 0, 1, h2.get(), 3), "333");
    }
}

// ---- Band height ------------------------------------------------------------------------------------

TEST(PrintModeBand, SetMaxRasterRules) {
    for (int quality : kQualityCodes) {
        for (int media : kMediaCodes) {
            for (int16_t banner : {0, 1, 2, -1}) {
                for (int16_t type = 0; type <= 8; ++type) {
                    PrintParams params{};
                    params.printQuality = static_cast<int16_t>(quality);
                    params.mediaType = static_cast<int16_t>(media);
                    params.bannerPaper = banner;
                    auto ctx = context(0);
                    ctx->planes[0].tglType = type;
                    ctx->bandHeight = 99;
                    ctx->bcbSlots = 99;
                    auto before = std::make_unique<OutputContext>(*ctx);
                    setMaxRaster(ctx.get(), &params);
                    const int q = refQuality(quality), m = refMedia(media);
                    const bool eight = banner == 1 || (m == 0 && (q == 0 || q == 1)) || in(type, {5, 6, 7});
                    ASSERT_EQ(ctx->bandHeight, eight ? 8 : 16)
                        << "quality " << quality << " media " << media << " banner " << banner << " type " << type;
                    ASSERT_EQ(ctx->bcbSlots, 1);
                    before->bandHeight = ctx->bandHeight;
                    before->bcbSlots = ctx->bcbSlots;
                    ASSERT_EQ(std::memcmp(before.get(), ctx.get(), sizeof(OutputContext)), 0);  // nothing else
                }
            }
        }
    }
}

TEST(PrintModeBand, TextExamples) {
    auto ctx = context(0);
    PrintParams params{};
    params.printQuality = 5;  // edge case: mode 9, pattern type 4 on plane 0
    ctx->planes[0].tglType = 4;
    setMaxRaster(ctx.get(), &params);
    EXPECT_EQ(ctx->bandHeight, 16);
    params.mediaType = 26;  // pattern type 7 on plane 0
    ctx->planes[0].tglType = static_cast<int16_t>(IsTglType(5, 26, 0, 0, 0, ctx.get()));
    setMaxRaster(ctx.get(), &params);
    EXPECT_EQ(ctx->bandHeight, 8);
    params.printQuality = 3;
    params.mediaType = 0;
    ctx->planes[0].tglType = 0;
    setMaxRaster(ctx.get(), &params);
    EXPECT_EQ(ctx->bandHeight, 8);
    params.printQuality = 10;
    params.bannerPaper = 1;
    setMaxRaster(ctx.get(), &params);
    EXPECT_EQ(ctx->bandHeight, 8);
    setMaxRaster(nullptr, &params);  // nothing
    setMaxRaster(ctx.get(), nullptr);
    EXPECT_EQ(ctx->bandHeight, 8);
}

// The lookups are pure: no memory is allocated. (Referencing the seam also
// links it, which the wrapped free of googletest needs.)
TEST(PrintModePure, NoAllocation) {
    qxtest::AllocFailure seam(0);
    auto ctx = context(0);
    PrintParams params{};
    for (int p = 0; p < 7; ++p) {
        (void)getPlaneMode(5, 0, 0, 0, 0);
        (void)GetBitDepth(5, 0, 0, p, 0, ctx.get());
        (void)IsTglType(5, 0, 0, p, 0, ctx.get());
    }
    setMaxRaster(ctx.get(), &params);
    EXPECT_EQ(qxtest::allocCalls(), 0);
}

}  // namespace
