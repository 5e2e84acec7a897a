// main() of the main-window tests: our own application object on the offscreen
// platform, created after GoogleTest has read its flags.
#include "ModalGuard.h"
#include "ui/AppErrors.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TVelmoraApplication app(argc, argv);
    WatchForUnansweredBoxes(app);
    return RUN_ALL_TESTS();
}
