#include "core/sync/ReplayGuard.h"
#include "support/SyncLogCapture.h"

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
