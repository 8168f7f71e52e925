#include "platform/gnome/GnomeShellExtension.h"

#include "core/util/Log.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

using namespace Qt::StringLiterals;

namespace {
const QString kShell = u"org.gnome.Shell"_s;
const QString kShellPath = u"/org/gnome/Shell"_s;
const QString kExtensions = u"org.gnome.Shell.Extensions"_s;
const QString kOurs = u"/io/tindrel/Shell"_s;
const QString kOursInterface = u"io.tindrel.Shell"_s;
const QString kPath = u"/io/tindrel/ShellExtension"_s;
// What the extension speaks; one that says otherwise is of another release.
constexpr uint kVersion = 1;
// Titles and names longer than this are not a window's.
constexpr qsizetype kMaxField = 1024;

// The Shell's numbers for an extension's state (js/misc/extensionUtils.js).
enum ShellState { enabled = 1, disabled = 2, error = 3, outOfDate = 4, initialized = 6 };

QDBusMessage toExtension(const QString& method, const QVariantList& arguments = {}) {
    QDBusMessage call = QDBusMessage::createMethodCall(kShell, kOurs, kOursInterface, method);
    call.setArguments(arguments);
    return call;
}
} // namespace

GnomeShellExtension::GnomeShellExtension(QObject* parent) : QObject(parent) {}

GnomeShellExtension::~GnomeShellExtension() {
    if (m_bus.isConnected())
        m_bus.unregisterObject(kPath);
}

void GnomeShellExtension::useConnection(const QDBusConnection& bus, const QString& ourName) {
    const bool wasActive = isActive();
    if (m_bus.isConnected()) {
        m_bus.unregisterObject(kPath);
        m_bus.disconnect(kShell, kShellPath, kExtensions, u"ExtensionStateChanged"_s, this,
                         SLOT(onExtensionStateChanged(QDBusMessage)));
    }
    for (QDBusServiceWatcher* old : findChildren<QDBusServiceWatcher*>())
        delete old;
    ++m_epoch;
    ++m_connections;
    m_bus = bus;
    m_ourName = ourName;
    m_named = false;
    m_shellOwner.clear();
    m_state = State::noBus;
    if (!m_bus.isConnected() ||
        !m_bus.registerObject(kPath, this, QDBusConnection::ExportScriptableSlots)) {
        if (wasActive)
            Q_EMIT stateChanged();
        return;
    }
    m_bus.connect(kShell, kShellPath, kExtensions, u"ExtensionStateChanged"_s, this,
                  SLOT(onExtensionStateChanged(QDBusMessage)));
    auto* watcher =
        new QDBusServiceWatcher(kShell, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    watcher->addWatchedService(m_ourName);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            &GnomeShellExtension::onNameOwnerChanged);
    m_state = State::noShell;
    lookUpOwner(kShell);
    lookUpOwner(m_ourName);
    if (wasActive)
        Q_EMIT stateChanged();
}

void GnomeShellExtension::lookUpOwner(const QString& name) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(u"org.freedesktop.DBus"_s, u"/org/freedesktop/DBus"_s,
                                       u"org.freedesktop.DBus"_s, u"GetNameOwner"_s);
    call << name;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, name, connection = m_connections](QDBusPendingCallWatcher* answer) {
                answer->deleteLater();
                const QDBusPendingReply<QString> reply = *answer;
                // No owner is an error reply; the watcher tells when one comes.
                if (connection == m_connections && !reply.isError())
                    onNameOwnerChanged(name, QString(), reply.value());
            });
}

void GnomeShellExtension::onNameOwnerChanged(const QString& name, const QString& oldOwner,
                                             const QString& newOwner) {
    Q_UNUSED(oldOwner);
    const bool wasActive = isActive();
    if (name == m_ourName) {
        m_named = !newOwner.isEmpty() && newOwner == m_bus.baseService();
    } else if (name == kShell) {
        if (newOwner == m_shellOwner)
            return;
        m_shellOwner = newOwner;
        ++m_epoch;
        if (m_front) {
            m_front.reset();
            Q_EMIT frontChanged();
        }
        refresh();
        return;
    }
    if (isActive() == wasActive)
        return;
    if (isActive())
        m_bus.call(toExtension(u"ReportFocus"_s), QDBus::NoBlock);
    Q_EMIT stateChanged();
}

void GnomeShellExtension::onExtensionStateChanged(const QDBusMessage& message) {
    if (message.service() != m_shellOwner || message.arguments().value(0).toString() != uuid)
        return;
    ++m_epoch;
    refresh();
}

