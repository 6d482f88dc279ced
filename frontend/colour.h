// Colour management for the kit's hosts: an lcms2 transform from the page's
// colour space (sRGB, or a profile embedded in the page) to the ink of the
// model 316 through an ink profile of the job's media class (the built-in
// model's, or a measured one the user gives), with one of the ICC rendering
// intents. Hosts build an InkConverter here and hand it to the Job; the
// library itself knows nothing of colour.
#ifndef QX316_FRONTEND_COLOUR_H
#define QX316_FRONTEND_COLOUR_H

#include "mode.h"
#include "rows.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qx316 {

// Rendering intents by their IPP keywords (print-rendering-intent); the CUPS
// queue option and the qx316 command line take the same words.
enum class Intent : int { Auto, Perceptual, Relative, RelativeBpc, Saturation, Absolute };

struct IntentInfo {
    Intent id;
    const char *keyword;
    const char *label;
};

std::span<const IntentInfo> intentTable();
// The intent with this keyword; false when there is none.
bool findIntent(std::string_view keyword, Intent &out);
const char *intentKeyword(Intent i);

// Largest ICC profile read from a file, and from a page (PNG iCCP, JPEG
// APP2): a page is untrusted input.
constexpr size_t kMaxProfileBytes = size_t(16) << 20;
constexpr size_t kMaxEmbeddedProfileBytes = size_t(4) << 20;

struct ColourSettings {
    Intent intent = Intent::Auto;
    // The ink profile: an ICC output profile (CMYK) as bytes; empty = the
    // built-in model's profile of the job's media class.
    std::vector<uint8_t> inkProfile;
    std::string inkProfileName; // for messages
    // The page's profile (gray or RGB) as bytes; empty = sRGB.
    std::vector<uint8_t> pageProfile;
};

// Reads an ICC profile file of at most kMaxProfileBytes; false with err.
bool readProfileFile(const std::string &path, std::vector<uint8_t> &bytes, std::string &err);

// Builds the converter for a job printed in mode (of media code media).
// Null with err when a profile is damaged, of the wrong kind (the ink
// profile must be CMYK, the page's gray or RGB) or lcms2 refuses the
// transform. Modes that print black only need no converter (the kit's
// own separation prints the page's lightness): null with err empty.
// A converter holds tables sampled from the transform and only reads them:
// any number of threads may share one.
std::shared_ptr<const InkConverter> makeInkConverter(const ColourSettings &s, const ModeInfo &mode, int media,
                                                      std::string &err);

// The built-in model's ink profile of a media class as ICC bytes (version
// 4, output class, CMYK to and from Lab), with or without K. Built once a
// process and kept.
const std::vector<uint8_t> &modelProfile(int mediaClass, bool withK);

// An RGB profile of the Adobe RGB (1998) colour space (D65 white, its
// primaries, gamma 563/256), for rasters that say they hold it.
const std::vector<uint8_t> &adobeRgbProfile();

// Name of a media class's profile file in a folder of profiles: the media
// choice keyword of that class ("m7.icc"); "default.icc" serves classes
// without their own.
std::string profileFileName(int media);
constexpr const char *kDefaultProfileFile = "default.icc";

} // namespace qx316

#endif
