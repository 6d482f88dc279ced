// The frame every job call runs in: lock the job, checks at the door, the
// status check, the checks before anything changes, the work, the status
// change, unlock. A call is a record of three steps:
//
//   int door(OutputContext *)   arguments, before the status check
//   int check(OutputContext *)  everything else that can be told before
//                               anything changes
//   int work(OutputContext *)   the change itself; when it fails midway
//                               (exhausted memory) it has put back what it
//                               changed
//
// each returning 0 or the call's result. The status machine is asked once,
// before the checks; only a call that succeeds moves it on, along the row the
// check found (no work changes the status record).
#pragma once

#include "output_internal.h"
#include "status_index.h"

namespace qxout {

struct NoChecks {
    int door(OutputContext *) { return 0; }
    int check(OutputContext *) { return 0; }
};

// `noJob` is the result for a null address or handle.
template <typename Call>
int jobCall(QXVSHandle *h, int noJob, qxstatus::Operation op, Call &&call) {
    OutputContext *ctx = lockJob(h);
    if (!ctx) return noJob;
    int r = call.door(ctx);
    const int16_t *transition = nullptr;
    if (r == 0) {
        transition = qxstatus::allowedTransition(&ctx->statusHandle, op);
        if (!transition) r = QXDRO_ERR_STATE;
    }
    if (r == 0) r = call.check(ctx);
    if (r == 0) r = call.work(ctx);
    if (r == 0) qxstatus::moveOn(&ctx->statusHandle, transition);
    unlockJob(h);
    return r;
}

}  // namespace qxout
