// Test support for rastertoqx316: rasters written with libcups, the filter
// run as CUPS runs it (fork and exec, bounded memory and time), and the
// printer stream read back with the printer-side decoder.
#ifndef QX316_TESTS_FILTER_SUPPORT_H
#define QX316_TESTS_FILTER_SUPPORT_H

#include "qx316_stream.h"

#include <cups/raster.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qxtest {

// Colour components of a raster colour space, as the CUPS raster format has them.
int spaceColors(cups_cspace_t cs);

// A valid 600 dpi page header: bits per pixel and bytes per line by the CUPS
// raster rules for the order (chunky pixels of three colours below 8 bits
// padded to four). No page size, so the bitmap sits at the sheet's corner.
cups_page_header2_t pageHeader(cups_cspace_t cs, int bitsPerColor, cups_order_t order, int width, int height);

// Samples of a page: sample(colour, x, y) of each raster colour.
using Sampler = std::function<unsigned(int colour, int x, int y)>;

// The raster bytes of a page in the header's order and depth (16-bit
// samples in host order, as cupsRasterWritePixels takes them).
std::vector<uint8_t> pageBytes(const cups_page_header2_t &h, const Sampler &s);

struct RasterPage {
    cups_page_header2_t header;
    std::vector<uint8_t> bytes; // written after the header as they are (may be short or long)
};

// Writes the pages with libcups to a new temporary file and returns its path.
std::string writeRaster(const std::vector<RasterPage> &pages, cups_mode_t mode = CUPS_RASTER_WRITE);
std::string writeBytes(const std::vector<uint8_t> &bytes);

struct FilterResult {
    bool exited = false;
    int status = -1;          // exit status when exited
    int signal = 0;
    std::vector<uint8_t> out; // standard output: the printer stream
    std::vector<std::string> messages;
    long maxRssKiB = 0;
    double seconds = 0;

    int count(const std::string &prefix) const;
    std::string first(const std::string &prefix) const;
};

// The filter binary with argv[1..5] = 1 user title 1 options, reading the
// file on standard input (or naming it as argv[6] when asFile). The child
// gets 512 MiB of address space (not under the sanitizers) and 60 s.
FilterResult runFilterProgram(const std::string &input, const std::string &options, bool asFile = false);
FilterResult runFilterArgs(const std::vector<std::string> &args, const std::string &input);

// Expected one-bit plane line from the decoded plane row (missing rows and
// bytes are blank), padded to bytes.
std::vector<uint8_t> decodedLine(const qx316::DecodedPage &p, uint8_t letter, int64_t line, size_t bytes);

bool isAsan();

} // namespace qxtest

#endif
