// Rebuilding plane rasters from a decoded stream, and their pictures.
#ifndef QX316_PREVIEW_H
#define QX316_PREVIEW_H

#include "mode.h"
#include "qx316_stream.h"

#include <csignal>
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

// Stops early (with a partial preview) when *cancel becomes non-zero.
Preview composite(const DecodedPage &page, const ModeInfo *mode, int maxHeight = 1200,
                  const volatile std::sig_atomic_t *cancel = nullptr);

// Writes the preview of the first maxPages pages (page 2 on as NAME-2.png,
// ...) and, when planesDir is not empty, one grey picture per plane and page
// into it. Each picture appears whole or not at all. Stops between pictures
// when *cancel becomes non-zero. *written receives the pages written.
struct PictureRun {
    size_t maxPages = 50;
    const volatile std::sig_atomic_t *cancel = nullptr;
    size_t written = 0;
};
bool writeDecodePictures(const DecodeResult &r, const ModeInfo *mode, const std::string &previewPath,
                         const std::string &planesDir, PictureRun &run, std::string &err);

} // namespace qx316

#endif
