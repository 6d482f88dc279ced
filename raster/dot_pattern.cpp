// Dot-pattern expansion: every 4-bit level of a plane line becomes a dot
// pattern from a constant table. Where a level has several candidates, one
// draw of the job's generator (OutputContext::randSeed) picks one; levels with
// a single candidate draw nothing, so the dot sequence depends only on the
// order in which lines are expanded.
//
// The line expanders are instantiated per pattern type at compile time: per
// level one table row (kNibbleDraws / kByteDraws), the generator stepped in
// a register, and the draw's division done as a multiply by the row's scale.
#include <cstdint>
#include <cstring>

#include "qxdro316_inner.h"
#include "raster_internal.h"

namespace qxraster {
namespace {

constexpr int kHighHalf = 5;  // `half` argument for the high nibble; 4 = low

// The column for a level with draw scale `scale`: steps the generator only
// when the scale is non-zero (the level has several candidates).
inline uint32_t draw(uint32_t &seed, uint32_t scale)
{
    const uint32_t next = seed * 214013u + 2531011u;
    seed = scale != 0 ? next : seed;
    return static_cast<uint32_t>((static_cast<uint64_t>((next >> 16) & 0x7FFF) * scale) >> 32);
}

// Types 1..4: one byte per input byte, high level in the high nibble. Type 4
// also fills out1 from the same draws; the other types give out1 zeros.
// Precondition: count >= 1; out0 (and out1 when not null) hold count bytes.
template <int Type>
void expand_equal(uint8_t *out0, uint8_t *out1, const uint8_t *src, int count, int32_t *seedAt)
{
    const NibbleDraws &t = kNibbleDraws[Type - 1];
    // Both cursors on one buffer get every pattern ORed into the one byte.
    const uint8_t shared = out0 == out1 ? 0xFF : 0x00;
    uint32_t seed = static_cast<uint32_t>(*seedAt);
    for (int i = 0; i < count; ++i) {
        const unsigned v = src[i];
        const unsigned hi = v >> 4;
        const unsigned lo = v & 0x0F;
        const uint32_t ch = draw(seed, t.scale[hi]);
        const uint32_t cl = draw(seed, t.scale[lo]);
        const uint8_t b0 = static_cast<uint8_t>(t.pattern[0][hi][ch] << 4 | t.pattern[0][lo][cl]);
        if constexpr (Type == 4) {
            const uint8_t b1 = static_cast<uint8_t>(t.pattern[1][hi][ch] << 4 | t.pattern[1][lo][cl]);
            if (out1 != nullptr)
                out1[i] = b1;
            out0[i] = static_cast<uint8_t>(b0 | (b1 & shared));
        } else {
            if (out1 != nullptr)
                out1[i] = 0;
            out0[i] = b0;
        }
    }
    *seedAt = static_cast<int32_t>(seed);
}

// Types 5..7: two bytes per input byte, one per level; a zero level leaves
// its byte as it was. Which = 0 for Ptr8bit9_1, 1 for Table8bit9.
// Precondition: count >= 1; out holds 2 * count bytes.
template <int Which>
void expand_double(uint8_t *out, const uint8_t *src, int count, int32_t *seedAt)
{
    const ByteDraws &t = kByteDraws[Which];
    uint32_t seed = static_cast<uint32_t>(*seedAt);
    for (int i = 0; i < count; ++i) {
        const unsigned v = src[i];
        const unsigned hi = v >> 4;
        const unsigned lo = v & 0x0F;
        if (hi != 0)
            out[2 * i] = t.pattern[hi][draw(seed, t.scale[hi])];
        if (lo != 0)
            out[2 * i + 1] = t.pattern[lo][draw(seed, t.scale[lo])];
    }
    *seedAt = static_cast<int32_t>(seed);
}

// One level into the nibble at cursors[0] (and cursors[1] for type 4).
template <int Type>
void or_level(uint8_t **cursors, int level, int32_t *seedAt, int half)
{
    const NibbleDraws &t = kNibbleDraws[Type - 1];
    uint32_t seed = static_cast<uint32_t>(*seedAt);
    const uint32_t col = draw(seed, t.scale[level]);
    *seedAt = static_cast<int32_t>(seed);
    const int shift = half == kHighHalf ? 4 : 0;
    *cursors[0] = static_cast<uint8_t>(*cursors[0] | t.pattern[0][level][col] << shift);
    if (Type == 4 && cursors[1] != nullptr)
        *cursors[1] = static_cast<uint8_t>(*cursors[1] | t.pattern[1][level][col] << shift);
}

template <int Which>
int byte_level(int level, int32_t *seedAt)
{
    const ByteDraws &t = kByteDraws[Which];
    uint32_t seed = static_cast<uint32_t>(*seedAt);
    const uint32_t col = draw(seed, t.scale[level]);
    *seedAt = static_cast<int32_t>(seed);
    return t.pattern[level][col];
}

}  // namespace

int expand_levels(int type, uint8_t *out0, uint8_t *out1, const uint8_t *src, int count, int32_t *seed)
{
    switch (type) {
    case 1: expand_equal<1>(out0, out1, src, count, seed); return count;
    case 2: expand_equal<2>(out0, out1, src, count, seed); return count;
    case 3: expand_equal<3>(out0, out1, src, count, seed); return count;
    case 4: expand_equal<4>(out0, out1, src, count, seed); return count;
    case 5:
    case 7: expand_double<0>(out0, src, count, seed); return static_cast<int16_t>(2 * count);
    case 6: expand_double<1>(out0, src, count, seed); return static_cast<int16_t>(2 * count);
    default: return count;
    }
}

}  // namespace qxraster

