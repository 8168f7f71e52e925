#include "platform/x11/X11Workspace.h"

#include "platform/x11/XcbConnection.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>
#include <cstring>

namespace {
quint32 firstCardinal(const std::optional<XcbProperty>& p) {
    if (!p || p->format != 32 || p->value.size() < 4)
        return 0;
    quint32 value = 0;
    std::memcpy(&value, p->value.constData(), sizeof value);
    return value;
}

QString utf8(const std::optional<XcbProperty>& p) {
    if (!p)
        return QString();
    QByteArray bytes = p->value;
    if (const qsizetype nul = bytes.indexOf('\0'); nul >= 0)
        bytes.truncate(nul);
    return QString::fromUtf8(bytes);
}

// Whether a resource id was made by Qt's own X connection (our windows).
bool madeByQt(quint32 xid) {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app)
        return false;
    auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return false;
    const xcb_setup_t* setup = xcb_get_setup(x11->connection());
    return setup && (xid & ~setup->resource_id_mask) == setup->resource_id_base;
}
} // namespace

X11Workspace::X11Workspace(XcbConnection& connection, bool canSynthesize, QObject* parent)
    : QObject(parent), m_conn(connection), m_canSynthesize(canSynthesize) {}

std::optional<FrontmostApp> X11Workspace::frontmost() {
    const quint32 window =
        firstCardinal(m_conn.property(m_conn.root(), m_conn.atom("_NET_ACTIVE_WINDOW")));
    if (window == XCB_NONE)
        return std::nullopt;

    FrontmostApp app;
    app.window = window;
    app.pid = firstCardinal(m_conn.property(window, m_conn.atom("_NET_WM_PID")));
    // WM_CLASS holds "instance\0class\0".
    if (const auto wmClass = m_conn.property(window, XCB_ATOM_WM_CLASS)) {
        const QList<QByteArray> parts = wmClass->value.split('\0');
        app.windowInstance = QString::fromLocal8Bit(parts.value(0));
        app.windowClass = QString::fromLocal8Bit(parts.value(1));
    }
    app.name = utf8(m_conn.property(window, m_conn.atom("_NET_WM_NAME")));
    if (app.name.isEmpty())
        if (const auto legacy = m_conn.property(window, XCB_ATOM_WM_NAME))
            app.name = QString::fromLatin1(legacy->value);
    app.appId = m_entries.applicationId(
        utf8(m_conn.property(window, m_conn.atom("_GTK_APPLICATION_ID"))),
        utf8(m_conn.property(window, m_conn.atom("_KDE_NET_WM_DESKTOP_FILE"))), app.windowInstance,
        app.windowClass);
    app.isOwnProcess = isOurs(window, app.pid);
    return app;
}

bool X11Workspace::isOurs(quint32 window, qint64 pid) const {
    if (pid != 0 && pid == QCoreApplication::applicationPid())
        return true;
    return m_conn.ownsResource(window) || madeByQt(window);
}

bool X11Workspace::activate(const FrontmostApp& app) {
    if (!m_conn.isValid() || app.window == 0)
        return false;
    // EWMH: source indication 2 (a pager, i.e. acting for the user) lets
    // window managers honour the request without focus-stealing rules.
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = static_cast<xcb_window_t>(app.window);
    message.type = m_conn.atom("_NET_ACTIVE_WINDOW");
    message.data.data32[0] = 2;
    message.data.data32[1] = XCB_CURRENT_TIME;
    message.data.data32[2] = XCB_NONE;
    xcb_send_event(m_conn.get(), 0, m_conn.root(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&message));
    m_conn.flush();
    return true;
}

bool X11Workspace::openUrl(const QUrl& url) {
    return url.isValid() && QDesktopServices::openUrl(url);
}

void X11Workspace::beep() {
    if (!m_conn.isValid())
        return;
    xcb_bell(m_conn.get(), 0);
    m_conn.flush();
}

QList<InstalledApp> X11Workspace::installedApps() {
    return m_entries.apps();
}
