// Refusals and failures of the job calls: each leaves the job as it was,
// and the job goes on to a well-formed stream. Each case here went wrong in
// the call sequences that first exposed it.
#include <gtest/gtest.h>

#include "alloc_seam.h"
#include "job_driver.h"
#include "job_state.h"
#include "page_check.h"

namespace qxtest {
namespace {

const PrintParams kMode5 = makeParams(3, 0);        // C M Y K, 1 bit, band height 8
const PrintParams kMode9 = makeParams(5, 0);        // paired planes, band height 16
const PrintParams kMode4Doubled = makeParams(5, 26);  // 4-bit levels, two bytes per byte

// Every input plane carries `bytes` (width in pixels from the plane's depth).
Line solidLine(const OutputContext *ctx, int32_t number, const std::vector<uint8_t> &bytes) {
    Line line;
    line.number = number;
    for (int p = 0; p < ctx->inPlaneCount; ++p) {
        PlaneLine pl;
        pl.bytes = bytes;
        pl.width = static_cast<int16_t>(bytes.size() << ctx->planes[p].pixelShift);
        line.planes.push_back(pl);
    }
    return line;
}

qx316::DecodeResult decode(const JobDriver &job) { return qx316::decodeStream(job.stream.data(), job.stream.size()); }

int64_t rowCount(const qx316::DecodedPage &page) {
    int64_t n = 0;
    for (const auto &p : page.planes) n += static_cast<int64_t>(p.rows.size());
    return n;
}

TEST(NullArguments, RefusedWithoutTouchingTheJob) {
    JobDriver job;
    job.start(kMode5);
    ASSERT_EQ(job.initPart(kMode5), 0);
    const JobState before = JobState::of(job.job);
    QXVSHandle list = nullptr;
    const Line recLine = solidLine(job.context(), 0, {0xFF});
    const RasterLineRecord rec = makeRecord(recLine);
    EXPECT_EQ(OutputProduceTwo(&job.job, nullptr, &list), QXDRO_ERR_ARGUMENT);
    EXPECT_EQ(OutputProduceTwo(&job.job, &rec, nullptr), QXDRO_ERR_ARGUMENT);
    EXPECT_EQ(OutputFlush(&job.job, nullptr), QXDRO_ERR_ARGUMENT);
    EXPECT_EQ(OutputInitPart(&job.job, nullptr), QXDRO_ERR_ARGUMENT);
    EXPECT_TRUE(JobState::of(job.job) == before);

    // A null address of the handle variable counts as a null handle.
    EXPECT_EQ(OutputInitTwo(nullptr, &kMode5, 316), 0);
    EXPECT_EQ(OutputInitPart(nullptr, &kMode5), 0);
    EXPECT_EQ(OutputProduce(nullptr), QXDRO_ERR_MEMORY);
    EXPECT_EQ(OutputProduceTwo(nullptr, &rec, &list), QXDRO_ERR_MEMORY);
    EXPECT_EQ(OutputComplete(nullptr), QXDRO_ERR_MEMORY);
    EXPECT_EQ(OutputFlush(nullptr, &list), QXDRO_ERR_MEMORY);
    EXPECT_EQ(OutputFormFeed(nullptr, &list, 10), QXDRO_ERR_MEMORY);
    OutputClose(nullptr);
    EXPECT_EQ(OutputOpen(nullptr), QXDRO_ERR_OPEN);
}

TEST(NullArguments, InitTwoWithoutParametersReadsNothing) {
    QXVSHandle h = nullptr;
    ASSERT_EQ(OutputOpen(&h), QXDRO_OPENED);
    const JobState before = JobState::of(h);
    EXPECT_EQ(OutputInitTwo(&h, nullptr, 316), QXDRO_ERR_ARGUMENT);
    EXPECT_TRUE(JobState::of(h) == before);
    EXPECT_EQ(OutputInitTwo(&h, &kMode5, 316), 0) << "the job can still be bound";
    OutputClose(&h);
    EXPECT_EQ(h, nullptr);
}

TEST(LineOrder, EarlierOrNegativeLinesRefused) {
    JobDriver job;
    job.start(kMode5);
    ASSERT_EQ(job.initPart(kMode5), 0);
    ASSERT_EQ(job.produce(solidLine(job.context(), 5, {0x81})), 0);
    const JobState before = JobState::of(job.job);
    for (int32_t n : {5, 4, 0, -1, -100000}) {
        const Line recLine = solidLine(job.context(), n, {0x81});
        const RasterLineRecord rec = makeRecord(recLine);
        QXVSHandle list = nullptr;
        EXPECT_EQ(OutputProduceTwo(&job.job, &rec, &list), QXDRO_ERR_ARGUMENT) << "line " << n;
    }
    EXPECT_TRUE(JobState::of(job.job) == before);
    ASSERT_EQ(job.produce(solidLine(job.context(), 6, {0x81})), 0);
    ASSERT_EQ(job.flush(), 0);
    const auto d = decode(job);
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(rowCount(d.pages[0]), 2 * 4);
}

TEST(StatusOnlyProduce, AfterABandChangeKeepsTheNewBand) {
    // A band change, then a line-less produce: its completion must not
    // complete the band change a second time and wipe the band being filled.
    JobDriver job;
    job.start(kMode5);
    ASSERT_EQ(job.initPart(kMode5), 0);
    ASSERT_EQ(job.produce(solidLine(job.context(), 0, {0x0F})), 0);
    ASSERT_EQ(job.produce(solidLine(job.context(), 20, {0xF0})), 0);
    ASSERT_EQ(OutputProduce(&job.job), 0);
    ASSERT_EQ(job.complete(), 0);
    ASSERT_EQ(job.produce(solidLine(job.context(), 21, {0x3C})), 0);
    ASSERT_EQ(job.flush(), 0);
    const auto d = decode(job);
    ASSERT_TRUE(d.ok) << d.error;
    const qx316::DecodedPlane *c = d.pages[0].plane('C');
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(c->rows.size(), 3u);
    EXPECT_EQ(c->rows.at(20), std::vector<uint8_t>{0xF0});
    EXPECT_EQ(c->rows.at(21), std::vector<uint8_t>{0x3C});
}

TEST(SetupCommand, SentWhenThePageStartsWithAStatusOnlyProduce) {
    JobDriver job;
    job.start(kMode5);
    ASSERT_EQ(job.initPart(kMode5), 0);
    ASSERT_EQ(OutputProduce(&job.job), 0);
    ASSERT_EQ(job.complete(), 0);
    ASSERT_EQ(job.produce(solidLine(job.context(), 3, {0x55})), 0);
    ASSERT_EQ(job.flush(), 0);
    const std::vector<uint8_t> head(job.stream.begin(), job.stream.begin() + 18);
    const std::vector<uint8_t> want = {0x1B, 0x28, 0x62, 0x01, 0x00, 0x01, 0x1B, 0x28, 0x49, 0x01, 0x00, 0x01,
                                       0x1B, 0x28, 0x4A, 0x01, 0x00, 0x08};
    EXPECT_EQ(head, want);
    EXPECT_TRUE(decode(job).ok);
}

TEST(SetupCommand, SentWhenTheFirstBannerFormHasNoLine) {
    const PrintParams banner = makeParams(3, 0, 0, 0, 0, true);
    JobDriver job;
    job.start(banner);
    ASSERT_EQ(job.initPart(banner), 0);
    ASSERT_EQ(job.formFeed(80), 0);
    ASSERT_EQ(job.lastChunks.size(), 1u);
    EXPECT_EQ(job.lastChunks[0].size(), 18u) << "set-up command and job header in one chunk";
    ASSERT_EQ(job.initPart(banner), 0);
    ASSERT_EQ(job.produce(solidLine(job.context(), 2, {0x18})), 0);
    ASSERT_EQ(job.formFeed(80), 0);
    ASSERT_EQ(job.flush(), 0);
    const auto d = decode(job);
    ASSERT_TRUE(d.ok) << d.error << " at " << d.errorOffset;
    EXPECT_EQ(rowCount(d.pages[0]), 4);
}

TEST(PaperPath, SetupForTheOtherPathRefused) {
    JobDriver cut;
    cut.start(kMode5);
    PrintParams bannerParams = kMode5;
    bannerParams.bannerPaper = 1;
    const JobState before = JobState::of(cut.job);
    EXPECT_EQ(cut.initPart(bannerParams), QXDRO_ERR_ARGUMENT);
    EXPECT_TRUE(JobState::of(cut.job) == before);
    EXPECT_EQ(cut.initPart(kMode5), 0);

    JobDriver banner;
    banner.start(bannerParams);
    EXPECT_EQ(banner.initPart(kMode5), QXDRO_ERR_ARGUMENT);
    EXPECT_EQ(banner.initPart(bannerParams), 0);
}

TEST(PaperPath, BannerJobEndingBeforeItsFirstPage) {
    // Banner paper allows the job-ending flush right after binding; there is
    // no band to complete then, and nothing to send.
    const PrintParams banner = makeParams(3, 0, 0, 0, 0, true);
    JobDriver job;
    job.start(banner);
    ASSERT_EQ(job.flush(), 0);
    EXPECT_TRUE(job.stream.empty());
}

TEST(PaperPath, FormFeedOnCutPaperRefused) {
    JobDriver job;
    job.start(kMode5);
    ASSERT_EQ(job.initPart(kMode5), 0);
    const JobState before = JobState::of(job.job);
    EXPECT_EQ(job.formFeed(100), QXDRO_ERR_STATE);
    EXPECT_TRUE(JobState::of(job.job) == before);
}

TEST(BufferRoom, ALineThatDoesNotFitItsBandIsRefused) {
    JobDriver job;
    job.start(kMode9);
    ASSERT_EQ(job.initPart(kMode9), 0);
    // 4-bit levels 1..8 chosen so that PackBits finds no runs: ~16,130 coded
    // bytes a line, so the third line of a band overflows 45,056 bytes.
    std::vector<uint8_t> wide(16000);
    for (size_t i = 0; i < wide.size(); ++i) wide[i] = static_cast<uint8_t>(((i % 8) + 1) << 4 | ((i * 3) % 8 + 1));
    ASSERT_EQ(job.produce(solidLine(job.context(), 0, wide)), 0);
    ASSERT_EQ(job.produce(solidLine(job.context(), 1, wide)), 0);
    const JobState before = JobState::of(job.job);
    const Line recLine = solidLine(job.context(), 2, wide);
    const RasterLineRecord rec = makeRecord(recLine);
    QXVSHandle list = nullptr;
    EXPECT_EQ(OutputProduceTwo(&job.job, &rec, &list), QXDRO_ERR_MODE);
    EXPECT_TRUE(JobState::of(job.job) == before);
    // Blank lines always fit: the band's remaining lines are reserved.
    for (int32_t n = 3; n < 16; ++n) ASSERT_EQ(job.produce(solidLine(job.context(), n, {0})), 0);
    ASSERT_EQ(job.produce(solidLine(job.context(), 17, {0x11})), 0);
    ASSERT_EQ(job.flush(), 0);
    const auto d = decode(job);
    ASSERT_TRUE(d.ok) << d.error << " at " << d.errorOffset;
}

TEST(BufferRoom, CodedLineBoundMustFitSixteenBits) {
    // Two output bytes per input byte: m = 2n. The PackBits bound
    // m + 1 + (m - 1) / 126 passes 32,767 for m above 32,508.
    struct Case {
        int bytes;
        int result;
    } cases[] = {{16254, 0}, {16255, QXDRO_ERR_MODE}, {16383, QXDRO_ERR_MODE}};
    for (const Case &c : cases) {
        JobDriver job;
        job.start(kMode4Doubled);
        ASSERT_EQ(job.initPart(kMode4Doubled), 0);
        std::vector<uint8_t> line(16383, 0);  // 32,766 pixels
        for (int i = 0; i < c.bytes; ++i) line[i] = 0x88;
        const JobState before = JobState::of(job.job);
        const Line recLine = solidLine(job.context(), 0, line);
        const RasterLineRecord rec = makeRecord(recLine);
        QXVSHandle list = nullptr;
        EXPECT_EQ(OutputProduceTwo(&job.job, &rec, &list), c.result) << c.bytes << " bytes";
        if (c.result != 0) {
            EXPECT_TRUE(JobState::of(job.job) == before);
        }
    }
}

TEST(BlankEdge, NegativeLeftOffsetRefusedAsBadSpan) {
    JobDriver job;
    job.start(kMode5);
    ASSERT_EQ(job.initPart(kMode5), 0);
    Line line = solidLine(job.context(), 0, {0xFF, 0xFF});
    line.planes[1].leftOffset = -3;
    const JobState before = JobState::of(job.job);
    const RasterLineRecord rec = makeRecord(line);
    QXVSHandle list = nullptr;
    EXPECT_EQ(OutputProduceTwo(&job.job, &rec, &list), QXDRO_ERR_MODE);
    EXPECT_TRUE(JobState::of(job.job) == before) << "planes before the bad one keep their lines too";
    EXPECT_EQ(GetImageInfo(job.context(), &rec), QXDRO_ERR_MODE);
    EXPECT_TRUE(JobState::of(job.job) == before) << "the line analysis alone changes no plane either";
}

TEST(ListBounds, AGapBeyondTheItemArrayIsRefused) {
    JobDriver job;
    job.start(kMode5);
    ASSERT_EQ(job.initPart(kMode5), 0);
    ASSERT_EQ(job.produce(solidLine(job.context(), 0, {0xAA})), 0);
    // The band's 5 items leave 149 for skip items of 32,767 bands each.
    const int32_t bh = job.context()->bandHeight;
    const int32_t fits = (1 + 149 * 32767) * bh, tooFar = (1 + 149 * 32767 + 1) * bh;
    const JobState before = JobState::of(job.job);
    const Line recLine = solidLine(job.context(), tooFar, {0xAA});
    const RasterLineRecord rec = makeRecord(recLine);
    QXVSHandle list = nullptr;
    EXPECT_EQ(OutputProduceTwo(&job.job, &rec, &list), QXDRO_ERR_MODE);
    EXPECT_TRUE(JobState::of(job.job) == before);
    ASSERT_EQ(job.produce(solidLine(job.context(), fits, {0xAA})), 0);
    EXPECT_EQ(job.lastChunks.size(), 154u);
    ASSERT_EQ(job.flush(), 0);
    qx316::StreamLimits limits;
    limits.maxLines = int64_t(1) << 31;
    const auto d = qx316::decodeStream(job.stream.data(), job.stream.size(), limits);
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.pages[0].plane('C')->rows.count(fits), 1u);
}

TEST(CommandBlocks, SkipCountsBeyondOneBlockGoOnInTheNext) {
    JobDriver job;
    job.start(kMode5);
    ASSERT_EQ(job.initPart(kMode5), 0);
    const int32_t bh = job.context()->bandHeight;
    const int32_t bands = 600 * 32767;  // 600 skip commands: 583 in one block, 17 in the next
    ASSERT_EQ(job.produce(solidLine(job.context(), bands * bh, {0x01})), 0);
    ASSERT_EQ(job.flush(), 0);
    ASSERT_GE(job.lastChunks.size(), 3u);
    EXPECT_EQ(job.lastChunks[0].size(), 583u * 7);
    EXPECT_EQ(job.lastChunks[1].size(), 17u * 7 + 9) << "the colour select follows the last skip command";
    qx316::StreamLimits limits;
    limits.maxLines = int64_t(1) << 31;
    const auto d = qx316::decodeStream(job.stream.data(), job.stream.size(), limits);
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.pages[0].plane('C')->rows.count(int64_t(bands) * bh), 1u);
}

