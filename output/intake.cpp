// Band intake: each raster line is analysed plane by plane and buffered,
// coded, in the band buffer of every output plane. A band goes out as
// printer commands when a line of a later band arrives.
#include <cstring>

#include "band.h"
#include "job_frame.h"
#include "raster_internal.h"

namespace {

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

// The bytes plane p's line and the empty lines before it add to a band.
int lineBytes(const OutputContext *ctx, int p, int32_t emptyLines, int32_t *bytes) {
    const PlaneRecord &plane = ctx->planes[p];
    int32_t coded = 1;
    if (plane.cur.blank != 1) {
        if (int r = qxout::codedLineBound(plane.cur, plane.tglType, &coded)) return r;
    }
    *bytes = emptyLines + coded;
    return 0;
}

// The band plane p's line goes to, and its pair's.
struct Targets {
    BCB *block[2];

    void appendEmptyLines(int32_t n) const {
        for (BCB *b : block) {
            if (b) qxout::Band(b).appendEmptyLines(n);
        }
    }
    bool fit(int32_t bytes, int32_t laterLines) const {
        for (BCB *b : block) {
            if (b && !qxout::Band(b).fits(bytes, laterLines)) return false;
        }
        return true;
    }
};

// The bands of the line of input plane p: the band being filled, or the
// temporary one where a line opening a later band is parked.
Targets targetsOf(OutputContext *ctx, int p, int q, bool parked) {
    auto band = [ctx, parked](int k) { return parked ? &ctx->tempBcb[k] : &ctx->planes[k].bcb; };
    return {{band(p), q >= 0 ? band(q) : nullptr}};
}

int bufferPlaneLine(OutputContext *ctx, const RasterLineRecord *line, int writeMode, int p) {
    const int q = pairedPlane(ctx, p);
    PlaneRecord &plane = ctx->planes[p];
    int32_t first = plane.last.lineInBand + 1;
    const int32_t later = ctx->bandHeight - 1 - plane.cur.lineInBand;
    const bool parked = writeMode == qxout::kIntoTemporary;
    if (parked) {
        // The old band is completed with empty lines; the new line opens the temporary bands.
        targetsOf(ctx, p, q, false).appendEmptyLines(ctx->bandHeight - first);
        first = 0;
    }
    const Targets t = targetsOf(ctx, p, q, parked);
    const int32_t emptyLines = plane.cur.lineInBand > first ? plane.cur.lineInBand - first : 0;
    int32_t bytes = 0;
    if (int r = lineBytes(ctx, p, emptyLines, &bytes)) return r;
    if (!t.fit(bytes, later)) return QXDRO_ERR_MODE;
    t.appendEmptyLines(emptyLines);
    return qxout::encodeLine(&plane.cur, line->planes[p].data, plane.tglType, ctx, t.block);
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

// ---- A line written straight into its bands ----
//
// The common line: it falls into the band being filled, or opens the next
// band when the band it leaves holds no ink in any plane. Then the line is
// written where the general path writes it, with the general path's own
// steps: the band left is completed and drained (it becomes one more pending
// skip) and the line is parked for completion to move in. Taken only when
// the job header is out, no plane needs a work block for dot patterns,
// every line can be coded and every band has the room. Then nothing can
// fail, nothing needs undoing and the list stays empty; anything else takes
// the general path, which also gives the refusals. Between calls every
// chain is unlocked, and these paths never lock one.

struct DirectTarget {
    BCB *block;
    int32_t bytes;  // empty lines before the line, and the line's bound
};

struct DirectLine {
    int targets = 0;
    bool newBand = false;
    DirectTarget target[2 * QXDRO_MAX_PLANES];
};

// The empty lines that complete plane p's band being filled.
int32_t linesToComplete(const OutputContext *ctx, int p) {
    return ctx->bandHeight - (ctx->planes[p].last.lineInBand + 1);
}

// Whether the band being filled holds no ink in any plane once the line's
// planes have completed it, by the rule band draining applies.
bool leavesBlankBand(OutputContext *ctx, const LineScan &s) {
    int32_t lines[QXDRO_MAX_PLANES] = {};
    for (int p = 0; p < ctx->inPlaneCount; ++p) {
        lines[p] = linesToComplete(ctx, p);
        if (s.pair[p] >= 0) lines[s.pair[p]] = lines[p];
    }
    for (int p = 0; p < ctx->outPlaneCount; ++p) {
        const qxout::UnlockedBand band(&ctx->planes[p].bcb);
        if (!band.exists() || !band.blank(ctx->bandHeight, ctx->planeFlag[p], lines[p])) return false;
    }
    return true;
}

// Whether the line can be written directly as far as the job and its bands
// go: the job header is out, and the line falls into the band being filled
// (*newBand false) or opens the next one after a band without ink (*newBand
// true).
[[gnu::always_inline]] inline bool directBand(OutputContext *ctx, const LineScan &s, bool *newBand) {
    if (ctx->headerState != qxout::kHeaderSent) return false;
    const RasterInfo &baseLast = ctx->planes[ctx->basePlane].last;
    *newBand = s.bandIndex != baseLast.bandIndex;
    if (!*newBand) return true;
    return baseLast.lineInBand != -1 && s.bandIndex == baseLast.bandIndex + 1 && leavesBlankBand(ctx, s);
}

// The band the line of plane k goes to: the one being filled, or the parked
// one for a line that opens the next band.
[[gnu::always_inline]] inline BCB *directBlock(OutputContext *ctx, int k, bool newBand) {
    return newBand ? &ctx->tempBcb[k] : &ctx->planes[k].bcb;
}

// The bands the line goes to and the bytes each may take; no targets when
// the line needs the general path.
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
        const int pair[2] = {p, s.pair[p]};
        for (const int k : pair) {
            if (k < 0) continue;
            BCB *b = directBlock(ctx, k, direct->newBand);
            if (!qxout::UnlockedBand(b).fits(bytes, later)) return;
            direct->target[n++] = {b, bytes};
        }
    }
    direct->targets = n;
}

