// What rastertoqx316 makes of a job's options: the fifth argument read by the
// PPD keywords and by CUPS's and IPP's names with their standard meaning,
// the page header's print-quality level, and the quality and colour mode a
// request resolves to (the printer application's choice).
#include "caps.h"
#include "colour.h"
#include "filter_raster.h"
#include "filter_support.h"

#include "mode.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

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

// Colour management: the ink profile comes from the PPD's QXInkProfile
// entry for the page (the built-in model's when there is none, or when the
// one named cannot be used: a warning, and the job prints), the intent from
// print-rendering-intent (an unknown one: a warning, and auto).
TEST(FilterOptions, IccProfileAndIntent) {
    const int w = 96, h = 32;
    const cups_page_header2_t head = qxtest::pageHeader(CUPS_CSPACE_SRGB, 8, CUPS_ORDER_CHUNKED, w, h);
    const std::string raster = qxtest::writeRaster(
        {{head, qxtest::pageBytes(head, [](int c, int x, int y) {
              return unsigned(c == 0 ? x * 2 : c == 1 ? 255 - x * 2 : y * 6);
          })}});
    const std::vector<uint8_t> &model = qx316::modelProfile(0, true);
    char modelPath[] = "/tmp/qx316-model-XXXXXX", junkPath[] = "/tmp/qx316-junk-XXXXXX";
    const int mfd = mkstemp(modelPath), jfd = mkstemp(junkPath);
    ASSERT_TRUE(mfd >= 0 && jfd >= 0);
    ASSERT_EQ(write(mfd, model.data(), model.size()), ssize_t(model.size()));
    ASSERT_EQ(write(jfd, "not a profile", 13), 13);
    close(mfd);
    close(jfd);
    const auto ppdWith = [](const std::string &lines) {
        const std::string text = "*PPD-Adobe: \"4.3\"\n" + lines;
        return qxtest::writeBytes(std::vector<uint8_t>(text.begin(), text.end()));
    };
    const std::string modelPpd = ppdWith(std::string("*QXInkProfile RGB.m0.600dpi/Model: \"") + modelPath + "\"\n");
    const std::string junkPpd = ppdWith(std::string("*QXInkProfile RGB.m0.600dpi/Junk: \"") + junkPath + "\"\n");
    const std::string otherMediaPpd =
        ppdWith(std::string("*QXInkProfile RGB.m7.600dpi/Junk: \"") + junkPath + "\"\n" +
                "*QXInkProfile RGB.-.600dpi/Model: \"" + modelPath + "\"\n");
    enum Stream { Default, Other };
    const struct {
        const char *name;
        const std::string *ppd;
        const char *options;
        Stream stream;
        bool warns;
    } cases[] = {
        {"no PPD", nullptr, "", Default, false},
        {"the model's profile named", &modelPpd, "", Default, false},
        {"a damaged profile named", &junkPpd, "", Default, true},
        {"the media's entry wins over a wildcard", &otherMediaPpd, "", Default, false},
        {"relative colorimetric", nullptr, "print-rendering-intent=relative", Other, false},
        {"an unknown intent", nullptr, "print-rendering-intent=vivid", Default, true},
    };
    std::vector<uint8_t> byDefault;
    for (const auto &c : cases) {
        if (c.ppd)
            setenv("PPD", c.ppd->c_str(), 1);
        else
            unsetenv("PPD");
        const qxtest::FilterResult r = qxtest::runFilterProgram(raster, c.options);
        unsetenv("PPD");
        ASSERT_TRUE(r.exited && r.status == 0) << c.name << ": " << r.first("ERROR");
        EXPECT_EQ(r.count("WARNING") > 0, c.warns) << c.name << ": " << r.first("WARNING");
        if (byDefault.empty())
            byDefault = r.out;
        if (c.stream == Default)
            EXPECT_EQ(r.out, byDefault) << c.name;
        else
            EXPECT_NE(r.out, byDefault) << c.name;
    }
    for (const std::string *p : {&modelPpd, &junkPpd, &otherMediaPpd})
        unlink(p->c_str());
    unlink(modelPath);
    unlink(junkPath);
    unlink(raster.c_str());
}
