#include "cdaccess/CdRip_dll.h"

#include "libs/cdrip/cdrip.h"

static_assert(sizeof(CR_DRIVE_PARAMS) == CDROMParamsSize, "the block holds the library's record");
static_assert(CR_STATUS_FAIL == CRFailure && CR_STATUS_JITTER == CRJitter &&
                  CR_STATUS_DONE == CRFinished,
              "statuses as the component tests them");
static_assert(CR_CDTEXT_TITLE == CDTextTitle && CR_CDTEXT_PERFORMER == CDTextPerformer,
              "CD-TEXT fields as the library numbers them");
static_assert(CR_FLAG_PRE == FlagPre && CR_FLAG_DCP == FlagDcp && CR_FLAG_4CH == Flag4Ch,
              "track flags as the library's");
static_assert(offsetof(CR_DRIVE_PARAMS, readMode) == CDROMParamsReadMode &&
                  CR_READ_ONE_PASS == CRReadOnePass,
              "the read mode where the library keeps it");
static_assert(CR_MCN_SIZE == MCNSize && CR_ISRC_SIZE == ISRCSize, "code sizes as the library's");

namespace {

CR_DRIVE_PARAMS* AsParams(uint8_t* block) {
    return reinterpret_cast<CR_DRIVE_PARAMS*>(block);
}

TTocEntry GetTocEntry(int32_t index) {
    const CR_TOCENTRY entry = ::CR_GetTocEntry(index);
    TTocEntry result;
    result.StartSector = entry.startSector;
    result.Flag = entry.flags;
    result.TrackNumber = entry.trackNumber;
    result.Gap = static_cast<uint16_t>(entry.reserved[0] | entry.reserved[1] << 8);
    return result;
}

const TCdRipDll LinkedLibrary = {
    ::CR_GetCDRipVersion,
    ::CR_Init,
    ::CR_GetNumCDROM,
    ::CR_GetActiveCDROM,
    ::CR_SetActiveCDROM,
    [](uint8_t* block) { return ::CR_GetCDROMParameters(AsParams(block)); },
    [](uint8_t* block) { return ::CR_SetCDROMParameters(AsParams(block)); },
    ::CR_ReadToc,
    ::CR_GetNumTocEntries,
    GetTocEntry,
    ::CR_OpenRipper,
    ::CR_RipChunk,
    ::CR_GetLastJitterErrorPosition,
    ::CR_GetPercentCompleted,
    ::CR_GetNumberOfJitterErrors,
    ::CR_CloseRipper,
    ::CR_PlayTrack,
    ::CR_PauseCD,
    ::CR_StopPlayTrack,
    ::CR_EjectCD,
    ::CR_GetPlayPosition,
    ::CR_ReadCdText,
    ::CR_GetCdText,
    ::CR_GetDriveStatusText,
    ::CR_GetMcn,
    ::CR_GetTrackIsrc,
    ::CR_GetTrackIndexes,
    ::CR_GetTrackFlags,
    ::CR_GetSectorsRead,
    ::CR_PlanSecureRange,
    ::CR_SecureRangeReady,
    ::CR_GetPlannedTrips,
    ::CR_DropSecurePlans,
    ::CR_GetDriveC2,
    ::CR_HandProvenSectors,
    ::CR_DiscChanged,
    ::CR_SetSecureReach,
    ::CR_GetUndefeatedCacheKB,
};

const TCdRipDll* InUse = &LinkedLibrary;

} // namespace

const TCdRipDll& RealCdRipDll() {
    return LinkedLibrary;
}

const TCdRipDll& CdRipDll() {
    return *InUse;
}

TCdRipDllOverride::TCdRipDllOverride(const TCdRipDll& table) : Previous(InUse) {
    InUse = &table;
}

TCdRipDllOverride::~TCdRipDllOverride() {
    InUse = Previous;
}
