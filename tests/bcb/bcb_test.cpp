// Buffer chains: growth, lookup by band, lock and unlock keeping the fill,
// and release, for the context-owned and the plain routines.
#include <gtest/gtest.h>

#include <cstring>

#include "alloc_seam.h"
#include "qxdro316_inner.h"

namespace {

// A head with one locked 64-byte buffer, as job setup builds them.
struct Chain {
    BCB head{};
    Chain() {
        head.size = 64;
        head.handle[0] = QXVSNewHNDL(64);
        head.start[0] = head.cur[0] = static_cast<uint8_t *>(QXVSLockHNDL(head.handle[0]));
    }
    ~Chain() { AllPutBCB_GMem(&head); }
    int length() const {
        int n = 0;
        for (const BCB *b = head.next; b; b = b->next) ++n;
        return n;
    }
};

TEST(GetAdrBCB, IndexModuloRing) {
    Chain c;
    BCB *second = GetNextBCB_GMem(&c.head, 64, 1);
    BCB *third = GetNextBCB_GMem(second, 64, 1);
    struct {
        int32_t index;
        int16_t modulus;
        BCB *want;
    } cases[] = {{5, 1, &c.head}, {3, 2, second}, {-1, 2, &c.head}, {0, 3, &c.head}, {5, 3, third}, {4, 3, second},
                 {7, 0, &c.head}};
    for (const auto &k : cases) EXPECT_EQ(GetAdrBCB(&c.head, k.index, k.modulus), k.want) << k.index << " mod " << k.modulus;
}

TEST(GetNextBCB, SlotsBeyondTheCountStayEmpty) {
    for (int16_t count : {0, 1, 3, 4}) {
        Chain c;
        BCB *n = GetNextBCB_GMem(&c.head, 100, count);
        ASSERT_NE(n, nullptr);
        EXPECT_EQ(n->size, 100);
        EXPECT_EQ(c.head.next, n);
        EXPECT_NE(c.head.nextHandle, nullptr);
        for (int s = 0; s < 4; ++s) {
            EXPECT_EQ(n->handle[s] != nullptr, s < count) << "slot " << s;
            EXPECT_EQ(n->start[s], n->cur[s]);
            EXPECT_EQ(n->used[s], 0);
        }
    }
}

TEST(GetNextBCB, FailedBufferLeavesAPartBlockThatReleases) {
    const long base = qxtest::liveBlocks();
    {
        Chain c;
        qxtest::AllocFailure fail(3);  // the block, its first buffer, then the second buffer fails
        EXPECT_EQ(GetNextBCB_GMem(&c.head, 32, 2), nullptr);
        EXPECT_NE(c.head.nextHandle, nullptr);
        EXPECT_EQ(c.head.next->size, 0);
    }
    EXPECT_EQ(qxtest::liveBlocks(), base);
}

TEST(GetFreeBCB, ReusesAnEmptyBlockBeforeGrowing) {
    Chain c;
    c.head.size = QXDRO_CMD_BLOCK_SIZE;
    EXPECT_EQ(GetFreeBCB(&c.head), &c.head);
    *c.head.cur[0]++ = 1;
    BCB *grown = GetFreeBCB(&c.head);
    ASSERT_NE(grown, &c.head);
    EXPECT_EQ(grown->size, QXDRO_CMD_BLOCK_SIZE);
    EXPECT_EQ(GetFreeBCB(&c.head), grown) << "an empty new block is found again";
    *grown->cur[0]++ = 2;
    EXPECT_NE(GetFreeBCB(&c.head), grown);
    EXPECT_EQ(c.length(), 2);
}

TEST(LockUnlock, FillLengthsSurvive) {
    Chain c;
    BCB *n = GetNextBCB_GMem(&c.head, 64, 2);
    c.head.cur[0] += 7;
    n->cur[0] += 3;
    n->cur[1] += 11;
    AllUnlockBCB_GMem(&c.head);
    EXPECT_EQ(c.head.start[0], nullptr);
    EXPECT_EQ(c.head.used[0], 7);
    EXPECT_EQ(n->used[1], 11);
    EXPECT_EQ(c.head.next, n) << "the _GMem unlock leaves the links";
    AllLockBCB_GMem(&c.head);
    EXPECT_EQ(c.head.cur[0] - c.head.start[0], 7);
    EXPECT_EQ(n->cur[0] - n->start[0], 3);
    EXPECT_EQ(n->cur[1] - n->start[1], 11);
}

TEST(LockUnlock, PlainUnlockStopsAtAHeadWithoutBuffer) {
    BCB head{};
    head.handle[1] = QXVSNewHNDL(8);
    head.start[1] = head.cur[1] = static_cast<uint8_t *>(head.handle[1]);
    const BCB before = head;
    AllUnlockBCB(&head);
    EXPECT_EQ(std::memcmp(&head, &before, sizeof head), 0);
    AllUnlockBCB_GMem(&head);
    EXPECT_EQ(head.start[1], nullptr);
    QXVSDisposeHNDL(&head.handle[1]);
}

TEST(LockUnlock, PlainUnlockClearsTheLinksItPasses) {
    Chain c;
    BCB *n = GetNextBCB(&c.head, 64, 1);
    AllUnlockBCB(&c.head);
    EXPECT_EQ(c.head.next, nullptr);
    EXPECT_EQ(c.head.start[0], nullptr);
    EXPECT_EQ(n->start[0], nullptr);
    AllLockBCB(&c.head);
    EXPECT_EQ(c.head.next, n);
}

TEST(Release, GMemReleaseKeepsTheHeadAndSize) {
    const long base = qxtest::liveBlocks();
    BCB head{};
    head.size = 64;
    head.handle[0] = QXVSNewHNDL(64);
    head.start[0] = static_cast<uint8_t *>(head.handle[0]);
    head.cur[0] = head.start[0] + 4;
    head.used[0] = 9;
    GetNextBCB_GMem(GetNextBCB_GMem(&head, 64, 2), 64, 1);
    AllPutBCB_GMem(&head);
    EXPECT_EQ(qxtest::liveBlocks(), base);
    for (int s = 0; s < 4; ++s) EXPECT_EQ(head.handle[s], nullptr);
    EXPECT_EQ(head.cur[0], nullptr);
    EXPECT_EQ(head.used[0], 9);
    EXPECT_EQ(head.size, 64);
    EXPECT_EQ(head.next, nullptr);
    EXPECT_EQ(head.nextHandle, nullptr);
}

TEST(Release, PlainReleaseKeepsWritePositions) {
    const long base = qxtest::liveBlocks();
    BCB head{};
    head.handle[0] = QXVSNewHNDL(64);
    head.start[0] = static_cast<uint8_t *>(head.handle[0]);
    uint8_t *pos = head.start[0] + 5;
    head.cur[0] = pos;
    GetNextBCB(&head, 64, 1);
    AllPutBCB(&head);
    EXPECT_EQ(qxtest::liveBlocks(), base);
    EXPECT_EQ(head.start[0], nullptr);
    EXPECT_EQ(head.cur[0], pos);
}

TEST(TempBuffers, FreeKeepsFillAndDisposeReleases) {
    const long base = qxtest::liveBlocks();
    OutputContext ctx{};
    for (int p = 0; p < 3; ++p) {
        ctx.tempBcb[p].handle[0] = QXVSNewHNDL(32);
        ctx.tempBcb[p].next = &ctx.tempBcb[p];  // a stale link, cleared by the lock
    }
    lockTempBuf(&ctx);
    for (int p = 0; p < 3; ++p) {
        EXPECT_EQ(ctx.tempBcb[p].next, nullptr);
        ctx.tempBcb[p].cur[0] += p + 1;
    }
    freeTempBuf(&ctx, 0);
    for (int p = 0; p < 3; ++p) {
        EXPECT_EQ(ctx.tempBcb[p].used[0], p + 1);
        EXPECT_EQ(ctx.tempBcb[p].start[0], nullptr);
    }
    lockTempBuf(&ctx);
    EXPECT_EQ(ctx.tempBcb[2].cur[0] - ctx.tempBcb[2].start[0], 3);
    freeTempBuf(&ctx, 1);
    EXPECT_EQ(qxtest::liveBlocks(), base);
    for (int p = 0; p < 3; ++p) EXPECT_EQ(ctx.tempBcb[p].handle[0], nullptr);
    lockTempBuf(&ctx);  // locks nothing
    EXPECT_EQ(ctx.tempBcb[0].start[0], nullptr);
}

}  // namespace
