// Dot-pattern expansion: tables, draws, and the expanders' writes.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "dot_patterns.h"
#include "hex.h"
#include "line_data.h"
#include "qxdro316_inner.h"

namespace {

using qxtest::bytes;
using qxtest::hex;

using qxref::dot_candidates;
using qxref::dot_doubled;
using qxref::DotList;

// Steps of the generator from `from` to `to`; -1 if not within `limit`.
int seed_steps(int32_t from, int32_t to, int limit = 100000)
{
    for (int n = 0; n <= limit; ++n) {
        if (from == to)
            return n;
        qxref::dot_rand(&from);
    }
    return -1;
}

struct Expanded {
    std::vector<uint8_t> first, second;
    int result;
};

// Runs SelectRandomIndex over fresh buffers (zero-filled like the line
// encoder's, or filled with `fill` to see which bytes are written).
Expanded expand(OutputContext &ctx, int type, const std::vector<uint8_t> &src, bool withSecond, uint8_t fill = 0)
{
    const size_t len = dot_doubled(type) ? 2 * src.size() : src.size();
    Expanded e{std::vector<uint8_t>(len + 2, fill), std::vector<uint8_t>(src.size() + 2, fill), 0};
    uint8_t *planes[2] = {e.first.data(), withSecond ? e.second.data() : nullptr};
    uint8_t *const keep[2] = {planes[0], planes[1]};
    e.result = SelectRandomIndex(planes, src.data(), static_cast<int16_t>(src.size()), static_cast<int16_t>(type), &ctx);
    EXPECT_EQ(keep[0], planes[0]) << "caller's plane address moved";
    EXPECT_EQ(keep[1], planes[1]) << "caller's plane address moved";
    return e;
}

std::vector<uint8_t> head(const std::vector<uint8_t> &v, size_t n) { return std::vector<uint8_t>(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(n)); }

TEST(MyRand, SequenceFromZero)
{
    int32_t seed = 0;
    const int want[] = {38, 7719, 21238, 2437, 8855, 11797};
    for (int w : want)
        EXPECT_EQ(w, MyRand(&seed));
    // Wraps modulo 2^32 without trouble at the extremes, as the model does.
    for (int32_t start : {-1, INT32_MIN, INT32_MAX, -214013}) {
        int32_t lib = start, ref = start;
        EXPECT_EQ(qxref::dot_rand(&ref), MyRand(&lib)) << start;
        EXPECT_EQ(ref, lib) << start;
    }
}

struct WorkedExample {
    int type;
    const char *input, *first, *second;  // second: null = left untouched
    int draws;
};

TEST(Expansion, WorkedExamplesFromSeedZero)
{
    const WorkedExample cases[] = {
        {1, "A2 51 33", "A2 51 00", "00 00 00", 2}, {2, "42 13", "FC 87", "00 00", 2},
        {3, "21 44", "C1 FF", "00 00", 2},          {4, "38 10", "8E 00", "8C 40", 3},
        {5, "48 27", "F0 FF C0 FE", nullptr, 2},    {6, "80 14", "FF 00 01 4B", nullptr, 2},
        {7, "09", "00 00", nullptr, 0},
    };
    for (const WorkedExample &c : cases) {
        const std::vector<uint8_t> src = bytes(c.input);
        for (bool withSecond : {true, false}) {
            OutputContext ctx{};
            const Expanded e = expand(ctx, c.type, src, withSecond, 0);
            const size_t len = dot_doubled(c.type) ? 2 * src.size() : src.size();
            EXPECT_EQ(static_cast<int>(len), e.result) << "type " << c.type;
            EXPECT_EQ(c.first, hex(head(e.first, len))) << "type " << c.type << " second plane " << withSecond;
            EXPECT_EQ(c.draws, seed_steps(0, ctx.randSeed)) << "type " << c.type;
            if (withSecond && c.second != nullptr) {
                EXPECT_EQ(c.second, hex(head(e.second, src.size()))) << "type " << c.type;
            }
        }
    }
}

TEST(Tables, HoldTheCandidatesOfEveryLevel)
{
    struct Table {
        int type, plane, rows, cols;
        const uint8_t *data;
    } const tables[] = {
        {1, 0, 16, 4, &Ptr2bit3_2[0][0]},     {2, 0, 5, 4, &Ptr4bit5_1[0][0]},     {3, 0, 5, 6, &Ptr4bit5_2[0][0]},
        {4, 0, 9, 3, &Ptr44bit9_1_5p[0][0]},  {4, 1, 9, 3, &Ptr44bit9_1_2p[0][0]}, {5, 0, 9, 6, &Ptr8bit9_1[0][0]},
        {6, 0, 9, 70, &Table8bit9[0][0]},
    };
    for (const Table &t : tables) {
        for (int level = 0; level < t.rows; ++level) {
            const DotList want = dot_candidates(t.type, level, t.plane);
            for (int col = 0; col < t.cols; ++col) {
                const int w = col < static_cast<int>(want.size()) ? want[static_cast<size_t>(col)] : 0;
                EXPECT_EQ(w, t.data[level * t.cols + col])
                    << "type " << t.type << " plane " << t.plane << " level " << level << " column " << col;
            }
        }
    }
    // Types 3 and 6 enumerate every pattern with the level's dot count.
    for (int level = 0; level <= 4; ++level)
        for (int v : qxref::dot_candidates_type3(level))
            EXPECT_EQ(level, qxref::dot_bits(v));
    const int sizes[9] = {1, 8, 28, 56, 70, 56, 28, 8, 1};
    for (int level = 0; level <= 8; ++level)
        EXPECT_EQ(sizes[level], static_cast<int>(qxref::dot_candidates_type6(level).size()));
}

std::vector<uint8_t> random_line(qxtest::Lcg &rng, int type, size_t n)
{
    const int maxLevel = type == 1 ? 15 : (type == 2 || type == 3) ? 6 : 10;  // a few beyond the table
    std::vector<uint8_t> v(n);
    for (auto &b : v) {
        const int hi = rng.below(3) == 0 ? 0 : rng.below(maxLevel + 1);
        const int lo = rng.below(3) == 0 ? 0 : rng.below(maxLevel + 1);
        b = static_cast<uint8_t>(hi << 4 | lo);
    }
    return v;
}

TEST(Expansion, MatchesThePlainModelOnRandomLines)
{
    qxtest::Lcg rng(3);
    for (int type = 1; type <= 7; ++type) {
        OutputContext ctx{};
        int32_t refSeed = 0;
        for (int line = 0; line < 200; ++line) {
            const std::vector<uint8_t> src = random_line(rng, type, static_cast<size_t>(1 + rng.below(60)));
            const bool withSecond = type == 4 || line % 2 == 0;
            const Expanded e = expand(ctx, type, src, withSecond, 0);
            qxref::DotLine want = qxref::dot_expand(type, src, &refSeed);
            want.first.resize(e.first.size(), 0);
            want.second.resize(e.second.size(), 0);
            ASSERT_EQ(hex(want.first), hex(e.first)) << "type " << type << " line " << line << " input " << hex(src);
            if (withSecond) {
                ASSERT_EQ(hex(want.second), hex(e.second)) << "type " << type << " line " << line;
            }
            ASSERT_EQ(refSeed, ctx.randSeed) << "type " << type << " line " << line;
        }
    }
}

// Every output pattern is one of its level's candidates, whatever the draw.
TEST(Expansion, EveryPatternIsACandidateOfItsLevel)
{
    qxtest::Lcg rng(9);
    for (int type = 1; type <= 7; ++type) {
        OutputContext ctx{};
        ctx.randSeed = static_cast<int32_t>(rng.next());
        for (int line = 0; line < 100; ++line) {
            const std::vector<uint8_t> src = random_line(rng, type, 40);
            const Expanded e = expand(ctx, type, src, type == 4, 0);
            for (size_t i = 0; i < src.size(); ++i) {
                for (int half = 0; half < 2; ++half) {
                    const int level = half == 0 ? src[i] >> 4 : src[i] & 0x0F;
                    if (dot_doubled(type)) {
                        const int got = e.first[2 * i + static_cast<size_t>(half)];
                        ASSERT_TRUE(qxref::dot_is_candidate(type, level, got))
                            << "type " << type << " level " << level << " gave " << got;
                        continue;
                    }
                    const int shift = half == 0 ? 4 : 0;
                    const int got = (e.first[i] >> shift) & 0x0F, got2 = (e.second[i] >> shift) & 0x0F;
                    ASSERT_TRUE(type == 4 ? qxref::dot_pair_is_candidate(level, got, got2)
                                          : qxref::dot_is_candidate(type, level, got))
                        << "type " << type << " level " << level << " gave " << got << " / " << got2;
                }
            }
        }
    }
}

TEST(Expansion, DrawsOncePerLevelWithChoices)
{
    qxtest::Lcg rng(4);
    for (int type = 1; type <= 7; ++type) {
        for (int line = 0; line < 50; ++line) {
            const std::vector<uint8_t> src = random_line(rng, type, 30);
            int want = 0;
            for (uint8_t v : src)
                for (int level : {v >> 4, v & 0x0F})
                    want += level != 0 && dot_candidates(type, level).size() > 1;
            OutputContext ctx{};
            ctx.randSeed = 12345;
            expand(ctx, type, src, type == 4, 0);
            EXPECT_EQ(want, seed_steps(12345, ctx.randSeed)) << "type " << type << " input " << hex(src);
        }
    }
}

TEST(Expansion, RepeatedLineDiffersOnlyThroughTheSeed)
{
    const std::vector<uint8_t> src = bytes("55 55 55 55 33 33 33 33 11 11 11 11");
    for (int type = 1; type <= 7; ++type) {
        OutputContext ctx{};
        const Expanded once = expand(ctx, type, src, true, 0);
        const int32_t between = ctx.randSeed;
        const Expanded twice = expand(ctx, type, src, true, 0);
        OutputContext fresh{};
        fresh.randSeed = between;
        const Expanded restarted = expand(fresh, type, src, true, 0);
        EXPECT_EQ(hex(restarted.first), hex(twice.first)) << "type " << type;
        EXPECT_EQ(hex(restarted.second), hex(twice.second)) << "type " << type;
        EXPECT_EQ(fresh.randSeed, ctx.randSeed) << "type " << type;
        if (seed_steps(0, between) > 8) {  // many draws: the second line almost surely moved
            EXPECT_NE(hex(once.first) + hex(once.second), hex(twice.first) + hex(twice.second)) << "type " << type;
        }
    }
}

TEST(Expansion, TypesOutsideOneToSevenWriteNothing)
{
    const std::vector<uint8_t> src = bytes("12 34 56");
    for (int type : {0, 8, 9, 15, -1, 300}) {
        OutputContext ctx{};
        ctx.randSeed = 77;
        const Expanded e = expand(ctx, type, src, true, 0xAA);
        EXPECT_EQ(3, e.result) << "type " << type;
        EXPECT_EQ("AA AA AA AA AA", hex(e.first)) << "type " << type;
        EXPECT_EQ("AA AA AA AA AA", hex(e.second)) << "type " << type;
        EXPECT_EQ(77, ctx.randSeed) << "type " << type;
    }
}

TEST(Expansion, WhatEachTypeWritesToEachPlane)
{
    const std::vector<uint8_t> src = bytes("30 01 00");
    for (int type = 1; type <= 7; ++type) {
        OutputContext ctx{};
        const Expanded e = expand(ctx, type, src, true, 0xAA);
        if (dot_doubled(type)) {
            EXPECT_EQ(6, e.result);
            // Zero levels leave their bytes as they were; the second plane is not used.
            EXPECT_EQ(0xAA, e.first[1]) << "type " << type;
            EXPECT_EQ(0xAA, e.first[2]) << "type " << type;
            EXPECT_EQ("AA AA AA AA AA", hex(e.second)) << "type " << type;
            EXPECT_EQ("AA AA", hex(e.first.data() + 4, 2)) << "type " << type;
        } else {
            EXPECT_EQ(3, e.result);
            EXPECT_EQ(0x00, e.first[2]) << "type " << type;  // zero byte stored
            EXPECT_EQ("AA AA", hex(e.first.data() + 3, 2)) << "type " << type;  // nothing past count
            if (type != 4) {
                EXPECT_EQ("00 00 00 AA AA", hex(e.second)) << "type " << type;
            }
        }
    }
}

TEST(Expansion, CountZeroWritesNothing)
{
    const uint8_t src[1] = {0x11};
    for (int type = 1; type <= 7; ++type) {
        OutputContext ctx{};
        uint8_t a[2] = {0xAA, 0xAA}, b[2] = {0xAA, 0xAA};
        uint8_t *cursors[2] = {a, b};
        EXPECT_EQ(0, SelectRandomIndex(cursors, src, 0, static_cast<int16_t>(type), &ctx));
        EXPECT_EQ(0, dot_doubled(type) ? SetPtrDouble(static_cast<int16_t>(type), cursors, src, 0, &ctx)
                                   : SetPtrEqual(static_cast<int16_t>(type), cursors, src, 0, &ctx));
        EXPECT_EQ("AA AA", hex(a, 2));
        EXPECT_EQ("AA AA", hex(b, 2));
        EXPECT_EQ(0, ctx.randSeed);
    }
}

TEST(Expansion, ExpandersAdvanceTheirCursors)
{
    const uint8_t src[3] = {0x11, 0x22, 0x33};
    uint8_t a[8] = {}, b[8] = {};
    OutputContext ctx{};
    uint8_t *cursors[2] = {a, b};
    EXPECT_EQ(3, SetPtrEqual(4, cursors, src, 3, &ctx));
    EXPECT_EQ(a + 3, cursors[0]);
    EXPECT_EQ(b + 3, cursors[1]);
    cursors[0] = a;
    cursors[1] = b;
    EXPECT_EQ(6, SetPtrDouble(5, cursors, src, 3, &ctx));
    EXPECT_EQ(a + 6, cursors[0]);
    EXPECT_EQ(b, cursors[1]);
}

TEST(Expansion, LevelsBeyondTheTableGiveNoDotsAndNoDraw)
{
    struct Case {
        int type;
        const char *input, *first;
    } const cases[] = {
        {2, "5F 9A", "00 00"}, {3, "F5 B7", "00 00"}, {4, "99 AF", "00 00"},
        {5, "9F", "00 00"},    {6, "A9", "00 00"},    {7, "FB", "00 00"},
    };
    for (const Case &c : cases) {
        OutputContext ctx{};
        const Expanded e = expand(ctx, c.type, bytes(c.input), true, 0);
        EXPECT_EQ(c.first, hex(head(e.first, dot_doubled(c.type) ? 2 * bytes(c.input).size() : bytes(c.input).size())))
            << "type " << c.type;
        EXPECT_EQ(0, ctx.randSeed) << "type " << c.type;
    }
    OutputContext ctx{};
    EXPECT_EQ(0, SetPtr8bit9_1(9, &ctx));
    EXPECT_EQ(0, SetPtr8bit9_2(15, &ctx));
    EXPECT_EQ(0, ctx.randSeed);
}

// Type 4 without a second plane: the same draws, the same first plane.
TEST(Expansion, PairedTypeWithoutSecondPlaneKeepsTheDotSequence)
{
    qxtest::Lcg rng(21);
    for (int line = 0; line < 50; ++line) {
        const std::vector<uint8_t> src = random_line(rng, 4, 25);
        OutputContext withPair{}, alone{};
        withPair.randSeed = alone.randSeed = static_cast<int32_t>(rng.next());
        const Expanded a = expand(withPair, 4, src, true, 0);
        const Expanded b = expand(alone, 4, src, false, 0xAA);
        EXPECT_EQ(hex(head(a.first, src.size())), hex(head(b.first, src.size()))) << hex(src);
        EXPECT_EQ(withPair.randSeed, alone.randSeed) << hex(src);
        EXPECT_EQ(hex(std::vector<uint8_t>(src.size() + 2, 0xAA)), hex(b.second)) << "second plane written";
    }
}

}  // namespace
