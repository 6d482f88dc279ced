// The raster-line command, which carries a band's coded lines for one plane:
// ESC ( F, a 16-bit little-endian length, then per line its PackBits items
// (zero runs for the blank left bytes, then the inked span) and the
// end-of-line byte. The encoder, the band buffers and the bounds checks all
// take the command from here; the stream decoder keeps its own reading.
#pragma once

#include <cstdint>

namespace qxraster {

constexpr uint8_t kLineCommand[3] = {0x1B, 0x28, 0x46};
constexpr int kLineHeaderBytes = 5;  // the command and its length field
constexpr int kLineLengthMax = 65535;
constexpr uint8_t kEndOfLine = 0x80;  // PackBits' no-op control byte
constexpr int32_t kLineBytesMax = 32767;  // byte counts within one line are 16-bit

// Length field of the command starting at `command`.
inline int32_t line_length(const uint8_t *command) { return command[3] | (command[4] << 8); }

inline void set_line_length(uint8_t *command, int32_t length) {
    command[3] = static_cast<uint8_t>(length & 0xFF);
    command[4] = static_cast<uint8_t>((length >> 8) & 0xFF);
}

// Adds to the length field, modulo 2^16 as the field holds it.
inline void add_line_length(uint8_t *command, int32_t amount) {
    const uint32_t sum = static_cast<uint32_t>(line_length(command)) + static_cast<uint32_t>(amount);
    set_line_length(command, static_cast<int32_t>(sum & 0xFFFFu));
}

// The empty command: header and length 0.
inline void write_empty_line_command(uint8_t *dst) {
    dst[0] = kLineCommand[0];
    dst[1] = kLineCommand[1];
    dst[2] = kLineCommand[2];
    set_line_length(dst, 0);
}

// Most bytes PackBits items of n >= 1 bytes take: a control byte per literal
// of up to 128 bytes, one more where a literal stops at 126 (worst case
// n + 1 + (n - 1) / 126).
constexpr int32_t packbits_bound(int32_t n) { return n + 1 + (n - 1) / 126; }

// Bytes of the repeat items for n >= 1 zero bytes (up to 128 each).
constexpr int32_t zero_run_bytes(int32_t n) { return 2 * ((n + 127) / 128); }

}  // namespace qxraster
