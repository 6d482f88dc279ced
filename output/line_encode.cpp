// One plane line into its band buffer: zero runs for the blank left bytes,
// the PackBits coding of the inked span (dot-expanded where the plane's
// pattern type asks), and the end-of-line byte; the raster-line command's
// length follows every byte.
#include <cstring>

#include "band.h"
#include "output_internal.h"
#include "raster_internal.h"

namespace {

struct WorkBlock {
    QXVSHandle handle = nullptr;
    uint8_t *bytes = nullptr;

    bool obtain(int32_t size) {
        handle = QXVSNewHNDL(size);
        bytes = static_cast<uint8_t *>(qxvs::lock(handle));
        return handle != nullptr;
    }
    void release() {
        if (!handle) return;
        qxvs::unlock(handle);
        QXVSDisposeHNDL(&handle);
        bytes = nullptr;
    }
};


}  // namespace

int qxout::codedLineBound(const RasterInfo &cur, int tglType, int32_t *bytes) {
    const int32_t n = cur.right - cur.left + 1;
    const bool doubled = qxraster::patternType(tglType).doubled;
    const int32_t m = doubled ? 2 * n : n;
    const int32_t skip = doubled ? 2 * cur.left : cur.left;
    using qxraster::kLineBytesMax;
    if (cur.left < 0 || n < 1 || n > kLineBytesMax || m > kLineBytesMax || skip > kLineBytesMax)
        return QXDRO_ERR_MODE;
    const int32_t packed = qxraster::packbits_bound(m);
    if (packed > kLineBytesMax) return QXDRO_ERR_MODE;
    const int32_t zeroRuns = skip > 0 ? qxraster::zero_run_bytes(skip) : 0;
    *bytes = zeroRuns + packed + 1;
    return 0;
}

// Precondition (checked by band intake): every target band has room for the
// line's coded bound, and an inked line can be coded in 16-bit counts.
int qxout::encodeLine(RasterInfo *cur, const uint8_t *data, int tglType, OutputContext *ctx, BCB *const *targets) {
    Band t[2] = {Band(targets[0]), Band(targets[1] ? targets[1] : targets[0])};
    const int count = targets[1] ? 2 : 1;
    if (cur->blank == 1) {
        for (int i = 0; i < count; ++i) t[i].appendEmptyLines(1);
        return 0;
    }

    const int32_t n = cur->right - cur->left + 1;
    const bool doubled = qxraster::patternType(tglType).doubled;
    const int32_t outLen = doubled ? 2 * n : n;
    const int32_t skip = doubled ? 2 * cur->left : cur->left;

    // Zero runs go beyond the write position; they count only once the line is complete.
    int k = 0;
    if (cur->left > 0) {
        k = qxraster::pack_zero_run(t[0].end(), skip);
        if (count == 2) std::memcpy(t[1].end(), t[0].end(), static_cast<size_t>(k));
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
        uint8_t *planes[2] = {work.bytes, count == 2 ? work.bytes + part : nullptr};
        m = qxraster::expand_levels(tglType, planes[0], planes[1], span, n, &ctx->randSeed);
        source[0] = planes[0];
        source[1] = planes[1];
    }

    for (int i = 0; i < count; ++i) {
        uint8_t *at = t[i].end();
        const int p = qxraster::pack_line(at + k, source[i], m);
        at[k + p] = qxraster::kEndOfLine;
        t[i].added(k + p + 1);
    }
    work.release();
    return 0;
}

// Precondition: every target band has room for the line's coded bound. A
// span that cannot be coded in 16-bit counts is refused (-148) before
// anything is written.
extern "C" int WriteRaster2Color(RasterInfo *cur, const uint8_t *data, int tglType, OutputContext *ctx,
                                 BCB **targets) {
    int32_t bound = 0;
    if (cur->blank != 1) {
        if (int r = qxout::codedLineBound(*cur, tglType, &bound)) return r;
    }
    return qxout::encodeLine(cur, data, tglType, ctx, targets);
}
