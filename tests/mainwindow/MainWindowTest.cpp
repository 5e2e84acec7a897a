// The main window's rows, ticks, status line, clipboard, disc information, error
// report, encoder settings and close, over the real CD ripping library on a generated
// image and, where a state is hard to reach, over fake library calls.
#include "WindowFixture.h"
#include "discgen.h"
#include "encoding/LameCoder.h"
#include "platform/AppInfo.h"
#include "platform/ProfileIni.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QProcess>
#include <QStatusTipEvent>
#include <QStyleOptionComboBox>

namespace {

// The real library on a disc of three audio tracks of 10 s, 20 s and 1 s and a data
// track of 300 sectors at the end.
class RealDiscWindow : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        const std::string base = Dir + "/disc";
        discgen::DiscSpec plan = discgen::simpleDisc(7, 3, 750, 300);
        plan.tracks[1].sectors = 1500;
        plan.tracks[2].sectors = 75;
        std::string error;
        ASSERT_TRUE(discgen::writeDisc(base, plan, &error)) << error;
        setenv("CDRIP_IMAGES", (base + ".cue").c_str(), 1);
    }
};

TEST_F(RealDiscWindow, StartUpListsTheDriveAndOneRowPerTrack) {
    Open(CdRipDll());
    // The desktop would append an application display name to every caption; none is
    // set, so the display name is still the plain application name.
    EXPECT_EQ(Window->windowTitle(), "Velmora CD Ripper");
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
    ASSERT_EQ(Window->cboDrive->count(), 1);
    EXPECT_EQ(Window->cboDrive->currentIndex(), 0);
    EXPECT_EQ(Window->cboDrive->itemData(0, Qt::ToolTipRole).toString().toStdString(),
              Window->RIPPER->CDRomIDText());
    ASSERT_EQ(Window->RowCount(), 4);
    struct Expected {
        const char *title, *no, *index;
        int image;
    };
    const Expected rows[] = {{"Track01", "01", "0", 0},
                             {"Track02", "02", "1", 0},
                             {"Track03", "03", "2", 0},
                             {"Track04", "04", "3", 1}};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Text(i, 0), rows[i].title);
        EXPECT_EQ(Text(i, 1), rows[i].no);
        EXPECT_EQ(Text(i, 2).toStdString(), Window->RIPPER->GetTrackTime(i));
        EXPECT_EQ(Text(i, 3), "--");
        EXPECT_EQ(Text(i, 4), rows[i].index);
        EXPECT_EQ(Window->ImageIndex(i), rows[i].image);
        EXPECT_FALSE(Ticked(i));
    }
    EXPECT_EQ(Text(0, 2), "0:10"); // 750 sectors at 75 a second
    EXPECT_EQ(Text(1, 2), "0:20"); // 1500 sectors
    EXPECT_TRUE(Window->ListView1->isColumnHidden(4));
    EXPECT_EQ(Window->chkSelAll->checkState(), Qt::Unchecked);
    EXPECT_EQ(Status(), "No Tracks Selected.");
    EXPECT_FALSE(Window->Playing);
    EXPECT_EQ(Window->CurrentTrack, -1);
}

