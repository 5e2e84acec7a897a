#pragma once

// A message box that no test answers would wait for a click that never comes on the
// offscreen platform. The GUI tests' main() starts this watch: every 100 ms of any
// event loop (the box's own included) it looks for an open message box, fails the
// running test with the box's text and closes the box, so that the test goes on.
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

inline void WatchForUnansweredBoxes(QApplication& app) {
    auto* timer = new QTimer(&app);
    QObject::connect(timer, &QTimer::timeout, [] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (box == nullptr || !box->isVisible())
                continue;
            ADD_FAILURE() << "a message box opened that no test answers: \""
                          << box->windowTitle().toStdString()
                          << "\": " << box->text().toStdString();
            box->done(QMessageBox::Cancel);
        }
    });
    timer->start(100);
}
