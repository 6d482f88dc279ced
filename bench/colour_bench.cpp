// A 600 dpi colour photo through the front-end kit, with the kit's own
// separation and with the lcms2 transform to the built-in ink profile, each
// pair measured alternately in one run and reported as a ratio. The photo is
// A4 wide (4961 pixels) and 1024 rows tall (the per-pixel cost is what
// counts): smooth colour waves with noise, so that no two neighbours share a
// colour, inside 5 mm white margins; plane mode 9 (quality 5, media 0).
//
//   build/native/bench/colour_bench [--rows N] [--rounds N]
// Instruction counts, which do not depend on the machine's load: one variant
// alone (--only own|lcms2), collected inside the page runs:
//   valgrind --tool=callgrind --toggle-collect='*runPage*' --callgrind-out-file=own.out
//       build/native/bench/colour_bench --rows 512 --rounds 1 --only own
//   (the same with --only lcms2; compare the "summary:" lines of the two files)
#include "colour.h"
#include "job.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 4961;
constexpr int kMargin = 118; // 5 mm at 600 dpi

std::vector<uint8_t> photo(int rows) {
    std::vector<uint8_t> px(size_t(kWidth) * size_t(rows) * 3, 255);
    std::mt19937 rng(316);
    for (int y = kMargin; y < rows; ++y)
        for (int x = kMargin; x < kWidth - kMargin; ++x)
            for (int c = 0; c < 3; ++c) {
                const double v = 127.5 + 110.0 * std::sin(x / (300.0 + 70.0 * c) + y / (410.0 - 50.0 * c) + c * 2.1);
                px[(size_t(y) * kWidth + size_t(x)) * 3 + size_t(c)] =
                    uint8_t(std::clamp(int(v) + int(rng() % 9) - 4, 0, 255));
            }
    return px;
}

double runPage(const std::vector<uint8_t> &px, int rows, std::shared_ptr<const qx316::InkConverter> conv,
               size_t &bytes) {
    qx316::PrintOptions o;
    o.quality = 5;
    o.media = 0;
    const auto t0 = std::chrono::steady_clock::now();
    qx316::Job job(o);
    job.setInkConverter(std::move(conv));
    bytes = 0;
    int rc = job.begin([&](const uint8_t *, size_t n) {
        bytes += n;
        return true;
    });
    rc = rc ? rc : qx316::printPage(job, {kWidth, rows, qx316::RowFormat::Rgb8}, [&](int y, uint8_t *row) {
        std::memcpy(row, px.data() + size_t(y) * kWidth * 3, size_t(kWidth) * 3);
    });
    rc = rc ? rc : job.end();
    if (rc != qx316::kOk) {
        std::fprintf(stderr, "job failed: %s\n", job.error().c_str());
        std::exit(1);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

} // namespace

int main(int argc, char **argv) {
    int rows = 1024, rounds = 7;
    std::string only;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "--rows")
            rows = std::max(64, std::atoi(argv[i + 1]));
        else if (std::string(argv[i]) == "--rounds")
            rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (std::string(argv[i]) == "--only")
            only = argv[i + 1];
    }
    const std::vector<uint8_t> px = photo(rows);
    qx316::PrintOptions o;
    o.quality = 5;
    o.media = 0;
    std::string err;
    // Built once a job in the hosts; outside the timing here, as a profile
    // is built once a process.
    const auto t0 = std::chrono::steady_clock::now();
    const auto conv = qx316::makeInkConverter({}, qx316::queryMode(o), o.media, err);
    const double setup = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (!conv) {
        std::fprintf(stderr, "no converter: %s\n", err.c_str());
        return 1;
    }
    std::vector<double> hand, managed;
    size_t handBytes = 0, managedBytes = 0;
    if (!only.empty()) {
        const double t = runPage(px, rows, only == "own" ? nullptr : conv, handBytes);
        std::printf("%s: %.3f s, %zu stream bytes\n", only.c_str(), t, handBytes);
        return 0;
    }
    for (int r = 0; r < rounds; ++r) {
        hand.push_back(runPage(px, rows, nullptr, handBytes));
        managed.push_back(runPage(px, rows, conv, managedBytes));
    }
    std::sort(hand.begin(), hand.end());
    std::sort(managed.begin(), managed.end());
    const double h = hand[hand.size() / 2], m = managed[managed.size() / 2];
    const double pixels = double(kWidth) * rows;
    std::printf("photo %d x %d, plane mode 9, median of %d rounds\n", kWidth, rows, rounds);
    std::printf("  kit's own separation: %8.3f s  %6.1f ns/pixel  %zu stream bytes\n", h, h / pixels * 1e9, handBytes);
    std::printf("  lcms2 transform:      %8.3f s  %6.1f ns/pixel  %zu stream bytes\n", m, m / pixels * 1e9,
                managedBytes);
    std::printf("  ratio lcms2 / own:    %8.3f\n", m / h);
    std::printf("  converter set-up (built-in profile, once a process): %.3f s\n", setup);
    return 0;
}
