#pragma once

#include <cstddef>
#include <cstdint>

// The CD ripping library's calls as the ripper component makes them. The component
// reaches the library only through a table of these pointers: the one bound to the
// linked libcdrip (CdRipDll()), or a table of fakes that a test hands to the
// component instead.
//
// Statuses: 1 means failure, every other value success. During extraction
// CR_RipChunk also returns 3 (jitter error, data delivered) and 4 (range finished,
// data delivered). Booleans are 32-bit: TRUE is all bits set, FALSE is 0.

// 32-bit booleans handed to the library.
inline constexpr int32_t CRTrue = -1;
inline constexpr int32_t CRFalse = 0;

// Status values the component looks at.
inline constexpr int32_t CRFailure = 1;
inline constexpr int32_t CRJitter = 3;
inline constexpr int32_t CRFinished = 4;

// Fields of CR_GetCdText.
inline constexpr int32_t CDTextTitle = 0;
inline constexpr int32_t CDTextPerformer = 1;
// With track 0: "UTF-8" or "Windows-1252", how an image's sheet text was read.
inline constexpr int32_t CDTextEncoding = 2;

// Buffer sizes of CR_GetMcn and CR_GetTrackIsrc, the NUL included.
inline constexpr int32_t MCNSize = 14;
// Track flags of CR_GetTrackFlags.
inline constexpr int32_t FlagPre = 1;
inline constexpr int32_t FlagDcp = 2;
inline constexpr int32_t Flag4Ch = 4;
inline constexpr int32_t ISRCSize = 13;

// The drive parameter block: the library's whole parameter record. The component
// touches only the fields below; every other byte passes through unchanged.
inline constexpr std::size_t CDROMParamsSize = 324;
inline constexpr std::size_t CDROMParamsIDSize = 256; // offset 0: identification text
// 32-bit signed read offset in samples: the library shifts the delivered audio by that
// many samples (positive: later on the disc), reading into the neighbouring sectors.
inline constexpr std::size_t CDROMParamsReadOffset = 260;
inline constexpr std::size_t CDROMParamsRetries = 264;  // 32-bit: reads to prove one sector
inline constexpr std::size_t CDROMParamsSpeed = 276;    // 32-bit signed drive speed
inline constexpr std::size_t CDROMParamsReadMode = 280; // 32-bit: 0 as the jitter flag, 1 one pass
inline constexpr int32_t CRReadOnePass = 1;
inline constexpr std::size_t CDROMParamsJitter = 284;     // 32-bit boolean jitter correction
inline constexpr std::size_t CDROMParamsDriveTable = 292; // 13 bytes of drive table
inline constexpr std::size_t CDROMParamsDriveTableSize = 13;
inline constexpr std::size_t CDROMParamsOutputFormat = 312; // 1 byte, a TOutputFormat

// One entry of the table of contents (the library's 8-byte record).
struct TTocEntry {
    int32_t StartSector = 0;
    uint8_t Flag = 0;
    uint8_t TrackNumber = 0;
    uint16_t Gap = 0; // sectors before StartSector that belong to no audio track
};

