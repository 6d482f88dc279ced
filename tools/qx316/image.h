// Page images for the qx316 tool: PNG and PNM reading, PNG writing.
#ifndef QX316_IMAGE_H
#define QX316_IMAGE_H

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

namespace qx316 {

// A page as 8-bit samples, row-major: 1 channel (gray) or 3 (RGB).
struct Image {
    int width = 0;
    int height = 0;
    int channels = 0;
    std::vector<uint8_t> pixels;
    std::vector<uint8_t> iccProfile; // a PNG's embedded ICC profile (iCCP), if any
};

// Largest page the tool reads: the library's line width is a signed 16-bit
// pixel count, and the sample budget keeps a hostile header from asking for
// gigabytes.
constexpr int kMaxImageWidth = 32767;
constexpr int kMaxImageHeight = 1 << 21;
constexpr int64_t kMaxImageSamples = int64_t(1) << 30;
// Largest file the tool reads (a page or a printer stream), whole, into memory.
constexpr size_t kMaxInputBytes = size_t(512) << 20;

// Reads a PNG (gray, gray+alpha, RGB, RGBA; 8 or 16 bits; alpha over white)
// or a PNM (P4, P5, P6) from memory, by its signature, with a PNG's
// embedded ICC profile (at most kMaxEmbeddedProfileBytes; a larger one is
// left out). False with err set
// for anything else, a damaged file or bytes after its end, and for a page
// wider than maxWidth pixels, which is refused before any pixel is decoded.
// Memory is bounded by what the data holds: a header alone allocates nothing.
bool readImage(const uint8_t *data, size_t size, Image &out, std::string &err, int maxWidth = kMaxImageWidth);

// Reads a whole file ("-" = standard input) of at most kMaxInputBytes.
bool readFileBytes(const std::string &path, std::vector<uint8_t> &bytes, std::string &err);
// Reads a whole file and decodes it as readImage does.
bool readImageFile(const std::string &path, Image &out, std::string &err, int maxWidth = kMaxImageWidth);

// Writes 8-bit gray (channels 1) or RGB (channels 3) samples as a PNG, whole
// or not at all (a temporary file renamed into place). Stops with err
// "cancelled" when *cancel becomes non-zero.
bool writePng(const std::string &path, int width, int height, int channels, const uint8_t *pixels,
              std::string &err, const volatile std::sig_atomic_t *cancel = nullptr);

} // namespace qx316

#endif
