// What rastertoqx316 makes of a job's options: the fifth argument read by the
// PPD keywords and by CUPS's and IPP's names with their standard meaning,
// the page header's print-quality level, and the quality and colour mode a
// request resolves to (the printer application's choice).
#include "caps.h"
#include "filter_raster.h"
#include "filter_support.h"

#include "mode.h"

#include <gtest/gtest.h>

using qx316::OptionId;
using qx316::cupsfilter::PrintRequest;

namespace {

struct JobCase {
    const char *options;
    int media;     // media code asked for
    int colorMode; // 1: monochrome
    int level;
};

PrintRequest parsed(const char *options, std::string *unused = nullptr) {
    PrintRequest r;
    std::string err;
    EXPECT_TRUE(qx316::cupsfilter::jobOptions(options, r, err, unused)) << options << ": " << err;
    return r;
}

} // namespace

// Sizes, sources and the qx316 tool's names change nothing; a part of media
// or media-type that names a media choice selects it; print-color-mode and
// print-quality ask for monochrome and a level; the PPD keywords win.
TEST(FilterOptions, JobOptionsReadByTheirStandardMeaning) {
    const int defaultQuality = qx316::optionInfo(OptionId::Quality).defaultCode;
    const JobCase cases[] = {
        {"", 0, 0, 0},
        {"media=A4", 0, 0, 0},
        {"media=na_letter_8.5x11in PageSize=Legal PageRegion=Legal", 0, 0, 0},
        {"media=A4,m16", 16, 0, 0},
        {"media=iso_a4_210x297mm,m7,tray-1 media-type=m16", 16, 0, 0},
        {"media-type=stationery", 0, 0, 0},
        {"MediaType=m7 media=A4,m16 media-type=m1", 7, 0, 0},
        {"print-color-mode=monochrome", 0, 1, 0},
        {"print-color-mode=monochrome ColorModel=RGB", 0, 0, 0},
        {"print-color-mode=color ColorModel=Gray", 0, 1, 0},
        {"print-quality=3", 0, 0, 3},
        {"print-quality=7", 0, 0, 0},
        {"cupsPrintQuality=high", 0, 0, 5},
        {"cupsPrintQuality=ByCode", 0, 0, 0},
        {"cupsPrintQuality=Best", 0, 0, 0},
        {"quality=q3 media=A4 color-mode=Gray head=h2 copies=2 Collate=True page-ranges=1 number-up=2 "
         "orientation-requested=4 fit-to-page sides=one-sided job-sheets=none print-scaling=fit output-order=reverse",
         0, 0, 0},
    };
    for (const JobCase &c : cases) {
        SCOPED_TRACE(c.options);
        const PrintRequest r = parsed(c.options);
        EXPECT_EQ(r.options.quality, defaultQuality);
        EXPECT_EQ(r.options.media, c.media);
        EXPECT_EQ(r.options.colorMode, c.colorMode);
        EXPECT_EQ(r.level, c.level);
    }
    std::string unused;
    parsed(cases[std::size(cases) - 1].options, &unused);
    for (const char *name : {"quality", "color-mode", "head", "copies", "number-up", "fit-to-page", "output-order"})
        EXPECT_NE((" " + unused + " ").find(std::string(" ") + name + " "), std::string::npos) << name << ": " << unused;
    EXPECT_EQ((" " + unused + " ").find(" media "), std::string::npos) << unused;
}

