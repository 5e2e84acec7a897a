// The velmora-rip program itself, run on generated disc images.

#include "FileSizeLimit.h"
#include "LocalHttpServer.h"
#include "Mp3Decode.h"
#include "Mutagen.h"
#include "RipProgram.h"
#include "TestDir.h"

#include "discgen.h"
#include "encoding/AudioCheck.h"
#include "encoding/FlacDecode.h"
#include "metadata/DiscId.h"

#include <opusfile.h>
#include <zlib.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>

using testing::HasSubstr;
using testing::Not;

namespace {

constexpr int SectorBytes = 2352;

using Result = RipRun;

class VelmoraRip : public testing::Test {
protected:
    VelmoraRip() : Program(RipProgramPath()) { std::filesystem::create_directory(dir / "config"); }

    // Writes a disc image named `name` and returns its .cue path.
    std::string MakeDisc(const std::string& name, const discgen::DiscSpec& plan) {
        std::string error;
        EXPECT_TRUE(discgen::writeDisc(dir / name, plan, &error)) << error;
        return dir / (name + ".cue");
    }

    // The program's environment: ours, with the settings, cdplayer.ini, the cache and
    // sound pointed away from the user's, and no images but those given as arguments.
    std::vector<std::string> Environment(const std::vector<std::string>& extra = {}) const {
        return RipProgramEnvironment(dir.Path, extra);
    }

    // Starts the program with stdout and stderr into files; with `closedPipe`, stdout is
    // a pipe whose reading end is already closed, as under "| head -1" once head ended.
    pid_t Start(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv = {},
                bool closedPipe = false) {
        return StartRipProgram(Program, args, Environment(extraEnv), dir.Path, closedPipe);
    }

    Result Wait(pid_t pid) { return WaitRipProgram(pid, dir.Path); }

    Result Run(const std::vector<std::string>& args,
               const std::vector<std::string>& extraEnv = {}) {
        return Wait(Start(args, extraEnv));
    }

