// A copy of everything a job holds, to show that a refused or failed call
// changed nothing.
#pragma once

#include <cstring>
#include <vector>

#include "qxdro316_inner.h"

namespace qxtest {

struct JobState {
    std::vector<uint8_t> context;
    std::vector<std::vector<uint8_t>> buffers;  // content of every plane, temporary and command buffer
    StatusRecord status{};

    static JobState of(QXVSHandle job) {
        JobState s;
        const OutputContext *ctx = static_cast<const OutputContext *>(job);
        const uint8_t *raw = reinterpret_cast<const uint8_t *>(ctx);
        s.context.assign(raw, raw + sizeof(OutputContext));
        auto keep = [&s](const BCB &b) {
            for (int i = 0; i < QXDRO_BCB_SLOTS; ++i) {
                if (!b.handle[i]) continue;
                const uint8_t *p = static_cast<const uint8_t *>(b.handle[i]);
                s.buffers.emplace_back(p, p + b.used[i]);
            }
        };
        for (const PlaneRecord &p : ctx->planes) keep(p.bcb);
        for (const BCB &t : ctx->tempBcb) keep(t);
        for (const BCB *b = &ctx->cmdBcb; b; b = static_cast<const BCB *>(b->nextHandle)) keep(*b);
        s.status = *static_cast<const StatusRecord *>(ctx->statusHandle);
        return s;
    }

    bool operator==(const JobState &o) const {
        return context == o.context && buffers == o.buffers && status.state == o.status.state &&
               status.bannerFlag == o.status.bannerFlag;
    }
};

}  // namespace qxtest
