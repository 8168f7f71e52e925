#include "core/store/ClipStore.h"

#include "core/prefs/Preferences.h"
#include "core/store/BackupMerge.h"
#include "core/store/PinMerge.h"
#include "core/store/StoreCodec.h"
#include "core/store/StoreRules.h"
#include "core/store/StoreWriter.h"
#include "core/util/AtomicFile.h"
#include "core/util/BoundedFile.h"
#include "core/util/Graphemes.h"
#include "core/util/Log.h"
#include "platform/Clock.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimeZone>
#include <algorithm>
#include <cmath>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

using namespace Qt::StringLiterals;

using StoreRules::indexOfText;

namespace {
constexpr auto kDefaultSaveDelay = std::chrono::milliseconds(750);
constexpr auto kDefaultMaxSaveDelay = std::chrono::seconds(5);

qsizetype indexOfId(const QList<Clip>& clips, const QUuid& id) {
    for (qsizetype i = 0; i < clips.size(); ++i)
        if (clips.at(i).id() == id)
            return i;
    return -1;
}

QString utcStamp(Instant at) {
    const auto ms = static_cast<qint64>(std::floor(at.unix() * 1000.0));
    return QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc()).toString(u"yyyyMMdd'T'HHmmss'Z'"_s);
}

BackupError unreadable(const QString& why) {
    return {BackupError::Kind::Unreadable, u"The file couldn't be read (%1)."_s.arg(why)};
}
} // namespace

ClipStore::ClipStore(Preferences& prefs, Clock& clock, QString storePath, QObject* parent)
    : QObject(parent), m_prefs(prefs), m_clock(clock), m_storePath(std::move(storePath)),
      m_writer(std::make_unique<StoreWriter>(m_storePath)) {
    for (QTimer* timer : {&m_saveTimer, &m_saveDeadline}) {
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, this, &ClipStore::saveSoon);
    }
    setSaveDelay(kDefaultSaveDelay, kDefaultMaxSaveDelay);
    connect(m_writer.get(), &StoreWriter::written, this, &ClipStore::reportSave);
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
    fitBudget();
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
    // Checked before anything leaves: a text that cannot fit must not cost
    // the history its older clips. Pins are never pushed out.
    const qint64 room = m_textBudget - StoreRules::weight(m_pinned);
    if (StoreRules::weight(candidate) > room) {
        Log::write(u"Tindrel: a copy of %1 characters was not recorded — the history keeps "
                   "at most %2 characters of text, %3 of them free of pins"_s.arg(text.size())
                       .arg(m_textBudget)
                       .arg(std::max<qint64>(room, 0)));
        return;
    }

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
    fitBudget();
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
    pinnedCopy.setPinnedAt(StoreRules::pinStamp(m_unpinned, clip.textHash(), now));
    m_unpinned.remove(clip.textHash());
    const bool historyTouched =
        m_history.removeIf([&](const Clip& c) { return c.id() == clip.id(); }) > 0;
    m_pinned.prepend(std::move(pinnedCopy));
    Q_EMIT pinnedChanged();
    if (historyTouched)
        Q_EMIT historyChanged();
    scheduleSave();
    Q_EMIT localPinsChanged();
    return true;
}

void ClipStore::unpin(const Clip& clip) {
    const qsizetype index = indexOfId(m_pinned, clip.id());
    if (index == -1)
        return;
    Clip removed = m_pinned.takeAt(index);
    recordUnpin(removed, m_clock.now());
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
    Q_EMIT localPinsChanged();
}

void ClipStore::deleteClip(const Clip& clip) {
    const qsizetype pinIndex = indexOfId(m_pinned, clip.id());
    if (pinIndex != -1)
        recordUnpin(m_pinned.at(pinIndex), m_clock.now());
    const auto byId = [&](const Clip& c) { return c.id() == clip.id(); };
    const bool pinsTouched = m_pinned.removeIf(byId) > 0;
    const bool historyTouched = m_history.removeIf(byId) > 0;
    if (pinsTouched)
        Q_EMIT pinnedChanged();
    if (historyTouched)
        Q_EMIT historyChanged();
    scheduleSave();
    if (pinIndex != -1)
        Q_EMIT localPinsChanged();
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
    for (const Clip& pin : std::as_const(m_pinned))
        recordUnpin(pin, now);
    const bool hadPins = !m_pinned.isEmpty();
    m_pinned.clear();
    if (hadPins)
        Q_EMIT pinnedChanged();
    scheduleSave();
    if (hadPins)
        Q_EMIT localPinsChanged();
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
    if (StoreRules::trimHistory(m_history, limit) == 0)
        return false;
    scheduleSave();
    return true;
}