TEST_F(RealDiscWindow, StoredTitlesAreAppliedAndSavedBack) {
    Open(CdRipDll());
    const std::string key = Window->RIPPER->GetDiscID();
    // A longer list than the disc: only the existing rows change.
    const std::vector<std::string> stored = {"Overture", "Río/Dos", "Coda", "Bonus", "Extra"};
    ASSERT_TRUE(WriteCDInfo(key, "The Band", "Live", "1999", "Jazz", &stored));
    Window->mnuReadCDiniClick();
    EXPECT_EQ(Text(0, 0), "Overture");
    EXPECT_EQ(Text(1, 0), QString::fromUtf8("Río/Dos"));
    EXPECT_EQ(Text(3, 0), "Bonus");
    EXPECT_EQ(Window->RowCount(), 4);

    Window->Row(2)->setText(0, "Renamed");
    Window->SaveCDInformation1Click();
    std::string artist, album, year, genre;
    std::vector<std::string> titles;
    ASSERT_TRUE(ReadCDInfo(key, artist, album, year, genre, titles));
    EXPECT_EQ(artist, "The Band"); // the album facts already stored are kept as stored
    EXPECT_EQ(ProfileIni::readString(CDInfoFilePath(), key, "album", ""), "Live");
    EXPECT_EQ(ProfileIni::readString(CDInfoFilePath(), key, "year", ""), "1999");
    ASSERT_GE(titles.size(), 4u);
    EXPECT_EQ(titles[0], "Overture");
    EXPECT_EQ(titles[2], "Renamed");

    // A shorter list changes only the first rows; a fresh window applies it at start.
    ASSERT_TRUE(QFile::remove(QString::fromStdString(CDInfoFilePath())));
    const std::vector<std::string> shorter = {"One"};
    ASSERT_TRUE(WriteCDInfo(key, "", "", "", "", &shorter));
    Window.reset();
    Open(CdRipDll());
    EXPECT_EQ(Text(0, 0), "One");
    EXPECT_EQ(Text(1, 0), "Track02");
}

TEST_F(RealDiscWindow, SettingsAreSavedOnClose) {
    Open(CdRipDll());
    Settings.BitRates = 192;
    Settings.OutDir = Dir + "/music";
    Window->close();
    SetDefaultSettings();
    LoadSettings();
    EXPECT_EQ(Settings.BitRates, 192);
    EXPECT_EQ(Settings.OutDir, Dir + "/music");
}

// Ticks and the status line on a fake disc of three audio rows and one data row.
class TickWindow : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        Fake.SetDisc({750, 750, 750, 300}, {false, false, false, true});
        Open(FakeCdRipDll());
        ASSERT_EQ(Window->RowCount(), 4);
    }
    int TickedCount() const {
        int n = 0;
        for (int i = 0; i < Window->RowCount(); ++i)
            n += Ticked(i) ? 1 : 0;
        return n;
    }
};

TEST_F(TickWindow, SelectAllBoxTicksAndClearsEveryRow) {
    Window->chkSelAll->click(); // a user click
    EXPECT_EQ(Window->chkSelAll->checkState(), Qt::Checked);
    EXPECT_EQ(TickedCount(), 4);
    EXPECT_EQ(Status(), "4 Tracks Selected"); // data rows count too
    Window->chkSelAll->click();
    EXPECT_EQ(TickedCount(), 0);
    EXPECT_EQ(Status(), "No Tracks Selected");
}

TEST_F(TickWindow, CountingOneTickTurnsTheBoxGreyAndLatches) {
    Window->Row(1)->setCheckState(0, Qt::Checked);
    Window->ListView1MouseMove();
    EXPECT_EQ(Status(), "1 Tracks Selected"); // no singular form
    EXPECT_EQ(Window->chkSelAll->checkState(), Qt::PartiallyChecked);
    EXPECT_EQ(TickedCount(), 1); // the grey box's handling changes nothing
    EXPECT_EQ(Window->ListView1Tag, 1);
    Window->lblStatus->setText("a hint");
    Window->ListView1MouseMove(); // latched: no recount
    EXPECT_EQ(Status(), "a hint");
    Window->ListView1Click();
    Window->ListView1MouseMove();
    EXPECT_EQ(Status(), "1 Tracks Selected");
}

// Sends a key press and its release to `target`.
void PressKey(QWidget* target, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, key == Qt::Key_Space ? " " : "");
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, key == Qt::Key_Space ? " " : "");
    QApplication::sendEvent(target, &release);
}

// A click on row `row`'s check box: press and release at the middle of its indicator.
void ClickCheckBox(QTreeWidget* list, int row) {
    QStyleOptionViewItem option;
    option.initFrom(list);
    option.rect = list->visualItemRect(list->topLevelItem(row));
    option.rect.setWidth(list->columnWidth(0));
    option.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay |
                      QStyleOptionViewItem::HasDecoration;
    option.decorationSize = list->iconSize();
    const QPoint at = list->style()
                          ->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, list)
                          .center();
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent e(type, at, list->viewport()->mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                      Qt::NoModifier);
        QApplication::sendEvent(list->viewport(), &e);
    }
}

