#include "app/BusLink.h"

#include "core/util/Log.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <algorithm>

using namespace Qt::StringLiterals;

BusLink::BusLink(QString service, QString path, QString interface, QObject* object, QObject* parent)
    : QObject(parent), m_service(std::move(service)), m_path(std::move(path)),
      m_interface(std::move(interface)), m_object(object) {
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &BusLink::connectInBackground);
}

BusLink::~BusLink() {
    // A thread still waiting on the daemon must end before it is destroyed.
    if (m_connector)
        m_connector->wait();
    if (!m_connection.name().isEmpty())
        QDBusConnection::disconnectFromBus(m_connection.name());
}

void BusLink::start() {
    connectInBackground();
}

void BusLink::connectInBackground() {
    if (m_connecting)
        return;
    m_connecting = true;
    // Its finished() has been handled, so it has ended or is about to.
    if (m_connector)
        m_connector->wait();
    if (!m_connection.name().isEmpty()) {
        QDBusConnection::disconnectFromBus(m_connection.name());
        m_connection = QDBusConnection(QString());
    }
    const QString name = u"tindrel-service-%1"_s.arg(++m_connections);
    auto made = std::make_shared<QDBusConnection>(name);
    m_connector.reset(QThread::create([made, name] {
        *made = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
    }));
    connect(m_connector.get(), &QThread::finished, this, [this, made] { adopt(*made); });
    m_connector->start();
}

void BusLink::adopt(const QDBusConnection& connection) {
    m_connecting = false;
    m_connection = connection;
    if (!connection.isConnected()) {
        unreachable(u"no session bus ("_s + connection.lastError().message() + u')');
        if (m_wasConnected) {
            m_retry.start(m_retryDelay);
            m_retryDelay = std::min(m_retryDelay * 2, longestRetry);
        }
        return;
    }
    // libdbus tells of the loss as a signal of its own, from no sender.
    m_connection.connect(QString(), u"/org/freedesktop/DBus/Local"_s,
                         u"org.freedesktop.DBus.Local"_s, u"Disconnected"_s, this, SLOT(lost()));
    // The object first, so that a call right after the name appears finds it.
    if (!m_connection.registerObject(m_path, m_interface, m_object,
                                     QDBusConnection::ExportAllSlots |
                                         QDBusConnection::ExportAllProperties)) {
        unreachable(u"the object path is taken"_s);
        return;
    }
    requestName();
    if (m_wasConnected)
        Log::write(u"Tindrel: back on the session bus"_s);
    m_wasConnected = true;
    m_saidUnreachable = false;
    m_retryDelay = firstRetry;
    Q_EMIT connected(m_connection);
}

void BusLink::requestName() {
    // In the queue rather than refused when another process holds the name:
    // after a loss, the copy the bus started in our place may still hold it
    // for a moment, and the name comes to us once it lets go.
    constexpr uint queue = 0, primaryOwner = 1, alreadyOwner = 4;
    QDBusMessage request =
        QDBusMessage::createMethodCall(u"org.freedesktop.DBus"_s, u"/org/freedesktop/DBus"_s,
                                       u"org.freedesktop.DBus"_s, u"RequestName"_s);
    request << m_service << queue;
    // Asked without waiting: the answer comes through the event loop.
    auto* watcher = new QDBusPendingCallWatcher(m_connection.asyncCall(request), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                const QDBusPendingReply<uint> reply = *call;
                if (reply.isError())
                    unreachable(reply.error().message());
                else if (reply.value() != primaryOwner && reply.value() != alreadyOwner)
                    Log::write(u"Tindrel: another process owns "_s + m_service +
                               u" on the session bus; Tindrel takes the name when it lets go"_s);
            });
}

void BusLink::lost() {
    Log::write(u"Tindrel: the session bus dropped the connection; connecting again"_s);
    m_retryDelay = firstRetry;
    // Not from inside the connection's own signal.
    m_retry.start(0);
}

void BusLink::unreachable(const QString& why) {
    // Once per absence: a bus that stays away is tried again and again.
    if (std::exchange(m_saidUnreachable, true))
        return;
    // Tindrel still runs; only scripts and later starts cannot reach it.
    Log::write(u"Tindrel: not reachable on the session bus — "_s + why);
}
