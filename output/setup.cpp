// Page setup: the print parameters become the job's plane configuration and
// band buffers. A full setup is prepared on a copy of the job record and
// committed only when it has fully succeeded, so a refused or failed setup
// leaves the job as it was and holds on to nothing.
#include <cstring>

#include "band.h"
#include "job_frame.h"
#include "printmode_internal.h"

namespace {

constexpr RasterInfo kResetRaster = {0, 0, -1, 0, 0, 1};

int16_t shiftForDepth(int bitsPerPixel) {
    switch (bitsPerPixel) {
        case 1: return 3;
        case 2: return 2;
        case 4: return 1;
        default: return 0;
    }
}

bool jobIsBanner(const OutputContext *ctx) {
    const StatusRecord *st = static_cast<const StatusRecord *>(qxvs::lock(ctx->statusHandle));
    const bool banner = st && st->bannerFlag != 0;
    qxvs::unlock(ctx->statusHandle);
    return banner;
}

// Plane mode, counts, bit depths, pattern types and band height.
int configurePlanes(OutputContext *job, const PrintParams *pp) {
    const qx::printmode::ModeDescription d = qx::printmode::describe(*pp);
    job->banner = pp->bannerPaper == 1 ? 1 : 0;
    job->printHead = d.head;
    job->planeMode = d.planeMode;
    if (job->planeMode == 0) return QXDRO_ERR_MODE;
    job->inPlaneCount = d.in;
    job->outPlaneCount = d.out;
    job->basePlane = d.base;
    for (int i = 0; i < job->outPlaneCount; ++i) {
        job->planes[i].pixelShift = shiftForDepth(d.bits[i]);
        if (job->planes[i].pixelShift == 0) return QXDRO_ERR_MODE;
    }
    job->chainLength = qxout::kChainBlocks;
    for (int i = 0; i < job->outPlaneCount; ++i) {
        job->lineCounter[i] = 0;
        job->planeFlag[i] = 0;
        job->planes[i].tglType = d.patternType[i];
    }
    job->bandHeight = d.bandHeight;
    job->bcbSlots = qxout::kBandSlots;
    // Line numbers are divided by the band height.
    if (job->bandHeight <= 0) return QXDRO_ERR_MODE;
    return 0;
}

// One band buffer, holding the empty raster-line command, left locked.
bool buildBandBuffer(BCB *b) {
    std::memset(b, 0, sizeof *b);
    b->size = QXDRO_BLOCK_SIZE;
    b->handle[0] = QXVSNewHNDL(b->size);
    if (!b->handle[0]) return false;
    b->start[0] = static_cast<uint8_t *>(qxvs::lock(b->handle[0]));
    qxraster::write_empty_line_command(b->start[0]);
    b->cur[0] = b->start[0] + qxraster::kLineHeaderBytes;
    return true;
}

void releaseBuffers(OutputContext *job) {
    for (PlaneRecord &plane : job->planes) AllPutBCB_GMem(&plane.bcb);
    freeTempBuf(job, 1);
}

bool allocateBuffers(OutputContext *job) {
    for (int i = 0; i < QXDRO_MAX_PLANES; ++i) {
        std::memset(&job->planes[i].bcb, 0, sizeof(BCB));
        std::memset(&job->tempBcb[i], 0, sizeof(BCB));
    }
    for (int i = 0; i < job->outPlaneCount; ++i) {
        if (!buildBandBuffer(&job->planes[i].bcb)) return false;
        job->planes[i].last = kResetRaster;
        job->planes[i].cur = kResetRaster;
    }
    for (int i = 0; i < job->outPlaneCount; ++i) {
        if (!buildBandBuffer(&job->tempBcb[i])) return false;
    }
    freeTempBuf(job, 0);
    for (int i = 0; i < job->outPlaneCount; ++i) AllUnlockBCB_GMem(&job->planes[i].bcb);
    return true;
}

int fullSetup(OutputContext *ctx, const PrintParams *pp) {
    OutputContext job = *ctx;
    if (int r = configurePlanes(&job, pp)) return r;
    if (!allocateBuffers(&job)) {
        releaseBuffers(&job);
        return QXDRO_ERR_MEMORY;
    }
    setCmd_ESC_b(&job);
    job.completeMode = qxout::kSameBand;
    job.headerState = qxout::kHeaderPending;
    job.lastColorSel = 0;
    job.pendingSkip = 0;
    releaseBuffers(ctx);  // none are left from the last page; keeps a stray one from leaking
    *ctx = job;
    return 0;
}

// Banner paper after the first page: buffers and header state carry over,
// only the band positions restart.
void restartBands(OutputContext *ctx) {
    for (PlaneRecord &plane : ctx->planes) {
        plane.last = kResetRaster;
        plane.cur = kResetRaster;
    }
    ctx->pendingSkip = 0;
}

}  // namespace

extern "C" int OutputInitPart(QXVSHandle *h, const PrintParams *params) {
    struct InitPart : qxout::NoChecks {
        const PrintParams *params;
        int door(OutputContext *) { return params ? 0 : QXDRO_ERR_ARGUMENT; }
        // A full setup keeps the paper path chosen when the job was bound to the model.
        int check(OutputContext *ctx) {
            if (ctx->banner == 1) return 0;
            return (params->bannerPaper == 1) == jobIsBanner(ctx) ? 0 : QXDRO_ERR_ARGUMENT;
        }
        int work(OutputContext *ctx) {
            if (ctx->banner == 1) {
                restartBands(ctx);
                return 0;
            }
            return fullSetup(ctx, params);
        }
    };
    return qxout::jobCall(h, 0, qxstatus::kOpInitPart, InitPart{{}, params});
}
