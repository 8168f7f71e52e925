#include "platform/xdg/PortalHotKeyService.h"

#include "platform/xdg/KeysymName.h"
#include "platform/xdg/PortalRequest.h"
#include "platform/xdg/PortalShortcut.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QMetaObject>
#include <QSet>

using namespace Qt::StringLiterals;

namespace {
const QString kService = u"org.freedesktop.portal.Desktop"_s;
const QString kPath = u"/org/freedesktop/portal/desktop"_s;
const QString kInterface = u"org.freedesktop.portal.GlobalShortcuts"_s;
const QString kSession = u"org.freedesktop.portal.Session"_s;

quint64 sessionCounter = 0;
} // namespace

PortalHotKeyService::PortalHotKeyService(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_bus(bus) {
    PortalShortcut::registerType();
    if (!m_bus.isConnected()) {
        m_state = State::unavailable;
        m_problem = u"no session bus"_s;
        return;
    }
    m_bus.connect(kService, kPath, kInterface, u"Activated"_s, this,
                  SLOT(onActivated(QDBusMessage)));
    // A portal that restarts has forgotten our session: bind again.
    auto* watcher =
        new QDBusServiceWatcher(kService, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) {
                ownerChanged(!newOwner.isEmpty());
            });
    probe();
}

void PortalHotKeyService::ownerChanged(bool present) {
    // Answers still on their way belong to the portal that went.
    ++m_epoch;
    m_session.clear();
    m_bound.clear();
    m_busy = false;
    if (present) {
        if (m_state == State::ready)
            m_state = State::probing;
        probe();
    }
}

PortalHotKeyService::~PortalHotKeyService() {
    closeSession();
}

QString PortalHotKeyService::trigger(quint32 keysym, quint32 modifiers) {
    return KeysymName::withModifiers(keysym, modifiers, {u"CTRL+", u"ALT+", u"SHIFT+", u"LOGO+"});
}

void PortalHotKeyService::probe() {
    PortalRequest::readVersion(
        m_bus, kInterface, this, [this, epoch = m_epoch](std::expected<uint, QString> version) {
            if (epoch != m_epoch)
                return;
            if (!version) {
                giveUp(u"the desktop portal offers no global shortcuts: "_s + version.error());
                return;
            }
            if (*version < 1) {
                giveUp(u"the desktop portal's global shortcuts have no usable version"_s);
                return;
            }
            const bool wasUnavailable = m_state == State::unavailable;
            m_state = State::ready;
            m_problem.clear();
            if (wasUnavailable && onAvailabilityChanged)
                onAvailabilityChanged();
            scheduleSync();
        });
}

void PortalHotKeyService::giveUp(const QString& why) {
    closeSession();
    m_registrations.clear();
    const bool changed = m_state != State::unavailable;
    m_state = State::unavailable;
    m_problem = why;
    if (changed && onAvailabilityChanged)
        onAvailabilityChanged();
}

int PortalHotKeyService::registerHotKey(quint32 id, quint32 keyCode, quint32 modifiers) {
    if (m_state == State::unavailable)
        return failed;
    const QString wantedTrigger = trigger(keyCode, modifiers);
    if (wantedTrigger.isEmpty())
        return failed;
    Registration& registration = m_registrations[id];
    registration.trigger = wantedTrigger;
    if (registration.name.isEmpty())
        registration.name = u"shortcut-"_s + QString::number(id);
    scheduleSync();
    return 0;
}

void PortalHotKeyService::unregisterHotKey(quint32 id) {
    if (m_registrations.remove(id))
        scheduleSync();
}

void PortalHotKeyService::describe(quint32 id, const QString& name, const QString& description) {
    const auto it = m_registrations.find(id);
    if (it == m_registrations.end())
        return;
    it->name = name;
    it->description = description;
}

QString PortalHotKeyService::statusText(int status) const {
    switch (status) {
    case declined:
        return u"the desktop declined it"_s;
    case leftUnbound:
        return u"the desktop left it unbound"_s;
    default:
        return u"the desktop portal failed"_s +
               (m_problem.isEmpty() ? QString() : u": "_s + m_problem);
    }
}

void PortalHotKeyService::scheduleSync() {
    // Reloads drop and add every shortcut in one go: bind once, after them.
    if (m_syncScheduled)
        return;
    m_syncScheduled = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_syncScheduled = false;
            sync();
        },
        Qt::QueuedConnection);
}

QHash<QString, QString> PortalHotKeyService::wanted() const {
    QHash<QString, QString> names;
    for (const Registration& registration : m_registrations)
        names.insert(registration.name, registration.trigger);
    return names;
}

