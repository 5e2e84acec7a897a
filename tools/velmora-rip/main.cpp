// velmora-rip: the command-line front end over the ripper, the encoder, the tag
// component and the settings file of the GUI.

#include "DamageReport.h"
#include "ProgressLine.h"
#include "ProofCli.h"
#include "RipArgs.h"
#include "RipNames.h"

#include "cdaccess/CDRIP.h"
#include "cdaccess/CueSheetStep.h"
#include "cdaccess/HiddenTrack.h"
#include "cdaccess/OutputFiles.h"
#include "encoding/LameCoder.h"
#include "metadata/CoverArt.h"
#include "platform/AppInfo.h"
#include "platform/HttpClient.h"
#include "platform/Paths.h"
#include "ripjob/CoverStep.h"
#include "ripjob/Mp3Encoder.h"
#include "ripjob/Mp3Tags.h"
#include "ripjob/RipJob.h"
#include "ripjob/VorbisFormats.h"
#include "settings/globals.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace riptool;
using Metadata::SourceName;
using OutputFiles::EscapeControls;
using OutputFiles::TrimControl;

namespace {

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;
constexpr int ExitSignalBase = 128; // 128 + the signal, as shells report it

volatile std::sig_atomic_t StopSignal = 0;

extern "C" void OnStopSignal(int signal) {
    StopSignal = signal;
}

// A failure that ends the program with a one-line message on stderr.
struct Failure : std::runtime_error {
    Failure(const std::string& message, int code) : std::runtime_error(message), Code(code) {}
    int Code;
};

void Complain(const std::string& message) {
    std::fprintf(stderr, "velmora-rip: %s\n", message.c_str());
}

// Ctrl-C, SIGTERM and SIGHUP stop the job after the current track's data is saved; a
// second one ends the program at once. A closed pipe on stdout (| head) must not end
// the rip, and a file-size limit shows as a write error with its reason.
void InstallSignalHandlers() {
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART | SA_RESETHAND;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &sa, nullptr);
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

// Puts the images given on the command line behind those already in CDRIP_IMAGES,
// as absolute paths, before the library starts.
void AddImages(const std::vector<std::string>& images) {
    std::string list;
    if (const char* old = std::getenv("CDRIP_IMAGES"); old != nullptr) {
        list = old;
    }
    for (const std::string& image : images) {
        char full[PATH_MAX];
        if (!Paths::fileExists(image) || ::realpath(image.c_str(), full) == nullptr) {
            throw Failure("no such disc image: " + image, ExitUsage);
        }
        if (std::string(full).find(':') != std::string::npos) {
            throw Failure("a disc image path must not contain ':': " + image, ExitUsage);
        }
        list += (list.empty() ? "" : ":") + std::string(full);
    }
    if (!images.empty()) {
        ::setenv("CDRIP_IMAGES", list.c_str(), 1);
    }
}

// The GUI's settings file, unless VELMORA_SETTINGS names another: velmora-ripper.ini
// beside this program when that folder is writable and not a system folder, else in
// the configuration folder.
void UseGuiSettings() {
    const char* chosen = std::getenv("VELMORA_SETTINGS");
    if (chosen == nullptr || *chosen == '\0') {
        const std::string folder = Paths::folderOf(Paths::programPath());
        const std::string name = std::string(AppInfo::ProgramName);
        Paths::setSettingsFileOverride(Paths::settingsBesideProgram(folder)
                                           ? Paths::settingsFileBeside(folder + "/" + name)
                                           : Paths::configFolder() + "/" + name + ".ini");
    }
    SetDefaultSettings();
    try {
        LoadSettings();
    } catch (const std::exception& e) {
        SetDefaultSettings();
        Complain(std::string(e.what()) + "; using the default settings");
    }
}

// The drive to use: --drive, else the first image given, else drive 0.
int ChooseDrive(TCDRIP& ripper, const Arguments& args) {
    const int count = ripper.GetNumCDROM();
    if (count <= 0) {
        throw Failure("no CD drive found", ExitFailure);
    }
    int drive = 0;
    if (args.drive) {
        drive = *args.drive;
    } else if (!args.images.empty()) {
        drive = count - static_cast<int>(args.images.size());
    }
    if (drive < 0 || drive >= count) {
        throw Failure("no drive " + std::to_string(drive) + " (drives 0 to " +
                          std::to_string(count - 1) + ")",
                      ExitUsage);
    }
    ripper.SetCDRomNum(drive);
    if (ripper.CDRomNum() != drive) {
        throw Failure("drive " + std::to_string(drive) + " cannot be selected", ExitFailure);
    }
    if (ripper.Tracks.Count() == 0) {
        const std::string why = ripper.DriveStatusText();
        throw Failure("no disc in drive " + std::to_string(drive) + " (" + ripper.CDRomIDText() +
                          ")" + (why.empty() ? "" : ": " + why),
                      ExitFailure);
    }
    if (std::string error; !CheckTitleNumbers(args, ripper.Tracks.Count(), error)) {
        throw Failure(error, ExitUsage);
    }
    return drive;
}

int ListDrives(TCDRIP& ripper) {
    const int count = ripper.GetNumCDROM();
    if (count <= 0) {
        std::fprintf(stderr, "velmora-rip: no CD drive found\n");
    }
    for (int i = 0; i < count; ++i) {
        ripper.SetCDRomNum(i);
        std::printf("%d: %s\n", i, ripper.CDRomIDText().c_str());
    }
    return 0;
}

// The disc's titles from every source; a look-up that found nothing says why on
// stderr in one line, and the program goes on with what there is.
Metadata::DiscTitles FindTitles(const TCDRIP& ripper, const Arguments& args) {
    std::string note;
    Metadata::DiscTitles titles =
        FindDiscTitles(ripper, args.titles, Settings.Lookup && !args.noLookup, note, args.release);
    if (!note.empty()) {
        std::fprintf(stderr, "velmora-rip: %s\n", note.c_str());
    }
    // A release asked for that is not among those listed is a bad argument; without a
    // list (no look-up, or none found) the note above said why.
    if (!titles.ReleaseError.empty()) {
        throw Failure("--release: " + titles.ReleaseError, ExitUsage);
    }
    if (!args.release.empty() && titles.Releases.empty()) {
        std::fprintf(stderr, "velmora-rip: --release %s not used: no release was found\n",
                     EscapeControls(args.release).c_str());
    }
    return titles;
}

// "Release 2 of 3 (your country (GB)); --release N picks another", then one line per
// release, the taken one marked with "*".
void PrintReleases(const Metadata::DiscTitles& found) {
    if (found.Releases.empty()) {
        return;
    }
    std::printf("Release %zu of %zu (%s)%s\n", found.ChosenIndex + 1, found.Releases.size(),
                found.ChosenBy.c_str(),
                found.Releases.size() > 1 ? "; --release N picks another" : "");
    for (std::size_t i = 0; i < found.Releases.size(); ++i) {
        std::printf("%c %zu  %s\n", i == found.ChosenIndex ? '*' : ' ', i + 1,
                    EscapeControls(Metadata::ReleaseLine(found.Releases[i])).c_str());
    }
}

// "Artist: Nobody (cdplayer.ini)", the album and the release the same way.
void PrintDiscTitles(const Metadata::DiscTitles& found) {
    if (!found.Artist.empty()) {
        std::printf("Artist: %s (%s)\n", EscapeControls(found.Artist).c_str(),
                    SourceName(found.ArtistSource));
    }
    if (!found.Album.empty()) {
        std::printf("Album: %s (%s)\n", EscapeControls(found.Album).c_str(),
                    SourceName(found.AlbumSource));
    }
    if (!found.Release.empty()) {
        std::printf("MusicBrainz: %s (release %s)\n", EscapeControls(found.Release).c_str(),
                    EscapeControls(found.ReleaseId).c_str());
    }
    PrintReleases(found);
}

int ListTracks(TCDRIP& ripper, const Arguments& args) {
    const int drive = ChooseDrive(ripper, args);
    const Metadata::DiscTitles found = FindTitles(ripper, args);
    std::printf("Drive %d: %s\n", drive, ripper.CDRomIDText().c_str());
    std::printf("Disc key: %s\n", ripper.GetDiscID().c_str());
    PrintDiscTitles(found);
    PrintDiscIds(ripper, stdout);
    if (const std::string hidden = HiddenAudioLine(FindHiddenAudio(CdRipDll())); !hidden.empty()) {
        std::printf("%s\n", hidden.c_str());
    }
    std::printf("No.  Kind   Length  Source        Title\n");
    for (int i = 0; i < ripper.Tracks.Count(); ++i) {
        const Metadata::TrackTitle& t = found.Tracks[static_cast<std::size_t>(i)];
        std::printf("%-4s %-6s %6s  %-12s  %s\n", TwoDigits(i + 1).c_str(),
                    ripper.Tracks.Objects(i).TrackType.c_str(), ripper.GetTrackTime(i).c_str(),
                    SourceName(t.Source), EscapeControls(t.Title).c_str());
    }
    return 0;
}

// The 0-based track indexes to extract: those asked for (all when none), without
// data tracks. A named track that is not on the disc is a bad argument.
std::vector<int> ChooseTracks(const TCDRIP& ripper, const Arguments& args) {
    std::vector<int> wanted = args.tracks;
    if (wanted.empty()) {
        for (int i = 1; i <= ripper.Tracks.Count(); ++i) {
            wanted.push_back(i);
        }
    }
    std::vector<int> chosen;
    std::vector<int> skipped;
    for (int number : wanted) {
        if (number > ripper.Tracks.Count()) {
            throw Failure("the disc has no track " + std::to_string(number) + " (tracks 1 to " +
                              std::to_string(ripper.Tracks.Count()) + ")",
                          ExitUsage);
        }
        if (ripper.IsAudioTrack(number - 1)) {
            chosen.push_back(number - 1);
        } else if (!args.tracks.empty()) {
            skipped.push_back(number);
        }
    }
    if (chosen.empty()) {
        throw Failure("No Audio Track Selected!", ExitFailure);
    }
    for (int number : skipped) {
        std::fprintf(stderr, "velmora-rip: track %d is a data track; skipped\n", number);
    }
    return chosen;
}

// The output folder: --out, else OutDir of the settings; never blank, created first.
std::string OutputFolder(const Arguments& args) {
    if (!args.outDir && OutputFiles::IsBlankFolder(Settings.OutDir)) {
        throw Failure("the output folder (OutDir in " + SettingsFilePath() +
                          ") is empty; give one with --out",
                      ExitFailure);
    }
    const std::string folder = TrimControl(args.outDir ? *args.outDir : Settings.OutDir);
    if (const std::string why = MakeOutputFolder(folder); !why.empty()) {
        throw Failure(why, ExitFailure);
    }
    return folder;
}

// Tells the settings values the encoder could not take as they were, once.
void ApplyCoderSettings(TLameCoder& coder, bool tell) {
    for (const std::string& note : ApplyMP3Settings(Settings, coder)) {
        if (tell) {
            Complain("settings: " + note);
        }
    }
}

// velmora-rip's presentation of a job: a progress bar per track (one track after the
// other) or the pipeline's status line, one line per track as it ends, and the damage.
class CliObserver : public JobObserver {
public:
    CliObserver(const Arguments& a, bool pipeline) : args(a), parallel(pipeline) {}

