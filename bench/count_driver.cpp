// One measured run for bench/callgrind_counts.sh, which counts the
// instructions of the library functions it names under callgrind. The pages
// are made before the measured calls; the program prints the number of units
// the counted instructions are divided by.
//
//   count_driver blank1 [LINES]     mode 1 job, LINES blank 620-byte lines handed
//                                   over with their data, no page end; prints
//                                   the OutputProduceTwo + OutputComplete pairs
//   count_driver blank9 [LINES]     mode 9 job, LINES blank lines of C, M, Y
//                                   (2,481 bytes) and K (621 bytes) handed over
//                                   with their data, no page end; prints the
//                                   pairs
//   count_driver text1 [LINES]      mode 1 job of the 1-bit K text page (LINES of
//                                   it, 621 bytes each) with its page end;
//                                   prints the input bytes
//   count_driver photo9 [LINES]     mode 9 job of the photo page (C, M, Y 4-bit
//                                   levels, no K data) with its page end;
//                                   prints the levels drawn (non-zero pixels)
//   count_driver packbits KIND [LINES]
//                                   packbits on every row of the text, photo or
//                                   random page; prints the input bytes
// LINES defaults to the whole A4 page (7016).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench_pages.h"

namespace {

using namespace qxbench;

int usage() {
    std::fprintf(stderr,
                 "usage: count_driver blank1|blank9|text1|photo9 [LINES] | packbits text|photo|random [LINES]\n");
    return 2;
}

int lineCount(int argc, char **argv, int at) {
    if (argc <= at) return kPageLines;
    const int n = std::atoi(argv[at]);
    return n >= 1 && n <= kPageLines ? n : -1;
}

bool modeIs(const PrintParams &pp, int want) {
    const int got = getPlaneMode(pp.printQuality, pp.mediaType, pp.colorMode, pp.compositeMode, getPrintHead(&pp));
    if (got != want) std::fprintf(stderr, "count_driver: plane mode %d, not %d\n", got, want);
    return got == want;
}

int result(int64_t stream, long long units) {
    if (stream < 0) {
        std::fprintf(stderr, "count_driver: a job call failed\n");
        return 1;
    }
    std::printf("%lld\n", units);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) return usage();
    const std::string what = argv[1];
    if (what == "blank1" || what == "text1") {
        const int lines = lineCount(argc, argv, 2);
        if (lines < 0) return usage();
        const PrintParams pp = params(kMode1Quality, kMode1Media, kMode1Color);
        if (!modeIs(pp, 1)) return 1;
        const bool blank = what == "blank1";
        const Page page = blank ? emptyPage(620, 1) : textPage();
        JobPlanes planes;
        planes.page[0] = &page;
        planes.width[0] = static_cast<int16_t>(blank ? 620 * 8 : kPageWidth);
        const int64_t stream = runJob(pp, planes, lines, !blank);
        return result(stream, blank ? lines : static_cast<long long>(lines) * kBytes1);
    }
    if (what == "blank9") {
        const int lines = lineCount(argc, argv, 2);
        if (lines < 0) return usage();
        const PrintParams pp = params(kMode9Quality, kMode9Media, kMode9Color);
        if (!modeIs(pp, 9)) return 1;
        const Page color = emptyPage(kBytes4, 1), black = emptyPage(kBytes1, 1);
        const JobPlanes planes = mode9Planes(&color, &color, &color, &black);
        return result(runJob(pp, planes, lines, false), lines);
    }
    if (what == "photo9") {
        const int lines = lineCount(argc, argv, 2);
        if (lines < 0) return usage();
        const PrintParams pp = params(kMode9Quality, kMode9Media, kMode9Color);
        if (!modeIs(pp, 9)) return 1;
        const Page c = photoPage(0, lines), m = photoPage(1, lines), y = photoPage(2, lines);
        const long long levels = nonZeroNibbles(c) + nonZeroNibbles(m) + nonZeroNibbles(y);
        JobPlanes planes;
        planes.page[0] = &c;
        planes.page[1] = &m;
        planes.page[2] = &y;
        for (int p = 0; p < 4; ++p) planes.width[p] = kPageWidth;
        return result(runJob(pp, planes, lines), levels);
    }
    if (what == "packbits" && argc >= 3) {
        const std::string kind = argv[2];
        const int lines = lineCount(argc, argv, 3);
        if (lines < 0) return usage();
        Page page;
        if (kind == "text") page = textPage();
        else if (kind == "photo") page = photoPage(0);
        else if (kind == "random") page = randomPage();
        else return usage();
        const int n = page.bytesPerLine;
        std::vector<uint8_t> out(static_cast<size_t>(n + 1 + (n - 1) / 126));
        long long coded = 0;
        for (int row = 0; row < lines; ++row) coded += packbits(out.data(), page.line(row), n);
        std::fprintf(stderr, "count_driver: %lld bytes coded\n", coded);
        return result(0, static_cast<long long>(lines) * n);
    }
    return usage();
}
