/*
 * cdrip.h - the CD ripping library: drives, table of contents, digital audio
 * extraction with jitter correction, and digital CD audio playback.
 *
 * Plain C interface of libcdrip.so. Every call returns at once with a status and
 * never crashes on bad input: a call before CR_Init, an unknown drive, a null
 * pointer or a call out of order returns CR_STATUS_FAIL (1).
 *
 * Statuses: CR_STATUS_OK (0) success; CR_STATUS_FAIL (1) failure; CR_RipChunk also
 * returns CR_STATUS_JITTER (3: data delivered, part of it damaged: unreadable and
 * silence, or not proven) and CR_STATUS_DONE (4: data delivered, the range is finished).
 *
 * Booleans are 32-bit: CR_TRUE is all bits set (-1), CR_FALSE is 0; any non-zero
 * value is taken as true.
 *
 * Sectors are logical sector numbers (LSN, 1/75 s of audio, 2352 bytes); track 1 of
 * a normal disc starts at LSN 0, and no track is listed before LSN 0 (one that
 * libcdio places there starts at 0).
 *
 * Drives: first the machine's CD drives as libcdio lists them, then one virtual
 * drive per disc image named in the environment variable CDRIP_IMAGES (paths
 * separated by ':'): a cue sheet (.cue) or a cdrdao TOC file (.toc), read by this
 * library's own sheet reader, or an NRG image (.nrg), read through libcdio. A sheet's
 * files may be raw samples (BINARY little-endian, MOTOROLA big-endian, a TOC file's raw
 * files little-endian unless SWAP), RIFF WAVE or FLAC files of 16-bit 44.1 kHz stereo
 * audio, one for the disc or one for each track; relative names are taken from the
 * sheet's folder, with `\` as a separator. PREGAP, POSTGAP and a TOC file's SILENCE
 * and ZERO are digital silence that counts in every position. Fault injection
 * (CDRIP_FAULTS) and the read offset apply to every virtual drive alike.
 * The identification text of a real drive is "VENDOR MODEL REVISION DEVICE"; that of
 * a virtual drive is "VELMORA VIRTUAL-CD 1.20 <image path>". A drive whose image is missing or not
 * a disc image is still listed; it behaves as a drive without a disc.
 *
 * Environment variables, read by CR_Init:
 *   CDRIP_IMAGES        ':'-separated disc image paths, one virtual drive each.
 *   CDRIP_FAULTS        faults of the virtual drives' "discs", for tests: a list of
 *                       items separated by ',' or ';', each one of
 *                         bad:FIRST-LAST        these sectors fail to read, always
 *                         bad:SECTOR            one sector that fails to read
 *                         jitter:FIRST-LAST     reads that start in this range may
 *                                               land off by a few samples (up to 8
 *                                               bytes): reads are taken in groups of
 *                                               five, and the second, the third or
 *                                               both (then by the same amount) of a
 *                                               group land off, as seed:N chooses; no
 *                                               five consecutive reads hold more than
 *                                               two that land off
 *                         jitter:FIRST-LAST@N   ...off by up to N bytes (N 4..2352)
 *                         noisy:FIRST-LAST      these sectors read, but with different
 *                         noisy:SECTOR          bytes every time (their first four
 *                                               bytes carry the read's number)
 *                         seed:N                chooses which reads land off, and by
 *                                               how much (default 1)
 *                       Families modelled on how drives fail ("a place" is the
 *                       sector a read starts at; N is bytes, 4..11760, a multiple of
 *                       4; P a chance in percent, 1..100):
 *                         drift:A-B[@N][/P]     a read that starts in A-B lands off
 *                                               by up to N bytes either way (default
 *                                               8), with chance P per read (default 20)
 *                         stuck:A-B[@N][/P]     a place in A-B is, with chance P
 *                                               (default 100), one where every read
 *                                               lands off by the same amount
 *                         slip:A-B[@N][/P]      a place in A-B is, with chance P
 *                                               (default 100), one where every read
 *                                               is right for its first sectors and
 *                                               shifted after, the same way each time
 *                         short:A-B[/P]         a read that starts in A-B stops short,
 *                                               with chance P (default 100), yet
 *                                               reports every sector; the rest of the
 *                                               buffer is left as it was
 *                         c2:A-B[/P]            sectors that read wrong with chance P
 *                                               per read (default 100), flagged with
 *                                               C2 errors (the drive offers C2 flags)
 *                         flaky:A-B[/P]         the same without a flag
 *                         same:A-B[@N]          every read of these sectors wrong the
 *                                               same way (no re-read can tell): N bytes
 *                                               of each (default 8; 4 is one sample,
 *                                               2352 the whole sector) from byte 1000,
 *                                               or the sector's last N
 *                         burst:A-B[@K]         the first K reads that reach A-B fail
 *                                               there (default 3), later ones read
 *                         cache:N               a read cache of N sectors (1..20000):
 *                                               a read of sectors still in it returns
 *                                               what the drive delivered for them
 *                                               before, errors and shifts included
 *                         spinup:N              the first N reads after the ripper
 *                                               opens fail (1..1000)
 *                       Sectors are LSNs and apply to every virtual drive. Items that
 *                       cannot be parsed are ignored.
 *   CDRIP_READ_LOG      a file that gets, for tests, one line per read the ripper makes:
 *                       what it is for (plain, check, vote, ahead: a first copy,
 *                       flush: reading elsewhere to empty the drive's cache), its first
 *                       sector, the sectors asked for, those delivered, and the first
 *                       sector whose copy may prove it (-1: none).
 *   CDRIP_TRAY_SECONDS  seconds after which an ejected virtual tray closes itself
 *                       (default 5; 0 closes it at the next call).
 *   CDRIP_AUDIO         "none" plays into the silent clock instead of a sound
 *                       device (servers, tests). Otherwise SDL2 audio is tried and
 *                       the silent clock is used when no device opens.
 */
