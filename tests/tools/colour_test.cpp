// Colour management through the kit: an sRGB chart printed through the
// built-in ink profile, decoded from the printer stream, the dots' coverage
// of each plane turned back into colour by the same ink model, compared with
// the chart by CIE delta E 2000. Also: white costs no ink, the intents and
// embedded page profiles reach the transform, bad profiles are refused.
#include "colour.h"
#include "ink_model.h"
#include "job.h"
#include "preview.h"
#include "qx316_stream.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <vector>

#include <unistd.h>

namespace {

constexpr int kPatch = 40;  // chart patch side in pixels
constexpr int kBorder = 4;  // pixels of each patch edge left out of its measure
constexpr int kSteps[] = {0, 64, 128, 191, 255};
constexpr int kPerRow = 25;

// The chart: every mix of kSteps in R, G and B, then 16 grays.
std::vector<std::array<uint8_t, 3>> chartColours() {
    std::vector<std::array<uint8_t, 3>> c;
    for (int r : kSteps)
        for (int g : kSteps)
            for (int b : kSteps)
                c.push_back({uint8_t(r), uint8_t(g), uint8_t(b)});
    for (int v = 0; v < 256; v += 17)
        c.push_back({uint8_t(v), uint8_t(v), uint8_t(v)});
    return c;
}

// Wraps a converter to break it the ways a wrong transform would.
class Broken final : public qx316::InkConverter {
public:
    Broken(std::shared_ptr<const qx316::InkConverter> in, std::function<void(uint8_t *)> f)
        : in_(std::move(in)), f_(std::move(f)) {}
    void convert(const uint8_t *px, int ch, uint8_t *cmyk, size_t n) const override {
        in_->convert(px, ch, cmyk, n);
        for (size_t i = 0; i < n; ++i)
            f_(cmyk + 4 * i);
    }

private:
    std::shared_ptr<const qx316::InkConverter> in_;
    std::function<void(uint8_t *)> f_;
};

struct Measured {
    std::vector<std::array<double, 4>> cover; // C, M, Y, K coverage of each patch
    std::vector<uint8_t> stream;
};

qx316::PrintOptions oneBitMode() {
    // Quality code 3, media code 0: four 1-bit planes C, M, Y, K, a dot a pixel.
    qx316::PrintOptions o;
    o.quality = 3;
    o.media = 0;
    return o;
}

// Prints the chart with the converter and measures every patch's coverage.
Measured printChart(const std::vector<std::array<uint8_t, 3>> &colours,
                    std::shared_ptr<const qx316::InkConverter> conv) {
    Measured m;
    qx316::Job job(oneBitMode());
    job.setInkConverter(std::move(conv));
    const int rows = int((colours.size() + kPerRow - 1) / kPerRow);
    const int w = kPerRow * kPatch, h = rows * kPatch;
    EXPECT_EQ(job.begin([&](const uint8_t *d, size_t n) {
        m.stream.insert(m.stream.end(), d, d + n);
        return true;
    }), qx316::kOk) << job.error();
    const int rc = qx316::printPage(job, {w, h, qx316::RowFormat::Rgb8}, [&](int y, uint8_t *row) {
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y / kPatch) * kPerRow + size_t(x / kPatch);
            const std::array<uint8_t, 3> c = i < colours.size() ? colours[i] : std::array<uint8_t, 3>{255, 255, 255};
            std::copy(c.begin(), c.end(), row + 3 * x);
        }
    });
    EXPECT_EQ(rc, qx316::kOk) << job.error();
    EXPECT_EQ(job.end(), qx316::kOk) << job.error();
    const qx316::ModeInfo mode = job.mode();
    EXPECT_EQ(mode.planeMode, 5);
    const qx316::DecodeResult r = qx316::decodeStream(m.stream.data(), m.stream.size());
    EXPECT_TRUE(r.ok) << r.error;
    if (!r.ok || r.pages.empty())
        return m;
    m.cover.assign(colours.size(), {0, 0, 0, 0});
    const uint8_t letters[4] = {'C', 'M', 'Y', 'K'};
    for (int ink = 0; ink < 4; ++ink) {
        const qx316::DecodedPlane *plane = r.pages[0].plane(letters[ink]);
        if (!plane)
            continue; // no dot of this ink on the page
        const qx316::PlaneDots dots =
            qx316::rebuildPlane(r.pages[0], *plane, qx316::layoutFor(letters[ink], &mode));
        for (size_t i = 0; i < colours.size(); ++i) {
            const int x0 = int(i % kPerRow) * kPatch + kBorder, y0 = int(i / kPerRow) * kPatch + kBorder;
            int on = 0, all = 0;
            for (int y = y0; y < y0 + kPatch - 2 * kBorder; ++y)
                for (int x = x0; x < x0 + kPatch - 2 * kBorder; ++x, ++all)
                    if (y < dots.lines && x < dots.dotsWide && dots.dots[size_t(y * dots.dotsWide + x)])
                        ++on;
            m.cover[i][size_t(ink)] = double(on) / all;
        }
    }
    return m;
}

