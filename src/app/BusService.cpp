#include "app/BusService.h"
#include "ui/settings/SettingsTab.h"

#include "core/capture/ClipboardMonitor.h"
#include "core/prefs/Preferences.h"
#include "core/store/ClipStore.h"
#include "core/sync/PairingCode.h"
#include "core/sync/PairingLink.h"
#include "core/sync/SyncService.h"
#include "core/util/Graphemes.h"
#include "core/util/Log.h"
#include "core/util/Utf8.h"
#include "platform/Pasteboard.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QUuid>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {
constexpr auto unknownClip = "io.tindrel.Tindrel.Error.UnknownClip";
constexpr auto outOfRange = "io.tindrel.Tindrel.Error.OutOfRange";
constexpr auto invalidArgument = "io.tindrel.Tindrel.Error.InvalidArgument";
constexpr auto tooLong = "io.tindrel.Tindrel.Error.TooLong";
constexpr auto notKept = "io.tindrel.Tindrel.Error.NotKept";
constexpr auto pinLimit = "io.tindrel.Tindrel.Error.PinLimit";
constexpr auto syncOff = "io.tindrel.Tindrel.Error.SyncOff";
constexpr auto unknownDevice = "io.tindrel.Tindrel.Error.UnknownDevice";
constexpr auto notSent = "io.tindrel.Tindrel.Error.NotSent";
constexpr auto tooLarge = "io.tindrel.Tindrel.Error.TooLarge";

// What one clip's entry adds to an answer besides its texts: keys, id,
// flags, time, and the bus's type signatures and padding, with room to spare.
constexpr qsizetype entryOverhead = 512;

qsizetype entrySize(const Clip& clip, QStringView text) {
    return entryOverhead + Utf8::size(text) +
           (clip.sourceApp() ? Utf8::size(*clip.sourceApp()) : 0);
}

// The first `length` code units of a text, or one fewer than would split
// a surrogate pair.
QStringView beginning(const QString& text, qsizetype length) {
    if (text.size() <= length)
        return text;
    return QStringView(text).left(text.at(length - 1).isHighSurrogate() ? length - 1 : length);
}

QVariantMap describe(const Clip& clip, bool pinned, QStringView text) {
    QVariantMap entry{
        {u"id"_s, clip.id().toString(QUuid::WithoutBraces)},
        {u"text"_s, text.toString()},
        {u"pinned"_s, pinned},
        {u"time"_s, qint64(std::llround(clip.createdAt().unix() * 1000.0))},
    };
    if (clip.sourceApp())
        entry.insert(u"source"_s, *clip.sourceApp());
    return entry;
}

qint64 milliseconds(const Instant& instant) {
    return qint64(std::llround(instant.unix() * 1000.0));
}
} // namespace

struct BusService::Found {
    std::optional<Clip> clip;
    bool pinned = false;
};

BusService::BusService(ClipStore& store, Preferences& prefs, ClipboardMonitor& monitor,
                       SyncService& sync, Actions actions, QObject* parent)
    : QObject(parent), m_store(store), m_prefs(prefs), m_monitor(monitor), m_sync(sync),
      m_actions(std::move(actions)),
      m_link(QString::fromLatin1(serviceName), QString::fromLatin1(objectPath),
             QString::fromLatin1(interfaceName), this),
      m_announcedCount(clipCount()) {
    connect(&m_link, &BusLink::connected, this, &BusService::connected);
    connect(&m_sync, &SyncService::paired, this, [this](const SyncDevice& device) {
        ++m_pairings;
        m_lastPaired = device.name;
    });
    // Queued: the window's code is set only after preparing has ended.
    connect(
        &m_sync, &SyncService::isPreparingPairingChanged, this,
        [this] {
            if (!m_sync.isPreparingPairing())
                answerPairings();
        },
        Qt::QueuedConnection);
    connect(&m_sync, &SyncService::joinFinished, this, &BusService::answerJoin);
    // A stop drops what was still being prepared; nobody must wait on it.
    connect(&m_sync, &SyncService::isRunningChanged, this, [this] {
        if (!m_sync.isRunning())
            answerAllStopped();
    });
    connect(&m_monitor, &ClipboardMonitor::isPausedChanged, this,
            [this] { announce("Paused", paused()); });
    const auto countChanged = [this] {
        if (clipCount() == m_announcedCount)
            return;
        m_announcedCount = clipCount();
        announce("ClipCount", m_announcedCount);
    };
    connect(&m_store, &ClipStore::historyChanged, this, countChanged);
    connect(&m_store, &ClipStore::pinnedChanged, this, countChanged);
    for (const auto changed : {&ClipStore::historyChanged, &ClipStore::pinnedChanged})
        connect(&m_store, changed, this, [this] { ++m_revision; });
}

