#pragma once

#include "metadata/TrackTags.h"
#include "ripjob/RipJob.h"

#include <memory>
#include <string>

// The job's cover file: the release's front cover written once at the job's end as
// cover.jpg or cover.png into the output folder, when the job wrote at least one track.
// Why there is no cover (none in the archive, no answer) or why the file could not be
// written is said once, in the log's settings ("Cover art").
class CoverFileStep : public JobEndStep {
public:
    // `cover` may be null: nothing is written, and `missing` (the look-up's one line for
    // the user, "" when no cover was asked for) goes into the log. An existing cover file
    // is replaced only with `overwrite`.
    CoverFileStep(std::shared_ptr<const Metadata::CoverImage> cover, bool overwrite,
                  std::string missing = {})
        : Cover(std::move(cover)), Overwrite(overwrite), Missing(std::move(missing)) {}
    void Run(RipJob& job) override;
    // Why the file was not written, for the user; "" when it was or none was due.
    const std::string& Note() const { return Why; }

private:
    std::shared_ptr<const Metadata::CoverImage> Cover;
    bool Overwrite = false;
    std::string Missing;
    std::string Why;
};
