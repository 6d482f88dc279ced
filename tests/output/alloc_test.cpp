// Exhausted memory in whole jobs. Every allocation of a job fails in turn:
// once, or with every later one too (memory stays exhausted). The failing
// call reports exhausted memory and changes nothing: not the job record, its
// list and items, nor any block of any buffer chain, and it keeps no block.
// Made again while memory is still exhausted, it fails the same way. Then
// either memory returns, the call goes on and the stream is byte for byte the
// one of a run without failures, or the job is closed while memory is still
// exhausted and gives back every block.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <ostream>
#include <tuple>

#include "alloc_seam.h"
#include "job_driver.h"
#include "page_check.h"

namespace qxtest {
namespace {

// One producing call: a raster line, or the line-less OutputProduce.
struct Produce {
    bool lineLess = false;
    Line line;
};

struct JobPlan {
    PrintParams params;
    int32_t formLength = 0;  // banner paper: raster lines per form
    bool farLines = false;   // a command block full of skip commands, a call filling the list
    std::vector<std::vector<Produce>> pages;
};

PlaneSetup setupOf(const PrintParams &params) {
    JobDriver probe;
    probe.start(params);
    EXPECT_EQ(probe.initPart(params), 0);
    return readSetup(probe.context());
}

// Pages of varied lines; a line-less produce opens the second page and
// follows every 16th line.
JobPlan pagedPlan(const PrintParams &params, int widthPixels, int lines) {
    JobPlan plan{params, params.bannerPaper == 1 ? lines : 0, false, {}};
    const PlaneSetup setup = setupOf(params);
    std::mt19937 rng(7);
    for (int page = 0; page < 2; ++page) {
        std::vector<Produce> steps;
        if (page == 1) steps.push_back({true, {}});
        int n = 0;
        for (Line &line : makePage(setup, widthPixels, lines, rng)) {
            steps.push_back({false, std::move(line)});
            if (++n % 16 == 0) steps.push_back({true, {}});
        }
        plan.pages.push_back(std::move(steps));
    }
    return plan;
}

Line solidLine(const PlaneSetup &setup, int32_t number, uint8_t byte) {
    Line line;
    line.number = number;
    for (int p = 0; p < setup.inPlanes; ++p)
        line.planes.push_back({{byte, byte}, static_cast<int16_t>(16 / setup.bits[p]), 0, 0});
    return line;
}

// Lines far apart. The page's first line lies 600 x 32,767 bands down: its
// band goes out after 600 skip commands, more than the 583 one command block
// holds. The next line lies so far below that the list is filled to its last
// item with skip commands of 32,767 bands, each in a command block of its own.
JobPlan farLinesPlan() {
    const PrintParams params = makeParams(3, 0);  // C M Y K, 1 bit, band height 8
    const PlaneSetup setup = setupOf(params);
    const int32_t bh = setup.bandHeight;
    const int32_t firstBand = 600 * 32767;
    // That band takes two skip blocks (the second with the colour select) and one item a plane.
    const int32_t skipItems = QXDRO_LIST_ITEMS - 2 - setup.outPlanes;
    const int32_t farBand = firstBand + 1 + skipItems * 32767;
    JobPlan plan{params, 0, true, {}};
    plan.pages.push_back({{false, solidLine(setup, firstBand * bh + 5, 0x81)},
                          {false, solidLine(setup, farBand * bh + 2, 0x3C)},
                          {false, solidLine(setup, farBand * bh + bh + 1, 0x42)}});
    std::mt19937 rng(11);
    std::vector<Produce> second;
    for (Line &line : makePage(setup, 40, 100, rng)) second.push_back({false, std::move(line)});
    plan.pages.push_back(std::move(second));
    return plan;
}

struct PlanCase {
    const char *name;
    JobPlan (*make)();
};

const PlanCase kPlans[] = {
    {"cut_mode9_paired", [] { return pagedPlan(makeParams(5, 0), 90, 150); }},
    {"banner_mode5", [] { return pagedPlan(makeParams(3, 0, 0, 0, 0, true), 90, 150); }},
    {"cut_mode4_doubled_type7", [] { return pagedPlan(makeParams(5, 26), 70, 120); }},
    {"cut_mode5_far_lines_full_list", farLinesPlan},
};

// Everything a job holds, flattened: the job record, the list and its items,
// the status record, and of every block of every chain (plane, temporary,
// command) its record and the filled part of each buffer.
std::vector<uint8_t> snapshot(QXVSHandle job) {
    std::vector<uint8_t> s;
    if (!job) return s;
    auto add = [&s](const void *p, size_t n) {
        const uint8_t *b = static_cast<const uint8_t *>(p);
        s.insert(s.end(), b, b + n);
    };
    const OutputContext *ctx = static_cast<const OutputContext *>(job);
    add(ctx, sizeof *ctx);
    const OutputList *list = static_cast<const OutputList *>(ctx->listHandle);
    add(list, sizeof *list);
    add(ctx->itemsHandle, sizeof(ListItem) * static_cast<size_t>(std::clamp<int>(list->count, 0, QXDRO_LIST_ITEMS)));
    add(ctx->statusHandle, sizeof(StatusRecord));
    auto chain = [&](const BCB &head) {
        for (const BCB *b = &head; b; b = static_cast<const BCB *>(b->nextHandle)) {
            if (b != &head) add(b, sizeof *b);
            for (int i = 0; i < QXDRO_BCB_SLOTS; ++i)
                if (b->handle[i]) add(b->handle[i], static_cast<size_t>(b->used[i]));
        }
    };
    for (const PlaneRecord &p : ctx->planes) chain(p.bcb);
    for (const BCB &t : ctx->tempBcb) chain(t);
    chain(ctx->cmdBcb);
    return s;
}

enum class Exhaustion { kOnce, kLastingThenReturns, kLastingThenClose };

struct RunResult {
    std::vector<uint8_t> stream;
    int failedCalls = 0;
    bool closedEarly = false;
    int maxItems = 0;     // most items of one list
    size_t maxChunk = 0;  // longest chunk
};

// Makes the job's calls while the seam is armed and handles the first call
// that meets exhausted memory. The seam's count after each call of a run
// without failures tells which call reaches the failing allocation; the job
// is copied before that call only.
class ExhaustedRun {
public:
    ExhaustedRun(Exhaustion how, long failFrom, std::vector<long> *profile)
        : how_(how), failFrom_(failFrom), profile_(profile) {}

