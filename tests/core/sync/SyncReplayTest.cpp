#include "core/store/ClipStore.h"
#include "core/sync/ReplayGuard.h"
#include "core/sync/SyncPinsAdapter.h"
#include "core/sync/SyncProtocol.h"
#include "core/sync/SyncService.h"
#include "support/SyncLogCapture.h"
#include "support/SyncRawPeer.h"
#include "support/SyncTestDevice.h"

#include <QTemporaryDir>
#include <QTest>
#include <QUuid>
#include <gtest/gtest.h>

// What someone on the network can do with sync frames it recorded: send
// them again later, on a connection of its own. It holds no key, so all it
// has are the exact bytes a paired device once sent. Everything here runs
// over real loopback sockets, the recording played back by the test.

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

constexpr int kWaitMs = 5000;
constexpr double kDay = 86400.0;

QByteArray recorded(const SyncMessage& message, const QByteArray& key) {
    return frameOf(message.seal(key).value());
}

SyncMessage helloFrom(const SyncTestDevice& device) {
    return SyncMessage::hello(device.identity.deviceId(), device.identity.deviceName());
}

// A clip as a conforming device sends it.
SyncMessage clipFrom(const SyncTestDevice& device, const QString& text, double createdAt) {
    SyncMessage clip;
    clip.type = SyncMessageType::clip;
    clip.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    clip.text = text;
    clip.originId = device.identity.deviceId();
    clip.originName = device.identity.deviceName();
    clip.createdAt = createdAt;
    clip.hash = SyncCrypto::hash(text);
    return clip;
}

SyncMessage pinsMessage(QList<SyncPinPayload> pins, QList<SyncUnpinPayload> unpinned) {
    SyncMessage message;
    message.type = SyncMessageType::pins;
    message.pins = std::move(pins);
    message.unpinned = std::move(unpinned);
    return message;
}

// As a device that named the replay guard sends it.
SyncMessage stamped(SyncMessage message, const SyncTestDevice& to, qint64 seq,
                    const QString& via = u"direct"_s) {
    message.to = to.identity.deviceId();
    message.via = via;
    message.seq = seq;
    return message;
}

class SyncReplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        pair(a, b);
        // A wall-clock time, as a real device has.
        a.clock.current = Instant::fromUnix(1'765'000'000.0);
    }
    SyncService::Options options() const {
        SyncService::Options options;
        options.helloTimeout = 300ms;
        options.connectionLimits.unboundTimeout = 300ms;
        options.receivedClipsPath = dir.filePath(u"state/sync-received"_s);
        return options;
    }
    void bootA() {
        a.boot(options());
        a.start();
        ASSERT_TRUE(a.service->isRunning());
    }
    double now() const { return a.clock.now().unix(); }
    QByteArray key() const { return b.sessionKeyWith(a); }
    // A connection that opens with `frames` (each recording holds one
    // hello), kept until A has acted on all of them: until A closed it, or
    // answered a second hello sent after them. A answers every hello; a clip
    // as the marker would add to the log lines the tests look for.
    std::unique_ptr<RawPeer> playBack(const QList<QByteArray>& frames) {
        auto peer = std::make_unique<RawPeer>(a, key());
        for (const QByteArray& frame : frames)
            peer->sendBytes(frame);
        peer->send(helloFrom(b));
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return peer->isClosed() || peer->types().count(SyncMessageType::hello) == 2; },
            kWaitMs));
        return peer;
    }
    // A's store, fed by A's service as the app wires it.
    std::unique_ptr<ClipStore> storeForA() {
        auto store = std::make_unique<ClipStore>(a.prefs, a.clock, dir.filePath(u"store.json"_s));
        QObject::connect(a.service.get(), &SyncService::remotePinsReceived, store.get(),
                         [store = store.get()](const QList<SyncPinPayload>& pins,
                                               const QList<SyncUnpinPayload>& unpinned) {
                             store->mergePins(SyncPinsAdapter::fromWire(pins),
                                              SyncPinsAdapter::fromWire(unpinned));
                         });
        QObject::connect(a.service.get(), &SyncService::remoteClipReceived, store.get(),
                         [store = store.get()](const QString& text, const QString& sender) {
                             store->record(text, u"sync:"_s + sender);
                         });
        a.pins = {};
        a.service->pinsProvider = [store = store.get()] {
            const PinsState state = store->pinsState(0);
            return SyncService::PinsSnapshot{SyncPinsAdapter::toWire(state.pins),
                                             SyncPinsAdapter::toWire(state.unpinned)};
        };
        return store;
    }
    QStringList receivedTexts() const {
        QStringList texts;
        for (const auto& [text, sender] : a.received)
            texts.append(text);
        return texts;
    }

    QTemporaryDir dir;
    SyncLogCapture log;
    SyncTestDevice a{u"Anna"_s};
    SyncTestDevice b{u"Bert"_s};
};

} // namespace

