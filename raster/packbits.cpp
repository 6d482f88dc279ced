// PackBits coding of one raster line, the zero runs of its blank left margin,
// and the length field of the raster-line command that collects the lines.
//
// Item stream: control byte c (signed) then data. c = 0..127: c + 1 literal
// bytes follow; c = -127..-1: the next byte repeats 1 - c times. 0x80 is never
// written, so the line writer can use it as the end-of-line mark.
#include <cstdint>
#include <cstring>

#include "qxdro316_inner.h"
#include "raster_internal.h"
#include "raster_words.h"
#include "simd_scan.h"

namespace qxraster {
namespace {

constexpr int kMaxRepeat = 128;
constexpr uint8_t kRepeat128 = 0x81;
constexpr uint8_t kLiteralFull = 0x7F;  // control byte of a 128-byte literal
constexpr uint8_t kPairJoins = 124;     // a pair joins an open literal up to this control byte

template <int Level>
inline int32_t next_triple(const uint8_t *src, int32_t i, int32_t n)
{
    if constexpr (Level == kAvx2)
        return next_triple_avx2(src, i, n);
    else if constexpr (Level == kSse2)
        return next_triple_sse2(src, i, n);
    else
        return next_triple_plain(src, i, n);
}

template <int Level>
inline int32_t run_end(const uint8_t *src, int32_t i, int32_t n, uint8_t v)
{
    if constexpr (Level == kAvx2)
        return run_end_avx2(src, i, n, v);
    else if constexpr (Level == kSse2)
        return run_end_sse2(src, i, n, v);
    else
        return run_end_plain(src, i, n, v);
}

constexpr int kWord = static_cast<int>(sizeof(Word));

// Runs on text rows are mostly short: one register word settles most of them
// inline before the vector scan is called.
template <int Level>
inline int32_t find_triple(const uint8_t *src, int32_t i, int32_t n)
{
    if (i + kWord + 2 > n)
        return next_triple<Level>(src, i, n);
    const Word b = load_word(src + i + 1);
    const Word same = zero_bytes(load_word(src + i) ^ b) & zero_bytes(b ^ load_word(src + i + 2));
    if (same != 0)
        return i + lowest_set_byte(same);
    return next_triple<Level>(src, i + kWord, n);
}

template <int Level>
inline int32_t find_run_end(const uint8_t *src, int32_t i, int32_t n, uint8_t v)
{
    if (i + kWord > n)
        return run_end<Level>(src, i, n, v);
    const Word diff = load_word(src + i) ^ broadcast(v);
    if (diff != 0)
        return i + lowest_set_byte(diff);
    return run_end<Level>(src, i + kWord, n, v);
}

// The coder works run by run. Bytes before the next run of three or more
// (found a vector at a time) come in runs of one or two; while the open
// literal has room for them all they join it in one copy, and only near a
// literal's end are they taken one run at a time.
// Precondition: 1 <= n <= 32767, dst has packbits_bound(n) bytes.
template <int Level>
int pack_core(uint8_t *dst, const uint8_t *src, int n)
{
    uint8_t *out = dst;
    uint8_t *const outEnd = dst + packbits_bound(n);
    const int wordsEnd = n - 2 * kWord;  // the last position two word copies can read from
    uint8_t *lit = nullptr;  // control byte of the open literal, if any
    int i = 0;               // always the first byte of a run
    int triple = -1;         // next run of 3 or more at or after i (n: none); stale while < i
    while (i < n) {
        if (triple < i)
            triple = find_triple<Level>(src, i, n);
        if (i == triple) {
            // A run of 3 or more ends the literal.
            const uint8_t v = src[i];
            int r = find_run_end<Level>(src, i + 3, n, v) - i;
            i += r;
            lit = nullptr;
            while (r > kMaxRepeat) {
                *out++ = kRepeat128;
                *out++ = v;
                r -= kMaxRepeat;
            }
            if (r == 1) {
                lit = out;
                *out++ = 0x00;
            } else {
                *out++ = static_cast<uint8_t>(1 - r);
            }
            *out++ = v;
            continue;
        }
        // Runs of one or two bytes up to `triple`. Without an open literal a
        // pair is a repeat of 2 and a single opens a literal, which then
        // takes in what follows at once.
        if (lit == nullptr) {
            const uint8_t v = src[i];
            if (i + 1 < triple && src[i + 1] == v) {
                *out++ = 0xFF;  // a repeat of 2
                *out++ = v;
                i += 2;
                continue;
            }
            lit = out;
            *out++ = 0x00;
            *out++ = v;
            i += 1;
            if (i == triple)
                continue;
        }
        if (*lit <= kPairJoins) {
            // Every pair that starts while the control byte is <= 124 joins, and
            // no single fills the literal before it reaches 126: take them all
            // up to control byte 125, plus the second byte of a pair cut there.
            int take = triple - i;
            const int room = kPairJoins + 1 - *lit;
            if (take > room) {
                take = room;
                if (src[i + take - 1] == src[i + take])
                    ++take;
            }
            if (take <= 2 * kWord && i <= wordsEnd && out + 2 * kWord <= outEnd) {
                // Short literal pieces: two word copies; the bytes past `take`
                // are rewritten by the items that follow.
                store_word(out, load_word(src + i));
                store_word(out + kWord, load_word(src + i + kWord));
            } else {
                std::memcpy(out, src + i, static_cast<size_t>(take));
            }
            out += take;
            *lit = static_cast<uint8_t>(*lit + take);
            i += take;
            continue;
        }
        // Control byte 125 or 126: a single fills the literal on the way to
        // 127 (then it closes); a pair starts a new literal.
        const uint8_t v = src[i];
        if (!(i + 1 < triple && src[i + 1] == v)) {
            *lit = static_cast<uint8_t>(*lit + 1);
            if (*lit == kLiteralFull)
                lit = nullptr;
            *out++ = v;
            i += 1;
        } else {
            lit = out;
            *out++ = 0x01;
            *out++ = v;
            *out++ = v;
            i += 2;
        }
    }
    return static_cast<int>(out - dst);
}

}  // namespace

int pack_line_at(int level, uint8_t *dst, const uint8_t *src, int n)
{
    if (level >= kAvx2)
        return pack_core<kAvx2>(dst, src, n);
    if (level == kSse2)
        return pack_core<kSse2>(dst, src, n);
    return pack_core<kPlain>(dst, src, n);
}

int pack_line(uint8_t *dst, const uint8_t *src, int n) { return pack_line_at(simd_level(), dst, src, n); }

int pack_zero_run(uint8_t *dst, int n)
{
    uint8_t *out = dst;
    while (n > kMaxRepeat) {
        *out++ = kRepeat128;
        *out++ = 0x00;
        n -= kMaxRepeat;
    }
    *out++ = static_cast<uint8_t>(1 - n);
    *out++ = 0x00;
    return static_cast<int>(out - dst);
}

}  // namespace qxraster

// Never reads past src + count, never writes past dst + packbits_bound(count).
// The result is the true output length (at most 33028), never a negative wrap.
extern "C" int packbits(uint8_t *dst, const uint8_t *src, int count)
{
    const int n = static_cast<int16_t>(count);
    if (n <= 0)
        return 0;
    return qxraster::pack_line(dst, src, n);
}

// n (1..32767) zero bytes as 128-byte repeats, then the rest: a repeat, or a
// one-byte literal 00 00 when one byte is left. Reads nothing. A count of 0 or
// less (after the 16-bit cut) stands for no bytes and writes nothing.
extern "C" int LeftPack(uint8_t *dst, int n)
{
    const int left = static_cast<int16_t>(n);
    if (left <= 0)
        return 0;
    return qxraster::pack_zero_run(dst, left);
}

// The raster-line command's byte count, modulo 2^16 as its field holds it.
extern "C" void addlength(int amount, uint8_t *header) { qxraster::add_line_length(header, amount); }
