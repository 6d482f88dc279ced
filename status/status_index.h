// Direct lookup of the decisive row of the status machine's row scan: for
// each table, operation and state, the row the scan of the exported tables
// stops at, worked out when the library is compiled.
#pragma once

#include "qxdro316_inner.h"
#include "status_names.h"
#include "vs_internal.h"

namespace qxstatus {

// Row indices of the scan's decisive rows: for each operation the row for
// each state 0..19 and the end row reached by any other state.
struct RowIndex {
    int8_t row[kOperationCount][kStateCount];
    int8_t end[kOperationCount];
    int8_t allowed[kOperationCount][kStateCount];  // the row when it allows the operation, else -1
};
extern const RowIndex kCutIndex;
extern const RowIndex kBannerIndex;

// The decisive row for operation `op` (0..10) in `state` on the banner
// (non-zero `banner`) or cut-paper table.
inline const int16_t *decisiveRow(int banner, int op, int16_t state) {
    const RowIndex &ix = banner != 0 ? kBannerIndex : kCutIndex;
    const int r = state >= 0 && state < kStateCount ? ix.row[op][state] : ix.end[op];
    return banner != 0 ? BannerPaperTable[r] : CutPaperTable[r];
}

// The frame of a job call: the transition row of `op` in the job's state
// when the operation is allowed there (lookup done once), else null; and the
// move along that row once the call's work is done. Same outcome as
// CheckPrevStatus followed by SetCurrentStatus when nothing in between
// changes the status record.
// Only a matching row allows (result 0); end rows, and so any state outside
// 0..19, refuse.
inline const int16_t *allowedTransition(QXVSHandle *statusHandle, Operation op) {
    if (statusHandle == nullptr || *statusHandle == nullptr || op < 0 || op >= kOperationCount) return nullptr;
    const auto *rec = static_cast<const StatusRecord *>(qxvs::lock(*statusHandle));
    const int16_t state = rec->state;
    const bool banner = rec->bannerFlag != 0;
    qxvs::unlock(*statusHandle);
    if (state < 0 || state >= kStateCount) return nullptr;
    const int r = (banner ? kBannerIndex : kCutIndex).allowed[op][state];
    if (r < 0) return nullptr;
    return banner ? BannerPaperTable[r] : CutPaperTable[r];
}

inline void moveOn(QXVSHandle *statusHandle, const int16_t *transition) {
    static_cast<StatusRecord *>(qxvs::lock(*statusHandle))->state = transition[1];
    qxvs::unlock(*statusHandle);
}

}  // namespace qxstatus