TEST_F(SyncReplayTest, AClipFramePlayedBackLaterNeverReachesTheClipboardAgain) {
    bootA();
    const QByteArray hello = recorded(helloFrom(b), key());
    const QByteArray secret = recorded(clipFrom(b, u"old password"_s, now()), key());
    {
        RawPeer bert(a, key());
        bert.sendBytes(hello);
        bert.sendBytes(secret);
        // Enough later copies to push its text out of the recent hashes.
        for (int i = 0; i < SyncService::recentHashLimit; ++i)
            bert.send(clipFrom(b, u"later "_s + QString::number(i), now() + 1.0 + i));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return a.received.size() == SyncService::recentHashLimit + 1; }, kWaitMs));
    }
    ASSERT_FALSE(a.service->recentHashes().contains(SyncCrypto::hash(u"old password"_s)));

    // Behind the recorded hello, on a connection of its own.
    playBack({hello, secret});
    EXPECT_TRUE(log.contains(u"a clip from Bert came a second time — refused as played back"_s));
    // After a restart: the memory was on disk.
    a.service.reset();
    bootA();
    playBack({hello, secret});
    // Once its time has left the window, no memory is needed.
    a.clock.advance(ReplayGuard::maxAge + 1.0);
    a.service.reset();
    QFile::remove(options().receivedClipsPath);
    bootA();
    playBack({hello, secret});
    EXPECT_TRUE(log.contains(u"a clip from Bert was made more than 15 minutes ago"_s));
    EXPECT_EQ(a.received.size(), SyncService::recentHashLimit + 1);
    EXPECT_EQ(receivedTexts().count(u"old password"_s), 1);

    // Bert himself still gets through, on any connection.
    RawPeer bert(a, key());
    bert.send(helloFrom(b));
    bert.send(clipFrom(b, u"new"_s, now()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return receivedTexts().contains(u"new"_s); }, kWaitMs));
}

TEST_F(SyncReplayTest, NothingACallerSendsBeforeItsHelloIsActedOn) {
    SyncTestDevice cleo(u"Cleo"_s);
    bootA();
    // Frames A has never seen, as if recorded on their way elsewhere.
    SyncMessage roster;
    roster.type = SyncMessageType::devices;
    roster.devices = QList<SyncDevicePayload>{cleo.record().payload()};
    const QList<QByteArray> firstFrames = {
        recorded(clipFrom(b, u"first frame"_s, now()), key()),
        recorded(roster, key()),
        recorded(pinsMessage({{u"pinned"_s, now()}}, {}), key()),
    };
    for (const QByteArray& frame : firstFrames) {
        const auto peer = playBack({frame, recorded(helloFrom(b), key())});
        EXPECT_TRUE(peer->isClosed());
        EXPECT_TRUE(peer->types().isEmpty());
    }
    EXPECT_TRUE(a.received.isEmpty());
    EXPECT_TRUE(a.receivedPins.isEmpty());
    EXPECT_EQ(a.service->peers().size(), 1);
    EXPECT_FALSE(a.connectedTo(b));
    EXPECT_EQ(log.count(u"before its hello — not acted on, connection closed"_s), 3);

    // Hello first, as every conforming device does it: all of it is taken.
    const auto bert = playBack(
        {recorded(helloFrom(b), key()), firstFrames.at(0), firstFrames.at(1), firstFrames.at(2)});
    EXPECT_EQ(receivedTexts(), QStringList{u"first frame"_s});
    EXPECT_EQ(a.receivedPins.size(), 1);
    EXPECT_EQ(a.service->peers().size(), 2);
}