#ifndef VELMORA_CDRIP_H
#define VELMORA_CDRIP_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define CDRIP_API __attribute__((visibility("default")))
#else
#define CDRIP_API
#endif

typedef int32_t CR_STATUS;
#define CR_STATUS_OK 0
#define CR_STATUS_FAIL 1
#define CR_STATUS_JITTER 3
#define CR_STATUS_DONE 4

#define CR_TRUE (-1)
#define CR_FALSE 0

/* Version number returned by CR_GetCDRipVersion: 1.20. */
#define CDRIP_VERSION 120

/* Bytes of one audio sector: 588 stereo 16-bit sample frames. */
#define CR_SECTOR_BYTES 2352

/* Output formats (byte 312 of the parameter block). */
enum {
    CR_STEREO44100 = 0, /* 2352 bytes per sector */
    CR_MONO44100 = 1,   /* 1176: average of both channels, rounded down */
    CR_STEREO22050 = 2, /* 1176: resampled with libsoxr */
    CR_MONO22050 = 3,   /* 588 */
    CR_STEREO11025 = 4, /* 588 */
    CR_MONO11025 = 5    /* 294 */
};

/* Read modes (readMode, byte 280 of the parameter block). */
#define CR_READ_AS_JITTER 0
#define CR_READ_ONE_PASS 1

/* Flag byte of a table-of-contents entry. */
#define CR_TOC_AUDIO 0x10
#define CR_TOC_DATA 0x14

#if defined(__GNUC__)
#pragma pack(push, 1)
#endif

/*
 * The drive parameter block: 324 bytes, little-endian, no padding. The caller keeps
 * one, fills it with CR_GetCDROMParameters and hands it back with
 * CR_SetCDROMParameters. Fields marked "library" are this library's own; a caller
 * passes them back unchanged (0 in any of them means "the default").
 */
