#include "filter_raster.h"

#include <cups/cups.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace qx316::cupsfilter {

namespace {

// How a raster colour space reaches the kit. map[] names the raster colour
// of each kit channel (C, M, Y, K for the CMYK formats); -1 is no ink.
struct SpaceInfo {
    cups_cspace_t space;
    const char *name;
    int colors;
    enum Kind { Gray, Black, Rgb, Ink } kind;
    int map[4];
};

constexpr SpaceInfo kSpaces[] = {
    {CUPS_CSPACE_W, "W", 1, SpaceInfo::Gray, {0, -1, -1, -1}},
    {CUPS_CSPACE_SW, "SW", 1, SpaceInfo::Gray, {0, -1, -1, -1}},
    {CUPS_CSPACE_K, "K", 1, SpaceInfo::Black, {0, -1, -1, -1}},
    {CUPS_CSPACE_RGB, "RGB", 3, SpaceInfo::Rgb, {0, 1, 2, -1}},
    {CUPS_CSPACE_SRGB, "sRGB", 3, SpaceInfo::Rgb, {0, 1, 2, -1}},
    {CUPS_CSPACE_ADOBERGB, "AdobeRGB", 3, SpaceInfo::Rgb, {0, 1, 2, -1}},
    {CUPS_CSPACE_CMY, "CMY", 3, SpaceInfo::Ink, {0, 1, 2, -1}},
    {CUPS_CSPACE_YMC, "YMC", 3, SpaceInfo::Ink, {2, 1, 0, -1}},
    {CUPS_CSPACE_CMYK, "CMYK", 4, SpaceInfo::Ink, {0, 1, 2, 3}},
    {CUPS_CSPACE_YMCK, "YMCK", 4, SpaceInfo::Ink, {2, 1, 0, 3}},
    {CUPS_CSPACE_KCMY, "KCMY", 4, SpaceInfo::Ink, {1, 2, 3, 0}},
};

// An enumerated header field as the number the raster holds: any value may
// arrive, and reading one outside the enumeration through its enum type is
// undefined, so the bytes are copied out.
template <class E> unsigned rawField(const E &field) {
    static_assert(sizeof(E) == sizeof(unsigned));
    unsigned v;
    std::memcpy(&v, &field, sizeof v);
    return v;
}

const SpaceInfo *findSpace(unsigned space) {
    for (const SpaceInfo &s : kSpaces)
        if (unsigned(s.space) == space)
            return &s;
    return nullptr;
}

const char *orderName(unsigned order) {
    switch (order) {
    case CUPS_ORDER_CHUNKED: return "chunky";
    case CUPS_ORDER_BANDED: return "banded";
    case CUPS_ORDER_PLANAR: return "planar";
    default: return "unknown";
    }
}

std::string num(uint64_t v) { return std::to_string(v); }

// A length in points taken to printer pixels; false for values no page has.
bool pointsToPixels(double pt, int64_t &px) {
    if (!std::isfinite(pt) || pt < 0 || pt > 1e6)
        return false;
    px = std::llround(pt * kResolution / 72.0);
    return true;
}

// Where the bitmap lies on the sheet: a bitmap narrower (shorter) than the
// sheet starts at the imaging box's left (top) edge; one that covers the
// sheet starts at its corner. The v2 floating-point fields win when set.
bool placement(const cups_page_header2_t &h, int width, int height, int &left, int &top, std::string &err) {
    const bool v2Size = h.cupsPageSize[0] > 0 || h.cupsPageSize[1] > 0;
    const double pageW = v2Size ? h.cupsPageSize[0] : h.PageSize[0];
    const double pageH = v2Size ? h.cupsPageSize[1] : h.PageSize[1];
    const bool v2Box = h.cupsImagingBBox[0] != 0 || h.cupsImagingBBox[1] != 0 || h.cupsImagingBBox[2] != 0 ||
                       h.cupsImagingBBox[3] != 0;
    double box[4];
    for (int i = 0; i < 4; ++i)
        box[i] = v2Box ? double(h.cupsImagingBBox[i]) : double(h.ImagingBoundingBox[i]);
    int64_t sheetW = 0, sheetH = 0, px[4] = {0, 0, 0, 0};
    bool ok = pointsToPixels(pageW, sheetW) && pointsToPixels(pageH, sheetH);
    for (int i = 0; i < 4; ++i)
        ok = ok && pointsToPixels(box[i], px[i]);
    if (!ok) {
        err = "page size or imaging box out of range (" + std::to_string(pageW) + " x " + std::to_string(pageH) +
              " points, box " + std::to_string(box[0]) + " " + std::to_string(box[1]) + " " + std::to_string(box[2]) +
              " " + std::to_string(box[3]) + ")";
        return false;
    }
    left = top = 0;
    // Two pixels of slack for the rounding of points to pixels.
    if (sheetW > width + 2 && px[2] > px[0])
        left = int(std::min<int64_t>(px[0], kMaxWidth));
    if (sheetH > height + 2 && px[3] > px[1] && px[3] <= sheetH)
        top = int(std::min<int64_t>(sheetH - px[3], kMaxPageHeight));
    return true;
}

// The value of a page-header field that the option table names.
bool headerField(const cups_page_header2_t &h, const char *name, unsigned &value) {
    if (std::strcmp(name, "cupsMediaType") == 0) {
        value = h.cupsMediaType;
        return true;
    }
    constexpr const char *kInteger = "cupsInteger";
    const size_t n = std::strlen(kInteger);
    if (std::strncmp(name, kInteger, n) == 0 && name[n] >= '0' && name[n] <= '9') {
        int i = name[n] - '0';
        if (name[n + 1] >= '0' && name[n + 1] <= '9' && name[n + 2] == 0)
            i = i * 10 + (name[n + 1] - '0');
        else if (name[n + 1] != 0)
            return false;
        if (i > 15)
            return false;
        value = h.cupsInteger[i];
        return true;
    }
    return false;
}

} // namespace