    void TrackBegins(const JobTrack& track, int, int) override {
        const std::string label = Label(track);
        if (options != nullptr && JobFileName(*options, track).Shortened) {
            Complain(label + ": the file name is shortened to 255 bytes: " +
                     EscapeControls(track.FileName));
        }
        if (parallel) {
            reading = label;
            readPercent = 0;
        } else {
            progress.Begin(label, Seconds(track));
        }
    }
    void Progress(const JobProgress& p) override {
        if (!parallel) {
            progress.Update(p.ReadPercent);
            return;
        }
        readPercent = p.ReadPercent;
        progress.Status(PipelineStatus(reading, readPercent, p.Encoding, 80), false);
    }
    void TrackEnds(const JobTrack& track, const TrackOutcome& o) override {
        const std::string label = Label(track);
        const std::string file = EscapeControls(track.FileName);
        auto end = [&](const std::string& result) {
            if (parallel) {
                const bool whole = o.Result != TrackResult::Failed &&
                                   o.Result != TrackResult::Refused &&
                                   o.Result != TrackResult::Stopped;
                progress.Finished(label, result, file, whole ? o.Seconds : 0, o.Elapsed);
            } else {
                progress.End(result, file);
            }
        };
        switch (o.Result) {
        case TrackResult::Failed:
        case TrackResult::Refused:
            end("failed");
            Complain(label + ": " + o.Reason);
            if (!o.PartialKept.empty()) {
                Complain(label + ": what was read of it is kept in " +
                         EscapeControls(o.PartialKept));
            }
            break;
        case TrackResult::Stopped:
            end("Cancelled");
            if (stoppedName.empty() || o.FileWritten) {
                stoppedName = track.FileName;
                stoppedWritten = o.FileWritten;
            }
            break;
        case TrackResult::Exact:
        case TrackResult::NotAccurate:
            end("OK");
            break;
        case TrackResult::Damaged:
            end("damaged");
            if (o.TestDiffers) {
                std::printf("  the test read's CRC32 differs from the first read's\n");
            } else {
                std::printf("  %s\n",
                            DamageLine(o.DamagedSectors, o.Damage, o.FirstSector).c_str());
            }
            break;
        }
        if (parallel) {
            progress.Status(PipelineStatus(reading, readPercent, {}, 80), true);
        }
    }
    ReplaceAnswer AskReplace(const JobTrack& track, std::string* reason) override {
        if (args.overwrite) {
            return ReplaceAnswer::Yes;
        }
        *reason = track.FileName + " already exists (--overwrite replaces it); not ripped";
        return ReplaceAnswer::Skip;
    }
    bool StopRequested() override { return StopSignal != 0; }