    // The call's result; once the job was closed, calls are skipped (0).
    int call(const std::function<int()> &fn) {
        if (result.closedEarly) return 0;
        const size_t index = calls_++;
        const bool watch =
            failFrom_ > 0 && result.failedCalls == 0 && (index >= profile_->size() || (*profile_)[index] >= failFrom_);
        const std::vector<uint8_t> before = watch ? snapshot(job.job) : std::vector<uint8_t>{};
        const long blocks = liveBlocks();
        int r = fn();
        if (failFrom_ == 0) profile_->push_back(allocCalls());
        if (r != QXDRO_ERR_MEMORY || !watch) return r;
        ++result.failedCalls;
        EXPECT_GT(failedAllocs(), 0) << "exhausted memory reported without a failed allocation";
        EXPECT_TRUE(snapshot(job.job) == before) << "a failed call changed the job";
        EXPECT_EQ(liveBlocks(), blocks) << "a failed call kept a block";
        if (how_ != Exhaustion::kOnce) {
            EXPECT_EQ(fn(), QXDRO_ERR_MEMORY) << "made again while memory is exhausted";
            EXPECT_TRUE(snapshot(job.job) == before) << "a failed call made again changed the job";
            EXPECT_EQ(liveBlocks(), blocks) << "a failed call made again kept a block";
        }
        if (how_ == Exhaustion::kLastingThenClose) {
            OutputClose(&job.job);
            EXPECT_EQ(job.job, nullptr);
            result.closedEarly = true;
            disarmAllocFailure();
            return 0;
        }
        disarmAllocFailure();  // memory returns
        return fn();
    }

    void take(QXVSHandle list) {
        if (!list) return;
        job.take(list);
        const OutputList *l = static_cast<const OutputList *>(list);
        result.maxItems = std::max(result.maxItems, static_cast<int>(l->count));
        for (int i = 0; i < l->count; ++i) result.maxChunk = std::max(result.maxChunk, size_t{l->items[i].length});
    }