bool pageLayout(const cups_page_header2_t &h, PageLayout &out, std::string &err) {
    PageLayout l;
    if (h.HWResolution[0] != unsigned(kResolution) || h.HWResolution[1] != unsigned(kResolution)) {
        err = "resolution " + num(h.HWResolution[0]) + "x" + num(h.HWResolution[1]) +
              " dpi is not supported: the printer prints at " + std::to_string(kResolution) + "x" +
              std::to_string(kResolution) + " dpi only";
        return false;
    }
    const SpaceInfo *s = findSpace(rawField(h.cupsColorSpace));
    if (!s) {
        err = "colour space " + num(rawField(h.cupsColorSpace)) +
              " is not supported (W, SW, K, RGB, sRGB, AdobeRGB, CMY, YMC, CMYK, YMCK, KCMY are)";
        return false;
    }
    l.spaceName = s->name;
    l.colors = s->colors;
    const unsigned order = rawField(h.cupsColorOrder);
    if (order > CUPS_ORDER_PLANAR) {
        err = "colour order " + num(order) + " is not supported (chunky, banded and planar are)";
        return false;
    }
    l.order = cups_order_t(order);
    const unsigned bpc = h.cupsBitsPerColor;
    if (!(bpc == 8 || bpc == 16 || (bpc == 1 && s->kind != SpaceInfo::Rgb))) {
        err = num(bpc) + " bits per colour are not supported for " + s->name +
              (s->kind == SpaceInfo::Rgb ? " (8 and 16 are)" : " (1, 8 and 16 are)");
        return false;
    }
    l.bitsPerColor = int(bpc);
    if (h.cupsWidth < 1 || h.cupsWidth > unsigned(kMaxWidth) || h.cupsHeight < 1 ||
        h.cupsHeight > unsigned(kMaxPageHeight)) {
        err = "page size " + num(h.cupsWidth) + " x " + num(h.cupsHeight) + " pixels is out of range (width 1 to " +
              num(kMaxWidth) + ", height 1 to " + num(kMaxPageHeight) + ")";
        return false;
    }
    const int width = int(h.cupsWidth), height = int(h.cupsHeight);
    // Chunky pixels of three colours below 8 bits are padded to four.
    const int chunkyColors = (l.colors == 3 && bpc < 8) ? 4 : l.colors;
    const unsigned wantBpp = l.order == CUPS_ORDER_CHUNKED ? bpc * unsigned(chunkyColors) : bpc;
    if (h.cupsBitsPerPixel != wantBpp) {
        err = "cupsBitsPerPixel " + num(h.cupsBitsPerPixel) + " does not match " + s->name + " at " + num(bpc) +
              " bits per colour in " + orderName(l.order) + " order (" + num(wantBpp) + " expected)";
        return false;
    }
    l.bitsPerPixel = int(wantBpp);
    // Sizes in 64 bits: width and depths are capped above, so none of these
    // can wrap, and the line fits in 32 bits.
    l.bandBytes = size_t((uint64_t(width) * bpc + 7) / 8);
    const uint64_t wantBpl = l.order == CUPS_ORDER_BANDED ? uint64_t(l.bandBytes) * uint64_t(l.colors)
                                                          : (uint64_t(width) * wantBpp + 7) / 8;
    if (uint64_t(h.cupsBytesPerLine) != wantBpl) {
        err = "cupsBytesPerLine " + num(h.cupsBytesPerLine) + " does not match " + num(width) + " pixels at " +
              num(wantBpp) + " bits per pixel in " + orderName(l.order) + " order (" + num(wantBpl) + " expected)";
        return false;
    }
    l.bytesPerLine = size_t(wantBpl);
    l.lineBytes = l.order == CUPS_ORDER_PLANAR ? l.bandBytes * size_t(l.colors) : l.bytesPerLine;

    switch (s->kind) {
    case SpaceInfo::Gray:
    case SpaceInfo::Black:
        l.shape.format = bpc == 1 ? RowFormat::K1 : bpc == 8 ? RowFormat::Gray8 : RowFormat::Gray16;
        l.channels = 1;
        // W is light (0 black), K is ink: Gray rows are light, K1 rows ink.
        l.invert = (s->kind == SpaceInfo::Gray) == (bpc == 1);
        break;
    case SpaceInfo::Rgb:
        l.shape.format = bpc == 8 ? RowFormat::Rgb8 : RowFormat::Rgb16;
        l.channels = 3;
        break;
    case SpaceInfo::Ink:
        l.shape.format = bpc == 1 ? RowFormat::Cmyk1Planes : bpc == 8 ? RowFormat::Cmyk8 : RowFormat::Cmyk16;
        l.channels = 4;
        break;
    }
    for (int c = 0; c < 4; ++c)
        l.source[c] = s->map[c];

    const unsigned copies = h.NumCopies == 0 ? 1 : h.NumCopies;
    if (copies > unsigned(kMaxCopies)) {
        err = num(h.NumCopies) + " copies of one page is more than the " + num(kMaxCopies) + " the filter makes";
        return false;
    }
    l.copies = int(copies);
    l.shape.width = width;
    l.shape.height = height;
    if (!placement(h, width, height, l.shape.leftOffset, l.shape.topOffset, err))
        return false;
    if (int64_t(l.shape.topOffset) + height > kMaxPageHeight) {
        err = "page height " + num(height) + " at top offset " + num(l.shape.topOffset) + " passes the " +
              num(kMaxPageHeight) + " lines a page may have";
        return false;
    }
    out = l;
    return true;
}

