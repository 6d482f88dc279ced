// Row formats, placement, limits and cancel of the kit's push API: whole
// streams compared between formats that must print alike, and streams read
// back by the decoder.
#include "job.h"
#include "qx316_stream.h"
#include "kit_options.h"
#include "hex.h"
#include "stream_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>

using qx316test::Bytes;
using qxtest::hex;
using qx316test::opts;

namespace {

// One option set per reachable plane mode and pattern kind.
const qx316::PrintOptions kModes[] = {
    opts(5, 0), opts(5, 0, 1), opts(3, 0), opts(10, 1), opts(5, 26), opts(0, 26),
    opts(10, 18), opts(15, 29), opts(10, 7, 0, 1), opts(10, 16), opts(5, 0, 0, 0, false, true),
};

std::string modeName(const qx316::PrintOptions &o) {
    return "quality " + std::to_string(o.quality) + " media " + std::to_string(o.media) + " head " +
           std::to_string(o.head) + (o.colorMode ? " black" : "") + (o.banner ? " banner" : "");
}

using RowFn = std::function<void(int y, uint8_t *row)>;

struct Result {
    int rc = 0;
    std::string error;
    Bytes stream;
    qx316::JobStats stats;
};

Result run(const qx316::PrintOptions &o, const qx316::PageShape &shape, const RowFn &row, int pages = 1) {
    Result r;
    qx316::Job job(o);
    r.rc = job.begin([&](const uint8_t *d, size_t n) {
        r.stream.insert(r.stream.end(), d, d + n);
        return true;
    });
    for (int p = 0; p < pages && !r.rc; ++p)
        r.rc = qx316::printPage(job, shape, row);
    r.rc = r.rc ? r.rc : job.end();
    r.error = job.error();
    r.stats = job.stats();
    return r;
}

// A grey picture with gradients, solid black, white and a white band.
uint8_t grey(int x, int y) {
    if (y >= 10 && y < 30)
        return 255;
    if (x < 6)
        return 0;
    return uint8_t((x * 7 + y * 3) % 256);
}

void put16(uint8_t *p, uint16_t v) { std::memcpy(p, &v, 2); }

// The same grey picture in every multi-level format.
RowFn greyRows(qx316::RowFormat f, int w) {
    return [f, w](int y, uint8_t *row) {
        for (int x = 0; x < w; ++x) {
            const uint8_t g = grey(x, y);
            switch (f) {
            case qx316::RowFormat::Gray8: row[x] = g; break;
            case qx316::RowFormat::Rgb8: std::memset(row + 3 * x, g, 3); break;
            case qx316::RowFormat::Cmyk8:
                std::memset(row + 4 * x, 0, 3);
                row[4 * x + 3] = uint8_t(255 - g);
                break;
            case qx316::RowFormat::Gray16: put16(row + 2 * x, uint16_t(g * 257)); break;
            case qx316::RowFormat::Rgb16:
                for (int c = 0; c < 3; ++c)
                    put16(row + 6 * x + 2 * c, uint16_t(g * 257));
                break;
            case qx316::RowFormat::Cmyk16:
                for (int c = 0; c < 3; ++c)
                    put16(row + 8 * x + 2 * c, 0);
                put16(row + 8 * x + 6, uint16_t((255 - g) * 257));
                break;
            default: FAIL();
            }
        }
    };
}

TEST(RowFormats, GreyPrintsAlikeInEveryMultiLevelFormat) {
    const int w = 101, h = 48;
    const qx316::RowFormat formats[] = {qx316::RowFormat::Rgb8, qx316::RowFormat::Cmyk8, qx316::RowFormat::Gray16,
                                        qx316::RowFormat::Rgb16, qx316::RowFormat::Cmyk16};
    for (const qx316::PrintOptions &o : kModes) {
        const Result want = run(o, {w, h, qx316::RowFormat::Gray8}, greyRows(qx316::RowFormat::Gray8, w));
        ASSERT_EQ(want.rc, 0) << modeName(o) << ": " << want.error;
        ASSERT_TRUE(qx316::decodeStream(want.stream.data(), want.stream.size()).ok) << modeName(o);
        for (qx316::RowFormat f : formats) {
            const Result got = run(o, {w, h, f}, greyRows(f, w));
            ASSERT_EQ(got.rc, 0) << modeName(o) << " " << qx316::rowFormatName(f) << ": " << got.error;
            EXPECT_EQ(got.stream, want.stream) << modeName(o) << " " << qx316::rowFormatName(f);
        }
    }
}

// Black-and-white pictures: 1-bit K, the same as 1-bit planes with only K
// set, and as 8-bit gray of pure black and white, print alike (full ink
// passes no error on, so the 8-bit picture needs no diffusion either).
TEST(RowFormats, HalftonedRowsPassThroughUnchanged) {
    const int w = 77, h = 40;
    const size_t planeBytes = (w + 7) / 8;
    auto on = [](int x, int y) { return (y < 12 || y > 20) && ((x * 5 + y) % 7 < 3 || x == w - 1); };
    const RowFn k1 = [&](int y, uint8_t *row) {
        std::memset(row, 0, planeBytes);
        for (int x = 0; x < w; ++x)
            if (on(x, y))
                row[x / 8] |= uint8_t(0x80 >> (x % 8));
    };
    const RowFn planes = [&](int y, uint8_t *row) {
        std::memset(row, 0, 4 * planeBytes);
        k1(y, row + 3 * planeBytes);
    };
    const RowFn grey = [&](int y, uint8_t *row) {
        for (int x = 0; x < w; ++x)
            row[x] = on(x, y) ? 0 : 255;
    };
    for (const qx316::PrintOptions &o : kModes) {
        const Result a = run(o, {w, h, qx316::RowFormat::K1}, k1);
        const Result b = run(o, {w, h, qx316::RowFormat::Cmyk1Planes}, planes);
        const Result c = run(o, {w, h, qx316::RowFormat::Gray8}, grey);
        ASSERT_EQ(a.rc | b.rc | c.rc, 0) << modeName(o) << ": " << a.error << b.error << c.error;
        EXPECT_EQ(a.stream, c.stream) << modeName(o) << ": 1-bit K against 8-bit gray";
        EXPECT_EQ(b.stream, c.stream) << modeName(o) << ": 1-bit planes against 8-bit gray";
    }
}

// On a wide row one dot anywhere is found, padding bits alone are no ink,
// and rows with and without padding bits print alike: 1-bit K against 8-bit
// gray, with one dot a row walking across every byte.
TEST(RowFormats, HalftonedInkIsFoundAnywhereOnAWideRow) {
    const int w = 1101, h = 2 * w;
    const size_t planeBytes = (w + 7) / 8;
    const auto dot = [](int y) { return y / 2; }; // even rows: the dot; odd rows: padding bits only
    const RowFn k1 = [&](int y, uint8_t *row) {
        std::memset(row, 0, planeBytes);
        if (y % 2 == 0)
            row[dot(y) / 8] |= uint8_t(0x80 >> (dot(y) % 8));
        if (y % 3 == 0)
            row[planeBytes - 1] |= 0x03;
    };
    const RowFn grey = [&](int y, uint8_t *row) {
        std::memset(row, 255, w);
        if (y % 2 == 0)
            row[dot(y)] = 0;
    };
    for (const qx316::PrintOptions &o : {opts(3, 0), opts(5, 0), opts(10, 1)}) {
        const Result a = run(o, {w, h, qx316::RowFormat::K1}, k1);
        const Result b = run(o, {w, h, qx316::RowFormat::Gray8}, grey);
        ASSERT_EQ(a.rc | b.rc, 0) << a.error << b.error;
        EXPECT_EQ(a.stream, b.stream) << modeName(o);
        EXPECT_EQ(a.stats.linesSent, b.stats.linesSent) << modeName(o);
    }
}

// In a mode of 1-bit C, M, Y and K planes every input bit is a printed dot.
TEST(RowFormats, OneBitPlanesArriveBitForBit) {
    const int w = 203, h = 37;
    const size_t planeBytes = (w + 7) / 8;
    std::mt19937 rng(316);
    std::vector<Bytes> rows(h, Bytes(4 * planeBytes));
    for (int y = 0; y < h; ++y) {
        if (y % 9 == 4)
            continue; // some blank rows
        for (int p = 0; p < 4; ++p) {
            if ((y + p) % 5 == 0)
                continue; // and some blank planes
            for (size_t i = 0; i < planeBytes; ++i)
                rows[size_t(y)][size_t(p) * planeBytes + i] = uint8_t(rng());
            rows[size_t(y)][size_t(p) * planeBytes + planeBytes - 1] &= uint8_t(0xFF << (8 - w % 8));
        }
    }
    const Result r = run(opts(3, 0), {w, h, qx316::RowFormat::Cmyk1Planes},
                         [&](int y, uint8_t *row) { std::memcpy(row, rows[size_t(y)].data(), rows[0].size()); });
    ASSERT_EQ(r.rc, 0) << r.error;
    const qx316::DecodeResult d = qx316::decodeStream(r.stream.data(), r.stream.size());
    ASSERT_TRUE(d.ok) << d.error;
    const char letters[] = "CMYK";
    for (int p = 0; p < 4; ++p) {
        const qx316::DecodedPlane *plane = d.pages.at(0).plane(uint8_t(letters[p]));
        ASSERT_NE(plane, nullptr) << letters[p];
        for (int y = 0; y < h; ++y) {
            Bytes want(rows[size_t(y)].begin() + p * long(planeBytes), rows[size_t(y)].begin() + (p + 1) * long(planeBytes));
            while (!want.empty() && want.back() == 0)
                want.pop_back();
            auto it = plane->rows.find(y);
            const Bytes got = it == plane->rows.end() ? Bytes{} : it->second;
            EXPECT_EQ(got, want) << letters[p] << " line " << y << "\nexpected " << hex(want) << "\nactual   "
                                 << hex(got);
        }
    }
}

// A page placed at an offset prints like the same page drawn on the whole
// raster with white margins.
TEST(Placement, OffsetsPrintLikeWhiteMargins) {
    const int w = 64, h = 30;
    for (const qx316::PrintOptions &o : {opts(5, 0), opts(3, 0), opts(5, 26), opts(0, 26)}) {
        for (auto [left, top] : {std::pair{1, 0}, {13, 5}, {64, 17}, {0, 33}}) {
            const Result placed = run(o, {w, h, qx316::RowFormat::Gray8, left, top}, greyRows(qx316::RowFormat::Gray8, w));
            const Result whole = run(o, {left + w, top + h, qx316::RowFormat::Gray8}, [&](int y, uint8_t *row) {
                std::memset(row, 255, size_t(left + w));
                if (y >= top)
                    greyRows(qx316::RowFormat::Gray8, w)(y - top, row + left);
            });
            ASSERT_EQ(placed.rc | whole.rc, 0) << placed.error << whole.error;
            EXPECT_EQ(placed.stream, whole.stream) << modeName(o) << " offset " << left << ", " << top;
        }
    }
}

// Halftoned rows at any offset print like 8-bit gray black and white at
// the same offset (the bits are moved, not redrawn).
TEST(Placement, HalftonedRowsAtOddOffsets) {
    const int w = 45, h = 20;
    const size_t planeBytes = (w + 7) / 8;
    auto on = [](int x, int y) { return (x * 3 + y * 5) % 7 < 3; };
    const RowFn k1 = [&](int y, uint8_t *row) {
        std::memset(row, 0, planeBytes);
        for (int x = 0; x < w; ++x)
            if (on(x, y))
                row[x / 8] |= uint8_t(0x80 >> (x % 8));
        row[planeBytes - 1] |= 0x07; // padding bits past the last pixel never print
    };
    const RowFn grey = [&](int y, uint8_t *row) {
        for (int x = 0; x < w; ++x)
            row[x] = on(x, y) ? 0 : 255;
    };
    for (const qx316::PrintOptions &o : {opts(3, 0), opts(5, 0), opts(10, 1), opts(5, 26), opts(10, 7, 0, 1)})
        for (int left : {0, 3, 13, 64, 101}) {
            const Result a = run(o, {w, h, qx316::RowFormat::K1, left, 2}, k1);
            const Result b = run(o, {w, h, qx316::RowFormat::Gray8, left, 2}, grey);
            ASSERT_EQ(a.rc | b.rc, 0) << a.error << b.error;
            EXPECT_EQ(a.stream, b.stream) << modeName(o) << " left " << left;
        }
}

// The widest page a mode reports prints even when no line compresses; one
// pixel more is refused before anything is sent, in words that give the limit.
TEST(Limits, WidestPagePrintsAndOneMoreIsRefused) {
    for (const qx316::PrintOptions &o : kModes) {
        const qx316::ModeInfo m = qx316::queryMode(o);
        ASSERT_GT(m.maxWidth, 4961) << modeName(o) << ": an A4 line at 600 dpi must fit";
        const int w = m.maxWidth;
        std::mt19937 rng(7);
        const Result ok = run(o, {w, 2 * m.bandHeight, qx316::RowFormat::Rgb8}, [&](int, uint8_t *row) {
            for (int i = 0; i < 3 * w; ++i)
                row[i] = uint8_t(rng() % 200 + 20);
        });
        ASSERT_EQ(ok.rc, 0) << modeName(o) << " at " << w << " pixels: " << ok.error;
        EXPECT_TRUE(qx316::decodeStream(ok.stream.data(), ok.stream.size()).ok) << modeName(o);

        qx316::Job job(o);
        Bytes out;
        ASSERT_EQ(job.begin([&](const uint8_t *d, size_t n) {
            out.insert(out.end(), d, d + n);
            return true;
        }),
                  0);
        EXPECT_EQ(job.beginPage({w - 10, 10, qx316::RowFormat::Gray8, 11}), qx316::kErrTooWide) << modeName(o);
        EXPECT_NE(job.error().find("at most " + std::to_string(w) + " pixels"), std::string::npos) << job.error();
        EXPECT_TRUE(out.empty());
    }
}

TEST(Limits, CallsOutOfOrderOrOutOfRangeAreRefusedInWords) {
    struct Case {
        const char *name;
        std::function<int(qx316::Job &)> calls;
        int code;
        const char *words;
    };
    const Bytes row(30, 0);
    const Case cases[] = {
        {"row before a page", [&](qx316::Job &j) { return j.writeRow(row.data(), 10); }, qx316::kErrOrder, "outside a page"},
        {"short row",
         [&](qx316::Job &j) { const int r = j.beginPage({10, 5, qx316::RowFormat::Rgb8});
             return r ? r : j.writeRow(row.data(), 29); },
         qx316::kErrRow, "29 bytes where 8-bit RGB rows of 10 pixels have 30"},
        {"too many rows",
         [&](qx316::Job &j) {
             int r = j.beginPage({10, 1, qx316::RowFormat::Gray8});
             r = r ? r : j.writeRow(row.data(), 10);
             return r ? r : j.writeRow(row.data(), 10);
         },
         qx316::kErrRow, "more rows than the page's 1"},
        {"zero width", [&](qx316::Job &j) { return j.beginPage({0, 5, qx316::RowFormat::Gray8}); }, qx316::kErrPage,
         "out of range"},
        {"negative offset", [&](qx316::Job &j) { return j.beginPage({5, 5, qx316::RowFormat::Gray8, -1}); },
         qx316::kErrPage, "out of range"},
        {"page taller than the cap",
         [&](qx316::Job &j) { return j.beginPage({5, qx316::kMaxPageHeight, qx316::RowFormat::Gray8, 0, 1}); },
         qx316::kErrPage, "out of range"},
        {"job ends inside a page",
         [&](qx316::Job &j) { const int r = j.beginPage({5, 5, qx316::RowFormat::Gray8});
             return r ? r : j.end();
         }, qx316::kErrOrder,
         "inside a page"},
    };
    for (const Case &c : cases) {
        qx316::Job job(opts(5, 0));
        ASSERT_EQ(job.begin([](const uint8_t *, size_t) { return true; }), 0);
        EXPECT_EQ(c.calls(job), c.code) << c.name;
        EXPECT_NE(job.error().find(c.words), std::string::npos) << c.name << ": " << job.error();
        // A failed job stays failed.
        EXPECT_EQ(job.beginPage({5, 5, qx316::RowFormat::Gray8}), c.code) << c.name;
    }
}

TEST(Flow, BlankRowsAreNotHandedOver) {
    const int w = 50, h = 64;
    const Result r = run(opts(5, 0), {w, h, qx316::RowFormat::Gray8}, [&](int y, uint8_t *row) {
        std::memset(row, 255, w);
        if (y == 3 || y == 40)
            row[7] = 0;
    });
    ASSERT_EQ(r.rc, 0) << r.error;
    EXPECT_EQ(r.stats.linesSent, 2);
}

// A page without ink is still a sheet: between inked pages, alone, and on
// banner paper as a form.
TEST(Flow, BlankPagesStillComeOut) {
    const int w = 30;
    const RowFn inked = [&](int, uint8_t *row) { std::memset(row, 0, w); };
    const RowFn blank = [&](int, uint8_t *row) { std::memset(row, 255, w); };
    struct Case { const char *name; std::vector<const RowFn *> pages; };
    const Case cases[] = {{"blank between inked", {&inked, &blank, &inked}}, {"blank alone", {&blank}},
                          {"blank first", {&blank, &inked}}};
    for (const Case &c : cases) {
        qx316::Job job(opts(3, 0));
        Bytes out;
        ASSERT_EQ(job.begin([&](const uint8_t *d, size_t n) {
            out.insert(out.end(), d, d + n);
            return true;
        }),
                  0);
        for (const RowFn *rows : c.pages)
            ASSERT_EQ(qx316::printPage(job, {w, 9, qx316::RowFormat::Gray8}, *rows), 0) << c.name;
        ASSERT_EQ(job.end(), 0) << c.name;
        const qx316::DecodeResult d = qx316::decodeStream(out.data(), out.size());
        ASSERT_TRUE(d.ok) << c.name << ": " << d.error;
        EXPECT_EQ(d.pages.size(), c.pages.size()) << c.name;
    }
}

TEST(Flow, SinkFailureStopsTheJob) {
    qx316::Job job(opts(5, 0));
    int calls = 0;
    ASSERT_EQ(job.begin([&](const uint8_t *, size_t) { return ++calls < 3; }), 0);
    const int rc = qx316::printPage(job, {20, 20, qx316::RowFormat::Gray8}, [](int, uint8_t *row) { std::memset(row, 0, 20); });
    EXPECT_EQ(rc, qx316::kErrSink);
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(job.end(), qx316::kErrSink);
}

// Cancel ends the page at the current row: the stream ends at a page end and
// holds the rows written before it, on both paper paths.
TEST(Flow, CancelEndsThePageCleanly) {
    for (bool banner : {false, true}) {
        const int w = 40;
        qx316::Job job(opts(3, 0, 0, 0, false, banner));
        Bytes out;
        ASSERT_EQ(job.begin([&](const uint8_t *d, size_t n) {
            out.insert(out.end(), d, d + n);
            return true;
        }),
                  0);
        ASSERT_EQ(qx316::printPage(job, {w, 20, qx316::RowFormat::Gray8}, [&](int, uint8_t *row) { std::memset(row, 0, w); }), 0);
        ASSERT_EQ(job.beginPage({w, 100, qx316::RowFormat::Gray8}), 0);
        Bytes black(w, 0);
        for (int y = 0; y < 37; ++y)
            ASSERT_EQ(job.writeRow(black.data(), black.size()), 0);
        EXPECT_EQ(job.cancel(), qx316::kOk) << job.error();
        EXPECT_EQ(job.writeRow(black.data(), black.size()), qx316::kErrCancelled);
        const qx316::DecodeResult d = qx316::decodeStream(out.data(), out.size());
        ASSERT_TRUE(d.ok) << (banner ? "banner: " : "cut: ") << d.error << " at " << d.errorOffset;
        // Cut sheets: two pages; banner paper: one strip of two forms.
        ASSERT_EQ(d.pages.size(), banner ? 1u : 2u);
        const qx316::DecodedPlane *k = d.pages.back().plane('K');
        ASSERT_NE(k, nullptr);
        EXPECT_EQ(k->rows.size(), banner ? 57u : 37u) << banner;
        if (banner)
            EXPECT_FALSE(d.pages[0].formMarks.empty());
        else
            EXPECT_EQ(k->rows.rbegin()->first, 36);
    }
}

} // namespace

