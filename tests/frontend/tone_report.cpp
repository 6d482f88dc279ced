// Prints the tone curves and texture figures of the kit's quantisers as
// Markdown tables (the figures of docs/tone.md) and, given a file name,
// writes the curves as an SVG plot.
//
//   build/native/tests/frontend/tone_report [curves.svg] > figures.md
#include "tone_measure.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

using qx316::Diffusion;

namespace {

// A patch with no power off the corner ring (one flat level, or a perfect
// checkerboard) has no anisotropy to give.
std::string dB(double v) {
    if (v <= -99)
        return "none";
    char b[32];
    std::snprintf(b, sizeof b, "%.1f", v);
    return b;
}

} // namespace

int main(int argc, char **argv) {
    const std::vector<qx316tone::ToneCase> cases = qx316tone::reachableCases();
    std::vector<qx316tone::Ramp> ramps;
    std::printf("# Tone and texture figures\n\nMade by tests/frontend/tone_report (docs/tone.md says how); re-run it "
                "rather than edit this file.\n\n");
    std::printf("## Delivered ink against ink asked for (per cent of full ink)\n\n");
    for (const qx316tone::ToneCase &c : cases) {
        const qx316tone::Ramp fs = qx316tone::measureRamp(c, Diffusion::FloydSteinberg);
        const qx316tone::Ramp bn = qx316tone::measureRamp(c, Diffusion::BlueNoise);
        if (!fs.ok || !bn.ok) {
            std::fprintf(stderr, "ERROR: %s\n", (fs.ok ? bn : fs).error.c_str());
            return 1;
        }
        std::printf("### %s (options: quality %d, media %d, head %d, colour mode %d%s)\n\n", c.name.c_str(),
                    c.opt.quality, c.opt.media, c.opt.head, c.opt.colorMode, c.opt.composite ? ", composite" : "");
        std::printf("Full ink: %.3f dots a pixel. Worst error: Floyd-Steinberg %.2f, now %.2f; monotonic: %s, now %s.\n\n",
                    bn.fullDots, fs.worstError(), bn.worstError(), fs.monotonic() ? "yes" : "no",
                    bn.monotonic() ? "yes" : "no");
        std::printf("| asked | Floyd-Steinberg | now |\n|---:|---:|---:|\n");
        for (size_t i = 0; i < bn.requested.size(); ++i)
            std::printf("| %.2f | %.2f | %.2f |\n", bn.requested[i], fs.delivered[i], bn.delivered[i]);
        std::printf("\n");
        ramps.push_back(fs);
        ramps.push_back(bn);
    }
    std::printf("## Texture of flat patches\n\n");
    std::printf("Low-frequency energy: variance of the ink (full ink = 1) below %.3f cycles a pixel, x 1e-4; "
                "share: of the whole variance; anisotropy: dB.\n\n", qx316tone::kLowCutoff);
    for (const qx316tone::ToneCase &c : cases) {
        const qx316tone::TextureRun fs = qx316tone::measureTextures(c, Diffusion::FloydSteinberg);
        const qx316tone::TextureRun bn = qx316tone::measureTextures(c, Diffusion::BlueNoise);
        if (!fs.ok || !bn.ok) {
            std::fprintf(stderr, "ERROR: %s\n", (fs.ok ? bn : fs).error.c_str());
            return 1;
        }
        std::printf("### %s\n\n| ink | low FS | low now | share FS | share now | anisotropy FS | anisotropy now |\n"
                    "|---:|---:|---:|---:|---:|---:|---:|\n", c.name.c_str());
        for (size_t i = 0; i < fs.inks.size(); ++i) {
            const qx316tone::Texture &a = fs.textures[i], &b = bn.textures[i];
            std::printf("| %zu/16 | %.3f | %.3f | %.3f | %.3f | %s | %s |\n", i + 1, a.lowEnergy * 1e4,
                        b.lowEnergy * 1e4, a.lowShare, b.lowShare, dB(a.anisotropyDb).c_str(), dB(b.anisotropyDb).c_str());
        }
        std::printf("\n");
    }
    // The sixteenths above are the tones the diffusion's sets were chosen
    // on; every code from 9 to 247 shows how it does between them.
    std::printf("## Texture at every code\n\nEvery ink code from 9 to 247 (the sixteenths shifted by -7 .. +8 codes; 136 twice), "
                "512 x 512 patches: codes where the low-frequency energy is above Floyd-Steinberg's, the energy "
                "summed over all codes against Floyd-Steinberg's, and the largest ratio.\n\n"
                "| case | above | summed now / FS | worst now / FS (code) |\n|---|---:|---:|---:|\n");
    for (const qx316tone::ToneCase &c : cases) {
        double sumFs = 0, sumNow = 0, worst = 0;
        int above = 0, worstInk = 0;
        for (int shift = -7; shift <= 8; ++shift) {
            const qx316tone::TextureRun fs = qx316tone::measureTextures(c, Diffusion::FloydSteinberg, 512, shift);
            const qx316tone::TextureRun bn = qx316tone::measureTextures(c, Diffusion::BlueNoise, 512, shift);
            if (!fs.ok || !bn.ok) {
                std::fprintf(stderr, "ERROR: %s\n", (fs.ok ? bn : fs).error.c_str());
                return 1;
            }
            for (size_t i = 0; i < fs.inks.size(); ++i) {
                const double a = fs.textures[i].lowEnergy, b = bn.textures[i].lowEnergy;
                sumFs += a;
                sumNow += b;
                above += b > a;
                if (a > 0 && b / a > worst) {
                    worst = b / a;
                    worstInk = fs.inks[i];
                }
            }
        }
        std::printf("| %s | %d of 240 | %.2f | %.2f (%d) |\n", c.name.c_str(), above, sumNow / sumFs, worst, worstInk);
    }
    std::printf("\n");
    if (argc > 1) {
        // One panel per case: asked (x, 0 .. 100 %) against delivered (y,
        // 0 .. 150 %, higher drawn at the top), the baseline orange, now
        // black, asked = delivered dotted.
        const int panel = 200, pad = 30, cols = 4;
        const int rows = int((cases.size() + cols - 1) / cols);
        std::ofstream svg(argv[1]);
        svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << cols * (panel + pad) + pad << "\" height=\""
            << rows * (panel + 2 * pad) + pad << "\" font-family=\"sans-serif\" font-size=\"10\">\n"
            << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
        for (size_t k = 0; k < cases.size(); ++k) {
            const int x0 = pad + int(k % cols) * (panel + pad), y0 = 2 * pad + int(k / cols) * (panel + 2 * pad);
            svg << "<text x=\"" << x0 << "\" y=\"" << y0 - 8 << "\">" << cases[k].name << "</text>\n"
                << "<rect x=\"" << x0 << "\" y=\"" << y0 << "\" width=\"" << panel << "\" height=\"" << panel
                << "\" fill=\"none\" stroke=\"#888\"/>\n"
                << "<line x1=\"" << x0 << "\" y1=\"" << y0 + panel << "\" x2=\"" << x0 + panel << "\" y2=\""
                << y0 + panel / 3 << "\" stroke=\"#aaa\" stroke-dasharray=\"2,3\"/>\n";
            for (int which = 0; which < 2; ++which) {
                const qx316tone::Ramp &r = ramps[2 * k + size_t(which)];
                svg << "<polyline fill=\"none\" stroke=\"" << (which ? "black" : "#e07000") << "\" points=\"";
                for (size_t i = 0; i < r.requested.size(); ++i)
                    svg << x0 + r.requested[i] * panel / 100 << ','
                        << y0 + panel - std::min(r.delivered[i], 150.0) * panel / 150 << ' ';
                svg << "\"/>\n";
            }
        }
        svg << "<text x=\"" << pad << "\" y=\"14\">delivered (up, 0..150 %) against asked (across, 0..100 %): "
            << "Floyd-Steinberg orange, now black</text>\n</svg>\n";
        if (!svg) {
            std::fprintf(stderr, "ERROR: cannot write %s\n", argv[1]);
            return 1;
        }
    }
    return 0;
}
