// CUPS raster pages as the kit takes them: every page header is checked and
// turned into a layout (colours, order, depths, sizes, placement, copies)
// before anything is allocated for the page, and each raster line is turned
// into one row of the kit's row formats.
#ifndef QX316_CUPS_FILTER_RASTER_H
#define QX316_CUPS_FILTER_RASTER_H

#include "device.h"
#include "job.h"
#include "options.h"
#include "print_request.h"
#include "rows.h"

#include <cups/raster.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace qx316::cupsfilter {

constexpr int kResolution = qx316::kDpi;  // dots per inch, both directions
constexpr int kMaxWidth = 32767;   // pixels of a raster line (the kit's limit)
constexpr int kMaxCopies = 9999;   // NumCopies of one page

struct PageLayout {
    PageShape shape;                 // size, kit row format, placement
    const char *spaceName = "";
    int colors = 0;                // colour components in the raster
    int bitsPerColor = 0;          // 1, 8 or 16
    int bitsPerPixel = 0;          // chunky: one pixel with its padding; else bitsPerColor
    cups_order_t order = CUPS_ORDER_CHUNKED;
    size_t bytesPerLine = 0;       // cupsBytesPerLine
    size_t bandBytes = 0;          // one colour of one line (banded and planar orders)
    size_t lineBytes = 0;          // every colour of one line as convertLine() takes it
    int source[4] = {-1, -1, -1, -1}; // raster colour of each kit channel, -1 = none
    int channels = 0;              // kit channels of the row format
    bool invert = false;           // raster values run the other way from the kit's
    int copies = 1;
};

// Checks a page header and works out its layout; false with the reason in
// err (one line, no page number).
bool pageLayout(const cups_page_header2_t &h, PageLayout &out, std::string &err);

// Converts one raster line into a kit row of rowBytes(format, width) bytes.
// The line is cupsBytesPerLine bytes in chunky and banded order; in planar
// order it is the line of each colour one after another (lineBytes).
// line may be row when lineIsRow(l).
void convertLine(const PageLayout &l, const uint8_t *line, uint8_t *row);

// Whether a raster line is already a kit row but for the padding bits of
// its last byte (1-bit, one colour, no inversion): the line can then be read
// into the row and converted where it lies.
bool lineIsRow(const PageLayout &l);

// What a page asks for: the job's request, with the table's options and the
// print-quality level replaced by the page header's fields when the header
// carries the marker (a level field of 0 keeps the job's level). false with
// the reason in err.
bool pageOptions(const cups_page_header2_t &h, const PrintRequest &job, PrintRequest &out, std::string &err);

// What a job asks for in its CUPS option string (argv[5]), read by the PPD
// keywords and by CUPS's and IPP's standard names with their standard
// meaning: each table option by its PPD keyword; MediaType also by
// media-type or a part of media (a comma list of size, type and source names)
// that names a media choice; ColorModel also by print-color-mode; the level
// by cupsPrintQuality or print-quality. Every other option, the sizes of
// media among them (the page header has the size), is accepted without
// effect and named in unused. false with the option and its choices in err
// when a table option's value is not one of its choices.
bool jobOptions(const char *optionString, PrintRequest &out, std::string &err, std::string *unused = nullptr);

bool sameOptions(const PrintOptions &a, const PrintOptions &b);

} // namespace qx316::cupsfilter

#endif
