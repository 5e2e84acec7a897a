#pragma once

#include "FakeCdRip.h"
#include "settings/globals.h"
#include "ui/AppErrors.h"
#include "ui/uMain.h"

#include <QDir>
#include <QString>
#include <QUrl>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

// Every window test runs in a fresh folder that stands in for the configuration
// folder and the settings file's place; message boxes and shell calls are recorded
// instead of shown.
class WindowFixture : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/velmora-window-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        Dir = pattern;
        setenv("HOME", Dir.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (Dir + "/config").c_str(), 1);
        setenv("VELMORA_SETTINGS", (Dir + "/velmora-ripper.ini").c_str(), 1);
        QDir().mkpath(QString::fromStdString(Dir + "/config"));
        SetDefaultSettings();
        Settings.Lookup = false; // the look-up tests turn it on themselves
        Fake = FakeCdRip{};
        AppMessages::SetHook([this](const AppMessages::Message& m) {
            Messages.push_back(m);
            return int(QMessageBox::Ok);
        });
        AppMessages::SetOpenHook([this](const QUrl& url) { Opened.push_back(url); });
    }

    void TearDown() override {
        Window.reset();
        AppMessages::SetHook(nullptr);
        AppMessages::SetOpenHook(nullptr);
        unsetenv("CDRIP_IMAGES");
        QDir(QString::fromStdString(Dir)).removeRecursively();
    }

    // Opens the window over the given library table, with its timer held still.
    void Open(const TCdRipDll& dll) {
        Window = std::make_unique<TfrmMain>(dll);
        frmMain = Window.get();
        Window->Timer1->stop();
    }

    QString Text(int row, int column) const { return Window->Row(row)->text(column); }
    bool Ticked(int row) const { return Window->Row(row)->checkState(0) == Qt::Checked; }
    QString Status() const { return Window->lblStatus->text(); }

    std::string Dir;
    std::unique_ptr<TfrmMain> Window;
    std::vector<AppMessages::Message> Messages;
    std::vector<QUrl> Opened;
};
