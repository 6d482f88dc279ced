// Band intake: each raster line is analysed plane by plane and buffered,
// coded, in the band buffer of every output plane. A band goes out as
// printer commands when a line of a later band arrives.
#include <cstring>

#include "job_frame.h"
#include "raster_internal.h"

namespace {

using qxout::bandBlock;
using qxout::pairedPlane;

void setBlank(RasterInfo *r) {
    r->blank = 1;
    r->left = 0;
    r->right = 0;
}

// Lines must arrive in increasing order within a page; an earlier one would
// put more than a band of lines into a band.
bool lineInOrder(const OutputContext *ctx, const RasterLineRecord *line) {
    if (line->lineNumber < 0) return false;
    const RasterInfo &last = ctx->planes[ctx->basePlane].last;
    return last.lineInBand == -1 || line->lineNumber > last.lineNumber;
}

// Room for `bytes` more in a slot, with one end-of-line byte kept for each
// later line of the band, within the 16-bit command length.
bool slotFits(const BCB *b, int slot, int32_t bytes, int32_t laterLines) {
    const int32_t need = bytes + laterLines;
    const int32_t used = static_cast<int32_t>(b->cur[slot] - b->start[slot]);
    return need <= b->size - used && qxraster::line_length(b->start[slot]) + need <= qxraster::kLineLengthMax;
}

// The bytes plane p's line and the empty lines before it add to a slot.
int lineBytes(const OutputContext *ctx, int p, int32_t emptyLines, int32_t *bytes) {
    const PlaneRecord &plane = ctx->planes[p];
    int32_t coded = 1;
    if (plane.cur.blank != 1) {
        if (int r = qxout::codedLineBound(plane.cur, plane.tglType, &coded)) return r;
    }
    *bytes = emptyLines + coded;
    return 0;
}

void appendEmptyLines(BCB *const *t, int32_t from, int32_t to) {
    for (int32_t j = from; j < to; ++j) {
        for (int i = 0; i < 2; ++i) {
            if (t[i]) qxout::appendEmptyLine(t[i], 0);
        }
    }
}

int bufferPlaneLine(OutputContext *ctx, const RasterLineRecord *line, int writeMode, int p) {
    const int q = pairedPlane(ctx, p);
    PlaneRecord &plane = ctx->planes[p];
    BCB *t[2] = {bandBlock(ctx, p, plane.last.bandIndex),
                 q >= 0 ? bandBlock(ctx, q, ctx->planes[q].last.bandIndex) : nullptr};
    int32_t first = plane.last.lineInBand + 1;
    const int32_t later = ctx->bandHeight - 1 - plane.cur.lineInBand;

    if (writeMode == qxout::kIntoTemporary) {
        // The old band is completed with empty lines; the new line opens the temporary blocks.
        appendEmptyLines(t, first, ctx->bandHeight);
        t[0] = &ctx->tempBcb[p];
        t[1] = q >= 0 ? &ctx->tempBcb[q] : nullptr;
        first = 0;
    }
    const int32_t emptyLines = plane.cur.lineInBand > first ? plane.cur.lineInBand - first : 0;
    int32_t bytes = 0;
    if (int r = lineBytes(ctx, p, emptyLines, &bytes)) return r;
    for (int i = 0; i < 2; ++i) {
        if (t[i] && !slotFits(t[i], 0, bytes, later)) return QXDRO_ERR_MODE;
    }
    appendEmptyLines(t, first, plane.cur.lineInBand);
    return qxout::encodeLine(&plane.cur, line->planes[p].data, plane.tglType, ctx, t);
}

// Raster skip commands for `gap` bands, each in a command block of its own.
int skipBands(OutputContext *ctx, int32_t gap) {
    while (gap > 0) {
        const int32_t chunk = gap > qxout::kSkipMax ? qxout::kSkipMax : gap;
        BCB *block = GetFreeBCB(&ctx->cmdBcb);
        if (!block) return QXDRO_ERR_MEMORY;
        block->cur[0] += WriteSkipCommand(chunk, block->cur[0]);
        if (int r = qxout::appendListItem(ctx, block->handle[0], static_cast<int32_t>(block->cur[0] - block->start[0])))
            return r;
        gap -= chunk;
    }
    return 0;
}

int produceLine(OutputContext *ctx, const RasterLineRecord *line, QXVSHandle *listOut) {
    qxout::lockPlaneChains(ctx);
    ctx->completeMode = ProcDispatcher(ctx);
    int r = 0;
    switch (ctx->completeMode) {
        case qxout::kSameBand: r = TypeA_Proc(ctx, line, qxout::kIntoBand); break;
        case qxout::kFirstBand: r = TypeB_Proc(ctx, line); break;
        default: r = TypeC_Proc(ctx, line); break;
    }
    if (r == 0) {
        ctx->list->itemsHandle = ctx->itemsHandle;
        *listOut = ctx->listHandle;
    }
    return r;
}

int putJobHeader(OutputContext *ctx) {
    if (ctx->headerState == qxout::kHeaderSent) return 0;
    BCB *head = &ctx->cmdBcb;
    makeHeaderCommand(ctx, head);
    ctx->list->itemsHandle = ctx->itemsHandle;
    ctx->headerState = qxout::kHeaderSent;
    return qxout::appendListItem(ctx, head->handle[0], static_cast<int32_t>(head->cur[0] - head->start[0]));
}

// ---- What a line holds, found before anything of the job changes ----
//
// The steps a blank or directly written line takes are inlined into the
// produce call (always_inline): such a line costs a few hundred
// instructions, and the calls between the steps were a good part of them.

struct LineScan {
    int16_t lineInBand;
    int32_t bandIndex;
    int8_t pair[QXDRO_MAX_PLANES];   // the output plane each input plane also feeds, or -1
    bool noData[QXDRO_MAX_PLANES];   // handed over without data: its pair is blank too
    int16_t blank[QXDRO_MAX_PLANES];
    int32_t left[QXDRO_MAX_PLANES];
    int32_t right[QXDRO_MAX_PLANES];
};

// The ink verdict of every input plane; -148 for a plane whose span names no
// bytes that can be read, before anything changes.
[[gnu::always_inline]] inline int scanLine(const OutputContext *ctx, const RasterLineRecord *line, LineScan *s) {
    const int32_t number = line->lineNumber;
    const int32_t bandHeight = ctx->bandHeight;
    const int32_t band = number / bandHeight;
    s->bandIndex = band;
    s->lineInBand = static_cast<int16_t>(number - band * bandHeight);
    const int planes = ctx->inPlaneCount;
    for (int p = 0; p < planes; ++p) {
        s->pair[p] = static_cast<int8_t>(pairedPlane(ctx, p));
        const PlaneRaster &raster = line->planes[p];
        s->noData[p] = !raster.data || raster.width == raster.leftOffset;
        if (s->noData[p]) {
            s->blank[p] = 1;
            s->left[p] = 0;
            s->right[p] = 0;
            continue;
        }
        // A span that starts before the line, or a depth other than 1, 2, 4
        // or 8 bits, names no bytes that can be read.
        const int shift = ctx->planes[p].pixelShift;
        if (raster.leftOffset < 0 || shift < 0 || shift > 3) return QXDRO_ERR_MODE;
        const int verdict = qxraster::line_ink_span(raster.data, raster.width, raster.leftOffset, raster.rightMargin,
                                                    shift, &s->left[p], &s->right[p]);
        if (verdict < 0) return QXDRO_ERR_MODE;
        s->blank[p] = static_cast<int16_t>(verdict);
    }
    return 0;
}

void place(RasterInfo *r, const LineScan &s, int32_t lineNumber) {
    r->lineInBand = s.lineInBand;
    r->lineNumber = lineNumber;
    r->bandIndex = s.bandIndex;
}

// The verdicts become the current lines of the input planes and their pairs.
[[gnu::always_inline]] inline void applyScan(OutputContext *ctx, const RasterLineRecord *line, const LineScan &s) {
    for (int p = 0; p < ctx->inPlaneCount; ++p) {
        RasterInfo &cur = ctx->planes[p].cur;
        cur.blank = s.blank[p];
        cur.left = s.left[p];
        cur.right = s.right[p];
        place(&cur, s, line->lineNumber);
        if (const int q = s.pair[p]; q >= 0) {
            if (s.noData[p]) setBlank(&ctx->planes[q].cur);
            place(&ctx->planes[q].cur, s, line->lineNumber);
        }
    }
}

// ---- A line written straight into the band buffers ----
//
// The common line: it falls into the band being filled, or opens the next
// band when the band it leaves holds no ink in any plane (that band becomes
// one more pending skip and its buffers start over with the new line: the
// state the general path reaches once the call is completed, with nothing
// parked). Taken only when the job header is out, the chains are single
// blocks, no plane needs a work block for dot patterns, every line can be
// coded and every band buffer has the room. Then nothing can fail, nothing
// needs undoing and the list stays empty; anything else takes the general
// path, which also gives the refusals.

struct DirectTarget {
    BCB *block;
    int32_t bytes;  // empty lines before the line, and the line's bound
};

struct DirectLine {
    int targets = 0;
    bool newBand = false;
    DirectTarget target[2 * QXDRO_MAX_PLANES];
};

uint8_t *slotStart(const BCB *b) { return static_cast<uint8_t *>(qxvs::lock(b->handle[0])); }

// Band intake completes a band with empty lines; the band holds no ink when
// every plane's command then has one byte a line, or none, or the page end
// marked the plane as filler only.
bool leavesBlankBand(const OutputContext *ctx, const LineScan &s) {
    int32_t lines[QXDRO_MAX_PLANES] = {};
    for (int p = 0; p < ctx->inPlaneCount; ++p) {
        const int32_t added = ctx->bandHeight - (ctx->planes[p].last.lineInBand + 1);
        lines[p] = added;
        if (s.pair[p] >= 0) lines[s.pair[p]] = added;
    }
    for (int p = 0; p < ctx->outPlaneCount; ++p) {
        const BCB &b = ctx->planes[p].bcb;
        if (ctx->planeFlag[p] == 1) continue;
        if (!b.handle[0]) return false;
        const int32_t length = qxraster::line_length(slotStart(&b)) + lines[p];
        if (length != 0 && length != ctx->bandHeight) return false;
    }
    return true;
}

// Whether the line can go straight into the band buffers as far as the job
// and its bands go: the job header is out, the chains are single blocks, and
// the line falls into the band being filled (*newBand false) or opens the
// next one after a band without ink (*newBand true).
[[gnu::always_inline]] inline bool directBand(const OutputContext *ctx, const LineScan &s, bool *newBand) {
    if (ctx->headerState != qxout::kHeaderSent || ctx->chainLength != 1 || ctx->bcbSlots != 1) return false;
    const RasterInfo &baseLast = ctx->planes[ctx->basePlane].last;
    *newBand = s.bandIndex != baseLast.bandIndex;
    if (!*newBand) return true;
    return baseLast.lineInBand != -1 && s.bandIndex == baseLast.bandIndex + 1 && leavesBlankBand(ctx, s);
}

// Room in a plane's band buffer for `need` more bytes, within the command's
// 16-bit length; a new band starts the buffer over.
[[gnu::always_inline]] inline bool hasRoom(const BCB &b, int32_t need, bool newBand) {
    if (!b.handle[0]) return false;
    const int32_t used = newBand ? qxraster::kLineHeaderBytes : b.used[0];
    const int32_t length = newBand ? 0 : qxraster::line_length(slotStart(&b));
    return need <= b.size - used && length + need <= qxraster::kLineLengthMax;
}

// The band buffers the line goes to and the bytes each may take; no targets
// when the line needs the general path.
void directTargets(OutputContext *ctx, const LineScan &s, DirectLine *direct) {
    for (int p = 0; p < ctx->inPlaneCount; ++p) {
        if (s.blank[p] != 1 && ctx->planes[p].tglType != 0) return;
    }
    if (!directBand(ctx, s, &direct->newBand)) return;
    const int32_t later = ctx->bandHeight - 1 - s.lineInBand;
    int n = 0;
    for (int p = 0; p < ctx->inPlaneCount; ++p) {
        const int32_t first = direct->newBand ? 0 : ctx->planes[p].last.lineInBand + 1;
        const int32_t emptyLines = s.lineInBand > first ? s.lineInBand - first : 0;
        int32_t coded = 1;
        if (s.blank[p] != 1) {
            RasterInfo span{};
            span.left = s.left[p];
            span.right = s.right[p];
            if (qxout::codedLineBound(span, ctx->planes[p].tglType, &coded) != 0) return;
        }
        const int32_t bytes = emptyLines + coded;
        const int32_t need = bytes + later;
        const int pair[2] = {p, s.pair[p]};
        for (const int k : pair) {
            if (k < 0) continue;
            BCB *b = &ctx->planes[k].bcb;
            if (!hasRoom(*b, need, direct->newBand)) return;
            direct->target[n++] = {b, bytes};
        }
    }
    direct->targets = n;
}

// Slot 0 of a single-block chain, ready to be written.
void openSlot(BCB *b) {
    b->start[0] = slotStart(b);
    b->cur[0] = b->start[0] + b->used[0];
}

void closeSlot(BCB *b) {
    b->used[0] = static_cast<int32_t>(b->cur[0] - b->start[0]);
    b->start[0] = nullptr;
    b->cur[0] = nullptr;
}

// The band left holds no ink: it becomes one more pending skip, and every
// plane buffer starts over, as band draining and completion would leave it.
void startBandOver(OutputContext *ctx) {
    for (int p = 0; p < ctx->outPlaneCount; ++p) {
        BCB &b = ctx->planes[p].bcb;
        qxraster::set_line_length(slotStart(&b), 0);
        b.used[0] = qxraster::kLineHeaderBytes;
        ctx->planeFlag[p] = 0;
    }
    ++ctx->pendingSkip;
}

// An empty list, and completion then only commits the line.
void finishDirectLine(OutputContext *ctx, QXVSHandle *listOut) {
    ctx->completeMode = qxout::kSameBand;
    auto *list = static_cast<OutputList *>(qxvs::lock(ctx->listHandle));
    list->count = 0;
    list->items = static_cast<ListItem *>(qxvs::lock(ctx->itemsHandle));
    list->itemsHandle = ctx->itemsHandle;
    *listOut = ctx->listHandle;
}

// End-of-line bytes alone: a blank line's, and those of the empty lines before it.
void appendEndsOfLines(BCB *b, int32_t bytes) {
    uint8_t *start = slotStart(b);
    uint8_t *at = start + b->used[0];
    if (bytes == 1)
        *at = qxraster::kEndOfLine;
    else
        std::memset(at, qxraster::kEndOfLine, static_cast<size_t>(bytes));
    b->used[0] += bytes;
    qxraster::add_line_length(start, bytes);
}

// The commonest line of all, one without ink, in one pass: end-of-line
// bytes for it and the lines skipped since the last one, in every plane
// buffer it feeds. Same conditions and result as the direct path; false
// (nothing changed) when they do not hold.
[[gnu::always_inline]] inline bool writeBlankLine(OutputContext *ctx, const RasterLineRecord *line, const LineScan &s,
                                                  QXVSHandle *listOut) {
    const int in = ctx->inPlaneCount;
    for (int p = 0; p < in; ++p) {
        if (s.blank[p] != 1) return false;
    }
    bool newBand = false;
    if (!directBand(ctx, s, &newBand)) return false;
    int32_t bytes[QXDRO_MAX_PLANES];
    const int32_t later = ctx->bandHeight - 1 - s.lineInBand;
    for (int p = 0; p < in; ++p) {
        const int32_t first = newBand ? 0 : ctx->planes[p].last.lineInBand + 1;
        bytes[p] = (s.lineInBand > first ? s.lineInBand - first : 0) + 1;
        const int32_t need = bytes[p] + later;
        const int targets[2] = {p, s.pair[p]};
        for (const int k : targets) {
            if (k >= 0 && !hasRoom(ctx->planes[k].bcb, need, newBand)) return false;
        }
    }
    applyScan(ctx, line, s);
    if (newBand) startBandOver(ctx);
    for (int p = 0; p < in; ++p) {
        appendEndsOfLines(&ctx->planes[p].bcb, bytes[p]);
        if (s.pair[p] >= 0) appendEndsOfLines(&ctx->planes[s.pair[p]].bcb, bytes[p]);
    }
    finishDirectLine(ctx, listOut);
    return true;
}

// Precondition: the scan is applied.
void writeDirectLine(OutputContext *ctx, const DirectLine &direct, const RasterLineRecord *line, const LineScan &s,
                     QXVSHandle *listOut) {
    if (direct.newBand) startBandOver(ctx);
    const DirectTarget *target = direct.target;
    for (int p = 0; p < ctx->inPlaneCount; ++p) {
        BCB *t[2] = {target->block, s.pair[p] >= 0 ? target[1].block : nullptr};
        const int32_t bytes = target->bytes;
        target += t[1] ? 2 : 1;
        if (s.blank[p] == 1) {
            appendEndsOfLines(t[0], bytes);
            if (t[1]) appendEndsOfLines(t[1], bytes);
            continue;
        }
        PlaneRecord &plane = ctx->planes[p];
        const int32_t first = direct.newBand ? 0 : plane.last.lineInBand + 1;
        for (BCB *b : t) {
            if (!b) continue;
            openSlot(b);
            for (int32_t j = first; j < s.lineInBand; ++j) qxout::appendEmptyLine(b, 0);
        }
        qxout::encodeLine(&plane.cur, line->planes[p].data, plane.tglType, ctx, t);  // cannot fail: no work block
        for (BCB *b : t) {
            if (b) closeSlot(b);
        }
    }
    finishDirectLine(ctx, listOut);
}

// The current-line records of the output planes, put back when the line
// cannot be taken.
class CurrentLines {
public:
    explicit CurrentLines(const OutputContext *ctx) : n_(ctx->outPlaneCount) {
        if (n_ < 0) n_ = 0;
        if (n_ > QXDRO_MAX_PLANES) n_ = QXDRO_MAX_PLANES;
        for (int p = 0; p < n_; ++p) cur_[p] = ctx->planes[p].cur;
    }
    void restore(OutputContext *ctx) const {
        for (int p = 0; p < n_; ++p) ctx->planes[p].cur = cur_[p];
    }

private:
    int n_;
    RasterInfo cur_[QXDRO_MAX_PLANES];
};

// A band change or the job header adds list items.
bool listMayGrow(OutputContext *ctx) {
    return ctx->headerState != qxout::kHeaderSent ||
           ProcDispatcher(ctx) == qxout::kNewBand;
}

[[gnu::always_inline]] inline int intake(OutputContext *ctx, const RasterLineRecord *line, QXVSHandle *listOut) {
    LineScan scan;
    if (int r = scanLine(ctx, line, &scan)) return r;
    if (writeBlankLine(ctx, line, scan, listOut)) return 0;
    DirectLine direct;
    directTargets(ctx, scan, &direct);
    if (direct.targets > 0) {
        applyScan(ctx, line, scan);
        writeDirectLine(ctx, direct, line, scan, listOut);
        return 0;
    }
    const CurrentLines before(ctx);
    applyScan(ctx, line, scan);
    qxout::JobUndo undo(ctx, listMayGrow(ctx));
    qxout::openList(ctx);
    int r = putJobHeader(ctx);
    if (r == 0) r = produceLine(ctx, line, listOut);
    qxout::unlockPlaneChains(ctx);
    qxout::closeList(ctx);
    if (r != 0) {
        undo.restore();
        before.restore(ctx);
    }
    return r;
}

}  // namespace

