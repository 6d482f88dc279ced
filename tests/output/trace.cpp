#include "trace.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "alloc_seam.h"
#include "mode_cases.h"
#include "qxdro316_inner.h"

namespace qxtrace {
namespace {

// splitmix64: the same numbers on every compiler and word size.
class Rng {
public:
    explicit Rng(uint32_t seed) : s_(0x316u + seed * 0x9E3779B97F4A7C15ull) {}
    uint32_t next() {
        uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return static_cast<uint32_t>((z ^ (z >> 31)) >> 32);
    }
    int below(int n) { return n <= 1 ? 0 : static_cast<int>(next() % static_cast<uint32_t>(n)); }
    int between(int lo, int hi) { return lo + below(hi - lo + 1); }
    bool chance(int percent) { return below(100) < percent; }

private:
    uint64_t s_;
};

// Beside the plane modes and pattern types, a second print head and the
// other black-only code.
const qxtest::ModeCase kMoreCases[] = {
    {"mode_head2", 5, 0, 2, 0, 0, 0},
    {"mode_colour_code2", 10, 0, 0, 2, 0, 0},
};

// FNV-1a over the values, with an optional readable copy.
class Print {
public:
    explicit Print(std::string *text) : text_(text) {}
    void num(const char *name, int64_t v) {
        for (int i = 0; i < 8; ++i) mix(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i)));
        if (text_) *text_ += std::string(name) + "=" + std::to_string(v) + " ";
    }
    void bytes(const char *name, const uint8_t *p, int32_t n) {
        num(name, n);
        for (int32_t i = 0; i < n; ++i) mix(p[i]);
        if (!text_) return;
        *text_ += "[";
        for (int32_t i = 0; i < n && i < 48; ++i) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02x", p[i]);
            *text_ += hex;
        }
        *text_ += n > 48 ? "...] " : "] ";
    }
    void line(const std::string &heading) {
        if (text_) *text_ += "\n  " + heading + ": ";
    }
    uint32_t hash() const { return h_; }

private:
    void mix(uint8_t b) { h_ = (h_ ^ b) * 16777619u; }
    uint32_t h_ = 2166136261u;
    std::string *text_;
};

// A pointer field: null, the address of `expected`, or something else.
int where(const void *p, const void *expected) { return p == nullptr ? 0 : (p == expected ? 1 : 2); }

void bcbFields(Print &f, const BCB &b) {
    for (int s = 0; s < QXDRO_BCB_SLOTS; ++s) {
        const uint8_t *base = static_cast<const uint8_t *>(b.handle[s]);
        f.num("handle", base != nullptr);
        f.num("start", where(b.start[s], base));
        // A write position as an offset into its buffer.
        int64_t cur = -1;
        if (b.cur[s]) {
            cur = base ? static_cast<int64_t>(reinterpret_cast<uintptr_t>(b.cur[s]) - reinterpret_cast<uintptr_t>(base))
                       : -2;
        }
        f.num("cur", cur);
        f.num("used", b.used[s]);
    }
    f.num("nextHandle", b.nextHandle != nullptr);
    f.num("next", where(b.next, b.nextHandle));
    f.num("size", b.size);
}

void lineFields(Print &f, const RasterInfo &r) {
    f.num("left", r.left);
    f.num("right", r.right);
    f.num("lineInBand", r.lineInBand);
    f.num("lineNumber", r.lineNumber);
    f.num("bandIndex", r.bandIndex);
    f.num("blank", r.blank);
}

