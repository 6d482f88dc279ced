// Writes the PPD compiler source (.drv) of the model 316 driver from the
// front-end kit's option table: one PPD per print head for which some
// combination of options prints. Every option choice sets its page-header
// field and the marker field. Besides the table's options each PPD has
// cupsPrintQuality (Draft, Normal, High: CUPS maps IPP's print-quality to
// it) and ColorModel Gray means monochrome, both resolved by the filter's
// rule (print_request.h). Constraints forbid every combination that does not
// print by that rule (asked through queryMode), and the defaults print.
//
// Usage: qx316_ppdgen OUT.drv [VERSION]
#include "colour.h"
#include "device.h"
#include "mode.h"
#include "options.h"
#include "print_request.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

using qx316::Choice;
using qx316::ModeInfo;
using qx316::OptionId;
using qx316::OptionInfo;
using qx316::PrintOptions;
using qx316::cupsfilter::PrintRequest;

using qx316::kDpi;
// Unprintable strip on each edge of the sheet, in points.
using qx316::kMarginPt;
// Smallest custom page, in points (1 in square).
constexpr int kMinSizePt = 72;

// Order of the options in the page set-up code: after PageSize and
// Resolution (both 10), ColorModel last of all so that its bits per colour
// win over the 1 bit that Resolution sets.
constexpr int kFirstOrder = 20;
constexpr int kColorModelOrder = 40;

// Banner form lengths offered besides "page height", as sheet lengths in
// hundredths of an inch: 5.5 in, 11 in, A4 (297 mm), 12 in, 14 in.
constexpr int kFormLengthsCentiInch[] = {550, 1100, 1169, 1200, 1400};
constexpr double kA4HeightIn = 297.0 / 25.4;

// One PPD choice of an option: keyword, readable text, code.
struct PpdChoice {
    std::string keyword;
    std::string text;
    int code;
};

// An option as the PPD shows it.
struct PpdOption {
    const OptionInfo *entry;
    std::vector<PpdChoice> choices;
};

// Text fit for a PPD translation string: printable ASCII, no quotes, no
// colons (they end a translation string), no slashes, at most 80 bytes.
std::string ppdText(const std::string &in) {
    std::string out;
    for (size_t i = 0; i < in.size(); ++i) {
        const char c = in[i];
        if (c == ':') {
            out += (i + 1 < in.size() && in[i + 1] == ' ') ? " -" : "-";
        } else if (c == '"' || c == '/' || c == '<' || c == '>' || c < 0x20 || c > 0x7e) {
            out += ' ';
        } else {
            out += c;
        }
    }
    if (out.size() > 80) {
        out.resize(80);
        const size_t cut = out.rfind(' ');
        if (cut != std::string::npos && cut > 40)
            out.resize(cut);
    }
    while (!out.empty() && (out.back() == ' ' || out.back() == ',' || out.back() == '-'))
        out.pop_back();
    return out;
}

// PostScript that stores code in the option's field and sets the marker.
std::string fieldCode(const OptionInfo &entry, int code) {
    return std::string("<</") + entry.rasterField + " " + std::to_string(code) + "/" + qx316::kRasterMarkerField +
           " " + std::to_string(qx316::kRasterMarkerValue) + ">>setpagedevice";
}

int linesOf(double inches) { return int(inches * kDpi + 0.5); }

// The form length choices: 0 (each page's height) and a few sheet lengths.
std::vector<Choice> formLengthChoices() {
    std::vector<Choice> out{{"0", "Page height", 0}};
    for (int ci : kFormLengthsCentiInch) {
        const double in = ci == 1169 ? kA4HeightIn : ci / 100.0;
        const int lines = linesOf(in);
        if (lines <= qx316::kMaxFormLength)
            out.push_back({nullptr, nullptr, lines});
    }
    return out;
}

std::string formLengthText(int lines) {
    if (lines == 0)
        return "Page height";
    char buf[80];
    if (lines == linesOf(kA4HeightIn))
        std::snprintf(buf, sizeof buf, "%d lines (A4 length)", lines);
    else
        std::snprintf(buf, sizeof buf, "%d lines (%.4g in)", lines, double(lines) / kDpi);
    return buf;
}

