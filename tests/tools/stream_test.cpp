// The stream decoder: broken streams stop at their first fault with its
// offset; valid streams give back the lines they carry.
#include "qx316_stream.h"
#include "hex.h"
#include "stream_builder.h"

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <random>

using qx316::decodeStream;
using qx316::DecodeResult;
using qx316::StreamLimits;
using qx316test::Bytes;
using qxtest::hex;
using qx316test::StreamBuilder;

namespace {

// Offsets of the usual prefix: set-up (6), job header (12), one-plane select (6).
constexpr size_t kAfterSetup = 6;
constexpr size_t kAfterHeader = 18;
constexpr size_t kAfterSelectK = 24;

StreamBuilder prefix(uint8_t height = 8) {
    StreamBuilder s;
    s.setup().header(height).select({'K'});
    return s;
}

Bytes concat(Bytes a, const Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes repeatItems(int count, uint8_t control, uint8_t value) {
    Bytes d;
    for (int i = 0; i < count; ++i) {
        d.push_back(control);
        d.push_back(value);
    }
    return d;
}

struct BrokenCase {
    const char *name;
    std::function<Bytes()> stream;
    size_t offset;
    const char *expected; // a phrase the error must contain
    StreamLimits limits = {};
};

StreamLimits lines(int64_t n) {
    StreamLimits l;
    l.maxLines = n;
    return l;
}

StreamLimits pages(int n) {
    StreamLimits l;
    l.maxPages = n;
    return l;
}

const BrokenCase kBroken[] = {
    {"empty stream", [] { return Bytes{}; }, 0, "set-up command"},
    {"not ESC", [] { return Bytes{0x00}; }, 0, "ESC (0x1B)"},
    {"lone ESC", [] { return Bytes{0x1B}; }, 1, "'(' after ESC"},
    {"ESC without (", [] { return Bytes{0x1B, 0x29, 'b'}; }, 1, "'(' after ESC"},
    {"no letter", [] { return Bytes{0x1B, 0x28}; }, 2, "command letter"},
    {"half length", [] { return Bytes{0x1B, 0x28, 'b', 0x01}; }, 4, "parameter length"},
    {"no parameter", [] { return Bytes{0x1B, 0x28, 'b', 0x01, 0x00}; }, 5, "1 parameter bytes"},
    {"set-up not first", [] { return StreamBuilder().header(8).b; }, 0, "set-up command ESC ( b first"},
    {"set-up length 2", [] { return StreamBuilder().cmd('b', {1, 1}).b; }, 3, "parameter length 1"},
    {"set-up parameter 2", [] { return StreamBuilder().cmd('b', {2}).b; }, 5, "set-up parameter 0x01"},
    {"unknown letter", [] { return StreamBuilder().setup().cmd('Z', {}).b; }, kAfterSetup + 2, "command letter b, I"},
    {"letter with bit 7", [] { return StreamBuilder().setup().cmd(0xC6, {}).b; }, kAfterSetup + 2, "found 0xC6"},
    {"I parameter 0", [] { return StreamBuilder().setup().cmd('I', {0}).b; }, kAfterSetup + 5, "parameter 0x01"},
    {"I then L", [] { return StreamBuilder().setup().cmd('I', {1}).select({'K'}).b; }, 12, "ESC ( J after ESC ( I"},
    {"I at end", [] { return StreamBuilder().setup().cmd('I', {1}).b; }, 12, "ESC ( J after ESC ( I"},
    {"J without I", [] { return StreamBuilder().setup().cmd('J', {8}).b; }, kAfterSetup, "ESC ( I before"},
    {"J length 2", [] { return StreamBuilder().setup().cmd('I', {1}).cmd('J', {8, 0}).b; }, 15, "parameter length 1"},
    {"band height 12", [] { return StreamBuilder().setup().header(12).b; }, 17, "band height 8 or 16"},
    {"band height 0", [] { return StreamBuilder().setup().header(0).b; }, 17, "band height 8 or 16"},
    {"band height change", [] { return StreamBuilder().setup().header(16).header(8).b; }, 29, "band height 16"},
    {"select before header", [] { return StreamBuilder().setup().select({'K'}).b; }, kAfterSetup, "job header"},
    {"select of none", [] { return StreamBuilder().setup().header(8).select({}).b; }, kAfterHeader + 3, "1 to 7"},
    {"select of 8", [] { return StreamBuilder().setup().header(8).select({'C', 'M', 'Y', 'K', 0xC3, 0xCD, 0xD9, 'K'}).b; },
     kAfterHeader + 3, "1 to 7"},
    {"select bad letter", [] { return StreamBuilder().setup().header(8).select({'C', 'Z'}).b; }, kAfterHeader + 6,
     "plane letter"},
    {"select lower case", [] { return StreamBuilder().setup().header(8).select({'c'}).b; }, kAfterHeader + 5,
     "plane letter"},
    {"select repeat", [] { return StreamBuilder().setup().header(8).select({'C', 'M', 'C'}).b; }, kAfterHeader + 7,
     "C again"},
    {"skip before header", [] { return StreamBuilder().setup().skip(1).b; }, kAfterSetup, "job header"},
    {"skip length 1", [] { return prefix().cmd('e', {1}).b; }, kAfterSelectK + 3, "parameter length 2"},
    {"skip length 3", [] { return prefix().cmd('e', {0, 1, 0}).b; }, kAfterSelectK + 3, "parameter length 2"},
    {"skip 0", [] { return prefix().skip(0).b; }, kAfterSelectK + 5, "1 to 32767, found 0"},
    {"skip 32768", [] { return prefix().skip(32768).b; }, kAfterSelectK + 5, "found 32768"},
    {"skip past limit", [] { return prefix(16).skip(11).b; }, kAfterSelectK + 5, "page limit of 160", lines(160)},
    {"skips past limit", [] { return prefix(8).skip(32767).skip(32767).skip(3).b; }, kAfterSelectK + 14 + 5,
     "page limit of 524288", lines(524288)},
    {"lines before header", [] { return StreamBuilder().setup().blank().b; }, kAfterSetup, "job header"},
    {"lines before select", [] { return StreamBuilder().setup().header(8).blank().b; }, kAfterHeader, "colour select"},
    {"band past limit", [] { return prefix(16).blank().blank().b; }, kAfterSelectK + 5, "page limit of 16", lines(16)},
    {"too few lines", [] { return prefix(8).emptyLines(7).b; }, kAfterSelectK + 5 + 7, "8 lines ended by 0x80"},
    {"too many lines", [] { return prefix(8).emptyLines(9).b; }, kAfterSelectK + 5 + 8, "after 8 lines"},
    {"too few of 16", [] { return prefix(16).lines(std::vector<Bytes>(15, Bytes{0x00, 0x11})).b; },
     kAfterSelectK + 5 + 15 * 3, "16 lines ended"},
    {"literal past end", [] { return prefix().cmd('F', {0x02, 0xAA, 0xBB}).b; }, kAfterSelectK + 5, "item 0x02"},
    {"repeat past end", [] { return prefix().cmd('F', {0xFE}).b; }, kAfterSelectK + 5, "item 0xFE"},
    {"literal into next command", [] { return prefix().cmd('F', {0x05, 0x41}).setup().b; }, kAfterSelectK + 5,
     "item 0x05"},
    {"literal eats end-of-line", [] { return prefix().cmd('F', Bytes{0x07, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80}).b; },
     kAfterSelectK + 5, "item 0x07"},
    {"line of 65536 bytes", [] { return prefix().cmd('F', repeatItems(513, 0x81, 0x55)).b; },
     kAfterSelectK + 5 + 511 * 2, "fewer than 65536"},
    {"length past end", [] { return prefix().cmdLen('F', 10, {0x80, 0x80, 0x80}).b; }, kAfterSelectK + 8,
     "10 parameter bytes"},
    {"select splits band", [] { return StreamBuilder().setup().header(8).select({'C', 'M'}).blank().select({'K'}).b; },
     kAfterHeader + 7 + 5, "plane M"},
    {"skip splits band", [] { return StreamBuilder().setup().header(8).select({'C', 'M'}).blank().skip(1).b; },
     kAfterHeader + 7 + 5, "plane M"},
    {"set-up splits band", [] { return StreamBuilder().setup().header(8).select({'C', 'M'}).blank().setup().b; },
     kAfterHeader + 7 + 5, "plane M"},
    {"header splits band", [] { return StreamBuilder().setup().header(8).select({'C', 'M'}).blank().header(8).b; },
     kAfterHeader + 7 + 5, "plane M"},
    {"ends inside band", [] { return StreamBuilder().setup().header(8).select({'C', 'M', 'Y'}).blank().blank().b; },
     kAfterHeader + 8 + 10, "plane Y of band 0"},
    {"too many pages", [] { return StreamBuilder().setup().setup().setup().b; }, 12, "at most 2 pages", pages(2)},
};

void PrintTo(const BrokenCase &c, std::ostream *os) { *os << c.name; }

class BrokenStream : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(BrokenStream, StopsAtItsFault) {
    const BrokenCase &c = GetParam();
    Bytes s = c.stream();
    DecodeResult r = decodeStream(s.data(), s.size(), c.limits);
    EXPECT_FALSE(r.ok) << "stream " << hex(s);
    EXPECT_EQ(r.errorOffset, c.offset) << "error: " << r.error << "\nstream " << hex(s);
    EXPECT_NE(r.error.find(c.expected), std::string::npos)
        << "expected a message with \"" << c.expected << "\", got \"" << r.error << "\"";
}

INSTANTIATE_TEST_SUITE_P(Grammar, BrokenStream, ::testing::ValuesIn(kBroken),
                         [](const ::testing::TestParamInfo<BrokenCase> &i) {
                             std::string n;
                             for (const char *p = i.param.name; *p; ++p)
                                 n += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return n;
                         });

// ---- Valid streams -----------------------------------------------------------

struct RowCase {
    const char *name;
    std::vector<Bytes> coded; // one band of one plane
    std::map<int64_t, Bytes> rows;
};

const RowCase kRows[] = {
    {"literal and repeat", {{0x02, 0x61, 0x62, 0x63, 0xFE, 0x07}, {}, {}, {}, {}, {}, {}, {}},
     {{0, {0x61, 0x62, 0x63, 0x07, 0x07, 0x07}}}},
    {"zero runs kept as coded", {{}, {0x81, 0x00, 0x00, 0x00, 0x00, 0xF0}, {}, {}, {}, {}, {}, {}},
     {{1, [] { Bytes b(129, 0); b.push_back(0xF0); return b; }()}}},
    {"only zeros is still a coded line", {{}, {}, {}, {}, {}, {}, {}, {0xFF, 0x00}}, {{7, {0x00, 0x00}}}},
    {"every line", {{0x00, 1}, {0x00, 2}, {0x00, 3}, {0x00, 4}, {0x00, 5}, {0x00, 6}, {0x00, 7}, {0x81, 8}},
     {{0, {1}}, {1, {2}}, {2, {3}}, {3, {4}}, {4, {5}}, {5, {6}}, {6, {7}}, {7, Bytes(128, 8)}}},
    {"longest line", {concat(repeatItems(511, 0x81, 0x55), {0x82, 0x55}), {}, {}, {}, {}, {}, {}, {}},
     {{0, Bytes(65535, 0x55)}}},
};

TEST(ValidStream, RowsOfOneBand) {
    for (const RowCase &c : kRows) {
        Bytes s = prefix(8).lines(c.coded).b;
        DecodeResult r = decodeStream(s.data(), s.size());
        ASSERT_TRUE(r.ok) << c.name << ": " << r.error << " at " << r.errorOffset;
        ASSERT_EQ(r.pages.size(), 1u);
        const qx316::DecodedPlane *k = r.pages[0].plane('K');
        ASSERT_NE(k, nullptr) << c.name;
        EXPECT_EQ(k->rows.size(), c.rows.size()) << c.name;
        for (const auto &[line, want] : c.rows) {
            auto it = k->rows.find(line);
            ASSERT_NE(it, k->rows.end()) << c.name << ": line " << line << " missing";
            EXPECT_EQ(it->second, want) << c.name << " line " << line << ": "
                                        << qxtest::hexDifference(want, it->second);
        }
        EXPECT_EQ(r.pages[0].bands, 1);
    }
}

// The command item of a band after skipped bands, in four planes, with blank planes.
TEST(ValidStream, SkipsSelectsAndPlanePositions) {
    StreamBuilder s;
    s.setup().header(16).skip(3).select({'C', 'M', 'Y', 'K'});
    std::vector<Bytes> c(16), k(16);
    c[2] = {0x01, 0xAB, 0xCD};
    k[15] = {0xFD, 0x00, 0x00, 0x11};
    s.lines(c).blank().emptyLines(16).lines(k);  // band 3
    s.select({'K'}).lines(k);                    // band 4, K only
    s.skip(2).select({'C', 'M', 'Y', 'K'}).lines(c).blank().blank().blank(); // band 7
    DecodeResult r = decodeStream(s.b.data(), s.size());
    ASSERT_TRUE(r.ok) << r.error << " at " << r.errorOffset;
    const qx316::DecodedPage &p = r.pages[0];
    EXPECT_EQ(p.bandHeight, 16);
    EXPECT_EQ(p.bands, 8);
    EXPECT_EQ(p.inkedBands, 3);
    EXPECT_EQ(p.rasterCommands, 4 + 1 + 4);
    ASSERT_EQ(p.planes.size(), 4u);
    const uint8_t order[] = {'C', 'M', 'Y', 'K'};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(p.planes[i].letter, order[i]) << "plane " << i;
    const qx316::DecodedPlane *cp = p.plane('C'), *kp = p.plane('K');
    EXPECT_EQ(p.plane(0xC3), nullptr);
    ASSERT_EQ(cp->rows.size(), 2u);
    EXPECT_EQ(cp->rows.at(3 * 16 + 2), (Bytes{0xAB, 0xCD}));
    EXPECT_EQ(cp->rows.at(7 * 16 + 2), (Bytes{0xAB, 0xCD}));
    ASSERT_EQ(kp->rows.size(), 2u);
    EXPECT_EQ(kp->rows.at(3 * 16 + 15), (Bytes{0, 0, 0, 0, 0x11}));
    EXPECT_EQ(kp->rows.at(4 * 16 + 15), (Bytes{0, 0, 0, 0, 0x11}));
    EXPECT_TRUE(p.plane('M')->rows.empty());
    EXPECT_TRUE(p.formMarks.empty());
}

TEST(ValidStream, CommandList) {
    StreamBuilder s;
    s.setup().header(8).skip(258).select({'K'}).blank();
    DecodeResult r = decodeStream(s.b.data(), s.size());
    ASSERT_TRUE(r.ok) << r.error;
    struct Want { size_t offset; uint8_t letter; uint32_t length; int64_t band; uint8_t plane; const char *meaning; };
    const Want want[] = {
        {0, 'b', 1, 0, 0, "set-up, page 1"},
        {6, 'I', 1, 0, 0, "job header"},
        {12, 'J', 1, 0, 0, "band height 8"},
        {18, 'e', 2, 0, 0, "raster skip 258 bands to band 258"},
        {25, 'L', 1, 258, 0, "colour select K"},
        {31, 'F', 0, 258, 'K', "raster lines K band 258: blank"},
    };
    ASSERT_EQ(r.commands.size(), std::size(want));
    EXPECT_EQ(r.commandCount, std::size(want));
    for (size_t i = 0; i < std::size(want); ++i) {
        const qx316::StreamCommand &c = r.commands[i];
        EXPECT_EQ(c.offset, want[i].offset) << "command " << i;
        EXPECT_EQ(c.letter, want[i].letter) << "command " << i;
        EXPECT_EQ(c.length, want[i].length) << "command " << i;
        EXPECT_EQ(c.band, want[i].band) << "command " << i;
        EXPECT_EQ(c.plane, want[i].plane) << "command " << i;
        EXPECT_EQ(c.page, 0) << "command " << i;
        EXPECT_EQ(c.meaning, want[i].meaning) << "command " << i;
    }
}

TEST(ValidStream, PagesStartAfresh) {
    StreamBuilder s;
    std::vector<Bytes> one(16);
    one[0] = {0x00, 1};
    s.setup().header(16).select({'C', 'M', 'Y'}).lines(one).blank().blank();
    s.setup().header(8).skip(1).select({'K'}).lines(std::vector<Bytes>(8, Bytes{0xFF, 9}));
    DecodeResult r = decodeStream(s.b.data(), s.size());
    ASSERT_TRUE(r.ok) << r.error << " at " << r.errorOffset;
    ASSERT_EQ(r.pages.size(), 2u);
    EXPECT_EQ(r.pages[0].bandHeight, 16);
    EXPECT_EQ(r.pages[0].bands, 1);
    EXPECT_EQ(r.pages[0].plane('C')->rows.at(0), (Bytes{1}));
    EXPECT_EQ(r.pages[0].plane('K'), nullptr);
    EXPECT_EQ(r.pages[1].bandHeight, 8);
    EXPECT_EQ(r.pages[1].bands, 2);
    ASSERT_EQ(r.pages[1].planes.size(), 1u);
    EXPECT_EQ(r.pages[1].plane('K')->rows.size(), 8u);
    EXPECT_EQ(r.pages[1].plane('K')->rows.begin()->first, 8);
    EXPECT_EQ(r.commands.back().page, 1);
}

TEST(ValidStream, PageNeedsItsOwnHeader) {
    Bytes s = StreamBuilder().setup().header(8).setup().select({'K'}).b;
    DecodeResult r = decodeStream(s.data(), s.size());
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.errorOffset, 24u) << r.error;
}

// Banner paper: the job header comes again at each form feed, on the same page.
TEST(ValidStream, RepeatedHeaderIsAFormMark) {
    StreamBuilder s;
    std::vector<Bytes> k(8);
    k[0] = {0x00, 0xFF};
    s.setup().header(8).select({'K'}).lines(k).header(8).skip(4).lines(k).header(8);
    DecodeResult r = decodeStream(s.b.data(), s.size());
    ASSERT_TRUE(r.ok) << r.error << " at " << r.errorOffset;
    ASSERT_EQ(r.pages.size(), 1u);
    EXPECT_EQ(r.pages[0].formMarks, (std::vector<int64_t>{1, 6}));
    EXPECT_EQ(r.pages[0].bands, 6);
    const auto &rows = r.pages[0].plane('K')->rows;
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows.begin()->first, 0);
    EXPECT_EQ(rows.rbegin()->first, 5 * 8);
}

