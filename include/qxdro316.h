/*
 * qxdro316.h - raster output stage for the model 316 ink-jet printer.
 *
 * A driver front end opens a job, binds it to the model, sets up each page
 * from its print parameters, hands over one raster line at a time and writes
 * every returned chunk list to the printer unchanged.
 *
 * Call order of a job (any other order is refused with QXDRO_ERR_STATE):
 *   OutputOpen
 *   OutputInitTwo (once, model code 316)
 *   per page:   OutputInitPart
 *               per raster line: OutputProduceTwo (or OutputProduce), OutputComplete
 *               cut sheets:  OutputFlush, OutputComplete
 *               banner:      OutputFormFeed, OutputComplete
 *   banner job end: OutputFlush, OutputComplete
 *   OutputClose (allowed at any time)
 *
 * The chunks of a returned list point into the job's own buffers; they stay
 * valid until the next call on the same job, which is always OutputComplete.
 * Distinct jobs are independent and may be driven from distinct threads.
 */
#ifndef QXDRO316_H
#define QXDRO316_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QXDRO_EXPORT __attribute__((visibility("default")))

/* Result codes (16-bit values returned in an int). */
#define QXDRO_OK 0                 /* success */
#define QXDRO_OPENED 262           /* OutputOpen: the job context was created */
#define QXDRO_ERR_MEMORY (-108)    /* memory exhausted; null job handle in the producing calls */
#define QXDRO_ERR_ARGUMENT (-128)  /* not supported or bad argument (null record, wrong model, ...) */
#define QXDRO_ERR_MODE (-148)      /* print mode, bit depth or raster span not supported */
#define QXDRO_ERR_STATE (-256)     /* call not allowed in the job's current state; nothing changed */
#define QXDRO_ERR_OPEN (-32506)    /* OutputOpen: the job context could not be created */

/* The model code OutputInitTwo accepts. */
#define QXDRO_MODEL_CODE 316

/* A handle names a zero-filled memory block; locking it yields its address. */
typedef void *QXVSHandle;

/* The caller's print parameters. Only the named fields are read; the rest of
 * the record is the front end's own. */
typedef struct PrintParams {
    int16_t reserved0;
    int16_t mediaType;       /* media type code */
    int16_t reserved4[6];
    int16_t colorMode;       /* 1 or 2: single-plane (black) printing where the media allows */
    int16_t reserved18[4];
    int16_t bannerPaper;     /* 1 = banner (continuous) paper, anything else = cut sheets */
    int16_t reserved28[33];
    int16_t printQuality;    /* print quality code */
    int16_t reserved96[4];
    int16_t headCode;        /* print head code */
    int16_t compositeMode;   /* 1 = composite printing */
} PrintParams;

/* One input plane of a raster line: packed pixels, leftmost in the high bits. */
typedef struct PlaneRaster {
    const uint8_t *data;     /* the line's bytes; null = nothing on this plane */
    int16_t width;           /* pixels in the line */
    int16_t leftOffset;      /* first pixel that may print */
    int16_t rightMargin;     /* pixels at the right end that never print */
    int16_t reserved;
} PlaneRaster;

#define QXDRO_MAX_PLANES 7

/* One raster line of every input plane. */
typedef struct RasterLineRecord {
    int32_t lineNumber;      /* raster line on the page, 0 at the top */
    PlaneRaster planes[QXDRO_MAX_PLANES];
} RasterLineRecord;

/* One chunk of the printer command stream. */
typedef struct ListItem {
    uint8_t *data;           /* first byte of the chunk */
    uint16_t length;         /* bytes in the chunk */
    uint16_t reserved;
} ListItem;

#define QXDRO_LIST_ITEMS 154

/* The chunks a call produced, to be written to the printer in order. */
typedef struct OutputList {
    int16_t count;           /* valid entries in items */
    int16_t reserved;
    QXVSHandle itemsHandle;  /* handle of the item array (equal to its address) */
    ListItem *items;         /* the item array */
} OutputList;

/* Job calls. h is the address of the caller's variable holding the job
 * handle; a null h counts as a variable holding a null handle. */

