#pragma once

#include "cdaccess/CdRip_dll.h"
#include "cdaccess/CueSheet.h"
#include "cdaccess/HiddenTrack.h"
#include "ripjob/RipJob.h"

#include <string>

// The cue sheet beside the files of a job, for both front ends. What the disc says of
// its tracks (index points, flags, codes) is asked of the library when the step is made,
// before the job runs, since an end step touches no drive; the files, titles and disc
// IDs come from the job when it ends. Where the drive reports no index points, the
// sheet says so in a REM line and the log says the gaps were not detected; audio before
// track 1 is named in the log (digital silence or audio).
class CueSheetStep : public JobEndStep {
public:
    // Describes the disc in the active drive (its table of contents read) through `dll`;
    // `performer` is the album artist the job's titles use.
    CueSheetStep(const TCdRipDll& dll, std::string performer);
    void Run(RipJob& job) override;

    const CueDisc& Disc() const { return Described; }
    // The sheet's path after Run; empty when none was written.
    const std::string& Path() const { return Written; }

private:
    CueDisc Described;
    HiddenAudio Hidden;
    std::string Written;
};

// The disc in the active drive as the cue sheet describes it, without files and titles.
CueDisc DescribeDiscForCue(const TCdRipDll& dll);