// The count follows every tick at once, with no mouse move after it: a click on a check
// box, Space on the focused row, and a tick set by the program.
TEST_F(TickWindow, CountFollowsEveryTickByMouseAndKey) {
    Window->show();
    ClickCheckBox(Window->ListView1, 0);
    ASSERT_TRUE(Ticked(0));
    EXPECT_EQ(Status(), "1 Tracks Selected");
    ClickCheckBox(Window->ListView1, 2);
    ASSERT_TRUE(Ticked(2));
    EXPECT_EQ(Status(), "2 Tracks Selected");
    Window->ListView1->setFocus();
    Window->ListView1->setCurrentItem(Window->Row(1));
    PressKey(Window->ListView1, Qt::Key_Space);
    ASSERT_TRUE(Ticked(1));
    EXPECT_EQ(Status(), "3 Tracks Selected");
    PressKey(Window->ListView1, Qt::Key_Space);
    ASSERT_FALSE(Ticked(1));
    EXPECT_EQ(Status(), "2 Tracks Selected");
    ClickCheckBox(Window->ListView1, 0);
    ClickCheckBox(Window->ListView1, 2);
    EXPECT_EQ(TickedCount(), 0);
    EXPECT_EQ(Status(), "No Tracks Selected");
    // A title or status change is not a tick: the line stays.
    Window->lblStatus->setText("a hint");
    Window->Row(3)->setText(0, "Renamed");
    Window->Row(3)->setText(3, "OK");
    EXPECT_EQ(Status(), "a hint");
    Window->Row(3)->setCheckState(0, Qt::Checked);
    EXPECT_EQ(Status(), "1 Tracks Selected");
    EXPECT_EQ(TickedCount(), 1);
}

TEST_F(TickWindow, CountingAllTicksLeavesTheBoxAlone) {
    for (int i = 0; i < 4; ++i)
        Window->Row(i)->setCheckState(0, Qt::Checked);
    Window->ListView1MouseMove();
    EXPECT_EQ(Status(), "4 Tracks Selected");
    EXPECT_EQ(Window->chkSelAll->checkState(), Qt::Unchecked);
}

TEST_F(TickWindow, SelectAllImageOnAGreyBoxTicksEverything) {
    Window->Row(0)->setCheckState(0, Qt::Checked);
    Window->ListView1MouseMove();
    ASSERT_EQ(Window->chkSelAll->checkState(), Qt::PartiallyChecked);
    Window->imgSelAllClick();
    EXPECT_EQ(Window->chkSelAll->checkState(), Qt::Checked);
    EXPECT_EQ(TickedCount(), 4);
    EXPECT_EQ(Status(), "4 Tracks Selected");
    Window->imgSelAllClick();
    EXPECT_EQ(TickedCount(), 0);
}

TEST_F(TickWindow, UserClickOnAGreyBoxTicksIt) {
    Window->Row(0)->setCheckState(0, Qt::Checked);
    Window->ListView1MouseMove();
    Window->chkSelAll->click();
    EXPECT_EQ(Window->chkSelAll->checkState(), Qt::Checked);
    EXPECT_EQ(TickedCount(), 4);
}

TEST_F(TickWindow, InvertSelection) {
    Window->SelectAll1Click();
    EXPECT_EQ(Window->chkSelAll->checkState(), Qt::Checked);
    EXPECT_EQ(TickedCount(), 4);
    Window->InvertSelection1Click(); // all ticked: all clear, and so is the box
    EXPECT_EQ(TickedCount(), 0);
    EXPECT_EQ(Window->chkSelAll->checkState(), Qt::Unchecked);
    Window->Row(0)->setCheckState(0, Qt::Checked);
    Window->chkSelAll->setCheckState(Qt::PartiallyChecked);
    Window->InvertSelection1Click(); // mixed: the box stays as it was
    EXPECT_EQ(TickedCount(), 3);
    EXPECT_FALSE(Ticked(0));
    EXPECT_EQ(Window->chkSelAll->checkState(), Qt::PartiallyChecked);
}

