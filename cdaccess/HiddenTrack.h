#pragma once

#include "cdaccess/CdRip_dll.h"

#include <cstdint>
#include <string>

// Audio before track 1: a disc whose first track is audio and whose INDEX 01 comes after
// sector 0 holds sectors 0 .. start - 1 in track 1's pregap, where some discs hide a
// track. Read through the library, it is told apart from digital silence.
struct HiddenAudio {
    int32_t Sectors = 0; // 0: the disc has none
    bool Read = false;   // the sectors could be read (else Silent says nothing)
    bool Silent = false; // every sample read is zero
};

// Reads the audio before track 1 of the disc in the active drive (its table of contents
// read) through `dll`.
HiddenAudio FindHiddenAudio(const TCdRipDll& dll);

// "Hidden track: 0:02 (150 sectors) before track 1: digital silence" (or ": audio", or
// ": not readable"); "" when the disc has none.
std::string HiddenAudioLine(const HiddenAudio& hidden);
