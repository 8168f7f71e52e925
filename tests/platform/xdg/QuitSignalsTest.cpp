#include "platform/xdg/QuitSignals.h"

#include <QCoreApplication>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>

TEST(QuitSignals, TermIntAndHupArriveOnTheEventLoop) {
    std::vector<int> seen;
    {
        QuitSignals signals([&](int signal) { seen.push_back(signal); });
        ASSERT_TRUE(signals.isActive());
        for (int signal : {SIGTERM, SIGINT, SIGHUP})
            ASSERT_EQ(std::raise(signal), 0); // would end the test without the handler
        EXPECT_TRUE(QTest::qWaitFor([&] { return seen.size() == 3; }, 5000));
    }
    EXPECT_EQ(seen, (std::vector<int>{SIGTERM, SIGINT, SIGHUP}));

    // Afterwards the previous handlers are back.
    struct sigaction current {};
    sigaction(SIGTERM, nullptr, &current);
    EXPECT_EQ(current.sa_handler, SIG_DFL);
}
