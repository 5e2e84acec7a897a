#include "cdaccess/CueSheetStep.h"

#include "cdaccess/HiddenTrack.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

CueDisc DescribeDiscForCue(const TCdRipDll& dll) {
    CueDisc disc;
    char mcn[MCNSize] = {};
    if (dll.CR_GetMcn(mcn, MCNSize) == 0) {
        disc.Catalog = mcn;
    }
    bool anyAnswer = false;
    const int32_t count = dll.CR_GetNumTocEntries();
    for (int32_t i = 0; i < count; ++i) {
        const TTocEntry e = dll.CR_GetTocEntry(i);
        CueTrack t;
        t.Number = e.TrackNumber;
        t.Audio = e.Flag == 0x10;
        t.Start = e.StartSector;
        int32_t points[100];
        const int32_t n = dll.CR_GetTrackIndexes(t.Number, points, 100);
        if (n >= 2) {
            anyAnswer = true;
            t.Pregap = points[0];
            t.Indexes.assign(points + 2, points + n);
        }
        const int32_t flags = dll.CR_GetTrackFlags(t.Number);
        if (flags > 0) {
            t.PreEmphasis = (flags & FlagPre) != 0;
            t.CopyPermitted = (flags & FlagDcp) != 0;
        }
        char isrc[ISRCSize] = {};
        if (dll.CR_GetTrackIsrc(t.Number, isrc, ISRCSize) == 0) {
            t.Isrc = isrc;
        }
        disc.Tracks.push_back(t);
    }
    disc.GapsKnown = anyAnswer;
    return disc;
}

CueSheetStep::CueSheetStep(const TCdRipDll& dll, std::string performer)
    : Described(DescribeDiscForCue(dll)), Hidden(FindHiddenAudio(dll)) {
    Described.Performer = std::move(performer);
}

namespace {

// A name for the sheet that leaves no folder and replaces no file: "<name>.cue", else
// "<name> (2).cue" and on.
std::string FreeName(const fs::path& folder, std::string name) {
    for (char& c : name) {
        if (c == '/' || static_cast<unsigned char>(c) < 0x20) {
            c = '_';
        }
    }
    if (name.empty() || name == "." || name == "..") {
        name = "disc";
    }
    std::error_code ec;
    for (int n = 1; n < 100; ++n) {
        const fs::path p = folder / (name + (n == 1 ? "" : " (" + std::to_string(n) + ")") + ".cue");
        if (!fs::exists(fs::symlink_status(p, ec))) {
            return p.string();
        }
    }
    return "";
}

} // namespace

void CueSheetStep::Run(RipJob& job) {
    CueDisc disc = Described;
    const RipRecord& record = job.Record();
    const fs::path folder = job.Options().OutDir;
    disc.CddbId = record.CddbId;
    disc.MusicBrainzId = record.MusicBrainzId;
    disc.AccurateRipId = record.AccurateRipId;
    disc.Program = record.Program + " " + record.Version;
    disc.Title = job.Options().AlbumTitle;
    const EncoderFormat* format = job.Options().Format;
    disc.FileType = format != nullptr && format->Name() == "mp3" ? "MP3" : "WAVE";
    bool any = false;
    for (const auto& [track, outcome] : job.Outcomes()) {
        if (!outcome.FileWritten) {
            continue;
        }
        for (CueTrack& t : disc.Tracks) {
            if (t.Number == track.Number) {
                std::error_code ec;
                const fs::path relative = fs::relative(track.FileName, folder, ec);
                t.FileName = ec || relative.empty() ? track.FileName : relative.string();
                t.Title = track.Title;
                any = true;
            }
        }
    }
    auto& settings = job.Proof().Record.Settings;
    if (!disc.GapsKnown) {
        settings.emplace_back("Gaps", "not detected: the drive reported no index points");
    }
    if (const std::string line = HiddenAudioLine(Hidden); !line.empty()) {
        settings.emplace_back("Hidden track", line.substr(line.find(": ") + 2));
    }
    if (!any) {
        return;
    }
    const std::string path = FreeName(folder, disc.Title.empty() ? record.DiscKey : disc.Title);
    if (path.empty()) {
        return;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << CueSheetText(disc);
    out.flush();
    out.close();
    if (!out) {
        std::error_code ec;
        fs::remove(path, ec); // a sheet cut short (a full disk) is worse than none
        return;
    }
    Written = path;
}