    // Waits until a partial file for `final` exists and holds at least `bytes`; returns
    // its path ("" on time-out).
    std::string WaitForPartial(const std::string& final, std::uintmax_t bytes) {
        const std::filesystem::path f(final);
        const std::string prefix = "." + f.filename().string() + ".partial-";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline) {
            std::error_code ec;
            for (const auto& e : std::filesystem::directory_iterator(f.parent_path(), ec)) {
                if (e.path().filename().string().rfind(prefix, 0) == 0 &&
                    std::filesystem::file_size(e.path(), ec) >= bytes && !ec) {
                    return e.path();
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return {};
    }

    // Writes cdplayer.ini with one section for the disc: key=value lines as given.
    void WriteTitles(const std::string& image, const std::string& lines) {
        const std::string key = DiscKey(image);
        ASSERT_FALSE(key.empty());
        std::ofstream(dir / "config/cdplayer.ini", std::ios::binary) << "[" << key << "]\n"
                                                                     << lines;
    }

    std::string DiscKey(const std::string& image) {
        const Result r = Run({"tracks", image});
        const std::size_t at = r.Out.find("Disc key: ");
        return at == std::string::npos ? "" : r.Out.substr(at + 10, r.Out.find('\n', at) - at - 10);
    }

    TestDir dir;
    std::string Program;
};

// A message on stderr is one line.
void ExpectOneLine(const Result& r) {
    EXPECT_FALSE(r.Err.empty());
    EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
}

} // namespace

TEST_F(VelmoraRip, ListsDrivesAndTracks) {
    const std::string image = MakeDisc("list", discgen::simpleDisc(2, 2, 4575, 300));
    Result r = Run({"drives", image});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_THAT(r.Out, HasSubstr("0: "));
    EXPECT_THAT(r.Out, HasSubstr("list.cue"));
    r = Run({"tracks", image});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_THAT(r.Out, HasSubstr("01   Audio    1:01  track number  Track01\n"));
    // Track 2 ends before the data track's 150-sector pregap: 4575 sectors, not 4725.
    EXPECT_THAT(r.Out, HasSubstr("02   Audio    1:01  track number  Track02\n"));
    EXPECT_THAT(r.Out, HasSubstr("03   Data     0:04  track number  Track03\n"));
    EXPECT_THAT(r.Out, HasSubstr("Disc key: "));
}

// One rounding rule for a length wherever it is shown: 2000 sectors are 26.67 s, 0:26
// in the track list and in the line that says the track is ripped; 2025 sectors are
// 27 s exactly.
TEST_F(VelmoraRip, TracksAndRipShowTheSameLength) {
    discgen::DiscSpec plan = discgen::simpleDisc(3, 2, 2000);
    plan.tracks[1].sectors = 2025;
    const std::string image = MakeDisc("len", plan);
    Result r = Run({"tracks", "--no-lookup", image});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_THAT(r.Out, HasSubstr("01   Audio    0:26  track number  Track01\n"));
    EXPECT_THAT(r.Out, HasSubstr("02   Audio    0:27  track number  Track02\n"));
    r = Run({"rip", "--no-lookup", "--format", "wav", "--out", dir / "out", image});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_THAT(r.Out,
                HasSubstr("Track01 -> " + (dir / "out/Track01.wav") + ": OK (0:26 of audio"));
    EXPECT_THAT(r.Out,
                HasSubstr("Track02 -> " + (dir / "out/Track02.wav") + ": OK (0:27 of audio"));
}

struct SheetTextRow {
    const char* name;
    discgen::SheetStyle::Text text;
    const char* logLine; // the log's line for how the sheet's text was read
};

class VelmoraRipSheetText : public VelmoraRip, public testing::WithParamInterface<SheetTextRow> {};

// The log says how the cue sheet's text was read: as UTF-8 when it is valid UTF-8,
// else as Windows-1252; the album title is the same text either way.
TEST_P(VelmoraRipSheetText, LogSaysHowTheSheetWasRead) {
    const SheetTextRow& row = GetParam();
    discgen::DiscSpec plan = discgen::simpleDisc(8, 1, 300);
    plan.title = "Winter \xC3\x89tudes"; // "Winter Études"
    discgen::SheetStyle style;
    style.text = row.text;
    std::string error;
    ASSERT_TRUE(discgen::writeDisc(dir / "text", plan, style, &error)) << error;
    const Result r =
        Run({"rip", "--no-lookup", "--format", "wav", "--out", dir / "out", dir / "text.cue"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    const std::string log = ReadText(dir / "out/Winter \xC3\x89tudes.log");
    EXPECT_THAT(log, HasSubstr("\n  " + std::string(row.logLine) + "\n"));
    EXPECT_THAT(log, HasSubstr("Album: Winter \xC3\x89tudes\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, VelmoraRipSheetText,
    testing::Values(
        SheetTextRow{"utf8", discgen::SheetStyle::Text::Utf8, "Cue sheet text: UTF-8"},
        SheetTextRow{"utf8_bom", discgen::SheetStyle::Text::Utf8Bom, "Cue sheet text: UTF-8"},
        SheetTextRow{"latin1", discgen::SheetStyle::Text::Latin1, "Cue sheet text: Windows-1252"},
        SheetTextRow{"cp1252", discgen::SheetStyle::Text::Windows1252,
                     "Cue sheet text: Windows-1252"}),
    RowName);

TEST_F(VelmoraRip, RipsToWavFilesThatAreTheImagesBytes) {
    const discgen::DiscSpec plan = discgen::simpleDisc(4, 2, 1001, 300);
    const std::string image = MakeDisc("wav", plan);
    const Result r = Run({"rip", "--no-lookup", "--format", "wav", "--out", dir / "out", image});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    const auto all = discgen::imageBytes(plan);
    const discgen::Layout layout = discgen::layoutOf(plan);
    for (std::size_t t = 0; t < 2; ++t) {
        const auto b = ReadBytes(dir / ("out/Track0" + std::to_string(t + 1) + ".wav"));
        const auto from = static_cast<std::size_t>(layout.starts[t]) * SectorBytes;
        // Track 2 ends before the data track's 150-sector pregap.
        const auto to =
            static_cast<std::size_t>(layout.starts[t + 1] - (t == 1 ? 150 : 0)) * SectorBytes;
        ASSERT_EQ(b.size(), 44 + to - from);
        EXPECT_EQ(U32At(b, 40), to - from);
        EXPECT_TRUE(std::equal(b.begin() + 44, b.end(), all.begin() + static_cast<long>(from)));
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "out/Track03.wav")); // the data track
    // Not a terminal: one plain progress line per track, the summary, then the proof.
    EXPECT_EQ(std::count(r.Out.begin(), r.Out.end(), '>'), 2) << r.Out;
    EXPECT_THAT(r.Out, HasSubstr("\n2 exact, 0 damaged, 0 failed\n"));
    EXPECT_THAT(r.Out, HasSubstr("Track02 -> " + (dir / "out/Track02.wav") + ": OK"));
}

TEST_F(VelmoraRip, RipsToTaggedMp3NamedFromCdplayerIni) {
    discgen::DiscSpec plan = discgen::simpleDisc(6, 3, 750);
    plan.toneHz = 1000;
    const std::string image = MakeDisc("mp3", plan);
    const std::string key = DiscKey(image);
    ASSERT_FALSE(key.empty());
    {
        std::ofstream ini(dir / "config/cdplayer.ini");
        ini << "[" << key << "]\nartist=Nobody\n0=Opening\n1=Side B/Second\n2=Third\n";
    }
    const Result r = Run({"rip", "--tracks", "2", "--out", dir / "out", image});
    ASSERT_EQ(r.Code, 0) << r.Err;
    const std::string name = dir / "out/Side B/Second.mp3";
    ASSERT_TRUE(std::filesystem::exists(name)) << r.Out;
    EXPECT_FALSE(std::filesystem::exists(dir / "out/Opening.mp3"));
    const auto b = ReadBytes(name);
    ASSERT_GT(b.size(), 128u);
    EXPECT_EQ(std::string(b.end() - 128, b.end() - 128 + 16), "TAGSide B/Second");
    // The settings file is new, so the defaults hold: VBR with its header, 44100 Hz.
    const Decoded d = DecodeMp3(name);
    EXPECT_EQ(d.Rate, 44100);
    EXPECT_NEAR(static_cast<double>(d.Frames()), 750.0 * 588, 1152.0);
}

struct FailRow {
    const char* name;
    std::vector<std::string> args; // "IMAGE" stands for a good disc image
    int code;
    const char* message;
};

class VelmoraRipFails : public VelmoraRip, public testing::WithParamInterface<FailRow> {};

TEST_P(VelmoraRipFails, OneLineAndNonZeroExit) {
    const std::string image = MakeDisc("good", discgen::simpleDisc(1, 2, 300, 300));
    {
        std::ofstream junk(dir / "junk.cue");
        junk << "this is not a cue sheet\n";
    }
    ::mkfifo((dir / "fifo.cue").c_str(), 0600);
    std::vector<std::string> args;
    for (const std::string& a : GetParam().args) {
        args.push_back(a == "IMAGE"  ? image
                       : a == "JUNK" ? dir / "junk.cue"
                       : a == "FIFO" ? dir / "fifo.cue"
                                     : a);
    }
    const Result r = Run(args);
    EXPECT_EQ(r.Code, GetParam().code) << r.Err;
    ExpectOneLine(r);
    EXPECT_THAT(r.Err, HasSubstr(GetParam().message));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, VelmoraRipFails,
    testing::Values(
        FailRow{"no_command", {}, 2, "no command given"},
        FailRow{"bad_format", {"rip", "--format", "ogg", "IMAGE"}, 2, "bad format: ogg"},
        FailRow{"bad_tracks", {"rip", "--tracks", "2-1", "IMAGE"}, 2, "bad track list"},
        FailRow{"missing_image", {"tracks", "/nonexistent/disc.cue"}, 2, "no such disc image"},
        FailRow{"track_not_on_disc", {"rip", "--tracks", "5", "IMAGE"}, 2, "has no track 5"},
        FailRow{"drive_not_there", {"tracks", "--drive", "4", "IMAGE"}, 2, "no drive 4"},
        FailRow{"not_a_disc", {"tracks", "JUNK"}, 1, "no disc in drive 0"},
        // The reason follows: the sheet's file, line and what is wrong there.
        FailRow{"not_a_disc_why", {"tracks", "JUNK"}, 1, "junk.cue:1: unknown keyword this"},
        FailRow{"fifo_image", {"tracks", "FIFO"}, 1, "fifo.cue: not a regular file"},
        FailRow{
            "data_track_only", {"rip", "--tracks", "3", "IMAGE"}, 1, "No Audio Track Selected!"},
        FailRow{"output_not_creatable",
                {"rip", "--no-lookup", "--out", "/dev/null/x", "IMAGE"},
                1,
                "cannot create the output folder /dev/null/x: Not a directory"},
        FailRow{"empty_out", {"rip", "--out", "", "IMAGE"}, 2, "must not be empty"},
        FailRow{"blank_out", {"rip", "--out", " ", "IMAGE"}, 2, "must not be empty"},
        FailRow{"format_then_out",
                {"rip", "--format", "--out", "/tmp", "IMAGE"},
                2,
                "option --format needs a value"}),
    RowName);

TEST_F(VelmoraRip, CtrlCLeavesAPartialTaggedFile) {
    // Five minutes of audio: far longer to encode than it takes to see the file grow.
    const std::string image = MakeDisc("long", discgen::simpleDisc(8, 1, 5 * 4500));
    const pid_t pid = Start({"rip", "--no-lookup", "--out", dir / "out", image});
    ASSERT_GT(pid, 0); // never signal a process group or every process
    const std::string name = dir / "out/Track01.mp3";
    EXPECT_NE(WaitForPartial(name, 65536), "");
    ASSERT_EQ(::kill(pid, SIGINT), 0);
    const Result r = Wait(pid);
    EXPECT_EQ(r.Code, 130);
    ExpectOneLine(r);
    EXPECT_THAT(r.Err, HasSubstr(name + " is partial"));
    EXPECT_THAT(r.Out, HasSubstr(": Cancelled"));
    const auto b = ReadBytes(name);
    ASSERT_GT(b.size(), 65536u);
    EXPECT_EQ(std::string(b.end() - 128, b.end() - 128 + 10), "TAGTrack01");
    // The encoder was flushed: what is there decodes, and is shorter than the track.
    const Decoded d = DecodeMp3(name);
    EXPECT_GT(d.Frames(), 0u);
    EXPECT_LT(d.Frames(), 5u * 4500u * 588u);
}

// The bytes of track `track` (0-based) of a plan, as the image holds them.
std::vector<uint8_t> TrackBytes(const discgen::DiscSpec& plan, std::size_t track) {
    const auto all = discgen::imageBytes(plan);
    const discgen::Layout layout = discgen::layoutOf(plan);
    return {all.begin() + static_cast<long>(layout.starts[track]) * SectorBytes,
            all.begin() + static_cast<long>(layout.starts[track + 1]) * SectorBytes};
}

// A stopping signal during a re-rip keeps the previous file; during a first rip it
// leaves the partial track under its name with a header that tells its real length.
struct SignalRow {
    const char* name;
    int signal;
    bool previous;
    int code;
};

class VelmoraRipSignals : public VelmoraRip, public testing::WithParamInterface<SignalRow> {};

TEST_P(VelmoraRipSignals, StopAfterSavingTheTrack) {
    const SignalRow row = GetParam();
    // Two tracks of two minutes: 21 MB each, far more than the partial file holds when
    // the signal comes.
    const std::string image = MakeDisc("long", discgen::simpleDisc(8, 2, 2 * 4500));
    const std::string name = dir / "out/Track01.wav";
    std::filesystem::create_directories(dir / "out");
    if (row.previous) {
        std::ofstream(name) << "previous good file";
    }
    const pid_t pid = Start({"rip", "--format", "wav", "--overwrite", "--out", dir / "out", image});
    ASSERT_GT(pid, 0);
    EXPECT_NE(WaitForPartial(name, 1 << 20), "");
    ASSERT_EQ(::kill(pid, row.signal), 0);
    const Result r = Wait(pid);
    EXPECT_EQ(r.Code, row.code) << r.Err;
    EXPECT_THAT(r.Err, HasSubstr("interrupted; " + name));
    EXPECT_FALSE(std::filesystem::exists(dir / "out/Track02.wav")); // the job stopped
    for (const auto& e : std::filesystem::directory_iterator(dir / "out")) {
        EXPECT_EQ(e.path().filename().string().find(".partial-"), std::string::npos);
    }
    const auto b = ReadBytes(name);
    if (row.previous) {
        EXPECT_EQ(std::string(b.begin(), b.end()), "previous good file");
        EXPECT_THAT(r.Err, HasSubstr("was left as it was"));
        return;
    }
    ASSERT_GT(b.size(), 44u);
    EXPECT_LT(b.size(), 44u + 2u * 4500u * SectorBytes);
    EXPECT_EQ(U32At(b, 40), b.size() - 44); // the header tells the partial length
}

INSTANTIATE_TEST_SUITE_P(Rows, VelmoraRipSignals,
                         testing::Values(SignalRow{"term_first_rip", SIGTERM, false, 143},
                                         SignalRow{"term_rerip", SIGTERM, true, 143},
                                         SignalRow{"hup_first_rip", SIGHUP, false, 129},
                                         SignalRow{"hup_rerip", SIGHUP, true, 129},
                                         SignalRow{"int_rerip", SIGINT, true, 130}),
                         RowName);

// A killed rip cannot clean up: it leaves only its clearly named partial file and
// the previous file of the name untouched.
TEST_F(VelmoraRip, KilledRipLeavesOnlyAPartialFile) {
    const std::string image = MakeDisc("long", discgen::simpleDisc(8, 1, 2 * 4500));
    const std::string name = dir / "out/Track01.wav";
    std::filesystem::create_directories(dir / "out");
    std::ofstream(name) << "previous good file";
    const pid_t pid = Start({"rip", "--format", "wav", "--overwrite", "--out", dir / "out", image});
    ASSERT_GT(pid, 0);
    const std::string partial = WaitForPartial(name, 1 << 20);
    ASSERT_NE(partial, "");
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    Wait(pid);
    const auto b = ReadBytes(name);
    EXPECT_EQ(std::string(b.begin(), b.end()), "previous good file");
    EXPECT_TRUE(std::filesystem::exists(partial));
}

// A file-size limit fails each track with the system's reason instead of killing the
// program; a previous file stays whole and the next track is still tried. The encoded
// formats gather their bytes before writing them: the failure still names the file.
class VelmoraRipSizeLimit : public VelmoraRip, public testing::WithParamInterface<const char*> {};

TEST_P(VelmoraRipSizeLimit, FileSizeLimitFailsTracksWithTheReason) {
    const std::string ext = GetParam();
    const std::string image = MakeDisc("two", discgen::simpleDisc(3, 2, 600));
    std::filesystem::create_directories(dir / "out");
    std::ofstream(dir / ("out/Track01." + ext)) << "previous good file";
    pid_t pid = -1;
    {
        FileSizeLimit limit(100 * 1024);
        pid = Start(
            {"rip", "--no-lookup", "--format", ext, "--overwrite", "--out", dir / "out", image});
    }
    const Result r = Wait(pid);
    EXPECT_EQ(r.Code, 1) << r.Err;
    EXPECT_THAT(r.Err, HasSubstr("Track01: Write error: " + (dir / ("out/Track01." + ext)) +
                                 ": File too large"));
    EXPECT_THAT(r.Err, HasSubstr("Track02: Write error: " + (dir / ("out/Track02." + ext)) +
                                 ": File too large"));
    const auto b = ReadBytes(dir / ("out/Track01." + ext));
    EXPECT_EQ(std::string(b.begin(), b.end()), "previous good file");
    EXPECT_THAT(r.Out, HasSubstr("0 exact, 0 damaged, 2 failed"));
}

INSTANTIATE_TEST_SUITE_P(Formats, VelmoraRipSizeLimit, testing::Values("wav", "flac", "opus"),
                         [](const testing::TestParamInfo<const char*>& row) {
                             return std::string(row.param);
                         });

// "velmora-rip rip ... | head -1": the closed pipe does not end the rip.
TEST_F(VelmoraRip, ClosedPipeOnStdoutDoesNotStopTheRip) {
    const std::string image = MakeDisc("pipe", discgen::simpleDisc(3, 3, 300));
    const Result r = Wait(Start({"rip", "--format", "wav", "--out", dir / "out", image}, {}, true));
    EXPECT_EQ(r.Code, 0) << r.Err;
    for (const char* t : {"Track01.wav", "Track02.wav", "Track03.wav"}) {
        EXPECT_TRUE(std::filesystem::exists(dir / ("out/" + std::string(t)))) << t;
    }
}

// Titles from cdplayer.ini that would leave the folder or cut the name, a title used
// twice, a title too long, and a folder in the way: each such track fails with its
// reason, the others are ripped, nothing is written outside the output folder.
TEST_F(VelmoraRip, BadNamesFailTheirTrackAndTheJobGoesOn) {
    const discgen::DiscSpec plan = discgen::simpleDisc(5, 7, 150);
    const std::string image = MakeDisc("names", plan);
    std::filesystem::create_directories(dir / "out/Folder.wav");
    WriteTitles(image, "0=../../escaped\n1=Same\n2=Same\n" +
                           std::string("3=../victim.conf\0x\n", 19) + "4=" + std::string(300, 'n') +
                           "\n5=Folder\n6=Last\n");
    std::ofstream(dir / "victim.conf") << "victim";
    const Result r = Run({"rip", "--no-lookup", "--format", "wav", "--out", dir / "out", image});
    EXPECT_EQ(r.Code, 1);
    EXPECT_THAT(r.Err, HasSubstr("Invalid file name: " + (dir / "out/../../escaped.wav")));
    EXPECT_THAT(r.Err, HasSubstr("Invalid file name: " + (dir / "out/../victim.conf\\x00x.wav")));
    // The names of the job are reserved before it starts: track 3 meets track 2's.
    EXPECT_THAT(r.Err, HasSubstr("Same: the same file name as track 2 of this rip; not ripped"));
    // A title too long for a file name is shortened, said once, and ripped.
    EXPECT_THAT(r.Err, HasSubstr("shortened to 255 bytes"));
    EXPECT_TRUE(std::filesystem::exists(dir / ("out/" + std::string(251, 'n') + ".wav")));
    EXPECT_THAT(r.Err,
                HasSubstr("Cannot create file " + (dir / "out/Folder.wav") + ": Is a directory"));
    EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 5) << r.Err;
    EXPECT_THAT(r.Out, HasSubstr("3 exact, 0 damaged, 4 failed"));
    EXPECT_FALSE(std::filesystem::exists(dir / "../escaped.wav"));
    const auto victim = ReadBytes(dir / "victim.conf");
    EXPECT_EQ(std::string(victim.begin(), victim.end()), "victim");
    // Track 2 keeps the name; track 3 did not replace it.
    const auto same = ReadBytes(dir / "out/Same.wav");
    const auto track2 = TrackBytes(plan, 1);
    ASSERT_EQ(same.size(), 44 + track2.size());
    EXPECT_TRUE(std::equal(same.begin() + 44, same.end(), track2.begin()));
    EXPECT_TRUE(std::filesystem::exists(dir / "out/Last.wav"));
}

TEST_F(VelmoraRip, OverwriteReplacesAndWithoutItTheFileStays) {
    const std::string image = MakeDisc("again", discgen::simpleDisc(3, 1, 300));
    std::filesystem::create_directories(dir / "out");
    std::ofstream(dir / "out/Track01.wav") << "old";
    Result r = Run({"rip", "--format", "wav", "--out", dir / "out", image});
    EXPECT_EQ(r.Code, 1);
    EXPECT_THAT(r.Err, HasSubstr("Track01: " + (dir / "out/Track01.wav") + " already exists"));
    EXPECT_EQ(ReadBytes(dir / "out/Track01.wav").size(), 3u);
    r = Run({"rip", "--format", "wav", "--overwrite", "--out", dir / "out", image});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(ReadBytes(dir / "out/Track01.wav").size(), 44u + 300u * SectorBytes);
}

// Damaged sectors: listed with their place in the track, and exit status 3.
TEST_F(VelmoraRip, DamageIsReportedWithExitThree) {
    const std::string image = MakeDisc("bad", discgen::simpleDisc(3, 2, 600));
    const Result r =
        Run({"rip", "--format", "wav", "--out", dir / "out", image}, {"CDRIP_FAULTS=bad:100-101"});
    EXPECT_EQ(r.Code, 3) << r.Err;
    // Sector 100 is 1 s and 25 sectors into track 1.
    EXPECT_THAT(r.Out, HasSubstr("Track01 -> " + (dir / "out/Track01.wav") + ": damaged"));
    EXPECT_THAT(r.Out, HasSubstr("  damaged: 2 sectors: 100-101 (0:01.25 to 0:01.26)\n"));
    EXPECT_THAT(r.Out, HasSubstr("Track02 -> " + (dir / "out/Track02.wav") + ": OK"));
    EXPECT_THAT(r.Out, HasSubstr("1 exact, 1 damaged, 0 failed"));
}

// A blank output folder in the settings is refused: it would mean the root folder.
TEST_F(VelmoraRip, BlankOutDirInTheSettingsIsRefused) {
    const std::string image = MakeDisc("blank", discgen::simpleDisc(3, 1, 150));
    std::ofstream(dir / "config/velmora-ripper.ini") << "[System]\nOutDir= \n";
    const Result r = Run({"rip", "--format", "wav", image});
    EXPECT_EQ(r.Code, 1);
    EXPECT_THAT(r.Err, HasSubstr("the output folder (OutDir in "));
    EXPECT_FALSE(std::filesystem::exists("/Track01.wav"));
}

// Settings the options dialog offers but the encoder cannot take: the nearest bit rate
// and a clamped quality are used, and said once.
TEST_F(VelmoraRip, UnencodableSettingsAreMendedAndSaidOnce) {
    const std::string image = MakeDisc("mend", discgen::simpleDisc(3, 2, 300));
    std::ofstream(dir / "config/velmora-ripper.ini")
        << "[System]\nOutDir=" << (dir / "out") << "\n[MP3]\nSampleRates=22050\nBitRates=320\n"
        << "EnableVBR=0\nQuality=7\n";
    const Result r = Run({"rip", "--no-lookup", image});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Err, "velmora-rip: settings: bit rate 320 kbit/s is not allowed at 22050 Hz; "
                     "using 160 kbit/s\n"
                     "velmora-rip: settings: quality 7 is out of range (0 to 3); using 3\n");
    const Decoded d = DecodeMp3(dir / "out/Track02.mp3");
    EXPECT_EQ(d.Rate, 22050);
}

// Control characters and terminal escapes in titles are printed escaped.
TEST_F(VelmoraRip, TitlesAreEscapedOnTheTerminal) {
    const std::string image = MakeDisc("esc", discgen::simpleDisc(3, 1, 150));
    WriteTitles(image, "0=Clear\x1b[2JScreen\n");
    Result r = Run({"tracks", image});
    EXPECT_THAT(r.Out, HasSubstr("Clear\\x1B[2JScreen"));
    EXPECT_EQ(r.Out.find('\x1b'), std::string::npos);
    r = Run({"rip", "--format", "wav", "--out", dir / "out", image});
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Out.find('\x1b'), std::string::npos);
    EXPECT_EQ(r.Err.find('\x1b'), std::string::npos);
    EXPECT_THAT(r.Err, HasSubstr("Clear\\x1B[2JScreen: Invalid file name: "));
}

// A real full disk (a 512 KiB tmpfs, where the machine lets us mount one): each track
// fails with the system's reason, the file that was there stays whole, and no partial
// file is left behind.
TEST_F(VelmoraRip, FullDiskKeepsThePreviousFile) {
    const std::string image = MakeDisc("full", discgen::simpleDisc(3, 2, 600));
    const std::string out = dir / "small";
    std::filesystem::create_directory(out);
    if (::mount("tmpfs", out.c_str(), "tmpfs", 0, "size=512k") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here";
    }
    std::ofstream(out + "/Track01.wav") << "previous good file";
    const Result r =
        Run({"rip", "--no-lookup", "--format", "wav", "--overwrite", "--out", out, image});
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(out)) {
        if (e.path().extension() != ".log") { // the job's rip log
            left.push_back(e.path().filename().string());
        }
    }
    const auto b = ReadBytes(out + "/Track01.wav");
    ::umount(out.c_str());
    EXPECT_EQ(r.Code, 1);
    EXPECT_THAT(
        r.Err, HasSubstr("Track01: Write error: " + out + "/Track01.wav: No space left on device"));
    EXPECT_EQ(std::string(b.begin(), b.end()), "previous good file");
    // Track 2 had no file before: its partial data keeps the name, nothing else is left.
    EXPECT_THAT(left, testing::UnorderedElementsAre("Track01.wav", "Track02.wav"));
}

namespace {

// Four audio tracks of 10, 10, 10 and 12 s and a data track, with CD-TEXT for the
// disc and tracks 1 and 2.
discgen::DiscSpec TitledDisc() {
    discgen::DiscSpec plan = discgen::simpleDisc(21, 4, 750, 300);
    plan.tracks[3].sectors = 900;
    plan.title = "Text Album";
    plan.performer = "Text Band";
    plan.trackTitles = {"Text One", "Text Two"};
    return plan;
}

// What MusicBrainz says of that disc: titles for all four tracks, lengths that fit.
std::string TitledDiscAnswer() {
    const discgen::Layout l = discgen::layoutOf(TitledDisc());
    std::vector<Metadata::TocTrack> tracks;
    for (std::size_t i = 0; i < l.starts.size(); ++i)
        tracks.push_back({l.starts[i], i < 4});
    const std::string id = Metadata::MusicBrainzDiscId(Metadata::MusicBrainzToc(tracks, l.leadout));
    return R"({"id":")" + id +
           R"(","releases":[{"id":"rel-1","title":"Mb Album","date":"2011-01-01",)"
           R"("artist-credit":[{"name":"Mb Band","joinphrase":""}],"media":[{"position":1,)"
           R"("discs":[{"id":")" +
           id +
           R"("}],"tracks":[{"title":"Mb One","length":10000},)"
           R"({"title":"Mb Two","length":10000},{"title":"Mb Three","length":10000},)"
           R"({"title":"Mb Föur","length":12000}]}]}]})";
}

} // namespace

