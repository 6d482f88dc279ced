// The library's hot paths beside peers and baselines on the same A4 600 dpi
// pages (bench_pages.h), each pair measured alternately inside one benchmark
// so that both sides see the same machine load. Every benchmark iteration is
// one round: each side once, in an order that rotates from round to round,
// each timed in thread CPU seconds. The figures are counters:
//   x_<peer>   throughput ratio: our bytes per second / the peer's bytes per
//              second on the same bytes (= peer time / our time); 0.25 means
//              ours takes four times as long
//   *_ns, *_MBps, ns_per_*   our side (and the peer's) per round or unit
// Run: build/native/bench/peers_bench --benchmark_enable_random_interleaving=true
//      --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <immintrin.h>
#include <tiffio.h>
#include <time.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <unordered_map>

#include "bench_pages.h"

// ---- Counting allocator: the library's calloc/free, wrapped at link time ----

extern "C" void *__real_calloc(size_t count, size_t size);
extern "C" void __real_free(void *p);

namespace {

// Single-threaded: Google Benchmark runs these benchmarks on one thread.
struct HeapCount {
    bool armed = false;
    int64_t calls = 0;
    int64_t live = 0;
    int64_t peak = 0;
    std::unordered_map<void *, size_t> *sizes = nullptr;  // blocks obtained while armed
};
HeapCount heap;

void armHeap() {
    if (!heap.sizes) heap.sizes = new std::unordered_map<void *, size_t>;
    heap.sizes->clear();
    heap.calls = heap.live = heap.peak = 0;
    heap.armed = true;
}

void disarmHeap() { heap.armed = false; }

}  // namespace

extern "C" void *__wrap_calloc(size_t count, size_t size) {
    void *p = __real_calloc(count, size);
    if (heap.armed) {
        ++heap.calls;
        if (p) {
            (*heap.sizes)[p] = count * size;
            heap.live += static_cast<int64_t>(count * size);
            if (heap.live > heap.peak) heap.peak = heap.live;
        }
    }
    return p;
}

extern "C" void __wrap_free(void *p) {
    if (p && heap.sizes && !heap.sizes->empty()) {
        auto it = heap.sizes->find(p);
        if (it != heap.sizes->end()) {
            heap.live -= static_cast<int64_t>(it->second);
            heap.sizes->erase(it);
        }
    }
    __real_free(p);
}

namespace {

using namespace qxbench;

double threadSeconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// One round per benchmark iteration: every side once, starting with side
// (round mod N); returns the thread CPU seconds of each side summed over the
// rounds.
template <size_t N>
std::array<double, N> rounds(benchmark::State &state, const std::array<std::function<void()>, N> &sides) {
    std::array<double, N> total{};
    size_t round = 0;
    for (auto _ : state) {
        for (size_t k = 0; k < N; ++k) {
            const size_t i = (round + k) % N;
            const double t0 = threadSeconds();
            sides[i]();
            total[i] += threadSeconds() - t0;
        }
        ++round;
    }
    return total;
}

void fail(benchmark::State &state, const char *what) { state.SkipWithError(what); }

// ---- Pages, made once ----------------------------------------------------

const Page &text() {
    static const Page p = textPage();
    return p;
}
const Page &photo(int plane) {
    static const Page p[3] = {photoPage(0), photoPage(1), photoPage(2)};
    return p[plane];
}
const Page &random() {
    static const Page p = randomPage();
    return p;
}

const Page &byKind(int kind) { return kind == 0 ? text() : kind == 1 ? photo(0) : random(); }
const char *kindName(int kind) { return kind == 0 ? "text 1-bit" : kind == 1 ? "photo 4-bit" : "random"; }

bool checkMode(const PrintParams &pp, int want) {
    return getPlaneMode(pp.printQuality, pp.mediaType, pp.colorMode, pp.compositeMode, getPrintHead(&pp)) == want;
}

// ---- libtiff: an in-memory TIFF whose bytes are discarded -----------------

// The file keeps only its position and size: coded strips cost libtiff's
// coder and its raw buffer, not a copy into a file.
struct NullFile {
    uint64_t pos = 0, size = 0, written = 0;
};

tmsize_t nullRead(thandle_t, void *, tmsize_t) { return 0; }
tmsize_t nullWrite(thandle_t h, void *, tmsize_t n) {
    NullFile *f = static_cast<NullFile *>(h);
    f->pos += static_cast<uint64_t>(n);
    f->written += static_cast<uint64_t>(n);
    if (f->pos > f->size) f->size = f->pos;
    return n;
}
toff_t nullSeek(thandle_t h, toff_t off, int whence) {
    NullFile *f = static_cast<NullFile *>(h);
    switch (whence) {
        case SEEK_SET: f->pos = off; break;
        case SEEK_CUR: f->pos += off; break;
        case SEEK_END: f->pos = f->size + off; break;
        default: return static_cast<toff_t>(-1);
    }
    return f->pos;
}
int nullClose(thandle_t) { return 0; }
toff_t nullSize(thandle_t h) { return static_cast<NullFile *>(h)->size; }
int nullMap(thandle_t, void **, toff_t *) { return 0; }
void nullUnmap(thandle_t, void *, toff_t) {}

// 8-bit gray rows of the page's line width, PackBits, `rowsPerStrip` rows
// per strip. Strips are written again in the same place every round.
TIFF *openTiff(NullFile *file, const Page &page, int rowsPerStrip) {
    TIFF *t = TIFFClientOpen("peers_bench", "w", file, nullRead, nullWrite, nullSeek, nullClose, nullSize, nullMap,
                             nullUnmap);
    if (!t) return nullptr;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(page.bytesPerLine));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(page.lines));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_PACKBITS);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(rowsPerStrip));
    return t;
}