void recordFields(Print &f, const OutputContext &c) {
    f.line("job");
    f.num("listHandle", c.listHandle != nullptr);
    f.num("list", where(c.list, c.listHandle));
    f.num("chainLength", c.chainLength);
    f.num("bandHeight", c.bandHeight);
    f.num("bcbSlots", c.bcbSlots);
    f.num("completeMode", c.completeMode);
    f.num("headerState", c.headerState);
    f.num("lastColorSel", c.lastColorSel);
    f.num("banner", c.banner);
    f.num("formFeedLength", c.formFeedLength);
    f.num("pendingSkip", c.pendingSkip);
    f.num("statusHandle", c.statusHandle != nullptr);
    f.num("itemsHandle", c.itemsHandle != nullptr);
    f.num("planeMode", c.planeMode);
    f.num("inPlaneCount", c.inPlaneCount);
    f.num("outPlaneCount", c.outPlaneCount);
    f.num("basePlane", c.basePlane);
    f.num("randSeed", c.randSeed);
    f.num("printHead", c.printHead);
    for (int p = 0; p < QXDRO_MAX_PLANES; ++p) {
        const PlaneRecord &pl = c.planes[p];
        f.line("plane " + std::to_string(p));
        f.num("pixelShift", pl.pixelShift);
        f.num("tglType", pl.tglType);
        f.num("lineCounter", c.lineCounter[p]);
        f.num("planeFlag", c.planeFlag[p]);
        f.line("  last");
        lineFields(f, pl.last);
        f.line("  cur");
        lineFields(f, pl.cur);
        f.line("  band block");
        bcbFields(f, pl.bcb);
        f.line("  temp block");
        bcbFields(f, c.tempBcb[p]);
    }
    f.line("command block");
    bcbFields(f, c.cmdBcb);
    if (const auto *st = static_cast<const StatusRecord *>(c.statusHandle)) {
        f.line("status");
        f.num("state", st->state);
        f.num("bannerFlag", st->bannerFlag);
    }
}

// The filled part of every buffer of a chain's head block.
void headBytes(Print &f, const BCB &b) {
    for (int s = 0; s < QXDRO_BCB_SLOTS; ++s) {
        const auto *base = static_cast<const uint8_t *>(b.handle[s]);
        if (!base) continue;
        int32_t n = b.start[s] && b.cur[s] ? static_cast<int32_t>(b.cur[s] - b.start[s]) : b.used[s];
        if (n < 0 || n > b.size) {
            f.num("fill beyond the buffer", n);
            n = n < 0 ? 0 : b.size;
        }
        f.bytes("bytes", base, n);
    }
}

void bufferBytes(Print &f, const OutputContext &c) {
    for (int p = 0; p < QXDRO_MAX_PLANES; ++p) {
        f.line("plane " + std::to_string(p) + " band");
        headBytes(f, c.planes[p].bcb);
        f.line("plane " + std::to_string(p) + " temp");
        headBytes(f, c.tempBcb[p]);
    }
    f.line("command");
    headBytes(f, c.cmdBcb);
}

// The list record, the returned handle and the chunks. Chunk bytes are read
// only right after the call that returned the list: later calls may release
// the blocks they point into.
void listFields(Print &f, const OutputContext &c, QXVSHandle returned, bool fresh) {
    f.line("list");
    f.num("returned", where(returned, c.listHandle));
    const auto *l = static_cast<const OutputList *>(c.listHandle);
    if (!l) return;
    f.num("count", l->count);
    f.num("reserved", l->reserved);
    f.num("itemsHandle", where(l->itemsHandle, c.itemsHandle));
    f.num("items", where(l->items, c.itemsHandle));
    const auto *items = static_cast<const ListItem *>(c.itemsHandle);
    if (!items) return;
    const int n = l->count < 0 ? 0 : (l->count > QXDRO_LIST_ITEMS ? QXDRO_LIST_ITEMS : l->count);
    for (int i = 0; i < n; ++i) {
        f.num("length", items[i].length);
        f.num("reserved", items[i].reserved);
        if (fresh) f.bytes("chunk", items[i].data, items[i].length);
    }
}

// One input plane's line as the test holds it.
struct PlaneBytes {
    std::vector<uint8_t> bytes;
    bool null = false;
    int16_t width = 0, leftOffset = 0, rightMargin = 0;
};

struct PageShape {
    int planes = 0;
    int bits[QXDRO_MAX_PLANES] = {};
    int tgl[QXDRO_MAX_PLANES] = {};
    int bandHeight = 8;
    int width = 0;  // pixels
};

int topLevel(int tgl, int bits) {
    switch (tgl) {
        case 1: return 2;
        case 2:
        case 3: return 4;
        case 4:
        case 7: return 8;
        default: return (1 << bits) - 1;
    }
}

class Runner {
public:
    Runner(uint32_t seed, Observer *observer) : rng_(seed), observer_(observer) { seq_.seed = seed; }

    Sequence run();

private:
    // Runs one call with the allocation seam armed as chosen, then
    // fingerprints what the caller sees.
    template <typename Call>
    int call(CallKind kind, std::string what, bool returnsList, Call &&body);
    bool lines();
    void produceLine(int32_t number, bool bad);
    void refusedCall();
    void completeIfPending();
    PlaneBytes planeLine(int p);
    void readShape();

