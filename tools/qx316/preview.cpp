#include "preview.h"

#include "image.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <sys/stat.h>

namespace qx316 {

PlaneLayout layoutFor(uint8_t letter, const ModeInfo *mode) {
    PlaneLayout l;
    if (!mode)
        return l;
    for (int p = 0; p < mode->outPlanes; ++p)
        if (mode->letters[p] == letter) {
            l.pixelBits = streamBitsPerPixel(mode->bits[p], mode->tgl[p]);
            l.dotBits = bitsPerDot(mode->bits[p], mode->tgl[p]);
        }
    return l;
}

namespace {

int64_t pageLines(const DecodedPage &page) {
    int64_t lines = page.bands * page.bandHeight;
    for (const DecodedPlane &p : page.planes)
        if (!p.rows.empty())
            lines = std::max(lines, p.rows.rbegin()->first + 1);
    return lines;
}

size_t widestRow(const DecodedPlane &p) {
    size_t w = 0;
    for (const auto &[line, row] : p.rows)
        w = std::max(w, row.size());
    return w;
}

// Which of red, green, blue an ink takes away.
void inkChannels(uint8_t letter, bool absorbs[3]) {
    absorbs[0] = letter == 'C' || letter == 0xC3 || letter == 'K';
    absorbs[1] = letter == 'M' || letter == 0xCD || letter == 'K';
    absorbs[2] = letter == 'Y' || letter == 0xD9 || letter == 'K';
}

constexpr int64_t kMaxPlaneDots = int64_t(1) << 30;

} // namespace

PlaneDots rebuildPlane(const DecodedPage &page, const DecodedPlane &plane, const PlaneLayout &layout) {
    PlaneDots d;
    d.letter = plane.letter;
    d.dotBits = layout.dotBits;
    d.lines = std::max<int64_t>(1, pageLines(page));
    d.dotsWide = int64_t(widestRow(plane)) * 8 / layout.dotBits;
    if (d.dotsWide * d.lines > kMaxPlaneDots || d.dotsWide == 0)
        return d;
    d.dots.assign(size_t(d.dotsWide * d.lines), 0);
    const int mask = (1 << layout.dotBits) - 1;
    for (const auto &[line, row] : plane.rows) {
        uint8_t *out = d.dots.data() + size_t(line * d.dotsWide);
        int64_t x = 0;
        for (uint8_t b : row)
            for (int shift = 8 - layout.dotBits; shift >= 0; shift -= layout.dotBits)
                out[x++] = uint8_t((b >> shift) & mask);
    }
    return d;
}

Preview composite(const DecodedPage &page, const ModeInfo *mode, int maxHeight,
                  const volatile std::sig_atomic_t *cancel) {
    Preview pv;
    const int64_t lines = std::max<int64_t>(1, pageLines(page));
    int64_t pixelsWide = 0;
    for (const DecodedPlane &p : page.planes) {
        const PlaneLayout l = layoutFor(p.letter, mode);
        pixelsWide = std::max(pixelsWide, (int64_t(widestRow(p)) * 8 + l.pixelBits - 1) / l.pixelBits);
    }
    if (pixelsWide == 0)
        pixelsWide = std::max<int64_t>(1, lines * 210 / 297); // no ink: an A4-shaped sheet
    pv.height = int(std::min<int64_t>(lines, maxHeight));
    pv.width = int(std::clamp<int64_t>(int64_t(std::llround(double(pixelsWide) * pv.height / double(lines))), 1,
                                       int64_t(maxHeight) * 4));
    const size_t n = size_t(pv.width) * size_t(pv.height);
    // Source pixels that fall into each preview row and column.
    std::vector<double> rowsIn(size_t(pv.height), 0), colsIn(size_t(pv.width), 0);
    for (int64_t y = 0; y < lines; ++y)
        rowsIn[size_t(y * pv.height / lines)] += 1;
    for (int64_t x = 0; x < pixelsWide; ++x)
        colsIn[size_t(x * pv.width / pixelsWide)] += 1;
    std::vector<double> transmit(n * 3, 1.0);
    std::vector<double> cover(n);
    for (const DecodedPlane &p : page.planes) {
        const PlaneLayout l = layoutFor(p.letter, mode);
        const int dotsPer = l.pixelBits / l.dotBits, dotMask = (1 << l.dotBits) - 1;
        const double full = double(dotsPer * dotMask);
        std::fill(cover.begin(), cover.end(), 0.0);
        for (const auto &[line, row] : p.rows) {
            if (cancel && *cancel)
                return pv;
            const size_t oy = size_t(line * pv.height / lines);
            const int64_t px = int64_t(row.size()) * 8 / l.pixelBits;
            for (int64_t x = 0; x < px; ++x) {
                const int64_t bit = x * l.pixelBits;
                const int v = (row[size_t(bit / 8)] >> (8 - bit % 8 - l.pixelBits)) & ((1 << l.pixelBits) - 1);
                if (!v)
                    continue;
                int sum = 0;
                for (int k = 0; k < dotsPer; ++k)
                    sum += (v >> (k * l.dotBits)) & dotMask;
                cover[oy * size_t(pv.width) + size_t(x * pv.width / pixelsWide)] += sum / full;
            }
        }
        bool absorbs[3];
        inkChannels(p.letter, absorbs);
        for (size_t i = 0; i < n; ++i) {
            const double c = cover[i] / (rowsIn[i / size_t(pv.width)] * colsIn[i % size_t(pv.width)]);
            for (int ch = 0; ch < 3; ++ch)
                if (absorbs[ch])
                    transmit[3 * i + size_t(ch)] *= 1.0 - std::min(1.0, c);
        }
    }
    pv.rgb.resize(n * 3);
    for (size_t i = 0; i < n * 3; ++i)
        pv.rgb[i] = uint8_t(std::lround(255.0 * transmit[i]));
    return pv;
}

bool writeDecodePictures(const DecodeResult &r, const ModeInfo *mode, const std::string &previewPath,
                         const std::string &planesDir, PictureRun &run, std::string &err) {
    auto cancelled = [&] {
        if (run.cancel && *run.cancel) {
            err = "cancelled";
            return true;
        }
        return false;
    };
    if (!planesDir.empty()) {
        struct stat st;
        if (stat(planesDir.c_str(), &st) != 0 && mkdir(planesDir.c_str(), 0777) != 0) {
            err = "cannot create " + planesDir + ": " + std::strerror(errno);
            return false;
        }
    }
    run.written = 0;
    for (size_t pg = 0; pg < r.pages.size() && pg < run.maxPages; ++pg) {
        if (cancelled())
            return false;
        const DecodedPage &page = r.pages[pg];
        std::string path = previewPath;
        if (pg > 0) {
            const size_t dot = path.rfind('.');
            const std::string tag = "-" + std::to_string(pg + 1);
            path = dot == std::string::npos || dot < path.find_last_of('/') + 1 ? path + tag
                                                                                  : path.substr(0, dot) + tag + path.substr(dot);
        }
        Preview pv = composite(page, mode, 1200, run.cancel);
        if (cancelled())
            return false;
        if (!writePng(path, pv.width, pv.height, 3, pv.rgb.data(), err, run.cancel))
            return false;
        if (!planesDir.empty()) {
        for (const DecodedPlane &p : page.planes) {
            if (cancelled())
                return false;
            PlaneDots d = rebuildPlane(page, p, layoutFor(p.letter, mode));
            const std::string name =
                planesDir + "/page" + std::to_string(pg + 1) + "-" + planeName(p.letter) + ".png";
            if (d.dotsWide == 0)
                d.dotsWide = 1; // a plane without ink: one white column
            if (d.dots.empty() && d.dotsWide * d.lines > kMaxPlaneDots) {
                err = "plane " + planeName(p.letter) + " of page " + std::to_string(pg + 1) + " is too large to draw";
                return false;
            }
            d.dots.resize(size_t(d.dotsWide * d.lines), 0);
            const int top = (1 << d.dotBits) - 1;
            for (uint8_t &v : d.dots)
                v = uint8_t(255 - v * 255 / top);
            if (!writePng(name, int(d.dotsWide), int(d.lines), 1, d.dots.data(), err, run.cancel))
                return false;
        }
        }
        run.written = pg + 1;
    }
    return true;
}

} // namespace qx316
