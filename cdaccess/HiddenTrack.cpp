#include "cdaccess/HiddenTrack.h"

#include <algorithm>
#include <cstdio>
#include <vector>

HiddenAudio FindHiddenAudio(const TCdRipDll& dll) {
    HiddenAudio h;
    if (dll.CR_GetNumTocEntries() < 1) {
        return h;
    }
    const TTocEntry first = dll.CR_GetTocEntry(0);
    if (first.Flag != 0x10 || first.StartSector <= 0) {
        return h; // a data track first, or track 1 at sector 0
    }
    h.Sectors = first.StartSector;
    int32_t size = 0;
    if (dll.CR_OpenRipper(&size, 0, first.StartSector - 1) == CRFailure || size <= 0) {
        return h;
    }
    std::vector<uint8_t> buffer(static_cast<std::size_t>(size));
    bool silent = true, ok = true;
    int64_t bytes = 0;
    // Every call moves on: the range's sectors and a few more calls end it.
    for (int32_t calls = 0; calls < first.StartSector + 10; ++calls) {
        int32_t n = 0;
        const int32_t status = dll.CR_RipChunk(buffer.data(), &n, -1);
        if (status == CRFailure) {
            ok = false;
            break;
        }
        if (status == CRJitter) {
            ok = false; // a damaged sector proves nothing about silence
        }
        bytes += n;
        silent = silent &&
                 std::all_of(buffer.begin(), buffer.begin() + n, [](uint8_t b) { return b == 0; });
        if (status == CRFinished) {
            break;
        }
    }
    dll.CR_CloseRipper();
    h.Read = ok && bytes == int64_t(first.StartSector) * 2352;
    h.Silent = h.Read && silent;
    return h;
}

std::string HiddenAudioLine(const HiddenAudio& hidden) {
    if (hidden.Sectors <= 0) {
        return "";
    }
    char text[160];
    std::snprintf(text, sizeof text, "Hidden track: %d:%02d (%d sectors) before track 1: %s",
                  hidden.Sectors / 4500, (hidden.Sectors / 75) % 60, hidden.Sectors,
                  !hidden.Read    ? "not readable"
                  : hidden.Silent ? "digital silence"
                                  : "audio");
    return text;
}
