// The engine's parts on bands built in the tests: job setup, the command
// stream bytes, band intake's dispatch and skips, and line encoding.
#include <gtest/gtest.h>

#include <string>

#include "alloc_seam.h"
#include "hex.h"
#include "job_driver.h"
#include "job_state.h"

namespace qxtest {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes slotBytes(const BCB &b) {
    const uint8_t *p = static_cast<const uint8_t *>(b.handle[0]);
    return Bytes(p, p + (b.start[0] ? b.cur[0] - b.start[0] : b.used[0]));
}

const Bytes kEmptyRasterCommand = {0x1B, 0x28, 0x46, 0x00, 0x00};
const Bytes kSetup = {0x1B, 0x28, 0x62, 0x01, 0x00, 0x01};

Line inkLine(int32_t number, int planes, const Bytes &bytes, int16_t pixelsPerByte = 8) {
    Line line;
    line.number = number;
    for (int p = 0; p < planes; ++p) {
        PlaneLine pl;
        pl.bytes = bytes;
        pl.width = static_cast<int16_t>(bytes.size() * pixelsPerByte);
        line.planes.push_back(pl);
    }
    return line;
}

// ---- Job setup ---------------------------------------------------------------

TEST(Setup, FullSetupBuildsEmptyCommandsAndQueuesTheSetupCommand) {
    JobDriver job;
    const PrintParams p = makeParams(5, 0);
    job.start(p);
    ASSERT_EQ(job.initPart(p), 0);
    const OutputContext *ctx = job.context();
    EXPECT_EQ(ctx->planeMode, 9);
    EXPECT_EQ(ctx->inPlaneCount, 4);
    EXPECT_EQ(ctx->outPlaneCount, 7);
    EXPECT_EQ(ctx->basePlane, 3);
    EXPECT_EQ(ctx->bandHeight, 16);
    EXPECT_EQ(ctx->chainLength, 1);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(ctx->planes[i].pixelShift, i == 3 ? 3 : 1) << i;
        EXPECT_EQ(ctx->planes[i].tglType, i == 3 ? 0 : 4) << i;
        EXPECT_EQ(slotBytes(ctx->planes[i].bcb), kEmptyRasterCommand) << i;
        EXPECT_EQ(slotBytes(ctx->tempBcb[i]), kEmptyRasterCommand) << i;
        EXPECT_EQ(ctx->planes[i].last.lineInBand, -1);
        EXPECT_EQ(ctx->planes[i].cur.blank, 1);
    }
    EXPECT_EQ(slotBytes(ctx->cmdBcb), kSetup);
}

TEST(Setup, UnsupportedModesAndDepthsRefusedWithoutChange) {
    struct Case {
        PrintParams params;
        const char *why;
    } cases[] = {
        {makeParams(5, 0, 2), "head 2 without an override"},
        {makeParams(10, 1, 2, 1), "single-plane rule not for media class 2"},
        {makeParams(0, 0, 0, 0, 1), "composite mode 2 with bit depth 0"},
        {makeParams(0, 3), "quality 0 on media 3"},
    };
    for (const Case &c : cases) {
        JobDriver job;
        job.start(c.params);
        const JobState before = JobState::of(job.job);
        EXPECT_EQ(job.initPart(c.params), QXDRO_ERR_MODE) << c.why;
        EXPECT_TRUE(JobState::of(job.job) == before) << c.why;
    }
}

