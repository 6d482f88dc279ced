#include "job_driver.h"

#include <gtest/gtest.h>

namespace qxtest {

PrintParams makeParams(int quality, int media, int head, int colorMode, int composite, bool banner) {
    PrintParams p{};
    p.printQuality = static_cast<int16_t>(quality);
    p.mediaType = static_cast<int16_t>(media);
    p.headCode = static_cast<int16_t>(head);
    p.colorMode = static_cast<int16_t>(colorMode);
    p.compositeMode = static_cast<int16_t>(composite);
    p.bannerPaper = banner ? 1 : 0;
    return p;
}

RasterLineRecord makeRecord(const Line &line) {
    RasterLineRecord r{};
    r.lineNumber = line.number;
    for (size_t d = 0; d < line.planes.size() && d < QXDRO_MAX_PLANES; ++d) {
        const PlaneLine &pl = line.planes[d];
        r.planes[d].data = pl.bytes.empty() ? nullptr : pl.bytes.data();
        r.planes[d].width = pl.width;
        r.planes[d].leftOffset = pl.leftOffset;
        r.planes[d].rightMargin = pl.rightMargin;
    }
    return r;
}

void JobDriver::start(const PrintParams &params) {
    ASSERT_EQ(OutputOpen(&job), QXDRO_OPENED);
    ASSERT_EQ(OutputInitTwo(&job, &params, QXDRO_MODEL_CODE), 0);
}

void JobDriver::take(QXVSHandle list) {
    lastChunks.clear();
    const OutputList *l = static_cast<const OutputList *>(list);
    for (int i = 0; i < l->count; ++i) {
        const ListItem &item = l->items[i];
        lastChunks.emplace_back(item.data, item.data + item.length);
        stream.insert(stream.end(), item.data, item.data + item.length);
    }
}

int JobDriver::produce(const Line &line) {
    const RasterLineRecord record = makeRecord(line);
    QXVSHandle list = nullptr;
    const int r = OutputProduceTwo(&job, &record, &list);
    if (r != 0) return r;
    take(list);
    return OutputComplete(&job);
}

int JobDriver::flush() {
    QXVSHandle list = nullptr;
    const int r = OutputFlush(&job, &list);
    if (r != 0) return r;
    take(list);
    return OutputComplete(&job);
}

int JobDriver::formFeed(int32_t formLength) {
    QXVSHandle list = nullptr;
    const int r = OutputFormFeed(&job, &list, formLength);
    if (r != 0) return r;
    take(list);
    return OutputComplete(&job);
}

}  // namespace qxtest
