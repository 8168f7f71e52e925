#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QString>

// A session bus of the test's own (a dbus-daemon it starts and ends), so a
// Tindrel under test never meets the user's, nor another test's. It starts
// no program of the machine's: only the services a test names.
class PrivateBus {
public:
    PrivateBus();
    // A bus that starts the services described in `serviceDir`, in the
    // environment given.
    PrivateBus(const QString& serviceDir, const QProcessEnvironment& environment);
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // Empty when the daemon did not start.
    const QString& address() const { return m_address; }
    // The test's own connection to it.
    QDBusConnection connection() const;

private:
    void start(const QStringList& arguments);

    QProcess m_daemon;
    QString m_address;
    QString m_connectionName;
};
