#include "ProofCli.h"

#include "settings/globals.h"
#include "verify/RipLog.h"
#include "verify/RipProof.h"

#include "cdaccess/OutputFiles.h"

namespace riptool {

namespace {

constexpr int ExitFailure = 1;

std::string TrackLine(const TrackRecord& t) {
    return "Track " + std::to_string(t.Number) + ": " + TrackProofText(t);
}

} // namespace

void PrintDiscIds(const TCDRIP& ripper, std::FILE* out) {
    const DiscToc toc = TocOf(ripper.Disc);
    std::fprintf(out, "CDDB disc ID: %s\n", Hex8(CddbDiscId(toc)).c_str());
    std::fprintf(out, "AccurateRip ID: %s\n", AccurateRipDiscIds(toc).Text().c_str());
    std::fprintf(out, "MusicBrainz disc ID: %s\n", MusicBrainzDiscId(toc).c_str());
}

JobProofOptions ProofOptionsOf(const ProofArguments& args, const TMP3Settings& settings) {
    JobProofOptions options;
    options.Test = args.test;
    options.AccurateRip = args.accurateRip && settings.AccurateRip;
    options.ArFirst = !args.secure && settings.AccurateRipFirst;
    options.ArMinConfidence = settings.AccurateRipConfidence;
    options.ReadOffset = args.offset ? std::optional<int32_t>(*args.offset) : settings.ReadOffset;
    return options;
}

std::string OffsetSourceOf(const ProofArguments& args, const TMP3Settings& settings) {
    return args.offset           ? "--offset"
           : settings.ReadOffset ? "ReadOffset in the settings"
                                 : "the drive";
}

std::string AlbumTitle(const TCDRIP& ripper) {
    return AlbumTitleOf(ripper);
}

int ReportJobEnd(const RipJob& job, const std::string& outDir, std::FILE* out, int exitStatus) {
    int status = exitStatus;
    for (const TrackRecord& t : job.Record().Tracks) {
        std::fprintf(out, "%s\n", TrackLine(t).c_str());
    }
    std::fprintf(out, "%s\n", RipSummary(job.Record()).c_str());
    if (job.LogPath().empty()) {
        std::fprintf(stderr, "velmora-rip: cannot write the rip log in %s: %s\n",
                     OutputFiles::ShortForTerminal(outDir).c_str(), job.LogError().c_str());
    } else {
        std::fprintf(out, "Log: %s\n", OutputFiles::EscapeControls(job.LogPath()).c_str());
    }
    if (!job.ReportWritten()) {
        std::fprintf(stderr, "velmora-rip: cannot write the report %s: %s\n",
                     OutputFiles::ShortForTerminal(job.Options().ReportPath).c_str(),
                     job.ReportError().c_str());
        if (status == 0) {
            status = ExitFailure;
        }
    }
    return status;
}

} // namespace riptool
