// Instruction counts and heap use of the job engine, for callgrind:
//
//   valgrind --tool=callgrind --collect-atstart=no
//       --toggle-collect=OutputProduceTwo --toggle-collect=OutputComplete
//       build/native/bench/engine_counts blank1
//
// (one command line)
//
// counts only the instructions of the OutputProduceTwo + OutputComplete
// pairs (callees included); the total divided by the number printed on
// stdout is the cost of one pair. The pages are made before the job starts.
//
//   engine_counts blank1 [LINES]   mode 1, LINES blank 620-byte lines with data
//   engine_counts blank9 [LINES]   mode 9, LINES blank A4 lines with data, page end
//   engine_counts photo9 [LINES]   mode 9, LINES of the photo page (C, M, Y), page end
//
// stdout: the number of pairs. stderr: the blocks the library obtained while
// producing and completing lines, and the peak of its heap over the whole job
// (calloc and free wrapped at link time).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unordered_map>

#include "bench_pages.h"

extern "C" void *__real_calloc(size_t count, size_t size);
extern "C" void __real_free(void *p);

namespace {

struct Heap {
    bool inLines = false;
    long long lineAllocs = 0;
    long long live = 0;
    long long peak = 0;
    std::unordered_map<void *, size_t> *sizes = nullptr;
};
Heap heap;

}  // namespace

extern "C" void *__wrap_calloc(size_t count, size_t size) {
    void *p = __real_calloc(count, size);
    if (p && heap.sizes) {
        if (heap.inLines) ++heap.lineAllocs;
        (*heap.sizes)[p] = count * size;
        heap.live += static_cast<long long>(count * size);
        if (heap.live > heap.peak) heap.peak = heap.live;
    }
    return p;
}

extern "C" void __wrap_free(void *p) {
    if (p && heap.sizes) {
        auto it = heap.sizes->find(p);
        if (it != heap.sizes->end()) {
            heap.live -= static_cast<long long>(it->second);
            heap.sizes->erase(it);
        }
    }
    __real_free(p);
}

namespace {

using namespace qxbench;

int usage() {
    std::fprintf(stderr, "usage: engine_counts blank1|blank9|photo9 [LINES]\n");
    return 2;
}

struct Counted {
    template <class F>
    void operator()(int, F &&call) const {
        heap.inLines = true;
        call();
        heap.inLines = false;
    }
};

int run(const PrintParams &pp, const JobPlanes &planes, int lines, bool flush) {
    static std::unordered_map<void *, size_t> sizes;
    sizes.reserve(1 << 12);
    heap.sizes = &sizes;
    const int64_t stream = runJob(pp, planes, lines, flush, Counted{});
    heap.sizes = nullptr;
    if (stream < 0) {
        std::fprintf(stderr, "engine_counts: a job call failed\n");
        return 1;
    }
    std::fprintf(stderr, "engine_counts: %lld stream bytes, %lld blocks obtained in %d pairs, heap peak %lld bytes\n",
                 static_cast<long long>(stream), heap.lineAllocs, lines, heap.peak);
    std::printf("%d\n", lines);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) return usage();
    const std::string what = argv[1];
    const int lines = argc > 2 ? std::atoi(argv[2]) : kPageLines;
    if (lines < 1 || lines > kPageLines) return usage();
    JobPlanes planes;
    if (what == "blank1") {
        const Page page = emptyPage(620, 1);
        planes.page[0] = &page;
        planes.width[0] = 620 * 8;
        return run(params(kMode1Quality, kMode1Media, kMode1Color), planes, lines, false);
    }
    if (what == "blank9" || what == "photo9") {
        const bool blank = what == "blank9";
        Page page[3];
        for (int p = 0; p < 3; ++p) {
            page[p] = blank ? emptyPage(kBytes4, 1) : photoPage(p, lines);
            planes.page[p] = &page[p];
        }
        for (int p = 0; p < 4; ++p) planes.width[p] = kPageWidth;
        return run(params(kMode9Quality, kMode9Media, kMode9Color), planes, lines, true);
    }
    return usage();
}
