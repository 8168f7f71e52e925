#include "core/sync/ReplayGuard.h"

#include "core/sync/SyncLog.h"
#include "core/util/AtomicFile.h"
#include "core/util/BoundedFile.h"
#include "core/util/LatestJobThread.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <optional>

using namespace Qt::StringLiterals;

namespace {
constexpr quint32 fileMagic = 0x54525032;      // "TRP2": with the stamp numbers
constexpr quint32 unstampedMagic = 0x54525031; // "TRP1", as written before them
// Every device at its limit, with room for the ids.
constexpr qint64 maxFileBytes =
    16 + ReplayGuard::maxPeers * (2 + 256 + 8 * 3 + 8 * 3 + 4 + ReplayGuard::maxFramesPerPeer * 16);

std::size_t indexOf(PeerLink::Kind kind) {
    return kind == PeerLink::Kind::direct ? 0 : 1;
}

// The decoded message stands for the frame: a conforming device gives every
// clip a fresh id and time, and the same frame always decodes the same way.
quint64 digestOf(const SyncMessage& message) {
    const QByteArray digest =
        QCryptographicHash::hash(message.encode(), QCryptographicHash::Sha256);
    return qFromBigEndian<quint64>(digest.constData());
}
} // namespace

ReplayGuard::ReplayGuard(QString path) : m_path(std::move(path)) {
    if (!m_path.isEmpty())
        m_writer = std::make_unique<LatestJobThread>();
    load();
}

ReplayGuard::~ReplayGuard() {
    flush();
}

ReplayGuard::Verdict ReplayGuard::admit(const QString& peerId, const SyncMessage& clip,
                                        double now) {
    const std::optional<double> created = clip.createdAt;
    if (created && *created < now - maxAge)
        return Verdict::stale;
    Peer& peer = entry(peerId, now);
    prune(peer, now);
    const double time = created.value_or(now);
    const bool farAhead = time > now + maxAhead;
    const quint64 digest = digestOf(clip);
    if (peer.frames.contains(digest) || (!farAhead && time <= peer.floor) ||
        (farAhead && time < peer.newest))
        return Verdict::repeated;
    peer.frames.insert(digest, time);
    peer.newest = std::max(peer.newest, time);
    while (peer.frames.size() > maxFramesPerPeer) {
        const auto oldest = std::min_element(peer.frames.cbegin(), peer.frames.cend());
        // A far-ahead time is covered by the newest one instead; letting it
        // raise the floor would lock that device out once its clock is set
        // right.
        if (oldest.value() <= now + maxAhead)
            peer.floor = std::max(peer.floor, oldest.value());
        peer.frames.erase(oldest);
    }
    save();
    return Verdict::fresh;
}

std::optional<double> ReplayGuard::newest(const QString& peerId) const {
    const auto it = m_peers.constFind(peerId);
    if (it == m_peers.cend() || it->newest < 0)
        return std::nullopt;
    return it->newest;
}

void ReplayGuard::noteTaken(const QString& peerId, double time, double now) {
    Peer& peer = entry(peerId, now);
    if (time <= peer.newest)
        return;
    peer.newest = time;
    save();
}

void ReplayGuard::stamp(SyncMessage& message, const QString& peerId, PeerLink::Kind kind,
                        double now) {
    Peer& peer = entry(peerId, now);
    peer.lastSent = std::max(peer.lastSent + 1, qint64(now * 1000.0));
    message.to = peerId;
    message.via = PeerLink::nameOf(kind);
    message.seq = peer.lastSent;
    save();
}

bool ReplayGuard::admitStamp(const SyncMessage& message, const QString& peerId, PeerLink::Kind kind,
                             const QString& ownId, double now) {
    Peer& peer = entry(peerId, now);
    // A device that never stamped a message to us may not know yet that we
    // take stamps (it last heard from us before we did): until its first
    // stamp, the window alone holds, as it always did.
    if (!message.seq)
        return peer.highest == decltype(peer.highest){};
    qint64& highest = peer.highest[indexOf(kind)];
    if (message.to != ownId || message.via != PeerLink::nameOf(kind) || *message.seq <= highest)
        return false;
    highest = *message.seq;
    save();
    return true;
}

