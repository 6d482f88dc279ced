// Direct lookup of the decisive row of the status machine's row scan: for
// each table, operation and state, the row the scan of the exported tables
// stops at, worked out when the library is compiled.
#pragma once

#include "qxdro316_inner.h"
#include "status_names.h"

namespace qxstatus {

// The decisive row for operation `op` (0..10) in `state` on the banner
// (non-zero `banner`) or cut-paper table.
const int16_t *decisiveRow(int banner, int op, int16_t state);

// The frame of a job call: the transition row of `op` in the job's state
// when the operation is allowed there (lookup done once), else null; and the
// move along that row once the call's work is done. Same outcome as
// CheckPrevStatus followed by SetCurrentStatus when nothing in between
// changes the status record.
const int16_t *allowedTransition(QXVSHandle *statusHandle, Operation op);
void moveOn(QXVSHandle *statusHandle, const int16_t *transition);

}  // namespace qxstatus
