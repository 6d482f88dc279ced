// Byte-data utilities: byte-order check, in-place swap,
// overlap-safe copy, fill and equality test. Word moves go through 4-byte
// memcpy so the code has no aliasing or alignment undefined behaviour; the
// compiler turns each into a single 32-bit load or store.
#include "qxdro316.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace {

// Byte-order code 0 stands for the host order, held as the constant code 2.
constexpr int32_t kNativeOrder = 2;
static_assert(std::endian::native == std::endian::little, "code 0 is fixed as little-endian");

bool aligned4(uintptr_t a) { return (a & 3u) == 0; }

}  // namespace

extern "C" {

int32_t QXVSCheckEndian(int32_t first, int32_t second) {
    if (first < 0 || first > 2) return QXDRO_ERR_ARGUMENT;
    if (first == 0) first = kNativeOrder;
    if (second < 0 || second > 2) return QXDRO_ERR_ARGUMENT;
    if (second == 0) second = kNativeOrder;
    return first != second ? 1 : 0;
}

void QXVSSwapData(void *data, int32_t unitSize, int32_t unitCount) {
    if (data == nullptr || unitCount <= 0) return;
    auto *p = static_cast<uint8_t *>(data);
    if (unitSize == 2) {
        for (int32_t i = 0; i < unitCount; ++i, p += 2) {
            const uint8_t t = p[0];
            p[0] = p[1];
            p[1] = t;
        }
    } else if (unitSize == 4) {
        for (int32_t i = 0; i < unitCount; ++i, p += 4) {
            uint8_t t = p[0];
            p[0] = p[3];
            p[3] = t;
            t = p[1];
            p[1] = p[2];
            p[2] = t;
        }
    }
}

void QXVSCopyData(const void *src, void *dst, int32_t count) {
    if (src == nullptr || dst == nullptr || src == dst || count <= 0) return;
    // A destination inside the source range is copied from the last byte
    // down, any other from the first byte up (word moves only between
    // ranges at least a word apart): each byte ends up as the source held
    // it before the copy, which is exactly what memmove guarantees.
    std::memmove(dst, src, static_cast<size_t>(count));
}

void QXVSSetData(void *dst, int value, int32_t count) {
    if (dst == nullptr || count <= 0) return;
    auto *d = static_cast<uint8_t *>(dst);
    const auto v = static_cast<uint8_t>(value);
    auto n = static_cast<size_t>(count);
    if (n <= 3) {
        for (size_t i = 0; i < n; ++i) d[i] = v;
        return;
    }
    while (!aligned4(reinterpret_cast<uintptr_t>(d))) {  // 1..3 bytes, n > 3 so they fit
        *d++ = v;
        --n;
    }
    const uint32_t w = 0x01010101u * v;
    for (; n >= 4; n -= 4, d += 4) std::memcpy(d, &w, 4);
    for (; n > 0; --n) *d++ = v;
}

int32_t QXVSCompData(const void *a, const void *b, int32_t count) {
    if (a == nullptr || b == nullptr) return QXDRO_ERR_ARGUMENT;
    const auto *p = static_cast<const uint8_t *>(a);
    const auto *q = static_cast<const uint8_t *>(b);
    for (int32_t i = 0; i < count; ++i) {
        if (p[i] != q[i]) return 0;
    }
    return 1;
}

}  // extern "C"
