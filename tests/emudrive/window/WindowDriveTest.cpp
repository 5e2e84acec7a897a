// The window's drive box on the emulated drive: the drive's name, and why it holds no
// readable disc, in the user's words.
#include "discgen.h"
#include "settings/globals.h"
#include "ui/AppErrors.h"
#include "ui/uMain.h"

#include <QDir>
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace {

int Emu(const std::string& settings) {
    using Control = int (*)(const char*);
    auto control = reinterpret_cast<Control>(dlsym(RTLD_DEFAULT, "velmora_emudrive_control"));
    return control ? control(settings.c_str()) : -1;
}

const QString kName = QStringLiteral("TESTCO DRIVE 7 9.99 /dev/sr0");

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
        char pattern[] = "/tmp/velmora-emuwindow-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        setenv("HOME", dir_.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (dir_ + "/config").c_str(), 1);
        setenv("VELMORA_SETTINGS", (dir_ + "/velmora-ripper.ini").c_str(), 1);
        unsetenv("CDRIP_IMAGES");
        QDir().mkpath(QString::fromStdString(dir_ + "/config"));
        SetDefaultSettings();
        Settings.Lookup = false;
        AppMessages::SetHook([](const AppMessages::Message&) { return int(QMessageBox::Ok); });
        discgen::DiscSpec plan = discgen::simpleDisc(5, 3, 90);
        std::string error;
        ASSERT_TRUE(discgen::writeDisc(dir_ + "/disc", plan, &error)) << error;
    }
    void TearDown() override {
        window_.reset();
        AppMessages::SetHook(nullptr);
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

} // namespace
