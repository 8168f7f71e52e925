#include "core/panel/AppState.h"

#include "core/prefs/Preferences.h"
#include "core/store/ClipStore.h"
#include "platform/Scheduler.h"
#include "platform/Workspace.h"

#include <QLocale>
#include <QMetaMethod>
#include <algorithm>
#include <cstring>

using namespace Qt::StringLiterals;

AppState::AppState(ClipStore& store, Preferences& prefs, Workspace& workspace, Scheduler& scheduler,
                   QObject* parent)
    : QObject(parent), m_store(store), m_prefs(prefs), m_workspace(workspace),
      m_scheduler(scheduler) {
    m_canAutoPaste = m_workspace.isTrusted();

    connect(&m_store, &ClipStore::historyChanged, this, &AppState::sourceChanged);
    connect(&m_store, &ClipStore::pinnedChanged, this, &AppState::sourceChanged);
    // Every setting, so views redraw whatever they read from the preferences.
    const QMetaMethod forward = metaObject()->method(metaObject()->indexOfSlot("sourceChanged()"));
    const QMetaObject* meta = m_prefs.metaObject();
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        if (property.hasNotifySignal())
            connect(&m_prefs, property.notifySignal(), this, forward);
    }
}

void AppState::sourceChanged() {
    invalidate();
    m_recentSearches.clear(); // earlier results say nothing about the new lists
    Q_EMIT changed();
}

void AppState::invalidate() {
    m_dirty = true;
}

void AppState::setQuery(const QString& query) {
    m_query = query;
    invalidate();
    Q_EMIT queryChanged();
    Q_EMIT changed();
    setSelection(0);
}

void AppState::setSelection(int selection) {
    m_selection = selection;
    Q_EMIT selectionChanged();
    Q_EMIT changed();
}

void AppState::setCanAutoPaste(bool value) {
    m_canAutoPaste = value;
    Q_EMIT canAutoPasteChanged();
    Q_EMIT changed();
}

namespace {
// Case-insensitive in the user's language, and blind to how accented
// letters are encoded (one precomposed character or a letter and a mark).
// Kept as UTF-8: half the bytes to read per keystroke, and a match of the
// bytes is a match of the characters, since no character's bytes can start
// inside another's.
QByteArray fold(const QString& text) {
    return QLocale().toLower(text).normalized(QString::NormalizationForm_C).toUtf8();
}

bool contains(const QByteArray& haystack, const QByteArray& needle) {
    return ::memmem(haystack.constData(), static_cast<size_t>(haystack.size()), needle.constData(),
                    static_cast<size_t>(needle.size())) != nullptr;
}
} // namespace

const QByteArray& AppState::folded(const Clip& clip) const {
    Folded& entry = m_folded[clip.id()];
    const QString& text = clip.text();
    // Clip texts are shared, so the same buffer means the same text.
    if (entry.source.constData() != text.constData() || entry.source.size() != text.size()) {
        entry.source = text;
        entry.folded = fold(text);
    }
    return entry.folded;
}

bool AppState::matches(const Clip& clip, const QString& query) const {
    return contains(folded(clip), fold(query));
}

