// Byte scans of the raster coders: zero scans from either end, the start of
// the next run of three equal bytes, and the end of a run. The SSE2 and AVX2
// bodies are compiled for their instruction set alone (target attributes), so
// the i386 library still loads and runs on a processor without them; the
// caller only enters them when simd_level() says the processor has them.
// Every version reads only bytes inside the range it is given.
#include "simd_scan.h"

#include <immintrin.h>

#include <bit>

#include "raster_internal.h"
#include "raster_words.h"

#define QX_SSE2 __attribute__((target("sse2")))
#define QX_AVX2 __attribute__((target("avx2")))

namespace qxraster {

namespace {

constexpr int kWord = static_cast<int>(sizeof(Word));

// ---- SSE2 helpers (also inlined into the AVX2 bodies) ----------------------

QX_SSE2 inline __m128i load16(const uint8_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }

// Bit k set when byte k of the 16 at p is non-zero.
QX_SSE2 inline uint32_t nonzero16(const uint8_t *p)
{
    return ~static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(load16(p), _mm_setzero_si128()))) & 0xFFFFu;
}

// Bit k set when p[k] == p[k + 1] == p[k + 2], k = 0..15 (reads p[0..17]).
QX_SSE2 inline uint32_t triples16(const uint8_t *p)
{
    const __m128i b = load16(p + 1);
    const __m128i same = _mm_and_si128(_mm_cmpeq_epi8(load16(p), b), _mm_cmpeq_epi8(b, load16(p + 2)));
    return static_cast<uint32_t>(_mm_movemask_epi8(same));
}

// Bit k set when p[k] != v.
QX_SSE2 inline uint32_t differ16(const uint8_t *p, __m128i pattern)
{
    return ~static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(load16(p), pattern))) & 0xFFFFu;
}

// Tail scans shared by SSE2 and AVX2: [i, end) with fewer bytes left than a
// wide step, finished with 16-byte loads, the last one overlapping bytes
// already scanned (masked off) when the range is at least 16 long.
QX_SSE2 inline int32_t first_nonzero_tail16(const uint8_t *data, int32_t lo, int32_t i, int32_t end)
{
    for (; end - i >= 16; i += 16) {
        const uint32_t m = nonzero16(data + i);
        if (m != 0)
            return i + std::countr_zero(m);
    }
    if (i == end)
        return end;
    if (end - lo >= 16) {
        const int32_t at = end - 16;
        const uint32_t m = nonzero16(data + at) & (0xFFFFu << (i - at));
        return m != 0 ? at + std::countr_zero(m) : end;
    }
    for (; i < end; ++i)
        if (data[i] != 0)
            return i;
    return end;
}

// Bytes [lo, end) unscanned; the last non-zero one, or lo - 1.
QX_SSE2 inline int32_t last_nonzero_tail16(const uint8_t *data, int32_t lo, int32_t end, int32_t hiEnd)
{
    for (; end - lo >= 16; end -= 16) {
        const uint32_t m = nonzero16(data + end - 16);
        if (m != 0)
            return end - 16 + (31 - std::countl_zero(m));
    }
    if (end == lo)
        return lo - 1;
    if (hiEnd - lo >= 16) {
        // Bytes lo..lo+15 are readable; keep those below end.
        const uint32_t m = nonzero16(data + lo) & ((1u << (end - lo)) - 1u);
        return m != 0 ? lo + (31 - std::countl_zero(m)) : lo - 1;
    }
    for (int32_t i = end - 1; i >= lo; --i)
        if (data[i] != 0)
            return i;
    return lo - 1;
}

QX_SSE2 inline int32_t next_triple_tail16(const uint8_t *src, int32_t i, int32_t n)
{
    for (; i + 18 <= n; i += 16) {
        const uint32_t m = triples16(src + i);
        if (m != 0)
            return i + std::countr_zero(m);
    }
    if (i + 2 >= n)
        return n;
    if (n >= 18) {
        const int32_t at = n - 18;
        const uint32_t m = triples16(src + at) & (0xFFFFu << (i - at));
        return m != 0 ? at + std::countr_zero(m) : n;
    }
    for (; i + 2 < n; ++i)
        if (src[i] == src[i + 1] && src[i + 1] == src[i + 2])
            return i;
    return n;
}

QX_SSE2 inline int32_t run_end_tail16(const uint8_t *src, int32_t i, int32_t n, uint8_t v)
{
    const __m128i pattern = _mm_set1_epi8(static_cast<char>(v));
    for (; i + 16 <= n; i += 16) {
        const uint32_t m = differ16(src + i, pattern);
        if (m != 0)
            return i + std::countr_zero(m);
    }
    if (i == n)
        return n;
    if (n >= 16) {
        const int32_t at = n - 16;
        const uint32_t m = differ16(src + at, pattern) & (0xFFFFu << (i - at));
        return m != 0 ? at + std::countr_zero(m) : n;
    }
    for (; i < n; ++i)
        if (src[i] != v)
            return i;
    return n;
}