TEST(Setup, CutPaperPagesGetFreshBuffersBannerKeepsThem) {
    for (bool banner : {false, true}) {
        const PrintParams p = makeParams(3, 0, 0, 0, 0, banner);
        JobDriver job;
        job.start(p);
        ASSERT_EQ(job.initPart(p), 0);
        ASSERT_EQ(job.produce(inkLine(2, 4, {0xF0})), 0);
        if (banner) {
            ASSERT_EQ(job.formFeed(64), 0);
        } else {
            ASSERT_EQ(job.flush(), 0);
            EXPECT_EQ(job.context()->planes[0].bcb.handle[0], nullptr) << "released at the page end";
        }
        // The second page's record asks for another mode: only cut paper reads it.
        PrintParams other = makeParams(5, 0, 0, 0, 0, banner);
        const QXVSHandle bannerBuffer = job.context()->planes[0].bcb.handle[0];
        ASSERT_EQ(job.initPart(other), 0);
        EXPECT_EQ(job.context()->planeMode, banner ? 5 : 9);
        if (banner) {
            EXPECT_EQ(job.context()->planes[0].bcb.handle[0], bannerBuffer);
        }
        EXPECT_EQ(job.context()->planes[0].last.lineInBand, -1);
        EXPECT_EQ(job.initPart(other), QXDRO_ERR_STATE) << "a page already set up";
    }
}

TEST(Setup, EveryAllocationFailingLeavesTheJobAndNoBlock) {
    const PrintParams p = makeParams(5, 0);
    for (long n = 1; n <= 14; ++n) {
        JobDriver job;
        job.start(p);
        const long live = liveBlocks();
        const JobState before = JobState::of(job.job);
        {
            AllocFailure fail(n);
            EXPECT_EQ(job.initPart(p), QXDRO_ERR_MEMORY) << "allocation " << n;
        }
        EXPECT_TRUE(JobState::of(job.job) == before) << "allocation " << n;
        EXPECT_EQ(liveBlocks(), live) << "allocation " << n;
        EXPECT_EQ(job.initPart(p), 0);
    }
}

// ---- Command stream ------------------------------------------------------------

TEST(Commands, SkipCommandBytes) {
    struct {
        int count;
        Bytes want;
    } cases[] = {{258, {0x1B, 0x28, 0x65, 0x02, 0x00, 0x01, 0x02}},
                 {32767, {0x1B, 0x28, 0x65, 0x02, 0x00, 0x7F, 0xFF}},
                 {1, {0x1B, 0x28, 0x65, 0x02, 0x00, 0x00, 0x01}},
                 {0, {}},
                 {-4, {}},
                 {0x10000, {}}};
    for (const auto &c : cases) {
        Bytes out(8, 0xEE);
        const int n = WriteSkipCommand(c.count, out.data());
        EXPECT_EQ(Bytes(out.begin(), out.begin() + n), c.want) << c.count;
        EXPECT_EQ(out[n], 0xEE) << "nothing written past the command";
    }
}

TEST(Commands, KPlanePositionByMode) {
    const int want[10] = {-1, 0, -1, -1, -1, 3, -1, -1, 3, 3};
    for (int mode = 0; mode < 10; ++mode) EXPECT_EQ(getPosition_K(mode), want[mode]) << mode;
}

TEST(Commands, FirstItemIsSetupAndJobHeader) {
    for (int quality : {5, 3}) {
        const PrintParams p = makeParams(quality, 0);
        JobDriver job;
        job.start(p);
        ASSERT_EQ(job.initPart(p), 0);
        ASSERT_EQ(job.produce(inkLine(5, job.context()->inPlaneCount, {0}, 2)), 0);
        const uint8_t h = static_cast<uint8_t>(job.context()->bandHeight);
        const Bytes want = {0x1B, 0x28, 0x62, 0x01, 0x00, 0x01, 0x1B, 0x28, 0x49,
                            0x01, 0x00, 0x01, 0x1B, 0x28, 0x4A, 0x01, 0x00, h};
        ASSERT_EQ(job.lastChunks.size(), 1u);
        EXPECT_EQ(job.lastChunks[0], want) << hex(job.lastChunks[0]);
        ASSERT_EQ(job.produce(inkLine(6, job.context()->inPlaneCount, {0}, 2)), 0);
        EXPECT_TRUE(job.lastChunks.empty()) << "the header goes out once";
    }
}