    Rng rng_;
    Observer *observer_;
    Sequence seq_;
    QXVSHandle job_ = nullptr;
    QXVSHandle list_ = nullptr;
    PrintParams params_{};
    PageShape shape_;
    bool pending_ = false;  // a producing call awaits completion
    int32_t lastLine_ = -1;
    long liveAtStart_ = 0;
    long failAt_ = 0;
    bool lasting_ = false;
};

template <typename Call>
int Runner::call(CallKind kind, std::string what, bool returnsList, Call &&body) {
    if (failAt_ != 0) {
        what += " (allocation " + std::to_string(failAt_) + (lasting_ ? " on fails)" : " fails)");
        qxtest::armAllocFailure(failAt_, lasting_);
    }
    const int result = body();
    qxtest::disarmAllocFailure();
    failAt_ = 0;
    lasting_ = false;

    CallPrint print;
    print.kind = kind;
    print.result = result;
    const int index = static_cast<int>(seq_.calls.size());
    std::string text;
    std::string *t = observer_ && observer_->wantsState(index) ? &text : nullptr;
    const auto *ctx = static_cast<const OutputContext *>(job_);
    Print list(t), record(t), buffers(t);
    if (ctx) {
        listFields(list, *ctx, list_, returnsList && result == 0);
        recordFields(record, *ctx);
        bufferBytes(buffers, *ctx);
    } else {
        record.num("no job; blocks still held", qxtest::liveBlocks() - liveAtStart_);
    }
    print.list = list.hash();
    print.record = record.hash();
    print.buffers = buffers.hash();
    seq_.calls.push_back(print);
    if (observer_) {
        observer_->call(index, print, what);
        if (t) observer_->state(index, text);
    }
    return result;
}

void Runner::readShape() {
    const auto *ctx = static_cast<const OutputContext *>(job_);
    shape_.planes = ctx->inPlaneCount < QXDRO_MAX_PLANES ? ctx->inPlaneCount : QXDRO_MAX_PLANES;
    shape_.bandHeight = ctx->bandHeight > 0 ? ctx->bandHeight : 8;
    for (int p = 0; p < shape_.planes; ++p) {
        const int shift = ctx->planes[p].pixelShift;
        shape_.bits[p] = shift >= 0 && shift <= 3 ? 1 << (3 - shift) : 8;
        shape_.tgl[p] = ctx->planes[p].tglType;
    }
    const int style = rng_.below(100);
    shape_.width = style < 60 ? rng_.between(1, 400) : style < 92 ? rng_.between(400, 3000) : rng_.between(3000, 32767);
}

PlaneBytes Runner::planeLine(int p) {
    PlaneBytes pl;
    pl.width = static_cast<int16_t>(shape_.width);
    if (rng_.chance(12)) pl.leftOffset = static_cast<int16_t>(rng_.below(shape_.width / 2 + 1));
    if (rng_.chance(12)) pl.rightMargin = static_cast<int16_t>(rng_.below(shape_.width / 3 + 1));
    const int bits = shape_.bits[p];
    const int perByte = 8 / bits;
    pl.bytes.assign(static_cast<size_t>((shape_.width + perByte - 1) / perByte), 0);
    const int kind = rng_.below(100);
    if (kind < 10) {
        pl.null = true;
        return pl;
    }
    if (kind < 40) return pl;  // no ink
    const int top = topLevel(shape_.tgl[p], bits);
    int from = rng_.below(shape_.width);
    int to = from + 1 + rng_.below(shape_.width - from);
    if (rng_.chance(20)) to = from + 1;  // a single pixel
    const int style = rng_.below(3);     // noise, runs, sparse dots
    int level = rng_.between(1, top);
    for (int x = from; x < to; ++x) {
        int v = 0;
        if (style == 0) v = rng_.below(top + 1);
        if (style == 1) {
            if (rng_.chance(5)) level = rng_.below(top + 1);
            v = level;
        }
        if (style == 2) v = rng_.chance(8) ? rng_.between(1, top) : 0;
        if (x == from && v == 0) v = 1;
        pl.bytes[static_cast<size_t>(x / perByte)] |= static_cast<uint8_t>(v << (8 - bits * (x % perByte + 1)));
    }
    return pl;
}

