// The options dialog against the program-wide settings record.
#include "dialog_test_util.h"
#include "settings/globals.h"
#include "ui/BrowseDr.h"
#include "ui/FolderBrowser.h"
#include "ui/Options.h"
#include "ui/QuestionDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileSystemModel>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleOptionComboBox>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include <vector>

namespace {

class OptionsTest : public TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        SetDefaultSettings();
    }

    // The record as "Default" leaves it, for comparison.
    static TMP3Settings Defaults() {
        const TMP3Settings saved = Settings;
        SetDefaultSettings();
        const TMP3Settings defaults = Settings;
        Settings = saved;
        return defaults;
    }
};

void ExpectSameRecord(const TMP3Settings& a, const TMP3Settings& b) {
    EXPECT_EQ(a.ConfirmOverwrite, b.ConfirmOverwrite);
    EXPECT_EQ(a.OutDir, b.OutDir);
    EXPECT_EQ(a.OpenWhenDone, b.OpenWhenDone);
    EXPECT_EQ(a.SampleRates, b.SampleRates);
    EXPECT_EQ(a.BitRates, b.BitRates);
    EXPECT_EQ(a.MaxBitRates, b.MaxBitRates);
    EXPECT_EQ(a.Mode, b.Mode);
    EXPECT_EQ(a.Quality, b.Quality);
    EXPECT_EQ(a.EnableVBR, b.EnableVBR);
    EXPECT_EQ(a.WriteVBRHeader, b.WriteVBRHeader);
    EXPECT_EQ(a.VBRQuality, b.VBRQuality);
    EXPECT_EQ(a.CopyRight, b.CopyRight);
    EXPECT_EQ(a.Original, b.Original);
    EXPECT_EQ(a.CRC, b.CRC);
    EXPECT_EQ(a.bPrivate, b.bPrivate);
}

QStringList Items(const QComboBox* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items << list->itemText(i);
    return items;
}

// A record far from the defaults in every field.
void OddSettings() {
    Settings.OutDir = "/srv/rips/";
    Settings.OpenWhenDone = false;
    Settings.SampleRates = 22050;
    Settings.BitRates = 96;
    Settings.MaxBitRates = 160;
    Settings.Mode = 3;
    Settings.Quality = 2;
    Settings.EnableVBR = 0;
    Settings.WriteVBRHeader = 0;
    Settings.VBRQuality = 9;
    Settings.CopyRight = -1;
    Settings.Original = -1;
    Settings.CRC = 0;
    Settings.bPrivate = -1;
}

} // namespace