extern "C" {

int OutputProduceTwo(QXVSHandle *h, const RasterLineRecord *line, QXVSHandle *listOut) {
    struct ProduceTwo : qxout::NoChecks {
        const RasterLineRecord *line;
        QXVSHandle *listOut;
        int door(OutputContext *) { return line && listOut ? 0 : QXDRO_ERR_ARGUMENT; }
        int check(OutputContext *ctx) { return lineInOrder(ctx, line) ? 0 : QXDRO_ERR_ARGUMENT; }
        [[gnu::always_inline]] int work(OutputContext *ctx) { return intake(ctx, line, listOut); }
    };
    return qxout::jobCall(h, QXDRO_ERR_MEMORY, qxstatus::kOpProduce, ProduceTwo{{}, line, listOut});
}

// Every plane is analysed before any current line changes, so a refused
// line (-148) leaves them all as they were.
int GetImageInfo(OutputContext *ctx, const RasterLineRecord *line) {
    LineScan scan;
    if (int r = scanLine(ctx, line, &scan)) return r;
    applyScan(ctx, line, scan);
    return 0;
}

int ProcDispatcher(OutputContext *ctx) {
    const PlaneRecord &base = ctx->planes[ctx->basePlane];
    if (base.cur.bandIndex == base.last.bandIndex) return qxout::kSameBand;
    if (base.last.lineInBand == -1) return qxout::kFirstBand;
    return qxout::kNewBand;
}

int TypeA_Proc(OutputContext *ctx, const RasterLineRecord *line, int writeMode) {
    if (writeMode == qxout::kIntoTemporary) qxbcb::lockTemp(ctx, qxout::outPlanes(ctx));
    int r = 0;
    for (int p = 0; p < ctx->inPlaneCount && r == 0; ++p) r = bufferPlaneLine(ctx, line, writeMode, p);
    if (writeMode == qxout::kIntoTemporary) qxbcb::unlockTemp(ctx, qxout::outPlanes(ctx));
    return r;
}

int TypeB_Proc(OutputContext *ctx, const RasterLineRecord *line) {
    ctx->pendingSkip = ctx->planes[ctx->basePlane].cur.bandIndex;
    for (int p = 0; p < ctx->outPlaneCount; ++p) {
        ctx->planes[p].last = ctx->planes[p].cur;
        ctx->planes[p].last.lineInBand = -1;
    }
    return TypeA_Proc(ctx, line, qxout::kFirstBandOpen);
}

int TypeC_Proc(OutputContext *ctx, const RasterLineRecord *line) {
    if (int r = TypeA_Proc(ctx, line, qxout::kIntoTemporary)) return r;
    PlaneRecord &base = ctx->planes[ctx->basePlane];
    const int32_t old = base.last.bandIndex;
    const int32_t reach = old + ctx->chainLength;
    const int32_t target = base.cur.bandIndex < reach ? base.cur.bandIndex : reach;
    int r = 0;
    while (r == 0 && base.last.bandIndex < target) r = qxout::drainBand(ctx);
    for (int p = 0; p < ctx->outPlaneCount; ++p) ctx->planes[p].last.bandIndex = old;
    if (r != 0) return r;
    return skipBands(ctx, base.cur.bandIndex - target);
}

}  // extern "C"
