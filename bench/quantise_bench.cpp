// The kit's quantiser per pixel: the ink-ladder serpentine diffusion that
// prints beside the Floyd-Steinberg baseline, on the same 8-bit CMYK photo
// rows, each round running both (the order alternating) and timing each in
// thread CPU seconds. Counter x_fs is the baseline's time over ours: 0.8
// means ours takes 1.25 times as long.
//
//   scripts/build.sh native --target quantise_bench
//   build/native/bench/quantise_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include "rows.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <vector>

namespace {

double threadSeconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

constexpr int kWidth = 4961, kRows = 64; // an A4 line at 600 dpi

// Smooth per-ink waves with a little grain, every ink somewhere between none
// and full, and a white margin on each side.
std::vector<std::vector<uint8_t>> photoRows() {
    std::vector<std::vector<uint8_t>> rows(kRows, std::vector<uint8_t>(size_t(kWidth) * 4, 0));
    uint32_t seed = 12345;
    for (int y = 0; y < kRows; ++y)
        for (int x = 118; x < kWidth - 118; ++x)
            for (int c = 0; c < 4; ++c) {
                seed = seed * 1664525u + 1013904223u;
                const double wave = 0.5 + 0.5 * std::sin(x * (0.0011 + 0.0003 * c) + y * 0.01 + c);
                const int v = int(wave * 255) + int(seed >> 29) - 4;
                rows[size_t(y)][size_t(x) * 4 + size_t(c)] = uint8_t(std::clamp(v, 0, 255));
            }
    return rows;
}

void quantise(benchmark::State &state, int quality, int media) {
    qx316::PrintOptions o;
    o.quality = quality;
    o.media = media;
    const qx316::ModeInfo mode = qx316::queryMode(o);
    if (!mode.problem.empty()) {
        state.SkipWithError(mode.problem.c_str());
        return;
    }
    static const std::vector<std::vector<uint8_t>> rows = photoRows();
    const auto page = [&](qx316::Diffusion how) {
        qx316::RowQuantiser q(mode, qx316::RowFormat::Cmyk8, kWidth, 0, true, how);
        for (const auto &row : rows)
            benchmark::DoNotOptimize(q.next(row.data()));
    };
    double ours = 0, baseline = 0;
    size_t round = 0;
    for (auto _ : state) {
        for (int k = 0; k < 2; ++k) {
            const bool oursNow = (round + size_t(k)) % 2 == 0;
            const double t0 = threadSeconds();
            page(oursNow ? qx316::Diffusion::BlueNoise : qx316::Diffusion::FloydSteinberg);
            (oursNow ? ours : baseline) += threadSeconds() - t0;
        }
        ++round;
    }
    const double pixels = double(state.iterations()) * kWidth * kRows;
    state.counters["x_fs"] = ours > 0 ? baseline / ours : 0;
    state.counters["ns_px"] = ours / pixels * 1e9;
    state.counters["ns_px_fs"] = baseline / pixels * 1e9;
}

} // namespace

// Plane mode 9: C, M, Y on 9-level paired patterns, K 1-bit.
BENCHMARK_CAPTURE(quantise, mode9_paired, 5, 0)->Unit(benchmark::kMillisecond);
// Plane mode 5: four 1-bit planes.
BENCHMARK_CAPTURE(quantise, mode5_1bit, 3, 0)->Unit(benchmark::kMillisecond);
// Plane mode 5: C, M, Y 2-bit plain, K 1-bit.
BENCHMARK_CAPTURE(quantise, mode5_2bit, 15, 7)->Unit(benchmark::kMillisecond);
