// Word-at-a-time byte helpers shared by the raster coders. Loads go through
// memcpy, so any byte address is fine; "first" always means lowest address.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace qxraster {
namespace {

// The widest plain register of the target: 8 bytes on x86_64, 4 on i386.
using Word = std::conditional_t<sizeof(void *) >= 8, uint64_t, uint32_t>;

constexpr Word kOnes = static_cast<Word>(~Word{0}) / 0xFF;  // 0x0101...
constexpr Word kLow7 = kOnes * 0x7F;                         // 0x7F7F...

inline Word load_word(const uint8_t *p)
{
    Word w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

inline void store_word(uint8_t *p, Word w) { std::memcpy(p, &w, sizeof w); }

constexpr Word broadcast(uint8_t v) { return kOnes * v; }

// 0x80 in every byte of x that is zero, 0 in the others (exact per byte).
constexpr Word zero_bytes(Word x)
{
    const Word t = ((x & kLow7) + kLow7) | x;
    return ~(t | kLow7);
}

// Memory index of the first non-zero byte of a non-zero word.
inline int lowest_set_byte(Word w)
{
    if constexpr (std::endian::native == std::endian::little)
        return std::countr_zero(w) / 8;
    else
        return std::countl_zero(w) / 8;
}

// Memory index of the last non-zero byte of a non-zero word.
inline int highest_set_byte(Word w)
{
    if constexpr (std::endian::native == std::endian::little)
        return static_cast<int>(sizeof(Word)) - 1 - std::countl_zero(w) / 8;
    else
        return static_cast<int>(sizeof(Word)) - 1 - std::countr_zero(w) / 8;
}

}  // namespace
}  // namespace qxraster