// The band being filled holds no ink: it is completed and drained as band
// intake and band draining do it (one more pending skip, every band started
// over), and the band positions stay where completion moves them on from.
// Precondition: leavesBlankBand, so draining adds nothing to the list.
void leaveBlankBand(OutputContext *ctx, const LineScan &s) {
    for (int p = 0; p < ctx->inPlaneCount; ++p) {
        const int32_t lines = linesToComplete(ctx, p);
        qxout::UnlockedBand(&ctx->planes[p].bcb).appendEmptyLines(lines);
        if (s.pair[p] >= 0) qxout::UnlockedBand(&ctx->planes[s.pair[p]].bcb).appendEmptyLines(lines);
    }
    const int32_t old = ctx->planes[ctx->basePlane].last.bandIndex;
    qxout::drainBand(ctx);
    for (int p = 0; p < ctx->outPlaneCount; ++p) ctx->planes[p].last.bandIndex = old;
}

// An empty list; completion then commits the line, or moves the parked line
// in once the band left is done.
void finishDirectLine(OutputContext *ctx, bool newBand, QXVSHandle *listOut) {
    ctx->completeMode = newBand ? qxout::kNewBand : qxout::kSameBand;
    auto *list = static_cast<OutputList *>(qxvs::lock(ctx->listHandle));
    list->count = 0;
    list->items = static_cast<ListItem *>(qxvs::lock(ctx->itemsHandle));
    list->itemsHandle = ctx->itemsHandle;
    *listOut = ctx->listHandle;
}

