// Byte scans of the raster coders, one version per vector level (plain words,
// SSE2, AVX2). Callers pick the level once per line (simd_level()); each
// function is a direct call, never through a pointer.
#pragma once

#include <cstdint>

namespace qxraster {

// first_nonzero / last_nonzero per level (contracts in raster_internal.h).
int32_t first_nonzero_plain(const uint8_t *data, int32_t lo, int32_t hi);
int32_t last_nonzero_plain(const uint8_t *data, int32_t lo, int32_t hi);
int32_t first_nonzero_sse2(const uint8_t *data, int32_t lo, int32_t hi);
int32_t last_nonzero_sse2(const uint8_t *data, int32_t lo, int32_t hi);
int32_t first_nonzero_avx2(const uint8_t *data, int32_t lo, int32_t hi);
int32_t last_nonzero_avx2(const uint8_t *data, int32_t lo, int32_t hi);

// First j in [i, n - 3] with src[j] == src[j + 1] == src[j + 2], or n.
// Precondition: 0 <= i <= n, src[0..n) readable.
int32_t next_triple_plain(const uint8_t *src, int32_t i, int32_t n);
int32_t next_triple_sse2(const uint8_t *src, int32_t i, int32_t n);
int32_t next_triple_avx2(const uint8_t *src, int32_t i, int32_t n);

// First k in [i, n) with src[k] != v, or n. Precondition: 0 <= i <= n.
int32_t run_end_plain(const uint8_t *src, int32_t i, int32_t n, uint8_t v);
int32_t run_end_sse2(const uint8_t *src, int32_t i, int32_t n, uint8_t v);
int32_t run_end_avx2(const uint8_t *src, int32_t i, int32_t n, uint8_t v);

}  // namespace qxraster
