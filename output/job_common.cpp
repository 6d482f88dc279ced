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

// The length field of a buffer's raster-line command (chain unlocked).
void saveLength(const BCB &b, uint8_t *length) {
    if (!b.handle[0]) return;
    std::memcpy(length, static_cast<const uint8_t *>(qxvs::lock(b.handle[0])) + 3, 2);
}

void restoreLength(const BCB &b, const uint8_t *length) {
    if (!b.handle[0]) return;
    std::memcpy(static_cast<uint8_t *>(qxvs::lock(b.handle[0])) + 3, length, 2);
}

}  // namespace

void releaseBlocksAfter(BCB *last) {
    BCB rest{};
    rest.nextHandle = last->nextHandle;
    AllPutBCB_GMem(&rest);
    last->nextHandle = nullptr;
    last->next = nullptr;
}

JobUndo::JobUndo(OutputContext *ctx) : ctx_(ctx), record_(*ctx) {
    for (int p = 0; p < outPlanes(ctx); ++p) {
        saveLength(ctx->planes[p].bcb, bandLength_[p]);
        saveLength(ctx->tempBcb[p], parkedLength_[p]);
    }
    list_ = *static_cast<const OutputList *>(qxvs::lock(ctx->listHandle));
    // The items of the list the caller holds; the rest of the array is unused.
    itemsSaved_ = list_.count < 0 ? 0 : (list_.count < QXDRO_LIST_ITEMS ? list_.count : QXDRO_LIST_ITEMS);
    std::memcpy(items_, qxvs::lock(ctx->itemsHandle), sizeof(ListItem) * static_cast<size_t>(itemsSaved_));
    for (const BCB *b = &ctx->cmdBcb; b; ++cmdBlocks_) {
        if (cmdBlocks_ < kSavedCmdBlocks) cmdUsed_[cmdBlocks_] = b->used[0];
        b = b->nextHandle ? static_cast<const BCB *>(qxvs::lock(b->nextHandle)) : nullptr;
    }
}

void JobUndo::restore() {
    // Command blocks the call added go back first; the saved record then
    // names the chain as it was.
    BCB *b = &ctx_->cmdBcb;
    for (int i = 1; i < cmdBlocks_; ++i) {
        b = static_cast<BCB *>(qxvs::lock(b->nextHandle));
        if (i < kSavedCmdBlocks) b->used[0] = cmdUsed_[i];
    }
    releaseBlocksAfter(b);
    *ctx_ = record_;
    for (int p = 0; p < outPlanes(ctx_); ++p) {
        restoreLength(ctx_->planes[p].bcb, bandLength_[p]);
        restoreLength(ctx_->tempBcb[p], parkedLength_[p]);
    }
    *static_cast<OutputList *>(qxvs::lock(ctx_->listHandle)) = list_;
    std::memcpy(qxvs::lock(ctx_->itemsHandle), items_, sizeof(ListItem) * static_cast<size_t>(itemsSaved_));
}

}  // namespace qxout
