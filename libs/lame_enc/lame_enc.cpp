#include "libs/lame_enc/lame_enc.h"

uint32_t beVersion(BE_VERSION_RECORD*) {
    return BE_ERR_NULL_POINTER;
}
uint32_t beInitStream(const BE_CONFIG_RECORD*, uint32_t*, uint32_t*, uint32_t*) {
    return BE_ERR_BAD_RECORD;
}
uint32_t beEncodeChunk(uint32_t, uint32_t, const int16_t*, uint8_t*, uint32_t*) {
    return BE_ERR_BAD_HANDLE;
}
uint32_t beDeinitStream(uint32_t, uint8_t*, uint32_t*) {
    return BE_ERR_BAD_HANDLE;
}
uint32_t beGetInfoTag(uint32_t, uint8_t*, uint32_t, uint32_t*) {
    return BE_ERR_BAD_HANDLE;
}
uint32_t beCloseStream(uint32_t) {
    return BE_ERR_BAD_HANDLE;
}
