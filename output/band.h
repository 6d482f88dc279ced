// One plane's band: the raster-line command being filled in a plane's band
// buffer, or parked in its temporary buffer. Band intake (all of its paths),
// page ends, completion and band draining all fill, test and start bands
// over through this type, so each rule about a band is written once here.
//
// Every plane chain and temporary chain has one block, and every block one
// buffer, in every plane mode: page setup sets chainLength and bcbSlots to
// these values, and the engine holds exactly one band per plane. The
// exported BCB routines still walk chains and slots for callers that build
// their own.
//
// A band works whether its chain is locked (start and cur set, as the
// general path and the exported routines leave it) or unlocked (the fill
// length kept in used, as between calls), so the paths that never lock a
// chain use the same code.
#pragma once

#include <cstdint>
#include <cstring>

#include "line_command.h"
#include "qxdro316_inner.h"
#include "vs_internal.h"

namespace qxout {

constexpr int16_t kChainBlocks = 1;  // blocks in every plane and temporary chain
constexpr int16_t kBandSlots = 1;    // buffers in every block
static_assert(kChainBlocks == 1 && kBandSlots == 1, "the engine keeps one band per plane in one buffer");

// A band holds no ink when its command has one end-of-line byte a line or
// none at all, or when the page end marked its plane as filler only.
constexpr bool holdsNoInk(int32_t commandLength, int32_t bandHeight, uint8_t planeFlag) {
    return commandLength == 0 || commandLength == bandHeight || planeFlag == 1;
}

// Whether the chain is known to be locked or unlocked where a band is used;
// the paths that know it skip the test.
enum class Lock { kEither, kUnlocked };

template <Lock L = Lock::kEither>
class BasicBand {
public:
    explicit BasicBand(BCB *block) : b_(block), start_(L == Lock::kUnlocked ? nullptr : block->start[0]) {}

    bool exists() const { return start_ != nullptr || b_->handle[0] != nullptr; }
    QXVSHandle handle() const { return b_->handle[0]; }
    // The locked address, or the handle's block while unlocked.
    uint8_t *command() const {
        return start_ ? start_ : static_cast<uint8_t *>(qxvs::lock(b_->handle[0]));
    }
    // Bytes in the buffer, the command's header included.
    int32_t filled() const { return start_ ? static_cast<int32_t>(b_->cur[0] - start_) : b_->used[0]; }
    int32_t length() const { return qxraster::line_length(command()); }
    // Where the next byte goes.
    uint8_t *end() const { return command() + filled(); }

    // Room for `bytes` more, with one end-of-line byte kept for each of the
    // band's `laterLines` lines after them, within the command's 16-bit
    // length.
    bool fits(int32_t bytes, int32_t laterLines) const {
        if (!exists()) return false;
        const int32_t need = bytes + laterLines;
        return need <= b_->size - filled() && length() + need <= qxraster::kLineLengthMax;
    }

    // Whether the band holds no ink once `linesToCome` empty lines complete it.
    bool blank(int32_t bandHeight, uint8_t planeFlag, int32_t linesToCome = 0) const {
        return holdsNoInk(length() + linesToCome, bandHeight, planeFlag);
    }

    // Counts `n` bytes just written at end() into the buffer and the command.
    void added(int32_t n) { advance(command(), filled(), n); }

    // `n` lines without ink: their end-of-line bytes. (Loads every field
    // before the first store: a byte store could alias them.)
    void appendEmptyLines(int32_t n) {
        if (n <= 0) return;
        uint8_t *command = this->command();
        const int32_t fill = filled();
        if (n == 1)
            command[fill] = qxraster::kEndOfLine;
        else
            fillEndsOfLines(command + fill, n);
        advance(command, fill, n);
    }

    // Back to the empty raster-line command: header kept, length 0.
    void startOver() {
        qxraster::set_line_length(command(), 0);
        if (start_)
            b_->cur[0] = start_ + qxraster::kLineHeaderBytes;
        else
            b_->used[0] = qxraster::kLineHeaderBytes;
    }

    // Takes over what `from` holds, command header included; `from` starts over.
    void takeOver(BasicBand from) {
        const int32_t n = from.filled();
        copySmall(command(), from.command(), n);
        if (start_)
            b_->cur[0] = start_ + n;
        else
            b_->used[0] = n;
        from.startOver();
    }

private:
    // A band's worth of end-of-line bytes (n >= 2) in overlapping word
    // stores; more through memset.
    static void fillEndsOfLines(uint8_t *at, int32_t n) {
        constexpr uint64_t k8 = 0x0101010101010101ull * qxraster::kEndOfLine;
        if (n >= 8 && n <= 16) {
            std::memcpy(at, &k8, 8);
            std::memcpy(at + n - 8, &k8, 8);
        } else if (n >= 2 && n < 8) {
            const auto k4 = static_cast<uint32_t>(k8);
            const auto k2 = static_cast<uint16_t>(k8);
            if (n >= 4) {
                std::memcpy(at, &k4, 4);
                std::memcpy(at + n - 4, &k4, 4);
            } else {
                std::memcpy(at, &k2, 2);
                std::memcpy(at + n - 2, &k2, 2);
            }
        } else {
            std::memset(at, qxraster::kEndOfLine, static_cast<size_t>(n));
        }
    }

    // Copies n bytes between two bands' buffers (which never overlap): a
    // parked band of a few lines in overlapping word copies.
    static void copySmall(uint8_t *dst, const uint8_t *src, int32_t n) {
        if (n >= 8 && n <= 16) {
            std::memcpy(dst, src, 8);
            std::memcpy(dst + n - 8, src + n - 8, 8);
        } else if (n > 16 && n <= 32) {
            std::memcpy(dst, src, 16);
            std::memcpy(dst + n - 16, src + n - 16, 16);
        } else {
            std::memcpy(dst, src, static_cast<size_t>(n));
        }
    }

    void advance(uint8_t *command, int32_t fill, int32_t n) {
        if (start_)
            b_->cur[0] = start_ + fill + n;
        else
            b_->used[0] = fill + n;
        qxraster::add_line_length(command, n);
    }

    BCB *b_;
    uint8_t *start_;  // the locked address, read once: null while unlocked
};

using Band = BasicBand<>;
// A band between calls, or in a call that never locks its chain.
using UnlockedBand = BasicBand<Lock::kUnlocked>;

// Plane p's band being filled.
inline Band bandOf(OutputContext *ctx, int plane) { return Band(&ctx->planes[plane].bcb); }

}  // namespace qxout
