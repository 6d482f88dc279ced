// Print-mode configuration: code mappings, the two override rules
// and the lookups into PrintModeTable and ColorBitTable. Codes are compared as
// int16. A print head index outside 0..2 or a plane index outside 0..6 reads
// no table and gives 0 (unsupported).
#include "printmode_internal.h"

namespace {

using namespace qx::printmode;

bool validHead(int h) { return h >= 0 && h < kHeads; }

// Composite rule: compositeMode is 1.
bool compositeRule(int compositeMode) { return static_cast<int16_t>(compositeMode) == 1; }

// Single-plane rule: not composite, colorMode 1 or 2, head index not 1, media class 0, 1 or 5.
bool singlePlaneRule(int colorMode, int compositeMode, int h, int m) {
    const auto c = static_cast<int16_t>(colorMode);
    return !compositeRule(compositeMode) && (c == 1 || c == 2) && h != 1 && (m == 0 || m == 1 || m == 5);
}

// The ColorBitTable byte of a plane, with the quality index and media class
// in *q, *m; null (and no table read) when the head or plane index is out of
// range.
const uint8_t *planeByte(int qualityCode, int mediaCode, int plane, int h, int *q, int *m) {
    if (!validHead(h) || plane < 0 || plane >= kPlanes) return nullptr;
    *q = GetIndexPrintQuality(qualityCode);
    *m = GetIndexMediaType(mediaCode);
    return &ColorBitTable[bitIndex(h, *q, *m, plane)];
}

}  // namespace

int qx::printmode::bitDepth(int qualityCode, int mediaCode, int colorMode, int plane, int compositeMode, int head) {
    int q, m;
    const uint8_t *b = planeByte(qualityCode, mediaCode, plane, head, &q, &m);
    if (b == nullptr) return 0;
    if (compositeRule(compositeMode)) return (m == 1 && q == 2) ? 4 : (*b & 0x0F);
    if (singlePlaneRule(colorMode, compositeMode, head, m)) return 1;
    return *b & 0x0F;
}

int qx::printmode::patternType(int qualityCode, int mediaCode, int colorMode, int plane, int compositeMode,
                               int head) {
    int q, m;
    const uint8_t *b = planeByte(qualityCode, mediaCode, plane, head, &q, &m);
    if (b == nullptr) return 0;
    if (compositeRule(compositeMode)) return (m == 1 && q == 2) ? 3 : (*b >> 4);
    if (singlePlaneRule(colorMode, compositeMode, head, m)) return 0;
    return *b >> 4;
}

int16_t qx::printmode::bandHeight(int qualityCode, int mediaCode, bool bannerPaper, int firstPatternType) {
    const int q = GetIndexPrintQuality(qualityCode);
    const int m = GetIndexMediaType(mediaCode);
    const int16_t type = static_cast<int16_t>(firstPatternType);
    if (bannerPaper || (m == 0 && (q == 0 || q == 1)) || type == 5 || type == 6 || type == 7) return 8;
    return 16;
}

qx::printmode::ModeDescription qx::printmode::describe(const PrintParams &params) {
    ModeDescription d{};
    d.head = static_cast<int16_t>(getPrintHead(&params));
    d.planeMode = static_cast<int16_t>(
        getPlaneMode(params.printQuality, params.mediaType, params.colorMode, params.compositeMode, d.head));
    if (d.planeMode == 0) return d;
    const PlaneMode &mode = modeInfo(d.planeMode);
    d.in = mode.in;
    d.out = mode.out;
    d.base = mode.base;
    for (int p = 0; p < d.out && p < kPlanes; ++p) {
        d.bits[p] = static_cast<int8_t>(
            bitDepth(params.printQuality, params.mediaType, params.colorMode, p, params.compositeMode, d.head));
        d.patternType[p] = static_cast<int8_t>(
            patternType(params.printQuality, params.mediaType, params.colorMode, p, params.compositeMode, d.head));
    }
    d.bandHeight = bandHeight(params.printQuality, params.mediaType, params.bannerPaper == 1, d.patternType[0]);
    return d;
}

extern "C" {

int getPrintHead(const PrintParams *params) {
    if (params == nullptr) return 0;
    switch (params->headCode) {
        case 1: return 1;
        case 2: return 2;
        default: return 0;
    }
}

int GetIndexPrintQuality(int qualityCode) {
    switch (static_cast<int16_t>(qualityCode)) {
        case 0: return 4;
        case 5: return 3;
        case 10: return 2;
        case 15: return 1;
        default: return 0;
    }
}

int GetIndexMediaType(int mediaCode) {
    switch (static_cast<int16_t>(mediaCode)) {
        case 1: return 2;
        case 7: case 8: return 1;
        case 15: case 22: case 24: return 4;
        case 16: return 5;
        case 18: return 3;
        case 26: return 7;
        case 27: return 6;
        case 28: return 8;
        case 29: return 9;
        case 36: return 10;
        case 37: return 11;
        case 50: return 12;
        default: return 0;
    }
}

int getPlaneMode(int qualityCode, int mediaCode, int colorMode, int compositeMode, int printHead) {
    if (!validHead(printHead)) return 0;
    const int q = GetIndexPrintQuality(qualityCode);
    const int m = GetIndexMediaType(mediaCode);
    const int t = PrintModeTable[modeIndex(printHead, q, m)] & 0x0F;
    if (compositeRule(compositeMode)) {
        if (m == 0) return 2;
        if (m == 1) return q == 3 ? 7 : 2;
        return t;
    }
    if (singlePlaneRule(colorMode, compositeMode, printHead, m)) return 1;
    return t;
}

int GetBitDepth(int qualityCode, int mediaCode, int colorMode, int plane, int compositeMode,
                const OutputContext *ctx) {
    if (ctx == nullptr) return 0;
    return bitDepth(qualityCode, mediaCode, colorMode, plane, compositeMode, ctx->printHead);
}

int IsTglType(int qualityCode, int mediaCode, int colorMode, int plane, int compositeMode,
              const OutputContext *ctx) {
    if (ctx == nullptr) return 0;
    return patternType(qualityCode, mediaCode, colorMode, plane, compositeMode, ctx->printHead);
}

int getInPlaneNum(int planeMode) { return modeInfo(static_cast<int16_t>(planeMode)).in; }

int getOutPlaneNum(int planeMode) { return modeInfo(static_cast<int16_t>(planeMode)).out; }

int getBaseClrPos(int planeMode) { return modeInfo(static_cast<int16_t>(planeMode)).base; }

void setMaxRaster(OutputContext *ctx, const PrintParams *params) {
    if (ctx == nullptr || params == nullptr) return;
    ctx->bandHeight =
        bandHeight(params->printQuality, params->mediaType, params->bannerPaper == 1, ctx->planes[0].tglType);
    ctx->bcbSlots = 1;
}

}  // extern "C"