void BusService::publish() {
    qDBusRegisterMetaType<QList<QVariantMap>>();
    m_link.start();
}

bool BusService::paused() const {
    return m_monitor.isPaused();
}

void BusService::setPaused(bool paused) {
    if (paused != m_monitor.isPaused())
        m_monitor.setPaused(paused);
}

uint BusService::clipCount() const {
    return uint(m_store.pinned().size() + m_store.history().size());
}

void BusService::ShowPanel() {
    m_actions.showPanel();
}

void BusService::HidePanel() {
    m_actions.hidePanel();
}

void BusService::TogglePanel() {
    m_actions.togglePanel();
}

void BusService::Pause() {
    setPaused(true);
}

void BusService::Resume() {
    setPaused(false);
}

void BusService::TogglePause() {
    setPaused(!paused());
}

void BusService::Quit() {
    // After the answer: the caller should not see the connection vanish
    // under its call.
    if (m_actions.quit)
        QMetaObject::invokeMethod(this, m_actions.quit, Qt::QueuedConnection);
}

void BusService::OpenSettings(const QString& tab) {
    // The settings window's tabs, by the names it stores as the last one seen.
    QStringList tabs;
    for (const RawCase<SettingsTab>& c : allCases<SettingsTab>())
        tabs << c.raw.toString();
    const QString name = tab.trimmed().toLower();
    if (!name.isEmpty() && !tabs.contains(name)) {
        fail(invalidArgument, u"There is no settings tab \"%1\"; the tabs are %2."_s.arg(
                                  tab.left(64), tabs.join(u", "_s)));
        return;
    }
    m_actions.openSettings(name);
}

QList<QVariantMap> BusService::List(bool pinnedOnly) {
    // Kept for the scripts that call it; within the budget or not at all.
    qsizetype bytes = 0;
    for (const Clip& clip : m_store.pinned())
        bytes += entrySize(clip, clip.text());
    if (!pinnedOnly)
        for (const Clip& clip : m_store.history())
            bytes += entrySize(clip, clip.text());
    if (bytes > replyBudget) {
        fail(tooLarge, u"The clips are too large for one answer; ListPage gives them a page at "
                       u"a time."_s);
        return {};
    }
    QList<QVariantMap> clips;
    for (const Clip& clip : m_store.pinned())
        clips.append(describe(clip, true, clip.text()));
    if (!pinnedOnly)
        for (const Clip& clip : m_store.history())
            clips.append(describe(clip, false, clip.text()));
    return clips;
}

QList<QVariantMap> BusService::ListPage(bool pinnedOnly, uint first, uint& total, uint& revision) {
    const QList<Clip>& pins = m_store.pinned();
    const QList<Clip>& history = m_store.history();
    const qsizetype all = pins.size() + (pinnedOnly ? 0 : history.size());
    total = uint(all);
    revision = m_revision;
    if (first < 1) {
        fail(outOfRange, u"Positions count from 1."_s);
        return {};
    }
    QList<QVariantMap> page;
    qsizetype bytes = 0;
    for (qsizetype index = qsizetype(first) - 1; index < all; ++index) {
        const bool pinned = index < pins.size();
        const Clip& clip = pinned ? pins.at(index) : history.at(index - pins.size());
        const QStringView text = beginning(clip.text(), pageTextLength);
        const qsizetype size = entrySize(clip, text);
        // At least one clip, so that every page moves on; one always fits.
        if (!page.isEmpty() && bytes + size > replyBudget)
            break;
        bytes += size;
        QVariantMap entry = describe(clip, pinned, text);
        entry.insert(u"length"_s, uint(clip.text().size()));
        entry.insert(u"complete"_s, text.size() == clip.text().size());
        page.append(entry);
    }
    return page;
}

