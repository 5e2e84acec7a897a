// Shared main() of the GUI tests: one QApplication on the offscreen platform for the
// whole run, created after GoogleTest has read its flags so that listing needs no display.
#include "ModalGuard.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    WatchForUnansweredBoxes(app);
    return RUN_ALL_TESTS();
}
