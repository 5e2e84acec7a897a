#pragma once

#include "verify/Dbar.h"
#include "verify/DiscIds.h"

#include <cstdint>
#include <string>

// A track's AccurateRip result.
enum class ArResult {
    Off,           // the look-up was turned off
    NotAvailable,  // no checksum: the PCM was not 44.1 kHz stereo
    Accurate,      // a record holds the track's v1 or v2 checksum
    NotAccurate,   // the disc is known, no record holds the checksum
    NotInDatabase, // the disc (or this track) is unknown to the database
    Unreachable,   // no answer in time, a network error, or an unreadable answer
};

// "off", "not available", "accurate", "not accurate", "not in database", "unreachable"
std::string ArResultWord(ArResult result);

struct ArTrackVerdict {
    ArResult Result = ArResult::Off;
    int Confidence = 0; // the highest confidence among the matching records
    int Version = 0;    // 1 or 2: which checksum matched; 0 when none did
};

// The public database's address; VELMORA_ACCURATERIP_URL replaces it.
inline constexpr const char* kAccurateRipBase = "http://www.accuraterip.com/accuraterip";
std::string AccurateRipBase();

// BASE/a/b/c/dBAR-nnn-aaaaaaaa-bbbbbbbb-ffffffff.bin, where a, b and c are the last three
// hex digits of the first disc ID, last first.
std::string DbarUrl(const std::string& base, const AccurateRipIds& ids);

// What the database said about one disc.
struct ArDiscAnswer {
    enum Kind { Found, NotFound, Unreachable } State = Unreachable;
    DbarFile File;     // when Found
    std::string Error; // when Unreachable: why
};

// Fetches the disc's dBAR file; never waits longer than timeoutSeconds.
ArDiscAnswer FetchDbar(const AccurateRipIds& ids, long timeoutSeconds = 10);

// The result of track `index` (0-based position in the table of contents) with the
// given checksums.
ArTrackVerdict MatchTrack(const ArDiscAnswer& answer, std::size_t index, uint32_t v1, uint32_t v2);
