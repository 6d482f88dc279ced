/*
 * qx316_stream.h - the printer's view of a model 316 command stream.
 *
 * decodeStream() walks a stream the way the printer reads it: set-up
 * command, job header, colour selects, raster skips and raster-line
 * commands, and rebuilds every plane's lines on every page. It is strict:
 * the first byte that breaks the grammar stops the walk, and the result
 * names its offset and what was expected there. It reads only the bytes it
 * is given, never past size, and its memory and time are bounded by the
 * input size and the limits.
 */
#ifndef QX316_STREAM_H
#define QX316_STREAM_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qx316 {

struct StreamLimits {
    int64_t maxLines = 1 << 21;               // printer lines per page
    int maxPages = 10000;
    int64_t maxDecodedBytes = int64_t(1) << 30; // decoded line bytes kept, whole stream
    bool keepRows = true;                      // false: lines are checked, not kept (planes' rows stay empty)
    size_t maxCommands = size_t(1) << 20;      // commands listed in the result; later ones are only counted
};

struct DecodedPlane {
    uint8_t letter; // 'C','M','Y','K',0xC3,0xCD,0xD9
    // Printer line on the page -> decoded bytes of that line as coded (bytes
    // right of the last coded byte are blank and absent). Lines that were
    // only end-of-line bytes are absent.
    std::map<int64_t, std::vector<uint8_t>> rows;
};

struct DecodedPage {
    int bandHeight = 0;
    int64_t bands = 0;                  // band position reached
    std::vector<DecodedPlane> planes;   // one per letter ever selected, first-seen order
    std::vector<int64_t> formMarks;     // band positions of repeated job headers (banner form feeds)
    int64_t rasterCommands = 0;         // raster-line commands on the page
    int64_t inkedBands = 0;             // bands sent with at least one non-empty plane

    // The plane with this letter, or null when the page never selected it.
    const DecodedPlane *plane(uint8_t letter) const;
};

struct StreamCommand {
    size_t offset;      // of the ESC byte
    uint8_t letter;     // command letter after ESC (
    uint32_t length;    // parameter bytes
    int page;           // 0-based page the command belongs to
    int64_t band;       // band position when the command was read
    uint8_t plane;      // 'F' only: letter of the plane it carries, else 0
    std::string meaning;
};

struct DecodeResult {
    bool ok = false;
    size_t errorOffset = 0;
    std::string error;  // what was expected at errorOffset
    std::vector<DecodedPage> pages;
    std::vector<StreamCommand> commands; // commands read, up to the error or maxCommands
    size_t commandCount = 0;             // all commands read, listed or not
};

// Decodes size bytes at data (data may be null when size is 0). Never reads
// outside [data, data + size). On success ok is true; otherwise ok is false,
// errorOffset/error locate the first fault and pages/commands hold what was
// decoded before it.
DecodeResult decodeStream(const uint8_t *data, size_t size, const StreamLimits &limits = {});

// Printable name of a plane letter: "C", "M", "Y", "K", "C3", "CD", "D9".
std::string planeName(uint8_t letter);

// Decodes one line of PackBits items (without its end-of-line byte) from
// [data, data + size). Returns false with *why set when an item runs past
// size, an item starts with 0x80, or the line reaches 65536 bytes.
bool unpackLine(const uint8_t *data, size_t size, std::vector<uint8_t> &out, std::string *why);

} // namespace qx316

#endif