bool ClipStore::fitBudget() {
    if (StoreRules::fitBudget(m_history, StoreRules::weight(m_pinned), m_textBudget) == 0)
        return false;
    scheduleSave();
    return true;
}

void ClipStore::recordUnpin(const Clip& pin, Instant now) {
    m_unpinned.insert(pin.textHash(), StoreRules::removalStamp(pin, now));
    StoreRules::trimUnpinned(m_unpinned);
}

// ---- persistence ------------------------------------------------------------

void ClipStore::scheduleSave() {
    m_saveTimer.start();
    // Counted from the first unsaved change: a steady stream of changes
    // would otherwise keep restarting the lull and never save.
    if (!m_saveDeadline.isActive())
        m_saveDeadline.start();
}

void ClipStore::setSaveDelay(std::chrono::milliseconds delay, std::chrono::milliseconds maxDelay) {
    m_saveTimer.setInterval(delay);
    m_saveDeadline.setInterval(std::max(maxDelay, delay));
}

QByteArray ClipStore::encoded() const {
    return StoreCodec::encode(contents());
}

void ClipStore::saveSoon() {
    startSave();
}

quint64 ClipStore::startSave() {
    // This covers whatever the pending save would have written.
    m_saveTimer.stop();
    m_saveDeadline.stop();
    if (m_savingDisabled) {
        reportSave(0, u"the damaged store file could not be moved aside"_s);
        return 0;
    }
    // The lists are implicitly shared: the snapshot costs no copy of them
    // until this thread changes one.
    return m_writer->write(contents());
}

bool ClipStore::save() {
    const quint64 ticket = startSave();
    if (ticket == 0)
        return false;
    const std::optional<QString> error = m_writer->waitForAll();
    reportSave(ticket, error);
    return !error;
}

void ClipStore::reportSave(quint64 ticket, const std::optional<QString>& error) {
    // A write that save() already waited for and reported comes in again
    // from the writer's queue.
    if (ticket != 0) {
        if (ticket <= m_reportedTicket)
            return;
        m_reportedTicket = ticket;
        if (error)
            Log::write(u"Tindrel: save failed — "_s + *error);
    }
    const bool changed = m_saveError != error;
    m_saveError = error;
    if (changed)
        Q_EMIT saveErrorChanged();
    Q_EMIT saveFinished(!error);
}

qint64 ClipStore::storeSizeOnDisk() const {
    const QFileInfo info(m_storePath);
    return info.isFile() ? info.size() : 0;
}

