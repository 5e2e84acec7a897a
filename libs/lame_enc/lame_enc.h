/* liblame_enc: an MP3 encoder library with a small stream interface over
 * libmp3lame.
 *
 * A caller fills a configuration record, opens a stream with beInitStream,
 * feeds 16-bit PCM with beEncodeChunk, collects the last MP3 bytes with
 * beDeinitStream, fetches the final VBR header frame with beGetInfoTag (when
 * the record asked for one) and ends the stream with beCloseStream.
 *
 * Every call returns a 32-bit status: BE_OK (0) on success, one of the
 * BE_ERR_ values below otherwise. No call crashes on a null pointer, an unknown
 * or closed handle or a call out of order; it returns the matching status and
 * leaves its output arguments untouched unless stated otherwise.
 *
 * Records are byte layouts with fixed offsets, 32-bit fields little-endian.
 * A 32-bit boolean is 0 for false and any other value (normally -1) for true.
 */
#ifndef LAME_ENC_H
#define LAME_ENC_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define LAME_ENC_API __attribute__((visibility("default")))
#else
#define LAME_ENC_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Statuses. */
enum {
    BE_OK = 0,                   /* success */
    BE_ERR_BAD_RECORD = 1,       /* unknown record kind, version or size */
    BE_ERR_BAD_PARAMETER = 2,    /* a value LAME cannot take: sample rate, bitrate, mode,
                                    quality, channel count, sample count */
    BE_ERR_BAD_HANDLE = 3,       /* unknown or already closed stream handle */
    BE_ERR_NULL_POINTER = 4,     /* a required address is null */
    BE_ERR_OUT_OF_ORDER = 5,     /* call not allowed in the stream's current state */
    BE_ERR_BUFFER_TOO_SMALL = 6, /* output buffer too small; the needed size is reported */
    BE_ERR_ENCODER = 7,          /* LAME reported a failure while encoding */
    BE_ERR_NO_MEMORY = 8         /* LAME could not allocate its state */
};

/* Configuration record kind of the layout below (offset 0). */
#define BE_CONFIG_KIND 256u
/* Structure version (offset 4). */
#define BE_CONFIG_VERSION 1u
/* Sizes accepted at offset 8: callers write 331; 332 (the whole record) is taken as well.
   Any other value is an unknown size (BE_ERR_BAD_RECORD). */
#define BE_CONFIG_SIZE_WRITTEN 331u
#define BE_CONFIG_RECORD_BYTES 332u

/* Channel modes of the MP3 (offset 20). */
enum { BE_MODE_STEREO = 0, BE_MODE_JOINT_STEREO = 1, BE_MODE_DUAL_CHANNEL = 2, BE_MODE_MONO = 3 };

/* Quality presets (offset 32) and the LAME algorithm quality each selects:
   normal = LAME's own default (3, as the lame command line uses), low = 7 (fast),
   high = 2, voice = 5 with a 12 kHz lowpass. */
enum { BE_QUALITY_NORMAL = 0, BE_QUALITY_LOW = 1, BE_QUALITY_HIGH = 2, BE_QUALITY_VOICE = 3 };

/* The configuration record, 332 bytes. */
typedef struct BE_CONFIG_RECORD {
    uint32_t kind;          /*   0: BE_CONFIG_KIND */
    uint32_t version;       /*   4: BE_CONFIG_VERSION */
    uint32_t size;          /*   8: BE_CONFIG_SIZE_WRITTEN (or 332) */
    uint32_t inSampleRate;  /*  12: sample rate of the PCM handed in, Hz */
    uint32_t outSampleRate; /*  16: sample rate of the MP3, Hz; 0 lets LAME choose */
    int32_t mode;           /*  20: BE_MODE_ value of the MP3 */
    uint32_t bitrate;       /*  24: kbit/s; with VBR the minimum bitrate */
    uint32_t maxBitrate;    /*  28: kbit/s; the maximum bitrate with VBR, unused for CBR */
    int32_t quality;        /*  32: BE_QUALITY_ value */
    uint32_t mpegVersion;   /*  36: informative; the MPEG version follows from the MP3 rate */
    uint32_t psyModel;      /*  40: informative; LAME has one psychoacoustic model */
    uint32_t emphasis;      /*  44: 0 none, 1 50/15 microseconds, 3 CCITT J.17 */
    int32_t privateBit;     /*  48: 32-bit boolean: private bit of the frames */
    int32_t crc;            /*  52: 32-bit boolean: CRC protection of the frames */
    int32_t copyright;      /*  56: 32-bit boolean: copyright bit */
    int32_t original;       /*  60: 32-bit boolean: original bit */
    int32_t writeVBRHeader; /*  64: 32-bit boolean: reserve and write an info tag frame */
    int32_t enableVBR;      /*  68: 32-bit boolean: variable bitrate */
    int32_t vbrQuality;     /*  72: VBR quality 0 (best) to 9 */
    /* From offset 76 on, fields of this library; zero keeps the usual behaviour. */
    uint32_t inputChannels; /*  76: channels of the PCM handed in, 1 or 2; 0 means 1 when
                                   the mode is mono, else 2. Stereo PCM with mode mono
                                   gives a mono MP3 (LAME mixes the channels down). */
    uint8_t reserved[252];  /*  80..331: zero */
} BE_CONFIG_RECORD;

