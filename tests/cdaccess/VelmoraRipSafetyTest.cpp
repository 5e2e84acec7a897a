// velmora-rip against what a new user and a hostile service do: tracks of one job with
// one name, two rips into one folder at once, names from outside, reports, small
// argument slips and a look-up that hangs.

#include "LocalHttpServer.h"
#include "TestDir.h"

#include "discgen.h"
#include "metadata/DiscId.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>

extern char** environ;

using testing::HasSubstr;
namespace fs = std::filesystem;

namespace {

constexpr int SectorBytes = 2352;
constexpr const char* Dot = "\xE2\x80\xA4"; // U+2024, the look-alike of a leading "."

struct Result {
    int Code = -1;
    std::string Out;
    std::string Err;
};

std::string ReadText(const std::string& path) {
    const auto b = ReadBytes(path);
    return {b.begin(), b.end()};
}

// Names under a folder, recursively, that look like partial files.
std::vector<std::string> PartialFiles(const std::string& folder) {
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(folder, ec)) {
        if (e.path().filename().string().find(".partial-") != std::string::npos) {
            found.push_back(e.path());
        }
    }
    return found;
}

class VelmoraRipSafety : public testing::Test {
protected:
    VelmoraRipSafety() {
        const char* bin = std::getenv("VELMORA_TEST_BIN");
        Program = (bin != nullptr && *bin != '\0'
                       ? std::string(bin)
                       : fs::read_symlink("/proc/self/exe").parent_path().string()) +
                  "/velmora-rip";
        fs::create_directory(dir / "config");
    }

    std::string MakeDisc(const std::string& name, const discgen::DiscSpec& plan) {
        std::string error;
        EXPECT_TRUE(discgen::writeDisc(dir / name, plan, &error)) << error;
        return dir / (name + ".cue");
    }