struct DriveChangeCase {
    const char* name;
    Qt::CheckState box;
    const char* status;
};

class DriveChangeStatus : public TickWindow, public testing::WithParamInterface<DriveChangeCase> {};

TEST_P(DriveChangeStatus, StatusDependsOnTheBox) {
    Window->Row(0)->setCheckState(0, Qt::Checked);
    Window->chkSelAll->setCheckState(GetParam().box);
    Window->cboDriveClick();
    EXPECT_EQ(Status(), GetParam().status);
    EXPECT_EQ(TickedCount(), 0);
    EXPECT_EQ(Window->chkSelAll->checkState(), Qt::Unchecked);
}

INSTANTIATE_TEST_SUITE_P(
    Box, DriveChangeStatus,
    testing::Values(DriveChangeCase{"clear", Qt::Unchecked, "No Tracks Selected."},
                    DriveChangeCase{"ticked", Qt::Checked, "No Tracks Selected"},
                    DriveChangeCase{"grey", Qt::PartiallyChecked, "No Tracks Selected"}),
    [](const auto& row) { return std::string(row.param.name); });

// A drive without a readable disc says why on the drive box, after its name; one with a
// disc shows its name only.
TEST_F(TickWindow, DriveBoxToolTipGivesTheReasonForNoDisc) {
    Fake.StatusText = "music.bin: not a regular file";
    Fake.Toc.clear();
    Window->cboDriveClick();
    EXPECT_EQ(Window->RowCount(), 0);
    const QString name =
        Window->cboDrive->itemData(Window->cboDrive->currentIndex(), Qt::ToolTipRole).toString();
    EXPECT_TRUE(Window->cboDrive->toolTip().endsWith("music.bin: not a regular file"))
        << Window->cboDrive->toolTip().toStdString();
    EXPECT_TRUE(Window->cboDrive->toolTip().startsWith(name));
    EXPECT_EQ(Status(), "No Tracks Selected.");
    Fake.StatusText.clear();
    Fake.SetDisc({750, 750});
    Window->cboDriveClick();
    EXPECT_EQ(Window->RowCount(), 2);
    EXPECT_EQ(Window->cboDrive->toolTip(), name); // the drive's name, no reason
}

TEST_F(TickWindow, ExtractionWithOnlyDataRowsTickedIsRefused) {
    Window->Row(3)->setCheckState(0, Qt::Checked);
    Window->Timer1->start();
    Window->ExtractTracksToMP3Files1Click();
    EXPECT_FALSE(Ticked(3)); // the data row was unticked before counting
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].Icon, QMessageBox::Warning);
    EXPECT_EQ(Messages[0].Text, "No Audio Track Selected!");
    EXPECT_EQ(Messages[0].Caption.toStdString(), AppInfo::Title);
    EXPECT_TRUE(Window->Timer1->isActive());
}

TEST_F(WindowFixture, ClipboardTextOfTwoRows) {
    // 3:05 is 185 s = 13875 sectors; 4:10 is 250 s = 18750 sectors.
    Fake.SetDisc({13875, 18750});
    Open(FakeCdRipDll());
    Window->CopyTrackInformationToClipboard1Click();
    EXPECT_EQ(QApplication::clipboard()->text(),
              QString("\r\n01\tTrack01\t3:05\r\n02\tTrack02\t4:10"));
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].Icon, QMessageBox::Information);
    EXPECT_EQ(Messages[0].Text, "Successfully copy the Track Information to the Clipboard!");
}

