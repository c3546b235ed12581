/*
 * The common interface of every Vantre QBL codec library.
 *
 * A codec library is a shared object that exports eleven functions: open an
 * encoder or a decoder for a PCM format, push one frame at a time through it,
 * close it, describe itself, and register itself.  Callers bind the functions
 * either by name (`vltr<model>_OpenEncoder`, ...) or by ordinal through the
 * table `vntr_ordinals` that every library exports beside them.
 *
 * Records that cross the boundary are byte-packed and little-endian.  The only
 * field whose width follows the platform is `CodecFormat.handle`, which holds a
 * pointer; every other field keeps its fixed width and order.
 *
 * Usable from C (C99) and C++.
 */
#ifndef VNTR_CODEC_API_H
#define VNTR_CODEC_API_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Status codes -------------------------------------------------------
 * Every entry point except GetErrorString and the registration functions
 * returns one of these.  GetErrorString turns them into text; the texts begin
 * with a blank because callers append them to their own messages. */
typedef int32_t CodecStatus;

#define CODEC_OK 0                  /* " Function terminated succesfully." */
#define CODEC_ERR_GENERAL 1         /* " Something went wrong." */
#define CODEC_ERR_HANDLE 2          /* " Invalid handle passed to function." */
#define CODEC_ERR_POINTER 3         /* " Invalid pointer passed to function." */
#define CODEC_ERR_ARGUMENT 4        /* " Bad argument passed to function." */
#define CODEC_ERR_MEMORY 5          /* " Memory allocation error." */
#define CODEC_ERR_UNSUPPORTED 6     /* " Functionality not supported." */
#define CODEC_ERR_NOT_IMPLEMENTED 7 /* " Functionality not yet implemented." */
#define CODEC_ERR_BUSY 8            /* " Busy." */
#define CODEC_ERR_FORMAT 9          /* " Format not supported." */
#define CODEC_ERR_OPTION 10         /* " Option not supported." */
#define CODEC_ERR_NEED_DATA 11      /* " Need more data to proceed." */

/* ---- Format word: describes the caller's PCM ----------------------------
 * One sample-type flag, one channel flag, one sample-width flag and one
 * sample-rate flag; a CodecInfo formatMask may hold several of each kind. */
#define CODEC_FMT_PCM 0x2u
#define CODEC_FMT_MONO 0x100u
#define CODEC_FMT_STEREO 0x200u
#define CODEC_FMT_8BIT 0x1000u
#define CODEC_FMT_16BIT 0x2000u
#define CODEC_FMT_8KHZ 0x10000u
#define CODEC_FMT_11KHZ 0x20000u
#define CODEC_FMT_12KHZ 0x40000u
#define CODEC_FMT_16KHZ 0x80000u
#define CODEC_FMT_22KHZ 0x100000u
#define CODEC_FMT_24KHZ 0x200000u
#define CODEC_FMT_32KHZ 0x400000u
#define CODEC_FMT_44KHZ 0x800000u
#define CODEC_FMT_48KHZ 0x1000000u
#define CODEC_FMT_TYPE_MASK 0x1Fu
#define CODEC_FMT_CHANNEL_MASK 0x300u
#define CODEC_FMT_WIDTH_MASK 0x3000u
#define CODEC_FMT_RATE_MASK 0x1FF0000u
/* 16-bit mono linear PCM; a rate flag completes it. */
#define CODEC_FMT_PCM16_MONO (CODEC_FMT_PCM | CODEC_FMT_MONO | CODEC_FMT_16BIT)
/* 16-bit mono linear PCM at 8000 Hz (0x12102): the format of the speech
 * codecs, of a recording by default, and of every 8 kHz copy the evaluator
 * makes. */
#define CODEC_FMT_PCM16_MONO_8KHZ (CODEC_FMT_PCM16_MONO | CODEC_FMT_8KHZ)

/* ---- Option word: modes at open, per-frame choices per call ------------- */
#define CODEC_OPT_VAD 0x1u      /* voice-activity detection on */
#define CODEC_OPT_4800 0x10000u /* the dual-rate coder fixed at 4.8 kbit/s */
#define CODEC_OPT_6400 0x20000u /* ... fixed at 6.4 kbit/s; neither: switched per frame */
#define CODEC_OPT_RATES (CODEC_OPT_4800 | CODEC_OPT_6400)

/* ---- Codec ids: CodecFormat.codecId names a codec and its mode ----------- */
#define CODEC_ID_VT15 2034
#define CODEC_ID_VT180 2038
#define CODEC_ID_VT250F11 2039
#define CODEC_ID_VT500F22 2040
/* A tuned encoder's ids are those of the library whose streams it writes,
 * this far on, so that a coded file says which encoder wrote it. */
#define CODEC_ID_TUNED_OFFSET 200
#define CODEC_ID_VT15_HQ (CODEC_ID_VT15 + CODEC_ID_TUNED_OFFSET)

/* The input count that asks an encoder to flush what it still holds. */
#define CODEC_END_OF_STREAM 0xFFFFu

/* Whether the encoder of a codec id holds samples back, so that its caller
 * makes one more Encode call with *inBytes = CODEC_END_OF_STREAM after the
 * last frame: VT15 (which codes one frame behind its input) with its tuned
 * encoder, and the audio coders. */
static inline int CodecNeedsFlush(int32_t codecId) {
    return codecId == CODEC_ID_VT15 || codecId == CODEC_ID_VT15_HQ || codecId == CODEC_ID_VT180 ||
           codecId == CODEC_ID_VT250F11 || codecId == CODEC_ID_VT500F22;
}

