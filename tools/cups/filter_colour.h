// The filter's colour management: the ink profile a page prints with, from
// the PPD's QXInkProfile entries ("ColorModel.MediaType.Resolution/Text:
// file", a part "-" or empty matching anything, the entry with the most
// matching parts winning; a relative file is in CUPS's profiles folder),
// and the rendering intent the job or the PPD asks for.
#ifndef QX316_CUPS_FILTER_COLOUR_H
#define QX316_CUPS_FILTER_COLOUR_H

#include <string>

namespace qx316::cupsfilter {

// The file of the PPD's best QXInkProfile entry for these words (empty:
// none, or no PPD), and the entry's selector ("RGB.m0.600dpi") in entry.
std::string findProfile(const char *ppdPath, const std::string &colorModel, const std::string &media,
                        const std::string &resolution, std::string &entry);

// A profile file name as CUPS resolves it: absolute as it is, else under
// $CUPS_DATADIR/profiles (or the system's CUPS data folder).
std::string profilePath(const std::string &value);

} // namespace qx316::cupsfilter

#endif
