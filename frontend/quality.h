// IPP's print quality on the model 316: which of the option table's quality
// codes print a set of options, and which of them a draft, normal or high
// request gets. The CUPS driver (print-quality through its PPD) and the
// printer application (print-quality) both ask here.
#ifndef QX316_FRONTEND_QUALITY_H
#define QX316_FRONTEND_QUALITY_H

#include "options.h"

#include <string>
#include <vector>

namespace qx316 {

enum class QualityLevel { Draft, Normal, High };

// The table's quality codes, in table order (lowest quality first), that
// print the options with this colour mode; with blackOnly only those that
// print with the black plane alone. firstProblem, when given and empty,
// gets the library's words for the first quality it refuses.
std::vector<int> printingQualities(PrintOptions o, int colorMode, bool blackOnly, std::string *firstProblem = nullptr);

// The code a level gets from such a list (not empty): draft the first, high
// the last, normal the middle one (the lower of two).
int pickQuality(const std::vector<int> &codes, QualityLevel level);

} // namespace qx316

#endif
