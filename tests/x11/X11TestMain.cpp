#include "X11TestEnv.h"

#include <QApplication>
#include <gtest/gtest.h>

// Runs on the headless desktop the fixture started: its display comes from
// the file the fixture wrote, whatever DISPLAY the caller had.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    const QByteArray display = X11TestEnv::fixtureDisplay();
    if (display.isEmpty()) {
        std::fprintf(stderr, "no headless desktop: run through ctest (fixture x11desktop)\n");
        return 1;
    }
    qputenv("DISPLAY", display);
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