// packbits (ours) beside libtiff's PackBits coder on every row of a page:
// libtiff codes the page as one strip (its coder still codes row by row) and,
// as a second peer, as one strip per row.
void BM_packbits_vs_libtiff(benchmark::State &state) {
    const int kind = static_cast<int>(state.range(0));
    const Page &page = byKind(kind);
    const int n = page.bytesPerLine;
    std::vector<uint8_t> ours(static_cast<size_t>(page.lines) * static_cast<size_t>(n + 1 + (n - 1) / 126));
    NullFile pageFile, rowFile;
    TIFF *pageTiff = openTiff(&pageFile, page, page.lines);
    TIFF *rowTiff = openTiff(&rowFile, page, 1);
    if (!pageTiff || !rowTiff) return fail(state, "TIFFClientOpen failed");
    uint8_t *data = const_cast<uint8_t *>(page.bytes.data());
    int64_t oursCoded = 0;
    uint64_t pageCoded = 0, rowCoded = 0;
    bool ok = true;
    const auto total = rounds<3>(
        state, {[&] {
                    uint8_t *at = ours.data();
                    for (int y = 0; y < page.lines; ++y) at += packbits(at, page.line(y), n);
                    oursCoded = at - ours.data();
                    benchmark::ClobberMemory();
                },
                [&] {
                    const uint64_t w0 = pageFile.written;
                    ok &= TIFFWriteEncodedStrip(pageTiff, 0, data, static_cast<tmsize_t>(page.size())) >= 0;
                    pageCoded = pageFile.written - w0;
                },
                [&] {
                    const uint64_t w0 = rowFile.written;
                    for (int y = 0; y < page.lines; ++y)
                        ok &= TIFFWriteEncodedStrip(rowTiff, static_cast<uint32_t>(y), data + static_cast<size_t>(y) * n,
                                                    n) >= 0;
                    rowCoded = rowFile.written - w0;
                }});
    TIFFClose(pageTiff);
    TIFFClose(rowTiff);
    if (!ok) return fail(state, "TIFFWriteEncodedStrip failed");
    const double bytes = static_cast<double>(page.size()) * static_cast<double>(state.iterations());
    state.counters["ours_MBps"] = bytes / total[0] / 1e6;
    state.counters["libtiff_MBps"] = bytes / total[1] / 1e6;
    state.counters["x_libtiff"] = total[1] / total[0];
    state.counters["x_libtiff_rowstrips"] = total[2] / total[0];
    state.counters["ours_coded_B"] = static_cast<double>(oursCoded);
    state.counters["libtiff_coded_B"] = static_cast<double>(pageCoded);
    state.counters["libtiff_rowstrip_coded_B"] = static_cast<double>(rowCoded);
    state.SetLabel(std::string(kindName(kind)) + ", " + std::to_string(n) + " B x " + std::to_string(page.lines) +
                   " rows");
}

