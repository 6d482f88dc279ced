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

// Back to the empty raster-line command: header kept, length 0.
inline void emptySlot(BCB *b, int slot) {
    qxraster::set_line_length(b->start[slot], 0);
    b->cur[slot] = b->start[slot] + qxraster::kLineHeaderBytes;
}

// One line without ink: the end-of-line byte alone.
inline void appendEmptyLine(BCB *b, int slot) {
    *b->cur[slot]++ = qxraster::kEndOfLine;
    qxraster::add_line_length(b->start[slot], 1);
}

// Releases the blocks linked after `last` in a chain, buffers included.
void releaseBlocksAfter(BCB *last);

// Empties every slot of every block of a plane ring.
void emptyRing(OutputContext *ctx, BCB *head);

// The block of a band for plane p, as band assembly addresses it.
inline BCB *bandBlock(OutputContext *ctx, int p, int32_t band) {
    return GetAdrBCB(&ctx->planes[p].bcb, band, ctx->chainLength);
}

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

// What a job call that fails midway must put back, and only that: per output
// plane the line positions and the fill state of its band and temporary
// buffers (fill lengths and the length fields of their raster-line
// commands), the job fields band intake and page ends change, the list
// record, the list's items when the call may add some, and the command chain
// (blocks the call added are released). Taken while the job's chains are
// unlocked, restored after they are unlocked again.
class JobUndo {
public:
    JobUndo(OutputContext *ctx, bool listMayGrow);
    void restore();

private:
    struct BufferFill {
        int32_t used[QXDRO_BCB_SLOTS];
        uint8_t length[QXDRO_BCB_SLOTS][2];
    };
    struct PlaneSave {
        RasterInfo last;
        RasterInfo cur;
        BufferFill band;
        BufferFill temp;
    };
    static constexpr int kSavedCmdBlocks = 16;
    OutputContext *ctx_;
    int planes_;
    PlaneSave plane_[QXDRO_MAX_PLANES];
    int32_t completeMode_;
    int16_t headerState_;
    int16_t lastColorSel_;
    int32_t formFeedLength_;
    int32_t pendingSkip_;
    int32_t randSeed_;
    int32_t lineCounter_[QXDRO_MAX_PLANES];
    uint8_t planeFlag_[QXDRO_MAX_PLANES];
    OutputList list_;
    bool listMayGrow_;
    int itemsSaved_ = 0;
    ListItem items_[QXDRO_LIST_ITEMS];
    int cmdBlocks_;
    int32_t cmdUsed_[kSavedCmdBlocks];
};

}  // namespace qxout
