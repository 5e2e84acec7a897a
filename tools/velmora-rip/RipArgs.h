#pragma once

#include "ProofArgs.h"
#include "metadata/DiscTitles.h"

#include <optional>
#include <string>
#include <vector>

// The command line of velmora-rip, parsed but not yet checked against a disc.
namespace riptool {

enum class Command { None, Drives, Tracks, Rip, Help, Version };
enum class Format { Wav, Mp3, Flac, Opus };

struct Arguments {
    Command command = Command::None;
    std::optional<int> drive;           // --drive N
    std::vector<int> tracks;            // --tracks, 1-based, in the order given; empty: all
    Format format = Format::Mp3;        // --format
    std::optional<std::string> outDir;  // --out DIR, never blank
    bool overwrite = false;             // --overwrite
    std::vector<std::string> images;    // disc images that become virtual drives
    Metadata::CommandLineTitles titles; // --artist, --album, --title N=TEXT
    bool noLookup = false;              // --no-lookup
    std::string release;                // --release N|MBID: which release of the disc
    bool noCover = false;               // --no-cover
    bool coverFileOnly = false;         // --cover-file-only
    int jobs = 0;                       // --jobs N, MP3 encoders at once; 0: one per core
    ProofArguments proof;               // --test, --offset, --no-accuraterip, --report
    bool hiddenTrack = false;           // --hidden-track: audio before track 1 as track 0
    std::string hiddenTitle;            // --title 0=TEXT: the hidden track's title
};

// Parses argv; on a bad argument returns false with a one-line message in `error`.
bool ParseArguments(int argc, const char* const* argv, Arguments& args, std::string& error);

// "1,3-5" -> 1 3 4 5; "all" -> empty. False for anything else (numbers 1 to 99,
// ranges ascending); a track named twice is kept once, at its first place.
bool ParseTrackList(const std::string& text, std::vector<int>& tracks);

// The --title numbers against the disc's track count: false with the message when one
// names a track the disc does not have.
bool CheckTitleNumbers(const Arguments& args, int trackCount, std::string& error);

// The help text.
const char* Usage();

} // namespace riptool
