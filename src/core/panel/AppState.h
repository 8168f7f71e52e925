#pragma once

#include "core/store/Clip.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class ClipStore;
class Preferences;
class Scheduler;
class Workspace;

// What the clip panel shows and where its keyboard selection is: the search
// query, the filtered pinned and recent lists, the pin-limit signal, and the
// panel's outgoing requests. Any change of the store or the preferences is
// passed on as changed(), so views need to watch this object only.
class AppState : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString query READ query WRITE setQuery NOTIFY queryChanged)
    Q_PROPERTY(int selection READ selection WRITE setSelection NOTIFY selectionChanged)
    Q_PROPERTY(bool pinLimitFlash READ pinLimitFlash NOTIFY pinLimitFlashChanged)
    Q_PROPERTY(int focusToken READ focusToken NOTIFY focusTokenChanged)
    Q_PROPERTY(bool canAutoPaste READ canAutoPaste WRITE setCanAutoPaste NOTIFY canAutoPasteChanged)

public:
    static constexpr std::chrono::milliseconds pinLimitFlashDuration{1200};

    // The workspace answers whether pasting into other applications is
    // possible and beeps; the scheduler ends the pin-limit flash.
    AppState(ClipStore& store, Preferences& prefs, Workspace& workspace, Scheduler& scheduler,
             QObject* parent = nullptr);
    ~AppState() override;

    ClipStore& store() const { return m_store; }
    Preferences& prefs() const { return m_prefs; }

    QString query() const { return m_query; }
    // Also puts the selection back on the first row.
    void setQuery(const QString& query);
    int selection() const { return m_selection; }
    void setSelection(int selection);
    bool pinLimitFlash() const { return m_pinLimitFlash; }
    int focusToken() const { return m_focusToken; }
    bool canAutoPaste() const { return m_canAutoPaste; }
    void setCanAutoPaste(bool value);

    // Pins whose text contains the query (all of them without a query).
    QList<Clip> filteredPinned() const;
    // Without a query the newest displayLimit clips; with one, every match.
    QList<Clip> filteredHistory() const;
    // filteredPinned followed by filteredHistory: what selection indexes.
    QList<Clip> combined() const;
    // Runs `work` on a thread other than the main one (a pooled thread by
    // default); tests run it themselves. Set before the event loop runs.
    void setBackground(std::function<void(std::function<void()> work)> background) {
        m_background = std::move(background);
    }

    // Locale-aware, case-insensitive containment.
    bool matches(const Clip& clip, const QString& query) const;
    // Clips whose texts are not yet prepared for searching. They are
    // prepared off the main thread whenever the store changes, so a
    // keystroke only reads them; one that comes first prepares what it needs.
    qsizetype unpreparedTexts() const;
    // Texts held prepared for searching: never more than the store holds.
    qsizetype preparedTexts() const { return m_folded.size(); }

    void moveSelection(int delta);
    void activateSelection();
    // The clip the selection is on, if it is on one.
    std::optional<Clip> selectedClip() const;
    // Hands `clip` over to be pasted (activated()).
    void activate(const Clip& clip);
    // The panel's own buttons: close it, or close it and open the settings.
    void requestClose();
    void requestSettings();
    void togglePin(const Clip& clip);
    // Whether the pins can be put in another order now: no query hides
    // any of them, and there are at least two.
    bool canReorderPins() const;
    // Moves a pin `delta` places up (negative) or down among the pins when
    // they can be reordered; a selection on it goes with it.
    void movePin(const Clip& pin, int delta);
    // The keyboard's actions on the selected clip. Pinning and unpinning
    // keep the selection on the clip wherever it goes; after a delete it
    // stays in place, on the next clip.
    void togglePinSelection();
    void deleteSelection();
    void moveSelectedPin(int delta);
    void flashPinLimit();
    // Prepares a fresh showing of the panel.
    void reset();
    // Clears history, asking first when confirmClear is on.
    void requestClearHistory();
    // The question's details, e.g. "12 recent clips will be removed. Your 3
    // pinned clips will be kept."
    static QString clearHistoryDetail(qsizetype historyCount, qsizetype pinCount);

    // Shows the warning and answers whether the user chose "Clear".
    std::function<bool(const QString& message, const QString& detail)> confirmClearHistory;

Q_SIGNALS:
    void queryChanged();
    void selectionChanged();
    void pinLimitFlashChanged();
    void focusTokenChanged();
    void canAutoPasteChanged();
    // Anything the panel shows may have changed.
    void changed();
    // A clip was chosen: write it to the clipboard (and paste it).
    void activated(const Clip& clip);
    // The panel should close.
    void closeRequested();
    void settingsRequested();

private Q_SLOTS:
    void sourceChanged();

private:
    void invalidate();
    void scheduleFolding();
    void startFolding();
    // Drops what was kept for clips the store no longer holds.
    void forgetGoneClips();
    // Puts the selection on the clip with this id, or on `fallback` when it
    // is not shown; clamped to the list.
    void selectClip(const QUuid& id, int fallback);
    void recompute() const;
    const QByteArray& folded(const Clip& clip) const;

    ClipStore& m_store;
    Preferences& m_prefs;
    Workspace& m_workspace;
    Scheduler& m_scheduler;
    std::function<void(std::function<void()> work)> m_background;
    QString m_query;
    int m_selection = 0;
    bool m_pinLimitFlash = false;
    int m_focusToken = 0;
    bool m_canAutoPaste = true;

    mutable bool m_dirty = true;
    mutable QList<Clip> m_filteredPinned;
    mutable QList<Clip> m_filteredHistory;
    // The last few searches and what they found, while the store has not
    // changed: typing on narrows one of them, deleting a letter finds one.
    struct Found {
        QByteArray needle;
        QList<Clip> pinned;
        QList<Clip> history;
    };
    static constexpr qsizetype rememberedSearches = 8;
    mutable QList<Found> m_recentSearches; // oldest first
    // Lower-cased texts for searching, by clip id; an entry is valid while it
    // was made from the very text the clip holds.
    struct Folded {
        QString source;
        QByteArray folded;
    };
    mutable QHash<QUuid, Folded> m_folded;
    // Folding in the background: one batch at a time; a change meanwhile
    // asks for another when it is done.
    struct FoldInbox;
    std::shared_ptr<FoldInbox> m_foldInbox;
    bool m_foldQueued = false;
    bool m_folding = false;
    bool m_foldAgain = false;
};
