// Transition tables of the paper-path status machine, exported
// whole. Rows are (from-state, to-state, result, 0); an operation's list runs
// from its offset up to and including the first row whose from-state is -1.
#include "qxdro316_inner.h"
#include "status_index.h"

#include <cstddef>

namespace {
constexpr int16_t E = -1;     // end mark in the from- and to-state columns
constexpr int16_t R = -256;   // end row result: refused in this state
}  // namespace

extern "C" {

constexpr int16_t CutPaperOffset[11] = {0, 2, 4, 5, 7, 9, 13, 16, 21, 21, 19};

constexpr int16_t CutPaperTable[22][4] = {
    {0, 1, 0, 0}, {E, E, R, 0},                               // 0:  op 0
    {1, 2, 0, 0}, {E, E, R, 0},                               // 2:  op 1 OutputInitTwo
    {E, E, R, 0},                                             // 4:  op 2
    {2, 3, 0, 0}, {E, E, R, 0},                               // 5:  op 3 OutputInitPart
    {3, 4, 0, 0}, {E, E, R, 0},                               // 7:  op 4 OutputProduce(Two)
    {4, 3, 0, 0}, {5, 6, 0, 0}, {7, 2, 0, 0}, {E, E, R, 0},   // 9:  op 5 OutputComplete
    {3, 7, 0, 0}, {6, 7, 0, 0}, {E, E, R, 0},                 // 13: op 6 OutputFlush
    {3, 5, 0, 0}, {6, 5, 0, 0}, {E, E, R, 0},                 // 16: op 7
    {2, 0, 0, 0}, {E, E, R, 0},                               // 19: op 10
    {E, E, -1, 0},                                            // 21: ops 8 and 9
};

constexpr int16_t BannerPaperOffset[11] = {0, 2, 4, 5, 7, 9, 15, 18, 21, 24, 27};

constexpr int16_t BannerPaperTable[31][4] = {
    {8, 9, 0, 0}, {E, E, R, 0},                                // 0:  op 0
    {9, 10, 0, 0}, {E, E, R, 0},                               // 2:  op 1 OutputInitTwo
    {E, E, R, 0},                                              // 4:  op 2
    {10, 11, 0, 0}, {E, E, R, 0},                              // 5:  op 3 OutputInitPart
    {11, 12, 0, 0}, {E, E, R, 0},                              // 7:  op 4 OutputProduce(Two)
    {12, 11, 0, 0}, {13, 14, 0, 0}, {15, 10, 0, 0},            // 9:  op 5 OutputComplete
    {17, 18, 0, 0}, {16, 19, 0, 0}, {E, E, R, 0},
    {10, 16, 0, 0}, {18, 16, 0, 0}, {E, E, R, 0},              // 15: op 6 OutputFlush
    {10, 17, 0, 0}, {18, 17, 0, 0}, {E, E, R, 0},              // 18: op 7
    {11, 15, 0, 0}, {14, 15, 0, 0}, {E, E, R, 0},              // 21: op 8 OutputFormFeed
    {11, 13, 0, 0}, {14, 13, 0, 0}, {E, E, R, 0},              // 24: op 9
    {9, 8, 0, 0}, {19, 8, 0, 0}, {E, E, R, 0},                 // 27: op 10
    {E, E, -1, 0},                                             // 30: no operation
};

}  // extern "C"

namespace {

// Every list starts inside its table and reaches an end row before the table ends.
template <size_t Rows>
constexpr bool listsEnd(const int16_t (&table)[Rows][4], const int16_t (&offset)[11]) {
    for (int16_t start : offset) {
        if (start < 0 || static_cast<size_t>(start) >= Rows) return false;
        size_t r = static_cast<size_t>(start);
        while (r < Rows && table[r][0] != -1) ++r;
        if (r == Rows) return false;
    }
    return table[Rows - 1][0] == -1 && table[Rows - 1][2] == -1;
}

}  // namespace

static_assert(listsEnd(CutPaperTable, CutPaperOffset));
static_assert(listsEnd(BannerPaperTable, BannerPaperOffset));

namespace {

template <size_t Rows>
constexpr qxstatus::RowIndex indexOf(const int16_t (&table)[Rows][4], const int16_t (&offset)[11]) {
    qxstatus::RowIndex ix{};
    for (int op = 0; op < qxstatus::kOperationCount; ++op) {
        size_t end = static_cast<size_t>(offset[op]);
        while (table[end][0] != -1) ++end;
        ix.end[op] = static_cast<int8_t>(end);
        for (int state = 0; state < qxstatus::kStateCount; ++state) {
            size_t r = static_cast<size_t>(offset[op]);
            while (table[r][0] != state && table[r][0] != -1) ++r;
            ix.row[op][state] = static_cast<int8_t>(r);
            ix.allowed[op][state] = table[r][0] != -1 && table[r][2] >= 0 ? static_cast<int8_t>(r) : int8_t{-1};
        }
    }
    return ix;
}

// No table names a state outside 0..19, so every other state meets the end row.
template <size_t Rows>
constexpr bool statesInRange(const int16_t (&table)[Rows][4]) {
    for (const auto &row : table) {
        if (row[0] != -1 && (row[0] < 0 || row[0] >= qxstatus::kStateCount)) return false;
    }
    return true;
}
static_assert(statesInRange(CutPaperTable) && statesInRange(BannerPaperTable));

}  // namespace

constinit const qxstatus::RowIndex qxstatus::kCutIndex = indexOf(CutPaperTable, CutPaperOffset);
constinit const qxstatus::RowIndex qxstatus::kBannerIndex = indexOf(BannerPaperTable, BannerPaperOffset);
