#include "frontend.h"

#include "qxdro316_inner.h"

#include <algorithm>
#include <cstring>

namespace qx316 {

PrintParams makeParams(const PrintOptions &o) {
    PrintParams p;
    std::memset(&p, 0, sizeof p);
    p.printQuality = int16_t(o.quality);
    p.mediaType = int16_t(o.media);
    p.headCode = int16_t(o.head);
    p.colorMode = int16_t(o.colorMode);
    p.compositeMode = o.composite ? 1 : 0;
    p.bannerPaper = o.banner ? 1 : 0;
    return p;
}

namespace {

// Output planes of each plane mode, in colour-select order.
const char *const kModeLetters[10] = {
    "", "K", "CMY", "\xC3\xCD\xD9", "\xC3\xCD\xD9", "CMYK", "CMY\xC3\xCD\xD9", "CMY\xC3\xCD\xD9",
    "CMYK\xC3\xCD\xD9", "CMYK\xC3\xCD\xD9",
};

std::string planeLabel(uint8_t c) {
    switch (c) {
    case 0xC3: return "C3";
    case 0xCD: return "CD";
    case 0xD9: return "D9";
    default: return std::string(1, char(c));
    }
}

} // namespace

ModeInfo queryMode(const PrintOptions &o) {
    ModeInfo m;
    const PrintParams params = makeParams(o);
    const int comp = params.compositeMode;
    OutputContext probe;
    std::memset(&probe, 0, sizeof probe);
    probe.printHead = int16_t(getPrintHead(&params));
    m.planeMode = getPlaneMode(o.quality, o.media, o.colorMode, comp, probe.printHead);
    const std::string where = "quality " + std::to_string(o.quality) + " on media " + std::to_string(o.media) +
                              (o.head ? " with head " + std::to_string(o.head) : std::string());
    if (m.planeMode < 1 || m.planeMode > 9) {
        m.problem = "print mode not supported for " + where;
        m.planeMode = 0;
        return m;
    }
    m.inPlanes = getInPlaneNum(m.planeMode);
    m.outPlanes = getOutPlaneNum(m.planeMode);
    m.basePlane = getBaseClrPos(m.planeMode);
    for (int p = 0; p < m.outPlanes && p < QXDRO_MAX_PLANES; ++p) {
        m.letters[p] = uint8_t(kModeLetters[m.planeMode][p]);
        m.bits[p] = GetBitDepth(o.quality, o.media, o.colorMode, p, comp, &probe);
        m.tgl[p] = IsTglType(o.quality, o.media, o.colorMode, p, comp, &probe);
        probe.planes[p].tglType = int16_t(m.tgl[p]);
        if (m.problem.empty() && m.bits[p] != 1 && m.bits[p] != 2 && m.bits[p] != 4)
            m.problem = "bit depth not supported for plane " + planeLabel(m.letters[p]) + " at " + where;
    }
    setMaxRaster(&probe, &params);
    m.bandHeight = probe.bandHeight;
    if (m.planeMode == 1)
        m.kIndex = 0;
    else if (m.planeMode == 5 || m.planeMode == 8 || m.planeMode == 9)
        m.kIndex = 3;
    return m;
}

int maxLevel(int bits, int tgl) {
    if (bits == 1)
        return 1;
    switch (tgl) {
    case 0: return (1 << bits) - 1;
    case 1: return 2;           // a 2-bit value of 3 prints nothing in this pattern
    case 2: case 3: return 4;
    default: return 8;          // 4, 7 and the doubled types cover levels 0..8
    }
}

int streamBitsPerPixel(int bits, int tgl) { return (tgl >= 5 && tgl <= 7) ? 2 * bits : bits; }

int bitsPerDot(int bits, int tgl) { return tgl == 0 ? bits : 1; }

std::string codeWords(int code) {
    switch (code) {
    case QXDRO_OK: return "success";
    case QXDRO_OPENED: return "job opened";
    case QXDRO_ERR_MEMORY: return "memory exhausted";
    case QXDRO_ERR_ARGUMENT: return "not supported or bad argument";
    case QXDRO_ERR_MODE: return "print mode, bit depth or raster span not supported";
    case QXDRO_ERR_STATE: return "call not allowed in the job's current state";
    case QXDRO_ERR_OPEN: return "job context could not be created";
    default: return "unknown result";
    }
}

void ImagePage::row(int y, uint8_t *out) {
    const size_t n = size_t(img_.width) * size_t(img_.channels);
    std::memcpy(out, img_.pixels.data() + size_t(y) * n, n);
}

void separatePixel(const ModeInfo &mode, const uint8_t *px, int channels, uint8_t *ink) {
    const int r = px[0], g = channels == 3 ? px[1] : px[0], b = channels == 3 ? px[2] : px[0];
    if (mode.planeMode == 1) {
        ink[0] = uint8_t(255 - (r * 299 + g * 587 + b * 114 + 500) / 1000);
        return;
    }
    int c = 255 - r, m = 255 - g, y = 255 - b, k = 0;
    if (mode.kIndex >= 0) {
        // Full under-colour removal: the grey part of the colour goes to K.
        k = std::min(c, std::min(m, y));
        c -= k;
        m -= k;
        y -= k;
    }
    ink[0] = uint8_t(c);
    ink[1] = uint8_t(m);
    ink[2] = uint8_t(y);
    for (int p = 3; p < mode.inPlanes; ++p)
        ink[p] = 0;
    if (mode.kIndex == 3)
        ink[3] = uint8_t(k);
}

Rasteriser::Rasteriser(const ModeInfo &mode, PageSource &page)
    : mode_(mode), page_(page), width_(page.width()),
      rgb_(size_t(page.width()) * size_t(page.channels())) {
    const size_t n = size_t(mode.inPlanes), w = size_t(width_);
    ink_.assign(n, std::vector<uint8_t>(w));
    levels_.assign(n, std::vector<uint8_t>(w));
    err_.assign(n, std::vector<int>(w + 2));
    errNext_.assign(n, std::vector<int>(w + 2));
    packed_.resize(n);
    for (size_t p = 0; p < n; ++p)
        packed_[p].assign((w * size_t(mode.bits[p]) + 7) / 8, 0);
}

void Rasteriser::next(int y) {
    page_.row(y, rgb_.data());
    const int ch = page_.channels();
    uint8_t ink[QXDRO_MAX_PLANES];
    for (int x = 0; x < width_; ++x) {
        separatePixel(mode_, rgb_.data() + size_t(x) * size_t(ch), ch, ink);
        for (int p = 0; p < mode_.inPlanes; ++p)
            ink_[size_t(p)][size_t(x)] = ink[p];
    }
    for (int p = 0; p < mode_.inPlanes; ++p) {
        const int top = maxLevel(mode_.bits[p], mode_.tgl[p]);
        const int bits = mode_.bits[p];
        std::vector<int> &e = err_[size_t(p)], &en = errNext_[size_t(p)];
        std::fill(en.begin(), en.end(), 0);
        const std::vector<uint8_t> &in = ink_[size_t(p)];
        std::vector<uint8_t> &lv = levels_[size_t(p)];
        // Floyd-Steinberg in units of 1/255 level; paper white and full ink
        // stay exact and pass no error on, so blank areas stay blank.
        for (int x = 0; x < width_; ++x) {
            const int v0 = in[size_t(x)];
            int q;
            if (v0 == 0) {
                q = 0;
            } else if (v0 == 255) {
                q = top;
            } else {
                const int v = v0 * top + e[size_t(x) + 1];
                q = std::clamp((v + 127) / 255, 0, top);
                const int d = v - q * 255;
                e[size_t(x) + 2] += d * 7 / 16;
                en[size_t(x)] += d * 3 / 16;
                en[size_t(x) + 1] += d * 5 / 16;
                en[size_t(x) + 2] += d / 16;
            }
            lv[size_t(x)] = uint8_t(q);
        }
        std::swap(e, en);
        std::vector<uint8_t> &out = packed_[size_t(p)];
        std::fill(out.begin(), out.end(), 0);
        const int perByte = 8 / bits;
        for (int x = 0; x < width_; ++x)
            out[size_t(x / perByte)] |= uint8_t(lv[size_t(x)] << (8 - bits * (x % perByte + 1)));
    }
}

bool Rasteriser::blank() const {
    for (const auto &p : packed_)
        for (uint8_t b : p)
            if (b)
                return false;
    return true;
}

PrintJob::PrintJob(const PrintOptions &o, Sink sink)
    : opt_(o), params_(makeParams(o)), mode_(queryMode(o)), sink_(std::move(sink)) {}

PrintJob::~PrintJob() {
    if (open_)
        OutputClose(&job_);
}

bool PrintJob::fail(const std::string &what, int code) {
    error_ = what;
    code_ = code;
    if (open_) {
        OutputClose(&job_);
        open_ = false;
    }
    return false;
}

bool PrintJob::call(int rc, const char *what) {
    if (rc == QXDRO_OK)
        return true;
    return fail(std::string(what) + ": " + codeWords(rc) + " (" + std::to_string(rc) + ")", rc);
}

bool PrintJob::send(QXVSHandle listHandle) {
    const OutputList *list = static_cast<const OutputList *>(listHandle);
    if (!list)
        return fail("the library returned no chunk list", 0);
    const ListItem *items = list->items ? list->items : static_cast<const ListItem *>(list->itemsHandle);
    if (list->count < 0 || list->count > QXDRO_LIST_ITEMS || (list->count > 0 && !items))
        return fail("the library returned a damaged chunk list (" + std::to_string(list->count) + " chunks)", 0);
    for (int i = 0; i < list->count; ++i) {
        if (items[i].length == 0)
            continue;
        if (!items[i].data || !sink_(items[i].data, items[i].length))
            return fail("cannot write the printer stream", 0);
        stats_.outputBytes += items[i].length;
    }
    return true;
}

bool PrintJob::begin() {
    int rc = OutputOpen(&job_);
    if (rc != QXDRO_OPENED)
        return fail("cannot open a job: " + codeWords(rc) + " (" + std::to_string(rc) + ")", rc);
    open_ = true;
    return call(OutputInitTwo(&job_, &params_, QXDRO_MODEL_CODE), "cannot bind the job to model 316");
}

bool PrintJob::page(PageSource &page) {
    if (!open_)
        return fail("no job is open", 0);
    int rc = OutputInitPart(&job_, &params_);
    if (rc != QXDRO_OK) {
        if (!mode_.problem.empty())
            return fail(mode_.problem + " (" + std::to_string(rc) + ")", rc);
        return call(rc, "cannot set up the page");
    }
    if (!mode_.problem.empty())
        return fail(mode_.problem + " (the library accepted it)", 0);
    const int w = page.width(), h = page.height();
    // A band of incompressible lines must fit the library's plane buffers.
    for (int p = 0; p < mode_.outPlanes; ++p) {
        const int64_t lineBytes = (int64_t(w) * streamBitsPerPixel(mode_.bits[p], mode_.tgl[p]) + 7) / 8;
        const int64_t band = 5 + int64_t(mode_.bandHeight) * (lineBytes + lineBytes / 126 + lineBytes / 64 + 4);
        if (band > QXDRO_BLOCK_SIZE)
            return fail("page " + std::to_string(stats_.pages + 1) + " is too wide for this print mode: " +
                            std::to_string(w) + " pixels need up to " + std::to_string(band) +
                            " bytes per band, the plane buffers hold " + std::to_string(QXDRO_BLOCK_SIZE),
                        0);
    }
    Rasteriser r(mode_, page);
    RasterLineRecord rec;
    std::memset(&rec, 0, sizeof rec);
    QXVSHandle list = nullptr;
    for (int y = 0; y < h; ++y) {
        r.next(y);
        for (int d = 0; d < mode_.inPlanes; ++d) {
            stats_.inputBytes += r.packed(d).size();
            if (tap)
                tap(stats_.pages, y, d, r.packed(d), r.levels(d));
        }
        if (progress && (y % 64 == 0 || y == h - 1))
            progress(stats_.pages + 1, y + 1, h);
        if (!opt_.sendBlankLines && r.blank())
            continue;
        rec.lineNumber = y;
        for (int d = 0; d < mode_.inPlanes; ++d) {
            rec.planes[d].data = r.packed(d).data();
            rec.planes[d].width = int16_t(w);
            rec.planes[d].leftOffset = 0;
            rec.planes[d].rightMargin = 0;
        }
        if (!call(OutputProduceTwo(&job_, &rec, &list), ("line " + std::to_string(y)).c_str()) || !send(list) ||
            !call(OutputComplete(&job_), "completing a line"))
            return false;
        ++stats_.linesSent;
    }
    if (opt_.banner) {
        const int form = opt_.formLength > 0 ? opt_.formLength : h;
        if (!call(OutputFormFeed(&job_, &list, form), "form feed") || !send(list) ||
            !call(OutputComplete(&job_), "completing the form feed"))
            return false;
    } else if (!call(OutputFlush(&job_, &list), "page end") || !send(list) ||
               !call(OutputComplete(&job_), "completing the page end")) {
        return false;
    }
    ++stats_.pages;
    return true;
}

bool PrintJob::end() {
    if (!open_)
        return fail("no job is open", 0);
    QXVSHandle list = nullptr;
    if (opt_.banner && (!call(OutputFlush(&job_, &list), "job end") || !send(list) ||
                        !call(OutputComplete(&job_), "completing the job end")))
        return false;
    OutputClose(&job_);
    open_ = false;
    return true;
}

} // namespace qx316
