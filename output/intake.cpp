// Band intake: each raster line is analysed plane by plane and buffered,
// coded, in the band buffer of every output plane. A band goes out as
// printer commands when a line of a later band arrives.
#include "job_frame.h"

namespace {

using qxout::bandBlock;
using qxout::pairedPlane;

void setBlank(RasterInfo *r) {
    r->blank = 1;
    r->left = 0;
    r->right = 0;
}

void setPosition(RasterInfo *r, int32_t lineNumber, int16_t bandHeight) {
    r->lineInBand = static_cast<int16_t>(lineNumber % bandHeight);
    r->lineNumber = lineNumber;
    r->bandIndex = lineNumber / bandHeight;
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
    return need <= b->size - used && qxout::commandLength(b->start[slot]) + need <= qxout::kMaxCommandLength;
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
    return WriteRaster2Color(&plane.cur, line->planes[p].data, plane.tglType, ctx, t);
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

// ---- A line without ink in the band being filled ----
//
// Written straight into the head block of each plane chain, buffer by
// buffer: end-of-line bytes for the lines skipped since the last one and for
// the line itself. Taken only when the job header is out, the line falls
// into the band being filled and every band buffer has the room; then
// nothing can fail and nothing else of the job changes but the list (empty).

struct BlankTarget {
    BCB *block;
    int32_t bytes;
};

// The band buffers a blank line goes to and the bytes each takes, or 0 when
// the line needs the general path.
int blankTargets(OutputContext *ctx, BlankTarget *targets) {
    if (ctx->headerState != qxout::kHeaderSent || ctx->chainLength != 1 || ctx->bcbSlots != 1) return 0;
    if (ProcDispatcher(ctx) != qxout::kSameBand) return 0;
    int n = 0;
    for (int p = 0; p < ctx->inPlaneCount; ++p) {
        const PlaneRecord &plane = ctx->planes[p];
        if (plane.cur.blank != 1) return 0;
        const int32_t first = plane.last.lineInBand + 1;
        const int32_t emptyLines = plane.cur.lineInBand > first ? plane.cur.lineInBand - first : 0;
        const int32_t later = ctx->bandHeight - 1 - plane.cur.lineInBand;
        const int q = pairedPlane(ctx, p);
        const int pair[2] = {p, q};
        for (int k : pair) {
            if (k < 0) continue;
            BCB *b = &ctx->planes[k].bcb;
            const int32_t bytes = emptyLines + 1;
            const int32_t need = bytes + later;
            if (!b->handle[0] || need > b->size - b->used[0]) return 0;
            const uint8_t *start = static_cast<const uint8_t *>(QXVSLockHNDL(b->handle[0]));
            const int32_t length = qxout::commandLength(start);
            QXVSUnlockHNDL(b->handle[0]);
            if (length + need > qxout::kMaxCommandLength) return 0;
            targets[n++] = {b, bytes};
        }
    }
    return n;
}

void writeBlankLine(OutputContext *ctx, const BlankTarget *targets, int n, QXVSHandle *listOut) {
    for (int i = 0; i < n; ++i) {
        BCB *b = targets[i].block;
        uint8_t *start = static_cast<uint8_t *>(QXVSLockHNDL(b->handle[0]));
        uint8_t *at = start + b->used[0];
        for (int32_t j = 0; j < targets[i].bytes; ++j) at[j] = qxout::kEndOfLine;
        b->used[0] += targets[i].bytes;
        addlength(targets[i].bytes, start);
        QXVSUnlockHNDL(b->handle[0]);
    }
    ctx->completeMode = qxout::kSameBand;
    OutputList *list = static_cast<OutputList *>(QXVSLockHNDL(ctx->listHandle));
    list->count = 0;
    list->items = static_cast<ListItem *>(QXVSLockHNDL(ctx->itemsHandle));
    list->itemsHandle = ctx->itemsHandle;
    QXVSUnlockHNDL(ctx->itemsHandle);
    QXVSUnlockHNDL(ctx->listHandle);
    *listOut = ctx->listHandle;
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

int intake(OutputContext *ctx, const RasterLineRecord *line, QXVSHandle *listOut) {
    const CurrentLines before(ctx);
    if (int r = GetImageInfo(ctx, line)) {
        before.restore(ctx);
        return r;
    }
    BlankTarget targets[2 * QXDRO_MAX_PLANES];
    if (const int n = blankTargets(ctx, targets)) {
        writeBlankLine(ctx, targets, n, listOut);
        return 0;
    }
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
        int work(OutputContext *ctx) { return intake(ctx, line, listOut); }
    };
    return qxout::jobCall(h, QXDRO_ERR_MEMORY, qxstatus::kOpProduce, ProduceTwo{{}, line, listOut});
}

int GetImageInfo(OutputContext *ctx, const RasterLineRecord *line) {
    for (int p = 0; p < ctx->inPlaneCount; ++p) {
        PlaneRecord &plane = ctx->planes[p];
        const PlaneRaster &raster = line->planes[p];
        const int q = pairedPlane(ctx, p);
        if (raster.data && raster.width != raster.leftOffset) {
            const int verdict = isNullColor(&raster, plane.pixelShift, &plane.cur.left, &plane.cur.right);
            if (verdict < 0) return QXDRO_ERR_MODE;
            plane.cur.blank = static_cast<int16_t>(verdict);
        } else {
            setBlank(&plane.cur);
            if (q >= 0) setBlank(&ctx->planes[q].cur);
        }
        setPosition(&plane.cur, line->lineNumber, ctx->bandHeight);
        if (q >= 0) setPosition(&ctx->planes[q].cur, line->lineNumber, ctx->bandHeight);
    }
    return 0;
}

int ProcDispatcher(OutputContext *ctx) {
    const PlaneRecord &base = ctx->planes[ctx->basePlane];
    if (base.cur.bandIndex == base.last.bandIndex) return qxout::kSameBand;
    if (base.last.lineInBand == -1) return qxout::kFirstBand;
    return qxout::kNewBand;
}

int TypeA_Proc(OutputContext *ctx, const RasterLineRecord *line, int writeMode) {
    if (writeMode == qxout::kIntoTemporary) lockTempBuf(ctx);
    int r = 0;
    for (int p = 0; p < ctx->inPlaneCount && r == 0; ++p) r = bufferPlaneLine(ctx, line, writeMode, p);
    if (writeMode == qxout::kIntoTemporary) freeTempBuf(ctx, 0);
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
