#include "cdaccess/CueSheetStep.h"

#include "cdaccess/HiddenTrack.h"

#include "cdaccess/OutputFiles.h"
#include "verify/RipLog.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
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
    : Described(DescribeDiscForCue(dll)) {
    Described.Performer = std::move(performer);
}

namespace {

// A sheet this program wrote: among the REM lines it opens with, a REM COMMENT names one
// of the two programs. Such
// a sheet may be replaced by the next rip's; anything else only with --overwrite.
bool IsOurSheet(const fs::path& path) {
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(path, ec))) {
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    std::string head(4096, '\0');
    in.read(head.data(), std::streamsize(head.size()));
    head.resize(std::size_t(in.gcount()));
    // Our sheets open with their REM lines, the program's among them.
    std::istringstream lines(head);
    std::string line;
    while (std::getline(lines, line) && line.rfind("REM ", 0) == 0) {
        if (line.rfind("REM COMMENT \"velmora-", 0) == 0) {
            return true;
        }
    }
    return false;
}

// The sheet's candidate names follow the log's: "<album>.cue", then "<album> (2).cue"...
std::string SheetPath(const std::string& folder, const RipRecord& record, int n) {
    std::string path = RipLogPath(folder, record, n);
    return path.substr(0, path.size() - 4) + ".cue";
}

// A track whose whole file is there: read to its end (damaged sectors included, which
// the log lists). A stopped, failed or refused track has no file the sheet can name.
bool WholeFile(const TrackOutcome& o) {
    return o.FileWritten && (o.Result == TrackResult::Exact || o.Result == TrackResult::Damaged ||
                             o.Result == TrackResult::NotAccurate);
}

} // namespace

void CueSheetStep::Run(RipJob& job) {
    CueDisc disc = Described;
    const RipRecord& record = job.Record();
    const std::string& folder = job.Options().OutDir;
    disc.CddbId = record.CddbId;
    disc.MusicBrainzId = record.MusicBrainzId;
    disc.AccurateRipId = record.AccurateRipId;
    disc.Program = record.Program + " " + record.Version;
    disc.Title = job.Options().AlbumTitle;
    if (disc.Performer.empty()) {
        disc.Performer = job.Options().Artist;
    }
    const EncoderFormat* format = job.Options().Format;
    disc.FileType = format != nullptr && format->Name() == "mp3" ? "MP3" : "WAVE";
    bool any = false;
    std::vector<int> unfit; // tracks whose file names a sheet cannot hold
    for (const auto& [track, outcome] : job.Outcomes()) {
        if (!WholeFile(outcome)) {
            continue;
        }
        if (track.Number == 0) { // the hidden track: track 1's pregap, in its own file
            std::error_code ec;
            const fs::path relative = fs::relative(track.FileName, folder, ec);
            const std::string name = ec || relative.empty() ? track.FileName : relative.string();
            if (CueFileNameFits(name)) {
                disc.HiddenFile = name;
            } else {
                unfit.push_back(0);
            }
            continue;
        }
        for (CueTrack& t : disc.Tracks) {
            if (t.Number == track.Number) {
                std::error_code ec;
                const fs::path relative = fs::relative(track.FileName, folder, ec);
                const std::string name =
                    ec || relative.empty() ? track.FileName : relative.string();
                if (!CueFileNameFits(name)) {
                    unfit.push_back(t.Number);
                    continue;
                }
                t.FileName = name;
                t.Title = track.Title;
                if (const auto p = Performers.find(t.Number); p != Performers.end()) {
                    t.Performer = p->second;
                }
                any = true;
            }
        }
    }
    auto& settings = job.Proof().Record.Settings;
    if (!disc.GapsKnown) {
        settings.emplace_back("Gaps", "not detected: the drive reported no index points");
    }
    for (int number : unfit) {
        settings.emplace_back("Cue sheet", "track " + std::to_string(number) +
                                               " left out: a cue sheet cannot name its file");
    }
    if (!any) {
        return;
    }
    // Written as a track is (a partial file, then the rename). A name held by another
    // program's file moves the sheet on to the next number unless --overwrite.
    const std::string text = CueSheetText(disc);
    const bool overwrite = job.Options().Overwrite;
    int error = 0;
    for (int n = 1; n < 10000; ++n) {
        const std::string path = SheetPath(folder, record, n);
        std::error_code ec;
        const bool present = fs::exists(fs::symlink_status(path, ec));
        if (present && fs::is_directory(fs::symlink_status(path, ec))) {
            continue;
        }
        const bool ours = present && IsOurSheet(path);
        if (present && !ours && !overwrite) {
            continue;
        }
        const OutputFiles::TReplace replace = overwrite ? OutputFiles::TReplace::Anything
                                              : ours    ? OutputFiles::TReplace::WhatWasThere
                                                        : OutputFiles::TReplace::Nothing;
        if (OutputFiles::WriteWholeFile(path, text, replace, error)) {
            Written = path;
            settings.emplace_back("Cue sheet", fs::path(path).filename().string());
            return;
        }
        if (error != EEXIST) {
            break;
        }
    }
    Why = "the cue sheet was not written: " + OutputFiles::ErrorText(error);
    settings.emplace_back("Cue sheet", "not written: " + OutputFiles::ErrorText(error));
}