// ---- AVX2 helpers -----------------------------------------------------------

QX_AVX2 inline __m256i load32(const uint8_t *p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

}  // namespace

// ---- Plain: one register word at a time ---------------------------------------

int32_t first_nonzero_plain(const uint8_t *data, int32_t lo, int32_t hi)
{
    int32_t i = lo;
    const int32_t end = hi + 1;
    // Four words per step while the line is blank, then the word that hit.
    while (end - i >= 4 * kWord) {
        const Word any = load_word(data + i) | load_word(data + i + kWord) | load_word(data + i + 2 * kWord) |
                         load_word(data + i + 3 * kWord);
        if (any != 0)
            break;
        i += 4 * kWord;
    }
    while (end - i >= kWord) {
        const Word w = load_word(data + i);
        if (w != 0)
            return i + lowest_set_byte(w);
        i += kWord;
    }
    for (; i < end; ++i)
        if (data[i] != 0)
            return i;
    return end;
}

int32_t last_nonzero_plain(const uint8_t *data, int32_t lo, int32_t hi)
{
    int32_t end = hi + 1;  // bytes lo..end-1 are still unscanned
    while (end - lo >= 4 * kWord) {
        const int32_t at = end - 4 * kWord;
        const Word any = load_word(data + at) | load_word(data + at + kWord) | load_word(data + at + 2 * kWord) |
                         load_word(data + at + 3 * kWord);
        if (any != 0)
            break;
        end = at;
    }
    while (end - lo >= kWord) {
        const Word w = load_word(data + end - kWord);
        if (w != 0)
            return end - kWord + highest_set_byte(w);
        end -= kWord;
    }
    for (int32_t i = end - 1; i >= lo; --i)
        if (data[i] != 0)
            return i;
    return lo - 1;
}

int32_t next_triple_plain(const uint8_t *src, int32_t i, int32_t n)
{
    // A word compares bytes j..j+W-1 with j+1..j+W and with j+2..j+W+1.
    while (i + kWord + 2 <= n) {
        const Word b = load_word(src + i + 1);
        const Word same = zero_bytes(load_word(src + i) ^ b) & zero_bytes(b ^ load_word(src + i + 2));
        if (same != 0)
            return i + lowest_set_byte(same);
        i += kWord;
    }
    for (; i + 2 < n; ++i)
        if (src[i] == src[i + 1] && src[i + 1] == src[i + 2])
            return i;
    return n;
}

int32_t run_end_plain(const uint8_t *src, int32_t i, int32_t n, uint8_t v)
{
    const Word pattern = broadcast(v);
    while (i + kWord <= n) {
        const Word diff = load_word(src + i) ^ pattern;
        if (diff != 0)
            return i + lowest_set_byte(diff);
        i += kWord;
    }
    while (i < n && src[i] == v)
        ++i;
    return i;
}

// ---- SSE2: 16 bytes at a time, 64 per step over blank stretches ---------------

QX_SSE2 int32_t first_nonzero_sse2(const uint8_t *data, int32_t lo, int32_t hi)
{
    int32_t i = lo;
    const int32_t end = hi + 1;
    while (end - i >= 64) {
        const __m128i any = _mm_or_si128(_mm_or_si128(load16(data + i), load16(data + i + 16)),
                                         _mm_or_si128(load16(data + i + 32), load16(data + i + 48)));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) != 0xFFFF)
            break;
        i += 64;
    }
    return first_nonzero_tail16(data, lo, i, end);
}

QX_SSE2 int32_t last_nonzero_sse2(const uint8_t *data, int32_t lo, int32_t hi)
{
    int32_t end = hi + 1;
    while (end - lo >= 64) {
        const uint8_t *p = data + end - 64;
        const __m128i any = _mm_or_si128(_mm_or_si128(load16(p), load16(p + 16)),
                                         _mm_or_si128(load16(p + 32), load16(p + 48)));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) != 0xFFFF)
            break;
        end -= 64;
    }
    return last_nonzero_tail16(data, lo, end, hi + 1);
}

QX_SSE2 int32_t next_triple_sse2(const uint8_t *src, int32_t i, int32_t n) { return next_triple_tail16(src, i, n); }

QX_SSE2 int32_t run_end_sse2(const uint8_t *src, int32_t i, int32_t n, uint8_t v)
{
    return run_end_tail16(src, i, n, v);
}

// ---- AVX2: 32 bytes at a time, 256 per step over blank stretches --------------

