#include "print_request.h"

#include "mode.h"
#include "quality.h"

#include <strings.h>
#include <vector>

namespace qx316::cupsfilter {

namespace {

bool printsBlackOnly(const PrintOptions &o) { return qx316::printsBlackOnly(queryMode(o)); }

QualityLevel levelOf(int level) {
    return level == kDraft ? QualityLevel::Draft : level == kNormal ? QualityLevel::Normal : QualityLevel::High;
}

} // namespace

bool levelFromChoice(std::string_view choice, int &level) {
    for (const LevelChoice &c : kLevelChoices)
        if (choice.size() == std::string_view(c.keyword).size() &&
            strncasecmp(choice.data(), c.keyword, choice.size()) == 0) {
            level = c.level;
            return true;
        }
    return false;
}

bool resolveRequest(const PrintRequest &r, PrintOptions &out, std::string &why) {
    const PrintOptions &o = r.options;
    const bool mono = o.colorMode != 0;
    if (r.level == kNoLevel) {
        out = o;
        if (mono && !printsBlackOnly(o)) {
            PrintOptions gray = o;
            gray.colorMode = 0;
            if (queryMode(gray).problem.empty())
                out = gray;
        }
        return true;
    }
    std::vector<int> codes;
    int colorMode = 0;
    if (mono) {
        codes = printingQualities(o, o.colorMode, true, nullptr);
        colorMode = o.colorMode;
    }
    std::string problem;
    if (codes.empty()) {
        codes = printingQualities(o, 0, false, &problem);
        colorMode = 0;
    }
    if (codes.empty()) {
        const Choice *media = choiceByCode(OptionId::Media, o.media);
        why = std::string("no print quality prints media type ") + (media ? media->keyword : std::to_string(o.media)) +
              " with print head " + std::to_string(o.head) + (o.composite ? " and composite printing" : "") +
              (mono ? " in monochrome" : " in colour") + " (the library says: " + problem + ")";
        if (!mono && !printingQualities(o, 1, true, nullptr).empty())
            why += "; it prints in monochrome (ColorModel=Gray, print-color-mode=monochrome)";
        return false;
    }
    out = o;
    out.quality = pickQuality(codes, levelOf(r.level));
    out.colorMode = colorMode;
    return true;
}

} // namespace qx316::cupsfilter
