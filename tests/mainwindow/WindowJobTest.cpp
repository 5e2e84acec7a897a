// The window's extraction job beside velmora-rip's: the same disc, the same settings,
// the same files, log and report; and the window's answers while the job's look-ups
// hang.
#include "WindowFixture.h"

#include "LocalHttpServer.h"
#include "cdaccess/RipProgram.h"
#include "discgen.h"
#include "platform/AppInfo.h"
#include "ripjob/RipJob.h"
#include "ui/TitleSearch.h"
#include "ui/uprg.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QLabel>
#include <QTimer>
#include <chrono>
#include <cstring>
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
// the program's name, the date and the times, the time a refused connection took
// included ("Failed to connect to 127.0.0.1 port 9 after 0 ms": 1 ms or more on a busy
// machine, in one run and not the other).
std::string Comparable(std::string text, const std::string& dir, const std::string& sub) {
    for (std::size_t at; (at = text.find(dir + "/" + sub)) != std::string::npos;)
        text.replace(at, dir.size() + 1 + sub.size(), "<out>");
    text = std::regex_replace(text, std::regex("velmora-ripper|velmora-rip"), "<program>");
    text = std::regex_replace(text, std::regex("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ"),
                              "<date>");
    text =
        std::regex_replace(text, std::regex("(\"elapsed\": |Time: |Elapsed: )[0-9.]+"), "$1<time>");
    text = std::regex_replace(text, std::regex("( after )[0-9]+( ms)"), "$1<time>$2");
    return text;
}

using Clock = std::chrono::steady_clock;

// The events of a 10 ms timer while it runs: the longest wait between two of them (how
// long the window's thread was kept from its events), and when each came.
class EventGaps {
public:
    EventGaps() {
        Last = Clock::now();
        QObject::connect(&Timer, &QTimer::timeout, [this] {
            const auto now = Clock::now();
            Widest = std::max(Widest, now - Last);
            Last = now;
            Times.push_back(std::chrono::system_clock::now());
        });
        Timer.start(10);
    }
    std::chrono::milliseconds Longest() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Widest);
    }
    int Count() const { return static_cast<int>(Times.size()); }
    // The longest stretch of the `span` from `from` on in which no event came.
    std::chrono::milliseconds LongestQuietWithin(std::chrono::system_clock::time_point from,
                                                 std::chrono::milliseconds span) const {
        const auto end = from + span;
        auto quietSince = from;
        std::chrono::system_clock::duration longest{};
        for (const auto t : Times) {
            if (t < from || t >= end)
                continue;
            longest = std::max(longest, t - quietSince);
            quietSince = t;
        }
        longest = std::max(longest, end - quietSince);
        return std::chrono::duration_cast<std::chrono::milliseconds>(longest);
    }

private:
    QTimer Timer;
    Clock::time_point Last;
    Clock::duration Widest{};
    std::vector<std::chrono::system_clock::time_point> Times;
};