void convertLine(const PageLayout &l, const uint8_t *line, uint8_t *row) {
    const size_t width = size_t(l.shape.width);
    const bool chunky = l.order == CUPS_ORDER_CHUNKED;
    if (l.bitsPerColor == 1) {
        // One bit a pixel per kit plane (K1 has the one, Cmyk1Planes four).
        const size_t pb = (width + 7) / 8;
        const int planes = l.shape.format == RowFormat::K1 ? 1 : 4;
        const uint8_t lastMask = uint8_t(0xFF << ((8 - width % 8) % 8));
        for (int c = 0; c < planes; ++c) {
            uint8_t *dst = row + size_t(c) * pb;
            const int src = l.source[c];
            if (src < 0) {
                std::memset(dst, 0, pb);
                continue;
            }
            if (!chunky || l.colors == 1) {
                if (dst != line + size_t(src) * l.bandBytes)
                    std::memcpy(dst, line + size_t(src) * l.bandBytes, pb);
            } else {
                std::memset(dst, 0, pb);
                // Padding bits come first in a pixel, then the colours.
                const size_t first = size_t(l.bitsPerPixel - l.colors + src);
                for (size_t x = 0; x < width; ++x) {
                    const size_t bit = x * size_t(l.bitsPerPixel) + first;
                    if ((line[bit >> 3] >> (7 - (bit & 7))) & 1)
                        dst[x >> 3] |= uint8_t(0x80 >> (x & 7));
                }
            }
            if (l.invert)
                for (size_t i = 0; i < pb; ++i)
                    dst[i] = uint8_t(~dst[i]);
            dst[pb - 1] &= lastMask;
        }
        return;
    }
    const size_t bytes = size_t(l.bitsPerColor / 8);
    const size_t ch = size_t(l.channels);
    if (chunky && !l.invert && size_t(l.colors) == ch) {
        bool identity = true;
        for (size_t c = 0; c < ch; ++c)
            identity = identity && l.source[c] == int(c);
        if (identity) {
            std::memcpy(row, line, width * ch * bytes);
            return;
        }
    }
    // Sample s of colour i: chunky pixels interleave the colours, banded and
    // planar lines hold one colour after another.
    const size_t pixelStep = chunky ? size_t(l.colors) * bytes : bytes;
    for (size_t c = 0; c < ch; ++c) {
        const int src = l.source[c];
        uint8_t *dst = row + c * bytes;
        const size_t dstStep = ch * bytes;
        if (src < 0) {
            for (size_t x = 0; x < width; ++x, dst += dstStep)
                std::memset(dst, 0, bytes);
            continue;
        }
        const uint8_t *p = chunky ? line + size_t(src) * bytes : line + size_t(src) * l.bandBytes;
        if (bytes == 1) {
            const uint8_t flip = l.invert ? 0xFF : 0;
            for (size_t x = 0; x < width; ++x, p += pixelStep, dst += dstStep)
                *dst = *p ^ flip;
        } else {
            const uint16_t flip = l.invert ? 0xFFFF : 0;
            for (size_t x = 0; x < width; ++x, p += pixelStep, dst += dstStep) {
                uint16_t v;
                std::memcpy(&v, p, 2);
                v ^= flip;
                std::memcpy(dst, &v, 2);
            }
        }
    }
}