TEST_F(OptionsTest, WindowControlsAndTexts) {
    TfrmOptions dlg;
    EXPECT_EQ(dlg.windowTitle(), "Options");
    EXPECT_EQ(dlg.size(), QSize(348, 325));
    EXPECT_EQ(dlg.font().pixelSize(), 12);
    EXPECT_EQ(dlg.GroupBox1->title(), "Output Folder");
    EXPECT_EQ(dlg.GroupBox2->title(), "MP3 Settings");
    EXPECT_EQ(dlg.CheckBoxOpen->text(), "&Open Out Folder When Done ripping");
    EXPECT_EQ(dlg.CheckBox6->text(), "Enable VBR");
    EXPECT_EQ(dlg.CheckBox7->text(), "Write VBR header");
    EXPECT_EQ(dlg.CheckBox3->text(), "Copyright");
    EXPECT_EQ(dlg.CheckBox4->text(), "Original");
    EXPECT_EQ(dlg.CheckBox5->text(), "CRC");
    EXPECT_EQ(dlg.CheckBox8->text(), "Private");
    EXPECT_EQ(dlg.btnDefault->text(), "Default");
    EXPECT_EQ(dlg.OK->text(), "OK");
    EXPECT_EQ(dlg.BitBtn1->text(), "Cancel");
    EXPECT_TRUE(dlg.OK->isDefault());
    // What a user sees of the layout, not its pixel numbers: every control lies inside
    // the dialog, no two of them overlap, the buttons stand in one row below both groups,
    // the groups one above the other, and each button is wide enough for its text.
    const QRect inside = dlg.rect();
    const QList<QPushButton*> buttons =
        dlg.findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly);
    ASSERT_GE(buttons.size(), 3);
    std::vector<QWidget*> placed = {dlg.GroupBox1, dlg.GroupBox2};
    placed.insert(placed.end(), buttons.begin(), buttons.end());
    for (std::size_t i = 0; i < placed.size(); ++i) {
        const QRect r = placed[i]->geometry();
        EXPECT_TRUE(inside.contains(r)) << placed[i]->objectName().toStdString();
        for (std::size_t j = i + 1; j < placed.size(); ++j)
            EXPECT_FALSE(r.intersects(placed[j]->geometry()))
                << placed[i]->objectName().toStdString() << " and "
                << placed[j]->objectName().toStdString();
    }
    EXPECT_LT(dlg.GroupBox1->geometry().bottom(), dlg.GroupBox2->geometry().top());
    for (const QPushButton* b : buttons) {
        EXPECT_GT(b->geometry().top(), dlg.GroupBox2->geometry().bottom())
            << b->text().toStdString();
        EXPECT_EQ(b->geometry().top(), dlg.OK->geometry().top()) << b->text().toStdString();
        EXPECT_GE(b->width(), b->fontMetrics().horizontalAdvance(QString(b->text()).remove('&')))
            << b->text().toStdString();
    }
    // Cancel is the last button of the row, OK just before it.
    EXPECT_LT(dlg.OK->geometry().right(), dlg.BitBtn1->geometry().left());
    for (const QPushButton* b : buttons)
        EXPECT_LE(b->geometry().left(), dlg.BitBtn1->geometry().left()) << b->text().toStdString();
    EXPECT_EQ(Items(dlg.ComboBox1), QStringList({"44100", "32000", "22050"}));
    EXPECT_EQ(Items(dlg.ComboBox2), QStringList({"320", "256", "192", "160", "128", "96"}));
    EXPECT_EQ(Items(dlg.ComboBox3), QStringList({"320", "256", "192", "160"}));
    EXPECT_EQ(Items(dlg.ComboBox4),
              QStringList({"Stereo", "Joint stereo", "Dual channel", "Mono"}));
    EXPECT_EQ(Items(dlg.ComboBox5), QStringList({"Normal", "Low", "High", "Voice"}));
    EXPECT_EQ(Items(dlg.ComboBox8),
              QStringList({"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"}));
    for (const QComboBox* list :
         {dlg.ComboBox1, dlg.ComboBox2, dlg.ComboBox3, dlg.ComboBox4, dlg.ComboBox5, dlg.ComboBox8})
        EXPECT_FALSE(list->isEditable());
    QStringList labels;
    for (const QLabel* label : dlg.GroupBox2->findChildren<QLabel*>())
        labels << label->text();
    EXPECT_EQ(labels, QStringList({"Sample Rate:", "Min. BitRate:", "Max. BitRate:", "Stereo Mode:",
                                   "MPEG Quality:", "VBR Quality:"}));
    const TdfsBrowseDirectoryDlg* browser = dlg.dfsBrowseDirectoryDlgOutputDir;
    EXPECT_EQ(browser->Title(), "Choose folder where ripped files should be saved:");
    EXPECT_EQ(browser->Caption(), "Browse for folder");
    EXPECT_EQ(browser->Options().Bits(), TBrowseFlags({bfNewDialogStyle}).Bits());
    EXPECT_TRUE(browser->ShowSelectionInStatus());
    EXPECT_TRUE(browser->Center());
    EXPECT_EQ(browser->Root(), idDesktop);
}

