// Creating, binding and closing a job, and the status-only producing call.
#include "job_frame.h"

namespace {

// Releases whatever a job context holds (every field may be null).
void releaseJob(OutputContext *ctx) {
    CloseStatus(&ctx->statusHandle);
    for (PlaneRecord &plane : ctx->planes) AllPutBCB_GMem(&plane.bcb);
    freeTempBuf(ctx, 1);
    AllPutBCB_GMem(&ctx->cmdBcb);
    QXVSDisposeHNDL(&ctx->itemsHandle);
    QXVSDisposeHNDL(&ctx->listHandle);
}

// The head command block: one 4,096-byte buffer, empty and unlocked.
bool makeCommandHead(BCB *cmd) {
    cmd->size = QXDRO_CMD_BLOCK_SIZE;
    cmd->handle[0] = QXVSNewHNDL(QXDRO_CMD_BLOCK_SIZE);
    if (!cmd->handle[0]) return false;
    cmd->start[0] = static_cast<uint8_t *>(qxvs::lock(cmd->handle[0]));
    cmd->cur[0] = cmd->start[0];
    cmd->used[0] = 0;
    qxvs::unlock(cmd->handle[0]);
    cmd->start[0] = nullptr;
    cmd->cur[0] = nullptr;
    return true;
}

bool buildJob(OutputContext *ctx) {
    ctx->listHandle = QXVSNewHNDL(static_cast<int32_t>(sizeof(OutputList)));
    if (!ctx->listHandle) return false;
    ctx->itemsHandle = QXVSNewHNDL(static_cast<int32_t>(sizeof(ListItem) * QXDRO_LIST_ITEMS));
    if (!ctx->itemsHandle) return false;
    if (!makeCommandHead(&ctx->cmdBcb)) return false;
    return OpenStatus(&ctx->statusHandle) == 0;
}

}  // namespace

extern "C" {

int OutputOpen(QXVSHandle *h) {
    if (!h) return QXDRO_ERR_OPEN;
    *h = nullptr;
    QXVSHandle job = QXVSNewHNDL(static_cast<int32_t>(sizeof(OutputContext)));
    if (!job) return QXDRO_ERR_OPEN;
    OutputContext *ctx = static_cast<OutputContext *>(qxvs::lock(job));
    if (!buildJob(ctx)) {
        releaseJob(ctx);
        qxvs::unlock(job);
        QXVSDisposeHNDL(&job);
        return QXDRO_ERR_OPEN;
    }
    *h = job;
    qxvs::unlock(job);
    return QXDRO_OPENED;
}

int OutputInit(void) { return QXDRO_ERR_ARGUMENT; }

int OutputInitTwo(QXVSHandle *h, const PrintParams *params, int modelCode) {
    struct InitTwo : qxout::NoChecks {
        const PrintParams *params;
        int modelCode;
        // The switch to banner paper happens at the door and stays even
        // when the model code is refused.
        int door(OutputContext *ctx) {
            if (!params) return QXDRO_ERR_ARGUMENT;
            return qxout::refused(ConvCut2BannerStatus(&ctx->statusHandle, params)) ? QXDRO_ERR_STATE : 0;
        }
        int check(OutputContext *) {
            return static_cast<int16_t>(modelCode) == QXDRO_MODEL_CODE ? 0 : QXDRO_ERR_ARGUMENT;
        }
        int work(OutputContext *ctx) {
            for (PlaneRecord &plane : ctx->planes) AllPutBCB_GMem(&plane.bcb);
            freeTempBuf(ctx, 1);
            ctx->banner = 0;
            return 0;
        }
    };
    return qxout::jobCall(h, 0, qxstatus::kOpInitTwo, InitTwo{{}, params, modelCode});
}

int OutputProduce(QXVSHandle *h) {
    struct Produce : qxout::NoChecks {
        // Nothing produced: the completion after it only commits the
        // current line, which already equals the last one.
        int work(OutputContext *ctx) {
            ctx->completeMode = qxout::kSameBand;
            return 0;
        }
    };
    return qxout::jobCall(h, QXDRO_ERR_MEMORY, qxstatus::kOpProduce, Produce{});
}

void OutputClose(QXVSHandle *h) {
    OutputContext *ctx = qxout::lockJob(h);
    if (!ctx) {
        if (h) *h = nullptr;
        return;
    }
    releaseJob(ctx);
    qxout::unlockJob(h);
    QXVSDisposeHNDL(h);
}

}  // extern "C"