/* Direction argument of GetCodecData (it changes no result). */
#define CODEC_DIRECTION_DECODER 0u
#define CODEC_DIRECTION_ENCODER 1u

/* Results of the registration functions. */
#define CODEC_REG_OK 0
#define CODEC_REG_E_FAIL ((int32_t)0x80040201u)

typedef void *CodecHandle;

#pragma pack(push, 1)

/* Filled by OpenEncoder, OpenDecoder (all fields) and GetCodecData (all but
 * handle).  With a 32-bit handle the record is 30 bytes. */
typedef struct CodecFormat {
    CodecHandle handle;    /* written by the open functions only */
    uint32_t optionMask;   /* flags each Encode/Decode call may carry */
    uint32_t bitRate;      /* nominal, bit/s */
    uint32_t peakBitRate;  /* highest, bit/s */
    uint32_t delaySamples; /* informational */
    int16_t codecId;       /* codec and mode */
    uint16_t frameBytes;   /* PCM bytes per frame */
    uint16_t maxCodedBytes;
    float minCodedBytes; /* fewest coded bytes a Decode call needs */
} CodecFormat;

/* Filled by GetCodecInfo; 124 bytes. */
typedef struct CodecInfo {
    uint32_t formatMask;
    uint32_t optionMask;
    uint32_t version; /* major << 16 | minor */
    uint32_t reserved0;
    uint32_t capabilityFlags[4];
    uint16_t reserved1;
    char description[80];
    char shortName[10];
} CodecInfo;

#pragma pack(pop)

/* ---- Entry points, as function-pointer types ---------------------------- */
typedef CodecStatus (*CodecOpenFn)(uint32_t format, uint32_t options, CodecFormat *out);
typedef CodecStatus (*CodecEncodeFn)(CodecHandle handle, uint32_t flags, const void *in, uint16_t *inBytes,
                                     uint8_t *out, uint16_t *outBytes);
typedef CodecStatus (*CodecDecodeFn)(CodecHandle handle, uint32_t flags, const uint8_t *in, uint16_t *inBytes,
                                     void *out, uint16_t *outBytes);
typedef CodecStatus (*CodecCloseFn)(CodecHandle handle);
typedef CodecStatus (*CodecGetInfoFn)(CodecInfo *out);
typedef CodecStatus (*CodecGetDataFn)(uint32_t direction, uint32_t format, uint32_t options, CodecFormat *out);
typedef const char *(*CodecErrorStringFn)(CodecStatus status);
typedef int32_t (*CodecRegisterFn)(void);

/* ---- Export ordinals ---------------------------------------------------- */
#define CODEC_ORD_OPEN_ENCODER 1
#define CODEC_ORD_ENCODE 2
#define CODEC_ORD_CLOSE_ENCODER 3
#define CODEC_ORD_OPEN_DECODER 4
#define CODEC_ORD_DECODE 5
#define CODEC_ORD_CLOSE_DECODER 6
#define CODEC_ORD_GET_CODEC_INFO 7
#define CODEC_ORD_GET_CODEC_DATA 8
#define CODEC_ORD_GET_ERROR_STRING 9
#define CODEC_ORD_REGISTER_SERVER 10
#define CODEC_ORD_UNREGISTER_SERVER 11
#define CODEC_ORD_COUNT 11

/* The ordinal table: entry[n - 1] is the function of ordinal n.  Cast an entry
 * to the function-pointer type of its ordinal before calling it. */
typedef void (*CodecAnyFn)(void);
typedef struct CodecOrdinalTable {
    uint32_t count; /* CODEC_ORD_COUNT */
    CodecAnyFn entry[CODEC_ORD_COUNT];
} CodecOrdinalTable;

#define CODEC_ORDINAL_TABLE_SYMBOL "vntr_ordinals"

#ifdef __cplusplus
} /* extern "C" */

static_assert(sizeof(CodecInfo) == 124, "CodecInfo is 124 bytes");
static_assert(offsetof(CodecInfo, optionMask) == 4 && offsetof(CodecInfo, version) == 8 &&
                  offsetof(CodecInfo, capabilityFlags) == 16 && offsetof(CodecInfo, reserved1) == 32 &&
                  offsetof(CodecInfo, description) == 34 && offsetof(CodecInfo, shortName) == 114,
              "CodecInfo layout");
static_assert(offsetof(CodecFormat, optionMask) == sizeof(CodecHandle) &&
                  offsetof(CodecFormat, bitRate) == sizeof(CodecHandle) + 4 &&
                  offsetof(CodecFormat, peakBitRate) == sizeof(CodecHandle) + 8 &&
                  offsetof(CodecFormat, delaySamples) == sizeof(CodecHandle) + 12 &&
                  offsetof(CodecFormat, codecId) == sizeof(CodecHandle) + 16 &&
                  offsetof(CodecFormat, frameBytes) == sizeof(CodecHandle) + 18 &&
                  offsetof(CodecFormat, maxCodedBytes) == sizeof(CodecHandle) + 20 &&
                  offsetof(CodecFormat, minCodedBytes) == sizeof(CodecHandle) + 22 &&
                  sizeof(CodecFormat) == sizeof(CodecHandle) + 26,
              "CodecFormat layout: a pointer-sized handle followed by 26 packed bytes");
#else
_Static_assert(sizeof(CodecInfo) == 124, "CodecInfo is 124 bytes");
_Static_assert(sizeof(CodecFormat) == sizeof(CodecHandle) + 26, "CodecFormat layout");
#endif

#endif /* VNTR_CODEC_API_H */