TEST(ValidStream, SkipToTheLimitIsAllowed) {
    Bytes s = prefix(16).skip(10).b;
    DecodeResult r = decodeStream(s.data(), s.size(), lines(160));
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.pages[0].bands, 10);
}

// ---- Line items on their own -------------------------------------------------

TEST(UnpackLine, ItemsAndFaults) {
    struct Case { Bytes coded; bool ok; Bytes decoded; };
    const Case cases[] = {
        {{}, true, {}},
        {{0x02, 0x61, 0x62, 0x63}, true, {0x61, 0x62, 0x63}},
        {{0x81, 0x07, 0xB9, 0x07}, true, Bytes(200, 0x07)},
        {{0xFF, 0x61, 0x00, 0x62}, true, {0x61, 0x61, 0x62}},
        {{0x00, 0x61, 0xFE, 0x62, 0x00, 0x63}, true, {0x61, 0x62, 0x62, 0x62, 0x63}},
        {{0x01, 0x61}, false, {}},
        {{0xFF}, false, {}},
        {{0x00, 0x61, 0x80}, false, {}},
    };
    for (const Case &c : cases) {
        Bytes out;
        std::string why;
        bool ok = qx316::unpackLine(c.coded.data(), c.coded.size(), out, &why);
        EXPECT_EQ(ok, c.ok) << "items " << hex(c.coded) << ": " << why;
        if (c.ok)
            EXPECT_EQ(out, c.decoded) << "items " << hex(c.coded) << "\nexpected " << hex(c.decoded) << "\nactual   "
                                      << hex(out);
        else
            EXPECT_FALSE(why.empty());
    }
}

