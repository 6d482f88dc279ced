// Pieces every job call shares: the list being filled, plane chain locks,
// band draining, and the undo record of a failing call.
#include <cstring>

#include "output_internal.h"

namespace qxout {

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
    ctx->list = static_cast<OutputList *>(qxvs::lock(ctx->listHandle));
    AllLockBCB_GMem(&ctx->cmdBcb);
    ctx->list->items = static_cast<ListItem *>(qxvs::lock(ctx->itemsHandle));
    ctx->list->count = 0;
}

void closeList(OutputContext *ctx) {
    qxvs::unlock(ctx->itemsHandle);
    AllUnlockBCB_GMem(&ctx->cmdBcb);
    qxvs::unlock(ctx->listHandle);
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

// Fill lengths and length fields of a block's buffers (chain unlocked).
void saveFill(BCB &b, int32_t *used, uint8_t (*length)[2]) {
    for (int s = 0; s < QXDRO_BCB_SLOTS; ++s) {
        used[s] = b.used[s];
        if (!b.handle[s]) continue;
        const uint8_t *start = static_cast<const uint8_t *>(qxvs::lock(b.handle[s]));
        length[s][0] = start[3];
        length[s][1] = start[4];
        qxvs::unlock(b.handle[s]);
    }
}

void restoreFill(BCB &b, const int32_t *used, const uint8_t (*length)[2]) {
    for (int s = 0; s < QXDRO_BCB_SLOTS; ++s) {
        b.used[s] = used[s];
        if (!b.handle[s]) continue;
        uint8_t *start = static_cast<uint8_t *>(qxvs::lock(b.handle[s]));
        start[3] = length[s][0];
        start[4] = length[s][1];
        qxvs::unlock(b.handle[s]);
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

JobUndo::JobUndo(OutputContext *ctx, bool listMayGrow)
    : ctx_(ctx),
      planes_(ctx->outPlaneCount > 0 ? (ctx->outPlaneCount < QXDRO_MAX_PLANES ? ctx->outPlaneCount : QXDRO_MAX_PLANES)
                                     : 0),
      completeMode_(ctx->completeMode),
      headerState_(ctx->headerState),
      lastColorSel_(ctx->lastColorSel),
      formFeedLength_(ctx->formFeedLength),
      pendingSkip_(ctx->pendingSkip),
      randSeed_(ctx->randSeed),
      listMayGrow_(listMayGrow),
      cmdBlocks_(0) {
    for (int p = 0; p < planes_; ++p) {
        PlaneSave &s = plane_[p];
        s.last = ctx->planes[p].last;
        s.cur = ctx->planes[p].cur;
        saveFill(ctx->planes[p].bcb, s.band.used, s.band.length);
        saveFill(ctx->tempBcb[p], s.temp.used, s.temp.length);
    }
    std::memcpy(lineCounter_, ctx->lineCounter, sizeof lineCounter_);
    std::memcpy(planeFlag_, ctx->planeFlag, sizeof planeFlag_);
    list_ = *static_cast<const OutputList *>(qxvs::lock(ctx->listHandle));
    qxvs::unlock(ctx->listHandle);
    if (listMayGrow_) {
        // The items of the list the caller holds; the rest of the array is unused.
        itemsSaved_ = list_.count < 0 ? 0 : (list_.count < QXDRO_LIST_ITEMS ? list_.count : QXDRO_LIST_ITEMS);
        std::memcpy(items_, qxvs::lock(ctx->itemsHandle), sizeof(ListItem) * static_cast<size_t>(itemsSaved_));
        qxvs::unlock(ctx->itemsHandle);
    }
    for (const BCB *b = &ctx->cmdBcb; b; ++cmdBlocks_) {
        if (cmdBlocks_ < kSavedCmdBlocks) cmdUsed_[cmdBlocks_] = b->used[0];
        b = b->nextHandle ? static_cast<const BCB *>(qxvs::lock(b->nextHandle)) : nullptr;
    }
}

void JobUndo::restore() {
    BCB *b = &ctx_->cmdBcb;
    b->used[0] = cmdUsed_[0];
    for (int i = 1; i < cmdBlocks_; ++i) {
        b = static_cast<BCB *>(qxvs::lock(b->nextHandle));
        if (i < kSavedCmdBlocks) b->used[0] = cmdUsed_[i];
    }
    releaseBlocksAfter(b);
    for (int p = 0; p < planes_; ++p) {
        const PlaneSave &s = plane_[p];
        ctx_->planes[p].last = s.last;
        ctx_->planes[p].cur = s.cur;
        restoreFill(ctx_->planes[p].bcb, s.band.used, s.band.length);
        restoreFill(ctx_->tempBcb[p], s.temp.used, s.temp.length);
    }
    ctx_->completeMode = completeMode_;
    ctx_->headerState = headerState_;
    ctx_->lastColorSel = lastColorSel_;
    ctx_->formFeedLength = formFeedLength_;
    ctx_->pendingSkip = pendingSkip_;
    ctx_->randSeed = randSeed_;
    std::memcpy(ctx_->lineCounter, lineCounter_, sizeof lineCounter_);
    std::memcpy(ctx_->planeFlag, planeFlag_, sizeof planeFlag_);
    ctx_->list = nullptr;
    *static_cast<OutputList *>(qxvs::lock(ctx_->listHandle)) = list_;
    qxvs::unlock(ctx_->listHandle);
    if (listMayGrow_) {
        std::memcpy(qxvs::lock(ctx_->itemsHandle), items_, sizeof(ListItem) * static_cast<size_t>(itemsSaved_));
        qxvs::unlock(ctx_->itemsHandle);
    }
}

}  // namespace qxout
