#include <QCoreApplication>
#include <gtest/gtest.h>

// Qt timers and queued calls need an application object, even headless.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
