// What a model 316 printer application driver offers, derived from the
// front-end kit's option table and mode query: the IPP choices of a print
// head and the library options an IPP job's choices become. No PAPPL here,
// so the mapping is tested on its own.
#ifndef QX316_PRINTER_APP_CAPS_H
#define QX316_PRINTER_APP_CAPS_H

#include "device.h"
#include "mode.h"
#include "options.h"
#include "quality.h"

#include <string>
#include <vector>

namespace qx316::app {

using IppQuality = QualityLevel;

// An IPP job's choices, in the library's codes where the table has them.
struct Request {
    int head = 0;
    int media = 0;             // media code (media-type keyword of the table)
    IppQuality quality = IppQuality::Normal;
    bool monochrome = false;
    bool composite = false;
    bool banner = false;
    int formLength = 0;        // banner form length in lines at 600 dpi; 0 = each page's height
    int pageLines = 0;         // page length in lines at 600 dpi when known, else 0
    int pageWidth = 0;         // page width in pixels at 600 dpi when known, else 0
};

struct Resolved {
    PrintOptions options;
    ModeInfo mode;
    bool blackOnly = false;    // monochrome printed with the black plane alone
    std::string problem;       // empty when the library prints the request
};

// The library's options for a request, or the reason it cannot print it.
// Quality: the table's quality choices that print the request, ordered from
// the lowest quality index to the highest: draft the first, high the last,
// normal the middle one (the lower of two). Monochrome uses the library's
// black-only colour mode where it prints with the black plane alone
// (plane mode 1), and otherwise gray rows on the colour mode.
Resolved resolve(const Request &r);

// IPP name of a vendor option: the table keyword in lower case with a
// hyphen before each inner capital ("QXFormLength" -> "qx-form-length").
std::string ippName(OptionId id);

// The readable names IPP clients and the web pages show, as a strings file
// ('"key" = "text";' lines): each media type by its code and the library's
// media class ("media-type.m26" = "Media 26 (class 7)"), and each vendor
// option with its values ("qx-paper" = "Paper", "qx-paper.banner" = ...).
std::string ippStrings();

// What a print head offers: every combination of the offered values prints.
struct HeadCaps {
    int head = 0;
    std::vector<const Choice *> media;  // media choices that print in monochrome
    int defaultMedia = 0;               // code
    bool color = false;                 // every offered media prints in colour
    bool defaultMonochrome = false;     // colour is not offered
    bool composite[2] = {false, false}; // composite off / on offered
    int maxWidth = 0;                   // widest page (pixels at 600 dpi) every offered combination takes
};
HeadCaps headCaps(int head);

} // namespace qx316::app

#endif
