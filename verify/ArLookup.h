#pragma once

#include "verify/Dbar.h"
#include "verify/DiscIds.h"

#include <cstdint>
#include <string>
#include <utility>

// A track's AccurateRip result.
enum class ArResult {
    Off,           // the look-up was turned off
    NotAvailable,  // no checksum: the PCM was not 44.1 kHz stereo
    Accurate,      // a record holds the track's v1 or v2 checksum
    NotAccurate,   // the disc is known, no record holds the checksum
    NotInDatabase, // the disc (or this track) is unknown to the database
    Unreachable,   // no answer in time, or a network error
    BadAnswer,     // an answer that cannot vouch: cut off, malformed, too large, another disc's
};

// "off", "not available", "accurate", "not accurate", "not in database", "unreachable",
// "bad answer"
std::string ArResultWord(ArResult result);

struct ArTrackVerdict {
    ArTrackVerdict() = default;
    ArTrackVerdict(ArResult result, int confidence, int version, std::string problem = {})
        : Result(result), Confidence(confidence), Version(version), Problem(std::move(problem)) {}

    ArResult Result = ArResult::Off;
    int Confidence = 0;  // the highest confidence among the matching records
    int Version = 0;     // 1 or 2: which checksum matched; 0 when none did
    std::string Problem; // BadAnswer, Unreachable: what was wrong
};

// The result as the log says it: "accurate (confidence 5, v2)", "bad answer (the file
// is empty)", ...
std::string ArVerdictText(const ArTrackVerdict& verdict);

// The public database's address; VELMORA_ACCURATERIP_URL replaces it.
inline constexpr const char* kAccurateRipBase = "http://www.accuraterip.com/accuraterip";
std::string AccurateRipBase();

// BASE/a/b/c/dBAR-nnn-aaaaaaaa-bbbbbbbb-ffffffff.bin, where a, b and c are the last three
// hex digits of the first disc ID, last first.
std::string DbarUrl(const std::string& base, const AccurateRipIds& ids);

// The largest answer taken: a real one holds at most a few hundred records of 99 tracks.
inline constexpr std::size_t kMaxDbarBytes = 1 << 20;

// What the database said about one disc.
struct ArDiscAnswer {
    enum Kind { Found, NotFound, Unreachable, Bad } State = Unreachable;
    AccurateRipIds Disc; // the disc asked about: only its records vouch
    DbarFile File;       // when Found
    std::string Error;   // when Unreachable or Bad: why
};

// The answer for the disc from the bytes the database sent with HTTP status 200.
ArDiscAnswer DbarAnswer(const AccurateRipIds& disc, std::string_view bytes);

// Fetches the disc's dBAR file; never waits longer than timeoutSeconds.
ArDiscAnswer FetchDbar(const AccurateRipIds& ids, long timeoutSeconds = 10);

// The result of track `index` (0-based position in the table of contents) with the
// given checksums. Only a record whose track count, both AccurateRip disc IDs and CDDB
// disc ID are the disc's may vouch; an answer cut off or malformed, or holding only
// other discs' records, is a bad answer that says what was wrong.
ArTrackVerdict MatchTrack(const ArDiscAnswer& answer, std::size_t index, uint32_t v1, uint32_t v2);