// ---- SIMD zero scans -------------------------------------------------------

bool zeroSse2(const uint8_t *p, size_t n) {
    size_t i = 0;
    __m128i acc = _mm_setzero_si128();
    for (; i + 64 <= n; i += 64) {
        acc = _mm_or_si128(acc, _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i)));
        acc = _mm_or_si128(acc, _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i + 16)));
        acc = _mm_or_si128(acc, _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i + 32)));
        acc = _mm_or_si128(acc, _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i + 48)));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(acc, _mm_setzero_si128())) != 0xFFFF) return false;
    }
    for (; i + 16 <= n; i += 16) acc = _mm_or_si128(acc, _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i)));
    uint8_t tail = 0;
    for (; i < n; ++i) tail = static_cast<uint8_t>(tail | p[i]);
    return tail == 0 && _mm_movemask_epi8(_mm_cmpeq_epi8(acc, _mm_setzero_si128())) == 0xFFFF;
}

__attribute__((target("avx2"))) bool zeroAvx2(const uint8_t *p, size_t n) {
    size_t i = 0;
    __m256i acc = _mm256_setzero_si256();
    for (; i + 128 <= n; i += 128) {
        acc = _mm256_or_si256(acc, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + i)));
        acc = _mm256_or_si256(acc, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + i + 32)));
        acc = _mm256_or_si256(acc, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + i + 64)));
        acc = _mm256_or_si256(acc, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + i + 96)));
        if (!_mm256_testz_si256(acc, acc)) return false;
    }
    for (; i + 32 <= n; i += 32) acc = _mm256_or_si256(acc, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + i)));
    uint8_t tail = 0;
    for (; i < n; ++i) tail = static_cast<uint8_t>(tail | p[i]);
    return tail == 0 && _mm256_testz_si256(acc, acc);
}

bool hasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

// ---- Job pages ---------------------------------------------------------------

// Mode 9 input planes: C, M, Y 4-bit levels (paired into 7 output planes) and
// K 1-bit.
// A blank mode 9 page, every line handed over with its (zero) data, beside
// the best SIMD scan that finds the same plane lines blank. The front end
// renders each line into the same line buffers, so both sides read
// cache-resident bytes.
void BM_blank_page_mode9_vs_zero_scan(benchmark::State &state) {
    const PrintParams pp = params(kMode9Quality, kMode9Media, kMode9Color);
    if (!checkMode(pp, 9)) return fail(state, "quality 5, media 0 is not plane mode 9");
    const Page color = emptyPage(kBytes4, 1), black = emptyPage(kBytes1, 1);
    const JobPlanes planes = mode9Planes(&color, &color, &color, &black);
    const bool avx2 = hasAvx2();
    int64_t blankLines = 0, stream = 0;
    const auto total = rounds<2>(state, {[&] { stream = runJob(pp, planes, kPageLines); },
                                         [&] {
                                             int64_t blank = 0;
                                             for (int y = 0; y < kPageLines; ++y) {
                                                 bool b = true;
                                                 for (int p = 0; p < 4; ++p) {
                                                     const Page &pg = *planes.page[p];
                                                     b &= avx2 ? zeroAvx2(pg.line(0), pg.bytesPerLine)
                                                               : zeroSse2(pg.line(0), pg.bytesPerLine);
                                                 }
                                                 blank += b;
                                             }
                                             blankLines = blank;
                                             benchmark::DoNotOptimize(blankLines);
                                         }});
    if (stream < 0) return fail(state, "a job call failed");
    const double it = static_cast<double>(state.iterations());
    state.counters["ours_ns_per_line"] = total[0] / it / kPageLines * 1e9;
    state.counters["scan_ns_per_line"] = total[1] / it / kPageLines * 1e9;
    state.counters["x_zeroscan"] = total[1] / total[0];
    state.counters["stream_B"] = static_cast<double>(stream);
    state.SetLabel(std::string(avx2 ? "AVX2" : "SSE2") + " scan, " +
                   std::to_string(3 * kBytes4 + kBytes1) + " B per line");
}

