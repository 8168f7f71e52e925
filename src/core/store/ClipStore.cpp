#include "core/store/ClipStore.h"

#include "core/prefs/Preferences.h"
#include "core/store/StoreCodec.h"
#include "core/util/AtomicFile.h"
#include "core/util/Graphemes.h"
#include "core/util/Log.h"
#include "platform/Clock.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTimeZone>
#include <algorithm>
#include <cmath>
#include <vector>

namespace {
constexpr auto kDefaultSaveDelay = std::chrono::milliseconds(750);
// Makes a later action on the same text strictly later than an earlier one.
constexpr double kStampStep = 0.001;

qsizetype indexOfText(const QList<Clip>& clips, const Clip& probe) {
    for (qsizetype i = 0; i < clips.size(); ++i)
        if (clips.at(i).hasSameText(probe))
            return i;
    return -1;
}

qsizetype indexOfId(const QList<Clip>& clips, const QUuid& id) {
    for (qsizetype i = 0; i < clips.size(); ++i)
        if (clips.at(i).id() == id)
            return i;
    return -1;
}

// A pin without a stamp counts as pinned at the earliest possible instant.
Instant pinnedAtOrEarliest(const Clip& pin) {
    return pin.pinnedAt().value_or(Instant::distantPast());
}

QString utcStamp(Instant at) {
    const auto ms = static_cast<qint64>(std::floor(at.unix() * 1000.0));
    return QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc())
        .toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
}
} // namespace

ClipStore::ClipStore(Preferences& prefs, Clock& clock, QString storePath, QObject* parent)
    : QObject(parent), m_prefs(prefs), m_clock(clock), m_storePath(std::move(storePath)) {
    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(kDefaultSaveDelay);
    connect(&m_saveTimer, &QTimer::timeout, this, [this] { save(); });
    load();
    connect(&m_prefs, &Preferences::historyLimitChanged, this, [this] {
        if (trimHistory(m_prefs.historyLimit()))
            Q_EMIT historyChanged();
    });
}

ClipStore::~ClipStore() = default;

// ---- the lists ------------------------------------------------------------

void ClipStore::setHistory(QList<Clip> clips) {
    m_history = std::move(clips);
    trimHistory(m_prefs.historyLimit());
    Q_EMIT historyChanged();
}

void ClipStore::record(const QString& captured, const std::optional<QString>& sourceApp) {
    const QString text = m_prefs.trimWhitespace() ? captured.trimmed() : captured;
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return;
    if (m_prefs.skipShortClips() && !Graphemes::exceeds(trimmed, 2))
        return;
    const int maxLength = m_prefs.maxClipLength();
    if (maxLength >= 1 && Graphemes::exceeds(text, maxLength))
        return;

    const Instant now = m_clock.now();
    Clip candidate = Clip::make(text, now, sourceApp);
    if (indexOfText(m_pinned, candidate) != -1)
        return;

    const qsizetype duplicate =
        m_prefs.ignoreDuplicates() ? indexOfText(m_history, candidate) : qsizetype(-1);
    if (duplicate != -1) {
        Clip existing = m_history.takeAt(duplicate);
        existing.setCreatedAt(now);
        if (sourceApp)
            existing.setSourceApp(sourceApp);
        m_history.prepend(std::move(existing));
    } else {
        m_history.prepend(std::move(candidate));
    }
    trimHistory(m_prefs.historyLimit());
    Q_EMIT historyChanged();
    scheduleSave();
}

bool ClipStore::pin(const Clip& clip) {
    if (isPinnedFull())
        return false;
    if (indexOfText(m_pinned, clip) != -1)
        return true;
    const Instant now = m_clock.now();
    Clip pinnedCopy = clip;
    pinnedCopy.setPinnedAt(pinStamp(clip.textHash(), now));
    m_unpinned.remove(clip.textHash());
    const bool historyTouched =
        m_history.removeIf([&](const Clip& c) { return c.id() == clip.id(); }) > 0;
    m_pinned.prepend(std::move(pinnedCopy));
    Q_EMIT pinnedChanged();
    if (historyTouched)
        Q_EMIT historyChanged();
    scheduleSave();
    notifyPinsChanged();
    return true;
}