// A page header with the marker carries the level; 0 keeps the job's.
TEST(FilterOptions, HeaderLevelWinsOverTheJobs) {
    PrintRequest job;
    job.level = qx316::cupsfilter::kDraft;
    cups_page_header2_t h = qxtest::pageHeader(CUPS_CSPACE_SW, 8, CUPS_ORDER_CHUNKED, 8, 1);
    PrintRequest page;
    std::string err;
    ASSERT_TRUE(qx316::cupsfilter::pageOptions(h, job, page, err)) << err;
    EXPECT_EQ(page.level, job.level) << "no marker";
    h.cupsInteger[0] = qx316::kRasterMarkerValue;
    h.cupsInteger[1] = unsigned(qx316::optionInfo(OptionId::Quality).defaultCode);
    for (unsigned level : {0u, 5u}) {
        h.cupsInteger[7] = level;
        ASSERT_TRUE(qx316::cupsfilter::pageOptions(h, job, page, err)) << err;
        EXPECT_EQ(page.level, level ? int(level) : job.level);
    }
    h.cupsInteger[7] = 7;
    EXPECT_FALSE(qx316::cupsfilter::pageOptions(h, job, page, err));
    EXPECT_NE(err.find("cupsPrintQuality level 7"), std::string::npos) << err;
}

// Draft, normal and high, in colour and in monochrome, pick the quality code
// and colour mode that the printer application picks, and refuse what it
// refuses, for every head, media, composite and paper choice.
TEST(FilterOptions, LevelsResolveAsInThePrinterApplication) {
    const qx316::app::IppQuality ipp[] = {qx316::app::IppQuality::Draft, qx316::app::IppQuality::Normal,
                                          qx316::app::IppQuality::High};
    for (const qx316::Choice &head : qx316::optionInfo(OptionId::Head).choices)
        for (const qx316::Choice &media : qx316::optionInfo(OptionId::Media).choices)
            for (int flags = 0; flags < 8; ++flags)
                for (int l = 0; l < 3; ++l) {
                    qx316::app::Request a;
                    a.head = head.code;
                    a.media = media.code;
                    a.monochrome = flags & 1;
                    a.composite = flags & 2;
                    a.banner = flags & 4;
                    a.quality = ipp[l];
                    const qx316::app::Resolved want = qx316::app::resolve(a);
                    PrintRequest r;
                    r.options.head = a.head;
                    r.options.media = a.media;
                    r.options.colorMode = a.monochrome ? 1 : 0;
                    r.options.composite = a.composite;
                    r.options.banner = a.banner;
                    r.level = qx316::cupsfilter::kDraft + l;
                    qx316::PrintOptions got;
                    std::string why;
                    const bool ok = qx316::cupsfilter::resolveRequest(r, got, why);
                    SCOPED_TRACE(std::string(head.keyword) + " " + media.keyword + " flags " + std::to_string(flags) +
                                 " level " + std::to_string(r.level));
                    ASSERT_EQ(ok, want.problem.empty()) << why << " / " << want.problem;
                    if (ok) {
                        EXPECT_EQ(got.quality, want.options.quality);
                        EXPECT_EQ(got.colorMode, want.options.colorMode);
                    }
                }
}

// Without a level, monochrome keeps the quality code: black only where the
// media allows it, else gray on the colour mode.
TEST(FilterOptions, MonochromeIsGrayWhereBlackOnlyDoesNotPrint) {
    int blackOnly = 0, gray = 0;
    for (const qx316::Choice &media : qx316::optionInfo(OptionId::Media).choices) {
        PrintRequest r;
        r.options.media = media.code;
        r.options.colorMode = 1;
        qx316::PrintOptions got;
        std::string why;
        ASSERT_TRUE(qx316::cupsfilter::resolveRequest(r, got, why)) << why;
        EXPECT_EQ(got.quality, r.options.quality);
        const qx316::ModeInfo asked = qx316::queryMode(r.options);
        qx316::PrintOptions colour = r.options;
        colour.colorMode = 0;
        if (asked.problem.empty() && asked.planeMode == 1) {
            EXPECT_EQ(got.colorMode, 1) << media.keyword;
            ++blackOnly;
        } else if (qx316::queryMode(colour).problem.empty()) {
            EXPECT_EQ(got.colorMode, 0) << media.keyword;
            ++gray;
        }
    }
    EXPECT_GT(blackOnly, 0);
    EXPECT_GT(gray, 0);
}
