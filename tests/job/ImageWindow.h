#pragma once

// The start-up the window programs of these tests share: a disc image as the machine's
// last drive, the default settings, and the main window on that drive with every track
// ticked.

#include "settings/globals.h"
#include "ui/uMain.h"

#include <QFileInfo>
#include <QString>
#include <cstdlib>

// Before the application starts: the image becomes a virtual drive, and the settings
// are the defaults (the settings file's values come over them when the window opens).
inline void UseDiscImage(const char* cue) {
    ::setenv("CDRIP_IMAGES", QFileInfo(cue).absoluteFilePath().toLocal8Bit().constData(), 1);
    SetDefaultSettings();
}

// Once the window shows: its job writes into outDir and opens nothing when done; the
// image's drive (the last) is read and every track ticked.
inline void PickImageDrive(TfrmMain& window, const char* outDir) {
    Settings.OutDir = outDir;
    Settings.OpenWhenDone = false;
    window.cboDrive->setCurrentIndex(window.cboDrive->count() - 1);
    window.cboDriveClick();
    window.SelectAll1Click();
}