// The commonest line of all, one without ink, in one pass: end-of-line
// bytes for it and the lines skipped since the last one, in every band it
// feeds. Same conditions and result as the direct path; false (nothing
// changed) when they do not hold.
// The blank line's bands and their end-of-line bytes: into the bands being
// filled, or (kNewBand) into the parked bands once the band left is drained.
template <bool kNewBand>
[[gnu::always_inline]] inline bool writeBlankInto(OutputContext *ctx, const RasterLineRecord *line, const LineScan &s,
                                                  QXVSHandle *listOut) {
    const int in = ctx->inPlaneCount;
    int32_t bytes[QXDRO_MAX_PLANES];
    const int32_t later = ctx->bandHeight - 1 - s.lineInBand;
    for (int p = 0; p < in; ++p) {
        const int32_t first = kNewBand ? 0 : ctx->planes[p].last.lineInBand + 1;
        bytes[p] = (s.lineInBand > first ? s.lineInBand - first : 0) + 1;
        const int targets[2] = {p, s.pair[p]};
        for (const int k : targets) {
            if (k >= 0 && !qxout::UnlockedBand(directBlock(ctx, k, kNewBand)).fits(bytes[p], later)) return false;
        }
    }
    if (kNewBand) leaveBlankBand(ctx, s);
    applyScan(ctx, line, s);
    for (int p = 0; p < in; ++p) {
        qxout::UnlockedBand(directBlock(ctx, p, kNewBand)).appendEmptyLines(bytes[p]);
        if (s.pair[p] >= 0) qxout::UnlockedBand(directBlock(ctx, s.pair[p], kNewBand)).appendEmptyLines(bytes[p]);
    }
    finishDirectLine(ctx, kNewBand, listOut);
    return true;
}

[[gnu::always_inline]] inline bool writeBlankLine(OutputContext *ctx, const RasterLineRecord *line, const LineScan &s,
                                                  QXVSHandle *listOut) {
    const int in = ctx->inPlaneCount;
    for (int p = 0; p < in; ++p) {
        if (s.blank[p] != 1) return false;
    }
    bool newBand = false;
    if (!directBand(ctx, s, &newBand)) return false;
    return newBand ? writeBlankInto<true>(ctx, line, s, listOut) : writeBlankInto<false>(ctx, line, s, listOut);
}

void writeDirectLine(OutputContext *ctx, const DirectLine &direct, const RasterLineRecord *line, const LineScan &s,
                     QXVSHandle *listOut) {
    if (direct.newBand) leaveBlankBand(ctx, s);
    applyScan(ctx, line, s);
    const DirectTarget *target = direct.target;
    for (int p = 0; p < ctx->inPlaneCount; ++p) {
        BCB *t[2] = {target->block, s.pair[p] >= 0 ? target[1].block : nullptr};
        const int32_t bytes = target->bytes;
        target += t[1] ? 2 : 1;
        if (s.blank[p] == 1) {
            for (BCB *b : t) {
                if (b) qxout::UnlockedBand(b).appendEmptyLines(bytes);
            }
            continue;
        }
        PlaneRecord &plane = ctx->planes[p];
        const int32_t first = direct.newBand ? 0 : plane.last.lineInBand + 1;
        for (BCB *b : t) {
            if (b) qxout::UnlockedBand(b).appendEmptyLines(s.lineInBand - first);
        }
        qxout::encodeLine(&plane.cur, line->planes[p].data, plane.tglType, ctx, t);  // cannot fail: no work block
    }
    finishDirectLine(ctx, direct.newBand, listOut);
}

[[gnu::always_inline]] inline int intake(OutputContext *ctx, const RasterLineRecord *line, QXVSHandle *listOut) {
    LineScan scan;
    if (int r = scanLine(ctx, line, &scan)) return r;
    if (writeBlankLine(ctx, line, scan, listOut)) return 0;
    DirectLine direct;
    directTargets(ctx, scan, &direct);
    if (direct.targets > 0) {
        writeDirectLine(ctx, direct, line, scan, listOut);
        return 0;
    }
    qxout::JobUndo undo(ctx);
    applyScan(ctx, line, scan);
    qxout::openList(ctx);
    int r = putJobHeader(ctx);
    if (r == 0) r = produceLine(ctx, line, listOut);
    qxout::unlockPlaneChains(ctx);
    qxout::closeList(ctx);
    if (r != 0) undo.restore();
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
    // The band left goes out (each chain holds that one band); the bands
    // between it and the new one are skipped.
    PlaneRecord &base = ctx->planes[ctx->basePlane];
    const int32_t old = base.last.bandIndex;
    const int r = qxout::drainBand(ctx);
    for (int p = 0; p < ctx->outPlaneCount; ++p) ctx->planes[p].last.bandIndex = old;
    if (r != 0) return r;
    return skipBands(ctx, base.cur.bandIndex - (old + 1));
}

}  // extern "C"
