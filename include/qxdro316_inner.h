/*
 * qxdro316_inner.h - the library's exported inner routines, records and tables.
 *
 * A front end needs only qxdro316.h. This header is for tools and tests that
 * look inside a job: the job context and its buffer control blocks, the
 * status machine, the print-mode tables, the raster coders and the command
 * stream builders. Layouts are fixed: on i386 every record has the byte
 * offsets the library was built for; native builds keep the field order with
 * pointer-sized address and handle fields.
 */
#ifndef QXDRO316_INNER_H
#define QXDRO316_INNER_H

#include "qxdro316.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Buffer control blocks ---------------------------------------------- */

#define QXDRO_BCB_SLOTS 4

/* Up to four equal-size buffers and the link to the next block. */
typedef struct BCB {
    QXVSHandle handle[QXDRO_BCB_SLOTS]; /* buffer handles; null = no buffer */
    uint8_t *start[QXDRO_BCB_SLOTS];    /* locked base addresses; null while unlocked */
    uint8_t *cur[QXDRO_BCB_SLOTS];      /* write positions */
    QXVSHandle nextHandle;              /* next block; null ends the chain */
    struct BCB *next;                   /* locked address of the next block */
    int32_t size;                       /* bytes in every buffer of this block */
    int32_t used[QXDRO_BCB_SLOTS];      /* fill lengths kept while unlocked */
} BCB;

/* ---- Job context --------------------------------------------------------- */

/* What was last written into a plane, or what the current line holds. */
typedef struct RasterInfo {
    int32_t left;        /* first inked byte */
    int32_t right;       /* last inked byte */
    int16_t lineInBand;  /* line within the band; -1 = none yet */
    int32_t lineNumber;  /* raster line on the page */
    int32_t bandIndex;   /* band number; in last, the band being filled */
    int16_t blank;       /* 1 = no ink */
} RasterInfo;

typedef struct PlaneRecord {
    BCB bcb;             /* head of the plane's band buffer chain */
    RasterInfo last;
    RasterInfo cur;
    int16_t pixelShift;  /* log2 pixels per byte: 3, 2, 1 for 1, 2, 4 bits */
    int16_t tglType;     /* dot-pattern type 0..7 */
} PlaneRecord;

#define QXDRO_BLOCK_SIZE 45056   /* plane and temporary buffers */
#define QXDRO_CMD_BLOCK_SIZE 4096

typedef struct OutputContext {
    QXVSHandle listHandle;
    OutputList *list;            /* locked while a call fills it, else null */
    int16_t chainLength;         /* blocks per plane chain */
    PlaneRecord planes[QXDRO_MAX_PLANES];
    BCB tempBcb[QXDRO_MAX_PLANES];
    BCB cmdBcb;
    int16_t bandHeight;          /* 8 or 16 */
    int16_t bcbSlots;            /* always 1 */
    int32_t completeMode;        /* what OutputComplete must finish: 0..4 */
    int16_t headerState;         /* 2 once the job header is out */
    int16_t lastColorSel;        /* 0 none, 1 K only, 2 all planes */
    int16_t banner;
    int32_t formFeedLength;
    int32_t pendingSkip;         /* blank bands not yet sent */
    QXVSHandle statusHandle;
    QXVSHandle itemsHandle;
    int16_t planeMode;
    int16_t inPlaneCount;
    int16_t outPlaneCount;
    int16_t basePlane;
    int32_t randSeed;
    int32_t lineCounter[QXDRO_MAX_PLANES];
    uint8_t planeFlag[QXDRO_MAX_PLANES];
    int16_t printHead;
} OutputContext;

/* ---- Status machine ------------------------------------------------------ */

typedef struct StatusRecord {
    int16_t state;
    int16_t bannerFlag;  /* non-zero: the banner table is in use */
} StatusRecord;

/* Rows of (from-state, to-state, result, 0); an operation's rows start at
 * its offset and end at the first row whose from-state is -1. */
