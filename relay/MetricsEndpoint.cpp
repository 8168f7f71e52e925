#include "MetricsEndpoint.h"
#include "RelayServer.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <chrono>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 kMaxRequestBytes = 8192;
constexpr std::chrono::milliseconds kRequestTimeout{5000};

// Every reason appears, at zero too, so a dashboard's series exist from the start.
const char* const kDropReasons[] = {"oversize", "queue_budget", "roomless", "text"};
const char* const kRefusalReasons[] = {"server_full",      "per_address", "bad_request",
                                       "header_too_large", "room_full",   "handshake_timeout",
                                       "tls_handshake"};

qint64 residentBytes() {
    QFile statm(u"/proc/self/statm"_s);
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * sysconf(_SC_PAGESIZE) : 0;
}

void metric(QByteArray& out, const char* name, const char* type, const char* help) {
    out += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
}

void sample(QByteArray& out, const char* name, quint64 value, const QByteArray& labels = {}) {
    out += name + labels + ' ' + QByteArray::number(value) + '\n';
}

void byReason(QByteArray& out, const char* name, const QMap<QString, quint64>& counts,
              const auto& reasons) {
    QMap<QString, quint64> all = counts;
    for (const char* reason : reasons)
        all.insert(QString::fromLatin1(reason), counts.value(QString::fromLatin1(reason)));
    for (auto it = all.cbegin(); it != all.cend(); ++it)
        sample(out, name, it.value(), "{reason=\"" + it.key().toLatin1() + "\"}");
}

} // namespace

MetricsEndpoint::MetricsEndpoint(const RelayServer& relay, QObject* parent)
    : QObject(parent), m_relay(relay), m_server(new QTcpServer(this)) {
    connect(m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server->nextPendingConnection())
            serve(socket);
    });
}

bool MetricsEndpoint::listen(const QHostAddress& address, quint16 port) {
    return m_server->listen(address, port);
}

quint16 MetricsEndpoint::serverPort() const {
    return m_server->serverPort();
}

QString MetricsEndpoint::errorString() const {
    return m_server->errorString();
}

QByteArray MetricsEndpoint::metricsText() const {
    const RelayServer::Stats& stats = m_relay.stats();
    QByteArray out;
    metric(out, "tindrel_relay_connections", "gauge", "Open TCP connections, upgraded or not.");
    sample(out, "tindrel_relay_connections", static_cast<quint64>(m_relay.connectionCount()));
    metric(out, "tindrel_relay_members", "gauge", "Connections upgraded and in a room.");
    sample(out, "tindrel_relay_members", static_cast<quint64>(m_relay.memberCount()));
    metric(out, "tindrel_relay_rooms", "gauge", "Rooms with at least one member.");
    sample(out, "tindrel_relay_rooms", static_cast<quint64>(m_relay.roomCount()));
    metric(out, "tindrel_relay_queued_bytes", "gauge",
           "Bytes held for members: queued towards them and of messages still arriving.");
    sample(out, "tindrel_relay_queued_bytes", static_cast<quint64>(m_relay.heldBytes()));
    metric(out, "tindrel_relay_members_joined_total", "counter", "Connections upgraded.");
    sample(out, "tindrel_relay_members_joined_total", stats.connectionsAccepted);
    metric(out, "tindrel_relay_messages_forwarded_total", "counter",
           "Messages delivered, one for each receiving member.");
    sample(out, "tindrel_relay_messages_forwarded_total", stats.messagesForwarded);
    metric(out, "tindrel_relay_forwarded_bytes_total", "counter",
           "Payload bytes delivered, counted for each receiving member.");
    sample(out, "tindrel_relay_forwarded_bytes_total", stats.bytesForwarded);
    metric(out, "tindrel_relay_messages_dropped_total", "counter",
           "Messages not delivered: over the size limit, to a member dropped for its "
           "backlog, with nobody else in the room, or text.");
    byReason(out, "tindrel_relay_messages_dropped_total", stats.dropped, kDropReasons);
    metric(out, "tindrel_relay_connections_refused_total", "counter",
           "Connections refused or dropped before they joined a room.");
    byReason(out, "tindrel_relay_connections_refused_total", stats.refused, kRefusalReasons);
    metric(out, "process_resident_memory_bytes", "gauge", "Resident memory of the relay.");
    sample(out, "process_resident_memory_bytes", static_cast<quint64>(residentBytes()));
    return out;
}

void MetricsEndpoint::serve(QTcpSocket* socket) {
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(kRequestTimeout, socket, [socket] { socket->abort(); });
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
        const QByteArray head = socket->peek(kMaxRequestBytes);
        if (!head.contains("\r\n\r\n") && head.size() < kMaxRequestBytes)
            return;
        disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
        const QList<QByteArray> line = head.left(head.indexOf("\r\n")).split(' ');
        const QByteArray path = line.size() == 3 && line[0] == "GET" ? line[1] : QByteArray();
        QByteArray status = "200 OK";
        QByteArray type = "text/plain; charset=utf-8";
        QByteArray body;
        if (path == "/metrics") {
            type = "text/plain; version=0.0.4; charset=utf-8";
            body = metricsText();
        } else if (path == "/healthz") {
            if (m_draining)
                status = "503 Service Unavailable";
            body = m_draining ? "stopping\n" : "ok\n";
        } else {
            status = path.isEmpty() ? "400 Bad Request" : "404 Not Found";
        }
        socket->readAll();
        socket->write("HTTP/1.1 " + status + "\r\nContent-Type: " + type + "\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    });
}
