#pragma once

#include <QProcess>
#include <QSslError>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QWebSocket>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

using namespace Qt::StringLiterals;

class RelayProcess;
class QHostAddress;

// Clients for the relay tests: well-behaved WebSocket members and raw TCP
// clients that play hostile or stalled peers.

inline constexpr int kWaitMs = 5000;

// A self-signed certificate for 127.0.0.1 and its key, in a folder that
// lasts as long as the object.
struct TestCertificate {
    TestCertificate() {
        QProcess openssl;
        openssl.start(u"openssl"_s,
                      {u"req"_s, u"-x509"_s, u"-newkey"_s, u"ec"_s, u"-pkeyopt"_s,
                       u"ec_paramgen_curve:prime256v1"_s, u"-nodes"_s, u"-days"_s, u"1"_s,
                       u"-subj"_s, u"/CN=127.0.0.1"_s, u"-keyout"_s, key, u"-out"_s, cert});
        ok = openssl.waitForFinished(30000) && openssl.exitCode() == 0;
        error = openssl.readAllStandardError();
    }
    QStringList relayOptions() const { return {u"--cert"_s, cert, u"--key"_s, key}; }

    QTemporaryDir dir;
    QString cert = dir.filePath(u"cert.pem"_s);
    QString key = dir.filePath(u"key.pem"_s);
    bool ok = false;
    QByteArray error;
};

// A WebSocket client that records what reaches it.
struct Client {
    Client() {
        QObject::connect(&ws, &QWebSocket::binaryMessageReceived,
                         [this](const QByteArray& message) { binary.append(message); });
        QObject::connect(&ws, &QWebSocket::textMessageReceived,
                         [this](const QString& message) { text.append(message); });
        QObject::connect(&ws, &QWebSocket::disconnected, [this] { closed = true; });
        // The test relays serve a self-signed certificate.
        QObject::connect(&ws, &QWebSocket::sslErrors,
                         [this](const QList<QSslError>&) { ws.ignoreSslErrors(); });
    }
    bool open(const QUrl& url) {
        closed = false;
        ws.open(url);
        (void)QTest::qWaitFor(
            [&] { return ws.state() == QAbstractSocket::ConnectedState || closed; }, kWaitMs);
        return ws.state() == QAbstractSocket::ConnectedState;
    }
    bool waitForBinary(qsizetype count) {
        return QTest::qWaitFor([&] { return binary.size() >= count; }, kWaitMs);
    }

    QWebSocket ws;
    QList<QByteArray> binary;
    QStringList text;
    bool closed = false;
};

std::vector<std::unique_ptr<Client>> openClients(RelayProcess& relay, const QString& room,
                                                 int count, const QString& scheme = u"ws"_s);

// Two members of one room still pass a message both ways.
void expectRoomWorks(Client& a, Client& b, const QByteArray& tag);
QByteArray upgradeRequest(const QByteArray& target, quint16 port);

// A plain TCP client from a chosen loopback address. It reads only what it is
// told to, so it can play a peer that stops reading.
std::unique_ptr<QTcpSocket> rawConnect(quint16 port, const QHostAddress& source);

// The same over TLS, once the handshake is done.
std::unique_ptr<QTcpSocket> rawConnectTls(quint16 port, const QHostAddress& source);

// The status code the relay answers an upgrade request with; 0 when it closes
// without an answer.
int upgradeStatus(QTcpSocket& socket, const QByteArray& request);

// A client from `source` that joins `room`, then stops reading: what the relay
// sends it piles up in the relay.
std::unique_ptr<QTcpSocket> stalledMember(RelayProcess& relay, const QString& room, bool tls,
                                          const QHostAddress& source);
std::vector<std::unique_ptr<QTcpSocket>> flood(quint16 port, const QHostAddress& source, int count);
int stillOpen(const std::vector<std::unique_ptr<QTcpSocket>>& sockets);

// One client frame as it goes on the wire; `masked` false makes the kind of
// frame only a server may send.
QByteArray clientFrame(int opcode, const QByteArray& payload, bool final = true,
                       bool masked = true);
// The frame header alone, for a client that announces more than it sends.
QByteArray clientFrameHeader(int opcode, quint64 length, bool final = true);
// Reads server frames until a close frame and returns its code; 0 when the
// connection ends (or the wait runs out) without one.
int awaitCloseCode(QTcpSocket& socket);
// GET `path` over plain HTTP; the status and the body.
std::pair<int, QByteArray> httpGet(quint16 port, const QByteArray& path);
