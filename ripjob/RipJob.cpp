#include "ripjob/RipJob.h"

#include "ripjob/ArFirst.h"
#include "ripjob/Mp3Encoder.h"

#include "cdaccess/CDRIP.h"
#include "cdaccess/CdRip_dll.h"
#include "cdaccess/OutputFiles.h"
#include "cdaccess/RipPipeline.h"
#include "platform/Paths.h"
#include "verify/ReportFile.h"
#include "verify/RipLog.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <map>
#include <set>

#include <sys/stat.h>

namespace {

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double SecondsOf(const TCDRIP& rip, int number) {
    const DiscTrack* t = rip.Disc.Find(number);
    return t != nullptr ? t->AudioSectors() / 75.0 : 0; // 75 sectors a second
}

// The title as it names the track's file.
std::string FileTitleOf(const JobOptions& options, const JobTrack& track) {
    return options.OutsideTitles.count(track.Number) > 0
               ? OutputFiles::TitleFromOutside(track.Title)
               : track.Title;
}

} // namespace

OutputFiles::TOutputName JobFileName(const JobOptions& options, const JobTrack& track) {
    OutputFiles::TOutputName n =
        OutputFiles::MakeOutputName(options.OutDir, FileTitleOf(options, track), false);
    if (options.Format != nullptr) {
        n.Path = n.Path.substr(0, n.Path.size() - 4) + options.Format->Extension();
    }
    return n;
}

const char* TrackResultWord(TrackResult result) {
    switch (result) {
    case TrackResult::Exact:
        return "exact";
    case TrackResult::Damaged:
        return "damaged";
    case TrackResult::NotAccurate:
        return "not accurate";
    case TrackResult::Stopped:
        return "stopped";
    case TrackResult::Failed:
        return "failed";
    case TrackResult::Refused:
        return "refused";
    }
    return "failed";
}

void JobObserver::TrackBegins(const JobTrack&, int, int) {}
void JobObserver::Progress(const JobProgress&) {}
void JobObserver::TrackEnds(const JobTrack&, const TrackOutcome&) {}
bool JobObserver::StopRequested() {
    return false;
}

