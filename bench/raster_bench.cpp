// Throughput of the per-line raster routines, each beside a memcpy of the
// same bytes in the same run, so the ratio to memory speed can be read off.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "qxdro316_inner.h"

namespace {

constexpr int kLine = 4800;  // bytes of one wide 4-bit plane line

enum Kind { kText, kPhoto, kRandom, kBlank, kSparse };

uint32_t next(uint64_t &s)
{
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>(s >> 33);
}

std::vector<uint8_t> make_line(int kind)
{
    std::vector<uint8_t> v(kLine, 0);
    uint64_t s = 42;
    switch (kind) {
    case kText:  // glyph strokes: short bursts of ink in long blank stretches
        for (int i = 0; i < kLine;) {
            i += 20 + static_cast<int>(next(s) % 120);
            for (int k = static_cast<int>(next(s) % 12); k > 0 && i < kLine; --k, ++i)
                v[static_cast<size_t>(i)] = (next(s) & 1) ? 0xFF : static_cast<uint8_t>(next(s));
        }
        break;
    case kPhoto: {  // smooth tone with noise: short runs, mostly literals
        int level = 0x80;
        for (auto &b : v) {
            level += static_cast<int>(next(s) % 7) - 3;
            level = level < 0 ? 0 : level > 255 ? 255 : level;
            b = static_cast<uint8_t>((next(s) % 4 == 0) ? level ^ 1 : level);
        }
        break;
    }
    case kRandom:
        for (auto &b : v)
            b = static_cast<uint8_t>(next(s));
        break;
    case kBlank:
        break;
    case kSparse:  // a few dots over the line
        for (int k = 0; k < 6; ++k)
            v[static_cast<size_t>(next(s) % kLine)] = 0x10;
        v[0] = v[kLine - 1] = 0;
        v[kLine / 3] = 0x01;
        break;
    }
    return v;
}

const char *kind_name(int kind)
{
    static const char *const names[] = {"text", "photo", "random", "blank", "sparse"};
    return names[kind];
}

void BM_packbits(benchmark::State &state)
{
    const std::vector<uint8_t> src = make_line(static_cast<int>(state.range(0)));
    std::vector<uint8_t> dst(kLine + 1 + (kLine - 1) / 126);
    int out = 0;
    for (auto _ : state) {
        out = packbits(dst.data(), src.data(), kLine);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kLine);
    state.SetLabel(std::string(kind_name(static_cast<int>(state.range(0)))) + ", coded " + std::to_string(out) + " B");
}

void BM_isNullColor(benchmark::State &state)
{
    const std::vector<uint8_t> src = make_line(static_cast<int>(state.range(0)));
    PlaneRaster r{};
    r.data = src.data();
    r.width = static_cast<int16_t>(kLine * 2);  // 4 bits per pixel
    r.leftOffset = 3;
    r.rightMargin = 5;
    for (auto _ : state) {
        int32_t left, right;
        benchmark::DoNotOptimize(isNullColor(&r, 1, &left, &right));
        benchmark::DoNotOptimize(left);
        benchmark::DoNotOptimize(right);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kLine);
    state.SetLabel(kind_name(static_cast<int>(state.range(0))));
}

void BM_memcpy(benchmark::State &state)
{
    const std::vector<uint8_t> src = make_line(static_cast<int>(state.range(0)));
    std::vector<uint8_t> dst(kLine);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), kLine);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kLine);
    state.SetLabel(kind_name(static_cast<int>(state.range(0))));
}

}  // namespace

BENCHMARK(BM_memcpy)->Arg(kText);
BENCHMARK(BM_packbits)->Arg(kText)->Arg(kPhoto)->Arg(kRandom);
BENCHMARK(BM_isNullColor)->Arg(kBlank)->Arg(kSparse);
BENCHMARK(BM_memcpy)->Arg(kBlank);