// ---- Hostile input -----------------------------------------------------------

Bytes sampleStream() {
    StreamBuilder s;
    std::vector<Bytes> c(16), k(16);
    for (int i = 0; i < 16; i += 3)
        c[size_t(i)] = {0x03, 0x10, 0x20, 0x30, 0x40, 0xF0, 0x55};
    k[5] = {0xFD, 0x00, 0x01, 0x77, 0x88};
    s.setup().header(16).skip(2).select({'C', 'M', 'Y', 'K', 0xC3, 0xCD, 0xD9});
    s.lines(c).blank().lines(c).lines(k).blank().emptyLines(16).lines(c);
    s.select({'K'}).lines(k).skip(40).select({'C', 'M', 'Y', 'K', 0xC3, 0xCD, 0xD9});
    s.lines(k).lines(c).blank().blank().blank().blank().lines(k);
    s.setup().header(8).select({0xC3, 0xCD, 0xD9}).lines(std::vector<Bytes>(8, Bytes{0x00, 0x01})).blank().blank();
    return s.b;
}

void checkSane(const Bytes &s, const DecodeResult &r, const StreamLimits &lim) {
    if (!r.ok) {
        ASSERT_LE(r.errorOffset, s.size()) << r.error;
        ASSERT_FALSE(r.error.empty());
    }
    for (const auto &p : r.pages)
        for (const auto &pl : p.planes)
            for (const auto &[line, row] : pl.rows) {
                ASSERT_GE(line, 0);
                ASSERT_LT(line, lim.maxLines);
                ASSERT_FALSE(row.empty());
                ASSERT_LT(row.size(), 65536u);
            }
}

