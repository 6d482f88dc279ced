// Asserts: the stream decoder takes any bytes without crashing, reads only
// them, keeps what it decodes within its limits, and places a fault it
// reports inside the input.
#include <cstdint>

#include "fuzz_check.h"
#include "qx316_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    qx316::StreamLimits limits;
    limits.maxLines = 1 << 16;
    limits.maxPages = 64;
    limits.maxDecodedBytes = 1 << 22;
    limits.maxCommands = 1 << 12;
    const qx316::DecodeResult r = qx316::decodeStream(size ? data : nullptr, size, limits);
    if (!r.ok) {
        FUZZ_CHECK(r.errorOffset <= size, "fault offset %zu past %zu bytes", r.errorOffset, size);
        FUZZ_CHECK(!r.error.empty(), "fault without words");
    }
    FUZZ_CHECK(r.pages.size() <= size_t(limits.maxPages), "%zu pages", r.pages.size());
    FUZZ_CHECK(r.commands.size() <= limits.maxCommands, "%zu commands listed", r.commands.size());
    FUZZ_CHECK(r.commandCount >= r.commands.size(), "command count");
    int64_t kept = 0;
    for (const qx316::DecodedPage &p : r.pages)
        for (const qx316::DecodedPlane &pl : p.planes)
            for (const auto &[line, row] : pl.rows) {
                FUZZ_CHECK(line >= 0 && line < limits.maxLines, "line %lld", (long long)line);
                kept += int64_t(row.size());
            }
    FUZZ_CHECK(kept <= limits.maxDecodedBytes, "%lld decoded bytes kept", (long long)kept);
    return 0;
}