typedef struct CR_DRIVE_PARAMS {
    char id[256];             /* 0: identification text, zero-terminated (read only) */
    int32_t sectorsPerChunk;  /* 256: library: sectors per CR_RipChunk, 1..75, default 26 */
    int32_t readOffset;       /* 260: library: read offset in samples, -44100..44100, default 0:
                                 the audio delivered is moved by that many stereo samples
                                 (positive: from later on the disc), read from the
                                 neighbouring sectors; beyond the disc's first or last
                                 audio sector it is silence, which is not damage */
    int32_t paranoiaRetries;  /* 264: library: reads to prove one sector, 1..1000, default 20 */
    int32_t driveIndex;       /* 268: library: index of the drive described (read only) */
    int32_t isVirtual;        /* 272: library: CR_TRUE for a disc image (read only) */
    int32_t speed;            /* 276: drive speed (read only) */
    int32_t readMode;         /* 280: library: CR_READ_AS_JITTER (0) reads as jitterCorrection
                                 says; CR_READ_ONE_PASS (1) reads each sector once (see
                                 CR_OpenRipper) */
    int32_t jitterCorrection; /* 284: CR_TRUE full paranoia, CR_FALSE plain reads */
    int32_t reserved288;      /* 288: library: reserved, 0 */
    uint8_t driveType;        /* 292: drive table: drive type (0, generic) */
    uint8_t readMethod;       /* 293: read method (0, MMC) */
    uint8_t setSpeed;         /* 294: speed method (0, none) */
    uint8_t endian;           /* 295: 0 big, 1 little endian (1) */
    uint8_t enableMode;       /* 296: enable mode (0, none) */
    int32_t density;          /* 297: density, unaligned */
    int32_t atapi;            /* 301: 32-bit boolean, unaligned */
    uint8_t reserved305[7];   /* 305: library: reserved, 0 */
    uint8_t outputFormat;     /* 312: CR_STEREO44100 .. CR_MONO11025 */
    uint8_t reserved313[11];  /* 313: library: reserved, 0 */
} CR_DRIVE_PARAMS;

/* One table-of-contents entry: 8 bytes. */
typedef struct CR_TOCENTRY {
    int32_t startSector; /* LSN of the track's first sector (lead-out: first sector after) */
    uint8_t flags;       /* CR_TOC_AUDIO or CR_TOC_DATA */
    uint8_t trackNumber; /* track number as on the disc; 0xAA for the lead-out */
    uint8_t reserved[2]; /* uint16, little-endian: sectors before startSector that belong
                            to no audio track (a data track's pregap after an audio
                            track; 0 otherwise). The audio track before ends at
                            startSector - gap - 1. An image's gap is its own (the cue
                            sheet's INDEX 00 or PREGAP); a real disc's is 11400 when it
                            has a second session, else 150. */
} CR_TOCENTRY;

#if defined(__GNUC__)
#pragma pack(pop)
#endif

#ifdef __cplusplus
#define CDRIP_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define CDRIP_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif
CDRIP_STATIC_ASSERT(sizeof(CR_DRIVE_PARAMS) == 324, "parameter block is 324 bytes");
CDRIP_STATIC_ASSERT(offsetof(CR_DRIVE_PARAMS, speed) == 276, "speed at 276");
CDRIP_STATIC_ASSERT(offsetof(CR_DRIVE_PARAMS, jitterCorrection) == 284, "jitter flag at 284");
CDRIP_STATIC_ASSERT(offsetof(CR_DRIVE_PARAMS, driveType) == 292, "drive table at 292");
CDRIP_STATIC_ASSERT(offsetof(CR_DRIVE_PARAMS, density) == 297, "density at 297");
CDRIP_STATIC_ASSERT(offsetof(CR_DRIVE_PARAMS, atapi) == 301, "atapi at 301");
CDRIP_STATIC_ASSERT(offsetof(CR_DRIVE_PARAMS, outputFormat) == 312, "output format at 312");
CDRIP_STATIC_ASSERT(sizeof(CR_TOCENTRY) == 8, "table-of-contents entry is 8 bytes");

/* ---- Library and drives ---- */

/* The library's version number (CDRIP_VERSION). Works before CR_Init. */
CDRIP_API int32_t CR_GetCDRipVersion(void);

/* Lists the drives (see above) and makes drive 0 active. 0 OK (also with zero
 * drives), 1 failure. A second call lists the drives again. */
