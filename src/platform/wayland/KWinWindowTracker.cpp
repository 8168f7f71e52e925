#include "platform/wayland/KWinWindowTracker.h"

#include "core/util/Log.h"
#include "platform/xdg/CurrentDesktop.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace {
const QString kKWin = u"org.kde.KWin"_s;
const QString kScripting = u"org.kde.kwin.Scripting"_s;
const QString kPath = u"/io/tindrel/WindowInFront"_s;
// One name for every run of ours: a script left behind by a crash is
// replaced, not added to.
const QString kPlugin = u"tindrel-window-in-front"_s;
// Each request under a name of its own: KWin drops an unloaded script only
// later, and refuses a new one under its name until then.
const QString kActivatePlugin = u"tindrel-activate-window-"_s;
// Windows remembered for activate(); far more than anyone switches between.
constexpr qsizetype kMaxWindowIds = 512;
// Titles and names longer than this are not a window's.
constexpr qsizetype kMaxField = 1024;

QDBusMessage scripting(const QString& method, const QVariantList& arguments = {}) {
    QDBusMessage call = QDBusMessage::createMethodCall(kKWin, u"/Scripting"_s, kScripting, method);
    call.setArguments(arguments);
    return call;
}
} // namespace

std::unique_ptr<KWinWindowTracker> KWinWindowTracker::connect(QDBusConnection bus) {
    if (!CurrentDesktop::is(u"KDE"_s) || !bus.isConnected())
        return nullptr;
    std::unique_ptr<KWinWindowTracker> tracker(new KWinWindowTracker(bus));
    if (!bus.registerObject(kPath, tracker.get(), QDBusConnection::ExportScriptableSlots)) {
        Log::write(u"Tindrel: the window in front is unknown; "_s + kPath +
                   u" is taken on the session bus"_s);
        return nullptr;
    }
    tracker->load();
    return tracker;
}

KWinWindowTracker::KWinWindowTracker(QDBusConnection bus) : m_bus(std::move(bus)) {}

KWinWindowTracker::~KWinWindowTracker() {
    m_bus.unregisterObject(kPath);
    // Sent without waiting: KWin drops the script whether or not we are
    // still there to hear it.
    if (!m_kwin.isEmpty()) {
        m_bus.call(scripting(u"unloadScript"_s, {kPlugin}), QDBus::NoBlock);
        if (!m_activationPlugin.isEmpty())
            m_bus.call(scripting(u"unloadScript"_s, {m_activationPlugin}), QDBus::NoBlock);
    }
}

QByteArray KWinWindowTracker::script(const QString& service) {
    // KWin 6 names windows and their signal so; KWin 5 called them clients.
    return R"(// Tells Tindrel which window is active; it unloads this when it quits.
(function () {
    const service = ")" +
           service.toLatin1() + R"(";
    const path = "/io/tindrel/WindowInFront";
    const iface = "io.tindrel.WindowInFront";
    function text(value) {
        return value === undefined || value === null ? "" : String(value);
    }
    function tell(w) {
        if (!w) {
            callDBus(service, path, iface, "deactivated");
            return;
        }
        callDBus(service, path, iface, "activated", text(w.internalId), text(w.pid),
                 text(w.desktopFileName), text(w.resourceClass), text(w.resourceName),
                 text(w.caption));
    }
    (workspace.windowActivated || workspace.clientActivated).connect(tell);
    tell(workspace.activeWindow || workspace.activeClient);
})();
)";
}

QByteArray KWinWindowTracker::activationScript(const QString& window) {
    // KWin's ids are braced UUIDs, X11 ids are numbers: nothing else goes
    // into the script.
    static const QRegularExpression id(u"^(\\{[0-9a-fA-F-]{1,64}\\}|[0-9]{1,20})$"_s);
    if (!id.match(window).hasMatch())
        return {};
    return R"(// Brings one window to the front for Tindrel; the next request replaces it.
(function () {
    const target = ")" +
           window.toLatin1() + R"(";
    function bring(w) {
        if (String(w.internalId) !== target && String(w.windowId) !== target)
            return false;
        if (workspace.activeWindow !== undefined)
            workspace.activeWindow = w;
        else
            workspace.activeClient = w;
        return true;
    }
    const windows = workspace.windowList ? workspace.windowList() : workspace.clientList();
    for (const w of windows) {
        if (bring(w))
            return;
    }
    // A window just mapped may reach KWin after this script.
    const added = workspace.windowAdded || workspace.clientAdded;
    const once = function (w) {
        if (bring(w))
            added.disconnect(once);
    };
    added.connect(once);
})();
)";
}

