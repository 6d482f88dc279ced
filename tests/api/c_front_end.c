/* A front end written in C against the public headers alone: it prints one
 * short page and checks the codes and the first bytes it is handed. */
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "qxdro316.h"
#include "qxdro316_inner.h"

#if defined(__i386__)
_Static_assert(sizeof(RasterLineRecord) == 88, "RasterLineRecord");
_Static_assert(sizeof(PlaneRaster) == 12, "PlaneRaster");
_Static_assert(sizeof(ListItem) == 8, "ListItem");
_Static_assert(sizeof(OutputList) == 12, "OutputList");
_Static_assert(sizeof(BCB) == 76, "BCB");
_Static_assert(sizeof(OutputContext) == 1600, "OutputContext");
#endif
_Static_assert(offsetof(PrintParams, compositeMode) == 106, "PrintParams");

static int failures = 0;

static void expect(int got, int want, const char *what) {
    if (got != want) {
        printf("%s: got %d, want %d\n", what, got, want);
        ++failures;
    }
}

static size_t sendList(QXVSHandle list, unsigned char *out, size_t at) {
    const OutputList *l = (const OutputList *)list;
    for (int i = 0; i < l->count; ++i) {
        memcpy(out + at, l->items[i].data, l->items[i].length);
        at += l->items[i].length;
    }
    return at;
}

int main(void) {
    static unsigned char stream[1 << 16];
    size_t sent = 0;
    QXVSHandle job = NULL, list = NULL;
    PrintParams params;
    memset(&params, 0, sizeof params);
    params.printQuality = 3; /* four 1-bit planes, band height 8 */

    expect(OutputOpen(&job), QXDRO_OPENED, "OutputOpen");
    expect(OutputInit(), QXDRO_ERR_ARGUMENT, "OutputInit");
    expect(OutputProduce(&job), QXDRO_ERR_STATE, "OutputProduce before setup");
    expect(OutputInitTwo(&job, &params, 315), QXDRO_ERR_ARGUMENT, "another model");
    expect(OutputInitTwo(&job, &params, QXDRO_MODEL_CODE), QXDRO_OK, "OutputInitTwo");
    expect(OutputInitPart(&job, &params), QXDRO_OK, "OutputInitPart");

    unsigned char bytes[4] = {0x00, 0xF0, 0x0F, 0x00};
    RasterLineRecord line;
    memset(&line, 0, sizeof line);
    for (int p = 0; p < 4; ++p) {
        line.planes[p].data = bytes;
        line.planes[p].width = 32;
    }
    for (int n = 0; n < 3; ++n) {
        line.lineNumber = n;
        expect(OutputProduceTwo(&job, &line, &list), QXDRO_OK, "OutputProduceTwo");
        sent = sendList(list, stream, sent);
        expect(OutputComplete(&job), QXDRO_OK, "OutputComplete");
    }
    expect(OutputFlush(&job, &list), QXDRO_OK, "OutputFlush");
    sent = sendList(list, stream, sent);
    expect(OutputComplete(&job), QXDRO_OK, "OutputComplete after flush");
    OutputClose(&job);
    expect(job == NULL, 1, "handle cleared by OutputClose");

    static const unsigned char head[18] = {0x1B, 0x28, 0x62, 0x01, 0x00, 0x01, 0x1B, 0x28, 0x49,
                                           0x01, 0x00, 0x01, 0x1B, 0x28, 0x4A, 0x01, 0x00, 0x08};
    expect(sent > sizeof head && memcmp(stream, head, sizeof head) == 0, 1, "set-up command and job header first");
    expect((int)strlen(QXOUTPUTversion), 29, "version string");
    printf("%d passed, %d failed\n", failures ? 0 : 1, failures ? 1 : 0);
    return failures ? 1 : 0;
}
