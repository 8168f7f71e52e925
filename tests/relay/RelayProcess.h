#pragma once

#include <QProcess>
#include <QStringList>
#include <QUrl>
#include <chrono>

using namespace Qt::StringLiterals;

// One tindrel-relay process on loopback, owned by a test: started with the
// given options, stopped (by its own PID) when the object goes.
class RelayProcess {
public:
    explicit RelayProcess(QStringList options = {});
    ~RelayProcess();
    RelayProcess(const RelayProcess&) = delete;
    RelayProcess& operator=(const RelayProcess&) = delete;

    // Starts the process on `port` (0: any free port) and waits for it to listen.
    bool start(quint16 port = 0);
    // Ends the process abruptly, as a crash or power loss would.
    void kill();
    // Sends it a signal (SIGHUP, SIGTERM, ...).
    void signal(int number);
    // Waits for the process to end by itself; its exit code, or -1.
    int waitForExit(int timeoutMs);
    // Before start(): the process runs with at most this many descriptors
    // (soft and hard limit alike).
    void setDescriptorLimit(int limit);

    qint64 pid() const { return m_process.processId(); }
    quint16 port() const { return m_port; }
    // The metrics port, when started with --metrics.
    quint16 metricsPort() const;
    // Resident memory of the process, in KiB.
    qint64 residentKib() const;
    QUrl url(const QString& room, const QString& device = u"D"_s,
             const QString& scheme = u"ws"_s) const;
    // Waits until a line of the relay's log contains `fragment`.
    bool waitForLog(const QString& fragment,
                    std::chrono::milliseconds timeout = std::chrono::seconds(5));
    bool logContains(const QString& fragment) const;
    int logCount(const QString& fragment) const;
    QStringList log() const { return m_lines; }

private:
    void readLog();

    QStringList m_options;
    QProcess m_process;
    QByteArray m_partial;
    QStringList m_lines;
    quint16 m_port = 0;
};

// A room name as clients derive it: 64 lower-case hex digits.
QString roomName(const QByteArray& seed);
