#include "colour.h"

#include "ink_model.h"
#include "options.h"
#include "qxdro316_inner.h"

#include <lcms2.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

namespace qx316 {

namespace {

constexpr IntentInfo kIntents[] = {
    {Intent::Auto, "auto", "Automatic (perceptual)"},
    {Intent::Perceptual, "perceptual", "Perceptual"},
    {Intent::Relative, "relative", "Relative colorimetric"},
    {Intent::RelativeBpc, "relative-bpc", "Relative colorimetric with black point compensation"},
    {Intent::Saturation, "saturation", "Saturation"},
    {Intent::Absolute, "absolute", "Absolute colorimetric"},
};

constexpr bool intentsInOrder() {
    for (size_t i = 0; i < std::size(kIntents); ++i)
        if (int(kIntents[i].id) != int(i))
            return false;
    return true;
}
static_assert(intentsInOrder(), "intent table rows follow Intent");

// lcms2's messages for one call, caught in a context of its own.
struct Lcms {
    std::string message;
    cmsContext ctx = nullptr;
    Lcms() {
        ctx = cmsCreateContext(nullptr, this);
        if (ctx)
            cmsSetLogErrorHandlerTHR(ctx, [](cmsContext c, cmsUInt32Number, const char *text) {
                auto *self = static_cast<Lcms *>(cmsGetContextUserData(c));
                if (self->message.empty() && text)
                    self->message = text;
            });
    }
    ~Lcms() {
        if (ctx)
            cmsDeleteContext(ctx);
    }
    Lcms(const Lcms &) = delete;
    Lcms &operator=(const Lcms &) = delete;
    std::string why() const { return message.empty() ? std::string() : " (" + message + ")"; }
};

struct ProfileCloser {
    void operator()(void *p) const {
        if (p)
            cmsCloseProfile(p);
    }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

// ---- The model's profile -------------------------------------------------

struct Sampling {
    const InkModel *model;
    bool withK;
    int intent; // lcms2 intent the table serves
};

// Lab of the PCS as the table's input asks it, moved into what the printer
// can reach for the perceptual and saturation tables: the lightness range
// pressed between the model's black and the paper, chroma beyond a knee
// compressed (perceptual) or kept (saturation, clipped by the inversion).
Lab mapForIntent(const Lab &in, const InkModel &m, int intent) {
    if (intent == INTENT_RELATIVE_COLORIMETRIC)
        return in;
    Lab out = in;
    const double black = m.blackL();
    out.L = black + std::clamp(in.L, 0.0, 100.0) * (100.0 - black) / 100.0;
    if (intent == INTENT_PERCEPTUAL) {
        const double c = std::hypot(in.a, in.b), knee = 40.0;
        if (c > knee) {
            const double scale = (knee + (c - knee) * 0.6) / c;
            out.a *= scale;
            out.b *= scale;
        }
    }
    return out;
}

int sampleBToA(const cmsUInt16Number in[], cmsUInt16Number out[], void *cargo) {
    const Sampling &s = *static_cast<const Sampling *>(cargo);
    cmsCIELab lab;
    cmsLabEncoded2Float(&lab, in);
    const Lab want = mapForIntent({lab.L, lab.a, lab.b}, *s.model, s.intent);
    double cmyk[4];
    s.model->invert(want, s.withK, cmyk);
    for (int i = 0; i < 4; ++i)
        out[i] = cmsUInt16Number(std::lround(std::clamp(cmyk[i], 0.0, 1.0) * 65535.0));
    return 1;
}

int sampleAToB(const cmsUInt16Number in[], cmsUInt16Number out[], void *cargo) {
    const Sampling &s = *static_cast<const Sampling *>(cargo);
    const double cmyk[4] = {in[0] / 65535.0, in[1] / 65535.0, in[2] / 65535.0, s.withK ? in[3] / 65535.0 : 0.0};
    const Lab l = s.model->relativeLab(cmyk);
    const cmsCIELab lab = {l.L, l.a, l.b};
    cmsFloat2LabEncoded(out, &lab);
    return 1;
}

bool addTable(cmsContext ctx, cmsHPROFILE h, cmsTagSignature sig, int in, int out, int grid,
              cmsSAMPLER16 sampler, Sampling &s) {
    cmsPipeline *lut = cmsPipelineAlloc(ctx, cmsUInt32Number(in), cmsUInt32Number(out));
    cmsStage *clut = cmsStageAllocCLut16bit(ctx, cmsUInt32Number(grid), cmsUInt32Number(in), cmsUInt32Number(out),
                                            nullptr);
    bool ok = lut && clut && cmsStageSampleCLut16bit(clut, sampler, &s, 0) &&
              cmsPipelineInsertStage(lut, cmsAT_END, clut);
    if (ok)
        clut = nullptr; // the pipeline owns it
    // The table as a lutAToB/lutBToA wants it: identity curves around it.
    ok = ok && cmsPipelineInsertStage(lut, cmsAT_BEGIN, cmsStageAllocToneCurves(ctx, cmsUInt32Number(in), nullptr)) &&
         cmsPipelineInsertStage(lut, cmsAT_END, cmsStageAllocToneCurves(ctx, cmsUInt32Number(out), nullptr));
    ok = ok && cmsWriteTag(h, sig, lut);
    if (clut)
        cmsStageFree(clut);
    if (lut)
        cmsPipelineFree(lut);
    return ok;
}

bool setText(cmsContext ctx, cmsHPROFILE h, cmsTagSignature sig, const std::string &text) {
    cmsMLU *mlu = cmsMLUalloc(ctx, 1);
    const bool ok = mlu && cmsMLUsetASCII(mlu, "en", "US", text.c_str()) && cmsWriteTag(h, sig, mlu);
    if (mlu)
        cmsMLUfree(mlu);
    return ok;
}

// A profile as ICC bytes; empty when lcms2 cannot write it.
std::vector<uint8_t> profileBytes(cmsHPROFILE h) {
    std::vector<uint8_t> bytes;
    cmsUInt32Number size = 0;
    if (cmsSaveProfileToMem(h, nullptr, &size) && size > 0) {
        bytes.resize(size);
        if (!cmsSaveProfileToMem(h, bytes.data(), &size))
            bytes.clear();
    }
    return bytes;
}

std::vector<uint8_t> buildModelProfile(int mediaClass, bool withK) {
    const InkModel model(inkModelFor(mediaClass));
    Lcms lc;
    std::vector<uint8_t> bytes;
    Profile h(cmsCreateProfilePlaceholder(lc.ctx));
    if (!h)
        return bytes;
    cmsSetProfileVersion(h.get(), 4.3);
    cmsSetDeviceClass(h.get(), cmsSigOutputClass);
    cmsSetColorSpace(h.get(), cmsSigCmykData);
    cmsSetPCS(h.get(), cmsSigLabData);
    cmsSetHeaderRenderingIntent(h.get(), INTENT_PERCEPTUAL);
    double paper[3];
    model.paperXYZ(paper);
    const cmsCIEXYZ white = {paper[0], paper[1], paper[2]};
    const std::string what = std::string("model 316 ink model, ") + model.params().name +
                             (withK ? "" : ", without K") + " (a model of the inks, not a measurement)";
    bool ok = setText(lc.ctx, h.get(), cmsSigProfileDescriptionTag, what) &&
              setText(lc.ctx, h.get(), cmsSigCopyrightTag, "No copyright, use freely") &&
              cmsWriteTag(h.get(), cmsSigMediaWhitePointTag, &white);
    Sampling s{&model, withK, INTENT_PERCEPTUAL};
    ok = ok && addTable(lc.ctx, h.get(), cmsSigAToB0Tag, 4, 3, 9, sampleAToB, s);
    const struct {
        cmsTagSignature sig;
        int intent;
    } tables[] = {{cmsSigBToA0Tag, INTENT_PERCEPTUAL},
                  {cmsSigBToA1Tag, INTENT_RELATIVE_COLORIMETRIC},
                  {cmsSigBToA2Tag, INTENT_SATURATION}};
    for (const auto &t : tables) {
        s.intent = t.intent;
        ok = ok && addTable(lc.ctx, h.get(), t.sig, 3, 4, 17, sampleBToA, s);
    }
    if (ok)
        bytes = profileBytes(h.get());
    return bytes;
}

// ---- The transform ------------------------------------------------------

// Nodes a side of the RGB grid the transform is sampled on: a node every 8
// input codes, as fine as lcms2's own precalculated 8-bit transforms.
constexpr int kGridNodes = 33;

// The ink of every page colour, sampled once from the lcms2 transform: a grid
// of RGB nodes read by tetrahedral interpolation, and the exact ink of the
// 256 grays. Per pixel that is a few table reads, where lcms2's transform of
// every pixel made a colour-managed page half as slow again as the kit's own
// separation. The tables are read only: one converter serves any number of
// rows and threads.
class LcmsConverter final : public InkConverter {
public:
    void convert(const uint8_t *px, int channels, uint8_t *cmyk, size_t n) const override {
        if (channels == 1) {
            for (size_t i = 0; i < n; ++i)
                std::memcpy(cmyk + 4 * i, gray_[px[i]], 4);
            return;
        }
        const uint16_t *grid = grid_.data();
        for (size_t i = 0; i < n; ++i, px += 3, cmyk += 4) {
            const uint8_t r = px[0], g = px[1], b = px[2];
            if (r == g && g == b) {
                std::memcpy(cmyk, diag_[r], 4);
                continue;
            }
            const Axis &ar = axis_[0][r], &ag = axis_[1][g], &ab = axis_[2][b];
            const uint16_t *c0 = grid + ar.at + ag.at + ab.at;
            // The tetrahedron of the cell that holds the colour: from the
            // cell's first corner along the axes in falling order of fraction.
            uint32_t s1, s2, s3;
            int f1, f2, f3;
            const auto order = [&](const Axis &a, const Axis &b2, const Axis &c) {
                s1 = a.step, s2 = b2.step, s3 = c.step;
                f1 = a.frac, f2 = b2.frac, f3 = c.frac;
            };
            if (ar.frac >= ag.frac) {
                if (ag.frac >= ab.frac)
                    order(ar, ag, ab);
                else if (ar.frac >= ab.frac)
                    order(ar, ab, ag);
                else
                    order(ab, ar, ag);
            } else if (ar.frac >= ab.frac) {
                order(ag, ar, ab);
            } else if (ag.frac >= ab.frac) {
                order(ag, ab, ar);
            } else {
                order(ab, ag, ar);
            }
            const uint16_t *c1 = c0 + s1, *c2 = c1 + s2, *c3 = c2 + s3;
            for (int ch = 0; ch < 4; ++ch) {
                const int v = (int(c0[ch]) << 8) + f1 * (c1[ch] - c0[ch]) + f2 * (c2[ch] - c1[ch]) +
                              f3 * (c3[ch] - c2[ch]);
                cmyk[ch] = uint8_t((v + 32768) >> 16);
            }
        }
    }
    // Node (r, g, b) at ((r * N + g) * N + b) * 4: its C, M, Y, K in 1/256
    // of an ink code (0 .. 255 * 256).
    std::vector<uint16_t> grid_;
    struct Axis {
        uint32_t at;   // this axis' part of the cell's first node offset
        uint32_t step; // from a node to the next along this axis
        int frac;      // 0 .. 256 of the way to the next node
    };
    Axis axis_[3][256] = {};
    uint8_t diag_[256][4] = {}; // R = G = B
    uint8_t gray_[256][4] = {}; // gray rows
};

// Fills the converter's tables from 16-bit transforms of the page's RGB and,
// for a gray page profile, its gray to the ink.
void sampleTables(LcmsConverter &c, cmsHTRANSFORM rgb, cmsHTRANSFORM gray) {
    constexpr int n = kGridNodes;
    const auto node16 = [](int i) { return uint16_t((i * 65535 + (n - 1) / 2) / (n - 1)); };
    std::vector<uint16_t> in(size_t(n) * 3);
    std::vector<uint16_t> out(size_t(n) * 4);
    c.grid_.resize(size_t(n) * n * n * 4);
    // Row by row of blue: n nodes a call.
    for (int r = 0; r < n; ++r)
        for (int g = 0; g < n; ++g) {
            for (int b = 0; b < n; ++b) {
                in[size_t(b) * 3] = node16(r);
                in[size_t(b) * 3 + 1] = node16(g);
                in[size_t(b) * 3 + 2] = node16(b);
            }
            cmsDoTransform(rgb, in.data(), out.data(), cmsUInt32Number(n));
            uint16_t *at = c.grid_.data() + (size_t(r * n + g) * n) * 4;
            for (size_t i = 0; i < out.size(); ++i)
                at[i] = uint16_t((uint32_t(out[i]) * 256 + 128) / 257); // 16 bits to 1/256 of a code
        }
    const uint32_t steps[3] = {uint32_t(n * n * 4), uint32_t(n * 4), 4};
    for (int a = 0; a < 3; ++a)
        for (int v = 0; v < 256; ++v) {
            // v sits (n - 1) v / 255 nodes along, in 1/256 of a node.
            const int p = (v * (n - 1) * 256 + 127) / 255;
            const int i = std::min(p >> 8, n - 2);
            c.axis_[a][v] = {uint32_t(i) * steps[a], steps[a], p - i * 256};
        }
    // The grays exactly, R = G = B through the RGB transform and gray rows
    // through the gray one.
    const auto to8 = [](uint16_t v) { return uint8_t((uint32_t(v) + 128) / 257); };
    std::vector<uint16_t> grays(256 * 3), inks(256 * 4);
    for (int v = 0; v < 256; ++v)
        grays[size_t(v) * 3] = grays[size_t(v) * 3 + 1] = grays[size_t(v) * 3 + 2] = uint16_t(v * 257);
    cmsDoTransform(rgb, grays.data(), inks.data(), 256);
    for (int v = 0; v < 256; ++v)
        for (int ch = 0; ch < 4; ++ch)
            c.diag_[v][ch] = to8(inks[size_t(v) * 4 + size_t(ch)]);
    if (gray) {
        for (int v = 0; v < 256; ++v)
            grays[size_t(v)] = uint16_t(v * 257);
        cmsDoTransform(gray, grays.data(), inks.data(), 256);
        for (int v = 0; v < 256; ++v)
            for (int ch = 0; ch < 4; ++ch)
                c.gray_[v][ch] = to8(inks[size_t(v) * 4 + size_t(ch)]);
    }
}

// The K alone that prints each neutral gray of the page (R = G = B whose
// colour has no chroma) with the built-in model, as its tables aim to: the
// tables' grid is too coarse near the gray axis for the interpolation to
// give K without a trace of C, M and Y.
void fillNeutrals(LcmsConverter &c, cmsContext ctx, cmsHPROFILE page, const InkModel &model, Intent intent) {
    Profile lab(cmsCreateLab4ProfileTHR(ctx, nullptr));
    cmsHTRANSFORM t = lab ? cmsCreateTransformTHR(ctx, page, TYPE_RGB_8, lab.get(), TYPE_Lab_DBL,
                                                  INTENT_RELATIVE_COLORIMETRIC, 0)
                          : nullptr;
    if (!t)
        return;
    const double black = model.blackL();
    for (int v = 0; v < 256; ++v) {
        const uint8_t rgb[3] = {uint8_t(v), uint8_t(v), uint8_t(v)};
        cmsCIELab l;
        cmsDoTransform(t, rgb, &l, 1);
        if (std::hypot(l.a, l.b) > 1.0)
            continue;
        const double aim = intent == Intent::Relative ? l.L : black + std::clamp(l.L, 0.0, 100.0) * (100.0 - black) / 100.0;
        if (aim < black - 0.01)
            continue; // darker than K: the transform's ink stands
        const long k = std::lround(model.kForLightness(aim) * 255.0);
        if (k > 0) {
            const uint8_t ink[4] = {0, 0, 0, uint8_t(std::min(k, 255L))};
            std::memcpy(c.diag_[v], ink, 4);
        }
    }
    cmsDeleteTransform(t);
}

struct LcmsIntent {
    cmsUInt32Number intent;
    cmsUInt32Number flags;
};

LcmsIntent lcmsIntent(Intent i) {
    switch (i) {
    case Intent::Relative: return {INTENT_RELATIVE_COLORIMETRIC, 0};
    case Intent::RelativeBpc: return {INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_BLACKPOINTCOMPENSATION};
    case Intent::Saturation: return {INTENT_SATURATION, 0};
    case Intent::Absolute: return {INTENT_ABSOLUTE_COLORIMETRIC, 0};
    case Intent::Auto:
    case Intent::Perceptual: break;
    }
    return {INTENT_PERCEPTUAL, 0};
}

} // namespace

std::span<const IntentInfo> intentTable() { return kIntents; }

bool findIntent(std::string_view keyword, Intent &out) {
    for (const IntentInfo &i : kIntents)
        if (keyword == i.keyword) {
            out = i.id;
            return true;
        }
    return false;
}

const char *intentKeyword(Intent i) {
    return int(i) >= 0 && size_t(i) < std::size(kIntents) ? kIntents[int(i)].keyword : "auto";
}

bool readProfileFile(const std::string &path, std::vector<uint8_t> &bytes, std::string &err) {
    bytes.clear();
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) {
        err = "cannot read the ICC profile " + path + ": " + std::strerror(errno);
        return false;
    }
    // Read in blocks up to the bound: the file may be a pipe, or grow.
    uint8_t block[65536];
    size_t n;
    bool tooLarge = false;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0) {
        if (bytes.size() + n > kMaxProfileBytes) {
            tooLarge = true;
            break;
        }
        bytes.insert(bytes.end(), block, block + n);
    }
    const bool failed = std::ferror(f);
    std::fclose(f);
    if (failed || tooLarge) {
        err = failed ? "cannot read the ICC profile " + path
                     : "the ICC profile " + path + " is larger than " + std::to_string(kMaxProfileBytes >> 20) + " MiB";
        bytes.clear();
        return false;
    }
    return true;
}