CDRIP_API CR_STATUS CR_Init(void);

/* Releases all drives, stops playback and closes an open ripper. Optional; 0 OK,
 * 1 when the library was not initialised. */
CDRIP_API CR_STATUS CR_DeInit(void);

/* Number of drives; 0 before CR_Init. */
CDRIP_API int32_t CR_GetNumCDROM(void);

/* Index of the active drive; 0 before CR_Init or without drives. */
CDRIP_API int32_t CR_GetActiveCDROM(void);

/* Makes drive `index` active: 0 OK, 1 for an unknown index (the active drive stays)
 * or before CR_Init. Stops playback and closes an open ripper of the old drive. */
CDRIP_API CR_STATUS CR_SetActiveCDROM(int32_t index);

/* Fills *params with the active drive's parameters: identification text, speed,
 * drive table, and the jitter flag, output format and library fields last handed
 * over (defaults: jitter CR_TRUE, CR_STEREO44100). 0 OK, 1 without drives, before
 * CR_Init or for a null pointer. */
CDRIP_API CR_STATUS CR_GetCDROMParameters(CR_DRIVE_PARAMS* params);

/* Takes over the jitter flag, output format and library fields of *params for the
 * active drive (read-only fields are ignored). 0 OK; 1 without drives, before
 * CR_Init, for a null pointer, or when the output format is above CR_MONO11025 or
 * sectorsPerChunk, paranoiaRetries or readOffset are out of range (nothing is taken). */
CDRIP_API CR_STATUS CR_SetCDROMParameters(const CR_DRIVE_PARAMS* params);

/* Why the active drive holds no readable disc, as a zero-terminated text of at most
 * size - 1 bytes in *text (cut there), or "" when it holds one. An image drive names
 * its file and what is wrong: missing or not a regular file (a FIFO, a folder; a
 * symbolic link to a regular file is fine), a cue sheet or TOC file that cannot be
 * read correctly ("NAME.cue:LINE: reason": a file it names is missing, shorter than
 * the sheet says, or not 16-bit 44.1 kHz stereo; a line out of order), an NRG image
 * whose chunk chain is broken (sizes beyond the file, an unknown chunk, no END!), or a
 * file libcdio cannot read; "the tray is open" while the virtual tray is open; "the
 * disc was changed" once CR_DiscChanged found another disc in it (until CR_ReadToc). Such
 * images are never handed to libcdio. A real drive is asked for its state
 * (CDROM_DRIVE_STATUS): "the drive is gone" (its device cannot be opened any more),
 * "the drive's tray is open", "no disc in the drive", "the drive is not ready", "no
 * permission to open DEVICE"; "the disc was changed" when its driver saw the medium
 * change after the table of contents was read (until CR_ReadToc reads it again); "the
 * disc in the drive has no readable table of contents". 0 OK; 1 without drives, before
 * CR_Init, for a null pointer or a size below 1. */
CDRIP_API CR_STATUS CR_GetDriveStatusText(char* text, int32_t size);

/* ---- Table of contents ---- */

/* Reads the active drive's table of contents. 0 OK; 1 before CR_Init, without drives,
 * without a disc, with an open tray (virtual or real), a drive that is gone, or an
 * unreadable image; the table is then empty. Either way the reader forgets what it kept
 * of the disc read before: which sectors it read lately (what the drive's cache may hold),
 * the sectors a range decided past its end for the range after it, and the plans of
 * CR_PlanSecureRange; the disc's first reads are then taken as from a drive that holds
 * none of its sectors. A change of the disc found before (CR_DiscChanged) is over. */
CDRIP_API CR_STATUS CR_ReadToc(void);

