// Pieces every job call shares: the list being filled, plane chain locks,
// band draining, and the undo record of a failing call.
#include <cstring>

#include "output_internal.h"

namespace qxout {

int pairedPlane(const OutputContext *ctx, int plane) {
    if (ctx->planes[plane].tglType != 4) return -1;
    int q = -1;
    if (ctx->planeMode == 7) q = plane + 3;
    if (ctx->planeMode == 9) q = plane + 4;
    return q >= 0 && q < ctx->outPlaneCount ? q : -1;
}

int appendListItem(OutputContext *ctx, QXVSHandle data, int32_t length) {
    OutputList *list = ctx->list;
    if (list->count >= QXDRO_LIST_ITEMS) return QXDRO_ERR_MODE;
    ListItem &item = list->items[list->count++];
    item.data = static_cast<uint8_t *>(data);
    item.length = static_cast<uint16_t>(length);
    return 0;
}

void emptyRing(OutputContext *ctx, BCB *head) {
    BCB *b = head;
    for (int m = 0; m < ctx->chainLength && b; ++m, b = b->next) {
        for (int s = 0; s < ctx->bcbSlots; ++s) {
            if (b->start[s]) emptySlot(b, s);
        }
    }
}

void openList(OutputContext *ctx) {
    ctx->list = static_cast<OutputList *>(QXVSLockHNDL(ctx->listHandle));
    AllLockBCB_GMem(&ctx->cmdBcb);
    ctx->list->items = static_cast<ListItem *>(QXVSLockHNDL(ctx->itemsHandle));
    ctx->list->count = 0;
}

void closeList(OutputContext *ctx) {
    QXVSUnlockHNDL(ctx->itemsHandle);
    AllUnlockBCB_GMem(&ctx->cmdBcb);
    QXVSUnlockHNDL(ctx->listHandle);
    ctx->list = nullptr;
}

void lockPlaneChains(OutputContext *ctx) {
    for (int p = 0; p < ctx->outPlaneCount; ++p) AllLockBCB_GMem(&ctx->planes[p].bcb);
}

void unlockPlaneChains(OutputContext *ctx) {
    for (int p = 0; p < ctx->outPlaneCount; ++p) AllUnlockBCB_GMem(&ctx->planes[p].bcb);
}

int drainBand(OutputContext *ctx) {
    if (int r = OutDataSet(ctx)) return r;
    for (int p = 0; p < ctx->outPlaneCount; ++p) ++ctx->planes[p].last.bandIndex;
    return 0;
}

namespace {

void saveLengths(const BCB &b, uint8_t (*out)[2]) {
    for (int s = 0; s < QXDRO_BCB_SLOTS; ++s) {
        if (!b.handle[s]) continue;
        const uint8_t *start = static_cast<const uint8_t *>(QXVSLockHNDL(b.handle[s]));
        out[s][0] = start[3];
        out[s][1] = start[4];
        QXVSUnlockHNDL(b.handle[s]);
    }
}

void restoreLengths(const BCB &b, const uint8_t (*in)[2]) {
    for (int s = 0; s < QXDRO_BCB_SLOTS; ++s) {
        if (!b.handle[s]) continue;
        uint8_t *start = static_cast<uint8_t *>(QXVSLockHNDL(b.handle[s]));
        start[3] = in[s][0];
        start[4] = in[s][1];
        QXVSUnlockHNDL(b.handle[s]);
    }
}

}  // namespace

void releaseBlocksAfter(BCB *last) {
    BCB rest{};
    rest.nextHandle = last->nextHandle;
    AllPutBCB_GMem(&rest);
    last->nextHandle = nullptr;
    last->next = nullptr;
}

JobUndo::JobUndo(OutputContext *ctx) : ctx_(ctx), saved_(*ctx), cmdBlocks_(0) {
    const OutputList *list = static_cast<const OutputList *>(QXVSLockHNDL(ctx->listHandle));
    list_ = *list;
    QXVSUnlockHNDL(ctx->listHandle);
    std::memcpy(items_, QXVSLockHNDL(ctx->itemsHandle), sizeof items_);
    QXVSUnlockHNDL(ctx->itemsHandle);
    for (int p = 0; p < QXDRO_MAX_PLANES; ++p) {
        saveLengths(ctx->planes[p].bcb, planeLength_[p]);
        saveLengths(ctx->tempBcb[p], tempLength_[p]);
    }
    for (const BCB *b = &ctx->cmdBcb; b; ++cmdBlocks_) {
        if (cmdBlocks_ < kSavedCmdBlocks) cmdUsed_[cmdBlocks_] = b->used[0];
        b = b->nextHandle ? static_cast<const BCB *>(QXVSLockHNDL(b->nextHandle)) : nullptr;
    }
}

void JobUndo::restore() {
    BCB *b = &ctx_->cmdBcb;
    for (int i = 1; i < cmdBlocks_; ++i) {
        b = static_cast<BCB *>(QXVSLockHNDL(b->nextHandle));
        if (i < kSavedCmdBlocks) b->used[0] = cmdUsed_[i];
    }
    releaseBlocksAfter(b);
    for (int p = 0; p < QXDRO_MAX_PLANES; ++p) {
        restoreLengths(ctx_->planes[p].bcb, planeLength_[p]);
        restoreLengths(ctx_->tempBcb[p], tempLength_[p]);
    }
    *ctx_ = saved_;
    OutputList *list = static_cast<OutputList *>(QXVSLockHNDL(ctx_->listHandle));
    *list = list_;
    QXVSUnlockHNDL(ctx_->listHandle);
    std::memcpy(QXVSLockHNDL(ctx_->itemsHandle), items_, sizeof items_);
    QXVSUnlockHNDL(ctx_->itemsHandle);
}

}  // namespace qxout
