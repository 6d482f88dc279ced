// Asserts: the PNG and PNM readers take any bytes without crashing, and a
// page they accept has the size it claims and no more pixels than its bytes
// can hold, so memory follows the data actually present.
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "fuzz_params.h"
#include "image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    TailParams params(data, size);
    // A mode's width limit now and then, as qx316 print passes it.
    const uint8_t pick = params.byte();
    const int maxWidth = pick & 1 ? 1 + pick * 20 : qx316::kMaxImageWidth;
    const size_t n = pick & 1 ? params.payloadSize() : size;
    qx316::Image img;
    std::string err;
    const bool ok = qx316::readImage(data, n, img, err, maxWidth);
    if (!ok) {
        FUZZ_CHECK(!err.empty(), "refusal without words");
        return 0;
    }
    FUZZ_CHECK(img.width >= 1 && img.width <= maxWidth && img.height >= 1, "size %d x %d", img.width, img.height);
    FUZZ_CHECK(img.channels == 1 || img.channels == 3, "%d channels", img.channels);
    const uint64_t pixels = uint64_t(img.width) * uint64_t(img.height);
    FUZZ_CHECK(img.pixels.size() == pixels * uint64_t(img.channels), "%zu samples", img.pixels.size());
    // PNM: at least one bit a pixel; PNG: deflate expands at most about 1032
    // times, and a 1-bit pixel becomes at most 3 bytes.
    FUZZ_CHECK(pixels <= uint64_t(n) * 8 * 1032 + 1024 * 1032 * 8, "%llu pixels from %zu bytes",
               (unsigned long long)pixels, n);
    return 0;
}