void PortalHotKeyService::sync() {
    if (m_state != State::ready || m_busy)
        return;
    const QHash<QString, QString> now = wanted();
    if (now == m_bound)
        return;
    closeSession();
    if (now.isEmpty())
        return;
    m_busy = true;
    const QString token = u"tindrel"_s + QString::number(++sessionCounter);
    auto* create = PortalRequest::start(m_bus, kInterface, u"CreateSession"_s, {},
                                        {{u"session_handle_token"_s, token}}, this);
    connect(
        create, &PortalRequest::finished, this,
        [this, now, create, epoch = m_epoch](uint response, const QVariantMap& results) {
            if (epoch != m_epoch)
                return;
            m_session = PortalRequest::sessionHandle(results);
            if (response != PortalRequest::success || m_session.isEmpty()) {
                m_busy = false;
                m_session.clear();
                giveUp(u"the desktop portal made no shortcut session"_s +
                       (create->errorText().isEmpty() ? QString() : u": "_s + create->errorText()));
                return;
            }
            bind(now);
        });
}

void PortalHotKeyService::bind(const QHash<QString, QString>& asked) {
    QList<PortalShortcut> shortcuts;
    for (const Registration& registration : std::as_const(m_registrations)) {
        if (!asked.contains(registration.name))
            continue;
        QVariantMap properties{{u"preferred_trigger"_s, registration.trigger}};
        properties.insert(u"description"_s, registration.description.isEmpty()
                                                ? registration.name
                                                : registration.description);
        shortcuts.append({registration.name, properties});
    }
    auto* request = PortalRequest::start(m_bus, kInterface, u"BindShortcuts"_s,
                                         {QVariant::fromValue(QDBusObjectPath(m_session)),
                                          QVariant::fromValue(shortcuts), QString()},
                                         {}, this);
    connect(request, &PortalRequest::finished, this,
            [this, asked, epoch = m_epoch](uint response, const QVariantMap& results) {
                if (epoch == m_epoch)
                    bound(response, results, asked);
            });
}

void PortalHotKeyService::bound(uint response, const QVariantMap& results,
                                const QHash<QString, QString>& asked) {
    m_busy = false;
    if (response != PortalRequest::success) {
        closeSession();
        loseAll(asked, response == PortalRequest::cancelled ? declined : failed);
    } else {
        QSet<QString> given;
        const QVariant list = results.value(u"shortcuts"_s);
        if (list.canConvert<QDBusArgument>()) {
            QList<PortalShortcut> shortcuts;
            list.value<QDBusArgument>() >> shortcuts;
            for (const PortalShortcut& shortcut : std::as_const(shortcuts))
                given.insert(shortcut.id);
        }
        QHash<QString, QString> missing;
        for (auto it = asked.cbegin(); it != asked.cend(); ++it) {
            if (given.contains(it.key()))
                m_bound.insert(it.key(), it.value());
            else
                missing.insert(it.key(), it.value());
        }
        loseAll(missing, leftUnbound);
    }
    // Changes that came while the desktop was asked.
    scheduleSync();
}

void PortalHotKeyService::loseAll(const QHash<QString, QString>& asked, int status) {
    QList<quint32> lost;
    for (auto it = m_registrations.cbegin(); it != m_registrations.cend(); ++it)
        if (asked.value(it->name) == it->trigger && asked.contains(it->name))
            lost.append(it.key());
    for (const quint32 id : std::as_const(lost)) {
        m_registrations.remove(id);
        if (onLost)
            onLost(id, status);
    }
}

void PortalHotKeyService::closeSession() {
    if (!m_session.isEmpty()) {
        // No answer is needed: a session that stays open only binds keys
        // that nothing listens to any more.
        m_bus.send(QDBusMessage::createMethodCall(kService, m_session, kSession, u"Close"_s));
    }
    m_session.clear();
    m_bound.clear();
}

void PortalHotKeyService::onActivated(const QDBusMessage& message) {
    // (session, shortcut id, time stamp, options)
    const QVariantList args = message.arguments();
    const QString session = args.value(0).value<QDBusObjectPath>().path();
    const QString shortcutId = args.value(1).toString();
    // A press for an older session may still be on its way.
    if (session.isEmpty() || session != m_session || !m_bound.contains(shortcutId))
        return;
    for (auto it = m_registrations.cbegin(); it != m_registrations.cend(); ++it) {
        if (it->name == shortcutId && it->trigger == m_bound.value(shortcutId)) {
            if (onPressed)
                onPressed(it.key());
            return;
        }
    }
}
