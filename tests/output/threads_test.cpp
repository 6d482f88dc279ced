// Distinct jobs driven from distinct threads at once, each thread keeping
// several jobs open and taking turns between them: every job's stream is byte
// for byte the stream of the same job run alone, decodes, and closing every
// job gives back every block.
#include <gtest/gtest.h>

#include <functional>
#include <latch>
#include <memory>
#include <string>
#include <thread>

#include "alloc_seam.h"
#include "job_driver.h"
#include "mode_cases.h"
#include "page_check.h"

namespace qxtest {
namespace {

constexpr int kThreads = 6;
constexpr int kPages = 3;
constexpr int kPageLines = 160;

struct JobPlan {
    std::string name;
    PrintParams params;
    bool banner = false;
    PlaneSetup setup;
    std::vector<std::vector<Line>> pages;  // forms on banner paper
};

JobPlan makePlan(const ModeCase &c, bool banner, unsigned seed) {
    JobPlan plan;
    plan.name = std::string(c.name) + (banner ? "/banner" : "/cut");
    plan.params = makeParams(c.quality, c.media, c.head, c.colorMode, c.composite, banner);
    plan.banner = banner;
    JobDriver probe;
    probe.start(plan.params);
    EXPECT_EQ(probe.initPart(plan.params), 0);
    plan.setup = readSetup(probe.context());
    EXPECT_EQ(plan.setup.planeMode, c.planeMode) << plan.name;
    std::mt19937 rng(seed);
    for (int page = 0; page < kPages; ++page)
        plan.pages.push_back(makePage(plan.setup, 120 + 37 * page + static_cast<int>(seed % 29), kPageLines, rng));
    return plan;
}

// One job, one call (with its completion) at a time, so that a thread can
// keep several jobs open and switch between them after every call.
class JobRun {
public:
    explicit JobRun(const JobPlan &plan) {
        steps_.push_back([this] { return OutputOpen(&job_.job) == QXDRO_OPENED ? 0 : QXDRO_ERR_OPEN; });
        steps_.push_back([this, &plan] { return OutputInitTwo(&job_.job, &plan.params, QXDRO_MODEL_CODE); });
        for (const std::vector<Line> &page : plan.pages) {
            steps_.push_back([this, &plan] { return job_.initPart(plan.params); });
            for (const Line &line : page) steps_.push_back([this, &line] { return job_.produce(line); });
            if (plan.banner) {
                steps_.push_back([this] { return job_.formFeed(kPageLines); });
            } else {
                steps_.push_back([this] { return job_.flush(); });
            }
        }
        if (plan.banner) steps_.push_back([this] { return job_.flush(); });
        steps_.push_back([this] {
            OutputClose(&job_.job);
            return job_.job == nullptr ? 0 : QXDRO_ERR_STATE;
        });
    }

    // Makes the next call; false once the job is closed or a call went wrong.
    bool step() {
        if (next_ == steps_.size() || !error.empty()) return false;
        if (const int r = steps_[next_](); r != 0)
            error = "call " + std::to_string(next_) + " gave " + std::to_string(r);
        ++next_;
        return true;
    }

    const std::vector<uint8_t> &stream() const { return job_.stream; }
    std::string error;

private:
    JobDriver job_;
    std::vector<std::function<int()>> steps_;
    size_t next_ = 0;
};

std::vector<JobPlan> makePlans() {
    std::vector<JobPlan> plans;
    unsigned seed = 1;
    for (const ModeCase &c : kModeCases) {
        for (bool banner : {false, true}) plans.push_back(makePlan(c, banner, seed++));
    }
    return plans;
}

TEST(JobsOnThreads, EachStreamEqualsTheJobRunAlone) {
    const std::vector<JobPlan> plans = makePlans();
    const long baseline = liveBlocks();

    std::vector<std::vector<uint8_t>> alone;
    for (const JobPlan &plan : plans) {
        JobRun run(plan);
        while (run.step()) {
        }
        ASSERT_EQ(run.error, "") << plan.name;
        alone.push_back(run.stream());
    }
    ASSERT_EQ(liveBlocks(), baseline);

    std::vector<std::unique_ptr<JobRun>> runs;
    for (const JobPlan &plan : plans) runs.push_back(std::make_unique<JobRun>(plan));
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&runs, &start, t] {
            std::vector<JobRun *> mine;
            for (size_t j = t; j < runs.size(); j += kThreads) mine.push_back(runs[j].get());
            start.arrive_and_wait();
            for (bool busy = true; busy;) {
                busy = false;
                for (JobRun *run : mine) busy |= run->step();
            }
        });
    }
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(liveBlocks(), baseline) << "every job closed on its thread gives back every block";

    for (size_t j = 0; j < plans.size(); ++j) {
        const JobPlan &plan = plans[j];
        EXPECT_EQ(runs[j]->error, "") << plan.name;
        EXPECT_EQ(runs[j]->stream(), alone[j]) << plan.name << ": the stream differs from the job run alone";
        const qx316::DecodeResult d = qx316::decodeStream(alone[j].data(), alone[j].size());
        ASSERT_TRUE(d.ok) << plan.name << ": " << d.error << " at " << d.errorOffset;
        if (plan.banner) {
            EXPECT_EQ(d.pages.size(), 1u) << plan.name;
            continue;
        }
        ASSERT_EQ(d.pages.size(), plan.pages.size()) << plan.name;
        for (size_t p = 0; p < plan.pages.size(); ++p)
            EXPECT_EQ(checkPage(plan.setup, plan.pages[p], d.pages[p]), "") << plan.name << " page " << p;
    }
}

}  // namespace
}  // namespace qxtest
