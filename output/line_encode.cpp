// One plane line into its band buffer: zero runs for the blank left bytes,
// the PackBits coding of the inked span (dot-expanded where the plane's
// pattern type asks), and the end-of-line byte; the raster-line command's
// length follows every byte.
#include "output_internal.h"

namespace {

bool doubledType(int tglType) { return tglType >= 5 && tglType <= 7; }

struct WorkBlock {
    QXVSHandle handle = nullptr;
    uint8_t *bytes = nullptr;

    bool obtain(int32_t size) {
        handle = QXVSNewHNDL(size);
        bytes = static_cast<uint8_t *>(QXVSLockHNDL(handle));
        return handle != nullptr;
    }
    void release() {
        if (!handle) return;
        QXVSUnlockHNDL(handle);
        QXVSDisposeHNDL(&handle);
        bytes = nullptr;
    }
};

int lineSlot(const OutputContext *ctx, int lineInBand) { return lineInBand / (ctx->bandHeight / ctx->bcbSlots); }

}  // namespace

int qxout::codedLineBound(const RasterInfo &cur, int tglType, int32_t *bytes) {
    const int32_t n = cur.right - cur.left + 1;
    const bool doubled = doubledType(tglType);
    const int32_t m = doubled ? 2 * n : n;
    const int32_t skip = doubled ? 2 * cur.left : cur.left;
    if (cur.left < 0 || n < 1 || n > kMaxLineBytes || m > kMaxLineBytes || skip > kMaxLineBytes)
        return QXDRO_ERR_MODE;
    const int32_t packed = m + 1 + (m - 1) / 126;  // PackBits worst case
    if (packed > kMaxLineBytes) return QXDRO_ERR_MODE;
    const int32_t zeroRuns = skip > 0 ? 2 * ((skip + 127) / 128) : 0;
    *bytes = zeroRuns + packed + 1;
    return 0;
}

// Precondition (checked by band intake): every target slot has room for the
// line's coded bound and the line can be coded in 16-bit counts.
extern "C" int WriteRaster2Color(RasterInfo *cur, const uint8_t *data, int tglType, OutputContext *ctx,
                                 BCB **targets) {
    const int slot = lineSlot(ctx, cur->lineInBand);
    BCB *const t[2] = {targets[0], targets[1]};
    const int count = t[1] ? 2 : 1;
    if (cur->blank == 1) {
        for (int i = 0; i < count; ++i) qxout::appendEmptyLine(t[i], slot);
        return 0;
    }

    const int32_t n = cur->right - cur->left + 1;
    const bool doubled = doubledType(tglType);
    const int32_t outLen = doubled ? 2 * n : n;
    const int32_t skip = doubled ? 2 * cur->left : cur->left;

    // Zero runs go beyond the write position; they count only once the line is complete.
    int k = 0;
    if (cur->left > 0) {
        k = LeftPack(t[0]->cur[slot], skip);
        if (t[1]) QXVSCopyData(t[0]->cur[slot], t[1]->cur[slot], k);
    }

    // The coders read the inked span where it lies. A dot-expanded line
    // takes one work block, split between the plane and its pair.
    const uint8_t *span = data + cur->left;
    const uint8_t *source[2] = {span, span};
    int m = outLen;
    WorkBlock work;
    if (tglType != 0) {
        const int32_t part = outLen + 2;
        if (!work.obtain(count * part)) {
            work.release();
            return QXDRO_ERR_MEMORY;
        }
        uint8_t *planes[2] = {work.bytes, t[1] ? work.bytes + part : nullptr};
        m = SelectRandomIndex(planes, span, static_cast<int16_t>(n), static_cast<int16_t>(tglType), ctx);
        source[0] = planes[0];
        source[1] = planes[1];
    }

    for (int i = 0; i < count; ++i) {
        uint8_t *at = t[i]->cur[slot];
        const int p = packbits(at + k, source[i], m);
        at[k + p] = qxout::kEndOfLine;
        t[i]->cur[slot] = at + k + p + 1;
        addlength(k + p + 1, t[i]->start[slot]);
    }
    work.release();
    return 0;
}