void ReplayGuard::forgetStamps(const QString& peerId) {
    const auto it = m_peers.find(peerId);
    if (it == m_peers.end())
        return;
    // What we sent keeps counting: the other side may remember it still.
    it->highest = {};
    save();
}

ReplayGuard::Peer& ReplayGuard::entry(const QString& peerId, double now) {
    if (!m_peers.contains(peerId) && m_peers.size() >= maxPeers) {
        // Paired devices are far fewer; the one heard from longest ago goes.
        const auto oldest =
            std::min_element(m_peers.cbegin(), m_peers.cend(),
                             [](const Peer& a, const Peer& b) { return a.lastUse < b.lastUse; });
        m_peers.erase(oldest);
    }
    Peer& peer = m_peers[peerId];
    peer.lastUse = now;
    return peer;
}

void ReplayGuard::prune(Peer& peer, double now) {
    peer.frames.removeIf(
        [&](QHash<quint64, double>::iterator entry) { return entry.value() < now - maxAge; });
}

void ReplayGuard::flush() {
    if (m_writer)
        m_writer->waitForAll();
}

// --- the file: a magic number, then per device its id, floor, newest time,
// last use, stamp numbers (last sent, highest taken direct and by relay) and
// frames (digest, time); big-endian throughout. The older file has no stamp
// numbers. ---

QByteArray ReplayGuard::encode() const {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << fileMagic << quint32(m_peers.size());
    for (auto it = m_peers.cbegin(); it != m_peers.cend(); ++it) {
        out << it.key().toUtf8() << it->floor << it->newest << it->lastUse << it->lastSent
            << it->highest[0] << it->highest[1] << quint32(it->frames.size());
        for (auto frame = it->frames.cbegin(); frame != it->frames.cend(); ++frame)
            out << frame.key() << frame.value();
    }
    return bytes;
}

void ReplayGuard::load() {
    if (m_path.isEmpty() || !QFileInfo::exists(m_path))
        return;
    const auto bytes = BoundedFile::read(m_path, maxFileBytes);
    bool ok = bytes.has_value();
    QHash<QString, Peer> peers;
    if (ok) {
        QDataStream in(*bytes);
        in.setVersion(QDataStream::Qt_6_0);
        quint32 magic = 0;
        quint32 count = 0;
        in >> magic >> count;
        const bool stamped = magic == fileMagic;
        ok = (stamped || magic == unstampedMagic) && count <= maxPeers;
        for (quint32 i = 0; ok && i < count; ++i) {
            QByteArray id;
            Peer peer;
            quint32 frames = 0;
            in >> id >> peer.floor >> peer.newest >> peer.lastUse;
            if (stamped)
                in >> peer.lastSent >> peer.highest[0] >> peer.highest[1];
            in >> frames;
            ok = in.status() == QDataStream::Ok && frames <= maxFramesPerPeer && !id.isEmpty();
            for (quint32 f = 0; ok && f < frames; ++f) {
                quint64 digest = 0;
                double time = 0;
                in >> digest >> time;
                ok = in.status() == QDataStream::Ok && std::isfinite(time);
                peer.frames.insert(digest, time);
            }
            ok = ok && std::isfinite(peer.floor) && std::isfinite(peer.newest);
            peers.insert(QString::fromUtf8(id), std::move(peer));
        }
        ok = ok && in.status() == QDataStream::Ok && in.atEnd();
    }
    if (ok) {
        m_peers = std::move(peers);
        return;
    }
    // Set aside, never overwritten: it may help find out what went wrong.
    const QString base =
        m_path + u".damaged-"_s + QDateTime::currentDateTimeUtc().toString(u"yyyyMMdd-HHmmss"_s);
    QString aside = base;
    for (int n = 2; QFileInfo::exists(aside); ++n)
        aside = base + u'-' + QString::number(n);
    const bool moved = QDir().rename(m_path, aside);
    SyncLog::write(u"the memory of received clips could not be read — "_s +
                   (moved ? u"moved it to "_s + aside : u"it will be replaced"_s) +
                   u"; starting empty"_s);
}

void ReplayGuard::save() {
    if (m_writer)
        m_writer->post([path = m_path, bytes = encode()] {
            QDir().mkpath(QFileInfo(path).absolutePath());
            if (const auto written = AtomicFile::write(path, bytes); !written)
                SyncLog::write(u"could not save the memory of received clips: "_s +
                               written.error());
        });
}
