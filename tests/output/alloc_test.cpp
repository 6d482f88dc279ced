// Every allocation of a whole job failing in turn: the failing call reports
// exhausted memory and changes nothing, the retried call goes on, the stream
// is byte for byte the one of a run without failures, and closing the job
// gives back every block.
#include <gtest/gtest.h>

#include <functional>

#include "alloc_seam.h"
#include "job_driver.h"
#include "job_state.h"
#include "page_check.h"

namespace qxtest {
namespace {

struct JobPlan {
    PrintParams params;
    bool banner;
    std::vector<std::vector<Line>> pages;
};

JobPlan makePlan(const PrintParams &params, bool banner) {
    JobPlan plan{params, banner, {}};
    JobDriver probe;
    probe.start(params);
    EXPECT_EQ(probe.initPart(params), 0);
    const PlaneSetup setup = readSetup(probe.context());
    std::mt19937 rng(7);
    for (int page = 0; page < 2; ++page) plan.pages.push_back(makePage(setup, 90, 200, rng));
    return plan;
}

// Runs one call; on exhausted memory checks that the job is unchanged and
// runs it again (the seam fails a single allocation).
int callRetrying(JobDriver &job, int *failures, const std::function<int()> &call) {
    const JobState before = JobState::of(job.job);
    int r = call();
    if (r == QXDRO_ERR_MEMORY) {
        ++*failures;
        EXPECT_TRUE(JobState::of(job.job) == before) << "a failed call changed the job";
        r = call();
    }
    return r;
}

// The whole job; returns the stream, counting the calls that failed.
std::vector<uint8_t> runJob(const JobPlan &plan, int *failures) {
    JobDriver job;
    int r = OutputOpen(&job.job);
    if (r == QXDRO_ERR_OPEN) {
        EXPECT_EQ(job.job, nullptr);
        ++*failures;
        r = OutputOpen(&job.job);
    }
    EXPECT_EQ(r, QXDRO_OPENED);
    EXPECT_EQ(OutputInitTwo(&job.job, &plan.params, 316), 0);
    for (const std::vector<Line> &page : plan.pages) {
        EXPECT_EQ(callRetrying(job, failures, [&] { return job.initPart(plan.params); }), 0);
        for (const Line &line : page) {
            const RasterLineRecord rec = makeRecord(line);
            QXVSHandle list = nullptr;
            EXPECT_EQ(callRetrying(job, failures, [&] { return OutputProduceTwo(&job.job, &rec, &list); }), 0);
            job.take(list);
            EXPECT_EQ(job.complete(), 0);
        }
        QXVSHandle list = nullptr;
        EXPECT_EQ(callRetrying(job, failures,
                               [&] { return plan.banner ? OutputFormFeed(&job.job, &list, 60) : OutputFlush(&job.job, &list); }),
                  0);
        job.take(list);
        EXPECT_EQ(job.complete(), 0);
    }
    if (plan.banner) {
        EXPECT_EQ(job.flush(), 0);
    }
    return job.stream;
}

class EveryAllocationFails : public ::testing::TestWithParam<int> {};

TEST_P(EveryAllocationFails, JobUnchangedAndStreamIdentical) {
    const bool banner = GetParam() == 1;
    const JobPlan plan = banner ? makePlan(makeParams(3, 0, 0, 0, 0, true), true) : makePlan(makeParams(5, 0), false);
    const long baseline = liveBlocks();
    int none = 0;
    armAllocFailure(0);
    const std::vector<uint8_t> reference = runJob(plan, &none);
    const long allocations = allocCalls();
    ASSERT_EQ(none, 0);
    ASSERT_EQ(liveBlocks(), baseline);
    ASSERT_GT(allocations, 20);
    for (long n = 1; n <= allocations; ++n) {
        int failures = 0;
        std::vector<uint8_t> stream;
        {
            AllocFailure failAt(n);
            stream = runJob(plan, &failures);
        }
        ASSERT_EQ(failures, 1) << "allocation " << n;
        ASSERT_EQ(stream, reference) << "allocation " << n;
        ASSERT_EQ(liveBlocks(), baseline) << "allocation " << n << " leaked";
    }
}

INSTANTIATE_TEST_SUITE_P(PaperPaths, EveryAllocationFails, ::testing::Values(0, 1),
                         [](const auto &info) { return info.param ? "banner_mode5" : "cut_mode9_paired"; });

TEST(OpenFailures, EveryAllocationOfOpenFailingLeavesNothing) {
    const long baseline = liveBlocks();
    for (long n = 1; n <= 5; ++n) {
        QXVSHandle h = reinterpret_cast<QXVSHandle>(0x1);
        {
            AllocFailure failAt(n);
            EXPECT_EQ(OutputOpen(&h), QXDRO_ERR_OPEN) << "allocation " << n;
        }
        EXPECT_EQ(h, nullptr);
        EXPECT_EQ(liveBlocks(), baseline) << "allocation " << n;
    }
    QXVSHandle h = nullptr;
    ASSERT_EQ(OutputOpen(&h), QXDRO_OPENED);
    OutputClose(&h);
    OutputClose(&h);  // a second close on the nulled variable does nothing
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(liveBlocks(), baseline);
}

}  // namespace
}  // namespace qxtest
