#include "cdaccess/CueSheet.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace {

// "MM:SS:FF": 75 frames a second, 4500 a minute.
std::string Msf(int32_t sectors) {
    sectors = std::max(sectors, 0);
    char text[24];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", sectors / 4500, (sectors / 75) % 60,
                  sectors % 75);
    return text;
}

std::string Quoted(std::string text) {
    std::replace(text.begin(), text.end(), '"', '\'');
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::replace(text.begin(), text.end(), '\r', ' ');
    return "\"" + text + "\"";
}

// A file name as a FILE line holds it: in quotes, or where it holds a double quote
// (a title such as 12" Mix), bare, which a reader takes to the line's last word.
std::string FileWord(const std::string& name) {
    return name.find('"') == std::string::npos ? "\"" + name + "\"" : name;
}

struct Writer {
    std::ostringstream Out;
    std::string OpenFile;
    int32_t FileStart = 0; // the LSN the open file starts at

    void File(const std::string& name, int32_t start, const std::string& type) {
        Out << "FILE " << FileWord(name) << " " << type << "\n";
        OpenFile = name;
        FileStart = start;
    }
    void Index(int number, int32_t lsn) {
        char n[16];
        std::snprintf(n, sizeof n, "%02d", number);
        Out << "    INDEX " << n << " " << Msf(lsn - FileStart) << "\n";
    }
};

} // namespace

bool CueFileNameFits(const std::string& name) {
    if (name.empty() || name.find_first_of("\r\n") != std::string::npos) {
        return false;
    }
    if (name.find('"') == std::string::npos) {
        return true;
    }
    // Bare, the name is its words joined by single spaces: none may start with a quote.
    return name.front() != '"' && name.front() != ' ' && name.back() != ' ' &&
           name.find("  ") == std::string::npos && name.find(" \"") == std::string::npos &&
           name.find('\t') == std::string::npos;
}

std::string CueSheetText(const CueDisc& disc) {
    Writer w;
    if (!disc.CddbId.empty())
        w.Out << "REM DISCID " << disc.CddbId << "\n";
    if (!disc.MusicBrainzId.empty())
        w.Out << "REM MUSICBRAINZ_DISCID " << disc.MusicBrainzId << "\n";
    if (!disc.AccurateRipId.empty())
        w.Out << "REM ACCURATERIPID " << disc.AccurateRipId << "\n";
    if (!disc.Program.empty())
        w.Out << "REM COMMENT " << Quoted(disc.Program) << "\n";
    if (!disc.GapsKnown)
        w.Out << "REM GAPS \"not detected: the drive reported no index points\"\n";
    if (!disc.Catalog.empty())
        w.Out << "CATALOG " << disc.Catalog << "\n";
    if (!disc.Performer.empty())
        w.Out << "PERFORMER " << Quoted(disc.Performer) << "\n";
    if (!disc.Title.empty())
        w.Out << "TITLE " << Quoted(disc.Title) << "\n";
    bool first = true;
    for (const CueTrack& t : disc.Tracks) {
        if (!t.Audio || t.FileName.empty()) {
            w.OpenFile.clear(); // the next track's pregap is in no file written
            continue;
        }
        // Its pregap lies at the end of the previous track's file when that is open;
        // otherwise (the first track written, or one after a track not ripped) it is
        // in no file and becomes PREGAP silence. Track 1's audio before its INDEX 01
        // is the hidden track's file when it was ripped.
        const int32_t pregap = t.Pregap >= 0 && t.Pregap <= t.Start ? t.Pregap : t.Start;
        const bool hidden = first && t.Start > 0 && !disc.HiddenFile.empty();
        const bool inPrevious = !first && !w.OpenFile.empty() && pregap < t.Start;
        if (hidden)
            w.File(disc.HiddenFile, 0, disc.FileType);
        else if (!inPrevious)
            w.OpenFile.clear();
        char n[16];
        std::snprintf(n, sizeof n, "%02d", t.Number);
        if (w.OpenFile.empty())
            w.File(t.FileName, t.Start, disc.FileType);
        w.Out << "  TRACK " << n << " AUDIO\n";
        if (t.CopyPermitted || t.PreEmphasis)
            w.Out << "    FLAGS" << (t.CopyPermitted ? " DCP" : "") << (t.PreEmphasis ? " PRE" : "")
                  << "\n";
        if (!t.Isrc.empty())
            w.Out << "    ISRC " << t.Isrc << "\n";
        if (!t.Title.empty())
            w.Out << "    TITLE " << Quoted(t.Title) << "\n";
        if (!t.Performer.empty())
            w.Out << "    PERFORMER " << Quoted(t.Performer) << "\n";
        if (hidden || inPrevious) {
            w.Index(0, hidden ? 0 : pregap);
            w.File(t.FileName, t.Start, disc.FileType);
        } else if (t.Start - pregap > 0 || (first && t.Start > 0)) {
            // The gap (or track 1's audio before INDEX 01) is in no file: silence.
            w.Out << "    PREGAP " << Msf(first ? t.Start : t.Start - pregap) << "\n";
        }
        w.Index(1, t.Start);
        for (int32_t i = 0; i < int32_t(t.Indexes.size()); ++i)
            w.Index(i + 2, t.Indexes[size_t(i)]);
        first = false;
    }
    return w.Out.str();
}
