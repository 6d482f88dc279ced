// Tests of the paper-path status machine. The expected transitions
// are restated here from the operation table of the status machine as (op, from, to)
// lists, independent of the exported row arrays, and every operation -1..11 is
// checked in every state 0..19 of both tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

#include "alloc_seam.h"
#include "qxdro316_inner.h"
#include "status_index.h"

namespace {

struct Move {
    int op, from, to;
};

// Cut paper: 0: 0->1; 1: 1->2; 3: 2->3; 4: 3->4; 5: 4->3, 5->6, 7->2;
// 6: 3->7, 6->7; 7: 3->5, 6->5; 10: 2->0. Ops 2, 8, 9: none.
const std::vector<Move> kCutMoves = {
    {0, 0, 1}, {1, 1, 2}, {3, 2, 3}, {4, 3, 4}, {5, 4, 3}, {5, 5, 6}, {5, 7, 2},
    {6, 3, 7}, {6, 6, 7}, {7, 3, 5}, {7, 6, 5}, {10, 2, 0},
};
// Banner paper: 0: 8->9; 1: 9->10; 3: 10->11; 4: 11->12;
// 5: 12->11, 13->14, 15->10, 17->18, 16->19; 6: 10->16, 18->16; 7: 10->17, 18->17;
// 8: 11->15, 14->15; 9: 11->13, 14->13; 10: 9->8, 19->8. Op 2: none.
const std::vector<Move> kBannerMoves = {
    {0, 8, 9},    {1, 9, 10},   {3, 10, 11},  {4, 11, 12},  {5, 12, 11},  {5, 13, 14},
    {5, 15, 10},  {5, 17, 18},  {5, 16, 19},  {6, 10, 16},  {6, 18, 16},  {7, 10, 17},
    {7, 18, 17},  {8, 11, 15},  {8, 14, 15},  {9, 11, 13},  {9, 14, 13},  {10, 9, 8},
    {10, 19, 8},
};

// Expected (check result, next state or -1) for op in state on one paper path.
std::pair<int, int> expected(bool banner, int op, int state) {
    if (op < 0 || op > 10) return {-1, -1};
    for (const Move &m : banner ? kBannerMoves : kCutMoves) {
        if (m.op == op && m.from == state) return {0, m.to};
    }
    // Refusals: -1 for ops 8 and 9 on cut paper (the table's last row), else -256.
    const int refused = (!banner && (op == 8 || op == 9)) ? -1 : -256;
    return {refused, -1};
}

// A status record opened through OpenStatus and released at scope end.
struct Record {
    QXVSHandle h = nullptr;
    Record() { EXPECT_EQ(OpenStatus(&h), 0); }
    ~Record() { CloseStatus(&h); }
    StatusRecord *rec() { return static_cast<StatusRecord *>(QXVSLockHNDL(h)); }
    void put(int16_t state, int16_t flag) {
        rec()->state = state;
        rec()->bannerFlag = flag;
    }
    int state() { return rec()->state; }
    int flag() { return rec()->bannerFlag; }
};

PrintParams params(int16_t bannerPaper) {
    PrintParams p{};
    p.bannerPaper = bannerPaper;
    return p;
}

TEST(StatusOpen, FreshRecord) {
    const long before = qxtest::liveBlocks();
    {
        qxtest::AllocFailure seam(0);
        Record r;
        EXPECT_EQ(qxtest::allocCalls(), 1);
        ASSERT_NE(r.h, nullptr);
        EXPECT_EQ(r.state(), 1);
        EXPECT_EQ(r.flag(), 0);
        EXPECT_EQ(CheckPrevStatus(&r.h, 1), 0);
        EXPECT_EQ(CheckPrevStatus(&r.h, 3), -256);
        EXPECT_EQ(CheckPrevStatus(&r.h, 8), -1);
        EXPECT_EQ(qxtest::liveBlocks(), before + 1);
    }
    EXPECT_EQ(qxtest::liveBlocks(), before);
}

TEST(StatusOpen, AllocationFailureLeavesHandleUntouched) {
    const long before = qxtest::liveBlocks();
    int sentinel = 0;
    QXVSHandle h = &sentinel;
    {
        qxtest::AllocFailure seam(1);
        EXPECT_EQ(OpenStatus(&h), -1);
    }
    EXPECT_EQ(h, &sentinel);
    QXVSHandle n = nullptr;
    {
        qxtest::AllocFailure seam(1);
        EXPECT_EQ(OpenStatus(&n), -1);
    }
    EXPECT_EQ(n, nullptr);
    EXPECT_EQ(qxtest::liveBlocks(), before);
}

TEST(StatusOpen, NullAddressIsRefused) {
    const long before = qxtest::liveBlocks();
    EXPECT_EQ(OpenStatus(nullptr), -1);
    EXPECT_EQ(qxtest::liveBlocks(), before);
}

TEST(StatusClose, ReleasesAndNulls) {
    const long before = qxtest::liveBlocks();
    QXVSHandle h = nullptr;
    ASSERT_EQ(OpenStatus(&h), 0);
    EXPECT_EQ(CloseStatus(&h), 0);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(qxtest::liveBlocks(), before);
    EXPECT_EQ(CloseStatus(&h), 0);  // already null: nothing
    EXPECT_EQ(CloseStatus(nullptr), 0);
}

TEST(StatusMissing, NullAddressOrNullHandleGivesMinusOne) {
    const PrintParams p = params(1);
    QXVSHandle none = nullptr;
    for (QXVSHandle *hv : {static_cast<QXVSHandle *>(nullptr), &none}) {
        EXPECT_EQ(ConvCut2BannerStatus(hv, &p), -1);
        for (int op = -1; op <= 11; ++op) {
            EXPECT_EQ(CheckPrevStatus(hv, op), -1) << op;
            EXPECT_EQ(SetCurrentStatus(hv, op), -1) << op;
        }
    }
    EXPECT_EQ(none, nullptr);
}

// Every operation in every state of both tables: CheckPrevStatus's result,
// SetCurrentStatus's result and the state it leaves, against the restated moves.
TEST(StatusTable, EveryOperationInEveryState) {
    Record r;
    for (int16_t flag : {0, 1, 7}) {  // any non-zero flag selects the banner table
        const bool banner = flag != 0;
        for (int op = -1; op <= 11; ++op) {
            for (int16_t state = 0; state <= 19; ++state) {
                const auto [check, next] = expected(banner, op, state);
                r.put(state, flag);
                EXPECT_EQ(CheckPrevStatus(&r.h, op), check)
                    << (banner ? "banner" : "cut") << " op " << op << " state " << state;
                EXPECT_EQ(r.state(), state);  // the check changes nothing
                EXPECT_EQ(SetCurrentStatus(&r.h, op), next >= 0 ? 0 : -1)
                    << (banner ? "banner" : "cut") << " op " << op << " state " << state;
                EXPECT_EQ(r.state(), next >= 0 ? next : state)
                    << (banner ? "banner" : "cut") << " op " << op << " state " << state;
                EXPECT_EQ(r.flag(), flag);
            }
        }
    }
}

// The job calls' one-lookup check agrees with the table scan, states outside
// 0..19 included (refused).
TEST(StatusTable, JobCallLookupAgreesWithTheScan) {
    Record r;
    for (int16_t flag : {0, 1}) {
        for (int op = 0; op <= 10; ++op) {
            for (int16_t state = -2; state <= 21; ++state) {
                const auto [check, next] = expected(flag != 0, op, state);
                r.put(state, flag);
                const int16_t *row = qxstatus::allowedTransition(&r.h, static_cast<qxstatus::Operation>(op));
                EXPECT_EQ(row != nullptr, check == 0) << "flag " << flag << " op " << op << " state " << state;
                if (row) {
                    EXPECT_EQ(row[1], next) << "flag " << flag << " op " << op << " state " << state;
                }
            }
        }
    }
}

TEST(StatusTable, OperationComparedAsInt16) {
    Record r;
    // 0x10001 is 1 as int16; 0x1FFFF is -1; 0x8003 is negative.
    EXPECT_EQ(CheckPrevStatus(&r.h, 0x10001), 0);
    EXPECT_EQ(CheckPrevStatus(&r.h, 0x1FFFF), -1);
    EXPECT_EQ(CheckPrevStatus(&r.h, 0x8003), -1);
    EXPECT_EQ(SetCurrentStatus(&r.h, 0x8001), -1);
    EXPECT_EQ(r.state(), 1);
    EXPECT_EQ(SetCurrentStatus(&r.h, 0x10001), 0);
    EXPECT_EQ(r.state(), 2);
}

TEST(StatusTable, DocumentedEdgeCases) {
    Record r;
    r.put(7, 0);
    EXPECT_EQ(SetCurrentStatus(&r.h, 5), 0);
    EXPECT_EQ(r.state(), 2);
    r.put(3, 0);
    EXPECT_EQ(SetCurrentStatus(&r.h, 5), -1);
    EXPECT_EQ(r.state(), 3);
    r.put(10, 1);
    EXPECT_EQ(CheckPrevStatus(&r.h, 6), 0);  // OutputFlush between banner pages
    r.put(11, 1);
    EXPECT_EQ(CheckPrevStatus(&r.h, 6), -256);  // ... but not inside a page
    for (int16_t state = 0; state <= 19; ++state) {
        r.put(state, state >= 8 ? 1 : 0);
        EXPECT_EQ(CheckPrevStatus(&r.h, 2), -256) << state;  // op 2 always refused
    }
}

// The exported rows restate the same moves: each operation's list, from its
// offset to its end row, holds exactly that operation's moves.
template <size_t Rows>
void checkRows(const int16_t (&table)[Rows][4], const int16_t (&offset)[11], const std::vector<Move> &moves,
               bool banner) {
    for (int op = 0; op <= 10; ++op) {
        std::set<std::pair<int, int>> want, got;
        for (const Move &m : moves) {
            if (m.op == op) want.insert({m.from, m.to});
        }
        size_t r = static_cast<size_t>(offset[op]);
        ASSERT_LT(r, Rows);
        for (; r < Rows && table[r][0] != -1; ++r) {
            got.insert({table[r][0], table[r][1]});
            EXPECT_EQ(table[r][2], 0);
            EXPECT_EQ(table[r][3], 0);
        }
        ASSERT_LT(r, Rows) << "op " << op << " has no end row";
        EXPECT_EQ(table[r][1], -1);
        EXPECT_EQ(table[r][2], expected(banner, op, -5).first) << "end row of op " << op;
        EXPECT_EQ(table[r][3], 0);
        EXPECT_EQ(got, want) << (banner ? "banner" : "cut") << " op " << op;
    }
    EXPECT_EQ(table[Rows - 1][0], -1);
    EXPECT_EQ(table[Rows - 1][2], -1);
}

TEST(StatusTable, ExportedRowsHoldTheMoves) {
    const int16_t cutOffsets[11] = {0, 2, 4, 5, 7, 9, 13, 16, 21, 21, 19};
    const int16_t bannerOffsets[11] = {0, 2, 4, 5, 7, 9, 15, 18, 21, 24, 27};
    EXPECT_TRUE(std::equal(cutOffsets, cutOffsets + 11, CutPaperOffset));
    EXPECT_TRUE(std::equal(bannerOffsets, bannerOffsets + 11, BannerPaperOffset));
    checkRows(CutPaperTable, CutPaperOffset, kCutMoves, false);
    checkRows(BannerPaperTable, BannerPaperOffset, kBannerMoves, true);
    // Every row belongs to some operation's list except the banner table's last.
    size_t cutRows = 0, bannerRows = 0;
    for (const auto &row : CutPaperTable) cutRows += row[0] != -1;
    for (const auto &row : BannerPaperTable) bannerRows += row[0] != -1;
    EXPECT_EQ(cutRows, kCutMoves.size());
    EXPECT_EQ(bannerRows, kBannerMoves.size());
}

// ---- Switching to banner paper ---------------------------------------------------

TEST(StatusBanner, SwitchOnlyFromStateOneWithBannerPaperOne) {
    Record r;
    for (int16_t state = 0; state <= 19; ++state) {
        for (int16_t paper : {1, 0, 2, -1}) {
            r.put(state, 0);
            const PrintParams p = params(paper);
            const int want = state == 1 ? 0 : -1;
            EXPECT_EQ(ConvCut2BannerStatus(&r.h, &p), want) << "state " << state << " paper " << paper;
            const bool switched = state == 1 && paper == 1;
            EXPECT_EQ(r.state(), switched ? 9 : state);
            EXPECT_EQ(r.flag(), switched ? 1 : 0);
        }
    }
}

TEST(StatusBanner, NullParamsChangeNothing) {
    Record r;
    EXPECT_EQ(ConvCut2BannerStatus(&r.h, nullptr), -1);
    EXPECT_EQ(r.state(), 1);
    EXPECT_EQ(r.flag(), 0);
}

// ---- Whole jobs -------------------------------------------------------------------

// Applies op expecting the check and the move to succeed and to reach `to`.
void step(Record &r, int op, int to) {
    ASSERT_EQ(CheckPrevStatus(&r.h, op), 0) << "op " << op << " in state " << r.state();
    ASSERT_EQ(SetCurrentStatus(&r.h, op), 0) << "op " << op;
    ASSERT_EQ(r.state(), to) << "after op " << op;
}

TEST(StatusJob, CutPaperDocument) {
    Record r;
    const PrintParams cut = params(0);
    EXPECT_EQ(ConvCut2BannerStatus(&r.h, &cut), 0);
    EXPECT_EQ(r.state(), 1);
    EXPECT_EQ(CheckPrevStatus(&r.h, 4), -256);  // OutputProduce before any page
    step(r, 1, 2);
    EXPECT_EQ(CheckPrevStatus(&r.h, 1), -256);  // OutputInitTwo only once
    for (int page = 0; page < 3; ++page) {
        step(r, 3, 3);
        for (int line = 0; line < 4; ++line) {
            step(r, 4, 4);
            EXPECT_EQ(CheckPrevStatus(&r.h, 4), -256);  // completion pending
            step(r, 5, 3);
        }
        EXPECT_EQ(CheckPrevStatus(&r.h, 8), -1);  // no form feed on cut sheets
        step(r, 6, 7);
        step(r, 5, 2);
    }
    EXPECT_EQ(r.flag(), 0);
}

TEST(StatusJob, BannerPaperDocument) {
    Record r;
    const PrintParams banner = params(1);
    EXPECT_EQ(ConvCut2BannerStatus(&r.h, &banner), 0);
    EXPECT_EQ(r.state(), 9);
    EXPECT_EQ(r.flag(), 1);
    EXPECT_EQ(ConvCut2BannerStatus(&r.h, &banner), -1);  // only once
    step(r, 1, 10);
    for (int form = 0; form < 2; ++form) {
        step(r, 3, 11);
        EXPECT_EQ(CheckPrevStatus(&r.h, 6), -256);
        for (int line = 0; line < 3; ++line) {
            step(r, 4, 12);
            step(r, 5, 11);
        }
        step(r, 8, 15);
        step(r, 5, 10);
    }
    step(r, 6, 16);
    step(r, 5, 19);
    for (int op : {1, 3, 4, 5, 6, 8}) {  // the library's own operations: all refused now
        EXPECT_LT(CheckPrevStatus(&r.h, op), 0) << op;
        EXPECT_EQ(SetCurrentStatus(&r.h, op), -1) << op;
        EXPECT_EQ(r.state(), 19);
    }
}

}  // namespace
