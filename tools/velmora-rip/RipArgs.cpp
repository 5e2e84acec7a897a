#include "RipArgs.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace riptool {

namespace {

constexpr int MaxTrack = 99; // a CD holds at most 99 tracks

// Characters of code 1 to 32, which the output folder loses when it is trimmed.
const std::string BlankChars = [] {
    std::string s;
    for (char c = 1; c <= 32; ++c) {
        s += c;
    }
    return s;
}();

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
    // An option word is never taken as a value: "--format --out DIR" lacks the format.
    if (i + 1 >= argc || std::string(argv[i + 1]).rfind("--", 0) == 0) {
        return false;
    }
    value = argv[++i];
    return true;
}

// A MusicBrainz ID: 8-4-4-4-12 hexadecimal digits.
bool IsMbid(const std::string& text) {
    if (text.size() != 36)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i])))
            return false;
    }
    return true;
}

bool KnownOption(const std::string& name) {
    return name == "--drive" || name == "--tracks" || name == "--format" || name == "--out" ||
           name == "--artist" || name == "--album" || name == "--title" || name == "--jobs" ||
           name == "--release";
}

// --artist TEXT, --album TEXT, --title N=TEXT: titles that win over every source.
bool ParseTitleOption(const std::string& name, const std::string& value, Arguments& args,
                      std::string& error) {
    if (name == "--artist") {
        args.titles.Artist = value;
        return true;
    }
    if (name == "--album") {
        args.titles.Album = value;
        return true;
    }
    const std::size_t eq = value.find('=');
    int track = 0;
    if (eq == std::string::npos || !ParseNumber(value.substr(0, eq), 0, MaxTrack, track) ||
        eq + 1 == value.size()) {
        error = "bad title: " + value + " (use --title N=TEXT, N a track number)";
        return false;
    }
    // Track 0 is the hidden track before track 1, which no other source titles.
    (track == 0 ? args.hiddenTitle : args.titles.Titles[track]) = value.substr(eq + 1);
    return true;
}