/* Creates a job; *h receives its handle. QXDRO_OPENED or QXDRO_ERR_OPEN. */
QXDRO_EXPORT int OutputOpen(QXVSHandle *h);
/* Unsupported entry: always QXDRO_ERR_ARGUMENT. */
QXDRO_EXPORT int OutputInit(void);
/* Binds the job to the model (and to banner paper when params->bannerPaper is 1).
 * 0; QXDRO_ERR_ARGUMENT for a null record or another model; QXDRO_ERR_STATE;
 * 0 without effect for a null handle. */
QXDRO_EXPORT int OutputInitTwo(QXVSHandle *h, const PrintParams *params, int modelCode);
/* Sets up a page. 0; QXDRO_ERR_MODE; QXDRO_ERR_MEMORY; QXDRO_ERR_ARGUMENT;
 * QXDRO_ERR_STATE; 0 without effect for a null handle. */
QXDRO_EXPORT int OutputInitPart(QXVSHandle *h, const PrintParams *params);
/* Takes one raster line; *listOut receives the handle of the job's OutputList.
 * 0; QXDRO_ERR_MEMORY; QXDRO_ERR_ARGUMENT; QXDRO_ERR_MODE; QXDRO_ERR_STATE.
 * A failed call changes nothing. */
QXDRO_EXPORT int OutputProduceTwo(QXVSHandle *h, const RasterLineRecord *line, QXVSHandle *listOut);
/* Counts as a produced line without producing anything. 0; QXDRO_ERR_MEMORY; QXDRO_ERR_STATE. */
QXDRO_EXPORT int OutputProduce(QXVSHandle *h);
/* Finishes the previous producing call once its list was sent. 0; QXDRO_ERR_MEMORY; QXDRO_ERR_STATE. */
QXDRO_EXPORT int OutputComplete(QXVSHandle *h);
/* Ends a cut-sheet page (or a banner job). 0; QXDRO_ERR_MEMORY; QXDRO_ERR_ARGUMENT; QXDRO_ERR_STATE. */
QXDRO_EXPORT int OutputFlush(QXVSHandle *h, QXVSHandle *listOut);
/* Ends a banner form of formLength raster lines. 0; QXDRO_ERR_MEMORY;
 * QXDRO_ERR_ARGUMENT; QXDRO_ERR_MODE (cut sheets); QXDRO_ERR_STATE. */
QXDRO_EXPORT int OutputFormFeed(QXVSHandle *h, QXVSHandle *listOut, int32_t formLength);
/* Releases the job; *h is null afterwards. */
QXDRO_EXPORT void OutputClose(QXVSHandle *h);

/* Portable layer: memory blocks. Every block is zero-filled. */
QXDRO_EXPORT QXVSHandle QXVSNewHNDL(int32_t size);        /* null for size <= 0 or no memory */
QXDRO_EXPORT void QXVSDisposeHNDL(QXVSHandle *handleVar); /* frees and nulls *handleVar */
QXDRO_EXPORT void *QXVSLockHNDL(QXVSHandle h);            /* the block's address */
QXDRO_EXPORT void QXVSUnlockHNDL(QXVSHandle h);
QXDRO_EXPORT void *QXVSNewPTR(int32_t size);              /* null for size <= 0 or no memory */
QXDRO_EXPORT void QXVSDisposePTR(void *p);
/* Query 1 stores 3 and returns 0; other queries store 0 and return -128;
 * a null result address returns -128. */
QXDRO_EXPORT int32_t QXVSGetSystemInfo(int32_t query, int32_t *result);

/* Portable layer: byte ranges. Byte-order codes: 0 native, 1 big, 2 little. */
QXDRO_EXPORT int32_t QXVSCheckEndian(int32_t first, int32_t second); /* 0 same, 1 differ, -128 bad code */
QXDRO_EXPORT void QXVSSwapData(void *data, int32_t unitSize, int32_t unitCount); /* units of 2 or 4 */
QXDRO_EXPORT void QXVSCopyData(const void *src, void *dst, int32_t count);      /* overlap-safe */
QXDRO_EXPORT void QXVSSetData(void *dst, int value, int32_t count);
QXDRO_EXPORT int32_t QXVSCompData(const void *a, const void *b, int32_t count); /* 1 equal, 0 not, -128 null */

/* Version strings. */
QXDRO_EXPORT extern const char QXPARMversion[28];
QXDRO_EXPORT extern const char QXVSversion[26];
QXDRO_EXPORT extern const char QXOUTPUTversion[30];

#ifdef __cplusplus
}
#endif

#endif /* QXDRO316_H */
