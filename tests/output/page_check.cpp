#include "page_check.h"

#include <algorithm>

#include "dot_patterns.h"
#include "hex.h"

namespace qxtest {

namespace {

// First and last non-zero byte.
bool inkSpan(const std::vector<uint8_t> &b, int *left, int *right) {
    int l = -1, r = -1;
    for (int i = 0; i < static_cast<int>(b.size()); ++i) {
        if (b[i] == 0) continue;
        if (l < 0) l = i;
        r = i;
    }
    *left = l;
    *right = r;
    return l >= 0;
}

uint8_t levelFor(int tgl, int bits, std::mt19937 &rng) {
    std::uniform_int_distribution<int> any(0, (1 << bits) - 1);
    switch (tgl) {
        case 1: return static_cast<uint8_t>(std::uniform_int_distribution<int>(0, 2)(rng));
        case 2:
        case 3: return static_cast<uint8_t>(std::uniform_int_distribution<int>(0, 4)(rng));
        case 4:
        case 7: return static_cast<uint8_t>(std::uniform_int_distribution<int>(0, 8)(rng));
        default: return static_cast<uint8_t>(any(rng));
    }
}

std::vector<uint8_t> inkedBytes(int widthPixels, int bits, int tgl, int from, int to, std::mt19937 &rng) {
    const int perByte = 8 / bits;
    std::vector<uint8_t> b((widthPixels + perByte - 1) / perByte, 0);
    for (int x = from; x < to; ++x) {
        const uint8_t v = levelFor(tgl, bits, rng);
        b[x / perByte] |= static_cast<uint8_t>(v << (8 - bits * (x % perByte + 1)));
    }
    return b;
}

std::string checkPatternRow(int tgl, const std::vector<uint8_t> &in, int left, int right,
                            const std::vector<uint8_t> &row, const std::vector<uint8_t> *pairedRow) {
    const bool doubled = tgl >= 5;
    const size_t skip = doubled ? 2 * left : left;
    const size_t m = (right - left + 1) * (doubled ? 2 : 1);
    if (row.size() != skip + m) return "coded length " + std::to_string(row.size());
    if (pairedRow && pairedRow->size() != row.size()) return "paired coded length differs";
    for (size_t i = 0; i < skip; ++i)
        if (row[i] != 0) return "ink in the blank margin";
    for (int i = left; i <= right; ++i) {
        const int levels[2] = {in[i] >> 4, in[i] & 15};
        if (doubled) {
            for (int h = 0; h < 2; ++h)
                if (!qxref::dot_is_candidate(tgl, levels[h], row[skip + 2 * (i - left) + h]))
                    return "byte " + std::to_string(i) + " not a candidate of level " + std::to_string(levels[h]);
            continue;
        }
        const uint8_t out = row[skip + i - left];
        const int outs[2] = {out >> 4, out & 15};
        for (int h = 0; h < 2; ++h) {
            const bool ok = pairedRow ? qxref::dot_pair_is_candidate(levels[h], outs[h],
                                                                     ((*pairedRow)[skip + i - left] >> (4 * (1 - h))) & 15)
                                      : qxref::dot_is_candidate(tgl, levels[h], outs[h]);
            if (!ok) return "byte " + std::to_string(i) + " not a candidate of level " + std::to_string(levels[h]);
        }
    }
    return "";
}

}  // namespace

PlaneSetup readSetup(const OutputContext *ctx) {
    PlaneSetup s;
    s.planeMode = ctx->planeMode;
    s.inPlanes = ctx->inPlaneCount;
    s.outPlanes = ctx->outPlaneCount;
    s.bandHeight = ctx->bandHeight;
    for (int p = 0; p < QXDRO_MAX_PLANES; ++p) {
        s.bits[p] = 8 >> ctx->planes[p].pixelShift;
        s.tgl[p] = ctx->planes[p].tglType;
        s.paired[p] = -1;
        if (p < s.inPlanes && s.tgl[p] == 4 && (s.planeMode == 7 || s.planeMode == 9))
            s.paired[p] = p + (s.planeMode == 7 ? 3 : 4);
    }
    return s;
}

std::vector<uint8_t> planeLetters(int planeMode) {
    switch (planeMode) {
        case 1: return {'K'};
        case 2: return {'C', 'M', 'Y'};
        case 3:
        case 4: return {0xC3, 0xCD, 0xD9};
        case 5: return {'C', 'M', 'Y', 'K'};
        case 6:
        case 7: return {'C', 'M', 'Y', 0xC3, 0xCD, 0xD9};
        default: return {'C', 'M', 'Y', 'K', 0xC3, 0xCD, 0xD9};
    }
}

std::vector<Line> makePage(const PlaneSetup &setup, int widthPixels, int lines, std::mt19937 &rng) {
    std::vector<Line> page;
    const int bh = setup.bandHeight;
    // A first line late in a later band, then a stretch of several bands left out.
    const int firstLine = bh * 2 + bh - 3;
    const int gapFrom = lines / 2, gapTo = lines / 2 + 3 * bh + 5;
    std::uniform_int_distribution<int> pct(0, 99);
    for (int y = firstLine; y < lines; ++y) {
        if (y >= gapFrom && y < gapTo) continue;
        if (pct(rng) < 10) continue;  // not delivered: an empty line
        Line line;
        line.number = y;
        for (int p = 0; p < setup.inPlanes; ++p) {
            PlaneLine pl;
            pl.width = static_cast<int16_t>(widthPixels);
            const int kind = pct(rng);
            if (kind < 15) {
                line.planes.push_back(pl);  // null data
                continue;
            }
            int from = 0, to = 0;
            if (kind < 30) {
                from = to = 0;  // all zero bytes
            } else {
                from = std::uniform_int_distribution<int>(0, widthPixels - 1)(rng);
                to = std::uniform_int_distribution<int>(from + 1, widthPixels)(rng);
            }
            pl.bytes = inkedBytes(widthPixels, setup.bits[p], setup.tgl[p], from, to, rng);
            line.planes.push_back(pl);
        }
        page.push_back(line);
    }
    return page;
}

int inkedLines(const std::vector<Line> &lines, int p) {
    int n = 0;
    for (const Line &l : lines) {
        int a, b;
        if (inkSpan(l.planes[p].bytes, &a, &b)) ++n;
    }
    return n;
}

std::string checkPage(const PlaneSetup &setup, const std::vector<Line> &lines, const qx316::DecodedPage &page,
                      int64_t lineOffset) {
    const std::vector<uint8_t> letters = planeLetters(setup.planeMode);
    if (page.bandHeight != setup.bandHeight) return "band height " + std::to_string(page.bandHeight);
    for (int p = 0; p < setup.inPlanes; ++p) {
        const int q = setup.paired[p];
        const qx316::DecodedPlane *plane = page.plane(letters[p]);
        const qx316::DecodedPlane *pair = q >= 0 ? page.plane(letters[q]) : nullptr;
        size_t seen = 0;
        for (const Line &line : lines) {
            const std::vector<uint8_t> &in = line.planes[p].bytes;
            const int64_t y = line.number + lineOffset;
            const std::string where = "plane " + std::to_string(p) + " line " + std::to_string(line.number);
            int left, right;
            const bool inked = inkSpan(in, &left, &right);
            const auto row = plane ? plane->rows.find(y) : decltype(plane->rows.end()){};
            const bool present = plane && row != plane->rows.end();
            if (!inked) {
                if (present) return where + ": ink on a blank line";
                continue;
            }
            if (!present) return where + ": inked line missing";
            ++seen;
            if (setup.tgl[p] == 0) {
                const std::vector<uint8_t> want(in.begin(), in.begin() + right + 1);
                if (row->second != want) return where + ": got " + hexHead(row->second, 48) + " want " + hexHead(want, 48);
                continue;
            }
            const std::vector<uint8_t> *pairedRow = nullptr;
            if (q >= 0) {
                const auto pr = pair ? pair->rows.find(y) : decltype(pair->rows.end()){};
                if (!pair || pr == pair->rows.end()) return where + ": paired line missing";
                pairedRow = &pr->second;
            }
            const std::string bad = checkPatternRow(setup.tgl[p], in, left, right, row->second, pairedRow);
            if (!bad.empty()) return where + ": " + bad + " in " + hexHead(row->second, 48);
        }
        if (plane && plane->rows.size() != seen) return "plane " + std::to_string(p) + ": extra rows";
    }
    return "";
}

}  // namespace qxtest
