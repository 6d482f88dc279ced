// The raster coders for callers inside the library: plain values in, no job
// record, no exported entry point in between. The exported routines of
// qxdro316_inner.h are thin wrappers over these.
//
// Vector code: the zero scans and the PackBits run finder come in a plain
// version (any i686), an SSE2 one and an AVX2 one. simd_level() picks the
// best the processor runs; the *_at(level, ...) forms take the level
// explicitly so that tests can hold every version against the plain one.
#pragma once

#include <cstdint>

#include "line_command.h"
#include "pattern_types.h"
#include "simd_scan.h"

namespace qxraster {

enum SimdLevel : int { kPlain = 0, kSse2 = 1, kAvx2 = 2 };

// The best level this processor and OS run. No state of its own: it reads
// what the runtime's processor probe, a constructor run when the library is
// loaded, found.
inline int simd_level()
{
    if (__builtin_cpu_supports("avx2"))
        return kAvx2;
    if (__builtin_cpu_supports("sse2"))
        return kSse2;
    return kPlain;
}

// First non-zero byte of data[lo..hi], or hi + 1 when there is none.
// Precondition: data[lo..hi] readable when lo <= hi.
int32_t first_nonzero(const uint8_t *data, int32_t lo, int32_t hi);
inline int32_t first_nonzero_at(int level, const uint8_t *data, int32_t lo, int32_t hi)
{
    if (level >= kAvx2)
        return first_nonzero_avx2(data, lo, hi);
    return level == kSse2 ? first_nonzero_sse2(data, lo, hi) : first_nonzero_plain(data, lo, hi);
}

// Last non-zero byte of data[lo..hi], or lo - 1 when there is none.
// Precondition: data[lo..hi] readable when lo <= hi.
int32_t last_nonzero(const uint8_t *data, int32_t lo, int32_t hi);
inline int32_t last_nonzero_at(int level, const uint8_t *data, int32_t lo, int32_t hi)
{
    if (level >= kAvx2)
        return last_nonzero_avx2(data, lo, hi);
    return level == kSse2 ? last_nonzero_sse2(data, lo, hi) : last_nonzero_plain(data, lo, hi);
}

// The rest of line_ink_span once the first non-zero byte i of the printable
// bytes lo..hi is known.
int line_ink_edges(const uint8_t *data, int32_t width, int32_t leftOffset, int32_t rightMargin, int pixelShift,
                   int32_t lo, int32_t hi, int32_t i, int32_t *left, int32_t *right);

// The blank-edge verdict of one plane line in a single pass over its bytes:
// 1 blank, 0 inked, -1 bad span; *left, *right as isNullColor gives them.
// pixelShift is 0..3; the line holds the bytes up to (width - rightMargin - 1)
// >> pixelShift. A blank line costs the zero scan and no more.
inline int line_ink_span(const uint8_t *data, int32_t width, int32_t leftOffset, int32_t rightMargin, int pixelShift,
                         int32_t *left, int32_t *right)
{
    const int32_t lo = leftOffset >> pixelShift;
    const int32_t hi = (width - rightMargin - 1) >> pixelShift;
    const int32_t i = hi < lo ? hi + 1 : first_nonzero_at(simd_level(), data, lo, hi);
    if (i > hi) {
        *left = 0;
        *right = 0;
        return 1;
    }
    return line_ink_edges(data, width, leftOffset, rightMargin, pixelShift, lo, hi, i, left, right);
}

// PackBits item stream of src[0..n), the same bytes packbits writes.
// Precondition: 1 <= n <= 32767, dst has packbits_bound(n) bytes.
int pack_line(uint8_t *dst, const uint8_t *src, int n);
int pack_line_at(int level, uint8_t *dst, const uint8_t *src, int n);

// n zero bytes as repeat items, as LeftPack writes them. Precondition: n >= 1.
int pack_zero_run(uint8_t *dst, int n);

// The generator behind MyRand: one step of the job's seed, result 0..32767.
inline int rand_step(int32_t *seed)
{
    const uint32_t next = static_cast<uint32_t>(*seed) * 214013u + 2531011u;
    *seed = static_cast<int32_t>(next);
    return static_cast<int>((next >> 16) & 0x7FFF);
}

// Dot expansion of count levels bytes into out0 (and out1 when not null), as
// SelectRandomIndex does for pattern type `type`, drawing from *seed.
// Returns the bytes to code per plane (count for types 1..4, 2 * count for
// 5..7, count and nothing written otherwise), cut to 16 bits.
// Precondition: 1 <= count <= 32767; out0/out1 hold count (types 1..4) or
// 2 * count (types 5..7, zero-filled by the caller) bytes.
int expand_levels(int type, uint8_t *out0, uint8_t *out1, const uint8_t *src, int count, int32_t *seed);

// Dot tables in the form the expanders use, made from the exported tables at
// compile time. Per level: the draw's scale, 0 when the level has one
// candidate or none (no draw), else ceil(2^32 / (32767 / k + 1)) for k
// candidates, so that (rand * scale) >> 32 == rand / (32767 / k + 1) for every
// rand in 0..32767; then the candidates, 0 past them and for levels beyond
// the table.
struct NibbleDraws {
    uint32_t scale[16];
    uint8_t pattern[2][16][8];  // [plane][level][column]; plane 1 only for type 4
};
struct ByteDraws {
    uint32_t scale[16];
    uint8_t pattern[16][72];  // [level][column]
};
extern const NibbleDraws kNibbleDraws[4];  // pattern types 1, 2, 3, 4
extern const ByteDraws kByteDraws[2];      // Ptr8bit9_1 (types 5, 7), Table8bit9 (type 6)

}  // namespace qxraster