QString BusService::Text(const QString& id, uint offset, uint& next) {
    next = 0;
    const Found found = find(id);
    if (!found.clip)
        return {};
    const QString& text = found.clip->text();
    if (offset > uint(text.size())) {
        fail(outOfRange,
             u"The text is %1 code units long; %2 is past its end."_s.arg(text.size()).arg(offset));
        return {};
    }
    // As much as fits in one answer, never half a surrogate pair.
    constexpr qsizetype budget = replyBudget - entryOverhead;
    qsizetype end = offset, bytes = 0;
    while (end < text.size()) {
        const qsizetype units = text.at(end).isHighSurrogate() && end + 1 < text.size() &&
                                        text.at(end + 1).isLowSurrogate()
                                    ? 2
                                    : 1;
        const qsizetype size = Utf8::size(QStringView(text).mid(end, units));
        if (bytes + size > budget)
            break;
        bytes += size;
        end += units;
    }
    if (end < text.size())
        next = uint(end);
    return text.mid(offset, end - offset);
}

void BusService::Copy(const QString& id) {
    const Found found = find(id);
    if (found.clip)
        copy(found);
}

void BusService::CopyAt(uint position) {
    const Found found = at(position);
    if (found.clip)
        copy(found);
}

BusService::Found BusService::at(uint position) {
    const qsizetype pins = m_store.pinned().size();
    const qsizetype all = pins + m_store.history().size();
    if (position < 1 || position > all) {
        fail(outOfRange,
             all == 0
                 ? u"There are no clips."_s
                 : u"There is no clip at position %1; positions run from 1 to %2."_s.arg(position)
                       .arg(all));
        return {};
    }
    const qsizetype index = qsizetype(position) - 1;
    return index < pins ? Found{m_store.pinned().at(index), true}
                        : Found{m_store.history().at(index - pins), false};
}

QString BusService::Add(const QString& text) {
    if (text.trimmed().isEmpty()) {
        fail(invalidArgument, u"The text is empty."_s);
        return {};
    }
    // As much as a copy may hold: the limit set in the settings, or else
    // what the clipboard reader takes.
    const int captureLimit = m_prefs.maxClipLength();
    if (captureLimit >= 1 && Graphemes::exceeds(text, captureLimit)) {
        fail(tooLong, u"The text is longer than the limit of %1 characters."_s.arg(captureLimit));
        return {};
    }
    if (Utf8::size(text) > Pasteboard::maxTextBytes) {
        fail(tooLong, u"The text is larger than the %1 MiB a copy may hold."_s.arg(
                          Pasteboard::maxTextBytes / (1024 * 1024)));
        return {};
    }
    m_actions.recordCopy(text);
    // The store keeps the text as a copy would be kept; find where it went.
    const Clip added = Clip::make(m_prefs.trimWhitespace() ? text.trimmed() : text, {});
    for (const QList<Clip>* list : {&m_store.history(), &m_store.pinned()})
        for (const Clip& clip : *list)
            if (clip.hasSameText(added))
                return clip.id().toString(QUuid::WithoutBraces);
    fail(notKept, u"The text was not kept: short clips are skipped (see the settings)."_s);
    return {};
}

void BusService::Pin(const QString& id) {
    pin(find(id));
}

void BusService::PinAt(uint position) {
    pin(at(position));
}

void BusService::pin(const Found& found) {
    if (!found.clip || found.pinned)
        return;
    if (!m_store.pin(*found.clip))
        fail(pinLimit,
             u"All %1 places for pins are taken; unpin a clip first."_s.arg(m_prefs.pinLimit()));
}

void BusService::Unpin(const QString& id) {
    unpin(find(id));
}

void BusService::UnpinAt(uint position) {
    unpin(at(position));
}

void BusService::unpin(const Found& found) {
    if (found.clip && found.pinned)
        m_store.unpin(*found.clip);
}

