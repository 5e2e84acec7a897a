#pragma once

#include "cdaccess/CdRip_dll.h"
#include "cdaccess/CueSheet.h"
#include "cdaccess/HiddenTrack.h"
#include "ripjob/RipJob.h"

#include <map>
#include <string>

// The cue sheet beside the files of a job, for both front ends. What the disc says of
// its tracks (index points, flags, codes) is asked of the library when the step is made,
// before the job runs, since an end step touches no drive; the files, titles and disc
// IDs come from the job when it ends. Where the drive reports no index points, the
// sheet says so in a REM line and the log says the gaps were not detected. A hidden
// track the job ripped (track 0) holds track 1's INDEX 00.
class CueSheetStep : public JobEndStep {
public:
    // Describes the disc in the active drive (its table of contents read) through `dll`;
    // `performer` is the album artist the job's titles use.
    CueSheetStep(const TCdRipDll& dll, std::string performer);
    // A track's own performer, when it is not the album's.
    void SetTrackPerformer(int number, std::string performer) {
        Performers[number] = std::move(performer);
    }
    // Writes "<album>.cue" into the output folder, named as the log is, when the job
    // wrote at least one whole track. It lists the tracks whose files are whole (read to
    // their end; damaged ones too): a stopped, failed or refused track is left out, and
    // the gap before the next track listed becomes PREGAP silence. An earlier sheet of
    // this program under the name is replaced; another file only with --overwrite,
    // else the sheet takes the next free " (2)" name.
    void Run(RipJob& job) override;

    const CueDisc& Disc() const { return Described; }
    // The sheet's path after Run; empty when none was written.
    const std::string& Path() const { return Written; }
    // Why no sheet was written although a track was; "" otherwise.
    const std::string& Note() const { return Why; }

private:
    CueDisc Described;
    std::map<int, std::string> Performers;
    std::string Written;
    std::string Why;
};

// The disc in the active drive as the cue sheet describes it, without files and titles.
CueDisc DescribeDiscForCue(const TCdRipDll& dll);
