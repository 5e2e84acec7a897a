#include "ripjob/CoverStep.h"

#include "metadata/CoverArt.h"
#include "verify/JobProof.h"

namespace {
constexpr const char* LogName = "Cover art";
}

void CoverFileStep::Run(RipJob& job) {
    auto& settings = job.Proof().Record.Settings;
    if (!Cover) {
        if (!Missing.empty())
            settings.push_back({LogName, Missing});
        return;
    }
    bool written = false;
    for (const auto& ended : job.Outcomes())
        written = written || ended.second.FileWritten;
    if (!written)
        return;
    std::string error;
    if (!Metadata::SaveCoverFile(job.Options().OutDir, *Cover, Overwrite, nullptr, &error)) {
        Why = error;
        settings.push_back({LogName, "not saved: " + error});
    }
}