struct Score {
    double mean = 0, worst = 0;
    int inGamut = 0;
};

// Delta E 2000 between each in-gamut chart colour (sRGB, relative
// colorimetric) and what the ink model makes of the patch's coverage.
Score score(const std::vector<std::array<uint8_t, 3>> &colours, const Measured &m) {
    cmsHPROFILE srgb = cmsCreate_sRGBProfile(), lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM t = cmsCreateTransform(srgb, TYPE_RGB_8, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    const qx316::InkModel model(qx316::inkModelFor(0));
    Score s;
    for (size_t i = 0; i < colours.size() && i < m.cover.size(); ++i) {
        cmsCIELab want;
        cmsDoTransform(t, colours[i].data(), &want, 1);
        double inks[4];
        if (model.invert({want.L, want.a, want.b}, true, inks) > 1.0)
            continue; // outside what the inks make
        const qx316::Lab got = model.relativeLab(m.cover[i].data());
        const cmsCIELab g = {got.L, got.a, got.b};
        const double de = cmsCIE2000DeltaE(&want, &g, 1, 1, 1);
        s.mean += de;
        s.worst = std::max(s.worst, de);
        ++s.inGamut;
    }
    if (s.inGamut)
        s.mean /= s.inGamut;
    cmsDeleteTransform(t);
    cmsCloseProfile(srgb);
    cmsCloseProfile(lab);
    return s;
}

std::shared_ptr<const qx316::InkConverter> converter(qx316::Intent intent, const qx316::PrintOptions &o) {
    qx316::ColourSettings s;
    s.intent = intent;
    std::string err;
    auto c = qx316::makeInkConverter(s, qx316::queryMode(o), o.media, err);
    EXPECT_TRUE(c) << err;
    return c;
}

// Bounds a sound transform meets with room to spare and each broken one
// below misses (their figures are printed too).
constexpr double kMeanBound = 1.5, kWorstBound = 5.0;

TEST(Colour, RoundTripThroughTheModelProfile) {
    const auto colours = chartColours();
    const auto good = converter(qx316::Intent::Relative, oneBitMode());
    ASSERT_TRUE(good);
    enum Expect { Sound, Fails, Moves };
    const struct {
        const char *name;
        std::shared_ptr<const qx316::InkConverter> conv;
        Expect expect;
    } cases[] = {
        {"relative colorimetric", good, Sound},
        {"C and M swapped", std::make_shared<Broken>(good, [](uint8_t *p) { std::swap(p[0], p[1]); }), Fails},
        {"K lost", std::make_shared<Broken>(good, [](uint8_t *p) { p[3] = 0; }), Fails},
        {"the kit's own separation", nullptr, Fails},
        // Perceptual presses the chart into the gamut: in-gamut colours move.
        {"perceptual", converter(qx316::Intent::Perceptual, oneBitMode()), Moves},
    };
    double relativeMean = 0;
    for (const auto &c : cases) {
        const Measured m = printChart(colours, c.conv);
        ASSERT_EQ(m.cover.size(), colours.size()) << c.name;
        const Score s = score(colours, m);
        std::printf("[ colour   ] %-44s in-gamut patches %d of %zu, delta E 2000 mean %.2f, worst %.2f\n", c.name,
                    s.inGamut, colours.size(), s.mean, s.worst);
        EXPECT_GE(s.inGamut, 20) << c.name;
        if (c.expect == Sound) {
            EXPECT_LT(s.mean, kMeanBound) << c.name;
            EXPECT_LT(s.worst, kWorstBound) << c.name;
            relativeMean = s.mean;
        } else if (c.expect == Fails) {
            EXPECT_TRUE(s.mean >= kMeanBound || s.worst >= kWorstBound)
                << c.name << ": a broken transform passed, mean " << s.mean << " worst " << s.worst;
        } else {
            EXPECT_GT(s.mean, relativeMean + 0.5) << c.name << ": the intent did not reach the transform";
        }
        // Paper white (the first patch is black, the 125th white) costs no ink.
        const size_t white = 124;
        ASSERT_EQ(colours[white], (std::array<uint8_t, 3>{255, 255, 255}));
        if (c.conv == good) {
            for (int ink = 0; ink < 4; ++ink)
                EXPECT_EQ(m.cover[white][size_t(ink)], 0.0) << c.name << " ink " << ink;
        }
    }
}

} // namespace

