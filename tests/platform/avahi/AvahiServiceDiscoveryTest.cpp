#include "platform/avahi/AvahiServiceDiscovery.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

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
    discovery.publish(u"_tindrel._tcp"_s, u"Laptop"_s, 4000, {{u"pl"_s, u"linux"_s}});
    discovery.browse(u"_tindrel._tcp"_s);

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
    const QString ok = u"Laptop"_s;
    const Case cases[] = {
        {"empty name", QString(), {}, u"Invalid service name"_s},
        {"name that is only a NUL",
         QString::fromUtf16(u"\0rest", 5),
         {},
         u"Invalid service name"_s},
        {"empty key", ok, {{QString(), u"v"_s}}, u"Invalid record"_s},
        {"key with =", ok, {{u"a=b"_s, u"v"_s}}, u"Invalid record"_s},
        {"entry over 255 bytes", ok, {{u"k"_s, QString(254, u'v')}}, u"Invalid record"_s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AvahiServiceDiscovery discovery;
        QStringList failures;
        discovery.onPublishFailed = [&](const QString& reason) { failures.append(reason); };
        discovery.publish(u"_tindrel._tcp"_s, c.name, 4000, c.txt);
        QCoreApplication::processEvents();
        EXPECT_EQ(failures, QStringList{c.reason});
    }

    // The longest entry that fits ("k=" and 253 bytes) is fine.
    AvahiServiceDiscovery discovery;
    QStringList failures;
    discovery.onPublishFailed = [&](const QString& reason) { failures.append(reason); };
    discovery.publish(u"_tindrel._tcp"_s, ok, 4000, {{u"k"_s, QString(253, u'v')}});
    QCoreApplication::processEvents();
    EXPECT_TRUE(failures.isEmpty());
}