TEST_F(VelmoraRip, TracksShowsWhereEachTitleCameFrom) {
    const std::string image = MakeDisc("titled", TitledDisc());
    const std::string key = DiscKey(image);
    ASSERT_FALSE(key.empty());
    std::ofstream(dir / "config/cdplayer.ini") << "[" << key << "]\n1=Ini Two\n2=Ini Three\n";
    LocalHttpServer server(LocalHttpServer::Mode::Answer, 200, TitledDiscAnswer());
    ::setenv("VELMORA_MUSICBRAINZ_URL", server.Url().c_str(), 1);
    const Result r = Run({"tracks", "--title", "3=Cli Three", "--album=Cli Album", image});
    ::unsetenv("VELMORA_MUSICBRAINZ_URL");
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    EXPECT_THAT(r.Out, HasSubstr("Artist: Text Band (CD-TEXT)\n"));
    EXPECT_THAT(r.Out, HasSubstr("Album: Cli Album (command line)\n"));
    EXPECT_THAT(r.Out, HasSubstr("MusicBrainz: Mb Band - Mb Album (release rel-1)\n"));
    EXPECT_THAT(r.Out, HasSubstr("01   Audio    0:10  CD-TEXT       Text One\n"));
    EXPECT_THAT(r.Out, HasSubstr("02   Audio    0:10  cdplayer.ini  Ini Two\n"));
    EXPECT_THAT(r.Out, HasSubstr("03   Audio    0:10  command line  Cli Three\n"));
    // Track 4 holds the data track's 150-sector pregap: 1050 sectors.
    EXPECT_THAT(r.Out, HasSubstr("04   Audio    0:12  MusicBrainz   Mb Föur\n"));
    EXPECT_THAT(r.Out, HasSubstr("05   Data     0:04  track number  Track05\n"));
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_THAT(requests[0], HasSubstr("?toc=1+4+"));
}

