#include "platform/wayland/SwayWindowTracker.h"

#include "core/util/Log.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <cstring>

using namespace Qt::StringLiterals;

namespace {
// i3's IPC, which sway speaks: a magic string, then the payload's length
// and the message type in the machine's byte order, then the payload.
constexpr char kMagic[] = "i3-ipc";
constexpr qsizetype kMagicSize = sizeof kMagic - 1;
constexpr qsizetype kHeaderSize = kMagicSize + 8;
constexpr quint32 kRunCommand = 0;
constexpr quint32 kSubscribe = 2;
constexpr quint32 kGetTree = 4;
constexpr quint32 kEventBit = 0x80000000u;
// A tree of hundreds of windows is well under a megabyte; anything near
// this is not sway talking.
constexpr quint32 kMaxPayload = 16u * 1024 * 1024;

// Depth first through tiled and floating children; the one focused node.
std::optional<QJsonObject> findFocused(const QJsonObject& node, int depth = 0) {
    if (node.value(u"focused"_s).toBool())
        return node;
    if (depth > 64) // sway's trees are a few levels deep
        return std::nullopt;
    for (const QString& key : {u"nodes"_s, u"floating_nodes"_s})
        for (const QJsonValue child : node.value(key).toArray())
            if (auto found = findFocused(child.toObject(), depth + 1))
                return found;
    return std::nullopt;
}
} // namespace

std::unique_ptr<SwayWindowTracker> SwayWindowTracker::connect(const QString& socketPath,
                                                              QObject* parent) {
    const QString path = socketPath.isEmpty() ? qEnvironmentVariable("SWAYSOCK") : socketPath;
    if (path.isEmpty())
        return nullptr;
    std::unique_ptr<SwayWindowTracker> tracker(new SwayWindowTracker(parent));
    QLocalSocket* socket = tracker->m_socket.get();
    SwayWindowTracker* self = tracker.get();
    QObject::connect(socket, &QLocalSocket::connected, self, [self] {
        self->send(kSubscribe, R"(["window","workspace"])");
        self->askTree();
    });
    QObject::connect(socket, &QLocalSocket::readyRead, self, &SwayWindowTracker::readMessages);
    QObject::connect(socket, &QLocalSocket::errorOccurred, self, [self, path] {
        Log::write(u"Tindrel: the window in front is unknown; sway's IPC at "_s + path +
                   u" failed: "_s + self->m_socket->errorString());
        self->m_front.reset();
        Q_EMIT self->frontChanged();
    });
    socket->connectToServer(path);
    return tracker;
}

SwayWindowTracker::SwayWindowTracker(QObject* parent)
    : QObject(parent), m_socket(std::make_unique<QLocalSocket>()) {}

void SwayWindowTracker::send(quint32 type, const QByteArray& payload) {
    QByteArray message(kMagic, kMagicSize);
    const quint32 header[2] = {quint32(payload.size()), type};
    message.append(reinterpret_cast<const char*>(header), sizeof header);
    message.append(payload);
    m_socket->write(message);
}

bool SwayWindowTracker::activate(const FrontmostApp& app) {
    if (m_socket->state() != QLocalSocket::ConnectedState || app.window == 0)
        return false;
    send(kRunCommand, "[con_id=" + QByteArray::number(app.window) + "] focus");
    return true;
}

void SwayWindowTracker::askTree() {
    if (m_treeAsked) {
        m_treeStale = true;
        return;
    }
    m_treeAsked = true;
    send(kGetTree, QByteArray());
}

void SwayWindowTracker::readMessages() {
    m_buffer.append(m_socket->readAll());
    while (m_buffer.size() >= kHeaderSize) {
        quint32 header[2];
        std::memcpy(header, m_buffer.constData() + kMagicSize, sizeof header);
        const quint32 length = header[0];
        const quint32 type = header[1];
        if (!m_buffer.startsWith(QByteArrayView(kMagic, kMagicSize)) || length > kMaxPayload) {
            Log::write(u"Tindrel: sway's IPC sent something unreadable; the window in front "
                       u"is unknown from now on"_s);
            m_buffer.clear();
            m_socket->abort();
            m_front.reset();
            Q_EMIT frontChanged();
            return;
        }
        if (m_buffer.size() < kHeaderSize + qsizetype(length))
            return;
        const QByteArray payload = m_buffer.mid(kHeaderSize, length);
        m_buffer.remove(0, kHeaderSize + length);
        if (type & kEventBit) {
            // Focus, a new or closed window, a title, another workspace:
            // the tree says what is in front after any of them.
            askTree();
        } else if (type == kGetTree) {
            m_treeAsked = false;
            takeTree(payload);
            if (m_treeStale) {
                m_treeStale = false;
                askTree();
            }
        }
    }
}

void SwayWindowTracker::takeTree(const QByteArray& json) {
    const std::optional<FrontmostApp> front = focusedIn(QJsonDocument::fromJson(json).object());
    if (front == m_front)
        return;
    m_front = front;
    Q_EMIT frontChanged();
}

std::optional<FrontmostApp> SwayWindowTracker::focusedIn(const QJsonObject& tree) {
    const std::optional<QJsonObject> node = findFocused(tree);
    if (!node)
        return std::nullopt;
    const QString type = node->value(u"type"_s).toString();
    if (type != u"con"_s && type != u"floating_con"_s)
        return std::nullopt; // an empty workspace or an output
    FrontmostApp app;
    app.window = quint64(node->value(u"id"_s).toInteger());
    app.pid = node->value(u"pid"_s).toInteger();
    app.name = node->value(u"name"_s).toString();
    const QString appId = node->value(u"app_id"_s).toString();
    if (!appId.isEmpty()) {
        // A native window: its app id is meant to be its desktop entry's, and
        // it names the window where X11 would give a class.
        app.windowClass = appId;
        app.windowInstance = appId;
        app.appId = m_entries.applicationId(appId, QString(), QString(), QString());
    } else {
        // An XWayland window carries its X11 properties.
        const QJsonObject x11 = node->value(u"window_properties"_s).toObject();
        app.windowClass = x11.value(u"class"_s).toString();
        app.windowInstance = x11.value(u"instance"_s).toString();
        app.appId =
            m_entries.applicationId(QString(), QString(), app.windowInstance, app.windowClass);
    }
    app.isOwnProcess = app.pid != 0 && app.pid == QCoreApplication::applicationPid();
    return app;
}