void BusService::Delete(const QString& id) {
    remove(find(id));
}

void BusService::DeleteAt(uint position) {
    remove(at(position));
}

void BusService::remove(const Found& found) {
    if (found.clip)
        m_store.deleteClip(*found.clip);
}

void BusService::ClearHistory() {
    // Asked for explicitly by a script or a command: no question in a window.
    m_store.setHistory({});
    m_store.scheduleSave();
}

QVariantMap BusService::SyncStatus() {
    QVariantMap status{
        {u"enabled"_s, m_prefs.syncEnabled()},
        {u"running"_s, m_sync.isRunning()},
        {u"lastEvent"_s, m_sync.lastEvent()},
        {u"port"_s, m_sync.listenerPort()},
        {u"discovered"_s, m_sync.discoveredUnpaired()},
        {u"pendingJoins"_s, m_sync.pendingJoins()},
        {u"pairings"_s, m_pairings},
        {u"lastPaired"_s, m_lastPaired},
    };
    if (!m_sync.pairingCode().isEmpty()) {
        status.insert(u"pairingCode"_s, PairingCode::format(m_sync.pairingCode()));
        status.insert(u"pairingExpires"_s, m_sync.pairingExpiry().toMSecsSinceEpoch());
        if (const std::optional<QString> link = m_sync.pairingURL())
            status.insert(u"pairingLink"_s, *link);
    }
    return status;
}

QVariantMap BusService::StartPairing(uint seconds) {
    if (seconds < 1 || seconds > maxPairingSeconds) {
        fail(invalidArgument, u"A pairing window lasts 1 to %1 seconds."_s.arg(maxPairingSeconds));
        return {};
    }
    if (!syncRuns())
        return {};
    // The window opens once its key is derived; the caller hears then.
    if (calledFromDBus()) {
        setDelayedReply(true);
        m_waitingPairings.append(message());
    }
    m_sync.startPairing(std::chrono::seconds(seconds));
    if (!m_sync.isPreparingPairing())
        answerPairings();
    return {};
}

void BusService::EndPairing() {
    m_sync.endPairing();
}

QString BusService::JoinPairing(const QString& codeOrLink) {
    const QString text = codeOrLink.trimmed();
    if (text.isEmpty()) {
        fail(invalidArgument, u"The code is empty."_s);
        return {};
    }
    if (!syncRuns())
        return {};
    // Answered once the requests are out (or refused); before the call, as a
    // link that does not parse is refused at once.
    if (calledFromDBus()) {
        setDelayedReply(true);
        // A damaged link is the user's to fix; no device appearing later helps.
        const bool badLink = text.contains(u"://"_s) && !PairingLink::parse(text);
        m_waitingJoins.append({message(), badLink});
    }
    m_sync.joinPairing(text);
    return {};
}

void BusService::answerPairings() {
    const QList<QDBusMessage> waiting = std::exchange(m_waitingPairings, {});
    for (const QDBusMessage& call : waiting) {
        const QDBusMessage reply =
            m_sync.pairingCode().isEmpty()
                ? call.createErrorReply(
                      QString::fromLatin1(notSent),
                      u"No pairing window opened (sync said: %1)."_s.arg(m_sync.lastEvent()))
                : call.createReply(QVariant::fromValue(SyncStatus()));
        connection().send(reply);
    }
}

void BusService::answerJoin(const QString& outcome, bool sent) {
    if (m_waitingJoins.isEmpty())
        return;
    const WaitingJoin join = m_waitingJoins.takeFirst();
    const QDBusMessage reply =
        sent ? join.call.createReply(outcome)
             : join.call.createErrorReply(
                   QString::fromLatin1(join.badLink ? invalidArgument : notSent), outcome);
    connection().send(reply);
}

void BusService::answerAllStopped() {
    const QString why = u"Sync stopped."_s;
    for (const QDBusMessage& call : std::exchange(m_waitingPairings, {}))
        connection().send(call.createErrorReply(QString::fromLatin1(syncOff), why));
    for (const WaitingJoin& join : std::exchange(m_waitingJoins, {}))
        connection().send(join.call.createErrorReply(QString::fromLatin1(syncOff), why));
}

