#pragma once

#include "ProofArgs.h"

#include "ripjob/RipJob.h"
#include "verify/JobProof.h"

#include <cstdio>
#include <string>

struct TMP3Settings;

// velmora-rip's side of the proof of a rip: the disc identifiers of `tracks`, the
// options of a job, and its end (log, report, summary).
namespace riptool {

// "CDDB disc ID: ...", "AccurateRip ID: ...", "MusicBrainz disc ID: ..." lines.
void PrintDiscIds(const TCDRIP& ripper, std::FILE* out);

// The command line's choices over the settings file's.
JobProofOptions ProofOptionsOf(const ProofArguments& args, const TMP3Settings& settings);

// Where the read offset came from, for the log: "--offset", "ReadOffset in the
// settings" or "the drive".
std::string OffsetSourceOf(const ProofArguments& args, const TMP3Settings& settings);

// The album title stored in cdplayer.ini for the disc; empty when there is none.
std::string AlbumTitle(const TCDRIP& ripper);

// After RipJob::Finish: one line per track and the summary on `out`, where the log is,
// and a report that could not be written (exit status 1 then, unless it was another
// failure already). Returns the exit status.
int ReportJobEnd(const RipJob& job, const std::string& outDir, std::FILE* out, int exitStatus);

} // namespace riptool
