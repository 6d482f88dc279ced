// Asserts: the front-end kit's push API, driven by any options, row formats,
// page shapes, placements and rows, either prints a stream the printer-side
// decoder accepts, with the pages the host completed, or refuses with a
// code and words; a cancel at any row still leaves a valid stream.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_params.h"
#include "job.h"
#include "qx316_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    TailParams in(data, size);
    qx316::PrintOptions o;
    using qx316::OptionId;
    const auto pick = [&](OptionId id) {
        const auto choices = qx316::optionInfo(id).choices;
        const uint8_t b = in.byte();
        // Mostly the table's choices, sometimes any code.
        return b < 240 ? choices[b % choices.size()].code : int(int8_t(in.byte()));
    };
    o.quality = pick(OptionId::Quality);
    o.media = pick(OptionId::Media);
    o.head = pick(OptionId::Head);
    o.colorMode = pick(OptionId::ColorMode);
    const uint8_t flags = in.byte();
    o.composite = flags & 1;
    o.banner = flags & 2;
    o.sendBlankLines = flags & 4;
    o.formLength = flags & 8 ? in.u16() % 200 : 0;
    const int pages = 1 + (flags >> 4) % 3;
    const int cancelAt = flags & 0x80 ? in.byte() : -1;

    std::vector<uint8_t> stream;
    qx316::Job job(o);
    int rc = job.begin([&](const uint8_t *d, size_t n) {
        stream.insert(stream.end(), d, d + n);
        return true;
    });
    int completed = 0;
    bool cancelled = false;
    for (int p = 0; p < pages && rc == qx316::kOk && !cancelled; ++p) {
        qx316::PageShape shape;
        shape.format = qx316::RowFormat(in.byte() % qx316::kRowFormatCount);
        shape.width = 1 + in.u16() % 700;
        shape.height = 1 + in.byte() % 48;
        shape.leftOffset = in.byte() % 4 == 0 ? in.u16() % 5000 : 0;
        shape.topOffset = in.byte() % 8;
        rc = job.beginPage(shape);
        if (rc != qx316::kOk)
            break;
        std::vector<uint8_t> row(qx316::rowBytes(shape.format, shape.width));
        size_t at = 0;
        for (int y = 0; y < shape.height && rc == qx316::kOk; ++y) {
            if (y == cancelAt) {
                FUZZ_CHECK(job.cancel() == qx316::kOk, "cancel: %s", job.error().c_str());
                cancelled = true;
                break;
            }
            // Rows from the payload, repeated; blank rows now and then.
            const uint8_t kind = in.payloadSize() ? in.payload()[at % in.payloadSize()] : 0;
            if (kind % 5 == 0) {
                rc = job.skipRows(1);
                continue;
            }
            for (size_t i = 0; i < row.size(); ++i)
                row[i] = in.payloadSize() ? in.payload()[(at + i) % in.payloadSize()] : 0;
            at += row.size();
            rc = job.writeRow(row.data(), row.size());
        }
        if (rc == qx316::kOk && !cancelled) {
            rc = job.endPage();
            completed += rc == qx316::kOk;
        }
    }
    if (rc == qx316::kOk && !cancelled)
        rc = job.end();
    if (rc != qx316::kOk) {
        FUZZ_CHECK(rc < 0 && !job.error().empty(), "refusal %d without words", rc);
        FUZZ_CHECK(rc != qx316::kErrSink && rc != qx316::kErrMemory, "%d: %s", rc, job.error().c_str());
    }
    const qx316::DecodeResult d = qx316::decodeStream(stream.data(), stream.size());
    FUZZ_CHECK(d.ok || stream.empty(), "stream rejected at %zu: %s", d.errorOffset, d.error.c_str());
    // Every completed page is a sheet, blank or not.
    if (rc == qx316::kOk && !cancelled && !o.banner)
        FUZZ_CHECK(d.pages.size() == size_t(completed), "%zu pages decoded, %d printed", d.pages.size(), completed);
    return 0;
}