TEST_F(VelmoraRip, RipWritesTheId3v2TagFromTheLookup) {
    const std::string image = MakeDisc("tagged", TitledDisc());
    LocalHttpServer server(LocalHttpServer::Mode::Answer, 200, TitledDiscAnswer());
    ::setenv("VELMORA_MUSICBRAINZ_URL", server.Url().c_str(), 1);
    const Result r = Run({"rip", "--tracks", "1,4", "--out", dir / "out", image});
    ::unsetenv("VELMORA_MUSICBRAINZ_URL");
    ASSERT_EQ(r.Code, 0) << r.Err;
    const std::string four = dir / "out/Mb Föur.mp3";
    ASSERT_TRUE(std::filesystem::exists(four)) << r.Out;
    ASSERT_TRUE(std::filesystem::exists(dir / "out/Text One.mp3")) << r.Out;
    const nlohmann::json read = MutagenFrames(four);
    ASSERT_TRUE(read.is_object());
    const nlohmann::json& f = read["frames"];
    EXPECT_EQ(f["TIT2"][0], "Mb Föur");
    EXPECT_EQ(f["TPE1"][0], "Text Band"); // CD-TEXT's artist comes before MusicBrainz's
    EXPECT_EQ(f["TPE2"][0], "Text Band");
    EXPECT_EQ(f["TALB"][0], "Text Album");
    EXPECT_EQ(f["TRCK"][0], "4/4");
    EXPECT_EQ(f["TDRC"][0], "2011-01-01"); // the release's whole date, not its year alone
    EXPECT_EQ(f["TXXX:MusicBrainz Album Id"][0], "rel-1");
    EXPECT_EQ(f["TXXX:MusicBrainz Disc Id"][0].get<std::string>().size(), 28u);
    // The ID3v1 title stays last, in Windows-1252 (ö is 0xF6).
    const auto b = ReadBytes(four);
    EXPECT_EQ(std::string(b.end() - 128, b.end() - 128 + 10), "TAGMb F\xf6ur");
}

struct LookupOffRow {
    const char* name;
    const char* settings; // the settings file's text
    std::vector<std::string> args;
};

class VelmoraRipLookupOff : public VelmoraRip, public testing::WithParamInterface<LookupOffRow> {};

