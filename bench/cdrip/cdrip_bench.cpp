// Drives libcdrip over one disc image: rips a track (or the whole disc) in one mode and
// writes the PCM to a file, so that a script can time it against cd-paranoia.
#include "cdrip.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int usage() {
    std::fprintf(stderr, "usage: cdrip_bench IMAGE.cue [--track N | --all] [--no-paranoia]\n"
                         "                   [--format 0..5] [--out FILE]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return usage();
    int track = 0, format = CR_STEREO44100;
    bool paranoia = true;
    std::string out = "/dev/null";
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--track" && i + 1 < argc)
            track = std::atoi(argv[++i]);
        else if (a == "--all")
            track = 0;
        else if (a == "--no-paranoia")
            paranoia = false;
        else if (a == "--format" && i + 1 < argc)
            format = std::atoi(argv[++i]);
        else if (a == "--out" && i + 1 < argc)
            out = argv[++i];
        else
            return usage();
    }
    setenv("CDRIP_IMAGES", argv[1], 1);
    setenv("CDRIP_AUDIO", "none", 1);
    if (CR_Init() == CR_STATUS_FAIL || CR_GetNumCDROM() < 1 || CR_ReadToc() == CR_STATUS_FAIL) {
        std::fprintf(stderr, "cdrip_bench: cannot read %s\n", argv[1]);
        return 1;
    }
    const int tracks = CR_GetNumTocEntries();
    int32_t first = CR_GetTocEntry(0).startSector;
    int32_t last = CR_GetTocEntry(tracks).startSector - 1;
    if (track > 0) {
        if (track > tracks)
            return usage();
        first = CR_GetTocEntry(track - 1).startSector;
        last = CR_GetTocEntry(track).startSector - 1;
    }
    CR_DRIVE_PARAMS params;
    CR_GetCDROMParameters(&params);
    params.jitterCorrection = paranoia ? CR_TRUE : CR_FALSE;
    params.outputFormat = uint8_t(format);
    int32_t size = 0;
    if (CR_SetCDROMParameters(&params) == CR_STATUS_FAIL ||
        CR_OpenRipper(&size, first, last) == CR_STATUS_FAIL) {
        std::fprintf(stderr, "cdrip_bench: cannot open sectors %d to %d\n", first, last);
        return 1;
    }
    FILE* f = std::fopen(out.c_str(), "wb");
    if (!f)
        return 1;
    std::vector<uint8_t> buffer(static_cast<size_t>(size));
    long long total = 0;
    int status = CR_STATUS_OK, errors = 0;
    while (status != CR_STATUS_DONE && status != CR_STATUS_FAIL) {
        int32_t n = 0;
        status = CR_RipChunk(buffer.data(), &n, CR_TRUE);
        if (n > 0 && std::fwrite(buffer.data(), 1, size_t(n), f) != size_t(n))
            status = CR_STATUS_FAIL;
        total += n;
    }
    errors = CR_GetNumberOfJitterErrors();
    CR_CloseRipper();
    CR_DeInit();
    std::fclose(f);
    std::fprintf(stderr, "cdrip_bench: %lld bytes, %d unreadable sectors\n", total, errors);
    return status == CR_STATUS_DONE ? 0 : 1;
}
