// Paper-path status machine. Every function takes the address of
// the handle variable of the job's StatusRecord; a null address or a null
// handle is a missing record (-1).
#include "qxdro316_inner.h"

#include <cstddef>

namespace {

constexpr int kMissing = -1;

// Locked record behind *handleVar, or null when it is missing.
StatusRecord *lockRecord(QXVSHandle *handleVar) {
    if (handleVar == nullptr || *handleVar == nullptr) return nullptr;
    return static_cast<StatusRecord *>(QXVSLockHNDL(*handleVar));
}

struct Scan {
    int result;          // the decisive row's result; -1 for an operation out of range
    const int16_t *row;  // the decisive row; null for an operation out of range
};

// The row scan shared by CheckPrevStatus and SetCurrentStatus: the first row
// of the operation's list whose from-state equals the state, or its end row.
template <size_t Rows>
const int16_t *decisiveRow(const int16_t (&table)[Rows][4], const int16_t (&offset)[11], int16_t op,
                           int16_t state) {
    for (size_t r = static_cast<size_t>(offset[op]); r < Rows; ++r) {
        if (table[r][0] == state || table[r][0] == -1) return table[r];
    }
    return table[Rows - 1];  // not reached: every list ends inside its table
}

Scan scan(const StatusRecord *rec, int operation) {
    const auto op = static_cast<int16_t>(operation);
    if (op < 0 || op > 10) return {kMissing, nullptr};
    const int16_t *row = rec->bannerFlag != 0
                             ? decisiveRow(BannerPaperTable, BannerPaperOffset, op, rec->state)
                             : decisiveRow(CutPaperTable, CutPaperOffset, op, rec->state);
    return {row[2], row};
}

}  // namespace

extern "C" {

int OpenStatus(QXVSHandle *statusHandle) {
    if (statusHandle == nullptr) return kMissing;
    QXVSHandle h = QXVSNewHNDL(static_cast<int32_t>(sizeof(StatusRecord)));
    if (h == nullptr) return kMissing;
    auto *rec = static_cast<StatusRecord *>(QXVSLockHNDL(h));
    rec->state = 1;
    rec->bannerFlag = 0;
    QXVSUnlockHNDL(h);
    *statusHandle = h;
    return 0;
}

int ConvCut2BannerStatus(QXVSHandle *statusHandle, const PrintParams *params) {
    StatusRecord *rec = lockRecord(statusHandle);
    if (rec == nullptr) return kMissing;
    int result = 0;
    if (params == nullptr || rec->state != 1) {
        result = kMissing;
    } else if (params->bannerPaper == 1) {
        rec->bannerFlag = 1;
        rec->state = 9;
    }
    QXVSUnlockHNDL(*statusHandle);
    return result;
}

int CheckPrevStatus(QXVSHandle *statusHandle, int operation) {
    const StatusRecord *rec = lockRecord(statusHandle);
    if (rec == nullptr) return kMissing;
    const Scan s = scan(rec, operation);
    QXVSUnlockHNDL(*statusHandle);
    return s.result;
}

int SetCurrentStatus(QXVSHandle *statusHandle, int operation) {
    StatusRecord *rec = lockRecord(statusHandle);
    if (rec == nullptr) return kMissing;
    const Scan s = scan(rec, operation);
    int result = kMissing;
    if (s.row != nullptr && s.row[0] != -1) {  // a matching transition row
        rec->state = s.row[1];
        result = 0;
    }
    QXVSUnlockHNDL(*statusHandle);
    return result;
}

int CloseStatus(QXVSHandle *statusHandle) {
    QXVSDisposeHNDL(statusHandle);  // null address or null handle: nothing
    return 0;
}

}  // extern "C"