TEST_F(SyncReplayTest, OldPinSnapshotsAndDeviceListsPlayedBackChangeNothing) {
    SyncTestDevice cleo(u"Cleo"_s);
    bootA();
    const std::unique_ptr<ClipStore> store = storeForA();
    const QByteArray hello = recorded(helloFrom(b), key());
    SyncMessage roster;
    roster.type = SyncMessageType::devices;
    roster.devices = QList<SyncDevicePayload>{cleo.record().payload()};
    const QByteArray oldPins = recorded(pinsMessage({{u"old pin"_s, now() - 60.0}}, {}), key());
    const QByteArray oldRoster = recorded(roster, key());
    playBack({hello, oldPins, oldRoster});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return store->pinned().size() == 1 && a.service->peers().size() == 2; }, kWaitMs));

    // The user unpins the clip and unpairs Cleo; then both frames come again.
    a.clock.advance(30.0);
    store->unpin(store->pinned().first());
    for (const SyncDevice& device : a.service->peers())
        if (device.id == cleo.identity.deviceId())
            a.service->unpair(device);
    a.clock.advance(30.0);
    playBack({hello, oldPins, oldRoster});
    EXPECT_TRUE(store->pinned().isEmpty());
    EXPECT_EQ(a.service->peers().size(), 1);
    EXPECT_EQ(a.service->peers().first().id, b.identity.deviceId());
}

TEST_F(SyncReplayTest, APeerClockYearsAheadNeverStampsPinsAfterIt) {
    bootA();
    const std::unique_ptr<ClipStore> store = storeForA();
    store->record(u"kept"_s);
    ASSERT_TRUE(store->pin(store->history().first()));
    const double tenYears = 3652.5 * kDay;
    const SyncMessage future = pinsMessage({{u"theirs"_s, now() + tenYears}},
                                           {{SyncCrypto::hash(u"kept"_s), now() + tenYears}});
    RawPeer bert(a, key());
    bert.send(helloFrom(b));
    bert.send(future);
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.receivedPins.size() == 1; }, kWaitMs));
    // Taken as said now: the unpin and the pin both count.
    ASSERT_EQ(store->pinned().size(), 1);
    EXPECT_EQ(store->pinned().first().text(), u"theirs"_s);
    EXPECT_LE(store->pinned().first().pinnedAt()->unix(), now());

    // The user pins and unpins after it: stamped with our own clock, and what
    // goes out to the other devices carries nothing ahead of it either.
    a.clock.advance(60.0);
    store->record(u"kept"_s);
    ASSERT_TRUE(store->pin(store->history().first()));
    store->unpin(store->pinned().last());
    for (const SyncPinPayload& pin : a.service->pinsProvider().first)
        EXPECT_LE(pin.pinnedAt, now() + kDay) << pin.text.toStdString();
    for (const SyncUnpinPayload& unpin : a.service->pinsProvider().second)
        EXPECT_LE(unpin.at, now() + kDay) << unpin.hash.toStdString();
    EXPECT_EQ(store->pinned().first().text(), u"kept"_s);
    EXPECT_NEAR(store->pinned().first().pinnedAt()->unix(), now(), 1.0);

    // Bert sends the same snapshot again: its stamps keep the time they were
    // first taken at, so the user's later pin stands.
    a.clock.advance(60.0);
    bert.send(future);
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.receivedPins.size() == 2; }, kWaitMs));
    EXPECT_EQ(store->pinned().first().text(), u"kept"_s);
    // A clip of Bert's is taken as made now; he is named in the log once.
    bert.send(clipFrom(b, u"from the future"_s, now() + tenYears));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !a.received.isEmpty(); }, kWaitMs));
    EXPECT_EQ(log.count(u"the clock of Bert runs 3652 day(s) ahead"_s), 1);
}

