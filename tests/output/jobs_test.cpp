// Whole jobs through the exported calls, read back by the printer-side
// decoder: every inked line must appear at its line number with its bytes
// (or candidate dot patterns of its levels), on both paper paths.
#include <gtest/gtest.h>

#include "job_driver.h"
#include "mode_cases.h"
#include "page_check.h"

namespace qxtest {
namespace {

class WholeJob : public ::testing::TestWithParam<ModeCase> {};

TEST_P(WholeJob, CutPaperPagesDecodeToTheirLines) {
    const ModeCase &c = GetParam();
    const PrintParams params = makeParams(c.quality, c.media, c.head, c.colorMode, c.composite);
    JobDriver job;
    job.start(params);
    std::mt19937 rng(316);
    std::vector<std::vector<Line>> pages;
    PlaneSetup setup;
    for (int page = 0; page < 3; ++page) {
        ASSERT_EQ(job.initPart(params), 0);
        setup = readSetup(job.context());
        ASSERT_EQ(setup.planeMode, c.planeMode);
        pages.push_back(makePage(setup, 203 + 61 * page, 150, rng));
        for (const Line &line : pages.back()) ASSERT_EQ(job.produce(line), 0) << "line " << line.number;
        ASSERT_EQ(job.flush(), 0);
    }
    const qx316::DecodeResult d = qx316::decodeStream(job.stream.data(), job.stream.size());
    ASSERT_TRUE(d.ok) << d.error << " at " << d.errorOffset;
    ASSERT_EQ(d.pages.size(), pages.size());
    for (size_t i = 0; i < pages.size(); ++i) EXPECT_EQ(checkPage(setup, pages[i], d.pages[i]), "") << "page " << i;
}

TEST_P(WholeJob, BannerFormsDecodeInOrder) {
    const ModeCase &c = GetParam();
    const PrintParams params = makeParams(c.quality, c.media, c.head, c.colorMode, c.composite, true);
    JobDriver job;
    job.start(params);
    std::mt19937 rng(99);
    std::vector<std::vector<Line>> forms;
    PlaneSetup setup;
    const int formLines = 120;
    for (int form = 0; form < 3; ++form) {
        ASSERT_EQ(job.initPart(params), 0);
        setup = readSetup(job.context());
        forms.push_back(makePage(setup, 150, formLines, rng));
        for (const Line &line : forms.back()) ASSERT_EQ(job.produce(line), 0) << "line " << line.number;
        ASSERT_EQ(job.formFeed(formLines), 0);
    }
    ASSERT_EQ(job.flush(), 0);
    const qx316::DecodeResult d = qx316::decodeStream(job.stream.data(), job.stream.size());
    ASSERT_TRUE(d.ok) << d.error << " at " << d.errorOffset;
    ASSERT_EQ(d.pages.size(), 1u) << "banner paper is one continuous page";
    // Each form's lines follow the last band sent for the form before it.
    // Find each form's placement from its first inked line of the base plane.
    const std::vector<uint8_t> letters = planeLetters(setup.planeMode);
    int64_t offset = 0;
    int64_t previousEnd = 0;
    for (size_t f = 0; f < forms.size(); ++f) {
        std::vector<Line> inked;
        for (const Line &l : forms[f]) {
            bool any = false;
            for (const PlaneLine &pl : l.planes)
                for (uint8_t b : pl.bytes) any |= b != 0;
            if (any) inked.push_back(l);
        }
        ASSERT_FALSE(inked.empty());
        // The first printer line at or after previousEnd holding ink in any plane.
        int64_t firstRow = -1;
        for (const auto &plane : d.pages[0].planes) {
            auto it = plane.rows.lower_bound(previousEnd);
            if (it != plane.rows.end() && (firstRow < 0 || it->first < firstRow)) firstRow = it->first;
        }
        ASSERT_GE(firstRow, 0) << "form " << f << " missing";
        offset = firstRow - inked.front().number;
        EXPECT_EQ(offset % setup.bandHeight, 0);
        qx316::DecodedPage window = d.pages[0];
        for (auto &plane : window.planes) {
            const int64_t end = offset + formLines;
            std::erase_if(plane.rows, [&](const auto &r) { return r.first < offset || r.first >= end; });
        }
        EXPECT_EQ(checkPage(setup, forms[f], window, offset), "") << "form " << f;
        previousEnd = offset + inked.back().number + 1;
    }
}

INSTANTIATE_TEST_SUITE_P(PlaneModes, WholeJob, ::testing::ValuesIn(kModeCases),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qxtest
