#include "ProofCli.h"

#include "settings/globals.h"
#include "verify/RipLog.h"
#include "verify/RipProof.h"

#include <fstream>

namespace riptool {

namespace {

constexpr int ExitFailure = 1;
constexpr int ExitDamaged = 3;

std::string OnOff(bool on) {
    return on ? "on" : "off";
}

std::string TrackLine(const TrackRecord& t) {
    return "Track " + std::to_string(t.Number) + ": " + TrackProofText(t);
}

bool WriteReport(const std::string& path, const RipRecord& record) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << FormatRipJson(record);
    out.close();
    return static_cast<bool>(out);
}

} // namespace

void PrintDiscIds(const TCDRIP& ripper, std::FILE* out) {
    const DiscToc toc = TocOf(ripper.Tracks);
    std::fprintf(out, "CDDB disc ID: %s\n", Hex8(CddbDiscId(toc)).c_str());
    std::fprintf(out, "AccurateRip ID: %s\n", AccurateRipDiscIds(toc).Text().c_str());
    std::fprintf(out, "MusicBrainz disc ID: %s\n", MusicBrainzDiscId(toc).c_str());
}

JobProofOptions ProofOptionsOf(const ProofArguments& args, const TMP3Settings& settings) {
    JobProofOptions options;
    options.Test = args.test;
    options.AccurateRip = args.accurateRip && settings.AccurateRip;
    options.ReadOffset = args.offset ? std::optional<int32_t>(*args.offset) : settings.ReadOffset;
    return options;
}

void DescribeSettings(JobProof& proof, bool mp3, const TMP3Settings& settings,
                      const ProofArguments& args) {
    auto& list = proof.Record.Settings;
    list.push_back({"Format", mp3 ? "mp3" : "wav"});
    if (mp3) {
        list.push_back({"MP3 bit rate", std::to_string(settings.BitRates) + " kbit/s"});
        list.push_back({"MP3 VBR", settings.EnableVBR != 0
                                       ? "on, quality " + std::to_string(settings.VBRQuality)
                                       : "off"});
        list.push_back({"MP3 sample rate", std::to_string(settings.SampleRates)});
    }
    list.push_back({"AccurateRip", OnOff(args.accurateRip && settings.AccurateRip)});
    list.push_back({"Read offset from", args.offset           ? "--offset"
                                        : settings.ReadOffset ? "ReadOffset in the settings"
                                                              : "the drive"});
}

std::string AlbumTitle(const TCDRIP& ripper) {
    return AlbumTitleOf(ripper);
}

int FinishJob(JobProof& proof, const std::string& outDir, const ProofArguments& args,
              int exitStatus, std::FILE* out) {
    int status = exitStatus == 0 && proof.AnyDamaged() ? ExitDamaged : exitStatus;
    const std::string log = proof.Finish(outDir, status);
    for (const TrackRecord& t : proof.Record.Tracks) {
        std::fprintf(out, "%s\n", TrackLine(t).c_str());
    }
    std::fprintf(out, "%s\n", RipSummary(proof.Record).c_str());
    if (log.empty()) {
        std::fprintf(stderr, "velmora-rip: cannot write the rip log in %s\n", outDir.c_str());
    } else {
        std::fprintf(out, "Log: %s\n", log.c_str());
    }
    if (args.report && !WriteReport(*args.report, proof.Record)) {
        std::fprintf(stderr, "velmora-rip: cannot write the report %s\n", args.report->c_str());
        if (status == 0) {
            status = ExitFailure;
        }
    }
    return status;
}

} // namespace riptool