void Runner::produceLine(int32_t number, bool bad) {
    std::vector<PlaneBytes> planes;
    for (int p = 0; p < shape_.planes; ++p) planes.push_back(planeLine(p));
    std::string what = "line " + std::to_string(number) + " width " + std::to_string(shape_.width);
    RasterLineRecord rec{};
    rec.lineNumber = number;
    for (int p = 0; p < shape_.planes; ++p) {
        PlaneBytes &pl = planes[static_cast<size_t>(p)];
        rec.planes[p].data = pl.null ? nullptr : pl.bytes.data();
        rec.planes[p].width = pl.width;
        rec.planes[p].leftOffset = pl.leftOffset;
        rec.planes[p].rightMargin = pl.rightMargin;
    }
    const RasterLineRecord *line = &rec;
    QXVSHandle *listOut = &list_;
    if (bad && shape_.planes > 0) {
        const int p = rng_.below(shape_.planes);
        switch (rng_.below(6)) {
            case 0: line = nullptr; what += " (null record)"; break;
            case 1: listOut = nullptr; what += " (null list variable)"; break;
            case 2: rec.planes[p].leftOffset = static_cast<int16_t>(-rng_.between(1, 40)); what += " (offset < 0)"; break;
            case 3: rec.planes[p].leftOffset = static_cast<int16_t>(shape_.width + rng_.between(1, 9)); what += " (offset past width)"; break;
            case 4: rec.planes[p].rightMargin = static_cast<int16_t>(shape_.width + rng_.between(0, 9)); what += " (margin covers the line)"; break;
            default: rec.planes[p].width = static_cast<int16_t>(rng_.between(0, 3)); what += " (width shrunk)"; break;
        }
    }
    // No memory at all during the call, for a line that must have some: a
    // plane with ink and dot patterns needs a work block. Which allocation
    // comes first, and whether other lines allocate, is the library's own
    // affair.
    bool dotted = false;
    for (int p = 0; p < shape_.planes && line; ++p) {
        const PlaneRaster &r = rec.planes[p];
        const int bits = shape_.bits[p];
        const int end = r.width - r.rightMargin < shape_.width ? r.width - r.rightMargin : shape_.width;
        bool ink = false;  // within the pixels that may print
        for (int x = r.leftOffset; x < end && x >= 0 && r.data; ++x) {
            const int at = x * bits;
            ink = ink || ((r.data[at / 8] >> (8 - bits - at % 8)) & ((1 << bits) - 1)) != 0;
        }
        dotted = dotted || (shape_.tgl[p] != 0 && ink);
    }
    if (rng_.chance(dotted ? 12 : 0)) {
        failAt_ = 1;
        lasting_ = true;
    }
    const int r = call(kProduceTwo, "produce " + what, true, [&] { return OutputProduceTwo(&job_, line, listOut); });
    if (r == 0) {
        pending_ = true;
        lastLine_ = number;
    } else if (r == QXDRO_ERR_MEMORY && !bad) {
        // The caller tries the same line again once memory returns.
        if (call(kProduceTwo, "produce again " + what, true, [&] { return OutputProduceTwo(&job_, line, listOut); }) == 0) {
            pending_ = true;
            lastLine_ = number;
        }
    }
}

void Runner::completeIfPending() {
    if (!pending_) return;
    if (rng_.chance(3)) failAt_ = 1;
    const int r = call(kComplete, "complete", false, [&] { return OutputComplete(&job_); });
    if (r != 0) call(kComplete, "complete again", false, [&] { return OutputComplete(&job_); });
    pending_ = false;
}

// A call the job's state, the paper path or its arguments refuse (or that a
// null job variable makes do nothing).
void Runner::refusedCall() {
    QXVSHandle none = nullptr;
    switch (rng_.below(9)) {
        case 0: call(kComplete, "complete without a produced line", false, [&] { return OutputComplete(&job_); }); break;
        case 1: call(kInitTwo, "bind again", false, [&] { return OutputInitTwo(&job_, &params_, QXDRO_MODEL_CODE); }); break;
        case 2: call(kInitTwo, "bind to another model", false, [&] { return OutputInitTwo(&job_, &params_, 317); }); break;
        case 3: call(kFormFeed, "form feed, null list variable", true, [&] { return OutputFormFeed(&job_, nullptr, 400); }); break;
        case 4: call(kFlush, "flush, null list variable", true, [&] { return OutputFlush(&job_, nullptr); }); break;
        case 5: call(kProduceTwo, "produce on a null job variable", true, [&] { return OutputProduceTwo(nullptr, nullptr, &list_); }); break;
        case 6: call(kProduceTwo, "produce on a null job", true, [&] { return OutputProduceTwo(&none, nullptr, &list_); }); break;
        case 7: call(kInit, "legacy init", false, [] { return OutputInit(); }); break;
        default: call(kInitPart, "page setup, null parameters", false, [&] { return OutputInitPart(&job_, nullptr); }); break;
    }
}

