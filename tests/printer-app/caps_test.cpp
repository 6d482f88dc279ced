// What each print-head driver offers and what an IPP job's choices become,
// checked against the library through the kit's mode query.
#include "caps.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

using namespace qx316;
using namespace qx316::app;

namespace {

constexpr IppQuality kQualities[] = {IppQuality::Draft, IppQuality::Normal, IppQuality::High};

int tableIndex(int qualityCode) {
    int i = 0;
    for (const Choice &c : optionInfo(OptionId::Quality).choices) {
        if (c.code == qualityCode)
            return i;
        ++i;
    }
    return -1;
}

} // namespace

// Every combination of the values a driver offers prints: a job with
// offered values is never refused for their combination.
TEST(HeadOffer, EveryOfferedCombinationPrints) {
    for (int head = 0; head < 3; ++head) {
        const HeadCaps h = headCaps(head);
        ASSERT_FALSE(h.media.empty()) << "head " << head;
        for (const Choice *m : h.media)
            for (bool mono : {false, true})
                for (int comp = 0; comp < 2; ++comp) {
                    if ((!mono && !h.color) || !h.composite[comp])
                        continue;
                    for (IppQuality q : kQualities)
                        for (bool banner : {false, true}) {
                            Request r;
                            r.head = head;
                            r.media = m->code;
                            r.monochrome = mono;
                            r.composite = comp == 1;
                            r.quality = q;
                            r.banner = banner;
                            r.pageWidth = h.maxWidth;
                            const Resolved res = resolve(r);
                            EXPECT_EQ(res.problem, "") << "head " << head << " media " << m->keyword;
                            EXPECT_EQ(queryMode(res.options).problem, "");
                            EXPECT_EQ(res.options.head, head);
                            EXPECT_EQ(res.options.media, m->code);
                        }
                }
    }
}

// Media a head never prints are not offered, and the ones it offers are the
// table's keywords.
TEST(HeadOffer, MediaAreTheOnesThatPrint) {
    for (int head = 0; head < 3; ++head) {
        const HeadCaps h = headCaps(head);
        std::set<int> offered;
        for (const Choice *m : h.media)
            offered.insert(m->code);
        for (const Choice &m : optionInfo(OptionId::Media).choices) {
            bool anyBlack = false;
            for (const Choice &q : optionInfo(OptionId::Quality).choices) {
                for (int cm = 0; cm < 2; ++cm) {
                    PrintOptions o;
                    o.head = head;
                    o.media = m.code;
                    o.quality = q.code;
                    o.colorMode = cm;
                    anyBlack = anyBlack || queryMode(o).problem.empty();
                }
            }
            EXPECT_EQ(offered.count(m.code) == 1, anyBlack) << "head " << head << " media " << m.keyword;
        }
    }
}

// Head 2 prints black only on its media: colour is not offered, the
// default is monochrome, and a colour request gets a reason that says so.
TEST(HeadOffer, BlackOnlyHeadRefusesColourWithAReason) {
    const HeadCaps h = headCaps(2);
    EXPECT_FALSE(h.color);
    EXPECT_TRUE(h.defaultMonochrome);
    EXPECT_FALSE(h.composite[1]);
    Request r;
    r.head = 2;
    r.media = h.defaultMedia;
    const Resolved res = resolve(r);
    EXPECT_NE(res.problem.find("black only"), std::string::npos) << res.problem;
    EXPECT_NE(res.problem.find("monochrome"), std::string::npos) << res.problem;
    EXPECT_TRUE(headCaps(0).color);
    EXPECT_TRUE(headCaps(1).color);
}

// The widest page is one every offered mode takes; the named sizes fit it.
TEST(HeadOffer, WidestPageFitsEveryMode) {
    for (int head = 0; head < 3; ++head) {
        const HeadCaps h = headCaps(head);
        EXPECT_GE(h.maxWidth, 5100) << "Letter and Legal at 600 dpi, head " << head;
        // The limit is the narrowest offered mode's: one pixel more is too
        // wide for that mode, with words that say so.
        bool refused = false;
        for (const Choice *m : h.media)
            for (bool mono : {false, true})
                for (int comp = 0; comp < 2; ++comp)
                    for (IppQuality q : kQualities) {
                        if ((!mono && !h.color) || !h.composite[comp])
                            continue;
                        Request r;
                        r.head = head;
                        r.media = m->code;
                        r.monochrome = mono;
                        r.composite = comp == 1;
                        r.quality = q;
                        r.pageWidth = h.maxWidth + 1;
                        const Resolved res = resolve(r);
                        if (!res.problem.empty()) {
                            refused = true;
                            EXPECT_NE(res.problem.find("wide"), std::string::npos) << res.problem;
                        }
                    }
        EXPECT_TRUE(refused) << "head " << head;
    }
}

