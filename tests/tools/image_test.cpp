// Page reading: PNG and PNM of odd widths, 16-bit and alpha inputs, and
// damaged files; then such a page printed and read back pixel for pixel.
#include "colour.h"
#include "image.h"
#include "job.h"
#include "qx316_stream.h"
#include "hex.h"
#include "stream_builder.h"

#include <gtest/gtest.h>
#include <lcms2.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <string>

using qx316test::Bytes;
using qxtest::hex;

namespace {

void appendBytes(png_structp png, png_bytep data, png_size_t n) {
    Bytes *out = static_cast<Bytes *>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + n);
}

// Encodes samples (big-endian 16-bit when depth is 16) as a PNG in memory,
// with an embedded ICC profile when one is given.
Bytes encodePng(int w, int h, int colourType, int depth, const Bytes &samples, const Bytes *icc = nullptr) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, appendBytes, nullptr);
    png_set_IHDR(png, info, png_uint_32(w), png_uint_32(h), depth, colourType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (icc)
        png_set_iCCP(png, info, "page", PNG_COMPRESSION_TYPE_BASE, icc->data(), png_uint_32(icc->size()));
    png_write_info(png, info);
    const size_t rowBytes = samples.size() / size_t(h);
    for (int y = 0; y < h; ++y)
        png_write_row(png, samples.data() + size_t(y) * rowBytes);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

Bytes pattern(size_t n, int seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t((i * 37 + size_t(seed) * 101) % 256);
    return b;
}

Bytes to16(const Bytes &s) {
    Bytes b;
    for (uint8_t v : s) {
        b.push_back(v);
        b.push_back(v); // v * 257: exactly v again at 8 bits
    }
    return b;
}

qx316::Image read(const Bytes &file, bool expectOk = true) {
    qx316::Image img;
    std::string err;
    const bool ok = qx316::readImage(file.data(), file.size(), img, err);
    EXPECT_EQ(ok, expectOk) << err;
    if (!expectOk) {
        EXPECT_FALSE(err.empty());
    }
    return img;
}

TEST(ReadPng, OddWidthsAndDepths) {
    struct Case { const char *name; int colourType, depth, channels; };
    const Case cases[] = {{"gray 8", PNG_COLOR_TYPE_GRAY, 8, 1},
                          {"gray 16", PNG_COLOR_TYPE_GRAY, 16, 1},
                          {"rgb 8", PNG_COLOR_TYPE_RGB, 8, 3},
                          {"rgb 16", PNG_COLOR_TYPE_RGB, 16, 3}};
    for (const Case &c : cases)
        for (int w : {1, 7, 9}) {
            const int h = 3;
            const Bytes samples = pattern(size_t(w * h * c.channels), w);
            const Bytes file = encodePng(w, h, c.colourType, c.depth, c.depth == 16 ? to16(samples) : samples);
            ASSERT_FALSE(file.empty()) << c.name;
            qx316::Image img = read(file);
            EXPECT_EQ(img.width, w) << c.name;
            EXPECT_EQ(img.height, h) << c.name;
            EXPECT_EQ(img.channels, c.channels) << c.name;
            EXPECT_EQ(img.pixels, samples) << c.name << " width " << w << "\nexpected " << hex(samples)
                                           << "\nactual   " << hex(img.pixels);
        }
}

TEST(ReadPng, AlphaFallsOnWhitePaper) {
    // RGBA: transparent black, opaque black, opaque red, half-covered black.
    const Bytes rgba = {0, 0, 0, 0, 0, 0, 0, 255, 255, 0, 0, 255, 0, 0, 0, 128};
    qx316::Image img = read(encodePng(4, 1, PNG_COLOR_TYPE_RGBA, 8, rgba));
    ASSERT_EQ(img.channels, 3);
    ASSERT_EQ(img.pixels.size(), 12u);
    EXPECT_EQ(Bytes(img.pixels.begin(), img.pixels.begin() + 9), (Bytes{255, 255, 255, 0, 0, 0, 255, 0, 0}))
        << hex(img.pixels);
    EXPECT_GT(img.pixels[9], 0);
    EXPECT_LT(img.pixels[9], 255);
    // Gray + alpha at 16 bits.
    const Bytes ga = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF};
    qx316::Image g = read(encodePng(2, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 16, ga));
    ASSERT_EQ(g.channels, 1);
    EXPECT_EQ(g.pixels, (Bytes{255, 0})) << hex(g.pixels);
}

