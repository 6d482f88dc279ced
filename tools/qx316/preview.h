// Rebuilding plane rasters from a decoded stream, and their pictures.
#ifndef QX316_PREVIEW_H
#define QX316_PREVIEW_H

#include "mode.h"
#include "qx316_stream.h"

#include <string>
#include <vector>

namespace qx316 {

// How the stream bits of one plane become dots and pixels.
struct PlaneLayout {
    int pixelBits = 1; // stream bits per front-end pixel
    int dotBits = 1;   // bits per printed dot
};

// The layout of every plane letter under a print mode; without a mode every
// bit is a dot and a pixel.
PlaneLayout layoutFor(uint8_t letter, const ModeInfo *mode);

// A plane's dots: one value (0 .. 2^dotBits - 1) per dot, lines x dotsWide.
struct PlaneDots {
    uint8_t letter = 0;
    int dotBits = 1;
    int64_t dotsWide = 0;
    int64_t lines = 0;
    std::vector<uint8_t> dots;
};

PlaneDots rebuildPlane(const DecodedPage &page, const DecodedPlane &plane, const PlaneLayout &layout);

// Composite colour preview of a page: inks over white paper, subtractive,
// at the page's aspect with at most maxHeight rows (and 4 x maxHeight columns).
struct Preview {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
};

Preview composite(const DecodedPage &page, const ModeInfo *mode, int maxHeight = 1200);

// Writes the preview of every page (page 2 on as NAME-2.png, ...) and, when
// planesDir is not empty, one grey picture per plane and page into it.
bool writeDecodePictures(const DecodeResult &r, const ModeInfo *mode, const std::string &previewPath,
                         const std::string &planesDir, std::string &err);

} // namespace qx316

#endif
