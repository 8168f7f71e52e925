#include "RelayClients.h"
#include "RelayProcess.h"

#include <QHostAddress>

using namespace Qt::StringLiterals;

std::vector<std::unique_ptr<Client>> openClients(RelayProcess& relay, const QString& room,
                                                 int count, const QString& scheme) {
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < count; ++i) {
        clients.push_back(std::make_unique<Client>());
        if (!clients.back()->open(relay.url(room, QString::number(i), scheme)))
            ADD_FAILURE() << "client " << i << " could not join";
    }
    return clients;
}

// Two members of one room still pass a message both ways.
void expectRoomWorks(Client& a, Client& b, const QByteArray& tag) {
    const qsizetype seenA = a.binary.size();
    const qsizetype seenB = b.binary.size();
    a.ws.sendBinaryMessage(tag + "-ab");
    b.ws.sendBinaryMessage(tag + "-ba");
    ASSERT_TRUE(b.waitForBinary(seenB + 1)) << tag.constData();
    ASSERT_TRUE(a.waitForBinary(seenA + 1)) << tag.constData();
    EXPECT_EQ(b.binary.last(), tag + "-ab");
    EXPECT_EQ(a.binary.last(), tag + "-ba");
}

QByteArray upgradeRequest(const QByteArray& target, quint16 port) {
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) +
           "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
}

// A plain TCP client from a chosen loopback address. It reads only what it is
// told to, so it can play a peer that stops reading.
std::unique_ptr<QTcpSocket> rawConnect(quint16 port, const QHostAddress& source) {
    auto socket = std::make_unique<QTcpSocket>();
    socket->bind(source);
    socket->connectToHost(QHostAddress::LocalHost, port);
    socket->waitForConnected(kWaitMs);
    return socket;
}

// The same over TLS, once the handshake is done.
std::unique_ptr<QTcpSocket> rawConnectTls(quint16 port, const QHostAddress& source) {
    auto socket = std::make_unique<QSslSocket>();
    socket->setPeerVerifyMode(QSslSocket::VerifyNone);
    socket->bind(source);
    socket->connectToHostEncrypted(u"127.0.0.1"_s, port);
    socket->waitForEncrypted(kWaitMs);
    return socket;
}

// The status code the relay answers an upgrade request with; 0 when it closes
// without an answer.
int upgradeStatus(QTcpSocket& socket, const QByteArray& request) {
    socket.write(request);
    (void)QTest::qWaitFor(
        [&] {
            return socket.peek(4096).contains("\r\n\r\n") ||
                   socket.state() == QAbstractSocket::UnconnectedState;
        },
        kWaitMs);
    const QByteArray head = socket.peek(4096);
    if (!head.startsWith("HTTP/1.1 "))
        return 0;
    const qsizetype end = head.indexOf("\r\n\r\n");
    if (end >= 0)
        socket.read(end + 4);
    return head.mid(9, 3).toInt();
}

// A client from `source` that joins `room`, then stops reading: what the relay
// sends it piles up in the relay.
std::unique_ptr<QTcpSocket> stalledMember(RelayProcess& relay, const QString& room, bool tls,
                                          const QHostAddress& source) {
    auto socket = tls ? rawConnectTls(relay.port(), source) : rawConnect(relay.port(), source);
    socket->setReadBufferSize(4096);
    socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
    EXPECT_EQ(upgradeStatus(*socket, upgradeRequest("/?room=" + room.toLatin1(), relay.port())),
              101);
    return socket;
}

std::vector<std::unique_ptr<QTcpSocket>> flood(quint16 port, const QHostAddress& source,
                                               int count) {
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    for (int i = 0; i < count; ++i)
        sockets.push_back(rawConnect(port, source));
    return sockets;
}

int stillOpen(const std::vector<std::unique_ptr<QTcpSocket>>& sockets) {
    int open = 0;
    for (const auto& socket : sockets)
        if (socket->state() == QAbstractSocket::ConnectedState)
            ++open;
    return open;
}

QByteArray clientFrameHeader(int opcode, quint64 length, bool final) {
    QByteArray header;
    header += static_cast<char>((final ? 0x80 : 0) | (opcode & 0x0F));
    if (length <= 125) {
        header += static_cast<char>(0x80 | length);
    } else if (length <= 0xFFFF) {
        header += static_cast<char>(0x80 | 126);
        header += static_cast<char>(length >> 8);
        header += static_cast<char>(length & 0xFF);
    } else {
        header += static_cast<char>(0x80 | 127);
        for (int shift = 56; shift >= 0; shift -= 8)
            header += static_cast<char>((length >> shift) & 0xFF);
    }
    // A zero mask: the payload goes as it is, which is all a test needs.
    header += QByteArray(4, '\0');
    return header;
}

QByteArray clientFrame(int opcode, const QByteArray& payload, bool final, bool masked) {
    QByteArray frame = clientFrameHeader(opcode, static_cast<quint64>(payload.size()), final);
    if (!masked) {
        frame[1] = static_cast<char>(frame[1] & 0x7F);
        frame.chop(4);
    }
    return frame + payload;
}

int awaitCloseCode(QTcpSocket& socket) {
    QByteArray input;
    int code = 0;
    (void)QTest::qWaitFor(
        [&] {
            input += socket.readAll();
            // Server frames are unmasked; skip everything up to a close frame.
            while (input.size() >= 2) {
                const int opcode = input[0] & 0x0F;
                quint64 length = static_cast<unsigned char>(input[1]) & 0x7F;
                qsizetype at = 2;
                if (length == 126) {
                    if (input.size() < 4)
                        return false;
                    length = (quint64(static_cast<unsigned char>(input[2])) << 8) |
                             static_cast<unsigned char>(input[3]);
                    at = 4;
                } else if (length == 127) {
                    if (input.size() < 10)
                        return false;
                    length = 0;
                    for (int i = 2; i < 10; ++i)
                        length = (length << 8) | static_cast<unsigned char>(input[i]);
                    at = 10;
                }
                if (quint64(input.size() - at) < length)
                    return false;
                if (opcode == 0x8) {
                    code = length >= 2 ? (static_cast<unsigned char>(input[at]) << 8) |
                                             static_cast<unsigned char>(input[at + 1])
                                       : 1005;
                    return true;
                }
                input.remove(0, at + static_cast<qsizetype>(length));
            }
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        kWaitMs);
    return code;
}

std::pair<int, QByteArray> httpGet(quint16 port, const QByteArray& path) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(kWaitMs))
        return {0, {}};
    socket.write("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    QByteArray response;
    (void)QTest::qWaitFor(
        [&] {
            response += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        kWaitMs);
    response += socket.readAll();
    const qsizetype end = response.indexOf("\r\n\r\n");
    if (!response.startsWith("HTTP/1.1 ") || end < 0)
        return {0, {}};
    return {response.mid(9, 3).toInt(), response.mid(end + 4)};
}