bool lineIsRow(const PageLayout &l) {
    return l.bitsPerColor == 1 && l.colors == 1 && l.shape.format == RowFormat::K1 && !l.invert &&
           l.lineBytes == rowBytes(l.shape.format, l.shape.width);
}

bool pageOptions(const cups_page_header2_t &h, const PrintRequest &job, PrintRequest &out, std::string &err) {
    out = job;
    unsigned marker = 0;
    if (!headerField(h, kRasterMarkerField, marker) || marker != unsigned(kRasterMarkerValue))
        return true;
    for (const OptionInfo &shape : optionTable()) {
        unsigned value = 0;
        if (!headerField(h, shape.rasterField, value)) {
            err = std::string("the option table names an unknown page-header field ") + shape.rasterField;
            return false;
        }
        // The fields are unsigned; negative codes arrive as their 32-bit pattern.
        const std::string text = std::to_string(int32_t(value));
        std::string why;
        if (!setOption(out.options, shape.id, text, why)) {
            err = std::string(shape.keyword) + " " + text + " in " + shape.rasterField + ": " + why;
            return false;
        }
    }
    unsigned level = 0;
    headerField(h, kLevelField, level);
    if (level != unsigned(kNoLevel) && level != unsigned(kDraft) && level != unsigned(kNormal) &&
        level != unsigned(kHigh)) {
        err = std::string(kLevelKeyword) + " level " + std::to_string(int32_t(level)) + " in " + kLevelField +
              ": not 3 (draft), 4 (normal), 5 (high) or 0 (by the quality code)";
        return false;
    }
    if (level != unsigned(kNoLevel))
        out.level = int(level);
    // The PPD's intent choice, where the job named none of its own.
    if (h.cupsRenderingIntent[0] && job.intent == "auto")
        out.intent.assign(h.cupsRenderingIntent, strnlen(h.cupsRenderingIntent, sizeof h.cupsRenderingIntent));
    return true;
}