// The calls, in the order of the library's interface.
struct TCdRipDll {
    int32_t (*CR_GetCDRipVersion)();
    int32_t (*CR_Init)();
    int32_t (*CR_GetNumCDROM)();
    int32_t (*CR_GetActiveCDROM)();
    int32_t (*CR_SetActiveCDROM)(int32_t drive);
    int32_t (*CR_GetCDROMParameters)(uint8_t* block);
    int32_t (*CR_SetCDROMParameters)(uint8_t* block);
    int32_t (*CR_ReadToc)();
    int32_t (*CR_GetNumTocEntries)();
    TTocEntry (*CR_GetTocEntry)(int32_t index);
    int32_t (*CR_OpenRipper)(int32_t* size, int32_t startSector, int32_t endSector);
    int32_t (*CR_RipChunk)(uint8_t* buffer, int32_t* count, int32_t flag);
    int32_t (*CR_GetLastJitterErrorPosition)(uint32_t* first, uint32_t* second);
    int32_t (*CR_GetPercentCompleted)();
    int32_t (*CR_GetNumberOfJitterErrors)();
    int32_t (*CR_CloseRipper)();
    int32_t (*CR_PlayTrack)(int32_t trackNum);
    int32_t (*CR_PauseCD)(int32_t pause);
    int32_t (*CR_StopPlayTrack)();
    int32_t (*CR_EjectCD)(int32_t eject);
    int32_t (*CR_GetPlayPosition)(int32_t* first, int32_t* second);
    // CD-TEXT: read the active disc's, then one field (track 0 = the disc; field
    // CDTextTitle or CDTextPerformer) as UTF-8 ending in NUL, cut to fit `size`.
    int32_t (*CR_ReadCdText)();
    int32_t (*CR_GetCdText)(int32_t track, int32_t field, char* buffer, int32_t size);
    int32_t (*CR_GetDriveStatusText)(char* text, int32_t size);
    // The disc's Media Catalogue Number (13 digits) and a track's ISRC (12 characters,
    // `track` as numbered on the disc), zero-terminated; "" when the disc has none.
    // `size` at least MCNSize / ISRCSize. Failure: no readable disc, no such track.
    int32_t (*CR_GetMcn)(char* text, int32_t size);
    int32_t (*CR_GetTrackIsrc)(int32_t track, char* text, int32_t size);
    // A track's index points (INDEX 00, 01, 02, ... as LSNs): how many were stored, 0
    // when the drive reports none, -1 on failure; its flags (FlagPre, FlagDcp, Flag4Ch)
    // or -1.
    int32_t (*CR_GetTrackIndexes)(int32_t track, int32_t* sectors, int32_t max);
    int32_t (*CR_GetTrackFlags)(int32_t track);
    // Sectors the reads of the open or last range asked the drive for (re-reads
    // included). May be null in a table of fakes.
    int64_t (*CR_GetSectorsRead)();
    // Secure readings planned ahead of the one pass (see cdrip.h). May be null in a
    // table of fakes: nothing is planned then.
    int32_t (*CR_PlanSecureRange)(int32_t startSector, int32_t endSector);
    int32_t (*CR_SecureRangeReady)(int32_t startSector, int32_t endSector);
    int64_t (*CR_GetPlannedTrips)();
    int32_t (*CR_DropSecurePlans)();
    // Whether the active drive returns C2 error pointers: 1 yes, 0 it refused them, -1
    // not known. May be null.
    int32_t (*CR_GetDriveC2)();
    // Proven sectors handed to the next range (see cdrip.h). May be null.
    int32_t (*CR_HandProvenSectors)(int32_t endSector, const uint8_t* sectors, int32_t count);
    // TRUE when the disc in the active drive is not the one whose table of contents was
    // read last (another table now, a media change, an open tray, no disc); FALSE when it
    // is (see cdrip.h). May be null: the disc is then taken as the one read.
    int32_t (*CR_DiscChanged)();
    // Where the next secure range's reading ends (see cdrip.h). May be null.
    int32_t (*CR_SetSecureReach)(int32_t lastSector);
    // The drive's cache in KB where it was too large to defeat on the disc (see cdrip.h).
    // May be null.
    int32_t (*CR_GetUndefeatedCacheKB)();
};

// The table bound to the linked CD ripping library.
const TCdRipDll& RealCdRipDll();

// The table in use: RealCdRipDll() unless a test put another in place.
const TCdRipDll& CdRipDll();

// Puts `table` in use for as long as the object lives, then restores the previous one.
class TCdRipDllOverride {
public:
    explicit TCdRipDllOverride(const TCdRipDll& table);
    ~TCdRipDllOverride();
    TCdRipDllOverride(const TCdRipDllOverride&) = delete;
    TCdRipDllOverride& operator=(const TCdRipDllOverride&) = delete;

private:
    const TCdRipDll* Previous;
};