/* Whether the disc in the active drive is still the one whose table of contents
 * CR_ReadToc read last: CR_FALSE when it is; CR_TRUE when it is not, or cannot be: no
 * table read (or CR_EjectCD emptied it), an open tray (virtual or real), a drive that is
 * gone or holds no disc, a real drive whose driver saw its medium change since, or a table
 * read now (the image's sheet, the drive's TOC) that differs from the one kept in any
 * entry: a track's start, kind, number or gap, or the lead-out. Also CR_TRUE before
 * CR_Init and without drives. Cheap: the table is read again, no audio. A change it finds
 * stays found until CR_ReadToc reads the table again: CR_OpenRipper and CR_PlayTrack then
 * refuse the drive and CR_GetDriveStatusText says "the disc was changed". A disc of the
 * very same table of contents cannot be told from the one read. The table kept is not
 * replaced. */
CDRIP_API int32_t CR_DiscChanged(void);

/* Number of tracks of the table last read (the lead-out is not counted); 0 when
 * none was read. */
CDRIP_API int32_t CR_GetNumTocEntries(void);

/* Entry `index` of the table: 0 .. CR_GetNumTocEntries()-1 are the tracks, index
 * CR_GetNumTocEntries() is the lead-out (flags of the last track, track number
 * 0xAA). Any other index returns an all-zero entry. */
CDRIP_API CR_TOCENTRY CR_GetTocEntry(int32_t index);

/* ---- Extraction ---- */

/* Opens the ripper for sectors start..end (inclusive) of the active drive with the
 * jitter flag and output format last handed over by CR_SetCDROMParameters.
 * *bufferSize receives the most bytes one CR_RipChunk delivers.
 * 0 OK; 1 before CR_Init, without a table of contents, for a null pointer, when
 * start > end, start before the first track (before sector 0 when track 1 is audio:
 * the audio before its INDEX 01, a hidden track, can be ripped), end beyond the last
 * sector before the lead-out,
 * when the range touches a data track or its gap, when a ripper is already open, or when the
 * drive cannot be opened for reading (a real drive also when it is gone, its tray is
 * open or its disc changed since the table of contents was read; a virtual drive when
 * CR_DiscChanged found another disc in it). Audio is taken as
 * little-endian, from images and from drives alike (MMC READ CD returns CD-DA so). */
CDRIP_API CR_STATUS CR_OpenRipper(int32_t* bufferSize, int32_t startSector, int32_t endSector);

/* Reads the next chunk of the range into buffer (at least *bufferSize bytes as
 * returned by CR_OpenRipper) and stores the bytes delivered in *numBytes. Every call
 * moves the range on. The bytes of a whole range add up to exactly
 * (end - start + 1) x bytes per sector of the output format.
 * Without jitter correction every sector is read once (one read per chunk, each
 * sector on its own where that fails, up to three times); a sector that does not read
 * is delivered as silence and counted as damaged.
 * With jitter correction every sector is proven before it is delivered, only by
 * reads that cannot share one error: reads that start at different sectors, each made
 * when the drive can no longer hold the sector in its read cache (a drive is taken to
 * cache up to 8 MB; more than that is read elsewhere first), and only from bytes a
 * read delivered (a short transfer's stale tail and sectors flagged with C2 errors
 * never count). Proof is one of: a read that starts with proven sectors, equal to them
 * at no shift and at no other shift within six sectors, gives the sector the same
 * bytes as an earlier read that started elsewhere; or, at the start of a range, after
 * a damaged sector and where the proven sectors are silent or periodic and so cannot
 * pin a read, three reads from three different places give it the same bytes (right
 * after an unreadable sector, where only reads from the sector itself reach it, those
 * stand in). How far a read lands off does not matter. A sector that nothing proves
 * within paranoiaRetries reads is delivered as best known (silence when it never
 * read) and counted as damaged. Where every read of a sector is wrong the same way no
 * re-read can tell; AccurateRip is what does.
 * With readMode CR_READ_ONE_PASS (whatever the jitter flag) every sector is read once
 * at full speed, in runs one after the other, with the same read offset and from the
 * same source as with jitter correction; a sector that fails to read (after one read
 * of it on its own) or that the drive flags with C2 errors where it offers C2 pointers
 * is delivered as silence and counted and listed as damaged: it is a suspect sector
 * for the caller to read again with jitter correction (a range may be as short as one
 * sector). Nothing else is proven: the caller proves the audio by other means.
 * Damaged sectors are counted (CR_GetNumberOfJitterErrors) and the first and last
 * damaged sector of each chunk recorded (CR_GetLastJitterErrorPosition): every chunk
 * that holds one returns status 3, so asking for the position after each status 3
 * lists every damaged sector.
 * `flag`: callers pass CR_TRUE; the value is not used.
 * Statuses: 0 data delivered; 3 data delivered, some of its sectors damaged; 4 data
 * delivered and the range is finished. When the range's last data holds damaged
 * sectors it comes with status 3, and one more call returns status 4 with 0 bytes;
 * 1 no ripper open, range already finished, or a null pointer (*numBytes = 0 when it
 * can be set); and for a real drive that went away, opened its tray or had its disc
 * changed before or while the chunk was read: the chunk's bytes are not delivered and
 * the ripper is closed (CR_GetDriveStatusText says why). */