TEST_F(WindowFixture, ClipboardTextOfNoRowsIsEmpty) {
    Fake.Drives = 0;
    Open(FakeCdRipDll());
    EXPECT_EQ(Window->cboDrive->count(), 0);
    EXPECT_EQ(Window->RowCount(), 0);
    QApplication::clipboard()->setText("something");
    Window->CopyTrackInformationToClipboard1Click();
    EXPECT_EQ(QApplication::clipboard()->text(), QString());
    EXPECT_EQ(Messages.size(), 1u);
    Window->SaveCDInformation1Click(); // no drive: nothing written
    EXPECT_FALSE(QFile::exists(QString::fromStdString(Dir + "/config/cdplayer.ini")));
}

TEST_F(WindowFixture, ExceptionInAHandlerShowsTheErrorReport) {
    Fake.SetDisc({750, 750});
    Open(FakeCdRipDll());
    Window->show();
    Fake.ThrowOnReadToc = true;
    // A click on the eject image re-reads the drive, which now fails; the exception
    // leaves the handler and reaches the application object.
    TSkinImage* eject = Window->HoverImage(SkinLayout::Eject);
    const QPointF at(5, 5);
    QMouseEvent press(QEvent::MouseButtonPress, at, eject->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, eject->mapToGlobal(at), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(eject, &press);
    QApplication::sendEvent(eject, &release);
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].Caption, "Error Report");
    EXPECT_EQ(Messages[0].Icon, QMessageBox::Critical);
    EXPECT_EQ(Messages[0].Text, QString("We are sorry that a problem has encounted:\n"
                                        "Please tell me the Error to "
                                        "support@velmora.example.org:\n\n"
                                        "Initialization failure\n\nThank you."));
    // The window goes on: the next re-read works.
    Fake.ThrowOnReadToc = false;
    Fake.TrayOpen = false;
    Window->cboDriveClick();
    EXPECT_EQ(Window->RowCount(), 2);
}

// An object whose event handling raises: the application object's net catches it.
class ThrowingObject : public QObject {
public:
    bool event(QEvent*) override { throw ECDRIPError("Write error"); }
};

TEST_F(WindowFixture, ApplicationObjectCatchesWhatAnyHandlerLetsOut) {
    Fake.SetDisc({750});
    Open(FakeCdRipDll());
    ThrowingObject thrower;
    QEvent event(QEvent::User);
    EXPECT_FALSE(QCoreApplication::sendEvent(&thrower, &event));
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].Caption, "Error Report");
    EXPECT_TRUE(Messages[0].Text.contains("\n\nWrite error\n\n"));
}

TEST_F(WindowFixture, ExceptionWhileLoadingSettingsLeavesNoDrives) {
    // The settings file can't be created: start-up reports it and lists no drives.
    // The settings file's folder would have to be made inside a plain file.
    QFile plain(QString::fromStdString(Dir + "/plain"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    setenv("VELMORA_SETTINGS", (Dir + "/plain/velmora-ripper.ini").c_str(), 1);
    Fake.SetDisc({750});
    Open(FakeCdRipDll());
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].Caption, "Error Report");
    EXPECT_EQ(Window->cboDrive->count(), 0);
    EXPECT_EQ(Window->RowCount(), 0);
}

struct CoderCase {
    const char* name;
    int32_t rate, bitrate, maxBitrate, mode, quality, vbr, vbrHeader, vbrQuality;
};

class SetLameCoderTest : public WindowFixture, public testing::WithParamInterface<CoderCase> {};

