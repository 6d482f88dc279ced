// Shared pieces of the output engine: job locking, list items, band buffer
// slots, and the undo record that makes a failed job call change nothing.
#pragma once

#include "job_names.h"
#include "qxdro316_inner.h"
#include "bcb_internal.h"
#include "line_command.h"
#include "pattern_types.h"
#include "plane_modes.h"
#include "vs_internal.h"

namespace qxout {

constexpr int kSkipMax = 32767;         // bands one skip command can hold
constexpr int kSkipsPerCmdBlock = 583;  // 583 x 7 bytes + a colour select fit 4,096 bytes

// The job behind the caller's variable; null for a null address or handle.
inline OutputContext *lockJob(QXVSHandle *h) {
    if (!h || !*h) return nullptr;
    return static_cast<OutputContext *>(qxvs::lock(*h));
}

inline void unlockJob(QXVSHandle *h) { qxvs::unlock(*h); }

inline bool refused(int statusResult) { return statusResult < 0; }

// The output plane an input plane also feeds (a paired pattern type in a
// mode with paired planes), or -1.
inline int pairedPlane(const OutputContext *ctx, int plane) {
    if (!qxraster::patternType(ctx->planes[plane].tglType).paired) return -1;
    const int offset = qx::printmode::modeInfo(ctx->planeMode).pairOffset;
    const int q = plane + offset;
    return offset != 0 && q < ctx->outPlaneCount ? q : -1;
}

// The job's output planes, as a count that indexes the per-plane arrays.
inline int outPlanes(const OutputContext *ctx) {
    return ctx->outPlaneCount < QXDRO_MAX_PLANES ? ctx->outPlaneCount : QXDRO_MAX_PLANES;
}

// Appends a chunk to the list being filled; -148 when the item array is full.
int appendListItem(OutputContext *ctx, QXVSHandle data, int32_t length);

// Releases the blocks linked after `last` in a chain, buffers included.
void releaseBlocksAfter(BCB *last);

// Locks the list, its items and the command chain for a call that fills the
// list, and starts it empty.
void openList(OutputContext *ctx);
// Unlocks what openList and the plane locks took.
void closeList(OutputContext *ctx);
void lockPlaneChains(OutputContext *ctx);
void unlockPlaneChains(OutputContext *ctx);

// Emits the band being filled and moves the band position on; used by band
// intake and both page ends.
int drainBand(OutputContext *ctx);

// Bytes a coded line may take in its slot (zero runs, PackBits bound,
// end-of-line byte); -148 when the line cannot be coded in 16-bit counts.
int codedLineBound(const RasterInfo &cur, int tglType, int32_t *bytes);

// One plane line into its target slots (WriteRaster2Color without the
// bound check): the caller has checked the bound and the room. Fails only
// when a dot-expanded line finds no work block (-108), having written nothing.
int encodeLine(RasterInfo *cur, const uint8_t *data, int tglType, OutputContext *ctx, BCB *const *targets);

// What a job call that fails midway must put back: the whole job record
// (whatever field a call changes, now or after a later change), the fill of
// every band and temporary buffer (their raster-line commands' length
// fields; the fill lengths are in the record), the list record and the
// items of the list the caller holds, and the command chain (blocks the
// call added are released). Taken while the job's chains are unlocked, restored
// after they are unlocked again.
class JobUndo {
public:
    explicit JobUndo(OutputContext *ctx);
    void restore();

private:
    static constexpr int kSavedCmdBlocks = 16;
    OutputContext *ctx_;
    OutputContext record_;
    uint8_t bandLength_[QXDRO_MAX_PLANES][2];
    uint8_t parkedLength_[QXDRO_MAX_PLANES][2];
    OutputList list_;
    int itemsSaved_ = 0;
    ListItem items_[QXDRO_LIST_ITEMS];
    int cmdBlocks_ = 0;
    int32_t cmdUsed_[kSavedCmdBlocks];
};

}  // namespace qxout
