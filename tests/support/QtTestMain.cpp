// One QApplication for the window tests, on the offscreen platform unless told otherwise;
// on Windows, where the toolkit is built without it, on the system's own.
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
#ifndef _WIN32
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
#endif
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