TEST_P(SetLameCoderTest, CopiesTheSettingsIntoTheEncoder) {
    Fake.SetDisc({750});
    Open(FakeCdRipDll());
    const CoderCase& c = GetParam();
    const uint32_t pcmRate = Window->LameCoder1->SampleRate();
    Settings.SampleRates = c.rate;
    Settings.BitRates = c.bitrate;
    Settings.MaxBitRates = c.maxBitrate;
    Settings.Mode = c.mode;
    Settings.Quality = c.quality;
    Settings.EnableVBR = c.vbr;
    Settings.WriteVBRHeader = c.vbrHeader;
    Settings.VBRQuality = c.vbrQuality;
    Settings.CopyRight = -1;
    Settings.Original = 0;
    Settings.CRC = -1;
    Settings.bPrivate = -1;
    Window->SetLameCoder();
    const TLameCoder& coder = *Window->LameCoder1;
    EXPECT_EQ(coder.OutSampleRate(), uint32_t(c.rate));
    EXPECT_EQ(coder.SampleRate(), pcmRate); // the PCM's rate is the ripper's
    EXPECT_EQ(coder.Bitrate(), uint32_t(c.bitrate));
    EXPECT_EQ(coder.MaxBitrate(), uint32_t(c.maxBitrate));
    EXPECT_EQ(int(coder.Mode()), c.mode & 0xFF);
    EXPECT_EQ(int(coder.Quality()), c.quality & 0xFF);
    EXPECT_EQ(coder.EnableVBR(), c.vbr);
    EXPECT_EQ(coder.WriteVBRHeader(), c.vbrHeader); // stored after EnableVBR's own copy
    EXPECT_EQ(coder.VBRQuality(), c.vbrQuality);
    EXPECT_EQ(coder.Copyright(), -1);
    EXPECT_EQ(coder.Original(), 0);
    EXPECT_EQ(coder.CRC(), -1);
    EXPECT_EQ(coder.Private(), -1);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, SetLameCoderTest,
    testing::Values(CoderCase{"cbr_stereo", 44100, 128, 320, 0, 0, 0, 0, 5},
                    CoderCase{"vbr_joint_no_header", 32000, 96, 256, 1, 2, -1, 0, 2},
                    CoderCase{"mono_low_byte", 22050, 64, 160, 0x103, 0x101, -1, -1, 9}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(WindowFixture, HintsShowTheirLongPart) {
    Fake.SetDisc({750});
    Open(FakeCdRipDll());
    struct {
        const char* hint;
        const char* shown;
    } const cases[] = {{"Play track", "Play track"}, {"Play|Play track", "Play track"}, {"", ""}};
    for (const auto& c : cases) {
        QStatusTipEvent tip(c.hint);
        QApplication::sendEvent(Window.get(), &tip);
        EXPECT_EQ(Status(), c.shown);
    }
    EXPECT_EQ(Window->SelectAll1->statusTip(), "Select all tracks");
    EXPECT_EQ(Window->ReadCDInformation1->statusTip(),
              "Get alubm information from CDPlayer.ini file");
    QStatusTipEvent menuTip(Window->SaveCDInformation1->statusTip());
    QApplication::sendEvent(Window->PopupMenu1, &menuTip);
    EXPECT_EQ(Status(), "Save alubm information to CDPlayer.ini file");
}

TEST_F(WindowFixture, HelpAndHomePageOpenTheirAddresses) {
    Fake.SetDisc({750});
    Open(FakeCdRipDll());
    Window->HelpWith1Click();
    Window->HomePage1Click();
    ASSERT_EQ(Opened.size(), 2u);
    EXPECT_TRUE(Opened[0].isLocalFile());
    EXPECT_TRUE(Opened[0].toLocalFile().endsWith("/velmora-ripper.html"));
    EXPECT_TRUE(QFile::exists(Opened[0].toLocalFile())); // copied beside the program
    EXPECT_EQ(Opened[1].toString().toStdString(), AppInfo::HomePage);
}

} // namespace

namespace {

struct CommandLineCase {
    const char* name;
    QStringList arguments;
    int exitCode;
    const char* output; // expected at the start of stdout
};

class CommandLine : public testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLine, PrintsAndExitsWithoutAWindow) {
    const CommandLineCase& c = GetParam();
    QProcess program;
    program.start(qEnvironmentVariable("VELMORA_TEST_BIN") + "/velmora-ripper", c.arguments);
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), c.exitCode);
    EXPECT_TRUE(program.readAllStandardOutput().startsWith(c.output));
}