void ClipStore::unpin(const Clip& clip) {
    const qsizetype index = indexOfId(m_pinned, clip.id());
    if (index == -1)
        return;
    Clip removed = m_pinned.takeAt(index);
    recordUnpin(removed, m_clock.now());
    trimUnpinned();
    removed.setPinnedAt(std::nullopt);
    const bool backToHistory = indexOfText(m_history, removed) == -1;
    if (backToHistory) {
        m_history.prepend(std::move(removed));
        trimHistory(m_prefs.historyLimit());
    }
    Q_EMIT pinnedChanged();
    if (backToHistory)
        Q_EMIT historyChanged();
    scheduleSave();
    notifyPinsChanged();
}

void ClipStore::deleteClip(const Clip& clip) {
    const qsizetype pinIndex = indexOfId(m_pinned, clip.id());
    if (pinIndex != -1) {
        recordUnpin(m_pinned.at(pinIndex), m_clock.now());
        trimUnpinned();
    }
    const auto byId = [&](const Clip& c) { return c.id() == clip.id(); };
    const bool pinsTouched = m_pinned.removeIf(byId) > 0;
    const bool historyTouched = m_history.removeIf(byId) > 0;
    if (pinsTouched)
        Q_EMIT pinnedChanged();
    if (historyTouched)
        Q_EMIT historyChanged();
    scheduleSave();
    if (pinIndex != -1)
        notifyPinsChanged();
}

void ClipStore::promote(const Clip& clip) {
    const qsizetype index = indexOfId(m_history, clip.id());
    if (index == -1)
        return;
    Clip moved = m_history.takeAt(index);
    moved.setCreatedAt(m_clock.now());
    m_history.prepend(std::move(moved));
    Q_EMIT historyChanged();
    scheduleSave();
}

void ClipStore::movePinned(qsizetype from, qsizetype to) {
    const qsizetype count = m_pinned.size();
    if (from < 0 || from >= count || to < 0 || to >= count || from == to)
        return;
    m_pinned.move(from, to);
    Q_EMIT pinnedChanged();
    scheduleSave();
}

void ClipStore::clearPinned() {
    const Instant now = m_clock.now();
    for (const Clip& pin : std::as_const(m_pinned)) {
        recordUnpin(pin, now);
        trimUnpinned();
    }
    const bool hadPins = !m_pinned.isEmpty();
    m_pinned.clear();
    if (hadPins)
        Q_EMIT pinnedChanged();
    scheduleSave();
    if (hadPins)
        notifyPinsChanged();
}

std::optional<Clip> ClipStore::pinnedClip(qsizetype index) const {
    if (index < 0 || index >= m_pinned.size())
        return std::nullopt;
    return m_pinned.at(index);
}

bool ClipStore::isPinnedFull() const {
    return m_pinned.size() >= m_prefs.pinLimit();
}

bool ClipStore::trimHistory(qsizetype limit) {
    limit = std::max<qsizetype>(limit, 0);
    if (m_history.size() <= limit)
        return false;
    m_history.resize(limit);
    scheduleSave();
    return true;
}

void ClipStore::trimUnpinned() {
    if (m_unpinned.size() <= kUnpinnedKept)
        return;
    std::vector<std::pair<Instant, QString>> entries;
    entries.reserve(static_cast<size_t>(m_unpinned.size()));
    for (auto it = m_unpinned.cbegin(); it != m_unpinned.cend(); ++it)
        entries.emplace_back(it.value(), it.key());
    const auto newestFirst = [](const auto& a, const auto& b) { return a.first > b.first; };
    std::nth_element(entries.begin(), entries.begin() + kUnpinnedKept, entries.end(), newestFirst);
    for (auto it = entries.begin() + kUnpinnedKept; it != entries.end(); ++it)
        m_unpinned.remove(it->second);
}

Instant ClipStore::pinStamp(const QString& textHash, Instant now) const {
    const auto entry = m_unpinned.constFind(textHash);
    if (entry != m_unpinned.cend() && *entry >= now)
        return entry->plus(kStampStep);
    return now;
}