/* The version record, 268 bytes. */
typedef struct BE_VERSION_RECORD {
    uint8_t dllMajorVersion; /*   0: version of this library */
    uint8_t dllMinorVersion; /*   1 */
    uint8_t majorVersion;    /*   2: version of the LAME engine */
    uint8_t minorVersion;    /*   3 */
    uint8_t reserved1[8];    /*   4..11: zero */
    char engineVersion[32];  /*  12..43: LAME's version text, zero-terminated */
    char homePage[128];      /*  44..171: LAME's home page, zero-terminated */
    uint8_t reserved2[96];   /* 172..267: zero */
} BE_VERSION_RECORD;

#ifdef __cplusplus
static_assert(sizeof(BE_CONFIG_RECORD) == 332, "configuration record is 332 bytes");
static_assert(offsetof(BE_CONFIG_RECORD, inSampleRate) == 12, "offset 12");
static_assert(offsetof(BE_CONFIG_RECORD, outSampleRate) == 16, "offset 16");
static_assert(offsetof(BE_CONFIG_RECORD, mode) == 20, "offset 20");
static_assert(offsetof(BE_CONFIG_RECORD, quality) == 32, "offset 32");
static_assert(offsetof(BE_CONFIG_RECORD, privateBit) == 48, "offset 48");
static_assert(offsetof(BE_CONFIG_RECORD, vbrQuality) == 72, "offset 72");
static_assert(offsetof(BE_CONFIG_RECORD, inputChannels) == 76, "offset 76");
static_assert(sizeof(BE_VERSION_RECORD) == 268, "version record is 268 bytes");
static_assert(offsetof(BE_VERSION_RECORD, engineVersion) == 12, "offset 12");
static_assert(offsetof(BE_VERSION_RECORD, homePage) == 44, "offset 44");
#else
_Static_assert(sizeof(BE_CONFIG_RECORD) == 332, "configuration record is 332 bytes");
_Static_assert(offsetof(BE_CONFIG_RECORD, inputChannels) == 76, "offset 76");
_Static_assert(sizeof(BE_VERSION_RECORD) == 268, "version record is 268 bytes");
#endif

/* Fills *version. BE_ERR_NULL_POINTER when version is null. */
LAME_ENC_API uint32_t beVersion(BE_VERSION_RECORD* version);

/* Opens a stream configured by *config.
   *samples: the number of 16-bit samples (all channels counted) that one beEncodeChunk
             call takes: one MPEG frame's worth of input.
   *bufferSize: the output buffer size in bytes that covers one beEncodeChunk call of
             *samples samples, beDeinitStream and beGetInfoTag.
   *stream: the handle of the new stream (never 0; handles are not reused).
   Statuses: BE_ERR_NULL_POINTER, BE_ERR_BAD_RECORD (kind, version or size),
   BE_ERR_BAD_PARAMETER (a value LAME cannot take: an input rate outside 8000 to 192000 Hz,
   an MP3 rate that is not an MPEG rate, a CBR bitrate that the MPEG version of the MP3's rate
   lacks, a VBR bound that is no MPEG bitrate, a mode, quality preset, emphasis or channel
   count outside the values above, a VBR quality outside 0 to 9 with VBR on),
   BE_ERR_NO_MEMORY.
   With VBR, LAME keeps both bounds inside the bitrates of the MP3's MPEG version, and a
   maximum below the minimum is raised to the minimum. */
LAME_ENC_API uint32_t beInitStream(const BE_CONFIG_RECORD* config, uint32_t* samples,
                                   uint32_t* bufferSize, uint32_t* stream);

/* Encodes nSamples 16-bit samples (interleaved when the input has two channels; at most the
   stream's *samples, a whole number of sample frames) from input into output, which must
   hold the stream's buffer size. *outputBytes receives the number of bytes written (0 is
   normal: LAME buffers a few frames).
   Statuses: BE_ERR_BAD_HANDLE, BE_ERR_NULL_POINTER, BE_ERR_BAD_PARAMETER (sample count),
   BE_ERR_OUT_OF_ORDER (after beDeinitStream), BE_ERR_ENCODER. */
LAME_ENC_API uint32_t beEncodeChunk(uint32_t stream, uint32_t nSamples, const int16_t* input,
                                    uint8_t* output, uint32_t* outputBytes);

/* Flushes the stream: the last MP3 bytes go to output (the stream's buffer size) and their
   count to *outputBytes. A stream is flushed once; later calls give BE_ERR_OUT_OF_ORDER.
   Statuses: BE_ERR_BAD_HANDLE, BE_ERR_NULL_POINTER, BE_ERR_OUT_OF_ORDER, BE_ERR_ENCODER. */
LAME_ENC_API uint32_t beDeinitStream(uint32_t stream, uint8_t* output, uint32_t* outputBytes);

/* After beDeinitStream and before beCloseStream: copies the final VBR header frame (LAME's
   "Xing"/"Info" tag with the stream's frame count, byte count and seek table) to output and
   its size to *outputBytes. The caller writes it over the first frame of the stream's output,
   a placeholder of the same size. When the record did not ask for a VBR header,
   *outputBytes is 0 and the status BE_OK.
   Statuses: BE_ERR_BAD_HANDLE, BE_ERR_NULL_POINTER, BE_ERR_OUT_OF_ORDER (before
   beDeinitStream), BE_ERR_BUFFER_TOO_SMALL (*outputBytes then holds the size needed). */
LAME_ENC_API uint32_t beGetInfoTag(uint32_t stream, uint8_t* output, uint32_t outputSize,
                                   uint32_t* outputBytes);

/* Ends the stream and frees its state; the handle becomes unknown. A stream may be closed
   at any point, flushed or not. Status: BE_ERR_BAD_HANDLE. */
LAME_ENC_API uint32_t beCloseStream(uint32_t stream);

#ifdef __cplusplus
}
#endif

#endif /* LAME_ENC_H */
