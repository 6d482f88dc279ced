// Byte strings as hex text for every test program, so a failed comparison
// shows both sides as "1B 28 46 ..." and a long stream the bytes around its
// first difference. Header-only: programs that do not link the test-support
// objects use it too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qxtest {

// n bytes from p: two upper-case digits each, one space between.
inline std::string hex(const uint8_t *p, size_t n)
{
    std::string s;
    char buf[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", p[i]);
        s += buf;
    }
    return s;
}

inline std::string hex(const std::vector<uint8_t> &v) { return hex(v.data(), v.size()); }

// The first `limit` bytes of v, then " ..." and the full length when longer.
inline std::string hexHead(const std::vector<uint8_t> &v, size_t limit)
{
    if (v.size() <= limit)
        return hex(v);
    return hex(v.data(), limit) + " ... (" + std::to_string(v.size()) + " bytes)";
}

// The bytes of v around offset `at` (8 before, 16 from it on), the byte at
// `at` in brackets, or "[end]" when v stops there.
inline std::string hexAround(const std::vector<uint8_t> &v, size_t at)
{
    const size_t from = at > 8 ? at - 8 : 0;
    std::string s = from > 0 ? "..." : "";
    auto put = [&s](const std::string &t) { s += s.empty() ? t : " " + t; };
    for (size_t i = from; i < v.size() && i < at + 16; ++i)
        put(i == at ? "[" + hex(&v[i], 1) + "]" : hex(&v[i], 1));
    if (at >= v.size())
        put("[end]");
    else if (at + 16 < v.size())
        put("...");
    return s;
}

// Offset of the first byte where a and b differ; the shorter length when one
// is a prefix of the other, and that length when they are equal.
inline size_t firstDifference(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b)
{
    size_t at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at])
        ++at;
    return at;
}

// Where want and got first differ, and the bytes of each around it.
inline std::string hexDifference(const std::vector<uint8_t> &want, const std::vector<uint8_t> &got)
{
    const size_t at = firstDifference(want, got);
    return "first difference at byte " + std::to_string(at) + " (" + std::to_string(want.size()) +
           " bytes expected, " + std::to_string(got.size()) + " came)\nexpected " + hexAround(want, at) +
           "\nactual   " + hexAround(got, at);
}

// "61 62 FF" -> bytes.
inline std::vector<uint8_t> bytes(const char *text)
{
    std::vector<uint8_t> v;
    unsigned x;
    int used;
    while (std::sscanf(text, " %2x%n", &x, &used) == 1) {
        v.push_back(static_cast<uint8_t>(x));
        text += used;
    }
    return v;
}

}  // namespace qxtest
