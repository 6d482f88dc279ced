// Whole pages through the job calls, reported as input bytes per second
// beside a memcpy of the same raster bytes measured in the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "qxdro316_inner.h"

namespace {

constexpr int kLines = 1024;

struct Page {
    PrintParams params{};
    std::vector<std::vector<uint8_t>> planes;  // one line per plane, reused
    int16_t width[QXDRO_MAX_PLANES] = {};
    int inPlanes = 0;
};

// Lines of `bytes` bytes per plane: photo-like levels, a third of them blank.
Page makePage(int quality, int media, int bytes) {
    Page page;
    page.params.printQuality = static_cast<int16_t>(quality);
    page.params.mediaType = static_cast<int16_t>(media);
    QXVSHandle h = nullptr;
    OutputOpen(&h);
    OutputInitTwo(&h, &page.params, 316);
    OutputInitPart(&h, &page.params);
    const OutputContext *ctx = static_cast<const OutputContext *>(h);
    page.inPlanes = ctx->inPlaneCount;
    std::mt19937 rng(1);
    for (int p = 0; p < page.inPlanes; ++p) {
        std::vector<uint8_t> line(bytes);
        const bool levels = ctx->planes[p].tglType != 0;
        for (size_t i = 0; i < line.size(); ++i) line[i] = static_cast<uint8_t>(levels ? 0x44 + (rng() % 3) * 0x11 : rng());
        page.planes.push_back(line);
        page.width[p] = static_cast<int16_t>(bytes << ctx->planes[p].pixelShift);
    }
    OutputClose(&h);
    return page;
}

void printPage(const Page &page, size_t *outBytes) {
    QXVSHandle h = nullptr, list = nullptr;
    OutputOpen(&h);
    OutputInitTwo(&h, &page.params, 316);
    OutputInitPart(&h, &page.params);
    RasterLineRecord rec{};
    for (int y = 0; y < kLines; ++y) {
        rec.lineNumber = y;
        for (int p = 0; p < page.inPlanes; ++p) {
            rec.planes[p].data = y % 3 == 2 ? nullptr : page.planes[p].data();
            rec.planes[p].width = page.width[p];
        }
        OutputProduceTwo(&h, &rec, &list);
        const OutputList *l = static_cast<const OutputList *>(list);
        for (int i = 0; i < l->count; ++i) *outBytes += l->items[i].length;
        OutputComplete(&h);
    }
    OutputFlush(&h, &list);
    OutputComplete(&h);
    OutputClose(&h);
}

int64_t inputBytes(const Page &page) {
    int64_t n = 0;
    for (const auto &p : page.planes) n += static_cast<int64_t>(p.size());
    return n * kLines;
}

void BM_JobPage(benchmark::State &state, int quality, int media) {
    const Page page = makePage(quality, media, 600);
    size_t out = 0;
    for (auto _ : state) printPage(page, &out);
    benchmark::DoNotOptimize(out);
    state.SetBytesProcessed(state.iterations() * inputBytes(page));
}

void BM_MemcpyPage(benchmark::State &state) {
    const Page page = makePage(5, 0, 600);
    std::vector<uint8_t> dst(600);
    for (auto _ : state) {
        for (int y = 0; y < kLines; ++y)
            for (const auto &p : page.planes) std::memcpy(dst.data(), p.data(), p.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * inputBytes(page));
}

BENCHMARK(BM_MemcpyPage);
BENCHMARK_CAPTURE(BM_JobPage, mode9_patterns, 5, 0);
BENCHMARK_CAPTURE(BM_JobPage, mode5_1bit, 3, 0);

}  // namespace
