// The window on the emulated drive: the drive box's name, and why it holds no readable
// disc, in the user's words; and the window's job on it: the read offset from the list
// of drives, an Enhanced CD's IDs, CD-TEXT, MCN and ISRC from the drive, a drive gone
// or a disc changed in the middle of a rip.
#include "discgen.h"
#include "emudrive/DriveList.h"
#include "settings/globals.h"
#include "ui/AppErrors.h"
#include "ui/QuestionDlg.h"
#include "ui/uMain.h"
#include "verify/ArChecksum.h"
#include "verify/ArLookup.h"
#include "verify/DbarBuilder.h"
#include "verify/DiscIds.h"
#include "verify/LocalServer.h"

#include <QDir>
#include <discid/discid.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

int Emu(const std::string& settings) {
    using Control = int (*)(const char*);
    auto control = reinterpret_cast<Control>(dlsym(RTLD_DEFAULT, "velmora_emudrive_control"));
    return control ? control(settings.c_str()) : -1;
}

const QString kName = QStringLiteral("TESTCO DRIVE 7 9.99 /dev/sr0");

// A new folder as the home, settings and cache of one test, with default settings and no
// title look-up; empty when the folder cannot be made.
std::string FreshHome() {
    char pattern[] = "/tmp/velmora-emuwindow-XXXXXX";
    if (!mkdtemp(pattern))
        return {};
    const std::string dir = pattern;
    setenv("HOME", dir.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    setenv("XDG_CACHE_HOME", (dir + "/cache").c_str(), 1);
    setenv("VELMORA_SETTINGS", (dir + "/velmora-ripper.ini").c_str(), 1);
    unsetenv("CDRIP_IMAGES");
    QDir().mkpath(QString::fromStdString(dir + "/config"));
    SetDefaultSettings();
    Settings.Lookup = false;
    return dir;
}

struct BoxCase {
    const char* name;
    std::string model; // settings of the drive at start
    bool eject;        // the Eject button is pressed after start
    int rows;          // rows of the list
    QString reason;    // after the name on the box's tooltip ("": the name only)
};

void PrintTo(const BoxCase& row, std::ostream* os) {
    *os << row.name;
}

class DriveBox : public testing::TestWithParam<BoxCase> {
protected:
    void SetUp() override {
        dir_ = FreshHome();
        ASSERT_FALSE(dir_.empty());
        AppMessages::SetHook([](const AppMessages::Message&) { return int(QMessageBox::Ok); });
        discgen::DiscSpec plan = discgen::simpleDisc(5, 3, 90);
        std::string error;
        ASSERT_TRUE(discgen::writeDisc(dir_ + "/disc", plan, &error)) << error;
    }
    void TearDown() override {
        window_.reset();
        AppMessages::SetHook(nullptr);
        unsetenv("XDG_CACHE_HOME");
        QDir(QString::fromStdString(dir_)).removeRecursively();
    }

    std::string dir_;
    std::unique_ptr<TfrmMain> window_;
};

TEST_P(DriveBox, NamesTheDriveAndSaysWhy) {
    const BoxCase& row = GetParam();
    ASSERT_EQ(Emu("reset=1;cue=" + dir_ + "/disc.cue;vendor=TESTCO;model=DRIVE 7;revision=9.99" +
                  row.model),
              0);
    window_ = std::make_unique<TfrmMain>(CdRipDll());
    frmMain = window_.get();
    window_->Timer1->stop();
    if (row.eject)
        window_->btnEjectClick();
    ASSERT_EQ(window_->cboDrive->count(), 1);
    EXPECT_EQ(window_->cboDrive->itemData(0, Qt::ToolTipRole).toString(), kName);
    EXPECT_EQ(window_->RowCount(), row.rows);
    EXPECT_EQ(window_->cboDrive->toolTip(),
              row.reason.isEmpty() ? kName : kName + "\n" + row.reason);
}

INSTANTIATE_TEST_SUITE_P(
    States, DriveBox,
    testing::Values(BoxCase{"Ready", "", false, 3, ""},
                    BoxCase{"TrayOpen", ";tray=open", false, 0, "the drive's tray is open"},
                    BoxCase{"NoDisc", ";tray=nodisc", false, 0, "no disc in the drive"},
                    BoxCase{"Ejected", "", true, 0, "the drive's tray is open"}),
    [](const testing::TestParamInfo<BoxCase>& row) { return row.param.name; });

// ---- the window's job on the drive ----

constexpr size_t kSector = 2352;

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The music disc of the drive tests: tracks 0-210, 211-367 and 368-600 with CD-TEXT;
// and an Enhanced CD, three audio tracks (0, 180, 320) and a data track.
class WindowDriveJob : public testing::Test {
protected:
    void SetUp() override {
        dir_ = FreshHome();
        ASSERT_FALSE(dir_.empty());
        AppMessages::SetHook([this](const AppMessages::Message& m) {
            messages_.push_back(m);
            return int(QMessageBox::Ok);
        });
        SetQuestionHook([](QDialog&) { return int(mrYes); }); // replace a file there
        discgen::DiscSpec plan = discgen::simpleDisc(31, 3, 0);
        plan.tracks = {{211, 0, false}, {157, 0, false}, {233, 0, false}};
        plan.title = "Caf\xc3\xa9 Songs";
        plan.performer = "The Testers";
        plan.trackTitles = {"One", "Two", "Three"};
        plan.trackPerformers = {"A", "Bee", "C"};
        std::string error;
        ASSERT_TRUE(discgen::writeDisc(dir_ + "/music", plan, &error)) << error;
        const std::string bin = ReadText(dir_ + "/music.bin");
        bin_.assign(bin.begin(), bin.end());
        discgen::DiscSpec enhanced = discgen::simpleDisc(32, 3, 0);
        enhanced.tracks = {{180, 0, false}, {140, 0, false}, {160, 0, false}, {300, 150, true}};
        ASSERT_TRUE(discgen::writeDisc(dir_ + "/enhanced", enhanced, &error)) << error;
    }
    void TearDown() override {
        window_.reset();
        AppMessages::SetHook(nullptr);
        SetQuestionHook(nullptr);
        unsetenv("XDG_CACHE_HOME");
        setenv("VELMORA_ACCURATERIP_URL", "http://127.0.0.1:9", 1);
        QDir(QString::fromStdString(dir_)).removeRecursively();
    }

    // The window over the drive with these settings, its timer held still.
    void Open(const std::string& model) {
        ASSERT_EQ(Emu("reset=1;" + model), 0) << model;
        window_ = std::make_unique<TfrmMain>(CdRipDll());
        frmMain = window_.get();
        window_->Timer1->stop();
    }
    // Every audio row (or the first alone) to WAV files in out/, the report in out.json.
    void RipAll(bool firstOnly = false) {
        Settings.OutDir = dir_ + "/out";
        Settings.OpenWhenDone = false;
        window_->ReportPath = dir_ + "/out.json";
        if (firstOnly)
            window_->Row(0)->setCheckState(0, Qt::Checked);
        else
            window_->SelectAll1Click();
        window_->ExtractTracksToWAVFiles1Click();
    }
    nlohmann::json Report() const {
        return nlohmann::json::parse(ReadText(dir_ + "/out.json"), nullptr, false);
    }
    std::string Log() const {
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(dir_ + "/out", ec))
            if (e.path().extension() == ".log")
                return ReadText(e.path().string());
        return {};
    }
    // Sectors first..last of the music disc as a drive of this read offset delivers
    // them, corrected: the disc's samples, silence beyond its audio.
    std::string Expected(int32_t first, int32_t last, int32_t offset) const {
        std::string out(size_t(last - first + 1) * kSector, '\0');
        const int64_t samples = int64_t(bin_.size() / 4);
        for (size_t i = 0; i < out.size() / 4; ++i) {
            const int64_t sample = int64_t(first) * 588 + int64_t(i);
            if (sample + offset >= 0 && sample + offset < samples)
                std::memcpy(&out[i * 4], &bin_[size_t(sample) * 4], 4);
        }
        return out;
    }
    QString Text(int row, int column) const { return window_->Row(row)->text(column); }

    std::string dir_;
    std::vector<uint8_t> bin_;
    std::unique_ptr<TfrmMain> window_;
    std::vector<AppMessages::Message> messages_;
};

