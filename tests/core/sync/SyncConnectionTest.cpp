#include "core/sync/SyncConnection.h"
#include "core/sync/SyncCrypto.h"
#include "support/SyncLogCapture.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QtEndian>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

using namespace Qt::StringLiterals;

// SyncConnection over real sockets on 127.0.0.1. The test plays the other
// device with a plain QTcpSocket, so it controls every byte and segment.

namespace {

using Role = SyncConnection::Role;
using Candidate = SyncConnection::CandidateKey;

constexpr int kWaitMs = 5000;
const QByteArray keyA(32, 'a');
const QByteArray keyB(32, 'b');
const QByteArray keyPairing(32, 'p');

QByteArray lengthPrefix(quint32 length) {
    QByteArray prefix(4, Qt::Uninitialized);
    qToBigEndian(length, prefix.data());
    return prefix;
}

QByteArray frameOf(const QByteArray& sealed) {
    return lengthPrefix(quint32(sealed.size())) + sealed;
}

QByteArray frame(const SyncMessage& message, const QByteArray& key) {
    return frameOf(message.seal(key).value());
}

SyncMessage clip(const QString& text) {
    SyncMessage message;
    message.type = SyncMessageType::clip;
    message.id = u"6F1C2E0A-0000-4000-8000-000000000001"_s;
    message.text = text;
    message.hash = SyncCrypto::hash(text);
    return message;
}

// Splits a stream of frames as the other side wrote it.
QList<SyncMessage> readFrames(QByteArray stream, const QByteArray& key) {
    QList<SyncMessage> out;
    while (stream.size() >= 4) {
        const quint32 length = qFromBigEndian<quint32>(stream.constData());
        if (stream.size() < 4 + qsizetype(length))
            break;
        if (auto message = SyncMessage::open(stream.mid(4, length), key))
            out.append(*message);
        stream.remove(0, 4 + length);
    }
    return out;
}

class SyncConnectionTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0)); }

    SyncEndpoint endpoint() const { return {QHostAddress::LocalHost, server.serverPort()}; }

    // Connects `client` and wraps the accepted side as an inbound connection.
    void acceptInbound(QList<Candidate> candidates,
                       const SyncConnection::Limits& limits = SyncConnection::Limits{}) {
        client.connectToHost(QHostAddress::LocalHost, server.serverPort());
        ASSERT_TRUE(client.waitForConnected(kWaitMs));
        ASSERT_TRUE(server.waitForNewConnection(kWaitMs));
        accepted = server.nextPendingConnection();
        connection = std::make_unique<SyncConnection>(accepted, Role::inbound, candidates);
        connection->setLimits(limits);
        watch(*connection);
        connection->start();
    }

    void watch(SyncConnection& c) {
        QObject::connect(&c, &SyncConnection::messageReceived, &c,
                         [this](const SyncMessage& message) { messages.append(message); });
        QObject::connect(&c, &SyncConnection::closed, &c, [this] { ++closes; });
    }

    // What a peer's socket receives until the connection ends.
    QByteArray readUntilClosed(QTcpSocket& peer) {
        QByteArray data;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                data += peer.readAll();
                return peer.state() == QAbstractSocket::UnconnectedState;
            },
            kWaitMs));
        return data + peer.readAll();
    }

    bool waitForClose() {
        return QTest::qWaitFor([&] { return closes > 0; }, kWaitMs);
    }
    bool waitForMessages(qsizetype count) {
        return QTest::qWaitFor([&] { return messages.size() >= count; }, kWaitMs);
    }

    SyncLogCapture log;
    QTcpServer server;
    QTcpSocket client;
    QTcpSocket* accepted = nullptr;
    std::unique_ptr<SyncConnection> connection;
    QList<SyncMessage> messages;
    int closes = 0;
};

} // namespace