Bytes pnm(const std::string &header, const Bytes &data) {
    Bytes b(header.begin(), header.end());
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

TEST(ReadPnm, OddWidthsAndKinds) {
    // P4: 1 is black; rows padded to whole bytes.
    qx316::Image p4 = read(pnm("P4\n# comment\n9 2\n", {0x80, 0x80, 0x55, 0x00}));
    EXPECT_EQ(p4.width, 9);
    EXPECT_EQ(p4.pixels, (Bytes{0, 255, 255, 255, 255, 255, 255, 255, 0, 255, 0, 255, 0, 255, 0, 255, 0, 255}))
        << hex(p4.pixels);
    qx316::Image p4w1 = read(pnm("P4 1 3\n", {0x80, 0x00, 0xFF}));
    EXPECT_EQ(p4w1.pixels, (Bytes{0, 255, 0}));
    for (int w : {1, 7, 9}) {
        const Bytes g = pattern(size_t(w * 2), w);
        qx316::Image p5 = read(pnm("P5 " + std::to_string(w) + " 2 255\n", g));
        EXPECT_EQ(p5.pixels, g) << "P5 width " << w;
        const Bytes c = pattern(size_t(w * 2 * 3), w + 1);
        qx316::Image p6 = read(pnm("P6\n" + std::to_string(w) + " 2\n255\n", c));
        EXPECT_EQ(p6.channels, 3);
        EXPECT_EQ(p6.pixels, c) << "P6 width " << w;
        qx316::Image p6w = read(pnm("P6 " + std::to_string(w) + " 2 65535\n", to16(c)));
        EXPECT_EQ(p6w.pixels, c) << "16-bit P6 width " << w;
    }
    // A small maximum value scales to the full range.
    EXPECT_EQ(read(pnm("P5 3 1 3\n", {0, 1, 3})).pixels, (Bytes{0, 85, 255}));
}

TEST(ReadImage, DamagedFilesAreRefused) {
    const Bytes good = encodePng(7, 3, PNG_COLOR_TYPE_RGB, 8, pattern(63, 1));
    const Bytes cases[] = {
        {},
        {'h', 'e', 'l', 'l', 'o'},
        Bytes(good.begin(), good.begin() + long(good.size() / 2)), // truncated PNG
        Bytes(good.begin(), good.begin() + 12),
        pnm("P5 3 1 255\n", {1, 2}),      // truncated samples
        pnm("P5 3 1\n", {}),              // no maximum value
        pnm("P5 0 1 255\n", {}),          // no pixels
        pnm("P6 40000 1 255\n", Bytes(120000)), // wider than a raster line can be
        pnm("P5 3 1 0\n", {1, 2, 3}),     // maximum value 0
        pnm("P5 3 1 70000\n", {1, 2, 3}), // maximum value above 16 bits
        pnm("P4 9 2\n", {0x80, 0x80, 0x55}),
        pnm("P3 1 1 255\n", {'0', ' ', '0', ' ', '0'}), // plain-text kind not read
    };
    int i = 0;
    for (const Bytes &c : cases) {
        SCOPED_TRACE("case " + std::to_string(i++));
        read(c, false);
    }
    qx316::Image img;
    std::string err;
    EXPECT_FALSE(qx316::readImageFile("/nonexistent/page.png", img, err));
    EXPECT_NE(err.find("/nonexistent/page.png"), std::string::npos) << err;
}

// Files whose end is missing or followed by garbage, and pages wider than the
// print mode takes, are refused; the wide page before a pixel is decoded and
// a header alone without taking memory for the pixels it claims.
TEST(ReadImage, EndsWidthsAndClaimsAreCheckedFirst) {
    const Bytes good = encodePng(7, 3, PNG_COLOR_TYPE_RGB, 8, pattern(63, 1));
    const Bytes noEnd(good.begin(), good.end() - 12); // without the IEND chunk
    Bytes garbage = good;
    garbage.insert(garbage.end(), {'j', 'u', 'n', 'k'});
    read(noEnd, false);
    read(garbage, false);
    // The same PNG is refused for a 6-pixel mode limit, and the reason says so.
    qx316::Image img;
    std::string err;
    EXPECT_FALSE(qx316::readImage(good.data(), good.size(), img, err, 6));
    EXPECT_NE(err.find("at most 6"), std::string::npos) << err;
    EXPECT_TRUE(qx316::readImage(good.data(), good.size(), img, err, 7)) << err;
    // A 16384 x 16384 PNG whose pixels are absent: refused at the header.
    const Bytes big = encodePng(16384, 1, PNG_COLOR_TYPE_RGB, 8, Bytes(16384 * 3, 7));
    Bytes claim(big.begin(), big.begin() + 33); // signature and IHDR
    // Height 16384: big-endian at IHDR data + 4, then the chunk's CRC anew.
    claim[20] = 0x00;
    claim[21] = 0x00;
    claim[22] = 0x40;
    claim[23] = 0x00;
    const uLong crc = crc32(crc32(0, nullptr, 0), claim.data() + 12, 17);
    for (int i = 0; i < 4; ++i)
        claim[29 + size_t(i)] = uint8_t(crc >> (24 - 8 * i));
    claim.insert(claim.end(), big.begin() + 33, big.end());
    EXPECT_FALSE(qx316::readImage(claim.data(), claim.size(), img, err, 4961));
    EXPECT_NE(err.find("at most 4961"), std::string::npos) << err;
    EXPECT_FALSE(qx316::readImage(claim.data(), claim.size(), img, err)) << "pixels absent";
    EXPECT_TRUE(img.pixels.empty());
}

// A 9-pixel wide PNM through 1-bit planes comes back bit for bit.
TEST(ReadImage, OddWidthPagePrintsExactly) {
    std::string header = "P5 9 20 255\n";
    Bytes grey(9 * 20, 255);
    for (int y = 0; y < 20; ++y)
        grey[size_t(y * 9 + (y % 9))] = 0; // one black pixel walking across
    grey[9 * 19 + 8] = 0;
    qx316::Image img = read(pnm(header, grey));
    qx316::PrintOptions o;
    o.quality = 3; // 1-bit C, M, Y, K
    Bytes stream;
    qx316::Job job(o);
    int rc = job.begin([&](const uint8_t *d, size_t n) {
        stream.insert(stream.end(), d, d + n);
        return true;
    });
    rc = rc ? rc
            : qx316::printPage(job, {img.width, img.height, qx316::RowFormat::Gray8}, [&](int y, uint8_t *row) {
                  std::copy_n(img.pixels.begin() + y * img.width, img.width, row);
              });
    ASSERT_EQ(rc ? rc : job.end(), qx316::kOk) << job.error();
    qx316::DecodeResult r = qx316::decodeStream(stream.data(), stream.size());
    ASSERT_TRUE(r.ok) << r.error;
    const qx316::DecodedPlane *k = r.pages[0].plane('K');
    ASSERT_NE(k, nullptr);
    ASSERT_EQ(k->rows.size(), 20u);
    for (int y = 0; y < 20; ++y) {
        Bytes want(2, 0);
        for (int x = 0; x < 9; ++x)
            if (grey[size_t(y * 9 + x)] == 0)
                want[size_t(x / 8)] |= uint8_t(0x80 >> (x % 8));
        while (!want.empty() && want.back() == 0)
            want.pop_back();
        EXPECT_EQ(k->rows.at(y), want) << "line " << y << "\nexpected " << hex(want) << "\nactual   "
                                       << hex(k->rows.at(y));
    }
    for (uint8_t c : {'C', 'M', 'Y'})
        EXPECT_TRUE(r.pages[0].plane(c) == nullptr || r.pages[0].plane(c)->rows.empty());
}

} // namespace