void GnomeShellExtension::refresh() {
    if (m_shellOwner.isEmpty()) {
        setState(State::noShell);
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kShell, kShellPath, kExtensions, u"GetExtensionInfo"_s);
    call << QString::fromUtf16(uuid);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, epoch = m_epoch](QDBusPendingCallWatcher* answer) {
                answer->deleteLater();
                if (epoch != m_epoch)
                    return;
                const QDBusPendingReply<QVariantMap> reply = *answer;
                if (reply.isError()) {
                    setState(State::noShell);
                    return;
                }
                const QVariantMap info = reply.value();
                if (info.isEmpty()) {
                    setState(State::missing);
                    return;
                }
                // A number in the Shell's JavaScript: a double on the bus.
                switch (qRound(info.value(u"state"_s).toDouble())) {
                case enabled:
                    readVersion(epoch);
                    return;
                case error:
                    setState(State::failed);
                    return;
                case outOfDate:
                    setState(State::outdated);
                    return;
                default:
                    setState(State::disabled);
                    return;
                }
            });
}

void GnomeShellExtension::readVersion(quint64 epoch) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        kShell, kOurs, u"org.freedesktop.DBus.Properties"_s, u"Get"_s);
    call << kOursInterface << u"Version"_s;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, epoch](QDBusPendingCallWatcher* answer) {
                answer->deleteLater();
                if (epoch != m_epoch)
                    return;
                const QDBusPendingReply<QDBusVariant> reply = *answer;
                const bool fits = !reply.isError() && reply.value().variant().toUInt() == kVersion;
                setState(fits ? State::active : State::outdated);
            });
}

void GnomeShellExtension::setState(State state) {
    if (state == m_state)
        return;
    const bool wasActive = isActive();
    m_state = state;
    Log::write(isActive() ? u"Tindrel: the GNOME Shell extension binds our shortcuts and "
                            "names the window in front"_s
                          : u"Tindrel: "_s + problem());
    if (isActive() && !wasActive)
        m_bus.call(toExtension(u"ReportFocus"_s), QDBus::NoBlock);
    Q_EMIT stateChanged();
}

QString GnomeShellExtension::problem() const {
    const QString ours = u"Tindrel's GNOME Shell extension"_s;
    switch (m_state) {
    case State::noBus:
        return ours + u" has not been asked yet"_s;
    case State::noShell:
        return u"GNOME Shell is not running"_s;
    case State::missing:
        return ours + u" is not installed"_s;
    case State::disabled:
        return ours + u" is turned off (gnome-extensions enable "_s + QString::fromUtf16(uuid) +
               u')';
    case State::failed:
        return ours + u" failed to start (see gnome-extensions info "_s + QString::fromUtf16(uuid) +
               u')';
    case State::outdated:
        return ours + u" does not fit this version of Tindrel or GNOME Shell"_s;
    case State::active:
        return m_named ? QString() : u"Tindrel does not hold its name on the session bus yet"_s;
    }
    return {};
}

void GnomeShellExtension::grab(quint32 id, const QString& accelerator,
                               std::function<void(bool)> answered) {
    if (!isActive()) {
        answered(false);
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(
        m_bus.asyncCall(toExtension(u"GrabAccelerator"_s, {id, accelerator})), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, epoch = m_epoch, answered = std::move(answered)](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                // The extension went meanwhile: binding again follows stateChanged.
                if (epoch != m_epoch)
                    return;
                const QDBusPendingReply<bool> reply = *call;
                answered(!reply.isError() && reply.value());
            });
}

void GnomeShellExtension::ungrab(quint32 id) {
    if (isActive())
        m_bus.call(toExtension(u"UngrabAccelerator"_s, {id}), QDBus::NoBlock);
}

std::optional<FrontmostApp> GnomeShellExtension::frontmost() const {
    return isActive() ? m_front : std::nullopt;
}

bool GnomeShellExtension::activate(const FrontmostApp& app) {
    if (!isActive() || app.window == 0)
        return false;
    m_bus.call(toExtension(u"ActivateWindow"_s, {qulonglong(app.window)}), QDBus::NoBlock);
    return true;
}

bool GnomeShellExtension::fromShell() const {
    return calledFromDBus() && !m_shellOwner.isEmpty() && message().service() == m_shellOwner;
}

void GnomeShellExtension::ShortcutPressed(uint id) {
    if (fromShell())
        Q_EMIT pressed(id);
}

void GnomeShellExtension::FocusChanged(qulonglong window, const QString& desktopId,
                                       const QString& wmClass, const QString& wmInstance, uint pid,
                                       const QString& title, bool x11) {
    Q_UNUSED(x11);
    if (!fromShell())
        return;
    std::optional<FrontmostApp> front;
    if (window != 0) {
        FrontmostApp app;
        app.window = window;
        app.pid = pid;
        app.name = title.left(kMaxField);
        app.windowClass = wmClass.left(kMaxField);
        app.windowInstance = wmInstance.left(kMaxField);
        app.appId = m_entries.applicationId(desktopId.left(kMaxField), QString(),
                                            app.windowInstance, app.windowClass);
        app.isOwnProcess = pid != 0 && qint64(pid) == QCoreApplication::applicationPid();
        front = app;
    }
    if (front == m_front)
        return;
    m_front = front;
    Q_EMIT frontChanged();
}
