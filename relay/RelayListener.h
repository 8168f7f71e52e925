#pragma once

#include <QHostAddress>
#include <QObject>
#include <QSslConfiguration>
#include <QString>
#include <chrono>
#include <optional>

class QSocketNotifier;
class QTcpSocket;

// The relay's listening socket. It hands over every TCP connection as soon as
// it is accepted: with a TLS configuration as a QSslSocket whose handshake has
// not started, so the relay applies its connection limits and its handshake
// time-out before a client costs it a handshake. (QSslServer handshakes first
// and counts handshakes in progress against its pending cap, so a few dozen
// silent connections held up everyone else.)
//
// It calls accept() itself rather than through QTcpServer: once accept() has
// reported "try again" (as it does after every burst), Qt 6.4 takes a later
// "out of descriptors" for the same and spins on the listening socket instead
// of reporting it. Here running out pauses accepting for a while and says so.
class RelayListener : public QObject {
    Q_OBJECT
public:
    explicit RelayListener(std::optional<QSslConfiguration> ssl, QObject* parent = nullptr);
    ~RelayListener() override;

    bool listen(const QHostAddress& address, quint16 port);
    // Stops accepting; connections already handed over are not touched (they
    // stay children of the listener until their owners take them).
    void close();
    QString errorString() const { return m_error; }
    quint16 serverPort() const { return m_port; }
    // How long accepting pauses when the process or system runs out of
    // descriptors or memory; the waiting connections stay queued meanwhile.
    void setRetryInterval(std::chrono::milliseconds interval) { m_retryInterval = interval; }
    // Used for connections accepted from now on.
    void setSslConfiguration(const QSslConfiguration& config) { m_ssl = config; }

Q_SIGNALS:
    // A new connection, parented to the listener; the receiver takes it on.
    void accepted(QTcpSocket* socket);
    // accept() failed for want of resources: once per run of failures.
    void acceptFailing(const QString& why);
    // The first connection accepted after a run of failures.
    void acceptRecovered();

private:
    void acceptAll();
    void adopt(int descriptor);

    std::optional<QSslConfiguration> m_ssl;
    int m_fd = -1;
    quint16 m_port = 0;
    QString m_error;
    std::chrono::milliseconds m_retryInterval{1000};
    bool m_failing = false;
    QSocketNotifier* m_notifier = nullptr;
};
