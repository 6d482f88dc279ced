// The front-end kit end to end: pages printed through the library in every
// reachable plane mode and row format, read back by the stream decoder.
#include "job.h"
#include "qx316_stream.h"
#include "kit_options.h"
#include "dot_patterns.h"
#include "hex.h"
#include "stream_builder.h"
#include "testpage.h"

#include "qxdro316_inner.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <tuple>

using qx316test::Bytes;
using qxtest::hex;
using qx316test::opts;

namespace {

struct Printed {
    bool ok = false;
    std::string error;
    qx316::ModeInfo mode;
    Bytes stream;
    // (page, line, input plane) -> packed line and its levels
    std::map<std::tuple<int, int, int>, std::pair<Bytes, Bytes>> lines;
    qx316::DecodeResult decoded;
};

// A page for the kit: its shape and a function drawing row y.
struct Page {
    qx316::PageShape shape;
    std::function<void(int, uint8_t *)> row;
};

Page testPage(const qx316::TestPage &tp) {
    return {{tp.width(), tp.height(), qx316::RowFormat::Rgb8}, [&tp](int y, uint8_t *out) { tp.row(y, out); }};
}

Printed print(const qx316::PrintOptions &o, const std::vector<Page> &pages) {
    Printed p;
    qx316::Job job(o);
    job.tap = [&](int page, int line, int plane, const Bytes &packed, const Bytes &levels) {
        p.lines[{page, line, plane}] = {packed, levels};
    };
    p.mode = job.mode();
    int rc = job.begin([&](const uint8_t *d, size_t n) {
        p.stream.insert(p.stream.end(), d, d + n);
        return true;
    });
    for (const Page &pg : pages)
        rc = rc ? rc : qx316::printPage(job, pg.shape, pg.row);
    rc = rc ? rc : job.end();
    p.ok = rc == qx316::kOk;
    p.error = job.error();
    if (p.ok)
        p.decoded = qx316::decodeStream(p.stream.data(), p.stream.size());
    return p;
}

Printed printTestPages(const qx316::PrintOptions &o, std::vector<const qx316::TestPage *> pages) {
    std::vector<Page> list;
    for (const qx316::TestPage *tp : pages)
        list.push_back(testPage(*tp));
    return print(o, list);
}

uint8_t byteAt(const std::map<int64_t, Bytes> &rows, int64_t line, size_t i) {
    auto it = rows.find(line);
    if (it == rows.end() || i >= it->second.size())
        return 0;
    return it->second[i];
}

Bytes trimmed(Bytes b) {
    while (!b.empty() && b.back() == 0)
        b.pop_back();
    return b;
}

const std::map<int64_t, Bytes> kNoRows;

const std::map<int64_t, Bytes> &rowsOf(const qx316::DecodedPage &page, uint8_t letter) {
    const qx316::DecodedPlane *p = page.plane(letter);
    return p ? p->rows : kNoRows;
}

// Checks every line of every page against what the front end handed over.
void checkRoundTrip(const Printed &p, const char *name) {
    const qx316::ModeInfo &m = p.mode;
    ASSERT_TRUE(p.decoded.ok) << name << ": " << p.decoded.error << " at " << p.decoded.errorOffset;
    std::set<std::pair<int, int64_t>> seen; // (plane letter, line) checked
    int mismatches = 0;
    for (const auto &[key, line] : p.lines) {
        const auto [pg, y, d] = key;
        ASSERT_LT(size_t(pg), p.decoded.pages.size()) << name;
        const qx316::DecodedPage &page = p.decoded.pages[size_t(pg)];
        ASSERT_EQ(page.bandHeight, m.bandHeight) << name;
        const Bytes &packed = line.first;
        const int tgl = m.tgl[d];
        const auto &rows = rowsOf(page, m.letters[d]);
        seen.insert({m.letters[d] + 256 * pg, y});
        if (tgl == 0) {
            auto it = rows.find(y);
            const Bytes want = trimmed(packed);
            const Bytes got = it == rows.end() ? Bytes{} : it->second;
            if (got != want && ++mismatches < 4)
                ADD_FAILURE() << name << " plane " << qx316::planeName(m.letters[d]) << " line " << y
                              << ": " << qxtest::hexDifference(want, got);
            continue;
        }
        const int q = qx316::pairedPlane(m, d);
        if (q >= 0)
            seen.insert({m.letters[q] + 256 * pg, y});
        if (tgl == 4 && q < 0)
            continue; // no paired plane to take the second pattern: the library's choice
        const auto &pairRows = q >= 0 ? rowsOf(page, m.letters[q]) : kNoRows;
        for (size_t i = 0; i < packed.size(); ++i) {
            for (int half = 0; half < 2; ++half) {
                const int level = half ? packed[i] & 15 : packed[i] >> 4;
                bool ok;
                int got, got2 = 0;
                if (tgl >= 5) {
                    got = byteAt(rows, y, 2 * i + size_t(half));
                    ok = qxref::dot_is_candidate(tgl, level, got);
                } else {
                    const int shift = half ? 0 : 4;
                    got = (byteAt(rows, y, i) >> shift) & 15;
                    if (tgl == 4) {
                        got2 = (byteAt(pairRows, y, i) >> shift) & 15;
                        ok = qxref::dot_pair_is_candidate(level, got, got2);
                    } else {
                        ok = qxref::dot_is_candidate(tgl, level, got);
                    }
                }
                if (!ok && ++mismatches < 4)
                    ADD_FAILURE() << name << " plane " << qx316::planeName(m.letters[d]) << " line " << y << " byte "
                                  << i << (half ? " low" : " high") << ": level " << level << " (type " << tgl
                                  << ") gave pattern 0x" << std::hex << got << " / 0x" << got2 << std::dec;
            }
        }
        // Nothing is coded right of the input.
        auto it = rows.find(y);
        if (it != rows.end()) {
            EXPECT_LE(it->second.size(), packed.size() * (tgl >= 5 ? 2 : 1)) << name << " line " << y;
        }
    }
    EXPECT_EQ(mismatches, 0) << name;
    // No plane carries a line the front end never inked.
    for (size_t pg = 0; pg < p.decoded.pages.size(); ++pg)
        for (const auto &pl : p.decoded.pages[pg].planes)
            for (const auto &[y, row] : pl.rows)
                EXPECT_TRUE(seen.count({pl.letter + 256 * int(pg), y})) << name << " plane "
                                                                        << qx316::planeName(pl.letter) << " line " << y;
}

struct ModeCase {
    const char *name;
    qx316::PrintOptions opt;
    int planeMode;
};

const ModeCase kModes[] = {
    {"defaults, 4-bit pairs", opts(5, 0), 9},
    {"head 1, 4-bit pairs without K", opts(5, 0, 1), 7},
    {"1-bit CMYK", opts(3, 0), 5},
    {"2-bit type 1 with 1-bit", opts(10, 1), 5},
    {"2-bit plain with 1-bit", opts(15, 7), 5},
    {"doubled type 7", opts(5, 26), 4},
    {"2-bit type 1 light planes", opts(0, 26), 4},
    {"2-bit plain CMY", opts(10, 15), 2},
    {"type 2", opts(10, 18), 2},
    {"type 3 composite", opts(10, 7, 0, 0, true), 2},
    {"type 3", opts(15, 29), 2},
    {"K only", opts(10, 7, 0, 1), 1},
    {"banner", opts(5, 0, 0, 0, false, true), 9},
    {"composite 4-bit without pairs", opts(5, 0, 0, 0, true), 2},
};

TEST(RoundTrip, EveryReachablePlaneMode) {
    for (const ModeCase &c : kModes) {
        qx316::TestPage page(72);
        Printed p = printTestPages(c.opt, {&page});
        ASSERT_TRUE(p.ok) << c.name << ": " << p.error;
        EXPECT_EQ(p.mode.planeMode, c.planeMode) << c.name;
        checkRoundTrip(p, c.name);
        ASSERT_EQ(p.decoded.pages.size(), 1u) << c.name;
        // The blank stretch of the test page sends nothing.
        for (const auto &pl : p.decoded.pages[0].planes)
            for (const auto &[y, row] : pl.rows)
                EXPECT_FALSE(y >= page.blankFrom() && y < page.blankTo()) << c.name << " line " << y;
    }
}

TEST(RoundTrip, InkStartingLateInABand) {
    qx316::TestPage page(72);
    Printed p = printTestPages(opts(3, 0), {&page}); // 1-bit planes: every pixel is visible as a bit
    ASSERT_TRUE(p.ok) << p.error;
    ASSERT_TRUE(p.decoded.ok) << p.decoded.error;
    const auto &m = rowsOf(p.decoded.pages[0], 'M');
    auto first = m.lower_bound(page.blankTo());
    ASSERT_NE(first, m.end());
    EXPECT_EQ(first->first, page.lateStart());
    EXPECT_EQ(first->first % 8, 7);
}

TEST(RoundTrip, SeveralPagesAndBlankLinesDelivered) {
    qx316::TestPage a(72), b(50);
    qx316::PrintOptions o = opts(15, 7);
    Printed skipped = printTestPages(o, {&a, &b});
    o.sendBlankLines = true;
    Printed sent = printTestPages(o, {&a, &b});
    ASSERT_TRUE(skipped.ok && sent.ok) << skipped.error << sent.error;
    checkRoundTrip(skipped, "blank lines skipped");
    checkRoundTrip(sent, "blank lines delivered");
    ASSERT_EQ(skipped.decoded.pages.size(), 2u);
    ASSERT_EQ(sent.decoded.pages.size(), 2u);
    for (size_t pg = 0; pg < 2; ++pg)
        for (const auto &pl : skipped.decoded.pages[pg].planes)
            EXPECT_EQ(pl.rows, rowsOf(sent.decoded.pages[pg], pl.letter)) << "page " << pg;
}

TEST(RoundTrip, UnsupportedModeIsReportedInWords) {
    Bytes out;
    qx316::Job job(opts(0, 3));
    EXPECT_EQ(job.begin([&](const uint8_t *d, size_t n) {
        out.insert(out.end(), d, d + n);
        return true;
    }),
              QXDRO_ERR_MODE);
    EXPECT_EQ(job.code(), QXDRO_ERR_MODE);
    EXPECT_EQ(job.error(), "print mode not supported for quality 0 on media 3 (-148)");
    EXPECT_TRUE(out.empty());
}

// ---- Quantisation and separation ---------------------------------------------

TEST(Quantise, LevelsPerPlaneKind) {
    struct Case { int bits, tgl, top; };
    const Case cases[] = {{1, 0, 1}, {2, 0, 3}, {4, 0, 15}, {2, 1, 2}, {4, 2, 4}, {4, 3, 4}, {4, 4, 8}, {4, 7, 8}};
    for (const Case &c : cases)
        EXPECT_EQ(qx316::maxLevel(c.bits, c.tgl), c.top) << "bits " << c.bits << " type " << c.tgl;
}

TEST(Quantise, ErrorDiffusionKeepsTheMeanAndExactEnds) {
    struct Case { const char *name; qx316::PrintOptions opt; };
    const Case cases[] = {{"4-bit pairs", opts(5, 0)}, {"1-bit", opts(3, 0)}, {"2-bit", opts(10, 15)},
                          {"type 1", opts(10, 1)}, {"type 7", opts(5, 26)}};
    for (const Case &c : cases) {
        const qx316::ModeInfo m = qx316::queryMode(c.opt);
        for (int grey : {0, 64, 200, 255}) {
            for (int d = 0; d < m.inPlanes; ++d) {
                qx316::RowQuantiser r(m, qx316::RowFormat::Gray8, 37, 0);
                const Bytes row(37, uint8_t(grey));
                const int top = qx316::maxLevel(m.bits[d], m.tgl[d]);
                uint8_t px = uint8_t(grey), ink[7];
                qx316::separatePixel(m, &px, 1, ink);
                double sum = 0;
                int lo = 255, hi = 0;
                for (int y = 0; y < 40; ++y) {
                    if (!r.next(row.data()))
                        r.zero();
                    for (uint8_t v : r.levels(d)) {
                        sum += v;
                        lo = std::min<int>(lo, v);
                        hi = std::max<int>(hi, v);
                    }
                }
                EXPECT_LE(hi, top) << c.name << " plane " << d;
                const double mean = sum / (37 * 40), want = ink[d] * top / 255.0;
                if (ink[d] == 0 || ink[d] == 255)
                    EXPECT_TRUE(lo == hi && lo == (ink[d] ? top : 0))
                        << c.name << " plane " << d << " ink " << int(ink[d]) << ": levels " << lo << ".." << hi;
                else
                    EXPECT_NEAR(mean, want, 0.05 * top + 0.02) << c.name << " plane " << d << " grey " << grey;
            }
        }
    }
}

// Columns of paper white beside mid-tones and full ink, in both quantisers:
// white prints no level whatever error surrounds it, full ink the top level,
// and the ink-ladder quantiser prints only the levels of the plane's ladder.
TEST(Quantise, WhiteStaysBlankAndOnlyLadderLevelsPrint) {
    struct Case { const char *name; qx316::PrintOptions opt; };
    const Case cases[] = {{"4-bit pairs", opts(5, 0)}, {"1-bit", opts(3, 0)}, {"2-bit", opts(15, 7)},
                          {"type 1", opts(10, 1)}, {"type 4 without pairs", opts(5, 0, 0, 0, true)}};
    // Ink by column: white, mid-tones, white, full, near-full, near-white.
    const auto inkAt = [](int x) {
        const int band = x / 8;
        const int inks[] = {0, 37, 130, 0, 255, 250, 0, 3, 0};
        return inks[band % 9];
    };
    const int w = 72;
    for (const Case &c : cases) {
        const qx316::ModeInfo m = qx316::queryMode(c.opt);
        ASSERT_TRUE(m.problem.empty()) << c.name;
        for (qx316::Diffusion how : {qx316::Diffusion::BlueNoise, qx316::Diffusion::FloydSteinberg}) {
            qx316::RowQuantiser r(m, qx316::RowFormat::Cmyk8, w, 0, true, how);
            Bytes row(size_t(w) * 4);
            for (int x = 0; x < w; ++x)
                for (int ch = 0; ch < 4; ++ch)
                    row[size_t(x) * 4 + size_t(ch)] = uint8_t(inkAt(x));
            for (int y = 0; y < 24; ++y) {
                ASSERT_TRUE(r.next(row.data())) << c.name;
                for (int d = 0; d < m.inPlanes; ++d) {
                    if (d >= 3 && d != m.kIndex)
                        continue; // planes 8-bit CMYK rows leave without ink
                    const qx316::InkLadder lad =
                        qx316::inkLadder(m.bits[d], m.tgl[d], qx316::pairedPlane(m, d) >= 0);
                    const int top = qx316::maxLevel(m.bits[d], m.tgl[d]);
                    for (int x = 0; x < w; ++x) {
                        const int v = r.levels(d)[size_t(x)];
                        const std::string at = std::string(c.name) + (how == qx316::Diffusion::BlueNoise ? "" : " (FS)") +
                                               " plane " + std::to_string(d) + " row " + std::to_string(y) +
                                               " column " + std::to_string(x);
                        if (inkAt(x) == 0) {
                            EXPECT_EQ(v, 0) << at;
                        } else if (inkAt(x) == 255) {
                            EXPECT_EQ(v, top) << at;
                        }
                        if (how == qx316::Diffusion::BlueNoise) {
                            EXPECT_NE(std::find(lad.level, lad.level + lad.count, v), lad.level + lad.count)
                                << at << ": level " << v << " is not on the ladder";
                        }
                    }
                }
            }
        }
    }
}

// An ink code within half a code of a rung, or of the ordered matrix's
// pattern of two rungs on 2 to 6 eighths of the pixels, prints that pattern,
// repeating every 4 pixels each way, whatever error the rows above carry in
// (here from a band of another tone); the codes beside it are diffused.
TEST(Quantise, CodesAtALatticePrintIt) {
    struct Case { const char *name; qx316::PrintOptions opt; int plane, ink, eighths; };  // -1: diffused
    const Case cases[] = {
        {"1-bit", opts(3, 0), 0, 64, 2},        {"1-bit", opts(3, 0), 0, 96, 3},   {"1-bit", opts(3, 0), 0, 128, 4},
        {"1-bit", opts(3, 0), 0, 127, -1},      {"1-bit", opts(3, 0), 0, 129, -1},
        {"4-bit pairs", opts(5, 0), 2, 32, 0},  {"4-bit pairs", opts(5, 0), 2, 34, -1},
        {"4-bit type 2", opts(10, 18), 0, 175, 6},
    };
    const int w = 256, h = 64, band = 16;
    for (const Case &c : cases) {
        const qx316::ModeInfo m = qx316::queryMode(c.opt);  // the quantiser keeps a reference
        qx316::RowQuantiser r(m, qx316::RowFormat::Cmyk8, w, 0);
        std::vector<std::vector<uint8_t>> lv;
        for (int y = 0; y < band + h; ++y) {
            // C, M and Y alike, no K
            Bytes row(size_t(w) * 4, uint8_t(y < band ? c.ink / 2 + 10 : c.ink));
            for (int x = 0; x < w; ++x)
                row[size_t(x) * 4 + 3] = 0;
            if (!r.next(row.data()))
                r.zero(); // no plane has ink in this row
            if (y >= band)
                lv.push_back(r.levels(c.plane));
        }
        const uint8_t hi = *std::max_element(lv[0].begin(), lv[0].end());
        int above = 0, breaks = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                above += lv[size_t(y)][size_t(x)] == hi;
                breaks += lv[size_t(y)][size_t(x)] != lv[size_t(y) % 4][size_t(x) % 4];
            }
        const std::string at = std::string(c.name) + " ink " + std::to_string(c.ink);
        EXPECT_EQ(breaks == 0, c.eighths >= 0) << at;
        if (c.eighths >= 0) {
            EXPECT_EQ(above, c.eighths ? w * h * c.eighths / 8 : w * h) << at;
        }
    }
}