QList<QVariantMap> BusService::SyncDevices() {
    const QStringList lan = m_sync.connectedPeerIds();
    const QStringList relay = m_sync.relayConnectedPeerIds();
    QList<QVariantMap> devices;
    for (const SyncDevice& device : m_sync.peers()) {
        QVariantMap entry{
            {u"id"_s, device.id},
            {u"name"_s, device.name},
            {u"enabled"_s, device.isEnabled()},
            {u"connected"_s, lan.contains(device.id)},
            {u"relayConnected"_s, relay.contains(device.id)},
        };
        if (device.platform)
            entry.insert(u"platform"_s, *device.platform);
        if (device.lastSeen)
            entry.insert(u"lastSeen"_s, milliseconds(*device.lastSeen));
        devices.append(entry);
    }
    return devices;
}

void BusService::PauseDevice(const QString& idOrName) {
    if (const std::optional<SyncDevice> found = device(idOrName))
        m_sync.setEnabled(false, *found);
}

void BusService::ResumeDevice(const QString& idOrName) {
    if (const std::optional<SyncDevice> found = device(idOrName))
        m_sync.setEnabled(true, *found);
}

void BusService::UnpairDevice(const QString& idOrName) {
    if (const std::optional<SyncDevice> found = device(idOrName))
        m_sync.unpair(*found);
}

bool BusService::syncRuns() {
    if (m_sync.isRunning())
        return true;
    fail(syncOff, m_prefs.syncEnabled()
                      ? u"Sync is not running: "_s + m_sync.lastEvent()
                      : u"Sync is off; turn it on in the settings (tindrel --settings sync)."_s);
    return false;
}

std::optional<SyncDevice> BusService::device(const QString& idOrName) {
    const QString wanted = idOrName.trimmed();
    const QList<SyncDevice> peers = m_sync.peers();
    for (const SyncDevice& peer : peers)
        if (peer.id.compare(wanted, Qt::CaseInsensitive) == 0)
            return peer;
    std::optional<SyncDevice> named;
    for (const SyncDevice& peer : peers) {
        if (peer.name.compare(wanted, Qt::CaseInsensitive) != 0)
            continue;
        if (named) {
            fail(unknownDevice,
                 u"Several paired devices are called \"%1\"; name one by its id."_s.arg(
                     wanted.left(100)));
            return std::nullopt;
        }
        named = peer;
    }
    if (!named)
        fail(unknownDevice,
             u"No paired device is called or has the id \"%1\"."_s.arg(wanted.left(100)));
    return named;
}

BusService::Found BusService::find(const QString& id) {
    const QUuid uuid = QUuid::fromString(id.trimmed());
    if (uuid.isNull()) {
        fail(invalidArgument, u"\"%1\" is not a clip id."_s.arg(id.left(64)));
        return {};
    }
    for (const Clip& clip : m_store.pinned())
        if (clip.id() == uuid)
            return {clip, true};
    for (const Clip& clip : m_store.history())
        if (clip.id() == uuid)
            return {clip, false};
    fail(unknownClip, u"No clip has the id %1."_s.arg(uuid.toString(QUuid::WithoutBraces)));
    return {};
}

void BusService::copy(const Found& found) {
    m_monitor.writeOwnText(found.clip->text());
    if (!found.pinned && m_prefs.moveToTopOnPaste())
        m_store.promote(*found.clip);
}

void BusService::fail(const char* error, const QString& message) {
    // Direct calls (tests, other parts of the program) have no one to answer.
    if (calledFromDBus())
        sendErrorReply(QString::fromLatin1(error), message);
}

void BusService::announce(const char* property, const QVariant& value) {
    QDBusMessage signal =
        QDBusMessage::createSignal(QString::fromLatin1(objectPath),
                                   u"org.freedesktop.DBus.Properties"_s, u"PropertiesChanged"_s);
    signal << QString::fromLatin1(interfaceName)
           << QVariantMap{{QString::fromLatin1(property), value}} << QStringList();
    connection().send(signal);
}