void AppState::recompute() const {
    if (!m_dirty)
        return;
    m_dirty = false;
    m_filteredPinned.clear();
    m_filteredHistory.clear();
    const QList<Clip>& pinned = m_store.pinned();
    const QList<Clip>& history = m_store.history();
    if (m_query.isEmpty()) {
        m_filteredPinned = pinned;
        m_filteredHistory = history.mid(0, std::max(0, m_prefs.displayLimit()));
        return;
    }
    const QByteArray needle = fold(m_query);
    // A text that contains the longer query contains the shorter one too, so
    // the longest earlier query inside this one gives the clips to look at.
    const Found* base = nullptr;
    for (const Found& earlier : m_recentSearches) {
        if (earlier.needle == needle) {
            m_filteredPinned = earlier.pinned;
            m_filteredHistory = earlier.history;
            return;
        }
        if (needle.contains(earlier.needle) &&
            (!base || earlier.needle.size() > base->needle.size()))
            base = &earlier;
    }
    for (const Clip& clip : base ? base->pinned : pinned)
        if (contains(folded(clip), needle))
            m_filteredPinned.append(clip);
    for (const Clip& clip : base ? base->history : history)
        if (contains(folded(clip), needle))
            m_filteredHistory.append(clip);
    if (m_recentSearches.size() == rememberedSearches)
        m_recentSearches.removeFirst();
    m_recentSearches.append({needle, m_filteredPinned, m_filteredHistory});
    // Forget texts of clips that are gone, so the cache cannot outgrow the store.
    if (m_folded.size() > 2 * (pinned.size() + history.size()) + 64) {
        QHash<QUuid, Folded> kept;
        for (const QList<Clip>* list : {&pinned, &history})
            for (const Clip& clip : *list)
                if (auto it = m_folded.constFind(clip.id()); it != m_folded.cend())
                    kept.insert(clip.id(), *it);
        m_folded.swap(kept);
    }
}

QList<Clip> AppState::filteredPinned() const {
    recompute();
    return m_filteredPinned;
}

QList<Clip> AppState::filteredHistory() const {
    recompute();
    return m_filteredHistory;
}

QList<Clip> AppState::combined() const {
    recompute();
    return m_filteredPinned + m_filteredHistory;
}

void AppState::moveSelection(int delta) {
    const qsizetype count = combined().size();
    if (count == 0)
        return;
    const qint64 moved = qint64(m_selection) + delta;
    setSelection(static_cast<int>(std::clamp<qint64>(moved, 0, count - 1)));
}

void AppState::activateSelection() {
    const QList<Clip> all = combined();
    if (m_selection < 0 || m_selection >= all.size())
        return;
    activate(all[m_selection]);
}

void AppState::activate(const Clip& clip) {
    Q_EMIT activated(clip);
}

void AppState::requestClose() {
    Q_EMIT closeRequested();
}

void AppState::requestSettings() {
    Q_EMIT closeRequested();
    Q_EMIT settingsRequested();
}

void AppState::togglePin(const Clip& clip) {
    const QList<Clip>& pinned = m_store.pinned();
    const bool isPinned = std::any_of(pinned.begin(), pinned.end(),
                                      [&](const Clip& pin) { return pin.id() == clip.id(); });
    if (isPinned)
        m_store.unpin(clip);
    else if (!m_store.pin(clip))
        flashPinLimit();
}

void AppState::flashPinLimit() {
    m_pinLimitFlash = true;
    Q_EMIT pinLimitFlashChanged();
    Q_EMIT changed();
    m_workspace.beep();
    // A second refusal schedules a second reset; the first to run ends it.
    m_scheduler.after(pinLimitFlashDuration, this, [this] {
        m_pinLimitFlash = false;
        Q_EMIT pinLimitFlashChanged();
        Q_EMIT changed();
    });
}

void AppState::reset() {
    setQuery(QString());
    setSelection(0);
    ++m_focusToken;
    Q_EMIT focusTokenChanged();
    Q_EMIT changed();
    setCanAutoPaste(m_workspace.isTrusted());
}

QString AppState::clearHistoryDetail(qsizetype historyCount, qsizetype pinCount) {
    return QString::number(historyCount) + u" recent clips will be removed. Your "_s +
           QString::number(pinCount) + u" pinned clip"_s + (pinCount == 1 ? u""_s : u"s"_s) +
           u" will be kept."_s;
}

void AppState::requestClearHistory() {
    if (!m_prefs.confirmClear()) {
        m_store.setHistory({});
        m_store.scheduleSave();
        return;
    }
    const QString detail = clearHistoryDetail(m_store.history().size(), m_store.pinned().size());
    Q_EMIT closeRequested();
    // Without anyone to ask, nothing is cleared.
    if (!confirmClearHistory || !confirmClearHistory(u"Clear clipboard history?"_s, detail))
        return;
    m_store.setHistory({});
    m_store.scheduleSave();
}
