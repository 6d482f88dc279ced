// Writes the PPD compiler source (.drv) of the model 316 driver from the
// front-end kit's option table: one PPD per print head for which some
// combination of options prints. Every option choice sets its page-header
// field and the marker field; constraints forbid every combination the
// library refuses (asked through queryMode), and the defaults print.
//
// Usage: qx316_ppdgen OUT.drv [VERSION]
#include "mode.h"
#include "options.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using qx316::Choice;
using qx316::ModeInfo;
using qx316::OptionId;
using qx316::OptionInfo;
using qx316::PrintOptions;

constexpr int kDpi = 600;
// Unprintable strip on each edge of the sheet, in points (0.125 in).
constexpr int kMarginPt = 9;
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

// True when a choice of ColorMode asks for black only.
bool blackOnly(const PrintOptions &o) { return o.colorMode != 0; }

// What the PPD may offer: the library prints it, and a black-only request
// really prints black only.
bool prints(const PrintOptions &o, ModeInfo *info = nullptr) {
    const ModeInfo m = qx316::queryMode(o);
    if (info)
        *info = m;
    if (!m.problem.empty())
        return false;
    return !(blackOnly(o) && m.planeMode != 1);
}

// The options that vary within one PPD, in table order, with every choice.
struct Space {
    std::vector<OptionId> ids;
    std::vector<std::vector<int>> codes; // codes[d]: the codes of dimension d
};

Space optionSpace() {
    Space s;
    for (const OptionInfo &entry : qx316::optionTable()) {
        if (entry.id == OptionId::Head)
            continue;
        std::vector<int> codes;
        if (entry.id == OptionId::FormLength) {
            for (const Choice &c : formLengthChoices())
                codes.push_back(c.code);
        } else {
            for (const Choice &c : entry.choices)
                codes.push_back(c.code);
        }
        s.ids.push_back(entry.id);
        s.codes.push_back(codes);
    }
    return s;
}

// Every combination of one head: index vector -> prints or not.
struct Grid {
    const Space *space;
    int head;
    std::vector<size_t> stride;
    std::vector<char> ok;
    size_t size = 1;

