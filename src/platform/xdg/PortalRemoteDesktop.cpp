#include "platform/xdg/PortalRemoteDesktop.h"

#include "core/util/Log.h"
#include "platform/SettingsStore.h"
#include "platform/xdg/PortalRequest.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <xkbcommon/xkbcommon-keysyms.h>

using namespace Qt::StringLiterals;

namespace {
const QString kService = u"org.freedesktop.portal.Desktop"_s;
const QString kPath = u"/org/freedesktop/portal/desktop"_s;
const QString kInterface = u"org.freedesktop.portal.RemoteDesktop"_s;
const QString kSession = u"org.freedesktop.portal.Session"_s;
constexpr uint kKeyboard = 1;
// Remember the grant until the user takes it back.
constexpr uint kPersistUntilRevoked = 2;
// The first version whose sessions can be restored without a question.
constexpr uint kRestorableVersion = 2;

quint64 sessionCounter = 0;

QList<quint32> keysyms(PasteChord chord) {
    switch (chord) {
    case PasteChord::CtrlShiftV:
        return {XKB_KEY_Control_L, XKB_KEY_Shift_L, XKB_KEY_v};
    case PasteChord::ShiftInsert:
        return {XKB_KEY_Shift_L, XKB_KEY_Insert};
    case PasteChord::CtrlV:
        break;
    }
    return {XKB_KEY_Control_L, XKB_KEY_v};
}
} // namespace

PortalRemoteDesktop::PortalRemoteDesktop(const QDBusConnection& bus, SettingsStore* settings,
                                         QObject* parent)
    : QObject(parent), m_bus(bus), m_settings(settings) {
    if (!m_bus.isConnected()) {
        m_permission = PastePermission::unavailable;
        m_problem = u"no session bus"_s;
        return;
    }
    // A kept token restores the grant without a question: take it now, so
    // the first paste is not delayed.
    if (m_settings && !m_settings->value(restoreTokenKey).toString().isEmpty())
        ask();
}

PortalRemoteDesktop::~PortalRemoteDesktop() {
    closeSession();
}

bool PortalRemoteDesktop::sendChord(PasteChord chord) {
    switch (m_permission) {
    case PastePermission::granted:
        press(chord);
        return true;
    case PastePermission::notAsked:
        m_waiting = chord;
        ask();
        return false;
    case PastePermission::asking:
        m_waiting = chord;
        return false;
    default:
        return false;
    }
}

void PortalRemoteDesktop::ask() {
    if (m_permission != PastePermission::notAsked)
        return;
    setPermission(PastePermission::asking);
    PortalRequest::readVersion(
        m_bus, kInterface, this, [this, epoch = m_epoch](std::expected<uint, QString> version) {
            if (epoch != m_epoch)
                return;
            if (!version) {
                fail(u"the desktop portal offers no remote control: "_s + version.error());
                return;
            }
            m_version = *version;
            createSession();
        });
}

bool PortalRemoteDesktop::askAgain() {
    if (!m_bus.isConnected())
        return false;
    if (m_permission == PastePermission::granted || m_permission == PastePermission::asking)
        return true;
    // Straight to the question: the user is looking for it.
    m_problem.clear();
    m_permission = PastePermission::notAsked;
    ask();
    return true;
}

void PortalRemoteDesktop::createSession() {
    const QString token = u"tindrel_keys"_s + QString::number(++sessionCounter);
    auto* request = PortalRequest::start(m_bus, kInterface, u"CreateSession"_s, {},
                                         {{u"session_handle_token"_s, token}}, this);
    connect(
        request, &PortalRequest::finished, this,
        [this, request, epoch = m_epoch](uint response, const QVariantMap& results) {
            if (epoch != m_epoch)
                return;
            m_session = PortalRequest::sessionHandle(results);
            if (response != PortalRequest::success || m_session.isEmpty()) {
                m_session.clear();
                fail(u"the desktop portal made no remote control session"_s +
                     (request->errorText().isEmpty() ? QString() : u": "_s + request->errorText()));
                return;
            }
            m_bus.connect(kService, m_session, kSession, u"Closed"_s, this,
                          SLOT(onSessionClosed(QDBusMessage)));
            selectDevices();
        });
}

void PortalRemoteDesktop::selectDevices() {
    QVariantMap options{{u"types"_s, kKeyboard}};
    if (m_version >= kRestorableVersion) {
        options.insert(u"persist_mode"_s, kPersistUntilRevoked);
        const QString token =
            m_settings ? m_settings->value(restoreTokenKey).toString() : QString();
        if (!token.isEmpty())
            options.insert(u"restore_token"_s, token);
    }
    auto* request =
        PortalRequest::start(m_bus, kInterface, u"SelectDevices"_s,
                             {QVariant::fromValue(QDBusObjectPath(m_session))}, options, this);
    connect(request, &PortalRequest::finished, this,
            [this, epoch = m_epoch](uint response, const QVariantMap& results) {
                if (epoch != m_epoch)
                    return;
                if (response != PortalRequest::success) {
                    started(response, results);
                    return;
                }
                startSession();
            });
}

