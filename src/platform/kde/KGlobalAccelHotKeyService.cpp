#include "platform/kde/KGlobalAccelHotKeyService.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QMetaObject>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace {
const QString kService = u"org.kde.kglobalaccel"_s;
const QString kPath = u"/kglobalaccel"_s;
const QString kInterface = u"org.kde.KGlobalAccel"_s;
const QString kComponentInterface = u"org.kde.kglobalaccel.Component"_s;
const QString kFriendlyName = u"Tindrel"_s;

// setShortcut's flags: mark the action present (its owner runs), and take
// the keys given rather than those the service remembers.
constexpr uint kSetPresent = 2;
constexpr uint kNoAutoloading = 4;

QDBusMessage call(const QString& method, const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    message.setArguments(arguments);
    return message;
}

// The bus daemon's own answer, so it comes at once; bounded all the same.
bool busSays(const QDBusConnection& bus, const QString& method, const QVariantList& arguments,
             QVariant* value) {
    QDBusMessage message = QDBusMessage::createMethodCall(
        u"org.freedesktop.DBus"_s, u"/org/freedesktop/DBus"_s, u"org.freedesktop.DBus"_s, method);
    message.setArguments(arguments);
    const QDBusMessage answer = bus.call(message, QDBus::Block, 2000);
    if (answer.type() != QDBusMessage::ReplyMessage)
        return false;
    *value = answer.arguments().value(0);
    return true;
}

// The first key of each sequence in kglobalaccel's a(ai) notation.
QList<int> firstKeys(const QDBusArgument& argument) {
    QList<int> keys;
    argument.beginArray();
    while (!argument.atEnd()) {
        argument.beginStructure();
        argument.beginArray();
        QList<int> sequence;
        while (!argument.atEnd()) {
            int key = 0;
            argument >> key;
            sequence.append(key);
        }
        argument.endArray();
        argument.endStructure();
        // A sequence of several chords is no key of ours: say so by -1.
        const int extra = int(std::count_if(sequence.cbegin() + qMin(1, int(sequence.size())),
                                            sequence.cend(), [](int key) { return key != 0; }));
        keys.append(extra > 0 ? -1 : sequence.value(0));
    }
    argument.endArray();
    keys.removeAll(0);
    return keys;
}
} // namespace

std::unique_ptr<KGlobalAccelHotKeyService>
KGlobalAccelHotKeyService::connect(const QDBusConnection& bus, QString* why) {
    const auto refuse = [why](const QString& reason) {
        if (why)
            *why = reason;
        return nullptr;
    };
    if (!bus.isConnected())
        return refuse(u"no session bus"_s);
    // Asked once, while the desktop's parts are chosen at start.
    QVariant answer;
    if (!busSays(bus, u"NameHasOwner"_s, {kService}, &answer))
        return refuse(u"the session bus did not answer"_s);
    if (!answer.toBool()) {
        if (!busSays(bus, u"ListActivatableNames"_s, {}, &answer))
            return refuse(u"the session bus did not answer"_s);
        if (!answer.toStringList().contains(kService))
            return refuse(kService + u" is not on the session bus"_s);
    }
    return std::make_unique<KGlobalAccelHotKeyService>(bus, KdeKeyCodes::plasmaLayout());
}

KGlobalAccelHotKeyService::KGlobalAccelHotKeyService(const QDBusConnection& bus,
                                                     const QString& layout, QObject* parent)
    : QObject(parent), m_bus(bus), m_keys(layout) {
    // Presses come from the component's object; its path is derived from
    // our name by the service, so the component's name in the signal is
    // what picks ours out.
    m_bus.connect(kService, QString(), kComponentInterface, u"globalShortcutPressed"_s, this,
                  SLOT(onPressedSignal(QDBusMessage)));
    // System Settings changes keys through setForeignShortcut; older
    // services announce it with the first signal, newer ones the second.
    m_bus.connect(kService, kPath, kInterface, u"yourShortcutGotChanged"_s, this,
                  SLOT(onChangedSignal(QDBusMessage)));
    m_bus.connect(kService, kPath, kInterface, u"yourShortcutsChanged"_s, this,
                  SLOT(onChangedSignal(QDBusMessage)));
    // A service that restarts (KWin did) knows nothing of ours: set again.
    auto* watcher =
        new QDBusServiceWatcher(kService, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    QObject::connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
                     [this](const QString&, const QString&, const QString& newOwner) {
                         ++m_epoch;
                         m_remote.clear();
                         if (!newOwner.isEmpty())
                             scheduleSync();
                     });
}

KGlobalAccelHotKeyService::~KGlobalAccelHotKeyService() {
    // As KDE's programs do on exit: the keys stay listed (and reserved)
    // under our name, but nothing fires for a program that is gone.
    for (auto it = m_remote.cbegin(); it != m_remote.cend(); ++it)
        if (it->active || it->pending)
            m_bus.send(call(u"setInactive"_s, {actionId(it.key())}));
}

QStringList KGlobalAccelHotKeyService::actionId(const QString& name,
                                                const QString& description) const {
    return {QString::fromUtf16(component), name, kFriendlyName, description};
}

int KGlobalAccelHotKeyService::registerHotKey(quint32 id, quint32 keyCode, quint32 modifiers) {
    const int key = m_keys.toQt(keyCode, modifiers);
    if (key == 0)
        return noKeyCode;
    Registration& registration = m_registrations[id];
    registration.key = key;
    if (registration.name.isEmpty())
        registration.name = u"shortcut-"_s + QString::number(id);
    scheduleSync();
    return 0;
}

void KGlobalAccelHotKeyService::unregisterHotKey(quint32 id) {
    if (m_registrations.remove(id))
        scheduleSync();
}

