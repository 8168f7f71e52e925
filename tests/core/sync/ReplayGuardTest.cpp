#include "core/sync/ReplayGuard.h"
#include "support/SyncLogCapture.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using Verdict = ReplayGuard::Verdict;

namespace {
constexpr double kNow = 1'765'000'000.0;
const QString kPeer = u"P"_s;

SyncMessage clipAt(std::optional<double> createdAt, const QString& id = u"C"_s) {
    SyncMessage clip;
    clip.type = SyncMessageType::clip;
    clip.id = id;
    clip.text = u"t"_s;
    clip.createdAt = createdAt;
    return clip;
}
} // namespace

TEST(ReplayGuard, TakesEachFrameOnceAndOnlyInsideItsWindow) {
    const double ahead = ReplayGuard::maxAhead;
    const double age = ReplayGuard::maxAge;
    const struct {
        const char* name;
        std::optional<double> createdAt;
        Verdict first;
        Verdict again;
    } cases[] = {
        {"now", kNow, Verdict::fresh, Verdict::repeated},
        {"clock minutes behind", kNow - age + 1, Verdict::fresh, Verdict::repeated},
        {"too old", kNow - age - 1, Verdict::stale, Verdict::stale},
        {"clock hours ahead", kNow + ahead - 1, Verdict::fresh, Verdict::repeated},
        {"clock years ahead", kNow + 100 * ahead, Verdict::fresh, Verdict::repeated},
        {"no time at all", std::nullopt, Verdict::fresh, Verdict::repeated},
    };
    for (const auto& c : cases) {
        ReplayGuard guard;
        EXPECT_EQ(guard.admit(kPeer, clipAt(c.createdAt), kNow), c.first) << c.name;
        EXPECT_EQ(guard.admit(kPeer, clipAt(c.createdAt), kNow), c.again) << c.name;
        // Another device's frame is its own; another clip is another frame.
        EXPECT_EQ(guard.admit(u"Q"_s, clipAt(c.createdAt), kNow), c.first) << c.name;
        EXPECT_EQ(guard.admit(kPeer, clipAt(c.createdAt, u"D"_s), kNow), c.first) << c.name;
    }
}

TEST(ReplayGuard, AClockFarAheadTellsNothingSoItsClipsMustOnlyMoveOn) {
    ReplayGuard guard;
    const double future = kNow + 10 * ReplayGuard::maxAhead;
    EXPECT_EQ(guard.admit(kPeer, clipAt(future, u"1"_s), kNow), Verdict::fresh);
    EXPECT_EQ(guard.admit(kPeer, clipAt(future + 5, u"2"_s), kNow), Verdict::fresh);
    // Held back and sent after a later one.
    EXPECT_EQ(guard.admit(kPeer, clipAt(future + 1, u"3"_s), kNow), Verdict::repeated);
    // The device's clock is set right: its clips are judged by ours again.
    EXPECT_EQ(guard.admit(kPeer, clipAt(kNow, u"4"_s), kNow), Verdict::fresh);
}

TEST(ReplayGuard, ForgetsOnlyWhatNoLongerMatters) {
    ReplayGuard guard;
    // Its time leaves the window: refused as stale rather than remembered.
    EXPECT_EQ(guard.admit(kPeer, clipAt(kNow), kNow), Verdict::fresh);
    EXPECT_EQ(guard.admit(kPeer, clipAt(kNow), kNow + ReplayGuard::maxAge + 1), Verdict::stale);

    // More frames than it keeps: nothing at or before the forgotten ones is
    // taken, later ones are.
    const double start = kNow + 1000;
    for (qsizetype i = 0; i <= ReplayGuard::maxFramesPerPeer; ++i)
        ASSERT_EQ(guard.admit(kPeer, clipAt(start + double(i), QString::number(i)), start),
                  Verdict::fresh);
    EXPECT_EQ(guard.admit(kPeer, clipAt(start, u"0"_s), start), Verdict::repeated);
    EXPECT_EQ(guard.admit(kPeer, clipAt(start, u"other"_s), start), Verdict::repeated);
    EXPECT_EQ(guard.admit(kPeer, clipAt(start + 1, u"1"_s), start), Verdict::repeated);
    EXPECT_EQ(guard.admit(kPeer, clipAt(start + 5000, u"new"_s), start), Verdict::fresh);
}

TEST(ReplayGuard, RemembersAcrossRestartsAndSetsADamagedFileAside) {
    SyncLogCapture log;
    QTemporaryDir dir;
    const QString path = dir.filePath(u"state/sync-received"_s);
    {
        ReplayGuard guard(path);
        EXPECT_EQ(guard.admit(kPeer, clipAt(kNow, u"1"_s), kNow), Verdict::fresh);
        EXPECT_EQ(guard.admit(kPeer, clipAt(kNow + 1, u"2"_s), kNow), Verdict::fresh);
    }
    // A few bytes per frame.
    EXPECT_LT(QFileInfo(path).size(), 100);
    {
        ReplayGuard guard(path);
        EXPECT_EQ(guard.admit(kPeer, clipAt(kNow, u"1"_s), kNow), Verdict::repeated);
        EXPECT_EQ(guard.admit(kPeer, clipAt(kNow + 1, u"2"_s), kNow), Verdict::repeated);
        EXPECT_EQ(guard.admit(u"Q"_s, clipAt(kNow, u"1"_s), kNow), Verdict::fresh);
    }

    for (const QByteArray& damaged : {QByteArray("not ours"), QByteArray()}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        const QByteArray good = file.readAll();
        file.resize(0);
        file.write(damaged.isEmpty() ? good.left(good.size() - 3) : damaged);
        file.close();
        ReplayGuard guard(path);
        // It starts empty and works; the bytes are kept beside.
        EXPECT_EQ(guard.admit(kPeer, clipAt(kNow, u"1"_s), kNow), Verdict::fresh);
        guard.flush();
        EXPECT_TRUE(QFileInfo::exists(path));
    }
    EXPECT_EQ(QDir(dir.filePath(u"state"_s))
                  .entryList({u"sync-received.damaged-*"_s}, QDir::Files)
                  .size(),
              2);
    EXPECT_EQ(log.count(u"the memory of received clips could not be read"_s), 2);
}