TEST(Quantise, PackingMostSignificantFirst) {
    struct Case { const char *name; qx316::PrintOptions opt; int width; Bytes want; };
    // Black paper: full ink in every plane (CMY without K in mode 2, K alone in 1).
    const Case cases[] = {
        {"2-bit, 5 pixels", opts(10, 15), 5, {0xFF, 0xC0}},
        {"1-bit K, 9 pixels", opts(10, 7, 0, 1), 9, {0xFF, 0x80}},
        {"4-bit levels 0..8, 3 pixels", opts(5, 0, 1), 3, {0x88, 0x80}},
    };
    for (const Case &c : cases) {
        const qx316::ModeInfo m = qx316::queryMode(c.opt);
        qx316::RowQuantiser r(m, qx316::RowFormat::Gray8, c.width, 0);
        const Bytes black(size_t(c.width), 0);
        ASSERT_TRUE(r.next(black.data())) << c.name;
        EXPECT_EQ(r.packed(0), c.want) << c.name << "\nexpected " << hex(c.want) << "\nactual   " << hex(r.packed(0));
    }
}

TEST(Separate, UnderColourRemovalWhereTheModeHasK) {
    struct Case { const char *name; qx316::PrintOptions opt; uint8_t rgb[3]; Bytes ink; };
    const Case cases[] = {
        {"grey to K", opts(5, 0), {128, 128, 128}, {0, 0, 0, 127}},
        {"red keeps M and Y", opts(5, 0), {255, 0, 0}, {0, 255, 255, 0}},
        {"dark red", opts(5, 0), {200, 0, 50}, {0, 200, 150, 55}},
        {"no K plane: grey stays CMY", opts(5, 0, 1), {128, 128, 128}, {127, 127, 127}},
        {"K only: luminance", opts(10, 7, 0, 1), {255, 0, 0}, {255 - 76}},
    };
    for (const Case &c : cases) {
        const qx316::ModeInfo m = qx316::queryMode(c.opt);
        ASSERT_EQ(size_t(m.inPlanes), c.ink.size()) << c.name;
        uint8_t ink[7] = {};
        qx316::separatePixel(m, c.rgb, 3, ink);
        EXPECT_EQ(Bytes(ink, ink + m.inPlanes), c.ink) << c.name << "\nexpected " << hex(c.ink) << "\nactual   "
                                                       << hex(ink, size_t(m.inPlanes));
    }
}