// Draft, normal and high follow the table's order of quality indexes among
// the codes that print: draft the lowest, high the highest.
TEST(QualityMap, OrderedAmongPrintingCodes) {
    for (int head = 0; head < 3; ++head) {
        const HeadCaps h = headCaps(head);
        for (const Choice *m : h.media)
            for (bool mono : {false, true}) {
                if (!mono && !h.color)
                    continue;
                Request r;
                r.head = head;
                r.media = m->code;
                r.monochrome = mono;
                int idx[3];
                for (int i = 0; i < 3; ++i) {
                    r.quality = kQualities[i];
                    const Resolved res = resolve(r);
                    ASSERT_EQ(res.problem, "");
                    idx[i] = tableIndex(res.options.quality);
                    ASSERT_GE(idx[i], 0);
                }
                EXPECT_LE(idx[0], idx[1]) << m->keyword;
                EXPECT_LE(idx[1], idx[2]) << m->keyword;
                // Draft is the lowest index that prints, high the highest.
                for (const Choice &q : optionInfo(OptionId::Quality).choices) {
                    PrintOptions o;
                    o.head = head;
                    o.media = m->code;
                    o.quality = q.code;
                    o.colorMode = resolve(r).options.colorMode;
                    const ModeInfo mi = queryMode(o);
                    if (mi.problem.empty() && (!resolve(r).blackOnly || mi.planeMode == 1)) {
                        EXPECT_LE(idx[0], tableIndex(q.code)) << m->keyword;
                        EXPECT_GE(idx[2], tableIndex(q.code)) << m->keyword;
                    }
                }
            }
    }
}

// On head 0, media 0 the three IPP qualities are three different codes.
TEST(QualityMap, ThreeCodesWhereThreePrint) {
    std::set<int> codes;
    for (IppQuality q : kQualities) {
        Request r;
        r.quality = q;
        codes.insert(resolve(r).options.quality);
    }
    EXPECT_EQ(codes.size(), 3u);
}

// Monochrome is black only (plane mode 1) where the library prints that,
// and gray on the colour mode where it does not.
TEST(ColourMode, MonochromeIsBlackOnlyWhereTheMediaAllows) {
    for (int head = 0; head < 3; ++head)
        for (const Choice *m : headCaps(head).media) {
            Request r;
            r.head = head;
            r.media = m->code;
            r.monochrome = true;
            const Resolved res = resolve(r);
            ASSERT_EQ(res.problem, "");
            PrintOptions black = res.options;
            black.colorMode = 1;
            const bool blackPrints = queryMode(black).problem.empty() && queryMode(black).planeMode == 1;
            if (res.blackOnly) {
                EXPECT_EQ(res.options.colorMode, 1);
                EXPECT_EQ(res.mode.planeMode, 1) << m->keyword;
            } else {
                EXPECT_EQ(res.options.colorMode, 0);
                EXPECT_FALSE(blackPrints) << "head " << head << " " << m->keyword
                                          << " prints black only at the chosen quality";
            }
        }
    Request r; // head 0, media 0: black only exists
    r.monochrome = true;
    EXPECT_TRUE(resolve(r).blackOnly);
}

// Banner form lengths: a page longer than an explicit form is refused, and
// a form length without banner paper is refused.
TEST(Banner, FormLengthAgainstThePage) {
    Request r;
    r.banner = true;
    r.formLength = 7016;
    r.pageLines = 7016;
    EXPECT_EQ(resolve(r).problem, "");
    r.pageLines = 7017;
    EXPECT_NE(resolve(r).problem.find("form length"), std::string::npos);
    r.banner = false;
    r.pageLines = 100;
    EXPECT_NE(resolve(r).problem.find("banner"), std::string::npos);
    r.formLength = 0;
    EXPECT_EQ(resolve(r).problem, "");
}

// Vendor attribute names come from the table's keywords.
TEST(VendorNames, FromTheTable) {
    EXPECT_EQ(ippName(OptionId::Composite), "qx-composite");
    EXPECT_EQ(ippName(OptionId::Paper), "qx-paper");
    EXPECT_EQ(ippName(OptionId::FormLength), "qx-form-length");
    EXPECT_EQ(ippName(OptionId::Media), "media-type");
}

// The names clients show: one line per media type and per vendor option
// and value, in the strings syntax PAPPL and CUPS read, the media class
// from the library.
TEST(ReadableNames, EveryChoiceNamedOnce) {
    const std::string text = ippStrings();
    std::map<std::string, std::string> names;
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find('\n', at);
        ASSERT_NE(end, std::string::npos) << "an unterminated line";
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        const size_t mid = line.find("\" = \"");
        ASSERT_TRUE(line.size() > 6 && line.front() == '"' && mid != std::string::npos &&
                    line.compare(line.size() - 2, 2, "\";") == 0)
            << line;
        const std::string key = line.substr(1, mid - 1);
        EXPECT_TRUE(names.emplace(key, line.substr(mid + 5, line.size() - mid - 7)).second) << "twice: " << key;
    }
    for (const Choice &m : optionInfo(OptionId::Media).choices)
        EXPECT_EQ(names[std::string("media-type.") + m.keyword],
                  "Media " + std::to_string(m.code) + " (class " + std::to_string(mediaClass(m.code)) + ")");
    // Codes of different classes, as the library maps them.
    EXPECT_EQ(names["media-type.m26"], "Media 26 (class 7)");
    EXPECT_EQ(names["media-type.m27"], "Media 27 (class 6)");
    EXPECT_EQ(names["media-type.m0"], "Media 0 (class 0)");
    for (OptionId id : {OptionId::Composite, OptionId::Paper, OptionId::FormLength}) {
        EXPECT_EQ(names[ippName(id)], optionInfo(id).name);
        for (const Choice &c : optionInfo(id).choices)
            EXPECT_EQ(names[ippName(id) + "." + c.keyword], c.label);
    }
}
