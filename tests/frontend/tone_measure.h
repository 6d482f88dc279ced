// Tone and halftone texture as the printer would lay them: flat patches of
// one ink printed through the kit (8-bit CMYK rows), the stream read back by
// the stream decoder, and the ink of every pixel counted from the decoded
// dots. Serves the tone tests and the report that docs/tone.md is made from.
//
// Ink model (the kit's, see tone.h): a dot lays one unit of its plane's ink,
// a plain multi-bit dot of value v lays v units, a dot on the paired plane of
// a pattern-type-4 plane lays kPairDotInk units of the main plane's ink.
#ifndef QX316_TESTS_TONE_MEASURE_H
#define QX316_TESTS_TONE_MEASURE_H

#include "job.h"

#include <string>
#include <vector>

namespace qx316tone {

// One plane mode and pattern type, and the options that reach it.
struct ToneCase {
    std::string name;  // "mode 9, C 4-bit type 4 paired"
    qx316::PrintOptions opt;
    qx316::ModeInfo mode;
    int plane;         // input plane measured
};

// One case for every (plane mode, bits, pattern type, paired) that some
// combination of quality, media, head, colour mode and composite reaches,
// measured on the first input plane that has it and that 8-bit CMYK inks
// directly.
std::vector<ToneCase> reachableCases();

// Per-pixel ink of one input plane over a stack of flat patches: patch i has
// ink inks[i] (0 .. 255) and is measured over size x size pixels after a
// margin of `margin` pixels left, right and above it, where the diffusion
// settles. ink is in dots of the plane's own ink (pairs counted in).
struct Patches {
    bool ok = false;
    std::string error;
    int size = 0;
    std::vector<std::vector<double>> ink;  // per patch, size * size values, row by row
    double mean(size_t i) const;
};

Patches printPatches(const ToneCase &c, const std::vector<int> &inks, int size, int margin,
                     qx316::Diffusion how);

// A ramp of steps patches (0 .. 255 evenly): delivered ink against ink asked
// for, both in per cent of full ink; delivered is normalised by the full
// patch, so 100 % is what full ink lays.
struct Ramp {
    bool ok = false;
    std::string error;
    std::vector<double> requested, delivered;
    double fullDots = 0;  // dots of the plane's ink per pixel at full ink
    double worstError() const;  // largest |delivered - requested|, per cent
    bool monotonic() const;     // delivered strictly increases from step to step
};

Ramp measureRamp(const ToneCase &c, qx316::Diffusion how, int steps = 33, int size = 64);

// Texture of a flat patch, from the periodogram of its ink (in units of full
// ink) averaged over 64 x 64 blocks. Radial frequency in cycles per pixel.
struct Texture {
    double variance = 0;        // of the ink about its mean
    double lowEnergy = 0;       // part of the variance below kLowCutoff
    double lowShare = 0;        // lowEnergy / variance
    double anisotropyDb = 0;    // ring variance over squared ring mean, averaged over rings at or above kLowCutoff, in dB
    std::vector<double> radial; // radially averaged power per ring of 1/64 cycle per pixel (ring 0 = DC, left 0)
};

constexpr double kLowCutoff = 1.0 / 8;  // cycles per pixel
constexpr int kBlock = 64;

Texture measureTexture(const std::vector<double> &ink, int size, double fullInk);

// Textures of the patches at 1/16, 2/16, ... 15/16 of full ink, each moved
// by `shift` codes, one plane, each size x size pixels. At 1024 (256 blocks)
// a tone's low-frequency energy moves by a few per cent with the error the
// patch above leaves behind; at 256 (16 blocks) it moved by up to a fifth,
// as much as the differences between the diffusions at the mid-tones.
struct TextureRun {
    bool ok = false;
    std::string error;
    std::vector<int> inks;
    std::vector<Texture> textures;
};

TextureRun measureTextures(const ToneCase &c, qx316::Diffusion how, int size = 1024, int shift = 0);

} // namespace qx316tone

#endif