TEST(Mode, QueryMatchesTheLibrary) {
    const qx316::ModeInfo m = qx316::queryMode(opts(5, 0));
    EXPECT_EQ(m.planeMode, 9);
    EXPECT_EQ(m.inPlanes, 4);
    EXPECT_EQ(m.outPlanes, 7);
    EXPECT_EQ(m.bandHeight, 16);
    EXPECT_EQ(m.kIndex, 3);
    const int bits[] = {4, 4, 4, 1, 4, 4, 4}, tgl[] = {4, 4, 4, 0, 4, 4, 4};
    const uint8_t letters[] = {'C', 'M', 'Y', 'K', 0xC3, 0xCD, 0xD9};
    for (int p = 0; p < 7; ++p) {
        EXPECT_EQ(m.bits[p], bits[p]) << p;
        EXPECT_EQ(m.tgl[p], tgl[p]) << p;
        EXPECT_EQ(m.letters[p], letters[p]) << p;
    }
    EXPECT_EQ(qx316::queryMode(opts(5, 26)).bandHeight, 8);
    EXPECT_EQ(qx316::queryMode(opts(5, 0, 0, 0, false, true)).bandHeight, 8);
    EXPECT_EQ(qx316::queryMode(opts(0, 3)).problem, "print mode not supported for quality 0 on media 3");
    EXPECT_NE(qx316::queryMode(opts(0, 0, 0, 0, true)).problem.find("bit depth"), std::string::npos);
}

} // namespace