bool NameTaken(const std::string& name) {
    struct stat st {};
    return ::lstat(name.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// A track once its name is checked: Refused with the reason, or ready to be read.
struct RipJob::Checked {
    JobTrack Track;
    bool Refused = false;
    std::string Reason;
    OutputFiles::TPartialOptions File; // what the final rename may replace; folders made
};

RipJob::RipJob(TCDRIP& rip, JobOptions options, JobObserver& observer)
    : Rip(rip), Opt(std::move(options)), Observer(observer),
      ProofOf(std::make_unique<JobProof>(rip, Opt.Proof)) {}

RipJob::~RipJob() = default;

void RipJob::Stop() {
    StopFlag = true;
    Rip.Abort();
    if (StopEncoders) {
        StopEncoders();
    }
}

void RipJob::Poll() {
    if (!StopFlag && Observer.StopRequested()) {
        Stop();
    }
}

void RipJob::DescribeSettings() {
    auto& list = ProofOf->Record.Settings;
    list.push_back({"Format", Opt.Format != nullptr ? Opt.Format->Name() : "wav"});
    if (Opt.Format != nullptr) {
        for (const auto& setting : Opt.Format->LogSettings()) {
            list.push_back(setting);
        }
    }
    list.push_back({"AccurateRip", Opt.Proof.AccurateRip ? "on" : "off"});
    list.push_back({"Reading", ArFirst->Active() ? "AccurateRip first (one pass, confidence " +
                                                       std::to_string(Opt.Proof.ArMinConfidence) +
                                                       " or more; secure reading elsewhere)"
                                                 : std::string("secure reading")});
    if (!Opt.OffsetSource.empty()) {
        list.push_back({"Read offset from", Opt.OffsetSource});
    }
    // The cue sheet's (or TOC file's) text as the titles were read from it.
    char encoding[32] = {};
    if (CdRipDll().CR_GetCdText(0, CDTextEncoding, encoding, int32_t(sizeof encoding)) !=
            CRFailure &&
        encoding[0] != '\0') {
        list.push_back({"Cue sheet text", encoding});
    }
}

// Audio before track 1 is always named in the log; asked for, and unless it is digital
// silence, it is ripped first as track 0.
void RipJob::DescribeHiddenTrack() {
    HiddenFound = FindHiddenAudio(Rip.Library());
    const std::string line = HiddenAudioLine(HiddenFound);
    if (line.empty()) {
        return;
    }
    const bool silence = HiddenFound.Read && HiddenFound.Silent;
    const bool rip = Opt.HiddenTrack && !silence && Rip.Disc.Find(0) != nullptr;
    std::string what = line.substr(line.find(": ") + 2);
    if (!silence) {
        what += rip ? "; ripped as track 0" : "; not ripped (--hidden-track, HiddenTrack=1)";
    }
    ProofOf->Record.Settings.emplace_back("Hidden track", what);
    if (rip &&
        std::none_of(List.begin(), List.end(), [](const JobTrack& t) { return t.Number == 0; })) {
        List.insert(
            List.begin(),
            JobTrack{0, -1, Opt.HiddenTitle.empty() ? "Hidden track" : Opt.HiddenTitle, {}});
    }
}

// The names in job order: a title that leaves the output folder is refused; a name
// already taken (or taken by an earlier track of the job) is asked about. The first
// StopJob answer, or with StopAtFailure the first refusal, ends the list there.
std::vector<RipJob::Checked> RipJob::CheckNames() {
    std::vector<Checked> checked;
    std::map<std::string, int> taken; // the job's names so far, and the track of each
    bool replaceAll = false;
    for (const JobTrack& track : List) {
        Checked c{track, false, {}, {}};
        c.Track.FileName = JobFileName(Opt, track).Path;
        const std::string& name = c.Track.FileName;
        // The whole job's names are reserved here, before any track starts: a name met
        // again is another track's, whatever the order the encoders finish in.
        const auto earlier = taken.find(name);
        const bool present = NameTaken(name);
        if (OutputFiles::IsInvalidTitle(FileTitleOf(Opt, track))) {
            c.Refused = true;
            c.Reason = OutputFiles::EInvalidFileName(name).what();
        } else if (earlier != taken.end() && Opt.RefuseSameNames) {
            c.Refused = true;
            c.Reason = "the same file name as track " + std::to_string(earlier->second) +
                       " of this rip; not ripped";
        } else if (!replaceAll && !Opt.Overwrite && (present || earlier != taken.end())) {
            switch (Observer.AskReplace(c.Track, &c.Reason)) {
            case ReplaceAnswer::Yes:
                break;
            case ReplaceAnswer::YesToAll:
                replaceAll = true;
                break;
            case ReplaceAnswer::Skip:
                c.Refused = true;
                break;
            case ReplaceAnswer::StopJob:
                return checked;
            }
        }
        // A name free now is never replaced when another program takes it meanwhile;
        // one the user chose to replace is replaced as it is then.
        c.File.MakeFolders = true;
        c.File.StartWrittenAgainBy = Opt.Format ? Opt.Format->StartWrittenAgainBy() : "";
        c.File.Replace = Opt.Overwrite || replaceAll         ? OutputFiles::TReplace::Anything
                         : present || earlier != taken.end() ? OutputFiles::TReplace::WhatWasThere
                                                             : OutputFiles::TReplace::Nothing;
        if (!c.Refused) {
            taken.emplace(name, track.Number);
        }
        checked.push_back(std::move(c));
        if (checked.back().Refused && Opt.StopAtFailure) {
            break;
        }
    }
    return checked;
}

void RipJob::Run(std::vector<JobTrack> tracks) {
    List = std::move(tracks);
    Ended.clear();
    StopFlag = false;
    ProofOf->Start(Opt.Program, Opt.AlbumTitle);
    ArFirst = std::make_unique<ArFirstReading>(Rip, Opt.Proof);
    std::vector<int> numbers;
    for (const JobTrack& t : List) {
        numbers.push_back(t.Number);
    }
    ArFirst->Start(ProofOf->Record.Toc, numbers);
    DescribeSettings();
    DescribeHiddenTrack();
    JobSeconds = DoneSeconds = ShownDone = 0;
    for (const JobTrack& t : List) {
        JobSeconds += SecondsOf(Rip, t.Number);
    }
    StartTime = Now();
    const std::vector<Checked> checked = CheckNames();
    // The ripper's hooks: the front end's own run first, then the job's.
    struct Hooks {
        TCDRIP& R;
        TProgressEvent Progress = R.OnProgress;
        std::function<void()> Messages = R.ProcessMessages;
        std::function<bool(const std::string&, std::string*)> Finish = R.BeforeFinish;
        ~Hooks() {
            R.OnProgress = Progress;
            R.ProcessMessages = Messages;
            R.BeforeFinish = Finish;
        }
    } hooks{Rip};
    Rip.ProcessMessages = [this, &hooks] {
        if (hooks.Messages) {
            hooks.Messages();
        }
        Poll();
    };
    // MP3 with --jobs 1 is read and encoded by the ripper, one track after the other;
    // a format that measures or encodes on its own goes through the pipeline.
    const bool pipeline = Opt.Format != nullptr &&
                          !(Opt.Jobs == 1 && dynamic_cast<const Mp3Format*>(Opt.Format) != nullptr);
    if (pipeline) {
        RunPipeline(checked);
    } else {
        RunOneByOne(checked);
    }
}

TrackOutcome RipJob::ReadOutcome(int number, const std::vector<SectorRange>& damage,
                                 int32_t count) {
    TrackOutcome o;
    o.Damage = damage;
    o.DamagedSectors = count;
    const bool sectors = count > 0 || !damage.empty();
    o.TestDiffers = !sectors && ProofOf->Damaged(number);
    o.Result = sectors || o.TestDiffers ? TrackResult::Damaged : TrackResult::Exact;
    const DiscTrack* t = Rip.Disc.Find(number);
    o.FirstSector = t != nullptr ? t->FirstAudio : 0;
    o.Seconds = SecondsOf(Rip, number);
    return o;
}

void RipJob::End(const JobTrack& track, TrackOutcome outcome) {
    if (outcome.Result != TrackResult::Refused) {
        DoneSeconds += SecondsOf(Rip, track.Number);
    }
    Ended.emplace_back(track, outcome);
    Observer.TrackEnds(track, outcome);
}

// A device or a pipe at the final name is written directly: it has no tags to write,
// and opening a pipe to read its tag would wait for ever.
bool RipJob::TagFile(const JobTrack& track, const std::string& path, std::string* error) const {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        return true;
    }
    return !Tags || Tags->Write(path, track, error);
}

void RipJob::Report(int readingTrack, int percent,
                    const std::vector<std::pair<int, int>>& encoding) {
    JobProgress p;
    p.ReadingTrack = readingTrack;
    p.ReadPercent = percent;
    p.Encoding = encoding;
    double done = DoneSeconds;
    if (encoding.empty() && readingTrack > 0) {
        done += SecondsOf(Rip, readingTrack) * percent / 100.0;
    }
    for (const auto& [number, part] : encoding) {
        done += SecondsOf(Rip, number) * part / 100.0;
    }
    p.Done = JobSeconds > 0 ? std::clamp(done / JobSeconds, 0.0, 1.0) : 0;
    // A track read again (the test read, a re-read after the first pass) starts its
    // percentage afresh: the job's share stays where it was instead of going back.
    p.Done = std::max(p.Done, ShownDone);
    ShownDone = p.Done;
    const double elapsed = Now() - StartTime;
    // Once a little of the job is done, what is left takes as long as what is done did.
    if (p.Done >= 0.02 && elapsed > 0) {
        p.SecondsLeft = elapsed / p.Done * (1 - p.Done);
    }
    Observer.Progress(p);
}

// Reads one track into its file through TCDRIP::RipTrack, with its proof and its tags.
void RipJob::ReadOne(const Checked& c, int ordinal) {
    const JobTrack& track = c.Track;
    const double began = Now();
    Observer.TrackBegins(track, ordinal, static_cast<int>(List.size()));
    if (c.Refused) {
        TrackOutcome o;
        o.Result = TrackResult::Refused;
        o.Reason = c.Reason;
        End(track, o);
        return;
    }
    Rip.OnProgress = [this, number = track.Number, prev = Rip.OnProgress](TCDRIP* r,
                                                                          uint16_t percent) {
        if (prev) {
            prev(r, percent);
        }
        Report(number, percent, {});
    };
    if (Opt.Format != nullptr) {
        Rip.BeforeFinish = [this, &track](const std::string& path, std::string* error) {
            return TagFile(track, path, error);
        };
    }
    const std::size_t before = Rip.DamagedRuns.size();
    TrackOutcome o;
    try {
        Rip.Encode = Opt.Format != nullptr;
        Rip.OutputOptions = c.File;
        ArFirst->Prepare(track.Number);
        ProofOf->ReadTrackWith(track.Number, track.FileName, [&] {
            Rip.RipTrack(track.Number, track.FileName);
            ArFirst->AfterRead(track.Number);
        });
        Poll();
        o = ReadOutcome(
            track.Number,
            JoinRanges(std::vector<SectorRange>(Rip.DamagedRuns.begin() + static_cast<long>(before),
                                                Rip.DamagedRuns.end())),
            Rip.JitterErrorCount);
        if (StopFlag) {
            o.Result = TrackResult::Stopped;
        }
    } catch (const std::exception& e) {
        o.Result = TrackResult::Failed;
        o.Reason = e.what();
    }
    o.FileWritten = Rip.FileWritten;
    o.PartialKept = Rip.PartialKept;
    o.Seconds = SecondsOf(Rip, track.Number);
    o.Elapsed = Now() - began;
    End(track, o);
}

void RipJob::RunOneByOne(const std::vector<Checked>& checked) {
    struct Restore {
        TCDRIP& R;
        TProgressEvent Progress = R.OnProgress;
        ~Restore() { R.OnProgress = Progress; }
    } restore{Rip};
    int ordinal = 0;
    for (const Checked& c : checked) {
        Poll();
        if (StopFlag) {
            break;
        }
        Rip.OnProgress = restore.Progress;
        ReadOne(c, ++ordinal);
        const TrackResult r = Ended.back().second.Result;
        if (Opt.StopAtFailure && (r == TrackResult::Failed || r == TrackResult::Refused)) {
            break;
        }
    }
}

// Reading and encoding at once (see TRipPipeline): the refused tracks are told first,
// each other track when its encoder has finished.
void RipJob::RunPipeline(const std::vector<Checked>& checked) {
    TRipPipeline pipeline(Rip, *Opt.Format);
    if (Opt.Jobs > 0) {
        pipeline.Workers = Opt.Jobs;
    }
    std::vector<TPipelineTrack> tracks;
    std::map<int, JobTrack> byNumber;
    std::map<int, double> began;
    for (const Checked& c : checked) {
        if (c.Refused) {
            TrackOutcome o;
            o.Result = TrackResult::Refused;
            o.Reason = c.Reason;
            End(c.Track, o);
            if (Opt.StopAtFailure) {
                break;
            }
        } else {
            tracks.push_back({c.Track.Number, c.Track.FileName});
            byNumber[c.Track.Number] = c.Track;
            pipeline.FileOptions[c.Track.Number] = c.File;
        }
    }
    StopEncoders = [&pipeline] { pipeline.StopEncoding(); };
    struct Forget {
        std::function<void()>& F;
        TCDRIP& R;
        TProgressEvent Progress = R.OnProgress;
        ~Forget() {
            F = nullptr;
            R.OnProgress = Progress;
        }
    } forget{StopEncoders, Rip};
    int reading = 0;
    int readPercent = 0;
    auto report = [&] {
        std::vector<std::pair<int, int>> encoding;
        for (const TEncodingTrack& t : pipeline.Encoding()) {
            encoding.emplace_back(t.TrackNum, t.Percent);
        }
        Report(reading, readPercent, encoding);
    };
    Rip.OnProgress = [&, prev = forget.Progress](TCDRIP* r, uint16_t percent) {
        if (prev) {
            prev(r, percent);
        }
        readPercent = percent;
        report();
    };
    // The PCM gets what the encoders and the finished tracks' meters leave of the cap.
    pipeline.CapBytes = TRipPipeline::CapFor(pipeline.Workers, tracks.size());
    if (ArFirst->Active()) {
        // The one pass of the track being read is held besides the pipeline's PCM.
        pipeline.CapBytes -= std::min(pipeline.CapBytes / 2, ArFirstReading::MaxTrackBytes);
    }
    pipeline.ReadWith = [this](int32_t number, const std::string& name,
                               const std::function<void()>& read) {
        ArFirst->Prepare(number);
        ProofOf->ReadTrackWith(number, name, [&] {
            read();
            ArFirst->AfterRead(number);
        });
    };
    pipeline.BeforeFinish = [this, &byNumber](const TPipelineTrack& t, const std::string& path,
                                              std::string* error) {
        return TagFile(byNumber.at(t.TrackNum), path, error);
    };
    int ordinal = 0;
    pipeline.OnBeginRead = [&](int32_t number) {
        began[number] = Now();
        reading = number;
        readPercent = 0;
        Observer.TrackBegins(byNumber.at(number), ++ordinal, static_cast<int>(List.size()));
        report();
    };
    pipeline.OnDone = [&](const TPipelineOutcome& done) {
        TrackOutcome o;
        if (!done.Error.empty()) {
            ProofOf->MarkFailed(done.TrackNum);
            o.Result = TrackResult::Failed;
            o.Reason = done.Error;
        } else if (!done.Complete) {
            ProofOf->MarkUnfinished(done.TrackNum);
            o.Result = TrackResult::Stopped;
        } else {
            o = ReadOutcome(done.TrackNum, done.Damage, done.JitterErrorCount);
        }
        o.FileWritten = done.FileWritten;
        o.PartialKept = done.PartialKept;
        o.Seconds = SecondsOf(Rip, done.TrackNum);
        o.Elapsed = Now() - began[done.TrackNum];
        End(byNumber.at(done.TrackNum), o);
        report();
    };
    // The byNumber map is not changed while the workers run, so BeforeFinish may read it.
    Poll(); // a job stopped before its first track starts none
    if (!tracks.empty() && !StopFlag) {
        pipeline.Run(tracks);
    }
}

RipJob::Tally RipJob::Count() const {
    Tally t;
    for (const auto& [track, o] : Ended) {
        switch (o.Result) {
        case TrackResult::Exact:
            ++t.Exact;
            break;
        case TrackResult::Damaged:
            ++t.Damaged;
            break;
        case TrackResult::NotAccurate:
            ++t.NotAccurate;
            break;
        case TrackResult::Failed:
        case TrackResult::Refused:
            ++t.Failed;
            break;
        case TrackResult::Stopped:
            ++t.Stopped;
            break;
        }
    }
    return t;
}

int RipJob::ExitStatus(int stoppedStatus) const {
    if (StopFlag) {
        return stoppedStatus;
    }
    const Tally t = Count();
    return t.Failed > 0 ? 1 : t.Damaged > 0 || t.NotAccurate > 0 ? 3 : 0;
}

// The look-up's verdicts into the outcomes, and the outcomes, titles and reasons into
// the record for the log and the report.
void RipJob::ApplyOutcomes() {
    RipRecord& record = ProofOf->Record;
    record.Artist = Opt.Artist;
    record.Album = Opt.Album;
    record.NotRead.clear();
    for (auto& [track, o] : Ended) {
        TrackRecord* t = nullptr;
        for (TrackRecord& r : record.Tracks) {
            if (r.Number == track.Number && r.File == track.FileName) {
                t = &r;
            }
        }
        if (t != nullptr && o.Result == TrackResult::Exact &&
            t->Ar.Result == ArResult::NotAccurate) {
            o.Result = TrackResult::NotAccurate;
        }
        TrackRecord fresh;
        if (t == nullptr) {
            fresh.Number = track.Number;
            fresh.File = track.FileName;
            fresh.Ripped = false;
            t = &fresh;
        }
        t->Title = track.Title;
        t->Outcome = TrackResultWord(o.Result);
        if (ArFirst && t != &fresh && t->Ripped &&
            (o.Result == TrackResult::Exact || o.Result == TrackResult::Damaged ||
             o.Result == TrackResult::NotAccurate)) {
            t->ProvenBy = ArFirst->ProvenBy(track.Number, o.Result == TrackResult::Damaged);
        }
        t->Reason = o.Reason;
        t->PartialFile = o.PartialKept;
        if (t == &fresh) {
            record.NotRead.push_back(fresh);
        }
    }
}

int RipJob::Finish(int stoppedStatus) {
    for (const auto& step : EndSteps) {
        try {
            step->Run(*this);
        } catch (const std::exception&) {
            // An end step only adds to a job; its failure never fails the tracks.
        }
    }
    if (StopFlag) {
        ProofOf->SkipLookup(); // a job the user stopped ends at once
    } else if (ArFirst && ArFirst->Active()) {
        ProofOf->Prefetched = ArFirst->Answer();
    }
    try {
        ProofOf->Lookup();
    } catch (const std::exception&) {
        // The look-up only adds to a job; its failure leaves the tracks as they are.
    }
    ApplyOutcomes();
    // A drive that refused C2 error pointers was read without them: said once.
    if (Rip.DriveC2() == 0) {
        ProofOf->Record.Settings.emplace_back(
            "C2 error pointers", "refused by the drive; its reads are checked without them");
    }
    // A cache the disc is too short to defeat: why every sector AccurateRip did not prove
    // is listed.
    if (const int32_t kb = Rip.UndefeatedCacheKB(); kb > 0) {
        ProofOf->Record.Settings.emplace_back(
            "Drive cache",
            (kb >= 1024 ? std::to_string((kb + 512) / 1024) + " MB" : std::to_string(kb) + " KB") +
                ", too large to defeat on this disc: nothing was proven by re-reading, "
                "and what AccurateRip did not prove is listed as damaged");
    }
    int status = ExitStatus(stoppedStatus);
    Log = ProofOf->WriteLog(Opt.LogFolder, status);
    ReportOk = Opt.ReportPath.empty() ||
               WriteRipReport(Opt.ReportPath, ProofOf->Record, Opt.Overwrite, &ReportWhy);
    return status;
}

std::string MakeOutputFolder(const std::string& folder) {
    if (Paths::createFolders(folder)) {
        return {};
    }
    ::mkdir(folder.c_str(), 0777); // once more, for the reason of the folder itself
    const int error = errno;
    return "cannot create the output folder " + folder + ": " + OutputFiles::ErrorText(error);
}