    JobDriver job;
    RunResult result;

private:
    Exhaustion how_;
    long failFrom_;
    std::vector<long> *profile_;  // filled by the run without failures
    size_t calls_ = 0;
};

// Runs the whole job with the seam armed to fail from allocation failFrom
// (0: nothing fails, and `profile` receives the count after each call).
RunResult runJob(const JobPlan &plan, Exhaustion how, long failFrom, std::vector<long> *profile) {
    AllocFailure seam(failFrom, how != Exhaustion::kOnce);
    ExhaustedRun run(how, failFrom, profile);
    JobDriver &job = run.job;
    const bool banner = plan.params.bannerPaper == 1;
    auto complete = [&] { EXPECT_EQ(run.call([&] { return OutputComplete(&job.job); }), 0); };
    const auto open = [&] {
        const int r = OutputOpen(&job.job);
        return r == QXDRO_OPENED ? 0 : r == QXDRO_ERR_OPEN ? QXDRO_ERR_MEMORY : r;
    };
    EXPECT_EQ(run.call(open), 0);
    EXPECT_EQ(run.call([&] { return OutputInitTwo(&job.job, &plan.params, QXDRO_MODEL_CODE); }), 0);
    for (const std::vector<Produce> &page : plan.pages) {
        EXPECT_EQ(run.call([&] { return OutputInitPart(&job.job, &plan.params); }), 0);
        for (const Produce &p : page) {
            const RasterLineRecord rec = makeRecord(p.line);
            QXVSHandle list = nullptr;
            const auto produce = [&] {
                return p.lineLess ? OutputProduce(&job.job) : OutputProduceTwo(&job.job, &rec, &list);
            };
            EXPECT_EQ(run.call(produce), 0) << "line " << p.line.number;
            run.take(list);
            complete();
        }
        QXVSHandle list = nullptr;
        const auto pageEnd = [&] {
            return banner ? OutputFormFeed(&job.job, &list, plan.formLength) : OutputFlush(&job.job, &list);
        };
        EXPECT_EQ(run.call(pageEnd), 0);
        run.take(list);
        complete();
    }
    if (banner) {
        QXVSHandle list = nullptr;
        EXPECT_EQ(run.call([&] { return OutputFlush(&job.job, &list); }), 0);
        run.take(list);
        complete();
    }
    RunResult result = run.result;
    OutputClose(&job.job);
    return result;
}

const char *exhaustionName(Exhaustion how) {
    switch (how) {
        case Exhaustion::kOnce: return "once";
        case Exhaustion::kLastingThenReturns: return "lasting_then_returns";
        default: return "lasting_then_close";
    }
}

void PrintTo(const PlanCase &c, std::ostream *os) { *os << c.name; }
void PrintTo(Exhaustion how, std::ostream *os) { *os << exhaustionName(how); }

class EveryAllocationFails : public ::testing::TestWithParam<std::tuple<PlanCase, Exhaustion>> {};

TEST_P(EveryAllocationFails, FailedCallChangesNothingAndTheJobGoesOnOrCloses) {
    const JobPlan plan = std::get<0>(GetParam()).make();
    const Exhaustion how = std::get<1>(GetParam());
    const long baseline = liveBlocks();
    std::vector<long> profile;
    const RunResult reference = runJob(plan, how, 0, &profile);
    const long allocations = profile.back();
    ASSERT_EQ(reference.failedCalls, 0);
    ASSERT_EQ(liveBlocks(), baseline);
    // Opening, page setup and command blocks at the least; lines of 1-bit
    // planes take no work block.
    ASSERT_GT(allocations, 10);
    if (plan.farLines) {
        ASSERT_EQ(reference.maxChunk, 583u * 7) << "a command block of 583 skip commands";
        ASSERT_EQ(reference.maxItems, QXDRO_LIST_ITEMS) << "a call filling the list";
    }
    for (long n = 1; n <= allocations + 1; ++n) {
        const RunResult run = runJob(plan, how, n, &profile);
        ASSERT_EQ(liveBlocks(), baseline) << "allocation " << n << " leaked";
        ASSERT_FALSE(HasFailure()) << "allocation " << n;
        ASSERT_EQ(run.failedCalls, n <= allocations ? 1 : 0) << "allocation " << n;
        if (run.closedEarly) continue;
        ASSERT_TRUE(run.stream == reference.stream) << "allocation " << n << ": the stream differs";
    }
    RecordProperty("allocations", static_cast<int>(allocations));
}

INSTANTIATE_TEST_SUITE_P(Jobs, EveryAllocationFails,
                         ::testing::Combine(::testing::ValuesIn(kPlans),
                                            ::testing::Values(Exhaustion::kOnce, Exhaustion::kLastingThenReturns,
                                                              Exhaustion::kLastingThenClose)),
                         [](const auto &info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    exhaustionName(std::get<1>(info.param));
                         });

TEST(OpenFailures, EveryAllocationOfOpenFailingLeavesNothing) {
    const long baseline = liveBlocks();
    for (bool lasting : {false, true}) {
        for (long n = 1; n <= 5; ++n) {
            QXVSHandle h = reinterpret_cast<QXVSHandle>(0x1);
            {
                AllocFailure failAt(n, lasting);
                EXPECT_EQ(OutputOpen(&h), QXDRO_ERR_OPEN) << "allocation " << n;
                EXPECT_EQ(h, nullptr);
                OutputClose(&h);  // closing the null handle while memory is exhausted
            }
            EXPECT_EQ(liveBlocks(), baseline) << "allocation " << n;
        }
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