Instant ClipStore::removalStamp(const Clip& pin, Instant now) {
    if (pin.pinnedAt() && *pin.pinnedAt() >= now)
        return pin.pinnedAt()->plus(kStampStep);
    return now;
}

void ClipStore::recordUnpin(const Clip& pin, Instant now) {
    m_unpinned.insert(pin.textHash(), removalStamp(pin, now));
}

void ClipStore::notifyPinsChanged() {
    if (onPinsChanged)
        onPinsChanged();
}

// ---- persistence ------------------------------------------------------------

void ClipStore::scheduleSave() {
    m_saveTimer.start();
}

void ClipStore::setSaveDelay(std::chrono::milliseconds delay) {
    m_saveTimer.setInterval(delay);
}

QByteArray ClipStore::encoded() const {
    return StoreCodec::encode({m_history, m_pinned, m_unpinned});
}

bool ClipStore::save() {
    // An immediate save covers whatever the pending one would have written.
    m_saveTimer.stop();
    if (m_savingDisabled) {
        Q_EMIT saveFinished(false);
        return false;
    }
    const QString dir = QFileInfo(m_storePath).absolutePath();
    if (!QFileInfo(dir).isDir() && QDir().mkpath(dir))
        QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                       QFileDevice::ExeOwner);
    const auto written = AtomicFile::write(m_storePath, encoded());
    if (!written)
        Log::write(QStringLiteral("Tindrel: save failed — ") + written.error());
    Q_EMIT saveFinished(written.has_value());
    return written.has_value();
}

qint64 ClipStore::storeSizeOnDisk() const {
    const QFileInfo info(m_storePath);
    return info.isFile() ? info.size() : 0;
}

void ClipStore::load() {
    const QFileInfo info(m_storePath);
    if (!info.exists() && !info.isSymLink())
        return; // first start
    QFile file(m_storePath);
    if (!file.open(QIODevice::ReadOnly)) {
        setDamagedFileAside(QStringLiteral("cannot be read: ") + file.errorString());
        return;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        setDamagedFileAside(QStringLiteral("cannot be read: ") + file.errorString());
        return;
    }
    auto contents = StoreCodec::decode(bytes);
    if (!contents) {
        setDamagedFileAside(QStringLiteral("cannot be decoded: ") + contents.error());
        return;
    }

    const auto isEmptyText = [](const Clip& clip) { return clip.text().isEmpty(); };
    // Every pin is kept, also beyond the pin limit: the limit only refuses
    // new pins, it never throws pinned clips away.
    m_pinned = std::move(contents->pinned);
    m_pinned.removeIf(isEmptyText);
    for (Clip& pin : m_pinned)
        if (!pin.pinnedAt())
            pin.setPinnedAt(pin.createdAt());
    m_history = std::move(contents->history);
    m_history.removeIf(isEmptyText);
    m_history.resize(
        std::min<qsizetype>(m_history.size(), std::max<qsizetype>(m_prefs.historyLimit(), 0)));
    m_unpinned = std::move(contents->unpinned);
}

void ClipStore::setDamagedFileAside(const QString& reason) {
    const QString base = m_storePath + QStringLiteral(".damaged-") + utcStamp(m_clock.now());
    QString target = base;
    for (int n = 2; QFileInfo::exists(target) || QFileInfo(target).isSymLink(); ++n)
        target = base + u'-' + QString::number(n);
    if (QDir().rename(m_storePath, target)) {
        Log::write(QStringLiteral("Tindrel: the store file %1; moved it to %2 and started empty")
                       .arg(reason, target));
        return;
    }
    m_savingDisabled = true;
    Log::write(QStringLiteral("Tindrel: the store file %1, and it could not be moved aside — "
                              "nothing will be saved until the next start")
                   .arg(reason));
}

// ---- backups ----------------------------------------------------------------

std::expected<void, BackupError> ClipStore::exportClips(const QString& path) const {
    const auto written = AtomicFile::write(path, encoded());
    if (!written)
        return std::unexpected(
            BackupError{BackupError::Kind::Unwritable,
                        QStringLiteral("The file couldn't be written (%1).").arg(written.error())});
    return {};
}