const std::string kModel = "vendor=TESTCO;model=DRIVE 7;revision=9.99";
const int32_t kFirst[3] = {0, 211, 368}, kLast[3] = {210, 367, 600};
const char* const kTitles[3] = {"One", "Two", "Three"};

class WindowListOffset : public WindowDriveJob, public testing::WithParamInterface<int> {};

// The drive's read offset is not in the settings: the window looks it up by the drive's
// name in the list served here, and the files are the disc's audio at that offset.
TEST_P(WindowListOffset, FilesAreTheDiscAtTheListedOffset) {
    const int16_t offset = int16_t(GetParam());
    LocalServer server = ServeDriveList(dir_ + "/server", offset);
    setenv("VELMORA_ACCURATERIP_URL", server.Url().c_str(), 1);
    Open("cue=" + dir_ + "/music.cue;" + kModel + ";offset=" + std::to_string(offset));
    ASSERT_EQ(window_->RowCount(), 3);
    RipAll();
    for (int t = 0; t < 3; ++t) {
        SCOPED_TRACE(kTitles[t]);
        EXPECT_EQ(Text(t, 0), kTitles[t]); // the rows' titles are the disc's CD-TEXT
        EXPECT_EQ(Text(t, 3), "OK");
        const std::string wav = ReadText(dir_ + "/out/" + kTitles[t] + ".wav");
        const std::string want = Expected(kFirst[t], kLast[t], offset);
        ASSERT_EQ(wav.size(), 44 + want.size());
        EXPECT_TRUE(wav.compare(44, std::string::npos, want) == 0);
    }
    const std::string sign = offset > 0 ? "+" : "";
    EXPECT_THAT(Log(),
                testing::HasSubstr("Read offset: " + sign + std::to_string(offset) + " samples\n"));
    EXPECT_EQ(Report()["read_offset"], offset);
    EXPECT_TRUE(std::filesystem::exists(dir_ + "/cache/velmora-ripper/DriveOffsets.bin"));
}