TEST_F(OptionsTest, FillsFromTheRecord) {
    OddSettings();
    TfrmOptions dlg;
    EXPECT_EQ(dlg.EditOutputDir->text(), "/srv/rips/");
    EXPECT_FALSE(dlg.CheckBoxOpen->isChecked());
    EXPECT_EQ(dlg.ComboBox1->currentText(), "22050");
    EXPECT_EQ(dlg.ComboBox2->currentText(), "96");
    EXPECT_EQ(dlg.ComboBox3->currentText(), "160");
    EXPECT_EQ(dlg.ComboBox4->currentText(), "Mono");
    EXPECT_EQ(dlg.ComboBox5->currentText(), "High");
    EXPECT_EQ(dlg.ComboBox8->currentText(), "9");
    EXPECT_FALSE(dlg.CheckBox6->isChecked());
    EXPECT_FALSE(dlg.CheckBox7->isChecked());
    EXPECT_TRUE(dlg.CheckBox3->isChecked());
    EXPECT_TRUE(dlg.CheckBox4->isChecked());
    EXPECT_FALSE(dlg.CheckBox5->isChecked());
    EXPECT_TRUE(dlg.CheckBox8->isChecked());
}

TEST_F(OptionsTest, OKTakesEverythingOverUnchanged) {
    OddSettings();
    const TMP3Settings before = Settings;
    TfrmOptions dlg;
    dlg.OKClick();
    EXPECT_EQ(dlg.result(), mrOk);
    ExpectSameRecord(Settings, before);
}

TEST_F(OptionsTest, VBROffDisablesFourControlsAndTickingEnablesThem) {
    Settings.EnableVBR = 0;
    TfrmOptions dlg;
    const QWidget* dependent[] = {dlg.CheckBox7, dlg.ComboBox8, dlg.ComboBox3, dlg.ComboBox5};
    for (const QWidget* w : dependent)
        EXPECT_FALSE(w->isEnabled()) << w->metaObject()->className();
    for (const QWidget* w :
         {static_cast<QWidget*>(dlg.ComboBox1), static_cast<QWidget*>(dlg.ComboBox2),
          static_cast<QWidget*>(dlg.ComboBox4), static_cast<QWidget*>(dlg.CheckBox3)})
        EXPECT_TRUE(w->isEnabled());
    for (const QLabel* label : dlg.GroupBox2->findChildren<QLabel*>())
        EXPECT_TRUE(label->isEnabled()) << label->text().toStdString();
    dlg.CheckBox6->click();
    for (const QWidget* w : dependent)
        EXPECT_TRUE(w->isEnabled());
    // Disabled or not, their values are taken over.
    dlg.CheckBox6->click();
    dlg.ComboBox3->setCurrentIndex(2);
    dlg.OKClick();
    EXPECT_EQ(Settings.EnableVBR, 0);
    EXPECT_EQ(Settings.MaxBitRates, 192);
}

TEST_F(OptionsTest, CRCOffStaysOff) {
    Settings.CRC = 0;
    TfrmOptions dlg;
    EXPECT_FALSE(dlg.CheckBox5->isChecked());
    dlg.OKClick();
    EXPECT_EQ(Settings.CRC, 0);
}

TEST_F(OptionsTest, BooleansAreStoredAllBitsSet) {
    Settings.CRC = 7; // any non-zero value is true
    TfrmOptions dlg;
    EXPECT_TRUE(dlg.CheckBox5->isChecked());
    dlg.CheckBox3->setChecked(true);
    dlg.OKClick();
    EXPECT_EQ(Settings.CRC, -1);
    EXPECT_EQ(Settings.CopyRight, -1);
}

struct UnlistedRateCase {
    const char* name;
    int32_t TMP3Settings::*field;
    int32_t value;
    QComboBox* TfrmOptions::*list;
    int chosen; // the item picked afterwards
    int32_t stored;
};

class UnlistedRateTest : public OptionsTest,
                         public testing::WithParamInterface<UnlistedRateCase> {};