// What the PPD may offer: the filter resolves the request into options the
// library prints.
bool prints(const PrintRequest &r, ModeInfo *info = nullptr) {
    PrintOptions o;
    std::string why;
    if (!qx316::cupsfilter::resolveRequest(r, o, why))
        return false;
    const ModeInfo m = qx316::queryMode(o);
    if (info)
        *info = m;
    return m.problem.empty();
}

// One option that varies within a PPD, with the codes of its choices: a
// table option, or (entry null) cupsPrintQuality with its levels.
struct Dim {
    const OptionInfo *entry;
    std::vector<int> codes;
};

// The options that vary within one PPD: the level, then the table's in
// table order.
struct Space {
    std::vector<Dim> dims;
};

Space optionSpace() {
    Space s;
    Dim level{nullptr, {}};
    for (const auto &c : qx316::cupsfilter::kLevelChoices)
        level.codes.push_back(c.level);
    s.dims.push_back(level);
    for (const OptionInfo &entry : qx316::optionTable()) {
        if (entry.id == OptionId::Head)
            continue;
        Dim d{&entry, {}};
        if (entry.id == OptionId::FormLength) {
            for (const Choice &c : formLengthChoices())
                d.codes.push_back(c.code);
        } else {
            for (const Choice &c : entry.choices)
                d.codes.push_back(c.code);
        }
        s.dims.push_back(d);
    }
    return s;
}

const char *dimKeyword(const Dim &d) { return d.entry ? d.entry->keyword : qx316::cupsfilter::kLevelKeyword; }

// Every combination of one head: index vector -> prints or not.
struct Grid {
    const Space *space;
    int head;
    std::vector<size_t> stride;
    std::vector<char> ok;
    size_t size = 1;

    Grid(const Space &s, int h) : space(&s), head(h) {
        for (const Dim &d : s.dims) {
            stride.push_back(size);
            size *= d.codes.size();
        }
        ok.resize(size);
        std::vector<int> idx(s.dims.size());
        for (size_t n = 0; n < size; ++n) {
            decode(n, idx);
            ok[n] = prints(options(idx));
        }
    }
    void decode(size_t n, std::vector<int> &idx) const {
        for (size_t d = 0; d < idx.size(); ++d)
            idx[d] = int((n / stride[d]) % space->dims[d].codes.size());
    }
    PrintRequest options(const std::vector<int> &idx) const {
        PrintRequest r;
        qx316::setOptionCode(r.options, OptionId::Head, head);
        for (size_t d = 0; d < idx.size(); ++d) {
            const Dim &dim = space->dims[d];
            const int code = dim.codes[size_t(idx[d])];
            if (dim.entry)
                qx316::setOptionCode(r.options, dim.entry->id, code);
            else
                r.level = code;
        }
        return r;
    }
    bool any() const { return std::find(ok.begin(), ok.end(), 1) != ok.end(); }
};

// A partial assignment: index per dimension, -1 = any.
using Partial = std::vector<int>;

bool covers(const Partial &general, const Partial &specific) {
    for (size_t d = 0; d < general.size(); ++d)
        if (general[d] >= 0 && general[d] != specific[d])
            return false;
    return true;
}

