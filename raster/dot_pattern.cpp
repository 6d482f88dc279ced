// Dot-pattern expansion: every 4-bit level of a plane line becomes a dot
// pattern from a constant table. Where a level has several candidates, one
// draw of the job's generator (OutputContext::randSeed) picks one; levels with
// a single candidate draw nothing, so the dot sequence depends only on the
// order in which lines are expanded.
#include <cstdint>

#include "qxdro316_inner.h"

namespace {

// Candidates per level of each table (the draw's range).
constexpr uint8_t kCount2bit3_2[16] = {1, 2, 1, 1, 2, 4, 2, 1, 1, 2, 1, 1, 1, 1, 1, 1};
constexpr uint8_t kCount4bit5_1[5] = {1, 2, 1, 4, 1};
constexpr uint8_t kCount4bit5_2[5] = {1, 4, 6, 4, 1};
constexpr uint8_t kCount44bit9_1[9] = {1, 3, 3, 3, 3, 3, 3, 3, 3};
constexpr uint8_t kCount8bit9_1[9] = {1, 4, 6, 4, 1, 4, 6, 4, 1};
constexpr uint8_t kCount8bit9[9] = {1, 8, 28, 56, 70, 56, 28, 8, 1};

constexpr int kHighHalf = 5;  // `half` argument for the high nibble; 4 = low

// Column for a level with k candidates: one draw when k > 1, none otherwise.
inline int draw_index(int k, OutputContext *ctx)
{
    if (k <= 1)
        return 0;
    return MyRand(&ctx->randSeed) / (32767 / k + 1);
}

inline void or_nibble(uint8_t *at, uint8_t pattern, int half)
{
    *at = static_cast<uint8_t>(*at | (half == kHighHalf ? pattern << 4 : pattern));
}

using NibbleRoutine = void (*)(uint8_t **, int, OutputContext *, int);
using ByteRoutine = int (*)(int, OutputContext *);

NibbleRoutine nibble_routine(int type)
{
    switch (type) {
    case 1: return SetPtr2bit3_2;
    case 2: return SetPtr4bit5_1;
    case 3: return SetPtr4bit5_2;
    case 4: return SetPtr44bit9_1;
    default: return nullptr;
    }
}

ByteRoutine byte_routine(int type)
{
    switch (type) {
    case 5:
    case 7: return SetPtr8bit9_1;
    case 6: return SetPtr8bit9_2;
    default: return nullptr;
    }
}

}  // namespace

// Linear congruential step; the result is bits 16..30 of the new state.
extern "C" int MyRand(int32_t *seed)
{
    const uint32_t next = static_cast<uint32_t>(*seed) * 214013u + 2531011u;
    *seed = static_cast<int32_t>(next);
    return static_cast<int>((next >> 16) & 0x7FFF);
}

// The nibble routines OR the chosen pattern into the byte at the first cursor
// (high nibble when half is 5) and never move the cursors.
extern "C" void SetPtr2bit3_2(uint8_t **cursors, int level, OutputContext *ctx, int half)
{
    if (level < 0 || level > 15)
        return;
    const int col = draw_index(kCount2bit3_2[level], ctx);
    or_nibble(cursors[0], Ptr2bit3_2[level][col], half);
}

extern "C" void SetPtr4bit5_1(uint8_t **cursors, int level, OutputContext *ctx, int half)
{
    if (level < 0 || level > 4)
        return;
    const int col = draw_index(kCount4bit5_1[level], ctx);
    or_nibble(cursors[0], Ptr4bit5_1[level][col], half);
}

extern "C" void SetPtr4bit5_2(uint8_t **cursors, int level, OutputContext *ctx, int half)
{
    if (level < 0 || level > 4)
        return;
    const int col = draw_index(kCount4bit5_2[level], ctx);
    or_nibble(cursors[0], Ptr4bit5_2[level][col], half);
}

// One draw serves both planes. Without a second plane the draw still happens,
// so the dots that follow are the same as with one.
extern "C" void SetPtr44bit9_1(uint8_t **cursors, int level, OutputContext *ctx, int half)
{
    if (level < 0 || level > 8)
        return;
    const int col = draw_index(kCount44bit9_1[level], ctx);
    or_nibble(cursors[0], Ptr44bit9_1_5p[level][col], half);
    if (cursors[1] != nullptr)
        or_nibble(cursors[1], Ptr44bit9_1_2p[level][col], half);
}

extern "C" int SetPtr8bit9_1(int level, OutputContext *ctx)
{
    if (level < 0 || level > 8)
        return 0;
    return Ptr8bit9_1[level][draw_index(kCount8bit9_1[level], ctx)];
}

extern "C" int SetPtr8bit9_2(int level, OutputContext *ctx)
{
    if (level < 0 || level > 8)
        return 0;
    return Table8bit9[level][draw_index(kCount8bit9[level], ctx)];
}

// One output byte per input byte: zeroed, then the two levels ORed in. The
// second plane, when given, gets its own byte (zeros unless type 4).
extern "C" int SetPtrEqual(int16_t type, uint8_t **cursors, const uint8_t *src, int16_t count, OutputContext *ctx)
{
    if (count <= 0)
        return count;
    const NibbleRoutine expand = nibble_routine(type);
    for (int i = 0; i < count; ++i) {
        const int v = src[i];
        *cursors[0] = 0;
        if (cursors[1] != nullptr)
            *cursors[1] = 0;
        if (expand != nullptr) {
            if ((v >> 4) != 0)
                expand(cursors, v >> 4, ctx, kHighHalf);
            if ((v & 0x0F) != 0)
                expand(cursors, v & 0x0F, ctx, kHighHalf - 1);
        }
        ++cursors[0];
        if (cursors[1] != nullptr)
            ++cursors[1];
    }
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
    const ByteRoutine expand = byte_routine(type);
    for (int i = 0; i < count; ++i) {
        const int v = src[i];
        uint8_t *q = cursors[0];
        if (v != 0 && expand != nullptr) {
            if ((v >> 4) != 0)
                q[0] = static_cast<uint8_t>(expand(v >> 4, ctx));
            if ((v & 0x0F) != 0)
                q[1] = static_cast<uint8_t>(expand(v & 0x0F, ctx));
        }
        cursors[0] = q + 2;
    }
    return doubled;
}

// Expands count bytes into planes[0] (and planes[1]) through cursors of its
// own; planes keeps pointing at the buffer starts. Other types write nothing.
extern "C" int SelectRandomIndex(uint8_t **planes, const uint8_t *src, int16_t count, int16_t type,
                                 OutputContext *ctx)
{
    uint8_t *cursors[2] = {planes[0], planes[1]};
    if (type >= 1 && type <= 4)
        return static_cast<int16_t>(SetPtrEqual(type, cursors, src, count, ctx));
    if (type >= 5 && type <= 7)
        return static_cast<int16_t>(SetPtrDouble(type, cursors, src, count, ctx));
    return count;
}