INSTANTIATE_TEST_SUITE_P(
    Options, CommandLine,
    testing::Values(CommandLineCase{"version", {"--version"}, 0, "velmora-ripper 2.3.0"},
                    CommandLineCase{"help", {"--help"}, 0, "usage: velmora-ripper [IMAGE...]"},
                    CommandLineCase{"help_after_image", {"a.cue", "--help"}, 0, "usage:"},
                    CommandLineCase{"unknown_option", {"--bogus"}, 1, ""}),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace

namespace {

// Two images deep in a long folder: their drive names differ only at the end.
class TwoImageWindow : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        const std::string folder = Dir + "/a-rather-long-folder-name/with/several/levels/below";
        QDir().mkpath(QString::fromStdString(folder));
        std::string list;
        for (const char* name : {"first-album", "second-album"}) {
            std::string error;
            ASSERT_TRUE(
                discgen::writeDisc(folder + "/" + name, discgen::simpleDisc(3, 2, 150, 0), &error))
                << error;
            list += (list.empty() ? "" : ":") + folder + "/" + name + ".cue";
        }
        setenv("CDRIP_IMAGES", list.c_str(), 1);
    }
};

} // namespace

// Each entry fits the box and keeps its end, the image's file name, by losing its
// middle; the whole name is the entry's tooltip and, for the chosen drive, the box's.
TEST_F(TwoImageWindow, DriveBoxKeepsTheImageNamesVisible) {
    Open(CdRipDll());
    QComboBox* box = Window->cboDrive;
    ASSERT_EQ(box->count(), 2);
    QStyleOptionComboBox option;
    option.initFrom(box);
    const int room =
        box->style()
            ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, box)
            .width();
    const char* names[] = {"first-album.cue", "second-album.cue"};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const QString shown = box->itemText(i);
        const QString whole = box->itemData(i, Qt::ToolTipRole).toString();
        EXPECT_TRUE(whole.endsWith(QLatin1String("/") + names[i])) << whole.toStdString();
        EXPECT_LE(box->fontMetrics().horizontalAdvance(shown), room) << shown.toStdString();
        EXPECT_TRUE(shown.endsWith(QLatin1String(names[i]))) << shown.toStdString();
        EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
        EXPECT_EQ(shown.left(8).toStdString(), "VELMORA ");
    }
    EXPECT_NE(box->itemText(0), box->itemText(1));
    EXPECT_EQ(box->toolTip(), box->itemData(0, Qt::ToolTipRole).toString());
    box->setCurrentIndex(1);
    EXPECT_EQ(box->toolTip(), box->itemData(1, Qt::ToolTipRole).toString());
}

