// The printer command stream: every command byte the library emits comes
// from the constant command template. A finished band goes out as list items
// pointing at the plane buffers themselves; plane data is never copied.
#include <cstring>

#include "band.h"
#include "output_internal.h"

namespace {

// ESC ( letter, 16-bit little-endian parameter length, parameters.
constexpr uint8_t CommandTemplate[84] = {
    0x1B, 0x28, 0x4A, 0x01, 0x00,                                            //  0 band height (value follows)
    0x1B, 0x28, 0x49, 0x01, 0x00, 0x01,                                      //  5 ESC ( I
    0x1B, 0x28, 0x4C, 0x07, 0x00, 0x43, 0x4D, 0x59, 0x4B, 0xC3, 0xCD, 0xD9,  // 11 select C M Y K c m y
    0x1B, 0x28, 0x4C, 0x06, 0x00, 0x43, 0x4D, 0x59, 0xC3, 0xCD, 0xD9,        // 23 select C M Y c m y
    0x1B, 0x28, 0x4C, 0x04, 0x00, 0x43, 0x4D, 0x59, 0x4B,                    // 34 select C M Y K
    0x1B, 0x28, 0x4C, 0x03, 0x00, 0xC3, 0xCD, 0xD9,                          // 43 select c m y
    0x1B, 0x28, 0x4C, 0x03, 0x00, 0x43, 0x4D, 0x59,                          // 51 select C M Y
    0x1B, 0x28, 0x4C, 0x01, 0x00, 0x4B,                                      // 59 select K
    0x1B, 0x28, 0x65, 0x02, 0x00, 0x00, 0x00,                                // 65 raster skip (count follows)
    0x1B, 0x28, 0x46, 0x00, 0x00,                                            // 72 raster-line command, empty
    0x1B, 0x28, 0x62, 0x01, 0x00, 0x01,                                      // 77 set-up command
    0x00,
};

constexpr int kBandHeightCmd = 0;
constexpr int kBandHeightCmdBytes = 5;
constexpr int kModeCmd = 5;
constexpr int kModeCmdBytes = 6;
constexpr int kSkipCmd = 65;
constexpr int kSkipCmdHead = 5;
constexpr int kSetupCmd = 77;
constexpr int kSetupCmdBytes = 6;
constexpr int kEmptyRasterCmd = 72;

// The template's empty raster-line command is the one the band buffers start with.
constexpr bool holdsEmptyLineCommand() {
    for (int i = 0; i < 3; ++i) {
        if (CommandTemplate[kEmptyRasterCmd + i] != qxraster::kLineCommand[i]) return false;
    }
    return CommandTemplate[kEmptyRasterCmd + 3] == 0 && CommandTemplate[kEmptyRasterCmd + 4] == 0 &&
           qxraster::kLineHeaderBytes == 5;
}
static_assert(holdsEmptyLineCommand());

struct ColourSelect {
    int offset;
    int bytes;
};

constexpr int kSelectCmdHead = 5;  // ESC ( L and the 16-bit length

// The template's colour-select command that names exactly these letters.
constexpr ColourSelect selectFor(const char *letters, int count) {
    for (int at = 0; at + kSelectCmdHead <= static_cast<int>(sizeof CommandTemplate); ++at) {
        const uint8_t *c = CommandTemplate + at;
        if (c[0] != 0x1B || c[1] != 0x28 || c[2] != 0x4C || c[3] != count || c[4] != 0) continue;
        bool same = true;
        for (int i = 0; i < count; ++i) same = same && c[kSelectCmdHead + i] == static_cast<uint8_t>(letters[i]);
        if (same) return {at, kSelectCmdHead + count};
    }
    return {0, 0};
}

constexpr ColourSelect kSelectK = selectFor(&qx::printmode::kK, 1);

// The colour-select command that names every plane of a mode; none for a
// mode that names no planes.
constexpr ColourSelect allPlanesSelectOf(int mode) {
    const qx::printmode::PlaneMode &m = qx::printmode::modeInfo(mode);
    return selectFor(m.letters, qx::printmode::letterCount(m));
}

constexpr bool everyModeHasItsSelect() {
    for (int mode = 1; mode <= 9; ++mode) {
        if (allPlanesSelectOf(mode).bytes == 0) return false;
    }
    return kSelectK.bytes == 6;
}
static_assert(everyModeHasItsSelect(), "the command template names the planes of every plane mode");

constexpr ColourSelect kAllPlanesSelect[10] = {
    allPlanesSelectOf(0), allPlanesSelectOf(1), allPlanesSelectOf(2), allPlanesSelectOf(3), allPlanesSelectOf(4),
    allPlanesSelectOf(5), allPlanesSelectOf(6), allPlanesSelectOf(7), allPlanesSelectOf(8), allPlanesSelectOf(9),
};

ColourSelect allPlanesSelect(int planeMode) {
    return kAllPlanesSelect[planeMode >= 1 && planeMode <= 9 ? planeMode : 0];
}

uint8_t *put(uint8_t *dst, int offset, int bytes) {
    std::memcpy(dst, CommandTemplate + offset, static_cast<size_t>(bytes));
    return dst + bytes;
}

enum Selection : int16_t { kNoInk = 0, kKOnly = 1, kAllPlanes = 2 };

// Starts the bands without ink over and says which planes carry ink.
int16_t blankTest(OutputContext *ctx) {
    const int k = getPosition_K(ctx->planeMode);
    int16_t s = kNoInk;
    const int planes = qxout::outPlanes(ctx);
    for (int p = 0; p < planes; ++p) {
        qxout::Band band = qxout::bandOf(ctx, p);
        if (band.blank(ctx->bandHeight, ctx->planeFlag[p])) {
            band.startOver();
        } else if (p == k) {
            if (s == kNoInk) s = kKOnly;
        } else {
            s = kAllPlanes;
        }
        ctx->planeFlag[p] = 0;
    }
    return s;
}

// Lists a command block whose slot 0 holds bytes.
int listCommandBlock(OutputContext *ctx, BCB *block) {
    const int32_t len = static_cast<int32_t>(block->cur[0] - block->start[0]);
    return len > 0 ? qxout::appendListItem(ctx, block->handle[0], len) : 0;
}

// Skip commands for the pending blank bands, then the colour select when the
// selection changed. A block takes at most 583 skip commands; more go on in
// further blocks, the colour select after the last skip command.
int writeBandCommands(OutputContext *ctx, int16_t s) {
    const ColourSelect select = s == kKOnly ? kSelectK : allPlanesSelect(ctx->planeMode);
    const bool needSelect = s != ctx->lastColorSel && select.bytes > 0;
    if (ctx->pendingSkip <= 0 && !needSelect) return 0;

    BCB *block = GetFreeBCB(&ctx->cmdBcb);
    if (!block) return QXDRO_ERR_MEMORY;
    int inBlock = 0;
    while (ctx->pendingSkip > 0) {
        if (inBlock == qxout::kSkipsPerCmdBlock) {
            if (int r = listCommandBlock(ctx, block)) return r;
            block = GetFreeBCB(&ctx->cmdBcb);
            if (!block) return QXDRO_ERR_MEMORY;
            inBlock = 0;
        }
        const int32_t chunk = ctx->pendingSkip > qxout::kSkipMax ? qxout::kSkipMax : ctx->pendingSkip;
        block->cur[0] += WriteSkipCommand(chunk, block->cur[0]);
        ctx->pendingSkip -= chunk;
        ++inBlock;
    }
    if (needSelect) block->cur[0] = put(block->cur[0], select.offset, select.bytes);
    return listCommandBlock(ctx, block);
}

}  // namespace