// A web look-up made on the window's thread holds every event of the window until it
// gives up. Made beside the window, it leaves them coming, the job's own work between
// them (reading) however slow a busy machine makes it: within the first 80 percent of
// the look-up's time limit from when the server got its request, no stretch of half
// the limit passes without an event. (Gaps of up to 330 ms were seen while other
// programs kept both cores busy and wrote the disk full; 1,011 ms with the look-up on
// the window's thread.)
void ExpectEventsDuringEachLookup(const EventGaps& gaps, const LocalHttpServer& server,
                                  long lookupSeconds) {
    const std::chrono::milliseconds limit(lookupSeconds * 1000);
    for (const auto& came : server.RequestTimes())
        EXPECT_LT(gaps.LongestQuietWithin(came, limit * 8 / 10), limit / 2)
            << "events of the whole job: " << gaps.Count() << ", the longest gap "
            << gaps.Longest().count() << " ms";
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
    ASSERT_EQ(names.size(), 5u); // three tracks, the log and the cue sheet
    for (const auto& [name, bytes] : fromCli) {
        SCOPED_TRACE(name);
        if (name.ends_with(".log")) {
            EXPECT_EQ(Comparable(fromWindow.at(name), Dir, "win"), Comparable(bytes, Dir, "cli"));
            EXPECT_EQ(fromWindow.at(name).rfind("velmora-ripper ", 0), 0u);
        } else if (name.ends_with(".cue")) {
            EXPECT_EQ(Comparable(fromWindow.at(name), Dir, "win"), Comparable(bytes, Dir, "cli"));
            EXPECT_NE(fromWindow.at(name).find("\nREM COMMENT \"velmora-ripper "),
                      std::string::npos);
            EXPECT_NE(bytes.find("FILE "), std::string::npos);
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
    // The summary stays in the status line while the mouse crosses the list.
    const QString summary =
        "3 tracks ripped, the AccurateRip database did not answer; 1 with damaged sectors";
    EXPECT_EQ(Status(), summary);
    Window->ListView1Tag = 0;
    Window->ListView1MouseMove();
    EXPECT_EQ(Status(), summary);
    Window->ListView1Click(); // a click on the list re-arms the count
    Window->ListView1MouseMove();
    EXPECT_EQ(Status(), "3 Tracks Selected");
}

// The AccurateRip server accepts and never answers: the database is looked up beside
// the window (from the job's start on, while the one pass reads), whose events keep
// coming while it waits; the job ends when the look-up gives up.
TEST_F(WindowJob, HangingAccurateRipDoesNotHoldTheWindow) {
    LocalHttpServer server(LocalHttpServer::Mode::Hang, 0, "", 4, 20);
    const std::string before = std::getenv("VELMORA_ACCURATERIP_URL");
    setenv("VELMORA_ACCURATERIP_URL", server.Url().c_str(), 1);
    Tfrmprg::LookupSeconds = 1;
    unsetenv("CDRIP_FAULTS");
    std::unique_ptr<EventGaps> gaps;
    // The gaps are counted from the dialog's first second on.
    QTimer::singleShot(0, [&] { gaps = std::make_unique<EventGaps>(); });
    RunWindow(&TfrmMain::ExtractTracksToWAVFiles1Click);
    setenv("VELMORA_ACCURATERIP_URL", before.c_str(), 1);
    Tfrmprg::LookupSeconds = 10;
    ASSERT_TRUE(gaps);
    ASSERT_EQ(server.Requests().size(), 1u); // a virtual drive's offset is not looked up
    ASSERT_EQ(server.RequestTimes().size(), 1u);
    ExpectEventsDuringEachLookup(*gaps, server, 1);
    EXPECT_EQ(server.Requests()[0].rfind("/6/6/8/dBAR-003-00000866-00001ce9-10001004.bin\t", 0),
              0u);
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(Text(row, 3), "OK") << row;
    const std::string log = ReadText(Dir + "/win/" + Window->RIPPER->GetDiscID() + ".log");
    EXPECT_NE(log.find("  AccurateRip: unreachable"), std::string::npos) << log;
    EXPECT_NE(log.find("Read offset: 0 samples\n"), std::string::npos) << log;
}

// The image's drive as a real drive would name itself: its read offset is not known to
// be 0, so the job looks it up in AccurateRip's drive list.
int32_t NamedDriveParameters(uint8_t* block) {
    const int32_t status = RealCdRipDll().CR_GetCDROMParameters(block);
    const char name[] = "TESTVENDOR CD-RW UNLISTED 1.00";
    std::memset(block, 0, CDROMParamsIDSize);
    std::memcpy(block, name, sizeof name);
    return status;
}
const TCdRipDll& NamedDriveDll() {
    static const TCdRipDll table = [] {
        TCdRipDll t = CdRipDll();
        t.CR_GetCDROMParameters = NamedDriveParameters;
        return t;
    }();
    return table;
}

// The AccurateRip server accepts and never answers, and no drive list is cached: the
// drive's read offset is asked for at the job's start, then the database, both beside
// the window, whose events keep coming while each waits.
TEST_F(WindowJob, HangingDriveListDoesNotHoldTheWindow) {
    LocalHttpServer server(LocalHttpServer::Mode::Hang, 0, "", 4, 20);
    const std::string before = std::getenv("VELMORA_ACCURATERIP_URL");
    setenv("VELMORA_ACCURATERIP_URL", server.Url().c_str(), 1);
    setenv("XDG_CACHE_HOME", (Dir + "/cache").c_str(), 1);
    Tfrmprg::LookupSeconds = 1;
    unsetenv("CDRIP_FAULTS");
    Open(NamedDriveDll());
    ASSERT_EQ(Window->RIPPER->CDRomIDText(), "TESTVENDOR CD-RW UNLISTED 1.00");
    ASSERT_EQ(Window->RowCount(), 4);
    Settings.OutDir = Dir + "/win";
    Settings.OpenWhenDone = false;
    Window->SelectAll1Click();
    std::unique_ptr<EventGaps> gaps;
    QTimer::singleShot(0, [&] { gaps = std::make_unique<EventGaps>(); });
    const auto start = Clock::now();
    Window->ExtractTracksToWAVFiles1Click();
    const auto took = Clock::now() - start;
    setenv("VELMORA_ACCURATERIP_URL", before.c_str(), 1);
    unsetenv("XDG_CACHE_HOME");
    Tfrmprg::LookupSeconds = 10;
    ASSERT_TRUE(gaps);
    EXPECT_GE(took, std::chrono::seconds(2)); // both look-ups waited their second
    const std::vector<std::string> asked = server.Requests();
    ASSERT_EQ(asked.size(), 2u);
    ASSERT_EQ(server.RequestTimes().size(), 2u);
    ExpectEventsDuringEachLookup(*gaps, server, 1);
    EXPECT_EQ(asked[0].rfind("/DriveOffsets.bin\t", 0), 0u) << asked[0];
    EXPECT_EQ(asked[1].rfind("/6/6/8/dBAR-003-00000866-00001ce9-10001004.bin\t", 0), 0u)
        << asked[1];
    EXPECT_FALSE(fs::exists(Dir + "/cache/velmora-ripper/DriveOffsets.bin"));
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(Text(row, 3), "OK") << row;
    const std::string log = ReadText(Dir + "/win/" + Window->RIPPER->GetDiscID() + ".log");
    EXPECT_NE(log.find("Read offset: 0 samples\n"), std::string::npos) << log;
}

// MusicBrainz accepts and never answers: the window's events keep coming while it
// waits, and closing the window ends the look-up at once, not at its time limit.
TEST_F(WindowJob, ClosingDuringAHangingTitleLookupEndsAtOnce) {
    LocalHttpServer server(LocalHttpServer::Mode::Hang, 0, "", 2, 20);
    setenv("VELMORA_MUSICBRAINZ_URL", server.Url().c_str(), 1);
    std::ofstream(Dir + "/config/velmora-ripper.ini") << "[System]\nLookup=1\n";
    TTitleSearch::TimeoutSeconds = 8;
    Open(CdRipDll());
    ASSERT_TRUE(Window->TitleSearch->Busy());
    {
        EventGaps gaps;
        QEventLoop wait;
        QTimer::singleShot(1500, &wait, &QEventLoop::quit);
        wait.exec();
        // At least a quarter of the 10 ms timer's events (a busy machine delays some).
        EXPECT_GE(gaps.Count(), 1500 / 10 / 4)
            << "the longest gap " << gaps.Longest().count() << " ms";
    }
    EXPECT_TRUE(Window->TitleSearch->Busy()) << Status().toStdString();
    const auto start = Clock::now();
    Window.reset();
    TTitleSearch::TimeoutSeconds = 10;
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
    unsetenv("VELMORA_MUSICBRAINZ_URL");
    EXPECT_EQ(server.Requests().size(), 1u);
}

// The progress dialog's whole-job line, as each read chunk finds it: empty before the
// job's first report, then the share of all tracks growing, with the time left once
// there is an estimate.
TEST_F(WindowJob, ProgressDialogShowsTheWholeJobAndTheTimeLeft) {
    unsetenv("CDRIP_FAULTS");
    Open(CdRipDll());
    Settings.OutDir = Dir + "/win";
    Settings.OpenWhenDone = false;
    Window->SelectAll1Click();
    std::vector<QString> lines;
    const TProgressEvent store = Window->RIPPER->OnProgress;
    Window->RIPPER->OnProgress = [&](TCDRIP* sender, uint16_t percent) {
        store(sender, percent);
        QWidget* dialog = QApplication::activeModalWidget();
        auto* line = dialog ? dialog->findChild<QLabel*>("lblJob") : nullptr;
        ASSERT_NE(line, nullptr);
        ASSERT_TRUE(line->isVisibleTo(dialog));
        if (lines.empty() || lines.back() != line->text())
            lines.push_back(line->text());
    };
    Window->ExtractTracksToWAVFiles1Click();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "");
    const std::regex form("All tracks: (\\d+)% done(, about \\d+:\\d\\d left)?");
    int last = -1;
    bool estimated = false;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::smatch m;
        const std::string text = lines[i].toStdString();
        ASSERT_TRUE(std::regex_match(text, m, form)) << text;
        EXPECT_GE(std::stoi(m[1]), last) << text << " after " << lines[i - 1].toStdString();
        last = std::stoi(m[1]);
        estimated = estimated || m[2].matched;
    }
    EXPECT_TRUE(estimated);
    EXPECT_GE(last, 66); // the last track's chunks are two thirds of the job on
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(Text(row, 3), "OK") << row;
}