TEST(Hostile, SampleIsValid) {
    Bytes s = sampleStream();
    DecodeResult r = decodeStream(s.data(), s.size());
    ASSERT_TRUE(r.ok) << r.error << " at " << r.errorOffset;
    EXPECT_EQ(r.pages.size(), 2u);
}

TEST(Hostile, RandomMutations) {
    const Bytes base = sampleStream();
    std::mt19937 rng(316);
    StreamLimits lim;
    lim.maxLines = 1 << 16;
    int failed = 0;
    for (int round = 0; round < 3000; ++round) {
        Bytes s = base;
        int edits = 1 + int(rng() % 4);
        for (int e = 0; e < edits; ++e) {
            size_t at = rng() % (s.size() + 1);
            switch (rng() % 5) {
            case 0: if (at < s.size()) s[at] = uint8_t(rng()); break;
            case 1: if (at < s.size()) s[at] ^= uint8_t(1u << (rng() % 8)); break;
            case 2: s.insert(s.begin() + long(at), uint8_t(rng())); break;
            case 3: if (at < s.size()) s.erase(s.begin() + long(at)); break;
            case 4: s.resize(at); break;
            }
        }
        DecodeResult r = decodeStream(s.data(), s.size(), lim);
        checkSane(s, r, lim);
        failed += !r.ok;
    }
    // Most mutations break the strict grammar; the walk must have noticed some.
    EXPECT_GT(failed, 1000);
}

