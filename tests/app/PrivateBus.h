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

    struct Setup {
        // Where it listens; a restart() comes back at the same address.
        QString socket;
        // The daemon's max_message_size, in bytes; its own default when 0.
        qint64 maxMessageSize = 0;
    };
    // Ends the daemon and starts one as `setup` says, activating nothing.
    void restart(const Setup& setup);
    // Ends the daemon and starts it again as it was started last.
    void restart();

private:
    void start(const QStringList& arguments);
    void stop();

    QProcess m_daemon;
    QStringList m_arguments;
    QString m_socket;
    QString m_address;
    QString m_connectionName;
};
