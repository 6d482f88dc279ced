// Whole jobs driven by fuzz bytes: print parameters, raster lines of any
// shape (inside the caller's contract: every byte the descriptor names
// exists), and call sequences in and out of order. Every call must return
// one of its codes, and the chunks handed out must always form a stream the
// printer-side decoder accepts.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "qx316_stream.h"
#include "qxdro316_inner.h"

namespace {

class Reader {
public:
    Reader(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    bool done() const { return pos_ >= size_; }
    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    int16_t i16() { return static_cast<int16_t>(byte() | byte() << 8); }

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

constexpr int kQuality[] = {0, 5, 10, 15, 3};
constexpr int kMedia[] = {0, 1, 7, 16, 18, 26, 29, 50, 3};

// Supported combinations (quality, media, head, colour mode, composite), one
// per reachable plane mode and pattern type, so most inputs print.
constexpr int kSupported[][5] = {
    {5, 0, 0, 0, 0}, {5, 0, 1, 0, 0}, {10, 16, 0, 0, 0}, {10, 0, 0, 0, 0}, {10, 1, 0, 0, 0}, {3, 0, 0, 0, 0},
    {10, 18, 0, 0, 0}, {10, 7, 0, 0, 1}, {5, 0, 0, 0, 1}, {5, 26, 0, 0, 0}, {0, 26, 0, 0, 0}, {5, 0, 0, 1, 0},
};

struct Job {
    QXVSHandle h = nullptr;
    std::vector<uint8_t> stream;
    int32_t nextLine = 0;
    std::vector<std::vector<uint8_t>> planeData;

    void send(QXVSHandle list) {
        const OutputList *l = static_cast<const OutputList *>(list);
        FUZZ_CHECK(l->count >= 0 && l->count <= QXDRO_LIST_ITEMS, "list count %d", l->count);
        for (int i = 0; i < l->count; ++i)
            stream.insert(stream.end(), l->items[i].data, l->items[i].data + l->items[i].length);
    }
};

bool oneOf(int r, std::initializer_list<int> codes) {
    for (int c : codes)
        if (r == c) return true;
    return false;
}

void produceLine(Job &job, Reader &in) {
    const OutputContext *ctx = static_cast<const OutputContext *>(job.h);
    RasterLineRecord rec{};
    const uint8_t step = in.byte();
    rec.lineNumber = step == 0xFF ? job.nextLine - 1 : job.nextLine + (step % 40) * (step > 0xF0 ? 997 : 1);
    job.planeData.assign(QXDRO_MAX_PLANES, {});
    for (int p = 0; p < ctx->inPlaneCount; ++p) {
        PlaneRaster &pr = rec.planes[p];
        const uint8_t shape = in.byte();
        pr.width = static_cast<int16_t>((in.byte() | (shape & 0x0F) << 8) + (shape & 0x80 ? 30000 : 0));
        pr.leftOffset = static_cast<int16_t>(shape & 0x10 ? in.byte() : 0);
        pr.rightMargin = static_cast<int16_t>(shape & 0x20 ? in.byte() : 0);
        if (shape & 0x40) continue;  // null data
        const int shift = ctx->planes[p].pixelShift;
        const int lastByte = (pr.width - pr.rightMargin - 1) >> shift;
        std::vector<uint8_t> &bytes = job.planeData[p];
        bytes.assign(lastByte >= 0 ? lastByte + 1 : 1, 0);
        const uint8_t fill = in.byte();
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = (i * 7 + fill) % 5 == 0 ? fill : in.byte();
        pr.data = bytes.data();
    }
    QXVSHandle list = nullptr;
    const int r = OutputProduceTwo(&job.h, &rec, &list);
    FUZZ_CHECK(oneOf(r, {0, QXDRO_ERR_ARGUMENT, QXDRO_ERR_MODE, QXDRO_ERR_STATE}), "produce gave %d", r);
    if (r != 0) return;
    job.nextLine = rec.lineNumber + 1;
    job.send(list);
    FUZZ_CHECK(OutputComplete(&job.h) == 0, "completion after a produced line");
}

void pageEnd(Job &job, bool formFeed, int32_t formLength) {
    QXVSHandle list = nullptr;
    const int r = formFeed ? OutputFormFeed(&job.h, &list, formLength) : OutputFlush(&job.h, &list);
    FUZZ_CHECK(oneOf(r, {0, QXDRO_ERR_MODE, QXDRO_ERR_STATE}), "page end gave %d", r);
    if (r != 0) return;
    job.send(list);
    FUZZ_CHECK(OutputComplete(&job.h) == 0, "completion after a page end");
    job.nextLine = 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Reader in(data, size);
    PrintParams params{};
    const uint8_t pick = in.byte();
    const uint8_t flags = in.byte();
    if (pick % 8 == 0) {
        params.printQuality = static_cast<int16_t>(kQuality[(pick / 8) % 5]);
        params.mediaType = static_cast<int16_t>(kMedia[(pick / 40) % 9]);
        params.headCode = static_cast<int16_t>(flags & 3);
        params.colorMode = static_cast<int16_t>((flags >> 2) & 3);
        params.compositeMode = static_cast<int16_t>((flags >> 4) & 1);
    } else {
        const int *c = kSupported[pick % 12];
        params.printQuality = static_cast<int16_t>(c[0]);
        params.mediaType = static_cast<int16_t>(c[1]);
        params.headCode = static_cast<int16_t>(c[2]);
        params.colorMode = static_cast<int16_t>(c[3]);
        params.compositeMode = static_cast<int16_t>(c[4]);
    }
    params.bannerPaper = static_cast<int16_t>((flags >> 5) & 1);

    Job job;
    FUZZ_CHECK(OutputOpen(&job.h) == QXDRO_OPENED, "open");
    FUZZ_CHECK(OutputInitTwo(&job.h, &params, 316) == 0, "bind");
    const int setup = OutputInitPart(&job.h, &params);
    FUZZ_CHECK(setup == 0 || setup == QXDRO_ERR_MODE, "first setup gave %d", setup);
    for (int ops = 0; !in.done() && ops < 400; ++ops) {
        const uint8_t op = in.byte();
        switch (op % 16 < 8 ? op % 8 : 1 + op % 3) {
            case 0: {
                const int r = OutputInitPart(&job.h, &params);
                FUZZ_CHECK(oneOf(r, {0, QXDRO_ERR_MODE, QXDRO_ERR_STATE}), "setup gave %d", r);
                if (r == 0) job.nextLine = 0;
                break;
            }
            case 1:
            case 2:
            case 3: produceLine(job, in); break;
            case 4: pageEnd(job, false, 0); break;
            case 5: pageEnd(job, true, in.i16()); break;
            case 6: {  // a line-less produce and its completion
                if (OutputProduce(&job.h) == 0) FUZZ_CHECK(OutputComplete(&job.h) == 0, "completion");
                break;
            }
            default: {  // out of order: refused, nothing to send
                const int r = OutputComplete(&job.h);
                FUZZ_CHECK(r == QXDRO_ERR_STATE, "stray completion gave %d", r);
                break;
            }
        }
    }
    OutputClose(&job.h);
    FUZZ_CHECK(job.h == nullptr, "close");
    if (!job.stream.empty()) {
        qx316::StreamLimits limits;
        limits.maxLines = int64_t(1) << 31;
        const qx316::DecodeResult d = qx316::decodeStream(job.stream.data(), job.stream.size(), limits);
        FUZZ_CHECK(d.ok, "stream rejected at %zu: %s", d.errorOffset, d.error.c_str());
    }
    return 0;
}