CDRIP_API CR_STATUS CR_RipChunk(uint8_t* buffer, int32_t* numBytes, int32_t flag);

/* The last error range recorded: *first and *last receive the first and the last
 * LSN of the damaged sectors of the most recent chunk that had any. 0 OK (both 0
 * when none was recorded), 1 for a null pointer. */
CDRIP_API CR_STATUS CR_GetLastJitterErrorPosition(uint32_t* first, uint32_t* last);

/* Percent of the open (or last) range delivered, 0 to 100; 0 without a range. */
CDRIP_API int32_t CR_GetPercentCompleted(void);

/* Number of damaged sectors (unreadable or not proven) of the open (or last) range. */
CDRIP_API int32_t CR_GetNumberOfJitterErrors(void);

/* Sectors the reads of the open (or last) range asked the drive for, every re-read
 * included; 0 without a range. */
CDRIP_API int64_t CR_GetSectorsRead(void);

/* Plans the secure reading (jitter correction on) of startSector..endSector of the
 * active drive for after one-pass ranges (readMode CR_READ_ONE_PASS) have gone over it.
 * The reads that reading makes of a sound disc are made by the one-pass ranges opened
 * from now on, each when the drive can no longer answer it from its read cache (more
 * than the cache's worth of other sectors came from the disc since any read of its
 * sectors): by the one pass itself where it reaches them, else by a short read away
 * from it. The next range opened for exactly startSector..endSector with jitter
 * correction takes each read made for it once instead of reading the drive, and reads
 * whatever else it needs from the disc, the drive's cache defeated first; the rules of
 * proof are the same. Nothing is planned for a drive without a cache (an image). A
 * plan for the same range replaces the last one; at most 8 plans are kept. 0 OK, 1
 * before CR_Init, without a table of contents, or for a range CR_OpenRipper refuses. */
CDRIP_API CR_STATUS CR_PlanSecureRange(int32_t startSector, int32_t endSector);

/* CR_TRUE when no read planned for startSector..endSector is still to be made (also
 * when nothing is planned for it), else CR_FALSE. */
CDRIP_API int32_t CR_SecureRangeReady(int32_t startSector, int32_t endSector);

/* Whether the active drive returns C2 error pointers with its reads: 1 it does (reads
 * ask for them), 0 it refused them (it is read without them), -1 not known yet (no read
 * since its table of contents was read) or a disc image. */
CDRIP_API int32_t CR_GetDriveC2(void);

/* The drive's read cache, in KB, where a range read since the table of contents was read
 * found it too large to defeat on this disc (no reading elsewhere makes the drive forget
 * a sector, so nothing was proven by re-reads and the range's sectors were listed as
 * damaged); the largest such, or 0 when no range did. */
CDRIP_API int32_t CR_GetUndefeatedCacheKB(void);

/* Hands the next range the sectors right before it that the caller proved another way
 * (the end of a track its AccurateRip checksum matched): count whole disc sectors of
 * 2352 bytes each, as the drive delivers them (the read offset undone), ending right
 * before sector endSector. The next range opened on the active drive with jitter
 * correction, no plan of its own, and its reading starting at endSector takes the last 8
 * of them as the proven sectors before it: its first reads are checks pinned by them
 * instead of votes; the rules of proof are the same. Whichever range is opened next
 * drops them. 0 OK, 1 before CR_Init, for a null pointer or count < 1. */