const std::vector<uint8_t> &modelProfile(int mediaClass, bool withK) {
    static std::mutex lock;
    static std::map<std::pair<const InkModelParams *, bool>, std::vector<uint8_t>> built;
    const std::lock_guard<std::mutex> hold(lock);
    // Classes that share parameters share the profile.
    std::vector<uint8_t> &bytes = built[{&inkModelFor(mediaClass), withK}];
    if (bytes.empty())
        bytes = buildModelProfile(mediaClass, withK);
    return bytes;
}

const std::vector<uint8_t> &adobeRgbProfile() {
    static const std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> b;
        Lcms lc;
        const cmsCIExyY white = {0.3127, 0.3290, 1.0};
        const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
        cmsToneCurve *gamma = cmsBuildGamma(lc.ctx, 563.0 / 256.0);
        cmsToneCurve *curves[3] = {gamma, gamma, gamma};
        Profile p(gamma ? cmsCreateRGBProfileTHR(lc.ctx, &white, &primaries, curves) : nullptr);
        if (gamma)
            cmsFreeToneCurve(gamma);
        if (p)
            b = profileBytes(p.get());
        return b;
    }();
    return bytes;
}

std::string profileFileName(int media) {
    const int cls = GetIndexMediaType(media);
    for (const Choice &c : optionInfo(OptionId::Media).choices)
        if (GetIndexMediaType(c.code) == cls)
            return std::string(c.keyword) + ".icc";
    return "m" + std::to_string(media) + ".icc";
}