namespace {

std::vector<uint8_t> saved(cmsHPROFILE p) {
    cmsUInt32Number n = 0;
    cmsSaveProfileToMem(p, nullptr, &n);
    std::vector<uint8_t> b(n);
    cmsSaveProfileToMem(p, b.data(), &n);
    cmsCloseProfile(p);
    return b;
}

std::vector<uint8_t> printRow(const std::shared_ptr<const qx316::InkConverter> &conv, qx316::RowFormat f,
                              const std::vector<uint8_t> &row, int width) {
    std::vector<uint8_t> out;
    qx316::Job job(oneBitMode());
    job.setInkConverter(conv);
    EXPECT_EQ(job.begin([&](const uint8_t *d, size_t n) {
        out.insert(out.end(), d, d + n);
        return true;
    }), qx316::kOk);
    EXPECT_EQ(qx316::printPage(job, {width, 16, f}, [&](int, uint8_t *r) { std::copy(row.begin(), row.end(), r); }),
              qx316::kOk) << job.error();
    EXPECT_EQ(job.end(), qx316::kOk);
    return out;
}

// Profiles the converter takes and refuses, as ink profile and as page profile.
TEST(Colour, ProfilesCheckedAtTheDoor) {
    const qx316::ModeInfo mode = qx316::queryMode(oneBitMode());
    const std::vector<uint8_t> srgb = saved(cmsCreate_sRGBProfile());
    const std::vector<uint8_t> lab = saved(cmsCreateLab4Profile(nullptr));
    const std::vector<uint8_t> model = qx316::modelProfile(0, true);
    std::vector<uint8_t> cut(model.begin(), model.begin() + 200);
    std::vector<uint8_t> junk(4000, 0x5A);
    std::vector<uint8_t> huge(qx316::kMaxEmbeddedProfileBytes + 1, 0);
    const struct {
        const char *name;
        const std::vector<uint8_t> *ink, *page;
        const char *error; // a word of the message; null: accepted
    } cases[] = {
        {"built-in", nullptr, nullptr, nullptr},
        {"model profile given", &model, nullptr, nullptr},
        {"sRGB page profile", nullptr, &srgb, nullptr},
        {"RGB profile as ink profile", &srgb, nullptr, "CMYK"},
        {"truncated ink profile", &cut, nullptr, "readable"},
        {"junk ink profile", &junk, nullptr, "readable"},
        {"CMYK page profile", nullptr, &model, "gray or RGB"},
        {"Lab page profile", nullptr, &lab, "gray or RGB"},
        {"junk page profile", nullptr, &junk, "readable"},
        {"oversized page profile", nullptr, &huge, "larger"},
    };
    for (const auto &c : cases) {
        qx316::ColourSettings s;
        if (c.ink)
            s.inkProfile = *c.ink;
        if (c.page)
            s.pageProfile = *c.page;
        std::string err;
        const auto conv = qx316::makeInkConverter(s, mode, 0, err);
        if (!c.error) {
            EXPECT_TRUE(conv) << c.name << ": " << err;
        } else {
            EXPECT_FALSE(conv) << c.name;
            EXPECT_NE(err.find(c.error), std::string::npos) << c.name << ": " << err;
        }
    }
}

// A page profile reaches the transform: the sRGB profile given as the
// page's gives the ink no profile gives, a gray profile of another tone curve
// prints gray rows otherwise; gray rows print as the same sRGB grays in RGB.
TEST(Colour, PageProfilesAndGrayRows) {
    const qx316::ModeInfo mode = qx316::queryMode(oneBitMode());
    std::string err;
    qx316::ColourSettings plain;
    const auto byDefault = qx316::makeInkConverter(plain, mode, 0, err);
    ASSERT_TRUE(byDefault) << err;
    qx316::ColourSettings tagged;
    tagged.pageProfile = saved(cmsCreate_sRGBProfile());
    const auto bySrgb = qx316::makeInkConverter(tagged, mode, 0, err);
    ASSERT_TRUE(bySrgb) << err;
    cmsToneCurve *linear = cmsBuildGamma(nullptr, 1.0);
    qx316::ColourSettings gray;
    gray.pageProfile = saved(cmsCreateGrayProfile(cmsD50_xyY(), linear));
    cmsFreeToneCurve(linear);
    const auto byGray = qx316::makeInkConverter(gray, mode, 0, err);
    ASSERT_TRUE(byGray) << err;

    const int w = 64;
    std::vector<uint8_t> rgb(3 * static_cast<size_t>(w)), g(static_cast<size_t>(w));
    for (int x = 0; x < w; ++x) {
        g[size_t(x)] = uint8_t(x * 4);
        rgb[size_t(3 * x)] = uint8_t(x * 4);
        rgb[size_t(3 * x + 1)] = uint8_t(255 - x * 4);
        rgb[size_t(3 * x + 2)] = uint8_t(x * 2);
    }
    // The same colours, but for rounding (the profile arrives as bytes).
    std::vector<uint8_t> plainInk(4 * static_cast<size_t>(w)), taggedInk(4 * static_cast<size_t>(w));
    byDefault->convert(rgb.data(), 3, plainInk.data(), size_t(w));
    bySrgb->convert(rgb.data(), 3, taggedInk.data(), size_t(w));
    for (size_t i = 0; i < plainInk.size(); ++i)
        EXPECT_NEAR(plainInk[i], taggedInk[i], 2) << "pixel " << i / 4 << " ink " << i % 4;
    std::vector<uint8_t> grayAsRgb(3 * static_cast<size_t>(w));
    for (int x = 0; x < w; ++x)
        std::fill_n(grayAsRgb.begin() + 3 * x, 3, g[size_t(x)]);
    EXPECT_EQ(printRow(byDefault, qx316::RowFormat::Gray8, g, w),
              printRow(byDefault, qx316::RowFormat::Rgb8, grayAsRgb, w));
    EXPECT_NE(printRow(byDefault, qx316::RowFormat::Gray8, g, w), printRow(byGray, qx316::RowFormat::Gray8, g, w));
}

// The converter's tables against lcms2 transforming every pixel through the
// whole pipeline, for a given ink profile (none of the built-in profile's
// gray handling), under each intent: random colours, a sweep across the
// cube, the grays. They must be as close as lcms2's own precalculated
// transform, which the kit used before, is to the same pipeline.
TEST(Colour, TablesAgreeWithTheTransform) {
    const qx316::ModeInfo mode = qx316::queryMode(oneBitMode());
    std::vector<uint8_t> rgb;
    std::mt19937 rng(316);
    for (int i = 0; i < 4096; ++i)
        for (int c = 0; c < 3; ++c)
            rgb.push_back(uint8_t(rng()));
    for (int v = 0; v < 256; ++v) {
        rgb.insert(rgb.end(), {uint8_t(v), uint8_t(255 - v), uint8_t(v ^ 0x55)});
        rgb.insert(rgb.end(), {uint8_t(v), uint8_t(v), uint8_t(v)});
    }
    const size_t n = rgb.size() / 3;
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    const std::vector<uint8_t> &model = qx316::modelProfile(0, true);
    cmsHPROFILE ink = cmsOpenProfileFromMem(model.data(), cmsUInt32Number(model.size()));
    ASSERT_TRUE(srgb && ink);
    // Mean and worst difference in ink codes from the pipeline's own ink.
    const auto apart = [](const std::vector<uint8_t> &a, const std::vector<uint8_t> &b) {
        int worst = 0;
        double sum = 0;
        for (size_t i = 0; i < a.size(); ++i) {
            worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
            sum += std::abs(int(a[i]) - int(b[i]));
        }
        return std::pair{sum / double(a.size()), worst};
    };
    const struct {
        qx316::Intent intent;
        cmsUInt32Number lcmsIntent, flags;
    } cases[] = {{qx316::Intent::Perceptual, INTENT_PERCEPTUAL, 0},
                 {qx316::Intent::Relative, INTENT_RELATIVE_COLORIMETRIC, 0},
                 {qx316::Intent::RelativeBpc, INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_BLACKPOINTCOMPENSATION},
                 {qx316::Intent::Saturation, INTENT_SATURATION, 0}};
    for (const auto &c : cases) {
        qx316::ColourSettings s;
        s.intent = c.intent;
        s.inkProfile = model;
        std::string err;
        const auto conv = qx316::makeInkConverter(s, mode, 0, err);
        ASSERT_TRUE(conv) << err;
        std::vector<uint8_t> exact(4 * n), precalc(4 * n), got(4 * n);
        for (auto [out, flags] : {std::pair{&exact, c.flags | cmsFLAGS_NOOPTIMIZE}, std::pair{&precalc, c.flags}}) {
            cmsHTRANSFORM t = cmsCreateTransform(srgb, TYPE_RGB_8, ink, TYPE_CMYK_8, c.lcmsIntent, flags);
            ASSERT_TRUE(t);
            cmsDoTransform(t, rgb.data(), out->data(), cmsUInt32Number(n));
            cmsDeleteTransform(t);
        }
        conv->convert(rgb.data(), 3, got.data(), n);
        const auto [ourMean, ourWorst] = apart(exact, got);
        const auto [lcmsMean, lcmsWorst] = apart(exact, precalc);
        const char *name = qx316::intentKeyword(c.intent);
        std::printf("%s, ink codes off the pipeline: tables mean %.3f worst %d; lcms2 precalculated mean %.3f "
                    "worst %d\n",
                    name, ourMean, ourWorst, lcmsMean, lcmsWorst);
        EXPECT_LE(ourMean, lcmsMean * 1.2 + 0.02) << name;
        EXPECT_LE(ourWorst, lcmsWorst + 2) << name;
    }
    cmsCloseProfile(ink);
    cmsCloseProfile(srgb);
}

} // namespace