// Mode 5 (C M Y K, K is plane 3, band height 8): bands with ink in chosen planes.
class ColourSelect : public ::testing::Test {
protected:
    void SetUp() override {
        job.start(params);
        ASSERT_EQ(job.initPart(params), 0);
    }
    // One line at the top of band b with ink in the planes of mask.
    void band(int32_t b, unsigned mask) {
        Line line = inkLine(b * 8, 4, {0x00});
        for (int p = 0; p < 4; ++p)
            if (mask & (1u << p)) line.planes[p].bytes = {0x40};
        ASSERT_EQ(job.produce(line), 0);
    }
    const PrintParams params = makeParams(3, 0);
    JobDriver job;
};

TEST_F(ColourSelect, SelectionFollowsTheInkedPlanes) {
    const Bytes selectAll = {0x1B, 0x28, 0x4C, 0x04, 0x00, 0x43, 0x4D, 0x59, 0x4B};
    const Bytes selectK = {0x1B, 0x28, 0x4C, 0x01, 0x00, 0x4B};
    const Bytes skip3 = {0x1B, 0x28, 0x65, 0x02, 0x00, 0x00, 0x03};
    band(3, 0b1001);  // first line in band 3: three bands above it pending
    band(4, 0b1000);  // band 3 goes out: skip 3, select all, C M Y K
    ASSERT_EQ(job.lastChunks.size(), 5u);
    Bytes first = skip3;
    first.insert(first.end(), selectAll.begin(), selectAll.end());
    EXPECT_EQ(job.lastChunks[0], first) << hex(job.lastChunks[0]);
    EXPECT_EQ(job.lastChunks[2], kEmptyRasterCommand) << "blank M still sent";
    EXPECT_GT(job.lastChunks[1].size(), 5u);
    band(5, 0b0001);  // band 4, K alone: select K, only K
    ASSERT_EQ(job.lastChunks.size(), 2u);
    EXPECT_EQ(job.lastChunks[0], selectK);
    band(6, 0b0001);  // band 5, C again: select all, four planes
    ASSERT_EQ(job.lastChunks.size(), 5u);
    EXPECT_EQ(job.lastChunks[0], selectAll);
    band(7, 0);  // band 6 same selection, no skip: no command item
    EXPECT_EQ(job.lastChunks.size(), 4u);
    band(8, 0b0010);  // band 7 blank: nothing, counted as pending
    EXPECT_TRUE(job.lastChunks.empty());
    EXPECT_EQ(job.context()->pendingSkip, 1);
    ASSERT_EQ(job.flush(), 0);  // band 8 (M): skip 1, no new select
    ASSERT_EQ(job.lastChunks.size(), 5u);
    EXPECT_EQ(job.lastChunks[0], (Bytes{0x1B, 0x28, 0x65, 0x02, 0x00, 0x00, 0x01}));
}

TEST_F(ColourSelect, ListedCommandsPointIntoThePlaneBuffers) {
    band(0, 0b1111);
    QXVSHandle list = nullptr;
    ASSERT_EQ(OutputFlush(&job.job, &list), 0);
    const OutputList *l = static_cast<const OutputList *>(list);
    ASSERT_EQ(l->count, 5);
    EXPECT_EQ(l->itemsHandle, job.context()->itemsHandle);
    for (int p = 0; p < 4; ++p) EXPECT_EQ(l->items[1 + p].data, job.context()->planes[p].bcb.handle[0]) << p;
    ASSERT_EQ(job.complete(), 0);
}

TEST_F(ColourSelect, PlaneFlagBlanksAPlaneForOneBand) {
    band(0, 0b0011);
    OutputContext *ctx = job.context();
    ctx->planeFlag[1] = 1;
    band(1, 0b0001);
    ASSERT_EQ(job.lastChunks.size(), 5u);
    EXPECT_EQ(job.lastChunks[2], kEmptyRasterCommand) << "M forced blank";
    EXPECT_EQ(ctx->planeFlag[1], 0);
}

// ---- Band intake ------------------------------------------------------------