TEST_F(SyncReplayTest, ReceivedTextsKeepEveryCodeUnitAndAreRememberedByTheirOwnHash) {
    bootA();
    const std::unique_ptr<ClipStore> store = storeForA();
    RawPeer bert(a, key());
    bert.send(helloFrom(b));
    ASSERT_TRUE(bert.waitForType(SyncMessageType::hello));
    const QString time = QString::number(qint64(now()));
    // A lone surrogate, escaped as JSON writes it.
    bert.sendJson(QByteArray(R"({"type":"clip","id":"C1","text":"a\ud800b","hash":")") +
                  SyncCrypto::hash(u"x"_s).toLatin1() + R"(","createdAt":)" + time.toLatin1() +
                  "}");
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.received.size() == 1; }, kWaitMs));
    const QString lone = u"a"_s + QChar(0xd800) + u"b"_s;
    EXPECT_EQ(a.received.first().first, lone);
    ASSERT_FALSE(store->history().isEmpty());
    EXPECT_EQ(store->history().first().text(), lone);
    // As our own devices send it.
    const QString alsoLone = QChar(0xdc00) + u"c"_s;
    bert.send(clipFrom(b, alsoLone, now()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.received.size() == 2; }, kWaitMs));
    EXPECT_EQ(a.received.last().first, alsoLone);
    EXPECT_EQ(store->history().first().text(), alsoLone);

    // Its hash said "x": that text is still new when it comes.
    bert.send(clipFrom(b, u"x"_s, now()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.received.size() == 3; }, kWaitMs));
    EXPECT_EQ(a.received.last().first, u"x"_s);

    // A byte-order mark before the JSON is not a message: the connection
    // ends as for any frame that does not open.
    bert.sendJson("\xEF\xBB\xBF" + clipFrom(b, u"marked"_s, now()).encode());
    ASSERT_TRUE(QTest::qWaitFor([&] { return bert.isClosed(); }, kWaitMs));
    EXPECT_EQ(a.received.size(), 3);
}

// Between devices that both named the guard every message after hello is
// numbered on its link: one played back, or moved to another link or
// device, is refused, also after a restart behind a hello that names nothing.
TEST_F(SyncReplayTest, StampedMessagesAreTakenOnceAndOnlyWhereTheyWereSent) {
    bootA();
    const QStringList guard{QString::fromLatin1(SyncProtocol::replayGuard)};
    RawPeer bert(a, key());
    bert.send(SyncMessage::hello(b.identity.deviceId(), b.identity.deviceName(), guard));
    ASSERT_TRUE(bert.waitForType(SyncMessageType::hello));
    a.service->broadcast(Clip::make(u"one"_s, a.clock.now()));
    a.service->broadcast(Clip::make(u"two"_s, a.clock.now()));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return bert.types().count(SyncMessageType::clip) == 2; }, kWaitMs));
    // Anna's own: all but her hello stamped for Bert on this link, rising.
    qint64 last = 0;
    for (const SyncMessage& message : bert.messages()) {
        if (message.type == SyncMessageType::hello) {
            EXPECT_FALSE(message.seq.has_value());
            continue;
        }
        EXPECT_EQ(message.to, b.identity.deviceId());
        EXPECT_EQ(message.via, u"direct"_s);
        ASSERT_TRUE(message.seq.has_value());
        EXPECT_GT(*message.seq, last);
        last = *message.seq;
    }

    const auto pins = [&](const QString& text) { return pinsMessage({{text, now()}}, {}); };
    const QByteArray first = recorded(stamped(pins(u"first"_s), a, 100), key());
    bert.sendBytes(first);
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.receivedPins.size() == 1; }, kWaitMs));
    const QList<QByteArray> refused = {
        first,
        recorded(stamped(pins(u"same number"_s), a, 100), key()),
        recorded(stamped(pins(u"older"_s), a, 99), key()),
        recorded(pins(u"unstamped"_s), key()),
        recorded(stamped(pins(u"for Bert"_s), b, 101), key()),
        recorded(stamped(pins(u"sent by relay"_s), a, 101, u"relay"_s), key()),
    };
    for (const QByteArray& frame : refused)
        bert.sendBytes(frame);
    const QByteArray next = recorded(stamped(pins(u"next"_s), a, 101), key());
    bert.sendBytes(next);
    // Taken in order: by the time the next one is, the others were refused.
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.receivedPins.size() == 2; }, kWaitMs));
    EXPECT_EQ(a.receivedPins.last().pins.first().text, u"next"_s);
    EXPECT_TRUE(log.contains(
        u"a pins message from Bert on the direct link did not carry a newer stamp — refused as "
        "played back"_s));

    // After a restart, behind a hello from before Bert stamped.
    a.service.reset();
    bootA();
    playBack({recorded(helloFrom(b), key()), next, recorded(pins(u"unstamped"_s), key())});
    EXPECT_EQ(a.receivedPins.size(), 2);
}
