#include "mode.h"

#include "line_command.h"
#include "pattern_types.h"
#include "plane_modes.h"
#include "qxdro316_inner.h"

#include <cstring>

namespace qx316 {

namespace {

// Bytes one band of incompressible lines of a plane can take in the plane
// buffer, by the library's own bounds: each line's zero-run items for a
// blank left margin, its PackBits items and end-of-line byte, plus the
// raster-line command's header.
int64_t worstBandBytes(int width, int bits, int tgl, int bandHeight) {
    const int32_t lineBytes = int32_t((int64_t(width) * streamBitsPerPixel(bits, tgl) + 7) / 8);
    const int64_t line = qxraster::zero_run_bytes(lineBytes) + qxraster::packbits_bound(lineBytes) + 1;
    return qxraster::kLineHeaderBytes + int64_t(bandHeight) * line;
}

bool fits(const ModeInfo &m, int width) {
    for (int p = 0; p < m.outPlanes; ++p) {
        if ((int64_t(width) * streamBitsPerPixel(m.bits[p], m.tgl[p]) + 7) / 8 > qxraster::kLineBytesMax)
            return false;
        const int64_t band = worstBandBytes(width, m.bits[p], m.tgl[p], m.bandHeight);
        if (band > QXDRO_BLOCK_SIZE || band - qxraster::kLineHeaderBytes > qxraster::kLineLengthMax)
            return false;
    }
    return true;
}

} // namespace

int mediaClass(int mediaCode) { return GetIndexMediaType(mediaCode); }

std::string planeLabel(uint8_t c) {
    switch (c) {
    case 0xC3: return "C3";
    case 0xCD: return "CD";
    case 0xD9: return "D9";
    default: return std::string(1, char(c));
    }
}

ModeInfo queryMode(const PrintOptions &o) {
    ModeInfo m;
    const PrintParams params = makeParams(o);
    const int comp = params.compositeMode;
    OutputContext probe;
    std::memset(&probe, 0, sizeof probe);
    probe.printHead = int16_t(getPrintHead(&params));
    m.planeMode = getPlaneMode(params.printQuality, params.mediaType, params.colorMode, comp, probe.printHead);
    const std::string where = "quality " + std::to_string(o.quality) + " on media " + std::to_string(o.media) +
                              (o.head ? " with head " + std::to_string(o.head) : std::string());
    if (m.planeMode < 1 || m.planeMode > 9) {
        m.problem = "print mode not supported for " + where;
        m.planeMode = 0;
        return m;
    }
    m.inPlanes = getInPlaneNum(m.planeMode);
    m.outPlanes = getOutPlaneNum(m.planeMode);
    m.basePlane = getBaseClrPos(m.planeMode);
    for (int p = 0; p < m.outPlanes && p < QXDRO_MAX_PLANES; ++p) {
        m.letters[p] = uint8_t(qx::printmode::modeInfo(m.planeMode).letters[p]);
        m.bits[p] = GetBitDepth(params.printQuality, params.mediaType, params.colorMode, p, comp, &probe);
        m.tgl[p] = IsTglType(params.printQuality, params.mediaType, params.colorMode, p, comp, &probe);
        probe.planes[p].tglType = int16_t(m.tgl[p]);
        if (m.problem.empty() && m.bits[p] != 1 && m.bits[p] != 2 && m.bits[p] != 4)
            m.problem = "bit depth not supported for plane " + planeLabel(m.letters[p]) + " at " + where;
    }
    setMaxRaster(&probe, &params);
    m.bandHeight = probe.bandHeight;
    for (int d = 0; d < m.inPlanes; ++d)
        if (m.letters[d] == 'K')
            m.kIndex = d;
    if (m.problem.empty()) {
        int lo = 0, hi = 32767; // widest line that fits: the largest lo with fits(lo)
        while (lo < hi) {
            const int mid = lo + (hi - lo + 1) / 2;
            if (fits(m, mid))
                lo = mid;
            else
                hi = mid - 1;
        }
        m.maxWidth = lo;
    }
    return m;
}

int pairedPlane(const ModeInfo &m, int d) {
    const int offset = qx::printmode::modeInfo(m.planeMode).pairOffset;
    if (offset == 0 || d < 0 || d >= m.inPlanes || !qxraster::patternType(m.tgl[d]).paired || d + offset >= m.outPlanes)
        return -1;
    return d + offset;
}

int maxLevel(int bits, int tgl) {
    if (bits == 1)
        return 1;
    if (tgl == 1)
        return 2;               // a 2-bit value of 3 prints nothing in this pattern
    const int levels = qxraster::tableLevels(qxraster::patternType(tgl).table);
    return levels > 0 ? levels - 1 : (1 << bits) - 1;  // the pattern table's top row, or the pixel's own range
}

int streamBitsPerPixel(int bits, int tgl) { return qxraster::patternType(tgl).doubled ? 2 * bits : bits; }

int bitsPerDot(int bits, int tgl) { return tgl == 0 ? bits : 1; }

std::string describeMode(const ModeInfo &m) {
    if (m.planeMode == 0)
        return "not printable";
    std::string s = "mode " + std::to_string(m.planeMode) + ":";
    for (int d = 0; d < m.inPlanes;) {
        int e = d + 1;
        while (e < m.inPlanes && m.bits[e] == m.bits[d] && m.tgl[e] == m.tgl[d])
            ++e;
        s += d ? ", " : " ";
        for (int i = d; i < e; ++i)
            s += planeLabel(m.letters[i]);
        s += " " + std::to_string(m.bits[d]) + "-bit";
        if (m.tgl[d] == 4 && m.outPlanes > m.inPlanes)
            s += " paired";
        else if (m.tgl[d] != 0)
            s += " patterns";
        d = e;
    }
    s += ", " + std::to_string(m.bandHeight) + "-line bands";
    return s;
}

} // namespace qx316