TEST(Intake, DispatchAndSkipsOfTheWorkedExample) {
    const PrintParams p = makeParams(10, 0, 1);  // mode 2 (C M Y), base plane 0, band height 16, no patterns
    JobDriver job;
    job.start(p);
    ASSERT_EQ(job.initPart(p), 0);
    OutputContext *ctx = job.context();
    ASSERT_EQ(ctx->planeMode, 2);
    ASSERT_EQ(ctx->bandHeight, 16);
    const Line firstLine = inkLine(35, 3, {0x11}, 4);
    const RasterLineRecord first = makeRecord(firstLine);
    QXVSHandle list = nullptr;
    ASSERT_EQ(OutputProduceTwo(&job.job, &first, &list), 0);
    EXPECT_EQ(ctx->completeMode, 1);
    EXPECT_EQ(ctx->pendingSkip, 2);
    job.take(list);
    EXPECT_EQ(job.lastChunks.size(), 1u) << "the header item only";
    ASSERT_EQ(job.complete(), 0);
    for (int32_t n = 36; n <= 40; ++n) {
        ASSERT_EQ(job.produce(inkLine(n, 3, {0x11}, 4)), 0);
        EXPECT_EQ(ctx->completeMode, 0);
        EXPECT_TRUE(job.lastChunks.empty());
    }
    ASSERT_EQ(job.produce(inkLine(100, 3, {0x11}, 4)), 0);
    EXPECT_EQ(ctx->completeMode, 2);
    ASSERT_EQ(job.lastChunks.size(), 1u + 3 + 1);
    EXPECT_EQ(job.lastChunks[0], (Bytes{0x1B, 0x28, 0x65, 0x02, 0x00, 0x00, 0x02, 0x1B, 0x28, 0x4C, 0x03, 0x00,
                                        0x43, 0x4D, 0x59}));
    // Band 2: lines 32-34 empty, 35-40 inked, 41-47 completed with empty lines.
    Bytes band2 = {0x1B, 0x28, 0x46, 28, 0, 0x80, 0x80, 0x80};
    for (int i = 0; i < 6; ++i) band2.insert(band2.end(), {0x00, 0x11, 0x80});
    band2.insert(band2.end(), 7, 0x80);
    EXPECT_EQ(job.lastChunks[1], band2) << hex(job.lastChunks[1]);
    EXPECT_EQ(job.lastChunks[4], (Bytes{0x1B, 0x28, 0x65, 0x02, 0x00, 0x00, 0x03})) << "bands 3, 4 and 5";
    // Line 100 now opens band 6 after four empty lines.
    EXPECT_EQ(slotBytes(ctx->planes[0].bcb), (Bytes{0x1B, 0x28, 0x46, 7, 0, 0x80, 0x80, 0x80, 0x80, 0x00, 0x11, 0x80}));
}

TEST(Intake, LongGapsGoOutAsSeparateSkipItems) {
    const PrintParams p = makeParams(10, 0, 1);
    JobDriver job;
    job.start(p);
    ASSERT_EQ(job.initPart(p), 0);
    ASSERT_EQ(job.produce(inkLine(0, 3, {0x01}, 4)), 0);
    ASSERT_EQ(job.produce(inkLine((70000 + 1) * 16, 3, {0x01}, 4)), 0);
    ASSERT_EQ(job.lastChunks.size(), 4u + 3);
    EXPECT_EQ(job.lastChunks[4], (Bytes{0x1B, 0x28, 0x65, 0x02, 0x00, 0x7F, 0xFF}));
    EXPECT_EQ(job.lastChunks[5], (Bytes{0x1B, 0x28, 0x65, 0x02, 0x00, 0x7F, 0xFF}));
    EXPECT_EQ(job.lastChunks[6], (Bytes{0x1B, 0x28, 0x65, 0x02, 0x00, 0x11, 0x72})) << "4,466 bands";
}

