#pragma once

#include "ProofArgs.h"

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

// The settings a rip used, for the log.
void DescribeSettings(JobProof& proof, bool mp3, const TMP3Settings& settings,
                      const ProofArguments& args);

// The album title stored in cdplayer.ini for the disc; empty when there is none.
std::string AlbumTitle(const TCDRIP& ripper);

// Writes the JSON report as a track is written (a partial file, then the rename). An
// existing file is replaced only with `overwrite` or when it is a report of an earlier
// rip, never when it is one of this rip's tracks; false with the reason otherwise.
bool WriteReport(const std::string& path, const RipRecord& record, bool overwrite,
                 std::string& why);

// Ends the job: exit status 3 when a track is damaged (unless the job already failed
// with another status), the look-up, the log beside the files, the JSON report when
// asked for, and one line per track and the summary on `out`. Returns the exit status.
int FinishJob(JobProof& proof, const std::string& outDir, const ProofArguments& args,
              int exitStatus, std::FILE* out);

} // namespace riptool
