// Dot-pattern expansion: tables, draws, and the expanders' writes.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <vector>

#include "hex.h"
#include "qxdro316_inner.h"

namespace {

using qxtest::bytes;
using qxtest::hex;

// ---- Candidate lists, written from the pattern rules, not from the library.

using List = std::vector<int>;

int bits(int v) { return std::popcount(static_cast<unsigned>(v)); }

// Type 1: two 2-bit pixels; 0 -> 00, 2 -> 10, 1 -> 01 or 11; a 3 blanks all.
List candidates_type1(int level)
{
    const int a = level >> 2, b = level & 3;
    if (a == 3 || b == 3)
        return {0};
    auto choices = [](int x) { return x == 0 ? List{0} : x == 2 ? List{2} : List{1, 3}; };
    List out;
    for (int ca : choices(a))
        for (int cb : choices(b))
            out.push_back(ca << 2 | cb);
    return out;
}

List candidates_type2(int level)
{
    static const List rows[5] = {{0x0}, {0x8, 0x4}, {0xC}, {0x7, 0xB, 0xD, 0xE}, {0xF}};
    return level <= 4 ? rows[level] : List{};
}

List candidates_type3(int level)
{
    static const List rows[5] = {{0x0}, {0x1, 0x2, 0x4, 0x8}, {0xC, 0x5, 0x6, 0x9, 0xA, 0x3}, {0x7, 0xB, 0xD, 0xE}, {0xF}};
    return level <= 4 ? rows[level] : List{};
}

// Type 4: the pattern of one plane per column; one draw picks both planes.
List candidates_type4(int level, int plane)
{
    const List none = {0, 0, 0}, one = {0x8, 0x4, 0x2}, two = {0xC, 0xA, 0x6}, three = {0xE, 0xE, 0xE};
    if (level == 0)
        return {0};
    if (level > 8)
        return {};
    if (plane == 1)
        return level % 2 == 1 ? one : two;
    return level <= 2 ? none : level <= 4 ? one : level <= 6 ? two : three;
}

// Types 5 and 7: L dots, high nibble first, nibbles in decreasing order.
List candidates_type5(int level)
{
    if (level > 8)
        return {};
    const int want = level > 4 ? level - 4 : level;
    List out;
    for (int nib = 15; nib >= 0; --nib)
        if (bits(nib) == want)
            out.push_back(level > 4 ? 0xF0 | nib : nib << 4);
    return out;
}

// Type 6: every byte with L bits, increasing.
List candidates_type6(int level)
{
    List out;
    for (int v = 0; v < 256 && level <= 8; ++v)
        if (bits(v) == level)
            out.push_back(v);
    return out;
}

List candidates(int type, int level, int plane = 0)
{
    switch (type) {
    case 1: return candidates_type1(level);
    case 2: return candidates_type2(level);
    case 3: return candidates_type3(level);
    case 4: return candidates_type4(level, plane);
    case 5:
    case 7: return candidates_type5(level);
    case 6: return candidates_type6(level);
    default: return {};
    }
}

bool doubled(int type) { return type >= 5 && type <= 7; }

// ---- A plain model of the expansion, from the rules above.

int32_t ref_rand(int32_t *seed)
{
    *seed = static_cast<int32_t>(static_cast<uint32_t>(*seed) * 214013u + 2531011u);
    return (*seed >> 16) & 0x7FFF;
}

int ref_pick(int type, int level, int32_t *seed)
{
    const int k = static_cast<int>(candidates(type, level).size());
    return k > 1 ? ref_rand(seed) / (32767 / k + 1) : 0;
}

// Expands src into out0 (and out1) as the rules say; returns the draws made.
int ref_expand(int type, const std::vector<uint8_t> &src, std::vector<uint8_t> &out0, std::vector<uint8_t> *out1,
               int32_t *seed)
{
    int draws = 0;
    for (size_t i = 0; i < src.size(); ++i) {
        for (int half = 0; half < 2; ++half) {
            const int level = half == 0 ? src[i] >> 4 : src[i] & 0x0F;
            if (level == 0)
                continue;
            const List c = candidates(type, level);
            if (c.empty())
                continue;  // beyond the table: no dots, no draw
            const int32_t s = *seed;
            const int col = ref_pick(type, level, seed);
            draws += (*seed != s);
            if (doubled(type)) {
                out0[2 * i + static_cast<size_t>(half)] = static_cast<uint8_t>(c[static_cast<size_t>(col)]);
            } else {
                const int shift = half == 0 ? 4 : 0;
                out0[i] = static_cast<uint8_t>(out0[i] | c[static_cast<size_t>(col)] << shift);
                if (type == 4 && out1 != nullptr)
                    (*out1)[i] = static_cast<uint8_t>((*out1)[i] |
                                                      candidates(4, level, 1)[static_cast<size_t>(col)] << shift);
            }
        }
    }
    return draws;
}

// Steps of the generator from `from` to `to`; -1 if not within `limit`.
int seed_steps(int32_t from, int32_t to, int limit = 100000)
{
    for (int n = 0; n <= limit; ++n) {
        if (from == to)
            return n;
        ref_rand(&from);
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
    const size_t len = doubled(type) ? 2 * src.size() : src.size();
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
    // Wraps modulo 2^32 without trouble at the extremes.
    seed = -1;
    const int r = MyRand(&seed);
    EXPECT_EQ(static_cast<int32_t>(0xFFFFFFFFu * 214013u + 2531011u), seed);
    EXPECT_EQ(static_cast<int>((static_cast<uint32_t>(seed) >> 16) & 0x7FFF), r);
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
            const size_t len = doubled(c.type) ? 2 * src.size() : src.size();
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
            const List want = candidates(t.type, level, t.plane);
            for (int col = 0; col < t.cols; ++col) {
                const int w = col < static_cast<int>(want.size()) ? want[static_cast<size_t>(col)] : 0;
                EXPECT_EQ(w, t.data[level * t.cols + col])
                    << "type " << t.type << " plane " << t.plane << " level " << level << " column " << col;
            }
        }
    }
    // Types 3 and 6 enumerate every pattern with the level's dot count.
    for (int level = 0; level <= 4; ++level)
        for (int v : candidates_type3(level))
            EXPECT_EQ(level, bits(v));
    const int sizes[9] = {1, 8, 28, 56, 70, 56, 28, 8, 1};
    for (int level = 0; level <= 8; ++level)
        EXPECT_EQ(sizes[level], static_cast<int>(candidates_type6(level).size()));
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
            std::vector<uint8_t> want0(e.first.size(), 0), want1(e.second.size(), 0);
            ref_expand(type, src, want0, withSecond ? &want1 : nullptr, &refSeed);
            ASSERT_EQ(hex(want0), hex(e.first)) << "type " << type << " line " << line << " input " << hex(src);
            if (withSecond) {
                ASSERT_EQ(hex(want1), hex(e.second)) << "type " << type << " line " << line;
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
                    for (int plane = 0; plane < (type == 4 ? 2 : 1); ++plane) {
                        int got;
                        if (doubled(type))
                            got = e.first[2 * i + static_cast<size_t>(half)];
                        else
                            got = ((plane == 0 ? e.first : e.second)[i] >> (half == 0 ? 4 : 0)) & 0x0F;
                        List allowed = candidates(type, level, plane);
                        if (allowed.empty())
                            allowed = {0};  // beyond the table: no dots
                        bool found = false;
                        for (int a : allowed)
                            found = found || a == got;
                        ASSERT_TRUE(found) << "type " << type << " level " << level << " plane " << plane
                                           << " gave " << std::hex << got;
                    }
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
                    want += level != 0 && candidates(type, level).size() > 1;
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
        if (doubled(type)) {
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
        EXPECT_EQ(0, doubled(type) ? SetPtrDouble(static_cast<int16_t>(type), cursors, src, 0, &ctx)
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
        EXPECT_EQ(c.first, hex(head(e.first, doubled(c.type) ? 2 * bytes(c.input).size() : bytes(c.input).size())))
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
