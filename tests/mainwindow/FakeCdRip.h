#pragma once

#include "cdaccess/CdRip_dll.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// A CD ripping library made of plain data: one drive whose disc, tray and play
// position the test sets directly. Extraction calls answer failure.
struct FakeCdRip {
    int32_t Drives = 1;
    std::vector<TTocEntry> Toc; // the tracks, then the lead-out
    // The table CR_ReadToc read last (empty when it failed): CR_DiscChanged says TRUE
    // when the disc's table is another now, or the tray is open. DiscChecks counts the
    // calls.
    std::vector<TTocEntry> TocRead;
    int DiscChecks = 0;
    bool TrayOpen = false;
    bool ThrowOnReadToc = false; // the library call raises, as a broken driver might
    int32_t Position = 0;        // the second value of CR_GetPlayPosition
    std::vector<int32_t> Played; // track numbers handed to CR_PlayTrack
    std::vector<int32_t> Paused; // arguments of CR_PauseCD
    int Stops = 0;
    std::vector<int32_t> Ejects;
    // CD-TEXT: entry 0 the disc, entry N track N; each {title, performer} in UTF-8.
    std::vector<std::array<std::string, 2>> CdText;
    std::string StatusText;        // what CR_GetDriveStatusText answers
    std::string Mcn;               // what CR_GetMcn answers
    std::vector<std::string> Isrc; // entry N-1: what CR_GetTrackIsrc(N) answers

    // Audio tracks of the given lengths in sectors; data = true makes a track data.
    void SetDisc(const std::vector<int32_t>& lengths, const std::vector<bool>& data = {});
};

extern FakeCdRip Fake;
const TCdRipDll& FakeCdRipDll();
