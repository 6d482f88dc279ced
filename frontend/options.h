// Print options of the model 316: the one table from which the qx316 command
// line, the PPD and the printer application's attributes are all made, and
// the PrintParams record they fill.
#ifndef QX316_FRONTEND_OPTIONS_H
#define QX316_FRONTEND_OPTIONS_H

#include "qxdro316.h"

#include <span>
#include <string>
#include <string_view>

namespace qx316 {

enum class OptionId : int { Quality, Media, Head, ColorMode, Composite, Paper, FormLength };
constexpr int kOptionCount = 7;

// One choice of an option. The keyword is stable (PPD choice names, IPP
// keywords, command-line words); code is what the library receives.
struct Choice {
    const char *keyword;
    const char *label;  // short readable label with the code, e.g. "Code 5"
    int code;
};

struct OptionInfo {
    OptionId id;
    const char *keyword;      // PPD main keyword ("QXQuality"), also the IPP name stem
    const char *cliName;      // command-line option without "--" ("quality")
    const char *name;         // readable option name
    const char *rasterField;  // CUPS page-header field that carries the code ("cupsInteger1")
    std::span<const Choice> choices; // empty for FormLength, which takes a number
    int defaultCode;
    const char *flag;         // command-line flag that sets code 1 ("banner"), or null
};

// Every option, in the order above.
std::span<const OptionInfo> optionTable();
const OptionInfo &optionInfo(OptionId id);

// The choice of an option with this keyword, or (for a decimal number) this
// code; null when there is none.
const Choice *findChoice(OptionId id, std::string_view keywordOrCode);
const Choice *choiceByCode(OptionId id, int code);

// A CUPS page-header field whose value kRasterMarkerValue says that the PPD
// stored the options in the fields named by the table (0 in rasters made
// elsewhere, whose options then come from the job's option list).
constexpr const char *kRasterMarkerField = "cupsInteger0";
constexpr int kRasterMarkerValue = 316;

// Longest banner form, in raster lines (about 55 m at 600 dpi).
constexpr int kMaxFormLength = 1 << 20;

struct PrintOptions {
    int quality = 5;       // print quality code
    int media = 0;         // media type code
    int head = 0;          // print head code
    int colorMode = 0;     // 1 or 2: black only where the media allows
    bool composite = false;
    bool banner = false;
    int formLength = 0;    // banner form length in raster lines; 0 = each page's height
    bool sendBlankLines = false; // deliver lines without ink too (a test aid)
};

int getOption(const PrintOptions &o, OptionId id);
// Sets an option from its keyword or decimal code. Quality, media, head and
// colour mode take any 16-bit code (the library decides what it accepts);
// the others take their choices, and FormLength 0..kMaxFormLength.
bool setOption(PrintOptions &o, OptionId id, std::string_view value, std::string &err);
void setOptionCode(PrintOptions &o, OptionId id, int code);

PrintParams makeParams(const PrintOptions &o);

// Readable name of a choice that says what it prints: its label, and the plane
// mode, bits per dot and band height it gives together with the other
// options of context (for quality and media choices that the context does
// not print, with the first choice of the other option that does). At most
// 80 bytes.
std::string choiceName(OptionId id, const Choice &c, const PrintOptions &context);

} // namespace qx316

#endif