void PortalRemoteDesktop::startSession() {
    // No parent window: the question is the desktop's own, not a dialog of ours.
    auto* request = PortalRequest::start(
        m_bus, kInterface, u"Start"_s, {QVariant::fromValue(QDBusObjectPath(m_session)), QString()},
        {}, this);
    connect(request, &PortalRequest::finished, this,
            [this, epoch = m_epoch](uint response, const QVariantMap& results) {
                if (epoch == m_epoch)
                    started(response, results);
            });
}

void PortalRemoteDesktop::started(uint response, const QVariantMap& results) {
    if (response == PortalRequest::cancelled) {
        closeSession();
        m_waiting.reset();
        setPermission(PastePermission::refused);
        return;
    }
    if (response != PortalRequest::success) {
        fail(u"the desktop portal could not start remote control"_s);
        return;
    }
    if (!(results.value(u"devices"_s).toUInt() & kKeyboard)) {
        closeSession();
        m_waiting.reset();
        setPermission(PastePermission::refused);
        return;
    }
    // A portal that gives no token (or a new one) leaves nothing stale.
    const QString token = results.value(u"restore_token"_s).toString();
    if (m_settings) {
        if (token.isEmpty())
            m_settings->remove(restoreTokenKey);
        else
            m_settings->setValue(restoreTokenKey, token);
    }
    m_keepsGrant = !token.isEmpty() && m_settings;
    if (!m_keepsGrant && !m_saidForgets) {
        m_saidForgets = true;
        const QString why = m_version < kRestorableVersion
                                ? u"its portal's remote control (version "_s +
                                      QString::number(m_version) + u") cannot keep a grant"_s
                                : u"its portal gave no token to keep the grant by"_s;
        Log::write(u"Tindrel: the desktop lets Tindrel paste into Wayland windows until Tindrel "_s
                   u"quits; "_s +
                   why + u", so it asks again at the first paste after each start"_s);
    }
    setPermission(PastePermission::granted);
    if (const std::optional<PasteChord> chord = std::exchange(m_waiting, std::nullopt))
        press(*chord);
}

void PortalRemoteDesktop::fail(const QString& why) {
    closeSession();
    m_waiting.reset();
    m_problem = why;
    setPermission(PastePermission::unavailable);
}

void PortalRemoteDesktop::onSessionClosed(const QDBusMessage& message) {
    // GNOME ends a session the user refused right after its answer, and
    // the end of one we closed may already be on its way: neither takes
    // back anything.
    if (message.path() != m_session)
        return;
    // The desktop ended it (the user stopped the remote control): the grant
    // is gone, and the next paste asks again.
    m_bus.disconnect(kService, m_session, kSession, u"Closed"_s, this,
                     SLOT(onSessionClosed(QDBusMessage)));
    m_session.clear();
    ++m_epoch;
    m_keys.clear();
    m_keyInFlight = false;
    m_waiting.reset();
    setPermission(PastePermission::notAsked);
}

void PortalRemoteDesktop::setPermission(PastePermission permission) {
    if (m_permission == permission)
        return;
    m_permission = permission;
    Q_EMIT permissionChanged();
    if (onPermissionChanged)
        onPermissionChanged();
}

void PortalRemoteDesktop::press(PasteChord chord) {
    const QList<quint32> keys = keysyms(chord);
    for (const quint32 keysym : keys)
        key(keysym, true);
    for (auto it = keys.crbegin(); it != keys.crend(); ++it)
        key(*it, false);
}

void PortalRemoteDesktop::key(quint32 keysym, bool pressed) {
    m_keys.append({keysym, pressed});
    if (!m_keyInFlight)
        sendNextKey();
}

void PortalRemoteDesktop::sendNextKey() {
    if (m_keys.isEmpty() || m_session.isEmpty())
        return;
    const auto [keysym, pressed] = m_keys.takeFirst();
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, u"NotifyKeyboardKeysym"_s);
    call.setArguments({QVariant::fromValue(QDBusObjectPath(m_session)), QVariantMap(), int(keysym),
                       uint(pressed ? 1 : 0)});
    // The portal may handle calls on several threads, so a key sent before
    // the last is answered could overtake it: Ctrl would come after the V.
    m_keyInFlight = true;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, epoch = m_epoch](QDBusPendingCallWatcher* answered) {
                answered->deleteLater();
                if (epoch != m_epoch)
                    return;
                m_keyInFlight = false;
                if (answered->isError())
                    m_keys.clear(); // the rest of a broken chord would be worse
                sendNextKey();
            });
}

void PortalRemoteDesktop::closeSession() {
    ++m_epoch;
    m_keys.clear();
    m_keyInFlight = false;
    if (m_session.isEmpty())
        return;
    m_bus.disconnect(kService, m_session, kSession, u"Closed"_s, this,
                     SLOT(onSessionClosed(QDBusMessage)));
    m_bus.send(QDBusMessage::createMethodCall(kService, m_session, kSession, u"Close"_s));
    m_session.clear();
}
