// The generated PPDs as CUPS reads them: libcups parses each PPD, marks every
// combination of the driver's options, reports its constraints and runs the
// choices' PostScript into a page header, as the raster filters before
// rastertoqx316 do. Checks, for every PPD given:
//  - each choice stores its code in its option's page-header field and sets
//    the marker field (cupsPrintQuality: its level);
//  - the defaults are free of conflicts and print;
//  - a combination is free of conflicts exactly when the library prints it
//    as the filter resolves it (print_request.h: the level picks the quality,
//    monochrome is black only where the media allows it, else gray);
//  - the header carries 600 dpi, 8-bit chunky sRGB (colour) or SW (black).
// Usage: system_ppd_options PPD_OR_FOLDER...   (a folder: every *.ppd in it)
#include "mode.h"
#include "options.h"
#include "print_request.h"

#include <cups/ppd.h>
#include <cups/raster.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

// libcups's interpreter of PPD set-up code, as cupsRasterInterpretPPD uses
// it; called here for one choice's code at a time.
extern "C" int _cupsRasterExecPS(cups_page_header2_t *h, int *preferred_bits, const char *code);

namespace {

int failures = 0;

void fault(const std::string &ppd, const std::string &what) {
    if (++failures <= 40)
        std::printf("%s: %s\n", ppd.c_str(), what.c_str());
}

// The page-header field named in the option table.
bool headerField(const cups_page_header2_t &h, const char *name, int &value) {
    if (std::strcmp(name, "cupsMediaType") == 0) {
        value = int(h.cupsMediaType);
        return true;
    }
    int n = -1;
    if (std::sscanf(name, "cupsInteger%d", &n) == 1 && n >= 0 && n < 16) {
        value = int(h.cupsInteger[n]);
        return true;
    }
    return false;
}

// The request a page header makes, as rastertoqx316 reads it.
bool optionsFromHeader(const cups_page_header2_t &h, qx316::cupsfilter::PrintRequest &r, std::string &why) {
    int marker = 0;
    headerField(h, qx316::kRasterMarkerField, marker);
    if (marker != qx316::kRasterMarkerValue) {
        why = "marker field not set";
        return false;
    }
    for (const qx316::OptionInfo &entry : qx316::optionTable()) {
        int v = 0;
        if (!headerField(h, entry.rasterField, v)) {
            why = std::string("unknown header field ") + entry.rasterField;
            return false;
        }
        qx316::setOptionCode(r.options, entry.id, v);
    }
    headerField(h, qx316::cupsfilter::kLevelField, r.level);
    return true;
}

bool printsAsChosen(const qx316::cupsfilter::PrintRequest &r, std::string &why) {
    qx316::PrintOptions o;
    if (!qx316::cupsfilter::resolveRequest(r, o, why))
        return false;
    const qx316::ModeInfo m = qx316::queryMode(o);
    why = m.problem;
    return m.problem.empty();
}

std::string describe(const std::vector<ppd_option_t *> &opts, const std::vector<int> &at) {
    std::string s;
    for (size_t i = 0; i < opts.size(); ++i)
        s += std::string(i ? " " : "") + opts[i]->keyword + "=" + opts[i]->choices[at[i]].choice;
    return s;
}

void checkHeaderFormat(const std::string &name, const cups_page_header2_t &h,
                       const qx316::cupsfilter::PrintRequest &r, const std::string &where) {
    const unsigned wantSpace = r.options.colorMode == 0 ? CUPS_CSPACE_SRGB : CUPS_CSPACE_SW;
    if (h.HWResolution[0] != 600 || h.HWResolution[1] != 600)
        fault(name, where + ": resolution is not 600 dpi");
    if (h.cupsBitsPerColor != 8 || h.cupsColorOrder != CUPS_ORDER_CHUNKED || h.cupsColorSpace != wantSpace)
        fault(name, where + ": raster is " + std::to_string(h.cupsBitsPerColor) + "-bit, order " +
                        std::to_string(h.cupsColorOrder) + ", colour space " + std::to_string(h.cupsColorSpace));
}

void checkPpd(const char *path) {
    const std::string name = path;
    ppd_file_t *ppd = ppdOpenFile(path);
    if (!ppd) {
        int line = 0;
        fault(name, std::string("libcups cannot read it: ") + ppdErrorString(ppdLastError(&line)));
        return;
    }

    // Every choice of every driver option, alone: its field and the marker.
    std::vector<ppd_option_t *> opts;
    for (const qx316::OptionInfo &entry : qx316::optionTable()) {
        ppd_option_t *opt = ppdFindOption(ppd, entry.keyword);
        if (!opt) {
            fault(name, std::string("no option ") + entry.keyword);
            continue;
        }
        for (int c = 0; c < opt->num_choices; ++c) {
            const ppd_choice_t &ch = opt->choices[c];
            cups_page_header2_t h;
            std::memset(&h, 0, sizeof h);
            int bits = 0;
            int value = -1, marker = -1;
            const qx316::Choice *known = qx316::findChoice(entry.id, ch.choice);
            const int want = known ? known->code : std::atoi(ch.choice);
            if (_cupsRasterExecPS(&h, &bits, ch.code) != 0 || !headerField(h, entry.rasterField, value) ||
                !headerField(h, qx316::kRasterMarkerField, marker) || value != want ||
                marker != qx316::kRasterMarkerValue)
                fault(name, std::string(entry.keyword) + " " + ch.choice + ": code \"" + ch.code + "\" sets " +
                                entry.rasterField + " to " + std::to_string(value) + " (want " +
                                std::to_string(want) + ") and the marker to " + std::to_string(marker));
        }
        if (entry.id != qx316::OptionId::Head)
            opts.push_back(opt);
    }
    // cupsPrintQuality: each choice stores its level.
    if (ppd_option_t *opt = ppdFindOption(ppd, qx316::cupsfilter::kLevelKeyword)) {
        for (int c = 0; c < opt->num_choices; ++c) {
            const ppd_choice_t &ch = opt->choices[c];
            cups_page_header2_t h;
            std::memset(&h, 0, sizeof h);
            int bits = 0, value = -1, marker = -1, want = -1;
            if (!qx316::cupsfilter::levelFromChoice(ch.choice, want) || _cupsRasterExecPS(&h, &bits, ch.code) != 0 ||
                !headerField(h, qx316::cupsfilter::kLevelField, value) ||
                !headerField(h, qx316::kRasterMarkerField, marker) || value != want ||
                marker != qx316::kRasterMarkerValue)
                fault(name, std::string(opt->keyword) + " " + ch.choice + ": code \"" + ch.code + "\" sets " +
                                qx316::cupsfilter::kLevelField + " to " + std::to_string(value) + " (want " +
                                std::to_string(want) + ") and the marker to " + std::to_string(marker));
        }
        opts.insert(opts.begin(), opt);
    } else {
        fault(name, std::string("no option ") + qx316::cupsfilter::kLevelKeyword);
    }

    // The defaults.
    ppdMarkDefaults(ppd);
    if (const int n = ppdConflicts(ppd))
        fault(name, "the defaults have " + std::to_string(n) + " conflicts");
    cups_page_header2_t h;
    std::string why;
    qx316::cupsfilter::PrintRequest o;
    if (cupsRasterInterpretPPD(&h, ppd, 0, nullptr, nullptr) != 0)
        fault(name, std::string("defaults: libcups cannot interpret the set-up code: ") + cupsRasterErrorString());
    else if (!optionsFromHeader(h, o, why) || !printsAsChosen(o, why))
        fault(name, "the defaults do not print: " + why);
    else
        checkHeaderFormat(name, h, o, "defaults");

    // Every combination of the options' choices.
    std::vector<int> at(opts.size(), 0);
    long combos = 0, allowed = 0;
    for (;;) {
        ppdMarkDefaults(ppd);
        for (size_t i = 0; i < opts.size(); ++i)
            ppdMarkOption(ppd, opts[i]->keyword, opts[i]->choices[at[i]].choice);
        const bool conflict = ppdConflicts(ppd) > 0;
        qx316::cupsfilter::PrintRequest po;
        std::string reason;
        bool prints = false;
        if (cupsRasterInterpretPPD(&h, ppd, 0, nullptr, nullptr) != 0)
            reason = std::string("libcups cannot interpret the set-up code: ") + cupsRasterErrorString();
        else if (optionsFromHeader(h, po, reason))
            prints = printsAsChosen(po, reason);
        ++combos;
        if (!conflict) {
            ++allowed;
            if (!prints)
                fault(name, describe(opts, at) + ": allowed by the constraints but does not print (" + reason + ")");
            else
                checkHeaderFormat(name, h, po, describe(opts, at));
        } else if (prints) {
            fault(name, describe(opts, at) + ": prints but the constraints forbid it");
        }
        size_t i = 0;
        for (; i < opts.size(); ++i) {
            if (++at[i] < opts[i]->num_choices)
                break;
            at[i] = 0;
        }
        if (i == opts.size())
            break;
    }
    std::printf("%s: %ld combinations, %ld allowed by the constraints\n", path, combos, allowed);
    if (allowed == 0)
        fault(name, "no combination is allowed");
    ppdClose(ppd);
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: system_ppd_options PPD_OR_FOLDER...\n");
        return 2;
    }
    std::vector<std::string> ppds;
    for (int i = 1; i < argc; ++i) {
        std::error_code ec;
        if (std::filesystem::is_directory(argv[i], ec)) {
            for (const auto &e : std::filesystem::directory_iterator(argv[i], ec))
                if (e.path().extension() == ".ppd")
                    ppds.push_back(e.path().string());
        } else {
            ppds.push_back(argv[i]);
        }
    }
    std::sort(ppds.begin(), ppds.end());
    if (ppds.empty()) {
        std::printf("no PPDs given\n");
        return 1;
    }
    for (const std::string &p : ppds)
        checkPpd(p.c_str());
    if (failures)
        std::printf("%d faults\n", failures);
    return failures ? 1 : 0;
}