struct JobLineCase {
    std::string Name;
    double Done;
    double SecondsLeft;
    std::string Line;
};

class JobLine : public testing::TestWithParam<JobLineCase> {};

TEST_P(JobLine, SaysTheShareAndTheTimeLeft) {
    JobProgress p;
    p.Done = GetParam().Done;
    p.SecondsLeft = GetParam().SecondsLeft;
    EXPECT_EQ(JobProgressLine(p).toStdString(), GetParam().Line);
}

INSTANTIATE_TEST_SUITE_P(
    Window, JobLine,
    testing::Values(
        JobLineCase{"NoEstimateYet", 0.01, -1, "All tracks: 1% done"},
        JobLineCase{"Start", 0, -1, "All tracks: 0% done"},
        JobLineCase{"ShareRoundsDown", 0.29, 80, "All tracks: 29% done, about 1:20 left"},
        JobLineCase{"AlmostDone", 0.999, 0.2, "All tracks: 99% done, about 0:01 left"},
        JobLineCase{"Done", 1.0, 0, "All tracks: 100% done, about 0:00 left"},
        JobLineCase{"SecondsRoundUp", 0.5, 59.01, "All tracks: 50% done, about 1:00 left"},
        JobLineCase{"JustUnderAnHour", 0.1, 3599, "All tracks: 10% done, about 59:59 left"},
        JobLineCase{"AnHour", 0.1, 3600, "All tracks: 10% done, about 1:00:00 left"},
        JobLineCase{"Hours", 0.02, 3725, "All tracks: 2% done, about 1:02:05 left"}),
    [](const auto& row) { return row.param.Name; });