TEST_F(SyncConnectionTest, ReassemblesFramesFromAnySegmentation) {
    const SyncMessage first = SyncMessage::hello(u"DEV-1"_s, u"Desk"_s);
    const SyncMessage second = clip(u"second clip"_s);
    const QByteArray stream = frame(first, keyA) + frame(second, keyA);
    const struct {
        const char* name;
        QList<qsizetype> cuts; // write boundaries; the rest goes in one piece
    } cases[] = {
        {"one byte at a time",
         [&] {
             QList<qsizetype> all;
             for (qsizetype i = 1; i < stream.size(); ++i)
                 all.append(i);
             return all;
         }()},
        {"prefix split from its body", {2, 4, 5}},
        {"both frames in one segment", {}},
        {"second frame starts inside the first segment", {frame(first, keyA).size() + 3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        messages.clear();
        closes = 0;
        client.abort();
        acceptInbound({{u"A"_s, keyA}});
        client.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        qsizetype from = 0;
        for (qsizetype cut : c.cuts) {
            client.write(stream.mid(from, cut - from));
            client.flush();
            QCoreApplication::processEvents(); // let the other side read this piece alone
            from = cut;
        }
        client.write(stream.mid(from));
        ASSERT_TRUE(waitForMessages(2));
        EXPECT_EQ(messages, (QList<SyncMessage>{first, second}));
        EXPECT_EQ(closes, 0);
    }
}

TEST_F(SyncConnectionTest, DeclaredLengthIsJudgedBeforeTheBodyArrives) {
    const QString tooLate = u"after key was bound"_s;
    const QString noKey = u"with any of 1 key(s)"_s;
    const struct {
        const char* name;
        bool bindFirst;
        quint32 length;
        bool sendBody;
        QString logged; // empty: closed without a line
    } cases[] = {
        {"unbound, 64 KiB is read", false, 65'536, true, u"could not decrypt a 65536-byte frame"_s},
        {"unbound, one byte over 64 KiB", false, 65'537, false, {}},
        {"bound, 1 MiB is read", true, 1'048'576, true, tooLate},
        {"bound, one byte over 1 MiB", true, 1'048'577, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SyncLogCapture caseLog;
        closes = 0;
        client.abort();
        acceptInbound({{u"A"_s, keyA}});
        if (c.bindFirst) {
            client.write(frame(SyncMessage::ping(), keyA));
            ASSERT_TRUE(waitForMessages(messages.size() + 1));
        }
        // Only the prefix unless the body is wanted: the close must not wait for it.
        client.write(lengthPrefix(c.length));
        if (c.sendBody)
            client.write(QByteArray(c.length, '\x5a'));
        ASSERT_TRUE(waitForClose());
        EXPECT_TRUE(connection->isClosed());
        if (c.logged.isEmpty()) {
            EXPECT_FALSE(caseLog.contains(tooLate));
            EXPECT_FALSE(caseLog.contains(noKey));
        } else {
            EXPECT_TRUE(caseLog.contains(c.logged)) << caseLog.messages().join(u'\n').toStdString();
        }
    }
}

TEST_F(SyncConnectionTest, InboundBindsTheFirstCandidateThatOpensAndKeepsIt) {
    acceptInbound({{u"A"_s, keyA}, {u"B"_s, keyB}});
    const SyncMessage hello = SyncMessage::hello(u"B"_s, u"Laptop"_s);
    client.write(frame(hello, keyB));
    ASSERT_TRUE(waitForMessages(1));
    EXPECT_EQ(messages.first(), hello);
    EXPECT_EQ(connection->peerId(), u"B"_s);
    EXPECT_EQ(connection->boundKey(), keyB);
    EXPECT_FALSE(connection->isPairing());

    // A frame under the other candidate's key is not accepted once bound.
    client.write(frame(clip(u"forged"_s), keyA));
    ASSERT_TRUE(waitForClose());
    EXPECT_EQ(messages.size(), 1);
    EXPECT_TRUE(log.contains(u"frame failed to decrypt after key was bound — dropping "
                             "connection"_s));
}

TEST_F(SyncConnectionTest, PairingCandidateTakesThePeerFromTheMessage) {
    acceptInbound({{u"A"_s, keyA}, {std::nullopt, keyPairing}});
    const SyncMessage pair = SyncMessage::pair(u"NEW-DEVICE"_s, u"New"_s, QString(44, u'A'));
    client.write(frame(pair, keyPairing));
    ASSERT_TRUE(waitForMessages(1));
    EXPECT_TRUE(connection->isPairing());
    EXPECT_EQ(connection->peerId(), u"NEW-DEVICE"_s);
    EXPECT_EQ(connection->boundKey(), keyPairing);
}

TEST_F(SyncConnectionTest, FirstFrameThatNoCandidateOpensClosesWithItsSizeAndKeyCount) {
    const QByteArray unknownType =
        SyncCrypto::seal(R"({"type":"teleport","deviceId":"A"})", keyA).value();
    const QByteArray hello = SyncMessage::hello(u"X"_s, u"X"_s).seal(keyPairing).value();
    const struct {
        const char* name;
        QList<Candidate> candidates;
        QByteArray sealed;
    } cases[] = {
        {"no candidates at all", {}, hello},
        {"sealed with a key nobody offers", {{u"A"_s, keyA}, {u"B"_s, keyB}}, hello},
        {"opens, but the type is unknown", {{u"A"_s, keyA}}, unknownType},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SyncLogCapture caseLog;
        closes = 0;
        messages.clear();
        client.abort();
        acceptInbound(c.candidates);
        client.write(frameOf(c.sealed));
        ASSERT_TRUE(waitForClose());
        EXPECT_TRUE(messages.isEmpty());
        EXPECT_FALSE(connection->boundKey().has_value());
        const QString expected = u"could not decrypt a %1-byte frame with any of %2 "
                                 "key(s) — wrong pairing code, or this device is "
                                 "not paired"_s.arg(c.sealed.size())
                                     .arg(c.candidates.size());
        EXPECT_EQ(caseLog.messages(), QStringList{expected});
    }
}

TEST_F(SyncConnectionTest, SendNeedsAKeyAndAnUnboundInboundHasNone) {
    acceptInbound({{u"A"_s, keyA}});
    const SyncMessage reply = SyncMessage::hello(u"ME"_s, u"Me"_s);
    connection->send(reply); // no key yet: nothing may leave
    client.write(frame(SyncMessage::ping(), keyA));
    ASSERT_TRUE(waitForMessages(1));
    connection->send(reply);              // bound key
    connection->send(clip(u"x"_s), keyB); // explicit key wins

    QByteArray received;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            received += client.readAll();
            return readFrames(received, keyA).size() + readFrames(received, keyB).size() >= 2;
        },
        kWaitMs));
    // The first bytes on the wire are the frame sent after binding.
    EXPECT_EQ(readFrames(received, keyA), QList<SyncMessage>{reply});
    EXPECT_EQ(readFrames(received.mid(frame(reply, keyA).size()), keyB),
              QList<SyncMessage>{clip(u"x"_s)});
    EXPECT_FALSE(connection->isClosed());
}

TEST_F(SyncConnectionTest, CloseStillSendsWhatWasHandedOverAndReportsOnce) {
    // Several frames handed over while the connection is still being made,
    // then closed at once; the owner drops the object when told.
    QList<SyncMessage> sent;
    for (int i = 0; i < 4; ++i)
        sent.append(clip(QString(300'000, QChar(u'a' + i))));
    auto* outbound = new SyncConnection(endpoint(), u"PEER"_s, u"Peer"_s, keyA);
    QPointer<SyncConnection> alive(outbound);
    QObject::connect(outbound, &SyncConnection::closed, outbound, [this, outbound] {
        ++closes;
        outbound->deleteLater();
    });
    outbound->start();
    for (const SyncMessage& message : sent)
        outbound->send(message);
    outbound->close();
    outbound->close();

    ASSERT_TRUE(server.waitForNewConnection(kWaitMs));
    QTcpSocket* peer = server.nextPendingConnection();
    const QByteArray stream = readUntilClosed(*peer);
    EXPECT_EQ(readFrames(stream, keyA), sent);
    ASSERT_TRUE(waitForClose());
    QCoreApplication::processEvents();
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(alive.isNull());
}

// The closing socket lingers until the peer has the rest, but not beyond
// the one who owned the connection: after quit nothing would free it.
TEST_F(SyncConnectionTest, AClosingSocketGoesWithTheConnectionsOwner) {
    auto owner = std::make_unique<QObject>();
    auto* outbound = new SyncConnection(endpoint(), u"PEER"_s, u"Peer"_s, keyA, owner.get());
    outbound->start();
    ASSERT_TRUE(server.waitForNewConnection(kWaitMs));
    const QPointer<QTcpSocket> socket = outbound->findChild<QTcpSocket*>();
    ASSERT_FALSE(socket.isNull());
    outbound->send(clip(QString(300'000, u'x')));
    outbound->close();
    owner.reset();
    EXPECT_TRUE(socket.isNull()) << "the lingering socket outlived its connection's owner";
}

TEST_F(SyncConnectionTest, PeerThatHangsUpRightAfterAFrameStillHasItDelivered) {
    acceptInbound({{u"A"_s, keyA}});
    const SyncMessage last = clip(u"last words"_s);
    client.write(frame(last, keyA));
    client.disconnectFromHost();
    ASSERT_TRUE(waitForClose());
    ASSERT_TRUE(waitForMessages(1));
    EXPECT_EQ(messages, QList<SyncMessage>{last});
    QCoreApplication::processEvents();
    EXPECT_EQ(closes, 1);
}

TEST_F(SyncConnectionTest, UnidentifiedInboundIsClosedAfterItsGraceTime) {
    SyncConnection::Limits limits;
    limits.unboundTimeout = std::chrono::milliseconds(50);
    acceptInbound({{u"A"_s, keyA}}, limits);
    ASSERT_TRUE(waitForClose());
    readUntilClosed(client);
}

TEST_F(SyncConnectionTest, PeerThatStopsReadingIsCutOffAtThePendingLimit) {
    SyncConnection outbound(endpoint(), u"PEER"_s, u"Peer"_s, keyA);
    SyncConnection::Limits limits;
    limits.maxPendingSendBytes = 1024 * 1024;
    outbound.setLimits(limits);
    watch(outbound);
    outbound.start();
    ASSERT_TRUE(server.waitForNewConnection(kWaitMs));
    QTcpSocket* peer = server.nextPendingConnection();
    peer->setReadBufferSize(1); // takes (almost) nothing off the wire

    const SyncMessage big = clip(QString(512 * 1024, u'z'));
    int sends = 0;
    while (!outbound.isClosed() && sends < 256) {
        outbound.send(big);
        ++sends;
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(outbound.isClosed()) << "still open after " << sends << " sends";
    ASSERT_TRUE(waitForClose());
    // The one line that says what happened, naming the device.
    EXPECT_TRUE(log.contains(u"closed the connection to Peer — "_s));
    EXPECT_TRUE(log.contains(u"bytes waited to be sent; it has stopped reading"_s));
}

TEST_F(SyncConnectionTest, DialThatGetsNoAnswerTimesOut) {
    // A listener whose accept queue is full drops further SYNs, so a dial to
    // it hangs the way one to a vanished device does.
    QTcpServer deaf;
    deaf.setListenBacklogSize(0);
    ASSERT_TRUE(deaf.listen(QHostAddress::LocalHost, 0));
    deaf.pauseAccepting();
    std::vector<std::unique_ptr<QTcpSocket>> fillers;
    for (int i = 0; i < 4; ++i) {
        fillers.push_back(std::make_unique<QTcpSocket>());
        fillers.back()->connectToHost(QHostAddress::LocalHost, deaf.serverPort());
    }
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return fillers.front()->state() == QAbstractSocket::ConnectedState; }, kWaitMs));

    SyncConnection outbound({QHostAddress::LocalHost, deaf.serverPort()}, u"PEER"_s, u"Peer"_s,
                            keyA);
    SyncConnection::Limits limits;
    limits.connectTimeout = std::chrono::milliseconds(200);
    outbound.setLimits(limits);
    watch(outbound);
    outbound.start();
    ASSERT_TRUE(waitForClose());
}

TEST_F(SyncConnectionTest, SocketsGetKeepAliveSettings) {
    acceptInbound({{u"A"_s, keyA}});
    const int fd = int(accepted->socketDescriptor());
    const auto option = [fd](int level, int name) {
        int value = -1;
        socklen_t size = sizeof value;
        getsockopt(fd, level, name, &value, &size);
        return value;
    };
    const struct {
        const char* name;
        int level;
        int option;
        int expected;
    } cases[] = {
        {"keep-alive on", SOL_SOCKET, SO_KEEPALIVE, 1},
        {"idle seconds", IPPROTO_TCP, TCP_KEEPIDLE, 30},
        {"interval seconds", IPPROTO_TCP, TCP_KEEPINTVL, 10},
        {"probes", IPPROTO_TCP, TCP_KEEPCNT, 3},
        {"no Nagle delay", IPPROTO_TCP, TCP_NODELAY, 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(option(c.level, c.option), c.expected) << c.name;
}
