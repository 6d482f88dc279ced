// What a CUPS job asks the model 316 for, and the library options it prints
// with. Besides the option table's choices a job may ask for IPP's print
// quality (draft, normal, high) and for monochrome, whose quality and colour
// mode depend on the media: they are picked here the way the printer
// application picks them for print-quality and print-color-mode. No libcups:
// the PPD generator makes its constraints from the same rule.
#ifndef QX316_CUPS_PRINT_REQUEST_H
#define QX316_CUPS_PRINT_REQUEST_H

#include "options.h"

#include <string>
#include <string_view>

namespace qx316::cupsfilter {

// IPP print-quality values; kNoLevel: the quality code of the options applies.
constexpr int kNoLevel = 0;
constexpr int kDraft = 3;
constexpr int kNormal = 4;
constexpr int kHigh = 5;

// The PPD option that carries the level (CUPS maps print-quality 3, 4, 5 to
// its choices Draft, Normal, High), its choice for "no level", and the
// page-header field its choices store the level in. The option table must
// not use this field.
constexpr const char *kLevelKeyword = "cupsPrintQuality";
constexpr const char *kNoLevelChoice = "ByCode";
constexpr const char *kLevelField = "cupsInteger7";

struct LevelChoice {
    const char *keyword; // PPD choice
    int level;
};
constexpr LevelChoice kLevelChoices[] = {
    {kNoLevelChoice, kNoLevel}, {"Draft", kDraft}, {"Normal", kNormal}, {"High", kHigh}};

// The level a cupsPrintQuality choice names (case as CUPS compares it:
// ignored); false for other words.
bool levelFromChoice(std::string_view choice, int &level);

// The IPP name of the rendering intent option (a job option, and the PPD
// option whose choices set the page header's cupsRenderingIntent).
constexpr const char *kIntentName = "print-rendering-intent";

// The PPD keyword of the ink profiles ("*QXInkProfile RGB.m0.600dpi/Text:
// file"). Not cupsICCProfile: CUPS's rasterizers take a cupsICCProfile as
// the profile of the raster they write, and a CMYK ink profile for the RGB
// raster this driver asks for stops them (Ghostscript refuses the device),
// so every job would fail. The filter itself turns the RGB raster into ink.
constexpr const char *kInkProfileKeyword = "QXInkProfile";

struct PrintRequest {
    PrintOptions options; // colorMode other than 0 asks for monochrome
    int level = kNoLevel; // kDraft, kNormal, kHigh: replaces options.quality
    std::string intent = "auto"; // rendering intent keyword as asked (checked when the page prints)
};

// The library options a request prints with. Monochrome prints black only
// (plane mode 1) where the media allows it, else gray on colour mode 0.
// With a level, the quality is the first (draft), middle (normal, the lower
// of two) or last (high) of the table's qualities that print the media and
// colour choice, as for the printer application. false with the reason in
// why when a level is asked for and no quality prints; without a level the
// options are returned for the library to accept or refuse.
bool resolveRequest(const PrintRequest &r, PrintOptions &out, std::string &why);

} // namespace qx316::cupsfilter

#endif
