#include "options.h"

#include "mode.h"

#include <charconv>
#include <cstring>
#include <iterator>

namespace qx316 {

namespace {

// Quality codes from the lowest quality index to the highest; media codes
// one per media class the library knows (codes of one class print alike).
constexpr Choice kQuality[] = {
    {"q3", "Quality code 3", 3},   {"q15", "Quality code 15", 15}, {"q10", "Quality code 10", 10},
    {"q5", "Quality code 5", 5},   {"q0", "Quality code 0", 0},
};
constexpr Choice kMedia[] = {
    {"m0", "Media code 0", 0},     {"m1", "Media code 1", 1},     {"m7", "Media code 7", 7},
    {"m15", "Media code 15", 15},  {"m16", "Media code 16", 16},  {"m18", "Media code 18", 18},
    {"m26", "Media code 26", 26},  {"m27", "Media code 27", 27},  {"m28", "Media code 28", 28},
    {"m29", "Media code 29", 29},  {"m36", "Media code 36", 36},  {"m37", "Media code 37", 37},
    {"m50", "Media code 50", 50},
};
constexpr Choice kHead[] = {
    {"h0", "Print head code 0", 0}, {"h1", "Print head code 1", 1}, {"h2", "Print head code 2", 2},
};
constexpr Choice kColorMode[] = {
    {"RGB", "Colour (code 0)", 0},
    {"Gray", "Black only (code 1)", 1},
};
constexpr Choice kComposite[] = {
    {"off", "Separate planes (code 0)", 0},
    {"on", "Composite printing (code 1)", 1},
};
constexpr Choice kPaper[] = {
    {"cut", "Cut sheets (code 0)", 0},
    {"banner", "Banner paper (code 1)", 1},
};

constexpr OptionInfo kOptions[kOptionCount] = {
    {OptionId::Quality, "QXQuality", "quality", "Print quality", "cupsInteger1", kQuality, 5, nullptr},
    {OptionId::Media, "MediaType", "media", "Media type", "cupsMediaType", kMedia, 0, nullptr},
    {OptionId::Head, "QXPrintHead", "head", "Print head", "cupsInteger2", kHead, 0, nullptr},
    {OptionId::ColorMode, "ColorModel", "color-mode", "Colour or black only", "cupsInteger3", kColorMode, 0, nullptr},
    {OptionId::Composite, "QXComposite", "composite", "Composite printing", "cupsInteger4", kComposite, 0, "composite"},
    {OptionId::Paper, "QXPaper", "paper", "Paper", "cupsInteger5", kPaper, 0, "banner"},
    {OptionId::FormLength, "QXFormLength", "form-length", "Banner form length (lines at 600 dpi)",
     "cupsInteger6", {}, 0, nullptr},
};

constexpr bool tableInOrder() {
    for (int i = 0; i < kOptionCount; ++i)
        if (int(kOptions[i].id) != i)
            return false;
    return true;
}
static_assert(tableInOrder(), "option table rows follow OptionId");

bool parseCode(std::string_view s, int &v) {
    if (s.empty())
        return false;
    const char *b = s.data(), *e = s.data() + s.size();
    if (*b == '+')
        ++b;
    auto [p, ec] = std::from_chars(b, e, v);
    return ec == std::errc() && p == e;
}

} // namespace

std::span<const OptionInfo> optionTable() { return kOptions; }

const OptionInfo &optionInfo(OptionId id) { return kOptions[int(id)]; }

const Choice *findChoice(OptionId id, std::string_view value) {
    for (const Choice &c : optionInfo(id).choices)
        if (value == c.keyword)
            return &c;
    int code;
    return parseCode(value, code) ? choiceByCode(id, code) : nullptr;
}

const Choice *choiceByCode(OptionId id, int code) {
    for (const Choice &c : optionInfo(id).choices)
        if (c.code == code)
            return &c;
    return nullptr;
}

int getOption(const PrintOptions &o, OptionId id) {
    switch (id) {
    case OptionId::Quality: return o.quality;
    case OptionId::Media: return o.media;
    case OptionId::Head: return o.head;
    case OptionId::ColorMode: return o.colorMode;
    case OptionId::Composite: return o.composite ? 1 : 0;
    case OptionId::Paper: return o.banner ? 1 : 0;
    case OptionId::FormLength: return o.formLength;
    }
    return 0;
}

void setOptionCode(PrintOptions &o, OptionId id, int code) {
    switch (id) {
    case OptionId::Quality: o.quality = code; break;
    case OptionId::Media: o.media = code; break;
    case OptionId::Head: o.head = code; break;
    case OptionId::ColorMode: o.colorMode = code; break;
    case OptionId::Composite: o.composite = code == 1; break;
    case OptionId::Paper: o.banner = code == 1; break;
    case OptionId::FormLength: o.formLength = code; break;
    }
}

bool setOption(PrintOptions &o, OptionId id, std::string_view value, std::string &err) {
    const OptionInfo &option = optionInfo(id);
    const bool anyCode = id == OptionId::Quality || id == OptionId::Media || id == OptionId::Head ||
                         id == OptionId::ColorMode;
    int code;
    if (const Choice *c = findChoice(id, value)) {
        code = c->code;
    } else if (id == OptionId::FormLength) {
        if (!parseCode(value, code) || code < 0 || code > kMaxFormLength) {
            err = std::string(option.cliName) + " needs a number of lines from 0 to " + std::to_string(kMaxFormLength);
            return false;
        }
    } else if (anyCode && parseCode(value, code) && code >= -32768 && code <= 32767) {
        // Codes outside the table reach the library, which decides.
    } else {
        err = std::string(option.cliName) + ": unknown choice \"" + std::string(value) + "\" (choices:";
        for (const Choice &c : option.choices)
            err += std::string(" ") + c.keyword;
        err += anyCode ? ", or a code from -32768 to 32767)" : ")";
        return false;
    }
    setOptionCode(o, id, code);
    return true;
}

PrintParams makeParams(const PrintOptions &o) {
    PrintParams p;
    std::memset(&p, 0, sizeof p);
    p.printQuality = int16_t(o.quality);
    p.mediaType = int16_t(o.media);
    p.headCode = int16_t(o.head);
    p.colorMode = int16_t(o.colorMode);
    p.compositeMode = o.composite ? 1 : 0;
    p.bannerPaper = o.banner ? 1 : 0;
    return p;
}

namespace {

std::string fit(std::string s) {
    constexpr size_t kMax = 80;
    if (s.size() <= kMax)
        return s;
    s.resize(kMax);
    const size_t cut = s.rfind(' ');
    if (cut != std::string::npos && cut > kMax / 2)
        s.resize(cut);
    while (!s.empty() && (s.back() == ',' || s.back() == ' ' || s.back() == ':'))
        s.pop_back();
    return s;
}

// What a quality or media choice prints: with the context, or else with the
// first choice of the other option that prints.
std::string printsWith(OptionId id, int code, const PrintOptions &context) {
    PrintOptions o = context;
    setOptionCode(o, id, code);
    ModeInfo m = queryMode(o);
    if (m.problem.empty())
        return describeMode(m);
    const OptionId other = id == OptionId::Quality ? OptionId::Media : OptionId::Quality;
    for (const Choice &c : optionInfo(other).choices) {
        setOptionCode(o, other, c.code);
        m = queryMode(o);
        if (m.problem.empty())
            return std::string("with ") + c.label + ", " + describeMode(m);
    }
    return "prints with no choice here";
}

} // namespace

std::string choiceName(OptionId id, const Choice &c, const PrintOptions &context) {
    switch (id) {
    case OptionId::Quality:
    case OptionId::Media:
    case OptionId::Head:
        return fit(std::string(c.label) + ": " + printsWith(id, c.code, context));
    default:
        return fit(c.label);
    }
}

} // namespace qx316