// Ranges of 128 bytes or more are tested 256 bytes a step (the loads ORed
// as a tree, one test a step), the last step overlapping bytes already found
// zero, so that a blank line costs one test per 256 bytes and no
// byte-by-byte tail; only the step that finds ink is looked into, 32 bytes
// at a time.
namespace {

QX_AVX2 inline __m256i or128(const uint8_t *p)
{
    return _mm256_or_si256(_mm256_or_si256(load32(p), load32(p + 32)), _mm256_or_si256(load32(p + 64), load32(p + 96)));
}

QX_AVX2 inline bool any128(const uint8_t *p)
{
    const __m256i v = or128(p);
    return _mm256_testz_si256(v, v) == 0;
}

QX_AVX2 inline bool any256(const uint8_t *p)
{
    const __m256i v = _mm256_or_si256(or128(p), or128(p + 128));
    return _mm256_testz_si256(v, v) == 0;
}

QX_AVX2 inline uint32_t nonzero32(const uint8_t *p)
{
    return ~static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(load32(p), _mm256_setzero_si256())));
}

// First non-zero byte of the 128 or 256 bytes at p, which hold one.
QX_AVX2 inline int32_t first_in(const uint8_t *p)
{
    int32_t k = 0;
    uint32_t m = nonzero32(p);
    while (m == 0) {
        k += 32;
        m = nonzero32(p + k);
    }
    return k + std::countr_zero(m);
}

// Last non-zero byte of the `span` bytes (128 or 256) at p, which hold one.
QX_AVX2 inline int32_t last_in(const uint8_t *p, int32_t span)
{
    int32_t k = span - 32;
    uint32_t m = nonzero32(p + k);
    while (m == 0) {
        k -= 32;
        m = nonzero32(p + k);
    }
    return k + 31 - std::countl_zero(m);
}

}  // namespace

QX_AVX2 int32_t first_nonzero_avx2(const uint8_t *data, int32_t lo, int32_t hi)
{
    int32_t i = lo;
    const int32_t end = hi + 1;
    if (end - i >= 128) {
        for (; end - i > 256; i += 256) {
            if (any256(data + i))
                return i + first_in(data + i);
        }
        if (end - i > 128) {
            if (any128(data + i))
                return i + first_in(data + i);
            i += 128;
        }
        const int32_t at = end - 128;  // bytes before i in this step are zero
        return any128(data + at) ? at + first_in(data + at) : end;
    }
    for (; end - i >= 32; i += 32) {
        const uint32_t m = nonzero32(data + i);
        if (m != 0)
            return i + std::countr_zero(m);
    }
    return first_nonzero_tail16(data, lo, i, end);
}

QX_AVX2 int32_t last_nonzero_avx2(const uint8_t *data, int32_t lo, int32_t hi)
{
    int32_t end = hi + 1;
    if (end - lo >= 128) {
        for (; end - lo > 256; end -= 256) {
            if (any256(data + end - 256))
                return end - 256 + last_in(data + end - 256, 256);
        }
        if (end - lo > 128) {
            if (any128(data + end - 128))
                return end - 128 + last_in(data + end - 128, 128);
            end -= 128;
        }
        // bytes from end on in this step are zero
        return any128(data + lo) ? lo + last_in(data + lo, 128) : lo - 1;
    }
    for (; end - lo >= 32; end -= 32) {
        const uint32_t m = nonzero32(data + end - 32);
        if (m != 0)
            return end - 32 + (31 - std::countl_zero(m));
    }
    return last_nonzero_tail16(data, lo, end, hi + 1);
}

QX_AVX2 int32_t next_triple_avx2(const uint8_t *src, int32_t i, int32_t n)
{
    for (; i + 34 <= n; i += 32) {
        const __m256i b = load32(src + i + 1);
        const __m256i same =
            _mm256_and_si256(_mm256_cmpeq_epi8(load32(src + i), b), _mm256_cmpeq_epi8(b, load32(src + i + 2)));
        const uint32_t m = static_cast<uint32_t>(_mm256_movemask_epi8(same));
        if (m != 0)
            return i + std::countr_zero(m);
    }
    return next_triple_tail16(src, i, n);
}

QX_AVX2 int32_t run_end_avx2(const uint8_t *src, int32_t i, int32_t n, uint8_t v)
{
    const __m256i pattern = _mm256_set1_epi8(static_cast<char>(v));
    for (; i + 32 <= n; i += 32) {
        const uint32_t m = ~static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(load32(src + i), pattern)));
        if (m != 0)
            return i + std::countr_zero(m);
    }
    return run_end_tail16(src, i, n, v);
}

// ---- Chosen per call --------------------------------------------------------------

int32_t first_nonzero(const uint8_t *data, int32_t lo, int32_t hi)
{
    return first_nonzero_at(simd_level(), data, lo, hi);
}

int32_t last_nonzero(const uint8_t *data, int32_t lo, int32_t hi)
{
    return last_nonzero_at(simd_level(), data, lo, hi);
}

}  // namespace qxraster