TEST(Intake, PendingSkipsBeyondOneCommandSplitAt32767) {
    const PrintParams p = makeParams(10, 0, 1);
    JobDriver job;
    job.start(p);
    ASSERT_EQ(job.initPart(p), 0);
    ASSERT_EQ(job.produce(inkLine(40000 * 16, 3, {0x01}, 4)), 0);
    ASSERT_EQ(job.flush(), 0);
    EXPECT_EQ(job.lastChunks[0], (Bytes{0x1B, 0x28, 0x65, 0x02, 0x00, 0x7F, 0xFF, 0x1B, 0x28, 0x65, 0x02, 0x00,
                                        0x1C, 0x41, 0x1B, 0x28, 0x4C, 0x03, 0x00, 0x43, 0x4D, 0x59}));
}

TEST(Intake, PairedPlaneOfABlankSourceIsBlank) {
    const PrintParams p = makeParams(5, 0);  // mode 9: planes 0-2 feed planes 4-6
    JobDriver job;
    job.start(p);
    ASSERT_EQ(job.initPart(p), 0);
    OutputContext *ctx = job.context();
    ctx->planes[5].cur.left = 9;
    ctx->planes[5].cur.blank = 0;
    Line line = inkLine(3, 4, {0x44}, 2);
    line.planes[1].bytes.clear();  // plane 1 has nothing on this line
    const RasterLineRecord rec = makeRecord(line);
    QXVSHandle list = nullptr;
    ASSERT_EQ(OutputProduceTwo(&job.job, &rec, &list), 0);
    EXPECT_EQ(ctx->planes[5].cur.blank, 1);
    EXPECT_EQ(ctx->planes[5].cur.left, 0);
    EXPECT_EQ(ctx->planes[5].cur.lineNumber, 3);
    ASSERT_EQ(job.complete(), 0);
    // Both planes of the pair got three empty lines and the line's own empty one.
    EXPECT_EQ(slotBytes(ctx->planes[1].bcb), (Bytes{0x1B, 0x28, 0x46, 4, 0, 0x80, 0x80, 0x80, 0x80}));
    EXPECT_EQ(slotBytes(ctx->planes[5].bcb), (Bytes{0x1B, 0x28, 0x46, 4, 0, 0x80, 0x80, 0x80, 0x80}));
}

// ---- Line encoding -----------------------------------------------------------

struct EncodeCase {
    int left;
    int tgl;
    Bytes span;
    Bytes want;  // bytes appended to the slot
};

// A band buffer holding the empty raster-line command, and a block whose
// slot 0 writes into it after the command.
struct Slot {
    Bytes bytes;
    BCB block{};
    explicit Slot(size_t size) : bytes(size, 0) {
        std::copy(kEmptyRasterCommand.begin(), kEmptyRasterCommand.end(), bytes.begin());
        block.start[0] = bytes.data();
        block.cur[0] = bytes.data() + 5;
    }
    Slot(const Slot &) = delete;
    Slot &operator=(const Slot &) = delete;
};

TEST(LineEncoding, ZeroRunsSpanAndEndOfLine) {
    const EncodeCase cases[] = {
        {0, 0, {0x61, 0x62, 0x63}, {0x02, 0x61, 0x62, 0x63, 0x80}},
        {200, 0, {0x61, 0x62, 0x63}, {0x81, 0x00, 0xB9, 0x00, 0x02, 0x61, 0x62, 0x63, 0x80}},
        {0, 0, {0x61}, {0x00, 0x61, 0x80}},
        {1, 0, {0x61}, {0x00, 0x00, 0x00, 0x61, 0x80}},
        {128, 0, {0x61}, {0x81, 0x00, 0x00, 0x61, 0x80}},
        {129, 0, {0x61}, {0x81, 0x00, 0x00, 0x00, 0x00, 0x61, 0x80}},
        {100, 6, {0x80}, {0x81, 0x00, 0xB9, 0x00, 0x01, 0xFF, 0x00, 0x80}},  // level 8: all dots; 0: none
    };
    for (const EncodeCase &c : cases) {
        OutputContext ctx{};
        ctx.bandHeight = 16;
        ctx.bcbSlots = 1;
        Bytes line(c.left + c.span.size() + 1, 0);
        std::copy(c.span.begin(), c.span.end(), line.begin() + c.left);
        Slot slot(512);
        const Bytes &buffer = slot.bytes;
        BCB *targets[2] = {&slot.block, nullptr};
        RasterInfo cur{c.left, c.left + static_cast<int>(c.span.size()) - 1, 0, 0, 0, 0};
        ASSERT_EQ(WriteRaster2Color(&cur, line.data(), c.tgl, &ctx, targets), 0);
        const Bytes got(buffer.begin() + 5, buffer.begin() + (slot.block.cur[0] - buffer.data()));
        EXPECT_EQ(got, c.want) << "left " << c.left << ": " << hex(got);
        EXPECT_EQ(buffer[3] | buffer[4] << 8, static_cast<int>(c.want.size()));
    }
}

