#include "caps.h"

#include <cctype>

namespace qx316::app {

namespace {

// The quality codes that print the request with this colour mode, in table
// order; black-only asks for plane mode 1 as well.
std::vector<int> printingQualities(const Request &r, int colorMode, bool blackOnly, std::string *firstProblem) {
    PrintOptions o;
    o.media = r.media;
    o.head = r.head;
    o.composite = r.composite;
    o.banner = r.banner;
    o.formLength = r.formLength;
    return qx316::printingQualities(o, colorMode, blackOnly, firstProblem);
}

std::string mediaWords(const Request &r) {
    const Choice *c = choiceByCode(OptionId::Media, r.media);
    return std::string("media type ") + (c ? c->keyword : std::to_string(r.media)) + " with print head " +
           std::to_string(r.head) + (r.composite ? " and composite printing" : "");
}

} // namespace

Resolved resolve(const Request &r) {
    Resolved out;
    std::string why;
    std::vector<int> codes;
    int colorMode = 0;
    if (r.monochrome) {
        codes = printingQualities(r, 1, true, nullptr);
        if (!codes.empty()) {
            colorMode = 1;
            out.blackOnly = true;
        }
    }
    if (codes.empty())
        codes = printingQualities(r, 0, false, &why);
    if (codes.empty()) {
        if (!r.monochrome && !printingQualities(r, 1, true, nullptr).empty())
            out.problem = mediaWords(r) + " prints black only: choose print-color-mode monochrome";
        else
            out.problem = mediaWords(r) + " does not print in " + (r.monochrome ? "monochrome" : "colour") +
                          " at any quality (the library says: " + why + ")";
        return out;
    }
    PrintOptions &o = out.options;
    o.quality = pickQuality(codes, r.quality);
    o.media = r.media;
    o.head = r.head;
    o.colorMode = colorMode;
    o.composite = r.composite;
    o.banner = r.banner;
    o.formLength = r.formLength;
    out.mode = queryMode(o);
    if (!out.mode.problem.empty()) {
        out.problem = out.mode.problem;
        return out;
    }
    if (r.pageWidth > out.mode.maxWidth) {
        out.problem = "the page is " + std::to_string(r.pageWidth) + " pixels wide at 600 dpi; " + mediaWords(r) +
                      " prints at most " + std::to_string(out.mode.maxWidth);
        return out;
    }
    if (r.banner && r.formLength > 0 && r.pageLines > r.formLength) {
        out.problem = "the page is " + std::to_string(r.pageLines) + " lines long at 600 dpi, longer than the banner form length of " +
                      std::to_string(r.formLength) + " lines";
        return out;
    }
    if (!r.banner && r.formLength > 0) {
        out.problem = "a form length is for banner paper only (" + ippName(OptionId::Paper) + "=banner)";
        return out;
    }
    return out;
}

std::string ippName(OptionId id) {
    std::string s;
    const char *k = optionInfo(id).keyword;
    for (size_t i = 0; k[i]; ++i) {
        const unsigned char c = static_cast<unsigned char>(k[i]);
        // A capital after a small letter starts a word, and so does the last
        // capital of a run followed by a small letter ("QXPaper" -> qx-paper).
        const bool upper = std::isupper(c);
        if (upper && i > 0 &&
            (std::islower(static_cast<unsigned char>(k[i - 1])) ||
             (k[i + 1] && std::islower(static_cast<unsigned char>(k[i + 1])))))
            s += '-';
        s += char(std::tolower(c));
    }
    return s;
}

namespace {

void addString(std::string &out, const std::string &key, const std::string &text) {
    auto quoted = [](const std::string &v) {
        std::string q = "\"";
        for (char c : v) {
            if (c == '"' || c == '\\')
                q += '\\';
            q += c;
        }
        return q + "\"";
    };
    out += quoted(key) + " = " + quoted(text) + ";\n";
}

} // namespace

std::string ippStrings() {
    std::string out;
    for (const Choice &m : optionInfo(OptionId::Media).choices)
        addString(out, std::string("media-type.") + m.keyword,
                  "Media " + std::to_string(m.code) + " (class " + std::to_string(mediaClass(m.code)) + ")");
    for (OptionId id : {OptionId::Composite, OptionId::Paper, OptionId::FormLength}) {
        const OptionInfo &o = optionInfo(id);
        addString(out, ippName(id), o.name);
        for (const Choice &c : o.choices)
            addString(out, ippName(id) + "." + c.keyword, c.label);
    }
    return out;
}

namespace {

bool prints(int head, int media, bool monochrome, bool composite) {
    Request r;
    r.head = head;
    r.media = media;
    r.monochrome = monochrome;
    r.composite = composite;
    return resolve(r).problem.empty();
}

} // namespace

HeadCaps headCaps(int head) {
    // The offer is a whole product: every media type with every colour mode
    // and composite choice offered prints, so a job with offered values is
    // never refused for their combination. Media that print in monochrome
    // without composite printing come first; colour and composite printing
    // are offered where all of those media print them.
    HeadCaps h;
    h.head = head;
    for (const Choice &m : optionInfo(OptionId::Media).choices)
        if (prints(head, m.code, true, false))
            h.media.push_back(&m);
    if (h.media.empty())
        return h;
    h.color = true;
    h.composite[0] = true;
    h.composite[1] = true;
    for (const Choice *m : h.media)
        h.color = h.color && prints(head, m->code, false, false);
    for (const Choice *m : h.media)
        h.composite[1] = h.composite[1] && prints(head, m->code, true, true) &&
                         (!h.color || prints(head, m->code, false, true));
    h.defaultMedia = h.media.front()->code;
    for (const Choice *m : h.media)
        if (m->code == optionInfo(OptionId::Media).defaultCode)
            h.defaultMedia = m->code;
    h.defaultMonochrome = !h.color;
    // The widest page every offered combination takes.
    h.maxWidth = 32767;
    for (const Choice *m : h.media)
        for (int mono = 0; mono < 2; ++mono)
            for (int comp = 0; comp < 2; ++comp) {
                if ((!mono && !h.color) || !h.composite[comp])
                    continue;
                for (IppQuality q : {IppQuality::Draft, IppQuality::Normal, IppQuality::High}) {
                    Request r;
                    r.head = head;
                    r.media = m->code;
                    r.monochrome = mono == 1;
                    r.composite = comp == 1;
                    r.quality = q;
                    const Resolved res = resolve(r);
                    if (res.mode.maxWidth < h.maxWidth)
                        h.maxWidth = res.mode.maxWidth;
                }
            }
    return h;
}

} // namespace qx316::app
