#include "tone_measure.h"

#include "kit_options.h"
#include "qx316_stream.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <map>
#include <set>
#include <tuple>

namespace qx316tone {

namespace {

// The CMYK channel that inks a plane directly, or -1.
int channelOf(uint8_t letter) {
    switch (letter) {
    case 'C': case 0xC3: return 0;
    case 'M': case 0xCD: return 1;
    case 'Y': case 0xD9: return 2;
    case 'K': return 3;
    default: return -1;
    }
}

// In place, n a power of two.
void fft(std::vector<std::complex<double>> &a) {
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const double ang = -2 * M_PI / double(len);
        const std::complex<double> wl(std::cos(ang), std::sin(ang));
        for (size_t i = 0; i < n; i += len) {
            std::complex<double> w(1);
            for (size_t k = 0; k < len / 2; ++k, w *= wl) {
                const std::complex<double> u = a[i + k], v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
            }
        }
    }
}

} // namespace

std::vector<ToneCase> reachableCases() {
    std::vector<ToneCase> out;
    std::set<std::tuple<int, int, int, bool>> seen;
    const auto codes = [](qx316::OptionId id) {
        std::vector<int> v;
        for (const qx316::Choice &c : qx316::optionInfo(id).choices)
            v.push_back(c.code);
        return v;
    };
    for (int q : codes(qx316::OptionId::Quality))
        for (int media : codes(qx316::OptionId::Media))
            for (int head : codes(qx316::OptionId::Head))
                for (int colour : codes(qx316::OptionId::ColorMode))
                    for (bool comp : {false, true}) {
                        const qx316::PrintOptions o = qx316test::opts(q, media, head, colour, comp);
                        const qx316::ModeInfo m = qx316::queryMode(o);
                        if (!m.problem.empty())
                            continue;
                        for (int d = 0; d < m.inPlanes; ++d) {
                            // Planes 8-bit CMYK rows ink as they come.
                            if (channelOf(m.letters[d]) < 0 || (d >= 3 && d != m.kIndex))
                                continue;
                            const bool paired = qx316::pairedPlane(m, d) >= 0;
                            if (!seen.insert({m.planeMode, m.bits[d], m.tgl[d], paired}).second)
                                continue;
                            ToneCase c;
                            c.name = "mode " + std::to_string(m.planeMode) + ", " + qx316::planeLabel(m.letters[d]) +
                                     " " + std::to_string(m.bits[d]) + "-bit type " + std::to_string(m.tgl[d]) +
                                     (paired ? " paired" : "");
                            c.opt = o;
                            c.mode = m;
                            c.plane = d;
                            out.push_back(c);
                        }
                    }
    return out;
}

double Patches::mean(size_t i) const {
    double s = 0;
    for (double v : ink[i])
        s += v;
    return ink[i].empty() ? 0 : s / double(ink[i].size());
}

Patches printPatches(const ToneCase &c, const std::vector<int> &inks, int size, int margin, qx316::Diffusion how) {
    Patches out;
    out.size = size;
    const qx316::ModeInfo &m = c.mode;
    const int width = size + 2 * margin, pitch = size + margin;
    const int channel = m.planeMode == 1 ? 3 : channelOf(m.letters[c.plane]);
    qx316::Job job(c.opt);
    job.diffusion = how;
    std::vector<uint8_t> stream;
    int rc = job.begin([&](const uint8_t *d, size_t n) {
        stream.insert(stream.end(), d, d + n);
        return true;
    });
    const qx316::PageShape shape{width, pitch * int(inks.size()), qx316::RowFormat::Cmyk8, 0, 0};
    rc = rc ? rc : qx316::printPage(job, shape, [&](int y, uint8_t *row) {
        std::fill(row, row + 4 * width, 0);
        for (int x = 0; x < width; ++x)
            row[4 * x + channel] = uint8_t(inks[size_t(y / pitch)]);
    });
    rc = rc ? rc : job.end();
    if (rc != qx316::kOk) {
        out.error = c.name + ": " + job.error();
        return out;
    }
    const qx316::DecodeResult r = qx316::decodeStream(stream.data(), stream.size());
    if (!r.ok || r.pages.size() != 1) {
        out.error = c.name + ": the stream does not decode: " + r.error;
        return out;
    }
    // The plane and its pair, each with its share of the plane's ink per dot
    // value; the pair's bytes come from the plane's own patterns.
    const int pair = qx316::pairedPlane(m, c.plane);
    struct Source { const qx316::DecodedPlane *rows; double perDot; };
    std::vector<Source> sources;
    for (int o : {c.plane, pair})
        if (o >= 0)
            if (const qx316::DecodedPlane *p = r.pages[0].plane(m.letters[o]))
                sources.push_back({p, o == c.plane ? 1.0 : qx316::kPairDotInk});
    const int pixelBits = qx316::streamBitsPerPixel(m.bits[c.plane], m.tgl[c.plane]);
    const int dotBits = qx316::bitsPerDot(m.bits[c.plane], m.tgl[c.plane]);
    for (size_t i = 0; i < inks.size(); ++i) {
        std::vector<double> ink(size_t(size) * size_t(size), 0.0);
        for (const Source &s : sources)
            for (int y = 0; y < size; ++y) {
                const auto it = s.rows->rows.find(int64_t(i) * pitch + margin + y);
                if (it == s.rows->rows.end())
                    continue;
                const std::vector<uint8_t> &line = it->second;
                for (int x = 0; x < size; ++x) {
                    double dots = 0;
                    const size_t first = size_t(x + margin) * size_t(pixelBits);
                    for (size_t b = first; b < first + size_t(pixelBits); b += size_t(dotBits)) {
                        unsigned v = 0;
                        for (size_t k = b; k < b + size_t(dotBits); ++k)
                            v = v << 1 | (k / 8 < line.size() ? (line[k / 8] >> (7 - k % 8)) & 1u : 0u);
                        dots += v;
                    }
                    ink[size_t(y) * size_t(size) + size_t(x)] += s.perDot * dots;
                }
            }
        out.ink.push_back(std::move(ink));
    }
    out.ok = true;
    return out;
}

