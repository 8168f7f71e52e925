#include "TindrelProcess.h"

#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using X11TestEnv::waitUntil;

QByteArray property(XcbConnection& x, xcb_window_t window, const char* name) {
    const auto value = x.property(window, x.atom(name));
    return value ? value->value : QByteArray();
}

namespace {
// Depth-first search of the window tree for a mapped window of the tindrel
// process that passes `accept`.
Found findWindow(XcbConnection& x, xcb_window_t from,
                 const std::function<bool(xcb_window_t, const QRect&)>& accept) {
    XcbPtr<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(x.get(), xcb_query_tree(x.get(), from), nullptr));
    if (!tree)
        return {};
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
        const xcb_window_t child = children[i];
        XcbPtr<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
            x.get(), xcb_get_window_attributes(x.get(), child), nullptr));
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
            continue;
        // WM_CLASS holds the instance name, a NUL, the class name.
        if (property(x, child, "WM_CLASS").split('\0').value(0) == "tindrel") {
            XcbPtr<xcb_get_geometry_reply_t> geometry(
                xcb_get_geometry_reply(x.get(), xcb_get_geometry(x.get(), child), nullptr));
            XcbPtr<xcb_translate_coordinates_reply_t> origin(xcb_translate_coordinates_reply(
                x.get(), xcb_translate_coordinates(x.get(), child, x.root(), 0, 0), nullptr));
            if (geometry && origin) {
                const QRect rect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
                if (accept(child, rect))
                    return {child, rect};
            }
        }
        if (const Found found = findWindow(x, child, accept); found.window != XCB_NONE)
            return found;
    }
    return {};
}
} // namespace

TindrelProcess::TindrelProcess() {
    QDir().mkpath(xdg.path(u"run"_s));
    QFile::setPermissions(xdg.path(u"run"_s),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TindrelProcess::~TindrelProcess() {
    if (tindrel.state() != QProcess::NotRunning) {
        tindrel.terminate();
        if (!tindrel.waitForFinished(5000)) {
            tindrel.kill();
            tindrel.waitForFinished();
        }
    }
}

QProcessEnvironment TindrelProcess::environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"DISPLAY"_s, QString::fromLocal8Bit(X11TestEnv::fixtureDisplay()));
    env.insert(u"XDG_RUNTIME_DIR"_s, xdg.path(u"run"_s));
    env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, bus.address());
    // Never the host's avahi-daemon: nothing here may publish on a real LAN.
    env.insert(u"DBUS_SYSTEM_BUS_ADDRESS"_s, u"unix:path=/nonexistent/tindrel-test"_s);
    env.remove(u"QT_QPA_PLATFORM"_s);
    return env;
}

void TindrelProcess::start(const QByteArray& settings, QProcess::ProcessChannelMode channels) {
    ASSERT_FALSE(bus.address().isEmpty()) << "no private session bus";
    // Fast polling: the cases wait for captures.
    QDir().mkpath(xdg.path(u"config/Tindrel"_s));
    QFile file(xdg.path(u"config/Tindrel/Tindrel.conf"_s));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[General]\npollInterval=0.1\n" + settings);
    file.close();

    tindrel.setProcessEnvironment(environment());
    tindrel.setProcessChannelMode(channels);
    if (wrapper.isEmpty())
        tindrel.start(QStringLiteral(TINDREL_BINARY), {});
    else
        tindrel.start(wrapper.first(), wrapper.mid(1) << QStringLiteral(TINDREL_BINARY));
    ASSERT_TRUE(tindrel.waitForStarted());
    ASSERT_TRUE(waitUntil([this] { return trayIcon().window != XCB_NONE; }, 15000ms))
        << "no tray icon appeared";
    // Commands reach it once it holds its name on the bus.
    ASSERT_TRUE(waitUntil(
        [this] {
            return bus.connection().interface()->isServiceRegistered(u"io.tindrel.Tindrel"_s);
        },
        15000ms))
        << "it never took its bus name";
}

TindrelProcess::Command TindrelProcess::tindrelCommand(const QStringList& arguments,
                                                       const QByteArray& input) const {
    QProcess command;
    command.setProcessEnvironment(environment());
    command.start(QStringLiteral(TINDREL_BINARY), arguments);
    if (!command.waitForStarted())
        return {};
    command.write(input);
    command.closeWriteChannel();
    // The instance answers from its event loop, which runs in another process.
    if (!command.waitForFinished(15000))
        command.kill();
    command.waitForFinished();
    return {command.exitStatus() == QProcess::NormalExit ? command.exitCode() : -1,
            QString::fromUtf8(command.readAllStandardOutput()),
            QString::fromUtf8(command.readAllStandardError())};
}

bool TindrelProcess::overrideRedirect(xcb_window_t window) {
    XcbPtr<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
        x.get(), xcb_get_window_attributes(x.get(), window), nullptr));
    return attributes && attributes->override_redirect;
}

Found TindrelProcess::trayIcon() {
    return findWindow(x, x.root(), [this](xcb_window_t window, const QRect& rect) {
        return overrideRedirect(window) && rect.width() <= 64 && rect.height() <= 64;
    });
}

Found TindrelProcess::panel() {
    return findWindow(x, x.root(), [this](xcb_window_t window, const QRect& rect) {
        return rect.width() >= 280 && !overrideRedirect(window);
    });
}

Found TindrelProcess::menu() {
    return findWindow(x, x.root(), [this](xcb_window_t window, const QRect& rect) {
        return overrideRedirect(window) && rect.width() > 64;
    });
}

bool TindrelProcess::panelIsActive() {
    const auto active = x.property(x.root(), x.atom("_NET_ACTIVE_WINDOW"));
    const xcb_window_t shown = panel().window;
    return shown != XCB_NONE && active && active->value.size() >= 4 &&
           *reinterpret_cast<const quint32*>(active->value.constData()) == shown;
}

bool TindrelProcess::pointerOverBackground() {
    XcbPtr<xcb_query_pointer_reply_t> pointer(
        xcb_query_pointer_reply(x.get(), xcb_query_pointer(x.get(), x.root()), nullptr));
    return pointer && pointer->child == XCB_NONE;
}

bool TindrelProcess::storeHolds(const QString& text) {
    QFile file(xdg.path(u"data/Tindrel/store.json"_s));
    return file.open(QIODevice::ReadOnly) && file.readAll().contains(text.toUtf8());
}

bool TindrelProcess::copy(const QString& text) {
    offer = TestClient::helper({u"offer"_s, text});
    return offer->isReady();
}

bool TindrelProcess::xdotool(const QStringList& args) {
    return X11TestEnv::run(u"xdotool"_s, args);
}