// The shortest partial assignments (over offered choices only) none of whose
// completions prints, each not covered by a shorter one: every refused
// combination is covered by one of them, and no printing combination is.
std::vector<Partial> refusedSets(const Grid &g, const std::vector<std::vector<char>> &offered) {
    const size_t dims = g.space->dims.size();
    // A partial assignment as a number, unique among those of one set of
    // dimensions: the grid index of its choices, the free dimensions at 0.
    const auto key = [&](const std::vector<int> &p) {
        size_t n = 0;
        for (size_t d = 0; d < dims; ++d)
            if (p[d] >= 0)
                n += size_t(p[d]) * g.stride[d];
        return n;
    };
    // printing[mask]: the assignments of the dimensions in mask that some
    // printing combination of offered choices completes.
    std::vector<std::unordered_set<size_t>> printing(size_t(1) << dims);
    std::vector<int> idx(dims), p(dims);
    for (size_t n = 0; n < g.size; ++n) {
        if (!g.ok[n])
            continue;
        g.decode(n, idx);
        bool allOffered = true;
        for (size_t d = 0; d < dims; ++d)
            allOffered = allOffered && offered[d][size_t(idx[d])] != 0;
        if (!allOffered)
            continue;
        for (unsigned mask = 0; mask < (1u << dims); ++mask) {
            for (size_t d = 0; d < dims; ++d)
                p[d] = mask & (1u << d) ? idx[d] : -1;
            printing[mask].insert(key(p));
        }
    }
    std::vector<Partial> out;
    for (size_t k = 2; k <= dims; ++k) {
        for (unsigned mask = 0; mask < (1u << dims); ++mask) {
            if (size_t(__builtin_popcount(mask)) != k)
                continue;
            // Walk every assignment of the dimensions in mask.
            Partial p(dims, -1);
            std::vector<size_t> ds;
            for (size_t d = 0; d < dims; ++d)
                if (mask & (1u << d))
                    ds.push_back(d);
            std::vector<int> at(ds.size(), 0);
            for (;;) {
                bool allOffered = true;
                for (size_t i = 0; i < ds.size(); ++i) {
                    p[ds[i]] = at[i];
                    allOffered = allOffered && offered[ds[i]][size_t(at[i])];
                }
                bool known = !allOffered;
                for (size_t i = 0; !known && i < out.size(); ++i)
                    known = covers(out[i], p);
                if (!known && !printing[mask].count(key(p)))
                    out.push_back(p);
                size_t i = 0;
                for (; i < ds.size(); ++i) {
                    if (++at[i] < int(g.space->dims[ds[i]].codes.size()))
                        break;
                    at[i] = 0;
                }
                if (i == ds.size())
                    break;
            }
        }
    }
    return out;
}

std::string keywordOf(const Space &s, size_t d, int index) {
    const Dim &dim = s.dims[d];
    const int code = dim.codes[size_t(index)];
    if (!dim.entry)
        return qx316::cupsfilter::kLevelChoices[index].keyword;
    if (dim.entry->id == OptionId::FormLength)
        return std::to_string(code);
    return qx316::choiceByCode(dim.entry->id, code)->keyword;
}

// The printing combination closest to the table's defaults and no level
// (fewest options changed; the first in table order among equals).
bool defaultCombination(const Grid &g, std::vector<int> &best) {
    const Space &s = *g.space;
    const size_t dims = s.dims.size();
    std::vector<int> want(dims);
    for (size_t d = 0; d < dims; ++d) {
        const std::vector<int> &codes = s.dims[d].codes;
        const int code = s.dims[d].entry ? s.dims[d].entry->defaultCode : qx316::cupsfilter::kNoLevel;
        const auto it = std::find(codes.begin(), codes.end(), code);
        want[d] = it == codes.end() ? 0 : int(it - codes.begin());
    }
    size_t bestDist = dims + 1;
    std::vector<int> idx(dims);
    for (size_t n = 0; n < g.size; ++n) {
        if (!g.ok[n])
            continue;
        g.decode(n, idx);
        size_t dist = 0;
        for (size_t d = 0; d < idx.size(); ++d)
            dist += idx[d] != want[d];
        if (dist < bestDist) {
            bestDist = dist;
            best = idx;
        }
    }
    return bestDist <= dims;
}

// ColorModel choices also set the raster the filter receives: 8-bit sRGB for
// colour, 8-bit luminance (SW) for monochrome, chunky.
std::string colorModelCode(const OptionInfo &entry, int code) {
    const int colorSpace = code == 0 ? 19 /* CUPS_CSPACE_SRGB */ : 18 /* CUPS_CSPACE_SW */;
    return "<</cupsColorSpace " + std::to_string(colorSpace) + "/cupsColorOrder 0/cupsBitsPerColor 8/" +
           entry.rasterField + " " + std::to_string(code) + "/" + qx316::kRasterMarkerField + " " +
           std::to_string(qx316::kRasterMarkerValue) + ">>setpagedevice";
}

std::string levelCode(int level) {
    return std::string("<</") + qx316::cupsfilter::kLevelField + " " + std::to_string(level) + "/" +
           qx316::kRasterMarkerField + " " + std::to_string(qx316::kRasterMarkerValue) + ">>setpagedevice";
}