namespace {

Bytes profileBytes(cmsHPROFILE p) {
    cmsUInt32Number n = 0;
    cmsSaveProfileToMem(p, nullptr, &n);
    Bytes b(n);
    cmsSaveProfileToMem(p, b.data(), &n);
    cmsCloseProfile(p);
    return b;
}

} // namespace

// A PNG's embedded profile (iCCP) comes with its pixels, inflated; one larger
// than the bound is left out and the picture still reads.
TEST(ReadPng, EmbeddedProfiles) {
    const Bytes small = profileBytes(cmsCreate_sRGBProfile());
    cmsHPROFILE big = cmsCreate_sRGBProfile();
    cmsMLU *text = cmsMLUalloc(nullptr, 1);
    const std::string filler(qx316::kMaxEmbeddedProfileBytes, 'x');
    cmsMLUsetASCII(text, "en", "US", filler.c_str());
    cmsWriteTag(big, cmsSigCopyrightTag, text);
    cmsMLUfree(text);
    const Bytes large = profileBytes(big);
    ASSERT_GT(large.size(), qx316::kMaxEmbeddedProfileBytes);
    const Bytes px = pattern(12 * 5 * 3, 7);
    const struct {
        const char *name;
        const Bytes *icc;
        const Bytes *want;
    } cases[] = {{"none", nullptr, nullptr}, {"sRGB", &small, &small}, {"beyond the bound", &large, nullptr}};
    for (const auto &c : cases) {
        const Bytes file = encodePng(12, 5, PNG_COLOR_TYPE_RGB, 8, px, c.icc);
        ASSERT_FALSE(file.empty()) << c.name;
        const qx316::Image img = read(file);
        EXPECT_EQ(img.pixels, px) << c.name;
        EXPECT_EQ(img.iccProfile, c.want ? *c.want : Bytes()) << c.name;
    }
}