extern "C" {

void makeHeaderCommand(OutputContext *ctx, BCB *cmd) {
    uint8_t *p = put(cmd->cur[0], kModeCmd, kModeCmdBytes);
    p = put(p, kBandHeightCmd, kBandHeightCmdBytes);
    *p++ = static_cast<uint8_t>(ctx->bandHeight & 0xFF);
    cmd->cur[0] = p;
}

void setCmd_ESC_b(OutputContext *ctx) {
    AllLockBCB_GMem(&ctx->cmdBcb);
    ctx->cmdBcb.cur[0] = put(ctx->cmdBcb.cur[0], kSetupCmd, kSetupCmdBytes);
    AllUnlockBCB_GMem(&ctx->cmdBcb);
}

int WriteSkipCommand(int count, uint8_t *dst) {
    const int16_t c = static_cast<int16_t>(count);
    if (c <= 0) return 0;
    uint8_t *p = put(dst, kSkipCmd, kSkipCmdHead);
    p[0] = static_cast<uint8_t>(c >> 8);  // big-endian count
    p[1] = static_cast<uint8_t>(c & 0xFF);
    return kSkipCmdHead + 2;
}

int getPosition_K(int planeMode) { return qx::printmode::modeInfo(static_cast<int16_t>(planeMode)).kPlane; }

int OutDataSet(OutputContext *ctx) {
    const int16_t s = blankTest(ctx);
    if (s == kNoInk) {
        ++ctx->pendingSkip;
        return 0;
    }
    if (int r = writeBandCommands(ctx, s)) return r;
    ctx->lastColorSel = s;

    const int k = getPosition_K(ctx->planeMode);
    for (int p = 0; p < ctx->outPlaneCount; ++p) {
        if (s == kKOnly && p != k) continue;
        const qxout::Band band = qxout::bandOf(ctx, p);
        if (int r = qxout::appendListItem(ctx, band.handle(), band.filled())) return r;
    }
    return 0;
}

}  // extern "C"