// isNullColor on one 4-bit line (as raster_bench calls it: left offset 3,
// right margin 5) beside memcpy of the same bytes, 1000 calls per side.
void BM_isNullColor_vs_memcpy(benchmark::State &state) {
    const bool sparse = state.range(0) != 0;
    std::vector<uint8_t> line(kBytes4, 0);
    if (sparse) {  // a few dots over the line
        Rng r(42);
        for (int k = 0; k < 6; ++k) line[static_cast<size_t>(r.below(kBytes4))] = 0x10;
        line[0] = line[kBytes4 - 1] = 0;
        line[kBytes4 / 3] = 0x01;
    }
    std::vector<uint8_t> dst(kBytes4);
    PlaneRaster raster{};
    raster.data = line.data();
    raster.width = kPageWidth;
    raster.leftOffset = 3;
    raster.rightMargin = 5;
    constexpr int kCalls = 1000;
    const auto total = rounds<2>(state, {[&] {
                                             for (int i = 0; i < kCalls; ++i) {
                                                 int32_t left, right;
                                                 benchmark::DoNotOptimize(isNullColor(&raster, 1, &left, &right));
                                                 benchmark::DoNotOptimize(left);
                                                 benchmark::DoNotOptimize(right);
                                             }
                                         },
                                         [&] {
                                             for (int i = 0; i < kCalls; ++i) {
                                                 std::memcpy(dst.data(), line.data(), kBytes4);
                                                 benchmark::DoNotOptimize(dst.data());
                                                 benchmark::ClobberMemory();
                                             }
                                         }});
    const double calls = static_cast<double>(state.iterations()) * kCalls;
    state.counters["ours_ns_per_line"] = total[0] / calls * 1e9;
    state.counters["memcpy_ns_per_line"] = total[1] / calls * 1e9;
    state.counters["x_memcpy"] = total[1] / total[0];
    state.SetLabel(std::string(sparse ? "sparse" : "blank") + ", " + std::to_string(kBytes4) + " B 4-bit line");
}

// memcpy of every plane line of a page into one line buffer: the baseline
// for pages through the job calls.
void copyPageLines(const JobPlanes &planes, int lines, std::vector<uint8_t> &dst) {
    for (int y = 0; y < lines; ++y)
        for (const Page *p : planes.page)
            if (p) {
                std::memcpy(dst.data(), p->line(y), static_cast<size_t>(p->bytesPerLine));
                benchmark::ClobberMemory();
            }
}

int64_t inputBytes(const JobPlanes &planes, int lines) {
    int64_t n = 0;
    for (const Page *p : planes.page)
        if (p) n += static_cast<int64_t>(p->bytesPerLine) * lines;
    return n;
}

// A mode 9 photo page (C, M, Y levels 0..8; no K data) through the job
// calls: nanoseconds per drawn level, and the ratio to memcpy of its bytes.
void BM_photo_page_mode9_dot_patterns(benchmark::State &state) {
    const PrintParams pp = params(kMode9Quality, kMode9Media, kMode9Color);
    if (!checkMode(pp, 9)) return fail(state, "quality 5, media 0 is not plane mode 9");
    const JobPlanes planes = mode9Planes(&photo(0), &photo(1), &photo(2), nullptr);
    const int64_t levels = nonZeroNibbles(photo(0)) + nonZeroNibbles(photo(1)) + nonZeroNibbles(photo(2));
    std::vector<uint8_t> dst(kBytes4);
    int64_t stream = 0;
    const auto total = rounds<2>(state, {[&] { stream = runJob(pp, planes, kPageLines); },
                                         [&] { copyPageLines(planes, kPageLines, dst); }});
    if (stream < 0) return fail(state, "a job call failed");
    const double it = static_cast<double>(state.iterations());
    state.counters["ns_per_level"] = total[0] / it / static_cast<double>(levels) * 1e9;
    state.counters["ours_MBps"] = static_cast<double>(inputBytes(planes, kPageLines)) * it / total[0] / 1e6;
    state.counters["x_memcpy"] = total[1] / total[0];
    state.counters["levels"] = static_cast<double>(levels);
    state.counters["stream_B"] = static_cast<double>(stream);
    state.SetLabel("3 x " + std::to_string(kBytes4) + " B x " + std::to_string(kPageLines) + " lines");
}

