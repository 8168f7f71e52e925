#include "core/panel/AppState.h"

#include "core/prefs/Preferences.h"
#include "core/store/ClipStore.h"
#include "platform/Scheduler.h"
#include "platform/Workspace.h"

#include <QLocale>
#include <QMetaMethod>
#include <QMutex>
#include <QSet>
#include <QThreadPool>
#include <algorithm>
#include <bit>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using namespace Qt::StringLiterals;

// Where background folding hands its results back: the worker posts them to
// the state under the lock, and the state's destructor clears the target
// under the same lock, so a result never goes to a state that is gone.
struct AppState::FoldInbox {
    struct Result {
        QUuid id;
        QString source;
        QByteArray folded;
    };
    QMutex lock;
    AppState* target = nullptr;
};

AppState::AppState(ClipStore& store, Preferences& prefs, Workspace& workspace, Scheduler& scheduler,
                   QObject* parent)
    : QObject(parent), m_store(store), m_prefs(prefs), m_workspace(workspace),
      m_scheduler(scheduler) {
    m_canAutoPaste = m_workspace.isTrusted();
    m_background = [](std::function<void()> work) {
        QThreadPool::globalInstance()->start(std::move(work));
    };
    m_foldInbox = std::make_shared<FoldInbox>();
    m_foldInbox->target = this;

    scheduleFolding(); // what the store holds already
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

AppState::~AppState() {
    QMutexLocker locker(&m_foldInbox->lock);
    m_foldInbox->target = nullptr;
}

void AppState::sourceChanged() {
    scheduleFolding();
    invalidate();
    // Earlier results say nothing about the new lists, and would keep the
    // texts of clips that left the store alive until the next search.
    m_recentSearches.clear();
    m_filteredPinned.clear();
    m_filteredHistory.clear();
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
    const char* h = haystack.constData();
    const char* n = needle.constData();
    const size_t size = static_cast<size_t>(haystack.size());
    const size_t length = static_cast<size_t>(needle.size());
    size_t at = 0;
#if defined(__SSE2__)
    // A query that no clip contains reads every text to its end, on each
    // keystroke. Sixteen places at a time, only those where both the first
    // and the last byte of the needle match are compared in full: several
    // times faster than memmem on texts of ordinary letters.
    if (length >= 2) {
        const __m128i first = _mm_set1_epi8(n[0]);
        const __m128i last = _mm_set1_epi8(n[length - 1]);
        for (; at + length - 1 + 16 <= size; at += 16) {
            const __m128i starts = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + at));
            const __m128i ends =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + at + length - 1));
            unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(
                _mm_and_si128(_mm_cmpeq_epi8(first, starts), _mm_cmpeq_epi8(last, ends))));
            while (mask) {
                const size_t candidate = at + static_cast<size_t>(std::countr_zero(mask));
                if (std::memcmp(h + candidate + 1, n + 1, length - 2) == 0)
                    return true;
                mask &= mask - 1;
            }
        }
    }
#endif
    return ::memmem(h + at, size - at, n, length) != nullptr;
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

qsizetype AppState::unpreparedTexts() const {
    qsizetype missing = 0;
    for (const QList<Clip>* list : {&m_store.pinned(), &m_store.history()})
        for (const Clip& clip : *list) {
            const auto it = m_folded.constFind(clip.id());
            if (it == m_folded.cend() || it->source.constData() != clip.text().constData())
                ++missing;
        }
    return missing;
}

void AppState::scheduleFolding() {
    // Copies come in bursts; one look after the burst is enough.
    if (m_foldQueued)
        return;
    m_foldQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_foldQueued = false;
            startFolding();
        },
        Qt::QueuedConnection);
}

void AppState::forgetGoneClips() {
    QSet<QUuid> present;
    for (const QList<Clip>* list : {&m_store.pinned(), &m_store.history()})
        for (const Clip& clip : *list)
            present.insert(clip.id());
    m_folded.removeIf(
        [&](QHash<QUuid, Folded>::iterator it) { return !present.contains(it.key()); });
}