TEST(FormFeed, CompletionLeavesEveryPlaneEmpty) {
    // The form ends right after the band being filled: the band is sent with
    // the form feed, and no plane may carry it into the next form.
    const PrintParams banner = makeParams(5, 0, 0, 0, 0, true);
    JobDriver job;
    job.start(banner);
    ASSERT_EQ(job.initPart(banner), 0);
    const int32_t bh = job.context()->bandHeight;
    for (int32_t n = 0; n < 4; ++n) ASSERT_EQ(job.produce(solidLine(job.context(), bh + n, {0x12, 0x34})), 0);
    ASSERT_EQ(job.formFeed(2 * bh), 0);
    const OutputContext *ctx = job.context();
    for (int p = 0; p < ctx->outPlaneCount; ++p) {
        const uint8_t *b = static_cast<const uint8_t *>(ctx->planes[p].bcb.handle[0]);
        EXPECT_EQ(ctx->planes[p].bcb.used[0], 5) << "plane " << p;
        EXPECT_EQ(b[3] | b[4] << 8, 0) << "plane " << p;
    }
    ASSERT_EQ(job.initPart(banner), 0);
    ASSERT_EQ(job.produce(solidLine(job.context(), 1, {0x56})), 0);
    ASSERT_EQ(job.formFeed(2 * bh), 0);
    ASSERT_EQ(job.flush(), 0);
    const auto d = decode(job);
    ASSERT_TRUE(d.ok) << d.error;
    const int inkedPlaneLines = 4 * 7 + 7;  // every plane of both forms, each line once
    EXPECT_EQ(rowCount(d.pages[0]), inkedPlaneLines);
}

