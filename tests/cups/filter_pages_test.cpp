// rastertoqx316 on valid rasters: every supported colour space, order and
// depth, placement, copies, both paper paths and per-page options, read back
// from the printer stream with the printer-side decoder.
#include "filter_support.h"

#include "mode.h"
#include "options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <unistd.h>

using namespace qxtest;

namespace {

// A mode that prints every input bit as it is: 1-bit C, M, Y and K planes.
const char *const kOneBitMode = "QXQuality=q3 MediaType=m0";

const cups_order_t kOrders[] = {CUPS_ORDER_CHUNKED, CUPS_ORDER_BANDED, CUPS_ORDER_PLANAR};

std::string label(cups_cspace_t cs, int bpc, cups_order_t order) {
    static const char *const orders[] = {"chunky", "banded", "planar"};
    return std::to_string(int(cs)) + "/" + std::to_string(bpc) + "-bit/" + orders[order];
}

qx316::DecodeResult decodeOk(const FilterResult &r) {
    qx316::DecodeResult d = qx316::decodeStream(r.out.data(), r.out.size());
    EXPECT_TRUE(d.ok) << d.error << " at " << d.errorOffset;
    return d;
}

// Which decoded plane each raster colour inks in a 1-bit CMYK mode.
struct OneBitCase {
    cups_cspace_t space;
    const char *letters; // per raster colour: the plane it lands on
    bool inverted;       // raster 1 is no ink
};

const OneBitCase kOneBit[] = {
    {CUPS_CSPACE_K, "K", false},     {CUPS_CSPACE_W, "K", true},      {CUPS_CSPACE_CMY, "CMY", false},
    {CUPS_CSPACE_YMC, "YMC", false}, {CUPS_CSPACE_CMYK, "CMYK", false}, {CUPS_CSPACE_KCMY, "KCMY", false},
    {CUPS_CSPACE_YMCK, "YMCK", false},
};

} // namespace

// Halftoned rasters pass through bit for bit: each decoded plane line equals
// the raster bits of its colour, in every order, uncompressed and compressed.
TEST(FilterPages, OneBitRastersArriveBitExact) {
    const int w = 203, h = 37;
    for (const OneBitCase &c : kOneBit)
        for (cups_order_t order : kOrders)
            for (cups_mode_t mode : {CUPS_RASTER_WRITE, CUPS_RASTER_WRITE_COMPRESSED}) {
                SCOPED_TRACE(label(c.space, 1, order) + (mode == CUPS_RASTER_WRITE ? " plain" : " compressed"));
                std::mt19937 rng(unsigned(c.space) * 7 + unsigned(order));
                std::vector<std::vector<uint8_t>> bits(std::strlen(c.letters), std::vector<uint8_t>(size_t(w * h)));
                for (auto &plane : bits)
                    for (auto &b : plane)
                        b = (rng() % 3 == 0);
                const cups_page_header2_t hd = pageHeader(c.space, 1, order, w, h);
                const std::string in = writeRaster(
                    {{hd, pageBytes(hd, [&](int col, int x, int y) { return unsigned(bits[size_t(col)][size_t(y * w + x)]); })}},
                    mode);
                const FilterResult r = runFilterProgram(in, kOneBitMode);
                unlink(in.c_str());
                ASSERT_EQ(r.status, 0) << r.first("ERROR");
                const qx316::DecodeResult d = decodeOk(r);
                ASSERT_EQ(d.pages.size(), 1u);
                const size_t pb = (w + 7) / 8;
                for (const char *letter = "CMYK"; *letter; ++letter) {
                    const char *at = std::strchr(c.letters, *letter);
                    for (int y = 0; y < h; ++y) {
                        std::vector<uint8_t> want(pb, 0);
                        if (at)
                            for (int x = 0; x < w; ++x)
                                if (bits[size_t(at - c.letters)][size_t(y * w + x)] != c.inverted)
                                    want[size_t(x / 8)] |= uint8_t(0x80 >> (x % 8));
                        ASSERT_EQ(decodedLine(d.pages[0], uint8_t(*letter), y, pb), want)
                            << "plane " << *letter << " line " << y;
                    }
                }
            }
}