// The lines of one page; false when the job was closed midway.
bool Runner::lines() {
    const int bh = shape_.bandHeight;
    int32_t number = rng_.chance(50) ? 0 : rng_.below(3 * bh);
    const int count = rng_.between(1, 30);
    for (int i = 0; i < count; ++i) {
        if (rng_.chance(4)) refusedCall();
        if (rng_.chance(4)) {
            completeIfPending();
            if (call(kProduce, "produce without a line", false, [&] { return OutputProduce(&job_); }) == 0) pending_ = true;
        }
        if (!rng_.chance(6)) completeIfPending();  // else the next produce is refused until completion
        if (rng_.chance(4)) {
            const int32_t back = lastLine_ - rng_.below(3);
            produceLine(back < 0 ? -1 : back, false);  // out of order: refused
        }
        produceLine(number, rng_.chance(3));
        const int step = rng_.below(100);
        number += step < 70 ? 1 : step < 85 ? rng_.between(2, bh) : step < 95 ? rng_.between(bh, 4 * bh)
                                                                                : rng_.between(5, 60) * bh + rng_.below(bh);
        if (rng_.chance(1)) {
            call(kClose, "close mid-page", false, [&] { OutputClose(&job_); return 0; });
            return false;
        }
    }
    completeIfPending();
    return true;
}

Sequence Runner::run() {
    liveAtStart_ = qxtest::liveBlocks();
    constexpr int kModes = static_cast<int>(sizeof qxtest::kModeCases / sizeof qxtest::kModeCases[0]);
    const int pick = rng_.below(kModes + static_cast<int>(sizeof kMoreCases / sizeof kMoreCases[0]));
    const qxtest::ModeCase &c = pick < kModes ? qxtest::kModeCases[pick] : kMoreCases[pick - kModes];
    params_.printQuality = static_cast<int16_t>(c.quality);
    params_.mediaType = static_cast<int16_t>(c.media);
    params_.headCode = static_cast<int16_t>(c.head);
    params_.colorMode = static_cast<int16_t>(c.colorMode);
    params_.compositeMode = static_cast<int16_t>(c.composite);
    if (rng_.chance(8)) {  // anything the fields can say, supported or not
        params_.printQuality = static_cast<int16_t>(rng_.below(14));
        params_.mediaType = static_cast<int16_t>(rng_.below(30));
        params_.headCode = static_cast<int16_t>(rng_.below(4));
        params_.colorMode = static_cast<int16_t>(rng_.below(3));
    }
    const bool banner = rng_.chance(40);
    params_.bannerPaper = banner ? 1 : 0;

    if (rng_.chance(5)) refusedCall();
    if (rng_.chance(5)) failAt_ = 1;
    if (call(kOpen, "open", false, [&] { return OutputOpen(&job_); }) != QXDRO_OPENED) {
        if (call(kOpen, "open again", false, [&] { return OutputOpen(&job_); }) != QXDRO_OPENED) return seq_;
    }
    if (rng_.chance(5)) call(kInitTwo, "bind, null parameters", false, [&] { return OutputInitTwo(&job_, nullptr, QXDRO_MODEL_CODE); });
    if (rng_.chance(5)) call(kProduceTwo, "produce before binding", true, [&] { return OutputProduceTwo(&job_, nullptr, &list_); });
    call(kInitTwo, banner ? "bind, banner paper" : "bind, cut sheets", false,
         [&] { return OutputInitTwo(&job_, &params_, QXDRO_MODEL_CODE); });

    const int pages = rng_.chance(25) ? 3 : rng_.between(1, 2);
    for (int pg = 0; pg < pages; ++pg) {
        if (rng_.chance(8)) {
            failAt_ = rng_.between(1, 12);
            lasting_ = rng_.chance(40);
        }
        int r = call(kInitPart, "page setup", false, [&] { return OutputInitPart(&job_, &params_); });
        if (r == QXDRO_ERR_MEMORY) r = call(kInitPart, "page setup again", false, [&] { return OutputInitPart(&job_, &params_); });
        if (r != 0) break;
        readShape();
        if (!lines()) return seq_;
        // The page end; sometimes the other paper path's, which is refused.
        const bool wrongEnd = rng_.chance(5);
        const bool feed = banner != wrongEnd;
        int32_t form = lastLine_ + rng_.between(-20, 200);
        if (rng_.chance(10)) form = rng_.between(-5, 5);
        if (rng_.chance(6)) {
            failAt_ = 1;
            lasting_ = true;
        }
        if (feed) {
            r = call(kFormFeed, "form feed " + std::to_string(form), true, [&] { return OutputFormFeed(&job_, &list_, form); });
        } else {
            r = call(kFlush, "flush", true, [&] { return OutputFlush(&job_, &list_); });
        }
        if (r == 0) {
            pending_ = true;
            completeIfPending();
        } else if (wrongEnd || r == QXDRO_ERR_MEMORY) {
            r = banner ? call(kFormFeed, "form feed " + std::to_string(form), true, [&] { return OutputFormFeed(&job_, &list_, form); })
                       : call(kFlush, "flush", true, [&] { return OutputFlush(&job_, &list_); });
            if (r == 0) {
                pending_ = true;
                completeIfPending();
            }
        }
        lastLine_ = -1;
    }
    if (banner && rng_.chance(90)) {
        if (call(kFlush, "end of banner job", true, [&] { return OutputFlush(&job_, &list_); }) == 0) {
            pending_ = true;
            completeIfPending();
        }
    }
    call(kClose, "close", false, [&] { OutputClose(&job_); return 0; });
    return seq_;
}

