// Every vector level of the raster scans (plain words, SSE2, AVX2 as far as
// this processor runs them) against byte-at-a-time loops, and the PackBits
// coder at every level against the plain reference coder. Buffers are exactly
// as long as the range under test, so the ASan tree sees any read past it.
#include <gtest/gtest.h>

#include <vector>

#include "hex.h"
#include "line_data.h"
#include "raster_internal.h"
#include "raster_reference.h"
#include "simd_scan.h"

namespace {

using qxtest::hex;

std::vector<int> levels()
{
    std::vector<int> v;
    for (int level = qxraster::kPlain; level <= qxraster::simd_level(); ++level)
        v.push_back(level);
    return v;
}

int32_t next_triple_at(int level, const uint8_t *src, int32_t i, int32_t n)
{
    if (level == qxraster::kAvx2)
        return qxraster::next_triple_avx2(src, i, n);
    if (level == qxraster::kSse2)
        return qxraster::next_triple_sse2(src, i, n);
    return qxraster::next_triple_plain(src, i, n);
}

int32_t run_end_at(int level, const uint8_t *src, int32_t i, int32_t n, uint8_t v)
{
    if (level == qxraster::kAvx2)
        return qxraster::run_end_avx2(src, i, n, v);
    if (level == qxraster::kSse2)
        return qxraster::run_end_sse2(src, i, n, v);
    return qxraster::run_end_plain(src, i, n, v);
}

TEST(VectorLevels, PlainIsAlwaysAvailable)
{
    const int best = qxraster::simd_level();
    EXPECT_GE(best, qxraster::kPlain);
    EXPECT_LE(best, qxraster::kAvx2);
#if defined(__x86_64__)
    EXPECT_GE(best, qxraster::kSse2);  // every x86_64 processor has SSE2
#endif
}

// One inked byte (or none) at every position of ranges of every length and
// start, so every block size, tail and overlapping last load is exercised.
TEST(VectorLevels, ZeroScansFindTheEdgeBytes)
{
    for (int level : levels()) {
        for (int len = 1; len <= 700; len += (len < 140 ? 1 : 37)) {
            for (int lo = 0; lo <= 3; ++lo) {
                const int hi = lo + len - 1;
                for (int ink = -1; ink < len; ++ink) {
                    std::vector<uint8_t> line(static_cast<size_t>(hi + 1), 0);
                    if (ink >= 0)
                        line[static_cast<size_t>(lo + ink)] = static_cast<uint8_t>(1 + ink % 255);
                    const int want_first = ink >= 0 ? lo + ink : hi + 1;
                    const int want_last = ink >= 0 ? lo + ink : lo - 1;
                    ASSERT_EQ(want_first, qxraster::first_nonzero_at(level, line.data(), lo, hi))
                        << "level " << level << " lo " << lo << " len " << len << " ink " << ink;
                    ASSERT_EQ(want_last, qxraster::last_nonzero_at(level, line.data(), lo, hi))
                        << "level " << level << " lo " << lo << " len " << len << " ink " << ink;
                }
            }
        }
    }
}

TEST(VectorLevels, ZeroScansOnTwoInkedBytes)
{
    qxtest::Lcg rng(11);
    for (int level : levels()) {
        for (int round = 0; round < 3000; ++round) {
            const int n = 1 + rng.below(400);
            std::vector<uint8_t> line(static_cast<size_t>(n), 0);
            for (int k = rng.below(3); k > 0; --k)
                line[static_cast<size_t>(rng.below(n))] = static_cast<uint8_t>(1 + rng.below(255));
            const int lo = rng.below(n), hi = lo + rng.below(n - lo);
            int first = hi + 1, last = lo - 1;
            for (int i = lo; i <= hi; ++i)
                if (line[static_cast<size_t>(i)] != 0) {
                    if (first > hi)
                        first = i;
                    last = i;
                }
            ASSERT_EQ(first, qxraster::first_nonzero_at(level, line.data(), lo, hi)) << "level " << level;
            ASSERT_EQ(last, qxraster::last_nonzero_at(level, line.data(), lo, hi)) << "level " << level;
        }
    }
}

TEST(VectorLevels, RunFindersMatchByteLoops)
{
    qxtest::Lcg rng(5);
    for (int level : levels()) {
        for (int round = 0; round < 4000; ++round) {
            const int n = 1 + rng.below(200);
            std::vector<uint8_t> src(static_cast<size_t>(n));
            const int alphabet = 1 + rng.below(4);  // small alphabets make runs
            for (auto &b : src)
                b = static_cast<uint8_t>(rng.below(alphabet));
            const int i = rng.below(n + 1);
            int want = n;
            for (int j = i; j + 2 < n; ++j)
                if (src[j] == src[j + 1] && src[j + 1] == src[j + 2]) {
                    want = j;
                    break;
                }
            ASSERT_EQ(want, next_triple_at(level, src.data(), i, n)) << "level " << level << " " << hex(src);
            const uint8_t v = static_cast<uint8_t>(rng.below(alphabet));
            int end = i;
            while (end < n && src[end] == v)
                ++end;
            ASSERT_EQ(end, run_end_at(level, src.data(), i, n, v)) << "level " << level << " " << hex(src);
        }
    }
}

// Lines made of runs of chosen lengths: literals that reach every control
// byte before a pair, a triple or the line's end, and long repeats.
std::vector<uint8_t> line_of_runs(qxtest::Lcg &rng, int n)
{
    std::vector<uint8_t> v;
    uint8_t prev = 0;
    while (static_cast<int>(v.size()) < n) {
        const int pick = rng.below(16);
        const int len = pick < 9 ? 1 : pick < 13 ? 2 : pick < 15 ? 3 + rng.below(6) : 100 + rng.below(200);
        uint8_t b = static_cast<uint8_t>(rng.below(256));
        if (b == prev)
            b = static_cast<uint8_t>(b + 1);
        prev = b;
        for (int k = 0; k < len && static_cast<int>(v.size()) < n; ++k)
            v.push_back(b);
    }
    return v;
}

void expect_every_level_codes_like_reference(const std::vector<uint8_t> &src, const char *what)
{
    const int n = static_cast<int>(src.size());
    const std::vector<uint8_t> want = qxref::packbits_reference(src.data(), n);
    for (int level : levels()) {
        std::vector<uint8_t> out(qxref::packbits_bound(n));
        const int got = qxraster::pack_line_at(level, out.data(), src.data(), n);
        out.resize(static_cast<size_t>(got));
        ASSERT_EQ(hex(want), hex(out)) << what << ", level " << level << ", input " << hex(src);
    }
}

TEST(VectorLevels, PackBitsEqualsReferenceOnRunMixtures)
{
    qxtest::Lcg rng(7);
    for (int round = 0; round < 3000; ++round)
        expect_every_level_codes_like_reference(line_of_runs(rng, 1 + rng.below(700)), "run mixture");
}

// A literal of k distinct bytes, then a pair (or a single, or a triple), then
// more singles: the pair joins only while the literal's control byte is at
// most 124, so every k around the 128-byte limit matters.
TEST(VectorLevels, PackBitsLiteralLimitWithPairsAndTriples)
{
    for (int k = 1; k <= 260; ++k) {
        for (int tail = 1; tail <= 3; ++tail) {
            std::vector<uint8_t> src;
            for (int i = 0; i < k; ++i)
                src.push_back(static_cast<uint8_t>(i % 2 == 0 ? 0x10 + i % 7 : 0xA0 + i % 5));
            const uint8_t v = 0x55;
            for (int i = 0; i < tail; ++i)
                src.push_back(v);
            for (int i = 0; i < 20; ++i)
                src.push_back(static_cast<uint8_t>(0x60 + i % 2));
            expect_every_level_codes_like_reference(src, "literal then run");
        }
    }
}

TEST(VectorLevels, PackBitsEqualsReferenceOnPairsEverywhere)
{
    // Alternating pairs and singles at every phase: each pair can fall on any
    // position of a literal.
    for (int phase = 0; phase < 5; ++phase) {
        std::vector<uint8_t> src;
        for (int i = 0; src.size() < 1500; ++i) {
            const uint8_t b = static_cast<uint8_t>(i & 0xFF);
            src.push_back(b);
            if ((i + phase) % 5 == 0)
                src.push_back(b);
        }
        expect_every_level_codes_like_reference(src, "pairs among singles");
    }
}

}  // namespace
