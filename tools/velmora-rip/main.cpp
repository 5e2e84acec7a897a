// velmora-rip: the command-line front end over the ripper, the encoder, the tag
// component and the settings file of the GUI.

#include "DamageReport.h"
#include "ProgressLine.h"
#include "ProofCli.h"
#include "RipArgs.h"
#include "RipNames.h"

#include "cdaccess/CDRIP.h"
#include "cdaccess/OutputFiles.h"
#include "cdaccess/RipPipeline.h"
#include "encoding/LameCoder.h"
#include "encoding/MP3Info.h"
#include "metadata/CoverArt.h"
#include "metadata/Id3v2Tag.h"
#include "platform/AppInfo.h"
#include "platform/Paths.h"
#include "settings/globals.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
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
constexpr int ExitDamaged = 3;
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
    Metadata::DiscTitles titles = FindDiscTitles(
        ripper, args.titles, Settings.Lookup && !args.noLookup, note, args.release);
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
        std::printf("Artist: %s (%s)\n", found.Artist.c_str(), SourceName(found.ArtistSource));
    }
    if (!found.Album.empty()) {
        std::printf("Album: %s (%s)\n", found.Album.c_str(), SourceName(found.AlbumSource));
    }
    if (!found.Release.empty()) {
        std::printf("MusicBrainz: %s (release %s)\n", found.Release.c_str(),
                    found.ReleaseId.c_str());
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

// Writes the title into the MP3 file's tag; returns "" or what went wrong.
std::string TagFile(const std::string& file, const std::string& title) {
    TMP3Info info;
    try {
        info.SetFilename(file);
        info.SetTitle(title);
        info.Save();
    } catch (const std::exception& e) {
        return e.what();
    }
    if (info.Saved()) {
        return {};
    }
    // Save reports input/output failures only through Saved; the system says why.
    return info.SystemError() != 0 ? OutputFiles::ErrorText(info.SystemError()) : info.Error();
}

// Writes the ID3v2 tag at the start of the MP3 file (after the ID3v1 title tag); the
// reason when it cannot.
std::string TagFileFully(const std::string& file, const Metadata::DiscTitles& titles,
                         const TCDRIP& ripper, int index) {
    std::string error;
    if (!Metadata::WriteId3v2Tag(file, Metadata::TrackTags(titles, ripper, index), &error)) {
        return error.empty() ? std::string("unknown error") : error;
    }
    return {};
}

double TrackSeconds(const TCDRIP& ripper, int index) {
    const TTrack& t = ripper.Tracks.Objects(index);
    return (t.EndSector - t.StartSector + 1) / 75.0; // 75 sectors a second
}

enum class Outcome { Exact, Damaged, Failed, Stopped };

// What one rip job shares between its tracks.
struct Job {
    Job(TCDRIP& r, const Arguments& a, std::string folder, Metadata::DiscTitles disc, JobProof& p)
        : ripper(r), args(a), found(std::move(disc)), titles(TitleList(found)),
          outDir(std::move(folder)), mp3(a.format == Format::Mp3), proof(p) {}
    TCDRIP& ripper;
    const Arguments& args;
    Metadata::DiscTitles found;
    std::vector<std::string> titles;
    std::string outDir;
    bool mp3 = false;
    JobProof& proof; // checksums, test read and log of every track
    ProgressLine progress{stdout, ::isatty(STDOUT_FILENO) != 0};
    std::string stoppedName; // the file of the track a signal stopped
    bool stoppedWritten = false;
};

// The output folder: --out, else OutDir of the settings; never blank, created first.
std::string OutputFolder(const Arguments& args) {
    if (!args.outDir && OutputFiles::IsBlankFolder(Settings.OutDir)) {
        throw Failure("the output folder (OutDir in " + SettingsFilePath() +
                          ") is empty; give one with --out",
                      ExitFailure);
    }
    const std::string folder = TrimControl(args.outDir ? *args.outDir : Settings.OutDir);
    if (!Paths::createFolders(folder)) {
        ::mkdir(folder.c_str(), 0777); // once more, for the reason of the folder itself
        const int error = errno;
        throw Failure("cannot create the output folder " + folder + ": " +
                          OutputFiles::ErrorText(error),
                      ExitFailure);
    }
    return folder;
}

// Something other than a folder is under the name (a folder fails with its reason
// when the file is created).
bool NameTaken(const std::string& name) {
    struct stat st {};
    return ::lstat(name.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

Outcome TrackFailed(Job& job, const std::string& label, const std::string& name,
                    const std::string& why) {
    job.progress.End("failed", EscapeControls(name));
    Complain(label + ": " + why);
    return Outcome::Failed;
}

// The damage of a track read in full: the ripper's entries and count for it. `end` prints
// the track's line with its result.
Outcome ReportDamage(Job& job, int index, const std::vector<std::string>& entries,
                     int32_t errorCount, const std::function<void(const std::string&)>& end) {
    const bool sectors = errorCount > 0 || !entries.empty();
    if (!sectors && !job.proof.Damaged(index + 1)) {
        end("OK");
        return Outcome::Exact;
    }
    end("damaged");
    if (sectors) {
        const int32_t start = job.ripper.Tracks.Objects(index).StartSector;
        std::printf("  %s\n", DamageLine(errorCount, DamagedRanges(entries), start).c_str());
    } else {
        std::printf("  the test read's CRC32 differs from the first read's\n");
    }
    return Outcome::Damaged;
}

// Why the track's file must not be written ("" when it may); makes its folder.
std::string CheckName(const Job& job, const std::string& title, const std::string& name) {
    if (OutputFiles::IsInvalidTitle(title)) {
        return OutputFiles::EInvalidFileName(name).what();
    }
    if (!job.args.overwrite && NameTaken(name)) {
        return name + " already exists (--overwrite replaces it); not ripped";
    }
    OutputFiles::CreateFolderOf(name); // a failure shows, with its reason, when it is created
    return {};
}

// Writes the ID3v1 title tag and the ID3v2 tag of a finished MP3; "" or what failed.
std::string TagTrack(const Job& job, int index, const std::string& name) {
    const std::string& title = job.titles[static_cast<std::size_t>(index)];
    if (const std::string why = TagFile(name, title); !why.empty()) {
        return name + ": cannot write the title tag: " + why;
    }
    if (const std::string why = TagFileFully(name, job.found, job.ripper, index); !why.empty()) {
        return name + ": cannot write the ID3v2 tag: " + why;
    }
    return {};
}

// Checks the name, rips the track and tags it; every failure is told and returned.
Outcome RipOne(Job& job, int index) {
    const std::string& title = job.titles[static_cast<std::size_t>(index)];
    const std::string label = EscapeControls(TrimControl(title));
    const std::string name = OutputFiles::OutputName(job.outDir, title, job.mp3);
    job.progress.Begin(label, TrackSeconds(job.ripper, index));
    if (const std::string why = CheckName(job, title, name); !why.empty()) {
        return TrackFailed(job, label, name, why);
    }
    const std::size_t before = job.ripper.JitterErrors.size();
    try {
        job.proof.RipTrack(index + 1, name);
    } catch (const std::exception& e) {
        return TrackFailed(job, label, name, e.what());
    }
    if (job.mp3 && job.ripper.FileWritten) {
        if (const std::string why = TagTrack(job, index, name); !why.empty()) {
            return TrackFailed(job, label, name, why);
        }
    }
    if (StopSignal != 0) {
        job.progress.End("Cancelled", EscapeControls(name));
        job.stoppedName = name;
        job.stoppedWritten = job.ripper.FileWritten;
        return Outcome::Stopped;
    }
    const std::vector<std::string> entries(
        job.ripper.JitterErrors.begin() + static_cast<long>(before), job.ripper.JitterErrors.end());
    return ReportDamage(
        job, index, entries, job.ripper.JitterErrorCount,
        [&](const std::string& result) { job.progress.End(result, EscapeControls(name)); });
}

// Tells the settings values the encoder could not take as they were, once.
void ApplyCoderSettings(TLameCoder& coder, bool tell) {
    for (const std::string& note : ApplyMP3Settings(Settings, coder)) {
        if (tell) {
            Complain("settings: " + note);
        }
    }
}

struct Tally {
    int exact = 0;
    int damaged = 0;
    int failed = 0;
};

int Summarize(const Job& job, const Tally& t) {
    std::printf("%d exact, %d damaged, %d failed\n", t.exact, t.damaged, t.failed);
    std::fflush(stdout);
    if (StopSignal != 0) {
        const std::string what = job.stoppedName.empty() ? std::string("stopped")
                                 : job.stoppedWritten
                                     ? EscapeControls(job.stoppedName) + " is partial"
                                     : EscapeControls(job.stoppedName) + " was left as it was";
        Complain("interrupted; " + what);
        return ExitSignalBase + StopSignal;
    }
    return t.failed > 0 ? ExitFailure : t.damaged > 0 ? ExitDamaged : 0;
}

void Count(Tally& tally, Outcome outcome) {
    switch (outcome) {
    case Outcome::Exact:
        ++tally.exact;
        break;
    case Outcome::Damaged:
        ++tally.damaged;
        break;
    case Outcome::Failed:
        ++tally.failed;
        break;
    case Outcome::Stopped:
        break;
    }
}

// The MP3 rip with reading and encoding at once (see TRipPipeline): the names are checked
// in track order before anything is read, each track is told, tagged and counted when its
// encoder has finished. A signal stops the reading and the encoders; every track not
// finished then ends early as the output files' rules say.
void RipParallel(Job& job, TLameCoder& coder, const std::vector<int>& chosen, int jobs,
                 Tally& tally) {
    using Clock = std::chrono::steady_clock;
    TCDRIP& ripper = job.ripper;
    TRipPipeline pipeline(ripper, coder);
    if (jobs > 0) {
        pipeline.Workers = static_cast<unsigned>(jobs);
    }
    std::vector<TPipelineTrack> tracks;
    for (int index : chosen) {
        const std::string& title = job.titles[static_cast<std::size_t>(index)];
        const std::string name = OutputFiles::OutputName(job.outDir, title, true);
        if (const std::string why = CheckName(job, title, name); !why.empty()) {
            job.progress.Finished(EscapeControls(TrimControl(title)), "failed",
                                  EscapeControls(name), 0, 0);
            Complain(EscapeControls(TrimControl(title)) + ": " + why);
            ++tally.failed;
        } else {
            tracks.push_back({index + 1, name});
        }
    }
    // The ripper's hooks below refer to this function's objects: gone when it returns.
    struct ResetHooks {
        TCDRIP& Ripper;
        ~ResetHooks() {
            Ripper.OnProgress = nullptr;
            Ripper.ProcessMessages = nullptr;
        }
    } resetHooks{ripper};
    std::map<int32_t, Clock::time_point> started;
    std::string reading;
    int readPercent = 0;
    auto draw = [&](bool now) {
        std::vector<std::pair<int, int>> encoding;
        for (const TEncodingTrack& t : pipeline.Encoding()) {
            encoding.emplace_back(t.TrackNum, t.Percent);
        }
        job.progress.Status(PipelineStatus(reading, readPercent, encoding, 80), now);
    };
    ripper.OnProgress = [&](TCDRIP*, uint16_t percent) {
        readPercent = percent;
        draw(false);
    };
    ripper.ProcessMessages = [&] {
        if (StopSignal != 0) {
            ripper.Abort();
            pipeline.StopEncoding();
        }
        draw(false);
    };
    pipeline.ReadWith = [&job](int32_t number, const std::string& name,
                               const std::function<void()>& read) {
        job.proof.ReadTrackWith(number, name, read);
    };
    pipeline.OnBeginRead = [&](int32_t number) {
        started[number] = Clock::now();
        reading = EscapeControls(TrimControl(job.titles[static_cast<std::size_t>(number - 1)]));
        readPercent = 0;
        draw(true);
    };
    pipeline.OnDone = [&](const TPipelineOutcome& done) {
        const int index = done.TrackNum - 1;
        const std::string label =
            EscapeControls(TrimControl(job.titles[static_cast<std::size_t>(index)]));
        const std::string file = EscapeControls(done.FileName);
        const double seconds = TrackSeconds(ripper, index);
        const double elapsed =
            std::chrono::duration<double>(Clock::now() - started[done.TrackNum]).count();
        auto end = [&](const std::string& result) {
            job.progress.Finished(label, result, file, done.Complete ? seconds : 0, elapsed);
        };
        std::string why = done.Error;
        if (why.empty() && done.FileWritten) {
            why = TagTrack(job, index, done.FileName);
        }
        if (!why.empty()) {
            job.proof.MarkFailed(done.TrackNum);
            end("failed");
            Complain(label + ": " + why);
            ++tally.failed;
        } else if (!done.Complete) {
            job.proof.MarkUnfinished(done.TrackNum);
            end("Cancelled");
            if (job.stoppedName.empty() || done.FileWritten) {
                job.stoppedName = done.FileName;
                job.stoppedWritten = done.FileWritten;
            }
        } else {
            Count(tally, ReportDamage(job, index, done.JitterErrors, done.JitterErrorCount, end));
        }
        draw(true);
    };
    if (!tracks.empty()) {
        pipeline.Run(tracks);
    }
}

// The chosen release's front cover, once for the job, unless the settings or the
// command line say otherwise; why there is none (a missing one included) is said once.
void FetchCover(Job& job) {
    const Metadata::CoverChoice choice{Settings.CoverArt && !job.args.noCover,
                                       Settings.EmbedCover && !job.args.coverFileOnly};
    const std::string note = Metadata::FetchJobCover(job.found, choice);
    if (!note.empty()) {
        std::fprintf(stderr, "velmora-rip: %s\n", note.c_str());
    }
}

// The cover file beside the tracks, once, at the job's end.
void SaveCover(const Job& job) {
    const std::string note = Metadata::SaveJobCover(job.found, job.outDir, job.args.overwrite);
    if (!note.empty()) {
        std::fprintf(stderr, "velmora-rip: %s\n", EscapeControls(note).c_str());
    }
}

int RipTracks(TCDRIP& ripper, TLameCoder& coder, const Arguments& args, JobProof& proof) {
    ChooseDrive(ripper, args);
    const std::vector<int> chosen = ChooseTracks(ripper, args);
    Job job(ripper, args, OutputFolder(args), FindTitles(ripper, args), proof);
    FetchCover(job);
    ApplyCoderSettings(coder, job.mp3);
    proof.Start("velmora-rip", job.found.Album.empty() ? AlbumTitle(ripper) : job.found.Album);
    DescribeSettings(proof, job.mp3, Settings, args.proof);
    ripper.Encode = job.mp3;
    ripper.OnProgress = [&job](TCDRIP*, uint16_t percent) { job.progress.Update(percent); };
    ripper.ProcessMessages = [&ripper] {
        if (StopSignal != 0) {
            ripper.Abort();
        }
    };
    Tally tally;
    if (job.mp3 && args.jobs != 1) {
        RipParallel(job, coder, chosen, args.jobs, tally);
    } else {
        for (int index : chosen) {
            if (StopSignal != 0) {
                break;
            }
            Count(tally, RipOne(job, index));
        }
    }
    if (tally.exact + tally.damaged > 0) {
        SaveCover(job);
    }
    return Summarize(job, tally);
}

// Rips, then ends the job with its log and report, also when it failed part way.
int RipWithProof(TCDRIP& ripper, TLameCoder& coder, const Arguments& args) {
    JobProof proof(ripper, ProofOptionsOf(args.proof, Settings));
    const std::string outDir = args.outDir ? *args.outDir : Settings.OutDir;
    const int status = RipTracks(ripper, coder, args, proof);
    if (StopSignal != 0) {
        proof.SkipLookup(); // a job the user stopped ends at once
    }
    return FinishJob(proof, OutputFiles::TrimControl(outDir), args.proof, status, stdout);
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
        return RipWithProof(ripper, coder, args);
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