// Tab goes from the list through the drive box and Select all to the WAV, MP3 and Options
// buttons, each showing its hover picture and a focus mark; Enter, Return and Space start
// the button's job (refused here: no audio row ticked).
TEST_F(TickWindow, WavMp3AndOptionsAreReachedByTab) {
    Window->show();
    Window->activateWindow();
    for (int i = 0; i < 100 && !Window->isActiveWindow(); ++i)
        QApplication::processEvents();
    ASSERT_TRUE(Window->isActiveWindow());
    Window->ListView1->setFocus();
    const std::vector<QWidget*> order = {Window->cboDrive, Window->chkSelAll, Window->keyWave,
                                         Window->keyMP3, Window->keyOptions};
    QWidget* at = Window->ListView1;
    for (QWidget* next : order) {
        at = at->nextInFocusChain();
        while (!(at->focusPolicy() & Qt::TabFocus) || !at->isVisibleTo(Window.get()))
            at = at->nextInFocusChain();
        EXPECT_EQ(at, next) << at->objectName().toStdString();
    }
    const std::vector<std::pair<TSkinKey*, SkinLayout::ButtonId>> keys = {
        {Window->keyWave, SkinLayout::ToWave},
        {Window->keyMP3, SkinLayout::ToMP3},
        {Window->keyOptions, SkinLayout::Options}};
    for (auto [key, id] : keys) {
        EXPECT_EQ(key->geometry(), Window->HoverImage(id)->geometry());
        EXPECT_EQ(key->focusPolicy(), Qt::TabFocus);
        EXPECT_TRUE(key->testAttribute(Qt::WA_TransparentForMouseEvents));
        EXPECT_FALSE(Window->HoverImage(id)->isVisibleTo(Window.get()));
        key->setFocus(Qt::TabFocusReason);
        EXPECT_TRUE(key->hasFocus());
        EXPECT_TRUE(Window->HoverImage(id)->isVisibleTo(Window.get()));
        // The focus mark: a dotted frame over the hover picture, none without the focus.
        const auto markDots = [key] {
            const QImage shot = key->grab().toImage();
            int dots = 0;
            for (int y = 0; y < shot.height(); ++y)
                dots += shot.pixelColor(1, y) == QColor(0x6f, 0xa8, 0xff) ? 1 : 0;
            return dots;
        };
        EXPECT_GE(markDots(), key->height() / 4);
        Window->ListView1->setFocus();
        EXPECT_FALSE(Window->HoverImage(id)->isVisibleTo(Window.get()));
        EXPECT_EQ(markDots(), 0);
    }
    for (TSkinKey* key : {Window->keyWave, Window->keyMP3})
        for (int k : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
            Messages.clear();
            key->setFocus();
            PressKey(key, k);
            ASSERT_EQ(Messages.size(), 1u) << key->objectName().toStdString() << " " << k;
            EXPECT_EQ(Messages[0].Text, "No Audio Track Selected!");
        }
    PressKey(Window->keyWave, Qt::Key_A); // another key does nothing
    EXPECT_EQ(Messages.size(), 1u);
}

// WAV, MP3, FLAC and Opus are reached from the list's context menu, FLAC and Opus by
// Ctrl+F and Ctrl+P too, the skin's WAV and MP3 buttons staying as they are; with no audio
// row ticked they refuse as the buttons do.
TEST_F(TickWindow, JobsFromTheMenuAndTheKeyboard) {
    const QList<QAction*> actions = Window->PopupMenu1->actions();
    ASSERT_GE(actions.size(), 5);
    EXPECT_EQ(actions[actions.size() - 4], Window->ExtractTracksToWAVFiles1);
    EXPECT_EQ(actions[actions.size() - 3], Window->ExtractTracksToMP3Files1);
    EXPECT_EQ(actions[actions.size() - 2], Window->ExtractTracksToFLACFiles1);
    EXPECT_EQ(actions[actions.size() - 1], Window->ExtractTracksToOpusFiles1);
    EXPECT_TRUE(actions[actions.size() - 5]->isSeparator());
    EXPECT_EQ(Window->ExtractTracksToWAVFiles1->text(), "Extract To &WAV Files");
    EXPECT_EQ(Window->ExtractTracksToMP3Files1->text(), "Extract To &MP3 Files");
    EXPECT_EQ(Window->ExtractTracksToFLACFiles1->text(), "Extract To &FLAC Files");
    EXPECT_EQ(Window->ExtractTracksToOpusFiles1->text(), "Extract To O&pus Files");
    EXPECT_EQ(Window->ExtractTracksToFLACFiles1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F));
    EXPECT_EQ(Window->ExtractTracksToOpusFiles1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_P));
    EXPECT_TRUE(Window->actions().contains(Window->ExtractTracksToFLACFiles1));
    EXPECT_TRUE(Window->actions().contains(Window->ExtractTracksToOpusFiles1));
    for (int i = 0; i < Window->RowCount(); ++i)
        Window->Row(i)->setCheckState(0, Qt::Unchecked);
    for (QAction* action : {Window->ExtractTracksToWAVFiles1, Window->ExtractTracksToMP3Files1,
                            Window->ExtractTracksToFLACFiles1, Window->ExtractTracksToOpusFiles1}) {
        Messages.clear();
        action->trigger();
        ASSERT_EQ(Messages.size(), 1u);
        EXPECT_EQ(Messages[0].Text, "No Audio Track Selected!");
    }
}
