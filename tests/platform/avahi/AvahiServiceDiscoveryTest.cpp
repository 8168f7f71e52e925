#include "platform/avahi/AvahiServiceDiscovery.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <gtest/gtest.h>

// Without any system bus, as in a container or a minimal session. The LAN
// tests cover a real avahi-daemon.

namespace {

void spinFor(int ms) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
}

class NoBus : public ::testing::Test {
protected:
    void SetUp() override {
        m_saved = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/tindrel-test/bus");
    }
    void TearDown() override {
        if (m_saved.isNull())
            qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        else
            qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_saved);
    }

private:
    QByteArray m_saved;
};

} // namespace

TEST_F(NoBus, SaysUnavailableOnceAndKeepsWhatWasAskedFor) {
    AvahiServiceDiscovery discovery;
    QList<bool> reports;
    QStringList failures;
    bool servicesReported = false;
    discovery.onAvailabilityChanged = [&](bool available) { reports.append(available); };
    discovery.onPublishFailed = [&](const QString& reason) { failures.append(reason); };
    discovery.onServicesChanged = [&](const auto&) { servicesReported = true; };
    discovery.publish(QStringLiteral("_tindrel._tcp"), QStringLiteral("Laptop"), 4000,
                      {{QStringLiteral("pl"), QStringLiteral("linux")}});
    discovery.browse(QStringLiteral("_tindrel._tcp"));

    // Long enough for a retry to fail again; it must not be reported again.
    spinFor(1500);
    EXPECT_FALSE(discovery.isAvailable());
    EXPECT_EQ(reports, QList<bool>{false});
    EXPECT_TRUE(failures.isEmpty()) << "waiting for the daemon is no failure";
    EXPECT_FALSE(servicesReported);
}

TEST_F(NoBus, RefusesWhatCanNeverBePublishedAtOnce) {
    struct Case {
        const char* what;
        QString name;
        ServiceDiscovery::Txt txt;
        QString reason;
    };
    const QString ok = QStringLiteral("Laptop");
    const Case cases[] = {
        {"empty name", QString(), {}, QStringLiteral("Invalid service name")},
        {"name that is only a NUL",
         QString::fromUtf16(u"\0rest", 5),
         {},
         QStringLiteral("Invalid service name")},
        {"empty key", ok, {{QString(), QStringLiteral("v")}}, QStringLiteral("Invalid record")},
        {"key with =",
         ok,
         {{QStringLiteral("a=b"), QStringLiteral("v")}},
         QStringLiteral("Invalid record")},
        {"entry over 255 bytes",
         ok,
         {{QStringLiteral("k"), QString(254, u'v')}},
         QStringLiteral("Invalid record")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AvahiServiceDiscovery discovery;
        QStringList failures;
        discovery.onPublishFailed = [&](const QString& reason) { failures.append(reason); };
        discovery.publish(QStringLiteral("_tindrel._tcp"), c.name, 4000, c.txt);
        QCoreApplication::processEvents();
        EXPECT_EQ(failures, QStringList{c.reason});
    }

    // The longest entry that fits ("k=" and 253 bytes) is fine.
    AvahiServiceDiscovery discovery;
    QStringList failures;
    discovery.onPublishFailed = [&](const QString& reason) { failures.append(reason); };
    discovery.publish(QStringLiteral("_tindrel._tcp"), ok, 4000,
                      {{QStringLiteral("k"), QString(253, u'v')}});
    QCoreApplication::processEvents();
    EXPECT_TRUE(failures.isEmpty());
}
