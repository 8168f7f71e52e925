#pragma once

#include "core/sync/SyncCrypto.h"
#include "core/sync/SyncMessage.h"
#include "support/SyncTestDevice.h"

#include <QTcpSocket>
#include <QTest>
#include <QtEndian>
#include <algorithm>
#include <gtest/gtest.h>

// The test as the other end of one sync connection, byte by byte, to send
// what no honest device would.
inline QByteArray frameOf(const QByteArray& sealed) {
    QByteArray prefix(4, Qt::Uninitialized);
    qToBigEndian(quint32(sealed.size()), prefix.data());
    return prefix + sealed;
}

struct RawPeer {
    static constexpr int waitMs = 5000;

    RawPeer(const SyncTestDevice& target, QByteArray sessionKey) : key(std::move(sessionKey)) {
        socket.connectToHost(QHostAddress::LocalHost, quint16(target.service->listenerPort()));
        EXPECT_TRUE(socket.waitForConnected(waitMs));
    }
    void sendJson(const QByteArray& json) {
        sendBytes(frameOf(SyncCrypto::seal(json, key).value()));
    }
    void send(const SyncMessage& message) { sendJson(message.encode()); }
    void sendBytes(const QByteArray& bytes) {
        socket.write(bytes);
        socket.flush();
    }
    // Messages received so far.
    QList<SyncMessage> messages() {
        buffer += socket.readAll();
        while (buffer.size() >= 4) {
            const quint32 length = qFromBigEndian<quint32>(buffer.constData());
            if (buffer.size() < 4 + qsizetype(length))
                break;
            if (auto message = SyncMessage::open(buffer.mid(4, length), key))
                decoded.append(*message);
            buffer.remove(0, 4 + length);
        }
        return decoded;
    }
    QList<SyncMessageType> types() {
        QList<SyncMessageType> out;
        for (const SyncMessage& m : messages())
            out.append(m.type);
        return out;
    }
    bool waitForType(SyncMessageType type) {
        return QTest::qWaitFor([&] { return types().contains(type); }, waitMs);
    }
    bool isClosed() { return socket.state() == QAbstractSocket::UnconnectedState; }
    // Sends a clip made long ago, which the target acknowledges and then
    // refuses as played back, and waits for the acknowledgement: by then the
    // target has acted on all this connection carried before, and all that
    // made it send here has come. Needs a greeted connection with receiving
    // on; the marker leaves no clip or event behind, only a line in the log.
    bool sendMarker(int timeoutMs = waitMs) {
        SyncMessage clip;
        clip.type = SyncMessageType::clip;
        const QString id = u"marker-"_s + QString::number(++markersSent);
        clip.id = id;
        clip.text = id;
        clip.hash = SyncCrypto::hash(id);
        clip.createdAt = 1.0;
        send(clip);
        return QTest::qWaitFor(
            [&] {
                const QList<SyncMessage> got = messages();
                return std::any_of(got.cbegin(), got.cend(), [&](const SyncMessage& m) {
                    return m.type == SyncMessageType::ack && m.id == id;
                });
            },
            timeoutMs);
    }

    QByteArray key;
    QTcpSocket socket;
    QByteArray buffer;
    QList<SyncMessage> decoded;
    int markersSent = 0;
};
