#pragma once

#include "core/sync/PeerLink.h"
#include "core/sync/SyncMessage.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <array>
#include <memory>
#include <optional>

class LatestJobThread;

// Tells a clip frame a paired device has just sent from one recorded earlier
// and sent again by someone else. Nobody needs a key for that: the frame
// opens as it did the first time. What a conforming device sends is not
// changed; the clip's own createdAt and a memory of the frames taken are
// enough.
//
// - A clip created more than maxAge before our clock is refused. Clips are
//   only ever sent live (neither a connection nor the relay keeps them for
//   later), so all an honest clip needs is room for clocks that differ by
//   minutes; a quarter of an hour is that, and bounds how late an attacker
//   can deliver a frame it has held back.
// - Within that window every frame taken is remembered, per device, until
//   its time leaves the window: the same frame again is refused.
// - A time more than maxAhead after our clock says nothing (that device's
//   clock is wrong); such a clip is taken as made now, but only when it is
//   not older than the newest clip already taken from that device.
// - A clip without a readable time, which no conforming device sends, is
//   judged by the memory alone.
//
// Between devices that both named "replay-guard" every message after hello
// is stamped, and the window is no longer needed to refuse what was sent
// again: a stamp says whom the message is for and on which kind of link, and
// its number only grows per device and link kind, so a message is taken once
// and only where it was sent. Numbers start from our clock in milliseconds
// and never go back, also when the clock does. Once a device has stamped,
// a message from it without a stamp is refused.
//
// The memory is kept in a small file of its own, rewritten on a worker
// thread after each clip taken, so a restart does not reopen the window. A
// file that cannot be read is set aside and the memory starts empty.
class ReplayGuard {
public:
    static constexpr double maxAge = 15 * 60.0;
    static constexpr double maxAhead = 24 * 60 * 60.0;
    // Far more than one device sends within the window; beyond it the
    // oldest frames are forgotten and nothing at or before them is taken.
    static constexpr qsizetype maxFramesPerPeer = 1024;
    static constexpr qsizetype maxPeers = 128;

    enum class Verdict {
        fresh,    // never seen: act on it
        repeated, // this frame, or one no newer than a forgotten one, came before
        stale,    // created too long ago
    };

    // An empty path keeps the memory for this run only.
    explicit ReplayGuard(QString path = {});
    // Waits for the last write.
    ~ReplayGuard();
    ReplayGuard(const ReplayGuard&) = delete;
    ReplayGuard& operator=(const ReplayGuard&) = delete;

    // Judges a received clip from `peerId` at `now` (seconds since 1970) and
    // remembers it when fresh.
    Verdict admit(const QString& peerId, const SyncMessage& clip, double now);
    // The newest clip time taken from `peerId`, if any.
    std::optional<double> newest(const QString& peerId) const;
    // A clip taken outside the window (a catch-up, which has checks of its
    // own): later catch-ups start after it.
    void noteTaken(const QString& peerId, double time, double now);
    // Stamps a message to `peerId` going out on a link of `kind`.
    void stamp(SyncMessage& message, const QString& peerId, PeerLink::Kind kind, double now);
    // Whether a message that came from `peerId` on a link of `kind` carries
    // a stamp for `ownId`, of that kind, numbered above every one taken on
    // such a link before (remembering the number), or carries none while
    // that device has never sent one.
    bool admitStamp(const SyncMessage& message, const QString& peerId, PeerLink::Kind kind,
                    const QString& ownId, double now);
    // What was taken from a device that is no longer paired: paired again,
    // it may run a release that does not stamp.
    void forgetStamps(const QString& peerId);
    // Blocks until what was handed to the worker is on disk.
    void flush();

private:
    struct Peer {
        // Frame digest -> the clip's time (our clock for an undated one).
        QHash<quint64, double> frames;
        // Frames at or before this time may have been forgotten.
        double floor = -1.0;
        // The newest clip time taken from this device.
        double newest = -1.0;
        double lastUse = 0.0;
        // The last number stamped on a message to this device, and the
        // highest taken from it, per link kind.
        qint64 lastSent = 0;
        std::array<qint64, 2> highest{};
    };

    // The device's memory; the one heard from longest ago makes room.
    Peer& entry(const QString& peerId, double now);
    void load();
    QByteArray encode() const;
    void save();
    static void prune(Peer& peer, double now);

    QString m_path;
    QHash<QString, Peer> m_peers;
    // Writes the snapshots on a thread of its own; none without a path.
    std::unique_ptr<LatestJobThread> m_writer;
};
