// Call completion: once the caller has sent a list, the produced line becomes
// the last one written, lines parked for a new band move into the plane
// buffers, page buffers are released at a page end, and the command chain is
// emptied.
#include "band.h"
#include "job_frame.h"

namespace {

void commitLines(OutputContext *ctx) {
    for (int p = 0; p < ctx->outPlaneCount; ++p) ctx->planes[p].last = ctx->planes[p].cur;
}

// The band being filled is done once it lies before `end` (each chain holds
// that one band): every plane's band starts over and its position moves on.
// Completion works on unlocked chains.
void finishSentBand(OutputContext *ctx, int32_t end) {
    if (ctx->planes[ctx->basePlane].last.bandIndex >= end) return;
    for (int k = 0; k < ctx->outPlaneCount; ++k) {
        qxout::UnlockedBand(&ctx->planes[k].bcb).startOver();
        ++ctx->planes[k].last.bandIndex;
    }
}

// The temporary bands hold the new band's first lines, header included.
void moveParkedLines(OutputContext *ctx) {
    finishSentBand(ctx, ctx->planes[ctx->basePlane].cur.bandIndex);
    for (int k = 0; k < ctx->outPlaneCount; ++k)
        qxout::UnlockedBand(&ctx->planes[k].bcb).takeOver(qxout::UnlockedBand(&ctx->tempBcb[k]));
    commitLines(ctx);
}

void releasePageBuffers(OutputContext *ctx) {
    for (int p = 0; p < ctx->outPlaneCount; ++p) AllPutBCB_GMem(&ctx->planes[p].bcb);
    freeTempBuf(ctx, 1);
}

// After a form feed the bands of the ended form are done; on banner paper
// every plane's band starts the next form empty, so no band is sent twice or
// merged into the next form.
void finishForm(OutputContext *ctx) {
    finishSentBand(ctx, ctx->formFeedLength / ctx->bandHeight - 1);
    if (ctx->banner != 1) return;
    for (int p = 0; p < ctx->outPlaneCount; ++p) {
        if (qxout::bandOf(ctx, p).exists()) qxout::bandOf(ctx, p).startOver();
    }
}

// Back to the single head buffer. The head keeps the set-up command while the
// job header has not gone out with it, unless the page ended without output.
// Only blocks after the head are locked and released; the head's fill length
// is kept while it is unlocked.
void emptyCommandChain(OutputContext *ctx, bool keepHead) {
    BCB *head = &ctx->cmdBcb;
    if (head->nextHandle) {
        AllLockBCB_GMem(head);
        qxout::releaseBlocksAfter(head);
        AllUnlockBCB_GMem(head);
    }
    head->next = nullptr;
    if (!keepHead) head->used[0] = 0;
}

}  // namespace

extern "C" int OutputComplete(QXVSHandle *h) {
    struct Complete : qxout::NoChecks {
        // Bands are moved and started over unlocked; the plane chains are
        // locked only to release the page's buffers.
        int work(OutputContext *ctx) {
            const int32_t mode = ctx->completeMode;
            const bool touchesBands = mode == qxout::kAfterFlush;
            if (touchesBands) qxout::lockPlaneChains(ctx);
            switch (mode) {
                case qxout::kSameBand:
                case qxout::kFirstBand: commitLines(ctx); break;
                case qxout::kNewBand: moveParkedLines(ctx); break;
                case qxout::kAfterFlush: releasePageBuffers(ctx); break;
                case qxout::kAfterFormFeed: finishForm(ctx); break;
                default: break;
            }
            if (touchesBands) qxout::unlockPlaneChains(ctx);
            emptyCommandChain(ctx, ctx->headerState != qxout::kHeaderSent && mode != qxout::kAfterFlush);
            return 0;
        }
    };
    return qxout::jobCall(h, QXDRO_ERR_MEMORY, qxstatus::kOpComplete, Complete{});
}