TEST_P(UnlistedRateTest, OpensEmptyAndOKReportsTheConversionError) {
    const UnlistedRateCase& c = GetParam();
    Settings.*c.field = c.value;
    TfrmOptions dlg;
    QComboBox* list = dlg.*c.list;
    EXPECT_EQ(list->currentIndex(), -1);
    EXPECT_EQ(list->currentText(), "");
    dlg.EditOutputDir->setText("  /new/place  ");
    dlg.ComboBox4->setCurrentIndex(2);
    try {
        dlg.OKClick();
        FAIL() << "OK went through";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'' is not a valid integer value");
    }
    EXPECT_EQ(dlg.result(), 0);               // still open
    EXPECT_EQ(Settings.OutDir, "/new/place"); // the steps before it are taken over
    EXPECT_EQ(Settings.Mode, 0);              // the steps after it are not
    EXPECT_EQ(Settings.*c.field, c.value);
    list->setCurrentIndex(c.chosen);
    dlg.OKClick();
    EXPECT_EQ(dlg.result(), mrOk);
    EXPECT_EQ(Settings.*c.field, c.stored);
    EXPECT_EQ(Settings.Mode, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, UnlistedRateTest,
    testing::Values(UnlistedRateCase{"SampleRate48000", &TMP3Settings::SampleRates, 48000,
                                     &TfrmOptions::ComboBox1, 1, 32000},
                    UnlistedRateCase{"MinBitRate112", &TMP3Settings::BitRates, 112,
                                     &TfrmOptions::ComboBox2, 5, 96},
                    UnlistedRateCase{"MaxBitRate128", &TMP3Settings::MaxBitRates, 128,
                                     &TfrmOptions::ComboBox3, 0, 320}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(OptionsTest, OKButtonRaisesTheErrorToTheApplicationAndStaysOpen) {
    Settings.SampleRates = 48000;
    TfrmOptions dlg;
    dlg.show();
    dlg.OK->click();
    // The error comes out of the dialog's own event, where the application's error
    // report catches everything that escapes a handler.
    try {
        QCoreApplication::sendPostedEvents(&dlg);
        FAIL() << "no error reached the application";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'' is not a valid integer value");
    }
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), 0);
}

struct PositionCase {
    const char* name;
    int32_t TMP3Settings::*field;
    int32_t outside; // a position the list does not have
    QComboBox* TfrmOptions::*list;
};

class OutOfRangePositionTest : public OptionsTest,
                               public testing::WithParamInterface<PositionCase> {};

TEST_P(OutOfRangePositionTest, OpensEmptyAndStoresMinusOne) {
    const PositionCase& c = GetParam();
    Settings.*c.field = c.outside;
    TfrmOptions dlg;
    EXPECT_EQ((dlg.*c.list)->currentIndex(), -1);
    dlg.OKClick();
    EXPECT_EQ(Settings.*c.field, -1);
}

INSTANTIATE_TEST_SUITE_P(
    Positions, OutOfRangePositionTest,
    testing::Values(PositionCase{"Mode9", &TMP3Settings::Mode, 9, &TfrmOptions::ComboBox4},
                    PositionCase{"ModeNegative", &TMP3Settings::Mode, -3, &TfrmOptions::ComboBox4},
                    PositionCase{"Quality4", &TMP3Settings::Quality, 4, &TfrmOptions::ComboBox5},
                    PositionCase{"VBRQuality10", &TMP3Settings::VBRQuality, 10,
                                 &TfrmOptions::ComboBox8}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(OptionsTest, OutputFolderIsStoredWithoutSurroundingBlanks) {
    const struct {
        const char* typed;
        const char* stored;
    } rows[] = {{"  /home/ann/Music  ", "/home/ann/Music"},
                {"\t/a b/ \n", "/a b/"},
                {"   ", ""},
                {"relative/dir", "relative/dir"}};
    for (const auto& row : rows) {
        TfrmOptions dlg;
        dlg.EditOutputDir->setText(row.typed);
        dlg.OKClick();
        EXPECT_EQ(Settings.OutDir, row.stored) << row.typed;
    }
}

TEST_F(OptionsTest, DefaultThenCancelKeepsTheDefaults) {
    OddSettings();
    Settings.ConfirmOverwrite = false;
    TfrmOptions dlg;
    dlg.btnDefault->click();
    TMP3Settings expected = Defaults();
    expected.ConfirmOverwrite = false; // "Default" leaves it alone
    ExpectSameRecord(Settings, expected);
    // The controls show the defaults again.
    EXPECT_EQ(dlg.EditOutputDir->text().toStdString(), expected.OutDir);
    EXPECT_EQ(dlg.ComboBox1->currentText(), "44100");
    EXPECT_EQ(dlg.ComboBox2->currentText(), "128");
    EXPECT_EQ(dlg.ComboBox3->currentText(), "320");
    EXPECT_EQ(dlg.ComboBox8->currentText(), "5");
    EXPECT_TRUE(dlg.CheckBox6->isChecked());
    EXPECT_TRUE(dlg.CheckBox7->isEnabled());
    dlg.BitBtn1->click();
    // Cancel: the caller applies the encoder settings only after OK.
    EXPECT_EQ(dlg.result(), mrCancel);
    ExpectSameRecord(Settings, expected);
}

TEST_F(OptionsTest, CancelEscAndCloseBoxChangeNothing) {
    OddSettings();
    const TMP3Settings before = Settings;
    const std::function<void(TfrmOptions&)> ways[] = {
        [](TfrmOptions& d) { d.BitBtn1->click(); }, [](TfrmOptions& d) { d.reject(); }, // Esc
        [](TfrmOptions& d) { d.close(); }, // the close box
    };
    for (const auto& way : ways) {
        TfrmOptions dlg;
        dlg.show();
        dlg.EditOutputDir->setText("/elsewhere");
        dlg.CheckBox6->click();
        way(dlg);
        EXPECT_EQ(dlg.result(), mrCancel);
        ExpectSameRecord(Settings, before);
    }
}

TEST_F(OptionsTest, ExecReturnsTheModalResults) {
    for (const bool ok : {true, false}) {
        TfrmOptions dlg;
        QTimer::singleShot(0, &dlg, [&dlg, ok] { (ok ? dlg.OK : dlg.BitBtn1)->click(); });
        EXPECT_EQ(dlg.exec(), ok ? mrOk : mrCancel);
    }
}

namespace {

// Runs the options dialog's folder button; the browser then selects `pick` (when not
// empty) and is confirmed, or is cancelled. Reports where the browser opened.
QString BrowseFromOptions(TfrmOptions& dlg, const QString& pick, bool confirm) {
    QString openedAt;
    dlg.dfsBrowseDirectoryDlgOutputDir->OnCreate = [&](TdfsBrowseDirectoryDlg* s) {
        TFolderBrowserDialog* w = s->Handle();
        openedAt = w->SelectedPath();
        QTimer::singleShot(0, w, [w, pick, confirm] {
            if (!pick.isEmpty())
                w->SetSelectionPath(pick);
            confirm ? w->accept() : w->reject();
        });
    };
    dlg.SpeedButtonOutputDir->click();
    return openedAt;
}

} // namespace

TEST_F(OptionsTest, ChosenFolderGetsAFinalSlash) {
    const QString start = MakeDir("Music");
    const QString pick = MakeDir("Music/Rips");
    TfrmOptions dlg;
    dlg.EditOutputDir->setText(start);
    EXPECT_EQ(BrowseFromOptions(dlg, pick, true), start); // opens at the typed folder
    EXPECT_EQ(dlg.EditOutputDir->text(), pick + "/");
}

TEST_F(OptionsTest, CancelledBrowserLeavesTheFolderAlone) {
    const QString start = MakeDir("Music");
    TfrmOptions dlg;
    dlg.EditOutputDir->setText(start);
    BrowseFromOptions(dlg, root, false);
    EXPECT_EQ(dlg.EditOutputDir->text(), start);
}

TEST_F(OptionsTest, BlankFolderDoesNotPreselect) {
    TfrmOptions dlg;
    dlg.EditOutputDir->setText("   ");
    const QString pick = MakeDir("Out");
    BrowseFromOptions(dlg, pick, true);
    EXPECT_EQ(dlg.EditOutputDir->text(), pick + "/");
    EXPECT_EQ(dlg.dfsBrowseDirectoryDlgOutputDir->Selection(), pick);
}

namespace {

struct StartFolderCase {
    const char* name;
    const char* box;  // the output-folder box; %1 stands for the temporary home
    bool musicFolder; // whether $HOME/Music exists
};

class StartFolderTest : public OptionsTest, public testing::WithParamInterface<StartFolderCase> {};

} // namespace

// A box that names no usable folder opens the browser at the music folder (or home),
// never at whatever row the tree makes current: OK then chooses that folder.
TEST_P(StartFolderTest, OpensAtTheMusicOrHomeFolder) {
    if (GetParam().musicFolder)
        MakeDir("Music");
    TfrmOptions dlg;
    dlg.EditOutputDir->setText(QString::fromUtf8(GetParam().box).arg(root));
    QString shown;
    dlg.dfsBrowseDirectoryDlgOutputDir->OnCreate = [&shown](TdfsBrowseDirectoryDlg* s) {
        TFolderBrowserDialog* w = s->Handle();
        QTimer::singleShot(0, w, [w, &shown] {
            const QModelIndex current = w->Tree()->currentIndex();
            shown = current.isValid() ? current.data(QFileSystemModel::FilePathRole).toString()
                                      : QString();
            w->OKButton()->click();
        });
    };
    dlg.SpeedButtonOutputDir->click();
    const QString expected = GetParam().musicFolder ? root + "/Music" : root;
    EXPECT_EQ(shown.toStdString(), expected.toStdString());
    EXPECT_EQ(dlg.EditOutputDir->text().toStdString(), (expected + "/").toStdString());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StartFolderTest,
    testing::Values(StartFolderCase{"empty_box", "", true},
                    StartFolderCase{"empty_box_without_music_folder", "", false},
                    StartFolderCase{"blanks_only", "   ", true},
                    StartFolderCase{"leading_blank", " %1/Music", true},
                    StartFolderCase{"missing_folder", "%1/no/such/folder", true},
                    StartFolderCase{"relative_path", "Music", false}),
    [](const auto& row) { return std::string(row.param.name); });

namespace {

// The room a caption needs against the room its control gives it, both from the font's
// metrics: a label's text, a check box's box and text, a list's widest entry.
struct Room {
    QString text;
    int needed;
    int given;
};

QStringList Entries(const QComboBox* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items << list->itemText(i);
    return items;
}

std::vector<Room> CaptionRooms(const QWidget& dialog) {
    std::vector<Room> rooms;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        const QString text = QString(label->text()).remove(QLatin1Char('&'));
        rooms.push_back(
            {text, label->fontMetrics().horizontalAdvance(text), label->contentsRect().width()});
    }
    for (const QCheckBox* box : dialog.findChildren<QCheckBox*>())
        rooms.push_back({box->text(), box->sizeHint().width(), box->width()});
    for (const QPushButton* button : dialog.findChildren<QPushButton*>()) {
        // A push button's size hint has a minimum width of its own; the text needs its
        // advance and the style's margin on either side.
        const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
        rooms.push_back({button->text(),
                         button->fontMetrics().horizontalAdvance(button->text()) + 2 * margin,
                         button->width()});
    }
    for (const QComboBox* list : dialog.findChildren<QComboBox*>()) {
        QStyleOptionComboBox option;
        option.initFrom(list);
        const QRect field = list->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                          QStyle::SC_ComboBoxEditField, list);
        for (const QString& item : Entries(list))
            rooms.push_back({item, list->fontMetrics().horizontalAdvance(item), field.width()});
    }
    for (const QGroupBox* group : dialog.findChildren<QGroupBox*>())
        rooms.push_back({group->title(), group->fontMetrics().horizontalAdvance(group->title()),
                         group->width() - 16});
    return rooms;
}

} // namespace

// No caption of the dialog is cut: every label, check box, button, group title and list
// entry fits the widget that shows it, measured with the font the dialog really got.
TEST_F(OptionsTest, NoCaptionIsClipped) {
    TfrmOptions dlg;
    dlg.show();
    QCoreApplication::processEvents();
    const std::vector<Room> rooms = CaptionRooms(dlg);
    EXPECT_GE(rooms.size(), 45u); // 13 captions, 3 buttons, 2 groups, 29 list entries
    for (const Room& room : rooms)
        EXPECT_LE(room.needed, room.given)
            << room.text.toStdString() << " in " << QFontInfo(dlg.font()).family().toStdString();
}

// The FLAC, Opus and ReplayGain settings: a button in the free room between Default and
// OK opens them; the Options dialog's OK takes them, its Cancel does not.
TEST_F(OptionsTest, FormatsButtonAndItsDialog) {
    Settings.FlacCompression = 5;
    Settings.OpusBitrate = 96;
    Settings.ReplayGain = true;
    TfrmOptions dlg;
    EXPECT_EQ(dlg.btnFormats->text(), "&Formats...");
    EXPECT_EQ(dlg.btnFormats->geometry(), QRect(90, 298, 80, 23));
    EXPECT_LE(dlg.btnDefault->geometry().right(), dlg.btnFormats->geometry().left());
    EXPECT_LE(dlg.btnFormats->geometry().right(), dlg.OK->geometry().left());
    FormatValues shown;
    dlg.ExecFormats = [&](TfrmFormatOptions& f) {
        shown = f.Values();
        EXPECT_EQ(f.Group->title(), "FLAC, Opus and ReplayGain");
        QStringList levels;
        for (int i = 0; i < f.FlacLevel->count(); ++i)
            levels << f.FlacLevel->itemText(i);
        EXPECT_EQ(levels, QStringList({"0", "1", "2", "3", "4", "5", "6", "7", "8"}));
        f.FlacLevel->setCurrentIndex(f.FlacLevel->findText("2"));
        f.OpusBitrate->setCurrentIndex(f.OpusBitrate->findText("192"));
        f.ReplayGain->setChecked(false);
        return int(QDialog::Accepted);
    };
    dlg.btnFormatsClick();
    EXPECT_EQ(shown.FlacCompression, 5);
    EXPECT_EQ(shown.OpusBitrate, 96);
    EXPECT_TRUE(shown.ReplayGain);
    EXPECT_EQ(Settings.FlacCompression, 5); // not before the Options dialog's OK
    dlg.OKClick();
    EXPECT_EQ(Settings.FlacCompression, 2);
    EXPECT_EQ(Settings.OpusBitrate, 192);
    EXPECT_FALSE(Settings.ReplayGain);
}

TEST_F(OptionsTest, FormatsCancelledKeepTheValues) {
    Settings.OpusBitrate = 77; // not in the list: shown as it is, not changed
    TfrmOptions dlg;
    dlg.ExecFormats = [](TfrmFormatOptions& f) {
        EXPECT_EQ(f.OpusBitrate->currentText(), "77");
        f.OpusBitrate->setCurrentIndex(0);
        return int(QDialog::Rejected);
    };
    dlg.btnFormatsClick();
    dlg.OKClick();
    EXPECT_EQ(Settings.OpusBitrate, 77);
    EXPECT_EQ(Settings.FlacCompression, 8);
}

TEST_F(OptionsTest, DefaultButtonResetsTheFormats) {
    Settings.FlacCompression = 1;
    Settings.OpusBitrate = 64;
    Settings.ReplayGain = false;
    TfrmOptions dlg;
    dlg.btnDefaultClick();
    dlg.OKClick();
    EXPECT_EQ(Settings.FlacCompression, 8);
    EXPECT_EQ(Settings.OpusBitrate, 160);
    EXPECT_TRUE(Settings.ReplayGain);
}
