#pragma once

#include <QJsonArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <optional>

// The discovery helper running on one device of the sandboxed LAN, and the
// few things the tests do to the sandbox itself.
class LanDevice {
public:
    // Why the sandbox is not there; empty when it is up.
    static QString unavailableReason();
    // Runs a command on a device to its end; its stdout, or none on failure.
    static std::optional<QString> run(int device, const QStringList& command);
    // Stops or starts a device's avahi-daemon.
    static bool avahi(int device, const QString& action);
    // Connects from a device to an address and port; the peer's greeting.
    static std::optional<QString> probe(int device, const QString& address, int port);

    LanDevice(int device, const QStringList& helperArguments);
    ~LanDevice();
    LanDevice(const LanDevice&) = delete;
    LanDevice& operator=(const LanDevice&) = delete;

    // The next line that starts with prefix (and that accept takes), without
    // the prefix; lines before it are passed over. None after the time-out.
    std::optional<QString> next(const QString& prefix,
                                const std::function<bool(const QString&)>& accept = {},
                                std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // The next service set that accept takes.
    std::optional<QJsonArray>
    nextServices(const std::function<bool(const QJsonArray&)>& accept,
                 std::chrono::milliseconds timeout = std::chrono::seconds(20));
    void send(const QString& line);
    // The helper's TCP port, from its first line.
    int port();
    // Everything the helper said, for failure messages.
    QString transcript() const { return m_lines.join(u'\n'); }
    int count(const QString& line) const { return static_cast<int>(m_lines.count(line)); }

private:
    QProcess m_process;
    QStringList m_lines;
    qsizetype m_cursor = 0;
    QByteArray m_partial;
    int m_port = -1;
};