CDRIP_API CR_STATUS CR_HandProvenSectors(int32_t endSector, const uint8_t* sectors, int32_t count);

/* Tells the next range that no range after it goes on from what it reads past its end
 * (the tracks after it are proven another way): opened on the active drive with jitter
 * correction and no plan of its own, it reads first copies no further than disc sector
 * lastSector, or than its own end and the margin it always reads past it where that is
 * further; its reading then stops near its end instead of reading on towards the disc's
 * end for the ranges after it. -1 clears it. Whichever range is opened next drops it.
 * The rules of proof are the same. 0 OK, 1 before CR_Init. */
CDRIP_API CR_STATUS CR_SetSecureReach(int32_t lastSector);

/* Reads made away from the one pass for the plans since the last CR_DropSecurePlans. */
CDRIP_API int64_t CR_GetPlannedTrips(void);

/* Drops every plan of the active drive and the reads made for them (also done when the
 * table of contents is read). 0 OK, 1 before CR_Init. */
CDRIP_API CR_STATUS CR_DropSecurePlans(void);

/* Closes the ripper. 0 OK, 1 when none is open. */
CDRIP_API CR_STATUS CR_CloseRipper(void);

/* ---- Playback ---- */

/* Plays audio track `track` (1-based) of the active drive's table of contents
 * through the sound output (SDL2), or through a silent clock at 75 sectors a second
 * where no sound device opens. Playback ends by itself at the end of the track. Any
 * playback already running is stopped first. 0 OK; 1 before CR_Init, without a table
 * of contents, for an unknown or data track, when the drive cannot be read, or when its
 * disc changed since the table of contents was read (as CR_OpenRipper). */
CDRIP_API CR_STATUS CR_PlayTrack(int32_t track);

/* CR_TRUE pauses, CR_FALSE resumes. 0 OK, 1 when nothing is playing. */
CDRIP_API CR_STATUS CR_PauseCD(int32_t pause);

/* Stops playback; the position stays where it stopped. 0 OK (also when nothing
 * played), 1 before CR_Init. */
CDRIP_API CR_STATUS CR_StopPlayTrack(void);

/* CR_TRUE opens the tray, CR_FALSE closes it. Real drive: through libcdio. Virtual
 * drive: the tray opens (the disc cannot be read while it is open) and closes by
 * itself after CDRIP_TRAY_SECONDS. Playback stops and an open ripper is closed.
 * 0 OK; 1 before CR_Init, without drives, or when the drive refuses. */
CDRIP_API CR_STATUS CR_EjectCD(int32_t eject);

/* *relative: sectors played since the start of the track; *absolute: the LSN being
 * played. Both stay at their last values when playback is paused, stopped or ended
 * (0 before anything played). 0 OK, 1 for a null pointer or before CR_Init. */
CDRIP_API CR_STATUS CR_GetPlayPosition(int32_t* relative, int32_t* absolute);

/* ---- CD-TEXT ---- */

/* Fields of CR_GetCdText. */
#define CR_CDTEXT_TITLE 0
#define CR_CDTEXT_PERFORMER 1
/* With track 0: how CR_ReadCdText read the text of the active drive's cue sheet or
 * TOC file, "UTF-8" or "Windows-1252"; empty for a disc (or an image without a sheet)
 * and for any other track. */
#define CR_CDTEXT_ENCODING 2

/* Reads the CD-TEXT of the disc in the active drive through libcdio and keeps it
 * for CR_GetCdText, replacing what an earlier call kept. A disc image carries
 * CD-TEXT too: the TITLE and PERFORMER lines of a cue sheet, the CD_TEXT blocks of a
 * cdrdao .toc file (only the first language block), read as UTF-8 when the sheet is
 * valid UTF-8 and as Windows-1252 otherwise.
 * 0 OK (also when the disc has no CD-TEXT: every field is then empty); 1 before
 * CR_Init, without drives, while a virtual tray is open, or when the drive cannot
 * be opened (what was kept is then cleared as well). */