INSTANTIATE_TEST_SUITE_P(Offsets, WindowListOffset, testing::Values(0, 6, 667, -472),
                         [](const testing::TestParamInfo<int>& row) {
                             return row.param < 0 ? "Minus" + std::to_string(-row.param)
                                                  : "Plus" + std::to_string(row.param);
                         });

// An Enhanced CD with its data track in a second session: the rows end with the data
// track, the audio ends 11,400 sectors before it, and the log's IDs are those of the
// two sessions' table.
TEST_F(WindowDriveJob, EnhancedCdHasTheSessionsIds) {
    Open("cue=" + dir_ + "/enhanced.cue;sessions=2;" + kModel);
    ASSERT_EQ(window_->RowCount(), 4);
    EXPECT_EQ(Text(2, 2).toStdString(), "0:02"); // track 3 ends where the gap begins
    RipAll();
    for (int t = 0; t < 3; ++t)
        EXPECT_EQ(Text(t, 3), "OK") << t;
    EXPECT_EQ(Text(3, 3), "--"); // the data track is not ripped
    DiscToc toc;
    toc.Tracks = {{0, true}, {180, true}, {320, true}, {11880, false}};
    toc.LeadOut = 12180;
    const std::string log = Log();
    EXPECT_THAT(log,
                testing::HasSubstr("  AccurateRip ID: " + AccurateRipDiscIds(toc).Text() + "\n"));
    EXPECT_THAT(log, testing::HasSubstr("  CDDB disc ID: " + Hex8(CddbDiscId(toc)) + "\n"));
    DiscId* id = discid_new();
    int offsets[4] = {480 + 150, 0 + 150, 180 + 150, 320 + 150};
    ASSERT_EQ(discid_put(id, 1, 3, offsets), 1);
    EXPECT_THAT(
        log, testing::HasSubstr(std::string("  MusicBrainz disc ID: ") + discid_get_id(id) + "\n"));
    discid_free(id);
    EXPECT_THAT(log, testing::HasSubstr("      4   11880     300  data\n"));
    const std::string three = ReadText(dir_ + "/out/Track03.wav");
    EXPECT_EQ(three.size(), 44 + 160 * kSector);
}

// The disc's MCN and track 2's ISRC, as the drive reads them from the sub-channel, go
// into the cue sheet beside the files with the disc's CD-TEXT.
TEST_F(WindowDriveJob, CodesAndCdTextFromTheDriveGoIntoTheCueSheet) {
    Open("cue=" + dir_ + "/music.cue;" + kModel + ";mcn=0724384260729;isrc2=USRC17607839");
    ASSERT_EQ(window_->RowCount(), 3);
    RipAll();
    std::string sheet;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir_ + "/out", ec))
        if (e.path().extension() == ".cue")
            sheet = ReadText(e.path().string());
    EXPECT_THAT(sheet, testing::HasSubstr("CATALOG 0724384260729\n"));
    EXPECT_THAT(sheet, testing::HasSubstr("TITLE \"Caf\xc3\xa9 Songs\"\n"));
    const size_t two = sheet.find("TRACK 02 AUDIO"), three = sheet.find("TRACK 03 AUDIO");
    ASSERT_NE(two, std::string::npos) << sheet;
    ASSERT_NE(three, std::string::npos) << sheet;
    const size_t isrc = sheet.find("ISRC USRC17607839\n");
    EXPECT_GT(isrc, two);
    EXPECT_LT(isrc, three);
    EXPECT_EQ(sheet.find("ISRC "), isrc) << sheet;
}

