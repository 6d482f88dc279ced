// A plain model of the dot patterns for every test program: each pattern
// type's candidate patterns per level in the order a draw indexes them, the
// job's generator, and a whole line's expansion. Written from the pattern
// rules, without the library's tables or expanders, so that tests can hold
// both up against it. Header-only and free of the library's headers.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qxref {

using DotList = std::vector<int>;

// Types 5 to 7 give two output bytes per input byte, types 1 to 4 one.
inline bool dot_doubled(int type) { return type >= 5 && type <= 7; }

inline int dot_bits(int v) { return std::popcount(static_cast<unsigned>(v)); }

// Type 1: a level is two 2-bit values, each giving 00 (0), 10 (2), or 01 or
// 11 (1); a level holding the value 3 gives no dots. Left value varies slowest.
inline DotList dot_candidates_type1(int level)
{
    const int a = level >> 2, b = level & 3;
    if (a == 3 || b == 3)
        return {0};
    auto choices = [](int x) { return x == 0 ? DotList{0} : x == 2 ? DotList{2} : DotList{1, 3}; };
    DotList out;
    for (int ca : choices(a))
        for (int cb : choices(b))
            out.push_back(ca << 2 | cb);
    return out;
}

// Types 2 and 3: one 4-bit pixel of level 0 to 4.
inline DotList dot_candidates_type2(int level)
{
    static const DotList rows[5] = {{0x0}, {0x8, 0x4}, {0xC}, {0x7, 0xB, 0xD, 0xE}, {0xF}};
    return level >= 0 && level <= 4 ? rows[level] : DotList{};
}

inline DotList dot_candidates_type3(int level)
{
    static const DotList rows[5] = {
        {0x0}, {0x1, 0x2, 0x4, 0x8}, {0xC, 0x5, 0x6, 0x9, 0xA, 0x3}, {0x7, 0xB, 0xD, 0xE}, {0xF}};
    return level >= 0 && level <= 4 ? rows[level] : DotList{};
}

// Type 4: one draw picks the same column for both planes. The second plane
// takes one dot for odd levels, two for even ones; the first plane takes
// none, one, two or three dots as the level passes 2, 4 and 6.
inline DotList dot_candidates_type4(int level, int plane)
{
    const DotList none = {0, 0, 0}, one = {0x8, 0x4, 0x2}, two = {0xC, 0xA, 0x6}, three = {0xE, 0xE, 0xE};
    if (level == 0)
        return {0};
    if (level < 0 || level > 8)
        return {};
    if (plane == 1)
        return level % 2 == 1 ? one : two;
    return level <= 2 ? none : level <= 4 ? one : level <= 6 ? two : three;
}

// Types 5 and 7: L dots, min(L, 4) in the high nibble and the rest in the
// low one; the varying nibble runs through its choices in decreasing order.
inline DotList dot_candidates_type5(int level)
{
    if (level < 0 || level > 8)
        return {};
    const int want = level > 4 ? level - 4 : level;
    DotList out;
    for (int nib = 15; nib >= 0; --nib)
        if (dot_bits(nib) == want)
            out.push_back(level > 4 ? 0xF0 | nib : nib << 4);
    return out;
}

// Type 6: every byte with L dots, in increasing order.
inline DotList dot_candidates_type6(int level)
{
    DotList out;
    for (int v = 0; v < 256 && level >= 0 && level <= 8; ++v)
        if (dot_bits(v) == level)
            out.push_back(v);
    return out;
}

// The candidates of a level (plane 1: type 4's second plane); empty for a
// level beyond its type's table, which gives no dots and draws nothing.
inline DotList dot_candidates(int type, int level, int plane = 0)
{
    switch (type) {
    case 1: return level >= 0 && level <= 15 ? dot_candidates_type1(level) : DotList{};
    case 2: return dot_candidates_type2(level);
    case 3: return dot_candidates_type3(level);
    case 4: return dot_candidates_type4(level, plane);
    case 5:
    case 7: return dot_candidates_type5(level);
    case 6: return dot_candidates_type6(level);
    default: return {};
    }
}

// Whether `pattern` may stand for `level`: a candidate, or 0 beyond the table.
inline bool dot_is_candidate(int type, int level, int pattern, int plane = 0)
{
    const DotList c = dot_candidates(type, level, plane);
    if (c.empty())
        return pattern == 0;
    for (int v : c)
        if (v == pattern)
            return true;
    return false;
}

// Type 4 on two planes: both patterns from one column.
inline bool dot_pair_is_candidate(int level, int first, int second)
{
    const DotList a = dot_candidates(4, level, 0), b = dot_candidates(4, level, 1);
    if (a.empty())
        return first == 0 && second == 0;
    for (size_t c = 0; c < a.size(); ++c)
        if (a[c] == first && b[c] == second)
            return true;
    return false;
}

// The job's generator: one step of the state, bits 16 to 30 of the new state.
inline int dot_rand(int32_t *seed)
{
    *seed = static_cast<int32_t>(static_cast<uint32_t>(*seed) * 214013u + 2531011u);
    return (*seed >> 16) & 0x7FFF;
}

// Column for a level with k candidates: a draw only when there is a choice.
inline int dot_index(int k, int32_t *seed) { return k > 1 ? dot_rand(seed) / (32767 / k + 1) : 0; }

struct DotLine {
    std::vector<uint8_t> first;   // src.size() bytes, or twice that for types 5 to 7
    std::vector<uint8_t> second;  // src.size() bytes: type 4's second plane, zeros otherwise
    int draws = 0;
};

// Expands one line of a type 1 to 7 into zero-filled planes, drawing from *seed.
inline DotLine dot_expand(int type, const std::vector<uint8_t> &src, int32_t *seed)
{
    DotLine out;
    out.first.assign(dot_doubled(type) ? 2 * src.size() : src.size(), 0);
    out.second.assign(src.size(), 0);
    for (size_t i = 0; i < src.size(); ++i) {
        for (int half = 0; half < 2; ++half) {
            const int level = half == 0 ? src[i] >> 4 : src[i] & 0x0F;
            const DotList c = dot_candidates(type, level);
            if (level == 0 || c.empty())
                continue;
            const int32_t before = *seed;
            const size_t col = static_cast<size_t>(dot_index(static_cast<int>(c.size()), seed));
            out.draws += *seed != before;
            if (dot_doubled(type)) {
                out.first[2 * i + static_cast<size_t>(half)] = static_cast<uint8_t>(c[col]);
                continue;
            }
            const int shift = half == 0 ? 4 : 0;
            out.first[i] = static_cast<uint8_t>(out.first[i] | c[col] << shift);
            if (type == 4)
                out.second[i] = static_cast<uint8_t>(out.second[i] | dot_candidates(4, level, 1)[col] << shift);
        }
    }
    return out;
}

}  // namespace qxref
