#pragma once

#include "core/store/BackupError.h"
#include "core/store/Clip.h"
#include "core/store/PinsState.h"
#include "core/store/StoreContents.h"
#include "core/store/StoreRules.h"
#include "core/util/Instant.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <expected>
#include <memory>
#include <optional>

class Clock;
class Preferences;
class StoreWriter;

// The clip history and the pinned clips, with the limits, ordering rules and
// unpin records that keep pins in step across devices. Persists itself to
// one JSON file: loaded at construction, saved shortly after each change by
// a writer thread of its own. Main thread only.
class ClipStore : public QObject {
    Q_OBJECT

public:
    // What an import brought in, for the message that reports it.
    struct ImportSummary {
        // Backup clips the store holds now.
        qsizetype added = 0;
        // Older clips the history limit or the text budget pushed out to
        // make room.
        qsizetype pushedOut = 0;
    };

    // Loads the file at storePath. A missing file is a first start; a file
    // that cannot be read or decoded, or is too large to be ours, is moved
    // aside (never overwritten).
    ClipStore(Preferences& prefs, Clock& clock, QString storePath, QObject* parent = nullptr);
    // Finishes a write in progress; a change still waiting for its lull is
    // not saved (the owner saves at quit).
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

    // Offers a captured text; applies the text filters and the limits. The
    // oldest history clips leave to keep history and pins within the text
    // budget; a text the budget cannot hold beside the pins is refused, with
    // a log line.
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

    // Saves after a short lull; each call restarts the wait, but a stream of
    // changes never holds the save back longer than the maximum delay after
    // the first unsaved one.
    void scheduleSave();
    // Starts writing now, off this thread; saveFinished() tells how it went.
    void saveSoon();
    // Saves now and waits until the file is written (at quit): true when it
    // was. On failure logs "Tindrel: save failed — …" and keeps everything
    // in memory; the next change tries again.
    bool save();
    // A change not yet handed to the writer.
    bool isSavePending() const { return m_saveTimer.isActive(); }
    void setSaveDelay(std::chrono::milliseconds delay,
                      std::chrono::milliseconds maxDelay = std::chrono::seconds(5));
    // Why the last save failed; none once a save succeeds.
    const std::optional<QString>& saveError() const { return m_saveError; }

    const QString& storePath() const { return m_storePath; }
    // Size of the store file in bytes, 0 when there is none.
    qint64 storeSizeOnDisk() const;
    // The store file's bytes, also the backup format.
    QByteArray encoded() const;

    std::expected<void, BackupError> exportClips(const QString& path) const;
    // Merges a backup in without overwriting or removing anything, then
    // saves. On error the store is unchanged.
    std::expected<ImportSummary, BackupError> importClips(const QString& path);

    // Pins (leaving out texts longer than maxLength characters when it is 1
    // or more) and unpin records, for other devices.
    PinsState pinsState(int maxLength) const;
    // Merges another device's pins and unpin records; for each text the
    // latest pin or unpin wins, ties going to the unpin. Returns whether a
    // pin was added or removed. Does not emit localPinsChanged().
    bool mergePins(const QList<PinRecord>& pins, const QList<UnpinRecord>& unpinned);

    // The room for text in history and pins (StoreRules::kTextBudget unless
    // a test makes it smaller); a smaller one applies at the next change.
    qint64 textBudget() const { return m_textBudget; }
    void setTextBudget(qint64 units) { m_textBudget = units; }

    // Beyond any store or backup we write (the text budget bounds them): such
    // a file is refused rather than read into memory.
    static constexpr qint64 kMaxBackupBytes = StoreRules::kMaxFileBytes;
    static constexpr qint64 kMaxStoreBytes = StoreRules::kMaxFileBytes;

Q_SIGNALS:
    void pinnedChanged();
    void historyChanged();
    // The set of pins changed through this store's own operations (not
    // through a merge of another device's pins): worth telling other devices.
    void localPinsChanged();
    // After every save attempt, immediate or scheduled.
    void saveFinished(bool succeeded);
    // saveError() changed: a save failed after one that did not, or the
    // other way round.
    void saveErrorChanged();

private:
    StoreContents contents() const { return {m_history, m_pinned, m_unpinned}; }
    // Reads the file, if there is one, and gives the memory it took back.
    void load();
    void loadFile();
    void setDamagedFileAside(const QString& reason);
    bool trimHistory(qsizetype limit);
    // Drops the oldest history clips beyond the text budget; whether any went.
    bool fitBudget();
    void recordUnpin(const Clip& pin, Instant now);
    // Hands a snapshot to the writer; its ticket, 0 when saving is off.
    quint64 startSave();
    void reportSave(quint64 ticket, const std::optional<QString>& error);

    Preferences& m_prefs;
    Clock& m_clock;
    QString m_storePath;
    QList<Clip> m_history;
    QList<Clip> m_pinned;
    QHash<QString, Instant> m_unpinned;
    qint64 m_textBudget = StoreRules::kTextBudget;
    // The lull after the last change, and the longest wait after the first.
    QTimer m_saveTimer;
    QTimer m_saveDeadline;
    std::unique_ptr<StoreWriter> m_writer;
    // The newest write whose outcome was reported.
    quint64 m_reportedTicket = 0;
    std::optional<QString> m_saveError;
    // Set when a damaged file could not be moved aside: saving would
    // destroy what may still be recovered from it.
    bool m_savingDisabled = false;
};
