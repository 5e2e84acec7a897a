#pragma once

#include <QDir>
#include <QString>
#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>

// A fresh folder per test that also serves as $HOME and holds $XDG_CONFIG_HOME, so that
// nothing the dialogs look up or create reaches the real home folder.
class TempHomeTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/velmora-dialogs-XXXXXX");
        ASSERT_TRUE(dir_->isValid());
        root = QDir(dir_->path()).canonicalPath();
        QDir(root).mkpath(".config");
        setenv("HOME", root.toLocal8Bit().constData(), 1);
        setenv("XDG_CONFIG_HOME", (root + "/.config").toLocal8Bit().constData(), 1);
    }

    // Makes a folder below the temporary root and returns its absolute path.
    QString MakeDir(const QString& relative) const {
        QDir(root).mkpath(relative);
        return root + "/" + relative;
    }

    QString root;

private:
    std::unique_ptr<QTemporaryDir> dir_;
};