std::shared_ptr<const InkConverter> makeInkConverter(const ColourSettings &s, const ModeInfo &mode, int media,
                                                      std::string &err) {
    err.clear();
    if (!mode.problem.empty() || mode.planeMode == 1)
        return nullptr;
    Lcms lc; // declared first: it goes last
    auto conv = std::make_shared<LcmsConverter>();
    if (!lc.ctx) {
        err = "cannot start lcms2";
        return nullptr;
    }
    const bool withK = mode.kIndex >= 0;
    const std::vector<uint8_t> &ink =
        s.inkProfile.empty() ? modelProfile(GetIndexMediaType(media), withK) : s.inkProfile;
    const std::string inkName = s.inkProfile.empty() ? "the built-in ink profile"
                                                     : "the ink profile " + (s.inkProfileName.empty()
                                                                                ? std::string("given")
                                                                                : s.inkProfileName);
    if (ink.empty() || ink.size() > kMaxProfileBytes) {
        err = inkName + " is empty or too large";
        return nullptr;
    }
    Profile out(cmsOpenProfileFromMemTHR(lc.ctx, ink.data(), cmsUInt32Number(ink.size())));
    if (!out) {
        err = inkName + " is not a readable ICC profile" + lc.why();
        return nullptr;
    }
    if (cmsGetColorSpace(out.get()) != cmsSigCmykData || cmsGetDeviceClass(out.get()) != cmsSigOutputClass) {
        err = inkName + " is not a CMYK printer (output) profile";
        return nullptr;
    }
    Profile page;
    if (!s.pageProfile.empty()) {
        if (s.pageProfile.size() > kMaxEmbeddedProfileBytes) {
            err = "the page's ICC profile is larger than " + std::to_string(kMaxEmbeddedProfileBytes >> 20) + " MiB";
            return nullptr;
        }
        page.reset(cmsOpenProfileFromMemTHR(lc.ctx, s.pageProfile.data(), cmsUInt32Number(s.pageProfile.size())));
        if (!page) {
            err = "the page's ICC profile is not readable" + lc.why();
            return nullptr;
        }
        const cmsColorSpaceSignature cs = cmsGetColorSpace(page.get());
        const cmsProfileClassSignature cl = cmsGetDeviceClass(page.get());
        if ((cs != cmsSigRgbData && cs != cmsSigGrayData) ||
            (cl != cmsSigInputClass && cl != cmsSigDisplayClass && cl != cmsSigColorSpaceClass &&
             cl != cmsSigOutputClass)) {
            err = "the page's ICC profile is not a gray or RGB image profile";
            return nullptr;
        }
    }
    Profile srgb(cmsCreate_sRGBProfileTHR(lc.ctx));
    if (!srgb) {
        err = "cannot make the sRGB profile" + lc.why();
        return nullptr;
    }
    const LcmsIntent li = lcmsIntent(s.intent);
    // The transforms are sampled at 16 bits a channel, unoptimised: the
    // tables take the pipeline's own values at their nodes.
    const cmsUInt32Number flags = li.flags | cmsFLAGS_NOOPTIMIZE | cmsFLAGS_NOCACHE;
    const bool pageGray = page && cmsGetColorSpace(page.get()) == cmsSigGrayData;
    cmsHTRANSFORM rgb = cmsCreateTransformTHR(lc.ctx, page && !pageGray ? page.get() : srgb.get(), TYPE_RGB_16,
                                              out.get(), TYPE_CMYK_16, li.intent, flags);
    cmsHTRANSFORM gray = pageGray && rgb ? cmsCreateTransformTHR(lc.ctx, page.get(), TYPE_GRAY_16, out.get(),
                                                                 TYPE_CMYK_16, li.intent, flags)
                                         : nullptr;
    if (!rgb || (pageGray && !gray)) {
        if (rgb)
            cmsDeleteTransform(rgb);
        err = "lcms2 cannot make a transform to " + inkName + " with the " + intentKeyword(s.intent) + " intent" +
              lc.why();
        return nullptr;
    }
    sampleTables(*conv, rgb, gray);
    cmsDeleteTransform(rgb);
    if (gray)
        cmsDeleteTransform(gray);
    if (s.inkProfile.empty() && !pageGray && withK && s.intent != Intent::Absolute)
        fillNeutrals(*conv, lc.ctx, page ? page.get() : srgb.get(), InkModel(inkModelFor(GetIndexMediaType(media))),
                     s.intent);
    if (!pageGray)
        std::memcpy(conv->gray_, conv->diag_, sizeof conv->gray_);
    return conv;
}

} // namespace qx316