TEST(ParkedLines, LongFirstLineOfABandMovesWhole) {
    // The first line of a new band waits in the temporary buffers; one
    // holding more than 32,767 bytes must still move whole.
    JobDriver job;
    job.start(kMode5);
    ASSERT_EQ(job.initPart(kMode5), 0);
    ASSERT_EQ(job.produce(solidLine(job.context(), 0, {0x01})), 0);
    const Line recLine = solidLine(job.context(), 8, {0x02});
    const RasterLineRecord rec = makeRecord(recLine);
    QXVSHandle list = nullptr;
    ASSERT_EQ(OutputProduceTwo(&job.job, &rec, &list), 0);
    OutputContext *ctx = job.context();
    BCB &temp = ctx->tempBcb[0];
    // Grow the parked command of plane 0 past 32,767 bytes with literal items.
    uint8_t *start = static_cast<uint8_t *>(temp.handle[0]);
    const int32_t grow = 40000;
    uint8_t *at = start + temp.used[0] - 1;  // over the end-of-line byte
    for (int32_t i = 0; i < grow; i += 2) {
        at[i] = 0x00;
        at[i + 1] = 0x7E;
    }
    at[grow] = 0x80;
    temp.used[0] += grow;
    addlength(grow, start);
    const std::vector<uint8_t> parked(start, start + temp.used[0]);
    ASSERT_EQ(job.complete(), 0);
    const BCB &plane = ctx->planes[0].bcb;
    ASSERT_EQ(plane.used[0], static_cast<int32_t>(parked.size()));
    EXPECT_EQ(std::vector<uint8_t>(static_cast<uint8_t *>(plane.handle[0]),
                                   static_cast<uint8_t *>(plane.handle[0]) + plane.used[0]),
              parked);
}

}  // namespace
}  // namespace qxtest
