// First cut of the library: every call answers "failure" until the drives are in.
#include "cdrip.h"

extern "C" {
int32_t CR_GetCDRipVersion(void) {
    return CDRIP_VERSION;
}
CR_STATUS CR_Init(void) {
    return CR_STATUS_FAIL;
}
CR_STATUS CR_DeInit(void) {
    return CR_STATUS_FAIL;
}
int32_t CR_GetNumCDROM(void) {
    return 0;
}
int32_t CR_GetActiveCDROM(void) {
    return 0;
}
CR_STATUS CR_SetActiveCDROM(int32_t) {
    return CR_STATUS_FAIL;
}
CR_STATUS CR_GetCDROMParameters(CR_DRIVE_PARAMS*) {
    return CR_STATUS_FAIL;
}
CR_STATUS CR_SetCDROMParameters(const CR_DRIVE_PARAMS*) {
    return CR_STATUS_FAIL;
}
CR_STATUS CR_ReadToc(void) {
    return CR_STATUS_FAIL;
}
int32_t CR_GetNumTocEntries(void) {
    return 0;
}
CR_TOCENTRY CR_GetTocEntry(int32_t) {
    return CR_TOCENTRY{};
}
CR_STATUS CR_OpenRipper(int32_t*, int32_t, int32_t) {
    return CR_STATUS_FAIL;
}
CR_STATUS CR_RipChunk(uint8_t*, int32_t*, int32_t) {
    return CR_STATUS_FAIL;
}
CR_STATUS CR_GetLastJitterErrorPosition(uint32_t*, uint32_t*) {
    return CR_STATUS_FAIL;
}
int32_t CR_GetPercentCompleted(void) {
    return 0;
}
int32_t CR_GetNumberOfJitterErrors(void) {
    return 0;
}
CR_STATUS CR_CloseRipper(void) {
    return CR_STATUS_FAIL;
}
CR_STATUS CR_PlayTrack(int32_t) {
    return CR_STATUS_FAIL;
}
CR_STATUS CR_PauseCD(int32_t) {
    return CR_STATUS_FAIL;
}
CR_STATUS CR_StopPlayTrack(void) {
    return CR_STATUS_FAIL;
}
CR_STATUS CR_EjectCD(int32_t) {
    return CR_STATUS_FAIL;
}
CR_STATUS CR_GetPlayPosition(int32_t*, int32_t*) {
    return CR_STATUS_FAIL;
}
}