    // Our environment with the settings, cdplayer.ini and sound pointed away from the
    // user's, AccurateRip at a port that refuses at once, no look-up server unless given.
    std::vector<std::string> Environment(const std::vector<std::string>& extra) const {
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string v = *e;
            if (v.rfind("CDRIP_", 0) != 0 && v.rfind("XDG_CONFIG_HOME=", 0) != 0 &&
                v.rfind("VELMORA_", 0) != 0) {
                env.push_back(v);
            }
        }
        env.push_back("XDG_CONFIG_HOME=" + (dir / "config"));
        env.push_back("VELMORA_SETTINGS=" + (dir / "config/velmora-ripper.ini"));
        env.push_back("VELMORA_ACCURATERIP_URL=http://127.0.0.1:9");
        env.push_back("CDRIP_AUDIO=none");
        env.insert(env.end(), extra.begin(), extra.end());
        return env;
    }

    // Starts the program with stdout and stderr into "<tag>.out" and "<tag>.err".
    pid_t Start(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv = {},
                const std::string& tag = "run") {
        std::vector<std::string> argv{Program};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> cargv;
        for (std::string& a : argv) {
            cargv.push_back(a.data());
        }
        cargv.push_back(nullptr);
        std::vector<std::string> env = Environment(extraEnv);
        std::vector<char*> cenv;
        for (std::string& e : env) {
            cenv.push_back(e.data());
        }
        cenv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, (dir / (tag + ".out")).c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, (dir / (tag + ".err")).c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = -1;
        const int rc =
            posix_spawn(&pid, Program.c_str(), &actions, nullptr, cargv.data(), cenv.data());
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(rc, 0) << "cannot start " << Program;
        return rc == 0 ? pid : -1;
    }

    // Waits at most `limit`; a program still running then is killed and reported as
    // code -2.
    Result Wait(pid_t pid, const std::string& tag = "run",
                std::chrono::seconds limit = std::chrono::seconds(60)) {
        Result r;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (pid > 0) {
            const pid_t done = ::waitpid(pid, &status, WNOHANG);
            if (done == pid) {
                r.Code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                break;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                r.Code = -2;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        r.Out = ReadText(dir / (tag + ".out"));
        r.Err = ReadText(dir / (tag + ".err"));
        return r;
    }

    Result Run(const std::vector<std::string>& args,
               const std::vector<std::string>& extraEnv = {}) {
        return Wait(Start(args, extraEnv));
    }

    std::string DiscKey(const std::string& image) {
        const Result r = Run({"tracks", "--no-lookup", image});
        const std::size_t at = r.Out.find("Disc key: ");
        return at == std::string::npos ? "" : r.Out.substr(at + 10, r.Out.find('\n', at) - at - 10);
    }

    // The WAV file's PCM is track `t` (0-based) of the plan's image, byte for byte.
    static bool IsTrackOf(const std::string& file, const discgen::DiscSpec& plan, std::size_t t) {
        const auto all = discgen::imageBytes(plan);
        const discgen::Layout l = discgen::layoutOf(plan);
        const auto from = static_cast<std::size_t>(l.starts[t]) * SectorBytes;
        const auto to =
            static_cast<std::size_t>(t + 1 < l.starts.size() ? l.starts[t + 1] : l.leadout) *
            SectorBytes;
        const auto b = ReadBytes(file);
        return b.size() == 44 + to - from &&
               std::equal(b.begin() + 44, b.end(), all.begin() + static_cast<long>(from));
    }

    TestDir dir;
    std::string Program;
};

// ---------------------------------------------------------------------------
// The report

struct ReportRow {
    const char* name;
    const char* before; // the report file's content before; nullptr: none
    bool overwrite;
    bool written;        // the report replaced it
    const char* message; // on stderr when not
};

class VelmoraRipReport : public VelmoraRipSafety, public testing::WithParamInterface<ReportRow> {};

TEST_P(VelmoraRipReport, WrittenLikeATrack) {
    const ReportRow& row = GetParam();
    const std::string image = MakeDisc("report", discgen::simpleDisc(43, 1, 200));
    const std::string report = dir / "report.json";
    if (row.before != nullptr) {
        std::ofstream(report, std::ios::binary) << row.before;
    }
    std::vector<std::string> args{"rip",   "--no-lookup", "--format", "wav",
                                  "--out", dir / "out",   "--report", report};
    if (row.overwrite) {
        args.push_back("--overwrite");
    }
    args.push_back(image);
    const Result r = Run(args);
    const std::string text = ReadText(report);
    if (row.written) {
        EXPECT_EQ(r.Code, 0) << r.Err;
        EXPECT_THAT(text, testing::StartsWith("{\n  \"program\": \"velmora-rip "));
    } else {
        EXPECT_EQ(r.Code, 1);
        EXPECT_EQ(text, row.before);
        EXPECT_THAT(r.Err, HasSubstr(std::string("cannot write the report ") + report + ": " +
                                     row.message));
    }
    EXPECT_TRUE(PartialFiles(dir.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, VelmoraRipReport,
    testing::Values(ReportRow{"new", nullptr, false, true, ""},
                    ReportRow{"ours_is_replaced", "{\n  \"program\": \"velmora-rip 1.0\"\n}\n",
                              false, true, ""},
                    ReportRow{"other_file_stays", "my notes\n", false, false,
                              "it exists and is not a report (--overwrite replaces it)"},
                    ReportRow{"other_file_with_overwrite", "my notes\n", true, true, ""}),
    RowName);

TEST_F(VelmoraRipSafety, ReportNeverReplacesATrackOfTheRip) {
    const std::string image = MakeDisc("report", discgen::simpleDisc(44, 1, 200));
    const discgen::DiscSpec plan = discgen::simpleDisc(44, 1, 200);
    const std::string track = dir / "out/Track01.wav";
    for (bool overwrite : {false, true}) {
        std::vector<std::string> args{"rip",       "--no-lookup", "--format", "wav", "--out",
                                      dir / "out", "--report",    track,      image};
        if (overwrite) {
            args.push_back("--overwrite");
        }
        const Result r = Run(args);
        EXPECT_EQ(r.Code, 1) << r.Err;
        EXPECT_THAT(r.Err, HasSubstr("cannot write the report " + track + ": "));
        EXPECT_TRUE(IsTrackOf(track, plan, 0));
    }
}

TEST_F(VelmoraRipSafety, FullDiskKeepsTheOldReportAndLeavesNoEmptyLog) {
    const std::string image = MakeDisc("full", discgen::simpleDisc(45, 1, 200));
    const std::string mnt = dir / "small";
    fs::create_directory(mnt);
    if (::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here";
    }
    const std::string old = "{\n  \"program\": \"velmora-rip 1.0\"\n}\n";
    std::ofstream(mnt + "/report.json") << old;
    {
        // Fill the disk to its last block.
        std::ofstream fill(mnt + "/fill", std::ios::binary);
        const std::string block(4096, 'f');
        while (fill.write(block.data(), static_cast<std::streamsize>(block.size()))) {
        }
    }
    const Result r = Run({"rip", "--no-lookup", "--format", "wav", "--out", mnt, "--report",
                          mnt + "/report.json", image});
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(ReadText(mnt + "/report.json"), old);
    EXPECT_THAT(r.Err, HasSubstr("No space left on device"));
    for (const auto& e : fs::directory_iterator(mnt)) {
        EXPECT_NE(e.path().extension(), ".log") << "a log on a full disk: " << e.path();
    }
    EXPECT_TRUE(PartialFiles(mnt).empty());
    ::umount(mnt.c_str());
}

// ---------------------------------------------------------------------------
// Names from outside: the log, the terminal, the files

// What MusicBrainz says of a one-track disc, with the album, artist and track title
// given as JSON string contents.
std::string OneTrackAnswer(const discgen::DiscSpec& plan, const std::string& album,
                           const std::string& artist, const std::string& title) {
    const discgen::Layout l = discgen::layoutOf(plan);
    std::vector<Metadata::TocTrack> tracks;
    for (std::size_t i = 0; i < l.starts.size(); ++i) {
        tracks.push_back({l.starts[i], true});
    }
    const std::string id = Metadata::MusicBrainzDiscId(Metadata::MusicBrainzToc(tracks, l.leadout));
    return R"({"id":")" + id + R"(","releases":[{"id":"rel-\u001b[2J","title":")" + album +
           R"(","artist-credit":[{"name":")" + artist +
           R"(","joinphrase":""}],"media":[{"position":1,"discs":[{"id":")" + id +
           R"("}],"tracks":[{"title":")" + title + R"(","length":4000}]}]}]})";
}