CDRIP_API CR_STATUS CR_ReadCdText(void);

/* Copies one field that CR_ReadCdText kept into `buffer` as UTF-8 text ending in
 * a NUL byte: `track` 0 for the disc as a whole (album title, album performer),
 * 1 to 99 for the track of that number; `field` CR_CDTEXT_TITLE,
 * CR_CDTEXT_PERFORMER or CR_CDTEXT_ENCODING. A field the disc does not carry is the empty string.
 * Text longer than bufferSize - 1 bytes is cut at the last whole UTF-8 character that fits. 0 OK; 1
 * for a null buffer, bufferSize below 1, a track outside 0..99 or an unknown field (the buffer is
 * left alone). */
CDRIP_API CR_STATUS CR_GetCdText(int32_t track, int32_t field, char* buffer, int32_t bufferSize);

/* ---- Catalogue number and recording codes ---- */

/* Bytes of the texts below: an MCN has 13 digits, an ISRC 12 characters; each needs
 * one more byte for its NUL. */
#define CR_MCN_SIZE 14
#define CR_ISRC_SIZE 13

/* The Media Catalogue Number of the disc in the active drive (the 13 digits of the
 * disc's bar code, EAN/UPC), zero-terminated in *text, or "" when the disc carries
 * none. Read through libcdio at each call: a real drive is asked for its sub-channel
 * (MMC READ SUB-CHANNEL), an image gives its own (a cue sheet's CATALOG line, a cdrdao
 * .toc file's CATALOG). Anything but 13 digits, and 13 zeros (what drives report for
 * a disc without one), is "". 0 OK; 1 before CR_Init, without drives, for a null
 * pointer, a size below CR_MCN_SIZE, while a virtual tray is open, or when the drive
 * holds no readable disc (*text is then "" when size allows). */
CDRIP_API CR_STATUS CR_GetMcn(char* text, int32_t size);

/* The International Standard Recording Code of track `track` (its number as on the
 * disc, as CR_GetTocEntry gives it) in the active drive: 12 characters, CCXXXYYNNNNN
 * (country, registrant: letters and digits; year and designation: digits),
 * zero-terminated in *text, or "" when the track carries none or a malformed one.
 * Read like CR_GetMcn (a real drive's sub-channel; a cue sheet's ISRC line of the
 * track). 0 OK; 1 as for CR_GetMcn, and for a track number that is not on the disc. */
CDRIP_API CR_STATUS CR_GetTrackIsrc(int32_t track, char* text, int32_t size);

/* ---- Index points and track flags ---- */

/* Index points of track `track` (numbered as on the disc) of the disc in the active
 * drive: sectors[0] receives INDEX 00 (where its pregap begins; equal to sectors[1]
 * when it has none), sectors[1] INDEX 01, sectors[2]... INDEX 02 on, as LSNs; at most
 * `max` are stored. An image answers from its cue sheet or TOC file; a real drive
 * from what libcdio reports. Returns how many were stored; 0 when the drive reports
 * no index points (gaps not detected); -1 before CR_Init, without drives, for a null
 * pointer, a negative max, an unknown track, an open virtual tray or an unreadable
 * disc. */
CDRIP_API int32_t CR_GetTrackIndexes(int32_t track, int32_t* sectors, int32_t max);

/* Control flags of a track: CR_FLAG_PRE (pre-emphasis), CR_FLAG_DCP (digital copy
 * permitted), CR_FLAG_4CH (four-channel audio), or'ed; -1 as for CR_GetTrackIndexes. */
#define CR_FLAG_PRE 1
#define CR_FLAG_DCP 2
#define CR_FLAG_4CH 4
CDRIP_API int32_t CR_GetTrackFlags(int32_t track);

#ifdef __cplusplus
}
#endif

#endif /* VELMORA_CDRIP_H */
