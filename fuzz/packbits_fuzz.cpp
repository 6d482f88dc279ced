// PackBits round trip: the coded line decodes to the input, fits the bound,
// never starts an item with 0x80, and equals the plain reference coder's.
// The first byte also drives a left-skip run of zeros.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_check.h"
#include "qxdro316_inner.h"
#include "raster_reference.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const int count = static_cast<int>(size > 32767 ? 32767 : size);
    const size_t bound = qxref::packbits_bound(count);
    // Exactly the promised room, so a write past it is a heap overflow.
    uint8_t *out = static_cast<uint8_t *>(std::malloc(bound > 0 ? bound : 1));
    uint8_t *src = static_cast<uint8_t *>(std::malloc(count > 0 ? static_cast<size_t>(count) : 1));
    if (count > 0)
        std::memcpy(src, data, static_cast<size_t>(count));

    const int n = packbits(out, src, count);
    FUZZ_CHECK(n >= 0 && static_cast<size_t>(n) <= bound, "length %d, bound %zu, count %d", n, bound, count);
    const qxref::Decoded d = qxref::packbits_decode(out, static_cast<size_t>(n));
    FUZZ_CHECK(d.ok, "stream of %d bytes is not a clean item sequence", n);
    FUZZ_CHECK(d.bytes.size() == static_cast<size_t>(count) &&
                   (count == 0 || std::memcmp(d.bytes.data(), src, static_cast<size_t>(count)) == 0),
               "decoded %zu bytes differ from the %d input bytes", d.bytes.size(), count);
    const std::vector<uint8_t> ref = qxref::packbits_reference(src, count);
    FUZZ_CHECK(ref.size() == static_cast<size_t>(n) && (n == 0 || std::memcmp(ref.data(), out, ref.size()) == 0),
               "coder differs from the reference (%d vs %zu bytes)", n, ref.size());
    std::free(out);
    std::free(src);

    if (size >= 2) {
        const int zeros = 1 + ((data[0] << 8 | data[1]) & 0x7FFF) % 32767;
        const size_t room = 2 * static_cast<size_t>((zeros + 127) / 128);
        uint8_t *skip = static_cast<uint8_t *>(std::malloc(room));
        const int k = LeftPack(skip, zeros);
        FUZZ_CHECK(static_cast<size_t>(k) == room, "LeftPack(%d) wrote %d bytes", zeros, k);
        const qxref::Decoded z = qxref::packbits_decode(skip, room);
        FUZZ_CHECK(z.ok && z.bytes.size() == static_cast<size_t>(zeros), "LeftPack(%d) decodes to %zu bytes", zeros,
                   z.bytes.size());
        for (uint8_t b : z.bytes)
            FUZZ_CHECK(b == 0, "LeftPack(%d) decodes to a non-zero byte", zeros);
        std::free(skip);
    }
    return 0;
}