std::string choiceCode(const Dim &d, int code) {
    if (!d.entry)
        return levelCode(code);
    return d.entry->id == OptionId::ColorMode ? colorModelCode(*d.entry, code) : fieldCode(*d.entry, code);
}

// Option texts. Where the PPD's meaning differs from the table's (ColorModel
// Gray is monochrome, not strictly code 1; QXQuality beside Print Quality is
// the code), the PPD says so.
std::string optionText(const Dim &d) {
    if (!d.entry)
        return "Print Quality";
    switch (d.entry->id) {
    case OptionId::Quality: return "Print quality code";
    case OptionId::ColorMode: return "Colour mode";
    default: return d.entry->name;
    }
}

std::string levelText(int level) {
    switch (level) {
    case qx316::cupsfilter::kDraft: return "Draft (the lowest quality that prints the media)";
    case qx316::cupsfilter::kNormal: return "Normal (a middle quality that prints the media)";
    case qx316::cupsfilter::kHigh: return "High (the highest quality that prints the media)";
    default: return "By print quality code";
    }
}

std::string choiceText(const Dim &d, int code, const PrintOptions &context) {
    if (!d.entry)
        return levelText(code);
    switch (d.entry->id) {
    case OptionId::FormLength: return formLengthText(code);
    case OptionId::ColorMode:
        return code == 0 ? "Colour" : "Monochrome (black only where the media allows it, else gray)";
    default: return qx316::choiceName(d.entry->id, *qx316::choiceByCode(d.entry->id, code), context);
    }
}