void KGlobalAccelHotKeyService::describe(quint32 id, const QString& name,
                                         const QString& description) {
    const auto it = m_registrations.find(id);
    if (it == m_registrations.end())
        return;
    it->name = name;
    it->description = description;
}

QString KGlobalAccelHotKeyService::statusText(int status) const {
    switch (status) {
    case taken:
        return u"another program holds these keys in the desktop's shortcuts"_s;
    case noKeyCode:
        return u"the desktop's shortcut service has no code for this key"_s;
    default:
        return u"the desktop's shortcut service failed"_s;
    }
}

quint32 KGlobalAccelHotKeyService::idOf(const QString& name) const {
    for (auto it = m_registrations.cbegin(); it != m_registrations.cend(); ++it)
        if (it->name == name)
            return it.key();
    return 0;
}

void KGlobalAccelHotKeyService::scheduleSync() {
    // A reload drops and adds every shortcut in one go: set them after it.
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

void KGlobalAccelHotKeyService::sync() {
    QHash<QString, const Registration*> wanted;
    for (const Registration& registration : std::as_const(m_registrations))
        wanted.insert(registration.name, &registration);
    for (auto it = m_remote.begin(); it != m_remote.end(); ++it) {
        if (it->active && !wanted.contains(it.key())) {
            m_bus.send(call(u"setInactive"_s, {actionId(it.key())}));
            it->active = false;
        }
    }
    // Only the first time is what the service remembers worth keeping: a
    // change made in System Settings while we were not running.
    const bool keepRemembered = m_firstSync;
    m_firstSync = false;
    for (const Registration* registration : std::as_const(wanted)) {
        const Remote& remote = m_remote[registration->name];
        if (remote.pending || (remote.active && remote.key == registration->key))
            continue;
        send(registration->name, registration->description, registration->key, keepRemembered);
    }
}

void KGlobalAccelHotKeyService::send(const QString& name, const QString& description, int key,
                                     bool keepRemembered) {
    m_remote[name].pending = true;
    // One connection delivers in order: the action exists before it is set.
    m_bus.send(call(u"doRegister"_s, {actionId(name, description)}));
    const uint flags = kSetPresent | (keepRemembered ? 0 : kNoAutoloading);
    const QDBusMessage set = call(u"setShortcut"_s, {actionId(name, description),
                                                     QVariant::fromValue(QList<int>{key}), flags});
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(set), this);
    QObject::connect(
        watcher, &QDBusPendingCallWatcher::finished, this,
        [this, name, key, keepRemembered, epoch = m_epoch](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            if (epoch != m_epoch)
                return;
            const QDBusPendingReply<QList<int>> reply = *w;
            if (reply.isError()) {
                m_remote[name].pending = false;
                if (const quint32 id = idOf(name); id != 0) {
                    m_registrations.remove(id);
                    if (onLost)
                        onLost(id, failed);
                }
                scheduleSync();
                return;
            }
            // A key the service would not set comes back as 0.
            QList<int> keys = reply.value();
            keys.removeAll(0);
            answered(name, key, keepRemembered, keys);
        });
}

void KGlobalAccelHotKeyService::answered(const QString& name, int asked, bool keepRemembered,
                                         const QList<int>& keys) {
    Remote& remote = m_remote[name];
    remote.pending = false;
    remote.active = true;
    remote.key = keys.value(0, 0);
    const quint32 id = idOf(name);
    // Changed or dropped while the service was asked: the next sync sees to it.
    if (id == 0 || m_registrations.value(id).key != asked) {
        scheduleSync();
        return;
    }
    if (keys.isEmpty()) {
        if (keepRemembered) {
            // Nothing remembered (or the keys were taken when first set):
            // ours may be free now.
            send(name, m_registrations.value(id).description, asked, false);
            return;
        }
        m_registrations.remove(id);
        if (onLost)
            onLost(id, taken);
        scheduleSync();
        return;
    }
    scheduleSync();
    if (remote.key != asked)
        follow(id, remote.key);
}

void KGlobalAccelHotKeyService::follow(quint32 id, int key) {
    if (key == 0) {
        if (onRebound)
            onRebound(id, 0, 0);
        return;
    }
    // Keys we cannot hold (a sequence, a media key): ours go back on sync.
    const std::optional<KdeKeyCodes::Combo> combo = key < 0 ? std::nullopt : m_keys.fromQt(key);
    if (!combo) {
        scheduleSync();
        return;
    }
    if (onRebound)
        onRebound(id, combo->first, combo->second);
}

void KGlobalAccelHotKeyService::onChangedSignal(const QDBusMessage& message) {
    const QVariantList arguments = message.arguments();
    const QStringList changed = arguments.value(0).toStringList();
    if (changed.value(0) != QString::fromUtf16(component))
        return;
    const QVariant value = arguments.value(1);
    QList<int> keys;
    if (message.signature() == u"asa(ai)"_s)
        keys = firstKeys(value.value<QDBusArgument>());
    else
        keys = qdbus_cast<QList<int>>(value);
    keys.removeAll(0);
    const QString name = changed.value(1);
    const int key = keys.value(0, 0);
    Remote& remote = m_remote[name];
    // Both signals may come for one change.
    if (!remote.pending && remote.key == key)
        return;
    remote.key = key;
    const quint32 id = idOf(name);
    if (id == 0 || m_registrations.value(id).key == key)
        return;
    follow(id, key);
}

void KGlobalAccelHotKeyService::onPressedSignal(const QDBusMessage& message) {
    // (component, action, time stamp)
    const QVariantList arguments = message.arguments();
    if (arguments.value(0).toString() != QString::fromUtf16(component))
        return;
    const quint32 id = idOf(arguments.value(1).toString());
    if (id != 0 && onPressed)
        onPressed(id);
}