std::expected<qsizetype, BackupError> ClipStore::importClips(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::unexpected(
            BackupError{BackupError::Kind::Unreadable,
                        QStringLiteral("The file couldn't be read (%1).").arg(file.errorString())});
    const auto tooLarge = [] {
        return std::unexpected(BackupError{
            BackupError::Kind::TooLarge,
            QStringLiteral("The file is larger than 256 MiB, too large for a backup.")});
    };
    if (file.size() > kMaxBackupBytes)
        return tooLarge();
    // Bounded even when the size is not known in advance (a pipe).
    const QByteArray bytes = file.read(kMaxBackupBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return std::unexpected(
            BackupError{BackupError::Kind::Unreadable,
                        QStringLiteral("The file couldn't be read (%1).").arg(file.errorString())});
    if (bytes.size() > kMaxBackupBytes)
        return tooLarge();
    auto backup = StoreCodec::decode(bytes, StoreCodec::Unpinned::Ignore);
    if (!backup)
        return std::unexpected(BackupError{
            BackupError::Kind::NotABackup,
            QStringLiteral("The file isn't a Tindrel backup (%1).").arg(backup.error())});

    const Instant now = m_clock.now();
    const qsizetype before = m_pinned.size() + m_history.size();

    // A backup from another machine, or an edited one, may reuse ids of
    // clips we hold; ids must stay unique because operations find clips by id.
    QSet<QUuid> ids;
    for (const Clip& clip : std::as_const(m_pinned))
        ids.insert(clip.id());
    for (const Clip& clip : std::as_const(m_history))
        ids.insert(clip.id());
    const auto takeUniqueId = [&ids](Clip& clip) {
        while (ids.contains(clip.id()))
            clip.setId(QUuid::createUuid());
        ids.insert(clip.id());
    };

    // Walking from the end and inserting each at the front keeps the
    // backup's order, ahead of the pins already here.
    bool pinsChanged = false;
    for (qsizetype i = backup->pinned.size() - 1; i >= 0; --i) {
        Clip clip = backup->pinned.at(i);
        if (clip.text().isEmpty() || indexOfText(m_pinned, clip) != -1)
            continue;
        if (isPinnedFull())
            break;
        clip.setPinnedAt(pinStamp(clip.textHash(), now));
        m_unpinned.remove(clip.textHash());
        takeUniqueId(clip);
        m_pinned.prepend(std::move(clip));
        pinsChanged = true;
    }

    QSet<QString> present;
    for (const Clip& clip : std::as_const(m_history))
        present.insert(clip.canonicalText());
    for (const Clip& clip : std::as_const(m_pinned))
        present.insert(clip.canonicalText());
    for (Clip clip : std::as_const(backup->history)) {
        if (clip.text().isEmpty() || present.contains(clip.canonicalText()))
            continue;
        clip.setPinnedAt(std::nullopt);
        takeUniqueId(clip);
        m_history.append(std::move(clip));
    }
    std::stable_sort(m_history.begin(), m_history.end(),
                     [](const Clip& a, const Clip& b) { return a.createdAt() > b.createdAt(); });
    trimHistory(m_prefs.historyLimit());

    if (pinsChanged)
        Q_EMIT pinnedChanged();
    Q_EMIT historyChanged();
    save();
    if (pinsChanged)
        notifyPinsChanged();
    return m_pinned.size() + m_history.size() - before;
}

// ---- pins from other devices ------------------------------------------------

std::pair<QList<SyncPinPayload>, QList<SyncUnpinPayload>>
ClipStore::pinsState(int maxLength) const {
    QList<SyncPinPayload> pins;
    pins.reserve(m_pinned.size());
    for (const Clip& pin : m_pinned) {
        if (maxLength >= 1 && pin.characterCount() > maxLength)
            continue;
        pins.append({pin.text(), pin.pinnedAt().value_or(pin.createdAt()).unix()});
    }
    QList<SyncUnpinPayload> unpins;
    unpins.reserve(m_unpinned.size());
    for (auto it = m_unpinned.cbegin(); it != m_unpinned.cend(); ++it)
        unpins.append({it.key(), it.value().unix()});
    return {pins, unpins};
}

bool ClipStore::mergePins(const QList<SyncPinPayload>& pins,
                          const QList<SyncUnpinPayload>& unpinned) {
    bool changed = false;
    bool needsSave = false;
    bool pinsTouched = false;
    bool historyTouched = false;
    qsizetype overflow = 0;

    // Unpin records first: each removes a local pin that is not later.
    // Stamps are compared as the wire carries them (seconds since 1970), so a
    // tie with a stamp that made the round trip through a peer stays a tie.
    for (const SyncUnpinPayload& record : unpinned) {
        // A stamp that is not a number cannot be ordered against anything.
        if (!std::isfinite(record.at))
            continue;
        const auto entry = m_unpinned.constFind(record.hash);
        if (entry == m_unpinned.cend() || entry->unix() < record.at) {
            m_unpinned.insert(record.hash, Instant::fromUnix(record.at));
            needsSave = true;
        }
        const auto pin = std::find_if(m_pinned.begin(), m_pinned.end(),
                                      [&](const Clip& c) { return c.textHash() == record.hash; });
        if (pin == m_pinned.end() || pinnedAtOrEarliest(*pin).unix() > record.at)
            continue;
        Clip removed = *pin;
        m_pinned.erase(pin);
        removed.setPinnedAt(std::nullopt);
        if (indexOfText(m_history, removed) == -1) {
            m_history.prepend(std::move(removed));
            trimHistory(m_prefs.historyLimit());
            historyTouched = true;
        }
        changed = needsSave = pinsTouched = true;
    }

    // Then pins, latest first, each applied unless a local unpin is as late.
    struct Incoming {
        Clip clip;
        double at;
    };
    std::vector<Incoming> incoming;
    incoming.reserve(static_cast<size_t>(pins.size()));
    for (const SyncPinPayload& pin : pins)
        if (std::isfinite(pin.pinnedAt) && !pin.text.isEmpty())
            incoming.push_back(
                {Clip::make(pin.text, Instant::fromUnix(pin.pinnedAt)), pin.pinnedAt});
    std::stable_sort(incoming.begin(), incoming.end(),
                     [](const Incoming& a, const Incoming& b) { return a.at > b.at; });

    QList<Clip> added;
    for (const Incoming& pin : incoming) {
        const QString& hash = pin.clip.textHash();
        const auto entry = m_unpinned.constFind(hash);
        if (entry != m_unpinned.cend() && entry->unix() >= pin.at)
            continue;
        const Instant at = Instant::fromUnix(pin.at);
        const qsizetype local = indexOfText(m_pinned, pin.clip);
        if (local != -1) {
            Clip& existing = m_pinned[local];
            if (pinnedAtOrEarliest(existing).unix() < pin.at) {
                existing.setPinnedAt(at);
                // Otherwise the newer stamp is lost at the next start.
                needsSave = pinsTouched = true;
            }
            continue;
        }
        // The same text twice in one state: the later one was taken already.
        if (indexOfText(added, pin.clip) != -1)
            continue;
        if (m_pinned.size() + added.size() >= m_prefs.pinLimit()) {
            ++overflow;
            continue;
        }
        Clip newPin = pin.clip;
        const qsizetype inHistory = indexOfText(m_history, pin.clip);
        if (inHistory != -1) {
            newPin = m_history.at(inHistory);
            m_history.removeIf([&](const Clip& c) { return c.hasSameText(pin.clip); });
            historyTouched = true;
        }
        newPin.setPinnedAt(at);
        added.append(std::move(newPin));
        m_unpinned.remove(hash);
        changed = needsSave = pinsTouched = true;
    }

    if (!added.isEmpty())
        m_pinned = added + m_pinned;
    trimUnpinned();
    if (overflow > 0)
        Log::write(QStringLiteral("Tindrel: %1 pinned clip(s) from another device didn't fit — "
                                  "the pin limit here is %2")
                       .arg(overflow)
                       .arg(m_prefs.pinLimit()));
    if (pinsTouched)
        Q_EMIT pinnedChanged();
    if (historyTouched)
        Q_EMIT historyChanged();
    if (needsSave)
        scheduleSave();
    return changed;
}
