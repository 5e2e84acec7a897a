// The velmora-rip program itself, run on generated disc images.

#include "Mp3Decode.h"
#include "TestDir.h"

#include "discgen.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

using testing::HasSubstr;

namespace {

constexpr int SectorBytes = 2352;

struct Result {
    int Code = -1;
    std::string Out;
    std::string Err;
};

std::string ReadText(const std::string& path) {
    const auto b = ReadBytes(path);
    return {b.begin(), b.end()};
}

class VelmoraRip : public testing::Test {
protected:
    VelmoraRip() {
        // The program lies in VELMORA_TEST_BIN, which is also this test's own folder.
        const char* bin = std::getenv("VELMORA_TEST_BIN");
        Program = (bin != nullptr && *bin != '\0'
                       ? std::string(bin)
                       : std::filesystem::read_symlink("/proc/self/exe").parent_path().string()) +
                  "/velmora-rip";
        std::filesystem::create_directory(dir / "config");
    }

    // Writes a disc image named `name` and returns its .cue path.
    std::string MakeDisc(const std::string& name, const discgen::DiscSpec& plan) {
        std::string error;
        EXPECT_TRUE(discgen::writeDisc(dir / name, plan, &error)) << error;
        return dir / (name + ".cue");
    }

    // The program's environment: ours, with the settings, cdplayer.ini and sound
    // pointed away from the user's, and no images but those given as arguments.
    std::vector<std::string> Environment() const {
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string v = *e;
            if (v.rfind("CDRIP_", 0) != 0 && v.rfind("XDG_CONFIG_HOME=", 0) != 0 &&
                v.rfind("VELMORA_SETTINGS=", 0) != 0) {
                env.push_back(v);
            }
        }
        env.push_back("XDG_CONFIG_HOME=" + (dir / "config"));
        env.push_back("VELMORA_SETTINGS=" + (dir / "config/velmora-ripper.ini"));
        env.push_back("CDRIP_AUDIO=none");
        return env;
    }

    pid_t Start(const std::vector<std::string>& args) {
        std::vector<std::string> argv{Program};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> cargv;
        for (std::string& a : argv) {
            cargv.push_back(a.data());
        }
        cargv.push_back(nullptr);
        std::vector<std::string> env = Environment();
        std::vector<char*> cenv;
        for (std::string& e : env) {
            cenv.push_back(e.data());
        }
        cenv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, (dir / "stdout").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, (dir / "stderr").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = -1;
        const int rc =
            posix_spawn(&pid, Program.c_str(), &actions, nullptr, cargv.data(), cenv.data());
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(rc, 0) << "cannot start " << Program;
        return rc == 0 ? pid : -1;
    }

    Result Wait(pid_t pid) {
        Result r;
        int status = 0;
        if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
            r.Code = WEXITSTATUS(status);
        }
        r.Out = ReadText(dir / "stdout");
        r.Err = ReadText(dir / "stderr");
        return r;
    }

    Result Run(const std::vector<std::string>& args) { return Wait(Start(args)); }

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
    EXPECT_THAT(r.Out, HasSubstr("01   Audio    1:01  Track01\n"));
    // Track 2 holds the data track's 150-sector pregap as well: 4725 sectors.
    EXPECT_THAT(r.Out, HasSubstr("02   Audio    1:03  Track02\n"));
    EXPECT_THAT(r.Out, HasSubstr("03   Data     0:04  Track03\n"));
    EXPECT_THAT(r.Out, HasSubstr("Disc key: "));
}

TEST_F(VelmoraRip, RipsToWavFilesThatAreTheImagesBytes) {
    const discgen::DiscSpec plan = discgen::simpleDisc(4, 2, 1001, 300);
    const std::string image = MakeDisc("wav", plan);
    const Result r = Run({"rip", "--format", "wav", "--out", dir / "out", image});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    const auto all = discgen::imageBytes(plan);
    const discgen::Layout layout = discgen::layoutOf(plan);
    for (std::size_t t = 0; t < 2; ++t) {
        const auto b = ReadBytes(dir / ("out/Track0" + std::to_string(t + 1) + ".wav"));
        const auto from = static_cast<std::size_t>(layout.starts[t]) * SectorBytes;
        const auto to = static_cast<std::size_t>(layout.starts[t + 1]) * SectorBytes;
        ASSERT_EQ(b.size(), 44 + to - from);
        EXPECT_EQ(U32At(b, 40), to - from);
        EXPECT_TRUE(std::equal(b.begin() + 44, b.end(), all.begin() + static_cast<long>(from)));
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "out/Track03.wav")); // the data track
    // Not a terminal: one plain progress line per track (then the proof of the rip).
    EXPECT_EQ(std::count(r.Out.begin(), r.Out.end(), '>'), 2) << r.Out;
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
    std::vector<std::string> args;
    for (const std::string& a : GetParam().args) {
        args.push_back(a == "IMAGE" ? image : a == "JUNK" ? dir / "junk.cue" : a);
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
        FailRow{
            "data_track_only", {"rip", "--tracks", "3", "IMAGE"}, 1, "No Audio Track Selected!"},
        FailRow{"output_not_creatable",
                {"rip", "--out", "/dev/null/x", "IMAGE"},
                1,
                "Track01: Cannot create file /dev/null/x/Track01.mp3"}),
    RowName);

TEST_F(VelmoraRip, CtrlCLeavesAPartialTaggedFile) {
    // Five minutes of audio: far longer to encode than it takes to see the file grow.
    const std::string image = MakeDisc("long", discgen::simpleDisc(8, 1, 5 * 4500));
    const pid_t pid = Start({"rip", "--out", dir / "out", image});
    ASSERT_GT(pid, 0); // never signal a process group or every process
    const std::string name = dir / "out/Track01.mp3";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::error_code ec;
    while ((!std::filesystem::exists(name, ec) || std::filesystem::file_size(name, ec) < 65536) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
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
