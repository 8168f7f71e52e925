#pragma once

#include "core/store/BackupError.h"
#include "core/store/Clip.h"
#include "core/sync/SyncPinPayload.h"
#include "core/sync/SyncUnpinPayload.h"
#include "core/util/Instant.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <expected>
#include <functional>
#include <optional>
#include <utility>

class Clock;
class Preferences;

// The clip history and the pinned clips, with the limits, ordering rules and
// unpin records that keep pins in step across devices. Persists itself to
// one JSON file: loaded at construction, saved shortly after each change.
// Main thread only.
class ClipStore : public QObject {
    Q_OBJECT

public:
    // Loads the file at storePath. A missing file is a first start; a file
    // that cannot be read or decoded is moved aside (never overwritten).
    ClipStore(Preferences& prefs, Clock& clock, QString storePath, QObject* parent = nullptr);
    ~ClipStore() override;

    // Recent clips, newest first.
    const QList<Clip>& history() const { return m_history; }
    // Replaces the history (to clear it, for one); the caller then calls
    // scheduleSave(). Pins are not involved.
    void setHistory(QList<Clip> clips);
    // Pinned clips in display order.
    const QList<Clip>& pinned() const { return m_pinned; }
    // Text hash -> when a pin of that text was last removed.
    const QHash<QString, Instant>& unpinned() const { return m_unpinned; }

    // Called after the set of pins changed through this store's own
    // operations (not after a merge of another device's pins).
    std::function<void()> onPinsChanged;

    // Offers a captured text; applies the text filters and the limits.
    void record(const QString& text, const std::optional<QString>& sourceApp = std::nullopt);
    // False when the pin limit is reached.
    bool pin(const Clip& clip);
    void unpin(const Clip& clip);
    // Removes the clip with this id from both lists.
    void deleteClip(const Clip& clip);
    // Moves the history clip with this id to the top, as if copied now.
    void promote(const Clip& clip);
    void movePinned(qsizetype from, qsizetype to);
    void clearPinned();
    std::optional<Clip> pinnedClip(qsizetype index) const;
    bool isPinnedFull() const;

    // Saves after a short lull; each call restarts the wait.
    void scheduleSave();
    // Saves now. On failure logs "Tindrel: save failed — …" and keeps
    // everything in memory; the next change tries again.
    bool save();
    bool isSavePending() const { return m_saveTimer.isActive(); }
    void setSaveDelay(std::chrono::milliseconds delay);

    const QString& storePath() const { return m_storePath; }
    // Size of the store file in bytes, 0 when there is none.
    qint64 storeSizeOnDisk() const;
    // The store file's bytes, also the backup format.
    QByteArray encoded() const;

    std::expected<void, BackupError> exportClips(const QString& path) const;
    // Merges a backup in without overwriting or removing anything; returns
    // how many clips were added. On error the store is unchanged.
    std::expected<qsizetype, BackupError> importClips(const QString& path);

    // Pins (leaving out texts longer than maxLength characters when it is 1
    // or more) and unpin records, in wire form, for other devices.
    std::pair<QList<SyncPinPayload>, QList<SyncUnpinPayload>> pinsState(int maxLength) const;
    // Merges another device's pins and unpin records; for each text the
    // latest pin or unpin wins, ties going to the unpin. Returns whether a
    // pin was added or removed.
    bool mergePins(const QList<SyncPinPayload>& pins, const QList<SyncUnpinPayload>& unpinned);

    static constexpr qsizetype kUnpinnedKept = 200;
    static constexpr qint64 kMaxBackupBytes = qint64(256) * 1024 * 1024;

Q_SIGNALS:
    void pinnedChanged();
    void historyChanged();
    // After every save attempt, immediate or scheduled.
    void saveFinished(bool succeeded);

private:
    void load();
    void setDamagedFileAside(const QString& reason);
    bool trimHistory(qsizetype limit);
    void trimUnpinned();
    Instant pinStamp(const QString& textHash, Instant now) const;
    static Instant removalStamp(const Clip& pin, Instant now);
    void recordUnpin(const Clip& pin, Instant now);
    void notifyPinsChanged();

    Preferences& m_prefs;
    Clock& m_clock;
    QString m_storePath;
    QList<Clip> m_history;
    QList<Clip> m_pinned;
    QHash<QString, Instant> m_unpinned;
    QTimer m_saveTimer;
    // Set when a damaged file could not be moved aside: saving would
    // destroy what may still be recovered from it.
    bool m_savingDisabled = false;
};
