#include "platform/xdg/PortalRequest.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

using namespace Qt::StringLiterals;

namespace {
const QString kService = u"org.freedesktop.portal.Desktop"_s;
const QString kPath = u"/org/freedesktop/portal/desktop"_s;
const QString kRequest = u"org.freedesktop.portal.Request"_s;

// Unique per process, so two requests never share a path.
QString nextToken() {
    static quint64 counter = 0;
    return u"tindrel"_s + QString::number(++counter);
}
} // namespace

void PortalRequest::readVersion(const QDBusConnection& bus, const QString& interface,
                                QObject* context,
                                std::function<void(std::expected<uint, QString>)> done) {
    QDBusMessage get = QDBusMessage::createMethodCall(
        kService, kPath, u"org.freedesktop.DBus.Properties"_s, u"Get"_s);
    get.setArguments({interface, u"version"_s});
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(get), context);
    connect(watcher, &QDBusPendingCallWatcher::finished, context,
            [done = std::move(done)](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                const QDBusPendingReply<QDBusVariant> reply = *call;
                if (reply.isError())
                    done(std::unexpected(reply.error().message()));
                else
                    done(reply.value().variant().toUInt());
            });
}

QString PortalRequest::sessionHandle(const QVariantMap& results) {
    const QVariant handle = results.value(u"session_handle"_s);
    // Documented as a string; some portals send an object path.
    return handle.canConvert<QDBusObjectPath>() ? handle.value<QDBusObjectPath>().path()
                                                : handle.toString();
}

PortalRequest::PortalRequest(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_bus(bus) {}

PortalRequest* PortalRequest::start(const QDBusConnection& bus, const QString& interface,
                                    const QString& method, const QVariantList& arguments,
                                    QVariantMap options, QObject* parent) {
    auto* request = new PortalRequest(bus, parent);
    const QString token = nextToken();
    options.insert(u"handle_token"_s, token);
    // The portal's documented path: our unique name without its colon and
    // with dots as underscores, then the token.
    QString sender = bus.baseService();
    sender.remove(0, 1).replace(u'.', u'_');
    request->follow(kPath + u"/request/"_s + sender + u'/' + token);

    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, interface, method);
    call.setArguments(arguments + QVariantList{options});
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), request);
    connect(watcher, &QDBusPendingCallWatcher::finished, request,
            [request](QDBusPendingCallWatcher* pending) {
                pending->deleteLater();
                const QDBusPendingReply<QDBusObjectPath> reply = *pending;
                if (reply.isError()) {
                    request->m_error = reply.error().message();
                    request->finish(failed, {});
                    return;
                }
                const QString path = reply.value().path();
                if (!request->m_done && path != request->m_path) {
                    request->unfollow();
                    request->follow(path);
                }
            });
    return request;
}

bool PortalRequest::follow(const QString& path) {
    m_path = path;
    return m_bus.connect(kService, path, kRequest, u"Response"_s, this,
                         SLOT(onResponse(uint, QVariantMap)));
}

void PortalRequest::unfollow() {
    m_bus.disconnect(kService, m_path, kRequest, u"Response"_s, this,
                     SLOT(onResponse(uint, QVariantMap)));
}

void PortalRequest::onResponse(uint response, const QVariantMap& results) {
    finish(response, results);
}

void PortalRequest::finish(uint response, const QVariantMap& results) {
    if (m_done)
        return;
    m_done = true;
    unfollow();
    Q_EMIT finished(response, results);
    deleteLater();
}