TEST_P(VelmoraRipLookupOff, AsksNoServer) {
    const std::string image = MakeDisc("off", TitledDisc());
    std::ofstream(dir / "config/velmora-ripper.ini") << GetParam().settings;
    LocalHttpServer server(LocalHttpServer::Mode::Answer, 200, TitledDiscAnswer());
    ::setenv("VELMORA_MUSICBRAINZ_URL", server.Url().c_str(), 1);
    std::vector<std::string> args = GetParam().args;
    args.push_back(image);
    const Result r = Run(args);
    ::unsetenv("VELMORA_MUSICBRAINZ_URL");
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_THAT(r.Out, HasSubstr("04   Audio    0:12  track number  Track04\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, VelmoraRipLookupOff,
    testing::Values(LookupOffRow{"flag", "[System]\nLookup=1\n", {"tracks", "--no-lookup"}},
                    LookupOffRow{"settings", "[System]\nLookup=0\n", {"tracks"}}),
    RowName);

TEST_F(VelmoraRip, ServerThatNeverAnswersLeavesTrackNames) {
    discgen::DiscSpec plan = discgen::simpleDisc(22, 1, 300);
    const std::string image = MakeDisc("hang", plan);
    LocalHttpServer server(LocalHttpServer::Mode::Hang, 0, "", 2, 40);
    ::setenv("VELMORA_MUSICBRAINZ_URL", server.Url().c_str(), 1);
    const auto start = std::chrono::steady_clock::now();
    const Result r = Run({"rip", "--out", dir / "out", image});
    ::unsetenv("VELMORA_MUSICBRAINZ_URL");
    // The look-up gives up after its 10 s; the server would hold it for 40.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    ASSERT_EQ(r.Code, 0) << r.Err;
    ExpectOneLine(r);
    // Whole, in the user's words, and saying where the titles came from instead.
    EXPECT_THAT(r.Err,
                HasSubstr("MusicBrainz did not answer within 10 s; titles from track numbers\n"));
    EXPECT_TRUE(std::filesystem::exists(dir / "out/Track01.mp3")) << r.Out;
}

TEST_F(VelmoraRip, CdTextTitlesNameTheFilesAndTags) {
    discgen::DiscSpec plan = discgen::simpleDisc(23, 2, 300);
    plan.title = "Études";
    plan.performer = "Zoë";
    plan.trackTitles = {"", "Café Noir"};
    const std::string image = MakeDisc("cdtext", plan);
    const Result r = Run({"rip", "--no-lookup", "--out", dir / "out", image});
    ASSERT_EQ(r.Code, 0) << r.Err;
    const std::string cafe = dir / "out/Café Noir.mp3";
    ASSERT_TRUE(std::filesystem::exists(cafe)) << r.Out;
    ASSERT_TRUE(std::filesystem::exists(dir / "out/Track01.mp3")) << r.Out;
    const nlohmann::json read = MutagenFrames(cafe);
    ASSERT_TRUE(read.is_object());
    EXPECT_EQ(read["frames"]["TIT2"][0], "Café Noir");
    EXPECT_EQ(read["frames"]["TALB"][0], "Études");
    EXPECT_EQ(read["frames"]["TPE1"][0], "Zoë");
    EXPECT_EQ(read["frames"]["TRCK"][0], "2/2");
    const auto b = ReadBytes(cafe);
    EXPECT_EQ(std::string(b.end() - 128, b.end() - 128 + 12), "TAGCaf\xe9 Noir"); // Windows-1252
}

struct JobsRow {
    const char* name;
    const char* settings; // the [MP3] section
    std::string jobs;
    bool folderTrack; // track 2's name is a folder: that track fails, the others go on
};

class VelmoraRipJobs : public VelmoraRip, public testing::WithParamInterface<JobsRow> {
protected:
    // Every .mp3 under `folder`, by name.
    static std::map<std::string, std::vector<uint8_t>> Mp3Files(const std::string& folder) {
        std::map<std::string, std::vector<uint8_t>> files;
        for (const auto& e : std::filesystem::recursive_directory_iterator(folder)) {
            if (e.is_regular_file() && e.path().extension() == ".mp3") {
                files[e.path().filename().string()] = ReadBytes(e.path().string());
            }
        }
        return files;
    }
};

// The parallel rip writes the files --jobs 1 writes, tags and VBR header included, and
// tells the same outcome.
TEST_P(VelmoraRipJobs, FilesAreTheSequentialRipsByteForByte) {
    const JobsRow& row = GetParam();
    discgen::DiscSpec plan = discgen::simpleDisc(31, 4, 700);
    plan.tracks[1].sectors = 1111;
    plan.tracks[3].sectors = 523;
    const std::string image = MakeDisc("jobs", plan);
    std::ofstream(dir / "config/velmora-ripper.ini") << "[MP3]\n" << row.settings;
    if (row.folderTrack) {
        std::filesystem::create_directories(dir / "one/Second.mp3");
        std::filesystem::create_directories(dir / "many/Second.mp3");
    }
    const std::vector<std::string> titles{"--artist", "Band",    "--album",     "Record",
                                          "--title",  "1=First", "--title",     "2=Second",
                                          "--title",  "3=Third", "--no-lookup", image};
    std::vector<std::string> one{"rip", "--jobs", "1", "--out", dir / "one"};
    std::vector<std::string> many{"rip", "--jobs", row.jobs, "--out", dir / "many"};
    one.insert(one.end(), titles.begin(), titles.end());
    many.insert(many.end(), titles.begin(), titles.end());
    const Result a = Run(one);
    const Result b = Run(many);
    EXPECT_EQ(a.Code, row.folderTrack ? 1 : 0) << a.Err;
    EXPECT_EQ(b.Code, a.Code) << b.Err;
    const auto filesA = Mp3Files(dir / "one");
    const auto filesB = Mp3Files(dir / "many");
    EXPECT_EQ(filesA.size(), row.folderTrack ? 3U : 4U);
    ASSERT_EQ(filesB.size(), filesA.size());
    for (const auto& [name, bytes] : filesA) {
        EXPECT_TRUE(filesB.count(name) != 0 && filesB.at(name) == bytes) << name;
    }
    const char* summary = row.folderTrack ? "3 exact, 0 damaged, 1 failed" : "4 exact, 0 damaged";
    EXPECT_THAT(a.Out, HasSubstr(summary));
    EXPECT_THAT(b.Out, HasSubstr(summary));
    if (row.folderTrack) {
        EXPECT_THAT(b.Err, HasSubstr("Second: Cannot create file " + (dir / "many/Second.mp3") +
                                     ": Is a directory"));
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, VelmoraRipJobs,
                         testing::Values(JobsRow{"vbr_default_jobs", "", "2", false},
                                         JobsRow{"cbr_three_jobs", "EnableVBR=0\nBitRates=192\n",
                                                 "3", false},
                                         JobsRow{"name_is_a_folder", "", "2", true}),
                         RowName);

// A failed track and a damaged one in one job: the failure decides the exit status (1,
// not 3), in the summary, the report and both ways of ripping.
struct MixedRow {
    const char* name;
    std::vector<std::string> args;
    const char* ext;
};

class VelmoraRipMixed : public VelmoraRip, public testing::WithParamInterface<MixedRow> {};

TEST_P(VelmoraRipMixed, FailureOutranksDamage) {
    const MixedRow& row = GetParam();
    const std::string image = MakeDisc("mixed", discgen::simpleDisc(3, 3, 600));
    const std::string ext = row.ext;
    std::filesystem::create_directories(dir / ("out/Track02" + ext));
    std::vector<std::string> args{"rip",       "--no-lookup", "--no-accuraterip", "--out",
                                  dir / "out", "--report",    dir / "report.json"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    args.push_back(image);
    const Result r = Run(args, {"CDRIP_FAULTS=bad:100-101"});
    EXPECT_EQ(r.Code, 1) << r.Err;
    EXPECT_THAT(r.Out, HasSubstr("Track01 -> " + (dir / ("out/Track01" + ext)) + ": damaged"));
    EXPECT_THAT(r.Out, HasSubstr("Track03 -> " + (dir / ("out/Track03" + ext)) + ": OK"));
    EXPECT_THAT(r.Out, HasSubstr("\n1 exact, 1 damaged, 1 failed\n"));
    EXPECT_THAT(r.Err, HasSubstr("Track02: Cannot create file " + (dir / ("out/Track02" + ext)) +
                                 ": Is a directory"));
    std::ifstream in(dir / "report.json");
    const nlohmann::json j = nlohmann::json::parse(in, nullptr, false);
    ASSERT_TRUE(j.is_object());
    EXPECT_EQ(j["exit"], 1);
    ASSERT_EQ(j["tracks"].size(), 3u);
    EXPECT_EQ(j["tracks"][0]["damaged"], nlohmann::json::parse("[[100,101]]"));
    EXPECT_EQ(j["tracks"][1]["number"], 2);
    EXPECT_EQ(j["tracks"][1]["sectors"], 600);
    EXPECT_TRUE(j["tracks"][1]["crc32"].is_null()); // nothing of it was written
    EXPECT_EQ(j["tracks"][1]["damaged"], nlohmann::json::array());
    EXPECT_EQ(j["tracks"][2]["damaged"], nlohmann::json::array());
    EXPECT_FALSE(j["tracks"][2]["crc32"].is_null());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, VelmoraRipMixed,
    testing::Values(MixedRow{"wav", {"--format", "wav"}, ".wav"},
                    MixedRow{"mp3_one_job", {"--format", "mp3", "--jobs", "1"}, ".mp3"},
                    MixedRow{"mp3_parallel", {"--format", "mp3", "--jobs", "2"}, ".mp3"}),
    RowName);

// A signal stops the reading and the encoders of a parallel rip: no track ends whole
// after it (the first track's encoder has done about a second of its minute), each name
// keeps its previous file or, where there was none, holds the partial track or nothing,
// and no temporary file is left.
class VelmoraRipParallelStop : public VelmoraRip, public testing::WithParamInterface<bool> {};

TEST_P(VelmoraRipParallelStop, SignalLeavesNoTrackWholeAfterTheStop) {
    const bool previousFiles = GetParam();
    const std::string image = MakeDisc("stop", discgen::simpleDisc(9, 3, 60 * 75));
    std::filesystem::create_directories(dir / "out");
    for (int n = 1; n <= 3 && previousFiles; ++n) {
        std::ofstream(dir / ("out/Track0" + std::to_string(n) + ".mp3")) << "previous";
    }
    const pid_t pid =
        Start({"rip", "--no-lookup", "--jobs", "2", "--overwrite", "--out", dir / "out", image});
    ASSERT_GT(pid, 0);
    EXPECT_NE(WaitForPartial(dir / "out/Track01.mp3", 1 << 14), "");
    ASSERT_EQ(::kill(pid, SIGINT), 0);
    const Result r = Wait(pid);
    EXPECT_EQ(r.Code, 130) << r.Err;
    EXPECT_THAT(r.Err, HasSubstr("interrupted; "));
    EXPECT_THAT(r.Out, Not(HasSubstr(": OK")));
    EXPECT_THAT(r.Out, HasSubstr("\n0 exact, 0 damaged, 0 failed\n"));
    int previous = 0;
    int partial = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir / "out")) {
        const std::string name = e.path().filename().string();
        EXPECT_EQ(name.find(".partial-"), std::string::npos) << name;
        if (e.path().extension() != ".mp3") {
            continue; // the log
        }
        const auto b = ReadBytes(e.path().string());
        if (std::string(b.begin(), b.end()) == "previous") {
            ++previous;
        } else {
            ++partial;
            // Below 60 KB it cannot hold the track's minute at any bit rate (8 kbit/s at
            // the least), and may hold no whole frame when its encoder had just begun.
            if (b.size() >= 60000) {
                EXPECT_LT(DecodeMp3(e.path().string()).Frames(), 60U * 75U * 588U) << name;
            }
        }
    }
    EXPECT_EQ(previous, previousFiles ? 3 : 0);
    EXPECT_EQ(partial == 0, previousFiles);
    EXPECT_TRUE(previousFiles || std::filesystem::exists(dir / "out/Track01.mp3"));
}

INSTANTIATE_TEST_SUITE_P(Rows, VelmoraRipParallelStop, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& row) {
                             return row.param ? "previous_files" : "no_previous_files";
                         });
namespace {

// MusicBrainz's answer for TitledDisc() with three releases of it (US, GB, Europe), as
// the web service documents them: artist credits of three artists with join phrases,
// a release group, label information, ISRCs; the GB one has only a year, the European
// one no date.
std::string ThreeReleaseAnswer() {
    using nlohmann::json;
    const discgen::Layout l = discgen::layoutOf(TitledDisc());
    std::vector<Metadata::TocTrack> tracks;
    for (std::size_t i = 0; i < l.starts.size(); ++i)
        tracks.push_back({l.starts[i], i < 4});
    const std::string id = Metadata::MusicBrainzDiscId(Metadata::MusicBrainzToc(tracks, l.leadout));
    auto artist = [](const std::string& n, const std::string& sort, const std::string& mbid,
                     const std::string& join) {
        return json{{"name", n},
                    {"joinphrase", join},
                    {"artist", {{"id", mbid}, {"name", n}, {"sort-name", sort}}}};
    };
    const json trio = {artist("Isobel Campbell", "Campbell, Isobel", "art-1", " & "),
                       artist("Mark Lanegan", "Lanegan, Mark", "art-2", " feat. "),
                       artist("Guest", "Guest", "art-3", "")};
    auto release = [&](const std::string& mbid, const std::string& country, json date,
                       const std::string& barcode) {
        json media = json::array();
        json list = json::array();
        const int64_t lengths[] = {10000, 10000, 10000, 12000};
        for (int n = 1; n <= 4; ++n) {
            const std::string s = std::to_string(n);
            list.push_back({{"id", mbid + "-t" + s},
                            {"position", n},
                            {"number", s},
                            {"title", "Mb " + s},
                            {"length", lengths[n - 1]},
                            {"artist-credit", trio},
                            {"recording",
                             {{"id", "rec-" + s},
                              {"title", "Mb " + s},
                              {"length", lengths[n - 1]},
                              {"isrcs", json::array({"USVL1110000" + s})}}}});
        }
        media.push_back({{"position", 1},
                         {"format", "CD"},
                         {"discs", json::array({{{"id", id}}})},
                         {"tracks", list}});
        json r = {{"id", mbid},
                  {"title", "Mb Album"},
                  {"status", "Official"},
                  {"country", country},
                  {"barcode", barcode},
                  {"asin", nullptr},
                  {"artist-credit", trio},
                  {"release-group", {{"id", "group-1"}, {"primary-type", "Album"}}},
                  {"label-info", json::array({{{"catalog-number", "CAT-" + country}}})},
                  {"media", media}};
        if (!date.is_null())
            r["date"] = date;
        return r;
    };
    return json{
        {"id", id},
        {"releases",
         {release("rel-us", "US", "2011-01-01", "075678164620"),
          release("rel-gb", "GB", "2011", "5051083000013"), release("rel-xe", "XE", nullptr, "")}}}
        .dump();
}

// A 1x1 PNG image, 70 bytes: signature (8), IHDR (25), IDAT (25), IEND (12).
const std::string CoverPng("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x01\0\0\0\x01\x08\x06\0\0\0"
                           "\x1f\x15\xc4\x89\0\0\0\x0dIDATx\xda\x63\x64\xf8\xcf\x50\x0f\0\x03"
                           "\x86\x01\x80\x5a\x34\x7d\x6b\0\0\0\0IEND\xae\x42\x60\x82",
                           70);

class VelmoraRipReleases : public VelmoraRip {
protected:
    void SetUp() override {
        VelmoraRip::SetUp();
        ::unsetenv("LC_ALL");
        ::unsetenv("LC_MESSAGES");
        ::setenv("LANG", "en_GB.UTF-8", 1);
    }
    void TearDown() override {
        ::unsetenv("VELMORA_MUSICBRAINZ_URL");
        ::unsetenv("VELMORA_COVERART_URL");
        ::unsetenv("LANG");
        VelmoraRip::TearDown();
    }
    void Serve(const LocalHttpServer& mb, const LocalHttpServer& covers) {
        ::setenv("VELMORA_MUSICBRAINZ_URL", mb.Url().c_str(), 1);
        ::setenv("VELMORA_COVERART_URL", covers.Url().c_str(), 1);
    }
};

TEST_F(VelmoraRipReleases, TracksSaysWhichReleaseWasTakenAndListsTheOthers) {
    const std::string image = MakeDisc("releases", TitledDisc());
    LocalHttpServer mb(LocalHttpServer::Mode::Answer, 200, ThreeReleaseAnswer());
    LocalHttpServer covers(LocalHttpServer::Mode::Answer, 200, CoverPng);
    Serve(mb, covers);
    const Result r = Run({"tracks", image});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    const std::string trio = "Isobel Campbell & Mark Lanegan feat. Guest";
    EXPECT_THAT(r.Out, HasSubstr("MusicBrainz: " + trio +
                                 " - Mb Album (release rel-gb)\n"
                                 "Release 2 of 3 (your country (GB)); --release N picks another\n"
                                 "  1  Mb Album (" +
                                 trio +
                                 "); 2011-01-01; US; barcode "
                                 "075678164620; catalog number CAT-US; rel-us\n"
                                 "* 2  Mb Album (" +
                                 trio +
                                 "); 2011; GB; barcode 5051083000013; "
                                 "catalog number CAT-GB; rel-gb\n"
                                 "  3  Mb Album (" +
                                 trio +
                                 "); no date; XE; catalog number "
                                 "CAT-XE; rel-xe\n"));
    EXPECT_TRUE(covers.Requests().empty()) << "tracks fetches no cover";
}

TEST_F(VelmoraRipReleases, ChosenReleaseTagsEveryFieldAndEmbedsTheCover) {
    const std::string image = MakeDisc("chosen", TitledDisc());
    // Every frame is checked below: the gain frames (tested on their own) are left out.
    std::ofstream(dir / "config/velmora-ripper.ini") << "[System]\nReplayGain=0\n";
    LocalHttpServer mb(LocalHttpServer::Mode::Answer, 200, ThreeReleaseAnswer());
    LocalHttpServer covers(LocalHttpServer::Mode::Answer, 200, CoverPng);
    Serve(mb, covers);
    const Result r = Run({"rip", "--no-accuraterip", "--tracks", "4", "--release", "1", "--out",
                          dir / "out", image});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    const auto requests = covers.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].substr(0, requests[0].find('\t')), "/release/rel-us/front-500");
    // Asked as the JPEG front image, the archive sent a PNG: named by what it is.
    EXPECT_EQ(ReadText(dir / "out/cover.png"), CoverPng);
    EXPECT_FALSE(std::filesystem::exists(dir / "out/cover.jpg"));

    const std::string file = dir / "out/Mb 4.mp3";
    const nlohmann::json read = MutagenTags(file);
    ASSERT_TRUE(read.is_object());
    auto text = [](std::vector<std::string> values) {
        return nlohmann::json{{"text", values}, {"encoding", 3}};
    };
    std::string hex;
    for (unsigned char c : CoverPng) {
        const char digits[] = "0123456789abcdef";
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    // CD-TEXT's album and album artist come before MusicBrainz's: no sort name or IDs
    // for an album artist that is not MusicBrainz's credit; the track's own artist is.
    const nlohmann::json expected = {
        {"TIT2", text({"Mb 4"})},
        {"TPE1", text({"Isobel Campbell & Mark Lanegan feat. Guest"})},
        {"TSOP", text({"Campbell, Isobel & Lanegan, Mark feat. Guest"})},
        {"TXXX:MusicBrainz Artist Id", text({"art-1", "art-2", "art-3"})},
        {"TALB", text({"Text Album"})},
        {"TPE2", text({"Text Band"})},
        {"TRCK", text({"4/4"})},
        {"TPOS", text({"1/1"})},
        {"TDRC", text({"2011-01-01"})},
        {"TSRC", text({"USVL11100004"})},
        {"UFID:http://musicbrainz.org", {{"owner", "http://musicbrainz.org"}, {"data", "rec-4"}}},
        {"TXXX:MusicBrainz Album Id", text({"rel-us"})},
        {"TXXX:MusicBrainz Disc Id", read["frames"]["TXXX:MusicBrainz Disc Id"]},
        {"TXXX:MusicBrainz Release Track Id", text({"rel-us-t4"})},
        {"TXXX:MusicBrainz Release Group Id", text({"group-1"})},
        {"TXXX:MusicBrainz Album Type", text({"album"})},
        {"TXXX:MusicBrainz Album Status", text({"official"})},
        {"TXXX:MusicBrainz Album Release Country", text({"US"})},
        {"TXXX:BARCODE", text({"075678164620"})},
        {"TXXX:CATALOGNUMBER", text({"CAT-US"})},
        {"APIC:",
         {{"mime", "image/png"}, {"type", 3}, {"desc", ""}, {"encoding", 3}, {"data", hex}}}};
    EXPECT_EQ(read["frames"], expected) << read.dump(1);
    EXPECT_EQ(read["frames"]["TXXX:MusicBrainz Disc Id"]["text"][0].get<std::string>().size(), 28u);
    // The ID3v1 title stays last.
    const auto b = ReadBytes(file);
    EXPECT_EQ(std::string(b.end() - 128, b.end() - 128 + 7), "TAGMb 4");
}

TEST_F(VelmoraRipReleases, MusicBrainzArtistGetsSortNamesAndOneIdPerArtist) {
    // Without CD-TEXT, the artists are MusicBrainz's credit.
    discgen::DiscSpec plan = TitledDisc();
    plan.title.clear();
    plan.performer.clear();
    plan.trackTitles.clear();
    const std::string image = MakeDisc("plain", plan);
    LocalHttpServer mb(LocalHttpServer::Mode::Answer, 200, ThreeReleaseAnswer());
    LocalHttpServer covers(LocalHttpServer::Mode::Answer, 404, "not found");
    Serve(mb, covers);
    const Result r = Run(
        {"rip", "--no-accuraterip", "--tracks", "1,2", "--jobs", "2", "--out", dir / "out", image});
    ASSERT_EQ(r.Code, 0) << r.Err;
    // A missing cover is normal: said once for the job, not once per track.
    EXPECT_EQ(r.Err, "velmora-rip: the Cover Art Archive has no front cover for this release\n");
    EXPECT_EQ(covers.Requests().size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(dir / "out/cover.jpg"));
    EXPECT_FALSE(std::filesystem::exists(dir / "out/cover.png"));
    // ... and once in the log.
    const std::string log = ReadText(dir / "out/Mb Album.log");
    EXPECT_THAT(log, HasSubstr("Cover art: the Cover Art Archive has no front cover for this "
                               "release\n"));
    EXPECT_EQ(log.find("Cover art"), log.rfind("Cover art"));
    const nlohmann::json read = MutagenTags(dir / "out/Mb 1.mp3");
    ASSERT_TRUE(read.is_object());
    const nlohmann::json& f = read["frames"];
    EXPECT_EQ(f["TPE1"]["text"], nlohmann::json({"Isobel Campbell & Mark Lanegan feat. Guest"}));
    EXPECT_EQ(f["TSOP"]["text"], nlohmann::json({"Campbell, Isobel & Lanegan, Mark feat. Guest"}));
    EXPECT_EQ(f["TSO2"]["text"], nlohmann::json({"Campbell, Isobel & Lanegan, Mark feat. Guest"}));
    EXPECT_EQ(f["TXXX:MusicBrainz Artist Id"]["text"], nlohmann::json({"art-1", "art-2", "art-3"}));
    EXPECT_EQ(f["TXXX:MusicBrainz Album Artist Id"]["text"],
              nlohmann::json({"art-1", "art-2", "art-3"}));
    EXPECT_EQ(f["TDRC"]["text"], nlohmann::json({"2011"})) << "the GB release: only a year";
    EXPECT_FALSE(f.contains("APIC:"));
}

struct VorbisReleaseRow {
    const char* name;
    const char* format;
};

class VelmoraRipVorbisReleases : public VelmoraRipReleases,
                                 public testing::WithParamInterface<VorbisReleaseRow> {};

// FLAC and Opus carry every field the MP3 tag does, as the comments taggers write, and the
// cover as the front cover picture, read back by mutagen after the album's gain was added
// when the job ended; the files still decode.
TEST_P(VelmoraRipVorbisReleases, EveryFieldAndTheCoverAsComments) {
    const VorbisReleaseRow& row = GetParam();
    discgen::DiscSpec plan = TitledDisc();
    plan.title.clear();
    plan.performer.clear();
    plan.trackTitles.clear();
    const std::string image = MakeDisc("vorbis", plan);
    LocalHttpServer mb(LocalHttpServer::Mode::Answer, 200, ThreeReleaseAnswer());
    LocalHttpServer covers(LocalHttpServer::Mode::Answer, 200, CoverPng);
    Serve(mb, covers);
    const Result r = Run({"rip", "--no-accuraterip", "--format", row.format, "--tracks", "4",
                          "--release", "1", "--out", dir / "out", image});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    EXPECT_EQ(ReadText(dir / "out/cover.png"), CoverPng);
    const std::string file = dir / ("out/Mb 4." + std::string(row.format));
    const nlohmann::json m = MutagenVorbis(file);
    ASSERT_TRUE(m.is_object());
    std::vector<std::pair<std::string, std::string>> tags;
    std::vector<std::string> gains;
    for (const auto& pair : m["tags"]) {
        const std::string name = pair[0];
        if (name.rfind("REPLAYGAIN_", 0) == 0 || name.rfind("R128_", 0) == 0) {
            gains.push_back(name);
        } else if (name != "METADATA_BLOCK_PICTURE") { // Opus's picture, read below
            tags.emplace_back(name, pair[1]);
        }
    }
    ASSERT_GT(tags.size(), 22u);
    const std::string discId = tags[22].second;
    EXPECT_EQ(discId.size(), 28u);
    const std::string trio = "Isobel Campbell & Mark Lanegan feat. Guest";
    const std::string sort = "Campbell, Isobel & Lanegan, Mark feat. Guest";
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"TITLE", "Mb 4"},
        {"ARTIST", trio},
        {"ARTISTSORT", sort},
        {"ALBUM", "Mb Album"},
        {"ALBUMARTIST", trio},
        {"ALBUMARTISTSORT", sort},
        {"DATE", "2011-01-01"},
        {"TRACKNUMBER", "4"},
        {"TRACKTOTAL", "4"},
        {"DISCNUMBER", "1"},
        {"DISCTOTAL", "1"},
        {"ISRC", "USVL11100004"},
        {"MUSICBRAINZ_TRACKID", "rec-4"},
        {"MUSICBRAINZ_RELEASETRACKID", "rel-us-t4"},
        {"MUSICBRAINZ_ARTISTID", "art-1"},
        {"MUSICBRAINZ_ARTISTID", "art-2"},
        {"MUSICBRAINZ_ARTISTID", "art-3"},
        {"MUSICBRAINZ_ALBUMARTISTID", "art-1"},
        {"MUSICBRAINZ_ALBUMARTISTID", "art-2"},
        {"MUSICBRAINZ_ALBUMARTISTID", "art-3"},
        {"MUSICBRAINZ_ALBUMID", "rel-us"},
        {"MUSICBRAINZ_RELEASEGROUPID", "group-1"},
        {"MUSICBRAINZ_DISCID", discId},
        {"RELEASETYPE", "album"},
        {"RELEASESTATUS", "official"},
        {"RELEASECOUNTRY", "US"},
        {"BARCODE", "075678164620"},
        {"CATALOGNUMBER", "CAT-US"}};
    EXPECT_EQ(tags, expected);
    const bool flac = std::string(row.format) == "flac";
    const std::vector<std::string> flacGains = {"REPLAYGAIN_TRACK_GAIN", "REPLAYGAIN_TRACK_PEAK",
                                                "REPLAYGAIN_ALBUM_GAIN", "REPLAYGAIN_ALBUM_PEAK"};
    const std::vector<std::string> opusGains = {"R128_TRACK_GAIN", "R128_ALBUM_GAIN"};
    EXPECT_EQ(gains, flac ? flacGains : opusGains);
    // The 1x1 RGBA PNG: 8 bits of four channels.
    const nlohmann::json pictures = {{{"type", 3},
                                      {"mime", "image/png"},
                                      {"desc", ""},
                                      {"width", 1},
                                      {"height", 1},
                                      {"depth", 32},
                                      {"size", CoverPng.size()}}};
    EXPECT_EQ(m["pictures"], pictures);
    const CommandResult check = flac ? RunCommand("flac --test --silent '" + file + "'")
                                     : RunCommand("opusdec --quiet '" + file + "' '" +
                                                  std::string(dir / "out/decoded.wav") + "'");
    EXPECT_EQ(check.Status, 0) << check.Output;
}