    std::string stoppedName; // the file of the track a signal stopped
    bool stoppedWritten = false;
    const TCDRIP* ripper = nullptr;
    const JobOptions* options = nullptr;

private:
    // A title of any length is printed once, cut to a line.
    static std::string Label(const JobTrack& track) {
        return OutputFiles::ShortForTerminal(TrimControl(track.Title));
    }
    double Seconds(const JobTrack& track) const {
        const DiscTrack* t = ripper != nullptr ? ripper->Disc.Find(track.Number) : nullptr;
        return t != nullptr ? t->AudioSectors() / 75.0 : 0; // 75 sectors a second
    }

    const Arguments& args;
    bool parallel;
    ProgressLine progress{stdout, ::isatty(STDOUT_FILENO) != 0};
    std::string reading;
    int readPercent = 0;
};

// The tally line (after the look-up, which may find tracks not accurate) and, after a
// signal, what became of the stopped track.
void Summarize(const RipJob& job, const CliObserver& observer) {
    const RipJob::Tally t = job.Count();
    const std::string notAccurate =
        t.NotAccurate > 0 ? std::to_string(t.NotAccurate) + " not accurate, " : std::string();
    std::printf("%d exact, %d damaged, %s%d failed\n", t.Exact, t.Damaged, notAccurate.c_str(),
                t.Failed);
    std::fflush(stdout);
    if (StopSignal != 0) {
        // Not written: what is under the name was there before, or nothing is.
        struct stat st {};
        const bool kept =
            !observer.stoppedName.empty() && ::lstat(observer.stoppedName.c_str(), &st) == 0;
        const std::string name = EscapeControls(observer.stoppedName);
        const std::string what = observer.stoppedName.empty() ? std::string("stopped")
                                 : observer.stoppedWritten    ? name + " is partial"
                                 : kept                       ? name + " was left as it was"
                                                              : name + " was not written";
        Complain("interrupted; " + what);
    }
}

// The chosen release's front cover, once for the job, unless the settings or the
// command line say otherwise; why there is none (a missing one included) is said once,
// and returned for the log.
std::string FetchCover(Metadata::DiscTitles& found, const Arguments& args) {
    const Metadata::CoverChoice choice{Settings.CoverArt && !args.noCover,
                                       Settings.EmbedCover && !args.coverFileOnly};
    const std::string note = Metadata::FetchJobCover(found, choice);
    if (!note.empty()) {
        std::fprintf(stderr, "velmora-rip: %s\n", note.c_str());
    }
    return note;
}

// The whole rip: the drive, the tracks, the titles, the job with its log and report.
int RipTracks(TCDRIP& ripper, TLameCoder& coder, const Arguments& args) {
    ChooseDrive(ripper, args);
    const std::vector<int> chosen = ChooseTracks(ripper, args);
    const std::string outDir = OutputFolder(args);
    Metadata::DiscTitles found = FindTitles(ripper, args);
    const std::string coverNote = FetchCover(found, args);
    const bool mp3 = args.format == Format::Mp3;
    const bool vorbis = args.format == Format::Flac || args.format == Format::Opus;
    ApplyCoderSettings(coder, mp3);
    const Mp3Format mp3Format(&coder, &Settings);
    // The encoders' shared state: the tags of every track and what ReplayGain measures.
    auto state = std::make_shared<FormatJobState>();
    state->ReplayGain = Settings.ReplayGain;
    const MeteredFormat meteredMp3(mp3Format, state);
    std::optional<VorbisFormat> vorbisFormat;
    if (vorbis) {
        vorbisFormat.emplace(args.format == Format::Flac ? VorbisKind::Flac : VorbisKind::Opus,
                             Settings, state);
        for (const std::string& note : vorbisFormat->Notes()) {
            Complain("settings: " + note);
        }
    }
    JobOptions options;
    options.Program = "velmora-rip";
    options.OutDir = outDir;
    options.LogFolder = TrimControl(args.outDir ? *args.outDir : Settings.OutDir);
    options.AlbumTitle = found.Album.empty() ? AlbumTitle(ripper) : found.Album;
    options.Artist = found.Artist;
    options.Album = found.Album;
    const EncoderFormat* mp3Chosen = &mp3Format;
    if (Settings.ReplayGain) {
        mp3Chosen = &meteredMp3;
    }
    options.Format = vorbis ? &*vorbisFormat : mp3 ? mp3Chosen : nullptr;
    options.Jobs = args.jobs > 0 ? static_cast<unsigned>(args.jobs) : 0;
    options.Proof = ProofOptionsOf(args.proof, Settings);
    options.OffsetSource = OffsetSourceOf(args.proof, Settings);
    options.ReportPath = args.proof.report ? *args.proof.report : std::string();
    options.Overwrite = args.overwrite;
    options.RefuseSameNames = true;
    options.HiddenTrack = args.hiddenTrack || Settings.HiddenTrack;
    options.HiddenTitle = args.hiddenTitle;
    for (int index : chosen) {
        const Metadata::TitleSource source = found.Tracks[static_cast<std::size_t>(index)].Source;
        if (source == Metadata::TitleSource::CdText ||
            source == Metadata::TitleSource::MusicBrainz) {
            options.OutsideTitles.insert(index + 1);
        }
    }
    CliObserver observer(args, options.Format != nullptr &&
                                   (args.jobs != 1 || options.Format != &mp3Format));
    observer.ripper = &ripper;
    observer.options = &options;
    RipJob job(ripper, options, observer);
    for (int index : chosen) {
        state->Fields[index + 1] = Metadata::TrackTags(found, ripper, index);
    }
    if (mp3) {
        auto tags = std::make_shared<Mp3TagStep>();
        tags->Fields = state->Fields;
        job.SetTagStep(std::make_shared<MeteredTagStep>(tags, state));
    }
    if ((mp3 || vorbis) && Settings.ReplayGain) {
        const auto target = args.format == Format::Flac   ? AlbumGainStep::Target::Flac
                            : args.format == Format::Opus ? AlbumGainStep::Target::Opus
                                                          : AlbumGainStep::Target::Mp3;
        job.AddEndStep(std::make_shared<AlbumGainStep>(target, state));
    }
    auto cover = std::make_shared<CoverFileStep>(found.Cover, args.overwrite, coverNote);
    job.AddEndStep(cover);
    // The cue sheet beside the files; the disc's index points are read here, before the job.
    auto sheet = std::make_shared<CueSheetStep>(ripper.Library(), found.Artist);
    for (int index : chosen) {
        const Metadata::TrackTitle& t = found.Tracks[static_cast<std::size_t>(index)];
        if (!t.Artist.empty()) {
            sheet->SetTrackPerformer(index + 1, t.Artist);
        }
    }
    job.AddEndStep(sheet);
    const std::vector<std::string> titles = TitleList(found);
    std::vector<JobTrack> tracks;
    for (int index : chosen) {
        tracks.push_back({index + 1, index, titles[static_cast<std::size_t>(index)], {}});
    }
    job.Run(tracks);
    if (StopSignal != 0) {
        job.Stop(); // a signal after the last track still stops the job's end
    }
    const int status = job.Finish(ExitSignalBase + StopSignal);
    if (!cover->Note().empty()) {
        std::fprintf(stderr, "velmora-rip: %s\n", EscapeControls(cover->Note()).c_str());
    }
    if (!sheet->Note().empty()) {
        std::fprintf(stderr, "velmora-rip: %s\n", EscapeControls(sheet->Note()).c_str());
    }
    Summarize(job, observer);
    return ReportJobEnd(job, options.LogFolder, stdout, status);
}

int Run(const Arguments& args) {
    if (args.command == Command::Help) {
        std::fputs(Usage(), stdout);
        return 0;
    }
    if (args.command == Command::Version) {
        std::printf("velmora-rip %s (%s)\n", std::string(AppInfo::Version).c_str(),
                    std::string(AppInfo::Title).c_str());
        return 0;
    }
    AddImages(args.images);
    UseGuiSettings();
    TLameCoder coder;
    ApplyCoderSettings(coder, false);
    TCDRIP ripper;
    ripper.WriteWAV = true;
    ripper.SetCoder(&coder);
    switch (args.command) {
    case Command::Drives:
        return ListDrives(ripper);
    case Command::Tracks:
        return ListTracks(ripper, args);
    default:
        return RipTracks(ripper, coder, args);
    }
}

} // namespace

int main(int argc, char** argv) {
    Arguments args;
    std::string error;
    if (!ParseArguments(argc, argv, args, error)) {
        Complain(error);
        return ExitUsage;
    }
    InstallSignalHandlers();
    Http::SetStopCheck([] { return StopSignal != 0; }); // Ctrl-C ends a look-up at once
    // ... and a write into a pipe whose reader stopped reading.
    OutputFiles::SetStopCheck([] { return StopSignal != 0; });
    try {
        return Run(args);
    } catch (const Failure& f) {
        Complain(f.what());
        return f.Code;
    } catch (const std::exception& e) {
        Complain(e.what());
        return ExitFailure;
    }
}
