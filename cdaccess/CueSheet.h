#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The cue sheet written beside a rip: one file per track, each holding the track from
// its INDEX 01 to the next track's INDEX 01 (so the next track's pregap is appended to
// it, and its INDEX 00 lies in this FILE), as the job rips them. Read back, the sheet
// gives the disc's table of contents again.

struct CueTrack {
    int Number = 0;               // as on the disc
    bool Audio = true;            // data tracks are not ripped: the sheet leaves them out
    int32_t Start = 0;            // INDEX 01 (LSN)
    int32_t Pregap = -1;          // INDEX 00 (LSN); -1 when not known, Start when it has none
    std::vector<int32_t> Indexes; // INDEX 02, 03, ... (LSN)
    std::string Isrc;
    bool PreEmphasis = false, CopyPermitted = false;
    std::string Title, Performer;
    std::string FileName; // the track's file, as the sheet names it (beside the sheet);
                          // empty: not ripped
};

struct CueDisc {
    std::string Catalog, Title, Performer;
    std::vector<CueTrack> Tracks;
    std::string FileType = "WAVE"; // WAVE for WAV (and FLAC) files, MP3 for MP3
    std::string HiddenFile;        // the hidden track's file (audio before track 1's
                                   // INDEX 01), when it was ripped
    bool GapsKnown = true;         // false: the drive reported no index points
    // REM lines: the disc's IDs and the program that wrote the sheet.
    std::string CddbId, MusicBrainzId, AccurateRipId, Program;
};

// True when a FILE line can name `name` so that it reads back as the same name: no
// line break, and a double quote only where the name can stand bare (no word of it
// starting with one, no tab, no run of spaces, none at its ends).
bool CueFileNameFits(const std::string& name);

// The sheet's text (UTF-8, lines ending in LF). A double quote in a text, which a cue
// sheet cannot hold, becomes a single quote; a file name that holds one is written
// bare (see CueFileNameFits).
std::string CueSheetText(const CueDisc& disc);