    Grid(const Space &s, int h) : space(&s), head(h) {
        for (const auto &c : s.codes) {
            stride.push_back(size);
            size *= c.size();
        }
        ok.resize(size);
        std::vector<int> idx(s.codes.size());
        for (size_t n = 0; n < size; ++n) {
            decode(n, idx);
            ok[n] = prints(options(idx));
        }
    }
    void decode(size_t n, std::vector<int> &idx) const {
        for (size_t d = 0; d < idx.size(); ++d)
            idx[d] = int((n / stride[d]) % space->codes[d].size());
    }
    PrintOptions options(const std::vector<int> &idx) const {
        PrintOptions o;
        qx316::setOptionCode(o, OptionId::Head, head);
        for (size_t d = 0; d < idx.size(); ++d)
            qx316::setOptionCode(o, space->ids[d], space->codes[d][size_t(idx[d])]);
        return o;
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
    const size_t dims = g.space->codes.size();
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
                if (!known) {
                    bool anyPrints = false;
                    std::vector<int> idx(dims);
                    for (size_t n = 0; n < g.size && !anyPrints; ++n) {
                        if (!g.ok[n])
                            continue;
                        g.decode(n, idx);
                        bool match = true;
                        for (size_t d : ds)
                            match = match && idx[d] == p[d];
                        // Only offered choices count for the free dimensions.
                        for (size_t d = 0; d < dims && match; ++d)
                            match = offered[d][size_t(idx[d])] != 0;
                        anyPrints = match;
                    }
                    if (!anyPrints)
                        out.push_back(p);
                }
                size_t i = 0;
                for (; i < ds.size(); ++i) {
                    if (++at[i] < int(g.space->codes[ds[i]].size()))
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
    const int code = s.codes[d][size_t(index)];
    if (s.ids[d] == OptionId::FormLength)
        return std::to_string(code);
    return qx316::choiceByCode(s.ids[d], code)->keyword;
}

// The printing combination closest to the table's defaults (fewest options
// changed; the first in table order among equals).
bool defaultCombination(const Grid &g, std::vector<int> &best) {
    const Space &s = *g.space;
    std::vector<int> want(s.ids.size());
    for (size_t d = 0; d < s.ids.size(); ++d) {
        const int code = qx316::optionInfo(s.ids[d]).defaultCode;
        const auto it = std::find(s.codes[d].begin(), s.codes[d].end(), code);
        want[d] = it == s.codes[d].end() ? 0 : int(it - s.codes[d].begin());
    }
    size_t bestDist = s.ids.size() + 1;
    std::vector<int> idx(s.ids.size());
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
    return bestDist <= s.ids.size();
}

// ColorModel choices also set the raster the filter receives: 8-bit sRGB for
// colour, 8-bit luminance (SW) for black only, chunky.
std::string colorModelCode(const OptionInfo &entry, int code) {
    const int colorSpace = code == 0 ? 19 /* CUPS_CSPACE_SRGB */ : 18 /* CUPS_CSPACE_SW */;
    return "<</cupsColorSpace " + std::to_string(colorSpace) + "/cupsColorOrder 0/cupsBitsPerColor 8/" +
           entry.rasterField + " " + std::to_string(code) + "/" + qx316::kRasterMarkerField + " " +
           std::to_string(qx316::kRasterMarkerValue) + ">>setpagedevice";
}

std::string choiceCode(const OptionInfo &entry, int code) {
    return entry.id == OptionId::ColorMode ? colorModelCode(entry, code) : fieldCode(entry, code);
}

// One model: the PPD of one print head.
bool writeModel(std::ostream &out, const Space &s, const Choice &head) {
    const Grid g(s, head.code);
    if (!g.any())
        return false;

    // Choices offered: those that print in some combination.
    const size_t dims = s.ids.size();
    std::vector<std::vector<char>> offered(dims);
    for (size_t d = 0; d < dims; ++d)
        offered[d].assign(s.codes[d].size(), 0);
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
    const PrintOptions context = g.options(def);

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
        const OptionInfo &entry = qx316::optionInfo(s.ids[d]);
        std::vector<PpdChoice> choices;
        for (size_t i = 0; i < s.codes[d].size(); ++i) {
            if (!offered[d][i])
                continue;
            const int code = s.codes[d][i];
            std::string text;
            if (entry.id == OptionId::FormLength)
                text = formLengthText(code);
            else
                text = qx316::choiceName(entry.id, *qx316::choiceByCode(entry.id, code), context);
            choices.push_back({keywordOf(s, d, int(i)), text, code});
        }
        for (PpdChoice &c : choices)
            c.text = ppdText(c.text);
        const int thisOrder = entry.id == OptionId::ColorMode ? kColorModelOrder : ++order;
        out << "  Option \"" << entry.keyword << "/" << ppdText(entry.name) << "\" PickOne AnySetup " << thisOrder
            << "\n";
        const std::string defKeyword = keywordOf(s, d, def[d]);
        for (const PpdChoice &c : choices)
            out << "    " << (c.keyword == defKeyword ? "*" : "") << "Choice \"" << c.keyword << "/" << c.text
                << "\" \"" << choiceCode(entry, c.code) << "\"\n";
    }

    // Two-option sets as UIConstraints (older dialogs know only these), the
    // longer ones as cupsUIConstraints.
    for (const Partial &p : refusedSets(g, offered)) {
        std::string line;
        int n = 0;
        for (size_t d = 0; d < dims; ++d) {
            if (p[d] < 0)
                continue;
            line += (n++ ? " *" : "*") + std::string(qx316::optionInfo(s.ids[d]).keyword) + " " +
                    keywordOf(s, d, p[d]);
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