QXDRO_EXPORT extern const int16_t CutPaperTable[22][4];
QXDRO_EXPORT extern const int16_t CutPaperOffset[11];
QXDRO_EXPORT extern const int16_t BannerPaperTable[31][4];
QXDRO_EXPORT extern const int16_t BannerPaperOffset[11];

QXDRO_EXPORT int OpenStatus(QXVSHandle *statusHandle);
QXDRO_EXPORT int ConvCut2BannerStatus(QXVSHandle *statusHandle, const PrintParams *params);
QXDRO_EXPORT int CheckPrevStatus(QXVSHandle *statusHandle, int operation);
QXDRO_EXPORT int SetCurrentStatus(QXVSHandle *statusHandle, int operation);
QXDRO_EXPORT int CloseStatus(QXVSHandle *statusHandle);

/* ---- Buffer chains ------------------------------------------------------- */

QXDRO_EXPORT BCB *GetNextBCB_GMem(BCB *block, int32_t size, int16_t count);
QXDRO_EXPORT BCB *GetNextBCB(BCB *block, int32_t size, int16_t count);
QXDRO_EXPORT BCB *GetFreeBCB(BCB *head);
QXDRO_EXPORT BCB *GetAdrBCB(BCB *head, int32_t index, int16_t modulus);
QXDRO_EXPORT void AllLockBCB_GMem(BCB *head);
QXDRO_EXPORT void AllLockBCB(BCB *head);
QXDRO_EXPORT void AllUnlockBCB_GMem(BCB *head);
QXDRO_EXPORT void AllUnlockBCB(BCB *head);
QXDRO_EXPORT void AllPutBCB_GMem(BCB *head);
QXDRO_EXPORT void AllPutBCB(BCB *head);
QXDRO_EXPORT void lockTempBuf(OutputContext *ctx);
QXDRO_EXPORT void freeTempBuf(OutputContext *ctx, int16_t dispose);

/* ---- Print modes --------------------------------------------------------- */

/* Plane mode (low four bits) at head * 65 + quality * 13 + media. */
QXDRO_EXPORT extern const uint8_t PrintModeTable[195];
/* Per plane: pattern type (high four bits), bits per pixel (low four bits),
 * at head * 455 + quality * 91 + media * 7 + plane. */
QXDRO_EXPORT extern const uint8_t ColorBitTable[1365];

QXDRO_EXPORT int getPrintHead(const PrintParams *params);
QXDRO_EXPORT int GetIndexPrintQuality(int qualityCode);
QXDRO_EXPORT int GetIndexMediaType(int mediaCode);
QXDRO_EXPORT int getPlaneMode(int qualityCode, int mediaCode, int colorMode, int compositeMode, int printHead);
QXDRO_EXPORT int GetBitDepth(int qualityCode, int mediaCode, int colorMode, int plane, int compositeMode,
                             const OutputContext *ctx);
QXDRO_EXPORT int IsTglType(int qualityCode, int mediaCode, int colorMode, int plane, int compositeMode,
                           const OutputContext *ctx);
QXDRO_EXPORT int getInPlaneNum(int planeMode);
QXDRO_EXPORT int getOutPlaneNum(int planeMode);
QXDRO_EXPORT int getBaseClrPos(int planeMode);
QXDRO_EXPORT void setMaxRaster(OutputContext *ctx, const PrintParams *params);

/* ---- Raster coding ------------------------------------------------------- */

/* PackBits-codes count (0..32767) bytes of src into dst, which has room for
 * count + 1 + (count - 1) / 126 bytes; returns the bytes written. */
QXDRO_EXPORT int packbits(uint8_t *dst, const uint8_t *src, int count);
/* Codes n (>= 1) zero bytes as runs; returns 2 * ceil(n / 128). Reads no data. */
QXDRO_EXPORT int LeftPack(uint8_t *dst, int n);
/* Adds amount to the 16-bit length of the raster-line command at header. */
QXDRO_EXPORT void addlength(int amount, uint8_t *header);

/* 1 blank, 0 inked with *left, *right the inked byte span, -1 bad span. */
QXDRO_EXPORT int isNullColor(const PlaneRaster *raster, int16_t pixelShift, int32_t *left, int32_t *right);
QXDRO_EXPORT int PixelRaster2ByteRaster(const uint8_t *data, int16_t bitsPerPixel, int16_t *first, int16_t *count,
                                        uint8_t *edge);