TEST(LineEncoding, PairedTargetsShareZeroRunsNotPatterns) {
    OutputContext ctx{};
    ctx.bandHeight = 16;
    ctx.bcbSlots = 1;
    const Bytes line = {0, 0, 0x38, 0x10};
    Slot s0(64), s1(64);
    const Bytes &b0 = s0.bytes, &b1 = s1.bytes;
    BCB *targets[2] = {&s0.block, &s1.block};
    RasterInfo cur{2, 3, 0, 0, 0, 0};
    ASSERT_EQ(WriteRaster2Color(&cur, line.data(), 4, &ctx, targets), 0);
    // From seed 0 the levels 3, 8, 1 draw 38, 7719, 21238: columns 0, 0, 1.
    EXPECT_EQ(Bytes(b0.begin() + 5, b0.begin() + 12), (Bytes{0xFF, 0x00, 0x01, 0x8E, 0x00, 0x80, 0x00}));
    EXPECT_EQ(Bytes(b1.begin() + 5, b1.begin() + 12), (Bytes{0xFF, 0x00, 0x01, 0x8C, 0x40, 0x80, 0x00}));
    EXPECT_EQ(ctx.randSeed != 0, true);
}

TEST(LineEncoding, BlankLineIsOneEndOfLineByteInEachTarget) {
    OutputContext ctx{};
    ctx.bandHeight = 8;
    ctx.bcbSlots = 1;
    Slot s0(16), s1(16);
    const Bytes &b0 = s0.bytes, &b1 = s1.bytes;
    BCB *targets[2] = {&s0.block, &s1.block};
    RasterInfo cur{0, 0, 3, 3, 0, 1};
    ASSERT_EQ(WriteRaster2Color(&cur, nullptr, 0, &ctx, targets), 0);
    EXPECT_EQ(b0[5], 0x80);
    EXPECT_EQ(b1[5], 0x80);
    EXPECT_EQ(s0.block.cur[0] - s0.block.start[0], 6);
    EXPECT_EQ(b0[3], 1);
    EXPECT_EQ(b1[3], 1);
}

// A span whose coding cannot be counted in 16 bits is refused before a byte is written.
TEST(LineEncoding, SpanBeyondSixteenBitCountsIsRefused) {
    OutputContext ctx{};
    ctx.bandHeight = 8;
    ctx.bcbSlots = 1;
    Bytes line(40000, 0x55);
    Slot slot(16);
    const Bytes &buffer = slot.bytes;
    BCB *targets[2] = {&slot.block, nullptr};
    const RasterInfo spans[] = {{0, 39999, 0, 0, 0, 0}, {39990, 39999, 0, 0, 0, 0}, {0, 20000, 0, 0, 0, 0}};
    const int types[] = {0, 0, 6};  // the last doubles 20,001 levels
    for (int i = 0; i < 3; ++i) {
        RasterInfo cur = spans[i];
        EXPECT_EQ(WriteRaster2Color(&cur, line.data(), types[i], &ctx, targets), QXDRO_ERR_MODE) << i;
        EXPECT_EQ(slot.block.cur[0], buffer.data() + 5) << i;
        EXPECT_EQ(buffer[3] | buffer[4] << 8, 0) << i;
    }
}

}  // namespace
}  // namespace qxtest
