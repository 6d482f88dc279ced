// Whole jobs pinned as golden byte streams: every reachable plane mode on
// cut sheets and on banner paper, with blank lines, skipped lines and bands,
// a jump of many bands, line-less produces, and refused calls in between
// (which must change nothing). The same bytes are expected in every tree.
// QX_RECORD_GOLDEN=DIR writes the streams as they are now into DIR instead
// (only when a change of bytes is intended).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "hex.h"
#include "job_driver.h"
#include "mode_cases.h"
#include "page_check.h"

namespace qxtest {
namespace {

std::vector<uint8_t> runJob(const ModeCase &c, bool banner) {
    const PrintParams params = makeParams(c.quality, c.media, c.head, c.colorMode, c.composite, banner);
    JobDriver job;
    job.start(params);
    std::mt19937 rng(0x316 + (banner ? 1 : 0));
    for (int page = 0; page < 2; ++page) {
        EXPECT_EQ(job.initPart(params), 0);
        const PlaneSetup setup = readSetup(job.context());
        std::vector<Line> lines = makePage(setup, 120 + 61 * page, 150, rng);
        EXPECT_FALSE(lines.empty());
        if (lines.empty())
            return {};
        // A line far below the others: many blank bands skipped at once.
        Line far = lines.back();
        far.number += 40 * setup.bandHeight + 3;
        lines.push_back(far);
        for (size_t i = 0; i < lines.size(); ++i) {
            // Refused calls between the lines change nothing.
            if (i % 17 == 5) {
                EXPECT_EQ(job.complete(), QXDRO_ERR_STATE);
                EXPECT_NE(OutputInitTwo(&job.job, &params, QXDRO_MODEL_CODE), 0);
            }
            if (i % 23 == 9 && OutputProduce(&job.job) == 0) {
                EXPECT_EQ(job.complete(), 0);
            }
            EXPECT_EQ(job.produce(lines[i]), 0) << c.name << " line " << lines[i].number;
        }
        const int end = banner ? job.formFeed(150 + 41 * setup.bandHeight) : job.flush();
        EXPECT_EQ(end, 0);
    }
    if (banner) {
        EXPECT_EQ(job.flush(), 0);
    }
    return job.stream;
}

std::string goldenPath(const std::string &name) { return std::string(QX_GOLDEN_DIR) + "/" + name + ".bin"; }

class Golden : public ::testing::TestWithParam<ModeCase> {};

TEST_P(Golden, StreamsAreByteForByteAsRecorded) {
    const ModeCase &c = GetParam();
    for (bool banner : {false, true}) {
        const std::string name = std::string(c.name) + (banner ? "_banner" : "_cut");
        const std::vector<uint8_t> got = runJob(c, banner);
        if (const char *dir = std::getenv("QX_RECORD_GOLDEN")) {
            std::ofstream(std::string(dir) + "/" + name + ".bin", std::ios::binary)
                .write(reinterpret_cast<const char *>(got.data()), std::streamsize(got.size()));
            continue;
        }
        std::ifstream in(goldenPath(name), std::ios::binary);
        ASSERT_TRUE(in) << "no golden stream " << goldenPath(name);
        const std::vector<uint8_t> want((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_TRUE(got == want) << name << ": " << hexDifference(want, got);
    }
}

INSTANTIATE_TEST_SUITE_P(Jobs, Golden, ::testing::ValuesIn(kModeCases),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qxtest