INSTANTIATE_TEST_SUITE_P(Rows, VelmoraRipVorbisReleases,
                         testing::Values(VorbisReleaseRow{"flac", "flac"},
                                         VorbisReleaseRow{"opus", "opus"}),
                         RowName);

struct CoverOptionRow {
    const char* name;
    std::vector<std::string> options;
    const char* settings; // the settings file's text
    bool file, embedded;
    std::size_t requests;
};

class VelmoraRipCoverOptions : public VelmoraRipReleases,
                               public testing::WithParamInterface<CoverOptionRow> {};

TEST_P(VelmoraRipCoverOptions, TurnTheCoverOffOrKeepOnlyTheFile) {
    const CoverOptionRow& row = GetParam();
    const std::string image = MakeDisc("options", TitledDisc());
    std::ofstream(dir / "config/velmora-ripper.ini") << row.settings;
    LocalHttpServer mb(LocalHttpServer::Mode::Answer, 200, ThreeReleaseAnswer());
    LocalHttpServer covers(LocalHttpServer::Mode::Answer, 200, CoverPng);
    Serve(mb, covers);
    std::vector<std::string> args = {"rip",   "--no-accuraterip", "--tracks", "4",
                                     "--out", dir / "out"};
    args.insert(args.end(), row.options.begin(), row.options.end());
    args.push_back(image);
    const Result r = Run(args);
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(covers.Requests().size(), row.requests);
    EXPECT_EQ(std::filesystem::exists(dir / "out/cover.png"), row.file);
    const nlohmann::json read = MutagenTags(dir / "out/Mb 4.mp3");
    ASSERT_TRUE(read.is_object());
    EXPECT_EQ(read["frames"].contains("APIC:"), row.embedded);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, VelmoraRipCoverOptions,
    testing::Values(
        CoverOptionRow{"Default", {}, "", true, true, 1},
        CoverOptionRow{"NoCoverOption", {"--no-cover"}, "", false, false, 0},
        CoverOptionRow{"CoverArtOffSetting", {}, "[System]\nCoverArt=0\n", false, false, 0},
        CoverOptionRow{"FileOnlyOption", {"--cover-file-only"}, "", true, false, 1},
        CoverOptionRow{"EmbedOffSetting", {}, "[System]\nEmbedCover=0\n", true, false, 1}),
    RowName);