void AppState::startFolding() {
    // Runs once after every burst of changes, searched or not: a cache that
    // waited for a search to be pruned would keep every text ever copied.
    forgetGoneClips();
    if (m_folding) {
        m_foldAgain = true;
        return;
    }
    QList<std::pair<QUuid, QString>> texts;
    for (const QList<Clip>* list : {&m_store.pinned(), &m_store.history()})
        for (const Clip& clip : *list) {
            const auto it = m_folded.constFind(clip.id());
            if (it == m_folded.cend() || it->source.constData() != clip.text().constData())
                texts.append({clip.id(), clip.text()});
        }
    if (texts.isEmpty())
        return;
    m_folding = true;
    // The texts are shared, not copied: reading them on another thread is safe.
    m_background([inbox = m_foldInbox, texts = std::move(texts)] {
        QList<FoldInbox::Result> results;
        results.reserve(texts.size());
        for (const auto& [id, text] : texts)
            results.append({id, text, fold(text)});
        QMutexLocker locker(&inbox->lock);
        if (!inbox->target)
            return;
        QMetaObject::invokeMethod(
            inbox->target,
            [target = inbox->target, results = std::move(results)] {
                target->m_folding = false;
                // Only results for texts the clips still hold: a clip deleted
                // or given another text meanwhile is folded again when needed.
                QHash<QUuid, const QChar*> current;
                for (const QList<Clip>* list :
                     {&target->m_store.pinned(), &target->m_store.history()})
                    for (const Clip& clip : *list)
                        current.insert(clip.id(), clip.text().constData());
                for (const FoldInbox::Result& result : results) {
                    if (current.value(result.id) != result.source.constData())
                        continue;
                    Folded& entry = target->m_folded[result.id];
                    entry.source = result.source;
                    entry.folded = result.folded;
                }
                if (target->m_foldAgain) {
                    target->m_foldAgain = false;
                    target->startFolding();
                }
            },
            Qt::QueuedConnection);
    });
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

std::optional<Clip> AppState::selectedClip() const {
    recompute();
    const qsizetype pinned = m_filteredPinned.size();
    if (m_selection < 0 || m_selection >= pinned + m_filteredHistory.size())
        return std::nullopt;
    return m_selection < pinned ? m_filteredPinned[m_selection]
                                : m_filteredHistory[m_selection - pinned];
}

void AppState::selectClip(const QUuid& id, int fallback) {
    const QList<Clip> all = combined();
    const auto it = std::ranges::find_if(all, [&id](const Clip& clip) { return clip.id() == id; });
    const int index = it != all.end() ? static_cast<int>(it - all.begin()) : fallback;
    setSelection(std::clamp(index, 0, std::max(0, static_cast<int>(all.size()) - 1)));
}

void AppState::togglePinSelection() {
    const std::optional<Clip> clip = selectedClip();
    if (!clip)
        return;
    togglePin(*clip);
    selectClip(clip->id(), m_selection);
}

void AppState::deleteSelection() {
    const std::optional<Clip> clip = selectedClip();
    if (!clip)
        return;
    const int at = m_selection;
    m_store.deleteClip(*clip);
    selectClip(QUuid(), at);
}

bool AppState::canReorderPins() const {
    return m_query.isEmpty() && m_store.pinned().size() > 1;
}

void AppState::movePin(const Clip& pin, int delta) {
    if (!canReorderPins())
        return;
    const QList<Clip>& pins = m_store.pinned();
    const auto it =
        std::ranges::find_if(pins, [&pin](const Clip& clip) { return clip.id() == pin.id(); });
    if (it == pins.end())
        return;
    const qsizetype from = it - pins.begin();
    const qsizetype to = from + delta;
    if (delta == 0 || to < 0 || to >= pins.size())
        return;
    const std::optional<Clip> selected = selectedClip();
    m_store.movePinned(from, to);
    if (selected)
        selectClip(selected->id(), m_selection);
}

void AppState::moveSelectedPin(int delta) {
    const std::optional<Clip> clip = selectedClip();
    if (clip && m_selection < filteredPinned().size())
        movePin(*clip, delta);
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