// Linear congruential step; the result is bits 16..30 of the new state.
extern "C" int MyRand(int32_t *seed) { return qxraster::rand_step(seed); }

// The nibble routines OR the chosen pattern into the byte at the first cursor
// (high nibble when half is 5) and never move the cursors.
extern "C" void SetPtr2bit3_2(uint8_t **cursors, int level, OutputContext *ctx, int half)
{
    if (level < 0 || level > 15)
        return;
    qxraster::or_level<1>(cursors, level, &ctx->randSeed, half);
}

extern "C" void SetPtr4bit5_1(uint8_t **cursors, int level, OutputContext *ctx, int half)
{
    if (level < 0 || level > 4)
        return;
    qxraster::or_level<2>(cursors, level, &ctx->randSeed, half);
}

extern "C" void SetPtr4bit5_2(uint8_t **cursors, int level, OutputContext *ctx, int half)
{
    if (level < 0 || level > 4)
        return;
    qxraster::or_level<3>(cursors, level, &ctx->randSeed, half);
}

// One draw serves both planes. Without a second plane the draw still happens,
// so the dots that follow are the same as with one.
extern "C" void SetPtr44bit9_1(uint8_t **cursors, int level, OutputContext *ctx, int half)
{
    if (level < 0 || level > 8)
        return;
    qxraster::or_level<4>(cursors, level, &ctx->randSeed, half);
}

extern "C" int SetPtr8bit9_1(int level, OutputContext *ctx)
{
    if (level < 0 || level > 8)
        return 0;
    return qxraster::byte_level<0>(level, &ctx->randSeed);
}

extern "C" int SetPtr8bit9_2(int level, OutputContext *ctx)
{
    if (level < 0 || level > 8)
        return 0;
    return qxraster::byte_level<1>(level, &ctx->randSeed);
}

// One output byte per input byte: the two levels' patterns. The second plane,
// when given, gets its own byte (zeros unless type 4); other types write zeros.
extern "C" int SetPtrEqual(int16_t type, uint8_t **cursors, const uint8_t *src, int16_t count, OutputContext *ctx)
{
    if (count <= 0)
        return count;
    if (type >= 1 && type <= 4) {
        qxraster::expand_levels(type, cursors[0], cursors[1], src, count, &ctx->randSeed);
    } else {
        if (cursors[1] != nullptr)
            std::memset(cursors[1], 0, static_cast<size_t>(count));
        std::memset(cursors[0], 0, static_cast<size_t>(count));
    }
    cursors[0] += count;
    if (cursors[1] != nullptr)
        cursors[1] += count;
    return count;
}

// Two output bytes per input byte, one per level. Zero levels leave their
// byte as it was: the caller's buffer is zero-filled. The second plane is not
// used. The result keeps the 16-bit width of a line length.
extern "C" int SetPtrDouble(int16_t type, uint8_t **cursors, const uint8_t *src, int16_t count, OutputContext *ctx)
{
    const int doubled = static_cast<int16_t>(2 * count);
    if (count <= 0)
        return doubled;
    if (type >= 5 && type <= 7)
        qxraster::expand_levels(type, cursors[0], nullptr, src, count, &ctx->randSeed);
    cursors[0] += 2 * count;
    return doubled;
}

// Expands count bytes into planes[0] (and planes[1]); planes keeps pointing at
// the buffer starts. Other types write nothing.
extern "C" int SelectRandomIndex(uint8_t **planes, const uint8_t *src, int16_t count, int16_t type,
                                 OutputContext *ctx)
{
    if (type >= 1 && type <= 7 && count > 0)
        return qxraster::expand_levels(type, planes[0], planes[1], src, count, &ctx->randSeed);
    if (type >= 5 && type <= 7)
        return static_cast<int16_t>(2 * count);
    return count;
}