void ClipStore::load() {
    const QFileInfo info(m_storePath);
    if (!info.exists() && !info.isSymLink())
        return; // first start
    loadFile();
    // The file's bytes and their parse took several times what is kept, more
    // so when the file holds more clips than the history keeps; freed, that
    // would stay resident for the life of the program.
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

void ClipStore::loadFile() {
    const auto bytes = BoundedFile::read(m_storePath, kMaxStoreBytes);
    if (!bytes) {
        setDamagedFileAside(bytes.error().kind == BoundedFile::Error::Kind::TooLarge
                                ? u"is larger than %1 MiB, too large to be ours"_s.arg(
                                      kMaxStoreBytes / (1024 * 1024))
                                : u"cannot be read: "_s + bytes.error().description);
        return;
    }
    // Only the clips the history keeps are built; the rest are checked, as
    // a damaged one still means a damaged file.
    const qsizetype historyLimit = std::max<qsizetype>(m_prefs.historyLimit(), 0);
    auto contents = StoreCodec::decode(*bytes, StoreCodec::Unpinned::Read, historyLimit);
    if (!contents) {
        setDamagedFileAside(u"cannot be decoded: "_s + contents.error());
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
    StoreRules::trimHistory(m_history, historyLimit);
    StoreRules::fitBudget(m_history, StoreRules::weight(m_pinned), m_textBudget);
    m_unpinned = std::move(contents->unpinned);
}

void ClipStore::setDamagedFileAside(const QString& reason) {
    const QString base = m_storePath + u".damaged-"_s + utcStamp(m_clock.now());
    QString target = base;
    for (int n = 2; QFileInfo::exists(target) || QFileInfo(target).isSymLink(); ++n)
        target = base + u'-' + QString::number(n);
    if (QDir().rename(m_storePath, target)) {
        Log::write(
            u"Tindrel: the store file %1; moved it to %2 and started empty"_s.arg(reason, target));
        return;
    }
    m_savingDisabled = true;
    Log::write(u"Tindrel: the store file %1, and it could not be moved aside — "
               "nothing will be saved until the next start"_s.arg(reason));
}

// ---- backups ----------------------------------------------------------------

std::expected<void, BackupError> ClipStore::exportClips(const QString& path) const {
    const auto written = AtomicFile::write(path, encoded());
    if (!written)
        return std::unexpected(
            BackupError{BackupError::Kind::Unwritable,
                        u"The file couldn't be written (%1)."_s.arg(written.error())});
    return {};
}

std::expected<ClipStore::ImportSummary, BackupError> ClipStore::importClips(const QString& path) {
    const auto bytes = BoundedFile::read(path, kMaxBackupBytes);
    if (!bytes) {
        if (bytes.error().kind == BoundedFile::Error::Kind::TooLarge)
            return std::unexpected(
                BackupError{BackupError::Kind::TooLarge,
                            u"The file is larger than %1 MiB, too large for a backup."_s.arg(
                                kMaxBackupBytes / (1024 * 1024))});
        return std::unexpected(unreadable(bytes.error().description));
    }
    const auto backup = StoreCodec::decode(*bytes, StoreCodec::Unpinned::Ignore);
    if (!backup)
        return std::unexpected(
            BackupError{BackupError::Kind::NotABackup,
                        u"The file isn't a Tindrel backup (%1)."_s.arg(backup.error())});

    BackupMerge::Result merged =
        BackupMerge::merge(contents(), *backup, m_prefs.pinLimit(), m_prefs.historyLimit(),
                           m_textBudget, m_clock.now());
    m_history = std::move(merged.contents.history);
    m_pinned = std::move(merged.contents.pinned);
    m_unpinned = std::move(merged.contents.unpinned);
    if (merged.pinsChanged)
        Q_EMIT pinnedChanged();
    Q_EMIT historyChanged();
    saveSoon();
    if (merged.pinsChanged)
        Q_EMIT localPinsChanged();
    return ImportSummary{merged.added, merged.pushedOut};
}

// ---- pins from other devices ------------------------------------------------

PinsState ClipStore::pinsState(int maxLength) const {
    PinsState state;
    state.pins.reserve(m_pinned.size());
    for (const Clip& pin : m_pinned) {
        if (maxLength >= 1 && pin.characterCount() > maxLength)
            continue;
        state.pins.append({pin.text(), pin.pinnedAt().value_or(pin.createdAt()).unix()});
    }
    state.unpinned.reserve(m_unpinned.size());
    for (auto it = m_unpinned.cbegin(); it != m_unpinned.cend(); ++it)
        state.unpinned.append({it.key(), it.value().unix()});
    return state;
}

bool ClipStore::mergePins(const QList<PinRecord>& pins, const QList<UnpinRecord>& unpinned) {
    PinMerge::Result merged =
        PinMerge::merge(contents(), PinsState{pins, unpinned}, m_prefs.pinLimit(),
                        m_prefs.historyLimit(), m_textBudget);
    m_history = std::move(merged.contents.history);
    m_pinned = std::move(merged.contents.pinned);
    m_unpinned = std::move(merged.contents.unpinned);
    if (merged.overflow > 0)
        Log::write(u"Tindrel: %1 pinned clip(s) from another device didn't fit — "
                   "the pin limit here is %2"_s.arg(merged.overflow)
                       .arg(m_prefs.pinLimit()));
    if (merged.overBudget > 0)
        Log::write(u"Tindrel: %1 pinned clip(s) from another device didn't fit — the pins "
                   "would hold more than %2 characters of text"_s.arg(merged.overBudget)
                       .arg(m_textBudget));
    // New pins take their room from the oldest history clips.
    if (fitBudget())
        merged.historyTouched = merged.needsSave = true;
    if (merged.pinnedTouched)
        Q_EMIT pinnedChanged();
    if (merged.historyTouched)
        Q_EMIT historyChanged();
    if (merged.needsSave)
        scheduleSave();
    return merged.pinsChanged;
}
