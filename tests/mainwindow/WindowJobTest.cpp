// The window's extraction job beside velmora-rip's: the same disc, the same settings,
// the same files, log and report; and the window's answers while the job's look-ups
// hang.
#include "WindowFixture.h"

#include "cdaccess/RipProgram.h"
#include "discgen.h"

#include <QCoreApplication>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// Three audio tracks of 300 sectors and a data track after them; sectors 400 to 402 (in
// track 2) cannot be read.
class WindowJob : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        std::string error;
        ASSERT_TRUE(discgen::writeDisc(Dir + "/disc", discgen::simpleDisc(11, 3, 300, 200), &error))
            << error;
        setenv("CDRIP_IMAGES", (Dir + "/disc.cue").c_str(), 1);
        setenv("CDRIP_FAULTS", "bad:400-402", 1);
        // Both programs read these settings: no look-up, no ReplayGain (the window's
        // MP3 files carry none yet).
        const std::string settings = Dir + "/config/velmora-ripper.ini";
        std::ofstream(settings) << "[System]\nLookup=0\nReplayGain=0\n";
        setenv("VELMORA_SETTINGS", settings.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("CDRIP_FAULTS");
        WindowFixture::TearDown();
    }

    // velmora-rip on the same disc with the same settings, into Dir/cli.
    RipRun RunCommandLine(const std::vector<std::string>& args) {
        std::vector<std::string> all = {"rip", "--out", Dir + "/cli", "--report",
                                        Dir + "/cli.json"};
        all.insert(all.end(), args.begin(), args.end());
        all.push_back(Dir + "/disc.cue");
        const pid_t pid = StartRipProgram(
            RipProgramPath(), all, RipProgramEnvironment(Dir, {"CDRIP_FAULTS=bad:400-402"}), Dir);
        return WaitRipProgram(pid, Dir);
    }

    // The window's job on every audio row, into Dir/win, with its report in Dir/win.json.
    void RunWindow(void (TfrmMain::*extract)()) {
        Open(CdRipDll());
        ASSERT_EQ(Window->RowCount(), 4);
        Settings.OutDir = Dir + "/win";
        Settings.OpenWhenDone = false;
        Window->ReportPath = Dir + "/win.json";
        Window->SelectAll1Click();
        (Window.get()->*extract)();
    }
};

// A log or report with what differs between two runs on purpose blanked: the folders,
// the program's name, the date and the times.
std::string Comparable(std::string text, const std::string& dir, const std::string& sub) {
    for (std::size_t at; (at = text.find(dir + "/" + sub)) != std::string::npos;)
        text.replace(at, dir.size() + 1 + sub.size(), "<out>");
    text = std::regex_replace(text, std::regex("velmora-ripper|velmora-rip"), "<program>");
    text = std::regex_replace(text, std::regex("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ"),
                              "<date>");
    text =
        std::regex_replace(text, std::regex("(\"elapsed\": |Time: |Elapsed: )[0-9.]+"), "$1<time>");
    return text;
}

std::map<std::string, std::string> FilesIn(const std::string& folder) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec))
        files[e.path().filename().string()] = ReadText(e.path().string());
    return files;
}

} // namespace

// One disc with a damaged track and a data track, to MP3 through the window and through
// velmora-rip: the same files byte for byte, the same log and the same report but for
// the folders, the program's name, the date and the times.
TEST_F(WindowJob, SameFilesLogAndReportAsTheCommandLine) {
    const RipRun cli = RunCommandLine({"--format", "mp3"});
    ASSERT_EQ(cli.Code, 3) << cli.Out << cli.Err;
    RunWindow(&TfrmMain::ExtractTracksToMP3Files1Click);
    const auto fromCli = FilesIn(Dir + "/cli");
    const auto fromWindow = FilesIn(Dir + "/win");
    std::vector<std::string> names, windowNames;
    for (const auto& [name, bytes] : fromCli)
        names.push_back(name);
    for (const auto& [name, bytes] : fromWindow)
        windowNames.push_back(name);
    ASSERT_EQ(windowNames, names);
    ASSERT_EQ(names.size(), 4u); // three tracks and the log
    for (const auto& [name, bytes] : fromCli) {
        SCOPED_TRACE(name);
        if (name.ends_with(".log")) {
            EXPECT_EQ(Comparable(fromWindow.at(name), Dir, "win"), Comparable(bytes, Dir, "cli"));
            EXPECT_EQ(fromWindow.at(name).rfind("velmora-ripper ", 0), 0u);
        } else {
            EXPECT_EQ(name.substr(name.size() - 4), ".mp3");
            EXPECT_GT(bytes.size(), 10000u);
            EXPECT_TRUE(fromWindow.at(name) == bytes);
        }
    }
    const std::string report = ReadText(Dir + "/win.json");
    ASSERT_FALSE(report.empty());
    EXPECT_EQ(Comparable(report, Dir, "win"), Comparable(ReadText(Dir + "/cli.json"), Dir, "cli"));
    const nlohmann::json j = nlohmann::json::parse(report);
    ASSERT_EQ(j["tracks"].size(), 3u);
    EXPECT_EQ(j["tracks"][1]["damaged"], nlohmann::json::parse("[[400,402]]"));
    EXPECT_EQ(Text(0, 3), "OK");
    EXPECT_EQ(Text(1, 3), "Damaged");
    EXPECT_EQ(Text(2, 3), "OK");
    EXPECT_EQ(Text(3, 3), "--"); // the data track
}