bool ParseOption(const std::string& name, const std::string& value, Arguments& args,
                 std::string& error) {
    if (name == "--artist" || name == "--album" || name == "--title") {
        return ParseTitleOption(name, value, args, error);
    }
    if (IsProofOption(name)) {
        return ParseProofOption(name, value, args.proof, error);
    }
    if (name == "--release") {
        int number = 0;
        if (!ParseNumber(value, 1, 999, number) && !IsMbid(value)) {
            error = "bad release: " + value +
                    " (use its number in the list of tracks, or its MusicBrainz ID)";
            return false;
        }
        args.release = value;
        return true;
    }
    if (name == "--jobs") {
        int jobs = 0;
        if (!ParseNumber(value, 1, 256, jobs)) {
            error = "bad number of jobs: " + value + " (1 to 256)";
            return false;
        }
        args.jobs = jobs;
        return true;
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
        if (value != "wav" && value != "mp3" && value != "flac" && value != "opus") {
            error = "bad format: " + value + " (use wav, mp3, flac or opus)";
            return false;
        }
        args.format = value == "wav"    ? Format::Wav
                      : value == "flac" ? Format::Flac
                      : value == "opus" ? Format::Opus
                                        : Format::Mp3;
    } else {
        // A blank folder would put the files into the root folder.
        if (value.find_first_not_of(BlankChars) == std::string::npos) {
            error = "the output folder (--out) must not be empty";
            return false;
        }
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

bool CheckTitleNumbers(const Arguments& args, int trackCount, std::string& error) {
    for (const auto& [number, title] : args.titles.Titles) {
        if (number > trackCount) {
            error = "--title " + std::to_string(number) + "=...: the disc has no track " +
                    std::to_string(number) + " (tracks 1 to " + std::to_string(trackCount) + ")";
            return false;
        }
    }
    return true;
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
        if (arg == "--overwrite") {
            args.overwrite = true;
            args.proof.overwrite = true;
        } else if (arg.rfind("--", 0) == 0) {
            const std::size_t eq = arg.find('=');
            const std::string name = arg.substr(0, eq);
            if (arg == "--no-lookup") {
                args.noLookup = true;
                continue;
            }
            if (arg == "--hidden-track") {
                args.hiddenTrack = true;
                continue;
            }
            if (arg == "--no-cover" || arg == "--cover-file-only") {
                (arg == "--no-cover" ? args.noCover : args.coverFileOnly) = true;
                continue;
            }
            if (!KnownOption(name) && !IsProofOption(name)) {
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
    return "Usage: velmora-rip drives [IMAGE...]\n"
           "  or:  velmora-rip tracks [--drive N] [TITLES] [IMAGE...]\n"
           "  or:  velmora-rip rip [--drive N] [--tracks LIST] [--format wav|mp3|flac|opus]\n"
           "                       [--out DIR] [--overwrite] [--jobs N] [--test] [--offset N]\n"
           "                       [--no-accuraterip] [--secure] [--report FILE] [TITLES]\n"
           "                       [IMAGE...]\n"
           "Extract audio tracks of a CD to WAV, MP3, FLAC or Opus files, tagged with\n"
           "the track's titles, and prove each rip with its CRC32 and AccurateRip.\n"
           "\n"
           "Commands:\n"
           "  drives           list the drives, one line each: index and identification\n"
           "  tracks           list the disc's tracks (number, kind, length, where the\n"
           "                   title came from, title), the disc key of its section in\n"
           "                   cdplayer.ini, the CDDB, AccurateRip and MusicBrainz disc IDs\n"
           "  rip              extract tracks (default: every audio track, to MP3)\n"
           "\n"
           "Options:\n"
           "  --drive N        use drive N (default: the first image given, else drive 0)\n"
           "  --tracks LIST    track numbers and ranges such as 1,3-5, or all (default);\n"
           "                   data tracks are skipped\n"
           "  --format F       wav, mp3, flac or opus (default mp3)\n"
           "  --out DIR        output folder (default: OutDir of the settings file); it\n"
           "                   must not be empty\n"
           "  --overwrite      replace files that exist (default: a track whose file\n"
           "                   exists fails, and the other tracks go on)\n"
           "  --jobs N         tracks encoded at once while the disc is read on\n"
           "                   (default: one per core); 1 rips one track after the other\n"
           "  --test           read each track twice and compare the CRCs; a difference\n"
           "                   marks the track damaged\n"
           "  --offset N       the drive's read offset in samples (default: ReadOffset in\n"
           "                   the settings, else AccurateRip's list of drives; 0 for images)\n"
           "  --no-accuraterip do not look the rip up in the AccurateRip database\n"
           "  --secure         read every track securely (default: each track is read once\n"
           "                   and proven by AccurateRip where its entry of confidence 2\n"
           "                   or more matches; securely only where it does not)\n"
           "  --report FILE    write the rip's CRCs and AccurateRip results as JSON\n"
           "  --hidden-track   rip audio before track 1 (a hidden track) first, as\n"
           "                   track 0, unless it is digital silence (HiddenTrack=1\n"
           "                   in [System] of the settings file does the same)\n"
           "  -h, --help       show this help and exit\n"
           "  --version        show the version and exit\n"
           "  IMAGE            a disc image (.cue, .toc, .nrg) that becomes a drive\n"
           "\n"
           "Titles (TITLES):\n"
           "  --artist TEXT    the disc's artist\n"
           "  --album TEXT     the disc's album title\n"
           "  --title N=TEXT   the title of track N (the option may be repeated); 0:\n"
           "                   the hidden track's\n"
           "  --no-lookup      do not ask MusicBrainz (Lookup=0 in [System] of the\n"
           "                   settings file does the same)\n"
           "  --release N|ID   of several releases MusicBrainz lists for the disc, take\n"
           "                   number N of the list tracks shows, or the one of that\n"
           "                   MusicBrainz ID (default: the one the disc's MCN, CD-TEXT or\n"
           "                   your country points to, else the first)\n"
           "  --no-cover       do not fetch the front cover (CoverArt=0 in [System])\n"
           "  --cover-file-only  write the cover as cover.jpg or cover.png beside the\n"
           "                   files only, not into the tags (EmbedCover=0 in [System])\n"
           "\n"
           "Files are named output folder + track title + .wav, .mp3, .flac or .opus.\n"
           "Each title comes from the first of: the command line, the disc's section in\n"
           "cdplayer.ini, the disc's CD-TEXT, MusicBrainz, Track01, Track02, ...; tracks\n"
           "shows which. MP3\n"
           "files get an ID3v2.4 tag (title, artists, album, track number, year,\n"
           "MusicBrainz IDs) at their start and the ID3v1 title tag at their end;\n"
           "FLAC and Opus files get the same as Vorbis comments, and the cover.\n"
           "FLAC is verified as it is encoded (compression level: Compression in\n"
           "[FLAC] of the settings file, default 8); Opus is VBR at Bitrate in [Opus]\n"
           "(default 160 kbit/s). Encoded files get ReplayGain 2 tags (REPLAYGAIN_* in\n"
           "MP3 and FLAC, R128_* in Opus): the track's when it ends, the album's when\n"
           "the job ends (ReplayGain=0 in [System] turns them off).\n"
           "Spaces and control characters around a title are dropped. A \"/\" in a\n"
           "typed title makes a sub-folder, and one that would leave the output folder\n"
           "(\"..\", a leading \"/\", a control character inside) fails; in a title from\n"
           "CD-TEXT or MusicBrainz \"/\" is written as U+2215 and makes no folder. A\n"
           "leading \".\" is written as U+2024, a name over 255 bytes is shortened.\n"
           "The names of a job are reserved first: the later of two tracks with one\n"
           "name is refused, and a file that appears meanwhile is not replaced. Each\n"
           "track is written to a hidden \".NAME.partial-XXXXXX\" file beside its final\n"
           "name and renamed when it ends, so an existing file is replaced only by a\n"
           "whole track. A track stopped early keeps the file that was there before,\n"
           "or, when there was none, is kept partial under its name. Sectors that could\n"
           "not be read are delivered as silence and listed after the track. MP3\n"
           "settings come from the settings file of velmora-ripper. Each rip writes a\n"
           "log beside its files (album title or disc key + .log) with the CRC32 and\n"
           "AccurateRip checksums and result of every track.\n"
           "\n"
           "Ctrl-C, SIGTERM and SIGHUP stop after the current track's data is saved;\n"
           "a second one ends the program at once.\n"
           "\n"
           "Exit status:\n"
           "  0    every track ripped exactly\n"
           "  1    a failure: a track (or the job) could not be ripped or written\n"
           "  2    bad arguments\n"
           "  3    every track written, but some had sectors that could not be read\n"
           "  130, 143, 129  stopped by SIGINT (Ctrl-C), SIGTERM or SIGHUP\n"
           "\n"
           "Environment:\n"
           "  CDRIP_IMAGES       disc images (separated by \":\") that become drives\n"
           "  VELMORA_SETTINGS   the settings file (default: velmora-ripper.ini of the\n"
           "                     GUI, beside the program or in the configuration folder)\n"
           "  VELMORA_ACCURATERIP_URL  the AccurateRip database (default\n"
           "                     http://www.accuraterip.com/accuraterip)\n"
           "  VELMORA_MUSICBRAINZ_URL  the MusicBrainz web service (default\n"
           "                     https://musicbrainz.org)\n"
           "  XDG_CONFIG_HOME    the configuration folder, which holds cdplayer.ini\n"
           "                     (default ~/.config)\n"
           "\n"
           "Example:\n"
           "  velmora-rip rip --tracks 1-3 --format wav --out ~/Music/Album disc.cue\n";
}

} // namespace riptool
