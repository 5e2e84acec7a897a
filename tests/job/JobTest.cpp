// The extraction job in its progress dialog, run for real: our CD ripping library on
// a generated disc image, the real encoder, real files in a temporary folder. Only the
// shell's "open" and the questions are answered by hooks.
#include "FileBytes.h"
#include "ui/uprg.h"

#include "cdaccess/CDRIP.h"
#include "discgen.h"
#include "encoding/AudioCheck.h"
#include "encoding/FlacDecode.h"
#include "encoding/LameCoder.h"
#include "encoding/MP3Info.h"
#include "encoding/ReplayGain.h"
#include "platform/AppInfo.h"
#include "platform/Paths.h"
#include "settings/globals.h"
#include "ui/AppErrors.h"
#include "ui/GradProgress.h"
#include "ui/QuestionDlg.h"
#include "verify/ArChecksum.h"
#include "verify/ArLookup.h"
#include "verify/RipProof.h"

#include "../cdaccess/Mutagen.h"
#include "../verify/DbarBuilder.h"
#include "../verify/LocalServer.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <memory>
#include <ostream>
#include <unistd.h>
#include <zlib.h>

namespace fs = std::filesystem;

namespace {

// Ten audio tracks of 150 sectors (two seconds) each, pregaps of 0: track i starts
// at LSN 150 * i and lies in the image at byte 2352 * 150 * i.
constexpr int kTracks = 10;
constexpr int kSectors = 150;
const discgen::DiscSpec& Disc() {
    static const discgen::DiscSpec plan = discgen::simpleDisc(7, kTracks, kSectors);
    return plan;
}

std::vector<uint8_t> ReadFile(const fs::path& p) {
    return FileBytesOf(p.string());
}

void WriteFile(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}

// The PCM of track `track` (1-based) as the image holds it.
std::vector<uint8_t> TrackPcm(int track) {
    static const std::vector<uint8_t> image = discgen::imageBytes(Disc());
    const auto begin = image.begin() + std::ptrdiff_t(track - 1) * kSectors * 2352;
    return {begin, begin + kSectors * 2352};
}

// The title field of a file's ID3v1 tag, read from the last 128 bytes.
std::string Id3Title(const fs::path& p) {
    const std::vector<uint8_t> bytes = ReadFile(p);
    if (bytes.size() < 128)
        return "<short>";
    const auto tag = bytes.end() - 128;
    if (std::string(tag, tag + 3) != "TAG")
        return "<no tag>";
    // The field is padded with zeros or blanks.
    std::string title(tag + 3, tag + 33);
    title = title.substr(0, title.find('\0'));
    return title.substr(0, title.find_last_not_of(' ') + 1);
}

// The ripper's call table: the real library, with calls that a test may replace.
TCdRipDll& Dll() {
    static TCdRipDll table = RealCdRipDll();
    return table;
}

class JobTest : public testing::Test {
protected:
    static inline fs::path root;
    static inline std::unique_ptr<TLameCoder> coder;
    static inline std::unique_ptr<TCDRIP> ripper;
    static inline std::unique_ptr<TMP3Info> info;

    fs::path out;
    QTreeWidget list;
    int ripPercent = 0;
    std::vector<QUrl> opened;
    std::vector<std::string> errors;                   // the crash report: faults of the program
    std::vector<AppMessages::Message> boxes;           // message boxes, answered OK
    std::function<Metadata::TagFields(int)> tagFields; // the window's tags of a row
    std::string coverNote; // why the release has no cover, as the look-up said
    std::vector<QString> statusLines, pathLines;
    std::vector<QString> summaries; // the status line's summary after a job
    Tfrmprg* running = nullptr;
    std::function<void(int)> onProgress; // percent; runs inside the job

