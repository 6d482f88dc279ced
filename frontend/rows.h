// Row formats a host hands to the kit, and the quantiser that turns rows
// into the packed lines of the library's input planes: ink separation (with
// under-colour removal where the mode has K), error diffusion to each
// plane's levels, packing most significant pixel first.
#ifndef QX316_FRONTEND_ROWS_H
#define QX316_FRONTEND_ROWS_H

#include "mode.h"
#include "tone.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qx316 {

enum class RowFormat : int {
    Gray8,       // 1 byte a pixel: 0 black .. 255 white
    Rgb8,        // 3 bytes a pixel: R, G, B
    Cmyk8,       // 4 bytes a pixel: C, M, Y, K ink, 0 none .. 255 full
    Gray16,      // the same with 16-bit samples in host byte order,
    Rgb16,       //   taken down to 8 bits
    Cmyk16,
    K1,          // 1 bit a pixel, leftmost in the high bit, 1 = black ink
    Cmyk1Planes, // four 1-bit lines one after another: C, M, Y, K, each (width + 7) / 8 bytes
};
constexpr int kRowFormatCount = 8;

// Bytes of one row of width pixels; 0 for a width outside 1..32767.
size_t rowBytes(RowFormat f, int width);
const char *rowFormatName(RowFormat f);
// Rows already halftoned by the host: passed through without error diffusion.
bool isHalftoned(RowFormat f);

// Separates one 8-bit gray (channels 1) or RGB (3) pixel into the inks of
// the input planes (0 = none, 255 = full).
void separatePixel(const ModeInfo &mode, const uint8_t *px, int channels, uint8_t *ink);

// A colour-managed separation a host hands the Job: turns 8-bit gray or RGB
// pixels into C, M, Y, K ink, 4 bytes a pixel (0 none .. 255 full). The
// quantiser gives white pixels no ink whatever the converter says.
class InkConverter {
public:
    virtual ~InkConverter() = default;
    // n pixels of channels (1 or 3) samples each to n ink quadruples.
    virtual void convert(const uint8_t *px, int channels, uint8_t *cmyk, size_t n) const = 0;
};

// How multi-level rows are quantised. BlueNoise is what prints: a serpentine
// error diffusion in units of delivered ink over the plane's ink ladder, its
// coefficients and a threshold modulation varying with the tone. FloydSteinberg
// is the earlier quantiser, kept as the baseline that the texture tests and
// the benchmark measure against: raster order, fixed weights, in units of
// levels as if every level added the same ink.
enum class Diffusion : int { BlueNoise, FloydSteinberg };

// Turns rows of one page into packed input-plane lines. Pixel x of a row is
// pixel leftOffset + x of the line.
class RowQuantiser {
public:
    // fillAll keeps levels() and packed() filled for halftoned rows (the
    // diffusion of multi-level rows always fills them). Without it levels()
    // is left alone, and a halftoned plane that is one source plane of the
    // row as it stands (1-bit, no left offset, clean padding bits) is not
    // copied: line() then points into the row itself.
    // A converter, when given, separates gray and RGB rows in colour modes
    // (the quantiser's own separation serves black-only modes and CMYK rows).
    // The mode and the converter must outlive the quantiser.
    RowQuantiser(const ModeInfo &mode, RowFormat format, int width, int leftOffset, bool fillAll = true,
                 Diffusion diffusion = Diffusion::BlueNoise, const InkConverter *converter = nullptr);
    // Quantises one row (rowBytes(format, width) bytes); returns false when
    // the row has no ink in any plane, in which case packed() is not filled.
    // A halftoned row's source planes are each read once at most to find
    // their ink.
    bool next(const uint8_t *row);
    // A blank row: keeps the diffusion state as a white row would.
    void blank();
    // The printer line of the next row (the page's top offset before its
    // first row; 0 unless set): the scan direction and threshold modulation
    // follow the printer's raster, so a page placed at an offset prints as
    // the same page drawn with white margins.
    void setLine(uint32_t line) { row_ = line; }
    // Fills packed() and levels() with no ink (next() leaves them as they
    // were for a blank row).
    void zero();
    const std::vector<uint8_t> &packed(int plane) const { return packed_[size_t(plane)]; }
    // Whether the plane has ink in the row next() last quantised.
    bool planeInked(int plane) const { return inked_[size_t(plane)]; }
    // The packed line of an inked plane of the row next() last quantised
    // (packed() or bytes of that row, valid while the row is), else null.
    const uint8_t *line(int plane) const { return inked_[size_t(plane)] ? line_[size_t(plane)] : nullptr; }
    const std::vector<uint8_t> &levels(int plane) const { return levels_[size_t(plane)]; }
    int lineWidth() const { return leftOffset_ + width_; } // pixels of the packed lines

private:
    bool inkRow(const uint8_t *row);
    bool halftonedRow(const uint8_t *row);
    bool sourceInked(const uint8_t *row, unsigned s);
    void diffuse(int plane);
    void diffuseFloydSteinberg(int plane);
    void pack(int plane);
    template <int Bits> void packBits(int plane);

    const ModeInfo &mode_;
    const InkConverter *converter_;
    RowFormat format_;
    int width_, leftOffset_;
    bool fillAll_;
    bool errDirty_ = false;
    Diffusion diffusion_;
    uint32_t row_ = 0; // printer line of the next row: the scan direction and the modulation's seed
    // Per plane: its ink ladder, and per 8-bit ink the rungs that bracket it
    // with the diffusion's weights and threshold modulation for that tone.
    struct Tone {
        uint8_t rung;      // ladder rung at or below the ink
        int8_t lattice;    // -1: diffused; else the eighths of the pixels on rung + 1 by the ordered matrix
        uint8_t w[3];      // weights /256 to the next pixel, the one below behind, the one below ahead; below gets the rest
        int32_t mid;       // threshold between rung and rung + 1
        int32_t amp;       // threshold modulation: ink units at noise 256 (the noise is -128 .. 127)
    };
    std::vector<InkLadder> ladders_;
    std::vector<std::vector<Tone>> tones_;
    // Halftoned rows: which source planes (bit s: C, M, Y, K) ink each input
    // plane, which source planes of the current row were searched for ink
    // and which have it, the combined source bits of a plane at their pixel
    // positions on the line, and each plane's 8 pixels of a source byte as
    // packed bytes.
    unsigned sources_[QXDRO_MAX_PLANES] = {};
    int sourced_[QXDRO_MAX_PLANES] = {}; // the planes with sources; the others stay without ink
    int sourcedCount_ = 0;
    unsigned searched_ = 0, sourceInk_ = 0;
    bool inked_[QXDRO_MAX_PLANES] = {};
    bool packedDirty_[QXDRO_MAX_PLANES] = {}; // packed() holds ink from an earlier row
    const uint8_t *line_[QXDRO_MAX_PLANES] = {};
    std::vector<uint8_t> bitLine_, scratch_;
    std::vector<std::vector<uint32_t>> expand_;
    std::vector<uint8_t> px_;  // a row taken to 8-bit samples
    std::vector<uint8_t> cmyk_; // a row's ink from the converter
    std::vector<std::vector<uint8_t>> ink_, levels_, packed_;
    std::vector<std::vector<int>> err_, errNext_;
};

} // namespace qx316

#endif