QXDRO_EXPORT int search_edge(const uint8_t *data, int16_t bitsPerPixel, int16_t *first, int16_t *count);

/* Dot-pattern tables: row = level, column = candidate. */
QXDRO_EXPORT extern const uint8_t Ptr2bit3_2[16][4];
QXDRO_EXPORT extern const uint8_t Ptr4bit5_1[5][4];
QXDRO_EXPORT extern const uint8_t Ptr4bit5_2[5][6];
QXDRO_EXPORT extern const uint8_t Ptr44bit9_1_5p[9][3];
QXDRO_EXPORT extern const uint8_t Ptr44bit9_1_2p[9][3];
QXDRO_EXPORT extern const uint8_t Ptr8bit9_1[9][6];
QXDRO_EXPORT extern const uint8_t Table8bit9[9][70];

QXDRO_EXPORT int MyRand(int32_t *seed);
/* Expands count bytes of 4-bit levels into planes[0] (and planes[1] if not
 * null); returns the bytes to code per plane. planes itself is not changed. */
QXDRO_EXPORT int SelectRandomIndex(uint8_t **planes, const uint8_t *src, int16_t count, int16_t type,
                                   OutputContext *ctx);
QXDRO_EXPORT int SetPtrEqual(int16_t type, uint8_t **cursors, const uint8_t *src, int16_t count,
                             OutputContext *ctx);
QXDRO_EXPORT int SetPtrDouble(int16_t type, uint8_t **cursors, const uint8_t *src, int16_t count,
                              OutputContext *ctx);
QXDRO_EXPORT void SetPtr2bit3_2(uint8_t **cursors, int level, OutputContext *ctx, int half);
QXDRO_EXPORT void SetPtr4bit5_1(uint8_t **cursors, int level, OutputContext *ctx, int half);
QXDRO_EXPORT void SetPtr4bit5_2(uint8_t **cursors, int level, OutputContext *ctx, int half);
QXDRO_EXPORT void SetPtr44bit9_1(uint8_t **cursors, int level, OutputContext *ctx, int half);
QXDRO_EXPORT int SetPtr8bit9_1(int level, OutputContext *ctx);
QXDRO_EXPORT int SetPtr8bit9_2(int level, OutputContext *ctx);

/* ---- Command stream ------------------------------------------------------ */

QXDRO_EXPORT void makeHeaderCommand(OutputContext *ctx, BCB *cmd);
QXDRO_EXPORT void setCmd_ESC_b(OutputContext *ctx);
/* Writes a raster skip command for count (1..32767) bands; returns 7, or 0
 * with nothing written for count <= 0. */
QXDRO_EXPORT int WriteSkipCommand(int count, uint8_t *dst);
QXDRO_EXPORT int getPosition_K(int planeMode);
/* Emits the band being filled into the list: 0, or QXDRO_ERR_MEMORY when no
 * command block can be had. */
QXDRO_EXPORT int OutDataSet(OutputContext *ctx);

/* ---- Band intake and line encoding ---------------------------------------- */

QXDRO_EXPORT int GetImageInfo(OutputContext *ctx, const RasterLineRecord *line);
QXDRO_EXPORT int ProcDispatcher(OutputContext *ctx);
QXDRO_EXPORT int TypeA_Proc(OutputContext *ctx, const RasterLineRecord *line, int writeMode);
QXDRO_EXPORT int TypeB_Proc(OutputContext *ctx, const RasterLineRecord *line);
QXDRO_EXPORT int TypeC_Proc(OutputContext *ctx, const RasterLineRecord *line);
/* Appends one line of one plane to targets[0] (and targets[1] if not null). */
QXDRO_EXPORT int WriteRaster2Color(RasterInfo *cur, const uint8_t *data, int tglType, OutputContext *ctx,
                                   BCB **targets);

#ifdef __cplusplus
}
#endif

#endif /* QXDRO316_INNER_H */
