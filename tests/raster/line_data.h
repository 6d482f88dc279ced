// Input lines for the raster tests: repeated and counting bytes, joins, and a
// small deterministic generator. Hex text comes from the shared hex.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "hex.h"

namespace qxtest {

inline std::vector<uint8_t> repeat(size_t n, uint8_t v) { return std::vector<uint8_t>(n, v); }

inline std::vector<uint8_t> counting(size_t n, uint8_t from = 0)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(from + i);
    return v;
}

inline std::vector<uint8_t> concat(std::vector<uint8_t> a, const std::vector<uint8_t> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Small deterministic generator for test data (not the library's).
struct Lcg {
    uint64_t state;
    explicit Lcg(uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint32_t next()
    {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(state >> 33);
    }
    int below(int n) { return static_cast<int>(next() % static_cast<uint32_t>(n)); }
};

}  // namespace qxtest
