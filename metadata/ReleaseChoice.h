#pragma once

#include "metadata/MusicBrainz.h"

#include <string>
#include <vector>

// Which of the releases MusicBrainz lists for one disc is taken: the user's choice,
// else the one the disc's own evidence points to (its media catalogue number against
// the release's barcode, then its CD-TEXT titles, then the user's country from the
// locale), else the first listed.
namespace Metadata {

struct DiscEvidence {
    std::string Mcn;                 // the disc's media catalogue number; empty: none
    std::string Album;               // CD-TEXT album title
    std::vector<std::string> Titles; // CD-TEXT titles of the audio tracks, in order
    std::string Country;             // the user's country ("GB"); empty: not known
};

struct ReleasePick {
    std::size_t Index = 0; // into the list given
    std::string Reason;    // "your choice", "the disc's MCN is its barcode", ...
    std::string Error;     // the wanted release is not in the list (then Index by evidence)
};

// `wanted` is a 1-based number into `releases`, a release's MBID, or empty. Never
// called with an empty list.
ReleasePick ChooseRelease(const std::vector<Release>& releases, const DiscEvidence& evidence,
                          const std::string& wanted);

// The country of the user's locale: "GB" of LC_ALL, LC_MESSAGES or LANG
// ("en_GB.UTF-8"), upper case; empty for "C", "POSIX" or nothing.
std::string LocaleCountry();

// Digits only, leading zeros removed: a 12-digit UPC and the 13-digit EAN of the same
// product compare equal. Empty when no digit other than 0 is left.
std::string BarcodeDigits(const std::string& code);

} // namespace Metadata