namespace {

// A solid band of one colour: the planes that must be full and those that
// must stay blank.
struct SolidCase {
    cups_cspace_t space;
    std::vector<double> colour; // per raster colour, 0..1 of the sample range
    const char *full;           // planes inked over the whole width
};

const SolidCase kSolid[] = {
    {CUPS_CSPACE_W, {0.0}, "K"},
    {CUPS_CSPACE_SW, {0.0}, "K"},
    {CUPS_CSPACE_K, {1.0}, "K"},
    {CUPS_CSPACE_RGB, {1.0, 0.0, 0.0}, "MY"},
    // sRGB and Adobe RGB are colour managed: their black prints in K alone
    // (device RGB prints as it is).
    {CUPS_CSPACE_SRGB, {0.0, 0.0, 0.0}, "K"},
    {CUPS_CSPACE_ADOBERGB, {0.0, 0.0, 0.0}, "K"},
    {CUPS_CSPACE_CMY, {1.0, 0.0, 0.0}, "C"},
    {CUPS_CSPACE_YMC, {1.0, 0.0, 0.0}, "Y"},
    {CUPS_CSPACE_CMYK, {0.0, 1.0, 0.0, 0.0}, "M"},
    {CUPS_CSPACE_CMYK, {0.0, 0.0, 0.0, 1.0}, "K"},
    {CUPS_CSPACE_KCMY, {1.0, 0.0, 0.0, 0.0}, "K"},
    {CUPS_CSPACE_KCMY, {0.0, 1.0, 0.0, 1.0}, "CY"},
    {CUPS_CSPACE_YMCK, {1.0, 0.0, 0.0, 0.0}, "Y"},
};

} // namespace

// Contone rasters: white lines print nothing, a solid band of full ink or a
// pure colour fills exactly its planes, for 8 and 16 bits in every order.
TEST(FilterPages, ContoneSolidBandsFillTheirPlanes) {
    const int w = 150, h = 30;
    for (const SolidCase &c : kSolid)
        for (int bpc : {8, 16})
            for (cups_order_t order : kOrders) {
                SCOPED_TRACE(label(c.space, bpc, order));
                const unsigned top = bpc == 8 ? 255 : 65535;
                const bool light = c.space == CUPS_CSPACE_W || c.space == CUPS_CSPACE_SW ||
                                   c.space == CUPS_CSPACE_RGB || c.space == CUPS_CSPACE_SRGB ||
                                   c.space == CUPS_CSPACE_ADOBERGB;
                const cups_page_header2_t hd = pageHeader(c.space, bpc, order, w, h);
                const std::string in = writeRaster({{hd, pageBytes(hd, [&](int col, int, int y) {
                                                         const bool band = y >= 10 && y < 20;
                                                         if (!band)
                                                             return light ? top : 0u;
                                                         return unsigned(c.colour[size_t(col)] * top);
                                                     })}});
                const FilterResult r = runFilterProgram(in, kOneBitMode);
                unlink(in.c_str());
                ASSERT_EQ(r.status, 0) << r.first("ERROR");
                const qx316::DecodeResult d = decodeOk(r);
                ASSERT_EQ(d.pages.size(), 1u);
                const size_t pb = (w + 7) / 8;
                std::vector<uint8_t> full(pb, 0xFF), blank(pb, 0);
                full[pb - 1] = uint8_t(0xFF << (8 - w % 8));
                for (const char *letter = "CMYK"; *letter; ++letter)
                    for (int y = 0; y < h; ++y) {
                        const bool inked = y >= 10 && y < 20 && std::strchr(c.full, *letter);
                        ASSERT_EQ(decodedLine(d.pages[0], uint8_t(*letter), y, pb), inked ? full : blank)
                            << "plane " << *letter << " line " << y;
                    }
            }
}

// A bitmap smaller than the sheet lands at the imaging box's top-left corner.
TEST(FilterPages, BitmapSitsAtTheImagingBox) {
    const int w = 64, h = 20;
    cups_page_header2_t hd = pageHeader(CUPS_CSPACE_K, 1, CUPS_ORDER_CHUNKED, w, h);
    hd.PageSize[0] = 612;
    hd.PageSize[1] = 792;
    hd.cupsPageSize[0] = 612;
    hd.cupsPageSize[1] = 792;
    // 18 pt = 150 pixels from the left, 36 pt = 300 lines from the top.
    const float box[4] = {18, 792 - 36 - h * 72.0f / 600, 18 + w * 72.0f / 600, 792 - 36};
    for (int i = 0; i < 4; ++i) {
        hd.cupsImagingBBox[i] = box[i];
        hd.ImagingBoundingBox[i] = unsigned(box[i]);
    }
    const std::string in =
        writeRaster({{hd, pageBytes(hd, [](int, int x, int y) { return unsigned(x == y || x == 63); })}});
    const FilterResult r = runFilterProgram(in, kOneBitMode);
    unlink(in.c_str());
    ASSERT_EQ(r.status, 0) << r.first("ERROR");
    const qx316::DecodeResult d = decodeOk(r);
    ASSERT_EQ(d.pages.size(), 1u);
    const size_t pb = (150 + w + 7) / 8;
    for (int y = 0; y < 300 + h + 5; ++y) {
        std::vector<uint8_t> want(pb, 0);
        if (y >= 300 && y < 300 + h)
            for (int x : {y - 300, 63})
                want[size_t(150 + x) / 8] |= uint8_t(0x80 >> ((150 + x) % 8));
        ASSERT_EQ(decodedLine(d.pages[0], 'K', y, pb), want) << "line " << y;
    }
}