bool KWinWindowTracker::activate(const FrontmostApp& app) {
    if (m_kwin.isEmpty() || app.window == 0)
        return false;
    QString window = m_windowIds.value(app.window);
    // Our own windows are X11 ones, named by their id (the panel asks so).
    if (window.isEmpty() && app.isOwnProcess)
        window = QString::number(app.window);
    const QByteArray text = activationScript(window);
    if (text.isEmpty() || !(m_activation.isOpen() || m_activation.open()) ||
        !m_activation.resize(0) || !m_activation.seek(0) || m_activation.write(text) < 0 ||
        !m_activation.flush())
        return false;
    // The request before has run (or never will): it goes.
    if (!m_activationPlugin.isEmpty())
        m_bus.call(scripting(u"unloadScript"_s, {m_activationPlugin}), QDBus::NoBlock);
    m_activationPlugin = kActivatePlugin + QString::number(++m_activations);
    m_bus.call(scripting(u"loadScript"_s, {m_activation.fileName(), m_activationPlugin}),
               QDBus::NoBlock);
    m_bus.call(scripting(u"start"_s), QDBus::NoBlock);
    return true;
}

void KWinWindowTracker::load() {
    // A unique name is ":" and digits and dots; nothing else goes into the script.
    const QString service = m_bus.baseService();
    static const QRegularExpression uniqueName(u"^:[0-9.]+$"_s);
    if (!uniqueName.match(service).hasMatch() || !m_script.open() ||
        m_script.write(script(service)) < 0 || !m_script.flush()) {
        Log::write(u"Tindrel: the window in front is unknown; KWin's script could not be "
                   u"written"_s);
        return;
    }
    // Messages to one peer arrive in order: the old script goes first.
    m_bus.call(scripting(u"unloadScript"_s, {kPlugin}), QDBus::NoBlock);
    askToLoad(true);
}

void KWinWindowTracker::askToLoad(bool firstTime) {
    auto* watcher = new QDBusPendingCallWatcher(
        m_bus.asyncCall(scripting(u"loadScript"_s, {m_script.fileName(), kPlugin})), this);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, this,
                     [this, firstTime](QDBusPendingCallWatcher* call) {
                         call->deleteLater();
                         const QDBusPendingReply<int> reply = *call;
                         // KWin drops an unloaded script a moment later and refuses its
                         // name until then: a script left by an earlier run that did not
                         // end cleanly is still there. Asked again once it is gone.
                         if (!reply.isError() && reply.value() < 0 && firstTime) {
                             askToLoad(false);
                             return;
                         }
                         if (reply.isError() || reply.value() < 0) {
                             Log::write(u"Tindrel: the window in front is unknown; KWin did "
                                        u"not load our script: "_s +
                                        (reply.isError() ? reply.error().message() : u"refused"_s));
                             return;
                         }
                         m_kwin = reply.reply().service();
                         m_bus.call(scripting(u"start"_s), QDBus::NoBlock);
                     });
}

bool KWinWindowTracker::fromKWin() const {
    return calledFromDBus() && !m_kwin.isEmpty() && message().service() == m_kwin;
}

void KWinWindowTracker::activated(const QString& windowId, const QString& pid,
                                  const QString& desktopFile, const QString& resourceClass,
                                  const QString& resourceName, const QString& caption) {
    if (!fromKWin())
        return;
    FrontmostApp app;
    // Compared, never shown: a hash of KWin's window id is enough.
    app.window = quint64(qHash(windowId.left(kMaxField))) | 1;
    if (m_windowIds.size() >= kMaxWindowIds)
        m_windowIds.clear();
    m_windowIds.insert(app.window, windowId.left(kMaxField));
    app.pid = pid.toLongLong();
    app.name = caption.left(kMaxField);
    app.windowClass = resourceClass.left(kMaxField);
    app.windowInstance = resourceName.left(kMaxField);
    app.appId = m_entries.applicationId(desktopFile.left(kMaxField), QString(), app.windowInstance,
                                        app.windowClass);
    app.isOwnProcess = app.pid != 0 && app.pid == QCoreApplication::applicationPid();
    if (m_front == app)
        return;
    m_front = app;
    Q_EMIT frontChanged();
}

void KWinWindowTracker::deactivated() {
    if (!fromKWin() || !m_front)
        return;
    m_front.reset();
    Q_EMIT frontChanged();
}
