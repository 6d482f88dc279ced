#include "quality.h"

#include "mode.h"

namespace qx316 {

std::vector<int> printingQualities(PrintOptions o, int colorMode, bool blackOnly, std::string *firstProblem) {
    std::vector<int> codes;
    o.colorMode = colorMode;
    for (const Choice &q : optionInfo(OptionId::Quality).choices) {
        o.quality = q.code;
        const ModeInfo m = queryMode(o);
        if (!m.problem.empty()) {
            if (firstProblem && firstProblem->empty())
                *firstProblem = m.problem;
            continue;
        }
        if (!blackOnly || printsBlackOnly(m))
            codes.push_back(q.code);
    }
    return codes;
}

int pickQuality(const std::vector<int> &codes, QualityLevel level) {
    switch (level) {
    case QualityLevel::Draft: return codes.front();
    case QualityLevel::Normal: return codes[(codes.size() - 1) / 2];
    case QualityLevel::High: break;
    }
    return codes.back();
}

} // namespace qx316
