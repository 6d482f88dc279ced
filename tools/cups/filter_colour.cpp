#include "filter_colour.h"
#include "print_request.h"

#include <cups/ppd.h>

#include <cstdlib>
#include <cstring>

namespace qx316::cupsfilter {

namespace {

// How well a part of an entry's selector matches a word: -1 no, 0 any, 1 exactly.
int partMatch(const std::string &part, const std::string &word) {
    if (part.empty() || part == "-")
        return 0;
    return strcasecmp(part.c_str(), word.c_str()) == 0 ? 1 : -1;
}

} // namespace

std::string findProfile(const char *ppdPath, const std::string &colorModel, const std::string &media,
                        const std::string &resolution, std::string &entry) {
    entry.clear();
    if (!ppdPath || !*ppdPath)
        return {};
    ppd_file_t *ppd = ppdOpenFile(ppdPath);
    if (!ppd)
        return {};
    std::string best;
    int bestScore = -1;
    const std::string words[3] = {colorModel, media, resolution};
    for (ppd_attr_t *a = ppdFindAttr(ppd, kInkProfileKeyword, nullptr); a;
         a = ppdFindNextAttr(ppd, kInkProfileKeyword, nullptr)) {
        // The entry's selector is "ColorModel.MediaType.Resolution".
        [[maybe_unused]] const auto &[keyword, selector, text, value] = *a;
        if (!value || !*value)
            continue;
        const std::string s = selector;
        std::string parts[3];
        size_t at = 0;
        for (int i = 0; i < 3; ++i) {
            const size_t dot = i < 2 ? s.find('.', at) : std::string::npos;
            parts[i] = s.substr(at, dot == std::string::npos ? std::string::npos : dot - at);
            if (dot == std::string::npos) {
                at = s.size();
                for (int j = i + 1; j < 3; ++j)
                    parts[j].clear();
                break;
            }
            at = dot + 1;
        }
        int score = 0;
        for (int i = 0; i < 3 && score >= 0; ++i) {
            const int m = partMatch(parts[i], words[i]);
            score = m < 0 ? -1 : score + m;
        }
        if (score > bestScore) {
            bestScore = score;
            best = value;
            entry = s;
        }
    }
    ppdClose(ppd);
    return best;
}

std::string profilePath(const std::string &value) {
    if (value.empty() || value[0] == '/')
        return value;
    const char *data = std::getenv("CUPS_DATADIR");
    return std::string(data && *data ? data : QX316_CUPS_DATADIR) + "/profiles/" + value;
}

} // namespace qx316::cupsfilter
