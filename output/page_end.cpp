// Page end: the band being filled is completed with empty lines and sent.
// On banner paper a form feed repeats the job header and sends the bands up
// to the form length; the job ends with a flush that sends nothing.
#include "band.h"
#include "job_frame.h"

namespace {

constexpr int32_t kFillerFlag = 16;  // filler lines that mark a plane as blank

// Completes every plane's band with end-of-line bytes; returns nothing to
// check, since every line kept room for the lines after it.
void completeBands(OutputContext *ctx, bool countFillers) {
    for (int i = 0; i < ctx->outPlaneCount; ++i) {
        RasterInfo &last = ctx->planes[i].last;
        const int32_t fillers = ctx->bandHeight - (last.lineInBand + 1);
        qxout::bandOf(ctx, i).appendEmptyLines(fillers);
        last.lineInBand = static_cast<int16_t>(ctx->bandHeight - 1);
        if (countFillers) {
            if (fillers > 0) ctx->lineCounter[i] += fillers;
            if (ctx->lineCounter[i] == kFillerFlag) ctx->planeFlag[i] = 1;
            ctx->lineCounter[i] = 0;
        }
    }
}

// The band being filled goes out when it lies before `end` (each chain
// holds that one band).
int drainBefore(OutputContext *ctx, int32_t end) {
    return ctx->planes[ctx->basePlane].last.bandIndex < end ? qxout::drainBand(ctx) : 0;
}

// A banner job may end before its first page was set up: then there is no
// band to complete.
bool hasPageBuffers(const OutputContext *ctx) {
    return ctx->outPlaneCount > 0 && ctx->planes[ctx->basePlane].bcb.handle[0] != nullptr;
}

int flushPage(OutputContext *ctx, QXVSHandle *listOut) {
    ctx->completeMode = qxout::kAfterFlush;
    if (ctx->banner != 1 && hasPageBuffers(ctx)) {
        completeBands(ctx, true);
        if (int r = qxout::drainBand(ctx)) return r;
    }
    *listOut = ctx->listHandle;
    return 0;
}

// The job header repeated at a form feed. While the job header was never
// sent, the set-up command queued by page setup still waits in the head
// command block and goes out with it.
int putFormHeader(OutputContext *ctx) {
    BCB *block = &ctx->cmdBcb;
    if (ctx->headerState == qxout::kHeaderSent) {
        block = GetFreeBCB(&ctx->cmdBcb);
        if (!block) return QXDRO_ERR_MEMORY;
    }
    makeHeaderCommand(ctx, block);
    ctx->headerState = qxout::kHeaderSent;
    ctx->list->itemsHandle = ctx->itemsHandle;
    return qxout::appendListItem(ctx, block->handle[0], static_cast<int32_t>(block->cur[0] - block->start[0]));
}

int feedForm(OutputContext *ctx, QXVSHandle *listOut, int32_t formLength) {
    if (int r = putFormHeader(ctx)) return r;
    ctx->completeMode = qxout::kAfterFormFeed;
    ctx->formFeedLength = formLength;
    completeBands(ctx, false);
    const int32_t formEnd = formLength / ctx->bandHeight;
    const int32_t start = ctx->planes[ctx->basePlane].last.bandIndex;
    if (int r = drainBefore(ctx, formEnd)) return r;
    for (int p = 0; p < ctx->outPlaneCount; ++p) ctx->planes[p].last.bandIndex = start;
    *listOut = ctx->listHandle;
    return 0;
}

// The work both page ends share: the list and the plane chains locked around
// the page end, and on a failure midway everything it changed put back.
template <typename End>
int endPage(OutputContext *ctx, End end) {
    qxout::JobUndo undo(ctx);
    qxout::openList(ctx);
    qxout::lockPlaneChains(ctx);
    const int r = end(ctx);
    qxout::unlockPlaneChains(ctx);
    qxout::closeList(ctx);
    if (r != 0) undo.restore();
    return r;
}

}  // namespace

extern "C" {

int OutputFlush(QXVSHandle *h, QXVSHandle *listOut) {
    struct Flush : qxout::NoChecks {
        QXVSHandle *listOut;
        int door(OutputContext *) { return listOut ? 0 : QXDRO_ERR_ARGUMENT; }
        int work(OutputContext *ctx) {
            return endPage(ctx, [this](OutputContext *c) { return flushPage(c, listOut); });
        }
    };
    return qxout::jobCall(h, QXDRO_ERR_MEMORY, qxstatus::kOpFlush, Flush{{}, listOut});
}

int OutputFormFeed(QXVSHandle *h, QXVSHandle *listOut, int32_t formLength) {
    struct FormFeed : qxout::NoChecks {
        QXVSHandle *listOut;
        int32_t formLength;
        int door(OutputContext *) { return listOut ? 0 : QXDRO_ERR_ARGUMENT; }
        int check(OutputContext *ctx) { return ctx->banner == 1 ? 0 : QXDRO_ERR_MODE; }
        int work(OutputContext *ctx) {
            return endPage(ctx, [this](OutputContext *c) { return feedForm(c, listOut, formLength); });
        }
    };
    return qxout::jobCall(h, QXDRO_ERR_MEMORY, qxstatus::kOpFormFeed, FormFeed{{}, listOut, formLength});
}

}  // extern "C"
