// The temporary band buffers for the job engine: the same as lockTempBuf and
// freeTempBuf(ctx, 0), over the job's first `planes` output planes only (the
// others hold no buffers).
#pragma once

#include "qxdro316_inner.h"

namespace qxbcb {

void lockTemp(OutputContext *ctx, int planes);
void unlockTemp(OutputContext *ctx, int planes);

}  // namespace qxbcb