// The drive's READ CD commands so far.
long EmuReads() {
    using Stats = int (*)(char*, int);
    auto stats = reinterpret_cast<Stats>(dlsym(RTLD_DEFAULT, "velmora_emudrive_stats"));
    char text[1024] = {};
    if (!stats || stats(text, sizeof text) != 0)
        return -1;
    const char* at = std::strstr(text, "\"reads\":");
    return at ? std::atol(at + 8) : -1;
}

// A sector the disc holds wrong, alike on every read: the reads prove it, the database
// (answering with the true audio's checksums) does not; the row says "Not accurate".
TEST_F(WindowDriveJob, SectorWrongOnEveryReadIsNotAccurateInItsRow) {
    DiscToc toc;
    for (int t = 0; t < 3; ++t)
        toc.Tracks.push_back({kFirst[t], true});
    toc.LeadOut = 601;
    const AccurateRipIds ids = AccurateRipDiscIds(toc);
    std::vector<BuiltTrack> tracks;
    for (int t = 0; t < 3; ++t) {
        ArChecksum ar(uint64_t(kLast[t] - kFirst[t] + 1) * 588, t == 0, t == 2);
        ar.Update(bin_.data() + size_t(kFirst[t]) * kSector,
                  size_t(kLast[t] - kFirst[t] + 1) * kSector);
        tracks.push_back({5, ar.V2()});
    }
    const std::string file = dir_ + "/db" + DbarUrl("", ids);
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    std::ofstream(file, std::ios::binary) << DbarRecordBytes(ids.Id1, ids.Id2, ids.Cddb, tracks);
    LocalServer server(
        {"python3", std::string(VERIFY_TEST_DIR) + "/dbar_server.py", dir_ + "/db", "30", "4"});
    setenv("VELMORA_ACCURATERIP_URL", server.Url().c_str(), 1);
    Settings.ReadOffset = 0;
    Open("cue=" + dir_ + "/music.cue;" + kModel + ";wrong=300:4");
    ASSERT_EQ(window_->RowCount(), 3);
    RipAll();
    EXPECT_EQ(Text(0, 3), "OK");
    EXPECT_EQ(Text(1, 3), "Not accurate");
    EXPECT_EQ(Text(2, 3), "OK");
    EXPECT_EQ(window_->lblStatus->text(), "2 of 3 tracks accurately ripped; 1 not accurate");
    const nlohmann::json report = Report();
    ASSERT_TRUE(report.is_object());
    EXPECT_EQ(report["exit"], 3);
    EXPECT_EQ(report["tracks"][1]["outcome"], "not accurate");
    EXPECT_EQ(report["tracks"][1]["damaged"], nlohmann::json::array());
    // Every byte of track 2 as the disc holds it, one sample of sector 300 wrong.
    const std::string two = ReadText(dir_ + "/out/Two.wav");
    const std::string want = Expected(211, 367, 0);
    ASSERT_EQ(two.size(), 44 + want.size());
    size_t wrong = 0;
    for (size_t i = 0; i < want.size(); ++i)
        wrong += two[44 + i] != want[i] ? 1 : 0;
    EXPECT_EQ(wrong, 4u);
    EXPECT_NE(
        two.compare(44 + (300 - 211) * kSector + 1000, 4, want, (300 - 211) * kSector + 1000, 4),
        0);
}

struct MidRipCase {
    const char* name;
    std::string model; // the event, after as many READ CD as the number that follows
    bool oldFile;      // a file of track 2's name was there before
    std::string reason;
};

void PrintTo(const MidRipCase& row, std::ostream* os) {
    *os << row.name;
}

class WindowMidRip : public WindowDriveJob, public testing::WithParamInterface<MidRipCase> {};

