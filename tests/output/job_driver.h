// A front end for tests: drives a job through the exported calls and keeps
// every chunk it was handed, in order, as the printer would receive them.
#pragma once

#include <cstdint>
#include <vector>

#include "qxdro316_inner.h"

namespace qxtest {

PrintParams makeParams(int quality, int media, int head = 0, int colorMode = 0, int composite = 0,
                       bool banner = false);

// One input plane line held by the test.
struct PlaneLine {
    std::vector<uint8_t> bytes;
    int16_t width = 0;  // pixels
    int16_t leftOffset = 0;
    int16_t rightMargin = 0;
};

struct Line {
    int32_t number = 0;
    std::vector<PlaneLine> planes;  // one per input plane; empty bytes = null data
};

// The record points into `line`, which must outlive it.
RasterLineRecord makeRecord(const Line &line);
RasterLineRecord makeRecord(const Line &&line) = delete;

class JobDriver {
public:
    JobDriver() = default;
    ~JobDriver() { OutputClose(&job); }
    JobDriver(const JobDriver &) = delete;
    JobDriver &operator=(const JobDriver &) = delete;

    // Open and bind; EXPECTs success.
    void start(const PrintParams &params);
    int initPart(const PrintParams &params) { return OutputInitPart(&job, &params); }
    // Produce + send + complete. Returns the producing call's result; the
    // completion runs only after success.
    int produce(const Line &line);
    int flush();
    int formFeed(int32_t formLength);
    int complete() { return OutputComplete(&job); }

    OutputContext *context() const { return static_cast<OutputContext *>(job); }
    // Appends the chunks of the list behind `list` to the stream.
    void take(QXVSHandle list);

    QXVSHandle job = nullptr;
    std::vector<uint8_t> stream;
    std::vector<std::vector<uint8_t>> lastChunks;  // the chunks of the last list
};

}  // namespace qxtest
