// The job guard: which thread prints a job when PAPPL starts it twice.
#include "job_guard.h"

#include <gtest/gtest.h>

#include <thread>

namespace qx316::app {
namespace {

using Claim = JobGuard::Claim;

Claim onOtherThread(JobGuard &g, int64_t id) {
    Claim c = Claim::Owner;
    std::thread([&] { c = g.enter(id); }).join();
    return c;
}

TEST(JobGuard, TheFirstThreadOwnsAJobUntilItsLastLeave) {
    JobGuard g;
    ASSERT_EQ(g.enter(7), Claim::Owner);
    ASSERT_EQ(g.enter(7), Claim::Owner); // the filter, then the raster start on the same thread
    EXPECT_EQ(onOtherThread(g, 7), Claim::Duplicate);
    g.leave(7, true);
    EXPECT_EQ(onOtherThread(g, 7), Claim::Duplicate) << "one leave of two ends nothing";
    g.leave(7, true);
    EXPECT_EQ(g.active(), 0u);
    EXPECT_EQ(onOtherThread(g, 7), Claim::Finished);
    EXPECT_EQ(g.enter(7), Claim::Finished) << "the owner itself does not start it again";
    EXPECT_TRUE(g.finishedResult(7));
}

TEST(JobGuard, AFailureAtAnyLevelIsTheJobsResult) {
    JobGuard g;
    ASSERT_EQ(g.enter(1), Claim::Owner);
    ASSERT_EQ(g.enter(1), Claim::Owner);
    g.leave(1, false);
    g.leave(1, true);
    EXPECT_FALSE(g.finishedResult(1));
    EXPECT_FALSE(g.finishedResult(2)) << "unknown jobs read as failed";
}

TEST(JobGuard, OnlyTheOwnerLeavesAndJobsAreApart) {
    JobGuard g;
    ASSERT_EQ(g.enter(1), Claim::Owner);
    std::thread([&] {
        EXPECT_EQ(g.enter(2), Claim::Owner);
        g.leave(1, false); // not its job: ignored
        g.leave(2, true);
    }).join();
    EXPECT_EQ(g.active(), 1u);
    EXPECT_EQ(g.enter(2), Claim::Finished);
    g.leave(1, true);
    EXPECT_TRUE(g.finishedResult(1));
}

TEST(JobGuard, FinishedJobsAreKeptBoundedNewestFirst) {
    JobGuard g(3);
    for (int64_t id = 1; id <= 5; ++id) {
        ASSERT_EQ(g.enter(id), Claim::Owner);
        g.leave(id, true);
    }
    EXPECT_EQ(g.enter(5), Claim::Finished);
    EXPECT_EQ(g.enter(3), Claim::Finished);
    EXPECT_EQ(g.enter(1), Claim::Owner) << "forgotten after three newer ones";
    g.leave(1, true);
}

} // namespace
} // namespace qx316::app
