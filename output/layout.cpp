// Byte layouts of the caller-visible records. On i386 these are the offsets
// front ends and tools were built against; native builds keep the field
// order with pointer-sized address and handle fields.
#include <cstddef>

#include "qxdro316_inner.h"

#define QX_AT(type, field, i386, lp64) \
    static_assert(offsetof(type, field) == (sizeof(void *) == 4 ? (i386) : (lp64)), #type "." #field)
#define QX_SIZE(type, i386, lp64) static_assert(sizeof(type) == (sizeof(void *) == 4 ? (i386) : (lp64)), #type)

QX_AT(PrintParams, mediaType, 2, 2);
QX_AT(PrintParams, colorMode, 16, 16);
QX_AT(PrintParams, bannerPaper, 26, 26);
QX_AT(PrintParams, printQuality, 94, 94);
QX_AT(PrintParams, headCode, 104, 104);
QX_AT(PrintParams, compositeMode, 106, 106);
QX_SIZE(PrintParams, 108, 108);

QX_AT(PlaneRaster, data, 0, 0);
QX_AT(PlaneRaster, width, 4, 8);
QX_AT(PlaneRaster, leftOffset, 6, 10);
QX_AT(PlaneRaster, rightMargin, 8, 12);
QX_SIZE(PlaneRaster, 12, 16);
QX_AT(RasterLineRecord, lineNumber, 0, 0);
QX_AT(RasterLineRecord, planes, 4, 8);
QX_SIZE(RasterLineRecord, 88, 120);

QX_AT(ListItem, data, 0, 0);
QX_AT(ListItem, length, 4, 8);
QX_SIZE(ListItem, 8, 16);
QX_AT(OutputList, count, 0, 0);
QX_AT(OutputList, itemsHandle, 4, 8);
QX_AT(OutputList, items, 8, 16);
QX_SIZE(OutputList, 12, 24);

QX_AT(BCB, handle, 0, 0);
QX_AT(BCB, start, 16, 32);
QX_AT(BCB, cur, 32, 64);
QX_AT(BCB, nextHandle, 48, 96);
QX_AT(BCB, next, 52, 104);
QX_AT(BCB, size, 56, 112);
QX_AT(BCB, used, 60, 116);
QX_SIZE(BCB, 76, 136);

QX_AT(StatusRecord, state, 0, 0);
QX_AT(StatusRecord, bannerFlag, 2, 2);
QX_SIZE(StatusRecord, 4, 4);

QX_AT(RasterInfo, left, 0, 0);
QX_AT(RasterInfo, right, 4, 4);
QX_AT(RasterInfo, lineInBand, 8, 8);
QX_AT(RasterInfo, lineNumber, 12, 12);
QX_AT(RasterInfo, bandIndex, 16, 16);
QX_AT(RasterInfo, blank, 20, 20);
QX_SIZE(RasterInfo, 24, 24);

QX_AT(PlaneRecord, bcb, 0, 0);
QX_AT(PlaneRecord, last, 76, 136);
QX_AT(PlaneRecord, cur, 100, 160);
QX_AT(PlaneRecord, pixelShift, 124, 184);
QX_AT(PlaneRecord, tglType, 126, 186);
QX_SIZE(PlaneRecord, 128, 192);

QX_AT(OutputContext, listHandle, 0, 0);
QX_AT(OutputContext, list, 4, 8);
QX_AT(OutputContext, chainLength, 8, 16);
QX_AT(OutputContext, planes, 12, 24);
QX_AT(OutputContext, tempBcb, 908, 1368);
QX_AT(OutputContext, cmdBcb, 1440, 2320);
QX_AT(OutputContext, bandHeight, 1516, 2456);
QX_AT(OutputContext, bcbSlots, 1518, 2458);
QX_AT(OutputContext, completeMode, 1520, 2460);
QX_AT(OutputContext, headerState, 1524, 2464);
QX_AT(OutputContext, lastColorSel, 1526, 2466);
QX_AT(OutputContext, banner, 1528, 2468);
QX_AT(OutputContext, formFeedLength, 1532, 2472);
QX_AT(OutputContext, pendingSkip, 1536, 2476);
QX_AT(OutputContext, statusHandle, 1540, 2480);
QX_AT(OutputContext, itemsHandle, 1544, 2488);
QX_AT(OutputContext, planeMode, 1548, 2496);
QX_AT(OutputContext, inPlaneCount, 1550, 2498);
QX_AT(OutputContext, outPlaneCount, 1552, 2500);
QX_AT(OutputContext, basePlane, 1554, 2502);
QX_AT(OutputContext, randSeed, 1556, 2504);
QX_AT(OutputContext, lineCounter, 1560, 2508);
QX_AT(OutputContext, planeFlag, 1588, 2536);
QX_AT(OutputContext, printHead, 1596, 2544);
QX_SIZE(OutputContext, 1600, 2552);
