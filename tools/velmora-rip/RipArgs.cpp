#include "RipArgs.h"

#include <algorithm>
#include <charconv>

namespace riptool {

namespace {

constexpr int MaxTrack = 99; // a CD holds at most 99 tracks

bool ParseNumber(const std::string& text, int lo, int hi, int& value) {
    const char* first = text.data();
    const char* last = first + text.size();
    const auto [end, ec] = std::from_chars(first, last, value);
    return ec == std::errc() && end == last && !text.empty() && value >= lo && value <= hi;
}

bool AddRange(const std::string& item, std::vector<int>& tracks) {
    const std::size_t dash = item.find('-');
    int from = 0;
    int to = 0;
    if (dash == std::string::npos) {
        if (!ParseNumber(item, 1, MaxTrack, from)) {
            return false;
        }
        to = from;
    } else if (!ParseNumber(item.substr(0, dash), 1, MaxTrack, from) ||
               !ParseNumber(item.substr(dash + 1), 1, MaxTrack, to) || to < from) {
        return false;
    }
    for (int t = from; t <= to; ++t) {
        if (std::find(tracks.begin(), tracks.end(), t) == tracks.end()) {
            tracks.push_back(t);
        }
    }
    return true;
}

Command CommandOf(const std::string& word) {
    if (word == "drives") {
        return Command::Drives;
    }
    if (word == "tracks") {
        return Command::Tracks;
    }
    if (word == "rip") {
        return Command::Rip;
    }
    return Command::None;
}

// Takes the value of option argv[i] (as "--opt VALUE" or "--opt=VALUE").
bool OptionValue(int argc, const char* const* argv, int& i, const std::string& inlineValue,
                 bool hasInline, std::string& value) {
    if (hasInline) {
        value = inlineValue;
        return true;
    }
    if (i + 1 >= argc) {
        return false;
    }
    value = argv[++i];
    return true;
}

bool ParseOption(const std::string& name, const std::string& value, Arguments& args,
                 std::string& error) {
    if (IsProofOption(name)) {
        return ParseProofOption(name, value, args.proof, error);
    }
    if (name == "--drive") {
        int drive = 0;
        if (!ParseNumber(value, 0, 999, drive)) {
            error = "bad drive number: " + value;
            return false;
        }
        args.drive = drive;
    } else if (name == "--tracks") {
        if (!ParseTrackList(value, args.tracks)) {
            error = "bad track list: " + value + " (use numbers and ranges such as 1,3-5, or all)";
            return false;
        }
    } else if (name == "--format") {
        if (value != "wav" && value != "mp3") {
            error = "bad format: " + value + " (use wav or mp3)";
            return false;
        }
        args.format = value == "wav" ? Format::Wav : Format::Mp3;
    } else {
        args.outDir = value;
    }
    return true;
}

} // namespace

bool ParseTrackList(const std::string& text, std::vector<int>& tracks) {
    tracks.clear();
    if (text == "all") {
        return true;
    }
    std::size_t pos = 0;
    for (;;) {
        const std::size_t comma = text.find(',', pos);
        if (!AddRange(text.substr(pos, comma - pos), tracks)) {
            tracks.clear();
            return false;
        }
        if (comma == std::string::npos) {
            return true;
        }
        pos = comma + 1;
    }
}

bool ParseArguments(int argc, const char* const* argv, Arguments& args, std::string& error) {
    args = Arguments{};
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            args.command = Command::Help;
            return true;
        }
        if (arg == "--version") {
            args.command = Command::Version;
            return true;
        }
        if (ParseProofFlag(arg, args.proof)) {
            continue;
        }
        if (arg.rfind("--", 0) == 0) {
            const std::size_t eq = arg.find('=');
            const std::string name = arg.substr(0, eq);
            if (name != "--drive" && name != "--tracks" && name != "--format" && name != "--out" &&
                !IsProofOption(name)) {
                error = "unknown option: " + name;
                return false;
            }
            std::string value;
            const std::string inlineValue = eq == std::string::npos ? "" : arg.substr(eq + 1);
            if (!OptionValue(argc, argv, i, inlineValue, eq != std::string::npos, value)) {
                error = "option " + name + " needs a value";
                return false;
            }
            if (!ParseOption(name, value, args, error)) {
                return false;
            }
        } else if (args.command == Command::None) {
            args.command = CommandOf(arg);
            if (args.command == Command::None) {
                error = "unknown command: " + arg + " (use drives, tracks or rip)";
                return false;
            }
        } else {
            args.images.push_back(arg);
        }
    }
    if (args.command == Command::None) {
        error = "no command given (use drives, tracks or rip; --help tells more)";
        return false;
    }
    return true;
}

const char* Usage() {
    return "usage: velmora-rip drives [IMAGE...]\n"
           "       velmora-rip tracks [--drive N] [IMAGE...]\n"
           "       velmora-rip rip [--drive N] [--tracks 1,3-5|all] [--format wav|mp3]\n"
           "                       [--out DIR] [--test] [--offset N] [--no-accuraterip]\n"
           "                       [--report FILE] [IMAGE...]\n"
           "       velmora-rip --help | --version\n"
           "\n"
           "Lists CD drives and the tracks of a disc, and extracts audio tracks to WAV\n"
           "files or to MP3 files tagged with the track title.\n"
           "\n"
           "  drives           list the drives, one line each: index and identification\n"
           "  tracks           list the disc's tracks: number, title, kind, length; the\n"
           "                   disc key of its section in cdplayer.ini, the CDDB,\n"
           "                   AccurateRip and MusicBrainz disc IDs\n"
           "  rip              extract tracks (default: every audio track, to MP3)\n"
           "  --drive N        use drive N (default: the first image given, else drive 0)\n"
           "  --tracks LIST    track numbers and ranges, or all; data tracks are skipped\n"
           "  --format F       wav or mp3 (default mp3)\n"
           "  --out DIR        output folder (default: the output folder of the settings)\n"
           "  --test           read each track twice and compare the CRCs; a difference\n"
           "                   marks the track damaged\n"
           "  --offset N       the drive's read offset in samples (default: ReadOffset in\n"
           "                   the settings, else AccurateRip's list of drives; 0 for images)\n"
           "  --no-accuraterip do not look the rip up in the AccurateRip database\n"
           "  --report FILE    write the rip's CRCs and AccurateRip results as JSON\n"
           "  IMAGE            a disc image (.cue, .toc, .nrg) that becomes a drive\n"
           "\n"
           "Files are named output folder + track title + .wav or .mp3; titles come from\n"
           "cdplayer.ini when the disc has a section there, else Track01, Track02, ...\n"
           "Existing files are replaced. MP3 settings come from the settings file of\n"
           "velmora-ripper. Ctrl-C stops the current track and leaves it partial.\n"
           "Each rip writes a log beside its files (album title or disc key + .log) with\n"
           "the CRC32 and AccurateRip checksums and result of every track.\n"
           "Exit status: 0 done, 1 failure, 2 bad arguments, 130 interrupted.\n";
}

} // namespace riptool