// A 1-bit K text page in plane mode 1 through the job calls.
void BM_text_page_mode1(benchmark::State &state) {
    const PrintParams pp = params(kMode1Quality, kMode1Media, kMode1Color);
    if (!checkMode(pp, 1)) return fail(state, "quality 10, media 7, colour mode 1 is not plane mode 1");
    JobPlanes planes;
    planes.page[0] = &text();
    planes.width[0] = kPageWidth;
    std::vector<uint8_t> dst(kBytes1);
    int64_t stream = 0;
    const auto total = rounds<2>(state, {[&] { stream = runJob(pp, planes, kPageLines); },
                                         [&] { copyPageLines(planes, kPageLines, dst); }});
    if (stream < 0) return fail(state, "a job call failed");
    const double bytes = static_cast<double>(inputBytes(planes, kPageLines)) * static_cast<double>(state.iterations());
    state.counters["ours_MBps"] = bytes / total[0] / 1e6;
    state.counters["memcpy_MBps"] = bytes / total[1] / 1e6;
    state.counters["x_memcpy"] = total[1] / total[0];
    state.counters["stream_B"] = static_cast<double>(stream);
    state.SetLabel(std::to_string(kBytes1) + " B x " + std::to_string(kPageLines) + " lines");
}

// Heap of one mode 9 A4 job (OutputOpen to OutputClose): the peak of the
// bytes obtained through calloc and not yet freed, and calloc calls per
// OutputProduceTwo + OutputComplete pair for blank and for inked lines.
// Counts, not times: the same in every run.
void BM_heap_mode9_job(benchmark::State &state) {
    const PrintParams pp = params(kMode9Quality, kMode9Media, kMode9Color);
    const bool photoPage = state.range(0) != 0;
    const Page black = emptyPage(kBytes1, 1), color = emptyPage(kBytes4, 1);
    const JobPlanes planes = photoPage ? mode9Planes(&photo(0), &photo(1), &photo(2), nullptr)
                                       : mode9Planes(&color, &color, &color, &black);
    std::vector<char> inked(kPageLines, 0);
    for (int y = 0; y < kPageLines; ++y)
        for (const Page *p : planes.page)
            if (p) {
                const uint8_t *l = p->line(y % p->lines);
                for (int i = 0; i < p->bytesPerLine && !inked[static_cast<size_t>(y)]; ++i) inked[static_cast<size_t>(y)] = l[i] != 0;
            }
    int64_t callsInked = 0, callsBlank = 0, linesInked = 0, linesBlank = 0, peak = 0, total = 0;
    bool ok = true;
    for (auto _ : state) {
        callsInked = callsBlank = linesInked = linesBlank = 0;
        armHeap();
        ok = runJob(pp, planes, kPageLines, true, [&](int y, auto &&call) {
                 const int64_t c0 = heap.calls;
                 call();
                 const int64_t c = heap.calls - c0;
                 if (inked[static_cast<size_t>(y)]) {
                     callsInked += c;
                     ++linesInked;
                 } else {
                     callsBlank += c;
                     ++linesBlank;
                 }
             }) >= 0;
        disarmHeap();
        peak = heap.peak;
        total = heap.calls;
    }
    if (!ok) return fail(state, "a job call failed");
    state.counters["peak_calloc_B"] = static_cast<double>(peak);
    state.counters["callocs_per_job"] = static_cast<double>(total);
    state.counters["callocs_per_blank_line"] = linesBlank ? static_cast<double>(callsBlank) / linesBlank : 0.0;
    state.counters["callocs_per_inked_line"] = linesInked ? static_cast<double>(callsInked) / linesInked : 0.0;
    state.SetLabel(std::string(photoPage ? "photo" : "blank") + " page: " + std::to_string(linesBlank) + " blank, " +
                   std::to_string(linesInked) + " inked lines");
}

}  // namespace

BENCHMARK(BM_packbits_vs_libtiff)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_blank_page_mode9_vs_zero_scan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_isNullColor_vs_memcpy)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_photo_page_mode9_dot_patterns)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_text_page_mode1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_heap_mode9_job)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);