// One model: the PPD of one print head.
bool writeModel(std::ostream &out, const Space &s, const Choice &head) {
    const Grid g(s, head.code);
    if (!g.any())
        return false;

    // Choices offered: those that print in some combination.
    const size_t dims = s.dims.size();
    std::vector<std::vector<char>> offered(dims);
    for (size_t d = 0; d < dims; ++d)
        offered[d].assign(s.dims[d].codes.size(), 0);
    std::vector<int> idx(dims);
    int narrowest = 0;
    for (size_t n = 0; n < g.size; ++n) {
        if (!g.ok[n])
            continue;
        g.decode(n, idx);
        for (size_t d = 0; d < dims; ++d)
            offered[d][size_t(idx[d])] = 1;
        ModeInfo m;
        prints(g.options(idx), &m);
        if (narrowest == 0 || m.maxWidth < narrowest)
            narrowest = m.maxWidth;
    }

    std::vector<int> def;
    defaultCombination(g, def);
    const PrintOptions context = g.options(def).options;

    const OptionInfo &headInfo = qx316::optionInfo(OptionId::Head);
    out << "\n{\n";
    out << "  ModelName \"Model 316 print head " << head.code << "\"\n";
    out << "  PCFileName \"qx316-h" << head.code << ".ppd\"\n";
    // Widest raster line every offered combination accepts, in points.
    out << "  MaxSize " << (narrowest * 72 / kDpi) << " " << (qx316::kMaxFormLength * 72LL / kDpi) << "\n";

    out << "  Option \"" << headInfo.keyword << "/" << ppdText(headInfo.name) << "\" PickOne AnySetup "
        << kFirstOrder << "\n";
    out << "    *Choice \"" << head.keyword << "/" << ppdText(head.label) << "\" \""
        << fieldCode(headInfo, head.code) << "\"\n";

    int order = kFirstOrder;
    for (size_t d = 0; d < dims; ++d) {
        const Dim &dim = s.dims[d];
        std::vector<PpdChoice> choices;
        for (size_t i = 0; i < dim.codes.size(); ++i)
            if (offered[d][i])
                choices.push_back({keywordOf(s, d, int(i)), ppdText(choiceText(dim, dim.codes[i], context)), dim.codes[i]});
        const bool colorModel = dim.entry && dim.entry->id == OptionId::ColorMode;
        const int thisOrder = colorModel ? kColorModelOrder : ++order;
        out << "  Option \"" << dimKeyword(dim) << "/" << ppdText(optionText(dim)) << "\" PickOne AnySetup "
            << thisOrder << "\n";
        const std::string defKeyword = keywordOf(s, d, def[d]);
        for (const PpdChoice &c : choices)
            out << "    " << (c.keyword == defKeyword ? "*" : "") << "Choice \"" << c.keyword << "/" << c.text
                << "\" \"" << choiceCode(dim, c.code) << "\"\n";
    }

    // Two-option sets as UIConstraints (older dialogs know only these), the
    // longer ones as cupsUIConstraints.
    for (const Partial &p : refusedSets(g, offered)) {
        std::string line;
        int n = 0;
        for (size_t d = 0; d < dims; ++d) {
            if (p[d] < 0)
                continue;
            line += (n++ ? " *" : "*") + std::string(dimKeyword(s.dims[d])) + " " + keywordOf(s, d, p[d]);
        }
        if (n == 2)
            out << "  UIConstraints \"" << line << "\"\n";
        else
            out << "  Attribute cupsUIConstraints \"\" \"" << line << "\"\n";
    }
    out << "}\n";
    return true;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: qx316_ppdgen OUT.drv [VERSION]\n");
        return 2;
    }
    const std::string version = argc == 3 ? argv[2] : "1.0";
    for (const OptionInfo &entry : qx316::optionTable())
        if (std::string(entry.rasterField) == qx316::cupsfilter::kLevelField) {
            std::fprintf(stderr, "qx316_ppdgen: %s uses %s, the field of %s\n", entry.keyword, entry.rasterField,
                         qx316::cupsfilter::kLevelKeyword);
            return 1;
        }
    const Space space = optionSpace();

    std::ostringstream models;
    int count = 0;
    for (const Choice &head : qx316::optionInfo(OptionId::Head).choices) {
        if (writeModel(models, space, head))
            ++count;
        else
            std::fprintf(stderr, "qx316_ppdgen: no combination prints with %s, no PPD for it\n", head.label);
    }
    if (count == 0) {
        std::fprintf(stderr, "qx316_ppdgen: no print head prints anything\n");
        return 1;
    }

    std::ostringstream out;
    out << "// Model 316 ink-jet printer: written by qx316_ppdgen from the driver's\n"
           "// option table. Do not edit; compile with ppdc.\n"
           "#include <media.defs>\n\n"
           "Manufacturer \"QX\"\n"
           "Version \""
        << version
        << "\"\n"
           "DriverType custom\n"
           "ModelNumber 316\n"
           "ColorDevice Yes\n"
           "Throughput 1\n"
           "Attribute cupsFilter2 \"\" \"application/vnd.cups-raster application/vnd.qx316-stream 100 "
           "rastertoqx316\"\n"
           "ManualCopies Yes\n"
           "Resolution - 8 0 0 0 \""
        << kDpi << "dpi/" << kDpi << " dpi\"\n"
        << "HWMargins " << kMarginPt << " " << kMarginPt << " " << kMarginPt << " " << kMarginPt << "\n"
        << "VariablePaperSize Yes\n"
        << "MinSize " << kMinSizePt << " " << kMinSizePt << "\n"
        << "*MediaSize A4\n"
           "MediaSize Letter\n"
           "MediaSize Legal\n"
           "MediaSize A5\n";
    // Rendering intents: the choices set the page header's
    // cupsRenderingIntent, which the filter reads.
    out << "Option \"" << qx316::cupsfilter::kIntentName << "/Rendering intent\" PickOne AnySetup 50\n";
    for (const qx316::IntentInfo &i : qx316::intentTable())
        out << "  " << (i.id == qx316::Intent::Auto ? "*" : "") << "Choice \"" << i.keyword << "/" << i.label
            << "\" \"<</cupsRenderingIntent(" << i.keyword << ")>>setpagedevice\"\n";
    // The built-in ink model's profile of each media class, in CUPS's
    // profiles folder; a measured profile goes in the same place.
    for (const Choice &m : qx316::optionInfo(OptionId::Media).choices)
        out << "Attribute " << qx316::cupsfilter::kInkProfileKeyword << " \"RGB." << m.keyword << "." << kDpi << "dpi/Model 316 ink model (not measured), "
            << m.keyword << "\" \"qx316/" << qx316::profileFileName(m.code) << "\"\n";
    out << models.str();

    std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
    file << out.str();
    file.close();
    if (!file) {
        std::fprintf(stderr, "qx316_ppdgen: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
