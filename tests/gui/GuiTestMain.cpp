// main() of the editor's test programs: a QApplication on the offscreen
// platform (unless the caller chose one, as the screenshot run under Xvfb
// does), inside a private root, with the Qt notification pump installed.
#include <QApplication>
#include <cstdlib>

#include <gtest/gtest.h>

#include "shell/QtPrompt.h"
#include "support/TestEnvironment.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return sonitor::test::RunInPrivateRoot([&] {
        QApplication app(argc, argv);
        sonitor::InstallQtNotificationPump();
        return RUN_ALL_TESTS();
    });
}