// An output folder that cannot be made or written: what the window says and shows.
struct UnwritableCase {
    std::string Name;
    std::string OutDir;  // under the test's folder; "afile" is a regular file there
    std::string Title2;  // track 2's title; empty: as listed
    std::string Message; // the box's text; <dir>: the test's folder, <disc>: the disc's key
    std::vector<std::string> Rows; // the three audio rows' status afterwards
    bool Log;                      // a log in Dir/win
    bool Vanish = false;           // Dir/win is removed while track 2 is read
};

class UnwritableFolder : public WindowJob, public testing::WithParamInterface<UnwritableCase> {};

TEST_P(UnwritableFolder, SaysWhyInTheRowsAndAMessage) {
    const UnwritableCase& c = GetParam();
    unsetenv("CDRIP_FAULTS");
    std::ofstream(Dir + "/afile") << "not a folder\n";
    fs::create_directories(Dir + "/win");
    std::ofstream(Dir + "/win/afile") << "not a folder\n";
    Open(CdRipDll());
    Settings.OutDir = Dir + "/" + c.OutDir;
    Settings.OpenWhenDone = false;
    Window->SelectAll1Click();
    if (!c.Title2.empty())
        Window->Row(1)->setText(0, QString::fromStdString(c.Title2));
    bool removed = false;
    const TProgressEvent store = Window->RIPPER->OnProgress;
    Window->RIPPER->OnProgress = [&](TCDRIP* sender, uint16_t percent) {
        store(sender, percent);
        QWidget* dialog = QApplication::activeModalWidget();
        auto* status = dialog ? dialog->findChild<QLabel*>("lblStatus") : nullptr;
        if (c.Vanish && !removed && status && status->text().contains("(2 of 3)")) {
            fs::remove_all(Dir + "/win");
            removed = true;
        }
    };
    Window->ExtractTracksToWAVFiles1Click();
    EXPECT_EQ(removed, c.Vanish);
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].Icon, QMessageBox::Warning);
    EXPECT_EQ(Messages[0].Caption, QString::fromUtf8(AppInfo::Title.data()));
    std::string message = std::regex_replace(c.Message, std::regex("<dir>"), Dir);
    message = std::regex_replace(message, std::regex("<disc>"), Window->RIPPER->GetDiscID());
    EXPECT_EQ(Messages[0].Text.toStdString(), message);
    const std::string reason = message.substr(0, message.find("\n\n"));
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(Text(row, 3).toStdString(), c.Rows[row]) << row;
        const std::string tip = Window->Row(row)->toolTip(3).toStdString();
        if (c.Rows[row] == "Failed") {
            EXPECT_EQ(tip, reason) << row;
        } else if (c.Rows[row] == "Cancelled") {
            EXPECT_EQ(tip, "Not ripped: an earlier track failed: " + reason) << row;
        }
    }
    EXPECT_EQ(Text(3, 3), "--"); // the data track
    EXPECT_EQ(fs::exists(Dir + "/win/" + Window->RIPPER->GetDiscID() + ".log"), c.Log);
}