TEST_F(VelmoraRipSafety, HostileAlbumGivesASafeLogAndNothingRawOnTheTerminal) {
    const discgen::DiscSpec plan = discgen::simpleDisc(46, 1, 300);
    const std::string image = MakeDisc("hostile", plan);
    const std::string album = R"(a\u0000b/../../c\u001b]0;owned\u0007)";
    LocalHttpServer server(LocalHttpServer::Mode::Answer, 200,
                           OneTrackAnswer(plan, album, R"(Band\u001b[31m)", "Song"), 8);
    const std::vector<std::string> env{"VELMORA_MUSICBRAINZ_URL=" + server.Url()};
    Result r = Run({"tracks", image}, env);
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Out.find('\x1b'), std::string::npos) << r.Out;
    EXPECT_EQ(r.Out.find('\x07'), std::string::npos) << r.Out;
    EXPECT_THAT(r.Out, HasSubstr("Artist: Band\\x1B[31m (MusicBrainz)\n"));
    EXPECT_THAT(r.Out, HasSubstr("Album: a\\x00b/../../c\\x1B]0;owned\\x07 (MusicBrainz)\n"));
    EXPECT_THAT(r.Out, HasSubstr("(release rel-\\x1B[2J)\n"));
    r = Run({"rip", "--format", "wav", "--out", dir / "out", image}, env);
    ASSERT_EQ(r.Code, 0) << r.Out << r.Err;
    EXPECT_EQ(r.Out.find('\x1b'), std::string::npos) << r.Out;
    EXPECT_EQ(r.Err.find('\x1b'), std::string::npos) << r.Err;
    // The log's name: NUL and controls left out, "/" as "-"; in the output folder.
    const std::string log = dir / "out/ab-..-..-c]0;owned.log";
    EXPECT_TRUE(fs::exists(log)) << r.Out;
    EXPECT_THAT(r.Out, HasSubstr("Log: " + log + "\n"));
}

