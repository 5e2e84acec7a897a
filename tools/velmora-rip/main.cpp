// velmora-rip: the command-line front end over the ripper, the encoder, the tag
// component and the settings file of the GUI.

#include "ProgressLine.h"
#include "ProofCli.h"
#include "RipArgs.h"
#include "RipNames.h"

#include "cdaccess/CDRIP.h"
#include "encoding/LameCoder.h"
#include "encoding/MP3Info.h"
#include "platform/AppInfo.h"
#include "platform/Paths.h"
#include "settings/globals.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

using namespace riptool;

namespace {

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;
constexpr int ExitInterrupted = 130; // 128 + SIGINT, as shells report it

volatile std::sig_atomic_t Interrupted = 0;

extern "C" void OnSigInt(int) {
    Interrupted = 1;
}

// A failure that ends the program with a one-line message on stderr.
struct Failure : std::runtime_error {
    Failure(const std::string& message, int code) : std::runtime_error(message), Code(code) {}
    int Code;
};

void InstallSigIntHandler() {
    struct sigaction sa {};
    sa.sa_handler = OnSigInt;
    sigemptyset(&sa.sa_mask);
    // A second Ctrl-C ends the program at once.
    sa.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &sa, nullptr);
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
// beside this program when that folder is writable, else in the configuration folder.
void UseGuiSettings() {
    const char* chosen = std::getenv("VELMORA_SETTINGS");
    if (chosen == nullptr || *chosen == '\0') {
        const std::string folder = Paths::folderOf(Paths::programPath());
        const std::string name = std::string(AppInfo::ProgramName);
        Paths::setSettingsFileOverride(Paths::folderWritable(folder)
                                           ? Paths::settingsFileBeside(folder + "/" + name)
                                           : Paths::configFolder() + "/" + name + ".ini");
    }
    SetDefaultSettings();
    try {
        LoadSettings();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velmora-rip: %s; using the default settings\n", e.what());
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
        throw Failure("no disc in drive " + std::to_string(drive) + " (" + ripper.CDRomIDText() +
                          ")",
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

int ListTracks(TCDRIP& ripper, const Arguments& args) {
    const int drive = ChooseDrive(ripper, args);
    const std::vector<std::string> titles = TrackTitles(ripper);
    std::printf("Drive %d: %s\n", drive, ripper.CDRomIDText().c_str());
    std::printf("Disc key: %s\n", ripper.GetDiscID().c_str());
    PrintDiscIds(ripper, stdout);
    std::printf("No.  Kind   Length  Title\n");
    for (int i = 0; i < ripper.Tracks.Count(); ++i) {
        std::printf("%-4s %-6s %6s  %s\n", TwoDigits(i + 1).c_str(),
                    ripper.Tracks.Objects(i).TrackType.c_str(), ripper.GetTrackTime(i).c_str(),
                    titles[static_cast<std::size_t>(i)].c_str());
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

// Writes the title into the MP3 file's tag; the tag component reports through Error.
void TagFile(const std::string& file, const std::string& title) {
    TMP3Info info;
    try {
        info.SetFilename(file);
        info.SetTitle(title);
        info.Save();
    } catch (const std::exception& e) {
        throw Failure(file + ": cannot write the title tag: " + e.what(), ExitFailure);
    }
    if (!info.Saved() && !info.Error().empty()) {
        throw Failure(file + ": cannot write the title tag: " + info.Error(), ExitFailure);
    }
}

double TrackSeconds(const TCDRIP& ripper, int index) {
    const TTrack& t = ripper.Tracks.Objects(index);
    return (t.EndSector - t.StartSector + 1) / 75.0; // 75 sectors a second
}

int RipTracks(TCDRIP& ripper, const Arguments& args, JobProof& proof) {
    ChooseDrive(ripper, args);
    const std::vector<int> chosen = ChooseTracks(ripper, args);
    const std::vector<std::string> titles = TrackTitles(ripper);
    const bool mp3 = args.format == Format::Mp3;
    const std::string outDir = args.outDir ? *args.outDir : Settings.OutDir;
    ripper.Encode = mp3;
    proof.Start("velmora-rip", AlbumTitle(ripper));
    DescribeSettings(proof, mp3, Settings, args.proof);
    ProgressLine progress(stdout, ::isatty(STDOUT_FILENO) != 0);
    ripper.OnProgress = [&progress](TCDRIP*, uint16_t percent) { progress.Update(percent); };
    ripper.ProcessMessages = [&ripper] {
        if (Interrupted) {
            ripper.Abort();
        }
    };
    for (int index : chosen) {
        const std::string& title = titles[static_cast<std::size_t>(index)];
        const std::string name = OutputFileName(outDir, title, mp3);
        Paths::createFolders(Paths::folderOf(name));
        progress.Begin(TrimControl(title), TrackSeconds(ripper, index));
        try {
            proof.RipTrack(index + 1, name);
        } catch (const std::exception& e) {
            progress.End("failed", name);
            throw Failure(TrimControl(title) + ": " + e.what(), ExitFailure);
        }
        if (mp3) {
            TagFile(name, title);
        }
        progress.End(Interrupted ? "Cancelled" : "OK", name);
        if (Interrupted) {
            throw Failure("interrupted; " + name + " is partial", ExitInterrupted);
        }
    }
    return 0;
}

// Rips, then ends the job with its log and report, also when it failed part way.
int RipWithProof(TCDRIP& ripper, const Arguments& args) {
    JobProof proof(ripper, ProofOptionsOf(args.proof, Settings));
    const std::string outDir = args.outDir ? *args.outDir : Settings.OutDir;
    int status = 0;
    try {
        status = RipTracks(ripper, args, proof);
    } catch (const Failure& f) {
        // With no track finished there is nothing to prove: the failure alone is told.
        const bool anyFinished = std::any_of(proof.Record.Tracks.begin(), proof.Record.Tracks.end(),
                                             [](const TrackRecord& t) { return t.Ripped; });
        if (anyFinished) {
            std::fprintf(stderr, "velmora-rip: %s\n", f.what());
            if (f.Code == ExitInterrupted) {
                proof.SkipLookup();
            }
            return FinishJob(proof, outDir, args.proof, f.Code, stdout);
        }
        throw;
    }
    return FinishJob(proof, outDir, args.proof, status, stdout);
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
    ApplyMP3Settings(Settings, coder);
    TCDRIP ripper;
    ripper.WriteWAV = true;
    ripper.SetCoder(&coder);
    switch (args.command) {
    case Command::Drives:
        return ListDrives(ripper);
    case Command::Tracks:
        return ListTracks(ripper, args);
    default:
        return RipWithProof(ripper, args);
    }
}

} // namespace

int main(int argc, char** argv) {
    Arguments args;
    std::string error;
    if (!ParseArguments(argc, argv, args, error)) {
        std::fprintf(stderr, "velmora-rip: %s\n", error.c_str());
        return ExitUsage;
    }
    InstallSigIntHandler();
    try {
        return Run(args);
    } catch (const Failure& f) {
        std::fprintf(stderr, "velmora-rip: %s\n", f.what());
        return f.Code;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velmora-rip: %s\n", e.what());
        return ExitFailure;
    }
}