namespace {

// CUPS's and IPP's names that the filter reads besides the PPD keywords.
constexpr const char *kMediaName = "media";
constexpr const char *kMediaTypeName = "media-type";
constexpr const char *kColorModeName = "print-color-mode";
constexpr const char *kQualityName = "print-quality";

// print-color-mode keywords that ask for one colour of ink.
constexpr const char *kMonochromeModes[] = {"monochrome", "auto-monochrome", "process-monochrome", "bi-level",
                                            "process-bi-level"};

const Choice *mediaChoice(std::string_view word) {
    for (const Choice &c : optionInfo(OptionId::Media).choices)
        if (word == c.keyword)
            return &c;
    return nullptr;
}

// The media type that media-type names, else the last part of media (a comma
// list of a size, a type and a source) that names one, as cupsMarkOptions
// marks them; null when none does.
const Choice *namedMediaType(const char *mediaType, const char *media) {
    if (const Choice *c = mediaType ? mediaChoice(mediaType) : nullptr)
        return c;
    const Choice *type = nullptr;
    for (std::string_view rest = media ? media : ""; !rest.empty();) {
        const size_t comma = rest.find(',');
        if (const Choice *c = mediaChoice(rest.substr(0, comma)))
            type = c;
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
    return type;
}

// The colour mode code print-color-mode asks for: 1 for monochrome, 0 for
// color, -1 for the rest ("auto", ...: the defaults decide).
int namedColorMode(const char *mode) {
    if (!mode)
        return -1;
    for (const char *mono : kMonochromeModes)
        if (std::strcmp(mode, mono) == 0)
            return 1;
    return std::strcmp(mode, "color") == 0 ? 0 : -1;
}

// The level cupsPrintQuality or print-quality asks for (libcups keeps the
// last given of the two), or kNoLevel.
int namedLevel(const char *choice, const char *quality) {
    int level = kNoLevel;
    if (choice && levelFromChoice(choice, level))
        return level;
    const int q = quality ? std::atoi(quality) : kNoLevel;
    return q == kDraft || q == kNormal || q == kHigh ? q : kNoLevel;
}

bool readsOption(const char *name) {
    for (const char *k : {kMediaName, kMediaTypeName, kColorModeName, kQualityName, kLevelKeyword, kIntentName})
        if (std::strcmp(k, name) == 0)
            return true;
    for (const OptionInfo &shape : optionTable())
        if (std::strcmp(shape.keyword, name) == 0)
            return true;
    return false;
}

struct OptionList {
    cups_option_t *list = nullptr;
    int n = 0;
    explicit OptionList(const char *text) { n = cupsParseOptions(text ? text : "", 0, &list); }
    ~OptionList() { cupsFreeOptions(n, list); }
    OptionList(const OptionList &) = delete;
    OptionList &operator=(const OptionList &) = delete;
    const char *get(const char *name) const { return cupsGetOption(name, n, list); }
};

} // namespace

bool jobOptions(const char *optionString, PrintRequest &out, std::string &err, std::string *unused) {
    const OptionList options(optionString);
    PrintRequest r;
    for (const OptionInfo &shape : optionTable()) {
        setOptionCode(r.options, shape.id, shape.defaultCode);
        const char *v = options.get(shape.keyword);
        std::string why;
        if (v && !setOption(r.options, shape.id, v, why)) {
            // The kit words a refusal with the qx316 tool's name of the
            // option; a job names it by its PPD keyword.
            const std::string cli = shape.cliName;
            err = std::string("job option ") + shape.keyword + "=" + v +
                  (why.compare(0, cli.size(), cli) == 0 ? why.substr(cli.size()) : ": " + why);
            return false;
        }
    }
    // The PPD keywords win over the standard names.
    if (!options.get(optionInfo(OptionId::Media).keyword))
        if (const Choice *type = namedMediaType(options.get(kMediaTypeName), options.get(kMediaName)))
            r.options.media = type->code;
    const int colorMode = namedColorMode(options.get(kColorModeName));
    if (!options.get(optionInfo(OptionId::ColorMode).keyword) && colorMode >= 0)
        r.options.colorMode = colorMode;
    r.level = namedLevel(options.get(kLevelKeyword), options.get(kQualityName));
    if (const char *intent = options.get(kIntentName))
        r.intent = intent;
    if (unused) {
        unused->clear();
        for (int i = 0; i < options.n; ++i)
            if (!readsOption(options.list[i].name))
                *unused += (unused->empty() ? "" : " ") + std::string(options.list[i].name);
    }
    out = r;
    return true;
}

bool sameOptions(const PrintOptions &a, const PrintOptions &b) {
    for (const OptionInfo &shape : optionTable())
        if (getOption(a, shape.id) != getOption(b, shape.id))
            return false;
    return a.sendBlankLines == b.sendBlankLines;
}

} // namespace qx316::cupsfilter