TEST(Hostile, RandomBytesAfterHeader) {
    std::mt19937 rng(7);
    for (int round = 0; round < 2000; ++round) {
        Bytes s = prefix(16).b;
        size_t n = rng() % 200;
        for (size_t i = 0; i < n; ++i)
            s.push_back(uint8_t(rng() % 4 == 0 ? 0x1B : rng()));
        DecodeResult r = decodeStream(s.data(), s.size());
        checkSane(s, r, StreamLimits{});
    }
}

// A flood of blank bands stops at the page limit instead of running on.
TEST(Hostile, FloodOfBandsStopsAtLimit) {
    StreamBuilder s = prefix(16);
    for (int i = 0; i < 5000; ++i)
        s.blank();
    DecodeResult r = decodeStream(s.b.data(), s.size(), lines(16 * 1000));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.errorOffset, kAfterSelectK + 1000 * 5) << r.error;
    EXPECT_EQ(r.pages[0].bands, 1000);
}

TEST(Hostile, CommandListIsBounded) {
    StreamBuilder s = prefix(16);
    for (int i = 0; i < 100; ++i)
        s.blank();
    StreamLimits lim;
    lim.maxCommands = 10;
    DecodeResult r = decodeStream(s.b.data(), s.size(), lim);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.commands.size(), 10u);
    EXPECT_EQ(r.commandCount, 104u);
}

TEST(Hostile, DecodedBytesAreBounded) {
    StreamBuilder s = prefix(8);
    std::vector<Bytes> big(8, Bytes{0x81, 0x11});
    for (int i = 0; i < 4; ++i)
        s.lines(big);
    StreamLimits lim;
    lim.maxDecodedBytes = 3 * 8 * 128;
    DecodeResult r = decodeStream(s.b.data(), s.size(), lim);
    EXPECT_FALSE(r.ok);
    // Fourth band, first line.
    EXPECT_EQ(r.errorOffset, kAfterSelectK + 3 * (5 + 24) + 5) << r.error;
}

} // namespace
