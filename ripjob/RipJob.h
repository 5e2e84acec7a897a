#pragma once

#include "cdaccess/HiddenTrack.h"
#include "cdaccess/OutputFiles.h"
#include "ripjob/Damage.h"
#include "ripjob/TrackEncoder.h"
#include "verify/JobProof.h"

#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

class TCDRIP;
class ArFirstReading;

// The extraction of a list of tracks, for both front ends: the names and their checks,
// the reading (one track after the other, or the pipeline for an encoded format), the
// tags written into each file before it takes its name, the outcome of every track,
// the proof, the log and the JSON report. The front ends implement a JobObserver and
// only present what it is told.

// One track of a job.
struct JobTrack {
    int Number = 0;       // in the table of contents, from 1
    int Row = -1;         // the front end's own index for it (the window's row)
    std::string Title;    // names the file and goes into its tags
    std::string FileName; // the output file; the job fills it in
};

// How a track ended. Exact: every sector read and proven, no contradiction (the test
// read, AccurateRip). Damaged: sectors that could not be read, or a test read that
// differs. NotAccurate: read without a damaged sector, but its checksums match no
// entry of a disc the AccurateRip database knows. Stopped: the job was stopped before
// it was done. Failed: it could not be read or written (Reason says why). Refused: it
// was not started (a name that leaves the output folder, a file that may not be
// replaced; Reason says why).
enum class TrackResult { Exact, Damaged, NotAccurate, Stopped, Failed, Refused };

// "exact", "damaged", "not accurate", "stopped", "failed", "refused"
const char* TrackResultWord(TrackResult result);

struct TrackOutcome {
    TrackResult Result = TrackResult::Failed;
    std::string Reason;              // Failed and Refused: in the user's words
    std::vector<SectorRange> Damage; // unreadable sectors, absolute, sorted and joined
    int32_t DamagedSectors = 0;      // the ripper's count of them
    bool TestDiffers = false;        // the test read's CRC32 differs from the first read's
    bool FileWritten = false;        // the final name holds this job's file
    std::string PartialKept;         // Failed: the file that holds what was read of it
    int32_t FirstSector = 0;         // the track's audio, for the times of the damage
    double Seconds = 0;              // of audio in the track
    double Elapsed = 0;              // wall-clock seconds from its start to its end
};

// How far the job is.
struct JobProgress {
    int ReadingTrack = 0; // the track being read; 0: none
    int ReadPercent = 0;
    std::vector<std::pair<int, int>> Encoding; // tracks being encoded: number, percent
    double Done = 0;                           // of the whole job's audio, 0 to 1
    double SecondsLeft = -1;                   // roughly; negative while not known
};

// The answer when a file is already under a track's name (or an earlier track of the
// job takes the name). Skip refuses this track only; StopJob ends the job before it.
enum class ReplaceAnswer { Yes, YesToAll, Skip, StopJob };

// What a front end is told, always on the thread that runs RipJob::Run.
class JobObserver {
public:
    virtual ~JobObserver() = default;
    // `ordinal` counts from 1 to `total`, the job's tracks.
    virtual void TrackBegins(const JobTrack& track, int ordinal, int total);
    virtual void Progress(const JobProgress& progress);
    virtual void TrackEnds(const JobTrack& track, const TrackOutcome& outcome);
    // Skip fills *reason with what the track's outcome should say.
    virtual ReplaceAnswer AskReplace(const JobTrack& track, std::string* reason) = 0;
    // Asked between chunks: true stops the job (the track being read ends early, the
    // tracks after it are not started).
    virtual bool StopRequested();
};

// Writes a finished track's tags into its file, before the file takes its name. It
// may run on an encoder thread, several at once: it must reach no front-end state
// (everything it needs is given to it when it is made).
class TagStep {
public:
    virtual ~TagStep() = default;
    // `path` is the track's temporary file. False with the reason in *error.
    virtual bool Write(const std::string& path, const JobTrack& track,
                       std::string* error) const = 0;
};

class RipJob;

// A step at the end of a job, after its last track and before the look-up and the log
// (a cue sheet beside the files, album gain in their tags). It runs on the thread of
// RipJob::Finish, not the ripper's.
class JobEndStep {
public:
    virtual ~JobEndStep() = default;
    virtual void Run(RipJob& job) = 0;
};

struct JobOptions {
    std::string Program;    // "velmora-rip", "velmora-ripper": the log's first line
    std::string OutDir;     // the folder the files go into (titles may add sub-folders)
    std::string LogFolder;  // where the log goes
    std::string AlbumTitle; // names the log; empty: the disc key does
    std::string Artist;     // the disc's artist and album for the log; may be empty
    std::string Album;
    // The encoded format; nullptr: WAV files, read and written one after the other.
    const EncoderFormat* Format = nullptr;
    // Encoder threads of the pipeline (0: one per core); 1: an MP3 job reads and encodes
    // one track after the other as WAV does.
    unsigned Jobs = 0;
    // The window ends its job at the first failed or refused track; velmora-rip goes on.
    bool StopAtFailure = false;
    JobProofOptions Proof;
    std::string OffsetSource; // "Read offset from" in the log; empty: not listed
    std::string ReportPath;   // the JSON report; empty: none
    // velmora-rip's --overwrite: a final name may be replaced whatever is there, even
    // a file that appeared while the track was ripped, and the report may replace a
    // file that is not a report. Without it a name that appears meanwhile is kept.
    bool Overwrite = false;
    // Two tracks of the job with one name: the later one is refused (velmora-rip)
    // instead of asked about (the window).
    bool RefuseSameNames = false;
    // Tracks (by number) whose title comes from outside (CD-TEXT, MusicBrainz): its "/"
    // is part of the file's name (OutputFiles::TitleFromOutside), not a folder.
    std::set<int> OutsideTitles;
    // --hidden-track, HiddenTrack=1: audio before track 1 that is not digital silence is
    // ripped first, as track 0 under HiddenTitle ("Hidden track" when empty).
    bool HiddenTrack = false;
    std::string HiddenTitle;
};