namespace {

// A converter that lays the same ink on every pixel, white or not.
class FixedInk final : public qx316::InkConverter {
public:
    void convert(const uint8_t *, int, uint8_t *cmyk, size_t n) const override {
        for (size_t i = 0; i < n; ++i) {
            cmyk[4 * i] = 200;
            cmyk[4 * i + 1] = 150;
            cmyk[4 * i + 2] = 100;
            cmyk[4 * i + 3] = 60;
        }
    }
};

} // namespace

// With a converter, white pixels of an inked row get no ink in any plane
// whatever the converter says, in modes with and without K; the other
// pixels get the converter's ink; black-only modes keep their own
// separation (the converter is not asked).
TEST(RowFormats, ConverterInkSparesWhitePixels) {
    const FixedInk conv;
    const int w = 64;
    for (const qx316::PrintOptions &o : {opts(3, 0), opts(5, 0), opts(5, 26), opts(10, 7, 0, 1)}) {
        const qx316::ModeInfo mode = qx316::queryMode(o);
        ASSERT_TRUE(mode.problem.empty()) << mode.problem;
        for (qx316::RowFormat f : {qx316::RowFormat::Rgb8, qx316::RowFormat::Gray8}) {
            const int ch = f == qx316::RowFormat::Rgb8 ? 3 : 1;
            std::vector<uint8_t> row(size_t(w) * size_t(ch), 255);
            for (int x = 0; x < w; x += 3)
                std::fill_n(row.begin() + x * ch, ch, uint8_t(60)); // every third pixel dark gray, the rest white
            qx316::RowQuantiser q(mode, f, w, 0, true, qx316::Diffusion::BlueNoise, &conv);
            int inkedGray = 0;
            for (int y = 0; y < 8; ++y) {
                if (!q.next(row.data()))
                    continue; // no dot yet: the levels were not filled
                for (int p = 0; p < mode.inPlanes; ++p)
                    for (int x = 0; x < w; ++x) {
                        const uint8_t level = q.levels(p)[size_t(x)];
                        if (x % 3 != 0)
                            ASSERT_EQ(level, 0) << describeMode(mode) << " plane " << p << " white pixel " << x;
                        else
                            inkedGray += level != 0;
                    }
            }
            // The gray pixels printed the converter's ink: every plane (or,
            // black only, the gray's own darkness in K) has some.
            EXPECT_GT(inkedGray, 8 * (w / 3) / 2) << describeMode(mode);
        }
    }
}