INSTANTIATE_TEST_SUITE_P(
    Window, UnwritableFolder,
    testing::Values(
        UnwritableCase{"FileAsFolder",
                       "afile",
                       "",
                       "Cannot create the output folder <dir>/afile: File exists",
                       {"Failed", "Failed", "Failed"},
                       false},
        UnwritableCase{"FolderUnderAFile",
                       "afile/sub",
                       "",
                       "Cannot create the output folder <dir>/afile/sub: Not a directory",
                       {"Failed", "Failed", "Failed"},
                       false},
        UnwritableCase{"TitleUnderAFile",
                       "win",
                       "afile/x",
                       "Cannot create file <dir>/win/afile/x.wav: Not a directory\n\n"
                       "The log is <dir>/win/<disc>.log",
                       {"OK", "Failed", "Cancelled"},
                       true},
        UnwritableCase{"FolderVanished",
                       "win",
                       "",
                       "Cannot create file <dir>/win/Track02.wav: No such file or directory\n\n"
                       "No log was written in <dir>/win: No such file or directory",
                       {"OK", "Failed", "Cancelled"},
                       false,
                       true}),
    [](const auto& row) { return row.param.Name; });

// Titles from CD-TEXT keep a `/` as part of the file's name (written as U+2215, a
// look-alike); a title the user typed into the row still makes a folder.
TEST_F(WindowJob, SlashInAnOutsideTitleIsNoFolder) {
    discgen::DiscSpec disc = discgen::simpleDisc(11, 3, 300, 200);
    disc.trackTitles = {"AC/DC", "Either/Or", "Third"};
    std::string error;
    ASSERT_TRUE(discgen::writeDisc(Dir + "/disc", disc, &error)) << error;
    unsetenv("CDRIP_FAULTS");
    Open(CdRipDll());
    ASSERT_EQ(Text(0, 0), "AC/DC");
    ASSERT_EQ(Text(1, 0), "Either/Or");
    Window->Row(1)->setText(0, "Live/Set"); // typed by the user
    Settings.OutDir = Dir + "/win";
    Settings.OpenWhenDone = false;
    Window->SelectAll1Click();
    Window->ExtractTracksToWAVFiles1Click();
    EXPECT_TRUE(fs::is_regular_file(Dir + "/win/AC\u2215DC.wav"));
    EXPECT_FALSE(fs::exists(Dir + "/win/AC"));
    EXPECT_TRUE(fs::is_regular_file(Dir + "/win/Live/Set.wav"));
    EXPECT_TRUE(fs::is_regular_file(Dir + "/win/Third.wav"));
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(Text(row, 3), "OK") << row;
}