double Ramp::worstError() const {
    double worst = 0;
    for (size_t i = 0; i < requested.size(); ++i)
        worst = std::max(worst, std::abs(delivered[i] - requested[i]));
    return worst;
}

bool Ramp::monotonic() const {
    for (size_t i = 1; i < delivered.size(); ++i)
        if (!(delivered[i] > delivered[i - 1]))
            return false;
    return true;
}

Ramp measureRamp(const ToneCase &c, qx316::Diffusion how, int steps, int size) {
    Ramp out;
    std::vector<int> inks;
    for (int i = 0; i < steps; ++i)
        inks.push_back(int(std::lround(255.0 * i / (steps - 1))));
    const Patches p = printPatches(c, inks, size, 16, how);
    if (!p.ok) {
        out.error = p.error;
        return out;
    }
    out.fullDots = p.mean(inks.size() - 1);
    if (out.fullDots <= 0) {
        out.error = c.name + ": full ink lays no dots";
        return out;
    }
    for (size_t i = 0; i < inks.size(); ++i) {
        out.requested.push_back(100.0 * inks[i] / 255);
        out.delivered.push_back(100.0 * p.mean(i) / out.fullDots);
    }
    out.ok = true;
    return out;
}

Texture measureTexture(const std::vector<double> &ink, int size, double fullInk) {
    Texture t;
    const int n = kBlock, half = n / 2;
    std::vector<double> power(size_t(n) * size_t(n), 0.0);
    int blocks = 0;
    std::vector<std::complex<double>> a(size_t(n) * size_t(n));
    std::vector<std::complex<double>> line(static_cast<size_t>(n));
    for (int by = 0; by + n <= size; by += n)
        for (int bx = 0; bx + n <= size; bx += n) {
            double mean = 0;
            for (int y = 0; y < n; ++y)
                for (int x = 0; x < n; ++x)
                    mean += ink[size_t(by + y) * size_t(size) + size_t(bx + x)] / fullInk;
            mean /= n * n;
            for (int y = 0; y < n; ++y)
                for (int x = 0; x < n; ++x)
                    a[size_t(y * n + x)] = ink[size_t(by + y) * size_t(size) + size_t(bx + x)] / fullInk - mean;
            for (int y = 0; y < n; ++y) {
                std::copy_n(a.begin() + y * n, n, line.begin());
                fft(line);
                std::copy_n(line.begin(), n, a.begin() + y * n);
            }
            for (int x = 0; x < n; ++x) {
                for (int y = 0; y < n; ++y)
                    line[size_t(y)] = a[size_t(y * n + x)];
                fft(line);
                for (int y = 0; y < n; ++y)
                    power[size_t(y * n + x)] += std::norm(line[size_t(y)]) / (n * n);
            }
            ++blocks;
        }
    for (double &p : power)
        p /= blocks;
    // Rings of width 1/n cycle per pixel; the corners past n/2 count in the
    // totals but form no ring.
    std::vector<double> sum(size_t(half) + 1, 0.0), sumSq(size_t(half) + 1, 0.0);
    std::vector<int> count(size_t(half) + 1, 0);
    for (int v = 0; v < n; ++v)
        for (int u = 0; u < n; ++u) {
            if (u == 0 && v == 0)
                continue;
            const int fu = u <= half ? u : u - n, fv = v <= half ? v : v - n;
            const double rho = std::sqrt(double(fu * fu + fv * fv));
            const double p = power[size_t(v * n + u)] / (n * n);
            t.variance += p;
            if (rho < kLowCutoff * n)
                t.lowEnergy += p;
            const int ring = int(std::lround(rho));
            if (ring <= half) {
                sum[size_t(ring)] += power[size_t(v * n + u)];
                sumSq[size_t(ring)] += power[size_t(v * n + u)] * power[size_t(v * n + u)];
                ++count[size_t(ring)];
            }
        }
    t.lowShare = t.variance > 0 ? t.lowEnergy / t.variance : 0;
    t.radial.assign(size_t(half) + 1, 0.0);
    double aniso = 0;
    int rings = 0;
    for (int r = 1; r <= half; ++r) {
        if (count[size_t(r)] == 0)
            continue;
        const double mu = sum[size_t(r)] / count[size_t(r)];
        t.radial[size_t(r)] = mu;
        if (r >= int(kLowCutoff * n) && mu > 0) {
            aniso += (sumSq[size_t(r)] / count[size_t(r)] - mu * mu) / (mu * mu);
            ++rings;
        }
    }
    t.anisotropyDb = rings && aniso > 0 ? 10 * std::log10(aniso / rings) : -99;
    return t;
}

TextureRun measureTextures(const ToneCase &c, qx316::Diffusion how, int size, int shift) {
    TextureRun out;
    for (int k = 1; k < 16; ++k)
        out.inks.push_back(int(std::lround(255.0 * k / 16)) + shift);
    std::vector<int> inks = out.inks;
    inks.push_back(255);
    const Patches p = printPatches(c, inks, size, 32, how);
    if (!p.ok) {
        out.error = p.error;
        return out;
    }
    const double full = p.mean(inks.size() - 1);
    for (size_t i = 0; i + 1 < inks.size(); ++i)
        out.textures.push_back(measureTexture(p.ink[i], size, full));
    out.ok = true;
    return out;
}

} // namespace qx316tone