// The output name of a job's track: the folder, the title (as it may name a file) and
// the format's extension.
OutputFiles::TOutputName JobFileName(const JobOptions& options, const JobTrack& track);

class RipJob {
public:
    // The ripper must have its drive selected; its OnProgress and ProcessMessages are
    // chained (the front end's run first) for the time of Run.
    RipJob(TCDRIP& rip, JobOptions options, JobObserver& observer);
    ~RipJob();
    RipJob(const RipJob&) = delete;
    RipJob& operator=(const RipJob&) = delete;

    void SetTagStep(std::shared_ptr<const TagStep> step) { Tags = std::move(step); }
    void AddEndStep(std::shared_ptr<JobEndStep> step) { EndSteps.push_back(std::move(step)); }

    // Sets the read offset and describes the disc (JobProof::Start), reads the audio
    // before track 1 (Hidden(); the log names it, and with HiddenTrack it becomes track
    // 0 before the others), checks the names, then reads and writes the tracks. Returns
    // when every track has ended.
    void Run(std::vector<JobTrack> tracks);
    // Thread-safe: the job stops as if StopRequested had said so.
    void Stop();
    bool Stopped() const { return StopFlag.load(); }

    // The end of the job: the end steps, the AccurateRip look-up (left out when the job
    // was stopped), the outcomes it changes (an exact track whose checksums match no entry
    // of a disc the database knows becomes NotAccurate; Outcomes() shows it afterwards),
    // the log and the report. It touches neither
    // the ripper nor the observer, so it may run on another thread. Returns the exit
    // status: `stoppedStatus` for a stopped job, else 1 when a track failed or was
    // refused, 3 when one is damaged or not accurate, 0 when all are exact.
    int Finish(int stoppedStatus = 1);
    // The log's path after Finish; empty when it could not be written.
    const std::string& LogPath() const { return Log; }
    // False when a report was asked for and could not be written; then why.
    bool ReportWritten() const { return ReportOk; }
    const std::string& ReportError() const { return ReportWhy; }
    // Why the log could not be written (LogPath() empty).
    const std::string& LogError() const { return ProofOf->LogError; }

    const JobOptions& Options() const { return Opt; }
    const std::vector<JobTrack>& Tracks() const { return List; }
    // The outcome of Tracks()[i]; tracks never reached have none.
    const std::vector<std::pair<JobTrack, TrackOutcome>>& Outcomes() const { return Ended; }
    JobProof& Proof() { return *ProofOf; }
    // The audio before track 1, as Run found it.
    const HiddenAudio& Hidden() const { return HiddenFound; }
    const RipRecord& Record() const { return ProofOf->Record; }

    struct Tally {
        int Exact = 0, Damaged = 0, NotAccurate = 0, Failed = 0, Stopped = 0;
    };
    // Failed counts refused tracks too.
    Tally Count() const;
    // The status of Finish without the look-up.
    int ExitStatus(int stoppedStatus) const;

private:
    struct Checked;
    std::vector<Checked> CheckNames();
    void RunOneByOne(const std::vector<Checked>& checked);
    void RunPipeline(const std::vector<Checked>& checked);
    void ReadOne(const Checked& c, int ordinal);
    void End(const JobTrack& track, TrackOutcome outcome);
    TrackOutcome ReadOutcome(int number, const std::vector<SectorRange>& damage, int32_t count);
    void DescribeSettings();
    void DescribeHiddenTrack();
    void ApplyOutcomes();
    void Poll();
    void Report(int readingTrack, int percent, const std::vector<std::pair<int, int>>& encoding);
    bool TagFile(const JobTrack& track, const std::string& path, std::string* error) const;

    TCDRIP& Rip;
    JobOptions Opt;
    JobObserver& Observer;
    std::unique_ptr<JobProof> ProofOf;
    std::unique_ptr<ArFirstReading> ArFirst; // each track read once first, where it may be
    std::shared_ptr<const TagStep> Tags;
    std::vector<std::shared_ptr<JobEndStep>> EndSteps;
    std::vector<JobTrack> List;
    std::vector<std::pair<JobTrack, TrackOutcome>> Ended;
    std::atomic<bool> StopFlag{false};
    std::function<void()> StopEncoders; // the running pipeline's StopEncoding
    double JobSeconds = 0;              // audio of the tracks to read
    double DoneSeconds = 0;             // audio of the tracks ended
    double ShownDone = 0;               // the share last reported: it never goes back
    double StartTime = 0;
    HiddenAudio HiddenFound;
    std::string Log;
    bool ReportOk = true;
    std::string ReportWhy;
};

// Creates the output folder with every missing parent. Empty when it is there
// afterwards; else why not, in the user's words ("cannot create the output folder
// /music/a: Not a directory").
std::string MakeOutputFolder(const std::string& folder);

// True when something other than a folder (a file, a link) is under the name.
bool NameTaken(const std::string& name);
