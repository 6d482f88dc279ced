// Paper-path status machine. Every function takes the address of
// the handle variable of the job's StatusRecord; a null address or a null
// handle is a missing record (-1).
#include "qxdro316_inner.h"
#include "vs_internal.h"
#include "status_index.h"

#include <cstddef>

namespace {

constexpr int kMissing = -1;

// Locked record behind *handleVar, or null when it is missing.
StatusRecord *lockRecord(QXVSHandle *handleVar) {
    if (handleVar == nullptr || *handleVar == nullptr) return nullptr;
    return static_cast<StatusRecord *>(qxvs::lock(*handleVar));
}

struct Scan {
    int result;          // the decisive row's result; -1 for an operation out of range
    const int16_t *row;  // the decisive row; null for an operation out of range
};

Scan scan(const StatusRecord *rec, int operation) {
    const auto op = static_cast<int16_t>(operation);
    if (op < 0 || op >= qxstatus::kOperationCount) return {kMissing, nullptr};
    const int16_t *row = qxstatus::decisiveRow(rec->bannerFlag, op, rec->state);
    return {row[2], row};
}

}  // namespace

extern "C" {

int OpenStatus(QXVSHandle *statusHandle) {
    if (statusHandle == nullptr) return kMissing;
    QXVSHandle h = QXVSNewHNDL(static_cast<int32_t>(sizeof(StatusRecord)));
    if (h == nullptr) return kMissing;
    auto *rec = static_cast<StatusRecord *>(qxvs::lock(h));
    rec->state = qxstatus::kCutOpened;
    rec->bannerFlag = 0;
    qxvs::unlock(h);
    *statusHandle = h;
    return 0;
}

int ConvCut2BannerStatus(QXVSHandle *statusHandle, const PrintParams *params) {
    StatusRecord *rec = lockRecord(statusHandle);
    if (rec == nullptr) return kMissing;
    int result = 0;
    if (params == nullptr || rec->state != qxstatus::kCutOpened) {
        result = kMissing;
    } else if (params->bannerPaper == 1) {
        rec->bannerFlag = 1;
        rec->state = qxstatus::kBannerOpened;
    }
    qxvs::unlock(*statusHandle);
    return result;
}

int CheckPrevStatus(QXVSHandle *statusHandle, int operation) {
    const StatusRecord *rec = lockRecord(statusHandle);
    if (rec == nullptr) return kMissing;
    const Scan s = scan(rec, operation);
    qxvs::unlock(*statusHandle);
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
    qxvs::unlock(*statusHandle);
    return result;
}

int CloseStatus(QXVSHandle *statusHandle) {
    QXVSDisposeHNDL(statusHandle);  // null address or null handle: nothing
    return 0;
}

}  // extern "C"