// The drive goes away, or another disc goes in, while track 2 is read: track 1 is whole,
// track 2 and 3 end with the reason, and no file is left unfinished under its name but
// what the file rules make of the part read.
TEST_P(WindowMidRip, TrackEndsWithTheReasonAndTheFileRules) {
    const MidRipCase& row = GetParam();
    // The event comes a few reads into track 2: after as many reads as track 1 takes
    // alone, and 50 more (some of its audio handed over by then). Both jobs read securely: with
    // AccurateRip first, how much of track 1 is read once first depends on when the look-up
    // answers.
    Settings.AccurateRipFirst = false;
    struct Restore {
        ~Restore() { Settings.AccurateRipFirst = true; }
    } restore;
    Open("cue=" + dir_ + "/music.cue;" + kModel);
    ASSERT_EQ(window_->RowCount(), 3);
    RipAll(true);
    ASSERT_EQ(Text(0, 3), "OK");
    const long reads = EmuReads();
    ASSERT_GT(reads, 10);
    window_.reset();
    std::filesystem::remove_all(dir_ + "/out");
    std::filesystem::create_directories(dir_ + "/out");
    if (row.oldFile)
        std::ofstream(dir_ + "/out/Two.wav") << "previous good file";
    Open("cue=" + dir_ + "/music.cue;" + kModel + row.model + std::to_string(reads + 50));
    ASSERT_EQ(window_->RowCount(), 3);
    RipAll();
    const std::string one = ReadText(dir_ + "/out/One.wav");
    ASSERT_EQ(one.size(), 44 + 211 * kSector);
    EXPECT_TRUE(one.compare(44, std::string::npos, Expected(0, 210, 0)) == 0);
    EXPECT_EQ(Text(0, 3), "OK");
    EXPECT_EQ(Text(1, 3), "Failed");
    EXPECT_EQ(window_->Row(1)->toolTip(3).toStdString(), "Unable to read the track: " + row.reason);
    EXPECT_EQ(Text(2, 3), "Cancelled");
    const nlohmann::json report = Report();
    ASSERT_TRUE(report.is_object());
    EXPECT_EQ(report["tracks"][0]["outcome"], "exact");
    EXPECT_EQ(report["tracks"][1]["outcome"], "failed");
    EXPECT_EQ(report["tracks"][1]["reason"], "Unable to read the track: " + row.reason);
    // Track 2 never holds its final name with what was read: the previous file stays, or
    // nothing is there; what was read is kept beside it under the partial file's name,
    // which the report tells.
    if (row.oldFile)
        EXPECT_EQ(ReadText(dir_ + "/out/Two.wav"), "previous good file");
    else
        EXPECT_FALSE(std::filesystem::exists(dir_ + "/out/Two.wav"));
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/out/Three.wav"));
    std::vector<std::string> hidden;
    for (const auto& entry : std::filesystem::directory_iterator(dir_ + "/out"))
        if (entry.path().filename().string()[0] == '.')
            hidden.push_back(entry.path().string());
    ASSERT_EQ(hidden.size(), 1u);
    EXPECT_EQ(hidden[0].rfind(dir_ + "/out/.Two.wav.partial-", 0), 0u) << hidden[0];
    EXPECT_EQ(report["tracks"][1]["partial_file"], hidden[0]);
    const std::string two = ReadText(hidden[0]);
    ASSERT_GT(two.size(), 44u);
    ASSERT_LT(two.size(), 44u + 157u * kSector);
    EXPECT_TRUE(two.compare(44, std::string::npos, Expected(211, 367, 0), 0, two.size() - 44) == 0);
    // The reason reaches the user, in a warning of its own.
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].Icon, QMessageBox::Warning);
    EXPECT_TRUE(messages_[0].Text.startsWith(
        QString::fromStdString("Unable to read the track: " + row.reason + "\n\nThe log is ")))
        << messages_[0].Text.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Events, WindowMidRip,
    testing::Values(MidRipCase{"Gone", ";gone_after=", false, "the drive is gone"},
                    MidRipCase{"GoneKeepsTheOldFile", ";gone_after=", true, "the drive is gone"},
                    MidRipCase{"Changed", ";change_after=", false, "the disc was changed"}),
    [](const testing::TestParamInfo<MidRipCase>& row) { return row.param.name; });

struct SwapCase {
    const char* name;
    std::vector<std::string> events; // what happens to the drive after the rows were read
    bool rename;                     // the user typed a title into row 1 first
    bool play;                       // Play is pressed instead of WAV
    int rows;                        // rows afterwards
    QString status;                  // the status line afterwards ("": the job's summary)
};

void PrintTo(const SwapCase& row, std::ostream* os) {
    *os << row.name;
}

