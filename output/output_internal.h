// Shared pieces of the output engine: job locking, list items, band buffer
// slots, and the undo record that makes a failed job call change nothing.
#pragma once

#include "qxdro316_inner.h"

namespace qxout {

constexpr int kRasterHeaderBytes = 5;   // ESC ( F and the 16-bit length
constexpr uint8_t kEndOfLine = 0x80;
constexpr int kMaxLineBytes = 32767;    // byte counts of one line are int16
constexpr int kMaxCommandLength = 65535;
constexpr int kSkipMax = 32767;         // bands one skip command can hold
constexpr int kSkipsPerCmdBlock = 583;  // 583 x 7 bytes + a colour select fit 4,096 bytes

constexpr int kOpInitTwo = 1;
constexpr int kOpInitPart = 3;
constexpr int kOpProduce = 4;
constexpr int kOpComplete = 5;
constexpr int kOpFlush = 6;
constexpr int kOpFormFeed = 8;

enum CompleteMode : int32_t {
    kSameBand = 0,
    kFirstBand = 1,
    kNewBand = 2,
    kAfterFlush = 3,
    kAfterFormFeed = 4,
};

// The job behind the caller's variable; null for a null address or handle.
inline OutputContext *lockJob(QXVSHandle *h) {
    if (!h || !*h) return nullptr;
    return static_cast<OutputContext *>(QXVSLockHNDL(*h));
}

inline void unlockJob(QXVSHandle *h) { QXVSUnlockHNDL(*h); }

inline bool refused(int statusResult) { return statusResult < 0; }

// The output plane an input plane also feeds (pattern type 4 in the modes
// with paired planes), or -1.
int pairedPlane(const OutputContext *ctx, int plane);

// Appends a chunk to the list being filled; -148 when the item array is full.
int appendListItem(OutputContext *ctx, QXVSHandle data, int32_t length);

// Length field of the raster-line command at the start of a slot.
inline int32_t commandLength(const uint8_t *slotStart) { return slotStart[3] | (slotStart[4] << 8); }

// Back to the empty raster-line command: header kept, length 0.
inline void emptySlot(BCB *b, int slot) {
    b->start[slot][3] = 0;
    b->start[slot][4] = 0;
    b->cur[slot] = b->start[slot] + kRasterHeaderBytes;
}

// One line without ink: the end-of-line byte alone.
inline void appendEmptyLine(BCB *b, int slot) {
    *b->cur[slot]++ = kEndOfLine;
    addlength(1, b->start[slot]);
}

// Writes the empty raster-line command (5 bytes) at dst.
void writeEmptyRasterCommand(uint8_t *dst);

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

// What a failing job call must put back. Taken while the job's chains are
// unlocked (fill lengths in `used`), restored after they are unlocked again:
// the context record, the list, the length fields of the band buffers, and
// the command chain's blocks (blocks added by the call are released).
class JobUndo {
public:
    explicit JobUndo(OutputContext *ctx);
    void restore();

private:
    static constexpr int kSavedCmdBlocks = 16;
    OutputContext *ctx_;
    OutputContext saved_;
    OutputList list_;
    ListItem items_[QXDRO_LIST_ITEMS];
    uint8_t planeLength_[QXDRO_MAX_PLANES][QXDRO_BCB_SLOTS][2];
    uint8_t tempLength_[QXDRO_MAX_PLANES][QXDRO_BCB_SLOTS][2];
    int cmdBlocks_;
    int32_t cmdUsed_[kSavedCmdBlocks];
};

}  // namespace qxout