    static void SetUpTestSuite() {
        root = fs::temp_directory_path() / ("velmora-job-" + std::to_string(::getpid()));
        fs::create_directories(root / "config");
        ::setenv("HOME", root.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
        std::string error;
        ASSERT_TRUE(discgen::writeDisc((root / "disc").string(), Disc(), &error)) << error;
        ::setenv("CDRIP_IMAGES", (root / "disc.cue").c_str(), 1);
        coder = std::make_unique<TLameCoder>();
        ripper = std::make_unique<TCDRIP>(Dll());
        ripper->WriteWAV = true;
        ripper->SetCoder(coder.get());
        ripper->SetCDRomNum(ripper->GetNumCDROM() - 1); // the image comes last
        info = std::make_unique<TMP3Info>();
    }
    static void TearDownTestSuite() {
        info.reset();
        ripper.reset();
        coder.reset();
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    void SetUp() override {
        ASSERT_EQ(ripper->Tracks.Count(), kTracks);
        out = root / testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(out);
        SetDefaultSettings();
        Settings.OutDir = out.string();
        Settings.OpenWhenDone = true;
        ClearNextAnswers();
        SetBeepHook([](TBeepKind) {});
        AppMessages::SetHook([this](const AppMessages::Message& m) {
            boxes.push_back(m);
            return int(QMessageBox::Ok);
        });
        list.setColumnCount(5);
        for (int i = 0; i < kTracks; ++i) {
            auto* row = new QTreeWidgetItem(&list);
            row->setText(TrackColumns::Title, QString::fromStdString(ripper->Tracks.Strings(i)));
            row->setText(TrackColumns::No, QString::fromStdString(TwoDigits(i + 1)));
            row->setText(TrackColumns::Status, "--");
            row->setText(TrackColumns::Index, QString::number(i));
            row->setCheckState(TrackColumns::Title, Qt::Unchecked);
        }
        ripper->ProcessMessages = [] { QCoreApplication::processEvents(); };
        ripper->OnProgress = [this](TCDRIP*, uint16_t p) {
            ripPercent = p;
            if (onProgress)
                onProgress(p);
        };
        ripper->OnBeginTrack = [this](TCDRIP*, uint16_t) {
            statusLines.push_back(running->lblStatus->text());
            pathLines.push_back(running->lblPath->text());
        };
    }
    void TearDown() override {
        Dll().CR_OpenRipper = RealCdRipDll().CR_OpenRipper;
        Dll().CR_DiscChanged = RealCdRipDll().CR_DiscChanged;
        ripper->SetCoder(coder.get());
        ripper->OnProgress = nullptr;
        ripper->OnBeginTrack = nullptr;
        ripper->ProcessMessages = nullptr;
        SetQuestionHook({});
        SetBeepHook({});
        AppMessages::SetHook(nullptr);
        ClearNextAnswers();
        // A box a test did not take with TakeBoxes() was not expected.
        for (const AppMessages::Message& m : boxes)
            ADD_FAILURE() << "unexpected message box: " << m.Text.toStdString();
        EXPECT_TRUE(errors.empty()) << errors.front();
    }

    // The message boxes the job showed so far, as warnings with the program's title:
    // their texts.
    std::vector<std::string> TakeBoxes() {
        std::vector<std::string> texts;
        for (const AppMessages::Message& m : boxes) {
            EXPECT_EQ(m.Icon, QMessageBox::Warning);
            EXPECT_EQ(m.Caption.toStdString(), AppInfo::Title);
            texts.push_back(m.Text.toStdString());
        }
        boxes.clear();
        return texts;
    }
    // A failed job's box: why, then where the log went.
    std::string FailureBox(const std::string& why) const {
        return why + "\n\nThe log is " + LogFile().string();
    }
    // The one log in the output folder.
    fs::path LogFile() const {
        fs::path log;
        for (const auto& e : fs::directory_iterator(out)) {
            if (e.path().extension() == ".log") {
                EXPECT_TRUE(log.empty()) << "a second log: " << e.path();
                log = e.path();
            }
        }
        return log;
    }
    // A row's status, its tooltip and whether it is red.
    void ExpectRow(int row, const QString& status, const std::string& tip, bool red) const {
        const QTreeWidgetItem* item = list.topLevelItem(row);
        EXPECT_EQ(item->text(TrackColumns::Status), status) << row;
        EXPECT_EQ(item->toolTip(TrackColumns::Status).toStdString(), tip) << row;
        EXPECT_EQ(item->foreground(TrackColumns::Status).color() == QColor(Qt::red), red) << row;
    }

    void Tick(std::initializer_list<int> rows) {
        for (int r : rows)
            list.topLevelItem(r)->setCheckState(TrackColumns::Title, Qt::Checked);
    }
    QString Status(int row) const { return list.topLevelItem(row)->text(TrackColumns::Status); }

    TJobTargets Targets() {
        TJobTargets t;
        t.RIPPER = ripper.get();
        t.MP3Info1 = info.get();
        t.ListView1 = &list;
        t.RipPercent = &ripPercent;
        t.HandleProc = [this](const std::exception& e) { errors.push_back(e.what()); };
        t.ShellOpen = [this](const QUrl& u) { opened.push_back(u); };
        t.ShowSummary = [this](const QString& text) { summaries.push_back(text); };
        t.TrackFields = tagFields;
        t.CoverNote = coverNote;
        return t;
    }

    // Runs a job in a modal dialog; its timer ticks quickly so that the test does not
    // wait the second that a user waits.
    int Run(bool toWave, std::function<void(Tfrmprg&)> before = {}) {
        Tfrmprg dlg(Targets());
        dlg.ToWave = toWave;
        dlg.Timer1->setInterval(10);
        running = &dlg;
        if (before)
            before(dlg);
        const int result = dlg.exec();
        EXPECT_EQ(dlg.prgTotalProgress->Position(), 0);
        EXPECT_FALSE(dlg.isVisible());
        running = nullptr;
        return result;
    }

    QUrl OutUrl() const { return QUrl::fromLocalFile(QString::fromStdString(out.string()) + "/"); }
};

} // namespace

// Ticked rows 2, 5 and 7 of ten: three WAV files, byte for byte the image's tracks
// behind a 44-byte header.
TEST_F(JobTest, WavJobOfThreeTickedTracks) {
    Tick({1, 4, 6});
    EXPECT_EQ(Run(true), mrOk);
    EXPECT_EQ(statusLines,
              (std::vector<QString>{"Extract Track02 (1 of 3)...", "Extract Track05 (2 of 3)...",
                                    "Extract Track07 (3 of 3)..."}));
    EXPECT_EQ(pathLines[0], "To " + QString::fromStdString((out / "Track02.wav").string()));
    for (int track : {2, 5, 7}) {
        const std::vector<uint8_t> wav =
            ReadFile(out / ("Track0" + std::to_string(track) + ".wav"));
        ASSERT_EQ(wav.size(), 44u + kSectors * 2352) << track;
        EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
        EXPECT_TRUE(std::equal(wav.begin() + 44, wav.end(), TrackPcm(track).begin()))
            << "track " << track;
    }
    for (int row = 0; row < kTracks; ++row)
        EXPECT_EQ(Status(row), (row == 1 || row == 4 || row == 6) ? "OK" : "--") << row;
    EXPECT_EQ(opened, std::vector<QUrl>{OutUrl()});
    EXPECT_EQ(ripPercent, 0);
    EXPECT_TRUE(errors.empty());
}

// MP3 mode: the ID3v1 title of each file is its row's caption, as listed.
TEST_F(JobTest, Mp3JobTagsTitles) {
    Tick({0, 3, 9});
    list.topLevelItem(0)->setText(0, "Morning Light");
    list.topLevelItem(3)->setText(0, "Caf\u00e9 Noir");
    EXPECT_EQ(Run(false), mrOk);
    EXPECT_EQ(Id3Title(out / "Morning Light.mp3"), "Morning Light");
    EXPECT_EQ(Id3Title(out / "Caf\u00e9 Noir.mp3"), "Caf\xe9 Noir"); // Windows-1252 in the tag
    EXPECT_EQ(Id3Title(out / "Track10.mp3"), "Track10");
    const std::vector<uint8_t> mp3 = ReadFile(out / "Track10.mp3");
    ASSERT_GT(mp3.size(), 1000u);
    // The ID3v2 tag with the track's and the album's gain, then the MPEG frames.
    ASSERT_EQ(std::string(mp3.begin(), mp3.begin() + 3), "ID3");
    const std::size_t audio =
        10 + (std::size_t(mp3[6]) << 21 | std::size_t(mp3[7]) << 14 | mp3[8] << 7 | mp3[9]);
    ASSERT_LT(audio + 1, mp3.size());
    EXPECT_EQ(mp3[audio], 0xFF);
    EXPECT_EQ(mp3[audio + 1] & 0xE0, 0xE0);
    EXPECT_FALSE(fs::exists(out / "Track10.wav"));
    EXPECT_EQ(Status(9), "OK");
    EXPECT_EQ(opened.size(), 1u);
}

// MP3 from the window gets the gain frames velmora-rip writes: the track's when its file
// is written, the album's when the job ends, of the PCM as read; none with ReplayGain off.
TEST_F(JobTest, Mp3JobWritesTheReplayGainFrames) {
    using namespace Encoding;
    TLoudnessMeter meters[2];
    for (int i = 0; i < 2; ++i) {
        std::string error;
        ASSERT_TRUE(meters[i].Start(44100, 2, &error)) << error;
        const std::vector<uint8_t> pcm = TrackPcm(i + 2);
        ASSERT_TRUE(meters[i].Add(pcm.data(), pcm.size(), &error)) << error;
    }
    const TLoudness album = TLoudnessMeter::Together({&meters[0], &meters[1]});
    for (bool on : {true, false}) {
        SCOPED_TRACE(on ? "ReplayGain on" : "ReplayGain off");
        fs::remove_all(out);
        Tick({1, 2});
        Settings.ReplayGain = on;
        EXPECT_EQ(Run(false), mrOk);
        for (int i = 0; i < 2; ++i) {
            const fs::path file = out / ("Track0" + std::to_string(i + 2) + ".mp3");
            if (on) {
                const nlohmann::json m = MutagenFrames(file.string());
                ASSERT_TRUE(m.is_object());
                const TLoudness track = meters[i].Result();
                ASSERT_TRUE(track.Valid && album.Valid);
                const nlohmann::json expected = {
                    {"TXXX:REPLAYGAIN_TRACK_GAIN", {GainText(ReplayGainDb(track.Lufs)), 3}},
                    {"TXXX:REPLAYGAIN_TRACK_PEAK", {PeakText(track.Peak), 3}},
                    {"TXXX:REPLAYGAIN_ALBUM_GAIN", {GainText(ReplayGainDb(album.Lufs)), 3}},
                    {"TXXX:REPLAYGAIN_ALBUM_PEAK", {PeakText(album.Peak), 3}}};
                EXPECT_EQ(m["frames"], expected) << file;
            } else {
                // No tag to write: the MPEG frames start the file.
                const std::vector<uint8_t> mp3 = ReadFile(file);
                ASSERT_GT(mp3.size(), 2u);
                EXPECT_EQ(mp3[0], 0xFF);
                EXPECT_EQ(mp3[1] & 0xE0, 0xE0);
            }
            EXPECT_EQ(Id3Title(file), "Track0" + std::to_string(i + 2)) << "the ID3v1 tag stays";
            EXPECT_EQ(Status(i + 1), "OK");
        }
        EXPECT_TRUE(errors.empty());
    }
}

// The ID3v2 fields of every ticked row are taken once, on the window's thread, when the
// job starts (the encoder threads write them); a row renamed while the job runs changes
// neither its file's name nor its tags.
TEST_F(JobTest, Mp3TagsAreTakenWhenTheJobStarts) {
    Tick({1, 3});
    std::vector<int> rowsAsked;
    tagFields = [&](int row) {
        rowsAsked.push_back(row);
        Metadata::TagFields f;
        f.Title = list.topLevelItem(row)->text(0).toStdString();
        f.Artist = "Quiet Band";
        f.Track = row + 1;
        f.TrackTotal = kTracks;
        return f;
    };
    onProgress = [&](int) { list.topLevelItem(3)->setText(0, "Renamed"); };
    EXPECT_EQ(Run(false), mrOk);
    onProgress = nullptr;
    tagFields = nullptr;
    EXPECT_EQ(rowsAsked, (std::vector<int>{1, 3}));
    EXPECT_FALSE(fs::exists(out / "Renamed.mp3"));
    for (int row : {1, 3}) {
        const std::string name = "Track0" + std::to_string(row + 1);
        const fs::path file = out / (name + ".mp3");
        EXPECT_EQ(Id3Title(file), name);
        const nlohmann::json tags = MutagenFrames(file.string());
        ASSERT_TRUE(tags.is_object()) << name;
        EXPECT_EQ(tags["frames"]["TIT2"][0], name);
        EXPECT_EQ(tags["frames"]["TPE1"][0], "Quiet Band");
        EXPECT_EQ(tags["frames"]["TRCK"][0], std::to_string(row + 1) + "/10");
        EXPECT_EQ(Status(row), "OK");
    }
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(Run(true), mrOk); // WAV files: no tags asked for
    EXPECT_EQ(rowsAsked.size(), 2u);
}

struct NameCase {
    const char* name;
    const char* outDir;
    const char* title;
    const char* expected;
};

// Test names show the row's name instead of its bytes.
void PrintTo(const NameCase& row, std::ostream* os) {
    *os << row.name;
}

class OutputNames : public JobTest, public testing::WithParamInterface<NameCase> {};

// "MUSIC" in an expected name stands for the user's music folder.
TEST_P(OutputNames, Formed) {
    Settings.OutDir = GetParam().outDir;
    list.topLevelItem(2)->setText(0, GetParam().title);
    Tfrmprg dlg(Targets());
    QString expected = GetParam().expected;
    expected.replace("MUSIC", QString::fromStdString(Paths::musicFolder()));
    EXPECT_EQ(dlg.GetOutputfilename(2), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, OutputNames,
    testing::Values(NameCase{"Plain", "/m/out", "Track03", "/m/out/Track03.wav"},
                    NameCase{"TrailingSlash", "/m/out/", "Track03", "/m/out/Track03.wav"},
                    NameCase{"Blanks", "  /m/out \t", " Track03  ", "/m/out/Track03.wav"},
                    // An empty output folder would be the root folder: the music folder
                    // stands in.
                    NameCase{"EmptyFolder", "", "Track03", "MUSIC/Track03.wav"},
                    NameCase{"BlankFolder", " \t ", "Track03", "MUSIC/Track03.wav"},
                    NameCase{"SubFolder", "/m", "Album/Song", "/m/Album/Song.wav"},
                    NameCase{"OddCharacters", "/m", "a?b*c:d\\e", "/m/a?b*c:d\\e.wav"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(JobTest, TitleWithSubFolderMakesIt) {
    Tick({2});
    Settings.OutDir = "  " + out.string() + "/  ";
    list.topLevelItem(2)->setText(0, " Live Set/Night/Track03 ");
    EXPECT_EQ(Run(true), mrOk);
    EXPECT_TRUE(fs::is_regular_file(out / "Live Set" / "Night" / "Track03.wav"));
    // The cue sheet lies in the trimmed folder too, not in a blank-named one under the
    // current folder.
    const fs::path cue = out / (ripper->GetDiscID() + ".cue");
    EXPECT_TRUE(fs::is_regular_file(cue)) << cue;
    EXPECT_FALSE(fs::exists(fs::current_path() / "  ")) << fs::current_path();
    EXPECT_EQ(opened, std::vector<QUrl>{QUrl::fromLocalFile(
                          QString::fromStdString((out / "Live Set" / "Night").string()) + "/")});
}

struct EscapeCase {
    const char* name;
    const char* title;
    const char* shown; // the title as the message shows it: trimmed, controls as \xHH
};

// Test names show the row's name instead of its bytes.
void PrintTo(const EscapeCase& row, std::ostream* os) {
    *os << row.name;
}

class TitlesLeavingTheFolder : public JobTest, public testing::WithParamInterface<EscapeCase> {};

// The second of two ticked rows would leave the output folder: the first file is
// written, the second refused in a warning box and its row, the third row never reached.
TEST_P(TitlesLeavingTheFolder, Refused) {
    Tick({0, 1, 2});
    list.topLevelItem(1)->setText(0, GetParam().title);
    EXPECT_EQ(Run(true), mrOk);
    const std::string why = "Invalid file name: " + out.string() + "/" + GetParam().shown + ".wav";
    EXPECT_EQ(TakeBoxes(), std::vector<std::string>{FailureBox(why)});
    EXPECT_EQ(Status(0), "OK");
    ExpectRow(1, "Failed", why, true);
    ExpectRow(2, "Cancelled", "Not ripped: an earlier track failed: " + why, false);
    for (int row = 3; row < kTracks; ++row)
        EXPECT_EQ(Status(row), "--") << row;
    EXPECT_FALSE(fs::exists(root / "escaped.wav"));
    EXPECT_FALSE(fs::exists(out / "Track03.wav"));
    EXPECT_EQ(opened, std::vector<QUrl>{OutUrl()}); // the folder of the last good file
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TitlesLeavingTheFolder,
    testing::Values(
        EscapeCase{"Parent", "../escaped", "../escaped"},
        EscapeCase{"ParentInside", "a/../../escaped", "a/../../escaped"},
        EscapeCase{"Dot", "./x", "./x"}, EscapeCase{"Absolute", "/tmp/escaped", "/tmp/escaped"},
        EscapeCase{"BlankThenParent", " ../escaped", "../escaped"},
        EscapeCase{"ParentThenBlank", "../escaped ", "../escaped"},
        EscapeCase{"TabThenParent", "\t../escaped", "../escaped"},
        EscapeCase{"ControlThenAbsolute", "\x01/tmp/escaped", "/tmp/escaped"},
        EscapeCase{"TabPart", "a/\t/b", "a/\\x09/b"}, EscapeCase{"BlankPart", "a/ /b", "a/ /b"},
        EscapeCase{"EmptyPart", "a//b", "a//b"},
        EscapeCase{"EscapeInside", "a\x1b[2Jb", "a\\x1B[2Jb"}, EscapeCase{"Blank", "  ", ""}),
    [](const auto& row) { return std::string(row.param.name); });

// A file that cannot be created ends the job with a warning box and the reason in the
// rows; the crash report stays silent.
TEST_F(JobTest, UncreatableFileEndsTheJob) {
    Tick({0, 1});
    fs::create_directories(out / "Track01.wav"); // a folder where the file should go
    EXPECT_EQ(Run(true), mrOk);
    const std::string why =
        "Cannot create file " + (out / "Track01.wav").string() + ": Is a directory";
    EXPECT_EQ(TakeBoxes(), std::vector<std::string>{FailureBox(why)});
    ExpectRow(0, "Failed", why, true);
    ExpectRow(1, "Cancelled", "Not ripped: an earlier track failed: " + why, false);
    EXPECT_FALSE(fs::exists(out / "Track02.wav"));
}

struct AnswerCase {
    const char* name;
    std::vector<int> answers; // one per question, in order
    int questions;            // how many questions the job asks
    std::vector<bool> replaced;
    bool opened;
};

// Test names show the row's name instead of its bytes.
void PrintTo(const AnswerCase& row, std::ostream* os) {
    *os << row.name;
}

class OverwriteQuestion : public JobTest, public testing::WithParamInterface<AnswerCase> {};

// Three ticked tracks whose files exist already.
TEST_P(OverwriteQuestion, Answered) {
    fs::create_directories(out);
    Tick({0, 1, 2});
    for (int t = 1; t <= 3; ++t)
        WriteFile(out / ("Track0" + std::to_string(t) + ".wav"), "old");
    std::vector<QString> asked;
    size_t next = 0;
    SetQuestionHook([&](QDialog& dlg) {
        asked.push_back(dlg.findChild<QLabel*>("Message")->text());
        EXPECT_EQ(dlg.windowTitle().toStdString(), AppInfo::Title);
        return next < GetParam().answers.size() ? GetParam().answers[next++] : int(mrYes);
    });
    EXPECT_EQ(Run(true), mrOk);
    ASSERT_EQ(int(asked.size()), GetParam().questions);
    EXPECT_EQ(asked[0], QString::fromStdString((out / "Track01.wav").string()) +
                            " already exists,do you want to replace it?");
    for (int t = 1; t <= 3; ++t) {
        const auto bytes = ReadFile(out / ("Track0" + std::to_string(t) + ".wav"));
        EXPECT_EQ(bytes.size() > 3, GetParam().replaced[t - 1]) << t;
        EXPECT_EQ(Status(t - 1), GetParam().replaced[t - 1] ? "OK" : "--") << t;
    }
    EXPECT_EQ(opened.size(), GetParam().opened ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, OverwriteQuestion,
    testing::Values(AnswerCase{"YesEach", {mrYes, mrYes, mrYes}, 3, {true, true, true}, true},
                    AnswerCase{"NoFirst", {mrNo}, 1, {false, false, false}, false},
                    AnswerCase{"YesThenNo", {mrYes, mrNo}, 2, {true, false, false}, false},
                    AnswerCase{"ReplaceAll", {mrYesToAll}, 1, {true, true, true}, true},
                    AnswerCase{
                        "TitleBarClose", {mrCancel, mrYes, mrYes}, 3, {true, true, true}, true}),
    [](const auto& row) { return std::string(row.param.name); });

// Replace All lasts one job: the next job asks again.
TEST_F(JobTest, ReplaceAllLastsOneJob) {
    Tick({0, 1});
    int questions = 0;
    SetQuestionHook([&](QDialog&) {
        ++questions;
        return int(mrYesToAll);
    });
    Run(true);
    EXPECT_EQ(questions, 0);
    Run(true);
    EXPECT_EQ(questions, 1);
    EXPECT_FALSE(Settings.ConfirmOverwrite);
    Run(true);
    EXPECT_EQ(questions, 2);
}

// Cancel in the middle of an MP3 job's first track: the encoders stop with the reader,
// the partial file stays (tagged when the encoder wrote to it); no row after it is started and the
// folder is not opened.
TEST_F(JobTest, CancelDuringMp3Track) {
    Tick({0, 1, 2});
    std::vector<uint8_t> full;
    {
        Run(false);
        full = ReadFile(out / "Track01.mp3");
        fs::remove_all(out);
        for (int r = 0; r < kTracks; ++r)
            list.topLevelItem(r)->setText(TrackColumns::Status, "--");
        opened.clear();
    }
    onProgress = [this](int percent) {
        if (percent > 0 && running->lblStatus->text() == "Extract Track01 (1 of 3)...")
            running->btnCancel->click();
    };
    EXPECT_EQ(Run(false), mrCancel);
    onProgress = nullptr;
    EXPECT_EQ(Status(0), "Cancelled");
    EXPECT_EQ(Status(1), "--");
    EXPECT_EQ(Status(2), "--");
    // The encoder may not have taken the track, or written a frame of it, when it is
    // stopped; what it wrote carries the title tag and is short.
    const std::vector<uint8_t> partial = ReadFile(out / "Track01.mp3");
    if (!partial.empty()) {
        EXPECT_EQ(Id3Title(out / "Track01.mp3"), "Track01");
    }
    EXPECT_LT(partial.size(), full.size());
    EXPECT_GT(full.size(), 128u);
    EXPECT_FALSE(fs::exists(out / "Track02.mp3"));
    EXPECT_FALSE(fs::exists(out / "Track03.mp3"));
    EXPECT_TRUE(opened.empty());
}

// Esc in the progress dialog presses Cancel.
TEST_F(JobTest, EscPressesCancel) {
    Tick({0, 1});
    onProgress = [this](int) {
        QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(running, &esc);
    };
    EXPECT_EQ(Run(true), mrCancel);
    EXPECT_EQ(Status(0), "Cancelled");
    EXPECT_EQ(Status(1), "--");
}

struct EarlyCloseCase {
    const char* name;
    std::function<void(Tfrmprg&)> close;
};

// Test names show the row's name instead of its bytes.
void PrintTo(const EarlyCloseCase& row, std::ostream* os) {
    *os << row.name;
}

class EarlyClose : public JobTest, public testing::WithParamInterface<EarlyCloseCase> {};

// Cancel or the title bar's close before the first tick: nothing is extracted at all.
TEST_P(EarlyClose, NothingExtracted) {
    Tick({0});
    const int result = Run(true, [](Tfrmprg& dlg) {
        dlg.Timer1->setInterval(1000);
        QTimer::singleShot(0, &dlg, [&dlg] { GetParam().close(dlg); });
    });
    EXPECT_EQ(result, mrCancel);
    EXPECT_FALSE(fs::exists(out / "Track01.wav"));
    EXPECT_EQ(Status(0), "--");
    EXPECT_TRUE(opened.empty());
}

INSTANTIATE_TEST_SUITE_P(Rows, EarlyClose,
                         testing::Values(EarlyCloseCase{"CancelButton",
                                                        [](Tfrmprg& d) { d.btnCancel->click(); }},
                                         EarlyCloseCase{"TitleBar", [](Tfrmprg& d) { d.close(); }}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(JobTest, DialogLayoutAndCaptions) {
    Tfrmprg dlg(Targets());
    EXPECT_EQ(dlg.size(), QSize(373, 145));
    EXPECT_EQ(dlg.prgTotalProgress->geometry(), QRect(8, 118, 270, 16));
    EXPECT_EQ(dlg.btnCancel->geometry(), QRect(286, 114, 75, 23));
    EXPECT_EQ(dlg.btnCancel->text(), "Cancel");
    EXPECT_EQ(dlg.Timer1->interval(), 1000);
    EXPECT_TRUE(dlg.Timer1->isActive());
    EXPECT_TRUE(dlg.prgTotalProgress->ShowDec);
    dlg.ToWave = false;
    dlg.FormShow();
    EXPECT_EQ(dlg.windowTitle(), "Extract To MP3 files");
    EXPECT_EQ(dlg.lblStatus->text(), "Initializing...");
    EXPECT_TRUE(dlg.StartPending);
    EXPECT_FALSE(dlg.prgTotalProgress->ShowDec);
    dlg.ToWave = true;
    dlg.FormShow();
    EXPECT_EQ(dlg.windowTitle(), "Extract To WAV files");
}

TEST_F(JobTest, OpenWhenDoneOff) {
    Tick({0});
    Settings.OpenWhenDone = false;
    EXPECT_EQ(Run(true), mrOk);
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(Status(0), "OK");
}

struct RipperErrorCase {
    const char* name;
    bool toWave;
    bool openFails; // the library cannot open the track's range
    const char* message;
    // The second track was under way (the encoders' pipeline reads ahead) and failed
    // alike; else it was never started.
    bool secondFailed;
};

// Test names show the row's name instead of its bytes.
void PrintTo(const RipperErrorCase& row, std::ostream* os) {
    *os << row.name;
}

class RipperErrors : public JobTest, public testing::WithParamInterface<RipperErrorCase> {};

// The ripper's own failures end the job with a warning box; the entry is marked
// "Failed" with the reason and the later rows are not reached.
TEST_P(RipperErrors, EndTheJob) {
    Tick({3, 4});
    if (GetParam().openFails)
        Dll().CR_OpenRipper = [](int32_t*, int32_t, int32_t) -> int32_t { return 1; };
    else
        ripper->SetCoder(nullptr);
    EXPECT_EQ(Run(GetParam().toWave), mrOk);
    EXPECT_EQ(TakeBoxes(), std::vector<std::string>{FailureBox(GetParam().message)});
    ExpectRow(3, "Failed", GetParam().message, true);
    if (GetParam().secondFailed)
        ExpectRow(4, "Failed", GetParam().message, true);
    else
        ExpectRow(4, "Cancelled",
                  std::string("Not ripped: an earlier track failed: ") + GetParam().message, false);
    EXPECT_FALSE(fs::exists(out / "Track04.wav"));
    EXPECT_FALSE(fs::exists(out / "Track04.mp3"));
}

INSTANTIATE_TEST_SUITE_P(Rows, RipperErrors,
                         testing::Values(RipperErrorCase{"UnreadableTrack", true, true,
                                                         "Unable to read the track", false},
                                         RipperErrorCase{"NoEncoder", false, false,
                                                         "Unable to start the MP3 encoder", true}),
                         [](const auto& row) { return std::string(row.param.name); });

// Two rows with one title: the second gets the replace question like any existing file.
struct DuplicateCase {
    const char* name;
    int answer;
    int keptTrack; // whose audio Same.wav holds afterwards (1-based)
    const char* secondStatus;
};

void PrintTo(const DuplicateCase& row, std::ostream* os) {
    *os << row.name;
}

class DuplicateTitles : public JobTest, public testing::WithParamInterface<DuplicateCase> {};

TEST_P(DuplicateTitles, SecondAsksFirst) {
    Tick({0, 1});
    list.topLevelItem(0)->setText(TrackColumns::Title, "Same");
    list.topLevelItem(1)->setText(TrackColumns::Title, "Same");
    std::vector<QString> asked;
    SetQuestionHook([&](QDialog& dlg) {
        asked.push_back(dlg.findChild<QLabel*>("Message")->text());
        return GetParam().answer;
    });
    Run(true);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], QString::fromStdString((out / "Same.wav").string()) +
                            " already exists,do you want to replace it?");
    const auto bytes = ReadFile(out / "Same.wav");
    const auto pcm = TrackPcm(GetParam().keptTrack);
    ASSERT_EQ(bytes.size(), 44 + pcm.size());
    EXPECT_TRUE(std::equal(bytes.begin() + 44, bytes.end(), pcm.begin()));
    EXPECT_EQ(Status(0), "OK");
    EXPECT_EQ(Status(1), GetParam().secondStatus);
}

INSTANTIATE_TEST_SUITE_P(Rows, DuplicateTitles,
                         testing::Values(DuplicateCase{"No", mrNo, 1, "--"},
                                         DuplicateCase{"Yes", mrYes, 2, "OK"}),
                         [](const auto& row) { return std::string(row.param.name); });

// Cancel during a re-rip: the file that was there stays as it was (not cut short, not
// tagged again), and no partial file is left beside it.
TEST_F(JobTest, CancelledReRipKeepsTheOldFile) {
    fs::create_directories(out);
    WriteFile(out / "Track01.mp3", "previous good file");
    Tick({0, 1, 2});
    SetQuestionHook([](QDialog&) { return int(mrYes); });
    onProgress = [this](int percent) {
        if (percent > 0 && running->lblStatus->text() == "Extract Track01 (1 of 3)...")
            running->btnCancel->click();
    };
    EXPECT_EQ(Run(false), mrCancel);
    onProgress = nullptr;
    EXPECT_EQ(Status(0), "Cancelled");
    EXPECT_EQ(Status(1), "--");
    const auto bytes = ReadFile(out / "Track01.mp3");
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "previous good file");
    for (const auto& e : fs::directory_iterator(out))
        EXPECT_EQ(e.path().filename().string().find(".partial-"), std::string::npos) << e.path();
}

// Another disc goes in while the job is between two tracks: the track after it is not
// read from that disc under the old one's row and title; it fails with the reason, the
// job ends there, and the track before it is whole.
TEST_F(JobTest, DiscSwappedBetweenTracksFailsTheNextTrack) {
    Settings.AccurateRipFirst = false; // each track read once, securely, one after the other
    Tick({3, 4});
    static int asked;
    asked = 0;
    Dll().CR_DiscChanged = [] {
        if (++asked == 2) { // before track 5: a disc of five 200-sector tracks goes in
            const discgen::DiscSpec other = discgen::simpleDisc(8, 5, 200);
            if (!discgen::writeDisc((root / "disc").string(), other, nullptr))
                ADD_FAILURE() << "the other disc was not written";
        }
        return RealCdRipDll().CR_DiscChanged();
    };
    struct PutBack {
        ~PutBack() {
            Dll().CR_DiscChanged = RealCdRipDll().CR_DiscChanged;
            EXPECT_TRUE(discgen::writeDisc((root / "disc").string(), Disc(), nullptr));
            ripper->SetCDRomNum(ripper->CDRomNum());
        }
    } putBack;
    EXPECT_EQ(Run(true), mrOk);
    EXPECT_EQ(asked, 2);
    const std::string why = "Unable to read the track: the disc was changed";
    EXPECT_EQ(TakeBoxes(), std::vector<std::string>{FailureBox(why)});
    EXPECT_EQ(Status(3), "OK");
    const std::vector<uint8_t> four = ReadFile(out / "Track04.wav");
    const std::vector<uint8_t> pcm = TrackPcm(4);
    ASSERT_EQ(four.size(), 44 + pcm.size());
    EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), four.begin() + 44));
    ExpectRow(4, "Failed", why, true);
    EXPECT_FALSE(fs::exists(out / "Track05.wav"));
}

// After the job each row's tooltip carries its track's CRC32 (zlib's, of the image's
// PCM) and AccurateRip result, the status line sums up, and the log lies beside the
// files. The test environment points the look-up at a port that refuses.
TEST_F(JobTest, RowTooltipsSummaryAndLog) {
    Tick({1, 4});
    EXPECT_EQ(Run(true), mrOk);
    for (int track : {2, 5}) {
        const std::vector<uint8_t> pcm = TrackPcm(track);
        char crc[9];
        std::snprintf(crc, sizeof crc, "%08lx", crc32(0, pcm.data(), uInt(pcm.size())));
        const QString tip = list.topLevelItem(track - 1)->toolTip(TrackColumns::Status);
        EXPECT_TRUE(tip.startsWith(QString("CRC32 ") + crc)) << tip.toStdString();
        EXPECT_TRUE(tip.contains("AccurateRip unreachable")) << tip.toStdString();
        // Without an answer no track is proven by AccurateRip: each is read securely.
        EXPECT_TRUE(tip.contains("; proven by secure reading, ")) << tip.toStdString();
        EXPECT_TRUE(tip.endsWith(" re-reads")) << tip.toStdString();
        EXPECT_EQ(Status(track - 1), "OK"); // the column keeps its text
    }
    EXPECT_EQ(summaries,
              std::vector<QString>{"2 tracks ripped, the AccurateRip database did not answer"});
    const fs::path log = out / (ripper->GetDiscID() + ".log");
    ASSERT_TRUE(fs::exists(log));
    const std::vector<uint8_t> text = ReadFile(log);
    EXPECT_NE(std::string(text.begin(), text.end()).find("velmora-ripper 2.3.0\n"),
              std::string::npos);
}

// Why the release has no cover is said once, in the job's log; nothing when there is no
// reason to give.
TEST_F(JobTest, MissingCoverIsSaidOnceInTheLog) {
    Tick({1});
    for (const std::string note :
         {"the Cover Art Archive has no front cover for this release", ""}) {
        fs::remove_all(out);
        coverNote = note;
        EXPECT_EQ(Run(true), mrOk);
        const std::vector<uint8_t> bytes = ReadFile(out / (ripper->GetDiscID() + ".log"));
        const std::string log(bytes.begin(), bytes.end());
        ASSERT_FALSE(log.empty());
        std::size_t count = 0;
        for (std::size_t at = log.find("Cover art"); at != std::string::npos;
             at = log.find("Cover art", at + 1))
            ++count;
        EXPECT_EQ(count, note.empty() ? 0u : 1u) << log;
        if (!note.empty()) {
            EXPECT_NE(log.find("Cover art: " + note + "\n"), std::string::npos) << log;
        }
        EXPECT_FALSE(fs::exists(out / "cover.jpg"));
        EXPECT_FALSE(fs::exists(out / "cover.png"));
    }
    coverNote.clear();
}

// FLAC and Opus from the window: the ticked rows become files whose audio is the track's
// (FLAC decodes to its PCM; Opus to its length at 48 kHz), tagged from the row's title,
// with the track's and the album's gain.
TEST_F(JobTest, FlacAndOpusJobs) {
    Tick({1, 2});
    list.topLevelItem(1)->setText(0, "Zwölf");
    std::vector<int> rowsAsked;
    tagFields = [&](int row) {
        rowsAsked.push_back(row);
        Metadata::TagFields f;
        f.Title = list.topLevelItem(row)->text(0).toStdString();
        f.Track = row + 1;
        return f;
    };
    for (VorbisKind kind : {VorbisKind::Flac, VorbisKind::Opus}) {
        rowsAsked.clear();
        const bool flac = kind == VorbisKind::Flac;
        EXPECT_EQ(Run(false, [&](Tfrmprg& dlg) { dlg.Vorbis = kind; }), mrOk);
        EXPECT_EQ(rowsAsked, (std::vector<int>{1, 2}));
        const fs::path file = out / (flac ? "Zwölf.flac" : "Zwölf.opus");
        ASSERT_TRUE(fs::exists(file));
        const nlohmann::json m = MutagenVorbis(file.string());
        std::map<std::string, std::string> tags;
        for (const auto& pair : m["tags"])
            tags[pair[0]] = pair[1];
        EXPECT_EQ(tags["TITLE"], "Zwölf");
        EXPECT_EQ(tags["TRACKNUMBER"], "2");
        EXPECT_EQ(tags.count(flac ? "REPLAYGAIN_TRACK_GAIN" : "R128_TRACK_GAIN"), 1u);
        EXPECT_EQ(tags.count(flac ? "REPLAYGAIN_ALBUM_GAIN" : "R128_ALBUM_GAIN"), 1u);
        if (flac) {
            const FlacDecoded d = DecodeFlac(file.string());
            ASSERT_TRUE(d.Ok);
            EXPECT_EQ(d.Pcm, TrackPcm(2));
        } else {
            EXPECT_NEAR(m["length"].get<double>(), kSectors / 75.0, 1e-9);
        }
        EXPECT_EQ(Status(1), "OK");
        EXPECT_EQ(Status(2), "OK");
        EXPECT_TRUE(errors.empty());
    }
    tagFields = nullptr;
}

TEST_F(JobTest, FlacAndOpusCaptions) {
    Tfrmprg dlg(Targets());
    dlg.Vorbis = VorbisKind::Flac;
    dlg.FormShow();
    EXPECT_EQ(dlg.windowTitle(), "Extract To FLAC files");
    dlg.Vorbis = VorbisKind::Opus;
    dlg.FormShow();
    EXPECT_EQ(dlg.windowTitle(), "Extract To Opus files");
}

// The database knows the disc; track 2's entry holds its checksum, track 3's another:
// track 3 is not accurate, its row says so (in red) and the summary counts it, while
// track 2 stays "OK".
TEST_F(JobTest, NotAccurateTrackIsMarkedInItsRow) {
    const AccurateRipIds ids = AccurateRipDiscIds(TocOf(ripper->Disc));
    std::vector<BuiltTrack> entries;
    for (int track = 1; track <= kTracks; ++track) {
        const std::vector<uint8_t> pcm = TrackPcm(track);
        ArChecksum sum(uint64_t{kSectors} * ArChecksum::SamplesPerSector, track == 1,
                       track == kTracks);
        sum.Update(pcm.data(), pcm.size());
        entries.push_back({4, track == 3 ? sum.V2() ^ 1u : sum.V2()});
    }
    const fs::path db = root / "db";
    const fs::path file = db / DbarUrl("", ids).substr(1); // "/8/0/7/dBAR-..."
    fs::create_directories(file.parent_path());
    WriteFile(file, DbarRecordBytes(ids.Id1, ids.Id2, ids.Cddb, entries));
    LocalServer server({"python3", VERIFY_TEST_DIR "/dbar_server.py", db.string(), "60", "2"});
    const std::string before = std::getenv("VELMORA_ACCURATERIP_URL");
    ::setenv("VELMORA_ACCURATERIP_URL", server.Url().c_str(), 1);
    Tick({1, 2});
    EXPECT_EQ(Run(true), mrOk);
    ::setenv("VELMORA_ACCURATERIP_URL", before.c_str(), 1);
    EXPECT_EQ(Status(1), "OK");
    EXPECT_EQ(Status(2), "Not accurate");
    EXPECT_EQ(list.topLevelItem(2)->foreground(TrackColumns::Status).color(), QColor(Qt::red));
    EXPECT_NE(list.topLevelItem(1)->foreground(TrackColumns::Status).color(), QColor(Qt::red));
    EXPECT_EQ(summaries, std::vector<QString>{"1 of 2 tracks accurately ripped; 1 not accurate"});
    const std::vector<uint8_t> log = ReadFile(out / (ripper->GetDiscID() + ".log"));
    const std::string text(log.begin(), log.end());
    EXPECT_NE(text.find("Track 3\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  Outcome: not accurate\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  Outcome: exact\n"), std::string::npos) << text;
}