TEST_F(VelmoraRipReleases, ReleaseNotListedIsABadArgument) {
    const std::string image = MakeDisc("notlisted", TitledDisc());
    LocalHttpServer mb(LocalHttpServer::Mode::Answer, 200, ThreeReleaseAnswer());
    LocalHttpServer covers(LocalHttpServer::Mode::Answer, 200, CoverPng);
    Serve(mb, covers);
    const Result r = Run({"rip", "--release", "4", "--out", dir / "out", image});
    EXPECT_EQ(r.Code, 2);
    EXPECT_THAT(r.Err, HasSubstr("--release: release 4 is not one of the 3 MusicBrainz lists "
                                 "for this disc"));
    EXPECT_FALSE(std::filesystem::exists(dir / "out/Mb 1.mp3"));
    EXPECT_TRUE(covers.Requests().empty());
}

TEST_F(VelmoraRipReleases, DiscsMcnPicksTheReleaseAndItsIsrcWins) {
    const std::string image = MakeDisc("coded", TitledDisc());
    // The cue sheet gets the disc's bar code and track 4's ISRC, as a burner writes them.
    std::string cue = ReadText(image);
    const std::size_t at = cue.find("TRACK 04 AUDIO");
    ASSERT_NE(at, std::string::npos) << cue;
    cue.insert(cue.find('\n', at) + 1, "    ISRC DEXX12300004\n");
    std::ofstream(image, std::ios::binary) << "CATALOG 5051083000013\n" << cue;
    ::setenv("LANG", "en_US.UTF-8", 1); // the country alone would take the US release
    LocalHttpServer mb(LocalHttpServer::Mode::Answer, 200, ThreeReleaseAnswer(), 2);
    LocalHttpServer covers(LocalHttpServer::Mode::Answer, 404, "");
    Serve(mb, covers);
    const Result listed = Run({"tracks", image});
    ASSERT_EQ(listed.Code, 0) << listed.Err;
    EXPECT_THAT(listed.Out, HasSubstr("Release 2 of 3 (the disc's MCN is its barcode); "
                                      "--release N picks another\n"));
    const Result r =
        Run({"rip", "--no-accuraterip", "--tracks", "3,4", "--out", dir / "out", image});
    ASSERT_EQ(r.Code, 0) << r.Err;
    const nlohmann::json three = MutagenTags(dir / "out/Mb 3.mp3");
    const nlohmann::json four = MutagenTags(dir / "out/Mb 4.mp3");
    ASSERT_TRUE(three.is_object() && four.is_object());
    EXPECT_EQ(four["frames"]["TSRC"]["text"], nlohmann::json({"DEXX12300004"})) << "the disc's";
    EXPECT_EQ(three["frames"]["TSRC"]["text"], nlohmann::json({"USVL11100003"}))
        << "MusicBrainz's where the disc has none";
    EXPECT_EQ(four["frames"]["TXXX:MusicBrainz Album Id"]["text"], nlohmann::json({"rel-gb"}));
    EXPECT_EQ(four["frames"]["TXXX:BARCODE"]["text"], nlohmann::json({"5051083000013"}));
}

} // namespace

