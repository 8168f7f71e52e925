#include "app/BusRefusal.h"

#include "app/BusService.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <chrono>
#include <cstdio>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {
// Long enough for the call that started us and any that queued behind it.
constexpr auto idleTime = 2s;
} // namespace

BusRefusal::BusRefusal(QString reason, QObject* parent)
    : QDBusVirtualObject(parent), m_reason(std::move(reason)) {
    m_idle.setSingleShot(true);
    m_idle.setInterval(idleTime);
    connect(&m_idle, &QTimer::timeout, qApp, &QCoreApplication::quit);
    m_idle.start();
}

int BusRefusal::answer(const QString& reason) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    BusRefusal refusal(reason);
    // Every path: the call may be for any object of ours.
    if (!bus.isConnected() ||
        !bus.registerVirtualObject(u"/"_s, &refusal, QDBusConnection::SubPath) ||
        bus.interface()->registerService(QString::fromLatin1(BusService::serviceName)).value() !=
            QDBusConnectionInterface::ServiceRegistered)
        return 1;
    QCoreApplication::exec();
    return 1;
}

QString BusRefusal::introspect(const QString&) const {
    return {};
}

bool BusRefusal::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    if (message.type() != QDBusMessage::MethodCallMessage)
        return false;
    m_idle.start();
    if (!message.isReplyRequired())
        return true;
    connection.send(message.createErrorReply(QString::fromLatin1(errorName), m_reason));
    return true;
}