namespace {
using Kind = PeerLink::Kind;
const QString kMe = u"ME"_s;

SyncMessage stampedAs(std::optional<qint64> seq, const QString& to = kMe,
                      const QString& via = u"direct"_s) {
    SyncMessage message;
    message.type = SyncMessageType::pins;
    if (seq) {
        message.seq = seq;
        message.to = to;
        message.via = via;
    }
    return message;
}
} // namespace

TEST(ReplayGuard, StampNumbersOnlyGrowAndEachIsTakenOnceWhereItWasSent) {
    ReplayGuard sender;
    SyncMessage first;
    sender.stamp(first, kPeer, Kind::relay, kNow);
    EXPECT_EQ(first.to, kPeer);
    EXPECT_EQ(first.via, u"relay"_s);
    EXPECT_EQ(first.seq, qint64(kNow * 1000));
    // The same millisecond, and a clock set back an hour.
    SyncMessage second;
    sender.stamp(second, kPeer, Kind::direct, kNow);
    SyncMessage third;
    sender.stamp(third, kPeer, Kind::relay, kNow - 3600);
    EXPECT_EQ(second.seq, *first.seq + 1);
    EXPECT_EQ(third.seq, *first.seq + 2);

    ReplayGuard receiver;
    const struct {
        const char* name;
        SyncMessage message;
        Kind came;
        bool taken;
    } steps[] = {
        {"unstamped, from a device that never stamped", stampedAs(std::nullopt), Kind::direct,
         true},
        {"the first stamp", stampedAs(10), Kind::direct, true},
        {"the same again", stampedAs(10), Kind::direct, false},
        {"an older one", stampedAs(9), Kind::direct, false},
        {"unstamped, once it has stamped", stampedAs(std::nullopt), Kind::direct, false},
        {"stamped for another device", stampedAs(11, u"OTHER"_s), Kind::direct, false},
        {"sent by relay, come directly", stampedAs(11, kMe, u"relay"_s), Kind::direct, false},
        {"sent directly, come by relay", stampedAs(11), Kind::relay, false},
        {"the relay counts on its own", stampedAs(5, kMe, u"relay"_s), Kind::relay, true},
        {"a newer one", stampedAs(11), Kind::direct, true},
    };
    for (const auto& step : steps)
        EXPECT_EQ(receiver.admitStamp(step.message, kPeer, step.came, kMe, kNow), step.taken)
            << step.name;
    // Another device has its own numbers.
    EXPECT_TRUE(receiver.admitStamp(stampedAs(std::nullopt), u"Q"_s, Kind::direct, kMe, kNow));
    // Unpaired, and paired again with a release that does not stamp.
    receiver.forgetStamps(kPeer);
    EXPECT_TRUE(receiver.admitStamp(stampedAs(std::nullopt), kPeer, Kind::direct, kMe, kNow));
}

TEST(ReplayGuard, StampNumbersSurviveARestartAndTheOlderFileStillReads) {
    SyncLogCapture log;
    QTemporaryDir dir;
    const QString path = dir.filePath(u"sync-received"_s);
    qint64 sent = 0;
    {
        ReplayGuard guard(path);
        EXPECT_TRUE(guard.admitStamp(stampedAs(10), kPeer, Kind::direct, kMe, kNow));
        SyncMessage message;
        guard.stamp(message, kPeer, Kind::direct, kNow);
        sent = *message.seq;
    }
    {
        ReplayGuard guard(path);
        EXPECT_FALSE(guard.admitStamp(stampedAs(10), kPeer, Kind::direct, kMe, kNow));
        EXPECT_FALSE(guard.admitStamp(stampedAs(std::nullopt), kPeer, Kind::direct, kMe, kNow));
        // Started again with the clock set back.
        SyncMessage message;
        guard.stamp(message, kPeer, Kind::direct, kNow - 60);
        EXPECT_EQ(message.seq, sent + 1);
    }

    // As written before stamps: one device, no frames, its newest clip.
    QByteArray older;
    QDataStream out(&older, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << quint32(0x54525031) << quint32(1) << kPeer.toUtf8() << -1.0 << kNow << kNow
        << quint32(0);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(older);
    file.close();
    ReplayGuard guard(path);
    EXPECT_EQ(guard.newest(kPeer), kNow);
    EXPECT_TRUE(guard.admitStamp(stampedAs(std::nullopt), kPeer, Kind::direct, kMe, kNow));
    EXPECT_EQ(log.count(u"could not be read"_s), 0);
}
