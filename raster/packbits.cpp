// PackBits coding of one raster line, the zero runs of its blank left margin,
// and the length field of the raster-line command that collects the lines.
//
// Item stream: control byte c (signed) then data. c = 0..127: c + 1 literal
// bytes follow; c = -127..-1: the next byte repeats 1 - c times. 0x80 is never
// written, so the line writer can use it as the end-of-line mark.
#include <cstdint>
#include <cstring>

#include "qxdro316_inner.h"
#include "raster_words.h"

namespace {

using qxraster::Word;
using qxraster::load_word;
using qxraster::lowest_set_byte;

constexpr int kMaxRepeat = 128;
constexpr uint8_t kRepeat128 = 0x81;
constexpr uint8_t kLiteralFull = 0x7F;  // control byte of a 128-byte literal

// Length of the run of bytes equal to src[i], at least 1, never past n.
inline int run_length(const uint8_t *src, int i, int n)
{
    const uint8_t v = src[i];
    int j = i + 1;
    // Most runs are short: settle lengths 1 and 2 a byte at a time.
    if (j >= n || src[j] != v)
        return 1;
    if (++j >= n || src[j] != v)
        return 2;
    const Word pattern = qxraster::broadcast(v);
    while (j + static_cast<int>(sizeof(Word)) <= n) {
        const Word diff = load_word(src + j) ^ pattern;
        if (diff != 0)
            return j + lowest_set_byte(diff) - i;
        j += static_cast<int>(sizeof(Word));
    }
    while (j < n && src[j] == v)
        ++j;
    return j - i;
}

// Number of consecutive one-byte runs starting at i (src[i] already differs
// from src[i - 1]): stops before the first byte equal to its successor.
inline int singles_length(const uint8_t *src, int i, int n, int limit)
{
    int j = i;
    const int stop = (n - i > limit) ? i + limit : n;
    // A word compares bytes j..j+W-1 with their successors j+1..j+W.
    while (j + static_cast<int>(sizeof(Word)) < n && j < stop) {
        const Word same = qxraster::zero_bytes(load_word(src + j) ^ load_word(src + j + 1));
        if (same != 0) {
            j += lowest_set_byte(same);
            return (j < stop ? j : stop) - i;
        }
        j += static_cast<int>(sizeof(Word));
    }
    if (j > stop)
        j = stop;
    while (j < stop && (j + 1 == n || src[j] != src[j + 1]))
        ++j;
    return j - i;
}

}  // namespace

// Never reads past src + count, never writes past dst + count + 1 + (count - 1) / 126.
// The result is the true output length (at most 33028), never a negative wrap.
extern "C" int packbits(uint8_t *dst, const uint8_t *src, int count)
{
    const int n = static_cast<int16_t>(count);
    if (n <= 0)
        return 0;

    uint8_t *out = dst;
    uint8_t *lit = nullptr;  // control byte of the open literal, if any
    int i = 0;
    while (i < n) {
        const uint8_t v = src[i];
        int r = run_length(src, i, n);

        if (lit != nullptr) {
            if (r == 1) {
                // Singles fill the open literal up to 128 bytes; take them in one copy.
                const int room = kLiteralFull - *lit;
                const int take = singles_length(src, i, n, room);
                std::memcpy(out, src + i, static_cast<size_t>(take));
                out += take;
                *lit = static_cast<uint8_t>(*lit + take);
                if (*lit == kLiteralFull)
                    lit = nullptr;
                i += take;
                continue;
            }
            if (r == 2) {
                // A pair joins a literal of up to 125 bytes; otherwise it starts
                // a new literal that stays open.
                if (*lit + 1 <= 125) {
                    *lit = static_cast<uint8_t>(*lit + 2);
                } else {
                    lit = out;
                    *out++ = 0x01;
                }
                *out++ = v;
                *out++ = v;
                i += 2;
                continue;
            }
            lit = nullptr;  // a run of 3 or more ends the literal
        }

        i += r;
        while (r > kMaxRepeat) {
            *out++ = kRepeat128;
            *out++ = v;
            r -= kMaxRepeat;
        }
        if (r == 1) {
            lit = out;
            *out++ = 0x00;
            *out++ = v;
        } else {
            *out++ = static_cast<uint8_t>(1 - r);
            *out++ = v;
        }
    }
    return static_cast<int>(out - dst);
}

// n (1..32767) zero bytes as 128-byte repeats, then the rest: a repeat, or a
// one-byte literal 00 00 when one byte is left. Reads nothing. A count of 0 or
// less (after the 16-bit cut) stands for no bytes and writes nothing.
extern "C" int LeftPack(uint8_t *dst, int n)
{
    int left = static_cast<int16_t>(n);
    if (left <= 0)
        return 0;
    uint8_t *out = dst;
    while (left > kMaxRepeat) {
        *out++ = kRepeat128;
        *out++ = 0x00;
        left -= kMaxRepeat;
    }
    *out++ = static_cast<uint8_t>(1 - left);
    *out++ = 0x00;
    return static_cast<int>(out - dst);
}

// The raster-line command keeps its byte count little-endian in bytes 3 and 4.
extern "C" void addlength(int amount, uint8_t *header)
{
    const uint32_t value = static_cast<uint32_t>(header[3]) | (static_cast<uint32_t>(header[4]) << 8);
    const uint32_t sum = (value + static_cast<uint32_t>(amount)) & 0xFFFFu;
    header[3] = static_cast<uint8_t>(sum & 0xFFu);
    header[4] = static_cast<uint8_t>(sum >> 8);
}
