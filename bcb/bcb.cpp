// Buffer control blocks: chains of blocks, each with up to four equal-size
// buffers. Every byte the library emits lives in one of them. A chain is
// locked for the duration of a call and unlocked before the call returns;
// the fill lengths survive the unlock in `used`.
#include "qxdro316_inner.h"
#include "vs_internal.h"
#include "bcb_internal.h"

namespace {

// Locks every buffer of one block, rebuilding the write positions.
void lockSlots(BCB *b) {
    for (int s = 0; s < QXDRO_BCB_SLOTS; ++s) {
        if (!b->handle[s]) continue;
        b->start[s] = static_cast<uint8_t *>(qxvs::lock(b->handle[s]));
        b->cur[s] = b->start[s] + b->used[s];
    }
}

// Unlocks every locked buffer of one block, saving the fill lengths.
void unlockSlots(BCB *b) {
    for (int s = 0; s < QXDRO_BCB_SLOTS; ++s) {
        if (!b->handle[s] || !b->start[s]) continue;
        b->used[s] = static_cast<int32_t>(b->cur[s] - b->start[s]);
        qxvs::unlock(b->handle[s]);
        b->start[s] = nullptr;
        b->cur[s] = nullptr;
    }
}

// Releases every buffer of one block; keepCur leaves the write positions.
void disposeSlots(BCB *b, bool onlyIfLocked, bool keepCur) {
    for (int s = 0; s < QXDRO_BCB_SLOTS; ++s) {
        if (!b->handle[s]) continue;
        if (!onlyIfLocked || b->start[s]) {
            qxvs::unlock(b->handle[s]);
            b->start[s] = nullptr;
            if (!keepCur) b->cur[s] = nullptr;
        }
        QXVSDisposeHNDL(&b->handle[s]);
    }
}

// Releases the blocks after the head, then unlinks them.
void disposeChain(BCB *head, bool keepCur) {
    disposeSlots(head, !keepCur, keepCur);
    QXVSHandle h = head->nextHandle;
    while (h) {
        BCB *b = static_cast<BCB *>(qxvs::lock(h));
        disposeSlots(b, !keepCur, keepCur);
        QXVSHandle following = b->nextHandle;
        qxvs::unlock(h);
        QXVSDisposeHNDL(&h);
        h = following;
    }
    head->next = nullptr;
    head->nextHandle = nullptr;
}

// What freeTempBuf does to a temporary block before any disposal: the fill
// lengths saved, locked buffers unlocked.
void releaseTempSlots(BCB *t) {
    for (int s = 0; s < QXDRO_BCB_SLOTS; ++s) {
        if (!t->handle[s]) continue;
        t->used[s] = static_cast<int32_t>(t->cur[s] - t->start[s]);
        if (t->start[s]) {
            qxvs::unlock(t->handle[s]);
            t->start[s] = nullptr;
            t->cur[s] = nullptr;
        }
    }
}

}  // namespace

void qxbcb::lockTemp(OutputContext *ctx, int planes) {
    for (int p = 0; p < planes && p < QXDRO_MAX_PLANES; ++p) {
        lockSlots(&ctx->tempBcb[p]);
        ctx->tempBcb[p].next = nullptr;
    }
}

void qxbcb::unlockTemp(OutputContext *ctx, int planes) {
    for (int p = 0; p < planes && p < QXDRO_MAX_PLANES; ++p) releaseTempSlots(&ctx->tempBcb[p]);
}

extern "C" {

BCB *GetNextBCB_GMem(BCB *block, int32_t size, int16_t count) {
    block->nextHandle = QXVSNewHNDL(static_cast<int32_t>(sizeof(BCB)));
    if (!block->nextHandle) return nullptr;
    BCB *n = static_cast<BCB *>(qxvs::lock(block->nextHandle));
    block->next = n;
    int slots = count < 0 ? 0 : (count > QXDRO_BCB_SLOTS ? QXDRO_BCB_SLOTS : count);
    for (int s = 0; s < slots; ++s) {
        n->handle[s] = QXVSNewHNDL(size);
        if (!n->handle[s]) return nullptr;
        n->start[s] = static_cast<uint8_t *>(qxvs::lock(n->handle[s]));
        n->cur[s] = n->start[s];
        n->used[s] = 0;
    }
    for (int s = slots; s < QXDRO_BCB_SLOTS; ++s) {
        n->handle[s] = nullptr;
        n->start[s] = nullptr;
        n->cur[s] = nullptr;
        n->used[s] = 0;
    }
    n->size = size;
    n->next = nullptr;
    n->nextHandle = nullptr;
    return n;
}

BCB *GetNextBCB(BCB *block, int32_t size, int16_t count) { return GetNextBCB_GMem(block, size, count); }

BCB *GetFreeBCB(BCB *head) {
    for (BCB *b = head;; b = b->next) {
        if (b->start[0] == b->cur[0]) return b;
        if (!b->next) return GetNextBCB_GMem(b, QXDRO_CMD_BLOCK_SIZE, 1);
    }
}

BCB *GetAdrBCB(BCB *head, int32_t index, int16_t modulus) {
    if (modulus == 0) return head;  // no ring to index into
    int32_t r = index % modulus;
    BCB *b = head;
    for (int32_t i = 0; i < r; ++i) b = b->next;
    return b;
}

void AllLockBCB_GMem(BCB *head) {
    lockSlots(head);
    for (BCB *b = head; b->nextHandle; b = b->next) {
        b->next = static_cast<BCB *>(qxvs::lock(b->nextHandle));
        lockSlots(b->next);
    }
}

void AllLockBCB(BCB *head) { AllLockBCB_GMem(head); }

void AllUnlockBCB_GMem(BCB *head) {
    unlockSlots(head);
    for (BCB *prev = head, *b = head->next; b; prev = b, b = b->next) {
        unlockSlots(b);
        qxvs::unlock(prev->nextHandle);
    }
}

// Unlike the _GMem form it stops at a block without a slot-0 buffer and
// clears every `next` it passes.
void AllUnlockBCB(BCB *head) {
    if (!head->handle[0]) return;
    unlockSlots(head);
    for (BCB *b = head; b->nextHandle;) {
        BCB *n = b->next;
        if (n) unlockSlots(n);
        qxvs::unlock(b->nextHandle);
        b->next = nullptr;
        if (!n || !n->handle[0]) return;
        b = n;
    }
}

void AllPutBCB_GMem(BCB *head) { disposeChain(head, false); }

void AllPutBCB(BCB *head) { disposeChain(head, true); }

void lockTempBuf(OutputContext *ctx) { qxbcb::lockTemp(ctx, QXDRO_MAX_PLANES); }

void freeTempBuf(OutputContext *ctx, int16_t dispose) {
    if (dispose == 0) {
        qxbcb::unlockTemp(ctx, QXDRO_MAX_PLANES);
        return;
    }
    for (BCB &t : ctx->tempBcb) {
        releaseTempSlots(&t);
        for (int s = 0; s < QXDRO_BCB_SLOTS; ++s) QXVSDisposeHNDL(&t.handle[s]);
    }
}

}  // extern "C"