// NumCopies prints each page that many times in a row, on cut sheets and on
// banner paper, and PAGE: reports each page with its copies.
TEST(FilterPages, CopiesAreUncollatedOnBothPaperPaths) {
    const int w = 40, h = 16;
    std::vector<RasterPage> pages;
    for (int p = 0; p < 2; ++p) {
        cups_page_header2_t hd = pageHeader(CUPS_CSPACE_CMYK, 8, CUPS_ORDER_CHUNKED, w, h);
        hd.NumCopies = p == 0 ? 3 : 2;
        pages.push_back({hd, pageBytes(hd, [p](int col, int, int) { return col == p ? 255u : 0u; })});
    }
    const std::string in = writeRaster(pages);
    for (const char *paper : {"cut", "banner"}) {
        SCOPED_TRACE(paper);
        const FilterResult r = runFilterProgram(in, std::string(kOneBitMode) + " QXPaper=" + paper);
        ASSERT_EQ(r.status, 0) << r.first("ERROR");
        EXPECT_EQ(r.count("PAGE:"), 2);
        EXPECT_EQ(r.first("PAGE:"), "PAGE: 1 3");
        EXPECT_EQ(r.messages.end() != std::find(r.messages.begin(), r.messages.end(), "PAGE: 2 2"), true);
        const qx316::DecodeResult d = decodeOk(r);
        // Every copy's lines, in order: three of page 1 (cyan), two of page 2 (magenta).
        std::vector<char> inked;
        for (const qx316::DecodedPage &pg : d.pages)
            for (uint8_t letter : {uint8_t('C'), uint8_t('M')})
                if (const qx316::DecodedPlane *pl = pg.plane(letter))
                    for (const auto &row : pl->rows) {
                        (void)row;
                        inked.push_back(char(letter));
                    }
        EXPECT_EQ(std::string(inked.begin(), inked.end()), std::string(3 * h, 'C') + std::string(2 * h, 'M'));
        if (std::string(paper) == "cut") {
            EXPECT_EQ(d.pages.size(), 5u);
        }
    }
    unlink(in.c_str());
}

// Options in the page header (with the marker) win over the job's; a page
// whose options differ starts a new job in the same stream, and each page is
// printed with its own options: red on colour pages, black on the black-only one.
TEST(FilterPages, HeaderOptionsPerPageStartNewJobs) {
    const int w = 32, h = 8;
    std::vector<RasterPage> pages;
    const int colorModes[] = {0, 1, 0};
    for (int cm : colorModes) {
        cups_page_header2_t hd = pageHeader(CUPS_CSPACE_RGB, 8, CUPS_ORDER_CHUNKED, w, h);
        hd.cupsInteger[0] = qx316::kRasterMarkerValue;
        hd.cupsInteger[1] = 3;  // quality q3
        hd.cupsMediaType = 0;   // media m0
        hd.cupsInteger[3] = unsigned(cm);
        pages.push_back({hd, pageBytes(hd, [](int col, int, int) { return col == 0 ? 255u : 0u; })}); // red
    }
    const std::string in = writeRaster(pages);
    // The job's options ask for something else: the header's fields win.
    const FilterResult r = runFilterProgram(in, "QXQuality=q5 ColorModel=Gray");
    unlink(in.c_str());
    ASSERT_EQ(r.status, 0) << r.first("ERROR");
    EXPECT_EQ(r.count("PAGE:"), 3);
    int restarts = 0;
    for (const std::string &m : r.messages)
        restarts += m.find("new job") != std::string::npos;
    EXPECT_EQ(restarts, 2);
    const qx316::DecodeResult d = decodeOk(r);
    ASSERT_EQ(d.pages.size(), 3u);
    const char *const want[] = {"M Y ", "K ", "M Y "};
    for (size_t p = 0; p < 3; ++p) {
        std::string got;
        for (const qx316::DecodedPlane &pl : d.pages[p].planes)
            if (!pl.rows.empty())
                got += qx316::planeName(pl.letter) + " ";
        EXPECT_EQ(got, want[p]) << "page " << p + 1;
    }
}

// The file named as the sixth argument reads like standard input.
TEST(FilterPages, FileArgumentReadsLikeStandardInput) {
    const cups_page_header2_t hd = pageHeader(CUPS_CSPACE_K, 8, CUPS_ORDER_CHUNKED, 50, 10);
    const std::string in = writeRaster({{hd, pageBytes(hd, [](int, int x, int) { return x < 25 ? 255u : 0u; })}});
    const FilterResult a = runFilterProgram(in, kOneBitMode, false);
    const FilterResult b = runFilterProgram(in, kOneBitMode, true);
    unlink(in.c_str());
    ASSERT_EQ(a.status, 0) << a.first("ERROR");
    ASSERT_EQ(b.status, 0) << b.first("ERROR");
    EXPECT_FALSE(a.out.empty());
    EXPECT_EQ(a.out, b.out);
    EXPECT_GE(a.count("INFO:"), 1);
}
