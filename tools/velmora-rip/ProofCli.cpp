#include "ProofCli.h"

#include "settings/globals.h"
#include "verify/RipLog.h"
#include "verify/RipProof.h"

#include "cdaccess/OutputFiles.h"

#include <cerrno>
#include <fstream>

#include <sys/stat.h>

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

// How every report of ours begins (FormatRipJson).
constexpr const char* ReportStart = "{\n  \"program\": \"velmora-rip ";

// A report an earlier rip wrote: it may be replaced without --overwrite.
bool IsOurReport(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string start(std::char_traits<char>::length(ReportStart), '\0');
    in.read(start.data(), static_cast<std::streamsize>(start.size()));
    return in && start == ReportStart;
}

// The same file as one of the job's tracks (by device and inode, whatever the spelling).
bool IsTrackOfTheJob(const std::string& path, const RipRecord& record) {
    struct stat report {};
    if (::stat(path.c_str(), &report) != 0) {
        return false;
    }
    for (const TrackRecord& t : record.Tracks) {
        struct stat track {};
        if (::stat(t.File.c_str(), &track) == 0 && track.st_dev == report.st_dev &&
            track.st_ino == report.st_ino) {
            return true;
        }
    }
    return false;
}

// A device or a pipe (/dev/stdout) is written as it is: it holds no file to lose.
bool WriteDirectly(const std::string& path, const std::string& text, std::string& why) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    out.close();
    if (!out) {
        why = "cannot write to it";
    }
    return static_cast<bool>(out);
}

} // namespace

bool WriteReport(const std::string& path, const RipRecord& record, bool overwrite,
                 std::string& why) {
    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (exists && (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode))) {
        return WriteDirectly(path, FormatRipJson(record), why);
    }
    if (exists && IsTrackOfTheJob(path, record)) {
        why = "it is a file of this rip";
        return false;
    }
    if (exists && S_ISREG(st.st_mode) && !overwrite && !IsOurReport(path)) {
        why = "it exists and is not a report (--overwrite replaces it)";
        return false;
    }
    int error = 0;
    if (OutputFiles::WriteWholeFile(path, FormatRipJson(record),
                                    OutputFiles::TReplace::WhatWasThere, error)) {
        return true;
    }
    why = error == EEXIST ? "it appeared meanwhile (--overwrite replaces it)"
                          : OutputFiles::ErrorText(error);
    return false;
}

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
        std::fprintf(stderr, "velmora-rip: cannot write the rip log in %s: %s\n",
                     OutputFiles::ShortForTerminal(outDir).c_str(), proof.LogError.c_str());
    } else {
        std::fprintf(out, "Log: %s\n", OutputFiles::EscapeControls(log).c_str());
    }
    std::string why;
    if (args.report && !WriteReport(*args.report, proof.Record, args.overwrite, why)) {
        std::fprintf(stderr, "velmora-rip: cannot write the report %s: %s\n",
                     OutputFiles::ShortForTerminal(*args.report).c_str(), why.c_str());
        if (status == 0) {
            status = ExitFailure;
        }
    }
    return status;
}

} // namespace riptool