class WindowSwap : public WindowDriveJob, public testing::WithParamInterface<SwapCase> {};

// Another disc goes in (or the disc goes out) after the window listed the music disc,
// without a button pressed: nothing of it is read or played under the music disc's rows.
// The rows become the disc's in the drive, the status line says that nothing was done,
// and a title the user typed for the music disc is kept in its section of cdplayer.ini.
// The same disc taken out and put back is still the one the rows show, and is ripped.
TEST_P(WindowSwap, DiscUnderTheRowsIsTheOneTheyShow) {
    const SwapCase& row = GetParam();
    Open("cue=" + dir_ + "/music.cue;" + kModel);
    ASSERT_EQ(window_->RowCount(), 3);
    const std::string key = window_->RIPPER->GetDiscID();
    if (row.rename)
        window_->Row(0)->setText(0, QStringLiteral("My Own"));
    for (std::string event : row.events) {
        if (event == "change=ENHANCED")
            event = "change=" + dir_ + "/enhanced.cue";
        ASSERT_EQ(Emu(event), 0) << event;
    }
    const long reads = EmuReads();
    if (row.play) {
        window_->btnPlayClick();
    } else {
        RipAll();
    }
    ASSERT_EQ(window_->RowCount(), row.rows);
    if (row.status.isEmpty()) { // ripped
        for (int t = 0; t < 3; ++t)
            EXPECT_EQ(Text(t, 3), "OK") << t;
        EXPECT_EQ(window_->lblStatus->text().toStdString(),
                  "3 tracks ripped, the AccurateRip database did not answer");
        EXPECT_EQ(ReadText(dir_ + "/out/Two.wav").size(), 44 + 157 * kSector);
        return;
    }
    EXPECT_EQ(window_->lblStatus->text().toStdString(), row.status.toStdString());
    // The status line is one line of fixed width: the whole text must show in it (the
    // longest, with the saved titles, takes 497 of its 520 pixels here).
    EXPECT_LE(window_->lblStatus->fontMetrics().horizontalAdvance(row.status),
              window_->lblStatus->width());
    EXPECT_EQ(EmuReads(), reads); // not a sector read
    EXPECT_FALSE(window_->Playing);
    EXPECT_EQ(window_->CurrentTrack, -1);
    EXPECT_TRUE(messages_.empty());
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/out.json"));
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/out"));
    for (int i = 0; i < window_->RowCount(); ++i) {
        EXPECT_EQ(window_->Row(i)->checkState(0), Qt::Unchecked) << i;
        EXPECT_EQ(Text(i, 3), "--") << i;
    }
    if (row.rows == 4) { // the Enhanced CD: three audio tracks and its data track
        EXPECT_EQ(Text(3, 0), "Track04");
    }
    // The music disc's section holds the typed title, and the track's own names where
    // the rows showed CD-TEXT: a found title is saved only when the user saves.
    std::string artist, album, year, genre;
    std::vector<std::string> titles;
    ASSERT_TRUE(ReadCDInfo(key, artist, album, year, genre, titles));
    if (row.rename) {
        EXPECT_EQ(titles, (std::vector<std::string>{"My Own", "Track02", "Track03"}));
    } else {
        EXPECT_TRUE(titles.empty());
    }
}

const QString kRipped =
    QStringLiteral("Another disc is in the drive: nothing was ripped. Its tracks are listed now.");

INSTANTIATE_TEST_SUITE_P(
    Events, WindowSwap,
    testing::Values(
        SwapCase{"AnotherDiscBeforeTheRip", {"change=ENHANCED"}, false, false, 4, kRipped},
        SwapCase{"AnotherDiscBeforePlay",
                 {"change=ENHANCED"},
                 false,
                 true,
                 4,
                 QStringLiteral("Another disc is in the drive: nothing was played. Its tracks "
                                "are listed now.")},
        SwapCase{"TypedTitleIsKept",
                 {"change=ENHANCED"},
                 true,
                 false,
                 4,
                 kRipped + QStringLiteral(" Your titles are saved.")},
        SwapCase{"TakenOut",
                 {"tray=open"},
                 false,
                 false,
                 0,
                 QStringLiteral("The disc is no longer in the drive: nothing was ripped.")},
        SwapCase{"TakenOutAndPutBack", {"tray=open", "tray=closed"}, false, false, 3, QString()}),
    [](const testing::TestParamInfo<SwapCase>& row) { return row.param.name; });

} // namespace