namespace {

// Profile files: read whole up to the bound; a missing file, a folder and a
// file beyond the bound are refused with their reason.
TEST(Colour, ProfileFilesReadWithinTheBound) {
    char dir[] = "/tmp/qx316-icc-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const std::string d = dir, good = d + "/m0.icc", big = d + "/big.icc";
    const std::vector<uint8_t> &model = qx316::modelProfile(0, true);
    FILE *f = std::fopen(good.c_str(), "wb");
    ASSERT_TRUE(f);
    ASSERT_EQ(std::fwrite(model.data(), 1, model.size(), f), model.size());
    std::fclose(f);
    f = std::fopen(big.c_str(), "wb");
    ASSERT_TRUE(f);
    ASSERT_EQ(std::fseek(f, long(qx316::kMaxProfileBytes), SEEK_SET), 0); // a sparse file one byte too long
    std::fputc(0, f);
    std::fclose(f);
    const struct {
        std::string path;
        const char *error; // null: read
    } cases[] = {{good, nullptr}, {d + "/none.icc", "No such file"}, {d, "cannot read"}, {big, "larger than"}};
    for (const auto &c : cases) {
        std::vector<uint8_t> bytes;
        std::string err;
        const bool ok = qx316::readProfileFile(c.path, bytes, err);
        if (!c.error) {
            EXPECT_TRUE(ok) << c.path << ": " << err;
            EXPECT_EQ(bytes, model);
        } else {
            EXPECT_FALSE(ok) << c.path;
            EXPECT_TRUE(bytes.empty()) << c.path;
            EXPECT_NE(err.find(c.error), std::string::npos) << c.path << ": " << err;
        }
    }
    std::remove(good.c_str());
    std::remove(big.c_str());
    rmdir(dir);
}

} // namespace
