#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <memory>

// Keeps one object and a well-known name on the session bus for as long as
// the program runs. The bus may drop the connection: dbus-daemon does so to
// a client that sends a message over its size limit, and to every client
// when it restarts. QtDBus never connects again by itself, so this notices
// the loss (the local Disconnected signal), connects anew, exports the
// object again and asks for the name again, trying less often the longer
// the bus stays away. Connecting waits on the daemon, so it happens on a
// thread of its own.
class BusLink : public QObject {
    Q_OBJECT
public:
    // `object` is exported at `path` as `interface`, with all its slots and
    // properties, under the bus name `service`.
    BusLink(QString service, QString path, QString interface, QObject* object,
            QObject* parent = nullptr);
    ~BusLink() override;

    // Connects for the first time. When there is no bus then, Tindrel stays
    // off it, as it says in the log; only a bus it has been on is tried again.
    void start();
    // The connection in use; not connected while the bus is away.
    QDBusConnection connection() const { return m_connection; }

    // The first try after a loss, and the longest wait between tries.
    static constexpr std::chrono::milliseconds firstRetry{250};
    static constexpr std::chrono::milliseconds longestRetry{30000};

Q_SIGNALS:
    // A new connection holds the object and has asked for the name.
    void connected(const QDBusConnection& connection);

private Q_SLOTS:
    void lost();

private:
    void connectInBackground();
    void adopt(const QDBusConnection& connection);
    void requestName();
    void unreachable(const QString& why);

    QString m_service;
    QString m_path;
    QString m_interface;
    QObject* m_object;
    QDBusConnection m_connection{QString()};
    // Each connection gets a name of its own: QtDBus hands back the old,
    // dead one for a name it has seen.
    int m_connections = 0;
    bool m_connecting = false;
    bool m_wasConnected = false;
    bool m_saidUnreachable = false;
    std::chrono::milliseconds m_retryDelay = firstRetry;
    QTimer m_retry;
    std::unique_ptr<QThread> m_connector;
};