void put(std::string &out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}

uint32_t get(const std::string &in, size_t *at, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= static_cast<uint32_t>(static_cast<uint8_t>(in[*at + i])) << (8 * i);
    *at += static_cast<size_t>(bytes);
    return v;
}

constexpr char kMagic[] = "QXTRACE1";

}  // namespace

Sequence run(uint32_t seed, Observer *observer) { return Runner(seed, observer).run(); }

bool save(const std::string &path, const std::vector<Sequence> &seqs) {
    std::string out(kMagic, 8);
    put(out, static_cast<uint32_t>(seqs.size()), 4);
    for (const Sequence &s : seqs) {
        put(out, s.seed, 4);
        put(out, static_cast<uint32_t>(s.calls.size()), 4);
        for (const CallPrint &c : s.calls) {
            put(out, c.kind, 1);
            put(out, static_cast<uint32_t>(c.result), 4);
            put(out, c.list, 4);
            put(out, c.record, 4);
            put(out, c.buffers, 4);
        }
    }
    std::ofstream f(path, std::ios::binary);
    f.write(out.data(), static_cast<std::streamsize>(out.size()));
    return static_cast<bool>(f);
}

bool load(const std::string &path, std::vector<Sequence> *seqs) {
    std::ifstream f(path, std::ios::binary);
    const std::string in((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (in.size() < 12 || in.compare(0, 8, kMagic) != 0) return false;
    size_t at = 8;
    const uint32_t n = get(in, &at, 4);
    seqs->clear();
    for (uint32_t i = 0; i < n; ++i) {
        if (in.size() - at < 8) return false;
        Sequence s;
        s.seed = get(in, &at, 4);
        const uint32_t calls = get(in, &at, 4);
        if ((in.size() - at) / 17 < calls) return false;
        for (uint32_t k = 0; k < calls; ++k) {
            CallPrint c;
            c.kind = static_cast<uint8_t>(get(in, &at, 1));
            c.result = static_cast<int32_t>(get(in, &at, 4));
            c.list = get(in, &at, 4);
            c.record = get(in, &at, 4);
            c.buffers = get(in, &at, 4);
            s.calls.push_back(c);
        }
        seqs->push_back(std::move(s));
    }
    return at == in.size();
}

const char *kindName(uint8_t kind) {
    static const char *const names[] = {"OutputOpen",     "OutputInit",  "OutputInitTwo", "OutputInitPart",
                                        "OutputProduceTwo", "OutputProduce", "OutputComplete", "OutputFlush",
                                        "OutputFormFeed", "OutputClose"};
    return kind < sizeof names / sizeof names[0] ? names[kind] : "?";
}

}  // namespace qxtrace
