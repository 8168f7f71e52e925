#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>

class QTcpServer;
class QTcpSocket;
class RelayServer;

// The relay's operator endpoint, on an address of its own: GET /metrics in
// the Prometheus text format and GET /healthz for load balancers. Plain
// HTTP/1.1, one request per connection.
class MetricsEndpoint : public QObject {
    Q_OBJECT
public:
    explicit MetricsEndpoint(const RelayServer& relay, QObject* parent = nullptr);

    bool listen(const QHostAddress& address, quint16 port);
    quint16 serverPort() const;
    QString errorString() const;
    // Health checks fail from now on, so a balancer stops sending clients.
    void setDraining() { m_draining = true; }

    QByteArray metricsText() const;

private:
    void serve(QTcpSocket* socket);

    const RelayServer& m_relay;
    QTcpServer* m_server = nullptr;
    bool m_draining = false;
};
