#include "ripjob/CoverStep.h"

#include "metadata/CoverArt.h"

void CoverFileStep::Run(RipJob& job) {
    if (!Cover)
        return;
    bool written = false;
    for (const auto& ended : job.Outcomes())
        written = written || ended.second.FileWritten;
    if (!written)
        return;
    std::string error;
    if (!Metadata::SaveCoverFile(job.Options().OutDir, *Cover, Overwrite, nullptr, &error))
        Why = error;
}