TEST_F(VelmoraRipSafety, LongAlbumTitleStillGivesALog) {
    const std::string image = MakeDisc("long", discgen::simpleDisc(47, 1, 200));
    for (std::size_t length : {250u, 251u, 400u}) {
        const std::string out = dir / ("out" + std::to_string(length));
        const Result r = Run({"rip", "--no-lookup", "--format", "wav", "--album",
                              std::string(length, 'a'), "--out", out, image});
        ASSERT_EQ(r.Code, 0) << r.Err;
        // 244 bytes leave room for " (9999).log" in a name of 255.
        const std::string log =
            out + "/" + std::string(std::min<std::size_t>(length, 244), 'a') + ".log";
        EXPECT_TRUE(fs::exists(log)) << length << ": " << r.Out << r.Err;
    }
}

TEST_F(VelmoraRipSafety, AlbumSavedByTheWindowNamesTheLog) {
    const std::string image = MakeDisc("saved", discgen::simpleDisc(48, 1, 200));
    const std::string key = DiscKey(image);
    ASSERT_FALSE(key.empty());
    std::ofstream(dir / "config/cdplayer.ini") << "[" << key << "]\nalbum=Saved Album\n";
    const Result r = Run({"rip", "--no-lookup", "--format", "wav", "--out", dir / "out", image});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(fs::exists(dir / "out/Saved Album.log")) << r.Out;
}

struct NameRow {
    const char* name;
    std::vector<std::string> args;         // besides rip, --no-lookup, wav, --out, the image
    std::vector<std::string> cdTextTitles; // CD-TEXT titles of the two tracks
    std::string file;                      // track 1's file, under out/
};

class VelmoraRipNames : public VelmoraRipSafety, public testing::WithParamInterface<NameRow> {};

TEST_P(VelmoraRipNames, FileAsADesktopUserExpects) {
    const NameRow& row = GetParam();
    discgen::DiscSpec plan = discgen::simpleDisc(49, 2, 200);
    plan.trackTitles = row.cdTextTitles;
    const std::string image = MakeDisc("names", plan);
    std::vector<std::string> args{"rip",      "--no-lookup", "--format", "wav",
                                  "--tracks", "1",           "--out",    dir / "out"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    args.push_back(image);
    const Result r = Run(args);
    ASSERT_EQ(r.Code, 0) << r.Out << r.Err;
    EXPECT_TRUE(IsTrackOf(dir / ("out/" + row.file), plan, 0)) << r.Out;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, VelmoraRipNames,
    testing::Values(
        NameRow{"typed_slash_makes_a_folder", {"--title", "1=Album/Song"}, {}, "Album/Song.wav"},
        NameRow{"leading_dot", {"--title", "1=.hidden"}, {}, std::string(Dot) + "hidden.wav"},
        NameRow{"cd_text_leading_dots",
                {},
                {"...Baby", "x"},
                std::string(Dot) + Dot + Dot + "Baby.wav"},
        NameRow{"blanks_trimmed", {"--title", "1= \tSong\n"}, {}, "Song.wav"}),
    RowName);

TEST_F(VelmoraRipSafety, OverLongTitleIsShortenedAndSaidOnce) {
    const discgen::DiscSpec plan = discgen::simpleDisc(50, 1, 200);
    const std::string image = MakeDisc("longtitle", plan);
    const Result r = Run({"rip", "--no-lookup", "--format", "wav", "--title",
                          "1=" + std::string(300, 's'), "--out", dir / "out", image});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(IsTrackOf(dir / ("out/" + std::string(251, 's') + ".wav"), plan, 0)) << r.Out;
    const std::string note = "shortened to 255 bytes";
    EXPECT_THAT(r.Err, HasSubstr(note));
    EXPECT_EQ(r.Err.find(note), r.Err.rfind(note)) << r.Err;
}

// ---------------------------------------------------------------------------
// Small ones

TEST_F(VelmoraRipSafety, TitleForATrackTheDiscLacksIsRefused) {
    const std::string image = MakeDisc("three", discgen::simpleDisc(58, 3, 200));
    for (const char* command : {"rip", "tracks"}) {
        const Result r =
            Run({command, "--no-lookup", "--title", "9=x", "--out", dir / "out", image});
        EXPECT_EQ(r.Code, 2) << command;
        EXPECT_EQ(r.Err, "velmora-rip: --title 9=...: the disc has no track 9 (tracks 1 to 3)\n");
        EXPECT_FALSE(fs::exists(dir / "out/Track01.mp3"));
    }
    EXPECT_EQ(Run({"tracks", "--no-lookup", "--title", "3=x", image}).Code, 0);
}

} // namespace