// ---- FLAC and Opus through the job

struct FormatRow {
    const char* name;
    const char* format;
    const char* settings; // the settings file
    bool gains;
};

class VelmoraRipFormats : public VelmoraRip, public testing::WithParamInterface<FormatRow> {};

// Every track to FLAC or Opus, read as one job with --jobs 1 and --jobs 2: the files are
// byte for byte the same; FLAC decodes to the image's PCM with the CRC32 the rip reports
// and STREAMINFO's MD5; Opus decodes to the track's length at 48 kHz; mutagen reads back
// every comment, the track's gain and the album's (written when the job ended).
TEST_P(VelmoraRipFormats, FilesProveTheirAudioAndCarryTheirTags) {
    const FormatRow& row = GetParam();
    const discgen::DiscSpec plan = discgen::simpleDisc(12, 3, 600);
    const std::string image = MakeDisc("fmt", plan);
    std::ofstream(dir / "config/velmora-ripper.ini") << row.settings;
    const std::vector<std::string> common{
        "rip",     "--format", row.format, "--artist", "Band",        "--album",         "Récord",
        "--title", "1=First",  "--title",  "2=Zwei",   "--no-lookup", "--no-accuraterip"};
    std::vector<std::string> one = common, two = common;
    one.insert(one.end(),
               {"--jobs", "1", "--out", dir / "one", "--report", dir / "one.json", image});
    two.insert(two.end(),
               {"--jobs", "2", "--out", dir / "two", "--report", dir / "two.json", image});
    const Result a = Run(one);
    ASSERT_EQ(a.Code, 0) << a.Err << a.Out;
    const Result b = Run(two);
    ASSERT_EQ(b.Code, 0) << b.Err << b.Out;
    const std::string ext = std::string(".") + row.format;
    const std::vector<std::string> names{"First", "Zwei", "Track03"};
    const auto all = discgen::imageBytes(plan);
    const discgen::Layout layout = discgen::layoutOf(plan);
    const nlohmann::json report = nlohmann::json::parse(ReadText(dir / "one.json"));
    for (std::size_t t = 0; t < names.size(); ++t) {
        SCOPED_TRACE(names[t]);
        const std::string file = dir / ("one/" + names[t] + ext);
        ASSERT_TRUE(std::filesystem::exists(file)) << a.Out;
        EXPECT_EQ(ReadBytes(file), ReadBytes(dir / ("two/" + names[t] + ext)));
        const auto from = static_cast<std::size_t>(layout.starts[t]) * SectorBytes;
        const auto to = from + static_cast<std::size_t>(plan.tracks[t].sectors) * SectorBytes;
        const std::vector<uint8_t> pcm(all.begin() + static_cast<long>(from),
                                       all.begin() + static_cast<long>(to));
        if (std::string(row.format) == "flac") {
            const FlacDecoded d = DecodeFlac(file);
            ASSERT_TRUE(d.Ok);
            EXPECT_EQ(d.Pcm, pcm);
            char crc[16];
            std::snprintf(
                crc, sizeof crc, "%08x",
                static_cast<unsigned>(::crc32(0, d.Pcm.data(), static_cast<uInt>(d.Pcm.size()))));
            EXPECT_EQ(report["tracks"][t]["crc32"], crc);
            TempFolder md5;
            EXPECT_EQ(std::vector<uint8_t>(d.Info.md5sum, d.Info.md5sum + 16), Md5Of(md5, d.Pcm));
            EXPECT_EQ(d.Info.total_samples, pcm.size() / 4);
            EXPECT_EQ(RunCommand("flac --test --silent '" + file + "'").Status, 0);
        } else {
            int error = 0;
            OggOpusFile* of = op_open_file(file.c_str(), &error);
            ASSERT_NE(of, nullptr);
            // 588 samples a sector at 44100 Hz are 640 at 48000 Hz.
            EXPECT_EQ(op_pcm_total(of, -1),
                      static_cast<ogg_int64_t>((to - from) / SectorBytes * 640));
            EXPECT_EQ(op_head(of, -1)->output_gain, 0);
            op_free(of);
        }
        const nlohmann::json m = MutagenVorbis(file);
        std::map<std::string, std::string> tags;
        for (const auto& pair : m["tags"]) {
            tags[pair[0]] = pair[1];
        }
        EXPECT_EQ(tags["TITLE"], names[t]);
        EXPECT_EQ(tags["ARTIST"], "Band");
        EXPECT_EQ(tags["ALBUM"], "Récord");
        EXPECT_EQ(tags["TRACKNUMBER"], std::to_string(t + 1));
        const bool flac = std::string(row.format) == "flac";
        EXPECT_EQ(tags.count("REPLAYGAIN_TRACK_GAIN"), row.gains && flac ? 1u : 0u);
        EXPECT_EQ(tags.count("REPLAYGAIN_TRACK_PEAK"), row.gains && flac ? 1u : 0u);
        EXPECT_EQ(tags.count("REPLAYGAIN_ALBUM_GAIN"), row.gains && flac ? 1u : 0u);
        EXPECT_EQ(tags.count("REPLAYGAIN_ALBUM_PEAK"), row.gains && flac ? 1u : 0u);
        EXPECT_EQ(tags.count("R128_TRACK_GAIN"), row.gains && !flac ? 1u : 0u);
        EXPECT_EQ(tags.count("R128_ALBUM_GAIN"), row.gains && !flac ? 1u : 0u);
        EXPECT_TRUE(m["pictures"].empty());
    }
    // No temporary file is left beside them, from the tracks or the album's tag update.
    for (const auto& e : std::filesystem::directory_iterator(dir / "one")) {
        EXPECT_EQ(e.path().filename().string().find(".partial-"), std::string::npos) << e.path();
    }
    const std::string log = ReadText(dir / "one/Récord.log");
    EXPECT_THAT(log, HasSubstr(row.gains ? "ReplayGain album gain: " : "ReplayGain: off"));
    if (row.gains) {
        EXPECT_THAT(log, HasSubstr("written into 3 of 3 files when the job ended"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, VelmoraRipFormats,
    testing::Values(FormatRow{"flac", "flac", "", true},
                    FormatRow{"flac_level_0_no_gain", "flac",
                              "[System]\nReplayGain=0\n[FLAC]\nCompression=0\n", false},
                    FormatRow{"opus", "opus", "", true},
                    FormatRow{"opus_96_no_gain", "opus",
                              "[System]\nReplayGain=0\n[Opus]\nBitrate=96\n", false}),
    RowName);
