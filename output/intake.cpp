// Band intake: each raster line is analysed plane by plane and buffered,
// coded, in the band buffer of every output plane. A band goes out as
// printer commands when a line of a later band arrives.
#include "output_internal.h"

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

    if (writeMode == 2) {
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
    if (int r = GetImageInfo(ctx, line)) return r;
    qxout::lockPlaneChains(ctx);
    ctx->completeMode = ProcDispatcher(ctx);
    int r = 0;
    switch (ctx->completeMode) {
        case qxout::kSameBand: r = TypeA_Proc(ctx, line, 0); break;
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
    if (ctx->headerState == 2) return 0;
    BCB *head = &ctx->cmdBcb;
    makeHeaderCommand(ctx, head);
    ctx->list->itemsHandle = ctx->itemsHandle;
    ctx->headerState = 2;
    return qxout::appendListItem(ctx, head->handle[0], static_cast<int32_t>(head->cur[0] - head->start[0]));
}

int intake(OutputContext *ctx, const RasterLineRecord *line, QXVSHandle *listOut) {
    if (qxout::refused(CheckPrevStatus(&ctx->statusHandle, qxout::kOpProduce))) return QXDRO_ERR_STATE;
    if (!lineInOrder(ctx, line)) return QXDRO_ERR_ARGUMENT;
    qxout::JobUndo undo(ctx);
    qxout::openList(ctx);
    int r = putJobHeader(ctx);
    if (r == 0) r = produceLine(ctx, line, listOut);
    qxout::unlockPlaneChains(ctx);
    qxout::closeList(ctx);
    if (r != 0) {
        undo.restore();
        return r;
    }
    return qxout::refused(SetCurrentStatus(&ctx->statusHandle, qxout::kOpProduce)) ? QXDRO_ERR_STATE : 0;
}

}  // namespace

extern "C" {

int OutputProduceTwo(QXVSHandle *h, const RasterLineRecord *line, QXVSHandle *listOut) {
    OutputContext *ctx = qxout::lockJob(h);
    if (!ctx) return QXDRO_ERR_MEMORY;
    const int result = line && listOut ? intake(ctx, line, listOut) : QXDRO_ERR_ARGUMENT;
    qxout::unlockJob(h);
    return result;
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
    if (writeMode == 2) lockTempBuf(ctx);
    int r = 0;
    for (int p = 0; p < ctx->inPlaneCount && r == 0; ++p) r = bufferPlaneLine(ctx, line, writeMode, p);
    if (writeMode == 2) freeTempBuf(ctx, 0);
    return r;
}

int TypeB_Proc(OutputContext *ctx, const RasterLineRecord *line) {
    ctx->pendingSkip = ctx->planes[ctx->basePlane].cur.bandIndex;
    for (int p = 0; p < ctx->outPlaneCount; ++p) {
        ctx->planes[p].last = ctx->planes[p].cur;
        ctx->planes[p].last.lineInBand = -1;
    }
    return TypeA_Proc(ctx, line, 1);
}

int TypeC_Proc(OutputContext *ctx, const RasterLineRecord *line) {
    if (int r = TypeA_Proc(ctx, line, 2)) return r;
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
